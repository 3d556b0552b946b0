#include "inference/join_tree_cache.h"

#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "model/double_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using quarn::detail::JoinTreeCache;
using quarn_test::ExpectOracle;
using quarn_test::ValueOf;

// Every node's value as the update left it: validity and cells, to compare bit for bit.
struct Snapshot {
    std::vector<int> valid;
    std::vector<std::vector<double>> cells;

    bool operator==(const Snapshot& other) const {
        if (valid != other.valid || cells.size() != other.cells.size()) return false;
        for (std::size_t i = 0; i < cells.size(); ++i)
            if (cells[i].size() != other.cells[i].size() ||
                (!cells[i].empty() && std::memcmp(cells[i].data(), other.cells[i].data(),
                                                  cells[i].size() * sizeof(double)) != 0))
                return false;
        return true;
    }
};

Snapshot Take(const QNL_network& network) {
    Snapshot s;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_nodeValue& value = ValueOf(network, h);
        s.valid.push_back(value.IsValueValid() ? 1 : 0);
        std::vector<double> cells;
        const QNL_Dmatrix* matrix = const_cast<QNL_nodeValue&>(value).GetMatrix();
        for (int k = 0; matrix != nullptr && k < matrix->GetSize(); ++k)
            cells.push_back(matrix->Subscript(k));
        s.cells.push_back(cells);
    }
    return s;
}

// An update from values made invalid first, so that only what it writes counts.
int Update(QNL_network& network) {
    network.InvalidateValues();
    return network.UpdateBeliefs();
}

// The same update without kept trees.
Snapshot Fresh(QNL_network& network) {
    network.GetJoinTreeCache().Clear();
    EXPECT_EQ(Update(network), 0);
    return Take(network);
}

// Evidence on `nodes` at their outcomes in one forward sample: possible evidence. Nodes that
// earlier evidence implied already are left as they are.
void ObserveSample(QNL_network& network, const std::vector<int>& nodes, std::uint64_t seed) {
    quarn_test::TestRandom random(seed);
    const std::vector<int> sample = quarn_test::ForwardSample(network, random);
    network.ClearAllEvidence();
    for (int h : nodes) {
        QNL_nodeValue& value = ValueOf(network, h);
        if (!value.IsObserved()) value.SetEvidence(sample[static_cast<std::size_t>(h)]);
    }
}

std::vector<int> PickNodes(const std::vector<int>& handles, int count, std::uint64_t seed) {
    quarn_test::TestRandom random(seed);
    std::vector<int> pool = handles;
    std::vector<int> out;
    for (int i = 0; i < count && !pool.empty(); ++i) {
        const int at = random.Below(static_cast<int>(pool.size()));
        out.push_back(pool[static_cast<std::size_t>(at)]);
        pool.erase(pool.begin() + at);
    }
    return out;
}

int KeptTrees(QNL_network& network) {
    JoinTreeCache& cache = network.GetJoinTreeCache();
    int kept = 0;
    for (int i = 0; i < cache.GetCount(); ++i)
        if (cache.GetTree(i) != nullptr) ++kept;
    return kept;
}

// A loopy network of a handful of nodes whose beliefs need a real tree.
std::vector<int> BuildLoopy(QNL_network& network, std::uint64_t seed) {
    quarn_test::RandomNetworkSpec spec;
    spec.seed = seed;
    spec.nodes = 9;
    spec.maxParents = 3;
    return quarn_test::BuildRandomNetwork(network, spec);
}

} // namespace

// The heart of the cache: over many random networks, with and without deterministic columns,
// an update after only the evidence values changed gives exactly what a new tree gives, and
// what enumeration gives. Without deterministic columns the observed set cannot change, so
// the kept trees must have served.
TEST(JoinTreeCacheTest, ChangedEvidenceValuesGiveFreshBeliefsBitForBit) {
    int reusedNetworks = 0;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = seed;
        spec.nodes = 7 + static_cast<int>(seed % 6);
        spec.maxParents = 1 + static_cast<int>(seed % 4);
        spec.deterministicShare = seed % 3 == 0 ? 0.4 : 0.0;
        const std::vector<int> handles = quarn_test::BuildRandomNetwork(network, spec);
        const std::vector<int> nodes =
            PickNodes(handles, 1 + static_cast<int>(seed % 3), seed * 7 + 1);
        const std::string label = "seed " + std::to_string(seed);

        ObserveSample(network, nodes, seed * 11);
        ASSERT_EQ(Update(network), 0) << label;
        JoinTreeCache& cache = network.GetJoinTreeCache();
        for (std::uint64_t draw = 1; draw <= 4; ++draw) {
            ObserveSample(network, nodes, seed * 11 + draw);
            const std::uint64_t reuses = cache.GetReuseCount();
            const std::uint64_t builds = cache.GetBuildCount();
            ASSERT_EQ(Update(network), 0) << label;
            const Snapshot cached = Take(network);
            if (spec.deterministicShare == 0.0) {
                EXPECT_EQ(cache.GetBuildCount(), builds) << label << " draw " << draw;
            }
            if (cache.GetReuseCount() > reuses) ++reusedNetworks;
            ExpectOracle(network, label + " draw " + std::to_string(draw));
            EXPECT_TRUE(cached == Fresh(network)) << label << " draw " << draw;
        }
    }
    EXPECT_GT(reusedNetworks, 40);
}

// Evidence that the tree itself finds impossible writes nothing; the kept tree then serves
// possible evidence again as a new one would.
TEST(JoinTreeCacheTest, ImpossibleEvidenceLeavesNoTraceInKeptTree) {
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        QNL_network network;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = seed;
        spec.nodes = 8;
        spec.deterministicShare = 0.5;
        quarn_test::BuildRandomNetwork(network, spec);
        if (!quarn_test::SetImpossibleEvidence(network, seed)) continue;
        std::vector<int> observed;
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
            if (ValueOf(network, h).HasEvidence()) observed.push_back(h);
        ASSERT_EQ(Update(network), 0);
        const Snapshot impossible = Take(network);
        EXPECT_TRUE(impossible == Fresh(network)) << "seed " << seed;

        ObserveSample(network, observed, seed + 100);
        ASSERT_EQ(Update(network), 0);
        const Snapshot cached = Take(network);
        ExpectOracle(network, "seed " + std::to_string(seed));
        EXPECT_TRUE(cached == Fresh(network)) << "seed " << seed;
    }
}

// What the trees are built from changes: the kept trees go at once and the version moves;
// evidence and targets are no such change.
TEST(JoinTreeCacheTest, StructuralChangesDropKeptTrees) {
    QNL_network network;
    const std::vector<int> h = BuildLoopy(network, 5);
    auto updated = [&]() {
        EXPECT_EQ(Update(network), 0);
        return KeptTrees(network) > 0;
    };
    ASSERT_TRUE(updated());
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
        EXPECT_TRUE(updated()) << what;
        ExpectOracle(network, what);
    };

    // Arcs between nodes not yet related.
    int parent = -1, child = -1;
    for (int a = 0; a < 9 && parent < 0; ++a)
        for (int b = a + 1; b < 9 && parent < 0; ++b)
            if (!network.IsRelated(h[a], h[b])) {
                parent = h[a];
                child = h[b];
            }
    ASSERT_GE(parent, 0);
    ASSERT_EQ(network.AddArc(parent, child), 0);
    expectDropped("arc added");
    ASSERT_EQ(network.RemoveArc(parent, child), 0);
    expectDropped("arc removed");

    // Table values as the definition reports them, and the outcome set of a node without
    // children.
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
    ASSERT_GE(leaf, 0);
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
    ASSERT_GE(child, 0);
    const int parent = network.GetParents(child)[0];
    ValueOf(network, parent).SetEvidence(0);
    ASSERT_EQ(Update(network), 0);
    const std::uint64_t version = network.GetStructureVersion();

    QNL_nodeDefinition* definition = network.GetNode(child)->GetDefinition();
    const int outcomes = definition->GetNumberOfOutcomes();
    QNL_doubleArray values;
    values.SetSize(definition->GetMatrix()->GetSize());
    for (int i = 0; i < values.GetSize(); ++i)
        values[i] = i % outcomes == 0 ? 0.7 : 0.3 / (outcomes - 1);
    ASSERT_EQ(definition->SetDefinition(values), 0);
    ASSERT_EQ(network.GetStructureVersion(), version);
    ASSERT_EQ(Update(network), 0);
    Snapshot cached = Take(network);
    ExpectOracle(network, "new values");
    EXPECT_TRUE(cached == Fresh(network));

    // Every column certain of outcome 0: the parent's evidence now implies the child.
    for (int i = 0; i < values.GetSize(); ++i)
        values[i] = i % outcomes == 0 ? 1.0 : 0.0;
    ASSERT_EQ(definition->SetDefinition(values), 0);
    ASSERT_EQ(Update(network), 0);
    cached = Take(network);
    ExpectOracle(network, "deterministic column");
    EXPECT_TRUE(cached == Fresh(network));
}

// Targets and the observed set shape the reduction: a change of either builds new trees,
// whose beliefs are right.
TEST(JoinTreeCacheTest, OtherTargetsOrObservedNodesBuildNewTrees) {
    QNL_network network;
    const std::vector<int> h = BuildLoopy(network, 9);
    ValueOf(network, h[6]).SetEvidence(1);
    ASSERT_EQ(Update(network), 0);
    JoinTreeCache& cache = network.GetJoinTreeCache();

    std::uint64_t builds = cache.GetBuildCount();
    network.SetTarget(h[0]);
    network.SetTarget(h[3]);
    ASSERT_EQ(Update(network), 0);
    EXPECT_GT(cache.GetBuildCount(), builds);
    const Snapshot targeted = Take(network);
    EXPECT_TRUE(targeted == Fresh(network));
    network.ClearAllTargets();

    ASSERT_EQ(Update(network), 0);
    builds = cache.GetBuildCount();
    ValueOf(network, h[2]).SetEvidence(0);
    ASSERT_EQ(Update(network), 0);
    EXPECT_GT(cache.GetBuildCount(), builds);
    ExpectOracle(network, "another observed node");

    // Back to the same observed set at other outcomes: served by the kept trees.
    builds = cache.GetBuildCount();
    const std::uint64_t reuses = cache.GetReuseCount();
    ValueOf(network, h[2]).ClearEvidence();
    ValueOf(network, h[2]).SetEvidence(1);
    ASSERT_EQ(Update(network), 0);
    EXPECT_EQ(cache.GetBuildCount(), builds);
    EXPECT_GT(cache.GetReuseCount(), reuses);
    ExpectOracle(network, "same observed node, other outcome");
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
    ASSERT_GT(total, 1u);

    EXPECT_FALSE(RunClustering(network, nullptr, total - 1));
    EXPECT_EQ(cache.GetFailure(), QNL_triangulator::Failure::OVER_CAP);
    network.GetJoinTreeCache().Clear();
    EXPECT_FALSE(RunClustering(network, nullptr, total - 1));

    ASSERT_TRUE(RunClustering(network, nullptr, total));
    const std::uint64_t builds = cache.GetBuildCount();
    const std::uint64_t reuses = cache.GetReuseCount();
    ASSERT_TRUE(RunClustering(network, nullptr, total));
    EXPECT_EQ(cache.GetBuildCount(), builds);
    EXPECT_EQ(cache.GetReuseCount(), reuses + 1);
}

// A copy is a network of its own: it starts without trees, and its updates leave the
// source's trees alone.
TEST(JoinTreeCacheTest, CopyStartsWithoutTrees) {
    QNL_network network;
    BuildLoopy(network, 21);
    ASSERT_EQ(Update(network), 0);
    const int kept = KeptTrees(network);
    ASSERT_GT(kept, 0);
    QNL_network copy(network);
    EXPECT_EQ(KeptTrees(copy), 0);
    ASSERT_EQ(Update(copy), 0);
    EXPECT_TRUE(Take(copy) == Take(network));
    EXPECT_EQ(KeptTrees(network), kept);
}
