#include "learning/dataset.h"
#include "learning/engine_network.h"
#include "learning/learning_data.h"
#include "learning/statistics.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "support/real_networks.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace learning_test;
constexpr double kNoScore = QNL_learnNetwork::NO_SCORE;

TEST(EngineScores, BinaryFamilyScoresMatchTheirClosedForms) {
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(IntColumns({{0, 0, 0, 1}})));
    QNL_learnNode& node = *net.GetNode(0);
    const double lnGamma = std::log(6.0 / 120.0);
    const double penalized = 3 * std::log(0.75) + std::log(0.25) - 0.5 * std::log(4.0);
    struct Case {
        int criterion;
        double expected;
    };
    for (const Case& c : {Case{0, lnGamma}, Case{3, lnGamma}, Case{4, penalized}}) {
        net.SetIntOption("CRITERION", c.criterion);
        EXPECT_NEAR(net.ScoreNetwork(), c.expected, 1e-6) << c.criterion;
        EXPECT_NEAR(node.FamilyScore(c.criterion), c.expected, 1e-6) << c.criterion;
    }
    EXPECT_NEAR(penalized, -2.942488, 1e-6);
    net.SetIntOption("CRITERION", 1);
    EXPECT_EQ(net.ScoreNetwork(), kNoScore);
    net.SetIntOption("CRITERION", 2);
    EXPECT_EQ(net.ScoreNetwork(), -1.0);
}

TEST(EngineScores, PenaltyVanishesButNeverTurnsIntoABonus) {
    // Four nodes over four records: ln N - ln n = 0; six nodes: it would be negative.
    for (const int nodes : {4, 6}) {
        std::vector<std::vector<int>> columns(static_cast<std::size_t>(nodes), {0, 0, 0, 1});
        QNL_learnNetwork net;
        ASSERT_TRUE(net.ImportDataset(IntColumns(columns)));
        EXPECT_NEAR(net.GetNode(0)->PenalizedLogLikelihood(), 3 * std::log(0.75) + std::log(0.25),
                    1e-12)
            << nodes;
    }
}

TEST(EngineScores, NetworkScoreIsTheK2SumAndMissingCellsSkipOnlyTheirFamilies) {
    std::mt19937 random(3);
    std::vector<std::vector<int>> columns(4);
    for (int r = 0; r < 200; ++r) {
        columns[0].push_back(static_cast<int>(random() % 3));
        columns[1].push_back((columns[0].back() + static_cast<int>(random() % 2)) % 3);
        columns[2].push_back(r % 7 == 0 ? -1 : static_cast<int>(random() % 2));
        columns[3].push_back((columns[2].back() == 1) != (random() % 5 == 0));
    }
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(IntColumns(columns)));
    net.AddArc(0, 1);
    net.AddArc(2, 3);
    net.AddArc(0, 3);
    // Brute force: lnG(r) - lnG(N_ij + r) + sum_k lnG(N_ijk + 1) over the records with the
    // whole family observed.
    const std::vector<std::vector<int>> families = {{0}, {0, 1}, {2}, {2, 0, 3}};
    const std::vector<int> states = {3, 3, 2, 2};
    double expected = 0.0;
    for (const auto& family : families) {
        std::map<std::vector<int>, std::vector<double>> rows;
        const int node = family.back();
        const int r = states[static_cast<std::size_t>(node)];
        for (int rec = 0; rec < 200; ++rec) {
            std::vector<int> key;
            bool missing = false;
            for (const int v : family)
                missing = missing || columns[static_cast<std::size_t>(v)][rec] < 0;
            if (missing) continue;
            for (std::size_t m = 0; m + 1 < family.size(); ++m)
                key.push_back(columns[static_cast<std::size_t>(family[m])][rec]);
            auto& row = rows.try_emplace(key, static_cast<std::size_t>(r), 0.0).first->second;
            row[static_cast<std::size_t>(columns[static_cast<std::size_t>(node)][rec])] += 1.0;
        }
        for (const auto& entry : rows) {
            double n = 0.0;
            for (const double c : entry.second) {
                n += c;
                expected += std::lgamma(c + 1.0);
            }
            expected += std::lgamma(r) - std::lgamma(n + r);
        }
    }
    EXPECT_NEAR(net.ScoreNetwork(), expected, 1e-8);
    net.SetIntOption("CRITERION", 3);
    EXPECT_NEAR(net.ScoreNetwork(), expected, 1e-8);
    EXPECT_DOUBLE_EQ(net.GetNode(1)->GetCounts().RowSum(0) + net.GetNode(1)->GetCounts().RowSum(1) +
                         net.GetNode(1)->GetCounts().RowSum(2),
                     200.0);
}

TEST(EngineScores, EstimatesFollowTheCountsAndPriorsOfEveryMethod) {
    // Counts of V1 given V0: V0 = 0 -> (3, 1), V0 = 1 -> (0, 2), V0 = 2 never seen.
    const QNL_dataset data = IntColumns({{0, 0, 0, 0, 1, 1, 2}, {0, 0, 0, 1, 1, 1, -1}});
    struct Case {
        int method;
        double ess;
        int minimum;
        std::vector<double> expected; // rows of P(V1 | V0)
    };
    const Case cases[] = {
        {2, 10.0, 0, {4.0 / 6, 2.0 / 6, 1.0 / 4, 3.0 / 4, 0.5, 0.5}},
        {0, 12.0, 0, {5.0 / 8, 3.0 / 8, 1.0 / 3, 2.0 / 3, 0.5, 0.5}},
        {3, 2.0, 0, {4.0 / 6, 2.0 / 6, 1.0 / 4, 3.0 / 4, 0.5, 0.5}},
        {2, 10.0, 3, {4.0 / 6, 2.0 / 6, 0.5, 0.5, 0.5, 0.5}},
        {0, 0.0, 0, {0.75, 0.25, 0.0, 1.0, 0.5, 0.5}},
    };
    for (const Case& c : cases) {
        QNL_learnNetwork net;
        ASSERT_TRUE(net.ImportDataset(data));
        QNL_learnOptions options;
        options.SetInt(QNL_learnOption::PARAM_PRIORS_METHOD, c.method);
        options.SetInt(QNL_learnOption::MIN_RECORDS_PER_CONFIGURATION, c.minimum);
        // The missing cell leaves the data incomplete: count the observed records only.
        options.SetInt(QNL_learnOption::INCOMPLETE_DATA_METHOD, 2);
        net.SetOptions(options);
        net.GetNode(1)->SetDoubleParam(QNL_learnNode::EQUIV_SAMPLE_SIZE, c.ess);
        net.AddArc(0, 1);
        ASSERT_EQ(net.LearnParameters(), 0);
        const QNL_learnTable& table = net.GetNode(1)->GetProbabilities();
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_NEAR(table.Row(0)[i], c.expected[i], 1e-12) << c.method << " cell " << i;
    }
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    EXPECT_EQ(net.LearnParameters(), 0) << "incomplete data go through the engine's EM";
    net.SetIntOption("INCOMPLETE_DATA_METHOD", 2);
    net.SetIntOption("PARAM_PRIORS_METHOD", 9);
    EXPECT_EQ(net.GetNode(0)->PriorCounts(), -1);
    EXPECT_EQ(net.ScoreNetwork(), kNoScore);
    net.SetIntOption("PARAM_PRIORS_METHOD", 4);
    EXPECT_EQ(net.LearnParameters(), -567) << "no prior network";
}

TEST(EngineScores, AnUnknownPriorsMethodFailsWithAMessage) {
    // The method number itself once came back: read as success when positive, as a cancel
    // when it happened to be the cancel code.
    const QNL_dataset data = IntColumns({{0, 1, 1, 0}, {1, 1, 0, 0}});
    for (const int method : {6, 9, 2147483647, -1, -1000, QNL_learnNetwork::CANCELLED}) {
        QNL_learnNetwork net;
        ASSERT_TRUE(net.ImportDataset(data));
        net.SetIntOption("PARAM_PRIORS_METHOD", method);
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(net.LearnParameters(), -1) << method;
        EXPECT_EQ(quarn_test::LastMessage(),
                  "learning: unknown PARAM_PRIORS_METHOD " + std::to_string(method));
        QNL_errorHandler::Instance().Flush();
        double score = 0.0;
        EXPECT_EQ(net.RunEM(score), -1) << method;
        EXPECT_GE(QNL_errorHandler::Instance().GetNumberOfErrors(), 1) << method;
    }
    QNL_errorHandler::Instance().Flush();
}

TEST(EngineScores, AnEquivalentSampleSizeBelowZeroOrUnboundedIsRefused) {
    // Such prior counts once gave negative or not-a-number probabilities.
    const std::string path = quarn_test::TestFile("sample_size.txt");
    std::ofstream(path, std::ios::binary) << "A B\n0 1\n1 1\n1 0\n0 0\n0 0\n";
    const double nan = std::nan("");
    const struct {
        int method;
        double ess;
        int code;
    } cases[] = {{0, -1.0, -1}, {3, -0.5, -1}, {0, nan, -1}, {3, HUGE_VAL, -1}, {1, -2.0, -1},
                 {1, nan, -1},  {2, -1.0, 0},  {0, 0.0, 0},  {3, 0.0, 0},       {0, 1e300, 0}};
    for (const auto& c : cases) {
        // Nodes read from a file take their sample size from the options, unchecked.
        QNL_learnNetwork net;
        QNL_learnOptions options = net.GetOptions();
        options.SetInt(QNL_learnOption::PARAM_PRIORS_METHOD, c.method);
        options.SetDouble(QNL_learnOption::EQUIV_SAMPLE_SIZE, c.ess);
        net.SetOptions(options);
        ASSERT_EQ(net.ReadData(path), 0);
        ASSERT_EQ(net.AddArc(0, 1), 1);
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(net.LearnParameters(), c.code) << c.method << " " << c.ess;
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), c.code == 0 ? 0 : 1);
        if (c.code != 0) {
            EXPECT_NE(quarn_test::LastMessage().find("equivalent sample size"), std::string::npos);
            continue;
        }
        QNL_network copy;
        ASSERT_EQ(net.CopyToNetwork(copy), 0);
        for (int h = copy.GetFirstNode(); h >= 0; h = copy.GetNextNode(h))
            for (const double p : quarn_test::ValuesOf(copy.GetNode(h)->GetDefinition()))
                EXPECT_TRUE(p >= 0.0 && p <= 1.0) << c.method << " " << c.ess << ": " << p;
    }
    std::filesystem::remove(path);
    QNL_errorHandler::Instance().Flush();
}

TEST(EngineScores, PriorsFromAPriorNetworkUseItsJointOrItsTables) {
    QNL_network truth;
    quarn_test::BuildAlarm(truth);
    QNL_dataset data = NamedSample(truth, 50, 0.0, 9);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    net.SetPriorNetwork(&truth);
    const int alarm = net.FindNode("Alarm");
    const int john = net.FindNode("JohnCalls");
    net.AddArc(alarm, john);
    const double pAlarm =
        0.001 * 0.002 * 0.95 + 0.001 * 0.998 * 0.94 + 0.999 * 0.002 * 0.29 + 0.999 * 0.998 * 0.001;
    const std::vector<double> joint = {10 * pAlarm * 0.9, 10 * pAlarm * 0.1,
                                       10 * (1 - pAlarm) * 0.05, 10 * (1 - pAlarm) * 0.95};
    struct Case {
        int method;
        double nodeSampleSize; // method 1 replaces it by the network's option (10)
        std::vector<double> expected;
    };
    const Case cases[] = {{5, 10.0, {9.0, 1.0, 0.5, 9.5}}, {4, 10.0, joint}, {1, 3.0, joint}};
    for (const Case& c : cases) {
        net.SetIntOption("PARAM_PRIORS_METHOD", c.method);
        QNL_learnNode& node = *net.GetNode(john);
        node.SetDoubleParam(QNL_learnNode::EQUIV_SAMPLE_SIZE, c.nodeSampleSize);
        ASSERT_EQ(node.PriorCounts(), 0) << c.method;
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_NEAR(node.GetPriorCounts().Row(0)[i], c.expected[i], 1e-9) << c.method;
    }
    QNL_intArray evidence;
    truth.GetEvidenceNodes(evidence);
    EXPECT_EQ(evidence.GetCount(), 0) << "the prior network is left without evidence";
}

TEST(EngineScores, ATableTooLargeToMakeGivesNoScoreAndAMessage) {
    std::vector<std::vector<int>> columns(10);
    for (int r = 0; r < 30; ++r)
        for (auto& column : columns)
            column.push_back(r);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(IntColumns(columns)));
    for (int p = 1; p < 10; ++p)
        net.AddArc(p, 0);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.ScoreNetwork(), kNoScore);
    EXPECT_EQ(net.LearnParameters(), -42);
    ASSERT_GT(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
    EXPECT_NE(std::string(QNL_errorHandler::Instance().GetMessage(0)).find("V0"),
              std::string::npos);
    QNL_errorHandler::Instance().Flush();
}

TEST(EngineScores, ColumnsShareTheirBodyAndRandomParametersAreNormalisedAndRepeatable) {
    QNL_dataColumn<int> column({0, 1, 1, 0});
    QNL_dataColumn<int> copy = column;
    EXPECT_TRUE(copy.SharesBodyWith(column));
    EXPECT_EQ(copy.Set(0, 1), 0);
    EXPECT_FALSE(copy.SharesBodyWith(column));
    EXPECT_EQ(column[0], 0);
    EXPECT_EQ(copy.SetExcluded(4, true), -2);

    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(IntColumns({{0, 1, 2}, {0, 1, 0}})));
    net.AddArc(0, 1);
    std::vector<double> first;
    for (int round = 0; round < 2; ++round) {
        net.SetRandomSeed(-7);
        ASSERT_EQ(net.RandomizeParameters(), 0);
        const QNL_learnTable& table = net.GetNode(1)->GetProbabilities();
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(table.RowSum(j), 1.0, 1e-12);
        if (round == 0) first.assign(table.Row(0), table.Row(0) + 6);
    }
    const QNL_learnTable& table = net.GetNode(1)->GetProbabilities();
    EXPECT_EQ(std::vector<double>(table.Row(0), table.Row(0) + 6), first);
}

TEST(EngineScores, LearnedAlarmTablesApproachTheTrueOnesAndMatchTheData) {
    QNL_network truth;
    ASSERT_EQ(truth.ReadFile((quarn_test::RealNetworks() + "/dsc/alarm.dsc").c_str()), 0);
    QNL_dataset data = NamedSample(truth, 15000, 0.0, 4);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    // The true structure, parents in the true table's order.
    for (int h = truth.GetFirstNode(); h >= 0; h = truth.GetNextNode(h)) {
        const QNL_intArray& parents = truth.GetParents(h);
        for (int k = 0; k < parents.GetCount(); ++k)
            ASSERT_EQ(net.AddArc(net.FindNode(truth.GetNode(parents[k])->GetId()),
                                 net.FindNode(truth.GetNode(h)->GetId())),
                      1);
    }
    ASSERT_EQ(net.LearnParameters(), 0);
    QNL_network learned, mapped(truth);
    ASSERT_EQ(net.CopyToNetwork(learned), 0);
    // The parameters go as well through a handle map to another network of the structure.
    QNL_learnHandleMap map;
    map.Build(net, mapped);
    int compared = 0;
    for (int i = 0; i < net.GetNumberOfNodes(); ++i) {
        const QNL_learnNode& node = *net.GetNode(i);
        const QNL_node* original = truth.GetNode(truth.FindNode(node.GetName().c_str()));
        const QNL_node* copy = learned.GetNode(learned.FindNode(node.GetName().c_str()));
        QNL_doubleArray expected, actual;
        original->GetDefinition()->GetDefinition(expected);
        copy->GetDefinition()->GetDefinition(actual);
        ASSERT_EQ(expected.GetCount(), actual.GetCount()) << node.GetName();
        ASSERT_EQ(net.GetNode(i)->CopyParametersTo(map, 0), 0);
        QNL_doubleArray viaMap;
        mapped.GetNode(map.GetHandle(i))->GetDefinition()->GetDefinition(viaMap);
        for (int c = 0; c < viaMap.GetCount(); ++c)
            EXPECT_EQ(viaMap[c], node.GetProbabilities().Row(0)[c]) << node.GetName();
        const int r = node.GetNumberOfStates();
        for (int j = 0; j < node.GetCounts().Rows(); ++j) {
            if (node.GetCounts().RowSum(j) < 2000) continue;
            ++compared;
            for (int k = 0; k < r; ++k)
                EXPECT_NEAR(actual[j * r + k], expected[j * r + k], 0.04) << node.GetName();
        }
    }
    EXPECT_GT(compared, 10);
    const int child = net.FindNode("HR");
    net.RemoveArc(net.GetNode(child)->GetParents()[0], child);
    EXPECT_EQ(net.GetNode(child)->CopyParametersTo(map, 0), -2) << "parents differ";
    std::string error;
    EXPECT_TRUE(data.matchNetwork(learned, error)) << error;
}

TEST(EngineScores, StructurePriorFollowsTheArcsAndJoinsTheNetworkScore) {
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(IntColumns({{0, 1, 1}, {1, 1, 0}, {0, 0, 1}})));
    std::vector<double> p(9, 0.2);
    p[1] = 0.6; // V0 -> V1
    EXPECT_EQ(net.SetArcProbabilities({0.5}), -2);
    ASSERT_EQ(net.SetArcProbabilities(p), 0);
    const double none = 6 * std::log(0.8);
    EXPECT_NEAR(net.Score(), none - std::log(0.8) + std::log(0.4), 1e-12);
    const double families = net.GetNode(0)->BayesianScore() + net.GetNode(1)->BayesianScore() +
                            net.GetNode(2)->BayesianScore();
    EXPECT_NEAR(net.ScoreNetwork() - families, net.Score(), 1e-12);
    net.AddArc(0, 1);
    EXPECT_NEAR(net.Score(), none - std::log(0.8) + std::log(0.6), 1e-12);
    EXPECT_NEAR(net.GetNode(0)->StructureLogPrior(),
                std::log(0.4) + std::log(0.8) + std::log(0.6) - std::log(0.4), 1e-12);
}

} // namespace
