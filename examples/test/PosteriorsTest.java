package quarn.examples;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;
import quarn.Network;

/**
 * The example as its users meet it: its printed posteriors on the shipped chest-clinic model
 * against answers from full enumeration of the joint distribution, the same answers through
 * the other file formats, and one clear message with a non-zero exit code for every mistake.
 */
class PosteriorsTest {
    // P(outcome "yes") of every node, from summing the 2^7 joint configurations by hand.
    static final String[] NODES = {"VisitAsia", "Smoking", "Tuberculosis", "LungCancer",
            "Bronchitis", "Either", "XRay", "Dyspnoea"};
    static final double[] PRIOR = {0.01, 0.5, 0.0104, 0.055, 0.45, 0.064828, 0.11029, 0.4359706};
    static final double[] XRAY_AND_DYSPNOEA = {0.0139837, 0.7856104, 0.1139333, 0.6212528,
            0.6818685, 0.7287251, 1.0, 1.0};
    static final double P_XRAY_AND_DYSPNOEA = 0.0706701;
    static final double[] ASIA_CLEAR_XRAY = {1.0, 0.4767475, 0.0011697, 0.0012867, 0.4430242,
            0.0023921, 0.0, 0.410939};
    static final double P_ASIA_CLEAR_XRAY = 0.008549075;

    // Six decimals are printed; the answers above carry seven.
    static final double PRINTED = 6e-7;

    static final Pattern ROW = Pattern.compile("(\\S+) +(\\S+) +([0-9]+\\.[0-9]{6})");
    static final Pattern EVIDENCE_PROBABILITY =
            Pattern.compile("(?m)^Probability of evidence: ([0-9.eE-]+)$");

    @TempDir Path dir;

    record Run(int exitCode, String out, String err) {}

    @Test
    void shippedModelWithoutArgumentsPrintsThePriorsInItsOwnProcess() throws Exception {
        Run run = launch();
        assertEquals(0, run.exitCode(), run.err());
        assertEquals("", run.err());
        assertTrue(run.out().startsWith("Model: asia.xqnl (shipped with the example)\n"
                + "Evidence: none\n"), run.out());
        assertPosteriors(PRIOR, 1.0, run.out());
    }

    @Test
    void evidenceAloneIsSetOnTheShippedModelInItsOwnProcess() throws Exception {
        Run run = launch("XRay=yes", "Dyspnoea=yes");
        assertEquals(0, run.exitCode(), run.err());
        assertTrue(run.out().contains("Evidence: XRay=yes, Dyspnoea=yes\n"), run.out());
        assertPosteriors(XRAY_AND_DYSPNOEA, P_XRAY_AND_DYSPNOEA, run.out());
    }

    @Test
    void tableIsAlignedWithOneRowPerOutcome() {
        Run run = runHere("VisitAsia=yes", "XRay=no");
        assertEquals(0, run.exitCode(), run.err());
        assertPosteriors(ASIA_CLEAR_XRAY, P_ASIA_CLEAR_XRAY, run.out());
        List<String> table = new ArrayList<>();
        boolean inTable = false;
        for (String line : run.out().split("\n")) {
            if (line.startsWith("Node ")) {
                inTable = true;
            } else if (line.isEmpty()) {
                inTable = false;
            }
            if (inTable) {
                table.add(line);
            }
        }
        assertEquals(1 + 2 * NODES.length, table.size(), run.out());
        int end = table.get(0).length();
        int outcomeColumn = table.get(0).indexOf("Outcome");
        for (String line : table) {
            assertEquals(end, line.length(), "right edge of: " + line);
            assertFalse(Character.isWhitespace(line.charAt(outcomeColumn)), line);
        }
    }

    // The shipped model written by the library in each format it also reads, then read back
    // by the example; a ".xml" file is XMLBIF.
    @ParameterizedTest
    @ValueSource(strings = {"net", "dsc", "xml03", "xml", "XML", "xqnl"})
    void everyReadableFormatGivesTheSameAnswers(String extension) throws IOException {
        Path file = dir.resolve("chest." + extension);
        try (Network net = new Network()) {
            net.readFile(shippedCopy().toString());
            if (extension.equalsIgnoreCase("xml")) {
                Path xmlbif = dir.resolve("written.xml03");
                net.writeFile(xmlbif.toString());
                Files.move(xmlbif, file);
            } else {
                net.writeFile(file.toString());
            }
        }
        Run run = runHere(file.toString(), "XRay=yes", "Dyspnoea=yes");
        assertEquals(0, run.exitCode(), run.err());
        assertTrue(run.out().startsWith("Model: " + file + "\n"), run.out());
        assertPosteriors(XRAY_AND_DYSPNOEA, P_XRAY_AND_DYSPNOEA, run.out());
    }

    @Test
    void malformedArgumentsAreRefusedWithTheUsage() {
        String model = shippedCopy().toString();
        String[][] cases = {{model, "XRay"}, {model, "=yes"}, {model, "XRay="},
                {"XRay=yes", "Dyspnoea"}, {model, "XRay=yes", "XRay=no"}};
        for (String[] args : cases) {
            Run run = runHere(args);
            String what = String.join(" ", args);
            assertEquals(2, run.exitCode(), what);
            assertEquals("", run.out(), what);
            assertTrue(run.err().startsWith("error: "), what + ": " + run.err());
            assertTrue(run.err().contains(Posteriors.USAGE), what + ": " + run.err());
        }
        assertTrue(runHere(model, "XRay=yes", "XRay=no").err().contains("'XRay' is given twice"));
        assertTrue(runHere(model, "XRay").err().contains("malformed evidence 'XRay'"));
    }

    @Test
    void helpPrintsTheUsageAndSucceeds() {
        Run run = runHere("--help");
        assertEquals(0, run.exitCode());
        assertEquals(Posteriors.USAGE + "\n", run.out());
    }

    @Test
    void unknownNodeAndOutcomeFailWithTheLibrarysMessage() {
        String model = shippedCopy().toString();
        assertFailure(runHere(model, "Fever=yes"), "Invalid node id: Fever");
        assertFailure(runHere(model, "XRay=maybe"),
                "Invalid outcome identifier 'maybe' for node 'XRay'");
    }

    @Test
    void missingOrUnreadableFilesFailNamingTheFile() throws IOException {
        Path missing = dir.resolve("absent.xqnl");
        assertFailure(runHere(missing.toString()), "Can't open file " + missing);
        Path missingXml = dir.resolve("absent.xml");
        assertFailure(runHere(missingXml.toString()), "Can't open file " + missingXml);
        Path unknown = Files.writeString(dir.resolve("model.txt"), "net {}");
        assertFailure(runHere(unknown.toString()), "Unknown File Format");
    }

    // A ".xml" file is read through a renamed copy, which the user never sees named.
    @Test
    void brokenXmlFileFailsWithoutNamingTheCopy() throws IOException {
        Path broken = Files.writeString(dir.resolve("broken.xml"), "<BIF VERSION=\"0.3\"><NET");
        assertFailure(runHere(broken.toString()), "Expecting '>'");
        Run run = runHere(broken.toString());
        assertFalse(run.err().contains("quarn-posteriors"), run.err());
        assertFalse(run.err().contains(".xml03"), run.err());
        Path renamed = dir.resolve("renamed.xml");
        Files.writeString(renamed, "");
        run = runHere(renamed.toString());
        assertEquals(1, run.exitCode(), run.err());
        assertFalse(run.err().contains(".xml03"), run.err());
    }

    @Test
    void impossibleEvidenceFailsWithoutATable() {
        Run run = runHere(shippedCopy().toString(), "Tuberculosis=yes", "Either=no");
        assertFailure(run, "Evidence differs from the outcome implied by other evidence");
    }

    @Test
    void influenceDiagramGetsAClearMessage() {
        Path file = dir.resolve("choice.xqnl");
        try (Network net = new Network()) {
            int decision = net.addNode(17, "Choice"); // a decision node
            int utility = net.addNode(8, "Gain"); // a utility node
            int chance = net.addNode(18, "Weather");
            net.addArc(decision, utility);
            net.addArc(chance, utility);
            net.writeFile(file.toString());
        }
        assertFailure(runHere(file.toString()), file + " is an influence diagram (decision or"
                + " utility nodes: Choice, Gain); influence diagrams are not solved");
    }

    // The real entry point: the exit code reaches the shell and no stack trace is printed.
    @Test
    void userMistakeEndsTheProcessWithOneMessageAndNoStackTrace() throws Exception {
        Run run = launch(shippedCopy().toString(), "Fever=yes");
        assertEquals(1, run.exitCode());
        assertEquals("", run.out());
        assertEquals("error: Invalid node id: Fever\n", run.err());

        run = launch(shippedCopy().toString(), "Fever");
        assertEquals(2, run.exitCode());
        assertFalse(run.err().contains("Exception"), run.err());
        assertFalse(run.err().contains("\tat "), run.err());
    }

    // ---------------------------------------------------------------------------------------

    static void assertFailure(Run run, String message) {
        assertEquals(1, run.exitCode(), run.err());
        assertEquals("", run.out());
        assertTrue(run.err().startsWith("error: "), run.err());
        assertTrue(run.err().contains(message), run.err());
        assertEquals(1, run.err().strip().split("\n").length, "one message: " + run.err());
    }

    static void assertPosteriors(double[] yes, double probEvidence, String out) {
        Map<String, Map<String, Double>> table = new LinkedHashMap<>();
        for (String line : out.split("\n")) {
            Matcher row = ROW.matcher(line);
            if (row.matches()) {
                table.computeIfAbsent(row.group(1), k -> new LinkedHashMap<>())
                        .put(row.group(2), Double.parseDouble(row.group(3)));
            }
        }
        assertEquals(List.of(NODES), new ArrayList<>(table.keySet()), out);
        for (int i = 0; i < NODES.length; i++) {
            Map<String, Double> node = table.get(NODES[i]);
            assertEquals(List.of("yes", "no"), new ArrayList<>(node.keySet()), NODES[i]);
            assertEquals(yes[i], node.get("yes"), PRINTED, NODES[i] + "=yes");
            assertEquals(1 - yes[i], node.get("no"), PRINTED, NODES[i] + "=no");
        }
        Matcher pe = EVIDENCE_PROBABILITY.matcher(out);
        assertTrue(pe.find(), out);
        assertEquals(probEvidence, Double.parseDouble(pe.group(1)), probEvidence * 1e-5, out);
    }

    /** The shipped model, copied out of the example's jar. */
    Path shippedCopy() {
        Path copy = dir.resolve("asia.xqnl");
        if (!Files.exists(copy)) {
            try (InputStream model =
                            Posteriors.class.getResourceAsStream(Posteriors.SHIPPED_MODEL)) {
                assertNotNull(model, "the example's jar holds the model");
                Files.copy(model, copy);
            } catch (IOException e) {
                fail(e);
            }
        }
        return copy;
    }

    static Run runHere(String... args) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        int code;
        try (PrintStream o = new PrintStream(out, true, StandardCharsets.UTF_8);
                PrintStream e = new PrintStream(err, true, StandardCharsets.UTF_8)) {
            code = Posteriors.run(args, o, e);
        }
        return new Run(code, out.toString(StandardCharsets.UTF_8),
                err.toString(StandardCharsets.UTF_8));
    }

    Run launch(String... args) throws IOException, InterruptedException {
        String classpath = System.getProperty("quarn.examples.classpath");
        assertNotNull(classpath, "-Dquarn.examples.classpath names quarn.jar and the example");
        List<String> command = new ArrayList<>(List.of(
                Path.of(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
                "-Dquarn.library=" + System.getProperty("quarn.library"), "-cp", classpath,
                "quarn.examples.Posteriors"));
        command.addAll(List.of(args));
        Path out = Files.createTempFile(dir, "out", ".txt");
        Path err = Files.createTempFile(dir, "err", ".txt");
        Process process = new ProcessBuilder(command)
                .redirectOutput(out.toFile())
                .redirectError(err.toFile())
                .start();
        if (!process.waitFor(120, TimeUnit.SECONDS)) {
            process.destroyForcibly();
            fail("the example did not finish: " + command);
        }
        return new Run(process.exitValue(), Files.readString(out), Files.readString(err));
    }
}
