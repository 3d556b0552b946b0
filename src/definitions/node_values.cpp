#include "definitions/node_values.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "definitions/mau.h"
#include "definitions/value_dependence.h"
#include "equations/expr_node.h"
#include "model/error_handler.h"
#include "model/matrix_coordinates.h"
#include "model/network.h"
#include "model/node.h"

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
// once more, and the network takes back the implied evidence it held before: a refusal
// changes nothing. The checks that need no network run before anything is cleared.
int DiscreteValue::SetEvidence(int outcome) {
    if (outcome < 0 || outcome >= NodeOutcomeCount()) return Log(-2, kOutcomeOutOfRange);
    if (!HasEvidence()) {
        if (HasPropagatedEvidence() && outcome != evidenceOutcome)
            return Log(-2, kPropagatedConflict);
        return ApplyEvidence(outcome);
    }
    const int previous = evidenceOutcome;
    if (network != nullptr) network->HoldImpliedEvidence();
    ClearEvidence();
    const int result = ApplyEvidence(outcome);
    if (result != 0 && ApplyEvidence(previous) != 0) {
        // The network refuses even the evidence it held before (it was set while the network
        // was not listening): keep it anyway rather than lose it.
        if (SetValueToOutcome(previous) == 0) flags = (flags & ~FLAG_PROPAGATED) | FLAG_EVIDENCE;
    }
    if (network != nullptr) network->ReleaseImpliedEvidence(result != 0);
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
    // The indicator is indexed by nothing: a list left from a solve (naming a node deleted
    // since, say) would give the finding's value a shape it does not have.
    if (matrix.GetNumberOfDimensions() != 1 || matrix.GetSize() != count ||
        GetIndexingParents().GetCount() != 0) {
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

namespace {

constexpr const char* kNoMauDefinition = "Node has no multi-attribute utility definition";
constexpr const char* kMauShape = "Value matrix does not match the node's indexing parents";
constexpr const char* kNoChoice =
    "Decision parent of a multi-attribute utility node has no chosen outcome";
constexpr const char* kUtilityParentValue =
    "Utility parent of a multi-attribute utility node has no usable utility value";

// The dimension of a value matrix that each of its indexing parents owns; -1 for a parent
// recorded without one (AddIndexingParent gives dimensions only to parents with outcomes).
// count receives the number of owned dimensions.
std::vector<int> IndexingDimensions(const QNL_network* network, const QNL_intArray& parents,
                                    int& count) {
    std::vector<int> dims(static_cast<std::size_t>(parents.GetCount()), -1);
    count = 0;
    for (int i = 0; i < parents.GetCount(); ++i) {
        const QNL_node* node = network->GetNode(parents[i]);
        const QNL_nodeDefinition* definition = node != nullptr ? node->GetDefinition() : nullptr;
        if (definition != nullptr && QNL_IsTableParentType(definition->GetType()) &&
            definition->GetNumberOfOutcomes() >= 1)
            dims[static_cast<std::size_t>(i)] = count++;
    }
    return dims;
}

// The outcome a node is fixed to by evidence (a decision's choice included); -2 when none.
int ChosenOutcome(const QNL_network* network, int node) {
    const QNL_node* n = network->GetNode(node);
    const QNL_nodeValue* value = n != nullptr ? n->GetValue() : nullptr;
    if (value == nullptr || !value->IsObserved()) return -2;
    return value->GetEvidence();
}

// Where one coordinate of a table comes from while this value's entries are walked: a
// dimension of this value, or a fixed outcome.
struct CoordinateSource {
    int dimension = -1;
    int fixed = 0;
};

// Finds the source of a coordinate of size `size` that the node `parent` indexes. False when
// it is neither a dimension of this value (of the same size) nor fixed to an outcome.
bool FindSource(const QNL_network* network, const QNL_intArray& ownParents,
                const std::vector<int>& ownDims, const QNL_Dmatrix& own, int parent, int size,
                CoordinateSource& source) {
    const int position = ownParents.FindPosition(parent);
    const int dim = position >= 0 ? ownDims[static_cast<std::size_t>(position)] : -1;
    if (dim >= 0) {
        source.dimension = dim;
        return own.GetSizeOfDimension(dim) == size;
    }
    source.fixed = ChosenOutcome(network, parent);
    return source.fixed >= 0 && source.fixed < size;
}

class UnboundVariableFinder : public QNL_exprVisitor {
public:
    void Visit(QNL_exprVariable& variable) override {
        if (variable.GetValue() == QNL_exprVariable::UNDEFINED_VALUE) found = true;
    }
    bool found = false;
};

} // namespace

double QNL_mauValue::Combine(const QNL_mau& definition, int index,
                             const std::vector<double>& utilities) {
    constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;
    for (double u : utilities)
        if (u == kUndefined) return kUndefined;
    const QNL_intArray& parents = definition.GetUtilityParents();
    const int count = parents.GetCount();
    if (static_cast<int>(utilities.size()) != count) return kUndefined;

    const QNL_expressionMatrix* expressions = definition.GetExpressions();
    if (expressions == nullptr) {
        if (count == 0) return 0.0;
        const QNL_Dmatrix& weights = definition.GetWeights();
        if (index < 0 || index > weights.GetSize() - count) return kUndefined;
        double sum = 0.0;
        for (int k = 0; k < count; ++k)
            sum += weights.Subscript(index + k) * utilities[static_cast<std::size_t>(k)];
        return sum;
    }
    const QNL_exprNode* stored = expressions->GetExpression(index);
    const QNL_network* network = definition.GetNetwork();
    if (stored == nullptr || network == nullptr) return kUndefined;
    std::unique_ptr<QNL_exprNode> tree(stored->Clone());
    for (int k = 0; k < count; ++k) {
        const QNL_node* node = network->GetNode(parents[k]);
        if (node == nullptr || node->GetId() == nullptr) return kUndefined;
        QNL_exprNode::SetVariableValue(tree.get(), node->GetId(),
                                       utilities[static_cast<std::size_t>(k)]);
    }
    // Every bound value differs from the marker (checked above), so a variable still holding
    // it names no utility parent.
    UnboundVariableFinder unbound;
    tree->Accept(unbound);
    if (unbound.found) return kUndefined;
    return EvaluateSigned(tree.get());
}

// Every shape is checked before the walk, so the walk itself reads only inside the tables.
int QNL_mauValue::ComputeFromParents() {
    const QNL_node* node = network != nullptr ? network->GetNode(handle) : nullptr;
    const auto* definition =
        node != nullptr ? dynamic_cast<const QNL_mau*>(node->GetDefinition()) : nullptr;
    if (definition == nullptr) return Log(-2, kNoMauDefinition);
    try {
        int owned = 0;
        const std::vector<int> ownDims = IndexingDimensions(network, indexingParents, owned);
        if (matrix.GetNumberOfDimensions() != owned + 1 || matrix.GetSizeOfDimension(owned) != 1)
            return Log(-2, kMauShape);

        // The decision configuration of an entry.
        const QNL_intArray& decisions = definition->GetDecisionParents();
        const QNL_intArray& sizes = definition->GetDecisionSizes();
        const QNL_expressionMatrix* expressions = definition->GetExpressions();
        const QNL_Dmatrix& weights = definition->GetWeights();
        std::vector<CoordinateSource> choice(static_cast<std::size_t>(decisions.GetCount()));
        std::vector<int> step(choice.size(), 0);
        for (int j = 0; j < decisions.GetCount(); ++j) {
            if (!FindSource(network, indexingParents, ownDims, matrix, decisions[j], sizes[j],
                            choice[static_cast<std::size_t>(j)]))
                return Log(-2, kNoChoice);
            if (expressions != nullptr)
                step[static_cast<std::size_t>(j)] = expressions->GetMultiplier(j);
            else if (weights.GetSize() > 0)
                step[static_cast<std::size_t>(j)] = weights.GetMultiplier(j);
        }

        // Where each utility parent's table is read for an entry.
        const QNL_intArray& utilities = definition->GetUtilityParents();
        std::vector<const QNL_Dmatrix*> tables;
        std::vector<std::vector<CoordinateSource>> reads;
        for (int k = 0; k < utilities.GetCount(); ++k) {
            const QNL_node* parent = network->GetNode(utilities[k]);
            QNL_nodeValue* value = parent != nullptr ? parent->GetValue() : nullptr;
            const QNL_Dmatrix* table = value != nullptr ? value->GetMatrix() : nullptr;
            if (table == nullptr ||
                (value->GetType() != QNL_VALUE_UTILITY && value->GetType() != QNL_VALUE_MAU))
                return Log(-2, kUtilityParentValue);
            int parentOwned = 0;
            const QNL_intArray& parentIndexing = value->GetIndexingParents();
            const std::vector<int> parentDims =
                IndexingDimensions(network, parentIndexing, parentOwned);
            if (table->GetNumberOfDimensions() != parentOwned + 1)
                return Log(-2, kUtilityParentValue);
            std::vector<CoordinateSource> read(static_cast<std::size_t>(parentOwned));
            for (int i = 0; i < parentIndexing.GetCount(); ++i) {
                const int d = parentDims[static_cast<std::size_t>(i)];
                if (d >= 0 &&
                    !FindSource(network, indexingParents, ownDims, matrix, parentIndexing[i],
                                table->GetSizeOfDimension(d), read[static_cast<std::size_t>(d)]))
                    return Log(-2, kUtilityParentValue);
            }
            tables.push_back(table);
            reads.push_back(std::move(read));
        }

        QNL_Dmatrix result(matrix);
        std::vector<double> gathered(tables.size());
        QNL_matrixCoordinates walk(&result);
        walk.GoFirst();
        for (int more = result.GetSize() > 0 ? 0 : -2; more == 0; more = walk.Next()) {
            for (std::size_t k = 0; k < tables.size(); ++k) {
                std::int64_t at = 0;
                for (std::size_t d = 0; d < reads[k].size(); ++d) {
                    const CoordinateSource& s = reads[k][d];
                    const int c = s.dimension >= 0 ? walk[s.dimension] : s.fixed;
                    at += std::int64_t{c} * tables[k]->GetMultiplier(static_cast<int>(d));
                }
                gathered[k] = tables[k]->Subscript(static_cast<int>(at));
            }
            std::int64_t index = 0;
            for (std::size_t j = 0; j < choice.size(); ++j) {
                const int c =
                    choice[j].dimension >= 0 ? walk[choice[j].dimension] : choice[j].fixed;
                index += std::int64_t{c} * step[j];
            }
            result.Subscript(walk.GetIndex()) =
                Combine(*definition, static_cast<int>(index), gathered);
        }
        matrix = std::move(result);
        return 0;
    } catch (const std::bad_alloc&) {
        return Log(-42, kNoMemory);
    }
}

// ---------------------------------------------------------------------------------------
// Number values.

namespace quarn::detail {

int NumberValue::GetEvidence(double* out) const {
    if (out == nullptr) return -2;
    *out = evidenceValue;
    return 0;
}

int NumberValue::StoreEvidence(double x, unsigned set) {
    if (!std::isfinite(x)) return Log(-2, "Evidence value is not a finite number");
    evidenceValue = x;
    DropSamples();
    flags = (flags & ~FLAG_PROPAGATED) | set;
    const int result = AnnounceEvidence(true);
    if (result != 0) ClearEvidence();
    return result;
}

// A value that is not (yet) at a node of its network has nobody to tell.
int NumberValue::AnnounceEvidence(bool set) {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    if (Listens(*network,
                set ? QNL_network::CHANGE_EVIDENCE_SET : QNL_network::CHANGE_EVIDENCE_CLEARED))
        InvalidateSampledValues(*network, true);
    return set ? network->NotifyEvidenceSet(handle) : network->NotifyEvidenceCleared(handle);
}

// Everything that can fail (the copies, the parents' copy inside the base assignment)
// happens before this value changes.
template <typename Value, typename Copy, typename Take>
int NumberValue::AssignNumberValue(const QNL_nodeValue& other, Copy copy, Take take) {
    if (!other.IsValid()) return RefuseInvalidSource();
    if (&other == this) return 0;
    const auto* source = dynamic_cast<const Value*>(&other);
    decltype(copy(*source)) copied{};
    if (source != nullptr) {
        try {
            copied = copy(*source);
        } catch (const std::bad_alloc&) {
            return Log(-42, kNoMemory);
        }
    }
    const int result = QNL_nodeValue::Assign(other);
    if (result != 0) return result;
    if (source == nullptr) {
        flags = 0;
        indexingParents.CleanUp();
        evidenceValue = 0.0;
        ResetOwnFields();
        return 0;
    }
    evidenceValue = source->evidenceValue;
    take(*source, copied);
    return 0;
}

} // namespace quarn::detail

// ---------------------------------------------------------------------------------------
// Equation value.

QNL_equationValue::QNL_equationValue(QNL_network* network, int handle)
    : NumberValue(network, handle) {}

QNL_equationValue::QNL_equationValue(const QNL_equationValue& source) : NumberValue() {
    if (Assign(source) != 0) status &= ~STATUS_VALID;
}

QNL_nodeValue* QNL_equationValue::CreateCopy() const {
    return NewCopy(*this);
}

void QNL_equationValue::ResetOwnFields() {
    std::vector<QNL_weightedSample>().swap(samples);
    keepSamples = 1;
    sampleCount = 0;
    sum = sumOfSquares = mean = deviation = 0.0;
}

// A copy of an equation value takes its evidence number and statistics along, so a copied
// network keeps its observed equation nodes; from another class only the binding to the
// node carries over.
int QNL_equationValue::Assign(const QNL_nodeValue& other) {
    return AssignNumberValue<QNL_equationValue>(
        other, [](const QNL_equationValue& source) { return source.samples; },
        [this](const QNL_equationValue& source, std::vector<QNL_weightedSample>& copied) {
            samples.swap(copied);
            keepSamples = source.keepSamples;
            sampleCount = source.sampleCount;
            sum = source.sum;
            sumOfSquares = source.sumOfSquares;
            mean = source.mean;
            deviation = source.deviation;
        });
}

int QNL_equationValue::SetEvidence(double x) {
    return StoreEvidence(x, FLAG_EVIDENCE | FLAG_VALID);
}

int QNL_equationValue::ClearEvidence() {
    if (!IsObserved()) return Log(-2, kNoEvidence);
    const bool user = HasEvidence();
    flags &= ~(FLAG_EVIDENCE | FLAG_VALID | FLAG_PROPAGATED);
    if (user) AnnounceEvidence(false);
    return 0;
}

// Propagated evidence is kept apart from user evidence: it never marks the node as observed
// by the user, and it cannot overwrite the user's number.
int QNL_equationValue::SetPropagatedEvidence(double x) {
    if (HasEvidence()) return Log(-2, kEvidencePresent);
    evidenceValue = x;
    flags |= FLAG_VALID | FLAG_PROPAGATED;
    DropSamples();
    return 0;
}

void QNL_equationValue::DropSamples() {
    samples.clear();
    sampleCount = 0;
    sum = sumOfSquares = 0.0;
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
    SetValidFlag(true);
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
    SetValidFlag(true);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Continuous value.

QNL_continuousValue::QNL_continuousValue(QNL_network* network, int handle)
    : NumberValue(network, handle) {}

QNL_continuousValue::QNL_continuousValue(const QNL_continuousValue& source) : NumberValue() {
    if (Assign(source) != 0) status &= ~STATUS_VALID;
}

QNL_nodeValue* QNL_continuousValue::CreateCopy() const {
    return NewCopy(*this);
}

void QNL_continuousValue::ResetOwnFields() {
    stateWord = 0;
    std::vector<QNL_weightedSample>().swap(samples);
    evidenceMarker = 0;
    mixture = QNL_gaussianMixture();
}

int QNL_continuousValue::Assign(const QNL_nodeValue& other) {
    using Copies = std::pair<std::vector<QNL_weightedSample>, QNL_gaussianMixture>;
    return AssignNumberValue<QNL_continuousValue>(
        other,
        [](const QNL_continuousValue& source) { return Copies(source.samples, source.mixture); },
        [this](const QNL_continuousValue& source, Copies& copied) {
            stateWord = source.stateWord;
            samples.swap(copied.first);
            mixture = std::move(copied.second);
            evidenceMarker = source.evidenceMarker;
        });
}

int QNL_continuousValue::SetEvidence(double x) {
    return StoreEvidence(x, FLAG_EVIDENCE);
}

// The observed number was the value; without it nothing computed is left.
int QNL_continuousValue::ClearEvidence() {
    evidenceMarker = 0;
    if (!HasEvidence()) return 0;
    flags &= ~(FLAG_EVIDENCE | FLAG_VALID);
    AnnounceEvidence(false);
    return 0;
}

int QNL_continuousValue::SetPropagatedEvidence(double x) {
    evidenceValue = x;
    flags = (flags & ~FLAG_EVIDENCE) | FLAG_PROPAGATED;
    DropSamples();
    return 0;
}

void QNL_continuousValue::DropSamples() {
    samples.clear();
}

// The implied number was the value, as for ClearEvidence.
int QNL_continuousValue::ClearPropagatedEvidence() {
    if (HasPropagatedEvidence()) flags &= ~(FLAG_PROPAGATED | FLAG_VALID);
    evidenceMarker = 0;
    return 0;
}
