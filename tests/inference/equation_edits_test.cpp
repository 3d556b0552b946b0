#include "definitions/equation.h"
#include "definitions/equation_scc.h"
#include "definitions/hybrid_definition.h"
#include "definitions/node_values.h"
#include "inference/bayesian_algorithms.h"
#include "model/network.h"
#include "model/node.h"
#include "support/fresh_update.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using quarn_test::LastMessage;
using quarn_test::RoundsUpTo;
using quarn_test::StringsOf;
using quarn_test::TestRandom;

constexpr unsigned kSeed = 77;

void SeedAll() {
    quarn_test::SeedAllGenerators(kSeed);
}

void ExpectValidValuesFresh(const QNL_network& net, const std::string& label) {
    quarn_test::ExpectValidValuesFresh(net, label, kSeed);
}

// An update that fails leaves valid only the values the user entered.
void ExpectNothingComputedValid(const QNL_network& net, const std::string& label) {
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_nodeValue& value = *net.GetNode(h)->GetValue();
        EXPECT_FALSE(value.IsValueValid() && !value.HasEvidence())
            << label << ": node " << net.GetNode(h)->GetId() << " valid after a failed update";
    }
}

class EquationEdits : public quarn_test::NetworkFixture {
protected:
    int Node(int type, const std::string& id, const std::string& text = "") {
        const int h = Add(type, id.c_str());
        if (!text.empty()) {
            EXPECT_EQ(Eq(h)->SetEquation(text, nullptr, nullptr), 0) << text;
        }
        return h;
    }
    QNL_equation* Eq(int h) { return dynamic_cast<QNL_equation*>(Def(h)); }
    QNL_equationSCC* Scc(int h) { return dynamic_cast<QNL_equationSCC*>(Def(h)); }
    QNL_continuousDefinition* Cont(int h) {
        return dynamic_cast<QNL_continuousDefinition*>(Def(h));
    }
    QNL_nodeValue* Value(int h) { return net.GetNode(h)->GetValue(); }
    QNL_equationValue* EqValue(int h) { return dynamic_cast<QNL_equationValue*>(Value(h)); }
    int Update() {
        SeedAll();
        return net.UpdateBeliefs();
    }
    std::vector<int> Handles() {
        std::vector<int> out;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            out.push_back(h);
        return out;
    }
    std::string Id(int h) { return net.GetNode(h)->GetId(); }
};

// A finding set, changed or cleared on a number (an equation node, or a continuous node of a
// hybrid network) leaves valid no computed value: the sampled update that follows estimates
// every value afresh, as it does on a fresh copy. With automatic updates the values come back
// at once and are the fresh ones.
TEST_F(EquationEdits, NumberFindingsLeaveNoComputedValueValid) {
    const int control = net.GetNotificationControl();
    for (bool automatic : {false, true}) {
        SCOPED_TRACE(automatic);
        net.DeleteAllNodes();
        net.SetNumberOfSamples(200);
        const int a = Node(QNL_TYPE_EQUATION, "a", "a = Normal(0, 1)");
        const int b = Node(QNL_TYPE_EQUATION, "b", "b = a + Normal(0, 1)");
        const int c = Node(QNL_TYPE_EQUATION, "c", "c = 2 * a");
        for (int h : {a, b, c})
            ASSERT_EQ(Eq(h)->SetBounds(-12.0, 12.0), 0);
        ASSERT_EQ(Update(), 0);
        if (automatic)
            net.SetNotificationControl(net.GetNotificationControl() |
                                       QNL_network::NOTIFY_AUTO_UPDATE);
        for (double x : {3.0, -1.0}) {
            SeedAll();
            ASSERT_EQ(EqValue(b)->SetEvidence(x), 0) << LastMessage();
            EXPECT_EQ(Value(a)->IsValueValid(), automatic);
            EXPECT_EQ(Value(c)->IsValueValid(), automatic);
            ExpectValidValuesFresh(net, "finding " + std::to_string(x));
            ASSERT_EQ(Update(), 0) << LastMessage();
            // The posterior mean of a is half the finding (up to the sampling error).
            EXPECT_NEAR(EqValue(a)->GetMean(), x / 2, 0.3);
        }
        SeedAll();
        ASSERT_EQ(Value(b)->ClearEvidence(), 0);
        EXPECT_EQ(Value(a)->IsValueValid(), automatic);
        EXPECT_EQ(Value(b)->IsValueValid(), automatic);
        ExpectValidValuesFresh(net, "cleared");
    }

    net.SetNotificationControl(control);
    net.DeleteAllNodes();
    net.SetNumberOfSamples(200);
    const int x = Add(QNL_TYPE_DISTRIBUTION, "X");
    const int y = Add(QNL_TYPE_DISTRIBUTION, "Y");
    const int z = Add(QNL_TYPE_HEQUATION, "Z");
    const int d = Add(QNL_TYPE_DCHILDHPARENT, "D");
    for (int child : {y, z, d})
        ASSERT_EQ(net.AddArc(x, child, 0), 0);
    ASSERT_EQ(Cont(x)->SetExpression(0, "Normal(0, 1)"), 0);
    ASSERT_EQ(Cont(y)->SetExpression(0, "Normal(X, 1)"), 0);
    ASSERT_EQ(Cont(z)->SetExpression(0, "2 * X + 1"), 0);
    auto* discrete = dynamic_cast<QNL_dchildHparent*>(Def(d));
    ASSERT_EQ(discrete->SetExpression(0, "state0", "X * X"), 0);
    ASSERT_EQ(discrete->SetExpression(0, "state1", "1"), 0);
    for (int h : {x, y, z}) {
        Cont(h)->SetLowerBound(-10.0);
        Cont(h)->SetUpperBound(10.0);
    }
    net.SetDefaultHBNAlgorithm(QNL_ALG_HBN_MESSAGE_PASSING);
    ASSERT_EQ(Update(), 0);
    ASSERT_EQ(Value(y)->SetEvidence(3.0), 0);
    for (int h : {x, z, d})
        EXPECT_FALSE(Value(h)->IsValueValid()) << Id(h);
    ASSERT_EQ(Update(), 0);
    ASSERT_EQ(Value(y)->ClearEvidence(), 0);
    for (int h : {x, y, z, d})
        EXPECT_FALSE(Value(h)->IsValueValid()) << Id(h);
}

// A change that reaches a member of a set of simultaneous equations reaches the whole set
// and what depends on it: s1 = 0.5 s2 and s2 = -0.396 s1 + 1 + e3 give
// s1 = 0.5 (1 + e3) / 1.198.
TEST_F(EquationEdits, AChangeReachingAMemberReachesItsSet) {
    const struct {
        const char* name;
        void (*edit)(QNL_network&, int e3, int e4, int s2);
        double e3;
    } cases[] = {
        {"new equation of the node feeding s2",
         [](QNL_network& n, int e3, int, int) {
             ASSERT_EQ(dynamic_cast<QNL_equation*>(n.GetNode(e3)->GetDefinition())
                           ->SetEquation("e3 = -0.0811", nullptr, nullptr),
                       0);
         },
         -0.0811},
        {"arc into s2 added",
         [](QNL_network& n, int, int e4, int s2) { ASSERT_EQ(n.AddArc(e4, s2, 0), 0); }, 1.73},
        {"arc into s2 removed",
         [](QNL_network& n, int e3, int, int s2) { ASSERT_EQ(n.RemoveArc(e3, s2, 0), 0); }, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        net.DeleteAllNodes();
        const int e3 = Node(QNL_TYPE_EQUATION, "e3", "e3 = 1.73");
        const int e4 = Node(QNL_TYPE_EQUATION, "e4", "e4 = 0");
        const int s1 = Node(QNL_TYPE_EQUATION_SCC, "s1");
        const int s2 = Node(QNL_TYPE_EQUATION_SCC, "s2");
        ASSERT_EQ(Scc(s1)->SetMembers(StringsOf({"s2"})), 0);
        ASSERT_EQ(Scc(s2)->SetMembers(StringsOf({"s1"})), 0);
        ASSERT_EQ(net.AddArc(e3, s2, 0), 0);
        ASSERT_EQ(Eq(s1)->SetEquation("s1 = 0.5 * s2", nullptr, nullptr), 0);
        ASSERT_EQ(Eq(s2)->SetEquation("s2 = -0.396 * s1 + 1 + e3", nullptr, nullptr), 0);
        const int after = Node(QNL_TYPE_EQUATION, "after", "after = s1 + 1");
        ASSERT_EQ(Update(), 0);
        EXPECT_NEAR(EqValue(s1)->GetMean(), 0.5 * 2.73 / 1.198, 1e-9);
        c.edit(net, e3, e4, s2);
        for (int h : {s1, s2, after})
            EXPECT_FALSE(Value(h)->IsValueValid()) << Id(h);
        ASSERT_EQ(Update(), 0);
        EXPECT_NEAR(EqValue(s1)->GetMean(), 0.5 * (1 + c.e3) / 1.198, 1e-9);
    }
}

// Arcs between nodes outside a set, or from a member to a node outside, change the order of
// the network but no input of the set: its solution, kept valid, is to the last bit what a
// fresh solve gives, whichever member comes first in the new order. So is it after a member
// is renamed.
TEST_F(EquationEdits, ASetSolvesAlikeWhateverTheOrderOfTheNetwork) {
    const char* const kSources[] = {"s1", "s2", "s3"};
    for (const char* source : kSources) {
        SCOPED_TRACE(source);
        net.DeleteAllNodes();
        const int a = Node(QNL_TYPE_EQUATION, "a", "a = 0.5");
        for (const char* id : kSources)
            Node(QNL_TYPE_EQUATION_SCC, id);
        const int s1 = net.FindNode("s1"), s2 = net.FindNode("s2"), s3 = net.FindNode("s3");
        ASSERT_EQ(Scc(s1)->SetMembers(StringsOf({"s2", "s3"})), 0);
        ASSERT_EQ(Scc(s2)->SetMembers(StringsOf({"s1", "s3"})), 0);
        ASSERT_EQ(Scc(s3)->SetMembers(StringsOf({"s1", "s2"})), 0);
        ASSERT_EQ(Eq(s1)->SetEquation("s1 = 0.5 * s2 - 0.3 * s3", nullptr, nullptr), 0);
        ASSERT_EQ(Eq(s2)->SetEquation("s2 = -0.3 + 1.25 * s1", nullptr, nullptr), 0);
        ASSERT_EQ(Eq(s3)->SetEquation("s3 = 0.7 * s2 + 0.1 * s1 - 2", nullptr, nullptr), 0);
        ASSERT_EQ(Update(), 0);
        ASSERT_EQ(net.AddArc(net.FindNode(source), a, 0), 0);
        EXPECT_FALSE(Value(a)->IsValueValid());
        ExpectValidValuesFresh(net, std::string("arc from ") + source);
        ASSERT_EQ(Update(), 0);
        ASSERT_EQ(net.RemoveArc(net.FindNode(source), a, 0), 0);
        ExpectValidValuesFresh(net, std::string("arc removed from ") + source);
        // A new identifier reorders the members by name but changes no equation.
        ASSERT_EQ(net.GetNode(net.FindNode(source))->SetId("r"), 0);
        EXPECT_TRUE(Value(s1)->IsValueValid());
        ExpectValidValuesFresh(net, std::string("renamed ") + source);
    }
}

// Deleting a member drops it from the other members' sets and equations (its variable
// becomes 0, as a deleted parent's does) and the set solves again. A plain equation node is
// no member; an update that fails leaves no computed value valid.
TEST_F(EquationEdits, DeletedMembersLeaveTheirSetSolvable) {
    const int e = Node(QNL_TYPE_EQUATION, "e", "e = 4");
    const int s1 = Node(QNL_TYPE_EQUATION_SCC, "s1");
    const int s2 = Node(QNL_TYPE_EQUATION_SCC, "s2");
    ASSERT_EQ(Scc(s1)->SetMembers(StringsOf({"s2"})), 0);
    ASSERT_EQ(Scc(s2)->SetMembers(StringsOf({"s1"})), 0);
    ASSERT_EQ(Eq(s1)->SetEquation("s1 = 0.5 * s2 + 1", nullptr, nullptr), 0);
    ASSERT_EQ(Eq(s2)->SetEquation("s2 = 0.3 * s1 + 1", nullptr, nullptr), 0);
    ASSERT_EQ(Update(), 0);
    EXPECT_NEAR(EqValue(s1)->GetMean(), 1.5 / 0.85, 1e-9);

    EXPECT_EQ(Scc(s1)->SetMembers(StringsOf({"s2", "e"})), -2);
    EXPECT_EQ(LastMessage(), "Not a member for the equation set of s1: e");
    EXPECT_EQ(Scc(s1)->GetMembers(), std::set<std::string>{"s2"});

    ASSERT_EQ(net.DeleteNode(s2), 0);
    EXPECT_TRUE(Scc(s1)->GetMembers().empty());
    std::string text;
    Eq(s1)->GetEquation().GetText(text);
    EXPECT_EQ(text, "s1=0.5*0+1");
    EXPECT_FALSE(Value(s1)->IsValueValid());
    EXPECT_TRUE(Value(e)->IsValueValid());
    ASSERT_EQ(Update(), 0) << LastMessage();
    EXPECT_NEAR(EqValue(s1)->GetMean(), 1.0, 1e-9);

    // s1 - s1 = 1 has no solution.
    ASSERT_EQ(Eq(s1)->SetEquation("s1 = s1 + 1", nullptr, nullptr), 0);
    EXPECT_TRUE(Value(e)->IsValueValid());
    EXPECT_NE(Update(), 0);
    ExpectNothingComputedValid(net, "failed update");
}

// A node that takes or loses a set of equations by a type change starts afresh from
// "id = 0" (with its parents added as terms for a plain equation). Every set its value reaches
// solves again, and a node leaving a set leaves its partners' sets as a deleted one does.
TEST_F(EquationEdits, TypeChangesIntoAndOutOfASetLeaveItSolvable) {
    struct Expected {
        const char* id;
        double mean;
    };
    const struct {
        const char* name;
        bool intoSet;
        std::vector<Expected> after;
    } cases[] = {
        // s1 = e = 0, s2 = 0.1 - 0.75 * 0.
        {"e into a set", true, {{"e", 0.0}, {"s1", 0.0}, {"s2", 0.1}, {"t", 1.1}}},
        // s1 = 0.5 * 0 + 1 once s2 is no member; then s2 = 2 and s1 = 1 as written.
        {"s2 out of its set", false, {{"s1", 1.0}, {"s2", 2.0}, {"t", 4.0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        net.DeleteAllNodes();
        const int e = Node(QNL_TYPE_EQUATION, "e", "e = 2");
        const int s1 = Node(QNL_TYPE_EQUATION_SCC, "s1");
        const int s2 = Node(QNL_TYPE_EQUATION_SCC, "s2");
        if (c.intoSet) {
            ASSERT_EQ(net.AddArc(e, s1, 0), 0);
            ASSERT_EQ(Scc(s2)->SetMembers(StringsOf({"s1"})), 0);
            ASSERT_EQ(Eq(s1)->SetEquation("s1 = e", nullptr, nullptr), 0);
            ASSERT_EQ(Eq(s2)->SetEquation("s2 = 0.1 - 0.75 * s1", nullptr, nullptr), 0);
        } else {
            ASSERT_EQ(Scc(s1)->SetMembers(StringsOf({"s2"})), 0);
            ASSERT_EQ(Scc(s2)->SetMembers(StringsOf({"s1"})), 0);
            ASSERT_EQ(Eq(s1)->SetEquation("s1 = 0.5 * s2 + 1", nullptr, nullptr), 0);
            ASSERT_EQ(Eq(s2)->SetEquation("s2 = 0.3 * s1 + 1", nullptr, nullptr), 0);
        }
        const int t = Node(QNL_TYPE_EQUATION, "t", "t = s1 + s2 + 1");
        ASSERT_EQ(Update(), 0) << LastMessage();
        const int changed = c.intoSet ? e : s2;
        ASSERT_EQ(
            net.GetNode(changed)->SetType(c.intoSet ? QNL_TYPE_EQUATION_SCC : QNL_TYPE_EQUATION),
            0);
        for (int h : {s1, s2, t})
            EXPECT_FALSE(Value(h)->IsValueValid()) << Id(h);
        ExpectValidValuesFresh(net, "type changed");
        if (!c.intoSet) {
            EXPECT_TRUE(Scc(s1)->GetMembers().empty());
            std::string text;
            Eq(s1)->GetEquation().GetText(text);
            EXPECT_EQ(text, "s1=0.5*0+1");
            ASSERT_EQ(Update(), 0) << LastMessage();
            EXPECT_NEAR(EqValue(s1)->GetMean(), 1.0, 1e-9);
            ASSERT_EQ(Eq(s2)->SetEquation("s2 = 2", nullptr, nullptr), 0);
            ASSERT_EQ(Eq(s1)->SetEquation("s1 = 1", nullptr, nullptr), 0);
        }
        ASSERT_EQ(Update(), 0) << LastMessage();
        for (const Expected& x : c.after)
            EXPECT_NEAR(EqValue(net.FindNode(x.id))->GetMean(), x.mean, 1e-9) << x.id;
        // And back: s2 rejoins no set by itself (its partners let it go); e leaves its own.
        ASSERT_EQ(
            net.GetNode(changed)->SetType(c.intoSet ? QNL_TYPE_EQUATION : QNL_TYPE_EQUATION_SCC),
            0);
        ExpectValidValuesFresh(net, "type changed back");
        EXPECT_EQ(Update(), 0) << LastMessage();
    }

    // A sampled update draws for every node from one stream: a node that takes a set, and so
    // loses its draw, changes the draws of the others.
    net.DeleteAllNodes();
    net.SetNumberOfSamples(50);
    const int a = Node(QNL_TYPE_EQUATION, "a", "a = Normal(0, 1)");
    const int d = Node(QNL_TYPE_EQUATION, "d", "d = Normal(0, 1)");
    ASSERT_EQ(Update(), 0) << LastMessage();
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_EQUATION_SCC), 0);
    EXPECT_FALSE(Value(d)->IsValueValid());
    ExpectValidValuesFresh(net, "sampled");
}

// A new bound changes what a sampled update draws: X ~ Normal(0, 1) on [1, 10] has the mean
// phi(1) / (1 - Phi(1)) = 1.525.
TEST_F(EquationEdits, BoundChangesInvalidateTheSampledValues) {
    net.SetNumberOfSamples(2000);
    const int x = Add(QNL_TYPE_DISTRIBUTION, "X");
    const int w = Add(QNL_TYPE_DISTRIBUTION, "W");
    for (int h : {x, w}) {
        ASSERT_EQ(Cont(h)->SetExpression(0, "Normal(0, 1)"), 0);
        Cont(h)->SetLowerBound(-10.0);
        Cont(h)->SetUpperBound(10.0);
    }
    ASSERT_EQ(Update(), 0);
    Cont(x)->SetLowerBound(1.0);
    EXPECT_FALSE(Value(x)->IsValueValid());
    EXPECT_FALSE(Value(w)->IsValueValid());
    ASSERT_EQ(Update(), 0);
    double sum = 0.0, total = 0.0;
    for (const auto& sample : dynamic_cast<QNL_continuousValue*>(Value(x))->GetSamples()) {
        sum += sample.weight * sample.value;
        total += sample.weight;
    }
    EXPECT_NEAR(sum / total, 1.525, 0.05);
    Cont(x)->SetUpperBound(2.0);
    EXPECT_FALSE(Value(x)->IsValueValid());

    // The range of an equation node bounds its draws once a finding makes the update sample.
    net.DeleteAllNodes();
    const int a = Node(QNL_TYPE_EQUATION, "a", "a = Normal(0, 1)");
    const int b = Node(QNL_TYPE_EQUATION, "b", "b = a + Normal(0, 1)");
    ASSERT_EQ(Eq(a)->SetBounds(-6.0, 6.0), 0);
    ASSERT_EQ(Eq(b)->SetBounds(-6.0, 6.0), 0);
    ASSERT_EQ(EqValue(b)->SetEvidence(1.0), 0);
    ASSERT_EQ(Update(), 0);
    ASSERT_EQ(Eq(a)->SetBounds(0.0, 6.0), 0);
    EXPECT_FALSE(Value(a)->IsValueValid());
    ExpectValidValuesFresh(net, "equation bounds");
}

// The nodes whose exact solve uses the start's value, walked by the test from the arcs and the
// sets as they stand: children, and the members a set names or that name it.
std::set<int> Reach(const QNL_network& n, int start) {
    std::set<int> reached{start};
    std::vector<int> stack{start};
    auto members = [&n](int h) {
        std::set<int> out;
        if (const auto* set = dynamic_cast<const QNL_equationSCC*>(n.GetNode(h)->GetDefinition()))
            for (const std::string& id : set->GetMembers())
                out.insert(n.FindNode(id.c_str()));
        return out;
    };
    while (!stack.empty()) {
        const int h = stack.back();
        stack.pop_back();
        std::set<int> next = members(h);
        const QNL_intArray& children = n.GetChildren(h);
        next.insert(children.Items(), children.Items() + children.GetCount());
        for (int other = n.GetFirstNode(); other >= 0; other = n.GetNextNode(other))
            if (members(other).count(h) != 0) next.insert(other);
        for (int other : next)
            if (reached.insert(other).second) stack.push_back(other);
    }
    return reached;
}

QNL_equation* EquationAt(QNL_network& n, const char* id) {
    return dynamic_cast<QNL_equation*>(n.GetNode(n.FindNode(id))->GetDefinition());
}

// After an exact solve an edit leaves invalid the values it reaches and no other (s3 is a
// member that s1 names without naming s1): those stay valid and are what a fresh solve gives. The
// same edit on a copy of the solved network does the same there and leaves the original alone.
TEST_F(EquationEdits, EditsAfterAnExactSolveInvalidateWhatTheyReachAndNothingElse) {
    const struct {
        const char* name;
        const char* node;
        void (*edit)(QNL_network&);
    } cases[] = {
        {"new equation at the root", "r",
         [](QNL_network& n) {
             ASSERT_EQ(EquationAt(n, "r")->SetEquation("r = 0.7", nullptr, nullptr), 0);
         }},
        {"new range of the node feeding the set", "p",
         [](QNL_network& n) { ASSERT_EQ(EquationAt(n, "p")->SetBounds(-3.0, 3.0), 0); }},
        {"new equation of the other branch", "q",
         [](QNL_network& n) {
             ASSERT_EQ(EquationAt(n, "q")->SetEquation("q = 4", nullptr, nullptr), 0);
         }},
        {"new equation of a member", "s1",
         [](QNL_network& n) {
             ASSERT_EQ(EquationAt(n, "s1")->SetEquation("s1 = 0.5 * s2 + 0.1", nullptr, nullptr),
                       0);
         }},
        {"new equation of a member that only another names", "s3",
         [](QNL_network& n) {
             ASSERT_EQ(EquationAt(n, "s3")->SetEquation("s3 = 0.3", nullptr, nullptr), 0);
         }},
        {"arc into the leaf", "after",
         [](QNL_network& n) { ASSERT_EQ(n.AddArc(n.FindNode("q"), n.FindNode("after")), 0); }},
        {"arc into a member removed", "s2",
         [](QNL_network& n) { ASSERT_EQ(n.RemoveArc(n.FindNode("p"), n.FindNode("s2")), 0); }},
    };
    for (const auto& c : cases) {
        for (const bool onCopy : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (onCopy ? " on a copy" : ""));
            net.DeleteAllNodes();
            Node(QNL_TYPE_EQUATION, "r", "r = 0.5");
            Node(QNL_TYPE_EQUATION, "p", "p = r + 1");
            Node(QNL_TYPE_EQUATION, "q", "q = 2");
            Node(QNL_TYPE_EQUATION, "u", "u = 3 * q");
            const int s1 = Node(QNL_TYPE_EQUATION_SCC, "s1");
            const int s2 = Node(QNL_TYPE_EQUATION_SCC, "s2");
            const int s3 = Node(QNL_TYPE_EQUATION_SCC, "s3");
            ASSERT_EQ(Scc(s1)->SetMembers(StringsOf({"s2", "s3"})), 0);
            ASSERT_EQ(Scc(s2)->SetMembers(StringsOf({"s1"})), 0);
            ASSERT_EQ(Eq(s3)->SetEquation("s3 = 0.2", nullptr, nullptr), 0);
            ASSERT_EQ(net.AddArc(net.FindNode("p"), s2, 0), 0);
            ASSERT_EQ(Eq(s1)->SetEquation("s1 = 0.5 * s2 + s3", nullptr, nullptr), 0);
            ASSERT_EQ(Eq(s2)->SetEquation("s2 = -0.4 * s1 + p", nullptr, nullptr), 0);
            Node(QNL_TYPE_EQUATION, "after", "after = s1 + 1");
            ASSERT_EQ(Update(), 0);
            QNL_network copy(net);
            QNL_network& edited = onCopy ? copy : net;
            const std::set<int> reached = Reach(edited, edited.FindNode(c.node));
            c.edit(edited);
            for (int h = edited.GetFirstNode(); h >= 0; h = edited.GetNextNode(h))
                EXPECT_EQ(edited.GetNode(h)->GetValue()->IsValueValid(), reached.count(h) == 0)
                    << edited.GetNode(h)->GetId();
            ExpectValidValuesFresh(edited, "edited");
            for (int h : Handles())
                EXPECT_TRUE(!onCopy || Value(h)->IsValueValid()) << "original " << Id(h);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Random edits against a fresh copy.

enum EditKind { TEXT, ARC, EVIDENCE, MEMBERS, DELETE, BOUNDS, TYPE, UPDATE, EDIT_KINDS };

std::string Coefficient(TestRandom& random) {
    static const char* const kCoefficients[] = {"0.5", "-0.3", "1.25", "2", "-0.75"};
    return kCoefficients[random.Below(5)];
}

class RandomEdits : public EquationEdits {
protected:
    int Pick() {
        const std::vector<int> handles = Handles();
        return handles[static_cast<std::size_t>(random.Below(static_cast<int>(handles.size())))];
    }
    // A sum of up to two other nodes (parents for a hybrid node, anything for an equation,
    // which rewires itself), a constant and, for random networks, a draw.
    std::string Terms(int h, bool hybrid) {
        std::string text = Coefficient(random);
        const QNL_intArray& parents = net.GetParents(h);
        for (int k = random.Below(3); k > 0; --k) {
            int other = Pick();
            if (hybrid) {
                if (parents.GetCount() == 0) break;
                other = parents[random.Below(parents.GetCount())];
            }
            if (other != h) text += " + " + Coefficient(random) + " * " + Id(other);
        }
        return text;
    }
    void SetText(int h, bool hybrid, bool draws) {
        if (hybrid) {
            const bool distribution = net.GetNode(h)->GetType() == QNL_TYPE_DISTRIBUTION;
            const std::string terms = Terms(h, true);
            Cont(h)->SetExpression(0, distribution ? "Normal(" + terms + ", 1)" : terms);
        } else {
            std::string text = Id(h) + " = " + Terms(h, false);
            if (draws && random.Below(3) == 0) text += " + Normal(0, 1)";
            Eq(h)->SetEquation(text, nullptr, nullptr);
        }
    }
    void Edit(EditKind kind, bool hybrid, bool draws) {
        const int h = Pick();
        switch (kind) {
        case TEXT:
            SetText(h, hybrid, draws);
            break;
        case ARC: {
            const int other = Pick();
            if (!net.GetParents(h).IsInList(other)) {
                net.AddArc(other, h, 0);
            } else if (net.RemoveArc(other, h, 0) == 0 && hybrid) {
                // A hybrid expression keeps naming the parent until it is written anew.
                SetText(h, hybrid, draws);
            }
            break;
        }
        case EVIDENCE: {
            // Findings are cleared more often than set, and lie inside the range a node
            // starts with.
            std::vector<int> observed;
            for (int other : Handles())
                if (Value(other)->HasEvidence()) observed.push_back(other);
            if (!observed.empty() && random.Below(3) > 0)
                Value(observed[static_cast<std::size_t>(
                          random.Below(static_cast<int>(observed.size())))])
                    ->ClearEvidence();
            else
                Value(h)->SetEvidence(random.Uniform() * 1.8 - 0.9);
            break;
        }
        case MEMBERS:
            if (!hybrid && Scc(h) != nullptr) {
                std::vector<std::string> ids;
                for (int other : Handles())
                    if (other != h && Scc(other) != nullptr && random.Below(2) == 0)
                        ids.push_back(Id(other));
                Scc(h)->SetMembers(StringsOf(ids));
            }
            break;
        case DELETE: {
            const int type = net.GetNode(h)->GetType();
            net.DeleteNode(h);
            Add(type, ("n" + std::to_string(++added)).c_str());
            break;
        }
        case BOUNDS: {
            const double lower = -8.0 + random.Uniform() * 4.0, upper = 4.0 + random.Uniform();
            if (hybrid) {
                Cont(h)->SetLowerBound(lower);
                Cont(h)->SetUpperBound(upper);
            } else {
                Eq(h)->SetBounds(lower, upper);
            }
            break;
        }
        case TYPE:
            // The node takes a set of equations (none yet) or leaves its set.
            if (!hybrid)
                net.GetNode(h)->SetType(Scc(h) != nullptr ? QNL_TYPE_EQUATION
                                                          : QNL_TYPE_EQUATION_SCC);
            break;
        default:
            if (Update() != 0) ExpectNothingComputedValid(net, LastMessage());
            break;
        }
    }

    TestRandom random{5};
    int added = 0;
};

// Equation networks (with draws or without, with a set of simultaneous equations) and hybrid
// networks under random edits of texts, arcs, evidence, sets, deletions, bounds and type
// changes into and out of sets, with an update every few edits. After every step each value
// still marked valid is what a fresh update of a copy gives.
TEST_F(RandomEdits, ValidValuesAreThoseOfAFreshUpdate) {
    for (const int trial : RoundsUpTo(9)) {
        net.DeleteAllNodes();
        // A set of simultaneous equations (whose networks can't take evidence), equations
        // that draw, or a hybrid network.
        const bool hybrid = trial % 3 == 2, draws = trial % 3 == 1;
        if (hybrid) {
            const int x = Add(QNL_TYPE_DISTRIBUTION, "x");
            const int y = Add(QNL_TYPE_DISTRIBUTION, "y");
            const int z = Add(QNL_TYPE_HEQUATION, "z");
            Add(QNL_TYPE_DISTRIBUTION, "w");
            ASSERT_EQ(net.AddArc(x, y, 0), 0);
            ASSERT_EQ(net.AddArc(x, z, 0), 0);
            ASSERT_EQ(Cont(x)->SetExpression(0, "Normal(0, 1)"), 0);
            ASSERT_EQ(Cont(y)->SetExpression(0, "Normal(x, 1)"), 0);
            ASSERT_EQ(Cont(z)->SetExpression(0, "2 * x + 1"), 0);
            for (int h : Handles()) {
                Cont(h)->SetLowerBound(-8.0);
                Cont(h)->SetUpperBound(8.0);
            }
            net.SetDefaultHBNAlgorithm(trial % 2 == 0 ? QNL_ALG_HBN_LIKELIHOOD_WEIGHTING
                                                      : QNL_ALG_HBN_PROPAGATED_IMPORTANCE);
        } else if (draws) {
            Node(QNL_TYPE_EQUATION, "a", "a = Normal(0, 1)");
            Node(QNL_TYPE_EQUATION, "b", "b = a + Normal(0, 1)");
            Node(QNL_TYPE_EQUATION, "c", "c = 2 * a");
            Node(QNL_TYPE_EQUATION, "d", "d = 0.5");
        } else {
            Node(QNL_TYPE_EQUATION, "a", "a = 0.5");
            Node(QNL_TYPE_EQUATION, "b", "b = a + 1");
            const int s1 = Node(QNL_TYPE_EQUATION_SCC, "s1");
            const int s2 = Node(QNL_TYPE_EQUATION_SCC, "s2");
            Scc(s1)->SetMembers(StringsOf({"s2"}));
            Scc(s2)->SetMembers(StringsOf({"s1"}));
            ASSERT_EQ(net.AddArc(Handles()[1], s2, 0), 0);
            ASSERT_EQ(Eq(s1)->SetEquation("s1 = 0.5 * s2", nullptr, nullptr), 0);
            ASSERT_EQ(Eq(s2)->SetEquation("s2 = -0.4 * s1 + b", nullptr, nullptr), 0);
            Node(QNL_TYPE_EQUATION, "c", "c = s1 - 1");
        }
        net.SetNumberOfSamples(60);
        for (int step = 0; step < 40; ++step) {
            // Updates come three times as often as any other edit.
            const int drawn = random.Below(EDIT_KINDS + 2);
            const auto kind =
                static_cast<EditKind>(drawn < EDIT_KINDS && step > 0 ? drawn : UPDATE);
            Edit(kind, hybrid, draws);
            ExpectValidValuesFresh(net, "trial " + std::to_string(trial) + " step " +
                                            std::to_string(step) + " edit " + std::to_string(kind));
            if (HasFailure()) return;
        }
    }
}

} // namespace
