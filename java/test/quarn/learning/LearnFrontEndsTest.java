package quarn.learning;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static quarn.learning.DataSetTest.assertFails;

import java.util.Arrays;
import org.junit.jupiter.api.Test;
import quarn.Network;

class LearnFrontEndsTest {
    @Test
    void knowledgeCrossesAsArraysOfPairs() {
        try (GreedyThickThinning gtt = new GreedyThickThinning()) {
            BkKnowledge empty = gtt.getBkKnowledge();
            assertEquals(0, empty.forcedArcs.length + empty.forbiddenArcs.length
                    + empty.tiers.length);
            gtt.setBkKnowledge(new BkKnowledge(new BkArcInfo[] {new BkArcInfo(2, 0)}, null,
                    new BkTierInfo[] {new BkTierInfo(1, 3)}));
            assertFails("BkKnowledge array element name can't be null (index 0)",
                    () -> gtt.setBkKnowledge(new BkKnowledge(null, null, new BkTierInfo[] {null})));
            BkKnowledge bk = gtt.getBkKnowledge();
            assertEquals(0, bk.forcedArcs[0].child);
            assertEquals(3, bk.tiers[0].tier);
        }
    }

    @Test
    void learnersReturnNetworksOfTheDataAndCarryTheirReasons() {
        try (DataSet data = PCTest.chain(500); NaiveBayes nb = new NaiveBayes();
                GreedyThickThinning gtt = new GreedyThickThinning()) {
            // Both directions between X and Y forbidden: the arc list crosses as pairs.
            gtt.setBkKnowledge(new BkKnowledge(null,
                    new BkArcInfo[] {new BkArcInfo(0, 1), new BkArcInfo(1, 0)}, null));
            try (Network net = gtt.learn(data)) {
                assertArrayEquals(new String[] {"X", "Y", "Z"}, net.getAllNodeIds());
                assertFalse(Arrays.stream(net.getParents("Y")).anyMatch(p -> p == 0));
                assertFalse(Arrays.stream(net.getParents("X")).anyMatch(p -> p == 1));
                data.matchNetwork(net);
            }
            nb.setClassVariableId("Y");
            try (Network net = nb.learn(data)) {
                assertArrayEquals(new String[] {"Y"}, net.getParentIds("X"));
                assertArrayEquals(new String[] {"Y"}, net.getParentIds("Z"));
            }
            nb.setClassVariableId("W");
            assertFails("QUARN error -1 in function Learn. Logged information: "
                    + "nb: unknown class variable W\n", () -> nb.learn(data));
        }
    }
}
