package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quarn.Models.assertFails;
import static quarn.Models.refused;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import quarn.Models.Call;

/**
 * Every refusal of a call on the chain model: its message (exact, where "..." stands for any
 * text), and a model that reads back exactly as before. Then every identifier overload answers
 * as its handle overload.
 */
class RefusalsTest {
    static final String BAD_ID = "' is invalid - it should start with a letter and contain only"
            + " letters, digits and underscores";

    static Stream<Arguments> refusals() {
        List<Arguments> all = new ArrayList<>();
        for (int bad : new int[] {-1, 3, 50, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
            all.add(refused("Invalid node handle: " + bad, net -> net.getNodeType(bad)));
            all.add(refused("Invalid node handle: " + bad, net -> net.getParents(bad)));
            all.add(refused("Invalid node handle: " + bad, net -> net.deleteNode(bad)));
        }
        List<String> ids =
                List.of("", "1abc", "_a", "a-b", "a b", "\u00e9t\u00e9", "a\ud83d\ude00");
        for (String id : ids) {
            all.add(refused("Identifier '" + id + BAD_ID, net -> net.setId(id)));
        }
        String index = "Invalid outcome index %d for node 'A', valid indices are 0..1";
        String outcome = "Invalid outcome identifier '%s' for node 'A'";
        String size = "Invalid definition array size for node 'B': expected 4 and got %d";
        String rename = "QUARN error -2 in function RenameOutcome. Logged information: ";
        all.addAll(List.of(
            refused("Invalid sample count: 0 - it should be at least 1",
                    net -> net.setSampleCount(0)),
            refused("QUARN error -2 in function ReadFile. Logged information: Unknown File"
                    + " Format\n", net -> net.readFile("m.foo")),
            refused("QUARN error -2 in function AddNode", net -> net.addNode(12345, "D")),
            refused("Identifier '9x" + BAD_ID, net -> net.addNode(Models.CPT, "9x")),
            refused("QUARN error -... in function setNodeType...", net -> net.setNodeType(0, 9)),
            refused("Identifier 'a b" + BAD_ID, net -> net.setNodeId(0, "a b")),
            refused("QUARN error -1000 in function SetId...", net -> net.setNodeId(0, "B")),
            // A bad handle is reported before a bad identifier.
            refused("Invalid node handle: 7", net -> net.setNodeId(7, "9")),
            refused("QUARN error -... in function AddArc...", net -> net.addArc(2, 0)),
            refused("QUARN error -... in function RemoveArc...", net -> net.deleteArc(2, 0)),
            // The child's identifier is resolved first.
            refused("Invalid node id: n2", net -> net.addArc("n1", "n2")),
            refused("Invalid node id: n1", net -> net.addArc("n1", "B")),
            refused("Invalid node id: n2", net -> net.deleteArc("n1", "n2")),
            refused(String.format(index, 2), net -> net.getOutcomeId(0, 2)),
            refused(String.format(index, -1), net -> net.deleteOutcome("A", -1)),
            refused(String.format(index, 2), net -> net.setEvidence(0, 2)),
            refused(String.format(outcome, "a2"), net -> net.deleteOutcome(0, "a2")),
            refused(String.format(outcome, "A0"), net -> net.setEvidence(0, "A0")),
            refused("Invalid node id: Z", net -> net.deleteOutcome("Z", "a9")),
            // Adding an outcome checks the identifier's syntax before the handle.
            refused("Identifier '1st" + BAD_ID, net -> net.addOutcome(42, "1st")),
            refused("Identifier '1st" + BAD_ID, net -> net.insertOutcome(42, 0, "1st")),
            refused("Invalid node id: Q", net -> net.addOutcome("Q", "1st")),
            refused("Invalid node handle: 42", net -> net.addOutcome(42, "ok")),
            // Renaming leaves the syntax to the definition.
            refused("QUARN error -... in function RenameOutcome...",
                    net -> net.setOutcomeId(0, 0, "1st")),
            // The refusal says why.
            refused(rename + "Identifier '\u00fc' is invalid - it should start with an ASCII"
                    + " letter and contain only ASCII letters, digits and underscores\n",
                    net -> net.setOutcomeId(0, 1, "\u00fc")),
            refused(rename + "Identifier 'a1' is already outcome 1 of node 'A'\n",
                    net -> net.setOutcomeId("A", 0, "a1")),
            // A table keeps at least two outcomes.
            refused("QUARN error -2 in function RemoveOutcome", net -> net.deleteOutcome(0, 1)),
            refused("Node 'A' has no evidence set", net -> net.getEvidence("A")),
            refused("Node 'A' has no evidence set", net -> net.getEvidenceId(0)),
            refused("QUARN error -2 in function ClearEvidence. Logged information: Node holds no"
                    + " evidence to clear\n", net -> net.clearEvidence(0)),
            refused("Cannot change target status for node 'B'", net -> net.setTarget(1, true)),
            refused("Cannot change target status for node 'A'", net -> net.setTarget("A", false)),
            refused("Value not valid - node 'A'", net -> net.getNodeValue("A")),
            refused(String.format(size, 5), net -> net.setNodeDefinition(1, new double[5])),
            refused(String.format(size, 3), net -> net.setNodeDefinition("B", new double[3]))));
        return all.stream();
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusals")
    void refusalHasItsMessageAndChangesNothing(String message, Call call) {
        try (Network net = Models.chain()) {
            String before = snapshot(net);
            String got = assertThrows(QUARNException.class, () -> call.on(net)).getMessage();
            String[] parts = message.replaceAll("\\.\\.\\.$", "").split("\\.\\.\\.", -1);
            if (parts.length == 1 && !message.endsWith("...")) {
                assertEquals(message, got);
            } else {
                assertTrue(got.startsWith(parts[0]) && got.contains(parts[parts.length - 1]), got);
            }
            assertEquals(before, snapshot(net));
        }
    }

    /** An outcome index on a node without outcomes: the message says there are none. */
    @Test
    void outcomeIndicesOfANodeWithoutOutcomesAreRefusedSayingSo() {
        try (Network net = Models.chain()) {
            int u = net.addNode(Models.TABLE, "U");
            String none = "Invalid outcome index %d for node 'U': the node has no outcomes";
            Object[][] cases = {
                {0, (Executable) () -> net.getOutcomeId(u, 0)},
                {0, (Executable) () -> net.setEvidence("U", 0)},
                {-1, (Executable) () -> net.deleteOutcome(u, -1)},
                {1, (Executable) () -> net.setOutcomeId(u, 1, "x")},
                {0, (Executable) () -> net.getOutcomeDescription("U", 0)},
            };
            for (Object[] c : cases) {
                assertFails(String.format(none, (Integer) c[0]), (Executable) c[1]);
            }
        }
    }

    /** Everything a refused call could have touched, as text. */
    static String snapshot(Network net) {
        StringBuilder text = new StringBuilder(net.getId() + net.getSampleCount());
        for (int n : net.getAllNodes()) {
            text.append('\n').append(net.getNodeId(n)).append(net.getNodeType(n))
                    .append(Arrays.toString(net.getOutcomeIds(n)))
                    .append(Arrays.toString(net.getParents(n)))
                    .append(Arrays.toString(net.getNodeDefinition(n)))
                    .append(net.isEvidence(n) ? net.getEvidence(n) : -1).append(net.isTarget(n));
        }
        return text.toString();
    }

    /** Every reading method that names a node by identifier, beside its handle overload. */
    static Stream<Arguments> overloads() throws NoSuchMethodException {
        List<Arguments> pairs = new ArrayList<>();
        for (Method byId : Network.class.getDeclaredMethods()) {
            Class<?>[] types = byId.getParameterTypes();
            if (Modifier.isPublic(byId.getModifiers()) && byId.getName().matches("(get|is).*")
                    && types.length > 0 && types[0] == String.class
                    // Only the node is named by identifier; an outcome identifier has its own
                    // overloads.
                    && Arrays.stream(types).skip(1).allMatch(t -> t == int.class)
                    && !byId.getName().equals("getNode")
                    // These name a submodel, not a node.
                    && !byId.getName().matches("getSubmodel(|Name|Description|OfSubmodel|Position)")
                    // It needs a noisy-MAX node; NoisyMaxTest compares its overloads.
                    && !byId.getName().equals("getNoisyParentStrengths")) {
                types[0] = int.class;
                Method byHandle = Network.class.getMethod(byId.getName(), types);
                pairs.add(Arguments.of(byId.getName(), byHandle, byId));
            }
        }
        pairs.sort(Comparator.comparing(a -> (String) a.get()[0]));
        return pairs.stream();
    }

    /** The answer of a call as text: its value, or the message it raised. */
    static String answer(Method method, Network net, Object node) {
        Object[] args = new Object[method.getParameterCount()];
        args[0] = node;
        Arrays.fill(args, 1, args.length, 1); // the second outcome, where one is asked for
        try {
            Object v = method.invoke(net, args);
            return v instanceof Object[] ? Arrays.deepToString((Object[]) v)
                    : v instanceof int[] ? Arrays.toString((int[]) v)
                    : v instanceof double[] ? Arrays.toString((double[]) v) : "" + v;
        } catch (InvocationTargetException e) {
            return "raised: " + e.getCause().getMessage();
        } catch (IllegalAccessException e) {
            throw new AssertionError(e);
        }
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("overloads")
    void identifierOverloadAnswersAsTheHandleOverload(String name, Method byHandle,
            Method byId) {
        try (Network net = Models.chain()) {
            String[] ids = {"A", "B", "C"};
            int answered = 0;
            for (int h = 0; h < ids.length; h++) {
                String expected = answer(byHandle, net, h);
                assertEquals(expected, answer(byId, net, ids[h]), ids[h]);
                answered += expected.startsWith("raised: ") ? 0 : 1;
            }
            assertTrue(answered > 0, name + " answered no node at all");
            assertEquals("raised: Invalid node id: Nope", answer(byId, net, "Nope"));
            assertEquals("raised: Invalid node handle: 3", answer(byHandle, net, 3));
        }
    }
}
