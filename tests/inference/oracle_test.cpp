#include "support/oracle.h"
#include "support/random_network.h"

#include <numeric>

#include "definitions/node_value.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <gtest/gtest.h>

namespace {

using quarn_test::Enumerate;
using quarn_test::Enumeration;

class Oracle : public ::testing::Test {
protected:
    void Observe(int node, int outcome) {
        ASSERT_EQ(net.GetNode(node)->GetValue()->SetEvidence(outcome), 0);
    }

    QNL_network net;
};

TEST_F(Oracle, FullEvidenceGivesTheChainRuleProductAndTooLargeIsRefused) {
    EXPECT_DOUBLE_EQ(Enumerate(net).probabilityOfEvidence, 1.0); // no node at all
    const auto s = quarn_test::BuildSprinkler(net);
    // Notifications off: the network must not refuse or extend the evidence.
    net.SetNotificationControl(0);
    Observe(s.cloudy, 1);
    Observe(s.sprinkler, 0);
    Observe(s.rain, 1);
    Observe(s.wetGrass, 0);
    const Enumeration e = Enumerate(net);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_NEAR(e.probabilityOfEvidence, 0.5 * 0.5 * 0.8 * 0.9, 1e-15);
    EXPECT_EQ(e.Posterior(s.rain), (std::vector<double>{0.0, 1.0}));

    QNL_network large;
    quarn_test::RandomNetworkSpec spec;
    spec.nodes = 13;
    spec.minOutcomes = spec.maxOutcomes = 4; // 4^13 > 2^24 configurations
    quarn_test::BuildRandomNetwork(large, spec);
    const Enumeration refused = Enumerate(large);
    EXPECT_FALSE(refused.ok);
    EXPECT_FALSE(refused.error.empty());
}

TEST_F(Oracle, RandomNetworksAreReproducibleFromTheirSeed) {
    quarn_test::RandomNetworkSpec spec;
    spec.seed = 42;
    spec.nodes = 7;
    spec.deterministicShare = 0.3;
    quarn_test::BuildRandomNetwork(net, spec);
    QNL_network same, other;
    quarn_test::BuildRandomNetwork(same, spec);
    spec.seed = 43;
    quarn_test::BuildRandomNetwork(other, spec);
    bool differs = false;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_Dmatrix* a = net.GetNode(h)->GetDefinition()->GetMatrix();
        const QNL_Dmatrix* b = same.GetNode(h)->GetDefinition()->GetMatrix();
        const QNL_Dmatrix* c = other.GetNode(h)->GetDefinition()->GetMatrix();
        EXPECT_EQ(a->GetItems(), b->GetItems());
        EXPECT_EQ(net.GetParents(h), same.GetParents(h));
        differs = differs || a->GetItems() != c->GetItems();
        const int n = net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
        for (int start = 0; start < a->GetSize(); start += n) {
            double sum = 0.0;
            for (int k = 0; k < n; ++k) {
                EXPECT_GE(a->Subscript(start + k), 0.0);
                sum += a->Subscript(start + k);
            }
            EXPECT_NEAR(sum, 1.0, 1e-12);
        }
    }
    EXPECT_TRUE(differs);
}

// Sampled evidence is possible and gives distributions; planted impossible evidence gives
// probability 0 and all-zero posteriors.
TEST_F(Oracle, SampledEvidenceIsPossibleAndPlantedConflictsAreNot) {
    int impossible = 0;
    for (std::uint64_t seed = 1; seed <= 30; ++seed) {
        quarn_test::RandomNetworkSpec spec;
        spec.seed = seed;
        spec.nodes = 6;
        spec.deterministicShare = 0.5;
        QNL_network random;
        quarn_test::BuildRandomNetwork(random, spec);
        const std::vector<int> observed = quarn_test::SetPossibleEvidence(random, seed, 3);
        ASSERT_EQ(observed.size(), 3u);
        Enumeration e = Enumerate(random);
        ASSERT_TRUE(e.ok) << e.error;
        EXPECT_GT(e.probabilityOfEvidence, 0.0) << "seed " << seed;
        for (int h = random.GetFirstNode(); h >= 0; h = random.GetNextNode(h)) {
            const std::vector<double>& p = e.Posterior(h);
            EXPECT_NEAR(std::accumulate(p.begin(), p.end(), 0.0), 1.0, 1e-12);
        }
        for (int h : observed) {
            const int outcome = random.GetNode(h)->GetValue()->GetEvidence();
            EXPECT_DOUBLE_EQ(e.Posterior(h)[static_cast<std::size_t>(outcome)], 1.0);
        }

        random.ClearAllEvidence();
        if (!quarn_test::SetImpossibleEvidence(random, seed)) continue;
        ++impossible;
        e = Enumerate(random);
        ASSERT_TRUE(e.ok) << e.error;
        EXPECT_EQ(e.probabilityOfEvidence, 0.0) << "seed " << seed;
        for (int h = random.GetFirstNode(); h >= 0; h = random.GetNextNode(h))
            for (double p : e.Posterior(h))
                EXPECT_EQ(p, 0.0);
    }
    EXPECT_GT(impossible, 10);
}

} // namespace
