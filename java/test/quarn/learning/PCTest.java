package quarn.learning;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quarn.learning.DataSetTest.assertFails;

import java.util.Random;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
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
            assertEquals(8, pc.getMaxAdjacency());
            assertEquals(0.05, pc.getSignificance());
            BkKnowledge empty = pc.getBkKnowledge();
            assertEquals(0, empty.forcedArcs.length + empty.forbiddenArcs.length
                    + empty.tiers.length);

            pc.setMaxAdjacency(3);
            pc.setSignificance(0.01);
            pc.setBkKnowledge(new BkKnowledge(new BkArcInfo[] {new BkArcInfo(0, 2)}, null,
                    new BkTierInfo[] {new BkTierInfo(1, 4), new BkTierInfo(2, 5)}));
            assertEquals(3, pc.getMaxAdjacency());
            assertEquals(0.01, pc.getSignificance());
            BkKnowledge bk = pc.getBkKnowledge();
            assertEquals(1, bk.forcedArcs.length);
            assertEquals(2, bk.forcedArcs[0].child);
            assertEquals(0, bk.forbiddenArcs.length);
            assertEquals(5, bk.tiers[1].tier);

            // A null element leaves every list as it was.
            assertFails("BkKnowledge array element name can't be null (index 1)",
                    () -> pc.setBkKnowledge(new BkKnowledge(null,
                            new BkArcInfo[] {new BkArcInfo(1, 0), null}, null)));
            bk = pc.getBkKnowledge();
            assertEquals(1, bk.forcedArcs.length);
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

            pc.setBkKnowledge(new BkKnowledge(new BkArcInfo[] {new BkArcInfo(0, 2)},
                    new BkArcInfo[] {new BkArcInfo(1, 0)}, null));
            // X and Y, kept apart by knowledge alone, make Z a collider.
            try (Pattern forced = pc.learn(data)) {
                assertArrayEquals(new int[] {0, 0, 2, 0, 2, 0}, marks(forced));
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

    @Test
    void learnsContinuousDataIntoEquationNodes() {
        try (DataSet data = new DataSet(); PC pc = new PC()) {
            data.addFloatVariable("a", -1f);
            data.addFloatVariable("b", -1f);
            Random random = new Random(9);
            for (int r = 0; r < 500; ++r) {
                data.addEmptyRecord();
                float a = (float) random.nextGaussian();
                data.setFloat(0, r, a);
                data.setFloat(1, r, a + (float) random.nextGaussian());
            }
            pc.setBkKnowledge(new BkKnowledge(new BkArcInfo[] {new BkArcInfo(0, 1)}, null, null));
            try (Pattern p = pc.learn(data); Network net = p.makeNetwork(data)) {
                assertEquals(4, net.getNodeType("b"));
                assertArrayEquals(new String[] {"a"}, net.getParentIds("b"));
            }
        }
    }

    // Entries other operations left in the log come before the refusal's own.
    static void assertLearnFails(String reason, Executable call) {
        String message = assertThrows(QUARNException.class, call).getMessage();
        assertTrue(message.startsWith("QUARN error -1 in function Learn. Logged information: "),
                message);
        assertTrue(message.endsWith(reason + "\n"), message);
    }

    @Test
    void unsuitableDataIsRefusedWithTheReason() {
        try (DataSet data = chain(2); PC pc = new PC()) {
            assertLearnFails("pc: too few data points", () -> pc.learn(data));
        }
        try (DataSet data = chain(50); PC pc = new PC()) {
            data.setInt(1, 7, -1);
            assertLearnFails("pc: missing values not allowed\n", () -> pc.learn(data));
            data.setInt(1, 7, 0);
            pc.setBkKnowledge(new BkKnowledge(new BkArcInfo[] {new BkArcInfo(0, 5)}, null, null));
            assertLearnFails("pc: forced arc (0, 5) does not join two variables of the data set",
                    () -> pc.learn(data));
        }
    }

    @Test
    void patternEditsAreCheckedAndCyclesFound() {
        try (Pattern p = new Pattern()) {
            assertEquals(0, p.getSize());
            assertTrue(p.isDAG());
            p.setSize(3);
            p.setEdge(0, 1, 2);
            p.setEdge(1, 2, 2);
            assertTrue(p.isDAG());
            p.setEdge(2, 0, 2);
            assertTrue(p.hasCycle());
            assertFalse(p.isDAG());
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
