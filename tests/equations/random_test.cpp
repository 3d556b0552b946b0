#include "equations/random.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(Random, RecurrenceMatchesTheDocumentedGeneratorAndReseedingRepeatsIt) {
    EXPECT_NE(QNL_random(0).GetState(), 0u) << "seed zero takes a clock seed";
    QNL_random generator(77);
    generator.Seed(1);
    EXPECT_DOUBLE_EQ(generator.Next(), 41.0 / 32767.0);
    EXPECT_EQ(generator.GetState(), 2745024u);
    std::uint32_t state = 2745024u;
    for (int i = 0; i < 1000; ++i) {
        state = state * 214013u + 2531011u;
        ASSERT_DOUBLE_EQ(generator.Next(), ((state >> 16) & 0x7FFF) / 32767.0);
    }
}

TEST(Random, DrawsCoverBothEndsOfTheUnitInterval) {
    QNL_random generator(12345);
    bool sawZero = false, sawOne = false;
    for (int i = 0; i < 2000000 && !(sawZero && sawOne); ++i) {
        double u = generator.Next();
        ASSERT_GE(u, 0.0);
        ASSERT_LE(u, 1.0);
        sawZero |= u == 0.0;
        sawOne |= u == 1.0;
    }
    EXPECT_TRUE(sawZero);
    EXPECT_TRUE(sawOne);
}

TEST(SpecialFunctions, GammaAndBetaMatchKnownValues) {
    // clang-format off
    const std::pair<double, double> cases[] = {
        {LogGamma(1.0), 0.0},                       {LogGamma(2.0), 0.0},
        {LogGamma(5.0), std::log(24.0)},            {LogGamma(0.5), std::log(std::sqrt(M_PI))},
        {LogGamma(123.4), std::lgamma(123.4)},      {Beta(1.0, 1.0), 1.0},
        {Beta(2.0, 3.0), 1.0 / 12.0},               {BetaDensity(0.5, 2.0, 2.0), 1.5},
        {BetaDensity(0.2, 1.0, 1.0), 1.0},          {Pi(), M_PI},
        {Exp(1.0), std::exp(1.0)},
    };
    // clang-format on
    for (const auto& [actual, expected] : cases)
        EXPECT_NEAR(actual, expected, 1e-9 * (1 + std::fabs(expected)));
}

} // namespace
