#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "definitions/table.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/decision_oracle.h"
#include "support/random_diagram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace quarn_test;

namespace {

constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;

QNL_nodeValue* Value(QNL_network& net, int h) {
    return net.GetNode(h)->GetValue();
}

std::vector<double> Cells(QNL_network& net, int h) {
    const QNL_Dmatrix* m = Value(net, h)->GetMatrix();
    return std::vector<double>(m->GetItems().Items(), m->GetItems().Items() + m->GetSize());
}

bool Logged(const std::string& text) {
    const QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (text == log.GetMessage(i)) return true;
    return false;
}

// Compares a solved value with the oracle's table over a prefix of the sequence (the node's
// own outcomes last when `own`): every cell the oracle defines must be defined and equal at
// the value's indexing coordinates.
void ExpectValueMatches(QNL_network& net, const DecisionOracle& oracle, int h,
                        const std::vector<double>& expected, std::size_t prefix, bool own,
                        const std::string& what) {
    QNL_nodeValue* value = Value(net, h);
    ASSERT_TRUE(value->IsValueValid()) << what;
    const QNL_Dmatrix* m = value->GetMatrix();
    const QNL_intArray& parents = value->GetIndexingParents();
    std::vector<int> position;
    for (int i = 0; i < parents.GetCount(); ++i) {
        const auto it = std::find(oracle.sequence.begin(), oracle.sequence.end(), parents[i]);
        ASSERT_NE(it, oracle.sequence.end()) << what << " indexed by a node outside the sequence";
        position.push_back(static_cast<int>(it - oracle.sequence.begin()));
    }
    std::vector<int> at(prefix, 0);
    for (std::size_t s = 0; s < expected.size(); ++s) {
        std::size_t rest = s;
        for (std::size_t k = prefix; k-- > 0;) {
            at[k] = static_cast<int>(rest % static_cast<std::size_t>(oracle.sizes[k]));
            rest /= static_cast<std::size_t>(oracle.sizes[k]);
        }
        if (std::isnan(expected[s])) continue;
        int index = 0;
        for (std::size_t d = 0; d < position.size(); ++d) {
            ASSERT_LT(static_cast<std::size_t>(position[d]), prefix) << what;
            index +=
                at[static_cast<std::size_t>(position[d])] * m->GetMultiplier(static_cast<int>(d));
        }
        if (own) index += at[prefix - 1];
        const double got = m->Subscript(index);
        ASSERT_NE(got, kUndefined) << what << " cell " << s;
        ASSERT_NEAR(got, expected[s], 1e-9 * std::max(1.0, std::fabs(expected[s])))
            << what << " cell " << s;
    }
}

void ExpectMatchesOracle(QNL_network& net, const std::string& what) {
    const DecisionOracle oracle = SolveByEnumeration(net);
    ASSERT_TRUE(oracle.ok) << oracle.error;
    for (const auto& [d, table] : oracle.decisionUtilities) {
        const auto it = std::find(oracle.sequence.begin(), oracle.sequence.end(), d);
        ExpectValueMatches(net, oracle, d, table,
                           static_cast<std::size_t>(it - oracle.sequence.begin()) + 1, true,
                           what + " decision " + net.GetNode(d)->GetId());
    }
    for (const auto& [u, table] : oracle.expected)
        ExpectValueMatches(net, oracle, u, table, oracle.sequence.size(), false,
                           what + " utility " + net.GetNode(u)->GetId());
}

class CooperSolverTest : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }
    QNL_network net;
};

TEST_F(CooperSolverTest, OilWildcatterExpectedUtilities) {
    for (bool informed : {false, true}) {
        QNL_network n;
        const OilWildcatter w = BuildOilWildcatter(n, informed);
        ASSERT_EQ(n.UpdateBeliefs(), 0);
        const std::vector<double> expected =
            informed ? std::vector<double>{-70, 0, 50, 0, 200, 0} : std::vector<double>{20, 0};
        const std::vector<double> got = Cells(n, w.drill);
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], expected[i], 1e-9);
        EXPECT_EQ(Value(n, w.drill)->GetIndexingParents().GetCount(), informed ? 1 : 0);
        ExpectMatchesOracle(n, informed ? "informed" : "uninformed");
    }
}

TEST_F(CooperSolverTest, RandomDiagramsMatchEnumeration) {
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        QNL_network n;
        BuildRandomDiagram(n, seed);
        const int result = n.UpdateBeliefs();
        ASSERT_EQ(result, 0) << "seed " << seed;
        ExpectMatchesOracle(n, "seed " + std::to_string(seed));
        if (HasFatalFailure()) return;
    }
}

TEST_F(CooperSolverTest, UnrelatedDecisionsGetTemporalOrderAndSettingsComeBack) {
    const int d1 = net.AddNode(QNL_TYPE_LIST, "First");
    const int d2 = net.AddNode(QNL_TYPE_LIST, "Second");
    const int x = net.AddNode(QNL_TYPE_CPT, "X");
    const int u1 = net.AddNode(QNL_TYPE_TABLE, "U1");
    const int u2 = net.AddNode(QNL_TYPE_TABLE, "U2");
    net.AddArc(d1, u1);
    net.AddArc(d2, u2);
    net.AddArc(x, u2);
    QNL_doubleArray a, b;
    for (double v : {3.0, -4.0})
        a.Add(v);
    for (double v : {10.0, -10.0, -5.0, 5.0})
        b.Add(v);
    static_cast<QNL_table*>(net.GetNode(u1)->GetDefinition())->SetUtilities(a);
    static_cast<QNL_table*>(net.GetNode(u2)->GetDefinition())->SetUtilities(b);
    const int control = net.GetNotificationControl() | QNL_network::NOTIFY_AUTO_UPDATE;
    net.SetNotificationControl(control);
    net.SetNotificationMask(0x1CF);
    const int nodes = net.GetNumberOfNodes();

    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_TRUE(Logged("Temporal order assumed: node [First] before node [Second]"));
    EXPECT_TRUE(net.GetParents(d2).IsInList(d1));
    EXPECT_EQ(net.GetNumberOfNodes(), nodes);
    EXPECT_EQ(net.GetNotificationControl(), control);
    EXPECT_EQ(net.GetNotificationMask(), 0x1CF);
    EXPECT_TRUE(Value(net, u1)->IsValueValid());
    EXPECT_TRUE(Value(net, u2)->IsValueValid());
    ExpectMatchesOracle(net, "two decisions");

    // Evidence on a decision takes it out of the scenarios.
    ASSERT_EQ(Value(net, d1)->SetEvidence(1), 0);
    QNL_errorHandler::Instance().Flush();
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_EQ(Value(net, d2)->GetIndexingParents().GetCount(), 0);
    ExpectMatchesOracle(net, "first decided");
}

TEST_F(CooperSolverTest, RealDiagramsMatchEnumeration) {
    const struct {
        const char* file;
        int format;
    } files[] = {{"net/mildew_id.net", 0},  {"net/mildew_id_v2.net", 0},
                 {"net/regular_id.net", 0}, {"net/requirements_id.net", 0},
                 {"net/fisher_id.net", 0},  {"xmlbif/oil_wildcatter_id.xml", 6}};
    for (const auto& f : files) {
        const std::string path = std::string(QUARN_SHARED_DIR) + "/data/networks/" + f.file;
        QNL_network n;
        if (n.ReadFile(path.c_str(), f.format) != 0) GTEST_SKIP() << "cannot read " << path;
        ASSERT_EQ(n.UpdateBeliefs(), 0) << f.file;
        // The fisheries diagram is too large to enumerate: its decisions must be solved.
        if (SolveByEnumeration(n).ok) {
            ExpectMatchesOracle(n, f.file);
        } else {
            for (int h = n.GetFirstNode(); h >= 0; h = n.GetNextNode(h)) {
                if (n.GetNode(h)->GetType() == QNL_TYPE_LIST) {
                    EXPECT_TRUE(Value(n, h)->IsValueValid()) << f.file;
                }
            }
        }
        if (HasFatalFailure()) return;
    }
}

// A later decision's only option worth anything is ruled out by the scenario, so the option
// that leads there stays undefined and loses to an option of negative utility.
TEST_F(CooperSolverTest, OptionsOfImpossibleScenariosStayUndefined) {
    const int d = net.AddNode(QNL_TYPE_LIST, "D");
    const int x = net.AddNode(QNL_TYPE_CPT, "X");
    const int e = net.AddNode(QNL_TYPE_CPT, "E");
    const int u = net.AddNode(QNL_TYPE_TABLE, "U");
    net.AddArc(d, x);
    net.AddArc(x, e);
    net.AddArc(x, u);
    QNL_doubleArray px, pe, utilities;
    for (double v : {1.0, 0.0, 0.0, 1.0})
        px.Add(v); // X copies D
    for (double v : {1.0, 0.0, 0.5, 0.5})
        pe.Add(v); // E = 1 rules X = 0 out
    for (double v : {-1.0, -2.0})
        utilities.Add(v);
    static_cast<QNL_cpt*>(net.GetNode(x)->GetDefinition())->SetProbabilities(px);
    static_cast<QNL_cpt*>(net.GetNode(e)->GetDefinition())->SetProbabilities(pe);
    static_cast<QNL_table*>(net.GetNode(u)->GetDefinition())->SetUtilities(utilities);
    ASSERT_EQ(Value(net, e)->SetEvidence(1), 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_EQ(Cells(net, d)[0], kUndefined);
    EXPECT_NEAR(Cells(net, d)[1], -2.0, 1e-9);
}

// Every scenario of a sampler that can't draw a sample matching the evidence is listed and
// passed over: the solve succeeds with every expected utility undefined.
TEST_F(CooperSolverTest, ScenariosWithoutUsefulSamplesAreListedAndSkipped) {
    const OilWildcatter w = BuildOilWildcatter(net, true);
    const int hidden = net.AddNode(QNL_TYPE_CPT, "Hidden");
    const int seen = net.AddNode(QNL_TYPE_CPT, "Seen");
    net.AddArc(hidden, seen);
    QNL_doubleArray p;
    for (int column = 0; column < 2; ++column) {
        p.Add(1.0 - 1e-12);
        p.Add(1e-12);
    }
    static_cast<QNL_cpt*>(net.GetNode(seen)->GetDefinition())->SetProbabilities(p);
    ASSERT_EQ(Value(net, seen)->SetEvidence(1), 0);
    net.SetDefaultBNAlgorithm(1);
    net.SetNumberOfSamples(1);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_TRUE(Logged("The following scenario could not be evaluated:"));
    EXPECT_TRUE(Logged("Oil = soaking"));
    EXPECT_TRUE(Logged("Drill = nodrill"));
    for (double cell : Cells(net, w.drill))
        EXPECT_EQ(cell, kUndefined);
}

// 27 observations in a chain, each seen before the decision: 2^28 scenarios are refused
// before any is evaluated, every value not valid and the settings back.
TEST_F(CooperSolverTest, TooManyScenariosAreRefused) {
    const int d = net.AddNode(QNL_TYPE_LIST, "D");
    int previous = -1;
    for (int i = 0; i < 27; ++i) {
        const int c = net.AddNode(QNL_TYPE_CPT, ("C" + std::to_string(i)).c_str());
        if (previous >= 0) net.AddArc(previous, c);
        net.AddArc(c, d);
        previous = c;
    }
    const int u = net.AddNode(QNL_TYPE_TABLE, "U");
    net.AddArc(previous, u);
    net.AddArc(d, u);
    const int mask = net.GetNotificationMask();
    EXPECT_EQ(net.UpdateBeliefs(), -42);
    EXPECT_TRUE(Logged("Error when running Cooper's algorithm"));
    EXPECT_FALSE(Value(net, u)->IsValueValid());
    EXPECT_FALSE(Value(net, previous)->IsValueValid());
    EXPECT_EQ(net.GetNotificationMask(), mask);
}

} // namespace
