package quarn;

import static org.junit.jupiter.api.Assertions.assertThrows;
import static quarn.Models.assertFails;

import java.awt.Color;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * Display, submodel, diagnostic, property, documentation and cost methods given null
 * identifiers or a released network: an exception, never a crash. Runs in a JVM of its own.
 */
@Tag("isolated")
class NodeDataHostingFaultsTest {
    static Executable[] calls(Network net) {
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
    void nullIdentifiersAreRefused() {
        try (Network net = Models.twoNode()) {
            for (Executable call : calls(net)) {
                assertThrows(QUARNException.class, call);
            }
        }
    }

    @Test
    void aReleasedNetworkRaises() {
        Network net = Models.twoNode();
        net.close();
        Executable[] more = {
            () -> net.getNodePosition(0), net::getMainSubmodel, net::getUserProperties,
            () -> net.setNodeDiagType(0, 1), () -> net.getNodeCost(0),
            () -> net.setUserProperties(new UserProperty[0]),
        };
        for (Executable[] group : new Executable[][] {calls(net), more}) {
            for (Executable call : group) {
                assertFails("The native object does not exist (it was deleted or never created)",
                        call);
            }
        }
    }
}
