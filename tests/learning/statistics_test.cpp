#include "learning/count_tree.h"
#include "learning/statistics.h"

#include "model/error_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace QNL_statistics;

namespace {

TEST(Statistics, LogGammaAndTheUpperIncompleteGammaMatchClosedForms) {
    const double sqrtPi = std::sqrt(3.141592653589793);
    for (const auto& [x, expected] :
         std::vector<std::pair<double, double>>{{1.0, 0.0},
                                                {2.0, 0.0},
                                                {5.0, std::log(24.0)},
                                                {10.0, std::log(362880.0)},
                                                {0.5, std::log(sqrtPi)},
                                                {1.5, std::log(sqrtPi / 2.0)},
                                                {20.5, std::lgamma(20.5)}})
        EXPECT_NEAR(LogGamma(x), expected, 1e-9) << x;
    // Q(1, x) = e^-x, Q(2, x) = e^-x (1 + x), Q(3, x) = e^-x (1 + x + x^2 / 2) and
    // Q(1/2, x) = erfc(sqrt x); both the series (x < a + 1) and the fraction are reached.
    for (const auto& [a, x, expected] : std::vector<std::tuple<float, float, double>>{
             {1.0f, 0.0f, 1.0},
             {1.0f, 0.5f, std::exp(-0.5)},
             {1.0f, 2.0f, 0.1353352832},
             {1.0f, 5.0f, std::exp(-5.0)},
             {2.0f, 3.0f, std::exp(-3.0) * 4.0},
             {3.0f, 1.0f, std::exp(-1.0) * 2.5},
             {3.0f, 12.0f, std::exp(-12.0) * (1.0 + 12.0 + 72.0)},
             {0.5f, 1.920729f, 0.05},
             {0.5f, 10.465f, std::erfc(std::sqrt(10.465))},
             {4.0f, 0.001f, 1.0}})
        EXPECT_NEAR(UpperIncompleteGamma(a, x), expected, 1e-6) << a << " " << x;
    for (const auto& [a, x] : std::vector<std::pair<float, float>>{
             {0.0f, 1.0f}, {1.0f, -1.0f}, {-2.0f, 1.0f}, {NAN, 1.0f}, {1.0f, NAN}})
        EXPECT_EQ(UpperIncompleteGamma(a, x), -1.0) << a << " " << x;
}

TEST(Statistics, NormalCdfFollowsTheErrorFunctionAndIsExactInTheTails) {
    for (double x = -5.9; x <= 5.9; x += 0.1)
        EXPECT_NEAR(NormalCdf(x), 0.5 * std::erfc(-x / std::sqrt(2.0)), 1e-7) << x;
    EXPECT_NEAR(NormalCdf(1.96), 0.975002, 1e-6);
    EXPECT_EQ(NormalCdf(6.5), 1.0);
    EXPECT_EQ(NormalCdf(-6.5), 0.0);
}

TEST(Statistics, GeneratorsRepeatFromANegativeSeedAndKeepTheirRangesAndMoments) {
    // The seed is the bare minimal standard recurrence: from 1, the 10,000th step is
    // 1043618065. Loading the table takes 40 steps, each draw one more.
    int seed = -1;
    for (int i = 0; i < 9960; ++i)
        UniformRandom(seed);
    EXPECT_EQ(seed, 1043618065);
    int a = -5;
    std::vector<double> first;
    for (int i = 0; i < 100; ++i)
        first.push_back(UniformRandom(a));
    int b = -5;
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(UniformRandom(b), first[i]) << i;

    double low = 1.0, high = 0.0, sum = 0.0;
    const int n = 1000000;
    for (int i = 0; i < n; ++i) {
        const double u = UniformRandom(a);
        low = std::min(low, u);
        high = std::max(high, u);
        sum += u;
    }
    EXPECT_GT(low, 0.0);
    EXPECT_LE(high, 0.99999988);
    EXPECT_NEAR(sum / n, 0.5, 0.002);

    for (int extreme : {-2147483647, -2147483647 - 1, 0}) {
        seed = extreme;
        const double u = UniformRandom(seed);
        EXPECT_GT(u, 0.0) << extreme;
        EXPECT_GT(seed, 0) << extreme;
    }

    // Normal deviates have their moments and integers their range.
    seed = -17;
    sum = 0.0;
    double squares = 0.0;
    std::vector<double> start;
    for (int i = 0; i < 200000; ++i) {
        const double z = NormalRandomScaled(3.0, 2.0, seed);
        if (i < 5) start.push_back(z);
        sum += z;
        squares += z * z;
    }
    const double mean = sum / 200000;
    EXPECT_NEAR(mean, 3.0, 0.02);
    EXPECT_NEAR(squares / 200000 - mean * mean, 4.0, 0.05);
    // A restarted sequence repeats from its start, even when a deviate was kept.
    seed = -17;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(NormalRandomScaled(3.0, 2.0, seed), start[i]) << i;

    for (int i = 0; i < 1000; ++i) {
        const int k = RandomInt(-2, 3, seed);
        ASSERT_TRUE(k >= -2 && k < 3) << k;
    }
}

// Columns of random states for the count tree, with their state counts.
struct Table {
    std::vector<std::vector<int>> cells;
    std::vector<int> states;
    std::vector<const int*> Columns() const {
        std::vector<const int*> out;
        for (const auto& c : cells)
            out.push_back(c.data());
        return out;
    }
};

Table RandomTable(int records, std::mt19937& random) {
    Table t;
    t.states = {2, 3, 4, 2, 3, 2};
    for (int s : t.states) {
        std::uniform_int_distribution<int> state(0, s - 1);
        std::vector<int> column(records);
        for (int& c : column)
            c = state(random);
        t.cells.push_back(column);
    }
    return t;
}

int BruteCount(const Table& t, const std::vector<std::pair<int, int>>& query) {
    int count = 0;
    for (std::size_t r = 0; r < t.cells[0].size(); ++r) {
        bool match = true;
        for (const auto& [v, s] : query)
            match = match && t.cells[v][r] == s;
        count += match;
    }
    return count;
}

TEST(CountTree, CountsEqualBruteForceForRandomQueriesInAnyOrder) {
    std::mt19937 random(7);
    const Table t = RandomTable(700, random);
    QNL_adTree tree(t.Columns(), t.states, 700);
    EXPECT_EQ(tree.Count({}), 700);
    std::uniform_int_distribution<int> length(1, 6), variable(0, 5);
    for (int q = 0; q < 1000; ++q) {
        std::vector<std::pair<int, int>> query;
        const int n = length(random);
        for (int i = 0; i < n; ++i) {
            const int v = variable(random);
            // Now and then a state that never occurs, or a variable asked twice.
            const int s = std::uniform_int_distribution<int>(0, t.states[v])(random);
            query.emplace_back(v, s);
        }
        ASSERT_EQ(tree.Count(query), BruteCount(t, query)) << q;
        std::reverse(query.begin(), query.end());
        ASSERT_EQ(tree.Count(query), BruteCount(t, query)) << q;
    }
    EXPECT_EQ(tree.Count({{9, 0}}), 0);
    EXPECT_EQ(tree.Count({{0, -1}}), 0);
}

TEST(CountTree, CellsOfAConditionalTableEqualTheirCounts) {
    std::mt19937 random(11);
    const Table t = RandomTable(300, random);
    QNL_adTree tree(t.Columns(), t.states, 300);
    for (const std::vector<int>& given : {std::vector<int>{}, {4}, {2, 5}, {5, 2, 0}}) {
        // Brute force: the counts of every occurring (z, x, y), (z, x), (z, y) and z.
        std::map<std::vector<int>, int> count;
        std::vector<std::vector<int>> cells;
        for (int r = 0; r < 300; ++r) {
            std::vector<int> z;
            for (int v : given)
                z.push_back(t.cells[v][r]);
            const int x = t.cells[1][r], y = t.cells[3][r];
            auto with = [&z](std::vector<int> tail) {
                tail.insert(tail.begin(), z.begin(), z.end());
                return tail;
            };
            ++count[with({-1, -1})];
            ++count[with({x, -1})];
            ++count[with({-1, y})];
            if (count[with({x, y})]++ == 0) cells.push_back(with({x, y}));
        }
        std::vector<std::vector<int>> expected, seen;
        for (std::vector<int> c : cells) {
            const int x = c[c.size() - 2], y = c.back(), nxyz = count[c];
            c[c.size() - 2] = -1;
            const int nyz = count[c];
            c.back() = -1;
            const int nz = count[c];
            c[c.size() - 2] = x;
            expected.push_back({nz, count[c], nyz, nxyz, x, y});
        }
        tree.ForEachCell(given, 1, 3, [&](int nz, int nxz, int nyz, int nxyz, int x, int y) {
            seen.push_back({nz, nxz, nyz, nxyz, x, y});
        });
        std::sort(seen.begin(), seen.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(seen, expected);
    }
}

TEST(CountTree, RecordsWithBadCellsAndVariablesWithoutStatesAreLeftOut) {
    QNL_errorHandler::Instance().Flush();
    const std::vector<int> a = {0, 1, 1, 5, -1}, b = {7, 7, 7, 7, 7};
    QNL_adTree tree({a.data(), b.data()}, {2, 0}, 5);
    ASSERT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 1);
    EXPECT_EQ(std::string(QNL_errorHandler::Instance().GetMessage(0)),
              "adtree: number of states is 0");
    EXPECT_EQ(QNL_errorHandler::Instance().GetCode(0), -1);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(tree.GetNumberOfRecords(), 3);
    EXPECT_EQ(tree.Count({{0, 1}}), 2);
    EXPECT_EQ(tree.Count({{0, 1}, {1, 0}}), 0);
}

} // namespace
