#include "definitions/equation.h"
#include "definitions/node_values.h"
#include "inference/equation_solver.h"
#include "numerics/random.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using quarn_test::LastMessage;

class EquationEvidence : public quarn_test::NetworkFixture {
protected:
    void SetUp() override {
        QNL_errorHandler::Instance().Flush();
        for (QNL_random* random : {&QNL_randomUniform(), &QNL_randomMixtures(),
                                   &QNL_randomSamplingNodes(), &QNL_randomSamplingDistributions()})
            random->Seed(99);
        net.SetNumberOfSamples(4000);
    }
    int Node(const std::string& id, const std::string& text, double lower = -10.0,
             double upper = 10.0) {
        const int h = Add(QNL_TYPE_EQUATION, id.c_str());
        auto* definition = dynamic_cast<QNL_equation*>(Def(h));
        EXPECT_EQ(definition->SetEquation(text, nullptr, nullptr), 0) << text;
        EXPECT_EQ(definition->SetBounds(lower, upper), 0);
        return h;
    }
    QNL_equationValue* Value(int h) {
        return dynamic_cast<QNL_equationValue*>(net.GetNode(h)->GetValue());
    }
};

// x ~ N(0, 1) and y = x + e with e ~ N(c, 1): given y = c + 1 the posterior of x is
// N(0.5, 0.5), wherever c puts the noise. The equation may be written for either side, and
// a distribution call may depend on a parent (y / 2 ~ N(x, 1)).
TEST_F(EquationEvidence, ObservedSumGivesTheConditionalMean) {
    const struct {
        const char* y;
        double observed;
    } cases[] = {
        {"y = x + Normal(0, 1)", 1.0},
        {"y - Normal(100, 1) = x", 101.0},
        {"y = x - Normal(-100, 1)", 101.0},
        {"y = 2 * Normal(x, 1)", 2.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.y);
        net.DeleteAllNodes();
        const int x = Node("x", "x = Normal(0, 1)");
        const int y = Node("y", c.y, -200.0, 200.0);
        ASSERT_EQ(Value(y)->SetEvidence(c.observed), 0);
        for (int algorithm : {14, 13, 15}) {
            net.SetDefaultHBNAlgorithm(algorithm);
            ASSERT_EQ(net.UpdateBeliefs(), 0) << LastMessage();
            // Weighted sampling of 4000 draws: standard error of the mean about 0.015. The
            // message passing alone is as good as its mixtures fitted to 250 points (and no
            // narrower than a bin of their node's range).
            EXPECT_NEAR(Value(x)->GetMean(), 0.5, algorithm == 15 ? 0.15 : 0.05) << algorithm;
            EXPECT_TRUE(Value(x)->IsValueValid());
            EXPECT_TRUE(Value(y)->HasEvidence());
        }
    }
}

// A node the evidence determines comes back as propagated evidence; the auxiliary nodes of
// the copy never reach the network.
TEST_F(EquationEvidence, DeterminedNodesComeBackAsPropagatedEvidence) {
    const int x = Node("x", "x = Normal(0, 1)");
    const int y = Node("y", "2 * x + 1 = y");
    const int z = Node("z", "z = y + Normal(0, 1)");
    ASSERT_EQ(Value(y)->SetEvidence(3.0), 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0) << LastMessage();
    ASSERT_TRUE(Value(x)->HasPropagatedEvidence());
    double value = 0.0;
    ASSERT_EQ(Value(x)->GetEvidence(&value), 0);
    EXPECT_NEAR(value, 1.0, 1e-12);
    EXPECT_NEAR(Value(z)->GetMean(), 3.0, 0.1);
    EXPECT_EQ(net.GetNumberOfNodes(), 3);
}

// A constant that can't explain the evidence, reached through the equation or through the
// observed other parent: the update fails and no value stays valid.
TEST_F(EquationEvidence, AFailingHybridUpdateInvalidatesTheValues) {
    for (bool observedParent : {false, true}) {
        SCOPED_TRACE(observedParent);
        net.DeleteAllNodes();
        const int b = Node("b", "b = Normal(0, 1)");
        const int a = Node("a", "a = 2");
        const int c = Node("c", observedParent ? "c = a + b" : "c = 2 * a + Normal(0, 1)");
        ASSERT_EQ(Value(c)->SetEvidence(7.0), 0);
        if (observedParent) {
            ASSERT_EQ(Value(b)->SetEvidence(0.5), 0);
        }
        ASSERT_NE(net.UpdateBeliefs(), 0);
        EXPECT_EQ(LastMessage(), "HBN algorithm failed.");
        EXPECT_FALSE(Value(a)->IsValueValid());
        EXPECT_FALSE(Value(observedParent ? a : b)->IsValueValid());
    }
}

TEST_F(EquationEvidence, AuxiliaryIdentifiersSkipThoseInUse) {
    QNL_network copy;
    int counter = 0;
    std::string ids;
    for (int i = 0; i < 17; ++i)
        ids += QNL_equationSolver::GenerateAuxiliaryId(counter, net, copy) + " ";
    EXPECT_EQ(ids, "b c d e f g h i j k l m n o p ab bb ");
    Add(QNL_TYPE_EQUATION, "b");
    copy.AddNode(QNL_TYPE_HEQUATION, "c");
    counter = 0;
    EXPECT_EQ(QNL_equationSolver::GenerateAuxiliaryId(counter, net, copy), "d");
    EXPECT_EQ(counter, 3);
}

} // namespace
