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
// A uniform draw strictly inside (0, 1), the centre of one of 2^30 cells (those of
// PositiveDraw): what the inversions of distribution functions take, since both ends map to the
// ends of a range. The two outermost cells take a third number and are split into 2^15 cells
// each, so that the last 2^-30 of a distribution at either end is drawn to 2^-45 rather than
// at one point.
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

namespace quarn::detail {

// A uniform number U in [0, 1) read from a generator fifteen bits at a time, only as far as
// the comparisons asked of it need: the generator's next number puts U in one of 2^15 equal
// cells, and a threshold strictly inside U's cell takes the next number to place U among 2^15
// parts of that cell, and so on, up to four numbers (parts of 2^-60). An outcome of chance p
// is so drawn with frequency p, to 2^-60, where one number alone would draw every chance
// between 0 and 2^-15 with frequency 2^-15. A comparison that the first number decides
// answers as `Next() < threshold` does for thresholds below 1, so a draw that its first 15
// bits decide is the draw a single number gave.
class FineUniform {
public:
    explicit FineUniform(QNL_random& random) : FineUniform(random, random.NextBits()) {}
    // A number whose first 15 bits were already drawn from the generator.
    FineUniform(QNL_random& random, std::uint32_t first)
        : random(&random), low(first * 0x1p-15), high((first + 1) * 0x1p-15) {
        digits[0] = first;
    }

    // Whether U lies below the threshold: always false for a NaN or a threshold at or below 0,
    // always true at 1 or more. Thresholds asked of one number answer as one U would.
    bool Below(double threshold) {
        if (!(threshold > low)) return false;
        if (threshold >= high) return true;
        return BelowWithinCell(threshold);
    }

private:
    static constexpr int DIGITS = 4;
    bool BelowWithinCell(double threshold);

    QNL_random* random;
    double low, high;
    std::uint32_t digits[DIGITS];
    int read = 1;
};

// FirstAboveRunningSum from the i-th probability on, whose running sum `running` lies inside
// the cell of the first number.
int FirstAboveWithinCell(const double* probabilities, int n, int i, double running,
                         std::uint32_t first, QNL_random& random);

// The first of n probabilities whose running sum exceeds a FineUniform of the generator; -1
// when none does (a column that rounding, or the caller, left short of 1). The loop that the
// first number decides is the plain one; a sum inside its cell goes on out of line.
inline int FirstAboveRunningSum(const double* probabilities, int n, QNL_random& random) {
    const std::uint32_t first = random.NextBits();
    const double low = first * 0x1p-15, high = low + 0x1p-15;
    double running = 0.0;
    for (int i = 0; i < n; ++i) {
        running += probabilities[i];
        if (!(running > low)) continue;
        if (running >= high) return i;
        return FirstAboveWithinCell(probabilities, n, i, running, first, random);
    }
    return -1;
}

// One trial of the given chance: it succeeds always at a chance of 1 or more, never at 0 or
// less (or NaN), and otherwise with frequency `chance` down to 2^-60. It takes one number of
// the generator, and more only where the first does not decide.
inline bool Trial(QNL_random& random, double chance) {
    return FirstAboveRunningSum(&chance, 1, random) == 0 || chance >= 1.0;
}

} // namespace quarn::detail
