#include "definitions/node_value.h"
#include "inference/annealed_map.h"
#include "inference/join_tree_cache.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/hidden_chain.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_diagram.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using namespace quarn_test;

namespace {

std::vector<std::pair<int, int>> EvidenceOf(QNL_network& net) {
    std::vector<std::pair<int, int>> out;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_nodeValue* v = net.GetNode(h)->GetValue();
        if (v->IsObserved()) out.emplace_back(h, v->GetEvidence());
    }
    return out;
}

using AnnealedMapTest = NetworkFixture;

// The returned probability is the exact P(assignment | e); the optimum is found on nearly
// every network; one seed gives one result; the caller's network keeps its evidence alone.
TEST_F(AnnealedMapTest, RandomNetworksAgainstEnumeration) {
    int cases = 0, optimal = 0;
    for (int round = 0; round < 60; ++round) {
        QNL_network n;
        RandomNetworkSpec spec = RoundSpec(9100, round);
        spec.nodes = std::max(spec.nodes, 4);
        const std::vector<int> nodes = BuildRandomNetwork(n, spec);
        const std::vector<int> observed = SetPossibleEvidence(n, spec.seed, round % 3);
        std::vector<int> map;
        for (int h : nodes)
            if (std::find(observed.begin(), observed.end(), h) == observed.end() &&
                map.size() < static_cast<std::size_t>(1 + round % 5))
                map.push_back(h);
        const auto evidence = EvidenceOf(n);
        std::vector<int> outcomes, again;
        double p = 0, pe = 0, p2 = 0, pe2 = 0;
        ASSERT_EQ(n.AnnealedMAP(evidence, map, outcomes, p, pe, round + 1), 0) << LastMessage();
        ASSERT_EQ(n.AnnealedMAP(evidence, map, again, p2, pe2, round + 1), 0);
        EXPECT_EQ(outcomes, again);
        EXPECT_EQ(p, p2);
        EXPECT_EQ(EvidenceOf(n), evidence) << "the caller's network is left alone";

        const Enumeration e = Enumerate(n, map);
        ASSERT_TRUE(e.ok) << e.error;
        EXPECT_NEAR(pe, e.probabilityOfEvidence, 1e-9);
        std::size_t index = 0;
        for (std::size_t i = 0; i < map.size(); ++i) {
            const int count = n.GetNode(map[i])->GetDefinition()->GetNumberOfOutcomes();
            ASSERT_LT(outcomes[i], count);
            index = index * static_cast<std::size_t>(count) + static_cast<std::size_t>(outcomes[i]);
        }
        EXPECT_NEAR(p, e.joint[index], 1e-9) << "round " << round;
        const double best = *std::max_element(e.joint.begin(), e.joint.end());
        ++cases;
        if (e.joint[index] >= best - 1e-12) ++optimal;
    }
    EXPECT_GE(optimal * 100, cases * 95) << optimal << " of " << cases;
}

// A (0.55, 0.45) -> B with P(B | A=0) = (0.6, 0.4, 0) and P(B | A=1) = (0.05, 0.15, 0.8):
// the MAP is B=2, A=1 at 0.36, reached from the greedy start B=0, A=0 only through A=1. B=2
// entered while A still holds an earlier 0 is refused as impossible: whatever the seed, the
// search must end on the MAP and report its own probability.
TEST_F(AnnealedMapTest, ExactZerosNeverMeetAnotherNodesOldOutcome) {
    struct Case {
        const char* label;
        bool withC;
        std::vector<const char*> map;
        std::vector<int> expected;
        double probability;
    };
    const std::vector<Case> cases = {
        {"B, A", false, {"B", "A"}, {2, 1}, 0.36},
        {"B, C, A with C independent", true, {"B", "C", "A"}, {2, 1, 1}, 0.36 * 0.7},
    };
    for (const Case& c : cases) {
        QNL_network n;
        const int a = AddDefined(n, QNL_TYPE_CPT, "A", {}, {0.55, 0.45});
        AddDefined(n, QNL_TYPE_CPT, "B", {a}, {0.6, 0.4, 0.0, 0.05, 0.15, 0.8}, 3);
        if (c.withC) AddDefined(n, QNL_TYPE_CPT, "C", {}, {0.3, 0.7});
        std::vector<int> map;
        for (const char* id : c.map)
            map.push_back(n.FindNode(id));
        for (int seed = 1; seed <= 8; ++seed) {
            std::vector<int> outcomes;
            double p = 0, pe = 0;
            ASSERT_EQ(n.AnnealedMAP({}, map, outcomes, p, pe, seed), 0)
                << c.label << " seed " << seed << ": " << LastMessage();
            EXPECT_EQ(outcomes, c.expected) << c.label << " seed " << seed;
            EXPECT_NEAR(p, c.probability, 1e-12) << c.label << " seed " << seed;
            EXPECT_DOUBLE_EQ(pe, 1.0);
        }
    }
}

// Tables with exact zeros make many single changes of an assignment impossible. Whatever the
// MAP list's order and the evidence, a query with possible evidence succeeds and reports the
// exact probability of the assignment it returns.
TEST_F(AnnealedMapTest, TablesWithExactZerosAgainstEnumeration) {
    int cases = 0, optimal = 0;
    for (int round : RoundsUpTo(120)) {
        QNL_network n;
        RandomNetworkSpec spec = RoundSpec(5600, round);
        spec.nodes = 3 + round % 5;
        spec.maxOutcomes = 3;
        const std::vector<int> nodes = BuildRandomNetwork(n, spec);
        TestRandom random(spec.seed);
        for (int h : nodes) {
            QNL_nodeDefinition* definition = n.GetNode(h)->GetDefinition();
            const int size = definition->GetMatrix()->GetSize();
            const int count = definition->GetNumberOfOutcomes();
            ASSERT_EQ(definition->SetDefinition(ArrayOf(RandomColumns(random, size, count))), 0);
        }
        SetPossibleEvidence(n, spec.seed, round % 3);
        // Findings and what they imply.
        const auto evidence = EvidenceOf(n);
        std::vector<int> map;
        for (int h : nodes)
            if (std::none_of(evidence.begin(), evidence.end(),
                             [h](const std::pair<int, int>& e) { return e.first == h; }))
                map.push_back(h);
        if (map.empty()) continue;
        for (std::size_t i = map.size(); i > 1; --i)
            std::swap(map[i - 1], map[static_cast<std::size_t>(random.Below(static_cast<int>(i)))]);
        map.resize(1 + static_cast<std::size_t>(random.Below(static_cast<int>(map.size()))));

        std::vector<int> outcomes;
        double p = 0, pe = 0;
        ASSERT_EQ(n.AnnealedMAP(evidence, map, outcomes, p, pe, round + 1), 0)
            << "round " << round << ": " << LastMessage();
        const Enumeration e = Enumerate(n, map);
        ASSERT_TRUE(e.ok) << e.error;
        EXPECT_NEAR(pe, e.probabilityOfEvidence, 1e-12 * e.probabilityOfEvidence);
        std::size_t index = 0;
        for (std::size_t i = 0; i < map.size(); ++i) {
            const int count = n.GetNode(map[i])->GetDefinition()->GetNumberOfOutcomes();
            ASSERT_LT(outcomes[i], count);
            index = index * static_cast<std::size_t>(count) + static_cast<std::size_t>(outcomes[i]);
        }
        EXPECT_GT(e.joint[index], 0.0) << "round " << round;
        EXPECT_NEAR(p, e.joint[index], 1e-12 * e.joint[index]) << "round " << round;
        // The greedy start alone finds a single node's MAP; a move through zeros may need two
        // nodes to change at once, which single changes can't do, so a few larger lists miss.
        const double best = *std::max_element(e.joint.begin(), e.joint.end());
        const bool found = e.joint[index] >= best * (1 - 1e-12);
        EXPECT_TRUE(found || map.size() > 1) << "round " << round;
        ++cases;
        if (found) ++optimal;
    }
    EXPECT_GE(optimal * 100, cases * 95) << optimal << " of " << cases;
}

TEST_F(AnnealedMapTest, SingleNodeMakesTwentyOnePassesWithTwoReheats) {
    const Sprinkler s = BuildSprinkler(net);
    QNL_network copy(net);
    QNL_annealedMAP search;
    std::vector<int> assignment{0};
    double p = 0, pe = 0;
    ASSERT_EQ(search.Run(copy, {s.rain}, assignment, {s.wetGrass}, {0}, p, pe, 3,
                         net.GetAnnealedMapTuning()),
              0);
    EXPECT_EQ(assignment, std::vector<int>{0});
    EXPECT_EQ(search.GetPassCount(), 21);
    EXPECT_EQ(search.GetReheatPasses(), (std::vector<int>{10, 20}));
}

// Every step revisits one of a few (observed, target) pairs, so the join trees are compiled
// a bounded number of times however many passes the search makes.
TEST_F(AnnealedMapTest, CompilationsDoNotGrowWithThePasses) {
    RandomNetworkSpec spec = RoundSpec(4400, 4);
    spec.nodes = 14;
    const std::vector<int> nodes = BuildRandomNetwork(net, spec);
    const std::vector<int> map(nodes.begin() + 2, nodes.begin() + 7);
    QNL_annealedMapTuning tuning = net.GetAnnealedMapTuning();
    tuning.numCycle = 3;
    QNL_annealedMAP search;
    std::vector<int> assignment(map.size(), 0);
    double p = 0, pe = 0;
    QNL_network copy(net);
    ASSERT_EQ(search.Run(copy, map, assignment, {nodes[13]}, {0}, p, pe, 5, tuning), 0);
    EXPECT_GT(search.GetCompilationCount(), 0u);
    EXPECT_LE(search.GetCompilationCount(), 2 * map.size() + 2);
    EXPECT_GT(search.GetUpdateCount(), 10 * search.GetCompilationCount());
}

// The steps are made in the network the search is given, whose cache keeps their trees: no
// network is copied per MAP node, so the memory does not grow with their number. Every tree
// the search compiled is one of the given network's.
TEST_F(AnnealedMapTest, StepsAreMadeInTheGivenNetworkAlone) {
    for (const std::size_t mapNodes : {3u, 12u}) {
        QNL_network n;
        RandomNetworkSpec spec = RoundSpec(4400, 7);
        spec.nodes = 16;
        const std::vector<int> nodes = BuildRandomNetwork(n, spec);
        const std::vector<int> map(nodes.begin(), nodes.begin() + mapNodes);
        QNL_annealedMAP search;
        std::vector<int> assignment(map.size(), 0);
        double p = 0, pe = 0;
        QNL_network copy(n);
        const std::uint64_t before = copy.GetJoinTreeCache().GetBuildCount();
        ASSERT_EQ(
            search.Run(copy, map, assignment, {nodes[15]}, {0}, p, pe, 2, n.GetAnnealedMapTuning()),
            0)
            << LastMessage();
        EXPECT_GT(search.GetUpdateCount(), 20 * mapNodes);
        EXPECT_EQ(copy.GetJoinTreeCache().GetBuildCount() - before, search.GetCompilationCount())
            << mapNodes << " MAP nodes";
    }
}

// A step withdraws and enters again only its own MAP node's outcome, and the update that
// follows starts afresh: changing it walks nothing, whatever the size of the network (a band
// of 2n nodes, the n even ones MAP nodes, a finding on the last).
TEST_F(AnnealedMapTest, StepsEnterOutcomesWithoutWalkingTheNetwork) {
    for (const int n : {6, 24}) {
        QNL_network band;
        std::vector<int> h, map;
        for (int i = 0; i < 2 * n; ++i) {
            std::vector<int> parents;
            for (int back : {1, 2})
                if (i >= back) parents.push_back(h[static_cast<std::size_t>(i - back)]);
            std::vector<double> pTrue(std::size_t{1} << parents.size());
            for (std::size_t k = 0; k < pTrue.size(); ++k)
                pTrue[k] =
                    0.2 + 0.6 * static_cast<double>((k * 7 + static_cast<std::size_t>(i)) % 5) / 4;
            h.push_back(AddBinaryNode(band, ("n" + std::to_string(i)).c_str(), parents, pTrue));
            if (i % 2 == 0) map.push_back(h.back());
        }
        QNL_annealedMAP search;
        std::vector<int> assignment(map.size(), 0);
        double p = 0, pe = 0;
        QNL_network copy(band);
        ASSERT_EQ(search.Run(copy, map, assignment, {h.back()}, {0}, p, pe, 9,
                             band.GetAnnealedMapTuning()),
                  0);
        EXPECT_GT(search.GetUpdateCount(), 20u * map.size());
        EXPECT_EQ(search.GetEvidenceWork(), 0u) << n << " MAP nodes";
    }
}

TEST_F(AnnealedMapTest, RefusedBeforeTheSearch) {
    const Sprinkler s = BuildSprinkler(net);
    // Findings on B and C each leave the hidden A two outcomes, and the one they share has
    // probability 0: no finding's own table shows it as it is entered.
    const int a = AddWithOutcomes(QNL_TYPE_CPT, "A", 3);
    ASSERT_EQ(Def(a)->SetDefinition(ArrayOf({0.5, 0.5, 0.0})), 0);
    const int left = AddBinaryNode(net, "B", {a}, {0.5, 0.0, 0.5});
    const int right = AddBinaryNode(net, "C", {a}, {0.0, 0.5, 0.5});
    struct Case {
        std::vector<std::pair<int, int>> evidence;
        std::vector<int> map;
        const char* message;
        int code = -2;
    };
    const std::vector<Case> cases = {
        {{}, {s.rain, 42}, "Annealed MAP: invalid node handle 42"},
        {{}, {s.rain, s.rain}, "Annealed MAP: node Rain is listed twice"},
        {{{s.rain, 0}}, {s.rain}, "Annealed MAP: node Rain holds evidence"},
        {{{s.rain, 0}, {s.rain, 1}},
         {s.cloudy},
         "Annealed MAP: evidence node Rain is listed twice"},
        {{{s.rain, 1}, {s.wetGrass, 0}, {s.rain, 1}},
         {s.cloudy},
         "Annealed MAP: evidence node Rain is listed twice"},
        // WetGrass is impossible when neither the sprinkler nor the rain is on: the last of
        // the three findings is refused as it is entered.
        {{{s.wetGrass, 0}, {s.sprinkler, 1}, {s.rain, 1}},
         {s.cloudy},
         "Annealed MAP: can't set evidence on node Rain",
         -26},
        {{{left, 0}, {right, 0}}, {s.cloudy}, "Annealed MAP: the evidence has probability 0"},
    };
    for (const Case& c : cases) {
        std::vector<int> outcomes;
        double p = -1, pe = -1;
        EXPECT_EQ(net.AnnealedMAP(c.evidence, c.map, outcomes, p, pe, 1), c.code) << c.message;
        EXPECT_EQ(LastMessage(), c.message);
        EXPECT_TRUE(outcomes.empty());
    }
}

// log10 P(findings, hidden nodes at `clamp` (-1: free)) of a one-row chain, by the forward
// recursion normalised at each step, the normalisers summed as logarithms.
double Log10Joint(const ChainSpec& spec, const std::vector<int>& clamp) {
    const auto states = static_cast<std::size_t>(spec.states);
    const std::size_t findings = spec.emission.size() / states;
    std::vector<double> alpha(states), next(states);
    long double log10 = 0.0L;
    for (int t = 0; t < spec.steps; ++t) {
        double total = 0.0;
        for (std::size_t k = 0; k < states; ++k) {
            double prior = t == 0 ? spec.first[k] : 0.0;
            for (std::size_t j = 0; j < states && t > 0; ++j)
                prior += alpha[j] * spec.along[j * states + k];
            const int held = clamp[static_cast<std::size_t>(t)];
            const auto seen = static_cast<std::size_t>(spec.finding(0, t));
            next[k] = held < 0 || held == static_cast<int>(k)
                          ? prior * spec.emission[k * findings + seen]
                          : 0.0;
            total += next[k];
        }
        if (!(total > 0.0)) return -HUGE_VAL;
        for (std::size_t k = 0; k < states; ++k)
            alpha[k] = next[k] / total;
        log10 += std::log10(static_cast<long double>(total));
    }
    return static_cast<double>(log10);
}

} // namespace

// A -> B, where A alone favours 0 but A = 1, B = 0 is the MAP (0.396 against 0.056 for the
// greedy start A = 0, B = 0), beside independent roots of 100 outcomes whose best (0.0109)
// the start already takes. With 170 roots every probability of the search is below the
// smallest double: the search must still leave the trap and report the MAP's size.
TEST_F(AnnealedMapTest, GreedyTrapIsLeftWhenTheProbabilitiesUnderflow) {
    constexpr double kBest = 0.0109;
    for (const int roots : {20, 170}) {
        SCOPED_TRACE(std::to_string(roots) + " roots");
        QNL_network n;
        const int a = AddDefined(n, QNL_TYPE_CPT, "A", {}, {0.56, 0.44});
        std::vector<double> b(20, 0.1);
        b[10] = 0.9;
        std::fill(b.begin() + 11, b.end(), 0.1 / 9);
        std::vector<int> map = {a, AddDefined(n, QNL_TYPE_CPT, "B", {a}, b, 10)};
        std::vector<double> root(100, (1 - kBest) / 99);
        root[37] = kBest;
        for (int r = 0; r < roots; ++r)
            map.push_back(
                AddDefined(n, QNL_TYPE_CPT, ("R" + std::to_string(r)).c_str(), {}, root, 100));
        QNL_errorHandler::Instance().Flush();
        std::vector<int> outcomes;
        double p = -1, pe = -1;
        ASSERT_EQ(n.AnnealedMAP({}, map, outcomes, p, pe, 3), 0) << LastMessage();
        std::vector<int> expected(map.size(), 37);
        expected[0] = 1;
        expected[1] = 0;
        EXPECT_EQ(outcomes, expected);
        EXPECT_EQ(pe, 1.0);
        const double log10Map = std::log10(0.396) + roots * std::log10(kBest);
        const std::vector<std::string> messages = Messages();
        if (log10Map > -300) {
            EXPECT_NEAR(p, std::pow(10.0, log10Map), std::pow(10.0, log10Map) * 1e-9);
            EXPECT_TRUE(messages.empty()) << messages.front();
            continue;
        }
        EXPECT_EQ(p, 0.0);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind("-2 Annealed MAP: probability of the assignment given the "
                                    "evidence underflowed: ",
                                    0),
                  0u)
            << messages[0];
        EXPECT_NEAR(LoggedLog10(messages[0]), log10Map, 0.005) << messages[0];
    }
}

// Hidden chains with a rare finding at every step. On 160 steps, every hidden node a MAP
// node, the evidence (1e-304) is a double but the joint of the evidence and an assignment is
// not; on 2,000 steps, every 400th hidden node a MAP node, the evidence is not either (about
// 1e-3800). Both are searched, P(assignment | evidence) is exact against the forward recursion
// in log space, and the evidence is returned, or logged with its size.
TEST_F(AnnealedMapTest, AssignmentAndEvidenceBelowTheSmallestDouble) {
    const struct {
        const char* label;
        int steps;
        int every;
    } cases[] = {
        {"the joint below the doubles", 160, 1},
        {"the evidence below the doubles", 2000, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ChainSpec spec;
        spec.steps = c.steps;
        spec.first = {0.5, 0.5};
        spec.along = {0.6, 0.4, 0.4, 0.6};
        spec.emission = {0.99, 0.01, 0.985, 0.015};
        spec.finding = [](int, int) { return 1; };
        QNL_network n;
        const ChainHandles h = BuildChains(n, spec);
        std::vector<int> map;
        for (int t = 0; t < c.steps; t += c.every)
            map.push_back(h.hidden[0][static_cast<std::size_t>(t)]);
        QNL_errorHandler::Instance().Flush();
        std::vector<int> outcomes;
        double p = -1, pe = -1;
        ASSERT_EQ(n.AnnealedMAP(EvidenceOf(n), map, outcomes, p, pe, 5), 0) << LastMessage();
        ASSERT_EQ(outcomes.size(), map.size());

        const std::vector<int> free(static_cast<std::size_t>(c.steps), -1);
        const double log10Evidence = Log10Joint(spec, free);
        std::vector<int> clamp = free;
        for (std::size_t i = 0; i < map.size(); ++i)
            clamp[i * static_cast<std::size_t>(c.every)] = outcomes[i];
        const double exact = std::pow(10.0, Log10Joint(spec, clamp) - log10Evidence);
        ASSERT_GT(exact, 1e-300);
        EXPECT_NEAR(p, exact, exact * 1e-9);
        const std::vector<std::string> messages = Messages();
        if (log10Evidence > -307) {
            EXPECT_NEAR(pe, std::pow(10.0, log10Evidence), std::pow(10.0, log10Evidence) * 1e-9);
            EXPECT_TRUE(messages.empty()) << messages.front();
            continue;
        }
        EXPECT_EQ(pe, 0.0);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind("-2 Probability of evidence underflowed: ", 0), 0u)
            << messages[0];
        EXPECT_NEAR(LoggedLog10(messages[0]), log10Evidence, 0.005) << messages[0];
        // Five far-apart nodes: the search finds the best of their 32 assignments.
        double bestLog10 = -HUGE_VAL;
        for (std::size_t bits = 0; bits < (std::size_t{1} << map.size()); ++bits) {
            for (std::size_t i = 0; i < map.size(); ++i)
                clamp[i * static_cast<std::size_t>(c.every)] = static_cast<int>((bits >> i) & 1);
            bestLog10 = std::max(bestLog10, Log10Joint(spec, clamp) - log10Evidence);
        }
        EXPECT_NEAR(std::log10(p), bestLog10, 1e-12);
    }
}

namespace {

// D1 (decision) -> X <- C, X -> E, the utility U over (X, D1); D2 (decision) -> Y, the utility
// U2 over (Y, D2). X has three outcomes.
struct TwoDecisions {
    int d1, c, x, e, u, d2, y, u2;
};

const std::vector<double> kC = {0.35, 0.65};
// X given (D1, C), X last.
const std::vector<double> kX = {0.5, 0.3, 0.2, 0.1, 0.6, 0.3, 0.7, 0.2, 0.1, 0.05, 0.15, 0.8};
const std::vector<double> kE = {0.9, 0.1, 0.4, 0.6, 0.25, 0.75};

TwoDecisions BuildTwoDecisions(QNL_network& n) {
    TwoDecisions t{};
    t.d1 = AddDefined(n, QNL_TYPE_LIST, "D1", {});
    t.c = AddDefined(n, QNL_TYPE_CPT, "C", {}, kC);
    t.x = AddDefined(n, QNL_TYPE_CPT, "X", {t.d1, t.c}, kX, 3);
    t.e = AddDefined(n, QNL_TYPE_CPT, "E", {t.x}, kE);
    t.u = AddDefined(n, QNL_TYPE_TABLE, "U", {t.x, t.d1}, {1, 2, 3, 4, 5, 6});
    t.d2 = AddDefined(n, QNL_TYPE_LIST, "D2", {});
    t.y = AddDefined(n, QNL_TYPE_CPT, "Y", {t.d2}, {0.2, 0.8, 0.6, 0.4});
    t.u2 = AddDefined(n, QNL_TYPE_TABLE, "U2", {t.y, t.d2}, {7, -1, 0, 2});
    return t;
}

} // namespace

// A decision has no distribution: neither it nor what lies below it while it is not set has
// a probability, and a utility has no outcomes.
TEST_F(AnnealedMapTest, DecisionsAndUtilitiesAreRefused) {
    const TwoDecisions t = BuildTwoDecisions(net);
    struct Case {
        std::vector<std::pair<int, int>> evidence;
        std::vector<int> map;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{}, {t.d1}, "Annealed MAP: node D1 is a decision node"},
        {{}, {t.c, t.d1}, "Annealed MAP: node D1 is a decision node"},
        {{{t.d1, 1}}, {t.c, t.d1}, "Annealed MAP: node D1 is a decision node"},
        {{}, {t.u}, "Annealed MAP: node U is a utility node"},
        {{}, {t.x}, "Annealed MAP: node X depends on the decision D1, which is not set"},
        {{{t.d2, 0}}, {t.e}, "Annealed MAP: node E depends on the decision D1, which is not set"},
        {{{t.e, 0}},
         {t.c},
         "Annealed MAP: evidence node E depends on the decision D1, which is not set"},
        {{{t.d1, 0}}, {t.y}, "Annealed MAP: node Y depends on the decision D2, which is not set"},
    };
    for (const Case& c : cases) {
        std::vector<int> outcomes;
        double p = -1, pe = -1;
        EXPECT_EQ(net.AnnealedMAP(c.evidence, c.map, outcomes, p, pe, 1), -2) << c.message;
        EXPECT_EQ(LastMessage(), c.message);
        EXPECT_TRUE(outcomes.empty());
        EXPECT_EQ(p, -1);
        QNL_errorHandler::Instance().Flush();
    }
}

// With its decisions set, a diagram is searched as the Bayesian network they make of it:
// here C -> X -> E with X's table the slice of D1's outcome, enumerated. A decision that
// reaches no MAP or evidence node may stay unset.
TEST_F(AnnealedMapTest, SetDecisionsAreSearchedAsTheirBayesianNetwork) {
    const TwoDecisions t = BuildTwoDecisions(net);
    for (int chosen = 0; chosen < 2; ++chosen) {
        for (int finding = 0; finding < 2; ++finding) {
            QNL_network oracle;
            const int c = AddDefined(oracle, QNL_TYPE_CPT, "C", {}, kC);
            const std::vector<double> slice(kX.begin() + 6 * chosen, kX.begin() + 6 * chosen + 6);
            const int x = AddDefined(oracle, QNL_TYPE_CPT, "X", {c}, slice, 3);
            const int e = AddDefined(oracle, QNL_TYPE_CPT, "E", {x}, kE);
            ASSERT_EQ(oracle.GetNode(e)->GetValue()->SetEvidence(finding), 0);
            const Enumeration expected = Enumerate(oracle, {c, x});
            ASSERT_TRUE(expected.ok) << expected.error;
            const auto best = std::max_element(expected.joint.begin(), expected.joint.end());
            const int index = static_cast<int>(best - expected.joint.begin());

            std::vector<int> outcomes;
            double p = -1, pe = -1;
            ASSERT_EQ(
                net.AnnealedMAP({{t.d1, chosen}, {t.e, finding}}, {t.c, t.x}, outcomes, p, pe, 7),
                0)
                << LastMessage();
            EXPECT_EQ(outcomes, (std::vector<int>{index / 3, index % 3}));
            EXPECT_NEAR(p, *best, 1e-12);
            EXPECT_NEAR(pe, expected.probabilityOfEvidence, 1e-12);
        }
    }
}
