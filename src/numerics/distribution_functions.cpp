#include "numerics/distribution_functions.h"

#include "numerics/truncated_normal.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn::detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Beyond this many sd a standard normal's tail is below 1e-19: a range reaching that far on
// both sides holds all of it to double precision, and 1 - tails rounds to exactly 1.
constexpr double kWhole = 9.0;

// Past this many sd the tails are taken through Mills' ratio: their mass nears the smallest
// normal double at about 37.5.
constexpr double kFar = 36.0;

// The continued fraction of I_x(a, b), by the modified Lentz method; it converges fast for
// x below (a + 1) / (a + b + 2).
double BetaFraction(double a, double b, double x) {
    constexpr double tiny = 1e-300;
    const double sum = a + b, above = a + 1.0, below = a - 1.0;
    double c = 1.0, d = 1.0 - sum * x / above;
    if (std::fabs(d) < tiny) d = tiny;
    d = 1.0 / d;
    double h = d;
    // Terms grow as the square root of the larger shape.
    const int cap = 200 + static_cast<int>(10.0 * std::sqrt(std::max(a, b)));
    for (int m = 1; m <= cap; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((below + m2) * (a + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < tiny) d = tiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        h *= d * c;
        aa = -(a + m) * (sum + m) * x / ((a + m2) * (above + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < tiny) d = tiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        const double step = d * c;
        h *= step;
        if (std::fabs(step - 1.0) < 1e-16) break;
    }
    return h;
}

// Q(t) / phi(t) for t >= kFar, by its continued fraction 1 / (t + 1 / (t + 2 / (t + ...))).
double MillsRatio(double t) {
    double r = t;
    for (int k = 60; k >= 1; --k)
        r = t + k / r;
    return 1.0 / r;
}

// phi(z) / P(alpha <= Z <= beta) for 0 <= alpha <= z <= beta: as the ratio of each to
// phi(alpha), which stays finite however far out alpha lies.
double FarTailDensity(double z, double alpha, double beta) {
    const double top = std::exp(-0.5 * (z - alpha) * (z + alpha));
    const double rest = std::isfinite(beta)
                            ? std::exp(-0.5 * (beta - alpha) * (beta + alpha)) * MillsRatio(beta)
                            : 0.0;
    const double mass = MillsRatio(alpha) - rest;
    return mass > 0.0 ? top / mass : 0.0;
}

// P(X <= k) and P(X > k) for X ~ Binomial(n, p), k a whole number.
void BinomialTails(double n, double p, double k, double& lower, double& upper) {
    if (k < 0.0) {
        lower = 0.0;
        upper = 1.0;
    } else if (k >= n) {
        lower = 1.0;
        upper = 0.0;
    } else {
        // P(X <= k) = I_(1-p)(n - k, k + 1).
        lower = RegularizedIncompleteBeta(n - k, k + 1.0, 1.0 - p, &upper);
    }
}

} // namespace

double RegularizedIncompleteBeta(double a, double b, double x, double* upper) {
    double lower = kNaN, complement = kNaN;
    if (a > 0.0 && b > 0.0 && std::isfinite(a) && std::isfinite(b) && !std::isnan(x)) {
        if (x <= 0.0) {
            lower = 0.0;
            complement = 1.0;
        } else if (x >= 1.0) {
            lower = 1.0;
            complement = 0.0;
        } else {
            const double front = std::exp(a * std::log(x) + b * std::log1p(-x) +
                                          std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b));
            if (x < (a + 1.0) / (a + b + 2.0)) {
                lower = front * BetaFraction(a, b, x) / a;
                complement = 1.0 - lower;
            } else {
                complement = front * BetaFraction(b, a, 1.0 - x) / b;
                lower = 1.0 - complement;
            }
            lower = std::min(std::max(lower, 0.0), 1.0);
            complement = std::min(std::max(complement, 0.0), 1.0);
        }
    }
    if (upper != nullptr) *upper = complement;
    return lower;
}

double NormalIntervalMass(double alpha, double beta) {
    if (std::isnan(alpha) || std::isnan(beta)) return kNaN;
    if (!(alpha < beta)) return 0.0;
    if (alpha <= -kWhole && beta >= kWhole) return 1.0;
    if (alpha >= 0.0) return NormalUpperTail(alpha) - NormalUpperTail(beta);
    if (beta <= 0.0) return NormalUpperTail(-beta) - NormalUpperTail(-alpha);
    return 1.0 - NormalUpperTail(-alpha) - NormalUpperTail(beta);
}

double NormalDensityWithin(double z, double alpha, double beta) {
    if (std::isnan(z) || !(alpha <= z && z <= beta)) return 0.0;
    if (alpha >= kFar) return FarTailDensity(z, alpha, beta);
    if (beta <= -kFar) return FarTailDensity(-z, -beta, -alpha);
    const double mass = NormalIntervalMass(alpha, beta);
    const double density = std::exp(-0.5 * z * z) / std::sqrt(2.0 * 3.141592653589793);
    return mass > 0.0 ? density / mass : 0.0;
}

double BetaIntervalMass(double a, double b, double lower, double upper) {
    if (std::isnan(lower) || std::isnan(upper)) return kNaN;
    if (lower <= 0.0 && upper >= 1.0) return 1.0;
    lower = std::max(lower, 0.0);
    upper = std::min(upper, 1.0);
    if (!(lower < upper)) return 0.0;
    double aboveLower = 0.0, aboveUpper = 0.0;
    const double belowLower = RegularizedIncompleteBeta(a, b, lower, &aboveLower);
    const double belowUpper = RegularizedIncompleteBeta(a, b, upper, &aboveUpper);
    // Whichever side of the interval keeps its digits: both ends in the lower half, both in
    // the upper half, or across the middle.
    if (belowUpper <= 0.5) return std::max(belowUpper - belowLower, 0.0);
    if (aboveLower <= 0.5) return std::max(aboveLower - aboveUpper, 0.0);
    return std::max(1.0 - belowLower - aboveUpper, 0.0);
}

double BinomialIntervalMass(double n, double p, double lower, double upper) {
    if (std::isnan(n) || std::isnan(p) || std::isnan(lower) || std::isnan(upper)) return kNaN;
    const double first = std::max(std::ceil(lower), 0.0);
    const double last = std::min(std::floor(upper), n);
    if (first <= 0.0 && last >= n) return 1.0;
    if (!(first <= last)) return 0.0;
    double belowFirst = 0.0, fromFirst = 0.0, upToLast = 0.0, beyondLast = 0.0;
    BinomialTails(n, p, first - 1.0, belowFirst, fromFirst);
    BinomialTails(n, p, last, upToLast, beyondLast);
    if (upToLast <= 0.5) return std::max(upToLast - belowFirst, 0.0);
    if (fromFirst <= 0.5) return std::max(fromFirst - beyondLast, 0.0);
    return std::max(1.0 - belowFirst - beyondLast, 0.0);
}

} // namespace quarn::detail
