#include "inference/bayesian_algorithms.h"

#include "definitions/node_value.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "support/beliefs.h"
#include "support/hidden_chain.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

// Thousands of ordinary findings in one connected part take the probability of the evidence
// far below the smallest double; every exact algorithm must still give every belief, and the
// probability of the evidence must say when it underflows.
namespace {

using quarn_test::ChainHandles;
using quarn_test::ChainPosterior;
using quarn_test::ChainSpec;

const int kExact[] = {QNL_ALG_BN_CLUSTERING, QNL_ALG_BN_ELIMINATION_JOIN_TREE,
                      QNL_ALG_BN_RELEVANCE_DECOMPOSITION,
                      QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED};

// A hidden node's beliefs at a step: its own value, or its slice's row of a plate value.
std::vector<double> BeliefsAt(QNL_network& network, int handle, int step, bool dynamic) {
    const QNL_nodeValue& value = quarn_test::ValueOf(network, handle);
    if (!value.IsValueValid()) return {};
    const std::vector<double> all = quarn_test::Beliefs(network, handle);
    if (!dynamic) return all;
    const int states = network.GetNode(handle)->GetDefinition()->GetNumberOfOutcomes();
    const auto row = all.begin() + static_cast<std::ptrdiff_t>(step) * states;
    return std::vector<double>(row, row + states);
}

// Runs the algorithm and expects every hidden node at every step to hold `truth`'s beliefs.
void ExpectChainBeliefs(QNL_network& network, const ChainHandles& h, const ChainSpec& spec,
                        bool dynamic, int algorithm, const ChainPosterior& truth) {
    SCOPED_TRACE("algorithm " + std::to_string(algorithm));
    network.SetDefaultBNAlgorithm(algorithm);
    network.InvalidateValues();
    ASSERT_EQ(network.UpdateBeliefs(), 0);
    int wrong = 0;
    for (int r = 0; r < spec.rows && wrong < 5; ++r)
        for (int t = 0; t < spec.steps && wrong < 5; ++t) {
            const int handle = h.hidden[static_cast<std::size_t>(r)][dynamic ? 0 : t];
            const std::vector<double> got = BeliefsAt(network, handle, t, dynamic);
            const std::vector<double>& want =
                truth.hidden[static_cast<std::size_t>(r)][static_cast<std::size_t>(t)];
            bool near = got.size() == want.size();
            for (std::size_t k = 0; near && k < want.size(); ++k)
                near = std::fabs(got[k] - want[k]) <= 1e-9;
            if (near) continue;
            ++wrong;
            ADD_FAILURE() << "row " << r << " step " << t << ": "
                          << (got.empty() ? "not valid" : "got " + std::to_string(got[0]))
                          << ", want " << want[0];
        }
}

// The hidden nodes are the targets: the decomposition then solves them in one batch instead of
// one batch after another of findings, which no tree writes.
void TargetHidden(QNL_network& network, const ChainHandles& h) {
    for (const std::vector<int>& row : h.hidden)
        for (int handle : row)
            ASSERT_EQ(network.SetTarget(handle), 0);
}

} // namespace

// A hidden Markov model of 2,100 steps as a Bayesian network (the evidence about 1e-743), three
// such chains coupled step by step (a grid of 1,200 findings), and the three chains as a
// dynamic network of 420 slices: every exact algorithm gives what the forward-backward
// recursion gives, and so does the polytree algorithm where the network is a polytree.
TEST(LongEvidenceTest, ThousandsOfFindingsLeaveEveryBeliefOfEveryExactAlgorithm) {
    const struct {
        const char* label;
        int rows, steps;
        bool dynamic;
    } cases[] = {
        {"hidden chain", 1, 2100, false},
        {"three coupled chains", 3, 400, false},
        {"dynamic network", 3, 420, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const ChainSpec spec = quarn_test::AlternatingChains(c.rows, c.steps);
        QNL_network network;
        const ChainHandles h = c.dynamic ? quarn_test::BuildDynamicChains(network, spec)
                                         : quarn_test::BuildChains(network, spec);
        const ChainPosterior truth = quarn_test::ForwardBackward(spec);
        ASSERT_LT(truth.log2Evidence, -1100.0L);
        TargetHidden(network, h);
        if (c.rows == 1)
            ExpectChainBeliefs(network, h, spec, c.dynamic, QNL_ALG_BN_POLYTREE, truth);
        for (int algorithm : kExact)
            ExpectChainBeliefs(network, h, spec, c.dynamic, algorithm, truth);
    }
}

// A class node with 3,000 observed children: every message meets in one clique. Each finding
// is picked to pull the log odds back towards 0, so the posterior stays far from 0 and 1 while
// the evidence falls to about 1e-1100; the posterior is the prior times the likelihoods,
// summed in logarithms.
TEST(LongEvidenceTest, OneNodeWithThousandsOfObservedChildrenKeepsItsBelief) {
    QNL_network network;
    const int hidden = quarn_test::AddBinaryNode(network, "C", {}, {0.4});
    const double pTrue[2] = {0.8, 0.3};
    double logOdds = std::log(0.4 / 0.6);
    std::vector<int> children;
    for (int i = 0; i < 3000; ++i)
        children.push_back(quarn_test::AddBinaryNode(network, ("F" + std::to_string(i)).c_str(),
                                                     {hidden}, {pTrue[0], pTrue[1]}));
    {
        const QNL_evidenceBatch batch(network);
        for (int child : children) {
            const int outcome = logOdds > 0.0 ? 1 : 0;
            ASSERT_EQ(quarn_test::ValueOf(network, child).SetEvidence(outcome), 0);
            logOdds += outcome == 0 ? std::log(pTrue[0] / pTrue[1])
                                    : std::log((1.0 - pTrue[0]) / (1.0 - pTrue[1]));
        }
    }
    const double want = 1.0 / (1.0 + std::exp(-logOdds));
    ASSERT_EQ(network.SetTarget(hidden), 0);
    std::vector<int> algorithms(std::begin(kExact), std::end(kExact));
    algorithms.push_back(QNL_ALG_BN_POLYTREE);
    for (int algorithm : algorithms) {
        SCOPED_TRACE("algorithm " + std::to_string(algorithm));
        network.SetDefaultBNAlgorithm(algorithm);
        network.InvalidateValues();
        ASSERT_EQ(network.UpdateBeliefs(), 0);
        ASSERT_TRUE(quarn_test::ValueOf(network, hidden).IsValueValid());
        EXPECT_NEAR(quarn_test::Belief(network, hidden, 0), want, 1e-9);
    }
}

// The probability of the evidence to double precision while a double holds it, subnormal
// numbers included; below the smallest, 0 with a message that gives its size. Both methods,
// on chains, on coupled chains and on the dynamic network.
TEST(LongEvidenceTest, ProbabilityOfEvidenceBelowTheSmallestDoubleIsZeroWithAMessage) {
    // Findings of probability about 1e-9 each: the chain rule needs few updates to underflow.
    auto rare = [](int steps) {
        ChainSpec spec = quarn_test::AlternatingChains(1, steps);
        spec.emission = {1.0 - 1e-9, 1e-9, 1.0 - 3e-9, 3e-9};
        spec.finding = [](int, int) { return 1; };
        return spec;
    };
    const struct {
        const char* label;
        ChainSpec spec;
        bool dynamic, chainRule;
    } cases[] = {
        {"chain, normal", quarn_test::AlternatingChains(1, 600), false, false},
        {"chain, subnormal", quarn_test::AlternatingChains(1, 880), false, false},
        {"chain, underflow", quarn_test::AlternatingChains(1, 1200), false, false},
        {"coupled chains, underflow", quarn_test::AlternatingChains(3, 400), false, false},
        {"dynamic, normal", quarn_test::AlternatingChains(3, 250), true, false},
        {"dynamic, underflow", quarn_test::AlternatingChains(3, 420), true, false},
        {"rare findings, normal, chain rule", rare(30), false, true},
        {"rare findings, underflow, chain rule", rare(40), false, true},
        {"rare findings, underflow, clustering", rare(40), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        QNL_network network;
        if (c.dynamic)
            quarn_test::BuildDynamicChains(network, c.spec);
        else
            quarn_test::BuildChains(network, c.spec);
        const ChainPosterior truth = quarn_test::ForwardBackward(c.spec);
        const double want = truth.Evidence();
        QNL_errorHandler::Instance().Flush();
        double got = -1.0;
        ASSERT_TRUE(network.CalcPropEvidence(got, c.chainRule));
        const std::vector<std::string> messages = quarn_test::Messages();
        if (want > 0.0) {
            // A subnormal result holds fewer digits: its last one is all it can be off by.
            EXPECT_NEAR(got, want, want * 1e-9 + 1e-323);
            EXPECT_TRUE(messages.empty()) << messages.front();
            continue;
        }
        EXPECT_EQ(got, 0.0);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind("-2 Probability of evidence underflowed", 0), 0u)
            << messages[0];
        EXPECT_NEAR(quarn_test::LoggedLog10(messages[0]),
                    static_cast<double>(truth.log2Evidence * 0.30102999566398119521L), 0.01);
    }
}

// A chain of four ordered states that never go down, with ordinary findings in between: a
// first finding that allows only the upper states and a last one that allows only the lower
// ones are impossible together, however far apart. Every exact algorithm leaves the hidden
// nodes not valid and the probability of the evidence is 0 without a message; with a last
// finding that fits, every belief is there.
TEST(LongEvidenceTest, ImpossibleEvidenceAcrossALongChainIsStillImpossible) {
    for (bool impossible : {false, true}) {
        SCOPED_TRACE(impossible ? "impossible" : "possible");
        ChainSpec spec;
        spec.states = 4;
        spec.steps = 800;
        spec.first = {0.25, 0.25, 0.25, 0.25};
        spec.along = {0.9, 0.1, 0, 0, 0, 0.9, 0.1, 0, 0, 0, 0.9, 0.1, 0, 0, 0, 1};
        // Findings: ordinary but rare (the evidence about 1e-980), lower states only, upper
        // states only.
        spec.emission = {0.05, 0.95, 0, 0.07, 0.93, 0, 0.04, 0, 0.96, 0.08, 0, 0.92};
        spec.finding = [&](int, int t) {
            return t == 0 ? 2 : t < spec.steps - 1 ? 0 : impossible ? 1 : 2;
        };
        QNL_network network;
        const ChainHandles h = quarn_test::BuildChains(network, spec);
        TargetHidden(network, h);
        if (!impossible) {
            const ChainPosterior truth = quarn_test::ForwardBackward(spec);
            for (int algorithm : kExact)
                ExpectChainBeliefs(network, h, spec, false, algorithm, truth);
            continue;
        }
        for (int algorithm : kExact) {
            SCOPED_TRACE("algorithm " + std::to_string(algorithm));
            network.SetDefaultBNAlgorithm(algorithm);
            network.InvalidateValues();
            ASSERT_EQ(network.UpdateBeliefs(), 0);
            quarn_test::ExpectNoValidBeliefs(network, "impossible");
        }
        QNL_errorHandler::Instance().Flush();
        double got = -1.0;
        ASSERT_TRUE(network.CalcPropEvidence(got));
        EXPECT_EQ(got, 0.0);
        EXPECT_TRUE(quarn_test::Messages().empty());
    }
}
