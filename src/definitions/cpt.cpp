#include "definitions/cpt.h"

#include "definitions/definition_support.h"
#include "definitions/node_values.h"
#include "definitions/table.h"
#include "model/error_handler.h"
#include "model/network.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>

using namespace quarn::detail;

namespace {

bool HasTemporalParents(QNL_network& net, int node) {
    QNL_intArray orders;
    return net.FindTemporalNetwork() != nullptr && net.GetTemporalOrders(node, orders) == 0 &&
           orders.GetCount() > 0;
}

int TooFewOutcomes() {
    return QNL_errorHandler::Instance().LogError(-2, "A table needs at least two outcomes");
}

} // namespace

QNL_cpt::QNL_cpt(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {
    AddParents();
    CheckConsistency(1);
}

QNL_cpt::QNL_cpt(const QNL_cpt& other)
    : QNL_nodeDefinition(other), outcomeCount(other.outcomeCount), ids(other.ids),
      cells(other.cells) {
    network = other.network;
    handle = other.handle;
    status = other.status;
}

QNL_nodeDefinition* QNL_cpt::CreateCopy() const {
    return CopyOrNull(*this);
}

int QNL_cpt::CleanUp(int deep) {
    if (deep) {
        ids.CleanUp(deep);
        cells.CleanUp();
    }
    outcomeCount = 0;
    return CheckConsistency(0);
}

int QNL_cpt::CheckConsistency(int deep) {
    if (deep) ids.CheckConsistency(deep);
    const int last = LastDimension();
    const bool shaped = last < 0 || cells.Matrix().GetSizeOfDimension(last) == outcomeCount;
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
    const QNL_Dmatrix& table = cells.Matrix();
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
    return NotifyNetwork(network, handle, kind);
}

int QNL_cpt::GetNumberOfColumns() const {
    const QNL_Dmatrix& table = cells.Matrix();
    const int last = LastDimension();
    return last < 0 ? 0 : table.GetSize() / table.GetSizeOfDimension(last);
}

// ---------------------------------------------------------------------------------------
// Rebuilding the table from the node's parents.

void QNL_cpt::FillFreshColumns(QNL_Dmatrix& fresh) const {
    fresh.FillWith(0.0);
    fresh.Normalize();
}

void QNL_cpt::FillOpenedColumns(int dim, int index) {
    QNL_Dmatrix& table = cells.Matrix();
    const std::int64_t inner = table.GetMultiplier(dim);
    const std::int64_t block = inner * table.GetSizeOfDimension(dim);
    double* first = table.GetItems().Items() + index * inner;
    const double uniform = 1.0 / outcomeCount;
    for (std::int64_t at = 0; at < table.GetSize(); at += block)
        std::fill(first + at, first + at + inner, uniform);
}

int QNL_cpt::Rebuild(QNL_network* net, int node, QNL_idArray& newIds, ParentTable& fresh) const {
    if (int result = PadOutcomeIds(newIds, "State")) return result;
    return fresh.Build(net, node, newIds.GetCount(),
                       [this](QNL_Dmatrix& own) { FillFreshColumns(own); });
}

int QNL_cpt::Commit(QNL_idArray& newIds, ParentTable& fresh) {
    if (&newIds != &ids) {
        const int result = ids.Assign(newIds);
        if (result != 0) return result;
    }
    cells = std::move(fresh);
    outcomeCount = ids.GetCount();
    CheckConsistency(0);
    return 0;
}

int QNL_cpt::AddParents() {
    return Guarded([&] {
        QNL_idArray newIds(ids);
        ParentTable fresh = cells.EmptyLike();
        const int result = Rebuild(network, handle, newIds, fresh);
        return result != 0 ? result : Commit(newIds, fresh);
    });
}

// ---------------------------------------------------------------------------------------
// Parents.

int QNL_cpt::Settle(int outcome) {
    if (outcome < 0) return outcome;
    CheckConsistency(0);
    return 0;
}

int QNL_cpt::AddParent(int parent) {
    const int outcome = cells.AddParent(*this, parent);
    if (outcome <= 0) return outcome;
    cells.Matrix().Normalize();
    CheckConsistency(0);
    return 0;
}

int QNL_cpt::InsertParentOutcome(int parent, int index) {
    const int outcome = cells.OpenParentOutcome(*this, parent, index);
    if (outcome < 0) return outcome;
    if (outcome > 0) FillOpenedColumns(cells.Owners().FindPosition(parent), index);
    CheckConsistency(0);
    return 0;
}

int QNL_cpt::RemoveInvalidParents() {
    return RemoveNonTableParents(network, handle);
}

// ---------------------------------------------------------------------------------------
// Conversion.

int QNL_cpt::Assign(const QNL_nodeDefinition& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    QNL_network* net = source.GetNetwork();
    const int node = source.GetHandle();
    const bool placed = net != nullptr && net->IsValidNodeHandle(node);
    int result = Guarded([&] {
        QNL_idArray newIds(false);
        switch (source.GetType()) {
        case QNL_TYPE_CPT:
        case QNL_TYPE_TRUTHTABLE:
        // Gates are read through their expanded tables, laid out as this one.
        case QNL_TYPE_NOISY_MAX:
        case QNL_TYPE_NOISY_ADDER:
            return ConvertFromTable(source);
        case QNL_TYPE_TABLE:
            return ConvertFromUtilities(source);
        case QNL_TYPE_LIST: {
            // The choices become the outcomes; the informational arcs into a decision mean
            // nothing to a probability table.
            const QNL_idArray* choices = source.GetOutcomeIds();
            if (choices == nullptr) return -2;
            if (int r = newIds.Assign(*choices)) return r;
            if (placed)
                if (int r = net->RemoveAllParents(node)) return r;
            return Convert(source, newIds, nullptr);
        }
        case QNL_TYPE_MAU:
            // Utility parents would be refused one by one; their arcs go first.
            if (placed)
                if (int r = RemoveNonTableParents(net, node)) return r;
            return Convert(source, newIds, nullptr);
        case 0:
        case QNL_TYPE_EQUATION:
        case QNL_TYPE_EQUATION_SCC:
            return Convert(source, newIds, nullptr);
        case QNL_TYPE_CAST:
        case QNL_TYPE_DEMORGAN:
            // A gate's outcomes depend on its parents in a way a table can't take over; the
            // parents of a plate node's temporal definitions count as well.
            if (!placed || net->NumberOfParents(node, 0) > 0 || HasTemporalParents(*net, node))
                return -2;
            return ConvertFromTable(source);
        default:
            return -2;
        }
    });
    if (result != 0) return result;
    CheckConsistency(1);
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_SHAPE);
    return 0;
}

// Outcomes newIds (padded to two), a table rebuilt for the source node's parents and written
// by fill when given; nothing of this definition changes until all of it is built.
int QNL_cpt::Convert(const QNL_nodeDefinition& source, QNL_idArray& newIds,
                     const std::function<void(QNL_Dmatrix&)>& fill) {
    ParentTable fresh = cells.EmptyLike();
    if (int r = Rebuild(source.GetNetwork(), source.GetHandle(), newIds, fresh)) return r;
    if (fill) fill(fresh.Matrix());
    if (int r = Commit(newIds, fresh)) return r;
    QNL_nodeDefinition::Assign(source);
    return 0;
}

// The table is rebuilt for the source node's parents and takes the source's values only
// when both have the same dimensions, so nothing is read or written past either table.
int QNL_cpt::ConvertFromTable(const QNL_nodeDefinition& source) {
    const QNL_idArray* sourceIds = source.GetOutcomeIds();
    if (sourceIds == nullptr) return -2;
    QNL_idArray newIds(false);
    if (int r = newIds.Assign(*sourceIds)) return r;
    QNL_doubleArray values;
    const auto* sourceTable = dynamic_cast<const QNL_cpt*>(&source);
    return Convert(source, newIds, [&](QNL_Dmatrix& table) {
        const bool sameLayout = sourceTable != nullptr
                                    ? SameDimensions(sourceTable->GetTable(), table)
                                    : source.GetSize() == table.GetSize();
        if (sameLayout && source.GetDefinition(values) == 0 && values.GetSize() == table.GetSize())
            std::copy(values.Items(), values.Items() + values.GetSize(), table.GetItems().Items());
    });
}

// Two outcomes whose first takes the utility's place in the table's range: the column of the
// smallest utility is {0, 1}, of the largest {1, 0}. The utility table has the same parents,
// so it has one utility per column; a table of any other shape, and an undefined utility,
// leave uniform columns.
int QNL_cpt::ConvertFromUtilities(const QNL_nodeDefinition& source) {
    const auto* utilities = dynamic_cast<const QNL_table*>(&source);
    if (utilities == nullptr) return -2;
    QNL_idArray newIds(false);
    return Convert(source, newIds, [&](QNL_Dmatrix& table) {
        const QNL_Dmatrix& u = utilities->GetTable();
        const int n = newIds.GetCount();
        if (n != 2 || static_cast<std::int64_t>(u.GetSize()) * n != table.GetSize()) return;
        const double low = utilities->GetMinimumUtility();
        double range = utilities->GetMaximumUtility() - low;
        if (range == 0.0) range = 1.0;
        const double* from = u.GetItems().Items();
        double* to = table.GetItems().Items();
        for (int i = 0; i < u.GetSize(); ++i) {
            if (from[i] == QNL_utilityValue::UNDEFINED_UTILITY) continue;
            const double p = (from[i] - low) / range;
            to[2 * i] = p;
            to[2 * i + 1] = 1.0 - p;
        }
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
    int result = InsertOutcomeId(ids, index, id, "State");
    if (result != 0) return result;
    if ((result = cells.OpenSlice(last, index)) != 0) {
        ids.Delete(index);
        return result;
    }
    ++outcomeCount;
    CheckConsistency(0);
    return PropagateInsertOutcome(index);
}

int QNL_cpt::RemoveOutcome(int index) {
    if (!IsValid()) return -567;
    const int last = LastDimension();
    if (outcomeCount < 3 || index < 0 || index >= outcomeCount || last < 0) return -2;
    if (int removed = cells.RemoveSlice(last, index)) return removed;
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
    return Guarded([&] {
        if (int r = RenameOutcomeIds(ids, newIds)) return r;
        CheckConsistency(0);
        return 0;
    });
}

int QNL_cpt::SetNumberOfOutcomes(int count) {
    if (HasDependents(network, handle)) return -19;
    // A table keeps at least two outcomes; padding a smaller count would report success for
    // a shape the caller did not ask for. (Given identifiers are padded: files rely on it.)
    if (count < 2) return TooFewOutcomes();
    // The table will hold count values per column; a count no table can hold is refused
    // before any identifier is made.
    const std::int64_t columns = std::max(1, GetNumberOfColumns());
    if (count * columns > QNL_network::MAX_TABLE_CELLS)
        return QNL_errorHandler::Instance().LogError(-42, "Matrix too large");
    return Guarded([&] {
        QNL_idArray newIds(false);
        if (int r = DefaultOutcomeIds(newIds, "State", count)) return r;
        return Reshape(newIds);
    });
}

int QNL_cpt::SetNumberOfOutcomes(const QNL_stringArray& newIds) {
    if (HasDependents(network, handle)) return -19;
    if (!newIds.IsValid()) return -567;
    return Guarded([&] {
        QNL_idArray fresh(false);
        bool usable = false;
        if (int r = ReadOutcomeIds(newIds, fresh, usable)) return r;
        if (usable) return Reshape(fresh);
        // Files name single-state nodes; their one identifier is padded, as a usable one is.
        const int count = newIds.GetCount();
        return SetNumberOfOutcomes(count == 1 ? 2 : count);
    });
}

int QNL_cpt::Reshape(QNL_idArray& newIds) {
    ParentTable fresh = cells.EmptyLike();
    if (int r = Rebuild(network, handle, newIds, fresh)) return r;
    if (int r = Commit(newIds, fresh)) return r;
    ResizeAnnotations();
    Notify(QNL_network::CHANGE_SHAPE);
    return 0;
}

int QNL_cpt::ReorderOutcomes(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    const int last = LastDimension();
    if (order.GetCount() != outcomeCount || last < 0) return -2;
    const int result = Guarded([&] {
        QNL_Dmatrix work(cells.Matrix());
        if (int r = work.ReorderOutcomes(last, order)) return r;
        if (int r = ids.Reorder(order)) return r;
        cells.Matrix() = std::move(work);
        return 0;
    });
    if (result != 0) return result;
    return PropagateReorderOutcomes(order);
}

int QNL_cpt::ChangeOutcomes(const QNL_stringArray& newIds, const QNL_intArray& map) {
    return ChangeOutcomesKeepingTwo(*this, newIds, map);
}

// ---------------------------------------------------------------------------------------
// Table access.

void QNL_cpt::CopyTableTo(QNL_nodeDefinition& target) const {
    const QNL_Dmatrix& table = cells.Matrix();
    QNL_Dmatrix* matrix = target.GetMatrix();
    if (matrix != nullptr && matrix != &table) matrix->Assign(table);
}

// These take the values unchecked; the network checks them before its next update.
int QNL_cpt::SetDefinition(const QNL_Dmatrix& matrix) {
    const int result = cells.AssignMatrix(*this, matrix);
    if (result == 0 && network != nullptr) network->TablesEdited();
    return result;
}

int QNL_cpt::SetDefinition(const QNL_doubleArray& values) {
    const int result = cells.AssignValues(*this, values);
    if (result == 0 && network != nullptr) network->TablesEdited();
    return result;
}

int QNL_cpt::SetProbabilities(const QNL_doubleArray& values) {
    if (int result = cells.AssignValues(*this, values)) return result;
    CheckConsistency(1);
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}
