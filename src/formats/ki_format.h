#pragma once

#include "formats/foreign_format_support.h"
#include "formats/text_parser.h"
#include "model/string_array.h"

#include <set>
#include <string>
#include <vector>

class QNL_network;

// Diagnostic knowledge bases (".dxp"), read only: a "diagnostic network" header, then the
// blocks "kb" (network-wide fields), "nodes" (one entry per node with its states, fault states,
// diagnostic flags, cost and screen data) and "network" (per node its parents and either a
// probability table given row by row or noisy-MAX parameters). Keywords are matched without
// regard to letter case, node and state fields as they are spelled. Every row and index is
// checked against the node before anything is placed.
class QNL_kiFormat : public QNL_textParser {
public:
    static constexpr int SCANNER_MODE = 1;

    explicit QNL_kiFormat(QNL_network* network);

    int Read(const char* path) override;
    // Always refused: -2 "Writing to KI file format not supported.", and no file.
    int Write(const char* path) override;

    // name ":" token of the kind / integer.
    int ReadProperty(const char* name, int kind) override;
    int ReadIntegerProperty(const char* name, int* out) override;
    // name "=" "{"; a null name reads nothing.
    int ReadBlockStart(const char* name) override;

    // The fault-name format a state's "APPNAME" text asks for: 3 with "&node" and "&state", 1
    // with "&node" alone, 2 with "&state" alone, 4 (inherit) otherwise.
    static int FaultNameFormatOf(const std::string& text);

private:
    int ReadKnowledgeBase();
    int ExpectWord(const char* word);
    int ReadBlockOpening(const char* keyword);
    int ReadKbField();
    int ReadNodeEntry();
    int ReadNodeStatement(int node);
    int ReadStates(int node);
    int ReadStateEntry(int node, int index);
    int ReadStateField(int node, int index);
    void SetDiagnosisType(int node);
    int ReadNetworkEntry();
    int ReadDefinitionStatement(int node);
    int ReadTable(int node);
    int ReadFunction(int node);
    int ReadRow(std::vector<int>& configuration, std::vector<double>& numbers);
    int ReadNumbers(std::vector<double>& numbers);
    int SkipToSemicolon();
    void SkipEntry();
    int ReportNode(int node, const std::string& what);
    void RoundAndTrim();

    quarn::detail::ForeignNodeNames names;
    // The raw state names of each node read, in the order of their state lists.
    std::vector<QNL_stringArray> stateNames;
    // Fault labels given so far: a label names one state of the whole network.
    std::set<std::string> labels;
    int observable = -1;
    int mandatory = -1;
    int hypothesis = -1;
    int recommendable = -1;
};
