package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static quarn.Models.assertArrayNear;
import static quarn.Models.assertFails;
import static quarn.Models.chance;

import org.junit.jupiter.api.Test;

/** Noisy-MAX nodes through the host: parameters as the definition, parent strength orders. */
class NoisyMaxTest {
    static final int NOISY_MAX = 146;

    /** A (three outcomes) and B (two) -> Y, a noisy-MAX node with outcomes hi, lo. */
    static Network gate() {
        Network net = new Network();
        chance(net, "A", "a0", "a1", "a2");
        chance(net, "B", "b0", "b1");
        net.addNode(NOISY_MAX, "Y");
        net.addArc("A", "Y");
        net.addArc("B", "Y");
        return net;
    }

    @Test
    void parametersAndStrengthsDefineTheTable() {
        try (Network net = gate()) {
            double[] params = {0.9, 0.1, 0.5, 0.5, 0, 1, 0.8, 0.2, 0, 1, 0.1, 0.9};
            net.setNodeDefinition("A", new double[] {1 / 3.0, 1 / 3.0, 1 / 3.0});
            net.setNodeDefinition("Y", params);
            assertArrayEquals(params, net.getNodeDefinition("Y"));
            assertArrayEquals(new int[] {0, 1, 2}, net.getNoisyParentStrengths("Y", "A"));
            net.setEvidence("Y", 1);
            net.updateBeliefs();
            double[] before = net.getNodeValue("A");
            // Outcome a2 takes the first column, a0 the second, a1 none: the posterior follows.
            net.setNoisyParentStrengths("Y", 0, new int[] {2, 0, 1});
            assertArrayEquals(new int[] {2, 0, 1}, net.getNoisyParentStrengths(2, 0));
            assertArrayEquals(new int[] {2, 0, 1}, net.getNoisyParentStrengths(2, "A"));
            assertArrayEquals(new int[] {2, 0, 1}, net.getNoisyParentStrengths("Y", "A"));
            net.setNoisyParentStrengths(2, "B", new int[] {1, 0});
            net.setNoisyParentStrengths("Y", 1, new int[] {0, 1});
            net.setNoisyParentStrengths(2, 1, new int[] {0, 1});
            assertFalse(net.isValueValid("A"));
            net.updateBeliefs();
            double[] after = net.getNodeValue("A");
            assertArrayNear(new double[] {before[1], before[2], before[0]}, after, 1e-12);
        }
    }

    @Test
    void badArgumentsNeverReachTheDefinition() {
        try (Network net = gate()) {
            int[] natural = {0, 1, 2};
            assertFails("Node 'A' is not of NoisyMax type", () -> net.getNoisyParentStrengths("A", 0));
            assertFails("Invalid parent position for node 'Y': 2",
                    () -> net.getNoisyParentStrengths("Y", 2));
            assertFails("Invalid parent position for node 'Y': -1",
                    () -> net.setNoisyParentStrengths(2, -1, natural));
            assertFails("Node 'Y' is not a child of node 'Y'",
                    () -> net.getNoisyParentStrengths("Y", "Y"));
            assertFails("Invalid parent strength array size for node 'Y': expected 3 and got 2",
                    () -> net.setNoisyParentStrengths("Y", "A", new int[] {0, 1}));
            assertFails("Invalid parent strengths for node 'Y': not a permutation of the parent's"
                            + " outcomes",
                    () -> net.setNoisyParentStrengths("Y", "A", new int[] {0, 7, 1}));
            assertArrayEquals(natural, net.getNoisyParentStrengths("Y", "A"));
            assertFails("Invalid definition array size for node 'Y': expected 12 and got 2(the type"
                            + " of this node is NoisyMax -- you need to pass noisy weights as"
                            + " parameter, including constrained columns)",
                    () -> net.setNodeDefinition("Y", new double[] {0.5, 0.5}));
        }
    }
}
