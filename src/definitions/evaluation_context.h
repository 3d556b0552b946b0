#pragma once

#include "equations/expr_node.h"
#include "numerics/gaussian_mixture.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// What a hybrid definition holds for one configuration of its discrete parents: the
// expressions (or per-outcome data) that define the node there, evaluated by the hybrid and
// equation algorithms. Every operation a holder does not support answers -52 (-52.0 for
// those returning a double). Variables can be bound once to numbered slots (BindSlots), after
// which SetSlotValue sets them without a lookup by name; a clone starts unbound.
class QNL_evaluationContext {
public:
    static constexpr int NOT_SUPPORTED = -52;

    QNL_evaluationContext() = default;
    QNL_evaluationContext(const QNL_evaluationContext&) = delete;
    QNL_evaluationContext& operator=(const QNL_evaluationContext&) = delete;
    virtual ~QNL_evaluationContext() = default;

    // A new copy owned by the caller; null when the holder can't be copied or memory runs
    // out.
    virtual QNL_evaluationContext* Clone() const { return nullptr; }
    // True for a deterministic equation, answered by evaluation; false for a holder that
    // answers through moments, densities, draws and outcome probabilities.
    virtual bool HasExpressions() const { return false; }
    virtual int SetVariableValue(const std::string&, double) { return NOT_SUPPORTED; }
    virtual int GetMoments(double& /*mean*/, double& /*variance*/) { return NOT_SUPPORTED; }
    virtual int Evaluate(double*) { return NOT_SUPPORTED; }
    virtual int EvaluateNamed(const std::string&, double*) { return NOT_SUPPORTED; }
    virtual int DrawValue(double*) { return NOT_SUPPORTED; }
    // A draw renormalised within [lower, upper], made directly where the holder knows how;
    // NOT_SUPPORTED leaves the caller to draw again until a value falls inside.
    virtual int DrawWithin(double /*lower*/, double /*upper*/, double*) { return NOT_SUPPORTED; }
    virtual int DrawOutcome(int*) { return NOT_SUPPORTED; }
    virtual double GetDensity(double) { return NOT_SUPPORTED; }
    // The density renormalised within [lower, upper]: divided by the probability the
    // distribution gives that range, as the draws within it are.
    virtual double GetDensityWithin(double x, double /*lower*/, double /*upper*/) {
        return GetDensity(x);
    }
    virtual double GetProbability(int) { return NOT_SUPPORTED; }
    // A parent took another identifier: its variables follow.
    virtual void RenameVariable(const std::string&, const std::string&) {}

    // Slot i takes the variables named names[i] in every tree of the holder.
    void BindSlots(const std::vector<std::string>& names);
    void SetSlotValue(int slot, double value) {
        for (QNL_exprVariable* v : slots[static_cast<std::size_t>(slot)])
            v->SetValue(value);
    }
    // Every variable name of the holder's trees, each once.
    void GetVariables(std::vector<std::string>& out);
    // Whether a tree of the holder draws from a distribution anywhere but at its root.
    bool DrawsBelowRoot();

protected:
    // The trees whose variables the slots and the name lists reach.
    virtual void CollectTrees(std::vector<QNL_exprNode*>&) {}
    // Bindings point into the trees: an edit of a tree drops them.
    void DropSlots() { slots.clear(); }

private:
    std::vector<std::vector<QNL_exprVariable*>> slots;
};

// The holder of DISTRIBUTION and HEQUATION nodes: a main expression over the continuous
// parents, plus further expressions stored by name (the main expression solved for each
// parent, stored under the parent's identifier). A main expression that is a single
// distribution call answers moments, densities and draws from that call; any other main
// expression is a deterministic equation and answers by evaluation.
class QNL_namedExpressions : public QNL_evaluationContext {
public:
    // The main expression "0".
    QNL_namedExpressions();

    QNL_evaluationContext* Clone() const override;
    bool HasExpressions() const override { return !IsDistribution(); }
    int SetVariableValue(const std::string& name, double value) override;
    // The main expression's value with its sign; a distribution call draws.
    int Evaluate(double* out) override;
    // -2 when no expression is stored under the name.
    int EvaluateNamed(const std::string& name, double* out) override;
    // The call's moments, or the equation's value with variance 0.
    int GetMoments(double& mean, double& variance) override;
    int DrawValue(double* out) override;
    // A distribution call is drawn within the range by inverting its distribution function
    // (plainly where no draw can leave the range); -2 when the range holds no mass a double
    // can represent.
    int DrawWithin(double lower, double upper, double* out) override;
    // The call's normalised density; -52.0 for a deterministic equation.
    double GetDensity(double x) override;
    double GetDensityWithin(double x, double lower, double upper) override;
    // Also renames an expression stored under the old name; the text is rewritten from the
    // main expression when that names the variable.
    void RenameVariable(const std::string& oldName, const std::string& newName) override;

    // Parses and simplifies the text into the main expression; -2 with the parser's message
    // when it does not parse (the holder unchanged).
    int SetMainExpression(const std::string& text, std::string* message = nullptr);
    const std::string& GetText() const { return text; }
    const QNL_exprNode* GetMainTree() const { return main.get(); }
    // Stores the parsed text under the name, replacing what was there; -2 when it does not
    // parse.
    int SetExpression(const std::string& name, const std::string& expression);
    // The tree stored under the name, or null.
    const QNL_exprNode* GetExpression(const std::string& name) const;
    // Whether the main expression is one distribution call at its root.
    bool IsDistribution() const;

protected:
    void CollectTrees(std::vector<QNL_exprNode*>& out) override;

private:
    const QNL_exprFunctionCall* Call() const;

    int evaluated = 0;
    double lastValue = -1.0;
    std::string text;
    std::unique_ptr<QNL_exprNode> main;
    std::map<std::string, std::unique_ptr<QNL_exprNode>> named;
    // The call's arguments for a draw within a range, kept so that a draw clears no block.
    QNL_argumentBlock arguments;
};

// The holder of DCHILDHPARENT nodes: one expression per outcome over the continuous parents,
// stored under the outcome's identifier. Their values, negatives and non-numbers taken as 0
// and normalised (uniform when all are 0), are the outcome probabilities; outcome draws
// follow them. The definition keeps the outcome list in step with its own.
class QNL_outcomeExpressions : public QNL_evaluationContext {
public:
    // Every outcome starts with the expression "0".
    explicit QNL_outcomeExpressions(const std::vector<std::string>& outcomeIds);

    QNL_evaluationContext* Clone() const override;
    int SetVariableValue(const std::string& name, double value) override;
    int EvaluateNamed(const std::string& name, double* out) override;
    int DrawOutcome(int* out) override;
    double GetProbability(int outcome) override;
    void RenameVariable(const std::string& oldName, const std::string& newName) override;

    // -2 for an unknown outcome identifier or a text that does not parse.
    int SetExpression(const std::string& outcomeId, const std::string& expression);
    // The text of an outcome's expression; empty for an index out of range.
    std::string GetExpressionText(int outcome) const;
    int GetNumberOfOutcomes() const { return static_cast<int>(entries.size()); }

    // The outcome list follows the definition's: a new outcome gets "0".
    int InsertOutcome(int index, const std::string& id);
    int RemoveOutcome(int index);
    // order[i] is the old index of the outcome that becomes outcome i.
    int ReorderOutcomes(const std::vector<int>& order);
    int RenameOutcome(int index, const std::string& id);

protected:
    void CollectTrees(std::vector<QNL_exprNode*>& out) override;

private:
    struct Entry {
        std::string id;
        std::unique_ptr<QNL_exprNode> tree;
    };
    // The normalised outcome probabilities into scratch.
    void Probabilities();

    std::vector<Entry> entries;
    std::vector<double> scratch;
};

// The holder the equation-network solver builds for one equation: a copy of its tree and a
// mixture record. Moments and densities are those of the distribution call at the root; a
// draw evaluates the tree (so a call at the root draws).
class QNL_equationContext : public QNL_evaluationContext {
public:
    explicit QNL_equationContext(const QNL_exprNode& tree);

    QNL_evaluationContext* Clone() const override;
    int SetVariableValue(const std::string& name, double value) override;
    int GetMoments(double& mean, double& variance) override;
    int DrawValue(double* out) override;
    double GetDensity(double x) override;

    QNL_gaussianMixture& GetMixture() { return mixture; }

protected:
    void CollectTrees(std::vector<QNL_exprNode*>& out) override;

private:
    std::unique_ptr<QNL_exprNode> tree;
    QNL_gaussianMixture mixture;
};
