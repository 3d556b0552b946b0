#include "inference/relevance.h"

#include "support/beliefs.h"
#include "support/gate_reference.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include "definitions/logic_gates.h"
#include "definitions/node_values.h"
#include "definitions/noisy_max.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace quarn_test;

int ExtraRecords(QNL_network& net) {
    QNL_componentList list;
    EXPECT_EQ(QNL_relevance::Reduce(net, true, true, list), 0);
    int extras = 0;
    for (int c = 0; c < list.GetCount(); ++c)
        for (int r = 0; r < list[c]->GetNumberOfRecords(); ++r)
            if (list[c]->GetRecord(r)->GetNodeHandle() < 0) ++extras;
    return extras;
}

// Random networks where half the nodes are gates (noisy-MAX and noisy adders), noisy-MAX nodes
// observed at their lowest outcome, others at sampled outcomes: posteriors and the probability of
// evidence equal enumeration, with the decomposition off and on.
TEST(GateRelevance, DecompositionKeepsPosteriorsAndProbabilityOfEvidence) {
    int decomposed = 0;
    for (int round = 0; round < 40; ++round) {
        QNL_network net;
        RandomNetworkSpec spec = RoundSpec(700, round);
        spec.maxOutcomes = 3;
        BuildRandomNetwork(net, spec);
        TestRandom random(900 + round);
        const std::vector<int> gates = MixInGates(net, random, 0.6);
        SetPossibleEvidence(net, 50 + round, round % 3);
        for (int h : gates) {
            QNL_node* node = net.GetNode(h);
            if (node->GetType() != QNL_TYPE_NOISY_MAX || node->GetValue()->IsObserved() ||
                net.GetParents(h).GetCount() < 2 || random.Uniform() < 0.3)
                continue;
            ASSERT_EQ(
                node->GetValue()->SetEvidence(node->GetDefinition()->GetNumberOfOutcomes() - 1), 0);
        }
        const Enumeration truth = Enumerate(net);
        ASSERT_TRUE(truth.ok) << truth.error;
        for (const bool on : {false, true}) {
            const std::string label = "round " + std::to_string(round) + (on ? " on" : " off");
            net.SetNoisyMaxRelevance(on);
            if (on) decomposed += ExtraRecords(net);
            ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
            ExpectOracle(net, label);
            double p = -1.0;
            ASSERT_TRUE(net.CalcPropEvidence(p)) << label;
            EXPECT_NEAR(p, truth.probabilityOfEvidence,
                        1e-9 * std::max(1e-3, truth.probabilityOfEvidence))
                << label;
        }
    }
    EXPECT_GT(decomposed, 10);
}

// The network's setting switches the decomposition, a user property overrides it either way;
// Y keeps one unobserved parent, the other two stand under extra records.
TEST(GateRelevance, UserPropertyOverridesTheNetworkSetting) {
    const struct {
        bool setting;
        const char* property;
        int extras;
    } cases[] = {{false, nullptr, 0},
                 {true, nullptr, 2},
                 {true, "0", 0},
                 {false, "1", 2},
                 {false, "12abc", 2}};
    for (const auto& c : cases) {
        QNL_network net;
        const int y = net.AddNode(QNL_TYPE_NOISY_MAX, "Y");
        for (const char* id : {"A", "B", "C"})
            ASSERT_EQ(net.AddArc(net.AddNode(QNL_TYPE_CPT, id), y), 0);
        ASSERT_EQ(net.GetNode(y)->GetValue()->SetEvidence(1), 0);
        net.SetNoisyMaxRelevance(c.setting);
        if (c.property != nullptr)
            net.GetUserProperties().AddProperty("QNL_NOISYMAXRELEVANCE", c.property);
        EXPECT_EQ(ExtraRecords(net), c.extras) << (c.property ? c.property : "none");
    }
}

// A value carrying the marker, as whatever sets it would leave it, cuts its node from the
// parents: a gate then stands for its prior belief, baseline or leak; a probability table is
// refused once, with nothing listed.
class MarkedBelief : public QNL_beliefVector {
public:
    using QNL_beliefVector::QNL_beliefVector;
    QNL_nodeValue* CreateCopy() const override {
        auto* copy = new MarkedBelief(network, handle);
        copy->flags = FLAG_MARKER;
        return copy;
    }
};

TEST(GateRelevance, MarkedNodesStandForTheirOwnNumberOrAreRefused) {
    const struct {
        int parentType, type, code;
    } cases[] = {{QNL_TYPE_CPT, QNL_TYPE_NOISY_MAX, 0},
                 {QNL_TYPE_DEMORGAN, QNL_TYPE_DEMORGAN, 0},
                 {QNL_TYPE_CAST, QNL_TYPE_CAST, 0},
                 {QNL_TYPE_CPT, QNL_TYPE_CPT, -51},
                 {QNL_TYPE_CPT, QNL_TYPE_NOISY_ADDER, -51}};
    for (const auto& c : cases) {
        QNL_network net;
        const int y = net.AddNode(c.type, "Y");
        ASSERT_EQ(net.AddArc(net.AddNode(c.parentType, "X"), y), 0);
        QNL_nodeDefinition* definition = net.GetNode(y)->GetDefinition();
        double first = 0.0;
        if (auto* d = dynamic_cast<QNL_demorgan*>(definition))
            first = d->SetPriorBelief(0.3) == 0 ? 0.3 : -1.0;
        else if (auto* k = dynamic_cast<QNL_cast*>(definition))
            first = k->SetBaseline(0.7) == 0 ? 0.7 : -1.0;
        else if (auto* g = dynamic_cast<QNL_noisyMAX*>(definition))
            first = g->GetParameters()->Subscript(g->GetNumberOfColumns() * 2 - 2);
        const MarkedBelief marked(&net, y);
        ASSERT_EQ(net.GetNode(y)->CopyValue(&marked), 0);
        QNL_componentList list;
        QNL_errorHandler::Instance().Flush();
        const int result = QNL_relevance::Reduce(net, false, true, list);
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), c.code != 0) << c.type;
        QNL_errorHandler::Instance().Flush();
        ASSERT_EQ(result, c.code) << c.type;
        EXPECT_TRUE(c.code == 0 || list.GetCount() == 0) << c.type;
        for (int i = 0; i < list.GetCount(); ++i)
            for (int r = 0; r < list[i]->GetNumberOfRecords(); ++r) {
                const QNL_relevanceNode* record = list[i]->GetRecord(r);
                if (record->GetNodeHandle() != y) continue;
                EXPECT_EQ(record->GetNumberOfParents(), 0);
                ASSERT_EQ(record->GetTable()->GetSize(), 2);
                EXPECT_DOUBLE_EQ(record->GetTable()->Subscript(0), first) << c.type;
            }
    }
}

} // namespace
