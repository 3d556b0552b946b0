#include "equations/function_table.h"
#include "numerics/random.h"

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

namespace {

// The mean and standard deviation of the density renormalised within a range, and its share
// below the range's middle, by Simpson's rule (or by sums over whole numbers).
struct WithinMoments {
    double mean = 0.0, sd = 0.0, belowMiddle = 0.0;
};

WithinMoments MomentsWithin(const QNL_functionRecord& f, const QNL_argumentBlock& args,
                            double lower, double upper, double from, double to, bool counts) {
    const double middle = 0.5 * (lower + upper);
    long double mass = 0.0L, first = 0.0L, second = 0.0L, below = 0.0L;
    auto add = [&](double x, long double w) {
        mass += w;
        first += w * x;
        second += w * x * x;
        if (x <= middle) below += w;
    };
    if (counts) {
        for (int k = static_cast<int>(std::ceil(from)); k <= static_cast<int>(std::floor(to)); ++k)
            add(k, f.densityWithin(k, lower, upper, args));
    } else {
        const int steps = 200000;
        const double h = (to - from) / steps;
        for (int i = 0; i <= steps; ++i) {
            const double x = from + i * h;
            add(x, (i == 0 || i == steps ? 1 : (i % 2 == 1 ? 4 : 2)) *
                       static_cast<long double>(f.densityWithin(x, lower, upper, args)));
        }
    }
    WithinMoments m;
    m.mean = static_cast<double>(first / mass);
    m.sd = std::sqrt(static_cast<double>(second / mass) - m.mean * m.mean);
    m.belowMiddle = static_cast<double>(below / mass);
    return m;
}

} // namespace

// Draws within a range follow the density renormalised there, for every distribution, where
// the range keeps most of it, a middle part, or a tail so thin that drawing again until a
// value falls inside would never end: every draw inside, their mean within five standard
// errors, and their share below the middle of the range within five binomial errors.
TEST(DrawWithin, EveryDistributionIsDrawnAsItsDensityWithinTheRangeSays) {
    struct Drawn {
        const char* name;
        std::vector<double> args;
        double lower, upper;
        // Where the density within the range is positive.
        double from, to;
    };
    // clang-format off
    const Drawn cases[] = {
        {"Normal", {0, 1}, 3.5, 20, 3.5, 12},     {"Normal", {0, 1}, -1, 1, -1, 1},
        {"Normal", {0, 1}, 40, 41, 40, 41},      {"Normal", {2, 0.5}, -9, 1.9, -1, 1.9},
        {"Uniform", {3, -1}, -5, 0.5, -1, 0.5},  {"Exponential", {2}, 0.5, 3, 0.5, 3},
        {"Exponential", {1}, 800, 802, 800, 802}, {"Lognormal", {1, 0.5}, 0, 1, 1e-9, 1},
        {"Lognormal", {4, 0.5}, 0, 1, 1e-9, 1},  {"Lognormal", {0, 0.1}, 1.3, 200, 1.3, 2},
        {"Weibull", {1, 0.8}, 1, 4, 1, 4},       {"Weibull", {1, 3}, 2, 9.5, 2, 3},
        {"Triangular", {0, 1, 4}, 2, 9, 2, 4},   {"Triangular", {0, 1, 4}, -1, 0.8, 0, 0.8},
        {"Beta", {2, 30}, 0.5, 0.9, 0.5, 0.9},   {"Beta", {40, 3}, 0, 0.5, 0, 0.5},
        {"Beta", {2, 3}, 0.1, 0.9, 0.1, 0.9},    {"Bernoulli", {0.3}, 0.5, 2, 1, 1},
        {"Binomial", {40, 0.03}, 20, 40, 20, 40}, {"Binomial", {10, 0.4}, 2.5, 6, 3, 6},
    };
    // clang-format on
    const int draws = 20000;
    for (const Drawn& c : cases) {
        const QNL_functionRecord* f = FindFunction(c.name);
        ASSERT_NE(f, nullptr);
        ASSERT_NE(f->drawWithin, nullptr) << c.name;
        const QNL_argumentBlock args = Arguments(c.args);
        const bool counts = std::string(c.name) == "Bernoulli" || std::string(c.name) == "Binomial";
        const WithinMoments exact = MomentsWithin(*f, args, c.lower, c.upper, c.from, c.to, counts);
        const std::string label = std::string(c.name) + " [" + std::to_string(c.lower) + ", " +
                                  std::to_string(c.upper) + "]";
        QNL_randomUniform().Seed(31);
        double sum = 0.0, below = 0.0;
        for (int i = 0; i < draws; ++i) {
            double x = NAN;
            ASSERT_EQ(f->drawWithin(c.lower, c.upper, args, x), 0) << label;
            ASSERT_TRUE(x >= c.lower && x <= c.upper) << label << ": " << x;
            sum += x;
            if (x <= 0.5 * (c.lower + c.upper)) below += 1.0;
        }
        EXPECT_NEAR(sum / draws, exact.mean, 5.0 * exact.sd / std::sqrt(draws) + 1e-12) << label;
        const double share = exact.belowMiddle;
        EXPECT_NEAR(below / draws, share, 5.0 * std::sqrt(share * (1.0 - share) / draws) + 1e-12)
            << label;
    }
}

// A Beta range that ends at 0 or at 1, however narrow, is drawn within it as the distribution
// function says. Beta(1, b) has P(X > x) = (1 - x)^b and Beta(a, 1) has P(X < x) = x^a, so
// within [1 - w, 1] the distance to 1 is w times a Beta(b, 1) draw, and within [0, w] the draw
// is w times a Beta(a, 1) draw, of mean c / (c + 1) for c = b or a: the mean of 4000 draws
// within five standard errors. The search near 1 once started at 1 - w 2^-32, which rounds to
// 1 for w below 4.8e-7, and drew 1.0 every time.
TEST(DrawWithin, BetaRangesAtEitherEndOfTheSupportAreDrawnWithinThem) {
    const struct {
        double a, b;
        bool atOne;
    } shapes[] = {{1, 1, true},  {1, 0.5, true},  {1, 3, true},
                  {1, 1, false}, {0.5, 1, false}, {3, 1, false}};
    const QNL_functionRecord* f = FindFunction("Beta");
    ASSERT_NE(f, nullptr);
    const int draws = 4000;
    for (const auto& s : shapes) {
        for (double width : {2e-7, 1e-10, 1e-13}) {
            const double lower = s.atOne ? 1.0 - width : 0.0, upper = s.atOne ? 1.0 : width;
            const double w = upper - lower;
            const double c = s.atOne ? s.b : s.a;
            const double mean = c / (c + 1.0);
            const double sd = std::sqrt(c / ((c + 1.0) * (c + 1.0) * (c + 2.0)));
            const std::string label = "Beta(" + std::to_string(s.a) + ", " + std::to_string(s.b) +
                                      ") on [" + std::to_string(lower) + ", " +
                                      std::to_string(upper) + "], width " + std::to_string(w);
            QNL_randomUniform().Seed(17);
            double sum = 0.0;
            for (int i = 0; i < draws; ++i) {
                double x = NAN;
                ASSERT_EQ(f->drawWithin(lower, upper, Arguments({s.a, s.b}), x), 0) << label;
                ASSERT_TRUE(x >= lower && x <= upper) << label << ": " << x;
                sum += (s.atOne ? 1.0 - x : x) / w;
            }
            EXPECT_NEAR(sum / draws, mean, 5.0 * sd / std::sqrt(draws)) << label;
        }
    }
}

// A range no plain draw can leave keeps the plain draw, value for value: ranges that hold
// the whole distribution change no answer.
TEST(DrawWithin, ARangeNoPlainDrawLeavesKeepsThePlainDraws) {
    // clang-format off
    const Range ranges[] = {
        {"Normal", {0, 1}, -7, 7},           {"Uniform", {-1, 3}, -1, 3},
        {"Exponential", {2}, 0, 11},         {"Lognormal", {0, 0.5}, 0, 30},
        {"Weibull", {2, 1.5}, -1, 16},       {"Triangular", {0, 1, 4}, 0, 4},
        {"Beta", {2, 3}, 0, 1},              {"Bernoulli", {0.3}, 0, 1},
        {"Binomial", {10, 0.4}, 0, 10},
    };
    // clang-format on
    for (const Range& r : ranges) {
        const QNL_functionRecord* f = FindFunction(r.name);
        const QNL_argumentBlock args = Arguments(r.args);
        std::vector<double> plain;
        QNL_randomUniform().Seed(5);
        for (int i = 0; i < 200; ++i)
            plain.push_back(f->evaluate(args));
        QNL_randomUniform().Seed(5);
        for (int i = 0; i < 200; ++i) {
            double x = NAN;
            ASSERT_EQ(f->drawWithin(r.lower, r.upper, args, x), 0) << r.name;
            ASSERT_EQ(x, plain[static_cast<std::size_t>(i)]) << r.name << " draw " << i;
        }
    }
}

// A range that holds none of the distribution is told apart from arguments only the plain
// draw answers; every distribution draws within a range.
TEST(DrawWithin, RangesWithoutMassAndArgumentsLeftToThePlainDrawAreToldApart) {
    // clang-format off
    const Range empty[] = {
        {"Exponential", {2}, -3, -1},  {"Uniform", {0, 1}, 2, 3},        {"Beta", {2, 3}, 1.5, 2},
        {"Bernoulli", {1}, -1, 0.5},   {"Bernoulli", {0}, 0.5, 2},       {"Binomial", {10, 0.4}, 10.5, 20},
        {"Lognormal", {0, 1}, -3, -1}, {"Triangular", {0, 1, 4}, 5, 9},  {"Weibull", {1, 2}, -2, -1},
    };
    const Range plainOnly[] = {
        {"Normal", {0, -1}, 0, 1},     {"Exponential", {-1}, 0, 1},      {"Uniform", {1, 1}, 0, 2},
        {"Beta", {0, 3}, 0.2, 0.5},    {"Weibull", {1, 0}, 0, 1},        {"Lognormal", {0, 0}, 1, 2},
    };
    // clang-format on
    double x = 0.0;
    for (const Range& r : empty)
        EXPECT_EQ(FindFunction(r.name)->drawWithin(r.lower, r.upper, Arguments(r.args), x), -2)
            << r.name << " [" << r.lower << ", " << r.upper << "]";
    for (const Range& r : plainOnly)
        EXPECT_EQ(FindFunction(r.name)->drawWithin(r.lower, r.upper, Arguments(r.args), x), 1)
            << r.name;
    for (const QNL_functionRecord& f : QNL_functionTable)
        EXPECT_EQ(f.drawWithin != nullptr, f.IsDistribution()) << f.name;
}
