#include "formats/xml/xml_extension_writer.h"

#include "definitions/extra_definition.h"
#include "formats/xml/xml_extension_reader.h"
#include "formats/xml/xml_writer.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/submodel.h"
#include "model/temporal_network.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quarn::detail {
namespace {

bool IsEmpty(const char* text) {
    return text == nullptr || *text == '\0';
}

void WriteRectangle(QNL_xmlWriter& writer, const char* name, const QNL_rectangle& rectangle) {
    int corners[4];
    CornersOfRectangle(rectangle, corners);
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) text += ' ';
        text += std::to_string(corners[i]);
    }
    writer.WriteElement(name, text.c_str());
}

void WriteLinks(QNL_xmlWriter& writer, const QNL_documentation& documents) {
    for (int i = 0; i < documents.GetNumberOfDocuments(); ++i) {
        const char* title = documents.GetTitle(i);
        const char* path = documents.GetPath(i);
        writer.AddAttribute("title", title != nullptr ? title : "");
        writer.AddAttribute("path", path != nullptr ? path : "");
        writer.WriteElement("link", nullptr);
    }
}

int CheckDocumentTexts(const QNL_documentation& documents,
                       const std::function<std::string()>& owner) {
    for (int i = 0; i < documents.GetNumberOfDocuments(); ++i) {
        const std::pair<const char*, const char*> texts[] = {{"title", documents.GetTitle(i)},
                                                             {"path", documents.GetPath(i)}};
        // A lambda may not capture a structured binding, hence the pair.
        for (const auto& entry : texts) {
            const char* field = entry.first;
            if (int r = CheckXmlText(entry.second, [&] {
                    return "the " + std::string(field) + " of document " + std::to_string(i) +
                           " of " + owner();
                }))
                return r;
        }
    }
    return 0;
}

int CheckNodeTexts(const QNL_node& node) {
    const auto owner = [&] { return "node '" + std::string(node.GetId()) + "'"; };
    const QNL_header& header = node.GetInfo()->header;
    if (int r = CheckXmlText(header.GetName(), [&] { return "the name of " + owner(); })) return r;
    if (int r = CheckXmlText(header.GetComment(), [&] { return "the comment of " + owner(); }))
        return r;
    if (int r = CheckDocumentTexts(node.GetInfo()->documentation, owner)) return r;
    const QNL_extraDefinition* extra = node.GetExtraDefinition();
    if (extra == nullptr) return 0;
    if (int r = CheckXmlText(extra->GetQuestion(), [&] { return "the question of " + owner(); }))
        return r;
    const QNL_nodeDefinition* definition = node.GetDefinition();
    const QNL_idArray* outcomes = definition != nullptr ? definition->GetOutcomeIds() : nullptr;
    for (int i = 0; i < extra->GetNumberOfOutcomes(); ++i) {
        const auto outcome = [&] {
            const char* id =
                outcomes != nullptr && i < outcomes->GetCount() ? outcomes->GetString(i) : nullptr;
            return "outcome '" + std::string(id != nullptr ? id : "") + "' of " + owner();
        };
        const std::pair<const char*, const char*> texts[] = {
            {"fault name", extra->GetFaultName(i)},
            {"fix", extra->GetOutcomeFix(i)},
            {"description", extra->GetOutcomeDescription(i)}};
        for (const auto& entry : texts) {
            const char* field = entry.first;
            if (int r = CheckXmlText(
                    entry.second, [&] { return "the " + std::string(field) + " of " + outcome(); }))
                return r;
        }
        if (const QNL_documentation* documents = extra->GetOutcomeDocumentation(i))
            if (int r = CheckDocumentTexts(*documents, outcome)) return r;
    }
    return 0;
}

} // namespace
} // namespace quarn::detail

namespace detail = quarn::detail;

int QNL_xmlExtensionWriter::CheckTexts(const QNL_network& network) {
    if (const QNL_header* header = network.GetHeader()) {
        if (int r = detail::CheckXmlText(header->GetName(),
                                         [] { return std::string("the name of the network"); }))
            return r;
        if (int r = detail::CheckXmlText(header->GetComment(),
                                         [] { return std::string("the comment of the network"); }))
            return r;
    }
    const QNL_submodelHandler& handler = network.GetSubmodelHandler();
    for (int s = handler.GetFirstSubmodel(); s >= 0; s = handler.GetNextSubmodel(s)) {
        const QNL_submodel* submodel = handler.GetSubmodel(s);
        if (submodel == nullptr) continue;
        // The main submodel's name and comment are the network's.
        const bool isMain = s == QNL_submodelHandler::MAIN_HANDLE;
        const auto owner = [&] {
            const char* id = submodel->header.GetId();
            return isMain ? std::string("the network")
                          : "submodel '" + std::string(id != nullptr ? id : "") + "'";
        };
        if (!isMain) {
            if (int r = detail::CheckXmlText(submodel->header.GetName(),
                                             [&] { return "the name of " + owner(); }))
                return r;
            if (int r = detail::CheckXmlText(submodel->header.GetComment(),
                                             [&] { return "the comment of " + owner(); }))
                return r;
        }
        const QNL_stringArray& captions = submodel->comments.GetTexts();
        for (int i = 0; i < captions.GetCount(); ++i)
            if (int r = detail::CheckXmlText(captions.GetString(i), [&] {
                    return "the caption of text box " + std::to_string(i) + " of " + owner();
                }))
                return r;
    }
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        if (int r = detail::CheckNodeTexts(*network.GetNode(h))) return r;
    return 0;
}

void QNL_xmlExtensionWriter::Write(QNL_xmlWriter& writer) const {
    const QNL_header* header = network->GetHeader();
    const char* name = header != nullptr ? header->GetName() : nullptr;
    writer.AddAttribute("version", "1.0");
    writer.AddAttribute("app", "QUARN Jun 23 2008");
    writer.AddAttribute("name", name != nullptr ? name : "");
    writer.AddAttribute("faultnameformat",
                        detail::FaultNameFormatWord(network->GetFaultNameFormat()));
    writer.OpenElement("tavlo");
    bool plate = false;
    for (int h = network->GetFirstNode(); h >= 0 && !plate; h = network->GetNextNode(h))
        plate = network->GetTemporalType(h) == QNL_temporalNetwork::PLATE;
    if (plate && network->FindTemporalNetwork() != nullptr) {
        QNL_rectangle rectangle;
        int left = 0, right = 0;
        network->FindTemporalNetwork()->GetPlateDisplay(rectangle, left, right);
        writer.AddAttribute("leftwidth", left);
        writer.AddAttribute("rightwidth", right);
        detail::WriteRectangle(writer, "plate", rectangle);
    }
    if (header != nullptr && !detail::IsEmpty(header->GetComment()))
        writer.WriteElement("comment", header->GetComment(), true);
    WriteSubmodelContents(writer, QNL_submodelHandler::MAIN_HANDLE);
    writer.CloseElement("tavlo");
}

// The submodel tree is walked with an explicit stack: its depth is whatever the model holds.
void QNL_xmlExtensionWriter::WriteSubmodelContents(QNL_xmlWriter& writer, int submodel) const {
    QNL_submodelHandler& handler = network->GetSubmodelHandler();
    struct Frame {
        int handle;
        QNL_intArray children;
        int next = 0;
    };
    std::vector<Frame> stack(1);
    stack.back().handle = submodel;
    handler.GetChildSubmodels(submodel, stack.back().children);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.children.GetCount()) {
            const int child = frame.children[frame.next++];
            const QNL_submodel* data = handler.GetSubmodel(child);
            if (data == nullptr) continue;
            writer.AddAttribute("id", data->header.GetId() != nullptr ? data->header.GetId() : "");
            writer.OpenElement("submodel");
            WriteDisplay(writer, data->header, data->screen);
            detail::WriteRectangle(writer, "window", data->windowPosition);
            Frame next;
            next.handle = child;
            handler.GetChildSubmodels(child, next.children);
            stack.push_back(std::move(next));
            continue;
        }
        QNL_intArray nodes;
        handler.GetNodesOfSubmodel(frame.handle, nodes);
        for (int i = 0; i < nodes.GetCount(); ++i) {
            const QNL_node* node = network->GetNode(nodes[i]);
            const QNL_extraDefinition* extra = node->GetExtraDefinition();
            writer.AddAttribute("id", node->GetId() != nullptr ? node->GetId() : "");
            if (extra != nullptr &&
                extra->GetFaultNameFormat() != QNL_extraDefinition::FAULT_NAME_INHERIT)
                writer.AddAttribute("faultnameformat",
                                    detail::FaultNameFormatWord(extra->GetFaultNameFormat()));
            writer.OpenElement("node");
            WriteDisplay(writer, node->GetInfo()->header, node->GetInfo()->screen);
            WriteDiagnosis(writer, nodes[i]);
            writer.CloseElement("node");
        }
        if (const QNL_submodel* data = handler.GetSubmodel(frame.handle)) {
            const QNL_screenComments& boxes = data->comments;
            for (int i = 0; i < boxes.GetCount(); ++i) {
                const char* caption = boxes.GetTexts().GetString(i);
                writer.OpenElement("textbox");
                writer.WriteElement("caption", caption != nullptr ? caption : "", true);
                writer.AddAttribute("color", "000000");
                writer.AddAttribute("name", "MS Sans Serif");
                writer.AddAttribute("size", 10);
                writer.AddAttribute("bold", "true");
                writer.WriteElement("font", nullptr);
                detail::WriteRectangle(writer, "position", boxes.GetRectangles().GetRectangle(i));
                writer.CloseElement("textbox");
            }
        }
        const bool isMain = stack.size() == 1;
        stack.pop_back();
        if (!isMain) writer.CloseElement("submodel");
    }
}

void QNL_xmlExtensionWriter::WriteDisplay(QNL_xmlWriter& writer, const QNL_header& header,
                                          const QNL_screenInfo& screen) const {
    // Names are escaped like every other text: a backslash in a name would otherwise be
    // taken for an escape when read back.
    writer.WriteElement("name", header.GetName() != nullptr ? header.GetName() : "", true);
    writer.AddAttribute("color", detail::ColorText(screen.color));
    writer.WriteElement("interior", nullptr);
    writer.AddAttribute("color", detail::ColorText(screen.borderColor));
    if (screen.borderThickness != QNL_screenInfo::NOT_SET && screen.borderThickness > 1)
        writer.AddAttribute("width", screen.borderThickness);
    writer.WriteElement("outline", nullptr);
    writer.AddAttribute("color", detail::ColorText(screen.fontColor));
    writer.AddAttribute("name", "MS Sans Serif");
    writer.AddAttribute("size", 8);
    writer.WriteElement("font", nullptr);
    detail::WriteRectangle(writer, "position", screen.position);
    if (!detail::IsEmpty(header.GetComment()))
        writer.WriteElement("comment", header.GetComment(), true);
}

void QNL_xmlExtensionWriter::WriteDiagnosis(QNL_xmlWriter& writer, int handle) const {
    const QNL_node* node = network->GetNode(handle);
    const QNL_extraDefinition* extra = node->GetExtraDefinition();
    if (extra == nullptr) return;
    const QNL_nodeDefinition* definition = node->GetDefinition();
    const QNL_idArray* outcomes = definition != nullptr ? definition->GetOutcomeIds() : nullptr;
    const int count = outcomes != nullptr ? outcomes->GetCount() : 0;
    for (int i = 0; i < count && i < extra->GetNumberOfOutcomes(); ++i) {
        const char* faultName = extra->GetFaultName(i);
        const char* fix = extra->GetOutcomeFix(i);
        const char* description = extra->GetOutcomeDescription(i);
        const QNL_documentation* documents = extra->GetOutcomeDocumentation(i);
        const bool hasDocuments = documents != nullptr && documents->GetNumberOfDocuments() > 0;
        if (detail::IsEmpty(faultName) && detail::IsEmpty(fix) && detail::IsEmpty(description) &&
            !hasDocuments)
            continue;
        writer.AddAttribute("id", outcomes->GetString(i));
        if (!detail::IsEmpty(faultName)) writer.AddAttribute("faultname", faultName);
        if (detail::IsEmpty(fix) && detail::IsEmpty(description) && !hasDocuments) {
            writer.WriteElement("state", nullptr);
            continue;
        }
        writer.OpenElement("state");
        if (!detail::IsEmpty(fix)) writer.WriteElement("fix", fix, true);
        if (!detail::IsEmpty(description)) writer.WriteElement("comment", description, true);
        if (hasDocuments) detail::WriteLinks(writer, *documents);
        writer.CloseElement("state");
    }
    if (!detail::IsEmpty(extra->GetQuestion()))
        writer.WriteElement("question", extra->GetQuestion(), true);
    detail::WriteLinks(writer, node->GetInfo()->documentation);
}
