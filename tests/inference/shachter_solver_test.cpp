#include "definitions/cpt.h"
#include "definitions/mau.h"
#include "definitions/node_value.h"
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

QNL_nodeValue* Value(QNL_network& net, int h) {
    return net.GetNode(h)->GetValue();
}

std::vector<double> Cells(QNL_network& net, int h) {
    const QNL_Dmatrix* m = Value(net, h)->GetMatrix();
    return std::vector<double>(m->GetItems().Items(), m->GetItems().Items() + m->GetSize());
}

std::string LastMessage() {
    const QNL_errorHandler& log = QNL_errorHandler::Instance();
    return log.GetNumberOfErrors() > 0 ? log.GetMessage(log.GetNumberOfErrors() - 1) : "";
}

int Table(QNL_network& net, const char* id, const std::vector<int>& parents,
          const std::vector<double>& utilities) {
    const int u = net.AddNode(QNL_TYPE_TABLE, id);
    for (int p : parents)
        net.AddArc(p, u);
    QNL_doubleArray values;
    for (double v : utilities)
        values.Add(v);
    static_cast<QNL_table*>(net.GetNode(u)->GetDefinition())->SetUtilities(values);
    return u;
}

int Mau(QNL_network& net, const char* id, const std::vector<int>& parents,
        const std::vector<double>& weights) {
    const int m = net.AddNode(QNL_TYPE_MAU, id);
    for (int p : parents)
        net.AddArc(p, m);
    QNL_doubleArray values;
    for (double v : weights)
        values.Add(v);
    static_cast<QNL_mau*>(net.GetNode(m)->GetDefinition())->SetDefinition(values);
    return m;
}

class ShachterSolverTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNL_errorHandler::Instance().Flush();
        net.SetDefaultIDAlgorithm(1);
    }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }
    QNL_network net;
};

TEST_F(ShachterSolverTest, OilWildcatterBestPolicyAndRefusedUnobservedParent) {
    const OilWildcatter w = BuildOilWildcatter(net, false);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_EQ(Cells(net, w.drill), (std::vector<double>{1.0, 0.0}));
    EXPECT_TRUE(Value(net, w.drill)->IsValueValid());
    EXPECT_FALSE(Value(net, w.oil)->IsValueValid());
    EXPECT_FALSE(Value(net, w.profit)->IsValueValid());

    QNL_network informed;
    informed.SetDefaultIDAlgorithm(1);
    const OilWildcatter v = BuildOilWildcatter(informed, true);
    const int mask = informed.GetNotificationMask();
    EXPECT_EQ(informed.UpdateBeliefs(), -2);
    EXPECT_EQ(LastMessage(), "Can't solve this network using best policy algorithm");
    EXPECT_EQ(informed.GetNotificationMask(), mask);
    ASSERT_EQ(Value(informed, v.oil)->SetEvidence(0), 0);
    ASSERT_EQ(informed.UpdateBeliefs(), 0);
    EXPECT_EQ(Cells(informed, v.drill), (std::vector<double>{0.0, 1.0}));

    // Everything decided: nothing to solve.
    ASSERT_EQ(Value(informed, v.drill)->SetEvidence(0), 0);
    EXPECT_EQ(informed.UpdateBeliefs(), -2);
    EXPECT_EQ(LastMessage(), "Error when running Shachter's algorithm");
}

// The merged table may hold 8,192 cells (13 binary parents), no more.
TEST_F(ShachterSolverTest, MergeLimitCountsCells) {
    std::vector<int> chance;
    for (int i = 0; i < 14; ++i)
        chance.push_back(net.AddNode(QNL_TYPE_CPT, ("C" + std::to_string(i)).c_str()));
    const int d = net.AddNode(QNL_TYPE_LIST, "D");
    Table(net, "U0", {d, chance[0], chance[1], chance[2], chance[3], chance[4], chance[5]},
          std::vector<double>(128, 1.0));
    Table(net, "U1", {chance[6], chance[7], chance[8], chance[9], chance[10], chance[11]},
          std::vector<double>(64, 2.0));
    EXPECT_EQ(net.UpdateBeliefs(), 0);
    const int u2 = Table(net, "U2", {chance[12]}, {1.0, 2.0});
    EXPECT_EQ(net.UpdateBeliefs(), -2);
    EXPECT_EQ(LastMessage(), "Cannot solve this network using SHACHTER's algorithm. Error while "
                             "merging utility nodes (too many parents)");
    // Two ten-outcome parents alone pass the old count of parents, not the count of cells.
    net.DeleteNode(u2);
    net.GetNode(chance[12])->GetDefinition()->SetNumberOfOutcomes(10);
    net.GetNode(chance[13])->GetDefinition()->SetNumberOfOutcomes(10);
    Table(net, "U3", {chance[12], chance[13]}, std::vector<double>(100, 0.0));
    EXPECT_EQ(net.UpdateBeliefs(), -2);
}

// U enters the overall utility through two MAU nodes with weights 2 and 3: with 5 x U + V
// the second option is best (5 against 5.5); multiplying the weights would pick the first.
TEST_F(ShachterSolverTest, UtilityUnderTwoMauNodesCountsTheSumOfWeights) {
    const int d = net.AddNode(QNL_TYPE_LIST, "D");
    const int u = Table(net, "U", {d}, {1.0, 0.0});
    const int v = Table(net, "V", {d}, {0.0, 5.5});
    Mau(net, "M1", {u, v}, {2.0, 1.0});
    const int m2 = Mau(net, "M2", {u}, {3.0});
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_EQ(Cells(net, d), (std::vector<double>{0.0, 1.0}));
    net.SetDefaultIDAlgorithm(0);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_NEAR(Cells(net, d)[0], 5.0, 1e-9);
    EXPECT_NEAR(Cells(net, d)[1], 5.5, 1e-9);

    // An expression can't be folded into its parents.
    std::string error;
    QNL_stringArray texts;
    texts.Add("U*U");
    ASSERT_EQ(static_cast<QNL_mau*>(net.GetNode(m2)->GetDefinition())->SetExpressions(texts, error),
              0)
        << error;
    net.SetDefaultIDAlgorithm(1);
    EXPECT_EQ(net.UpdateBeliefs(), -2);
    EXPECT_EQ(LastMessage(), "Can't solve this network using best policy algorithm");
}

// With every later decision seeing all that came before it, the best option of the first
// decision is the one of highest expected utility.
TEST_F(ShachterSolverTest, RandomDiagramsPickCoopersBestFirstOption) {
    int solved = 0;
    for (std::uint64_t seed = 1; seed <= 200; ++seed) {
        QNL_network n;
        BuildRandomDiagram(n, seed);
        const DecisionOracle oracle = SolveByEnumeration(n);
        ASSERT_TRUE(oracle.ok);
        for (std::size_t k = 0; k < oracle.sequence.size(); ++k)
            if (n.GetNode(oracle.sequence[k])->GetType() == QNL_TYPE_LIST)
                for (std::size_t j = 0; j < k; ++j)
                    if (!n.GetParents(oracle.sequence[k]).IsInList(oracle.sequence[j]))
                        n.AddArc(oracle.sequence[j], oracle.sequence[k]);
        int first = -1;
        for (int h : oracle.sequence)
            if (first < 0 && n.GetNode(h)->GetType() == QNL_TYPE_LIST) first = h;
        n.SetDefaultIDAlgorithm(1);
        const int result = n.UpdateBeliefs();
        if (result == -2) continue;
        ASSERT_EQ(result, 0) << "seed " << seed;
        const std::vector<double> indicator = Cells(n, first);
        n.SetDefaultIDAlgorithm(0);
        ASSERT_EQ(n.UpdateBeliefs(), 0);
        const std::vector<double> utilities = Cells(n, first);
        ASSERT_EQ(indicator.size(), utilities.size()) << "seed " << seed;
        // Options tied up to rounding may be picked either way.
        double best = utilities[0];
        std::size_t picked = 0;
        for (std::size_t o = 0; o < utilities.size(); ++o) {
            best = std::max(best, utilities[o]);
            if (indicator[o] == 1.0) picked = o;
        }
        EXPECT_NEAR(utilities[picked], best, 1e-9 * std::max(1.0, std::fabs(best)))
            << "seed " << seed;
        EXPECT_EQ(std::count(indicator.begin(), indicator.end(), 1.0), 1) << "seed " << seed;
        ++solved;
    }
    EXPECT_GT(solved, 40);
}

} // namespace
