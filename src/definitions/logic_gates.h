#pragma once

#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/int_array.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <vector>

// What the DeMorgan and CAST gates share: a node with exactly the outcomes "True" and "False"
// whose parents are gates of the same class, one entry per parent in parent order, and a
// table (one dimension of 2 per parent, the node's own last) computed from the entries and
// one number of the node whenever either changes. A parent's coordinate 0 is its "True".
class QNL_twoStateGate : public QNL_nodeDefinition {
public:
    QNL_twoStateGate(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {}
    QNL_twoStateGate(const QNL_twoStateGate& other) = default;
    QNL_twoStateGate& operator=(const QNL_twoStateGate&) = delete;
    ~QNL_twoStateGate() override = default;

    int CleanUp(int deep = 1) override;
    // The table can be written in place; one that is not a distribution is not ready.
    int CheckReadiness(int deep = 1) override;

    int AddParent(int parent) override;
    int RemoveParent(int parent) override;
    int ReorderParents(const QNL_intArray& order) override;
    int GetSize() const override { return table.GetSize(); }
    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    int AddParents() override;
    int RemoveInvalidParents() override;
    int GetNumberOfOutcomes() const override { return 2; }
    const QNL_idArray* GetOutcomeIds() const override;

    using QNL_nodeDefinition::GetDefinition;
    int GetDefinition(QNL_doubleArray& out) const override;
    int GetDefinition(QNL_Dmatrix** out) override;

    const QNL_Dmatrix& GetTable() const { return table; }
    int GetNumberOfParentEntries() const { return entries; }

protected:
    // The entries of the class for a parent added at a position, removed, permuted (new i =
    // old order[i]), or all rebuilt for `count` parents.
    virtual int InsertEntry(int position) = 0;
    virtual void DeleteEntry(int position) = 0;
    virtual int ReorderEntries(const QNL_intArray& order) = 0;
    virtual int ResetEntries(int count) = 0;
    // P(True) for one column, given every parent's coordinate.
    virtual double TrueProbability(const std::vector<int>& x) const = 0;

    // Shapes the table for the entries and fills every column; -42 when it cannot be had.
    int Recompute();
    // After a setter: the table again, and the network told that the values changed.
    int Changed();
    int AssignGate(const QNL_twoStateGate& source);

    QNL_Dmatrix table;
    int entries = 0;
};

// The kinds of a DeMorgan node's parents.
constexpr int QNL_DEMORGAN_INHIBITOR = 0;
constexpr int QNL_DEMORGAN_REQUIREMENT = 1;
constexpr int QNL_DEMORGAN_CAUSE = 2;
constexpr int QNL_DEMORGAN_BARRIER = 3;

// DeMorgan gate: causes and barriers raise P(True) from the prior belief by their weights,
// inhibitors and requirements lower it.
class QNL_demorgan : public QNL_twoStateGate {
public:
    QNL_demorgan(int handle, QNL_network* network);
    QNL_demorgan(const QNL_demorgan& other) = default;
    ~QNL_demorgan() override = default;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_DEMORGAN; }
    const char* GetTypeName() const override { return "DEMORGAN"; }
    int Assign(const QNL_nodeDefinition& source) override;
    void CopyTableTo(QNL_nodeDefinition& target) const override;

    // -2 for another count or a type outside 0..3.
    int SetParentTypes(const QNL_intArray& types);
    // -2 for another count or a weight outside [0, 1].
    int SetParentWeights(const QNL_doubleArray& weights);
    int SetPriorBelief(double p);
    int GetParentType(int parentIndex) const;
    const QNL_intArray& GetParentTypes() const { return types; }
    const QNL_doubleArray& GetParentWeights() const { return weights; }
    double GetPriorBelief() const { return prior; }

protected:
    int InsertEntry(int position) override;
    void DeleteEntry(int position) override;
    int ReorderEntries(const QNL_intArray& order) override;
    int ResetEntries(int count) override;
    double TrueProbability(const std::vector<int>& x) const override;

private:
    QNL_intArray types;
    QNL_doubleArray weights;
    double prior = 0.5;
};

// CAST gate: each parent pushes P(True) up or down from the baseline by the positive or
// negative strength of its current outcome.
class QNL_cast : public QNL_twoStateGate {
public:
    QNL_cast(int handle, QNL_network* network);
    QNL_cast(const QNL_cast& other) = default;
    ~QNL_cast() override = default;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_CAST; }
    const char* GetTypeName() const override { return "CAST"; }
    int Assign(const QNL_nodeDefinition& source) override;
    void CopyTableTo(QNL_nodeDefinition& target) const override;

    // -2 for another count or a weight outside [-1, 1].
    int SetPositiveWeights(const QNL_doubleArray& values);
    int SetNegativeWeights(const QNL_doubleArray& values);
    int SetBaseline(double b);
    const QNL_doubleArray& GetPositiveWeights() const { return positive; }
    const QNL_doubleArray& GetNegativeWeights() const { return negative; }
    double GetBaseline() const { return baseline; }

protected:
    int InsertEntry(int position) override;
    void DeleteEntry(int position) override;
    int ReorderEntries(const QNL_intArray& order) override;
    int ResetEntries(int count) override;
    double TrueProbability(const std::vector<int>& x) const override;

private:
    int SetWeights(QNL_doubleArray& target, const QNL_doubleArray& values);

    QNL_doubleArray positive;
    QNL_doubleArray negative;
    double baseline = 0.5;
};
