package quarn.learning;

/**
 * The tier of a variable in background knowledge: edges between tiers point from the lower
 * tier to the higher one. A variable listed in no tier is in tier 0.
 */
public class BkTierInfo {
    /** The variable's index in the data set. */
    public int variable;

    /** The variable's tier. */
    public int tier;

    /**
     * A variable in a tier.
     *
     * @param variable the variable's index in the data set
     * @param tier the tier
     */
    public BkTierInfo(int variable, int tier) {
        this.variable = variable;
        this.tier = tier;
    }
}
