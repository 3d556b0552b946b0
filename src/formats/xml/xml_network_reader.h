#pragma once

#include "formats/xml/xml_reader.h"

#include <string>
#include <unordered_map>
#include <vector>

class QNL_network;
class QNL_nodeDefinition;
class QNL_case;
class QNL_xmlExtensionReader;

// Reads a network from the library's own XML format: builds the schema of the document,
// creates nodes, arcs, definitions, costs and cases as their elements end, and hands the
// "extensions" element to the display and diagnosis extension. Node identifiers are resolved
// through the reader's own map, so a node must be defined before anything names it. The
// first problem stops the load; what was built until then stays in the network. Node kinds
// and parts of the format that the library does not build yet are refused, never skipped.
class QNL_xmlNetworkReader : public QNL_xmlReader {
public:
    // Extension word 0 attaches the display and diagnosis extension; any other word reads
    // without one ("extensions" then holds nothing the reader knows).
    static bool Read(const char* path, QNL_network* network, int extensionWord);

    explicit QNL_xmlNetworkReader(QNL_network* network);
    ~QNL_xmlNetworkReader() override;

    // The handle of the node that this file defined under the identifier, -1 when none.
    int FindNodeHandle(const std::string& id) const;
    QNL_network* GetNetwork() const { return network; }

private:
    // The scratch of the node element being read.
    struct NodeScratch {
        std::vector<int> parents;
        std::vector<std::string> outcomes;
        std::vector<std::string> labels;
        int defaultOutcome = -1;
        std::vector<int> faults;
        std::vector<double> values;
        std::vector<std::string> resultingStates;
        bool payloadMet = false;
        bool ranked = false;
        bool mandatory = false;
        // Gate payloads: which lists were met (GATE_* bits), and their contents.
        unsigned gateLists = 0;
        std::vector<int> ints;
        std::vector<double> parameters, weights, positiveWeights, negativeWeights;
        std::vector<std::string> words, scalar;
        int function = 0;
        // Equation payload ("definition" texts and the range) or a MAU node's expressions
        // ("maux").
        std::vector<std::string> expressions;
        double lower = -1.0;
        double upper = 1.0;
        bool expressionForm = false;
    };
    enum GateList : unsigned {
        GATE_INTS = 1,
        GATE_PARAMETERS = 2,
        GATE_WEIGHTS = 4,
        GATE_POSITIVE = 8,
        GATE_NEGATIVE = 16,
        GATE_WORDS = 32,
        GATE_SCALAR = 64,
    };

    void BuildSchema(QNL_xmlElementHandler* extensionRoot);
    QNL_xmlElementHandler* Element(const char* name, int strictness,
                                   void (QNL_xmlNetworkReader::*start)(QNL_xmlReader&),
                                   void (QNL_xmlNetworkReader::*end)(QNL_xmlReader&) = nullptr,
                                   void (QNL_xmlNetworkReader::*token)(QNL_xmlReader&) = nullptr);
    QNL_xmlElementHandler* NodeElement(const char* name,
                                       void (QNL_xmlNetworkReader::*start)(QNL_xmlReader&),
                                       QNL_xmlElementHandler* payload);

    void RootStart(QNL_xmlReader& reader);
    void PropertyStart(QNL_xmlReader& reader);
    void NetworkPropertyEnd(QNL_xmlReader& reader);
    void NodePropertyEnd(QNL_xmlReader& reader);
    void EpisStart(QNL_xmlReader& reader);

    void CptStart(QNL_xmlReader& reader);
    void DeterministicStart(QNL_xmlReader& reader);
    void DecisionStart(QNL_xmlReader& reader);
    void UtilityStart(QNL_xmlReader& reader);
    void EquationStart(QNL_xmlReader& reader);
    void EquationDefinitionStart(QNL_xmlReader& reader);
    void EquationDefinitionEnd(QNL_xmlReader& reader);
    void SetEquation(QNL_xmlReader& reader, QNL_nodeDefinition* definition);
    void NodeStart(QNL_xmlReader& reader, int type);
    void NodeEnd(QNL_xmlReader& reader);
    bool SetOutcomes(QNL_xmlReader& reader);
    void RunSetter(QNL_xmlReader& reader, QNL_nodeDefinition* definition);

    // The dynamic part: slices and the temporal definitions (in xml_dynamic_elements.cpp).
    void BuildDynamicSchema(QNL_xmlElementHandler* parents);
    void DynamicStart(QNL_xmlReader& reader);
    void DynamicEnd(QNL_xmlReader& reader);
    void TemporalCptStart(QNL_xmlReader& reader);
    void TemporalDeterministicStart(QNL_xmlReader& reader);
    void TemporalNoisyMaxStart(QNL_xmlReader& reader);
    void TemporalNoisyAdderStart(QNL_xmlReader& reader);
    void TemporalDemorganStart(QNL_xmlReader& reader);
    void TemporalStart(QNL_xmlReader& reader, int type);
    void TemporalEnd(QNL_xmlReader& reader);
    bool CheckTemporalTable(QNL_xmlReader& reader, int node);

    // Gate elements (noisy-MAX, noisy adder, DeMorgan, CAST).
    void BuildGateSchema(QNL_xmlElementHandler* nodes, QNL_xmlElementHandler* parents,
                         QNL_xmlElementHandler* state, QNL_xmlElementHandler* nodeProperty);
    void NoisyMaxStart(QNL_xmlReader& reader);
    void NoisyAdderStart(QNL_xmlReader& reader);
    void WeightsStart(QNL_xmlReader& reader);
    void CastStart(QNL_xmlReader& reader);
    void DemorganStart(QNL_xmlReader& reader);
    void PositiveWeightsStart(QNL_xmlReader& reader);
    void NegativeWeightsStart(QNL_xmlReader& reader);
    void WordsStart(QNL_xmlReader& reader);
    void WordToken(QNL_xmlReader& reader);
    void ScalarStart(QNL_xmlReader& reader);
    void ScalarToken(QNL_xmlReader& reader);
    void GateListStart(QNL_xmlReader& reader, unsigned list, std::vector<double>* target);
    void IntsStart(QNL_xmlReader& reader);
    void ParametersStart(QNL_xmlReader& reader);
    void IntToken(QNL_xmlReader& reader);
    void RunGateSetter(QNL_xmlReader& reader, QNL_nodeDefinition* definition);
    void SetNoisyMax(QNL_xmlReader& reader, QNL_nodeDefinition* definition);
    void SetNoisyAdder(QNL_xmlReader& reader, QNL_nodeDefinition* definition);
    void SetCast(QNL_xmlReader& reader, QNL_nodeDefinition* definition);
    void SetDemorgan(QNL_xmlReader& reader, QNL_nodeDefinition* definition);
    // The one number of "baseline" or "priorbelief"; false when it is not exactly one.
    bool ReadScalar(double& value) const;
    // The parameter list replaces the parameters when it has their size.
    bool SetParameters(QNL_xmlReader& reader, QNL_nodeDefinition& definition, int expected);

    // Multi-attribute utility elements ("mau" with weights, "maux" with expressions).
    void BuildMauSchema(QNL_xmlElementHandler* nodes, QNL_xmlElementHandler* parents,
                        QNL_xmlElementHandler* nodeProperty);
    void MauStart(QNL_xmlReader& reader);
    void MauxStart(QNL_xmlReader& reader);
    void ExpressionEnd(QNL_xmlReader& reader);
    void SetMau(QNL_xmlReader& reader, QNL_nodeDefinition* definition);

    void ParentsToken(QNL_xmlReader& reader);
    void StateStart(QNL_xmlReader& reader);
    void ListStart(QNL_xmlReader& reader);
    void DoubleToken(QNL_xmlReader& reader);
    void CostToken(QNL_xmlReader& reader);
    void ResultingStateToken(QNL_xmlReader& reader);

    void CostNodeStart(QNL_xmlReader& reader);
    void CostNodeEnd(QNL_xmlReader& reader);

    void CaseStart(QNL_xmlReader& reader);
    void CaseEnd(QNL_xmlReader& reader);
    void DescriptionEnd(QNL_xmlReader& reader);
    void EvidenceStart(QNL_xmlReader& reader);
    void TargetStart(QNL_xmlReader& reader);

    // The node named by the attribute, or -1 after failing with "Invalid node identifier".
    int ResolveNodeAttribute(QNL_xmlReader& reader, const char* attribute);

    QNL_network* network;
    std::unordered_map<std::string, int> nodeHandles;
    int currentNode = -1;
    int currentType = 0;
    NodeScratch scratch;
    // Where the double tokens of the list being read go.
    std::vector<double>* doubleTarget = &scratch.values;
    int listPosition = 0;
    QNL_case* currentCase = nullptr;
    std::string propertyId;
    QNL_xmlElementHandler* root = nullptr;
    int numberOfSlices = 0;
    int temporalOrder = 0;
};
