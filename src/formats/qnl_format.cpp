// The reader of the own text format; the writer is in qnl_writer.cpp.

#include "formats/qnl_format.h"

#include "definitions/ci_definition.h"
#include "definitions/extra_definition.h"
#include "definitions/logic_gates.h"
#include "definitions/noisy_max.h"
#include "definitions/truth_table.h"
#include "formats/foreign_format_support.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/submodel.h"
#include "numerics/number_text.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr const char* NET_FIELDS[] = {
    "NUMSAMPLES",    "HEADER",          "CREATION",      "SCREEN", "WINDOWPOSITION", "BKCOLOR",
    "SCREENCOMMENT", "USER_PROPERTIES", "DOCUMENTATION", "SHOWAS", nullptr};

constexpr const char* SUBMODEL_WORDS[] = {"PARENT",  "HEADER",        "SCREEN", "WINDOWPOSITION",
                                          "BKCOLOR", "SCREENCOMMENT", nullptr};

constexpr const char* NODE_WORDS[] = {"TYPE",       "HEADER",           "SCREEN",        "TARGET",
                                      "SUBMODEL",   "USER_PROPERTIES",  "DOCUMENTATION", "PARENTS",
                                      "DEFINITION", "EXTRA_DEFINITION", nullptr};

// The definition statements whose lists depend on the parents: kept until the node is whole.
constexpr const char* TABLE_WORDS[] = {"PROBABILITIES", "RESULTINGSTATES", "UTILITIES",
                                       "WEIGHTS",       "PWEIGHTS",        "NWEIGHTS",
                                       "BASELINE",      "STRENGTHS",       nullptr};

constexpr int NOT_NEXT = -129;

std::string Quoted(const char* id) {
    return std::string("(\"") + (id != nullptr ? id : "") + "\")";
}

bool IsOneOf(const std::string& word, const char* const* list) {
    for (; *list != nullptr; ++list)
        if (word == *list) return true;
    return false;
}

// The first result that is not "name not next".
template <typename... Readers> int FirstOf(Readers... readers) {
    int result = NOT_NEXT;
    ((result == NOT_NEXT ? (result = readers(), 0) : 0), ...);
    return result;
}

// Some setters take the array's size for its length: the list read is given exactly that.
int Tighten(QNL_doubleArray& values) {
    QNL_doubleArray exact;
    const int n = values.GetCount();
    if (exact.SetSize(n) != 0) return -42;
    std::copy(values.Items(), values.Items() + n, exact.Items());
    exact.SetCount(n);
    values = std::move(exact);
    return 0;
}

} // namespace

QNL_textFormat::QNL_textFormat(QNL_network* network) : QNL_textParser(network) {}

// ---------------------------------------------------------------------------------------
// Frame

int QNL_textFormat::ReadIdentifierListProperty(const char* name, QNL_stringArray& list) {
    if (ExpectQuiet(IDENTIFIER, name) != 0) return NOT_NEXT;
    const int result = Expect(PUNCTUATOR, "=");
    return result != 0 ? result : ReadIdentifierList(list);
}

int QNL_textFormat::ReadRealListProperty(const char* name, QNL_doubleArray& list) {
    if (ExpectQuiet(IDENTIFIER, name) != 0) return NOT_NEXT;
    const int result = Expect(PUNCTUATOR, "=");
    return result != 0 ? result : ReadRealList(list);
}

int QNL_textFormat::ReadIntegerListProperty(const char* name, QNL_intArray& list) {
    if (ExpectQuiet(IDENTIFIER, name) != 0) return NOT_NEXT;
    const int result = Expect(PUNCTUATOR, "=");
    return result != 0 ? result : ReadIntegerList(list);
}

int QNL_textFormat::ReadStringListProperty(const char* name, QNL_stringArray& list) {
    if (ExpectQuiet(IDENTIFIER, name) != 0) return NOT_NEXT;
    const int result = Expect(PUNCTUATOR, "=");
    return result != 0 ? result : ReadStringList(list);
}

int QNL_textFormat::ReportUnknown(const char* what) {
    try {
        return ReportError(-127, ("ERROR: '" + GetTokenText() + "' : " + what).c_str());
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_textFormat::ReportAt(int line, int code, const std::string& text) {
    return ReportErrorAt(line, code, text.empty() ? nullptr : text.c_str());
}

int QNL_textFormat::Read(const char* path) {
    if (network == nullptr) return -2;
    noisyOr = noisyAnd = false;
    pending.clear();
    int result = StartReading(path, SCANNER_MODE);
    if (result == -102) QNL_errorHandler::Instance().LogError(-102, "ERROR: The file is empty");
    if (result != 0) return FinishReading(result);
    try {
        result = ReadNetwork();
    } catch (const std::bad_alloc&) {
        result = QNL_errorHandler::Instance().LogError(-42);
    }
    return FinishReading(result);
}

int QNL_textFormat::ReadNetwork() {
    // Anything but "net" first is not taken for an empty network.
    int result = Expect(IDENTIFIER, "net");
    if (result != 0) return result;
    std::string id;
    if (ReadIdentifier(id) != 0) return Expect(IDENTIFIER);
    SanitizeId(id);
    QNL_header* header = network->GetHeader();
    if (header == nullptr) return -2;
    // The identifier token is valid once sanitized; a refusal keeps the network's default.
    ReportError(header->SetId(id.c_str()), "Invalid ID");
    result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatementsOf([this] { return ReadNetStatement(); });
    // A file that ends inside the network keeps what was read and fails with the code of
    // the end of the input.
    if (GetPeekResult() == -111) {
        const int first = GetFirstReadError();
        return first == -126 || first == -128 ? first : -111;
    }
    ExpectQuiet(PUNCTUATOR, ";");
    return 0;
}

int QNL_textFormat::ReadNetStatement() {
    if (PeekToken() != 0) return GetPeekResult();
    if (MatchAny(NET_FIELDS)) return ReadNetField();
    if (Match("node")) return ReadNode();
    if (Match("submodel")) return ReadSubmodel();
    if (Match("OBSERVATION_COST")) return ReadCostBlock();
    return ReportUnknown("Unknown Net Statement");
}

int QNL_textFormat::ReadNetField() {
    QNL_submodelHandler& handler = network->GetSubmodelHandler();
    QNL_submodel* main = handler.GetSubmodel(QNL_submodelHandler::MAIN_HANDLE);
    int value = 0;
    int result = ReadIntegerProperty("NUMSAMPLES", &value);
    if (result == 0) return ReportError(network->SetNumberOfSamples(value), nullptr);
    if (result != NOT_NEXT) return result;
    if (PeekMatch("HEADER")) {
        QNL_header* header = network->GetHeader();
        if (header == nullptr) return -2;
        return ReadHeaderBlock(*header);
    }
    if (PeekMatch("CREATION")) return ReadCreationBlock();
    if (main != nullptr) {
        if (PeekMatch("SCREEN")) return ReadScreenBlock(main->screen);
        if (PeekMatch("WINDOWPOSITION"))
            return ReadRectangleBlock("WINDOWPOSITION", main->windowPosition);
        result = ReadIntegerProperty("BKCOLOR", &main->windowBackground);
        if (result != NOT_NEXT) return result;
        if (PeekMatch("SCREENCOMMENT")) return ReadScreenComment(*main);
    }
    if (PeekMatch("USER_PROPERTIES")) return ReadPropertiesBlock(network->GetUserProperties());
    if (PeekMatch("DOCUMENTATION")) return ReadDocumentationBlock(network->GetDocumentation());
    result = ReadIntegerProperty("SHOWAS", &value);
    if (result == 0) network->SetNodeDisplayMode(value);
    if (result != NOT_NEXT) return result;
    return ReportUnknown("Unknown Net Field");
}

// ---------------------------------------------------------------------------------------
// Shared blocks

int QNL_textFormat::ReadHeaderBlock(QNL_header& header) {
    int result = ReadBlockStart("HEADER");
    if (result != 0) return result;
    ReadStatementsOf([this, &header] {
        int r = ReadProperty("ID", IDENTIFIER);
        if (r == 0) {
            // The identifier stays when it is the one the header has already.
            const char* now = header.GetId();
            if (now != nullptr && GetTokenText() == now) return 0;
            return ReportError(header.SetId(GetTokenText().c_str()), "Invalid ID");
        }
        if (r != NOT_NEXT) return r;
        r = ReadProperty("NAME", STRING);
        if (r == 0) return ReportError(header.SetName(GetTokenText().c_str()), nullptr);
        if (r != NOT_NEXT) return r;
        r = ReadProperty("COMMENT", STRING);
        if (r == 0) return ReportError(header.SetComment(GetTokenText().c_str()), nullptr);
        if (r != NOT_NEXT) return r;
        return ReportUnknown("Unknown Header Statement");
    });
    return 0;
}

int QNL_textFormat::ReadCreationBlock() {
    int result = ReadBlockStart("CREATION");
    if (result != 0) return result;
    QNL_creationRecord& creation = network->GetCreation();
    ReadStatementsOf([this, &creation] {
        for (auto [name, text] : {std::pair{"CREATOR", &creation.creator},
                                  {"CREATED", &creation.created},
                                  {"MODIFIED", &creation.modified}}) {
            const int r = ReadProperty(name, STRING);
            if (r == 0) *text = GetTokenText();
            if (r != NOT_NEXT) return r;
        }
        return ReportUnknown("Unknown Creation Statement");
    });
    return 0;
}

int QNL_textFormat::ReadRectangleBlock(const char* name, QNL_rectangle& rectangle) {
    int result = ReadBlockStart(name);
    if (result != 0) return result;
    ReadStatementsOf([this, &rectangle] {
        for (auto [word, field] : {std::pair{"CENTER_X", &rectangle.x},
                                   {"CENTER_Y", &rectangle.y},
                                   {"WIDTH", &rectangle.width},
                                   {"HEIGHT", &rectangle.height}}) {
            const int r = ReadIntegerProperty(word, field);
            if (r != NOT_NEXT) return r;
        }
        return ReportUnknown("Unknown Rectangle Statement");
    });
    return 0;
}

int QNL_textFormat::ReadScreenBlock(QNL_screenInfo& screen) {
    int result = ReadBlockStart("SCREEN");
    if (result != 0) return result;
    ReadStatementsOf([this, &screen] {
        if (PeekMatch("POSITION")) return ReadRectangleBlock("POSITION", screen.position);
        for (auto [word, field] : {std::pair{"COLOR", &screen.color},
                                   {"SELCOLOR", &screen.selColor},
                                   {"FONT", &screen.font},
                                   {"FONTCOLOR", &screen.fontColor},
                                   {"BORDERTHICKNESS", &screen.borderThickness},
                                   {"BORDERCOLOR", &screen.borderColor}}) {
            const int r = ReadIntegerProperty(word, field);
            if (r != NOT_NEXT) return r;
        }
        for (auto [word, bit] : {std::pair{"SHOWINARCS", QNL_screenInfo::FLAG_SHOW_IN_ARCS},
                                 {"SHOWOUTARCS", QNL_screenInfo::FLAG_SHOW_OUT_ARCS}}) {
            int on = 0;
            const int r = ReadBooleanProperty(word, &on);
            if (r == 0) screen.flags = on != 0 ? (screen.flags | bit) : (screen.flags & ~bit);
            if (r != NOT_NEXT) return r;
        }
        return ReportUnknown("Unknown Screen Information Statement");
    });
    return 0;
}

int QNL_textFormat::ReadScreenComment(QNL_submodel& submodel) {
    if (ExpectQuiet(IDENTIFIER, "SCREENCOMMENT") != 0) return NOT_NEXT;
    QNL_intArray numbers;
    int result = Expect(PUNCTUATOR, "=");
    if (result == 0) result = Expect(PUNCTUATOR, "{");
    if (result == 0) result = ReadIntegerList(numbers);
    if (result == 0) result = Expect(PUNCTUATOR, ",");
    if (result == 0) result = Expect(STRING);
    if (result != 0) return result;
    const std::string text = GetTokenText();
    result = Expect(PUNCTUATOR, "}");
    if (result != 0) return result;
    if (numbers.GetCount() < 4) return ReportError(-2, "ERROR: Wrong Number Of Screen Coordinates");
    QNL_rectangle where;
    where.x = numbers[0];
    where.y = numbers[1];
    where.width = numbers[2];
    where.height = numbers[3];
    return ReportError(submodel.comments.Add(where, text.c_str()), nullptr);
}

int QNL_textFormat::ReadPropertiesBlock(QNL_userProperties& properties) {
    int result = ReadBlockStart("USER_PROPERTIES");
    if (result != 0) return result;
    ReadStatementsOf([this, &properties] {
        std::string name;
        if (ReadIdentifier(name) != 0) return Expect(IDENTIFIER);
        int r = Expect(PUNCTUATOR, "=");
        if (r == 0) r = Expect(STRING);
        if (r != 0) return r;
        return ReportError(properties.AddProperty(name.c_str(), GetTokenText().c_str()), nullptr);
    });
    return 0;
}

int QNL_textFormat::ReadDocumentationBlock(QNL_documentation& documents) {
    int result = ReadBlockStart("DOCUMENTATION");
    if (result != 0) return result;
    ReadStatementsOf([this, &documents] {
        std::string title;
        if (ReadString(title) != 0) return Expect(STRING);
        int r = Expect(PUNCTUATOR, "=");
        if (r == 0) r = Expect(STRING);
        if (r != 0) return r;
        return ReportError(documents.AddDocument(title.c_str(), GetTokenText().c_str()), nullptr);
    });
    return 0;
}

// ---------------------------------------------------------------------------------------
// Submodels

int QNL_textFormat::ReadSubmodel() {
    std::string id;
    if (ExpectQuiet(IDENTIFIER, "submodel") != 0 || ReadIdentifier(id) != 0)
        return Expect(IDENTIFIER);
    QNL_submodelHandler& handler = network->GetSubmodelHandler();
    const int handle = handler.CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, id.c_str());
    if (handle < 0)
        return ReportError(handle,
                           ("ERROR: Couldn't Create Submodel " + Quoted(id.c_str())).c_str());
    int result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatementsOf([this, &handler, handle] {
        if (!PeekMatchAny(SUBMODEL_WORDS)) return ReportUnknown("Unknown Submodel Statement");
        QNL_submodel* submodel = handler.GetSubmodel(handle);
        if (submodel == nullptr) return -2;
        int r = ReadProperty("PARENT", IDENTIFIER);
        if (r == 0) {
            const int parent = handler.FindSubmodel(GetTokenText().c_str());
            if (parent < 0)
                return ReportError(
                    -2,
                    ("ERROR: " + Quoted(GetTokenText().c_str()) + " : Unknown Submodel").c_str());
            return ReportError(handler.SetSubmodel(handle, parent), nullptr);
        }
        if (r != NOT_NEXT) return r;
        if (PeekMatch("HEADER")) return ReadHeaderBlock(submodel->header);
        if (PeekMatch("SCREEN")) return ReadScreenBlock(submodel->screen);
        if (PeekMatch("WINDOWPOSITION"))
            return ReadRectangleBlock("WINDOWPOSITION", submodel->windowPosition);
        r = ReadIntegerProperty("BKCOLOR", &submodel->windowBackground);
        if (r != NOT_NEXT) return r;
        if (PeekMatch("SCREENCOMMENT")) return ReadScreenComment(*submodel);
        return ReportUnknown("Unknown Submodel Field");
    });
    return 0;
}

// ---------------------------------------------------------------------------------------
// Nodes

int QNL_textFormat::ReadNode() {
    std::string id;
    if (ExpectQuiet(IDENTIFIER, "node") != 0 || ReadIdentifier(id) != 0) return Expect(IDENTIFIER);
    // A node without a TYPE statement is a probability table.
    const int node = network->AddNode(QNL_TYPE_CPT, id.c_str());
    if (node < 0)
        return ReportError(node, ("ERROR: Couldn't Create Node " + Quoted(id.c_str())).c_str());
    documentationCounter = 0;
    noisyOr = noisyAnd = false;
    pending.clear();
    int result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatementsOf([this, node] { return ReadNodeStatement(node); });
    ApplyPendingTables(node);
    return 0;
}

int QNL_textFormat::ReadNodeStatement(int node) {
    if (!PeekMatchAny(NODE_WORDS)) return ReportUnknown("Unknown Node Statement");
    QNL_node* n = network->GetNode(node);
    QNL_nodeInfo* info = n->GetInfo();
    int r = ReadProperty("TYPE", IDENTIFIER);
    if (r == 0) {
        noisyOr = Match("NOISY_OR");
        noisyAnd = Match("NOISY_AND");
        const int type = noisyOr || noisyAnd ? QNL_TYPE_NOISY_MAX
                                             : QNL_node::TypeFromKeyword(GetTokenText().c_str());
        return ReportError(type < 0 ? type : SetNodeType(node, type), nullptr);
    }
    if (r != NOT_NEXT) return r;
    if (PeekMatch("HEADER")) return ReadHeaderBlock(info->header);
    if (PeekMatch("SCREEN")) return ReadScreenBlock(info->screen);
    int on = 0;
    r = ReadBooleanProperty("TARGET", &on);
    if (r == 0 && on != 0 && network->IsTarget(node) != 1)
        return ReportError(network->SetTarget(node), nullptr);
    if (r != NOT_NEXT) return r;
    r = ReadProperty("SUBMODEL", IDENTIFIER);
    if (r == 0) return ReportError(n->SetSubmodel(GetTokenText().c_str()), "Invalid submodel");
    if (r != NOT_NEXT) return r;
    if (PeekMatch("USER_PROPERTIES")) return ReadPropertiesBlock(info->properties);
    if (PeekMatch("DOCUMENTATION")) return ReadDocumentationBlock(info->documentation);
    if (PeekMatch("PARENTS")) return ReadParents(node);
    if (PeekMatch("DEFINITION")) {
        r = ReadBlockStart("DEFINITION");
        if (r != 0) return r;
        ReadStatementsOf([this, node] { return ReadDefinitionStatement(node); });
        return 0;
    }
    if (PeekMatch("EXTRA_DEFINITION")) {
        r = ReadBlockStart("EXTRA_DEFINITION");
        if (r != 0) return r;
        ReadStatementsOf([this, node] { return ReadExtraStatement(node); });
        return 0;
    }
    return ReportUnknown("Unknown Node Field");
}

// A node without arcs holds nothing but its first default table yet: when the type cannot be
// converted from that, the node takes the new type afresh.
int QNL_textFormat::SetNodeType(int node, int type) {
    QNL_node* n = network->GetNode(node);
    const int previous = n->GetType();
    int result = n->SetType(type);
    if (result == 0 || network->NumberOfParents(node) != 0 || network->NumberOfChildren(node) != 0)
        return result;
    result = n->CreateDefinition(type);
    if (result == 0) result = n->CreateValue(type);
    if (result != 0) return result;
    if (QNL_extraDefinition* extra = n->GetExtraDefinition())
        result = extra->ResizeToOutcomes(n->GetDefinition());
    network->NodeTypeChanged(node, previous);
    return result;
}

// Checked before any arc: arc by arc the table would double up to the limit. An arc that
// cannot be added is reported and the rest are still tried.
int QNL_textFormat::AddParentArcs(int node, const QNL_stringArray& ids, int layer,
                                  const char* arcName) {
    const char* child = network->GetNode(node)->GetId();
    const QNL_intArray& present = network->GetParents(node, layer);
    std::vector<int> all(present.Items(), present.Items() + present.GetCount());
    for (int i = 0; i < ids.GetCount(); ++i)
        all.push_back(network->FindNode(ids.GetString(i)));
    if (quarn::detail::CellsWithParents(network, node, all, layer) >
        quarn::detail::MAX_READ_TABLE_CELLS)
        return ReportError(
            -42, ("ERROR: " + quarn::detail::TooLargeTableMessage(network, node)).c_str());
    for (int i = 0; i < ids.GetCount(); ++i) {
        const char* id = ids.GetString(i);
        const int parent = network->FindNode(id);
        const int added = parent < 0 ? parent : network->AddArc(parent, node, layer);
        if (added != 0)
            ReportError(added, (std::string("ERROR: Couldn't add ") + arcName + " from node [" +
                                id + "] to node [" + child + "]")
                                   .c_str());
    }
    return 0;
}

int QNL_textFormat::ReadParents(int node) {
    QNL_stringArray ids;
    const int result = ReadIdentifierListProperty("PARENTS", ids);
    if (result != 0) return result;
    return AddParentArcs(node, ids, 0, "arc");
}

int QNL_textFormat::ReadDefinitionStatement(int node) {
    QNL_nodeDefinition* definition = network->GetNode(node)->GetDefinition();
    if (PeekToken() != 0) return GetPeekResult();
    if (GetTokenKind() == IDENTIFIER && IsOneOf(GetTokenText(), TABLE_WORDS)) {
        PendingTable table;
        table.keyword = GetTokenText();
        table.line = GetLineNumber();
        int r = 0;
        if (table.keyword == "RESULTINGSTATES")
            r = ReadIdentifierListProperty("RESULTINGSTATES", table.identifiers);
        else if (table.keyword == "STRENGTHS")
            r = ReadIntegerListProperty("STRENGTHS", table.integers);
        else if (table.keyword == "BASELINE") {
            r = ReadProperty("BASELINE", STRING);
            if (r == 0) table.text = GetTokenText();
        } else
            r = ReadRealListProperty(table.keyword.c_str(), table.reals);
        if (r == 0) r = Tighten(table.reals);
        if (r != 0) return r;
        pending.push_back(std::move(table));
        return 0;
    }
    for (const char* word : {"NAMESTATES", "NAMECHOICES"}) {
        QNL_stringArray ids;
        const int r = ReadIdentifierListProperty(word, ids);
        if (r == 0) {
            if (definition == nullptr) return ReportError(-2, "ERROR: Node without type");
            return ReportError(definition->SetNumberOfOutcomes(ids), nullptr);
        }
        if (r != NOT_NEXT) return r;
    }
    return ReportUnknown("Unknown Definition Statement");
}

int QNL_textFormat::ReadExtraStatement(int node) {
    QNL_extraDefinition* extra = network->GetNode(node)->GetExtraDefinition();
    if (PeekToken() != 0) return GetPeekResult();
    if (extra == nullptr) return ReportError(-2, "ERROR: Node without type");
    const int n = extra->GetNumberOfOutcomes();
    int r = ReadProperty("DIAGNOSIS_TYPE", IDENTIFIER);
    if (r == 0) {
        extra->SetDiagnosisType(Match("TARGET")        ? QNL_extraDefinition::TARGET
                                : Match("OBSERVATION") ? QNL_extraDefinition::OBSERVATION
                                                       : QNL_extraDefinition::AUXILIARY);
        return 0;
    }
    if (r != NOT_NEXT) return r;
    for (int which = 0; which < 3; ++which) {
        static const char* const FLAGS[] = {"RANKED", "MANDATORY", "SETASDEFAULT"};
        int on = 0;
        r = ReadBooleanProperty(FLAGS[which], &on);
        if (r == 0) {
            unsigned char flags[] = {extra->IsRanked(), extra->IsMandatory(),
                                     extra->IsSetAsDefault()};
            flags[which] = static_cast<unsigned char>(on);
            extra->SetFlags(flags[0], flags[1], flags[2]);
        }
        if (r != NOT_NEXT) return r;
    }
    int value = 0;
    r = ReadIntegerProperty("SHOWAS", &value);
    if (r == 0) extra->SetDisplayMode(value);
    if (r != NOT_NEXT) return r;
    QNL_intArray flags;
    r = ReadIntegerListProperty("FAULT_STATES", flags);
    if (r == 0) return ReportError(extra->SetFaultOutcomes(flags), "Wrong number of fault states");
    if (r != NOT_NEXT) return r;
    // Lists of one text per outcome; a list of another length changes nothing.
    struct TextList {
        const char* word;
        const char* refusal;
        int (QNL_extraDefinition::*set)(int, const char*);
    };
    for (const TextList& list : {TextList{"FAULT_NAMES", "Wrong number of fault names",
                                          &QNL_extraDefinition::SetFaultName},
                                 TextList{"STATECOMMENTS", "Wrong number of state comments",
                                          &QNL_extraDefinition::SetOutcomeDescription},
                                 TextList{"STATEREPAIRINFO", "Wrong number of repair comments",
                                          &QNL_extraDefinition::SetOutcomeFix}}) {
        QNL_stringArray texts;
        r = ReadStringListProperty(list.word, texts);
        if (r == 0) {
            if (texts.GetCount() != n) return ReportError(-2, list.refusal);
            for (int i = 0; i < n; ++i)
                if (int set = (extra->*list.set)(i, texts.GetString(i)))
                    return ReportError(set, nullptr);
            return 0;
        }
        if (r != NOT_NEXT) return r;
    }
    QNL_stringArray labels;
    r = ReadStringListProperty("FAULT_LABELS", labels);
    if (r == 0) return ReportError(extra->SetOutcomeLabels(labels), nullptr);
    if (r != NOT_NEXT) return r;
    r = ReadIntegerProperty("DEFAULT_STATE", &value);
    if (r == 0 && n > 0) return ReportError(extra->SetDefaultOutcome(value), nullptr);
    if (r != NOT_NEXT) return r;
    if (PeekMatch("DOCUMENTATION")) {
        QNL_documentation documents;
        r = ReadDocumentationBlock(documents);
        if (r != 0) return r;
        if (documentationCounter >= n)
            return ReportError(-2, "ERROR: More outcome DOCUMENTATION blocks than outcomes");
        return ReportError(
            extra->GetOutcomeDocumentation(documentationCounter++)->Assign(documents), nullptr);
    }
    r = ReadProperty("QUESTION", STRING);
    if (r == 0) return ReportError(extra->SetQuestion(GetTokenText().c_str()), nullptr);
    if (r != NOT_NEXT) return r;
    return ReportUnknown("Unknown Definition Statement");
}

// ---------------------------------------------------------------------------------------
// Tables, once the node is whole

void QNL_textFormat::ApplyPendingTables(int node) {
    for (const PendingTable& table : pending)
        ApplyTable(node, table);
    pending.clear();
}

int QNL_textFormat::CheckLength(int node, const PendingTable& table, int count, int wanted) {
    if (count == wanted) return 0;
    const char* id = network->GetNode(node)->GetId();
    return ReportAt(table.line, -2,
                    "ERROR: " + table.keyword + " of node " + Quoted(id) + " holds " +
                        std::to_string(count) + " values where " + std::to_string(wanted) +
                        " are expected");
}

int QNL_textFormat::ApplyTable(int node, const PendingTable& table) {
    QNL_nodeDefinition* definition = network->GetNode(node)->GetDefinition();
    if (definition == nullptr) return ReportAt(table.line, -2, "ERROR: Node without type");
    const std::string& word = table.keyword;
    if (word == "PROBABILITIES") return ApplyProbabilities(node, table);
    if (word == "STRENGTHS") return ApplyStrengths(node, table);
    if (word == "UTILITIES" || word == "WEIGHTS") {
        const int size = definition->GetSize();
        if (size < 0) return ReportAt(table.line, size, "");
        if (int r = CheckLength(node, table, table.reals.GetCount(), size)) return r;
        return ReportAt(table.line, definition->SetDefinition(table.reals), "");
    }
    if (word == "RESULTINGSTATES") {
        auto* truth = dynamic_cast<QNL_truthTable*>(definition);
        if (truth == nullptr) return ReportAt(table.line, -51, "");
        const int n = truth->GetNumberOfOutcomes();
        const int columns = n > 0 ? truth->GetSize() / n : 0;
        if (int r = CheckLength(node, table, table.identifiers.GetCount(), columns)) return r;
        return ReportAt(table.line, truth->SetResultingStates(table.identifiers), "");
    }
    auto* cast = dynamic_cast<QNL_cast*>(definition);
    if (cast == nullptr) return ReportAt(table.line, -51, "");
    if (word == "PWEIGHTS") return ReportAt(table.line, cast->SetPositiveWeights(table.reals), "");
    if (word == "NWEIGHTS") return ReportAt(table.line, cast->SetNegativeWeights(table.reals), "");
    double baseline = 0.0;
    int r = ParseNumber(table.text.c_str(), &baseline);
    if (r == 0) r = cast->SetBaseline(baseline);
    return ReportAt(table.line, r, "");
}

int QNL_textFormat::ApplyProbabilities(int node, const PendingTable& table) {
    QNL_nodeDefinition* definition = network->GetNode(node)->GetDefinition();
    auto* noisy = dynamic_cast<QNL_noisyMAX*>(definition);
    const int count = table.reals.GetCount();
    if (noisy != nullptr && (noisyOr || noisyAnd)) {
        const int n = noisy->GetNumberOfOutcomes();
        const int rows = noisy->GetNumberOfColumns() - noisy->GetNumberOfBlocks();
        if (int r = CheckLength(node, table, count, rows * n)) return r;
        if (noisyAnd) return ApplyNoisyAnd(node, table);
        return ReportAt(table.line, noisy->SetCompoundParameters(table.reals), "");
    }
    const int size = noisy != nullptr ? noisy->GetParameters()->GetSize() : definition->GetSize();
    if (size < 0) return ReportAt(table.line, size, "");
    if (int r = CheckLength(node, table, count, size)) return r;
    return ReportAt(table.line, definition->SetDefinition(table.reals), "");
}

// The file gives a noisy-AND: the node's outcomes and every parent's strength order run the
// other way round, and so does each row of parameters.
int QNL_textFormat::ApplyNoisyAnd(int node, const PendingTable& table) {
    auto* noisy = static_cast<QNL_noisyMAX*>(network->GetNode(node)->GetDefinition());
    const std::unique_ptr<QNL_nodeDefinition> saved(noisy->CreateCopy());
    if (saved == nullptr) return ReportAt(table.line, -42, "");
    const int n = noisy->GetNumberOfOutcomes();
    QNL_intArray reversed;
    for (int i = n - 1; i >= 0; --i)
        reversed.Add(i);
    int r = noisy->ReorderOutcomes(reversed);
    if (r != 0) return ReportAt(table.line, r, "");
    for (int j = 0; r == 0 && j < noisy->GetNumberOfBlocks(); ++j) {
        const int m = noisy->GetBlockSize(j);
        QNL_intArray order;
        order.Add(m - 1);
        for (int k = 0; k + 1 < m; ++k)
            order.Add(k);
        r = noisy->ApplyParentStrengthOrder(j, order);
    }
    if (r == 0) {
        QNL_doubleArray values(table.reals);
        for (int i = 0; i < table.reals.GetCount(); i += n)
            for (int k = 0; k < n; ++k)
                values[i + k] = table.reals[i + n - 1 - k];
        r = noisy->SetCompoundParameters(values);
    }
    if (r != 0) {
        // Refused parameters leave the node as it was: outcomes back (and with them the
        // annotations), then orders and parameters.
        noisy->ReorderOutcomes(reversed);
        noisy->Assign(*saved);
    }
    return ReportAt(table.line, r, "");
}

// Per parent, the position of each of its outcomes within its strength order: the inverse of
// the order. Every segment is checked before any order changes.
int QNL_textFormat::ApplyStrengths(int node, const PendingTable& table) {
    auto* noisy = dynamic_cast<QNL_noisyMAX*>(network->GetNode(node)->GetDefinition());
    if (noisy == nullptr) return ReportAt(table.line, -51, "");
    const QNL_intArray& list = table.integers;
    std::vector<QNL_intArray> orders;
    int start = 0;
    for (int j = 0; j < noisy->GetNumberOfBlocks(); ++j) {
        const int m = noisy->GetBlockSize(j);
        QNL_intArray order;
        bool consistent = start + m <= list.GetCount();
        for (int k = 0; consistent && k < m; ++k) {
            int position = -1;
            for (int i = 0; i < m && position < 0; ++i)
                if (list[start + i] == k) position = i;
            consistent = position >= 0 && order.IsInList(position) == 0;
            order.Add(position);
        }
        if (!consistent)
            return ReportAt(table.line, -127,
                            "ERROR: NoisyMAX strengths are inconsistent for parent " +
                                std::to_string(j));
        orders.push_back(order);
        start += m;
    }
    if (int r = CheckLength(node, table, list.GetCount(), start)) return r;
    for (int j = 0; j < static_cast<int>(orders.size()); ++j)
        if (int r = noisy->SetParentOutcomeStrengths(j, orders[static_cast<std::size_t>(j)]))
            return ReportAt(table.line, r, "");
    return 0;
}

// ---------------------------------------------------------------------------------------
// Observation costs

int QNL_textFormat::ReadCostBlock() {
    int result = ReadBlockStart("OBSERVATION_COST");
    if (result != 0) return result;
    ReadStatementsOf([this] { return ReadCostEntry(); });
    return 0;
}

int QNL_textFormat::ReadCostEntry() {
    std::string id;
    if (ExpectQuiet(IDENTIFIER, "node") != 0 || ReadIdentifier(id) != 0) return Expect(IDENTIFIER);
    const int node = network->FindNode(id.c_str());
    if (node < 0)
        return ReportError(node, ("ERROR: Couldn't Find Node " + Quoted(id.c_str())).c_str());
    int result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatementsOf([this, node] { return ReadCostStatement(node); });
    return 0;
}

int QNL_textFormat::ReadCostStatement(int node) {
    if (PeekToken() != 0) return GetPeekResult();
    QNL_stringArray ids;
    int r = ReadIdentifierListProperty("PARENTS", ids);
    if (r == 0) {
        return AddParentArcs(node, ids, 1, "cost arc");
    }
    if (r != NOT_NEXT) return r;
    PendingTable costs;
    costs.keyword = "COSTS";
    costs.line = GetLineNumber();
    r = ReadRealListProperty("COSTS", costs.reals);
    if (r == 0) r = Tighten(costs.reals);
    if (r == 0) {
        QNL_nodeCost* cost = network->GetNode(node)->GetCost();
        if (cost == nullptr) return ReportError(-2, nullptr);
        if (int wrong =
                CheckLength(node, costs, costs.reals.GetCount(), cost->GetCosts().GetSize()))
            return wrong;
        return ReportError(cost->SetCosts(costs.reals), nullptr);
    }
    if (r != NOT_NEXT) return r;
    return ReportUnknown("Unknown Cost Statement");
}
