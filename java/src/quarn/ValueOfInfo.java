package quarn;

/**
 * The value of observing chosen nodes of an influence diagram before a chosen decision is made:
 * how much the expected utility grows. Choose the observed nodes with {@link #addNode(int)}, the
 * decision with {@link #setDecision(int)} and the point of view (a decision at or before it)
 * with {@link #setPointOfView(int)}, then call {@link #update()} and read {@link #getValues()}
 * over {@link #getIndexingNodes()} (first node slowest).
 *
 * <p>The object works on a network that must stay open while the object lives: the network
 * refuses to close until this object is closed.
 * Until then the network also refuses what would make the object's handles name other nodes
 * or outcomes: reading a file, deleting a node, changing a node's type, inserting or deleting
 * an outcome.
 */
public class ValueOfInfo extends Wrapper {
    private final Network net;

    /**
     * A question about a network; the decisions and actions are read from it now.
     *
     * @param net the influence diagram
     * @throws QUARNException when net is null, closed or not consistent
     */
    public ValueOfInfo(Network net) {
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
     * The network the object works on.
     *
     * @return the network
     */
    public Network getNetwork() {
        return net;
    }

    /**
     * Computes the values of information on a copy of the network; the network stays as it was.
     *
     * @throws QUARNException "QUARN error code in function Update" when no decision is chosen
     *     (the message says which choice is missing), the diagram has no utility table, an
     *     observed node lies after the decision, or the diagram cannot be solved
     */
    public native void update();

    /**
     * The observed nodes.
     *
     * @return handles
     */
    public native int[] getAllNodes();

    /**
     * The observed nodes.
     *
     * @return identifiers
     */
    public native String[] getAllNodeIds();

    /**
     * The decisions of the network, in decision order.
     *
     * @return handles
     */
    public native int[] getAllDecisions();

    /**
     * The decisions of the network, in decision order.
     *
     * @return identifiers
     */
    public native String[] getAllDecisionIds();

    /**
     * The network's nodes in decision order, up to the last decision.
     *
     * @return handles
     */
    public native int[] getAllActions();

    /**
     * The network's nodes in decision order, up to the last decision.
     *
     * @return identifiers
     */
    public native String[] getAllActionIds();

    /**
     * The nodes that index the values of the last update.
     *
     * @return handles; empty before the first update
     */
    public native int[] getIndexingNodes();

    /**
     * The nodes that index the values of the last update.
     *
     * @return identifiers; empty before the first update
     */
    public native String[] getIndexingNodeIds();

    /**
     * The values of information of the last update, one per configuration of the indexing
     * nodes, the first indexing node slowest.
     *
     * @return values; empty before the first update
     */
    public native double[] getValues();

    /**
     * The chosen decision.
     *
     * @return its handle, -1 while none is chosen
     */
    public native int getDecision();

    /**
     * The chosen decision.
     *
     * @return its identifier, null while none is chosen
     */
    public native String getDecisionId();

    /**
     * The chosen point of view.
     *
     * @return its handle, -1 while none is chosen
     */
    public native int getPointOfView();

    /**
     * The chosen point of view.
     *
     * @return its identifier, null while none is chosen
     */
    public native String getPointOfViewId();

    /**
     * Adds a node whose observation is valued.
     *
     * @param node the node's handle
     * @throws QUARNException for a handle of no node, or "Cannot add node id to ValueOfInfo
     *     object" when it is listed already
     */
    public native void addNode(int node);

    /**
     * Adds a node whose observation is valued.
     *
     * @param node the node's identifier
     * @throws QUARNException as {@link #addNode(int)}, or for an identifier of no node
     */
    public native void addNode(String node);

    /**
     * Removes an observed node.
     *
     * @param node the node's handle
     * @throws QUARNException for a handle of no node, or "Cannot remove node id to ValueOfInfo
     *     object" when it is not listed
     */
    public native void removeNode(int node);

    /**
     * Removes an observed node.
     *
     * @param node the node's identifier
     * @throws QUARNException as {@link #removeNode(int)}, or for an identifier of no node
     */
    public native void removeNode(String node);

    /**
     * Chooses the decision made after the observation; while no point of view is chosen it
     * becomes this node too.
     *
     * @param node the decision's handle
     * @throws QUARNException for a handle of no node, or "Cannot set decision on ValueOfInfo
     *     object to node id" when it is no decision or stands before the point of view
     */
    public native void setDecision(int node);

    /**
     * Chooses the decision made after the observation.
     *
     * @param node the decision's identifier
     * @throws QUARNException as {@link #setDecision(int)}, or for an identifier of no node
     */
    public native void setDecision(String node);

    /**
     * Chooses the point of view, the action before which the observation is made; while no
     * decision is chosen it becomes this node too.
     *
     * @param node the node's handle
     * @throws QUARNException for a handle of no node, or "Cannot set point of view on
     *     ValueOfInfo object to node id" when it is no action or stands after the decision
     */
    public native void setPointOfView(int node);

    /**
     * Chooses the point of view.
     *
     * @param node the node's identifier
     * @throws QUARNException as {@link #setPointOfView(int)}, or for an identifier of no node
     */
    public native void setPointOfView(String node);
}
