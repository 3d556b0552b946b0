#include "definitions/equation.h"
#include "definitions/equation_scc.h"
#include "definitions/node_value.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using quarn_test::LastMessage;
using quarn_test::NetworkFixture;
using quarn_test::StringsOf;

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

// A parsed equation solved for Y gives (X - Z) / 2; the variable on both sides can't be
// isolated, and the equation stays as it was.
TEST(ParsedEquation, CodesVariablesAndSolving) {
    QNL_parsedEquation e;
    std::string message;
    EXPECT_EQ(e.SetEquation("X + 1", nullptr, &message), -3);
    EXPECT_EQ(message, "Toplevel '=' sign missing in equation");
    EXPECT_EQ(e.SetEquation("X = (1", nullptr, &message), -2);
    ASSERT_EQ(e.SetEquation("X = 2*Y + Z", nullptr, nullptr), 0);
    ASSERT_EQ(e.SolveFor("Y"), 0);
    e.SetVariableValue("X", 7.0);
    e.SetVariableValue("Z", 1.0);
    EXPECT_EQ(EvaluateSigned(e.GetRight()), 3.0);
    ASSERT_EQ(e.SetEquation("X = X + 1", nullptr, nullptr), 0);
    EXPECT_EQ(e.SolveFor("X"), -2);
    std::string text;
    e.GetText(text);
    EXPECT_EQ(text, "X=X+1");
}

// Arcs extend the text. A refused equation of a plain node (X) or of a set node (a) leaves
// text and arcs as they were and logs its message; a set node's own variables don't add arcs,
// and a renamed member is renamed in the set and its equations.
TEST_F(Equations, ArcsExtendTheTextAndRefusalsKeepTextAndArcs) {
    const int x = Add(QNL_TYPE_EQUATION, "X");
    const int y = Add(QNL_TYPE_EQUATION, "Y");
    const int w = Add(QNL_TYPE_EQUATION, "W");
    const int c = Add(QNL_TYPE_CPT, "C");
    const int a = Add(QNL_TYPE_EQUATION_SCC, "a");
    const int b = Add(QNL_TYPE_EQUATION_SCC, "b");
    const int p = Add(QNL_TYPE_EQUATION, "p");
    Add(QNL_TYPE_EQUATION, "q");
    EXPECT_EQ(Text(x), "X=0");
    ASSERT_EQ(net.AddArc(w, x), 0);
    ASSERT_EQ(net.AddArc(b, x), 0);
    EXPECT_EQ(Text(x), "X=W+b");
    const std::string onlyEquations = "Only QNL_equation or QNL_equationSCC can be the parents.";
    QNL_errorHandler::Instance().Flush();
    EXPECT_NE(net.AddArc(c, x), 0);
    EXPECT_EQ(QNL_errorHandler::Instance().GetMessage(0), onlyEquations);
    EXPECT_EQ(Parents(x), (std::vector<int>{w, b}));
    ASSERT_EQ(net.AddArc(p, a), 0);
    ASSERT_EQ(Set(y, "Y = X * 2"), 0);
    ASSERT_EQ(Set(x, "X = W - 1"), 0);
    const std::string notMine = ") which is not ID of this node, one of its parents, or one of "
                                "its scc varaibles.";
    const struct {
        int node;
        const char* text;
        std::string message;
    } refused[] = {
        {x, "", "Equation cannot be empty."},
        {x, "X + 1", "Toplevel '=' sign missing in equation"},
        {x, "X = Q + 1", "Unknown node identifier: Q"},
        {x, "X = Y",
         "Node Y can't be used in equation for current node, because it would "
         "result in a cycle."},
        {x, "X = C", onlyEquations},
        {a, "", "Equation cannot be empty."},
        {a, "a = (b", "Equation syntax error"},
        {a, "a + b", "Equation syntax error"},
        {a, "a = b", "Equation contains a variable (b" + notMine},
        {a, "a = q", "Equation contains a variable (q" + notMine},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.text);
        QNL_errorHandler::Instance().Flush();
        std::string error;
        EXPECT_EQ(Eq(r.node)->SetEquation(r.text, nullptr, &error), -2);
        EXPECT_EQ(error, r.message);
        EXPECT_EQ(QNL_errorHandler::Instance().GetCode(0), -2);
        EXPECT_EQ(LastMessage(), r.message);
        EXPECT_EQ(std::vector<std::string>({Text(x), Text(a)}),
                  std::vector<std::string>({"X=W-1", "a=p"}));
        EXPECT_EQ(Parents(x), (std::vector<int>{w}));
    }
    auto* sa = dynamic_cast<QNL_equationSCC*>(Def(a));
    ASSERT_EQ(sa->SetMembers(StringsOf({"b"})), 0);
    ASSERT_EQ(Set(a, "a = 2*b - p"), 0);
    EXPECT_EQ(Parents(a), (std::vector<int>{p}));
    EXPECT_EQ(net.GetParents(b).GetCount(), 0);
    // A set that no longer holds a named member, or names a missing node, is refused.
    EXPECT_EQ(sa->SetMembers(StringsOf({})), -2);
    EXPECT_EQ(sa->SetMembers(StringsOf({"b", "nowhere"})), -2);
    ASSERT_EQ(net.GetNode(b)->SetId("c"), 0);
    EXPECT_EQ(Text(a), "a=2*c-p");
    EXPECT_EQ(sa->GetMembers(), (std::set<std::string>{"c"}));
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.GetNode(c)->SetType(QNL_TYPE_EQUATION), 0);
    EXPECT_EQ(net.GetNode(c)->SetType(QNL_TYPE_EQUATION_SCC), 0);
}

// A new text rewires the parents and makes dependent values stale; removing a parent keeps
// the rest of the user's equation. Renames reach both sides.
TEST_F(Equations, EditsAndRenamesFollowTheText) {
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
    ASSERT_EQ(Set(x, "X = A*B + Sin(A) - 3"), 0);
    ASSERT_EQ(net.RemoveArc(a, x), 0);
    EXPECT_EQ(Text(x), "X=0*B+Sin(0)-3");
    EXPECT_EQ(Parents(x), (std::vector<int>{b}));

    ASSERT_EQ(Set(x, "X = B + 1"), 0);
    ASSERT_EQ(net.GetNode(b)->SetId("W"), 0);
    ASSERT_EQ(net.GetNode(x)->SetId("V"), 0);
    EXPECT_EQ(Text(x), "V=W+1");
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
        const auto kind = random() % (depth > 3 ? 2 : 6);
        if (kind == 0) return names[random() % names.size()];
        if (kind == 1) return std::to_string(static_cast<int>(random() % 19) - 9) + ".25";
        if (kind == 2) return "-(" + term(depth + 1) + ")";
        if (kind == 3) return "Sin(" + term(depth + 1) + ")";
        return term(depth + 1) + ops[random() % 5] + term(depth + 1);
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

// Whether an equation draws from a distribution follows its text through parsing, refusals,
// copies, moves, edits, solving and a removed parent; the oracle looks for a distribution's
// name in the printed text.
TEST_F(Equations, WhetherAnEquationDrawsFollowsItsText) {
    auto draws = [](const QNL_parsedEquation& e) {
        std::string text;
        e.GetText(text);
        for (const char* name : {"Normal(", "Uniform(", "Exponential("})
            if (text.find(name) != std::string::npos) return true;
        return false;
    };
    for (const char* text : {"Y = 2*X + 1", "Y = X + Normal(0, 1)", "Y = Sin(Uniform(0, X)) - X",
                             "Y + Exponential(1) = X", "2*Y = X"}) {
        SCOPED_TRACE(text);
        QNL_parsedEquation e;
        ASSERT_EQ(e.SetEquation(text, nullptr, nullptr), 0);
        const bool random = draws(e);
        EXPECT_EQ(e.IsRandom(), random);
        EXPECT_NE(e.SetEquation("Y = (", nullptr, nullptr), 0);
        EXPECT_EQ(e.IsRandom(), random);
        QNL_parsedEquation copy(e), assigned;
        assigned = e;
        EXPECT_EQ(copy.IsRandom(), random);
        EXPECT_EQ(assigned.IsRandom(), random);
        QNL_parsedEquation moved(std::move(copy));
        EXPECT_EQ(moved.IsRandom(), random);
        EXPECT_EQ(copy.IsRandom(), draws(copy));
        assigned = QNL_parsedEquation();
        EXPECT_FALSE(assigned.IsRandom());
        e.AddTerm("Z");
        e.RenameVariable("X", "W");
        e.SetVariableValue("W", 2.0);
        EXPECT_EQ(e.IsRandom(), draws(e));
        if (e.SolveFor("Z") == 0) {
            EXPECT_EQ(e.IsRandom(), draws(e));
        }
        ASSERT_EQ(e.SetEquation("Y = 1", nullptr, nullptr), 0);
        EXPECT_FALSE(e.IsRandom());
    }

    const int p = Add(QNL_TYPE_EQUATION, "P");
    const int x = Add(QNL_TYPE_EQUATION, "X");
    for (const char* text : {"X = Normal(P, 1)", "X = P + 1"}) {
        SCOPED_TRACE(text);
        ASSERT_EQ(Set(x, text), 0);
        ASSERT_EQ(net.RemoveArc(p, x), 0);
        EXPECT_EQ(Eq(x)->GetEquation().IsRandom(), draws(Eq(x)->GetEquation())) << Text(x);
        QNL_network copy(net);
        auto* copied = dynamic_cast<QNL_equation*>(copy.GetNode(x)->GetDefinition());
        EXPECT_EQ(copied->GetEquation().IsRandom(), draws(Eq(x)->GetEquation()));
    }
}

// Sets of simultaneous equations name their members without arcs. Renames, some of them to
// names just given up by other nodes, and copies of the network in between: every equation
// keeps naming the same nodes and every set the same members (the oracle resolves the names
// again), and a rename tells only the children, the node's own equation and the sets that
// hold it.
TEST(EquationSets, RenamedMembersReachTheirSetsAndNoOtherDefinition) {
    constexpr int kSets = 40, kRoots = 10, kLeaves = 10;
    quarn_test::TestRandom random(3);
    auto net = std::make_unique<QNL_network>();
    auto add = [&](int type, const std::string& id) {
        const int h = net->AddNode(type, id.c_str());
        EXPECT_GE(h, 0) << id;
        return h;
    };
    std::vector<int> roots, sets, leaves;
    for (int i = 0; i < kRoots; ++i)
        roots.push_back(add(QNL_TYPE_EQUATION, "E" + std::to_string(i)));
    for (int i = 0; i < kSets; ++i)
        sets.push_back(add(QNL_TYPE_EQUATION_SCC, "S" + std::to_string(i)));
    for (int i = 0; i < kLeaves; ++i)
        leaves.push_back(add(QNL_TYPE_EQUATION, "L" + std::to_string(i)));
    auto id = [&](int h) { return std::string(net->GetNode(h)->GetId()); };
    // What each definition names, by handle: the oracle.
    std::map<int, std::set<int>> named, members;
    for (int s : sets) {
        std::set<int>& own = members[s];
        for (int k = 1 + random.Below(3); k > 0; --k) {
            const int other = sets[static_cast<std::size_t>(random.Below(kSets))];
            if (other != s) own.insert(other);
        }
        if (random.Below(2) == 0) {
            ASSERT_EQ(net->AddArc(roots[static_cast<std::size_t>(random.Below(kRoots))], s), 0);
        }
        std::vector<std::string> memberIds;
        std::string text = id(s) + " = 1";
        for (int m : own) {
            memberIds.push_back(id(m));
            text += " + " + id(m);
        }
        const QNL_intArray& parents = net->GetParents(s);
        for (int i = 0; i < parents.GetCount(); ++i)
            text += " + 2*" + id(parents[i]);
        auto* set = dynamic_cast<QNL_equationSCC*>(net->GetNode(s)->GetDefinition());
        ASSERT_EQ(set->SetMembers(quarn_test::StringsOf(memberIds)), 0);
        ASSERT_EQ(set->SetEquation(text, nullptr, nullptr), 0) << text;
    }
    for (int l : leaves)
        for (int k = 1 + random.Below(3); k > 0; --k)
            net->AddArc(sets[static_cast<std::size_t>(random.Below(kSets))], l);
    auto variables = [&](int h) {
        std::vector<std::string> names;
        dynamic_cast<QNL_equation*>(net->GetNode(h)->GetDefinition())
            ->GetEquation()
            .GetVariables(names);
        std::set<int> handles;
        for (const std::string& name : names)
            handles.insert(net->FindNode(name.c_str()));
        return handles;
    };
    std::vector<int> all(roots);
    all.insert(all.end(), sets.begin(), sets.end());
    all.insert(all.end(), leaves.begin(), leaves.end());
    for (int h : all)
        named[h] = variables(h);

    std::vector<std::string> freed;
    int fresh = 0;
    for (int round = 0; round < 300; ++round) {
        if (round % 100 == 50) net = std::make_unique<QNL_network>(QNL_network(*net));
        const int node = all[static_cast<std::size_t>(random.Below(static_cast<int>(all.size())))];
        std::string name = "R" + std::to_string(fresh++);
        if (!freed.empty() && random.Below(2) == 0) {
            const std::size_t pick =
                static_cast<std::size_t>(random.Below(static_cast<int>(freed.size())));
            name = freed[pick];
            freed.erase(freed.begin() + static_cast<std::ptrdiff_t>(pick));
        }
        const std::string old = id(node);
        // Who may be told: the children, the node's own equation and the sets holding it.
        std::uint64_t reach = static_cast<std::uint64_t>(net->GetChildren(node).GetCount()) + 1;
        for (int s : sets)
            reach += members[s].count(node);
        const std::uint64_t before = net->GetSlotVisits();
        ASSERT_EQ(net->GetNode(node)->SetId(name.c_str()), 0) << name;
        EXPECT_LE(net->GetSlotVisits() - before, reach) << old << " -> " << name;
        freed.push_back(old);
        for (int h : all)
            ASSERT_EQ(variables(h), named[h]) << "round " << round << ", " << id(h);
        for (int s : sets) {
            std::set<int> found;
            for (const std::string& m :
                 dynamic_cast<QNL_equationSCC*>(net->GetNode(s)->GetDefinition())->GetMembers())
                found.insert(net->FindNode(m.c_str()));
            ASSERT_EQ(found, members[s]) << "round " << round << ", " << id(s);
        }
    }
}

} // namespace
