#pragma once

// The two parameter blocks a network keeps for its algorithms. Both are plain records that
// a network accepts only as a whole and only when every rule holds, so an algorithm never
// reads a half-updated or contradictory set.

// Parameters of the adaptive importance samplers. The field names are also the keys under
// which the XML format stores them.
struct QNL_episParams {
    int proplen = 5;
    int numstates1 = 5;
    int numstates2 = 8;
    int numstates3 = 20;
    double eps1 = 0.006;
    double eps2 = 0.0001;
    double eps3 = 0.00005;
    double eps4 = 0.00005;

    // The values a new block starts from.
    void SetDefaults();
    // proplen >= 1, numstates1 < numstates2 < numstates3, eps1 >= eps2 >= eps3; every eps
    // a finite number.
    bool IsValid() const;
    bool operator==(const QNL_episParams& other) const;
    bool operator!=(const QNL_episParams& other) const { return !(*this == other); }
};

// Tuning of the annealed MAP search, in the order the host fills it. kMAP and kRFC are
// carried for the caller; the seed is not part of the record, it comes with each search.
struct QNL_annealedMapTuning {
    double speed = 0.8;
    double Tmin = 0.001;
    double Tinit = 0.99;
    double kReheat = 0.1;
    int kMAP = 0;
    double kRFC = 0.0;
    int numCycle = 1;
    int iReheatSteps = 10;
    int iStopSteps = 20;

    // Leaves kMAP and kRFC as they are.
    void SetDefaults();
    // 0.5 <= speed <= 0.99, 0 < Tmin < Tinit, kReheat > 0 (all finite), numCycle >= 1,
    // iReheatSteps >= 1, iStopSteps >= iReheatSteps.
    bool IsValid() const;
};
