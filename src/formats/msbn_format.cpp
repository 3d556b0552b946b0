#include "formats/msbn_format.h"

#include "definitions/cpt.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"
#include "numerics/number_text.h"

#include <new>
#include <string>
#include <unordered_set>

namespace {

constexpr const char* HEADER_WORDS[] = {"diagnostic", "belief", "trouble", nullptr};
constexpr const char* TABLE_WORDS[] = {"probability", "utility", "information", nullptr};

const char* const UNNAMED_NETWORK = "_Unnamed_Network_";

} // namespace

using quarn::detail::FormatOutOfMemory;
using quarn::detail::ReadStatements;
using quarn::detail::UNNAMED_NODE;

QNL_msbnFormat::QNL_msbnFormat(QNL_network* network) : QNL_textParser(network), names(network) {}

// ---------------------------------------------------------------------------------------
// Lists and properties

int QNL_msbnFormat::ReadIdentifierList(QNL_stringArray& list) {
    return quarn::detail::ReadBareStringList(*this, list);
}

int QNL_msbnFormat::ReadRealList(QNL_doubleArray& list) {
    return quarn::detail::ReadBareRealList(*this, list);
}

int QNL_msbnFormat::ReadIntegerList(QNL_intArray& list) {
    int result = Expect(PUNCTUATOR, "(");
    if (result != 0) return result;
    while (NextIsInteger()) {
        int value = 0;
        result = ReadInteger(&value);
        if (result == 0) result = list.Add(value);
        if (result != 0) return result;
    }
    return Expect(PUNCTUATOR, ")");
}

int QNL_msbnFormat::WriteIdentifierList(const QNL_stringArray& list, bool all) {
    return quarn::detail::WriteQuotedList(*this, list, all);
}

int QNL_msbnFormat::WriteRealList(const QNL_doubleArray& list, bool all) {
    return quarn::detail::WriteBlankSeparatedList(*this, list, all);
}

int QNL_msbnFormat::WriteIntegerListProperty(const char* name, const QNL_intArray& list, bool all) {
    if (name == nullptr) return 0;
    int result = WriteLine(name);
    if (result == 0) result = GetOutputFile().Write(" : ");
    if (result == 0) result = WriteIntegerList(list, all);
    return result != 0 ? result : GetOutputFile().Write(";\n");
}

int QNL_msbnFormat::ReadProperty(const char* name, int kind) {
    return ReadColonProperty(name, kind);
}

int QNL_msbnFormat::WriteProperty(const char* name, const char* value, bool quoted, bool escaped) {
    return quarn::detail::WriteSeparatedProperty(*this, name, " : ", value, quoted, escaped,
                                                 escaped);
}

int QNL_msbnFormat::WriteBlockStart(const char* name) {
    return WriteBracedBlockStart(name);
}

// ---------------------------------------------------------------------------------------
// Reading

int QNL_msbnFormat::Read(const char* path) {
    if (network == nullptr) return -2;
    names.Clear();
    int result = StartReading(path, SCANNER_MODE);
    if (result == -102) QNL_errorHandler::Instance().LogError(-102, "ERROR: The file is empty");
    if (result != 0) return FinishReading(result);
    // A file without its header is not taken for an empty network.
    result = PeekMatchAny(HEADER_WORDS) ? ReadNetwork() : Expect(IDENTIFIER, "belief");
    return FinishReading(result);
}

int QNL_msbnFormat::ReadNetwork() {
    int result = Expect(IDENTIFIER);
    if (result == 0) result = Expect(IDENTIFIER, "network");
    if (result == 0) result = Expect(STRING);
    if (result != 0) return result;
    QNL_header* header = network->GetHeader();
    result = header != nullptr ? header->SetName(GetTokenText().c_str()) : -2;
    if (result != 0) return ReportError(result, "ERROR: Couldn't set the network's name");
    return quarn::detail::ReadBlocks(*this, "Unknown Object", -127, [this] {
        if (Match("node")) return ReadNode();
        if (MatchAny(TABLE_WORDS)) return ReadTableBlock();
        return quarn::detail::UNKNOWN_BLOCK;
    });
}

int QNL_msbnFormat::ReadNode() {
    nodeType = QNL_TYPE_CPT;
    int result = Expect(IDENTIFIER, "node");
    if (result != 0) return result;
    if (!quarn::detail::NextIsNodeName(*this, false)) return Expect(IDENTIFIER);
    try {
        const std::string raw = GetTokenText();
        ConsumeToken();
        int node = -1;
        result = quarn::detail::ReadNodeBlock(
            *this, names, nodeType, raw, [this](int h) { return ReadNodeStatement(h); }, node);
        return result == quarn::detail::NODE_DELETED ? 0 : result;
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
}

int QNL_msbnFormat::ReadNodeStatement(int node) {
    if (!NextIsIdentifier()) return Expect(IDENTIFIER);
    QNL_node* n = network->GetNode(node);
    if (Match("label")) {
        // Read and not used; our own files say "utility" or "decision" here.
        ConsumeToken();
        int result = Expect(PUNCTUATOR, ":");
        if (result != 0) return result;
        if (NextIsIdentifier() || NextIsString()) {
            ConsumeToken();
            return 0;
        }
        return Expect(IDENTIFIER);
    }
    if (Match("position")) {
        ConsumeToken();
        QNL_intArray position;
        int result = Expect(PUNCTUATOR, ":");
        if (result == 0) result = ReadIntegerList(position);
        if (result != 0) return result;
        if (position.GetCount() < 2) return ReportError(-2, "ERROR: Wrong position coordinates");
        n->GetInfo()->screen.position.x = position[0];
        n->GetInfo()->screen.position.y = position[1];
        return 0;
    }
    if (Match("name")) {
        int result = ReadProperty("name", STRING);
        if (result != 0) return result;
        return ReportError(n->GetInfo()->header.SetName(GetTokenText().c_str()),
                           "ERROR: Couldn't set the node's name");
    }
    if (Match("type")) return ReadStates(node);
    try {
        return ReportError(-127,
                           ("ERROR: '" + GetTokenText() + "' : Unknown Node Statement").c_str());
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
}

// "type" ":" "discrete" "[" n "]" "=" "{" strings "}"
int QNL_msbnFormat::ReadStates(int node) {
    int result = Expect(IDENTIFIER, "type");
    if (result == 0) result = Expect(PUNCTUATOR, ":");
    if (result == 0) result = Expect(IDENTIFIER, "discrete");
    if (result == 0) result = Expect(PUNCTUATOR, "[");
    if (result != 0) return result;
    int count = 0;
    try {
        if (ReadInteger(&count) != 0) {
            PeekToken();
            return ReportError(
                -127, ("ERROR: '" + GetTokenText() + "' : Expecting number of states").c_str());
        }
        result = Expect(PUNCTUATOR, "]");
        if (result == 0) result = Expect(PUNCTUATOR, "=");
        if (result == 0) result = Expect(PUNCTUATOR, "{");
        if (result != 0) return result;
        QNL_stringArray states;
        std::unordered_set<std::string> seen;
        std::string repeated;
        while (NextIsString()) {
            ConsumeToken();
            if (!seen.insert(GetTokenText()).second && repeated.empty()) repeated = GetTokenText();
            result = states.Add(GetTokenText().c_str());
            if (result != 0) return result;
        }
        if (!(PeekToken() == 0 && GetTokenKind() == PUNCTUATOR && GetTokenText() == "}")) {
            result = Expect(STRING);
            // The rest of the list goes with it, so the node's other statements still read.
            if (GetPeekResult() == 0) SkipBlock(1);
            return result;
        }
        result = Expect(PUNCTUATOR, "}");
        if (result != 0) return result;
        if (states.GetCount() != count) {
            ReportError(-2, ("ERROR: '" + std::to_string(count) +
                             "' : Size of list doesn't match number of outcomes. Using list size")
                                .c_str());
        }
        // States that only the identifier repair tells apart would no longer match the file.
        if (!repeated.empty())
            ReportError(-2, ("ERROR: '" + repeated + "' : State name given twice").c_str());
        QNL_node* n = network->GetNode(node);
        if (quarn::detail::SetOutcomesFromNames(n->GetDefinition(), states) != 0) {
            ReportError(-2, ("ERROR: '" + std::to_string(states.GetCount()) +
                             "' : Couldn't set the number of outcomes")
                                .c_str());
        }
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
    return 0;
}

int QNL_msbnFormat::ReadTableBlock() {
    int result = Expect(IDENTIFIER);
    if (result != 0) return result;
    nodeType = Match("utility")       ? QNL_TYPE_TABLE
               : Match("information") ? QNL_TYPE_LIST
                                      : QNL_TYPE_CPT;
    result = Expect(PUNCTUATOR, "(");
    if (result != 0) return result;
    try {
        const int node = quarn::detail::ReadTableChild(*this, names, false);
        if (node < 0) return node;
        QNL_node* n = network->GetNode(node);
        if (n->GetType() != nodeType && n->SetType(nodeType) != 0)
            return ReportError(-127, "ERROR: Unknown Node Type");
        // The "|" and "," between the parents are blanks to the scanner.
        std::vector<std::string> parentNames;
        std::vector<int> parents;
        quarn::detail::ReadParentNames(*this, names, false, parentNames, parents);
        result = Expect(PUNCTUATOR, ")");
        const bool withTable = result == 0 && PeekToken() == 0 && GetTokenKind() == PUNCTUATOR &&
                               GetTokenText() == "{";
        // Every cell of the table must be given, each by a number of its own: a table with
        // more cells than the rest of the file has characters is refused before the arcs would
        // allocate it.
        const long long cells = quarn::detail::CellsWithParents(network, node, parents, 0);
        if (withTable && cells <= quarn::detail::MAX_READ_TABLE_CELLS &&
            static_cast<unsigned long long>(cells) > GetRemainingInput()) {
            ReportError(
                -2, ("ERROR: Node (\"" + std::string(n->GetId()) + "\") : Table entries missing")
                        .c_str());
            return SkipTableBody();
        }
        if (!quarn::detail::AddTableArcs(*this, node, parentNames, parents) && withTable)
            return SkipTableBody();
        if (result != 0) return result;
        if (PeekToken() == 0 && GetTokenKind() == PUNCTUATOR && GetTokenText() == "{") {
            ConsumeToken();
            tableSizes.clear();
            tableValues.SetSize(0);
            given.clear();
            tableOverrun = false;
            if (n->GetType() != QNL_TYPE_LIST &&
                quarn::detail::TableShape(network, node, tableSizes, tableValues)) {
                given.assign(static_cast<std::size_t>(tableValues.GetCount()), 0);
            } else {
                tableSizes.clear();
            }
            ReadStatements(*this, [this, node] { return ReadTableStatement(node); });
            if (ReadBlockEnd() != 0) SkipBlock(1);
            FinishTable(node);
        }
        if (PeekToken() == 0 && GetTokenKind() == PUNCTUATOR && GetTokenText() == ";")
            ConsumeToken();
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
    return 0;
}

// The braced table of a block that was refused, and the ";" after it.
int QNL_msbnFormat::SkipTableBody() {
    const int result = SkipBlock(0);
    if (result == 0 && PeekToken() == 0 && GetTokenKind() == PUNCTUATOR && GetTokenText() == ";")
        ConsumeToken();
    return result;
}

// ["(" parent states ")" ":"] numbers. The numbers fill the table in storage order from the
// cell the parent states name (from the first cell without them).
int QNL_msbnFormat::ReadTableStatement(int node) {
    const std::string id = network->GetNode(node)->GetId();
    bool placed = true;
    std::size_t start = 0;
    if (NextIsOpenParen()) {
        QNL_intArray states;
        int result = ReadIntegerList(states);
        if (result == 0) result = Expect(PUNCTUATOR, ":");
        if (result != 0) return result;
        const std::size_t dimensions = tableSizes.size();
        placed = dimensions > 0 && static_cast<std::size_t>(states.GetCount()) == dimensions - 1;
        std::size_t index = 0;
        for (std::size_t d = 0; placed && d + 1 < dimensions; ++d) {
            const int state = states[static_cast<int>(d)];
            placed = state >= 0 && state < tableSizes[d];
            index =
                index * static_cast<std::size_t>(tableSizes[d]) + static_cast<std::size_t>(state);
        }
        if (placed) start = index * static_cast<std::size_t>(tableSizes.back());
        if (!placed) ReportError(-2, "ERROR: Invalid coordinates");
    } else if (!NextIsNumber()) {
        if (GetPeekResult() != 0) return GetPeekResult();
        return ReportError(-127,
                           ("ERROR: '" + GetTokenText() + "' : Real Number expected").c_str());
    } else if (tableSizes.empty()) {
        placed = false;
        ReportError(-2, ("ERROR: Node (\"" + id + "\") has no table").c_str());
    }
    std::size_t at = start;
    while (NextIsNumber()) {
        double value = 0.0;
        int result = ReadReal(&value);
        if (result != 0) return result;
        if (!placed) continue;
        if (at >= given.size()) {
            if (!tableOverrun)
                ReportError(
                    -2,
                    ("ERROR: Node (\"" + id + "\") : Values beyond the end of the table").c_str());
            tableOverrun = true;
            continue;
        }
        tableValues[static_cast<int>(at)] = value;
        if (given[at] < 2) ++given[at];
        ++at;
    }
    if (PeekToken() == 0 &&
        !(GetTokenKind() == PUNCTUATOR && (GetTokenText() == ";" || GetTokenText() == "}")))
        return ReportError(-127,
                           ("ERROR: '" + GetTokenText() + "' : Real Number expected").c_str());
    return placed ? 0 : -2;
}

// Every cell must have been given once, and each distribution must sum to 1.
int QNL_msbnFormat::FinishTable(int node) {
    if (tableSizes.empty()) return 0;
    QNL_node* n = network->GetNode(node);
    const std::string id = n->GetId();
    bool missing = false;
    bool twice = false;
    for (unsigned char count : given) {
        missing = missing || count == 0;
        twice = twice || count > 1;
    }
    int result = 0;
    if (twice)
        result = ReportError(
            -2, ("ERROR: Node (\"" + id + "\") : Table entries given more than once").c_str());
    if (missing)
        result = ReportError(-2, ("ERROR: Node (\"" + id + "\") : Table entries missing").c_str());
    if (n->GetType() == QNL_TYPE_CPT && !missing) {
        quarn::detail::ClearRoundOff(tableValues.Items(), tableValues.GetCount());
        const int outcomes = tableSizes.back();
        for (int startAt = 0; startAt < tableValues.GetCount(); startAt += outcomes) {
            double sum = 0.0;
            for (int i = 0; i < outcomes; ++i)
                sum += tableValues[startAt + i];
            if (sum < QNL_cpt::MIN_COLUMN_SUM || sum > QNL_cpt::MAX_COLUMN_SUM) {
                result = ReportError(
                    -2, ("ERROR: Node (\"" + id + "\") : Probabilities do not sum to 1").c_str());
                break;
            }
        }
    }
    const int set = n->GetDefinition()->SetDefinition(tableValues);
    if (set != 0) result = ReportError(set, "ERROR: Couldn't set the node's table");
    return result;
}

// ---------------------------------------------------------------------------------------
// Writing

int QNL_msbnFormat::Write(const char* path) {
    auto header = [this] {
        const QNL_header* header = network->GetHeader();
        const char* name = header != nullptr ? header->GetName() : nullptr;
        if (name == nullptr || name[0] == '\0') name = UNNAMED_NETWORK;
        int result = WriteLine("belief network ");
        if (result == 0) result = WriteQuotedText(name, true);
        return result != 0 ? result : GetOutputFile().Write("\n");
    };
    return quarn::detail::WriteForeignFile(
        *this, path, "ERROR: This Network cannot be saved in Microsotf format", "MSBN", header,
        [this](int h) { return WriteNode(h); }, [this](int h) { return WriteTableBlock(h); });
}

int QNL_msbnFormat::WriteNode(int handle) {
    const QNL_node* node = network->GetNode(handle);
    const int type = node->GetType();
    const QNL_nodeInfo* info = node->GetInfo();
    int result = WriteLine("node ");
    if (result == 0)
        result = GetOutputFile().Write(node->GetId() != nullptr ? node->GetId() : UNNAMED_NODE);
    if (result == 0) result = GetOutputFile().Write("\n");
    if (result == 0) result = WriteLine("{\n");
    if (result != 0) return result;
    Indent();
    const char* name = info->header.GetName();
    result = WriteProperty("name", name != nullptr ? name : "", true, true);
    const QNL_idArray* outcomes = node->GetDefinition()->GetOutcomeIds();
    if (result == 0 && type != QNL_TYPE_TABLE && outcomes != nullptr) {
        result = WriteLine("type : discrete");
        if (result == 0)
            result = GetOutputFile().Write("[" + std::to_string(outcomes->GetCount()) + "]");
        if (result == 0) result = GetOutputFile().Write(" = \n");
        if (result == 0) result = WriteLine("{\n");
        Indent();
        for (int i = 0; i < outcomes->GetCount() && result == 0; ++i) {
            if (i > 0) result = GetOutputFile().Write(",\n");
            if (result == 0) result = WriteLine("");
            if (result == 0) result = WriteQuotedText(outcomes->GetString(i), true);
        }
        if (result == 0) result = GetOutputFile().Write("\n");
        Unindent();
        if (result == 0) result = WriteLine("};\n");
    }
    QNL_intArray position;
    position.Add(info->screen.position.x);
    position.Add(info->screen.position.y);
    if (result == 0) result = WriteIntegerListProperty("position", position, false);
    if (result == 0 && type == QNL_TYPE_TABLE)
        result = WriteProperty("label", "utility", false, false);
    if (result == 0 && type == QNL_TYPE_LIST)
        result = WriteProperty("label", "decision", false, false);
    Unindent();
    return result != 0 ? result : WriteLine("}");
}

int QNL_msbnFormat::WriteTableBlock(int handle) {
    const QNL_node* node = network->GetNode(handle);
    const int type = node->GetType();
    std::string head = "(";
    head += node->GetId() != nullptr ? node->GetId() : UNNAMED_NODE;
    const QNL_intArray& parents = network->GetParents(handle);
    for (int i = 0; i < parents.GetCount(); ++i) {
        const char* id = network->GetNode(parents[i])->GetId();
        head += i == 0 ? " | " : ", ";
        head += id != nullptr ? id : UNNAMED_NODE;
    }
    head += ")";
    if (type == QNL_TYPE_LIST) {
        int result = WriteLine("information ");
        if (result == 0) result = GetOutputFile().Write(head);
        return result != 0 ? result : GetOutputFile().Write(";\n");
    }
    int result = WriteLine(type == QNL_TYPE_TABLE ? "utility " : "probability ");
    if (result == 0) result = GetOutputFile().Write(head + "\n");
    if (result == 0) result = WriteLine("{\n");
    if (result != 0) return result;
    std::vector<int> sizes;
    QNL_doubleArray values;
    if (!quarn::detail::TableShape(network, handle, sizes, values)) return -2;
    Indent();
    const int inner = sizes.back();
    const std::size_t levels = sizes.size() - 1;
    std::vector<int> at(levels, 0);
    for (int start = 0; start < values.GetCount() && result == 0; start += inner) {
        std::string line;
        if (levels > 0) {
            line = "(";
            for (std::size_t d = 0; d < levels; ++d) {
                if (d > 0) line += ", ";
                line += std::to_string(at[d]);
            }
            line += ") : ";
        }
        for (int i = 0; i < inner; ++i) {
            if (i > 0) line += ", ";
            line += FormatNumber(values[start + i]);
        }
        line += ";\n";
        result = WriteLine(line.c_str());
        for (std::size_t d = levels; d-- > 0;) {
            if (++at[d] < sizes[d]) break;
            at[d] = 0;
        }
    }
    Unindent();
    return result != 0 ? result : WriteLine("}");
}
