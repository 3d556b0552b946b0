#include "inference/clustering_join_tree.h"

#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "inference/graph_view.h"
#include "inference/relevance.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using quarn::detail::CliqueTable;

namespace {

using quarn_test::Belief;
using quarn_test::ValueOf;

// What the clustering driver does with the components: a tree per component of more than
// one record, the record's own table for the others.
bool UpdateAll(QNL_network& network, unsigned char* mask, std::uint64_t limit) {
    QNL_componentList components;
    EXPECT_EQ(QNL_relevance::Reduce(network, true, true, components), 0);
    for (int i = 0; i < components.GetCount(); ++i) {
        QNL_relevanceComponent* component = components[i];
        if (component->GetNumberOfRecords() == 1) {
            const QNL_relevanceNode* record = component->GetRecord(0);
            record->StoreMarginal();
            if (mask != nullptr && record->GetNodeHandle() >= 0) mask[record->GetNodeHandle()] = 0;
            continue;
        }
        QNL_graphView view(component);
        QNL_clusteringJoinTree tree(view);
        if (!tree.Update(mask, limit)) return false;
    }
    return true;
}

} // namespace

TEST(CliqueTableTest, StorageThatCannotBeHadIsRefused) {
    CliqueTable table;
    ASSERT_TRUE(table.Resize(8));
    table.Fill(0.5);
    EXPECT_FALSE(table.Resize(std::int64_t{1} << 62));
    EXPECT_EQ(table.Size(), 8);
    EXPECT_EQ(table.Cells()[7], 0.5);
    EXPECT_FALSE(table.Resize(-1));
}

class ClusteringJoinTreeTest : public ::testing::Test {
protected:
    QNL_network network;
};

TEST(ClusteringJoinTreeRandomTest, BeliefsMatchEnumerationOnRandomNetworks) {
    for (int round = 0; round < 240; ++round) {
        QNL_network network;
        const quarn_test::RandomNetworkSpec spec = quarn_test::RoundSpec(1000, round);
        quarn_test::BuildRandomNetwork(network, spec);
        quarn_test::SetPossibleEvidence(network, spec.seed * 7, round % 5);
        ASSERT_TRUE(UpdateAll(network, nullptr, 0)) << "round " << round;
        quarn_test::ExpectOracle(network, "round " + std::to_string(round));
        if (HasFailure()) return;
    }
}

TEST(ClusteringJoinTreeRandomTest, ImpossibleEvidenceWritesNothingAndGivesZero) {
    int tried = 0;
    for (int round = 0; round < 40; ++round) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = 9000 + static_cast<std::uint64_t>(round);
        spec.nodes = 4 + round % 8;
        spec.maxParents = 3;
        spec.deterministicShare = 0.5;
        quarn_test::BuildRandomNetwork(network, spec);
        if (!quarn_test::SetImpossibleEvidence(network, spec.seed)) continue;
        ++tried;
        const quarn_test::Enumeration expected = quarn_test::Enumerate(network);
        ASSERT_TRUE(expected.ok);
        ASSERT_EQ(expected.probabilityOfEvidence, 0.0);
        EXPECT_EQ(ProbEvidenceByClustering(network), 0.0) << "round " << round;

        // The component that holds the conflict writes nothing; whatever is written is a
        // distribution.
        QNL_componentList components;
        ASSERT_EQ(QNL_relevance::Reduce(network, true, false, components), 0);
        for (int i = 0; i < components.GetCount(); ++i) {
            QNL_relevanceComponent* component = components[i];
            if (component->GetNumberOfRecords() == 1) continue;
            QNL_graphView view(component);
            QNL_clusteringJoinTree probe(view);
            const bool impossible = probe.ProbabilityOfEvidence() == 0.0;
            QNL_clusteringJoinTree tree(view);
            ASSERT_TRUE(tree.Update(nullptr, 0));
            for (int r = 0; r < component->GetNumberOfRecords(); ++r) {
                const int h = component->GetRecord(r)->GetNodeHandle();
                const QNL_nodeValue& value = ValueOf(network, h);
                if (value.IsObserved()) continue;
                if (impossible) {
                    EXPECT_FALSE(value.IsValueValid()) << "round " << round << " node " << h;
                    continue;
                }
                ASSERT_TRUE(value.IsValueValid());
                double sum = 0.0;
                for (int k = 0; k < value.GetSize(); ++k) {
                    EXPECT_FALSE(std::isnan(Belief(network, h, k)));
                    sum += Belief(network, h, k);
                }
                EXPECT_NEAR(sum, 1.0, 1e-12);
            }
        }
    }
    EXPECT_GT(tried, 10);
}

TEST_F(ClusteringJoinTreeTest, TooSmallLimitFailsWithoutWritingAndEvidenceIgnoresIt) {
    quarn_test::RandomNetworkSpec spec;
    spec.seed = 7;
    spec.nodes = 10;
    spec.maxParents = 3;
    quarn_test::BuildRandomNetwork(network, spec);
    QNL_componentList components;
    ASSERT_EQ(QNL_relevance::Reduce(network, true, true, components), 0);
    int largest = 0;
    for (int i = 1; i < components.GetCount(); ++i)
        if (components[i]->GetNumberOfRecords() > components[largest]->GetNumberOfRecords())
            largest = i;
    ASSERT_GT(components[largest]->GetNumberOfRecords(), 3);
    QNL_graphView view(components[largest]);
    QNL_clusteringJoinTree tree(view);
    EXPECT_FALSE(tree.Update(nullptr, 4));
    EXPECT_EQ(tree.GetFailure(), QNL_clusteringJoinTree::Failure::OVER_CAP);
    for (int r = 0; r < components[largest]->GetNumberOfRecords(); ++r)
        EXPECT_FALSE(
            ValueOf(network, components[largest]->GetRecord(r)->GetNodeHandle()).IsValueValid());
    EXPECT_NEAR(tree.ProbabilityOfEvidence(), 1.0, 1e-12);
    EXPECT_TRUE(tree.Update(nullptr, 0));
}

TEST_F(ClusteringJoinTreeTest, LongChainIsPropagatedWithoutDeepRecursion) {
    // 8000 records in a chain: one clique per link, each the parent of the one before.
    const int length = 8000;
    const int control = network.GetNotificationControl();
    network.SetNotificationControl(0);
    int previous = quarn_test::AddBinaryNode(network, "n0", {}, {0.5});
    const int first = previous;
    for (int i = 1; i < length; ++i)
        previous = quarn_test::AddBinaryNode(network, ("n" + std::to_string(i)).c_str(), {previous},
                                             {0.9, 0.2});
    network.SetNotificationControl(control);
    ASSERT_EQ(network.GetNode(first)->GetValue()->SetEvidence(0), 0);
    ASSERT_TRUE(UpdateAll(network, nullptr, 0));
    // The chain forgets its start: the stationary distribution of the transition.
    EXPECT_NEAR(Belief(network, previous, 0), 2.0 / 3.0, 1e-9);
    EXPECT_NEAR(Belief(network, first + 1, 0), 0.9, 1e-12);
}
