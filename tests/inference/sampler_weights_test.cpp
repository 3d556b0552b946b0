#include "inference/sampling_core.h"

#include "inference/bayesian_algorithms.h"

#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "support/beliefs.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using quarn_test::AddBinaryNode;
using quarn_test::Beliefs;
using quarn_test::ValueOf;

const int kWeightedIds[] = {
    QNL_ALG_BN_LIKELIHOOD_WEIGHTING,       QNL_ALG_BN_IMPORTANCE_SAMPLING,
    QNL_ALG_BN_LIKELIHOOD_WEIGHTING_ALIAS, QNL_ALG_BN_BACKWARD_SAMPLING,
    QNL_ALG_BN_ADAPTIVE_IMPORTANCE,        QNL_ALG_BN_PROPAGATED_IMPORTANCE};

class SamplerWeightsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNL_errorHandler::Instance().Flush();
        quarn::detail::SetAdaptiveSamplerSeed(4242);
    }
    void TearDown() override {
        quarn::detail::SetAdaptiveSamplerSeed(0);
        QNL_errorHandler::Instance().Flush();
    }

    static int Run(QNL_network& network, int id, int samples) {
        network.SetDefaultBNAlgorithm(id);
        network.SetNumberOfSamples(samples);
        QNL_samplingRandom().Seed(7);
        return network.UpdateBeliefs();
    }
};

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
TEST_F(SamplerWeightsTest, ManyFindingsOfModestLikelihoodStillGiveEstimates) {
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
TEST_F(SamplerWeightsTest, EvidenceOfProbabilityZeroAmongManyFindingsStillFails) {
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
