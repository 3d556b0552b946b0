package quarn.learning;

import quarn.Network;
import quarn.Wrapper;

/**
 * Learns a naive Bayes network from a {@link DataSet}: the class variable is the parent of
 * every other variable or, with feature selection, of those that improve the score. The result
 * is a new {@link Network} with the data's variables and states.
 */
public class NaiveBayes extends Wrapper {
    /**
     * Learning with the defaults: class variable "class", no feature selection, priors method
     * 0, network weight 1.0.
     */
    public NaiveBayes() {
        ptrNative = createNative(null);
    }

    private native long createNative(Object unused);

    @Override
    protected native void deleteNative(long address);

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
     * Sets whether only the variables that improve the score become children of the class.
     *
     * @param featureSelection true to select features
     */
    public native void setFeatureSelection(boolean featureSelection);

    /**
     * Whether features are selected.
     *
     * @return true when only variables that improve the score become children of the class
     */
    public native boolean getFeatureSelection();

    /**
     * Sets the identifier of the class variable (a column of the data set).
     *
     * @param id the identifier
     * @throws quarn.QUARNException for a null identifier
     */
    public native void setClassVariableId(String id);

    /**
     * The identifier of the class variable.
     *
     * @return the identifier
     */
    public native String getClassVariableId();

    /**
     * Learns a network from the data, whose columns must all be discrete.
     *
     * @param data the data set
     * @return the learned network
     * @throws quarn.QUARNException "QUARN error -1 in function Learn" with the reason
     */
    public native Network learn(DataSet data);
}
