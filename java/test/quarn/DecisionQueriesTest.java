package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quarn.Models.assertArrayNear;
import static quarn.Models.assertFails;
import static quarn.Models.chance;

import org.junit.jupiter.api.Test;

/**
 * Expected utilities and the best policy of the oil wildcatter, value of information and
 * annealed MAP through the host.
 */
class DecisionQueriesTest {
    /** C (0.4, 0.6), the decision D and U over (C, D): 10 for (c0, d0), 5 for (c1, d1), else 0. */
    static Network guess() {
        Network net = new Network();
        int c = chance(net, "C", "c0", "c1");
        net.setNodeDefinition(c, new double[] {0.4, 0.6});
        int d = net.addNode(Models.LIST, "D");
        Models.setOutcomes(net, d, "d0", "d1");
        int u = net.addNode(Models.TABLE, "U");
        net.addArc(c, u);
        net.addArc(d, u);
        net.setNodeDefinition(u, new double[] {10, 0, 0, 5});
        return net;
    }

    @Test
    void valueOfObservingTheChanceNode() {
        try (Network net = guess(); ValueOfInfo voi = new ValueOfInfo(net)) {
            assertNull(voi.getDecisionId());
            assertEquals(0, voi.getValues().length);
            assertArrayEquals(new String[] {"D"}, voi.getAllDecisionIds());
            assertFails("QUARN error -568 in function Update. Logged information: Value of "
                    + "information: no decision is chosen; choose the decision first\n", voi::update);

            voi.setDecision("D");
            assertEquals("D", voi.getPointOfViewId());
            voi.addNode("C");
            assertArrayEquals(new int[] {net.getNode("C")}, voi.getAllNodes());
            voi.update();
            // Observed: 0.4 x 10 + 0.6 x 5 = 7; blind: the better of 4 and 3.
            assertArrayNear(new double[] {3.0}, voi.getValues(), 1e-9);
            assertFalse(net.isEvidence("C"), "the network keeps no evidence");

            assertFails("Cannot add node C to ValueOfInfo object", () -> voi.addNode("C"));
            assertFails("Cannot remove node U to ValueOfInfo object", () -> voi.removeNode("U"));
            assertFails("Cannot set decision on ValueOfInfo object to node C",
                    () -> voi.setDecision("C"));
            assertFails("Cannot set point of view on ValueOfInfo object to node U",
                    () -> voi.setPointOfView(2));
            assertFails("Invalid node id: zz", () -> voi.addNode("zz"));
            assertFails("Invalid node handle: 9", () -> voi.removeNode(9));
            assertFails("The network is used by a ValueOfInfo or DiagNetwork object", net::close);
            assertFails("The network is used by a ValueOfInfo or DiagNetwork object: close it "
                    + "before deleting a node", () -> net.deleteNode("C"));
            assertEquals(1, voi.getAllNodes().length);
        }
    }

    @Test
    void annealedMapOnTwoNodes() {
        try (Network net = Models.twoNode()) {
            net.setEvidence("B", "b0");
            AnnealedMapTuning tuning = new AnnealedMapTuning();
            tuning.randSeed = 17;
            AnnealedMapResults first = net.annealedMap(new String[] {"A"}, tuning);
            assertArrayEquals(new int[] {0}, first.getMapStates());
            assertEquals(0.41, first.getProbEvidence(), 1e-12);
            assertEquals(0.27 / 0.41, first.getProbability(), 1e-12);
            assertEquals(0.41, net.annealedMap(new int[] {0}, null).getProbEvidence(), 1e-12);

            assertFails("Argument 'mapStates' must not be null",
                    () -> new AnnealedMapResults(0.5, 0.5, null));
            assertFails("Invalid node id: zz", () -> net.annealedMap(new String[] {"zz"}, null));
            assertFails("Invalid node handle: 7", () -> net.annealedMap(new int[] {7}, null));
            assertTrue(assertThrows(QUARNException.class, () -> net.annealedMap(new int[] {1},
                    null)).getMessage().startsWith("QUARN error -2 in function AnnealedMAP"));
            tuning.speed = 0.4;
            assertFails("QUARN error -2 in function SetAnnealedMapTuning",
                    () -> net.annealedMap(new int[] {0}, tuning));
        }
    }

    // A decision has no probability, nor what lies below it until it is set.
    @Test
    void annealedMapRefusesDecisionsUntilTheyAreSet() {
        try (Network net = guess()) {
            int x = chance(net, "X", "x0", "x1");
            net.addArc(net.getNode("D"), x);
            net.setNodeDefinition(x, new double[] {0.3, 0.7, 0.8, 0.2});
            String refused = "QUARN error -2 in function AnnealedMAP. Logged information: Annealed "
                    + "MAP: node ";
            Object[][] cases = {
                {new String[] {"D"}, "D is a decision node"},
                {new String[] {"C", "D"}, "D is a decision node"},
                {new String[] {"U"}, "U is a utility node"},
                {new String[] {"X"}, "X depends on the decision D, which is not set"},
            };
            for (Object[] c : cases) {
                assertFails(refused + c[1] + "\n", () -> net.annealedMap((String[]) c[0], null));
            }

            net.setEvidence("D", "d1");
            AnnealedMapResults set = net.annealedMap(new String[] {"X", "C"}, null);
            assertArrayEquals(new int[] {0, 1}, set.getMapStates());
            assertEquals(0.8 * 0.6, set.getProbability(), 1e-12);
            assertEquals(1.0, set.getProbEvidence(), 1e-12);
        }
    }

    // A decision that sees a chance node has one expected utility per outcome of that parent.
    @Test
    void expectedUtilitiesAreIndexedByWhatTheDecisionSees() {
        try (Network net = new Network()) {
            int oil = chance(net, "Oil", "dry", "wet", "soaking");
            net.setNodeDefinition(oil, new double[] {0.5, 0.3, 0.2});
            int drill = net.addNode(Models.LIST, "Drill");
            net.addArc(oil, drill);
            int profit = net.addNode(Models.TABLE, "Profit");
            net.addArc(oil, profit);
            net.addArc(drill, profit);
            net.setNodeDefinition(profit, new double[] {-70, 0, 50, 0, 200, 0});
            net.updateBeliefs();
            assertArrayNear(new double[] {-70, 0, 50, 0, 200, 0}, net.getNodeValue("Drill"), 1e-9);
            assertArrayEquals(new int[] {oil}, net.getValueIndexingParents("Drill"));
        }
    }
}
