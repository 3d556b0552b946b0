#include "formats/foreign_format_support.h"

#include "definitions/ci_definition.h"
#include "definitions/cpt.h"
#include "definitions/logic_gates.h"
#include "definitions/noisy_adder.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"
#include "numerics/number_text.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace quarn::detail {

int ForeignNodeNames::Find(const std::string& raw) const {
    auto found = repaired.find(raw);
    if (found != repaired.end()) return found->second;
    return network->FindNode(raw.c_str());
}

int ForeignNodeNames::Create(int type, const std::string& raw) {
    if (IsValidId(raw.c_str())) return network->AddNode(type, raw.c_str());
    if (repaired.count(raw) != 0) return -2;
    std::string base = raw;
    RepairId(base);
    if (base.empty()) base = "x";
    std::string id = base;
    for (long long suffix = 2; network->IsIdUsed(id.c_str(), -1) == 1; ++suffix)
        id = base + std::to_string(suffix);
    const int node = network->AddNode(type, id.c_str());
    if (node < 0) return node;
    repaired[raw] = node;
    network->GetNode(node)->GetInfo()->header.SetName(raw.c_str());
    return node;
}

void ForeignNodeNames::Forget(int handle) {
    for (auto it = repaired.begin(); it != repaired.end();) {
        if (it->second == handle) {
            it = repaired.erase(it);
        } else {
            ++it;
        }
    }
}

int SetOutcomesFromNames(QNL_nodeDefinition* definition, const QNL_stringArray& names) {
    if (definition == nullptr) return -2;
    QNL_idArray ids(false);
    int result = ids.QNL_stringArray::Assign(names);
    if (result == 0) result = ids.MakeAllIdsValid();
    return result != 0 ? result : definition->SetNumberOfOutcomes(ids);
}

void ClearRoundOff(double* values, int count) {
    constexpr double roundOff = 1.0 - QNL_cpt::MIN_COLUMN_SUM;
    for (int i = 0; i < count; ++i)
        if (values[i] < 0.0 && values[i] >= -roundOff) values[i] = 0.0;
}

bool TableShape(QNL_network* network, int node, std::vector<int>& sizes, QNL_doubleArray& values) {
    sizes.clear();
    const QNL_node* n = network->GetNode(node);
    if (n == nullptr || n->GetDefinition() == nullptr) return false;
    const QNL_intArray& parents = network->GetParents(node);
    for (int i = 0; i < parents.GetCount(); ++i) {
        const QNL_node* parent = network->GetNode(parents[i]);
        if (parent == nullptr || !QNL_IsTableParentOf(n->GetType(), parent->GetType())) continue;
        sizes.push_back(parent->GetDefinition()->GetNumberOfOutcomes());
    }
    QNL_nodeDefinition* definition = n->GetDefinition();
    sizes.push_back(n->GetType() == QNL_TYPE_TABLE ? 1 : definition->GetNumberOfOutcomes());
    if (definition->GetDefinition(values) != 0) return false;
    long long cells = 1;
    for (int size : sizes) {
        if (size < 1) return false;
        cells *= size;
        if (cells > INT_MAX) return false;
    }
    return cells == values.GetCount();
}

bool AllFinite(const QNL_doubleArray& values) {
    for (int i = 0; i < values.GetCount(); ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

namespace {

bool FiniteItems(const double* items, std::size_t count) {
    return std::all_of(items, items + count, [](double v) { return std::isfinite(v); });
}

bool FiniteDefinitionValues(const QNL_nodeDefinition& definition) {
    QNL_doubleArray values;
    return definition.GetDefinition(values) != 0 || AllFinite(values);
}

// The gate's own numbers, as its writers write them; true for a definition that is no gate.
bool FiniteGateParameters(const QNL_nodeDefinition& definition) {
    switch (definition.GetType()) {
    case QNL_TYPE_NOISY_MAX:
    case QNL_TYPE_NOISY_ADDER: {
        const QNL_doubleArray& parameters =
            static_cast<const QNL_ciDefinition&>(definition).GetParameters().GetItems();
        if (!FiniteItems(parameters.Items(), static_cast<std::size_t>(parameters.GetSize())))
            return false;
        if (definition.GetType() == QNL_TYPE_NOISY_MAX) return true;
        const std::vector<double>& weights =
            static_cast<const QNL_noisyAdder&>(definition).GetWeights();
        return FiniteItems(weights.data(), weights.size());
    }
    case QNL_TYPE_CAST: {
        const auto& cast = static_cast<const QNL_cast&>(definition);
        return std::isfinite(cast.GetBaseline()) && AllFinite(cast.GetPositiveWeights()) &&
               AllFinite(cast.GetNegativeWeights());
    }
    case QNL_TYPE_DEMORGAN: {
        const auto& demorgan = static_cast<const QNL_demorgan&>(definition);
        return std::isfinite(demorgan.GetPriorBelief()) && AllFinite(demorgan.GetParentWeights());
    }
    default:
        return true;
    }
}

bool IsGate(int type) {
    return type == QNL_TYPE_NOISY_MAX || type == QNL_TYPE_NOISY_ADDER || type == QNL_TYPE_CAST ||
           type == QNL_TYPE_DEMORGAN;
}

} // namespace

bool HoldsFiniteNumbers(const QNL_node* node, unsigned kinds) {
    if (node == nullptr || node->GetDefinition() == nullptr) return true;
    const QNL_nodeDefinition& definition = *node->GetDefinition();
    const bool gate = IsGate(definition.GetType());
    if ((kinds & GATE_NUMBERS) != 0 && gate && !FiniteGateParameters(definition)) return false;
    if (((kinds & DEFINITION_NUMBERS) != 0 || ((kinds & GATE_NUMBERS) != 0 && gate)) &&
        !FiniteDefinitionValues(definition))
        return false;
    const QNL_nodeCost* cost = node->GetCost();
    if ((kinds & COST_NUMBERS) != 0 && cost != nullptr) {
        const QNL_doubleArray& costs = cost->GetCosts().GetItems();
        if (!FiniteItems(costs.Items(), static_cast<std::size_t>(costs.GetSize()))) return false;
    }
    return true;
}

long long CellsWithParents(QNL_network* network, int child, const std::vector<int>& parents,
                           int layer) {
    const QNL_node* node = network->GetNode(child);
    if (node == nullptr || node->GetDefinition() == nullptr) return 0;
    const int type = node->GetType();
    if (layer == 0 && type == QNL_TYPE_LIST) return 0;
    long long cells = layer == 0 && type != QNL_TYPE_TABLE
                          ? std::max(1, node->GetDefinition()->GetNumberOfOutcomes())
                          : 1;
    for (int h : parents) {
        const QNL_node* parent = network->GetNode(h);
        if (parent == nullptr || parent->GetDefinition() == nullptr) continue;
        if (layer == 0 && !QNL_IsTableParentType(parent->GetType())) continue;
        cells *= std::max(1, parent->GetDefinition()->GetNumberOfOutcomes());
        if (cells > MAX_READ_TABLE_CELLS) return MAX_READ_TABLE_CELLS + 1;
    }
    return cells;
}

std::string TooLargeTableMessage(QNL_network* network, int child) {
    const QNL_node* node = network->GetNode(child);
    const char* id = node != nullptr ? node->GetId() : nullptr;
    return "Matrix too large: the table of node '" + std::string(id != nullptr ? id : "") +
           "' would hold more than " + std::to_string(MAX_READ_TABLE_CELLS) + " cells";
}

int FormatOutOfMemory() {
    return QNL_errorHandler::Instance().LogError(-42);
}

// ---------------------------------------------------------------------------------------
// Reading

int ReadBareStringList(QNL_textParser& parser, QNL_stringArray& list) {
    if (!list.IsValid()) return -567;
    int result = parser.Expect(QNL_textParser::PUNCTUATOR, "(");
    if (result != 0) return result;
    while (parser.NextIsString()) {
        parser.ConsumeToken();
        result = list.Add(parser.GetTokenText().c_str());
        if (result < 0) return result;
    }
    return parser.Expect(QNL_textParser::PUNCTUATOR, ")");
}

int ReadBareRealList(QNL_textParser& parser, QNL_doubleArray& list) {
    int result = parser.Expect(QNL_textParser::PUNCTUATOR, "(");
    if (result != 0) return result;
    while (parser.NextIsNumber()) {
        double value = 0.0;
        result = parser.ReadReal(&value);
        if (result == 0) result = list.Add(value);
        if (result != 0) return result;
    }
    return parser.Expect(QNL_textParser::PUNCTUATOR, ")");
}

bool NextIsNodeName(QNL_textParser& parser, bool realNames) {
    if (parser.PeekToken() != 0) return false;
    const int kind = parser.GetTokenKind();
    return kind == QNL_textParser::IDENTIFIER || kind == QNL_textParser::INTEGER ||
           (realNames && kind == QNL_textParser::REAL);
}

int ReadTableChild(QNL_textParser& parser, const ForeignNodeNames& names, bool realNames) {
    if (!NextIsNodeName(parser, realNames)) return parser.Expect(QNL_textParser::IDENTIFIER);
    const std::string child = parser.GetTokenText();
    parser.ConsumeToken();
    const int node = names.Find(child);
    if (node < 0)
        return parser.ReportError(node, ("ERROR: Node (\"" + child + "\") not found").c_str());
    return node;
}

void ReadParentNames(QNL_textParser& parser, const ForeignNodeNames& names, bool realNames,
                     std::vector<std::string>& parentNames, std::vector<int>& parents) {
    parentNames.clear();
    parents.clear();
    while (NextIsNodeName(parser, realNames)) {
        parentNames.push_back(parser.GetTokenText());
        parser.ConsumeToken();
        parents.push_back(names.Find(parentNames.back()));
    }
}

bool AddTableArcs(QNL_textParser& parser, int child, const std::vector<std::string>& parentNames,
                  const std::vector<int>& parents) {
    QNL_network* network = parser.GetNetwork();
    if (CellsWithParents(network, child, parents, 0) > MAX_READ_TABLE_CELLS) {
        parser.ReportError(-42, ("ERROR: " + TooLargeTableMessage(network, child)).c_str());
        return false;
    }
    for (std::size_t i = 0; i < parents.size(); ++i) {
        const int added = parents[i] < 0 ? parents[i] : network->AddArc(parents[i], child, 0);
        if (added != 0)
            parser.ReportError(
                added,
                ("ERROR: Couldn't add arc from parent node (\"" + parentNames[i] + "\")").c_str());
    }
    return true;
}

void ReadTableParents(QNL_textParser& parser, const ForeignNodeNames& names, int child,
                      bool realNames) {
    std::vector<std::string> parentNames;
    std::vector<int> parents;
    ReadParentNames(parser, names, realNames, parentNames, parents);
    AddTableArcs(parser, child, parentNames, parents);
}

// ---------------------------------------------------------------------------------------
// Writing

int WriteQuotedList(QNL_textParser& parser, const QNL_stringArray& list, bool all) {
    const int n = all ? list.GetSize() : list.GetCount();
    int result = parser.GetOutputFile().Write("(");
    for (int i = 0; i < n && result == 0; ++i) {
        if (i > 0) result = parser.GetOutputFile().Write("  ");
        if (result == 0) result = parser.WriteQuotedText(list.GetString(i), true);
    }
    return result != 0 ? result : parser.GetOutputFile().Write(")");
}

namespace {

// The list's items, each as `text` spells it, between parentheses with one blank between.
template <typename List, typename Text>
int WriteBlankSeparated(QNL_textParser& parser, const List& list, bool all, Text text) {
    const int n = all ? list.GetSize() : list.GetCount();
    try {
        std::string line = "(";
        for (int i = 0; i < n; ++i) {
            if (i > 0) line += ' ';
            line += text(list[i]);
        }
        line += ')';
        return parser.GetOutputFile().Write(line);
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
}

} // namespace

int WriteBlankSeparatedList(QNL_textParser& parser, const QNL_doubleArray& list, bool all) {
    return WriteBlankSeparated(parser, list, all, [](double v) { return FormatNumber(v); });
}

int WriteBlankSeparatedList(QNL_textParser& parser, const QNL_intArray& list, bool all) {
    return WriteBlankSeparated(parser, list, all, [](int v) { return std::to_string(v); });
}

int WriteSeparatedProperty(QNL_textParser& parser, const char* name, const char* separator,
                           const char* value, bool quoted, bool quotedEscaped, bool escaped) {
    if (name == nullptr || value == nullptr) return 0;
    int result = parser.WriteLine(name);
    if (result == 0) result = parser.GetOutputFile().Write(separator);
    if (result == 0)
        result = quoted ? parser.WriteQuotedText(value, quotedEscaped)
                        : parser.WriteText(value, escaped);
    return result != 0 ? result : parser.GetOutputFile().Write(";\n");
}

int CheckWritable(QNL_textParser& parser, const char* refusal, const char* tool) {
    if (!parser.HasNoMauNodes()) return QNL_errorHandler::Instance().LogError(-2, refusal);
    QNL_network* network = parser.GetNetwork();
    std::vector<int> sizes;
    QNL_doubleArray values;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_node* node = network->GetNode(h);
        const int type = node->GetType();
        const char* id = node->GetId() != nullptr ? node->GetId() : UNNAMED_NODE;
        if (type != QNL_TYPE_CPT && type != QNL_TYPE_TRUTHTABLE && type != QNL_TYPE_NOISY_MAX &&
            type != QNL_TYPE_NOISY_ADDER && type != QNL_TYPE_LIST && type != QNL_TYPE_TABLE) {
            std::string message =
                "ERROR: '" + std::string(id) + "' : Node type not supported by " + tool;
            return QNL_errorHandler::Instance().LogError(-2, message);
        }
        if (type != QNL_TYPE_LIST &&
            (!TableShape(network, h, sizes, values) || !AllFinite(values) ||
             !HoldsFiniteNumbers(node, GATE_NUMBERS))) {
            std::string message = "ERROR: '" + std::string(id) + "' : Node table cannot be written";
            return QNL_errorHandler::Instance().LogError(-2, message);
        }
    }
    return 0;
}

} // namespace quarn::detail
