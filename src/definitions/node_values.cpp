#include "definitions/node_values.h"

#include <cmath>
#include <new>
#include <utility>

#include "model/error_handler.h"
#include "model/network.h"

namespace {

constexpr const char* kNoMemory = "Not enough memory for a node value";
constexpr const char* kOutcomeOutOfRange = "Evidence outcome out of range";
constexpr const char* kPropagatedConflict =
    "Evidence differs from the outcome implied by other evidence";
constexpr const char* kEvidencePresent = "Node already holds evidence";
constexpr const char* kNoEvidence = "Node holds no evidence to clear";

int Log(int code, const char* message) {
    return QNL_errorHandler::Instance().LogError(code, message);
}

// Null only when memory runs out; a copy whose assignment failed is marked not valid.
template <typename Value> QNL_nodeValue* NewCopy(const Value& source) {
    return new (std::nothrow) Value(source);
}

} // namespace

namespace quarn::detail {

// ---------------------------------------------------------------------------------------
// Matrix values.

int MatrixValue::MakeFreshMatrix(int size, QNL_Dmatrix& out) {
    if (size < 1) {
        out.CleanUp();
        return 0;
    }
    const int result = out.Setup(&size, 1);
    if (result != 0) return result;
    out.FillWith(0.0);
    return 0;
}

int MatrixValue::CleanUp(int deep) {
    if (deep) matrix.CleanUp();
    return QNL_nodeValue::CleanUp(deep);
}

int MatrixValue::InitFromDefinition() {
    QNL_Dmatrix fresh;
    const int result = MakeFreshMatrix(FreshSize(network, handle), fresh);
    if (result != 0) return result;
    CleanUp(1);
    matrix = std::move(fresh);
    CheckConsistency(1);
    return 0;
}

// Everything that can fail (the matrix copy, the parents' copy inside the base assignment)
// happens before this value changes. No evidence is re-set through the evidence operations,
// so the assignment never reaches any network.
int MatrixValue::Assign(const QNL_nodeValue& other) {
    if (!other.IsValid()) return RefuseInvalidSource();
    if (&other == this) return 0;
    const auto* source = dynamic_cast<const MatrixValue*>(&other);
    const bool sameType = source != nullptr && other.GetType() == GetType();

    QNL_Dmatrix fresh;
    const int made = sameType
                         ? fresh.Assign(source->matrix)
                         : MakeFreshMatrix(FreshSize(other.GetNetwork(), other.GetHandle()), fresh);
    if (made != 0) return made;
    const int result = QNL_nodeValue::Assign(other);
    if (result != 0) return result;

    matrix = std::move(fresh);
    if (sameType) {
        CopyOwnFields(*source);
    } else {
        flags = 0;
        indexingParents.CleanUp();
        TakeOverEvidence(other);
    }
    CheckConsistency(1);
    CheckReadiness(1);
    return 0;
}

int MatrixValue::GetValue(QNL_Dmatrix** out) {
    if (out == nullptr) return -2;
    *out = &matrix;
    return 0;
}

int MatrixValue::SetValue(const QNL_Dmatrix& source) {
    if (&source == &matrix) return 0;
    return matrix.Assign(source);
}

// ---------------------------------------------------------------------------------------
// Discrete evidence.

DiscreteValue::DiscreteValue(QNL_network* network, int handle, unsigned clearMask)
    : MatrixValue(network, handle), clearedWithEvidence(clearMask) {
    MakeFreshMatrix(NodeOutcomeCount(), matrix);
}

int DiscreteValue::FreshSize(const QNL_network* owner, int node) const {
    return NodeOutcomeCount(owner, node);
}

int DiscreteValue::CleanUp(int deep) {
    if (deep) evidenceOutcome = 0;
    return MatrixValue::CleanUp(deep);
}

void DiscreteValue::CopyOwnFields(const MatrixValue& source) {
    evidenceOutcome = static_cast<const DiscreteValue&>(source).evidenceOutcome;
}

// From the other discrete class the outcome and its kind (user or propagated) carry over
// when the outcome fits this node; from any other class nothing does.
void DiscreteValue::TakeOverEvidence(const QNL_nodeValue& source) {
    evidenceOutcome = 0;
    const int outcome = source.GetEvidence();
    if (outcome < 0 || outcome >= NodeOutcomeCount() || outcome >= matrix.GetSize()) return;
    evidenceOutcome = outcome;
    flags |= (source.GetFlags() & (FLAG_EVIDENCE | FLAG_PROPAGATED)) | FLAG_VALID;
    WriteOutcome(outcome);
}

int DiscreteValue::GetEvidence() const {
    if (!IsObserved()) return -2;
    return evidenceOutcome;
}

// Replacing user evidence clears the old evidence first (the network is told), and when the
// new evidence is then refused the old evidence is set again, so the network is told of it
// once more and brings its invalidation and propagated evidence back in step. The checks
// that need no network run before anything is cleared.
int DiscreteValue::SetEvidence(int outcome) {
    if (outcome < 0 || outcome >= NodeOutcomeCount()) return Log(-2, kOutcomeOutOfRange);
    if (!HasEvidence()) {
        if (HasPropagatedEvidence() && outcome != evidenceOutcome)
            return Log(-2, kPropagatedConflict);
        return ApplyEvidence(outcome);
    }
    const int previous = evidenceOutcome;
    ClearEvidence();
    const int result = ApplyEvidence(outcome);
    if (result != 0 && ApplyEvidence(previous) != 0) {
        // The network refuses even the evidence it held before (it was set while the network
        // was not listening): keep it anyway rather than lose it.
        if (SetValueToOutcome(previous) == 0) flags = (flags & ~FLAG_PROPAGATED) | FLAG_EVIDENCE;
    }
    return result;
}

int DiscreteValue::ApplyEvidence(int outcome) {
    if (IsObserved() && outcome != evidenceOutcome) return Log(-2, kPropagatedConflict);
    int result = SetValueToOutcome(outcome);
    if (result != 0) return result;
    flags = (flags & ~FLAG_PROPAGATED) | FLAG_EVIDENCE;
    if (network == nullptr) return 0;
    result = network->NotifyEvidenceSet(handle);
    if (result != 0) ClearEvidence();
    return result;
}

int DiscreteValue::ClearEvidence() {
    if (!HasEvidence()) return Log(-2, kNoEvidence);
    InvalidateValue();
    flags &= ~clearedWithEvidence;
    if (network != nullptr) network->NotifyEvidenceCleared(handle);
    return 0;
}

int DiscreteValue::SetPropagatedEvidence(int outcome) {
    if (IsObserved()) return Log(-2, kEvidencePresent);
    const int result = SetValueToOutcome(outcome);
    if (result != 0) return result;
    flags |= FLAG_PROPAGATED;
    return 0;
}

int DiscreteValue::ClearPropagatedEvidence() {
    if (!HasPropagatedEvidence()) return -2;
    InvalidateValue();
    flags &= ~FLAG_PROPAGATED;
    return 0;
}

int DiscreteValue::InvalidateValue() {
    if (!IsObserved()) return -2;
    flags &= ~FLAG_VALID;
    return 0;
}

} // namespace quarn::detail

// ---------------------------------------------------------------------------------------
// Belief vector and decision value.

QNL_beliefVector::QNL_beliefVector(QNL_network* network, int handle)
    : DiscreteValue(network, handle, FLAG_EVIDENCE | FLAG_MARKER) {}

QNL_beliefVector::QNL_beliefVector(const QNL_beliefVector& source)
    : DiscreteValue(FLAG_EVIDENCE | FLAG_MARKER) {
    if (Assign(source) != 0) status &= ~STATUS_VALID;
}

QNL_nodeValue* QNL_beliefVector::CreateCopy() const {
    return NewCopy(*this);
}

int QNL_beliefVector::SetValueToOutcome(int outcome) {
    const int count = NodeOutcomeCount();
    if (outcome < 0 || outcome >= count) return Log(-2, kOutcomeOutOfRange);
    if (matrix.GetNumberOfDimensions() != 1 || matrix.GetSize() != count) {
        const int result = InitFromDefinition();
        if (result != 0) return result;
    }
    flags |= FLAG_VALID;
    evidenceOutcome = outcome;
    WriteOutcome(outcome);
    return 0;
}

void QNL_beliefVector::WriteOutcome(int outcome) {
    matrix.FillWith(0.0);
    matrix.Subscript(outcome) = 1.0;
}

QNL_decisionValue::QNL_decisionValue(QNL_network* network, int handle)
    : DiscreteValue(network, handle, FLAG_EVIDENCE) {}

QNL_decisionValue::QNL_decisionValue(const QNL_decisionValue& source)
    : DiscreteValue(FLAG_EVIDENCE) {
    if (Assign(source) != 0) status &= ~STATUS_VALID;
}

QNL_nodeValue* QNL_decisionValue::CreateCopy() const {
    return NewCopy(*this);
}

int QNL_decisionValue::SetValueToOutcome(int outcome) {
    if (outcome < 0 || outcome >= NodeOutcomeCount()) return Log(-2, kOutcomeOutOfRange);
    flags |= FLAG_VALID;
    evidenceOutcome = outcome;
    return 0;
}

void QNL_decisionValue::WriteOutcome(int) {}

// ---------------------------------------------------------------------------------------
// Utility and multi-attribute utility values.

QNL_utilityValue::QNL_utilityValue(QNL_network* network, int handle)
    : MatrixValue(network, handle) {
    MakeFreshMatrix(1, matrix);
}

QNL_utilityValue::QNL_utilityValue(const QNL_utilityValue& source) : MatrixValue() {
    if (Assign(source) != 0) status &= ~STATUS_VALID;
}

QNL_nodeValue* QNL_utilityValue::CreateCopy() const {
    return NewCopy(*this);
}

double QNL_utilityValue::GetMinimum() const {
    const QNL_doubleArray& items = matrix.GetItems();
    if (items.GetSize() == 0) return 0.0;
    double minimum = UNDEFINED_UTILITY;
    bool found = false;
    for (int i = 0; i < items.GetSize(); ++i) {
        if (items[i] == UNDEFINED_UTILITY) continue;
        if (!found || items[i] < minimum) minimum = items[i];
        found = true;
    }
    return minimum;
}

double QNL_utilityValue::GetMaximum() const {
    const QNL_doubleArray& items = matrix.GetItems();
    if (items.GetSize() == 0) return 0.0;
    double maximum = UNDEFINED_UTILITY;
    bool found = false;
    for (int i = 0; i < items.GetSize(); ++i) {
        if (items[i] == UNDEFINED_UTILITY) continue;
        if (!found || items[i] > maximum) maximum = items[i];
        found = true;
    }
    return maximum;
}

// The reference range always covers the data, so it can never be inverted; an inverted
// target range is a deliberate mirror and is mapped like any other.
int QNL_utilityValue::Rescale(double low, double high, double newLow, double newHigh) {
    if (!std::isfinite(low) || !std::isfinite(high) || !std::isfinite(newLow) ||
        !std::isfinite(newHigh))
        return Log(-2, "Utility rescale range is not a finite number");
    QNL_doubleArray& items = matrix.GetItems();
    bool anyDefined = false;
    for (int i = 0; i < items.GetSize() && !anyDefined; ++i)
        anyDefined = items[i] != UNDEFINED_UTILITY;
    if (!anyDefined) return 0;

    const double minimum = GetMinimum();
    const double maximum = GetMaximum();
    if (low == high) {
        low = minimum;
        high = maximum;
    }
    if (minimum < low) low = minimum;
    if (maximum > high) high = maximum;

    if (low == high || newLow == newHigh) {
        for (int i = 0; i < items.GetSize(); ++i)
            if (items[i] != UNDEFINED_UTILITY) items[i] = newHigh;
        return 0;
    }
    if (low == newLow && high == newHigh) return 0;
    const double factor = (newHigh - newLow) / (high - low);
    for (int i = 0; i < items.GetSize(); ++i)
        if (items[i] != UNDEFINED_UTILITY) items[i] = (items[i] - low) * factor + newLow;
    return 0;
}

QNL_mauValue::QNL_mauValue(QNL_network* network, int handle) : MatrixValue(network, handle) {
    MakeFreshMatrix(1, matrix);
}

QNL_mauValue::QNL_mauValue(const QNL_mauValue& source) : MatrixValue() {
    if (Assign(source) != 0) status &= ~STATUS_VALID;
}

QNL_nodeValue* QNL_mauValue::CreateCopy() const {
    return NewCopy(*this);
}

// ---------------------------------------------------------------------------------------
// Equation value.

QNL_equationValue::QNL_equationValue(QNL_network* network, int handle)
    : QNL_nodeValue(network, handle) {}

QNL_equationValue::QNL_equationValue(const QNL_equationValue& source) : QNL_nodeValue() {
    if (Assign(source) != 0) status &= ~STATUS_VALID;
}

QNL_nodeValue* QNL_equationValue::CreateCopy() const {
    return NewCopy(*this);
}

void QNL_equationValue::ResetOwnFields() {
    evidenceValue = 0.0;
    std::vector<QNL_weightedSample>().swap(samples);
    keepSamples = 1;
    sampleCount = 0;
    sum = sumOfSquares = mean = deviation = 0.0;
}

// A copy of an equation value takes its evidence number and statistics along, so a copied
// network keeps its observed equation nodes; from another class only the binding to the
// node carries over.
int QNL_equationValue::Assign(const QNL_nodeValue& other) {
    if (!other.IsValid()) return RefuseInvalidSource();
    if (&other == this) return 0;
    const auto* source = dynamic_cast<const QNL_equationValue*>(&other);
    std::vector<QNL_weightedSample> copied;
    if (source != nullptr) {
        try {
            copied = source->samples;
        } catch (const std::bad_alloc&) {
            return Log(-42, kNoMemory);
        }
    }
    const int result = QNL_nodeValue::Assign(other);
    if (result != 0) return result;
    if (source == nullptr) {
        flags = 0;
        indexingParents.CleanUp();
        ResetOwnFields();
        return 0;
    }
    evidenceValue = source->evidenceValue;
    samples.swap(copied);
    keepSamples = source->keepSamples;
    sampleCount = source->sampleCount;
    sum = source->sum;
    sumOfSquares = source->sumOfSquares;
    mean = source->mean;
    deviation = source->deviation;
    return 0;
}

int QNL_equationValue::GetEvidence(double* out) const {
    if (out == nullptr) return -2;
    *out = evidenceValue;
    return 0;
}

int QNL_equationValue::SetEvidence(double x) {
    if (!std::isfinite(x)) return Log(-2, "Evidence value is not a finite number");
    evidenceValue = x;
    flags = (flags & ~FLAG_PROPAGATED) | FLAG_EVIDENCE | FLAG_VALID;
    return 0;
}

int QNL_equationValue::ClearEvidence() {
    if (!IsObserved()) return Log(-2, kNoEvidence);
    flags &= ~(FLAG_EVIDENCE | FLAG_VALID | FLAG_PROPAGATED);
    return 0;
}

// Propagated evidence is kept apart from user evidence: it never marks the node as observed
// by the user, and it cannot overwrite the user's number.
int QNL_equationValue::SetPropagatedEvidence(double x) {
    if (HasEvidence()) return Log(-2, kEvidencePresent);
    evidenceValue = x;
    flags |= FLAG_VALID | FLAG_PROPAGATED;
    return 0;
}

int QNL_equationValue::ClearPropagatedEvidence() {
    if (!HasPropagatedEvidence()) return -2;
    flags &= ~(FLAG_VALID | FLAG_PROPAGATED);
    return 0;
}

int QNL_equationValue::AddSample(double x) {
    if (keepSamples == 1) {
        try {
            samples.push_back({x, 1.0});
        } catch (const std::bad_alloc&) {
            return Log(-42, kNoMemory);
        }
    }
    ++sampleCount;
    sum += x;
    sumOfSquares += x * x;
    return 0;
}

// The running sums stay as they are, so further samples and a second call give the
// statistics of all samples.
int QNL_equationValue::ComputeStatistics() {
    if (sampleCount == 0) return 0;
    mean = sum / sampleCount;
    const double variance = sumOfSquares / sampleCount - mean * mean;
    deviation = variance > 0.0 ? std::sqrt(variance) : 0.0;
    flags |= FLAG_VALID;
    return 0;
}

int QNL_equationValue::ClearSamples() {
    std::vector<QNL_weightedSample>().swap(samples);
    sampleCount = 0;
    sum = sumOfSquares = mean = deviation = 0.0;
    flags &= ~FLAG_VALID;
    return 0;
}

int QNL_equationValue::SetWeightedSamples(const std::vector<QNL_weightedSample>& records) {
    bool allZero = true;
    for (const QNL_weightedSample& record : records) {
        if (!std::isfinite(record.weight) || record.weight < 0.0)
            return Log(-2, "Sample weight is negative or not a finite number");
        allZero = allZero && record.weight == 0.0;
    }
    std::vector<QNL_weightedSample> copied;
    try {
        copied = records;
    } catch (const std::bad_alloc&) {
        return Log(-42, kNoMemory);
    }
    if (allZero)
        for (QNL_weightedSample& record : copied)
            record.weight = 1.0;
    samples.swap(copied);
    deviation = -1.0;
    if (samples.empty()) {
        mean = 0.0;
        flags &= ~FLAG_VALID;
        return 0;
    }
    double weighted = 0.0;
    double total = 0.0;
    for (const QNL_weightedSample& record : samples) {
        weighted += record.weight * record.value;
        total += record.weight;
    }
    mean = weighted / total;
    flags |= FLAG_VALID;
    return 0;
}

// ---------------------------------------------------------------------------------------
// Continuous value.

QNL_continuousValue::QNL_continuousValue(QNL_network* network, int handle)
    : QNL_nodeValue(network, handle) {}

QNL_continuousValue::QNL_continuousValue(const QNL_continuousValue& source) : QNL_nodeValue() {
    if (Assign(source) != 0) status &= ~STATUS_VALID;
}

QNL_nodeValue* QNL_continuousValue::CreateCopy() const {
    return NewCopy(*this);
}

void QNL_continuousValue::ResetOwnFields() {
    stateWord = 0;
    std::vector<QNL_weightedSample>().swap(samples);
    evidenceValue = 0.0;
    evidenceMarker = 0;
    mixture = QNL_gaussianMixture();
}

int QNL_continuousValue::Assign(const QNL_nodeValue& other) {
    if (!other.IsValid()) return RefuseInvalidSource();
    if (&other == this) return 0;
    const auto* source = dynamic_cast<const QNL_continuousValue*>(&other);
    std::vector<QNL_weightedSample> copiedSamples;
    QNL_gaussianMixture copiedMixture;
    if (source != nullptr) {
        try {
            copiedSamples = source->samples;
            copiedMixture = source->mixture;
        } catch (const std::bad_alloc&) {
            return Log(-42, kNoMemory);
        }
    }
    const int result = QNL_nodeValue::Assign(other);
    if (result != 0) return result;
    if (source == nullptr) {
        flags = 0;
        indexingParents.CleanUp();
        ResetOwnFields();
        return 0;
    }
    stateWord = source->stateWord;
    samples.swap(copiedSamples);
    mixture = std::move(copiedMixture);
    evidenceMarker = source->evidenceMarker;
    evidenceValue = source->evidenceValue;
    return 0;
}

int QNL_continuousValue::GetEvidence(double* out) const {
    if (out == nullptr) return -2;
    *out = evidenceValue;
    return 0;
}

int QNL_continuousValue::SetEvidence(double x) {
    if (!std::isfinite(x)) return Log(-2, "Evidence value is not a finite number");
    evidenceValue = x;
    flags = (flags & ~FLAG_PROPAGATED) | FLAG_EVIDENCE;
    return 0;
}

int QNL_continuousValue::ClearEvidence() {
    flags &= ~FLAG_EVIDENCE;
    evidenceMarker = 0;
    return 0;
}

int QNL_continuousValue::SetPropagatedEvidence(double x) {
    evidenceValue = x;
    flags = (flags & ~FLAG_EVIDENCE) | FLAG_PROPAGATED;
    return 0;
}

int QNL_continuousValue::ClearPropagatedEvidence() {
    flags &= ~FLAG_PROPAGATED;
    evidenceMarker = 0;
    return 0;
}
