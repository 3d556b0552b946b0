#include "definitions/equation.h"
#include "definitions/equation_scc.h"
#include "definitions/node_value.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using quarn_test::NetworkFixture;

std::string LastMessage() {
    const QNL_errorHandler& log = QNL_errorHandler::Instance();
    const int n = log.GetNumberOfErrors();
    return n > 0 && log.GetMessage(n - 1) != nullptr ? log.GetMessage(n - 1) : "";
}

class Equations : public NetworkFixture {
protected:
    QNL_equation* Eq(int node) { return dynamic_cast<QNL_equation*>(Def(node)); }
    std::string Text(int node) {
        std::string text;
        Eq(node)->GetEquation().GetText(text);
        return text;
    }
    std::vector<int> Parents(int node) {
        const QNL_intArray& parents = net.GetParents(node);
        return std::vector<int>(parents.Items(), parents.Items() + parents.GetCount());
    }
    int Set(int node, const std::string& text) {
        return Eq(node)->SetEquation(text, nullptr, nullptr);
    }
};

TEST(ParsedEquation, CodesVariablesAndSolving) {
    QNL_parsedEquation e;
    std::string message;
    EXPECT_EQ(e.SetEquation("X + 1", nullptr, &message), -3);
    EXPECT_EQ(message, "Toplevel '=' sign missing in equation");
    EXPECT_EQ(e.SetEquation("X = (1", nullptr, &message), -2);
    ASSERT_EQ(e.SetEquation("X = 2*Y + Z", nullptr, nullptr), 0);
    std::vector<std::string> names;
    e.GetVariables(names);
    EXPECT_EQ(names, (std::vector<std::string>{"X", "Y", "Z"}));
    ASSERT_EQ(e.SolveFor("Y"), 0);
    EXPECT_EQ(QNL_exprNode::CountVariable(e.GetRight(), "Y"), 0);
    for (double x : {-3.0, 0.5, 7.0}) {
        e.SetVariableValue("X", x);
        e.SetVariableValue("Z", 1.0);
        EXPECT_NEAR(EvaluateSigned(e.GetRight()), (x - 1) / 2, 1e-12);
    }
    // The variable on both sides can't be isolated; the equation stays as it was.
    ASSERT_EQ(e.SetEquation("X = X + 1", nullptr, nullptr), 0);
    EXPECT_EQ(e.SolveFor("X"), -2);
    std::string text;
    e.GetText(text);
    EXPECT_EQ(text, "X=X+1");
}

TEST_F(Equations, ParentsExtendTheEquationAndOtherTypesAreRefused) {
    const int x = Add(QNL_TYPE_EQUATION, "X");
    const int y = Add(QNL_TYPE_EQUATION, "Y");
    const int z = Add(QNL_TYPE_EQUATION_SCC, "Z");
    const int c = Add(QNL_TYPE_CPT, "C");
    EXPECT_EQ(Text(x), "X=0");
    EXPECT_EQ(Eq(x)->GetLowerBound(), -1.0);
    EXPECT_EQ(Eq(x)->GetUpperBound(), 1.0);
    ASSERT_EQ(net.AddArc(y, x), 0);
    EXPECT_EQ(Text(x), "X=Y");
    ASSERT_EQ(net.AddArc(z, x), 0);
    EXPECT_EQ(Text(x), "X=Y+Z");
    EXPECT_NE(net.AddArc(c, x), 0);
    EXPECT_EQ(QNL_errorHandler::Instance().GetMessage(0),
              std::string("Only QNL_equation or QNL_equationSCC can be the parents."));
    EXPECT_EQ(Parents(x), (std::vector<int>{y, z}));
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.GetNode(c)->SetType("EQUATION"), 0);
    EXPECT_EQ(net.GetNode(c)->SetType("EQUATION_SCC"), 0);
}

TEST_F(Equations, RefusedEquationsKeepTextAndArcs) {
    const int x = Add(QNL_TYPE_EQUATION, "X");
    const int y = Add(QNL_TYPE_EQUATION, "Y");
    const int w = Add(QNL_TYPE_EQUATION, "W");
    Add(QNL_TYPE_CPT, "C");
    ASSERT_EQ(Set(y, "Y = X * 2"), 0); // Y is now X's child
    ASSERT_EQ(Set(x, "X = W - 1"), 0);
    const struct {
        const char* text;
        const char* message;
    } refused[] = {
        {"", "Equation cannot be empty."},
        {"X + 1", "Toplevel '=' sign missing in equation"},
        {"X = Q + 1", "Unknown node identifier: Q"},
        {"X = Y", "Node Y can't be used in equation for current node, because it would result in "
                  "a cycle."},
        {"X = C", "Only QNL_equation or QNL_equationSCC can be the parents."},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.text);
        QNL_errorHandler::Instance().Flush();
        std::string error;
        EXPECT_EQ(Eq(x)->SetEquation(r.text, nullptr, &error), -2);
        EXPECT_EQ(error, r.message);
        EXPECT_EQ(QNL_errorHandler::Instance().GetCode(0), -2);
        EXPECT_EQ(LastMessage(), r.message);
        EXPECT_EQ(Text(x), "X=W-1");
        EXPECT_EQ(Parents(x), (std::vector<int>{w}));
    }
}

TEST_F(Equations, RewiringFollowsTheTextAndInvalidatesDependents) {
    const int a = Add(QNL_TYPE_EQUATION, "A");
    const int b = Add(QNL_TYPE_EQUATION, "B");
    const int x = Add(QNL_TYPE_EQUATION, "X");
    const int y = Add(QNL_TYPE_EQUATION, "Y");
    ASSERT_EQ(Set(x, "X = A + B"), 0);
    ASSERT_EQ(Set(y, "Y = X"), 0);
    net.GetNode(x)->GetValue()->SetValidFlag(true);
    net.GetNode(y)->GetValue()->SetValidFlag(true);
    ASSERT_EQ(Set(x, "2*X = Sqr(B)"), 0);
    EXPECT_EQ(Parents(x), (std::vector<int>{b}));
    EXPECT_EQ(net.GetChildren(a).GetCount(), 0);
    EXPECT_FALSE(net.GetNode(x)->GetValue()->IsValueValid());
    EXPECT_FALSE(net.GetNode(y)->GetValue()->IsValueValid());
    // Removing a parent keeps the rest of the user's equation.
    ASSERT_EQ(Set(x, "X = A*B + Sin(A) - 3"), 0);
    ASSERT_EQ(net.RemoveArc(a, x), 0);
    EXPECT_EQ(Text(x), "X=0*B+Sin(0)-3");
    EXPECT_EQ(Parents(x), (std::vector<int>{b}));
}

TEST_F(Equations, RenamesReachBothSidesAndSetMembers) {
    const int x = Add(QNL_TYPE_EQUATION, "X");
    const int y = Add(QNL_TYPE_EQUATION, "Y");
    ASSERT_EQ(Set(x, "X = Y + 1"), 0);
    ASSERT_EQ(net.GetNode(y)->SetId("W"), 0);
    EXPECT_EQ(Text(x), "X=W+1");
    ASSERT_EQ(net.GetNode(x)->SetId("V"), 0);
    EXPECT_EQ(Text(x), "V=W+1");

    const int a = Add(QNL_TYPE_EQUATION_SCC, "a");
    const int b = Add(QNL_TYPE_EQUATION_SCC, "b");
    auto* sa = dynamic_cast<QNL_equationSCC*>(Def(a));
    ASSERT_EQ(sa->SetMembers(quarn_test::StringsOf({"b"})), 0);
    ASSERT_EQ(Set(a, "a = b + 1"), 0);
    ASSERT_EQ(net.GetNode(b)->SetId("c"), 0);
    EXPECT_EQ(Text(a), "a=c+1");
    EXPECT_EQ(sa->GetMembers(), (std::set<std::string>{"c"}));
}

TEST_F(Equations, SetEquationsCheckTheirVariablesWithoutTouchingArcs) {
    const int a = Add(QNL_TYPE_EQUATION_SCC, "a");
    const int b = Add(QNL_TYPE_EQUATION_SCC, "b");
    const int p = Add(QNL_TYPE_EQUATION, "p");
    Add(QNL_TYPE_EQUATION, "q");
    auto* sa = dynamic_cast<QNL_equationSCC*>(Def(a));
    EXPECT_EQ(Text(a), "a=0");
    ASSERT_EQ(net.AddArc(p, a), 0);
    EXPECT_EQ(Text(a), "a=p");
    const struct {
        const char* text;
        const char* message;
    } refused[] = {
        {"", "Equation cannot be empty."},
        {"a = (b", "Equation syntax error"},
        {"a + b", "Equation syntax error"},
        {"a = b", "Equation contains a variable (b) which is not ID of this node, one of its "
                  "parents, or one of its scc varaibles."},
        {"a = q", "Equation contains a variable (q) which is not ID of this node, one of its "
                  "parents, or one of its scc varaibles."},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.text);
        std::string error;
        EXPECT_EQ(sa->SetEquation(r.text, nullptr, &error), -2);
        EXPECT_EQ(error, r.message);
        EXPECT_EQ(Text(a), "a=p");
    }
    ASSERT_EQ(sa->SetMembers(quarn_test::StringsOf({"b"})), 0);
    ASSERT_EQ(Set(a, "a = 2*b - p"), 0);
    EXPECT_EQ(net.GetParents(a).GetCount(), 1);
    EXPECT_EQ(net.GetParents(b).GetCount(), 0);
    // A set that no longer holds a named member, or names a missing node, is refused.
    EXPECT_EQ(sa->SetMembers(quarn_test::StringsOf({})), -2);
    EXPECT_EQ(sa->SetMembers(quarn_test::StringsOf({"b", "nowhere"})), -2);
    EXPECT_EQ(sa->GetMembers(), (std::set<std::string>{"b"}));
    QNL_errorHandler::Instance().Flush();
}

// Random texts over the nodes: printed, parsed again and printed once more they give the
// same text and the same value, also after renames and parent edits.
TEST_F(Equations, RandomTextsRoundTripUnderRenamesAndParentEdits) {
    std::mt19937 random(24);
    const int x = Add(QNL_TYPE_EQUATION, "X");
    const int p[] = {Add(QNL_TYPE_EQUATION, "P0"), Add(QNL_TYPE_EQUATION, "P1"),
                     Add(QNL_TYPE_EQUATION, "P2")};
    std::vector<std::string> names = {"P0", "P1", "P2"};
    std::function<std::string(int)> term = [&](int depth) -> std::string {
        static const char* ops[] = {"+", "-", "*", "/", "^"};
        switch (random() % (depth > 3 ? 2 : 6)) {
        case 0:
            return names[random() % names.size()];
        case 1:
            return std::to_string(static_cast<int>(random() % 19) - 9) + ".25";
        case 2:
            return "-(" + term(depth + 1) + ")";
        case 3:
            return "Sin(" + term(depth + 1) + ")";
        default:
            return term(depth + 1) + ops[random() % 5] + term(depth + 1);
        }
    };
    auto evaluate = [&](const std::string& text) {
        QNL_parsedEquation e;
        EXPECT_EQ(e.SetEquation(text, nullptr, nullptr), 0) << text;
        for (std::size_t i = 0; i < names.size(); ++i)
            e.SetVariableValue(names[i], 0.3 + static_cast<double>(i));
        return EvaluateSigned(e.GetRight());
    };
    int compared = 0;
    for (int round = 0; round < 60; ++round) {
        const std::string source = "X=" + term(0);
        if (Set(x, source) != 0) continue;
        const std::string printed = Text(x);
        ASSERT_EQ(Set(x, printed), 0) << printed;
        EXPECT_EQ(Text(x), printed);
        const double before = evaluate(printed);
        // A rename changes names only; the value bound under the new name is the same.
        const int which = static_cast<int>(random() % 3);
        const std::string renamed = "R" + std::to_string(round);
        ASSERT_EQ(net.GetNode(p[which])->SetId(renamed.c_str()), 0);
        names[which] = renamed;
        const double after = evaluate(Text(x));
        if (std::isfinite(before)) {
            EXPECT_EQ(before, after) << printed << " -> " << Text(x);
            ++compared;
        }
        // A removed parent leaves a text that parses back to itself.
        if (net.GetParents(x).GetCount() > 0) {
            ASSERT_EQ(net.RemoveArc(net.GetParents(x)[0], x), 0);
            const std::string edited = Text(x);
            ASSERT_EQ(Set(x, edited), 0) << edited;
            EXPECT_EQ(Text(x), edited);
        }
    }
    EXPECT_GT(compared, 30);
}

} // namespace
