#include "numerics/distribution_functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

using namespace quarn::detail;

namespace {

// I_x(a, b) by Simpson's rule on its integral: over t for a >= 1, else over u = t^a, which
// leaves the integrand (1 - u^(1/a))^(b - 1) / a; both smooth for x short of 1.
double IncompleteBetaByQuadrature(double a, double b, double x) {
    const bool substituted = a < 1.0;
    const double top = substituted ? std::pow(x, a) : x;
    const int steps = 100000;
    const double h = top / steps;
    long double sum = 0.0L;
    for (int i = 0; i <= steps; ++i) {
        const double v = i * h;
        const double f = substituted ? std::pow(1.0 - std::pow(v, 1.0 / a), b - 1.0) / a
                                     : std::pow(v, a - 1.0) * std::pow(1.0 - v, b - 1.0);
        sum += (i == 0 || i == steps ? 1 : (i % 2 == 1 ? 4 : 2)) * static_cast<long double>(f);
    }
    const double logBeta = std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b);
    return static_cast<double>(sum * h / 3.0L) / std::exp(logBeta);
}

// The normal's upper tail in long double, whose exponent reaches far beyond a double's.
long double Tail(long double z) {
    return 0.5L * std::erfc(z / std::sqrt(2.0L));
}

} // namespace

// Both tails against quadrature, each relative to its own size: the small one keeps its
// digits down to 1e-60.
TEST(IncompleteBeta, BothTailsAgreeWithQuadrature) {
    const double shapes[][2] = {{0.5, 1.0},  {1.0, 1.0}, {2.5, 3.0}, {7.0, 1.5},
                                {40.0, 2.0}, {0.7, 4.0}, {3.0, 0.6}, {12.0, 30.0}};
    for (const auto& [a, b] : shapes) {
        for (double x : {1e-3, 0.05, 0.3, 0.5, 0.7, 0.95}) {
            const std::string label =
                "a " + std::to_string(a) + ", b " + std::to_string(b) + ", x " + std::to_string(x);
            double upper = 0.0;
            const double lower = RegularizedIncompleteBeta(a, b, x, &upper);
            const double expectedLower = IncompleteBetaByQuadrature(a, b, x);
            const double expectedUpper = IncompleteBetaByQuadrature(b, a, 1.0 - x);
            EXPECT_NEAR(lower, expectedLower, 1e-7 * expectedLower + 1e-300) << label;
            EXPECT_NEAR(upper, expectedUpper, 1e-7 * expectedUpper + 1e-300) << label;
            EXPECT_NEAR(lower + upper, 1.0, 1e-12) << label;
        }
    }
    double upper = -1.0;
    EXPECT_EQ(RegularizedIncompleteBeta(2.0, 3.0, 0.0, &upper), 0.0);
    EXPECT_EQ(upper, 1.0);
    EXPECT_EQ(RegularizedIncompleteBeta(2.0, 3.0, 1.0, &upper), 1.0);
    EXPECT_EQ(upper, 0.0);
    for (double bad : {0.0, -1.0, double(INFINITY), double(NAN)})
        EXPECT_TRUE(std::isnan(RegularizedIncompleteBeta(bad, 2.0, 0.5))) << bad;
    EXPECT_TRUE(std::isnan(RegularizedIncompleteBeta(2.0, 2.0, NAN)));
}

// The mass of an interval from whichever tail keeps its digits; exactly 1 where both tails
// are below a double's precision, so that a range holding the whole distribution changes
// nothing it divides.
TEST(NormalIntervalMass, KeepsTheTailsAndIsOneForWholeRanges) {
    const double intervals[][2] = {{-1.0, 2.0}, {3.5, 20.0},  {-20.0, -3.5},
                                   {8.0, 8.5},  {30.0, 31.0}, {-31.0, -30},
                                   {-0.5, 0.5}, {-8.0, 12.0}, {-INFINITY, -37.0}};
    for (const auto& [a, b] : intervals) {
        const long double expected = a >= 0 || b <= 0
                                         ? std::fabs(Tail(std::fabs(a)) - Tail(std::fabs(b)))
                                         : 1.0L - Tail(-a) - Tail(b);
        EXPECT_NEAR(NormalIntervalMass(a, b), static_cast<double>(expected),
                    1e-12 * static_cast<double>(expected))
            << a << " " << b;
    }
    for (const auto& [a, b] : {std::pair{-9.0, 9.0}, {-40.0, 12.0}, {-1e3, 1e3}})
        EXPECT_EQ(NormalIntervalMass(a, b), 1.0) << a << " " << b;
    EXPECT_EQ(NormalIntervalMass(2.0, 2.0), 0.0);
    EXPECT_EQ(NormalIntervalMass(3.0, 1.0), 0.0);
}

// Beyond 37 sd both the density and the interval's mass underflow; their ratio does not.
TEST(NormalIntervalMass, DensityWithinAFarIntervalKeepsItsDigits) {
    for (double alpha : {5.0, 36.5, 40.0, 60.0}) {
        for (double width : {0.01, 0.5, 100.0}) {
            for (double share : {0.0, 0.3, 1.0}) {
                const double beta = alpha + width, z = alpha + share * width;
                const long double density =
                    std::exp(-0.5L * z * z) / std::sqrt(2.0L * 3.14159265358979323846L);
                const long double expected = density / (Tail(alpha) - Tail(beta));
                const std::string label = std::to_string(alpha) + " " + std::to_string(width) +
                                          " " + std::to_string(share);
                EXPECT_NEAR(NormalDensityWithin(z, alpha, beta), static_cast<double>(expected),
                            1e-9 * static_cast<double>(expected))
                    << label;
                EXPECT_NEAR(NormalDensityWithin(-z, -beta, -alpha), static_cast<double>(expected),
                            1e-9 * static_cast<double>(expected))
                    << label;
            }
        }
    }
    EXPECT_EQ(NormalDensityWithin(39.0, 40.0, 41.0), 0.0);
}

// Beta and Binomial intervals against the incomplete beta's quadrature and the summed
// masses, including intervals in a far tail.
TEST(IntervalMass, BetaAndBinomialAgreeWithQuadratureAndSums) {
    const double betas[][4] = {{2.0, 3.0, 0.1, 0.6},  {2.0, 30.0, 0.5, 0.9},
                               {0.5, 0.5, 0.0, 0.3},  {30.0, 2.0, 0.1, 0.5},
                               {3.0, 0.6, 0.95, 2.0}, {1.0, 1.0, -1.0, 0.25}};
    for (const auto& row : betas) {
        // Plain names: a lambda may not capture a structured binding.
        const double a = row[0], b = row[1], lo = row[2], hi = row[3];
        const auto cdf = [&](double x) {
            return x <= 0 ? 0.0 : x >= 1 ? 1.0 : IncompleteBetaByQuadrature(a, b, x);
        };
        const auto tail = [&](double x) {
            return x >= 1 ? 0.0 : x <= 0 ? 1.0 : IncompleteBetaByQuadrature(b, a, 1.0 - x);
        };
        const double expected = hi <= 0.5 ? cdf(hi) - cdf(lo) : tail(lo) - tail(hi);
        EXPECT_NEAR(BetaIntervalMass(a, b, lo, hi), expected, 1e-7 * expected) << a << " " << b;
    }
    EXPECT_EQ(BetaIntervalMass(2.5, 0.5, -0.5, 1.0), 1.0);
    for (double n : {1.0, 7.0, 40.0}) {
        for (double p : {0.0, 0.03, 0.5, 0.97, 1.0}) {
            for (const auto& [lo, hi] : {std::pair{-1.0, 0.5},
                                         {0.5, 3.2},
                                         {2.0, 2.0},
                                         {5.5, 100.0},
                                         {-2.0, 200.0},
                                         {35.0, 38.0}}) {
                long double expected = 0.0L;
                for (int k = 0; k <= static_cast<int>(n); ++k) {
                    if (k < lo || k > hi) continue;
                    expected += std::exp(std::lgamma(n + 1.0L) - std::lgamma(k + 1.0L) -
                                         std::lgamma(n - k + 1.0L)) *
                                std::pow(static_cast<long double>(p), k) *
                                std::pow(1.0L - p, n - k);
                }
                EXPECT_NEAR(BinomialIntervalMass(n, p, lo, hi), static_cast<double>(expected),
                            1e-10 * static_cast<double>(expected) + 1e-300)
                    << n << " " << p << " [" << lo << ", " << hi << "]";
            }
        }
    }
    EXPECT_EQ(BinomialIntervalMass(12.0, 0.3, 0.0, 12.0), 1.0);
}

namespace {

// A distribution cut to a range for the inversion tests: its log density up to a constant,
// written here from the textbook formulas, and the inversion under test.
struct Cut {
    const char* name;
    double a, b, c;
    double lower, upper;

    // The five names differ in their first letter.
    bool Is(const char* other) const { return name[0] == other[0]; }
    double LogDensity(double x) const {
        if (Is("Exponential")) return -a * x;
        if (Is("Weibull")) return (b - 1.0) * std::log(x / a) - std::pow(x / a, b);
        if (Is("Triangular")) return std::log(std::max(x < b ? (x - a) / (b - a) : (c - x) / (c - b), 0.0));
        if (Is("Beta")) return (a - 1.0) * std::log(x) + (b - 1.0) * std::log1p(-x);
        return 0.0;
    }
    double Quantile(double u) const {
        if (Is("Exponential")) return ExponentialQuantileWithin(u, a, lower, upper);
        if (Is("Weibull")) return WeibullQuantileWithin(u, a, b, lower, upper);
        if (Is("Triangular")) return TriangularQuantileWithin(u, a, b, c, lower, upper);
        if (Is("Beta")) return BetaQuantileWithin(u, a, b, lower, upper);
        return UniformQuantileWithin(u, a, b, lower, upper);
    }
    // Where the density is positive within the range.
    double From() const {
        if (Is("Triangular")) return std::max(lower, a);
        if (Is("Uniform")) return std::max(lower, std::min(a, b));
        return std::max(lower, Is("Weibull") ? 1e-12 : 0.0);
    }
    double To() const {
        if (Is("Triangular")) return std::min(upper, c);
        if (Is("Uniform")) return std::min(upper, std::max(a, b));
        return std::min(upper, Is("Beta") ? 1.0 : INFINITY);
    }
};

// P(lower <= X <= x) / P(lower <= X <= upper) by Simpson's rule on the density scaled to 1 at
// its largest value over the range, which keeps a far tail's digits.
double RenormalisedCdf(const Cut& d, double x) {
    const double from = d.From(), to = d.To();
    const int steps = 20000;
    double peak = -INFINITY;
    for (int i = 0; i <= steps; ++i)
        peak = std::max(peak, d.LogDensity(from + (to - from) * i / steps));
    auto integral = [&](double top) {
        const double h = (top - from) / steps;
        long double sum = 0.0L;
        for (int i = 0; i <= steps; ++i)
            sum += (i == 0 || i == steps ? 1 : (i % 2 == 1 ? 4 : 2)) *
                   static_cast<long double>(std::exp(d.LogDensity(from + i * h) - peak));
        return sum * h / 3.0L;
    };
    return static_cast<double>(integral(x) / integral(to));
}

} // namespace

// The value each inversion gives for a share u is where the distribution renormalised within
// the range reaches u, by quadrature of the density: across the mode, in either tail, and in
// tails so far that the range's mass is below 1e-300.
TEST(QuantileWithin, ContinuousInversionsAgreeWithQuadratureOfTheDensity) {
    // clang-format off
    const Cut cases[] = {
        {"Exponential", 2, 0, 0, 0.5, 3},       {"Exponential", 0.7, 0, 0, -1, 1},
        {"Exponential", 1, 0, 0, 800, 802},     {"Weibull", 2, 1.5, 0, 0.2, 1},
        {"Weibull", 1, 0.8, 0, 1, 4},           {"Weibull", 1, 3, 0, 9, 9.5},
        {"Uniform", 3, -1, 0, -5, 0.5},         {"Triangular", 0, 1, 4, 0.5, 2},
        {"Triangular", 0, 1, 4, -1, 0.8},       {"Triangular", 0, 1, 4, 2, 9},
        {"Triangular", 0, 0, 2, 0.5, 1},        {"Triangular", 0, 4, 4, 1, 3},
        {"Beta", 2, 3, 0, 0.1, 0.6},            {"Beta", 2, 3, 0, 0.1, 0.9},
        {"Beta", 2, 30, 0, 0.5, 0.9},           {"Beta", 0.5, 2, 0, 0.2, 3},
        {"Beta", 40, 3, 0, 0, 0.5},             {"Beta", 300, 2, 0, 0.1, 0.6},
        {"Beta", 3, 0.6, 0, 0.95, 0.999},
    };
    // clang-format on
    for (const Cut& d : cases) {
        double last = -INFINITY;
        for (double u : {1e-6, 0.01, 0.2, 0.5, 0.8, 0.99, 1.0 - 1e-6}) {
            const double x = d.Quantile(u);
            const std::string label = std::string(d.name) + " [" + std::to_string(d.lower) + ", " +
                                      std::to_string(d.upper) + "] at " + std::to_string(u);
            ASSERT_TRUE(x >= d.lower && x <= d.upper) << label << ": " << x;
            EXPECT_GT(x, last) << label;
            last = x;
            EXPECT_NEAR(RenormalisedCdf(d, x), u, 2e-7) << label << ": " << x;
        }
    }
}

// The least whole number at which the renormalised distribution function reaches u, against
// the masses summed in long double, in the middle and far into either tail.
TEST(QuantileWithin, BinomialIsTheLeastCountReachingTheShare) {
    const double cases[][4] = {{10, 0.4, 2.5, 6},     {40, 0.03, 20, 40},   {7, 0.9, -3, 4},
                               {1000, 0.5, 400, 450}, {200, 0.999, 0, 150}, {30, 0.5, -1, 40},
                               {12, 0.2, 5, 5}};
    for (const auto& [n, p, lower, upper] : cases) {
        std::vector<long double> mass;
        long double total = 0.0L;
        const int first = static_cast<int>(std::max(std::ceil(lower), 0.0));
        const int last = static_cast<int>(std::min(std::floor(upper), n));
        for (int k = first; k <= last; ++k) {
            mass.push_back(std::exp(std::lgamma(n + 1.0L) - std::lgamma(k + 1.0L) -
                                    std::lgamma(n - k + 1.0L) +
                                    k * std::log(static_cast<long double>(p)) +
                                    (n - k) * std::log1p(-static_cast<long double>(p))));
            total += mass.back();
        }
        for (double u : {1e-6, 0.01, 0.3, 0.5, 0.7, 0.99, 1.0 - 1e-6}) {
            long double running = 0.0L;
            int expected = last;
            for (int k = first; k <= last; ++k) {
                running += mass[static_cast<std::size_t>(k - first)];
                if (running >= u * total) {
                    expected = k;
                    break;
                }
            }
            EXPECT_EQ(BinomialQuantileWithin(u, n, p, lower, upper), expected)
                << n << " " << p << " [" << lower << ", " << upper << "] at " << u;
        }
    }
    EXPECT_EQ(BinomialQuantileWithin(0.5, 10, 0.0, 0, 3), 0.0);
    EXPECT_EQ(BinomialQuantileWithin(0.5, 10, 1.0, 4, 10), 10.0);
}

// What no range or argument can answer is NaN, never a value outside the range.
TEST(QuantileWithin, RefusesEmptyRangesAndArgumentsWithoutADistribution) {
    for (double u : {0.0, 1.0, -0.5, double(NAN)})
        EXPECT_TRUE(std::isnan(ExponentialQuantileWithin(u, 1.0, 0.0, 1.0))) << u;
    EXPECT_TRUE(std::isnan(ExponentialQuantileWithin(0.5, -1.0, 0.0, 1.0)));
    EXPECT_TRUE(std::isnan(ExponentialQuantileWithin(0.5, 1.0, -3.0, -1.0)));
    EXPECT_TRUE(std::isnan(WeibullQuantileWithin(0.5, 1.0, 0.0, 0.0, 1.0)));
    EXPECT_TRUE(std::isnan(UniformQuantileWithin(0.5, 0.0, 1.0, 2.0, 3.0)));
    EXPECT_TRUE(std::isnan(UniformQuantileWithin(0.5, 1.0, 1.0, 0.0, 3.0)));
    EXPECT_TRUE(std::isnan(TriangularQuantileWithin(0.5, 0.0, 5.0, 4.0, 0.0, 4.0)));
    EXPECT_TRUE(std::isnan(TriangularQuantileWithin(0.5, 0.0, 1.0, 4.0, 5.0, 6.0)));
    EXPECT_TRUE(std::isnan(BetaQuantileWithin(0.5, 2.0, 3.0, 1.5, 2.0)));
    EXPECT_TRUE(std::isnan(BetaQuantileWithin(0.5, -2.0, 3.0, 0.0, 1.0)));
    EXPECT_TRUE(std::isnan(BinomialQuantileWithin(0.5, 10.0, 0.3, 10.5, 20.0)));
    EXPECT_TRUE(std::isnan(BinomialQuantileWithin(0.5, 10.0, 0.0, 1.0, 3.0)));
    EXPECT_TRUE(std::isnan(BinomialQuantileWithin(0.5, 10.0, 1.5, 0.0, 3.0)));
}
