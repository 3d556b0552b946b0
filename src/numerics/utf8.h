#pragma once

// Internal: not part of the public interface.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Text of the library is UTF-8, and a byte that does not start a well-formed UTF-8 sequence
// stands for its Latin-1 character, so text from older files written in Latin-1 arrives
// intact. Every reader, writer and the host binding decode through these.
namespace quarn::detail {

// Length of the well-formed UTF-8 sequence at the start of s (s not empty), or 0 when there
// is none: stray continuation bytes, overlong forms, surrogates and code points above
// U+10FFFF are not well formed.
std::size_t Utf8SequenceLength(std::string_view s);

// The code point at text[i] (i inside the text), i moved past it; a byte that starts no
// well-formed sequence is its own Latin-1 code point and moves i by one.
char32_t DecodeCodePoint(std::string_view text, std::size_t& i);

// The UTF-8 form of a code point up to U+10FFFF (surrogates get their three-byte form).
void AppendUtf8(std::string& out, char32_t cp);

// The whole text as UTF-8: valid sequences are kept, every other byte is re-encoded.
std::string DecodeUtf8OrLatin1(std::string_view bytes);

// The first character of a library text that no XML 1.0 document can hold, escaped or not: a
// control character other than tab, line feed and carriage return, U+FFFE or U+FFFF. Bytes
// of an encoded surrogate are no UTF-8 and stand for their Latin-1 characters, so a surrogate
// never reaches a file.
std::optional<char32_t> CharacterXmlCannotHold(std::string_view text);

} // namespace quarn::detail
