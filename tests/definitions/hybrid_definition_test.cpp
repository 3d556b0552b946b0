#include "definitions/evaluation_context.h"
#include "definitions/hybrid_definition.h"
#include "definitions/node_value.h"
#include "equations/expr_parser.h"
#include "model/network.h"
#include "model/node.h"
#include "numerics/random.h"
#include "support/network_builder.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using quarn_test::LastMessage;
using quarn_test::NetworkFixture;

class HybridDefinitionTest : public NetworkFixture {
protected:
    QNL_hybridDefinition* Hybrid(int node) {
        return dynamic_cast<QNL_hybridDefinition*>(Def(node));
    }
    QNL_namedExpressions* Named(int node, int index) {
        return dynamic_cast<QNL_namedExpressions*>(Hybrid(node)->GetDistribution(index));
    }
};

TEST_F(HybridDefinitionTest, NewNodesAndThePartsCases) {
    const int x = Add(QNL_TYPE_DISTRIBUTION, "X");
    const int y = Add(QNL_TYPE_HEQUATION, "Y");
    const int d = Add(QNL_TYPE_DCHILDHPARENT, "D");
    for (int node : {x, y, d}) {
        ASSERT_NE(Hybrid(node), nullptr);
        EXPECT_EQ(Def(node)->GetSize(), 1);
    }
    EXPECT_EQ(Named(x, 0)->GetText(), "0");
    EXPECT_EQ(quarn_test::IdsOf(Def(d)), (std::vector<std::string>{"state0", "state1"}));
    EXPECT_EQ(net.GetNode(x)->GetValue()->GetType(), 9);
    EXPECT_EQ(net.GetNode(d)->GetValue()->GetType(), 3);

    // Holders under arc edits are followed by the random holder-table test.
    ASSERT_EQ(Def(d)->SetNumberOfOutcomes(3), 0);
    EXPECT_EQ(quarn_test::IdsOf(Def(d)), (std::vector<std::string>{"State0", "State1", "State2"}));
    ASSERT_EQ(net.AddArc(d, x), 0);

    // A node with children keeps its outcome count; a count below 1 is refused; both
    // before anything changes.
    EXPECT_EQ(Def(d)->SetNumberOfOutcomes(4), -19);
    const int lone = Add(QNL_TYPE_DCHILDHPARENT, "Lone");
    EXPECT_EQ(Def(lone)->SetNumberOfOutcomes(0), -2);
    EXPECT_EQ(quarn_test::IdsOf(Def(lone)), (std::vector<std::string>{"state0", "state1"}));
    EXPECT_EQ(quarn_test::IdsOf(Def(d)), (std::vector<std::string>{"State0", "State1", "State2"}));
}

// A node that becomes hybrid under discrete parents lets them go, so an outcome added to such a
// parent still reaches its other children. The arc once stayed, and the outcome stopped there.
TEST_F(HybridDefinitionTest, NodeTurnedHybridLetsItsDiscreteParentsGo) {
    for (int from : {QNL_TYPE_CPT, QNL_TYPE_TABLE, QNL_TYPE_MAU}) {
        for (int to : {QNL_TYPE_DISTRIBUTION, QNL_TYPE_HEQUATION, QNL_TYPE_DCHILDHPARENT}) {
            const std::string label = std::to_string(from) + " -> " + std::to_string(to);
            net.DeleteAllNodes();
            const int d = Add(QNL_TYPE_LIST, "D");
            const int h = Add(from, "H");
            const int c = Add(QNL_TYPE_CPT, "C");
            ASSERT_EQ(net.AddArc(d, h) + net.AddArc(d, c), 0) << label;
            ASSERT_EQ(net.GetNode(h)->SetType(to), 0) << label;
            EXPECT_EQ(net.NumberOfParents(h), 0) << label;
            ASSERT_EQ(Def(d)->AddOutcome("Third"), 0) << label;
            QNL_Dmatrix* table = nullptr;
            ASSERT_EQ(Def(c)->GetDefinition(&table), 0) << label;
            EXPECT_EQ(table->GetSizeOfDimension(0), 3) << label;
        }
    }
}

TEST_F(HybridDefinitionTest, OnlyDiscreteChildrenOfContinuousParentsGetDimensions) {
    const int cpt = Add(QNL_TYPE_CPT, "A");
    const int eq = Add(QNL_TYPE_EQUATION, "E");
    const int x = Add(QNL_TYPE_DISTRIBUTION, "X");
    EXPECT_LT(net.AddArc(cpt, x), 0);
    EXPECT_LT(net.AddArc(eq, x), 0);
    EXPECT_EQ(net.NumberOfParents(x), 0);
    EXPECT_EQ(Def(x)->GetSize(), 1);

    // A node that becomes hybrid under a probability-table parent logs the refusal.
    const int b = Add(QNL_TYPE_CPT, "B");
    ASSERT_EQ(net.AddArc(cpt, b), 0);
    QNL_errorHandler::Instance().Flush();
    net.GetNode(b)->SetType(QNL_TYPE_DISTRIBUTION);
    EXPECT_EQ(net.GetNode(b)->GetType(), QNL_TYPE_DISTRIBUTION);
    EXPECT_EQ(Def(b)->GetSize(), 1);
    bool logged = false;
    auto& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        logged = logged || std::string(log.GetMessage(i)) == "Parent could not be added";
    EXPECT_TRUE(logged);
    QNL_errorHandler::Instance().Flush();

    for (int type : {QNL_TYPE_DISTRIBUTION, QNL_TYPE_HEQUATION, QNL_TYPE_DCHILDHPARENT})
        EXPECT_EQ(net.GetNode(x)->SetType(type), 0) << type;

    // A parent's type change keeps the children's tables in step: a dimension follows the
    // parent between discrete and continuous.
    const int y = Add(QNL_TYPE_HEQUATION, "Y");
    const int d = Add(QNL_TYPE_DCHILDHPARENT, "D");
    const int c = Add(QNL_TYPE_DISTRIBUTION, "C");
    for (int p : {d, c})
        ASSERT_EQ(net.AddArc(p, y), 0);
    ASSERT_EQ(Def(y)->GetSize(), 2);
    const struct {
        int parent, type, parents, size;
    } steps[] = {{c, QNL_TYPE_DCHILDHPARENT, 2, 4},
                 {d, QNL_TYPE_HEQUATION, 2, 2},
                 {c, QNL_TYPE_HEQUATION, 2, 1},
                 {d, QNL_TYPE_DCHILDHPARENT, 2, 2}};
    for (const auto& step : steps) {
        ASSERT_EQ(net.GetNode(step.parent)->SetType(step.type), 0) << step.type << LastMessage();
        EXPECT_EQ(net.NumberOfParents(y), step.parents) << step.type;
        EXPECT_EQ(Def(y)->GetSize(), step.size) << step.type;
        EXPECT_EQ(Hybrid(y)->GetTable().GetNumberOfParentDimensions(), step.size == 1   ? 0
                                                                       : step.size == 2 ? 1
                                                                                        : 2);
    }
}

// The table under random edits of the discrete parents (arcs, their outcomes, the parent
// order) against a table kept by hand: configurations named by outcome identifiers, holders
// tracked by a tag and by identity.
class HolderTableTest : public HybridDefinitionTest {
protected:
    using Config = std::map<int, std::string>;

    std::string Label(int parent, int state) {
        return Def(parent)->GetOutcomeIds()->GetString(state);
    }
    Config ConfigOf(int cell) {
        const QNL_distributionTable& table = Hybrid(child)->GetTable();
        const QNL_intArray& owners = Hybrid(child)->GetDimensionParents();
        Config c;
        for (int dim = 0; dim < owners.GetCount(); ++dim) {
            const int state = cell / table.GetMultipliers()[dim] % table.GetDimensions()[dim];
            c[owners[dim]] = Label(owners[dim], state);
        }
        return c;
    }
    // Fresh tags for every holder; expected and identity follow the table as it is.
    void Retag() {
        expected.clear();
        original.clear();
        for (int cell = 0; cell < Def(child)->GetSize(); ++cell) {
            const std::string tag = "t" + std::to_string(nextTag++);
            ASSERT_EQ(Named(child, cell)->SetMainExpression(tag), 0);
            expected[ConfigOf(cell)] = tag;
            original[tag] = Hybrid(child)->GetDistribution(cell);
        }
    }
    void Check(const std::string& step) {
        SCOPED_TRACE(step);
        const QNL_intArray& parents = net.GetParents(child);
        std::vector<int> discrete;
        for (int i = 0; i < parents.GetCount(); ++i)
            if (Def(parents[i])->GetType() == QNL_TYPE_DCHILDHPARENT)
                discrete.push_back(parents[i]);
        const QNL_intArray& owners = Hybrid(child)->GetDimensionParents();
        ASSERT_EQ(owners.GetCount(), static_cast<int>(discrete.size()));
        int cells = 1;
        for (std::size_t i = 0; i < discrete.size(); ++i) {
            ASSERT_EQ(owners[static_cast<int>(i)], discrete[i]);
            cells *= Def(discrete[i])->GetNumberOfOutcomes();
        }
        ASSERT_EQ(Def(child)->GetSize(), cells);
        ASSERT_EQ(static_cast<int>(expected.size()), cells);
        std::set<const QNL_evaluationContext*> seen;
        std::map<std::string, int> originals;
        for (int cell = 0; cell < cells; ++cell) {
            QNL_namedExpressions* holder = Named(child, cell);
            ASSERT_NE(holder, nullptr);
            ASSERT_TRUE(seen.insert(holder).second) << "a holder sits in two cells";
            const auto found = expected.find(ConfigOf(cell));
            ASSERT_NE(found, expected.end());
            EXPECT_EQ(holder->GetText(), found->second) << "cell " << cell;
            if (original[holder->GetText()] == holder) ++originals[holder->GetText()];
        }
        for (const auto& [tag, count] : originals)
            EXPECT_EQ(count, 1) << tag;
        std::set<std::string> tags;
        for (const auto& entry : expected)
            tags.insert(entry.second);
        EXPECT_EQ(originals.size(), tags.size()) << "every surviving holder kept in one cell";
    }

    int child = -1;
    std::map<Config, std::string> expected;
    std::map<std::string, const QNL_evaluationContext*> original;
    int nextTag = 0;
};

TEST_F(HolderTableTest, RandomParentAndStateEditsMatchATableRebuiltByHand) {
    child = Add(QNL_TYPE_DISTRIBUTION, "C");
    const int continuous = Add(QNL_TYPE_HEQUATION, "X");
    std::vector<int> parents;
    for (int i = 0; i < 4; ++i)
        parents.push_back(Add(QNL_TYPE_DCHILDHPARENT, ("P" + std::to_string(i)).c_str()));
    std::mt19937 rng(42);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto shuffled = [&](int n) {
        std::vector<int> perm(static_cast<std::size_t>(n));
        std::iota(perm.begin(), perm.end(), 0);
        std::shuffle(perm.begin(), perm.end(), rng);
        return quarn_test::IntsOf(perm);
    };
    int labels = 0;
    for (int step = 0; step < 150; ++step) {
        Retag();
        const int p = parents[static_cast<std::size_t>(pick(4))];
        const bool linked = net.GetParents(child).IsInList(p) != 0;
        const int n = Def(p)->GetNumberOfOutcomes();
        std::map<Config, std::string> next;
        std::string what;
        switch (pick(6)) {
        case 0: // arc in or out
            if (!linked) {
                what = "add arc";
                ASSERT_EQ(net.AddArc(p, child), 0);
                for (const auto& [config, tag] : expected)
                    for (int s = 0; s < n; ++s) {
                        Config c = config;
                        c[p] = Label(p, s);
                        next[c] = tag;
                    }
            } else {
                what = "remove arc";
                const std::string first = Label(p, 0);
                ASSERT_EQ(net.RemoveArc(p, child), 0);
                for (const auto& [config, tag] : expected)
                    if (config.at(p) == first) {
                        Config c = config;
                        c.erase(p);
                        next[c] = tag;
                    }
            }
            break;
        case 1: { // a new outcome: its cells take clones of holder 0
            what = "insert outcome";
            const std::string zeroTag = Named(child, 0)->GetText();
            const std::string label = "n" + std::to_string(labels++);
            ASSERT_EQ(Def(p)->InsertOutcome(pick(n + 1), label.c_str()), 0);
            next = expected;
            if (linked)
                for (const auto& [config, tag] : expected) {
                    Config c = config;
                    c[p] = label;
                    next[c] = zeroTag;
                }
            break;
        }
        case 2: { // an outcome goes (two always stay)
            what = "remove outcome";
            if (n < 3) {
                EXPECT_EQ(Def(p)->RemoveOutcome(0), -2);
                next = expected;
                break;
            }
            const int gone = pick(n);
            const std::string label = Label(p, gone);
            ASSERT_EQ(Def(p)->RemoveOutcome(gone), 0);
            for (const auto& [config, tag] : expected)
                if (!linked || config.at(p) != label) next[config] = tag;
            break;
        }
        case 3: { // outcomes reordered: identifiers keep their holders
            what = "reorder outcomes";
            ASSERT_EQ(Def(p)->ReorderOutcomes(shuffled(n)), 0);
            next = expected;
            break;
        }
        case 4: { // parents reordered
            what = "reorder parents";
            ASSERT_EQ(net.ReorderParents(child, shuffled(net.NumberOfParents(child))), 0);
            next = expected;
            break;
        }
        default: // a continuous parent changes nothing
            what = "continuous arc";
            if (net.GetParents(child).IsInList(continuous))
                ASSERT_EQ(net.RemoveArc(continuous, child), 0);
            else
                ASSERT_EQ(net.AddArc(continuous, child), 0);
            next = expected;
        }
        expected = next;
        Check("step " + std::to_string(step) + ": " + what);
        if (HasFatalFailure()) return;
    }

    // Copies hold equal tables of their own holders.
    QNL_network copy(net);
    const auto* copied = dynamic_cast<QNL_hybridDefinition*>(copy.GetNode(child)->GetDefinition());
    ASSERT_NE(copied, nullptr);
    ASSERT_EQ(copied->GetSize(), Def(child)->GetSize());
    EXPECT_EQ(copied->GetDimensionParents(), Hybrid(child)->GetDimensionParents());
    for (int cell = 0; cell < copied->GetSize(); ++cell) {
        const auto* a = dynamic_cast<const QNL_namedExpressions*>(copied->GetDistribution(cell));
        ASSERT_NE(a, nullptr);
        EXPECT_NE(a, Named(child, cell));
        EXPECT_EQ(a->GetText(), Named(child, cell)->GetText());
    }
}

TEST_F(HybridDefinitionTest, DiscreteChildOutcomesReachItsHoldersAndChildren) {
    const int x = Add(QNL_TYPE_DISTRIBUTION, "X");
    const int d = Add(QNL_TYPE_DCHILDHPARENT, "D");
    const int c = Add(QNL_TYPE_HEQUATION, "C");
    ASSERT_EQ(net.AddArc(x, d), 0);
    ASSERT_EQ(net.AddArc(d, c), 0);
    auto* def = dynamic_cast<QNL_dchildHparent*>(Def(d));
    ASSERT_EQ(def->SetExpression(0, "state0", "X"), 0);
    ASSERT_EQ(def->SetExpression(0, "state1", "1"), 0);
    EXPECT_EQ(def->SetExpression(0, "nothere", "1"), -2);
    EXPECT_EQ(def->SetExpression(0, "state1", "1 +"), -2);
    auto* holder = dynamic_cast<QNL_outcomeExpressions*>(def->GetDistribution(0));
    holder->SetVariableValue("X", 3.0);
    EXPECT_DOUBLE_EQ(holder->GetProbability(0), 0.75);

    ASSERT_EQ(def->InsertOutcome(1, "mid"), 0);
    EXPECT_EQ(Def(c)->GetSize(), 3);
    ASSERT_EQ(holder->GetNumberOfOutcomes(), 3);
    EXPECT_EQ(holder->GetExpressionText(1), "0");
    EXPECT_EQ(holder->GetExpressionText(2), "1");
    ASSERT_EQ(def->ReorderOutcomes(quarn_test::IntsOf({2, 0, 1})), 0);
    EXPECT_EQ(holder->GetExpressionText(0), "1");
    ASSERT_EQ(def->RenameOutcome(0, "high"), 0);
    double out = 0.0;
    EXPECT_EQ(holder->EvaluateNamed("high", &out), 0);
    EXPECT_EQ(out, 1.0);
    ASSERT_EQ(def->RemoveOutcome(2), 0);
    EXPECT_EQ(Def(c)->GetSize(), 2);
    EXPECT_EQ(holder->GetNumberOfOutcomes(), 2);
    EXPECT_DOUBLE_EQ(holder->GetProbability(0), 0.25);
    EXPECT_EQ(quarn_test::IdsOf(def), (std::vector<std::string>{"high", "state0"}));

    // A renamed continuous parent is followed by every expression naming it.
    ASSERT_EQ(dynamic_cast<QNL_continuousDefinition*>(Def(c))->SetExpression(0, "2*X+1"), 0);
    ASSERT_EQ(net.AddArc(x, c), 0);
    ASSERT_EQ(net.GetNode(x)->SetId("Renamed"), 0);
    EXPECT_EQ(holder->GetExpressionText(1), "Renamed");
    std::vector<std::string> names;
    Hybrid(c)->GetDistribution(0)->GetVariables(names);
    EXPECT_EQ(names, std::vector<std::string>{"Renamed"});
    EXPECT_EQ(Named(c, 0)->GetText(), "2*Renamed+1");
}

// The distribution branch: a single distribution call answers moments, densities and draws;
// any other expression is an equation that answers by evaluation.
TEST(EvaluationContext, DistributionCallsAndEquationsAnswerTheirOwnWay) {
    QNL_namedExpressions call;
    ASSERT_EQ(call.SetMainExpression("Normal(X, 2)"), 0);
    call.SetVariableValue("X", 1.0);
    EXPECT_FALSE(call.HasExpressions());
    double mean = 0.0, variance = 0.0;
    ASSERT_EQ(call.GetMoments(mean, variance), 0);
    EXPECT_EQ(mean, 1.0);
    EXPECT_EQ(variance, 4.0);
    EXPECT_NEAR(call.GetDensity(1.0), 1.0 / (2.0 * std::sqrt(2.0 * M_PI)), 1e-12);

    QNL_namedExpressions equation;
    std::string message;
    EXPECT_EQ(equation.SetMainExpression("2 * (", &message), -2);
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(equation.GetText(), "0");
    ASSERT_EQ(equation.SetMainExpression("2*X+1"), 0);
    ASSERT_EQ(equation.SetExpression("X", "(Y-1)/2"), 0);
    equation.SetVariableValue("X", 1.0);
    equation.SetVariableValue("Y", 3.0);
    EXPECT_TRUE(equation.HasExpressions());
    double value = 0.0;
    ASSERT_EQ(equation.DrawValue(&value), 0);
    EXPECT_EQ(value, 3.0);
    ASSERT_EQ(equation.EvaluateNamed("X", &value), 0);
    EXPECT_EQ(value, 1.0);
    EXPECT_EQ(equation.EvaluateNamed("Z", &value), -2);
    EXPECT_EQ(equation.GetDensity(3.0), -52.0);

    // Slots reach every tree without a lookup by name; a clone starts unbound but equal.
    equation.BindSlots({"Y", "X"});
    equation.SetSlotValue(0, 5.0);
    equation.SetSlotValue(1, 4.0);
    ASSERT_EQ(equation.Evaluate(&value), 0);
    EXPECT_EQ(value, 9.0);
    ASSERT_EQ(equation.EvaluateNamed("X", &value), 0);
    EXPECT_EQ(value, 2.0);
    std::unique_ptr<QNL_evaluationContext> copy(equation.Clone());
    ASSERT_EQ(copy->Evaluate(&value), 0);
    EXPECT_EQ(value, 9.0);

    QNL_evaluationContext base;
    int outcome = 0;
    EXPECT_EQ(base.Evaluate(&value), -52);
    EXPECT_EQ(base.DrawOutcome(&outcome), -52);
    EXPECT_EQ(base.GetProbability(0), -52.0);
    EXPECT_EQ(call.DrawOutcome(&outcome), -52);

    std::unique_ptr<QNL_exprNode> tree(ParseExpression("Normal(0, 3)"));
    QNL_equationContext solver(*tree);
    ASSERT_EQ(solver.GetMoments(mean, variance), 0);
    EXPECT_EQ(variance, 9.0);
    EXPECT_GT(solver.GetDensity(0.0), 0.0);
    std::unique_ptr<QNL_exprNode> plain(ParseExpression("A + 1"));
    QNL_equationContext deterministic(*plain);
    EXPECT_EQ(deterministic.GetMoments(mean, variance), -52);
    deterministic.SetVariableValue("A", 2.0);
    ASSERT_EQ(deterministic.DrawValue(&value), 0);
    EXPECT_EQ(value, 3.0);
}

TEST(EvaluationContext, OutcomeProbabilitiesClipNegativesAndFallBackToUniform) {
    QNL_outcomeExpressions holder({"a", "b", "c"});
    for (int s = 0; s < 3; ++s)
        EXPECT_DOUBLE_EQ(holder.GetProbability(s), 1.0 / 3.0);
    holder.SetExpression("a", "X");
    holder.SetExpression("b", "-1");
    holder.SetExpression("c", "2");
    holder.SetVariableValue("X", 2.0);
    EXPECT_EQ(holder.GetProbability(0), 0.5);
    EXPECT_EQ(holder.GetProbability(1), 0.0);
    QNL_randomUniform().Seed(12);
    int counts[3] = {0, 0, 0};
    for (int i = 0; i < 10000; ++i) {
        int s = -1;
        ASSERT_EQ(holder.DrawOutcome(&s), 0);
        ++counts[s];
    }
    EXPECT_EQ(counts[1], 0);
    EXPECT_NEAR(counts[0] / 10000.0, 0.5, 0.02);
}

// The continuous types are refused with the other formats' refusals; a discrete child of
// continuous parents has a check of its own.
TEST_F(HybridDefinitionTest, TheXmlWriterRefusesADiscreteChildOfContinuousParents) {
    const std::string path = quarn_test::TestFile("dc.xqnl");
    QNL_network model;
    model.AddNode(QNL_TYPE_CPT, "A");
    ASSERT_GE(model.AddNode(QNL_TYPE_DCHILDHPARENT, "H"), 0);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(model.WriteFile(path.c_str()), -2);
    EXPECT_NE(LastMessage().find("'H'"), std::string::npos) << LastMessage();
    EXPECT_FALSE(std::filesystem::exists(path));
    QNL_errorHandler::Instance().Flush();
}

} // namespace
