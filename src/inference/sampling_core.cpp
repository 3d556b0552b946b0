#include "inference/sampling_core.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <new>
#include <string>

#include "definitions/node_value.h"
#include "inference/relevance.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/node.h"

int QNL_samplingStatus = 0;
int QNL_samplingStopFlag = 0;
int QNL_samplingCounter = 0;

QNL_random& QNL_samplingRandom() {
    // Seed 1: the stream an unseeded runtime generator of this recurrence would give.
    static QNL_random generator(1);
    return generator;
}

double NormalizeVector(double* values, int count, double sum) {
    if (sum == 0.0) {
        for (int i = 0; i < count; ++i)
            sum += values[i];
        if (sum == 0.0) return 0.0;
    }
    const double scale = 1.0 / sum;
    for (int i = 0; i < count; ++i)
        values[i] *= scale;
    return sum;
}

namespace quarn::detail {

namespace {
unsigned fixedAdaptiveSeed = 0;
} // namespace

QNL_random& AdaptiveSamplerRandom() {
    static QNL_random generator(1);
    return generator;
}

void SetAdaptiveSamplerSeed(unsigned seed) {
    fixedAdaptiveSeed = seed;
}

unsigned AdaptiveSamplerSeed() {
    if (fixedAdaptiveSeed != 0) return fixedAdaptiveSeed;
    const unsigned now = static_cast<unsigned>(std::time(nullptr));
    const unsigned ticks = static_cast<unsigned>(std::clock());
    return (now ^ ticks) & 0x7FFFu;
}

bool SampleWeight::MultiplyOutOfRange(double factor) {
    if (factor == 0.0) {
        mantissa = 0.0;
        return false;
    }
    // The factor's own mantissa, in [0.5, 1), keeps the product a normal number.
    int shift = 0;
    mantissa *= std::frexp(factor, &shift);
    exponent += shift;
    Rebalance();
    return true;
}

void SampleWeight::Rebalance() {
    int shift = 0;
    mantissa = std::frexp(mantissa, &shift);
    exponent += shift;
}

void WeightSums::Assign(std::size_t size) {
    values.assign(size, 0.0);
    unit = NO_UNIT;
}

void WeightSums::Clear() {
    std::fill(values.begin(), values.end(), 0.0);
    unit = NO_UNIT;
}

void WeightSums::Raise(int exponent) {
    if (unit != NO_UNIT) {
        const int shift = unit - exponent;
        for (double& v : values)
            v = std::ldexp(v, shift);
    }
    unit = exponent;
}

void EffectiveSampleCount::Clear() {
    sum.Assign(1);
    squares.Assign(1);
}

double EffectiveSampleCount::Value() const {
    const double s = sum.Data()[0], q = squares.Data()[0];
    if (!(s > 0.0 && q > 0.0)) return 0.0;
    return std::ldexp(s / q * s, 2 * sum.Unit() - squares.Unit());
}

bool TooFewEffectiveSamples(double effective, long long samples) {
    constexpr double FLOOR = 1.1, SHARE = 1000.0;
    return samples > 1 && !(effective >= std::max(FLOOR, static_cast<double>(samples) / SHARE));
}

int LogTooFewEffectiveSamples(int code, double effective, long long samples) {
    return QNL_errorHandler::Instance().LogError(
        code, "ERROR: the weight of the samples rests on too few of them: an effective " +
                  std::to_string(effective) + " of " + std::to_string(samples));
}

void NormalizeColumns(double* cells, std::int64_t size, int count) {
    for (std::int64_t start = 0; start + count <= size; start += count) {
        double* column = cells + start;
        double sum = 0.0;
        for (int i = 0; i < count; ++i)
            sum += column[i];
        if (sum > 0.0) {
            const double scale = 1.0 / sum;
            for (int i = 0; i < count; ++i)
                column[i] *= scale;
        } else {
            for (int i = 0; i < count; ++i)
                column[i] = 1.0 / count;
        }
    }
}

int SamplingComponent::BuildSamplingRecords(QNL_relevanceComponent& component) {
    try {
        const int n = component.GetNumberOfRecords();
        records.assign(static_cast<std::size_t>(n), SamplingRecord{});
        parentPositions.clear();
        strides.clear();
        accumulatorSize = 0;
        cellCount = 0;
        largestConfigurations = 1;
        largestParents = 0;
        for (int i = 0; i < n; ++i) {
            const QNL_relevanceNode* source = component.GetRecord(i);
            SamplingRecord& r = records[static_cast<std::size_t>(i)];
            r.node = source->GetNode();
            r.outcomes = source->GetNumberOfOutcomes();
            r.observed = source->GetObservedOutcome();
            r.state = r.observed;
            r.table = source->GetTable();
            r.parentCount = source->GetNumberOfParents();
            r.firstParent = static_cast<int>(parentPositions.size());
            const QNL_Dmatrix* table = r.table;
            if (table == nullptr || r.outcomes < 1 ||
                table->GetNumberOfDimensions() != r.parentCount + 1 ||
                table->GetSizeOfDimension(r.parentCount) != r.outcomes)
                return QNL_errorHandler::Instance().LogError(
                    -567, "A sampled node's table does not fit its parents");
            r.cells = table->GetItems().Items();
            r.tableSize = table->GetSize();
            for (int j = 0; j < r.parentCount; ++j) {
                const QNL_relevanceNode* parent = source->GetParent(j);
                // The reduction keeps every parent in its child's component.
                if (parent->GetComponent() != &component ||
                    table->GetSizeOfDimension(j) != parent->GetNumberOfOutcomes())
                    return QNL_errorHandler::Instance().LogError(
                        -567, "A sampled node's table does not fit its parents");
                parentPositions.push_back(parent->GetPosition());
                strides.push_back(table->GetMultiplier(j));
            }
            r.accumulator = accumulatorSize;
            accumulatorSize += r.outcomes;
            r.cell = cellCount;
            cellCount += r.tableSize;
            largestConfigurations = std::max(largestConfigurations, r.tableSize / r.outcomes);
            largestParents = std::max(largestParents, r.parentCount);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

void SamplingComponent::CreateLearnedTable(WeightSums& learned) const {
    learned.Assign(static_cast<std::size_t>(cellCount));
}

void SamplingComponent::CopyTables(std::vector<double>& importance) const {
    importance.resize(static_cast<std::size_t>(cellCount));
    for (const SamplingRecord& r : records)
        std::copy(r.cells, r.cells + r.tableSize, importance.begin() + r.cell);
}

void SamplingComponent::WriteEstimates(const double* sums) const {
    for (const SamplingRecord& r : records)
        if (r.node != nullptr) WriteNodeBeliefs(r.node, sums + r.accumulator, r.outcomes);
}

int SamplingComponent::ReportNoUsefulSamples() const {
    for (const SamplingRecord& r : records) {
        QNL_nodeValue* value = r.node != nullptr ? r.node->GetValue() : nullptr;
        if (value != nullptr && !value->IsObserved()) value->SetValidFlag(false);
    }
    return LogNoUsefulSamples();
}

void DropSingleNodeComponents(QNL_componentList& components) {
    for (int i = 0; i < components.GetCount(); ++i) {
        QNL_relevanceComponent* component = components[i];
        if (component == nullptr || component->GetNumberOfRecords() != 1) continue;
        component->GetRecord(0)->StoreMarginal();
        components.Destroy(i);
    }
}

int LogNoUsefulSamples() {
    return QNL_errorHandler::Instance().LogError(
        -5, "No useful samples have been generated for some of nodes.");
}

} // namespace quarn::detail
