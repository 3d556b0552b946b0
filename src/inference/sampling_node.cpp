#include "inference/sampling_node.h"

#include "definitions/hybrid_definition.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "inference/relevance.h"
#include "model/node.h"

#include <algorithm>
#include <cmath>
#include <new>

// ---------------------------------------------------------------------------------------
// Base

int QNL_samplingNode::TakeHolders(const QNL_hybridDefinition& definition) {
    try {
        const QNL_distributionTable& table = definition.GetTable();
        std::vector<std::unique_ptr<QNL_evaluationContext>> copies(
            static_cast<std::size_t>(table.GetSize()));
        for (int i = 0; i < table.GetSize(); ++i) {
            const QNL_evaluationContext* holder = table.GetHolder(i);
            if (holder == nullptr) return -2;
            copies[static_cast<std::size_t>(i)].reset(holder->Clone());
            if (copies[static_cast<std::size_t>(i)] == nullptr) return -42;
        }
        multipliers.clear();
        for (int d = 0; d < table.GetNumberOfParentDimensions(); ++d)
            multipliers.push_back(table.GetMultipliers()[d]);
        holders = std::move(copies);
        equations = static_cast<std::size_t>(
            std::count_if(holders.begin(), holders.end(),
                          [](const auto& holder) { return holder->HasExpressions(); }));
        parentStates.push_back(&zero);
        Rebind();
        return 0;
    } catch (const std::bad_alloc&) {
        return -42;
    }
}

void QNL_samplingNode::Rebind() {
    std::vector<std::string> names = continuousParentIds;
    names.push_back(id);
    for (auto& holder : holders)
        holder->BindSlots(names);
}

QNL_evaluationContext* QNL_samplingNode::Holder() {
    int index = 0;
    const std::size_t dims = multipliers.size();
    for (std::size_t d = 0; d < dims; ++d)
        index += *parentStates[d] * multipliers[d];
    lastHolder = static_cast<std::size_t>(index);
    QNL_evaluationContext* holder = holders[lastHolder].get();
    const std::size_t n = parentValues.size();
    for (std::size_t i = 0; i < n; ++i)
        holder->SetSlotValue(static_cast<int>(i), *parentValues[i]);
    return holder;
}

QNL_evaluationContext* QNL_samplingNode::HolderAllowedBy(std::size_t index,
                                                         const std::vector<int>& states) {
    for (std::size_t d = 0; d < multipliers.size(); ++d) {
        const int state = static_cast<int>(index) / multipliers[d] % parentOutcomes[d];
        if (states[d] >= 0 && states[d] != state) return nullptr;
    }
    QNL_evaluationContext* holder = holders[index].get();
    for (std::size_t i = 0; i < parentValues.size(); ++i)
        holder->SetSlotValue(static_cast<int>(i), *parentValues[i]);
    return holder;
}

int QNL_samplingNode::ResolveEnforcingExpressions(const std::string& parentId) {
    enforcing.clear();
    for (auto& holder : holders) {
        const auto* named = dynamic_cast<const QNL_namedExpressions*>(holder.get());
        const QNL_exprNode* tree = named != nullptr ? named->GetExpression(parentId) : nullptr;
        // An equation that does not name the parent gives its value whatever the parent's.
        if (tree == nullptr && named != nullptr && named->HasExpressions() &&
            QNL_exprNode::CountVariable(named->GetMainTree(), parentId) > 0)
            return -2;
        enforcing.push_back(tree);
    }
    return 0;
}

bool QNL_samplingNode::EvaluateEnforcing(double own, double& out) {
    if (lastHolder >= enforcing.size() || enforcing[lastHolder] == nullptr) return false;
    SetOwnVariable(holders[lastHolder].get(), own);
    out = EvaluateSigned(enforcing[lastHolder]);
    return std::isfinite(out);
}

double QNL_samplingNode::Slope(int slot, double x) {
    QNL_evaluationContext* holder = holders[lastHolder].get();
    const double h = 1e-6 * std::max(1.0, std::fabs(x));
    double above = 0.0, below = 0.0;
    holder->SetSlotValue(slot, x + h);
    const int a = holder->Evaluate(&above);
    holder->SetSlotValue(slot, x - h);
    const int b = holder->Evaluate(&below);
    holder->SetSlotValue(slot, x);
    if (a != 0 || b != 0) return 0.0;
    return std::fabs(above - below) / (2.0 * h);
}

namespace {

// The mean and variance of a holder's distribution with the slot at x, and the mean's
// derivative there by central differences.
bool MeanAndSlope(QNL_evaluationContext* holder, int slot, double x, double& m, double& v,
                  double& d) {
    const double h = 1e-6 * std::max(1.0, std::fabs(x));
    double above = 0.0, below = 0.0, ignored = 0.0;
    holder->SetSlotValue(slot, x + h);
    if (holder->GetMoments(above, ignored) != 0) return false;
    holder->SetSlotValue(slot, x - h);
    if (holder->GetMoments(below, ignored) != 0) return false;
    holder->SetSlotValue(slot, x);
    if (holder->GetMoments(m, v) != 0) return false;
    d = (above - below) / (2.0 * h);
    return std::isfinite(m) && std::isfinite(v) && std::isfinite(d);
}

} // namespace

bool QNL_samplingNode::MeanAt(int slot, double x, double& mean, double& variance, double& slope) {
    return MeanAndSlope(holders[lastHolder].get(), slot, x, mean, variance, slope);
}

bool QNL_samplingNode::SolveMean(int slot, double target, double start, double& root, double& slope,
                                 double& sd) {
    QNL_evaluationContext* holder = holders[lastHolder].get();
    double x = start, m = 0.0, v = 0.0, d = 0.0;
    for (int step = 0; step < 40; ++step) {
        if (!MeanAndSlope(holder, slot, x, m, v, d) || !(std::fabs(d) > 0.0)) return false;
        const double move = (m - target) / d;
        x -= move;
        if (!std::isfinite(x)) return false;
        if (std::fabs(move) <= 1e-12 * std::max(1.0, std::fabs(x))) {
            if (!MeanAndSlope(holder, slot, x, m, v, d) || !(v > 0.0) || !(std::fabs(d) > 0.0))
                return false;
            root = x;
            slope = std::fabs(d);
            sd = std::sqrt(v);
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Discrete

QNL_discreteSamplingNode::QNL_discreteSamplingNode(int handle, std::string id, int outcomes,
                                                   int evidence)
    : QNL_samplingNode(handle, std::move(id)), outcomes(outcomes), evidence(evidence),
      weights(static_cast<std::size_t>(outcomes), 0.0) {
    if (evidence >= 0) {
        state = evidence;
        flags |= FIXED;
    }
}

int QNL_discreteSamplingNode::GetState(int& out) const {
    out = state;
    return 0;
}

int QNL_discreteSamplingNode::GetEvidenceState(int& out) const {
    out = evidence;
    return 0;
}

void QNL_discreteSamplingNode::Fix() {
    evidence = state;
    flags |= FIXED;
}

double QNL_discreteSamplingNode::FixedWeight() {
    const double p = Holder()->GetProbability(state);
    return p > 0.0 ? p : 0.0;
}

void QNL_discreteSamplingNode::ResetStatistics() {
    weightedSum = weightedSquares = total = 0.0;
    std::fill(weights.begin(), weights.end(), 0.0);
    if (Has(FIXED) && evidence >= 0) weights[static_cast<std::size_t>(evidence)] = 1.0;
}

void QNL_discreteSamplingNode::AddSample(double weight) {
    weights[static_cast<std::size_t>(state)] += weight;
    weightedSum += weight * state;
    weightedSquares += weight * state * state;
}

void QNL_discreteSamplingNode::FinishStatistics() {
    total = 0.0;
    for (double w : weights)
        total += w;
    if (!(total > 0.0)) return;
    for (double& w : weights)
        w /= total;
    weightedSum /= total;
    weightedSquares = weightedSquares / total - weightedSum * weightedSum;
}

double QNL_discreteSamplingNode::DrawFromDefinition() {
    int drawn = 0;
    if (Holder()->DrawOutcome(&drawn) == 0 && drawn >= 0 && drawn < outcomes) state = drawn;
    return 1.0;
}

double QNL_discreteSamplingNode::DrawWeighted() {
    if (Has(FIXED)) {
        state = evidence;
        return FixedWeight();
    }
    return DrawFromDefinition();
}

void QNL_discreteSamplingNode::WriteResult(QNL_node& node) {
    if (Has(FIXED)) {
        std::vector<double> point(static_cast<std::size_t>(outcomes), 0.0);
        point[static_cast<std::size_t>(evidence)] = 1.0;
        quarn::detail::WriteNodeBeliefs(&node, point.data(), outcomes);
        return;
    }
    if (total > 0.0) quarn::detail::WriteNodeBeliefs(&node, weights.data(), outcomes);
}

// ---------------------------------------------------------------------------------------
// Continuous

QNL_continuousSamplingNode::QNL_continuousSamplingNode(int handle, std::string id, double lower,
                                                       double upper, bool fixed, double value)
    : QNL_samplingNode(handle, std::move(id)), value(fixed ? value : -1.0),
      fixedValue(fixed ? value : -1.0), lower(lower), upper(upper), histogram(BINS, 0.0) {
    if (fixed) flags |= FIXED;
}

int QNL_continuousSamplingNode::GetValue(double& out) const {
    out = value;
    return 0;
}

int QNL_continuousSamplingNode::GetFixedValue(double& out) const {
    out = fixedValue;
    return 0;
}

void QNL_continuousSamplingNode::Fix() {
    fixedValue = value;
    flags |= FIXED;
}

bool QNL_continuousSamplingNode::Matches(double evaluated, double v) {
    if (!std::isfinite(evaluated) || !std::isfinite(v)) return false;
    const double scale = std::max({1.0, std::fabs(evaluated), std::fabs(v)});
    return std::fabs(evaluated - v) <= 1e-9 * scale;
}

// The draws renormalise the distribution within the range for the parents' values, so the
// evidence is weighed by the same renormalised density: weighed by the density alone, a range
// that cuts off a share depending on the parents would act as further evidence about them.
double QNL_continuousSamplingNode::WeightOf(QNL_evaluationContext* holder, double v) const {
    if (holder->HasExpressions()) {
        double evaluated = 0.0;
        return holder->Evaluate(&evaluated) == 0 && Matches(evaluated, v) ? 1.0 : 0.0;
    }
    return DensityWithin(holder, v);
}

double QNL_continuousSamplingNode::FixedWeight() {
    QNL_evaluationContext* holder = Holder();
    if (Has(AT_AN_EQUATIONS_VALUE) && !holder->HasExpressions()) return 0.0;
    return WeightOf(holder, value);
}

void QNL_continuousSamplingNode::Reserve(int count) {
    samples.reserve(static_cast<std::size_t>(std::max(0, count)));
}

void QNL_continuousSamplingNode::ResetStatistics() {
    weightedSum = weightedSquares = total = 0.0;
    samples.clear();
    histogram.assign(BINS, 0.0);
}

void QNL_continuousSamplingNode::AddSample(double weight) {
    samples.push_back({value, weight});
    const double bin = (value - lower) * BINS / (upper - lower);
    int index = 0;
    if (bin >= BINS)
        index = BINS - 1;
    else if (bin >= 0.0)
        index = static_cast<int>(bin);
    histogram[static_cast<std::size_t>(index)] += weight;
    weightedSum += weight * value;
    weightedSquares += weight * value * value;
}

void QNL_continuousSamplingNode::FinishStatistics() {
    total = 0.0;
    for (double h : histogram)
        total += h;
    if (!(total > 0.0)) return;
    for (double& h : histogram)
        h /= total;
    weightedSum /= total;
    weightedSquares = weightedSquares / total - weightedSum * weightedSum;
}

// The model holds the node within its range, renormalising its distribution there for the
// parents' current values, whether the evidence is weighed in or not; an equation's value
// outside the range weighs 0.
double QNL_continuousSamplingNode::DrawFromDefinition() {
    QNL_evaluationContext* holder = Holder();
    if (holder->HasExpressions()) {
        if (holder->Evaluate(&value) != 0) return 0.0;
        return Inside(value) ? 1.0 : 0.0;
    }
    return DrawInside(holder) ? 1.0 : 0.0;
}

// A distribution whose distribution function is known is drawn within the range by inverting
// it, at the cost of one draw however little the range keeps. Only a holder that can't is
// drawn again until a value falls inside; redraws that all fail weigh 0, right only where the
// range keeps a fair share.
bool QNL_continuousSamplingNode::DrawInside(QNL_evaluationContext* holder) {
    const int within = holder->DrawWithin(lower, upper, &value);
    if (within == 0) return Inside(value);
    if (within != QNL_evaluationContext::NOT_SUPPORTED) return false;
    for (int attempt = 0; attempt < MAX_ATTEMPTS; ++attempt) {
        if (holder->DrawValue(&value) != 0) return false;
        if (Inside(value)) return true;
    }
    return false;
}

double QNL_continuousSamplingNode::DrawWeighted() {
    if (Has(FIXED)) {
        value = fixedValue;
        return FixedWeight();
    }
    return DrawFromDefinition();
}

void QNL_continuousSamplingNode::WriteResult(QNL_node& node) {
    auto* result = dynamic_cast<QNL_continuousValue*>(node.GetValue());
    if (result == nullptr) return;
    if (Has(FIXED)) {
        if (!result->HasEvidence()) result->SetPropagatedEvidence(fixedValue);
        result->SetValidFlag(true);
        return;
    }
    if (!(total > 0.0)) return;
    try {
        result->GetSamples() = samples;
    } catch (const std::bad_alloc&) {
        return;
    }
    result->SetValidFlag(true);
}

void QNL_continuousSamplingNode::WriteSamples(QNL_node& node,
                                              const std::vector<QNL_weightedSample>& beliefs) {
    auto* result = dynamic_cast<QNL_continuousValue*>(node.GetValue());
    if (result == nullptr || beliefs.empty()) return;
    try {
        result->GetSamples() = beliefs;
    } catch (const std::bad_alloc&) {
        return;
    }
    result->SetValidFlag(true);
}
