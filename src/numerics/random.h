#pragma once

#include <cstdint>

// A 32-bit linear congruential generator (multiplier 214013, increment 2531011) that hands
// out bits 16 to 30 of its state. Several process-wide instances keep the streams of
// different algorithms apart; code that needs repeatable draws owns one and seeds it.
//
// Beside it each generator carries a second stream, 64-bit words of a well-mixed generator
// seeded from the same seed, for the digits that refine a draw below the 15 bits of a number.
// Given one number of the recurrence, the next ones are fixed by 16 more bits of its state, so
// they can't refine it: refined by them, a chance of 1e-5 would be drawn 7% too often and one
// of 1e-10 never. The numbers of the recurrence are the same whatever the second stream gives.
class QNL_random {
public:
    // Seed 0 takes a seed from the time and the process clock.
    explicit QNL_random(unsigned seed = 0) { Seed(seed); }

    // Restarts both streams from a seed.
    void Seed(unsigned seed);
    // A draw in [0, 1], both ends included: one of 32768 equally spaced values.
    double Next() { return static_cast<double>(NextBits()) / 32767.0; }
    // The next 15 bits, 0 to 32767: what Next() scales.
    std::uint32_t NextBits() {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFFu;
    }
    // The next 64 bits of the second stream (a Weyl sequence through a 64-bit mixer).
    std::uint64_t NextFineBits() {
        fine += 0x9E3779B97F4A7C15ull;
        return Mix(fine);
    }
    std::uint32_t GetState() const { return state; }

private:
    static std::uint64_t Mix(std::uint64_t z) {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::uint32_t state = 0;
    std::uint64_t fine = 0;
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
// A uniform draw in (0, 1] of 30 bits, the generator's next number followed by 15 bits of its
// second stream, for logarithms: its smallest value, 2^-30, lets -log(u) reach 20.8 and a
// normal radius 6.45 sd; a single 15-bit number would cut off tails that the samplers weigh
// draws by.
double PositiveDraw(QNL_random& random);
// A uniform draw strictly inside (0, 1), the centre of one of 2^30 cells (those of
// PositiveDraw): what the inversions of distribution functions take, since both ends map to the
// ends of a range. The two outermost cells are split into 2^15 cells each by 15 more bits of
// the second stream, so that the last 2^-30 of a distribution at either end is drawn to 2^-45
// rather than at one point.
double OpenDraw(QNL_random& random);
// A standard normal draw: one number of the generator and one word of its second stream.
double StandardNormalDraw(QNL_random& random);
// A normal draw from UniformDraw's generator.
double NormalDraw(double mean, double sd);
double LogGamma(double x);
double Beta(double a, double b);
double BetaDensity(double x, double a, double b);
double Pi();
double Exp(double argument);

namespace quarn::detail {

// A uniform number U in [0, 1) of 79 bits, read only as far as the comparisons asked of it
// need: the generator's next number puts U in one of 2^15 equal cells, and a threshold strictly
// inside U's cell takes a word of the generator's second stream, U's next 64 bits. An outcome
// of chance p is so drawn with frequency p, to 2^-79, where one number alone would draw every
// chance between 0 and 2^-15 with frequency 2^-15. A comparison that the first number decides
// answers as `Next() < threshold` does for thresholds below 1, so a draw that its first 15
// bits decide is the draw a single number gives; and since a refined draw takes one number of
// the recurrence too, the draws that follow it are those that follow a draw of one number.
class FineUniform {
public:
    explicit FineUniform(QNL_random& random) : FineUniform(random, random.NextBits()) {}
    // A number whose first 15 bits were already drawn from the generator.
    FineUniform(QNL_random& random, std::uint32_t first)
        : random(&random), first(first), low(first * 0x1p-15), high((first + 1) * 0x1p-15) {}

    // Whether U lies below the threshold: always false for a NaN or a threshold at or below 0,
    // always true at 1 or more. Thresholds asked of one number answer as one U would.
    bool Below(double threshold) {
        if (!(threshold > low)) return false;
        if (threshold >= high) return true;
        return BelowWithinCell(threshold);
    }

private:
    bool BelowWithinCell(double threshold);

    QNL_random* random;
    std::uint32_t first;
    double low, high;
    // U's bits below its cell, read on the first threshold inside the cell.
    std::uint64_t fine = 0;
    bool refined = false;
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
// less (or NaN), and otherwise with frequency `chance` down to 2^-79. It takes one number of
// the generator, and a word of its second stream where that number does not decide. The top
// of the last cell is 1.0 itself, so a chance of 1 or more is above every cell.
inline bool Trial(QNL_random& random, double chance) {
    return FirstAboveRunningSum(&chance, 1, random) == 0;
}

} // namespace quarn::detail
