#include "definitions/cpt.h"
#include "learning/dataset.h"
#include "learning/engine_network.h"
#include "learning/learning_data.h"
#include "model/network.h"
#include "model/node.h"

#include <gtest/gtest.h>

#include "model/error_handler.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
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
        // The count cuts a run of equal values: the run stays whole in the lower interval.
        {{1, 3, 3, 5}, 0, 2, {1, 4, 5 * top}, {0, 0, 0, 1}},
        {{0, 1, 2, 10}, 1, 2, {0, 6, 10 * top}, {0, 0, 0, 1}},
        // An equal-width interval without values gets no state.
        {{0, 0, 0, 10}, 1, 3, {0, 5, 10 * top}, {0, 0, 0, 1}},
        // Merging the closest neighbours, the leftmost pair first on a tie.
        {{1, 2, 10, 11, 30}, 2, 2, {1, 20.5, 30 * top}, {0, 0, 0, 0, 1}},
        {{1, 2, 10, 11, 30}, 2, 3, {1, 6, 20.5, 30 * top}, {0, 0, 1, 1, 2}},
        // The last bound of negative values lies below the largest; it takes the last state.
        {{-5, -3, -1}, 0, 3, {-5, -4, -2, -1 * top}, {0, 1, 2}},
        // Bounds equal in six digits still name every state apart.
        {{1, 1.0000002, 1.0000004}, 0, 3, {1, 1.0000001, 1.0000003, 1.0000004 * top}, {0, 1, 2}},
        // A run of equal values stays in one interval: the border moves past it, the values
        // left are shared again, and every later interval keeps a value of its own.
        {{1, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9},
         0,
         3,
         {1, 1.5, 5.5, 9 * top},
         {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}},
        {{1, 2, 3, 3, 3, 3, 3, 3}, 0, 3, {1, 1.5, 2.5, 3 * top}, {0, 1, 2, 2, 2, 2, 2, 2}},
        {{5, 1, 1, 2, 2, 2, 3, 4}, 0, 4, {1, 1.5, 2.5, 4.5, 5 * top}, {3, 0, 0, 1, 1, 1, 2, 2}},
        // A constant column keeps its levels, every record in the first.
        {{4, 4, 4}, 0, 3, {4, 4, 4, 4 * top}, {0, 0, 0}},
        {{4, 4, 4, 4}, 2, 2, {4, 4, 4 * top}, {0, 0, 0, 0}},
        // Fewer distinct values than levels: one interval each.
        {{1, 1, 2, 2, 2}, 0, 3, {1, 1.5, 2 * top}, {0, 0, 1, 1, 1}},
        {{1, 1, 1, 2}, 2, 3, {1, 1.5, 2 * top}, {0, 0, 0, 1}},
        // No double lies between neighbours whose midpoint rounds up, nor is there a sum of
        // huge ones: the bound stays below the upper value either way, and a value on an
        // inner bound falls into the lower interval.
        {{1 + 0x1p-52, 1 + 0x1p-51}, 0, 2, {1 + 0x1p-52, 1 + 0x1p-52, (1 + 0x1p-51) * top}, {0, 1}},
        {{1e308, 1.7e308}, 0, 2, {1e308, 1.35e308, 1.7e308 * top}, {0, 1}},
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

TEST(EngineDiscretize, TiedValuesShareAStateWhoseStoredMeanIsItsRecordsMean) {
    std::mt19937 random(11);
    int checked = 0;
    for (int trial = 0; trial < 300; ++trial) {
        // A few distinct values, some repeated many times, a few records missing.
        const int distinct = 1 + static_cast<int>(random() % 8);
        std::vector<double> pool;
        for (int v = 0; v < distinct; ++v)
            pool.push_back((v + 1) * 0.75 + static_cast<double>(random() % 4));
        std::vector<double> values;
        const int records = 2 + static_cast<int>(random() % 40);
        for (int r = 0; r < records; ++r)
            values.push_back(random() % 9 == 0
                                 ? QNL_learnNetwork::MISSING_CONTINUOUS
                                 : pool[random() % 3 == 0 ? 0 : random() % pool.size()]);
        std::vector<double> present;
        for (const double x : values)
            if (x != QNL_learnNetwork::MISSING_CONTINUOUS) present.push_back(x);
        const std::set<double> kinds(present.begin(), present.end());
        for (const int method : {0, 1, 2})
            for (int levels = 2; levels <= 6; ++levels) {
                SCOPED_TRACE("trial " + std::to_string(trial) + " method " +
                             std::to_string(method) + " levels " + std::to_string(levels));
                QNL_learnNetwork net;
                AddContinuous(net, "x", values, method, levels);
                const int result = net.GetNode(0)->Discretize();
                const std::size_t L = static_cast<std::size_t>(levels);
                const bool refused = present.empty() || (method == 1 && kinds.size() < 2) ||
                                     (method == 2 ? L >= present.size() : present.size() < L);
                if (refused) {
                    EXPECT_NE(result, 0);
                    continue;
                }
                ASSERT_EQ(result, 0);
                const QNL_learnNode& node = *net.GetNode(0);
                const std::vector<int> cells = learning_test::CellsOf(node.GetDiscreteData());
                if (kinds.size() == 1) {
                    // A constant column: every record in the first state.
                    for (const int cell : cells)
                        EXPECT_TRUE(cell == 0 || cell == QNL_learnNetwork::MISSING) << cell;
                    continue;
                }
                ++checked;
                const std::size_t states = node.GetStates().size();
                if (method != 1) {
                    EXPECT_EQ(states, std::min(L, kinds.size()));
                }
                // The records each state gets, as the column says.
                std::vector<double> sum(states, 0.0);
                std::vector<int> count(states, 0);
                std::map<double, int> stateOf;
                for (std::size_t r = 0; r < values.size(); ++r) {
                    if (values[r] == QNL_learnNetwork::MISSING_CONTINUOUS) {
                        EXPECT_EQ(cells[r], QNL_learnNetwork::MISSING);
                        continue;
                    }
                    ASSERT_GE(cells[r], 0);
                    ASSERT_LT(cells[r], static_cast<int>(states));
                    sum[static_cast<std::size_t>(cells[r])] += values[r];
                    ++count[static_cast<std::size_t>(cells[r])];
                    EXPECT_EQ(stateOf.emplace(values[r], cells[r]).first->second, cells[r])
                        << values[r] << " split between states";
                }
                // Higher values never in a lower state.
                int previous = 0;
                for (const auto& entry : stateOf) {
                    EXPECT_GE(entry.second, previous);
                    previous = entry.second;
                }
                const auto& bounds = node.GetIntervalBounds();
                ASSERT_EQ(bounds.size(), states + 1);
                ASSERT_EQ(node.GetIntervalMeans().size(), states);
                for (std::size_t k = 0; k < states; ++k) {
                    ASSERT_GT(count[k], 0) << "state " << k << " gets no record";
                    EXPECT_NEAR(node.GetIntervalMeans()[k], sum[k] / count[k], 1e-12) << k;
                    EXPECT_LT(bounds[k], bounds[k + 1]) << k;
                }
            }
    }
    EXPECT_GT(checked, 1500);
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

// ---- the options, through a data file and parameter learning ----

struct Intervals {
    std::vector<double> bounds;
    std::vector<double> means;
};

// Intervals of the sorted values, each ending (exclusive) at its entry of `ends`.
Intervals FromRuns(const std::vector<double>& v, const std::vector<std::size_t>& ends) {
    Intervals out{{v.front()}, {}};
    std::size_t first = 0;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const std::size_t end = ends[k];
        double sum = 0.0;
        for (std::size_t i = first; i < end; ++i)
            sum += v[i];
        out.means.push_back(sum / static_cast<double>(end - first));
        out.bounds.push_back(k + 1 < ends.size() ? (v[end - 1] + v[end]) * 0.5
                                                 : v[end - 1] * 1.0000001);
        first = end;
    }
    return out;
}

// Equal frequency, equal width and merging worked out from scratch: counts by division, runs
// by width, and merging by a scan of every neighbour pair per step.
Intervals Expected(std::vector<double> v, int method, int levels) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    const auto L = static_cast<std::size_t>(levels);
    std::vector<std::size_t> ends;
    if (method == 0) {
        for (std::size_t k = 0, end = 0; k < L; ++k)
            ends.push_back(end += n / L + (k < n % L ? 1 : 0));
    } else if (method == 1) {
        const double width = (v.back() - v.front()) / levels;
        for (std::size_t k = 0; k + 1 < L; ++k) {
            const double limit = v.front() + static_cast<double>(k + 1) * width;
            const auto end =
                static_cast<std::size_t>(std::upper_bound(v.begin(), v.end(), limit) - v.begin());
            if (end > (ends.empty() ? 0 : ends.back())) ends.push_back(end);
        }
        ends.push_back(n);
    } else {
        std::vector<std::vector<double>> groups;
        for (const double x : v)
            groups.push_back({x});
        const auto mean = [](const std::vector<double>& g) {
            double sum = 0.0;
            for (const double x : g)
                sum += x;
            return sum / static_cast<double>(g.size());
        };
        while (groups.size() > L) {
            std::size_t best = 0;
            for (std::size_t k = 1; k + 1 < groups.size(); ++k)
                if (mean(groups[k + 1]) - mean(groups[k]) <
                    mean(groups[best + 1]) - mean(groups[best]))
                    best = k;
            groups[best].insert(groups[best].end(), groups[best + 1].begin(),
                                groups[best + 1].end());
            groups.erase(groups.begin() + static_cast<std::ptrdiff_t>(best) + 1);
        }
        for (const auto& g : groups)
            ends.push_back((ends.empty() ? 0 : ends.back()) + g.size());
    }
    return FromRuns(v, ends);
}

// Bounds in the "%g" form of C, "p" before a positive one, "." and "-" spelled "_" and "m".
std::string ExpectedName(double low, double high) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%g_TO_%s%g", low > 0 ? "p" : "", low, high > 0 ? "p" : "",
                  high);
    std::string name = text;
    std::replace(name.begin(), name.end(), '.', '_');
    std::replace(name.begin(), name.end(), '-', 'm');
    return name;
}

// A data file of two continuous columns (x, y) and one discrete (d); the values written so
// that they read back exactly.
std::string WriteDataFile(std::vector<double>& x, std::vector<double>& y) {
    std::mt19937 random(2026);
    std::normal_distribution<double> normal(1.0, 3.0);
    std::exponential_distribution<double> skewed(0.5);
    const std::string path = quarn_test::TestFile("data.txt");
    std::ofstream out(path, std::ios::binary);
    out << "x,y,d\n";
    x.clear();
    y.clear();
    for (int r = 0; r < 41; ++r) {
        x.push_back(normal(random));
        y.push_back(-skewed(random));
        char line[128];
        std::snprintf(line, sizeof line, "%.17g,%.17g,%s\n", x.back(), y.back(),
                      r % 3 == 0 ? "on" : "off");
        out << line;
    }
    return path;
}

TEST(EngineDiscretize, OptionsSetBeforeReadingCutTheColumnsWhenParametersAreLearned) {
    std::vector<double> x, y;
    const std::string path = WriteDataFile(x, y);
    const struct {
        std::vector<std::pair<const char*, int>> options;
        int method, levels;
    } cases[] = {
        {{}, 0, 3},
        // Neither EM option reaches discretization.
        {{{"EM_MAX_ITERATIONS", 3}, {"INCOMPLETE_DATA_METHOD", 2}}, 0, 3},
        {{{"DISCRETE_METHOD", 0}, {"NUM_DISC_LEVELS", 2}}, 0, 2},
        {{{"NUM_DISC_LEVELS", 6}}, 0, 6},
        {{{"DISCRETE_METHOD", 1}}, 1, 3},
        {{{"DISCRETE_METHOD", 1}, {"NUM_DISC_LEVELS", 5}}, 1, 5},
        {{{"DISCRETE_METHOD", 2}, {"NUM_DISC_LEVELS", 2}}, 2, 2},
        {{{"DISCRETE_METHOD", 2}, {"NUM_DISC_LEVELS", 4}, {"EM_MAX_ITERATIONS", 7}}, 2, 4},
    };
    for (const auto& c : cases) {
        QNL_learnNetwork engine;
        engine.SetBoolOption("DISABLE_PREPROCESS_FILE", true);
        for (const auto& [key, value] : c.options)
            ASSERT_EQ(engine.SetIntOption(key, value), 0) << key;
        ASSERT_EQ(engine.ReadData(path), 0);
        ASSERT_EQ(engine.GetNumberOfNodes(), 3);
        for (int i = 0; i < 3; ++i) {
            int method = -1, levels = -1;
            engine.GetNode(i)->GetIntParam(QNL_learnNode::DISCRETE_METHOD, method);
            engine.GetNode(i)->GetIntParam(QNL_learnNode::NUM_DISC_LEVELS, levels);
            EXPECT_EQ(method, c.method);
            EXPECT_EQ(levels, c.levels);
        }
        ASSERT_EQ(engine.AddArc(2, 0), 1);
        ASSERT_EQ(engine.AddArc(0, 1), 1);
        QNL_network target;
        ASSERT_EQ(engine.CopyToNetwork(target), 0);
        QNL_learnHandleMap map;
        map.Build(engine, target);
        ASSERT_EQ(engine.LearnParameters(&map), 0) << c.method << " " << c.levels;

        for (int i = 0; i < 2; ++i) {
            const std::vector<double>& values = i == 0 ? x : y;
            const Intervals expected = Expected(values, c.method, c.levels);
            const QNL_learnNode& node = *engine.GetNode(i);
            SCOPED_TRACE(node.GetName() + " method " + std::to_string(c.method) + " levels " +
                         std::to_string(c.levels));
            ASSERT_EQ(node.GetIntervalBounds().size(), expected.bounds.size());
            for (std::size_t k = 0; k < expected.bounds.size(); ++k)
                EXPECT_DOUBLE_EQ(node.GetIntervalBounds()[k], expected.bounds[k]);
            for (std::size_t k = 0; k < expected.means.size(); ++k)
                EXPECT_NEAR(node.GetIntervalMeans()[k], expected.means[k], 1e-12);
            // The states and the target's outcomes are the intervals' names.
            const auto& b = expected.bounds;
            const QNL_nodeDefinition* definition =
                target.GetNode(target.FindNode(node.GetName().c_str()))->GetDefinition();
            ASSERT_EQ(definition->GetNumberOfOutcomes(), static_cast<int>(b.size()) - 1);
            for (std::size_t k = 0; k + 1 < b.size(); ++k) {
                EXPECT_EQ(node.GetStates()[k], ExpectedName(b[k], b[k + 1]));
                EXPECT_STREQ(definition->GetOutcomeIds()->GetString(static_cast<int>(k)),
                             node.GetStates()[k].c_str());
            }
            // Each value in the first interval whose upper bound is not below it.
            const std::vector<int> cells = learning_test::CellsOf(node.GetDiscreteData());
            for (std::size_t r = 0; r < values.size(); ++r) {
                int state = 0;
                while (state + 2 < static_cast<int>(b.size()) && values[r] > b[state + 1])
                    ++state;
                EXPECT_EQ(cells[r], state) << r;
            }
        }
    }
}

TEST(EngineDiscretize, OptionsThatCannotCutFailParameterLearning) {
    std::vector<double> x, y;
    const std::string path = WriteDataFile(x, y);
    const struct {
        int method, levels;
        const char* message;
    } cases[] = {
        {5, 3, "learning: node x cannot be discretized: there is no method 5"},
        {-1, 3, "learning: node x cannot be discretized: there is no method -1"},
        {0, 1, "learning: node x cannot be discretized: 41 values cannot fill 1 intervals"},
        {1, 42, "learning: node x cannot be discretized: 41 values cannot fill 42 intervals"},
        {2, 41, "learning: node x cannot be discretized: merging 41 values into 41 intervals"},
    };
    for (const auto& c : cases) {
        QNL_learnNetwork engine;
        engine.SetBoolOption("DISABLE_PREPROCESS_FILE", true);
        ASSERT_EQ(engine.SetIntOption("DISCRETE_METHOD", c.method), 0);
        ASSERT_EQ(engine.SetIntOption("NUM_DISC_LEVELS", c.levels), 0);
        ASSERT_EQ(engine.ReadData(path), 0);
        QNL_network target;
        ASSERT_EQ(engine.CopyToNetwork(target), 0);
        QNL_learnHandleMap map;
        map.Build(engine, target);
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(engine.LearnParameters(&map), -1);
        ASSERT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 1);
        EXPECT_STREQ(QNL_errorHandler::Instance().GetMessage(0), c.message);
        QNL_errorHandler::Instance().Flush();
    }
}

// What a network holds that a refused input must leave alone, and what learning made of it.
struct Held {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> states;
    std::vector<std::vector<int>> discrete;
    std::vector<std::vector<int>> parents;
    std::vector<std::vector<double>> tables;
    bool incomplete = false;
    bool operator==(const Held& o) const {
        return names == o.names && states == o.states && discrete == o.discrete &&
               parents == o.parents && tables == o.tables && incomplete == o.incomplete;
    }
};

Held HeldBy(const QNL_learnNetwork& net) {
    Held held;
    held.incomplete = net.IsDataIncomplete();
    for (int i = 0; i < net.GetNumberOfNodes(); ++i) {
        const QNL_learnNode& node = *net.GetNode(i);
        held.names.push_back(node.GetName());
        held.states.push_back(node.GetStates());
        held.discrete.push_back(learning_test::CellsOf(node.GetDiscreteData()));
        held.parents.push_back(node.GetParents());
        held.tables.emplace_back();
        const QNL_learnTable& table = node.GetProbabilities();
        for (int j = 0; node.HasProbabilities() && j < table.Rows(); ++j)
            held.tables.back().insert(held.tables.back().end(), table.Row(j),
                                      table.Row(j) + table.States());
    }
    return held;
}

// Parameters learned into a copy of the network's own structure, discretizing on the way.
int LearnIntoCopy(QNL_learnNetwork& engine) {
    QNL_network target;
    if (engine.CopyToNetwork(target) != 0) return -99;
    QNL_learnHandleMap map;
    map.Build(engine, target);
    return engine.LearnParameters(&map);
}

TEST(EngineDiscretize, NaNIsAMissingValueAsTheDeclaredMissingCellIs) {
    // x continuous with some cells unobserved, z discrete and complete; the arc x -> z. Each
    // run is learned twice, the cells once NaN and once the declared missing value.
    for (int seed = 1; seed <= 4; ++seed) {
        std::mt19937 random(static_cast<unsigned>(seed));
        std::normal_distribution<double> normal(0.0, 1.0);
        std::vector<double> x;
        std::vector<int> z;
        std::vector<char> hidden;
        for (int r = 0; r < 60; ++r) {
            x.push_back(normal(random));
            z.push_back(x.back() + 0.5 * normal(random) > 0.0 ? 1 : 0);
            hidden.push_back(random() % 5 == 0);
        }
        for (const bool fromDataSet : {true, false}) {
            std::vector<Held> runs;
            for (const bool nan : {true, false}) {
                QNL_learnNetwork engine;
                if (fromDataSet) {
                    std::vector<QNL_datasetCell> xs, zs;
                    for (std::size_t r = 0; r < x.size(); ++r) {
                        xs.push_back(QNL_FloatCell(hidden[r] ? (nan ? NAN : -1.0f)
                                                             : static_cast<float>(x[r])));
                        zs.push_back(QNL_IntCell(z[r]));
                    }
                    QNL_dataset data;
                    data.addFloatVariable("x", &xs, -1.0f);
                    data.addIntVariable("z", &zs, -1);
                    ASSERT_TRUE(engine.ImportDataset(data));
                    engine.GetNode(0)->SetIntParam(QNL_learnNode::NUM_DISC_LEVELS, 3);
                } else {
                    std::vector<double> cells = x;
                    for (std::size_t r = 0; r < x.size(); ++r)
                        if (hidden[r])
                            cells[r] = nan ? std::nan("") : QNL_learnNetwork::MISSING_CONTINUOUS;
                    AddContinuous(engine, "x", cells, 0, 3);
                    engine.CreateNode("z");
                    engine.GetNode(1)->SetDiscreteData({"0", "1"}, QNL_dataColumn<int>(z));
                }
                ASSERT_EQ(engine.AddArc(0, 1), 1);
                ASSERT_EQ(LearnIntoCopy(engine), 0);
                const std::string where = "seed " + std::to_string(seed) +
                                          (fromDataSet ? ", data set" : ", node data") +
                                          (nan ? ", NaN" : ", missing value");
                EXPECT_TRUE(engine.IsDataIncomplete()) << where;
                const std::vector<int> cells =
                    learning_test::CellsOf(engine.GetNode(0)->GetDiscreteData());
                for (std::size_t r = 0; r < x.size(); ++r)
                    EXPECT_EQ(cells[r] == QNL_learnNetwork::MISSING, hidden[r] != 0)
                        << where << ", record " << r;
                runs.push_back(HeldBy(engine));
                EXPECT_EQ(runs.back().tables[1].size(), 6u) << where;
            }
            EXPECT_TRUE(runs[0] == runs[1]) << "seed " << seed << (fromDataSet ? ", data set" : "");
        }
    }
}

TEST(EngineDiscretize, InfinitiesAreRefusedWhereTheDataEnterAndChangeNothing) {
    const double inf = HUGE_VAL;
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    // Into a network that holds data already, with an arc: a data set with an infinity.
    const struct {
        float cell;
        float missing;
        const char* message; // null: taken as a missing cell
    } imports[] = {
        {static_cast<float>(inf), -1.0f,
         "learning: variable x holds inf in record 3, which is no value to learn from"},
        {static_cast<float>(-inf), NAN,
         "learning: variable x holds -inf in record 3, which is no value to learn from"},
        {static_cast<float>(inf), static_cast<float>(inf), nullptr},
    };
    for (const auto& c : imports) {
        QNL_learnNetwork engine;
        ASSERT_TRUE(engine.ImportDataset(learning_test::IntColumns({{0, 1, 1, 0}, {1, 1, 0, 0}})));
        ASSERT_EQ(engine.AddArc(0, 1), 1);
        const Held before = HeldBy(engine);
        std::vector<QNL_datasetCell> xs{QNL_FloatCell(0.5f), QNL_FloatCell(1.5f),
                                        QNL_FloatCell(2.5f), QNL_FloatCell(c.cell)};
        std::vector<QNL_datasetCell> ys{QNL_IntCell(0), QNL_IntCell(1), QNL_IntCell(1),
                                        QNL_IntCell(0)};
        QNL_dataset data;
        ASSERT_TRUE(data.addIntVariable("y", &ys, -1));
        ASSERT_TRUE(data.addFloatVariable("x", &xs, c.missing));
        log.Flush();
        if (c.message == nullptr) {
            EXPECT_TRUE(engine.ImportDataset(data));
            EXPECT_TRUE(engine.IsDataIncomplete());
            continue;
        }
        EXPECT_FALSE(engine.ImportDataset(data)) << c.message;
        EXPECT_EQ(quarn_test::LastMessage(), c.message);
        EXPECT_EQ(log.GetNumberOfErrors(), 1) << c.message;
        EXPECT_TRUE(HeldBy(engine) == before) << c.message;
    }
    // Node data: every way discretization is reached refuses, before any node is cut.
    const std::string message = "learning: node b holds -inf in record 2, which is no value "
                                "to learn from";
    const struct {
        const char* name;
        int (*run)(QNL_learnNetwork&);
    } cuts[] = {
        {"DiscretizeAll", [](QNL_learnNetwork& e) { return e.DiscretizeAll(); }},
        {"Discretize", [](QNL_learnNetwork& e) { return e.GetNode(1)->Discretize(); }},
        {"LearnParameters", LearnIntoCopy},
    };
    for (const auto& c : cuts) {
        QNL_learnNetwork engine;
        AddContinuous(engine, "a", {1, 2, 3, 4, 5, 6}, 0, 2);
        AddContinuous(engine, "b", {1, 2, -inf, 4, 5, 6}, 0, 2);
        const Held before = HeldBy(engine);
        log.Flush();
        EXPECT_EQ(c.run(engine), -1) << c.name;
        EXPECT_EQ(quarn_test::LastMessage(), message) << c.name;
        EXPECT_TRUE(HeldBy(engine) == before) << c.name;
    }
    log.Flush();
}

} // namespace
