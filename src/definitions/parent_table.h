#pragma once

// Internal: not part of the public interface.

#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/int_array.h"

class QNL_network;
class QNL_nodeDefinition;

namespace quarn::detail {

// The table of a definition indexed by its parents, shared by the probability and utility
// tables: one dimension per parent that owns one (decision, probability, truth-table,
// noisy-MAX and noisy-adder parents, in parent order) and the node's own dimension last. It
// owns the matrix and the record of the parents owning its dimensions; each edit changes
// both together or neither. The record is kept rather than derived from the parents' current
// types, so a parent whose type has changed since it was added still finds its dimension.
//
// Every edit is given the owning definition, whose network and handle can change, and is
// refused with -567 while that definition is not valid. It answers a negative code when
// refused, else 1 when it changed the table and 0 when there was nothing to change; the
// owner decides what a change calls for.
class ParentTable {
public:
    // checkOwnerSizes: a record derived again from the parent list is taken only when each
    // parent's outcome count is the size of the dimension it would own.
    explicit ParentTable(bool checkOwnerSizes) : checkOwnerSizes(checkOwnerSizes) {}

    // An empty table following the same rules, for a rebuild that is committed by move.
    ParentTable EmptyLike() const { return ParentTable(checkOwnerSizes); }

    QNL_Dmatrix& Matrix() { return matrix; }
    const QNL_Dmatrix& Matrix() const { return matrix; }
    // The parents owning a dimension, in dimension order.
    const QNL_intArray& Owners() const { return owners; }
    int LastDimension() const { return matrix.GetNumberOfDimensions() - 1; }
    void CleanUp();

    // Shapes the table as the own dimension of ownSize cells filled by fill, grown by a
    // dimension for every parent of node that owns one (which repeats the filled cells);
    // parents that cannot be added are logged and skipped. Throws bad_alloc when the record
    // cannot grow, so callers run it guarded.
    template <typename Fill> int Build(const QNL_network* net, int node, int ownSize, Fill&& fill) {
        if (int result = matrix.Setup(&ownSize, 1)) return result;
        fill(matrix);
        GrowOverParents(net, node);
        return 0;
    }

    int AddParent(const QNL_nodeDefinition& owner, int parent);
    int RemoveParent(const QNL_nodeDefinition& owner, int parent);
    int AbsorbParentEvidence(const QNL_nodeDefinition& owner, int parent);
    int MarginalizeParent(const QNL_nodeDefinition& owner, int parent);
    // The slice of the parent's new outcome is opened with 0.0.
    int OpenParentOutcome(const QNL_nodeDefinition& owner, int parent, int index);
    int RemoveParentOutcome(const QNL_nodeDefinition& owner, int parent, int index);
    int ReorderParentOutcomes(const QNL_nodeDefinition& owner, int parent,
                              const QNL_intArray& order);
    // 0 or a negative code: the parent list is already in the new order.
    int ReorderParents(const QNL_nodeDefinition& owner, const QNL_intArray& order);

    // Outcome index of dimension dim: opened with 0.0, or removed; a failed edit leaves the
    // table as it was.
    int OpenSlice(int dim, int index);
    int RemoveSlice(int dim, int index);

    // A copy of the cells in storage order; -42 when it cannot be had.
    int CopyValues(QNL_doubleArray& out) const;
    // The matrix itself, for callers that edit cells in place; -2 for a null out.
    int Expose(QNL_Dmatrix** out);
    // -2 unless the matrix has exactly this table's dimensions.
    int AssignMatrix(const QNL_nodeDefinition& owner, const QNL_Dmatrix& source);
    // -2 unless the array holds exactly the number of cells (as its count or its size).
    int AssignValues(const QNL_nodeDefinition& owner, const QNL_doubleArray& values);

private:
    void GrowOverParents(const QNL_network* net, int node);
    // Runs on every parent edit, so it allocates only when the record is out of date: after
    // the definition was moved to other handles. `adding` owns no dimension yet.
    void SyncOwners(const QNL_nodeDefinition& owner, int adding = -1);
    // The parent's dimension, -1 when it owns none; resynchronises the record first.
    int DimensionOf(const QNL_nodeDefinition& owner, int parent);
    // Removes the dimension keeping the slice of one outcome, or summing it out with weights.
    int DropDimension(int dim, int outcome, const QNL_doubleArray* weights);

    QNL_Dmatrix matrix;
    QNL_intArray owners;
    bool checkOwnerSizes;
};

} // namespace quarn::detail
