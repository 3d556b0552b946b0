// The text formats' reading and writing are tested through the formats; what they never reach
// is a margin, indentation or continuation other than their own, tried here at random.

#include "format_test_support.h"
#include "formats/text_parser.h"

#include <gtest/gtest.h>

#include <cmath>
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

} // namespace
