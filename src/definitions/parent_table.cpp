#include "definitions/parent_table.h"

#include "definitions/definition_support.h"
#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
#include <new>
#include <utility>

namespace quarn::detail {

namespace {

// -567 for an owner that is not valid, -2 for a handle that names no node of its network and,
// where a utility parent cannot be meant, for a utility parent.
int CheckEdit(const QNL_nodeDefinition& owner, int parent, bool refuseUtility = false) {
    if (!owner.IsValid()) return -567;
    const QNL_network* net = owner.GetNetwork();
    if (net == nullptr || !net->IsValidNodeHandle(parent)) return -2;
    return refuseUtility && TypeAt(net, parent) == QNL_TYPE_TABLE ? -2 : 0;
}

} // namespace

void ParentTable::CleanUp() {
    matrix.CleanUp();
    owners.CleanUp();
}

void ParentTable::GrowOverParents(const QNL_network* net, int node) {
    owners.Flush();
    if (net == nullptr || !net->IsValidNodeHandle(node)) return;
    const QNL_intArray parents(net->GetParents(node));
    for (int i = 0; i < parents.GetCount(); ++i) {
        int outcomes = 0;
        int result = TableParentOutcomes(net, parents[i], outcomes);
        if (result == 0 && outcomes >= 1) {
            result = matrix.InsertDimension(owners.GetCount(), outcomes);
            if (result == 0 && owners.Add(parents[i]) != 0) throw std::bad_alloc();
        }
        if (result != 0) QNL_errorHandler::Instance().LogError(result, "Parent could not be added");
    }
}

void ParentTable::SyncOwners(const QNL_nodeDefinition& owner, int adding) {
    const QNL_network* net = owner.GetNetwork();
    if (net == nullptr) return;
    const QNL_intArray& parents = net->GetParents(owner.GetHandle());
    const int owned = std::max(0, LastDimension());
    bool current = owners.GetCount() == owned;
    for (int i = 0; current && i < owners.GetCount(); ++i)
        current = owners[i] != adding && parents.IsInList(owners[i]);
    if (current) return;
    QNL_intArray derived;
    for (int i = 0; i < parents.GetCount(); ++i)
        if (parents[i] != adding && QNL_IsTableParentType(TypeAt(net, parents[i])))
            if (derived.Add(parents[i]) != 0) return;
    if (derived.GetCount() != owned) return;
    if (checkOwnerSizes)
        for (int d = 0; d < owned; ++d)
            if (DefinitionAt(net, derived[d])->GetNumberOfOutcomes() !=
                matrix.GetSizeOfDimension(d))
                return;
    owners = std::move(derived);
}

int ParentTable::DimensionOf(const QNL_nodeDefinition& owner, int parent) {
    SyncOwners(owner);
    const int dim = owners.FindPosition(parent);
    return dim >= 0 && dim < LastDimension() ? dim : -1;
}

int ParentTable::DropDimension(int dim, int outcome, const QNL_doubleArray* weights) {
    return Guarded([&] {
        QNL_intArray kept(owners);
        kept.Delete(dim);
        const int result = weights != nullptr ? matrix.SumOutDimension(dim, *weights)
                                              : matrix.RemoveDimension(dim, outcome);
        if (result != 0) return result;
        owners = std::move(kept);
        return 1;
    });
}

// ---------------------------------------------------------------------------------------
// Parent edits.

// The new dimension goes where the parent stands among the parents that own one.
int ParentTable::AddParent(const QNL_nodeDefinition& owner, int parent) {
    if (int result = CheckEdit(owner, parent)) return result;
    const QNL_network* net = owner.GetNetwork();
    int outcomes = 0;
    if (int result = TableParentOutcomes(net, parent, outcomes)) return result;
    const QNL_intArray& parents = net->GetParents(owner.GetHandle());
    const int listed = parents.FindPosition(parent);
    if (listed < 0) return listed;
    if (outcomes < 1) return 0;
    if (LastDimension() < 0) return -2;
    SyncOwners(owner, parent);
    if (owners.IsInList(parent)) return -2;
    int dim = 0;
    for (int i = 0; i < listed; ++i)
        if (owners.IsInList(parents[i])) ++dim;
    return Guarded([&] {
        QNL_intArray grown(owners);
        if (grown.Insert(dim, parent) != 0) throw std::bad_alloc();
        if (int result = matrix.InsertDimension(dim, outcomes)) return result;
        owners = std::move(grown);
        return 1;
    });
}

// A parent without a dimension (one whose arc was kept through a type change, or whose
// evidence was already absorbed) leaves the table as it is; the arc can still go.
int ParentTable::RemoveParent(const QNL_nodeDefinition& owner, int parent) {
    if (int result = CheckEdit(owner, parent)) return result;
    const int dim = DimensionOf(owner, parent);
    return dim < 0 ? 0 : DropDimension(dim, 0, nullptr);
}

int ParentTable::AbsorbParentEvidence(const QNL_nodeDefinition& owner, int parent) {
    if (int result = CheckEdit(owner, parent)) return result;
    const QNL_network* net = owner.GetNetwork();
    const QNL_nodeValue* value = net->GetNode(parent)->GetValue();
    if (value == nullptr || !value->IsObserved()) return -2;
    if (TypeAt(net, parent) == QNL_TYPE_TABLE) return -2;
    const int dim = DimensionOf(owner, parent);
    return dim < 0 ? 0 : DropDimension(dim, value->GetEvidence(), nullptr);
}

// The weights are the parent's own table, which is its distribution only when that table is
// a single column; a parent with parents of its own is refused rather than summed out with a
// table of the wrong length.
int ParentTable::MarginalizeParent(const QNL_nodeDefinition& owner, int parent) {
    if (int result = CheckEdit(owner, parent)) return result;
    const QNL_network* net = owner.GetNetwork();
    const QNL_nodeValue* value = net->GetNode(parent)->GetValue();
    if (value != nullptr && value->IsObserved()) return -2;
    const int type = TypeAt(net, parent);
    if (type == QNL_TYPE_TABLE || type == QNL_TYPE_LIST) return -2;
    const int dim = DimensionOf(owner, parent);
    if (dim < 0) return 0;
    return Guarded([&] {
        QNL_doubleArray weights;
        if (DefinitionAt(net, parent)->GetDefinition(weights) != 0 ||
            weights.GetSize() != matrix.GetSizeOfDimension(dim))
            return -2;
        return DropDimension(dim, 0, &weights);
    });
}

int ParentTable::OpenParentOutcome(const QNL_nodeDefinition& owner, int parent, int index) {
    if (int result = CheckEdit(owner, parent, true)) return result;
    const int dim = DimensionOf(owner, parent);
    if (dim < 0) return 0;
    if (index < 0 || index > matrix.GetSizeOfDimension(dim)) return -2;
    if (int result = OpenSlice(dim, index)) return result;
    return 1;
}

int ParentTable::RemoveParentOutcome(const QNL_nodeDefinition& owner, int parent, int index) {
    if (int result = CheckEdit(owner, parent, true)) return result;
    const int dim = DimensionOf(owner, parent);
    if (dim < 0) return 0;
    const int size = matrix.GetSizeOfDimension(dim);
    if (index < 0 || index >= size || size < 2) return -2;
    if (int result = RemoveSlice(dim, index)) return result;
    return 1;
}

int ParentTable::ReorderParentOutcomes(const QNL_nodeDefinition& owner, int parent,
                                       const QNL_intArray& order) {
    if (int result = CheckEdit(owner, parent)) return result;
    const int dim = DimensionOf(owner, parent);
    if (dim < 0) return 0;
    if (int result = matrix.ReorderOutcomes(dim, order)) return result;
    return 1;
}

// The dimensions follow the parent list, each still bound to the parent that owns it, and
// the node's own dimension stays last.
int ParentTable::ReorderParents(const QNL_nodeDefinition& owner, const QNL_intArray& order) {
    if (!owner.IsValid()) return -567;
    const QNL_network* net = owner.GetNetwork();
    const int node = owner.GetHandle();
    if (net == nullptr || !net->IsValidNodeHandle(node)) return -2;
    return Guarded([&] {
        const QNL_intArray& parents = net->GetParents(node);
        if (!IsPermutation(order, parents.GetCount())) return -2;
        if (LastDimension() < 0) return 0;
        SyncOwners(owner);
        QNL_intArray reordered;
        QNL_intArray dims;
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int dim = owners.FindPosition(parents[i]);
            if (dim < 0) continue;
            if (reordered.Add(parents[i]) != 0 || dims.Add(dim) != 0) throw std::bad_alloc();
        }
        if (dims.Add(LastDimension()) != 0) throw std::bad_alloc();
        if (int result = matrix.ReorderDimensions(dims)) return result;
        owners = std::move(reordered);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Cells.

int ParentTable::OpenSlice(int dim, int index) {
    if (int result = matrix.AddOutcome(dim)) return result;
    matrix.ShiftDataUpwards(dim, index, 0.0);
    return 0;
}

// Shifted in a copy, so that a failed removal leaves the slices where they were.
int ParentTable::RemoveSlice(int dim, int index) {
    return Guarded([&] {
        QNL_Dmatrix work(matrix);
        work.ShiftDataDownwards(dim, index);
        if (int result = work.RemoveLastOutcome(dim)) return result;
        matrix = std::move(work);
        return 0;
    });
}

int ParentTable::CopyValues(QNL_doubleArray& out) const {
    if (out.Assign(matrix.GetItems()) != 0) return QNL_errorHandler::Instance().LogError(-42);
    out.SetCount(out.GetSize());
    return 0;
}

int ParentTable::Expose(QNL_Dmatrix** out) {
    if (out == nullptr) return -2;
    *out = &matrix;
    return 0;
}

int ParentTable::AssignMatrix(const QNL_nodeDefinition& owner, const QNL_Dmatrix& source) {
    if (!owner.IsValid()) return -567;
    if (!SameDimensions(source, matrix)) return -2;
    return matrix.Assign(source);
}

int ParentTable::AssignValues(const QNL_nodeDefinition& owner, const QNL_doubleArray& values) {
    if (!owner.IsValid()) return -567;
    const int total = matrix.GetSize();
    if (!HoldsExactly(values, total)) return -2;
    std::copy(values.Items(), values.Items() + total, matrix.GetItems().Items());
    return 0;
}

} // namespace quarn::detail
