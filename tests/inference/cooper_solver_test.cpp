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
#include <cstdlib>

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

// Every cell of every value of the diagram against the enumeration, whatever node holds it:
// a cell whose every assignment of the sequence is impossible holds the undefined marker and
// any other a number; a chance node's row holds its distribution given the row's coordinates
// and the findings, the decisions not given taking each option alike.
void ExpectCellsMatchTheirScenarios(QNL_network& net, const DecisionOracle& oracle,
                                    const std::string& what) {
    const std::vector<int>& sequence = oracle.sequence;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        QNL_nodeValue& value = ValueOf(net, h);
        const int type = net.GetNode(h)->GetType();
        const bool chance = type == QNL_TYPE_CPT;
        const auto beliefs = oracle.beliefMass.find(h);
        if (!value.IsValueValid() || value.IsObserved() ||
            (chance && beliefs == oracle.beliefMass.end()))
            continue;
        const std::string label = what + " cells of " + net.GetNode(h)->GetId();
        const QNL_Dmatrix* m = value.GetMatrix();
        const QNL_intArray& parents = value.GetIndexingParents();
        std::vector<std::size_t> position;
        for (int i = 0; i <= parents.GetCount(); ++i) {
            const int node = i < parents.GetCount() ? parents[i] : h;
            if (node == h && type != QNL_TYPE_LIST) break;
            position.push_back(std::find(sequence.begin(), sequence.end(), node) -
                               sequence.begin());
            ASSERT_LT(position.back(), sequence.size()) << label << " indexed outside";
        }
        const std::size_t own =
            chance
                ? static_cast<std::size_t>(net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes())
                : 1;
        const std::size_t cells = static_cast<std::size_t>(m->GetSize());
        std::vector<double> rowMass(cells / own, 0.0), rowBeliefs(chance ? cells : 0, 0.0);
        std::vector<int> at(sequence.size(), 0);
        for (std::size_t s = 0; s < oracle.mass.size(); ++s) {
            for (std::size_t k = sequence.size(), rest = s; k-- > 0; rest /= oracle.sizes[k])
                at[k] = static_cast<int>(rest % oracle.sizes[k]);
            std::size_t cell = 0;
            for (std::size_t d = 0; d < position.size(); ++d)
                cell += at[position[d]] *
                        static_cast<std::size_t>(m->GetMultiplier(static_cast<int>(d)));
            ASSERT_LT(cell + own - 1, cells) << label;
            rowMass[cell / own] += oracle.mass[s];
            for (std::size_t x = 0; x < rowBeliefs.size() && x < own; ++x)
                rowBeliefs[cell + x] += beliefs->second[s * own + x];
        }
        for (std::size_t i = 0; i < cells; ++i) {
            const double got = m->Subscript(static_cast<int>(i)), weight = rowMass[i / own];
            if (weight == 0.0) {
                ASSERT_EQ(got, kUndefined) << label << " impossible cell " << i;
                continue;
            }
            ASSERT_NE(got, kUndefined) << label << " possible cell " << i;
            if (chance) {
                ASSERT_NEAR(got, rowBeliefs[i] / weight, 1e-9) << label << " cell " << i;
            }
        }
    }
}

// Solved with its outcomes in another order (`to`), the diagram's values are the same ones
// relabelled, the undefined marker where the marker was.
void ExpectValuesRelabelled(QNL_network& net, QNL_network& permuted,
                            const std::vector<std::vector<int>>& to, const std::string& what) {
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const std::string label = what + " permuted, node " + net.GetNode(h)->GetId();
        QNL_nodeValue& a = ValueOf(net, h);
        QNL_nodeValue& b = ValueOf(permuted, h);
        ASSERT_EQ(a.IsValueValid(), b.IsValueValid()) << label;
        if (!a.IsValueValid()) continue;
        const QNL_intArray& parents = a.GetIndexingParents();
        ASSERT_EQ(
            std::vector<int>(parents.Items(), parents.Items() + parents.GetCount()),
            std::vector<int>(b.GetIndexingParents().Items(),
                             b.GetIndexingParents().Items() + b.GetIndexingParents().GetCount()))
            << label;
        const QNL_Dmatrix* ma = a.GetMatrix();
        const QNL_Dmatrix* mb = b.GetMatrix();
        ASSERT_EQ(ma->GetSize(), mb->GetSize()) << label;
        for (int i = 0; i < ma->GetSize(); ++i) {
            int rest = i, j = 0;
            for (int d = ma->GetNumberOfDimensions(); d-- > 0;) {
                const int size = ma->GetSizeOfDimension(d), c = rest % size;
                rest /= size;
                const int node = d < parents.GetCount() ? parents[d] : h;
                const std::vector<int>& order = to[static_cast<std::size_t>(node)];
                j += (size > 1 && !order.empty() ? order[static_cast<std::size_t>(c)] : c) *
                     mb->GetMultiplier(d);
            }
            const double x = ma->Subscript(i), y = mb->Subscript(j);
            if (x == kUndefined || y == kUndefined) {
                ASSERT_EQ(x, y) << label << " cell " << i;
            } else {
                ASSERT_NEAR(x, y, 1e-9 * std::max(1.0, std::fabs(x))) << label << " cell " << i;
            }
        }
    }
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
// came before it, must pick a possible option of highest expected utility for the first
// decision (by enumeration), evidence below the decisions or not. Evidence below the decisions rules out
// scenarios where tables hold zeros, and moves the weights of earlier observations by the
// later decisions unless their evidence is withdrawn. Every other diagram is solved again with
// the outcomes of its nodes in another order. For long runs (every diagram permuted then), QUARN_RANDOM_DIAGRAM_SEEDS raises
// the seeds per row, QUARN_RANDOM_DIAGRAM_FIRST_SEED moves the first, and
// QUARN_RANDOM_DIAGRAM_ALGORITHM names any exact algorithm for the working copies.
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
        {"MAU nodes, evidence below decisions", {true, true, true}, 200, 100},
        {"MAU nodes", {false, true, true}, 100, 0},
    };
    const char* more = std::getenv("QUARN_RANDOM_DIAGRAM_SEEDS");
    const char* first = std::getenv("QUARN_RANDOM_DIAGRAM_FIRST_SEED");
    const char* algorithm = std::getenv("QUARN_RANDOM_DIAGRAM_ALGORITHM");
    const std::uint64_t from = first != nullptr ? std::strtoull(first, nullptr, 10) : 1;
    for (const auto& row : rows) {
        int picked = 0, pickedBelow = 0, below = 0, impossibleOptions = 0, impossibleCells = 0;
        const std::uint64_t seeds = std::max<std::uint64_t>(
            row.seeds, more != nullptr ? std::strtoull(more, nullptr, 10) : 0);
        for (std::uint64_t seed = from; seed < from + seeds; ++seed) {
            const std::string label = std::string(row.name) + " seed " + std::to_string(seed);
            QNL_network n;
            const RandomDiagram d = BuildRandomDiagram(n, seed, row.options);
            if (algorithm != nullptr) n.SetDefaultBNAlgorithm(std::atoi(algorithm));
            below += !d.evidenceBelow.empty();
            ASSERT_EQ(n.UpdateBeliefs(), 0) << label;
            const DecisionOracle oracle = SolveByEnumeration(n);
            ExpectMatchesOracle(n, oracle, label);
            ExpectCellsMatchTheirScenarios(n, oracle, label);
            if (HasFatalFailure()) return;
            if (seed % 2 == 0 || more != nullptr) {
                QNL_network permuted;
                BuildRandomDiagram(permuted, seed, row.options);
                const std::vector<std::vector<int>> to = RandomOutcomeOrders(permuted, seed);
                PermuteOutcomes(permuted, to);
                if (algorithm != nullptr) permuted.SetDefaultBNAlgorithm(std::atoi(algorithm));
                ASSERT_EQ(permuted.UpdateBeliefs(), 0) << label;
                ExpectValuesRelabelled(n, permuted, to, label);
                if (HasFatalFailure()) return;
            }
            impossibleCells +=
                static_cast<int>(std::count(oracle.mass.begin(), oracle.mass.end(), 0.0));
            for (const auto& [decision, table] : oracle.decisionUtilities)
                impossibleOptions += static_cast<int>(std::count_if(
                    table.begin(), table.end(), [](double v) { return std::isnan(v); }));
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
            // The first decision sees only findings, some perhaps implied by the others: only
            // their outcome is possible before it.
            const DecisionOracle seeing = SolveByEnumeration(n);
            ASSERT_TRUE(seeing.ok) << label;
            std::vector<double> utilities(indicator.size(), std::nan(""));
            for (std::size_t s = 0; s < seeing.decisionUtilities.at(first).size(); ++s) {
                const double u = seeing.decisionUtilities.at(first)[s];
                if (!std::isnan(u)) utilities[s % utilities.size()] = u;
            }
            ASSERT_EQ(std::count(indicator.begin(), indicator.end(), 1.0), 1) << label;
            double best = -HUGE_VAL;
            for (double u : utilities)
                if (!std::isnan(u)) best = std::max(best, u);
            const std::size_t o =
                std::find(indicator.begin(), indicator.end(), 1.0) - indicator.begin();
            ASSERT_FALSE(std::isnan(utilities[o])) << label << " an impossible option picked";
            // Options tied up to rounding may be picked either way.
            EXPECT_NEAR(utilities[o], best, 1e-9 * std::max(1.0, std::fabs(best))) << label;
            ++picked;
            pickedBelow += !d.evidenceBelow.empty();
        }
        EXPECT_GE(below, row.withEvidenceBelow) << row.name;
        // Zeros in the tables make options impossible under the evidence below them.
        if (row.options.evidenceBelowDecisions && row.options.zeros) {
            EXPECT_GT(impossibleOptions, 50) << row.name;
        }
        if (row.options.zeros) {
            EXPECT_GT(impossibleCells, 50) << row.name;
        }
        EXPECT_GT(picked, std::min(40, static_cast<int>(row.seeds) / 4)) << row.name;
        if (row.options.evidenceBelowDecisions) {
            EXPECT_GT(pickedBelow, static_cast<int>(row.seeds) / 10) << row.name;
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

// N0, seen before D2, depends on D1 only through the findings below D2, which D2 (open when
// N0's distribution is weighed, so taking each option alike) joins: the walk that decides
// N0's indexing must pass D2. D1's options are worth 31 P(N0 = 1 | D1, findings), with
// P(N0 = c | a, findings) proportional to P(c) sum_d P(N3 = 0 | a, d) P(N4 = 0 | c, d).
TEST_F(CooperSolverTest, ObservationDependsOnAnEarlierOptionThroughAnOpenLaterDecision) {
    const std::vector<double> prior = {0.8069, 0.1931}, seen3 = {.5228, .3921, .6328, .7583},
                              seen4 = {.2808, .4399, .8072, .2370};
    for (bool swapped : {false, true}) {
        const std::string label = swapped ? "options swapped" : "as given";
        QNL_network n;
        const int n0 = AddDefined(n, QNL_TYPE_CPT, "N0", {}, prior);
        const int n1 = AddDefined(n, QNL_TYPE_LIST, "N1", {});
        const int n2 = AddDefined(n, QNL_TYPE_LIST, "N2", {n0});
        auto column = [](const std::vector<double>& p, int a, int d) { return p[2 * a + d]; };
        std::vector<double> table3;
        for (int a = 0; a < 2; ++a)
            for (int d = 0; d < 2; ++d) {
                const double p = column(seen3, swapped ? 1 - a : a, d);
                table3.insert(table3.end(), {p, 1 - p});
            }
        std::vector<double> table4;
        for (double p : seen4)
            table4.insert(table4.end(), {p, 1 - p});
        const int n3 = AddDefined(n, QNL_TYPE_CPT, "N3", {n1, n2}, table3);
        const int n4 = AddDefined(n, QNL_TYPE_CPT, "N4", {n0, n2}, table4);
        AddDefined(n, QNL_TYPE_TABLE, "U", {n0}, {0.0, 31.0});
        ASSERT_EQ(ValueOf(n, n3).SetEvidence(0), 0);
        ASSERT_EQ(ValueOf(n, n4).SetEvidence(0), 0);
        ASSERT_EQ(n.UpdateBeliefs(), 0) << label;
        std::vector<double> expected;
        for (int a = 0; a < 2; ++a) {
            double joint[2];
            for (int c = 0; c < 2; ++c) {
                joint[c] = 0.0;
                for (int d = 0; d < 2; ++d)
                    joint[c] += column(seen3, swapped ? 1 - a : a, d) * column(seen4, c, d);
                joint[c] *= prior[static_cast<std::size_t>(c)];
            }
            expected.push_back(31.0 * joint[1] / (joint[0] + joint[1]));
        }
        ExpectNear(ValueCells(n, n1), expected, 1e-9, label);
        ExpectMatchesOracle(n, label);
    }
}

// B = 2 has probability 0: A, B's only parent, is 1 for certain, and B is never 2 then.
// Entering B = 2 is accepted all the same, so the scenario must be found impossible by its
// weight: no cell reached only by B = 2 (D's row, U's cells, A's row) holds a number, with B's
// outcomes in any order. In the second row the finding A = 1 rules B = 2 out through B's own
// table.
TEST_F(CooperSolverTest, ObservationOfProbabilityZeroIsNoScenario) {
    const double u = kUndefined;
    const struct {
        const char* name;
        std::vector<double> prior;
        int seen; // the finding on A, or -1
    } rows[] = {
        {"prior zero above", {0.0, 1.0}, -1},
        {"finding above", {0.5, 0.5}, 1},
    };
    for (const auto& row : rows)
        for (const std::vector<int>& order : {std::vector<int>{0, 1, 2}, {2, 0, 1}, {1, 2, 0}}) {
            const std::string label =
                std::string(row.name) + ", B = 2 listed " + std::to_string(order[2]);
            QNL_network n;
            const int a = AddDefined(n, QNL_TYPE_CPT, "A", {}, row.prior);
            const int b = AddDefined(n, QNL_TYPE_CPT, "B", {a}, {0.2, 0.3, 0.5, 0.6, 0.4, 0.0}, 3);
            const int d = AddDefined(n, QNL_TYPE_LIST, "D", {b});
            const int un = AddDefined(n, QNL_TYPE_TABLE, "U", {b, d}, {10, 20, 30, 40, 60, 70});
            if (row.seen >= 0) {
                ASSERT_EQ(ValueOf(n, a).SetEvidence(row.seen), 0);
            }
            PermuteOutcomes(n, {{}, order});
            ASSERT_EQ(n.UpdateBeliefs(), 0) << label;
            // The cells of B = 0, 1 and 2 in that order, each of `width` cells.
            auto byOutcome = [&](const std::vector<double>& cells, std::size_t width) {
                std::vector<double> out;
                for (int o = 0; o < 3; ++o) {
                    const auto at = cells.begin() + static_cast<std::ptrdiff_t>(order[o] * width);
                    out.insert(out.end(), at, at + static_cast<std::ptrdiff_t>(width));
                }
                return out;
            };
            const std::vector<double> worth = {10, 20, 30, 40, u, u};
            EXPECT_EQ(byOutcome(ValueCells(n, d), 2), worth) << label;
            EXPECT_EQ(byOutcome(ValueCells(n, un), 2), worth) << label;
            if (row.seen < 0) {
                EXPECT_EQ(byOutcome(ValueCells(n, a), 2), std::vector<double>({0, 1, 0, 1, u, u}))
                    << label;
            }
            ExpectMatchesOracle(n, label);
            ExpectCellsMatchTheirScenarios(n, SolveByEnumeration(n), label);
        }
}

// A MAU cell combines cells of its parents that other scenarios filled: with A and B seen
// before D, A = 1 and B = 1 never together, U1 over A and U2 over B are defined for each
// outcome, but M's cell (1, 1) belongs to no possible scenario. N, a deterministic child of
// A and of D's decision R, holds no row for a scenario found impossible only by the update.
TEST_F(CooperSolverTest, CellsOfImpossibleScenariosHoldTheMarkerWhateverTheirNode) {
    for (bool swapped : {false, true}) {
        const std::string label = swapped ? "options swapped" : "as given";
        QNL_network n;
        const int z = AddDefined(n, QNL_TYPE_CPT, "Z", {}, {0.0, 1.0});
        const int a = AddDefined(n, QNL_TYPE_CPT, "A", {z}, {0.3, 0.7, 1.0, 0.0});
        const int b = AddDefined(n, QNL_TYPE_CPT, "B", {a}, {0.4, 0.6, 1.0, 0.0});
        const int d = AddDefined(n, QNL_TYPE_LIST, "D", {a, b});
        const int u1 = AddDefined(n, QNL_TYPE_TABLE, "U1", {a}, {5, 7});
        const int u2 = AddDefined(n, QNL_TYPE_TABLE, "U2", {b, d}, {1, 2, 3, 4});
        const int m = AddDefined(n, QNL_TYPE_MAU, "M", {u1, u2}, {1.0, 2.0});
        const int nn = AddDefined(n, QNL_TYPE_CPT, "N", {a, d}, {1, 0, 0, 1, 0, 1, 1, 0});
        if (swapped) PermuteOutcomes(n, {{}, {1, 0}, {1, 0}, {1, 0}});
        ASSERT_EQ(n.UpdateBeliefs(), 0) << label;
        const DecisionOracle oracle = SolveByEnumeration(n);
        ExpectMatchesOracle(n, oracle, label);
        ExpectCellsMatchTheirScenarios(n, oracle, label);
        for (int h : {m, nn}) {
            const std::vector<double> cells = ValueCells(n, h);
            EXPECT_GT(std::count(cells.begin(), cells.end(), kUndefined), 0)
                << label << " " << n.GetNode(h)->GetId();
        }
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
