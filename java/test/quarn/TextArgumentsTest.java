package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static quarn.Models.assertFails;

import java.nio.file.Path;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** Text reaches the library as the caller wrote it, or is refused with a word. */
class TextArgumentsTest {
    interface Setter {
        void set(Network net, String text);
    }

    interface Getter {
        String get(Network net);
    }

    /** Setters of each kind of text: the argument's name, the setter and its getter. */
    static Stream<Arguments> setters() {
        return Stream.of(
            Arguments.of("name", (Setter) Network::setName, (Getter) Network::getName),
            Arguments.of("description", (Setter) Network::setDescription,
                    (Getter) Network::getDescription),
            Arguments.of("name", (Setter) (net, t) -> net.setNodeName("B", t),
                    (Getter) net -> net.getNodeName("B")),
            Arguments.of("description", (Setter) (net, t) -> net.setNodeDescription(1, t),
                    (Getter) net -> net.getNodeDescription(1)),
            Arguments.of("fix", (Setter) (net, t) -> net.setOutcomeFix("A", 1, t),
                    (Getter) net -> net.getOutcomeFix("A", 1)),
            Arguments.of("description", (Setter) (net, t) -> net.setOutcomeDescription(0, 0, t),
                    (Getter) net -> net.getOutcomeDescription(0, 0)),
            Arguments.of("question", (Setter) (net, t) -> net.setNodeQuestion(2, t),
                    (Getter) net -> net.getNodeQuestion(2)),
            Arguments.of("value",
                    (Setter) (net, t) -> net.setNodeUserProperties(0,
                            new UserProperty[] {new UserProperty("k", t)}),
                    (Getter) net -> {
                        UserProperty[] all = net.getNodeUserProperties(0);
                        return all.length == 0 ? "none" : all[0].value;
                    }),
            Arguments.of("name", (Setter) (net, t) -> net.setSubmodelName(net.getMainSubmodel(), t),
                    (Getter) net -> net.getSubmodelName(net.getMainSubmodel())));
    }

    /** Strings that are not UTF-16, with the unit and index the message must name. */
    static final String[][] BROKEN = {
        {"x\ud800y", "D800", "1"}, {"x\udc00y", "DC00", "1"},
        {"\ude00\ud83d", "DE00", "0"}, // a pair in the wrong order
        {"x\ud83d", "D83D", "1"}, {"ab\ud83d\ude00\udfff", "DFFF", "4"},
    };

    @ParameterizedTest(name = "{index} {0}")
    @MethodSource("setters")
    void textThatIsNotUtf16IsRefusedNamingTheArgument(String argument, Setter setter,
            Getter getter) {
        for (String[] broken : BROKEN) {
            try (Network net = Models.chain()) {
                String before = getter.get(net);
                assertFails("Argument '" + argument + "' is not valid UTF-16: a lone surrogate U+"
                        + broken[1] + " at index " + broken[2], () -> setter.set(net, broken[0]));
                assertEquals(before, getter.get(net));
            }
        }
    }

    /** Supplementary characters, carriage returns and other text pass and come back. */
    @ParameterizedTest(name = "{index} {0}")
    @MethodSource("setters")
    void validTextPassesAndSurvivesTheOwnXml(String argument, Setter setter, Getter getter,
            @TempDir Path dir) {
        String text = "a\rb\r\n\ud83d\ude00 \u00e9t\u00e9\r";
        for (String file : new String[] {"m.xqnl", "m.qqnl"}) {
            String path = dir.resolve(file).toString();
            try (Network net = Models.chain(); Network back = new Network()) {
                setter.set(net, text);
                assertEquals(text, getter.get(net));
                net.writeFile(path);
                back.readFile(path);
                assertEquals(text, getter.get(back), file);
            }
        }
    }

    /** Paths and identifiers are refused the same way, before anything else is checked. */
    @Test
    void pathsAndIdentifiersThatAreNotUtf16AreRefused() {
        try (Network net = Models.chain()) {
            String lone = "' is not valid UTF-16: a lone surrogate U+D800 at index 1";
            assertFails("Argument 'path" + lone, () -> net.readFile("m\ud800.net"));
            assertFails("Argument 'path" + lone, () -> net.writeFile("m\ud800.net"));
            assertFails("Argument 'id" + lone, () -> net.addNode(Models.CPT, "X\ud800"));
            assertFails("Argument 'node id" + lone, () -> net.getNodeName("B\ud800"));
            assertEquals(3, net.getNodeCount());
        }
    }
}
