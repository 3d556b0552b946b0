#pragma once

// Internal: not part of the public interface.

#include "formats/text_lines.h"
#include "formats/text_parser.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"

#include <new>
#include <string>
#include <unordered_map>
#include <vector>

class QNL_nodeDefinition;
class QNL_stringArray;
class QNL_doubleArray;

// What the readers and writers of the text formats of other tools (Hugin, MSBN) share: node
// names as those tools write them, their list and property forms, the statement and block
// recovery of their readers and the frame of their writers.
namespace quarn::detail {

// Node names as other tools write them. A name that is a valid identifier is the node's
// identifier; any other (purely numeric names, say) is repaired with the identifier rule,
// made unique, and kept as the node's name, and later references to the file's name still
// find the node.
class ForeignNodeNames {
public:
    explicit ForeignNodeNames(QNL_network* network) : network(network) {}

    // The node of a name read from the file; -2 when there is none.
    int Find(const std::string& raw) const;
    // AddNode under the name or its repair: the handle, or AddNode's code (-2 for a name
    // already taken).
    int Create(int type, const std::string& raw);
    // Before a node read from the file is deleted again.
    void Forget(int handle);
    void Clear() { repaired.clear(); }

private:
    QNL_network* network;
    std::unordered_map<std::string, int> repaired;
};

// Gives the definition the states named in the file, each repaired into a valid identifier
// unique among them; the result of SetNumberOfOutcomes.
int SetOutcomesFromNames(QNL_nodeDefinition* definition, const QNL_stringArray& names);

// Tools that store probabilities as 32-bit floats write round-off such as -1.1920929E-7, the
// rest of its column then summing a little under 1. An entry that far below 0, down to the
// column-sum tolerance of a probability table, becomes 0 before the reader checks or
// normalises its columns; a more negative one is left for the table to refuse.
void ClearRoundOff(double* values, int count);

// The table shape a writer of a foreign format sees for a node: one level per parent that
// owns a table dimension, then the node's own outcomes (1 for a utility node). False when
// the definition's table does not have that many values.
bool TableShape(QNL_network* network, int node, std::vector<int>& sizes, QNL_doubleArray& values);

// Whether every value is a finite number. The text formats have no number text for an
// infinity or a NaN: "%.8f" gives "inf" or "nan", which no reader takes for a number, so a
// table holding one would make the whole file unreadable.
bool AllFinite(const QNL_doubleArray& values);

// The kinds of a node's numbers a writer puts into its file, for HoldsFiniteNumbers.
enum NodeNumbers : unsigned {
    // What GetDefinition gives: a table (a gate's is the one it expands to), or the weights
    // of a multi-attribute utility node. A definition without values has none.
    DEFINITION_NUMBERS = 1,
    // A gate's own numbers and the table they give: noisy-MAX and noisy-adder parameters and
    // the adder's weights, CAST weights and baseline, DeMorgan weights and prior belief. A
    // non-finite one can expand to a finite table (a cumulative sum clamped to 0) that is not
    // the gate's distribution, so a format that writes the gate as its table checks these too.
    // None for a node that is not a gate.
    GATE_NUMBERS = 2,
    // The observation costs.
    COST_NUMBERS = 4,
};
// Whether every number of those kinds (NodeNumbers bits) that the node holds is finite.
bool HoldsFiniteNumbers(const QNL_node* node, unsigned kinds);

// The most cells a table read from a file may hold: the model's own limit. A node is checked
// once its parents in the file are known and refused before any arc is added: arc by arc, its
// table would double up to that limit, and a file of a few kilobytes could take gigabytes on
// the way.
constexpr long long MAX_READ_TABLE_CELLS = QNL_network::MAX_TABLE_CELLS;

// The cells the child's table would hold with these parents (`layer` 0: arcs of the
// definition, 1: cost arcs); the count stops just past MAX_READ_TABLE_CELLS. A decision has
// no table: 0.
long long CellsWithParents(QNL_network* network, int child, const std::vector<int>& parents,
                           int layer);
// "Matrix too large: the table of node '<id>' would hold more than <MAX_READ_TABLE_CELLS> cells"
std::string TooLargeTableMessage(QNL_network* network, int child);

// The identifier written for a node without one.
constexpr const char* UNNAMED_NODE = "_Unnamed_Node_";

// Logs -42 and returns it.
int FormatOutOfMemory();

// The file's bytes turned by `prepare` into the text its reader scans: -103 naming the path
// when the file can't be read, -42 when memory runs out.
template <class Prepare> int ReadPreparedText(const char* path, std::string& text, Prepare prepare) {
    try {
        std::string bytes;
        const int result = ReadFileBytes(path, bytes);
        if (result == -103)
            return QNL_errorHandler::Instance().LogError(-103, OpenFailedMessage(path));
        if (result != 0) return FormatOutOfMemory();
        text = prepare(bytes);
    } catch (const std::bad_alloc&) {
        return FormatOutOfMemory();
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Reading

// "(" strings ")" and "(" numbers ")", the items without commas; -567 for a list object
// that is not valid.
int ReadBareStringList(QNL_textParser& parser, QNL_stringArray& list);
int ReadBareRealList(QNL_textParser& parser, QNL_doubleArray& list);

// True when the next token can name a node: an identifier or an integer, and a real number
// too where the tool writes such names.
bool NextIsNodeName(QNL_textParser& parser, bool realNames);

// The statement pattern of a block: statements each ended by ";" up to the closing brace. A
// failed statement is skipped up to its ";"; a missing ";" after a good one is reported too,
// since whatever follows up to the next ";" is passed over.
template <typename Statement> void ReadStatements(QNL_textParser& parser, Statement statement) {
    while (!parser.AtBlockEnd()) {
        if (statement() != 0) {
            parser.SkipStatement();
            if (parser.ExpectQuiet(QNL_textParser::PUNCTUATOR, ";") != 0) parser.SkipStatement();
            continue;
        }
        if (parser.AtBlockEnd()) break;
        if (parser.Expect(QNL_textParser::PUNCTUATOR, ";") != 0) {
            parser.SkipStatement();
            parser.ExpectQuiet(QNL_textParser::PUNCTUATOR, ";");
        }
    }
}

// What a top-level block reader answers for a word that opens no block it knows.
constexpr int UNKNOWN_BLOCK = 1;

// The top-level blocks up to the end of the input. `block` reads the block that the peeked
// word opens, or answers UNKNOWN_BLOCK; a block that fails is skipped, and an unknown word is
// reported as "ERROR: '<word>' : <unknown>" with `code` and its block skipped. 0, or -42.
template <typename Block>
int ReadBlocks(QNL_textParser& parser, const char* unknown, int code, Block block) {
    while (parser.PeekToken() == 0) {
        const int result = block();
        if (result == 0) continue;
        if (result != UNKNOWN_BLOCK) {
            parser.SkipBlock(0);
            continue;
        }
        try {
            parser.ReportError(code,
                               ("ERROR: '" + parser.GetTokenText() + "' : " + unknown).c_str());
        } catch (const std::bad_alloc&) {
            return FormatOutOfMemory();
        }
        parser.ConsumeToken();
        parser.SkipBlock(0);
    }
    return 0;
}

// What ReadNodeBlock answers for a node that was read and then deleted again.
constexpr int NODE_DELETED = 1;

// A node's block, once its kind and the name `raw` are read: creates the node, reads its
// statements between braces and checks it. 0 with the handle in `node`; the code of a node
// that could not be created or a block that does not open; NODE_DELETED after a node that
// was not valid was reported and deleted again (`node` still names its old handle). Throws
// std::bad_alloc when memory runs out.
template <typename Statement>
int ReadNodeBlock(QNL_textParser& parser, ForeignNodeNames& names, int type, const std::string& raw,
                  Statement statement, int& node) {
    node = names.Create(type, raw);
    if (node < 0)
        return parser.ReportError(node, ("ERROR: Couldn't Create Node (\"" + raw + "\")").c_str());
    const int result = parser.Expect(QNL_textParser::PUNCTUATOR, "{");
    if (result != 0) return result;
    const int handle = node;
    ReadStatements(parser, [&statement, handle] { return statement(handle); });
    if (parser.ReadBlockEnd() != 0) parser.SkipBlock(1);

    QNL_network* network = parser.GetNetwork();
    QNL_node* n = network->GetNode(node);
    n->CheckConsistency(1);
    if (n->IsValid()) return 0;
    names.Forget(node);
    network->DeleteNode(node);
    parser.ReportError(-567,
                       ("ERROR: Node not ready (valid). Node (\"" + raw + "\") deleted").c_str());
    return NODE_DELETED;
}

// The child named at the start of a table block: its handle, or the code of a missing or
// unknown name (reported). Throws std::bad_alloc when memory runs out.
int ReadTableChild(QNL_textParser& parser, const ForeignNodeNames& names, bool realNames);
// The parents named next: their names, and their handles (negative for a name that is no
// node). Throws std::bad_alloc.
void ReadParentNames(QNL_textParser& parser, const ForeignNodeNames& names, bool realNames,
                     std::vector<std::string>& parentNames, std::vector<int>& parents);
// Joins each parent to the child by an arc, in order; a parent that is unknown or cannot be
// joined is reported and passed over. A table beyond MAX_READ_TABLE_CELLS is reported with
// -42 and no arc is added: false then. Throws std::bad_alloc.
bool AddTableArcs(QNL_textParser& parser, int child, const std::vector<std::string>& parentNames,
                  const std::vector<int>& parents);
// Both, one after the other.
void ReadTableParents(QNL_textParser& parser, const ForeignNodeNames& names, int child,
                      bool realNames);

// ---------------------------------------------------------------------------------------
// Writing

// ("a"  "b"): quoted items, two blanks before each further one; (1.5 2): numbers, one blank.
int WriteQuotedList(QNL_textParser& parser, const QNL_stringArray& list, bool all);
int WriteBlankSeparatedList(QNL_textParser& parser, const QNL_doubleArray& list, bool all);
int WriteBlankSeparatedList(QNL_textParser& parser, const QNL_intArray& list, bool all);

// name separator value ";\n", nothing for a null name or value. A quoted value is escaped as
// `quotedEscaped` says; an unquoted one goes through the wrapping writer, escaped or not.
int WriteSeparatedProperty(QNL_textParser& parser, const char* name, const char* separator,
                           const char* value, bool quoted, bool quotedEscaped, bool escaped);

// Before the file is opened: a network with a multi-attribute utility node is refused with
// `refusal`, and so is a node that none of the tool's kinds expresses ("... not supported by
// <tool>") or whose table cannot be laid out or holds a value that is not finite.
int CheckWritable(QNL_textParser& parser, const char* refusal, const char* tool);

// The frame of a writer: the check, the file, then the header, every node's block and every
// node's table block, in the network's order and each between blank lines. The target is
// replaced only when everything was written.
template <typename Header, typename NodeBlock, typename TableBlock>
int WriteForeignFile(QNL_textParser& parser, const char* path, const char* refusal,
                     const char* tool, Header header, NodeBlock nodeBlock, TableBlock tableBlock) {
    QNL_network* network = parser.GetNetwork();
    if (network == nullptr) return -2;
    try {
        int result = CheckWritable(parser, refusal, tool);
        if (result != 0) return result;
        result = parser.OpenFile(path, QNL_textFile::WRITE_MODE);
        if (result != 0) return result;
        parser.SetIndentWidth(4);
        result = header();
        const QNL_intArray order(network->GetOrderedNodes());
        for (int i = 0; i < order.GetCount() && result == 0; ++i) {
            result = parser.GetOutputFile().Write("\n");
            if (result == 0) result = nodeBlock(order[i]);
            if (result == 0) result = parser.GetOutputFile().Write("\n");
        }
        for (int i = 0; i < order.GetCount() && result == 0; ++i) {
            result = parser.GetOutputFile().Write("\n");
            if (result == 0) result = tableBlock(order[i]);
            if (result == 0) result = parser.GetOutputFile().Write("\n");
        }
        if (result != 0) {
            parser.DiscardFile();
            return result;
        }
        return parser.CloseFile();
    } catch (const std::bad_alloc&) {
        parser.DiscardFile();
        return FormatOutOfMemory();
    }
}

} // namespace quarn::detail
