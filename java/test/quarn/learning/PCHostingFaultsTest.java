package quarn.learning;

import static quarn.learning.DataSetTest.assertFails;

import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Null references and released objects of PC and Pattern; a JVM of their own. */
@Tag("isolated")
class PCHostingFaultsTest {
    @Test
    void nullAndReleasedArgumentsAreRefused() {
        try (PC pc = new PC(); Pattern pattern = new Pattern()) {
            assertFails("Argument 'data' must not be null", () -> pc.learn(null));
            assertFails("Argument 'data' must not be null", () -> pattern.makeNetwork(null));
            assertFails("Argument 'bk' must not be null", () -> pc.setBkKnowledge(null));
            DataSet gone = new DataSet();
            gone.close();
            PC released = new PC();
            released.close();
            Pattern closed = new Pattern();
            closed.close();
            Executable[] calls = {
                () -> pc.learn(gone), () -> pattern.makeNetwork(gone),
                () -> released.learn(new DataSet()), () -> released.setMaxAdjacency(1),
                released::getMaxAdjacency, () -> released.setSignificance(0.1),
                released::getSignificance, released::getBkKnowledge,
                () -> released.setBkKnowledge(new BkKnowledge(null, null, null)),
                closed::getSize, () -> closed.setSize(1), () -> closed.getEdge(0, 0),
                () -> closed.setEdge(0, 0, 0), closed::hasCycle, closed::isDAG,
                () -> closed.makeNetwork(new DataSet()),
            };
            for (Executable call : calls) {
                assertFails("The native object does not exist (it was deleted or never created)",
                        call);
            }
        }
    }
}
