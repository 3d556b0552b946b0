#pragma once

#include "equations/expr_node.h"
#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/int_array.h"
#include "model/node_definition.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QNL_stringArray;

// A table of expression trees laid out like a QNL_Dmatrix (last dimension fastest). It owns
// every tree it holds; copies are deep, so no two matrices ever share a tree. A cell may be
// empty (null) only while the matrix is being filled.
class QNL_expressionMatrix {
public:
    QNL_expressionMatrix() = default;
    // Deep copy; throws std::bad_alloc when memory runs out.
    QNL_expressionMatrix(const QNL_expressionMatrix& other);
    QNL_expressionMatrix& operator=(const QNL_expressionMatrix& other);
    QNL_expressionMatrix(QNL_expressionMatrix&&) noexcept = default;
    QNL_expressionMatrix& operator=(QNL_expressionMatrix&&) noexcept = default;
    ~QNL_expressionMatrix() = default;

    // The shape with every cell empty; -2 for a size below 1, -42 without memory.
    int Setup(const QNL_intArray& sizes);
    void CleanUp();

    // Shape of the table: dimension sizes and the strides that index it.
    int GetNumberOfDimensions() const { return dimensions.GetCount(); }
    int GetSizeOfDimension(int dim) const { return dimensions[dim]; }
    int GetMultiplier(int dim) const { return multipliers[dim]; }
    const QNL_intArray& GetDimensions() const { return dimensions; }
    int GetSize() const { return static_cast<int>(cells.size()); }

    // The tree of a cell; null for an empty cell or an index outside the matrix.
    const QNL_exprNode* GetExpression(int index) const;
    QNL_exprNode* GetExpression(int index);
    // Takes ownership of node, deleting the tree it replaces; -2 for an index outside the
    // matrix, in which case the caller keeps node.
    int SetExpression(int index, QNL_exprNode* node);

    // Runs a matrix operation on a QNL_Dmatrix of this shape whose cells hold the cell
    // indices 0, 1, 2, ... and rebuilds the trees from the result: a cell keeps the tree of
    // the index it holds (a copy when that index appears more than once), a cell holding no
    // valid index (for instance a negative fill) is empty, and trees whose index disappeared
    // are deleted. The matrix is unchanged when the operation or a copy fails.
    int Reshape(const std::function<int(QNL_Dmatrix&)>& operation);

private:
    std::vector<std::unique_ptr<QNL_exprNode>> cells;
    QNL_intArray dimensions;
    QNL_intArray multipliers;
};

// The definition of a multi-attribute utility node. Its parents are decisions (LIST), whose
// choices select a configuration, and utility nodes (TABLE or MAU), whose utilities it
// combines: for every configuration either one weight per utility parent (a weighted sum) or,
// when expressions are stored, one expression over the utility parents' identifiers.
// The weights have one dimension per decision parent (its choice count, in parent order) and
// a last dimension over the utility parents (in parent order); they are empty while there is
// no utility parent. The expressions, when present, are shaped by the decision parents alone,
// or a single cell without decision parents. It has no outcomes of its own.
class QNL_mau : public QNL_nodeDefinition {
public:
    QNL_mau(int handle, QNL_network* network);
    // A full copy bound to the same node; the expressions are copied tree by tree.
    QNL_mau(const QNL_mau& other);
    QNL_mau& operator=(const QNL_mau&) = delete;
    ~QNL_mau() override = default;

    int CleanUp(int deep = 1) override;
    // Valid while the weights and the expressions are shaped as the recorded parents say.
    int CheckConsistency(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_MAU; }
    const char* GetTypeName() const override { return "MAU"; }

    // Decisions add a dimension (weights and expressions replicated along it); utility nodes
    // add a weight 1.0 and are added to every stored expression (a constant 0 becomes the
    // identifier, any other expression e becomes e + identifier); any other type is refused
    // with -2.
    int AddParent(int parent) override;
    // An expression that names a removed utility parent becomes the sum of the other
    // identifiers it names, in ascending order (the constant 0 when there is none), and
    // utility parents that no expression names any more lose their arcs.
    int RemoveParent(int parent) override;
    // A new choice gets weights 1.0, and with expressions the sum of the utility parents.
    int InsertParentOutcome(int parent, int index) override;
    int RemoveParentOutcome(int parent, int index) override;
    int ReorderParentOutcomes(int parent, const QNL_intArray& order) override;
    int ReorderParents(const QNL_intArray& order) override;
    void ParentIdChanged(int parent, const char* oldId, const char* newId) override;
    int GetSize() const override { return weights.GetSize(); }
    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    int AddParents() override;
    int Assign(const QNL_nodeDefinition& source) override;
    // Removes the arcs from parents that AddParent would refuse.
    int RemoveInvalidParents() override;

    using QNL_nodeDefinition::GetDefinition;
    using QNL_nodeDefinition::SetDefinition;
    // A copy of the weights in storage order.
    int GetDefinition(QNL_doubleArray& out) const override;
    int GetDefinition(QNL_Dmatrix** out) override;
    // The matrix must have exactly the weights' dimensions.
    int SetDefinition(const QNL_Dmatrix& matrix) override;
    // The array must hold exactly the number of weights (as its count or its size).
    int SetDefinition(const QNL_doubleArray& values) override;

    // An empty expression matrix of the shape SetExpressions expects.
    int InitExpressionMatrix(QNL_expressionMatrix& out) const;
    // Null drops the expressions (the weights apply again). Otherwise every expression must
    // name only utility or MAU nodes that are not this node or its descendants, and call no
    // distribution; then the arcs from utility parents are replaced by arcs from the nodes
    // the expressions name and a copy of the trees is stored. A refusal gives -2 with the
    // reason in error and changes nothing.
    int SetExpressions(const QNL_expressionMatrix* matrix, std::string& error);
    // The same from texts of the equation language, one per cell in storage order; a text
    // that does not parse is refused with the parser's message and position.
    int SetExpressions(const QNL_stringArray& texts, std::string& error);
    // The stored expressions, or null when the weights apply.
    const QNL_expressionMatrix* GetExpressions() const { return expressions.get(); }

    // The weight of each utility parent, per combination of the decision parents.
    const QNL_Dmatrix& GetWeights() const { return weights; }
    // Handles of the decision and of the utility parents, each in parent order.
    const QNL_intArray& GetDecisionParents() const { return decisionParents; }
    // The choice count of each decision parent, as the weights and expressions are shaped.
    const QNL_intArray& GetDecisionSizes() const { return decisionSizes; }
    const QNL_intArray& GetUtilityParents() const { return utilityParents; }

private:
    int Notify(int kind);
    // The weights for the given decision sizes and utility count: one weight 1.0 per cell.
    static int FreshWeights(const QNL_intArray& decisionSizes, int utilityCount, QNL_Dmatrix& out);
    // The expression given to a configuration that has none yet: the sum of the utility
    // parents' identifiers in parent order, or the constant 0 without utility parents.
    QNL_exprNode* DefaultExpression() const;
    // RemoveParent of a definition that is not valid: records d and u (either -1) go.
    int ForgetParent(int d, int u);
    // Removes the arcs from non-decision parents that no expression names (except skip).
    void PruneUtilityParents(int skip);
    // Puts an edit's results in place; nothing here can fail.
    void Commit(QNL_Dmatrix& newWeights, std::unique_ptr<QNL_expressionMatrix>& newExpressions,
                QNL_intArray& newDecisions, QNL_intArray& newSizes, QNL_intArray& newUtilities);
    std::unique_ptr<QNL_expressionMatrix> CopyExpressions() const;
    // The parts an edit works on: copies, put in place together by Commit.
    struct Draft {
        QNL_Dmatrix weights;
        std::unique_ptr<QNL_expressionMatrix> expressions;
        QNL_intArray decisions;
        QNL_intArray sizes;
        QNL_intArray utilities;
    };
    // Runs edit(draft) on copies of the parts, bad_alloc becoming -42, and commits them when
    // it returns 0; otherwise nothing changes.
    template <typename Edit> int EditCopy(Edit&& edit);
    int ApplyExpressions(const QNL_expressionMatrix& checked, std::string& error);

    QNL_Dmatrix weights;
    std::unique_ptr<QNL_expressionMatrix> expressions;
    QNL_intArray decisionParents;
    // The choice count of each decision parent, as the tables are shaped now.
    QNL_intArray decisionSizes;
    QNL_intArray utilityParents;
    // Set while this definition removes arcs itself, so that the removals it causes do not
    // start another pruning.
    bool pruning = false;
};
