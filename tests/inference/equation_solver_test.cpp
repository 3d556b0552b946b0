#include "definitions/equation.h"
#include "definitions/equation_scc.h"
#include "definitions/node_values.h"
#include "inference/bayesian_algorithms.h"
#include "inference/equation_solver.h"
#include "numerics/random.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <tuple>

namespace {

using quarn_test::LastMessage;

std::string Number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

class EquationSolver : public quarn_test::NetworkFixture {
protected:
    int Node(int type, const std::string& id, const std::string& text = "") {
        const int h = Add(type, id.c_str());
        EXPECT_TRUE(text.empty() || Set(h, text) == 0) << text;
        return h;
    }
    int Set(int h, const std::string& text) { return Eq(h)->SetEquation(text, nullptr, nullptr); }
    void Members(int h, const std::vector<std::string>& ids) {
        ASSERT_EQ(dynamic_cast<QNL_equationSCC*>(Def(h))->SetMembers(quarn_test::StringsOf(ids)),
                  0);
    }
    QNL_equation* Eq(int h) { return dynamic_cast<QNL_equation*>(Def(h)); }
    QNL_equationValue* Value(int h) {
        return dynamic_cast<QNL_equationValue*>(net.GetNode(h)->GetValue());
    }
};

// Each network holds two random linear sets, each fed by a parent added after its members
// (every set gets its own iteration budget and sees its parents' values), and an acyclic
// network of nonlinear equations, some written as "c * id = ...", added in a shuffled handle
// order. Every value equals the constructed solution or the one computed here.
TEST_F(EquationSolver, RandomSetsAndAcyclicNetworksMatchTheirConstruction) {
    std::mt19937 random(7), shuffle(11);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int trial = 0; trial < 10; ++trial) {
        net.DeleteAllNodes();
        std::vector<std::tuple<int, double, double>> solved; // handle, value, tolerance
        for (int s = 0; s < 2; ++s) {
            const int n = 2 + static_cast<int>(random() % 5);
            std::vector<std::string> ids;
            std::vector<int> handles;
            for (int k = 0; k < n; ++k) {
                ids.push_back("s" + std::to_string(s) + "m" + std::to_string(k));
                handles.push_back(Node(QNL_TYPE_EQUATION_SCC, ids.back()));
            }
            const std::string p = "p" + std::to_string(s);
            const double pValue = 4.0 * uniform(random);
            const int ph = Node(QNL_TYPE_EQUATION, p, p + " = " + Number(pValue));
            std::vector<double> solution(n);
            for (double& v : solution)
                v = 10.0 * uniform(random);
            for (int k = 0; k < n; ++k) {
                std::vector<std::string> others(ids);
                others.erase(others.begin() + k);
                Members(handles[k], others);
                ASSERT_EQ(net.AddArc(ph, handles[k]), 0);
                // m_k = sum_j c_kj m_j + p + d_k, with small c so the set is well conditioned.
                std::string text = ids[k] + " = " + p;
                double rest = solution[k] - pValue;
                for (int j = 0; j < n; ++j) {
                    if (j == k) continue;
                    const double c = 0.3 * uniform(random);
                    text += " + " + Number(c) + " * " + ids[j];
                    rest -= c * solution[j];
                }
                text += " + " + Number(rest);
                ASSERT_EQ(Set(handles[k], text), 0) << text;
                solved.emplace_back(handles[k], solution[k], 1e-9);
            }
        }
        const int n = 12;
        std::vector<int> slot(n), handle(n);
        std::vector<double> expected(n);
        std::iota(slot.begin(), slot.end(), 0);
        std::shuffle(slot.begin(), slot.end(), shuffle);
        for (int i = 0; i < n; ++i)
            handle[slot[i]] = Node(QNL_TYPE_EQUATION, "n" + std::to_string(slot[i]));
        for (int i = 0; i < n; ++i) {
            const std::string id = "n" + std::to_string(i);
            const double c = 1.0 + static_cast<double>(shuffle() % 5);
            std::string text = id + " = " + Number(c);
            double value = c;
            if (i >= 2) {
                const int a = static_cast<int>(shuffle() % i), b = static_cast<int>(shuffle() % i);
                const std::string pa = "n" + std::to_string(a), pb = "n" + std::to_string(b);
                value = c * std::sin(expected[a]) +
                        std::sqrt(expected[b] * expected[b]) / (1 + std::exp(expected[a] * 0.1));
                text = Number(c) + "*Sin(" + pa + ") + Sqrt(Sqr(" + pb + "))/(1 + Exp(" + pa +
                       "*0.1))";
                const bool scaled = shuffle() % 2 == 0;
                text = (scaled ? Number(c) + "*" : "") + id + " = " + text;
                if (scaled) value /= c;
            }
            expected[i] = value;
            ASSERT_EQ(Set(handle[i], text), 0) << text;
            solved.emplace_back(handle[i], value, 1e-12 * (1 + std::fabs(value)));
        }
        ASSERT_EQ(net.UpdateBeliefs(), 0) << LastMessage();
        for (const auto& [h, v, tolerance] : solved) {
            EXPECT_NEAR(Value(h)->GetMean(), v, tolerance);
            EXPECT_TRUE(Value(h)->IsValueValid());
            EXPECT_EQ(Value(h)->GetStandardDeviation(), 0.0);
        }
    }
}

TEST_F(EquationSolver, SamplingGivesTheMomentsOfTheDraws) {
    const int x = Node(QNL_TYPE_EQUATION, "x", "x = Normal(0, 1)");
    const int y = Node(QNL_TYPE_EQUATION, "y", "y = x + Normal(0, 1)");
    ASSERT_EQ(net.SetNumberOfSamples(20000), 0);
    QNL_randomUniform().Seed(2024);
    ASSERT_EQ(net.UpdateBeliefs(), 0) << LastMessage();
    EXPECT_EQ(Value(y)->GetSampleCount(), 20000);
    // Standard errors: 0.01 for the mean, under 0.01 for the deviation.
    EXPECT_NEAR(Value(y)->GetMean(), 0.0, 0.04);
    EXPECT_NEAR(Value(y)->GetStandardDeviation(), std::sqrt(2.0), 0.04);
    EXPECT_NEAR(Value(x)->GetStandardDeviation(), 1.0, 0.03);
    const double first = Value(y)->GetMean();
    QNL_randomUniform().Seed(2024);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_EQ(Value(y)->GetMean(), first);
}

// b settles near -1.3e12, where a fixed step of 1e-6 would vanish in the rounding of b.
TEST_F(EquationSolver, LargeNegativeValuesAreDifferenced) {
    const int a = Node(QNL_TYPE_EQUATION_SCC, "a");
    const int b = Node(QNL_TYPE_EQUATION_SCC, "b");
    const int p = Node(QNL_TYPE_EQUATION, "p", "p = -4e12");
    Members(a, {"b"});
    Members(b, {"a"});
    ASSERT_EQ(net.AddArc(p, a), 0);
    ASSERT_EQ(Set(a, "a = (p + b) / 1e12"), 0);
    ASSERT_EQ(Set(b, "b = 2.5e11 * a"), 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0) << LastMessage();
    EXPECT_NEAR(Value(a)->GetMean(), -16.0 / 3, 1e-9);
    EXPECT_NEAR(Value(b)->GetMean(), -4e12 / 3, 1e-3);
}

TEST_F(EquationSolver, RefusalsAndFailedSetsAreReported) {
    const char* setFailed = "Faile in computing SCC.";
    const int kGone = -1;
    const struct {
        const char* name;
        const char* equation; // of the set node "a"
        int extra;            // another node's type, 0 for none, or kGone
        const char* message;
    } cases[] = {
        {"hybrid", "a = 1", QNL_TYPE_CPT, "Unable to handle hybrid networks with equation solver."},
        {"random set", "a = Normal(0, 1)", 0,
         "Unable to sovle a network contains strongly-coupled components with distribution "
         "definitions."},
        {"no root", "a = a^2 + 1", 0, setFailed},
        {"singular", "a = a + 1", 0, setFailed},
        {"not finite", "a = Ln(a - 10)", 0, setFailed},
        {"member no longer a set", "a = 1", kGone, setFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        net.DeleteAllNodes();
        QNL_errorHandler::Instance().Flush();
        const int a = Node(QNL_TYPE_EQUATION_SCC, "a");
        if (c.extra > 0) Node(c.extra, "other");
        if (c.extra == kGone) {
            // A type change out of the set drops the member; a definition taken over as it was
            // before (Assign checks no members) names it again.
            const int gone = Node(QNL_TYPE_EQUATION_SCC, "gone");
            Members(a, {"gone"});
            std::unique_ptr<QNL_nodeDefinition> before(Def(a)->CreateCopy());
            ASSERT_EQ(net.GetNode(gone)->SetType(QNL_TYPE_EQUATION), 0);
            ASSERT_EQ(Def(a)->Assign(*before), 0);
        }
        ASSERT_EQ(Set(a, c.equation), 0);
        QNL_equationSolver solver(&net);
        solver.SetIterationCap(50);
        EXPECT_EQ(solver.Solve(), -2);
        EXPECT_EQ(LastMessage(), c.message);
        EXPECT_FALSE(Value(a)->IsValueValid());
    }
    QNL_errorHandler::Instance().Flush();
}

// x of x = Cos(0.5 Sin(Exp(-x))) by bisection: the function rises through its root in [0, 1].
double CosSinExpRoot() {
    double low = 0.0, high = 1.0;
    while (true) {
        const double middle = 0.5 * (low + high);
        if (middle <= low || middle >= high) return middle;
        (middle - std::cos(0.5 * std::sin(std::exp(-middle))) < 0.0 ? low : high) = middle;
    }
}

// A set succeeds only where its equations hold, however small its values: each root is
// compared with its closed form or an independent computation, and a set without a root
// fails, whether Newton's steps wander or stop short of a root.
TEST_F(EquationSolver, SetsSucceedOnlyAtARoot) {
    const double x = CosSinExpRoot();
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> members; // id, equation
        std::vector<double> roots;                                // empty: no root
        double tolerance = 1e-10;                                 // relative
    } cases[] = {
        {"small quadratic", {{"a", "a = 2e-5 + 1e4*a^2"}}, {(1 - std::sqrt(0.2)) / 2e4}},
        {"small product",
         {{"a", "a^2 = 1.8e-5*(0.1 - a)"}},
         {(std::sqrt(1.8e-5 * 1.8e-5 + 7.2e-6) - 1.8e-5) / 2}},
        {"quadratic", {{"a", "a = 0.2 + a^2"}}, {(1 - std::sqrt(0.2)) / 2}},
        {"exp and log",
         {{"a", "a = Exp(-b)"}, {"b", "b = Ln(2 + a)"}},
         {std::sqrt(2.0) - 1, std::log(1 + std::sqrt(2.0))}},
        {"cos, sin and exp",
         {{"x", "x = Cos(y)"}, {"y", "y = 0.5*Sin(z)"}, {"z", "z = Exp(-x)"}},
         {x, 0.5 * std::sin(std::exp(-x)), std::exp(-x)}},
        // Forward differences stall short of a double root; it is known to the square root
        // of the rounding only.
        {"double root", {{"a", "(a - 1)^2 = 0"}}, {1.0}, 1e-6},
        {"no real root, steps wander", {{"a", "a = 1e8*a^2 + a + 0.01"}}, {}},
        {"no root, steps vanish at a jump", {{"a", "a = 1 + 1e300*(a > 0)"}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        net.DeleteAllNodes();
        QNL_errorHandler::Instance().Flush();
        std::vector<int> handles;
        for (const auto& member : c.members)
            handles.push_back(Node(QNL_TYPE_EQUATION_SCC, member.first));
        for (std::size_t k = 0; k < c.members.size(); ++k) {
            std::vector<std::string> others;
            for (const auto& member : c.members)
                if (member.first != c.members[k].first) others.push_back(member.first);
            Members(handles[k], others);
            ASSERT_EQ(Set(handles[k], c.members[k].second), 0);
        }
        if (c.roots.empty()) {
            EXPECT_EQ(net.UpdateBeliefs(), -2);
            EXPECT_EQ(LastMessage(), "Faile in computing SCC.");
            EXPECT_FALSE(Value(handles[0])->IsValueValid());
            continue;
        }
        ASSERT_EQ(net.UpdateBeliefs(), 0) << LastMessage();
        for (std::size_t k = 0; k < handles.size(); ++k)
            EXPECT_NEAR(Value(handles[k])->GetMean(), c.roots[k],
                        c.tolerance * std::fabs(c.roots[k]))
                << c.members[k].first;
    }
    QNL_errorHandler::Instance().Flush();
}

// Equation nodes within bounds, sampled 4000 times from seeded generators.
class EquationEvidence : public EquationSolver {
protected:
    void SetUp() override {
        EquationSolver::SetUp();
        for (QNL_random* random : {&QNL_randomUniform(), &QNL_randomMixtures(),
                                   &QNL_randomSamplingNodes(), &QNL_randomSamplingDistributions()})
            random->Seed(99);
        net.SetNumberOfSamples(4000);
    }
    int Node(const std::string& id, const std::string& text, double lower = -10.0,
             double upper = 10.0) {
        const int h = EquationSolver::Node(QNL_TYPE_EQUATION, id, text);
        EXPECT_EQ(Eq(h)->SetBounds(lower, upper), 0);
        return h;
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
        for (int algorithm : {QNL_ALG_HBN_LIKELIHOOD_WEIGHTING, QNL_ALG_HBN_PROPAGATED_IMPORTANCE,
                              QNL_ALG_HBN_MESSAGE_PASSING}) {
            net.SetDefaultHBNAlgorithm(algorithm);
            ASSERT_EQ(net.UpdateBeliefs(), 0) << LastMessage();
            // Weighted sampling of 4000 draws: standard error of the mean about 0.015. The
            // message passing alone is as good as its mixtures fitted to 250 points (and no
            // narrower than a bin of their node's range).
            EXPECT_NEAR(Value(x)->GetMean(), 0.5,
                        algorithm == QNL_ALG_HBN_MESSAGE_PASSING ? 0.15 : 0.05)
                << algorithm;
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
        const int c = Node("c", observedParent ? "c = a + b" : "c = 2 * a + Uniform(0, 1)");
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
