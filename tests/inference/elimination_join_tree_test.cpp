#include "inference/clustering_join_tree.h"
#include "inference/elimination_join_tree.h"
#include "inference/graph_view.h"
#include "inference/polytree.h"

#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "inference/relevance.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using quarn_test::Beliefs;
using quarn_test::ValueOf;

int UpdateWith(QNL_network& network, int algorithm) {
    network.SetDefaultBNAlgorithm(algorithm);
    return network.UpdateBeliefs();
}

// The component of the reduction holding the most records.
QNL_relevanceComponent* Largest(const QNL_componentList& components) {
    QNL_relevanceComponent* best = nullptr;
    for (int i = 0; i < components.GetCount(); ++i)
        if (best == nullptr || components[i]->GetNumberOfRecords() > best->GetNumberOfRecords())
            best = components[i];
    return best;
}

// Binary nodes below `hubs` roots: every node hangs below the first hub and below each other
// one half the time, and below one of the four nodes before it two times in three. The handles,
// hubs first.
std::vector<int> BuildHubNetwork(QNL_network& network, int nodes, int hubs, std::uint64_t seed) {
    quarn_test::TestRandom random(seed);
    std::vector<int> h;
    for (int i = 0; i < hubs; ++i)
        h.push_back(quarn_test::AddBinaryNode(network, ("H" + std::to_string(i)).c_str(), {},
                                              {0.2 + 0.6 * random.Uniform()}));
    for (int i = 0; i < nodes; ++i) {
        std::vector<int> parents{h[0]};
        for (int k = 1; k < hubs; ++k)
            if (random.Below(2) == 0) parents.push_back(h[static_cast<std::size_t>(k)]);
        if (i > 0 && random.Below(3) != 0)
            parents.push_back(
                h[h.size() - 1 - static_cast<std::size_t>(random.Below(std::min(i, 4)))]);
        std::vector<double> pTrue(std::size_t{1} << parents.size());
        for (double& p : pTrue)
            p = 0.05 + 0.9 * random.Uniform();
        h.push_back(
            quarn_test::AddBinaryNode(network, ("N" + std::to_string(i)).c_str(), parents, pTrue));
    }
    return h;
}

} // namespace

// Neither observation rules A out alone; together they leave it no outcome: no value is valid,
// not even the probability of the evidence, the polytree's included.
TEST(EliminationJoinTreeTest, ConflictLeavesEveryValueInvalidUnderEveryExactAlgorithm) {
    QNL_network network;
    const int a = network.AddNode(QNL_TYPE_CPT, "A");
    network.GetNode(a)->GetDefinition()->SetNumberOfOutcomes(4);
    const int b = quarn_test::AddBinaryNode(network, "B", {a}, {0.5, 0.5, 0.0, 0.0});
    const int c = quarn_test::AddBinaryNode(network, "C", {a}, {0.0, 0.0, 0.5, 0.5});
    network.SetNotificationControl(0);
    ASSERT_EQ(ValueOf(network, b).SetEvidence(0), 0);
    ASSERT_EQ(ValueOf(network, c).SetEvidence(0), 0);
    EXPECT_TRUE(RunClustering(network, nullptr, 0));
    quarn_test::ExpectNoValidBeliefs(network, "clustering");
    for (double x : Beliefs(network, a))
        EXPECT_FALSE(std::isnan(x));
    ASSERT_EQ(UpdateWith(network, QNL_ALG_BN_ELIMINATION_JOIN_TREE), 0);
    quarn_test::ExpectNoValidBeliefs(network, "elimination");
    network.SetTarget(a);
    EXPECT_EQ(ProbEvidenceByClustering(network), 0.0);
    ASSERT_EQ(UpdateWith(network, QNL_ALG_BN_POLYTREE), 0);
    quarn_test::ExpectNoValidBeliefs(network, "polytree");
}

// What the propagation relies on: a tree over the cliques, a child's shared records last in
// its separator's order, and every table in the smallest clique that holds its family. Joint
// marginals of random sets of a clique's records, in random order, against brute force; a
// copy made before the evidence, and filled again after it, gives the same numbers.
TEST(EliminationJoinTreeTest, StructureAndMarginalsMatchEnumeration) {
    int checked = 0;
    for (int round = 0; round < 160; ++round) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec = quarn_test::RoundSpec(7900, round);
        if (round % 2 == 1) spec.nodes = 2 + round % 8; // enumeration per marginal stays quick
        quarn_test::BuildRandomNetwork(network, spec);
        quarn_test::SetPossibleEvidence(network, spec.seed * 5, round % 3);
        QNL_componentList components;
        ASSERT_EQ(QNL_relevance::Reduce(network, true, true, components), 0);
        const QNL_relevanceComponent* component = Largest(components);
        if (component == nullptr || component->GetNumberOfRecords() < 2) continue;
        QNL_eliminationJoinTree tree, copy;
        ASSERT_EQ(tree.Build(*component), 0);
        const std::string label = "round " + std::to_string(round);
        ASSERT_EQ(tree.GetNumberOfSeparators(), tree.GetNumberOfCliques() - 1) << label;
        for (int s = 0; s < tree.GetNumberOfSeparators(); ++s) {
            const std::vector<int>& shared = tree.GetSeparatorMembers(s);
            const std::vector<int>& child = tree.GetCliqueMembers(tree.GetSeparatorChild(s));
            const std::vector<int>& parent = tree.GetCliqueMembers(tree.GetSeparatorParent(s));
            EXPECT_LT(tree.GetSeparatorParent(s), tree.GetSeparatorChild(s)) << label;
            ASSERT_GE(child.size(), shared.size()) << label;
            EXPECT_TRUE(std::equal(shared.begin(), shared.end(), child.end() - shared.size()))
                << label;
            for (int r : shared)
                EXPECT_NE(std::find(parent.begin(), parent.end(), r), parent.end()) << label;
        }
        for (int r = 0; r < component->GetNumberOfRecords(); ++r) {
            const QNL_relevanceNode* record = component->GetRecord(r);
            auto holdsFamily = [&](int c) {
                const std::vector<int>& m = tree.GetCliqueMembers(c);
                if (std::find(m.begin(), m.end(), r) == m.end()) return false;
                for (int p = 0; p < record->GetNumberOfParents(); ++p)
                    if (std::find(m.begin(), m.end(), record->GetParent(p)->GetPosition()) ==
                        m.end())
                        return false;
                return true;
            };
            const int assigned = tree.GetAssignedClique(r);
            ASSERT_TRUE(holdsFamily(assigned)) << label << " record " << r;
            for (int c = 0; c < tree.GetNumberOfCliques(); ++c)
                if (holdsFamily(c)) {
                    EXPECT_LE(tree.GetCliqueTable(assigned).Size(), tree.GetCliqueTable(c).Size())
                        << label << " record " << r;
                }
        }
        if (spec.nodes > 9) continue;
        ASSERT_EQ(copy.Assign(tree), 0);
        ASSERT_EQ(tree.EnterEvidence(*component), 0);
        tree.Propagate();
        ASSERT_EQ(copy.EnterEvidence(*component), 0);
        copy.Propagate();
        // Tables filled afresh forget the evidence, which then enters again.
        ASSERT_EQ(copy.InitPotentials(), 0);
        ASSERT_EQ(copy.EnterEvidence(*component), 0);
        copy.Propagate();

        quarn_test::TestRandom random(spec.seed);
        for (int c = 0; c < tree.GetNumberOfCliques(); ++c) {
            std::vector<int> members = tree.GetCliqueMembers(c);
            if (members.empty()) continue;
            for (std::size_t i = members.size(); i > 1; --i)
                std::swap(members[i - 1],
                          members[static_cast<std::size_t>(random.Below(static_cast<int>(i)))]);
            members.resize(
                static_cast<std::size_t>(1 + random.Below(static_cast<int>(members.size()))));
            QNL_intArray variables, shape;
            std::vector<int> handles;
            for (int r : members) {
                variables.Add(r);
                shape.Add(component->GetRecord(r)->GetNumberOfOutcomes());
                handles.push_back(component->GetRecord(r)->GetNodeHandle());
            }
            QNL_Dmatrix result(shape), copied(shape);
            ASSERT_EQ(tree.ComputeMarginal(variables, result), 0) << label;
            ASSERT_EQ(copy.ComputeMarginal(variables, copied), 0) << label;
            const std::vector<double> want = quarn_test::Enumerate(network, handles).joint;
            ASSERT_EQ(static_cast<std::size_t>(result.GetSize()), want.size()) << label;
            for (int k = 0; k < result.GetSize(); ++k) {
                EXPECT_NEAR(result.Subscript(k), want[static_cast<std::size_t>(k)], 1e-9)
                    << label << " clique " << c << " cell " << k;
                EXPECT_EQ(copied.Subscript(k), result.Subscript(k)) << label;
            }
            ++checked;
        }
        if (HasFailure()) return;
    }
    EXPECT_GT(checked, 100);
}

TEST(EliminationJoinTreeTest, MarginalsNoStructureHoldsAreRefused) {
    QNL_network network;
    const quarn_test::Asia a = quarn_test::BuildAsia(network);
    ValueOf(network, a.xray).SetEvidence(0);
    QNL_componentList components;
    ASSERT_EQ(QNL_relevance::Reduce(network, true, true, components), 0);
    const QNL_relevanceComponent& component = *Largest(components);
    QNL_eliminationJoinTree tree;
    ASSERT_EQ(tree.Build(component), 0);
    ASSERT_EQ(tree.EnterEvidence(component), 0);
    tree.Propagate();
    const int xray = component.FindNode(a.xray);
    const int visit = component.FindNode(a.visit);
    const int dyspnoea = component.FindNode(a.dyspnoea);
    // Observed (dropped from every table), never together in a clique, repeated, of the
    // wrong shape, no such record.
    const std::vector<std::vector<int>> refused[] = {{{xray}, {2}},
                                                     {{visit, dyspnoea}, {2, 2}},
                                                     {{visit, visit}, {2, 2}},
                                                     {{visit}, {3}},
                                                     {{99}, {2}}};
    for (const auto& c : refused) {
        QNL_Dmatrix result(quarn_test::IntsOf(c[1]));
        EXPECT_EQ(tree.ComputeMarginal(quarn_test::IntsOf(c[0]), result), -2) << c[0][0];
    }
}

// The cap counts the cliques' full tables: a tree of exactly the limit is built, one cell
// less refuses it with -42 and a message.
TEST(EliminationJoinTreeTest, TablesBeyondTheCapAreRefused) {
    QNL_network network;
    std::vector<int> parents;
    for (int i = 0; i < 12; ++i)
        parents.push_back(
            quarn_test::AddBinaryNode(network, ("X" + std::to_string(i)).c_str(), {}, {0.4}));
    quarn_test::AddBinaryNode(network, "Y", parents, std::vector<double>(4096, 0.3));
    QNL_componentList components;
    ASSERT_EQ(QNL_relevance::Reduce(network, true, true, components), 0);
    QNL_eliminationJoinTree tree;
    ASSERT_EQ(tree.Build(*Largest(components)), 0);
    const std::uint64_t total = tree.GetTotalCells();
    ASSERT_EQ(tree.Build(*Largest(components), total), 0);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(tree.Build(*Largest(components), total - 1), -42);
    EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 1);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(tree.GetNumberOfCliques(), 0);
}

// A node with thousands of neighbours (the class of a naive Bayes, its features also chained
// here and there): eliminating and linking look at about four times as much for four times
// the nodes. Counting each fill-in afresh looked at the square of the hub's degree per step,
// and weighing every pair of cliques that share the hub at its square once more.
TEST(EliminationJoinTreeTest, BuildingAroundANodeOfManyNeighboursCostsWhatItTouches) {
    std::uint64_t work[2] = {};
    for (int scale = 0; scale < 2; ++scale) {
        QNL_network network;
        BuildHubNetwork(network, scale == 0 ? 600 : 2400, 1, 41);
        QNL_componentList components;
        ASSERT_EQ(QNL_relevance::Reduce(network, true, true, components), 0);
        QNL_eliminationJoinTree tree;
        ASSERT_EQ(tree.BuildStructure(*Largest(components)), 0);
        work[scale] = tree.GetBuildWork();
    }
    EXPECT_LE(work[1], 6 * work[0]) << work[0] << " then " << work[1];
}

// Networks of one to three hubs over 120 to 300 nodes: the cliques are linked into a join tree
// (each record's cliques connected by the separators that hold it) whose separators weigh
// what a maximum spanning tree over every pair of cliques weighs, and the beliefs are those of
// the clustering join tree. With several hubs some pairs share hubs only, and every pair is
// weighed; with one, only the pairs around the smallest clique of the hub.
TEST(EliminationJoinTreeTest, HubsGiveAJoinTreeOfMaximumWeightAndTheBeliefsOfClustering) {
    for (int round = 0; round < 12; ++round) {
        const std::string label = "round " + std::to_string(round);
        QNL_network network;
        BuildHubNetwork(network, 120 + 15 * round, 1 + round % 3, 4200 + round);
        quarn_test::SetPossibleEvidence(network, 77 + round, 20);
        QNL_componentList components;
        ASSERT_EQ(QNL_relevance::Reduce(network, true, true, components), 0);
        QNL_eliminationJoinTree tree;
        ASSERT_EQ(tree.BuildStructure(*Largest(components)), 0) << label;
        const int cliques = tree.GetNumberOfCliques();
        ASSERT_EQ(tree.GetNumberOfSeparators(), cliques - 1) << label;
        auto shared = [&](int a, int b) {
            std::vector<int> x = tree.GetCliqueMembers(a), y = tree.GetCliqueMembers(b), both;
            std::sort(x.begin(), x.end());
            std::sort(y.begin(), y.end());
            std::set_intersection(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(both));
            return static_cast<int>(both.size());
        };
        // Kruskal over every pair, heaviest first.
        std::vector<std::pair<int, std::pair<int, int>>> pairs;
        for (int a = 0; a < cliques; ++a)
            for (int b = a + 1; b < cliques; ++b)
                if (int n = shared(a, b)) pairs.push_back({-n, {a, b}});
        std::sort(pairs.begin(), pairs.end());
        std::vector<int> root(static_cast<std::size_t>(cliques));
        for (int c = 0; c < cliques; ++c)
            root[static_cast<std::size_t>(c)] = c;
        auto find = [&](int c) {
            while (root[static_cast<std::size_t>(c)] != c)
                c = root[static_cast<std::size_t>(c)];
            return c;
        };
        int best = 0;
        for (const auto& [n, ab] : pairs) {
            const int x = find(ab.first), y = find(ab.second);
            if (x == y) continue;
            root[static_cast<std::size_t>(x)] = y;
            best -= n;
        }
        int weight = 0;
        std::vector<int> holders(
            static_cast<std::size_t>(Largest(components)->GetNumberOfRecords()));
        std::vector<int> links(holders.size());
        for (int c = 0; c < cliques; ++c)
            for (int r : tree.GetCliqueMembers(c))
                ++holders[static_cast<std::size_t>(r)];
        for (int s = 0; s < cliques - 1; ++s) {
            const std::vector<int>& members = tree.GetSeparatorMembers(s);
            EXPECT_EQ(static_cast<int>(members.size()),
                      shared(tree.GetSeparatorParent(s), tree.GetSeparatorChild(s)))
                << label;
            weight += static_cast<int>(members.size());
            for (int r : members)
                ++links[static_cast<std::size_t>(r)];
        }
        EXPECT_EQ(weight, best) << label;
        for (std::size_t r = 0; r < holders.size(); ++r) {
            if (holders[r] > 0) {
                EXPECT_EQ(links[r], holders[r] - 1) << label << " record " << r;
            }
        }

        ASSERT_EQ(UpdateWith(network, QNL_ALG_BN_CLUSTERING), 0);
        std::vector<std::vector<double>> clustering;
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
            clustering.push_back(Beliefs(network, h));
        network.InvalidateValues();
        ASSERT_EQ(UpdateWith(network, QNL_ALG_BN_ELIMINATION_JOIN_TREE), 0);
        std::size_t i = 0;
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h), ++i) {
            if (ValueOf(network, h).IsObserved()) continue;
            ASSERT_TRUE(ValueOf(network, h).IsValueValid()) << label << " node " << h;
            quarn_test::ExpectNear(Beliefs(network, h), clustering[i], 1e-9,
                                   label + " node " + std::to_string(h));
        }
    }
}

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
    for (int round = 0; round < 60; ++round) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec = quarn_test::RoundSpec(4200, round);
        spec.nodes = 2 + round % 12;
        quarn_test::BuildRandomNetwork(network, spec);
        quarn_test::ThinToForest(network);
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
    QNL_relevanceComponent* largest = Largest(components);
    ASSERT_GT(largest->GetNumberOfRecords(), 3);
    QNL_graphView view(largest);
    QNL_clusteringJoinTree tree(view);
    EXPECT_FALSE(tree.Update(nullptr, 4));
    EXPECT_EQ(tree.GetFailure(), QNL_clusteringJoinTree::Failure::OVER_CAP);
    for (int r = 0; r < largest->GetNumberOfRecords(); ++r)
        EXPECT_FALSE(ValueOf(network, largest->GetRecord(r)->GetNodeHandle()).IsValueValid());
    EXPECT_NEAR(tree.ProbabilityOfEvidence(), 1.0, 1e-12);
    EXPECT_TRUE(tree.Update(nullptr, 0));
}
