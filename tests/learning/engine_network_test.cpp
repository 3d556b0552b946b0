#include "learning/dataset.h"
#include "learning/engine_network.h"
#include "learning/learning_data.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using learning_test::IntColumns;
constexpr int kMissing = -1;

QNL_dataset Binary(int nodes, int records, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::vector<int>> columns(static_cast<std::size_t>(nodes));
    for (int i = 0; i < nodes; ++i)
        for (int r = 0; r < records; ++r) {
            // Each column leans on the one before, so families have something to score.
            const int before = i > 0 ? columns[i - 1][r] : 0;
            columns[i].push_back(random() % 4 == 0 ? 1 - before : before ^ (r & 1));
        }
    return IntColumns(columns);
}

TEST(EngineOptions, KeysSetOnlyOptionsOfTheirOwnType) {
    QNL_learnNetwork net;
    struct Case {
        int result;
        int expected;
        const char* what;
    };
    const Case cases[] = {
        {net.SetIntOption("EM_MAX_ITERATIONS", 50), 0, "int key"},
        {net.SetIntOption("em_max_iterations", 7), -2, "keys are case-sensitive"},
        {net.SetIntOption("PC_SIG_LEVEL", 9), -2, "a double key through the int setter"},
        {net.SetBoolOption("CRITERION", true), -2, "an int key through the bool setter"},
        {net.SetStringOption("NO_SUCH_KEY", "x"), -2, "unknown key"},
        {net.SetStringOption("DATA_FILENAME", "d.txt"), 0, "string key"},
        {QNL_learnOptions().SetInt(13, 1), -2, "int index past the end"},
        {QNL_learnOptions(0, 0, 0, 0).SetDouble(0, 1.0), -2, "empty double array"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.what;
    const QNL_learnOptions& options = net.GetOptions();
    EXPECT_EQ(options.GetInt(QNL_learnOption::EM_MAX_ITERATIONS), 50);
    EXPECT_EQ(options.GetInt(QNL_learnOption::RESTARTS_NUM_OR_TIME), 0);
    EXPECT_EQ(options.GetString(QNL_learnOption::DATA_FILENAME), "d.txt");
    int out = 0;
    EXPECT_EQ(net.GetIntOption(13, out), -1);
    net.Reset();
    EXPECT_EQ(net.GetOptions().GetInt(QNL_learnOption::EM_MAX_ITERATIONS), 20);
}

TEST(EngineNetwork, ArcOperationsAnswerByTheirRules) {
    QNL_learnNetwork net;
    for (const char* name : {"A", "B", "C", "D"})
        net.CreateNode(name);
    ASSERT_EQ(net.SetForcedArc(0, 1), 0);
    ASSERT_EQ(net.SetForbiddenArc(3, 2), 0);
    struct Case {
        int result;
        int expected;
        const char* what;
    };
    const Case cases[] = {
        {net.AddArc(0, 0), 0, "self arc"},
        {net.RemoveArc(2, 2), 0, "self removal"},
        {net.AddArc(0, 1), 1, "new arc"},
        {net.AddArc(0, 1), 1, "existing arc"},
        {net.RemoveArc(0, 1), 0, "forced arc"},
        {net.ReverseArc(0, 1), 0, "forced arc reversed"},
        {net.AddArc(3, 2), 0, "forbidden arc"},
        {net.AddArc(2, 3), 1, "arc whose reversal is forbidden"},
        {net.ReverseArc(2, 3), 0, "reversal into a forbidden arc"},
        {net.RemoveArc(1, 2), 0, "absent arc"},
        {net.AddArc(1, 9), -1, "missing node"},
        {net.AddArc(1, 2), 1, "chain"},
        {net.AddArcIfAcyclic(2, 0), 0, "cycle"},
        {net.ReverseArcIfAcyclic(1, 2), 1, "acyclic reversal"},
        {net.SetForbiddenArc(0, 1), -1, "forbidding a forced arc"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_EQ(net.GetNode(1)->GetParents(), std::vector<int>({0, 2}));
    EXPECT_EQ(net.GetNode(3)->GetParents(), std::vector<int>({2}));
}

TEST(EngineNetwork, TierListsNamingMissingNodesAreRefusedUnchanged) {
    // A list of one tier orders no pair, so its nodes were first looked up inside the tier.
    const std::vector<std::vector<std::vector<int>>> cases = {
        {{0, 9}}, {{-1, 1}}, {{2, 3, 4}}, {{0}, {1, -2, 2}}, {{0, 1}, {2}, {7}}};
    for (const auto& tiers : cases) {
        QNL_learnNetwork net;
        for (const char* name : {"A", "B", "C"})
            net.CreateNode(name);
        EXPECT_EQ(net.SetTiers(tiers), -1) << tiers.size() << " tiers";
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k)
                EXPECT_FALSE(net.GetNode(i)->IsForbiddenParent(k) ||
                             net.GetNode(i)->IsInEarlierTier(k))
                    << "nothing of a refused list stays";
    }
}

TEST(EngineNetwork, ForcedArcsThatCloseACycleWithDrawnArcsAreRefused) {
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(Binary(3, 20, 5)));
    ASSERT_EQ(net.AddArc(0, 1), 1);
    ASSERT_EQ(net.AddArc(1, 2), 1);
    ASSERT_EQ(net.SetForcedArc(2, 0), 0) << "no forced path back";
    EXPECT_EQ(net.ApplyBackgroundKnowledge(), -1);
    EXPECT_TRUE(net.GetNode(0)->GetParents().empty()) << "the structure as it was";
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.GreedySearch(), -1);
    EXPECT_GE(QNL_errorHandler::Instance().GetNumberOfErrors(), 1);

    // A cycle drawn by hand cannot be copied; the refusal is logged.
    QNL_learnNetwork drawn;
    ASSERT_TRUE(drawn.ImportDataset(Binary(3, 20, 6)));
    for (const auto& [from, to] : {std::pair{0, 1}, {1, 2}, {2, 0}})
        ASSERT_EQ(drawn.AddArc(from, to), 1);
    QNL_network target;
    QNL_errorHandler::Instance().Flush();
    EXPECT_LT(drawn.CopyToNetwork(target), 0);
    EXPECT_GE(QNL_errorHandler::Instance().GetNumberOfErrors(), 1);
    QNL_errorHandler::Instance().Flush();
}

TEST(EngineNetwork, TiersCloseTransitivelyAndRefuseContradictions) {
    QNL_learnNetwork net;
    for (const char* name : {"A", "B", "C", "D"})
        net.CreateNode(name);
    ASSERT_EQ(net.SetTiers({{0}, {1, 2}, {3}}), 0);
    EXPECT_EQ(net.SetForcedArc(2, 0), -1);
    EXPECT_EQ(net.AddArc(3, 0), 0) << "two tiers apart";
    EXPECT_EQ(net.AddArc(1, 2), 0) << "inside one tier";
    EXPECT_EQ(net.AddArc(0, 3), 1);
    EXPECT_EQ(net.SetTierOrder(3, 1), -1);
    EXPECT_EQ(net.SetTiers({{0}, {9}}), -1) << "a missing node";
    EXPECT_EQ(net.SetTiers({{2}, {1}, {0}}), -1) << "against the order known";
    EXPECT_FALSE(net.GetNode(1)->IsInEarlierTier(2)) << "a refused tier list changes nothing";

    QNL_learnNetwork cycle;
    for (const char* name : {"A", "B", "C"})
        cycle.CreateNode(name);
    EXPECT_EQ(cycle.SetForcedArc(0, 1), 0);
    EXPECT_EQ(cycle.SetForcedArc(1, 2), 0);
    EXPECT_EQ(cycle.SetForcedArc(2, 0), -1) << "forced arcs closing a cycle";
}

TEST(EngineNetwork, DeactivatedNodesLoseArcsAndAreSkippedQuietlyUnlessLogging) {
    QNL_learnNetwork net;
    for (const char* name : {"A", "B", "C", "D"})
        net.CreateNode(name);
    net.AddArc(0, 1);
    net.AddArc(1, 2);
    net.SetDesignatedNode(3);
    EXPECT_EQ(net.DeactivateNode(1), 0);
    EXPECT_EQ(net.DeactivateNode(7), -2);
    EXPECT_TRUE(net.GetNode(0)->GetChildren().empty());
    EXPECT_TRUE(net.GetNode(2)->GetParents().empty());
    EXPECT_EQ(net.AddArc(1, 2), 0) << "an inactive node takes part in nothing";
    std::vector<int> visited;
    for (int i = -1; net.NextNode(i) == 0;)
        visited.push_back(i);
    EXPECT_EQ(visited, std::vector<int>({0, 2, 3}));
    EXPECT_EQ(net.GetLog(), "");
    net.SetLogFlag(true);
    for (int i = -1; net.NextNode(i) == 0;) {
    }
    EXPECT_EQ(net.GetLog(), "Found a deactivated node: B.\n");
    EXPECT_EQ(net.CreateNode("E"), 4) << "an index, not the active count less 1";
    net.AddArc(0, 2);
    net.AddArc(3, 2);
    EXPECT_EQ(net.RemoveNode(1), 0);
    EXPECT_EQ(net.GetDesignatedNode(), 2);
    EXPECT_EQ(net.GetNode(1)->GetParents(), std::vector<int>({0, 2}));
    EXPECT_EQ(net.GetNumberOfActiveNodes(), 4);
    EXPECT_EQ(net.RemoveNode(4), -2);
}

TEST(EngineNetwork, ImportNumbersStatesAndMarksMissingCells) {
    QNL_dataset data = IntColumns({{3, 1, 3}, {5, 5, kMissing}, {1, 0, 2}}, {"x", "one", "named"});
    data.setStateNames(2, {"low", "mid", "high", "never"});
    std::vector<QNL_datasetCell> real = {QNL_FloatCell(0.5f), QNL_FloatCell(NAN),
                                         QNL_FloatCell(2.0f)};
    data.addFloatVariable("real", &real, NAN);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    const QNL_learnNode& x = *net.GetNode(0);
    EXPECT_EQ(x.GetStates(), std::vector<std::string>({"1", "3"}));
    EXPECT_EQ(std::vector<int>(x.GetDiscreteData().Data(), x.GetDiscreteData().Data() + 3),
              std::vector<int>({1, 0, 1}));
    const QNL_learnNode& one = *net.GetNode(1);
    EXPECT_EQ(one.GetStates(), std::vector<std::string>({"5", "_unobserved"}));
    EXPECT_EQ(one.GetDiscreteData()[2], QNL_learnNetwork::MISSING);
    EXPECT_EQ(net.GetNode(2)->GetStates(),
              std::vector<std::string>({"low", "mid", "high", "never"}));
    EXPECT_EQ(net.GetNode(3)->GetContinuousData()[1], QNL_learnNetwork::MISSING_CONTINUOUS);
    EXPECT_TRUE(net.IsDataIncomplete());
    EXPECT_TRUE(net.GetNode(3)->GetStates().empty());

    data.setCell(2, 0, QNL_IntCell(9));
    EXPECT_FALSE(net.ImportDataset(data)) << "a cell that names no state";
    EXPECT_EQ(net.GetNumberOfNodes(), 0);
}

TEST(EngineNetwork, CopyToNetworkMakesValidIdentifiersAndKeepsNames) {
    QNL_dataset data = IntColumns({{1, 2, 1}, {0, 1, 1}, {0, 1, 0}}, {"a b", "a-b", "c"});
    data.setStateNames(2, {"no", "yes"});
    std::vector<QNL_datasetCell> real = {QNL_FloatCell(0.5f), QNL_FloatCell(1.5f),
                                         QNL_FloatCell(2.0f)};
    data.addFloatVariable("r", &real, NAN);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    net.AddArc(0, 2);
    ASSERT_EQ(net.LearnParameters(), 0);
    QNL_network out;
    out.AddNode(QNL_TYPE_CPT, "stale");
    ASSERT_EQ(net.CopyToNetwork(out), 0);
    EXPECT_EQ(out.GetNumberOfNodes(), 4);
    EXPECT_LT(out.FindNode("stale"), 0);
    const int ab = out.FindNode("a_b");
    ASSERT_GE(ab, 0);
    EXPECT_STREQ(out.GetNode(ab)->GetInfo()->header.GetName(), "a b");
    const int other = net.GetCopyMap().GetHandle(1);
    EXPECT_NE(other, ab);
    EXPECT_STREQ(out.GetNode(other)->GetInfo()->header.GetName(), "a-b");
    EXPECT_EQ(learning_test::OutcomesOf(out, ab), std::vector<std::string>({"x1", "x2"}));
    const int c = out.FindNode("c");
    EXPECT_EQ(learning_test::OutcomesOf(out, c), std::vector<std::string>({"no", "yes"}));
    EXPECT_EQ(learning_test::OutcomesOf(out, out.FindNode("r")),
              std::vector<std::string>({"Continuous0", "Continuous1"}));
    EXPECT_EQ(out.NumberOfParents(c), 1);
    // Two of three records have c = "no" under "a b" = 1; prior counts 1 each: (2+1)/(2+2).
    QNL_doubleArray values;
    out.GetNode(c)->GetDefinition()->GetDefinition(values);
    EXPECT_DOUBLE_EQ(values[0], 3.0 / 4.0);
    EXPECT_DOUBLE_EQ(values[2], 1.0 / 3.0);
    // A prior network whose outcomes carry the former learned names still maps them.
    ASSERT_EQ(out.GetNode(ab)->GetDefinition()->RenameOutcome(1, "State_2"), 0);
    net.SetPriorNetwork(&out);
    EXPECT_EQ(net.GetPriorMap().GetOutcome(0, 0), 0);
    EXPECT_EQ(net.GetPriorMap().GetOutcome(0, 1), 1);
}

TEST(EngineNetwork, RandomArcChangesKeepTheCachedScoreAndTheKnowledge) {
    const QNL_dataset data = Binary(7, 300, 11);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    net.SetTiers({{0, 1}, {2, 3}}); // 4, 5 and 6 in no tier
    // Knowledge applied adds the forced arc and removes the forbidden one.
    net.AddArc(4, 6);
    net.SetForcedArc(0, 3);
    net.SetForbiddenArc(4, 6);
    ASSERT_EQ(net.ApplyBackgroundKnowledge(), 0);
    ASSERT_TRUE(net.GetNode(3)->HasParent(0) && !net.GetNode(6)->HasParent(4));
    net.SetIntOption("CRITERION", 0);
    std::mt19937 random(5);
    for (int step = 0; step < 400; ++step) {
        const int from = static_cast<int>(random() % 7);
        const int to = static_cast<int>(random() % 7);
        switch (random() % 3) {
        case 0:
            net.AddArcIfAcyclic(from, to);
            break;
        case 1:
            net.RemoveArc(from, to);
            break;
        default:
            net.ReverseArcIfAcyclic(from, to);
        }
        if (step % 3 == 0) net.ScoreNetwork(); // fill the caches between changes
        if (step % 50 != 49) continue;
        QNL_learnNetwork fresh;
        ASSERT_TRUE(fresh.ImportDataset(data));
        for (int i = 0; i < 7; ++i)
            for (const int p : net.GetNode(i)->GetParents())
                ASSERT_EQ(fresh.AddArc(p, i), 1);
        EXPECT_DOUBLE_EQ(net.ScoreNetwork(), fresh.ScoreNetwork()) << "step " << step;
        EXPECT_TRUE(net.GetNode(3)->HasParent(0));
        EXPECT_FALSE(net.GetNode(6)->HasParent(4));
        for (int i = 0; i < 7; ++i)
            for (const int p : net.GetNode(i)->GetParents()) {
                const int tierOfP = p < 2 ? 0 : p < 4 ? 1 : -1;
                const int tierOfI = i < 2 ? 0 : i < 4 ? 1 : -1;
                EXPECT_FALSE(tierOfP >= 0 && tierOfI >= 0 && tierOfP >= tierOfI)
                    << p << " -> " << i;
                EXPECT_FALSE(net.HasDirectedPath(i, p)) << p << " -> " << i;
            }
    }
}

TEST(EngineNetwork, ProgressStepsNestAndACancelEndsTheRun) {
    QNL_learnProgress progress;
    EXPECT_EQ(progress.BeginStep(-1, 0.5, "outer"), 0);
    EXPECT_EQ(progress.BeginStep(0, 0.5, "inner"), 0);
    EXPECT_EQ(progress.EndStep(0), -2);
    EXPECT_EQ(progress.EndStep(1), 0);
    EXPECT_EQ(progress.EndStep(0), 0);
    EXPECT_DOUBLE_EQ(progress.GetFraction(), 0.5);

    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(Binary(4, 20, 1)));
    std::vector<std::string> messages;
    QNL_learnProgress cancelling([&](double, const std::string& message) {
        if (!message.empty()) messages.push_back(message);
        return messages.size() < 2;
    });
    net.SetProgress(&cancelling);
    EXPECT_EQ(net.LearnParameters(), QNL_learnNetwork::CANCELLED);
    EXPECT_EQ(messages, std::vector<std::string>({"Node: 1/4", "Node: 2/4"}));
    EXPECT_EQ(cancelling.GetLevel(), -1);
}

} // namespace
