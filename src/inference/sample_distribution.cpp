#include "inference/sample_distribution.h"

#include "numerics/random.h"

#include <cmath>

namespace {

double Uniform() {
    return QNL_randomSamplingDistributions().Next();
}

} // namespace

// ---------------------------------------------------------------------------------------
// Discrete

QNL_discreteSampleDistribution::QNL_discreteSampleDistribution(int* target, int outcomes,
                                                               bool isVoid)
    : target(target), probabilities(static_cast<std::size_t>(outcomes > 0 ? outcomes : 0),
                                    isVoid && outcomes > 0 ? 1.0 / outcomes : 0.0) {
    if (isVoid) flags |= FLAG_VOID;
}

int QNL_discreteSampleDistribution::Normalize() {
    const std::size_t n = probabilities.size();
    double sum = 0.0;
    for (double p : probabilities)
        sum += p;
    if (n > 0) {
        if (sum > 0.0 && std::isfinite(sum)) {
            const double scale = 1.0 / sum;
            for (double& p : probabilities)
                p *= scale;
        } else {
            for (double& p : probabilities)
                p = 1.0 / static_cast<double>(n);
        }
    }
    flags &= ~(FLAG_VOID | FLAG_CHANGED);
    return 0;
}

int QNL_discreteSampleDistribution::SetFixedState(int state) {
    if (state < 0 || state >= GetNumberOfOutcomes()) return -2;
    fixedState = state;
    flags = (flags | FLAG_FIXED) & ~FLAG_VOID;
    if (target != nullptr) *target = state;
    return 0;
}

int QNL_discreteSampleDistribution::GetTargetState(int& out) const {
    if (target == nullptr) return -2;
    out = *target;
    return 0;
}

int QNL_discreteSampleDistribution::SetTargetState(int state) {
    if (target == nullptr) return -2;
    *target = state;
    return 0;
}

int QNL_discreteSampleDistribution::SampleState(int& out) {
    if (int r = Sample()) return r;
    return GetTargetState(out);
}

int QNL_discreteSampleDistribution::Sample() {
    if (target == nullptr || probabilities.empty()) return -2;
    if (IsFixed()) {
        *target = fixedState;
        return 0;
    }
    if (flags & FLAG_CHANGED) Normalize();
    const int n = GetNumberOfOutcomes();
    const int state = quarn::detail::FirstAboveRunningSum(probabilities.data(), n,
                                                          QNL_randomSamplingDistributions());
    *target = state >= 0 ? state : n - 1;
    return 0;
}

int QNL_discreteSampleDistribution::AddWeight(int state, double weight) {
    if (state < 0 || state >= GetNumberOfOutcomes()) return -2;
    if (IsVoid()) {
        flags &= ~FLAG_VOID;
        for (double& p : probabilities)
            p = 0.0;
    }
    flags |= FLAG_CHANGED;
    probabilities[static_cast<std::size_t>(state)] += weight;
    return 0;
}

int QNL_discreteSampleDistribution::AddWeightAtTarget(double weight) {
    if (target == nullptr) return -2;
    return AddWeight(*target, weight);
}

double QNL_discreteSampleDistribution::ValueAtTarget() {
    if (target == nullptr) return -1.0;
    return Probability(*target);
}

double QNL_discreteSampleDistribution::Probability(int state) {
    if (state < 0 || state >= GetNumberOfOutcomes()) return 0.0;
    if (flags & FLAG_CHANGED) Normalize();
    return probabilities[static_cast<std::size_t>(state)];
}

void QNL_discreteSampleDistribution::Reset() {
    for (double& p : probabilities)
        p = 0.0;
    flags &= ~(FLAG_VOID | FLAG_CHANGED | FLAG_READY);
}

// ---------------------------------------------------------------------------------------
// Interval

QNL_intervalSampleDistribution::QNL_intervalSampleDistribution(double* target, const double* lower,
                                                               const double* upper, bool isVoid,
                                                               int components, double tolerance,
                                                               double scale)
    : target(target), lower(lower), upper(upper),
      mixture(lower != nullptr ? *lower : 0.0, upper != nullptr ? *upper : 1.0, components,
              tolerance, scale) {
    if (isVoid) flags |= FLAG_VOID;
}

QNL_intervalSampleDistribution::QNL_intervalSampleDistribution(
    const QNL_intervalSampleDistribution& other)
    : QNL_sampleDistribution(other), target(other.target), lower(other.lower), upper(other.upper),
      fixedValue(other.fixedValue), samples(other.samples), mixture(other.mixture),
      massWithin(other.massWithin), whole(other.whole), scale(other.scale) {
    flags = other.flags & (FLAG_VOID | FLAG_CHANGED | FLAG_FIXED);
}

QNL_sampleDistribution* QNL_intervalSampleDistribution::Clone() const {
    return new QNL_intervalSampleDistribution(*this);
}

bool QNL_intervalSampleDistribution::BoundsUsable() const {
    return lower != nullptr && upper != nullptr && std::isfinite(*lower) && std::isfinite(*upper) &&
           *lower < *upper;
}

void QNL_intervalSampleDistribution::RefitIfChanged() {
    if (!(flags & FLAG_CHANGED)) return;
    mixture.Fit(samples);
    flags &= ~FLAG_CHANGED;
    MeasureWithin();
}

// The variable never leaves its interval, while a fitted mixture reaches past it: the
// distribution is the mixture renormalised within the interval, scaled to the mass the
// mixture has in all, so that a mixture the interval holds whole keeps its draws and
// densities.
void QNL_intervalSampleDistribution::MeasureWithin() {
    massWithin = BoundsUsable() ? mixture.MassWithin(*lower, *upper) : 0.0;
    const double mass = mixture.Mass();
    whole = !(massWithin < mass);
    scale = whole || !(massWithin > 0.0) ? 1.0 : mass / massWithin;
}

int QNL_intervalSampleDistribution::Normalize() {
    mixture.Fit(samples);
    flags &= ~(FLAG_VOID | FLAG_CHANGED);
    MeasureWithin();
    return 0;
}

int QNL_intervalSampleDistribution::SetFixedValue(double value) {
    fixedValue = value;
    flags |= FLAG_FIXED;
    if (target != nullptr) *target = value;
    return 0;
}

int QNL_intervalSampleDistribution::GetTargetValue(double& out) const {
    if (target == nullptr) return -2;
    out = *target;
    return 0;
}

int QNL_intervalSampleDistribution::SetTargetValue(double value) {
    if (target == nullptr) return -2;
    *target = value;
    return 0;
}

int QNL_intervalSampleDistribution::SetMixture(const QNL_gaussianMixture& source) {
    mixture.Assign(source);
    MeasureWithin();
    return 0;
}

int QNL_intervalSampleDistribution::Draw(double& out) {
    if (IsFixed()) {
        out = fixedValue;
    } else if (IsVoid()) {
        if (!BoundsUsable()) return -2;
        out = *lower + Uniform() * (*upper - *lower);
    } else {
        RefitIfChanged();
        if (whole) {
            out = mixture.Draw();
        } else if (!mixture.DrawWithin(*lower, *upper, massWithin, out)) {
            // A mixture with no mass in the interval says nothing of where in it to draw.
            if (!BoundsUsable()) return -2;
            out = *lower + Uniform() * (*upper - *lower);
        }
    }
    return 0;
}

int QNL_intervalSampleDistribution::SampleValue(double& out) {
    if (int r = Draw(out)) return r;
    if (target != nullptr) *target = out;
    return 0;
}

int QNL_intervalSampleDistribution::Sample() {
    if (target == nullptr) return -2;
    double value = 0.0;
    if (int r = Draw(value)) return r;
    *target = value;
    return 0;
}

int QNL_intervalSampleDistribution::AddSample(double value, double weight) {
    samples.push_back({value, weight});
    flags = (flags & ~FLAG_VOID) | FLAG_CHANGED;
    return 0;
}

int QNL_intervalSampleDistribution::AddWeightAtTarget(double weight) {
    if (target == nullptr) return -2;
    return AddSample(*target, weight);
}

double QNL_intervalSampleDistribution::ValueAtTarget() {
    if (target == nullptr) return -1.0;
    return Density(*target);
}

double QNL_intervalSampleDistribution::Density(double x) {
    if (IsFixed()) return x == fixedValue ? 1.0 : 0.0;
    if (IsVoid()) {
        if (!BoundsUsable() || !(x >= *lower && x <= *upper)) return 0.0;
        return 1.0 / (*upper - *lower);
    }
    RefitIfChanged();
    if (whole) return mixture.Density(x);
    return x >= *lower && x <= *upper ? mixture.Density(x) * scale : 0.0;
}

void QNL_intervalSampleDistribution::Reset() {
    samples.clear();
    flags &= ~(FLAG_VOID | FLAG_CHANGED | FLAG_READY);
}
