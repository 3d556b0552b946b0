package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quarn.Models.assertArrayNear;
import static quarn.Models.assertFails;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

class NetworkLevelTest {
    @TempDir Path dir;

    @Test
    void newNetworkStartsWithTheDefaults() {
        try (Network net = new Network()) {
            assertEquals(1000, net.getSampleCount());
            assertEquals(0, net.getBayesianAlgorithm());
            assertEquals(0, net.getInfluenceDiagramAlgorithm());
            assertEquals(0, net.getNodeCount());
        }
    }

    @Test
    void algorithmIdentifiersOutsideTheirRangeChangeNothing() {
        try (Network net = new Network()) {
            net.setBayesianAlgorithm(11);
            net.setBayesianAlgorithm(13);
            net.setBayesianAlgorithm(-1);
            assertEquals(11, net.getBayesianAlgorithm());
            net.setInfluenceDiagramAlgorithm(1);
            net.setInfluenceDiagramAlgorithm(2);
            assertEquals(1, net.getInfluenceDiagramAlgorithm());
        }
    }

    @Test
    void sampleCountBelowOneIsRefusedAndKeepsTheOldCount() {
        try (Network net = new Network()) {
            net.setSampleCount(5000);
            assertEquals(5000, net.getSampleCount());
            assertFails("Invalid sample count: 0 - it should be at least 1",
                    () -> net.setSampleCount(0));
            assertFails("Invalid sample count: -7 - it should be at least 1",
                    () -> net.setSampleCount(-7));
            net.setSampleCount(1);
            assertEquals(1, net.getSampleCount());
        }
    }

    @Test
    void headerTextsRoundTripIncludingCharactersOutsideTheBasicPlane() {
        try (Network net = new Network()) {
            net.setId("Net_1");
            String name = "Caf\u00e9 \u6f22\u5b57 \ud83d\ude00 end";
            net.setName(name);
            net.setDescription("line one\nline two \ud834\udd1e");
            assertEquals("Net_1", net.getId());
            assertEquals(name, net.getName());
            assertEquals("line one\nline two \ud834\udd1e", net.getDescription());
        }
    }

    @ParameterizedTest
    @ValueSource(strings = {"", "1abc", "_a", "a-b", "a b", "\u00e9t\u00e9", "a\ud83d\ude00"})
    void setIdRefusesTextThatIsNotAnIdentifier(String id) {
        try (Network net = new Network()) {
            String before = net.getId();
            assertFails("Identifier '" + id + "' is invalid - it should start with a letter and"
                    + " contain only letters, digits and underscores", () -> net.setId(id));
            assertEquals(before, net.getId());
        }
    }

    @Test
    void identifierOfOneLetterUnderscoreAndDigitPasses() {
        try (Network net = new Network()) {
            net.setId("x_1");
            assertEquals("x_1", net.getId());
        }
    }

    @Test
    void readFileWithUnknownExtensionReportsOnlyWhatTheReadLogged() {
        try (Network net = new Network()) {
            assertFails("QUARN error -2 in function ReadFile. Logged information: "
                    + "Unknown File Format\n", () -> net.readFile(dir.resolve("m.foo").toString()));
        }
    }

    @Test
    void secondErrorReportCarriesOnlyEntriesLoggedAfterTheFirst() {
        try (Network net = new Network()) {
            net.addNode(Models.CPT, "A");
            assertThrows(QUARNException.class, () -> net.readFile("model.unknown"));
            // The duplicate identifier logs nothing: the report has no logged information.
            assertFails("QUARN error -2 in function AddNode", () -> net.addNode(Models.CPT, "A"));
        }
    }

    @Test
    void readFileOfMissingFileNamesTheOperation() {
        try (Network net = new Network()) {
            QUARNException e = assertThrows(QUARNException.class,
                    () -> net.readFile(dir.resolve("absent.net").toString()));
            assertTrue(e.getMessage().startsWith("QUARN error -"), e.getMessage());
            assertTrue(e.getMessage().contains(" in function ReadFile"), e.getMessage());
        }
    }

    @Test
    void writtenModelReadsBackWithItsStructureAndTables() {
        String path = dir.resolve("two.net").toString();
        try (Network net = Models.twoNode()) {
            net.writeFile(path);
        }
        try (Network net = new Network()) {
            net.readFile(path);
            assertArrayEquals(new String[] {"A", "B"}, net.getAllNodeIds());
            assertArrayEquals(new String[] {"A"}, net.getParentIds("B"));
            assertArrayEquals(new String[] {"b0", "b1"}, net.getOutcomeIds("B"));
            assertArrayNear(new double[] {0.9, 0.1, 0.2, 0.8}, net.getNodeDefinition("B"), 1e-12);
        }
    }

    @Test
    void requestRoadReadUpdateAndReadPosteriors() throws Exception {
        Path file = dir.resolve("road.net");
        Files.write(file, String.join("\n",
                "net { }",
                "node A { states = (\"a0\" \"a1\"); }",
                "node B { states = (\"b0\" \"b1\"); }",
                "potential (A) { data = (0.3 0.7); }",
                "potential (B | A) { data = ((0.9 0.1) (0.2 0.8)); }",
                "").getBytes(StandardCharsets.UTF_8));
        try (Network net = new Network()) {
            net.readFile(file.toString());
            net.updateBeliefs();
            assertArrayNear(new double[] {0.41, 0.59}, net.getNodeValue("B"), 1e-9);
            net.setEvidence("B", "b0");
            net.updateBeliefs();
            assertArrayNear(new double[] {0.27 / 0.41, 0.14 / 0.41}, net.getNodeValue("A"), 1e-9);
        }
    }

    @Test
    void namesReadFromFilesReachTheHostAsTheyWereMeant() throws Exception {
        Path latin1 = dir.resolve("latin1.net");
        String node = "node A { label = \"%s\"; states = (\"a0\" \"a1\"); }\n"
                + "potential (A) { data = (0.5 0.5); }\n";
        Files.write(latin1, ("net { }\n" + String.format(node, "Caf\u00e9 cr\u00e8me"))
                .getBytes(StandardCharsets.ISO_8859_1));
        Path utf8 = dir.resolve("utf8.net");
        Files.write(utf8, ("net { }\n" + String.format(node, "Caf\u00e9 \ud83d\ude00"))
                .getBytes(StandardCharsets.UTF_8));
        try (Network net = new Network()) {
            net.readFile(latin1.toString());
            assertEquals("Caf\u00e9 cr\u00e8me", net.getNodeName("A"));
            net.readFile(utf8.toString());
            assertEquals("Caf\u00e9 \ud83d\ude00", net.getNodeName("A"));
        }
    }

    @Test
    void probabilityOfEvidenceOfTheTwoNodeModel() {
        try (Network net = Models.twoNode()) {
            assertEquals(1.0, net.probEvidence(), 1e-12);
            net.setEvidence("B", "b0");
            assertEquals(0.41, net.probEvidence(), 1e-12);
            net.setEvidence("A", "a1");
            assertEquals(0.7 * 0.2, net.probEvidence(), 1e-12);
        }
    }
}
