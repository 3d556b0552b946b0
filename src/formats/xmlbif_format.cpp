#include "formats/xmlbif_format.h"

#include "formats/foreign_format_support.h"
#include "formats/text_lines.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "numerics/number_text.h"
#include "numerics/utf8.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>

namespace {

constexpr int SCANNER_MODE = 1;
constexpr const char* CANNOT_SAVE = "ERROR: This Network cannot be saved in XMLBIF format";

const char* const KNOWN_ELEMENTS[] = {"BIF",      "NETWORK",    "NAME", "VARIABLE", "OUTCOME",
                                      "PROPERTY", "DEFINITION", "FOR",  "GIVEN",    "TABLE"};

bool IsKnownElement(const std::string& name) {
    for (const char* known : KNOWN_ELEMENTS)
        if (name == known) return true;
    return false;
}

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsNameStart(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u == ':' || u >= 0x80;
}

std::string Trim(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsXmlSpace(text[first]))
        ++first;
    while (last > first && IsXmlSpace(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}

// The character of a character reference ("#65", "#x41"), or false when it is none.
bool DecodeCharacterReference(std::string_view name, unsigned long& cp) {
    if (name.size() < 2 || name[0] != '#') return false;
    const bool hex = name[1] == 'x' || name[1] == 'X';
    std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    cp = 0;
    for (char d : digits) {
        unsigned long v;
        if (d >= '0' && d <= '9') {
            v = static_cast<unsigned long>(d - '0');
        } else if (hex && d >= 'a' && d <= 'f') {
            v = static_cast<unsigned long>(d - 'a' + 10);
        } else if (hex && d >= 'A' && d <= 'F') {
            v = static_cast<unsigned long>(d - 'A' + 10);
        } else {
            return false;
        }
        cp = cp * (hex ? 16 : 10) + v;
        if (cp > 0x10FFFF) return false;
    }
    // XML has no reference to a control character other than tab, line feed and carriage
    // return: the writer could not give such a character back.
    if (cp < 0x20 && cp != 0x9 && cp != 0xA && cp != 0xD) return false;
    return cp < 0xD800 || cp > 0xDFFF;
}

// The entity at text[at] (which is '&') appended to out; the position after it. Text that
// is no entity keeps its '&'.
std::size_t DecodeEntity(std::string_view text, std::size_t at, std::string& out) {
    const std::size_t end = text.find(';', at + 1);
    if (end != std::string_view::npos && end - at <= 12) {
        const std::string_view name = text.substr(at + 1, end - at - 1);
        unsigned long cp = 0;
        if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "amp") {
            out += '&';
        } else if (name == "quot") {
            out += '"';
        } else if (name == "apos") {
            out += '\'';
        } else if (DecodeCharacterReference(name, cp)) {
            quarn::detail::AppendUtf8(out, static_cast<char32_t>(cp));
        } else {
            out += '&';
            return at + 1;
        }
        return end + 1;
    }
    out += '&';
    return at + 1;
}

// Rewrites an XML document into the token text of the format scanner. Start tags become
// "<" name { name "=" string } ">", end tags "<" "/" name ">", an empty-element tag both;
// names that are not identifiers are written as strings. The character data between tags
// (entities decoded, CDATA taken literally) becomes one string token, or nothing when it
// is only white space. Comments, declarations and processing instructions disappear. Every
// line end of the document is kept, so the scanner's line numbers are the document's.
class ScannerTextBuilder {
public:
    explicit ScannerTextBuilder(std::string_view xml) : in(xml) {}

    std::string Build() {
        out.reserve(in.size() + in.size() / 8 + 16);
        std::size_t i = 0;
        while (i < in.size()) {
            const char c = in[i];
            if (c == '&') {
                i = DecodeEntity(in, i, text);
            } else if (c != '<') {
                text += c;
                ++i;
            } else if (StartsWith(i, "<!--")) {
                i = Drop(i, SkipPast(i + 4, "-->"));
            } else if (StartsWith(i, "<![CDATA[")) {
                const std::size_t end = in.find("]]>", i + 9);
                const std::size_t stop = end == std::string_view::npos ? in.size() : end;
                text.append(in.substr(i + 9, stop - (i + 9)));
                i = end == std::string_view::npos ? in.size() : end + 3;
            } else if (StartsWith(i, "<?")) {
                i = Drop(i, SkipPast(i + 2, "?>"));
            } else if (StartsWith(i, "<!")) {
                i = Drop(i, SkipDeclaration(i + 2));
            } else if (StartsWith(i, "</")) {
                FlushText();
                i = EndTag(i);
            } else if (i + 1 < in.size() && IsNameStart(in[i + 1])) {
                FlushText();
                i = StartTag(i);
            } else {
                // A '<' that opens no markup is taken as text rather than lost.
                text += c;
                ++i;
            }
        }
        FlushText();
        return std::move(out);
    }

private:
    bool StartsWith(std::size_t at, std::string_view prefix) const {
        return in.compare(at, prefix.size(), prefix) == 0;
    }

    std::size_t SkipPast(std::size_t from, std::string_view end) const {
        const std::size_t found = in.find(end, from);
        return found == std::string_view::npos ? in.size() : found + end.size();
    }

    // A declaration such as <!DOCTYPE ... [ ... ]>: its internal subset may hold markup,
    // quoted literals and comments of its own.
    std::size_t SkipDeclaration(std::size_t from) const {
        int depth = 0;
        std::size_t j = from;
        while (j < in.size()) {
            const char c = in[j];
            if (c == '"' || c == '\'') {
                const std::size_t close = in.find(c, j + 1);
                j = close == std::string_view::npos ? in.size() : close + 1;
            } else if (StartsWith(j, "<!--")) {
                j = SkipPast(j + 4, "-->");
            } else if (c == '[') {
                ++depth;
                ++j;
            } else if (c == ']') {
                if (depth > 0) --depth;
                ++j;
            } else if (c == '>' && depth == 0) {
                return j + 1;
            } else {
                ++j;
            }
        }
        return in.size();
    }

    // Drops the markup in [from, to) keeping its line ends.
    std::size_t Drop(std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k)
            if (in[k] == '\n') out += '\n';
        return to;
    }

    void EmitString(std::string_view s) {
        out += '"';
        for (char c : s) {
            switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                // The escape gives the character; the line end after it keeps the count.
                out += "\\n\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
            }
        }
        out += '"';
    }

    void EmitName(const std::string& name) {
        if (IsValidId(name.c_str()))
            out += name;
        else
            EmitString(name);
    }

    void FlushText() {
        if (text.empty()) return;
        bool blank = true;
        for (char c : text)
            if (!IsXmlSpace(c)) {
                blank = false;
                break;
            }
        if (blank) {
            for (char c : text)
                if (c == '\n') out += '\n';
        } else {
            EmitString(text);
        }
        text.clear();
    }

    std::size_t EndTag(std::size_t at) {
        std::size_t j = at + 2;
        while (j < in.size() && IsXmlSpace(in[j]))
            ++j;
        const std::size_t start = j;
        while (j < in.size() && !IsXmlSpace(in[j]) && in[j] != '>' && in[j] != '<')
            ++j;
        const std::string name(in.substr(start, j - start));
        while (j < in.size() && in[j] != '>' && in[j] != '<')
            ++j;
        out += "</";
        EmitName(name);
        if (j < in.size() && in[j] == '>') {
            out += '>';
            ++j;
        }
        return Drop(at, j);
    }

    std::size_t StartTag(std::size_t at) {
        std::size_t j = at + 1;
        auto nameEnd = [&](std::size_t k) {
            while (k < in.size() && !IsXmlSpace(in[k]) && in[k] != '>' && in[k] != '/' &&
                   in[k] != '<' && in[k] != '=')
                ++k;
            return k;
        };
        std::size_t k = nameEnd(j);
        const std::string name(in.substr(j, k - j));
        j = k;
        out += '<';
        EmitName(name);
        std::size_t lineEnds = 0;
        auto skipSpace = [&] {
            while (j < in.size() && IsXmlSpace(in[j])) {
                if (in[j] == '\n') ++lineEnds;
                ++j;
            }
        };
        for (;;) {
            skipSpace();
            if (j >= in.size() || in[j] == '<') break;
            if (in[j] == '>') {
                out += '>';
                ++j;
                break;
            }
            if (in[j] == '/') {
                ++j;
                if (j < in.size() && in[j] == '>') ++j;
                out += "></";
                EmitName(name);
                out += '>';
                break;
            }
            k = nameEnd(j);
            if (k == j) {
                ++j; // a stray character where an attribute belongs
                continue;
            }
            const std::string attribute(in.substr(j, k - j));
            j = k;
            skipSpace();
            std::string value;
            if (j < in.size() && in[j] == '=') {
                ++j;
                skipSpace();
                if (j < in.size() && (in[j] == '"' || in[j] == '\'')) {
                    const char quote = in[j++];
                    while (j < in.size() && in[j] != quote) {
                        if (in[j] == '&') {
                            j = DecodeEntity(in, j, value);
                            continue;
                        }
                        if (in[j] == '\n') ++lineEnds;
                        value += IsXmlSpace(in[j]) ? ' ' : in[j];
                        ++j;
                    }
                    if (j < in.size()) ++j;
                } else {
                    while (j < in.size() && !IsXmlSpace(in[j]) && in[j] != '>' && in[j] != '<')
                        value += in[j++];
                }
            }
            out += ' ';
            EmitName(attribute);
            out += '=';
            EmitString(value);
        }
        out.append(lineEnds, '\n');
        return j;
    }

    std::string_view in;
    std::string out;
    std::string text;
};

// One number of a TABLE: the whole text must be a number (or a special token).
bool ParseTableNumber(const std::string& text, double& value) {
    static const char* const SPECIAL[] = {"0.0E-2", "UNDEF.", "0.0E-3", "ILLEGAL", "0.0E-4", "NA"};
    for (const char* special : SPECIAL)
        if (text == special) return ParseNumber(text.c_str(), &value) == 0;
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    const auto parsed = std::from_chars(first, last, value);
    return parsed.ec == std::errc() && parsed.ptr == last && first != last;
}

// The first identifier that the repair of raw gives and that is not taken: the repaired
// text alone, else with a numeric suffix from 2.
template <typename Taken> std::string RepairedUniqueId(const std::string& raw, Taken taken) {
    std::string base = raw;
    quarn::detail::RepairId(base);
    if (base.empty()) base = "x";
    if (!taken(base)) return base;
    for (long long n = 2;; ++n) {
        std::string candidate = base + std::to_string(n);
        if (!taken(candidate)) return candidate;
    }
}

// Character data for an element: markup characters and the line ends (which would take
// the writer's indentation) as references.
std::string EscapeContent(const char* text) {
    std::string escaped;
    if (text == nullptr) return escaped;
    for (const char* p = text; *p != '\0'; ++p) {
        switch (*p) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '\n':
            escaped += "&#10;";
            break;
        case '\r':
            escaped += "&#13;";
            break;
        case '\t':
            escaped += "&#9;";
            break;
        default:
            escaped += *p;
        }
    }
    return escaped;
}

// Other tools read the file with an XML parser, which refuses U+FFFE and U+FFFF as it refuses
// control characters other than tab, line feed and carriage return.
bool IsXmlText(const char* text) {
    return text == nullptr || !quarn::detail::CharacterXmlCannotHold(text).has_value();
}

// Gates go out as the probability tables they expand to: the format has no words for their
// parameters. A multi-attribute utility node has no table that would read back as the node.
bool IsWritableType(int type) {
    return type == QNL_TYPE_CPT || type == QNL_TYPE_TRUTHTABLE || type == QNL_TYPE_LIST ||
           type == QNL_TYPE_TABLE || type == QNL_TYPE_NOISY_MAX || type == QNL_TYPE_NOISY_ADDER ||
           type == QNL_TYPE_CAST || type == QNL_TYPE_DEMORGAN;
}

const char* TypeWord(int type) {
    if (type & QNL_TYPE_BIT_DECISION) return "decision";
    if (type & 6) return "nature";
    if (type & QNL_TYPE_BIT_UTILITY) return "utility";
    return "Unknown";
}

const char* const FILE_HEADER =
    "<?xml version=\"1.0\"?>\n"
    "<!--\n"
    "\tBayesian network in XMLBIF v0.3 (BayesNet Interchange Format)\n"
    "\tProduced by the quarn library\n"
    "-->\n"
    "<!-- DTD for the XMLBIF 0.3 format -->\n"
    "<!DOCTYPE BIF [\n"
    "\t<!ELEMENT BIF ( NETWORK )*>\n"
    "\t      <!ATTLIST BIF VERSION CDATA #REQUIRED>\n"
    "\t<!ELEMENT NETWORK ( NAME, ( PROPERTY | VARIABLE | DEFINITION )* )>\n"
    "\t<!ELEMENT NAME (#PCDATA)>\n"
    "\t<!ELEMENT VARIABLE ( NAME, ( OUTCOME |  PROPERTY )* ) >\n"
    "\t      <!ATTLIST VARIABLE TYPE (nature|decision|utility) \"nature\">\n"
    "\t<!ELEMENT OUTCOME (#PCDATA)>\n"
    "\t<!ELEMENT DEFINITION ( FOR | GIVEN | TABLE | PROPERTY )* >\n"
    "\t<!ELEMENT FOR (#PCDATA)>\n"
    "\t<!ELEMENT GIVEN (#PCDATA)>\n"
    "\t<!ELEMENT TABLE (#PCDATA)>\n"
    "\t<!ELEMENT PROPERTY (#PCDATA)>\n"
    "]>\n"
    "\n"
    "\n"
    "<BIF VERSION=\"0.3\">\n"
    "<NETWORK>\n";

int OutOfMemory() {
    return QNL_errorHandler::Instance().LogError(-42);
}

} // namespace

QNL_xmlbifFormat::QNL_xmlbifFormat(QNL_network* network) : QNL_textParser(network) {}

// ---------------------------------------------------------------------------------------
// Reading

int QNL_xmlbifFormat::Read(const char* path) {
    if (network == nullptr || path == nullptr) return -2;
    rawNames.clear();
    networkNamed = false;
    int result;
    try {
        quarn::detail::TextLines lines;
        result = lines.Load(path);
        if (result == -103)
            return QNL_errorHandler::Instance().LogError(-103,
                                                         quarn::detail::OpenFailedMessage(path));
        if (result != 0) return QNL_errorHandler::Instance().LogError(result);
        std::string document;
        std::string line;
        while (lines.ReadLine(line))
            document += line;
        lines.Close();
        // Control characters have no place in XML and could not be written back: names and
        // texts of files that hold them anyway get a blank instead.
        for (char& c : document)
            if (static_cast<unsigned char>(c) < 0x20 && !IsXmlSpace(c)) c = ' ';
        std::string tokens = ScannerTextBuilder(document).Build();
        // Only an empty file is empty to the scanner; markup alone still lacks its BIF.
        if (tokens.empty() && !document.empty()) tokens = "\n";
        document.clear();
        document.shrink_to_fit();
        result = StartReadingText(tokens, SCANNER_MODE);
        if (result == -102) QNL_errorHandler::Instance().LogError(-102, "ERROR: The file is empty");
        if (result == 0) result = ReadDocument();
        SetNetworkId();
    } catch (const std::bad_alloc&) {
        result = OutOfMemory();
    }
    rawNames.clear();
    return FinishReading(result);
}

int QNL_xmlbifFormat::NextItem(Item& item) {
    item.name.clear();
    item.attributes.clear();
    item.text.clear();
    int result = PeekToken();
    if (result != 0) return result;
    if (GetTokenKind() == STRING) {
        item.kind = Item::TEXT;
        item.text = GetTokenText();
        ConsumeToken();
        return 0;
    }
    if ((result = Expect(PUNCTUATOR, "<")) != 0) return result;
    auto readName = [this](std::string& name) {
        if (PeekToken() == 0 && (GetTokenKind() == IDENTIFIER || GetTokenKind() == STRING)) {
            name = GetTokenText();
            ConsumeToken();
            return 0;
        }
        return Expect(IDENTIFIER);
    };
    if (PeekToken() == 0 && GetTokenKind() == QNL_textScanner::SLASH) {
        ConsumeToken();
        item.kind = Item::END;
        if ((result = readName(item.name)) != 0) return result;
        return Expect(PUNCTUATOR, ">");
    }
    item.kind = Item::START;
    if ((result = readName(item.name)) != 0) return result;
    for (;;) {
        if (PeekToken() != 0 || (GetTokenKind() != IDENTIFIER && GetTokenKind() != STRING))
            return Expect(PUNCTUATOR, ">");
        std::string attribute = GetTokenText();
        ConsumeToken();
        if ((result = Expect(PUNCTUATOR, "=")) != 0) return result;
        if ((result = Expect(STRING)) != 0) return result;
        item.attributes.emplace_back(std::move(attribute), GetTokenText());
    }
}

int QNL_xmlbifFormat::MissingEndTag(const char* name, int code) {
    if (code != -111) return code;
    if (name == nullptr) return QNL_errorHandler::Instance().LogError(code);
    ReportError(-127, (std::string("ERROR: End of File : Expecting '</") + name + ">'").c_str());
    return -127;
}

int QNL_xmlbifFormat::ReportMisplaced(const std::string& name) {
    return ReportError(-127, ("ERROR: '" + name + "' : Misplaced statement").c_str());
}

int QNL_xmlbifFormat::ReportUnexpectedEndTag(const std::string& found, const char* expected) {
    return ReportError(
        -127, ("ERROR: '" + found + "' : '" + std::string(expected) + "' expected").c_str());
}

int QNL_xmlbifFormat::SkipElement(const char* name) {
    Item item;
    for (long long depth = 0;;) {
        const int result = NextItem(item);
        if (result != 0) return MissingEndTag(name, result);
        if (item.kind == Item::START) {
            ++depth;
        } else if (item.kind == Item::END) {
            if (depth == 0) return 0;
            --depth;
        }
    }
}

int QNL_xmlbifFormat::SkipStatement() {
    return SkipElement(nullptr);
}

int QNL_xmlbifFormat::ReadElementText(const char* name, std::string& text) {
    text.clear();
    Item item;
    for (long long depth = 0;;) {
        const int result = NextItem(item);
        if (result != 0) return MissingEndTag(name, result);
        if (item.kind == Item::TEXT) {
            if (depth == 0) text += item.text;
        } else if (item.kind == Item::START) {
            ++depth;
        } else if (depth > 0) {
            --depth;
        } else {
            if (item.name != name) ReportUnexpectedEndTag(item.name, name);
            return 0;
        }
    }
}

int QNL_xmlbifFormat::ReadDocument() {
    Item item;
    for (;;) {
        const int result = NextItem(item);
        if (result == -111) {
            ReportError(-2, "ERROR: [BIF] : Tag Not found");
            return result;
        }
        if (result != 0) return result;
        if (item.kind == Item::START && item.name == "BIF") break;
    }
    bool version = false;
    for (const auto& attribute : item.attributes)
        if (attribute.first == "VERSION") version = Trim(attribute.second) == "0.3";
    if (!version) return ReportError(-2, "ERROR: Incorrect BIF Version");

    for (;;) {
        int result = NextItem(item);
        if (result != 0) return MissingEndTag("BIF", result);
        if (item.kind == Item::END) {
            if (item.name == "BIF") return 0;
            ReportUnexpectedEndTag(item.name, "BIF");
        } else if (item.kind == Item::START) {
            if (item.name == "NETWORK") {
                result = ReadNetwork();
            } else {
                if (IsKnownElement(item.name)) ReportMisplaced(item.name);
                result = SkipElement(item.name.c_str());
            }
            if (result != 0) return result;
        }
    }
}

int QNL_xmlbifFormat::ReadNetwork() {
    Item item;
    std::string text;
    for (;;) {
        int result = NextItem(item);
        if (result != 0) return MissingEndTag("NETWORK", result);
        if (item.kind == Item::END) {
            if (item.name == "NETWORK") return 0;
            ReportUnexpectedEndTag(item.name, "NETWORK");
            continue;
        }
        if (item.kind == Item::TEXT) continue;
        if (item.name == "NAME") {
            result = ReadElementText("NAME", text);
            if (result == 0) SetNetworkName(Trim(text));
        } else if (item.name == "PROPERTY") {
            result = ReadElementText("PROPERTY", text);
            if (result == 0) ApplyProperty(-1, text);
        } else if (item.name == "VARIABLE") {
            result = ReadVariable(item);
        } else if (item.name == "DEFINITION") {
            result = ReadDefinition();
        } else {
            if (IsKnownElement(item.name)) ReportMisplaced(item.name);
            result = SkipElement(item.name.c_str());
        }
        if (result != 0) return result;
    }
}

int QNL_xmlbifFormat::ReadVariable(const Item& start) {
    int type = QNL_TYPE_CPT;
    for (const auto& attribute : start.attributes) {
        if (attribute.first != "TYPE") continue;
        const std::string value = Trim(attribute.second);
        if (value == "nature" || value == "chance") {
            type = QNL_TYPE_CPT;
        } else if (value == "decision") {
            type = QNL_TYPE_LIST;
        } else if (value == "utility") {
            type = QNL_TYPE_TABLE;
        } else {
            ReportError(-2, ("ERROR: " + value + " : Unknown node type").c_str());
            return SkipElement("VARIABLE");
        }
    }

    std::string name;
    bool named = false;
    std::vector<std::string> outcomes;
    std::vector<std::string> properties;
    std::string text;
    Item item;
    for (;;) {
        int result = NextItem(item);
        if (result != 0) return MissingEndTag("VARIABLE", result);
        if (item.kind == Item::END) {
            if (item.name == "VARIABLE") break;
            ReportUnexpectedEndTag(item.name, "VARIABLE");
            continue;
        }
        if (item.kind == Item::TEXT) continue;
        if (item.name == "NAME") {
            result = ReadElementText("NAME", text);
            if (result == 0 && !named) {
                name = Trim(text);
                named = true;
            }
        } else if (item.name == "OUTCOME") {
            result = ReadElementText("OUTCOME", text);
            if (result == 0) outcomes.push_back(Trim(text));
        } else if (item.name == "PROPERTY") {
            result = ReadElementText("PROPERTY", text);
            if (result == 0) properties.push_back(text);
        } else {
            if (IsKnownElement(item.name)) ReportMisplaced(item.name);
            result = SkipElement(item.name.c_str());
        }
        if (result != 0) return result;
    }

    if (named && rawNames.count(name) != 0) {
        ReportError(-32, ("ERROR: " + name + " : Duplicated node name").c_str());
        return 0;
    }
    std::string id;
    if (named) {
        const char* networkId =
            network->GetHeader() != nullptr ? network->GetHeader()->GetId() : nullptr;
        id = RepairedUniqueId(name, [&](const std::string& s) {
            return network->IsIdUsed(s.c_str()) != 0 &&
                   (networkId == nullptr || s != networkId || network->FindNode(s.c_str()) >= 0);
        });
        FreeNetworkId(id);
    }
    const int node = network->AddNode(type, named ? id.c_str() : nullptr);
    if (node < 0) {
        ReportError(node, "ERROR: Couldn't Create Node");
        return 0;
    }
    QNL_node* created = network->GetNode(node);
    if (named) {
        rawNames.emplace(name, node);
        if (!name.empty()) {
            const int refused = created->GetInfo()->header.SetName(name.c_str());
            if (refused != 0) ReportError(refused, nullptr);
        }
    }
    // A utility node has no outcomes; other tools give it a placeholder one.
    if (type != QNL_TYPE_TABLE && !outcomes.empty()) {
        QNL_idArray ids;
        for (const std::string& outcome : outcomes) {
            const std::string outcomeId = RepairedUniqueId(
                outcome, [&ids](const std::string& s) { return !ids.IsAcceptable(s.c_str()); });
            const int refused = ids.Add(outcomeId.c_str());
            if (refused != 0)
                ReportError(refused, ("ERROR: " + outcome + " : Invalid outcome name").c_str());
        }
        if (created->GetDefinition()->SetNumberOfOutcomes(ids) != 0)
            ReportError(-2, "ERROR: Invalid Outcomes");
    }
    for (const std::string& property : properties)
        ApplyProperty(node, property);
    return 0;
}

int QNL_xmlbifFormat::ReadDefinition() {
    forNode = -1;
    tableRead = false;
    tableValid = false;
    parentList.SetSize(0);
    table.SetSize(0);
    bool haveFor = false;
    std::string forName;
    std::vector<double> values;
    std::string text;
    Item item;
    for (;;) {
        int result = NextItem(item);
        if (result != 0) return MissingEndTag("DEFINITION", result);
        if (item.kind == Item::END) {
            if (item.name == "DEFINITION") break;
            ReportUnexpectedEndTag(item.name, "DEFINITION");
            continue;
        }
        if (item.kind == Item::TEXT) continue;
        if (item.name == "FOR" || item.name == "GIVEN" || item.name == "TABLE") {
            result = ReadElementText(item.name.c_str(), text);
            if (result != 0) return result;
        }
        if (item.name == "FOR") {
            const std::string target = Trim(text);
            const int handle = FindRawName(target);
            if (!haveFor) {
                haveFor = true;
                forName = target;
                forNode = handle;
                if (handle < 0) ReportError(-2, ("ERROR: " + target + " : Node not found").c_str());
            } else if (target != forName) {
                ReportError(-2, ("ERROR: " + target + " : Extra [FOR] entry. Ignored.").c_str());
            }
        } else if (item.name == "GIVEN") {
            const std::string parent = Trim(text);
            const int handle = FindRawName(parent);
            if (handle < 0)
                ReportError(-2, ("ERROR: " + parent + " : Invalid parent").c_str());
            else if (parentList.Add(handle) != 0)
                return OutOfMemory();
        } else if (item.name == "TABLE") {
            tableRead = true;
            tableValid = true;
            values.clear();
            std::size_t i = 0;
            while (i < text.size()) {
                while (i < text.size() && IsXmlSpace(text[i]))
                    ++i;
                std::size_t end = i;
                while (end < text.size() && !IsXmlSpace(text[end]))
                    ++end;
                if (end == i) break;
                const std::string number = text.substr(i, end - i);
                double value = 0.0;
                if (!ParseTableNumber(number, value)) {
                    ReportError(-127, ("ERROR: '" + number + "' : Real Number expected").c_str());
                    tableValid = false;
                    break;
                }
                values.push_back(value);
                i = end;
            }
        } else {
            if (IsKnownElement(item.name) && item.name != "PROPERTY") ReportMisplaced(item.name);
            result = SkipElement(item.name.c_str());
            if (result != 0) return result;
        }
    }
    if (!haveFor) {
        ReportError(-2, "ERROR: [FOR] : Tag Not found");
        return 0;
    }
    if (forNode < 0) return 0;
    if (tableValid) {
        if (table.SetSize(static_cast<int>(values.size())) != 0) return OutOfMemory();
        for (std::size_t k = 0; k < values.size(); ++k)
            table[static_cast<int>(k)] = values[k];
        table.SetCount(table.GetSize());
    }
    ApplyDefinition(forNode, forName);
    return 0;
}

void QNL_xmlbifFormat::ApplyDefinition(int node, const std::string& forName) {
    const char* id = network->GetNode(node)->GetId();
    std::vector<int> parents(parentList.GetCount());
    for (int i = 0; i < parentList.GetCount(); ++i)
        parents[static_cast<std::size_t>(i)] = parentList[i];
    const long long cells = quarn::detail::CellsWithParents(network, node, parents, 0);
    if (cells > quarn::detail::MAX_READ_TABLE_CELLS) {
        ReportError(-42, ("ERROR: " + quarn::detail::TooLargeTableMessage(network, node)).c_str());
        return;
    }
    // The parents go with the table: a few numbers under many parents allocate nothing.
    if (tableRead && tableValid && cells > 0 && cells != table.GetCount()) {
        ReportError(-2, ("ERROR: Node [" + std::string(id) + "] was expecting " +
                         std::to_string(cells) + " numbers but " +
                         std::to_string(table.GetCount()) + " were read")
                            .c_str());
        return;
    }
    for (int i = 0; i < parentList.GetCount(); ++i) {
        const int parent = parentList[i];
        const int refused = network->AddArc(parent, node, 0);
        if (refused != 0)
            ReportError(refused,
                        ("ERROR: Couldn't add arc from node [" +
                         std::string(network->GetNode(parent)->GetId()) + "] to node [" + id + "]")
                            .c_str());
    }
    if (!tableRead || !tableValid) return;
    QNL_nodeDefinition* definition = network->GetNode(node)->GetDefinition();
    const int expected = definition->GetSize();
    if (expected != table.GetCount()) {
        ReportError(-2, ("ERROR: Node [" + std::string(id) + "] was expecting " +
                         std::to_string(expected) + " numbers but " +
                         std::to_string(table.GetCount()) + " were read")
                            .c_str());
        return;
    }
    if (definition->GetType() == QNL_TYPE_CPT)
        quarn::detail::ClearRoundOff(table.Items(), table.GetCount());
    const int refused = definition->SetDefinition(table);
    if (refused != 0) ReportError(refused, ("ERROR: " + forName + " : Invalid table").c_str());
}

int QNL_xmlbifFormat::FindRawName(const std::string& raw) const {
    const auto found = rawNames.find(raw);
    return found == rawNames.end() ? -1 : found->second;
}

// The identifier follows once every variable is known (SetNetworkId): the network and its
// nodes share one set of identifiers, and a node keeps the one its name gives.
void QNL_xmlbifFormat::SetNetworkName(const std::string& raw) {
    QNL_header* header = network->GetHeader();
    if (header == nullptr) return;
    const int refused = header->SetName(raw.c_str());
    if (refused != 0) ReportError(refused, nullptr);
    networkName = raw;
    networkNamed = true;
}

void QNL_xmlbifFormat::SetNetworkId() {
    QNL_header* header = network->GetHeader();
    if (!networkNamed || header == nullptr) return;
    networkNamed = false;
    const std::string current = header->GetId() != nullptr ? header->GetId() : "";
    const std::string id = RepairedUniqueId(networkName, [&](const std::string& s) {
        return s != current && network->IsIdUsed(s.c_str()) != 0;
    });
    if (id == current) return;
    const int refused = header->SetId(id.c_str());
    if (refused != 0) ReportError(refused, nullptr);
}

// A node about to take the identifier the network holds (the one it had before the read,
// or one given earlier) moves the network to another.
void QNL_xmlbifFormat::FreeNetworkId(const std::string& id) {
    QNL_header* header = network->GetHeader();
    if (header == nullptr || header->GetId() == nullptr || id != header->GetId()) return;
    const std::string other = RepairedUniqueId(
        id, [this](const std::string& s) { return network->IsIdUsed(s.c_str()) != 0; });
    header->SetId(other.c_str());
}

// "key = value" properties: "name" is the name of the node or network, "position" a
// node's screen position "(x, y)", any other identifier key a user property. Free text
// that follows no such form is passed over.
void QNL_xmlbifFormat::ApplyProperty(int node, const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) return;
    const std::string key = Trim(std::string_view(text).substr(0, equals));
    const std::string value = Trim(std::string_view(text).substr(equals + 1));
    QNL_nodeInfo* info = node >= 0 ? network->GetNode(node)->GetInfo() : nullptr;
    int refused = 0;
    if (key == "name") {
        if (info != nullptr)
            refused = info->header.SetName(value.c_str());
        else if (network->GetHeader() != nullptr)
            refused = network->GetHeader()->SetName(value.c_str());
    } else if (key == "position" && info != nullptr) {
        if (value.size() < 2 || value.front() != '(' || value.back() != ')') return;
        const std::string inner = value.substr(1, value.size() - 2);
        const std::size_t comma = inner.find(',');
        if (comma == std::string::npos) return;
        double coordinates[2];
        const std::string parts[2] = {Trim(std::string_view(inner).substr(0, comma)),
                                      Trim(std::string_view(inner).substr(comma + 1))};
        for (int k = 0; k < 2; ++k) {
            if (!ParseTableNumber(parts[k], coordinates[k]) || !std::isfinite(coordinates[k]) ||
                std::fabs(coordinates[k]) > 2147483647.0)
                return;
        }
        info->screen.position.x = static_cast<int>(std::lround(coordinates[0]));
        info->screen.position.y = static_cast<int>(std::lround(coordinates[1]));
    } else if (IsValidId(key.c_str())) {
        QNL_userProperties& properties =
            info != nullptr ? info->properties : network->GetUserProperties();
        refused = properties.AddProperty(key.c_str(), value.c_str());
    }
    if (refused != 0) ReportError(refused, nullptr);
}

// ---------------------------------------------------------------------------------------
// Writing

int QNL_xmlbifFormat::Write(const char* path) {
    if (network == nullptr || path == nullptr) return -2;
    int result = CheckWritable();
    if (result != 0) return result;
    result = OpenFile(path, QNL_textFile::WRITE_MODE);
    if (result != 0) return result;
    SetIndentWidth(1);
    try {
        result = WriteDocument();
    } catch (const std::bad_alloc&) {
        result = OutOfMemory();
    }
    if (result != 0) {
        DiscardFile();
        return result;
    }
    return CloseFile();
}

int QNL_xmlbifFormat::CheckWritable() {
    auto refuse = [] { return QNL_errorHandler::Instance().LogError(-2, CANNOT_SAVE); };
    QNL_header* header = network->GetHeader();
    if (header != nullptr && !IsXmlText(header->GetName())) return refuse();
    QNL_userProperties& netProperties = network->GetUserProperties();
    for (int i = 0; i < netProperties.GetNumberOfProperties(); ++i) {
        const char* key = netProperties.GetName(i);
        if ((key != nullptr && std::strcmp(key, "name") == 0) ||
            !IsXmlText(netProperties.GetValue(i)))
            return refuse();
    }
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_node* node = network->GetNode(h);
        if (!IsWritableType(node->GetType())) {
            const std::string prefix = "Node [" + std::string(node->GetId()) + "] : ";
            return QNL_errorHandler::Instance().LogError(-2, "ERROR: Unsupported node type",
                                                         prefix.c_str());
        }
        const QNL_nodeInfo* info = node->GetInfo();
        if (!IsXmlText(info->header.GetName())) return refuse();
        for (int i = 0; i < info->properties.GetNumberOfProperties(); ++i) {
            const char* key = info->properties.GetName(i);
            // These keys carry the node's name and position in the file.
            if (key != nullptr &&
                (std::strcmp(key, "name") == 0 || std::strcmp(key, "position") == 0))
                return refuse();
            if (!IsXmlText(info->properties.GetValue(i))) return refuse();
        }
    }
    return 0;
}

int QNL_xmlbifFormat::WriteElementLine(const char* element, const std::string& content) {
    std::string line(static_cast<std::size_t>(outputFile.GetIndentLevel()) *
                         static_cast<std::size_t>(outputFile.GetIndentWidth()),
                     ' ');
    line += '<';
    line += element;
    line += '>';
    line += content;
    line += "</";
    line += element;
    line += ">\n";
    return outputFile.WriteRaw(line);
}

int QNL_xmlbifFormat::WriteProperties(const std::string& id, const char* name,
                                      const QNL_screenInfo* screen,
                                      const QNL_userProperties& properties) {
    int result = 0;
    if (name != nullptr && id != name)
        result = WriteElementLine("PROPERTY", "name = " + EscapeContent(name));
    if (result == 0 && screen != nullptr) {
        const QNL_rectangle& position = screen->position;
        // A node that was never placed reads back at (0, 0) without the property.
        if (position.x != 0 || position.y != 0)
            result = WriteElementLine("PROPERTY", "position = (" + std::to_string(position.x) +
                                                      ", " + std::to_string(position.y) + ")");
    }
    for (int i = 0; result == 0 && i < properties.GetNumberOfProperties(); ++i) {
        const char* key = properties.GetName(i);
        const char* value = properties.GetValue(i);
        if (key == nullptr) continue;
        result = WriteElementLine("PROPERTY", std::string(key) + " = " + EscapeContent(value));
    }
    return result;
}

int QNL_xmlbifFormat::WriteDocument() {
    int result = WriteRaw(FILE_HEADER);
    if (result != 0) return result;
    Indent();
    const QNL_header* header = network->GetHeader();
    const char* networkId = header != nullptr && header->GetId() != nullptr ? header->GetId() : "";
    result = WriteElementLine("NAME", networkId);
    if (result == 0)
        result = WriteProperties(networkId, header != nullptr ? header->GetName() : nullptr,
                                 nullptr, network->GetUserProperties());
    QNL_intArray order;
    if (result == 0 && order.Assign(network->GetOrderedNodes()) != 0) return OutOfMemory();
    for (int i = 0; result == 0 && i < order.GetCount(); ++i)
        result = WriteVariable(order[i]);
    for (int i = 0; result == 0 && i < order.GetCount(); ++i)
        result = WriteDefinition(order[i]);
    Unindent();
    return result != 0 ? result : WriteRaw("</NETWORK>\n</BIF>\n");
}

int QNL_xmlbifFormat::WriteVariable(int node) {
    const QNL_node* item = network->GetNode(node);
    const QNL_nodeInfo* info = item->GetInfo();
    const std::string id = item->GetId();
    int result = WriteRaw("\n");
    if (result == 0)
        result = WriteLine(
            ("<VARIABLE TYPE=\"" + std::string(TypeWord(item->GetType())) + "\">\n").c_str());
    Indent();
    if (result == 0) result = WriteElementLine("NAME", id);
    const QNL_idArray* outcomes =
        item->GetType() == QNL_TYPE_TABLE ? nullptr : item->GetDefinition()->GetOutcomeIds();
    for (int i = 0; result == 0 && outcomes != nullptr && i < outcomes->GetCount(); ++i)
        result = WriteElementLine("OUTCOME", outcomes->GetString(i));
    if (result == 0)
        result = WriteProperties(id, info->header.GetName(), &info->screen, info->properties);
    Unindent();
    return result != 0 ? result : WriteLine("</VARIABLE>\n");
}

int QNL_xmlbifFormat::WriteDefinition(int node) {
    const QNL_node* item = network->GetNode(node);
    int result = WriteRaw("\n");
    if (result == 0) result = WriteLine("<DEFINITION>\n");
    Indent();
    if (result == 0) result = WriteElementLine("FOR", item->GetId());
    const QNL_intArray& parents = network->GetParents(node, 0);
    for (int i = 0; result == 0 && i < parents.GetCount(); ++i) {
        const QNL_node* parent = network->GetNode(parents[i]);
        result = WriteElementLine("GIVEN", parent != nullptr ? parent->GetId() : "UnknownParent");
    }
    QNL_doubleArray values;
    const int count =
        result == 0 && item->GetDefinition()->GetDefinition(values) == 0 ? values.GetCount() : 0;
    if (count > 0) {
        // One line per column of a probability table; utilities and choice values run on.
        const int outcomes = item->GetDefinition()->GetNumberOfOutcomes();
        const int row = (item->GetType() & 6) != 0 && outcomes > 0 ? outcomes : 10;
        result = WriteLine("<TABLE>\n");
        Indent();
        std::string line;
        for (int i = 0; result == 0 && i < count; ++i) {
            line += FormatNumber(values[i]);
            if ((i + 1) % row == 0 || i + 1 == count) {
                line += '\n';
                result = WriteLine(line.c_str());
                line.clear();
            } else {
                line += ' ';
            }
        }
        Unindent();
        if (result == 0) result = WriteLine("</TABLE>\n");
    }
    Unindent();
    return result != 0 ? result : WriteLine("</DEFINITION>\n");
}
