#pragma once

#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numerics/random.h"

class QNL_componentList;
class QNL_network;
class QNL_node;
class QNL_relevanceComponent;
class QNL_Dmatrix;

// What every discrete sampler shares: the generators, the process-wide run words, the draw
// rules, one flat record per node of a component with its parents' strides prepared, the
// column walk over a sample's states and the writing of the estimates.
//
// A draw reads 15 bits of the generator, and 64 more of its second stream where those do not
// decide it, so an outcome is drawn with its probability down to 2^-79.

// Result of the last component a stochastic run processed: 0 or -5.
extern int QNL_samplingStatus;
// Set to 1 by a caller to end a likelihood-weighting run after the samples taken so far;
// every such run clears it at its end.
extern int QNL_samplingStopFlag;
// Samples begun in the current logic-sampling or likelihood-weighting run.
extern int QNL_samplingCounter;

// The generator of the stochastic samplers (logic sampling, likelihood weighting, importance
// and backward sampling). It starts from seed 1 when the library loads and runs on across
// runs; tests seed it for repeatable runs.
QNL_random& QNL_samplingRandom();

// Scales the array to sum 1. A sum argument of exactly 0.0 means: sum the array first. When
// that sum is 0.0 the array is left alone and 0.0 returned; otherwise the sum used.
double NormalizeVector(double* values, int count, double sum);

namespace quarn::detail {

// The adaptive samplers' own generator word, apart from the stochastic samplers' stream.
QNL_random& AdaptiveSamplerRandom();
// The adaptive samplers seed their own generator at every run from the time and the process
// clock; a non-zero seed set here is taken instead (0 goes back to the clock).
void SetAdaptiveSamplerSeed(unsigned seed);
// The seed of an adaptive run: the fixed one, else (time XOR clock) & 0x7FFF.
unsigned AdaptiveSamplerSeed();

// The stochastic samplers' rule: the first outcome whose running sum exceeds a FineUniform of
// the generator; a column whose sum stays at or below it gives its last outcome of non-zero
// probability (an empty column its last outcome). Giving the last outcome whatever its entry
// drew a state of probability 0 in one pedigree sample in 300, which every weighted sampler
// then counted.
inline int DrawBelow(const double* column, int count, QNL_random& random) {
    const int drawn = FirstAboveRunningSum(column, count - 1, random);
    if (drawn >= 0) return drawn;
    for (int i = count - 1; i >= 0; --i)
        if (column[i] != 0.0) return i;
    return count - 1;
}

// The adaptive samplers' rule: the first outcome whose running sum reaches a FineUniform of the
// generator; when none does, the last outcome with a non-zero entry (the last outcome when all
// are zero). Where the first number decides, this is the rule on that number moved off 0 and 1
// by 1e-11.
inline int DrawReaching(const double* column, int count, QNL_random& random) {
    const int drawn = FirstAboveRunningSum(column, count, random);
    if (drawn >= 0) return drawn;
    for (int i = count - 1; i > 0; --i)
        if (column[i] != 0.0) return i;
    return 0;
}

// The weight of one sample, the product of its factors, as mantissa × 2^exponent. Hundreds of
// findings of modest likelihood multiply to far below the smallest double; kept this way a
// product of non-zero factors never becomes 0. The mantissa is only rescaled by powers of 2,
// so a product that stays within the range of a double has exactly the plain product's
// roundings, and while it stays above 2^-300 the exponent is 0 and the mantissa is it.
class SampleWeight {
public:
    double Mantissa() const { return mantissa; }
    int Exponent() const { return exponent; }
    // False when the factor is 0.0: the sample then carries no weight.
    bool Multiply(double factor) {
        // A product out of this range may have lost bits (or be 0): it is taken again.
        const double product = mantissa * factor;
        if (!(product >= 0x1p-300 && product <= 0x1p300)) return MultiplyOutOfRange(factor);
        mantissa = product;
        return true;
    }
    // Multiplies by another product of factors (non-zero ones: the caller checks).
    void Multiply(const SampleWeight& other) {
        mantissa *= other.mantissa;
        exponent += other.exponent;
        if (!(mantissa >= 0x1p-300 && mantissa <= 0x1p300)) Rebalance();
    }

private:
    bool MultiplyOutOfRange(double factor);
    void Rebalance();

    double mantissa = 1.0;
    int exponent = 0;
};

// Sums of sample weights, stored as value × 2^unit with one unit for the whole array: the
// exponent of the largest weight taken. A weight that needs a larger unit first rescales every
// sum, which happens a handful of times a run (never while the weights stay above 2^-300, when
// the unit is 0 and the sums are the plain ones). The sums keep the ratios of the exact ones;
// a weight below 2^-1074 of the largest is lost, as it would be in a plain sum beside it.
class WeightSums {
public:
    // `size` sums of 0.0 and no unit yet.
    void Assign(std::size_t size);
    void Clear();
    // A sample's weight in the sums' unit, for the caller to add to the sums it falls into.
    double Take(const SampleWeight& weight) {
        if (weight.Exponent() == unit) return weight.Mantissa();
        if (weight.Exponent() > unit) Raise(weight.Exponent());
        return std::ldexp(weight.Mantissa(), weight.Exponent() - unit);
    }
    // The power of 2 every sum is to be multiplied by (0 before any weight was taken).
    int Unit() const { return unit == NO_UNIT ? 0 : unit; }

    double* Data() { return values.data(); }
    const double* Data() const { return values.data(); }
    double& operator[](std::int64_t i) { return values[static_cast<std::size_t>(i)]; }

private:
    static constexpr int NO_UNIT = INT_MIN;
    void Raise(int exponent);

    std::vector<double> values;
    int unit = NO_UNIT;
};

// The effective number of a run's weighted samples, (sum w)^2 / sum w^2, over weights of any
// size: the number of equal weights that would be as informative.
class EffectiveSampleCount {
public:
    EffectiveSampleCount() { Clear(); }
    void Clear();
    // A sample of non-zero weight.
    void Add(const SampleWeight& weight) {
        SampleWeight square = weight;
        square.Multiply(weight);
        sum[0] += sum.Take(weight);
        squares[0] += squares.Take(square);
    }
    // 0.0 before any sample.
    double Value() const;

private:
    WeightSums sum;
    WeightSums squares;
};

// Whether a weighted run of `samples` samples rests on too few of them to answer: fewer than
// max(1.1, samples / 1000) effective ones. Its answer would be a handful of draws, at worst
// one configuration, every belief 0 or 1. A run of one sample can't be told from a degenerate
// one and is never refused. The rule of every sampler, discrete and hybrid.
bool TooFewEffectiveSamples(double effective, long long samples);
// Logs `code` with the message that gives the effective number of samples; returns the code.
int LogTooFewEffectiveSamples(int code, double effective, long long samples);

// Every run of `count` cells (a column) scaled to sum 1; a column whose sum is not above 0
// becomes uniform.
void NormalizeColumns(double* cells, std::int64_t size, int count);

// One record of a component as the samplers walk it: the node, its table, where its parents
// sit in the component's record list and how far each moves the table's column. Accumulators
// and tables of the algorithms live in flat arrays of the component at `accumulator` and
// `cell` offsets.
struct SamplingRecord {
    // Set by backward sampling when this record's unsampled parents were drawn from its table;
    // MARK_VISITED when a walk of the sample met the record and left its parents as they were.
    static constexpr int MARK_BACKWARD = 20;
    static constexpr int MARK_VISITED = 1;
    int mark = 0;
    int state = -1;
    int observed = -1;
    int outcomes = 0;
    // Offset of the column the current sample used.
    std::int64_t column = 0;
    QNL_node* node = nullptr;
    const QNL_Dmatrix* table = nullptr;
    const double* cells = nullptr;
    std::int64_t tableSize = 0;
    int parentCount = 0;
    // Into the component's parent positions and strides.
    int firstParent = 0;
    // Into the component's per-outcome accumulators.
    std::int64_t accumulator = 0;
    // Into the component's table-shaped arrays (importance, learned).
    std::int64_t cell = 0;
};

// The records of one component in its current order, with the flat arrays every sampler
// needs. Built once before the sample loop; the loop itself allocates nothing.
class SamplingComponent {
public:
    // The component's records in its current order; 0, -42, or -567 when a record has no
    // table or its table does not match its parents and outcomes.
    int BuildSamplingRecords(QNL_relevanceComponent& component);

    int Size() const { return static_cast<int>(records.size()); }
    SamplingRecord& operator[](int r) { return records[static_cast<std::size_t>(r)]; }
    const SamplingRecord& operator[](int r) const { return records[static_cast<std::size_t>(r)]; }
    // Position of the record's index-th parent in the record list; its table stride.
    int Parent(const SamplingRecord& r, int index) const {
        return parentPositions[static_cast<std::size_t>(r.firstParent + index)];
    }
    std::int64_t Stride(const SamplingRecord& r, int index) const {
        return strides[static_cast<std::size_t>(r.firstParent + index)];
    }
    // Offset of the record's column at its parents' current states (all drawn).
    std::int64_t ColumnAt(const SamplingRecord& r) const {
        std::int64_t offset = 0;
        for (int j = 0; j < r.parentCount; ++j)
            offset += records[static_cast<std::size_t>(Parent(r, j))].state * Stride(r, j);
        return offset;
    }
    // Sum of every record's outcomes and of every table's cells.
    std::int64_t AccumulatorSize() const { return accumulatorSize; }
    std::int64_t CellCount() const { return cellCount; }
    // The largest number of parent configurations of any record.
    std::int64_t LargestConfigurationCount() const { return largestConfigurations; }
    int LargestParentCount() const { return largestParents; }
    // Each record's evidence outcome as its state (unobserved: -1).
    void ResetStates() {
        for (SamplingRecord& r : records)
            r.state = r.observed;
    }

    // A table-shaped array over every record (CellCount cells), all 0.0: the learned tables.
    void CreateLearnedTable(WeightSums& learned) const;
    // The same with every record's own table copied in: the importance tables.
    void CopyTables(std::vector<double>& importance) const;

    // Writes every record's accumulator (`sums` at the record's offset) as its beliefs.
    void WriteEstimates(const double* sums) const;
    // The no-sample case: every record without evidence loses its valid flag; -5 is logged.
    int ReportNoUsefulSamples() const;

private:
    std::vector<SamplingRecord> records;
    std::vector<int> parentPositions;
    std::vector<std::int64_t> strides;
    std::int64_t accumulatorSize = 0;
    std::int64_t cellCount = 0;
    std::int64_t largestConfigurations = 1;
    int largestParents = 0;
};

// Every component of one record gets its own table as beliefs and is destroyed; its slot in
// the list stays empty.
void DropSingleNodeComponents(QNL_componentList& components);

// Logs -5 with the samplers' message.
int LogNoUsefulSamples();

} // namespace quarn::detail
