#include "formats/text_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quarn::detail::DecodeUtf8OrLatin1;
using quarn::detail::TextLines;

std::vector<std::string> AllLines(TextLines& lines) {
    std::vector<std::string> out;
    std::string line;
    while (lines.ReadLine(line))
        out.push_back(line);
    return out;
}

TEST(TextLines, EveryLineEndBecomesOneNewline) {
    TextLines lines;
    lines.LoadText("a\r\nb\rc\n\r\rd");
    EXPECT_EQ(AllLines(lines), (std::vector<std::string>{"a\n", "b\n", "c\n", "\n", "\n", "d"}));
    EXPECT_EQ(lines.GetLineNumber(), 6);
    std::string line = "left over";
    EXPECT_FALSE(lines.ReadLine(line));
    EXPECT_EQ(line, "");
    EXPECT_EQ(lines.GetLineNumber(), 6);
}

TEST(TextLines, ValidUtf8IsKeptAndOtherBytesAreLatin1) {
    EXPECT_EQ(DecodeUtf8OrLatin1("plain"), "plain");
    EXPECT_EQ(DecodeUtf8OrLatin1("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(DecodeUtf8OrLatin1("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");
    // A truncated sequence, an overlong form, a surrogate and a stray continuation byte are
    // each taken byte by byte.
    EXPECT_EQ(DecodeUtf8OrLatin1("\xE2\x82"), "\xC3\xA2\xC2\x82");
    EXPECT_EQ(DecodeUtf8OrLatin1("\xC0\xAF"), "\xC3\x80\xC2\xAF");
    EXPECT_EQ(DecodeUtf8OrLatin1("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");
    EXPECT_EQ(DecodeUtf8OrLatin1("\x80"), "\xC2\x80");
    EXPECT_EQ(DecodeUtf8OrLatin1("\xFF"), "\xC3\xBF");
}

TEST(TextLines, ByteOrderMarkIsDroppedOnlyAtTheStart) {
    TextLines lines;
    lines.LoadText("\xEF\xBB\xBFx\xEF\xBB\xBF");
    EXPECT_EQ(AllLines(lines), (std::vector<std::string>{"x\xEF\xBB\xBF"}));
}

TEST(TextLines, MissingFileCannotBeLoaded) {
    TextLines lines;
    EXPECT_EQ(lines.Load((::testing::TempDir() + "quarn_no_such_file.txt").c_str()), -103);
    EXPECT_EQ(lines.Load(nullptr), -103);
    EXPECT_TRUE(lines.IsEmpty());
}

} // namespace
