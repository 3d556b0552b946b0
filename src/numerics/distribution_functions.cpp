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

bool IsShare(double u) {
    return u > 0.0 && u < 1.0;
}

// An interval's mass, and where a share u of it lies, read from the tails on whichever side
// keeps their digits (both ends in the lower half, both in the upper half, or across the
// middle): below is P(X below the interval) and atOrAbove its complement, upToEnd is P(X up
// to the interval's end) and beyond its complement. The target is a value of the distribution
// function, or, fromAbove, of its complement.
struct ShareOfInterval {
    double mass = 0.0;
    double target = 0.0;
    bool fromAbove = false;
};

ShareOfInterval Share(double u, double below, double atOrAbove, double upToEnd, double beyond) {
    ShareOfInterval share;
    if (upToEnd <= 0.5) {
        share.mass = upToEnd - below;
        share.target = below + u * share.mass;
    } else if (atOrAbove <= 0.5) {
        share.mass = atOrAbove - beyond;
        share.target = atOrAbove - u * share.mass;
        share.fromAbove = true;
    } else {
        share.mass = 1.0 - below - beyond;
        share.target = below + u * share.mass;
        if (share.target > 0.5) {
            share.target = beyond + (1.0 - u) * share.mass;
            share.fromAbove = true;
        }
    }
    return share;
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

// The normalised Beta density, the slope of the incomplete beta function.
double BetaPdf(double x, double a, double b) {
    if (!(x > 0.0 && x < 1.0)) return 0.0;
    return std::exp((a - 1.0) * std::log(x) + (b - 1.0) * std::log1p(-x) + std::lgamma(a + b) -
                    std::lgamma(a) - std::lgamma(b));
}

// A point between lo and hi that keeps its digits however close the root lies to 0 (or, for
// a root on the upper side, to 1): a geometric mean where the bracket spans a factor of four
// or more from that end, a large step toward the end where the bracket reaches it. Doubles
// below 1 are 2^-53 apart, so a step toward 1 is at least that: a smaller one gave 1 itself,
// where the density of many shapes is not finite, and a range [lo, 1] narrower than 2^-21 was
// drawn at 1 every time.
double Between(double lo, double hi, bool nearOne) {
    const double from = nearOne ? 1.0 - hi : lo, to = nearOne ? 1.0 - lo : hi;
    double gap = 0.0;
    if (from == 0.0 && to > 0.0)
        gap = nearOne ? std::max(to * 0x1p-32, 0x1p-53) : to * 0x1p-32;
    else if (from > 0.0 && to > 4.0 * from)
        gap = std::sqrt(from * to);
    else
        return lo + 0.5 * (hi - lo);
    return nearOne ? 1.0 - gap : gap;
}

// The x in [lo, hi] at which I_x(a, b) equals target, or with nearOne the x at which its
// complement does: Newton's steps on the density, kept within a bracket that shrinks to
// Between() whenever a step would leave it.
double SolveBeta(double a, double b, double lo, double hi, double target, bool nearOne) {
    double x = Between(lo, hi, nearOne);
    for (int step = 0; step < 400; ++step) {
        double complement = 0.0;
        const double below = RegularizedIncompleteBeta(a, b, x, &complement);
        // Positive where x lies above the root, on either side.
        const double excess = nearOne ? target - complement : below - target;
        if (excess == 0.0) return x;
        if (excess > 0.0)
            hi = x;
        else
            lo = x;
        double next = x - excess / BetaPdf(x, a, b);
        if (!(next > lo && next < hi)) next = Between(lo, hi, nearOne);
        // A bracket of adjacent doubles, or a step below the rounding of x, ends the search.
        if (!(next > lo && next < hi)) return x;
        const double resolution = 4.0 * std::numeric_limits<double>::epsilon() *
                                  std::fmin(std::fabs(x), std::fabs(1.0 - x));
        if (next == x || std::fabs(next - x) <= resolution) return next;
        x = next;
    }
    return x;
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
    return std::max(Share(0.0, belowLower, aboveLower, belowUpper, aboveUpper).mass, 0.0);
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
    return std::max(Share(0.0, belowFirst, fromFirst, upToLast, beyondLast).mass, 0.0);
}

double ExponentialQuantileWithin(double u, double rate, double lower, double upper) {
    if (!IsShare(u) || !(rate > 0.0) || !std::isfinite(rate)) return kNaN;
    // Memoryless: the part above `from` is the whole distribution shifted there.
    const double from = std::max(lower, 0.0);
    if (!(from < upper)) return kNaN;
    const double span = -std::expm1(-rate * (upper - from));
    if (!(span > 0.0)) return kNaN;
    return std::min(std::max(from - std::log1p(-u * span) / rate, from), upper);
}

double WeibullQuantileWithin(double u, double scale, double shape, double lower, double upper) {
    if (!IsShare(u) || !(scale > 0.0) || !(shape > 0.0) || !std::isfinite(scale) ||
        !std::isfinite(shape))
        return kNaN;
    // (X / scale)^shape is a unit exponential: inverted there.
    const double from = std::max(lower, 0.0);
    if (!(from < upper)) return kNaN;
    const double start = std::pow(from / scale, shape), end = std::pow(upper / scale, shape);
    const double span = -std::expm1(-(end - start));
    if (!(span > 0.0)) return kNaN;
    const double t = start - std::log1p(-u * span);
    return std::min(std::max(scale * std::pow(t, 1.0 / shape), from), upper);
}

double UniformQuantileWithin(double u, double a, double b, double lower, double upper) {
    const double lo = std::min(a, b), hi = std::max(a, b);
    if (!IsShare(u) || !(lo < hi) || !std::isfinite(lo) || !std::isfinite(hi)) return kNaN;
    const double from = std::max(lower, lo), to = std::min(upper, hi);
    if (!(from < to)) return kNaN;
    return std::min(from + u * (to - from), to);
}

double TriangularQuantileWithin(double u, double min, double mode, double max, double lower,
                                double upper) {
    if (!IsShare(u) || !(min < max) || !(min <= mode && mode <= max) || !std::isfinite(min) ||
        !std::isfinite(max))
        return kNaN;
    const double from = std::max(lower, min), to = std::min(upper, max);
    if (!(from < to)) return kNaN;
    const double width = max - min;
    // P(X <= t) below the mode and P(X >= t) above it are squares, inverted by square roots.
    auto below = [&](double t) {
        return t <= min ? 0.0 : (t - min) * (t - min) / (width * (mode - min));
    };
    auto above = [&](double t) {
        return t >= max ? 0.0 : (max - t) * (max - t) / (width * (max - mode));
    };
    auto fromBelow = [&](double p) { return min + std::sqrt(p * width * (mode - min)); };
    auto fromAbove = [&](double q) { return max - std::sqrt(q * width * (max - mode)); };
    double x = 0.0;
    if (to <= mode) {
        x = fromBelow(below(from) + u * (below(to) - below(from)));
    } else if (from >= mode) {
        x = fromAbove(above(from) - u * (above(from) - above(to)));
    } else {
        const double low = below(from), high = above(to), mass = 1.0 - low - high;
        const double p = low + u * mass;
        x = p <= (mode - min) / width ? fromBelow(p) : fromAbove(high + (1.0 - u) * mass);
    }
    return std::min(std::max(x, from), to);
}

double BetaQuantileWithin(double u, double a, double b, double lower, double upper) {
    if (!IsShare(u) || !(a > 0.0) || !(b > 0.0) || !std::isfinite(a) || !std::isfinite(b))
        return kNaN;
    const double from = std::max(lower, 0.0), to = std::min(upper, 1.0);
    if (!(from < to)) return kNaN;
    double aboveFrom = 0.0, aboveTo = 0.0;
    const double belowFrom = RegularizedIncompleteBeta(a, b, from, &aboveFrom);
    const double belowTo = RegularizedIncompleteBeta(a, b, to, &aboveTo);
    const ShareOfInterval share = Share(u, belowFrom, aboveFrom, belowTo, aboveTo);
    if (!(share.mass > 0.0)) return kNaN;
    return std::min(std::max(SolveBeta(a, b, from, to, share.target, share.fromAbove), from), to);
}

double BinomialQuantileWithin(double u, double n, double p, double lower, double upper) {
    if (!IsShare(u) || std::isnan(lower) || std::isnan(upper) || !(n >= 0.0) || !std::isfinite(n) ||
        n != std::floor(n) || !(p >= 0.0 && p <= 1.0))
        return kNaN;
    const double first = std::max(std::ceil(lower), 0.0);
    const double last = std::min(std::floor(upper), n);
    if (!(first <= last)) return kNaN;
    if (p == 0.0) return first == 0.0 ? 0.0 : kNaN;
    if (p == 1.0) return last == n ? n : kNaN;
    double belowFirst = 0.0, fromFirst = 0.0, upToLast = 0.0, beyondLast = 0.0;
    BinomialTails(n, p, first - 1.0, belowFirst, fromFirst);
    BinomialTails(n, p, last, upToLast, beyondLast);
    const ShareOfInterval share = Share(u, belowFirst, fromFirst, upToLast, beyondLast);
    if (!(share.mass > 0.0)) return kNaN;
    // The least k at which P(X <= k) reaches the target, or P(X > k) falls to it.
    double lo = first, hi = last;
    while (lo < hi) {
        const double k = std::floor(0.5 * (lo + hi));
        double atMost = 0.0, beyond = 0.0;
        BinomialTails(n, p, k, atMost, beyond);
        if (share.fromAbove ? beyond <= share.target : atMost >= share.target)
            hi = k;
        else
            lo = k + 1.0;
    }
    return lo;
}

} // namespace quarn::detail
