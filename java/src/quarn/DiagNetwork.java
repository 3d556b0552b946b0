package quarn;

/**
 * A troubleshooting session over a network whose nodes carry diagnostic attributes: the
 * faults (flagged outcomes of target nodes), the unperformed tests (ranked observation nodes
 * without evidence) and the faults pursued. Creating the object applies the default
 * observations, updates the fault beliefs and pursues the most likely fault; {@link
 * #update(int)} ranks the tests for the pursued faults.
 *
 * <p>The network must stay open while the object lives: it refuses to close until this
 * object is closed.
 * Until then the network also refuses what would make the object's handles name other nodes
 * or outcomes: reading a file, deleting a node, changing a node's type, inserting or deleting
 * an outcome.
 */
public class DiagNetwork extends Wrapper {
    private final Network net;

    /** Rank by the marginals of the pursued faults (two or more pursued). */
    public static final int MARGINAL_STRENGTH = 1;
    /** Rank by the entropy of the product of the pursued faults' marginals. */
    public static final int PRODUCT_ENTROPY = 2;
    /** Rank by the entropy of the pursued faults' joint distribution. */
    public static final int JOINT_ENTROPY = 4;

    /**
     * A diagnosis over a network.
     *
     * @param net the diagnostic network
     * @throws QUARNException when net is null or closed, or the belief update fails
     */
    public DiagNetwork(Network net) {
        if (net == null) {
            throw new QUARNException("Argument 'net' must not be null");
        }
        this.net = net;
        ptrNative = createNative(net);
    }

    // Creates the native object and counts it as a user of the network in one native call, so
    // that no call from another thread (a file read into the network) comes in between.
    private native long createNative(Network net);

    // Destroys the native object and counts it out as a user of the network.
    @Override
    protected native void deleteNative(long address);

    /** Releases the native object and lets the network close again. */
    @Override
    public void close() {
        super.close();
    }

    /**
     * The network the diagnosis works on.
     *
     * @return the network
     */
    public Network getNetwork() {
        return net;
    }

    /**
     * Updates the fault beliefs and ranks the unperformed tests for the pursued faults.
     *
     * @param flags with two or more pursued faults the method: {@link #MARGINAL_STRENGTH},
     *     {@link #PRODUCT_ENTROPY} or {@link #JOINT_ENTROPY}, with 8, 16 or 32 for the
     *     configurations counted (at least one, exactly one, all pursued) and 64 for the
     *     squared-distance variant of the marginal measure
     * @return the tests by score and the faults by probability
     * @throws QUARNException "ComputeTestStrengths" when no fault is pursued, a mandatory
     *     observation has no evidence (the message names it), or the ranking fails
     */
    public DiagResults update(int flags) {
        return updateNative(flags);
    }

    private native DiagResults updateNative(int flags);

    /**
     * Whether only the faults above performed observations are updated.
     *
     * @return the d-separation option
     */
    public native boolean getDSep();

    /**
     * Sets the d-separation option; nothing is recomputed.
     *
     * @param dsep the option
     */
    public native void setDSep(boolean dsep);

    /**
     * The pursued fault.
     *
     * @return its index, or -2 unless exactly one fault is pursued
     */
    public native int getPursuedFault();

    /**
     * The pursued faults.
     *
     * @return their indices
     */
    public native int[] getPursuedFaults();

    /**
     * The fault with the highest probability; the later of equal ones.
     *
     * @return its index, or -2 without faults
     */
    public native int findMostLikelyFault();

    /**
     * The index of a fault.
     *
     * @param node node handle
     * @param outcome outcome index
     * @return the fault index
     * @throws QUARNException "FindFault" when the pair is no fault
     */
    public native int getFaultIndex(int node, int outcome);

    /**
     * The index of a fault.
     *
     * @param node node handle
     * @param outcome outcome identifier
     * @return the fault index
     */
    public native int getFaultIndex(int node, String outcome);

    /**
     * The index of a fault.
     *
     * @param node node identifier
     * @param outcome outcome index
     * @return the fault index
     */
    public native int getFaultIndex(String node, int outcome);

    /**
     * The index of a fault.
     *
     * @param node node identifier
     * @param outcome outcome identifier
     * @return the fault index
     */
    public native int getFaultIndex(String node, String outcome);

    /**
     * The number of unperformed tests.
     *
     * @return the count
     */
    public native int getUnperformedTestCount();

    /**
     * The unperformed tests.
     *
     * @return node handles
     */
    public native int[] getUnperformedObservations();

    /**
     * The unperformed tests.
     *
     * @return node identifiers
     */
    public native String[] getUnperformedObservationIds();

    /**
     * Whether every mandatory observation holds evidence.
     *
     * @return true when none is missing
     */
    public native boolean mandatoriesInstantiated();

    /**
     * Enters the outcome of a test.
     *
     * @param node node handle
     * @param outcome outcome index
     * @throws QUARNException "InstantiateObservation" when the evidence is refused
     */
    public native void instantiateObservation(int node, int outcome);

    /**
     * Enters the outcome of a test.
     *
     * @param node node handle
     * @param outcome outcome identifier
     */
    public native void instantiateObservation(int node, String outcome);

    /**
     * Enters the outcome of a test.
     *
     * @param node node identifier
     * @param outcome outcome index
     */
    public native void instantiateObservation(String node, int outcome);

    /**
     * Enters the outcome of a test.
     *
     * @param node node identifier
     * @param outcome outcome identifier
     */
    public native void instantiateObservation(String node, String outcome);

    /**
     * Retracts the outcome of a test; a ranked test becomes unperformed again.
     *
     * @param node node handle
     * @throws QUARNException "ReleaseObservation" when the evidence cannot be cleared
     */
    public native void releaseObservation(int node);

    /**
     * Retracts the outcome of a test.
     *
     * @param node node identifier
     */
    public native void releaseObservation(String node);

    /**
     * Pursues the faults given, in order.
     *
     * @param faults fault indices
     * @throws QUARNException "SetPursuedFaults" when empty or an index is outside the list
     */
    public native void setPursuedFaults(int[] faults);

    /**
     * The number of faults.
     *
     * @return the count
     */
    public native int getFaultCount();

    /**
     * Pursues one fault.
     *
     * @param index fault index
     */
    public native void setPursuedFault(int index);

    /**
     * A fault with its current probability (0 when not updated).
     *
     * @param index fault index
     * @return the fault
     */
    public native FaultInfo getFault(int index);

    /**
     * The node of a fault.
     *
     * @param index fault index
     * @return node handle
     */
    public native int getFaultNode(int index);

    /**
     * The node of a fault.
     *
     * @param index fault index
     * @return node identifier
     */
    public native String getFaultNodeId(int index);

    /**
     * The outcome of a fault.
     *
     * @param index fault index
     * @return outcome index
     */
    public native int getFaultOutcome(int index);

    /**
     * The outcome of a fault.
     *
     * @param index fault index
     * @return outcome identifier
     */
    public native String getFaultOutcomeId(int index);
}
