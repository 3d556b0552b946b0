package quarn.learning;

/**
 * Background knowledge for structure learning: arcs the result must have, arcs it must not
 * have, and tiers of variables. A null array counts as an empty one.
 */
public class BkKnowledge {
    /** Arcs the learned structure must have. */
    public BkArcInfo[] forcedArcs;

    /** Arcs the learned structure must not have (in either direction). */
    public BkArcInfo[] forbiddenArcs;

    /** Tiers of variables. */
    public BkTierInfo[] tiers;

    /**
     * Background knowledge from its three lists.
     *
     * @param forcedArcs arcs the result must have
     * @param forbiddenArcs arcs the result must not have
     * @param tiers tiers of variables
     */
    public BkKnowledge(BkArcInfo[] forcedArcs, BkArcInfo[] forbiddenArcs, BkTierInfo[] tiers) {
        this.forcedArcs = forcedArcs;
        this.forbiddenArcs = forbiddenArcs;
        this.tiers = tiers;
    }
}
