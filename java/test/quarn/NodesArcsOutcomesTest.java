package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;
import static quarn.Models.assertFails;
import static quarn.Models.chance;

import org.junit.jupiter.api.Test;

class NodesArcsOutcomesTest {
    @Test
    void emptyNetworkHasNoNodes() {
        try (Network net = new Network()) {
            assertEquals(0, net.getNodeCount());
            assertEquals(-1, net.getFirstNode());
            assertEquals(0, net.getAllNodes().length);
            assertEquals(0, net.getAllNodeIds().length);
        }
    }

    @Test
    void deletedNodeLeavesAFreeSlotThatEveryCheckRefuses() {
        try (Network net = new Network()) {
            int a = net.addNode(Models.CPT, "A");
            int b = net.addNode(Models.CPT, "B");
            int c = net.addNode(Models.CPT, "C");
            net.addArc(a, b);
            net.addArc(b, c);
            net.deleteNode(b);
            assertArrayEquals(new int[] {a, c}, net.getAllNodes());
            assertArrayEquals(new String[] {"A", "C"}, net.getAllNodeIds());
            assertEquals(2, net.getNodeCount());
            assertEquals(a, net.getFirstNode());
            assertEquals(c, net.getNextNode(a));
            assertEquals(-1, net.getNextNode(c));
            assertEquals(0, net.getChildren(a).length);
            assertFails("Invalid node handle: " + b, () -> net.getNodeName(b));
            assertFails("Invalid node id: B", () -> net.getNode("B"));
        }
    }

    @Test
    void nodeHandlesOutsideTheTableAreRefused() {
        try (Network net = new Network()) {
            net.addNode(Models.CPT, "A");
            for (int bad : new int[] {-1, 1, 50, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
                assertFails("Invalid node handle: " + bad, () -> net.getNodeType(bad));
                assertFails("Invalid node handle: " + bad, () -> net.getParents(bad));
                assertFails("Invalid node handle: " + bad, () -> net.deleteNode(bad));
            }
            assertEquals(-1, net.getNextNode(-5));
            assertEquals(-1, net.getNextNode(Integer.MAX_VALUE));
            assertEquals(-1, net.getNextNode(-1));
        }
    }

    @Test
    void generatedIdentifiersCountUpFromTheNodeCount() {
        try (Network net = new Network()) {
            net.addNode(Models.CPT, "A");
            net.addNode(Models.CPT, "B");
            int first = net.addNode(Models.CPT);
            assertEquals("Node2", net.getNodeId(first));
            assertEquals("Node2", net.getNodeName(first));
            net.deleteNode("A");
            // Two nodes again, but "Node2" is taken.
            int second = net.addNode(Models.CPT);
            assertEquals("Node3", net.getNodeId(second));
            assertEquals(second, net.getNode("Node3"));
        }
    }

    @Test
    void addNodeRefusals() {
        try (Network net = new Network()) {
            net.addNode(Models.CPT, "A");
            assertFails("QUARN error -2 in function AddNode", () -> net.addNode(Models.CPT, "A"));
            assertFails("QUARN error -2 in function AddNode", () -> net.addNode(12345, "B"));
            assertFails("Identifier '9x' is invalid - it should start with a letter and contain"
                    + " only letters, digits and underscores", () -> net.addNode(Models.CPT, "9x"));
            assertEquals(1, net.getNodeCount());
        }
    }

    @Test
    void nodeTypeChangesAndUnknownTypesAreReported() {
        try (Network net = new Network()) {
            int a = net.addNode(Models.CPT, "A");
            net.setNodeType(a, Models.CPT);
            assertEquals(Models.CPT, net.getNodeType("A"));
            net.setNodeType("A", Models.LIST);
            assertEquals(Models.LIST, net.getNodeType(a));
            QUARNException e = assertThrows(QUARNException.class, () -> net.setNodeType(a, 12345));
            assertTrue(e.getMessage().startsWith("QUARN error -"), e.getMessage());
            assertTrue(e.getMessage().contains(" in function setNodeType"), e.getMessage());
            assertEquals(Models.LIST, net.getNodeType(a));
        }
    }

    @Test
    void nodeTextsRoundTripThroughBothOverloads() {
        try (Network net = new Network()) {
            int a = net.addNode(Models.CPT, "A");
            net.setNodeName(a, "Temp\u00e9rature \ud83c\udf21");
            net.setNodeDescription("A", "\u6e29\u5ea6\n\ud83d\udd25");
            assertEquals("Temp\u00e9rature \ud83c\udf21", net.getNodeName("A"));
            assertEquals("\u6e29\u5ea6\n\ud83d\udd25", net.getNodeDescription(a));
            net.setNodeId("A", "Alpha");
            assertEquals("Alpha", net.getNodeId(a));
            assertEquals(a, net.getNode("Alpha"));
            net.setNodeId(a, "Beta");
            assertEquals(a, net.getNode("Beta"));
            assertFails("Invalid node id: \ud83d\ude00", () -> net.getNode("\ud83d\ude00"));
        }
    }

    @Test
    void setNodeIdRefusesBadAndTakenIdentifiers() {
        try (Network net = new Network()) {
            int a = net.addNode(Models.CPT, "A");
            net.addNode(Models.CPT, "B");
            assertFails("Identifier 'a b' is invalid - it should start with a letter and contain"
                    + " only letters, digits and underscores", () -> net.setNodeId(a, "a b"));
            QUARNException e = assertThrows(QUARNException.class, () -> net.setNodeId(a, "B"));
            assertTrue(e.getMessage().startsWith("QUARN error -1000 in function SetId"),
                    e.getMessage());
            assertEquals("A", net.getNodeId(a));
            // A bad handle is reported before a bad identifier.
            assertFails("Invalid node handle: 7", () -> net.setNodeId(7, "9"));
        }
    }

    @Test
    void arcsAndRelationsInBothNamings() {
        try (Network net = new Network()) {
            int a = net.addNode(Models.CPT, "A");
            int b = net.addNode(Models.CPT, "B");
            int c = net.addNode(Models.CPT, "C");
            net.addArc(a, c);
            net.addArc("B", "C");
            assertArrayEquals(new int[] {a, b}, net.getParents(c));
            assertArrayEquals(new String[] {"A", "B"}, net.getParentIds("C"));
            assertArrayEquals(new int[] {c}, net.getChildren("A"));
            assertArrayEquals(new String[] {"C"}, net.getChildIds(b));
            assertArrayEquals(new int[] {a, b}, net.getParents("C"));
            assertArrayEquals(new String[] {"C"}, net.getChildIds("A"));
            assertArrayEquals(new int[] {}, net.getChildren(c));
            assertArrayEquals(new String[] {}, net.getParentIds(a));
            net.deleteArc("A", "C");
            net.deleteArc(b, c);
            assertEquals(0, net.getParents(c).length);
        }
    }

    @Test
    void arcRefusalsNameTheOperation() {
        try (Network net = new Network()) {
            int a = net.addNode(Models.CPT, "A");
            int b = net.addNode(Models.CPT, "B");
            net.addArc(a, b);
            QUARNException cycle = assertThrows(QUARNException.class, () -> net.addArc(b, a));
            assertTrue(cycle.getMessage().startsWith("QUARN error -"), cycle.getMessage());
            assertTrue(cycle.getMessage().contains(" in function AddArc"), cycle.getMessage());
            QUARNException missing = assertThrows(QUARNException.class, () -> net.deleteArc(b, a));
            assertTrue(missing.getMessage().contains(" in function RemoveArc"),
                    missing.getMessage());
            assertArrayEquals(new int[] {a}, net.getParents(b));
            // The child's identifier is resolved first.
            assertFails("Invalid node id: n2", () -> net.addArc("n1", "n2"));
            assertFails("Invalid node id: n1", () -> net.addArc("n1", "B"));
            assertFails("Invalid node id: n2", () -> net.deleteArc("n1", "n2"));
            assertFails("Invalid node handle: 9", () -> net.addArc(a, 9));
        }
    }

    @Test
    void outcomesAreAddedInsertedRenamedAndDeleted() {
        try (Network net = new Network()) {
            int a = chance(net, "A", "low", "high");
            net.addOutcome(a, "top");
            net.insertOutcome("A", 1, "mid");
            assertArrayEquals(new String[] {"low", "mid", "high", "top"}, net.getOutcomeIds(a));
            assertEquals(4, net.getOutcomeCount("A"));
            net.addOutcome("A", "extra");
            net.deleteOutcome(a, 4);
            net.deleteOutcome("A", "top");
            net.setOutcomeId("A", 2, "peak");
            assertEquals("peak", net.getOutcomeId(a, 2));
            assertEquals("mid", net.getOutcomeId("A", 1));
            net.deleteOutcome(a, "mid");
            net.insertOutcome(a, 0, "floor");
            net.deleteOutcome("A", 0);
            assertArrayEquals(new String[] {"low", "peak"}, net.getOutcomeIds("A"));
        }
    }

    @Test
    void outcomeIndexAndIdentifierChecks() {
        try (Network net = new Network()) {
            int a = chance(net, "A", "a0", "a1");
            assertFails("Invalid outcome index 2 for node 'A', valid indices are 0..1",
                    () -> net.getOutcomeId(a, 2));
            assertFails("Invalid outcome index -1 for node 'A', valid indices are 0..1",
                    () -> net.deleteOutcome("A", -1));
            assertFails("Invalid outcome identifier 'a2' for node 'A'",
                    () -> net.deleteOutcome("A", "a2"));
            assertFails("Invalid outcome identifier 'A0' for node 'A'",
                    () -> net.setEvidence(a, "A0"));
            // The identifier overloads find the node before the outcome.
            assertFails("Invalid node id: Z", () -> net.deleteOutcome("Z", "a9"));
            assertArrayEquals(new String[] {"a0", "a1"}, net.getOutcomeIds(a));
        }
    }

    @Test
    void outcomeIdentifierSyntaxIsCheckedBeforeTheHandleOnlyWhenAdding() {
        try (Network net = new Network()) {
            int a = chance(net, "A", "a0", "a1");
            String message = "Identifier '1st' is invalid - it should start with a letter and"
                    + " contain only letters, digits and underscores";
            assertFails(message, () -> net.addOutcome(42, "1st"));
            assertFails(message, () -> net.insertOutcome(42, 0, "1st"));
            assertFails("Invalid node id: Q", () -> net.addOutcome("Q", "1st"));
            assertFails("Invalid node handle: 42", () -> net.addOutcome(42, "ok"));
            // setOutcomeId leaves the syntax to the definition, which refuses it.
            QUARNException e = assertThrows(QUARNException.class,
                    () -> net.setOutcomeId(a, 0, "1st"));
            assertTrue(e.getMessage().contains(" in function RenameOutcome"), e.getMessage());
            // A table keeps at least two outcomes.
            assertFails("QUARN error -2 in function RemoveOutcome", () -> net.deleteOutcome(a, 1));
            assertArrayEquals(new String[] {"a0", "a1"}, net.getOutcomeIds(a));
        }
    }

    @Test
    void manyNodesAndOutcomesConvertWithoutExhaustingLocalReferences() {
        try (Network net = new Network()) {
            String[] ids = new String[300];
            for (int i = 0; i < ids.length; i++) {
                ids[i] = "N" + i;
                net.addNode(Models.CPT, ids[i]);
            }
            assertArrayEquals(ids, net.getAllNodeIds());
            for (int i = 1; i < 100; i++) {
                net.addArc(0, i);
            }
            assertEquals(99, net.getChildIds(0).length);
            String[] outcomes = new String[200];
            for (int i = 0; i < outcomes.length; i++) {
                outcomes[i] = "s" + i;
            }
            Models.setOutcomes(net, 150, outcomes);
            assertArrayEquals(outcomes, net.getOutcomeIds(150));
        }
    }

    @Test
    void nodeWithoutOutcomeListGivesAnEmptyArray() {
        try (Network net = new Network()) {
            int e;
            try {
                e = net.addNode(Models.EQUATION, "E");
            } catch (QUARNException notBuilt) {
                e = -1;
            }
            assumeTrue(e >= 0, "equation nodes are not available in this build");
            int node = e;
            assertEquals(0, net.getOutcomeIds(node).length);
            assertEquals(-51, net.getOutcomeCount(node));
            assertFails("Invalid outcome index 0 for node 'E', valid indices are 0..-52",
                    () -> net.getOutcomeId(node, 0));
        }
    }
}
