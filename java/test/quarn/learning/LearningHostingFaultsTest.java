package quarn.learning;

import static quarn.learning.DataSetTest.assertFails;

import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import quarn.Network;

/** Null references and released objects of the learning classes; a JVM of their own. */
@Tag("isolated")
class LearningHostingFaultsTest {
    static void assertAllReleased(Executable... calls) {
        for (Executable call : calls) {
            assertFails("The native object does not exist (it was deleted or never created)",
                    call);
        }
    }

    @Test
    void nullArgumentsAreRefusedWithTheArgumentName() {
        try (DataSet data = new DataSet(); Network net = new Network(); EM em = new EM();
                PC pc = new PC(); Pattern pattern = new Pattern();
                GreedyThickThinning gtt = new GreedyThickThinning();
                NaiveBayes nb = new NaiveBayes()) {
            data.addIntVariable("A", -1);
            Object[][] cases = {
                {"file", (Executable) () -> data.readFile(null, null, -1, 0f)},
                {"id", (Executable) () -> data.addIntVariable(null, 0)},
                {"id", (Executable) () -> data.addFloatVariable(null, 0f)},
                {"net", (Executable) () -> data.matchNetwork(null)},
                {"names", (Executable) () -> data.setStateNames(0, null)},
                {"data", (Executable) () -> em.learn(null, net)},
                {"net", (Executable) () -> em.learn(data, null)},
                {"data", (Executable) () -> pc.learn(null)},
                {"data", (Executable) () -> pattern.makeNetwork(null)},
                {"bk", (Executable) () -> pc.setBkKnowledge(null)},
                {"data", (Executable) () -> gtt.learn(null)},
                {"data", (Executable) () -> nb.learn(null)},
                {"bk", (Executable) () -> gtt.setBkKnowledge(null)},
                {"id", (Executable) () -> nb.setClassVariableId(null)},
            };
            for (Object[] c : cases) {
                assertFails("Argument '" + c[0] + "' must not be null", (Executable) c[1]);
            }
        }
    }

    @Test
    void releasedObjectsRaise() throws Exception {
        DataSet data = new DataSet();
        Network net = new Network();
        EM em = new EM();
        PC pc = new PC();
        Pattern pattern = new Pattern();
        GreedyThickThinning gtt = new GreedyThickThinning();
        NaiveBayes nb = new NaiveBayes();
        for (AutoCloseable released : new AutoCloseable[] {data, net, em, pc, pattern, gtt, nb}) {
            released.close();
        }
        try (DataSet live = new DataSet(); Network open = new Network(); EM liveEm = new EM();
                PC livePc = new PC(); Pattern livePattern = new Pattern();
                GreedyThickThinning liveGtt = new GreedyThickThinning();
                NaiveBayes liveNb = new NaiveBayes()) {
            assertAllReleased(data::getRecordCount, data::getVariableCount,
                () -> data.getVariableId(0), () -> data.readFile("x", null, -1, 0f),
                () -> data.getInt(0, 0), () -> data.setInt(0, 0, 0), () -> data.getFloat(0, 0),
                () -> data.setFloat(0, 0, 0f), () -> data.addIntVariable("a", 0),
                () -> data.addFloatVariable("a", 0f), () -> data.getNodeHandle(0),
                () -> data.setNodeHandle(0, 0), () -> data.getStateNames(0),
                () -> data.setStateNames(0, new String[0]), data::addEmptyRecord,
                () -> live.matchNetwork(net),
                // Each learner given a released argument, and released itself.
                () -> liveEm.learn(data, open), () -> liveEm.learn(live, net),
                () -> em.learn(live, open), () -> em.setEqSampleSize(1), em::getEqSampleSize,
                () -> em.setRandomizeParameters(true), em::getRandomizeParameters,
                () -> livePc.learn(data), () -> livePattern.makeNetwork(data),
                () -> pc.learn(new DataSet()), () -> pc.setMaxAdjacency(1), pc::getMaxAdjacency,
                () -> pc.setSignificance(0.1), pc::getSignificance, pc::getBkKnowledge,
                () -> pc.setBkKnowledge(new BkKnowledge(null, null, null)),
                pattern::getSize, () -> pattern.setSize(1), () -> pattern.getEdge(0, 0),
                () -> pattern.setEdge(0, 0, 0), pattern::hasCycle, pattern::isDAG,
                () -> pattern.makeNetwork(new DataSet()),
                () -> liveGtt.learn(data), () -> liveNb.learn(data),
                () -> gtt.learn(new DataSet()), () -> gtt.setMaxParents(1), gtt::getMaxParents,
                () -> gtt.setNetWeight(2.0), gtt::getNetWeight, () -> gtt.setPriorsMethod(1),
                gtt::getPriorsMethod, gtt::getBkKnowledge,
                () -> gtt.setBkKnowledge(new BkKnowledge(null, null, null)),
                () -> nb.learn(new DataSet()), () -> nb.setNetWeight(2.0), nb::getNetWeight,
                () -> nb.setPriorsMethod(1), nb::getPriorsMethod,
                () -> nb.setFeatureSelection(true), nb::getFeatureSelection,
                () -> nb.setClassVariableId("c"), nb::getClassVariableId);
        }
    }
}
