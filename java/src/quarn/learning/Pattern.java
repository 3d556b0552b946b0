package quarn.learning;

import quarn.Network;
import quarn.Wrapper;

/**
 * A graph over the variables of a data set as structure learning leaves it: the mark of a
 * pair (i, j) is 0 for no edge, 1 for an undirected edge (marked both ways) and 2 for an edge
 * directed from i to j. A directed acyclic pattern becomes a network.
 */
public class Pattern extends Wrapper {
    /** An empty pattern, over no variables. */
    public Pattern() {
        ptrNative = createNative(null);
    }

    private native long createNative(Object unused);

    @Override
    protected native void deleteNative(long address);

    /**
     * The number of variables.
     *
     * @return the size
     */
    public native int getSize();

    /**
     * Sets the number of variables; marks between the variables kept stay, new ones are 0.
     *
     * @param size the new number of variables
     * @throws quarn.QUARNException for a negative size
     */
    public native void setSize(int size);

    /**
     * The mark of the pair (from, to).
     *
     * @param from the first variable
     * @param to the second variable
     * @return 0, 1 or 2
     * @throws quarn.QUARNException for an index out of range
     */
    public native int getEdge(int from, int to);

    /**
     * Sets the mark of the pair (from, to) only.
     *
     * @param from the first variable
     * @param to the second variable
     * @param mark the mark
     * @throws quarn.QUARNException for an index out of range
     */
    public native void setEdge(int from, int to, int mark);

    /**
     * Whether directed edges form a cycle.
     *
     * @return true for a cycle
     */
    public native boolean hasCycle();

    /**
     * Whether every edge is directed one way only and no cycle forms.
     *
     * @return true for a directed acyclic pattern
     */
    public native boolean isDAG();

    /**
     * A new network with a node per variable of the data and an arc per directed edge.
     *
     * @param data the data set the pattern was learned from
     * @return the network
     * @throws quarn.QUARNException "QUARN error -1 in function MakeNetwork" for a pattern that is
     *     not a DAG (the message names the first undirected or two-way pair, or a cycle) or does
     *     not fit the data
     */
    public native Network makeNetwork(DataSet data);
}
