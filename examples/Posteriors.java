package quarn.examples;

import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.math.BigDecimal;
import java.math.MathContext;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import quarn.Network;
import quarn.QUARNException;

/**
 * Reads a model, sets evidence, updates beliefs and prints every node's posterior with the
 * probability of the evidence.
 *
 * <p>Usage: {@code Posteriors [model-file] [node=outcome ...]}. The file format comes from the
 * extension; a file ending in ".xml" is read as XMLBIF, or as the library's own XML format when
 * that is what it holds. Without a model file it runs on the chest-clinic network that ships
 * inside the jar (asia.xqnl, written by this library).
 *
 * <p>Exit codes: 0 when the posteriors were printed, 1 when the model could not be read or
 * updated or the evidence is impossible, 2 for a malformed command line. Every mistake is one
 * line on the error stream, never a stack trace. Evidence whose probability is too small for a
 * double is not a mistake: its posteriors are printed with the size of that probability.
 */
public final class Posteriors {
    static final String USAGE = "usage: Posteriors [model-file] [node=outcome ...]";
    static final String SHIPPED_MODEL = "asia.xqnl";
    /** The extensions read, as the user types them; ".xml" is read through a copy. */
    static final List<String> EXTENSIONS = List.of("xqnl", "qqnl", "qnl", "net", "dsc", "dne", "xml03", "erg", "dxp", "xml");

    private static final int DECISION_BIT = 1;
    private static final int UTILITY_BIT = 8;
    /** Findings a line names before it only counts the rest. */
    static final int FINDINGS_NAMED = 5;
    /** Below this a probability is printed in scientific form. */
    static final double SCIENTIFIC_BELOW = 1e-4;

    private Posteriors() {}

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    /** Runs the job and returns the exit code; nothing is printed to {@code out} on failure. */
    static int run(String[] args, PrintStream out, PrintStream err) {
        try {
            Request request = Request.parse(args);
            if (request == null) {
                out.println(USAGE);
                return 0;
            }
            out.print(evaluate(request));
            return 0;
        } catch (UsageException e) {
            err.println("error: " + e.getMessage() + " (" + USAGE + ")");
            return 2;
        } catch (Mistake e) {
            err.println("error: " + e.getMessage());
            return 1;
        } catch (QUARNException e) {
            err.println("error: " + firstLine(e.getMessage()));
            return 1;
        } catch (InvalidPathException e) {
            err.println("error: " + firstLine(e.getMessage()));
            return 1;
        } catch (UnsatisfiedLinkError e) {
            err.println("error: cannot load the quarn library (" + firstLine(e.getMessage())
                    + "); give its path with -Dquarn.library=/path/to/libquarn.so");
            return 1;
        }
    }

    /** The model to read and the evidence to set, in the order given. */
    static final class Request {
        final String modelFile; // null for the shipped model
        final Map<String, String> evidence = new LinkedHashMap<>();

        private Request(String modelFile) {
            this.modelFile = modelFile;
        }

        /** The request of a command line; null when help was asked for. */
        static Request parse(String[] args) {
            for (String arg : args) {
                if (arg.equals("-h") || arg.equals("--help")) {
                    return null;
                }
            }
            // The model file is optional: a first argument that looks like evidence and is not
            // a file is taken as evidence on the shipped model.
            int first = 0;
            String model = null;
            if (args.length > 0 && (!args[0].contains("=") || Files.exists(Path.of(args[0])))) {
                model = args[0];
                first = 1;
            }
            Request request = new Request(model);
            for (int i = first; i < args.length; i++) {
                String arg = args[i];
                int eq = arg.indexOf('=');
                if (eq <= 0 || eq == arg.length() - 1) {
                    throw new UsageException("malformed evidence '" + arg
                            + "': expected node=outcome (a model file comes first)");
                }
                String node = arg.substring(0, eq);
                String outcome = arg.substring(eq + 1);
                if (request.evidence.putIfAbsent(node, outcome) != null) {
                    throw new UsageException("evidence on node '" + node + "' is given twice");
                }
            }
            return request;
        }
    }

    static final class UsageException extends RuntimeException {
        private static final long serialVersionUID = 1L;

        UsageException(String message) {
            super(message);
        }
    }

    /** A mistake in the model or the evidence, already worded for the user. */
    static final class Mistake extends RuntimeException {
        private static final long serialVersionUID = 1L;

        Mistake(String message) {
            super(message);
        }
    }

    /** Everything the job prints, built only once every number is known. */
    static String evaluate(Request request) {
        try (Network net = new Network()) {
            String shownName = request.modelFile;
            if (request.modelFile == null) {
                shownName = SHIPPED_MODEL + " (shipped with the example)";
                readShipped(net);
            } else {
                readUserFile(net, request.modelFile);
            }
            String model = request.modelFile == null ? SHIPPED_MODEL : request.modelFile;

            refuseInfluenceDiagram(net, model);
            List<String> nodes = Arrays.asList(net.getAllNodeIds());
            for (Map.Entry<String, String> e : request.evidence.entrySet()) {
                setEvidence(net, model, nodes, e.getKey(), e.getValue());
            }
            try {
                net.updateBeliefs();
            } catch (QUARNException e) {
                throw new Mistake(model + ": " + reason(e, false));
            }
            double pe;
            try {
                pe = net.probEvidence();
            } catch (QUARNException e) {
                throw new Mistake(model + ": " + reason(e, false));
            }
            if (pe >= Double.MIN_NORMAL) {
                return format(shownName, request.evidence, readRows(net), compact(pe));
            }
            if (!(pe > 0) && request.evidence.isEmpty()) {
                throw new Mistake(model + " gives the probability 0 to every case");
            }
            // The probability is 0 for impossible evidence and for evidence too small for a
            // double; only the latter has a finding-by-finding product above 0. Above 0 but
            // below the normal doubles it has lost digits.
            try {
                double log10 = log10OfEvidence(net, request.evidence);
                if (log10 == Double.NEGATIVE_INFINITY && !(pe > 0)) {
                    throw new Mistake("the evidence " + listed(request.evidence)
                            + " is impossible under the model " + model
                            + " (its probability is 0)");
                }
                String shown = !(pe > 0) ? powerOfTen(log10) + " (below the smallest double)"
                        : log10 > Double.NEGATIVE_INFINITY ? powerOfTen(log10)
                        : compact(pe);
                net.updateBeliefs();
                return format(shownName, request.evidence, readRows(net), shown);
            } catch (QUARNException e) {
                throw new Mistake(model + ": " + reason(e, false));
            }
        }
    }

    /**
     * log10 of the probability of the evidence as the product of each finding's probability
     * given those before it, each read from an update that targets the finding's node alone;
     * -Infinity when a finding has probability 0 given those before it. The evidence is set
     * again in the order given, as it was, and no node is left a target.
     */
    static double log10OfEvidence(Network net, Map<String, String> evidence) {
        net.clearAllEvidence();
        double log10 = 0;
        for (Map.Entry<String, String> finding : evidence.entrySet()) {
            String node = finding.getKey();
            // An outcome implied by the findings before it has probability 1 given them.
            if (log10 > Double.NEGATIVE_INFINITY && !net.isEvidence(node)) {
                net.clearAllTargets();
                net.setTarget(node, true);
                net.updateBeliefs();
                int outcome = Arrays.asList(net.getOutcomeIds(node)).indexOf(finding.getValue());
                log10 += Math.log10(net.isValueValid(node) ? net.getNodeValue(node)[outcome] : 0);
            }
            net.setEvidence(node, finding.getValue());
        }
        net.clearAllTargets();
        return log10;
    }

    private static void readShipped(Network net) {
        try (InputStream model = Posteriors.class.getResourceAsStream(SHIPPED_MODEL)) {
            if (model == null) {
                throw new Mistake("the example's jar holds no " + SHIPPED_MODEL);
            }
            readCopy(net, model.readAllBytes(), SHIPPED_MODEL, SHIPPED_MODEL);
        } catch (IOException e) {
            throw new Mistake("cannot read the shipped model: " + e.getMessage());
        }
    }

    // Problems the user can fix are named before the library is asked, in the user's terms.
    private static void readUserFile(Network net, String file) {
        Path path = Path.of(file);
        if (!Files.exists(path)) {
            throw new Mistake(file + ": no such file");
        }
        if (Files.isDirectory(path)) {
            throw new Mistake(file + " is a directory, not a model file");
        }
        if (!Files.isReadable(path)) {
            throw new Mistake(file + ": permission denied");
        }
        String name = path.getFileName().toString();
        int dot = name.lastIndexOf('.');
        String extension = dot < 0 ? "" : name.substring(dot + 1).toLowerCase(Locale.ROOT);
        if (!EXTENSIONS.contains(extension)) {
            throw new Mistake(file + ": unknown file extension "
                    + (extension.isEmpty() ? "(none)" : "'." + name.substring(dot + 1) + "'")
                    + "; the extensions read are ." + String.join(", .", EXTENSIONS));
        }
        if (!extension.equals("xml")) {
            try {
                net.readFile(file);
            } catch (QUARNException e) {
                throw new Mistake(file + ": " + reason(e, true));
            }
            return;
        }
        byte[] content;
        try {
            content = Files.readAllBytes(path);
        } catch (IOException e) {
            throw new Mistake(file + ": cannot be read (" + e.getMessage() + ")");
        }
        String stem = name.substring(0, dot);
        readCopy(net, content, stem + (isOwnXml(content) ? ".xqnl" : ".xml03"), file);
    }

    // The binding reads a file in the format its extension names; ".xml" names none, so
    // the content decides: the library's own root element, or else XMLBIF.
    private static boolean isOwnXml(byte[] content) {
        String head = new String(content, 0, Math.min(content.length, 4096),
                StandardCharsets.UTF_8);
        Matcher root = Pattern.compile("<\\s*([A-Za-z_][\\w.-]*)").matcher(
                head.replaceAll("(?s)<\\?.*?\\?>|<!--.*?-->|<!DOCTYPE[^>]*>", ""));
        return root.find() && root.group(1).equals("quarn");
    }

    // The copy sits in a folder of its own that is removed however the read ends.
    private static void readCopy(Network net, byte[] content, String copyName, String shownName) {
        Path dir = null;
        Path copy = null;
        try {
            dir = Files.createTempDirectory("quarn-posteriors");
            copy = Files.write(dir.resolve(copyName), content);
            net.readFile(copy.toString());
        } catch (IOException e) {
            throw new Mistake(shownName + ": cannot make a temporary copy to read ("
                    + e.getMessage() + ")");
        } catch (QUARNException e) {
            throw new Mistake(shownName + ": "
                    + reason(e, true).replace(copy.toString(), shownName));
        } finally {
            try {
                if (copy != null) {
                    Files.deleteIfExists(copy);
                }
                if (dir != null) {
                    Files.deleteIfExists(dir);
                }
            } catch (IOException e) {
                // The read's own outcome matters more than a leftover in the temporary folder.
            }
        }
    }

    private static void setEvidence(Network net, String model, List<String> nodes, String node,
            String outcome) {
        if (!nodes.contains(node)) {
            throw new Mistake(model + " has no node '" + node + "' (evidence " + node + "="
                    + outcome + ")");
        }
        List<String> outcomes = Arrays.asList(net.getOutcomeIds(node));
        if (!outcomes.contains(outcome)) {
            throw new Mistake("node '" + node + "' has no outcome '" + outcome
                    + "'; its outcomes are " + String.join(", ", outcomes));
        }
        try {
            net.setEvidence(node, outcome);
        } catch (QUARNException e) {
            throw new Mistake("evidence " + node + "=" + outcome + ": " + reason(e, false));
        }
    }

    private static final Pattern REPORT = Pattern.compile(
            "QUARN error (-?\\d+) in function (\\w+)(?:\\. Logged information: (.*))?",
            Pattern.DOTALL);
    private static final Pattern LINE_PREFIX =
            Pattern.compile("\\(line (\\d+)\\)\\s*:\\s*(?:ERROR:\\s*)?(.*)", Pattern.DOTALL);
    private static final Pattern XML_PLACE = Pattern.compile(
            "(?:Error|Warning) at (\\d+), (\\d+) while loading [^:]*: (.*)", Pattern.DOTALL);

    /**
     * What went wrong, in one line. The library's report carries the step's name and every
     * entry of its log; a read empties the log first, so its first error is the cause, while
     * other steps find entries of earlier steps in front of their own last one.
     */
    static String reason(QUARNException e, boolean read) {
        String message = e.getMessage() == null ? "" : e.getMessage();
        Matcher report = REPORT.matcher(message.strip());
        if (!report.matches()) {
            return firstLine(message);
        }
        List<String> entries = new ArrayList<>();
        if (report.group(3) != null) {
            for (String entry : report.group(3).split("\n")) {
                if (!entry.isBlank()) {
                    entries.add(entry.strip());
                }
            }
        }
        if (entries.isEmpty()) {
            return (read ? "cannot be read" : "failed") + " (error " + report.group(1) + " in "
                    + report.group(2) + ")";
        }
        String chosen = entries.get(entries.size() - 1);
        if (read) {
            chosen = entries.get(0);
            for (String entry : entries) {
                if (!entry.regionMatches(true, 0, "warning", 0, 7)) {
                    chosen = entry;
                    break;
                }
            }
        }
        if (chosen.equals("OPEN FILE FAILED")) {
            return "cannot be opened";
        }
        Matcher line = LINE_PREFIX.matcher(chosen);
        if (line.matches()) {
            return "line " + line.group(1) + ": " + line.group(2);
        }
        Matcher place = XML_PLACE.matcher(chosen);
        if (place.matches()) {
            return "line " + place.group(1) + ", column " + place.group(2) + ": " + place.group(3);
        }
        return chosen.startsWith("ERROR: ") ? chosen.substring("ERROR: ".length()) : chosen;
    }

    static String firstLine(String text) {
        if (text == null) {
            return "";
        }
        String stripped = text.strip();
        int end = stripped.indexOf('\n');
        return end < 0 ? stripped : stripped.substring(0, end).strip();
    }

    private static void refuseInfluenceDiagram(Network net, String model) {
        List<String> found = new ArrayList<>();
        for (String id : net.getAllNodeIds()) {
            if ((net.getNodeType(id) & (DECISION_BIT | UTILITY_BIT)) != 0) {
                found.add(id);
            }
        }
        if (!found.isEmpty()) {
            String listed = found.size() <= 5 ? String.join(", ", found)
                                              : String.join(", ", found.subList(0, 5)) + ", ...";
            throw new Mistake(model + " is an influence diagram (decision or utility nodes: "
                    + listed + "); influence diagrams are not solved, so it has no posteriors"
                    + " or expected utilities to print");
        }
    }

    static String listed(Map<String, String> evidence) {
        List<String> given = new ArrayList<>();
        for (Map.Entry<String, String> finding : evidence.entrySet()) {
            if (given.size() == FINDINGS_NAMED) {
                given.add("... (" + evidence.size() + " findings)");
                break;
            }
            given.add(finding.getKey() + "=" + finding.getValue());
        }
        return given.isEmpty() ? "none" : String.join(", ", given);
    }

    /** Six significant digits: plain down to {@link #SCIENTIFIC_BELOW}, scientific below. */
    static String compact(double p) {
        if (p >= SCIENTIFIC_BELOW || p == 0) {
            return new BigDecimal(p).round(new MathContext(6)).stripTrailingZeros()
                    .toPlainString();
        }
        return powerOfTen(Math.log10(p));
    }

    /** The number 10^log10 as a mantissa of six significant digits and a power of ten. */
    static String powerOfTen(double log10) {
        double power = Math.floor(log10);
        BigDecimal mantissa = new BigDecimal(Math.pow(10, log10 - power))
                                      .round(new MathContext(6)).stripTrailingZeros();
        // 9.9999996 rounds to 10.
        if (mantissa.compareTo(BigDecimal.TEN) >= 0) {
            mantissa = BigDecimal.ONE;
            power += 1;
        }
        return mantissa.toPlainString() + "e" + (long) power;
    }

    private static List<String[]> readRows(Network net) {
        List<String[]> rows = new ArrayList<>();
        for (String id : net.getAllNodeIds()) {
            String[] outcomes = net.getOutcomeIds(id);
            double[] value = net.getNodeValue(id);
            if (value.length != outcomes.length) {
                throw new Mistake("node '" + id + "' has " + value.length
                        + " numbers in its value for " + outcomes.length + " outcomes");
            }
            for (int i = 0; i < outcomes.length; i++) {
                String probability = String.format(Locale.ROOT, "%.6f", value[i]);
                rows.add(new String[] {id, outcomes[i], probability});
            }
        }
        return rows;
    }

    private static String format(String shownName, Map<String, String> evidence,
            List<String[]> rows, String shownProbability) {
        String[] header = {"Node", "Outcome", "Probability"};
        int[] width = new int[3];
        for (int c = 0; c < 3; c++) {
            width[c] = header[c].length();
            for (String[] row : rows) {
                width[c] = Math.max(width[c], row[c].length());
            }
        }

        StringBuilder text = new StringBuilder();
        text.append("Model: ").append(shownName).append('\n');
        text.append("Evidence: ").append(listed(evidence)).append("\n\n");
        String line = "%-" + width[0] + "s  %-" + width[1] + "s  %" + width[2] + "s\n";
        text.append(String.format(Locale.ROOT, line, (Object[]) header));
        for (String[] row : rows) {
            text.append(String.format(Locale.ROOT, line, (Object[]) row));
        }
        text.append("\nProbability of evidence: ").append(shownProbability).append('\n');
        return text.toString();
    }
}
