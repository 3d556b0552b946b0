#include "definitions/hybrid_definition.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "equations/function_table.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "numerics/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

// An observed child whose distribution's arguments depend on its parent weighs each sample
// by its density at the evidence; the scale of that density changes from sample to sample,
// so a density known only up to a per-argument factor gives a wrong posterior.
namespace {

constexpr double kSqrt2Pi = 2.5066282746310002;

class HybridDensityTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNL_errorHandler::Instance().Flush();
        QNL_randomUniform().Seed(4321);
    }

    int Continuous(const char* id, const std::string& expression, double lower, double upper) {
        const int h = net.AddNode(QNL_TYPE_DISTRIBUTION, id);
        EXPECT_GE(h, 0) << id;
        auto* def = Definition(h);
        def->SetLowerBound(lower);
        def->SetUpperBound(upper);
        if (!expression.empty()) {
            EXPECT_EQ(def->SetExpression(0, expression), 0) << expression;
        }
        return h;
    }
    QNL_continuousDefinition* Definition(int h) {
        return dynamic_cast<QNL_continuousDefinition*>(net.GetNode(h)->GetDefinition());
    }
    QNL_nodeValue* Value(int h) { return net.GetNode(h)->GetValue(); }
    double PosteriorMean(int h) {
        auto* value = dynamic_cast<QNL_continuousValue*>(Value(h));
        double total = 0.0, sum = 0.0;
        for (const auto& s : value->GetSamples()) {
            total += s.weight;
            sum += s.weight * s.value;
        }
        return sum / total;
    }
    int Update(int algorithm, int samples) {
        net.SetDefaultHBNAlgorithm(algorithm);
        net.SetNumberOfSamples(samples);
        return net.UpdateBeliefs();
    }

    QNL_network net;
};

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

TEST_F(HybridDensityTest, ParentDependentArgumentsGiveTheIntegratedPosterior) {
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
        const int p = Continuous("P", "Uniform(1, 3)", 0.0, 4.0);
        const int x = Continuous("X", c.child, c.lower, c.upper);
        ASSERT_EQ(net.AddArc(p, x), 0) << c.child;
        ASSERT_EQ(Value(x)->SetEvidence(c.evidence), 0) << c.child;
        const double expected = PosteriorMeanByIntegration(c.likelihood);
        // Message passing fits mixtures to the likelihood of a continuous parent, whose
        // smoothing alone moves these means by more than the bound.
        for (int algorithm : {13, 14}) {
            ASSERT_EQ(Update(algorithm, 20000), 0) << c.child << " algorithm " << algorithm;
            EXPECT_NEAR(PosteriorMean(p), expected, 0.03) << c.child << " algorithm " << algorithm;
        }
    }
}

// A discrete parent picks the rate: Bayes' rule with the two densities at the evidence.
TEST_F(HybridDensityTest, DiscreteParentSelectingTheRateFollowsBayesRule) {
    const int d = net.AddNode(QNL_TYPE_DCHILDHPARENT, "D");
    auto* parent = dynamic_cast<QNL_dchildHparent*>(net.GetNode(d)->GetDefinition());
    ASSERT_EQ(parent->SetExpression(0, "state0", "0.4"), 0);
    ASSERT_EQ(parent->SetExpression(0, "state1", "0.6"), 0);
    const int x = Continuous("X", "", 0.0, 50.0);
    ASSERT_EQ(net.AddArc(d, x), 0);
    ASSERT_EQ(Definition(x)->SetExpression(0, "Exponential(1)"), 0);
    ASSERT_EQ(Definition(x)->SetExpression(1, "Exponential(4)"), 0);
    ASSERT_EQ(Value(x)->SetEvidence(0.5), 0);
    const double a = 0.4 * std::exp(-0.5), b = 0.6 * 4.0 * std::exp(-2.0);
    for (int algorithm : {13, 14, 15}) {
        ASSERT_EQ(Update(algorithm, 20000), 0) << algorithm;
        EXPECT_NEAR(Value(d)->GetMatrix()->Subscript(0), a / (a + b), 0.02) << algorithm;
    }
}

double Pdf(const char* name, double x, std::initializer_list<double> args) {
    QNL_argumentBlock block;
    for (double a : args)
        block.values[block.count++] = a;
    return FindFunction(name)->normalisedDensity(x, block);
}

double Relative(const char* name, double x, std::initializer_list<double> args) {
    QNL_argumentBlock block;
    for (double a : args)
        block.values[block.count++] = a;
    return FindFunction(name)->density(x, block);
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
        const double scale = Pdf(c.name, c.x, c.args) / Relative(c.name, c.x, c.args);
        for (double t : {0.1, 0.3, 0.6, 0.9}) {
            const double y = c.lo + t * (c.hi - c.lo);
            EXPECT_NEAR(Pdf(c.name, y, c.args), scale * Relative(c.name, y, c.args), 1e-12)
                << c.name << " at " << y;
        }
    }
    double mass = Pdf("Bernoulli", 0, {0.3}) + Pdf("Bernoulli", 1, {0.3});
    for (int k = 0; k <= 4; ++k)
        mass += Pdf("Binomial", k, {4, 0.35});
    EXPECT_NEAR(mass, 2.0, 1e-12);
}

} // namespace
