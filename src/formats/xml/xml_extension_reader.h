#pragma once

#include "formats/xml/xml_reader.h"
#include "model/node_info.h"
#include "model/rectangle.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class QNL_network;
class QNL_xmlNetworkReader;

// Reads the display and diagnosis block of the XML network format ("tavlo" inside
// "extensions"): node and submodel boxes with colours, positions, names and comments,
// submodels with their windows, text boxes, and per node the diagnosis texts (fault names,
// fixes, descriptions, links, question, fault name format). Nodes are named by their
// identifiers in the same file, resolved through the network reader. The reader owns the
// definitions of its elements; the network reader's schema refers to them while it reads.
class QNL_xmlExtensionReader {
public:
    explicit QNL_xmlExtensionReader(QNL_xmlNetworkReader* networkReader);
    ~QNL_xmlExtensionReader();
    QNL_xmlExtensionReader(const QNL_xmlExtensionReader&) = delete;
    QNL_xmlExtensionReader& operator=(const QNL_xmlExtensionReader&) = delete;

    // The element handler of the extension's root element, to plug into a reader.
    QNL_xmlElementHandler* GetRootDefinition() const { return root; }

private:
    enum class RecordKind { Node, Submodel, TextBox };

    // What an open "node", "submodel" or "textbox" collects until its end stores it.
    struct DisplayRecord {
        RecordKind kind = RecordKind::Node;
        int handle = -1;
        QNL_rectangle position;
        int interiorColor = QNL_screenInfo::NOT_SET;
        int outlineColor = QNL_screenInfo::NOT_SET;
        int outlineWidth = 1;
        int fontColor = QNL_screenInfo::NOT_SET;
        std::string name;
        std::string comment;
        bool hasComment = false;
        std::vector<std::pair<std::string, std::string>> links;
    };

    using Member = void (QNL_xmlExtensionReader::*)(QNL_xmlReader&);
    QNL_xmlElementHandler* Element(const char* name, Member start, Member end = nullptr,
                                   Member token = nullptr);
    void BuildSchema();

    void RootStart(QNL_xmlReader& reader);
    void NodeStart(QNL_xmlReader& reader);
    void NodeEnd(QNL_xmlReader& reader);
    void SubmodelStart(QNL_xmlReader& reader);
    void SubmodelEnd(QNL_xmlReader& reader);
    void TextBoxStart(QNL_xmlReader& reader);
    void TextBoxEnd(QNL_xmlReader& reader);
    void NameEnd(QNL_xmlReader& reader);
    void CommentEnd(QNL_xmlReader& reader);
    void InteriorStart(QNL_xmlReader& reader);
    void OutlineStart(QNL_xmlReader& reader);
    void FontStart(QNL_xmlReader& reader);
    void RectangleStart(QNL_xmlReader& reader);
    void RectangleToken(QNL_xmlReader& reader);
    void PositionEnd(QNL_xmlReader& reader);
    void WindowEnd(QNL_xmlReader& reader);
    void PlateStart(QNL_xmlReader& reader);
    void PlateEnd(QNL_xmlReader& reader);
    void StateStart(QNL_xmlReader& reader);
    void StateEnd(QNL_xmlReader& reader);
    void FixEnd(QNL_xmlReader& reader);
    void QuestionEnd(QNL_xmlReader& reader);
    void LinkStart(QNL_xmlReader& reader);

    // The colour attribute as 0x00BBGGRR; false after failing the parse.
    bool ReadColor(QNL_xmlReader& reader, int& color);
    // The four collected integers as a rectangle; false after failing the parse.
    bool TakeRectangle(QNL_xmlReader& reader, QNL_rectangle& out);
    DisplayRecord* Top();
    int CurrentSubmodel() const;

    QNL_xmlNetworkReader* networkReader;
    QNL_network* network;
    std::vector<std::unique_ptr<QNL_xmlElementHandler>> definitions;
    QNL_xmlElementHandler* root = nullptr;
    std::vector<DisplayRecord> records;
    std::vector<int> submodels;
    int currentOutcome = -1;
    std::vector<int> numbers;
    int numberPosition = 0;
    int plateLeftWidth = 0;
    int plateRightWidth = 0;
};

namespace quarn::detail {

// The value formats shared by the extension's reader and writer.
// Colours: six hexadecimal digits "rrggbb" in the file, 0x00BBGGRR in memory.
bool ParseColorText(const char* text, int& color);
std::string ColorText(int color);
// Rectangles: left, top, right, bottom in the file; centre and size in memory. The centre
// is rounded down, so a negative position comes back to the same corners.
bool RectangleFromCorners(long long left, long long top, long long right, long long bottom,
                          QNL_rectangle& out);
void CornersOfRectangle(const QNL_rectangle& rectangle, int corners[4]);
// Fault name formats: "user", "node", "state", "nodestate", "inherit" for 0 to 4.
int FaultNameFormatFromWord(const char* word);
const char* FaultNameFormatWord(int format);

} // namespace quarn::detail
