#include "equations/function_table.h"

#include "equations/random.h"
#include "expr_test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using quarn_test::Parse;
using quarn_test::Tree;
using quarn_test::Value;

namespace {

QNL_argumentBlock Block(std::initializer_list<double> values) {
    QNL_argumentBlock block;
    for (double v : values)
        block.values[block.count++] = v;
    return block;
}

const QNL_functionRecord& Function(const char* name) {
    const QNL_functionRecord* f = FindFunction(name);
    EXPECT_NE(f, nullptr) << name;
    return *f;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST(FunctionTable, EveryNameIsFoundInAnyLetterCase) {
    for (const QNL_functionRecord& f : QNL_functionTable) {
        std::string upper = f.name;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(std::make_pair(FindFunction(Lower(f.name)), FindFunction(upper)),
                  std::make_pair(&f, &f));
        EXPECT_EQ(f.density != nullptr, f.moments != nullptr) << f.name;
    }
    for (const char* unknown : {"Sinh", "", "Lo"})
        EXPECT_EQ(FindFunction(unknown), nullptr) << unknown;
}

TEST(FunctionTable, DeterministicFunctionsGiveKnownValues) {
    // clang-format off
    const std::pair<const char*, double> cases[] = {
        {"If(0, 1, 2)", 2},           {"If(-0.5, 1, 2)", 1},        {"If(0/0, 1, 2)", 1},
        {"Switch(0, 10, 20)", 10},    {"Switch(2.9, 10, 20)", 20},  {"Switch(7, 10, 20)", 20},
        {"Switch(1.99, 10, 20)", 10}, {"Switch(-3, 10, 20)", 10},   {"Switch(2, 5, 6, 7)", 6},
        {"Log(8, 2)", 3},             {"Sum(1, 2, 3)", 6},          {"Sqr(-3)", 9},
        {"Sqrt(16)", 4},              {"Pow10(3)", 1000},           {"Log10(0.01)", -2},
        {"Ln(1)", 0},                 {"Exp(0)", 1},                {"Sin(0)", 0},
        {"Cos(0)", 1},                {"Tan(0)", 0},                {"Asin(1)", M_PI / 2},
        {"Acos(-1)", M_PI},           {"Atan(1)", M_PI / 4},        {"Pi()", 3.141592653589793},
    };
    // clang-format on
    for (const auto& [text, expected] : cases)
        EXPECT_NEAR(Value(text), expected, 1e-12) << text;
    EXPECT_EQ(Value("Switch(0/0, 10, 20)"), 10);
    EXPECT_EQ(Value("Switch(1e300, 10, 20)"), 20);
}

double Density(const char* name, double x, std::initializer_list<double> args) {
    return Function(name).density(x, Block(args));
}

// Normal reads its second argument as a standard deviation; Binomial gives its probability
// mass; Beta, Exponential, Lognormal, Weibull and Triangular are scaled to 1 at the mode and
// are 0 off the support; Triangular reads (min, mode, max), like its draw.
TEST(FunctionTable, DensitiesOfEveryDistribution) {
    const double k = 1.5, lambda = 2.0;
    const struct {
        const char* name;
        double x;
        std::initializer_list<double> args;
        double expected;
    } cases[] = {
        // clang-format off
        {"Uniform", 2.5, {2, 6}, 0.25}, {"Uniform", 6, {2, 6}, 0.25}, {"Uniform", 7, {2, 6}, 0},
        {"Bernoulli", 0.5, {0.3}, 0}, {"Bernoulli", 1, {0.3}, 0.3}, {"Bernoulli", 0, {0.3}, 0.7},
        {"Normal", 0, {0, 1}, 0.3989422804014327},
        {"Normal", 3, {1, 2}, 0.3989422804014327 / 2 * std::exp(-0.5)},
        {"Binomial", 2, {5, 0.3}, 10 * 0.09 * 0.343}, {"Binomial", 2.5, {5, 0.3}, 0},
        {"Binomial", 0, {3, 0}, 1}, {"Beta", 1.0 / 3.0, {2, 3}, 1}, {"Beta", 1.5, {2, 3}, 0},
        {"Beta", 0.4, {1, 1}, 1}, {"Exponential", 0, {2}, 1}, {"Exponential", -1, {2}, 0},
        {"Lognormal", std::exp(0.5 - 0.25), {0.5, 0.5}, 1}, {"Lognormal", 0, {0.5, 0.5}, 0},
        {"Weibull", lambda * std::pow((k - 1) / k, 1 / k), {lambda, k}, 1},
        {"Weibull", 0, {2, 1}, 1}, {"Triangular", 1, {0, 1, 4}, 1},
        {"Triangular", 0.5, {0, 1, 4}, 0.5}, {"Triangular", 3, {0, 1, 4}, 1.0 / 3.0},
        {"Triangular", 5, {0, 1, 4}, 0}, {"Triangular", 0, {0, 0, 4}, 1},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_NEAR(Density(c.name, c.x, c.args), c.expected, 1e-9) << c.name << " at " << c.x;
    EXPECT_LT(Density("Beta", 0.8, {2, 3}), 1.0);
    EXPECT_TRUE(std::isfinite(Density("Beta", 0.4, {0.5, 0.5})));
    double total = 0;
    for (int n = 0; n <= 5; ++n)
        total += Density("Binomial", n, {5, 0.3});
    EXPECT_NEAR(total, 1.0, 1e-12);
    for (double x : {0.01, 0.5, 3.0}) {
        const double d = Density("Weibull", x, {2, 0.7});
        EXPECT_TRUE(std::isfinite(d) && d > 0) << x;
    }
}

TEST(FunctionTable, SampleMomentsMatchTheMomentsEntries) {
    struct Case {
        const char* name;
        std::initializer_list<double> args;
        double lo, hi; // support of the draws
    };
    // clang-format off
    const Case cases[] = {
        {"Bernoulli", {0.3}, 0, 1},             {"Beta", {2, 3}, 0, 1},
        {"Beta", {1.5, 0.5}, 0, 1},             {"Beta", {0.5, 0.5}, 0, 1},
        {"Beta", {1, 1}, 0, 1},                 {"Binomial", {10, 0.4}, 0, 10},
        {"Exponential", {2}, 0, INFINITY},      {"Lognormal", {0.2, 0.4}, 0, INFINITY},
        {"Normal", {3, 2}, -9, 15},             {"Triangular", {0, 1, 4}, 0, 4},
        {"Uniform", {-1, 3}, -1, 3},            {"Weibull", {2, 1.5}, 0, INFINITY},
        {"Weibull", {1, 0.8}, 0, INFINITY},
    };
    // clang-format on
    const int n = 20000;
    QNL_randomUniform().Seed(12345);
    for (const Case& c : cases) {
        const QNL_functionRecord& f = Function(c.name);
        const QNL_argumentBlock args = Block(c.args);
        double mean = 0, variance = 0;
        f.moments(mean, variance, args);
        const std::string label = std::string(c.name) + " " + std::to_string(args.values[0]);
        double sum = 0, sumSquares = 0;
        for (int i = 0; i < n; ++i) {
            const double x = f.evaluate(args);
            ASSERT_TRUE(std::isfinite(x) && x >= c.lo && x <= c.hi) << label << ": " << x;
            sum += x;
            sumSquares += x * x;
        }
        EXPECT_NEAR(sum / n, mean, 5 * std::sqrt(variance / n)) << label;
        EXPECT_NEAR(sumSquares / n - sum * sum / n / n, variance, 0.1 * variance) << label;
    }
}

TEST(FunctionTable, DrawsRepeatWithTheSeedAndStayFinite) {
    const QNL_functionRecord& exponential = Function("Exponential");
    const QNL_argumentBlock rate = Block({1.0});
    QNL_randomUniform().Seed(99);
    std::vector<double> first;
    for (int i = 0; i < 50; ++i)
        first.push_back(Value("Normal(0, 1) + Uniform(0, 1)"));
    QNL_randomUniform().Seed(99);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(Value("Normal(0, 1) + Uniform(0, 1)"), first[i]);

    // One draw in 32768 is 0.0; its logarithm must not reach the result.
    QNL_randomUniform().Seed(1);
    for (int i = 0; i < 200000; ++i)
        ASSERT_TRUE(std::isfinite(exponential.evaluate(rate)));

    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(Value("Binomial(0, 0.5)"), 0.0);
        EXPECT_EQ(Value("Binomial(3, 0)"), 0.0);
        EXPECT_EQ(Value("Binomial(-2, 1)"), 0.0);
        EXPECT_EQ(Value("Binomial(2.5, 1)"), 3.0); // ceil(n) trials
    }
    const double huge = Value("Binomial(1e12, 0.5)");
    EXPECT_GE(huge, 0.5e12 - 1e7);
    EXPECT_LE(huge, 0.5e12 + 1e7);
}

// The recurrence gives draws from 0 to 1 inclusive, both ends included.
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
