#include "formats/hugin_format.h"

#include "formats/text_lines.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"
#include "model/submodel.h"
#include "numerics/number_text.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr const char* NET_WORDS[] = {
    "HR_Monitor_InitSD",
    "HR_Monitor_InitStates",
    "HR_Monitor_OpenGraph",
    "HR_Monitor_GraphPrecision",
    "HR_Monitor_AutoUpdGraph",
    "HR_Compile_ApproxEpsilon",
    "HR_Compile_Approximate",
    "HR_Compile_Compress",
    "HR_Compile_TriangMethod",
    "HR_Propagate_AutoNormal",
    "HR_Propagate_AutoSum",
    "HR_Propagate_Auto",
    "HR_Font_Italic",
    "HR_Font_Weight",
    "HR_Font_Size",
    "HR_Font_Name",
    "HR_Grid_GridShow",
    "HR_Grid_GridSnap",
    "HR_Grid_Y",
    "HR_Grid_X",
    "HRUNTIME_Monitor_InitStates",
    "HRUNTIME_Monitor_OpenGraph",
    "HRUNTIME_Monitor_GraphPrecision",
    "HRUNTIME_Monitor_AutoUpdGraph",
    "HRUNTIME_Compile_ApproxEpsilon",
    "HRUNTIME_Compile_Approximate",
    "HRUNTIME_Compile_Compress",
    "HRUNTIME_Compile_TriangMethod",
    "HRUNTIME_Propagate_AutoNormal",
    "HRUNTIME_Propagate_AutoSum",
    "HRUNTIME_Propagate_Auto",
    "HRUNTIME_Font_Italic",
    "HRUNTIME_Font_Weight",
    "HRUNTIME_Font_Size",
    "HRUNTIME_Font_Name",
    "HRUNTIME_Grid_GridShow",
    "HRUNTIME_Grid_GridSnap",
    "HRUNTIME_Grid_Y",
    "HRUNTIME_Grid_X",
    nullptr,
};

constexpr const char* NODE_WORDS[] = {"discrete", "continuous", "node",
                                      "decision", "utility",    nullptr};

// Columns whose sum misses 1 by no more than rounding are left as they are, so a table
// written and read back keeps every digit.
constexpr double SUM_TOLERANCE = 1e-12;

int RoundToInt(double value) {
    if (!(value == value)) return 0;
    if (value >= INT_MAX) return INT_MAX;
    if (value <= INT_MIN) return INT_MIN;
    return static_cast<int>(std::lround(value));
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Copies a string starting at the quote at i, escapes and all, up to its closing quote.
std::size_t CopyString(const std::string& in, std::size_t i, std::string& out) {
    out += in[i++];
    while (i < in.size()) {
        char c = in[i++];
        out += c;
        if (c == '\\' && i < in.size()) {
            out += in[i++];
        } else if (c == '"') {
            break;
        }
    }
    return i;
}

std::size_t CopyToLineEnd(const std::string& in, std::size_t i, std::string& out) {
    std::size_t end = in.find_first_of("\r\n", i);
    if (end == std::string::npos) end = in.size();
    out.append(in, i, end - i);
    return end;
}

// Some writers leave the states of a node unquoted, and their names then hold characters
// that the scanner splits or reads as a comment ("Transp.", "_7.5", "0_5___1_%"). Every
// unquoted item of a "states" list is put in quotes here, before scanning; a "%" opens a
// comment only where an item would begin. Line breaks stay where they are, so messages still
// name the right lines.
std::string QuoteBareStates(const std::string& in) {
    std::string out;
    out.reserve(in.size() + in.size() / 8);
    std::size_t i = 0;
    const std::size_t n = in.size();
    while (i < n) {
        char c = in[i];
        if (c == '"') {
            i = CopyString(in, i, out);
        } else if (c == '%' || (c == '/' && i + 1 < n && in[i + 1] == '/')) {
            i = CopyToLineEnd(in, i, out);
        } else if (c == '/' && i + 1 < n && in[i + 1] == '*') {
            std::size_t end = in.find("*/", i + 2);
            end = end == std::string::npos ? n : end + 2;
            out.append(in, i, end - i);
            i = end;
        } else if (IsWordChar(c)) {
            std::size_t start = i;
            while (i < n && IsWordChar(in[i]))
                ++i;
            out.append(in, start, i - start);
            if (in.compare(start, i - start, "states") != 0) continue;
            // "states" "=" "(" with blanks between: the items follow.
            std::size_t j = i;
            while (j < n && IsBlank(in[j]))
                ++j;
            if (j >= n || in[j] != '=') continue;
            ++j;
            while (j < n && IsBlank(in[j]))
                ++j;
            if (j >= n || in[j] != '(') continue;
            out.append(in, i, j + 1 - i);
            i = j + 1;
            while (i < n) {
                c = in[i];
                if (IsBlank(c)) {
                    out += c;
                    ++i;
                } else if (c == '"') {
                    i = CopyString(in, i, out);
                } else if (c == '%') {
                    i = CopyToLineEnd(in, i, out);
                } else if (c == ')' || c == ';' || c == '{' || c == '}' || c == '(') {
                    break;
                } else {
                    out += '"';
                    while (i < n && !IsBlank(in[i]) && in[i] != '"' && in[i] != ')' &&
                           in[i] != '(' && in[i] != ';' && in[i] != '{' && in[i] != '}') {
                        if (in[i] == '\\') out += '\\';
                        out += in[i++];
                    }
                    out += '"';
                }
            }
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// The sum of the lowest and highest vertical positions: mirroring about the middle of the
// occupied range maps y to this sum less y.
long long MirrorSum(QNL_network* network) {
    bool any = false;
    long long low = 0;
    long long high = 0;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const int y = network->GetNode(h)->GetInfo()->screen.position.y;
        low = any ? std::min<long long>(low, y) : y;
        high = any ? std::max<long long>(high, y) : y;
        any = true;
    }
    return low + high;
}

// name "=" and the list `read` reads; -129 when the name is not next.
template <typename Read>
int ReadListAfterName(QNL_textParser& parser, const char* name, Read read) {
    if (name == nullptr) return -2;
    if (parser.ExpectQuiet(QNL_textParser::IDENTIFIER, name) != 0) return -129;
    const int result = parser.Expect(QNL_textParser::PUNCTUATOR, "=");
    return result != 0 ? result : read();
}

} // namespace

using quarn::detail::FormatOutOfMemory;
using quarn::detail::ReadStatements;
using quarn::detail::UNNAMED_NODE;

QNL_huginFormat::QNL_huginFormat(QNL_network* network) : QNL_textParser(network), names(network) {}

// ---------------------------------------------------------------------------------------
// Lists and properties

int QNL_huginFormat::ReadIdentifierList(QNL_stringArray& list) {
    return quarn::detail::ReadBareStringList(*this, list);
}

int QNL_huginFormat::ReadRealList(QNL_doubleArray& list) {
    return quarn::detail::ReadBareRealList(*this, list);
}

int QNL_huginFormat::ReadListProperty(const char* name, QNL_stringArray& list) {
    return ReadListAfterName(*this, name, [this, &list] { return ReadIdentifierList(list); });
}

int QNL_huginFormat::ReadRealListProperty(const char* name, QNL_doubleArray& list) {
    return ReadListAfterName(*this, name, [this, &list] { return ReadRealList(list); });
}

int QNL_huginFormat::WriteIdentifierList(const QNL_stringArray& list, bool all) {
    return quarn::detail::WriteQuotedList(*this, list, all);
}

int QNL_huginFormat::WriteRealList(const QNL_doubleArray& list, bool all) {
    return quarn::detail::WriteBlankSeparatedList(*this, list, all);
}

int QNL_huginFormat::WriteIntegerList(const QNL_intArray& list, bool all) {
    return quarn::detail::WriteBlankSeparatedList(*this, list, all);
}

int QNL_huginFormat::WriteProperty(const char* name, const char* value, bool quoted, bool escaped) {
    return quarn::detail::WriteSeparatedProperty(*this, name, " = ", value, quoted, true, escaped);
}

int QNL_huginFormat::WriteBlockStart(const char* name) {
    return WriteBracedBlockStart(name);
}

// ---------------------------------------------------------------------------------------
// Reading

int QNL_huginFormat::Read(const char* path) {
    // The bytes go to the scanner as they are (it decodes them and takes any line end), once
    // the bare states are quoted.
    std::string text;
    if (int result = quarn::detail::ReadPreparedText(path, text, QuoteBareStates)) return result;
    return Parse(text);
}

int QNL_huginFormat::Parse(const std::string& text) {
    if (network == nullptr) return -2;
    names.Clear();
    fewerStates.clear();
    withPotential.clear();
    int result = StartReadingText(text, SCANNER_MODE);
    if (result == -102) QNL_errorHandler::Instance().LogError(-102, "ERROR: The file is empty");
    if (result != 0) return FinishReading(result);
    // Some writers leave out the net block: a file may begin with its first node.
    if (PeekMatch("net")) {
        result = ReadNetBlock();
        if (result != 0) return FinishReading(result);
    } else if (GetPeekResult() != 0) {
        return FinishReading(Expect(IDENTIFIER, "net"));
    }
    result = quarn::detail::ReadBlocks(*this, "Unknown Node Type", -2, [this] {
        if (MatchAny(NODE_WORDS)) return ReadNode();
        if (Match("potential")) return ReadPotential();
        return quarn::detail::UNKNOWN_BLOCK;
    });
    if (result == 0) result = ReportNodesWithoutPotential();
    if (result != 0) return FinishReading(result);
    MirrorPositions();
    return FinishReading(0);
}

int QNL_huginFormat::ReadNetBlock() {
    int result = Expect(IDENTIFIER, "net");
    if (result == 0) result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatements(*this, [this] { return ReadNetStatement(); });
    return Expect(PUNCTUATOR, "}");
}

int QNL_huginFormat::ReadNetStatement() {
    if (!NextIsIdentifier()) return Expect(IDENTIFIER);
    if (Match("node_size")) {
        QNL_doubleArray size;
        int result = ReadRealListProperty("node_size", size);
        if (result != 0) return result;
        if (size.GetCount() < 2) return ReportError(-2, "ERROR: Wrong node size");
        QNL_rectangle& box = network->GetSubmodelHandler().GetDefaultNodeScreenInfo().position;
        box.width = RoundToInt(size[0]);
        box.height = RoundToInt(size[1]);
        return 0;
    }
    if (MatchAny(NET_WORDS)) {
        ConsumeToken();
        return SkipStatement();
    }
    // The attributes of the tools that wrote the file (a name, a colour, the tool itself) are
    // kept as user properties of the network, as node blocks keep theirs. Some tools leave
    // the value unquoted (name = Munin;).
    try {
        const std::string name = GetTokenText();
        ConsumeToken();
        int result = Expect(PUNCTUATOR, "=");
        if (result != 0) return result;
        if (PeekToken() != 0 || (GetTokenKind() != STRING && GetTokenKind() != IDENTIFIER &&
                                 GetTokenKind() != INTEGER && GetTokenKind() != REAL))
            return Expect(STRING);
        const std::string value = GetTokenText();
        ConsumeToken();
        result = network->GetUserProperties().AddProperty(name.c_str(), value.c_str());
        if (result != 0)
            ReportError(result, ("ERROR: '" + name + "' : Couldn't add the attribute").c_str());
        return result;
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
}

// A file cut short loses the potentials at its end; the nodes they defined would otherwise
// keep no parents and a uniform table without a word.
int QNL_huginFormat::ReportNodesWithoutPotential() {
    try {
        for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
            if (withPotential.count(h) != 0) continue;
            const char* id = network->GetNode(h)->GetId();
            ReportError(-2, ("ERROR: Node (\"" + std::string(id != nullptr ? id : "") +
                             "\") : No potential defines it")
                                .c_str());
        }
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
    return 0;
}

int QNL_huginFormat::ReadNode() {
    nodeType = QNL_TYPE_CPT;
    int result = Expect(IDENTIFIER);
    if (result != 0) return result;
    std::string kind = GetTokenText();
    try {
        if (kind == "discrete" || kind == "continuous") {
            if (kind == "continuous")
                ReportError(-127, "ERROR: : Continuous nodes not supported (yet)");
            result = Expect(IDENTIFIER);
            if (result != 0) return result;
            kind = GetTokenText();
        }
        if (kind == "node") {
            nodeType = QNL_TYPE_CPT;
        } else if (kind == "decision") {
            nodeType = QNL_TYPE_LIST;
        } else if (kind == "utility") {
            nodeType = QNL_TYPE_TABLE;
        } else {
            return ReportError(-2, ("ERROR: '" + kind + "' : Unknown Node Type").c_str());
        }
        // Node names may be numbers in files of some tools.
        if (!quarn::detail::NextIsNodeName(*this, true)) return Expect(IDENTIFIER);
        const std::string raw = GetTokenText();
        ConsumeToken();
        int node = -1;
        result = quarn::detail::ReadNodeBlock(
            *this, names, nodeType, raw, [this](int h) { return ReadNodeStatement(h); }, node);
        if (result == quarn::detail::NODE_DELETED) {
            fewerStates.erase(node);
            return 0;
        }
        if (result != 0) return result;
        QNL_header& header = network->GetNode(node)->GetInfo()->header;
        if (header.GetName() == nullptr || header.GetName()[0] == '\0') header.SetName(raw.c_str());
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
    return 0;
}

int QNL_huginFormat::ReadNodeStatement(int node) {
    if (!NextIsIdentifier()) return Expect(IDENTIFIER);
    QNL_node* n = network->GetNode(node);
    if (Match("label")) {
        int result = ReadProperty("label", STRING);
        if (result != 0) return result;
        return ReportError(n->GetInfo()->header.SetName(GetTokenText().c_str()),
                           "ERROR: Couldn't set the node's label");
    }
    if (Match("position")) {
        QNL_doubleArray position;
        int result = ReadRealListProperty("position", position);
        if (result != 0) return result;
        if (position.GetCount() < 2) return ReportError(-2, "ERROR: Wrong position coordinates");
        n->GetInfo()->screen.position.x = RoundToInt(position[0]);
        n->GetInfo()->screen.position.y = RoundToInt(position[1]);
        return 0;
    }
    if (Match("states")) {
        QNL_stringArray states;
        int result = ReadListProperty("states", states);
        if (result != 0) return result;
        result = quarn::detail::SetOutcomesFromNames(n->GetDefinition(), states);
        if (result != 0) return ReportError(result, "ERROR: Couldn't set the node's states");
        if (n->GetDefinition()->GetNumberOfOutcomes() > states.GetCount())
            fewerStates[node] = states.GetCount();
        return 0;
    }
    try {
        const std::string name = GetTokenText();
        ConsumeToken();
        int result = Expect(PUNCTUATOR, "=");
        if (result == 0) result = Expect(STRING);
        if (result != 0) return result;
        result = n->GetInfo()->properties.AddProperty(name.c_str(), GetTokenText().c_str());
        if (result != 0)
            ReportError(result, ("ERROR: '" + name + "' : Couldn't add the attribute").c_str());
        return result;
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
}

int QNL_huginFormat::ReadPotential() {
    int result = Expect(IDENTIFIER, "potential");
    if (result == 0) result = Expect(PUNCTUATOR, "(");
    if (result != 0) return result;
    try {
        const int node = quarn::detail::ReadTableChild(*this, names, true);
        if (node < 0) return node;
        withPotential.insert(node);
        if (quarn::detail::NextIsNodeName(*this, true))
            return ReportError(-127, "ERROR: Undirected arcs not (yet) supported");
        if (PeekToken() == 0 && GetTokenKind() == PUNCTUATOR && GetTokenText() == "|")
            ConsumeToken();
        std::vector<std::string> parentNames;
        std::vector<int> parents;
        quarn::detail::ReadParentNames(*this, names, true, parentNames, parents);
        result = Expect(PUNCTUATOR, ")");
        if (result == 0) result = Expect(PUNCTUATOR, "{");
        // A potential that cannot be read is dropped whole, its parents with it.
        if (result != 0) return result;
        QNL_doubleArray values;
        bool haveData = false;
        bool dataFailed = false;
        ReadStatements(*this, [this, &values, &haveData, &dataFailed] {
            if (!PeekMatch("data")) {
                if (GetPeekResult() != 0) return GetPeekResult();
                return ReportError(
                    -127,
                    ("ERROR: '" + GetTokenText() + "' : Unknown potential statement").c_str());
            }
            ConsumeToken();
            values.SetSize(0);
            int r = Expect(PUNCTUATOR, "=");
            if (r == 0) r = ReadData(values);
            haveData = r == 0;
            dataFailed = dataFailed || r != 0;
            return r;
        });
        if (ReadBlockEnd() != 0) SkipBlock(1);
        if (dataFailed) return 0;
        // The parents join the node only with a table that fits them: a few numbers under a
        // long list of parents would otherwise allocate the whole table before being refused.
        if (haveData && !TableFits(node, parents, values.GetCount())) return 0;
        if (!quarn::detail::AddTableArcs(*this, node, parentNames, parents)) return 0;
        if (haveData) SetTable(node, values);
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
    return 0;
}

// The file holds a table of the full size, or one where nodes with a single state in the file
// count that one state.
bool QNL_huginFormat::TableFits(int node, const std::vector<int>& parents, long long count) {
    const long long full = quarn::detail::CellsWithParents(network, node, parents, 0);
    if (full == count) return true;
    long long inFile = 1;
    auto states = [this](int h) {
        auto found = fewerStates.find(h);
        return static_cast<long long>(
            found != fewerStates.end()
                ? found->second
                : network->GetNode(h)->GetDefinition()->GetNumberOfOutcomes());
    };
    for (int h : parents)
        if (h >= 0 && QNL_IsTableParentType(network->GetNode(h)->GetType()))
            inFile = std::min(inFile * std::max(1LL, states(h)), full + 1);
    if (network->GetNode(node)->GetType() != QNL_TYPE_TABLE) inFile *= std::max(1LL, states(node));
    if (inFile == count) return true;
    if (full > quarn::detail::MAX_READ_TABLE_CELLS) return true; // reported when the arcs are added
    ReportError(-2, ("ERROR: Node (\"" + std::string(network->GetNode(node)->GetId()) +
                     "\") : " + std::to_string(count) + " values given, the table holds " +
                     std::to_string(full))
                        .c_str());
    return false;
}

int QNL_huginFormat::ReadData(QNL_doubleArray& values) {
    int result = Expect(PUNCTUATOR, "(");
    if (result != 0) return result;
    long long level = 1;
    while (level > 0) {
        if (PeekToken() != 0) return Expect(PUNCTUATOR, ")");
        if (GetTokenKind() == INTEGER || GetTokenKind() == REAL) {
            double value = 0.0;
            result = ReadReal(&value);
            if (result == 0) result = values.Add(value);
            if (result != 0) return result;
        } else if (GetTokenKind() == PUNCTUATOR && GetTokenText() == "(") {
            ConsumeToken();
            ++level;
        } else if (GetTokenKind() == PUNCTUATOR && GetTokenText() == ")") {
            ConsumeToken();
            --level;
        } else {
            try {
                return ReportError(-127, ("ERROR: '" + GetTokenText() + "' : Unexpected").c_str());
            } catch (const std::bad_alloc&) {
                return FormatOutOfMemory();
            }
        }
    }
    return 0;
}

// A table of the wrong length is refused whole: half a table is worse than none. The
// probability columns are normalised: a column of zeros becomes uniform.
int QNL_huginFormat::SetTable(int node, QNL_doubleArray& values) {
    QNL_node* n = network->GetNode(node);
    QNL_nodeDefinition* definition = n->GetDefinition();
    const int expected = definition->GetSize();
    if (expected >= 0 && values.GetCount() != expected && !fewerStates.empty())
        ExpandSingleStates(node, values);
    if (expected < 0 || values.GetCount() != expected) {
        std::string message = "ERROR: Node (\"" + std::string(n->GetId()) +
                              "\") : " + std::to_string(values.GetCount()) +
                              " values given, the table holds " +
                              std::to_string(std::max(expected, 0));
        return ReportError(-2, message.c_str());
    }
    // An infinite or undefined number would turn its whole column into NaN when normalised.
    for (int i = 0; i < expected; ++i)
        if (!std::isfinite(values[i])) {
            std::string message = "ERROR: Node (\"" + std::string(n->GetId()) +
                                  "\") : table value " + std::to_string(i) +
                                  " is not a finite number";
            return ReportError(-2, message.c_str());
        }
    if (definition->GetType() == QNL_TYPE_CPT) {
        quarn::detail::ClearRoundOff(values.Items(), expected);
        const int outcomes = definition->GetNumberOfOutcomes();
        for (int start = 0; outcomes > 0 && start < expected; start += outcomes) {
            double* column = values.Items() + start;
            double sum = 0.0;
            for (int i = 0; i < outcomes; ++i)
                sum += column[i];
            if (std::fabs(sum - 1.0) <= SUM_TOLERANCE) continue;
            if (sum == 0.0) {
                std::fill(column, column + outcomes, 1.0 / outcomes);
            } else {
                for (int i = 0; i < outcomes; ++i)
                    column[i] /= sum;
            }
        }
    }
    int result = definition->SetDefinition(values);
    if (result != 0) ReportError(result, "ERROR: Couldn't set the node's table");
    return result;
}

// A node with a single state in the file has two outcomes here, the second impossible. Its
// own column gets a 0 for that outcome; as a parent, its second outcome repeats the columns
// of its first.
bool QNL_huginFormat::ExpandSingleStates(int node, QNL_doubleArray& values) {
    std::vector<int> sizes;
    QNL_doubleArray table;
    if (!quarn::detail::TableShape(network, node, sizes, table)) return false;
    std::vector<int> fileSizes = sizes;
    const QNL_intArray& parents = network->GetParents(node);
    std::size_t d = 0;
    for (int i = 0; i < parents.GetCount(); ++i) {
        const QNL_node* parent = network->GetNode(parents[i]);
        if (parent == nullptr || !QNL_IsTableParentType(parent->GetType())) continue;
        auto found = fewerStates.find(parents[i]);
        if (found != fewerStates.end()) fileSizes[d] = found->second;
        ++d;
    }
    auto own = fewerStates.find(node);
    if (own != fewerStates.end() && network->GetNode(node)->GetType() != QNL_TYPE_TABLE)
        fileSizes.back() = own->second;
    long long cells = 1;
    for (int size : fileSizes)
        cells *= size;
    if (cells != values.GetCount()) return false;
    // Walk the table's cells in storage order, reading each from the file's cell.
    std::vector<int> at(sizes.size(), 0);
    for (int cell = 0; cell < table.GetCount(); ++cell) {
        long long from = 0;
        bool padded = false;
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            int coordinate = at[k];
            if (coordinate >= fileSizes[k]) {
                if (k + 1 == sizes.size()) padded = true;
                coordinate = 0;
            }
            from = from * fileSizes[k] + coordinate;
        }
        table[cell] = padded ? 0.0 : values[static_cast<int>(from)];
        for (std::size_t k = sizes.size(); k-- > 0;) {
            if (++at[k] < sizes[k]) break;
            at[k] = 0;
        }
    }
    values = std::move(table);
    return true;
}

// The file's vertical axis points the other way. Mirroring about the middle of the occupied
// range is its own inverse and keeps every coordinate inside that range.
void QNL_huginFormat::MirrorPositions() {
    const long long sum = MirrorSum(network);
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        int& y = network->GetNode(h)->GetInfo()->screen.position.y;
        y = static_cast<int>(sum - y);
    }
}

// ---------------------------------------------------------------------------------------
// Writing

int QNL_huginFormat::Write(const char* path) {
    int mirror = 0;
    auto header = [this, &mirror] {
        const QNL_rectangle& size =
            network->GetSubmodelHandler().GetDefaultNodeScreenInfo().position;
        QNL_intArray nodeSize;
        nodeSize.Add(size.width);
        nodeSize.Add(size.height);
        int result = WriteLine("net ");
        if (result == 0) result = GetOutputFile().Write("\n{\n");
        Indent();
        if (result == 0) result = WriteIntegerListProperty("node_size", nodeSize, false);
        const QNL_userProperties& properties = network->GetUserProperties();
        for (int i = 0; i < properties.GetNumberOfProperties() && result == 0; ++i)
            if (std::strcmp(properties.GetName(i), "node_size") != 0)
                result = WriteProperty(properties.GetName(i), properties.GetValue(i), true, true);
        Unindent();
        if (result == 0) result = GetOutputFile().Write("}\n");
        mirror = static_cast<int>(MirrorSum(network));
        return result;
    };
    return quarn::detail::WriteForeignFile(
        *this, path, "ERROR: This Network cannot be saved in Hugin format", "Hugin", header,
        [this, &mirror](int h) { return WriteNode(h, mirror); },
        [this](int h) { return WritePotential(h); });
}

int QNL_huginFormat::WriteNode(int handle, int mirror) {
    const QNL_node* node = network->GetNode(handle);
    const int type = node->GetType();
    const char* id = node->GetId() != nullptr ? node->GetId() : UNNAMED_NODE;
    const char* kind = type == QNL_TYPE_LIST    ? "decision "
                       : type == QNL_TYPE_TABLE ? "utility "
                                                : "node ";
    int result = WriteLine(kind);
    if (result == 0) result = GetOutputFile().Write(id);
    if (result == 0) result = GetOutputFile().Write("\n{\n");
    if (result != 0) return result;
    Indent();
    const QNL_nodeInfo* info = node->GetInfo();
    const char* name = info->header.GetName();
    result = WriteProperty("label", name != nullptr ? name : "", true, true);
    QNL_intArray position;
    position.Add(info->screen.position.x);
    position.Add(static_cast<int>(static_cast<long long>(mirror) - info->screen.position.y));
    if (result == 0) result = WriteIntegerListProperty("position", position, false);
    if (result == 0 && type != QNL_TYPE_TABLE) {
        const QNL_idArray* outcomes = node->GetDefinition()->GetOutcomeIds();
        if (outcomes != nullptr) result = WriteIdentifierListProperty("states", *outcomes, false);
    }
    const QNL_userProperties& properties = info->properties;
    for (int i = 0; i < properties.GetNumberOfProperties() && result == 0; ++i)
        result = WriteProperty(properties.GetName(i), properties.GetValue(i), true, true);
    Unindent();
    return result != 0 ? result : WriteLine("}");
}

int QNL_huginFormat::WritePotential(int handle) {
    const QNL_node* node = network->GetNode(handle);
    std::string head = "potential (";
    head += node->GetId() != nullptr ? node->GetId() : UNNAMED_NODE;
    head += " |";
    const QNL_intArray& parents = network->GetParents(handle);
    for (int i = 0; i < parents.GetCount(); ++i) {
        const char* id = network->GetNode(parents[i])->GetId();
        head += ' ';
        head += id != nullptr ? id : UNNAMED_NODE;
    }
    head += ")\n";
    int result = WriteLine(head.c_str());
    if (result == 0) result = WriteLine("{\n");
    if (result != 0) return result;
    Indent();
    if (node->GetType() != QNL_TYPE_LIST) result = WriteTable(handle);
    Unindent();
    return result != 0 ? result : WriteLine("}");
}

// Nested groups, one level per parent; the innermost list is one column of the table, or
// for a utility node the utilities over the last parent's states.
int QNL_huginFormat::WriteTable(int handle) {
    std::vector<int> sizes;
    QNL_doubleArray values;
    if (!quarn::detail::TableShape(network, handle, sizes, values)) return -2;
    if (network->GetNode(handle)->GetType() == QNL_TYPE_TABLE && sizes.size() > 1) {
        sizes.pop_back();
    }
    const int inner = sizes.back();
    sizes.pop_back();
    std::vector<int> at(sizes.size(), 0);
    int result = WriteLine("data = ");
    QNL_doubleArray column;
    for (int start = 0; start < values.GetCount() && result == 0; start += inner) {
        std::string text;
        std::size_t opens = 0;
        while (opens < at.size() && at[at.size() - 1 - opens] == 0)
            ++opens;
        if (start > 0) {
            result = GetOutputFile().Write("\n");
            if (result == 0) result = WriteLine("");
        }
        text.assign(opens, '(');
        if (result == 0) result = GetOutputFile().Write(text);
        column.SetSize(0);
        for (int i = 0; i < inner; ++i)
            column.Add(values[start + i]);
        if (result == 0) result = WriteRealList(column, false);
        // The odometer: closing a group for every level that wraps around.
        std::size_t closes = 0;
        for (std::size_t level = at.size(); level-- > 0;) {
            if (++at[level] < sizes[level]) break;
            at[level] = 0;
            ++closes;
        }
        text.assign(closes, ')');
        if (result == 0) result = GetOutputFile().Write(text);
    }
    return result != 0 ? result : GetOutputFile().Write(";\n");
}
