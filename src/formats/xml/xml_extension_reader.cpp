#include "formats/xml/xml_extension_reader.h"

#include "definitions/extra_definition.h"
#include "formats/xml/xml_network_reader.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/submodel.h"
#include "model/temporal_network.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

namespace quarn::detail {

namespace {

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int ClampToInt(long long value) {
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

long long FloorHalf(long long value) {
    return value >= 0 ? value / 2 : -((-value + 1) / 2);
}

const char* const FAULT_NAME_FORMAT_WORDS[] = {"user", "node", "state", "nodestate", "inherit"};

} // namespace

bool ParseColorText(const char* text, int& color) {
    if (text == nullptr || std::strlen(text) != 6) return false;
    int channels[3];
    for (int i = 0; i < 3; ++i) {
        const int high = HexDigit(text[2 * i]);
        const int low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        channels[i] = high * 16 + low;
    }
    color = channels[0] | (channels[1] << 8) | (channels[2] << 16);
    return true;
}

// A colour that was never set, or one with bits above the three channels, is written with
// its channels only: the file always holds exactly six digits.
std::string ColorText(int color) {
    const unsigned value = static_cast<unsigned>(color);
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", value & 0xFFu, (value >> 8) & 0xFFu,
                  (value >> 16) & 0xFFu);
    return text;
}

bool RectangleFromCorners(long long left, long long top, long long right, long long bottom,
                          QNL_rectangle& out) {
    const long long width = right >= left ? right - left : left - right;
    const long long height = bottom >= top ? bottom - top : top - bottom;
    if (width > INT_MAX || height > INT_MAX) return false;
    out.x = static_cast<int>(FloorHalf(left + right));
    out.y = static_cast<int>(FloorHalf(top + bottom));
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    return true;
}

// Corners the reader takes back: each an int, and no span wider than an int can hold (a width
// of INT_MIN once gave one, and the file did not read).
void CornersOfRectangle(const QNL_rectangle& rectangle, int corners[4]) {
    const long long left = static_cast<long long>(rectangle.x) - rectangle.width / 2;
    const long long top = static_cast<long long>(rectangle.y) - rectangle.height / 2;
    corners[0] = ClampToInt(left);
    corners[1] = ClampToInt(top);
    const auto within = [](long long from, long long to) {
        return ClampToInt(std::clamp<long long>(to, from - INT_MAX, from + INT_MAX));
    };
    corners[2] = within(corners[0], left + rectangle.width);
    corners[3] = within(corners[1], top + rectangle.height);
}

int FaultNameFormatFromWord(const char* word) {
    for (int i = 0; i < 5; ++i)
        if (word != nullptr && std::strcmp(word, FAULT_NAME_FORMAT_WORDS[i]) == 0) return i;
    return -1;
}

const char* FaultNameFormatWord(int format) {
    return format >= 0 && format < 5 ? FAULT_NAME_FORMAT_WORDS[format] : "user";
}

} // namespace quarn::detail

namespace detail = quarn::detail;
using Flags = QNL_xmlElementHandler;
using detail::Quoted;

QNL_xmlExtensionReader::QNL_xmlExtensionReader(QNL_xmlNetworkReader* networkReader)
    : networkReader(networkReader), network(networkReader->GetNetwork()) {
    BuildSchema();
}

QNL_xmlExtensionReader::~QNL_xmlExtensionReader() = default;

QNL_xmlElementHandler* QNL_xmlExtensionReader::Element(const char* name, Member start, Member end,
                                                       Member token) {
    using Callbacks = detail::XmlMemberCallbacks<QNL_xmlExtensionReader>;
    // The root, created first, is lenient; every other element inherits its strictness.
    definitions.push_back(std::make_unique<QNL_xmlElementHandler>(
        std::make_unique<Callbacks>(this, start, end, token), name,
        definitions.empty() ? Flags::LENIENT : Flags::INHERIT));
    return definitions.back().get();
}

void QNL_xmlExtensionReader::BuildSchema() {
    using R = QNL_xmlExtensionReader;
    auto withAttributes = [](QNL_xmlElementHandler* element,
                             std::initializer_list<const char*> required,
                             std::initializer_list<const char*> optional) {
        for (const char* attribute : required)
            element->AddAttribute(attribute, Flags::REQUIRED);
        for (const char* attribute : optional)
            element->AddAttribute(attribute, 0);
        return element;
    };

    root = withAttributes(
        Element("tavlo", &R::RootStart), {"version", "name"},
        {"app", "faultnameformat", "arccolor", "costarccolor", "arcwidth", "costarcwidth"});
    QNL_xmlElementHandler* node =
        withAttributes(Element("node", &R::NodeStart, &R::NodeEnd), {"id"}, {"faultnameformat"});
    QNL_xmlElementHandler* submodel =
        withAttributes(Element("submodel", &R::SubmodelStart, &R::SubmodelEnd), {"id"}, {});
    QNL_xmlElementHandler* textBox = Element("textbox", &R::TextBoxStart, &R::TextBoxEnd);

    QNL_xmlElementHandler* name = Element("name", nullptr, &R::NameEnd);
    QNL_xmlElementHandler* caption = Element("caption", nullptr, &R::NameEnd);
    QNL_xmlElementHandler* comment = Element("comment", nullptr, &R::CommentEnd);
    QNL_xmlElementHandler* interior =
        withAttributes(Element("interior", &R::InteriorStart), {"color"}, {});
    QNL_xmlElementHandler* outline =
        withAttributes(Element("outline", &R::OutlineStart), {"color"}, {"width"});
    QNL_xmlElementHandler* font = withAttributes(Element("font", &R::FontStart),
                                                 {"name", "size", "color"}, {"bold", "italic"});
    QNL_xmlElementHandler* textFont = withAttributes(
        Element("font", &R::FontStart), {"name", "size", "color"}, {"bold", "italic", "align"});
    QNL_xmlElementHandler* position =
        Element("position", &R::RectangleStart, &R::PositionEnd, &R::RectangleToken);
    QNL_xmlElementHandler* window =
        Element("window", &R::RectangleStart, &R::WindowEnd, &R::RectangleToken);
    QNL_xmlElementHandler* state = withAttributes(Element("state", &R::StateStart, &R::StateEnd),
                                                  {"id"}, {"globalid", "faultname"});
    QNL_xmlElementHandler* link =
        withAttributes(Element("link", &R::LinkStart), {"title", "path"}, {});
    QNL_xmlElementHandler* fix = Element("fix", nullptr, &R::FixEnd);
    QNL_xmlElementHandler* question = Element("question", nullptr, &R::QuestionEnd);

    // Accepted and not kept.
    QNL_xmlElementHandler* barchart =
        withAttributes(Element("barchart", nullptr), {}, {"active", "width", "height"});
    QNL_xmlElementHandler* defComment =
        withAttributes(Element("defcomment", nullptr), {"row", "col"}, {});
    QNL_xmlElementHandler* costComment =
        withAttributes(Element("costcomment", nullptr), {"row", "col"}, {});
    QNL_xmlElementHandler* arcComment =
        withAttributes(Element("arccomment", nullptr), {"parent", "child"}, {"order", "cost"});
    QNL_xmlElementHandler* arcFormat = withAttributes(
        Element("arcformat", nullptr), {"parent", "child", "width", "color"}, {"order", "cost"});
    QNL_xmlElementHandler* diagAutoFormat =
        withAttributes(Element("diagautoformat", nullptr),
                       {"target", "targetnr", "observation", "observationnr", "auxiliary"}, {});
    QNL_xmlElementHandler* qualColors =
        withAttributes(Element("qualcolors", nullptr), {"left", "center", "right"}, {"blend"});
    QNL_xmlElementHandler* plate =
        Element("plate", &R::PlateStart, &R::PlateEnd, &R::RectangleToken);
    plate->AddAttribute("leftwidth", Flags::REQUIRED);
    plate->AddAttribute("rightwidth", Flags::REQUIRED);

    constexpr int ONCE = 0;
    constexpr int REQUIRED = Flags::REQUIRED;
    constexpr int MANY = Flags::MULTIPLE;
    for (auto [child, flags] : {std::pair{node, MANY},
                                {submodel, MANY},
                                {textBox, MANY},
                                {comment, ONCE},
                                {arcComment, MANY},
                                {arcFormat, MANY},
                                {diagAutoFormat, ONCE},
                                {qualColors, ONCE},
                                {plate, ONCE}})
        root->AddChild(child, flags);
    for (auto [child, flags] : {std::pair{name, REQUIRED},
                                {interior, REQUIRED},
                                {outline, REQUIRED},
                                {font, REQUIRED},
                                {position, REQUIRED},
                                {comment, ONCE},
                                {defComment, MANY},
                                {costComment, MANY},
                                {barchart, ONCE},
                                {state, MANY},
                                {link, MANY},
                                {question, ONCE}})
        node->AddChild(child, flags);
    for (auto [child, flags] : {std::pair{name, REQUIRED},
                                {interior, REQUIRED},
                                {outline, REQUIRED},
                                {font, REQUIRED},
                                {position, REQUIRED},
                                {comment, ONCE},
                                {node, MANY},
                                {submodel, MANY},
                                {textBox, MANY},
                                {window, ONCE}})
        submodel->AddChild(child, flags);
    for (auto [child, flags] : {std::pair{caption, REQUIRED},
                                {textFont, REQUIRED},
                                {position, REQUIRED},
                                {comment, ONCE}})
        textBox->AddChild(child, flags);
    for (auto [child, flags] : {std::pair{link, MANY}, {fix, ONCE}, {comment, ONCE}})
        state->AddChild(child, flags);
}

QNL_xmlExtensionReader::DisplayRecord* QNL_xmlExtensionReader::Top() {
    return records.empty() ? nullptr : &records.back();
}

int QNL_xmlExtensionReader::CurrentSubmodel() const {
    return submodels.empty() ? QNL_submodelHandler::MAIN_HANDLE : submodels.back();
}

// ---- network, nodes, submodels, text boxes ----

void QNL_xmlExtensionReader::RootStart(QNL_xmlReader& reader) {
    std::string version, name;
    reader.GetStringAttribute("version", version);
    if (!reader.CheckVersion(version, "1.0")) return;
    reader.GetStringAttribute("name", name);
    QNL_header* header = network->GetHeader();
    if (!name.empty() && (header == nullptr || header->SetName(name.c_str()) != 0)) {
        reader.Fail("Out of memory");
        return;
    }
    int format = QNL_extraDefinition::FAULT_NAME_USER;
    if (const char* word = reader.FindAttribute("faultnameformat")) {
        format = detail::FaultNameFormatFromWord(word);
        if (format == QNL_extraDefinition::FAULT_NAME_INHERIT) {
            reader.Fail("Inherited fault name format not allowed here");
            return;
        }
        if (format < 0) {
            reader.Fail(std::string("Invalid fault name format: ") + Quoted(word));
            return;
        }
    }
    network->SetFaultNameFormat(format);
}

void QNL_xmlExtensionReader::NodeStart(QNL_xmlReader& reader) {
    std::string id;
    reader.GetStringAttribute("id", id);
    const int handle = networkReader->FindNodeHandle(id);
    QNL_node* node = network->GetNode(handle);
    if (handle < 0 || node == nullptr) {
        reader.Fail("Node " + Quoted(id) + " doesn't exist in QUARN network");
        return;
    }
    int format = QNL_extraDefinition::FAULT_NAME_INHERIT;
    if (const char* word = reader.FindAttribute("faultnameformat")) {
        format = detail::FaultNameFormatFromWord(word);
        if (format < 0) {
            reader.Fail(std::string("Invalid fault name format: ") + Quoted(word));
            return;
        }
    }
    if (node->SetSubmodel(CurrentSubmodel()) != 0) {
        reader.Fail("Can't place node " + Quoted(id) + " in its submodel");
        return;
    }
    node->GetInfo()->documentation.Flush();
    if (QNL_extraDefinition* extra = node->GetExtraDefinition()) extra->SetFaultNameFormat(format);
    records.emplace_back();
    records.back().kind = RecordKind::Node;
    records.back().handle = handle;
}

void QNL_xmlExtensionReader::NodeEnd(QNL_xmlReader& reader) {
    DisplayRecord* record = Top();
    if (record == nullptr || record->kind != RecordKind::Node) return;
    QNL_node* node = network->GetNode(record->handle);
    QNL_nodeInfo* info = node != nullptr ? node->GetInfo() : nullptr;
    if (info != nullptr) {
        bool stored =
            info->header.SetName(record->name.c_str()) == 0 &&
            (!record->hasComment || info->header.SetComment(record->comment.c_str()) == 0);
        QNL_screenInfo& screen = info->screen;
        screen.color = record->interiorColor;
        screen.borderColor = record->outlineColor;
        screen.borderThickness = record->outlineWidth;
        screen.fontColor = record->fontColor;
        screen.position = record->position;
        for (const auto& [title, path] : record->links)
            if (info->documentation.AddDocument(title.c_str(), path.c_str()) != 0) stored = false;
        if (!stored) reader.Fail("Out of memory");
    }
    records.pop_back();
}

void QNL_xmlExtensionReader::SubmodelStart(QNL_xmlReader& reader) {
    std::string id;
    reader.GetStringAttribute("id", id);
    const int handle = network->GetSubmodelHandler().CreateSubmodel(CurrentSubmodel(), id.c_str());
    if (handle < 0) {
        reader.Fail("Can't create submodel: " + Quoted(id));
        return;
    }
    records.emplace_back();
    records.back().kind = RecordKind::Submodel;
    records.back().handle = handle;
    submodels.push_back(handle);
}

void QNL_xmlExtensionReader::SubmodelEnd(QNL_xmlReader& reader) {
    DisplayRecord* record = Top();
    if (record == nullptr || record->kind != RecordKind::Submodel) return;
    if (QNL_submodel* submodel = network->GetSubmodelHandler().GetSubmodel(record->handle)) {
        bool stored =
            submodel->header.SetName(record->name.c_str()) == 0 &&
            (!record->hasComment || submodel->header.SetComment(record->comment.c_str()) == 0);
        submodel->screen.color = record->interiorColor;
        submodel->screen.borderColor = record->outlineColor;
        submodel->screen.borderThickness = record->outlineWidth;
        submodel->screen.fontColor = record->fontColor;
        submodel->screen.position = record->position;
        if (!stored) reader.Fail("Out of memory");
    }
    records.pop_back();
    submodels.pop_back();
}

void QNL_xmlExtensionReader::TextBoxStart(QNL_xmlReader&) {
    records.emplace_back();
    records.back().kind = RecordKind::TextBox;
}

void QNL_xmlExtensionReader::TextBoxEnd(QNL_xmlReader& reader) {
    DisplayRecord* record = Top();
    if (record == nullptr || record->kind != RecordKind::TextBox) return;
    QNL_submodel* submodel = network->GetSubmodelHandler().GetSubmodel(CurrentSubmodel());
    if (submodel == nullptr || submodel->comments.Add(record->position, record->name.c_str()) != 0)
        reader.Fail("Can't add text box");
    records.pop_back();
}

// ---- display parts ----

void QNL_xmlExtensionReader::NameEnd(QNL_xmlReader& reader) {
    if (DisplayRecord* record = Top()) reader.GetUnescapedText(record->name);
}

void QNL_xmlExtensionReader::CommentEnd(QNL_xmlReader& reader) {
    std::string text;
    reader.GetUnescapedText(text);
    DisplayRecord* record = Top();
    if (currentOutcome >= 0 && record != nullptr) {
        QNL_node* node = network->GetNode(record->handle);
        QNL_extraDefinition* extra = node != nullptr ? node->GetExtraDefinition() : nullptr;
        if (extra == nullptr || extra->SetOutcomeDescription(currentOutcome, text.c_str()) != 0)
            reader.Fail("Can't set state comment");
    } else if (record != nullptr) {
        record->comment = text;
        record->hasComment = true;
    } else {
        QNL_header* header = network->GetHeader();
        if (header == nullptr || header->SetComment(text.c_str()) != 0)
            reader.Fail("Out of memory");
    }
}

bool QNL_xmlExtensionReader::ReadColor(QNL_xmlReader& reader, int& color) {
    if (detail::ParseColorText(reader.FindAttribute("color"), color)) return true;
    reader.Fail("Color specification 'rrggbb' expected");
    return false;
}

void QNL_xmlExtensionReader::InteriorStart(QNL_xmlReader& reader) {
    DisplayRecord* record = Top();
    int color = 0;
    if (ReadColor(reader, color) && record != nullptr) record->interiorColor = color;
}

void QNL_xmlExtensionReader::OutlineStart(QNL_xmlReader& reader) {
    DisplayRecord* record = Top();
    int width = record != nullptr ? record->outlineWidth : 1;
    if (!reader.GetIntAttribute("width", width, width)) return;
    if (width < 1) {
        reader.Fail("Invalid width attribute");
        return;
    }
    int color = 0;
    if (!ReadColor(reader, color) || record == nullptr) return;
    record->outlineWidth = width;
    record->outlineColor = color;
}

void QNL_xmlExtensionReader::FontStart(QNL_xmlReader& reader) {
    DisplayRecord* record = Top();
    int color = 0;
    if (ReadColor(reader, color) && record != nullptr) record->fontColor = color;
}

void QNL_xmlExtensionReader::RectangleStart(QNL_xmlReader&) {
    numbers.clear();
    numberPosition = 0;
}

void QNL_xmlExtensionReader::RectangleToken(QNL_xmlReader& reader) {
    ++numberPosition;
    int value = 0;
    if (!detail::ParseXmlInt(reader.GetText(), value)) {
        reader.Fail("Can't read list of integers, failed at element " +
                    std::to_string(numberPosition));
        return;
    }
    if (numbers.size() == 4) {
        reader.Fail("Exactly 4 integers expected");
        return;
    }
    numbers.push_back(value);
}

bool QNL_xmlExtensionReader::TakeRectangle(QNL_xmlReader& reader, QNL_rectangle& out) {
    if (numbers.size() == 4 &&
        detail::RectangleFromCorners(numbers[0], numbers[1], numbers[2], numbers[3], out))
        return true;
    reader.Fail("Error while reading object position");
    return false;
}

void QNL_xmlExtensionReader::PositionEnd(QNL_xmlReader& reader) {
    QNL_rectangle rectangle;
    if (!TakeRectangle(reader, rectangle)) return;
    if (DisplayRecord* record = Top()) record->position = rectangle;
}

void QNL_xmlExtensionReader::WindowEnd(QNL_xmlReader& reader) {
    QNL_rectangle rectangle;
    if (!TakeRectangle(reader, rectangle)) return;
    if (QNL_submodel* submodel = network->GetSubmodelHandler().GetSubmodel(CurrentSubmodel()))
        submodel->windowPosition = rectangle;
}

void QNL_xmlExtensionReader::PlateStart(QNL_xmlReader& reader) {
    RectangleStart(reader);
    if (reader.GetIntAttribute("leftwidth", plateLeftWidth, 0))
        reader.GetIntAttribute("rightwidth", plateRightWidth, 0);
}

void QNL_xmlExtensionReader::PlateEnd(QNL_xmlReader& reader) {
    QNL_rectangle rectangle;
    if (!TakeRectangle(reader, rectangle)) return;
    try {
        if (network->GetTemporalNetwork().SetPlateDisplay(rectangle, plateLeftWidth,
                                                          plateRightWidth) != 0)
            reader.Fail("Error while reading object position");
    } catch (const std::bad_alloc&) {
        reader.Fail("Out of memory");
    }
}

// ---- diagnosis parts ----

void QNL_xmlExtensionReader::StateStart(QNL_xmlReader& reader) {
    std::string id, label, faultName;
    reader.GetStringAttribute("id", id);
    DisplayRecord* record = Top();
    QNL_node* node = record != nullptr ? network->GetNode(record->handle) : nullptr;
    QNL_nodeDefinition* definition = node != nullptr ? node->GetDefinition() : nullptr;
    const QNL_idArray* outcomes = definition != nullptr ? definition->GetOutcomeIds() : nullptr;
    QNL_extraDefinition* extra = node != nullptr ? node->GetExtraDefinition() : nullptr;
    if (outcomes == nullptr || outcomes->GetCount() == 0 || extra == nullptr) {
        reader.Fail("unexpected state info : " + Quoted(id));
        return;
    }
    const int index = outcomes->FindPosition(id.c_str());
    if (index < 0) {
        reader.Fail("Invalid state id: " + Quoted(id));
        return;
    }
    reader.GetStringAttribute("globalid", label);
    if (!label.empty() && extra->SetOutcomeLabel(index, label.c_str()) != 0) {
        reader.Fail("Invalid outcome label: " + Quoted(label));
        return;
    }
    reader.GetStringAttribute("faultname", faultName);
    if (!faultName.empty() && extra->SetFaultName(index, faultName.c_str()) != 0) {
        reader.Fail("Out of memory");
        return;
    }
    if (QNL_documentation* documents = extra->GetOutcomeDocumentation(index)) documents->Flush();
    currentOutcome = index;
}

void QNL_xmlExtensionReader::StateEnd(QNL_xmlReader&) {
    currentOutcome = -1;
}

void QNL_xmlExtensionReader::FixEnd(QNL_xmlReader& reader) {
    DisplayRecord* record = Top();
    QNL_node* node = record != nullptr ? network->GetNode(record->handle) : nullptr;
    QNL_extraDefinition* extra = node != nullptr ? node->GetExtraDefinition() : nullptr;
    if (extra == nullptr || currentOutcome < 0) return;
    std::string text;
    reader.GetUnescapedText(text);
    if (extra->SetOutcomeFix(currentOutcome, text.c_str()) != 0) reader.Fail("Out of memory");
}

void QNL_xmlExtensionReader::QuestionEnd(QNL_xmlReader& reader) {
    DisplayRecord* record = Top();
    QNL_node* node = record != nullptr ? network->GetNode(record->handle) : nullptr;
    QNL_extraDefinition* extra = node != nullptr ? node->GetExtraDefinition() : nullptr;
    if (extra == nullptr) return;
    std::string text;
    reader.GetUnescapedText(text);
    if (extra->SetQuestion(text.c_str()) != 0) reader.Fail("Out of memory");
}

void QNL_xmlExtensionReader::LinkStart(QNL_xmlReader& reader) {
    std::string title, path;
    reader.GetStringAttribute("title", title);
    reader.GetStringAttribute("path", path);
    DisplayRecord* record = Top();
    if (record == nullptr) return;
    if (currentOutcome < 0) {
        record->links.emplace_back(title, path);
        return;
    }
    QNL_node* node = network->GetNode(record->handle);
    QNL_extraDefinition* extra = node != nullptr ? node->GetExtraDefinition() : nullptr;
    QNL_documentation* documents =
        extra != nullptr ? extra->GetOutcomeDocumentation(currentOutcome) : nullptr;
    if (documents == nullptr || documents->AddDocument(title.c_str(), path.c_str()) != 0)
        reader.Fail("Out of memory");
}
