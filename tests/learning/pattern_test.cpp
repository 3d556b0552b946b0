#include "learning/pattern.h"

#include "learning/dataset.h"
#include "learning/learning_data.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

QNL_pattern Directed(int n, const std::vector<std::pair<int, int>>& arcs) {
    QNL_pattern p;
    p.SetSize(n);
    for (const auto& [from, to] : arcs)
        p.SetEdge(from, to, QNL_pattern::DIRECTED);
    return p;
}

// Discrete columns without records.
QNL_dataset Columns(const std::vector<std::string>& ids) {
    return learning_test::IntColumns(std::vector<std::vector<int>>(ids.size()), ids);
}

TEST(Pattern, ResizingKeepsTheMarksInside) {
    QNL_pattern p = Directed(2, {{0, 1}});
    p.SetEdge(1, 0, 1);
    p.SetSize(3);
    EXPECT_EQ(p.GetEdge(0, 1), 2);
    EXPECT_EQ(p.GetEdge(1, 0), 1);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(p.GetEdge(2, k) + p.GetEdge(k, 2), 0);
    // 16385 x 16385 marks pass the limit of a table (2^28 cells): refused, nothing changed.
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(-42, p.SetSize(16385));
    EXPECT_EQ(3, p.GetSize());
    EXPECT_EQ(p.GetEdge(0, 1), 2);
    EXPECT_STREQ("Matrix too large: the pattern would hold 268468225 cells, more than 268435456",
                 QNL_errorHandler::Instance().GetMessage(0));
    QNL_errorHandler::Instance().Flush();
    p.SetSize(1);
    EXPECT_EQ(p.GetEdge(0, 0), 0);
    p.SetSize(-4);
    EXPECT_EQ(p.GetSize(), 0);
}

TEST(Pattern, CyclesPathsAndDagsFollowOnlyOneWayMarks) {
    struct Case {
        int n;
        std::vector<std::pair<int, int>> arcs;
        bool cycle, dag;
    };
    const Case table[] = {
        {0, {}, false, true},
        {3, {{0, 1}, {1, 2}}, false, true},
        {3, {{0, 1}, {1, 2}, {2, 0}}, true, false},
        {2, {{0, 1}, {1, 0}}, false, false}, // marked both ways: no path, not a DAG
        {5, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 1}}, true, false},
        {4, {{0, 1}, {0, 2}, {1, 3}, {2, 3}}, false, true},
    };
    for (const Case& c : table) {
        const QNL_pattern p = Directed(c.n, c.arcs);
        EXPECT_EQ(p.HasCycle(), c.cycle) << c.arcs.size();
        EXPECT_EQ(p.IsDAG(), c.dag) << c.arcs.size();
    }
    const QNL_pattern chain = Directed(4, {{0, 1}, {1, 2}});
    EXPECT_TRUE(chain.HasDirectedPath(0, 2));
    EXPECT_FALSE(chain.HasDirectedPath(2, 0));
    EXPECT_TRUE(chain.HasDirectedPath(3, 3));
    EXPECT_FALSE(chain.HasDirectedPath(0, 3));
    QNL_pattern undirected = Directed(2, {});
    undirected.SetEdge(0, 1, 1);
    undirected.SetEdge(1, 0, 1);
    EXPECT_FALSE(undirected.IsDAG());
    EXPECT_FALSE(undirected.HasDirectedPath(0, 1));
}

TEST(Pattern, NetworkNodesTakeRepairedUniqueIdsTheRawNamesAndTheStateNames) {
    QNL_dataset data = Columns({"2nd value", "a b", "a-b", "a_b"});
    data.setStateNames(0, {"low", "high"});
    data.setStateNames(1, {"0", "1", "2"});
    data.setStateNames(2, {"only"});
    const QNL_pattern p = Directed(4, {{0, 1}, {3, 2}});
    QNL_network net;
    ASSERT_TRUE(p.MakeNetwork(data, net));
    ASSERT_EQ(net.GetNumberOfNodes(), 4);
    const std::vector<std::string> ids = {"xnd_value", "a_b", "a_b2", "a_b3"};
    for (int i = 0; i < 4; ++i) {
        const int node = net.FindNode(ids[i].c_str());
        ASSERT_GE(node, 0) << ids[i];
        EXPECT_EQ(std::string(net.GetNode(node)->GetInfo()->header.GetName()),
                  data.getVariableId(i));
        EXPECT_EQ(net.GetNode(node)->GetDefinition()->GetType(), 18);
    }
    const QNL_idArray* outcomes =
        net.GetNode(net.FindNode("xnd_value"))->GetDefinition()->GetOutcomeIds();
    ASSERT_EQ(outcomes->GetCount(), 2);
    EXPECT_STREQ(outcomes->GetString(1), "high");
    EXPECT_EQ(net.GetNode(net.FindNode("a_b"))->GetDefinition()->GetNumberOfOutcomes(), 3);
    EXPECT_EQ(net.GetParents(net.FindNode("a_b")).GetCount(), 1);
    EXPECT_EQ(net.GetParents(net.FindNode("a_b2")).GetCount(), 1);
    EXPECT_EQ(net.GetParents(net.FindNode("a_b3")).GetCount(), 0);
}

TEST(Pattern, MakeNetworkRefusesAndLeavesTheNetworkAsItWas) {
    QNL_network net;
    ASSERT_GE(net.AddNode(18, "keep"), 0);
    QNL_pattern undirected = Directed(2, {});
    undirected.SetEdge(0, 1, 1);
    undirected.SetEdge(1, 0, 1);
    EXPECT_FALSE(undirected.MakeNetwork(Columns({"x", "y"}), net));
    QNL_errorHandler::Instance().Flush();
    EXPECT_FALSE(Directed(3, {{0, 1}}).MakeNetwork(Columns({"x", "y"}), net));
    EXPECT_GT(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.GetNumberOfNodes(), 1);
    EXPECT_TRUE(Directed(0, {}).MakeNetwork(Columns({}), net));
    EXPECT_EQ(net.GetNumberOfNodes(), 1);
}

} // namespace
