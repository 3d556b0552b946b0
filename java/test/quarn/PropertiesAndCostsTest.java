package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static quarn.Models.refused;

import java.nio.file.Path;
import java.util.Arrays;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;
import quarn.Models.Call;

/**
 * User properties, documentation and observation costs: refusals leave every list as it was,
 * cost arcs reshape the cost array, and everything survives the library's own file formats.
 */
class PropertiesAndCostsTest {
    static UserProperty p(String name, String value) {
        return new UserProperty(name, value);
    }

    static DocItemInfo d(String title, String path) {
        return new DocItemInfo(title, path);
    }

    /** The two-node model with properties, documents and a cost arc A -> B (costs 1.5, 2.5). */
    static Network decorated() {
        Network net = Models.twoNode();
        net.setUserProperties(new UserProperty[] {p("zeta", "last"), p("alpha", "first")});
        net.setNodeUserProperties("A", new UserProperty[] {p("k1", "v1"), p("k2", "")});
        net.setNodeDocumentation(0, new DocItemInfo[] {d("Manual", "m.pdf"), d("Web", "http://x")});
        net.setOutcomeDocumentation("B", "b1", new DocItemInfo[] {d("Fix", "fix.txt")});
        net.addCostArc("A", "B");
        net.setNodeCost(1, new double[] {1.5, 2.5});
        return net;
    }

    static String text(UserProperty[] list) {
        StringBuilder s = new StringBuilder();
        for (UserProperty e : list) {
            s.append(e.name).append('=').append(e.value).append(';');
        }
        return s.toString();
    }

    static String text(DocItemInfo[] list) {
        StringBuilder s = new StringBuilder();
        for (DocItemInfo e : list) {
            s.append(e.title).append('@').append(e.path).append(';');
        }
        return s.toString();
    }

    /** Everything this class's methods reach, as text. */
    static String snapshot(Network net) {
        StringBuilder s = new StringBuilder(text(net.getUserProperties()));
        for (int n : net.getAllNodes()) {
            s.append('\n').append(net.getNodeId(n)).append(text(net.getNodeUserProperties(n)))
                    .append(text(net.getNodeDocumentation(n)))
                    .append(Arrays.toString(net.getCostParentIds(n)))
                    .append(Arrays.toString(net.getCostChildren(n)))
                    .append(Arrays.toString(net.getNodeCost(n)));
            for (int o = 0; o < net.getOutcomeCount(n); o++) {
                s.append(text(net.getOutcomeDocumentation(n, o)));
            }
        }
        return s.toString();
    }

    static Stream<Arguments> refusals() {
        String notFinite = "QUARN error -2 in function SetCosts. Logged information: Cost ";
        String isNot = " is not a finite number\n";
        UserProperty[] dup = {p("a", "1"), p("b", "2"), p("a", "3")};
        DocItemInfo[] thirdNull = {d("t0", "p0"), d("t1", "p1"), null};
        return Stream.of(
            refused("Duplicate property name: a", n -> n.setNodeUserProperties(0, dup)),
            refused("Can't add property (1x,v), error code: -2",
                    n -> n.setUserProperties(new UserProperty[] {p("ok", ""), p("1x", "v")})),
            refused("Properties array element name can't be null (index 1)",
                    n -> n.setNodeUserProperties("A", new UserProperty[] {p("a", ""), null})),
            refused("Properties array element value can't be null (index 0)",
                    n -> n.setUserProperties(new UserProperty[] {p("a", null)})),
            refused("Argument 'properties' must not be null", n -> n.setUserProperties(null)),
            refused("Documentation array element name can't be null (index 2)",
                    n -> n.setNodeDocumentation(0, thirdNull)),
            refused("Documentation array element path can't be null (index 0)",
                    n -> n.setOutcomeDocumentation("B", 1, new DocItemInfo[] {d("t", null)})),
            refused("Argument 'items' must not be null", n -> n.setNodeDocumentation("A", null)),
            refused("Invalid outcome index 2 for node 'B', valid indices are 0..1",
                    n -> n.setOutcomeDocumentation(1, 2, new DocItemInfo[0])),
            refused("Invalid outcome identifier 'b9' for node 'B'",
                    n -> n.getOutcomeDocumentation(1, "b9")),
            refused("Invalid cost array size for node 'B': expected 2 and got 1",
                    n -> n.setNodeCost("B", new double[] {7})),
            refused("Argument 'costs' must not be null", n -> n.setNodeCost(0, null)),
            // Tests are ranked by their costs; nothing is changed by a refused array.
            refused(notFinite + "1 of node 'B'" + isNot,
                    n -> n.setNodeCost("B", new double[] {3, Double.NaN})),
            refused(notFinite + "0 of node 'B'" + isNot,
                    n -> n.setNodeCost(1, new double[] {Double.POSITIVE_INFINITY, 3})),
            refused(notFinite + "0 of node 'A'" + isNot,
                    n -> n.setNodeCost(0, new double[] {Double.NEGATIVE_INFINITY})),
            // A repeated cost arc would count the parent twice; a missing one is not removed.
            refused("QUARN error -2 in function AddArc", n -> n.addCostArc("A", "B")),
            refused("QUARN error -2 in function RemoveArc", n -> n.deleteCostArc(1, 0)),
            // The child's identifier is resolved first.
            refused("Invalid node id: n2", n -> n.addCostArc("n1", "n2")),
            refused("Invalid node id: n1", n -> n.deleteCostArc("n1", "B")));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusals")
    void refusalHasItsMessageAndChangesNothing(String message, Call call) {
        try (Network net = decorated()) {
            Models.assertRefused(net, message, call, PropertiesAndCostsTest::snapshot);
        }
    }

    @Test
    void costArcsReshapeTheCosts() {
        try (Network net = decorated()) {
            int c = Models.chance(net, "C", "c0", "c1", "c2");
            net.addCostArc(c, 0);
            net.setNodeCost("A", new double[] {-1, 0.25, 1e300});
            assertArrayEquals(new double[] {-1, 0.25, 1e300}, net.getNodeCost(0));
            assertArrayEquals(new int[] {0}, net.getCostParents("B"));
            assertArrayEquals(new String[] {"A"}, net.getCostChildIds(c));
            net.deleteCostArc("C", "A");
            assertEquals(0, net.getCostChildren(c).length);
        }
    }

    @Test
    void anEmptyArrayClearsAndOrderIsKept() {
        try (Network net = decorated()) {
            assertEquals("zeta=last;alpha=first;", text(net.getUserProperties()));
            net.setNodeUserProperties(0, new UserProperty[0]);
            net.setOutcomeDocumentation("B", 1, new DocItemInfo[0]);
            assertEquals("", text(net.getNodeUserProperties(0)));
            assertEquals("", text(net.getOutcomeDocumentation(1, "b1")));
        }
    }

    @ParameterizedTest
    @ValueSource(strings = {"m.xqnl", "m.qnl"})
    void everythingSurvivesTheOwnFormats(String file, @TempDir Path dir) {
        String path = dir.resolve(file).toString();
        try (Network net = decorated(); Network back = new Network()) {
            net.setNodeDocumentation("B", new DocItemInfo[] {d("\u00e9t\u00e9 \"q\" <x>", "a&b")});
            net.writeFile(path);
            back.readFile(path);
            assertEquals(snapshot(net), snapshot(back));
        }
    }
}
