#include "numerics/number_text.h"
#include "numerics/utf8.h"

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
#include <tuple>
#include <vector>

namespace {

std::uint64_t Bits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double Parsed(const std::string& text, int* result = nullptr) {
    double value = -1.0;
    const int r = ParseNumber(text.c_str(), &value);
    if (result != nullptr) *result = r;
    return value;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kDenorm = std::numeric_limits<double>::denorm_min();

// The special tokens read only as the whole text; elsewhere the text reads like strtod.
TEST(NumberText, SpecialTokensAreWholeTexts) {
    // clang-format off
    const std::pair<const char*, double> tokens[] = {
        {"0.0E-2", QNL_UNDEFINED_NUMBER}, {"UNDEF.", QNL_UNDEFINED_NUMBER},
        {"0.0E-3", QNL_ILLEGAL_NUMBER}, {"ILLEGAL", QNL_ILLEGAL_NUMBER},
        {"0.0E-4", QNL_NOT_AVAILABLE_NUMBER}, {"NA", QNL_NOT_AVAILABLE_NUMBER},
        {"0.0E-2x", 0.0}, {" 0.0E-4", 0.0}};
    // clang-format on
    for (const auto& [text, value] : tokens)
        EXPECT_EQ(Bits(value), Bits(Parsed(text))) << text;
    for (const char* refused : {"NA ", "undef.", "abc", "ILLEGALx"}) {
        int result = 0;
        Parsed(refused, &result);
        EXPECT_EQ(-2, result) << refused;
    }
    EXPECT_EQ(ParseNumber(nullptr, nullptr), -2);
}

// The C library's strtod (the process stays in the "C" locale) is the reference for every
// decimal text; hexadecimal input is the one thing it reads that the formats never do.
TEST(NumberText, ParsingAgreesWithStrtodOnDecimalTexts) {
    // clang-format off
    const char* const texts[] = {
        "0", "-0", "12.5abc", "  \t\n7", "+3", "-.5", ".5", "5.", "1e", "1e+", "1E-3x", ".", "-",
        "+-1", "--1", "-+1", "", "abc", "1e400", "-1e400", "1e-400", "-1e-400",
        "0.000000000000000000000000000000001e-300", "123456789012345678901234567890e-330",
        "0.0001e312", "1000e305", "4.9e-324", "2.2250738585072014e-308",
        "1.7976931348623157e308", "1.7976931348623159e308", "inf", "-Infinity", "nan", "0.1",
        "0.30000000000000004", "9007199254740993", "3.14159265358979323846264338327950288",
        "1e-9", "  -2.5e+2;", "0.0E-2 ", "0.0E-5"};
    // clang-format on
    for (const std::string text : texts) {
        char* end = nullptr;
        const double expected = std::strtod(text.c_str(), &end);
        int result = -1;
        const double value = Parsed(text, &result);
        EXPECT_EQ(result, end == text.c_str() ? -2 : 0) << text;
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(value)) << text;
        } else {
            EXPECT_EQ(Bits(value), Bits(expected)) << text;
        }
    }
}

// Specials and values "%.8f" cannot hold; the random test below covers the rest.
TEST(NumberText, EightDecimalsWhereExactElseTheShortestExactText) {
    // clang-format off
    const std::pair<double, const char*> cases[] = {
        {-0.0, "-0.00000000"}, {1e20, "100000000000000000000.00000000"}, {1e-9, "1e-09"},
        {1.0 / 3.0, "0.3333333333333333"}, {kDenorm, "5e-324"}, {QNL_UNDEFINED_NUMBER, "0.0E-2"},
        {QNL_ILLEGAL_NUMBER, "0.0E-3"}, {QNL_NOT_AVAILABLE_NUMBER, "0.0E-4"},
        {std::nan(""), "nan"}, {-kInf, "-inf"}};
    // clang-format on
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FormatNumber(value), text) << text;
}

TEST(NumberText, EveryDoubleSurvivesFormatThenParse) {
    // clang-format off
    std::vector<double> values = {0.0, -0.0, DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, 5 * DBL_MIN,
                                  kDenorm, -kDenorm, std::nextafter(2 * DBL_MIN, 1.0),
                                  std::nextafter(2 * DBL_MIN, 0.0), 9007199254740993.0,
                                  std::ldexp(1.0, 1023), QNL_UNDEFINED_NUMBER, QNL_ILLEGAL_NUMBER,
                                  QNL_NOT_AVAILABLE_NUMBER, kInf, -kInf};
    // clang-format on
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> probability(0.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t bits = random();
        double x = 0;
        std::memcpy(&x, &bits, sizeof x);
        if (std::isfinite(x)) values.push_back(x);
        values.push_back(probability(random));
        values.push_back(std::round(probability(random) * 1e8) / 1e8);
    }
    for (double x : values) {
        const std::string text = FormatNumber(x);
        int result = -1;
        ASSERT_EQ(Bits(Parsed(text, &result)), Bits(x)) << text;
        ASSERT_EQ(result, 0) << text;
        // Where eight decimals are exact they are what is written.
        char fixed[400];
        std::snprintf(fixed, sizeof fixed, "%.8f", x);
        if (Bits(std::strtod(fixed, nullptr)) == Bits(x) && x != QNL_UNDEFINED_NUMBER &&
            x != QNL_ILLEGAL_NUMBER && x != QNL_NOT_AVAILABLE_NUMBER) {
            ASSERT_EQ(text, fixed);
        }
    }
}

TEST(NumberText, IntegersConvertLikeTheDecimalConversionAndClampBeyondInt) {
    // clang-format off
    const std::tuple<const char*, int, int> cases[] = {
        {"  -42x", -42, 0}, {"+7", 7, 0}, {"12e3", 12, 0}, {"abc", 0, 0}, {"-", 0, 0},
        {"2147483647", INT_MAX, 0}, {"-2147483648", INT_MIN, 0}, {"00000000000000000000012", 12, 0},
        {"2147483648", INT_MAX, -2}, {"-99999999999999999999", INT_MIN, -2}};
    // clang-format on
    for (const auto& [text, expected, code] : cases) {
        int value = -1;
        EXPECT_EQ(std::make_pair(code, expected),
                  std::make_pair(TextToInteger(text, &value), value))
            << text;
    }
    std::mt19937 random(7);
    for (int i = 0; i < 10000; ++i) {
        const int x = i == 0 ? INT_MIN : static_cast<int>(random());
        int value = 0;
        ASSERT_EQ(TextToInteger(IntegerToText(x).c_str(), &value), 0);
        ASSERT_EQ(value, x);
    }
}

using quarn::detail::AppendUtf8;
using quarn::detail::DecodeCodePoint;
using quarn::detail::DecodeUtf8OrLatin1;

std::string Reencoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();)
        AppendUtf8(out, DecodeCodePoint(text, i));
    return out;
}

TEST(Utf8, ValidSequencesAreKeptAndEveryOtherByteIsLatin1) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "plain"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},
        // A truncated sequence, an overlong form, a surrogate and stray bytes go byte by byte.
        {"\xE2\x82", "\xC3\xA2\xC2\x82"},
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
        {"\x80", "\xC2\x80"},
        {"\xFF", "\xC3\xBF"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(DecodeUtf8OrLatin1(bytes), text) << bytes;
}

// The host binding decodes code point by code point, the files decode whole texts: both must
// take every byte sequence the same way. Every pair of bytes, and every lead byte of a longer
// sequence with each kind of second byte, is compared.
TEST(Utf8, DecodingByCodePointAgreesWithDecodingWholeTexts) {
    const char seconds[] = {'\x41', '\x80', '\x8F', '\x90', '\x9F', '\xA0', '\xBF', '\xC0'};
    for (int a = 1; a < 256; ++a) {
        for (int b = 1; b < 256; ++b) {
            const std::string pair{static_cast<char>(a), static_cast<char>(b)};
            ASSERT_EQ(Reencoded(pair), DecodeUtf8OrLatin1(pair)) << a << " " << b;
        }
        for (char second : seconds)
            for (const char* tail : {"\x80", "\x80\xBF", "\xBF\x41", "\x41\x80"}) {
                const std::string text = std::string(1, static_cast<char>(a)) + second + tail;
                ASSERT_EQ(Reencoded(text), DecodeUtf8OrLatin1(text)) << a;
            }
    }
}

} // namespace
