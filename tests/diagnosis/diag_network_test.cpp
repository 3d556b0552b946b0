#include "diagnosis/diag_engine.h"
#include "diagnosis/diag_network.h"
#include "diagnosis/result_order.h"

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

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

using quarn_test::ArrayOf;
using namespace quarn::detail;

namespace {

constexpr double kNA = 4 * DBL_MIN;
constexpr double kExcluded = 5 * DBL_MIN;

// F faulty with 0.1; T1 positive with 0.9 / 0.1; T2 with 0.6 / 0.4.
struct Reference : ::testing::Test {
    QNL_network net;
    int f = -1, t1 = -1, t2 = -1;

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

TEST(ResultOrder, ObservationsPutRealScoresFirstThenSentinelsThenNaN) {
    std::vector<ObservationRecord> r;
    const std::vector<double> scores{NAN, kNA, 0.2, kExcluded, -0.5, 0.2, NAN, 0.7, kNA};
    for (std::size_t i = 0; i < scores.size(); ++i)
        r.push_back({static_cast<int>(i), 0.0, 0.0, scores[i]});
    SortObservations(r);
    std::vector<int> order;
    for (const ObservationRecord& o : r)
        order.push_back(o.node);
    // Equal records keep their list order.
    EXPECT_EQ(order, (std::vector<int>{7, 2, 5, 4, 3, 1, 8, 0, 6}));
}

TEST(ResultOrder, FaultsByProbabilityThenPursuedThenNodeAndOutcome) {
    std::vector<FaultRecordOut> r{
        {0, 5, 1, 0.3, false},      {1, 5, 0, 0.3, false}, {2, 4, 2, 0.3, true},
        {3, 6, 0, kExcluded, true}, {4, 1, 0, 0.0, false}, {5, 2, 0, NAN, false},
        {6, 3, 0, 0.3, false},      {7, 9, 0, 0.9, false},
    };
    SortFaults(r);
    std::vector<int> order;
    for (const FaultRecordOut& f : r)
        order.push_back(f.index);
    EXPECT_EQ(order, (std::vector<int>{7, 2, 6, 1, 0, 4, 3, 5}));
}

} // namespace
