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
// the value's indexing coordinates. A decision's option that is impossible where another is
// possible must hold the undefined marker, so that no maximum takes it.
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
        int index = own ? at[prefix - 1] : 0;
        for (std::size_t d = 0; d < position.size(); ++d)
            index += at[position[d]] * m->GetMultiplier(d);
        const double got = m->Subscript(index);
        if (std::isnan(expected[s])) {
            const std::size_t n = own ? static_cast<std::size_t>(oracle.sizes[prefix - 1]) : 1;
            const auto block = expected.begin() + static_cast<std::ptrdiff_t>(s - s % n);
            if (own && !std::all_of(block, block + static_cast<std::ptrdiff_t>(n),
                                    [](double v) { return std::isnan(v); })) {
                ASSERT_EQ(got, kUndefined) << what << " impossible option, cell " << s;
            }
            continue;
        }
        ASSERT_NE(got, kUndefined) << what << " cell " << s;
        ASSERT_NEAR(got, expected[s], 1e-9 * std::max(1.0, std::fabs(expected[s])))
            << what << " cell " << s;
    }
}

// The scenario nodes are the nodes that index the last decision, each decision being indexed
// by every scenario node before it. A chance node among them holds its distribution given the
// scenario nodes before it, whatever the later ones (decisions included) are: the weights of
// the expectation over it.
void ExpectScenarioBeliefsMatch(QNL_network& net, const DecisionOracle& oracle,
                                const std::string& what) {
    int last = -1;
    for (int h : oracle.sequence)
        if (net.GetNode(h)->GetType() == QNL_TYPE_LIST) last = h;
    if (last < 0) return;
    const QNL_intArray scenario(ValueOf(net, last).GetIndexingParents());
    std::vector<int> before;
    for (int i = 0; i < scenario.GetCount(); before.push_back(scenario[i++])) {
        const int x = scenario[i];
        if (net.GetNode(x)->GetType() == QNL_TYPE_LIST) continue;
        const std::string label = what + " beliefs of " + net.GetNode(x)->GetId();
        const std::vector<double> expected = Conditional(oracle, x, before);
        ASSERT_FALSE(expected.empty()) << label << " not in the sequence";
        ASSERT_TRUE(ValueOf(net, x).IsValueValid()) << label;
        const QNL_Dmatrix* m = ValueOf(net, x).GetMatrix();
        const QNL_intArray& parents = ValueOf(net, x).GetIndexingParents();
        std::vector<std::size_t> position;
        for (int p = 0; p < parents.GetCount(); ++p) {
            position.push_back(std::find(before.begin(), before.end(), parents[p]) -
                               before.begin());
            ASSERT_LT(position.back(), before.size()) << label << " indexed by a later node";
        }
        std::vector<int> sizes;
        for (int h : before)
            sizes.push_back(net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes());
        const int own = net.GetNode(x)->GetDefinition()->GetNumberOfOutcomes();
        std::vector<int> at(before.size(), 0);
        for (std::size_t s = 0; s < expected.size(); ++s) {
            std::size_t rest = s / own;
            for (std::size_t k = before.size(); k-- > 0; rest /= sizes[k])
                at[k] = static_cast<int>(rest % sizes[k]);
            if (std::isnan(expected[s])) continue;
            int index = static_cast<int>(s % own);
            for (std::size_t d = 0; d < position.size(); ++d)
                index += at[position[d]] * m->GetMultiplier(static_cast<int>(d));
            ASSERT_NEAR(m->Subscript(index), expected[s], 1e-9) << label << " cell " << s;
        }
    }
}

void ExpectMatchesOracle(QNL_network& net, const DecisionOracle& oracle, const std::string& what) {
    ASSERT_TRUE(oracle.ok) << oracle.error;
    const std::vector<int>& sequence = oracle.sequence;
    for (const auto& [d, table] : oracle.decisionUtilities)
        ExpectValueMatches(net, oracle, d, table,
                           std::find(sequence.begin(), sequence.end(), d) - sequence.begin() + 1,
                           true, what + " decision " + net.GetNode(d)->GetId());
    for (const auto& [u, table] : oracle.expected)
        ExpectValueMatches(net, oracle, u, table, sequence.size(), false,
                           what + " utility " + net.GetNode(u)->GetId());
    ExpectScenarioBeliefsMatch(net, oracle, what);
}

void ExpectMatchesOracle(QNL_network& net, const std::string& what) {
    ExpectMatchesOracle(net, SolveByEnumeration(net), what);
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
// came before it, must pick an option of highest expected utility for the first decision; it
// weighs the options by how well they explain evidence below them, so it is asked only of
// diagrams whose evidence no decision influences. Evidence below the decisions rules out
// scenarios where tables hold zeros, and moves the weights of earlier observations by the
// later decisions unless their evidence is withdrawn.
TEST_F(CooperSolverTest, RandomDiagramsMatchEnumerationUnderBothSolvers) {
    const struct {
        const char* name;
        DiagramOptions options;
        std::uint64_t seeds;
        int withEvidenceBelow;
    } rows[] = {
        {"default", {}, 300, 0},
        {"evidence below decisions", {true, true}, 300, 150},
        {"evidence below decisions, no zeros", {true, false}, 300, 150},
    };
    for (const auto& row : rows) {
        int picked = 0, below = 0, impossibleOptions = 0;
        for (std::uint64_t seed = 1; seed <= row.seeds; ++seed) {
            const std::string label = std::string(row.name) + " seed " + std::to_string(seed);
            QNL_network n;
            const RandomDiagram d = BuildRandomDiagram(n, seed, row.options);
            below += !d.evidenceBelow.empty();
            ASSERT_EQ(n.UpdateBeliefs(), 0) << label;
            const DecisionOracle oracle = SolveByEnumeration(n);
            ExpectMatchesOracle(n, oracle, label);
            if (HasFatalFailure()) return;
            for (const auto& [decision, table] : oracle.decisionUtilities)
                impossibleOptions += static_cast<int>(std::count_if(
                    table.begin(), table.end(), [](double v) { return std::isnan(v); }));
            if (row.options.evidenceBelowDecisions) continue;
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
        EXPECT_GE(below, row.withEvidenceBelow) << row.name;
        // Zeros in the tables make options impossible under the evidence below them.
        if (row.options.evidenceBelowDecisions && row.options.zeros) {
            EXPECT_GT(impossibleOptions, 50) << row.name;
        }
        if (!row.options.evidenceBelowDecisions) {
            EXPECT_GT(picked, 40);
        }
    }
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

// C = 0 is seen, and C = 0 is impossible where the two decisions differ. With D1 = 0 the
// option D2 = 1 is refused; that refusal once kept D2 = 0 entered, so D1 = 1 was refused in
// turn and its scenarios never tried: D1 = 1 kept the undefined marker, which outranks every
// negative expected utility. With a utility per decision, cells of possible scenarios would
// add up to a worth for the impossible ones.
TEST_F(CooperSolverTest, ARefusedOptionLeavesTheNextOptionOfAnEarlierDecisionPossible) {
    const double u = kUndefined;
    const struct {
        const char* name;
        std::vector<std::vector<double>> utilities; // over (D1, D2), or over D1 and over D2
    } rows[] = {
        {"one utility", {{-23, -34, -6, -88}}},
        {"a utility per decision", {{-20, -30}, {-3, -58}}},
    };
    for (const auto& row : rows) {
        QNL_errorHandler::Instance().Flush();
        QNL_network n;
        const int d1 = AddDefined(n, QNL_TYPE_LIST, "D1", {});
        const int d2 = AddDefined(n, QNL_TYPE_LIST, "D2", {d1});
        const int c = AddDefined(n, QNL_TYPE_CPT, "C", {d1, d2}, {1, 0, 0, 1, 0, 1, 1, 0});
        if (row.utilities.size() == 1) {
            AddDefined(n, QNL_TYPE_TABLE, "U", {d1, d2}, row.utilities[0]);
        } else {
            AddDefined(n, QNL_TYPE_TABLE, "U1", {d1}, row.utilities[0]);
            AddDefined(n, QNL_TYPE_TABLE, "U2", {d2}, row.utilities[1]);
        }
        ASSERT_EQ(ValueOf(n, c).SetEvidence(0), 0);
        ASSERT_EQ(n.UpdateBeliefs(), 0) << row.name;
        EXPECT_EQ(StrayEntries(), "") << row.name;
        EXPECT_EQ(ValueCells(n, d1), std::vector<double>({-23, -88})) << row.name;
        EXPECT_EQ(ValueCells(n, d2), std::vector<double>({-23, u, u, -88})) << row.name;
        ExpectMatchesOracle(n, row.name);
    }
}

// E, seen, depends on C and on the later decision D2. C's weights in the expectation are its
// distribution given the scenario nodes before it: 0.5 each, whichever option D2 held last
// (D2's options swapped in the second row), and D1's options are worth 5 each.
TEST_F(CooperSolverTest, ObservationIsWeighedWithoutTheLaterDecisionsFinding) {
    const struct {
        const char* name;
        std::vector<double> seen, utility;
    } rows[] = {
        {"as given", {0.9, 0.1, 0.1, 0.9, 0.1, 0.9, 0.9, 0.1}, {10, 0, 0, 0}},
        {"options swapped", {0.1, 0.9, 0.9, 0.1, 0.9, 0.1, 0.1, 0.9}, {0, 10, 0, 0}},
    };
    for (const auto& row : rows) {
        QNL_network n;
        const int d1 = AddDefined(n, QNL_TYPE_LIST, "D1", {});
        const int c = AddDefined(n, QNL_TYPE_CPT, "C", {}, {0.5, 0.5});
        const int d2 = AddDefined(n, QNL_TYPE_LIST, "D2", {d1, c});
        const int e = AddDefined(n, QNL_TYPE_CPT, "E", {c, d2}, row.seen);
        AddDefined(n, QNL_TYPE_TABLE, "U", {c, d2}, row.utility);
        ASSERT_EQ(ValueOf(n, e).SetEvidence(0), 0);
        ASSERT_EQ(n.UpdateBeliefs(), 0) << row.name;
        ExpectNear(ValueCells(n, c), {0.5, 0.5}, 1e-12, row.name);
        ExpectNear(ValueCells(n, d1), {5.0, 5.0}, 1e-12, row.name);
        ExpectMatchesOracle(n, row.name);
    }
}

// Every scenario a sampler can't draw a useful sample for is listed and passed over, its
// cells undefined: all of them under logic sampling with one sample and evidence of
// probability 1e-12; Oil = dry, where the evidence is impossible, under likelihood weighting.
// There Seen also has a parent Mask, certainly at its first outcome, under whose second one
// Oil = dry leaves Seen possible: no entry can tell, and only the update finds it impossible.
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
         {0.5, 0.0, 0.5, 0.0, 1.0, 0.0, 1 - t, t, 0.0, 1 - t, t, 0.0, 1 - t, t, 0.0, 1 - t, t, 0.0},
         {"Oil = dry", "Drill = drill"},
         {u, u, 50, 0, 200, 0}},
    };
    for (const auto& row : rows) {
        QNL_errorHandler::Instance().Flush();
        QNL_network n;
        const OilWildcatter w = BuildOilWildcatter(n, true);
        const std::vector<int> parents =
            row.underOil ? std::vector<int>{w.oil, AddDefined(n, QNL_TYPE_CPT, "Mask", {}, {1, 0})}
                         : std::vector<int>{AddDefined(n, QNL_TYPE_CPT, "Hidden", {})};
        const int seen = AddDefined(n, QNL_TYPE_CPT, "Seen", parents, row.seen,
                                    static_cast<int>(row.seen.size()) / (row.underOil ? 6 : 2));
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
