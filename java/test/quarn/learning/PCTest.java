package quarn.learning;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quarn.learning.DataSetTest.assertFails;

import java.util.Random;
import org.junit.jupiter.api.Test;
import quarn.Network;
import quarn.QUARNException;

class PCTest {
    /** X -> Y -> Z over two states each, sampled with a fixed seed. */
    static DataSet chain(int records) {
        DataSet data = new DataSet();
        for (String id : new String[] {"X", "Y", "Z"}) {
            data.addIntVariable(id, -1);
        }
        Random random = new Random(5);
        for (int r = 0; r < records; ++r) {
            data.addEmptyRecord();
            int x = random.nextDouble() < 0.5 ? 1 : 0;
            int y = random.nextDouble() < (x == 1 ? 0.8 : 0.2) ? 1 : 0;
            int z = random.nextDouble() < (y == 1 ? 0.85 : 0.15) ? 1 : 0;
            data.setInt(0, r, x);
            data.setInt(1, r, y);
            data.setInt(2, r, z);
        }
        for (int v = 0; v < 3; ++v) {
            data.setStateNames(v, new String[] {"off", "on"});
        }
        return data;
    }

    static int[] marks(Pattern p) {
        return new int[] {
            p.getEdge(0, 1), p.getEdge(1, 0), p.getEdge(1, 2), p.getEdge(2, 1), p.getEdge(0, 2),
            p.getEdge(2, 0)
        };
    }

    @Test
    void parametersAndKnowledgeRoundTrip() {
        try (PC pc = new PC()) {
            pc.setMaxAdjacency(3);
            pc.setSignificance(0.01);
            pc.setBkKnowledge(new BkKnowledge(new BkArcInfo[] {new BkArcInfo(0, 2)}, null,
                    new BkTierInfo[] {new BkTierInfo(1, 4), new BkTierInfo(2, 5)}));
            assertEquals(3, pc.getMaxAdjacency());
            assertEquals(0.01, pc.getSignificance());
            BkKnowledge bk = pc.getBkKnowledge();
            assertEquals(2, bk.forcedArcs[0].child);
            assertEquals(5, bk.tiers[1].tier);

            // A null element leaves every list as it was.
            assertFails("BkKnowledge array element name can't be null (index 1)",
                    () -> pc.setBkKnowledge(new BkKnowledge(null,
                            new BkArcInfo[] {new BkArcInfo(1, 0), null}, null)));
            bk = pc.getBkKnowledge();
            assertEquals(0, bk.forbiddenArcs.length);
            assertEquals(2, bk.tiers.length);
        }
    }

    @Test
    void learnsTheChainAndWithTiersItsNetwork() {
        try (DataSet data = chain(3000); PC pc = new PC(); Pattern p = pc.learn(data)) {
            assertArrayEquals(new int[] {1, 1, 1, 1, 0, 0}, marks(p));
            assertFalse(p.isDAG());
            String refusal = assertThrows(QUARNException.class, () -> p.makeNetwork(data))
                    .getMessage();
            assertTrue(refusal.startsWith("QUARN error -1 in function MakeNetwork"), refusal);
            assertTrue(refusal.contains("the edge between variables 0 (X) and 1 (Y) is undirected"),
                    refusal);

            pc.setBkKnowledge(new BkKnowledge(new BkArcInfo[] {new BkArcInfo(0, 2)},
                    new BkArcInfo[] {new BkArcInfo(1, 0)}, null));
            // X and Y, kept apart by knowledge alone and never found independent, orient
            // nothing: only the forced arc has a direction.
            try (Pattern forced = pc.learn(data)) {
                assertArrayEquals(new int[] {0, 0, 1, 1, 2, 0}, marks(forced));
            }
            pc.setBkKnowledge(new BkKnowledge(null, null, new BkTierInfo[] {
                new BkTierInfo(0, 0), new BkTierInfo(1, 1), new BkTierInfo(2, 2)}));
            try (Pattern tiered = pc.learn(data); Network net = tiered.makeNetwork(data)) {
                assertTrue(tiered.isDAG());
                assertArrayEquals(new String[] {"X", "Y", "Z"}, net.getAllNodeIds());
                assertArrayEquals(new String[] {"Y"}, net.getParentIds("Z"));
                assertArrayEquals(new String[] {"off", "on"}, net.getOutcomeIds("X"));
            }
        }
    }

    // The learner's reason reaches the host after what other operations left in the log.
    @Test
    void unsuitableDataIsRefusedWithTheReason() {
        try (DataSet data = chain(2); PC pc = new PC()) {
            String message = assertThrows(QUARNException.class, () -> pc.learn(data)).getMessage();
            assertTrue(message.matches("QUARN error -1 in function Learn. Logged information: "
                    + "(?s).*pc: too few data points\n"), message);
        }
    }

    // Knowledge that contradicts itself is refused as greedy thick thinning refuses it.
    @Test
    void contradictoryKnowledgeIsRefusedWithTheReason() {
        BkArcInfo[][] forced = {
            {new BkArcInfo(0, 1)},
            {new BkArcInfo(0, 1), new BkArcInfo(1, 2), new BkArcInfo(2, 0)},
        };
        BkArcInfo[][] forbidden = {{new BkArcInfo(0, 1)}, null};
        String[] reasons = {
            "pc: forbidden arc (0, 1) is forced as well\n",
            "pc: forced arc (2, 0) contradicts the other background knowledge\n",
        };
        try (DataSet data = chain(300); PC pc = new PC()) {
            for (int k = 0; k < reasons.length; ++k) {
                pc.setBkKnowledge(new BkKnowledge(forced[k], forbidden[k], null));
                String message =
                        assertThrows(QUARNException.class, () -> pc.learn(data)).getMessage();
                assertTrue(message.startsWith("QUARN error -1 in function Learn"), message);
                assertTrue(message.endsWith(reasons[k]), message);
            }
        }
    }

    @Test
    void patternEditsAreCheckedAndCyclesFound() {
        try (Pattern p = new Pattern()) {
            p.setSize(3);
            p.setEdge(0, 1, 2);
            p.setEdge(1, 2, 2);
            p.setEdge(2, 0, 2);
            assertTrue(p.hasCycle() && !p.isDAG());
            p.setSize(2);
            assertEquals(2, p.getEdge(0, 1));
            assertFalse(p.hasCycle());
            String range = "Invalid edge (%d, %d), valid indices are 0..1";
            assertFails(String.format(range, 2, 0), () -> p.getEdge(2, 0));
            assertFails(String.format(range, 0, -1), () -> p.setEdge(0, -1, 1));
            assertFails("Invalid pattern size -1", () -> p.setSize(-1));
            assertThrows(QUARNException.class, () -> p.setSize(65536));
            assertEquals(2, p.getSize());
        }
    }
}
