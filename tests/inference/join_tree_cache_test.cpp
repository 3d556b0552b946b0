#include "inference/join_tree_cache.h"

#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "inference/cooper_solver.h"
#include "inference/influence_diagram.h"
#include "inference/shachter_solver.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/random_diagram.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using quarn::detail::JoinTreeCache;
using quarn_test::ExpectOracle;
using quarn_test::ValueOf;

// Every node's evidence, validity and valid cells, bit for bit.
using Snapshot = std::vector<std::string>;
Snapshot Take(const QNL_network& network) {
    return quarn_test::State(network);
}

// An update from values made invalid first, so that only what it writes counts.
int Update(QNL_network& network) {
    network.InvalidateValues();
    return network.UpdateBeliefs();
}

// The same update without kept trees: from the storage the cache recycles, and from none.
Snapshot Fresh(QNL_network& network) {
    JoinTreeCache& cache = network.GetJoinTreeCache();
    cache.Clear();
    const std::uint64_t budget = cache.GetBudget();
    cache.SetBudget(0);
    EXPECT_EQ(Update(network), 0);
    const Snapshot plain = Take(network);
    cache.SetBudget(budget);
    EXPECT_EQ(Update(network), 0);
    EXPECT_EQ(plain, Take(network));
    return plain;
}

// The update from kept trees gives what enumeration and a fresh tree give; the trees it built.
std::uint64_t ExpectCachedRight(QNL_network& network, const std::string& label) {
    const std::uint64_t builds = network.GetJoinTreeCache().GetBuildCount();
    EXPECT_EQ(Update(network), 0) << label;
    const std::uint64_t built = network.GetJoinTreeCache().GetBuildCount() - builds;
    const Snapshot cached = Take(network);
    if (network.GetNumberOfTargets() > 0)
        ExpectOracle(network, label, quarn_test::Unobserved(network, quarn_test::Targets(network)));
    else
        ExpectOracle(network, label);
    EXPECT_EQ(cached, Fresh(network)) << label;
    return built;
}

// Evidence on `nodes` at their outcomes in one forward sample: possible evidence. Nodes that
// earlier evidence implied already are left as they are.
void ObserveSample(QNL_network& network, const std::vector<int>& nodes, std::uint64_t seed) {
    quarn_test::TestRandom random(seed);
    const std::vector<int> sample = quarn_test::ForwardSample(network, random);
    network.ClearAllEvidence();
    for (int h : nodes)
        if (!ValueOf(network, h).IsObserved())
            ValueOf(network, h).SetEvidence(sample[static_cast<std::size_t>(h)]);
}

int KeptTrees(QNL_network& network) {
    JoinTreeCache& cache = network.GetJoinTreeCache();
    int kept = 0;
    for (int i = 0; i < cache.GetCount(); ++i)
        kept += cache.GetTree(i) != nullptr ? 1 : 0;
    return kept;
}

// A loopy network of a handful of nodes whose beliefs need a real tree.
std::vector<int> BuildLoopy(QNL_network& network, std::uint64_t seed) {
    quarn_test::RandomNetworkSpec spec;
    spec.seed = seed;
    spec.nodes = 9;
    return quarn_test::BuildRandomNetwork(network, spec);
}

} // namespace

// Over many random networks, with and without deterministic columns, an update after only the
// evidence values changed gives exactly what a new reduction and tree give, and what
// enumeration gives. Without deterministic columns the observed set cannot change, so the kept
// reduction and trees serve.
// Evidence the tree finds impossible writes nothing, and the tree then serves possible
// evidence again.
TEST(JoinTreeCacheTest, ChangedOrImpossibleEvidenceGivesFreshBeliefsBitForBit) {
    int reusedNetworks = 0, replayedNetworks = 0;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = seed;
        spec.nodes = 7 + static_cast<int>(seed % 6);
        spec.maxParents = 1 + static_cast<int>(seed % 4);
        spec.deterministicShare = seed % 3 == 0 ? 0.4 : 0.0;
        const std::vector<int> all = quarn_test::BuildRandomNetwork(network, spec);
        const std::vector<int> nodes =
            quarn_test::SetPossibleEvidence(network, seed * 7 + 1, 1 + static_cast<int>(seed % 3));
        // Targets let the reduction cut roots, whose sums are derived again on every update.
        if (seed % 2 == 0) {
            network.SetTarget(all.back());
            network.SetTarget(all[all.size() / 2]);
        }
        const std::string label = "seed " + std::to_string(seed);
        ASSERT_EQ(Update(network), 0) << label;
        JoinTreeCache& cache = network.GetJoinTreeCache();
        for (std::uint64_t draw = 1; draw <= 4; ++draw) {
            ObserveSample(network, nodes, seed * 11 + draw);
            const std::uint64_t reuses = cache.GetReuseCount();
            const std::uint64_t replays = cache.GetReductionReuseCount();
            const std::string what = label + " draw " + std::to_string(draw);
            const std::uint64_t built = ExpectCachedRight(network, what);
            if (spec.deterministicShare == 0.0) {
                EXPECT_EQ(built, 0u) << what;
                EXPECT_EQ(cache.GetReductionReuseCount(), replays + 1) << what;
            }
            if (cache.GetReuseCount() > reuses) ++reusedNetworks;
            if (cache.GetReductionReuseCount() > replays) ++replayedNetworks;
        }
        if (seed > 12) continue;
        QNL_network impossible;
        spec.nodes = 8;
        spec.deterministicShare = 0.5;
        quarn_test::BuildRandomNetwork(impossible, spec);
        if (!quarn_test::SetImpossibleEvidence(impossible, seed)) continue;
        std::vector<int> observed;
        for (int h = impossible.GetFirstNode(); h >= 0; h = impossible.GetNextNode(h))
            if (ValueOf(impossible, h).HasEvidence()) observed.push_back(h);
        ASSERT_EQ(Update(impossible), 0);
        const Snapshot none = Take(impossible);
        EXPECT_EQ(none, Fresh(impossible)) << label;
        ObserveSample(impossible, observed, seed + 100);
        ExpectCachedRight(impossible, label + " after impossible");
    }
    EXPECT_GT(reusedNetworks, 40);
    EXPECT_GT(replayedNetworks, 100);
}

// What the trees are built from changes: the kept trees go at once and the version moves;
// evidence and targets are no such change. A copy starts without trees.
TEST(JoinTreeCacheTest, StructuralChangesDropKeptTrees) {
    QNL_network network;
    const std::vector<int> h = BuildLoopy(network, 5);
    ASSERT_EQ(Update(network), 0);
    const int kept = KeptTrees(network);
    ASSERT_GT(kept, 0);
    {
        QNL_network copy(network);
        EXPECT_EQ(KeptTrees(copy), 0);
        ASSERT_EQ(Update(copy), 0);
        EXPECT_EQ(Take(copy), Take(network));
    }
    EXPECT_EQ(KeptTrees(network), kept);
    std::uint64_t version = network.GetStructureVersion();
    ValueOf(network, h[2]).SetEvidence(0);
    network.SetTarget(h[8]);
    network.UnSetTarget(h[8]);
    EXPECT_EQ(network.GetStructureVersion(), version);
    EXPECT_GT(KeptTrees(network), 0);

    auto expectDropped = [&](const char* what) {
        EXPECT_GT(network.GetStructureVersion(), version) << what;
        EXPECT_EQ(KeptTrees(network), 0) << what;
        version = network.GetStructureVersion();
        ASSERT_EQ(Update(network), 0) << what;
        EXPECT_GT(KeptTrees(network), 0) << what;
        ExpectOracle(network, what);
    };
    int parent = -1, child = -1;
    for (int a = 0; a < 9 && parent < 0; ++a)
        for (int b = a + 1; b < 9 && parent < 0; ++b)
            if (!network.IsRelated(h[a], h[b])) parent = h[a], child = h[b];
    ASSERT_GE(parent, 0);
    ASSERT_EQ(network.AddArc(parent, child), 0);
    expectDropped("arc added");
    ASSERT_EQ(network.RemoveArc(parent, child), 0);
    expectDropped("arc removed");

    auto* cpt = static_cast<QNL_cpt*>(network.GetNode(h[0])->GetDefinition());
    QNL_doubleArray values;
    values.SetSize(cpt->GetMatrix()->GetSize());
    for (int i = 0; i < values.GetSize(); ++i)
        values[i] = 1.0 / cpt->GetNumberOfOutcomes();
    ASSERT_EQ(cpt->SetProbabilities(values), 0);
    expectDropped("table values");
    int leaf = -1;
    for (int node : h)
        if (network.NumberOfChildren(node) == 0) leaf = node;
    QNL_nodeDefinition* definition = network.GetNode(leaf)->GetDefinition();
    ASSERT_EQ(definition->SetNumberOfOutcomes(definition->GetNumberOfOutcomes() + 1), 0);
    expectDropped("outcomes");
    const int added = network.AddNode(QNL_TYPE_CPT, "Extra");
    ASSERT_GE(added, 0);
    expectDropped("node added");
    ASSERT_EQ(network.DeleteNode(added), 0);
    expectDropped("node deleted");
}

// A table may change without telling the network (SetDefinition is silent): nothing of a
// table's cells is kept, and a column made deterministic, which changes what the evidence
// implies, changes the reduction, so a new tree is built.
TEST(JoinTreeCacheTest, SilentTableChangeIsReadAfresh) {
    QNL_network network;
    const std::vector<int> h = BuildLoopy(network, 17);
    int child = -1;
    for (int node : h)
        if (network.NumberOfParents(node) > 0) child = node;
    ValueOf(network, network.GetParents(child)[0]).SetEvidence(0);
    ASSERT_EQ(Update(network), 0);
    const std::uint64_t version = network.GetStructureVersion();
    QNL_nodeDefinition* definition = network.GetNode(child)->GetDefinition();
    const int outcomes = definition->GetNumberOfOutcomes();
    QNL_doubleArray values;
    values.SetSize(definition->GetMatrix()->GetSize());
    for (double first : {0.7, 1.0}) {
        for (int i = 0; i < values.GetSize(); ++i)
            values[i] = i % outcomes == 0 ? first : (1.0 - first) / (outcomes - 1);
        ASSERT_EQ(definition->SetDefinition(values), 0);
        ASSERT_EQ(network.GetStructureVersion(), version);
        ExpectCachedRight(network, "first outcome " + std::to_string(first));
    }
}

// Targets and the observed set shape the reduction: a change of either builds new trees,
// whose beliefs are right; the same observed set at other outcomes is served by kept trees.
TEST(JoinTreeCacheTest, OtherTargetsOrObservedNodesBuildNewTrees) {
    QNL_network network;
    const std::vector<int> h = BuildLoopy(network, 9);
    ValueOf(network, h[6]).SetEvidence(1);
    ASSERT_EQ(Update(network), 0);
    JoinTreeCache& cache = network.GetJoinTreeCache();
    // newTree: 1 must build, 0 must reuse, -1 either.
    auto step = [&](const char* what, int newTree) {
        const std::uint64_t builds = cache.GetBuildCount(), reuses = cache.GetReuseCount();
        ASSERT_EQ(Update(network), 0) << what;
        if (newTree >= 0) {
            EXPECT_EQ(cache.GetBuildCount() > builds, newTree == 1) << what;
        }
        if (newTree == 0) {
            EXPECT_GT(cache.GetReuseCount(), reuses) << what;
        }
        ExpectOracle(network, what, quarn_test::Unobserved(network, quarn_test::Targets(network)));
    };
    network.SetTarget(h[0]);
    network.SetTarget(h[3]);
    step("targets", 1);
    network.ClearAllTargets();
    step("targets cleared", -1);
    ValueOf(network, h[2]).SetEvidence(0);
    step("another observed node", 1);
    ValueOf(network, h[2]).ClearEvidence();
    ValueOf(network, h[2]).SetEvidence(1);
    step("same observed node, other outcome", 0);
}

// A kept tree serves a call with a smaller limit only where a new tree would be built under
// it: the failure on the limit is the one a new tree gives.
TEST(JoinTreeCacheTest, KeptTreeHonoursSmallerLimit) {
    QNL_network network;
    BuildLoopy(network, 13);
    ASSERT_TRUE(RunClustering(network, nullptr, 0));
    JoinTreeCache& cache = network.GetJoinTreeCache();
    ASSERT_NE(cache.GetTree(0), nullptr);
    const std::uint64_t total = cache.GetTree(0)->GetTotalWeight();
    EXPECT_FALSE(RunClustering(network, nullptr, total - 1));
    EXPECT_EQ(cache.GetFailure(), QNL_triangulator::Failure::OVER_CAP);
    cache.Clear();
    EXPECT_FALSE(RunClustering(network, nullptr, total - 1));
    ASSERT_TRUE(RunClustering(network, nullptr, total));
    const std::uint64_t builds = cache.GetBuildCount(), reuses = cache.GetReuseCount();
    ASSERT_TRUE(RunClustering(network, nullptr, total));
    EXPECT_EQ(cache.GetBuildCount(), builds);
    EXPECT_EQ(cache.GetReuseCount(), reuses + 1);
}

namespace {

// Cooper's method and the best-policy method with kept trees and without (a budget of 0
// keeps none): codes, messages and every value bit for bit; the trees the kept-tree solves
// built.
std::uint64_t ExpectSolvesMatchWithoutKeptTrees(QNL_network& network, const std::string& label) {
    QNL_cooperSolver cooper, cooperOff;
    QNL_shachterSolver best, bestOff;
    cooperOff.GetWorkingNetwork().GetJoinTreeCache().SetBudget(0);
    bestOff.GetWorkingNetwork().GetJoinTreeCache().SetBudget(0);
    // On a copy each, since a solve may add temporal-order arcs to the network it solves.
    auto solve = [&](auto& solver) {
        QNL_network copy(network);
        QNL_errorHandler::Instance().Flush();
        const int code = solver.Solve(copy);
        Snapshot s = Take(copy);
        s.push_back(std::to_string(code));
        return std::make_pair(s, quarn_test::Messages());
    };
    EXPECT_EQ(solve(cooper), solve(cooperOff)) << label;
    EXPECT_LE(cooper.GetCompilationCount(), cooperOff.GetCompilationCount()) << label;
    EXPECT_EQ(solve(best), solve(bestOff)) << label;
    EXPECT_LE(best.GetCompilationCount(), bestOff.GetCompilationCount()) << label;
    return cooper.GetCompilationCount();
}

} // namespace

// A solve is many updates over a few observed sets: kept trees serve them all, one tree per
// shape, and the values are those of fresh trees. Two observation-decision stages of three
// outcomes each are 81 scenarios over five observed sets (none, then one more scenario node
// at a time) plus the final update.
TEST(JoinTreeCacheTest, SolvesBuildOneTreePerObservedSetAndMatchFreshTrees) {
    std::uint64_t kept = 0, fresh = 0;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        QNL_network network;
        quarn_test::BuildRandomDiagram(network, seed);
        kept += ExpectSolvesMatchWithoutKeptTrees(network, "seed " + std::to_string(seed));
        QNL_cooperSolver off;
        off.GetWorkingNetwork().GetJoinTreeCache().SetBudget(0);
        quarn::detail::ResetInfluenceDiagramValues(network);
        off.Solve(network);
        fresh += off.GetCompilationCount();
    }
    EXPECT_LT(kept, fresh);

    QNL_network stages;
    int chance = -1, decision = -1;
    for (int i = 0; i < 2; ++i) {
        std::vector<int> parents;
        if (chance >= 0) parents = {chance, decision};
        std::vector<double> table;
        for (int column = 0; column < (i == 0 ? 1 : 9); ++column)
            table.insert(table.end(), {0.2 + 0.05 * column, 0.3, 0.5 - 0.05 * column});
        const std::string c = "C" + std::to_string(i), d = "D" + std::to_string(i);
        chance = quarn_test::AddDefined(stages, QNL_TYPE_CPT, c.c_str(), parents, table, 3);
        decision = quarn_test::AddDefined(stages, QNL_TYPE_LIST, d.c_str(), {chance}, {}, 3);
        std::vector<double> utilities;
        for (int k = 0; k < 9; ++k)
            utilities.push_back((k * 37 + i * 11) % 23 - 7.0);
        quarn_test::AddDefined(stages, QNL_TYPE_TABLE, ("U" + std::to_string(i)).c_str(),
                               {chance, decision}, utilities);
    }
    QNL_cooperSolver solver;
    ASSERT_EQ(solver.Solve(stages), 0);
    EXPECT_GE(solver.GetUpdateCount(), 81u);
    EXPECT_LE(solver.GetCompilationCount(), 6u);
    ExpectSolvesMatchWithoutKeptTrees(stages, "stages");
}

// Updates as an EM pass makes them: most nodes observed, a new set of them nearly every time and
// now and then one met before, under the default budget and under one that a single small tree
// fills. Each gives bit for bit what an update without kept trees gives (a copy that keeps
// none), and what enumeration gives; without targets every value is written, the observed
// nodes' certainties included.
TEST(JoinTreeCacheTest, ManyFindingsOverNewAndRecurringObservedSetsMatchFreshTrees) {
    std::uint64_t replays = 0, reuses = 0;
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = 300 + seed;
        spec.nodes = 8 + static_cast<int>(seed % 4);
        spec.maxParents = 1 + static_cast<int>(seed % 3);
        spec.maxOutcomes = 3;
        spec.deterministicShare = seed % 4 == 0 ? 0.3 : 0.0;
        const std::vector<int> all = quarn_test::BuildRandomNetwork(network, spec);
        if (seed % 3 == 1) {
            network.SetTarget(all.back());
            network.SetTarget(all[all.size() / 2]);
        }
        QNL_network fresh(network);
        fresh.GetJoinTreeCache().SetBudget(0);
        JoinTreeCache& cache = network.GetJoinTreeCache();
        if (seed % 2 == 0) cache.SetBudget(64);
        quarn_test::TestRandom random(seed);
        std::vector<std::vector<int>> recurring;
        for (int step = 0; step < 80; ++step) {
            std::vector<int> nodes;
            if (!recurring.empty() && random.Uniform() < 0.3) {
                nodes = recurring[static_cast<std::size_t>(
                    random.Below(static_cast<int>(recurring.size())))];
            } else {
                const double share = 0.3 + 0.65 * random.Uniform();
                for (int h : all)
                    if (random.Uniform() < share) nodes.push_back(h);
                if (recurring.size() < 4) recurring.push_back(nodes);
            }
            const std::string label = "seed " + std::to_string(seed) + " step " +
                                      std::to_string(step) + ", " + std::to_string(nodes.size()) +
                                      " observed";
            for (QNL_network* net : {&network, &fresh}) {
                ObserveSample(*net, nodes, seed * 1000 + static_cast<std::uint64_t>(step));
                ASSERT_EQ(Update(*net), 0) << label;
            }
            ASSERT_EQ(Take(network), Take(fresh)) << label;
            if (step % 4 != 0) continue;
            quarn_test::ExpectValidValuesCurrent(network, label);
            if (network.GetNumberOfTargets() > 0) continue;
            for (int h : all) {
                EXPECT_TRUE(ValueOf(network, h).IsValueValid()) << label << " node " << h;
            }
        }
        replays += cache.GetReductionReuseCount();
        reuses += cache.GetReuseCount();
    }
    EXPECT_GT(replays, 40u);
    EXPECT_GT(reuses, 100u);
}

// An EM pass observes a new set of nodes on nearly every update. Their reductions stay on trial,
// a bounded few, instead of piling up, and a set that an update used again keeps its reduction
// and trees through them all.
TEST(JoinTreeCacheTest, OneOffObservedSetsDoNotPileUpOrCrowdOutRecurringOnes) {
    QNL_network network;
    quarn_test::RandomNetworkSpec spec;
    spec.seed = 77;
    spec.nodes = 12;
    const std::vector<int> all = quarn_test::BuildRandomNetwork(network, spec);
    JoinTreeCache& cache = network.GetJoinTreeCache();
    const std::vector<int> recurring = {all[1], all[4], all[7]};
    for (std::uint64_t draw : {1, 2}) {
        ObserveSample(network, recurring, draw);
        ASSERT_EQ(Update(network), 0);
    }
    std::set<std::vector<int>> met = {recurring};
    quarn_test::TestRandom random(5);
    for (int i = 0; i < 200; ++i) {
        std::vector<int> nodes;
        do {
            nodes.clear();
            for (int h : all)
                if (random.Uniform() < 0.7) nodes.push_back(h);
        } while (!met.insert(nodes).second);
        ObserveSample(network, nodes, 100 + static_cast<std::uint64_t>(i));
        ASSERT_EQ(Update(network), 0) << "one-off set " << i;
    }
    EXPECT_LE(static_cast<std::size_t>(cache.GetReductionCount()), 1 + JoinTreeCache::TRIALS);
    const std::uint64_t builds = cache.GetBuildCount();
    const std::uint64_t replays = cache.GetReductionReuseCount();
    ObserveSample(network, recurring, 3);
    ASSERT_EQ(Update(network), 0);
    EXPECT_EQ(cache.GetBuildCount(), builds);
    EXPECT_EQ(cache.GetReductionReuseCount(), replays + 1);
    ExpectOracle(network, "recurring set after one-off sets");
}

namespace {

// The part of a tree in sight from outside it: its table cells at their capacity, and a
// clique's fixed part per record (the room the triangulation makes for the cliques).
std::uint64_t VisibleBytes(const QNL_clusteringJoinTree& tree) {
    std::uint64_t bytes =
        static_cast<std::uint64_t>(tree.GetGraph().GetCount()) * sizeof(QNL_clique);
    for (int c = 0; c < tree.GetNumberOfCliques(); ++c) {
        const QNL_clique& clique = tree.GetClique(c);
        bytes += static_cast<std::uint64_t>(clique.potential.Capacity() +
                                            clique.separatorTable.Capacity()) *
                 sizeof(double);
    }
    return bytes;
}

} // namespace

// Each update observing a new set of nodes, now and then one met before: the trees kept pile
// up until the budget holds them back. The budget counted table cells alone, while each tree
// holds its cliques, lists and the room it keeps besides, so memory grew with the sets met
// whatever the budget. What the cache counts covers what is in sight of the trees it holds and
// stays within the budget after every update; the beliefs are those of an update that keeps
// nothing.
TEST(JoinTreeCacheTest, WhatTheCacheKeepsStaysWithinItsBudgetUnderRandomFindings) {
    constexpr std::uint64_t kBudget = 96 * 1024;
    std::uint64_t kept = 0, reuses = 0, most = 0;
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = 900 + seed;
        spec.nodes = 24;
        spec.maxParents = 3;
        spec.maxOutcomes = 3;
        const std::vector<int> all = quarn_test::BuildRandomNetwork(network, spec);
        QNL_network fresh(network);
        fresh.GetJoinTreeCache().SetBudget(0);
        JoinTreeCache& cache = network.GetJoinTreeCache();
        cache.SetBudget(kBudget);
        quarn_test::TestRandom random(seed);
        std::vector<std::vector<int>> recurring;
        for (int step = 0; step < 120; ++step) {
            std::vector<int> nodes;
            if (recurring.size() == 6 && random.Uniform() < 0.4) {
                nodes = recurring[static_cast<std::size_t>(random.Below(6))];
            } else {
                const double share = 0.2 + 0.6 * random.Uniform();
                for (int h : all)
                    if (random.Uniform() < share) nodes.push_back(h);
                if (recurring.size() < 6) recurring.push_back(nodes);
            }
            const std::string label =
                "seed " + std::to_string(seed) + " step " + std::to_string(step);
            for (QNL_network* net : {&network, &fresh}) {
                ObserveSample(*net, nodes, seed * 1000 + static_cast<std::uint64_t>(step));
                ASSERT_EQ(Update(*net), 0) << label;
            }
            ASSERT_EQ(Take(network), Take(fresh)) << label;
            std::uint64_t visible = 0;
            for (int i = 0; i < cache.GetCount(); ++i)
                if (const QNL_clusteringJoinTree* tree = cache.GetTree(i))
                    visible += VisibleBytes(*tree);
            EXPECT_GE(cache.GetKeptBytes(), visible) << label;
            EXPECT_LE(cache.GetKeptBytes(), kBudget) << label;
            EXPECT_LE(cache.GetReductionBytes(), JoinTreeCache::REDUCTION_BYTES) << label;
            kept = std::max<std::uint64_t>(kept, static_cast<std::uint64_t>(cache.GetKeptCount()));
            most = std::max(most, cache.GetKeptBytes());
            if (HasFailure()) return;
        }
        reuses += cache.GetReuseCount();
    }
    // The budget held several trees, kept ones served, and the budget was what held them back.
    EXPECT_GT(kept, 3u);
    EXPECT_GT(reuses, 20u);
    EXPECT_GT(most, kBudget * 3 / 4);
}
