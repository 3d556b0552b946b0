#pragma once

#include "formats/text_parser.h"
#include "model/double_array.h"
#include "model/int_array.h"
#include "model/node_info.h"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The XMLBIF 0.3 interchange format (".xml03"): chance ("nature"), decision and utility
// variables with their outcomes, parents and tables. The file is read with the format
// scanner: the XML markup the scanner cannot tokenise (comments, declarations, processing
// instructions, CDATA, entities, raw character data) is first rewritten into the scanner's
// tokens, element text becoming one string token with its original characters. Names from
// other tools are taken as raw text and repaired into identifiers, the raw text staying the
// node's name. The writer refuses a network it cannot express before touching the file.
class QNL_xmlbifFormat : public QNL_textParser {
public:
    explicit QNL_xmlbifFormat(QNL_network* network);
    ~QNL_xmlbifFormat() override = default;

    int Read(const char* path) override;
    int Write(const char* path) override;

    // Skips everything up to and including the end tag of the element open at the current
    // position (nested elements inside it are skipped whole). 0, or the scanner's code at
    // the end of the input.
    int SkipStatement() override;

    int BeginQuotedText() override { return BeginContinuation(); }
    int EndQuotedText() override { return EndContinuation(); }

private:
    // One step of the document: a start tag with its attributes, an end tag, or the text
    // between tags.
    struct Item {
        enum Kind { START, END, TEXT } kind = TEXT;
        std::string name;
        std::vector<std::pair<std::string, std::string>> attributes;
        std::string text;
    };

    int NextItem(Item& item);
    int ReadDocument();
    int ReadNetwork();
    int ReadVariable(const Item& start);
    int ReadDefinition();
    // The text of the element whose start tag was just read, nested elements left out.
    int ReadElementText(const char* name, std::string& text);
    int SkipElement(const char* name);
    int MissingEndTag(const char* name, int code);
    int ReportMisplaced(const std::string& name);
    int ReportUnexpectedEndTag(const std::string& found, const char* expected);

    void SetNetworkName(const std::string& raw);
    void SetNetworkId();
    void FreeNetworkId(const std::string& id);
    void ApplyProperty(int node, const std::string& text);
    int FindRawName(const std::string& raw) const;
    std::string UniqueNodeId(const std::string& raw) const;
    void ApplyDefinition(int node, const std::string& forName);

    // Checks every node before the file is opened; -2 with a message for one the format
    // cannot carry.
    int CheckWritable();
    int WriteDocument();
    int WriteElementLine(const char* element, const std::string& content);
    int WriteProperties(const std::string& id, const char* name, const QNL_screenInfo* screen,
                        const QNL_userProperties& properties);
    int WriteVariable(int node);
    int WriteDefinition(int node);

    // The raw NAME text of every variable read, with its node.
    std::unordered_map<std::string, int> rawNames;
    // The network's NAME, made its identifier at the end of the read.
    std::string networkName;
    bool networkNamed = false;
    // The DEFINITION being read.
    QNL_intArray parentList;
    QNL_doubleArray table;
    int forNode = -1;
    bool tableRead = false;
    bool tableValid = false;
};
