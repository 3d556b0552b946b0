#pragma once

// Internal: not part of the public interface.
//
// Distribution functions of the built-in distributions, for the probability each gives an
// interval: what an observed node's density is divided by when its range cuts its
// distribution. Each interval probability is taken from whichever tail keeps its digits, and
// a range that holds the whole distribution to double precision gives exactly 1. Their
// inverses within an interval turn one uniform number into a draw renormalised within a
// node's range, however small a share of the distribution the range keeps.

namespace quarn::detail {

// The regularized incomplete beta function I_x(a, b) = P(X <= x) for X ~ Beta(a, b), by its
// continued fraction; NaN for shapes that are not positive finite numbers or an x that is
// NaN. Its complement 1 - I_x(a, b) = I_(1-x)(b, a) into upper, with its own digits.
double RegularizedIncompleteBeta(double a, double b, double x, double* upper = nullptr);
// P(alpha <= Z <= beta) for a standard normal Z, through the upper tails.
double NormalIntervalMass(double alpha, double beta);
// The density of a standard normal renormalised within [alpha, beta] at z inside it, also
// beyond about 37 sd where the interval's mass and the density both underflow: there by the
// ratio of the tails (Mills' ratio), which stays finite.
double NormalDensityWithin(double z, double alpha, double beta);
// P(lower <= X <= upper) for X ~ Beta(a, b).
double BetaIntervalMass(double a, double b, double lower, double upper);
// P(lower <= X <= upper) for X ~ Binomial(n, p), n a whole number of trials and p in [0, 1].
double BinomialIntervalMass(double n, double p, double lower, double upper);

// The value x within [lower, upper] at which the distribution renormalised within that range
// has distribution function u, for u in (0, 1): P(lower <= X <= x) = u P(lower <= X <= upper).
// Each is inverted on the side of the distribution that keeps the digits of the range's
// mass. NaN for arguments the distribution refuses, or a range that holds none of its mass
// a double can represent. For Binomial, a whole number: the least one at which the
// renormalised distribution function reaches u.
double ExponentialQuantileWithin(double u, double rate, double lower, double upper);
double WeibullQuantileWithin(double u, double scale, double shape, double lower, double upper);
double UniformQuantileWithin(double u, double a, double b, double lower, double upper);
double TriangularQuantileWithin(double u, double min, double mode, double max, double lower,
                                double upper);
double BetaQuantileWithin(double u, double a, double b, double lower, double upper);
double BinomialQuantileWithin(double u, double n, double p, double lower, double upper);

} // namespace quarn::detail
