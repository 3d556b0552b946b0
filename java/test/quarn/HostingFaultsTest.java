package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static quarn.Models.assertFails;

import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * Null references and released networks: the library must answer with an exception, never
 * by crashing the virtual machine. Runs in a JVM of its own.
 */
@Tag("isolated")
class HostingFaultsTest {
    private static final String DELETED =
            "The native object does not exist (it was deleted or never created)";

    @Test
    void nullStringsAreRefusedWithTheArgumentName() {
        try (Network net = Models.twoNode()) {
            assertFails("Argument 'node id' must not be null", () -> net.getNode(null));
            assertFails("Argument 'node id' must not be null", () -> net.getNodeType(null));
            assertFails("Argument 'node id' must not be null", () -> net.addArc(null, "B"));
            assertFails("Argument 'node id' must not be null", () -> net.addArc("A", null));
            assertFails("Argument 'path' must not be null", () -> net.readFile(null));
            assertFails("Argument 'path' must not be null", () -> net.writeFile(null));
            assertFails("Argument 'id' must not be null", () -> net.setId(null));
            assertFails("Argument 'name' must not be null", () -> net.setName(null));
            assertFails("Argument 'description' must not be null", () -> net.setDescription(null));
            assertFails("Argument 'id' must not be null", () -> net.setNodeId(0, null));
            assertFails("Argument 'name' must not be null", () -> net.setNodeName("A", null));
            assertFails("Argument 'description' must not be null",
                    () -> net.setNodeDescription(0, null));
            assertFails("Argument 'id' must not be null", () -> net.addOutcome(0, null));
            assertFails("Argument 'id' must not be null", () -> net.insertOutcome("A", 0, null));
            assertFails("Argument 'id' must not be null", () -> net.setOutcomeId(0, 0, null));
            assertFails("Argument 'outcome id' must not be null",
                    () -> net.deleteOutcome(0, (String) null));
            assertFails("Argument 'outcome id' must not be null",
                    () -> net.setEvidence("B", (String) null));
            assertEquals("A", net.getNodeId(0));
            assertEquals(2, net.getOutcomeCount("A"));
        }
    }

    @Test
    void nullIdentifierOfAddNodeMeansAGeneratedOne() {
        try (Network net = new Network()) {
            int node = net.addNode(Models.CPT, null);
            assertEquals("Node0", net.getNodeId(node));
        }
    }

    @Test
    void nullArraysAreRefused() {
        try (Network net = Models.twoNode()) {
            double[] before = net.getNodeDefinition("A");
            assertFails("Argument 'definition' must not be null",
                    () -> net.setNodeDefinition(0, null));
            assertFails("Argument 'definition' must not be null",
                    () -> net.setNodeDefinition("A", null));
            assertEquals(before[0], net.getNodeDefinition("A")[0]);
        }
    }

    @Test
    void textWithTheNullCharacterIsRefused() {
        try (Network net = new Network()) {
            net.setName("kept");
            assertFails("Argument 'name' must not contain the character U+0000",
                    () -> net.setName("a\u0000b"));
            assertEquals("kept", net.getName());
        }
    }

    @Test
    void everyMethodOfAReleasedNetworkRaises() {
        Network net = Models.twoNode();
        net.close();
        assertFalse(net.isAlive());
        Executable[] calls = {
            net::updateBeliefs, net::probEvidence, net::getSampleCount, net::getNodeCount,
            net::getAllNodeIds, net::clearAllEvidence, net::clearAllTargets, net::getId,
            () -> net.readFile("x.net"), () -> net.setSampleCount(10),
            () -> net.getNode("A"), () -> net.addNode(Models.CPT, "C"),
            () -> net.getNodeValue(0), () -> net.setEvidence("B", "b0"),
            () -> net.setNodeDefinition(0, new double[] {0.5, 0.5}),
            () -> net.getOutcomeIds("A"), () -> net.addArc("A", "B"),
        };
        for (Executable call : calls) {
            assertFails(DELETED, call);
        }
        net.close(); // a second release does nothing
    }
}
