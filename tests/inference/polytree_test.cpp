#include "inference/polytree.h"

#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

using quarn_test::Beliefs;
using quarn_test::ValueOf;

int UpdateWith(QNL_network& network, int algorithm) {
    network.SetDefaultBNAlgorithm(algorithm);
    return network.UpdateBeliefs();
}

// A random network thinned to a forest: an arc whose ends are already connected goes, so
// nodes of several parents stay and trees of every shape appear.
void ThinToForest(QNL_network& network, const std::vector<int>& nodes) {
    std::vector<int> root(static_cast<std::size_t>(network.GetLastNode() + 1));
    std::iota(root.begin(), root.end(), 0);
    auto find = [&](int x) {
        while (root[static_cast<std::size_t>(x)] != x)
            x = root[static_cast<std::size_t>(x)];
        return x;
    };
    for (int child : nodes) {
        const QNL_intArray parents(network.GetParents(child));
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int a = find(parents[i]), b = find(child);
            if (a == b)
                ASSERT_EQ(network.RemoveArc(parents[i], child), 0);
            else
                root[static_cast<std::size_t>(a)] = b;
        }
    }
    ASSERT_EQ(network.IsPolytree(), 1);
}

} // namespace

TEST(PolytreeTest, LoopyNetworkIsRefusedWithoutChangingValues) {
    QNL_network network;
    const quarn_test::Asia a = quarn_test::BuildAsia(network);
    ValueOf(network, a.xray).SetEvidence(0);
    ASSERT_EQ(UpdateWith(network, QNL_ALG_BN_CLUSTERING), 0);
    const std::vector<double> before = Beliefs(network, a.cancer);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(UpdateWith(network, QNL_ALG_BN_POLYTREE), -1);
    EXPECT_EQ(quarn_test::LastMessage(),
              "PolyTree algorithm can not be applied to this network, because it is not "
              "singly connected.");
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(Beliefs(network, a.cancer), before);
    EXPECT_TRUE(ValueOf(network, a.cancer).IsValueValid());
}

// Every tree of a forest is propagated, with and without evidence, deterministic columns
// and nodes of several parents included.
TEST(PolytreeTest, RandomForestsMatchEnumeration) {
    for (int round = 0; round < 150; ++round) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec = quarn_test::RoundSpec(4200, round);
        spec.nodes = 2 + round % 12;
        const std::vector<int> nodes = quarn_test::BuildRandomNetwork(network, spec);
        ThinToForest(network, nodes);
        quarn_test::SetPossibleEvidence(network, spec.seed * 3, round % 4);
        const std::string label = "round " + std::to_string(round);
        ASSERT_EQ(UpdateWith(network, QNL_ALG_BN_POLYTREE), 0) << label;
        quarn_test::ExpectOracle(network, label);
        if (HasFailure()) return;
    }
}

// Deep enough to overflow any call stack the propagation would use per node; compared with
// clustering at both ends of the chain.
TEST(PolytreeTest, LongChainWithEvidenceAtItsEnd) {
    QNL_network network;
    ASSERT_EQ(network.Init(100000, 1000), 0);
    network.SetNotificationControl(0);
    std::vector<int> chain;
    chain.push_back(quarn_test::AddBinaryNode(network, "C0", {}, {0.3}));
    for (int i = 1; i < 100000; ++i)
        chain.push_back(quarn_test::AddBinaryNode(network, ("C" + std::to_string(i)).c_str(),
                                                  {chain.back()}, {0.9, 0.2}));
    ASSERT_EQ(ValueOf(network, chain.back()).SetEvidence(1), 0);
    ASSERT_EQ(UpdateWith(network, QNL_ALG_BN_POLYTREE), 0);
    std::vector<std::vector<double>> polytree;
    const std::vector<int> probes{chain[0], chain[1], chain[99997], chain[99998]};
    for (int h : probes)
        polytree.push_back(Beliefs(network, h));
    ASSERT_EQ(UpdateWith(network, QNL_ALG_BN_CLUSTERING), 0);
    for (std::size_t i = 0; i < probes.size(); ++i)
        for (std::size_t k = 0; k < 2; ++k)
            EXPECT_NEAR(polytree[i][k], Beliefs(network, probes[i])[k], 1e-9) << i;
    EXPECT_GT(Beliefs(network, chain[99998])[1], Beliefs(network, chain[0])[1]);
}

TEST(PolytreeTest, ArcListedOnOneSideOnlyIsRefused) {
    QNL_network network;
    const int a = quarn_test::AddBinaryNode(network, "A", {}, {0.3});
    const int b = quarn_test::AddBinaryNode(network, "B", {}, {0.6});
    ASSERT_EQ(network.GetChildren(a).Add(b), 0);
    EXPECT_EQ(UpdateWith(network, QNL_ALG_BN_POLYTREE), -3);
    QNL_errorHandler::Instance().Flush();
    EXPECT_FALSE(ValueOf(network, b).IsValueValid());
    network.GetChildren(a).DeleteByContent(b);
}
