package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quarn.Models.assertArrayNear;
import static quarn.Models.assertFails;
import static quarn.Models.chance;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.function.BiConsumer;
import java.util.stream.IntStream;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * What the binding does when asked properly, noisy-MAX nodes and dynamic networks included;
 * its refusals are in RefusalsTest.
 */
class NetworkTest {
    static final double[] A_GIVEN_B0 = {0.27 / 0.41, 0.14 / 0.41};
    // The library's algorithm ids: the last two Bayesian ones, and the second solver.
    static final int BN_RELEVANCE_DECOMPOSITION = 11;
    static final int BN_RELEVANCE_DECOMPOSITION_UNBATCHED = 12;
    static final int ID_SHACHTER = 1;

    @TempDir Path dir;

    @Test
    void settingsIgnoreOutOfRangeAlgorithmsAndTextsKeepEveryCharacter() {
        try (Network net = new Network()) {
            assertEquals(-1, net.getFirstNode());
            net.setBayesianAlgorithm(BN_RELEVANCE_DECOMPOSITION);
            net.setBayesianAlgorithm(BN_RELEVANCE_DECOMPOSITION_UNBATCHED + 1);
            net.setBayesianAlgorithm(-1);
            assertEquals(BN_RELEVANCE_DECOMPOSITION, net.getBayesianAlgorithm());
            net.setInfluenceDiagramAlgorithm(ID_SHACHTER);
            net.setInfluenceDiagramAlgorithm(ID_SHACHTER + 1);
            assertEquals(ID_SHACHTER, net.getInfluenceDiagramAlgorithm());
            String name = "Caf\u00e9 \u6f22\u5b57 \ud83d\ude00 end\nline \ud834\udd1e";
            net.setDescription(name);
            assertEquals(name, net.getDescription());
            int a = net.addNode(Models.CPT, "A");
            net.setNodeName(a, name);
            assertEquals(name, net.getNodeName("A"));
            net.setNodeId("A", "Beta");
            assertEquals(a, net.getNode("Beta"));
            assertFails("Invalid node id: \ud83d\ude00", () -> net.getNode("\ud83d\ude00"));
        }
    }

    @Test
    void deletedNodeLeavesAFreeSlotAndGeneratedIdentifiersSkipTakenOnes() {
        try (Network net = new Network()) {
            int a = net.addNode(Models.CPT, "A");
            int b = net.addNode(Models.CPT, "B");
            int c = net.addNode(Models.CPT, "C");
            net.addArc(a, b);
            net.deleteNode(b);
            assertArrayEquals(new int[] {a, c}, net.getAllNodes());
            assertEquals(c, net.getNextNode(a));
            for (int last : new int[] {c, -5, Integer.MAX_VALUE}) {
                assertEquals(-1, net.getNextNode(last));
            }
            assertFails("Invalid node handle: " + b, () -> net.getNodeName(b));
            assertEquals("Node2", net.getNodeName(net.addNode(Models.CPT)));
            net.setNodeType(net.addNode(Models.CPT, null), Models.LIST);
            assertEquals(Models.LIST, net.getNodeType("Node3"));
        }
    }

    @Test
    void arcsAndOutcomesAreEditedInBothNamings() {
        try (Network net = new Network()) {
            int a = chance(net, "A", "low", "high");
            int b = net.addNode(Models.CPT, "B");
            int c = net.addNode(Models.CPT, "C");
            net.addArc(a, c);
            net.addArc("B", "C");
            assertArrayEquals(new int[] {a, b}, net.getParents(c));
            assertArrayEquals(new String[] {"C"}, net.getChildIds("A"));
            net.deleteArc("A", "C");
            net.deleteArc(b, c);
            assertEquals(0, net.getParents(c).length);

            net.addOutcome(a, "top");
            net.insertOutcome("A", 1, "mid");
            assertArrayEquals(new String[] {"low", "mid", "high", "top"}, net.getOutcomeIds(a));
            net.deleteOutcome("A", "top");
            net.setOutcomeId("A", 2, "peak");
            net.deleteOutcome(a, "mid");
            net.insertOutcome(a, 0, "floor");
            net.deleteOutcome("A", 0);
            assertArrayEquals(new String[] {"low", "peak"}, net.getOutcomeIds("A"));
        }
    }

    @Test
    void aTakenOutcomeIdentifierIsReplacedByANumberedDefaultAndTheCallSucceeds() {
        try (Network net = new Network()) {
            int a = chance(net, "A", "low", "high");
            net.addOutcome(a, "low");
            net.insertOutcome("A", 0, "high");
            net.addOutcome("A", "State2");
            assertArrayEquals(new String[] {"State3", "low", "high", "State2", "State4"},
                              net.getOutcomeIds(a));
            // The number counts up past a default name an outcome already has.
            net.insertOutcome(a, 1, "State6");
            net.insertOutcome(a, 0, "low");
            net.addOutcome("A", "State8");
            net.addOutcome(a, "high");
            assertArrayEquals(new String[] {"State7", "State3", "State6", "low", "high", "State2",
                                            "State4", "State8", "State9"},
                              net.getOutcomeIds("A"));

            int d = net.addNode(Models.LIST, "D");
            Models.setOutcomes(net, d, "go", "stay");
            net.addOutcome(d, "go");
            net.insertOutcome("D", 0, "Choice2");
            assertArrayEquals(new String[] {"Choice3", "go", "stay", "Choice2"},
                              net.getOutcomeIds(d));
        }
    }

    @Test
    void manyNodesAndOutcomesConvertWithoutExhaustingLocalReferences() {
        try (Network net = new Network()) {
            String[] ids = IntStream.range(0, 300).mapToObj(i -> "N" + i).toArray(String[]::new);
            for (String id : ids) {
                net.addNode(Models.CPT, id);
            }
            for (int i = 1; i < 100; i++) {
                net.addArc(0, i);
            }
            assertArrayEquals(ids, net.getAllNodeIds());
            assertEquals(99, net.getChildIds(0).length);
            String[] outcomes = IntStream.range(0, 200).mapToObj(i -> "s" + i)
                                        .toArray(String[]::new);
            Models.setOutcomes(net, 150, outcomes);
            assertArrayEquals(outcomes, net.getOutcomeIds(150));
        }
    }

    @Test
    void evidenceIsReadBackReplacedClearedAndPropagated() {
        try (Network net = Models.twoNode()) {
            List<BiConsumer<Network, Integer>> setters = List.of(
                    (n, o) -> n.setEvidence(1, o), (n, o) -> n.setEvidence("B", o),
                    (n, o) -> n.setEvidence(1, "b" + o), (n, o) -> n.setEvidence("B", "b" + o));
            for (BiConsumer<Network, Integer> set : setters) {
                set.accept(net, 1);
                assertEquals("b1", net.getEvidenceId("B"));
                set.accept(net, 0);
                assertEquals(0, net.getEvidence(1));
                assertTrue(net.isRealEvidence("B") && !net.isPropagatedEvidence("B"));
                net.clearEvidence(1);
                assertFalse(net.isEvidence("B"));
            }
            net.setEvidence(0, 1);
            net.clearAllEvidence();
            assertFalse(net.isEvidence(0));

            net.setNodeDefinition("B", new double[] {1, 0, 0, 1});
            net.setEvidence("A", "a1");
            assertTrue(net.isPropagatedEvidence("B") && !net.isRealEvidence("B"));
            assertEquals("b1", net.getEvidenceId("B"));
        }
    }

    @Test
    void targetsAreComputedAndTheProbabilityOfEvidenceFollowsTheEvidence() {
        try (Network net = Models.twoNode()) {
            assertEquals(1.0, net.probEvidence(), 1e-12);
            net.setTarget("A", true);
            assertTrue(net.isTarget(0));
            net.setEvidence("B", "b0");
            assertEquals(0.41, net.probEvidence(), 1e-12);
            net.updateBeliefs();
            assertArrayNear(A_GIVEN_B0, net.getNodeValue("A"), 1e-12);
            net.setTarget(1, true);
            net.clearAllTargets();
            assertFalse(net.isTarget(0) || net.isTarget("B"));
            assertArrayEquals(new int[] {}, net.getValueIndexingParents("B"));
        }
    }

    @Test
    void definitionsAreReplacedAndInvalidateTheValues() {
        try (Network net = Models.twoNode()) {
            net.updateBeliefs();
            net.setNodeDefinition("A", new double[] {0.5, 0.5});
            assertFalse(net.isValueValid("B"), "the child's marginal changed too");
            net.updateBeliefs();
            assertArrayNear(new double[] {0.55, 0.45}, net.getNodeValue("B"), 1e-12);
            net.setNodeDefinition(1, new double[] {0.5, 0.5, 0.1, 0.9});
            assertArrayEquals(new double[] {0.5, 0.5, 0.1, 0.9}, net.getNodeDefinition("B"));
        }
    }

    // Files are read and written through the binding in the example's tests; here, the names
    // they hold reach the host as meant, whether the file is Latin-1 or UTF-8.
    @Test
    void namesReadFromFilesKeepTheirCharacters() throws Exception {
        String node = "net { }\nnode A { label = \"%s\"; states = (\"a0\" \"a1\"); }\n"
                + "potential (A) { data = (0.5 0.5); }\n";
        Path latin1 = Files.write(dir.resolve("latin1.net"),
                String.format(node, "Caf\u00e9 cr\u00e8me").getBytes(StandardCharsets.ISO_8859_1));
        Path utf8 = Files.write(dir.resolve("utf8.net"),
                String.format(node, "Caf\u00e9 \ud83d\ude00").getBytes(StandardCharsets.UTF_8));
        try (Network net = new Network()) {
            net.readFile(latin1.toString());
            assertEquals("Caf\u00e9 cr\u00e8me", net.getNodeName("A"));
            net.readFile(utf8.toString());
            assertEquals("Caf\u00e9 \ud83d\ude00", net.getNodeName("A"));
        }
    }

    @Test
    void secondErrorReportCarriesOnlyEntriesLoggedAfterTheFirst() {
        try (Network net = new Network()) {
            String missing = assertThrows(QUARNException.class,
                    () -> net.readFile(dir.resolve("absent.net").toString())).getMessage();
            assertTrue(missing.matches("(?s)QUARN error -\\d+ in function ReadFile.*"), missing);
            net.addNode(Models.CPT, "A");
            assertThrows(QUARNException.class, () -> net.readFile("model.unknown"));
            // The duplicate identifier logs nothing: the report has no logged information.
            assertFails("QUARN error -2 in function AddNode", () -> net.addNode(Models.CPT, "A"));
        }
    }

    // A dynamic network: plate nodes give one row of beliefs per time slice.
    static final int SLICES = 5;
    static final String RAIN = "<?xml version=\"1.0\"?>\n<quarn version=\"1.0\" id=\"U\">\n"
            + "<nodes><cpt id=\"Rain\" dynamic=\"plate\"><state id=\"yes\"/><state id=\"no\"/>"
            + "<probabilities>0.5 0.5</probabilities></cpt>\n"
            + "<cpt id=\"Umbrella\" dynamic=\"plate\"><state id=\"yes\"/><state id=\"no\"/>"
            + "<parents>Rain</parents><probabilities>0.9 0.1 0.2 0.8</probabilities></cpt>\n"
            + "</nodes>\n<dynamic numslices=\"" + SLICES + "\"><cpt id=\"Rain\" order=\"1\">"
            + "<parents>Rain</parents><probabilities>0.7 0.3 0.3 0.7</probabilities></cpt>"
            + "</dynamic></quarn>\n";

    @Test
    void plateNodeValuesHoldOneRowPerSlice() throws Exception {
        Path file = Files.write(dir.resolve("rain.xqnl"), RAIN.getBytes(StandardCharsets.UTF_8));
        try (Network net = new Network()) {
            net.readFile(file.toString());
            net.setEvidence("Umbrella", "yes");
            net.updateBeliefs();
            // Slice 0 conditions on the umbrella; later slices only predict forwards.
            double[] rain = new double[2 * SLICES];
            double p = 0.5 * 0.9 / (0.5 * 0.9 + 0.5 * 0.2);
            for (int t = 0; t < SLICES; t++, p = 0.7 * p + 0.3 * (1 - p)) {
                rain[2 * t] = p;
                rain[2 * t + 1] = 1 - p;
            }
            assertArrayNear(rain, net.getNodeValue("Rain"), 1e-12);
            assertEquals(2 * SLICES, net.getNodeValue("Umbrella").length);
        }
    }

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

    // Every naming of the node and the parent reaches the same strength order.
    @Test
    void strengthsCrossInEveryNaming() {
        try (Network net = gate()) {
            assertArrayEquals(new int[] {0, 1, 2}, net.getNoisyParentStrengths("Y", "A"));
            net.setNoisyParentStrengths("Y", 0, new int[] {2, 0, 1});
            assertArrayEquals(new int[] {2, 0, 1}, net.getNoisyParentStrengths(2, 0));
            assertArrayEquals(new int[] {2, 0, 1}, net.getNoisyParentStrengths(2, "A"));
            net.setNoisyParentStrengths(2, "B", new int[] {1, 0});
            assertArrayEquals(new int[] {1, 0}, net.getNoisyParentStrengths("Y", 1));
            net.setNoisyParentStrengths(2, 1, new int[] {0, 1});
            net.setNoisyParentStrengths("Y", "B", new int[] {1, 0});
            assertArrayEquals(new int[] {1, 0}, net.getNoisyParentStrengths("Y", "B"));
        }
    }

    /** A strength method with the parent named by identifier and the node by handle or id. */
    interface ParentCall {
        void on(Network net, int handle, String node, String parent);
    }

    static final List<Arguments> PARENT_ID_OVERLOADS = List.of(
            Arguments.of("get(int, String)", (ParentCall) (net, h, n, p)
                    -> net.getNoisyParentStrengths(h, p)),
            Arguments.of("get(String, String)", (ParentCall) (net, h, n, p)
                    -> net.getNoisyParentStrengths(n, p)),
            Arguments.of("set(int, String)", (ParentCall) (net, h, n, p)
                    -> net.setNoisyParentStrengths(h, p, new int[] {0, 1, 2})),
            Arguments.of("set(String, String)", (ParentCall) (net, h, n, p)
                    -> net.setNoisyParentStrengths(n, p, new int[] {0, 1, 2})));

    /**
     * Node, parent identifier, message. The parent is matched byte for byte among the node's
     * own parents before the node's type is looked at; "%s" is the node as its overload names
     * it when it names no node.
     */
    static final String[][] PARENT_ID_CASES = {
        {"Y", "Z", "Node 'Y' is not a child of node 'Z'"},
        {"Y", "a", "Node 'Y' is not a child of node 'a'"},
        {"Y", "A ", "Node 'Y' is not a child of node 'A '"},
        {"Y", "C", "Node 'Y' is not a child of node 'C'"},
        {"Y", "Y", "Node 'Y' is not a child of node 'Y'"},
        {"Y", "", "Node 'Y' is not a child of node ''"},
        {"Y", "\u00c4\ud83d\ude00", "Node 'Y' is not a child of node '\u00c4\ud83d\ude00'"},
        // A table child of A: the parent identifier is resolved first, then the type checked.
        {"D", "B", "Node 'D' is not a child of node 'B'"},
        {"D", "a", "Node 'D' is not a child of node 'a'"},
        {"D", "A", "Node 'D' is not of NoisyMax type"},
        {"A", "Z", "Node 'A' is not a child of node 'Z'"},
        {"Q", "A", "%s"},
    };

    static Stream<Arguments> parentIdentifierRefusals() {
        List<Arguments> all = new ArrayList<>();
        for (Arguments overload : PARENT_ID_OVERLOADS) {
            for (String[] c : PARENT_ID_CASES) {
                Object[] o = overload.get();
                boolean byId = ((String) o[0]).contains("(String");
                String message = String.format(c[2],
                        byId ? "Invalid node id: " + c[0] : "Invalid node handle: 99");
                all.add(Arguments.of(o[0] + " " + c[0] + "/'" + c[1] + "'", o[1], c[0], c[1],
                        message));
            }
        }
        return all.stream();
    }

    /** The gate, C beside it, and D, a table child of A. */
    static Network gateWithNeighbours() {
        Network net = gate();
        chance(net, "C", "c0", "c1");
        chance(net, "D", "d0", "d1");
        net.addArc("A", "D");
        net.setNoisyParentStrengths("Y", "A", new int[] {1, 2, 0});
        return net;
    }

    static String strengthSnapshot(Network net) {
        return Arrays.toString(net.getNoisyParentStrengths(2, 0))
                + Arrays.toString(net.getNoisyParentStrengths(2, 1))
                + Arrays.toString(net.getNodeDefinition(2))
                + Arrays.toString(net.getAllNodeIds());
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("parentIdentifierRefusals")
    void parentIdentifierIsMatchedAmongTheParentsFirst(String name, ParentCall call, String node,
            String parent, String message) {
        try (Network net = gateWithNeighbours()) {
            int handle = Arrays.asList(net.getAllNodeIds()).indexOf(node);
            String before = strengthSnapshot(net);
            assertFails(message, () -> call.on(net, handle < 0 ? 99 : handle, node, parent));
            assertEquals(before, strengthSnapshot(net));
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
