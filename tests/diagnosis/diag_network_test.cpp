#include "diagnosis/diag_engine.h"
#include "diagnosis/diag_network.h"
#include "diagnosis/result_order.h"

#include "definitions/extra_definition.h"
#include "definitions/node_value.h"
#include "inference/join_tree_cache.h"
#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using quarn_test::ArrayOf;
using quarn_test::Enumeration;
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

// A random diagnostic network: two or three faults (two or three outcomes, one or two of them
// faulty), an auxiliary node below them, a root C that is a cost parent, and four tests below
// faults, the auxiliary node or C. Costs: none, constant, or over C with at most one "NA"
// cell; on odd seeds a group node G whose own cost is added to the tests below it by cost
// arcs; on seeds divisible by three one test is performed.
struct RandomDiag {
    QNL_network net;
    std::vector<int> faults, tests;
    int c = -1, group = -1;

    std::vector<double> Column(quarn_test::TestRandom& random, int outcomes) {
        std::vector<double> p(static_cast<std::size_t>(outcomes));
        double sum = 0.0;
        for (double& x : p)
            sum += x = 0.1 + random.Uniform();
        for (double& x : p)
            x /= sum;
        return p;
    }
    int Node(quarn_test::TestRandom& random, const std::string& id, int outcomes,
             const std::vector<int>& parents, int type) {
        const int h = net.AddNode(QNL_TYPE_CPT, id.c_str());
        net.GetNode(h)->GetDefinition()->SetNumberOfOutcomes(outcomes);
        int columns = 1;
        for (int p : parents) {
            net.AddArc(p, h);
            columns *= net.GetNode(p)->GetDefinition()->GetNumberOfOutcomes();
        }
        std::vector<double> table;
        for (int k = 0; k < columns; ++k) {
            const std::vector<double> column = Column(random, outcomes);
            table.insert(table.end(), column.begin(), column.end());
        }
        net.GetNode(h)->GetDefinition()->SetDefinition(ArrayOf(table));
        net.GetNode(h)->GetExtraDefinition()->SetDiagnosisType(type);
        if (type == QNL_diagNetwork::OBSERVATION)
            net.GetNode(h)->GetExtraDefinition()->SetFlags(1, 0, 0);
        return h;
    }
    void Costs(quarn_test::TestRandom& random, int t, int cells) {
        std::vector<double> cost(static_cast<std::size_t>(cells));
        for (double& x : cost)
            x = 1.0 + random.Below(9);
        if (cells > 1 && random.Below(2) == 0)
            cost[static_cast<std::size_t>(random.Below(cells))] = kNA;
        ASSERT_EQ(net.GetNode(t)->GetCost()->SetCosts(ArrayOf(cost)), 0);
    }

    explicit RandomDiag(std::uint64_t seed) {
        quarn_test::TestRandom random(seed);
        const int faultCount = 2 + random.Below(2);
        for (int i = 0; i < faultCount; ++i) {
            const int outcomes = 2 + random.Below(2);
            faults.push_back(Node(random, "F" + std::to_string(i), outcomes, {}, 0));
            QNL_extraDefinition* extra = net.GetNode(faults.back())->GetExtraDefinition();
            extra->SetFaultOutcome(0, true);
            if (outcomes == 3 && random.Below(2) == 0) extra->SetFaultOutcome(2, true);
        }
        const int aux = Node(random, "A", 2, {faults[0], faults[1]}, 2);
        c = Node(random, "C", 2, {}, 2);
        if (seed % 2 == 1) {
            group = Node(random, "G", 2, {}, 2);
            net.GetNode(group)->GetInfo()->properties.AddProperty("DIAG_TESTGROUPCOST", "True");
            Costs(random, group, 1);
        }
        const std::vector<int> candidates = {faults[0], faults[1], faults.back(), aux, c};
        for (int i = 0; i < 4; ++i) {
            std::vector<int> parents = {faults[static_cast<std::size_t>(i) % faults.size()]};
            const int other = candidates[static_cast<std::size_t>(random.Below(5))];
            if (other != parents[0]) parents.push_back(other);
            const int t = Node(random, "T" + std::to_string(i), 2 + random.Below(2), parents, 1);
            tests.push_back(t);
            const int kind = random.Below(4);
            int cells = 1;
            if (kind >= 2) {
                net.AddArc(c, t, 1);
                cells *= 2;
            }
            if (group >= 0 && (kind == 1 || kind == 3)) {
                net.AddArc(group, t, 1);
                cells *= 2;
            }
            if (kind > 0) Costs(random, t, cells);
        }
    }
};

std::vector<int> Descendants(const QNL_network& net, const std::vector<int>& from) {
    std::vector<char> seen(static_cast<std::size_t>(net.GetLastNode() + 1), 0);
    std::vector<int> stack(from), out;
    while (!stack.empty()) {
        const int h = stack.back();
        stack.pop_back();
        const QNL_intArray& children = net.GetChildren(h);
        for (int i = 0; i < children.GetCount(); ++i)
            if (!seen[static_cast<std::size_t>(children[i])]) {
                seen[static_cast<std::size_t>(children[i])] = 1;
                out.push_back(children[i]);
                stack.push_back(children[i]);
            }
    }
    return out;
}

double PlogP(double p) {
    return p > 0 && p < 1 ? -p * std::log2(p) : 0.0;
}

struct Method {
    int flags;
    int kind; // 0 single fault, 1 marginals, 2 product entropy, 3 joint entropy
    int mode; // entropies: any / exactly one / all pursued outcomes
};

// The measure of a ranking method on the enumerated posteriors; `nodes` are the pursued
// faults' nodes, `sizes` their outcome counts.
double Measure(const Method& m, const Enumeration& e, const std::vector<QNL_faultRecord>& pursued,
               const std::vector<int>& nodes, const std::vector<int>& sizes) {
    const double n = static_cast<double>(pursued.size());
    if (m.kind == 0) {
        const double p = e.Posterior(pursued[0].node)[static_cast<std::size_t>(pursued[0].outcome)];
        return PlogP(p) + PlogP(1 - p);
    }
    if (m.kind == 1) {
        double s = 0;
        for (const QNL_faultRecord& f : pursued) {
            const double p = e.Posterior(f.node)[static_cast<std::size_t>(f.outcome)];
            s += m.flags & 64 ? (p - 0.5) * (p - 0.5) : (p - 1) * (p - 1);
        }
        return m.flags & 64 ? 4.0 / n * s - 1.0 : s / n - 1.0;
    }
    std::vector<int> x(nodes.size(), 0);
    double g = 0, total = 0;
    for (std::size_t cell = 0;; ++cell) {
        int count = 0;
        for (std::size_t k = 0; k < nodes.size(); ++k)
            for (const QNL_faultRecord& f : pursued)
                if (f.node == nodes[k] && f.outcome == x[k]) ++count;
        if (m.mode == 0 ? count >= 1 : m.mode == 1 ? count == 1 : count == int(nodes.size())) {
            double p = m.kind == 3 ? e.joint[cell] : 1.0;
            for (std::size_t k = 0; m.kind == 2 && k < nodes.size(); ++k)
                p *= e.Posterior(nodes[k])[static_cast<std::size_t>(x[k])];
            g += PlogP(p);
            total += p;
        }
        std::size_t k = x.size();
        while (k-- > 0 && ++x[k] == sizes[k])
            x[k] = 0;
        if (k == std::size_t(-1)) break;
    }
    return g + PlogP(1 - total);
}

// The expected cost of a test: its cost cells over the free cost parents weighted by their
// posteriors, "NA" cells left out; cost parents in `fixed` (node, outcome) are held there.
// `added` is added to every available cell.
double ExpectedCost(const QNL_network& net, int t, const Enumeration& e,
                    const std::vector<std::pair<int, int>>& fixed, double added) {
    const QNL_Dmatrix& cells = net.GetNode(t)->GetCost()->GetCosts();
    if (cells.GetSize() == 0) return 0.0;
    const QNL_intArray& parents = net.GetParents(t, 1);
    double sum = 0, weights = 0;
    for (int cell = 0; cell < cells.GetSize(); ++cell) {
        double w = 1.0;
        for (int i = 0, rest = cell; i < parents.GetCount(); ++i) {
            const int stride = cells.GetMultiplier(i);
            const int o = rest / stride;
            rest %= stride;
            bool held = false;
            for (auto [node, outcome] : fixed)
                if (node == parents[i]) {
                    held = true;
                    if (outcome != o) w = 0.0;
                }
            if (!held) w *= e.Posterior(parents[i])[static_cast<std::size_t>(o)];
        }
        const double v = cells.Subscript(cell);
        if (v == kNA || w == 0.0) continue;
        sum += w * (v + added);
        weights += w;
    }
    return weights > 0 ? sum / weights : 0.0;
}

// Every ranking method on random diagnostic networks, with the d-separation option off and
// on: each strength and cost equals what enumeration of the joint gives (the posteriors of
// the faults and tests, the entropies, the expected costs); the same rankings with kept
// trees and reductions and without them agree bit for bit; a ranking repeated with nothing
// changed builds no tree and reduces nothing anew.
TEST(DiagRandomTest, RankingsMatchEnumerationAndFreshUpdates) {
    const Method methods[] = {{0, 0, 0},      {1, 1, 0},      {1 | 64, 1, 0}, {2, 2, 0},
                              {2 | 16, 2, 1}, {2 | 32, 2, 2}, {4, 3, 0},      {4 | 16, 3, 1}};
    int compared = 0;
    for (std::uint64_t seed = 1; seed <= 24; ++seed) {
        RandomDiag d(seed);
        QNL_network& net = d.net;
        QNL_diagNetwork diag, fresh;
        for (QNL_diagNetwork* x : {&diag, &fresh}) {
            ASSERT_EQ(x->SetNetwork(&net), 0);
            ASSERT_EQ(x->CollectFaultsAndTests(), 0);
        }
        fresh.GetEngine()->GetFirstNetwork().GetJoinTreeCache().SetBudget(0);
        fresh.GetEngine()->GetSecondNetwork().GetJoinTreeCache().SetBudget(0);
        if (seed % 3 == 0) {
            ASSERT_EQ(diag.InstantiateObservation(d.tests[seed % 4], 1), 0);
            ASSERT_EQ(fresh.CollectFaultsAndTests(), 0);
        }
        const Enumeration now = quarn_test::Enumerate(net);
        // A group's cost is paid once: not again when a test below it was performed.
        const bool groupApplies =
            d.group >= 0 &&
            !(seed % 3 == 0 && net.GetParents(d.tests[seed % 4], 1).IsInList(d.group));
        for (const bool dsep : {false, true}) {
            for (const Method& m : methods) {
                const std::string label = "seed " + std::to_string(seed) + " flags " +
                                          std::to_string(m.flags) + (dsep ? " dsep" : "");
                SCOPED_TRACE(label);
                // Single fault: the first fault's first faulty outcome; else every fault.
                QNL_intArray chosen;
                for (int i = 0; i < diag.GetNumberOfFaults(); ++i)
                    if (m.kind != 0 || i == 0) chosen.Add(i);
                std::vector<QNL_faultRecord> pursued;
                std::vector<int> nodes, sizes;
                for (int i = 0; i < chosen.GetCount(); ++i) {
                    const QNL_faultRecord f = diag.GetFaults()[static_cast<std::size_t>(chosen[i])];
                    pursued.push_back(f);
                    if (nodes.empty() || nodes.back() != f.node) {
                        nodes.push_back(f.node);
                        sizes.push_back(
                            net.GetNode(f.node)->GetDefinition()->GetNumberOfOutcomes());
                    }
                }
                for (QNL_diagNetwork* x : {&diag, &fresh}) {
                    x->SetDSep(dsep);
                    ASSERT_EQ(x->SetPursuedFaults(chosen), 0);
                    ASSERT_EQ(x->ComputeTestStrengths(m.flags), 0);
                }
                const std::vector<QNL_testResult>& r = diag.GetResults();
                ASSERT_EQ(r.size(), fresh.GetResults().size());
                for (std::size_t i = 0; i < r.size(); ++i) {
                    const QNL_testResult& o = fresh.GetResults()[i];
                    EXPECT_EQ(r[i].test, o.test);
                    for (auto [a, b] :
                         {std::pair{r[i].strength, o.strength}, std::pair{r[i].cost, o.cost},
                          std::pair{r[i].score, o.score}})
                        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << i;
                }
                ++compared;

                const Enumeration base = quarn_test::Enumerate(net, nodes);
                const double m0 = Measure(m, base, pursued, nodes, sizes);
                std::vector<int> below;
                for (const QNL_faultRecord& f : pursued)
                    for (int h : Descendants(net, {f.node}))
                        below.push_back(h);
                const QNL_intArray& tests = diag.GetUnperformedTests();
                ASSERT_EQ(static_cast<int>(r.size()), tests.GetCount());
                for (int i = 0; i < tests.GetCount(); ++i) {
                    const int t = tests[i];
                    if (dsep && std::find(below.begin(), below.end(), t) == below.end()) {
                        EXPECT_EQ(r[static_cast<std::size_t>(i)].test, -2) << t;
                        continue;
                    }
                    ASSERT_EQ(r[static_cast<std::size_t>(i)].test, t);
                    double mt = 0;
                    const std::vector<double>& pt = base.Posterior(t);
                    for (std::size_t s = 0; s < pt.size(); ++s) {
                        if (pt[s] <= 0) continue;
                        QNL_network copy(net);
                        copy.GetNode(t)->GetValue()->SetEvidence(static_cast<int>(s));
                        mt += pt[s] *
                              Measure(m, quarn_test::Enumerate(copy, nodes), pursued, nodes, sizes);
                    }
                    const double strength = m0 == 0       ? 0.0
                                            : m.kind == 0 ? std::fabs(m0 - mt) / m0
                                                          : (m0 - mt) / m0;
                    EXPECT_NEAR(r[static_cast<std::size_t>(i)].strength, strength, 1e-9) << t;
                    // The single-fault ranking holds each group node at its second outcome and
                    // adds the group's cost; the others take expectations over every free
                    // cost parent.
                    std::vector<std::pair<int, int>> fixed;
                    double added = 0.0;
                    if (m.kind == 0 && d.group >= 0) {
                        fixed.push_back({d.group, 1});
                        if (groupApplies && net.GetParents(t, 1).IsInList(d.group))
                            added = net.GetNode(d.group)->GetCost()->GetCosts().Subscript(0);
                    }
                    EXPECT_NEAR(r[static_cast<std::size_t>(i)].cost,
                                ExpectedCost(net, t, now, fixed, added), 1e-9)
                        << t;
                }

                // Trees built and reductions kept anew by the two working networks.
                auto made = [&diag] {
                    std::uint64_t n = 0;
                    for (QNL_network* w : {&diag.GetEngine()->GetFirstNetwork(),
                                           &diag.GetEngine()->GetSecondNetwork()})
                        n += w->GetJoinTreeCache().GetBuildCount() +
                             w->GetJoinTreeCache().GetReductionKeptCount();
                    return n;
                };
                const std::uint64_t before = made();
                ASSERT_EQ(diag.ComputeTestStrengths(m.flags), 0);
                EXPECT_EQ(made(), before);
            }
        }
    }
    EXPECT_EQ(compared, 24 * 2 * 8);
}

// Tests in a ring below faults, without costs: a ranking builds at most one tree per test
// (the outcomes of a test share one) plus one for the case beliefs.
TEST(DiagRandomTest, RankingBuildsOneTreePerTestPlusOne) {
    QNL_network net;
    quarn_test::TestRandom random(7);
    std::vector<int> faults;
    for (int i = 0; i < 5; ++i) {
        faults.push_back(quarn_test::AddBinaryNode(net, ("F" + std::to_string(i)).c_str(), {},
                                                   {0.05 + 0.05 * i}));
        net.GetNode(faults.back())->GetExtraDefinition()->SetDiagnosisType(0);
        net.GetNode(faults.back())->GetExtraDefinition()->SetFaultOutcome(0, true);
    }
    for (int i = 0; i < 10; ++i) {
        const int t = quarn_test::AddBinaryNode(
            net, ("T" + std::to_string(i)).c_str(), {faults[i % 5], faults[(i + 1) % 5]},
            {0.1 + 0.8 * random.Uniform(), 0.1 + 0.8 * random.Uniform(),
             0.1 + 0.8 * random.Uniform(), 0.1 + 0.8 * random.Uniform()});
        net.GetNode(t)->GetExtraDefinition()->SetDiagnosisType(QNL_diagNetwork::OBSERVATION);
        net.GetNode(t)->GetExtraDefinition()->SetFlags(1, 0, 0);
    }
    QNL_diagNetwork diag;
    ASSERT_EQ(diag.SetNetwork(&net), 0);
    ASSERT_EQ(diag.CollectFaultsAndTests(), 0);
    ASSERT_EQ(diag.InstantiateObservation(net.FindNode("T0"), 0), 0);
    ASSERT_EQ(diag.SetPursuedFaults(quarn_test::IntsOf({0, 1})), 0);
    auto built = [&] {
        return diag.GetEngine()->GetFirstNetwork().GetJoinTreeCache().GetBuildCount() +
               diag.GetEngine()->GetSecondNetwork().GetJoinTreeCache().GetBuildCount();
    };
    for (int flags : {0, 1}) {
        if (flags == 0) {
            ASSERT_EQ(diag.SetPursuedFault(0), 0);
        }
        const std::uint64_t before = built();
        ASSERT_EQ(diag.ComputeTestStrengths(flags), 0);
        EXPECT_LE(built() - before,
                  static_cast<std::uint64_t>(diag.GetUnperformedTests().GetCount()) + 1)
            << flags;
    }
}

} // namespace
