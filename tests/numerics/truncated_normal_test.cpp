#include "numerics/random.h"
#include "numerics/truncated_normal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The mean and standard deviation of N(0, 1) within [a, b], in closed form through the
// upper tails, which keep their digits far out; beyond the doubles' reach of the tail's
// mass, by the trapezoidal rule on the density scaled to 1 at a.
void TruncatedMoments(double a, double b, double& mean, double& sd) {
    const auto pdf = [](double z) {
        return std::isfinite(z) ? std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI) : 0.0;
    };
    if (a > 30.0) {
        const double top = std::fmin(b, a + 60.0 / a);
        const int steps = 100000;
        double mass = 0.0, first = 0.0, second = 0.0;
        for (int i = 0; i <= steps; ++i) {
            const double z = a + (top - a) * i / steps;
            const double w =
                (i == 0 || i == steps ? 0.5 : 1.0) * std::exp(-0.5 * (z - a) * (z + a));
            mass += w;
            first += w * z;
            second += w * z * z;
        }
        mean = first / mass;
        sd = std::sqrt(second / mass - mean * mean);
        return;
    }
    const double mass = a >= 0.0 ? NormalUpperTail(a) - NormalUpperTail(b)
                                 : 1.0 - NormalUpperTail(-a) - NormalUpperTail(b);
    const double shift = (pdf(a) - pdf(b)) / mass;
    const double za = std::isfinite(a) ? a * pdf(a) : 0.0, zb = std::isfinite(b) ? b * pdf(b) : 0.0;
    mean = shift;
    sd = std::sqrt(1.0 + (za - zb) / mass - shift * shift);
}

TEST(TruncatedNormal, TailInversionKeepsItsDigitsFarOut) {
    for (double q = 0.5; q > 1e-300; q *= 0.37) {
        const double z = InverseNormalUpperTail(q);
        EXPECT_NEAR(NormalUpperTail(z) / q, 1.0, 1e-12) << q;
        // 1 - q itself keeps fewer digits as q shrinks.
        if (q > 1e-4) {
            EXPECT_NEAR(InverseNormalUpperTail(1.0 - q), -z, 1e-9) << q;
        }
    }
    EXPECT_DOUBLE_EQ(InverseNormalUpperTail(0.5), 0.0);
    EXPECT_NEAR(InverseNormalUpperTail(0.025), 1.959963984540054, 1e-13);
    for (double q : {0.0, 1.0, -0.1, 2.0, std::nan("")})
        EXPECT_TRUE(std::isnan(InverseNormalUpperTail(q))) << q;
}

// Draws within intervals across the mean, in either tail, far beyond what a plain draw
// reaches, and beyond the doubles' reach of a tail's mass: every draw inside its interval,
// and the draws' moments those of the truncated density.
TEST(TruncatedNormal, DrawsFollowTheTruncatedDensityAnywhere) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double mean, sd, lower, upper;
    } cases[] = {
        {0.0, 1.0, -1.0, 2.0},   {0.0, 1.0, 4.0, 10.0},   {0.0, 1.0, 4.6, 10.0},
        {3.0, 2.0, -30.0, -9.0}, {0.0, 1.0, 7.0, 7.5},    {-2.0, 0.5, -inf, 1.0},
        {1.0, 1.0, -inf, inf},   {0.0, 1.0, 40.0, 50.0},  {0.0, 1.0, 40.0, 40.001},
        {5.0, 1e-3, 5.01, 5.02}, {0.0, 1.0, -0.01, 0.01},
    };
    QNL_random random(99);
    const int n = 40000;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lower) + " to " + std::to_string(c.upper));
        double mean = 0.0, sd = 0.0;
        TruncatedMoments((c.lower - c.mean) / c.sd, (c.upper - c.mean) / c.sd, mean, sd);
        mean = c.mean + c.sd * mean;
        sd *= c.sd;
        double sum = 0.0, squares = 0.0;
        for (int i = 0; i < n; ++i) {
            double x = 0.0;
            ASSERT_TRUE(TruncatedNormalDraw(random, c.mean, c.sd, c.lower, c.upper, x));
            ASSERT_TRUE(x >= c.lower && x <= c.upper) << x;
            sum += x;
            squares += x * x;
        }
        const double drawnMean = sum / n;
        const double drawnSd = std::sqrt(std::fmax(squares / n - drawnMean * drawnMean, 0.0));
        EXPECT_NEAR(drawnMean, mean, 5.0 * sd / std::sqrt(n));
        EXPECT_NEAR(drawnSd, sd, 6.0 * sd / std::sqrt(2.0 * n));
    }
}

TEST(TruncatedNormal, UnusableArgumentsDrawNothing) {
    QNL_random random(5);
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double mean, sd, lower, upper;
    } cases[] = {
        {0.0, 0.0, -1.0, 1.0},          {0.0, -1.0, -1.0, 1.0}, {0.0, inf, -1.0, 1.0},
        {std::nan(""), 1.0, -1.0, 1.0}, {0.0, 1.0, 2.0, 1.0},   {0.0, 1.0, std::nan(""), 1.0},
    };
    for (const auto& c : cases) {
        double x = 12345.0;
        EXPECT_FALSE(TruncatedNormalDraw(random, c.mean, c.sd, c.lower, c.upper, x));
        EXPECT_EQ(x, 12345.0);
    }
}

} // namespace
