#include "formats/text_scanner.h"
#include "model/error_handler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Kinds = std::vector<int>;
using Texts = std::vector<std::string>;

QNL_errorHandler& Log() {
    return QNL_errorHandler::Instance();
}

// The words of a text split at blanks.
Texts Words(const std::string& text) {
    Texts words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

struct Scanned {
    Kinds kinds;
    Texts texts;
    int end = 0;      // the code that stopped the scan: -111 at the end of the input
    int lastLine = 0; // the scanner's line when it stopped
};

// Peeks and consumes until the first failure; every peek must make progress.
Scanned ScanText(int mode, const std::string& text) {
    QNL_textScanner scanner(mode);
    Scanned out;
    QNL_textScanner::Token token;
    out.end = scanner.OpenText(text);
    for (int guard = 0; out.end == 0 && guard < 1000000; ++guard, scanner.Consume()) {
        out.end = scanner.PeekToken(token);
        if (out.end != 0) break;
        out.kinds.push_back(token.kind);
        out.texts.push_back(token.text);
    }
    out.lastLine = scanner.GetLineNumber();
    EXPECT_NE(0, out.end) << "the scanner did not stop";
    return out;
}

constexpr int ID = QNL_textScanner::IDENTIFIER;
constexpr int INT = QNL_textScanner::INTEGER;
constexpr int REAL = QNL_textScanner::REAL;
constexpr int POINT = QNL_textScanner::POINT;
constexpr int PUNCT = QNL_textScanner::PUNCTUATOR;
constexpr int STR = QNL_textScanner::STRING;

// The lexical rules of each mode, and the code and message that end a scan.
TEST(TextScanner, EveryModeSplitsTextsAsItsFormatExpects) {
    const std::string punctuators = "_*#%,|!$^&()[]{};:'<>?`~\\@";
    Texts eachPunctuator;
    for (char c : punctuators)
        eachPunctuator.emplace_back(1, c);
    // clang-format off
    const struct {
        int mode;
        std::string text;
        Texts texts;
        Kinds kinds;      // unchecked when empty
        int end;          // the code that stopped the scan
        std::string last; // the last message logged, none when empty
        int lastLine;     // unchecked when 0
    } cases[] = {
        {1, "abc_1 _abc e5 -12 - 12 1.5e-3 12. .5 a==b",
         Words("abc_1 _ abc e5 -12 - 12 1.5e-3 12. .5 a == b"),
         {ID, PUNCT, ID, ID, INT, QNL_textScanner::SIGN, INT, REAL, POINT, REAL, ID,
          QNL_textScanner::DOUBLE_EQUALS, ID}, -111, "", 0},
        {1, "12e 12e+ 7E+05 -.5 +. 0.0E-2 3.25E12 1e55+3 12.x x/y = a.b",
         Words("12e 12e+ 7E+05 -.5 +. 0.0E-2 3.25E12 1e55 +3 12. x x / y = a . b"),
         {INT, INT, INT, REAL, REAL, REAL, REAL, INT, INT, POINT, ID, ID, QNL_textScanner::SLASH,
          ID, QNL_textScanner::EQUALS, ID, POINT, ID}, -111, "", 0},
        {1, punctuators, eachPunctuator, Kinds(punctuators.size(), PUNCT), -111, "", 0},
        // A third equals sign, control and non-ASCII bytes outside strings are unknown: inside
        // an identifier at once, after a number they end the number.
        {1, "a===b", {"a"}, {}, -126, "ERROR: Line 1 : UNKNOWN CHARACTER", 0},
        {1, "ok\nab\x01", {"ok"}, {}, -126, "ERROR: Line 2 : UNKNOWN CHARACTER", 0},
        {1, "12\x7f", {"12"}, {}, -126, "ERROR: Line 1 : UNKNOWN CHARACTER", 0},
        {1, "x\r\ny\r\n\rz ?\x02", {"x", "y", "z", "?"}, {}, -126,
         "ERROR: Line 4 : UNKNOWN CHARACTER", 0},
        // Comments of all three kinds, nested ones nested.
        {1, "a // rest of line\nb /* one\n two */ c /*/ d /#/ e\n"
            "/# x /# y #/ z #/ f /# outer\n /# inner #/\n still #/ g",
         Words("a b c d e f g"), {}, -111, "", 6},
        {1, "a /* never\nclosed *", {"a"}, {}, -128,
         "ERROR: UNEXPECTED END OF FILE. UNMATCHED '/*'", 0},
        {1, "/# one /# two #/\n", {}, {}, -128, "ERROR: UNEXPECTED END OF FILE. UNMATCHED '/#'", 0},
        // Strings: escapes, continuations (a trailing backslash keeps nothing of the next
        // line's leading blanks, the writer's "\ " break exactly the one blank before it), line
        // ends dropped, UTF-8 with Latin-1 fallback.
        {1, R"("a\"b" "\\ \b\n\r\t|" "x\|y" "\q\1" "")",
         {"a\"b", "\\ \b\n\r\t|", "xy", "\\q\\1", ""}, Kinds(5, STR), -111, "", 0},
        {1, "\"abc\\\n      def\" \"word \\ \n   next\" \"x\\ \t  \\|  y\"",
         {"abcdef", "word next", "x  y"}, {}, -111, "", 0},
        {1, "\"ab\ncd\" \"ef\r\ngh\" \"ij\rkl\" z", Words("abcd efgh ijkl z"), {}, -111, "", 4},
        {1, "\"caf\xC3\xA9\" \"caf\xE9\" \"\xE2\x82\xAC \x80\"",
         {"caf\xC3\xA9", "caf\xC3\xA9", "\xE2\x82\xAC \xC2\x80"}, {}, -111, "", 0},
        {1, "\"abc\\ ", {}, {}, -128, "ERROR: UNEXPECTED END OF FILE. UNTERMINATED STRING", 0},
        // Ergo makes identifiers of mixed runs; Ergo, Hugin and MSBN read "+3" after a two-digit
        // exponent as part of the number.
        {2, "12abc 3.5kg /x 12 3.5 / * -4 +.5 a=b \"q\" x%y,z // #",
         Words("12abc 3.5kg /x 12 3.5 / * -4 +.5 a=b \"q\" x%y,z / / #"),
         {ID, ID, ID, INT, REAL, PUNCT, PUNCT, INT, REAL, ID, ID, ID, PUNCT, PUNCT, ID}, -111, "",
          0},
        {2, "1e55+3 1e5+3 1.5e-22-1", Words("1e55+3 1e5 +3 1.5e-22-1"), {INT, INT, INT, REAL},
         -111, "", 0},
        // Hugin takes "%" as a line comment; the own text mode as a punctuator.
        {3, "a % x y z\nb%c\n\"50%\" // d\ne", Words("a b 50% e"), {}, -111, "", 0},
        {1, "a%b", Words("a % b"), {ID, PUNCT, ID}, -111, "", 0},
        // MSBN skips commas and bars.
        {4, "a, b | c,\nd||e ,|, 0.5,0.25", Words("a b c d e 0.5 0.25"), {}, -111, "", 2},
        // Mode 5 reads signs as punctuators.
        {5, "-12 +.5 a-b 1e-3", Words("- 12 + .5 a - b 1e-3"),
         {PUNCT, INT, PUNCT, REAL, ID, PUNCT, ID, INT}, -111, "", 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Log().Flush();
        const Scanned s = ScanText(c.mode, c.text);
        EXPECT_EQ(s.texts, c.texts);
        if (!c.kinds.empty()) {
            EXPECT_EQ(s.kinds, c.kinds);
        }
        EXPECT_EQ(s.end, c.end);
        const int n = Log().GetNumberOfErrors();
        EXPECT_EQ(n == 0 ? "" : Log().GetMessage(n - 1), c.last);
        if (n > 0) {
            EXPECT_EQ(Log().GetCode(n - 1), c.end);
        }
        if (c.lastLine != 0) {
            EXPECT_EQ(s.lastLine, c.lastLine);
        }
    }
}

TEST(TextScanner, TokensAndLinesHaveNoLengthLimit) {
    const std::string longName(100000, 'x');
    std::string longString, quoted, numbers;
    for (int i = 0; i < 3000; ++i)
        longString += "part" + std::to_string(i) + "-";
    for (std::size_t i = 0; i < longString.size(); i += 60)
        quoted += longString.substr(i, 60) + "\\\n";
    // One line of 40,000 numbers: none may be split at a buffer boundary.
    for (int i = 0; i < 40000; ++i)
        numbers += "0.123456789 ";
    const Scanned s = ScanText(1, longName + "\n\"" + quoted + "\"\n" + numbers + "\n");
    ASSERT_EQ(s.texts.size(), 40002u);
    EXPECT_EQ(s.texts[0], longName);
    EXPECT_EQ(s.texts[1], longString);
    for (std::size_t i = 2; i < s.texts.size(); ++i) {
        ASSERT_EQ(s.texts[i], "0.123456789") << i;
        ASSERT_EQ(s.kinds[i], REAL);
    }
}

TEST(TextScanner, TablesNeverStartEmptyTokensOrConsumeTheLineEnd) {
    const int blank = QNL_textScanner::CharacterClass(' ');
    EXPECT_EQ(QNL_textScanner::CharacterClass('\n'), blank);
    EXPECT_EQ(QNL_textScanner::CharacterClass(0), blank);
    for (int mode = 1; mode <= QNL_textScanner::MODE_COUNT; ++mode) {
        const QNL_textScanner::Table& table = QNL_textScanner::TransitionTable(mode);
        for (int state = 0; state < QNL_textScanner::STATE_COUNT; ++state) {
            EXPECT_EQ(table[state][blank],
                      state == 0 ? QNL_textScanner::SKIP : QNL_textScanner::ACCEPT)
                << "mode " << mode << " state " << state;
            for (int c = 0; c < QNL_textScanner::CLASS_COUNT; ++c) {
                if (state == 0) {
                    EXPECT_NE(table[state][c], QNL_textScanner::ACCEPT) << mode << " " << c;
                }
                EXPECT_FALSE(table[state][c] > 15 && table[state][c] < 70);
            }
        }
    }
}

// Random input of the characters that matter must always end in one of the scanner's codes,
// and with one peek per token: every failure is reported, nothing loops.
TEST(TextScanner, RandomInputAlwaysEndsWithACode) {
    const std::string alphabet = "aZe5_/=*#.+-\",;|%\\ \t\n\r{}()\x01\xE9\x08";
    std::mt19937 random(99);
    for (int trial = 0; trial < 3000; ++trial) {
        std::string text;
        const int length = static_cast<int>(random() % 60);
        for (int i = 0; i < length; ++i)
            text += alphabet[random() % alphabet.size()];
        const int mode = 1 + static_cast<int>(random() % 5);
        const Scanned s = ScanText(mode, text);
        ASSERT_TRUE(s.end == -111 || s.end == -126 || s.end == -128 || s.end == -102) << s.end;
        ASSERT_LE(s.texts.size(), text.size());
        // Identifiers and numbers are maximal: scanning them again, one per line, changes
        // nothing.
        std::string again;
        Kinds plain;
        for (std::size_t i = 0; i < s.kinds.size(); ++i)
            if (s.kinds[i] == ID || s.kinds[i] == INT || s.kinds[i] == REAL) {
                again += s.texts[i] + "\n";
                plain.push_back(s.kinds[i]);
            }
        ASSERT_EQ(ScanText(mode, again).kinds, plain) << "mode " << mode << ": " << text;
    }
}

} // namespace
