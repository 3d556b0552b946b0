#include "formats/xml/xml_network_reader.h"

#include "definitions/cpt.h"
#include "definitions/equation.h"
#include "definitions/extra_definition.h"
#include "definitions/node_value.h"
#include "definitions/table.h"
#include "definitions/truth_table.h"
#include "equations/expr_parser.h"
#include "formats/foreign_format_support.h"
#include "formats/xml/xml_extension_reader.h"
#include "model/case_library.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/parameter_blocks.h"
#include "model/string_array.h"
#include "numerics/number_text.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

namespace quarn::detail {
namespace {

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// Logs only the first problem of a node: later steps of the same element still run, as
// they would for a partial network, but their consequences are not reported again.
void FailOnce(QNL_xmlReader& reader, const std::string& message) {
    if (!reader.HasFailed()) reader.Fail(message);
}

bool ToDoubleArray(const std::vector<double>& values, QNL_doubleArray& out) {
    if (values.size() > static_cast<std::size_t>(INT_MAX)) return false;
    if (out.SetSize(static_cast<int>(values.size())) != 0) return false;
    std::copy(values.begin(), values.end(), out.Items());
    return true;
}

bool ToStringArray(const std::vector<std::string>& texts, QNL_stringArray& out) {
    for (const std::string& text : texts)
        if (out.Add(text.c_str()) != 0) return false;
    return true;
}

int DiagnosisTypeOf(const char* word) {
    if (std::strcmp(word, "target") == 0) return QNL_extraDefinition::TARGET;
    if (std::strcmp(word, "observation") == 0) return QNL_extraDefinition::OBSERVATION;
    if (std::strcmp(word, "auxiliary") == 0) return QNL_extraDefinition::AUXILIARY;
    return -1;
}

int DynamicTypeOf(const char* word) {
    static const char* const words[] = {"normal", "anchor", "terminal", "plate"};
    for (int i = 0; i < 4; ++i)
        if (std::strcmp(word, words[i]) == 0) return i;
    return -1;
}

} // namespace
} // namespace quarn::detail

namespace detail = quarn::detail;
using Flags = QNL_xmlElementHandler;
using detail::FailOnce;
using detail::Quoted;

QNL_xmlNetworkReader::QNL_xmlNetworkReader(QNL_network* network) : network(network) {}

QNL_xmlNetworkReader::~QNL_xmlNetworkReader() = default;

bool QNL_xmlNetworkReader::Read(const char* path, QNL_network* network, int extensionWord) {
    if (network == nullptr) {
        QNL_errorHandler::Instance().LogError(-2, "No network to read into");
        return false;
    }
    try {
        QNL_xmlNetworkReader reader(network);
        // Declared after the reader so that it goes first: the reader's schema points to
        // the extension's definitions but never follows those pointers when destroyed.
        std::unique_ptr<QNL_xmlExtensionReader> extension;
        if (extensionWord == 0) extension = std::make_unique<QNL_xmlExtensionReader>(&reader);
        reader.BuildSchema(extension != nullptr ? extension->GetRootDefinition() : nullptr);
        network->SetNumberOfSamples(1000);
        QNL_xmlErrorSink sink(path != nullptr ? path : "");
        bool result = reader.ReadFile(path, reader.root, &sink);
        if (result) sink.Finish();
        return result;
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        return false;
    }
}

int QNL_xmlNetworkReader::FindNodeHandle(const std::string& id) const {
    auto found = nodeHandles.find(id);
    return found == nodeHandles.end() ? -1 : found->second;
}

// ---- schema ----

QNL_xmlElementHandler*
QNL_xmlNetworkReader::Element(const char* name, int strictness,
                              void (QNL_xmlNetworkReader::*start)(QNL_xmlReader&),
                              void (QNL_xmlNetworkReader::*end)(QNL_xmlReader&),
                              void (QNL_xmlNetworkReader::*token)(QNL_xmlReader&)) {
    using Callbacks = detail::XmlMemberCallbacks<QNL_xmlNetworkReader>;
    return CreateElement(std::make_unique<Callbacks>(this, start, end, token), name, strictness);
}

QNL_xmlElementHandler*
QNL_xmlNetworkReader::NodeElement(const char* name,
                                  void (QNL_xmlNetworkReader::*start)(QNL_xmlReader&),
                                  QNL_xmlElementHandler* payload) {
    QNL_xmlElementHandler* element =
        Element(name, Flags::INHERIT, start, &QNL_xmlNetworkReader::NodeEnd);
    for (const char* attribute : {"target", "diagtype", "dynamic", "ranked", "mandatory"})
        element->AddAttribute(attribute, 0);
    element->AddAttribute("id", Flags::REQUIRED);
    if (payload != nullptr) element->AddChild(payload, Flags::REQUIRED);
    return element;
}

void QNL_xmlNetworkReader::BuildSchema(QNL_xmlElementHandler* extensionRoot) {
    using R = QNL_xmlNetworkReader;
    root = Element("quarn", Flags::LENIENT, &R::RootStart);
    root->AddAttribute("version", Flags::REQUIRED);
    root->AddAttribute("id", Flags::REQUIRED);
    root->AddAttribute("numsamples", 0);

    QNL_xmlElementHandler* properties = Element("properties", Flags::INHERIT, nullptr);
    QNL_xmlElementHandler* networkProperty =
        Element("property", Flags::INHERIT, &R::PropertyStart, &R::NetworkPropertyEnd);
    networkProperty->AddAttribute("id", Flags::REQUIRED);
    properties->AddChild(networkProperty, Flags::MULTIPLE);
    root->AddChild(properties, 0);

    QNL_xmlElementHandler* algparams = Element("algparams", Flags::INHERIT, nullptr);
    QNL_xmlElementHandler* epis = Element("epis", Flags::INHERIT, &R::EpisStart);
    for (const char* attribute :
         {"proplen", "numstates1", "numstates2", "numstates3", "eps1", "eps2", "eps3", "eps4"})
        epis->AddAttribute(attribute, Flags::REQUIRED);
    algparams->AddChild(epis, 0);
    root->AddChild(algparams, 0);

    QNL_xmlElementHandler* parents =
        Element("parents", Flags::INHERIT, nullptr, nullptr, &R::ParentsToken);
    QNL_xmlElementHandler* state = Element("state", Flags::INHERIT, &R::StateStart);
    state->AddAttribute("id", Flags::REQUIRED);
    for (const char* attribute : {"label", "default", "fault"})
        state->AddAttribute(attribute, 0);
    QNL_xmlElementHandler* nodeProperty =
        Element("property", Flags::INHERIT, &R::PropertyStart, &R::NodePropertyEnd);
    nodeProperty->AddAttribute("id", Flags::REQUIRED);
    QNL_xmlElementHandler* probabilities =
        Element("probabilities", Flags::INHERIT, &R::ListStart, nullptr, &R::DoubleToken);
    QNL_xmlElementHandler* resultingStates =
        Element("resultingstates", Flags::INHERIT, &R::ListStart, nullptr, &R::ResultingStateToken);
    QNL_xmlElementHandler* utilities =
        Element("utilities", Flags::INHERIT, &R::ListStart, nullptr, &R::DoubleToken);

    QNL_xmlElementHandler* equationDefinition = Element(
        "definition", Flags::INHERIT, &R::EquationDefinitionStart, &R::EquationDefinitionEnd);
    equationDefinition->AddAttribute("lower", 0);
    equationDefinition->AddAttribute("upper", 0);

    QNL_xmlElementHandler* nodes = Element("nodes", Flags::INHERIT, nullptr);
    struct Kind {
        QNL_xmlElementHandler* element;
        bool hasOutcomes;
    };
    const Kind kinds[] = {
        {NodeElement("cpt", &R::CptStart, probabilities), true},
        {NodeElement("deterministic", &R::DeterministicStart, resultingStates), true},
        {NodeElement("decision", &R::DecisionStart, nullptr), true},
        {NodeElement("utility", &R::UtilityStart, utilities), false},
        {NodeElement("equation", &R::EquationStart, equationDefinition), false},
    };
    for (const Kind& kind : kinds) {
        kind.element->AddChild(parents, 0);
        kind.element->AddChild(nodeProperty, Flags::MULTIPLE);
        if (kind.hasOutcomes) kind.element->AddChild(state, Flags::REQUIRED | Flags::MULTIPLE);
        nodes->AddChild(kind.element, Flags::MULTIPLE);
    }
    BuildGateSchema(nodes, parents, state, nodeProperty);
    BuildMauSchema(nodes, parents, nodeProperty);
    root->AddChild(nodes, 0);

    QNL_xmlElementHandler* observationCost = Element("observationcost", Flags::INHERIT, nullptr);
    QNL_xmlElementHandler* costNode =
        Element("node", Flags::INHERIT, &R::CostNodeStart, &R::CostNodeEnd);
    costNode->AddAttribute("id", Flags::REQUIRED);
    costNode->AddChild(parents, 0);
    costNode->AddChild(Element("cost", Flags::INHERIT, &R::ListStart, nullptr, &R::CostToken),
                       Flags::REQUIRED);
    observationCost->AddChild(costNode, Flags::MULTIPLE);
    root->AddChild(observationCost, 0);

    BuildDynamicSchema(parents);

    QNL_xmlElementHandler* cases = Element("cases", Flags::INHERIT, nullptr);
    QNL_xmlElementHandler* oneCase = Element("case", Flags::INHERIT, &R::CaseStart, &R::CaseEnd);
    oneCase->AddAttribute("name", Flags::REQUIRED);
    for (const char* attribute : {"category", "created", "modified"})
        oneCase->AddAttribute(attribute, 0);
    oneCase->AddChild(Element("description", Flags::INHERIT, nullptr, &R::DescriptionEnd), 0);
    QNL_xmlElementHandler* evidence = Element("evidence", Flags::INHERIT, &R::EvidenceStart);
    evidence->AddAttribute("node", Flags::REQUIRED);
    evidence->AddAttribute("slice", 0);
    evidence->AddAttribute("state", Flags::REQUIRED);
    oneCase->AddChild(evidence, Flags::MULTIPLE);
    QNL_xmlElementHandler* target = Element("target", Flags::INHERIT, &R::TargetStart);
    target->AddAttribute("node", Flags::REQUIRED);
    oneCase->AddChild(target, Flags::MULTIPLE);
    cases->AddChild(oneCase, Flags::MULTIPLE);
    root->AddChild(cases, 0);

    QNL_xmlElementHandler* extensions = Element("extensions", Flags::LENIENT, nullptr);
    if (extensionRoot != nullptr) extensions->AddChild(extensionRoot, Flags::REQUIRED);
    root->AddChild(extensions, 0);
}

// ---- network ----

void QNL_xmlNetworkReader::RootStart(QNL_xmlReader& reader) {
    std::string version, id;
    reader.GetStringAttribute("version", version);
    if (!reader.CheckVersion(version, "1.0")) return;
    reader.GetStringAttribute("id", id);
    QNL_header* header = network->GetHeader();
    if (header == nullptr || header->SetId(id.c_str()) != 0) {
        reader.Fail("Invalid network identifier: " + Quoted(id));
        return;
    }
    int samples = 1000;
    if (!reader.GetIntAttribute("numsamples", samples, 1000)) return;
    if (network->SetNumberOfSamples(samples) != 0)
        reader.Fail("Invalid number of samples: " + std::to_string(samples));
}

void QNL_xmlNetworkReader::PropertyStart(QNL_xmlReader& reader) {
    reader.GetStringAttribute("id", propertyId);
}

void QNL_xmlNetworkReader::NetworkPropertyEnd(QNL_xmlReader& reader) {
    std::string value;
    reader.GetUnescapedText(value);
    if (network->GetUserProperties().AddProperty(propertyId.c_str(), value.c_str()) != 0)
        reader.Fail("Can't add networkproperty: " + Quoted(propertyId));
}

void QNL_xmlNetworkReader::NodePropertyEnd(QNL_xmlReader& reader) {
    QNL_node* node = network->GetNode(currentNode);
    if (node == nullptr) return;
    std::string value;
    reader.GetUnescapedText(value);
    if (node->GetInfo()->properties.AddProperty(propertyId.c_str(), value.c_str()) != 0)
        reader.Fail("Can't add node property: " + Quoted(propertyId));
}

void QNL_xmlNetworkReader::EpisStart(QNL_xmlReader& reader) {
    QNL_episParams params;
    if (!reader.GetIntAttribute("proplen", params.proplen, 0) ||
        !reader.GetIntAttribute("numstates1", params.numstates1, 0) ||
        !reader.GetIntAttribute("numstates2", params.numstates2, 0) ||
        !reader.GetIntAttribute("numstates3", params.numstates3, 0) ||
        !reader.GetDoubleAttribute("eps1", params.eps1, 0.0) ||
        !reader.GetDoubleAttribute("eps2", params.eps2, 0.0) ||
        !reader.GetDoubleAttribute("eps3", params.eps3, 0.0) ||
        !reader.GetDoubleAttribute("eps4", params.eps4, 0.0))
        return;
    if (network->SetEpisParams(params) != 0) reader.Fail("Invalid EPIS parameters");
}

// ---- nodes ----

void QNL_xmlNetworkReader::CptStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_CPT);
}

void QNL_xmlNetworkReader::DeterministicStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_TRUTHTABLE);
}

void QNL_xmlNetworkReader::DecisionStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_LIST);
}

void QNL_xmlNetworkReader::UtilityStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_TABLE);
}

void QNL_xmlNetworkReader::EquationStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_EQUATION);
}

void QNL_xmlNetworkReader::EquationDefinitionStart(QNL_xmlReader& reader) {
    scratch.payloadMet = true;
    if (reader.GetDoubleAttribute("lower", scratch.lower, -1.0))
        reader.GetDoubleAttribute("upper", scratch.upper, 1.0);
}

void QNL_xmlNetworkReader::EquationDefinitionEnd(QNL_xmlReader& reader) {
    std::string message;
    std::unique_ptr<QNL_exprNode> tree(ParseExpression(reader.GetText(), nullptr, &message));
    if (tree == nullptr) {
        reader.Fail("Invalid expression: " + message);
        return;
    }
    scratch.expressions.push_back(reader.GetText());
}

// The arcs are in place by now, as the file lists them; the equation rewires them only where
// it names other nodes.
void QNL_xmlNetworkReader::SetEquation(QNL_xmlReader& reader, QNL_nodeDefinition* definition) {
    auto* equation = dynamic_cast<QNL_equation*>(definition);
    if (equation == nullptr || scratch.expressions.empty()) return;
    if (equation->SetBounds(scratch.lower, scratch.upper) != 0) {
        FailOnce(reader, "Invalid equation range");
        return;
    }
    std::string error;
    if (equation->SetEquation(scratch.expressions[0], nullptr, &error) != 0)
        FailOnce(reader, "SetEquation failed: " + Quoted(error));
}

void QNL_xmlNetworkReader::NodeStart(QNL_xmlReader& reader, int type) {
    currentNode = -1;
    std::string id;
    reader.GetStringAttribute("id", id);
    bool target = false, ranked = false, mandatory = false;
    if (!reader.GetBoolAttribute("target", target, false) ||
        !reader.GetBoolAttribute("ranked", ranked, false) ||
        !reader.GetBoolAttribute("mandatory", mandatory, false))
        return;
    int diagnosisType = QNL_extraDefinition::AUXILIARY;
    if (const char* word = reader.FindAttribute("diagtype")) {
        diagnosisType = detail::DiagnosisTypeOf(word);
        if (diagnosisType < 0) {
            reader.Fail(std::string("Unknown diagnosis node type: ") + Quoted(word));
            return;
        }
    }
    int dynamicType = 0;
    std::string dynamicWord;
    if (const char* word = reader.FindAttribute("dynamic")) {
        dynamicWord = word;
        dynamicType = detail::DynamicTypeOf(word);
        if (dynamicType < 0) {
            reader.Fail("Unknown dynamic node type: " + Quoted(dynamicWord));
            return;
        }
    }
    if (nodeHandles.count(id) != 0) {
        reader.Fail("Duplicated node identifier: " + Quoted(id));
        return;
    }
    const int handle = network->AddNode(type, id.c_str());
    QNL_node* node = network->GetNode(handle);
    if (handle < 0 || node == nullptr || node->GetExtraDefinition() == nullptr) {
        reader.Fail("QUARN failed to create node: " + Quoted(id));
        return;
    }
    if (dynamicType != 0 && network->SetTemporalType(handle, dynamicType) != 0) {
        reader.Fail("QUARN failed to set dynamic node type to " + Quoted(dynamicWord) + " for " +
                    Quoted(id));
        return;
    }
    // References in the file use the file's identifier, even where the network had to
    // store another one.
    nodeHandles[id] = handle;
    if (const char* stored = node->GetId(); stored != nullptr && id != stored)
        nodeHandles.emplace(stored, handle);
    if (target) network->SetTarget(handle);
    QNL_extraDefinition* extra = node->GetExtraDefinition();
    extra->SetDiagnosisType(diagnosisType);
    extra->SetFlags(ranked, mandatory, extra->IsSetAsDefault());
    currentNode = handle;
    currentType = type;
    scratch = NodeScratch();
}

void QNL_xmlNetworkReader::NodeEnd(QNL_xmlReader& reader) {
    if (currentNode < 0) return;
    // The states go in before the arcs. A new node holds a default number of outcomes, and
    // arcs added to it first would size its table by that number: a file whose table is
    // refused as too large once its states are in could pass through a table of billions
    // of cells on the way.
    const bool hasOutcomes = currentType != QNL_TYPE_TABLE && currentType != QNL_TYPE_CAST &&
                             currentType != QNL_TYPE_DEMORGAN && currentType != QNL_TYPE_EQUATION &&
                             currentType != QNL_TYPE_MAU;
    // Without its states the element is incomplete; the framework reports the missing
    // element once this callback returns.
    const bool outcomesSet = hasOutcomes && !scratch.outcomes.empty() && SetOutcomes(reader);

    const long long cells =
        quarn::detail::CellsWithParents(network, currentNode, scratch.parents, 0);
    if (cells > quarn::detail::MAX_READ_TABLE_CELLS) {
        reader.Fail(quarn::detail::TooLargeTableMessage(network, currentNode));
        return;
    }
    // A few numbers under many parents are refused before the arcs would allocate the table.
    const bool ownParent = std::find(scratch.parents.begin(), scratch.parents.end(), currentNode) !=
                           scratch.parents.end();
    if (scratch.payloadMet && (!hasOutcomes || outcomesSet) && !ownParent) {
        const long long outcomes = std::max(1, static_cast<int>(scratch.outcomes.size()));
        if ((currentType == QNL_TYPE_CPT || currentType == QNL_TYPE_TABLE) &&
            static_cast<long long>(scratch.values.size()) != cells) {
            FailOnce(reader, currentType == QNL_TYPE_CPT ? "SetProbabilities failed"
                                                         : "SetUtilities failed");
            return;
        }
        if (currentType == QNL_TYPE_TRUTHTABLE &&
            static_cast<long long>(scratch.resultingStates.size()) != cells / outcomes) {
            FailOnce(reader, "Invalid number of resulting states: " +
                                 std::to_string(scratch.resultingStates.size()) + ", expected " +
                                 std::to_string(cells / outcomes));
            return;
        }
    }
    bool arcsFailed = false;
    for (int parent : scratch.parents)
        if (network->AddArc(parent, currentNode, 0) != 0) arcsFailed = true;
    if (arcsFailed) reader.Fail("AddArc failed");

    if (!hasOutcomes || outcomesSet)
        RunSetter(reader, network->GetNode(currentNode)->GetDefinition());
    currentNode = -1;
    scratch = NodeScratch();
}

bool QNL_xmlNetworkReader::SetOutcomes(QNL_xmlReader& reader) {
    QNL_node* node = network->GetNode(currentNode);
    QNL_nodeDefinition* definition = node->GetDefinition();
    QNL_stringArray ids;
    if (!detail::ToStringArray(scratch.outcomes, ids) || definition == nullptr ||
        definition->SetNumberOfOutcomes(ids) != 0) {
        FailOnce(reader, "SetNumberOfOutcomes failed");
        return false;
    }
    // The definition repairs identifiers it cannot take; the rest of the file refers to the
    // outcomes as written, so a repaired identifier is a failure here.
    const QNL_idArray* stored = definition->GetOutcomeIds();
    for (std::size_t i = 0; i < scratch.outcomes.size(); ++i) {
        const int index = static_cast<int>(i);
        if (stored == nullptr || stored->GetCount() != static_cast<int>(scratch.outcomes.size()) ||
            stored->GetString(index) == nullptr ||
            scratch.outcomes[i] != stored->GetString(index)) {
            FailOnce(reader, "SetNumberOfOutcomes failed");
            return false;
        }
    }
    QNL_extraDefinition* extra = node->GetExtraDefinition();
    for (std::size_t i = 0; i < scratch.labels.size(); ++i) {
        if (scratch.labels[i].empty()) continue;
        if (extra->SetOutcomeLabel(static_cast<int>(i), scratch.labels[i].c_str()) != 0) {
            FailOnce(reader, "Invalid outcome label: " + Quoted(scratch.labels[i]));
            return false;
        }
    }
    if (scratch.defaultOutcome >= 0) {
        extra->SetDefaultOutcome(scratch.defaultOutcome);
        extra->SetFlags(extra->IsRanked(), extra->IsMandatory(), 1);
    }
    for (int fault : scratch.faults)
        extra->SetFaultOutcome(fault, true);
    return true;
}

void QNL_xmlNetworkReader::RunSetter(QNL_xmlReader& reader, QNL_nodeDefinition* definition) {
    // Gate payloads are optional lists, set by their own setters.
    if (QNL_node::ValueTypeOf(currentType) == QNL_VALUE_BELIEF_VECTOR &&
        currentType != QNL_TYPE_CPT && currentType != QNL_TYPE_TRUTHTABLE) {
        RunGateSetter(reader, definition);
        return;
    }
    // A missing value list is reported by the framework after this callback.
    if (currentType == QNL_TYPE_LIST || !scratch.payloadMet) return;
    QNL_doubleArray values;
    switch (currentType) {
    case QNL_TYPE_CPT: {
        auto* cpt = dynamic_cast<QNL_cpt*>(definition);
        if (cpt == nullptr || !detail::ToDoubleArray(scratch.values, values) ||
            cpt->SetProbabilities(values) != 0)
            FailOnce(reader, "SetProbabilities failed");
        break;
    }
    case QNL_TYPE_TRUTHTABLE: {
        auto* truthTable = dynamic_cast<QNL_truthTable*>(definition);
        if (truthTable == nullptr) {
            FailOnce(reader, "SetResultingStates failed");
            break;
        }
        const std::size_t expected = static_cast<std::size_t>(truthTable->GetNumberOfColumns());
        if (scratch.resultingStates.size() != expected) {
            FailOnce(reader, "Invalid number of resulting states: " +
                                 std::to_string(scratch.resultingStates.size()) + ", expected " +
                                 std::to_string(expected));
            break;
        }
        for (const std::string& state : scratch.resultingStates) {
            if (std::find(scratch.outcomes.begin(), scratch.outcomes.end(), state) ==
                scratch.outcomes.end()) {
                FailOnce(reader, "Invalid resulting state: " + state);
                return;
            }
        }
        QNL_stringArray states;
        if (!detail::ToStringArray(scratch.resultingStates, states) ||
            truthTable->SetResultingStates(states) != 0)
            FailOnce(reader, "SetResultingStates failed");
        break;
    }
    case QNL_TYPE_EQUATION:
        SetEquation(reader, definition);
        break;
    case QNL_TYPE_MAU:
        SetMau(reader, definition);
        break;
    case QNL_TYPE_TABLE: {
        auto* table = dynamic_cast<QNL_table*>(definition);
        if (table == nullptr || !detail::ToDoubleArray(scratch.values, values) ||
            table->SetUtilities(values) != 0)
            FailOnce(reader, "SetUtilities failed");
        break;
    }
    default:
        break;
    }
}

void QNL_xmlNetworkReader::ParentsToken(QNL_xmlReader& reader) {
    if (currentNode < 0) return;
    const std::string& id = reader.GetText();
    const int parent = FindNodeHandle(id);
    if (parent < 0) {
        reader.Fail("Node parent not found: " + Quoted(id));
        return;
    }
    if (std::find(scratch.parents.begin(), scratch.parents.end(), parent) !=
        scratch.parents.end()) {
        reader.Fail("Duplicate parent: " + Quoted(id));
        return;
    }
    scratch.parents.push_back(parent);
}

void QNL_xmlNetworkReader::StateStart(QNL_xmlReader& reader) {
    if (currentNode < 0) return;
    std::string id, label;
    reader.GetStringAttribute("id", id);
    if (std::find(scratch.outcomes.begin(), scratch.outcomes.end(), id) != scratch.outcomes.end()) {
        reader.Fail("Duplicate state identifier: " + Quoted(id));
        return;
    }
    bool isDefault = false, isFault = false;
    if (!reader.GetBoolAttribute("default", isDefault, false) ||
        !reader.GetBoolAttribute("fault", isFault, false))
        return;
    const int index = static_cast<int>(scratch.outcomes.size());
    scratch.outcomes.push_back(id);
    reader.GetStringAttribute("label", label);
    scratch.labels.push_back(label);
    if (isDefault) {
        if (scratch.defaultOutcome >= 0) {
            reader.Fail("Duplicate default state attribute at state: " + Quoted(id));
            return;
        }
        scratch.defaultOutcome = index;
    }
    if (isFault) scratch.faults.push_back(index);
}

void QNL_xmlNetworkReader::ListStart(QNL_xmlReader&) {
    doubleTarget = &scratch.values;
    listPosition = 0;
    scratch.payloadMet = true;
    scratch.values.clear();
    scratch.resultingStates.clear();
}

void QNL_xmlNetworkReader::DoubleToken(QNL_xmlReader& reader) {
    ++listPosition;
    double value = 0.0;
    if (!detail::ParseXmlDouble(reader.GetText(), value) ||
        doubleTarget->size() >= static_cast<std::size_t>(INT_MAX)) {
        reader.Fail("Can't read list of doubles, failed at element " +
                    std::to_string(listPosition));
        return;
    }
    doubleTarget->push_back(value);
}

void QNL_xmlNetworkReader::CostToken(QNL_xmlReader& reader) {
    if (reader.GetText() == "n/a") {
        ++listPosition;
        scratch.values.push_back(QNL_NOT_AVAILABLE_NUMBER);
        return;
    }
    DoubleToken(reader);
}

void QNL_xmlNetworkReader::ResultingStateToken(QNL_xmlReader& reader) {
    scratch.resultingStates.push_back(reader.GetText());
}

// ---- observation costs ----

int QNL_xmlNetworkReader::ResolveNodeAttribute(QNL_xmlReader& reader, const char* attribute) {
    std::string id;
    reader.GetStringAttribute(attribute, id);
    const int handle = FindNodeHandle(id);
    if (handle < 0) reader.Fail("Invalid node identifier: " + Quoted(id));
    return handle;
}

void QNL_xmlNetworkReader::CostNodeStart(QNL_xmlReader& reader) {
    scratch = NodeScratch();
    currentNode = ResolveNodeAttribute(reader, "id");
}

void QNL_xmlNetworkReader::CostNodeEnd(QNL_xmlReader& reader) {
    if (currentNode < 0) return;
    if (quarn::detail::CellsWithParents(network, currentNode, scratch.parents, 1) >
        quarn::detail::MAX_READ_TABLE_CELLS) {
        reader.Fail(quarn::detail::TooLargeTableMessage(network, currentNode));
        return;
    }
    bool arcsFailed = false;
    for (int parent : scratch.parents)
        if (network->AddArc(parent, currentNode, 1) != 0) arcsFailed = true;
    if (arcsFailed) reader.Fail("AddArc failed");
    if (scratch.payloadMet) {
        QNL_doubleArray costs;
        QNL_nodeCost* cost = network->GetNode(currentNode)->GetCost();
        if (cost == nullptr || !detail::ToDoubleArray(scratch.values, costs) ||
            cost->SetCosts(costs) != 0)
            FailOnce(reader, "SetCosts failed");
    }
    currentNode = -1;
    scratch = NodeScratch();
}

// ---- cases ----

void QNL_xmlNetworkReader::CaseStart(QNL_xmlReader& reader) {
    std::string name, category;
    reader.GetStringAttribute("name", name);
    currentCase = network->AddCase(name.c_str());
    if (currentCase == nullptr) {
        reader.Fail("Duplicate case name: " + Quoted(name));
        return;
    }
    int created = 0, modified = 0;
    if (!reader.GetIntAttribute("created", created, 0) ||
        !reader.GetIntAttribute("modified", modified, 0))
        return;
    reader.GetStringAttribute("category", category);
    if (!category.empty() && currentCase->SetCategory(category.c_str()) != 0) {
        reader.Fail("Out of memory");
        return;
    }
    currentCase->SetCreated(created);
    currentCase->SetModified(modified);
}

void QNL_xmlNetworkReader::CaseEnd(QNL_xmlReader&) {
    currentCase = nullptr;
}

void QNL_xmlNetworkReader::DescriptionEnd(QNL_xmlReader& reader) {
    if (currentCase == nullptr) return;
    std::string text;
    reader.GetUnescapedText(text);
    if (currentCase->SetDescription(text.c_str()) != 0) reader.Fail("Out of memory");
}

void QNL_xmlNetworkReader::EvidenceStart(QNL_xmlReader& reader) {
    if (currentCase == nullptr) return;
    const int handle = ResolveNodeAttribute(reader, "node");
    if (handle < 0) return;
    std::string id, state;
    reader.GetStringAttribute("node", id);
    reader.GetStringAttribute("state", state);
    int slice = -1;
    if (!reader.GetIntAttribute("slice", slice, -1)) return;
    const std::string refusal =
        "Evidence " + Quoted(state) + " of node " + Quoted(id) + " cannot be added.";
    QNL_nodeDefinition* definition = network->GetNode(handle)->GetDefinition();
    const int type = definition != nullptr ? definition->GetType() : 0;
    if (type == QNL_TYPE_EQUATION || type == QNL_TYPE_EQUATION_SCC) {
        double value = 0.0;
        if (!detail::ParseXmlDouble(state, value) ||
            currentCase->AddEvidenceValue(handle, value) != 0)
            reader.Fail(refusal);
        return;
    }
    const QNL_idArray* outcomes = definition != nullptr ? definition->GetOutcomeIds() : nullptr;
    const int outcome = outcomes != nullptr ? outcomes->FindPosition(state.c_str()) : -1;
    if (outcome < 0) {
        reader.Fail("Invalid outcome identifier: " + Quoted(state));
        return;
    }
    const int result = slice < 0 ? currentCase->AddEvidence(handle, outcome)
                                 : currentCase->AddTemporalEvidence(handle, outcome, slice);
    if (result != 0) reader.Fail(refusal);
}

void QNL_xmlNetworkReader::TargetStart(QNL_xmlReader& reader) {
    if (currentCase == nullptr) return;
    const int handle = ResolveNodeAttribute(reader, "node");
    if (handle < 0) return;
    if (currentCase->AddTarget(handle) != 0) {
        std::string id;
        reader.GetStringAttribute("node", id);
        reader.Fail("Can't add target node: " + Quoted(id));
    }
}
