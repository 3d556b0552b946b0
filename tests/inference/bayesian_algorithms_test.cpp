#include "inference/bayesian_algorithms.h"
#include "inference/clique_table.h"
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

#include <cmath>
#include <cstdint>
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
// A probability below the smallest double is logged with three digits of its size; one whose
// digits round up to 10 carries into the power rather than reading "10e...".
TEST(UnderflowMessageTest, SizeIsWrittenWithThreeDigitsAndTheCarryInThePower) {
    const struct {
        double mantissa;
        int power;
        const char* size;
    } cases[] = {{3.09, -884, "3.09e-884"},
                 {9.994, -400, "9.99e-400"},
                 {9.9996, -400, "1e-399"},
                 {1.0, -400, "1e-400"},
                 {9.99999, -5000, "1e-4999"}};
    for (const auto& c : cases) {
        // mantissa x 10^power as m x 2^e, m in [mantissa, 2 mantissa).
        const double log2Of10 = std::log2(10.0);
        const auto e = static_cast<std::int64_t>(std::floor(c.power * log2Of10));
        const double m = c.mantissa * std::exp2(c.power * log2Of10 - static_cast<double>(e));
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(quarn::detail::ValueOrLoggedSize(quarn::detail::ScaledValue(m, e), "Size"), 0.0);
        EXPECT_EQ(quarn_test::Messages(),
                  std::vector<std::string>{std::string("-2 Size underflowed: ") + c.size +
                                           " is below the smallest double, 0 returned"})
            << c.size;
    }
}

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
        const bool sampler = id != QNL_ALG_BN_CLUSTERING && id != QNL_ALG_BN_POLYTREE &&
                             id < QNL_ALG_BN_ELIMINATION_JOIN_TREE;
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

namespace {

// The nodes that stay connected when every observed node (a finding or implied) is cut from
// its children: the findings of one such part weigh nothing in another. Each part's evidence
// enumerated over its unobserved nodes, with the observed parents of its members at their
// outcomes: whether it is possible, and every unobserved member's posterior given it.
struct PartEnumeration {
    std::vector<int> partOf;                    // by handle
    std::vector<char> possible;                 // by part
    std::vector<std::vector<double>> posterior; // by handle
};

PartEnumeration EnumerateParts(const QNL_network& network) {
    const std::size_t slots = static_cast<std::size_t>(network.GetLastNode() + 1);
    std::vector<int> up(slots);
    for (std::size_t h = 0; h < slots; ++h)
        up[h] = static_cast<int>(h);
    auto find = [&](int x) {
        while (up[static_cast<std::size_t>(x)] != x)
            x = up[static_cast<std::size_t>(x)];
        return x;
    };
    auto observed = [&](int h) { return ValueOf(network, h).IsObserved(); };
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_intArray& parents = network.GetParents(h);
        for (int i = 0; i < parents.GetCount(); ++i)
            if (!observed(parents[i])) up[static_cast<std::size_t>(find(parents[i]))] = find(h);
    }
    PartEnumeration out;
    out.partOf.assign(slots, -1);
    out.possible.assign(slots, 0);
    out.posterior.resize(slots);
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        out.partOf[static_cast<std::size_t>(h)] = find(h);
    for (int part = network.GetFirstNode(); part >= 0; part = network.GetNextNode(part)) {
        std::vector<int> members, free;
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
            if (out.partOf[static_cast<std::size_t>(h)] != part) continue;
            members.push_back(h);
            if (!observed(h)) free.push_back(h);
        }
        if (members.empty()) continue;
        std::vector<int> x(slots, 0);
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
            if (observed(h)) x[static_cast<std::size_t>(h)] = ValueOf(network, h).GetEvidence();
        for (int h : free)
            out.posterior[static_cast<std::size_t>(h)].assign(
                static_cast<std::size_t>(
                    network.GetNode(h)->GetDefinition()->GetNumberOfOutcomes()),
                0.0);
        double total = 0.0;
        for (bool more = true; more;) {
            double w = 1.0;
            for (int h : members) {
                const QNL_Dmatrix* table = network.GetNode(h)->GetDefinition()->GetMatrix();
                const QNL_intArray& parents = network.GetParents(h);
                int cell =
                    x[static_cast<std::size_t>(h)] * table->GetMultiplier(parents.GetCount());
                for (int i = 0; i < parents.GetCount(); ++i)
                    cell += x[static_cast<std::size_t>(parents[i])] * table->GetMultiplier(i);
                w *= table->Subscript(cell);
            }
            total += w;
            for (int h : free)
                out.posterior[static_cast<std::size_t>(h)]
                             [static_cast<std::size_t>(x[static_cast<std::size_t>(h)])] += w;
            more = false;
            for (int h : free) {
                int& at = x[static_cast<std::size_t>(h)];
                if (++at < network.GetNode(h)->GetDefinition()->GetNumberOfOutcomes()) {
                    more = true;
                    break;
                }
                at = 0;
            }
        }
        out.possible[static_cast<std::size_t>(part)] = total > 0.0;
        for (int h : free)
            for (double& p : out.posterior[static_cast<std::size_t>(h)])
                p = total > 0.0 ? p / total : 0.0;
    }
    return out;
}

} // namespace

// Findings that no outcome of a hidden node meets together, where entry cannot see it (each
// rules out another outcome), take the meaning from the posteriors of their part of the
// network and of nothing else. Random networks, every other one thinned to a forest, with
// zeros in their tables and findings at random outcomes: under every exact algorithm a node
// is valid exactly when the evidence of its part is possible, and then holds its posterior.
TEST(ContradictoryEvidenceTest, ImpossibleEvidenceLeavesNotValidOnlyThePartItBelongsTo) {
    const int exact[] = {QNL_ALG_BN_CLUSTERING, QNL_ALG_BN_POLYTREE,
                         QNL_ALG_BN_ELIMINATION_JOIN_TREE, QNL_ALG_BN_RELEVANCE_DECOMPOSITION,
                         QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED};
    int impossibleParts = 0, possibleBeside = 0, polytrees = 0;
    for (int round : quarn_test::RoundsUpTo(1000)) {
        SCOPED_TRACE("round " + std::to_string(round));
        quarn_test::TestRandom random(8800 + static_cast<std::uint64_t>(round));
        QNL_network network;
        std::vector<int> handles;
        const int nodes = 5 + round % 8;
        for (int i = 0; i < nodes; ++i) {
            const int h = network.AddNode(QNL_TYPE_CPT, ("N" + std::to_string(i)).c_str());
            ASSERT_GE(h, 0);
            ASSERT_EQ(network.GetNode(h)->GetDefinition()->SetNumberOfOutcomes(
                          i < 2 || random.Below(2) ? 3 : 2),
                      0);
            // Most nodes hang below the first or the second, where findings meet.
            for (int k = 0; k < std::min(i, 1 + random.Below(2)); ++k) {
                const int pick = random.Below(2) ? random.Below(std::min(i, 2)) : random.Below(i);
                const int parent = handles[static_cast<std::size_t>(pick)];
                if (!network.GetParents(h).IsInList(parent)) {
                    ASSERT_EQ(network.AddArc(parent, h), 0);
                }
            }
            handles.push_back(h);
        }
        if (round % 2 == 0) quarn_test::ThinToForest(network);
        for (int h : handles) {
            QNL_nodeDefinition* definition = network.GetNode(h)->GetDefinition();
            const std::size_t n = static_cast<std::size_t>(definition->GetNumberOfOutcomes());
            std::vector<double> table(static_cast<std::size_t>(definition->GetMatrix()->GetSize()));
            for (std::size_t column = 0; column < table.size(); column += n) {
                // Half the cells 0, but one outcome of each column left possible.
                const std::size_t kept =
                    static_cast<std::size_t>(random.Below(static_cast<int>(n)));
                double sum = 0.0;
                for (std::size_t k = 0; k < n; ++k)
                    sum += table[column + k] =
                        k != kept && random.Below(2) == 0 ? 0.0 : 0.1 + random.Uniform();
                for (std::size_t k = 0; k < n; ++k)
                    table[column + k] /= sum;
            }
            ASSERT_EQ(definition->SetDefinition(quarn_test::ArrayOf(table)), 0);
        }
        for (int h : handles)
            if (random.Below(5) < 3)
                ValueOf(network, h)
                    .SetEvidence(
                        random.Below(network.GetNode(h)->GetDefinition()->GetNumberOfOutcomes()));
        QNL_errorHandler::Instance().Flush();
        const PartEnumeration truth = EnumerateParts(network);
        bool anyImpossible = false, anyPossible = false;
        for (int h : handles) {
            if (ValueOf(network, h).IsObserved()) continue;
            const bool possible =
                truth.possible[static_cast<std::size_t>(truth.partOf[static_cast<std::size_t>(h)])];
            anyImpossible = anyImpossible || !possible;
            anyPossible = anyPossible || possible;
        }
        impossibleParts += anyImpossible;
        possibleBeside += anyImpossible && anyPossible;
        polytrees += network.IsPolytree() == 1;
        for (int algorithm : exact) {
            if (algorithm == QNL_ALG_BN_POLYTREE && network.IsPolytree() != 1) continue;
            const std::string where = "algorithm " + std::to_string(algorithm);
            network.SetDefaultBNAlgorithm(algorithm);
            network.InvalidateValues();
            ASSERT_EQ(network.UpdateBeliefs(), 0) << where;
            for (int h : handles) {
                if (ValueOf(network, h).IsObserved()) continue;
                const std::string node = where + " node " + std::to_string(h);
                const bool possible = truth.possible[static_cast<std::size_t>(
                    truth.partOf[static_cast<std::size_t>(h)])];
                ASSERT_EQ(ValueOf(network, h).IsValueValid(), possible) << node;
                if (possible)
                    quarn_test::ExpectNear(quarn_test::Beliefs(network, h),
                                           truth.posterior[static_cast<std::size_t>(h)], 1e-9,
                                           node);
            }
        }
    }
    // The mix the test is about: impossible parts, many of them beside possible ones.
    EXPECT_GT(impossibleParts, 45);
    EXPECT_GT(possibleBeside, 15);
    EXPECT_GT(polytrees, 250);
}
