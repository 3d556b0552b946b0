#include "formats/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quarn::detail::AppendUtf8;
using quarn::detail::DecodeCodePoint;
using quarn::detail::DecodeUtf8OrLatin1;

std::vector<char32_t> CodePoints(const std::string& text) {
    std::vector<char32_t> points;
    for (std::size_t i = 0; i < text.size();)
        points.push_back(DecodeCodePoint(text, i));
    return points;
}

std::string Reencoded(const std::string& text) {
    std::string out;
    for (char32_t cp : CodePoints(text))
        AppendUtf8(out, cp);
    return out;
}

TEST(Utf8, CodePointsOfWellFormedSequencesAndLatin1Bytes) {
    EXPECT_EQ(CodePoints("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              (std::vector<char32_t>{U'a', 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(CodePoints("\xE9t"), (std::vector<char32_t>{0xE9, U't'}));
    // A truncated sequence and a surrogate give one code point per byte.
    EXPECT_EQ(CodePoints("\xE2\x82"), (std::vector<char32_t>{0xE2, 0x82}));
    EXPECT_EQ(CodePoints("\xED\xA0\x80"), (std::vector<char32_t>{0xED, 0xA0, 0x80}));
    EXPECT_EQ(CodePoints("\xF4\x8F\xBF\xBF"), (std::vector<char32_t>{0x10FFFF}));
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
        for (char second : seconds) {
            for (const char* tail : {"\x80", "\x80\xBF", "\xBF\x41", "\x41\x80"}) {
                const std::string text = std::string(1, static_cast<char>(a)) + second + tail;
                ASSERT_EQ(Reencoded(text), DecodeUtf8OrLatin1(text)) << a;
            }
        }
    }
}

} // namespace
