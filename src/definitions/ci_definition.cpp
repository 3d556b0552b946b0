#include "definitions/ci_definition.h"

#include "definitions/definition_support.h"
#include "model/error_handler.h"
#include "model/network.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

using namespace quarn::detail;

namespace {

void CopyMessage(char* buffer, int size, const char* text) {
    if (buffer == nullptr || size < 1) return;
    std::strncpy(buffer, text, static_cast<std::size_t>(size) - 1);
    buffer[size - 1] = '\0';
}

} // namespace

QNL_ciDefinition::QNL_ciDefinition(int handle, QNL_network* network)
    : QNL_nodeDefinition(handle, network) {}

QNL_ciDefinition::QNL_ciDefinition(const QNL_ciDefinition& other)
    : QNL_nodeDefinition(other), ids(other.ids), cpt(other.cpt), params(other.params),
      flags(other.flags), blockParents(other.blockParents), blockSizes(other.blockSizes) {
    network = other.network;
    handle = other.handle;
    status = other.status;
}

int QNL_ciDefinition::CleanUp(int deep) {
    if (deep) {
        ids.CleanUp(deep);
        cpt.CleanUp();
        params.CleanUp();
        blockParents.clear();
        blockSizes.clear();
    }
    flags = 0;
    return CheckConsistency(0);
}

int QNL_ciDefinition::CheckConsistency(int deep) {
    if (deep) ids.CheckConsistency(deep);
    const bool shaped =
        params.GetNumberOfDimensions() == 0 ||
        (params.GetNumberOfDimensions() == 2 && params.GetSizeOfDimension(1) == ids.GetCount());
    status = ids.IsValid() && shaped ? (status | STATUS_VALID) : (status & ~STATUS_VALID);
    return 0;
}

int QNL_ciDefinition::CheckReadiness(int deep) {
    if (deep) ids.CheckReadiness(deep);
    status = ids.IsReady() ? (status | STATUS_READY) : (status & ~STATUS_READY);
    char message[64];
    if (params.GetNumberOfDimensions() != 2 || params.GetSizeOfDimension(1) != ids.GetCount() ||
        CheckParameters(params, message, sizeof message) != 0)
        status &= ~STATUS_READY;
    return 0;
}

int QNL_ciDefinition::CheckParameters(const QNL_Dmatrix& candidate, char* message, int size) const {
    if (!SameDimensions(candidate, params) || candidate.GetNumberOfDimensions() != 2) {
        CopyMessage(message, size, "Inappropirate Dmatrix size");
        return -2;
    }
    const int n = candidate.GetSizeOfDimension(1);
    const int unit = UnitOutcome(n);
    const int columns = candidate.GetSizeOfDimension(0);
    const double* cells = candidate.GetItems().Items();
    for (int c = 0; c < columns; ++c) {
        const bool distinguished = IsDistinguishedColumn(c);
        double sum = 0.0;
        for (int k = 0; k < n; ++k) {
            const double v = cells[static_cast<std::size_t>(c) * n + k];
            sum += v;
            if (!(v >= 0.0)) {
                CopyMessage(message, size, "Probability less than 0");
                return -4;
            }
            if (distinguished && v != (k == unit ? 1.0 : 0.0)) {
                CopyMessage(message, size, "Constraints violeted");
                return -4;
            }
        }
        if (!(sum >= 0.999995 && sum <= 1.000005)) {
            CopyMessage(message, size, "Probabilities don't sum up to 1");
            return -4;
        }
    }
    CopyMessage(message, size, "Ok");
    return 0;
}

int QNL_ciDefinition::Notify(int kind) {
    return NotifyNetwork(network, handle, kind);
}

const QNL_Dmatrix& QNL_ciDefinition::GetCpt() const {
    if (!IsCptCurrent()) const_cast<QNL_ciDefinition*>(this)->CalculateCpt();
    return cpt;
}

// Counted from the outcome counts, never by expanding the table: the size is asked before
// every arc, and expanding a stale table there cost gigabytes for a table about to be refused.
int QNL_ciDefinition::GetSize() const {
    if (IsCptCurrent()) return cpt.GetSize();
    std::int64_t cells = ids.GetCount();
    for (int size : blockSizes)
        if ((cells *= size) > std::numeric_limits<int>::max())
            return std::numeric_limits<int>::max();
    return static_cast<int>(cells);
}

int QNL_ciDefinition::GetDefinition(QNL_doubleArray& out) const {
    if (out.Assign(GetCpt().GetItems()) != 0) return QNL_errorHandler::Instance().LogError(-42);
    out.SetCount(out.GetSize());
    return 0;
}

int QNL_ciDefinition::GetDefinition(QNL_Dmatrix** out) {
    if (out == nullptr) return -2;
    GetCpt();
    *out = &cpt;
    return 0;
}

// A matrix of another shape would misalign every column with its parent outcome.
int QNL_ciDefinition::SetDefinition(const QNL_Dmatrix& matrix) {
    if (!IsValid()) return -567;
    if (!SameDimensions(matrix, params)) return -2;
    if (int r = params.Assign(matrix)) return r;
    return Finish();
}

int QNL_ciDefinition::SetDefinition(const QNL_doubleArray& values) {
    if (!IsValid()) return -567;
    const int n = std::min(values.GetSize(), params.GetSize());
    std::copy(values.Items(), values.Items() + n, params.GetItems().Items());
    return Finish();
}

int QNL_ciDefinition::RemoveInvalidParents() {
    return RemoveNonTableParents(network, handle);
}

// ---------------------------------------------------------------------------------------
// Columns.

void QNL_ciDefinition::ToCumulative(double* column, int n) {
    for (int k = n - 2; k >= 0; --k)
        column[k] += column[k + 1];
    for (int k = 0; k < n; ++k)
        if (column[k] < 0.0) column[k] = 0.0;
}

void QNL_ciDefinition::ToPoint(double* column, int n) {
    for (int k = 0; k + 1 < n; ++k) {
        column[k] -= column[k + 1];
        if (column[k] < 0.0) column[k] = 0.0;
    }
    if (n > 0 && column[n - 1] < 0.0) column[n - 1] = 0.0;
}

void QNL_ciDefinition::SetUnitColumn(int c, int outcome) {
    double* column = Column(c);
    const int n = ids.GetCount();
    for (int k = 0; k < n; ++k)
        column[k] = k == outcome ? 1.0 : 0.0;
}

int QNL_ciDefinition::StoreParameters(int columns, const std::vector<double>& cells) {
    const int shape[2] = {columns, ids.GetCount()};
    QNL_Dmatrix fresh;
    if (int r = fresh.Setup(shape, 2)) return r;
    std::copy(cells.begin(), cells.end(), fresh.GetItems().Items());
    params = std::move(fresh);
    return 0;
}

std::vector<double> QNL_ciDefinition::ParameterCells() const {
    const QNL_doubleArray& items = params.GetItems();
    return std::vector<double>(items.Items(), items.Items() + items.GetSize());
}

int QNL_ciDefinition::ColumnOffset(int block) const {
    int offset = 0;
    for (int b = 0; b < block && b < GetNumberOfBlocks(); ++b)
        offset += blockSizes[static_cast<std::size_t>(b)];
    return offset;
}

int QNL_ciDefinition::InsertColumns(int at, int count) {
    return Guarded([&] {
        const int n = ids.GetCount();
        std::vector<double> cells = ParameterCells();
        cells.insert(cells.begin() + static_cast<std::ptrdiff_t>(at) * n,
                     static_cast<std::size_t>(count) * n, 0.0);
        return StoreParameters(GetNumberOfColumns() + count, cells);
    });
}

int QNL_ciDefinition::RemoveColumns(int at, int count) {
    return Guarded([&] {
        const int n = ids.GetCount();
        std::vector<double> cells = ParameterCells();
        const auto first = cells.begin() + static_cast<std::ptrdiff_t>(at) * n;
        cells.erase(first, first + static_cast<std::ptrdiff_t>(count) * n);
        return StoreParameters(GetNumberOfColumns() - count, cells);
    });
}

int QNL_ciDefinition::ReorderColumns(int at, const QNL_intArray& order) {
    const int m = order.GetCount();
    if (!IsPermutation(order, m) || at + m > GetNumberOfColumns()) return -2;
    return Guarded([&] {
        const int n = ids.GetCount();
        std::vector<double> old(Column(at), Column(at) + static_cast<std::size_t>(m) * n);
        for (int j = 0; j < m; ++j)
            std::copy_n(old.begin() + static_cast<std::ptrdiff_t>(order[j]) * n, n, Column(at + j));
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Parents.

int QNL_ciDefinition::CheckParentEdit(int parent) const {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    return TypeAt(network, parent) == QNL_TYPE_TABLE ? -2 : 0;
}

int QNL_ciDefinition::ParentOutcomes(int parent, int& outcomes) const {
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    return TableParentOutcomes(network, parent, outcomes);
}

int QNL_ciDefinition::BlockOf(int parent) {
    const auto at = std::find(blockParents.begin(), blockParents.end(), parent);
    if (at != blockParents.end()) return static_cast<int>(at - blockParents.begin());
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return -1;
    // After a copy into other slots the record names the old handles: derive it again from
    // the parent list when that fits the blocks.
    const QNL_intArray& parents = network->GetParents(handle);
    bool current = true;
    for (int p : blockParents)
        current = current && parents.IsInList(p);
    if (current) return -1;
    std::vector<int> derived;
    for (int i = 0; i < parents.GetCount(); ++i)
        if (QNL_IsTableParentType(TypeAt(network, parents[i]))) derived.push_back(parents[i]);
    if (derived.size() != blockParents.size()) return -1;
    for (std::size_t b = 0; b < derived.size(); ++b)
        if (DefinitionAt(network, derived[b])->GetNumberOfOutcomes() != blockSizes[b]) return -1;
    blockParents = std::move(derived);
    const auto found = std::find(blockParents.begin(), blockParents.end(), parent);
    return found != blockParents.end() ? static_cast<int>(found - blockParents.begin()) : -1;
}

int QNL_ciDefinition::BlockPositionFor(int parent) const {
    const QNL_intArray& parents = network->GetParents(handle);
    const int listed = parents.FindPosition(parent);
    int position = 0;
    for (int i = 0; i < listed; ++i)
        if (std::find(blockParents.begin(), blockParents.end(), parents[i]) != blockParents.end())
            ++position;
    return position;
}

std::vector<int> QNL_ciDefinition::BlockOrderAfterReorder() const {
    std::vector<int> order;
    const QNL_intArray& parents = network->GetParents(handle);
    for (int i = 0; i < parents.GetCount(); ++i) {
        const auto at = std::find(blockParents.begin(), blockParents.end(), parents[i]);
        if (at != blockParents.end()) order.push_back(static_cast<int>(at - blockParents.begin()));
    }
    return order;
}

// ---------------------------------------------------------------------------------------
// Own outcomes.

int QNL_ciDefinition::InsertOutcome(int index, const char* id) {
    if (!IsValid()) return -567;
    const int n = ids.GetCount();
    if (index < 0 || index > n) return -2;
    // The outcome dimension grows in place where the matrix allows (a single column, as a
    // root has): adding a root's outcomes one by one stays linear in their count.
    if (params.GetNumberOfDimensions() == 2) {
        if (int r = InsertOutcomeId(ids, index, id, "State")) return r;
        int r = params.AddOutcome(1);
        if (r == 0) r = params.ShiftDataUpwards(1, index, 0.0);
        if (r != 0) {
            ids.Delete(index);
            return r;
        }
        AfterOutcomeInserted(index);
        Finish();
        return PropagateInsertOutcome(index);
    }
    const int columns = GetNumberOfColumns();
    std::vector<double> cells;
    const int result = Guarded([&] {
        cells.reserve(static_cast<std::size_t>(columns) * (n + 1));
        for (int c = 0; c < columns; ++c) {
            const double* column = Column(c);
            for (int k = 0; k <= n; ++k)
                cells.push_back(k == index ? 0.0 : column[k < index ? k : k - 1]);
        }
        return 0;
    });
    if (result != 0) return result;
    if (int r = InsertOutcomeId(ids, index, id, "State")) return r;
    if (int r = StoreParameters(columns, cells)) {
        ids.Delete(index);
        return r;
    }
    AfterOutcomeInserted(index);
    Finish();
    return PropagateInsertOutcome(index);
}

int QNL_ciDefinition::RemoveOutcome(int index) {
    if (!IsValid()) return -567;
    const int n = ids.GetCount();
    if (n < 3 || index < 0 || index >= n) return -2;
    const int columns = GetNumberOfColumns();
    // The propagation drops the identifier from the list it is given; the own list loses it
    // first, so that the gate is whole again before the network reads its table.
    QNL_idArray before(false);
    const int result = Guarded([&] {
        std::vector<double> cells;
        cells.reserve(static_cast<std::size_t>(columns) * (n - 1));
        for (int c = 0; c < columns; ++c)
            for (int k = 0; k < n; ++k)
                if (k != index) cells.push_back(Column(c)[k]);
        const int shape[2] = {columns, n - 1};
        QNL_Dmatrix fresh;
        if (int r = fresh.Setup(shape, 2)) return r;
        std::copy(cells.begin(), cells.end(), fresh.GetItems().Items());
        if (int r = before.Assign(ids)) return r;
        if (int r = ids.Delete(index)) return r;
        params = std::move(fresh);
        return 0;
    });
    if (result != 0) {
        if (ids.GetCount() != n) ids.Assign(before);
        return result;
    }
    AfterOutcomeRemoved(index);
    Finish();
    return PropagateRemoveOutcome(index, before);
}

int QNL_ciDefinition::ReorderParameterOutcomes(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (!IsPermutation(order, ids.GetCount())) return -2;
    const int result = Guarded([&] {
        QNL_Dmatrix work(params);
        if (int r = work.ReorderOutcomes(1, order)) return r;
        if (int r = ids.Reorder(order)) return r;
        params = std::move(work);
        return 0;
    });
    if (result != 0) return result;
    MarkStale();
    return 0;
}

int QNL_ciDefinition::RenameOutcome(int index, const char* id) {
    if (!IsValid()) return -567;
    if (index < 0 || index >= ids.GetCount()) return -2;
    return ids.SetString(index, id);
}

int QNL_ciDefinition::SetOutcomeIds(const QNL_stringArray& newIds) {
    if (!IsValid() || !newIds.IsValid()) return -567;
    if (newIds.GetCount() != ids.GetCount()) return -2;
    return Guarded([&] {
        if (int r = RenameOutcomeIds(ids, newIds)) return r;
        CheckConsistency(0);
        return 0;
    });
}

int QNL_ciDefinition::SetNumberOfOutcomes(int count) {
    if (HasDependents(network, handle)) return -19;
    if (count < 2) return -2;
    return Guarded([&] {
        QNL_idArray fresh(false);
        if (int r = DefaultOutcomeIds(fresh, "State", count)) return r;
        if (int r = ids.Assign(fresh)) return r;
        if (int r = RebuildParameters()) return r;
        AfterOutcomeCountChange();
        Finish();
        ResizeAnnotations();
        Notify(QNL_network::CHANGE_SHAPE);
        return 0;
    });
}

int QNL_ciDefinition::SetNumberOfOutcomes(const QNL_stringArray& newIds) {
    if (HasDependents(network, handle)) return -19;
    if (!newIds.IsValid()) return -567;
    if (int r = SetNumberOfOutcomes(newIds.GetCount())) return r;
    return SetOutcomeIds(newIds);
}

// ---------------------------------------------------------------------------------------
// Parent blocks.

int QNL_ciDefinition::AddNetworkParents() {
    MarkStale();
    CheckConsistency(0);
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    const QNL_intArray parents(network->GetParents(handle));
    for (int i = 0; i < parents.GetCount(); ++i)
        if (int r = AddParent(parents[i]))
            QNL_errorHandler::Instance().LogError(r, "Parent could not be added");
    return 0;
}

int QNL_ciDefinition::CheckParentAdd(int parent, int& outcomes) {
    if (!IsValid()) return -567;
    outcomes = 0;
    if (int r = ParentOutcomes(parent, outcomes)) return r;
    const int listed = network->GetParents(handle).FindPosition(parent);
    if (listed < 0) return listed;
    if (outcomes < 1) return 0;
    if (std::find(blockParents.begin(), blockParents.end(), parent) != blockParents.end())
        return -2;
    return 0;
}

int QNL_ciDefinition::DropBlock(int block) {
    if (int r = RemoveColumns(ColumnOffset(block), GetBlockSize(block))) return r;
    blockParents.erase(blockParents.begin() + block);
    blockSizes.erase(blockSizes.begin() + block);
    EraseBlockData(block);
    return Finish();
}

// A parent that has just become a utility node is removed like any other: its type changed
// with the arc in place, and refusing here would keep its block under a parent without
// outcomes.
int QNL_ciDefinition::RemoveParent(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const int block = BlockOf(parent);
    if (block < 0) {
        CheckConsistency(0);
        return 0;
    }
    return Guarded([&] { return DropBlock(block); });
}

int QNL_ciDefinition::ReorderBlocks(const QNL_intArray& order,
                                    const std::function<void(const std::vector<int>&)>& stage,
                                    const std::function<void()>& commit) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return -2;
    if (!IsPermutation(order, network->GetParents(handle).GetCount())) return -2;
    return Guarded([&] {
        if (!blockParents.empty()) BlockOf(blockParents.front());
        const std::vector<int> blocks = BlockOrderAfterReorder();
        if (blocks.size() != blockParents.size()) return -2;
        const int n = ids.GetCount();
        std::vector<double> cells;
        std::vector<int> parents, sizes;
        for (int b : blocks) {
            const double* first = Column(ColumnOffset(b));
            cells.insert(cells.end(), first, first + static_cast<std::size_t>(GetBlockSize(b)) * n);
            parents.push_back(GetBlockParent(b));
            sizes.push_back(GetBlockSize(b));
        }
        const double* leak = Column(GetNumberOfColumns() - 1);
        cells.insert(cells.end(), leak, leak + n);
        stage(blocks);
        if (int r = StoreParameters(GetNumberOfColumns(), cells)) return r;
        blockParents = std::move(parents);
        blockSizes = std::move(sizes);
        commit();
        // The expanded table's dimensions follow the parents, so it is stale as well.
        return Finish();
    });
}

int QNL_ciDefinition::AssignFrom(const QNL_nodeDefinition& source, bool defaultIds,
                                 const std::function<int(int)>& adopt) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    const int type = source.GetType();
    switch (type) {
    case 0:
    case QNL_TYPE_EQUATION:
    case QNL_TYPE_EQUATION_SCC:
    case QNL_TYPE_TABLE:
    case QNL_TYPE_LIST:
    case QNL_TYPE_CPT:
    case QNL_TYPE_TRUTHTABLE:
    case QNL_TYPE_NOISY_MAX:
    case QNL_TYPE_NOISY_ADDER:
        break;
    default:
        return -2;
    }
    const QNL_idArray* sourceIds = source.GetOutcomeIds();
    const int result = Guarded([&] {
        CleanUp(1);
        QNL_nodeDefinition::Assign(source);
        // A source without outcomes (an equation) leaves the default two, as a utility table
        // does: a gate with no outcomes is written by the formats but read by none.
        if (type != QNL_TYPE_TABLE && sourceIds != nullptr) {
            if (int r = ids.Assign(*sourceIds)) return r;
        } else if (defaultIds) {
            if (int r = DefaultOutcomeIds(ids, "State", 2)) return r;
        }
        if (type == QNL_TYPE_LIST && network != nullptr) network->RemoveAllParents(handle);
        if (int r = AddParents()) return r;
        return adopt(type);
    });
    if (result != 0) return result;
    CheckConsistency(1);
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_SHAPE);
    return 0;
}
