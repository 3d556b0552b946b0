#pragma once

#include "definitions/parent_table.h"
#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/int_array.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <functional>

// The definition of an ordinary chance node: a conditional probability table over the node's
// outcomes for every combination of its parents' outcomes. It owns the outcome identifiers
// and the table; the table has one dimension per parent that owns one (decision, probability,
// truth-table, noisy-MAX and noisy-adder parents, in parent order) and the node's own
// outcomes last and fastest. Valid while the identifiers are valid and agree with the
// outcome count and the last dimension.
class QNL_cpt : public QNL_nodeDefinition {
public:
    // Readiness bounds of a column sum, both inclusive.
    static constexpr double MIN_COLUMN_SUM = 0.999995;
    static constexpr double MAX_COLUMN_SUM = 1.000005;

    QNL_cpt(int handle, QNL_network* network);
    // A full copy bound to the same node.
    QNL_cpt(const QNL_cpt& other);
    QNL_cpt& operator=(const QNL_cpt&) = delete;
    ~QNL_cpt() override = default;

    int CleanUp(int deep = 1) override;
    int CheckConsistency(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_CPT; }
    const char* GetTypeName() const override { return "CPT"; }

    int AddParent(int parent) override;
    int RemoveParent(int parent) override { return Settle(cells.RemoveParent(*this, parent)); }
    int AbsorbParentEvidence(int parent) override {
        return Settle(cells.AbsorbParentEvidence(*this, parent));
    }
    int MarginalizeParent(int parent) override {
        return Settle(cells.MarginalizeParent(*this, parent));
    }
    int InsertParentOutcome(int parent, int index) override;
    int RemoveParentOutcome(int parent, int index) override {
        return Settle(cells.RemoveParentOutcome(*this, parent, index));
    }
    int ReorderParentOutcomes(int parent, const QNL_intArray& order) override {
        return Settle(cells.ReorderParentOutcomes(*this, parent, order));
    }
    int ReorderParents(const QNL_intArray& order) override {
        return cells.ReorderParents(*this, order);
    }
    int GetSize() const override { return cells.Matrix().GetSize(); }
    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    int AddParents() override;
    int Assign(const QNL_nodeDefinition& source) override;
    int RemoveInvalidParents() override;

    int AddOutcome(const char* id) override;
    int InsertOutcome(int index, const char* id) override;
    int RemoveOutcome(int index) override;
    int GetNumberOfOutcomes() const override { return outcomeCount; }
    int RenameOutcome(int index, const char* id) override;
    int SetOutcomeIds(const QNL_stringArray& newIds) override;
    const QNL_idArray* GetOutcomeIds() const override { return &ids; }
    int SetNumberOfOutcomes(const QNL_stringArray& newIds) override;
    int SetNumberOfOutcomes(int count) override;
    int ReorderOutcomes(const QNL_intArray& order) override;
    int ChangeOutcomes(const QNL_stringArray& newIds, const QNL_intArray& map) override;

    using QNL_nodeDefinition::GetDefinition;
    using QNL_nodeDefinition::SetDefinition;
    // A copy of the table's values in storage order.
    int GetDefinition(QNL_doubleArray& out) const override { return cells.CopyValues(out); }
    int GetDefinition(QNL_Dmatrix** out) override { return cells.Expose(out); }
    // The matrix must have exactly the table's dimensions.
    int SetDefinition(const QNL_Dmatrix& matrix) override;
    // The array must hold exactly the table's number of values (as its count or its size).
    int SetDefinition(const QNL_doubleArray& values) override;
    void CopyTableTo(QNL_nodeDefinition& target) const override;

    // Sets every value, then checks consistency and readiness and tells the network.
    int SetProbabilities(const QNL_doubleArray& values);

    // Number of columns: one per combination of the outcomes of the dimension parents.
    int GetNumberOfColumns() const;
    const QNL_Dmatrix& GetTable() const { return cells.Matrix(); }
    // Handles of the parents that own a table dimension, in dimension order.
    const QNL_intArray& GetDimensionParents() const { return cells.Owners(); }

protected:
    // The table a rebuild starts from: uniform columns.
    virtual void FillFreshColumns(QNL_Dmatrix& fresh) const;
    // A new parent outcome opens its columns with 0.0 (the slice at `index` of dimension
    // `dim`); they become uniform. Only they are visited, so adding a parent's outcomes one
    // by one stays linear in their count.
    virtual void FillOpenedColumns(int dim, int index);
    // Fills outcomeCount, ids and the table from a finished rebuild; only the identifier copy
    // can fail (-42), and then nothing changes.
    int Commit(QNL_idArray& newIds, quarn::detail::ParentTable& fresh);
    int Notify(int kind);

    int outcomeCount = 0;
    QNL_idArray ids{false};
    // Dimension owners derived again from the parent list are taken without comparing the
    // parents' outcome counts with the dimension sizes.
    quarn::detail::ParentTable cells{false};

private:
    // Builds identifiers (padded to two) and a fresh table for the parents of node `node` of
    // `net`; parents that cannot be added are logged and skipped.
    int Rebuild(QNL_network* net, int node, QNL_idArray& newIds,
                quarn::detail::ParentTable& fresh) const;
    // Rebuilds the table for new identifiers and tells the network the shape changed.
    int Reshape(QNL_idArray& newIds);
    // A parent edit's outcome as the operation's result; the definition is checked again
    // even when the edit found nothing to change.
    int Settle(int outcome);
    int LastDimension() const { return cells.LastDimension(); }
    int Convert(const QNL_nodeDefinition& source, QNL_idArray& newIds,
                const std::function<void(QNL_Dmatrix&)>& fill);
    int ConvertFromTable(const QNL_nodeDefinition& source);
    int ConvertFromUtilities(const QNL_nodeDefinition& source);
};
