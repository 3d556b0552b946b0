package quarn;

/** What {@link Network#annealedMap(int[], AnnealedMapTuning)} found. */
public class AnnealedMapResults {
    private final double probability;
    private final double probEvidence;
    private final int[] mapStates;

    /**
     * Results of a search.
     *
     * @param probability the probability of the assignment given the evidence
     * @param probEvidence the probability of the evidence
     * @param mapStates the outcome index of each MAP node, in the order they were given
     */
    public AnnealedMapResults(double probability, double probEvidence, int[] mapStates) {
        this.probability = probability;
        this.probEvidence = probEvidence;
        this.mapStates = mapStates;
    }

    /**
     * The probability of the assignment given the evidence.
     *
     * @return P(assignment | evidence)
     */
    public double getProbability() {
        return probability;
    }

    /**
     * The probability of the evidence.
     *
     * @return P(evidence)
     */
    public double getProbEvidence() {
        return probEvidence;
    }

    /**
     * The outcome of each MAP node, in the order the nodes were given.
     *
     * @return outcome indices
     */
    public int[] getMapStates() {
        return mapStates.clone();
    }
}
