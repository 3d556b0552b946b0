package quarn;

/**
 * A graphical model held by the native library: nodes with outcomes, arcs, definitions,
 * evidence and the beliefs computed from them.
 *
 * <p>Nodes are named by handle ({@code int}, as returned by {@link #addNode(int, String)} and
 * {@link #getAllNodes()}) or by identifier ({@code String}); outcomes by index (0 is the first)
 * or by identifier. The identifier overloads look the node up, then behave as the handle
 * overload. A handle of no node raises {@link QUARNException} "Invalid node handle: h", an
 * identifier of no node "Invalid node id: id", an outcome index out of range "Invalid outcome
 * index ...", an unknown outcome identifier "Invalid outcome identifier ...", and a null
 * argument "Argument '...' must not be null". A refusal of the library itself reads "QUARN error
 * code in function Operation", followed by what the library logged during that call (never
 * lines of earlier calls). Every method raises {@link QUARNException} once the network has been closed.
 *
 * <p>A network owns native memory: close it (it is {@link AutoCloseable}) when done.
 */
public class Network extends Wrapper {
    /**
     * Creates an empty network: no nodes, 1000 samples, Bayesian algorithm 0.
     *
     * @throws QUARNException when the native network cannot be allocated
     */
    public Network() {
        ptrNative = createNative(null);
    }

    private native long createNative(Object unused);

    // ValueOfInfo and DiagNetwork objects that work on this network; it may not close, nor lose
    // nodes or renumber outcomes, while there are any. The native calls that create and delete
    // those objects keep the count, under the lock of native calls.
    private int users;

    /**
     * Releases the native network; later native calls raise {@link QUARNException}. A second
     * call does nothing.
     *
     * @throws QUARNException while a {@link ValueOfInfo} or {@link DiagNetwork} object still works
     *     on this network
     */
    @Override
    public void close() {
        if (users > 0) {
            throw new QUARNException("The network is used by a ValueOfInfo or DiagNetwork object");
        }
        // Unlike other objects, the address stays until the native side, under the lock of
        // native calls, has checked again that no object created meanwhile holds the network.
        long address = ptrNative;
        if (address != 0) {
            deleteNative(address);
        }
    }

    // Deletes the native network and sets ptrNative to 0, unless an object holds the network
    // (QUARNException) or another thread's close took it first (nothing happens).
    @Override
    protected native void deleteNative(long address);

    // Network-level methods.

    /**
     * Replaces the network by the model in a file; the extension chooses the format:
     * ".xqnl" or ".qqnl" (the library's XML), ".net" (Hugin), ".dsc" (MSBN), ".dne" (Netica),
     * ".xml03" (XMLBIF).
     *
     * @param path the file to read
     * @throws QUARNException when the extension names no format ("Unknown File Format", the
     *     network unchanged), or when the file cannot be opened or read; the message carries what
     *     the read logged, each problem with its line, and the network keeps what was read; while a
     *     {@link ValueOfInfo} or {@link DiagNetwork} object works on this network (nothing read)
     */
    public native void readFile(String path);

    /**
     * Writes the network to a file in the format its extension chooses (as for
     * {@link #readFile(String)}). The file is replaced only once it is written completely.
     *
     * @param path the file to write
     * @throws QUARNException when the extension names no format, when the format cannot express
     *     this network (nothing is written), or when the file cannot be written
     */
    public native void writeFile(String path);

    /**
     * Computes the beliefs of the nodes (all of them, or the targets when there are any) under
     * the current evidence; read them with {@link #getNodeValue(int)}.
     *
     * @throws QUARNException when the network cannot be updated (a table too large, a node
     *     without a valid definition, an algorithm that does not apply)
     */
    public native void updateBeliefs();

    /**
     * The probability of the current evidence under the model: 1 without evidence, 0 when the
     * evidence is impossible.
     *
     * @return the probability of the evidence
     * @throws QUARNException with code -1 when it cannot be computed
     */
    public native double probEvidence();

    /**
     * The number of samples the sampling algorithms draw.
     *
     * @return the number of samples, 1000 in a new network
     * @throws QUARNException when the network has been closed
     */
    public native int getSampleCount();

    /**
     * Sets the number of samples the sampling algorithms draw.
     *
     * @param count the number of samples, at least 1
     * @throws QUARNException when count is below 1 (the old number is kept)
     */
    public native void setSampleCount(int count);

    /**
     * The network's identifier.
     *
     * @return the identifier
     * @throws QUARNException when the network has been closed
     */
    public native String getId();

    /**
     * Sets the network's identifier.
     *
     * @param id a letter followed by letters, digits and underscores
     * @throws QUARNException when id is null or not such an identifier, or "QUARN error -2 in
     *     function SetId" when a node or a submodel has it (the old one is kept)
     */
    public native void setId(String id);

    /**
     * The network's name, free text.
     *
     * @return the name
     * @throws QUARNException when the network has been closed
     */
    public native String getName();

    /**
     * Sets the network's name.
     *
     * @param name any text without the character U+0000
     * @throws QUARNException when name is null or holds U+0000
     */
    public native void setName(String name);

    /**
     * The network's description, free text.
     *
     * @return the description
     * @throws QUARNException when the network has been closed
     */
    public native String getDescription();

    /**
     * Sets the network's description.
     *
     * @param description any text without the character U+0000
     * @throws QUARNException when description is null or holds U+0000
     */
    public native void setDescription(String description);

    /**
     * The algorithm {@link #updateBeliefs()} uses for Bayesian networks.
     *
     * @return its identifier, 0 to 12 (0, the join tree, in a new network)
     * @throws QUARNException when the network has been closed
     */
    public native int getBayesianAlgorithm();

    /**
     * Chooses the algorithm {@link #updateBeliefs()} uses for Bayesian networks; an identifier
     * outside 0 to 12 is ignored.
     *
     * @param algorithm the algorithm's identifier
     * @throws QUARNException when the network has been closed
     */
    public native void setBayesianAlgorithm(int algorithm);

    /**
     * The algorithm chosen for influence diagrams.
     *
     * @return its identifier, 0 or 1
     * @throws QUARNException when the network has been closed
     */
    public native int getInfluenceDiagramAlgorithm();

    /**
     * Chooses the algorithm for influence diagrams; an identifier other than 0 or 1 is ignored.
     *
     * @param algorithm the algorithm's identifier
     * @throws QUARNException when the network has been closed
     */
    public native void setInfluenceDiagramAlgorithm(int algorithm);

    // Nodes.

    /**
     * The number of nodes.
     *
     * @return the number of nodes
     * @throws QUARNException when the network has been closed
     */
    public native int getNodeCount();

    /**
     * The handle of the first node, to walk the nodes with {@link #getNextNode(int)}.
     *
     * @return the first node's handle, or -1 when there is none
     * @throws QUARNException when the network has been closed
     */
    public native int getFirstNode();

    /**
     * The handle of the node after a given one; handles of deleted nodes are skipped. The walk
     * starts from {@link #getFirstNode()}: a negative handle (-1 included) is taken as the end.
     *
     * @param node a handle, as returned by {@link #getFirstNode()} or by this method; it need
     *     not name a node that still exists
     * @return the next node's handle, or -1 after the last node and for a negative handle
     * @throws QUARNException when the network has been closed
     */
    public native int getNextNode(int node);

    /**
     * The handle of the node with an identifier.
     *
     * @param id the node's identifier
     * @return its handle
     * @throws QUARNException when id is null or names no node
     */
    public native int getNode(String id);

    /**
     * The handles of all nodes, in handle order.
     *
     * @return the handles
     * @throws QUARNException when the network has been closed
     */
    public native int[] getAllNodes();

    /**
     * The identifiers of all nodes, in handle order.
     *
     * @return the identifiers
     * @throws QUARNException when the network has been closed
     */
    public native String[] getAllNodeIds();

    /**
     * Adds a node of a type: 18 a chance node with a probability table, 17 a decision, 8 a
     * utility, 20 a deterministic node, 4 an equation node. A new discrete node has two
     * outcomes.
     *
     * @param type the node type
     * @param id the identifier (a letter followed by letters, digits and underscores), or null
     *     for a generated one ("Node" and a number)
     * @return the new node's handle
     * @throws QUARNException when id is not an identifier or is taken, or the type is unknown
     */
    public native int addNode(int type, String id);

    /**
     * Adds a node of a type with a generated identifier, as {@link #addNode(int, String)}.
     *
     * @param type the node type
     * @return the new node's handle
     * @throws QUARNException when the type is unknown
     */
    public native int addNode(int type);

    /**
     * Deletes a node with its arcs. Its handle names no node until a later {@link
     * #addNode(int, String)} reuses it: freed handles are given to new nodes, so keep
     * identifiers, not handles, across deletions.
     *
     * @param node the node's handle
     * @throws QUARNException when the handle names no node, or while a {@link ValueOfInfo} or
     *     {@link DiagNetwork} object works on this network
     */
    public native void deleteNode(int node);

    /**
     * Deletes a node with its arcs.
     *
     * @param node the node's identifier
     * @throws QUARNException when the identifier is null or names no node
     */
    public native void deleteNode(String node);

    /**
     * The type of a node (see {@link #addNode(int, String)}).
     *
     * @param node the node's handle
     * @return the type
     * @throws QUARNException when the handle names no node
     */
    public native int getNodeType(int node);

    /**
     * The type of a node (see {@link #addNode(int, String)}).
     *
     * @param node the node's identifier
     * @return the type
     * @throws QUARNException when the identifier is null or names no node
     */
    public native int getNodeType(String node);

    /**
     * Changes the type of a node, keeping what the new type can keep.
     *
     * @param node the node's handle
     * @param type the new type
     * @throws QUARNException when the handle names no node or the node cannot take the type
     *     (the node keeps its type), or while a {@link ValueOfInfo} or {@link DiagNetwork}
     *     object works on this network
     */
    public native void setNodeType(int node, int type);

    /**
     * Changes the type of a node, as {@link #setNodeType(int, int)}.
     *
     * @param node the node's identifier
     * @param type the new type
     * @throws QUARNException when the identifier names no node or the node cannot take the type
     */
    public native void setNodeType(String node, int type);

    /**
     * The identifier of a node.
     *
     * @param node the node's handle
     * @return the identifier
     * @throws QUARNException when the handle names no node
     */
    public native String getNodeId(int node);

    /**
     * Renames a node's identifier.
     *
     * @param node the node's handle
     * @param id the new identifier, a letter followed by letters, digits and underscores
     * @throws QUARNException when the handle names no node, or id is null, not an identifier
     *     or taken by another node (the old identifier is kept)
     */
    public native void setNodeId(int node, String id);

    /**
     * Renames a node's identifier, as {@link #setNodeId(int, String)}.
     *
     * @param node the node's current identifier
     * @param id the new identifier
     * @throws QUARNException when node names no node, or id is null, not an identifier or taken
     */
    public native void setNodeId(String node, String id);

    /**
     * The name of a node, free text.
     *
     * @param node the node's handle
     * @return the name
     * @throws QUARNException when the handle names no node
     */
    public native String getNodeName(int node);

    /**
     * The name of a node, free text.
     *
     * @param node the node's identifier
     * @return the name
     * @throws QUARNException when the identifier is null or names no node
     */
    public native String getNodeName(String node);

    /**
     * Sets the name of a node.
     *
     * @param node the node's handle
     * @param name any text without the character U+0000
     * @throws QUARNException when the handle names no node, or name is null or holds U+0000
     */
    public native void setNodeName(int node, String name);

    /**
     * Sets the name of a node.
     *
     * @param node the node's identifier
     * @param name any text without the character U+0000
     * @throws QUARNException when node names no node, or name is null or holds U+0000
     */
    public native void setNodeName(String node, String name);

    /**
     * The description of a node, free text.
     *
     * @param node the node's handle
     * @return the description
     * @throws QUARNException when the handle names no node
     */
    public native String getNodeDescription(int node);

    /**
     * The description of a node, free text.
     *
     * @param node the node's identifier
     * @return the description
     * @throws QUARNException when the identifier is null or names no node
     */
    public native String getNodeDescription(String node);

    /**
     * Sets the description of a node.
     *
     * @param node the node's handle
     * @param description any text without the character U+0000
     * @throws QUARNException when the handle names no node, or description is null or holds
     *     U+0000
     */
    public native void setNodeDescription(int node, String description);

    /**
     * Sets the description of a node.
     *
     * @param node the node's identifier
     * @param description any text without the character U+0000
     * @throws QUARNException when node names no node, or description is null or holds U+0000
     */
    public native void setNodeDescription(String node, String description);

    // Arcs.

    /**
     * Adds an arc; the child's definition grows a dimension for the new parent.
     *
     * @param parent the parent's handle
     * @param child the child's handle
     * @throws QUARNException when a handle names no node, or the arc exists, would close a
     *     cycle or is not allowed between these node types (nothing changes)
     */
    public native void addArc(int parent, int child);

    /**
     * Adds an arc, as {@link #addArc(int, int)}; the child's identifier is looked up first.
     *
     * @param parent the parent's identifier
     * @param child the child's identifier
     * @throws QUARNException when an identifier names no node, or the arc exists, would close a
     *     cycle or is not allowed (nothing changes)
     */
    public native void addArc(String parent, String child);

    /**
     * Removes an arc; the child's definition loses the parent's dimension.
     *
     * @param parent the parent's handle
     * @param child the child's handle
     * @throws QUARNException when a handle names no node or there is no such arc
     */
    public native void deleteArc(int parent, int child);

    /**
     * Removes an arc, as {@link #deleteArc(int, int)}; the child's identifier is looked up first.
     *
     * @param parent the parent's identifier
     * @param child the child's identifier
     * @throws QUARNException when an identifier names no node or there is no such arc
     */
    public native void deleteArc(String parent, String child);

    /**
     * The parents of a node, in the order that indexes its definition.
     *
     * @param node the node's handle
     * @return the parents' handles
     * @throws QUARNException when the handle names no node
     */
    public native int[] getParents(int node);

    /**
     * The parents of a node, in the order that indexes its definition.
     *
     * @param node the node's identifier
     * @return the parents' handles
     * @throws QUARNException when the identifier is null or names no node
     */
    public native int[] getParents(String node);

    /**
     * The parents of a node, in the order that indexes its definition.
     *
     * @param node the node's handle
     * @return the parents' identifiers
     * @throws QUARNException when the handle names no node
     */
    public native String[] getParentIds(int node);

    /**
     * The parents of a node, in the order that indexes its definition.
     *
     * @param node the node's identifier
     * @return the parents' identifiers
     * @throws QUARNException when the identifier is null or names no node
     */
    public native String[] getParentIds(String node);

    /**
     * The children of a node, in the order their arcs were added.
     *
     * @param node the node's handle
     * @return the children's handles
     * @throws QUARNException when the handle names no node
     */
    public native int[] getChildren(int node);

    /**
     * The children of a node, in the order their arcs were added.
     *
     * @param node the node's identifier
     * @return the children's handles
     * @throws QUARNException when the identifier is null or names no node
     */
    public native int[] getChildren(String node);

    /**
     * The children of a node, in the order their arcs were added.
     *
     * @param node the node's handle
     * @return the children's identifiers
     * @throws QUARNException when the handle names no node
     */
    public native String[] getChildIds(int node);

    /**
     * The children of a node, in the order their arcs were added.
     *
     * @param node the node's identifier
     * @return the children's identifiers
     * @throws QUARNException when the identifier is null or names no node
     */
    public native String[] getChildIds(String node);

    // Outcomes.

    /**
     * The number of outcomes of a node.
     *
     * @param node the node's handle
     * @return the number of outcomes, or a negative code for a node without an outcome list
     *     (an equation node)
     * @throws QUARNException when the handle names no node
     */
    public native int getOutcomeCount(int node);

    /**
     * The number of outcomes of a node, as {@link #getOutcomeCount(int)}.
     *
     * @param node the node's identifier
     * @return the number of outcomes, or a negative code for a node without an outcome list
     * @throws QUARNException when the identifier is null or names no node
     */
    public native int getOutcomeCount(String node);

    /**
     * Adds an outcome after the last one; the definitions of the node and its children grow.
     *
     * <p>An identifier that another outcome of the node already has is not refused: the new
     * outcome is named instead "State" (for a decision node "Choice") followed by the number of
     * outcomes the node had before the call, the number counted up until no outcome of the node
     * has that name, and the call succeeds. Adding "low" to the outcomes {@code low, high}
     * gives {@code low, high, State2}; adding it to {@code low, high, State3} gives {@code low,
     * high, State3, State4}. {@link #getOutcomeId(int, int)} tells the name the outcome got.
     *
     * @param node the node's handle
     * @param id the outcome's identifier, a letter followed by letters, digits and underscores;
     *     replaced as above when another outcome of the node has it
     * @throws QUARNException when id is null or not an identifier (checked first), the handle
     *     names no node, or the node keeps no outcome list it can grow (a utility, CAST or
     *     DeMorgan node, for one)
     */
    public native void addOutcome(int node, String id);

    /**
     * Adds an outcome after the last one, as {@link #addOutcome(int, String)}: an identifier
     * that another outcome of the node has is replaced by "State" (for a decision node
     * "Choice") followed by the number of outcomes before the call, counted up until it is
     * unique, and the call succeeds.
     *
     * @param node the node's identifier
     * @param id the outcome's identifier; replaced when taken
     * @throws QUARNException when node names no node, id is null or not an identifier, or the
     *     node keeps no outcome list it can grow
     */
    public native void addOutcome(String node, String id);

    /**
     * Inserts an outcome before the one at a position; the definitions of the node and its
     * children grow.
     *
     * <p>An identifier that another outcome of the node already has is not refused: the new
     * outcome is named instead "State" (for a decision node "Choice") followed by the number of
     * outcomes the node had before the call, the number counted up until no outcome of the node
     * has that name, and the call succeeds. Inserting "high" at 0 into the outcomes {@code low,
     * high} gives {@code State2, low, high}.
     *
     * @param node the node's handle
     * @param position the index the new outcome takes, 0 to the number of outcomes
     * @param id the outcome's identifier, a letter followed by letters, digits and underscores;
     *     replaced as above when another outcome of the node has it
     * @throws QUARNException when id is null or not an identifier (checked first), the handle
     *     names no node, the position is out of range, the node keeps no outcome list it can
     *     grow (a utility, CAST or DeMorgan node, for one), or while a {@link ValueOfInfo} or
     *     {@link DiagNetwork} object works on this network
     */
    public native void insertOutcome(int node, int position, String id);

    /**
     * Inserts an outcome, as {@link #insertOutcome(int, int, String)}: an identifier that
     * another outcome of the node has is replaced by "State" (for a decision node "Choice")
     * followed by the number of outcomes before the call, counted up until it is unique, and
     * the call succeeds.
     *
     * @param node the node's identifier
     * @param position the index the new outcome takes
     * @param id the outcome's identifier; replaced when taken
     * @throws QUARNException when node names no node, id is null or not an identifier, the
     *     position is out of range, or the node keeps no outcome list it can grow
     */
    public native void insertOutcome(String node, int position, String id);

    /**
     * Deletes an outcome; the definitions of the node and its children shrink.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @throws QUARNException when the handle names no node, the index is out of range, or the
     *     node would be left with fewer outcomes than it needs (two for a table), or while a
     *     {@link ValueOfInfo} or {@link DiagNetwork} object works on this network
     */
    public native void deleteOutcome(int node, int outcome);

    /**
     * Deletes an outcome, as {@link #deleteOutcome(int, int)}.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @throws QUARNException when node names no node, the index is out of range, or the node
     *     would be left with too few outcomes
     */
    public native void deleteOutcome(String node, int outcome);

    /**
     * Deletes an outcome, as {@link #deleteOutcome(int, int)}.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @throws QUARNException when the handle names no node, the outcome is null or not one of
     *     the node's, or the node would be left with too few outcomes
     */
    public native void deleteOutcome(int node, String outcome);

    /**
     * Deletes an outcome, as {@link #deleteOutcome(int, int)}.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @throws QUARNException when node names no node, the outcome is null or not one of the
     *     node's, or the node would be left with too few outcomes
     */
    public native void deleteOutcome(String node, String outcome);

    /**
     * Renames an outcome.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @param id the new identifier
     * @throws QUARNException when the handle names no node, the index is out of range, or id is
     *     null, not an identifier (an ASCII letter, then ASCII letters, digits or underscores) or
     *     taken by another outcome of the node ("QUARN error -2 in function RenameOutcome",
     *     followed by which of the two)
     */
    public native void setOutcomeId(int node, int outcome, String id);

    /**
     * Renames an outcome, as {@link #setOutcomeId(int, int, String)}.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @param id the new identifier
     * @throws QUARNException when node names no node, the index is out of range, or id is
     *     refused
     */
    public native void setOutcomeId(String node, int outcome, String id);

    /**
     * The identifier of an outcome.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @return the identifier
     * @throws QUARNException when the handle names no node or the index is out of range
     */
    public native String getOutcomeId(int node, int outcome);

    /**
     * The identifier of an outcome.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @return the identifier
     * @throws QUARNException when node names no node or the index is out of range
     */
    public native String getOutcomeId(String node, int outcome);

    /**
     * The identifiers of a node's outcomes, in index order.
     *
     * @param node the node's handle
     * @return the identifiers; empty for a node without an outcome list
     * @throws QUARNException when the handle names no node
     */
    public native String[] getOutcomeIds(int node);

    /**
     * The identifiers of a node's outcomes, in index order.
     *
     * @param node the node's identifier
     * @return the identifiers; empty for a node without an outcome list
     * @throws QUARNException when the identifier is null or names no node
     */
    public native String[] getOutcomeIds(String node);

    // Evidence.

    /**
     * Observes an outcome of a node, replacing earlier evidence on it. Evidence that
     * deterministic tables imply for other nodes is set on them too.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @throws QUARNException when the handle names no node, the index is out of range, or the
     *     outcome is impossible given the model and the other evidence (nothing changes)
     */
    public native void setEvidence(int node, int outcome);

    /**
     * Observes an outcome of a node, as {@link #setEvidence(int, int)}.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @throws QUARNException when the handle names no node, the outcome is null or not one of
     *     the node's, or the outcome is impossible
     */
    public native void setEvidence(int node, String outcome);

    /**
     * Observes an outcome of a node, as {@link #setEvidence(int, int)}.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @throws QUARNException when node names no node, the index is out of range, or the
     *     outcome is impossible
     */
    public native void setEvidence(String node, int outcome);

    /**
     * Observes an outcome of a node, as {@link #setEvidence(int, int)}.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @throws QUARNException when node names no node, the outcome is null or not one of the
     *     node's, or the outcome is impossible
     */
    public native void setEvidence(String node, String outcome);

    /**
     * Removes the evidence set on a node, with what it implied for other nodes.
     *
     * @param node the node's handle
     * @throws QUARNException when the handle names no node or the node holds no evidence
     */
    public native void clearEvidence(int node);

    /**
     * Removes the evidence set on a node, as {@link #clearEvidence(int)}.
     *
     * @param node the node's identifier
     * @throws QUARNException when node names no node or the node holds no evidence
     */
    public native void clearEvidence(String node);

    /**
     * Removes the evidence of every node.
     *
     * @throws QUARNException when the network has been closed
     */
    public native void clearAllEvidence();

    /**
     * The outcome observed on a node, set or implied.
     *
     * @param node the node's handle
     * @return the outcome's index
     * @throws QUARNException when the handle names no node or the node has no evidence
     */
    public native int getEvidence(int node);

    /**
     * The outcome observed on a node, set or implied.
     *
     * @param node the node's identifier
     * @return the outcome's index
     * @throws QUARNException when node names no node or the node has no evidence
     */
    public native int getEvidence(String node);

    /**
     * The outcome observed on a node, set or implied.
     *
     * @param node the node's handle
     * @return the outcome's identifier
     * @throws QUARNException when the handle names no node or the node has no evidence
     */
    public native String getEvidenceId(int node);

    /**
     * The outcome observed on a node, set or implied.
     *
     * @param node the node's identifier
     * @return the outcome's identifier
     * @throws QUARNException when node names no node or the node has no evidence
     */
    public native String getEvidenceId(String node);

    /**
     * Whether a node has evidence, set on it or implied by other evidence.
     *
     * @param node the node's handle
     * @return true when an outcome of the node is known
     * @throws QUARNException when the handle names no node
     */
    public native boolean isEvidence(int node);

    /**
     * Whether a node has evidence, set on it or implied by other evidence.
     *
     * @param node the node's identifier
     * @return true when an outcome of the node is known
     * @throws QUARNException when the identifier is null or names no node
     */
    public native boolean isEvidence(String node);

    /**
     * Whether evidence was set on the node itself.
     *
     * @param node the node's handle
     * @return true when the node's outcome was set, not implied
     * @throws QUARNException when the handle names no node
     */
    public native boolean isRealEvidence(int node);

    /**
     * Whether evidence was set on the node itself.
     *
     * @param node the node's identifier
     * @return true when the node's outcome was set, not implied
     * @throws QUARNException when the identifier is null or names no node
     */
    public native boolean isRealEvidence(String node);

    /**
     * Whether the node's outcome is implied by evidence on other nodes through deterministic
     * tables.
     *
     * @param node the node's handle
     * @return true when the node's outcome is implied, not set
     * @throws QUARNException when the handle names no node
     */
    public native boolean isPropagatedEvidence(int node);

    /**
     * Whether the node's outcome is implied by evidence on other nodes through deterministic
     * tables.
     *
     * @param node the node's identifier
     * @return true when the node's outcome is implied, not set
     * @throws QUARNException when the identifier is null or names no node
     */
    public native boolean isPropagatedEvidence(String node);

    // Values.

    /**
     * Whether a node's value is up to date: true after {@link #updateBeliefs()} until a change
     * of evidence, definitions or structure reaches the node.
     *
     * @param node the node's handle
     * @return true when {@link #getNodeValue(int)} may be read
     * @throws QUARNException when the handle names no node
     */
    public native boolean isValueValid(int node);

    /**
     * Whether a node's value is up to date, as {@link #isValueValid(int)}.
     *
     * @param node the node's identifier
     * @return true when {@link #getNodeValue(String)} may be read
     * @throws QUARNException when the identifier is null or names no node
     */
    public native boolean isValueValid(String node);

    /**
     * The value of a node computed by {@link #updateBeliefs()}: for a chance node the
     * posterior probability of each outcome, in outcome order. A value indexed by parents
     * (see {@link #getValueIndexingParents(int)}) holds one such block per combination of
     * their outcomes, the last parent varying fastest.
     *
     * @param node the node's handle
     * @return the numbers of the value
     * @throws QUARNException when the handle names no node or the value is not valid ("Value
     *     not valid - node 'id'")
     */
    public native double[] getNodeValue(int node);

    /**
     * The value of a node, as {@link #getNodeValue(int)}.
     *
     * @param node the node's identifier
     * @return the numbers of the value
     * @throws QUARNException when node names no node or the value is not valid
     */
    public native double[] getNodeValue(String node);

    /**
     * The nodes that index a node's value besides its own outcomes (decisions and observations
     * before a decision); empty for the nodes of a Bayesian network.
     *
     * @param node the node's handle
     * @return the indexing nodes' handles
     * @throws QUARNException when the handle names no node
     */
    public native int[] getValueIndexingParents(int node);

    /**
     * The nodes that index a node's value, as {@link #getValueIndexingParents(int)}.
     *
     * @param node the node's identifier
     * @return the indexing nodes' handles
     * @throws QUARNException when the identifier is null or names no node
     */
    public native int[] getValueIndexingParents(String node);

    /**
     * The nodes that index a node's value, as {@link #getValueIndexingParents(int)}.
     *
     * @param node the node's handle
     * @return the indexing nodes' identifiers
     * @throws QUARNException when the handle names no node
     */
    public native String[] getValueIndexingParentIds(int node);

    /**
     * The nodes that index a node's value, as {@link #getValueIndexingParents(int)}.
     *
     * @param node the node's identifier
     * @return the indexing nodes' identifiers
     * @throws QUARNException when the identifier is null or names no node
     */
    public native String[] getValueIndexingParentIds(String node);

    // Targets.

    /**
     * Whether a node is a target. When some nodes are targets, {@link #updateBeliefs()} computes
     * only what they need.
     *
     * @param node the node's handle
     * @return true for a target
     * @throws QUARNException when the handle names no node
     */
    public native boolean isTarget(int node);

    /**
     * Whether a node is a target, as {@link #isTarget(int)}.
     *
     * @param node the node's identifier
     * @return true for a target
     * @throws QUARNException when the identifier is null or names no node
     */
    public native boolean isTarget(String node);

    /**
     * Makes a node a target or an ordinary node again.
     *
     * @param node the node's handle
     * @param target true to make it a target, false to remove the mark
     * @throws QUARNException when the handle names no node, or the node already is (or is not)
     *     a target ("Cannot change target status for node 'id'")
     */
    public native void setTarget(int node, boolean target);

    /**
     * Makes a node a target or an ordinary node again, as {@link #setTarget(int, boolean)}.
     *
     * @param node the node's identifier
     * @param target true to make it a target, false to remove the mark
     * @throws QUARNException when node names no node, or its mark is already as asked
     */
    public native void setTarget(String node, boolean target);

    /**
     * Removes the target mark of every node.
     *
     * @throws QUARNException when the network has been closed
     */
    public native void clearAllTargets();

    // Definitions.

    /**
     * The numbers that define a node: for a chance node its conditional probability table,
     * one block of outcome probabilities per combination of the parents' outcomes, the last
     * parent varying fastest; for a utility node one utility per combination. For a noisy-MAX
     * node they are its parameters: one column of outcome probabilities per outcome of each
     * parent, parents in order and each parent's columns in its strength order, then the leak
     * column; the constrained last column of each parent is included.
     *
     * @param node the node's handle
     * @return a copy of the numbers
     * @throws QUARNException when the handle names no node or its definition is not an array
     *     of numbers (an equation node)
     */
    public native double[] getNodeDefinition(int node);

    /**
     * The numbers that define a node, as {@link #getNodeDefinition(int)}.
     *
     * @param node the node's identifier
     * @return a copy of the numbers
     * @throws QUARNException when node names no node or its definition is not an array of
     *     numbers
     */
    public native double[] getNodeDefinition(String node);

    /**
     * Replaces the numbers that define a node, laid out as {@link #getNodeDefinition(int)}
     * returns them; the values that depend on the node are no longer valid.
     *
     * @param node the node's handle
     * @param definition the numbers, exactly as many as the definition holds
     * @throws QUARNException when the handle names no node, definition is null or of another
     *     size ("Invalid definition array size ..."), or the definition refuses the numbers
     *     (the old ones are kept)
     */
    public native void setNodeDefinition(int node, double[] definition);

    /**
     * Replaces the numbers that define a node, as {@link #setNodeDefinition(int, double[])}.
     *
     * @param node the node's identifier
     * @param definition the numbers, exactly as many as the definition holds
     * @throws QUARNException when node names no node, definition is null or of another size, or
     *     the definition refuses the numbers
     */
    public native void setNodeDefinition(String node, double[] definition);

    // Noisy-MAX strengths.

    /**
     * The strength order of a parent of a noisy-MAX node: the parent's outcome indices in the
     * order of the node's parameter columns for that parent, the last one being the outcome
     * that has no effect on the node.
     *
     * @param node the noisy-MAX node's handle
     * @param parent the parent's position among the node's parents
     * @return a copy of the order
     * @throws QUARNException when the handle names no node, the node is not a noisy-MAX node,
     *     or the position is outside the node's parents
     */
    public native int[] getNoisyParentStrengths(int node, int parent);

    /**
     * The strength order of a parent, as {@link #getNoisyParentStrengths(int, int)}.
     *
     * @param node the noisy-MAX node's handle
     * @param parent the parent's identifier
     * @return a copy of the order
     * @throws QUARNException when the handle names no node, parent is not exactly (case
     *     included) the identifier of one of the node's parents ("Node '...' is not a child of
     *     node '...'", checked before the node's type), or the node is not a noisy-MAX node
     */
    public native int[] getNoisyParentStrengths(int node, String parent);

    /**
     * The strength order of a parent, as {@link #getNoisyParentStrengths(int, int)}.
     *
     * @param node the noisy-MAX node's identifier
     * @param parent the parent's position among the node's parents
     * @return a copy of the order
     * @throws QUARNException when node names no node, the node is not a noisy-MAX node, or the
     *     position is outside the node's parents
     */
    public native int[] getNoisyParentStrengths(String node, int parent);

    /**
     * The strength order of a parent, as {@link #getNoisyParentStrengths(int, int)}.
     *
     * @param node the noisy-MAX node's identifier
     * @param parent the parent's identifier
     * @return a copy of the order
     * @throws QUARNException when node names no node, parent is not exactly the identifier of
     *     one of the node's parents (checked before the node's type), or the node is not a
     *     noisy-MAX node
     */
    public native int[] getNoisyParentStrengths(String node, String parent);

    /**
     * Replaces the strength order of a parent of a noisy-MAX node, laid out as {@link
     * #getNoisyParentStrengths(int, int)} returns it; the parameter columns stay where they
     * are and the node's table is computed again. The values that depend on the node are no
     * longer valid.
     *
     * @param node the noisy-MAX node's handle
     * @param parent the parent's position among the node's parents
     * @param strengths the parent's outcome indices, each exactly once
     * @throws QUARNException when the handle names no node, the node is not a noisy-MAX node,
     *     the position is outside the node's parents, strengths is null or of another length
     *     ("Invalid parent strength array size ..."), or it is not a permutation of the
     *     parent's outcome indices (nothing changes)
     */
    public native void setNoisyParentStrengths(int node, int parent, int[] strengths);

    /**
     * Replaces the strength order of a parent, as {@link #setNoisyParentStrengths(int, int,
     * int[])}.
     *
     * @param node the noisy-MAX node's handle
     * @param parent the parent's identifier
     * @param strengths the parent's outcome indices, each exactly once
     * @throws QUARNException when the handle names no node, parent is not exactly (case
     *     included) the identifier of one of the node's parents ("Node '...' is not a child of
     *     node '...'", checked before the node's type), the node is not a noisy-MAX node, or
     *     strengths is null, of another length or not a permutation
     */
    public native void setNoisyParentStrengths(int node, String parent, int[] strengths);

    /**
     * Replaces the strength order of a parent, as {@link #setNoisyParentStrengths(int, int,
     * int[])}.
     *
     * @param node the noisy-MAX node's identifier
     * @param parent the parent's position among the node's parents
     * @param strengths the parent's outcome indices, each exactly once
     * @throws QUARNException when node names no node, the node is not a noisy-MAX node, the
     *     position is outside the node's parents, or strengths is null, of another length or
     *     not a permutation
     */
    public native void setNoisyParentStrengths(String node, int parent, int[] strengths);

    /**
     * Replaces the strength order of a parent, as {@link #setNoisyParentStrengths(int, int,
     * int[])}.
     *
     * @param node the noisy-MAX node's identifier
     * @param parent the parent's identifier
     * @param strengths the parent's outcome indices, each exactly once
     * @throws QUARNException when node names no node, parent is not exactly the identifier of
     *     one of the node's parents (checked before the node's type), the node is not a
     *     noisy-MAX node, or strengths is null, of another length or not a permutation
     */
    public native void setNoisyParentStrengths(String node, String parent, int[] strengths);

    // Annealed MAP.

    /**
     * Searches the most probable joint outcomes of the MAP nodes given the current evidence (a
     * node with evidence may not be a MAP node). The search runs on a copy: this network's
     * evidence and values stay as they were. In an influence diagram the decisions that the MAP
     * and evidence nodes depend on must be set (given evidence); the search then ignores the
     * utilities.
     *
     * @param nodes the MAP nodes' handles
     * @param tuning the search's tuning and seed, installed in the network; null for the
     *     network's current tuning and a seed from the time and the clock
     * @return the outcomes found, their probability given the evidence and the probability of
     *     the evidence
     * @throws QUARNException for a null array, a handle of no node, an invalid tuning ("QUARN
     *     error -2 in function SetAnnealedMapTuning"), or "QUARN error code in function
     *     AnnealedMAP" when a node is listed twice, holds evidence or is a decision or utility
     *     node, a MAP or evidence node depends on a decision that is not set, the evidence is
     *     impossible or the network cannot be updated
     */
    public native AnnealedMapResults annealedMap(int[] nodes, AnnealedMapTuning tuning);

    /**
     * Searches the most probable joint outcomes of the MAP nodes, as {@link #annealedMap(int[],
     * AnnealedMapTuning)}.
     *
     * @param ids the MAP nodes' identifiers
     * @param tuning the search's tuning and seed; null for the network's current tuning
     * @return the outcomes found, in the order of ids, and the two probabilities
     * @throws QUARNException as {@link #annealedMap(int[], AnnealedMapTuning)}, or "Invalid node
     *     id: id" for an identifier of no node
     */
    public native AnnealedMapResults annealedMap(String[] ids, AnnealedMapTuning tuning);

    // Display and submodels. Colours are the host's; positions are top-left corner and size.

    /**
     * Places a node: its box's top-left corner and size.
     *
     * @param node the node's handle
     * @param x the left edge
     * @param y the top edge
     * @param width the width
     * @param height the height
     * @throws QUARNException when the handle names no node, or when the centre of the box does not
     *     fit an int
     */
    public native void setNodePosition(int node, int x, int y, int width, int height);

    /**
     * The box of a node, as set by setNodePosition.
     *
     * @param node the node's handle
     * @return the top-left corner and size
     * @throws QUARNException when the handle names no node
     */
    public native java.awt.Rectangle getNodePosition(int node);

    /**
     * Sets the background colour of a node; the alpha is not kept.
     *
     * @param node the node's handle
     * @param color the colour
     * @throws QUARNException when the handle names no node, or when color is null
     */
    public native void setNodeBgColor(int node, java.awt.Color color);

    /**
     * The background colour of a node, opaque; red 1, green 0, blue 0 when never set.
     *
     * @param node the node's handle
     * @return the colour
     * @throws QUARNException when the handle names no node
     */
    public native java.awt.Color getNodeBgColor(int node);

    /**
     * Sets the text colour of a node; the alpha is not kept.
     *
     * @param node the node's handle
     * @param color the colour
     * @throws QUARNException when the handle names no node, or when color is null
     */
    public native void setNodeTextColor(int node, java.awt.Color color);

    /**
     * The text colour of a node, opaque; red 1, green 0, blue 0 when never set.
     *
     * @param node the node's handle
     * @return the colour
     * @throws QUARNException when the handle names no node
     */
    public native java.awt.Color getNodeTextColor(int node);

    /**
     * Sets the border colour of a node; the alpha is not kept.
     *
     * @param node the node's handle
     * @param color the colour
     * @throws QUARNException when the handle names no node, or when color is null
     */
    public native void setNodeBorderColor(int node, java.awt.Color color);

    /**
     * The border colour of a node, opaque; red 1, green 0, blue 0 when never set.
     *
     * @param node the node's handle
     * @return the colour
     * @throws QUARNException when the handle names no node
     */
    public native java.awt.Color getNodeBorderColor(int node);

    /**
     * Sets the border width of a node.
     *
     * @param node the node's handle
     * @param width the width, stored as given
     * @throws QUARNException when the handle names no node
     */
    public native void setNodeBorderWidth(int node, int width);

    /**
     * The border width of a node; -2147483647 when never set.
     *
     * @param node the node's handle
     * @return the width
     * @throws QUARNException when the handle names no node
     */
    public native int getNodeBorderWidth(int node);

    /**
     * Places a node: its box's top-left corner and size.
     *
     * @param node the node's identifier
     * @param x the left edge
     * @param y the top edge
     * @param width the width
     * @param height the height
     * @throws QUARNException when the identifier names no node, or when the centre of the box does
     *     not fit an int
     */
    public native void setNodePosition(String node, int x, int y, int width, int height);

    /**
     * The box of a node, as set by setNodePosition.
     *
     * @param node the node's identifier
     * @return the top-left corner and size
     * @throws QUARNException when the identifier names no node
     */
    public native java.awt.Rectangle getNodePosition(String node);

    /**
     * Sets the background colour of a node; the alpha is not kept.
     *
     * @param node the node's identifier
     * @param color the colour
     * @throws QUARNException when the identifier names no node, or when color is null
     */
    public native void setNodeBgColor(String node, java.awt.Color color);

    /**
     * The background colour of a node, opaque; red 1, green 0, blue 0 when never set.
     *
     * @param node the node's identifier
     * @return the colour
     * @throws QUARNException when the identifier names no node
     */
    public native java.awt.Color getNodeBgColor(String node);

    /**
     * Sets the text colour of a node; the alpha is not kept.
     *
     * @param node the node's identifier
     * @param color the colour
     * @throws QUARNException when the identifier names no node, or when color is null
     */
    public native void setNodeTextColor(String node, java.awt.Color color);

    /**
     * The text colour of a node, opaque; red 1, green 0, blue 0 when never set.
     *
     * @param node the node's identifier
     * @return the colour
     * @throws QUARNException when the identifier names no node
     */
    public native java.awt.Color getNodeTextColor(String node);

    /**
     * Sets the border colour of a node; the alpha is not kept.
     *
     * @param node the node's identifier
     * @param color the colour
     * @throws QUARNException when the identifier names no node, or when color is null
     */
    public native void setNodeBorderColor(String node, java.awt.Color color);

    /**
     * The border colour of a node, opaque; red 1, green 0, blue 0 when never set.
     *
     * @param node the node's identifier
     * @return the colour
     * @throws QUARNException when the identifier names no node
     */
    public native java.awt.Color getNodeBorderColor(String node);

    /**
     * Sets the border width of a node.
     *
     * @param node the node's identifier
     * @param width the width, stored as given
     * @throws QUARNException when the identifier names no node
     */
    public native void setNodeBorderWidth(String node, int width);

    /**
     * The border width of a node; -2147483647 when never set.
     *
     * @param node the node's identifier
     * @return the width
     * @throws QUARNException when the identifier names no node
     */
    public native int getNodeBorderWidth(String node);

    /**
     * The number of submodels, the main submodel included.
     *
     * @return the number of submodels
     */
    public native int getSubmodelCount();

    /**
     * The first submodel of the network's walk.
     *
     * @return its handle, or -2 when there is none
     */
    public native int getFirstSubmodel();

    /**
     * The submodel after this one in the network's walk.
     *
     * @param submodel the submodel's handle
     * @return its handle, or -1 at the end or for a handle of no submodel
     */
    public native int getNextSubmodel(int submodel);

    /**
     * The submodel with this identifier.
     *
     * @param id the submodel's identifier
     * @return its handle
     * @throws QUARNException "Invalid submodel id: 'id'" when no submodel has it
     */
    public native int getSubmodel(String id);

    /**
     * The main submodel, the root of the submodel tree (the handle 0 names it too).
     *
     * @return 16384
     * @throws QUARNException "Main submodel not found" for a network without one
     */
    public native int getMainSubmodel();

    /**
     * The identifier of the main submodel.
     *
     * @return the identifier
     * @throws QUARNException "Main submodel not found" for a network without one
     */
    public native String getMainSubmodelId();

    /**
     * Adds a submodel; its identifier is also its name.
     *
     * @param parent the parent submodel's handle
     * @param id the identifier
     * @return the new submodel's handle
     * @throws QUARNException for an identifier not of identifier form, or "QUARN error -2 in
     *     function CreateSubmodel" for a parent of no submodel or an identifier a submodel or a
     *     node has
     */
    public native int addSubmodel(int parent, String id);

    /**
     * Adds a submodel, as {@link #addSubmodel(int, String)}; the parent is checked first.
     *
     * @param parent the parent submodel's identifier
     * @param id the identifier
     * @return the new submodel's handle
     * @throws QUARNException as {@link #addSubmodel(int, String)}, or for an identifier of no
     *     submodel
     */
    public native int addSubmodel(String parent, String id);

    /**
     * Deletes a submodel; its nodes and submodels move to its parent.
     *
     * @param submodel the submodel's handle
     * @throws QUARNException when the handle names no submodel, or "QUARN error -2 in function
     *     DeleteSubmodel" for the main submodel
     */
    public native void deleteSubmodel(int submodel);

    /**
     * Deletes a submodel; its nodes and submodels move to its parent.
     *
     * @param submodel the submodel's identifier
     * @throws QUARNException when the identifier names no submodel, or "QUARN error -2 in function
     *     DeleteSubmodel" for the main submodel
     */
    public native void deleteSubmodel(String submodel);

    /**
     * Renames a submodel.
     *
     * @param submodel the submodel's handle
     * @param id the new identifier
     * @throws QUARNException when the handle names no submodel, for an identifier not of identifier
     *     form, or "QUARN error -2 in function SetId" when another submodel or a node has it
     */
    public native void setSubmodelId(int submodel, String id);

    /**
     * The identifier of a submodel.
     *
     * @param submodel the submodel's handle
     * @return the identifier
     * @throws QUARNException when the handle names no submodel
     */
    public native String getSubmodelId(int submodel);

    /**
     * Sets the name of a submodel.
     *
     * @param submodel the submodel's handle
     * @param name any text without U+0000
     * @throws QUARNException when the handle names no submodel, or when name is null
     */
    public native void setSubmodelName(int submodel, String name);

    /**
     * The name of a submodel.
     *
     * @param submodel the submodel's handle
     * @return the name, or null when never set
     * @throws QUARNException when the handle names no submodel
     */
    public native String getSubmodelName(int submodel);

    /**
     * Sets the name of a submodel.
     *
     * @param submodel the submodel's identifier
     * @param name any text without U+0000
     * @throws QUARNException when the identifier names no submodel, or when name is null
     */
    public native void setSubmodelName(String submodel, String name);

    /**
     * The name of a submodel.
     *
     * @param submodel the submodel's identifier
     * @return the name, or null when never set
     * @throws QUARNException when the identifier names no submodel
     */
    public native String getSubmodelName(String submodel);

    /**
     * Sets the description of a submodel.
     *
     * @param submodel the submodel's handle
     * @param text any text without U+0000
     * @throws QUARNException when the handle names no submodel, or when text is null
     */
    public native void setSubmodelDescription(int submodel, String text);

    /**
     * Sets the description of a submodel, as {@link #setSubmodelDescription(int, String)}.
     *
     * @param submodel the submodel's identifier
     * @param text any text without U+0000
     * @throws QUARNException when the identifier names no submodel, or when text is null
     */
    public native void setSubmodelDescrpition(String submodel, String text);

    /**
     * The description of a submodel.
     *
     * @param submodel the submodel's handle
     * @return the description, or null when never set
     * @throws QUARNException when the handle names no submodel
     */
    public native String getSubmodelDescription(int submodel);

    /**
     * The description of a submodel.
     *
     * @param submodel the submodel's identifier
     * @return the description, or null when never set
     * @throws QUARNException when the identifier names no submodel
     */
    public native String getSubmodelDescription(String submodel);

    /**
     * Moves a node into a submodel; the handle is recorded as given.
     *
     * @param submodel the submodel's handle
     * @param node the node's handle
     * @throws QUARNException for a handle of no node (checked first) or of no submodel
     */
    public native void setSubmodelOfNode(int submodel, int node);

    /**
     * Moves a node into a submodel, as {@link #setSubmodelOfNode(int, int)}.
     *
     * @param submodel the submodel's identifier
     * @param node the node's identifier
     * @throws QUARNException for an identifier of no node (checked first) or of no submodel
     */
    public native void setSubmodelOfNode(String submodel, String node);

    /**
     * Moves a submodel under another.
     *
     * @param parent the new parent's handle
     * @param submodel the moved submodel's handle
     * @throws QUARNException for a handle of no submodel (the moved one checked first), or "QUARN
     *     error -2 in function SetSubmodel" when the main submodel is moved or the parent lies
     *     inside the moved one
     */
    public native void setSubmodelOfSubmodel(int parent, int submodel);

    /**
     * Moves a submodel under another, as {@link #setSubmodelOfSubmodel(int, int)}.
     *
     * @param parent the new parent's identifier
     * @param submodel the moved submodel's identifier
     * @throws QUARNException as {@link #setSubmodelOfSubmodel(int, int)}
     */
    public native void setSubmodelOfSubmodel(String parent, String submodel);

    /**
     * The parent of a submodel.
     *
     * @param submodel the submodel's handle
     * @return the parent's handle; -8888 for the main submodel
     * @throws QUARNException when the handle names no submodel
     */
    public native int getSubmodelOfSubmodel(int submodel);

    /**
     * The parent of a submodel.
     *
     * @param submodel the submodel's identifier
     * @return the parent's handle; -8888 for the main submodel
     * @throws QUARNException when the identifier names no submodel
     */
    public native int getSubmodelOfSubmodel(String submodel);

    /**
     * The submodel a node lies in.
     *
     * @param node the node's handle
     * @return the submodel handle the node records
     * @throws QUARNException when the handle names no node
     */
    public native int getSubmodelOfNode(int node);

    /**
     * The submodel a node lies in.
     *
     * @param node the node's identifier
     * @return the submodel handle the node records
     * @throws QUARNException when the identifier names no node
     */
    public native int getSubmodelOfNode(String node);

    /**
     * Places a submodel's box: its top-left corner and size.
     *
     * @param submodel the submodel's handle
     * @param x the left edge
     * @param y the top edge
     * @param width the width
     * @param height the height
     * @throws QUARNException when the handle names no submodel, or when the centre of the box does
     *     not fit an int
     */
    public native void setSubmodelPosition(int submodel, int x, int y, int width, int height);

    /**
     * The box of a submodel.
     *
     * @param submodel the submodel's handle
     * @return the top-left corner and size
     * @throws QUARNException when the handle names no submodel
     */
    public native java.awt.Rectangle getSubmodelPosition(int submodel);

    /**
     * Places a submodel's box: its top-left corner and size.
     *
     * @param submodel the submodel's identifier
     * @param x the left edge
     * @param y the top edge
     * @param width the width
     * @param height the height
     * @throws QUARNException when the identifier names no submodel, or when the centre of the box
     *     does not fit an int
     */
    public native void setSubmodelPosition(String submodel, int x, int y, int width, int height);

    /**
     * The box of a submodel.
     *
     * @param submodel the submodel's identifier
     * @return the top-left corner and size
     * @throws QUARNException when the identifier names no submodel
     */
    public native java.awt.Rectangle getSubmodelPosition(String submodel);

    // Diagnostic attributes of nodes and outcomes.

    /**
     * The fix text of an outcome (empty when never set).
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @return the fix
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeFix(int node, int outcome);

    /**
     * The fix text of an outcome (empty when never set).
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @return the fix
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeFix(String node, int outcome);

    /**
     * The fix text of an outcome (empty when never set).
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @return the fix
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeFix(int node, String outcome);

    /**
     * The fix text of an outcome (empty when never set).
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @return the fix
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeFix(String node, String outcome);

    /**
     * Sets the fix text of an outcome.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @param fix any text without U+0000
     * @throws QUARNException when the node or the outcome is named wrongly, or fix is null
     */
    public native void setOutcomeFix(int node, int outcome, String fix);

    /**
     * Sets the fix text of an outcome.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @param fix any text without U+0000
     * @throws QUARNException when the node or the outcome is named wrongly, or fix is null
     */
    public native void setOutcomeFix(String node, int outcome, String fix);

    /**
     * Sets the fix text of an outcome.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @param fix any text without U+0000
     * @throws QUARNException when the node or the outcome is named wrongly, or fix is null
     */
    public native void setOutcomeFix(int node, String outcome, String fix);

    /**
     * Sets the fix text of an outcome.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @param fix any text without U+0000
     * @throws QUARNException when the node or the outcome is named wrongly, or fix is null
     */
    public native void setOutcomeFix(String node, String outcome, String fix);

    /**
     * The diagnostic description of an outcome (empty when never set).
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @return the description
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeDescription(int node, int outcome);

    /**
     * The diagnostic description of an outcome (empty when never set).
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @return the description
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeDescription(String node, int outcome);

    /**
     * The diagnostic description of an outcome (empty when never set).
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @return the description
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeDescription(int node, String outcome);

    /**
     * The diagnostic description of an outcome (empty when never set).
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @return the description
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeDescription(String node, String outcome);

    /**
     * Sets the diagnostic description of an outcome.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @param description any text without U+0000
     * @throws QUARNException when the node or the outcome is named wrongly, or description is null
     */
    public native void setOutcomeDescription(int node, int outcome, String description);

    /**
     * Sets the diagnostic description of an outcome.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @param description any text without U+0000
     * @throws QUARNException when the node or the outcome is named wrongly, or description is null
     */
    public native void setOutcomeDescription(String node, int outcome, String description);

    /**
     * Sets the diagnostic description of an outcome.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @param description any text without U+0000
     * @throws QUARNException when the node or the outcome is named wrongly, or description is null
     */
    public native void setOutcomeDescription(int node, String outcome, String description);

    /**
     * Sets the diagnostic description of an outcome.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @param description any text without U+0000
     * @throws QUARNException when the node or the outcome is named wrongly, or description is null
     */
    public native void setOutcomeDescription(String node, String outcome, String description);

    /**
     * The label of an outcome (empty when never set).
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @return the label
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeLabel(int node, int outcome);

    /**
     * The label of an outcome (empty when never set).
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @return the label
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeLabel(String node, int outcome);

    /**
     * The label of an outcome (empty when never set).
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @return the label
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeLabel(int node, String outcome);

    /**
     * The label of an outcome (empty when never set).
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @return the label
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native String getOutcomeLabel(String node, String outcome);

    /**
     * Sets the label of an outcome; labels are unique across the network, and an empty one
     * clears it.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @param label a label of identifier form, or empty
     * @throws QUARNException when the node or the outcome is named wrongly, label is null, or
     *     "QUARN error -2 in function SetOutcomeLabel" when the label is not
     *     of identifier form or another outcome has it (the old label stays)
     */
    public native void setOutcomeLabel(int node, int outcome, String label);

    /**
     * Sets the label of an outcome; labels are unique across the network, and an empty one
     * clears it.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @param label a label of identifier form, or empty
     * @throws QUARNException when the node or the outcome is named wrongly, label is null, or
     *     "QUARN error -2 in function SetOutcomeLabel" when the label is not
     *     of identifier form or another outcome has it (the old label stays)
     */
    public native void setOutcomeLabel(String node, int outcome, String label);

    /**
     * Sets the label of an outcome; labels are unique across the network, and an empty one
     * clears it.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @param label a label of identifier form, or empty
     * @throws QUARNException when the node or the outcome is named wrongly, label is null, or
     *     "QUARN error -2 in function SetOutcomeLabel" when the label is not
     *     of identifier form or another outcome has it (the old label stays)
     */
    public native void setOutcomeLabel(int node, String outcome, String label);

    /**
     * Sets the label of an outcome; labels are unique across the network, and an empty one
     * clears it.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @param label a label of identifier form, or empty
     * @throws QUARNException when the node or the outcome is named wrongly, label is null, or
     *     "QUARN error -2 in function SetOutcomeLabel" when the label is not
     *     of identifier form or another outcome has it (the old label stays)
     */
    public native void setOutcomeLabel(String node, String outcome, String label);

    /**
     * Whether an outcome is a fault.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @return true for a fault
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native boolean isFaultOutcome(int node, int outcome);

    /**
     * Whether an outcome is a fault.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @return true for a fault
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native boolean isFaultOutcome(String node, int outcome);

    /**
     * Whether an outcome is a fault.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @return true for a fault
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native boolean isFaultOutcome(int node, String outcome);

    /**
     * Whether an outcome is a fault.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @return true for a fault
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native boolean isFaultOutcome(String node, String outcome);

    /**
     * Marks an outcome as a fault or not.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @param fault true for a fault
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native void setFaultOutcome(int node, int outcome, boolean fault);

    /**
     * Marks an outcome as a fault or not.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @param fault true for a fault
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native void setFaultOutcome(String node, int outcome, boolean fault);

    /**
     * Marks an outcome as a fault or not.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @param fault true for a fault
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native void setFaultOutcome(int node, String outcome, boolean fault);

    /**
     * Marks an outcome as a fault or not.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @param fault true for a fault
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native void setFaultOutcome(String node, String outcome, boolean fault);

    /**
     * Sets the default outcome of a node in diagnosis; a negative index switches the default
     * off and keeps the stored index.
     *
     * @param node the node's handle
     * @param outcome the outcome's index, or negative to switch the default off
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native void setDefaultOutcome(int node, int outcome);

    /**
     * Sets the default outcome of a node in diagnosis; a negative index switches the default
     * off and keeps the stored index.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index, or negative to switch the default off
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native void setDefaultOutcome(String node, int outcome);

    /**
     * Sets the default outcome of a node in diagnosis.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native void setDefaultOutcome(int node, String outcome);

    /**
     * Sets the default outcome of a node in diagnosis.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @throws QUARNException when the node or the outcome is named wrongly
     */
    public native void setDefaultOutcome(String node, String outcome);

    /**
     * The diagnosis type of a node: 0 target, 1 observation, 2 auxiliary (the default).
     *
     * @param node the node's handle
     * @return the type
     * @throws QUARNException when the handle names no node
     */
    public native int getNodeDiagType(int node);

    /**
     * Sets the diagnosis type of a node.
     *
     * @param node the node's handle
     * @param type 0 target, 1 observation or 2 auxiliary
     * @throws QUARNException when the handle names no node, or for another type
     */
    public native void setNodeDiagType(int node, int type);

    /**
     * The default outcome of a node in diagnosis.
     *
     * @param node the node's handle
     * @return its index, or -1 when the default is off
     * @throws QUARNException when the handle names no node
     */
    public native int getDefaultOutcome(int node);

    /**
     * The default outcome of a node in diagnosis.
     *
     * @param node the node's handle
     * @return its identifier, or null when the default is off
     * @throws QUARNException when the handle names no node
     */
    public native String getDefaultOutcomeId(int node);

    /**
     * Whether a node is a ranked test.
     *
     * @param node the node's handle
     * @return true when ranked
     * @throws QUARNException when the handle names no node
     */
    public native boolean isRanked(int node);

    /**
     * Marks a node as a ranked test or not.
     *
     * @param node the node's handle
     * @param ranked true to rank it
     * @throws QUARNException when the handle names no node
     */
    public native void setRanked(int node, boolean ranked);

    /**
     * Whether a node is mandatory.
     *
     * @param node the node's handle
     * @return true when mandatory
     * @throws QUARNException when the handle names no node
     */
    public native boolean isMandatory(int node);

    /**
     * Marks a node as mandatory or not.
     *
     * @param node the node's handle
     * @param mandatory true for mandatory
     * @throws QUARNException when the handle names no node
     */
    public native void setMandatory(int node, boolean mandatory);

    /**
     * The question of a node (empty when never set).
     *
     * @param node the node's handle
     * @return the question
     * @throws QUARNException when the handle names no node
     */
    public native String getNodeQuestion(int node);

    /**
     * Sets the question of a node.
     *
     * @param node the node's handle
     * @param question any text without U+0000
     * @throws QUARNException when the handle names no node, or when question is null
     */
    public native void setNodeQuestion(int node, String question);

    /**
     * The diagnosis type of a node: 0 target, 1 observation, 2 auxiliary (the default).
     *
     * @param node the node's identifier
     * @return the type
     * @throws QUARNException when the identifier names no node
     */
    public native int getNodeDiagType(String node);

    /**
     * Sets the diagnosis type of a node.
     *
     * @param node the node's identifier
     * @param type 0 target, 1 observation or 2 auxiliary
     * @throws QUARNException when the identifier names no node, or for another type
     */
    public native void setNodeDiagType(String node, int type);

    /**
     * The default outcome of a node in diagnosis.
     *
     * @param node the node's identifier
     * @return its index, or -1 when the default is off
     * @throws QUARNException when the identifier names no node
     */
    public native int getDefaultOutcome(String node);

    /**
     * The default outcome of a node in diagnosis.
     *
     * @param node the node's identifier
     * @return its identifier, or null when the default is off
     * @throws QUARNException when the identifier names no node
     */
    public native String getDefaultOutcomeId(String node);

    /**
     * Whether a node is a ranked test.
     *
     * @param node the node's identifier
     * @return true when ranked
     * @throws QUARNException when the identifier names no node
     */
    public native boolean isRanked(String node);

    /**
     * Marks a node as a ranked test or not.
     *
     * @param node the node's identifier
     * @param ranked true to rank it
     * @throws QUARNException when the identifier names no node
     */
    public native void setRanked(String node, boolean ranked);

    /**
     * Whether a node is mandatory.
     *
     * @param node the node's identifier
     * @return true when mandatory
     * @throws QUARNException when the identifier names no node
     */
    public native boolean isMandatory(String node);

    /**
     * Marks a node as mandatory or not.
     *
     * @param node the node's identifier
     * @param mandatory true for mandatory
     * @throws QUARNException when the identifier names no node
     */
    public native void setMandatory(String node, boolean mandatory);

    /**
     * The question of a node (empty when never set).
     *
     * @param node the node's identifier
     * @return the question
     * @throws QUARNException when the identifier names no node
     */
    public native String getNodeQuestion(String node);

    /**
     * Sets the question of a node.
     *
     * @param node the node's identifier
     * @param question any text without U+0000
     * @throws QUARNException when the identifier names no node, or when question is null
     */
    public native void setNodeQuestion(String node, String question);

    // User properties, documentation and observation costs. A node is named by its handle or
    // identifier, an outcome by its index or identifier; a bad one raises the same messages as
    // elsewhere. Setters replace the whole list and change nothing when they refuse an element.

    /**
     * The network's own user properties, in the order they were set.
     *
     * @return the properties (a new array, empty when there are none)
     */
    public native UserProperty[] getUserProperties();

    /**
     * Replaces the network's own user properties; an empty array removes them all.
     *
     * @param properties the new properties, in order
     * @throws QUARNException for a null array, element or field, a repeated name ("Duplicate
     *     property name: p"), or a name not of identifier form ("Can't add property (n,v), error
     *     code: -2"); nothing changes
     */
    public native void setUserProperties(UserProperty[] properties);

    /**
     * A node's user properties, in the order they were set.
     *
     * @param node the node's handle
     * @return the properties
     * @throws QUARNException when the handle names no node
     */
    public native UserProperty[] getNodeUserProperties(int node);

    /**
     * A node's user properties, as {@link #getNodeUserProperties(int)}.
     *
     * @param node the node's identifier
     * @return the properties
     * @throws QUARNException when the identifier names no node
     */
    public native UserProperty[] getNodeUserProperties(String node);

    /**
     * Replaces a node's user properties, as {@link #setUserProperties(UserProperty[])}.
     *
     * @param node the node's handle
     * @param properties the new properties, in order
     * @throws QUARNException when the handle names no node, or as {@link
     *     #setUserProperties(UserProperty[])}
     */
    public native void setNodeUserProperties(int node, UserProperty[] properties);

    /**
     * Replaces a node's user properties, as {@link #setUserProperties(UserProperty[])}.
     *
     * @param node the node's identifier
     * @param properties the new properties, in order
     * @throws QUARNException when the identifier names no node, or as {@link
     *     #setUserProperties(UserProperty[])}
     */
    public native void setNodeUserProperties(String node, UserProperty[] properties);

    /**
     * The documents attached to a node, in order.
     *
     * @param node the node's handle
     * @return the documents
     * @throws QUARNException when the handle names no node
     */
    public native DocItemInfo[] getNodeDocumentation(int node);

    /**
     * The documents attached to a node, in order.
     *
     * @param node the node's identifier
     * @return the documents
     * @throws QUARNException when the identifier names no node
     */
    public native DocItemInfo[] getNodeDocumentation(String node);

    /**
     * Replaces the documents attached to a node; an empty array removes them all.
     *
     * @param node the node's handle
     * @param items the new documents, in order
     * @throws QUARNException when the handle names no node, or for a null array, element
     *     ("Documentation array element name can't be null (index i)") or field; nothing changes
     */
    public native void setNodeDocumentation(int node, DocItemInfo[] items);

    /**
     * Replaces the documents attached to a node, as {@link #setNodeDocumentation(int,
     * DocItemInfo[])}.
     *
     * @param node the node's identifier
     * @param items the new documents, in order
     * @throws QUARNException when the identifier names no node, or for a null array, element or
     *     field; nothing changes
     */
    public native void setNodeDocumentation(String node, DocItemInfo[] items);

    /**
     * The documents attached to an outcome of a node, in order.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @return the documents
     * @throws QUARNException when the handle names no node or the index no outcome
     */
    public native DocItemInfo[] getOutcomeDocumentation(int node, int outcome);

    /**
     * The documents attached to an outcome, as {@link #getOutcomeDocumentation(int, int)}.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @return the documents
     * @throws QUARNException when the identifier names no node or the index no outcome
     */
    public native DocItemInfo[] getOutcomeDocumentation(String node, int outcome);

    /**
     * The documents attached to an outcome, as {@link #getOutcomeDocumentation(int, int)}.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @return the documents
     * @throws QUARNException when the handle names no node or the identifier no outcome
     */
    public native DocItemInfo[] getOutcomeDocumentation(int node, String outcome);

    /**
     * The documents attached to an outcome, as {@link #getOutcomeDocumentation(int, int)}.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @return the documents
     * @throws QUARNException when an identifier names no node or outcome
     */
    public native DocItemInfo[] getOutcomeDocumentation(String node, String outcome);

    /**
     * Replaces the documents attached to an outcome, as {@link #setNodeDocumentation(int,
     * DocItemInfo[])}.
     *
     * @param node the node's handle
     * @param outcome the outcome's index
     * @param items the new documents, in order
     * @throws QUARNException when the handle names no node or the index no outcome, or for a
     *     null array, element or field; nothing changes
     */
    public native void setOutcomeDocumentation(int node, int outcome, DocItemInfo[] items);

    /**
     * Replaces the documents attached to an outcome, as {@link #setOutcomeDocumentation(int,
     * int, DocItemInfo[])}.
     *
     * @param node the node's identifier
     * @param outcome the outcome's index
     * @param items the new documents, in order
     * @throws QUARNException as {@link #setOutcomeDocumentation(int, int, DocItemInfo[])}
     */
    public native void setOutcomeDocumentation(String node, int outcome, DocItemInfo[] items);

    /**
     * Replaces the documents attached to an outcome, as {@link #setOutcomeDocumentation(int,
     * int, DocItemInfo[])}.
     *
     * @param node the node's handle
     * @param outcome the outcome's identifier
     * @param items the new documents, in order
     * @throws QUARNException as {@link #setOutcomeDocumentation(int, int, DocItemInfo[])}
     */
    public native void setOutcomeDocumentation(int node, String outcome, DocItemInfo[] items);

    /**
     * Replaces the documents attached to an outcome, as {@link #setOutcomeDocumentation(int,
     * int, DocItemInfo[])}.
     *
     * @param node the node's identifier
     * @param outcome the outcome's identifier
     * @param items the new documents, in order
     * @throws QUARNException as {@link #setOutcomeDocumentation(int, int, DocItemInfo[])}
     */
    public native void setOutcomeDocumentation(String node, String outcome, DocItemInfo[] items);

    /**
     * Adds a cost arc: the child's observation cost then depends on the parent's outcome, and
     * its cost array grows by the factor of the parent's outcome count.
     *
     * @param parent the parent's handle
     * @param child the child's handle
     * @throws QUARNException when a handle names no node, or "QUARN error -2 in function AddArc"
     *     when the arc is refused (the same node twice, an existing cost arc, or a parent
     *     without outcomes)
     */
    public native void addCostArc(int parent, int child);

    /**
     * Adds a cost arc, as {@link #addCostArc(int, int)}; the child's identifier is looked up
     * first.
     *
     * @param parent the parent's identifier
     * @param child the child's identifier
     * @throws QUARNException as {@link #addCostArc(int, int)}, or for an identifier of no node
     */
    public native void addCostArc(String parent, String child);

    /**
     * Removes a cost arc. A parent left without cost children loses its "DIAG_TESTGROUPCOST"
     * property.
     *
     * @param parent the parent's handle
     * @param child the child's handle
     * @throws QUARNException when a handle names no node, or "QUARN error -2 in function
     *     RemoveArc" for the same node twice or when there is no such cost arc
     */
    public native void deleteCostArc(int parent, int child);

    /**
     * Removes a cost arc, as {@link #deleteCostArc(int, int)}; the child's identifier is looked
     * up first.
     *
     * @param parent the parent's identifier
     * @param child the child's identifier
     * @throws QUARNException as {@link #deleteCostArc(int, int)}, or for an identifier of no node
     */
    public native void deleteCostArc(String parent, String child);

    /**
     * The cost parents of a node, in the order the cost arcs were added.
     *
     * @param node the node's handle
     * @return the cost parents' handles
     * @throws QUARNException when the handle names no node
     */
    public native int[] getCostParents(int node);

    /**
     * The cost parents of a node, as {@link #getCostParents(int)}.
     *
     * @param node the node's identifier
     * @return the cost parents' handles
     * @throws QUARNException when the identifier names no node
     */
    public native int[] getCostParents(String node);

    /**
     * The cost parents of a node, as {@link #getCostParents(int)}.
     *
     * @param node the node's handle
     * @return the cost parents' identifiers
     * @throws QUARNException when the handle names no node
     */
    public native String[] getCostParentIds(int node);

    /**
     * The cost parents of a node, as {@link #getCostParents(int)}.
     *
     * @param node the node's identifier
     * @return the cost parents' identifiers
     * @throws QUARNException when the identifier names no node
     */
    public native String[] getCostParentIds(String node);

    /**
     * The cost children of a node, in the order the cost arcs were added.
     *
     * @param node the node's handle
     * @return the cost children's handles
     * @throws QUARNException when the handle names no node
     */
    public native int[] getCostChildren(int node);

    /**
     * The cost children of a node, as {@link #getCostChildren(int)}.
     *
     * @param node the node's identifier
     * @return the cost children's handles
     * @throws QUARNException when the identifier names no node
     */
    public native int[] getCostChildren(String node);

    /**
     * The cost children of a node, as {@link #getCostChildren(int)}.
     *
     * @param node the node's handle
     * @return the cost children's identifiers
     * @throws QUARNException when the handle names no node
     */
    public native String[] getCostChildIds(int node);

    /**
     * The cost children of a node, as {@link #getCostChildren(int)}.
     *
     * @param node the node's identifier
     * @return the cost children's identifiers
     * @throws QUARNException when the identifier names no node
     */
    public native String[] getCostChildIds(String node);

    /**
     * The observation costs of a node: one value per combination of its cost parents'
     * outcomes (the last parent's outcome varying fastest), a single value without any.
     *
     * @param node the node's handle
     * @return the costs
     * @throws QUARNException when the handle names no node
     */
    public native double[] getNodeCost(int node);

    /**
     * The observation costs of a node, as {@link #getNodeCost(int)}.
     *
     * @param node the node's identifier
     * @return the costs
     * @throws QUARNException when the identifier names no node
     */
    public native double[] getNodeCost(String node);

    /**
     * Overwrites the observation costs of a node, in the order of {@link #getNodeCost(int)}.
     *
     * @param node the node's handle
     * @param costs the new costs, finite numbers
     * @throws QUARNException when the handle names no node, for a null array, "Invalid cost
     *     array size for node 'T': expected m and got n", or "QUARN error -2 in function
     *     SetCosts" for a NaN or an infinity ("Cost i of node 'T' is not a finite number");
     *     nothing changes
     */
    public native void setNodeCost(int node, double[] costs);

    /**
     * Overwrites the observation costs of a node, as {@link #setNodeCost(int, double[])}.
     *
     * @param node the node's identifier
     * @param costs the new costs
     * @throws QUARNException as {@link #setNodeCost(int, double[])}, or for an identifier of no
     *     node
     */
    public native void setNodeCost(String node, double[] costs);
}
