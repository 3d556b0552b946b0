package quarn;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
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
}
