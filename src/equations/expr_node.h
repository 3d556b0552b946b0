#pragma once

#include "equations/function_table.h"

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

// Expression trees of the equation language. Every node owns its children and carries a sign
// (+1 or -1) that its parent applies: a parent uses child.Evaluate() * child.GetSign(), and a
// node's own Evaluate ignores its own sign. Operations that rewrite a tree (Simplify, Isolate)
// receive the slot, the parent's pointer to the node, and may replace the node there; the
// replaced node is deleted, so a caller must not touch the old pointer afterwards.
//
// Trees are walked recursively; the parser bounds their depth, and Simplify bounds the growth
// of products distributed over sums.

class QNL_exprVariable;

class QNL_exprVisitor {
public:
    virtual ~QNL_exprVisitor() = default;
    // Called once for every variable of the expression walked.
    virtual void Visit(QNL_exprVariable& variable) = 0;
};

class QNL_exprNode {
public:
    enum Kind {
        VARIABLE = 0,
        CONSTANT = 1,
        FUNCTION_CALL = 2,
        DISTRIBUTION_CALL = 3,
        ADD = 4,
        SUBTRACT = 5,
        DIVIDE = 6,
        MULTIPLY = 7,
        POWER = 8,
        LESS = 9,
        GREATER = 10,
        LESS_EQUAL = 11,
        GREATER_EQUAL = 12,
        EQUAL = 13,
    };

    QNL_exprNode() = default;
    QNL_exprNode(const QNL_exprNode&) = delete;
    QNL_exprNode& operator=(const QNL_exprNode&) = delete;
    virtual ~QNL_exprNode() = default;

    // A deep copy, sign included.
    virtual QNL_exprNode* Clone() const = 0;
    virtual int GetKind() const = 0;
    virtual bool IsOperator() const { return false; }
    // Appends the slot of every distribution call in the tree (not looking inside a
    // distribution call's arguments) so that the caller can replace those subtrees. slot is
    // the place that holds this node.
    virtual void CollectDistributionCalls(QNL_exprNode** slot, std::vector<QNL_exprNode**>& places);
    virtual void Accept(QNL_exprVisitor& visitor);
    // Solving varSide = otherSide for a variable: moves one level of varSide (this node) to
    // the other side by its inverse. Returns false, changing nothing, when this node can't be
    // inverted for the variable (constants, variables, comparisons, distribution calls, a
    // function without an inverse, or the variable found on both operands).
    virtual bool Isolate(const std::string& name, QNL_exprNode*& varSide, QNL_exprNode*& otherSide);
    // One pass of algebraic simplification; may replace this node in slot.
    virtual bool Simplify(QNL_exprNode*& slot);
    virtual double Evaluate() const = 0;
    // Appends the node's text without its own sign.
    virtual void ToText(std::string& out) const = 0;

    // The sign the node carries: 1, or -1 for a negated term.
    int GetSign() const { return sign; }
    void SetSign(int newSign) { sign = newSign < 0 ? -1 : 1; }
    void FlipSign() { sign = -sign; }

    // Appends the node's text with a leading "-" when its sign is -1; an operator node with
    // sign -1 is wrapped in parentheses so that the text parses back to the same tree.
    static void ToSignedText(const QNL_exprNode* node, std::string& out);
    static void SetVariableValue(QNL_exprNode* tree, const std::string& name, double value);
    static void RenameVariable(QNL_exprNode* tree, const std::string& oldName,
                               const std::string& newName);
    static int CountVariable(const QNL_exprNode* tree, const std::string& name);
    // Simplify until nothing changes; returns whether anything did. The number of passes is
    // capped, so a rule set that keeps rewriting can't hang the caller.
    static bool SimplifyTree(QNL_exprNode*& tree);

protected:
    int sign = 1;
};

// node.Evaluate() * node.sign.
double EvaluateSigned(const QNL_exprNode* node);

class QNL_exprVariable : public QNL_exprNode {
public:
    // The undefined-number marker, 2 x DBL_MIN: the value of a variable never set.
    static constexpr double UNDEFINED_VALUE = 2 * DBL_MIN;

    explicit QNL_exprVariable(std::string name, int sign = 1);

    QNL_exprNode* Clone() const override;
    int GetKind() const override { return VARIABLE; }
    void Accept(QNL_exprVisitor& visitor) override { visitor.Visit(*this); }
    double Evaluate() const override { return value; }
    void ToText(std::string& out) const override { out += name; }

    // The variable's name and its current value while the expression is evaluated.
    const std::string& GetName() const { return name; }
    void SetName(const std::string& newName) { name = newName; }
    double GetValue() const { return value; }
    void SetValue(double newValue) { value = newValue; }

private:
    std::string name;
    double value = UNDEFINED_VALUE;
};

class QNL_exprConstant : public QNL_exprNode {
public:
    explicit QNL_exprConstant(double value, int sign = 1);

    QNL_exprNode* Clone() const override;
    int GetKind() const override { return CONSTANT; }
    double Evaluate() const override { return value; }
    // The shortest text that reads back to the same double, independent of the locale.
    void ToText(std::string& out) const override;

    // The constant's value.
    double GetValue() const { return value; }
    void SetValue(double newValue) { value = newValue; }

private:
    double value;
};

class QNL_exprFunctionCall : public QNL_exprNode {
public:
    static constexpr int MAX_ARGUMENTS = QNL_argumentBlock::MAX_ARGUMENTS;

    explicit QNL_exprFunctionCall(const QNL_functionRecord& function);
    ~QNL_exprFunctionCall() override;

    // A distribution call when the function has a density, else a plain call.
    static QNL_exprFunctionCall* Create(const QNL_functionRecord& function);

    QNL_exprNode* Clone() const override;
    int GetKind() const override { return FUNCTION_CALL; }
    void CollectDistributionCalls(QNL_exprNode** slot,
                                  std::vector<QNL_exprNode**>& places) override;
    void Accept(QNL_exprVisitor& visitor) override;
    bool Isolate(const std::string& name, QNL_exprNode*& varSide,
                 QNL_exprNode*& otherSide) override;
    bool Simplify(QNL_exprNode*& slot) override;
    double Evaluate() const override;
    void ToText(std::string& out) const override;

    // The function called and its arguments.
    const QNL_functionRecord& GetFunction() const { return *function; }
    // The function's parameter count, or for a variable-count function the number of leading
    // argument slots in use.
    int GetArgumentCount() const;
    QNL_exprNode* GetArgument(int index) const;
    // Takes ownership of node (deleting the argument it replaces); -2 for an index outside
    // 0..MAX_ARGUMENTS-1, in which case the caller keeps node.
    int SetArgument(int index, QNL_exprNode* node);
    // Hands the argument to the caller and leaves its slot empty.
    QNL_exprNode* ReleaseArgument(int index);

    // The function's density and moments at the evaluated arguments; a function without them
    // gives NaN and false.
    double Density(double x) const;
    double NormalisedDensity(double x) const;
    // The density proper renormalised within [lower, upper]; the density proper for a
    // distribution without a distribution function.
    double NormalisedDensityWithin(double x, double lower, double upper) const;
    bool Moments(double& mean, double& variance) const;

protected:
    void EvaluateArguments(QNL_argumentBlock& block) const;
    void CloneArgumentsInto(QNL_exprFunctionCall& copy) const;

    const QNL_functionRecord* function;
    QNL_exprNode* arguments[MAX_ARGUMENTS] = {};
};

// A call of a function with a density: each evaluation draws a random number.
class QNL_exprDistributionCall : public QNL_exprFunctionCall {
public:
    explicit QNL_exprDistributionCall(const QNL_functionRecord& function)
        : QNL_exprFunctionCall(function) {}

    QNL_exprNode* Clone() const override;
    int GetKind() const override { return DISTRIBUTION_CALL; }
    void CollectDistributionCalls(QNL_exprNode** slot,
                                  std::vector<QNL_exprNode**>& places) override;
    bool Isolate(const std::string&, QNL_exprNode*&, QNL_exprNode*&) override { return false; }
};

class QNL_exprBinaryOperator : public QNL_exprNode {
public:
    // Takes ownership of both operands (either may be null while a tree is being built).
    QNL_exprBinaryOperator(QNL_exprNode* left, QNL_exprNode* right) : left(left), right(right) {}
    ~QNL_exprBinaryOperator() override;

    // The operator node of a kind from ADD to EQUAL, or null for another kind (the operands
    // then stay with the caller).
    static QNL_exprBinaryOperator* Create(int kind, QNL_exprNode* left, QNL_exprNode* right);

    QNL_exprNode* Clone() const override;
    bool IsOperator() const override { return true; }
    void CollectDistributionCalls(QNL_exprNode** slot,
                                  std::vector<QNL_exprNode**>& places) override;
    void Accept(QNL_exprVisitor& visitor) override;
    bool Isolate(const std::string& name, QNL_exprNode*& varSide,
                 QNL_exprNode*& otherSide) override;
    bool Simplify(QNL_exprNode*& slot) override;
    double Evaluate() const override;
    void ToText(std::string& out) const override;

    // "=" 0; comparisons 1; "+" "-" 3; "*" "/" 4; "^" 5.
    virtual int GetPrecedence() const = 0;
    // Comparisons give 1.0 when true, else 0.0; any comparison with a NaN is false.
    virtual double Apply(double a, double b) const = 0;
    virtual const char* GetOperatorText() const = 0;
    // Appends an operand's signed text, in parentheses where the left-associative grammar
    // would otherwise read the text as another tree.
    void OperandText(const QNL_exprNode* child, std::string& out, bool isRight) const;

    // The operands; Release hands one to the caller and leaves null behind.
    QNL_exprNode* GetLeft() const { return left; }
    QNL_exprNode* GetRight() const { return right; }
    void SetLeft(QNL_exprNode* node);
    void SetRight(QNL_exprNode* node);
    QNL_exprNode* ReleaseLeft();
    QNL_exprNode* ReleaseRight();

private:
    bool SimplifyAdd(QNL_exprNode*& slot);
    bool SimplifySubtract(QNL_exprNode*& slot);
    bool SimplifyMultiply(QNL_exprNode*& slot);
    bool SimplifyDivide(QNL_exprNode*& slot);
    bool ReplaceBy(QNL_exprNode*& slot, QNL_exprNode* operand);

    QNL_exprNode* left;
    QNL_exprNode* right;
};

class QNL_exprAdd : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return ADD; }
    int GetPrecedence() const override { return 3; }
    double Apply(double a, double b) const override { return a + b; }
    const char* GetOperatorText() const override { return "+"; }
};

class QNL_exprSubtract : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return SUBTRACT; }
    int GetPrecedence() const override { return 3; }
    double Apply(double a, double b) const override { return a - b; }
    const char* GetOperatorText() const override { return "-"; }
};

class QNL_exprDivide : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return DIVIDE; }
    int GetPrecedence() const override { return 4; }
    double Apply(double a, double b) const override { return a / b; }
    const char* GetOperatorText() const override { return "/"; }
};

class QNL_exprMultiply : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return MULTIPLY; }
    int GetPrecedence() const override { return 4; }
    double Apply(double a, double b) const override { return a * b; }
    const char* GetOperatorText() const override { return "*"; }
};

class QNL_exprPower : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return POWER; }
    int GetPrecedence() const override { return 5; }
    double Apply(double a, double b) const override { return std::pow(a, b); }
    const char* GetOperatorText() const override { return "^"; }
};

class QNL_exprLess : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return LESS; }
    int GetPrecedence() const override { return 1; }
    double Apply(double a, double b) const override { return a < b ? 1.0 : 0.0; }
    const char* GetOperatorText() const override { return "<"; }
};

class QNL_exprGreater : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return GREATER; }
    int GetPrecedence() const override { return 1; }
    double Apply(double a, double b) const override { return a > b ? 1.0 : 0.0; }
    const char* GetOperatorText() const override { return ">"; }
};

class QNL_exprLessEqual : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return LESS_EQUAL; }
    int GetPrecedence() const override { return 1; }
    double Apply(double a, double b) const override { return a <= b ? 1.0 : 0.0; }
    const char* GetOperatorText() const override { return "<="; }
};

class QNL_exprGreaterEqual : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return GREATER_EQUAL; }
    int GetPrecedence() const override { return 1; }
    double Apply(double a, double b) const override { return a >= b ? 1.0 : 0.0; }
    const char* GetOperatorText() const override { return ">="; }
};

class QNL_exprEqual : public QNL_exprBinaryOperator {
public:
    using QNL_exprBinaryOperator::QNL_exprBinaryOperator;
    int GetKind() const override { return EQUAL; }
    int GetPrecedence() const override { return 0; }
    double Apply(double a, double b) const override { return a == b ? 1.0 : 0.0; }
    const char* GetOperatorText() const override { return "="; }
};

// The three visitors the library uses on variables; names are compared exactly.
class QNL_exprRenameVisitor : public QNL_exprVisitor {
public:
    QNL_exprRenameVisitor(std::string oldName, std::string newName)
        : oldName(std::move(oldName)), newName(std::move(newName)) {}
    void Visit(QNL_exprVariable& variable) override;

private:
    std::string oldName;
    std::string newName;
};

class QNL_exprSetValueVisitor : public QNL_exprVisitor {
public:
    QNL_exprSetValueVisitor(std::string name, double value) : name(std::move(name)), value(value) {}
    void Visit(QNL_exprVariable& variable) override;

private:
    std::string name;
    double value;
};

class QNL_exprCountVisitor : public QNL_exprVisitor {
public:
    explicit QNL_exprCountVisitor(std::string name) : name(std::move(name)) {}
    void Visit(QNL_exprVariable& variable) override;
    // How many times the named variable occurs.
    int GetCount() const { return count; }

private:
    std::string name;
    int count = 0;
};
