#pragma once

#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/int_array.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <functional>
#include <vector>

// The base of the causal-independence definitions: a chance node whose probability table is
// expanded from a small parameter matrix (one column per parent outcome, parents in parent
// order, then a leak column; the node's outcomes fastest). It owns the outcome identifiers, the
// parameters and the expanded table, which is a cache: every change of parameters, parents or
// outcomes marks it stale and the next reader recomputes it. Every caller that reads the
// definition's table sees the expanded table, laid out as a probability table's.
class QNL_ciDefinition : public QNL_nodeDefinition {
public:
    QNL_ciDefinition(int handle, QNL_network* network);
    QNL_ciDefinition(const QNL_ciDefinition& other);
    QNL_ciDefinition& operator=(const QNL_ciDefinition&) = delete;
    ~QNL_ciDefinition() override = default;

    int CleanUp(int deep = 1) override;
    int CheckConsistency(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    int GetSize() const override;
    int RemoveParent(int parent) override;
    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    int RemoveInvalidParents() override;

    int AddOutcome(const char* id) override { return InsertOutcome(GetNumberOfOutcomes(), id); }
    int InsertOutcome(int index, const char* id) override;
    int RemoveOutcome(int index) override;
    int GetNumberOfOutcomes() const override { return ids.GetCount(); }
    int RenameOutcome(int index, const char* id) override;
    int SetOutcomeIds(const QNL_stringArray& newIds) override;
    const QNL_idArray* GetOutcomeIds() const override { return &ids; }
    int SetNumberOfOutcomes(const QNL_stringArray& newIds) override;
    int SetNumberOfOutcomes(int count) override;

    using QNL_nodeDefinition::GetDefinition;
    using QNL_nodeDefinition::SetDefinition;
    // The expanded table (recomputed when stale).
    int GetDefinition(QNL_doubleArray& out) const override;
    int GetDefinition(QNL_Dmatrix** out) override;
    // The parameters; the matrix must have the parameters' shape.
    int SetDefinition(const QNL_Dmatrix& matrix) override;
    int SetDefinition(const QNL_doubleArray& values) override;

    // 0 "Ok", -2 "Inappropirate Dmatrix size", -4 for a negative entry, a broken
    // distinguished column or a column that does not sum to 1; the message is copied into
    // the buffer (at most size characters, terminated).
    int CheckParameters(const QNL_Dmatrix& candidate, char* message, int size) const;
    // Whether column c is a parent's distinguished column (the unit column at UnitOutcome).
    virtual bool IsDistinguishedColumn(int c) const = 0;

    // Expands the parameters into the table and marks it up to date.
    virtual int CalculateCpt() = 0;
    virtual int FitParametersToCpt() = 0;
    // The expanded table, recomputed first when stale.
    const QNL_Dmatrix& GetCpt() const;
    QNL_Dmatrix* GetParameters() { return &params; }
    const QNL_Dmatrix& GetParameters() const { return params; }
    bool IsCptCurrent() const { return (flags & FLAG_CPT_CURRENT) != 0; }
    // The parameters changed outside the definition's own operations.
    void MarkStale() { flags &= ~FLAG_CPT_CURRENT; }

    // Parents owning a block of parameter columns, in parent order, and their block sizes.
    int GetNumberOfBlocks() const { return static_cast<int>(blockParents.size()); }
    int GetBlockParent(int block) const { return blockParents[static_cast<std::size_t>(block)]; }
    int GetBlockSize(int block) const { return blockSizes[static_cast<std::size_t>(block)]; }
    // First column of a block; the leak column for block == GetNumberOfBlocks().
    int ColumnOffset(int block) const;
    int GetNumberOfColumns() const {
        return params.GetNumberOfDimensions() == 2 ? params.GetSizeOfDimension(0) : 0;
    }

protected:
    static constexpr unsigned FLAG_CPT_CURRENT = 1;

    // Cumulative form of a column of n entries, from the last backwards; negative partial
    // sums become 0.0. And back to point form.
    static void ToCumulative(double* column, int n);
    static void ToPoint(double* column, int n);

    double* Column(int c) {
        return params.GetItems().Items() + static_cast<std::size_t>(c) * ids.GetCount();
    }
    const double* Column(int c) const {
        return params.GetItems().Items() + static_cast<std::size_t>(c) * ids.GetCount();
    }
    void SetUnitColumn(int c, int outcome);
    // The parameters as (columns x n), every cell from `cells` (already of that size).
    int StoreParameters(int columns, const std::vector<double>& cells);
    std::vector<double> ParameterCells() const;
    // Opens `count` zero columns at `at`, removes them, or permutes a block's columns (block
    // position j takes the old column at at + order[j]).
    int InsertColumns(int at, int count);
    int RemoveColumns(int at, int count);
    int ReorderColumns(int at, const QNL_intArray& order);

    // The block of a parent, -1 when it owns none. The record follows a definition that was
    // moved to other handles when the parent list still fits it.
    int BlockOf(int parent);
    // Where a new block for the parent goes: the number of block parents listed before it.
    int BlockPositionFor(int parent) const;
    // The parents of the node in the new order, keeping only block owners: the new block order.
    std::vector<int> BlockOrderAfterReorder() const;
    // -567 for an invalid definition, -2 for a handle naming no node, -2 for a utility parent.
    int CheckParentEdit(int parent) const;

    // A parent with a type that may own a block; its outcome count; -2 otherwise.
    int ParentOutcomes(int parent, int& outcomes) const;

    // The outcome of a distinguished column's 1.0, for parameters with n outcomes.
    virtual int UnitOutcome(int n) const = 0;
    // After the fresh leak is stored: marks the table stale and adds the node's parents.
    int AddNetworkParents();
    // The checks before a parent gets a block: a nonzero code, or 0 with its outcome count
    // (0 when it owns no block).
    int CheckParentAdd(int parent, int& outcomes);
    // Removes a block's columns and entries and, through EraseBlockData, the model's own.
    int DropBlock(int block);
    virtual void EraseBlockData(int block) = 0;
    // Moves the blocks to the order of the reordered parents. `stage` gets the new block
    // order and builds the model's own per-block data in it (it may throw); `commit`
    // installs that data once the parameters are stored.
    int ReorderBlocks(const QNL_intArray& order,
                      const std::function<void(const std::vector<int>&)>& stage,
                      const std::function<void()>& commit);
    // Assign's frame: the accepted source types, the outcome ids (defaulted when the source
    // gives none and `defaultIds`), the parent blocks, then `adopt(type)` takes what the
    // model can use from the source.
    int AssignFrom(const QNL_nodeDefinition& source, bool defaultIds,
                   const std::function<int(int)>& adopt);

    // The first step of ReorderOutcomes: the ids and the parameters' outcome dimension (new
    // outcome i is old order[i]); -567, -2 for no permutation, -42, nothing changed on failure.
    int ReorderParameterOutcomes(const QNL_intArray& order);

    // The rebuild for the node's parents after the outcome set changed.
    virtual int RebuildParameters() = 0;
    // Model-specific repairs after the own outcomes changed (an insertion or removal at the
    // index, a new count), made before the network hears of the change: it reads the
    // expanded table for the evidence the node implies.
    virtual void AfterOutcomeInserted(int) {}
    virtual void AfterOutcomeRemoved(int) {}
    virtual void AfterOutcomeCountChange() {}
    int Notify(int kind);
    int Finish() {
        MarkStale();
        CheckConsistency(0);
        return 0;
    }

    QNL_idArray ids{false};
    mutable QNL_Dmatrix cpt;
    QNL_Dmatrix params;
    mutable unsigned flags = 0;
    std::vector<int> blockParents;
    std::vector<int> blockSizes;
};
