#include "equations/function_table.h"

#include "numerics/distribution_functions.h"
#include "numerics/random.h"
#include "numerics/truncated_normal.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace quarn::detail {
namespace {

using Args = QNL_argumentBlock;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A uniform draw in (0, 1], for the logarithms of the Gamma, Exponential and Weibull draws.
double PositiveUniform() {
    return PositiveDraw(QNL_randomUniform());
}

// Marsaglia and Tsang's method; shapes below 1 are boosted by one and scaled back.
double GammaDraw(double shape) {
    double scale = 1.0;
    if (shape < 1.0) {
        scale = std::pow(PositiveUniform(), 1.0 / shape);
        shape += 1.0;
    }
    const double d = shape - 1.0 / 3.0;
    const double c = 1.0 / std::sqrt(9.0 * d);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const double x = NormalDraw(0.0, 1.0);
        double v = 1.0 + c * x;
        if (v <= 0.0) continue;
        v = v * v * v;
        const double u = PositiveUniform();
        if (std::log(u) < 0.5 * x * x + d - d * v + d * std::log(v)) return d * v * scale;
    }
    return d * scale;
}

double BetaByGammaRatio(double a, double b) {
    const double x = GammaDraw(a);
    const double y = GammaDraw(b);
    if (x + y > 0.0) return x / (x + y);
    // Both draws underflowed (tiny shapes put all mass next to 0 and 1).
    return Trial(QNL_randomUniform(), a / (a + b)) ? 1.0 : 0.0;
}

// ---- deterministic functions ----

double FnAcos(const Args& a) {
    return std::acos(a.values[0]);
}
double FnAsin(const Args& a) {
    return std::asin(a.values[0]);
}
double FnAtan(const Args& a) {
    return std::atan(a.values[0]);
}
double FnCos(const Args& a) {
    return std::cos(a.values[0]);
}
double FnExp(const Args& a) {
    return std::exp(a.values[0]);
}
double FnLn(const Args& a) {
    return std::log(a.values[0]);
}
double FnLog(const Args& a) {
    return std::log(a.values[0]) / std::log(a.values[1]);
}
double FnLog10(const Args& a) {
    return std::log10(a.values[0]);
}
double FnPi(const Args&) {
    return Pi();
}
double FnPow10(const Args& a) {
    return std::pow(10.0, a.values[0]);
}
double FnSin(const Args& a) {
    return std::sin(a.values[0]);
}
double FnSqr(const Args& a) {
    return a.values[0] * a.values[0];
}
double FnSqrt(const Args& a) {
    return std::sqrt(a.values[0]);
}
double FnTan(const Args& a) {
    return std::tan(a.values[0]);
}

// A NaN condition counts as true, as any value that is not 0.
double FnIf(const Args& a) {
    return a.values[0] != 0.0 ? a.values[1] : a.values[2];
}

double FnSum(const Args& a) {
    double sum = 0.0;
    for (int i = 0; i < a.count; ++i)
        sum += a.values[i];
    return sum;
}

// The selector is truncated toward zero; out-of-range selectors pick the first or last value.
double FnSwitch(const Args& a) {
    const int n = a.count - 1;
    if (n < 1) return kNaN;
    const double k = std::trunc(a.values[0]);
    if (!(k >= 1.0)) return a.values[1];
    if (k > n) return a.values[n];
    return a.values[static_cast<int>(k)];
}

// ---- distributions: draws ----

double DrawBernoulli(const Args& a) {
    return Trial(QNL_randomUniform(), a.values[0]) ? 1.0 : 0.0;
}

double DrawBeta(const Args& args) {
    const double a = args.values[0];
    const double b = args.values[1];
    if (!(a > 0.0) || !(b > 0.0)) return kNaN;
    if (a == 1.0 && b == 1.0) return UniformDraw();
    if (a >= 1.0 && b >= 1.0) {
        // Rejection under the density's peak, which is finite for these shapes.
        const double m = (a - 1.0) / (a + b - 2.0);
        const double peak = BetaDensity(m, a, b);
        for (int attempt = 0; attempt < 100000; ++attempt) {
            const double u = UniformDraw();
            const double y = UniformDraw() * peak;
            if (BetaDensity(u, a, b) > y) return u;
        }
    }
    return BetaByGammaRatio(a, b);
}

// The draw makes ceil(n) trials, none for n <= 0, and a trial succeeds as Trial says,
// so a p outside [0, 1] acts as the nearer end; the mass and the moments read both the same way.
double BinomialTrials(double n) {
    return n <= 0.0 ? 0.0 : std::ceil(n);
}
double BinomialChance(double p) {
    return std::isnan(p) ? p : std::min(std::max(p, 0.0), 1.0);
}

// Above this many trials the count is drawn from the normal approximation rather than by
// one uniform draw per trial, so that a huge n cannot stall an evaluation.
constexpr double kMaxExactTrials = 1e6;

double DrawBinomial(const Args& a) {
    const double p = a.values[1];
    if (std::isnan(a.values[0]) || std::isnan(p)) return kNaN;
    const double n = BinomialTrials(a.values[0]);
    if (n > kMaxExactTrials) {
        if (std::isinf(n)) return kNaN;
        const double q = BinomialChance(p);
        const double draw = std::round(n * q + std::sqrt(n * q * (1.0 - q)) * NormalDraw(0.0, 1.0));
        return std::min(std::max(draw, 0.0), n);
    }
    double count = 0.0;
    for (long trials = static_cast<long>(n); trials > 0; --trials)
        if (Trial(QNL_randomUniform(), p)) count += 1.0;
    return count;
}

double DrawExponential(const Args& a) {
    return -std::log(PositiveUniform()) / a.values[0];
}
double DrawLognormal(const Args& a) {
    return std::exp(NormalDraw(a.values[0], a.values[1]));
}
double DrawNormal(const Args& a) {
    return NormalDraw(a.values[0], a.values[1]);
}

// Arguments (min, mode, max), the same order as the density's.
double DrawTriangular(const Args& a) {
    const double min = a.values[0], mode = a.values[1], max = a.values[2];
    const double u = UniformDraw();
    const double f = (mode - min) / (max - min);
    if (u <= f) return min + std::sqrt(u * (max - min) * (mode - min));
    return max - std::sqrt((1.0 - u) * (max - mode) * (max - min));
}

double DrawUniform(const Args& a) {
    return a.values[0] + UniformDraw() * (a.values[1] - a.values[0]);
}

double DrawWeibull(const Args& a) {
    return a.values[0] * std::pow(-std::log(PositiveUniform()), 1.0 / a.values[1]);
}

// ---- distributions: densities ----
// Apart from Uniform, Normal, Bernoulli and Binomial the densities are divided by their value
// at the mode, so callers get relative likelihood weights. Where the density has no finite
// peak (shape parameters below 1) the plain density is returned.

double DensityBernoulli(double x, const Args& a) {
    if (x == 1.0) return a.values[0];
    if (x == 0.0) return 1.0 - a.values[0];
    return 0.0;
}

double DensityBeta(double x, const Args& args) {
    const double a = args.values[0];
    const double b = args.values[1];
    if (!(x >= 0.0 && x <= 1.0)) return 0.0;
    if (a == 1.0 && b == 1.0) return 1.0;
    if (a >= 1.0 && b >= 1.0) {
        const double m = (a - 1.0) / (a + b - 2.0);
        return BetaDensity(x, a, b) / BetaDensity(m, a, b);
    }
    return BetaDensity(x, a, b);
}

// The probability mass of x successes in the draw's trials at the draw's success chance.
double DensityBinomial(double x, const Args& a) {
    const double n = BinomialTrials(a.values[0]);
    const double p = BinomialChance(a.values[1]);
    if (!(x >= 0.0 && x <= n) || x != std::floor(x) || std::isnan(p)) return 0.0;
    const double logChoose = std::lgamma(n + 1.0) - std::lgamma(x + 1.0) - std::lgamma(n - x + 1.0);
    return std::exp(logChoose) * std::pow(p, x) * std::pow(1.0 - p, n - x);
}

double DensityExponential(double x, const Args& a) {
    return x < 0.0 ? 0.0 : std::exp(-a.values[0] * x);
}

double LognormalPdf(double x, double mu, double s) {
    const double z = (std::log(x) - mu) / s;
    return std::exp(-0.5 * z * z) / (x * s * std::sqrt(2.0 * Pi()));
}

double DensityLognormal(double x, const Args& a) {
    if (!(x > 0.0)) return 0.0;
    const double mu = a.values[0], s = a.values[1];
    return LognormalPdf(x, mu, s) / LognormalPdf(std::exp(mu - s * s), mu, s);
}

// The second argument is a standard deviation, as for the draw and the moments.
double DensityNormal(double x, const Args& a) {
    const double mu = a.values[0], s = a.values[1];
    const double z = (x - mu) / s;
    return std::exp(-0.5 * z * z) / (std::sqrt(2.0 * Pi()) * s);
}

// Arguments (min, mode, max); the density is 1 at the mode and 0 outside [min, max].
double DensityTriangular(double x, const Args& a) {
    const double min = a.values[0], mode = a.values[1], max = a.values[2];
    if (!(x >= min && x <= max)) return 0.0;
    if (x < mode) return (x - min) / (mode - min);
    if (x > mode) return (max - x) / (max - mode);
    return 1.0;
}

double DensityUniform(double x, const Args& a) {
    const double lo = std::min(a.values[0], a.values[1]);
    const double hi = std::max(a.values[0], a.values[1]);
    if (!(x >= lo && x <= hi)) return 0.0;
    return 1.0 / (hi - lo);
}

double WeibullPdf(double x, double lambda, double k) {
    const double t = x / lambda;
    return k / lambda * std::pow(t, k - 1.0) * std::exp(-std::pow(t, k));
}

double DensityWeibull(double x, const Args& a) {
    const double lambda = a.values[0], k = a.values[1];
    if (x < 0.0) return 0.0;
    if (k < 1.0) return WeibullPdf(x, lambda, k);
    const double mode = k > 1.0 ? lambda * std::pow((k - 1.0) / k, 1.0 / k) : 0.0;
    return WeibullPdf(x, lambda, k) / WeibullPdf(mode, lambda, k);
}

// ---- distributions: normalised densities ----
// Bernoulli, Binomial, Normal and Uniform are already normalised and serve in both columns.

double PdfBeta(double x, const Args& args) {
    if (!(x >= 0.0 && x <= 1.0)) return 0.0;
    return BetaDensity(x, args.values[0], args.values[1]);
}

double PdfExponential(double x, const Args& a) {
    return x < 0.0 ? 0.0 : a.values[0] * std::exp(-a.values[0] * x);
}

double PdfLognormal(double x, const Args& a) {
    return x > 0.0 ? LognormalPdf(x, a.values[0], a.values[1]) : 0.0;
}

double PdfTriangular(double x, const Args& a) {
    return DensityTriangular(x, a) * 2.0 / (a.values[2] - a.values[0]);
}

double PdfWeibull(double x, const Args& a) {
    return x < 0.0 ? 0.0 : WeibullPdf(x, a.values[0], a.values[1]);
}

// ---- distributions: densities renormalised within a range ----
// The density proper divided by the probability the distribution gives [lower, upper], for a
// value inside it: the density of the draws a node makes within its range. A range that holds
// the whole distribution to double precision divides by exactly 1, and arguments the density
// refuses leave it as it is. Normal, Lognormal, Exponential and Weibull keep their far tails,
// where the range's mass and the density underflow together, as a ratio of tails.

// Below this the mass of a range is taken to have lost its digits.
constexpr double kSmallMass = 1e-250;

double WithinBernoulli(double x, double lower, double upper, const Args& a) {
    const double density = DensityBernoulli(x, a);
    const double p = a.values[0];
    const bool zero = lower <= 0.0 && upper >= 0.0, one = lower <= 1.0 && upper >= 1.0;
    if (zero && one) return density;
    const double mass = (zero ? 1.0 - p : 0.0) + (one ? p : 0.0);
    return mass > 0.0 ? density / mass : 0.0;
}

double WithinBeta(double x, double lower, double upper, const Args& args) {
    const double density = PdfBeta(x, args);
    const double a = args.values[0], b = args.values[1];
    if (!(a > 0.0) || !(b > 0.0) || !std::isfinite(a) || !std::isfinite(b)) return density;
    const double mass = BetaIntervalMass(a, b, lower, upper);
    return mass > 0.0 ? density / mass : 0.0;
}

double WithinBinomial(double x, double lower, double upper, const Args& a) {
    const double density = DensityBinomial(x, a);
    const double n = BinomialTrials(a.values[0]), p = BinomialChance(a.values[1]);
    if (std::isnan(p) || !std::isfinite(n)) return density;
    const double mass = BinomialIntervalMass(n, p, lower, upper);
    return mass > 0.0 ? density / mass : 0.0;
}

double WithinExponential(double x, double lower, double upper, const Args& a) {
    const double density = PdfExponential(x, a);
    const double rate = a.values[0];
    if (!(rate > 0.0) || !std::isfinite(rate)) return density;
    const double from = std::max(lower, 0.0);
    if (!(from < upper)) return 0.0;
    const double span = -std::expm1(-rate * (upper - from));
    const double mass = std::exp(-rate * from) * span;
    if (mass >= kSmallMass) return density / mass;
    return x >= from && span > 0.0 ? rate * std::exp(-rate * (x - from)) / span : 0.0;
}

double WithinLognormal(double x, double lower, double upper, const Args& a) {
    const double density = PdfLognormal(x, a);
    const double mu = a.values[0], s = a.values[1];
    if (!(s > 0.0) || !std::isfinite(s) || !std::isfinite(mu)) return density;
    const double infinity = std::numeric_limits<double>::infinity();
    const double alpha = lower > 0.0 ? (std::log(lower) - mu) / s : -infinity;
    const double beta = upper > 0.0 ? (std::log(upper) - mu) / s : -infinity;
    const double mass = NormalIntervalMass(alpha, beta);
    if (mass >= kSmallMass) return density / mass;
    if (!(x > 0.0)) return 0.0;
    return NormalDensityWithin((std::log(x) - mu) / s, alpha, beta) / (s * x);
}

double WithinNormal(double x, double lower, double upper, const Args& a) {
    const double density = DensityNormal(x, a);
    const double mu = a.values[0], s = a.values[1];
    if (!(s > 0.0) || !std::isfinite(s) || !std::isfinite(mu)) return density;
    // Both ends 9 sd or more away: the mass is exactly 1, found without a division.
    const double below = mu - lower, above = upper - mu, reach = 81.0 * s * s;
    if (below >= 0.0 && above >= 0.0 && below * below >= reach && above * above >= reach)
        return density;
    const double alpha = (lower - mu) / s, beta = (upper - mu) / s;
    const double mass = NormalIntervalMass(alpha, beta);
    if (mass >= kSmallMass) return density / mass;
    return NormalDensityWithin((x - mu) / s, alpha, beta) / s;
}

double WithinTriangular(double x, double lower, double upper, const Args& a) {
    const double density = PdfTriangular(x, a);
    const double min = a.values[0], mode = a.values[1], max = a.values[2];
    if (!(min < max) || !(min <= mode && mode <= max) || !std::isfinite(min) ||
        !std::isfinite(max))
        return density;
    if (lower <= min && upper >= max) return density;
    // P(X <= t) and P(X >= t), each from the side of the mode where it is a square.
    auto below = [&](double t) {
        if (t <= min) return 0.0;
        if (t >= max) return 1.0;
        return t <= mode ? (t - min) * (t - min) / ((max - min) * (mode - min))
                         : 1.0 - (max - t) * (max - t) / ((max - min) * (max - mode));
    };
    auto above = [&](double t) {
        if (t >= max) return 0.0;
        if (t <= min) return 1.0;
        return t >= mode ? (max - t) * (max - t) / ((max - min) * (max - mode))
                         : 1.0 - (t - min) * (t - min) / ((max - min) * (mode - min));
    };
    double mass = 0.0;
    if (upper <= mode)
        mass = below(upper) - below(lower);
    else if (lower >= mode)
        mass = above(lower) - above(upper);
    else
        mass = 1.0 - below(lower) - above(upper);
    return mass > 0.0 ? density / mass : 0.0;
}

double WithinUniform(double x, double lower, double upper, const Args& a) {
    const double density = DensityUniform(x, a);
    const double lo = std::min(a.values[0], a.values[1]);
    const double hi = std::max(a.values[0], a.values[1]);
    if (!(lo < hi) || !std::isfinite(lo) || !std::isfinite(hi)) return density;
    if (lower <= lo && upper >= hi) return density;
    const double mass = (std::min(upper, hi) - std::max(lower, lo)) / (hi - lo);
    return mass > 0.0 ? density / mass : 0.0;
}

double WithinWeibull(double x, double lower, double upper, const Args& a) {
    const double density = PdfWeibull(x, a);
    const double scale = a.values[0], k = a.values[1];
    if (!(scale > 0.0) || !(k > 0.0) || !std::isfinite(scale) || !std::isfinite(k))
        return density;
    const double from = std::max(lower, 0.0);
    if (!(from < upper)) return 0.0;
    const double start = std::pow(from / scale, k), end = std::pow(upper / scale, k);
    const double span = -std::expm1(-(end - start));
    const double mass = std::exp(-start) * span;
    if (mass >= kSmallMass) return density / mass;
    if (!(x >= from) || !(span > 0.0)) return 0.0;
    const double t = x / scale;
    return k / scale * std::pow(t, k - 1.0) * std::exp(-(std::pow(t, k) - start)) / span;
}

// ---- distributions: draws renormalised within a range ----
// Drawn by inverting the distribution function on one uniform number, so no draw is lost and
// none costs more however small a share the range keeps. A range that no plain draw can leave
// keeps the plain draw and its stream: a normal draw stops at 6.45 sd, and -log of the 30-bit
// uniform behind the Exponential and Weibull draws at 30 ln 2.

constexpr int kPlainOnly = 1;
constexpr int kNoMass = -2;
constexpr double kNormalReach = 6.5;
constexpr double kPositiveReach = 30.0 * 0.6931471805599453;

double OpenUniform() {
    return OpenDraw(QNL_randomUniform());
}

int Inverted(double x, double& out) {
    if (std::isnan(x)) return kNoMass;
    out = x;
    return 0;
}

int WithinDrawBernoulli(double lower, double upper, const Args& a, double& out) {
    const double p = a.values[0];
    const bool zero = lower <= 0.0 && upper >= 0.0, one = lower <= 1.0 && upper >= 1.0;
    if (zero && one) {
        out = DrawBernoulli(a);
        return 0;
    }
    // As the plain draw reads the chance: 1 has none at p <= 0 (or NaN), 0 none at p >= 1.
    if (zero && !(p >= 1.0)) return Inverted(0.0, out);
    if (one && p > 0.0) return Inverted(1.0, out);
    return kNoMass;
}

int WithinDrawBeta(double lower, double upper, const Args& args, double& out) {
    const double a = args.values[0], b = args.values[1];
    if (!(a > 0.0) || !(b > 0.0) || !std::isfinite(a) || !std::isfinite(b)) return kPlainOnly;
    if (lower <= 0.0 && upper >= 1.0) {
        out = DrawBeta(args);
        return 0;
    }
    return Inverted(BetaQuantileWithin(OpenUniform(), a, b, lower, upper), out);
}

int WithinDrawBinomial(double lower, double upper, const Args& a, double& out) {
    const double n = BinomialTrials(a.values[0]), p = BinomialChance(a.values[1]);
    if (std::isnan(p) || !std::isfinite(n)) return kPlainOnly;
    if (lower <= 0.0 && upper >= n) {
        out = DrawBinomial(a);
        return 0;
    }
    return Inverted(BinomialQuantileWithin(OpenUniform(), n, p, lower, upper), out);
}

int WithinDrawExponential(double lower, double upper, const Args& a, double& out) {
    const double rate = a.values[0];
    if (!(rate > 0.0) || !std::isfinite(rate)) return kPlainOnly;
    if (lower <= 0.0 && upper >= kPositiveReach / rate) {
        out = DrawExponential(a);
        return 0;
    }
    return Inverted(ExponentialQuantileWithin(OpenUniform(), rate, lower, upper), out);
}

// Inverted in the logarithm, through the normal's tails.
int WithinDrawLognormal(double lower, double upper, const Args& a, double& out) {
    const double mu = a.values[0], s = a.values[1];
    if (!(s > 0.0) || !std::isfinite(s) || !std::isfinite(mu)) return kPlainOnly;
    if (!(upper > 0.0)) return kNoMass;
    const double infinity = std::numeric_limits<double>::infinity();
    const double from = lower > 0.0 ? std::log(lower) : -infinity, to = std::log(upper);
    if (from <= mu - kNormalReach * s && to >= mu + kNormalReach * s) {
        out = DrawLognormal(a);
        return 0;
    }
    double z = 0.0;
    if (!TruncatedNormalDraw(QNL_randomUniform(), mu, s, from, to, z)) return kNoMass;
    out = std::min(std::max(std::exp(z), lower), upper);
    return 0;
}

int WithinDrawNormal(double lower, double upper, const Args& a, double& out) {
    const double mu = a.values[0], s = a.values[1];
    if (!(s > 0.0) || !std::isfinite(s) || !std::isfinite(mu)) return kPlainOnly;
    if (lower <= mu - kNormalReach * s && upper >= mu + kNormalReach * s) {
        out = DrawNormal(a);
        return 0;
    }
    return TruncatedNormalDraw(QNL_randomUniform(), mu, s, lower, upper, out) ? 0 : kNoMass;
}

int WithinDrawTriangular(double lower, double upper, const Args& a, double& out) {
    const double min = a.values[0], mode = a.values[1], max = a.values[2];
    if (!(min < max) || !(min <= mode && mode <= max) || !std::isfinite(min) || !std::isfinite(max))
        return kPlainOnly;
    if (lower <= min && upper >= max) {
        out = DrawTriangular(a);
        return 0;
    }
    return Inverted(TriangularQuantileWithin(OpenUniform(), min, mode, max, lower, upper), out);
}

int WithinDrawUniform(double lower, double upper, const Args& a, double& out) {
    const double lo = std::min(a.values[0], a.values[1]);
    const double hi = std::max(a.values[0], a.values[1]);
    if (!(lo < hi) || !std::isfinite(lo) || !std::isfinite(hi)) return kPlainOnly;
    if (lower <= lo && upper >= hi) {
        out = DrawUniform(a);
        return 0;
    }
    return Inverted(UniformQuantileWithin(OpenUniform(), lo, hi, lower, upper), out);
}

int WithinDrawWeibull(double lower, double upper, const Args& a, double& out) {
    const double scale = a.values[0], k = a.values[1];
    if (!(scale > 0.0) || !(k > 0.0) || !std::isfinite(scale) || !std::isfinite(k))
        return kPlainOnly;
    if (lower <= 0.0 && upper >= scale * std::pow(kPositiveReach, 1.0 / k)) {
        out = DrawWeibull(a);
        return 0;
    }
    return Inverted(WeibullQuantileWithin(OpenUniform(), scale, k, lower, upper), out);
}

// ---- distributions: moments ----

void MomentsBernoulli(double& mean, double& variance, const Args& a) {
    const double p = a.values[0];
    mean = p;
    variance = p * (1.0 - p);
}

void MomentsBeta(double& mean, double& variance, const Args& args) {
    const double a = args.values[0], b = args.values[1];
    mean = a / (a + b);
    variance = a * b / ((a + b + 1.0) * (a + b) * (a + b));
}

void MomentsBinomial(double& mean, double& variance, const Args& a) {
    const double n = BinomialTrials(a.values[0]), p = BinomialChance(a.values[1]);
    mean = n * p;
    variance = n * p * (1.0 - p);
}

void MomentsExponential(double& mean, double& variance, const Args& a) {
    const double lambda = a.values[0];
    mean = 1.0 / lambda;
    variance = 1.0 / (lambda * lambda);
}

void MomentsLognormal(double& mean, double& variance, const Args& a) {
    const double mu = a.values[0], s2 = a.values[1] * a.values[1];
    mean = std::exp(mu + s2 / 2.0);
    variance = (std::exp(s2) - 1.0) * std::exp(2.0 * mu + s2);
}

void MomentsNormal(double& mean, double& variance, const Args& a) {
    mean = a.values[0];
    variance = a.values[1] * a.values[1];
}

void MomentsTriangular(double& mean, double& variance, const Args& args) {
    const double a = args.values[0], b = args.values[1], c = args.values[2];
    mean = (a + b + c) / 3.0;
    variance = (a * a + b * b + c * c - a * b - a * c - b * c) / 18.0;
}

void MomentsUniform(double& mean, double& variance, const Args& args) {
    const double a = args.values[0], b = args.values[1];
    mean = (a + b) / 2.0;
    variance = (b - a) * (b - a) / 12.0;
}

void MomentsWeibull(double& mean, double& variance, const Args& a) {
    const double lambda = a.values[0], k = a.values[1];
    mean = lambda * std::exp(LogGamma(1.0 + 1.0 / k));
    variance = lambda * lambda * std::exp(LogGamma(1.0 + 2.0 / k)) - mean * mean;
}

int CompareIgnoringCase(std::string_view a, const char* b) {
    const std::size_t bLength = std::strlen(b);
    const std::size_t n = std::min(a.size(), bLength);
    for (std::size_t i = 0; i < n; ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        const int ca = static_cast<unsigned char>(lower(a[i]));
        const int cb = static_cast<unsigned char>(lower(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == bLength) return 0;
    return a.size() < bLength ? -1 : 1;
}

} // namespace
} // namespace quarn::detail

using namespace quarn::detail;

const QNL_functionRecord QNL_functionTable[QNL_FUNCTION_COUNT] = {
    {"Acos", 1, FnAcos, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Asin", 1, FnAsin, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Atan", 1, FnAtan, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Bernoulli", 1, DrawBernoulli, DensityBernoulli, MomentsBernoulli, DensityBernoulli,
     WithinBernoulli, WithinDrawBernoulli},
    {"Beta", 2, DrawBeta, DensityBeta, MomentsBeta, PdfBeta, WithinBeta, WithinDrawBeta},
    {"Binomial", 2, DrawBinomial, DensityBinomial, MomentsBinomial, DensityBinomial, WithinBinomial,
     WithinDrawBinomial},
    {"Cos", 1, FnCos, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Exp", 1, FnExp, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Exponential", 1, DrawExponential, DensityExponential, MomentsExponential, PdfExponential,
     WithinExponential, WithinDrawExponential},
    {"If", 3, FnIf, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Ln", 1, FnLn, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Log", 2, FnLog, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Log10", 1, FnLog10, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Lognormal", 2, DrawLognormal, DensityLognormal, MomentsLognormal, PdfLognormal,
     WithinLognormal, WithinDrawLognormal},
    {"Normal", 2, DrawNormal, DensityNormal, MomentsNormal, DensityNormal, WithinNormal,
     WithinDrawNormal},
    {"Pi", 0, FnPi, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Pow10", 1, FnPow10, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Sin", 1, FnSin, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Sqr", 1, FnSqr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Sqrt", 1, FnSqrt, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Sum", -2, FnSum, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Switch", -3, FnSwitch, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Tan", 1, FnTan, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"Triangular", 3, DrawTriangular, DensityTriangular, MomentsTriangular, PdfTriangular,
     WithinTriangular, WithinDrawTriangular},
    {"Uniform", 2, DrawUniform, DensityUniform, MomentsUniform, DensityUniform, WithinUniform,
     WithinDrawUniform},
    {"Weibull", 2, DrawWeibull, DensityWeibull, MomentsWeibull, PdfWeibull, WithinWeibull,
     WithinDrawWeibull},
};

double (*const QNL_inverseFunctionPairs[12])(const QNL_argumentBlock&) = {
    FnSin, FnAsin, FnCos, FnAcos, FnTan, FnAtan, FnExp, FnLn, FnSqr, FnSqrt, FnPow10, FnLog10,
};

const QNL_functionRecord* FindFunction(std::string_view name) {
    int lo = 0, hi = QNL_FUNCTION_COUNT - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int c = CompareIgnoringCase(name, QNL_functionTable[mid].name);
        if (c == 0) return &QNL_functionTable[mid];
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return nullptr;
}

const QNL_functionRecord* FindInverseFunction(const QNL_functionRecord& f) {
    for (int i = 0; i < 12; ++i) {
        if (QNL_inverseFunctionPairs[i] != f.evaluate) continue;
        const auto inverse = QNL_inverseFunctionPairs[i ^ 1];
        for (const QNL_functionRecord& candidate : QNL_functionTable)
            if (candidate.evaluate == inverse) return &candidate;
    }
    return nullptr;
}
