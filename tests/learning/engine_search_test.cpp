#include "learning/dataset.h"
#include "learning/engine_network.h"
#include "learning/learn_model.h"
#include "learning/learning_data.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <utility>
#include <vector>

namespace {

using quarn_test::AddBinaryNode;
using namespace learning_test;
using Skeleton = std::set<std::pair<int, int>>;

Skeleton SkeletonOf(const QNL_learnNetwork& net) {
    return ArcsOf(net, false);
}

QNL_dataset Sample(QNL_network& net, int records, std::uint64_t seed) {
    return quarn_test::SampleDataSet(net, Handles(net), records, 0.0, seed);
}

// Thickening under the limit, then thinning: the greedy thick-thinning search.
int ThickThin(QNL_learnNetwork& net, int maxParents) {
    const int thick = net.SetMaxParents(maxParents);
    return thick != 0 ? thick : net.SearchStructure(-1);
}

TEST(EngineSearch, SkeletonsOfRandomEightNodeNetworks) {
    constexpr int kSeeds = 10;
    int recovered = 0;
    int thinned = 0;
    for (int seed = 1; seed <= kSeeds; ++seed) {
        QNL_network truth;
        const Skeleton expected = StrongRandomNetwork(truth, static_cast<std::uint64_t>(seed));
        const QNL_dataset data = Sample(truth, 4000, static_cast<std::uint64_t>(seed) + 100);
        QNL_learnNetwork net;
        ASSERT_TRUE(net.ImportDataset(data));
        ASSERT_EQ(ThickThin(net, 5), 0) << "seed " << seed;
        if (SkeletonOf(net) == expected) ++recovered;
        // Whatever the skeleton, the queue must have left no improving move behind.
        EXPECT_LE(BestSingleArcGain(net, 5), 1e-6) << "seed " << seed;
        // Thinning alone, started from every arc along the true order.
        QNL_learnNetwork dense;
        ASSERT_TRUE(dense.ImportDataset(data));
        for (int c = 1; c < 8; ++c)
            for (int p = 0; p < c; ++p)
                dense.AddArc(p, c);
        ASSERT_EQ(dense.SearchStructure(-1), 0) << "seed " << seed;
        if (SkeletonOf(dense) == expected) ++thinned;
        EXPECT_LE(BestSingleArcGain(dense, 0), 1e-6) << "seed " << seed;
    }
    // Thickening only adds arcs, so an early arc against the true direction can draw an extra
    // one that no single removal improves on, though the true structure mostly scores higher: the
    // search can end in a local optimum (with 4,000 records, 9 of seeds 1 to 10 recover the
    // skeleton, 9 when thinning starts above the truth).
    EXPECT_GE(recovered, kSeeds * 3 / 4);
    EXPECT_GE(thinned, kSeeds * 4 / 5);
}

TEST(EngineSearch, ParentLimitRemovesEvenCostlyArcs) {
    // D depends on all four others; thinning keeps the four, the limit does not.
    QNL_network truth;
    std::vector<int> causes;
    for (const char* id : {"A", "B", "C", "E"})
        causes.push_back(AddBinaryNode(truth, id, {}, {0.5}));
    std::vector<double> pTrue;
    for (int j = 0; j < 16; ++j)
        pTrue.push_back(__builtin_popcount(static_cast<unsigned>(j)) % 2 ? 0.9 : 0.1);
    AddBinaryNode(truth, "D", causes, pTrue);
    const QNL_dataset data = Sample(truth, 4000, 3);
    for (const int limit : {-1, 2, 0}) {
        QNL_learnNetwork net;
        ASSERT_TRUE(net.ImportDataset(data));
        for (int p = 0; p < 4; ++p)
            ASSERT_EQ(net.AddArc(p, 4), 1);
        EXPECT_EQ(net.SearchStructure(limit), 0) << limit;
        EXPECT_EQ(net.GetNode(4)->GetParents().size(), limit < 0 ? 4u : limit + 0u) << limit;
    }
    // Forced arcs beyond the limit cannot be removed: the enforcement fails instead of looping.
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    for (int p = 0; p < 3; ++p)
        ASSERT_EQ(net.SetForcedArc(p, 4), 0);
    EXPECT_EQ(net.SearchStructure(2), -1);
    // Count 0 only clears what is not forced.
    net.AddArc(3, 4);
    EXPECT_EQ(net.SearchStructure(0), 0);
    EXPECT_EQ(net.GetNode(4)->GetParents().size(), 3u);
}

TEST(EngineSearch, MovesWithoutGainAreNeverApplied) {
    // C never varies, so C as a parent gains exactly nothing and anything as C's parent loses.
    std::vector<std::vector<int>> columns(2, std::vector<int>(200, 0));
    for (int r = 0; r < 200; ++r)
        columns[0][r] = (r * 7) % 3 == 0;
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(IntColumns(columns)));
    const double before = net.ScoreNetwork();
    EXPECT_EQ(net.SetMaxParents(5), 0);
    EXPECT_TRUE(SkeletonOf(net).empty());
    EXPECT_EQ(net.ApplyBestOperation(), -1e308);
    EXPECT_DOUBLE_EQ(net.ScoreNetwork(), before);
    // The zero move exists all the same.
    net.AddArc(1, 0);
    EXPECT_DOUBLE_EQ(net.ScoreNetwork(), before);
}

TEST(EngineSearch, AMinimumGainWithNothingBelowItIsRefused) {
    // At minus infinity even the empty queue's marker qualified, so the search turned arcs
    // over until its cap.
    QNL_network truth;
    quarn_test::BuildSprinkler(truth);
    const QNL_dataset data = Sample(truth, 100, 3);
    const struct {
        double delta;
        int code;
    } cases[] = {{-HUGE_VAL, -1}, {-1e308, -1}, {std::nan(""), -1}, {-2.0, 0}, {HUGE_VAL, 0}};
    for (const auto& c : cases) {
        QNL_learnNetwork net;
        ASSERT_TRUE(net.ImportDataset(data));
        ASSERT_EQ(net.AddArc(0, 1), 1);
        QNL_learnOptions options = net.GetOptions();
        options.SetDouble(QNL_learnOption::MIN_GREEDY_DELTA, c.delta);
        net.SetOptions(options);
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(net.SetMaxParents(3), c.code) << c.delta;
        EXPECT_EQ(net.SearchStructure(-1), c.code) << c.delta;
        if (c.code == 0) continue;
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 2) << c.delta;
        EXPECT_NE(quarn_test::LastMessage().find("MIN_GREEDY_DELTA"), std::string::npos);
        EXPECT_EQ(SkeletonOf(net), (Skeleton{{0, 1}})) << "the structure as it was";
    }
    QNL_errorHandler::Instance().Flush();
}

TEST(EngineSearch, CachedScoreFollowsTheAppliedMoves) {
    QNL_network truth;
    quarn_test::BuildAsia(truth);
    const QNL_dataset data = Sample(truth, 2000, 9);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    ASSERT_EQ(ThickThin(net, 3), 0);
    for (int i = 0; i < net.GetNumberOfNodes(); ++i)
        EXPECT_LE(net.GetNode(i)->GetParents().size(), 3u);
    const double kept = net.ScoreNetwork();
    // A fresh network with the same arcs scores from scratch.
    QNL_learnNetwork fresh;
    ASSERT_TRUE(fresh.ImportDataset(data));
    ASSERT_EQ(fresh.CopyStructureFrom(net), 0);
    EXPECT_NEAR(kept, fresh.ScoreNetwork(), 1e-6 * std::abs(kept));
}

TEST(EngineSearch, UnscorableNetworksEndTheSearch) {
    QNL_dataset data;
    std::vector<QNL_datasetCell> x{QNL_FloatCell(0.5f), QNL_FloatCell(1.5f)};
    data.addFloatVariable("X", &x, -1.0f);
    data.addFloatVariable("Y", &x, -1.0f);
    QNL_learnNetwork net;
    ASSERT_TRUE(net.ImportDataset(data));
    EXPECT_EQ(net.SetMaxParents(5), -1);
    EXPECT_EQ(net.SearchStructure(-1), -1);
    // CRITERION 1 scores nothing.
    QNL_network single;
    AddBinaryNode(single, "A", {}, {0.5});
    QNL_learnNetwork k1;
    ASSERT_TRUE(k1.ImportDataset(Sample(single, 10, 1)));
    ASSERT_EQ(k1.SetIntOption("CRITERION", 1), 0);
    EXPECT_EQ(k1.SetMaxParents(5), -1);
}

// A cyclic start: a few arcs along a random order, then a cycle of two to four nodes drawn
// against it with the unchecked AddArc.
void DrawCyclicStart(QNL_learnNetwork& net, quarn_test::TestRandom& random) {
    const int n = net.GetNumberOfNodes();
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        order[static_cast<std::size_t>(i)] = i;
    for (int i = n - 1; i > 0; --i)
        std::swap(order[static_cast<std::size_t>(i)],
                  order[static_cast<std::size_t>(random.Below(i + 1))]);
    for (int arcs = random.Below(n); arcs > 0; --arcs) {
        const int a = random.Below(n - 1);
        const int b = a + 1 + random.Below(n - 1 - a);
        net.AddArc(order[static_cast<std::size_t>(a)], order[static_cast<std::size_t>(b)]);
    }
    const int length = 2 + random.Below(3);
    for (int k = 0; k < length; ++k)
        net.AddArc(order[static_cast<std::size_t>((k + 1) % length)],
                   order[static_cast<std::size_t>(k)]);
}

TEST(EngineSearch, EverySearchRefusesACyclicStartAndLeavesIt) {
    using Run = std::function<int(QNL_learnModel&)>;
    const auto withModel = [](int type) {
        return [type](QNL_learnModel& model) {
            model.SetIntOption("model_type", type);
            if (type != 0) {
                EXPECT_EQ(model.SetClassIndex(0), 0);
            }
            return model.Learn();
        };
    };
    const struct {
        const char* name;
        Run run;
    } entries[] = {
        {"GreedySearch", [](QNL_learnModel& m) { return m.GetNetwork()->GreedySearch(); }},
        {"SetMaxParents", [](QNL_learnModel& m) { return m.GetNetwork()->SetMaxParents(3); }},
        {"SearchStructure(-1)",
         [](QNL_learnModel& m) { return m.GetNetwork()->SearchStructure(-1); }},
        {"SearchStructure(2)",
         [](QNL_learnModel& m) { return m.GetNetwork()->SearchStructure(2); }},
        {"EnforceParentLimit",
         [](QNL_learnModel& m) { return m.GetNetwork()->EnforceParentLimit(1); }},
        {"RandomRestarts",
         [](QNL_learnModel& m) {
             const auto n = static_cast<std::size_t>(m.GetNetwork()->GetNumberOfNodes());
             std::vector<char> structure(n * n, 0);
             return m.GetNetwork()->RandomRestarts(3, structure);
         }},
        {"TimedRandomRestarts",
         [](QNL_learnModel& m) {
             int elapsed = 0;
             return m.GetNetwork()->TimedRandomRestarts(1, elapsed);
         }},
        {"ReturnToBestSearch",
         [](QNL_learnModel& m) { return m.GetNetwork()->ReturnToBestSearch(); }},
        {"model: greedy thick thinning", withModel(0)},
        {"model: feature selection", withModel(2)},
        {"model: class-rooted", withModel(3)},
    };
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    const std::regex named("the arc (\\S+) -> (\\S+) lies on a cycle");
    for (int seed = 1; seed <= 6; ++seed) {
        QNL_network truth;
        StrongRandomNetwork(truth, static_cast<std::uint64_t>(seed));
        // Odd seeds blank some cells, which sends the searches through expected counts.
        const QNL_dataset data =
            NamedSample(truth, 300, seed % 2 ? 0.1 : 0.0, static_cast<std::uint64_t>(seed));
        for (const auto& entry : entries) {
            const std::string where = std::string(entry.name) + ", seed " + std::to_string(seed);
            QNL_learnModel model;
            model.SetNetwork(std::make_unique<QNL_learnNetwork>());
            QNL_learnNetwork& net = *model.GetNetwork();
            ASSERT_TRUE(net.ImportDataset(data));
            model.AddIntOption("MAX_NUM_PA_GS", 3, "maximum number of parents");
            quarn_test::TestRandom random(static_cast<std::uint64_t>(seed) * 31 + 5);
            DrawCyclicStart(net, random);
            const auto start = ArcsOf(net);
            log.Flush();
            EXPECT_EQ(entry.run(model), -1) << where;
            EXPECT_EQ(ArcsOf(net), start) << where;
            EXPECT_EQ(log.GetNumberOfErrors(), 1) << where;
            std::smatch arc;
            const std::string message = log.GetNumberOfErrors() > 0 ? log.GetMessage(0) : "";
            if (!std::regex_search(message, arc, named)) {
                ADD_FAILURE() << where << ": " << message;
                continue;
            }
            const int from = net.FindNode(arc[1]);
            const int to = net.FindNode(arc[2]);
            EXPECT_EQ(start.count({from, to}), 1u) << where << ": " << message;
            EXPECT_TRUE(net.HasDirectedPath(to, from)) << where << ": " << message;
        }
    }
    log.Flush();
}

} // namespace
