package quarn.examples;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

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
import java.util.Locale;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;
import quarn.Network;

/**
 * The example as its users meet it: its posteriors on the chest-clinic model against answers
 * from enumerating the joint distribution, the same answers through every format it reads,
 * and exactly one line with a non-zero exit code for every mistake.
 */
class PosteriorsTest {
    // P(outcome "yes") of every node, from summing the 2^8 joint configurations.
    static final String[] NODES = {"VisitAsia", "Smoking", "Tuberculosis", "LungCancer",
            "Bronchitis", "Either", "XRay", "Dyspnoea"};
    static final double[] PRIOR = {0.01, 0.5, 0.0104, 0.055, 0.45, 0.064828, 0.11029, 0.4359706};
    static final double[] XRAY_AND_DYSPNOEA = {0.0139837, 0.7856104, 0.1139333, 0.6212528,
            0.6818685, 0.7287251, 1.0, 1.0};
    static final double P_XRAY_AND_DYSPNOEA = 0.0706701;

    static final Pattern ROW = Pattern.compile("(\\S+) +(\\S+) +([0-9]+\\.[0-9]{6})");
    static final Pattern EVIDENCE_PROBABILITY =
            Pattern.compile("(?m)^Probability of evidence: ([0-9.eE-]+)$");

    // A -> B where B copies A and A is certainly "a": B=c has probability 0. The first
    // statement is unknown, which the reader logs and goes on.
    static final String CERTAIN_NET = "net { flavour = 1; }\n"
            + "node A { states = (\"a\" \"b\"); }\nnode B { states = (\"c\" \"d\"); }\n"
            + "potential (A) { data = (1 0); }\npotential (B | A) { data = ((0 1) (1 0)); }\n";

    // B=c leaves A at a or z, C=e at b or z, and z has probability 0: together they are
    // impossible, which no finding's own table shows as it is entered.
    static final String HIDDEN_NET = "net { }\n"
            + "node A { states = (\"a\" \"b\" \"z\"); }\nnode B { states = (\"c\" \"d\"); }\n"
            + "node C { states = (\"e\" \"f\"); }\npotential (A) { data = (0.5 0.5 0); }\n"
            + "potential (B | A) { data = ((0.5 0.5) (0 1) (0.5 0.5)); }\n"
            + "potential (C | A) { data = ((0 1) (0.5 0.5) (0.5 0.5)); }\n";

    @TempDir Path dir;
    Path asia;

    record Run(int exitCode, String out, String err) {}

    @BeforeEach
    void copyShippedModel() throws IOException {
        asia = dir.resolve("asia.xqnl");
        try (InputStream model = Posteriors.class.getResourceAsStream(Posteriors.SHIPPED_MODEL)) {
            assertNotNull(model, "the example's jar holds the model");
            Files.copy(model, asia);
        }
    }

    // The real entry point: the exit code reaches the shell, no stack trace, and a failed
    // read through a temporary copy leaves nothing behind.
    @Test
    void ownProcessPrintsPriorsAndEndsAMistakeWithOneLineAndNoLeftovers() throws Exception {
        Run run = launch();
        assertEquals(0, run.exitCode(), run.err());
        assertEquals("", run.err());
        assertTrue(run.out().startsWith("Model: asia.xqnl (shipped with the example)\n"
                + "Evidence: none\n"), run.out());
        assertPosteriors(PRIOR, 1.0, run.out());

        Files.writeString(dir.resolve("broken.xml"), "<BIF VERSION=\"0.3\"><NET");
        try (Stream<Path> files = Files.list(dir)) {
            List<Path> before = files.sorted().toList();
            assertOneLineFailure(launch(dir.resolve("broken.xml").toString()), 1, "line 1");
            try (Stream<Path> after = Files.list(dir)) {
                assertEquals(before, after.sorted().toList(), "the temporary copy is removed");
            }
        }
    }

    @Test
    void evidenceAloneGoesOnTheShippedModelAndTheTableIsAligned() {
        Run run = runHere("XRay=yes", "Dyspnoea=yes");
        assertEquals(0, run.exitCode(), run.err());
        assertTrue(run.out().contains("Evidence: XRay=yes, Dyspnoea=yes\n"), run.out());
        assertPosteriors(XRAY_AND_DYSPNOEA, P_XRAY_AND_DYSPNOEA, run.out());
        List<String> table = run.out().lines().dropWhile(l -> !l.startsWith("Node "))
                                     .takeWhile(l -> !l.isEmpty()).toList();
        assertEquals(1 + 2 * NODES.length, table.size(), run.out());
        int outcomeColumn = table.get(0).indexOf("Outcome");
        for (String line : table) {
            assertEquals(table.get(0).length(), line.length(), "right edge of: " + line);
            assertFalse(Character.isWhitespace(line.charAt(outcomeColumn)), line);
        }
        assertEquals(Posteriors.USAGE + "\n", runHere("--help").out());
    }

    // The model written by the library in each format it reads, then read by the example;
    // ".xml" holds XMLBIF, or the library's own XML ("own.xml").
    @ParameterizedTest
    @ValueSource(strings = {"net", "dsc", "dne", "qnl", "xml03", "xml", "XML", "xqnl", "own.xml"})
    void everyReadableFormatGivesTheSameAnswers(String extension) throws IOException {
        Path file = dir.resolve("chest." + extension);
        boolean copied = extension.toLowerCase(Locale.ROOT).endsWith("xml");
        try (Network net = new Network()) {
            net.readFile(asia.toString());
            Path written = dir.resolve(extension.startsWith("own") ? "own.xqnl" : "own.xml03");
            net.writeFile(copied ? written.toString() : file.toString());
            if (copied) {
                Files.move(written, file);
            }
        }
        Run run = runHere(file.toString(), "XRay=yes", "Dyspnoea=yes");
        assertEquals(0, run.exitCode(), run.err());
        assertTrue(run.out().startsWith("Model: " + file + "\n"), run.out());
        assertPosteriors(XRAY_AND_DYSPNOEA, P_XRAY_AND_DYSPNOEA, run.out());
    }

    /** A mistake: the arguments (a leading "@name" is a file in the test's folder), the exit
     *  code and what the one line must say; "(usage)" stands for the usage text. */
    static Stream<Object[]> mistakes() {
        String read = "; the extensions read are .xqnl, .qqnl, .qnl, .net, .dsc, .dne, .xml03, "
                + ".erg, .dxp, .xml";
        return Stream.of(
                "@asia.xqnl XRay|2|malformed evidence 'XRay'", "@asia.xqnl =yes|2|(usage)",
                "@asia.xqnl XRay=|2|(usage)", "XRay=yes Dyspnoea|2|(usage)",
                "@asia.xqnl XRay=yes XRay=no|2|'XRay' is given twice",
                "@asia.xqnl Fever=yes|1|asia.xqnl has no node 'Fever'",
                "@asia.xqnl XRay=maybe|1|no outcome 'maybe'; its outcomes are yes, no",
                "@absent.net|1|absent.net: no such file", "@absent.xml|1|absent.xml: no such file",
                "@folder.net|1|folder.net is a directory, not a model file",
                "@model.txt|1|unknown file extension '.txt'" + read,
                "@model|1|model: unknown file extension (none)" + read,
                "@broken.net|1|broken.net: line 3: 'potentail'", "@broken.xml|1|broken.xml: line 1",
                "@certain.net B=c|1|evidence B=c: conficting evidence between nodes [A] and [B]",
                "@hidden.net B=c C=e|1|the evidence B=c, C=e is impossible under the model",
                "@certain.net A=b|1|evidence A=b: Outcome [b] of node [A] is impossible",
                "@choice.xqnl|1|choice.xqnl is an influence diagram (decision or utility nodes:"
                        + " Choice, Gain); influence diagrams are not solved")
                .map(row -> row.split("\\|", -1))
                .map(f -> new Object[] {f[0], Integer.parseInt(f[1]),
                        f[2].replace("(usage)", "(" + Posteriors.USAGE + ")")});
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("mistakes")
    void everyMistakeIsOneLineAndANonZeroExit(String args, int exitCode, String message)
            throws IOException {
        Files.createDirectory(dir.resolve("folder.net"));
        Files.writeString(dir.resolve("model.txt"), "net {}");
        Files.writeString(dir.resolve("model"), "net {}");
        Files.writeString(dir.resolve("broken.net"), "net { }\nnode A { states = (\"a\" \"b\"); }"
                + "\npotentail (A) { data = (1 0); }\n");
        Files.writeString(dir.resolve("broken.xml"), "<BIF VERSION=\"0.3\"><NET");
        Files.writeString(dir.resolve("certain.net"), CERTAIN_NET);
        Files.writeString(dir.resolve("hidden.net"), HIDDEN_NET);
        try (Network net = new Network()) {
            int decision = net.addNode(17, "Choice");
            int utility = net.addNode(8, "Gain");
            net.addArc(decision, utility);
            net.addArc(net.addNode(18, "Weather"), utility);
            net.writeFile(dir.resolve("choice.xqnl").toString());
        }
        List<String> argv = new ArrayList<>();
        for (String arg : args.split(" ")) {
            argv.add(arg.startsWith("@") ? dir.resolve(arg.substring(1)).toString() : arg);
        }
        Run run = runHere(argv.toArray(new String[0]));
        assertOneLineFailure(run, exitCode, message);
        // Nothing logged while reading comes back in front of a later step's message.
        assertFalse(run.err().contains("flavour"), run.err());
    }

    // A hidden chain whose steps are independent (every transition 0.5), each with a child O
    // that shows "a" with probability 3/32 or 1/32: the findings O=a have probability 1/16
    // each, so P(e) = 2^-4n, and P(H=h0 | e) = 0.75 at every step. Two more nodes, B copying a
    // certain A, make B=c impossible.
    Path sixteenthChain(int steps) throws IOException {
        StringBuilder net = new StringBuilder(HIDDEN_NET);
        for (int i = 0; i < steps; i++) {
            net.append("node H").append(i).append(" { states = (\"h0\" \"h1\"); }\n");
            net.append("node O").append(i).append(" { states = (\"a\" \"b\"); }\n");
            net.append(i == 0 ? "potential (H0) { data = (0.5 0.5); }\n"
                              : "potential (H" + i + " | H" + (i - 1)
                                      + ") { data = ((0.5 0.5) (0.5 0.5)); }\n");
            net.append("potential (O").append(i).append(" | H").append(i)
                    .append(") { data = ((0.09375 0.90625) (0.03125 0.96875)); }\n");
        }
        return Files.writeString(dir.resolve("chain" + steps + ".net"), net.toString());
    }

    static String[] findings(Path model, int steps, String... more) {
        List<String> args = new ArrayList<>(List.of(model.toString()));
        for (int i = 0; i < steps; i++) {
            args.add("O" + i + "=a");
        }
        args.addAll(List.of(more));
        return args.toArray(new String[0]);
    }

    // 2^-200 is a double, 2^-1060 one of fewer digits and 2^-1100 none: all are printed in
    // scientific form to six digits, and with the last the posteriors are printed as well. No
    // line names more than five findings.
    @ParameterizedTest
    @ValueSource(ints = {50, 265, 275})
    void tinyEvidenceIsPrintedWithItsSizeAndItsPosteriors(int steps) throws IOException {
        Run run = runHere(findings(sixteenthChain(steps), steps));
        assertEquals(0, run.exitCode(), run.err());
        assertEquals("", run.err());
        assertTrue(run.out().contains("\nEvidence: O0=a, O1=a, O2=a, O3=a, O4=a, ... (" + steps
                + " findings)\n"), run.out().substring(0, 200));
        run.out().lines().forEach(line -> assertTrue(line.length() < 100, line));
        int hidden = 0;
        for (String line : run.out().split("\n")) {
            Matcher row = ROW.matcher(line);
            if (row.matches() && row.group(1).startsWith("H")) {
                double expected = row.group(2).equals("h0") ? 0.75 : 0.25;
                assertEquals(expected, Double.parseDouble(row.group(3)), 1e-6, line);
                hidden++;
            }
        }
        assertEquals(2 * steps, hidden);
        Matcher pe = Pattern.compile("(?m)^Probability of evidence: ([0-9.]+)e(-[0-9]+)"
                + "( \\(below the smallest double\\))?$").matcher(run.out());
        assertTrue(pe.find(), run.out().substring(run.out().length() - 200));
        double log10 = Math.log10(Double.parseDouble(pe.group(1))) + Long.parseLong(pe.group(2));
        assertEquals(-steps * Math.log10(16), log10, 1e-5);
        assertEquals(-steps * Math.log10(16) < Math.log10(Double.MIN_VALUE), pe.group(3) != null,
                pe.group());
    }

    // Six significant digits, plain down to 1e-4 and a mantissa in [1, 10) times a power of
    // ten below, also where the digits round up to the next power.
    @ParameterizedTest
    @ValueSource(doubles = {1, 0.0706701, 1.23456789e-4, 9.99999999e-5, 9.9999996e-61, 1e-60,
            6.2230152778611e-61, 2.5e-300})
    void compactFormKeepsSixDigits(double p) {
        String shown = Posteriors.compact(p);
        assertEquals(p, Double.parseDouble(shown), p * 5e-6, shown);
        Matcher scientific = Pattern.compile("([1-9](?:\\.[0-9]{1,5})?)e(-[0-9]+)").matcher(shown);
        assertEquals(p < Posteriors.SCIENTIFIC_BELOW, scientific.matches(), shown);
        assertTrue(shown.length() <= 13, shown);
    }

    // Impossible evidence among findings that alone are too small for a double: still
    // impossible, in one short line.
    @Test
    void impossibleEvidenceAmongManyFindingsIsOneShortLine() throws IOException {
        Run run = runHere(findings(sixteenthChain(275), 275, "B=c", "C=e"));
        assertOneLineFailure(run, 1, "the evidence O0=a, O1=a, O2=a, O3=a, O4=a, ... (277 "
                + "findings) is impossible under the model");
        assertTrue(run.err().length() < 200, run.err());
    }

    static void assertOneLineFailure(Run run, int exitCode, String message) {
        assertEquals(exitCode, run.exitCode(), run.err());
        assertEquals("", run.out());
        assertTrue(run.err().startsWith("error: ") && run.err().contains(message), run.err());
        assertEquals(1, run.err().split("\n").length, "one line: " + run.err());
        for (String internal : new String[] {"QUARN error", "Logged information", "Exception",
                "\tat ", ".xml03", "quarn-posteriors"}) {
            assertFalse(run.err().contains(internal) && !message.contains(internal), run.err());
        }
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
            // Six decimals are printed; the answers above carry seven.
            assertEquals(yes[i], node.get("yes"), 6e-7, NODES[i] + "=yes");
            assertEquals(1 - yes[i], node.get("no"), 6e-7, NODES[i] + "=no");
        }
        Matcher pe = EVIDENCE_PROBABILITY.matcher(out);
        assertTrue(pe.find(), out);
        assertEquals(probEvidence, Double.parseDouble(pe.group(1)), probEvidence * 1e-5, out);
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

    /** The example in a virtual machine of its own, whose temporary files go to the test's
     *  folder. */
    Run launch(String... args) throws IOException, InterruptedException {
        String classpath = System.getProperty("quarn.examples.classpath");
        assertNotNull(classpath, "-Dquarn.examples.classpath names quarn.jar and the example");
        List<String> command = new ArrayList<>(List.of(
                Path.of(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
                "-Dquarn.library=" + System.getProperty("quarn.library"),
                "-Djava.io.tmpdir=" + dir, "-cp", classpath, "quarn.examples.Posteriors"));
        command.addAll(List.of(args));
        // Its output is a few lines: reading one stream to the end cannot stall the other.
        Process process = new ProcessBuilder(command).start();
        String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        String err = new String(process.getErrorStream().readAllBytes(), StandardCharsets.UTF_8);
        return new Run(process.waitFor(), out, err);
    }
}
