package quarn;

/**
 * Tuning of {@link Network#annealedMap(int[], AnnealedMapTuning)}: the cooling schedule of the
 * search and the seed of its random generator. A new object holds the library's defaults and
 * seed 0 (a seed from the time and the clock).
 */
public class AnnealedMapTuning {
    /** Cooling factor per pass, from 0.5 to 0.99. */
    public double speed = 0.8;
    /** Lowest temperature, above 0; kept for the caller, the search does not use it. */
    public double Tmin = 0.001;
    /** Starting temperature, above Tmin. */
    public double Tinit = 0.99;
    /** Gain of a reheat, above 0. */
    public double kReheat = 0.1;
    /** Kept for the caller; no effect on the search. */
    public int kMAP = 0;
    /** Kept for the caller; no effect on the search. */
    public double kRFC = 0.0;
    /** Sweeps over all MAP nodes per pass, at least 1. */
    public int numCycle = 1;
    /** Passes without improvement before a reheat, at least 1. */
    public int iReheatSteps = 10;
    /** Passes without improvement after which the search stops, at least iReheatSteps. */
    public int iStopSteps = 20;
    /** Seed of the search's random generator; 0 takes one from the time and the clock. */
    public int randSeed = 0;

    /** Tuning with the defaults. */
    public AnnealedMapTuning() {}
}
