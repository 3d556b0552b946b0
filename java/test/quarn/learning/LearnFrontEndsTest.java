package quarn.learning;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static quarn.learning.DataSetTest.assertFails;

import org.junit.jupiter.api.Test;
import quarn.Network;

class LearnFrontEndsTest {
    static int arcCount(Network net) {
        int arcs = 0;
        for (int node : net.getAllNodes()) {
            arcs += net.getParents(node).length;
        }
        return arcs;
    }

    @Test
    void defaultsAndKnowledge() {
        try (GreedyThickThinning gtt = new GreedyThickThinning(); NaiveBayes nb = new NaiveBayes()) {
            assertEquals(5, gtt.getMaxParents());
            assertEquals(1.0, gtt.getNetWeight());
            assertEquals(0, gtt.getPriorsMethod());
            BkKnowledge empty = gtt.getBkKnowledge();
            assertEquals(0, empty.forcedArcs.length + empty.forbiddenArcs.length
                    + empty.tiers.length);
            assertEquals("class", nb.getClassVariableId());
            assertFalse(nb.getFeatureSelection());
            assertEquals(0, nb.getPriorsMethod());
            assertEquals(1.0, nb.getNetWeight());

            gtt.setBkKnowledge(new BkKnowledge(new BkArcInfo[] {new BkArcInfo(2, 0)}, null,
                    new BkTierInfo[] {new BkTierInfo(1, 3)}));
            assertFails("BkKnowledge array element name can't be null (index 0)",
                    () -> gtt.setBkKnowledge(new BkKnowledge(null, null, new BkTierInfo[] {null})));
            BkKnowledge bk = gtt.getBkKnowledge();
            assertEquals(0, bk.forcedArcs[0].child);
            assertEquals(3, bk.tiers[0].tier);
        }
    }

    @Test
    void greedyThickThinningLearnsAnUpdatableNetworkOfTheData() {
        try (DataSet data = PCTest.chain(3000); GreedyThickThinning gtt = new GreedyThickThinning()) {
            gtt.setBkKnowledge(new BkKnowledge(null,
                    new BkArcInfo[] {new BkArcInfo(0, 1), new BkArcInfo(1, 0)}, null));
            try (Network free = new GreedyThickThinning().learn(data); Network net = gtt.learn(data)) {
                assertEquals(2, arcCount(free));
                assertArrayEquals(new String[] {"X", "Y", "Z"}, net.getAllNodeIds());
                int x = net.getNode("X");
                int y = net.getNode("Y");
                for (int parent : net.getParents(y)) {
                    assertFalse(parent == x);
                }
                for (int parent : net.getParents(x)) {
                    assertFalse(parent == y);
                }
                assertArrayEquals(new String[] {"off", "on"}, net.getOutcomeIds("Z"));
                net.setEvidence("Z", "on");
                net.updateBeliefs();
                double[] beliefs = net.getNodeValue("Y");
                assertEquals(1.0, beliefs[0] + beliefs[1], 1e-9);
                data.matchNetwork(net);
            }
        }
    }

    @Test
    void naiveBayesAndItsMessages() {
        try (DataSet data = PCTest.chain(500); NaiveBayes nb = new NaiveBayes()) {
            nb.setClassVariableId("Y");
            try (Network net = nb.learn(data)) {
                assertEquals(2, arcCount(net));
                assertArrayEquals(new int[] {net.getNode("Y")}, net.getParents("Z"));
            }
            nb.setClassVariableId("W");
            assertFails("QUARN error -1 in function Learn. Logged information: "
                    + "nb: unknown class variable W\n", () -> nb.learn(data));
        }
        try (DataSet none = new DataSet(); DataSet continuous = new DataSet();
                GreedyThickThinning gtt = new GreedyThickThinning()) {
            assertFails("QUARN error -1 in function Learn. Logged information: "
                    + "gtt: the data set has no variables\n", () -> gtt.learn(none));
            continuous.addFloatVariable("T", -1.0f);
            continuous.addEmptyRecord();
            assertFails("QUARN error -1 in function Learn. Logged information: "
                    + "gtt: column T is continuous; only discrete columns can be learned\n",
                    () -> gtt.learn(continuous));
            gtt.setBkKnowledge(new BkKnowledge(new BkArcInfo[] {new BkArcInfo(0, 4)}, null, null));
            try (DataSet data = PCTest.chain(50)) {
                assertFails("QUARN error -1 in function Learn. Logged information: "
                        + "gtt: forced arc (0, 4) does not join two variables of the data set\n",
                        () -> gtt.learn(data));
            }
        }
    }
}
