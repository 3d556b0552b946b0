#include "format_test_support.h"
#include "formats/text_parser.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using format_test::TempFolder;

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
    int Open(const std::string& text) { return StartReadingText(text, 1); }
    int OpenPath(const std::string& path) { return StartReading(path.c_str(), 1); }
    int Finish(int result) { return FinishReading(result); }
    int BracedBlockStart(const char* name) { return WriteBracedBlockStart(name); }
    bool colon = false;
    bool continuation = false;
};

std::string LastMessage() {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    return log.GetNumberOfErrors() == 0 ? "" : log.GetMessage(log.GetNumberOfErrors() - 1);
}

template <typename List> std::string Joined(const List& list) {
    std::string out;
    for (int i = 0; i < list.GetCount(); ++i)
        out += (i > 0 ? "," : "") + format_test::Text(list.GetString(i));
    return out;
}
std::string Number(int value) {
    return std::to_string(value);
}
std::string Number(double value) {
    return FormatNumber(value);
}
template <typename T> std::string JoinedNumbers(const T& list) {
    std::string out;
    for (int i = 0; i < list.GetCount(); ++i)
        out += (i > 0 ? "," : "") + Number(list[i]);
    return out;
}

// One call of a read script: the operation, its kind or depth and name, the code it must
// give, the value it must read (unchecked when null) and the last message logged then (the
// same when null).
struct Step {
    char op;
    int kind;
    const char* name;
    int code;
    const char* value;
    const char* message;
};

// Runs the steps on the text (no text: nothing opened); the value of a step is what it read.
void RunScript(TestFormat& f, const char* text, const std::vector<Step>& steps) {
    QNL_errorHandler::Instance().Flush();
    if (text != nullptr) {
        ASSERT_EQ(f.Open(text), 0);
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        int n = -1;
        double d = -1;
        std::string value;
        QNL_stringArray strings;
        QNL_idArray ids;
        QNL_doubleArray reals;
        QNL_intArray ints;
        int code = 0;
        // clang-format off
        switch (s.op) {
        case 'E': code = f.Expect(s.kind, s.name); value = f.GetTokenText(); break;
        case 'Q': code = f.ExpectQuiet(s.kind, s.name); break;
        case 'i': code = f.ReadInteger(&n); value = std::to_string(n); break;
        case 'r': code = f.ReadReal(&d); value = FormatNumber(d); break;
        case 'd': code = f.ReadIdentifier(value); break;
        case 's': code = f.ReadString(value); break;
        case 'P': code = f.ReadProperty(s.name, s.kind); value = f.GetTokenText(); break;
        case 'I': code = f.ReadIntegerProperty(s.name, &n); value = std::to_string(n); break;
        case 'B': code = f.ReadBooleanProperty(s.name, &n); value = std::to_string(n); break;
        case 'S': code = f.SkipStatement(); break;
        case 'U': code = f.SkipUnknownStatement(); break;
        case 'K': code = f.SkipBlock(s.kind); break;
        case 'O': code = f.ReadBlockStart(s.name); break;
        case 'C': code = f.ReadBlockEnd(); break;
        case 'R': code = f.ReportError(s.kind, s.name); break;
        case 'F': code = f.Finish(s.kind); break;
        case 'M': code = f.PeekMatch(s.name) ? 0 : -1; value = std::to_string(f.GetPeekResult()); break;
        case 'Z': code = f.AtBlockEnd() ? 0 : -1; break;
        case 'L': code = QNL_errorHandler::Instance().GetNumberOfErrors(); break;
        case 'c': f.ConsumeToken(); break;
        case 'l': code = f.ReadIdentifierList(strings); value = Joined(strings); break;
        case 'u': code = f.ReadIdentifierList(ids); value = Joined(ids); break;
        case 'g': code = f.ReadStringList(strings); value = Joined(strings); break;
        case 'n': code = f.ReadRealList(reals); value = JoinedNumbers(reals); break;
        case 'm': code = f.ReadIntegerList(ints); value = JoinedNumbers(ints); break;
        default: FAIL() << "no operation " << s.op;
        }
        // clang-format on
        EXPECT_EQ(code, s.code) << "step " << i << " " << s.op;
        if (s.value != nullptr) {
            EXPECT_EQ(value, s.value) << "step " << i << " " << s.op;
        }
        if (s.message != nullptr) {
            EXPECT_EQ(LastMessage(), s.message) << "step " << i << " " << s.op;
        }
    }
}

// clang-format off
TEST(TextParser, ExpectAndTypedReadsReportTheLineAndWhatWasExpected) {
    TestFormat f;
    // Unopened: Expect tells, the quiet and typed readers only fail.
    RunScript(f, nullptr, {{'E', ID, nullptr, -127, nullptr, "ERROR: Unable to parse file"},
                           {'Q', ID, nullptr, -2, nullptr, nullptr}, {'i', 0, nullptr, -127, nullptr, nullptr},
                           {'M', 0, "x", -1, "-2", nullptr}, {'Z', 0, nullptr, 0, nullptr, nullptr},
                           {'L', 0, nullptr, 1, nullptr, nullptr}});
    RunScript(f, "net\n  abc = \"net\" 12 ;\n", {
        {'E', ID, "net", 0, nullptr, ""},
        {'E', ID, "net", -127, nullptr, "(line 2) : ERROR: 'abc' : 'net' expected"},
        {'E', INT, nullptr, -127, nullptr, "(line 2) : ERROR: 'abc' : Integer expected"},
        {'E', QNL_textScanner::SLASH, nullptr, -127, nullptr, "(line 2) : ERROR: 'abc' : Unexpected"},
        {'E', ID, nullptr, 0, "abc", nullptr},
        // "=" has a kind of its own, yet is accepted as the punctuator "=".
        {'E', PUNCT, "=", 0, nullptr, nullptr},
        // A string is no identifier, whatever it spells.
        {'E', ID, "net", -127, nullptr, "(line 2) : ERROR: 'net' : 'net' expected"},
        {'E', STR, nullptr, 0, "net", nullptr},
        {'E', PUNCT, ";", -127, nullptr, "(line 2) : ERROR: '12' : ';' expected"},
        {'E', REAL, nullptr, -127, nullptr, "(line 2) : ERROR: '12' : Real Number expected"},
        {'E', INT, nullptr, 0, nullptr, nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'E', PUNCT, "}", -127, nullptr, "(line 2) : ERROR: End of File : Expecting '}'"},
        {'E', STR, nullptr, -127, nullptr, "(line 2) : ERROR: End of File : Expecting String"},
        {'E', QNL_textScanner::EQUALS, nullptr, -127, nullptr, "(line 2) : ERROR: Unexpected End of File"},
        {'L', 0, nullptr, 9, nullptr, nullptr}, {'F', 0, nullptr, -127, nullptr, nullptr}});
    EXPECT_EQ(f.GetMessage(), "ERROR: Unexpected End of File");
    // An empty string spells the start of every text, but is no punctuator.
    RunScript(f, "\"\" ==", {{'E', PUNCT, "{", -127, nullptr, nullptr}, {'E', STR, nullptr, 0, "", nullptr},
                             {'E', PUNCT, "=", -127, nullptr, nullptr}});
    // The typed readers log nothing; an integer beyond int is refused and stays for another.
    RunScript(f, "x 12 1.5 0.0E-2 \"s\" 99999999999 ,", {
        {'Q', INT, nullptr, -127, nullptr, nullptr}, {'i', 0, nullptr, -127, nullptr, nullptr},
        {'r', 0, nullptr, -127, nullptr, nullptr}, {'s', 0, nullptr, -127, nullptr, nullptr},
        {'d', 0, nullptr, 0, "x", nullptr}, {'r', 0, nullptr, 0, "12.00000000", nullptr},
        {'i', 0, nullptr, -127, nullptr, nullptr}, {'r', 0, nullptr, 0, "1.50000000", nullptr},
        {'r', 0, nullptr, 0, "0.0E-2", nullptr}, {'s', 0, nullptr, 0, "s", nullptr},
        {'i', 0, nullptr, -2, nullptr, nullptr}, {'r', 0, nullptr, 0, "99999999999.00000000", nullptr},
        {'Q', PUNCT, ",", 0, nullptr, nullptr}, {'Q', PUNCT, ",", -111, nullptr, nullptr},
        {'L', 0, nullptr, 0, nullptr, nullptr}, {'F', 0, nullptr, 0, nullptr, nullptr}});
}

TEST(TextParser, ListsReadEmptyAndFullAndReportWhatIsWrong) {
    const struct {
        const char* text;
        Step step;
    } lists[] = {
        {"()", {'l', 0, nullptr, 0, "", nullptr}},
        {"(a, b,c)", {'l', 0, nullptr, 0, "a,b,c", nullptr}},
        {"(a,)", {'l', 0, nullptr, -127, nullptr, ""}},
        {"(a b)", {'l', 0, nullptr, -127, nullptr, "(line 1) : ERROR: 'b' : ')' expected"}},
        {"(1)", {'l', 0, nullptr, -127, nullptr, "(line 1) : ERROR: '1' : ')' expected"}},
        {"a", {'l', 0, nullptr, -127, nullptr, "(line 1) : ERROR: 'a' : '(' expected"}},
        {"(\n", {'l', 0, nullptr, -127, nullptr, "(line 1) : ERROR: End of File : Expecting ')'"}},
        // The list's own rules hold: an identifier array refuses a repeated identifier.
        {"(a, a)", {'u', 0, nullptr, -2, "a", nullptr}},
    };
    for (const auto& list : lists) {
        TestFormat f;
        RunScript(f, list.text, {list.step});
    }
    TestFormat f;
    RunScript(f, "(\"a b\", \"\") (\"x\",) (\"y\" z)", {
        {'g', 0, nullptr, 0, "a b,", nullptr}, {'g', 0, nullptr, -127, nullptr, nullptr}, {'c', 0, nullptr, 0, nullptr, nullptr},
        {'g', 0, nullptr, -127, nullptr, "(line 1) : ERROR: 'z' : ')' expected"}});
    RunScript(f, "(1, 2.5, -3e2, 0.0E-4) () (1,) (x)", {
        {'n', 0, nullptr, 0, "1.00000000,2.50000000,-300.00000000,0.0E-4", nullptr},
        {'n', 0, nullptr, 0, "", nullptr}, {'n', 0, nullptr, -127, nullptr, nullptr}, {'c', 0, nullptr, 0, nullptr, nullptr},
        {'n', 0, nullptr, -127, nullptr, "(line 1) : ERROR: 'x' : ')' expected"}});
    RunScript(f, "(1, -2, 3) (1.5)", {{'m', 0, nullptr, 0, "1,-2,3", nullptr},
        {'m', 0, nullptr, -127, nullptr, "(line 1) : ERROR: '1.5' : ')' expected"}});
}

TEST(TextParser, PropertiesBlocksAndSkippingRecoverAtTheSameDepth) {
    TestFormat f;
    RunScript(f, "A = TRUE; B = FALSE; N = 42; S = \"t\";\nSHOWINARCS = yes; N = x;", {
        {'P', ID, nullptr, -2, nullptr, nullptr}, {'B', 0, "X", -129, nullptr, nullptr},
        {'L', 0, nullptr, 0, nullptr, nullptr}, {'B', 0, "A", 0, "1", nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'B', 0, "B", 0, "0", nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'I', 0, "N", 0, "42", nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'P', STR, "S", 0, "t", nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'B', 0, "SHOWINARCS", -127, nullptr, "(line 2) : ERROR: (\"yes\") : Boolean Expected"},
        {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'I', 0, "N", -127, nullptr, "(line 2) : ERROR: 'x' : Integer expected"}});
    // A statement without its ";" ends at the brace that closes the block.
    RunScript(f, "node A {\n FOO = { A = 1; B = 2; };\n TARGET = TRUE;\n BAR baz }\nnext", {
        {'E', ID, "node", 0, nullptr, nullptr}, {'E', ID, "A", 0, nullptr, nullptr},
        {'E', PUNCT, "{", 0, nullptr, nullptr}, {'S', 0, nullptr, 0, nullptr, nullptr},
        {'Q', PUNCT, ";", 0, nullptr, nullptr}, {'B', 0, "TARGET", 0, "1", nullptr},
        {'Q', PUNCT, ";", 0, nullptr, nullptr}, {'U', 0, nullptr, 0, nullptr, nullptr},
        {'Z', 0, nullptr, 0, nullptr, nullptr}, {'C', 0, nullptr, 0, nullptr, nullptr},
        {'M', 0, "next", 0, nullptr, nullptr}, {'L', 0, nullptr, 0, nullptr, nullptr},
        {'F', 0, nullptr, 0, nullptr, nullptr}});
    RunScript(f, "FOO = { A = 1;", {{'S', 0, nullptr, -111, nullptr, "NO MORE TOKENS"},
                                    {'F', 0, nullptr, -111, nullptr, nullptr}});
    // SkipBlock skips a whole group, or the rest of an open one, and leaves the brace of the
    // enclosing block for its reader.
    RunScript(f, "skip x { a { b ; } c ; } after x { inner { y } z ; } after a b } after", {
        {'K', 0, nullptr, 0, nullptr, nullptr}, {'M', 0, "after", 0, nullptr, nullptr}, {'c', 0, nullptr, 0, nullptr, nullptr},
        {'E', ID, "x", 0, nullptr, nullptr}, {'E', PUNCT, "{", 0, nullptr, nullptr},
        {'K', 1, nullptr, 0, nullptr, nullptr}, {'M', 0, "after", 0, nullptr, nullptr}, {'c', 0, nullptr, 0, nullptr, nullptr},
        {'K', 0, nullptr, 0, nullptr, nullptr}, {'Z', 0, nullptr, 0, nullptr, nullptr},
        {'L', 0, nullptr, 0, nullptr, nullptr}, {'F', 0, nullptr, 0, nullptr, nullptr}});
    RunScript(f, "{ a { b }", {{'K', 0, nullptr, -111, nullptr, "NO MORE TOKENS"}, {'F', 0, nullptr, -111, nullptr, nullptr}});
    RunScript(f, "HEADER = { ID = x; } SCREEN { }", {
        {'O', 0, nullptr, 0, nullptr, nullptr}, {'O', 0, "SCREEN", -129, nullptr, nullptr},
        {'L', 0, nullptr, 0, nullptr, nullptr}, {'O', 0, "HEADER", 0, nullptr, nullptr},
        {'P', ID, "ID", 0, "x", nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr}, {'C', 0, nullptr, 0, nullptr, nullptr},
        {'O', 0, "SCREEN", -127, nullptr, "(line 1) : ERROR: '{' : '=' expected"},
        {'C', 0, nullptr, -127, nullptr, "(line 1) : ERROR: '{' : '}' expected"}});
    // Colon properties with case-insensitive booleans; the name itself is compared exactly.
    f.colon = true;
    f.SetCaseSensitive(false);
    RunScript(f, "OBSERVABLE : true; MANDATORY : False; COST : 3; observable : TRUE;\nNAME = \"x\";", {
        {'B', 0, "OBSERVABLE", 0, "1", nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'B', 0, "MANDATORY", 0, "0", nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'I', 0, "COST", 0, "3", nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'B', 0, "OBSERVABLE", -129, nullptr, nullptr}, {'S', 0, nullptr, 0, nullptr, nullptr},
        {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'P', STR, "NAME", -127, nullptr, "(line 2) : ERROR: '=' : ':' expected"},
        {'I', 0, nullptr, -2, nullptr, nullptr}});
}

// A read that met an error ends with its code; a new read forgets it. A character the scanner
// does not know stops the read with the scanner's code, though the reader only saw a token it
// did not expect.
TEST(TextParser, AReadThatMetAnErrorEndsWithItsCode) {
    TestFormat f;
    RunScript(f, "a;\nb;\nc;", {{'R', 0, "nothing", 0, nullptr, ""}, {'F', 0, nullptr, 0, nullptr, nullptr}});
    RunScript(f, "a;\nb;\nc;", {
        {'E', ID, nullptr, 0, nullptr, nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr}, {'E', ID, nullptr, 0, nullptr, nullptr},
        {'R', -2, "ERROR: Wrong number of Probabilities", -2, nullptr, "(line 2) : ERROR: Wrong number of Probabilities"},
        {'R', -127, "later", -127, nullptr, nullptr}, {'F', 0, nullptr, -2, nullptr, nullptr},
        {'F', -5, nullptr, -5, nullptr, nullptr}});
    RunScript(f, "a", {{'F', 0, nullptr, 0, nullptr, nullptr}});
    RunScript(f, "A = 1;\nB = \x01;\nC = 3;", {
        {'I', 0, "A", 0, "1", nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
        {'I', 0, "B", -127, nullptr, nullptr}, {'S', 0, nullptr, -126, nullptr, nullptr},
        {'F', 0, nullptr, -126, nullptr, nullptr}});
    TempFolder folder("text_parser");
    EXPECT_EQ(f.OpenPath(folder.File("missing.qnl")), -103);
    EXPECT_EQ(LastMessage(), "OPEN FILE FAILED: '" + folder.File("missing.qnl") + "' (no such file)");
    EXPECT_EQ(f.OpenPath(folder.Put("empty.qnl", "")), -102);
    // Matching honours case sensitivity, Expect never.
    RunScript(f, "True false", {{'M', 0, "TRUE", -1, nullptr, nullptr}});
    const char* const words[] = {"x", "TRUE", nullptr};
    EXPECT_TRUE(f.Match("True"));
    EXPECT_FALSE(f.MatchAny(words));
    f.SetCaseSensitive(false);
    EXPECT_TRUE(f.PeekMatch("TRUE") && f.PeekMatchAny(words) && !f.Match(nullptr));
    RunScript(f, nullptr, {{'Q', ID, "TRUE", -127, nullptr, nullptr}, {'Q', ID, "True", 0, nullptr, nullptr},
                           {'M', 0, "FALSE", 0, nullptr, nullptr}, {'c', 0, nullptr, 0, nullptr, nullptr},
                           {'M', 0, "false", -1, "-111", nullptr}, {'Z', 0, nullptr, 0, nullptr, nullptr}});
    EXPECT_FALSE(f.NextIsIdentifier() || f.NextIsNumber());
}
// clang-format on

std::string Written(TestFormat& format, const std::function<void(TestFormat&)>& body) {
    TempFolder folder("text_parser_out");
    const std::string path = folder.File("written.txt");
    EXPECT_EQ(format.OpenFile(path.c_str(), QNL_textFile::WRITE_MODE), 0);
    body(format);
    EXPECT_EQ(format.CloseFile(), 0);
    return TempFolder::Get(path);
}

TEST(TextParser, WritersLayOutPropertiesListsAndBlocks) {
    TestFormat f;
    QNL_stringArray none, parents;
    parents.Add("A");
    parents.Add("B");
    QNL_doubleArray capacity;
    ASSERT_EQ(capacity.SetSize(2), 0);
    capacity[0] = 0.5;
    capacity[1] = QNL_UNDEFINED_NUMBER;
    QNL_intArray flags;
    flags.Add(1);
    flags.Add(-7);
    EXPECT_EQ(Written(f,
                      [&](TestFormat& w) {
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
                      }),
              "HEADER = \n {\n  ID = x;\n  COMMENT = \"say \\\"hi\\\"\\\\\";\n };\n"
              "PARENTS = ();\nPARENTS = (A, B);\nALL = (0.50000000, 0.0E-2);\nUSED = ();\n"
              "FLAGS = (1, -7);\nNAMES = (\"A\", \"B\");\nTARGET = TRUE;\nNUMSAMPLES = -3;\n"
              "bnet x {\n title = \"a\tb\";\n");
    EXPECT_EQ(QNL_textParser::Escape("a\tb\nc\rd\"e\\f"), "a\\tb\\nc\\rd\\\"e\\\\f");
    EXPECT_EQ(QNL_textParser::Escape(nullptr), "");
    // Long quoted text breaks after blanks with a continuation; without one a string is never
    // broken (a line end would become part of it), what follows it still wraps.
    const char* name = "the quick brown fox jumps over the lazy dog again";
    auto body = [&](TestFormat& w) { w.WriteStringProperty("NAME", name); };
    f.continuation = true;
    ASSERT_EQ(f.SetRightMargin(30), 0);
    const std::string broken = Written(f, [&](TestFormat& w) { w.Indent(), body(w); });
    EXPECT_EQ(broken,
              " NAME = \"the quick brown fox \\ \n jumps over the lazy dog \\ \n again\";\n");
    f.continuation = false;
    const std::string whole = Written(f, body);
    EXPECT_EQ(whole, std::string("NAME = \"") + name + "\"\n;\n");
    for (const std::string& text : {broken, whole}) {
        RunScript(f, text.c_str(), {{'P', STR, "NAME", 0, name, nullptr}});
    }
}

// Random texts, lists and numbers written at random margins, indentations and columns
// read back through the scanner as the same tokens.
TEST(TextParser, WrittenTextReadsBackAsTheSameTokens) {
    std::mt19937 random(20240611);
    const std::string alphabet = "abcdefgh   \"\\\t\n\r\b\x01\xC3-_.,;{}";
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto randomText = [&]() {
        std::string s;
        for (int i = pick(160); i > 0; --i) {
            const char c =
                alphabet[static_cast<std::size_t>(pick(static_cast<int>(alphabet.size())))];
            s += c == '\xC3' ? std::string("\xC3\xA9") : std::string(1, c);
        }
        return s;
    };
    const double specials[] = {QNL_UNDEFINED_NUMBER, QNL_ILLEGAL_NUMBER, -0.125, 1e-9, 1e300, 0.1};
    for (int round = 0; round < 300 && !::testing::Test::HasFailure(); ++round) {
        TestFormat f;
        f.continuation = round % 3 != 0;
        ASSERT_EQ(f.SetRightMargin(10 + pick(80)), 0);
        for (int i = pick(6); i > 0; --i)
            f.Indent();
        const std::string single = randomText();
        QNL_stringArray strings, ids;
        QNL_doubleArray reals;
        QNL_intArray ints;
        for (int i = pick(6); i > 0; --i)
            strings.Add(randomText().c_str());
        for (int i = pick(12); i > 0; --i)
            ids.Add(("id_" + std::to_string(pick(100000))).c_str());
        for (int i = pick(15); i > 0; --i)
            reals.Add(pick(3) == 0 ? specials[pick(6)]
                                   : std::ldexp(static_cast<double>(random()), -pick(40)));
        for (int i = pick(15); i > 0; --i)
            ints.Add(static_cast<int>(random() % 2000000000u) - 1000000000);
        const std::string text = Written(f, [&](TestFormat& w) {
            w.WriteRaw(std::string(static_cast<std::size_t>(pick(60) + 1), 'p').c_str());
            w.WriteText(" ");
            w.WriteStringProperty("S", single.c_str());
            w.WriteStringListProperty("L", strings, false);
            w.WriteIdentifierListProperty("I", ids, false);
            w.WriteRealListProperty("R", reals, false);
            w.WriteIntegerListProperty("N", ints, false);
        });
        SCOPED_TRACE(text);
        const std::string p = Joined(strings), i = Joined(ids), r = JoinedNumbers(reals),
                          n = JoinedNumbers(ints);
        // clang-format off
        RunScript(f, text.c_str(), {
            {'d', 0, nullptr, 0, nullptr, nullptr}, {'P', STR, "S", 0, single.c_str(), nullptr},
            {'E', PUNCT, ";", 0, nullptr, nullptr}, {'E', ID, "L", 0, nullptr, nullptr}, {'E', PUNCT, "=", 0, nullptr, nullptr},
            {'g', 0, nullptr, 0, p.c_str(), nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
            {'E', ID, "I", 0, nullptr, nullptr}, {'E', PUNCT, "=", 0, nullptr, nullptr},
            {'l', 0, nullptr, 0, i.c_str(), nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
            {'E', ID, "R", 0, nullptr, nullptr}, {'E', PUNCT, "=", 0, nullptr, nullptr},
            {'n', 0, nullptr, 0, r.c_str(), nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
            {'E', ID, "N", 0, nullptr, nullptr}, {'E', PUNCT, "=", 0, nullptr, nullptr},
            {'m', 0, nullptr, 0, n.c_str(), nullptr}, {'E', PUNCT, ";", 0, nullptr, nullptr},
            {'F', 0, nullptr, 0, nullptr, nullptr}, {'L', 0, nullptr, 0, nullptr, nullptr}});
        // clang-format on
    }
}

// The walk looks past deleted slots to the last node.
TEST(TextParser, HasNoMauNodesFindsAnyMultiAttributeUtilityNode) {
    quarn_test::ScopedTestDefinitions definitions;
    format_test::ScopedStubType<QNL_TYPE_MAU> mau;
    QNL_network net;
    TestFormat format(&net);
    EXPECT_TRUE(format.HasNoMauNodes() && TestFormat(nullptr).HasNoMauNodes());
    quarn_test::AddNode(net, "A");
    const int b = quarn_test::AddNode(net, "B");
    EXPECT_TRUE(format.HasNoMauNodes());
    const int u = net.AddNode(QNL_TYPE_MAU, "U");
    ASSERT_GE(u, 0);
    EXPECT_FALSE(format.HasNoMauNodes());
    ASSERT_EQ(net.DeleteNode(b), 0);
    EXPECT_FALSE(format.HasNoMauNodes());
    ASSERT_EQ(net.DeleteNode(u), 0);
    EXPECT_TRUE(format.HasNoMauNodes());
}

} // namespace
