#include "formats/ki_format.h"

#include "definitions/extra_definition.h"
#include "definitions/noisy_max.h"
#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "numerics/number_text.h"

#include <algorithm>
#include <cmath>
#include <new>

using quarn::detail::FormatOutOfMemory;
using quarn::detail::ReadStatements;

namespace {

const char* const UNNAMED_NETWORK = "_Unnamed_Network_";
// What a statement reader answers for a statement passed over without a message.
constexpr int PASSED_OVER = 1;

constexpr const char* NODE_WORDS[] = {"NAME",          "CLASS",
                                      "CLASSTYPE",     "TYPE",
                                      "POSITION",      "COST",
                                      "CATEGORY",      "SIZE",
                                      "FONT",          "FONTSIZE",
                                      "QUESTION",      "FINISHEDFLAG",
                                      "DEFINITION",    "OBSERVABLE",
                                      "MANDATORY",     "HYPOTHESIS",
                                      "ENTEREDNAME",   "ORDER",
                                      "ENTRYTYPE",     "SHORTNAME",
                                      "LONGNAME",      "MANDATORYVALUE",
                                      "APPNAME",       "ABBREVIATION",
                                      "RECOMMENDABLE", "INCLUDEDEBUGINFO",
                                      nullptr};
constexpr const char* DEFINITION_WORDS[] = {"PROB", "PARTITIONS",  "NASPEC", "FUNCTION",
                                            "LEAK", "AUTOCALCROW", "(",      nullptr};
constexpr const char* KB_STRINGS[] = {"NOTES",   "FIRSTSTATENAME", "SECONDSTATENAME",
                                      "EXEPATH", "NODEDATATYPE",   "STATEDATATYPE",
                                      nullptr};
constexpr const char* KB_INTEGERS[] = {"PRECISION",     "STATENAMETYPE",   "NODETYPE",
                                       "ADDNODE",       "ASKNODE",         "ASKSTATE",
                                       "SHOWDEBUGINFO", "INCLUDENASTATES", nullptr};

bool NextIs(QNL_textParser& parser, const char* punctuator) {
    return parser.PeekToken() == 0 && parser.GetTokenKind() == QNL_textParser::PUNCTUATOR &&
           parser.GetTokenText() == punctuator;
}

// Entries that carry their own braces: no ";" between them. A failed entry is skipped by
// `recover`; a ";" after an entry is passed over; an entry that consumed nothing loses its
// first token, so the loop always ends.
template <typename Entry, typename Recover>
void ReadEntries(QNL_textParser& parser, Entry entry, Recover recover) {
    while (!parser.AtBlockEnd()) {
        const std::size_t before = parser.GetRemainingInput();
        if (entry() != 0) recover();
        if (NextIs(parser, ";")) parser.ConsumeToken();
        if (parser.GetRemainingInput() == before && !parser.AtBlockEnd()) parser.ConsumeToken();
    }
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void RoundCells(QNL_doubleArray& cells) {
    for (int i = 0; i < cells.GetSize(); ++i)
        cells[i] = RoundToDigits(cells[i], 5);
}

} // namespace

QNL_kiFormat::QNL_kiFormat(QNL_network* network) : QNL_textParser(network), names(network) {
    SetCaseSensitive(false);
}

int QNL_kiFormat::Write(const char*) {
    return QNL_errorHandler::Instance().LogError(-2, "Writing to KI file format not supported.");
}

int QNL_kiFormat::ReadProperty(const char* name, int kind) {
    return ReadColonProperty(name, kind);
}

int QNL_kiFormat::ReadIntegerProperty(const char* name, int* out) {
    return ReadColonIntegerProperty(name, out);
}

int QNL_kiFormat::ReadBlockStart(const char* name) {
    return ReadNamedBlockStart(name);
}

int QNL_kiFormat::FaultNameFormatOf(const std::string& text) {
    const bool node = text.find("&node") != std::string::npos;
    const bool state = text.find("&state") != std::string::npos;
    if (node && state) return QNL_extraDefinition::FAULT_NAME_NODESTATE;
    if (node) return QNL_extraDefinition::FAULT_NAME_NODE;
    if (state) return QNL_extraDefinition::FAULT_NAME_STATE;
    return QNL_extraDefinition::FAULT_NAME_INHERIT;
}

// ---------------------------------------------------------------------------------------
// Frame

int QNL_kiFormat::Read(const char* path) {
    if (network == nullptr) return -2;
    names.Clear();
    stateNames.clear();
    labels.clear();
    int result = StartReading(path, SCANNER_MODE);
    if (result == -102) QNL_errorHandler::Instance().LogError(-102, "ERROR: The file is empty");
    if (result != 0) return FinishReading(result);
    try {
        // A file that is no knowledge base is refused, not taken for an empty one.
        result = PeekMatch("diagnostic") ? ReadKnowledgeBase() : Expect(IDENTIFIER, "diagnostic");
        RoundAndTrim();
    } catch (const std::bad_alloc&) {
        result = FormatOutOfMemory();
    }
    return FinishReading(result);
}

int QNL_kiFormat::ReportNode(int node, const std::string& what) {
    const QNL_node* n = network->GetNode(node);
    return ReportError(
        -2, ("ERROR: Node (\"" + std::string(n != nullptr ? n->GetId() : "") + "\") : " + what)
                .c_str());
}

int QNL_kiFormat::ExpectWord(const char* word) {
    if (PeekMatch(word)) {
        ConsumeToken();
        return 0;
    }
    return Expect(IDENTIFIER, word);
}

int QNL_kiFormat::ReadBlockOpening(const char* keyword) {
    int result = ExpectWord(keyword);
    if (result != 0) return result;
    if (PeekToken() == 0 && GetTokenKind() == QNL_textScanner::EQUALS) ConsumeToken();
    return Expect(PUNCTUATOR, "{");
}

int QNL_kiFormat::ReadKnowledgeBase() {
    ConsumeToken();
    int result = ExpectWord("network");
    if (result == 0) result = Expect(STRING);
    if (result != 0) return result;
    const std::string name = GetTokenText();
    QNL_header* header = network->GetHeader();
    if (header == nullptr) return -2;
    ReportError(header->SetName(name.c_str()), "ERROR: Couldn't set the network's name");
    // A name that is no identifier leaves the network the identifier it has: the unnamed one
    // other tools use is no identifier of ours.
    if (IsValidId(name.c_str())) {
        header->SetId(name.c_str());
    } else if (IsValidId(UNNAMED_NETWORK)) {
        header->SetId(UNNAMED_NETWORK);
    }

    if ((result = ReadBlockOpening("kb")) != 0) return result;
    ReadStatements(*this, [this] { return ReadKbField(); });
    ReadBlockEnd();

    if ((result = ReadBlockOpening("nodes")) != 0) return result;
    ReadEntries(
        *this, [this] { return ReadNodeEntry(); }, [this] { SkipEntry(); });
    ReadBlockEnd();

    if ((result = ReadBlockOpening("network")) != 0) return result;
    ReadEntries(
        *this, [this] { return ReadNetworkEntry(); }, [this] { SkipEntry(); });
    return ReadBlockEnd();
}

// Network-wide fields. Only the notes become the network's comment.
int QNL_kiFormat::ReadKbField() {
    if (!NextIsIdentifier()) return Expect(IDENTIFIER);
    if (Match("NODEFONTSPEC")) {
        ConsumeToken();
        return SkipBlock(0);
    }
    const bool notes = Match("NOTES");
    const bool text = MatchAny(KB_STRINGS);
    const bool integer = MatchAny(KB_INTEGERS);
    const bool sequence = Match("VERSION") || Match("DISPLAYSIZE");
    if (!text && !integer && !sequence) return PASSED_OVER;
    ConsumeToken();
    int result = Expect(PUNCTUATOR, ":");
    if (result != 0) return result;
    if (text) {
        if ((result = Expect(STRING)) != 0) return result;
        if (notes)
            ReportError(network->GetHeader()->SetComment(GetTokenText().c_str()),
                        "ERROR: Couldn't set the network's comment");
        return 0;
    }
    if (!NextIsInteger()) return Expect(INTEGER);
    do
        ConsumeToken();
    while (sequence && NextIsInteger());
    return 0;
}

// ---------------------------------------------------------------------------------------
// Nodes

int QNL_kiFormat::ReadNodeEntry() {
    if (!PeekMatch("standard") && !PeekMatch("ci")) return Expect(IDENTIFIER, "standard");
    const int type = Match("ci") ? QNL_TYPE_NOISY_MAX : QNL_TYPE_CPT;
    ConsumeToken();
    if (!NextIsIdentifier() && !NextIsString()) return Expect(IDENTIFIER);
    const std::string raw = GetTokenText();
    ConsumeToken();
    const int node = names.Create(type, raw);
    if (node < 0)
        return ReportError(node, ("ERROR: Couldn't Create Node (\"" + raw + "\")").c_str());
    observable = mandatory = hypothesis = recommendable = -1;
    const int result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatements(*this, [this, node] { return ReadNodeStatement(node); });
    ReadBlockEnd();
    SetDiagnosisType(node);
    return 0;
}

int QNL_kiFormat::ReadNodeStatement(int node) {
    if (PeekToken() != 0) return GetPeekResult();
    const std::string word = GetTokenText();
    if (GetTokenKind() != IDENTIFIER || !MatchAny(NODE_WORDS))
        return ReportError(-127, ("ERROR: '" + word + "' : Unknown Node Statement").c_str());
    QNL_node* n = network->GetNode(node);
    QNL_nodeInfo& info = *n->GetInfo();
    QNL_extraDefinition* extra = n->GetExtraDefinition();
    auto text = [this, &word](std::string& out) {
        const int result = ReadColonProperty(word.c_str(), STRING);
        if (result == 0) out = GetTokenText();
        return result;
    };
    auto flag = [this, &word](int& out) { return ReadBooleanProperty(word.c_str(), &out); };
    std::string value;
    int result = 0;
    if (word == "NAME") {
        if ((result = text(value)) != 0) return result;
        return ReportError(info.header.SetName(value.c_str()),
                           "ERROR: Couldn't set the node's name");
    }
    if (word == "CLASSTYPE") {
        if ((result = ReadColonProperty("CLASSTYPE", IDENTIFIER)) != 0) return result;
        // In place: the node keeps its handle, its states and everything read so far.
        return ReportError(
            n->SetType(QNL_TYPE_NOISY_MAX),
            ("ERROR: Couldn't Find Node (\"" + std::string(n->GetId()) + "\")").c_str());
    }
    if (word == "type") return ReadStates(node);
    if (word == "position" || word == "size") {
        ConsumeToken();
        if (word == "position") {
            result = Expect(PUNCTUATOR, "=");
            if (result == 0) result = Expect(INTEGER, "3");
            if (result == 0) result = Expect(IDENTIFIER, "D");
        } else {
            result = Expect(PUNCTUATOR, ":");
        }
        int xy[2] = {0, 0};
        if (result == 0) result = Expect(PUNCTUATOR, "(");
        if (result == 0 && ReadInteger(&xy[0]) != 0) result = Expect(INTEGER);
        if (result == 0) result = Expect(PUNCTUATOR, ",");
        if (result == 0 && ReadInteger(&xy[1]) != 0) result = Expect(INTEGER);
        if (result == 0) result = Expect(PUNCTUATOR, ")");
        if (result != 0) return result;
        QNL_rectangle& at = info.screen.position;
        (word == "position" ? at.x : at.width) = xy[0];
        (word == "position" ? at.y : at.height) = xy[1];
        return 0;
    }
    if (word == "cost") {
        ConsumeToken();
        double cost = 0.0;
        if ((result = Expect(PUNCTUATOR, ":")) != 0) return result;
        if (ReadReal(&cost) != 0) return Expect(REAL);
        // A number too large for a double reads as an infinity; costs must be finite.
        if (!std::isfinite(cost))
            return ReportError(-127, "ERROR: 'cost' : Cost is not a finite number");
        QNL_doubleArray& costs = n->GetCost()->GetCosts().GetItems();
        if (costs.GetSize() > 0) costs[0] = cost;
        return 0;
    }
    if (word == "OBSERVABLE") return flag(observable);
    if (word == "MANDATORY") return flag(mandatory);
    if (word == "HYPOTHESIS") return flag(hypothesis);
    if (word == "RECOMMENDABLE") return ReadColonIntegerProperty("RECOMMENDABLE", &recommendable);
    if (word == "mandatoryValue") {
        int outcome = 0;
        if ((result = ReadColonIntegerProperty("mandatoryValue", &outcome)) != 0) return result;
        return ReportError(
            extra->SetDefaultOutcome(outcome),
            ("ERROR: '" + std::to_string(outcome) + "' : Invalid mandatory value").c_str());
    }
    if (word == "QUESTION") {
        if ((result = text(value)) != 0) return result;
        return ReportError(extra->SetQuestion(value.c_str()), "ERROR: Couldn't set the question");
    }
    if (word == "DEFINITION") {
        if ((result = text(value)) != 0) return result;
        return ReportError(info.header.SetComment(value.c_str()),
                           "ERROR: Couldn't set the node's comment");
    }
    if (word == "SHORTNAME" || word == "LONGNAME") {
        if ((result = text(value)) != 0) return result;
        return ReportError(info.properties.AddProperty(
                               word == "SHORTNAME" ? "KI_SHORTNAME" : "KI_LONGNAME", value.c_str()),
                           "ERROR: Couldn't add the property");
    }
    if (word == "CLASS" || word == "FONT" || word == "FONTSIZE" || word == "ORDER" ||
        word == "ENTRYTYPE") {
        ConsumeToken();
        if ((result = Expect(PUNCTUATOR, ":")) != 0) return result;
        if (!NextIsIdentifier() && !NextIsNumber()) return Expect(IDENTIFIER);
        ConsumeToken();
        return 0;
    }
    if (word == "CATEGORY" || word == "ENTEREDNAME") return text(value);
    if (word == "FINISHEDFLAG") {
        int ignored = 0;
        return flag(ignored);
    }
    if (word == "INCLUDEDEBUGINFO") {
        int ignored = 0;
        return ReadColonIntegerProperty("INCLUDEDEBUGINFO", &ignored);
    }
    return ReportError(-127, ("ERROR: '" + word + "' : Unknown Node Field").c_str());
}

// "type" ":" "discrete" "[" n "]" "=" "3" "D" "{" state entries "}"
int QNL_kiFormat::ReadStates(int node) {
    ConsumeToken();
    int count = 0;
    int result = Expect(PUNCTUATOR, ":");
    if (result == 0) result = Expect(IDENTIFIER, "discrete");
    if (result == 0) result = Expect(PUNCTUATOR, "[");
    if (result == 0 && ReadInteger(&count) != 0) result = Expect(INTEGER);
    if (result == 0) result = Expect(PUNCTUATOR, "]");
    if (result == 0) result = Expect(PUNCTUATOR, "=");
    if (result == 0) result = Expect(INTEGER, "3");
    if (result == 0) result = Expect(IDENTIFIER, "D");
    if (result != 0) return result;
    stateNames.emplace_back();
    // Every state needs an entry of its own: a count the rest of the file cannot hold is
    // refused before the states are made.
    if (count < 2 || static_cast<std::size_t>(count) > GetRemainingInput())
        return ReportError(-2, "Wrong number of outcomes");
    QNL_node* n = network->GetNode(node);
    if ((result = n->GetDefinition()->SetNumberOfOutcomes(count)) != 0)
        return ReportError(result, "Wrong number of outcomes");
    if ((result = Expect(PUNCTUATOR, "{")) != 0) return result;
    int index = 0;
    ReadEntries(
        *this, [this, node, &index] { return ReadStateEntry(node, index++); },
        [this] { SkipBlock(0); });
    return ReadBlockEnd();
}

int QNL_kiFormat::ReadStateEntry(int node, int index) {
    if (!PeekMatch("standard") && !PeekMatch("fault")) return Expect(IDENTIFIER, "standard");
    const bool fault = Match("fault");
    ConsumeToken();
    if (!NextIsIdentifier()) return Expect(IDENTIFIER);
    ConsumeToken();
    QNL_node* n = network->GetNode(node);
    if (index >= n->GetDefinition()->GetNumberOfOutcomes())
        return ReportNode(node, "More states than declared");
    n->GetExtraDefinition()->SetFaultOutcome(index, fault);
    const int result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    ReadStatements(*this, [this, node, index] { return ReadStateField(node, index); });
    ReadBlockEnd();
    return 0;
}

int QNL_kiFormat::ReadStateField(int node, int index) {
    if (PeekToken() != 0) return GetPeekResult();
    const std::string word = GetTokenText();
    QNL_node* n = network->GetNode(node);
    QNL_nodeDefinition* definition = n->GetDefinition();
    QNL_extraDefinition* extra = n->GetExtraDefinition();
    const bool known =
        GetTokenKind() == IDENTIFIER &&
        (word == "NAME" || word == "APPNAME" || word == "ABBREVIATION" || word == "DEFINITION" ||
         word == "LONGNAME" || word == "SHORTNAME" || word == "CATEGORY" || word == "GROUP");
    if (!known) return ReportError(-127, ("ERROR: '" + word + "' : Unknown State Field").c_str());
    if (word == "GROUP") return ReadColonProperty("GROUP", IDENTIFIER);
    int result = ReadColonProperty(word.c_str(), STRING);
    if (result != 0) return result;
    const std::string text = GetTokenText();
    if (word == "NAME") {
        if ((result = stateNames.back().Add(text.c_str())) != 0) return result;
        const QNL_idArray* ids = definition->GetOutcomeIds();
        if (ids != nullptr && text == ids->GetString(index)) return 0;
        std::string id;
        if (ids == nullptr || (result = ids->MakeValidId(text.c_str(), -1, id)) != 0 ||
            (result = definition->RenameOutcome(index, id.c_str())) != 0)
            return ReportError(result != 0 ? result : -2,
                               ("ERROR: '" + text + "' : Invalid state name").c_str());
        return 0;
    }
    if (word == "APPNAME") return extra->SetFaultNameFormat(FaultNameFormatOf(text));
    if (word == "ABBREVIATION") {
        if (extra->IsFaultOutcome(index) != 1) return 0;
        // A label names one fault of the whole network.
        if (!IsValidId(text.c_str()) || labels.count(text) != 0 ||
            extra->SetOutcomeLabel(index, text.c_str()) != 0)
            return ReportError(-127,
                               ("ERROR: '" + text + "' : Fault label is not unique.").c_str());
        labels.insert(text);
        return 0;
    }
    if (word == "DEFINITION")
        return ReportError(extra->SetOutcomeFix(index, text.c_str()),
                           "ERROR: Couldn't set the state's fix");
    if (word == "SHORTNAME")
        return ReportError(extra->SetFaultName(index, text.c_str()),
                           "ERROR: Couldn't set the state's fault name");
    return 0;
}

void QNL_kiFormat::SetDiagnosisType(int node) {
    QNL_extraDefinition* extra = network->GetNode(node)->GetExtraDefinition();
    bool fault = false;
    for (int i = 0; i < extra->GetNumberOfOutcomes(); ++i)
        fault = fault || extra->IsFaultOutcome(i) == 1;
    const bool mandatoryNode = mandatory == 1;
    if (observable == 1 || mandatoryNode) {
        extra->SetDiagnosisType(QNL_extraDefinition::OBSERVATION);
        extra->SetFlags(recommendable == 1 && !mandatoryNode, mandatoryNode,
                        extra->IsSetAsDefault());
    } else {
        extra->SetDiagnosisType(fault ? QNL_extraDefinition::TARGET
                                      : QNL_extraDefinition::AUXILIARY);
        extra->SetFlags(recommendable == 1, 0, extra->IsSetAsDefault());
    }
}

// ---------------------------------------------------------------------------------------
// Parents and numbers

int QNL_kiFormat::ReadNetworkEntry() {
    if (!PeekMatch("standard") && !PeekMatch("ci")) return Expect(IDENTIFIER, "standard");
    ConsumeToken();
    if (!NextIsIdentifier() && !NextIsString()) return Expect(IDENTIFIER);
    const std::string raw = GetTokenText();
    ConsumeToken();
    const int node = names.Find(raw);
    if (node < 0) return ReportError(node, ("ERROR: Couldn't Find Node (\"" + raw + "\")").c_str());
    int result = ExpectWord("parent");
    if (result == 0) result = Expect(PUNCTUATOR, "(");
    if (result != 0) return result;
    std::vector<std::string> parents;
    while (NextIsIdentifier() || NextIsString()) {
        parents.push_back(GetTokenText());
        ConsumeToken();
        if (!NextIsComma()) break;
        ConsumeToken();
    }
    if ((result = Expect(PUNCTUATOR, ")")) != 0) return result;
    const std::string id = network->GetNode(node)->GetId();
    for (const std::string& name : parents) {
        const int parent = names.Find(name);
        const int added = parent < 0 ? -2 : network->AddArc(parent, node, 0);
        if (added != 0)
            ReportError(
                added,
                ("ERROR: Couldn't add arc from node [" + name + "] to node [" + id + "]").c_str());
    }
    if ((result = Expect(PUNCTUATOR, "{")) != 0) return result;
    ReadEntries(
        *this, [this, node] { return ReadDefinitionStatement(node); }, [this] { SkipEntry(); });
    ReadBlockEnd();
    return 0;
}

int QNL_kiFormat::ReadDefinitionStatement(int node) {
    if (PeekToken() != 0) return GetPeekResult();
    const std::string word = GetTokenText();
    if (!MatchAny(DEFINITION_WORDS))
        return ReportError(-127,
                           ("ERROR: '" + word + "' : Unknown Node Definition Statement").c_str());
    const int type = network->GetNode(node)->GetType();
    if (Match("PROB") && type == QNL_TYPE_CPT) return ReadTable(node);
    if (Match("FUNCTION") && type == QNL_TYPE_NOISY_MAX) return ReadFunction(node);
    if (Match("PARTITIONS")) {
        ConsumeToken();
        return SkipBlock(0);
    }
    return ReportError(-127, ("ERROR: '" + word + "' : Unknown Node Definition Field").c_str());
}

int QNL_kiFormat::ReadNumbers(std::vector<double>& numbers) {
    numbers.clear();
    for (;;) {
        double value = 0.0;
        if (ReadReal(&value) != 0) return Expect(REAL);
        numbers.push_back(value);
        if (!NextIsComma()) return 0;
        ConsumeToken();
    }
}

// "(" integers ")" ";" numbers ";"
int QNL_kiFormat::ReadRow(std::vector<int>& configuration, std::vector<double>& numbers) {
    QNL_intArray list;
    int result = ReadIntegerList(list);
    if (result == 0) result = Expect(PUNCTUATOR, ";");
    if (result == 0) result = ReadNumbers(numbers);
    if (result == 0) result = Expect(PUNCTUATOR, ";");
    configuration.assign(list.Items(), list.Items() + list.GetCount());
    return result;
}

// An entry or statement that failed before its own braced group is skipped with the group, or
// up to and with its ";" when it has none; the "}" of the enclosing block stays.
void QNL_kiFormat::SkipEntry() {
    while (PeekToken() == 0 && !NextIs(*this, "}")) {
        if (NextIs(*this, "{")) {
            SkipBlock(0);
            return;
        }
        const bool end = NextIs(*this, ";");
        ConsumeToken();
        if (end) return;
    }
}

// Up to the next ";" at brace depth 0, and the ";".
int QNL_kiFormat::SkipToSemicolon() {
    const int result = SkipStatement();
    return result != 0 ? result : Expect(PUNCTUATOR, ";");
}

// "PROB" ":" "{" rows "}": each row's numbers fill the next cells of the table in storage
// order; its parent states are read and not used.
int QNL_kiFormat::ReadTable(int node) {
    ConsumeToken();
    int result = Expect(PUNCTUATOR, ":");
    if (result == 0) result = Expect(PUNCTUATOR, "{");
    if (result != 0) return result;
    QNL_nodeDefinition* definition = network->GetNode(node)->GetDefinition();
    const int k = definition->GetNumberOfOutcomes();
    QNL_doubleArray values;
    if ((result = definition->GetDefinition(values)) != 0) return result;
    int cursor = 0;
    bool overrun = false;
    std::vector<int> configuration;
    std::vector<double> numbers;
    while (!AtBlockEnd()) {
        const std::size_t before = GetRemainingInput();
        if (ReadRow(configuration, numbers) != 0) {
            if (SkipStatement() == 0 && NextIs(*this, ";")) ConsumeToken();
            if (GetRemainingInput() == before && !AtBlockEnd()) ConsumeToken();
            continue;
        }
        if (static_cast<int>(numbers.size()) != k) {
            ReportError(-2, "ERROR: Wrong number of Probabilities");
        } else if (cursor + k > values.GetCount()) {
            if (!overrun) ReportNode(node, "Probabilities beyond the end of the table");
            overrun = true;
        } else {
            std::copy(numbers.begin(), numbers.end(), values.Items() + cursor);
            cursor += k;
        }
    }
    ReadBlockEnd();
    if (cursor < values.GetCount()) ReportNode(node, "Probabilities missing");
    quarn::detail::ClearRoundOff(values.Items(), values.GetCount());
    return ReportError(definition->SetDefinition(values), "ERROR: Couldn't set probabilities");
}

// "FUNCTION" ":" text ";" leak ";" rows, text ";" "predAbsentStates" ":" "{" entries "}" ";"
// Each row is the next column of the parent its first integer names; an entry's first integer
// in braces is the parent's absent state, which takes the distinguished place. The node's own
// states come in the reverse order of the library's.
int QNL_kiFormat::ReadFunction(int node) {
    auto* noisy = dynamic_cast<QNL_noisyMAX*>(network->GetNode(node)->GetDefinition());
    if (noisy == nullptr) return -2;
    const int k = noisy->GetNumberOfOutcomes();
    const int blocks = noisy->GetNumberOfBlocks();
    std::vector<std::vector<std::vector<double>>> rows(static_cast<std::size_t>(blocks));
    std::vector<double> leak;
    std::vector<int> absent;
    std::vector<int> configuration;
    std::vector<double> numbers;
    ConsumeToken();
    int result = Expect(PUNCTUATOR, ":");
    if (result == 0) result = SkipToSemicolon();
    if (result == 0) result = ReadNumbers(leak);
    if (result == 0) result = Expect(PUNCTUATOR, ";");
    while (result == 0 && NextIsOpenParen()) {
        if ((result = ReadRow(configuration, numbers)) != 0) break;
        const int parent = configuration.empty() ? -1 : configuration[0];
        if (parent < 0 || parent >= blocks) {
            ReportNode(node, "Row for no parent");
        } else if (static_cast<int>(numbers.size()) != k) {
            ReportError(-2, "ERROR: Wrong number of Probabilities");
        } else if (static_cast<int>(rows[parent].size()) >= noisy->GetBlockSize(parent)) {
            ReportNode(node, "More rows than parent states");
        } else {
            rows[parent].push_back(numbers);
        }
    }
    if (result == 0) result = SkipToSemicolon();
    if (result == 0) result = ExpectWord("predAbsentStates");
    if (result == 0) result = Expect(PUNCTUATOR, ":");
    if (result == 0) result = Expect(PUNCTUATOR, "{");
    while (result == 0 && !AtBlockEnd()) {
        int ignored = 0;
        QNL_intArray states;
        result = ExpectWord("predIndex");
        if (result == 0) result = Expect(PUNCTUATOR, ":");
        if (result == 0 && ReadInteger(&ignored) != 0) result = Expect(INTEGER);
        if (result == 0) result = Expect(PUNCTUATOR, ";");
        if (result == 0) result = ExpectWord("predAbsentStates");
        if (result == 0) result = Expect(PUNCTUATOR, ":");
        if (result == 0) result = Expect(PUNCTUATOR, "{");
        while (result == 0 && NextIsInteger()) {
            int state = 0;
            ReadInteger(&state);
            states.Add(state);
            if (NextIsComma()) ConsumeToken();
        }
        if (result == 0) result = Expect(PUNCTUATOR, "}");
        if (result == 0) result = Expect(PUNCTUATOR, ";");
        if (result == 0 && states.GetCount() > 0) absent.push_back(states[0]);
    }
    if (result == 0) result = ReadBlockEnd();
    // The rest of a statement that broke off is passed over; what was read is still used.
    if (result != 0)
        while (SkipStatement() == 0 && NextIs(*this, ";"))
            ConsumeToken();

    QNL_Dmatrix params(*noisy->GetParameters());
    double* cells = params.GetItems().Items();
    bool missing = false;
    for (int b = 0; b < blocks; ++b) {
        const auto& given = rows[static_cast<std::size_t>(b)];
        missing = missing || static_cast<int>(given.size()) < noisy->GetBlockSize(b);
        for (std::size_t s = 0; s < given.size(); ++s)
            std::copy(given[s].begin(), given[s].end(),
                      cells + (static_cast<std::size_t>(noisy->ColumnOffset(b)) + s) * k);
    }
    if (static_cast<int>(leak.size()) == k)
        std::copy(leak.begin(), leak.end(),
                  cells + static_cast<std::size_t>(noisy->ColumnOffset(blocks)) * k);
    else if (!leak.empty())
        ReportError(-2, "ERROR: Wrong number of Probabilities");
    if (missing) ReportNode(node, "Probabilities missing");
    quarn::detail::ClearRoundOff(cells, params.GetSize());
    ReportError(noisy->SetDefinition(params), "ERROR: Couldn't set probabilities");
    for (int b = 0; b < blocks && b < static_cast<int>(absent.size()); ++b) {
        const int m = noisy->GetBlockSize(b);
        const int a = absent[static_cast<std::size_t>(b)];
        if (a < 0 || a >= m) {
            ReportNode(node, "Absent state " + std::to_string(a) + " out of range");
            continue;
        }
        QNL_intArray order(*noisy->GetParentOutcomeStrengths(b));
        order[a] = m - 1;
        order[m - 1] = a;
        ReportError(noisy->ApplyParentStrengthOrder(b, order),
                    "ERROR: Couldn't set the absent state");
    }
    QNL_intArray reversed;
    for (int i = k - 1; i >= 0; --i)
        reversed.Add(i);
    ReportError(noisy->ReorderOutcomes(reversed), "ERROR: Couldn't reorder the states");
    return result;
}

// ---------------------------------------------------------------------------------------
// After the read

void QNL_kiFormat::RoundAndTrim() {
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        QNL_node* node = network->GetNode(h);
        QNL_nodeDefinition* definition = node->GetDefinition();
        if (auto* ci = dynamic_cast<QNL_ciDefinition*>(definition)) {
            RoundCells(ci->GetParameters()->GetItems());
            ci->MarkStale();
        } else {
            QNL_Dmatrix* table = nullptr;
            if (definition->GetDefinition(&table) == 0 && table != nullptr)
                RoundCells(table->GetItems());
        }
        QNL_header& header = node->GetInfo()->header;
        if (header.GetName() != nullptr) header.SetName(Trimmed(header.GetName()).c_str());
    }
    network->TablesEdited();
}
