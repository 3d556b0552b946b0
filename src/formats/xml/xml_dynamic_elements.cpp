// The dynamic part of the XML network format: the number of slices and the temporal
// definitions of the plate nodes, read into the temporal extension and written back.

#include "definitions/cpt.h"
#include "definitions/noisy_adder.h"
#include "definitions/truth_table.h"
#include "formats/foreign_format_support.h"
#include "formats/xml/xml_network_reader.h"
#include "formats/xml/xml_network_writer.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "model/temporal_network.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

namespace {

using Flags = QNL_xmlElementHandler;

// The temporal element of each definition type the format carries.
const char* TemporalElementName(int type) {
    switch (type) {
    case QNL_TYPE_CPT:
        return "cpt";
    case QNL_TYPE_TRUTHTABLE:
        return "deterministic";
    case QNL_TYPE_NOISY_MAX:
        return "noisymax";
    case QNL_TYPE_NOISY_ADDER:
        return "noisyadder";
    case QNL_TYPE_DEMORGAN:
        return "demorgan";
    default:
        return nullptr;
    }
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

// ---- reading ----

void QNL_xmlNetworkReader::BuildDynamicSchema(QNL_xmlElementHandler* parents) {
    using R = QNL_xmlNetworkReader;
    QNL_xmlElementHandler* dynamic =
        Element("dynamic", Flags::INHERIT, &R::DynamicStart, &R::DynamicEnd);
    dynamic->AddAttribute("numslices", Flags::REQUIRED);
    root->AddChild(dynamic, 0);

    auto temporal = [&](const char* name, void (R::*start)(QNL_xmlReader&)) {
        QNL_xmlElementHandler* element = Element(name, Flags::INHERIT, start, &R::TemporalEnd);
        element->AddAttribute("id", Flags::REQUIRED);
        element->AddAttribute("order", Flags::REQUIRED);
        element->AddChild(parents, Flags::REQUIRED);
        dynamic->AddChild(element, Flags::MULTIPLE);
        return element;
    };
    QNL_xmlElementHandler* cpt = temporal("cpt", &R::TemporalCptStart);
    cpt->AddChild(Element("probabilities", Flags::INHERIT, &R::ListStart, nullptr, &R::DoubleToken),
                  Flags::REQUIRED);
    QNL_xmlElementHandler* deterministic =
        temporal("deterministic", &R::TemporalDeterministicStart);
    deterministic->AddChild(
        Element("resultingstates", Flags::INHERIT, &R::ListStart, nullptr, &R::ResultingStateToken),
        Flags::REQUIRED);

    QNL_xmlElementHandler* parameters =
        Element("parameters", Flags::INHERIT, &R::ParametersStart, nullptr, &R::DoubleToken);
    QNL_xmlElementHandler* weights =
        Element("weights", Flags::INHERIT, &R::WeightsStart, nullptr, &R::DoubleToken);
    QNL_xmlElementHandler* noisyMax = temporal("noisymax", &R::TemporalNoisyMaxStart);
    noisyMax->AddChild(Element("strengths", Flags::INHERIT, &R::IntsStart, nullptr, &R::IntToken),
                       0);
    noisyMax->AddChild(parameters, 0);
    QNL_xmlElementHandler* noisyAdder = temporal("noisyadder", &R::TemporalNoisyAdderStart);
    noisyAdder->AddAttribute("function", 0);
    noisyAdder->AddChild(Element("dstates", Flags::INHERIT, &R::IntsStart, nullptr, &R::IntToken),
                         0);
    noisyAdder->AddChild(weights, 0);
    noisyAdder->AddChild(parameters, 0);
    QNL_xmlElementHandler* demorgan = temporal("demorgan", &R::TemporalDemorganStart);
    demorgan->AddChild(
        Element("priorbelief", Flags::INHERIT, &R::ScalarStart, nullptr, &R::ScalarToken),
        Flags::REQUIRED);
    demorgan->AddChild(weights, 0);
    demorgan->AddChild(Element("types", Flags::INHERIT, &R::WordsStart, nullptr, &R::WordToken), 0);
}

void QNL_xmlNetworkReader::DynamicStart(QNL_xmlReader& reader) {
    numberOfSlices = 0;
    if (!reader.GetIntAttribute("numslices", numberOfSlices, 0)) return;
    if (numberOfSlices < 0)
        reader.Fail("Invalid slice count: " + std::to_string(numberOfSlices) +
                    ", non-negative integer expected");
}

// A count of 0 leaves the network's own count: a network holds at least one slice.
void QNL_xmlNetworkReader::DynamicEnd(QNL_xmlReader& reader) {
    if (numberOfSlices > 0 && network->SetNumberOfSlices(numberOfSlices) != 0)
        reader.Fail("Invalid slice count: " + std::to_string(numberOfSlices) +
                    ", non-negative integer expected");
}

void QNL_xmlNetworkReader::TemporalCptStart(QNL_xmlReader& reader) {
    TemporalStart(reader, QNL_TYPE_CPT);
}

void QNL_xmlNetworkReader::TemporalDeterministicStart(QNL_xmlReader& reader) {
    TemporalStart(reader, QNL_TYPE_TRUTHTABLE);
}

void QNL_xmlNetworkReader::TemporalNoisyMaxStart(QNL_xmlReader& reader) {
    TemporalStart(reader, QNL_TYPE_NOISY_MAX);
}

void QNL_xmlNetworkReader::TemporalNoisyAdderStart(QNL_xmlReader& reader) {
    TemporalStart(reader, QNL_TYPE_NOISY_ADDER);
}

void QNL_xmlNetworkReader::TemporalDemorganStart(QNL_xmlReader& reader) {
    TemporalStart(reader, QNL_TYPE_DEMORGAN);
}

void QNL_xmlNetworkReader::TemporalStart(QNL_xmlReader& reader, int type) {
    currentNode = -1;
    scratch = NodeScratch();
    const int handle = ResolveNodeAttribute(reader, "id");
    if (handle < 0) return;
    if (network->GetTemporalType(handle) != QNL_temporalNetwork::PLATE) {
        reader.Fail("Node is not part of temporal plate: " + Quoted(reader.FindAttribute("id")));
        return;
    }
    int order = 1;
    if (!reader.GetIntAttribute("order", order, 1)) return;
    if (order < 1) {
        reader.Fail("Invalid temporal order: " + std::to_string(order) +
                    ", positive value expected");
        return;
    }
    if (type == QNL_TYPE_NOISY_ADDER) {
        if (const char* word = reader.FindAttribute("function")) {
            const std::string text = word;
            if (text == "singlefault") {
                scratch.function = QNL_NOISYADDER_SINGLEFAULT;
            } else if (text != "average") {
                reader.Fail("Invalid noisy adder function: " + Quoted(text));
                return;
            }
        }
    }
    // Resulting states name the node's own outcomes.
    const QNL_idArray* ids = network->GetNode(handle)->GetDefinition()->GetOutcomeIds();
    for (int i = 0; ids != nullptr && i < ids->GetCount(); ++i)
        scratch.outcomes.emplace_back(ids->GetString(i));
    currentNode = handle;
    currentType = type;
    temporalOrder = order;
}

void QNL_xmlNetworkReader::TemporalEnd(QNL_xmlReader& reader) {
    if (currentNode < 0) return;
    const int node = currentNode;
    currentNode = -1;
    if (scratch.parents.empty()) {
        reader.Fail("No temporal parents specified");
        return;
    }
    if (!CheckTemporalTable(reader, node)) return;
    for (int parent : scratch.parents) {
        if (network->AddTemporalArc(parent, node, temporalOrder) != 0) {
            reader.Fail("AddTemporalArc failed");
            return;
        }
    }
    QNL_nodeDefinition* definition =
        network->GetTemporalNetwork().GetTemporalDefinition(node, temporalOrder);
    if (definition == nullptr) {
        reader.Fail("Temporal defintion not found");
        return;
    }
    if (definition->GetType() != currentType) {
        reader.Fail("Invalid temporal defintion type");
        return;
    }
    RunSetter(reader, definition);
    scratch = NodeScratch();
}

// The tables the new parents would give the definition of this order and the higher ones are
// sized before any arc is added: a few numbers under many parents never allocate a table.
bool QNL_xmlNetworkReader::CheckTemporalTable(QNL_xmlReader& reader, int node) {
    constexpr long long limit = quarn::detail::MAX_READ_TABLE_CELLS;
    auto times = [](long long cells, int outcomes) {
        return cells > limit ? cells : std::min(cells * std::max(outcomes, 1), limit + 1);
    };
    auto outcomesOf = [this](int h) {
        return network->GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
    };
    long long base = outcomesOf(node);
    const QNL_intArray& parents = network->GetParents(node);
    for (int i = 0; i < parents.GetCount(); ++i) {
        const int type = network->GetTemporalType(parents[i]);
        if (type == QNL_temporalNetwork::NORMAL || type == QNL_temporalNetwork::PLATE)
            base = times(base, outcomesOf(parents[i]));
    }
    for (int parent : scratch.parents)
        base = times(base, outcomesOf(parent));
    QNL_intArray existing, earlier;
    if (network->GetTemporalOrders(node, existing) != 0) {
        reader.Fail("Out of memory");
        return false;
    }
    std::vector<int> orders(existing.Items(), existing.Items() + existing.GetCount());
    if (std::find(orders.begin(), orders.end(), temporalOrder) == orders.end())
        orders.push_back(temporalOrder);
    for (int order : orders) {
        if (order < temporalOrder) continue;
        long long cells = base;
        for (int i = 0; i < existing.GetCount(); ++i) {
            if (existing[i] > order) continue;
            network->GetTemporalParents(node, existing[i], earlier);
            for (int p = 0; p < earlier.GetCount(); ++p)
                cells = times(cells, outcomesOf(earlier[p]));
        }
        if (cells > limit) {
            reader.Fail(quarn::detail::TooLargeTableMessage(network, node));
            return false;
        }
        if (order == temporalOrder && currentType == QNL_TYPE_CPT && scratch.payloadMet &&
            static_cast<long long>(scratch.values.size()) != cells) {
            reader.Fail("SetProbabilities failed");
            return false;
        }
    }
    return true;
}

// ---- writing ----

int QNL_xmlNetworkWriter::CheckTemporal(const QNL_network& network) {
    const QNL_temporalNetwork* extension = network.FindTemporalNetwork();
    if (extension == nullptr) return 0;
    QNL_intArray orders;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        if (network.GetTemporalType(h) != QNL_temporalNetwork::PLATE) continue;
        if (extension->GetTemporalOrders(h, orders) != 0) return -42;
        if (orders.GetCount() > 0 && TemporalElementName(network.GetNode(h)->GetType()) == nullptr)
            return QNL_errorHandler::Instance().LogError(
                -2, std::string("ERROR: This Network cannot be saved in XML format: node '") +
                        network.GetNode(h)->GetId() +
                        "' has temporal definitions of a type the format does not carry");
    }
    return 0;
}

// Written whenever a node has a temporal type: plate nodes and temporal arcs are never lost.
void QNL_xmlNetworkWriter::WriteDynamic(const QNL_intArray& order) {
    bool dynamic = false;
    for (int i = 0; i < order.GetCount() && !dynamic; ++i)
        dynamic = network->GetTemporalType(order[i]) != 0;
    if (!dynamic) return;
    QNL_temporalNetwork& extension = network->GetTemporalNetwork();
    AddAttribute("numslices", extension.GetNumberOfSlices());
    OpenElement("dynamic");
    QNL_intArray orders, parents;
    for (int i = 0; i < order.GetCount(); ++i) {
        const int handle = order[i];
        if (network->GetTemporalType(handle) != QNL_temporalNetwork::PLATE) continue;
        if (extension.GetTemporalOrders(handle, orders) != 0) throw std::bad_alloc();
        for (int k = 0; k < orders.GetCount(); ++k) {
            const QNL_nodeDefinition* definition =
                extension.GetTemporalDefinition(handle, orders[k]);
            const char* element = TemporalElementName(definition->GetType());
            const auto* adder = dynamic_cast<const QNL_noisyAdder*>(definition);
            if (adder != nullptr && adder->GetFunction() == QNL_NOISYADDER_SINGLEFAULT)
                AddAttribute("function", "singlefault");
            AddAttribute("id", network->GetNode(handle)->GetId());
            AddAttribute("order", orders[k]);
            OpenElement(element);
            if (extension.GetTemporalParents(handle, orders[k], parents) != 0)
                throw std::bad_alloc();
            std::vector<std::string> ids;
            for (int p = 0; p < parents.GetCount(); ++p)
                ids.emplace_back(network->GetNode(parents[p])->GetId());
            WriteTextList("parents", ids);
            WriteTemporalPayload(handle, *definition);
            CloseElement(element);
        }
    }
    CloseElement("dynamic");
}

void QNL_xmlNetworkWriter::WriteTemporalPayload(int handle, const QNL_nodeDefinition& definition) {
    const auto* truthTable = dynamic_cast<const QNL_truthTable*>(&definition);
    const auto* cpt = dynamic_cast<const QNL_cpt*>(&definition);
    if (cpt != nullptr && truthTable == nullptr) {
        const QNL_doubleArray& values = cpt->GetTable().GetItems();
        WriteDoubleList("probabilities", values.Items(), values.GetSize());
    } else if (truthTable != nullptr) {
        // By outcome index: the node's identifiers are the ones read back.
        QNL_stringArray states;
        truthTable->GetResultingStates(states);
        const QNL_idArray* own = definition.GetOutcomeIds();
        const QNL_idArray* ids = network->GetNode(handle)->GetDefinition()->GetOutcomeIds();
        std::vector<std::string> texts;
        for (int i = 0; i < states.GetCount(); ++i) {
            const int index = own != nullptr && states.GetString(i) != nullptr
                                  ? own->FindPosition(states.GetString(i))
                                  : -1;
            texts.emplace_back(ids != nullptr && index >= 0 && index < ids->GetCount()
                                   ? ids->GetString(index)
                                   : "");
        }
        WriteTextList("resultingstates", texts);
    } else {
        WriteGatePayload(handle, definition);
    }
}
