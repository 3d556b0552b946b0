#include "learning/dataset.h"
#include "learning/engine_network.h"
#include "learning/learning_data.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using namespace learning_test;
using quarn_test::AddBinaryNode;

TEST(EngineEm, RecoversNaiveBayesTablesFromIncompleteData) {
    QNL_network truth;
    const int c = AddBinaryNode(truth, "C", {}, {0.35});
    AddBinaryNode(truth, "F1", {c}, {0.85, 0.2});
    AddBinaryNode(truth, "F2", {c}, {0.3, 0.75});
    AddBinaryNode(truth, "F3", {c}, {0.6, 0.1});
    const QNL_dataset data = NamedSample(truth, 5000, 0.2, 21);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    ASSERT_TRUE(net.IsDataIncomplete());
    for (int f = 1; f <= 3; ++f)
        ASSERT_EQ(net.AddArc(0, f), 1);
    net.SetLogFlag(true);
    std::vector<std::string> messages;
    QNL_learnProgress progress([&](double, const std::string& message) {
        if (!message.empty()) messages.push_back(message);
        return true;
    });
    net.SetProgress(&progress);
    ASSERT_EQ(net.LearnParameters(), 0);
    net.SetProgress(nullptr);
    for (int i = 0; i < 4; ++i) {
        const QNL_nodeDefinition* definition = truth.GetNode(i)->GetDefinition();
        const QNL_learnTable& learned = net.GetNode(i)->GetProbabilities();
        const QNL_Dmatrix& table = *const_cast<QNL_nodeDefinition*>(definition)->GetMatrix();
        for (int cell = 0; cell < table.GetSize(); ++cell)
            EXPECT_NEAR(learned.Matrix().Subscript(cell), table.Subscript(cell), 0.03)
                << "node " << i << " cell " << cell;
    }
    const std::string log = net.GetLog();
    for (const char* text : {"Performing EM for a hidden network: \r\n",
                             "Performed 1 EM iterations.\nScore = ", "Not converged.\r\n",
                             "Performed 3 EM iterations.\n", "Converged!\r\n"})
        EXPECT_NE(log.find(text), std::string::npos) << text;
    EXPECT_EQ(log.find("Converged!\r\n"), log.rfind("Converged!\r\n"));
    for (const char* step :
         {"EM Iteration: 0", "EM Iteration: 2", "Calculating Expected Sufficient Statistics",
          "Adding Record: 0", "Adding Record: 4900", "Calculating Parameters", "Cleaning Up"})
        EXPECT_NE(std::find(messages.begin(), messages.end(), step), messages.end()) << step;
}

TEST(EngineEm, NoImprovementAtAllIsConvergence) {
    // From the uniform start, records 0, 1 and one with A unobserved give the uniform table
    // back, so the second score equals the first. (A record with every cell missing would be
    // dropped: B is observed throughout.)
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(IntColumns({{0, 1, -1}, {0, 1, 0}})));
    ASSERT_EQ(net.SetBoolOption("EM_USE_RANDOM_INIT_PARAMS", false), 0);
    net.SetLogFlag(true);
    ASSERT_EQ(net.LearnParameters(), 0);
    EXPECT_NE(net.GetLog().find("Performed 3 EM iterations.\nScore = "), std::string::npos);
    EXPECT_NE(net.GetLog().find("Converged!\r\n"), std::string::npos);
    EXPECT_DOUBLE_EQ(net.GetNode(0)->GetProbabilities().Row(0)[0], 0.5);
}

TEST(EngineEm, AnUnobservedChildAddsItsConditionalAnEmptyRecordNothingAndTheCapStops) {
    // One complete record, one with only A = 1 observed, expected under the prior network's
    // tables, and one with nothing observed, which says nothing and is dropped: the counts are
    // the complete cell plus P(B | A = 1) in the row of A = 1.
    QNL_network prior;
    const int a = AddBinaryNode(prior, "A", {}, {0.3});
    AddBinaryNode(prior, "B", {a}, {0.9, 0.2});
    QNL_dataset data = IntColumns({{0, 1, -1}, {1, -1, -1}}, {"A", "B"});
    data.setStateNames(0, OutcomesOf(prior, 0));
    data.setStateNames(1, OutcomesOf(prior, 1));
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    net.AddArc(0, 1);
    net.SetPriorNetwork(&prior);
    ASSERT_EQ(net.SetBoolOption("EM_INITIALIZE_W_PRIOR_NET", true), 0);
    ASSERT_EQ(net.SetBoolOption("EM_USE_RANDOM_INIT_PARAMS", false), 0);
    // One pass only: the counts are those of the first expectation, and the cap is a failure.
    ASSERT_EQ(net.SetIntOption("EM_MAX_ITERATIONS", 1), 0);
    net.SetLogFlag(true);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.LearnParameters(), -1);
    EXPECT_STREQ(QNL_errorHandler::Instance().GetMessage(0),
                 "learning: EM did not converge within 1 iterations (EM_MAX_ITERATIONS)");
    QNL_errorHandler::Instance().Flush();
    EXPECT_NE(net.GetLog().find("Performed 1 EM iterations.\n"), std::string::npos);
    EXPECT_EQ(net.GetLog().find("Performed 2 EM iterations."), std::string::npos);
    const QNL_learnTable& counts = net.GetNode(1)->GetCounts();
    const double expected[] = {0.0, 1.0, 0.2, 0.8};
    for (int cell = 0; cell < 4; ++cell)
        EXPECT_NEAR(counts.Matrix().Subscript(cell), expected[cell], 1e-9) << cell;
}

TEST(EngineEm, GreedySearchOnIncompleteDataFindsTheChain) {
    QNL_network truth;
    const int a = AddBinaryNode(truth, "A", {}, {0.4});
    const int b = AddBinaryNode(truth, "B", {a}, {0.9, 0.15});
    AddBinaryNode(truth, "C", {b}, {0.2, 0.85});
    AddBinaryNode(truth, "D", {}, {0.6});
    QNL_dataset data = NamedSample(truth, 1500, 0.15, 17);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    ASSERT_TRUE(net.IsDataIncomplete());
    ASSERT_EQ(net.SetMaxParents(5), 0);
    ASSERT_EQ(net.SearchStructure(-1), 0);
    std::set<std::pair<int, int>> skeleton;
    for (int i = 0; i < 4; ++i)
        for (const int p : net.GetNode(i)->GetParents())
            skeleton.insert({std::min(p, i), std::max(p, i)});
    EXPECT_EQ(skeleton, (std::set<std::pair<int, int>>{{0, 1}, {1, 2}}));
    EXPECT_EQ(net.LearnParameters(), 0);
    // The parent limit on the same data: removals priced on expected counts as well.
    net.AddArc(0, 2);
    net.AddArc(3, 2);
    ASSERT_EQ(net.SearchStructure(1), 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_LE(net.GetNode(i)->GetParents().size(), 1u) << i;
}

} // namespace
