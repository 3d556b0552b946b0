#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using quarn_test::ExpectOracle;
using quarn_test::LastMessage;
using quarn_test::Targets;
using quarn_test::ValueOf;

// "handle=outcome" for every node holding plain user evidence, "handle~outcome" for any
// other evidence it holds.
std::string Evidence(const QNL_network& network) {
    std::string out;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_nodeValue& value = ValueOf(network, h);
        if (!value.HasEvidence()) continue;
        const bool plain =
            (value.GetFlags() & (QNL_nodeValue::FLAG_EVIDENCE | QNL_nodeValue::FLAG_PROPAGATED)) ==
            QNL_nodeValue::FLAG_EVIDENCE;
        out += std::to_string(h) + (plain ? "=" : "~") + std::to_string(value.GetEvidence()) + " ";
    }
    return out;
}

const int ids[] = {QNL_ALG_BN_CLUSTERING, QNL_ALG_BN_RELEVANCE_DECOMPOSITION,
                   QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED, QNL_ALG_BN_ELIMINATION_JOIN_TREE};

// Random networks of the given round: some several components (arcs removed), some with
// deterministic columns, evidence on up to four nodes and targets on every third round.
std::vector<int> BuildRound(QNL_network& network, int round, std::uint64_t base) {
    const quarn_test::RandomNetworkSpec spec = quarn_test::RoundSpec(base, round);
    std::vector<int> nodes = quarn_test::BuildRandomNetwork(network, spec);
    if (round % 4 == 2) {
        quarn_test::TestRandom random(spec.seed);
        for (int h : nodes) {
            const QNL_intArray parents(network.GetParents(h));
            for (int i = 0; i < parents.GetCount(); ++i) {
                if (random.Below(2) != 0) continue;
                EXPECT_EQ(network.RemoveArc(parents[i], h), 0);
            }
        }
    }
    quarn_test::SetPossibleEvidence(network, spec.seed * 13, round % 5);
    if (round % 3 == 1) {
        for (std::size_t i = 0; i < nodes.size(); i += 3)
            network.SetTarget(nodes[i]);
    }
    return nodes;
}

} // namespace

class NetworkUpdateTest : public ::testing::Test {
protected:
    QNL_network network;
};

// Every exact identifier through the network's own update, and the probability of evidence by
// both methods, against enumeration; targets and user evidence come back unchanged.
TEST(NetworkUpdateRandomTest, EveryExactIdentifierAndBothEvidenceMethodsMatchEnumeration) {
    for (int round = 0; round < 60; ++round) {
        QNL_network network;
        BuildRound(network, round, 40000);
        network.SetDefaultBNAlgorithm(ids[round % 4]);
        // Tiny batches and limits force the decompositions into many batches and splits.
        if (round % 2 == 0) {
            network.GetUserProperties().AddProperty("QNL_REL_DECOMP_THRESHOLD", "2");
            network.GetUserProperties().AddProperty("QNL_REL_DECOMP_THRESHOLD3", "8");
        } else {
            network.GetUserProperties().AddProperty("QNL_REL_DECOMP_THRESHOLD2", "4");
        }
        const std::vector<int> targets = Targets(network);
        const std::string evidence = Evidence(network);
        const std::vector<int> wanted = quarn_test::Unobserved(network, targets);
        const std::string label = "round " + std::to_string(round);
        if (targets.empty() || !wanted.empty()) {
            ASSERT_EQ(network.UpdateBeliefs(), 0) << label;
            EXPECT_EQ(Targets(network), targets) << label;
            ExpectOracle(network, label, wanted);
        }
        const quarn_test::Enumeration expected = quarn_test::Enumerate(network);
        ASSERT_TRUE(expected.ok) << expected.error;
        for (bool chainRule : {false, true}) {
            double p = -1.0;
            ASSERT_TRUE(network.CalcPropEvidence(p, chainRule)) << label << " " << chainRule;
            EXPECT_NEAR(p, expected.probabilityOfEvidence, 1e-9 * expected.probabilityOfEvidence)
                << label << " " << chainRule;
            EXPECT_EQ(Targets(network), targets) << label;
            EXPECT_EQ(Evidence(network), evidence) << label;
        }
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(NetworkUpdateRandomTest, ImpossibleEvidenceGivesZeroAndNoBeliefs) {
    int tried = 0;
    for (int round = 0; round < 40; ++round) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = 80000 + static_cast<std::uint64_t>(round);
        spec.nodes = 3 + round % 9;
        spec.deterministicShare = 0.5;
        quarn_test::BuildRandomNetwork(network, spec);
        network.SetDefaultBNAlgorithm(ids[round % 4]);
        ASSERT_EQ(network.UpdateBeliefs(), 0);
        if (!quarn_test::SetImpossibleEvidence(network, spec.seed)) continue;
        ++tried;
        const std::string evidence = Evidence(network);
        const std::string label = "round " + std::to_string(round);
        EXPECT_EQ(network.UpdateBeliefs(), 0) << label;
        quarn_test::ExpectNoValidBeliefs(network, label);
        for (bool chainRule : {false, true}) {
            double p = -1.0;
            ASSERT_TRUE(network.CalcPropEvidence(p, chainRule)) << label;
            EXPECT_EQ(p, 0.0) << label;
        }
        // The chain rule had to set the evidence again quietly: none of it is lost.
        EXPECT_EQ(Evidence(network), evidence) << label;
    }
    EXPECT_GT(tried, 10);
}

TEST_F(NetworkUpdateTest, ChainRuleFailureRestoresEvidenceAndTargets) {
    const quarn_test::Asia a = quarn_test::BuildAsia(network);
    ValueOf(network, a.smoking).SetEvidence(0);
    ValueOf(network, a.xray).SetEvidence(0);
    ValueOf(network, a.dyspnoea).SetEvidence(1);
    network.SetTarget(a.cancer);
    network.SetTarget(a.visit);
    const std::string evidence = Evidence(network);
    const int control = network.GetNotificationControl();
    const int mask = network.GetNotificationMask();

    network.SetDefaultBNAlgorithm(QNL_ALG_BN_POLYTREE); // Asia is loopy: every update fails
    double p = 0.5;
    EXPECT_FALSE(network.CalcPropEvidence(p, true));
    EXPECT_EQ(p, -1.0);
    EXPECT_EQ(Evidence(network), evidence);
    EXPECT_EQ(Targets(network), (std::vector<int>{a.visit, a.cancer}));
    EXPECT_EQ(network.GetNotificationControl(), control);
    EXPECT_EQ(network.GetNotificationMask(), mask);

    // Clustering does not depend on the identifier.
    ASSERT_TRUE(network.CalcPropEvidence(p, false));
    EXPECT_NEAR(p, quarn_test::Enumerate(network).probabilityOfEvidence, 1e-12);
    EXPECT_EQ(Targets(network), (std::vector<int>{a.visit, a.cancer}));
}

TEST_F(NetworkUpdateTest, ChainRuleKeepsEvidenceThatBecameImplied) {
    // B copies A: once A is set again, B's evidence is implied, yet it stays user evidence.
    const int a = quarn_test::AddBinaryNode(network, "A", {}, {0.3});
    const int b = quarn_test::AddBinaryNode(network, "B", {a}, {1.0, 0.0});
    const int c = quarn_test::AddBinaryNode(network, "C", {b}, {0.7, 0.4});
    ASSERT_EQ(ValueOf(network, b).SetEvidence(0), 0);
    ASSERT_TRUE(ValueOf(network, a).HasPropagatedEvidence());
    ASSERT_EQ(ValueOf(network, a).SetEvidence(0), 0);
    ASSERT_EQ(ValueOf(network, c).SetEvidence(1), 0);
    const std::string evidence = Evidence(network);
    double p = 0.0;
    ASSERT_TRUE(network.CalcPropEvidence(p, true));
    EXPECT_NEAR(p, 0.3 * 0.3, 1e-15);
    EXPECT_TRUE(ValueOf(network, b).HasEvidence());
    EXPECT_EQ(Evidence(network), evidence);
}

TEST_F(NetworkUpdateTest, OtherPathsAndIdentifiersAreRefusedClearly) {
    // The first node in slot order with a decision or utility definition decides: the
    // influence-diagram path, which evaluates no policy without utilities.
    QNL_network diagram;
    const int d = diagram.AddNode(QNL_TYPE_LIST, "D");
    ASSERT_GE(d, 0);
    const int x = quarn_test::AddBinaryNode(diagram, "X", {}, {0.5});
    EXPECT_EQ(diagram.UpdateBeliefs(), 0);
    EXPECT_EQ(LastMessage(), "Utilities not specified. Policies cannot be evaluated");
    EXPECT_FALSE(ValueOf(diagram, d).IsValueValid());
    EXPECT_TRUE(ValueOf(diagram, x).IsValueValid());
    diagram.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
    EXPECT_EQ(diagram.UpdateBeliefs(), 0);
    EXPECT_TRUE(ValueOf(diagram, d).IsValueValid());
    EXPECT_FALSE(ValueOf(diagram, x).IsValueValid());
}

TEST_F(NetworkUpdateTest, OneFailingTargetReportsOutOfMemory) {
    // A twelve-by-twelve grid of four-outcome nodes: the corner's tree is far above the cap.
    std::vector<int> h;
    for (int i = 0; i < 144; ++i) {
        h.push_back(network.AddNode(QNL_TYPE_CPT, ("g" + std::to_string(i)).c_str()));
        network.GetNode(h.back())->GetDefinition()->SetNumberOfOutcomes(4);
        if (i >= 12) network.AddArc(h[static_cast<std::size_t>(i - 12)], h.back());
        if (i % 12 > 0) network.AddArc(h[static_cast<std::size_t>(i - 1)], h.back());
    }
    network.SetTarget(h.back());
    EXPECT_EQ(network.UpdateBeliefs(), -42);
    EXPECT_EQ(
        QNL_errorHandler::Instance().GetCode(QNL_errorHandler::Instance().GetNumberOfErrors() - 1),
        -42);
    EXPECT_EQ(Targets(network), std::vector<int>{h.back()});
}

TEST_F(NetworkUpdateTest, AutomaticUpdateFollowsNotifiedChanges) {
    const int a = quarn_test::AddBinaryNode(network, "A", {}, {0.2});
    const int b = quarn_test::AddBinaryNode(network, "B", {}, {0.6});
    network.SetNotificationControl(network.GetNotificationControl() |
                                   QNL_network::NOTIFY_AUTO_UPDATE);

    // An arc: B's table gains A's dimension (each column a copy of the old one).
    ASSERT_EQ(network.AddArc(a, b), 0);
    ExpectOracle(network, "after arc");

    ASSERT_EQ(network.GetNode(b)->GetDefinition()->SetDefinition(
                  quarn_test::ArrayOf({0.9, 0.1, 0.3, 0.7})),
              0);
    ASSERT_EQ(network.NotifyChange(b, QNL_network::CHANGE_VALUES), 0);
    ExpectOracle(network, "after table");

    ASSERT_EQ(ValueOf(network, b).SetEvidence(1), 0);
    ExpectOracle(network, "after evidence");

    ASSERT_EQ(ValueOf(network, b).ClearEvidence(), 0);
    ExpectOracle(network, "after clearing");

    // Without the bit nothing is computed.
    network.SetNotificationControl(network.GetNotificationControl() &
                                   ~QNL_network::NOTIFY_AUTO_UPDATE);
    ASSERT_EQ(ValueOf(network, b).SetEvidence(0), 0);
    EXPECT_FALSE(ValueOf(network, a).IsValueValid());
}
