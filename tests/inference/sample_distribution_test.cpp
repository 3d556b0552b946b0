#include "inference/sample_distribution.h"
#include "numerics/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

TEST(DiscreteSampleDistribution, WeightsReplaceTheVoidUniformAndNormalise) {
    int state = -1;
    QNL_discreteSampleDistribution d(&state, 4, true);
    for (int s = 0; s < 4; ++s)
        EXPECT_EQ(d.Probability(s), 0.25);
    EXPECT_TRUE(d.IsVoid());
    ASSERT_EQ(d.AddWeight(2, 3.0), 0);
    EXPECT_FALSE(d.IsVoid());
    const std::vector<double> expected = {0.0, 0.0, 1.0, 0.0};
    for (int s = 0; s < 4; ++s)
        EXPECT_EQ(d.Probability(s), expected[static_cast<std::size_t>(s)]);
    EXPECT_EQ(d.AddWeight(4, 1.0), -2);

    QNL_discreteSampleDistribution zeros(&state, 3, false);
    zeros.Normalize();
    for (int s = 0; s < 3; ++s)
        EXPECT_DOUBLE_EQ(zeros.Probability(s), 1.0 / 3.0);

    d.Reset();
    d.AddWeight(1, 2.0);
    state = 1;
    EXPECT_EQ(d.ValueAtTarget(), 1.0);
}

TEST(DiscreteSampleDistribution, DrawsFollowTheWeightsAndAFixedStateWins) {
    QNL_randomSamplingDistributions().Seed(9);
    int state = -1;
    QNL_discreteSampleDistribution d(&state, 3, false);
    d.AddWeight(0, 2.0);
    d.AddWeight(1, 5.0);
    d.AddWeight(2, 3.0);
    std::vector<int> counts(3, 0);
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        int drawn = -1;
        ASSERT_EQ(d.SampleState(drawn), 0);
        ASSERT_EQ(drawn, state);
        ++counts[static_cast<std::size_t>(drawn)];
    }
    const double expected[] = {0.2, 0.5, 0.3};
    for (int s = 0; s < 3; ++s)
        EXPECT_NEAR(counts[static_cast<std::size_t>(s)] / double(n), expected[s], 0.015);

    ASSERT_EQ(d.SetFixedState(2), 0);
    for (int i = 0; i < 10; ++i) {
        d.Sample();
        EXPECT_EQ(state, 2);
    }
    EXPECT_EQ(d.SetFixedState(3), -2);
}

TEST(IntervalSampleDistribution, VoidFixedAndFittedDensities) {
    double value = 0.0, lower = 2.0, upper = 6.0;
    QNL_intervalSampleDistribution d(&value, &lower, &upper, true, 2, 0.001, 10.0);
    EXPECT_EQ(d.Density(3.0), 0.25);
    EXPECT_EQ(d.Density(6.5), 0.0);
    QNL_randomSamplingDistributions().Seed(4);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(d.Sample(), 0);
        ASSERT_GE(value, 2.0);
        ASSERT_LE(value, 6.0);
    }
    // Bounds are read at each use and checked there.
    upper = 1.0;
    EXPECT_EQ(d.Sample(), -2);
    EXPECT_EQ(d.Density(1.5), 0.0);
    upper = 6.0;

    std::unique_ptr<QNL_sampleDistribution> fixed(d.Clone());
    ASSERT_EQ(fixed->SetFixedValue(3.0), 0);
    EXPECT_EQ(value, 3.0);
    EXPECT_EQ(fixed->Density(3.0), 1.0);
    EXPECT_EQ(fixed->Density(3.0001), 0.0);
    EXPECT_EQ(d.Density(3.0), 0.25); // the copy is independent

    // Samples of N(4, 0.25): the lazily fitted mixture gives that density and those draws.
    std::mt19937 rng(8);
    std::normal_distribution<double> normal(4.0, 0.5);
    for (int i = 0; i < 4000; ++i)
        d.AddSample(normal(rng), 1.0);
    EXPECT_FALSE(d.IsVoid());
    EXPECT_NEAR(d.Density(4.0), 1.0 / std::sqrt(2.0 * M_PI * 0.25), 0.05);
    double sum = 0.0;
    for (int i = 0; i < 4000; ++i) {
        double x = 0.0;
        d.SampleValue(x);
        sum += x;
    }
    EXPECT_NEAR(sum / 4000, 4.0, 0.05);
    d.Reset();
    EXPECT_TRUE(d.GetSamples().empty());
}

// An operation of the other kind answers -53, never a number that could pass as a weight.
TEST(SampleDistribution, OperationsOfTheOtherKindAnswerNotSupported) {
    int state = 0;
    double value = 0.0, lower = 0.0, upper = 1.0;
    QNL_discreteSampleDistribution discrete(&state, 2, true);
    QNL_intervalSampleDistribution interval(&value, &lower, &upper, true, 2, 0.001, 10.0);
    QNL_sampleDistribution& d = discrete;
    QNL_sampleDistribution& i = interval;
    EXPECT_EQ(d.SetFixedValue(1.0), -53);
    EXPECT_EQ(d.AddSample(1.0, 1.0), -53);
    EXPECT_EQ(d.Density(0.5), -53.0);
    EXPECT_EQ(d.Clone(), nullptr);
    EXPECT_EQ(i.SetFixedState(1), -53);
    EXPECT_EQ(i.AddWeight(0, 1.0), -53);
    EXPECT_EQ(i.Probability(0), -53.0);
    double x = 0.0;
    int s = 0;
    EXPECT_EQ(d.SampleValue(x), -53);
    EXPECT_EQ(i.SampleState(s), -53);
}

} // namespace
