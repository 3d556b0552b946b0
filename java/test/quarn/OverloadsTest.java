package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quarn.Models.assertFails;

import java.util.Arrays;
import java.util.stream.Stream;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** Every identifier overload answers as the handle overload, and names what it cannot find. */
class OverloadsTest {
    interface ByHandle {
        Object apply(Network net, int node);
    }

    interface ById {
        Object apply(Network net, String node);
    }

    static Stream<Arguments> readers() {
        return Stream.of(
                pair("getNodeType", Network::getNodeType, Network::getNodeType),
                pair("getNodeName", Network::getNodeName, Network::getNodeName),
                pair("getNodeDescription", Network::getNodeDescription,
                        Network::getNodeDescription),
                pair("getParents", Network::getParents, Network::getParents),
                pair("getParentIds", Network::getParentIds, Network::getParentIds),
                pair("getChildren", Network::getChildren, Network::getChildren),
                pair("getChildIds", Network::getChildIds, Network::getChildIds),
                pair("getOutcomeCount", Network::getOutcomeCount, Network::getOutcomeCount),
                pair("getOutcomeId", (n, h) -> n.getOutcomeId(h, 1),
                        (n, s) -> n.getOutcomeId(s, 1)),
                pair("getOutcomeIds", Network::getOutcomeIds, Network::getOutcomeIds),
                pair("isEvidence", Network::isEvidence, Network::isEvidence),
                pair("isRealEvidence", Network::isRealEvidence, Network::isRealEvidence),
                pair("isPropagatedEvidence", Network::isPropagatedEvidence,
                        Network::isPropagatedEvidence),
                pair("getEvidence", Network::getEvidence, Network::getEvidence),
                pair("getEvidenceId", Network::getEvidenceId, Network::getEvidenceId),
                pair("isValueValid", Network::isValueValid, Network::isValueValid),
                pair("getNodeValue", Network::getNodeValue, Network::getNodeValue),
                pair("getValueIndexingParents", Network::getValueIndexingParents,
                        Network::getValueIndexingParents),
                pair("getValueIndexingParentIds", Network::getValueIndexingParentIds,
                        Network::getValueIndexingParentIds),
                pair("isTarget", Network::isTarget, Network::isTarget),
                pair("getNodeDefinition", Network::getNodeDefinition,
                        Network::getNodeDefinition));
    }

    private static Arguments pair(String name, ByHandle byHandle, ById byId) {
        return Arguments.of(name, byHandle, byId);
    }

    /** A -> B -> C, evidence on C, beliefs updated, B a target and described. */
    private static Network model() {
        Network net = Models.twoNode();
        int c = Models.chance(net, "C", "c0", "c1");
        net.addArc(1, c);
        net.setNodeDefinition(c, new double[] {0.6, 0.4, 0.1, 0.9});
        net.setNodeDescription(1, "middle");
        net.setNodeName("B", "The B");
        net.setEvidence("C", "c1");
        net.setTarget("B", true);
        net.updateBeliefs();
        return net;
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("readers")
    void identifierOverloadAnswersAsTheHandleOverload(String name, ByHandle byHandle,
            ById byId) {
        try (Network net = model()) {
            String[] ids = {"A", "B", "C"};
            int answered = 0;
            for (int handle = 0; handle < ids.length; handle++) {
                int node = handle;
                Object expected = outcome(() -> byHandle.apply(net, node));
                Object actual = outcome(() -> byId.apply(net, ids[node]));
                assertEquals(render(expected), render(actual), name + " of " + ids[node]);
                answered += render(expected).startsWith("raised: ") ? 0 : 1;
            }
            assertTrue(answered > 0, name + " answered no node at all");
            assertFails("Invalid node id: Nope", () -> byId.apply(net, "Nope"));
            assertFails("Invalid node handle: 3", () -> byHandle.apply(net, 3));
        }
    }

    private interface Call {
        Object run();
    }

    private static Object outcome(Call call) {
        try {
            return call.run();
        } catch (QUARNException e) {
            return "raised: " + e.getMessage();
        }
    }

    private static String render(Object value) {
        if (value instanceof int[]) {
            return Arrays.toString((int[]) value);
        }
        if (value instanceof double[]) {
            return Arrays.toString((double[]) value);
        }
        if (value instanceof Object[]) {
            return Arrays.deepToString((Object[]) value);
        }
        return String.valueOf(value);
    }
}
