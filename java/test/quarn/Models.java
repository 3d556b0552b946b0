package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.function.Executable;

/** Small models with known answers, and the assertions the binding tests share. */
final class Models {
    static final int EQUATION = 4;
    static final int TABLE = 8;
    static final int LIST = 17;
    static final int CPT = 18;
    static final int TRUTHTABLE = 20;

    private Models() {}

    /** A discrete chance node with exactly these outcomes. */
    static int chance(Network net, String id, String... outcomes) {
        int node = net.addNode(CPT, id);
        setOutcomes(net, node, outcomes);
        return node;
    }

    /** Replaces the outcomes of a node by the given identifiers, in order. */
    static void setOutcomes(Network net, int node, String... outcomes) {
        while (net.getOutcomeCount(node) < outcomes.length) {
            net.addOutcome(node, "Spare" + net.getOutcomeCount(node));
        }
        while (net.getOutcomeCount(node) > outcomes.length) {
            net.deleteOutcome(node, net.getOutcomeCount(node) - 1);
        }
        for (int i = 0; i < outcomes.length; i++) {
            net.setOutcomeId(node, i, outcomes[i]);
        }
    }

    /** A -> B with P(a0) = 0.3, P(b0 | a0) = 0.9 and P(b0 | a1) = 0.2. */
    static Network twoNode() {
        Network net = new Network();
        int a = chance(net, "A", "a0", "a1");
        int b = chance(net, "B", "b0", "b1");
        net.addArc(a, b);
        net.setNodeDefinition(a, new double[] {0.3, 0.7});
        net.setNodeDefinition(b, new double[] {0.9, 0.1, 0.2, 0.8});
        return net;
    }

    /** Asserts that the call raises QUARNException with exactly this message. */
    static void assertFails(String message, Executable call) {
        QUARNException e = assertThrows(QUARNException.class, call);
        assertEquals(message, e.getMessage());
    }

    static void assertArrayNear(double[] expected, double[] actual, double tolerance) {
        assertEquals(expected.length, actual.length, "length");
        for (int i = 0; i < expected.length; i++) {
            assertEquals(expected[i], actual[i], tolerance, "element " + i);
        }
    }
}
