package quarn;

/** One unperformed test of a diagnosis step with its ranking figures. */
public class ObservationInfo {
    /** Handle of the test node; -1 or -2 for a test left out of the ranking. */
    public final int node;
    /** Strength: the expected gain of information about the pursued faults. */
    public final double entropy;
    /** Cost of the test. */
    public final double cost;
    /** Score: strength weighed against cost; the results are sorted by it. */
    public final double infoGain;

    /**
     * An observation record.
     *
     * @param node handle of the test node
     * @param entropy strength of the test
     * @param cost cost of the test
     * @param infoGain score of the test
     */
    public ObservationInfo(int node, double entropy, double cost, double infoGain) {
        this.node = node;
        this.entropy = entropy;
        this.cost = cost;
        this.infoGain = infoGain;
    }
}
