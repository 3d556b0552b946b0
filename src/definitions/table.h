#pragma once

#include "definitions/parent_table.h"
#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/int_array.h"
#include "model/node_definition.h"

// The definition of a utility node: one utility for every combination of its parents'
// outcomes. The table has one dimension per parent that owns one (decision, probability,
// truth-table, noisy-MAX and noisy-adder parents, in parent order) and a last dimension of
// size 1; a utility node has no outcomes of its own. A cell holding the undefined marker
// (2 x DBL_MIN) is never rescaled and counts for neither the minimum nor the maximum.
class QNL_table : public QNL_nodeDefinition {
public:
    QNL_table(int handle, QNL_network* network);
    // A full copy bound to the same node.
    QNL_table(const QNL_table& other);
    QNL_table& operator=(const QNL_table&) = delete;
    ~QNL_table() override = default;

    int CleanUp(int deep = 1) override;
    // Valid while the table is empty or shaped as its dimension parents say.
    int CheckConsistency(int deep = 1) override;
    // A utility table is always ready.
    int CheckReadiness(int deep = 1) override;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_TABLE; }
    const char* GetTypeName() const override { return "TABLE"; }

    int AddParent(int parent) override { return Settle(cells.AddParent(*this, parent)); }
    int RemoveParent(int parent) override { return Settle(cells.RemoveParent(*this, parent)); }
    int AbsorbParentEvidence(int parent) override {
        return Settle(cells.AbsorbParentEvidence(*this, parent));
    }
    int MarginalizeParent(int parent) override {
        return Settle(cells.MarginalizeParent(*this, parent));
    }
    // The new outcome's utilities are 0.0.
    int InsertParentOutcome(int parent, int index) override {
        return Settle(cells.OpenParentOutcome(*this, parent, index));
    }
    int RemoveParentOutcome(int parent, int index) override {
        return Settle(cells.RemoveParentOutcome(*this, parent, index));
    }
    int ReorderParentOutcomes(int parent, const QNL_intArray& order) override;
    int ReorderParents(const QNL_intArray& order) override {
        return cells.ReorderParents(*this, order);
    }
    int GetSize() const override { return cells.Matrix().GetSize(); }
    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    int AddParents() override;
    int Assign(const QNL_nodeDefinition& source) override;
    int RemoveInvalidParents() override;

    using QNL_nodeDefinition::GetDefinition;
    using QNL_nodeDefinition::SetDefinition;
    // A copy of the utilities in storage order.
    int GetDefinition(QNL_doubleArray& out) const override { return cells.CopyValues(out); }
    int GetDefinition(QNL_Dmatrix** out) override { return cells.Expose(out); }
    // The matrix must have exactly the table's dimensions.
    int SetDefinition(const QNL_Dmatrix& matrix) override {
        return cells.AssignMatrix(*this, matrix);
    }
    // The array must hold exactly the number of utilities (as its count or its size).
    int SetDefinition(const QNL_doubleArray& values) override {
        return cells.AssignValues(*this, values);
    }

    // Sets every utility, then checks the definition and tells the network.
    int SetUtilities(const QNL_doubleArray& values);
    // Smallest and largest defined utility; the undefined marker when there is none.
    double GetMinimumUtility() const;
    double GetMaximumUtility() const;
    // Maps the reference range (widened to hold every defined utility; taken from the table
    // when its ends are equal) linearly onto the target range.
    int RescaleUtilities(double referenceLow, double referenceHigh, double targetLow,
                         double targetHigh);

    // The table itself, one cell per combination of the parents' outcomes.
    const QNL_Dmatrix& GetTable() const { return cells.Matrix(); }
    // Handles of the parents that own a table dimension, in dimension order.
    const QNL_intArray& GetDimensionParents() const { return cells.Owners(); }

private:
    int Notify(int kind);
    // A parent edit's outcome as the operation's result; the definition is checked again
    // only when the edit changed the table.
    int Settle(int outcome);
    int LastDimension() const { return cells.LastDimension(); }

    // Dimension owners derived again from the parent list are taken only when the parents'
    // outcome counts are the dimension sizes.
    quarn::detail::ParentTable cells{true};
};
