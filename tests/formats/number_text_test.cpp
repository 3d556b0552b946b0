#include "formats/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::uint64_t Bits(double x) {
    std::uint64_t b = 0;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

double Parsed(const std::string& text, int* result = nullptr) {
    double value = -1.0;
    int r = ParseNumber(text.c_str(), &value);
    if (result != nullptr) *result = r;
    return value;
}

std::string PrintfFixed(double x) {
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.8f", x);
    return buffer;
}

TEST(NumberText, SpecialValuesAreWrittenAsTheirTokensAndReadBackBitForBit) {
    EXPECT_EQ(FormatNumber(2 * DBL_MIN), "0.0E-2");
    EXPECT_EQ(FormatNumber(3 * DBL_MIN), "0.0E-3");
    EXPECT_EQ(FormatNumber(4 * DBL_MIN), "0.0E-4");
    for (double special : {QNL_UNDEFINED_NUMBER, QNL_ILLEGAL_NUMBER, QNL_NOT_AVAILABLE_NUMBER}) {
        int result = -1;
        EXPECT_EQ(Bits(Parsed(FormatNumber(special), &result)), Bits(special));
        EXPECT_EQ(result, 0);
    }
    EXPECT_EQ(Bits(Parsed("UNDEF.")), Bits(2 * DBL_MIN));
    EXPECT_EQ(Bits(Parsed("ILLEGAL")), Bits(3 * DBL_MIN));
    EXPECT_EQ(Bits(Parsed("NA")), Bits(4 * DBL_MIN));
    EXPECT_EQ(2 * DBL_MIN, 4.450147717014403e-308);
    EXPECT_EQ(4 * DBL_MIN, 8.900295434028806e-308);
}

TEST(NumberText, SpecialTokensMatchOnlyAsTheWholeText) {
    int result = -1;
    EXPECT_EQ(Bits(Parsed("0.0E-2x", &result)), Bits(0.0));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Parsed(" 0.0E-4", &result), 0.0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Parsed("NA ", &result), 0.0);
    EXPECT_EQ(result, -2);
    EXPECT_EQ(Parsed("undef.", &result), 0.0);
    EXPECT_EQ(result, -2);
    EXPECT_EQ(Parsed("abc", &result), 0.0);
    EXPECT_EQ(result, -2);
    EXPECT_EQ(ParseNumber(nullptr, nullptr), -2);
}

// The C library's strtod (the process stays in the "C" locale) is the reference for every
// decimal text; hexadecimal input is the one thing it reads that the formats never do.
TEST(NumberText, ParsingAgreesWithStrtodOnDecimalTexts) {
    const std::vector<std::string> texts = {"0",
                                            "-0",
                                            "12.5abc",
                                            "  \t\n7",
                                            "+3",
                                            "-.5",
                                            ".5",
                                            "5.",
                                            "1e",
                                            "1e+",
                                            "1E-3x",
                                            ".",
                                            "-",
                                            "+-1",
                                            "--1",
                                            "-+1",
                                            "",
                                            "abc",
                                            "1e400",
                                            "-1e400",
                                            "1e-400",
                                            "-1e-400",
                                            "0.000000000000000000000000000000001e-300",
                                            "123456789012345678901234567890e-330",
                                            "0.0001e312",
                                            "1000e305",
                                            "4.9e-324",
                                            "2.2250738585072014e-308",
                                            "1.7976931348623157e308",
                                            "1.7976931348623159e308",
                                            "inf",
                                            "-Infinity",
                                            "nan",
                                            "0.1",
                                            "0.30000000000000004",
                                            "9007199254740993",
                                            "3.14159265358979323846264338327950288",
                                            "1e-9",
                                            "  -2.5e+2;",
                                            "0.0E-2 ",
                                            "0.0E-5"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        char* end = nullptr;
        double expected = std::strtod(text.c_str(), &end);
        int result = -1;
        double value = Parsed(text, &result);
        EXPECT_EQ(result, end == text.c_str() ? -2 : 0);
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(value));
        } else {
            EXPECT_EQ(Bits(value), Bits(expected));
        }
    }
}

TEST(NumberText, EightDecimalsAreKeptWhenTheyReadBackExactly) {
    EXPECT_EQ(FormatNumber(0.5), "0.50000000");
    EXPECT_EQ(FormatNumber(-1.0), "-1.00000000");
    EXPECT_EQ(FormatNumber(1.0), "1.00000000");
    EXPECT_EQ(FormatNumber(0.1), "0.10000000");
    EXPECT_EQ(FormatNumber(0.0), "0.00000000");
    EXPECT_EQ(FormatNumber(-0.0), "-0.00000000");
    EXPECT_EQ(FormatNumber(123456.25), "123456.25000000");
    EXPECT_EQ(FormatNumber(1e20), "100000000000000000000.00000000");
}

TEST(NumberText, ValuesThatEightDecimalsWouldLoseGetTheShortestExactText) {
    EXPECT_EQ(FormatNumber(1e-9), "1e-09");
    EXPECT_EQ(FormatNumber(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(FormatNumber(0.123456789), "0.123456789");
    EXPECT_EQ(FormatNumber(std::numeric_limits<double>::denorm_min()), "5e-324");
}

TEST(NumberText, EveryDoubleSurvivesFormatThenParse) {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  DBL_MAX,
                                  -DBL_MAX,
                                  DBL_MIN,
                                  -DBL_MIN,
                                  5 * DBL_MIN,
                                  std::numeric_limits<double>::denorm_min(),
                                  -std::numeric_limits<double>::denorm_min(),
                                  std::nextafter(2 * DBL_MIN, 1.0),
                                  std::nextafter(2 * DBL_MIN, 0.0),
                                  1e-9,
                                  0.1,
                                  1.0 / 3.0,
                                  9007199254740993.0,
                                  std::ldexp(1.0, 1023),
                                  QNL_UNDEFINED_NUMBER,
                                  QNL_ILLEGAL_NUMBER,
                                  QNL_NOT_AVAILABLE_NUMBER,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity()};
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> probability(0.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = random();
        double x = 0;
        std::memcpy(&x, &bits, sizeof x);
        if (std::isfinite(x)) values.push_back(x);
        values.push_back(probability(random));
        values.push_back(std::round(probability(random) * 1e8) / 1e8);
    }
    for (double x : values) {
        std::string text = FormatNumber(x);
        int result = -1;
        double back = Parsed(text, &result);
        ASSERT_EQ(result, 0) << text;
        ASSERT_EQ(Bits(back), Bits(x)) << text;
        // Where eight decimals are exact they are what is written.
        std::string fixed = PrintfFixed(x);
        if (Bits(std::strtod(fixed.c_str(), nullptr)) == Bits(x) && x != QNL_UNDEFINED_NUMBER &&
            x != QNL_ILLEGAL_NUMBER && x != QNL_NOT_AVAILABLE_NUMBER) {
            ASSERT_EQ(text, fixed);
        }
    }
}

TEST(NumberText, NotANumberIsWrittenAndReadAsNan) {
    std::string text = FormatNumber(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(text, "nan");
    EXPECT_TRUE(std::isnan(Parsed(text)));
    EXPECT_EQ(FormatNumber(-std::numeric_limits<double>::infinity()), "-inf");
}

TEST(NumberText, IntegersConvertLikeTheStandardDecimalConversion) {
    int value = -1;
    EXPECT_EQ(TextToInteger("  -42x", &value), 0);
    EXPECT_EQ(value, -42);
    EXPECT_EQ(TextToInteger("+7", &value), 0);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(TextToInteger("12e3", &value), 0);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(TextToInteger("abc", &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(TextToInteger("-", &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(TextToInteger("2147483647", &value), 0);
    EXPECT_EQ(value, INT_MAX);
    EXPECT_EQ(TextToInteger("-2147483648", &value), 0);
    EXPECT_EQ(value, INT_MIN);
    EXPECT_EQ(IntegerToText(INT_MIN), "-2147483648");
    EXPECT_EQ(IntegerToText(0), "0");

    std::mt19937 random(7);
    for (int i = 0; i < 10000; ++i) {
        int x = static_cast<int>(random());
        ASSERT_EQ(TextToInteger(IntegerToText(x).c_str(), &value), 0);
        ASSERT_EQ(value, x);
    }
}

TEST(NumberText, IntegersBeyondIntAreClampedAndReported) {
    int value = 0;
    EXPECT_EQ(TextToInteger("2147483648", &value), -2);
    EXPECT_EQ(value, INT_MAX);
    EXPECT_EQ(TextToInteger("-99999999999999999999", &value), -2);
    EXPECT_EQ(value, INT_MIN);
    EXPECT_EQ(TextToInteger("00000000000000000000012", &value), 0);
    EXPECT_EQ(value, 12);
}

TEST(NumberText, RoundToDigitsRoundsHalfUp) {
    EXPECT_NEAR(RoundToDigits(2.345, 2), 2.35, 1e-12);
    EXPECT_DOUBLE_EQ(RoundToDigits(0.125, 2), 0.13);
    EXPECT_DOUBLE_EQ(RoundToDigits(2.5, 0), 3.0);
    EXPECT_DOUBLE_EQ(RoundToDigits(-1.4, 0), -1.0);
    EXPECT_DOUBLE_EQ(RoundToDigits(-1.6, 0), -2.0);
    EXPECT_DOUBLE_EQ(RoundToDigits(1234.5, -2), 1200.0);
    EXPECT_DOUBLE_EQ(RoundToDigits(0.3333333, 4), 0.3333);
}

TEST(NumberText, RoundToDigitsKeepsValuesBeyondThirtyTwoBits) {
    EXPECT_DOUBLE_EQ(RoundToDigits(3e9 + 0.4, 0), 3e9);
    EXPECT_DOUBLE_EQ(RoundToDigits(-3e9 - 0.6, 0), -3e9 - 1);
    EXPECT_DOUBLE_EQ(RoundToDigits(0.75, 12), 0.75);
    EXPECT_EQ(RoundToDigits(1e300, 5), 1e300);
    EXPECT_EQ(RoundToDigits(0.5, 400), 0.5);
    EXPECT_EQ(RoundToDigits(12.0, -400), 12.0);
}

} // namespace
