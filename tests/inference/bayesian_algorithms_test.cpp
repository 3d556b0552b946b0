#include "inference/bayesian_algorithms.h"
#include "inference/sampling_core.h"

#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quarn_test::ExpectOracle;
using quarn_test::Targets;
using quarn_test::ValueOf;

void SetProperty(QNL_network& network, const char* key, const char* value) {
    ASSERT_EQ(network.GetUserProperties().AddProperty(key, value), 0);
}

// A rows x columns grid of four-outcome nodes with uniform tables, parents above and to the
// left: its join tree needs cliques far beyond the default cap.
std::vector<int> BuildWideGrid(QNL_network& network, int rows, int columns) {
    std::vector<int> h;
    for (int i = 0; i < rows * columns; ++i) {
        h.push_back(network.AddNode(QNL_TYPE_CPT, ("g" + std::to_string(i)).c_str()));
        network.GetNode(h.back())->GetDefinition()->SetNumberOfOutcomes(4);
    }
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int cell = h[static_cast<std::size_t>(r * columns + c)];
            if (r > 0) network.AddArc(h[static_cast<std::size_t>((r - 1) * columns + c)], cell);
            if (c > 0) network.AddArc(h[static_cast<std::size_t>(r * columns + c - 1)], cell);
        }
    return h;
}

// Y with ten binary parents: the family clique weighs 2^11.
void BuildWideFamily(QNL_network& network) {
    std::vector<int> parents;
    for (int i = 0; i < 10; ++i)
        parents.push_back(quarn_test::AddBinaryNode(network, ("X" + std::to_string(i)).c_str(), {},
                                                    {0.1 + 0.07 * i}));
    std::vector<double> pTrue;
    for (int c = 0; c < 1024; ++c)
        pTrue.push_back(0.05 + 0.9 * ((c * 37) % 101) / 100.0);
    quarn_test::AddBinaryNode(network, "Y", parents, pTrue);
}

} // namespace

// Each step sets one property and expects the settings read afterwards.
TEST(DecompositionSettingsTest, DefaultsAndRules) {
    struct Step {
        const char* key;
        const char* value;
        int batchSize;
        std::uint64_t firstLimit, splitLimit, unbatchedLimit;
    };
    const char* batch = "QNL_REL_DECOMP_THRESHOLD";
    const char* second = "QNL_REL_DECOMP_THRESHOLD2";
    const char* third = "QNL_REL_DECOMP_THRESHOLD3";
    const Step steps[] = {
        {nullptr, nullptr, 32, 0, 65536, 65536}, {batch, "0", 32, 0, 65536, 65536},
        {batch, "text", 32, 0, 65536, 65536},    {batch, "-3", 32, 0, 65536, 65536},
        {batch, "5", 5, 0, 65536, 65536},        {second, "1000", 5, 0, 1000, 1000},
        {third, "500", 5, 500, 500, 1000},       {third, "0", 5, 0, 1000, 1000},
        {second, "-1", 5, 0, 65536, 65536},
    };
    QNL_network network;
    for (const Step& step : steps) {
        if (step.key != nullptr) SetProperty(network, step.key, step.value);
        const quarn::detail::DecompositionSettings s =
            quarn::detail::ReadDecompositionSettings(network);
        EXPECT_EQ((std::vector<std::uint64_t>{std::uint64_t(s.batchSize), s.firstLimit,
                                              s.splitLimit, s.unbatchedLimit}),
                  (std::vector<std::uint64_t>{std::uint64_t(step.batchSize), step.firstLimit,
                                              step.splitLimit, step.unbatchedLimit}))
            << (step.key ? step.key : "none") << "=" << (step.value ? step.value : "");
    }
}

class BayesianDriverTest : public ::testing::Test {
protected:
    QNL_network network;
};

TEST_F(BayesianDriverTest, MaskedNonTargetsAreWrittenToo) {
    const quarn_test::Sprinkler s = quarn_test::BuildSprinkler(network);
    ValueOf(network, s.wetGrass).SetEvidence(0);
    network.SetTarget(s.rain);
    std::vector<unsigned char> mask(static_cast<std::size_t>(network.GetLastNode() + 1), 0);
    mask[static_cast<std::size_t>(s.sprinkler)] = 1;
    ASSERT_TRUE(RunClustering(network, mask.data(), 0));
    EXPECT_EQ(mask[static_cast<std::size_t>(s.sprinkler)], 0);
    ExpectOracle(network, "sprinkler", {s.rain, s.sprinkler});
}

TEST_F(BayesianDriverTest, FirstAttemptLimitDecidesWhetherTheWholeBatchFits) {
    BuildWideFamily(network);
    EXPECT_FALSE(RunClustering(network, nullptr, 500));
    EXPECT_TRUE(RunClustering(network, nullptr, 0));
    ExpectOracle(network, "wide family");
}

// A tree for a target deep in a wide grid cannot be had: no fallback hides that, and a batch
// of one node that fails fails the decomposition.
TEST_F(BayesianDriverTest, TreeThatCannotBeHadFailsWithoutFallback) {
    const std::vector<int> grid = BuildWideGrid(network, 16, 16);
    network.SetTarget(grid.back());
    EXPECT_FALSE(RunDefaultAlgorithm(network));
    EXPECT_EQ(Targets(network), std::vector<int>{grid.back()});
    EXPECT_FALSE(ValueOf(network, grid.back()).IsValueValid());

    // Two targets near the roots need only a small corner of the grid.
    network.ClearAllTargets();
    network.SetTarget(grid[0]);
    network.SetTarget(grid[1]);
    EXPECT_TRUE(RunDefaultAlgorithm(network));
    EXPECT_TRUE(ValueOf(network, grid[1]).IsValueValid());

    network.SetTarget(grid.back());
    SetProperty(network, "QNL_REL_DECOMP_THRESHOLD", "1");
    EXPECT_FALSE(RunRelevanceDecomposition(network));
    EXPECT_EQ(Targets(network), (std::vector<int>{grid[0], grid[1], grid.back()}));
    EXPECT_FALSE(RunRelevanceDecompositionUnbatched(network));
    EXPECT_EQ(Targets(network), (std::vector<int>{grid[0], grid[1], grid.back()}));
    SetProperty(network, "QNL_REL_DECOMP_DISABLE_FALLBACK", "");
    EXPECT_FALSE(RunDefaultAlgorithm(network));
    // The elimination tree's cliques count against the cap too, and its update says so.
    QNL_network wide;
    BuildWideGrid(wide, 16, 16);
    wide.SetDefaultBNAlgorithm(QNL_ALG_BN_ELIMINATION_JOIN_TREE);
    EXPECT_EQ(wide.UpdateBeliefs(), -42);
    QNL_errorHandler::Instance().Flush();
}

TEST_F(BayesianDriverTest, ObservedNodeWithAnUnobservedCutParentIsRefused) {
    // A is summed into E, which is then dropped alone: its entry would need A's outcome.
    const int a = quarn_test::AddBinaryNode(network, "A", {}, {0.3});
    const int e = quarn_test::AddBinaryNode(network, "E", {a}, {0.9, 0.2});
    const int other = quarn_test::AddBinaryNode(network, "B", {}, {0.5});
    ASSERT_EQ(ValueOf(network, e).SetEvidence(0), 0);
    network.SetTarget(other);
    EXPECT_LT(ProbEvidenceByClustering(network), 0.0);

    network.SetTarget(a);
    EXPECT_NEAR(ProbEvidenceByClustering(network), 0.3 * 0.9 + 0.7 * 0.2, 1e-15);
}

TEST_F(BayesianDriverTest, ImpliedParentOutsideTheTargetsCountsItsEntry) {
    // A observed; Q copies A, so Q holds propagated evidence; E observed below Q. With only
    // an unrelated target, Q is summed into E and both observed nodes are left alone.
    const int a = quarn_test::AddBinaryNode(network, "A", {}, {0.3});
    const int q = quarn_test::AddBinaryNode(network, "Q", {a}, {1.0, 0.0});
    const int e = quarn_test::AddBinaryNode(network, "E", {q}, {0.6, 0.25});
    const int other = quarn_test::AddBinaryNode(network, "B", {}, {0.5});
    ASSERT_EQ(ValueOf(network, a).SetEvidence(0), 0);
    ASSERT_TRUE(ValueOf(network, q).HasPropagatedEvidence());
    ASSERT_EQ(ValueOf(network, e).SetEvidence(1), 0);
    network.SetTarget(other);
    const quarn_test::Enumeration expected = quarn_test::Enumerate(network);
    ASSERT_TRUE(expected.ok);
    EXPECT_NEAR(ProbEvidenceByClustering(network), expected.probabilityOfEvidence, 1e-15);
    EXPECT_NEAR(expected.probabilityOfEvidence, 0.3 * 0.4, 1e-15);
}

// A hidden parent with two copies as children, found at different outcomes: no outcome of
// the parent meets both findings. Notifications are off while they are set, so nothing
// refuses the second one and only the update can tell. Whichever copy the deterministic
// pass starts from, no algorithm may settle the parent from that copy and call it a belief:
// the samplers fail as for evidence no sample meets, the exact ones leave it not valid.
TEST(ContradictoryEvidenceTest, FindingsOnTwoCopiesOfAHiddenParentAreImpossible) {
    const char noSamples[] = "No useful samples have been generated for some of nodes.";
    // The exact algorithms treat it as any impossible evidence: no failure, nothing valid.
    for (int id = QNL_ALG_BN_CLUSTERING; id <= QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED; ++id) {
        if (id == QNL_ALG_BN_POLYTREE) continue; // it spreads a conflict, tested beside the trees
        const bool sampler = id != QNL_ALG_BN_CLUSTERING && id < QNL_ALG_BN_ELIMINATION_JOIN_TREE;
        for (int first : {0, 1}) {
            SCOPED_TRACE("algorithm " + std::to_string(id) + " first " + std::to_string(first));
            QNL_errorHandler::Instance().Flush();
            QNL_network network;
            const int parent = quarn_test::AddBinaryNode(network, "P", {}, {0.3});
            const int a = quarn_test::AddBinaryNode(network, "A", {parent}, {1.0, 0.0});
            const int b = quarn_test::AddBinaryNode(network, "B", {parent}, {1.0, 0.0});
            network.SetNotificationControl(0);
            ASSERT_EQ(ValueOf(network, a).SetEvidence(first), 0);
            ASSERT_EQ(ValueOf(network, b).SetEvidence(1 - first), 0);
            network.SetDefaultBNAlgorithm(id);
            network.SetNumberOfSamples(200);
            QNL_samplingRandom().Seed(1);
            EXPECT_EQ(network.UpdateBeliefs(), sampler ? -5 : 0);
            EXPECT_FALSE(ValueOf(network, parent).IsValueValid());
            EXPECT_EQ(quarn_test::LastMessage(), sampler ? noSamples : "");
        }
    }
    QNL_errorHandler::Instance().Flush();
}
