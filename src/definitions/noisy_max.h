#pragma once

#include "definitions/ci_definition.h"

#include <vector>

// The noisy-MAX model: the node's outcomes run from the highest to the lowest (the last one is
// distinguished). Each parent owns a block of parameter columns whose positions follow the
// parent's strength order (position j holds the column of parent outcome order[j]); the last
// column of a block is the unit column at the node's last outcome. The expanded table is the
// product, in cumulative form, of the leak column and the parents' active columns.
class QNL_noisyMAX : public QNL_ciDefinition {
public:
    // Fitting: initial step 1/n, smallest step, and the cap on the passes.
    static constexpr double FIT_MIN_STEP = 0.0001;
    static constexpr int FIT_MAX_PASSES = 100000;

    QNL_noisyMAX(int handle, QNL_network* network);
    QNL_noisyMAX(const QNL_noisyMAX& other);
    QNL_noisyMAX& operator=(const QNL_noisyMAX&) = delete;
    ~QNL_noisyMAX() override = default;

    int CleanUp(int deep = 1) override;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_NOISY_MAX; }
    const char* GetTypeName() const override { return "NOISY_MAX"; }

    int AddParent(int parent) override;
    int AbsorbParentEvidence(int parent) override;
    int MarginalizeParent(int parent) override;
    int InsertParentOutcome(int parent, int index) override;
    int RemoveParentOutcome(int parent, int index) override;
    int ReorderParentOutcomes(int parent, const QNL_intArray& order) override;
    int ReorderParents(const QNL_intArray& order) override;
    int AddParents() override;
    int Assign(const QNL_nodeDefinition& source) override;
    int ReorderOutcomes(const QNL_intArray& order) override;
    void CopyTableTo(QNL_nodeDefinition& target) const override;

    int CalculateCpt() override;
    int FitParametersToCpt() override;

    // First column of a parent's block by parent index; -2 out of range.
    int GetParentColumnOffset(int parentIndex) const;
    // The strength order of a parent (by block index); null out of range.
    const QNL_intArray* GetParentOutcomeStrengths(int parentIndex) const;
    // The order must be a permutation of the parent's outcomes; columns do not move.
    int SetParentOutcomeStrengths(int parentIndex, const QNL_intArray& order);
    // Moves block position j to position order[j] and takes the order as strengths.
    int ApplyParentStrengthOrder(int parentIndex, const QNL_intArray& order);
    // The parameters with every non-leak, non-distinguished column folded with the leak.
    int GetCompoundParameters(QNL_Dmatrix& out) const;
    int GetCompoundParameters(QNL_doubleArray& out) const;
    int SetCompoundParameters(const QNL_Dmatrix& compound);
    int SetCompoundParameters(const QNL_doubleArray& values);

    // Whether column c is the last of a parent's block.
    bool IsDistinguishedColumn(int c) const override;

protected:
    int RebuildParameters() override { return AddParents(); }
    void AfterOutcomeInserted(int) override { ResetDistinguishedColumns(); }
    void AfterOutcomeRemoved(int) override { ResetDistinguishedColumns(); }
    int UnitOutcome(int n) const override { return n - 1; }
    void EraseBlockData(int block) override;

private:
    void ResetDistinguishedColumns();
    // Folds the parent's block into the leak with weights over block positions (one
    // weight per position) and drops the block.
    int FoldParentIntoLeak(int block, const std::vector<double>& weights);
    int Finished();
    // Squared distance to the target over the table, for the fit.
    double FitDistance(const std::vector<double>& cum, const std::vector<double>& target) const;

    std::vector<QNL_intArray> strengths;
};
