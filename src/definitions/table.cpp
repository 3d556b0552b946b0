#include "definitions/table.h"

#include "definitions/cpt.h"
#include "definitions/definition_support.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

using namespace quarn::detail;

namespace {

constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;

// A table of one utility 0.0 grown by a dimension for each parent that owns one; parents that
// cannot be added are logged and skipped.
void Rebuild(const QNL_network* net, int node, QNL_Dmatrix& fresh, QNL_intArray& owners) {
    const int one = 1;
    if (fresh.Setup(&one, 1) != 0) throw std::bad_alloc();
    fresh.FillWith(0.0);
    owners.Flush();
    if (net == nullptr || !net->IsValidNodeHandle(node)) return;
    const QNL_intArray parents(net->GetParents(node));
    for (int i = 0; i < parents.GetCount(); ++i) {
        int outcomes = 0;
        int result = TableParentOutcomes(net, parents[i], outcomes);
        if (result == 0 && outcomes >= 1) {
            result = fresh.InsertDimension(owners.GetCount(), outcomes);
            if (result == 0 && owners.Add(parents[i]) != 0) throw std::bad_alloc();
        }
        if (result != 0) QNL_errorHandler::Instance().LogError(result, "Parent could not be added");
    }
}

// The table of a source whose cells are utilities laid out as ours: another utility table,
// or a probability table (whose own outcomes make it a different shape). The causal-
// independence definitions will hand over their expanded probability table here.
const QNL_Dmatrix* SourceTable(const QNL_nodeDefinition& source) {
    if (const auto* table = dynamic_cast<const QNL_table*>(&source)) return &table->GetTable();
    if (const auto* cpt = dynamic_cast<const QNL_cpt*>(&source)) return &cpt->GetTable();
    return nullptr;
}

} // namespace

QNL_table::QNL_table(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {
    AddParents();
    CheckConsistency(1);
    CheckReadiness(1);
}

QNL_table::QNL_table(const QNL_table& other)
    : QNL_nodeDefinition(other), utilities(other.utilities),
      dimensionParents(other.dimensionParents) {
    network = other.network;
    handle = other.handle;
    status = other.status;
}

QNL_nodeDefinition* QNL_table::CreateCopy() const {
    try {
        return new QNL_table(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int QNL_table::CleanUp(int deep) {
    if (deep) {
        utilities.CleanUp();
        dimensionParents.CleanUp();
    }
    return CheckConsistency(0);
}

int QNL_table::CheckConsistency(int) {
    const int last = LastDimension();
    const bool shaped = last < 0 || (utilities.GetSizeOfDimension(last) == 1 &&
                                     last == dimensionParents.GetCount());
    status = shaped ? (status | STATUS_VALID) : (status & ~STATUS_VALID);
    return 0;
}

int QNL_table::CheckReadiness(int) {
    status |= STATUS_READY;
    return 0;
}

int QNL_table::Notify(int kind) {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    return network->NotifyChange(handle, kind);
}

int QNL_table::AddParents() {
    return Guarded([&] {
        QNL_Dmatrix fresh;
        QNL_intArray owners;
        Rebuild(network, handle, fresh, owners);
        utilities = std::move(fresh);
        dimensionParents = std::move(owners);
        CheckConsistency(0);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Parents.

void QNL_table::SyncDimensionParents(int adding) {
    if (network == nullptr) return;
    const QNL_intArray& parents = network->GetParents(handle);
    const int owned = std::max(0, LastDimension());
    bool current = dimensionParents.GetCount() == owned;
    for (int i = 0; current && i < dimensionParents.GetCount(); ++i)
        current = dimensionParents[i] != adding && parents.IsInList(dimensionParents[i]);
    if (current) return;
    QNL_intArray derived;
    for (int i = 0; i < parents.GetCount(); ++i)
        if (parents[i] != adding && QNL_IsTableParentType(TypeAt(network, parents[i])))
            if (derived.Add(parents[i]) != 0) return;
    if (derived.GetCount() != owned) return;
    for (int d = 0; d < owned; ++d)
        if (DefinitionAt(network, derived[d])->GetNumberOfOutcomes() !=
            utilities.GetSizeOfDimension(d))
            return;
    dimensionParents = std::move(derived);
}

int QNL_table::DimensionOf(int parent) {
    SyncDimensionParents();
    const int dim = dimensionParents.FindPosition(parent);
    return dim >= 0 && dim < LastDimension() ? dim : -1;
}

int QNL_table::AddParent(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    int outcomes = 0;
    if (int result = TableParentOutcomes(network, parent, outcomes)) return result;
    const QNL_intArray& parents = network->GetParents(handle);
    const int listed = parents.FindPosition(parent);
    if (listed < 0) return listed;
    if (outcomes < 1) return 0;
    if (LastDimension() < 0) return -2;
    SyncDimensionParents(parent);
    if (dimensionParents.IsInList(parent)) return -2;
    int dim = 0;
    for (int i = 0; i < listed; ++i)
        if (dimensionParents.IsInList(parents[i])) ++dim;
    return Guarded([&] {
        QNL_intArray owners(dimensionParents);
        if (owners.Insert(dim, parent) != 0) throw std::bad_alloc();
        if (int result = utilities.InsertDimension(dim, outcomes)) return result;
        dimensionParents = std::move(owners);
        CheckConsistency(0);
        return 0;
    });
}

int QNL_table::DropDimension(int dim, int outcome, const QNL_doubleArray* weights) {
    return Guarded([&] {
        QNL_intArray owners(dimensionParents);
        owners.Delete(dim);
        const int result = weights != nullptr ? utilities.SumOutDimension(dim, *weights)
                                              : utilities.RemoveDimension(dim, outcome);
        if (result != 0) return result;
        dimensionParents = std::move(owners);
        CheckConsistency(0);
        return 0;
    });
}

// A parent without a dimension (one whose arc was kept through a type change, or whose
// evidence was already absorbed) leaves the table as it is; the arc can still go.
int QNL_table::RemoveParent(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const int dim = DimensionOf(parent);
    return dim < 0 ? 0 : DropDimension(dim, 0, nullptr);
}

int QNL_table::AbsorbParentEvidence(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const QNL_nodeValue* value = network->GetNode(parent)->GetValue();
    if (value == nullptr || !value->IsObserved()) return -2;
    if (TypeAt(network, parent) == QNL_TYPE_TABLE) return -2;
    const int dim = DimensionOf(parent);
    return dim < 0 ? 0 : DropDimension(dim, value->GetEvidence(), nullptr);
}

// The weights are the parent's own table, which is its distribution only when that table is
// a single column; a parent with parents of its own is refused rather than summed out with a
// table of the wrong length.
int QNL_table::MarginalizeParent(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const QNL_nodeValue* value = network->GetNode(parent)->GetValue();
    if (value != nullptr && value->IsObserved()) return -2;
    const int type = TypeAt(network, parent);
    if (type == QNL_TYPE_TABLE || type == QNL_TYPE_LIST) return -2;
    const int dim = DimensionOf(parent);
    if (dim < 0) return 0;
    QNL_doubleArray weights;
    if (DefinitionAt(network, parent)->GetDefinition(weights) != 0 ||
        weights.GetSize() != utilities.GetSizeOfDimension(dim))
        return -2;
    return DropDimension(dim, 0, &weights);
}

int QNL_table::InsertParentOutcome(int parent, int index) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    if (TypeAt(network, parent) == QNL_TYPE_TABLE) return -2;
    const int dim = DimensionOf(parent);
    if (dim < 0) return 0;
    if (index < 0 || index > utilities.GetSizeOfDimension(dim)) return -2;
    if (int result = utilities.AddOutcome(dim)) return result;
    utilities.ShiftDataUpwards(dim, index, 0.0);
    CheckConsistency(0);
    return 0;
}

int QNL_table::RemoveParentOutcome(int parent, int index) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    if (TypeAt(network, parent) == QNL_TYPE_TABLE) return -2;
    const int dim = DimensionOf(parent);
    if (dim < 0) return 0;
    const int size = utilities.GetSizeOfDimension(dim);
    if (index < 0 || index >= size || size < 2) return -2;
    return Guarded([&] {
        QNL_Dmatrix work(utilities);
        work.ShiftDataDownwards(dim, index);
        if (int r = work.RemoveLastOutcome(dim)) return r;
        utilities = std::move(work);
        CheckConsistency(0);
        return 0;
    });
}

int QNL_table::ReorderParentOutcomes(int parent, const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const int dim = DimensionOf(parent);
    return dim < 0 ? 0 : utilities.ReorderOutcomes(dim, order);
}

// The network has already put its parent list in the new order; the dimensions follow that
// list, each still bound to the parent that owns it, and the utility dimension stays last.
int QNL_table::ReorderParents(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return -2;
    return Guarded([&] {
        const QNL_intArray& parents = network->GetParents(handle);
        if (!IsPermutation(order, parents.GetCount())) return -2;
        if (LastDimension() < 0) return 0;
        SyncDimensionParents();
        QNL_intArray owners;
        QNL_intArray dims;
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int dim = dimensionParents.FindPosition(parents[i]);
            if (dim < 0) continue;
            if (owners.Add(parents[i]) != 0 || dims.Add(dim) != 0) throw std::bad_alloc();
        }
        if (dims.Add(LastDimension()) != 0) throw std::bad_alloc();
        if (int result = utilities.ReorderDimensions(dims)) return result;
        dimensionParents = std::move(owners);
        return 0;
    });
}

// Parents that a utility table refuses to index by: every type without a dimension of its
// own, gates included, since AddParent would not take them either.
int QNL_table::RemoveInvalidParents() {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    return Guarded([&] {
        const QNL_intArray parents(network->GetParents(handle));
        for (int i = 0; i < parents.GetCount(); ++i)
            if (!QNL_IsTableParentType(TypeAt(network, parents[i])))
                network->RemoveArc(parents[i], handle, 0);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Conversion.

// The table is rebuilt for the source node's parents and takes the source's cells only when
// both have the same dimensions. A source without utilities of its own (an equation) leaves
// the zero table rather than an empty one, which later parent edits could not follow. A
// refused source leaves this table as it was.
int QNL_table::Assign(const QNL_nodeDefinition& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    bool dropParents = false;
    switch (source.GetType()) {
    case 0:
    case QNL_TYPE_EQUATION:
    case QNL_TYPE_EQUATION_SCC:
    case QNL_TYPE_TABLE:
    case QNL_TYPE_CPT:
    case QNL_TYPE_TRUTHTABLE:
    case QNL_TYPE_NOISY_MAX:
    case QNL_TYPE_NOISY_ADDER:
        break;
    case QNL_TYPE_LIST:
    case QNL_TYPE_MAU:
        dropParents = true;
        break;
    default:
        return -2;
    }
    return Guarded([&] {
        QNL_network* net = source.GetNetwork();
        const int node = source.GetHandle();
        if (dropParents && net != nullptr && net->IsValidNodeHandle(node))
            if (int r = net->RemoveAllParents(node)) return r;
        QNL_Dmatrix fresh;
        QNL_intArray owners;
        Rebuild(net, node, fresh, owners);
        const QNL_Dmatrix* cells = SourceTable(source);
        if (cells != nullptr && SameDimensions(*cells, fresh))
            if (int r = fresh.Assign(*cells)) return r;
        QNL_nodeDefinition::Assign(source);
        utilities = std::move(fresh);
        dimensionParents = std::move(owners);
        CheckConsistency(1);
        CheckReadiness(1);
        Notify(QNL_network::CHANGE_SHAPE);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Utilities.

int QNL_table::GetDefinition(QNL_doubleArray& out) const {
    if (out.Assign(utilities.GetItems()) != 0) return QNL_errorHandler::Instance().LogError(-42);
    out.SetCount(out.GetSize());
    return 0;
}

int QNL_table::GetDefinition(QNL_Dmatrix** out) {
    if (out == nullptr) return -2;
    *out = &utilities;
    return 0;
}

int QNL_table::SetDefinition(const QNL_Dmatrix& matrix) {
    if (!IsValid()) return -567;
    if (!SameDimensions(matrix, utilities)) return -2;
    return utilities.Assign(matrix);
}

int QNL_table::SetDefinition(const QNL_doubleArray& values) {
    if (!IsValid()) return -567;
    const int total = utilities.GetSize();
    if (!HoldsExactly(values, total)) return -2;
    std::copy(values.Items(), values.Items() + total, utilities.GetItems().Items());
    return 0;
}

int QNL_table::SetUtilities(const QNL_doubleArray& values) {
    if (!IsValid()) return -567;
    const int total = utilities.GetSize();
    if (!HoldsExactly(values, total)) return -2;
    std::copy(values.Items(), values.Items() + total, utilities.GetItems().Items());
    CheckConsistency(1);
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}

double QNL_table::GetMinimumUtility() const {
    double low = kUndefined;
    bool found = false;
    const double* cells = utilities.GetItems().Items();
    for (int i = 0; i < utilities.GetSize(); ++i) {
        if (cells[i] == kUndefined) continue;
        if (!found || cells[i] < low) low = cells[i];
        found = true;
    }
    return low;
}

double QNL_table::GetMaximumUtility() const {
    double high = kUndefined;
    bool found = false;
    const double* cells = utilities.GetItems().Items();
    for (int i = 0; i < utilities.GetSize(); ++i) {
        if (cells[i] == kUndefined) continue;
        if (!found || cells[i] > high) high = cells[i];
        found = true;
    }
    return high;
}

// Non-finite bounds would turn every utility into NaN or infinity; they are refused with the
// table unchanged.
int QNL_table::RescaleUtilities(double refLow, double refHigh, double targetLow,
                                double targetHigh) {
    if (!IsValid()) return -567;
    if (!std::isfinite(refLow) || !std::isfinite(refHigh) || !std::isfinite(targetLow) ||
        !std::isfinite(targetHigh))
        return -2;
    double* cells = utilities.GetItems().Items();
    const int total = utilities.GetSize();
    const double low = GetMinimumUtility();
    const double high = GetMaximumUtility();
    const bool defined =
        std::any_of(cells, cells + total, [](double u) { return u != kUndefined; });
    if (defined) {
        if (refLow == refHigh) {
            refLow = low;
            refHigh = high;
        }
        if (low < refLow) refLow = low;
        if (high > refHigh) refHigh = high;
    }
    if (refLow == refHigh || targetLow == targetHigh) {
        for (int i = 0; i < total; ++i)
            if (cells[i] != kUndefined) cells[i] = targetHigh;
        Notify(QNL_network::CHANGE_VALUES);
        return 0;
    }
    if (refLow == targetLow && refHigh == targetHigh) return 0;
    const double factor = (targetHigh - targetLow) / (refHigh - refLow);
    for (int i = 0; i < total; ++i)
        if (cells[i] != kUndefined) cells[i] = (cells[i] - refLow) * factor + targetLow;
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}
