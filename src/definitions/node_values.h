#pragma once

#include <cfloat>
#include <vector>

#include "definitions/node_value.h"
#include "model/dmatrix.h"
#include "numerics/gaussian_mixture.h"

class QNL_network;
class QNL_mau;

namespace quarn::detail {

// The part shared by the values that hold a matrix (belief, utility, decision and
// multi-attribute utility values): the owned value matrix, its access and copy. A copy
// between two values of one type is exact; assigning from another type binds to the
// source's node and starts the matrix afresh from the node's definition.
class MatrixValue : public QNL_nodeValue {
public:
    int CleanUp(int deep = 1) override;
    int Assign(const QNL_nodeValue& other) override;
    int InitFromDefinition() override;
    int GetValue(QNL_Dmatrix** out) override;
    int SetValue(const QNL_Dmatrix& source) override;

protected:
    MatrixValue(QNL_network* network, int handle) : QNL_nodeValue(network, handle) {}
    MatrixValue() = default;

    // Size of the one dimension a fresh matrix has for the node (network, handle).
    virtual int FreshSize(const QNL_network* network, int handle) const = 0;
    // Class fields beyond the matrix: copied from a value of the same type, or derived from
    // a value of another type once the fresh matrix is in place. Neither may fail.
    virtual void CopyOwnFields(const MatrixValue&) {}
    virtual void TakeOverEvidence(const QNL_nodeValue&) {}
    // The matrix becomes one dimension of the given size filled with 0.0 (empty below 1).
    static int MakeFreshMatrix(int size, QNL_Dmatrix& out);

    QNL_Dmatrix matrix;
};

// Belief vectors and decision values: a discrete outcome as evidence, set by the user
// (flag 1) or implied by other evidence (flag 4), never both. User evidence is announced
// to the network; propagated evidence is set by the network itself and is not.
class DiscreteValue : public MatrixValue {
public:
    using QNL_nodeValue::GetEvidence;
    using QNL_nodeValue::SetEvidence;
    using QNL_nodeValue::SetPropagatedEvidence;

    int CleanUp(int deep = 1) override;
    int GetEvidence() const override;
    int SetEvidence(int outcome) override;
    int ClearEvidence() override;
    int SetPropagatedEvidence(int outcome) override;
    int ClearPropagatedEvidence() override;
    int InvalidateValue() override;

protected:
    DiscreteValue(QNL_network* network, int handle, unsigned clearMask);
    explicit DiscreteValue(unsigned clearMask) : clearedWithEvidence(clearMask) {}

    int FreshSize(const QNL_network* network, int handle) const override;
    void CopyOwnFields(const MatrixValue& source) override;
    void TakeOverEvidence(const QNL_nodeValue& source) override;
    // Writes the outcome into the matrix the way SetValueToOutcome does, without checks.
    virtual void WriteOutcome(int outcome) = 0;

    int evidenceOutcome = 0;

private:
    // Sets user evidence on a value that holds none and tells the network; a refusal by
    // the network withdraws it again.
    int ApplyEvidence(int outcome);

    // Flags that ClearEvidence resets.
    unsigned clearedWithEvidence;
};

// The part shared by the values that hold one number as evidence (equation and continuous
// values): the number and its reading, and the copy. A copy between two values of one class
// takes every field along; assigning from another class binds to the source's node and
// starts the value afresh, without flags, indexing parents or evidence.
class NumberValue : public QNL_nodeValue {
public:
    using QNL_nodeValue::GetEvidence;

    int GetEvidence(double* out) const override;

protected:
    NumberValue(QNL_network* network, int handle) : QNL_nodeValue(network, handle) {}
    NumberValue() = default;

    // The assignment of a class Value derived from this one. `copy` returns the copies of
    // the source's fields that can fail (it may throw std::bad_alloc), made before anything
    // changes; `take` moves them in with the source's other fields and cannot fail.
    template <typename Value, typename Copy, typename Take>
    int AssignNumberValue(const QNL_nodeValue& other, Copy copy, Take take);
    // The class's own fields as a new value has them.
    virtual void ResetOwnFields() = 0;
    // A value the evidence determines has no spread left to sample: the samples of an
    // earlier update go, whether the finding is the user's or propagated.
    virtual void DropSamples() = 0;
    // User evidence x: -2 (logged) for a number that is not finite; else the number is kept,
    // propagated evidence is replaced, `set` joins the flags and the network is told. When
    // the network refuses it, the evidence is cleared again and the code returned.
    int StoreEvidence(double x, unsigned set);
    // Tells the network that user evidence was set or cleared. A finding on a number changes
    // what a sampled update estimates every value from (networks with such findings are
    // always sampled), so every computed value goes stale first.
    int AnnounceEvidence(bool set);

    double evidenceValue = 0.0;
};

} // namespace quarn::detail

// The posterior of a discrete chance node: one dimension per indexing parent that has
// outcomes, then the node's own outcomes.
class QNL_beliefVector : public quarn::detail::DiscreteValue {
public:
    QNL_beliefVector(QNL_network* network, int handle);
    QNL_beliefVector(const QNL_beliefVector& source);
    QNL_beliefVector& operator=(const QNL_beliefVector&) = delete;

    QNL_nodeValue* CreateCopy() const override;
    int GetType() const override { return QNL_VALUE_BELIEF_VECTOR; }
    // Also turns a matrix with indexing dimensions back into the plain outcome vector.
    int SetValueToOutcome(int outcome) override;

protected:
    void WriteOutcome(int outcome) override;
};

// The expected utilities of a decision's choices, and the choice made.
class QNL_decisionValue : public quarn::detail::DiscreteValue {
public:
    QNL_decisionValue(QNL_network* network, int handle);
    QNL_decisionValue(const QNL_decisionValue& source);
    QNL_decisionValue& operator=(const QNL_decisionValue&) = delete;

    QNL_nodeValue* CreateCopy() const override;
    int GetType() const override { return QNL_VALUE_DECISION; }
    // Records the choice; the expected utilities stay as they are.
    int SetValueToOutcome(int outcome) override;

protected:
    void WriteOutcome(int outcome) override;
};

// Expected utilities of a utility node, one per configuration of the indexing parents.
// The undefined marker (2 x DBL_MIN) stands for a configuration that was not evaluated.
class QNL_utilityValue : public quarn::detail::MatrixValue {
public:
    QNL_utilityValue(QNL_network* network, int handle);
    QNL_utilityValue(const QNL_utilityValue& source);
    QNL_utilityValue& operator=(const QNL_utilityValue&) = delete;

    static constexpr double UNDEFINED_UTILITY = 2 * DBL_MIN;

    QNL_nodeValue* CreateCopy() const override;
    int GetType() const override { return QNL_VALUE_UTILITY; }

    // Smallest and largest defined utility; the marker when every entry is undefined, 0.0
    // for an empty matrix.
    double GetMinimum() const;
    double GetMaximum() const;
    // Maps the utilities linearly from [low, high] (widened to cover the data; the data's
    // own range when low == high) onto [newLow, newHigh]. A constant reference range or an
    // empty target range sets every defined utility to newHigh; undefined entries stay.
    int Rescale(double low, double high, double newLow, double newHigh);

protected:
    int FreshSize(const QNL_network*, int) const override { return 1; }
};

// Expected multi-attribute utilities, laid out like a utility value.
class QNL_mauValue : public quarn::detail::MatrixValue {
public:
    QNL_mauValue(QNL_network* network, int handle);
    QNL_mauValue(const QNL_mauValue& source);
    QNL_mauValue& operator=(const QNL_mauValue&) = delete;

    QNL_nodeValue* CreateCopy() const override;
    int GetType() const override { return QNL_VALUE_MAU; }

    // Fills every entry with the multi-attribute utility of its configuration. A decision
    // parent takes the entry's coordinate when it indexes this value, else its chosen
    // outcome; each utility parent's value is read where its own indexing parents meet the
    // entry's coordinates. The matrix is unchanged on failure; the flags are the caller's.
    int ComputeFromParents();
    // The utility of one decision configuration from the utilities of the definition's
    // utility parents (in their order): index is the configuration's first weight, or with
    // expressions its expression cell. An undefined input, an index outside the definition
    // or an expression naming a node that is not a utility parent gives the undefined
    // marker. Throws std::bad_alloc when memory runs out.
    static double Combine(const QNL_mau& definition, int index,
                          const std::vector<double>& utilities);

protected:
    int FreshSize(const QNL_network*, int) const override { return 1; }
};

// The result of an equation node: its evidence number, or the statistics of the values an
// equation solver computed for it (samples kept while keep-samples is 1).
class QNL_equationValue : public quarn::detail::NumberValue {
public:
    using QNL_nodeValue::SetEvidence;
    using QNL_nodeValue::SetPropagatedEvidence;

    QNL_equationValue(QNL_network* network, int handle);
    QNL_equationValue(const QNL_equationValue& source);
    QNL_equationValue& operator=(const QNL_equationValue&) = delete;

    QNL_nodeValue* CreateCopy() const override;
    int Assign(const QNL_nodeValue& other) override;
    int GetType() const override { return QNL_VALUE_EQUATION; }
    int AddIndexingParent(int) override { return -51; }
    int SetEvidence(double x) override;
    int ClearEvidence() override;
    int SetPropagatedEvidence(double x) override;
    int ClearPropagatedEvidence() override;

    // Collects one sample of the node's value.
    int AddSample(double x);
    // Mean and standard deviation of the samples added since ClearSamples; valid flag set.
    int ComputeStatistics();
    int ClearSamples();
    // Takes the weighted records over (all weights 0 count as equal weights); the mean is
    // their weighted mean and the standard deviation -1.0 (not computed).
    int SetWeightedSamples(const std::vector<QNL_weightedSample>& records);

    // The statistics last computed or set.
    double GetMean() const { return mean; }
    double GetStandardDeviation() const { return deviation; }
    // For solvers that compute the value directly rather than by sampling.
    void SetMean(double value) { mean = value; }
    void SetStandardDeviation(double value) { deviation = value; }
    int GetSampleCount() const { return sampleCount; }
    const std::vector<QNL_weightedSample>& GetSamples() const { return samples; }
    int GetKeepSamples() const { return keepSamples; }
    void SetKeepSamples(int keep) { keepSamples = keep; }

private:
    void ResetOwnFields() override;
    void DropSamples() override;

    std::vector<QNL_weightedSample> samples;
    int keepSamples = 1;
    int sampleCount = 0;
    double sum = 0.0;
    double sumOfSquares = 0.0;
    double mean = 0.0;
    double deviation = 0.0;
};

// The result of a node with a continuous distribution under hybrid inference: weighted
// samples and the mixture fitted to them. The state word and the evidence marker belong to
// the hybrid algorithms; here they are only stored, copied and reset.
class QNL_continuousValue : public quarn::detail::NumberValue {
public:
    using QNL_nodeValue::SetEvidence;
    using QNL_nodeValue::SetPropagatedEvidence;

    QNL_continuousValue(QNL_network* network, int handle);
    QNL_continuousValue(const QNL_continuousValue& source);
    QNL_continuousValue& operator=(const QNL_continuousValue&) = delete;

    QNL_nodeValue* CreateCopy() const override;
    int Assign(const QNL_nodeValue& other) override;
    int GetType() const override { return QNL_VALUE_CONTINUOUS; }
    int SetEvidence(double x) override;
    int ClearEvidence() override;
    int SetPropagatedEvidence(double x) override;
    int ClearPropagatedEvidence() override;

    // Bookkeeping of the samplers: state word, evidence marker and the weighted samples.
    int GetStateWord() const { return stateWord; }
    void SetStateWord(int word) { stateWord = word; }
    int GetEvidenceMarker() const { return evidenceMarker; }
    void SetEvidenceMarker(int marker) { evidenceMarker = marker; }
    std::vector<QNL_weightedSample>& GetSamples() { return samples; }
    const std::vector<QNL_weightedSample>& GetSamples() const { return samples; }
    QNL_gaussianMixture& GetMixture() { return mixture; }
    const QNL_gaussianMixture& GetMixture() const { return mixture; }

private:
    void ResetOwnFields() override;
    void DropSamples() override;

    int stateWord = 0;
    std::vector<QNL_weightedSample> samples;
    int evidenceMarker = 0;
    QNL_gaussianMixture mixture;
};
