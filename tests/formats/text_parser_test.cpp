#include "formats/number_text.h"
#include "formats/text_parser.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int ID = QNL_textParser::IDENTIFIER;
constexpr int INT = QNL_textParser::INTEGER;
constexpr int REAL = QNL_textParser::REAL;
constexpr int PUNCT = QNL_textParser::PUNCTUATOR;
constexpr int STR = QNL_textParser::STRING;

// A format made of the base alone, with the variants formats choose: colon properties and
// case-insensitive matching (as in the KI format), named block starts, continuation.
class TestFormat : public QNL_textParser {
public:
    explicit TestFormat(QNL_network* network = nullptr) : QNL_textParser(network) {}

    int Read(const char*) override { return -2; }
    int Write(const char*) override { return -2; }

    int ReadProperty(const char* name, int kind) override {
        return colon ? ReadColonProperty(name, kind) : QNL_textParser::ReadProperty(name, kind);
    }
    int ReadIntegerProperty(const char* name, int* out) override {
        return colon ? ReadColonIntegerProperty(name, out)
                     : QNL_textParser::ReadIntegerProperty(name, out);
    }
    int ReadBlockStart(const char* name) override { return ReadNamedBlockStart(name); }
    int WriteBlockStart(const char* name) override { return WriteNamedBlockStart(name); }
    int BeginQuotedText() override { return continuation ? BeginContinuation() : 0; }
    int EndQuotedText() override { return continuation ? EndContinuation() : 0; }

    int Open(const std::string& text, int mode = 1) { return StartReadingText(text, mode); }
    int OpenPath(const std::string& path) { return StartReading(path.c_str(), 1); }
    int Finish(int result) { return FinishReading(result); }
    int BracedBlockStart(const char* name) { return WriteBracedBlockStart(name); }

    bool colon = false;
    bool continuation = false;
};

class TextParser : public ::testing::Test {
protected:
    void SetUp() override { log().Flush(); }
    void TearDown() override { log().Flush(); }
    static QNL_errorHandler& log() { return QNL_errorHandler::Instance(); }
    static std::string LastMessage() {
        int n = log().GetNumberOfErrors();
        return n == 0 ? std::string() : log().GetMessage(n - 1);
    }
    // Test programs may run in parallel: each test has names of its own.
    static std::string TempPath(const std::string& name) {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return ::testing::TempDir() + "quarn_text_parser_" + info->name() + "_" + name;
    }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    // Writes through body into a file and returns its text.
    template <typename Body> static std::string Written(TestFormat& format, Body body) {
        std::string path = TempPath("written.txt");
        EXPECT_EQ(format.OpenFile(path.c_str(), QNL_textFile::WRITE_MODE), 0);
        body(format);
        EXPECT_EQ(format.CloseFile(), 0);
        std::string text = Slurp(path);
        fs::remove(path);
        return text;
    }
};

TEST_F(TextParser, ExpectMatchesKindAndTextAndReportsWithTheLine) {
    TestFormat f;
    ASSERT_EQ(f.Open("net\n  abc = \"net\" 12 ;\n"), 0);
    EXPECT_EQ(f.Expect(ID, "net"), 0);
    EXPECT_EQ(f.Expect(ID, "net"), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: 'abc' : 'net' expected");
    EXPECT_EQ(f.GetMessage(), "ERROR: 'abc' : 'net' expected");
    EXPECT_EQ(f.Expect(INT), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: 'abc' : Integer expected");
    EXPECT_EQ(f.Expect(QNL_textScanner::SLASH), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: 'abc' : Unexpected");
    EXPECT_EQ(f.Expect(ID), 0);
    // "=" has a kind of its own, yet is accepted as the punctuator "=".
    EXPECT_EQ(f.Expect(PUNCT, "="), 0);
    // A string is no identifier, whatever it spells.
    EXPECT_EQ(f.Expect(ID, "net"), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: 'net' : 'net' expected");
    EXPECT_EQ(f.Expect(STR), 0);
    EXPECT_EQ(f.GetTokenText(), "net");
    EXPECT_EQ(f.Expect(PUNCT, ";"), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: '12' : ';' expected");
    EXPECT_EQ(f.Expect(REAL), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: '12' : Real Number expected");
    EXPECT_EQ(f.Expect(INT), 0);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.Expect(PUNCT, "}"), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: End of File : Expecting '}'");
    EXPECT_EQ(f.Expect(STR), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: End of File : Expecting String");
    EXPECT_EQ(f.Expect(QNL_textScanner::EQUALS), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: Unexpected End of File");
    EXPECT_EQ(log().GetNumberOfErrors(), 9);
    EXPECT_EQ(log().GetCode(0), -127);
    EXPECT_EQ(f.Finish(0), -127);

    // An empty string spells the start of every text, but is no punctuator.
    ASSERT_EQ(f.Open("\"\" =="), 0);
    EXPECT_EQ(f.Expect(PUNCT, "{"), -127);
    EXPECT_EQ(f.Expect(STR), 0);
    EXPECT_EQ(f.Expect(PUNCT, "="), -127);
}

TEST_F(TextParser, QuietAndTypedReadersLogNothing) {
    TestFormat f;
    EXPECT_EQ(f.Expect(ID), -127);
    EXPECT_EQ(LastMessage(), "ERROR: Unable to parse file");
    log().Flush();
    EXPECT_EQ(f.ExpectQuiet(ID), -2);
    int i = 0;
    EXPECT_EQ(f.ReadInteger(&i), -127);
    EXPECT_FALSE(f.PeekMatch("x"));
    EXPECT_EQ(f.GetPeekResult(), -2);
    EXPECT_TRUE(f.AtBlockEnd());

    ASSERT_EQ(f.Open("x 12 1.5 0.0E-2 \"s\" 99999999999 ,"), 0);
    double d = 0;
    std::string s;
    EXPECT_EQ(f.ExpectQuiet(INT), -127);
    EXPECT_EQ(f.ReadInteger(&i), -127);
    EXPECT_EQ(f.ReadReal(&d), -127);
    EXPECT_EQ(f.ReadString(s), -127);
    EXPECT_EQ(f.ReadIdentifier(s), 0);
    EXPECT_EQ(s, "x");
    EXPECT_EQ(f.ReadReal(&d), 0);
    EXPECT_EQ(d, 12.0);
    EXPECT_EQ(f.ReadInteger(&i), -127);
    EXPECT_EQ(f.ReadReal(&d), 0);
    EXPECT_EQ(d, 1.5);
    EXPECT_EQ(f.ReadReal(&d), 0);
    EXPECT_EQ(d, QNL_UNDEFINED_NUMBER);
    EXPECT_EQ(f.ReadString(s), 0);
    EXPECT_EQ(s, "s");
    // An integer beyond int is refused and stays for another reader.
    EXPECT_EQ(f.ReadInteger(&i), -2);
    EXPECT_EQ(f.ReadReal(&d), 0);
    EXPECT_EQ(d, 99999999999.0);
    EXPECT_EQ(f.ExpectQuiet(PUNCT, ","), 0);
    EXPECT_EQ(f.ExpectQuiet(PUNCT, ","), -111);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(f.Finish(0), 0);
}

TEST_F(TextParser, MatchHonoursCaseSensitivityButExpectNever) {
    TestFormat f;
    ASSERT_EQ(f.Open("True false"), 0);
    const char* const words[] = {"x", "TRUE", nullptr};
    EXPECT_FALSE(f.PeekMatch("TRUE"));
    EXPECT_TRUE(f.Match("True"));
    EXPECT_FALSE(f.MatchAny(words));
    f.SetCaseSensitive(false);
    EXPECT_TRUE(f.PeekMatch("TRUE"));
    EXPECT_TRUE(f.PeekMatchAny(words));
    EXPECT_FALSE(f.Match(nullptr));
    EXPECT_EQ(f.ExpectQuiet(ID, "TRUE"), -127);
    EXPECT_EQ(f.ExpectQuiet(ID, "True"), 0);
    EXPECT_TRUE(f.NextIsIdentifier());
    f.ConsumeToken();
    // At the end of the input every test is false and the code is kept.
    EXPECT_FALSE(f.PeekMatch("false"));
    EXPECT_EQ(f.GetPeekResult(), -111);
    EXPECT_FALSE(f.NextIsIdentifier());
    EXPECT_FALSE(f.NextIsNumber());
    EXPECT_TRUE(f.AtBlockEnd());
    EXPECT_EQ(f.Finish(0), 0);
}

TEST_F(TextParser, ListReadersTakeEmptyAndFullListsAndReportWhatIsWrong) {
    auto ids = [](const std::string& text, QNL_stringArray& list) {
        TestFormat f;
        EXPECT_EQ(f.Open(text), 0);
        return f.ReadIdentifierList(list);
    };
    QNL_stringArray list;
    EXPECT_EQ(ids("()", list), 0);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(ids("(a, b,c)", list), 0);
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_STREQ(list.GetString(2), "c");
    EXPECT_EQ(ids("(a,)", list), -127);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(ids("(a b)", list), -127);
    EXPECT_EQ(LastMessage(), "(line 1) : ERROR: 'b' : ')' expected");
    EXPECT_EQ(ids("(1)", list), -127);
    EXPECT_EQ(LastMessage(), "(line 1) : ERROR: '1' : ')' expected");
    EXPECT_EQ(ids("a", list), -127);
    EXPECT_EQ(LastMessage(), "(line 1) : ERROR: 'a' : '(' expected");
    EXPECT_EQ(ids("(\n", list), -127);
    EXPECT_EQ(LastMessage(), "(line 1) : ERROR: End of File : Expecting ')'");
    // The list's own rules hold: an identifier array refuses a repeated identifier.
    QNL_idArray unique;
    EXPECT_EQ(ids("(a, a)", unique), -2);
    EXPECT_EQ(unique.GetCount(), 1);

    TestFormat f;
    QNL_stringArray strings;
    ASSERT_EQ(f.Open("(\"a b\", \"\") (\"x\",) (\"y\" z)"), 0);
    EXPECT_EQ(f.ReadStringList(strings), 0);
    ASSERT_EQ(strings.GetCount(), 2);
    EXPECT_STREQ(strings.GetString(0), "a b");
    EXPECT_STREQ(strings.GetString(1), "");
    EXPECT_EQ(f.ReadStringList(strings), -127);
    f.ConsumeToken();
    EXPECT_EQ(f.ReadStringList(strings), -127);
    EXPECT_EQ(LastMessage(), "(line 1) : ERROR: 'z' : ')' expected");

    QNL_doubleArray reals;
    ASSERT_EQ(f.Open("(1, 2.5, -3e2, 0.0E-4) () (1,) (x)"), 0);
    EXPECT_EQ(f.ReadRealList(reals), 0);
    ASSERT_EQ(reals.GetCount(), 4);
    EXPECT_EQ(reals[1], 2.5);
    EXPECT_EQ(reals[2], -300.0);
    EXPECT_EQ(reals[3], QNL_NOT_AVAILABLE_NUMBER);
    EXPECT_EQ(f.ReadRealList(reals), 0);
    EXPECT_EQ(reals.GetCount(), 4);
    EXPECT_EQ(f.ReadRealList(reals), -127);
    f.ConsumeToken();
    EXPECT_EQ(f.ReadRealList(reals), -127);
    EXPECT_EQ(LastMessage(), "(line 1) : ERROR: 'x' : ')' expected");

    QNL_intArray ints;
    ASSERT_EQ(f.Open("(1, -2, 3) (1.5)"), 0);
    EXPECT_EQ(f.ReadIntegerList(ints), 0);
    ASSERT_EQ(ints.GetCount(), 3);
    EXPECT_EQ(ints[1], -2);
    EXPECT_EQ(f.ReadIntegerList(ints), -127);
    EXPECT_EQ(LastMessage(), "(line 1) : ERROR: '1.5' : ')' expected");
}

TEST_F(TextParser, PropertiesReadNameEqualsValue) {
    TestFormat f;
    ASSERT_EQ(f.Open("A = TRUE; B = FALSE; N = 42; S = \"t\";\nSHOWINARCS = yes; N = x;"), 0);
    int value = -1;
    EXPECT_EQ(f.ReadProperty(nullptr, ID), -2);
    EXPECT_EQ(f.ReadBooleanProperty("X", &value), -129);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(f.ReadBooleanProperty("A", &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadBooleanProperty("B", &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadIntegerProperty("N", &value), 0);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadProperty("S", STR), 0);
    EXPECT_EQ(f.GetTokenText(), "t");
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadBooleanProperty("SHOWINARCS", &value), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: (\"yes\") : Boolean Expected");
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadIntegerProperty("N", &value), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: 'x' : Integer expected");
}

TEST_F(TextParser, ColonPropertiesWithCaseInsensitiveBooleans) {
    TestFormat f;
    f.colon = true;
    f.SetCaseSensitive(false);
    ASSERT_EQ(f.Open("OBSERVABLE : true; MANDATORY : False; COST : 3; observable : TRUE;\n"
                     "NAME = \"x\";"),
              0);
    int value = -1;
    EXPECT_EQ(f.ReadBooleanProperty("OBSERVABLE", &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadBooleanProperty("MANDATORY", &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadIntegerProperty("COST", &value), 0);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    // The name itself is always compared exactly.
    EXPECT_EQ(f.ReadBooleanProperty("OBSERVABLE", &value), -129);
    EXPECT_EQ(f.SkipStatement(), 0);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadColonProperty("NAME", STR), -127);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: '=' : ':' expected");
    EXPECT_EQ(f.ReadColonIntegerProperty(nullptr, &value), -2);
}

TEST_F(TextParser, SkipStatementRecoversAtTheSameBraceDepth) {
    TestFormat f;
    ASSERT_EQ(f.Open("node A {\n FOO = { A = 1; B = 2; };\n TARGET = TRUE;\n BAR baz }\nnext"), 0);
    EXPECT_EQ(f.Expect(ID, "node"), 0);
    EXPECT_EQ(f.Expect(ID, "A"), 0);
    EXPECT_EQ(f.Expect(PUNCT, "{"), 0);
    EXPECT_TRUE(f.PeekMatch("FOO"));
    EXPECT_EQ(f.SkipStatement(), 0);
    EXPECT_EQ(f.ExpectQuiet(PUNCT, ";"), 0);
    int target = 0;
    EXPECT_EQ(f.ReadBooleanProperty("TARGET", &target), 0);
    EXPECT_EQ(target, 1);
    EXPECT_EQ(f.ExpectQuiet(PUNCT, ";"), 0);
    // A statement without its ";" ends at the brace that closes the block.
    EXPECT_EQ(f.SkipUnknownStatement(), 0);
    EXPECT_TRUE(f.AtBlockEnd());
    EXPECT_EQ(f.ReadBlockEnd(), 0);
    EXPECT_TRUE(f.PeekMatch("next"));
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(f.Finish(0), 0);

    ASSERT_EQ(f.Open("FOO = { A = 1;"), 0);
    EXPECT_EQ(f.SkipStatement(), -111);
    EXPECT_EQ(LastMessage(), "NO MORE TOKENS");
    EXPECT_EQ(f.Finish(0), -111);
}

TEST_F(TextParser, SkipBlockSkipsAWholeGroupOrTheRestOfAnOpenOne) {
    TestFormat f;
    ASSERT_EQ(f.Open("skip x { a { b ; } c ; } after"), 0);
    EXPECT_EQ(f.SkipBlock(0), 0);
    EXPECT_TRUE(f.PeekMatch("after"));

    ASSERT_EQ(f.Open("x { inner { y } z ; } after"), 0);
    EXPECT_EQ(f.Expect(ID, "x"), 0);
    EXPECT_EQ(f.Expect(PUNCT, "{"), 0);
    EXPECT_EQ(f.SkipBlock(1), 0);
    EXPECT_TRUE(f.PeekMatch("after"));

    // The brace of the enclosing block is left for its reader.
    ASSERT_EQ(f.Open("a b } after"), 0);
    EXPECT_EQ(f.SkipBlock(0), 0);
    EXPECT_TRUE(f.AtBlockEnd());
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(f.Finish(0), 0);

    ASSERT_EQ(f.Open("{ a { b }"), 0);
    EXPECT_EQ(f.SkipBlock(0), -111);
    EXPECT_EQ(LastMessage(), "NO MORE TOKENS");
    EXPECT_EQ(f.Finish(0), -111);
}

TEST_F(TextParser, AReadThatMetAnErrorEndsWithItsCode) {
    TestFormat f;
    ASSERT_EQ(f.Open("a;\nb;\nc;"), 0);
    EXPECT_EQ(f.ReportError(0, "nothing"), 0);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(f.Finish(0), 0);

    ASSERT_EQ(f.Open("a;\nb;\nc;"), 0);
    EXPECT_EQ(f.Expect(ID), 0);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.Expect(ID), 0);
    EXPECT_EQ(f.ReportError(-2, "ERROR: Wrong number of Probabilities"), -2);
    EXPECT_EQ(LastMessage(), "(line 2) : ERROR: Wrong number of Probabilities");
    EXPECT_EQ(f.ReportError(-127, "later"), -127);
    EXPECT_EQ(f.Finish(0), -2);
    EXPECT_EQ(f.Finish(-5), -5);
    // A new read forgets the errors of the last one.
    ASSERT_EQ(f.Open("a"), 0);
    EXPECT_EQ(f.Finish(0), 0);

    // A character the scanner does not know stops the read with the scanner's code, even
    // though the reader only saw a token it did not expect.
    ASSERT_EQ(f.Open("A = 1;\nB = \x01;\nC = 3;"), 0);
    int value = 0;
    EXPECT_EQ(f.ReadIntegerProperty("A", &value), 0);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadIntegerProperty("B", &value), -127);
    EXPECT_EQ(f.SkipStatement(), -126);
    EXPECT_EQ(f.Finish(0), -126);

    EXPECT_EQ(f.OpenPath(TempPath("missing.qnl")), -103);
    EXPECT_EQ(LastMessage(), "OPEN FILE FAILED: '" + TempPath("missing.qnl") + "' (no such file)");
    std::ofstream(TempPath("empty.qnl")).close();
    EXPECT_EQ(f.OpenPath(TempPath("empty.qnl")), -102);
    fs::remove(TempPath("empty.qnl"));
}

TEST_F(TextParser, NamedBlocksReadNameEqualsBrace) {
    TestFormat f;
    ASSERT_EQ(f.Open("HEADER = { ID = x; } SCREEN { }"), 0);
    EXPECT_EQ(f.ReadBlockStart(nullptr), 0);
    EXPECT_EQ(f.ReadBlockStart("SCREEN"), -129);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(f.ReadBlockStart("HEADER"), 0);
    EXPECT_EQ(f.ReadProperty("ID", ID), 0);
    EXPECT_EQ(f.Expect(PUNCT, ";"), 0);
    EXPECT_EQ(f.ReadBlockEnd(), 0);
    EXPECT_EQ(f.ReadBlockStart("SCREEN"), -127);
    EXPECT_EQ(LastMessage(), "(line 1) : ERROR: '{' : '=' expected");
    EXPECT_EQ(f.ReadBlockEnd(), -127);
    EXPECT_EQ(LastMessage(), "(line 1) : ERROR: '{' : '}' expected");
}

TEST_F(TextParser, WritersLayOutPropertiesListsAndBlocks) {
    TestFormat f;
    QNL_stringArray none;
    QNL_stringArray parents;
    parents.Add("A");
    parents.Add("B");
    QNL_doubleArray capacity;
    ASSERT_EQ(capacity.SetSize(2), 0);
    capacity[0] = 0.5;
    capacity[1] = QNL_UNDEFINED_NUMBER;
    QNL_intArray flags;
    flags.Add(1);
    flags.Add(-7);
    std::string text = Written(f, [&](TestFormat& w) {
        w.WriteBlockStart("HEADER");
        w.WriteProperty("ID", "x", false, false);
        w.WriteProperty("NAME", nullptr, true, true);
        w.WriteStringProperty("COMMENT", "say \"hi\"\\");
        w.WriteBlockEnd();
        w.WriteIdentifierListProperty("PARENTS", none, false);
        w.WriteIdentifierListProperty("PARENTS", parents, false);
        w.WriteRealListProperty("ALL", capacity, true);
        w.WriteRealListProperty("USED", capacity, false);
        w.WriteIntegerListProperty("FLAGS", flags, false);
        w.WriteStringListProperty("NAMES", parents, false);
        w.WriteBooleanProperty("TARGET", true);
        w.WriteIntegerProperty("NUMSAMPLES", -3);
        w.BracedBlockStart("bnet x");
        w.WriteProperty("title", "a\tb", true, false);
    });
    EXPECT_EQ(text, "HEADER = \n"
                    " {\n"
                    "  ID = x;\n"
                    "  COMMENT = \"say \\\"hi\\\"\\\\\";\n"
                    " };\n"
                    "PARENTS = ();\n"
                    "PARENTS = (A, B);\n"
                    "ALL = (0.50000000, 0.0E-2);\n"
                    "USED = ();\n"
                    "FLAGS = (1, -7);\n"
                    "NAMES = (\"A\", \"B\");\n"
                    "TARGET = TRUE;\n"
                    "NUMSAMPLES = -3;\n"
                    "bnet x {\n"
                    " title = \"a\tb\";\n");
    EXPECT_EQ(QNL_textParser::Escape("a\tb\nc\rd\"e\\f"), "a\\tb\\nc\\rd\\\"e\\\\f");
    EXPECT_EQ(QNL_textParser::Escape(nullptr), "");
}

TEST_F(TextParser, LongQuotedTextBreaksAfterBlanksWithAContinuation) {
    TestFormat f;
    f.continuation = true;
    ASSERT_EQ(f.SetRightMargin(30), 0);
    const char* name = "the quick brown fox jumps over the lazy dog again";
    std::string text = Written(f, [&](TestFormat& w) {
        w.Indent();
        w.WriteStringProperty("NAME", name);
    });
    EXPECT_EQ(text, " NAME = \"the quick brown fox \\ \n"
                    " jumps over the lazy dog \\ \n"
                    " again\";\n");
    ASSERT_EQ(f.Open(text), 0);
    EXPECT_EQ(f.ReadProperty("NAME", STR), 0);
    EXPECT_EQ(f.GetTokenText(), name);

    // Without a continuation a string is never broken: a line end would become part of it.
    // What follows the string still wraps.
    f.continuation = false;
    text = Written(f, [&](TestFormat& w) { w.WriteStringProperty("NAME", name); });
    EXPECT_EQ(text, std::string("NAME = \"") + name + "\"\n;\n");
    ASSERT_EQ(f.Open(text), 0);
    EXPECT_EQ(f.ReadProperty("NAME", STR), 0);
    EXPECT_EQ(f.GetTokenText(), name);
}

// Random texts, lists and numbers written at random margins, indentations and columns
// read back through the scanner as the same tokens.
TEST_F(TextParser, WrittenTextReadsBackAsTheSameTokens) {
    std::mt19937 random(20240611);
    const std::string alphabet = "abcdefgh   \"\\\t\n\r\b\x01\xC3\xA9-_.,;{}";
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto randomText = [&]() {
        std::string s;
        int n = pick(160);
        for (int i = 0; i < n; ++i) {
            char c = alphabet[static_cast<std::size_t>(pick(static_cast<int>(alphabet.size())))];
            if (c == '\xC3') {
                s += "\xC3\xA9";
            } else if (c != '\xA9') {
                s += c;
            }
        }
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        TestFormat f;
        f.continuation = round % 3 != 0;
        ASSERT_EQ(f.SetRightMargin(10 + pick(80)), 0);
        int depth = pick(6);
        for (int i = 0; i < depth; ++i)
            f.Indent();
        std::string single = randomText();
        QNL_stringArray strings;
        QNL_stringArray ids;
        QNL_doubleArray reals;
        QNL_intArray ints;
        for (int i = pick(6); i > 0; --i)
            strings.Add(randomText().c_str());
        for (int i = pick(12); i > 0; --i)
            ids.Add(("id_" + std::to_string(pick(100000))).c_str());
        const double specials[] = {
            QNL_UNDEFINED_NUMBER, QNL_ILLEGAL_NUMBER, -0.125, 1e-9, 1e300, 0.1, 123456.789};
        for (int i = pick(15); i > 0; --i)
            reals.Add(pick(3) == 0 ? specials[pick(7)]
                                   : std::ldexp(static_cast<double>(random()), -pick(40)));
        for (int i = pick(15); i > 0; --i)
            ints.Add(static_cast<int>(random() % 2000000000u) - 1000000000);

        std::string text = Written(f, [&](TestFormat& w) {
            w.WriteRaw(std::string(static_cast<std::size_t>(pick(60) + 1), 'p').c_str());
            w.WriteText(" ");
            w.WriteStringProperty("S", single.c_str());
            w.WriteStringListProperty("L", strings, false);
            w.WriteIdentifierListProperty("I", ids, false);
            w.WriteRealListProperty("R", reals, false);
            w.WriteIntegerListProperty("N", ints, false);
        });
        SCOPED_TRACE(text);
        ASSERT_EQ(f.Open(text), 0);
        std::string s;
        ASSERT_EQ(f.ReadIdentifier(s), 0);
        ASSERT_EQ(f.ReadProperty("S", STR), 0);
        EXPECT_EQ(f.GetTokenText(), single);
        ASSERT_EQ(f.Expect(PUNCT, ";"), 0);
        QNL_stringArray stringsBack;
        ASSERT_EQ(f.Expect(ID, "L"), 0);
        ASSERT_EQ(f.Expect(PUNCT, "="), 0);
        ASSERT_EQ(f.ReadStringList(stringsBack), 0);
        ASSERT_EQ(stringsBack.GetCount(), strings.GetCount());
        for (int i = 0; i < strings.GetCount(); ++i)
            EXPECT_STREQ(stringsBack.GetString(i), strings.GetString(i));
        ASSERT_EQ(f.Expect(PUNCT, ";"), 0);
        QNL_stringArray idsBack;
        ASSERT_EQ(f.Expect(ID, "I"), 0);
        ASSERT_EQ(f.Expect(PUNCT, "="), 0);
        ASSERT_EQ(f.ReadIdentifierList(idsBack), 0);
        ASSERT_EQ(idsBack.GetCount(), ids.GetCount());
        for (int i = 0; i < ids.GetCount(); ++i)
            EXPECT_STREQ(idsBack.GetString(i), ids.GetString(i));
        ASSERT_EQ(f.Expect(PUNCT, ";"), 0);
        QNL_doubleArray realsBack;
        ASSERT_EQ(f.Expect(ID, "R"), 0);
        ASSERT_EQ(f.Expect(PUNCT, "="), 0);
        ASSERT_EQ(f.ReadRealList(realsBack), 0);
        ASSERT_EQ(realsBack.GetCount(), reals.GetCount());
        for (int i = 0; i < reals.GetCount(); ++i)
            EXPECT_EQ(realsBack[i], reals[i]);
        ASSERT_EQ(f.Expect(PUNCT, ";"), 0);
        QNL_intArray intsBack;
        ASSERT_EQ(f.Expect(ID, "N"), 0);
        ASSERT_EQ(f.Expect(PUNCT, "="), 0);
        ASSERT_EQ(f.ReadIntegerList(intsBack), 0);
        ASSERT_EQ(intsBack.GetCount(), ints.GetCount());
        for (int i = 0; i < ints.GetCount(); ++i)
            EXPECT_EQ(intsBack[i], ints[i]);
        ASSERT_EQ(f.Expect(PUNCT, ";"), 0);
        EXPECT_EQ(f.Finish(0), 0);
        EXPECT_EQ(log().GetNumberOfErrors(), 0);
        if (::testing::Test::HasFailure()) break;
    }
}

// A stand-in for the multi-attribute utility definition, registered while a test runs.
class MauStandIn : public QNL_nodeDefinition {
public:
    MauStandIn(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {}
    QNL_nodeDefinition* CreateCopy() const override { return new MauStandIn(*this); }
    int GetType() const override { return QNL_TYPE_MAU; }
    const char* GetTypeName() const override { return "MAU"; }
    static QNL_nodeDefinition* Create(int handle, QNL_network* network) {
        return new MauStandIn(handle, network);
    }
};

TEST_F(TextParser, HasNoMauNodesFindsAnyMultiAttributeUtilityNode) {
    quarn_test::ScopedTestDefinitions definitions;
    auto previous = quarn::detail::FindDefinitionClass(QNL_TYPE_MAU);
    quarn::detail::RegisterDefinitionClass(QNL_TYPE_MAU, MauStandIn::Create);
    {
        QNL_network net;
        TestFormat format(&net);
        EXPECT_TRUE(format.HasNoMauNodes());
        EXPECT_TRUE(TestFormat(nullptr).HasNoMauNodes());
        quarn_test::AddNode(net, "A");
        int b = quarn_test::AddNode(net, "B");
        EXPECT_TRUE(format.HasNoMauNodes());
        int u = net.AddNode(QNL_TYPE_MAU, "U");
        ASSERT_GE(u, 0);
        EXPECT_FALSE(format.HasNoMauNodes());
        // The walk looks past deleted slots to the last node.
        ASSERT_EQ(net.DeleteNode(b), 0);
        EXPECT_FALSE(format.HasNoMauNodes());
        ASSERT_EQ(net.DeleteNode(u), 0);
        EXPECT_TRUE(format.HasNoMauNodes());
    }
    quarn::detail::RegisterDefinitionClass(QNL_TYPE_MAU, previous);
}

} // namespace
