#include "definitions/logic_gates.h"
#include "definitions/node_value.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

using namespace quarn_test;

class LogicGates : public NetworkFixture {
protected:
    QNL_demorgan* DeMorgan(int node) { return dynamic_cast<QNL_demorgan*>(Def(node)); }
    QNL_cast* Cast(int node) { return dynamic_cast<QNL_cast*>(Def(node)); }
};

TEST_F(LogicGates, DeMorganColumnsCombineCausesAndInhibitors) {
    const int g = Add(QNL_TYPE_DEMORGAN, "G");
    EXPECT_EQ(IdsOf(Def(g)), (std::vector<std::string>{"True", "False"}));
    ASSERT_EQ(DeMorgan(g)->SetPriorBelief(0.2), 0);
    ExpectNear(Values(g), {0.2, 0.8}, 1e-12, "prior");
    EXPECT_EQ(DeMorgan(g)->SetPriorBelief(1.5), -2);
    const int p = Add(QNL_TYPE_DEMORGAN, "P");
    ASSERT_EQ(net.AddArc(p, g), 0);
    ASSERT_EQ(DeMorgan(g)->SetPriorBelief(0.1), 0);
    struct Case {
        int type;
        std::vector<double> table;
    } cases[] = {
        {QNL_DEMORGAN_CAUSE, {0.91, 0.09, 0.1, 0.9}},
        {QNL_DEMORGAN_BARRIER, {0.1, 0.9, 0.91, 0.09}},
        {QNL_DEMORGAN_INHIBITOR, {0.05, 0.95, 0.1, 0.9}},
        {QNL_DEMORGAN_REQUIREMENT, {0.1, 0.9, 0.05, 0.95}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(DeMorgan(g)->SetParentTypes(IntsOf({c.type})), 0);
        ASSERT_EQ(DeMorgan(g)->SetParentWeights(ArrayOf({c.type >= 2 ? 0.9 : 0.5})), 0);
        ExpectNear(Values(g), c.table, 1e-12, "type " + std::to_string(c.type));
    }
    // Refusals leave the gate as it was.
    for (const auto& bad : {ArrayOf({1.5}), ArrayOf({-0.1}), ArrayOf({0.5, 0.5})})
        EXPECT_EQ(DeMorgan(g)->SetParentWeights(bad), -2);
    EXPECT_EQ(DeMorgan(g)->SetParentTypes(IntsOf({4})), -2);
    ExpectNear(Values(g), cases[3].table, 1e-12, "after refusals");
    EXPECT_EQ(net.AddArc(Add(QNL_TYPE_CPT, "C"), g), -51);
    // A definition made for a node that already has parents gives each the default entry.
    ASSERT_EQ(net.AddArc(Add(QNL_TYPE_DEMORGAN, "Q"), g), 0);
    QNL_demorgan fresh(g, &net);
    EXPECT_EQ(std::vector<int>({fresh.GetParentType(0), fresh.GetParentType(1),
                                fresh.GetParentType(2), fresh.GetSize()}),
              std::vector<int>({QNL_DEMORGAN_CAUSE, QNL_DEMORGAN_CAUSE, -1, 8}));
}

TEST_F(LogicGates, CastColumnsFollowTheSignedStrengths) {
    const int p = Add(QNL_TYPE_CAST, "P");
    const int q = Add(QNL_TYPE_CAST, "Q");
    const int g = Add(QNL_TYPE_CAST, "G");
    ASSERT_EQ(net.AddArc(p, g), 0);
    ASSERT_EQ(Cast(g)->SetPositiveWeights(ArrayOf({0.6})), 0);
    ASSERT_EQ(Cast(g)->SetNegativeWeights(ArrayOf({-0.6})), 0);
    ExpectNear(Values(g), {0.8, 0.2, 0.2, 0.8}, 1e-12, "one parent");
    ASSERT_EQ(net.AddArc(q, g), 0);
    ASSERT_EQ(Cast(g)->SetPositiveWeights(ArrayOf({1.0, -1.0})), 0);
    EXPECT_NEAR(Values(g)[0], 0.5, 1e-12); // +1 and -1 cancel to the baseline
    EXPECT_EQ(Cast(g)->SetNegativeWeights(ArrayOf({0.5, -1.5})), -2);
    EXPECT_EQ(Cast(g)->SetBaseline(1.1), -2);
    EXPECT_EQ(net.AddArc(Add(QNL_TYPE_DEMORGAN, "D"), g), -51);
}

// A parent that stops being a gate of the child's class loses its arc; the other parent keeps
// its entry, the former parent can take outcomes, and the network reads back as written.
TEST_F(LogicGates, ParentThatIsNoLongerAGateLosesItsArc) {
    const std::string path = quarn_test::TestFile("gate_parent.xqnl");
    for (int gate : {QNL_TYPE_DEMORGAN, QNL_TYPE_CAST}) {
        for (int type : {QNL_TYPE_CPT, QNL_TYPE_TRUTHTABLE}) {
            const std::string label = std::to_string(gate) + " parent -> " + std::to_string(type);
            net.DeleteAllNodes();
            const int p = Add(gate, "P"), q = Add(gate, "Q"), g = Add(gate, "G");
            ASSERT_EQ(net.AddArc(p, g) + net.AddArc(q, g), 0) << label;
            if (gate == QNL_TYPE_DEMORGAN)
                ASSERT_EQ(DeMorgan(g)->SetParentWeights(ArrayOf({0.3, 0.8})), 0);
            else
                ASSERT_EQ(Cast(g)->SetPositiveWeights(ArrayOf({0.3, 0.8})), 0);
            const std::vector<double> qOnly = [&] {
                QNL_network copy;
                EXPECT_EQ(copy.Copy(net), 0);
                EXPECT_EQ(copy.RemoveArc(copy.FindNode("P"), copy.FindNode("G")), 0);
                return ValuesOf(copy.GetNode(copy.FindNode("G"))->GetDefinition());
            }();
            ASSERT_EQ(net.GetNode(p)->SetType(type), 0) << label;
            EXPECT_EQ(net.GetParents(g).GetCount(), 1) << label;
            EXPECT_EQ(net.GetParents(g)[0], q) << label;
            ExpectNear(Values(g), qOnly, 1e-12, label);
            EXPECT_EQ(Def(p)->AddOutcome("Maybe"), 0) << label;
            ASSERT_EQ(net.WriteFile(path.c_str()), 0) << label;
            QNL_network back;
            ASSERT_EQ(back.ReadFile(path.c_str()), 0) << label << ": " << LastMessage();
            EXPECT_EQ(net.UpdateBeliefs(), 0) << label;
        }
    }
}

// Random gate networks give the posteriors and probability of evidence of enumeration;
// setting a gate's numbers makes the values that depend on it stale.
TEST_F(LogicGates, GateNetworksMatchEnumerationAndSettersInvalidate) {
    TestRandom random(77);
    for (int round = 0; round < 12; ++round) {
        net.DeleteAllNodes();
        const bool cast = round % 2;
        std::vector<int> nodes;
        for (int i = 0; i < 6; ++i) {
            nodes.push_back(
                Add(cast ? QNL_TYPE_CAST : QNL_TYPE_DEMORGAN, ("G" + std::to_string(i)).c_str()));
            for (int j = 0; j < i; ++j)
                if (random.Uniform() < 0.4) net.AddArc(nodes[j], nodes.back());
            std::vector<double> w, v;
            std::vector<int> t;
            for (int j = 0; j < net.GetParents(nodes.back()).GetCount(); ++j) {
                w.push_back(random.Uniform());
                v.push_back(-random.Uniform());
                t.push_back(random.Below(4));
            }
            QNL_demorgan* d = DeMorgan(nodes.back());
            QNL_cast* c = Cast(nodes.back());
            ASSERT_EQ(cast ? c->SetPositiveWeights(ArrayOf(w)) : d->SetParentWeights(ArrayOf(w)),
                      0);
            ASSERT_EQ(cast ? c->SetNegativeWeights(ArrayOf(v)) : d->SetParentTypes(IntsOf(t)), 0);
            ASSERT_EQ(cast ? c->SetBaseline(0.05 + 0.9 * random.Uniform())
                           : d->SetPriorBelief(random.Uniform()),
                      0);
        }
        ASSERT_EQ(net.GetNode(nodes.back())->GetValue()->SetEvidence(round % 2), 0);
        const std::string label = "round " + std::to_string(round);
        ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
        ExpectOracle(net, label);
        double p = -1.0;
        ASSERT_TRUE(net.CalcPropEvidence(p)) << label;
        EXPECT_NEAR(p, Enumerate(net).probabilityOfEvidence, 1e-12) << label;
        ASSERT_EQ(cast ? Cast(nodes[0])->SetBaseline(0.5) : DeMorgan(nodes[0])->SetPriorBelief(0.5),
                  0);
        const QNL_intArray& children = net.GetChildren(nodes[0]);
        for (int i = 0; i < children.GetCount(); ++i) {
            const QNL_nodeValue* value = net.GetNode(children[i])->GetValue();
            EXPECT_TRUE(value->IsObserved() || !value->IsValueValid()) << label;
        }
    }
}

// The gates' tables can be written in place (the Java binding does); numbers that are no
// distribution must stop evaluation as they do for a probability table, not come out as
// beliefs, while a proper table written the same way is used as it stands.
TEST_F(LogicGates, TablesWrittenInPlaceAreUsedOnlyWhenTheyAreDistributions) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* label;
        std::vector<double> column;
        bool usable;
    } tables[] = {{"negative", {1.5, -0.5}, false},
                  {"not a number", {nan, 0.5}, false},
                  {"short sum", {0.45, 0.45}, false},
                  {"proper", {0.3, 0.7}, true}};
    for (const int type : {QNL_TYPE_CAST, QNL_TYPE_DEMORGAN, QNL_TYPE_NOISY_ADDER}) {
        for (const auto& t : tables) {
            net.DeleteAllNodes();
            const int g = Add(type, "G");
            const std::string label = std::string(Def(g)->GetTypeName()) + " " + t.label;
            QNL_Dmatrix* table = Def(g)->GetMatrix();
            ASSERT_NE(table, nullptr) << label;
            // A noisy adder has a third outcome, left at 0.
            std::vector<double> column = t.column;
            column.resize(static_cast<std::size_t>(table->GetSize()), 0.0);
            for (std::size_t k = 0; k < column.size(); ++k)
                table->Subscript(static_cast<int>(k)) = column[k];
            net.NotifyChange(g, QNL_network::CHANGE_VALUES);
            double p = -1.0;
            if (!t.usable) {
                EXPECT_EQ(net.UpdateBeliefs(), -568) << label;
                EXPECT_FALSE(net.CalcPropEvidence(p)) << label;
                EXPECT_FALSE(net.GetNode(g)->GetValue()->IsValueValid()) << label;
                continue;
            }
            ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
            ExpectNear(Beliefs(net, g), column, 1e-12, label);
        }
    }
}

} // namespace
