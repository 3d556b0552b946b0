package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static quarn.Models.assertFails;

import java.awt.Color;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * Null references and released networks: the library must answer with an exception, never
 * by crashing the virtual machine. Runs in a JVM of its own.
 */
@Tag("isolated")
class HostingFaultsTest {
    /** Display, submodel, diagnostic, property, documentation and cost calls naming null. */
    static Executable[] nodeDataCalls(Network net) {
        return new Executable[] {
            () -> net.getNodePosition((String) null), () -> net.setNodeBgColor(null, Color.RED),
            () -> net.getSubmodel(null), () -> net.addSubmodel(null, "S"),
            () -> net.setSubmodelOfNode("S", null), () -> net.getSubmodelName((String) null),
            () -> net.getOutcomeFix(null, 0), () -> net.setDefaultOutcome(0, (String) null),
            () -> net.getNodeQuestion((String) null), () -> net.getNodeUserProperties(null),
            () -> net.setOutcomeDocumentation(null, "a0", new DocItemInfo[0]),
            () -> net.addCostArc(null, "B"), () -> net.getNodeCost((String) null),
        };
    }

    @Test
    void nullArgumentsAndTheNullCharacterAreRefusedWithTheArgumentName() {
        try (Network net = Models.twoNode()) {
            double[] before = net.getNodeDefinition("A");
            Object[][] cases = {
                {"node id", (Executable) () -> net.getNode(null)},
                {"node id", (Executable) () -> net.getNodeType(null)},
                {"node id", (Executable) () -> net.addArc(null, "B")},
                {"node id", (Executable) () -> net.addArc("A", null)},
                {"path", (Executable) () -> net.readFile(null)},
                {"path", (Executable) () -> net.writeFile(null)},
                {"id", (Executable) () -> net.setId(null)},
                {"id", (Executable) () -> net.setNodeId(0, null)},
                {"id", (Executable) () -> net.addOutcome(0, null)},
                {"id", (Executable) () -> net.insertOutcome("A", 0, null)},
                {"id", (Executable) () -> net.setOutcomeId(0, 0, null)},
                {"name", (Executable) () -> net.setName(null)},
                {"name", (Executable) () -> net.setNodeName("A", null)},
                {"description", (Executable) () -> net.setDescription(null)},
                {"description", (Executable) () -> net.setNodeDescription(0, null)},
                {"outcome id", (Executable) () -> net.deleteOutcome(0, (String) null)},
                {"outcome id", (Executable) () -> net.setEvidence("B", (String) null)},
                {"definition", (Executable) () -> net.setNodeDefinition(0, null)},
                {"definition", (Executable) () -> net.setNodeDefinition("A", null)}};
            for (Object[] c : cases) {
                assertFails("Argument '" + c[0] + "' must not be null", (Executable) c[1]);
            }
            for (Executable call : nodeDataCalls(net)) {
                assertThrows(QUARNException.class, call);
            }
            assertFails("Argument 'name' must not contain the character U+0000",
                    () -> net.setName("a\u0000b"));
            assertEquals("A", net.getNodeId(0));
            assertArrayEquals(before, net.getNodeDefinition("A"));
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
            () -> net.getNodePosition(0), net::getMainSubmodel, net::getUserProperties,
            () -> net.setNodeDiagType(0, 1), () -> net.getNodeCost(0),
            () -> net.setUserProperties(new UserProperty[0]),
        };
        for (Executable[] group : new Executable[][] {calls, nodeDataCalls(net)}) {
            for (Executable call : group) {
                assertFails("The native object does not exist (it was deleted or never created)",
                        call);
            }
        }
        net.close(); // a second release does nothing
    }
}
