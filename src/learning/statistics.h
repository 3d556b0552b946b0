#pragma once

// Numerical routines of the learning code: the logarithm of the gamma function (the same one
// the equation language uses), the regularised incomplete gamma function behind the
// chi-square tails of the independence tests, the standard normal distribution function, and
// a seeded uniform generator with normal and integer deviates. Only the generator keeps
// state: its shuffle table, last output word and stored second normal deviate are
// process-wide and unguarded, like every other process-wide state of the library.
namespace QNL_statistics {

// ln Gamma(x) for x > 0.
double LogGamma(double x);

// P(a, x) by its series and Q(a, x) by its continued fraction, in single precision with at
// most 100 iterations and a relative tolerance of 3e-7; when the iterations run out the value
// reached is returned.
float IncompleteGammaSeries(float a, float x);
float IncompleteGammaFraction(float a, float x);
// Q(a, x) = 1 - P(a, x), choosing the form that converges; -1.0 when x < 0, a <= 0 or either
// is not a number. The chi-square tail of a statistic s with k degrees of freedom is
// UpperIncompleteGamma(k / 2, s / 2).
double UpperIncompleteGamma(float a, float x);

// The standard normal distribution function to about 7.5e-8; exactly 1 above 6 and exactly 0
// below -6.
double NormalCdf(double x);

// A uniform deviate in (0, 1), never above 0.99999988: multiplier 16807 modulo 2^31 - 1 with
// a shuffle table of 32 entries. A seed <= 0 (or the first call ever) reloads the table from
// max(1, -seed), so a negative seed restarts a repeatable sequence.
double UniformRandom(int& seed);
// A standard normal deviate; deviates come in pairs, the second kept for the next call. A
// seed <= 0 drops a kept deviate, so a restarted sequence repeats from its start.
double NormalRandom(int& seed);
double NormalRandomScaled(double mean, double deviation, int& seed);
// An integer in [low, high).
int RandomInt(int low, int high, int& seed);

} // namespace QNL_statistics
