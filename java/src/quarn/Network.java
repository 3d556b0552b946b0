package quarn;

/**
 * A graphical model held by the native library. Nodes are named by handle ({@code int}) or by
 * identifier ({@code String}); outcomes by index or by identifier. Every failure raises
 * {@link QUARNException}.
 */
public class Network extends Wrapper {
    public Network() {
        ptrNative = createNative(null);
    }

    private native long createNative(Object unused);

    @Override
    protected native void deleteNative(long address);

    // Network-level methods.

    public native void readFile(String path);

    public native void writeFile(String path);

    public native void updateBeliefs();

    public native double probEvidence();

    public native int getSampleCount();

    public native void setSampleCount(int count);

    public native String getId();

    public native void setId(String id);

    public native String getName();

    public native void setName(String name);

    public native String getDescription();

    public native void setDescription(String description);

    public native int getBayesianAlgorithm();

    public native void setBayesianAlgorithm(int algorithm);

    public native int getInfluenceDiagramAlgorithm();

    public native void setInfluenceDiagramAlgorithm(int algorithm);

    // Nodes.

    public native int getNodeCount();

    public native int getFirstNode();

    public native int getNextNode(int node);

    public native int getNode(String id);

    public native int[] getAllNodes();

    public native String[] getAllNodeIds();

    public native int addNode(int type, String id);

    public native int addNode(int type);

    public native void deleteNode(int node);

    public native void deleteNode(String node);

    public native int getNodeType(int node);

    public native int getNodeType(String node);

    public native void setNodeType(int node, int type);

    public native void setNodeType(String node, int type);

    public native String getNodeId(int node);

    public native void setNodeId(int node, String id);

    public native void setNodeId(String node, String id);

    public native String getNodeName(int node);

    public native String getNodeName(String node);

    public native void setNodeName(int node, String name);

    public native void setNodeName(String node, String name);

    public native String getNodeDescription(int node);

    public native String getNodeDescription(String node);

    public native void setNodeDescription(int node, String description);

    public native void setNodeDescription(String node, String description);

    // Arcs.

    public native void addArc(int parent, int child);

    public native void addArc(String parent, String child);

    public native void deleteArc(int parent, int child);

    public native void deleteArc(String parent, String child);

    public native int[] getParents(int node);

    public native int[] getParents(String node);

    public native String[] getParentIds(int node);

    public native String[] getParentIds(String node);

    public native int[] getChildren(int node);

    public native int[] getChildren(String node);

    public native String[] getChildIds(int node);

    public native String[] getChildIds(String node);

    // Outcomes.

    public native int getOutcomeCount(int node);

    public native int getOutcomeCount(String node);

    public native void addOutcome(int node, String id);

    public native void addOutcome(String node, String id);

    public native void insertOutcome(int node, int position, String id);

    public native void insertOutcome(String node, int position, String id);

    public native void deleteOutcome(int node, int outcome);

    public native void deleteOutcome(String node, int outcome);

    public native void deleteOutcome(int node, String outcome);

    public native void deleteOutcome(String node, String outcome);

    public native void setOutcomeId(int node, int outcome, String id);

    public native void setOutcomeId(String node, int outcome, String id);

    public native String getOutcomeId(int node, int outcome);

    public native String getOutcomeId(String node, int outcome);

    public native String[] getOutcomeIds(int node);

    public native String[] getOutcomeIds(String node);

    // Evidence.

    public native void setEvidence(int node, int outcome);

    public native void setEvidence(int node, String outcome);

    public native void setEvidence(String node, int outcome);

    public native void setEvidence(String node, String outcome);

    public native void clearEvidence(int node);

    public native void clearEvidence(String node);

    public native void clearAllEvidence();

    public native int getEvidence(int node);

    public native int getEvidence(String node);

    public native String getEvidenceId(int node);

    public native String getEvidenceId(String node);

    public native boolean isEvidence(int node);

    public native boolean isEvidence(String node);

    public native boolean isRealEvidence(int node);

    public native boolean isRealEvidence(String node);

    public native boolean isPropagatedEvidence(int node);

    public native boolean isPropagatedEvidence(String node);

    // Values.

    public native boolean isValueValid(int node);

    public native boolean isValueValid(String node);

    public native double[] getNodeValue(int node);

    public native double[] getNodeValue(String node);

    public native int[] getValueIndexingParents(int node);

    public native int[] getValueIndexingParents(String node);

    public native String[] getValueIndexingParentIds(int node);

    public native String[] getValueIndexingParentIds(String node);

    // Targets.

    public native boolean isTarget(int node);

    public native boolean isTarget(String node);

    public native void setTarget(int node, boolean target);

    public native void setTarget(String node, boolean target);

    public native void clearAllTargets();

    // Definitions.

    public native double[] getNodeDefinition(int node);

    public native double[] getNodeDefinition(String node);

    public native void setNodeDefinition(int node, double[] definition);

    public native void setNodeDefinition(String node, double[] definition);
}
