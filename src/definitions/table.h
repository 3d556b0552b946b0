#pragma once

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

    int AddParent(int parent) override;
    int RemoveParent(int parent) override;
    int AbsorbParentEvidence(int parent) override;
    int MarginalizeParent(int parent) override;
    // The new outcome's utilities are 0.0.
    int InsertParentOutcome(int parent, int index) override;
    int RemoveParentOutcome(int parent, int index) override;
    int ReorderParentOutcomes(int parent, const QNL_intArray& order) override;
    int ReorderParents(const QNL_intArray& order) override;
    int GetSize() const override { return utilities.GetSize(); }
    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    int AddParents() override;
    int Assign(const QNL_nodeDefinition& source) override;
    int RemoveInvalidParents() override;

    using QNL_nodeDefinition::GetDefinition;
    using QNL_nodeDefinition::SetDefinition;
    // A copy of the utilities in storage order.
    int GetDefinition(QNL_doubleArray& out) const override;
    int GetDefinition(QNL_Dmatrix** out) override;
    // The matrix must have exactly the table's dimensions.
    int SetDefinition(const QNL_Dmatrix& matrix) override;
    // The array must hold exactly the number of utilities (as its count or its size).
    int SetDefinition(const QNL_doubleArray& values) override;

    // Sets every utility, then checks the definition and tells the network.
    int SetUtilities(const QNL_doubleArray& values);
    // Smallest and largest defined utility; the undefined marker when there is none.
    double GetMinimumUtility() const;
    double GetMaximumUtility() const;
    // Maps the reference range (widened to hold every defined utility; taken from the table
    // when its ends are equal) linearly onto the target range.
    int RescaleUtilities(double referenceLow, double referenceHigh, double targetLow,
                         double targetHigh);

    const QNL_Dmatrix& GetTable() const { return utilities; }
    // Handles of the parents that own a table dimension, in dimension order.
    const QNL_intArray& GetDimensionParents() const { return dimensionParents; }

private:
    int Notify(int kind);
    int LastDimension() const { return utilities.GetNumberOfDimensions() - 1; }
    // The parent's dimension, -1 when it owns none; resynchronises the record first.
    int DimensionOf(int parent);
    // Brings the record of dimension parents back in line with the parent list when the
    // definition was moved to other handles; `adding` is a parent that owns no dimension yet.
    void SyncDimensionParents(int adding = -1);
    // Removes the parent's dimension keeping the slice of one of its outcomes, or summing it
    // out with weights when they are given.
    int DropDimension(int dim, int outcome, const QNL_doubleArray* weights);

    QNL_Dmatrix utilities;
    // The parents in dimension order that own a dimension, recorded so that a parent whose
    // type has changed since it was added still finds its own dimension.
    QNL_intArray dimensionParents;
};
