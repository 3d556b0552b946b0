package quarn.learning;

/** An arc of background knowledge: a parent and a child, as data-set variable indices. */
public class BkArcInfo {
    /** The parent's variable index. */
    public int parent;

    /** The child's variable index. */
    public int child;

    /**
     * An arc from parent to child.
     *
     * @param parent the parent's variable index
     * @param child the child's variable index
     */
    public BkArcInfo(int parent, int child) {
        this.parent = parent;
        this.child = child;
    }
}
