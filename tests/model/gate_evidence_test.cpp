// Findings on CAST and DeMorgan networks against their twins, the same tables held as
// probability tables: the evidence checks and the propagation of implied evidence read only
// the table, so codes, messages, implied evidence and the values left valid must agree.

#include "definitions/cpt.h"
#include "definitions/logic_gates.h"
#include "definitions/node_value.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using namespace quarn_test;

double Pick(TestRandom& random, std::initializer_list<double> choices) {
    return choices.begin()[random.Below(static_cast<int>(choices.size()))];
}

// Parameters drawn from a few numbers, the extremes among them, so that tables hold certain
// and impossible cells.
void RandomizeGate(QNL_nodeDefinition* definition, int parents, TestRandom& random) {
    if (auto* cast = dynamic_cast<QNL_cast*>(definition)) {
        QNL_doubleArray positive, negative;
        for (int i = 0; i < parents; ++i) {
            positive.Add(Pick(random, {-1.0, 0.0, 1.0, 0.4, -0.6}));
            negative.Add(Pick(random, {-1.0, 0.0, 1.0, -0.3}));
        }
        ASSERT_EQ(cast->SetPositiveWeights(positive), 0);
        ASSERT_EQ(cast->SetNegativeWeights(negative), 0);
        ASSERT_EQ(cast->SetBaseline(Pick(random, {0.0, 1.0, 0.5, 0.2})), 0);
        return;
    }
    auto* demorgan = dynamic_cast<QNL_demorgan*>(definition);
    ASSERT_NE(demorgan, nullptr);
    QNL_intArray types;
    QNL_doubleArray weights;
    for (int i = 0; i < parents; ++i) {
        types.Add(random.Below(4));
        weights.Add(Pick(random, {0.0, 1.0, 0.3, 0.8}));
    }
    ASSERT_EQ(demorgan->SetParentTypes(types), 0);
    ASSERT_EQ(demorgan->SetParentWeights(weights), 0);
    ASSERT_EQ(demorgan->SetPriorBelief(Pick(random, {0.0, 1.0, 0.5, 0.1})), 0);
}

// Four gates of one class with random arcs and parameters, and the twin of probability
// tables with the gates' outcome names and tables.
void BuildTwins(QNL_network& gates, QNL_network& twin, int type, std::uint64_t seed) {
    TestRandom random(seed);
    constexpr int kNodes = 4;
    for (int i = 0; i < kNodes; ++i) {
        const std::string id = "G" + std::to_string(i);
        ASSERT_EQ(gates.AddNode(type, id.c_str()), i);
        ASSERT_EQ(twin.AddNode(QNL_TYPE_CPT, id.c_str()), i);
        ASSERT_EQ(twin.GetNode(i)->GetDefinition()->SetOutcomeIds(StringsOf({"True", "False"})), 0);
    }
    for (int j = 1; j < kNodes; ++j)
        for (int i = 0; i < j; ++i)
            if (random.Below(2) == 1) {
                ASSERT_EQ(gates.AddArc(i, j), 0);
                ASSERT_EQ(twin.AddArc(i, j), 0);
            }
    for (int i = 0; i < kNodes; ++i) {
        QNL_nodeDefinition* gate = gates.GetNode(i)->GetDefinition();
        RandomizeGate(gate, gates.GetParents(i).GetCount(), random);
        ASSERT_EQ(twin.GetNode(i)->GetDefinition()->SetDefinition(ArrayOf(ValuesOf(gate))), 0);
    }
}

// Evidence kind, outcome and validity of every node, and the cells of valid values.
void ExpectSameState(const QNL_network& gates, const QNL_network& twin, const std::string& at) {
    for (int h = gates.GetFirstNode(); h >= 0; h = gates.GetNextNode(h)) {
        const QNL_nodeValue& g = ValueOf(gates, h);
        const QNL_nodeValue& t = ValueOf(twin, h);
        const std::string label = at + " node " + std::to_string(h);
        EXPECT_EQ(g.HasEvidence(), t.HasEvidence()) << label;
        EXPECT_EQ(g.HasPropagatedEvidence(), t.HasPropagatedEvidence()) << label;
        EXPECT_EQ(g.GetEvidence(), t.GetEvidence()) << label;
        ASSERT_EQ(g.IsValueValid(), t.IsValueValid()) << label;
        if (g.IsValueValid()) ExpectNear(Beliefs(gates, h), Beliefs(twin, h), 1e-12, label);
    }
}

} // namespace

TEST(GateEvidence, FindingsOnGatesActAsOnTheirTableTwins) {
    for (const int type : {QNL_TYPE_CAST, QNL_TYPE_DEMORGAN}) {
        for (const int round : RoundsUpTo(150)) {
            const std::uint64_t seed = static_cast<std::uint64_t>(round) + 1;
            const std::string label = std::string(type == QNL_TYPE_CAST ? "CAST" : "DeMorgan") +
                                      " seed " + std::to_string(seed);
            QNL_network gates, twin;
            BuildTwins(gates, twin, type, seed);
            if (HasFatalFailure()) return;
            TestRandom random(seed * 31);
            for (int step = 0; step < 12; ++step) {
                const std::string at = label + " step " + std::to_string(step);
                const int h = random.Below(4);
                const int outcome = random.Below(3) - 1; // -1 clears
                Messages();
                int codes[2];
                double evidence[2] = {-1.0, -1.0};
                std::vector<std::string> messages[2];
                QNL_network* networks[] = {&gates, &twin};
                for (int n = 0; n < 2; ++n) {
                    QNL_nodeValue& value = ValueOf(*networks[n], h);
                    if (step % 4 == 3) {
                        codes[n] = networks[n]->UpdateBeliefs();
                        networks[n]->CalcPropEvidence(evidence[n]);
                    } else if (outcome < 0) {
                        codes[n] = value.HasEvidence() ? value.ClearEvidence() : 0;
                    } else {
                        codes[n] = value.SetEvidence(outcome);
                    }
                    messages[n] = Messages();
                }
                EXPECT_NEAR(evidence[0], evidence[1], 1e-12) << at;
                EXPECT_EQ(codes[0], codes[1]) << at;
                EXPECT_EQ(messages[0], messages[1]) << at;
                ExpectSameState(gates, twin, at);
                if (HasFailure()) return;
            }
        }
    }
}

// The smallest case: B is always False, so True is refused on it.
TEST(GateEvidence, ImpossibleOutcomeOfACastGateIsRefused) {
    QNL_network net;
    const int a = net.AddNode(QNL_TYPE_CAST, "A");
    const int b = net.AddNode(QNL_TYPE_CAST, "B");
    ASSERT_EQ(net.AddArc(a, b), 0);
    auto* gate = static_cast<QNL_cast*>(net.GetNode(b)->GetDefinition());
    ASSERT_EQ(gate->SetBaseline(0.0), 0);
    ASSERT_EQ(gate->SetPositiveWeights(ArrayOf({0.0})), 0);
    ASSERT_EQ(gate->SetNegativeWeights(ArrayOf({0.0})), 0);
    Messages();
    EXPECT_EQ(ValueOf(net, b).SetEvidence(0), -2);
    EXPECT_EQ(Messages(), std::vector<std::string>{"-2 Outcome [True] of node [B] is impossible"});
    EXPECT_FALSE(ValueOf(net, b).HasEvidence());
}
