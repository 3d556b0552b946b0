package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.atomic.AtomicBoolean;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Threads that each work on a network of their own, with calls that fail between calls that
 * succeed, get the answers and messages one thread alone gets. Runs in a JVM of its own,
 * since a binding that let two threads into the library at once could crash it.
 */
@Tag("isolated")
class ThreadsTest {
    static final int THREADS = 4;
    static final int ROUNDS = 400;

    @TempDir Path dir;

    /** The chain A -> B -> C with C = c1 impossible when A = a1 is observed. */
    static Network model() {
        Network net = Models.twoNode();
        int c = Models.chance(net, "C", "c0", "c1");
        net.addArc(0, c);
        net.setNodeDefinition(c, new double[] {0.6, 0.4, 1.0, 0.0});
        return net;
    }

    /** One round of calls; what each answered or raised, in order. */
    static List<String> round(Network net, String ownFile, String absentFile) {
        List<String> seen = new ArrayList<>();
        Runnable[] calls = {
            () -> net.getNodeType(9999),
            () -> net.setEvidence("B", "b7"),
            () -> net.readFile(absentFile),
            () -> net.readFile(ownFile),
            () -> {
                net.setEvidence("A", "a1");
                net.setEvidence("C", "c1");
                net.updateBeliefs();
            },
            () -> {
                net.clearAllEvidence();
                net.setEvidence("C", "c1");
                net.updateBeliefs();
                seen.add(Arrays.toString(net.getNodeValue("A")));
                seen.add(Arrays.toString(net.getNodeValue("B")));
                seen.add(Double.toString(net.probEvidence()));
                net.clearAllEvidence();
            },
            () -> net.writeFile(ownFile),
        };
        for (Runnable call : calls) {
            try {
                call.run();
                seen.add("done");
            } catch (QUARNException e) {
                seen.add(e.getMessage());
            }
        }
        return seen;
    }

    @Test
    void threadsWithFailingCallsGetWhatOneThreadGets() throws Exception {
        String absent = dir.resolve("absent.xqnl").toString();
        List<String> expected;
        try (Network net = model()) {
            String file = dir.resolve("alone.xqnl").toString();
            net.writeFile(file);
            expected = round(net, file, absent);
        }

        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        try {
            List<Future<List<String>>> results = new ArrayList<>();
            for (int t = 0; t < THREADS; t++) {
                String file = dir.resolve("thread" + t + ".xqnl").toString();
                Callable<List<String>> work = () -> {
                    try (Network net = model()) {
                        net.writeFile(file);
                        for (int r = 0; r < ROUNDS; r++) {
                            List<String> seen = round(net, file, absent);
                            if (!seen.equals(expected)) return seen;
                        }
                        return expected;
                    }
                };
                results.add(pool.submit(work));
            }
            List<List<String>> seen = new ArrayList<>();
            for (Future<List<String>> result : results) {
                seen.add(result.get());
            }
            for (List<String> one : seen) {
                assertEquals(expected, one);
            }
        } finally {
            pool.shutdown();
        }
    }

    // Under the sanitizers (the suites set ASAN_OPTIONS) a native call costs a hundred times
    // more: fewer rounds there still check the memory, the plain build's rounds the race.
    static final int HOLD_ROUNDS = System.getenv("ASAN_OPTIONS") == null ? 12000 : 600;
    // The reader pauses up to this many spin hints between its calls, so that its calls come
    // at scattered points of the builder's rounds instead of queueing for the lock.
    static final int READER_PAUSE = 2000;

    /** What an object answers about the model it was built for, in node and outcome names. */
    static String answers(AutoCloseable object) {
        List<String> seen = new ArrayList<>();
        try {
            if (object instanceof DiagNetwork) {
                DiagNetwork diag = (DiagNetwork) object;
                for (int i = 0; i < diag.getFaultCount(); i++) {
                    seen.add(diag.getFaultNodeId(i) + "=" + diag.getFaultOutcomeId(i));
                }
                seen.add(Arrays.toString(diag.getUnperformedObservationIds()));
            } else {
                ValueOfInfo voi = (ValueOfInfo) object;
                seen.add(Arrays.toString(voi.getAllDecisionIds()));
                seen.add(Arrays.toString(voi.getAllActionIds()));
            }
        } catch (QUARNException e) {
            seen.add(e.getMessage());
        }
        return String.join(" ", seen);
    }

    /** A new DiagNetwork (even rounds) or ValueOfInfo (odd rounds) over the network. */
    static AutoCloseable build(Network net, int round) {
        return round % 2 == 0 ? new DiagNetwork(net) : new ValueOfInfo(net);
    }

    /** Which model the network holds: its node identifiers. */
    static String modelOf(Network net) {
        return Arrays.toString(net.getAllNodeIds());
    }

    @Test
    void objectsBuiltWhileAnotherThreadReadsFilesAnswerForTheirOwnModel() throws Exception {
        // A diagnostic network and an influence diagram whose first node is a decision: an
        // object built for one answers in wrong names when read against the other.
        String diagnosis = dir.resolve("diagnosis.xqnl").toString();
        Files.write(Path.of(diagnosis), DiagNetworkTest.MODEL.getBytes(StandardCharsets.UTF_8));
        String decision = dir.resolve("decision.xqnl").toString();
        try (Network net = new Network()) {
            int d = net.addNode(Models.LIST, "Choice");
            Models.setOutcomes(net, d, "stay", "go");
            int c = Models.chance(net, "Weather", "dry", "wet");
            net.setNodeDefinition(c, new double[] {0.7, 0.3});
            int u = net.addNode(Models.TABLE, "Gain");
            net.addArc(d, u);
            net.addArc(c, u);
            net.setNodeDefinition(u, new double[] {1, 2, 5, -4});
            net.writeFile(decision);
        }
        String[] files = {diagnosis, decision};

        // What each kind of object answers for each model when nothing else runs.
        Map<String, String> expected = new HashMap<>();
        List<String> models = new ArrayList<>();
        try (Network net = new Network()) {
            for (String file : files) {
                net.readFile(file);
                models.add(modelOf(net));
                for (int kind = 0; kind < 2; kind++) {
                    try (AutoCloseable object = build(net, kind)) {
                        expected.put(kind + modelOf(net), answers(object));
                    }
                }
            }
        }
        for (int kind = 0; kind < 2; kind++) {
            assertNotEquals(expected.get(kind + models.get(0)), expected.get(kind + models.get(1)));
        }

        try (Network net = new Network()) {
            net.readFile(files[0]);
            AtomicBoolean done = new AtomicBoolean();
            // While an object is known to hold the network the reader only waits: its refused
            // calls would take turns with the checks for nothing. It reads while an object is
            // being built or closed, where a read must never slip in.
            AtomicBoolean held = new AtomicBoolean();
            Thread reader = new Thread(() -> {
                for (int k = 0; !done.get(); k++) {
                    if (held.get()) {
                        Thread.onSpinWait();
                        continue;
                    }
                    try {
                        net.readFile(files[k % 2]);
                    } catch (QUARNException e) {
                        // refused while an object holds the network
                    }
                    for (int w = Math.floorMod(k * 7919, READER_PAUSE + 1); w > 0; w--) {
                        Thread.onSpinWait();
                    }
                }
            });
            reader.start();
            List<String> wrong = new ArrayList<>();
            try {
                for (int round = 0; round < HOLD_ROUNDS; round++) {
                    try (AutoCloseable object = build(net, round)) {
                        held.set(true);
                        // The network keeps its model while the object holds it.
                        String key = round % 2 + modelOf(net);
                        String seen = answers(object);
                        held.set(false);
                        if (!seen.equals(expected.get(key))) {
                            wrong.add(key + ": " + seen);
                        }
                    }
                }
            } finally {
                done.set(true);
                reader.join();
            }
            assertEquals(List.of(), wrong);
        }
    }
    @Test
    void aNetworkClosedWhileAnotherThreadBuildsOnItNeverLeavesAnObjectWithoutItsNetwork()
        throws Exception {
        String diagnosis = dir.resolve("closing.xqnl").toString();
        Files.write(Path.of(diagnosis), DiagNetworkTest.MODEL.getBytes(StandardCharsets.UTF_8));
        String expected;
        try (Network net = new Network()) {
            net.readFile(diagnosis);
            try (DiagNetwork diag = new DiagNetwork(net)) {
                expected = answers(diag);
            }
        }
        List<String> wrong = new ArrayList<>();
        int closedUnderAnObject = 0;
        for (int round = 0; round < HOLD_ROUNDS / 20; round++) {
            Network net = new Network();
            net.readFile(diagnosis);
            AtomicBoolean stop = new AtomicBoolean();
            final int pause = Math.floorMod(round * 7919, READER_PAUSE + 1);
            // Closes the network as soon as it may; a close refused while an object holds the
            // network leaves it whole, and the close is tried again.
            Thread closer = new Thread(() -> {
                for (int w = pause; w > 0; w--) {
                    Thread.onSpinWait();
                }
                while (!stop.get()) {
                    try {
                        net.close();
                        return;
                    } catch (QUARNException e) {
                        for (int w = pause; w > 0; w--) {
                            Thread.onSpinWait();
                        }
                    }
                }
            });
            closer.start();
            try {
                for (int k = 0; k < 4 && net.isAlive(); k++) {
                    DiagNetwork diag;
                    try {
                        diag = new DiagNetwork(net);
                    } catch (QUARNException e) {
                        break; // the network was closed first
                    }
                    try (diag) {
                        // The network stays open while the object holds it.
                        if (!net.isAlive()) ++closedUnderAnObject;
                        String seen = answers(diag);
                        if (!seen.equals(expected)) wrong.add(seen);
                    }
                }
            } finally {
                stop.set(true);
                closer.join();
                net.close();
            }
        }
        assertEquals(List.of(), wrong);
        assertEquals(0, closedUnderAnObject);
    }
}
