#pragma once

#include "equations/expr_node.h"
#include "model/node_definition.h"

#include <string>
#include <vector>

class QNL_variableValidator;

// An equation of the equation language held as its two sides, each an owned expression tree
// (null only in a default-constructed object). Copies are deep.
class QNL_parsedEquation {
public:
    QNL_parsedEquation() = default;
    // Deep copies; throw std::bad_alloc when memory runs out.
    QNL_parsedEquation(const QNL_parsedEquation& other);
    QNL_parsedEquation& operator=(const QNL_parsedEquation& other);
    QNL_parsedEquation(QNL_parsedEquation&& other) noexcept;
    QNL_parsedEquation& operator=(QNL_parsedEquation&& other) noexcept;
    ~QNL_parsedEquation();

    // Replaces the equation by the text's: -2 with the parser's message when it does not
    // parse, -3 when its top level is not an "=". The equation is unchanged on failure.
    int SetEquation(const std::string& text, QNL_variableValidator* validator,
                    std::string* message);
    // Takes ownership of both trees.
    void SetSides(QNL_exprNode* newLeft, QNL_exprNode* newRight);

    // "left=right", each side with its sign.
    void GetText(std::string& out) const;
    // Each variable name once, in the order of its first occurrence (left side first).
    void GetVariables(std::vector<std::string>& out) const;
    void SetVariableValue(const std::string& name, double value);
    void RenameVariable(const std::string& oldName, const std::string& newName);
    // The variable joins the right side as a new term (replacing a right side of 0).
    void AddTerm(const std::string& name);
    // Rewrites the equation as name = expression. -2, the equation unchanged, when the
    // variable is not on exactly one path that can be inverted level by level.
    int SolveFor(const std::string& name);
    // Whether either side draws from a distribution; known since the sides were last set.
    bool IsRandom() const { return random; }

    const QNL_exprNode* GetLeft() const { return left; }
    const QNL_exprNode* GetRight() const { return right; }

private:
    // Whether the trees hold a distribution call, found by walking them.
    bool FindsDistributionCall() const;

    QNL_exprNode* left = nullptr;
    QNL_exprNode* right = nullptr;
    // Asked on every edit of a network, so kept rather than found each time.
    bool random = false;
};

// The definition of a node whose value an equation computes from its parents: normally
// "id = expression over the parents". The arcs into the node are exactly the other nodes the
// equation names, all of them equation nodes; the node's range (lower and upper bound) is
// handed to the algorithms that need one. It has no outcomes and no table.
class QNL_equation : public QNL_nodeDefinition {
public:
    QNL_equation(int handle, QNL_network* network);
    QNL_equation(const QNL_equation& other);
    QNL_equation& operator=(const QNL_equation&) = delete;
    ~QNL_equation() override = default;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_EQUATION; }
    const char* GetTypeName() const override { return "EQUATION"; }

    // Only equation nodes may be parents; the parent's identifier joins the right side.
    int AddParent(int parent) override;
    // The removed parent's variable becomes the constant 0; the rest of the equation stays.
    int RemoveParent(int parent) override;
    // Renames the variable on both sides (the node's own identifier included).
    void ParentIdChanged(int parent, const char* oldId, const char* newId) override;
    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    // From a definition of the same class everything is copied; from another only the node.
    int Assign(const QNL_nodeDefinition& other) override;
    // Drops the arcs from parents that are not equation nodes; a remaining parent the equation
    // does not name joins it as a term.
    int RemoveInvalidParents() override;

    // Checks the text (not empty, parses, names only equation nodes that are not
    // descendants), then makes the arcs into the node those the text names and takes the
    // equation. A refusal is logged with -2, its reason also in error, and changes nothing.
    virtual int SetEquation(const std::string& text, QNL_variableValidator* validator,
                            std::string* error);
    const QNL_parsedEquation& GetEquation() const { return equation; }

    // The node's range; SetBounds refuses (-2) bounds that are not finite or out of order.
    // The range bounds the draws of a sampled update, so a new one makes its values stale.
    double GetLowerBound() const { return lower; }
    double GetUpperBound() const { return upper; }
    int SetBounds(double newLower, double newUpper);

protected:
    // The text parsed into scratch; -2 with the reason in message on failure.
    int ParseChecked(const std::string& text, QNL_variableValidator* validator,
                     QNL_parsedEquation& scratch, std::string& message) const;
    // Logs a refusal and hands its reason to the caller.
    static int Refuse(const std::string& message, std::string* error);
    // The node's identifier, empty while the definition is not at a node.
    std::string OwnId() const;
    // Clears the valid flag of the values that depend on this equation: every computed value
    // when the update samples (or did before the change, as wasRandom says), else the node's
    // and those whose exact solve uses it.
    void InvalidateDependents(bool wasRandom = false);
    // The variable of a removed parent is replaced by 0 in the equation.
    void SubstituteZero(int parent);

    QNL_parsedEquation equation;
    double lower = -1.0;
    double upper = 1.0;
    // Set while SetEquation edits the arcs itself, so AddParent and RemoveParent leave the
    // equation alone.
    bool rewiring = false;

private:
    int Rewire(const std::vector<int>& named, std::string& message);
};
