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
    double Next();
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
// A number of the generator in (0, 1]: it gives 0.0 once in 32768 draws, and logarithms of
// the draws must stay finite.
double PositiveDraw(QNL_random& random);
// A standard normal draw from the generator's numbers (two per draw).
double StandardNormalDraw(QNL_random& random);
// A normal draw from UniformDraw's generator.
double NormalDraw(double mean, double sd);
double LogGamma(double x);
double Beta(double a, double b);
double BetaDensity(double x, double a, double b);
double Pi();
double Exp(double argument);
