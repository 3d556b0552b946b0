#include "support/oracle.h"
#include "support/random_network.h"

#include <cmath>
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
    // P(outcome 0) of a node in the enumeration.
    static double PTrue(const Enumeration& e, int node) { return e.Posterior(node)[0]; }

    QNL_network net;
};

TEST_F(Oracle, SprinklerWithWetGrassMatchesTheReference) {
    const auto s = quarn_test::BuildSprinkler(net);
    Observe(s.wetGrass, 0);
    const Enumeration e = Enumerate(net);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_NEAR(e.probabilityOfEvidence, 0.6471, 1e-12);
    EXPECT_NEAR(PTrue(e, s.sprinkler), 0.429764, 5e-7);
    EXPECT_NEAR(PTrue(e, s.rain), 0.707928, 5e-7);
    EXPECT_NEAR(PTrue(e, s.cloudy), 0.575800, 5e-7);
    EXPECT_DOUBLE_EQ(PTrue(e, s.wetGrass), 1.0);
}

TEST_F(Oracle, AsiaWithPositiveXRayAndDyspnoeaMatchesTheReference) {
    const auto a = quarn_test::BuildAsia(net);
    Observe(a.xray, 0);
    Observe(a.dyspnoea, 0);
    const Enumeration e = Enumerate(net);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_NEAR(e.probabilityOfEvidence, 0.0706701, 5e-8);
    EXPECT_NEAR(PTrue(e, a.tuberculosis), 0.113933, 5e-7);
    EXPECT_NEAR(PTrue(e, a.cancer), 0.621253, 5e-7);
    EXPECT_NEAR(PTrue(e, a.bronchitis), 0.681869, 5e-7);
    EXPECT_NEAR(PTrue(e, a.either), 0.728725, 5e-7);
    EXPECT_NEAR(PTrue(e, a.smoking), 0.785610, 5e-7);
    EXPECT_NEAR(PTrue(e, a.visit), 0.013984, 5e-7);
}

TEST_F(Oracle, AlarmPolytreeMatchesTheReferenceWithAndWithoutCalls) {
    const auto a = quarn_test::BuildAlarm(net);
    Enumeration prior = Enumerate(net);
    ASSERT_TRUE(prior.ok) << prior.error;
    EXPECT_DOUBLE_EQ(prior.probabilityOfEvidence, 1.0);
    EXPECT_NEAR(PTrue(prior, a.alarm), 0.002516, 5e-7);
    EXPECT_NEAR(PTrue(prior, a.johnCalls), 0.052139, 5e-7);

    Observe(a.johnCalls, 0);
    Observe(a.maryCalls, 0);
    const Enumeration e = Enumerate(net);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_NEAR(e.probabilityOfEvidence, 0.00208410, 5e-9);
    EXPECT_NEAR(PTrue(e, a.burglary), 0.284172, 5e-7);
    EXPECT_NEAR(PTrue(e, a.earthquake), 0.176067, 5e-7);
    EXPECT_NEAR(PTrue(e, a.alarm), 0.760692, 5e-7);
}

TEST_F(Oracle, FullEvidenceGivesTheChainRuleProduct) {
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
}

TEST_F(Oracle, EmptyNetworkHasCertainEvidence) {
    const Enumeration e = Enumerate(net);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_DOUBLE_EQ(e.probabilityOfEvidence, 1.0);
}

TEST_F(Oracle, RefusesNetworksTooLargeToEnumerate) {
    quarn_test::RandomNetworkSpec spec;
    spec.nodes = 13;
    spec.minOutcomes = spec.maxOutcomes = 4; // 4^13 > 2^24 configurations
    quarn_test::BuildRandomNetwork(net, spec);
    const Enumeration e = Enumerate(net);
    EXPECT_FALSE(e.ok);
    EXPECT_FALSE(e.error.empty());
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
        EXPECT_EQ(a->GetDimensions(), b->GetDimensions());
        EXPECT_EQ(a->GetItems(), b->GetItems());
        EXPECT_EQ(net.GetParents(h), same.GetParents(h));
        differs =
            differs || a->GetDimensions() != c->GetDimensions() || a->GetItems() != c->GetItems();
        // Every column is a distribution.
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

TEST_F(Oracle, SampledEvidenceIsPossibleAndPosteriorsAreDistributions) {
    for (std::uint64_t seed = 1; seed <= 30; ++seed) {
        QNL_network random;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = seed;
        spec.nodes = 6;
        spec.deterministicShare = 0.4;
        quarn_test::BuildRandomNetwork(random, spec);
        const std::vector<int> observed = quarn_test::SetPossibleEvidence(random, seed, 3);
        ASSERT_EQ(observed.size(), 3u);
        const Enumeration e = Enumerate(random);
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
    }
}

TEST_F(Oracle, ImpossibleEvidenceHasProbabilityZero) {
    int tried = 0;
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
        QNL_network random;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = seed;
        spec.nodes = 5;
        spec.deterministicShare = 0.5;
        quarn_test::BuildRandomNetwork(random, spec);
        if (!quarn_test::SetImpossibleEvidence(random, seed)) continue;
        ++tried;
        const Enumeration e = Enumerate(random);
        ASSERT_TRUE(e.ok) << e.error;
        EXPECT_EQ(e.probabilityOfEvidence, 0.0) << "seed " << seed;
        for (int h = random.GetFirstNode(); h >= 0; h = random.GetNextNode(h))
            for (double p : e.Posterior(h))
                EXPECT_EQ(p, 0.0);
    }
    EXPECT_GT(tried, 10);
}

} // namespace
