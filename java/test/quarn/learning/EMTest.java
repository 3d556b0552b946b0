package quarn.learning;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quarn.learning.DataSetTest.assertFails;

import org.junit.jupiter.api.Test;
import quarn.Network;

class EMTest {
    @Test
    void settersAreCoupled() {
        try (EM em = new EM()) {
            assertEquals(0, em.getEqSampleSize());
            assertTrue(em.getRandomizeParameters());
            em.setEqSampleSize(10);
            assertEquals(10, em.getEqSampleSize());
            assertFalse(em.getRandomizeParameters());
            em.setRandomizeParameters(false);
            assertEquals(10, em.getEqSampleSize());
            em.setRandomizeParameters(true);
            assertEquals(0, em.getEqSampleSize());
            em.setEqSampleSize(0);
            assertTrue(em.getRandomizeParameters());
        }
    }

    /** Records of A and B: (yes, b0) twice, (yes, b1), (no, b1). */
    static DataSet records() {
        DataSet data = new DataSet();
        data.addIntVariable("A", -1);
        data.addIntVariable("B", -1);
        int[][] rows = {{0, 0}, {0, 0}, {0, 1}, {1, 1}};
        for (int r = 0; r < rows.length; r++) {
            data.addEmptyRecord();
            data.setInt(0, r, rows[r][0]);
            data.setInt(1, r, rows[r][1]);
        }
        return data;
    }

    // Learning is refused until the data set is matched to the network again; then it learns
    // every table of the network from the records.
    @Test
    void learnsOnlyTheMatchedNetworkAndUnchangedNodes() {
        try (EM em = new EM(); DataSet data = records(); Network net = DataSetTest.network();
                Network other = DataSetTest.network()) {
            data.setStateNames(0, new String[] {"yes", "no"});
            data.setStateNames(1, new String[] {"b0", "b1"});
            data.matchNetwork(net);
            double[] before = other.getNodeDefinition("B");
            String again = "; match the data set to this network again";
            assertFails("Dataset was matched to another network" + again,
                    () -> em.learn(data, other));
            assertArrayEquals(before, other.getNodeDefinition("B"));
            net.insertOutcome("A", 0, "maybe");
            assertFails("Dataset column 'A' was matched to outcomes of node 'A' that have changed"
                    + again, () -> em.learn(data, net));
            net.deleteOutcome("A", 0);
            net.deleteNode("B");
            assertEquals(1, net.addNode(18, "C"), "the freed handle is reused");
            assertFails("Dataset column 'B' was matched to a node that is gone" + again,
                    () -> em.learn(data, net));
            net.setNodeId("C", "B");
            net.setOutcomeId("B", 0, "b0");
            net.setOutcomeId("B", 1, "b1");
            net.addArc("A", "B");
            em.learn(data, net);
            assertEquals(0.75, net.getNodeDefinition("A")[0], 1e-12);
            double[] b = net.getNodeDefinition("B");
            assertEquals(2.0 / 3, b[0], 1e-12);
            assertEquals(1.0, b[3], 1e-12);
        }
    }

    @Test
    void refusalsNameTheVariableOrTheReason() {
        try (EM em = new EM(); DataSet data = records(); Network net = DataSetTest.network()) {
            assertFails("No node handle was specified for variable A. Did you forget to call "
                    + "setNodeHandle?", () -> em.learn(data, net));
            data.setNodeHandle(0, 0);
            data.setNodeHandle(1, 7);
            assertFails("Variable B has invalid node handle 7", () -> em.learn(data, net));
            double[] before = net.getNodeDefinition("B");
            data.setNodeHandle(1, 1);
            data.setInt(1, 3, 2);
            assertFails("QUARN error -1 in function Learn. Logged information: em: column 'B' "
                    + "holds 2 in record 3, which is not an outcome of its node\n",
                    () -> em.learn(data, net));
            assertEquals(before[0], net.getNodeDefinition("B")[0]);
            data.addFloatVariable("F", 0f);
            data.setNodeHandle(2, 0);
            data.setInt(1, 3, 1);
            assertFails("QUARN error -4 in function Learn", () -> em.learn(data, net));
        }
    }
}
