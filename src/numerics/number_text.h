#pragma once

#include <cfloat>
#include <string>

// The text form of numbers shared by every file format. Conversions never depend on the
// process locale. Three tiny doubles mark undefined, illegal and unavailable values; they
// have text forms of their own so that they survive a write and a read bit for bit.

constexpr double QNL_UNDEFINED_NUMBER = 2 * DBL_MIN;     // "0.0E-2", also read from "UNDEF."
constexpr double QNL_ILLEGAL_NUMBER = 3 * DBL_MIN;       // "0.0E-3", also read from "ILLEGAL"
constexpr double QNL_NOT_AVAILABLE_NUMBER = 4 * DBL_MIN; // "0.0E-4", also read from "NA"

// Reads the whole text as one of the special tokens, or else as a decimal number the way
// strtod does (leading white space, sign, digits, point, exponent, "inf" and "nan"; the
// rest of the text is ignored). The value is stored even when nothing converts (then 0.0).
// Returns 0 when at least one character was converted, -2 otherwise or for null arguments.
// An exponent beyond the range of double gives an infinity or a zero of the right sign.
int ParseNumber(const char* text, double* out);

// The special values become their tokens. Other values are written with eight decimals in
// fixed notation when that text reads back to the same double, else with the shortest text
// that does (possibly with an exponent), so nothing written is lost when read back.
std::string FormatNumber(double value);

std::string IntegerToText(int value);

// Leading white space, an optional sign and decimal digits; stops at the first other
// character and gives 0 without digits. A value beyond the range of int is clamped to it
// and the result is -2; otherwise 0.
int TextToInteger(const char* text, int* out);

// x rounded half up to the given number of decimals (negative digits round to tens,
// hundreds and so on). Values too large to carry a fraction come back unchanged.
double RoundToDigits(double x, int digits);

namespace quarn::detail {
// The shortest text that reads back to exactly this double (NaN gives "nan").
std::string ShortestNumberText(double value);
} // namespace quarn::detail
