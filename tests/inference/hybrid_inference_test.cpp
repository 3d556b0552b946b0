#include "definitions/hybrid_definition.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "equations/expr_parser.h"
#include "equations/function_table.h"
#include "inference/bayesian_algorithms.h"
#include "inference/hybrid_inference.h"
#include "inference/sampling_node.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "numerics/random.h"
#include "support/hybrid_network.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quarn_test::LastMessage;

constexpr int kImportance = QNL_ALG_HBN_PROPAGATED_IMPORTANCE;
constexpr int kWeighting = QNL_ALG_HBN_LIKELIHOOD_WEIGHTING;
constexpr int kMessages = QNL_ALG_HBN_MESSAGE_PASSING;
constexpr int kLogic = QNL_ALG_HBN_LOGIC_SAMPLING;
constexpr double kSqrt2Pi = 2.5066282746310002;

using quarn_test::Moments;

class HybridInferenceTest : public quarn_test::HybridNetworkTest {};

// Random linear-Gaussian networks, built with children before parents so handle order is
// not an order of the graph and with a deleted slot among the handles, against Gaussian
// conditioning on one observed node. Without evidence, logic sampling gives the priors.
TEST_F(HybridInferenceTest, LinearGaussianNetworksAgreeWithGaussianConditioning) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 3; ++trial) {
        net.DeleteAllNodes();
        const int n = 4;
        std::vector<std::vector<double>> b(n, std::vector<double>(n, 0.0));
        std::vector<double> c(n), s(n);
        for (int i = 0; i < n; ++i) {
            c[i] = 2.0 * unit(rng) - 1.0;
            s[i] = 0.5 + unit(rng);
            for (int j = 0; j < i; ++j)
                if (unit(rng) < 0.7) b[i][j] = 1.6 * unit(rng) - 0.8;
        }
        // Moments in closed form, node by node in graph order.
        std::vector<double> mu(n);
        std::vector<std::vector<double>> cov(n, std::vector<double>(n, 0.0));
        for (int i = 0; i < n; ++i) {
            mu[i] = c[i];
            for (int j = 0; j < i; ++j)
                mu[i] += b[i][j] * mu[j];
            for (int k = 0; k < i; ++k) {
                for (int j = 0; j < i; ++j)
                    cov[i][k] += b[i][j] * cov[j][k];
                cov[k][i] = cov[i][k];
            }
            cov[i][i] = s[i] * s[i];
            for (int j = 0; j < i; ++j)
                cov[i][i] += b[i][j] * cov[j][i];
        }
        const int hole = net.AddNode(QNL_TYPE_DISTRIBUTION, "Gone");
        std::vector<int> handle(n);
        for (int i = n - 1; i >= 0; --i) {
            std::ostringstream text;
            text.precision(17);
            text << "Normal(" << c[i];
            for (int j = 0; j < i; ++j)
                if (b[i][j] != 0.0) text << " + " << b[i][j] << "*X" << j;
            text << ", " << s[i] << ")";
            handle[i] = Continuous(QNL_TYPE_DISTRIBUTION, ("X" + std::to_string(i)).c_str(),
                                   text.str(), -60.0, 60.0);
        }
        ASSERT_EQ(net.DeleteNode(hole), 0);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < i; ++j)
                if (b[i][j] != 0.0) {
                    ASSERT_EQ(net.AddArc(handle[j], handle[i]), 0);
                }

        ASSERT_EQ(Update(kLogic, 20000), 0);
        for (int i = 0; i < n; ++i) {
            const Moments m = Of(handle[i]);
            EXPECT_NEAR(m.mean, mu[i], 0.05 * std::sqrt(cov[i][i]) + 0.01) << trial << " X" << i;
            EXPECT_NEAR(m.variance, cov[i][i], 0.06 * cov[i][i]) << trial << " X" << i;
        }

        // Evidence on a leaf or on an inner node; likelihood weighting, then the proposal
        // built from the messages.
        const int e = trial % 2 == 0 ? n - 1 : n - 2;
        const double observed = mu[e] + 0.5 * std::sqrt(cov[e][e]);
        ASSERT_EQ(Value(handle[e])->SetEvidence(observed), 0);
        for (const int id : {kWeighting, kImportance}) {
            ASSERT_EQ(Update(id, 20000), 0) << id;
            for (int i = 0; i < n; ++i) {
                if (i == e) continue;
                const double mean = mu[i] + cov[i][e] / cov[e][e] * (observed - mu[e]);
                const double variance = cov[i][i] - cov[i][e] * cov[i][e] / cov[e][e];
                const Moments m = Of(handle[i]);
                // 2 x 10^4 draws: within a tenth of a standard deviation.
                EXPECT_NEAR(m.mean, mean, 0.1 * std::sqrt(variance) + 0.01)
                    << id << " " << trial << " X" << i;
                if (id == kWeighting) {
                    EXPECT_NEAR(m.variance, variance, 0.12 * variance) << trial << " X" << i;
                }
            }
        }
    }
}

// P(a | x) = x^2 / (1 + x^2) for X ~ N(0, 1): the prior of the discrete child and the
// posterior of X given it, by numerical integration.
TEST_F(HybridInferenceTest, DiscreteChildOfAContinuousParentAgreesWithIntegration) {
    const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "Normal(0, 1)", -6.0, 6.0);
    const int d = Discrete("D", "X*X", "1");
    ASSERT_EQ(net.AddArc(x, d), 0);
    double mass = 0.0, second = 0.0;
    for (double t = -6.0; t <= 6.0; t += 1e-4) {
        const double density = std::exp(-0.5 * t * t) / std::sqrt(2.0 * M_PI) * 1e-4;
        const double p = t * t / (1.0 + t * t);
        mass += density * p;
        second += density * p * t * t;
    }
    ASSERT_EQ(Update(kWeighting, 20000), 0);
    EXPECT_NEAR(Belief(d, 0), mass, 0.01);
    ASSERT_EQ(Value(d)->SetEvidence(0), 0);
    ASSERT_EQ(Update(kWeighting, 20000), 0);
    const Moments m = Of(x);
    EXPECT_NEAR(m.mean, 0.0, 0.04);
    EXPECT_NEAR(m.variance, second / mass, 0.08);
    EXPECT_EQ(Belief(d, 0), 1.0);
}

// A discrete parent selects the distribution of its continuous child: a two-component
// mixture, and the parent's posterior given the child's value.
TEST_F(HybridInferenceTest, DiscreteParentMixturesAgreeWithBayesRule) {
    const int p = Discrete("P", "0.3", "0.7");
    const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "", -20.0, 20.0);
    ASSERT_EQ(net.AddArc(p, x), 0);
    ASSERT_EQ(Continuous(x)->SetExpression(0, "Normal(-2, 1)"), 0);
    ASSERT_EQ(Continuous(x)->SetExpression(1, "Normal(3, 0.5)"), 0);
    ASSERT_EQ(Update(kLogic, 20000), 0);
    const double mean = 0.3 * -2.0 + 0.7 * 3.0;
    const double variance = 0.3 * (1.0 + 4.0) + 0.7 * (0.25 + 9.0) - mean * mean;
    EXPECT_NEAR(Of(x).mean, mean, 0.05);
    EXPECT_NEAR(Of(x).variance, variance, 0.15);
    EXPECT_NEAR(Belief(p, 0), 0.3, 0.015);

    ASSERT_EQ(Value(x)->SetEvidence(1.0), 0);
    ASSERT_EQ(Update(kWeighting, 20000), 0);
    const double a = 0.3 * std::exp(-0.5 * 9.0);
    const double b = 0.7 * std::exp(-0.5 * 16.0) / 0.5;
    EXPECT_NEAR(Belief(p, 0), a / (a + b), 0.02);

    // The parent picks a rate: Bayes' rule with the two densities at the evidence.
    ASSERT_EQ(Continuous(x)->SetExpression(0, "Exponential(1)"), 0);
    ASSERT_EQ(Continuous(x)->SetExpression(1, "Exponential(4)"), 0);
    ASSERT_EQ(Value(x)->SetEvidence(0.5), 0);
    const double c = 0.3 * std::exp(-0.5), d = 0.7 * 4.0 * std::exp(-2.0);
    for (int algorithm : {kImportance, kWeighting, kMessages}) {
        ASSERT_EQ(Update(algorithm, 20000), 0) << algorithm;
        EXPECT_NEAR(Belief(p), c / (c + d), 0.02) << algorithm;
    }
}

TEST_F(HybridInferenceTest, EquationEvidenceIsEnforcedThroughItsParents) {
    // Y = 2X + 1 with Y = 3: X is fixed at 1 and reported as propagated evidence.
    const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "Normal(0, 1)", -5.0, 5.0);
    const int y = Continuous(QNL_TYPE_HEQUATION, "Y", "2*X+1", -20.0, 20.0);
    ASSERT_EQ(net.AddArc(x, y), 0);
    ASSERT_EQ(Value(y)->SetEvidence(3.0), 0);
    ASSERT_EQ(Update(kWeighting, 200), 0);
    ASSERT_TRUE(Value(x)->HasPropagatedEvidence());
    double fixed = 0.0;
    Value(x)->GetEvidence(&fixed);
    EXPECT_DOUBLE_EQ(fixed, 1.0);
    EXPECT_TRUE(Value(x)->IsValueValid());

    // An equation child of observed parents is fixed before sampling.
    const int z = Continuous(QNL_TYPE_HEQUATION, "Z", "X*X - 1", -20.0, 20.0);
    ASSERT_EQ(net.AddArc(x, z), 0);
    ASSERT_EQ(Update(kWeighting, 200), 0);
    ASSERT_TRUE(Value(z)->HasPropagatedEvidence());
    Value(z)->GetEvidence(&fixed);
    EXPECT_DOUBLE_EQ(fixed, 0.0);

    // A sum observed: the chain solves the last parent, the other is weighed.
    net.DeleteAllNodes();
    const int a = Continuous(QNL_TYPE_DISTRIBUTION, "A", "Normal(0, 1)", -8.0, 8.0);
    const int b = Continuous(QNL_TYPE_DISTRIBUTION, "B", "Normal(0, 1)", -8.0, 8.0);
    const int t = Continuous(QNL_TYPE_DISTRIBUTION, "T", "Normal(B, 1)", -20.0, 20.0);
    const int s = Continuous(QNL_TYPE_HEQUATION, "S", "A + B", -20.0, 20.0);
    ASSERT_EQ(net.AddArc(a, s), 0);
    ASSERT_EQ(net.AddArc(b, s), 0);
    ASSERT_EQ(net.AddArc(b, t), 0);
    ASSERT_EQ(Value(s)->SetEvidence(2.0), 0);
    ASSERT_EQ(Update(kWeighting, 20000), 0);
    EXPECT_NEAR(Of(b).mean, 1.0, 0.04);
    EXPECT_NEAR(Of(b).variance, 0.5, 0.05);
    EXPECT_NEAR(Of(a).mean, 1.0, 0.04);
    // T reads B's enforced value, not the one of an earlier draw.
    EXPECT_NEAR(Of(t).mean, 1.0, 0.05);
    EXPECT_NEAR(Of(t).variance, 1.5, 0.1);

    // A product observed: the solved parent's density is divided by the equation's slope,
    // p(u | y) proportional to p(u) N(y / u; 0, 1) / u, by numerical integration.
    net.DeleteAllNodes();
    const int u = Continuous(QNL_TYPE_DISTRIBUTION, "U", "Uniform(1, 3)", 0.0, 4.0);
    const int v = Continuous(QNL_TYPE_DISTRIBUTION, "V", "Normal(0, 1)", -10.0, 10.0);
    const int product = Continuous(QNL_TYPE_HEQUATION, "P", "U * V", -40.0, 40.0);
    ASSERT_EQ(net.AddArc(u, product), 0);
    ASSERT_EQ(net.AddArc(v, product), 0);
    ASSERT_EQ(Value(product)->SetEvidence(2.0), 0);
    double mass = 0.0, first = 0.0;
    for (double x = 1.0; x <= 3.0; x += 1e-4) {
        const double w = std::exp(-0.5 * (2.0 / x) * (2.0 / x)) / x;
        mass += w;
        first += w * x;
    }
    ASSERT_EQ(Update(kWeighting, 20000), 0);
    EXPECT_NEAR(Of(u).mean, first / mass, 0.02);
}

// Failures: -5 with its message and no value written, or -2 naming the node before sampling.
TEST_F(HybridInferenceTest, UselessEvidenceAndUnhandledNetworksFail) {
    const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "Uniform(0, 1)", -5.0, 5.0);
    const int y = Continuous(QNL_TYPE_HEQUATION, "Y", "2*X+1", -20.0, 20.0);
    const int w = Continuous(QNL_TYPE_DISTRIBUTION, "W", "Normal(0, 1)", -5.0, 5.0);
    ASSERT_EQ(net.AddArc(x, y), 0);
    const std::string noSamples = "No useful samples have been generated for some of nodes.";

    // Every parent of an observed equation observed: evidence other than the value they give
    // is refused, naming it; that value itself is met.
    ASSERT_EQ(Value(x)->SetEvidence(0.5), 0);
    ASSERT_EQ(Value(y)->SetEvidence(2.5), 0);
    EXPECT_EQ(Update(kWeighting, 100), -5);
    EXPECT_TRUE(Logged(noSamples));
    EXPECT_TRUE(Logged("Node [Y] : its evidence 2.5 is not the value 2 its parents give"));
    EXPECT_FALSE(Value(w)->IsValueValid());
    ASSERT_EQ(Value(y)->SetEvidence(2.0), 0);
    EXPECT_EQ(Update(kWeighting, 100), 0);
    EXPECT_TRUE(Value(w)->IsValueValid());
    Value(y)->ClearEvidence();

    // Evidence outside the support: every draw weighs 0 until the cap.
    Value(x)->SetEvidence(3.0);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(Update(kWeighting, 100), -5);
    EXPECT_TRUE(Logged(noSamples));
    EXPECT_FALSE(Value(w)->IsValueValid());
    // Evidence outside the node's bounds fails at once.
    Value(x)->SetEvidence(7.0);
    EXPECT_EQ(Update(kWeighting, 100), -5);
    Value(x)->ClearEvidence();

    // Reversed bounds, an unknown variable, a node of another type: refused by name.
    Continuous(w)->SetLowerBound(6.0);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(Update(kWeighting, 100), -2);
    EXPECT_TRUE(Logged("Node [W]"));
    Continuous(w)->SetLowerBound(-5.0);
    // A draw below the root is refused where it is set, and the node keeps its expression.
    EXPECT_EQ(Continuous(y)->SetExpression(0, "0.5*X - 1 + Normal(0, 1)"), -2);
    EXPECT_TRUE(
        Logged("ERROR: Node [Y] : its expression draws from a distribution below its root"));
    EXPECT_EQ(Update(kWeighting, 100), 0);
    ASSERT_EQ(Continuous(y)->SetExpression(0, "2*X + Q"), 0);
    EXPECT_EQ(Update(kWeighting, 100), -2);
    EXPECT_TRUE(Logged("'Q'"));
    ASSERT_EQ(Continuous(y)->SetExpression(0, "2*X"), 0);
    const int cpt = net.AddNode(QNL_TYPE_CPT, "Table");
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(Update(kWeighting, 100), -2);
    EXPECT_TRUE(Logged("Node [Table]"));
    net.DeleteNode(cpt);

    EXPECT_EQ(Update(kLogic, 100), 0);
}

// The equation-network solver hands a DISTRIBUTION node the call itself as its holder.
TEST_F(HybridInferenceTest, AHolderSetByTheEquationSolverIsSampledAndWeighed) {
    const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "", -10.0, 10.0);
    const int y = Continuous(QNL_TYPE_DISTRIBUTION, "Y", "Normal(X, 1)", -20.0, 20.0);
    ASSERT_EQ(net.AddArc(x, y), 0);
    std::unique_ptr<QNL_exprNode> call(ParseExpression("Normal(2, 1)"));
    ASSERT_EQ(Continuous(x)->SetDistribution(0, new QNL_equationContext(*call)), 0);
    QNL_outcomeExpressions wrong({"a", "b"});
    EXPECT_EQ(Continuous(x)->SetDistribution(0, &wrong), -2);
    ASSERT_EQ(Update(kLogic, 20000), 0);
    EXPECT_NEAR(Of(x).mean, 2.0, 0.03);
    ASSERT_EQ(Value(y)->SetEvidence(4.0), 0);
    ASSERT_EQ(Update(kWeighting, 20000), 0);
    EXPECT_NEAR(Of(x).mean, 3.0, 0.03);
    EXPECT_NEAR(Of(x).variance, 0.5, 0.05);
}

// Without evidence propagated importance is the logic-sampling run: the same seed gives the same
// samples.
TEST_F(HybridInferenceTest, PropagatedImportanceWithoutEvidenceIsLogicSampling) {
    const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "Normal(1, 2)", -20.0, 20.0);
    const int y = Continuous(QNL_TYPE_HEQUATION, "Y", "X*3", -80.0, 80.0);
    ASSERT_EQ(net.AddArc(x, y), 0);
    QNL_randomUniform().Seed(5);
    ASSERT_EQ(Update(kLogic, 500), 0);
    const auto logic = dynamic_cast<QNL_continuousValue*>(Value(y))->GetSamples();
    QNL_randomUniform().Seed(5);
    ASSERT_EQ(Update(kImportance, 500), 0);
    const auto& importance = dynamic_cast<QNL_continuousValue*>(Value(y))->GetSamples();
    ASSERT_EQ(importance.size(), logic.size());
    for (std::size_t i = 0; i < importance.size(); ++i)
        EXPECT_EQ(importance[i].value, logic[i].value);
}

// Each named entry runs its own algorithm: the same seed gives, bit for bit, what the belief
// update gives for the entry's identifier, and no two entries give the same result.
TEST_F(HybridInferenceTest, EachEntryRunsTheAlgorithmOfItsIdentifier) {
    const int p = Discrete("P", "0.3", "0.7");
    const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "", -20.0, 20.0);
    ASSERT_EQ(Continuous(x)->SetExpression(0, "Normal(-2, 1)"), 0);
    ASSERT_EQ(net.AddArc(p, x), 0);
    ASSERT_EQ(Continuous(x)->SetExpression(1, "Normal(3, 0.5)"), 0);
    const int d = Discrete("D", "X*X", "1");
    ASSERT_EQ(net.AddArc(x, d), 0);
    ASSERT_EQ(Value(d)->SetEvidence(0), 0);
    net.SetNumberOfSamples(300);
    // Everything a run writes: flags, beliefs and weighted samples, as exact numbers.
    auto state = [&] {
        std::vector<double> out;
        for (int h : {p, x, d}) {
            out.push_back(Value(h)->GetFlags());
            if (auto* continuous = dynamic_cast<QNL_continuousValue*>(Value(h))) {
                for (const auto& sample : continuous->GetSamples()) {
                    out.push_back(sample.value);
                    out.push_back(sample.weight);
                }
            } else {
                const QNL_Dmatrix* beliefs = Value(h)->GetMatrix();
                for (int i = 0; i < beliefs->GetSize(); ++i)
                    out.push_back(beliefs->Subscript(i));
            }
        }
        return out;
    };
    struct Entry {
        int id;
        int (*run)(QNL_network&);
        int (QNL_hybridInference::*algorithm)();
    };
    const std::vector<Entry> entries = {
        {kImportance, RunHbnPropagatedImportance, &QNL_hybridInference::PropagatedImportance},
        {kWeighting, RunHbnLikelihoodWeighting, &QNL_hybridInference::LikelihoodWeighting},
        {kMessages, RunHbnMessagePassing, &QNL_hybridInference::MessagePassing},
        {kLogic, RunHbnLogicSampling, &QNL_hybridInference::LogicSampling}};
    std::vector<std::vector<double>> results;
    for (const Entry& entry : entries) {
        Seed(99);
        ASSERT_EQ(entry.run(net), 0) << entry.id;
        results.push_back(state());
        // The algorithm object run by hand, as the entry is meant to run it.
        Seed(99);
        net.InvalidateValues();
        {
            QNL_hybridInference inference(net);
            ASSERT_EQ(inference.Build(), 0);
            ASSERT_EQ((inference.*entry.algorithm)(), 0) << entry.id;
        }
        EXPECT_EQ(state(), results.back()) << entry.id;
        Seed(99);
        ASSERT_EQ(Update(entry.id, 300), 0) << entry.id;
        EXPECT_EQ(state(), results.back()) << entry.id;
        Seed(99);
        ASSERT_EQ(RunHybridInference(net, entry.id), 0) << entry.id;
        EXPECT_EQ(state(), results.back()) << entry.id;
    }
    for (std::size_t i = 0; i < results.size(); ++i)
        for (std::size_t j = i + 1; j < results.size(); ++j)
            EXPECT_NE(results[i], results[j]) << entries[i].id << " " << entries[j].id;
    EXPECT_EQ(RunHybridInference(net, 12), -2);
    EXPECT_EQ(LastMessage(), "Unknown hybrid algorithm");
}

// The mean of p under a Uniform(1, 3) prior times the likelihood, by Simpson's rule.
double PosteriorMeanByIntegration(double (*likelihood)(double p)) {
    const int n = 2000;
    const double lo = 1.0, hi = 3.0, h = (hi - lo) / n;
    double mass = 0.0, first = 0.0;
    for (int i = 0; i <= n; ++i) {
        const double p = lo + i * h;
        const double w = (i == 0 || i == n) ? 1.0 : (i % 2 ? 4.0 : 2.0);
        mass += w * likelihood(p);
        first += w * p * likelihood(p);
    }
    return first / mass;
}

// An observed child whose distribution's arguments depend on its parent weighs each sample
// by its density at the evidence; the scale of that density changes from sample to sample,
// so a density known only up to a per-argument factor gives a wrong posterior.
TEST_F(HybridInferenceTest, ParentDependentArgumentsGiveTheIntegratedPosterior) {
    QNL_randomUniform().Seed(4321);
    const struct {
        const char* child;
        double evidence, lower, upper;
        double (*likelihood)(double p);
    } cases[] = {
        {"Exponential(P)", 1.0, 0.0, 50.0, [](double p) { return p * std::exp(-p); }},
        {"Lognormal(0, P)", 2.0, 0.0, 1e6,
         [](double p) {
             const double z = std::log(2.0) / p;
             return std::exp(-0.5 * z * z) / (2.0 * p * kSqrt2Pi);
         }},
        {"Weibull(P, 2)", 1.5, 0.0, 50.0,
         [](double p) { return 2.0 / p * (1.5 / p) * std::exp(-(1.5 / p) * (1.5 / p)); }},
        {"Beta(P, 2)", 0.3, 0.0, 1.0,
         [](double p) {
             return std::pow(0.3, p - 1.0) * 0.7 *
                    std::exp(std::lgamma(p + 2.0) - std::lgamma(p) - std::lgamma(2.0));
         }},
        {"Triangular(0, 1, P + 1)", 1.5, 0.0, 10.0,
         [](double p) { return 2.0 * (p + 1.0 - 1.5) / (p * (p + 1.0)); }},
    };
    for (const auto& c : cases) {
        net.DeleteAllNodes();
        const int p = Continuous(QNL_TYPE_DISTRIBUTION, "P", "Uniform(1, 3)", 0.0, 4.0);
        const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", c.child, c.lower, c.upper);
        ASSERT_EQ(net.AddArc(p, x), 0) << c.child;
        ASSERT_EQ(Value(x)->SetEvidence(c.evidence), 0) << c.child;
        const double expected = PosteriorMeanByIntegration(c.likelihood);
        // Message passing fits mixtures to the likelihood of a continuous parent, whose
        // smoothing alone moves these means by more than the bound.
        for (int algorithm : {kImportance, kWeighting}) {
            ASSERT_EQ(Update(algorithm, 20000), 0) << c.child << " algorithm " << algorithm;
            EXPECT_NEAR(Of(p).mean, expected, 0.03) << c.child << " algorithm " << algorithm;
        }
    }
}

// The normalised density, or the relative one the equation language keeps.
double Pdf(const char* name, double x, std::initializer_list<double> args, bool relative = false) {
    QNL_argumentBlock block;
    for (double a : args)
        block.values[block.count++] = a;
    const auto* f = FindFunction(name);
    return relative ? f->density(x, block) : f->normalisedDensity(x, block);
}

// Each density integrates to 1 over a range wider than its support, matches its closed form
// at one point and is a constant multiple of the relative density the equation language
// keeps.
TEST(NormalisedDensity, IntegratesToOneAndMatchesTheClosedForm) {
    const double kBeta3And1Half = std::exp(std::lgamma(3.0) + std::lgamma(1.5) - std::lgamma(4.5));
    const struct {
        const char* name;
        std::initializer_list<double> args;
        double lo, hi, x, expected;
    } cases[] = {
        {"Uniform", {2, 6}, 0, 8, 3, 0.25},
        {"Normal", {1, 2}, -20, 22, 3, 0.3989422804014327 / 2 * std::exp(-0.5)},
        {"Exponential", {2}, -5, 40, 0.5, 2 * std::exp(-1.0)},
        {"Lognormal", {0.5, 0.5}, -1, 80, 1, std::exp(-0.5) / (0.5 * kSqrt2Pi)},
        {"Weibull", {2, 1.5}, -1, 40, 1, 0.75 * std::sqrt(0.5) * std::exp(-std::pow(0.5, 1.5))},
        {"Weibull", {2, 1}, -1, 60, 1, 0.5 * std::exp(-0.5)},
        {"Beta", {2, 3}, -0.5, 1.5, 0.4, 12 * 0.4 * 0.36},
        {"Beta", {3, 1.5}, -0.5, 1.5, 0.5, 0.25 * std::sqrt(0.5) / kBeta3And1Half},
        {"Triangular", {0, 1, 4}, -1, 5, 3, 1.0 / 6.0},
    };
    const int n = 400000;
    for (const auto& c : cases) {
        const double h = (c.hi - c.lo) / n;
        double total = 0.0;
        for (int i = 0; i < n; ++i)
            total += Pdf(c.name, c.lo + (i + 0.5) * h, c.args) * h;
        EXPECT_NEAR(total, 1.0, 1e-3) << c.name;
        EXPECT_NEAR(Pdf(c.name, c.x, c.args), c.expected, 1e-9) << c.name;
        const double scale = Pdf(c.name, c.x, c.args) / Pdf(c.name, c.x, c.args, true);
        for (double t : {0.1, 0.3, 0.6, 0.9}) {
            const double y = c.lo + t * (c.hi - c.lo);
            EXPECT_NEAR(Pdf(c.name, y, c.args), scale * Pdf(c.name, y, c.args, true), 1e-12)
                << c.name << " at " << y;
        }
    }
    double mass = Pdf("Bernoulli", 0, {0.3}) + Pdf("Bernoulli", 1, {0.3});
    for (int k = 0; k <= 4; ++k)
        mass += Pdf("Binomial", k, {4, 0.35});
    EXPECT_NEAR(mass, 2.0, 1e-12);
}

double Gauss(double x, double mean, double variance) {
    return std::exp(-0.5 * (x - mean) * (x - mean) / variance) / std::sqrt(2.0 * M_PI * variance);
}

// Evidence far in the tail of the prior: likelihood weighting keeps few useful draws, the
// proposal built from the messages nearly all of them.
TEST_F(HybridInferenceTest, MessagesProposeNearThePosterior) {
    Seed(4321);
    const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "Normal(0, 1)", -10.0, 10.0);
    const int y = Continuous(QNL_TYPE_DISTRIBUTION, "Y", "Normal(X, 0.3)", -20.0, 20.0);
    ASSERT_EQ(net.AddArc(x, y), 0);
    ASSERT_EQ(Value(y)->SetEvidence(3.0), 0);
    const double mean = 3.0 / 1.09;
    ASSERT_EQ(Update(kWeighting, 5000), 0);
    const double weighting = Of(x).effective;
    ASSERT_EQ(Update(kImportance, 5000), 0);
    EXPECT_GT(Of(x).effective, 20.0 * weighting);
    // Posterior standard deviation 0.29: a tenth of it.
    EXPECT_NEAR(Of(x).mean, mean, 0.03);
}

// Small polytrees whose discrete beliefs are known by numerical integration: a discrete
// parent of an observed mixture (its message is exact), and a discrete child of a
// continuous node whose other child is observed. There every continuous message is a
// two-component mixture fitted to 250 weighted points: over seeds the belief spreads by
// about 0.05 around 0.59 (0.62 exactly, 0.34 without the evidence), hence 0.12. Importance
// sampling from the same messages is unbiased and meets the tolerance of weighting.
TEST_F(HybridInferenceTest, MessagePassingBeliefsAgreeWithIntegration) {
    Seed(4321);
    const int p = Discrete("P", "0.3", "0.7");
    const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "", -20.0, 20.0);
    ASSERT_EQ(net.AddArc(p, x), 0);
    ASSERT_EQ(Continuous(x)->SetExpression(0, "Normal(-1, 1)"), 0);
    ASSERT_EQ(Continuous(x)->SetExpression(1, "Normal(2, 1)"), 0);
    ASSERT_EQ(Value(x)->SetEvidence(0.8), 0);
    ASSERT_EQ(Update(kMessages, 2000), 0);
    const double a = 0.3 * Gauss(0.8, -1.0, 1.0), b = 0.7 * Gauss(0.8, 2.0, 1.0);
    EXPECT_NEAR(Belief(p), a / (a + b), 0.03);
    EXPECT_TRUE(Value(p)->IsValueValid());
    EXPECT_TRUE(Value(x)->IsValueValid());

    net.DeleteAllNodes();
    const int z = Continuous(QNL_TYPE_DISTRIBUTION, "Z", "Normal(0, 1)", -8.0, 8.0);
    const int y = Continuous(QNL_TYPE_DISTRIBUTION, "Y", "Normal(Z, 1)", -12.0, 12.0);
    const int d = Discrete("D", "Z*Z", "1");
    ASSERT_EQ(net.AddArc(z, y), 0);
    ASSERT_EQ(net.AddArc(z, d), 0);
    ASSERT_EQ(Value(y)->SetEvidence(3.0), 0);
    double mass = 0.0;
    for (double t = -8.0; t <= 8.0; t += 1e-3)
        mass += Gauss(t, 1.5, 0.5) * t * t / (1.0 + t * t) * 1e-3;
    ASSERT_EQ(Update(kMessages, 4000), 0);
    EXPECT_NEAR(Belief(d), mass, 0.12);
    EXPECT_NEAR(Of(z).mean, 1.5, 0.3);
    ASSERT_EQ(Update(kImportance, 20000), 0);
    EXPECT_NEAR(Belief(d), mass, 0.015);
    EXPECT_NEAR(Of(z).mean, 1.5, 0.03);
}

// An observed equation whose only open parent is discrete has no parent to enforce it
// through: the messages can't carry it and are refused, while likelihood weighting weighs
// the outcomes by the equation.
TEST_F(HybridInferenceTest, EquationEvidenceWithoutAnEnforcingParentIsRefused) {
    Seed(4321);
    const int p = Discrete("P", "0.5", "0.5");
    const int y = Continuous(QNL_TYPE_HEQUATION, "Y", "", -5.0, 5.0);
    ASSERT_EQ(net.AddArc(p, y), 0);
    ASSERT_EQ(Continuous(y)->SetExpression(0, "1"), 0);
    ASSERT_EQ(Continuous(y)->SetExpression(1, "2"), 0);
    ASSERT_EQ(Value(y)->SetEvidence(2.0), 0);
    for (int algorithm : {kImportance, kMessages}) {
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(Update(algorithm, 100), -5) << algorithm;
        EXPECT_EQ(LastMessage(), "No useful samples have been generated for some of nodes.");
        EXPECT_FALSE(Value(p)->IsValueValid());
    }
    ASSERT_EQ(Update(kWeighting, 100), 0);
    EXPECT_EQ(Belief(p), 0.0);
}

// A discrete child that no value of its parent moves keeps its prior whatever the evidence,
// under every algorithm; here every continuous node is observed, so a proposal's draw of the
// discrete root and the definition's draw of the child are the only draws of a configuration.
// The root's posterior by Bayes' rule.
TEST_F(HybridInferenceTest,
       AChildIndependentOfTheEvidenceKeepsItsPriorWhenEveryContinuousNodeIsObserved) {
    const int samples = 40000;
    for (double observed : {0.0, -3.0})
        for (int algorithm : {kImportance, kWeighting, kMessages}) {
            SCOPED_TRACE("X = " + std::to_string(observed) + ", algorithm " +
                         std::to_string(algorithm));
            net.DeleteAllNodes();
            Seed(77);
            const int a = Discrete("A", "0.3", "0.7");
            const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "", -20.0, 20.0);
            ASSERT_EQ(net.AddArc(a, x), 0);
            ASSERT_EQ(Continuous(x)->SetExpression(0, "Normal(0, 1)"), 0);
            ASSERT_EQ(Continuous(x)->SetExpression(1, "Normal(2, 1)"), 0);
            const int b = Discrete("B", "0.8", "0.2");
            ASSERT_EQ(net.AddArc(x, b), 0);
            ASSERT_EQ(Value(x)->SetEvidence(observed), 0);
            ASSERT_EQ(Update(algorithm, samples), 0) << LastMessage();
            const double a0 = 0.3 * std::exp(-0.5 * observed * observed);
            const double a1 = 0.7 * std::exp(-0.5 * (observed - 2.0) * (observed - 2.0));
            const double pa = a0 / (a0 + a1);
            // The weights of 13 and 14 vary with A alone: at most a fifth of the samples are
            // lost to them here.
            const double n = 0.2 * samples;
            EXPECT_NEAR(Belief(b, 1), 0.2, 5.0 * std::sqrt(0.16 / n));
            EXPECT_NEAR(Belief(a), pa,
                        algorithm == kMessages ? 0.02 : 5.0 * std::sqrt(pa * (1 - pa) / n));
        }
}

// X ~ N(0, 2), W ~ N(1, 1), E = X + W within [0, 1.5]. Once E and X are observed, W is fixed
// at 2.4 by the evidence: every algorithm reports it so, with no samples, as a fresh network
// does; nor does an observed node keep samples, from the moment it is observed, nor a value of
// an update that failed.
TEST_F(HybridInferenceTest, SamplesOfAValueThatBecameDeterminedAreNotLeftBehind) {
    for (int algorithm : {kImportance, kWeighting, kMessages, kLogic}) {
        SCOPED_TRACE("algorithm " + std::to_string(algorithm));
        net.DeleteAllNodes();
        const int x = Continuous(QNL_TYPE_DISTRIBUTION, "X", "Normal(0, 2)", -20.0, 20.0);
        const int w = Continuous(QNL_TYPE_DISTRIBUTION, "W", "Normal(1, 1)", -20.0, 20.0);
        const int e = Continuous(QNL_TYPE_HEQUATION, "E", "X + W", 0.0, 1.5);
        ASSERT_EQ(net.AddArc(x, e), 0);
        ASSERT_EQ(net.AddArc(w, e), 0);
        auto samplesOf = [&](int h) {
            return dynamic_cast<QNL_continuousValue*>(Value(h))->GetSamples().size();
        };
        ASSERT_EQ(Update(algorithm, 2000), 0) << LastMessage();
        ASSERT_GT(samplesOf(w), 0u);
        ASSERT_GT(samplesOf(x), 0u);
        ASSERT_EQ(Value(e)->SetEvidence(1.4), 0);
        ASSERT_EQ(Value(x)->SetEvidence(-1.0), 0);
        // A finding takes the samples of the update before with it at once, not at the next
        // update: a value read in between shows the number alone, as a fresh network does.
        EXPECT_EQ(samplesOf(x), 0u);
        EXPECT_EQ(samplesOf(e), 0u);
        ASSERT_EQ(Update(algorithm, 2000), 0) << LastMessage();
        double fixed = 0.0;
        EXPECT_TRUE(Value(w)->IsValueValid());
        EXPECT_TRUE(Value(w)->HasPropagatedEvidence());
        ASSERT_EQ(Value(w)->GetEvidence(&fixed), 0);
        EXPECT_NEAR(fixed, 2.4, 1e-12);
        EXPECT_EQ(samplesOf(w), 0u);
        EXPECT_EQ(samplesOf(x), 0u);
        EXPECT_EQ(samplesOf(e), 0u);

        // Evidence the range rules out: the update fails and leaves no value with samples.
        ASSERT_EQ(Value(x)->ClearEvidence(), 0);
        ASSERT_EQ(Update(algorithm, 2000), 0) << LastMessage();
        ASSERT_GT(samplesOf(w), 0u);
        ASSERT_EQ(Value(e)->SetEvidence(1.4), 0);
        ASSERT_EQ(Value(w)->SetEvidence(5.0), 0);
        ASSERT_EQ(Value(x)->SetEvidence(0.0), 0);
        EXPECT_EQ(Update(algorithm, 2000), -5);
        for (int h : {x, w, e})
            EXPECT_EQ(samplesOf(h), 0u) << h;
    }
}

// Values at the bounds fall into the end bins, values past them into the nearest end bin;
// operations of the other kind answer -54.
TEST(SamplingNode, HistogramEndsAndOperationsOfTheOtherKind) {
    QNL_continuousSamplingNode x(0, "X", 0.0, 10.0, false, 0.0);
    x.ResetStatistics();
    for (double v : {10.0, -3.0, 0.0, 5.0, 12.0}) {
        x.SetValue(v);
        x.AddSample(1.0);
    }
    x.FinishStatistics();
    const std::vector<double>& bins = x.GetHistogram();
    ASSERT_EQ(bins.size(), 50u);
    EXPECT_DOUBLE_EQ(bins[49], 0.4);
    EXPECT_DOUBLE_EQ(bins[0], 0.4);
    EXPECT_DOUBLE_EQ(bins[25], 0.2);

    QNL_discreteSamplingNode d(1, "D", 3, -1);
    int state = 0;
    double value = 0.0;
    EXPECT_EQ(d.GetValue(value), -54);
    EXPECT_EQ(d.GetFixedValue(value), -54);
    EXPECT_EQ(x.GetState(state), -54);
    EXPECT_EQ(x.GetEvidenceState(state), -54);
    EXPECT_EQ(x.StatePointer(), nullptr);
    EXPECT_EQ(d.ValuePointer(), nullptr);
}

} // namespace
