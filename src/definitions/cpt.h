#pragma once

#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/int_array.h"
#include "model/node_definition.h"
#include "model/string_array.h"

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
    int RemoveParent(int parent) override;
    int AbsorbParentEvidence(int parent) override;
    int MarginalizeParent(int parent) override;
    int InsertParentOutcome(int parent, int index) override;
    int RemoveParentOutcome(int parent, int index) override;
    int ReorderParentOutcomes(int parent, const QNL_intArray& order) override;
    int ReorderParents(const QNL_intArray& order) override;
    int GetSize() const override { return table.GetSize(); }
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
    int GetDefinition(QNL_doubleArray& out) const override;
    int GetDefinition(QNL_Dmatrix** out) override;
    // The matrix must have exactly the table's dimensions.
    int SetDefinition(const QNL_Dmatrix& matrix) override;
    // The array must hold exactly the table's number of values (as its count or its size).
    int SetDefinition(const QNL_doubleArray& values) override;
    void CopyTableTo(QNL_nodeDefinition& target) const override;

    // Sets every value, then checks consistency and readiness and tells the network.
    int SetProbabilities(const QNL_doubleArray& values);

    // Number of columns: one per combination of the outcomes of the dimension parents.
    int GetNumberOfColumns() const;
    const QNL_Dmatrix& GetTable() const { return table; }
    // Handles of the parents that own a table dimension, in dimension order.
    const QNL_intArray& GetDimensionParents() const { return dimensionParents; }

protected:
    // The table a rebuild starts from: uniform columns.
    virtual void FillFreshColumns(QNL_Dmatrix& fresh) const;
    // The parent operation's part shared by both tables: the slice of the parent's new
    // outcome opened with 0.0. dimension is set to the parent's dimension, -1 for none.
    int OpenParentOutcome(int parent, int index, int& dimension);
    // Fills outcomeCount, ids, table and dimension parents from a finished rebuild; only the
    // identifier copy can fail (-42), and then nothing changes.
    int Commit(QNL_idArray& newIds, QNL_Dmatrix& newTable, QNL_intArray& newOwners);
    int Notify(int kind);

    int outcomeCount = 0;
    QNL_idArray ids{false};
    QNL_Dmatrix table;
    // The parents in dimension order that own a dimension. Recorded rather than derived
    // from the parents' current types, so a parent whose type has changed since it was
    // added still finds its own dimension.
    QNL_intArray dimensionParents;

private:
    // Builds identifiers (padded to two), a fresh table and its dimension parents for the
    // parents of node `node` of `net`; parents that cannot be added are logged and skipped.
    int Rebuild(QNL_network* net, int node, QNL_idArray& newIds, QNL_Dmatrix& newTable,
                QNL_intArray& newOwners) const;
    // -2 for a handle that names no node, else 0.
    int CheckParentHandle(int parent) const;
    // The parent's dimension, -1 when it owns none; resynchronises the record first.
    int DimensionOf(int parent);
    // Brings the record of dimension parents back in line with the parent list when the
    // definition was moved to other handles; `adding` is a parent that owns no dimension yet.
    void SyncDimensionParents(int adding = -1);
    int LastDimension() const { return table.GetNumberOfDimensions() - 1; }
    int ConvertFromTable(const QNL_nodeDefinition& source);
};
