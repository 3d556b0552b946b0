#include "support/oracle.h"
#include "support/random_network.h"

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

} // namespace
