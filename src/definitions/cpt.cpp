#include "definitions/cpt.h"

#include "definitions/definition_support.h"

#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

using namespace quarn::detail;

QNL_cpt::QNL_cpt(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {
    AddParents();
    CheckConsistency(1);
}

QNL_cpt::QNL_cpt(const QNL_cpt& other)
    : QNL_nodeDefinition(other), outcomeCount(other.outcomeCount), ids(other.ids),
      table(other.table), dimensionParents(other.dimensionParents) {
    network = other.network;
    handle = other.handle;
    status = other.status;
}

QNL_nodeDefinition* QNL_cpt::CreateCopy() const {
    try {
        return new QNL_cpt(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int QNL_cpt::CleanUp(int deep) {
    if (deep) {
        ids.CleanUp(deep);
        table.CleanUp();
        dimensionParents.CleanUp();
    }
    outcomeCount = 0;
    return CheckConsistency(0);
}

int QNL_cpt::CheckConsistency(int deep) {
    if (deep) ids.CheckConsistency(deep);
    const int last = LastDimension();
    const bool shaped = last < 0 || table.GetSizeOfDimension(last) == outcomeCount;
    if (ids.IsValid() && ids.GetCount() == outcomeCount && shaped)
        status |= STATUS_VALID;
    else
        status &= ~STATUS_VALID;
    return 0;
}

// A NaN anywhere makes the table not ready: every comparison is written so that NaN fails.
int QNL_cpt::CheckReadiness(int deep) {
    if (deep) {
        ids.CheckReadiness(deep);
        if (!ids.IsReady()) {
            status &= ~STATUS_READY;
            return 0;
        }
    }
    bool ready = true;
    const int total = table.GetSize();
    if (total > 0) {
        const int n = outcomeCount;
        const int last = LastDimension();
        ready = n > 0 && table.GetSizeOfDimension(last) == n;
        const double* values = table.GetItems().Items();
        double sum = 0.0;
        int inColumn = 0;
        for (int i = 0; ready && i < total; ++i) {
            if (!(values[i] >= 0.0)) {
                ready = false;
                break;
            }
            sum += values[i];
            if (++inColumn == n) {
                ready = sum >= MIN_COLUMN_SUM && sum <= MAX_COLUMN_SUM;
                sum = 0.0;
                inColumn = 0;
            }
        }
    }
    status = ready ? (status | STATUS_READY) : (status & ~STATUS_READY);
    return 0;
}

int QNL_cpt::Notify(int kind) {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    return network->NotifyChange(handle, kind);
}

int QNL_cpt::GetNumberOfColumns() const {
    const int last = LastDimension();
    return last < 0 ? 0 : table.GetSize() / table.GetSizeOfDimension(last);
}

// ---------------------------------------------------------------------------------------
// Rebuilding the table from the node's parents.

void QNL_cpt::FillFreshColumns(QNL_Dmatrix& fresh) const {
    fresh.FillWith(0.0);
    fresh.Normalize();
}

int QNL_cpt::Rebuild(QNL_network* net, int node, QNL_idArray& newIds, QNL_Dmatrix& newTable,
                     QNL_intArray& newOwners) const {
    while (newIds.GetCount() < 2) {
        const int result = newIds.AddDefault("State", newIds.GetCount());
        if (result != 0) return result;
    }
    const int n = newIds.GetCount();
    if (int result = newTable.Setup(&n, 1)) return result;
    FillFreshColumns(newTable);
    newOwners.Flush();
    if (net == nullptr || !net->IsValidNodeHandle(node)) return 0;
    const QNL_intArray parents(net->GetParents(node));
    for (int i = 0; i < parents.GetCount(); ++i) {
        int outcomes = 0;
        int result = TableParentOutcomes(net, parents[i], outcomes);
        if (result == 0 && outcomes >= 1) {
            result = newTable.InsertDimension(newOwners.GetCount(), outcomes);
            if (result == 0 && newOwners.Add(parents[i]) != 0) throw std::bad_alloc();
        }
        if (result != 0) QNL_errorHandler::Instance().LogError(result, "Parent could not be added");
    }
    return 0;
}

int QNL_cpt::Commit(QNL_idArray& newIds, QNL_Dmatrix& newTable, QNL_intArray& newOwners) {
    if (&newIds != &ids) {
        const int result = ids.Assign(newIds);
        if (result != 0) return result;
    }
    table = std::move(newTable);
    dimensionParents = std::move(newOwners);
    outcomeCount = ids.GetCount();
    CheckConsistency(0);
    return 0;
}

int QNL_cpt::AddParents() {
    return Guarded([&] {
        QNL_idArray newIds(ids);
        QNL_Dmatrix fresh;
        QNL_intArray owners;
        const int result = Rebuild(network, handle, newIds, fresh, owners);
        return result != 0 ? result : Commit(newIds, fresh, owners);
    });
}

// ---------------------------------------------------------------------------------------
// Parents.

int QNL_cpt::CheckParentHandle(int parent) const {
    return network != nullptr && network->IsValidNodeHandle(parent) ? 0 : -2;
}

void QNL_cpt::SyncDimensionParents(int adding) {
    if (network == nullptr) return;
    const QNL_intArray& parents = network->GetParents(handle);
    const int owned = table.GetNumberOfDimensions() > 0 ? table.GetNumberOfDimensions() - 1 : 0;
    bool current = dimensionParents.GetCount() == owned;
    for (int i = 0; current && i < dimensionParents.GetCount(); ++i)
        current = dimensionParents[i] != adding && parents.IsInList(dimensionParents[i]);
    if (current) return;
    QNL_intArray derived;
    for (int i = 0; i < parents.GetCount(); ++i)
        if (parents[i] != adding && QNL_IsTableParentType(TypeAt(network, parents[i])))
            if (derived.Add(parents[i]) != 0) return;
    if (derived.GetCount() == owned) dimensionParents = std::move(derived);
}

int QNL_cpt::DimensionOf(int parent) {
    SyncDimensionParents();
    const int dim = dimensionParents.FindPosition(parent);
    return dim >= 0 && dim < LastDimension() ? dim : -1;
}

int QNL_cpt::AddParent(int parent) {
    if (!IsValid()) return -567;
    if (int result = CheckParentHandle(parent)) return result;
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
        if (int result = table.InsertDimension(dim, outcomes)) return result;
        dimensionParents = std::move(owners);
        table.Normalize();
        CheckConsistency(0);
        return 0;
    });
}

// A parent without a dimension (one whose arc was kept through a type change, or whose
// evidence was already absorbed) leaves the table as it is; the arc can still go.
int QNL_cpt::RemoveParent(int parent) {
    if (!IsValid()) return -567;
    if (int result = CheckParentHandle(parent)) return result;
    const int dim = DimensionOf(parent);
    if (dim >= 0) {
        const int result = Guarded([&] {
            QNL_intArray owners(dimensionParents);
            owners.Delete(dim);
            if (int r = table.RemoveDimension(dim, 0)) return r;
            dimensionParents = std::move(owners);
            return 0;
        });
        if (result != 0) return result;
    }
    CheckConsistency(0);
    return 0;
}

int QNL_cpt::AbsorbParentEvidence(int parent) {
    if (!IsValid()) return -567;
    if (int result = CheckParentHandle(parent)) return result;
    const QNL_nodeValue* value = network->GetNode(parent)->GetValue();
    if (value == nullptr || !value->IsObserved()) return -2;
    if (TypeAt(network, parent) == QNL_TYPE_TABLE) return -2;
    const int dim = DimensionOf(parent);
    if (dim >= 0) {
        const int outcome = value->GetEvidence();
        const int result = Guarded([&] {
            QNL_intArray owners(dimensionParents);
            owners.Delete(dim);
            if (int r = table.RemoveDimension(dim, outcome)) return r;
            dimensionParents = std::move(owners);
            return 0;
        });
        if (result != 0) return result;
    }
    CheckConsistency(0);
    return 0;
}

// The weights are the parent's own table, which is its distribution only when that table is
// a single column; a parent with parents of its own is refused rather than summed out with a
// table of the wrong length.
int QNL_cpt::MarginalizeParent(int parent) {
    if (!IsValid()) return -567;
    if (int result = CheckParentHandle(parent)) return result;
    const QNL_nodeValue* value = network->GetNode(parent)->GetValue();
    if (value != nullptr && value->IsObserved()) return -2;
    const int type = TypeAt(network, parent);
    if (type == QNL_TYPE_TABLE || type == QNL_TYPE_LIST) return -2;
    const int dim = DimensionOf(parent);
    if (dim >= 0) {
        const int result = Guarded([&] {
            QNL_doubleArray weights;
            if (DefinitionAt(network, parent)->GetDefinition(weights) != 0 ||
                weights.GetSize() != table.GetSizeOfDimension(dim))
                return -2;
            QNL_intArray owners(dimensionParents);
            owners.Delete(dim);
            if (int r = table.SumOutDimension(dim, weights)) return r;
            dimensionParents = std::move(owners);
            return 0;
        });
        if (result != 0) return result;
    }
    CheckConsistency(0);
    return 0;
}

int QNL_cpt::OpenParentOutcome(int parent, int index, int& dim) {
    dim = -1;
    if (!IsValid()) return -567;
    if (int result = CheckParentHandle(parent)) return result;
    if (TypeAt(network, parent) == QNL_TYPE_TABLE) return -2;
    const int found = DimensionOf(parent);
    if (found < 0) return 0;
    if (index < 0 || index > table.GetSizeOfDimension(found)) return -2;
    if (int result = table.AddOutcome(found)) return result;
    table.ShiftDataUpwards(found, index, 0.0);
    dim = found;
    return 0;
}

int QNL_cpt::InsertParentOutcome(int parent, int index) {
    int dim = -1;
    if (int result = OpenParentOutcome(parent, index, dim)) return result;
    if (dim >= 0) table.Normalize();
    CheckConsistency(0);
    return 0;
}

int QNL_cpt::RemoveParentOutcome(int parent, int index) {
    if (!IsValid()) return -567;
    if (int result = CheckParentHandle(parent)) return result;
    if (TypeAt(network, parent) == QNL_TYPE_TABLE) return -2;
    const int dim = DimensionOf(parent);
    if (dim >= 0) {
        const int size = table.GetSizeOfDimension(dim);
        if (index < 0 || index >= size || size < 2) return -2;
        const int result = Guarded([&] {
            QNL_Dmatrix work(table);
            work.ShiftDataDownwards(dim, index);
            if (int r = work.RemoveLastOutcome(dim)) return r;
            table = std::move(work);
            return 0;
        });
        if (result != 0) return result;
    }
    CheckConsistency(0);
    return 0;
}

int QNL_cpt::ReorderParentOutcomes(int parent, const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (int result = CheckParentHandle(parent)) return result;
    const int dim = DimensionOf(parent);
    if (dim >= 0) {
        if (int result = table.ReorderOutcomes(dim, order)) return result;
    }
    CheckConsistency(0);
    return 0;
}

// The network has already put its parent list in the new order; the dimensions follow that
// list, each still bound to the parent that owns it.
int QNL_cpt::ReorderParents(const QNL_intArray& order) {
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
        if (int result = table.ReorderDimensions(dims)) return result;
        dimensionParents = std::move(owners);
        return 0;
    });
}

// Parents that a probability table refuses to index by: every type without a dimension of
// its own, gates included, since AddParent would not take them either.
int QNL_cpt::RemoveInvalidParents() {
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

int QNL_cpt::Assign(const QNL_nodeDefinition& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    int result;
    switch (source.GetType()) {
    case QNL_TYPE_CPT:
    case QNL_TYPE_TRUTHTABLE:
        result = ConvertFromTable(source);
        break;
    // Conversions from decision lists, utility and multi-attribute utility tables, noisy-MAX
    // and noisy-adder definitions, gates and equations come with those classes. Until then
    // such a source is refused and this definition stays as it was.
    case QNL_TYPE_EQUATION:
    case QNL_TYPE_EQUATION_SCC:
    case QNL_TYPE_TABLE:
    case QNL_TYPE_LIST:
    case QNL_TYPE_NOISY_MAX:
    case QNL_TYPE_NOISY_ADDER:
    case QNL_TYPE_CAST:
    case QNL_TYPE_DEMORGAN:
    case QNL_TYPE_MAU:
    default:
        return -2;
    }
    if (result != 0) return result;
    CheckConsistency(1);
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_SHAPE);
    return 0;
}

// The table is rebuilt for the source node's parents and takes the source's values only
// when both have the same dimensions, so nothing is read or written past either table.
int QNL_cpt::ConvertFromTable(const QNL_nodeDefinition& source) {
    const QNL_idArray* sourceIds = source.GetOutcomeIds();
    if (sourceIds == nullptr) return -2;
    return Guarded([&] {
        QNL_idArray newIds(false);
        if (int r = newIds.Assign(*sourceIds)) return r;
        QNL_Dmatrix fresh;
        QNL_intArray owners;
        if (int r = Rebuild(source.GetNetwork(), source.GetHandle(), newIds, fresh, owners))
            return r;
        const auto* sourceTable = dynamic_cast<const QNL_cpt*>(&source);
        const bool sameLayout = sourceTable != nullptr
                                    ? SameDimensions(sourceTable->GetTable(), fresh)
                                    : source.GetSize() == fresh.GetSize();
        QNL_doubleArray values;
        if (sameLayout && source.GetDefinition(values) == 0 && values.GetSize() == fresh.GetSize())
            std::copy(values.Items(), values.Items() + values.GetSize(), fresh.GetItems().Items());
        if (int r = Commit(newIds, fresh, owners)) return r;
        QNL_nodeDefinition::Assign(source);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Own outcomes.

int QNL_cpt::AddOutcome(const char* id) {
    if (!IsValid()) return -567;
    return InsertOutcome(outcomeCount, id);
}

int QNL_cpt::InsertOutcome(int index, const char* id) {
    if (!IsValid()) return -567;
    const int last = LastDimension();
    if (index < 0 || index > outcomeCount || last < 0) return -2;
    int result = ids.Insert(index, id);
    if (result == -2) result = ids.InsertDefault("State", outcomeCount, index);
    if (result != 0) return result;
    if ((result = table.AddOutcome(last)) != 0) {
        ids.Delete(index);
        return result;
    }
    table.ShiftDataUpwards(last, index, 0.0);
    ++outcomeCount;
    CheckConsistency(0);
    return PropagateInsertOutcome(index);
}

int QNL_cpt::RemoveOutcome(int index) {
    if (!IsValid()) return -567;
    const int last = LastDimension();
    if (outcomeCount < 3 || index < 0 || index >= outcomeCount || last < 0) return -2;
    const int removed = Guarded([&] {
        QNL_Dmatrix work(table);
        work.ShiftDataDownwards(last, index);
        if (int r = work.RemoveLastOutcome(last)) return r;
        table = std::move(work);
        return 0;
    });
    if (removed != 0) return removed;
    --outcomeCount;
    const int result = PropagateRemoveOutcome(index, ids);
    CheckConsistency(0);
    return result;
}

int QNL_cpt::RenameOutcome(int index, const char* id) {
    if (!IsValid()) return -567;
    if (index < 0 || index >= outcomeCount) return -2;
    return ids.SetString(index, id);
}

int QNL_cpt::SetOutcomeIds(const QNL_stringArray& newIds) {
    if (!IsValid() || !newIds.IsValid()) return -567;
    if (newIds.GetCount() < ids.GetCount()) return -2;
    return Guarded([&] {
        QNL_idArray fresh(ids.AllowsEmpty());
        std::string repaired;
        for (int i = 0; i < outcomeCount; ++i) {
            const char* text = newIds.GetString(i);
            if (fresh.Add(text) == 0) continue;
            int r = fresh.MakeValidId(text, -1, repaired);
            if (r == 0) r = fresh.Add(repaired.c_str());
            if (r != 0) return r;
        }
        if (int r = ids.Assign(fresh)) return r;
        CheckConsistency(0);
        return 0;
    });
}

int QNL_cpt::SetNumberOfOutcomes(int count) {
    if (HasDependents(network, handle)) return -19;
    if (count < 1) return -2;
    // The table will hold count values per column; a count no table can hold is refused
    // before any identifier is made.
    const std::int64_t columns = std::max(1, GetNumberOfColumns());
    if (count * columns > QNL_Dmatrix::MAX_CELLS)
        return QNL_errorHandler::Instance().LogError(-42, "Matrix too large");
    return Guarded([&] {
        QNL_idArray newIds(false);
        for (int i = 0; i < count; ++i)
            if (int r = newIds.AddDefault("State", i)) return r;
        QNL_Dmatrix fresh;
        QNL_intArray owners;
        if (int r = Rebuild(network, handle, newIds, fresh, owners)) return r;
        if (int r = Commit(newIds, fresh, owners)) return r;
        ResizeAnnotations();
        Notify(QNL_network::CHANGE_SHAPE);
        return 0;
    });
}

int QNL_cpt::SetNumberOfOutcomes(const QNL_stringArray& newIds) {
    if (HasDependents(network, handle)) return -19;
    if (!newIds.IsValid()) return -567;
    return Guarded([&] {
        QNL_idArray fresh(false);
        if (int r = fresh.QNL_stringArray::Assign(newIds)) return r;
        fresh.CheckReadiness(1);
        if (!fresh.IsReady() && fresh.MakeAllIdsValid() != 0)
            return SetNumberOfOutcomes(newIds.GetCount());
        QNL_Dmatrix newTable;
        QNL_intArray owners;
        if (int r = Rebuild(network, handle, fresh, newTable, owners)) return r;
        if (int r = Commit(fresh, newTable, owners)) return r;
        ResizeAnnotations();
        Notify(QNL_network::CHANGE_SHAPE);
        return 0;
    });
}

int QNL_cpt::ReorderOutcomes(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    const int last = LastDimension();
    if (order.GetCount() != outcomeCount || last < 0) return -2;
    const int result = Guarded([&] {
        QNL_Dmatrix work(table);
        if (int r = work.ReorderOutcomes(last, order)) return r;
        if (int r = ids.Reorder(order)) return r;
        table = std::move(work);
        return 0;
    });
    if (result != 0) return result;
    return PropagateReorderOutcomes(order);
}

// The shared outcome change keeps two outcomes through temporaries, but a table must end
// with two as well: a request for fewer is refused before the first step, not at the last.
int QNL_cpt::ChangeOutcomes(const QNL_stringArray& newIds, const QNL_intArray& map) {
    if (!IsValid()) return -567;
    if (newIds.GetCount() < 2) return -2;
    return QNL_nodeDefinition::ChangeOutcomes(newIds, map);
}

// ---------------------------------------------------------------------------------------
// Table access.

int QNL_cpt::GetDefinition(QNL_doubleArray& out) const {
    if (out.Assign(table.GetItems()) != 0) return QNL_errorHandler::Instance().LogError(-42);
    out.SetCount(out.GetSize());
    return 0;
}

int QNL_cpt::GetDefinition(QNL_Dmatrix** out) {
    if (out == nullptr) return -2;
    *out = &table;
    return 0;
}

int QNL_cpt::SetDefinition(const QNL_Dmatrix& matrix) {
    if (!IsValid()) return -567;
    if (!SameDimensions(matrix, table)) return -2;
    return table.Assign(matrix);
}

int QNL_cpt::SetDefinition(const QNL_doubleArray& values) {
    if (!IsValid()) return -567;
    const int total = table.GetSize();
    if (!HoldsExactly(values, total)) return -2;
    std::copy(values.Items(), values.Items() + total, table.GetItems().Items());
    return 0;
}

void QNL_cpt::CopyTableTo(QNL_nodeDefinition& target) const {
    QNL_Dmatrix* matrix = target.GetMatrix();
    if (matrix != nullptr && matrix != &table) matrix->Assign(table);
}

int QNL_cpt::SetProbabilities(const QNL_doubleArray& values) {
    if (!IsValid()) return -567;
    const int total = table.GetSize();
    if (!HoldsExactly(values, total)) return -2;
    std::copy(values.Items(), values.Items() + total, table.GetItems().Items());
    CheckConsistency(1);
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}
