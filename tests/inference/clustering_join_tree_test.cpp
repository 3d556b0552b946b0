#include "inference/clustering_join_tree.h"

#include "definitions/node_value.h"
#include "inference/graph_view.h"
#include "inference/relevance.h"
#include "model/network.h"
#include "model/node.h"
#include "support/beliefs.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

using quarn::detail::CliqueTable;
using quarn_test::ValueOf;

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
