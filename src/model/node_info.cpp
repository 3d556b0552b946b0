#include "model/node_info.h"

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <cstring>
#include <new>

namespace quarn::detail {
namespace {

// Owned copy of a NUL-terminated text; null stays null. 0, or -42 with copy left null.
int DuplicateText(const char* text, char*& copy) {
    copy = nullptr;
    if (text == nullptr) return 0;
    const std::size_t length = std::strlen(text);
    copy = new (std::nothrow) char[length + 1];
    if (copy == nullptr) return -42;
    std::memcpy(copy, text, length + 1);
    return 0;
}

// Replaces an owned text by a copy of another; the old text stays when the copy fails.
int ReplaceText(char*& target, const char* text) {
    char* copy = nullptr;
    if (DuplicateText(text, copy) != 0) return -42;
    delete[] target;
    target = copy;
    return 0;
}

void FreeText(char*& text) {
    delete[] text;
    text = nullptr;
}

// Three texts copied together or not at all.
struct TextTriple {
    char* first = nullptr;
    char* second = nullptr;
    char* third = nullptr;

    TextTriple() = default;
    TextTriple(const TextTriple&) = delete;
    TextTriple& operator=(const TextTriple&) = delete;
    ~TextTriple() {
        delete[] first;
        delete[] second;
        delete[] third;
    }

    int CopyFrom(const char* a, const char* b, const char* c) {
        if (DuplicateText(a, first) != 0 || DuplicateText(b, second) != 0 ||
            DuplicateText(c, third) != 0)
            return -42;
        return 0;
    }

    // Hands the copies over to the targets and frees what the targets held before.
    void MoveInto(char*& a, char*& b, char*& c) {
        std::swap(a, first);
        std::swap(b, second);
        std::swap(c, third);
    }
};

} // namespace
} // namespace quarn::detail

using quarn::detail::DuplicateText;
using quarn::detail::FreeText;
using quarn::detail::ReplaceText;
using quarn::detail::TextTriple;

// ---------------------------------------------------------------------------------------
// QNL_header

// A copy takes the texts as they are: it has no owner yet, so no network is asked and no
// network hears of it.
QNL_header::QNL_header(const QNL_header& source) : QNL_object() {
    if (!source.IsValid()) return;
    TextTriple copies;
    if (copies.CopyFrom(source.id, source.name, source.comment) != 0) {
        status &= ~STATUS_VALID;
        return;
    }
    copies.MoveInto(id, name, comment);
}

QNL_header::~QNL_header() {
    FreeText(id);
    FreeText(name);
    FreeText(comment);
}

int QNL_header::CleanUp(int) {
    FreeText(id);
    FreeText(name);
    FreeText(comment);
    NoteIdChange();
    owner = nullptr;
    status |= STATUS_VALID;
    return 0;
}

int QNL_header::CheckReadiness(int) {
    if (IsValidId(id)) {
        status |= STATUS_READY;
        return 0;
    }
    status &= ~STATUS_READY;
    return -568;
}

bool QNL_header::ApproveId(const char* newId) const {
    if (owner == nullptr) return true;
    QNL_network* network = owner->GetNetwork();
    if (network == nullptr) return true;
    return network->ChangeNodeId(owner->GetHandle(), id, newId);
}

// The copy is made before the network is asked: once the network has approved, it has told
// the children of the new identifier, so the change must not fail afterwards.
int QNL_header::SetId(const char* text) {
    if (!IsValidId(text)) return QNL_errorHandler::Instance().LogError(-1000, "Invalid identifier");
    char* copy = nullptr;
    if (DuplicateText(text, copy) != 0) return -42;
    if (!ApproveId(text)) {
        delete[] copy;
        return -1000;
    }
    delete[] id;
    id = copy;
    NoteIdChange();
    return 0;
}

int QNL_header::SetName(const char* text) {
    return ReplaceText(name, text);
}

int QNL_header::SetComment(const char* text) {
    return ReplaceText(comment, text);
}

// A source without an identifier clears this one; any other identifier is validated and,
// for an owned header, approved by the owner's own network.
int QNL_header::Assign(const QNL_header& source) {
    if (!source.IsValid()) return -567;
    if (this == &source) return 0;
    if (source.id != nullptr && !IsValidId(source.id))
        return QNL_errorHandler::Instance().LogError(-1000, "Invalid identifier");
    TextTriple copies;
    if (copies.CopyFrom(source.id, source.name, source.comment) != 0) return -42;
    if (source.id != nullptr && !ApproveId(source.id)) return -1000;
    copies.MoveInto(id, name, comment);
    NoteIdChange();
    return CheckConsistency(1);
}

// ---------------------------------------------------------------------------------------
// QNL_networkHeader

QNL_networkHeader::~QNL_networkHeader() {
    FreeText(id);
    FreeText(name);
    FreeText(comment);
}

int QNL_networkHeader::CleanUp(int) {
    FreeText(id);
    FreeText(name);
    FreeText(comment);
    status |= STATUS_VALID;
    return 0;
}

int QNL_networkHeader::SetId(const char* text) {
    return ReplaceText(id, text);
}

int QNL_networkHeader::SetName(const char* text) {
    return ReplaceText(name, text);
}

int QNL_networkHeader::SetComment(const char* text) {
    return ReplaceText(comment, text);
}

int QNL_networkHeader::Assign(const QNL_networkHeader& source) {
    if (!source.IsValid()) return -567;
    if (this == &source) return 0;
    TextTriple copies;
    if (copies.CopyFrom(source.id, source.name, source.comment) != 0) return -42;
    copies.MoveInto(id, name, comment);
    return 0;
}

// ---------------------------------------------------------------------------------------
// QNL_screenInfo

QNL_screenInfo::QNL_screenInfo(const QNL_screenInfo& source) : QNL_object() {
    Assign(source);
}

int QNL_screenInfo::Assign(const QNL_screenInfo& source) {
    if (!source.IsValid()) return -567;
    position.Assign(source.position);
    color = source.color;
    selColor = source.selColor;
    font = source.font;
    fontColor = source.fontColor;
    borderThickness = source.borderThickness;
    borderColor = source.borderColor;
    flags = source.flags;
    return 0;
}

int QNL_screenInfo::Merge(const QNL_screenInfo& source) {
    if (!source.IsValid()) return -567;
    position.Merge(source.position);
    int* const mine[] = {&color, &selColor, &font, &fontColor, &borderThickness, &borderColor};
    const int theirs[] = {source.color,     source.selColor,        source.font,
                          source.fontColor, source.borderThickness, source.borderColor};
    for (std::size_t i = 0; i < sizeof theirs / sizeof theirs[0]; ++i)
        if (*mine[i] == NOT_SET) *mine[i] = theirs[i];
    return 0;
}

// ---------------------------------------------------------------------------------------
// QNL_userProperties

QNL_userProperties::QNL_userProperties() : names(false) {}

QNL_userProperties::QNL_userProperties(const QNL_userProperties& source)
    : QNL_object(), names(false) {
    if (source.IsValid() && Assign(source) != 0) status &= ~STATUS_VALID;
}

int QNL_userProperties::CleanUp(int deep) {
    names.CleanUp(deep);
    values.CleanUp(deep);
    status |= STATUS_VALID;
    return 0;
}

int QNL_userProperties::CheckReadiness(int deep) {
    if (deep) {
        names.CheckReadiness(deep);
        values.CheckReadiness(deep);
    }
    if (names.IsReady() && names.GetCount() == values.GetCount()) {
        status |= STATUS_READY;
        return 0;
    }
    status &= ~STATUS_READY;
    return -568;
}

int QNL_userProperties::AddProperty(const char* name, const char* value) {
    const int existing = FindProperty(name);
    if (existing < 0) {
        int result = names.Add(name);
        if (result != 0) return result;
        result = values.Add(value);
        if (result != 0) names.Delete(names.GetCount() - 1);
        return result;
    }
    // A repeated name moves to the end. The texts are rotated rather than deleted and added
    // again, so running out of memory never loses the property.
    const int count = names.GetCount();
    QNL_intArray order;
    for (int i = 0; i < count; ++i)
        if (i != existing && order.Add(i) != 0) return -42;
    if (order.Add(existing) != 0) return -42;
    int result = names.Reorder(order);
    if (result != 0) return result;
    result = values.Reorder(order);
    if (result != 0) {
        // Undo the names' move: the rotation back is a permutation of the same size.
        QNL_intArray back;
        if (back.SetSize(count) == 0 && back.SetCount(count) == 0) {
            for (int i = 0; i < count; ++i)
                back[order[i]] = i;
            names.Reorder(back);
        }
        return result;
    }
    return values.SetString(count - 1, value);
}

int QNL_userProperties::FindProperty(const char* name) const {
    return names.FindPosition(name);
}

int QNL_userProperties::DeleteProperty(int index) {
    if (index < 0 || index >= names.GetCount() || index >= values.GetCount()) return -2;
    names.Delete(index);
    values.Delete(index);
    return 0;
}

int QNL_userProperties::SetValue(int index, const char* value) {
    if (index < 0 || index >= values.GetCount()) return -2;
    return values.SetString(index, value);
}

int QNL_userProperties::Assign(const QNL_userProperties& source) {
    if (!source.IsValid()) return -567;
    if (this == &source) return 0;
    int result = names.Assign(source.names);
    if (result == 0) result = values.Assign(source.values);
    if (result != 0) {
        // Names and values must stay in step: rather none than mismatched pairs.
        names.CleanUp(1);
        values.CleanUp(1);
        return result;
    }
    status |= STATUS_VALID;
    return 0;
}

// ---------------------------------------------------------------------------------------
// QNL_documentation

QNL_documentation::QNL_documentation(const QNL_documentation& source) : QNL_object() {
    if (source.IsValid() && Assign(source) != 0) status &= ~STATUS_VALID;
}

int QNL_documentation::CleanUp(int deep) {
    titles.CleanUp(deep);
    paths.CleanUp(deep);
    status |= STATUS_VALID;
    return 0;
}

int QNL_documentation::CheckReadiness(int deep) {
    if (deep) {
        titles.CheckReadiness(deep);
        paths.CheckReadiness(deep);
    }
    if (titles.IsReady() && titles.GetCount() == paths.GetCount()) {
        status |= STATUS_READY;
        return 0;
    }
    status &= ~STATUS_READY;
    return -568;
}

int QNL_documentation::AddDocument(const char* title, const char* path) {
    int result = titles.Add(title);
    if (result != 0) return result;
    result = paths.Add(path);
    if (result != 0) titles.Delete(titles.GetCount() - 1);
    return result;
}

int QNL_documentation::SetPath(int index, const char* path) {
    if (index < 0 || index >= paths.GetCount()) return -2;
    return paths.SetString(index, path);
}

void QNL_documentation::Flush() {
    titles.Flush();
    paths.Flush();
}

int QNL_documentation::Assign(const QNL_documentation& source) {
    if (this == &source) return 0;
    if (!source.IsValid()) return -567;
    int result = titles.Assign(source.titles);
    if (result == 0) result = paths.Assign(source.paths);
    if (result != 0) {
        // Titles and paths must stay in step: rather none than mismatched pairs.
        titles.CleanUp(1);
        paths.CleanUp(1);
        return result;
    }
    status |= STATUS_VALID;
    return 0;
}

// ---------------------------------------------------------------------------------------
// QNL_nodeInfo

// The documentation is copied with the rest: a copied network keeps its nodes' documents.
QNL_nodeInfo::QNL_nodeInfo(const QNL_nodeInfo& source)
    : QNL_object(), header(source.header), screen(source.screen), properties(source.properties),
      documentation(source.documentation) {
    if (!source.IsValid()) {
        header.CleanUp(1);
        screen.Assign(QNL_screenInfo());
        properties.CleanUp(1);
        documentation.CleanUp(1);
        return;
    }
    if (!header.IsValid() || !properties.IsValid() || !documentation.IsValid())
        status &= ~STATUS_VALID;
}

int QNL_nodeInfo::Assign(const QNL_nodeInfo& source) {
    if (!source.IsValid()) return -567;
    if (this == &source) return 0;
    int result = header.Assign(source.header);
    if (result != 0) return result;
    result = properties.Assign(source.properties);
    if (result != 0) return result;
    screen.Assign(source.screen);
    result = documentation.Assign(source.documentation);
    if (result != 0) return result;
    return CheckConsistency(1);
}
