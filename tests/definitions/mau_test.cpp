#include "definitions/mau.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "equations/expr_parser.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"
#include "support/arcs.h"
#include "support/network_builder.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr double kUndefined = 2 * DBL_MIN;

using quarn_test::ArrayOf;
using quarn_test::IntsOf;
using quarn_test::StringsOf;

std::vector<int> Ints(const QNL_intArray& array) {
    return std::vector<int>(array.Items(), array.Items() + array.GetCount());
}

std::string TextOf(const QNL_exprNode* tree) {
    std::string text;
    if (tree != nullptr) QNL_exprNode::ToSignedText(tree, text);
    return text;
}

class MauDefinition : public quarn_test::NetworkFixture {
protected:
    int Decision(const char* id, int choices) {
        const int d = Add(QNL_TYPE_LIST, id);
        EXPECT_EQ(net.GetNode(d)->GetDefinition()->SetNumberOfOutcomes(choices), 0);
        return d;
    }
    QNL_mau* Mau(int node) { return dynamic_cast<QNL_mau*>(net.GetNode(node)->GetDefinition()); }
    std::vector<double> Weights(int node) {
        QNL_doubleArray values;
        EXPECT_EQ(Mau(node)->GetDefinition(values), 0);
        return std::vector<double>(values.Items(), values.Items() + values.GetSize());
    }
    std::vector<int> Dims(int node) { return Ints(Mau(node)->GetWeights().GetDimensions()); }
    std::vector<int> Parents(int node) { return Ints(net.GetParents(node)); }
    static std::vector<std::string> ParentIds(QNL_network& network, int node) {
        std::vector<std::string> ids;
        for (int p : Ints(network.GetParents(node)))
            ids.push_back(network.GetNode(p)->GetId());
        return ids;
    }
    std::vector<std::string> Expressions(int node) { return Expressions(net, node); }
    static std::vector<std::string> Expressions(QNL_network& network, int node) {
        std::vector<std::string> texts;
        const auto* mau = dynamic_cast<QNL_mau*>(network.GetNode(node)->GetDefinition());
        const QNL_expressionMatrix* matrix = mau != nullptr ? mau->GetExpressions() : nullptr;
        for (int i = 0; matrix != nullptr && i < matrix->GetSize(); ++i)
            texts.push_back(TextOf(matrix->GetExpression(i)));
        return texts;
    }
    int SetTexts(int node, const std::vector<std::string>& texts) {
        error.clear();
        return Mau(node)->SetExpressions(StringsOf(texts), error);
    }

    int Utility(const char* id) { return Add(QNL_TYPE_TABLE, id); }
    void Arcs(std::initializer_list<int> parents, int child) {
        quarn_test::Arcs(net, parents, child);
    }

    std::string error;
};

// ---------------------------------------------------------------------------------------
// Weights and parents.

TEST_F(MauDefinition, UtilityParentsGetWeightOneDecisionsAddRowsAndOthersAreRefused) {
    const int m = Add(QNL_TYPE_MAU, "M"), d = Decision("D", 3);
    ASSERT_EQ(net.AddArc(d, m), 0);
    EXPECT_EQ(Mau(m)->GetSize(), 0); // no utility parent yet: no weights
    const int u1 = Utility("U1"), u2 = Add(QNL_TYPE_MAU, "U2");
    Arcs({u1, u2}, m);
    EXPECT_EQ(Dims(m), (std::vector<int>{3, 2}));
    EXPECT_EQ(Weights(m), std::vector<double>(6, 1.0));
    ASSERT_EQ(net.RemoveArc(u2, m), 0);
    ASSERT_EQ(net.RemoveArc(u1, m), 0);
    EXPECT_EQ(Mau(m)->GetSize(), 0);
    EXPECT_TRUE(Mau(m)->IsValid());

    // A chance parent and a weight table of another shape are refused with nothing changed.
    ASSERT_EQ(net.RemoveArc(d, m), 0);
    ASSERT_EQ(net.AddArc(u1, m), 0);
    ASSERT_EQ(Mau(m)->SetDefinition(ArrayOf({0.25})), 0);
    const int c = Add(QNL_TYPE_CPT, "C");
    EXPECT_NE(net.AddArc(c, m), 0);
    EXPECT_EQ(Mau(m)->AddParent(c), -2);
    EXPECT_EQ(Mau(m)->SetDefinition(ArrayOf({1, 2})), -2);
    EXPECT_EQ(Mau(m)->SetDefinition(QNL_Dmatrix(IntsOf({2, 1}))), -2);
    EXPECT_EQ(Parents(m), (std::vector<int>{u1}));
    EXPECT_EQ(Weights(m), (std::vector<double>{0.25}));
}

TEST_F(MauDefinition, WeightsFollowTheirParentsAndTheChoices) {
    const int n = Add(QNL_TYPE_MAU, "N");
    const int w1 = Utility("W1"), w2 = Utility("W2"), w3 = Utility("W3");
    Arcs({w1, w2, w3}, n);
    ASSERT_EQ(Mau(n)->SetDefinition(ArrayOf({1, 2, 3})), 0);
    ASSERT_EQ(net.ReorderParents(n, IntsOf({2, 0, 1})), 0);
    EXPECT_EQ(Weights(n), (std::vector<double>{3, 1, 2}));
    ASSERT_EQ(net.RemoveArc(w1, n), 0);
    EXPECT_EQ(Weights(n), (std::vector<double>{3, 2}));
    EXPECT_EQ(Ints(Mau(n)->GetUtilityParents()), (std::vector<int>{w3, w2}));

    const int m = Add(QNL_TYPE_MAU, "M");
    const int u1 = Utility("U1"), u2 = Utility("U2"), d = Decision("D", 2);
    Arcs({u1, d, u2}, m);
    ASSERT_EQ(Mau(m)->SetDefinition(ArrayOf({1, 2, 3, 4})), 0);
    QNL_nodeDefinition* list = net.GetNode(d)->GetDefinition();

    ASSERT_EQ(list->InsertOutcome(1, "Middle"), 0);
    EXPECT_EQ(Weights(m), (std::vector<double>{1, 2, 1, 1, 3, 4}));
    ASSERT_EQ(list->ReorderOutcomes(IntsOf({2, 0, 1})), 0);
    EXPECT_EQ(Weights(m), (std::vector<double>{3, 4, 1, 2, 1, 1}));
    ASSERT_EQ(list->RemoveOutcome(1), 0);
    EXPECT_EQ(Weights(m), (std::vector<double>{3, 4, 1, 1}));

    // A second decision placed first by the parent order becomes the first dimension.
    const int e = Decision("E", 2);
    ASSERT_EQ(net.AddArc(e, m), 0);
    ASSERT_EQ(Mau(m)->SetDefinition(ArrayOf({1, 2, 3, 4, 5, 6, 7, 8})), 0);
    ASSERT_EQ(net.ReorderParents(m, IntsOf({3, 0, 1, 2})), 0);
    EXPECT_EQ(Ints(Mau(m)->GetDecisionParents()), (std::vector<int>{e, d}));
    EXPECT_EQ(Weights(m), (std::vector<double>{1, 2, 5, 6, 3, 4, 7, 8}));
    ASSERT_EQ(net.RemoveArc(e, m), 0);
    EXPECT_EQ(Weights(m), (std::vector<double>{1, 2, 5, 6}));
}

TEST_F(MauDefinition, FactoryConversionsRebuildFromTheNodesParents) {
    const int t = Utility("T"), d = Decision("D", 2), c = Add(QNL_TYPE_CPT, "C"), u = Utility("U");
    Arcs({d, c}, t);
    ASSERT_EQ(net.GetNode(t)->SetType(QNL_TYPE_MAU), 0);
    EXPECT_EQ(Ints(Mau(t)->GetDecisionParents()), (std::vector<int>{d}));
    EXPECT_EQ(Mau(t)->GetSize(), 0);
    ASSERT_EQ(Mau(t)->RemoveInvalidParents(), 0);
    EXPECT_EQ(Parents(t), (std::vector<int>{d}));
    ASSERT_EQ(net.AddArc(u, t), 0);
    EXPECT_EQ(Weights(t), (std::vector<double>(2, 1.0)));

    // A decision list becomes a MAU node without its informational arcs.
    const int l = Decision("L", 2);
    ASSERT_EQ(net.AddArc(c, l), 0);
    ASSERT_EQ(net.GetNode(l)->SetType(QNL_TYPE_MAU), 0);
    EXPECT_TRUE(Parents(l).empty());
}

TEST_F(MauDefinition, ParentsLeaveEvenWhenTheWeightsWereReshapedFromOutside) {
    const int m = Add(QNL_TYPE_MAU, "M"), u = Utility("U"), v = Utility("V"), d = Decision("D", 2);
    Arcs({u, d, v}, m);
    QNL_Dmatrix* weights = nullptr;
    ASSERT_EQ(Mau(m)->GetDefinition(&weights), 0);
    ASSERT_EQ(weights->RemoveDimension(0, 0), 0);
    ASSERT_EQ(net.DeleteNode(v), 0);
    ASSERT_EQ(net.DeleteNode(d), 0);
    EXPECT_EQ(Parents(m), (std::vector<int>{u}));
    EXPECT_TRUE(Mau(m)->IsValid());
    EXPECT_EQ(Weights(m), (std::vector<double>{1}));
}

// ---------------------------------------------------------------------------------------
// Expressions.

TEST_F(MauDefinition, ExpressionsReplaceUtilityArcsByTheNamedNodes) {
    const int m = Add(QNL_TYPE_MAU, "M");
    const int b = Utility("B"), a = Utility("A"), x = Utility("X"), d = Decision("D", 2);
    Arcs({x, d}, m);
    ASSERT_EQ(SetTexts(m, {"2*B+A", "A^2"}), 0) << error;
    EXPECT_EQ(Parents(m), (std::vector<int>{d, a, b}));
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"2*B+A", "A^2"}));

    ASSERT_EQ(Mau(m)->SetExpressions(static_cast<const QNL_expressionMatrix*>(nullptr), error), 0);
    EXPECT_EQ(Mau(m)->GetExpressions(), nullptr);
    EXPECT_EQ(Parents(m), (std::vector<int>{d, a, b}));
}

TEST_F(MauDefinition, RefusedExpressionsChangeNothing) {
    const int m = Add(QNL_TYPE_MAU, "M"), u = Utility("U");
    Utility("V");
    Add(QNL_TYPE_CPT, "C");
    const int child = Add(QNL_TYPE_MAU, "Child"), d = Decision("D", 2);
    ASSERT_EQ(net.AddArc(m, child), 0);
    Arcs({d, u}, m);
    ASSERT_EQ(SetTexts(m, {"U", "U*3"}), 0) << error;
    const std::vector<int> parents = Parents(m);

    struct Case {
        std::vector<std::string> texts;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"V"}, "Wrong matrix dimensions"},
        {{"V", "M+V"}, "Invalid expression at index 1: self-references not allowed"},
        {{"Child", "V"},
         "Invalid expression at index 0: only non-descendant utility/ALU/MAU nodes are allowed"},
        {{"V", "C"},
         "Invalid expression at index 1: only non-descendant utility/ALU/MAU nodes are allowed"},
        {{"Nowhere", "V"}, "Invalid expression at index 0: unknown identifier"},
        {{"V+Normal(0,1)", "V"}, "Invalid expression at index 0: Distributions not allowed"},
        {{"V", "2*(V"}, "Invalid expression at index 1: ')' expected at position 4"},
    };
    for (const Case& refused : cases) {
        EXPECT_EQ(SetTexts(m, refused.texts), -2);
        EXPECT_EQ(error, refused.message);
        EXPECT_EQ(Parents(m), parents);
        EXPECT_EQ(Expressions(m), (std::vector<std::string>{"U", "U*3"}));
    }

    // A matrix of the wrong shape, and one with an empty cell, are refused the same way.
    QNL_expressionMatrix matrix;
    ASSERT_EQ(matrix.Setup(IntsOf({3})), 0);
    EXPECT_EQ(Mau(m)->SetExpressions(&matrix, error), -2);
    EXPECT_EQ(error, "Wrong matrix dimensions");
    ASSERT_EQ(Mau(m)->InitExpressionMatrix(matrix), 0);
    matrix.SetExpression(0, ParseExpression("V"));
    EXPECT_EQ(Mau(m)->SetExpressions(&matrix, error), -2);
    EXPECT_EQ(error, "Invalid expression at index 1: Empty expression");
    EXPECT_EQ(Parents(m), parents);
}

TEST_F(MauDefinition, RemovedUtilityParentLeavesTheOthersSummedAndUnnamedParentsLoseArcs) {
    const int m = Add(QNL_TYPE_MAU, "M");
    const int u = Utility("U"), v = Utility("V"), w = Utility("W"), d = Decision("D", 3);
    ASSERT_EQ(net.AddArc(d, m), 0);
    ASSERT_EQ(SetTexts(m, {"2*U+V", "-U*W", "V"}), 0) << error;
    ASSERT_EQ(net.DeleteNode(u), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"V", "W", "V"}));
    EXPECT_EQ(Parents(m), (std::vector<int>{d, v, w}));
    // By arc removal too, the other names in ascending order.
    const int again = Utility("U");
    ASSERT_EQ(SetTexts(m, {"2*W+U*V", "V", "V"}), 0) << error;
    ASSERT_EQ(net.RemoveArc(again, m), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"V+W", "V", "V"}));
    ASSERT_EQ(SetTexts(m, {"V", "W", "V"}), 0) << error;

    // A new choice sums the utility parents; W stays while some choice still names it.
    QNL_nodeDefinition* list = net.GetNode(d)->GetDefinition();
    ASSERT_EQ(list->AddOutcome("Fourth"), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"V", "W", "V", "V+W"}));
    ASSERT_EQ(list->RemoveOutcome(1), 0);
    EXPECT_EQ(Parents(m), (std::vector<int>{d, v, w}));
    ASSERT_EQ(list->RemoveOutcome(2), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"V", "V"}));
    EXPECT_EQ(Parents(m), (std::vector<int>{d, v}));

    // The last named parent leaves the constant 0, which the next utility parent replaces.
    ASSERT_EQ(net.RemoveArc(v, m), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"0", "0"}));
    EXPECT_EQ(Parents(m), (std::vector<int>{d}));
    ASSERT_EQ(net.AddArc(w, m), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"W", "W"}));

    // Removing the only decision keeps the expression of its first choice.
    ASSERT_EQ(SetTexts(m, {"V*3", "V"}), 0) << error;
    ASSERT_EQ(net.RemoveArc(d, m), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"V*3"}));
    EXPECT_TRUE(Mau(m)->IsValid());
}

TEST_F(MauDefinition, CopiesOwnTheirExpressions) {
    const int m = Add(QNL_TYPE_MAU, "M"), u = Utility("U");
    // A new decision replicates each expression as its own tree.
    ASSERT_EQ(SetTexts(m, {"U/2"}), 0) << error;
    const int d = Decision("D", 2);
    ASSERT_EQ(net.AddArc(d, m), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>(2, "U/2")));
    EXPECT_NE(Mau(m)->GetExpressions()->GetExpression(0),
              Mau(m)->GetExpressions()->GetExpression(1));
    ASSERT_EQ(SetTexts(m, {"2*U+1", "U*U"}), 0) << error;
    std::unique_ptr<QNL_nodeDefinition> copy(Mau(m)->CreateCopy());
    auto* mau = dynamic_cast<QNL_mau*>(copy.get());
    ASSERT_NE(mau, nullptr);

    // Assigning from a MAU of the same node takes its weights and expressions back.
    ASSERT_EQ(SetTexts(m, {"U", "U"}), 0) << error;
    ASSERT_EQ(Mau(m)->Assign(*mau), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"2*U+1", "U*U"}));

    QNL_network duplicate(net);
    // Renaming a named parent renames its variables, in the network's definition only.
    ASSERT_EQ(net.GetNode(u)->SetId("V"), 0);
    EXPECT_EQ(Expressions(m), (std::vector<std::string>{"2*V+1", "V*V"}));
    EXPECT_EQ(TextOf(mau->GetExpressions()->GetExpression(1)), "U*U");
    auto* copied = dynamic_cast<QNL_mau*>(duplicate.GetNode(m)->GetDefinition());
    EXPECT_EQ(TextOf(copied->GetExpressions()->GetExpression(1)), "U*U");
    ASSERT_EQ(net.DeleteNode(m), 0);
    EXPECT_EQ(TextOf(mau->GetExpressions()->GetExpression(0)), "2*U+1");
}

// ---------------------------------------------------------------------------------------
// The value computed from the parents.

class MauValue : public MauDefinition {
protected:
    QNL_mauValue* Value(int node) {
        return dynamic_cast<QNL_mauValue*>(net.GetNode(node)->GetValue());
    }
    QNL_Dmatrix* Matrix(int node) { return net.GetNode(node)->GetValue()->GetMatrix(); }
    std::vector<double> Computed(int node) {
        const QNL_Dmatrix* matrix = Matrix(node);
        return std::vector<double>(matrix->GetItems().Items(),
                                   matrix->GetItems().Items() + matrix->GetSize());
    }
};

TEST_F(MauValue, ExpressionsMatchAHandComputation) {
    const int m = Add(QNL_TYPE_MAU, "M");
    const int u1 = Utility("U1"), u2 = Utility("U2"), d = Decision("D", 2);
    Arcs({u1, d, u2}, m);
    // U1 is indexed by the decision: 10 under the first choice, 20 under the second.
    ASSERT_EQ(net.GetNode(u1)->GetValue()->AddIndexingParent(d), 0);
    Matrix(u1)->GetItems()[0] = 10;
    Matrix(u1)->GetItems()[1] = 20;
    Matrix(u2)->GetItems()[0] = 5;
    ASSERT_EQ(Value(m)->AddIndexingParent(d), 0);

    ASSERT_EQ(SetTexts(m, {"U1*U2", "-(U1-U2)"}), 0) << error;
    ASSERT_EQ(Value(m)->ComputeFromParents(), 0);
    EXPECT_EQ(Computed(m), (std::vector<double>{50, -15}));

    Matrix(u2)->GetItems()[0] = kUndefined;
    ASSERT_EQ(Value(m)->ComputeFromParents(), 0);
    EXPECT_EQ(Computed(m), (std::vector<double>{kUndefined, kUndefined}));
}

// A utility parent added to stored expressions is named by every one of them, so it outlives
// the removal of another parent; the values follow the rewritten expressions, and the texts
// come back unchanged from the XML format.
TEST_F(MauValue, AddedUtilityParentJoinsEveryExpressionAndOutlivesARemoval) {
    struct Case {
        int choices; // 0: no decision parent
        std::vector<std::string> texts, added, removed, parents;
        std::vector<double> values; // after the removal, with U1 = 10, U2 = 20, U3 = 7
    };
    const std::vector<Case> cases = {
        {0, {"U1+U2"}, {"U1+U2+U3"}, {"U1+U3"}, {"U1", "U3"}, {17}},
        {2, {"-(U1-U2)", "0"}, {"-(U1-U2)+U3", "U3"}, {"U1+U3", "U3"}, {"D", "U1", "U3"}, {17, 7}},
        {2,
         {"U2/2", "U1^2"},
         {"U2/2+U3", "U1^2+U3"},
         {"U3", "U1^2+U3"},
         {"D", "U1", "U3"},
         {7, 107}},
        {3,
         {"U2<U1", "U2", "U2"},
         {"(U2<U1)+U3", "U2+U3", "U2+U3"},
         {"U1+U3", "U3", "U3"},
         {"D", "U1", "U3"},
         {17, 7, 7}},
        {2, {"U2", "U2*U2"}, {"U2+U3", "U2*U2+U3"}, {"U3", "U3"}, {"D", "U3"}, {7, 7}},
    };
    const std::string path = quarn_test::TestFile("mau_rewritten.xqnl");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.texts[0]);
        net.DeleteAllNodes();
        const int m = Add(QNL_TYPE_MAU, "M");
        const int u1 = Utility("U1"), u2 = Utility("U2"), u3 = Add(QNL_TYPE_MAU, "U3");
        if (c.choices > 0) {
            const int d = Decision("D", c.choices);
            ASSERT_EQ(net.AddArc(d, m), 0);
            ASSERT_EQ(Value(m)->AddIndexingParent(d), 0);
        }
        ASSERT_EQ(SetTexts(m, c.texts), 0) << error;
        ASSERT_EQ(net.AddArc(u3, m), 0);
        EXPECT_EQ(Expressions(m), c.added);
        // A copy of the network rewrites its own expressions only.
        QNL_network copy(net);
        ASSERT_EQ(copy.RemoveArc(u3, m), 0);
        EXPECT_EQ(Expressions(m), c.added);

        ASSERT_EQ(net.RemoveArc(u2, m), 0);
        EXPECT_EQ(Expressions(m), c.removed);
        EXPECT_EQ(ParentIds(net, m), c.parents);
        Matrix(u1)->GetItems()[0] = 10;
        Matrix(u2)->GetItems()[0] = 20;
        Matrix(u3)->GetItems()[0] = 7;
        ASSERT_EQ(Value(m)->ComputeFromParents(), 0);
        EXPECT_EQ(Computed(m), c.values);

        QNL_network back;
        ASSERT_EQ(net.WriteFile(path.c_str()), 0);
        ASSERT_EQ(back.ReadFile(path.c_str()), 0);
        EXPECT_EQ(Expressions(back, back.FindNode("M")), c.removed);
        EXPECT_EQ(ParentIds(back, back.FindNode("M")), c.parents);

        // Expressions set while parents are present are stored exactly as given.
        std::vector<std::string> given(c.texts.size(), "U3*2");
        given[0] = "U2-U1*U3";
        ASSERT_EQ(SetTexts(m, given), 0) << error;
        EXPECT_EQ(Expressions(m), given);
    }
    std::remove(path.c_str());
}

// Random additions and removals of utility parents, with new expressions set now and then,
// against a model of the rewrite rules evaluated directly: the arcs kept and the utilities
// computed must agree with it after every edit.
TEST_F(MauValue, RandomParentEditsAgreeWithTheRewriteRules) {
    using Utilities = std::map<std::string, double>;
    using Formula = std::function<double(const Utilities&)>;
    // One expression of the model: what it computes and the identifiers it names; the
    // constant 0 names none and is the only one that does so.
    struct Cell {
        const char* text;
        std::set<std::string> names;
        Formula f;
    };
    const std::vector<Cell> pool = {
        {"2*U1+U2", {"U1", "U2"}, [](const Utilities& u) { return 2 * u.at("U1") + u.at("U2"); }},
        {"U3*U4-U1",
         {"U1", "U3", "U4"},
         [](const Utilities& u) { return u.at("U3") * u.at("U4") - u.at("U1"); }},
        {"0", {}, [](const Utilities&) { return 0.0; }},
        {"-(U2-U4)", {"U2", "U4"}, [](const Utilities& u) { return u.at("U4") - u.at("U2"); }},
        {"U1/4+U3^2",
         {"U1", "U3"},
         [](const Utilities& u) { return u.at("U1") / 4 + u.at("U3") * u.at("U3"); }},
    };
    auto sum = [](const std::set<std::string>& names) -> Formula {
        return [names](const Utilities& u) {
            double total = 0.0;
            for (const std::string& n : names)
                total += u.at(n);
            return total;
        };
    };

    std::mt19937 random(2024);
    std::uniform_real_distribution<double> draw(-3.0, 3.0);
    const std::vector<std::string> ids = {"U1", "U2", "U3", "U4"};
    for (int round = 0; round < 12; ++round) {
        net.DeleteAllNodes();
        const int m = Add(QNL_TYPE_MAU, "M"), d = Decision("D", 2);
        std::map<std::string, int> handle;
        for (const std::string& id : ids)
            handle[id] = id == "U4" ? Add(QNL_TYPE_MAU, "U4") : Utility(id.c_str());
        ASSERT_EQ(net.AddArc(d, m), 0);
        ASSERT_EQ(Value(m)->AddIndexingParent(d), 0);
        std::vector<Cell> cells;
        for (int step = 0; step < 30; ++step) {
            const std::string id = ids[random() % ids.size()];
            if (step == 0 || random() % 8 == 0) {
                cells = {pool[random() % pool.size()], pool[random() % pool.size()]};
                ASSERT_EQ(SetTexts(m, {cells[0].text, cells[1].text}), 0) << error;
            } else if (net.GetParents(m).IsInList(handle[id])) {
                ASSERT_EQ(net.RemoveArc(handle[id], m), 0);
                for (Cell& cell : cells)
                    if (cell.names.erase(id) > 0) cell.f = sum(cell.names);
            } else {
                ASSERT_EQ(net.AddArc(handle[id], m), 0);
                for (Cell& cell : cells) {
                    const Formula before = cell.f;
                    cell.f = cell.names.empty() ? sum({id}) : [before, id](const Utilities& u) {
                        return before(u) + u.at(id);
                    };
                    cell.names.insert(id);
                }
            }

            std::set<std::string> named = {"D"};
            for (const Cell& cell : cells)
                named.insert(cell.names.begin(), cell.names.end());
            const std::vector<std::string> parents = ParentIds(net, m);
            ASSERT_EQ(std::set<std::string>(parents.begin(), parents.end()), named)
                << "round " << round << " step " << step;
            Utilities values;
            for (const std::string& name : ids)
                Matrix(handle[name])->GetItems()[0] = values[name] = draw(random);
            ASSERT_EQ(Value(m)->ComputeFromParents(), 0);
            const std::vector<double> computed = Computed(m);
            for (std::size_t c = 0; c < cells.size(); ++c) {
                const double want = cells[c].f(values);
                ASSERT_NEAR(computed[c], want, 1e-9 * (1 + std::fabs(want)))
                    << "round " << round << " step " << step << " cell " << c;
            }
        }
    }
}

// Two decisions, one indexing the MAU value and one chosen (once it is); utility parents indexed by
// different decisions in different orders. Compared with a direct evaluation of the sum.
TEST_F(MauValue, RandomWeightsAgreeWithBruteForce) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> draw(-5.0, 5.0);
    const int m = Add(QNL_TYPE_MAU, "M");
    const int a = Decision("A", 3), b = Decision("B", 2), u1 = Utility("U1");
    const int u2 = Add(QNL_TYPE_MAU, "U2");
    Arcs({b, u1, a, u2}, m);
    ASSERT_EQ(Dims(m), (std::vector<int>{2, 3, 2}));
    std::vector<double> w(12);
    for (double& x : w)
        x = draw(random);
    ASSERT_EQ(Mau(m)->SetDefinition(ArrayOf(w)), 0);
    ASSERT_EQ(net.GetNode(u1)->GetValue()->AddIndexingParent(a), 0);
    ASSERT_EQ(net.GetNode(u2)->GetValue()->AddIndexingParent(b), 0);
    ASSERT_EQ(net.GetNode(u2)->GetValue()->AddIndexingParent(a), 0);
    std::vector<double> v1(3), v2(6);
    for (int i = 0; i < 3; ++i)
        Matrix(u1)->GetItems()[i] = v1[static_cast<std::size_t>(i)] = draw(random);
    for (int i = 0; i < 6; ++i)
        Matrix(u2)->GetItems()[i] = v2[static_cast<std::size_t>(i)] = draw(random);
    ASSERT_EQ(Value(m)->AddIndexingParent(a), 0);
    // B neither chosen nor indexing the value: refused with the value unchanged.
    Matrix(m)->GetItems()[0] = 99;
    EXPECT_EQ(Value(m)->ComputeFromParents(), -2);
    EXPECT_EQ(Computed(m)[0], 99);
    ASSERT_EQ(net.GetNode(b)->GetValue()->SetEvidence(1), 0);

    ASSERT_EQ(Value(m)->ComputeFromParents(), 0);
    const std::vector<double> result = Computed(m);
    ASSERT_EQ(result.size(), 3u);
    const int chosenB = 1;
    for (int ia = 0; ia < 3; ++ia) {
        const double utility1 = v1[static_cast<std::size_t>(ia)];
        const double utility2 = v2[static_cast<std::size_t>(chosenB * 3 + ia)];
        const std::size_t row = static_cast<std::size_t>((chosenB * 3 + ia) * 2);
        EXPECT_DOUBLE_EQ(result[static_cast<std::size_t>(ia)],
                         w[row] * utility1 + w[row + 1] * utility2)
            << "A = " << ia;
    }
}

} // namespace
