// Bad model files must never bring the library down. Every reader gets real and hand-written
// files mangled in seeded, repeatable ways (cut short, bytes flipped, lines lost or doubled,
// garbage, absurd sizes and numbers, broken graphs) and must come back with either a code and
// a logged reason, or a consistent network that survives a write and a second read.

#include "format_test_support.h"
#include "formats/format.h"
#include "model/error_handler.h"
#include "model/network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using format_test::TempFolder;

// A reader that needs longer than this for a file of a few kilobytes is as good as hung.
constexpr double kSlowReadSeconds = 2.0;

struct Format {
    int code;
    const char* extension;
};
constexpr Format kHugin{QNL_FORMAT_HUGIN, ".net"};
constexpr Format kMsbn{QNL_FORMAT_MSBN, ".dsc"};
constexpr Format kXmlbif{QNL_FORMAT_XMLBIF, ".xml03"};
constexpr Format kXml{QNL_FORMAT_XML, ".xqnl"};

// A model file to mangle: where it came from (for the failure message) and its bytes.
struct Seed {
    std::string name;
    std::string bytes;
};

const char* const kHuginSeed = R"(net
{
    node_size = (80 40);
}
node Weather
{
    label = "The weather";
    position = (100 50);
    states = ("sun" "rain");
}
node Forecast
{
    states = ("sunny" "cloudy" "rainy");
}
decision Umbrella
{
    states = ("take" "leave");
}
utility Comfort
{
}
potential (Weather) { data = ( 0.7 0.3 ); }
potential (Forecast | Weather)
{
    data = (( 0.7 0.2 0.1 ) ( 0.15 0.25 0.6 ));
}
potential (Umbrella | Forecast) {}
potential (Comfort | Umbrella Weather)
{
    data = (( 20 70 ) ( 100 0 ));
}
)";

const char* const kXmlbifSeed = R"(<?xml version="1.0"?>
<BIF VERSION="0.3">
<NETWORK>
<NAME>Small</NAME>
<VARIABLE TYPE="nature">
    <NAME>Alpha</NAME>
    <OUTCOME>yes</OUTCOME>
    <OUTCOME>no</OUTCOME>
    <PROPERTY>position = (10, 20)</PROPERTY>
</VARIABLE>
<VARIABLE TYPE="nature">
    <NAME>Beta</NAME>
    <OUTCOME>low</OUTCOME>
    <OUTCOME>high</OUTCOME>
</VARIABLE>
<VARIABLE TYPE="decision">
    <NAME>Choice</NAME>
    <OUTCOME>go</OUTCOME>
    <OUTCOME>stay</OUTCOME>
</VARIABLE>
<VARIABLE TYPE="utility">
    <NAME>Gain</NAME>
</VARIABLE>
<DEFINITION>
    <FOR>Alpha</FOR>
    <TABLE>0.3 0.7</TABLE>
</DEFINITION>
<DEFINITION>
    <FOR>Beta</FOR>
    <GIVEN>Alpha</GIVEN>
    <TABLE>0.1 0.9 0.6 0.4</TABLE>
</DEFINITION>
<DEFINITION>
    <FOR>Choice</FOR>
    <GIVEN>Beta</GIVEN>
</DEFINITION>
<DEFINITION>
    <FOR>Gain</FOR>
    <GIVEN>Choice</GIVEN>
    <GIVEN>Alpha</GIVEN>
    <TABLE>5 -1 0 2</TABLE>
</DEFINITION>
</NETWORK>
</BIF>
)";

std::string ReadBytes(const std::string& path) {
    return TempFolder::Get(path);
}

std::vector<Seed> Seeds(const Format& format) {
    const std::string data = std::string(QUARN_TEST_DATA_DIR) + "/";
    const std::string shared = format_test::SharedNetworks() + "/";
    std::vector<Seed> seeds;
    auto add = [&seeds](const std::string& path) {
        if (!std::filesystem::exists(path)) return;
        seeds.push_back({std::filesystem::path(path).filename().string(), ReadBytes(path)});
    };
    if (format.code == QNL_FORMAT_HUGIN) {
        seeds.push_back({"inline influence diagram", kHuginSeed});
        add(shared + "net/asia.net");     // flat data lists
        add(shared + "net/noisy_or.net"); // CRLF, written by the original tool
        add(shared + "net/cancer.net");
    } else if (format.code == QNL_FORMAT_MSBN) {
        add(data + "msbn/umbrella.dsc");
        add(data + "msbn/ab_cb.dsc");
        add(shared + "dsc/cancer.dsc");
    } else if (format.code == QNL_FORMAT_XMLBIF) {
        seeds.push_back({"inline influence diagram", kXmlbifSeed});
        add(data + "xmlbif/foreign_names.xml03");
        add(shared + "xmlbif/cancer.xml");
    } else {
        add(data + "xqnl/full.xqnl");
    }
    return seeds;
}

// The byte-level and line-level damage, all drawn from one seeded generator so that a
// failure names a mutation that can be replayed.
class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : random(seed) {}

    std::size_t Below(std::size_t n) { return n == 0 ? 0 : random() % n; }

    // (description, bytes) pairs derived from the text.
    std::vector<std::pair<std::string, std::string>> All(const std::string& text, int rounds) {
        std::vector<std::pair<std::string, std::string>> out;
        // Cut at evenly spaced points, the last one just before the end.
        const std::size_t cuts = std::min<std::size_t>(text.size(), 16);
        for (std::size_t i = 0; i < cuts; ++i) {
            const std::size_t at = text.size() - 1 - i * text.size() / cuts;
            out.emplace_back("truncated at byte " + std::to_string(at), text.substr(0, at));
        }
        const auto lines = SplitLines(text);
        static const unsigned char kBytes[] = {0x00, 0xff, 0x80, '{', '}', '(', ')', ';',  '<',
                                               '>',  '"',  '/',  '=', '&', '%', ' ', '\n', '9'};
        for (int r = 0; r < rounds; ++r) {
            if (text.empty()) break;
            const std::size_t at = Below(text.size());
            const unsigned char b =
                r % 2 == 0 ? kBytes[Below(sizeof kBytes)] : static_cast<unsigned char>(Below(256));
            std::string flipped = text;
            flipped[at] = static_cast<char>(b);
            out.emplace_back("byte " + std::to_string(at) + " set to " + std::to_string(b),
                             flipped);

            const std::size_t line = Below(lines.size());
            out.emplace_back("line " + std::to_string(line) + " deleted",
                             JoinLines(lines, line, 0));
            out.emplace_back("line " + std::to_string(line) + " doubled",
                             JoinLines(lines, line, 2));

            // NUL bytes, then invalid UTF-8 (bad continuation, BOM-like, lone continuation,
            // overlong, surrogate, above U+10FFFF), then markup and quoting leftovers.
            static const std::string kGarbage[] = {
                std::string(3, '\0'), "\xc3\x28",         "\xff\xfe", "\x80", "\xc0\xaf",
                "\xed\xa0\x80",       "\xf4\x90\x80\x80", "]]>",      "\"",   "\\"};
            const std::size_t g = Below(std::size(kGarbage));
            const std::string& garbage = kGarbage[g];
            const std::size_t where = Below(text.size() + 1);
            out.emplace_back("garbage " + std::to_string(g) + " inserted at " +
                                 std::to_string(where),
                             text.substr(0, where) + garbage + text.substr(where));
        }
        return out;
    }

    static std::vector<std::string> SplitLines(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end + 1;
            lines.push_back(text.substr(start, end - start));
            start = end;
        }
        return lines;
    }

    // The lines with the one at `index` kept `copies` times.
    static std::string JoinLines(const std::vector<std::string>& lines, std::size_t index,
                                 int copies) {
        std::string text;
        for (std::size_t i = 0; i < lines.size(); ++i)
            for (int c = 0; c < (i == index ? copies : 1); ++c)
                text += lines[i];
        return text;
    }

private:
    std::mt19937 random;
};

// The text with the first `from` replaced; the text unchanged when absent.
std::string Replace(const std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) return text;
    return text.substr(0, at) + to + text.substr(at + from.size());
}

class RobustnessTest : public ::testing::Test {
protected:
    // Reads the bytes as a file of the format and checks the outcome as described at the
    // top. A failure names the format, the seed and the mutation.
    void Probe(const Format& format, const std::string& origin, const std::string& mutation,
               const std::string& bytes) {
        const std::string where = std::string(format.extension) + " " + origin + ": " + mutation;
        const std::string path = folder.Put(std::string("in") + format.extension, bytes);
        QNL_errorHandler& log = QNL_errorHandler::Instance();
        log.Flush();
        QNL_network network;
        const auto start = std::chrono::steady_clock::now();
        const int result = network.ReadFile(path.c_str(), format.code);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        ++probes;
        EXPECT_LT(took.count(), kSlowReadSeconds) << where;
        if (result != 0) {
            EXPECT_LT(result, 0) << where;
            EXPECT_GT(log.GetNumberOfErrors(), 0)
                << where << ": code " << result << " without a message";
            return;
        }
        ++accepted;
        EXPECT_EQ(0, network.CheckConsistency(1)) << where;
        const std::string copy = folder.File(std::string("copy") + format.extension);
        std::filesystem::remove(copy);
        log.Flush();
        const int written = network.WriteFile(copy.c_str(), format.code);
        if (written != 0) {
            ADD_FAILURE() << where << ": read, but writing it back gave " << written << " "
                          << (log.GetNumberOfErrors() > 0 ? log.GetMessage(0) : "");
            EXPECT_FALSE(std::filesystem::exists(copy)) << where;
            return;
        }
        QNL_network again;
        const int reread = again.ReadFile(copy.c_str(), format.code);
        EXPECT_EQ(0, reread) << where << ": the written copy does not read back: "
                             << (log.GetNumberOfErrors() > 0 ? log.GetMessage(0) : "");
        if (reread == 0) {
            EXPECT_EQ(network.GetNumberOfNodes(), again.GetNumberOfNodes()) << where;
        }
    }

    void ProbeAll(const Format& format, const Seed& seed,
                  const std::vector<std::pair<std::string, std::string>>& cases) {
        for (const auto& [mutation, bytes] : cases)
            Probe(format, seed.name, mutation, bytes);
    }

    // Every seed must read cleanly before it is damaged, or the damage proves nothing.
    std::vector<Seed> CheckedSeeds(const Format& format) {
        std::vector<Seed> seeds = Seeds(format);
        for (const Seed& seed : seeds) {
            QNL_errorHandler::Instance().Flush();
            QNL_network network;
            const std::string path = folder.Put(std::string("seed") + format.extension, seed.bytes);
            EXPECT_EQ(0, network.ReadFile(path.c_str(), format.code)) << seed.name;
        }
        return seeds;
    }

    void Sweep(const Format& format, std::uint32_t seedValue, int rounds) {
        Mutator mutator(seedValue);
        for (const Seed& seed : CheckedSeeds(format))
            ProbeAll(format, seed, mutator.All(seed.bytes, rounds));
    }

    TempFolder folder{"robust"};
    int probes = 0;
    int accepted = 0;
};

// ---- the seeded byte and line damage ----

TEST_F(RobustnessTest, HuginReaderSurvivesRandomDamage) {
    Sweep(kHugin, 0x5eed01, 14);
    // Some damage is harmless and some is not: both paths must have been taken.
    EXPECT_GT(accepted, 0);
    EXPECT_GT(probes - accepted, 0);
}

TEST_F(RobustnessTest, MsbnReaderSurvivesRandomDamage) {
    Sweep(kMsbn, 0x5eed02, 14);
    // Some damage is harmless and some is not: both paths must have been taken.
    EXPECT_GT(accepted, 0);
    EXPECT_GT(probes - accepted, 0);
}

TEST_F(RobustnessTest, XmlbifReaderSurvivesRandomDamage) {
    Sweep(kXmlbif, 0x5eed03, 14);
    // Some damage is harmless and some is not: both paths must have been taken.
    EXPECT_GT(accepted, 0);
    EXPECT_GT(probes - accepted, 0);
}

TEST_F(RobustnessTest, XmlReaderSurvivesRandomDamage) {
    Sweep(kXml, 0x5eed04, 40);
    // Some damage is harmless and some is not: both paths must have been taken.
    EXPECT_GT(accepted, 0);
    EXPECT_GT(probes - accepted, 0);
}

// ---- damage that keeps the syntax: identifiers, numbers, sizes, nesting ----

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// The positions where the name stands as a whole word.
std::vector<std::size_t> WordPositions(const std::string& text, const std::string& name) {
    std::vector<std::size_t> positions;
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const bool before = at > 0 && IsNameChar(text[at - 1]);
        const std::size_t end = at + name.size();
        const bool after = end < text.size() && IsNameChar(text[end]);
        if (!before && !after) positions.push_back(at);
    }
    return positions;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t at : WordPositions(text, from)) {
        out += text.substr(start, at - start) + to;
        start = at + from.size();
    }
    return out + text.substr(start);
}

using Cases = std::vector<std::pair<std::string, std::string>>;

// Every single mention of a node replaced by another node or by one that does not exist:
// duplicate identifiers, self-arcs, arcs from and tables for undefined nodes.
Cases NameSwaps(const std::string& text, const std::vector<std::string>& names) {
    Cases cases;
    std::vector<std::string> others = names;
    others.push_back("Ghost");
    for (const std::string& name : names) {
        for (std::size_t at : WordPositions(text, name)) {
            for (const std::string& other : others) {
                if (other == name) continue;
                cases.emplace_back(name + " at byte " + std::to_string(at) + " renamed " + other,
                                   text.substr(0, at) + other + text.substr(at + name.size()));
            }
        }
    }
    return cases;
}

// The number replaced by values a careless reader mishandles, except those in `skip`.
Cases NumberSwaps(const std::string& text, const std::string& number,
                  const std::vector<std::string>& skip = {}) {
    static const char* const kNumbers[] = {
        "1e999",      "-1e999",     "nan",    "NaN",      "-nan", "inf",
        "-inf",       "-0",         "1e-400", "4.9e-324", "-1",   "2",
        "1e308",      "0x10",       "1..2",   "+-1",      "--1",  "1e",
        ".",          "-",          "+",      "0,5",      "1/2",  "99999999999999999999999999999",
        "2147483647", "-2147483648"};
    Cases cases;
    const std::size_t at = text.find(number);
    if (at == std::string::npos) return cases;
    for (const char* replacement : kNumbers)
        if (std::find(skip.begin(), skip.end(), replacement) == skip.end())
            cases.emplace_back(number + " at byte " + std::to_string(at) + " replaced by " +
                                   replacement,
                               text.substr(0, at) + replacement + text.substr(at + number.size()));
    return cases;
}

// Oversized pieces: a name, a state and a stretch of blanks of 100 000 characters, and a
// number with 100 000 digits.
Cases LongTokens(const std::string& text, const std::string& name, const std::string& state,
                 const std::string& number) {
    const std::string longName(100000, 'n');
    const std::string longState = "s" + std::string(100000, '9');
    Cases cases;
    cases.emplace_back("every " + name + " renamed to 100000 characters",
                       ReplaceAll(text, name, longName));
    cases.emplace_back("first " + name + " renamed to 100000 characters",
                       Replace(text, name, longName));
    cases.emplace_back("state " + state + " renamed to 100000 characters",
                       Replace(text, state, longState));
    cases.emplace_back("number " + number + " given with 100000 digits",
                       Replace(text, number, "0." + std::string(100000, '0') + "1"));
    cases.emplace_back("number " + number + " preceded by 100000 blanks",
                       Replace(text, number, std::string(100000, ' ') + number));
    cases.emplace_back("a 200000-byte line of 'x' appended", text + std::string(200000, 'x'));
    cases.emplace_back("a 200000-byte line of '(' appended", text + std::string(200000, '('));
    return cases;
}

// `depth` copies of open inserted after `anchor`, closed again or cut off there.
Cases Nesting(const std::string& text, const std::string& anchor, const std::string& open,
              const std::string& close, int depth) {
    Cases cases;
    const std::size_t at = text.find(anchor);
    if (at == std::string::npos) return cases;
    const std::size_t where = at + anchor.size();
    std::string opening, closing;
    for (int i = 0; i < depth; ++i) {
        opening += open;
        closing += close;
    }
    const std::string what = std::to_string(depth) + " x '" + open + "' after '" + anchor + "'";
    cases.emplace_back(what + ", closed",
                       text.substr(0, where) + opening + closing + text.substr(where));
    cases.emplace_back(what + ", file ends there", text.substr(0, where) + opening);
    return cases;
}

// `count` nodes, the last of 3 states with all others, of `states` states each, as parents;
// no table that fits: a file of some kilobytes that claims a table of 3 * states^(count - 1)
// cells.
std::string StateList(int states, const char* open, const char* separator, const char* close,
                      const char* quote) {
    std::string list = open;
    for (int k = 0; k < states; ++k)
        list += (k > 0 ? separator : "") + std::string(quote) + "s" + std::to_string(k) + quote;
    return list + close;
}

std::string HugeTableHugin(int count, int states) {
    std::string text = "net\n{\n}\n";
    for (int i = 0; i < count; ++i)
        text += "node N" + std::to_string(i) +
                "\n{\n    states = " + StateList(i + 1 == count ? 3 : states, "(", " ", ")", "\"") +
                ";\n}\n";
    text += "potential (N" + std::to_string(count - 1) + " |";
    for (int i = 0; i + 1 < count; ++i)
        text += " N" + std::to_string(i);
    return text + ") { }\n";
}

std::string HugeTableMsbn(int count, int states) {
    std::string text = "belief network \"big\"\n";
    for (int i = 0; i < count; ++i)
        text += "node N" + std::to_string(i) + "\n{\n    type : discrete[" +
                std::to_string(states) +
                "] = " + StateList(i + 1 == count ? 3 : states, "{", ", ", "}", "\"") + ";\n}\n";
    text += "probability ( N" + std::to_string(count - 1) + " |";
    for (int i = 0; i + 1 < count; ++i)
        text += (i > 0 ? ", N" : " N") + std::to_string(i);
    return text + " )\n{\n}\n";
}

std::string HugeTableXmlbif(int count, int states) {
    std::string text =
        "<?xml version=\"1.0\"?>\n<BIF VERSION=\"0.3\">\n<NETWORK>\n<NAME>big</NAME>\n";
    for (int i = 0; i < count; ++i)
        text += "<VARIABLE TYPE=\"nature\"><NAME>N" + std::to_string(i) + "</NAME>" +
                StateList(i + 1 == count ? 3 : states, "<OUTCOME>", "</OUTCOME><OUTCOME>",
                          "</OUTCOME>", "") +
                "</VARIABLE>\n";
    text += "<DEFINITION><FOR>N" + std::to_string(count - 1) + "</FOR>";
    for (int i = 0; i + 1 < count; ++i)
        text += "<GIVEN>N" + std::to_string(i) + "</GIVEN>";
    return text + "<TABLE>0.5 0.5</TABLE></DEFINITION>\n</NETWORK>\n</BIF>\n";
}

std::string HugeTableXml(int count, int states) {
    std::string text = "<?xml version=\"1.0\"?>\n<quarn version=\"1.0\" id=\"big\">\n<nodes>\n";
    for (int i = 0; i < count; ++i) {
        const bool child = i + 1 == count;
        text += "<cpt id=\"N" + std::to_string(i) + "\">" +
                StateList(child ? 3 : states, "<state id=\"", "\" /><state id=\"", "\" />", "");
        if (child) {
            text += "<parents>";
            for (int p = 0; p + 1 < count; ++p)
                text += " N" + std::to_string(p);
            text += "</parents><probabilities>0.5 0.5 0</probabilities></cpt>\n";
        } else {
            text += "<probabilities>1";
            for (int k = 1; k < states; ++k)
                text += " 0";
            text += "</probabilities></cpt>\n";
        }
    }
    return text + "</nodes>\n</quarn>\n";
}

// Three parents of 900 states over a child of 3: two parents give 2.4 million cells, the third
// goes past what a table may hold.
constexpr int kManyStates = 900;

// A node that lists itself, and two nodes that list each other, as parents.
Cases HuginGraphs() {
    const std::string head = R"(net
{
}
node A
{
    states = ("a0" "a1");
}
node B
{
    states = ("b0" "b1");
}
)";
    return {
        {"self-arc", head + "potential (A | A) { data = ((0.5 0.5) (0.5 0.5)); }\n"},
        {"cycle", head + "potential (A | B) { }\npotential (B | A) { }\n"},
        {"two tables for one node",
         head + "potential (A) { data = (0.5 0.5); }\npotential (A) { data = (0.1 0.9); }\n"},
        {"repeated parent", head + "potential (B | A A) { }\n"},
        {"repeated state", R"(net { } node A { states = ("x" "x"); })"},
        {"no states", R"(net { } node A { states = (); } potential (A) { data = (); })"},
        {"table too short", head + "potential (B | A) { data = ((0.5 0.5) (0.5)); }\n"},
        {"table too long", head + "potential (B | A) { data = ((0.5 0.5) (0.5 0.5 0.1)); }\n"},
        {"table of strings", head + "potential (A) { data = (\"x\" \"y\"); }\n"},
        {"empty file", ""},
        {"only a NUL byte", std::string(1, '\0')},
        {"duplicate node", head + "node A\n{\n    states = (\"c0\" \"c1\" \"c2\");\n}\n"},
    };
}

Cases MsbnGraphs() {
    const std::string head = R"(belief network "g"
node A { type : discrete[2] = { "a0", "a1" }; }
node B { type : discrete[2] = { "b0", "b1" }; }
)";
    return {
        {"self-arc", head + "probability ( A | A ) { (0) : 0.5, 0.5; (1) : 0.5, 0.5; }\n"},
        {"cycle", head + "probability ( A | B ) { }\nprobability ( B | A ) { }\n"},
        {"two tables for one node",
         head + "probability ( A ) { 0.5, 0.5; }\nprobability ( A ) { 0.1, 0.9; }\n"},
        {"repeated parent", head + "probability ( B | A, A ) { }\n"},
        {"a billion states declared",
         "belief network \"g\"\nnode A { type : discrete[1000000000] = { \"a\", \"b\" }; }\n"},
        {"states count beyond int",
         "belief network \"g\"\nnode A { type : discrete[99999999999999] = { \"a\" }; }\n"},
        {"negative states count",
         "belief network \"g\"\nnode A { type : discrete[-5] = { \"a\", \"b\" }; }\n"},
        {"no states", "belief network \"g\"\nnode A { type : discrete[0] = { }; }\n"},
        {"huge coordinates",
         head + "probability ( B | A ) { (2147483647) : 0.5, 0.5; (-2147483648) : 0.5, 0.5; }\n"},
        {"coordinates beyond int",
         head + "probability ( B | A ) { (99999999999999999999) : 0.5, 0.5; }\n"},
        {"table too long", head + "probability ( A ) { 0.5, 0.5, 0.1; }\n"},
        {"empty file", ""},
        {"only a NUL byte", std::string(1, '\0')},
        {"duplicate node", head + "node A { type : discrete[3] = { \"c0\", \"c1\", \"c2\" }; }\n"},
    };
}

Cases XmlbifGraphs() {
    const std::string head = R"(<?xml version="1.0"?>
<BIF VERSION="0.3"><NETWORK><NAME>g</NAME>
<VARIABLE><NAME>A</NAME><OUTCOME>a0</OUTCOME><OUTCOME>a1</OUTCOME></VARIABLE>
<VARIABLE><NAME>B</NAME><OUTCOME>b0</OUTCOME><OUTCOME>b1</OUTCOME></VARIABLE>
)";
    const std::string tail = "</NETWORK></BIF>\n";
    return {
        {"self-arc",
         head + "<DEFINITION><FOR>A</FOR><GIVEN>A</GIVEN><TABLE>.5 .5 .5 .5</TABLE></DEFINITION>" +
             tail},
        {"cycle", head + "<DEFINITION><FOR>A</FOR><GIVEN>B</GIVEN></DEFINITION>" +
                      "<DEFINITION><FOR>B</FOR><GIVEN>A</GIVEN></DEFINITION>" + tail},
        {"two tables for one node", head + "<DEFINITION><FOR>A</FOR><TABLE>.5 .5</TABLE>" +
                                        "</DEFINITION><DEFINITION><FOR>A</FOR>" +
                                        "<TABLE>.1 .9</TABLE></DEFINITION>" + tail},
        {"repeated parent",
         head + "<DEFINITION><FOR>B</FOR><GIVEN>A</GIVEN><GIVEN>A</GIVEN></DEFINITION>" + tail},
        {"repeated state",
         head + "<VARIABLE><NAME>C</NAME><OUTCOME>x</OUTCOME><OUTCOME>x</OUTCOME></VARIABLE>" +
             tail},
        {"no states", head + "<VARIABLE><NAME>C</NAME></VARIABLE>" + tail},
        {"empty names", head + "<VARIABLE><NAME></NAME><OUTCOME></OUTCOME></VARIABLE>" + tail},
        {"same name twice",
         head + "<VARIABLE><NAME>A</NAME><OUTCOME>x</OUTCOME></VARIABLE>" + tail},
        {"character references",
         head + "<VARIABLE><NAME>&#0;&#x110000;&#xD800;&#99999999999;&#;</NAME></VARIABLE>" + tail},
        {"control characters in texts",
         head + "<VARIABLE><NAME>C\x0f\x01</NAME><OUTCOME>c\x1f</OUTCOME>" +
             "<PROPERTY>note = a\x02&#1;b</PROPERTY></VARIABLE>" + tail},
        {"unclosed CDATA and comment", head + "<![CDATA[ <!-- " + tail},
        {"empty file", ""},
        {"only a NUL byte", std::string(1, '\0')},
    };
}

Cases XmlGraphs() {
    const std::string head = R"(<?xml version="1.0"?>
<quarn version="1.0" id="g"><nodes>
<cpt id="A"><state id="a0" /><state id="a1" /><probabilities>0.5 0.5</probabilities></cpt>
)";
    const std::string tail = "</nodes></quarn>\n";
    return {
        {"self-arc", head +
                         R"(<cpt id="B"><state id="b0" /><state id="b1" /><parents>B</parents>)" +
                         "<probabilities>.5 .5 .5 .5</probabilities></cpt>" + tail},
        {"repeated parent",
         head + R"(<cpt id="B"><state id="b0" /><state id="b1" /><parents>A A</parents>)" +
             "<probabilities>.5 .5 .5 .5 .5 .5 .5 .5</probabilities></cpt>" + tail},
        {"undefined parent", head + R"(<cpt id="B"><state id="b0" /><parents>Z</parents>)" +
                                 "<probabilities>1 1</probabilities></cpt>" + tail},
        {"duplicate node", head + R"(<cpt id="A"><state id="x" /><probabilities>1)" +
                               "</probabilities></cpt>" + tail},
        {"repeated state", head + R"(<cpt id="B"><state id="x" /><state id="x" />)" +
                               "<probabilities>.5 .5</probabilities></cpt>" + tail},
        {"invalid identifiers",
         head + R"(<cpt id=""><state id="" /><probabilities>1</probabilities></cpt>)" + tail},
        {"table too long", head + R"(<cpt id="B"><state id="b0" /><state id="b1" />)" +
                               "<probabilities>.5 .5 .5</probabilities></cpt>" + tail},
        {"negative probabilities", head + R"(<cpt id="B"><state id="b0" /><state id="b1" />)" +
                                       "<probabilities>-1 2</probabilities></cpt>" + tail},
        {"deterministic with a state that is not there",
         head + R"(<deterministic id="B"><state id="b0" /><parents>A</parents>)" +
             "<resultingstates>b0 zz</resultingstates></deterministic>" + tail},
        {"utility without values",
         head + R"(<utility id="U"><parents>A</parents></utility>)" + tail},
        {"entity expansion",
         "<?xml version=\"1.0\"?><!DOCTYPE q [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
         "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
         "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
         "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
         "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
         "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>"
         "<quarn version=\"1.0\" id=\"g\"><properties><property id=\"p\">&f;&f;&f;&f;"
         "</property></properties></quarn>"},
        {"external entity",
         "<?xml version=\"1.0\"?><!DOCTYPE q [<!ENTITY x SYSTEM \"/etc/passwd\">]>"
         "<quarn version=\"1.0\" id=\"g\"><properties><property id=\"p\">&x;</property>"
         "</properties></quarn>"},
        {"version beyond any", "<quarn version=\"1e999\" id=\"g\"></quarn>"},
        {"version not a number", "<quarn version=\"nan\" id=\"g\"></quarn>"},
        {"sample count beyond int",
         "<quarn version=\"1.0\" id=\"g\" numsamples=\"99999999999\"></quarn>"},
        {"negative sample count", "<quarn version=\"1.0\" id=\"g\" numsamples=\"-1\"></quarn>"},
        {"evidence in a far time slice",
         head + tail.substr(0, 8) +
             R"(<cases><case name="c"><evidence node="A" state="a0" slice="2147483647" />)" +
             "</case></cases></quarn>"},
        {"empty file", ""},
        {"only a NUL byte", std::string(1, '\0')},
    };
}

// Submodels inside the first submodel, each inside the one before.
std::string NestedSubmodels(const std::string& text, int depth) {
    const std::string anchor = "<window>1 2 301 202</window>";
    const std::size_t at = text.find(anchor);
    if (at == std::string::npos) return text;
    std::string nested;
    for (int i = 0; i < depth; ++i)
        nested += "<submodel id=\"Nested" + std::to_string(i) + "\"><name>n</name>";
    for (int i = 0; i < depth; ++i)
        nested += "</submodel>";
    const std::size_t end = at + anchor.size();
    return text.substr(0, end) + nested + text.substr(end);
}

class SemanticDamageTest : public RobustnessTest {
protected:
    void Run(const Format& format, const Seed& seed, const Cases& cases) {
        ProbeAll(format, seed, cases);
    }
};

TEST_F(SemanticDamageTest, HuginReaderRefusesOrRepairsBrokenModels) {
    const Seed seed{"inline influence diagram", kHuginSeed};
    Run(kHugin, seed, NameSwaps(seed.bytes, {"Weather", "Forecast", "Umbrella", "Comfort"}));
    // Infinities in a probability column: see the disabled test below.
    Run(kHugin, seed, NumberSwaps(seed.bytes, "0.15", {"1e999", "-1e999"}));
    Run(kHugin, seed, NumberSwaps(seed.bytes, "100"));
    Run(kHugin, seed, NumberSwaps(seed.bytes, "80"));
    Run(kHugin, seed, LongTokens(seed.bytes, "Forecast", "\"cloudy\"", "0.25"));
    Run(kHugin, seed, Nesting(seed.bytes, "data = ", "(", ")", 20000));
    Run(kHugin, seed, Nesting(seed.bytes, "node_size = ", "(", ")", 20000));
    Run(kHugin, seed, Nesting(seed.bytes, "net\n{\n", "{", "}", 20000));
    Run(kHugin, seed, HuginGraphs());
}

TEST_F(SemanticDamageTest, MsbnReaderRefusesOrRepairsBrokenModels) {
    const Seed seed{"umbrella.dsc",
                    ReadBytes(std::string(QUARN_TEST_DATA_DIR) + "/msbn/umbrella.dsc")};
    ASSERT_FALSE(seed.bytes.empty());
    Run(kMsbn, seed, NameSwaps(seed.bytes, {"Weather", "Forecast", "Umbrella", "Comfort"}));
    Run(kMsbn, seed, NumberSwaps(seed.bytes, "0.15"));
    Run(kMsbn, seed, NumberSwaps(seed.bytes, "discrete[3]"));
    Run(kMsbn, seed, NumberSwaps(seed.bytes, "(0 1)"));
    Run(kMsbn, seed, LongTokens(seed.bytes, "Forecast", "\"cloudy\"", "0.25"));
    Run(kMsbn, seed, Nesting(seed.bytes, "probability ( Weather )\n{\n", "{", "}", 20000));
    Run(kMsbn, seed, Nesting(seed.bytes, "probability ( Weather )\n{\n", "(", ")", 20000));
    Run(kMsbn, seed, MsbnGraphs());
}

TEST_F(SemanticDamageTest, XmlbifReaderRefusesOrRepairsBrokenModels) {
    const Seed seed{"inline influence diagram", kXmlbifSeed};
    Run(kXmlbif, seed, NameSwaps(seed.bytes, {"Alpha", "Beta", "Choice", "Gain"}));
    Run(kXmlbif, seed, NumberSwaps(seed.bytes, "0.6"));
    Run(kXmlbif, seed, NumberSwaps(seed.bytes, "0.3"));
    Run(kXmlbif, seed, LongTokens(seed.bytes, "Beta", "<OUTCOME>low", "0.9"));
    Run(kXmlbif, seed, Nesting(seed.bytes, "<NETWORK>", "<X>", "</X>", 20000));
    Run(kXmlbif, seed, Nesting(seed.bytes, "<NETWORK>", "<NETWORK>", "</NETWORK>", 20000));
    Run(kXmlbif, seed, XmlbifGraphs());
}

TEST_F(SemanticDamageTest, XmlReaderRefusesOrRepairsBrokenModels) {
    const Seed seed{"full.xqnl", ReadBytes(std::string(QUARN_TEST_DATA_DIR) + "/xqnl/full.xqnl")};
    ASSERT_FALSE(seed.bytes.empty());
    Run(kXml, seed, NameSwaps(seed.bytes, {"Battery", "Lights", "Starts", "Action", "Cost"}));
    Run(kXml, seed, NumberSwaps(seed.bytes, "0.07"));
    Run(kXml, seed, NumberSwaps(seed.bytes, "5000"));
    Run(kXml, seed, NumberSwaps(seed.bytes, "2.5"));
    Run(kXml, seed, NumberSwaps(seed.bytes, "1200000000"));
    Run(kXml, seed, NumberSwaps(seed.bytes, "-11"));
    Run(kXml, seed, NameSwaps(seed.bytes, {"weak", "dead", "Electrics"}));
    Run(kXml, seed, NumberSwaps(seed.bytes, "ff0000"));
    Run(kXml, seed, LongTokens(seed.bytes, "Lights", "\"weak\"", "0.99"));
    Run(kXml, seed, Nesting(seed.bytes, "<nodes>", "<x>", "</x>", 20000));
    Run(kXml, seed, Nesting(seed.bytes, "<properties>", "<x>", "</x>", 20000));
    Run(kXml, seed, {{"2000 nested submodels", NestedSubmodels(seed.bytes, 2000)}});
    Run(kXml, seed, XmlGraphs());
}

// ---- tables too large to hold ----

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// Reads the file in a child process and tells whether the read failed with the matrix size
// refusal. Outside the address sanitizer (whose reserved shadow memory leaves no room for
// a limit) the child's address space is capped at 4 GB, so that a reader that passes through
// a table of billions of cells on the way runs out of memory there instead of taking the
// machine's.
::testing::AssertionResult RefusedAsTooLarge(const std::string& path, int code) {
    const pid_t child = ::fork();
    if (child < 0) return ::testing::AssertionFailure() << "fork failed";
    if (child == 0) {
        if (!kAddressSanitizer) {
            const rlimit cap{rlim_t{4} << 30, rlim_t{4} << 30};
            ::setrlimit(RLIMIT_AS, &cap);
        }
        QNL_errorHandler::Instance().Flush();
        QNL_network network;
        const int result = network.ReadFile(path.c_str(), code);
        ::_exit(result < 0 && format_test::Logged("Matrix too large") ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return ::testing::AssertionFailure() << "lost";
    if (!WIFEXITED(status))
        return ::testing::AssertionFailure() << "the reader died with signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) != 0)
        return ::testing::AssertionFailure() << "not refused as too large";
    return ::testing::AssertionSuccess();
}

// Three parents of 900 states over a child of 3 states: 2.2 * 10^9 cells, more than a table
// may hold, declared by a file of some ten kilobytes.
TEST_F(RobustnessTest, TableBeyondTheCellLimitIsRefusedWithoutAllocatingIt) {
    const std::pair<Format, std::string> files[] = {
        {kHugin, HugeTableHugin(4, kManyStates)},
        {kMsbn, HugeTableMsbn(4, kManyStates)},
        {kXmlbif, HugeTableXmlbif(4, kManyStates)},
        {kXml, HugeTableXml(4, kManyStates)},
    };
    for (const auto& [format, text] : files) {
        const std::string path = folder.Put(std::string("big") + format.extension, text);
        EXPECT_TRUE(RefusedAsTooLarge(path, format.code)) << format.extension;
    }
}

// A value beyond the range of double ("1e999") in a probability column of a .net file reads as
// an infinity; normalising its column would turn it into NaN and 0, which the writer cannot
// put back. The reader refuses it.
TEST_F(SemanticDamageTest, HuginReaderRefusesInfiniteProbabilities) {
    const Seed seed{"inline influence diagram", kHuginSeed};
    const Cases all = NumberSwaps(seed.bytes, "0.15");
    Cases infinite;
    for (const auto& entry : all)
        if (entry.first.find("1e999") != std::string::npos) infinite.push_back(entry);
    ASSERT_EQ(2u, infinite.size());
    Run(kHugin, seed, infinite);
}

// ---- files that are not there, and writing where no file can go ----

TEST_F(RobustnessTest, ReadersRefuseMissingFilesAndFolders) {
    for (const Format& format : {kHugin, kMsbn, kXmlbif, kXml}) {
        const std::string directory = folder.File(std::string("dir") + format.extension);
        std::filesystem::create_directory(directory);
        for (const std::string& path :
             {folder.File(std::string("absent") + format.extension), directory}) {
            QNL_errorHandler::Instance().Flush();
            QNL_network network;
            EXPECT_LT(network.ReadFile(path.c_str(), format.code), 0) << path;
            EXPECT_GT(QNL_errorHandler::Instance().GetNumberOfErrors(), 0) << path;
        }
        std::filesystem::remove(directory);
    }
}

TEST_F(RobustnessTest, WritersRefuseMissingFoldersAndFolderPathsWithoutLeavingFiles) {
    const std::string xqnl = std::string(QUARN_TEST_DATA_DIR) + "/xqnl/full.xqnl";
    QNL_network network;
    ASSERT_EQ(0, network.ReadFile(xqnl.c_str(), QNL_FORMAT_XML));
    for (const Format& format : {kHugin, kMsbn, kXmlbif, kXml}) {
        // The diagnosis model itself may not suit every format; a plain copy does.
        QNL_network plain;
        const std::string net = folder.Put("plain.net", kHuginSeed);
        ASSERT_EQ(0, plain.ReadFile(net.c_str(), QNL_FORMAT_HUGIN));
        QNL_network& source = format.code == QNL_FORMAT_XML ? network : plain;

        const std::string missing = folder.File("no_such_folder");
        const std::string inMissing = missing + "/model" + format.extension;
        QNL_errorHandler::Instance().Flush();
        EXPECT_LT(source.WriteFile(inMissing.c_str(), format.code), 0) << format.extension;
        EXPECT_GT(QNL_errorHandler::Instance().GetNumberOfErrors(), 0) << format.extension;
        EXPECT_FALSE(std::filesystem::exists(missing)) << format.extension;

        const std::string directory = folder.File(std::string("dir") + format.extension);
        std::filesystem::create_directory(directory);
        QNL_errorHandler::Instance().Flush();
        EXPECT_LT(source.WriteFile(directory.c_str(), format.code), 0) << format.extension;
        EXPECT_GT(QNL_errorHandler::Instance().GetNumberOfErrors(), 0) << format.extension;
        EXPECT_TRUE(std::filesystem::is_directory(directory)) << format.extension;
        EXPECT_TRUE(std::filesystem::is_empty(directory)) << format.extension;
        // Nothing beside the target either: no temporary file survives the failure.
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder.File("")))
            files += entry.path().filename().string().rfind("dir", 0) == 0 && !entry.is_directory();
        EXPECT_EQ(0, files) << format.extension;
        std::filesystem::remove(directory);
    }
}

} // namespace
