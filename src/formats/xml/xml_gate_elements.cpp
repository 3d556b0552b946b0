// The gate node kinds of the XML network format: reading their lists into the definitions
// and writing them back.

#include "definitions/noisy_max.h"
#include "formats/xml/xml_network_reader.h"
#include "formats/xml/xml_network_writer.h"
#include "model/network.h"
#include "model/node.h"

#include <climits>
#include <string>
#include <vector>

namespace {

using Flags = QNL_xmlElementHandler;

void FailFirst(QNL_xmlReader& reader, const std::string& message) {
    if (!reader.HasFailed()) reader.Fail(message);
}

} // namespace

// ---- reading ----

void QNL_xmlNetworkReader::BuildGateSchema(QNL_xmlElementHandler* nodes,
                                           QNL_xmlElementHandler* parents,
                                           QNL_xmlElementHandler* state,
                                           QNL_xmlElementHandler* nodeProperty) {
    using R = QNL_xmlNetworkReader;
    QNL_xmlElementHandler* ints =
        Element("strengths", Flags::INHERIT, &R::IntsStart, nullptr, &R::IntToken);
    QNL_xmlElementHandler* parameters =
        Element("parameters", Flags::INHERIT, &R::ParametersStart, nullptr, &R::DoubleToken);

    QNL_xmlElementHandler* noisyMax = NodeElement("noisymax", &R::NoisyMaxStart, nullptr);
    noisyMax->AddChild(ints, 0);
    noisyMax->AddChild(parameters, 0);
    noisyMax->AddChild(parents, 0);
    noisyMax->AddChild(nodeProperty, Flags::MULTIPLE);
    noisyMax->AddChild(state, Flags::REQUIRED | Flags::MULTIPLE);
    nodes->AddChild(noisyMax, Flags::MULTIPLE);
}

void QNL_xmlNetworkReader::NoisyMaxStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_NOISY_MAX);
}

void QNL_xmlNetworkReader::GateListStart(QNL_xmlReader&, unsigned list,
                                         std::vector<double>* target) {
    scratch.gateLists |= list;
    listPosition = 0;
    if (target != nullptr) {
        target->clear();
        doubleTarget = target;
    }
}

void QNL_xmlNetworkReader::IntsStart(QNL_xmlReader& reader) {
    scratch.ints.clear();
    GateListStart(reader, GATE_INTS, nullptr);
}

void QNL_xmlNetworkReader::ParametersStart(QNL_xmlReader& reader) {
    GateListStart(reader, GATE_PARAMETERS, &scratch.parameters);
}

void QNL_xmlNetworkReader::IntToken(QNL_xmlReader& reader) {
    ++listPosition;
    int value = 0;
    if (!quarn::detail::ParseXmlInt(reader.GetText(), value) ||
        scratch.ints.size() >= static_cast<std::size_t>(INT_MAX)) {
        reader.Fail("Can't read list of integers, failed at element " +
                    std::to_string(listPosition));
        return;
    }
    scratch.ints.push_back(value);
}

void QNL_xmlNetworkReader::RunGateSetter(QNL_xmlReader& reader, QNL_nodeDefinition* definition) {
    if (reader.HasFailed() || definition == nullptr) return;
    switch (currentType) {
    case QNL_TYPE_NOISY_MAX:
        SetNoisyMax(reader, definition);
        break;
    default:
        break;
    }
}

// Each group of "strengths" is the parent's strength order as the writer stores it (block
// position -> parent outcome); a group that is not a permutation of the parent's outcomes
// never reaches the definition as indices.
void QNL_xmlNetworkReader::SetNoisyMax(QNL_xmlReader& reader, QNL_nodeDefinition* definition) {
    auto* gate = dynamic_cast<QNL_noisyMAX*>(definition);
    if (gate == nullptr) {
        FailFirst(reader, "SetParentOutcomeStrengths failed");
        return;
    }
    if (scratch.gateLists & GATE_INTS) {
        std::size_t next = 0;
        for (int b = 0; b < gate->GetNumberOfBlocks(); ++b) {
            const std::size_t size = static_cast<std::size_t>(gate->GetBlockSize(b));
            QNL_intArray order;
            for (std::size_t j = 0; j < size && next + j < scratch.ints.size(); ++j)
                order.Add(scratch.ints[next + j]);
            next += size;
            if (next > scratch.ints.size() || gate->SetParentOutcomeStrengths(b, order) != 0) {
                FailFirst(reader, "SetParentOutcomeStrengths failed");
                return;
            }
        }
        if (next != scratch.ints.size()) {
            FailFirst(reader, "SetParentOutcomeStrengths failed");
            return;
        }
    }
    if (scratch.gateLists & GATE_PARAMETERS) {
        const int expected = gate->GetParameters()->GetSize();
        if (scratch.parameters.size() != static_cast<std::size_t>(expected)) {
            FailFirst(reader, "Invalid weights vector size " +
                                  std::to_string(scratch.parameters.size()) + ", expected " +
                                  std::to_string(expected));
            return;
        }
        QNL_doubleArray values;
        if (values.SetSize(expected) != 0) {
            FailFirst(reader, "Invalid weights vector size");
            return;
        }
        std::copy(scratch.parameters.begin(), scratch.parameters.end(), values.Items());
        gate->SetDefinition(values);
    }
}

// ---- writing ----

void QNL_xmlNetworkWriter::WriteGatePayload(int handle, const QNL_nodeDefinition& definition) {
    const bool hasParents = network->GetParents(handle, 0).GetCount() > 0;
    if (const auto* gate = dynamic_cast<const QNL_noisyMAX*>(&definition)) {
        if (hasParents) {
            std::vector<std::string> texts;
            for (int b = 0; b < gate->GetNumberOfBlocks(); ++b) {
                const QNL_intArray& s = *gate->GetParentOutcomeStrengths(b);
                for (int j = 0; j < s.GetCount(); ++j)
                    texts.push_back(std::to_string(s[j]));
            }
            WriteTextList("strengths", texts);
        }
        const QNL_doubleArray& values = gate->GetParameters().GetItems();
        WriteDoubleList("parameters", values.Items(), values.GetSize());
    }
}
