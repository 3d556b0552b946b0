#pragma once

#include "equations/expr_node.h"
#include "equations/expr_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>

namespace quarn_test {

using Tree = std::unique_ptr<QNL_exprNode>;

inline Tree Parse(const std::string& text) {
    std::string message;
    int position = -1;
    Tree tree(ParseExpression(text, nullptr, &message, &position));
    EXPECT_TRUE(tree) << "'" << text << "': " << message << " at " << position;
    return tree;
}

// The value of a parsed text; NaN when it does not parse.
inline double Value(const std::string& text) {
    Tree tree = Parse(text);
    return tree ? EvaluateSigned(tree.get()) : std::nan("");
}

inline std::string Text(const QNL_exprNode* node) {
    std::string out;
    QNL_exprNode::ToSignedText(node, out);
    return out;
}

// Same kinds, signs, names, values and functions all the way down.
inline bool SameTree(const QNL_exprNode* a, const QNL_exprNode* b) {
    if (a == nullptr || b == nullptr) return a == b;
    if (a->GetKind() != b->GetKind() || a->GetSign() != b->GetSign()) return false;
    switch (a->GetKind()) {
    case QNL_exprNode::VARIABLE:
        return static_cast<const QNL_exprVariable*>(a)->GetName() ==
               static_cast<const QNL_exprVariable*>(b)->GetName();
    case QNL_exprNode::CONSTANT:
        return static_cast<const QNL_exprConstant*>(a)->GetValue() ==
               static_cast<const QNL_exprConstant*>(b)->GetValue();
    case QNL_exprNode::FUNCTION_CALL:
    case QNL_exprNode::DISTRIBUTION_CALL: {
        const auto* ca = static_cast<const QNL_exprFunctionCall*>(a);
        const auto* cb = static_cast<const QNL_exprFunctionCall*>(b);
        if (&ca->GetFunction() != &cb->GetFunction()) return false;
        for (int i = 0; i < QNL_exprFunctionCall::MAX_ARGUMENTS; ++i)
            if (!SameTree(ca->GetArgument(i), cb->GetArgument(i))) return false;
        return true;
    }
    default: {
        const auto* oa = static_cast<const QNL_exprBinaryOperator*>(a);
        const auto* ob = static_cast<const QNL_exprBinaryOperator*>(b);
        return SameTree(oa->GetLeft(), ob->GetLeft()) && SameTree(oa->GetRight(), ob->GetRight());
    }
    }
}

// Random trees over the variables a, b, c. Constants are positive with a random sign, as the
// parser and the simplifier make them. withCalls adds deterministic calls; withComparisons
// adds the comparison and "=" operators.
class RandomTrees {
public:
    explicit RandomTrees(unsigned seed) : engine(seed) {}

    Tree Make(int depth, bool withCalls, bool withComparisons) {
        return Tree(MakeNode(depth, withCalls, withComparisons));
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(engine); }

    QNL_exprNode* MakeNode(int depth, bool withCalls, bool withComparisons) {
        QNL_exprNode* node;
        const int choice = depth <= 0 ? Pick(2) : 2 + Pick(withCalls ? 3 : 2);
        if (choice == 0) {
            const char* names[] = {"a", "b", "c"};
            node = new QNL_exprVariable(names[Pick(3)]);
        } else if (choice == 1) {
            const double values[] = {0.5, 1.25, 2, 3, 7.125, 0.1};
            node = new QNL_exprConstant(values[Pick(6)]);
        } else if (choice <= 3) {
            const int kinds = withComparisons ? 10 : 5;
            node = QNL_exprBinaryOperator::Create(
                QNL_exprNode::ADD + Pick(kinds),
                MakeNode(depth - 1 - Pick(2), withCalls, withComparisons),
                MakeNode(depth - 1 - Pick(2), withCalls, withComparisons));
        } else {
            const char* names[] = {"Sin", "Exp", "Sum", "If", "Sqr"};
            const QNL_functionRecord* f = FindFunction(names[Pick(5)]);
            auto* call = QNL_exprFunctionCall::Create(*f);
            const int count = f->parameterCount >= 0 ? f->parameterCount : 2 + Pick(3);
            for (int i = 0; i < count; ++i)
                call->SetArgument(i, MakeNode(depth - 1, withCalls, withComparisons));
            node = call;
        }
        if (Pick(4) == 0) node->FlipSign();
        return node;
    }

    std::mt19937 engine;
};

} // namespace quarn_test
