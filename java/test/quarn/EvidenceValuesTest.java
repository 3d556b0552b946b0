package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quarn.Models.assertArrayNear;
import static quarn.Models.assertFails;
import static quarn.Models.chance;

import java.util.Map;
import java.util.function.BiConsumer;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

class EvidenceValuesTest {
    private static final double[] A_GIVEN_B0 = {0.27 / 0.41, 0.14 / 0.41};

    @Test
    void valuesAreNotValidBeforeTheFirstUpdate() {
        try (Network net = Models.twoNode()) {
            assertFalse(net.isValueValid("B"));
            assertFails("Value not valid - node 'B'", () -> net.getNodeValue("B"));
            net.updateBeliefs();
            assertTrue(net.isValueValid(1));
            assertArrayNear(new double[] {0.41, 0.59}, net.getNodeValue("B"), 1e-12);
            assertArrayNear(new double[] {0.3, 0.7}, net.getNodeValue(0), 1e-12);
        }
    }

    @Test
    void everyEvidenceOverloadGivesThePosteriorOfTheTwoNodeModel() {
        BiConsumer<Network, Integer>[] setters = setters();
        for (BiConsumer<Network, Integer> set : setters) {
            try (Network net = Models.twoNode()) {
                set.accept(net, 0);
                net.updateBeliefs();
                assertArrayNear(A_GIVEN_B0, net.getNodeValue("A"), 1e-12);
                assertEquals(0.41, net.probEvidence(), 1e-12);
            }
        }
    }

    @SuppressWarnings("unchecked")
    private static BiConsumer<Network, Integer>[] setters() {
        return new BiConsumer[] {
            (BiConsumer<Network, Integer>) (net, o) -> net.setEvidence(1, o),
            (BiConsumer<Network, Integer>) (net, o) -> net.setEvidence("B", o),
            (BiConsumer<Network, Integer>) (net, o) -> net.setEvidence(1, "b" + o),
            (BiConsumer<Network, Integer>) (net, o) -> net.setEvidence("B", "b" + o),
        };
    }

    @Test
    void evidenceIsReadBackAndCleared() {
        try (Network net = Models.twoNode()) {
            assertFalse(net.isEvidence("B"));
            net.setEvidence("B", "b1");
            assertTrue(net.isEvidence(1));
            assertTrue(net.isRealEvidence("B"));
            assertFalse(net.isPropagatedEvidence("B"));
            assertEquals(1, net.getEvidence("B"));
            assertEquals("b1", net.getEvidenceId(1));
            // New evidence replaces the old.
            net.setEvidence(1, 0);
            assertEquals("b0", net.getEvidenceId("B"));
            net.clearEvidence("B");
            assertFalse(net.isEvidence("B"));
            net.setEvidence(0, 1);
            net.setEvidence(1, 1);
            net.clearAllEvidence();
            assertFalse(net.isEvidence(0));
            assertFalse(net.isEvidence(1));
        }
    }

    @Test
    void readingEvidenceOfANodeWithoutEvidenceIsRefused() {
        try (Network net = Models.twoNode()) {
            assertFails("Node 'A' has no evidence set", () -> net.getEvidence("A"));
            assertFails("Node 'A' has no evidence set", () -> net.getEvidenceId(0));
            assertFails("QUARN error -2 in function ClearEvidence. Logged information: Node holds"
                    + " no evidence to clear\n", () -> net.clearEvidence(0));
            assertFails("Invalid outcome index 2 for node 'A', valid indices are 0..1",
                    () -> net.setEvidence(0, 2));
            assertFalse(net.isEvidence("A"));
        }
    }

    @Test
    void evidenceImpliedByADeterministicTableIsPropagated() {
        try (Network net = Models.twoNode()) {
            net.setNodeDefinition("B", new double[] {1, 0, 0, 1});
            net.setEvidence("A", "a1");
            assertTrue(net.isPropagatedEvidence("B"));
            assertFalse(net.isRealEvidence("B"));
            assertTrue(net.isEvidence("B"));
            assertEquals(1, net.getEvidence("B"));
            assertEquals("b1", net.getEvidenceId("B"));
        }
    }

    @Test
    void targetMarksAreSetOnceAndClearedOnce() {
        try (Network net = Models.twoNode()) {
            assertFalse(net.isTarget("B"));
            net.setTarget("B", true);
            assertTrue(net.isTarget(1));
            assertFails("Cannot change target status for node 'B'", () -> net.setTarget(1, true));
            net.setTarget(1, false);
            assertFails("Cannot change target status for node 'B'",
                    () -> net.setTarget("B", false));
            net.setTarget(0, true);
            net.setTarget(1, true);
            net.clearAllTargets();
            assertFalse(net.isTarget(0));
            assertFalse(net.isTarget("B"));
        }
    }

    @Test
    void updateWithATargetComputesTheTarget() {
        try (Network net = Models.twoNode()) {
            net.setTarget("A", true);
            net.setEvidence("B", "b0");
            net.updateBeliefs();
            assertArrayNear(A_GIVEN_B0, net.getNodeValue("A"), 1e-12);
        }
    }

    @Test
    void chanceNodesHaveNoIndexingParents() {
        try (Network net = Models.twoNode()) {
            net.updateBeliefs();
            assertArrayEquals(new int[] {}, net.getValueIndexingParents("B"));
            assertArrayEquals(new String[] {}, net.getValueIndexingParentIds(1));
            assertArrayEquals(new int[] {}, net.getValueIndexingParents(0));
            assertArrayEquals(new String[] {}, net.getValueIndexingParentIds("A"));
        }
    }

    @Test
    void definitionArrayMustHaveTheTableSize() {
        try (Network net = new Network()) {
            int a = chance(net, "A", "a0", "a1");
            int b = chance(net, "B", "b0", "b1", "b2");
            net.addArc(a, b);
            double[] before = net.getNodeDefinition(b);
            assertEquals(6, before.length);
            assertFails("Invalid definition array size for node 'B': expected 6 and got 5",
                    () -> net.setNodeDefinition(b, new double[5]));
            assertFails("Invalid definition array size for node 'B': expected 6 and got 7",
                    () -> net.setNodeDefinition("B", new double[7]));
            assertArrayEquals(before, net.getNodeDefinition("B"));
            double[] table = {0.1, 0.2, 0.7, 0.5, 0.25, 0.25};
            net.setNodeDefinition("B", table);
            assertArrayEquals(table, net.getNodeDefinition(b));
        }
    }

    @Test
    void utilityAndDecisionDefinitionsAreArraysToo() {
        try (Network net = new Network()) {
            int d = net.addNode(Models.LIST, "D");
            Models.setOutcomes(net, d, "go", "stay");
            int u = net.addNode(Models.TABLE, "U");
            net.addArc(d, u);
            double[] utilities = net.getNodeDefinition(u);
            assertEquals(2, utilities.length);
            net.setNodeDefinition("U", new double[] {10, -3.5});
            assertArrayEquals(new double[] {10, -3.5}, net.getNodeDefinition("U"));
            assertFails("Invalid definition array size for node 'U': expected 2 and got 3",
                    () -> net.setNodeDefinition(u, new double[3]));
            assertFails("Value not valid - node 'D'", () -> net.getNodeValue(d));
        }
    }

    @Test
    void changingADefinitionInvalidatesEveryValueItReaches() {
        try (Network net = Models.twoNode()) {
            net.updateBeliefs();
            net.setNodeDefinition("A", new double[] {0.5, 0.5});
            assertFalse(net.isValueValid("A"));
            assertFalse(net.isValueValid("B"), "the child's marginal changed too");
            net.updateBeliefs();
            assertArrayNear(new double[] {0.55, 0.45}, net.getNodeValue("B"), 1e-12);

            // With evidence on B, B's table decides A's posterior.
            net.setEvidence("B", "b0");
            net.updateBeliefs();
            assertTrue(net.isValueValid("A"));
            net.setNodeDefinition("B", new double[] {0.5, 0.5, 0.1, 0.9});
            assertFalse(net.isValueValid("A"), "the parent's posterior changed");
            net.updateBeliefs();
            assertArrayNear(new double[] {0.25 / 0.3, 0.05 / 0.3}, net.getNodeValue("A"), 1e-12);
        }
    }

    @ParameterizedTest
    @ValueSource(ints = {0, 11, 12})
    void polytreePosteriorsMatchEnumeration(int algorithm) {
        try (Network net = new Network()) {
            int a = chance(net, "A", "a0", "a1");
            int b = chance(net, "B", "b0", "b1", "b2");
            int c = chance(net, "C", "c0", "c1");
            int d = chance(net, "D", "d0", "d1");
            int e = chance(net, "E", "e0", "e1", "e2");
            net.addArc(a, c);
            net.addArc(b, c);
            net.addArc(c, d);
            net.addArc(c, e);
            net.setNodeDefinition(a, new double[] {0.25, 0.75});
            net.setNodeDefinition(b, new double[] {0.2, 0.3, 0.5});
            net.setNodeDefinition(c, new double[] {0.9, 0.1, 0.6, 0.4, 0.3, 0.7,
                0.45, 0.55, 0.2, 0.8, 0.05, 0.95});
            net.setNodeDefinition(d, new double[] {0.7, 0.3, 0.15, 0.85});
            net.setNodeDefinition(e, new double[] {0.6, 0.3, 0.1, 0.2, 0.2, 0.6});
            net.setBayesianAlgorithm(algorithm);

            Map<Integer, Integer> evidence = Map.of(d, 1, e, 2);
            net.setEvidence(d, 1);
            net.setEvidence("E", "e2");
            net.updateBeliefs();
            double[][] expected = BruteForce.posteriors(net, evidence);
            for (int node : new int[] {a, b, c}) {
                assertArrayNear(expected[node], net.getNodeValue(node), 1e-10);
            }
            assertEquals(BruteForce.probability(net, evidence), net.probEvidence(), 1e-12);
        }
    }

    @Test
    void impossibleEvidenceIsRefusedWithTheLoggedReason() {
        try (Network net = Models.twoNode()) {
            net.setNodeDefinition("B", new double[] {0, 1, 0, 1});
            assertFails("QUARN error -2 in function SetEvidence. Logged information: Outcome [b0]"
                    + " of node [B] is impossible\n", () -> net.setEvidence("B", "b0"));
            net.setEvidence("B", "b1");
            assertEquals(1.0, net.probEvidence(), 1e-12);
        }
    }

    @Test
    void evidenceIdIsNullOnlyAfterAnException() {
        try (Network net = Models.twoNode()) {
            net.setEvidence(0, 0);
            assertEquals("a0", net.getEvidenceId("A"));
            String[] seen = {"unset"};
            assertThrows(QUARNException.class, () -> seen[0] = net.getEvidenceId("B"));
            assertEquals("unset", seen[0]);
        }
    }
}
