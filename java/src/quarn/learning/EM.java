package quarn.learning;

import quarn.Network;
import quarn.Wrapper;

/**
 * Learns the probability tables of an existing network from a {@link DataSet} by
 * expectation-maximisation. Missing cells, and nodes without a column, are hidden; noisy-MAX
 * nodes are learned as noisy-MAX nodes. Nodes with the user property "QNL_NOLEARN" keep their
 * whole table ("ALL") or the listed columns.
 */
public class EM extends Wrapper {
    /** Learning with the defaults: no prior ({@code EqSampleSize} 0) and a random start. */
    public EM() {
        ptrNative = createNative(null);
    }

    private native long createNative(Object unused);

    @Override
    protected native void deleteNative(long address);

    /**
     * Sets the weight, in records, of the network's current tables as a prior; a weight other
     * than 0 also turns the random start off.
     *
     * @param size the equivalent sample size
     */
    public native void setEqSampleSize(int size);

    /**
     * The weight of the network's current tables as a prior.
     *
     * @return the equivalent sample size
     */
    public native int getEqSampleSize();

    /**
     * Chooses whether learning starts from random tables; true also sets the equivalent sample
     * size back to 0.
     *
     * @param randomize whether to start from random tables
     */
    public native void setRandomizeParameters(boolean randomize);

    /**
     * Whether learning starts from random tables.
     *
     * @return the setting
     */
    public native boolean getRandomizeParameters();

    /**
     * Learns the tables of the network from the data. Every variable of the data set must be
     * tied to a node (by {@link DataSet#matchNetwork(Network)} or {@link
     * DataSet#setNodeHandle(int, int)}). Data matched to another network, or to nodes or
     * outcomes of this one that have since been deleted or changed, is refused: match it again.
     *
     * @param data the data set
     * @param net the network whose tables are learned
     * @throws quarn.QUARNException for a variable without a valid node, for data matched to
     *     another network or to nodes and outcomes that changed since, or "QUARN error code in
     *     function Learn" with the reason when learning fails (the network is then as it was)
     */
    public native void learn(DataSet data, Network net);
}
