package quarn.learning;

import quarn.Wrapper;

/**
 * Learns the structure of a network from a {@link DataSet} by the PC algorithm: edges whose
 * ends are independent given some set of neighbours are removed (a G-test on discrete data,
 * Fisher's z on continuous data), the rest are oriented by background knowledge, v-structures
 * and propagation. The result is a {@link Pattern}.
 */
public class PC extends Wrapper {
    /** Learning with the defaults: conditioning sets up to 8 variables, significance 0.05. */
    public PC() {
        ptrNative = createNative(null);
    }

    private native long createNative(Object unused);

    @Override
    protected native void deleteNative(long address);

    /**
     * Sets the largest conditioning set the independence tests use.
     *
     * @param maxAdjacency the largest number of variables conditioned on
     */
    public native void setMaxAdjacency(int maxAdjacency);

    /**
     * The largest conditioning set the independence tests use.
     *
     * @return the largest number of variables conditioned on
     */
    public native int getMaxAdjacency();

    /**
     * Sets the significance level: independence is accepted when a test's p-value reaches it.
     *
     * @param significance the level
     */
    public native void setSignificance(double significance);

    /**
     * The significance level of the independence tests.
     *
     * @return the level
     */
    public native double getSignificance();

    /**
     * Replaces the background knowledge. Either all three lists are taken or, when an element
     * is null, none is.
     *
     * @param bk the knowledge; its null arrays count as empty
     * @throws quarn.QUARNException for a null argument or a null array element
     */
    public native void setBkKnowledge(BkKnowledge bk);

    /**
     * The background knowledge.
     *
     * @return a new object with the three lists
     */
    public native BkKnowledge getBkKnowledge();

    /**
     * Learns a pattern from the data. The data must be all discrete or all continuous, with at
     * least 3 records, 2 variables, no missing cell and no constant variable.
     *
     * @param data the data set
     * @return the learned pattern
     * @throws quarn.QUARNException "QUARN error -1 in function Learn" with the reason for
     *     unsuitable data or background knowledge
     */
    public native Pattern learn(DataSet data);
}
