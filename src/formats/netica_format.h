#pragma once

#include "formats/foreign_format_support.h"
#include "formats/text_parser.h"
#include "model/double_array.h"
#include "model/string_array.h"

#include <string>
#include <utility>
#include <vector>

class QNL_nodeDefinition;

// The Netica text format (".dne"): a "bnet" block with the network's texts, its display
// settings and a block per node (kind, states, parents, table, texts, user fields, position).
// Files are read as the tool writes them: any line ends, tables as one flat list or nested by
// parents, and the many settings this library has no use for passed over quietly. A node's
// statements are collected first and the network built once the whole file is read, so a
// node may name parents defined after it, and a table is checked against its node whole.
class QNL_neticaFormat : public QNL_textParser {
public:
    static constexpr int SCANNER_MODE = 1;

    explicit QNL_neticaFormat(QNL_network* network);

    int Read(const char* path) override;
    int Write(const char* path) override;
    int WriteBlockStart(const char* name) override { return WriteBracedBlockStart(name); }
    int BeginQuotedText() override { return BeginContinuation(); }
    int EndQuotedText() override { return EndContinuation(); }

    // Reads text in memory as a file.
    int Parse(const std::string& text);

private:
    // What a node block said, kept until the file is read whole.
    struct NodeRecord {
        std::string id;
        int line = 0;
        int type = 18;
        bool constant = false;
        bool hasTitle = false;
        bool hasComment = false;
        std::string title;
        std::string comment;
        QNL_stringArray states;
        QNL_doubleArray levels;
        std::vector<std::string> parents;
        int parentsLine = 0;
        int probsLine = 0;
        bool hasProbs = false;
        QNL_doubleArray probs;
        int functableLine = 0;
        bool hasFunctable = false;
        QNL_doubleArray functableValues;
        QNL_stringArray functableIds;
        std::vector<std::pair<std::string, std::string>> user;
        std::vector<int> center;
        std::vector<int> size;
    };

    int ReadNetwork();
    int ReadNetStatement();
    int ReadNetVisual();
    int ReadParam();
    int ReadNode();
    int ReadNodeStatement(NodeRecord& record);
    int ReadKind(NodeRecord& record);
    int ReadChance(NodeRecord& record);
    int ReadUserBlock(NodeRecord& record);
    int ReadNodeVisual(NodeRecord& record);
    int ReadLinkBlock();
    int ReadTable(QNL_doubleArray* values, QNL_stringArray* ids);
    int ReadIntegers(const char* name, std::vector<int>& out);
    int SkipNamed();
    int Unknown(const char* what);

    void BuildNetwork();
    int CreateNode(NodeRecord& record);
    void SetTables(const NodeRecord& record, int node);
    void SetDeterministicProbs(const NodeRecord& record, QNL_nodeDefinition* definition);
    int TableLengthError(const NodeRecord& record, int line, int count, int wanted);

    int CheckWritable();
    int WriteNetwork();
    int WriteNode(int node);
    int WriteTable(int node, const char* name);
    int WriteFunctable(int node);
    int WriteNested(const std::vector<int>& sizes, int flat, const std::vector<std::string>& items);
    int WriteBlockClose();

    quarn::detail::ForeignNodeNames names;
    std::vector<NodeRecord> records;
    std::vector<int> handles;
};
