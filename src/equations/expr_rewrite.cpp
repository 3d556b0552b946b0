// Tree surgery of the expression nodes: algebraic simplification and isolation of a variable.
// Every rewrite allocates the nodes it needs before it unlinks anything, so an allocation
// failure leaves the tree as it was; a node that replaces itself in its slot deletes itself
// as its last action.

#include "equations/expr_node.h"

#include <cmath>
#include <functional>
#include <memory>
#include <utility>

namespace quarn::detail {
namespace {

// A product distributed over a sum copies one factor; past this many nodes the product is
// left alone so that repeated distribution can't blow the tree up.
constexpr int kMaxDistributedSize = 2000;

bool IsConstant(const QNL_exprNode* node) {
    return node != nullptr && node->GetKind() == QNL_exprNode::CONSTANT;
}

double ConstantValue(const QNL_exprNode* node) {
    return static_cast<const QNL_exprConstant*>(node)->GetValue() * node->GetSign();
}

bool IsConstantEqual(const QNL_exprNode* node, double value) {
    return IsConstant(node) && ConstantValue(node) == value;
}

bool IsSum(const QNL_exprNode* node) {
    return node != nullptr &&
           (node->GetKind() == QNL_exprNode::ADD || node->GetKind() == QNL_exprNode::SUBTRACT);
}

// A negative number is held as its magnitude with sign -1.
QNL_exprConstant* MakeConstant(double value) {
    return new QNL_exprConstant(std::fabs(value), value < 0 ? -1 : 1);
}

void SetConstant(QNL_exprNode* node, double value) {
    static_cast<QNL_exprConstant*>(node)->SetValue(std::fabs(value));
    node->SetSign(value < 0 ? -1 : 1);
}

// Number of nodes, counting stops once it passes limit.
int TreeSize(const QNL_exprNode* node, int limit) {
    if (node == nullptr) return 0;
    int size = 1;
    if (node->IsOperator()) {
        const auto* op = static_cast<const QNL_exprBinaryOperator*>(node);
        size += TreeSize(op->GetLeft(), limit);
        if (size <= limit) size += TreeSize(op->GetRight(), limit);
    } else if (node->GetKind() == QNL_exprNode::FUNCTION_CALL ||
               node->GetKind() == QNL_exprNode::DISTRIBUTION_CALL) {
        const auto* call = static_cast<const QNL_exprFunctionCall*>(node);
        for (int i = 0; i < QNL_exprFunctionCall::MAX_ARGUMENTS && size <= limit; ++i)
            size += TreeSize(call->GetArgument(i), limit);
    }
    return size;
}

bool SmallEnoughToDistribute(const QNL_exprNode* copied, const QNL_exprNode* sum) {
    const int copiedSize = TreeSize(copied, kMaxDistributedSize);
    return 2 * copiedSize + TreeSize(sum, kMaxDistributedSize) <= kMaxDistributedSize;
}

// Replaces *slot (the node to delete) by replacement.
bool ReplaceNode(QNL_exprNode*& slot, QNL_exprNode* replacement) {
    QNL_exprNode* old = slot;
    slot = replacement;
    delete old;
    return true;
}

} // namespace
} // namespace quarn::detail

using namespace quarn::detail;

// ---- simplification ----

bool QNL_exprBinaryOperator::ReplaceBy(QNL_exprNode*& slot, QNL_exprNode* operand) {
    if (operand == left) left = nullptr;
    if (operand == right) right = nullptr;
    if (sign < 0) operand->FlipSign();
    return ReplaceNode(slot, operand);
}

bool QNL_exprBinaryOperator::Simplify(QNL_exprNode*& slot) {
    if (left == nullptr || right == nullptr) return false;
    bool changed = left->Simplify(left);
    if (right->Simplify(right)) changed = true;

    const int kind = GetKind();
    if (sign < 0) {
        if (kind == ADD) {
            left->FlipSign();
            right->FlipSign();
            sign = 1;
            changed = true;
        } else if (kind == SUBTRACT) {
            std::swap(left, right);
            sign = 1;
            changed = true;
        } else if (kind == MULTIPLY || kind == DIVIDE) {
            left->FlipSign();
            sign = 1;
            changed = true;
        }
    }

    if (IsConstant(left) && IsConstant(right)) {
        // A fold to infinity or NaN is skipped: such a constant has no text of its own, and a
        // zero denominator is to stay visible.
        const double value = sign * Apply(ConstantValue(left), ConstantValue(right));
        if (std::isfinite(value)) return ReplaceNode(slot, MakeConstant(value));
    }

    switch (kind) {
    case ADD:
        return SimplifyAdd(slot) || changed;
    case SUBTRACT:
        return SimplifySubtract(slot) || changed;
    case MULTIPLY:
        return SimplifyMultiply(slot) || changed;
    case DIVIDE:
        return SimplifyDivide(slot) || changed;
    case POWER:
        if (IsConstantEqual(right, 0.0) && !IsConstant(left))
            return ReplaceNode(slot, new QNL_exprConstant(1.0, sign));
        return changed;
    default:
        return changed;
    }
}

bool QNL_exprBinaryOperator::SimplifyAdd(QNL_exprNode*& slot) {
    if (IsConstantEqual(left, 0.0)) return ReplaceBy(slot, right);
    if (IsConstantEqual(right, 0.0)) return ReplaceBy(slot, left);
    if (IsConstant(right) && ConstantValue(right) < 0) {
        auto* difference = new QNL_exprSubtract(nullptr, nullptr);
        right->FlipSign();
        difference->left = ReleaseLeft();
        difference->right = ReleaseRight();
        return ReplaceNode(slot, difference);
    }
    if (IsConstant(left) && !IsConstant(right)) {
        std::swap(left, right);
        return true;
    }
    if (IsConstant(right) && left->GetKind() == ADD && left->GetSign() > 0) {
        auto* inner = static_cast<QNL_exprBinaryOperator*>(left);
        if (IsConstant(inner->right)) {
            const double merged = ConstantValue(inner->right) + ConstantValue(right);
            if (std::isfinite(merged)) {
                SetConstant(inner->right, merged);
                return ReplaceBy(slot, left);
            }
        }
    }
    return false;
}

bool QNL_exprBinaryOperator::SimplifySubtract(QNL_exprNode*& slot) {
    if (IsConstantEqual(right, 0.0)) return ReplaceBy(slot, left);
    if (IsConstantEqual(left, 0.0)) {
        right->FlipSign();
        return ReplaceBy(slot, right);
    }
    if (IsConstant(right) && ConstantValue(right) < 0) {
        auto* sum = new QNL_exprAdd(nullptr, nullptr);
        right->FlipSign();
        sum->left = ReleaseLeft();
        sum->right = ReleaseRight();
        return ReplaceNode(slot, sum);
    }
    if (IsConstant(right) && IsSum(left) && left->GetSign() > 0) {
        auto* inner = static_cast<QNL_exprBinaryOperator*>(left);
        if (IsConstant(inner->right)) {
            const double c1 = ConstantValue(inner->right);
            const double c2 = ConstantValue(right);
            // (x + c1) - c2 = x + (c1 - c2); (x - c1) - c2 = x - (c1 + c2)
            const double merged = inner->GetKind() == ADD ? c1 - c2 : c1 + c2;
            if (std::isfinite(merged)) {
                SetConstant(inner->right, merged);
                return ReplaceBy(slot, left);
            }
        }
    }
    if (IsConstant(left) && !IsConstant(right)) {
        // c - x becomes -x + c, so that constants gather on the right.
        auto* sum = new QNL_exprAdd(nullptr, nullptr);
        right->FlipSign();
        sum->left = ReleaseRight();
        sum->right = ReleaseLeft();
        return ReplaceNode(slot, sum);
    }
    return false;
}

bool QNL_exprBinaryOperator::SimplifyMultiply(QNL_exprNode*& slot) {
    if (IsConstantEqual(left, 0.0) || IsConstantEqual(right, 0.0))
        return ReplaceNode(slot, new QNL_exprConstant(0.0));
    if (IsConstantEqual(right, 1.0)) return ReplaceBy(slot, left);
    if (IsConstantEqual(left, 1.0)) return ReplaceBy(slot, right);
    if (IsConstantEqual(right, -1.0)) {
        left->FlipSign();
        return ReplaceBy(slot, left);
    }
    if (IsConstantEqual(left, -1.0)) {
        right->FlipSign();
        return ReplaceBy(slot, right);
    }
    if (IsConstant(left) && !IsConstant(right)) {
        std::swap(left, right);
        return true;
    }

    // x * (a +- b) = x*a +- x*b, and (a +- b) * y = a*y +- b*y; the sum's sign goes to the result.
    const bool overRight = IsSum(right) && SmallEnoughToDistribute(left, right);
    const bool overLeft = !overRight && IsSum(left) && SmallEnoughToDistribute(right, left);
    if (!overRight && !overLeft) return false;
    auto* sum = static_cast<QNL_exprBinaryOperator*>(overRight ? right : left);
    std::unique_ptr<QNL_exprNode> factorCopy((overRight ? left : right)->Clone());
    std::unique_ptr<QNL_exprBinaryOperator> first(new QNL_exprMultiply(nullptr, nullptr));
    std::unique_ptr<QNL_exprBinaryOperator> second(new QNL_exprMultiply(nullptr, nullptr));
    std::unique_ptr<QNL_exprBinaryOperator> result(Create(sum->GetKind(), nullptr, nullptr));
    if (overRight) {
        first->left = ReleaseLeft();
        first->right = sum->ReleaseLeft();
        second->left = factorCopy.release();
        second->right = sum->ReleaseRight();
    } else {
        first->left = sum->ReleaseLeft();
        first->right = ReleaseRight();
        second->left = sum->ReleaseRight();
        second->right = factorCopy.release();
    }
    result->sign = sum->sign;
    result->left = first.release();
    result->right = second.release();
    return ReplaceNode(slot, result.release());
}

bool QNL_exprBinaryOperator::SimplifyDivide(QNL_exprNode*& slot) {
    if (IsConstantEqual(right, 0.0)) return false;
    if (IsConstantEqual(left, 0.0)) return ReplaceNode(slot, new QNL_exprConstant(0.0));
    if (IsConstantEqual(right, 1.0)) return ReplaceBy(slot, left);
    if (left->GetKind() == VARIABLE && right->GetKind() == VARIABLE &&
        static_cast<QNL_exprVariable*>(left)->GetName() ==
            static_cast<QNL_exprVariable*>(right)->GetName()) {
        return ReplaceNode(slot, new QNL_exprConstant(1.0, left->GetSign() * right->GetSign()));
    }
    if (IsConstant(right)) {
        const double reciprocal = 1.0 / ConstantValue(right);
        if (!std::isfinite(reciprocal)) return false;
        std::unique_ptr<QNL_exprNode> factor(MakeConstant(reciprocal));
        auto* product = new QNL_exprMultiply(nullptr, nullptr);
        product->left = ReleaseLeft();
        product->right = factor.release();
        return ReplaceNode(slot, product);
    }
    if (IsSum(left) && SmallEnoughToDistribute(right, left)) {
        auto* sum = static_cast<QNL_exprBinaryOperator*>(left);
        std::unique_ptr<QNL_exprNode> denominatorCopy(right->Clone());
        std::unique_ptr<QNL_exprBinaryOperator> first(new QNL_exprDivide(nullptr, nullptr));
        std::unique_ptr<QNL_exprBinaryOperator> second(new QNL_exprDivide(nullptr, nullptr));
        std::unique_ptr<QNL_exprBinaryOperator> result(Create(sum->GetKind(), nullptr, nullptr));
        first->left = sum->ReleaseLeft();
        first->right = ReleaseRight();
        second->left = sum->ReleaseRight();
        second->right = denominatorCopy.release();
        result->sign = sum->sign;
        result->left = first.release();
        result->right = second.release();
        return ReplaceNode(slot, result.release());
    }
    return false;
}

// ---- isolation ----

bool QNL_exprBinaryOperator::Isolate(const std::string& name, QNL_exprNode*& varSide,
                                     QNL_exprNode*& otherSide) {
    const int kind = GetKind();
    if (kind < ADD || kind > POWER || left == nullptr || right == nullptr || otherSide == nullptr)
        return false;
    const bool inLeft = CountVariable(left, name) >= 1;
    const bool inRight = CountVariable(right, name) >= 1;
    // With the variable on both operands one level can't be undone.
    if (inLeft == inRight) return false;

    // The new other side is allocated whole before anything is unlinked; link() then puts the
    // old other side and the operand that moves across into it.
    std::unique_ptr<QNL_exprNode> built;
    std::function<void(QNL_exprNode*, QNL_exprNode*)> link;
    auto makeOperator = [&](int newKind, bool otherFirst) {
        QNL_exprBinaryOperator* op = Create(newKind, nullptr, nullptr);
        built.reset(op);
        link = [op, otherFirst](QNL_exprNode* other, QNL_exprNode* operand) {
            op->SetLeft(otherFirst ? other : operand);
            op->SetRight(otherFirst ? operand : other);
        };
    };
    switch (kind) {
    case ADD:
        makeOperator(SUBTRACT, true);
        break;
    case SUBTRACT:
        inLeft ? makeOperator(ADD, true) : makeOperator(SUBTRACT, false);
        break;
    case MULTIPLY:
        makeOperator(DIVIDE, true);
        break;
    case DIVIDE:
        inLeft ? makeOperator(MULTIPLY, true) : makeOperator(DIVIDE, false);
        break;
    default: // POWER
        if (inLeft) {
            // base = other ^ (1 / exponent)
            std::unique_ptr<QNL_exprNode> one(new QNL_exprConstant(1.0));
            std::unique_ptr<QNL_exprBinaryOperator> reciprocal(
                new QNL_exprDivide(one.get(), nullptr));
            one.release();
            auto* power = new QNL_exprPower(nullptr, reciprocal.get());
            auto* divide = reciprocal.release();
            built.reset(power);
            link = [power, divide](QNL_exprNode* other, QNL_exprNode* operand) {
                power->SetLeft(other);
                divide->SetRight(operand);
            };
        } else {
            // exponent = Log(other, base)
            QNL_exprFunctionCall* call = QNL_exprFunctionCall::Create(*FindFunction("Log"));
            built.reset(call);
            link = [call](QNL_exprNode* other, QNL_exprNode* operand) {
                call->SetArgument(0, other);
                call->SetArgument(1, operand);
            };
        }
        break;
    }

    if (sign < 0) otherSide->FlipSign();
    QNL_exprNode* kept = inLeft ? ReleaseLeft() : ReleaseRight();
    QNL_exprNode* moved = inLeft ? ReleaseRight() : ReleaseLeft();
    link(otherSide, moved);
    otherSide = built.release();
    QNL_exprNode* self = varSide;
    varSide = kept;
    delete self;
    return true;
}

bool QNL_exprFunctionCall::Isolate(const std::string& name, QNL_exprNode*& varSide,
                                   QNL_exprNode*& otherSide) {
    if (otherSide == nullptr) return false;
    std::unique_ptr<QNL_exprNode> built;
    int keptIndex = 0;
    if (function == FindFunction("Log")) {
        const bool inValue = CountVariable(arguments[0], name) >= 1;
        const bool inBase = CountVariable(arguments[1], name) >= 1;
        if (inValue == inBase || arguments[0] == nullptr || arguments[1] == nullptr) return false;
        if (inValue) {
            // Log(a, b) = other  =>  a = b ^ other
            built.reset(new QNL_exprPower(nullptr, nullptr));
        } else {
            // Log(a, b) = other  =>  b = a ^ (1 / other)
            std::unique_ptr<QNL_exprNode> one(new QNL_exprConstant(1.0));
            std::unique_ptr<QNL_exprNode> reciprocal(new QNL_exprDivide(one.get(), nullptr));
            one.release();
            built.reset(new QNL_exprPower(nullptr, reciprocal.get()));
            reciprocal.release();
            keptIndex = 1;
        }
        auto* power = static_cast<QNL_exprBinaryOperator*>(built.get());
        if (sign < 0) otherSide->FlipSign();
        if (inValue) {
            power->SetLeft(ReleaseArgument(1));
            power->SetRight(otherSide);
        } else {
            power->SetLeft(ReleaseArgument(0));
            static_cast<QNL_exprBinaryOperator*>(power->GetRight())->SetRight(otherSide);
        }
    } else {
        if (function->parameterCount != 1 || CountVariable(arguments[0], name) < 1) return false;
        const QNL_functionRecord* inverse = FindInverseFunction(*function);
        if (inverse == nullptr) return false;
        auto* call = QNL_exprFunctionCall::Create(*inverse);
        built.reset(call);
        if (sign < 0) otherSide->FlipSign();
        call->SetArgument(0, otherSide);
    }
    otherSide = built.release();
    QNL_exprNode* self = varSide;
    varSide = ReleaseArgument(keptIndex);
    delete self;
    return true;
}
