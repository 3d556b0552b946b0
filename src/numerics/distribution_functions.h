#pragma once

// Internal: not part of the public interface.
//
// Distribution functions of the built-in distributions, for the probability each gives an
// interval: what an observed node's density is divided by when its range cuts its
// distribution. Each interval probability is taken from whichever tail keeps its digits, and
// a range that holds the whole distribution to double precision gives exactly 1.

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

} // namespace quarn::detail
