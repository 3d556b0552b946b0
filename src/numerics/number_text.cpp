#include "numerics/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool SameBits(double a, double b) {
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// from_chars leaves the value alone when the text is out of range, where strtod gives an
// infinity for overflow and zero for underflow. The decimal magnitude of the matched text
// tells the two apart: out of range means it is far above or far below zero.
double OutOfRangeValue(const char* first, const char* last, bool negative) {
    std::int64_t significantIntegerDigits = 0;
    std::int64_t zerosAfterPoint = 0;
    bool inFraction = false;
    bool seenNonZero = false;
    const char* p = first;
    for (; p < last && (IsDigit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            inFraction = true;
        } else if (!inFraction) {
            if (*p != '0' || seenNonZero) ++significantIntegerDigits;
            if (*p != '0') seenNonZero = true;
        } else if (!seenNonZero) {
            if (*p == '0') {
                ++zerosAfterPoint;
            } else {
                seenNonZero = true;
            }
        }
    }
    std::int64_t exponent = 0;
    if (p < last && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negativeExponent = false;
        if (p < last && (*p == '+' || *p == '-')) negativeExponent = *p++ == '-';
        for (; p < last && IsDigit(*p); ++p) {
            if (exponent < 1000000000) exponent = exponent * 10 + (*p - '0');
        }
        if (negativeExponent) exponent = -exponent;
    }
    std::int64_t magnitude =
        (significantIntegerDigits > 0 ? significantIntegerDigits : -zerosAfterPoint) + exponent;
    double value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

std::string FixedEightDecimals(double value) {
    // The longest fixed rendering of a double is 309 integer digits, sign, point and eight
    // decimals.
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 8);
    return std::string(buffer, result.ptr);
}

} // namespace

int ParseNumber(const char* text, double* out) {
    if (out == nullptr) return -2;
    *out = 0.0;
    if (text == nullptr) return -2;
    if (std::strcmp(text, "0.0E-2") == 0 || std::strcmp(text, "UNDEF.") == 0) {
        *out = QNL_UNDEFINED_NUMBER;
        return 0;
    }
    if (std::strcmp(text, "0.0E-3") == 0 || std::strcmp(text, "ILLEGAL") == 0) {
        *out = QNL_ILLEGAL_NUMBER;
        return 0;
    }
    if (std::strcmp(text, "0.0E-4") == 0 || std::strcmp(text, "NA") == 0) {
        *out = QNL_NOT_AVAILABLE_NUMBER;
        return 0;
    }
    const char* p = text;
    while (IsCSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // from_chars takes a minus of its own, which strtod would not accept after a sign.
    if (*p == '+' || *p == '-') return -2;
    const char* last = p + std::strlen(p);
    double value = 0.0;
    auto result = std::from_chars(p, last, value, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument || result.ptr == p) return -2;
    if (result.ec == std::errc::result_out_of_range) {
        *out = OutOfRangeValue(p, result.ptr, negative);
        return 0;
    }
    *out = negative ? -value : value;
    return 0;
}

namespace quarn::detail {

std::string ShortestNumberText(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace quarn::detail

std::string FormatNumber(double value) {
    if (SameBits(value, QNL_UNDEFINED_NUMBER)) return "0.0E-2";
    if (SameBits(value, QNL_ILLEGAL_NUMBER)) return "0.0E-3";
    if (SameBits(value, QNL_NOT_AVAILABLE_NUMBER)) return "0.0E-4";
    std::string fixed = FixedEightDecimals(value);
    double readBack = 0.0;
    if (ParseNumber(fixed.c_str(), &readBack) == 0 && SameBits(readBack, value)) return fixed;
    return quarn::detail::ShortestNumberText(value);
}

std::string IntegerToText(int value) {
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

int TextToInteger(const char* text, int* out) {
    if (out == nullptr) return -2;
    *out = 0;
    if (text == nullptr) return 0;
    const char* p = text;
    while (IsCSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Accumulated as a negative number so that INT_MIN itself needs no special case.
    constexpr int low = std::numeric_limits<int>::min();
    int value = 0;
    bool overflow = false;
    for (; IsDigit(*p); ++p) {
        int digit = *p - '0';
        if (value < (low + digit) / 10) {
            overflow = true;
            value = low;
        } else if (!overflow) {
            value = value * 10 - digit;
        }
    }
    if (!negative) {
        if (value == low) {
            overflow = true;
            value = std::numeric_limits<int>::max();
        } else {
            value = -value;
        }
    }
    *out = value;
    return overflow ? -2 : 0;
}

double RoundToDigits(double x, int digits) {
    // The power by repeated squaring, so that results match the integer powers the stored
    // files were written with.
    double base = 10.0;
    double p = 1.0;
    unsigned n = digits < 0 ? 0u - static_cast<unsigned>(digits) : static_cast<unsigned>(digits);
    while (n != 0) {
        if (n & 1u) p *= base;
        base *= base;
        n >>= 1;
    }
    if (digits < 0) p = 1.0 / p;
    double scaled = x * p;
    // Beyond 2^52 every double is a whole number: nothing is left to round.
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 4503599627370496.0 || p == 0.0) return x;
    return std::floor(scaled + 0.5) / p;
}
