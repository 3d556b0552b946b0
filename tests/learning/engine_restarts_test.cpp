#include "learning/dataset.h"
#include "learning/engine_network.h"
#include "learning/learning_data.h"
#include "model/error_handler.h"
#include "model/network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using quarn_test::AddBinaryNode;

// Records of a six-node chain with a side branch: A -> B -> C -> D, B -> E, F alone.
QNL_dataset ChainData() {
    QNL_network truth;
    const int a = AddBinaryNode(truth, "A", {}, {0.3});
    const int b = AddBinaryNode(truth, "B", {a}, {0.9, 0.15});
    const int c = AddBinaryNode(truth, "C", {b}, {0.8, 0.2});
    AddBinaryNode(truth, "D", {c}, {0.85, 0.3});
    AddBinaryNode(truth, "E", {b}, {0.7, 0.1});
    AddBinaryNode(truth, "F", {}, {0.5});
    return quarn_test::SampleDataSet(truth, learning_test::Handles(truth), 600, 0.0, 17);
}

bool IsAcyclic(const QNL_learnNetwork& net) {
    for (int i = 0; i < net.GetNumberOfNodes(); ++i)
        for (const int p : net.GetNode(i)->GetParents())
            if (net.HasDirectedPath(i, p)) return false;
    return true;
}

TEST(EngineRestarts, RandomRestartsKeepTheBestOfTheSameRestartsRunOneByOne) {
    const QNL_dataset data = ChainData();
    constexpr int kRestarts = 5;
    QNL_learnNetwork restarted;
    QNL_learnNetwork byHand;
    for (QNL_learnNetwork* net : {&restarted, &byHand}) {
        ASSERT_TRUE(net->ImportDataset(data));
        ASSERT_EQ(net->SetMaxParents(2), 0); // the search adds arcs from here on
        net->SetRandomSeed(-9);
    }
    const int n = restarted.GetNumberOfNodes();
    std::vector<char> structure(static_cast<std::size_t>(n * n), 0);
    ASSERT_EQ(restarted.RandomRestarts(kRestarts, structure), 0);

    double best = -1e308;
    for (int r = 0; r < kRestarts; ++r) {
        ASSERT_EQ(byHand.GreedySearch(), 0);
        best = std::max(best, byHand.ScoreNetwork(nullptr, true));
        ASSERT_GE(byHand.GenerateRandomNetwork(2.0), 0);
    }
    // The kept structure, scored afresh, is the best of the restarts.
    QNL_learnNetwork rebuilt;
    ASSERT_TRUE(rebuilt.ImportDataset(data));
    for (int p = 0; p < n; ++p)
        for (int c = 0; c < n; ++c)
            if (structure[static_cast<std::size_t>(p * n + c)]) {
                ASSERT_EQ(rebuilt.AddArc(p, c), 1);
                EXPECT_TRUE(restarted.GetNode(c)->HasParent(p));
            }
    EXPECT_NEAR(rebuilt.ScoreNetwork(), best, 1e-9);
    EXPECT_NEAR(restarted.ScoreNetwork(), best, 1e-9);

    std::vector<char> wrong(3, 0);
    EXPECT_EQ(restarted.RandomRestarts(1, wrong), -1);
    // Timed: one search at least, one "." for each.
    restarted.SetLogFlag(true);
    int elapsed = -1;
    EXPECT_EQ(restarted.TimedRandomRestarts(0, elapsed), 0);
    EXPECT_EQ(restarted.GetLog(), ".");
}

TEST(EngineRestarts, ReturnToBestSearchEndsOnALocalOptimum) {
    const QNL_dataset data = ChainData();
    for (const auto& [restarts, ring] : {std::pair<int, int>{0, 10}, {5, 0}}) {
        QNL_learnNetwork net;
        ASSERT_TRUE(net.ImportDataset(data));
        net.SetIntOption("NUM_RESTARTS", restarts);
        net.SetIntOption("BESTF_GOBACK_NUM", ring);
        EXPECT_EQ(net.ReturnToBestSearch(), -1);
    }
    for (const int ring : {1, 3, 10}) {
        QNL_learnNetwork net;
        ASSERT_TRUE(net.ImportDataset(data));
        net.SetIntOption("NUM_RESTARTS", 100000);
        net.SetIntOption("BESTF_GOBACK_NUM", ring);
        ASSERT_EQ(net.ReturnToBestSearch(), 0);
        ASSERT_TRUE(IsAcyclic(net));
        // No single arc added, removed or reversed scores higher.
        EXPECT_LE(learning_test::BestSingleArcGain(net, 100, true), 1e-9) << ring;
    }
}

// The Bayesian score with one prior count per cell, family by family, from the columns.
double BruteForceScore(const std::vector<std::vector<int>>& columns,
                       const std::vector<std::vector<int>>& parents) {
    double score = 0.0;
    for (std::size_t x = 0; x < columns.size(); ++x) {
        std::map<std::vector<int>, std::vector<double>> rows;
        for (std::size_t rec = 0; rec < columns[x].size(); ++rec) {
            std::vector<int> key;
            for (const int p : parents[x])
                key.push_back(columns[static_cast<std::size_t>(p)][rec]);
            rows.try_emplace(key, 2, 0.0)
                .first->second[static_cast<std::size_t>(columns[x][rec])] += 1.0;
        }
        for (const auto& entry : rows) {
            const double n = entry.second[0] + entry.second[1];
            score += std::lgamma(entry.second[0] + 1.0) + std::lgamma(entry.second[1] + 1.0) +
                     std::lgamma(2.0) - std::lgamma(n + 2.0);
        }
    }
    return score;
}

TEST(EngineRestarts, ReturnToBestSearchReportsTheScoreOfTheStructureItHolds) {
    // Three binary columns: independent, or v2 copying v0 now and then; v1 copies v0 too
    // rarely for the search to keep v0 -> v1 unless forced.
    std::vector<std::vector<std::vector<int>>> sets(2, std::vector<std::vector<int>>(3));
    quarn_test::TestRandom random(41);
    const auto coin = [&] { return random.Uniform() < 0.5 ? 1 : 0; };
    for (int r = 0; r < 300; ++r)
        for (std::size_t s = 0; s < sets.size(); ++s) {
            auto& columns = sets[s];
            columns[0].push_back(coin());
            columns[1].push_back(random.Uniform() < 0.05 ? columns[0].back() : coin());
            columns[2].push_back(s == 1 && random.Uniform() < 0.8 ? columns[0].back() : coin());
        }
    using Arcs = std::vector<std::pair<int, int>>;
    const struct {
        Arcs forced, forbidden, drawn;
    } cases[] = {
        {{{0, 1}}, {}, {}},
        {{{1, 2}}, {}, {}},
        {{{2, 1}, {1, 0}}, {}, {}},
        {{{0, 1}}, {}, {{2, 1}}},
        // Forbidden after being drawn: the first structure held is not one the search allows.
        {{}, {{0, 2}}, {{0, 2}}},
        {{{1, 0}}, {{2, 0}}, {{2, 0}, {1, 2}}},
    };
    for (std::size_t s = 0; s < sets.size(); ++s)
        for (const auto& c : cases)
            for (const int ring : {1, 4}) {
                SCOPED_TRACE("data " + std::to_string(s) + ", case " + std::to_string(&c - cases) +
                             ", ring " + std::to_string(ring));
                const QNL_dataset data = learning_test::IntColumns(sets[s]);
                QNL_learnNetwork net;
                ASSERT_TRUE(net.ImportDataset(data));
                for (const auto& [p, x] : c.drawn)
                    ASSERT_EQ(net.AddArc(p, x), 1);
                for (const auto& [p, x] : c.forced)
                    ASSERT_EQ(net.SetForcedArc(p, x), 0);
                for (const auto& [p, x] : c.forbidden)
                    ASSERT_EQ(net.SetForbiddenArc(p, x), 0);
                net.SetIntOption("BESTF_GOBACK_NUM", ring);
                ASSERT_EQ(net.ReturnToBestSearch(), 0);
                const double reported = net.ScoreNetwork();
                std::vector<std::vector<int>> parents(3);
                QNL_learnNetwork fresh;
                ASSERT_TRUE(fresh.ImportDataset(data));
                for (int x = 0; x < 3; ++x) {
                    parents[static_cast<std::size_t>(x)] = net.GetNode(x)->GetParents();
                    for (const int p : parents[static_cast<std::size_t>(x)])
                        ASSERT_EQ(fresh.AddArc(p, x), 1);
                }
                for (const auto& [p, x] : c.forced)
                    EXPECT_TRUE(net.GetNode(x)->HasParent(p)) << p << " -> " << x;
                for (const auto& [p, x] : c.forbidden)
                    EXPECT_FALSE(net.GetNode(x)->HasParent(p)) << p << " -> " << x;
                EXPECT_NEAR(reported, BruteForceScore(sets[s], parents), 1e-8);
                EXPECT_NEAR(reported, fresh.ScoreNetwork(), 1e-8);
            }
    // A forced arc against an arc drawn before would close a cycle: refused, nothing moved.
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(learning_test::IntColumns(sets[0])));
    ASSERT_EQ(net.AddArc(1, 0), 1);
    ASSERT_EQ(net.SetForcedArc(0, 1), 0);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.ReturnToBestSearch(), -1);
    EXPECT_GE(QNL_errorHandler::Instance().GetNumberOfErrors(), 1);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(learning_test::ArcsOf(net), (std::set<std::pair<int, int>>{{1, 0}}));
}

TEST(EngineRestarts, RandomNodesAndNetworks) {
    QNL_learnNetwork net;
    net.SetRandomSeed(-4);
    const std::map<std::string, std::string> nodes{
        {"numNodes", "30"}, {"maxNumStates", "4"}, {"maxNumParents", "4"}};
    ASSERT_GE(net.GenerateRandomNetwork(3.0, &nodes), 0);
    ASSERT_EQ(net.GetNumberOfNodes(), 30);
    EXPECT_EQ(net.GetNode(29)->GetName(), "Node_29");
    for (int i = 0; i < 30; ++i) {
        const auto& states = net.GetNode(i)->GetStates();
        ASSERT_GE(states.size(), 2u);
        ASSERT_LE(states.size(), 4u);
        EXPECT_EQ(states.back(), "State_" + std::to_string(states.size() - 1));
    }
    std::vector<std::vector<int>> tiers(2);
    for (int i = 0; i < 30; ++i)
        tiers[i < 10 ? 0 : 1].push_back(i);
    const std::map<std::string, std::string> limit{{"maxNumParents", "4"}};
    long long parents = 0;
    long long counted = 0;
    for (int seed = 1; seed <= 60; ++seed) {
        net.SetRandomSeed(-seed);
        const bool tiered = seed % 2 == 0;
        const int arcs = net.GenerateRandomNetwork(3.0, &limit, tiered ? &tiers : nullptr);
        ASSERT_GE(arcs, 0) << seed;
        ASSERT_TRUE(IsAcyclic(net)) << seed;
        int total = 0;
        for (int i = 0; i < 30; ++i) {
            const auto& list = net.GetNode(i)->GetParents();
            total += static_cast<int>(list.size());
            ASSERT_LE(list.size(), 4u);
            if (!tiered) continue;
            for (const int p : list)
                ASSERT_TRUE(i >= 10 && p < 10) << seed << ": " << p << " -> " << i;
            if (i >= 10) {
                parents += static_cast<long long>(list.size());
                ++counted;
            }
        }
        EXPECT_EQ(total, arcs);
    }
    // The integer part of N(3, 0.6), redrawn above 4, averages 2.5.
    EXPECT_NEAR(static_cast<double>(parents) / static_cast<double>(counted), 2.5, 0.1);
}

TEST(EngineRestarts, RandomNetworkRefusals) {
    QNL_learnNetwork net;
    const std::map<std::string, std::string> small{{"numNodes", "12"}, {"numStates", "2"}};
    ASSERT_GE(net.GenerateRandomNetwork(1.0, &small), 0);
    const std::map<std::string, std::string> limit{{"maxNumParents", "4"}};
    EXPECT_EQ(net.GenerateRandomNetwork(5.0, &limit), -2);
    EXPECT_EQ(net.GenerateRandomNetwork(std::nan("")), -1);
    const std::vector<std::vector<int>> twice{{0, 1}, {1}};
    EXPECT_EQ(net.GenerateRandomNetwork(1.0, nullptr, &twice), -1);
    // Every arc forbidden: the drawing gives up with a message instead of drawing forever.
    for (int i = 0; i < 12; ++i)
        for (int j = 0; j < 12; ++j)
            if (i != j) {
                ASSERT_EQ(net.SetForbiddenArc(i, j), 0);
            }
    QNL_errorHandler::Instance().Flush();
    net.SetRandomSeed(-2);
    EXPECT_EQ(net.GenerateRandomNetwork(3.0), -1);
    EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 1);
    // Forced arcs stand and the order follows them.
    QNL_learnNetwork forced;
    ASSERT_GE(forced.GenerateRandomNetwork(1.0, &small), 0);
    ASSERT_EQ(forced.SetForcedArc(5, 2), 0);
    ASSERT_EQ(forced.SetForcedArc(2, 7), 0);
    for (int seed = 1; seed <= 20; ++seed) {
        forced.SetRandomSeed(-seed);
        ASSERT_EQ(forced.ApplyBackgroundKnowledge(), 0);
        ASSERT_GE(forced.GenerateRandomNetwork(3.0), 0);
        EXPECT_TRUE(forced.GetNode(2)->HasParent(5) && forced.GetNode(7)->HasParent(2));
        EXPECT_TRUE(IsAcyclic(forced));
    }
}

} // namespace
