#include "equations/function_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

QNL_argumentBlock Arguments(const std::vector<double>& values) {
    QNL_argumentBlock block;
    for (double v : values)
        block.values[block.count++] = v;
    return block;
}

struct Range {
    const char* name;
    std::vector<double> args;
    double lower, upper;
};

} // namespace

// The density renormalised within a range is a density over that range: it integrates (or,
// for Bernoulli and Binomial, sums) to 1 over it, whatever share of the distribution the
// range keeps, a far tail included.
TEST(DensityWithin, EveryDistributionIntegratesToOneOverItsRange) {
    // clang-format off
    const Range ranges[] = {
        {"Normal", {0, 1}, 3.5, 20},          {"Normal", {4, 10}, 0, 100},
        {"Normal", {0, 1}, -1, 1},            {"Normal", {0, 1}, 40, 41},
        {"Normal", {0, 1}, -45, -38},         {"Normal", {2, 0.5}, 2.1, 2.2},
        {"Uniform", {-1, 3}, 0, 20},          {"Uniform", {3, -1}, -5, 0.5},
        {"Exponential", {2}, 0.5, 3},         {"Exponential", {0.7}, -1, 1},
        {"Exponential", {1}, 800, 802},       {"Lognormal", {0, 0.5}, 0.5, 1.5},
        {"Lognormal", {1, 2}, 1e-3, 2},       {"Lognormal", {0, 0.1}, 100, 200},
        {"Weibull", {2, 1.5}, 0.2, 1},        {"Weibull", {1, 0.8}, 1, 4},
        {"Weibull", {1, 3}, 9, 9.5},          {"Triangular", {0, 1, 4}, 0.5, 2},
        {"Triangular", {0, 1, 4}, -1, 0.8},   {"Triangular", {0, 1, 4}, 2, 9},
        {"Triangular", {0, 0, 2}, 0.5, 1},    {"Beta", {2, 3}, 0.1, 0.6},
        {"Beta", {2, 30}, 0.5, 0.9},          {"Beta", {0.5, 2}, 0.2, 3},
        {"Beta", {40, 3}, 0, 0.5},
    };
    // clang-format on
    for (const Range& r : ranges) {
        const QNL_functionRecord* f = FindFunction(r.name);
        ASSERT_NE(f, nullptr);
        ASSERT_NE(f->densityWithin, nullptr) << r.name;
        const QNL_argumentBlock args = Arguments(r.args);
        // Simpson's rule over the part of the range the distribution covers.
        double lo = r.lower, hi = r.upper;
        if (std::string(r.name) != "Normal" && std::string(r.name) != "Triangular" &&
            std::string(r.name) != "Uniform")
            lo = std::max(lo, 0.0);
        if (std::string(r.name) == "Beta") hi = std::min(hi, 1.0);
        if (std::string(r.name) == "Uniform") {
            lo = std::max(lo, std::min(r.args[0], r.args[1]));
            hi = std::min(hi, std::max(r.args[0], r.args[1]));
        }
        if (std::string(r.name) == "Triangular") {
            lo = std::max(lo, r.args[0]);
            hi = std::min(hi, r.args[2]);
        }
        const int steps = 200000;
        const double h = (hi - lo) / steps;
        long double sum = 0.0L;
        for (int i = 0; i <= steps; ++i) {
            const double x = lo + i * h;
            const double d = f->densityWithin(x, r.lower, r.upper, args);
            ASSERT_TRUE(std::isfinite(d) && d >= 0.0) << r.name << " at " << x;
            sum += (i == 0 || i == steps ? 1 : (i % 2 == 1 ? 4 : 2)) * static_cast<long double>(d);
        }
        EXPECT_NEAR(static_cast<double>(sum * h / 3.0L), 1.0, 1e-6)
            << r.name << " [" << r.lower << ", " << r.upper << "]";
    }
    // Masses summed over the whole numbers of the range.
    const Range counts[] = {{"Bernoulli", {0.3}, 0.5, 2},
                            {"Bernoulli", {0.3}, -1, 0.5},
                            {"Binomial", {10, 0.4}, 2.5, 6},
                            {"Binomial", {40, 0.03}, 20, 40},
                            {"Binomial", {7.5, 0.9}, -3, 4}};
    for (const Range& r : counts) {
        const QNL_functionRecord* f = FindFunction(r.name);
        const QNL_argumentBlock args = Arguments(r.args);
        double sum = 0.0;
        for (int k = 0; k <= 50; ++k)
            if (k >= r.lower && k <= r.upper) sum += f->densityWithin(k, r.lower, r.upper, args);
        EXPECT_NEAR(sum, 1.0, 1e-10) << r.name << " [" << r.lower << ", " << r.upper << "]";
    }
}

// A range that holds the whole distribution to double precision divides by exactly 1: the
// weights of evidence in such ranges, and so every sampled answer, stay bit for bit.
TEST(DensityWithin, IsTheDensityItselfWhereTheRangeHoldsTheWholeDistribution) {
    // clang-format off
    const Range ranges[] = {
        {"Normal", {0, 1}, -9, 9},           {"Normal", {3, 2}, -1000, 1000},
        {"Uniform", {-1, 3}, -1, 3},         {"Exponential", {2}, -5, 20},
        {"Lognormal", {0, 0.5}, -1, 1e3},    {"Weibull", {2, 1.5}, 0, 100},
        {"Triangular", {0, 1, 4}, 0, 4},     {"Beta", {2, 3}, -1, 1},
        {"Bernoulli", {0.3}, 0, 1},          {"Binomial", {10, 0.4}, -1, 10},
    };
    // clang-format on
    for (const Range& r : ranges) {
        const QNL_functionRecord* f = FindFunction(r.name);
        const QNL_argumentBlock args = Arguments(r.args);
        const bool counts = std::string(r.name) == "Bernoulli" || std::string(r.name) == "Binomial";
        for (int i = 0; i <= 40; ++i) {
            const double x = counts
                                 ? std::floor(i / 4.0)
                                 : std::max(r.lower, -8.0) +
                                       (std::min(r.upper, 12.0) - std::max(r.lower, -8.0)) * i / 40;
            EXPECT_EQ(f->densityWithin(x, r.lower, r.upper, args), f->normalisedDensity(x, args))
                << r.name << " at " << x;
        }
    }
    for (const QNL_functionRecord& f : QNL_functionTable)
        EXPECT_EQ(f.densityWithin != nullptr, f.normalisedDensity != nullptr) << f.name;
}
