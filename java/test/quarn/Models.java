package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.util.function.Function;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.provider.Arguments;

/** Small models with known answers and the shared assertions. */
final class Models {
    static final int EQUATION = 4;
    static final int TABLE = 8;
    static final int LIST = 17;
    static final int CPT = 18;

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

    /** A -> B -> C, evidence C=c1, B a target with a name and a description, beliefs updated. */
    static Network chain() {
        Network net = twoNode();
        int c = chance(net, "C", "c0", "c1");
        net.addArc(1, c);
        net.setNodeDefinition(c, new double[] {0.6, 0.4, 0.1, 0.9});
        net.setNodeDescription(1, "middle");
        net.setNodeName("B", "The B");
        net.setEvidence("C", "c1");
        net.setTarget("B", true);
        net.updateBeliefs();
        return net;
    }

    /** A call on a network, for the tables of refusals. */
    interface Call {
        void on(Network net);
    }

    static Arguments refused(String message, Call call) {
        return Arguments.of(message, call);
    }

    /** The call raises exactly this message and leaves the network's snapshot as it was. */
    static void assertRefused(Network net, String message, Call call,
            Function<Network, String> snapshot) {
        String before = snapshot.apply(net);
        assertFails(message, () -> call.on(net));
        assertEquals(before, snapshot.apply(net));
    }

    /** Asserts that the call raises QUARNException with exactly this message. */
    static void assertFails(String message, Executable call) {
        assertEquals(message, assertThrows(QUARNException.class, call).getMessage());
    }

    static void assertArrayNear(double[] expected, double[] actual, double tolerance) {
        assertEquals(expected.length, actual.length, "length");
        for (int i = 0; i < expected.length; i++) {
            assertEquals(expected[i], actual[i], tolerance, "element " + i);
        }
    }
}
