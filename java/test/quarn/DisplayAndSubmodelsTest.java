package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static quarn.Models.refused;

import java.awt.Color;
import java.awt.Rectangle;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import quarn.Models.Call;

/**
 * Positions and colours cross the boundary through conversions (centre and size, swapped
 * red and blue); submodels refuse what would break their tree or their identifiers.
 */
class DisplayAndSubmodelsTest {
    static final int MAIN = 16384;

    /** The two-node model with submodels S1 > S2 under the main one, B inside S2. */
    static Network nested() {
        Network net = Models.twoNode();
        int s1 = net.addSubmodel(MAIN, "S1");
        net.addSubmodel("S1", "S2");
        net.setSubmodelOfNode("S2", "B");
        net.setSubmodelPosition(s1, 1, 2, 30, 40);
        return net;
    }

    static String tree(Network net) {
        StringBuilder s = new StringBuilder();
        for (int h = net.getFirstSubmodel(); h >= 0; h = net.getNextSubmodel(h)) {
            s.append(net.getSubmodelId(h)).append('<').append(net.getSubmodelOfSubmodel(h))
                    .append(net.getSubmodelPosition(h)).append(';');
        }
        return s + "B in " + net.getSubmodelOfNode(1);
    }

    @ParameterizedTest
    @MethodSource("rectangles")
    void positionsReadBackAsWritten(int x, int y, int w, int h) {
        try (Network net = nested()) {
            net.setNodePosition("A", x, y, w, h);
            net.setSubmodelPosition("S2", x, y, w, h);
            assertEquals(new Rectangle(x, y, w, h), net.getNodePosition(0));
            assertEquals(new Rectangle(x, y, w, h), net.getSubmodelPosition("S2"));
        }
    }

    static Stream<Arguments> rectangles() {
        int max = Integer.MAX_VALUE;
        return Stream.of(Arguments.of(10, 20, 5, -3), Arguments.of(-7, -1, -5, 9),
                Arguments.of(max - 1, 0, 2, 3), Arguments.of(Integer.MIN_VALUE, max, -1, 1));
    }

    @Test
    void coloursDropAlphaAndSwapRedAndBlue() {
        try (Network net = Models.twoNode()) {
            // A new node's background is stored as 0x00F7F6E5.
            assertEquals(new Color(0xE5, 0xF6, 0xF7), net.getNodeBgColor(0));
            net.setNodeBgColor(0, new Color(255, 128, 0, 10));
            net.setNodeTextColor("A", new Color(1, 2, 3));
            net.setNodeBorderColor(1, new Color(0x12345678, true));
            assertEquals(0xFFFF8000, net.getNodeBgColor("A").getRGB());
            assertEquals(new Color(1, 2, 3), net.getNodeTextColor(0));
            assertEquals(0xFF345678, net.getNodeBorderColor("B").getRGB());
        }
    }

    static Stream<Arguments> refusals() {
        int max = Integer.MAX_VALUE;
        return Stream.of(
            refused("Invalid submodel handle: 77", n -> n.getSubmodelName(77)),
            refused("Invalid submodel handle: -1", n -> n.getSubmodelId(-1)),
            refused("Invalid submodel id: 'Q'", n -> n.getSubmodel("Q")),
            refused("QUARN error -2 in function DeleteSubmodel", n -> n.deleteSubmodel(0)),
            refused("QUARN error -2 in function CreateSubmodel", n -> n.addSubmodel(16390, "S9")),
            refused("QUARN error -2 in function SetId", n -> n.setSubmodelId(MAIN + 1, "S2")),
            // Nodes and submodels, the main one included, share their identifiers: a file
            // with a second bearer does not read back.
            refused("QUARN error -2 in function SetId", n -> n.setSubmodelId(MAIN + 1, "A")),
            refused("QUARN error -2 in function SetId", n -> n.setId("B")),
            refused("QUARN error -2 in function SetId", n -> n.setId("S2")),
            refused("QUARN error -2 in function CreateSubmodel", n -> n.addSubmodel(MAIN, "A")),
            refused("QUARN error -2 in function CreateSubmodel", n -> n.addSubmodel("S1", "B")),
            refused("QUARN error -2 in function SetSubmodel",
                    n -> n.setSubmodelOfSubmodel(MAIN + 1, 0)),
            // Check orders: the node, the moved submodel, the parent come first.
            refused("Invalid node id: Z", n -> n.setSubmodelOfNode("Q", "Z")),
            refused("Invalid node handle: 9", n -> n.setSubmodelOfNode(99, 9)),
            refused("Invalid submodel id: 'Y'", n -> n.setSubmodelOfSubmodel("X", "Y")),
            refused("Invalid submodel id: 'X'", n -> n.addSubmodel("X", "9")),
            refused("Identifier '9" + RefusalsTest.BAD_ID, n -> n.addSubmodel("S1", "9")),
            refused("Argument 'color' must not be null", n -> n.setNodeBgColor(0, null)),
            refused("Argument 'name' must not be null", n -> n.setSubmodelName("S1", null)),
            refused("The centre of the rectangle does not fit an int",
                    n -> n.setNodePosition(0, max, 0, 2, 0)),
            refused("The centre of the rectangle does not fit an int",
                    n -> n.setSubmodelPosition(0, 0, Integer.MIN_VALUE, 0, -2)));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusals")
    void refusalHasItsMessageAndChangesNothing(String message, Call call) {
        try (Network net = nested()) {
            Models.assertRefused(net, message, call,
                    n -> tree(n) + n.getNodePosition(0) + n.getNodeBgColor(0));
        }
    }

    @Test
    void theMainSubmodelHasTwoHandlesAndNoParent() {
        try (Network net = Models.twoNode()) {
            assertEquals(MAIN, net.getMainSubmodel());
            assertEquals(MAIN, net.getSubmodelOfNode(0));
            assertEquals(-1, net.getNextSubmodel(MAIN));
            assertEquals(-8888, net.getSubmodelOfSubmodel(0));
            assertEquals(net.getMainSubmodelId(), net.getSubmodelId(0));
            int s = net.addSubmodel(0, "S");
            assertNull(net.getSubmodelDescription(s));
            net.setSubmodelId(s, "S"); // its own identifier again
            net.setId(net.getId());
            net.deleteSubmodel("S");
            assertEquals(1, net.getSubmodelCount());
        }
    }
}
