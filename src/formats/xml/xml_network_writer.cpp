#include "formats/xml/xml_network_writer.h"

#include "definitions/cpt.h"
#include "definitions/equation.h"
#include "definitions/extra_definition.h"
#include "definitions/mau.h"
#include "definitions/noisy_adder.h"
#include "definitions/table.h"
#include "definitions/truth_table.h"
#include "formats/foreign_format_support.h"
#include "formats/xml/xml_extension_writer.h"
#include "model/case_library.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/parameter_blocks.h"
#include "model/string_array.h"
#include "model/submodel.h"
#include "numerics/number_text.h"

#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

namespace quarn::detail {
namespace {

// The element of each definition type the format carries today.
const char* NodeElementName(int type) {
    switch (type) {
    case QNL_TYPE_CPT:
        return "cpt";
    case QNL_TYPE_TRUTHTABLE:
        return "deterministic";
    case QNL_TYPE_LIST:
        return "decision";
    case QNL_TYPE_TABLE:
        return "utility";
    case QNL_TYPE_NOISY_MAX:
        return "noisymax";
    case QNL_TYPE_NOISY_ADDER:
        return "noisyadder";
    case QNL_TYPE_CAST:
        return "cast";
    case QNL_TYPE_DEMORGAN:
        return "demorgan";
    case QNL_TYPE_EQUATION:
        return "equation";
    case QNL_TYPE_MAU:
        return "mau";
    default:
        return nullptr;
    }
}

bool IsValueEvidenceType(int type) {
    return type == QNL_TYPE_EQUATION || type == QNL_TYPE_EQUATION_SCC;
}

const char* OutcomeId(const QNL_node* node, int outcome) {
    const QNL_nodeDefinition* definition = node->GetDefinition();
    const QNL_idArray* ids = definition != nullptr ? definition->GetOutcomeIds() : nullptr;
    if (ids == nullptr || outcome < 0 || outcome >= ids->GetCount()) return nullptr;
    return ids->GetString(outcome);
}

// "node 'A'", or "the network" for a null identifier.
std::string OwnerText(const char* nodeId) {
    return nodeId != nullptr ? "node '" + std::string(nodeId) + "'" : "the network";
}

int CheckPropertyTexts(const QNL_userProperties& properties, const char* nodeId) {
    for (int i = 0; i < properties.GetNumberOfProperties(); ++i)
        if (int r = CheckXmlText(properties.GetValue(i), [&] {
                return "user property '" + std::string(properties.GetName(i)) + "' of " +
                       OwnerText(nodeId);
            }))
            return r;
    return 0;
}

} // namespace
} // namespace quarn::detail

namespace detail = quarn::detail;

// Identifiers hold no character XML cannot hold; every free text of the network part is
// checked here, those of the extension by its writer.
int QNL_xmlNetworkWriter::CheckTexts(const QNL_network& network) {
    // The network has no read-only accessor of its properties; nothing here changes them.
    const QNL_userProperties& properties = const_cast<QNL_network&>(network).GetUserProperties();
    if (int r = detail::CheckPropertyTexts(properties, nullptr)) return r;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_node* node = network.GetNode(h);
        if (int r = detail::CheckPropertyTexts(node->GetInfo()->properties, node->GetId()))
            return r;
        const QNL_extraDefinition* extra = node->GetExtraDefinition();
        if (extra == nullptr) continue;
        const QNL_idArray& labels = extra->GetOutcomeLabels();
        for (int i = 0; i < labels.GetCount(); ++i)
            if (int r = detail::CheckXmlText(labels.GetString(i), [&] {
                    const char* outcome = detail::OutcomeId(node, i);
                    return "the label of outcome '" + std::string(outcome ? outcome : "") +
                           "' of " + detail::OwnerText(node->GetId());
                }))
                return r;
    }
    for (int c = 0; c < network.GetNumberOfCases(); ++c) {
        const QNL_case* oneCase = network.GetCase(c);
        const std::pair<const char*, const char*> texts[] = {
            {"name", oneCase->GetName()},
            {"category", oneCase->GetCategory()},
            {"description", oneCase->GetDescription()}};
        // A lambda may not capture a structured binding, hence the pair.
        for (const auto& entry : texts) {
            const char* field = entry.first;
            if (int r = detail::CheckXmlText(entry.second, [&] {
                    return "the " + std::string(field) + " of case " + std::to_string(c);
                }))
                return r;
        }
    }
    return 0;
}

int QNL_xmlNetworkWriter::CheckNetwork(const QNL_network& network, bool withSubmodels) {
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_node* node = network.GetNode(h);
        if (node->GetType() == QNL_TYPE_EQUATION_SCC || node->GetType() == QNL_TYPE_DCHILDHPARENT ||
            (node->GetType() & QNL_TYPE_BIT_CONTINUOUS))
            return QNL_errorHandler::Instance().LogError(
                -2, std::string("ERROR: This Network cannot be saved in XML format: node '") +
                        node->GetId() + "' is of type " + node->GetDefinition()->GetTypeName() +
                        ", which the format does not carry");
        if (detail::NodeElementName(node->GetType()) == nullptr)
            return QNL_errorHandler::Instance().LogError(
                -2, "ERROR: This Network cannot be saved in XML format");
        // Tables, utilities and costs keep an infinity or a NaN as written. A gate is written
        // by its own numbers: a non-finite one leaves the node read back invalid, and a
        // non-finite cell of its table would come back as the cell those numbers give.
        if (!detail::HoldsFiniteNumbers(node, detail::GATE_NUMBERS))
            return QNL_errorHandler::Instance().LogError(
                -2, std::string("ERROR: This Network cannot be saved in XML format: node '") +
                        node->GetId() + "' holds a number that is not finite");
    }
    if (int r = CheckTemporal(network)) return r;
    if (int r = CheckTexts(network)) return r;
    if (!withSubmodels) return 0;
    if (int r = QNL_xmlExtensionWriter::CheckTexts(network)) return r;
    // A submodel is found by its identifier when read back, and the network's identifier is
    // its main submodel's: one identifier used twice would make the file unreadable.
    const QNL_submodelHandler& handler = network.GetSubmodelHandler();
    std::unordered_set<std::string> ids;
    for (int s = handler.GetFirstSubmodel(); s >= 0; s = handler.GetNextSubmodel(s)) {
        const char* id = handler.GetSubmodel(s)->header.GetId();
        if (id != nullptr && !ids.insert(id).second)
            return QNL_errorHandler::Instance().LogError(
                -2, std::string("ERROR: This Network cannot be saved in XML format: the "
                                "identifier '") +
                        id + "' names two submodels or a submodel and the network");
    }
    return 0;
}

bool QNL_xmlNetworkWriter::Write(const char* path, QNL_network* network, int extensionWord) {
    if (network == nullptr) {
        QNL_errorHandler::Instance().LogError(-2, "No network to write");
        return false;
    }
    if (CheckNetwork(*network, extensionWord == 0) != 0) return false;
    try {
        QNL_xmlNetworkWriter writer(network);
        std::unique_ptr<QNL_xmlExtensionWriter> extension;
        if (extensionWord == 0) extension = std::make_unique<QNL_xmlExtensionWriter>(network);
        if (!writer.Open(path)) return false;
        writer.WriteDocument(extension.get());
        return writer.Close();
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        return false;
    }
}

void QNL_xmlNetworkWriter::WriteDocument(const QNL_xmlExtensionWriter* extension) {
    const QNL_header* header = network->GetHeader();
    const char* id = header != nullptr ? header->GetId() : nullptr;
    AddAttribute("version", "1.0");
    AddAttribute("id", id != nullptr ? id : "");
    AddAttribute("numsamples", network->GetNumberOfSamples());
    OpenElement("quarn");

    if (network->GetUserProperties().GetNumberOfProperties() > 0) {
        OpenElement("properties");
        WriteProperties(network->GetUserProperties());
        CloseElement("properties");
    }

    QNL_episParams defaults;
    defaults.SetDefaults();
    const QNL_episParams& epis = network->GetEpisParams();
    if (!(epis == defaults)) {
        OpenElement("algparams");
        AddAttribute("proplen", epis.proplen);
        AddAttribute("numstates1", epis.numstates1);
        AddAttribute("numstates2", epis.numstates2);
        AddAttribute("numstates3", epis.numstates3);
        AddAttribute("eps1", epis.eps1);
        AddAttribute("eps2", epis.eps2);
        AddAttribute("eps3", epis.eps3);
        AddAttribute("eps4", epis.eps4);
        WriteElement("epis", nullptr);
        CloseElement("algparams");
    }

    // A copy: the network's own list is rebuilt by later queries.
    QNL_intArray order;
    order.Assign(network->GetOrderedNodes());
    OpenElement("nodes");
    for (int i = 0; i < order.GetCount(); ++i)
        WriteNode(order[i]);
    CloseElement("nodes");

    WriteDynamic(order);
    WriteObservationCosts(order);
    if (network->GetNumberOfCases() > 0) WriteCases();

    if (extension != nullptr) {
        OpenElement("extensions");
        extension->Write(*this);
        CloseElement("extensions");
    }
    CloseElement("quarn");
}

void QNL_xmlNetworkWriter::WriteProperties(const QNL_userProperties& properties) {
    for (int i = 0; i < properties.GetNumberOfProperties(); ++i) {
        const char* value = properties.GetValue(i);
        AddAttribute("id", properties.GetName(i));
        WriteElement("property", value != nullptr ? value : "", true);
    }
}

void QNL_xmlNetworkWriter::WriteNode(int handle) {
    const QNL_node* node = network->GetNode(handle);
    QNL_nodeDefinition* definition = node->GetDefinition();
    const QNL_extraDefinition* extra = node->GetExtraDefinition();
    const int type = node->GetType();
    const char* element = detail::NodeElementName(type);
    const auto* mau = dynamic_cast<const QNL_mau*>(definition);
    if (mau != nullptr && mau->GetExpressions() != nullptr) element = "maux";

    const auto* adder = dynamic_cast<const QNL_noisyAdder*>(definition);
    if (adder != nullptr && adder->GetFunction() == QNL_NOISYADDER_SINGLEFAULT)
        AddAttribute("function", "singlefault");
    AddAttribute("id", node->GetId());
    if (network->IsTarget(handle) == 1) AddAttribute("target", "true");
    if (extra != nullptr) {
        if (extra->GetDiagnosisType() == QNL_extraDefinition::TARGET)
            AddAttribute("diagtype", "target");
        else if (extra->GetDiagnosisType() == QNL_extraDefinition::OBSERVATION)
            AddAttribute("diagtype", "observation");
    }
    static const char* const temporalWords[] = {nullptr, "anchor", "terminal", "plate"};
    const int temporalType = network->GetTemporalType(handle);
    if (temporalType > 0 && temporalType < 4) AddAttribute("dynamic", temporalWords[temporalType]);
    if (extra != nullptr) {
        if (extra->IsRanked()) AddAttribute("ranked", "true");
        if (extra->IsMandatory()) AddAttribute("mandatory", "true");
    }
    OpenElement(element);

    const QNL_idArray* outcomes = definition->GetOutcomeIds();
    const bool stateless = type == QNL_TYPE_TABLE || type == QNL_TYPE_CAST ||
                           type == QNL_TYPE_DEMORGAN || type == QNL_TYPE_MAU;
    if (!stateless && outcomes != nullptr) {
        for (int i = 0; i < outcomes->GetCount(); ++i) {
            AddAttribute("id", outcomes->GetString(i));
            if (extra != nullptr) {
                const char* label = i < extra->GetOutcomeLabels().GetCount()
                                        ? extra->GetOutcomeLabels().GetString(i)
                                        : nullptr;
                if (label != nullptr && *label != '\0') AddAttribute("label", label);
                if (extra->IsSetAsDefault() && extra->GetDefaultOutcome() == i)
                    AddAttribute("default", "true");
                if (extra->IsFaultOutcome(i) == 1) AddAttribute("fault", "true");
            }
            WriteElement("state", nullptr);
        }
    }

    const QNL_intArray& parents = network->GetParents(handle, 0);
    if (parents.GetCount() > 0) {
        std::vector<std::string> ids;
        for (int i = 0; i < parents.GetCount(); ++i)
            ids.emplace_back(network->GetNode(parents[i])->GetId());
        WriteTextList("parents", ids);
    }

    if (type == QNL_TYPE_CPT) {
        const QNL_doubleArray& values = static_cast<QNL_cpt*>(definition)->GetTable().GetItems();
        WriteDoubleList("probabilities", values.Items(), values.GetSize());
    } else if (type == QNL_TYPE_TRUTHTABLE) {
        QNL_stringArray states;
        static_cast<QNL_truthTable*>(definition)->GetResultingStates(states);
        std::vector<std::string> texts;
        for (int i = 0; i < states.GetCount(); ++i)
            texts.emplace_back(states.GetString(i) != nullptr ? states.GetString(i) : "");
        WriteTextList("resultingstates", texts);
    } else if (type == QNL_TYPE_TABLE) {
        const QNL_doubleArray& values = static_cast<QNL_table*>(definition)->GetTable().GetItems();
        WriteDoubleList("utilities", values.Items(), values.GetSize());
    } else if (type == QNL_TYPE_EQUATION) {
        const auto* equation = static_cast<const QNL_equation*>(definition);
        if (equation->GetLowerBound() != -1.0 || equation->GetUpperBound() != 1.0) {
            AddAttribute("lower", equation->GetLowerBound());
            AddAttribute("upper", equation->GetUpperBound());
        }
        std::string text;
        equation->GetEquation().GetText(text);
        WriteElement("definition", text.c_str());
    } else if (mau != nullptr) {
        WriteMauPayload(*mau);
    } else {
        WriteGatePayload(handle, *definition);
    }

    WriteProperties(node->GetInfo()->properties);
    CloseElement(element);
}

void QNL_xmlNetworkWriter::WriteMauPayload(const QNL_mau& mau) {
    const QNL_expressionMatrix* expressions = mau.GetExpressions();
    if (expressions == nullptr) {
        const QNL_doubleArray& weights = mau.GetWeights().GetItems();
        WriteDoubleList("weights", weights.Items(), mau.GetWeights().GetSize());
        return;
    }
    for (int i = 0; i < expressions->GetSize(); ++i) {
        std::string text;
        QNL_exprNode::ToSignedText(expressions->GetExpression(i), text);
        WriteElement("expression", text.c_str());
    }
}

void QNL_xmlNetworkWriter::WriteObservationCosts(const QNL_intArray& order) {
    bool opened = false;
    for (int i = 0; i < order.GetCount(); ++i) {
        const int handle = order[i];
        const QNL_nodeCost* cost = network->GetNode(handle)->GetCost();
        if (cost == nullptr) continue;
        const QNL_doubleArray& values = cost->GetCosts().GetItems();
        const QNL_intArray& parents = network->GetParents(handle, 1);
        bool needed = parents.GetCount() > 0;
        for (int k = 0; !needed && k < values.GetSize(); ++k)
            needed = values[k] != 0.0;
        if (!needed) continue;
        if (!opened) OpenElement("observationcost");
        opened = true;
        AddAttribute("id", network->GetNode(handle)->GetId());
        OpenElement("node");
        if (parents.GetCount() > 0) {
            std::vector<std::string> ids;
            for (int k = 0; k < parents.GetCount(); ++k)
                ids.emplace_back(network->GetNode(parents[k])->GetId());
            WriteTextList("parents", ids);
        }
        WriteDoubleList("cost", values.Items(), values.GetSize(), "n/a", QNL_NOT_AVAILABLE_NUMBER);
        CloseElement("node");
    }
    if (opened) CloseElement("observationcost");
}

void QNL_xmlNetworkWriter::WriteCases() {
    OpenElement("cases");
    for (int c = 0; c < network->GetNumberOfCases(); ++c) {
        const QNL_case* oneCase = network->GetCase(c);
        AddAttribute("name", oneCase->GetName());
        if (*oneCase->GetCategory() != '\0') AddAttribute("category", oneCase->GetCategory());
        if (oneCase->GetCreated() != 0) AddAttribute("created", oneCase->GetCreated());
        if (oneCase->GetModified() != 0) AddAttribute("modified", oneCase->GetModified());
        OpenElement("case");
        if (*oneCase->GetDescription() != '\0')
            WriteElement("description", oneCase->GetDescription(), true);
        for (int e = 0; e < oneCase->GetNumberOfEvidence(); ++e) {
            int handle = -1, outcome = -1;
            double value = 0.0;
            QNL_case::SlicePairs slices;
            if (oneCase->GetEvidence(e, handle, outcome) != 0 ||
                oneCase->GetEvidenceValue(e, handle, value) != 0 ||
                oneCase->GetTemporalEvidence(e, handle, slices) != 0)
                continue;
            const QNL_node* node = network->GetNode(handle);
            if (node == nullptr) continue;
            // Plain evidence first: read back, it creates the entry the slices join.
            if (const char* state = detail::OutcomeId(node, outcome)) {
                AddAttribute("node", node->GetId());
                AddAttribute("state", state);
                WriteElement("evidence", nullptr);
            }
            for (const auto& [slice, sliceOutcome] : slices) {
                const char* state = detail::OutcomeId(node, sliceOutcome);
                if (state == nullptr) continue;
                AddAttribute("node", node->GetId());
                AddAttribute("slice", slice);
                AddAttribute("state", state);
                WriteElement("evidence", nullptr);
            }
            if (outcome < 0 && slices.empty() && detail::IsValueEvidenceType(node->GetType())) {
                AddAttribute("node", node->GetId());
                AddAttribute("state", value);
                WriteElement("evidence", nullptr);
            }
        }
        for (int t = 0; t < oneCase->GetNumberOfTargets(); ++t) {
            const QNL_node* node = network->GetNode(oneCase->GetTarget(t));
            if (node == nullptr) continue;
            AddAttribute("node", node->GetId());
            WriteElement("target", nullptr);
        }
        CloseElement("case");
    }
    CloseElement("cases");
}
