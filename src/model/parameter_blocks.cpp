#include "model/parameter_blocks.h"

#include "model/network.h"

#include <cmath>

void QNL_episParams::SetDefaults() {
    *this = QNL_episParams();
}

// Every comparison is written so that a NaN fails it. An infinite eps would turn the
// sampler's cut-off into infinities, so the finiteness test covers eps4 too, which has no
// ordering rule of its own.
bool QNL_episParams::IsValid() const {
    if (!std::isfinite(eps1) || !std::isfinite(eps2) || !std::isfinite(eps3) ||
        !std::isfinite(eps4))
        return false;
    return proplen >= 1 && numstates1 < numstates2 && numstates2 < numstates3 && eps1 >= eps2 &&
           eps2 >= eps3;
}

bool QNL_episParams::operator==(const QNL_episParams& other) const {
    return proplen == other.proplen && numstates1 == other.numstates1 &&
           numstates2 == other.numstates2 && numstates3 == other.numstates3 && eps1 == other.eps1 &&
           eps2 == other.eps2 && eps3 == other.eps3 && eps4 == other.eps4;
}

void QNL_annealedMapTuning::SetDefaults() {
    const QNL_annealedMapTuning defaults;
    speed = defaults.speed;
    Tmin = defaults.Tmin;
    Tinit = defaults.Tinit;
    kReheat = defaults.kReheat;
    numCycle = defaults.numCycle;
    iReheatSteps = defaults.iReheatSteps;
    iStopSteps = defaults.iStopSteps;
}

bool QNL_annealedMapTuning::IsValid() const {
    if (!std::isfinite(speed) || !std::isfinite(Tmin) || !std::isfinite(Tinit) ||
        !std::isfinite(kReheat))
        return false;
    return speed >= 0.5 && speed <= 0.99 && Tmin > 0.0 && Tinit > 0.0 && Tinit > Tmin &&
           kReheat > 0.0 && numCycle >= 1 && iReheatSteps >= 1 && iStopSteps >= iReheatSteps;
}

// A refused block leaves the network's copy as it was and logs nothing, as the other
// setters of evaluation settings do.
int QNL_network::SetEpisParams(const QNL_episParams& params) {
    if (!params.IsValid()) return -2;
    episParams = params;
    return 0;
}

int QNL_network::SetAnnealedMapTuning(const QNL_annealedMapTuning& tuning) {
    if (!tuning.IsValid()) return -2;
    annealedMapTuning = tuning;
    return 0;
}
