#pragma once

#include <cstdint>

// A 32-bit linear congruential generator (multiplier 214013, increment 2531011) that hands
// out bits 16 to 30 of its state. Several process-wide instances keep the streams of
// different algorithms apart; code that needs repeatable draws owns one and seeds it.
class QNL_random {
public:
    // Seed 0 takes a seed from the time and the process clock.
    explicit QNL_random(unsigned seed = 0) { Seed(seed); }

    // Restarts the sequence from a seed.
    void Seed(unsigned seed);
    // A draw in [0, 1], both ends included: one of 32768 equally spaced values.
    double Next() { return static_cast<double>(NextBits()) / 32767.0; }
    // The next 15 bits, 0 to 32767: what Next() scales.
    std::uint32_t NextBits() {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFFu;
    }
    std::uint32_t GetState() const { return state; }

private:
    std::uint32_t state = 0;
};

// The process-wide generators, built when the library loads, each seeded from the clock.
// The first is never drawn from; the others serve the Gaussian mixtures, the sampling nodes
// and the sampling distributions of hybrid inference.
QNL_random& QNL_randomUnused();
QNL_random& QNL_randomMixtures();
QNL_random& QNL_randomSamplingNodes();
QNL_random& QNL_randomSamplingDistributions();

// The generator behind UniformDraw, created on its first use.
QNL_random& QNL_randomUniform();

double UniformDraw();
// One trial of the given chance on a uniform draw u in [0, 1]: it succeeds when u < chance,
// and always when the chance is 1 or more, which u = 1.0 (one draw in 32768) would otherwise
// fail. A chance of 0 or less never succeeds.
inline bool TrialSucceeds(double u, double chance) {
    return u < chance || chance >= 1.0;
}
// A uniform draw in (0, 1] made of two of the generator's numbers (30 bits), for logarithms:
// its smallest value, 2^-30, lets -log(u) reach 20.8 and a normal radius 6.45 sd; a single
// 15-bit number would cut off tails that the samplers weigh draws by.
double PositiveDraw(QNL_random& random);
// A uniform draw strictly inside (0, 1), the centre of one of PositiveDraw's 2^30 cells: what
// the inversions of distribution functions take, since both ends map to the ends of a range.
double OpenDraw(QNL_random& random);
// A standard normal draw from the generator's numbers (two per draw).
double StandardNormalDraw(QNL_random& random);
// A normal draw from UniformDraw's generator.
double NormalDraw(double mean, double sd);
double LogGamma(double x);
double Beta(double a, double b);
double BetaDensity(double x, double a, double b);
double Pi();
double Exp(double argument);
