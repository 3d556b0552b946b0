#include "definitions/mau.h"
#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "support/network_builder.h"
#include "support/random_diagram.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace quarn_test;

namespace {

QNL_nodeValue* Value(QNL_network& net, int h) {
    return net.GetNode(h)->GetValue();
}

class ShachterSolverTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNL_errorHandler::Instance().Flush();
        net.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
    }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }
    QNL_network net;
};

// Uninformed: drill. Informed: refused while Oil is unobserved, then nodrill given dry; with
// every decision made there is nothing to solve.
TEST_F(ShachterSolverTest, OilWildcatterBestPolicyAndRefusedUnobservedParent) {
    const OilWildcatter w = BuildOilWildcatter(net, false);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_EQ(ValueCells(net, w.drill), (std::vector<double>{1.0, 0.0}));
    EXPECT_EQ(
        std::vector<bool>({Value(net, w.drill)->IsValueValid(), Value(net, w.oil)->IsValueValid(),
                           Value(net, w.profit)->IsValueValid()}),
        std::vector<bool>({true, false, false}));

    QNL_network informed;
    informed.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
    const OilWildcatter v = BuildOilWildcatter(informed, true);
    const int mask = informed.GetNotificationMask();
    EXPECT_EQ(informed.UpdateBeliefs(), -2);
    EXPECT_EQ(LastMessage(), "Can't solve this network using best policy algorithm");
    EXPECT_EQ(informed.GetNotificationMask(), mask);
    ASSERT_EQ(Value(informed, v.oil)->SetEvidence(0), 0);
    ASSERT_EQ(informed.UpdateBeliefs(), 0);
    EXPECT_EQ(ValueCells(informed, v.drill), (std::vector<double>{0.0, 1.0}));
    ASSERT_EQ(Value(informed, v.drill)->SetEvidence(0), 0);
    EXPECT_EQ(informed.UpdateBeliefs(), -2);
    EXPECT_EQ(LastMessage(), "Error when running Shachter's algorithm");
}

// The merged table may hold 8,192 cells (13 binary parents), no more; two ten-outcome parents
// alone pass the old count of parents, not the count of cells.
TEST_F(ShachterSolverTest, MergeLimitCountsCells) {
    std::vector<int> c;
    for (int i = 0; i < 14; ++i)
        c.push_back(AddDefined(net, QNL_TYPE_CPT, ("C" + std::to_string(i)).c_str(), {}));
    const int d = AddDefined(net, QNL_TYPE_LIST, "D", {});
    AddDefined(net, QNL_TYPE_TABLE, "U0", {d, c[0], c[1], c[2], c[3], c[4], c[5]},
               std::vector<double>(128, 1.0));
    AddDefined(net, QNL_TYPE_TABLE, "U1", {c[6], c[7], c[8], c[9], c[10], c[11]},
               std::vector<double>(64, 2.0));
    EXPECT_EQ(net.UpdateBeliefs(), 0);
    const int u2 = AddDefined(net, QNL_TYPE_TABLE, "U2", {c[12]}, {1.0, 2.0});
    EXPECT_EQ(net.UpdateBeliefs(), -2);
    EXPECT_EQ(LastMessage(), "Cannot solve this network using SHACHTER's algorithm. Error while "
                             "merging utility nodes (too many parents)");
    net.DeleteNode(u2);
    net.GetNode(c[12])->GetDefinition()->SetNumberOfOutcomes(10);
    net.GetNode(c[13])->GetDefinition()->SetNumberOfOutcomes(10);
    AddDefined(net, QNL_TYPE_TABLE, "U3", {c[12], c[13]}, std::vector<double>(100, 0.0));
    EXPECT_EQ(net.UpdateBeliefs(), -2);
}

// U enters the overall utility through two MAU nodes with weights 2 and 3, so 5 x U + V is
// maximised: V = 5.5 beats 5, which the product of the weights (6) would not; V = 4 loses
// to 5, which either weight alone would not. An expression can't be folded into its parents.
TEST_F(ShachterSolverTest, UtilityUnderTwoMauNodesCountsTheSumOfWeights) {
    const int d = AddDefined(net, QNL_TYPE_LIST, "D", {});
    const int u = AddDefined(net, QNL_TYPE_TABLE, "U", {d}, {1.0, 0.0});
    const int v = AddDefined(net, QNL_TYPE_TABLE, "V", {d});
    AddDefined(net, QNL_TYPE_MAU, "M1", {u, v}, {2.0, 1.0});
    const int m2 = AddDefined(net, QNL_TYPE_MAU, "M2", {u}, {3.0});
    for (double x : {5.5, 4.0}) {
        ASSERT_EQ(net.GetNode(v)->GetDefinition()->SetDefinition(ArrayOf({0.0, x})), 0);
        net.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        EXPECT_EQ(ValueCells(net, d), (std::vector<double>{x < 5 ? 1.0 : 0.0, x > 5 ? 1.0 : 0.0}))
            << x;
        net.SetDefaultIDAlgorithm(QNL_ALG_ID_COOPER);
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        ExpectNear(ValueCells(net, d), {5.0, x}, 1e-9, "expected utilities");
    }
    std::string error;
    ASSERT_EQ(static_cast<QNL_mau*>(net.GetNode(m2)->GetDefinition())
                  ->SetExpressions(StringsOf({"U*U"}), error),
              0)
        << error;
    net.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
    EXPECT_EQ(net.UpdateBeliefs(), -2);
    EXPECT_EQ(LastMessage(), "Can't solve this network using best policy algorithm");
}

// E = 0 is seen below D: P(E = 0 | D) = 0.9, 0.3 and U(D) = 10, 100, so D's options are worth
// 10 and 100 given E. A second utility over an independent Z adds the same to both and must not
// move the pick, nor must the order of D's options. Before D comes the decision First (worth 0
// and 5 by W) in the last rows: D's finding is no obstacle while D sees only First, but when
// D sees C, C's weights would depend on the option D will take, and the diagram is refused.
TEST_F(ShachterSolverTest, FindingBelowTheDecisionLeavesThePickToTheExpectedUtilities) {
    const struct {
        const char* name;
        bool constant, swapped, later, seen;
    } rows[] = {
        {"one utility", false, false, false, false},
        {"a constant added", true, false, false, false},
        {"a constant added, options swapped", true, true, false, false},
        {"finding below a later decision", false, false, true, false},
        {"finding below a later decision that sees C", false, false, true, true},
    };
    for (const auto& row : rows) {
        QNL_errorHandler::Instance().Flush();
        QNL_network n;
        const int d = AddDefined(n, QNL_TYPE_LIST, "D", {});
        const int e = AddDefined(n, QNL_TYPE_CPT, "E", {d},
                                 row.swapped ? std::vector<double>{0.3, 0.7, 0.9, 0.1}
                                             : std::vector<double>{0.9, 0.1, 0.3, 0.7});
        AddDefined(n, QNL_TYPE_TABLE, "U", {d},
                   row.swapped ? std::vector<double>{100, 10} : std::vector<double>{10, 100});
        if (row.constant) {
            const int z = AddDefined(n, QNL_TYPE_CPT, "Z", {}, {0.5, 0.5});
            AddDefined(n, QNL_TYPE_TABLE, "V", {z}, {0.0, 2000.0});
        }
        int first = d;
        if (row.later) {
            first = AddDefined(n, QNL_TYPE_LIST, "First", {});
            n.AddArc(first, d);
            AddDefined(n, QNL_TYPE_TABLE, "W", {first}, {0.0, 5.0});
        }
        if (row.seen) n.AddArc(AddDefined(n, QNL_TYPE_CPT, "C", {}, {0.5, 0.5}), d);
        ASSERT_EQ(Value(n, e)->SetEvidence(0), 0);
        n.SetDefaultIDAlgorithm(QNL_ALG_ID_COOPER);
        ASSERT_EQ(n.UpdateBeliefs(), 0) << row.name;
        const std::vector<double> worth = ValueCells(n, first);
        const std::size_t best = std::max_element(worth.begin(), worth.end()) - worth.begin();
        n.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
        if (row.seen) {
            EXPECT_EQ(n.UpdateBeliefs(), -2) << row.name;
            EXPECT_EQ(LastMessage(), "Can't solve this network using best policy algorithm");
            continue;
        }
        ASSERT_EQ(n.UpdateBeliefs(), 0) << row.name;
        std::vector<double> indicator(worth.size(), 0.0);
        indicator[best] = 1.0;
        EXPECT_EQ(ValueCells(n, first), indicator) << row.name;
        EXPECT_EQ(best, row.swapped ? 0u : 1u) << row.name;
    }
}

// C = 0 is seen, where every option is worth the least utility (-5): the merged utility's
// first outcome is then impossible, which is a tie, not a conflict of evidence. The first
// option is picked, or the first one the finding below D leaves possible.
TEST_F(ShachterSolverTest, OptionsAllWorthTheLeastUtilityTieAtTheFirstPossibleOne) {
    for (bool below : {false, true}) {
        QNL_errorHandler::Instance().Flush();
        QNL_network n;
        const int c = AddDefined(n, QNL_TYPE_CPT, "C", {}, {0.5, 0.5});
        const int d = AddDefined(n, QNL_TYPE_LIST, "D", {c});
        AddDefined(n, QNL_TYPE_TABLE, "U", {c, d}, {-5, -5, 3, 8});
        ASSERT_EQ(Value(n, c)->SetEvidence(0), 0);
        if (below) {
            const int e = AddDefined(n, QNL_TYPE_CPT, "E", {d}, {0.0, 1.0, 0.4, 0.6});
            ASSERT_EQ(Value(n, e)->SetEvidence(0), 0);
        }
        n.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
        ASSERT_EQ(n.UpdateBeliefs(), 0) << below << " " << LastMessage();
        EXPECT_EQ(ValueCells(n, d), (std::vector<double>{below ? 0.0 : 1.0, below ? 1.0 : 0.0}))
            << below;
    }
}

} // namespace
