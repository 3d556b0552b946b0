#include "formats/text_scanner.h"
#include "model/error_handler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Kinds = std::vector<int>;
using Texts = std::vector<std::string>;

struct Scanned {
    Kinds kinds;
    Texts texts;
    int end = 0;      // the code that stopped the scan: -111 at the end of the input
    int lastLine = 0; // the scanner's line when it stopped
};

// Peeks and consumes until the first failure; every peek must make progress.
Scanned ScanAll(QNL_textScanner& scanner) {
    Scanned out;
    QNL_textScanner::Token token;
    for (int guard = 0; guard < 1000000; ++guard) {
        int result = scanner.PeekToken(token);
        if (result != 0) {
            out.end = result;
            out.lastLine = scanner.GetLineNumber();
            return out;
        }
        out.kinds.push_back(token.kind);
        out.texts.push_back(token.text);
        scanner.Consume();
    }
    ADD_FAILURE() << "the scanner did not stop";
    return out;
}

Scanned ScanText(int mode, const std::string& text) {
    QNL_textScanner scanner(mode);
    int opened = scanner.OpenText(text);
    if (opened != 0) {
        Scanned out;
        out.end = opened;
        return out;
    }
    return ScanAll(scanner);
}

class TextScanner : public ::testing::Test {
protected:
    void SetUp() override { log().Flush(); }
    void TearDown() override { log().Flush(); }
    static QNL_errorHandler& log() { return QNL_errorHandler::Instance(); }
    static std::string LastMessage() {
        int n = log().GetNumberOfErrors();
        return n == 0 ? std::string() : log().GetMessage(n - 1);
    }
    static std::string WriteFile(const std::string& name, const std::string& bytes) {
        std::string path = ::testing::TempDir() + "quarn_scanner_" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

// Kinds, as the scanner numbers them.
constexpr int ID = QNL_textScanner::IDENTIFIER;
constexpr int INT = QNL_textScanner::INTEGER;
constexpr int REAL = QNL_textScanner::REAL;
constexpr int SLASH = QNL_textScanner::SLASH;
constexpr int EQ = QNL_textScanner::EQUALS;
constexpr int EQ2 = QNL_textScanner::DOUBLE_EQUALS;
constexpr int POINT = QNL_textScanner::POINT;
constexpr int PUNCT = QNL_textScanner::PUNCTUATOR;
constexpr int SIGN = QNL_textScanner::SIGN;
constexpr int STR = QNL_textScanner::STRING;

TEST_F(TextScanner, OwnTextModeSplitsIdentifiersNumbersAndOperators) {
    Scanned s = ScanText(1, "abc_1 _abc e5 -12 - 12 1.5e-3 12. .5 a==b");
    EXPECT_EQ(s.kinds, (Kinds{ID, PUNCT, ID, ID, INT, SIGN, INT, REAL, POINT, REAL, ID, EQ2, ID}));
    EXPECT_EQ(s.texts, (Texts{"abc_1", "_", "abc", "e5", "-12", "-", "12", "1.5e-3", "12.", ".5",
                              "a", "==", "b"}));
    EXPECT_EQ(s.end, -111);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
}

TEST_F(TextScanner, OwnTextModeNumberShapes) {
    Scanned s = ScanText(1, "12e 12e+ 7E+05 -.5 +. 0.0E-2 3.25E12 1e55+3 12.x x/y = a.b");
    EXPECT_EQ(s.texts, (Texts{"12e", "12e+", "7E+05", "-.5", "+.", "0.0E-2", "3.25E12", "1e55",
                              "+3", "12.", "x", "x", "/", "y", "=", "a", ".", "b"}));
    EXPECT_EQ(s.kinds, (Kinds{INT, INT, INT, REAL, REAL, REAL, REAL, INT, INT, POINT, ID, ID, SLASH,
                              ID, EQ, ID, POINT, ID}));
}

TEST_F(TextScanner, EachPunctuatorIsATokenByItself) {
    const std::string punctuators = "_*#%,|!$^&()[]{};:'<>?`~\\@";
    std::string text;
    for (char c : punctuators)
        text += c;
    Scanned s = ScanText(1, text);
    ASSERT_EQ(s.kinds.size(), punctuators.size());
    for (std::size_t i = 0; i < punctuators.size(); ++i) {
        EXPECT_EQ(s.kinds[i], PUNCT) << punctuators[i];
        EXPECT_EQ(s.texts[i], std::string(1, punctuators[i]));
    }
}

TEST_F(TextScanner, OwnTextStatementsScanAsTheReaderExpects) {
    Scanned s = ScanText(1, "net Sprinkler\n{\n  HEADER = {\n    ID = Sprinkler;\n"
                            "    NAME = \"Lawn \\\"wet\\\"\";\n  };\n"
                            "  PROBABILITIES = (0.2, 0.80000000, 0.0E-2);\n};\n");
    EXPECT_EQ(s.texts, (Texts{"net",
                              "Sprinkler",
                              "{",
                              "HEADER",
                              "=",
                              "{",
                              "ID",
                              "=",
                              "Sprinkler",
                              ";",
                              "NAME",
                              "=",
                              "Lawn \"wet\"",
                              ";",
                              "}",
                              ";",
                              "PROBABILITIES",
                              "=",
                              "(",
                              "0.2",
                              ",",
                              "0.80000000",
                              ",",
                              "0.0E-2",
                              ")",
                              ";",
                              "}",
                              ";"}));
    EXPECT_EQ(s.kinds[12], STR);
    EXPECT_EQ(s.kinds[23], REAL);
    EXPECT_EQ(s.end, -111);
    EXPECT_EQ(s.lastLine, 8);
}

TEST_F(TextScanner, ThirdEqualsSignIsAnUnknownCharacterThatStaysUnconsumed) {
    QNL_textScanner scanner(1);
    ASSERT_EQ(scanner.OpenText("a===b"), 0);
    QNL_textScanner::Token token;
    ASSERT_EQ(scanner.PeekToken(token), 0);
    EXPECT_EQ(token.text, "a");
    scanner.Consume();
    EXPECT_EQ(scanner.PeekToken(token), -126);
    EXPECT_EQ(token.kind, QNL_textScanner::UNKNOWN);
    EXPECT_EQ(token.text, "===");
    scanner.Consume();
    EXPECT_EQ(scanner.PeekToken(token), -126);
    ASSERT_EQ(log().GetNumberOfErrors(), 2);
    EXPECT_EQ(log().GetCode(0), -126);
    EXPECT_STREQ(log().GetMessage(0), "ERROR: Line 1 : UNKNOWN CHARACTER");
}

TEST_F(TextScanner, ControlAndNonAsciiBytesOutsideStringsAreUnknown) {
    // Inside an identifier the byte is an error at once; after a number it ends the number.
    Scanned s = ScanText(1, "ok\nab\x01");
    EXPECT_EQ(s.texts, (Texts{"ok"}));
    EXPECT_EQ(s.end, -126);
    EXPECT_EQ(LastMessage(), "ERROR: Line 2 : UNKNOWN CHARACTER");

    s = ScanText(1, "12\x7f");
    EXPECT_EQ(s.texts, (Texts{"12"}));
    EXPECT_EQ(s.end, -126);

    s = ScanText(1, "caf\xC3\xA9");
    EXPECT_EQ(s.end, -126);
}

TEST_F(TextScanner, CommentsOfAllThreeKindsAreSkipped) {
    Scanned s = ScanText(1, "a // rest of line\nb /* one\n two */ c /*/ d /#/ e\n"
                            "/# x /# y #/ z #/ f /# outer\n /# inner #/\n still #/ g");
    EXPECT_EQ(s.texts, (Texts{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(s.end, -111);
    EXPECT_EQ(s.lastLine, 6);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
}

TEST_F(TextScanner, CommentsCutOffByTheEndOfFileFailWithTheirMessage) {
    Scanned s = ScanText(1, "a /* never\nclosed *");
    EXPECT_EQ(s.texts, (Texts{"a"}));
    EXPECT_EQ(s.end, -128);
    EXPECT_EQ(LastMessage(), "ERROR: UNEXPECTED END OF FILE. UNMATCHED '/*'");

    s = ScanText(1, "/# one /# two #/\n");
    EXPECT_EQ(s.end, -128);
    EXPECT_EQ(LastMessage(), "ERROR: UNEXPECTED END OF FILE. UNMATCHED '/#'");
    EXPECT_EQ(log().GetCode(log().GetNumberOfErrors() - 1), -128);

    // A line comment simply runs into the end of the input.
    log().Flush();
    s = ScanText(1, "a // no newline");
    EXPECT_EQ(s.texts, (Texts{"a"}));
    EXPECT_EQ(s.end, -111);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
}

TEST_F(TextScanner, StringEscapesGiveTheirCharacters) {
    Scanned s = ScanText(1, R"("a\"b" "\\ \b\n\r\t|" "x\|y" "\q\1" "")");
    EXPECT_EQ(s.kinds, (Kinds{STR, STR, STR, STR, STR}));
    EXPECT_EQ(s.texts, (Texts{"a\"b", "\\ \b\n\r\t|", "xy", "\\q\\1", ""}));
}

TEST_F(TextScanner, ContinuationsJoinBrokenStringsWithoutTheIndentation) {
    // A trailing backslash keeps nothing of the next line's leading blanks; the writer's
    // "\ " break keeps exactly the one blank before it.
    Scanned s = ScanText(1, "\"abc\\\n      def\" \"word \\ \n   next\" \"x\\ \t  \\|  y\"");
    EXPECT_EQ(s.texts, (Texts{"abcdef", "word next", "x  y"}));

    // A line end inside a string is dropped, whatever its style.
    s = ScanText(1, "\"ab\ncd\" \"ef\r\ngh\" \"ij\rkl\" z");
    EXPECT_EQ(s.texts, (Texts{"abcd", "efgh", "ijkl", "z"}));
    EXPECT_EQ(s.lastLine, 4);
}

TEST_F(TextScanner, StringsCutOffByTheEndOfFileFailWithTheirMessage) {
    for (const std::string& text : {std::string("\"abc\\ "), std::string("\"abc"),
                                    std::string("x \"abc\n"), std::string("\"abc\\")}) {
        SCOPED_TRACE(text);
        log().Flush();
        Scanned s = ScanText(1, text);
        EXPECT_EQ(s.end, -128);
        EXPECT_EQ(LastMessage(), "ERROR: UNEXPECTED END OF FILE. UNTERMINATED STRING");
        EXPECT_EQ(log().GetCode(0), -128);
    }
}

TEST_F(TextScanner, StringTextIsUtf8WithLatin1Fallback) {
    Scanned s = ScanText(1, "\"caf\xC3\xA9\" \"caf\xE9\" \"\xE2\x82\xAC \x80\"");
    EXPECT_EQ(s.texts, (Texts{"caf\xC3\xA9", "caf\xC3\xA9", "\xE2\x82\xAC \xC2\x80"}));
}

TEST_F(TextScanner, TokensAndLinesHaveNoLengthLimit) {
    std::string longName(100000, 'x');
    std::string longString;
    for (int i = 0; i < 3000; ++i)
        longString += "part" + std::to_string(i) + "-";
    // One line of 40,000 numbers: none may be split at a buffer boundary.
    std::string numbers;
    for (int i = 0; i < 40000; ++i)
        numbers += "0.123456789 ";
    std::string quoted;
    for (std::size_t i = 0; i < longString.size(); i += 60) {
        quoted += longString.substr(i, 60) + "\\\n";
    }
    Scanned s = ScanText(1, longName + "\n\"" + quoted + "\"\n" + numbers + "\n");
    ASSERT_EQ(s.texts.size(), 40002u);
    EXPECT_EQ(s.texts[0], longName);
    EXPECT_EQ(s.texts[1], longString);
    for (std::size_t i = 2; i < s.texts.size(); ++i) {
        ASSERT_EQ(s.texts[i], "0.123456789") << i;
        ASSERT_EQ(s.kinds[i], REAL);
    }
}

TEST_F(TextScanner, ErgoModeMakesIdentifiersOfMixedRuns) {
    Scanned s = ScanText(2, "12abc 3.5kg /x 12 3.5 / * -4 +.5 a=b \"q\" x%y,z // #");
    EXPECT_EQ(s.texts, (Texts{"12abc", "3.5kg", "/x", "12", "3.5", "/", "*", "-4", "+.5", "a=b",
                              "\"q\"", "x%y,z", "/", "/", "#"}));
    EXPECT_EQ(s.kinds, (Kinds{ID, ID, ID, INT, REAL, PUNCT, PUNCT, INT, REAL, ID, ID, ID, PUNCT,
                              PUNCT, ID}));
}

TEST_F(TextScanner, ExponentsAlternateInErgoHuginAndMsbnModes) {
    for (int mode : {2, 3, 4}) {
        SCOPED_TRACE(mode);
        Scanned s = ScanText(mode, "1e55+3 1e5+3 1.5e-22-1");
        EXPECT_EQ(s.texts, (Texts{"1e55+3", "1e5", "+3", "1.5e-22-1"}));
        EXPECT_EQ(s.kinds, (Kinds{INT, INT, INT, REAL}));
    }
    Scanned s = ScanText(1, "1e55+3");
    EXPECT_EQ(s.texts, (Texts{"1e55", "+3"}));
}

TEST_F(TextScanner, HuginModeTakesPercentAsALineComment) {
    Scanned s = ScanText(3, "a % x y z\nb%c\n\"50%\" // d\ne");
    EXPECT_EQ(s.texts, (Texts{"a", "b", "50%", "e"}));
    s = ScanText(1, "a%b");
    EXPECT_EQ(s.texts, (Texts{"a", "%", "b"}));
    EXPECT_EQ(s.kinds, (Kinds{ID, PUNCT, ID}));
}

TEST_F(TextScanner, MsbnModeSkipsCommasAndBars) {
    Scanned s = ScanText(4, "a, b | c,\nd||e ,|, 0.5,0.25");
    EXPECT_EQ(s.texts, (Texts{"a", "b", "c", "d", "e", "0.5", "0.25"}));
    EXPECT_EQ(s.lastLine, 2);
}

TEST_F(TextScanner, ModeFiveReadsSignsAsPunctuators) {
    Scanned s = ScanText(5, "-12 +.5 a-b 1e-3");
    EXPECT_EQ(s.texts, (Texts{"-", "12", "+", ".5", "a", "-", "b", "1e-3"}));
    EXPECT_EQ(s.kinds, (Kinds{PUNCT, INT, PUNCT, REAL, ID, PUNCT, ID, INT}));
}

TEST_F(TextScanner, LineNumbersCountEveryLineEndStyle) {
    QNL_textScanner scanner(1);
    ASSERT_EQ(scanner.OpenText("a\nb\r\nc\rd\r\n\r\n\n\re\n\n"), 0);
    QNL_textScanner::Token token;
    std::vector<std::pair<std::string, int>> seen;
    while (scanner.PeekToken(token) == 0) {
        seen.emplace_back(token.text, scanner.GetLineNumber());
        scanner.Consume();
    }
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{
                        {"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}, {"e", 8}}));
    EXPECT_EQ(scanner.GetLineNumber(), 9);

    Scanned s = ScanText(1, "x\r\ny\r\n\rz ?\x02");
    EXPECT_EQ(s.end, -126);
    EXPECT_EQ(LastMessage(), "ERROR: Line 4 : UNKNOWN CHARACTER");
}

TEST_F(TextScanner, FilesOpenWithTheirLineEndsAndEncodings) {
    QNL_textScanner scanner(1);
    EXPECT_EQ(scanner.Open(WriteFile("empty.qnl", "").c_str()), -102);
    EXPECT_EQ(scanner.Open(WriteFile("bom_only.qnl", "\xEF\xBB\xBF").c_str()), -102);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);

    EXPECT_EQ(scanner.Open((::testing::TempDir() + "quarn_scanner_missing.qnl").c_str()), -103);
    EXPECT_EQ(LastMessage(), "OPEN FILE FAILED: '" + ::testing::TempDir() +
                                 "quarn_scanner_missing.qnl' (no such file)");
    EXPECT_EQ(scanner.Open(::testing::TempDir().c_str()), -103);

    ASSERT_EQ(scanner.Open(WriteFile("crlf.qnl", "\xEF\xBB\xBFnet\r\n\"caf\xE9\"\r\nx 1").c_str()),
              0);
    Scanned s = ScanAll(scanner);
    EXPECT_EQ(s.texts, (Texts{"net", "caf\xC3\xA9", "x", "1"}));
    EXPECT_EQ(s.lastLine, 3);
}

TEST_F(TextScanner, StepBackReachesTheLastFiveTokens) {
    QNL_textScanner scanner(1);
    QNL_textScanner::Token token;
    EXPECT_EQ(scanner.StepBack(), -2);
    ASSERT_EQ(scanner.OpenText("t1 t2 t3 t4 t5 t6 t7"), 0);
    for (int i = 1; i <= 6; ++i) {
        ASSERT_EQ(scanner.PeekToken(token), 0);
        scanner.Consume();
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(scanner.StepBack(), 0);
    EXPECT_EQ(scanner.StepBack(), -2);
    // The oldest kept token is t2; reading forward replays the look-back and goes on.
    Texts replay;
    while (scanner.PeekToken(token) == 0) {
        replay.push_back(token.text);
        scanner.Consume();
    }
    EXPECT_EQ(replay, (Texts{"t2", "t3", "t4", "t5", "t6", "t7"}));
}

TEST_F(TextScanner, StepBackFromAPeekedTokenReturnsTheOneBefore) {
    QNL_textScanner scanner(1);
    QNL_textScanner::Token token;
    ASSERT_EQ(scanner.OpenText("a b c d"), 0);
    for (int i = 0; i < 2; ++i) {
        scanner.PeekToken(token);
        scanner.Consume();
    }
    ASSERT_EQ(scanner.PeekToken(token), 0);
    EXPECT_EQ(token.text, "c");
    ASSERT_EQ(scanner.StepBack(), 0);
    ASSERT_EQ(scanner.PeekToken(token), 0);
    EXPECT_EQ(token.text, "b");
    ASSERT_EQ(scanner.PeekToken(token), 0);
    EXPECT_EQ(token.text, "b");
    scanner.Consume();
    ASSERT_EQ(scanner.PeekToken(token), 0);
    EXPECT_EQ(token.text, "c");
    scanner.Consume();
    ASSERT_EQ(scanner.PeekToken(token), 0);
    EXPECT_EQ(token.text, "d");
}

TEST_F(TextScanner, InvalidModeRefusesToScan) {
    QNL_textScanner scanner(6);
    QNL_textScanner::Token token;
    EXPECT_FALSE(scanner.IsValid());
    EXPECT_EQ(scanner.OpenText("a"), -2);
    EXPECT_EQ(scanner.PeekToken(token), -2);
    QNL_textScanner unopened(1);
    EXPECT_EQ(unopened.PeekToken(token), -111);
}

TEST_F(TextScanner, TablesNeverStartEmptyTokensOrConsumeTheLineEnd) {
    for (int mode = 1; mode <= QNL_textScanner::MODE_COUNT; ++mode) {
        const QNL_textScanner::Table& table = QNL_textScanner::TransitionTable(mode);
        int blank = QNL_textScanner::CharacterClass(' ');
        EXPECT_EQ(QNL_textScanner::CharacterClass('\n'), blank);
        EXPECT_EQ(QNL_textScanner::CharacterClass(0), blank);
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

// Every model file of the shared collection, in the mode of its format, scans to the end
// without a lexical error, whatever its line ends (CRLF, CR only) and comments.
TEST_F(TextScanner, RealModelFilesScanToTheirEnd) {
    const std::filesystem::path root = std::filesystem::path(QUARN_SHARED_DIR) / "data/networks";
    if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no shared model files";
    const std::pair<const char*, int> sets[] = {{"dne", 1}, {"net", 3}, {"dsc", 4}, {"xmlbif", 1}};
    int files = 0;
    for (const auto& [folder, mode] : sets) {
        // The folder's subfolders hold deliberately broken files.
        for (const auto& entry : std::filesystem::directory_iterator(root / folder)) {
            // The small files, and the one whose table is a single line of 433,000
            // characters.
            if (!entry.is_regular_file()) continue;
            if (entry.file_size() > 500000 && entry.path().filename() != "barley.net") continue;
            SCOPED_TRACE(entry.path().string());
            QNL_textScanner scanner(mode);
            ASSERT_EQ(scanner.Open(entry.path().c_str()), 0);
            Scanned s = ScanAll(scanner);
            EXPECT_EQ(s.end, -111) << LastMessage();
            EXPECT_GT(s.texts.size(), 10u);
            EXPECT_GT(s.lastLine, 5);
            ++files;
        }
    }
    EXPECT_GT(files, 50);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
}

// Random input of the characters that matter must always end in one of the scanner's codes,
// and with one peek per token: every failure is reported, nothing loops.
TEST_F(TextScanner, RandomInputAlwaysEndsWithACode) {
    const std::string alphabet = "aZe5_/=*#.+-\",;|%\\ \t\n\r{}()\x01\xE9\x08";
    std::mt19937 random(99);
    for (int trial = 0; trial < 3000; ++trial) {
        std::string text;
        int length = static_cast<int>(random() % 60);
        for (int i = 0; i < length; ++i)
            text += alphabet[random() % alphabet.size()];
        int mode = 1 + static_cast<int>(random() % 5);
        Scanned s = ScanText(mode, text);
        ASSERT_TRUE(s.end == -111 || s.end == -126 || s.end == -128 || s.end == -102) << s.end;
        ASSERT_LE(s.texts.size(), text.size());
        // Identifiers and numbers are maximal: scanning them again, one per line, changes
        // nothing.
        std::string again;
        Kinds plain;
        for (std::size_t i = 0; i < s.kinds.size(); ++i) {
            if (s.kinds[i] == ID || s.kinds[i] == INT || s.kinds[i] == REAL) {
                again += s.texts[i] + "\n";
                plain.push_back(s.kinds[i]);
            }
        }
        Scanned rescanned = ScanText(mode, again);
        ASSERT_EQ(rescanned.kinds, plain) << "mode " << mode << ": " << text;
    }
    log().Flush();
}

} // namespace
