#include "numerics/truncated_normal.h"

#include "numerics/random.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Phi^-1(p) for p in (0, 0.5]: a rational first guess, then one Halley step on the exact
// tail, which leaves an error near the rounding of erfc itself.
double InverseLowerTail(double p) {
    static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,
                               -2.759285104469687e+02, 1.383577518672690e+02,
                               -3.066479806614716e+01, 2.506628277459239e+00};
    static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02,
                               -1.556989798598866e+02, 6.680131188771972e+01,
                               -1.328068155288572e+01};
    static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01,
                               -2.400758277161838e+00, -2.549732539343734e+00,
                               4.374664141464968e+00,  2.938163982698783e+00};
    static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                               3.754408661907416e+00};
    double x = 0.0;
    if (p < 0.02425) {
        const double q = std::sqrt(-2.0 * std::log(p));
        x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
            ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
    } else {
        const double q = p - 0.5, r = q * q;
        x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
            (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
    }
    const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
    const double u = e * std::sqrt(2.0 * 3.141592653589793) * std::exp(0.5 * x * x);
    if (std::isfinite(u)) x -= u / (1.0 + 0.5 * x * u);
    return x;
}

// Beyond about 37 sd the tail's mass is below the smallest normal double: the tail is drawn
// by rejection from an exponential above the lower end (one-sided or wide intervals) or a
// uniform over the interval (narrow ones), both accepted with probability above 1/e.
bool FarTailDraw(QNL_random& random, double alpha, double beta, double& z) {
    const bool narrow = alpha * (beta - alpha) < 1.0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        double x = 0.0, accept = 0.0;
        if (narrow) {
            x = alpha + OpenDraw(random) * (beta - alpha);
            accept = std::exp(-0.5 * (x - alpha) * (x + alpha));
        } else {
            x = alpha - std::log(OpenDraw(random)) / alpha;
            if (x > beta) continue;
            accept = std::exp(-0.5 * (x - alpha) * (x - alpha));
        }
        if (OpenDraw(random) <= accept) {
            z = x;
            return true;
        }
    }
    return false;
}

} // namespace

double NormalUpperTail(double z) {
    return 0.5 * std::erfc(z / std::sqrt(2.0));
}

double InverseNormalUpperTail(double q) {
    if (!(q > 0.0 && q < 1.0)) return kNaN;
    return q <= 0.5 ? -InverseLowerTail(q) : InverseLowerTail(1.0 - q);
}

bool TruncatedNormalDraw(QNL_random& random, double mean, double sd, double lower, double upper,
                         double& out) {
    if (!(sd > 0.0) || !std::isfinite(sd) || !std::isfinite(mean) || !(lower <= upper))
        return false;
    // Standard units; the interval is mirrored so that it never lies wholly below the mean.
    double alpha = (lower - mean) / sd, beta = (upper - mean) / sd;
    double sign = 1.0;
    if (beta <= 0.0) {
        sign = -1.0;
        const double t = alpha;
        alpha = -beta;
        beta = -t;
    }
    if (std::isnan(alpha) || std::isnan(beta)) return false;
    double z = 0.0;
    const double u = OpenDraw(random);
    if (alpha >= 0.0) {
        // Wholly in the upper tail: inverted through the upper tail's probabilities.
        const double top = NormalUpperTail(alpha), bottom = NormalUpperTail(beta);
        if (top < std::numeric_limits<double>::min()) {
            if (!FarTailDraw(random, alpha, beta, z)) return false;
        } else {
            z = InverseNormalUpperTail(bottom + u * (top - bottom));
        }
    } else {
        // Across the mean: inverted through whichever tail the point falls in.
        const double below = NormalUpperTail(-alpha), above = NormalUpperTail(beta);
        const double mass = 1.0 - below - above;
        const double p = below + u * mass;
        z = p <= 0.5 ? -InverseNormalUpperTail(p)
                     : InverseNormalUpperTail(above + (1.0 - u) * mass);
    }
    if (!std::isfinite(z)) return false;
    // Rounding may leave the point a hair outside its interval.
    z = std::fmin(std::fmax(z, alpha), beta);
    out = mean + sd * sign * z;
    out = std::fmin(std::fmax(out, lower), upper);
    return true;
}
