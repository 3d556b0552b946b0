#include "definitions/node_values.h"
#include "inference/bayesian_algorithms.h"
#include "support/beliefs.h"
#include "support/decision_oracle.h"
#include "support/network_builder.h"
#include "support/random_diagram.h"
#include "support/real_networks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace quarn_test;

namespace {

constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;

// Compares a solved value with the oracle's table over a prefix of the sequence (the node's
// own outcomes last when `own`): every cell the oracle defines must be defined and equal at
// the value's indexing coordinates.
void ExpectValueMatches(QNL_network& net, const DecisionOracle& oracle, int h,
                        const std::vector<double>& expected, std::size_t prefix, bool own,
                        const std::string& what) {
    ASSERT_TRUE(ValueOf(net, h).IsValueValid()) << what;
    const QNL_Dmatrix* m = ValueOf(net, h).GetMatrix();
    const QNL_intArray& parents = ValueOf(net, h).GetIndexingParents();
    const std::vector<int>& sequence = oracle.sequence;
    std::vector<std::size_t> position;
    for (int i = 0; i < parents.GetCount(); ++i) {
        position.push_back(std::find(sequence.begin(), sequence.end(), parents[i]) -
                           sequence.begin());
        ASSERT_LT(position.back(), prefix) << what << " indexed by a node outside the prefix";
    }
    std::vector<int> at(prefix, 0);
    for (std::size_t s = 0; s < expected.size(); ++s) {
        for (std::size_t k = prefix, rest = s; k-- > 0; rest /= oracle.sizes[k])
            at[k] = rest % oracle.sizes[k];
        if (std::isnan(expected[s])) continue;
        int index = own ? at[prefix - 1] : 0;
        for (std::size_t d = 0; d < position.size(); ++d)
            index += at[position[d]] * m->GetMultiplier(d);
        const double got = m->Subscript(index);
        ASSERT_NE(got, kUndefined) << what << " cell " << s;
        ASSERT_NEAR(got, expected[s], 1e-9 * std::max(1.0, std::fabs(expected[s])))
            << what << " cell " << s;
    }
}

void ExpectMatchesOracle(QNL_network& net, const std::string& what) {
    const DecisionOracle oracle = SolveByEnumeration(net);
    ASSERT_TRUE(oracle.ok) << oracle.error;
    const std::vector<int>& sequence = oracle.sequence;
    for (const auto& [d, table] : oracle.decisionUtilities)
        ExpectValueMatches(net, oracle, d, table,
                           std::find(sequence.begin(), sequence.end(), d) - sequence.begin() + 1,
                           true, what + " decision " + net.GetNode(d)->GetId());
    for (const auto& [u, table] : oracle.expected)
        ExpectValueMatches(net, oracle, u, table, sequence.size(), false,
                           what + " utility " + net.GetNode(u)->GetId());
}

// The entries left in the log, apart from the assumed temporal orders a solve reports on
// purpose. A successful solve leaves none of the scenarios it tried and passed over.
std::string StrayEntries() {
    std::string stray;
    for (const std::string& entry : Messages())
        if (entry.find(" Temporal order assumed") == std::string::npos) stray += entry + "\n";
    return stray;
}

using CooperSolverTest = NetworkFixture;

// One seed loop for both solvers. Shachter's method, given each later decision sees all that
// came before it, must pick an option of highest expected utility for the first decision.
TEST_F(CooperSolverTest, RandomDiagramsMatchEnumerationUnderBothSolvers) {
    int picked = 0;
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        const std::string label = "seed " + std::to_string(seed);
        QNL_network n;
        BuildRandomDiagram(n, seed);
        ASSERT_EQ(n.UpdateBeliefs(), 0) << label;
        ExpectMatchesOracle(n, label);
        if (HasFatalFailure()) return;
        const DecisionOracle oracle = SolveByEnumeration(n);
        int first = -1;
        for (std::size_t k = 0; k < oracle.sequence.size(); ++k) {
            if (n.GetNode(oracle.sequence[k])->GetType() != QNL_TYPE_LIST) continue;
            if (first < 0) first = oracle.sequence[k];
            for (std::size_t j = 0; j < k; ++j)
                if (!n.GetParents(oracle.sequence[k]).IsInList(oracle.sequence[j]))
                    n.AddArc(oracle.sequence[j], oracle.sequence[k]);
        }
        n.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
        const int result = n.UpdateBeliefs();
        if (result == -2) continue;
        ASSERT_EQ(result, 0) << label;
        const std::vector<double> indicator = ValueCells(n, first);
        n.SetDefaultIDAlgorithm(QNL_ALG_ID_COOPER);
        ASSERT_EQ(n.UpdateBeliefs(), 0) << label;
        const std::vector<double> utilities = ValueCells(n, first);
        ASSERT_EQ(indicator.size(), utilities.size()) << label;
        ASSERT_EQ(std::count(indicator.begin(), indicator.end(), 1.0), 1) << label;
        const double best = *std::max_element(utilities.begin(), utilities.end());
        const std::size_t o =
            std::find(indicator.begin(), indicator.end(), 1.0) - indicator.begin();
        // Options tied up to rounding may be picked either way.
        EXPECT_NEAR(utilities[o], best, 1e-9 * std::max(1.0, std::fabs(best))) << label;
        ++picked;
    }
    EXPECT_GT(picked, 40);
}

// The fisheries diagram is too large to enumerate: its decisions must be solved, and it has
// scenarios of impossible evidence to pass over.
TEST_F(CooperSolverTest, OilWildcatterAndRealDiagramsMatchEnumeration) {
    for (bool informed : {false, true}) {
        QNL_network n;
        BuildOilWildcatter(n, informed);
        ASSERT_EQ(n.UpdateBeliefs(), 0);
        ExpectMatchesOracle(n, informed ? "informed" : "uninformed");
    }
    for (const char* file : {"xmlbif/oil_wildcatter_id.xml", "dne/CostOfTesting.dne",
                             "net/mildew_id.net", "net/mildew_id_v2.net", "net/regular_id.net",
                             "net/requirements_id.net", "net/fisher_id.net"}) {
        const std::string path = RealNetworks() + "/" + file;
        if (!HaveSharedNetworks() && !std::filesystem::exists(path)) continue;
        QNL_network n;
        ASSERT_EQ(n.ReadFile(path.c_str(), path.back() == 'l' ? 6 : 0), 0) << path;
        Messages();
        ASSERT_EQ(n.UpdateBeliefs(), 0) << file;
        EXPECT_EQ(StrayEntries(), "") << file;
        if (SolveByEnumeration(n).ok) ExpectMatchesOracle(n, file);
        for (int h = n.GetFirstNode(); h >= 0; h = n.GetNextNode(h))
            EXPECT_TRUE(n.GetNode(h)->GetType() != QNL_TYPE_LIST || ValueOf(n, h).IsValueValid())
                << file;
        if (HasFatalFailure()) return;
    }
}

TEST_F(CooperSolverTest, UnrelatedDecisionsGetTemporalOrderAndSettingsComeBack) {
    const int d1 = AddDefined(net, QNL_TYPE_LIST, "First", {});
    const int d2 = AddDefined(net, QNL_TYPE_LIST, "Second", {});
    const int x = AddDefined(net, QNL_TYPE_CPT, "X", {});
    AddDefined(net, QNL_TYPE_TABLE, "U1", {d1}, {3.0, -4.0});
    AddDefined(net, QNL_TYPE_TABLE, "U2", {d2, x}, {10.0, -10.0, -5.0, 5.0});
    const int control = net.GetNotificationControl() | QNL_network::NOTIFY_AUTO_UPDATE;
    net.SetNotificationControl(control);
    net.SetNotificationMask(0x1CF);
    const int nodes = net.GetNumberOfNodes();
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_TRUE(Logged("Temporal order assumed: node [First] before node [Second]"));
    EXPECT_TRUE(net.GetParents(d2).IsInList(d1));
    EXPECT_EQ(std::vector<int>({net.GetNumberOfNodes(), net.GetNotificationControl(),
                                net.GetNotificationMask()}),
              std::vector<int>({nodes, control, 0x1CF}));
    ExpectMatchesOracle(net, "two decisions");
    // Evidence on a decision takes it out of the scenarios.
    ASSERT_EQ(ValueOf(net, d1).SetEvidence(1), 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_EQ(ValueOf(net, d2).GetIndexingParents().GetCount(), 0);
    ExpectMatchesOracle(net, "first decided");
}

// A later decision's only option worth anything is ruled out by the scenario, so the option
// that leads there stays undefined and loses to an option of negative utility. Passing over
// the scenario leaves the log as it was; the refusal of the evidence is the solver's business.
TEST_F(CooperSolverTest, OptionsOfImpossibleScenariosStayUndefined) {
    const int d = AddDefined(net, QNL_TYPE_LIST, "D", {});
    const int x = AddDefined(net, QNL_TYPE_CPT, "X", {d}, {1.0, 0.0, 0.0, 1.0});
    const int e = AddDefined(net, QNL_TYPE_CPT, "E", {x}, {1.0, 0.0, 0.5, 0.5});
    AddDefined(net, QNL_TYPE_TABLE, "U", {x}, {-1.0, -2.0});
    ASSERT_EQ(ValueOf(net, e).SetEvidence(1), 0);
    QNL_errorHandler::Instance().LogError(-7, "before the solve");
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_EQ(StrayEntries(), "-7 before the solve\n");
    EXPECT_EQ(ValueCells(net, d), std::vector<double>({kUndefined, -2.0}));
}

// Every scenario a sampler can't draw a useful sample for is listed and passed over, its
// cells undefined: all of them under logic sampling with one sample and evidence of
// probability 1e-12; Oil = dry, where the evidence is impossible, under likelihood weighting.
TEST_F(CooperSolverTest, ScenariosWithoutUsefulSamplesAreListedAndSkipped) {
    const double t = 1e-12, u = kUndefined;
    const struct {
        int algorithm, samples;
        bool underOil;
        std::vector<double> seen;
        std::vector<const char*> listed;
        std::vector<double> drill;
    } rows[] = {
        {QNL_ALG_BN_LOGIC_SAMPLING,
         1,
         false,
         {1 - t, t, 1 - t, t},
         {"Oil = soaking", "Drill = nodrill"},
         std::vector<double>(6, u)},
        {QNL_ALG_BN_LIKELIHOOD_WEIGHTING,
         200,
         true,
         {0.5, 0.0, 0.5, 1 - t, t, 0.0, 1 - t, t, 0.0},
         {"Oil = dry", "Drill = drill"},
         {u, u, 50, 0, 200, 0}},
    };
    for (const auto& row : rows) {
        QNL_errorHandler::Instance().Flush();
        QNL_network n;
        const OilWildcatter w = BuildOilWildcatter(n, true);
        const int parent = row.underOil ? w.oil : AddDefined(n, QNL_TYPE_CPT, "Hidden", {});
        const int seen = AddDefined(n, QNL_TYPE_CPT, "Seen", {parent}, row.seen,
                                    static_cast<int>(row.seen.size()) / (row.underOil ? 3 : 2));
        ASSERT_EQ(ValueOf(n, seen).SetEvidence(1), 0);
        n.SetDefaultBNAlgorithm(row.algorithm);
        n.SetNumberOfSamples(row.samples);
        ASSERT_EQ(n.UpdateBeliefs(), 0) << row.algorithm;
        EXPECT_TRUE(Logged("The following scenario could not be evaluated:")) << row.algorithm;
        for (const char* line : row.listed)
            EXPECT_TRUE(Logged(line)) << row.algorithm << line;
        ExpectNear(ValueCells(n, w.drill), row.drill, 1e-9, std::to_string(row.algorithm));
    }
}

// 27 observations in a chain, each seen before the decision: 2^28 scenarios are refused
// before any is evaluated, every value not valid and the settings back.
TEST_F(CooperSolverTest, TooManyScenariosAreRefused) {
    const int d = AddDefined(net, QNL_TYPE_LIST, "D", {});
    int previous = AddDefined(net, QNL_TYPE_CPT, "C0", {});
    net.AddArc(previous, d);
    for (int i = 1; i < 27; ++i) {
        previous = AddDefined(net, QNL_TYPE_CPT, ("C" + std::to_string(i)).c_str(), {previous});
        net.AddArc(previous, d);
    }
    const int u = AddDefined(net, QNL_TYPE_TABLE, "U", {previous, d});
    const int mask = net.GetNotificationMask();
    EXPECT_EQ(net.UpdateBeliefs(), -42);
    EXPECT_TRUE(Logged("Error when running Cooper's algorithm"));
    EXPECT_FALSE(ValueOf(net, u).IsValueValid());
    EXPECT_FALSE(ValueOf(net, previous).IsValueValid());
    EXPECT_EQ(net.GetNotificationMask(), mask);
}

} // namespace
