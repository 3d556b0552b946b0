#include "formats/netica_format.h"

#include "definitions/truth_table.h"
#include "formats/text_lines.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/submodel.h"
#include "numerics/number_text.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Settings of the tool that the library keeps nowhere; each is passed over up to its ";"
// (braces and all) without a word.
constexpr const char* NET_SKIPPED[] = {
    "numdimensions", "eqncontext", "whochanged",  "locked",  "autoupdate",
    "elimorder",     "ElimOrder",  "AutoCompile", "NodeSet", nullptr,
};

constexpr const char* NET_VISUAL_SKIPPED[] = {
    "dispname",
    "dispform",
    "defdispform",
    "nodelabeling",
    "nodefont",
    "hidden",
    "linkfont",
    "commentfont",
    "linkjoin",
    "showstrength",
    "nodecolors",
    "linkcolors",
    "commentcolor",
    "pagebreakcolor",
    "groupingcolor",
    "commentinfos",
    "parts",
    "scrollposn",
    "resolution",
    "magnification",
    "drawingbounds",
    "showpagebreaks",
    "usegrid",
    "gridspace",
    "user",
    "NodeSet",
    "PrinterSetting",
    "NodeMaxNumEntries",
    "ShowLinkStrengths",
    "CommentShowing",
    "CommentWindowPosn",
    nullptr,
};

// The tool's stand-ins for nodes defined in other files: nothing of them is kept.
constexpr const char* PARAM_SKIPPED[] = {"discrete", "measure", "numstates",   "states",
                                         "levels",   "units",   "kind",        "chance",
                                         "title",    "comment", "whenchanged", nullptr};

constexpr const char* NODE_SKIPPED[] = {
    "numstates",
    "measure",
    "units",
    "inputs",
    "equation",
    "numcases",
    "fading",
    "delays",
    "persist",
    "position",
    "evidcost",
    "author",
    "whochanged",
    "whenchanged",
    "locked",
    "value",
    "evidence",
    "belief",
    "children",
    "EqnDirty",
    "ExperBase",
    "statetitles",
    "CommentShowing",
    "CommentWindowPosn",
    "ShowLinkStrengths",
    "NodeMaxNumEntries",
    nullptr,
};

constexpr const char* NODE_VISUAL_SKIPPED[] = {"dispform", "hidden", "height", "links",
                                               "user",     "parts",  "font",   nullptr};

constexpr const char* LINK_SKIPPED[] = {"path", "labelposn", "linewidth", "user", nullptr};

// Columns whose sum misses 1 by no more than rounding are left as they are.
constexpr double SUM_TOLERANCE = 1e-12;

// The tool writes "evidence = #0;", and "#" is no character of the scanner's: outside strings
// and comments it becomes a blank, which drops nothing the library reads.
std::string BlankHashes(const std::string& in) {
    std::string out = in;
    const std::size_t n = out.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = out[i];
        if (c == '"') {
            for (++i; i < n && out[i] != '"'; ++i)
                if (out[i] == '\\') ++i;
            ++i;
        } else if (c == '/' && i + 1 < n && out[i + 1] == '/') {
            while (i < n && out[i] != '\n' && out[i] != '\r')
                ++i;
        } else if (c == '/' && i + 1 < n && out[i + 1] == '*') {
            const std::size_t end = out.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
        } else if (c == '/' && i + 1 < n && out[i + 1] == '#') {
            int depth = 0;
            while (i + 1 < n) {
                if (out[i] == '/' && out[i + 1] == '#') {
                    ++depth;
                    i += 2;
                } else if (out[i] == '#' && out[i + 1] == '/') {
                    i += 2;
                    if (--depth == 0) break;
                } else {
                    ++i;
                }
            }
            if (depth != 0) i = n;
        } else {
            if (c == '#') out[i] = ' ';
            ++i;
        }
    }
    return out;
}

std::string Quoted(const std::string& text) {
    return "(\"" + text + "\")";
}

// The name of an interval of a continuous node: its bounds.
std::string IntervalName(double low, double high) {
    return quarn::detail::ShortestNumberText(low) + "_to_" +
           quarn::detail::ShortestNumberText(high);
}

} // namespace

using quarn::detail::FormatOutOfMemory;
using quarn::detail::ReadStatements;
using quarn::detail::UNNAMED_NODE;

QNL_neticaFormat::QNL_neticaFormat(QNL_network* network)
    : QNL_textParser(network), names(network) {}

// ---------------------------------------------------------------------------------------
// Reading

int QNL_neticaFormat::Read(const char* path) {
    std::string text;
    if (int result = quarn::detail::ReadPreparedText(path, text, BlankHashes)) return result;
    return Parse(text);
}

int QNL_neticaFormat::Parse(const std::string& text) {
    if (network == nullptr) return -2;
    names.Clear();
    records.clear();
    handles.clear();
    int result = StartReadingText(text, SCANNER_MODE);
    if (result == -102) QNL_errorHandler::Instance().LogError(-102, "ERROR: The file is empty");
    if (result != 0) return FinishReading(result);
    try {
        result = ReadNetwork();
        // What was read whole is kept, even when the file ends early.
        BuildNetwork();
    } catch (const std::bad_alloc&) {
        result = FormatOutOfMemory();
    }
    return FinishReading(result);
}

int QNL_neticaFormat::ReadNetwork() {
    int result = Expect(IDENTIFIER, "bnet");
    if (result != 0) return result;
    std::string id;
    if (ReadIdentifier(id) != 0) return Expect(IDENTIFIER);
    SanitizeId(id);
    QNL_header* header = network->GetHeader();
    if (header == nullptr) return -2;
    if (header->SetId(id.c_str()) != 0) header->SetId("_Unnamed_Network_");
    result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatements(*this, [this] { return ReadNetStatement(); });
    // A file that ends inside the network keeps what was read and fails.
    if (GetPeekResult() == -111) {
        ReportError(-111, "ERROR: End of File : the network is not closed");
        const int first = GetFirstReadError();
        return first == -126 || first == -128 ? first : -111;
    }
    result = Expect(PUNCTUATOR, "}");
    if (result != 0) return result;
    ExpectQuiet(PUNCTUATOR, ";");
    if (PeekToken() == 0)
        return ReportError(-127, ("ERROR: '" + GetTokenText() + "' : Unexpected").c_str());
    return 0;
}

int QNL_neticaFormat::Unknown(const char* what) {
    return ReportError(-127, ("ERROR: '" + GetTokenText() + "' : " + what).c_str());
}

int QNL_neticaFormat::SkipNamed() {
    ConsumeToken();
    return SkipStatement();
}

int QNL_neticaFormat::ReadNetStatement() {
    if (!NextIsIdentifier()) return GetPeekResult() != 0 ? GetPeekResult() : Expect(IDENTIFIER);
    for (auto [name, kind] : {std::pair{"title", 0}, {"comment", 1}, {"author", 2}}) {
        if (!Match(name)) continue;
        int result = ReadProperty(name, STRING);
        if (result != 0) return result;
        QNL_header* header = network->GetHeader();
        if (kind == 0) return ReportError(header->SetName(GetTokenText().c_str()), "");
        if (kind == 1) return ReportError(header->SetComment(GetTokenText().c_str()), "");
        network->GetCreation().creator = GetTokenText();
        return 0;
    }
    if (Match("whenchanged")) {
        // Kept as written: the tool's times run past 32 bits.
        int result = ReadProperty("whenchanged", INTEGER);
        if (result == 0) network->GetCreation().modified = GetTokenText();
        return result;
    }
    if (MatchAny(NET_SKIPPED)) return SkipNamed();
    if (Match("visual")) return ReadNetVisual();
    if (Match("node")) return ReadNode();
    if (Match("param")) return ReadParam();
    return Unknown("Unknown Net Statement");
}

// The network keeps its identifier: the block's name is the tool's name of a view.
int QNL_neticaFormat::ReadNetVisual() {
    ConsumeToken();
    int result = Expect(IDENTIFIER);
    if (result == 0) result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    QNL_submodel* main =
        network->GetSubmodelHandler().GetSubmodel(QNL_submodelHandler::MAIN_HANDLE);
    ReadStatements(*this, [this, main] {
        if (!NextIsIdentifier()) return GetPeekResult() != 0 ? GetPeekResult() : Expect(IDENTIFIER);
        if (MatchAny(NET_VISUAL_SKIPPED)) return SkipNamed();
        int value = 0;
        if (Match("backcolor") || Match("nodebordercolor")) {
            const bool back = Match("backcolor");
            int result = ReadIntegerProperty(back ? "backcolor" : "nodebordercolor", &value);
            if (result != 0 || main == nullptr) return result;
            (back ? main->windowBackground : main->screen.borderColor) = value;
            return 0;
        }
        if (Match("windowposn")) {
            std::vector<int> values;
            int result = ReadIntegers("windowposn", values);
            if (result != 0) return result;
            if (values.size() < 4) return ReportError(-2, "ERROR: Wrong Window Position");
            if (main != nullptr) {
                main->windowPosition.x = values[0];
                main->windowPosition.y = values[1];
                main->windowPosition.width = values[2];
                main->windowPosition.height = values[3];
            }
            return 0;
        }
        return Unknown("Unknown Visual Net Statement");
    });
    return ReadBlockEnd();
}

int QNL_neticaFormat::ReadParam() {
    ConsumeToken();
    int result = Expect(IDENTIFIER);
    if (result == 0) result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatements(*this, [this] {
        if (!NextIsIdentifier()) return GetPeekResult() != 0 ? GetPeekResult() : Expect(IDENTIFIER);
        if (MatchAny(PARAM_SKIPPED)) return SkipNamed();
        return Unknown("Unknown Param Statement");
    });
    return ReadBlockEnd();
}

int QNL_neticaFormat::ReadIntegers(const char* name, std::vector<int>& out) {
    QNL_intArray list;
    int result = ExpectQuiet(IDENTIFIER, name);
    if (result == 0) result = Expect(PUNCTUATOR, "=");
    if (result == 0) result = ReadIntegerList(list);
    if (result != 0) return result;
    for (int i = 0; i < list.GetCount(); ++i)
        out.push_back(list[i]);
    return 0;
}

int QNL_neticaFormat::ReadNode() {
    ConsumeToken();
    NodeRecord record;
    record.line = GetLineNumber();
    int result = ReadIdentifier(record.id);
    if (result != 0) return Expect(IDENTIFIER);
    result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatements(*this, [this, &record] { return ReadNodeStatement(record); });
    result = ReadBlockEnd();
    // A node cut off by the end of the file is not built: its table would be missing.
    if (result == 0) records.push_back(std::move(record));
    return result;
}

int QNL_neticaFormat::ReadNodeStatement(NodeRecord& record) {
    if (!NextIsIdentifier()) return GetPeekResult() != 0 ? GetPeekResult() : Expect(IDENTIFIER);
    if (Match("kind")) return ReadKind(record);
    if (Match("chance")) return ReadChance(record);
    if (Match("discrete")) {
        int value = 0;
        int result = ReadBooleanProperty("discrete", &value);
        if (result == 0) record.type = value ? record.type | 16 : record.type & ~16;
        return result;
    }
    if (Match("title") || Match("comment")) {
        const bool title = Match("title");
        int result = ReadProperty(title ? "title" : "comment", STRING);
        if (result != 0) return result;
        (title ? record.title : record.comment) = GetTokenText();
        (title ? record.hasTitle : record.hasComment) = true;
        return 0;
    }
    if (Match("parents")) {
        QNL_stringArray list;
        record.parentsLine = GetLineNumber();
        int result = ExpectQuiet(IDENTIFIER, "parents");
        if (result == 0) result = Expect(PUNCTUATOR, "=");
        if (result == 0) result = ReadIdentifierList(list);
        if (result != 0) return result;
        record.parents.clear();
        for (int i = 0; i < list.GetCount(); ++i)
            record.parents.emplace_back(list.GetString(i));
        return 0;
    }
    if (Match("states") || Match("NAMESTATES")) {
        ConsumeToken();
        record.states.SetSize(0);
        int result = Expect(PUNCTUATOR, "=");
        return result != 0 ? result : ReadIdentifierList(record.states);
    }
    if (Match("levels")) {
        ConsumeToken();
        record.levels.SetSize(0);
        int result = Expect(PUNCTUATOR, "=");
        return result != 0 ? result : ReadRealList(record.levels);
    }
    if (Match("probs") || Match("PROBABILITIES")) {
        ConsumeToken();
        record.probsLine = GetLineNumber();
        record.probs.SetSize(0);
        int result = Expect(PUNCTUATOR, "=");
        if (result == 0) result = ReadTable(&record.probs, nullptr);
        record.hasProbs = result == 0;
        return result;
    }
    if (Match("functable") || Match("RESULTINGSTATES")) {
        ConsumeToken();
        record.functableLine = GetLineNumber();
        record.functableValues.SetSize(0);
        record.functableIds.SetSize(0);
        int result = Expect(PUNCTUATOR, "=");
        if (result == 0) result = ReadTable(&record.functableValues, &record.functableIds);
        record.hasFunctable = result == 0;
        return result;
    }
    if (Match("user")) return ReadUserBlock(record);
    if (Match("visual")) return ReadNodeVisual(record);
    if (MatchAny(NODE_SKIPPED)) return SkipNamed();
    return Unknown("Unknown Node Statement");
}

int QNL_neticaFormat::ReadKind(NodeRecord& record) {
    int result = ReadProperty("kind", IDENTIFIER);
    if (result != 0) return result;
    const std::string kind = GetTokenText();
    if (kind == "NATURE") {
        record.type &= ~(1 | 8);
    } else if (kind == "DECISION") {
        record.type = (record.type & ~(2 | 4 | 8)) | 1;
    } else if (kind == "UTILITY") {
        record.type = 8;
    } else if (kind == "CONSTANT") {
        // A value for the tool's equations: no table, and nothing points to it.
        record.constant = true;
    } else if (kind == "ASSUME") {
        record.type = 18;
        return ReportError(-2, "ERROR: nodes of type ASSUME not supported (yet)");
    } else {
        return ReportError(-2, ("ERROR: '" + kind + "' : Unknown Node Kind").c_str());
    }
    return 0;
}

int QNL_neticaFormat::ReadChance(NodeRecord& record) {
    int result = ReadProperty("chance", IDENTIFIER);
    if (result != 0) return result;
    const std::string chance = GetTokenText();
    if (chance != "CHANCE" && chance != "DETERMIN")
        return ReportError(-127, ("ERROR: '" + chance + "' : Unknown Node Type").c_str());
    if ((record.type & (2 | 4)) == 0) return 0;
    record.type = chance == "CHANCE" ? (record.type | 2) & ~4 : (record.type | 4) & ~2;
    return 0;
}

int QNL_neticaFormat::ReadUserBlock(NodeRecord& record) {
    ConsumeToken();
    int result = Expect(IDENTIFIER);
    if (result == 0) result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatements(*this, [this, &record] {
        std::string key;
        int r = ReadIdentifier(key);
        if (r != 0) return Expect(IDENTIFIER);
        r = Expect(PUNCTUATOR, "=");
        if (r == 0) r = Expect(STRING);
        if (r == 0) record.user.emplace_back(key, GetTokenText());
        return r;
    });
    return ReadBlockEnd();
}

int QNL_neticaFormat::ReadNodeVisual(NodeRecord& record) {
    ConsumeToken();
    int result = Expect(IDENTIFIER);
    if (result == 0) result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatements(*this, [this, &record] {
        if (!NextIsIdentifier()) return GetPeekResult() != 0 ? GetPeekResult() : Expect(IDENTIFIER);
        if (Match("center") || Match("size")) {
            const bool center = Match("center");
            std::vector<int>& target = center ? record.center : record.size;
            target.clear();
            int r = ReadIntegers(center ? "center" : "size", target);
            if (r != 0) return r;
            if (target.size() < 2)
                return ReportError(-2, center ? "ERROR: Wrong Center Coordinates"
                                              : "ERROR: Wrong Size Values");
            return 0;
        }
        if (Match("link")) return ReadLinkBlock();
        if (MatchAny(NODE_VISUAL_SKIPPED)) return SkipNamed();
        return Unknown("Unknown Visual Node Statement");
    });
    return ReadBlockEnd();
}

int QNL_neticaFormat::ReadLinkBlock() {
    ConsumeToken();
    if (PeekToken() != 0) return GetPeekResult();
    ConsumeToken(); // the link's number
    int result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatements(*this, [this] {
        if (!NextIsIdentifier()) return GetPeekResult() != 0 ? GetPeekResult() : Expect(IDENTIFIER);
        if (MatchAny(LINK_SKIPPED)) return SkipNamed();
        return Unknown("Unknown Visual Link Statement");
    });
    return ReadBlockEnd();
}

// The values of a table in reading order, at whatever depth the file nests them: the tool
// writes one flat list with a comment per row as often as lists nested by parents. Numbers
// go to `values`; identifiers (the outcomes of a function table) to `ids` where given.
int QNL_neticaFormat::ReadTable(QNL_doubleArray* values, QNL_stringArray* ids) {
    int result = Expect(PUNCTUATOR, "(");
    if (result != 0) return result;
    long long level = 1;
    bool item = false;
    for (;;) {
        if (PeekToken() != 0) return Expect(PUNCTUATOR, ")");
        const int kind = GetTokenKind();
        const std::string text = GetTokenText();
        // The table ends at its statement's end, not at a balanced group: some of the
        // tool's files nest their rows unevenly.
        if (level <= 0 && kind == PUNCTUATOR && (text == ";" || text == "}")) break;
        if (!item && (kind == INTEGER || kind == REAL || kind == QNL_textScanner::SIGN)) {
            const bool negative = kind == QNL_textScanner::SIGN && text == "-";
            if (kind == QNL_textScanner::SIGN) ConsumeToken();
            double value = 0.0;
            result = ReadReal(&value);
            if (result != 0) return Expect(REAL);
            if (negative) value = -value;
            if (result == 0) result = values->Add(value);
            if (result != 0) return result;
            item = true;
        } else if (!item && kind == IDENTIFIER && ids != nullptr) {
            ConsumeToken();
            result = ids->Add(text.c_str());
            if (result != 0) return result;
            item = true;
        } else if (!item && kind == PUNCTUATOR && text == "(") {
            ConsumeToken();
            ++level;
        } else if (kind == PUNCTUATOR && text == ")") {
            ConsumeToken();
            --level;
            item = true;
        } else if (item && kind == PUNCTUATOR && text == ",") {
            ConsumeToken();
            item = false;
        } else {
            return ReportError(-127, ("ERROR: '" + text + "' : Unexpected").c_str());
        }
    }
    if (values->GetCount() > 0 && ids != nullptr && ids->GetCount() > 0)
        return ReportError(-127, "ERROR: A table mixes numbers and outcomes");
    return 0;
}

// ---------------------------------------------------------------------------------------
// Building

void QNL_neticaFormat::BuildNetwork() {
    handles.assign(records.size(), -1);
    for (std::size_t i = 0; i < records.size(); ++i)
        if (!records[i].constant) handles[i] = CreateNode(records[i]);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const int node = handles[i];
        if (node < 0) continue;
        const NodeRecord& record = records[i];
        std::vector<int> parents;
        for (const std::string& name : record.parents)
            parents.push_back(names.Find(name));
        // A table too large is refused before any arc is added: arc by arc, it would double
        // up to the limit on the way. A parent that cannot be joined costs the node its table.
        const int line = record.parentsLine;
        bool added = true;
        if (quarn::detail::CellsWithParents(network, node, parents, 0) >
            quarn::detail::MAX_READ_TABLE_CELLS) {
            ReportErrorAt(line, -42,
                          ("ERROR: " + quarn::detail::TooLargeTableMessage(network, node)).c_str());
            parents.clear();
            added = false;
        }
        for (std::size_t k = 0; k < parents.size(); ++k) {
            const int parent = parents[k];
            const int code = parent < 0 ? -2 : network->AddArc(parent, node, 0);
            if (code == 0) continue;
            added = false;
            ReportErrorAt(line, code,
                          ("ERROR: Couldn't add arc from node [" + record.parents[k] +
                           "] to node [" + record.id + "]")
                              .c_str());
        }
        if (added)
            SetTables(record, node);
        else if (record.hasProbs || record.hasFunctable)
            TableLengthError(record, record.hasProbs ? record.probsLine : record.functableLine, -1,
                             -1);
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const int node = handles[i];
        if (node < 0) continue;
        QNL_node* n = network->GetNode(node);
        n->CheckConsistency(1);
        if (n->IsValid()) continue;
        ReportErrorAt(
            records[i].line, -567,
            ("ERROR: Node not ready (valid). Node " + Quoted(records[i].id) + " deleted").c_str());
        names.Forget(node);
        network->DeleteNode(node);
        handles[i] = -1;
    }
}

int QNL_neticaFormat::CreateNode(NodeRecord& record) {
    int type = record.type;
    QNL_stringArray states;
    const bool continuousChance = (type & 2) != 0 && (type & 16) == 0;
    if (continuousChance) {
        // One outcome per interval between consecutive bounds, read as a chance node.
        type = QNL_TYPE_CPT;
        if (record.states.GetCount() > 0) {
            states = record.states;
        } else {
            for (int i = 0; i + 1 < record.levels.GetCount(); ++i)
                states.Add(IntervalName(record.levels[i], record.levels[i + 1]).c_str());
        }
    } else {
        states = record.states;
    }
    if (type != QNL_TYPE_CPT && type != QNL_TYPE_TRUTHTABLE && type != QNL_TYPE_LIST &&
        type != QNL_TYPE_TABLE)
        return ReportErrorAt(record.line, -2,
                             ("ERROR: Type of node [" + record.id + "] unsupported").c_str());
    const int node = names.Create(type, record.id);
    if (node < 0)
        return ReportErrorAt(record.line, node,
                             ("ERROR: Couldn't Create Node " + Quoted(record.id)).c_str());
    QNL_node* n = network->GetNode(node);
    QNL_nodeInfo* info = n->GetInfo();
    if (record.hasTitle) ReportErrorAt(record.line, info->header.SetName(record.title.c_str()), "");
    if (record.hasComment)
        ReportErrorAt(record.line, info->header.SetComment(record.comment.c_str()), "");
    if (type != QNL_TYPE_TABLE && states.GetCount() > 0) {
        const int code = quarn::detail::SetOutcomesFromNames(n->GetDefinition(), states);
        if (code != 0)
            ReportErrorAt(record.line, code,
                          ("ERROR: Couldn't set the states of node " + Quoted(record.id)).c_str());
    }
    for (const auto& [key, value] : record.user)
        ReportErrorAt(record.line, info->properties.AddProperty(key.c_str(), value.c_str()),
                      ("ERROR: '" + key + "' : Couldn't add the user field").c_str());
    if (record.center.size() >= 2) {
        info->screen.position.x = record.center[0];
        info->screen.position.y = record.center[1];
    }
    if (record.size.size() >= 2) {
        info->screen.position.width = record.size[0];
        info->screen.position.height = record.size[1];
    }
    return node;
}

int QNL_neticaFormat::TableLengthError(const NodeRecord& record, int line, int count, int wanted) {
    if (count < 0)
        return ReportErrorAt(line, -2,
                             ("ERROR: Node " + Quoted(record.id) +
                              " : table refused, its parents could not all be added")
                                 .c_str());
    return ReportErrorAt(line, -2,
                         ("ERROR: Node " + Quoted(record.id) + " : " + std::to_string(count) +
                          " values given, the table holds " + std::to_string(wanted))
                             .c_str());
}

// A table of the wrong length is refused whole: half a table is worse than none.
void QNL_neticaFormat::SetTables(const NodeRecord& record, int node) {
    QNL_nodeDefinition* definition = network->GetNode(node)->GetDefinition();
    const int type = definition->GetType();
    const int size = definition->GetSize();
    if (type == QNL_TYPE_CPT && record.hasProbs) {
        QNL_doubleArray values(record.probs);
        if (values.GetCount() != size) {
            TableLengthError(record, record.probsLine, values.GetCount(), size);
            return;
        }
        quarn::detail::ClearRoundOff(values.Items(), size);
        const int outcomes = definition->GetNumberOfOutcomes();
        for (int start = 0; outcomes > 0 && start < size; start += outcomes) {
            double* column = values.Items() + start;
            double sum = 0.0;
            for (int i = 0; i < outcomes; ++i)
                sum += column[i];
            if (!std::isfinite(sum) || std::fabs(sum - 1.0) <= SUM_TOLERANCE) continue;
            if (sum == 0.0) {
                std::fill(column, column + outcomes, 1.0 / outcomes);
            } else {
                for (int i = 0; i < outcomes; ++i)
                    column[i] /= sum;
            }
        }
        ReportErrorAt(record.probsLine, definition->SetDefinition(values),
                      "ERROR: Couldn't set the node's table");
        return;
    }
    if (type == QNL_TYPE_TRUTHTABLE && record.hasProbs && !record.hasFunctable) {
        SetDeterministicProbs(record, definition);
        return;
    }
    if (!record.hasFunctable) return;
    if (type == QNL_TYPE_TABLE) {
        if (record.functableValues.GetCount() != size) {
            TableLengthError(record, record.functableLine, record.functableValues.GetCount(), size);
            return;
        }
        ReportErrorAt(record.functableLine, definition->SetDefinition(record.functableValues),
                      "ERROR: Couldn't set the node's table");
    } else if (type == QNL_TYPE_TRUTHTABLE) {
        const int outcomes = definition->GetNumberOfOutcomes();
        const int columns = outcomes > 0 ? size / outcomes : 0;
        if (record.functableIds.GetCount() != columns) {
            TableLengthError(record, record.functableLine, record.functableIds.GetCount(), columns);
            return;
        }
        ReportErrorAt(record.functableLine, definition->SetResultingStates(record.functableIds),
                      ("ERROR: Node " + Quoted(record.id) + " : outcome not known").c_str());
    }
    // A decision's function table is the tool's policy: the library has no use for it.
}

// The tool also writes a deterministic node as probabilities of 0 and 1: the outcome of
// each column is the one of probability 1.
void QNL_neticaFormat::SetDeterministicProbs(const NodeRecord& record,
                                             QNL_nodeDefinition* definition) {
    const int size = definition->GetSize();
    const int outcomes = definition->GetNumberOfOutcomes();
    if (record.probs.GetCount() != size || outcomes <= 0) {
        TableLengthError(record, record.probsLine, record.probs.GetCount(), size);
        return;
    }
    QNL_intArray resulting;
    for (int start = 0; start < size; start += outcomes) {
        int one = -1;
        for (int k = 0; k < outcomes; ++k) {
            const double p = record.probs[start + k];
            if (p == 1.0 && one < 0) {
                one = k;
            } else if (p != 0.0) {
                one = -2;
                break;
            }
        }
        if (one < 0) {
            ReportErrorAt(record.probsLine, -2,
                          ("ERROR: Node " + Quoted(record.id) +
                           " : a deterministic node's probabilities must be 0 or 1")
                              .c_str());
            return;
        }
        resulting.Add(one);
    }
    ReportErrorAt(record.probsLine, definition->SetResultingStates(resulting),
                  "ERROR: Couldn't set the node's table");
}

// ---------------------------------------------------------------------------------------
// Writing

// Every node is checked before the file is touched.
int QNL_neticaFormat::CheckWritable() {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    if (!HasNoMauNodes())
        return log.LogError(-2, "ERROR: This Network cannot be saved in Netica format");
    std::vector<int> sizes;
    QNL_doubleArray values;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_node* node = network->GetNode(h);
        const int type = node->GetType();
        const char* id = node->GetId() != nullptr ? node->GetId() : UNNAMED_NODE;
        const bool known = type == QNL_TYPE_CPT || type == QNL_TYPE_TRUTHTABLE ||
                           type == QNL_TYPE_LIST || type == QNL_TYPE_TABLE ||
                           type == QNL_TYPE_NOISY_MAX || type == QNL_TYPE_NOISY_ADDER ||
                           type == QNL_TYPE_CAST || type == QNL_TYPE_DEMORGAN;
        if (!known || (type != QNL_TYPE_LIST &&
                       (!quarn::detail::TableShape(network, h, sizes, values) ||
                        !quarn::detail::AllFinite(values) ||
                        !quarn::detail::HoldsFiniteNumbers(node, quarn::detail::GATE_NUMBERS))))
            return log.LogError(-2, "ERROR: This Network cannot be saved in Netica format (node '" +
                                        std::string(id) + "')");
    }
    return 0;
}

int QNL_neticaFormat::Write(const char* path) {
    if (network == nullptr) return -2;
    try {
        int result = CheckWritable();
        if (result != 0) return result;
        result = OpenFile(path, QNL_textFile::WRITE_MODE);
        if (result != 0) return result;
        SetIndentWidth(4);
        result = WriteNetwork();
        if (result != 0) {
            DiscardFile();
            return result;
        }
        return CloseFile();
    } catch (const std::bad_alloc&) {
        DiscardFile();
        return FormatOutOfMemory();
    }
}

int QNL_neticaFormat::WriteBlockClose() {
    Unindent();
    return WriteLine("};\n");
}

int QNL_neticaFormat::WriteNetwork() {
    const QNL_header* header = network->GetHeader();
    const char* id =
        header != nullptr && header->GetId() != nullptr ? header->GetId() : "_Unnamed_Network_";
    int result = GetOutputFile().Write("// ~->[DNET-1]->~\n\n");
    if (result == 0) result = WriteLine(("bnet " + std::string(id) + " {\n").c_str());
    Indent();
    if (header != nullptr) {
        if (result == 0 && header->GetName() != nullptr)
            result = WriteStringProperty("title", header->GetName());
        if (result == 0 && header->GetComment() != nullptr)
            result = WriteStringProperty("comment", header->GetComment());
    }
    const std::string& creator = network->GetCreation().creator;
    if (result == 0 && !creator.empty()) result = WriteStringProperty("author", creator.c_str());
    if (result == 0) result = WriteBlockStart("visual V1");
    if (result == 0) result = WriteBlockClose();
    const QNL_intArray order(network->GetOrderedNodes());
    for (int i = 0; i < order.GetCount() && result == 0; ++i) {
        result = GetOutputFile().Write("\n");
        if (result == 0) result = WriteNode(order[i]);
    }
    Unindent();
    return result != 0 ? result : WriteLine("};\n");
}

int QNL_neticaFormat::WriteNode(int handle) {
    const QNL_node* node = network->GetNode(handle);
    const int type = node->GetType();
    const char* id = node->GetId() != nullptr ? node->GetId() : UNNAMED_NODE;
    int result = WriteBlockStart(("node " + std::string(id)).c_str());
    const bool decision = type == QNL_TYPE_LIST;
    const bool utility = type == QNL_TYPE_TABLE;
    const bool determin = type == QNL_TYPE_TRUTHTABLE;
    if (result == 0)
        result = WriteProperty("kind",
                               decision  ? "DECISION"
                               : utility ? "UTILITY"
                                         : "NATURE",
                               false, false);
    if (result == 0) result = WriteProperty("discrete", utility ? "FALSE" : "TRUE", false, false);
    if (result == 0 && !decision && !utility)
        result = WriteProperty("chance", determin ? "DETERMIN" : "CHANCE", false, false);
    const QNL_nodeInfo* info = node->GetInfo();
    if (result == 0 && info->header.GetName() != nullptr)
        result = WriteStringProperty("title", info->header.GetName());
    if (result == 0 && info->header.GetComment() != nullptr)
        result = WriteStringProperty("comment", info->header.GetComment());
    QNL_stringArray parentIds;
    const QNL_intArray& parents = network->GetParents(handle);
    for (int i = 0; i < parents.GetCount(); ++i) {
        const char* pid = network->GetNode(parents[i])->GetId();
        parentIds.Add(pid != nullptr ? pid : "UnknownParent");
    }
    if (result == 0) result = WriteIdentifierListProperty("parents", parentIds, false);
    const QNL_idArray* outcomes = node->GetDefinition()->GetOutcomeIds();
    if (result == 0 && !utility && outcomes != nullptr)
        result = WriteIdentifierListProperty("states", *outcomes, false);
    if (result == 0 && determin)
        result = WriteFunctable(handle);
    else if (result == 0 && utility)
        result = WriteTable(handle, "functable");
    else if (result == 0 && !decision)
        result = WriteTable(handle, "probs");
    const QNL_userProperties& properties = info->properties;
    if (result == 0 && properties.GetNumberOfProperties() > 0) {
        result = WriteBlockStart("user U1");
        for (int i = 0; i < properties.GetNumberOfProperties() && result == 0; ++i)
            result = WriteStringProperty(properties.GetName(i), properties.GetValue(i));
        if (result == 0) result = WriteBlockClose();
    }
    if (result == 0) result = WriteBlockStart("visual V1");
    QNL_intArray center;
    center.Add(info->screen.position.x);
    center.Add(info->screen.position.y);
    if (result == 0) result = WriteIntegerListProperty("center", center, false);
    if (result == 0) result = WriteBlockClose();
    return result != 0 ? result : WriteBlockClose();
}

int QNL_neticaFormat::WriteTable(int handle, const char* name) {
    std::vector<int> sizes;
    QNL_doubleArray values;
    if (!quarn::detail::TableShape(network, handle, sizes, values)) return -2;
    std::vector<std::string> items;
    for (int i = 0; i < values.GetCount(); ++i)
        items.push_back(FormatNumber(values[i]));
    // A utility table has one value per configuration: its flat lists run over the last
    // parent, as the function table of a deterministic node does.
    const bool utility = network->GetNode(handle)->GetType() == QNL_TYPE_TABLE;
    if (utility) sizes.pop_back();
    int result = WriteLine((std::string(name) + " = \n").c_str());
    return result != 0 ? result : WriteNested(sizes, 1, items);
}

int QNL_neticaFormat::WriteFunctable(int handle) {
    const auto* truth =
        dynamic_cast<const QNL_truthTable*>(network->GetNode(handle)->GetDefinition());
    QNL_stringArray resulting;
    if (truth == nullptr || truth->GetResultingStates(resulting) != 0) return -2;
    std::vector<int> sizes;
    QNL_doubleArray values;
    if (!quarn::detail::TableShape(network, handle, sizes, values)) return -2;
    sizes.pop_back();
    std::vector<std::string> items;
    for (int i = 0; i < resulting.GetCount(); ++i)
        items.emplace_back(resulting.GetString(i));
    int result = WriteLine("functable = \n");
    return result != 0 ? result : WriteNested(sizes, 1, items);
}

// The items nested by the leading sizes, the last `flat` sizes making one flat list each.
int QNL_neticaFormat::WriteNested(const std::vector<int>& sizes, int flat,
                                  const std::vector<std::string>& items) {
    Indent();
    const std::size_t levels = sizes.size() > static_cast<std::size_t>(flat)
                                   ? sizes.size() - static_cast<std::size_t>(flat)
                                   : 0;
    std::size_t inner = 1;
    for (std::size_t k = levels; k < sizes.size(); ++k)
        inner *= static_cast<std::size_t>(sizes[k]);
    if (items.empty()) inner = 0;
    std::vector<int> at(levels, 0);
    int result = 0;
    const std::size_t step = std::max<std::size_t>(inner, 1);
    for (std::size_t start = 0; start == 0 || (start < items.size() && result == 0);
         start += step) {
        std::size_t opens = 0;
        while (opens < levels && at[levels - 1 - opens] == 0)
            ++opens;
        std::string text(opens, '(');
        text += '(';
        for (std::size_t i = 0; i < inner; ++i) {
            if (i > 0) text += ", ";
            text += items[start + i];
        }
        text += ')';
        std::size_t closes = 0;
        for (std::size_t level = levels; level-- > 0;) {
            if (++at[level] < sizes[level]) break;
            at[level] = 0;
            ++closes;
        }
        text.append(closes, ')');
        result = start == 0 ? WriteLine(text.c_str()) : WriteRaw((",\n" + text).c_str());
        if (items.empty()) break;
    }
    Unindent();
    return result != 0 ? result : GetOutputFile().Write(";\n");
}
