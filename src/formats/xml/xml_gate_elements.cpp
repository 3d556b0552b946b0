// The gate node kinds of the XML network format: reading their lists into the definitions
// and writing them back.

#include "definitions/logic_gates.h"
#include "definitions/noisy_adder.h"
#include "definitions/noisy_max.h"
#include "formats/xml/xml_network_reader.h"
#include "formats/xml/xml_network_writer.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
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

    QNL_xmlElementHandler* dstates =
        Element("dstates", Flags::INHERIT, &R::IntsStart, nullptr, &R::IntToken);
    QNL_xmlElementHandler* weights =
        Element("weights", Flags::INHERIT, &R::WeightsStart, nullptr, &R::DoubleToken);
    QNL_xmlElementHandler* noisyAdder = NodeElement("noisyadder", &R::NoisyAdderStart, nullptr);
    noisyAdder->AddAttribute("function", 0);
    noisyAdder->AddChild(dstates, 0);
    noisyAdder->AddChild(weights, 0);
    noisyAdder->AddChild(parameters, 0);
    noisyAdder->AddChild(parents, 0);
    noisyAdder->AddChild(nodeProperty, Flags::MULTIPLE);
    noisyAdder->AddChild(state, Flags::REQUIRED | Flags::MULTIPLE);
    nodes->AddChild(noisyAdder, Flags::MULTIPLE);

    QNL_xmlElementHandler* cast = NodeElement("cast", &R::CastStart, nullptr);
    cast->AddChild(Element("baseline", Flags::INHERIT, &R::ScalarStart, nullptr, &R::ScalarToken),
                   Flags::REQUIRED);
    cast->AddChild(
        Element("pweights", Flags::INHERIT, &R::PositiveWeightsStart, nullptr, &R::DoubleToken), 0);
    cast->AddChild(
        Element("nweights", Flags::INHERIT, &R::NegativeWeightsStart, nullptr, &R::DoubleToken), 0);
    QNL_xmlElementHandler* demorgan = NodeElement("demorgan", &R::DemorganStart, nullptr);
    demorgan->AddChild(
        Element("priorbelief", Flags::INHERIT, &R::ScalarStart, nullptr, &R::ScalarToken),
        Flags::REQUIRED);
    demorgan->AddChild(weights, 0);
    demorgan->AddChild(Element("types", Flags::INHERIT, &R::WordsStart, nullptr, &R::WordToken), 0);
    for (QNL_xmlElementHandler* gate : {cast, demorgan}) {
        gate->AddChild(parents, 0);
        gate->AddChild(nodeProperty, Flags::MULTIPLE);
        nodes->AddChild(gate, Flags::MULTIPLE);
    }
}

void QNL_xmlNetworkReader::NoisyMaxStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_NOISY_MAX);
}

void QNL_xmlNetworkReader::NoisyAdderStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_NOISY_ADDER);
    if (currentNode < 0) return;
    if (const char* word = reader.FindAttribute("function")) {
        const std::string text = word;
        if (text == "average") {
            scratch.function = QNL_NOISYADDER_AVERAGE;
        } else if (text == "singlefault") {
            scratch.function = QNL_NOISYADDER_SINGLEFAULT;
        } else {
            reader.Fail("Invalid noisy adder function: '" + text + "'");
            currentNode = -1;
        }
    }
}

void QNL_xmlNetworkReader::WeightsStart(QNL_xmlReader& reader) {
    GateListStart(reader, GATE_WEIGHTS, &scratch.weights);
}

void QNL_xmlNetworkReader::CastStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_CAST);
}

void QNL_xmlNetworkReader::DemorganStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_DEMORGAN);
}

void QNL_xmlNetworkReader::PositiveWeightsStart(QNL_xmlReader& reader) {
    GateListStart(reader, GATE_POSITIVE, &scratch.positiveWeights);
}

void QNL_xmlNetworkReader::NegativeWeightsStart(QNL_xmlReader& reader) {
    GateListStart(reader, GATE_NEGATIVE, &scratch.negativeWeights);
}

void QNL_xmlNetworkReader::WordsStart(QNL_xmlReader& reader) {
    scratch.words.clear();
    GateListStart(reader, GATE_WORDS, nullptr);
}

void QNL_xmlNetworkReader::WordToken(QNL_xmlReader& reader) {
    scratch.words.push_back(reader.GetText());
}

void QNL_xmlNetworkReader::ScalarStart(QNL_xmlReader& reader) {
    scratch.scalar.clear();
    GateListStart(reader, GATE_SCALAR, nullptr);
}

void QNL_xmlNetworkReader::ScalarToken(QNL_xmlReader& reader) {
    scratch.scalar.push_back(reader.GetText());
}

bool QNL_xmlNetworkReader::ReadScalar(double& value) const {
    return scratch.scalar.size() == 1 && quarn::detail::ParseXmlDouble(scratch.scalar[0], value);
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
    case QNL_TYPE_NOISY_ADDER:
        SetNoisyAdder(reader, definition);
        break;
    case QNL_TYPE_CAST:
        SetCast(reader, definition);
        break;
    case QNL_TYPE_DEMORGAN:
        SetDemorgan(reader, definition);
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
    if (scratch.gateLists & GATE_PARAMETERS)
        SetParameters(reader, *gate, gate->GetParameters()->GetSize());
}

bool QNL_xmlNetworkReader::SetParameters(QNL_xmlReader& reader, QNL_nodeDefinition& definition,
                                         int expected) {
    if (scratch.parameters.size() != static_cast<std::size_t>(expected)) {
        FailFirst(reader, "Invalid weights vector size " +
                              std::to_string(scratch.parameters.size()) + ", expected " +
                              std::to_string(expected));
        return false;
    }
    QNL_doubleArray values;
    if (values.SetSize(expected) != 0) {
        FailFirst(reader, "Invalid weights vector size");
        return false;
    }
    std::copy(scratch.parameters.begin(), scratch.parameters.end(), values.Items());
    definition.SetDefinition(values);
    return true;
}

void QNL_xmlNetworkReader::SetNoisyAdder(QNL_xmlReader& reader, QNL_nodeDefinition* definition) {
    auto* adder = dynamic_cast<QNL_noisyAdder*>(definition);
    if (adder == nullptr) {
        FailFirst(reader, "SetDistinguishedState call fails");
        return;
    }
    const int blocks = adder->GetNumberOfBlocks();
    if (scratch.gateLists & GATE_INTS) {
        if (scratch.ints.size() != static_cast<std::size_t>(blocks) + 1) {
            FailFirst(reader, "Size of distinguished state vector is invalid: " +
                                  std::to_string(scratch.ints.size()) + ", expected" +
                                  std::to_string(blocks + 1));
            return;
        }
        if (adder->SetDistinguishedState(scratch.ints[0]) != 0) {
            FailFirst(reader, "SetDistinguishedState call fails");
            return;
        }
        for (int b = 0; b < blocks; ++b) {
            if (adder->SetParentDistinguishedState(
                    b, scratch.ints[static_cast<std::size_t>(b) + 1]) != 0) {
                FailFirst(reader, "SetParentDistinguishedState call fails");
                return;
            }
        }
    }
    if (scratch.gateLists & GATE_WEIGHTS) {
        const std::size_t expected = adder->GetWeights().size();
        if (scratch.weights.size() != expected) {
            FailFirst(reader, "Invalid weights vector size " +
                                  std::to_string(scratch.weights.size()) + ", expected " +
                                  std::to_string(expected));
            return;
        }
        if (adder->SetWeights(scratch.weights) != 0) {
            FailFirst(reader, "SetWeights failed");
            return;
        }
    }
    if ((scratch.gateLists & GATE_PARAMETERS) &&
        !SetParameters(reader, *adder, adder->GetParameters()->GetSize()))
        return;
    adder->SetFunction(scratch.function);
}

namespace {

bool ToArray(const std::vector<double>& values, QNL_doubleArray& out) {
    for (double v : values)
        if (out.Add(v) != 0) return false;
    return true;
}

} // namespace

// The lists of the parents are taken when present; a gate without parents has none.
void QNL_xmlNetworkReader::SetCast(QNL_xmlReader& reader, QNL_nodeDefinition* definition) {
    auto* cast = dynamic_cast<QNL_cast*>(definition);
    double baseline = 0.0;
    if (!ReadScalar(baseline)) {
        FailFirst(reader, "Can't read baseline");
        return;
    }
    if (cast == nullptr || cast->SetBaseline(baseline) != 0) {
        FailFirst(reader, "SetBaseline failed");
        return;
    }
    if (cast->GetNumberOfParentEntries() == 0) return;
    QNL_doubleArray positive, negative;
    if ((scratch.gateLists & GATE_POSITIVE) &&
        (!ToArray(scratch.positiveWeights, positive) || cast->SetPositiveWeights(positive) != 0)) {
        FailFirst(reader, "SetPositiveWeights failed");
        return;
    }
    if ((scratch.gateLists & GATE_NEGATIVE) &&
        (!ToArray(scratch.negativeWeights, negative) || cast->SetNegativeWeights(negative) != 0))
        FailFirst(reader, "SetNegativeWeights failed");
}

void QNL_xmlNetworkReader::SetDemorgan(QNL_xmlReader& reader, QNL_nodeDefinition* definition) {
    auto* gate = dynamic_cast<QNL_demorgan*>(definition);
    double prior = 0.0;
    if (!ReadScalar(prior)) {
        FailFirst(reader, "Can't read prior belief");
        return;
    }
    if (gate == nullptr || gate->SetPriorBelief(prior) != 0) {
        FailFirst(reader, "SetPriorBelief failed");
        return;
    }
    if (gate->GetNumberOfParentEntries() == 0) return;
    QNL_doubleArray weights;
    if ((scratch.gateLists & GATE_WEIGHTS) &&
        (!ToArray(scratch.weights, weights) || gate->SetParentWeights(weights) != 0)) {
        FailFirst(reader, "SetParentWeights failed");
        return;
    }
    if (!(scratch.gateLists & GATE_WORDS)) return;
    static const char* const words[] = {"inhibitor", "requirement", "cause", "barrier"};
    QNL_intArray types;
    for (std::size_t i = 0; i < scratch.words.size(); ++i) {
        const auto* found = std::find_if(std::begin(words), std::end(words),
                                         [&](const char* w) { return scratch.words[i] == w; });
        if (found == std::end(words)) {
            FailFirst(reader, "Invalid parent type '" + scratch.words[i] + "' at element " +
                                  std::to_string(i + 1));
            return;
        }
        types.Add(static_cast<int>(found - std::begin(words)));
    }
    if (gate->SetParentTypes(types) != 0) FailFirst(reader, "SetParentTypes failed");
}

// ---- writing ----

void QNL_xmlNetworkWriter::WriteGatePayload(int handle, const QNL_nodeDefinition& definition) {
    // A temporal definition lives in another network: its parents are its own network's.
    const QNL_network* owner =
        definition.GetNetwork() != nullptr ? definition.GetNetwork() : network;
    const int self = definition.GetNetwork() != nullptr ? definition.GetHandle() : handle;
    const bool hasParents = owner->GetParents(self, 0).GetCount() > 0;
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
    } else if (const auto* adder = dynamic_cast<const QNL_noisyAdder*>(&definition)) {
        std::vector<std::string> states{std::to_string(adder->GetDistinguishedState())};
        for (int b = 0; b < adder->GetNumberOfBlocks(); ++b)
            states.push_back(std::to_string(adder->GetParentDistinguishedState(b)));
        WriteTextList("dstates", states);
        const std::vector<double>& weights = adder->GetWeights();
        WriteDoubleList("weights", weights.data(), static_cast<int>(weights.size()));
        const QNL_doubleArray& values = adder->GetParameters().GetItems();
        WriteDoubleList("parameters", values.Items(), values.GetSize());
    } else if (const auto* cast = dynamic_cast<const QNL_cast*>(&definition)) {
        if (hasParents) {
            const QNL_doubleArray& positive = cast->GetPositiveWeights();
            const QNL_doubleArray& negative = cast->GetNegativeWeights();
            WriteDoubleList("pweights", positive.Items(), positive.GetCount());
            WriteDoubleList("nweights", negative.Items(), negative.GetCount());
        }
        const double baseline = cast->GetBaseline();
        WriteDoubleList("baseline", &baseline, 1);
    } else if (const auto* demorgan = dynamic_cast<const QNL_demorgan*>(&definition)) {
        if (hasParents) {
            static const char* const words[] = {"inhibitor", "requirement", "cause", "barrier"};
            std::vector<std::string> types;
            const QNL_intArray& codes = demorgan->GetParentTypes();
            for (int i = 0; i < codes.GetCount(); ++i)
                types.emplace_back(codes[i] >= 0 && codes[i] < 4 ? words[codes[i]] : "cause");
            WriteTextList("types", types);
            const QNL_doubleArray& weights = demorgan->GetParentWeights();
            WriteDoubleList("weights", weights.Items(), weights.GetCount());
        }
        const double prior = demorgan->GetPriorBelief();
        WriteDoubleList("priorbelief", &prior, 1);
    }
}
