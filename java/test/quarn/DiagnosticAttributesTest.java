package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static quarn.Models.refused;

import java.util.List;
import java.util.function.Consumer;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import quarn.Models.Call;

/**
 * Diagnostic attributes: the four ways of naming an outcome reach the same one, the default
 * outcome switches off without losing its index, and labels stay unique across the network.
 */
class DiagnosticAttributesTest {
    /** Every attribute of every node and outcome, as text. */
    static String snapshot(Network net) {
        StringBuilder s = new StringBuilder();
        for (int n : net.getAllNodes()) {
            s.append(net.getNodeId(n)).append(net.getNodeDiagType(n))
                    .append(net.getDefaultOutcome(n)).append(net.getDefaultOutcomeId(n))
                    .append(net.isRanked(n)).append(net.isMandatory(n))
                    .append(net.getNodeQuestion(n)).append(':');
            for (int o = 0; o < net.getOutcomeCount(n); o++) {
                s.append(net.getOutcomeFix(n, o)).append('/')
                        .append(net.getOutcomeDescription(n, o))
                        .append('/').append(net.getOutcomeLabel(n, o)).append('/')
                        .append(net.isFaultOutcome(n, o)).append(';');
            }
            s.append('\n');
        }
        return s.toString();
    }

    static final String FRESH = "A2-1nullfalsefalse:///false;///false;\n"
            + "B2-1nullfalsefalse:///false;///false;\n";

    static Stream<Arguments> overloads() {
        List<Consumer<Network>> ways = List.of(
            n -> { n.setOutcomeFix(1, 1, "f"); n.setOutcomeLabel(1, 1, "L"); },
            n -> { n.setOutcomeFix("B", 1, "f"); n.setOutcomeLabel("B", 1, "L"); },
            n -> { n.setOutcomeFix(1, "b1", "f"); n.setOutcomeLabel(1, "b1", "L"); },
            n -> { n.setOutcomeFix("B", "b1", "f"); n.setOutcomeLabel("B", "b1", "L"); });
        return ways.stream().map(Arguments::of);
    }

    @ParameterizedTest
    @MethodSource("overloads")
    void everyOverloadReachesTheSameOutcome(Consumer<Network> way) {
        try (Network net = Models.twoNode()) {
            assertEquals(FRESH, snapshot(net));
            way.accept(net);
            net.setFaultOutcome("B", "b1", true);
            net.setOutcomeDescription(1, "b1", "d");
            assertEquals("B2-1nullfalsefalse:///false;f/d/L/true;\n",
                    snapshot(net).substring(FRESH.indexOf('\n') + 1));
        }
    }

    @Test
    void aNegativeDefaultSwitchesOffAndKeepsTheIndex() {
        try (Network net = Models.twoNode()) {
            net.setDefaultOutcome("A", 1);
            net.setDefaultOutcome(0, -5);
            assertEquals(-1, net.getDefaultOutcome(0));
            assertNull(net.getDefaultOutcomeId("A"));
            net.setRanked(0, true); // the other flags leave the default alone
            net.setDefaultOutcome(0, "a1");
            net.setMandatory("A", true);
            assertEquals("a1", net.getDefaultOutcomeId(0));
            assertEquals(1, net.getDefaultOutcome("A"));
        }
    }

    static Stream<Arguments> refusals() {
        String index = "Invalid outcome index %d for node 'B', valid indices are 0..1";
        return Stream.of(
            refused("QUARN error -2 in function SetOutcomeLabel",
                    n -> n.setOutcomeLabel(1, 0, "LA")),
            refused("QUARN error -2 in function SetOutcomeLabel",
                    n -> n.setOutcomeLabel("A", "a1", "LA")),
            refused("Invalid diagnosis type: 3 - it should be 0, 1 or 2",
                    n -> n.setNodeDiagType(0, 3)),
            refused(String.format(index, 2), n -> n.setDefaultOutcome(1, 2)),
            refused(String.format(index, 2), n -> n.setFaultOutcome("B", 2, true)),
            refused("Invalid outcome identifier 'x' for node 'B'", n -> n.getOutcomeFix(1, "x")),
            refused("Invalid node id: Q", n -> n.setOutcomeFix("Q", "x", "f")),
            refused("Argument 'question' must not be null", n -> n.setNodeQuestion(0, null)),
            refused("Argument 'fix' must not be null", n -> n.setOutcomeFix(0, 0, null)));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusals")
    void refusalHasItsMessageAndChangesNothing(String message, Call call) {
        try (Network net = Models.twoNode()) {
            net.setOutcomeLabel(0, 0, "LA");
            net.setDefaultOutcome(1, 0);
            Models.assertRefused(net, message, call, DiagnosticAttributesTest::snapshot);
        }
    }
}
