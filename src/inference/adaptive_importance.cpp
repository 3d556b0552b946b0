#include "inference/adaptive_importance.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "inference/bayesian_algorithms.h"
#include "inference/graph_view.h"
#include "inference/message_passing.h"
#include "inference/relevance.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/parameter_blocks.h"

using quarn::detail::SampleWeight;
using quarn::detail::SamplingRecord;

namespace {

constexpr int kLearningSamples = 25000;
constexpr int kLearningUpdateEvery = 2500;

// Cut-off of small probabilities in a column: ε by outcome count; 0.0 when the uniform rule
// applies instead.
double CutOffEpsilon(int outcomes) {
    if (outcomes < 6) return 0.1;
    if (outcomes < 9) return 0.04;
    if (outcomes < 21) return 0.0025;
    return 0.0;
}

} // namespace

QNL_importanceSampler::QNL_importanceSampler(const QNL_graphView& view)
    : network(view.GetNetwork()) {
    QNL_relevanceComponent* component = view.GetComponent();
    if (component == nullptr) {
        status = -2;
        return;
    }
    status = component->ListTopologically();
    if (status == 0) status = records.BuildSamplingRecords(*component);
    if (status != 0) return;
    // Ancestors of evidence, found through the parents without recursion; evidence records
    // themselves have no children in a reduced component, so none is its own ancestor.
    marked.assign(static_cast<std::size_t>(records.Size()), 0);
    std::vector<int> stack;
    for (int r = 0; r < records.Size(); ++r) {
        if (records[r].observed < 0) continue;
        stack.push_back(r);
        while (!stack.empty()) {
            const SamplingRecord& at = records[stack.back()];
            stack.pop_back();
            for (int j = 0; j < at.parentCount; ++j) {
                const int parent = records.Parent(at, j);
                if (marked[static_cast<std::size_t>(parent)]) continue;
                marked[static_cast<std::size_t>(parent)] = 1;
                stack.push_back(parent);
            }
        }
    }
    for (int r = 0; r < records.Size(); ++r)
        if (records[r].observed >= 0) marked[static_cast<std::size_t>(r)] = 0;
}

int QNL_importanceSampler::Init() {
    if (status != 0) return status;
    try {
        records.CopyTables(importance);
        records.CreateLearnedTable(learned);
        beliefs.Assign(static_cast<std::size_t>(records.AccumulatorSize()));
        return 0;
    } catch (const std::bad_alloc&) {
        return status = QNL_errorHandler::Instance().LogError(-42);
    }
}

void QNL_importanceSampler::Finish() {
    importance = {};
    learned = {};
    beliefs = {};
}

double QNL_importanceSampler::DrawSample() {
    SampleWeight weight;
    return DrawWeighted(weight) ? std::ldexp(weight.Mantissa(), weight.Exponent()) : 0.0;
}

bool QNL_importanceSampler::DrawWeighted(SampleWeight& weight) {
    QNL_random& random = quarn::detail::AdaptiveSamplerRandom();
    for (int i = 0; i < records.Size(); ++i) {
        SamplingRecord& r = records[i];
        r.column = records.ColumnAt(r);
        const double* p = r.cells + r.column;
        double factor = 0.0;
        if (r.observed >= 0) {
            r.state = r.observed;
            factor = p[r.state];
        } else {
            const double* q = importance.data() + r.cell + r.column;
            r.state = quarn::detail::DrawReaching(q, r.outcomes, random);
            factor = q[r.state] != 0.0 ? p[r.state] / q[r.state] : 0.0;
        }
        if (!weight.Multiply(factor)) return false;
    }
    return true;
}

void QNL_importanceSampler::Accumulate(const SampleWeight& weight, bool learn) {
    const double w = learn ? learned.Take(weight) : beliefs.Take(weight);
    for (int i = 0; i < records.Size(); ++i) {
        const SamplingRecord& r = records[i];
        if (r.observed >= 0) continue;
        if (learn) {
            if (marked[static_cast<std::size_t>(i)]) learned[r.cell + r.column + r.state] += w;
        } else {
            beliefs[r.accumulator + r.state] += w;
        }
    }
}

int QNL_importanceSampler::EstimateAndWrite() {
    learned.Clear();
    beliefs.Clear();
    const int samples = network->GetNumberOfSamples();
    quarn::detail::EffectiveSampleCount effective;
    for (int s = 0; s < samples; ++s) {
        SampleWeight weight;
        if (!DrawWeighted(weight)) continue;
        Accumulate(weight, false);
        effective.Add(weight);
    }
    // Set after sampling: rescaling the sums must not touch these.
    for (int i = 0; i < records.Size(); ++i)
        if (records[i].observed >= 0) beliefs[records[i].accumulator + records[i].observed] = 1.0;
    // A record without weight fails the whole component, which then writes nothing.
    for (int i = 0; i < records.Size(); ++i) {
        const SamplingRecord& r = records[i];
        double sum = 0.0;
        for (int k = 0; k < r.outcomes; ++k)
            sum += beliefs[r.accumulator + k];
        if (!(sum > 0.0)) return -5;
    }
    if (quarn::detail::TooFewEffectiveSamples(effective.Value(), samples))
        return quarn::detail::LogTooFewEffectiveSamples(-5, effective.Value(), samples);
    records.WriteEstimates(beliefs.Data());
    return 0;
}

void QNL_importanceSampler::CutOff(const SamplingRecord& r) {
    const double epsilon = CutOffEpsilon(r.outcomes);
    if (epsilon == 0.0) {
        Uniform(r);
        return;
    }
    const int n = r.outcomes;
    for (std::int64_t c = 0; c < r.tableSize; c += n) {
        const double* p = r.cells + c;
        double* q = importance.data() + r.cell + c;
        double raised = 0.0;
        int largest = 0;
        for (int k = 0; k < n; ++k) {
            if (p[k] > p[largest]) largest = k;
            if (p[k] != 0.0 && p[k] < epsilon) {
                raised += epsilon - p[k];
                q[k] = epsilon;
            } else {
                q[k] = p[k];
            }
        }
        q[largest] -= raised;
    }
}

void QNL_importanceSampler::Uniform(const SamplingRecord& r) {
    const int n = r.outcomes;
    for (std::int64_t c = 0; c < r.tableSize; c += n) {
        const double* p = r.cells + c;
        double* q = importance.data() + r.cell + c;
        int nonZero = 0;
        for (int k = 0; k < n; ++k)
            nonZero += p[k] != 0.0;
        for (int k = 0; k < n; ++k)
            q[k] = p[k] != 0.0 ? 1.0 / nonZero : 0.0;
    }
}

// The raise of the small entries is taken from the larger ones in equal parts. Entries equal
// to ε count in the divisor though they give nothing, and user values of ε can ask for more
// than an entry holds: entries are clamped at 0 and the column is scaled back to sum 1.
void QNL_importanceSampler::EpisCutOff(const SamplingRecord& r, const QNL_episParams& params) {
    const int n = r.outcomes;
    const double epsilon = n <= params.numstates1   ? params.eps1
                           : n <= params.numstates2 ? params.eps2
                           : n <= params.numstates3 ? params.eps3
                                                    : params.eps4;
    for (std::int64_t c = 0; c < r.tableSize; c += n) {
        double* q = importance.data() + r.cell + c;
        double raise = 0.0;
        int nonZero = 0;
        int raisedCount = 0;
        for (int k = 0; k < n; ++k) {
            if (q[k] == 0.0) continue;
            ++nonZero;
            if (q[k] < epsilon) {
                raise += epsilon - q[k];
                q[k] = epsilon;
                ++raisedCount;
            }
        }
        if (raisedCount == 0) continue;
        if (nonZero > raisedCount) {
            const double share = raise / (nonZero - raisedCount);
            for (int k = 0; k < n; ++k)
                if (q[k] > epsilon) q[k] = std::max(0.0, q[k] - share);
        }
        quarn::detail::NormalizeColumns(q, n, n);
    }
}

int QNL_importanceSampler::RunAdaptive() {
    rate = 0.4;
    quarn::detail::AdaptiveSamplerRandom().Seed(quarn::detail::AdaptiveSamplerSeed());
    learned.Clear();
    for (int i = 0; i < records.Size(); ++i)
        if (marked[static_cast<std::size_t>(i)] && records[i].observed < 0) CutOff(records[i]);
    for (int i = 0; i < records.Size(); ++i) {
        const SamplingRecord& r = records[i];
        if (r.observed < 0) continue;
        for (int j = 0; j < r.parentCount; ++j)
            Uniform(records[records.Parent(r, j)]);
    }
    for (int s = 1; s <= kLearningSamples; ++s) {
        SampleWeight weight;
        if (DrawWeighted(weight)) Accumulate(weight, true);
        if (s % kLearningUpdateEvery != 0) continue;
        for (int i = 0; i < records.Size(); ++i) {
            const SamplingRecord& r = records[i];
            if (!marked[static_cast<std::size_t>(i)] || r.observed >= 0) continue;
            const int n = r.outcomes;
            for (std::int64_t c = 0; c < r.tableSize; c += n) {
                const double* l = learned.Data() + r.cell + c;
                double* q = importance.data() + r.cell + c;
                double sum = 0.0;
                for (int k = 0; k < n; ++k)
                    sum += l[k];
                if (sum == 0.0) continue;
                for (int k = 0; k < n; ++k)
                    q[k] = rate * l[k] / sum + (1.0 - rate) * q[k];
            }
        }
        learned.Clear();
        rate *= 0.9;
    }
    return EstimateAndWrite();
}

int QNL_importanceSampler::RunPropagated(int iterations, const QNL_episParams& params) {
    quarn::detail::MessagePassing messages(records);
    messages.Run(iterations, false);
    for (int i = 0; i < records.Size(); ++i) {
        const SamplingRecord& r = records[i];
        const double* lambda = messages.Lambda(r);
        double* q = importance.data() + r.cell;
        for (std::int64_t c = 0; c < r.tableSize; ++c)
            q[c] = r.cells[c] * lambda[c % r.outcomes];
        quarn::detail::NormalizeColumns(q, r.tableSize, r.outcomes);
    }
    for (int i = 0; i < records.Size(); ++i)
        if (marked[static_cast<std::size_t>(i)] && records[i].observed < 0)
            EpisCutOff(records[i], params);
    quarn::detail::AdaptiveSamplerRandom().Seed(quarn::detail::AdaptiveSamplerSeed());
    return EstimateAndWrite();
}

int QNL_importanceSampler::RunMessagePassing(int iterations) {
    quarn::detail::MessagePassing messages(records);
    if (int r = messages.Run(iterations, true)) return r;
    for (int i = 0; i < records.Size(); ++i) {
        const double* belief = messages.Belief(records[i]);
        double sum = 0.0;
        for (int k = 0; k < records[i].outcomes; ++k)
            sum += belief[k];
        if (!(sum > 0.0)) return -26;
    }
    for (int i = 0; i < records.Size(); ++i)
        if (records[i].node != nullptr)
            quarn::detail::WriteNodeBeliefs(records[i].node, messages.Belief(records[i]),
                                            records[i].outcomes);
    return 0;
}

namespace {

enum class Kernel { ADAPTIVE, PROPAGATED, MESSAGE_PASSING };

int RunAdaptiveSamplerByComponent(QNL_network& network, Kernel kernel) {
    try {
        network.InvalidateValues();
        if (quarn::detail::HasLocallyImpossibleEvidence(network))
            return quarn::detail::LogNoUsefulSamples();
        QNL_componentList components;
        if (int r = QNL_relevance::Reduce(network, true, true, components))
            return r == QNL_relevance::IMPOSSIBLE_EVIDENCE ? quarn::detail::LogNoUsefulSamples()
                                                           : r;
        const QNL_episParams& params = network.GetEpisParams();
        int iterations = params.proplen;
        if (kernel == Kernel::PROPAGATED)
            iterations = std::min(network.ComputeHeights(), params.proplen);
        for (int i = 0; i < components.GetCount(); ++i) {
            const QNL_graphView view(components[i]);
            QNL_importanceSampler sampler(view);
            int r = sampler.Init();
            if (r != 0) return r;
            switch (kernel) {
            case Kernel::ADAPTIVE:
                r = sampler.RunAdaptive();
                break;
            case Kernel::PROPAGATED:
                r = sampler.RunPropagated(iterations, params);
                break;
            default:
                r = sampler.RunMessagePassing(iterations);
                break;
            }
            sampler.Finish();
            if (r < 0) return quarn::detail::LogNoUsefulSamples();
            components.Destroy(i);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

} // namespace

int RunAdaptiveImportance(QNL_network& network) {
    return RunAdaptiveSamplerByComponent(network, Kernel::ADAPTIVE);
}

int RunPropagatedImportance(QNL_network& network) {
    return RunAdaptiveSamplerByComponent(network, Kernel::PROPAGATED);
}

int RunMessagePassing(QNL_network& network) {
    return RunAdaptiveSamplerByComponent(network, Kernel::MESSAGE_PASSING);
}
