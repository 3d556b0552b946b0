package quarn.examples;

import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.math.BigDecimal;
import java.math.MathContext;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import quarn.Network;
import quarn.QUARNException;

/**
 * Reads a model, sets evidence, updates beliefs and prints every node's posterior with the
 * probability of the evidence.
 *
 * <p>Usage: {@code Posteriors [model-file] [node=outcome ...]}. The file format comes from the
 * extension; a file ending in ".xml" is read as XMLBIF. Without a model file it runs on the
 * chest-clinic network that ships inside the jar (asia.xqnl, written by this library).
 *
 * <p>Exit codes: 0 when the posteriors were printed, 1 when the model could not be read or
 * updated, 2 for a malformed command line. Errors are printed as one message, never as a
 * stack trace.
 */
public final class Posteriors {
    static final String USAGE = "usage: Posteriors [model-file] [node=outcome ...]";
    static final String SHIPPED_MODEL = "asia.xqnl";

    private static final int DECISION_BIT = 1;
    private static final int UTILITY_BIT = 8;

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
            err.println("error: " + e.getMessage());
            err.println(USAGE);
            return 2;
        } catch (QUARNException e) {
            err.println("error: " + e.getMessage().strip());
            return 1;
        } catch (InvalidPathException e) {
            err.println("error: " + e.getMessage());
            return 1;
        } catch (UnsatisfiedLinkError e) {
            err.println("error: cannot load the quarn library (" + e.getMessage()
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

    /** Everything the job prints, built only once every number is known. */
    static String evaluate(Request request) {
        try (Network net = new Network()) {
            String shownName = request.modelFile;
            if (request.modelFile == null) {
                shownName = SHIPPED_MODEL + " (shipped with the example)";
                try (InputStream model = Posteriors.class.getResourceAsStream(SHIPPED_MODEL)) {
                    if (model == null) {
                        throw new QUARNException("the jar holds no " + SHIPPED_MODEL);
                    }
                    readCopy(net, model, SHIPPED_MODEL, SHIPPED_MODEL);
                } catch (IOException e) {
                    throw new QUARNException("cannot read the shipped model: " + e.getMessage());
                }
            } else if (request.modelFile.toLowerCase(Locale.ROOT).endsWith(".xml")) {
                readXmlbif(net, request.modelFile);
            } else {
                net.readFile(request.modelFile);
            }

            refuseInfluenceDiagram(net, shownName);
            for (Map.Entry<String, String> e : request.evidence.entrySet()) {
                net.setEvidence(e.getKey(), e.getValue());
            }
            net.updateBeliefs();
            return format(net, shownName, request.evidence);
        }
    }

    // The library picks XMLBIF by the extension ".xml03"; a ".xml" file is read through a copy
    // that has it. Messages name the user's file, not the copy.
    private static void readXmlbif(Network net, String file) {
        Path path = Path.of(file);
        String stem = path.getFileName().toString();
        stem = stem.substring(0, stem.length() - ".xml".length());
        InputStream in;
        try {
            in = Files.newInputStream(path);
        } catch (IOException e) {
            throw new QUARNException("Can't open file " + file);
        }
        try (in) {
            readCopy(net, in, stem + ".xml03", file);
        } catch (IOException e) {
            throw new QUARNException("Can't copy " + file + " to a temporary file: "
                    + e.getMessage());
        }
    }

    private static void readCopy(Network net, InputStream content, String copyName,
                                 String shownName) throws IOException {
        Path dir = Files.createTempDirectory("quarn-posteriors");
        Path copy = dir.resolve(copyName);
        try {
            Files.copy(content, copy, StandardCopyOption.REPLACE_EXISTING);
            try {
                net.readFile(copy.toString());
            } catch (QUARNException e) {
                throw new QUARNException(e.getMessage().replace(copy.toString(), shownName));
            }
        } finally {
            Files.deleteIfExists(copy);
            Files.deleteIfExists(dir);
        }
    }

    private static void refuseInfluenceDiagram(Network net, String shownName) {
        List<String> found = new ArrayList<>();
        for (String id : net.getAllNodeIds()) {
            if ((net.getNodeType(id) & (DECISION_BIT | UTILITY_BIT)) != 0) {
                found.add(id);
            }
        }
        if (!found.isEmpty()) {
            String listed = found.size() <= 5 ? String.join(", ", found)
                                              : String.join(", ", found.subList(0, 5)) + ", ...";
            throw new QUARNException(shownName + " is an influence diagram (decision or utility"
                    + " nodes: " + listed + "); influence diagrams are not solved, so it has no"
                    + " posteriors or expected utilities to print");
        }
    }

    private static String format(Network net, String shownName, Map<String, String> evidence) {
        List<String[]> rows = new ArrayList<>();
        for (String id : net.getAllNodeIds()) {
            String[] outcomes = net.getOutcomeIds(id);
            double[] value = net.getNodeValue(id);
            if (value.length != outcomes.length) {
                throw new QUARNException("node '" + id + "' has " + value.length
                        + " numbers in its value for " + outcomes.length + " outcomes");
            }
            for (int i = 0; i < outcomes.length; i++) {
                String probability = String.format(Locale.ROOT, "%.6f", value[i]);
                rows.add(new String[] {id, outcomes[i], probability});
            }
        }
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
        List<String> given = new ArrayList<>();
        evidence.forEach((node, outcome) -> given.add(node + "=" + outcome));
        text.append("Evidence: ").append(given.isEmpty() ? "none" : String.join(", ", given))
                .append("\n\n");
        String line = "%-" + width[0] + "s  %-" + width[1] + "s  %" + width[2] + "s\n";
        text.append(String.format(Locale.ROOT, line, (Object[]) header));
        for (String[] row : rows) {
            text.append(String.format(Locale.ROOT, line, (Object[]) row));
        }
        double pe = net.probEvidence();
        String shown = Double.isFinite(pe) ? new BigDecimal(pe).round(new MathContext(6))
                                                     .stripTrailingZeros().toPlainString()
                                           : Double.toString(pe);
        text.append("\nProbability of evidence: ").append(shown).append('\n');
        return text.toString();
    }
}
