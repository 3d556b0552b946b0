#pragma once

#include "formats/foreign_format_support.h"
#include "formats/text_parser.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QNL_network;
class QNL_stringArray;
class QNL_doubleArray;

// The Hugin text format (".net"): a "net" block, a block per node with its label, position,
// states and string attributes, and a "potential" block per node with its parents and table.
// Files are read as the tools that write them write them: the "net" block may be missing,
// states may be unquoted, node names may be numbers. The vertical axis of the file points
// the other way from the network's; the mirror used maps the occupied range onto itself,
// so a network written and read back keeps its positions.
class QNL_huginFormat : public QNL_textParser {
public:
    static constexpr int SCANNER_MODE = 3;

    explicit QNL_huginFormat(QNL_network* network);

    int Read(const char* path) override;
    int Write(const char* path) override;

    // "(" strings without commas ")"; -567 for a list object that is not valid.
    int ReadIdentifierList(QNL_stringArray& list) override;
    // "(" numbers without commas ")".
    int ReadRealList(QNL_doubleArray& list) override;
    // ("a"  "b"): quoted items, two blanks before each further one.
    int WriteIdentifierList(const QNL_stringArray& list, bool all) override;
    int WriteRealList(const QNL_doubleArray& list, bool all) override;
    int WriteIntegerList(const QNL_intArray& list, bool all) override;
    // name " = " value ";\n"; a quoted value is escaped whatever the flag says, so any text
    // reads back as it was.
    int WriteProperty(const char* name, const char* value, bool quoted, bool escaped) override;
    int WriteBlockStart(const char* name) override;

    // name "=" list; -129 when the name is not next.
    int ReadListProperty(const char* name, QNL_stringArray& list);
    int ReadRealListProperty(const char* name, QNL_doubleArray& list);

private:
    int Parse(const std::string& text);
    int ReadNetBlock();
    int ReadNetStatement();
    int ReportNodesWithoutPotential();
    int ReadNode();
    int ReadNodeStatement(int node);
    int ReadPotential();
    int ReadData(QNL_doubleArray& values);
    int SetTable(int node, QNL_doubleArray& values);
    // False, with the node reported, when `count` values cannot be its table under these
    // parents.
    bool TableFits(int node, const std::vector<int>& parents, long long count);
    bool ExpandSingleStates(int node, QNL_doubleArray& values);
    void MirrorPositions();

    int WriteNode(int node, int mirror);
    int WritePotential(int node);
    int WriteTable(int node);

    // The definition type of the node being read.
    int nodeType = 18;
    quarn::detail::ForeignNodeNames names;
    // The number of states a node was given in the file, where the definition has more (a
    // table needs at least two outcomes).
    std::unordered_map<int, int> fewerStates;
    // The nodes a potential named.
    std::unordered_set<int> withPotential;
};
