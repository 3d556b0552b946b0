package quarn.learning;

import quarn.Network;
import quarn.Wrapper;

/**
 * Learns a Bayesian network from a {@link DataSet} by greedy thick thinning: arcs are added
 * while one improves the score (no variable beyond the maximum number of parents), then removed
 * while a removal improves it. Background knowledge forces, forbids and orders arcs. The
 * result is a new {@link Network} with the data's variables and states.
 */
public class GreedyThickThinning extends Wrapper {
    /** Learning with the defaults: at most 5 parents, network weight 1.0, priors method 0. */
    public GreedyThickThinning() {
        ptrNative = createNative(null);
    }

    private native long createNative(Object unused);

    @Override
    protected native void deleteNative(long address);

    /**
     * Sets the largest number of parents a variable may get while arcs are added.
     *
     * @param maxParents the limit; negative for none
     */
    public native void setMaxParents(int maxParents);

    /**
     * The largest number of parents a variable may get while arcs are added.
     *
     * @return the limit
     */
    public native int getMaxParents();

    /**
     * Sets the network weight: the equivalent sample size of the priors under priors method 1.
     *
     * @param netWeight the weight, in records
     */
    public native void setNetWeight(double netWeight);

    /**
     * The network weight.
     *
     * @return the weight, in records
     */
    public native double getNetWeight();

    /**
     * Sets the priors: 0 for one prior record in every table cell, 1 for the network weight
     * spread evenly over every table.
     *
     * @param priorsMethod the method
     */
    public native void setPriorsMethod(int priorsMethod);

    /**
     * The priors method.
     *
     * @return the method
     */
    public native int getPriorsMethod();

    /**
     * Replaces the background knowledge (variables by their index in the data set). Either
     * all three lists are taken or, when an element is null, none is.
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
     * Learns a network from the data, whose columns must all be discrete.
     *
     * @param data the data set
     * @return the learned network
     * @throws quarn.QUARNException "QUARN error -1 in function Learn" with the reason
     */
    public native Network learn(DataSet data);
}
