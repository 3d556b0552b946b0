#include "numerics/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using quarn::detail::FineUniform;
using quarn::detail::Trial;

// The generator's next four numbers as one number of 60 bits: U is that number times 2^-60.
std::uint64_t SixtyBits(QNL_random ahead) {
    std::uint64_t bits = 0;
    for (int k = 0; k < 4; ++k)
        bits = bits << 15 | ahead.NextBits();
    return bits;
}

// Whether U = bits · 2^-60 lies below t, decided without rounding: t · 2^60 is exact.
bool BelowExactly(std::uint64_t bits, double t) {
    const double scaled = std::ldexp(t, 60);
    if (!(scaled > 0.0)) return false;
    if (scaled >= 0x1p60) return true;
    const auto whole = static_cast<std::uint64_t>(scaled);
    return whole > bits || (whole == bits && scaled > static_cast<double>(whole));
}

// How far the generator moved: 1 to 4 numbers, 0 for anything else.
int NumbersTaken(const QNL_random& before, const QNL_random& after) {
    QNL_random step = before;
    for (int k = 1; k <= 4; ++k) {
        step.NextBits();
        if (step.GetState() == after.GetState()) return k;
    }
    return 0;
}

} // namespace

// Thresholds inside U's cell at every depth, on either side of U and at it, in an order that
// goes back and forth: each answer is the 60-bit number's, and the generator moves by one
// number for thresholds outside the first cell (so those draws are the single-number ones)
// and by at most four in all.
TEST(FineUniform, AnswersAsTheSixtyBitNumberOfTheGeneratorsNextNumbers) {
    const double offsets[] = {0x1p50,  -0x1p46, 0x1p45,  -0x1p31, 0x1p30,  -3e4,   0x1p15,
                              -300,    1,       -1,      0,       0.5,     -0.5,   300,
                              -0x1p15, 3e4,     -0x1p30, 0x1p31,  -0x1p45, 0x1p46, -0x1p50};
    const double edges[] = {std::numeric_limits<double>::quiet_NaN(), -1.0, 0.0, 1.0, 2.0};
    int deepest = 0;
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        QNL_random generator(seed * 2654435761u);
        const QNL_random start = generator;
        const std::uint64_t bits = SixtyBits(generator);
        const double cellLow = std::ldexp(static_cast<double>(bits >> 45), -15);
        const double cellHigh = cellLow + 0x1p-15;

        FineUniform outside(generator);
        for (double offset : {0x1p46, -0x1p46, 0x1p50, -0x1p50}) {
            const double t = std::ldexp(static_cast<double>(bits) + offset, -60);
            if (t > cellLow && t < cellHigh) continue;
            ASSERT_EQ(outside.Below(t), BelowExactly(bits, t)) << seed << " " << t;
        }
        for (double t : edges)
            ASSERT_EQ(outside.Below(t), BelowExactly(bits, t)) << seed << " " << t;
        ASSERT_EQ(NumbersTaken(start, generator), 1) << seed;

        generator = start;
        FineUniform u(generator);
        for (double offset : offsets) {
            const double t = std::ldexp(static_cast<double>(bits) + offset, -60);
            ASSERT_EQ(u.Below(t), BelowExactly(bits, t)) << seed << " " << offset;
        }
        const int taken = NumbersTaken(start, generator);
        ASSERT_GE(taken, 1) << seed;
        deepest = std::max(deepest, taken);
    }
    EXPECT_EQ(deepest, 4);
}

// A trial of chance p succeeds with frequency p, within five binomial errors over 4·10^6
// trials, also far below 2^-15 (a single number drew every chance from 0 to 2^-15 with
// frequency 2^-15: 122 successes here for 1e-7) and as near to 1.
TEST(FineUniform, TrialsSucceedWithTheirChanceBelowTwoToTheMinusFifteen) {
    const double chances[] = {1e-9, 1e-7, 1e-6, 1e-5, 1.5 * 0x1p-15, 0.3, 1.0 - 1e-6};
    const int trials = 4000000;
    QNL_random generator(20240611u);
    for (double p : chances) {
        long long successes = 0;
        for (int i = 0; i < trials; ++i)
            successes += Trial(generator, p) ? 1 : 0;
        const double expected = trials * p;
        EXPECT_NEAR(static_cast<double>(successes), expected,
                    5.0 * std::sqrt(expected * (1.0 - p)) + 2.0)
            << p;
    }
}

// The inversions' uniform: the two outermost of its 2^30 cells take a third number and lie
// spread over 2^15 points inside the cell, the others are the cell's centre. The generator
// states whose first two numbers are both 0, or both 32767, are found by search.
TEST(OpenDraw, OutermostCellsAreSplitByAThirdNumber) {
    for (std::uint32_t edge : {0u, 0x7FFFu}) {
        std::vector<double> draws;
        for (std::uint32_t rest = 0; rest < (1u << 17); ++rest) {
            // States after a step whose bits 16 to 30 are `edge`; the seed is the one before.
            const std::uint32_t after = (rest >> 16) << 31 | edge << 16 | (rest & 0xFFFFu);
            const std::uint32_t before = (after - 2531011u) * 3115528533u;
            QNL_random ahead(before);
            if (before == 0 || ahead.NextBits() != edge || ahead.NextBits() != edge) continue;
            const double third = ahead.NextBits();
            QNL_random generator(before);
            const double u = OpenDraw(generator);
            draws.push_back(u);
            EXPECT_EQ(u, edge == 0 ? (third + 0.5) * 0x1p-45 : 1.0 - (third + 0.5) * 0x1p-45);
            EXPECT_EQ(NumbersTaken(QNL_random(before), generator), 3);
        }
        EXPECT_GE(draws.size(), 2u) << edge;
    }
    QNL_random generator(99);
    for (int i = 0; i < 1000; ++i) {
        QNL_random ahead = generator;
        const std::uint32_t cell = ahead.NextBits() << 15 | ahead.NextBits();
        const double u = OpenDraw(generator);
        if (cell != 0 && cell != 0x3FFFFFFFu) {
            EXPECT_EQ(u, (cell + 0.5) * 0x1p-30);
        }
    }
}
