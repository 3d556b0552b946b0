package quarn;

/** One fault of a diagnosis: an outcome of a fault node, its probability and whether it is pursued. */
public class FaultInfo {
    /** Position of the fault in the diagnosis' fault list. */
    public final int index;
    /** Handle of the fault node. */
    public final int node;
    /** Index of the faulty outcome. */
    public final int outcome;
    /** Posterior probability of the outcome; a tiny sentinel when it is not available. */
    public final double probability;
    /** Whether the fault is pursued. */
    public final boolean isPursued;

    /**
     * A fault record.
     *
     * @param index position in the fault list
     * @param node handle of the fault node
     * @param outcome index of the faulty outcome
     * @param probability posterior probability
     * @param isPursued whether the fault is pursued
     */
    public FaultInfo(int index, int node, int outcome, double probability, boolean isPursued) {
        this.index = index;
        this.node = node;
        this.outcome = outcome;
        this.probability = probability;
        this.isPursued = isPursued;
    }
}
