#include "equations/random.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(Random, RecurrenceMatchesTheDocumentedGenerator) {
    QNL_random generator(1);
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

TEST(Random, SeedZeroTakesAClockSeedAndReseedingRepeatsTheStream) {
    QNL_random fromClock(0);
    EXPECT_NE(fromClock.GetState(), 0u);
    QNL_random a(77), b(1);
    b.Seed(77);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a.Next(), b.Next());
}

TEST(Random, NormalDrawStaysWithinSixDeviationsAndIsCentred) {
    QNL_randomUniform().Seed(4242);
    double sum = 0, sumSquares = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        double x = NormalDraw(3.0, 2.0);
        ASSERT_GE(x, 3.0 - 12.0);
        ASSERT_LE(x, 3.0 + 12.0);
        sum += x;
        sumSquares += x * x;
    }
    const double mean = sum / n;
    const double variance = sumSquares / n - mean * mean;
    EXPECT_NEAR(mean, 3.0, 0.1);
    EXPECT_NEAR(variance, 4.0, 0.2);
}

TEST(SpecialFunctions, GammaAndBetaMatchKnownValues) {
    EXPECT_NEAR(LogGamma(1.0), 0.0, 1e-10);
    EXPECT_NEAR(LogGamma(2.0), 0.0, 1e-10);
    EXPECT_NEAR(LogGamma(5.0), std::log(24.0), 1e-10);
    EXPECT_NEAR(LogGamma(0.5), std::log(std::sqrt(Pi())), 1e-10);
    EXPECT_NEAR(LogGamma(123.4), std::lgamma(123.4), 1e-8);
    EXPECT_NEAR(Beta(1.0, 1.0), 1.0, 1e-10);
    EXPECT_NEAR(Beta(2.0, 3.0), 1.0 / 12.0, 1e-10);
    EXPECT_NEAR(BetaDensity(0.5, 2.0, 2.0), 1.5, 1e-9);
    EXPECT_NEAR(BetaDensity(0.2, 1.0, 1.0), 1.0, 1e-9);
    EXPECT_DOUBLE_EQ(Pi(), 3.141592653589793);
    EXPECT_DOUBLE_EQ(Exp(1.0), std::exp(1.0));
}

} // namespace
