#include "definitions/cpt.h"
#include "learning/engine_network.h"
#include "learning/learning_data.h"
#include "model/network.h"
#include "model/node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// A network of one node per column of continuous values, cut by `method` into `levels`.
void AddContinuous(QNL_learnNetwork& net, const std::string& name,
                   const std::vector<double>& values, int method, int levels) {
    const int i = net.CreateNode(name);
    QNL_learnNode& node = *net.GetNode(i);
    node.SetIntParam(QNL_learnNode::DISCRETE_METHOD, method);
    node.SetIntParam(QNL_learnNode::NUM_DISC_LEVELS, levels);
    node.SetContinuousData(QNL_dataColumn<double>(values));
}

TEST(EngineDiscretize, IntervalNames) {
    const struct {
        double low, high;
        const char* name;
    } cases[] = {
        {0.5, 1.25, "p0_5_TO_p1_25"},
        {-1, 0, "m1_TO_0"},
        {0, 2, "0_TO_p2"},
        {-2.5, -0.125, "m2_5_TO_m0_125"},
        {1234567, 1e-7, "p1_23457e+06_TO_p1em07"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QNL_learnNode::MakeIntervalStateName(c.low, c.high), c.name);
}

TEST(EngineDiscretize, BoundsAndStatesByMethod) {
    const double top = 1.0000001;
    const struct {
        std::vector<double> values;
        int method, levels;
        std::vector<double> bounds;
        std::vector<int> states;
    } cases[] = {
        // Equal frequency: 7 values in 3 intervals of 3, 2 and 2.
        {{7, 1, 2, 3, 4, 5, 6}, 0, 3, {1, 3.5, 5.5, 7 * top}, {2, 0, 0, 0, 1, 1, 2}},
        // A value on an inner bound falls into the lower interval.
        {{1, 3, 3, 5}, 0, 2, {1, 3, 5 * top}, {0, 0, 0, 1}},
        {{0, 1, 2, 10}, 1, 2, {0, 6, 10 * top}, {0, 0, 0, 1}},
        // An equal-width interval without values gets no state.
        {{0, 0, 0, 10}, 1, 3, {0, 5, 10 * top}, {0, 0, 0, 1}},
        // Merging the closest neighbours, the leftmost pair first on a tie.
        {{1, 2, 10, 11, 30}, 2, 2, {1, 20.5, 30 * top}, {0, 0, 0, 0, 1}},
        {{1, 2, 10, 11, 30}, 2, 3, {1, 6, 20.5, 30 * top}, {0, 0, 1, 1, 2}},
        // The last bound of negative values lies below the largest; it takes the last state.
        {{-5, -3, -1}, 0, 3, {-5, -4, -2, -1 * top}, {0, 1, 2}},
        // Equal bounds, and bounds equal in six digits, still name every state apart.
        {{4, 4, 4}, 0, 3, {4, 4, 4, 4 * top}, {0, 0, 0}},
        {{1, 1.0000002, 1.0000004}, 0, 3, {1, 1.0000001, 1.0000003, 1.0000004 * top}, {0, 1, 2}},
    };
    for (const auto& c : cases) {
        QNL_learnNetwork net;
        AddContinuous(net, "x", c.values, c.method, c.levels);
        ASSERT_EQ(net.GetNode(0)->Discretize(), 0);
        const QNL_learnNode& node = *net.GetNode(0);
        ASSERT_EQ(node.GetIntervalBounds().size(), c.bounds.size());
        for (std::size_t k = 0; k < c.bounds.size(); ++k)
            EXPECT_DOUBLE_EQ(node.GetIntervalBounds()[k], c.bounds[k]);
        EXPECT_EQ(learning_test::CellsOf(node.GetDiscreteData()), c.states);
        const auto& states = node.GetStates();
        EXPECT_EQ(states.size(), c.bounds.size() - 1);
        EXPECT_EQ(std::set<std::string>(states.begin(), states.end()).size(), states.size());
    }
}

TEST(EngineDiscretize, FailuresAndNodesLeftAlone) {
    const struct {
        std::vector<double> values;
        int method, levels, result;
    } cases[] = {
        {{1, 2, 3}, 2, 3, -1}, // merging into as many intervals as values
        {{1, 2}, 0, 3, -1},    // fewer values than intervals
        {{1, 2, 3}, 0, 1, -1},
        {{1, 2, 3}, 7, 2, -1},
        {{4, 4, 4}, 1, 2, -1}, // one width-0 interval only
        {{QNL_learnNetwork::MISSING_CONTINUOUS}, 0, 2, -2},
    };
    for (const auto& c : cases) {
        QNL_learnNetwork net;
        AddContinuous(net, "x", c.values, c.method, c.levels);
        EXPECT_EQ(net.GetNode(0)->Discretize(), c.result);
    }
    // Discrete data only: never discretized.
    QNL_learnNetwork net;
    net.CreateNode("d");
    net.GetNode(0)->SetDiscreteData({"a", "b"}, QNL_dataColumn<int>({0, 1}));
    EXPECT_EQ(net.DiscretizeAll(), 0);
    EXPECT_EQ(net.GetNode(0)->GetStates(), (std::vector<std::string>{"a", "b"}));
    // Done once for a method and level count, again when they change.
    AddContinuous(net, "x", {1, 2, 3, 4}, 0, 2);
    std::vector<int> done;
    EXPECT_EQ(net.DiscretizeAll(&done), 0);
    EXPECT_EQ(done, std::vector<int>{1});
    EXPECT_EQ(net.GetNode(1)->Discretize(), -2);
    net.GetNode(1)->SetIntParam(QNL_learnNode::NUM_DISC_LEVELS, 4);
    EXPECT_EQ(net.GetNode(1)->Discretize(), 0);
    EXPECT_EQ(net.GetNode(1)->GetNumberOfStates(), 4);
}

TEST(EngineDiscretize, TargetLearnsMapParametersOfTheIntervals) {
    // x uniform, y = x plus noise, z discrete; the arcs x -> y -> z.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-2.0, 3.0);
    std::normal_distribution<double> noise(0.0, 0.5);
    std::vector<double> x, y;
    std::vector<int> z;
    for (int r = 0; r < 500; ++r) {
        x.push_back(uniform(random));
        y.push_back(x.back() + noise(random));
        z.push_back(y.back() > 0.5 ? 1 : 0);
    }
    QNL_learnNetwork engine;
    AddContinuous(engine, "x", x, 0, 3);
    AddContinuous(engine, "y", y, 1, 4);
    engine.CreateNode("z");
    engine.GetNode(2)->SetDiscreteData({"lo", "hi"}, QNL_dataColumn<int>(z));
    ASSERT_EQ(engine.AddArc(0, 1), 1);
    ASSERT_EQ(engine.AddArc(1, 2), 1);
    QNL_network target;
    ASSERT_EQ(engine.CopyToNetwork(target), 0);
    QNL_learnHandleMap map;
    map.Build(engine, target);
    ASSERT_EQ(engine.LearnParameters(&map), 0);

    // The discretized data counted family by family.
    const std::vector<std::vector<int>> data{
        learning_test::CellsOf(engine.GetNode(0)->GetDiscreteData()),
        learning_test::CellsOf(engine.GetNode(1)->GetDiscreteData()), z};
    const std::vector<std::vector<int>> parents{{}, {0}, {1}};
    for (int i = 0; i < 3; ++i) {
        const QNL_learnNode& node = *engine.GetNode(i);
        const int handle = target.FindNode(node.GetName().c_str());
        QNL_nodeDefinition* definition = target.GetNode(handle)->GetDefinition();
        const int r = node.GetNumberOfStates();
        ASSERT_EQ(definition->GetNumberOfOutcomes(), r);
        for (int k = 0; i < 2 && k < r; ++k)
            EXPECT_EQ(std::string(definition->GetOutcomeIds()->GetString(k)), node.GetStates()[k]);
        const int q = parents[i].empty() ? 1 : engine.GetNode(parents[i][0])->GetNumberOfStates();
        std::vector<double> counts(static_cast<std::size_t>(q * r), 0.0);
        for (std::size_t rec = 0; rec < z.size(); ++rec) {
            const int j = parents[i].empty() ? 0 : data[parents[i][0]][rec];
            counts[static_cast<std::size_t>(j * r + data[i][rec])] += 1.0;
        }
        QNL_doubleArray table;
        ASSERT_EQ(definition->GetDefinition(table), 0);
        for (int j = 0; j < q; ++j) {
            double row = 0.0;
            for (int k = 0; k < r; ++k)
                row += counts[static_cast<std::size_t>(j * r + k)];
            for (int k = 0; k < r; ++k)
                EXPECT_NEAR(table[j * r + k],
                            (1.0 + counts[static_cast<std::size_t>(j * r + k)]) / (r + row), 1e-12);
        }
    }
}

} // namespace
