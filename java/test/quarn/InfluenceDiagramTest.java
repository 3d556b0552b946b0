package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static quarn.Models.assertArrayNear;
import static quarn.Models.chance;

import org.junit.jupiter.api.Test;

/** Expected utilities and the best policy of the oil wildcatter through the host. */
class InfluenceDiagramTest {
    /** Oil (dry, wet, soaking), the decision Drill and the utility Profit over both. */
    static Network wildcatter(boolean informed) {
        Network net = new Network();
        int oil = chance(net, "Oil", "dry", "wet", "soaking");
        net.setNodeDefinition(oil, new double[] {0.5, 0.3, 0.2});
        int drill = net.addNode(Models.LIST, "Drill");
        Models.setOutcomes(net, drill, "drill", "nodrill");
        if (informed) {
            net.addArc(oil, drill);
        }
        int profit = net.addNode(Models.TABLE, "Profit");
        net.addArc(oil, profit);
        net.addArc(drill, profit);
        net.setNodeDefinition(profit, new double[] {-70, 0, 50, 0, 200, 0});
        return net;
    }

    @Test
    void expectedUtilitiesAreIndexedByWhatTheDecisionSees() {
        try (Network net = wildcatter(false)) {
            net.updateBeliefs();
            assertArrayNear(new double[] {20, 0}, net.getNodeValue("Drill"), 1e-9);
            net.setInfluenceDiagramAlgorithm(1);
            net.updateBeliefs();
            assertArrayEquals(new double[] {1, 0}, net.getNodeValue("Drill"));
        }
        try (Network net = wildcatter(true)) {
            net.updateBeliefs();
            assertArrayNear(new double[] {-70, 0, 50, 0, 200, 0}, net.getNodeValue("Drill"), 1e-9);
            assertArrayEquals(new int[] {net.getNode("Oil")}, net.getValueIndexingParents("Drill"));
        }
    }
}
