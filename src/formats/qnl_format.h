#pragma once

#include "formats/text_parser.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/string_array.h"

#include <string>
#include <vector>

class QNL_documentation;
class QNL_header;
class QNL_nodeCost;
class QNL_rectangle;
class QNL_screenInfo;
class QNL_submodel;
class QNL_userProperties;
struct QNL_creationRecord;

// The library's own keyword text format (".qnl"): a "net" block with the network's header and
// display data, its submodels, its nodes (type, display data, parents, definition statements
// and diagnostic data) and the observation costs, every statement ended by ";". Reading is
// forgiving: a statement that cannot be understood is reported with its line and skipped,
// and the read then ends with the first code met. A node's tables are applied once the
// whole node is read, so they fit the parents however the statements were ordered, and a
// table of the wrong length is refused whole. The writer refuses, before any file is
// touched, a network holding what the format has no statements for.
class QNL_textFormat : public QNL_textParser {
public:
    static constexpr int SCANNER_MODE = 1;

    explicit QNL_textFormat(QNL_network* network);

    int Read(const char* path) override;
    int Write(const char* path) override;

    // Named blocks: name "=" "{" ... "}".
    int ReadBlockStart(const char* name) override { return ReadNamedBlockStart(name); }
    int WriteBlockStart(const char* name) override { return WriteNamedBlockStart(name); }
    int BeginQuotedText() override { return BeginContinuation(); }
    int EndQuotedText() override { return EndContinuation(); }

    // name "=" list; -129 (no message) when the name is not next.
    int ReadIdentifierListProperty(const char* name, QNL_stringArray& list);
    int ReadRealListProperty(const char* name, QNL_doubleArray& list);
    int ReadIntegerListProperty(const char* name, QNL_intArray& list);
    int ReadStringListProperty(const char* name, QNL_stringArray& list);

    // The small writers other formats of the same family call. Each returns 0 or the output
    // file's code.
    int WriteHeaderFields(const QNL_header& header);
    int WriteHeaderBlock(const QNL_header& header);
    int WriteUserProperties(const QNL_userProperties& properties);
    int WriteDocumentation(const QNL_documentation& documents);
    int WriteCreation(const QNL_creationRecord& creation);
    int WriteRectangle(const QNL_rectangle& rectangle);
    int WriteScreenFields(const QNL_screenInfo& screen);
    int WriteScreenBlock(const QNL_screenInfo& screen);
    int WriteScreenComment(const char* text, const QNL_rectangle& rectangle);

protected:
    // The block loop: the statements up to the closing brace and the brace. A statement that
    // fails is skipped up to its ";"; one that fails without a message gets one.
    template <typename Statement> void ReadStatementsOf(Statement statement);

private:
    // A table statement of a node's definition, kept until the node is read whole.
    struct PendingTable {
        std::string keyword;
        int line = 0;
        QNL_doubleArray reals;
        QNL_intArray integers;
        QNL_stringArray identifiers;
        std::string text;
    };

    // Reading.
    int ReadNetwork();
    int ReadNetStatement();
    int ReadNetField();
    int ReadHeaderBlock(QNL_header& header);
    int ReadCreationBlock();
    int ReadRectangleBlock(const char* name, QNL_rectangle& rectangle);
    int ReadScreenBlock(QNL_screenInfo& screen);
    int ReadScreenComment(QNL_submodel& submodel);
    int ReadPropertiesBlock(QNL_userProperties& properties);
    int ReadDocumentationBlock(QNL_documentation& documents);
    int ReadSubmodel();
    int ReadNode();
    int ReadNodeStatement(int node);
    int ReadParents(int node);
    // Adds the arcs from the listed parents in one arc layer; arcName goes into the message.
    int AddParentArcs(int node, const QNL_stringArray& ids, int layer, const char* arcName);
    int SetNodeType(int node, int type);
    int ReadDefinitionStatement(int node);
    int ReadExtraStatement(int node);
    int ReadCostBlock();
    int ReadCostEntry();
    int ReadCostStatement(int node);
    int ReportUnknown(const char* what);
    int ReportAt(int line, int code, const std::string& text);

    void ApplyPendingTables(int node);
    int ApplyTable(int node, const PendingTable& table);
    int ApplyProbabilities(int node, const PendingTable& table);
    int ApplyNoisyAnd(int node, const PendingTable& table);
    int ApplyStrengths(int node, const PendingTable& table);
    int CheckLength(int node, const PendingTable& table, int count, int wanted);

    // Writing.
    int CheckWritable();
    int WriteNetwork();
    int WriteSubmodel(int handle);
    int WriteNode(int node);
    int WriteDefinition(int node);
    int WriteExtraDefinition(int node);
    int WriteCostEntry(int node);
    int WriteEntryStart(const char* keyword, const char* id);
    int WriteEntryEnd();
    int WriteIdentifierProperty(const char* name, const char* id);
    int WriteRectangleBlock(const char* name, const QNL_rectangle& rectangle);
    int WriteNodeIdList(const char* name, const QNL_intArray& nodes);

    bool noisyOr = false;
    bool noisyAnd = false;
    int documentationCounter = 0;
    std::vector<PendingTable> pending;
};

template <typename Statement> void QNL_textFormat::ReadStatementsOf(Statement statement) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    while (!AtBlockEnd()) {
        const int logged = log.GetNumberOfErrors();
        if (const int result = statement()) {
            // Some primitives fail without a word (a number out of range, a list ending in a
            // comma): the statement is lost, so it is reported here.
            if (log.GetNumberOfErrors() == logged) {
                PeekToken();
                ReportError(result, ("ERROR: '" + GetTokenText() + "' : Unexpected").c_str());
            }
            SkipStatement();
            if (ExpectQuiet(PUNCTUATOR, ";") != 0) SkipStatement();
            continue;
        }
        if (AtBlockEnd()) break;
        // A statement without its ";" would take the next one with it unreported.
        if (Expect(PUNCTUATOR, ";") != 0) {
            SkipStatement();
            ExpectQuiet(PUNCTUATOR, ";");
        }
    }
    if (ReadBlockEnd() != 0) SkipUnknownStatement();
}
