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
     * @param mapStates the outcome index of each MAP node, in the order they were given; the
     *     array is copied
     * @throws QUARNException when mapStates is null
     */
    public AnnealedMapResults(double probability, double probEvidence, int[] mapStates) {
        if (mapStates == null) {
            throw new QUARNException("Argument 'mapStates' must not be null");
        }
        this.probability = probability;
        this.probEvidence = probEvidence;
        this.mapStates = mapStates.clone();
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
