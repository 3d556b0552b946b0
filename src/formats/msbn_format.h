#pragma once

#include "formats/foreign_format_support.h"
#include "formats/text_parser.h"
#include "model/double_array.h"

#include <vector>

class QNL_network;

// The MSBN text format (".dsc"): a "belief network" header, a "node" block per node with
// its name, position and states, and a "probability", "utility" or "information" block per
// node with its parents and its table, given row by row behind the parents' state indices.
// Properties are written "key : value". Every cell of a table must be given once: a row for
// a parent configuration outside the table, a row too long or too short, a row given twice
// or missing, and probabilities that do not sum to 1 are reported.
class QNL_msbnFormat : public QNL_textParser {
public:
    static constexpr int SCANNER_MODE = 4;

    explicit QNL_msbnFormat(QNL_network* network);

    int Read(const char* path) override;
    int Write(const char* path) override;

    // "(" strings ")"; the commas between them are blanks to the scanner.
    int ReadIdentifierList(QNL_stringArray& list) override;
    int ReadRealList(QNL_doubleArray& list) override;
    int ReadIntegerList(QNL_intArray& list) override;
    int WriteIdentifierList(const QNL_stringArray& list, bool all) override;
    int WriteRealList(const QNL_doubleArray& list, bool all) override;
    // name " : " "(" i ", " j ")" ";\n".
    int WriteIntegerListProperty(const char* name, const QNL_intArray& list, bool all) override;
    // name ":" token of the kind.
    int ReadProperty(const char* name, int kind) override;
    // name " : " value ";\n"; quoted values escaped when asked.
    int WriteProperty(const char* name, const char* value, bool quoted, bool escaped) override;
    int WriteBlockStart(const char* name) override;

private:
    int ReadNetwork();
    int ReadNode();
    int ReadNodeStatement(int node);
    int ReadStates(int node);
    int ReadTableBlock();
    int SkipTableBody();
    int ReadTableStatement(int node);
    int FinishTable(int node);

    int WriteNode(int node);
    int WriteTableBlock(int node);

    // The definition type of the node being read.
    int nodeType = 18;
    quarn::detail::ForeignNodeNames names;

    // The table of the block being read: its shape, its values and how often each cell was
    // given.
    std::vector<int> tableSizes;
    QNL_doubleArray tableValues;
    std::vector<unsigned char> given;
    bool tableOverrun = false;
};
