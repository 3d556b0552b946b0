package quarn.learning;

import static quarn.learning.DataSetTest.assertFails;

import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import quarn.Network;

/** Null references and released objects of the learning classes; a JVM of their own. */
@Tag("isolated")
class LearningHostingFaultsTest {
    @Test
    void nullArgumentsAreRefused() {
        try (DataSet data = new DataSet()) {
            data.addIntVariable("A", -1);
            Object[][] cases = {
                {"Argument 'file' must not be null",
                    (Executable) () -> data.readFile(null, null, -1, 0f)},
                {"Argument 'id' must not be null", (Executable) () -> data.addIntVariable(null, 0)},
                {"Argument 'id' must not be null",
                    (Executable) () -> data.addFloatVariable(null, 0f)},
                {"Argument 'net' must not be null", (Executable) () -> data.matchNetwork(null)},
                {"Argument 'names' must not be null",
                    (Executable) () -> data.setStateNames(0, null)},
            };
            for (Object[] c : cases) {
                assertFails((String) c[0], (Executable) c[1]);
            }
        }
    }

    @Test
    void releasedObjectsRaise() {
        DataSet data = new DataSet();
        data.close();
        Network net = new Network();
        net.close();
        try (DataSet live = new DataSet()) {
            Executable[] calls = {
                data::getRecordCount, data::getVariableCount, () -> data.getVariableId(0),
                () -> data.readFile("x", null, -1, 0f), () -> data.getInt(0, 0),
                () -> data.setInt(0, 0, 0), () -> data.getFloat(0, 0),
                () -> data.setFloat(0, 0, 0f), () -> data.addIntVariable("a", 0),
                () -> data.addFloatVariable("a", 0f), () -> data.getNodeHandle(0),
                () -> data.setNodeHandle(0, 0), () -> data.getStateNames(0),
                () -> data.setStateNames(0, new String[0]), data::addEmptyRecord,
                () -> live.matchNetwork(net),
            };
            for (Executable call : calls) {
                assertFails("The native object does not exist (it was deleted or never created)",
                        call);
            }
        }
    }

    @Test
    void emRefusesNullAndReleasedArguments() {
        try (EM em = new EM(); DataSet data = new DataSet(); Network net = new Network()) {
            assertFails("Argument 'data' must not be null", () -> em.learn(null, net));
            assertFails("Argument 'net' must not be null", () -> em.learn(data, null));
            DataSet gone = new DataSet();
            gone.close();
            Network closed = new Network();
            closed.close();
            EM released = new EM();
            released.close();
            Executable[] calls = {
                () -> em.learn(gone, net), () -> em.learn(data, closed),
                () -> released.learn(data, net), () -> released.setEqSampleSize(1),
                released::getEqSampleSize, () -> released.setRandomizeParameters(true),
                released::getRandomizeParameters,
            };
            for (Executable call : calls) {
                assertFails("The native object does not exist (it was deleted or never created)",
                        call);
            }
        }
    }
}
