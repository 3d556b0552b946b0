#include "definitions/logic_gates.h"

#include "definitions/definition_support.h"
#include "model/network.h"

#include <algorithm>
#include <cstdint>

using namespace quarn::detail;

namespace {

// The outcome list of each class, built once and kept for the life of the process.
const QNL_idArray* TrueFalse(QNL_idArray& list) {
    if (list.GetCount() == 0) {
        list.Add("True");
        list.Add("False");
    }
    return &list;
}

// Callers fill arrays by Add (count) or by SetSize (size); either must give one entry per
// parent, each within [low, 1].
bool OnePerParent(const QNL_doubleArray& values, int entries, double low) {
    if (!HoldsExactly(values, entries)) return false;
    for (int i = 0; i < entries; ++i)
        if (!(values[i] >= low && values[i] <= 1.0)) return false;
    return true;
}

// Copies the first `entries` values into an array that then holds exactly those.
int CopyEntries(QNL_doubleArray& target, const QNL_doubleArray& values, int entries) {
    QNL_doubleArray fresh;
    for (int i = 0; i < entries; ++i)
        if (fresh.Add(values[i]) != 0) return -42;
    target = std::move(fresh);
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Shared.

int QNL_twoStateGate::CleanUp(int deep) {
    if (deep) {
        table.CleanUp();
        ResetEntries(0);
        entries = 0;
    }
    return 0;
}

int QNL_twoStateGate::CheckReadiness(int deep) {
    QNL_nodeDefinition::CheckReadiness(deep);
    if (!ColumnsAreDistributions(table)) status &= ~STATUS_READY;
    return 0;
}

int QNL_twoStateGate::Recompute() {
    return Guarded([&] {
        std::vector<int> shape(static_cast<std::size_t>(entries) + 1, 2);
        QNL_Dmatrix fresh;
        if (int r = fresh.Setup(shape.data(), static_cast<int>(shape.size()))) return r;
        std::vector<int> x(static_cast<std::size_t>(entries), 0);
        double* cells = fresh.GetItems().Items();
        const std::int64_t columns = fresh.GetSize() / 2;
        for (std::int64_t col = 0; col < columns; ++col) {
            const double t = TrueProbability(x);
            cells[2 * col] = t;
            cells[2 * col + 1] = 1.0 - t;
            for (int i = entries; i-- > 0;) {
                if (++x[static_cast<std::size_t>(i)] < 2) break;
                x[static_cast<std::size_t>(i)] = 0;
            }
        }
        table = std::move(fresh);
        return 0;
    });
}

int QNL_twoStateGate::Changed() {
    if (int r = Recompute()) return r;
    NotifyNetwork(network, handle, QNL_network::CHANGE_VALUES);
    return 0;
}

// Only a gate of the same class can be a parent: its "True" and "False" are what the
// entries speak of.
int QNL_twoStateGate::AddParent(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    if (TypeAt(network, parent) != GetType()) return -51;
    const int position = network->GetParents(handle).FindPosition(parent);
    if (position < 0) return position;
    if (position > entries) return -2;
    if (int r = InsertEntry(position)) return r;
    ++entries;
    if (int r = Recompute()) {
        DeleteEntry(position);
        --entries;
        return r;
    }
    CheckConsistency(0);
    return 0;
}

int QNL_twoStateGate::RemoveParent(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const int position = network->GetParents(handle).FindPosition(parent);
    if (position < 0) return position;
    if (position >= entries) return 0;
    DeleteEntry(position);
    --entries;
    const int result = Recompute();
    CheckConsistency(0);
    return result;
}

int QNL_twoStateGate::ReorderParents(const QNL_intArray& order) {
    if (!IsPermutation(order, entries)) return -2;
    if (int r = ReorderEntries(order)) return r;
    return Recompute();
}

// A parent whose type changed is no gate of this class any more: its arc goes, as a table's
// does from a parent it cannot take. Kept, it held a dimension of 2 that the parent's own
// outcomes no longer matched, and a file written of it no longer read.
int QNL_twoStateGate::RemoveInvalidParents() {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    return Guarded([&] {
        // A copy: every removal shortens the network's own list.
        const QNL_intArray parents(network->GetParents(handle));
        for (int i = 0; i < parents.GetCount(); ++i)
            if (TypeAt(network, parents[i]) != GetType())
                if (int r = network->RemoveArc(parents[i], handle, 0)) return r;
        return 0;
    });
}

// Parents the node has when the definition is made take the class's default entries.
int QNL_twoStateGate::AddParents() {
    const int count = network != nullptr && network->IsValidNodeHandle(handle)
                          ? network->GetParents(handle).GetCount()
                          : 0;
    if (int r = ResetEntries(count)) return r;
    entries = count;
    return Recompute();
}

int QNL_twoStateGate::GetDefinition(QNL_doubleArray& out) const {
    if (out.Assign(table.GetItems()) != 0) return -42;
    out.SetCount(out.GetSize());
    return 0;
}

int QNL_twoStateGate::GetDefinition(QNL_Dmatrix** out) {
    if (out == nullptr) return -2;
    *out = &table;
    return 0;
}

const QNL_idArray* QNL_twoStateGate::GetOutcomeIds() const {
    static QNL_idArray list(false);
    return TrueFalse(list);
}

int QNL_twoStateGate::AssignGate(const QNL_twoStateGate& source) {
    if (int r = table.Assign(source.table)) return r;
    entries = source.entries;
    QNL_nodeDefinition::Assign(source);
    return 0;
}

// ---------------------------------------------------------------------------------------
// DeMorgan.

QNL_demorgan::QNL_demorgan(int handle, QNL_network* network) : QNL_twoStateGate(handle, network) {
    AddParents();
}

QNL_nodeDefinition* QNL_demorgan::CreateCopy() const {
    return CopyOrNull(*this);
}

int QNL_demorgan::InsertEntry(int position) {
    if (types.Insert(position, QNL_DEMORGAN_CAUSE) != 0) return -42;
    if (weights.Insert(position, 0.0) != 0) {
        types.Delete(position);
        return -42;
    }
    return 0;
}

void QNL_demorgan::DeleteEntry(int position) {
    types.Delete(position);
    weights.Delete(position);
}

int QNL_demorgan::ReorderEntries(const QNL_intArray& order) {
    QNL_intArray newTypes(types);
    QNL_doubleArray newWeights(weights);
    if (newTypes.Reorder(order) != 0 || newWeights.Reorder(order) != 0) return -2;
    types = std::move(newTypes);
    weights = std::move(newWeights);
    return 0;
}

int QNL_demorgan::ResetEntries(int count) {
    types.Flush();
    weights.Flush();
    for (int i = 0; i < count; ++i)
        if (types.Add(QNL_DEMORGAN_CAUSE) != 0 || weights.Add(1.0) != 0) return -42;
    return 0;
}

double QNL_demorgan::TrueProbability(const std::vector<int>& x) const {
    double t = prior;
    for (int i = 0; i < entries; ++i) {
        const int type = types[i];
        const int at = x[static_cast<std::size_t>(i)];
        if ((type == QNL_DEMORGAN_CAUSE && at == 0) || (type == QNL_DEMORGAN_BARRIER && at == 1))
            t += (1.0 - t) * weights[i];
    }
    for (int i = 0; i < entries; ++i) {
        const int type = types[i];
        const int at = x[static_cast<std::size_t>(i)];
        if ((type == QNL_DEMORGAN_INHIBITOR && at == 0) ||
            (type == QNL_DEMORGAN_REQUIREMENT && at == 1))
            t *= 1.0 - weights[i];
    }
    return t;
}

int QNL_demorgan::Assign(const QNL_nodeDefinition& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    const auto* other = dynamic_cast<const QNL_demorgan*>(&source);
    if (other == nullptr) return -51;
    return Guarded([&] {
        QNL_intArray newTypes(other->types);
        QNL_doubleArray newWeights(other->weights);
        if (int r = AssignGate(*other)) return r;
        types = std::move(newTypes);
        weights = std::move(newWeights);
        prior = other->prior;
        return 0;
    });
}

void QNL_demorgan::CopyTableTo(QNL_nodeDefinition& target) const {
    if (auto* other = dynamic_cast<QNL_demorgan*>(&target); other != nullptr && other != this)
        other->Assign(*this);
}

int QNL_demorgan::SetParentTypes(const QNL_intArray& values) {
    if (values.GetCount() != entries && values.GetSize() != entries) return -2;
    QNL_intArray fresh;
    for (int i = 0; i < entries; ++i) {
        if (values[i] < QNL_DEMORGAN_INHIBITOR || values[i] > QNL_DEMORGAN_BARRIER) return -2;
        if (fresh.Add(values[i]) != 0) return -42;
    }
    types = std::move(fresh);
    return Changed();
}

int QNL_demorgan::SetParentWeights(const QNL_doubleArray& values) {
    if (!OnePerParent(values, entries, 0.0)) return -2;
    if (int r = CopyEntries(weights, values, entries)) return r;
    return Changed();
}

int QNL_demorgan::SetPriorBelief(double p) {
    if (!(p >= 0.0 && p <= 1.0)) return -2;
    prior = p;
    return Changed();
}

int QNL_demorgan::GetParentType(int parentIndex) const {
    return parentIndex >= 0 && parentIndex < types.GetCount() ? types[parentIndex] : -1;
}

// ---------------------------------------------------------------------------------------
// CAST.

QNL_cast::QNL_cast(int handle, QNL_network* network) : QNL_twoStateGate(handle, network) {
    AddParents();
}

QNL_nodeDefinition* QNL_cast::CreateCopy() const {
    return CopyOrNull(*this);
}

int QNL_cast::InsertEntry(int position) {
    if (positive.Insert(position, 0.0) != 0) return -42;
    if (negative.Insert(position, 0.0) != 0) {
        positive.Delete(position);
        return -42;
    }
    return 0;
}

void QNL_cast::DeleteEntry(int position) {
    positive.Delete(position);
    negative.Delete(position);
}

int QNL_cast::ReorderEntries(const QNL_intArray& order) {
    QNL_doubleArray newPositive(positive);
    QNL_doubleArray newNegative(negative);
    if (newPositive.Reorder(order) != 0 || newNegative.Reorder(order) != 0) return -2;
    positive = std::move(newPositive);
    negative = std::move(newNegative);
    return 0;
}

int QNL_cast::ResetEntries(int count) {
    positive.Flush();
    negative.Flush();
    for (int i = 0; i < count; ++i)
        if (positive.Add(0.0) != 0 || negative.Add(0.0) != 0) return -42;
    return 0;
}

double QNL_cast::TrueProbability(const std::vector<int>& x) const {
    double a = 1.0, b = 1.0;
    for (int i = 0; i < entries; ++i) {
        const double w = x[static_cast<std::size_t>(i)] == 0 ? positive[i] : negative[i];
        if (w >= 0.0)
            a *= 1.0 - w;
        else
            b *= 1.0 + w;
    }
    if (a + b == 0.0) return baseline;
    if (a < b) return baseline + (1.0 - baseline) * (1.0 - a / b);
    const double r = b / a - 1.0;
    return r < 0.0 ? baseline * (1.0 + r) : baseline + (1.0 - baseline) * r;
}

int QNL_cast::Assign(const QNL_nodeDefinition& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    const auto* other = dynamic_cast<const QNL_cast*>(&source);
    if (other == nullptr) return -51;
    return Guarded([&] {
        QNL_doubleArray newPositive(other->positive);
        QNL_doubleArray newNegative(other->negative);
        if (int r = AssignGate(*other)) return r;
        positive = std::move(newPositive);
        negative = std::move(newNegative);
        baseline = other->baseline;
        return 0;
    });
}

void QNL_cast::CopyTableTo(QNL_nodeDefinition& target) const {
    if (auto* other = dynamic_cast<QNL_cast*>(&target); other != nullptr && other != this)
        other->Assign(*this);
}

int QNL_cast::SetWeights(QNL_doubleArray& target, const QNL_doubleArray& values) {
    if (!OnePerParent(values, entries, -1.0)) return -2;
    if (int r = CopyEntries(target, values, entries)) return r;
    return Changed();
}

int QNL_cast::SetPositiveWeights(const QNL_doubleArray& values) {
    return SetWeights(positive, values);
}

int QNL_cast::SetNegativeWeights(const QNL_doubleArray& values) {
    return SetWeights(negative, values);
}

int QNL_cast::SetBaseline(double b) {
    if (!(b >= 0.0 && b <= 1.0)) return -2;
    baseline = b;
    return Changed();
}
