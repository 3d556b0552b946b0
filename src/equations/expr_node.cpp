#include "equations/expr_node.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

// ---- QNL_exprNode ----

void QNL_exprNode::CollectDistributionCalls(QNL_exprNode**, std::vector<QNL_exprNode**>&) {}

void QNL_exprNode::Accept(QNL_exprVisitor&) {}

bool QNL_exprNode::Isolate(const std::string&, QNL_exprNode*&, QNL_exprNode*&) {
    return false;
}

bool QNL_exprNode::Simplify(QNL_exprNode*&) {
    return false;
}

void QNL_exprNode::ToSignedText(const QNL_exprNode* node, std::string& out) {
    if (node == nullptr) return;
    if (node->sign >= 0) {
        node->ToText(out);
        return;
    }
    // "-a+b" would read back as (-a)+b, so a negated operator keeps its parentheses.
    if (node->IsOperator()) {
        out += "-(";
        node->ToText(out);
        out += ')';
    } else {
        out += '-';
        node->ToText(out);
    }
}

void QNL_exprNode::SetVariableValue(QNL_exprNode* tree, const std::string& name, double value) {
    if (tree == nullptr) return;
    QNL_exprSetValueVisitor visitor(name, value);
    tree->Accept(visitor);
}

void QNL_exprNode::RenameVariable(QNL_exprNode* tree, const std::string& oldName,
                                  const std::string& newName) {
    if (tree == nullptr) return;
    QNL_exprRenameVisitor visitor(oldName, newName);
    tree->Accept(visitor);
}

int QNL_exprNode::CountVariable(const QNL_exprNode* tree, const std::string& name) {
    if (tree == nullptr) return 0;
    QNL_exprCountVisitor visitor(name);
    // Counting leaves the tree as it is; Accept is non-const only for the other visitors.
    const_cast<QNL_exprNode*>(tree)->Accept(visitor);
    return visitor.GetCount();
}

bool QNL_exprNode::SimplifyTree(QNL_exprNode*& tree) {
    constexpr int kMaxPasses = 1000;
    bool changed = false;
    for (int pass = 0; pass < kMaxPasses && tree != nullptr; ++pass) {
        if (!tree->Simplify(tree)) break;
        changed = true;
    }
    return changed;
}

double EvaluateSigned(const QNL_exprNode* node) {
    if (node == nullptr) return std::numeric_limits<double>::quiet_NaN();
    return node->Evaluate() * node->GetSign();
}

// ---- visitors ----

void QNL_exprRenameVisitor::Visit(QNL_exprVariable& variable) {
    if (variable.GetName() == oldName) variable.SetName(newName);
}

void QNL_exprSetValueVisitor::Visit(QNL_exprVariable& variable) {
    if (variable.GetName() == name) variable.SetValue(value);
}

void QNL_exprCountVisitor::Visit(QNL_exprVariable& variable) {
    if (variable.GetName() == name) ++count;
}

// ---- leaves ----

QNL_exprVariable::QNL_exprVariable(std::string name, int sign) : name(std::move(name)) {
    SetSign(sign);
}

QNL_exprNode* QNL_exprVariable::Clone() const {
    auto* copy = new QNL_exprVariable(name, sign);
    copy->value = value;
    return copy;
}

QNL_exprConstant::QNL_exprConstant(double value, int sign) : value(value) {
    SetSign(sign);
}

QNL_exprNode* QNL_exprConstant::Clone() const {
    return new QNL_exprConstant(value, sign);
}

void QNL_exprConstant::ToText(std::string& out) const {
    // The grammar has no literal for infinity or NaN; these texts read back to the same value.
    if (std::isinf(value)) {
        out += value < 0 ? "-1e999" : "1e999";
        return;
    }
    if (std::isnan(value)) {
        out += "(0/0)";
        return;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// ---- calls ----

QNL_exprFunctionCall::QNL_exprFunctionCall(const QNL_functionRecord& function)
    : function(&function) {}

QNL_exprFunctionCall::~QNL_exprFunctionCall() {
    for (QNL_exprNode* argument : arguments)
        delete argument;
}

QNL_exprFunctionCall* QNL_exprFunctionCall::Create(const QNL_functionRecord& function) {
    if (function.IsDistribution()) return new QNL_exprDistributionCall(function);
    return new QNL_exprFunctionCall(function);
}

void QNL_exprFunctionCall::CloneArgumentsInto(QNL_exprFunctionCall& copy) const {
    copy.sign = sign;
    for (int i = 0; i < MAX_ARGUMENTS; ++i)
        if (arguments[i] != nullptr) copy.arguments[i] = arguments[i]->Clone();
}

QNL_exprNode* QNL_exprFunctionCall::Clone() const {
    std::unique_ptr<QNL_exprFunctionCall> copy(new QNL_exprFunctionCall(*function));
    CloneArgumentsInto(*copy);
    return copy.release();
}

QNL_exprNode* QNL_exprDistributionCall::Clone() const {
    std::unique_ptr<QNL_exprDistributionCall> copy(new QNL_exprDistributionCall(*function));
    CloneArgumentsInto(*copy);
    return copy.release();
}

int QNL_exprFunctionCall::GetArgumentCount() const {
    if (function->parameterCount >= 0) return function->parameterCount;
    int count = 0;
    while (count < MAX_ARGUMENTS && arguments[count] != nullptr)
        ++count;
    return count;
}

QNL_exprNode* QNL_exprFunctionCall::GetArgument(int index) const {
    if (index < 0 || index >= MAX_ARGUMENTS) return nullptr;
    return arguments[index];
}

int QNL_exprFunctionCall::SetArgument(int index, QNL_exprNode* node) {
    if (index < 0 || index >= MAX_ARGUMENTS) return -2;
    if (arguments[index] != node) delete arguments[index];
    arguments[index] = node;
    return 0;
}

QNL_exprNode* QNL_exprFunctionCall::ReleaseArgument(int index) {
    if (index < 0 || index >= MAX_ARGUMENTS) return nullptr;
    QNL_exprNode* argument = arguments[index];
    arguments[index] = nullptr;
    return argument;
}

void QNL_exprFunctionCall::CollectDistributionCalls(QNL_exprNode**,
                                                    std::vector<QNL_exprNode**>& places) {
    for (QNL_exprNode*& argument : arguments)
        if (argument != nullptr) argument->CollectDistributionCalls(&argument, places);
}

void QNL_exprDistributionCall::CollectDistributionCalls(QNL_exprNode** slot,
                                                        std::vector<QNL_exprNode**>& places) {
    places.push_back(slot);
}

void QNL_exprFunctionCall::Accept(QNL_exprVisitor& visitor) {
    for (QNL_exprNode* argument : arguments)
        if (argument != nullptr) argument->Accept(visitor);
}

bool QNL_exprFunctionCall::Simplify(QNL_exprNode*&) {
    bool changed = false;
    for (QNL_exprNode*& argument : arguments)
        if (argument != nullptr && argument->Simplify(argument)) changed = true;
    return changed;
}

void QNL_exprFunctionCall::EvaluateArguments(QNL_argumentBlock& block) const {
    block.count = GetArgumentCount();
    for (int i = 0; i < block.count; ++i)
        block.values[i] = EvaluateSigned(arguments[i]);
}

double QNL_exprFunctionCall::Evaluate() const {
    QNL_argumentBlock block;
    EvaluateArguments(block);
    return function->evaluate(block);
}

double QNL_exprFunctionCall::Density(double x) const {
    if (function->density == nullptr) return std::numeric_limits<double>::quiet_NaN();
    QNL_argumentBlock block;
    EvaluateArguments(block);
    return function->density(x, block);
}

double QNL_exprFunctionCall::NormalisedDensity(double x) const {
    if (function->normalisedDensity == nullptr) return std::numeric_limits<double>::quiet_NaN();
    QNL_argumentBlock block;
    EvaluateArguments(block);
    return function->normalisedDensity(x, block);
}

double QNL_exprFunctionCall::NormalisedDensityWithin(double x, double lower, double upper) const {
    if (function->normalisedDensity == nullptr) return std::numeric_limits<double>::quiet_NaN();
    QNL_argumentBlock block;
    EvaluateArguments(block);
    if (function->densityWithin == nullptr) return function->normalisedDensity(x, block);
    return function->densityWithin(x, lower, upper, block);
}

bool QNL_exprFunctionCall::Moments(double& mean, double& variance) const {
    if (function->moments == nullptr) {
        mean = variance = std::numeric_limits<double>::quiet_NaN();
        return false;
    }
    QNL_argumentBlock block;
    EvaluateArguments(block);
    function->moments(mean, variance, block);
    return true;
}

void QNL_exprFunctionCall::ToText(std::string& out) const {
    out += function->name;
    out += '(';
    const int count = GetArgumentCount();
    for (int i = 0; i < count; ++i) {
        if (i > 0) out += ',';
        ToSignedText(arguments[i], out);
    }
    out += ')';
}

// ---- operators ----

QNL_exprBinaryOperator::~QNL_exprBinaryOperator() {
    delete left;
    delete right;
}

QNL_exprBinaryOperator* QNL_exprBinaryOperator::Create(int kind, QNL_exprNode* left,
                                                       QNL_exprNode* right) {
    switch (kind) {
    case ADD:
        return new QNL_exprAdd(left, right);
    case SUBTRACT:
        return new QNL_exprSubtract(left, right);
    case DIVIDE:
        return new QNL_exprDivide(left, right);
    case MULTIPLY:
        return new QNL_exprMultiply(left, right);
    case POWER:
        return new QNL_exprPower(left, right);
    case LESS:
        return new QNL_exprLess(left, right);
    case GREATER:
        return new QNL_exprGreater(left, right);
    case LESS_EQUAL:
        return new QNL_exprLessEqual(left, right);
    case GREATER_EQUAL:
        return new QNL_exprGreaterEqual(left, right);
    case EQUAL:
        return new QNL_exprEqual(left, right);
    default:
        return nullptr;
    }
}

QNL_exprNode* QNL_exprBinaryOperator::Clone() const {
    std::unique_ptr<QNL_exprNode> leftCopy(left != nullptr ? left->Clone() : nullptr);
    std::unique_ptr<QNL_exprNode> rightCopy(right != nullptr ? right->Clone() : nullptr);
    QNL_exprBinaryOperator* copy = Create(GetKind(), leftCopy.get(), rightCopy.get());
    leftCopy.release();
    rightCopy.release();
    copy->sign = sign;
    return copy;
}

void QNL_exprBinaryOperator::SetLeft(QNL_exprNode* node) {
    if (left != node) delete left;
    left = node;
}

void QNL_exprBinaryOperator::SetRight(QNL_exprNode* node) {
    if (right != node) delete right;
    right = node;
}

QNL_exprNode* QNL_exprBinaryOperator::ReleaseLeft() {
    QNL_exprNode* node = left;
    left = nullptr;
    return node;
}

QNL_exprNode* QNL_exprBinaryOperator::ReleaseRight() {
    QNL_exprNode* node = right;
    right = nullptr;
    return node;
}

void QNL_exprBinaryOperator::CollectDistributionCalls(QNL_exprNode**,
                                                      std::vector<QNL_exprNode**>& places) {
    if (left != nullptr) left->CollectDistributionCalls(&left, places);
    if (right != nullptr) right->CollectDistributionCalls(&right, places);
}

void QNL_exprBinaryOperator::Accept(QNL_exprVisitor& visitor) {
    if (left != nullptr) left->Accept(visitor);
    if (right != nullptr) right->Accept(visitor);
}

double QNL_exprBinaryOperator::Evaluate() const {
    return Apply(EvaluateSigned(left), EvaluateSigned(right));
}

void QNL_exprBinaryOperator::OperandText(const QNL_exprNode* child, std::string& out,
                                         bool isRight) const {
    if (child == nullptr) return;
    if (!child->IsOperator()) {
        ToSignedText(child, out);
        return;
    }
    // Every level of the grammar is left-associative, so an operand of equal precedence needs
    // parentheses on the right ("a-(b-c)", "a<(b<c)") and none on the left ("a-b-c").
    const int childPrecedence = static_cast<const QNL_exprBinaryOperator*>(child)->GetPrecedence();
    const bool wrap = childPrecedence < GetPrecedence() ||
                      (isRight && childPrecedence == GetPrecedence()) || child->GetSign() < 0;
    if (!wrap) {
        child->ToText(out);
        return;
    }
    if (child->GetSign() < 0) out += '-';
    out += '(';
    child->ToText(out);
    out += ')';
}

void QNL_exprBinaryOperator::ToText(std::string& out) const {
    OperandText(left, out, false);
    out += GetOperatorText();
    OperandText(right, out, true);
}
