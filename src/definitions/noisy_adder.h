#pragma once

#include "definitions/ci_definition.h"

#include <vector>

// The noisy-adder model: the node has a distinguished state (not necessarily its last
// outcome) and every parent a distinguished outcome whose column is the unit column at the
// node's distinguished state; columns stay in the parent's own outcome order. The table is
// the weighted average of the active parents' columns and the leak, or under the
// single-fault rule the one active parent's column (the leak when none or several are active).
// The combination functions of a noisy-adder node.
constexpr int QNL_NOISYADDER_AVERAGE = 0;
constexpr int QNL_NOISYADDER_SINGLEFAULT = 1;

class QNL_noisyAdder : public QNL_ciDefinition {
public:
    QNL_noisyAdder(int handle, QNL_network* network);
    QNL_noisyAdder(const QNL_noisyAdder& other);
    QNL_noisyAdder& operator=(const QNL_noisyAdder&) = delete;
    ~QNL_noisyAdder() override = default;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_NOISY_ADDER; }
    const char* GetTypeName() const override { return "NOISY_ADDER"; }

    int AddParent(int parent) override;
    int AbsorbParentEvidence(int) override { return -51; }
    int MarginalizeParent(int) override { return -51; }
    int InsertParentOutcome(int parent, int index) override;
    int RemoveParentOutcome(int parent, int index) override;
    int ReorderParentOutcomes(int parent, const QNL_intArray& order) override;
    int ReorderParents(const QNL_intArray& order) override;
    int AddParents() override;
    int Assign(const QNL_nodeDefinition& source) override;
    int ReorderOutcomes(const QNL_intArray& order) override;
    void CopyTableTo(QNL_nodeDefinition& target) const override;

    int CalculateCpt() override;
    int FitParametersToCpt() override { return -2; }
    // The expanded table can be written in place; one that is not a distribution is not
    // ready until the parameters are expanded again.
    int CheckReadiness(int deep = 1) override;

    int GetFunction() const { return function; }
    // Stored unchecked; an unknown code makes the expansion fail.
    void SetFunction(int code);
    int GetDistinguishedState() const { return distinguished; }
    int SetDistinguishedState(int state);
    int GetParentDistinguishedState(int parentIndex) const;
    int SetParentDistinguishedState(int parentIndex, int outcome);
    // One weight per parent, then the leak's.
    const std::vector<double>& GetWeights() const { return weights; }
    int SetWeights(const std::vector<double>& values);

protected:
    int RebuildParameters() override { return AddParents(); }
    int UnitOutcome(int) const override { return distinguished; }
    void EraseBlockData(int block) override;
    void AfterOutcomeInserted(int index) override;
    void AfterOutcomeRemoved(int index) override;
    void AfterOutcomeCountChange() override;

private:
    bool IsDistinguishedColumn(int c) const override;
    void ResetDistinguishedColumns();

    int distinguished = 1;
    std::vector<int> parentDistinguished;
    std::vector<double> weights{1.0};
    int function = QNL_NOISYADDER_AVERAGE;
};
