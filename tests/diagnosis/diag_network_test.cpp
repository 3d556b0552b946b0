#include "diagnosis/diag_engine.h"
#include "diagnosis/diag_network.h"

#include "definitions/extra_definition.h"
#include "definitions/node_value.h"
#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "support/network_builder.h"
#include "support/oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

using quarn_test::ArrayOf;

namespace {

constexpr double kNA = 4 * DBL_MIN;
constexpr double kExcluded = 5 * DBL_MIN;

struct DiagFixture : ::testing::Test {
    QNL_network net;

    int Node(const char* id, int outcomes, std::initializer_list<int> parents,
             const std::vector<double>& table, int type = 2) {
        const int h = net.AddNode(QNL_TYPE_CPT, id);
        EXPECT_EQ(net.GetNode(h)->GetDefinition()->SetNumberOfOutcomes(outcomes), 0);
        for (int p : parents)
            EXPECT_EQ(net.AddArc(p, h), 0);
        EXPECT_EQ(net.GetNode(h)->GetDefinition()->SetDefinition(ArrayOf(table)), 0) << id;
        Extra(h).SetDiagnosisType(type);
        if (type == QNL_diagNetwork::OBSERVATION) Extra(h).SetFlags(1, 0, 0);
        return h;
    }
    int Fault(const char* id, const std::vector<double>& prior, std::vector<int> faulty) {
        const int h = Node(id, static_cast<int>(prior.size()), {}, prior, 0);
        for (int k : faulty)
            Extra(h).SetFaultOutcome(k, true);
        return h;
    }
    QNL_extraDefinition& Extra(int h) { return *net.GetNode(h)->GetExtraDefinition(); }
    void Cost(int h, const std::vector<double>& cells) {
        ASSERT_EQ(net.GetNode(h)->GetCost()->SetCosts(ArrayOf(cells)), 0);
    }
    // The creation sequence the host runs.
    void Start(QNL_diagNetwork& diag) {
        ASSERT_EQ(diag.SetNetwork(&net), 0);
        ASSERT_EQ(diag.CollectFaultsAndTests(), 0);
        diag.ApplyDefaultObservations();
        ASSERT_EQ(diag.UpdateFaultBeliefs(), 0);
        diag.SetPursuedFault(diag.FindMostLikelyFault());
    }
};

// F faulty with 0.1; T1 positive with 0.9 / 0.1; T2 with 0.6 / 0.4.
struct Reference : DiagFixture {
    int f = -1, t1 = -1, t2 = -1;
    void SetUp() override {
        f = Fault("F", {0.1, 0.9}, {0});
        t1 = Node("T1", 2, {f}, {0.9, 0.1, 0.1, 0.9}, 1);
        t2 = Node("T2", 2, {f}, {0.6, 0.4, 0.4, 0.6}, 1);
    }
};

TEST_F(Reference, StrengthsScoresAndSentinels) {
    const int t3 = Node("T3", 2, {}, {0.5, 0.5}, 1); // unrelated to F
    const int t4 = Node("T4", 2, {f}, {0.5, 0.5, 0.5, 0.5}, 1);
    Cost(t1, {2.0});
    Cost(t4, {kNA});
    net.GetUserProperties().AddProperty("DIAG_alphaValue", "0.5");
    QNL_diagNetwork diag;
    Start(diag);
    diag.SetDSep(true);
    ASSERT_EQ(diag.GetPursuedFault(), 0);
    ASSERT_EQ(diag.ComputeTestStrengths(0), 0);
    const auto& r = diag.GetResults();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].test, t1);
    EXPECT_NEAR(r[0].strength, 0.450071, 1e-6);
    EXPECT_EQ(r[0].cost, 2.0);
    EXPECT_NEAR(r[0].score, r[0].strength - 1.0, 1e-12);
    EXPECT_NEAR(r[1].strength, 0.022395, 1e-6);
    EXPECT_EQ(r[1].score, r[1].strength);
    EXPECT_EQ(r[2].test, -2);
    EXPECT_EQ(r[3].test, -1);
    for (double v : {r[2].strength, r[2].cost, r[2].score})
        EXPECT_EQ(std::memcmp(&v, &kExcluded, sizeof v), 0);
    for (double v : {r[3].strength, r[3].cost, r[3].score})
        EXPECT_EQ(std::memcmp(&v, &kNA, sizeof v), 0);
    (void)t3;
}

TEST_F(Reference, CertainFaultMandatoryAndClamp) {
    QNL_diagNetwork diag;
    Start(diag);
    struct Case {
        double strength, stored;
    };
    for (Case c : {Case{-5e-7, 0.0}, Case{-2e-6, -2e-6}}) {
        diag.GetEngine()->AddTestResult(t1, c.strength, 0.0);
        EXPECT_EQ(diag.GetResults().back().strength, c.stored);
    }
    // A fault observed for certain gives H0 = 0, so every strength is 0.
    ASSERT_EQ(diag.InstantiateObservation(f, 0), 0);
    ASSERT_EQ(diag.ComputeTestStrengths(0), 0);
    ASSERT_EQ(diag.GetResults().size(), 2u);
    for (const QNL_testResult& r : diag.GetResults())
        EXPECT_EQ(r.strength, 0.0);
    Extra(t2).SetFlags(1, 1, 0);
    EXPECT_EQ(diag.ComputeTestStrengths(0), -2);
    EXPECT_EQ(diag.GetResults().size(), 2u); // nothing appended
}

TEST_F(Reference, ListsPursuitAndObservations) {
    const int g = Fault("G", {0.1, 0.9}, {0});
    QNL_diagNetwork diag;
    // Reading alpha creates the property.
    diag.SetNetwork(&net);
    EXPECT_EQ(diag.GetAlpha(), 1.0);
    EXPECT_GE(net.GetUserProperties().FindProperty("DIAG_alphaValue"), 0);
    Start(diag);
    EXPECT_EQ(diag.FindMostLikelyFault(), 1); // equal maxima: the later wins
    EXPECT_EQ(diag.SetPursuedFaults(quarn_test::IntsOf({0, 2})), -2);
    EXPECT_EQ(diag.SetPursuedFaults(QNL_intArray()), -2);
    EXPECT_EQ(diag.GetPursuedFault(), 1);
    // The pursued fault follows its node when the list is rebuilt, and drops when gone.
    ASSERT_EQ(net.DeleteNode(f), 0);
    ASSERT_EQ(diag.CollectFaultsAndTests(), 0);
    EXPECT_EQ(diag.GetPursuedFault(), 0);
    EXPECT_EQ(diag.FindFault(g, 0), 0);
    ASSERT_EQ(net.DeleteNode(g), 0);
    ASSERT_EQ(diag.CollectFaultsAndTests(), 0);
    EXPECT_EQ(diag.GetPursuedFaults().GetCount(), 0);
    EXPECT_EQ(diag.FindMostLikelyFault(), -2);
    EXPECT_EQ(diag.ComputeTestStrengths(1), -2);
    // Bad handles and repeated releases.
    EXPECT_EQ(diag.InstantiateObservation(999, 0), -2);
    EXPECT_EQ(diag.ReleaseObservation(-1), -2);
    ASSERT_EQ(diag.InstantiateObservation(t1, 1), 0);
    EXPECT_EQ(diag.GetUnperformedTests().GetCount(), 1);
    ASSERT_EQ(diag.ReleaseObservation(t1), 0);
    diag.ReleaseObservation(t1);
    EXPECT_EQ(diag.GetUnperformedTests().GetCount(), 2);
}

TEST_F(Reference, GroupCostsAndFreshCopies) {
    // A group node adds its own cost to its members' cells, once per ranking.
    const int group = Node("Group", 2, {}, {0.5, 0.5});
    net.GetNode(group)->GetInfo()->properties.AddProperty("DIAG_TESTGROUPCOST", "True");
    Cost(group, {5.0});
    ASSERT_EQ(net.AddArc(group, t1, 1), 0);
    Cost(t1, {1.0, 0.5}); // 0.5 once the group is set up
    QNL_diagNetwork diag;
    Start(diag);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(diag.ComputeTestStrengths(0), 0);
        EXPECT_NEAR(diag.GetResults()[0].cost, 5.5, 1e-12) << round;
    }
    // A test replaced after the copies were first taken is ranked on fresh copies.
    ASSERT_EQ(net.DeleteNode(t2), 0);
    Node("Late", 2, {f}, {0.6, 0.4, 0.4, 0.6}, 1);
    ASSERT_EQ(diag.ComputeTestStrengths(0), 0);
    ASSERT_EQ(diag.GetResults().size(), 2u);
    EXPECT_NEAR(diag.GetResults()[1].strength, 0.022395, 1e-6);
}

TEST_F(Reference, DSeparationLeavesFaultsAboveNoObservationNotUpdated) {
    const int g = Fault("G", {0.3, 0.7}, {0});
    QNL_diagNetwork diag;
    Start(diag);
    diag.SetDSep(true);
    ASSERT_EQ(diag.UpdateFaultBeliefs(), 0); // nothing observed: every fault updated
    EXPECT_TRUE(net.GetNode(g)->GetValue()->IsValueValid());
    ASSERT_EQ(diag.InstantiateObservation(t1, 0), 0);
    ASSERT_EQ(diag.UpdateFaultBeliefs(), 0);
    EXPECT_TRUE(net.GetNode(f)->GetValue()->IsValueValid());
    EXPECT_NEAR(net.GetNode(f)->GetValue()->GetMatrix()->Subscript(0), 0.5, 1e-12);
    EXPECT_FALSE(net.GetNode(g)->GetValue()->IsValueValid());
}

// ---- brute force ----

double Entropy2(double p) {
    return p <= 0 || p >= 1 ? 0.0 : -p * std::log2(p) - (1 - p) * std::log2(1 - p);
}
double PlogP(double p) {
    return p > 0 && p < 1 ? -p * std::log2(p) : 0.0;
}

struct BruteForce : DiagFixture {
    // Posteriors with the network's evidence plus one more observation.
    quarn_test::Enumeration With(int node, int outcome, const std::vector<int>& joint = {}) {
        QNL_network copy(net);
        if (node >= 0) {
            EXPECT_EQ(copy.GetNode(node)->GetValue()->SetEvidence(outcome), 0);
        }
        return quarn_test::Enumerate(copy, joint);
    }
    double Expected(const std::vector<std::pair<int, int>>& pursued, int test, int method, int mode,
                    const std::vector<int>& faultNodes, const std::vector<int>& base) {
        auto measure = [&](const quarn_test::Enumeration& e) {
            if (method == 0) { // single fault
                return Entropy2(e.Posterior(pursued[0].first)[pursued[0].second]);
            }
            if (method == 4) { // squared distance from one half
                double s = 0;
                for (auto [node, o] : pursued) {
                    double d = e.Posterior(node)[o] - 0.5;
                    s += d * d;
                }
                return 4.0 / static_cast<double>(pursued.size()) * s - 1.0;
            }
            if (method == 1) { // marginal, c = 1
                const double n = static_cast<double>(pursued.size());
                double s = 0;
                for (auto [node, o] : pursued) {
                    double d = e.Posterior(node)[o] - 1.0;
                    s += d * d;
                }
                return s / n - 1.0;
            }
            // entropy over configurations of the fault nodes matching the mode
            std::vector<int> x(faultNodes.size(), 0);
            double g = 0, total = 0;
            for (std::size_t cell = 0;; ++cell) {
                int count = 0;
                for (std::size_t k = 0; k < faultNodes.size(); ++k)
                    for (auto [node, o] : pursued)
                        if (node == faultNodes[k] && o == x[k]) ++count;
                bool match = mode == 0   ? count >= 1
                             : mode == 1 ? count == 1
                                         : count == int(faultNodes.size());
                if (match) {
                    double p = 1;
                    if (method == 2) {
                        for (std::size_t k = 0; k < x.size(); ++k)
                            p *= e.Posterior(faultNodes[k])[x[k]];
                    } else {
                        p = e.joint[cell];
                    }
                    g += PlogP(p);
                    total += p;
                }
                std::size_t k = x.size();
                while (k-- > 0 && ++x[k] == base[k])
                    x[k] = 0;
                if (k == std::size_t(-1)) break;
            }
            return g + PlogP(1 - total);
        };
        const auto now = With(-1, 0, faultNodes);
        const double m0 = measure(now);
        double mt = 0;
        const auto& pt = now.Posterior(test);
        for (std::size_t s = 0; s < pt.size(); ++s)
            if (pt[s] > 0) mt += pt[s] * measure(With(test, int(s), faultNodes));
        if (method == 0) return m0 != 0 ? std::fabs(m0 - mt) / m0 : 0.0;
        return m0 != 0 ? (m0 - mt) / m0 : 0.0;
    }
};

TEST_F(BruteForce, EveryMethodMatchesEnumeration) {
    const int f1 = Fault("F1", {0.2, 0.5, 0.3}, {0, 2});
    const int f2 = Fault("F2", {0.7, 0.3}, {1});
    const int c = Node("C", 2, {}, {0.4, 0.6});
    const int t1 =
        Node("T1", 2, {f1, f2}, {0.9, 0.1, 0.3, 0.7, 0.6, 0.4, 0.2, 0.8, 0.5, 0.5, 0.1, 0.9}, 1);
    const int t2 = Node("T2", 3, {f1}, {0.7, 0.2, 0.1, 0.1, 0.1, 0.8, 0.3, 0.3, 0.4}, 1);
    const int t3 = Node("T3", 2, {f2, c}, {0.9, 0.1, 0.5, 0.5, 0.2, 0.8, 0.4, 0.6}, 1);
    const int t4 = Node("T4", 2, {t2}, {0.6, 0.4, 0.3, 0.7, 0.8, 0.2}, 1);
    ASSERT_EQ(net.AddArc(c, t1, 1), 0);
    Cost(t1, {3.0, kNA}); // unavailable when C = 1
    ASSERT_EQ(net.AddArc(c, t3, 1), 0);
    Cost(t3, {1.0, 2.0});
    ASSERT_EQ(t4 - t1, 3);
    QNL_diagNetwork diag;
    Start(diag);
    ASSERT_EQ(diag.InstantiateObservation(t4, 0), 0);
    // Faults: (F1,0) (F1,2) (F2,1).
    struct Case {
        std::vector<int> pursued;
        int flags, method, mode;
        bool dsep = false; // T3 is then left out: it lies below F2 only
    };
    for (const Case& k :
         {Case{{1}, 0, 0, 0}, Case{{2}, 0, 0, 0}, Case{{0, 2}, 1, 1, 0}, Case{{0, 1, 2}, 2, 2, 0},
          Case{{0, 2}, 2 | 16, 2, 1}, Case{{0, 2}, 2 | 32, 2, 2}, Case{{0, 2}, 4, 3, 0},
          Case{{1, 2}, 4 | 16, 3, 1}, Case{{0}, 0, 0, 0, true}, Case{{0, 1}, 4, 3, 0, true},
          Case{{0, 1}, 1 | 64, 4, 0, true}}) {
        diag.SetDSep(k.dsep);
        ASSERT_EQ(diag.SetPursuedFaults(quarn_test::IntsOf(k.pursued)), 0);
        ASSERT_EQ(diag.ComputeTestStrengths(k.flags), 0) << k.flags;
        std::vector<std::pair<int, int>> pursued;
        for (int i : k.pursued)
            pursued.push_back({diag.GetFaults()[i].node, diag.GetFaults()[i].outcome});
        // The entropies are over the pursued faults' nodes only.
        std::vector<int> faultNodes, base;
        for (auto [node, o] : pursued)
            if (std::find(faultNodes.begin(), faultNodes.end(), node) == faultNodes.end()) {
                faultNodes.push_back(node);
                base.push_back(node == f1 ? 3 : 2);
            }
        const auto& r = diag.GetResults();
        ASSERT_EQ(r.size(), 3u);
        std::size_t i = 0;
        for (int t : {t1, t2, t3}) {
            if (k.dsep && t == t3) {
                EXPECT_EQ(r[i].test, -2);
                break;
            }
            SCOPED_TRACE(::testing::Message() << "flags " << k.flags << " test " << t);
            EXPECT_EQ(r[i].test, t);
            EXPECT_NEAR(r[i].strength, Expected(pursued, t, k.method, k.mode, faultNodes, base),
                        1e-9);
            ++i;
        }
        // The cost of T1 is C's expectation with the unavailable cell left out.
        EXPECT_NEAR(r[0].cost, 3.0, 1e-12);
        const std::vector<double> pc = With(-1, 0).Posterior(c);
        if (!k.dsep) {
            EXPECT_NEAR(r[2].cost, pc[0] + 2.0 * pc[1], 1e-12);
        }
    }
}

} // namespace
