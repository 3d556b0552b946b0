package quarn;

/** The result of one diagnosis step: the ranked tests and the faults by probability. */
public class DiagResults {
    /** The unperformed tests, best score first. */
    public final ObservationInfo[] observations;
    /** The faults, most probable first. */
    public final FaultInfo[] faults;

    /**
     * A result.
     *
     * @param observations the ranked tests
     * @param faults the sorted faults
     */
    public DiagResults(ObservationInfo[] observations, FaultInfo[] faults) {
        this.observations = observations;
        this.faults = faults;
    }
}
