#include "inference/stochastic_samplers.h"

#include <cmath>
#include <new>
#include <vector>

#include "inference/bayesian_algorithms.h"
#include "inference/relevance.h"
#include "inference/sampling_core.h"
#include "model/error_handler.h"
#include "model/network.h"

namespace {

using quarn::detail::DrawBelow;
using quarn::detail::SampleWeight;
using quarn::detail::SamplingComponent;
using quarn::detail::SamplingRecord;
using quarn::detail::WeightSums;

enum class Method { LOGIC, WEIGHTING, IMPORTANCE, BACKWARD };

// One component during a run: its records, its accumulators and the algorithm's tables.
struct ComponentRun {
    SamplingComponent records;
    // Hits (logic sampling) or weight sums per outcome, at each record's accumulator offset.
    WeightSums sums;
    long long accepted = 0;
    // Samples drawn, and the effective number of those accepted.
    long long drawn = 0;
    quarn::detail::EffectiveSampleCount effective;
    // Importance sampling: the importance and learned tables at each record's cell offset,
    // and the learned table's sums of squared weights.
    std::vector<double> importance;
    WeightSums learned;
    WeightSums learnedSquares;
    // Backward sampling: the slice over a record's unsampled parents, which parents those
    // are, and the coordinates of a slice cell.
    std::vector<double> slice;
    std::vector<int> freeParents;
    std::vector<int> coordinates;
};

int Prepare(QNL_relevanceComponent& component, Method method, ComponentRun& run) {
    const int order =
        method == Method::LOGIC ? component.ListForSampling() : component.ListTopologically();
    if (order != 0) return QNL_errorHandler::Instance().LogError(order);
    if (int r = run.records.BuildSamplingRecords(component)) return r;
    run.sums.Assign(static_cast<std::size_t>(run.records.AccumulatorSize()));
    if (method == Method::IMPORTANCE) {
        run.records.CopyTables(run.importance);
        run.records.CreateLearnedTable(run.learned);
        run.records.CreateLearnedTable(run.learnedSquares);
    }
    if (method == Method::BACKWARD) {
        run.slice.resize(static_cast<std::size_t>(run.records.LargestConfigurationCount()));
        run.freeParents.resize(static_cast<std::size_t>(run.records.LargestParentCount()));
        run.coordinates.resize(static_cast<std::size_t>(run.records.LargestParentCount()));
    }
    return 0;
}

void Accept(ComponentRun& run, const SampleWeight& weight) {
    const double w = run.sums.Take(weight);
    ++run.accepted;
    run.effective.Add(weight);
    SamplingComponent& records = run.records;
    for (int i = 0; i < records.Size(); ++i)
        run.sums[records[i].accumulator + records[i].state] += w;
}

// Forward draws with evidence as a filter: false when a drawn state contradicts evidence.
bool LogicSample(ComponentRun& run, QNL_random& random) {
    SamplingComponent& records = run.records;
    for (int i = 0; i < records.Size(); ++i) {
        SamplingRecord& r = records[i];
        r.state = DrawBelow(r.cells + records.ColumnAt(r), r.outcomes, random);
        if (r.observed >= 0 && r.state != r.observed) return false;
    }
    return true;
}

// Evidence fixed and weighed by its table entry; false when the sample drops.
bool WeightedSample(ComponentRun& run, QNL_random& random, SampleWeight& weight) {
    SamplingComponent& records = run.records;
    for (int i = 0; i < records.Size(); ++i) {
        SamplingRecord& r = records[i];
        const double* column = r.cells + records.ColumnAt(r);
        if (r.observed < 0) {
            r.state = DrawBelow(column, r.outcomes, random);
            continue;
        }
        r.state = r.observed;
        if (!weight.Multiply(column[r.state])) return false;
    }
    return true;
}

// Unobserved nodes drawn from their importance tables; false when the sample drops.
bool ImportanceSample(ComponentRun& run, QNL_random& random, SampleWeight& weight) {
    SamplingComponent& records = run.records;
    SampleWeight ratio;
    for (int i = 0; i < records.Size(); ++i) {
        SamplingRecord& r = records[i];
        r.column = records.ColumnAt(r);
        const double* p = r.cells + r.column;
        if (r.observed >= 0) {
            r.state = r.observed;
            if (!weight.Multiply(p[r.state])) return false;
            continue;
        }
        const double* q = run.importance.data() + r.cell + r.column;
        r.state = DrawBelow(q, r.outcomes, random);
        if (q[r.state] != 0.0 && !ratio.Multiply(p[r.state] / q[r.state])) return false;
    }
    weight.Multiply(ratio);
    return true;
}

// Each importance column is the mean of the node's table and its learned distribution once
// the column has many effective samples n; before, the learned side weighs only
// n / (n + 100) of its half. The plain mean, with the learned tables normalised in place, drew
// hundreds of nodes from columns learned from a handful of samples: every node moved the
// weights a little, later samples weighed e^10 to e^20 less than the first hundred (drawn from
// the tables themselves), and a few early samples made the whole estimate however long the
// run. The table's own half keeps every possible outcome drawable and each sample's ratio of
// probabilities at most 2 a node. A column no sample has reached yet is the node's table.
void Reestimate(ComponentRun& run) {
    constexpr double SHRINK = 100.0;
    SamplingComponent& records = run.records;
    const int scale = 2 * run.learned.Unit() - run.learnedSquares.Unit();
    for (int i = 0; i < records.Size(); ++i) {
        const SamplingRecord& r = records[i];
        if (r.observed >= 0) continue;
        const double* learned = run.learned.Data() + r.cell;
        const double* squares = run.learnedSquares.Data() + r.cell;
        double* q = run.importance.data() + r.cell;
        for (std::int64_t start = 0; start < r.tableSize; start += r.outcomes) {
            double sum = 0.0, sumOfSquares = 0.0;
            for (int k = 0; k < r.outcomes; ++k) {
                sum += learned[start + k];
                sumOfSquares += squares[start + k];
            }
            double share = 0.0;
            if (sum > 0.0 && sumOfSquares > 0.0) {
                const double effective = std::ldexp(sum / sumOfSquares * sum, scale);
                share = 0.5 * effective / (effective + SHRINK);
            }
            for (int k = 0; k < r.outcomes; ++k)
                q[start + k] = (1.0 - share) * r.cells[start + k] +
                               (share > 0.0 ? share * learned[start + k] / sum : 0.0);
        }
    }
}

// Draws the unsampled parents of `r` together from the slice of its table at its state; the
// normaliser of the slice, 0.0 when the slice is empty. False when every parent has a state.
bool DrawParentsBackward(ComponentRun& run, SamplingRecord& r, QNL_random& random,
                         double& normaliser) {
    SamplingComponent& records = run.records;
    int freeCount = 0;
    std::int64_t base = r.state;
    std::int64_t count = 1;
    for (int j = 0; j < r.parentCount; ++j) {
        const SamplingRecord& parent = records[records.Parent(r, j)];
        if (parent.state < 0) {
            run.freeParents[static_cast<std::size_t>(freeCount++)] = j;
            count *= parent.outcomes;
        } else {
            base += parent.state * records.Stride(r, j);
        }
    }
    if (freeCount == 0) return false;
    r.mark = SamplingRecord::MARK_BACKWARD;
    // The slice's cells with the first unsampled parent slowest, as the table orders them.
    int* coordinate = run.coordinates.data();
    for (int f = 0; f < freeCount; ++f)
        coordinate[f] = 0;
    std::int64_t offset = base;
    for (std::int64_t k = 0; k < count; ++k) {
        run.slice[static_cast<std::size_t>(k)] = r.cells[offset];
        for (int f = freeCount - 1; f >= 0; --f) {
            const int j = run.freeParents[static_cast<std::size_t>(f)];
            const std::int64_t stride = records.Stride(r, j);
            if (++coordinate[f] < records[records.Parent(r, j)].outcomes) {
                offset += stride;
                break;
            }
            offset -= stride * (coordinate[f] - 1);
            coordinate[f] = 0;
        }
    }
    normaliser = NormalizeVector(run.slice.data(), static_cast<int>(count), 0.0);
    if (normaliser == 0.0) return true;
    std::int64_t index = DrawBelow(run.slice.data(), static_cast<int>(count), random);
    for (int f = freeCount - 1; f >= 0; --f) {
        const int j = run.freeParents[static_cast<std::size_t>(f)];
        SamplingRecord& parent = records[records.Parent(r, j)];
        parent.state = static_cast<int>(index % parent.outcomes);
        index /= parent.outcomes;
    }
    return true;
}

// One backward sample: evidence nodes' unsampled ancestors along first parents are drawn
// from the evidence slices, the rest forward. False for a sample that counts nothing.
//
// A walk stops at a record an earlier walk of the sample met: that walk drew whatever the
// record's parents left open (states once drawn stay) and went on up the same first parents,
// so going on would draw nothing. Stopping only at records that drew parents walked each
// finding of a chain to its start.
bool BackwardSample(ComponentRun& run, QNL_random& random, SampleWeight& weight) {
    SamplingComponent& records = run.records;
    records.ResetStates();
    for (int i = 0; i < records.Size(); ++i)
        records[i].mark = 0;
    for (int i = 0; i < records.Size(); ++i) {
        const SamplingRecord& start = records[i];
        if (start.observed < 0 || start.parentCount == 0 || start.mark != 0) continue;
        int at = i;
        for (;;) {
            SamplingRecord& r = records[at];
            double normaliser = 1.0;
            if (!DrawParentsBackward(run, r, random, normaliser))
                r.mark = SamplingRecord::MARK_VISITED;
            else if (!weight.Multiply(normaliser))
                return false;
            at = records.Parent(r, 0);
            const SamplingRecord& next = records[at];
            if (next.parentCount == 0 || next.mark != 0) break;
        }
    }
    for (int i = 0; i < records.Size(); ++i) {
        SamplingRecord& r = records[i];
        const double* column = r.cells + records.ColumnAt(r);
        if (r.state < 0) {
            r.state = DrawBelow(column, r.outcomes, random);
        } else if (r.mark != SamplingRecord::MARK_BACKWARD && !weight.Multiply(column[r.state])) {
            return false;
        }
    }
    return true;
}

void SampleAll(std::vector<ComponentRun>& runs, Method method, int samples) {
    QNL_random& random = QNL_samplingRandom();
    if (method == Method::BACKWARD) {
        for (ComponentRun& run : runs)
            for (int s = 0; s < samples; ++s) {
                ++run.drawn;
                SampleWeight weight;
                if (BackwardSample(run, random, weight)) Accept(run, weight);
            }
        return;
    }
    for (int s = 0; s < samples; ++s) {
        if (method == Method::WEIGHTING) {
            ++QNL_samplingCounter;
            if (QNL_samplingStopFlag == 1) break;
        }
        for (ComponentRun& run : runs) {
            ++run.drawn;
            SampleWeight weight;
            switch (method) {
            case Method::LOGIC:
                if (LogicSample(run, random)) Accept(run, weight);
                break;
            case Method::WEIGHTING:
                if (WeightedSample(run, random, weight)) Accept(run, weight);
                break;
            default:
                if (ImportanceSample(run, random, weight)) {
                    Accept(run, weight);
                    SampleWeight square = weight;
                    square.Multiply(weight);
                    const double w = run.learned.Take(weight);
                    const double w2 = run.learnedSquares.Take(square);
                    SamplingComponent& records = run.records;
                    for (int i = 0; i < records.Size(); ++i) {
                        const SamplingRecord& r = records[i];
                        if (r.observed >= 0) continue;
                        run.learned[r.cell + r.column + r.state] += w;
                        run.learnedSquares[r.cell + r.column + r.state] += w2;
                    }
                    if (s > 0 && s % 100 == 0) Reestimate(run);
                }
                break;
            }
        }
    }
}

int RunStochastic(QNL_network& network, Method method) {
    if (method == Method::LOGIC || method == Method::WEIGHTING) QNL_samplingCounter = 0;
    int result = 0;
    try {
        // No sample can carry weight when a node's table rules its evidence out outright, yet
        // the reduction would drop that node with the zero factor.
        if (quarn::detail::HasLocallyImpossibleEvidence(network)) {
            network.InvalidateValues();
            QNL_samplingStatus = quarn::detail::LogNoUsefulSamples();
            if (method == Method::WEIGHTING) QNL_samplingStopFlag = 0;
            return QNL_samplingStatus;
        }
        QNL_componentList components;
        result = QNL_relevance::Reduce(network, true, true, components);
        if (result == QNL_relevance::IMPOSSIBLE_EVIDENCE)
            result = QNL_samplingStatus = quarn::detail::LogNoUsefulSamples();
        if (result == 0) {
            quarn::detail::DropSingleNodeComponents(components);
            QNL_samplingStatus = 0;
            std::vector<ComponentRun> runs;
            runs.reserve(static_cast<std::size_t>(components.GetCount()));
            for (int i = 0; i < components.GetCount() && result == 0; ++i) {
                if (components[i] == nullptr) continue;
                runs.emplace_back();
                result = Prepare(*components[i], method, runs.back());
            }
            if (result == 0) {
                SampleAll(runs, method, network.GetNumberOfSamples());
                // A component without a useful sample stays reported whatever follows it.
                for (const ComponentRun& run : runs) {
                    // Weighted runs count every sample without a factor 0.0, however small,
                    // but answer only from enough of them.
                    const double effective = run.effective.Value();
                    if (run.accepted > 0 &&
                        !quarn::detail::TooFewEffectiveSamples(effective, run.drawn)) {
                        run.records.WriteEstimates(run.sums.Data());
                        continue;
                    }
                    if (run.accepted > 0)
                        quarn::detail::LogTooFewEffectiveSamples(-5, effective, run.drawn);
                    QNL_samplingStatus = run.records.ReportNoUsefulSamples();
                }
                result = QNL_samplingStatus;
            }
        }
    } catch (const std::bad_alloc&) {
        result = QNL_errorHandler::Instance().LogError(-42);
    }
    if (method == Method::WEIGHTING) QNL_samplingStopFlag = 0;
    return result;
}

} // namespace

int RunLogicSampling(QNL_network& network) {
    return RunStochastic(network, Method::LOGIC);
}

int RunLikelihoodWeighting(QNL_network& network) {
    return RunStochastic(network, Method::WEIGHTING);
}

int RunImportanceSampling(QNL_network& network) {
    return RunStochastic(network, Method::IMPORTANCE);
}

int RunBackwardSampling(QNL_network& network) {
    return RunStochastic(network, Method::BACKWARD);
}
