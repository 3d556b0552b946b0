#include "definitions/hybrid_definition.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "numerics/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

class HybridMessages : public ::testing::Test {
protected:
    void SetUp() override {
        QNL_errorHandler::Instance().Flush();
        const unsigned seed = 4321;
        for (QNL_random* random : {&QNL_randomUniform(), &QNL_randomMixtures(),
                                   &QNL_randomSamplingNodes(), &QNL_randomSamplingDistributions()})
            random->Seed(seed);
    }
    int Continuous(const char* id, const std::vector<std::string>& expressions, double lower,
                   double upper, int type = QNL_TYPE_DISTRIBUTION) {
        const int h = net.AddNode(type, id);
        auto* def = Def(h);
        def->SetLowerBound(lower);
        def->SetUpperBound(upper);
        for (std::size_t i = 0; i < expressions.size(); ++i)
            EXPECT_EQ(def->SetExpression(static_cast<int>(i), expressions[i]), 0);
        return h;
    }
    int Discrete(const char* id, const std::string& first, const std::string& second) {
        const int h = net.AddNode(QNL_TYPE_DCHILDHPARENT, id);
        auto* def = dynamic_cast<QNL_dchildHparent*>(net.GetNode(h)->GetDefinition());
        EXPECT_EQ(def->SetExpression(0, "state0", first), 0);
        EXPECT_EQ(def->SetExpression(0, "state1", second), 0);
        return h;
    }
    QNL_continuousDefinition* Def(int h) {
        return dynamic_cast<QNL_continuousDefinition*>(net.GetNode(h)->GetDefinition());
    }
    QNL_nodeValue* Value(int h) { return net.GetNode(h)->GetValue(); }
    static std::string Last() {
        auto& log = QNL_errorHandler::Instance();
        const int n = log.GetNumberOfErrors();
        return n > 0 ? log.GetMessage(n - 1) : "";
    }
    double Belief(int h) { return Value(h)->GetMatrix()->Subscript(0); }
    double Mean(int h) {
        double total = 0.0, sum = 0.0;
        for (const auto& s : dynamic_cast<QNL_continuousValue*>(Value(h))->GetSamples()) {
            total += s.weight;
            sum += s.weight * s.value;
        }
        return sum / total;
    }
    // The effective number of the node's weighted samples.
    double Effective(int h) {
        double total = 0.0, squares = 0.0;
        for (const auto& s : dynamic_cast<QNL_continuousValue*>(Value(h))->GetSamples()) {
            total += s.weight;
            squares += s.weight * s.weight;
        }
        return total * total / squares;
    }
    int Update(int algorithm, int samples) {
        net.SetDefaultHBNAlgorithm(algorithm);
        net.SetNumberOfSamples(samples);
        return net.UpdateBeliefs();
    }

    QNL_network net;
};

double Gauss(double x, double mean, double variance) {
    return std::exp(-0.5 * (x - mean) * (x - mean) / variance) / std::sqrt(2.0 * M_PI * variance);
}

// Evidence far in the tail of the prior: likelihood weighting keeps few useful draws, the
// proposal built from the messages nearly all of them.
TEST_F(HybridMessages, MessagesProposeNearThePosterior) {
    const int x = Continuous("X", {"Normal(0, 1)"}, -10.0, 10.0);
    const int y = Continuous("Y", {"Normal(X, 0.3)"}, -20.0, 20.0);
    ASSERT_EQ(net.AddArc(x, y), 0);
    ASSERT_EQ(Value(y)->SetEvidence(3.0), 0);
    const double mean = 3.0 / 1.09;
    ASSERT_EQ(Update(14, 5000), 0);
    const double weighting = Effective(x);
    ASSERT_EQ(Update(13, 5000), 0);
    EXPECT_GT(Effective(x), 20.0 * weighting);
    // Posterior standard deviation 0.29: a tenth of it.
    EXPECT_NEAR(Mean(x), mean, 0.03);
}

// Small polytrees whose discrete beliefs are known by numerical integration: a discrete
// parent of an observed mixture (its message is exact), and a discrete child of a
// continuous node whose other child is observed. There every continuous message is a
// two-component mixture fitted to 250 weighted points: over seeds the belief spreads by
// about 0.05 around 0.59 (0.62 exactly, 0.34 without the evidence), hence 0.12. Importance
// sampling from the same messages is unbiased and meets the tolerance of weighting.
TEST_F(HybridMessages, MessagePassingBeliefsAgreeWithIntegration) {
    const int p = Discrete("P", "0.3", "0.7");
    const int x = Continuous("X", {}, -20.0, 20.0);
    ASSERT_EQ(net.AddArc(p, x), 0);
    ASSERT_EQ(Def(x)->SetExpression(0, "Normal(-1, 1)"), 0);
    ASSERT_EQ(Def(x)->SetExpression(1, "Normal(2, 1)"), 0);
    ASSERT_EQ(Value(x)->SetEvidence(0.8), 0);
    ASSERT_EQ(Update(15, 2000), 0);
    const double a = 0.3 * Gauss(0.8, -1.0, 1.0), b = 0.7 * Gauss(0.8, 2.0, 1.0);
    EXPECT_NEAR(Belief(p), a / (a + b), 0.03);
    EXPECT_TRUE(Value(p)->IsValueValid());
    EXPECT_TRUE(Value(x)->IsValueValid());

    net.DeleteAllNodes();
    const int z = Continuous("Z", {"Normal(0, 1)"}, -8.0, 8.0);
    const int y = Continuous("Y", {"Normal(Z, 1)"}, -12.0, 12.0);
    const int d = Discrete("D", "Z*Z", "1");
    ASSERT_EQ(net.AddArc(z, y), 0);
    ASSERT_EQ(net.AddArc(z, d), 0);
    ASSERT_EQ(Value(y)->SetEvidence(3.0), 0);
    double mass = 0.0;
    for (double t = -8.0; t <= 8.0; t += 1e-3)
        mass += Gauss(t, 1.5, 0.5) * t * t / (1.0 + t * t) * 1e-3;
    ASSERT_EQ(Update(15, 4000), 0);
    EXPECT_NEAR(Belief(d), mass, 0.12);
    EXPECT_NEAR(Mean(z), 1.5, 0.3);
    ASSERT_EQ(Update(13, 20000), 0);
    EXPECT_NEAR(Belief(d), mass, 0.015);
    EXPECT_NEAR(Mean(z), 1.5, 0.03);
}

// An observed equation whose only open parent is discrete has no parent to enforce it
// through: the messages can't carry it and are refused, while likelihood weighting weighs
// the outcomes by the equation.
TEST_F(HybridMessages, EquationEvidenceWithoutAnEnforcingParentIsRefused) {
    const int p = Discrete("P", "0.5", "0.5");
    const int y = Continuous("Y", {}, -5.0, 5.0, QNL_TYPE_HEQUATION);
    ASSERT_EQ(net.AddArc(p, y), 0);
    ASSERT_EQ(Def(y)->SetExpression(0, "1"), 0);
    ASSERT_EQ(Def(y)->SetExpression(1, "2"), 0);
    ASSERT_EQ(Value(y)->SetEvidence(2.0), 0);
    for (int algorithm : {13, 15}) {
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(Update(algorithm, 100), -5) << algorithm;
        EXPECT_EQ(Last(), "No useful samples have been generated for some of nodes.");
        EXPECT_FALSE(Value(p)->IsValueValid());
    }
    ASSERT_EQ(Update(14, 100), 0);
    EXPECT_EQ(Belief(p), 0.0);
}

} // namespace
