// Bad model files must never bring the library down. Every reader gets real and hand-written
// files mangled in seeded, repeatable ways (cut short, bytes flipped, lines lost or doubled,
// garbage, absurd sizes and numbers, broken graphs) and must come back with either a code and
// a logged reason, or a consistent network that survives a write and a second read.

#include "format_test_support.h"
#include "formats/format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using format_test::TempFolder;
using Cases = std::vector<std::pair<std::string, std::string>>;

struct Format {
    int code;
    const char* extension;
};
constexpr Format kHugin{QNL_FORMAT_HUGIN, ".net"};
constexpr Format kMsbn{QNL_FORMAT_MSBN, ".dsc"};
constexpr Format kXmlbif{QNL_FORMAT_XMLBIF, ".xml03"};
constexpr Format kXml{QNL_FORMAT_XML, ".xqnl"};

// What a read may make of a file: a written copy at most this many times the input (plus a
// fixed allowance for the header and defaults a writer adds). A reader that expands what it
// reads (entities, repeated parts, declared sizes) into far more model than the file holds
// goes past it.
constexpr std::size_t kGrowth = 8;
constexpr std::size_t kAllowance = 4096;

const char* const kXmlbifSeed = R"(<?xml version="1.0"?>
<BIF VERSION="0.3">
<NETWORK>
<NAME>Small</NAME>
<VARIABLE TYPE="nature"><NAME>Alpha</NAME><OUTCOME>yes</OUTCOME><OUTCOME>no</OUTCOME>
    <PROPERTY>position = (10, 20)</PROPERTY></VARIABLE>
<VARIABLE TYPE="nature"><NAME>Beta</NAME><OUTCOME>low</OUTCOME><OUTCOME>high</OUTCOME></VARIABLE>
<VARIABLE TYPE="decision"><NAME>Choice</NAME><OUTCOME>go</OUTCOME><OUTCOME>stay</OUTCOME></VARIABLE>
<VARIABLE TYPE="utility"><NAME>Gain</NAME></VARIABLE>
<DEFINITION><FOR>Alpha</FOR><TABLE>0.3 0.7</TABLE></DEFINITION>
<DEFINITION><FOR>Beta</FOR><GIVEN>Alpha</GIVEN><TABLE>0.1 0.9 0.6 0.4</TABLE></DEFINITION>
<DEFINITION><FOR>Choice</FOR><GIVEN>Beta</GIVEN></DEFINITION>
<DEFINITION><FOR>Gain</FOR><GIVEN>Choice</GIVEN><GIVEN>Alpha</GIVEN><TABLE>5 -1 0 2</TABLE>
</DEFINITION>
</NETWORK>
</BIF>
)";

std::string DataFile(const std::string& relative) {
    return TempFolder::Get(std::string(QUARN_TEST_DATA_DIR) + "/" + relative);
}

// The seeds of a format: the inline file first, then copies of real files where present (flat
// data lists, CRLF written by the original tool, foreign names).
Cases Seeds(const Format& format) {
    const std::string shared = format_test::RealNetworks() + "/", data = QUARN_TEST_DATA_DIR;
    const std::map<int, std::vector<std::string>> files = {
        {QNL_FORMAT_HUGIN,
         {shared + "net/asia.net", shared + "net/noisy_or.net", shared + "net/cancer.net"}},
        {QNL_FORMAT_MSBN,
         {data + "/msbn/umbrella.dsc", data + "/msbn/ab_cb.dsc", shared + "dsc/cancer.dsc"}},
        {QNL_FORMAT_XMLBIF, {data + "/xmlbif/foreign_names.xml03", shared + "xmlbif/cancer.xml"}},
        {QNL_FORMAT_XML, {data + "/xqnl/full.xqnl"}}};
    Cases seeds;
    if (format.code == QNL_FORMAT_HUGIN)
        seeds.emplace_back("inline influence diagram", format_test::kHuginInfluenceDiagram);
    if (format.code == QNL_FORMAT_XMLBIF)
        seeds.emplace_back("inline influence diagram", kXmlbifSeed);
    for (const std::string& path : files.at(format.code))
        if (std::filesystem::exists(path))
            seeds.emplace_back(std::filesystem::path(path).filename(), TempFolder::Get(path));
    return seeds;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < text.size(); start = end) {
        end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// The lines with the one at `index` kept `copies` times.
std::string JoinLines(const std::vector<std::string>& lines, std::size_t index, int copies) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i)
        for (int c = 0; c < (i == index ? copies : 1); ++c)
            text += lines[i];
    return text;
}

// Byte-level and line-level damage, drawn from one seeded generator so that a failure names a
// mutation that can be replayed.
Cases RandomDamage(const std::string& text, std::uint32_t seed, int rounds) {
    std::mt19937 random(seed);
    auto below = [&random](std::size_t n) { return n == 0 ? 0 : random() % n; };
    Cases out;
    // Cut at evenly spaced points, the last one just before the end.
    const std::size_t cuts = std::min<std::size_t>(text.size(), 16);
    for (std::size_t i = 0; i < cuts; ++i) {
        const std::size_t at = text.size() - 1 - i * text.size() / cuts;
        out.emplace_back("truncated at byte " + std::to_string(at), text.substr(0, at));
    }
    const auto lines = SplitLines(text);
    static const unsigned char kBytes[] = {0x00, 0xff, 0x80, '{', '}', '(', ')', ';',  '<',
                                           '>',  '"',  '/',  '=', '&', '%', ' ', '\n', '9'};
    // NUL bytes, then invalid UTF-8 (bad continuation, BOM-like, lone continuation, overlong,
    // surrogate, above U+10FFFF), then markup and quoting leftovers.
    static const std::string kGarbage[] = {
        std::string(3, '\0'), "\xc3\x28",         "\xff\xfe", "\x80", "\xc0\xaf",
        "\xed\xa0\x80",       "\xf4\x90\x80\x80", "]]>",      "\"",   "\\"};
    for (int r = 0; r < rounds && !text.empty(); ++r) {
        const std::size_t at = below(text.size());
        const auto b =
            r % 2 == 0 ? kBytes[below(sizeof kBytes)] : static_cast<unsigned char>(below(256));
        std::string flipped = text;
        flipped[at] = static_cast<char>(b);
        out.emplace_back("byte " + std::to_string(at) + " set to " + std::to_string(b), flipped);
        const std::size_t line = below(lines.size());
        out.emplace_back("line " + std::to_string(line) + " deleted", JoinLines(lines, line, 0));
        out.emplace_back("line " + std::to_string(line) + " doubled", JoinLines(lines, line, 2));
        const std::size_t g = below(std::size(kGarbage));
        const std::size_t where = below(text.size() + 1);
        out.emplace_back("garbage " + std::to_string(g) + " at " + std::to_string(where),
                         text.substr(0, where) + kGarbage[g] + text.substr(where));
    }
    out.emplace_back("empty file", "");
    out.emplace_back("only a NUL byte", std::string(1, '\0'));
    return out;
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// The positions where the name stands as a whole word.
std::vector<std::size_t> WordPositions(const std::string& text, const std::string& name) {
    std::vector<std::size_t> positions;
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if ((at == 0 || !IsNameChar(text[at - 1])) &&
            (end >= text.size() || !IsNameChar(text[end])))
            positions.push_back(at);
    }
    return positions;
}

std::string Splice(const std::string& text, std::size_t at, std::size_t length,
                   const std::string& with) {
    return text.substr(0, at) + with + text.substr(at + length);
}

// Every single mention of a node replaced by another node or by one that does not exist:
// duplicate identifiers, self-arcs, arcs from and tables for undefined nodes.
Cases NameSwaps(const std::string& text, const std::vector<std::string>& names) {
    Cases cases;
    std::vector<std::string> others = names;
    others.push_back("Ghost");
    for (const std::string& name : names)
        for (std::size_t at : WordPositions(text, name))
            for (const std::string& other : others)
                if (other != name)
                    cases.emplace_back(name + " at byte " + std::to_string(at) + " renamed " +
                                           other,
                                       Splice(text, at, name.size(), other));
    return cases;
}

// The first occurrence of the number replaced by values a careless reader mishandles.
Cases NumberSwaps(const std::string& text, const std::string& number) {
    static const char* const kNumbers[] = {
        "1e999",      "-1e999", "nan", "-inf",  "-0",   "1e-400",
        "4.9e-324",   "-1",     "2",   "1e308", "0x10", "1..2",
        "--1",        "1e",     ".",   "-",     "0,5",  "99999999999999999999999999999",
        "-2147483648"};
    Cases cases;
    const std::size_t at = text.find(number);
    if (at == std::string::npos) return cases;
    for (const char* replacement : kNumbers)
        cases.emplace_back(number + " replaced by " + replacement,
                           Splice(text, at, number.size(), replacement));
    return cases;
}

// Oversized pieces: a name, a state and a stretch of blanks of 100 000 characters, a number
// with 100 000 digits, and lines of 200 000 bytes.
Cases LongTokens(const std::string& text, const std::string& name, const std::string& state,
                 const std::string& number) {
    const std::string longName(100000, 'n');
    std::string everyName = text;
    const auto positions = WordPositions(text, name);
    for (auto at = positions.rbegin(); at != positions.rend(); ++at)
        everyName = Splice(everyName, *at, name.size(), longName);
    const std::size_t n = text.find(number);
    return {
        {"every " + name + " 100000 characters long", everyName},
        {"state " + state + " 100000 characters long",
         Splice(text, text.find(state), state.size(), "s" + std::string(100000, '9'))},
        {number + " with 100000 digits",
         Splice(text, n, number.size(), "0." + std::string(100000, '0') + "1")},
        {number + " after 100000 blanks", Splice(text, n, 0, std::string(100000, ' '))},
        {"200000 x appended", text + std::string(200000, 'x')},
        {"200000 ( appended", text + std::string(200000, '(')},
    };
}

// 20 000 copies of `open` inserted after `anchor`, closed again or cut off there.
Cases Nesting(const std::string& text, const std::string& anchor, const std::string& open,
              const std::string& close) {
    const std::size_t where = text.find(anchor) + anchor.size();
    std::string opening, closing;
    for (int i = 0; i < 20000; ++i) {
        opening += open;
        closing += close;
    }
    const std::string what = "20000 x " + open + " after " + anchor;
    return {{what + ", closed", Splice(text, where, 0, opening + closing)},
            {what + ", file ends there", text.substr(0, where) + opening}};
}

Cases operator+(Cases a, const Cases& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class RobustnessTest : public ::testing::Test {
protected:
    // Reads the bytes as a file of the format and checks the outcome as described at the
    // top. A failure names the format, the seed and the mutation.
    int Probe(const Format& format, const std::string& origin, const std::string& mutation,
              const std::string& bytes) {
        const std::string where = std::string(format.extension) + " " + origin + ": " + mutation;
        const std::string path = folder.Put(std::string("in") + format.extension, bytes);
        QNL_errorHandler& log = QNL_errorHandler::Instance();
        log.Flush();
        QNL_network network;
        const int result = network.ReadFile(path.c_str(), format.code);
        ++probes;
        if (result != 0) {
            EXPECT_LT(result, 0) << where;
            EXPECT_GT(log.GetNumberOfErrors(), 0) << where << ": code " << result << ", no message";
            return result;
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
            return result;
        }
        EXPECT_LE(std::filesystem::file_size(copy), kGrowth * bytes.size() + kAllowance) << where;
        QNL_network again;
        const int reread = again.ReadFile(copy.c_str(), format.code);
        EXPECT_EQ(0, reread) << where << ": the written copy does not read back: "
                             << (log.GetNumberOfErrors() > 0 ? log.GetMessage(0) : "");
        if (reread == 0) {
            EXPECT_EQ(network.GetNumberOfNodes(), again.GetNumberOfNodes()) << where;
        }
        return result;
    }

    void ProbeAll(const Format& format, const std::string& origin, const Cases& cases) {
        for (const auto& [mutation, bytes] : cases)
            Probe(format, origin, mutation, bytes);
    }

    TempFolder folder{"robust"};
    int probes = 0;
    int accepted = 0;
};

// ---- damage that keeps the syntax: identifiers, numbers, sizes, nesting, graphs ----

// Faults a single renaming cannot make (self-arcs, duplicate nodes, repeated parents, two tables
// for a node and undefined parents come from NameSwaps): cycles, repeated and missing states,
// tables of the wrong size or kind, absurd sizes, entities.
Cases HuginGraphs() {
    const std::string head = "net\n{\n}\nnode A { states = (\"a0\" \"a1\"); }\n"
                             "node B { states = (\"b0\" \"b1\"); }\n";
    // clang-format off
    return {
        {"cycle", head + "potential (A | B) { }\npotential (B | A) { }\n"},
        {"repeated state", R"(net { } node A { states = ("x" "x"); })"},
        {"no states", R"(net { } node A { states = (); } potential (A) { data = (); })"},
        {"table too long", head + "potential (B | A) { data = ((0.5 0.5) (0.5 0.5 0.1)); }\n"},
        {"table of strings", head + "potential (A) { data = (\"x\" \"y\"); }\n"},
    };
    // clang-format on
}

Cases MsbnGraphs() {
    const std::string net = "belief network \"g\"\n";
    const std::string head = net + "node A { type : discrete[2] = { \"a0\", \"a1\" }; }\n"
                                   "node B { type : discrete[2] = { \"b0\", \"b1\" }; }\n";
    // clang-format off
    return {
        {"cycle", head + "probability ( A | B ) { }\nprobability ( B | A ) { }\n"},
        {"a billion states", net + "node A { type : discrete[1000000000] = { \"a\", \"b\" }; }\n"},
        {"negative states", net + "node A { type : discrete[-5] = { \"a\", \"b\" }; }\n"},
        {"huge coordinates", head + "probability ( B | A ) { (2147483647) : 0.5, 0.5; "
         "(-2147483648) : 0.5, 0.5; }\n"},
        {"coordinates beyond int", head + "probability ( B | A ) { (99999999999999999999) : 0.5, "
         "0.5; }\n"},
    };
    // clang-format on
}

Cases XmlbifGraphs() {
    const std::string head =
        "<?xml version=\"1.0\"?>\n<BIF VERSION=\"0.3\"><NETWORK><NAME>g</NAME>\n"
        "<VARIABLE><NAME>A</NAME><OUTCOME>a0</OUTCOME><OUTCOME>a1</OUTCOME>"
        "</VARIABLE>\n<VARIABLE><NAME>B</NAME><OUTCOME>b0</OUTCOME>"
        "<OUTCOME>b1</OUTCOME></VARIABLE>\n";
    const std::string tail = "</NETWORK></BIF>\n";
    const std::string variable = head + "<VARIABLE><NAME>";
    // clang-format off
    return {
        {"cycle",
         head + "<DEFINITION><FOR>A</FOR><GIVEN>B</GIVEN></DEFINITION>"
         "<DEFINITION><FOR>B</FOR><GIVEN>A</GIVEN></DEFINITION>" + tail},
        {"repeated state",
         variable + "C</NAME><OUTCOME>x</OUTCOME><OUTCOME>x</OUTCOME></VARIABLE>" + tail},
        {"no states", variable + "C</NAME></VARIABLE>" + tail},
        {"empty names", variable + "</NAME><OUTCOME></OUTCOME></VARIABLE>" + tail},
        {"character references",
         variable + "&#0;&#x110000;&#xD800;&#99999999999;&#;</NAME></VARIABLE>" + tail},
        {"control characters in texts",
         variable + "C\x0f\x01</NAME><OUTCOME>c\x1f</OUTCOME><PROPERTY>note = "
          "a\x02&#1;b</PROPERTY></VARIABLE>" + tail},
        {"unclosed CDATA and comment", head + "<![CDATA[ <!-- " + tail},
    };
    // clang-format on
}

Cases XmlGraphs() {
    const std::string head = "<?xml version=\"1.0\"?>\n<quarn version=\"1.0\" id=\"g\"><nodes>\n"
                             "<cpt id=\"A\"><state id=\"a0\" /><state id=\"a1\" />"
                             "<probabilities>0.5 0.5</probabilities></cpt>\n";
    const std::string tail = "</nodes></quarn>\n";
    auto cpt = [&](const std::string& inside, const std::string& values) {
        return head + "<cpt id=\"B\">" + inside + "<probabilities>" + values +
               "</probabilities></cpt>" + tail;
    };
    const std::string twoStates = "<state id=\"b0\" /><state id=\"b1\" />";
    const std::string root = "<quarn version=\"1.0\" id=\"g\"";
    const std::string property = "><properties><property id=\"p\">";
    // clang-format off
    return {
        {"negative probabilities", cpt(twoStates, "-1 2")},
        {"utility without values", head + "<utility "
         "id=\"U\"><parents>A</parents></utility>" + tail},
        {"external entity", "<?xml version=\"1.0\"?><!DOCTYPE q [<!ENTITY x SYSTEM "
         "\"/etc/passwd\">]>" + root + property + "&x;</property></properties></quarn>"},
        {"version beyond any", "<quarn version=\"1e999\" id=\"g\"></quarn>"},
        {"version not a number", "<quarn version=\"nan\" id=\"g\"></quarn>"},
        {"sample count beyond int", root + " numsamples=\"99999999999\"></quarn>"},
        {"evidence in a far time slice", head + "</nodes><cases><case name=\"c\"><evidence "
         "node=\"A\" state=\"a0\" slice=\"2147483647\" /></case></cases></quarn>"},
    };
    // clang-format on
}

// Renamed nodes, swapped numbers, long tokens, deep nesting, broken graphs and random damage,
// for each reader.
// A value beyond the range of double ("1e999") in a probability column reads as an infinity;
// normalising its column would turn it into NaN and 0, which the writer cannot put back: the
// readers must refuse it.
TEST_F(RobustnessTest, EveryReaderRefusesOrRepairsDamagedModels) {
    const std::string hugin = format_test::kHuginInfluenceDiagram, xmlbif = kXmlbifSeed,
                      msbn = DataFile("msbn/umbrella.dsc"), xml = DataFile("xqnl/full.xqnl");
    ASSERT_FALSE(msbn.empty() || xml.empty());
    const std::vector<std::string> umbrella = {"Weather", "Forecast", "Umbrella", "Comfort"};
    const std::string block = "probability ( Weather )\n{\n";
    Cases xmlCases = NameSwaps(xml, {"Battery", "Lights", "Starts", "Action", "Cost"}) +
                     NameSwaps(xml, {"weak", "dead", "Electrics"}) +
                     LongTokens(xml, "Lights", "\"weak\"", "0.99") +
                     Nesting(xml, "<nodes>", "<x>", "</x>") + XmlGraphs();
    for (const char* number : {"0.07", "5000", "2.5", "1200000000", "-11", "ff0000"})
        xmlCases = xmlCases + NumberSwaps(xml, number);
    const std::tuple<Format, const char*, Cases> sweeps[] = {
        {kHugin, "inline influence diagram",
         NameSwaps(hugin, umbrella) + NumberSwaps(hugin, "0.15") + NumberSwaps(hugin, "100") +
             NumberSwaps(hugin, "80") + LongTokens(hugin, "Forecast", "\"cloudy\"", "0.25") +
             Nesting(hugin, "data = ", "(", ")") + Nesting(hugin, "net\n{\n", "{", "}") +
             HuginGraphs()},
        {kMsbn, "umbrella.dsc",
         NameSwaps(msbn, umbrella) + NumberSwaps(msbn, "0.15") + NumberSwaps(msbn, "discrete[3]") +
             NumberSwaps(msbn, "(0 1)") + LongTokens(msbn, "Forecast", "\"cloudy\"", "0.25") +
             Nesting(msbn, block, "{", "}") + Nesting(msbn, block, "(", ")") + MsbnGraphs()},
        {kXmlbif, "inline influence diagram",
         NameSwaps(xmlbif, {"Alpha", "Beta", "Choice", "Gain"}) + NumberSwaps(xmlbif, "0.6") +
             NumberSwaps(xmlbif, "0.3") + LongTokens(xmlbif, "Beta", "<OUTCOME>low", "0.9") +
             Nesting(xmlbif, "<NETWORK>", "<X>", "</X>") +
             Nesting(xmlbif, "<NETWORK>", "<NETWORK>", "</NETWORK>") + XmlbifGraphs()},
        {kXml, "full.xqnl", xmlCases}};
    std::uint32_t seed = 0x5eed01;
    for (const auto& [format, origin, cases] : sweeps) {
        ProbeAll(format, origin, cases);
        // Seeded byte and line damage to the seeds of the format. Some damage is harmless and
        // some is not: both paths must be taken.
        probes = accepted = 0;
        for (const auto& [name, bytes] : Seeds(format)) {
            // Every seed must read cleanly before it is damaged, or the damage proves nothing.
            QNL_network network;
            const std::string path = folder.Put(std::string("seed") + format.extension, bytes);
            EXPECT_EQ(0, network.ReadFile(path.c_str(), format.code)) << name;
            // An XML file cut anywhere before its last markup is malformed: it never reads.
            const std::size_t end = bytes.find_last_not_of(" \t\r\n");
            const bool xml = format.code == QNL_FORMAT_XML || format.code == QNL_FORMAT_XMLBIF;
            for (const auto& [mutation, damaged] :
                 RandomDamage(bytes, seed++, format.code == QNL_FORMAT_XML ? 40 : 14)) {
                const int result = Probe(format, name, mutation, damaged);
                if (xml && mutation.rfind("truncated", 0) == 0 && damaged.size() <= end) {
                    EXPECT_LT(result, 0) << name << " " << mutation;
                }
            }
        }
        EXPECT_GT(accepted, 0) << format.extension;
        EXPECT_GT(probes - accepted, 0) << format.extension;
    }
}

} // namespace
