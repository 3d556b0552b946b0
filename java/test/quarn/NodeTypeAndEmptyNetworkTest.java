package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/**
 * Two calls that once took the virtual machine down: a type code that names no definition,
 * followed by an arc into the node, and updating a network without nodes under the polytree.
 */
class NodeTypeAndEmptyNetworkTest {
    @Test
    void typeCodesThatNameNoDefinitionAreRefusedAndArcsStillWork() {
        try (Network net = Models.twoNode()) {
            double[] before = net.getNodeDefinition("B");
            for (int code : new int[] {0, -1, 3, 19, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
                String message = assertThrows(QUARNException.class,
                        () -> net.setNodeType(1, code)).getMessage();
                assertTrue(message.startsWith("QUARN error -2 in function setNodeType"), message);
                assertEquals(Models.CPT, net.getNodeType(1));
                assertArrayEquals(new int[] {0}, net.getParents(1));
                assertArrayEquals(before, net.getNodeDefinition(1));
                int extra = Models.chance(net, "Extra", "e0", "e1");
                net.addArc(extra, 1);
                assertArrayEquals(new int[] {0, extra}, net.getParents(1));
                net.deleteNode(extra);
            }
            net.updateBeliefs();
        }
    }

    @Test
    void aNetworkWithoutNodesUpdatesUnderEveryAlgorithm() {
        for (int algorithm = 0; algorithm <= 12; algorithm++) {
            try (Network net = new Network()) {
                net.setBayesianAlgorithm(algorithm);
                net.updateBeliefs();
                net.deleteNode(net.addNode(Models.CPT, "A"));
                net.updateBeliefs();
                assertEquals(algorithm, net.getBayesianAlgorithm());
            }
        }
    }
}
