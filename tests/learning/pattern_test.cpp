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

#include <random>
#include <set>
#include <sstream>
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

TEST(Pattern, MakeNetworkNamesThePairOrTheCycleThatIsNoDag) {
    const struct {
        int n;
        std::vector<std::pair<int, int>> arcs;
        std::vector<std::pair<int, int>> undirected;
        const char* why;
        int columns = -1; // the data set's columns, -1 for one per variable
    } cases[] = {
        {3, {{0, 1}}, {{1, 2}}, "the edge between variables 1 (b) and 2 (c) is undirected"},
        {3, {{2, 0}}, {{1, 0}}, "the edge between variables 0 (a) and 1 (b) is undirected"},
        {3,
         {{0, 1}, {2, 1}, {1, 2}},
         {},
         "variables 1 (b) and 2 (c) are marked as parents of each other"},
        {3,
         {{0, 1}, {1, 2}, {2, 0}},
         {},
         "the directed edges form a cycle: 0 (a) -> 1 (b) -> 2 (c) -> 0 (a)"},
        {5,
         {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 1}},
         {},
         "the directed edges form a cycle: 1 (b) -> 2 (c) -> 3 (d) -> 4 (e) -> 1 (b)"},
        {4,
         {{3, 0}, {0, 2}, {2, 3}, {1, 3}},
         {},
         "the directed edges form a cycle: 0 (a) -> 2 (c) -> 3 (d) -> 0 (a)"},
        // Fewer columns than variables: the pattern's indices alone.
        {3, {{1, 2}, {2, 1}}, {}, "variables 1 (b) and 2 are marked as parents of each other", 2},
    };
    const std::vector<std::string> ids = {"a", "b", "c", "d", "e"};
    for (const auto& c : cases) {
        QNL_pattern p = Directed(c.n, c.arcs);
        for (const auto& [i, j] : c.undirected) {
            p.SetEdge(i, j, QNL_pattern::UNDIRECTED);
            p.SetEdge(j, i, QNL_pattern::UNDIRECTED);
        }
        const auto columns = static_cast<std::size_t>(c.columns < 0 ? c.n : c.columns);
        QNL_network net;
        const int keep = net.AddNode(18, "keep");
        ASSERT_GE(keep, 0);
        QNL_errorHandler& log = QNL_errorHandler::Instance();
        log.Flush();
        EXPECT_FALSE(p.MakeNetwork(Columns({ids.begin(), ids.begin() + columns}), net));
        ASSERT_EQ(log.GetNumberOfErrors(), 1) << c.why;
        EXPECT_EQ(log.GetCode(0), -1);
        EXPECT_EQ(std::string(log.GetMessage(0)),
                  std::string("pattern: ") + c.why +
                      "; only a directed acyclic pattern makes a network");
        log.Flush();
        EXPECT_EQ(net.GetNumberOfNodes(), 1);
        EXPECT_EQ(net.FindNode("keep"), keep);
    }
}

TEST(Pattern, TheCycleLoggedForRandomPatternsFollowsTheirEdges) {
    std::mt19937 random(47);
    int cycles = 0;
    for (int round = 0; round < 300; ++round) {
        const int n = 3 + static_cast<int>(random() % 6);
        QNL_pattern p;
        p.SetSize(n);
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                if (random() % 4 != 0) random() % 2 ? p.SetEdge(i, j, 2) : p.SetEdge(j, i, 2);
        // Variables named by their index, so the logged ids read back as indices.
        std::vector<std::string> ids;
        for (int i = 0; i < n; ++i)
            ids.push_back("v" + std::to_string(i));
        QNL_network net;
        QNL_errorHandler& log = QNL_errorHandler::Instance();
        log.Flush();
        EXPECT_EQ(p.MakeNetwork(Columns(ids), net), !p.HasCycle());
        if (!p.HasCycle()) continue;
        ++cycles;
        ASSERT_EQ(log.GetNumberOfErrors(), 1);
        std::istringstream text(log.GetMessage(0));
        log.Flush();
        std::string word;
        while (text >> word && word != "cycle:") {
        }
        std::vector<int> cycle;
        for (int v; text >> v; text >> word >> word)
            cycle.push_back(v); // "<index> (v<index>) ->"
        ASSERT_GE(cycle.size(), 3u);
        EXPECT_EQ(cycle.front(), cycle.back());
        for (std::size_t k = 0; k + 1 < cycle.size(); ++k)
            EXPECT_EQ(p.GetEdge(cycle[k], cycle[k + 1]), 2) << cycle[k] << "->" << cycle[k + 1];
        EXPECT_EQ(std::set<int>(cycle.begin(), cycle.end()).size(), cycle.size() - 1);
    }
    EXPECT_GT(cycles, 100);
}

} // namespace
