#include "formats/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
