#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "inference/equation_solver.h"
#include "inference/hybrid_inference.h"
#include "inference/polytree.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What one run of the entry points gives on the network: update, and the probability of the
// evidence by clustering and by the chain rule, with what each logged.
struct Outcome {
    int update = 0;
    bool clustered = false, chained = false;
    double byClustering = -1.0, byChainRule = -1.0;
    std::vector<std::string> messages;

    bool operator==(const Outcome& o) const {
        return update == o.update && clustered == o.clustered && chained == o.chained &&
               byClustering == o.byClustering && byChainRule == o.byChainRule &&
               messages == o.messages;
    }
};

Outcome RunAll(QNL_network& network) {
    QNL_errorHandler::Instance().Flush();
    Outcome o;
    o.update = network.UpdateBeliefs();
    o.clustered = network.CalcPropEvidence(o.byClustering, false);
    o.chained = network.CalcPropEvidence(o.byChainRule, true);
    o.messages = quarn_test::Messages();
    return o;
}

// A network that had nodes, evidence and arcs, all deleted (the last slot first, then the
// rest), so its slot table is not empty while it holds no node.
void EmptiedNetwork(QNL_network& network) {
    const std::vector<int> nodes = quarn_test::BuildRandomNetwork(network, {47, 5, 2, 3, 0.0});
    quarn_test::SetPossibleEvidence(network, 47, 2);
    ASSERT_EQ(network.UpdateBeliefs(), 0);
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
        ASSERT_EQ(network.DeleteNode(*it), 0);
    ASSERT_EQ(network.GetNumberOfNodes(), 0);
}

// A network without nodes updates alike under every algorithm of every kind, a new one and
// one whose nodes were all deleted; no entry lets an exception out.
TEST(EmptyNetworkUpdate, EveryAlgorithmAnswersAsTheDefaultOne) {
    for (bool emptied : {false, true}) {
        SCOPED_TRACE(emptied ? "emptied" : "new");
        QNL_network reference;
        if (emptied) EmptiedNetwork(reference);
        const Outcome expected = RunAll(reference);
        EXPECT_EQ(expected.update, 0);
        for (int id = QNL_ALG_BN_CLUSTERING; id <= QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED;
             ++id) {
            for (int hybrid = QNL_ALG_HBN_PROPAGATED_IMPORTANCE;
                 hybrid <= QNL_ALG_HBN_LOGIC_SAMPLING; ++hybrid) {
                SCOPED_TRACE("algorithm " + std::to_string(id) + ", hybrid " +
                             std::to_string(hybrid));
                QNL_network network;
                if (emptied) EmptiedNetwork(network);
                network.SetDefaultBNAlgorithm(id);
                network.SetDefaultHBNAlgorithm(hybrid);
                network.SetDefaultIDAlgorithm(hybrid % 2);
                ASSERT_EQ(network.GetDefaultBNAlgorithm(), id);
                Outcome got;
                EXPECT_NO_THROW(got = RunAll(network));
                EXPECT_TRUE(got == expected) << got.update << " " << expected.update;
                // The entries of the paths the dispatch does not take on an empty network.
                EXPECT_NO_THROW(EXPECT_EQ(RunPolytree(network), 0));
                EXPECT_NO_THROW(EXPECT_EQ(RunHybridInference(network, hybrid), 0));
                EXPECT_NO_THROW(EXPECT_EQ(RunEquationSolver(network), 0));
                QNL_errorHandler::Instance().Flush();
            }
        }
    }
}


// Random edits take polytrees apart down to no node at all, the last slot often first, so the
// slot table keeps holes: after every edit the polytree matches enumeration; the empty network
// updates as under clustering; a node added afterwards gets its prior.
TEST(PolytreeTest, RandomDeletionsDownToNothingKeepMatchingEnumeration) {
    int checked = 0;
    for (int round = 0; round < 24; ++round) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec = quarn_test::RoundSpec(4700, round);
        spec.nodes = 3 + round % 8;
        spec.maxParents = 2;
        quarn_test::BuildRandomNetwork(network, spec);
        quarn_test::ThinToForest(network);
        ASSERT_EQ(network.IsPolytree(), 1);
        quarn_test::SetPossibleEvidence(network, spec.seed * 5, round % 3);
        network.SetDefaultBNAlgorithm(QNL_ALG_BN_POLYTREE);
        quarn_test::TestRandom random(spec.seed);
        for (int step = 0; network.GetNumberOfNodes() > 0; ++step) {
            const std::string label =
                "round " + std::to_string(round) + " step " + std::to_string(step);
            QNL_intArray nodes;
            network.GetAllNodes(nodes);
            const int h = nodes[random.Below(nodes.GetCount())];
            const QNL_intArray& parents = network.GetParents(h);
            switch (random.Below(4)) {
            case 0:
                ASSERT_EQ(network.DeleteNode(network.GetLastNode()), 0) << label;
                break;
            case 1:
                ASSERT_EQ(network.DeleteNode(h), 0) << label;
                break;
            case 2:
                if (parents.GetCount() > 0) {
                    ASSERT_EQ(network.RemoveArc(parents[random.Below(parents.GetCount())], h), 0);
                }
                break;
            default: // findings of one joint draw, so never impossible together
                ASSERT_EQ(network.ClearAllEvidence(), 0);
                quarn_test::SetPossibleEvidence(network, spec.seed + step, 1 + step % 2);
            }
            ASSERT_EQ(network.UpdateBeliefs(), 0) << label;
            // A deletion can leave a finding impossible; the polytree then spreads the
            // conflict, which enumeration has no answer to compare with.
            if (quarn_test::Enumerate(network).probabilityOfEvidence > 0.0) {
                quarn_test::ExpectOracle(network, label);
                ++checked;
            }
            if (HasFailure()) return;
        }
        EXPECT_NO_THROW(EXPECT_EQ(network.UpdateBeliefs(), 0));
        const int again = quarn_test::AddBinaryNode(network, "Again", {}, {0.35});
        ASSERT_EQ(network.UpdateBeliefs(), 0);
        quarn_test::ExpectNear(quarn_test::Beliefs(network, again), {0.35, 0.65}, 1e-15, "again");
    }
    EXPECT_GE(checked, 200);
}

} // namespace

namespace {

// Gates are propagated through the tables they stand for: a gate observed below two parents
// (of its own kind where it takes no other), against clustering and enumeration.
TEST(PolytreeTest, EveryGateIsTakenAsItsTable) {
    for (int type : {QNL_TYPE_TRUTHTABLE, QNL_TYPE_NOISY_MAX, QNL_TYPE_NOISY_ADDER, QNL_TYPE_CAST,
                     QNL_TYPE_DEMORGAN}) {
        SCOPED_TRACE(type);
        QNL_network network;
        const bool own = type == QNL_TYPE_CAST || type == QNL_TYPE_DEMORGAN;
        const int a =
            own ? network.AddNode(type, "A") : quarn_test::AddBinaryNode(network, "A", {}, {0.3});
        const int b =
            own ? network.AddNode(type, "B") : quarn_test::AddBinaryNode(network, "B", {}, {0.8});
        const int g = network.AddNode(type, "G");
        ASSERT_GE(g, 0);
        ASSERT_EQ(network.AddArc(a, g), 0);
        ASSERT_EQ(network.AddArc(b, g), 0);
        if (type == QNL_TYPE_TRUTHTABLE) { // exclusive or
            ASSERT_EQ(network.GetNode(g)->GetDefinition()->SetDefinition(
                          quarn_test::ArrayOf({0, 1, 1, 0, 1, 0, 0, 1})),
                      0);
        }
        ASSERT_EQ(quarn_test::ValueOf(network, g).SetEvidence(1), 0);
        network.SetDefaultBNAlgorithm(QNL_ALG_BN_CLUSTERING);
        ASSERT_EQ(network.UpdateBeliefs(), 0);
        const std::vector<double> expectedA = quarn_test::Beliefs(network, a);
        const std::vector<double> expectedB = quarn_test::Beliefs(network, b);
        network.SetDefaultBNAlgorithm(QNL_ALG_BN_POLYTREE);
        ASSERT_EQ(network.UpdateBeliefs(), 0) << quarn_test::LastMessage();
        quarn_test::ExpectNear(quarn_test::Beliefs(network, a), expectedA, 1e-12, "A");
        quarn_test::ExpectNear(quarn_test::Beliefs(network, b), expectedB, 1e-12, "B");
        quarn_test::ExpectOracle(network, "gate");
    }
}

} // namespace
