// The text formats' reading and writing are tested through the formats; what they never reach
// is a margin, indentation or continuation other than their own: tried here at random, and
// the rules of line breaking and the limits of indentation.

#include "format_test_support.h"
#include "formats/text_file.h"
#include "formats/text_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

namespace {

using format_test::TempFolder;

// The base alone, with a continuation for quoted text when asked.
class TestFormat : public QNL_textParser {
public:
    TestFormat() : QNL_textParser(nullptr) {}
    int Read(const char*) override { return -2; }
    int Write(const char*) override { return -2; }
    int BeginQuotedText() override { return continuation ? BeginContinuation() : 0; }
    int EndQuotedText() override { return continuation ? EndContinuation() : 0; }
    int Open(const std::string& text) { return StartReadingText(text, 1); }
    int Finish(int result) { return FinishReading(result); }
    bool continuation = false;
};

template <typename List> std::string Joined(const List& list) {
    std::string out;
    for (int i = 0; i < list.GetCount(); ++i)
        out += (i > 0 ? "," : "") + format_test::Text(list.GetString(i));
    return out;
}
template <typename Numbers> std::string JoinedNumbers(const Numbers& list) {
    std::string out;
    for (int i = 0; i < list.GetCount(); ++i)
        out += (i > 0 ? "," : "") + FormatNumber(static_cast<double>(list[i]));
    return out;
}

// Random texts, string lists and numbers written at random margins, indentations and columns read
// back through the scanner as the same tokens.
TEST(TextParser, WrittenTextReadsBackAsTheSameTokens) {
    std::mt19937 random(20240611);
    const std::string alphabet = "abcdefgh   \"\\\t\n\r\b\x01\xC3-_.,;{}";
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto randomText = [&]() {
        std::string s;
        for (int i = pick(160); i > 0; --i) {
            const char c = alphabet[static_cast<std::size_t>(pick(int(alphabet.size())))];
            s += c == '\xC3' ? std::string("\xC3\xA9") : std::string(1, c);
        }
        return s;
    };
    const double specials[] = {QNL_UNDEFINED_NUMBER, QNL_ILLEGAL_NUMBER, -0.125, 1e-9, 1e300, 0.1};
    TempFolder folder("text_parser");
    const std::string path = folder.File("written.txt");
    for (int round = 0; round < 300 && !::testing::Test::HasFailure(); ++round) {
        TestFormat f;
        f.continuation = round % 3 != 0;
        ASSERT_EQ(f.SetRightMargin(10 + pick(80)), 0);
        for (int i = pick(6); i > 0; --i)
            f.Indent();
        const std::string single = randomText();
        QNL_stringArray strings;
        QNL_doubleArray reals;
        for (int i = pick(6); i > 0; --i)
            strings.Add(randomText().c_str());
        for (int i = pick(15); i > 0; --i)
            reals.Add(pick(3) == 0 ? specials[pick(6)]
                                   : std::ldexp(static_cast<double>(random()), -pick(40)));
        ASSERT_EQ(f.OpenFile(path.c_str(), QNL_textFile::WRITE_MODE), 0);
        f.WriteRaw(std::string(static_cast<std::size_t>(pick(60) + 1), 'p').c_str());
        f.WriteText(" ");
        f.WriteStringProperty("S", single.c_str());
        f.WriteStringListProperty("L", strings, false);
        f.WriteRealListProperty("R", reals, false);
        ASSERT_EQ(f.CloseFile(), 0);
        const std::string text = TempFolder::Get(path);
        SCOPED_TRACE(text);
        QNL_errorHandler::Instance().Flush();
        ASSERT_EQ(f.Open(text), 0);
        std::string raw, read;
        QNL_stringArray strings2;
        QNL_doubleArray reals2;
        EXPECT_EQ(f.ReadIdentifier(raw), 0);
        EXPECT_EQ(f.ReadProperty("S", QNL_textParser::STRING), 0);
        read = f.GetTokenText();
        auto next = [&f](const char* name) {
            return f.Expect(QNL_textParser::PUNCTUATOR, ";") == 0 &&
                   f.Expect(QNL_textParser::IDENTIFIER, name) == 0 &&
                   f.Expect(QNL_textParser::PUNCTUATOR, "=") == 0;
        };
        EXPECT_TRUE(next("L") && f.ReadStringList(strings2) == 0 && next("R") &&
                    f.ReadRealList(reals2) == 0 && f.Expect(QNL_textParser::PUNCTUATOR, ";") == 0);
        EXPECT_EQ(read, single);
        EXPECT_EQ(Joined(strings2) + "|" + JoinedNumbers(reals2),
                  Joined(strings) + "|" + JoinedNumbers(reals));
        EXPECT_EQ(f.Finish(0), 0);
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
    }
}

// Writes with the given margin through the calls in body and returns the file's text.
using Body = std::function<void(QNL_textFile&)>;

TEST(TextFile, LinesBreakAfterTheLastBlankBeforeTheMargin) {
    TempFolder folder("text_file");
    const std::string a15(15, 'x'), a18(18, 'a'), a19(19, 'a'), a20(20, 'x'), a30(30, 'a');
    const std::string longRaw = std::string(40, 'r') + " " + std::string(40, 's');
    const struct {
        int margin;
        Body body;
        std::string expected;
    } cases[] = {
        // clang-format off
        {20, [](QNL_textFile& f) { f.Write("aaaa bbbb cccc dddd eeee ffff"); },
         "aaaa bbbb cccc dddd \neeee ffff"},
        // The continuation text ends every broken line, and the indentation starts the next.
        {20, [](QNL_textFile& f) { f.SetContinuationText("\\ "), f.Indent(), f.Indent(),
         f.WriteLine("aaaa bbbb cccc dddd eeee"); },
         "  aaaa bbbb cccc \\ \n  dddd eeee"},
        // A break never leaves a blank at the start of the next line: the scanner's
        // continuation would swallow it.
        {20, [&](QNL_textFile& f) { f.Write(a19 + "  bbbb"); }, a19 + "  \nbbbb"},
        {20, [&](QNL_textFile& f) { f.Write(a18 + "  bbbb"); }, a18 + "  \nbbbb"},
        // Without a blank, behind other text: the whole piece goes to the next line.
        {20, [&](QNL_textFile& f) { f.Write(a15), f.Write("0123456789"); }, a15 + "\n0123456789"},
        // Alone on its line: written unbroken up to its next blank.
        {20, [&](QNL_textFile& f) { f.Write(a30 + " bbb ccc"); }, a30 + " \nbbb ccc"},
        // Only blanks of the current call are break points.
        {20, [](QNL_textFile& f) { f.Write("aaaa bbbb "), f.Write("cccccccccccc"); },
         "aaaa bbbb \ncccccccccccc"},
        // A piece that starts with a double quote may close a string: it is never moved alone.
        {20, [&](QNL_textFile& f) { f.Write(a20), f.Write("\""); }, a20 + "\""},
        // Indentation follows newlines; raw text is never broken.
        {70, [](QNL_textFile& f) { f.Indent(), f.WriteLine("net = \n"), f.Indent(),
         f.WriteLine("{\nA;\nB;\n"), f.Write("C"); },
         " net = \n  {\n  A;\n  B;\nC"},
        {20, [&](QNL_textFile& f) { f.Indent(), f.WriteRaw(longRaw + "\nnext\n"), f.Write("t"); },
         longRaw + "\n next\nt"},
        // clang-format on
    };
    for (const auto& c : cases) {
        QNL_textFile file;
        const std::string path = folder.File("out.txt");
        ASSERT_EQ(file.SetRightMargin(c.margin), 0);
        ASSERT_EQ(file.Open(path.c_str(), QNL_textFile::WRITE_MODE), 0);
        c.body(file);
        ASSERT_EQ(file.Close(), 0);
        EXPECT_EQ(TempFolder::Get(path), c.expected);
    }
}

TEST(TextFile, IndentationAndMarginsStayWithinTheirLimits) {
    QNL_textFile file;
    EXPECT_EQ(file.Unindent(), -2);
    EXPECT_EQ(file.SetRightMargin(5000), 0);
    EXPECT_EQ(file.GetRightMargin(), 1019);
    EXPECT_EQ(file.SetIndentWidth(100), 0);
    int indented = 0;
    while (indented < 20 && file.Indent() == 0)
        ++indented;
    EXPECT_EQ(indented, 11);                 // 100 x 11 is already past 1019
    EXPECT_EQ(file.SetRightMargin(100), -2); // no column left beside a step of 100
    EXPECT_EQ(file.SetIndentWidth(-1) + file.SetIndentWidth(1019) + file.SetRightMargin(-1), -6);
    EXPECT_EQ(file.SetIndentWidth(0), 0);
    // A width of 0 cannot let the level grow without end.
    int refusedAt = -1;
    for (int i = 0; i < 5000 && refusedAt < 0; ++i)
        if (file.Indent() != 0) refusedAt = file.GetIndentLevel();
    EXPECT_EQ(refusedAt, 1019);
}

} // namespace
