package quarn;

import java.util.Map;

/**
 * Posterior marginals of a discrete network by enumerating every joint assignment, read back
 * through the binding: the reference the inference results are compared with.
 */
final class BruteForce {
    private BruteForce() {}

    /** Posterior of every node (indexed by handle) given evidence (handle to outcome). */
    static double[][] posteriors(Network net, Map<Integer, Integer> evidence) {
        int[] nodes = net.getAllNodes();
        int slots = 0;
        for (int n : nodes) {
            slots = Math.max(slots, n + 1);
        }
        int[] counts = new int[slots];
        int[][] parents = new int[slots][];
        double[][] tables = new double[slots][];
        double[][] result = new double[slots][];
        for (int n : nodes) {
            counts[n] = net.getOutcomeCount(n);
            parents[n] = net.getParents(n);
            tables[n] = net.getNodeDefinition(n);
            result[n] = new double[counts[n]];
        }
        int[] state = new int[slots];
        double total = 0;
        while (true) {
            boolean consistent = true;
            for (Map.Entry<Integer, Integer> e : evidence.entrySet()) {
                consistent &= state[e.getKey()] == e.getValue();
            }
            if (consistent) {
                double p = 1;
                for (int n : nodes) {
                    int index = 0;
                    for (int parent : parents[n]) {
                        index = index * counts[parent] + state[parent];
                    }
                    p *= tables[n][index * counts[n] + state[n]];
                }
                total += p;
                for (int n : nodes) {
                    result[n][state[n]] += p;
                }
            }
            int k = 0;
            while (k < nodes.length && ++state[nodes[k]] == counts[nodes[k]]) {
                state[nodes[k++]] = 0;
            }
            if (k == nodes.length) {
                break;
            }
        }
        for (int n : nodes) {
            for (int i = 0; i < counts[n]; i++) {
                result[n][i] /= total;
            }
        }
        return result;
    }

    /** The probability of the evidence. */
    static double probability(Network net, Map<Integer, Integer> evidence) {
        int[] nodes = net.getAllNodes();
        double[][] none = posteriors(net, Map.of());
        // P(e) by the chain rule over the evidence nodes, one at a time.
        double p = 1;
        java.util.HashMap<Integer, Integer> sofar = new java.util.HashMap<>();
        for (Map.Entry<Integer, Integer> e : evidence.entrySet()) {
            double[][] post = sofar.isEmpty() ? none : posteriors(net, sofar);
            p *= post[e.getKey()][e.getValue()];
            sofar.put(e.getKey(), e.getValue());
        }
        return nodes.length == 0 ? 1 : p;
    }
}
