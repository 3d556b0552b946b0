#pragma once

#include "model/object.h"
#include "model/rectangle.h"
#include "model/string_array.h"

#include <atomic>
#include <cstdint>

class QNL_node;

// Identifier, name and comment of a node or submodel. A header owned by a node asks the
// node's network to approve a new identifier, so identifiers stay unique in the network.
class QNL_header : public QNL_object {
public:
    QNL_header() = default;
    QNL_header(const QNL_header& source);
    QNL_header& operator=(const QNL_header&) = delete;
    ~QNL_header() override;

    int CleanUp(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    // Sets the texts: 0, or a negative code when refused.
    int SetId(const char* text);
    int SetName(const char* text);
    int SetComment(const char* text);
    int Assign(const QNL_header& source);

    // The texts, and the node they describe.
    const char* GetId() const { return id; }
    const char* GetName() const { return name; }
    const char* GetComment() const { return comment; }
    QNL_node* GetOwner() const { return owner; }
    void SetOwner(QNL_node* node) { owner = node; }

    // Counts the identifier changes of headers that no node owns (those of submodels and
    // networks), so that an index of submodel identifiers can tell whether it is current.
    static std::uint64_t IdChanges() { return idChanges.load(std::memory_order_relaxed); }

private:
    void NoteIdChange() const {
        if (owner == nullptr) idChanges.fetch_add(1, std::memory_order_relaxed);
    }
    static inline std::atomic<std::uint64_t> idChanges{0};

    // True when no owner's network objects to newId replacing the current identifier.
    bool ApproveId(const char* newId) const;

    char* id = nullptr;
    char* name = nullptr;
    char* comment = nullptr;
    QNL_node* owner = nullptr;
};

// Identifier, name and comment of a network, stored without validation.
class QNL_networkHeader : public QNL_object {
public:
    QNL_networkHeader() = default;
    QNL_networkHeader(const QNL_networkHeader&) = delete;
    QNL_networkHeader& operator=(const QNL_networkHeader&) = delete;
    ~QNL_networkHeader() override;

    int CleanUp(int deep = 1) override;
    // Sets the texts: 0, or a negative code when refused.
    int SetId(const char* text);
    int SetName(const char* text);
    int SetComment(const char* text);
    int Assign(const QNL_networkHeader& source);

    // The network's identifier, name and comment.
    const char* GetId() const { return id; }
    const char* GetName() const { return name; }
    const char* GetComment() const { return comment; }

private:
    char* id = nullptr;
    char* name = nullptr;
    char* comment = nullptr;
};

// Screen appearance of a node or submodel box. Each of the six integer settings holds
// NOT_SET until given; merging fills only the settings still unset.
class QNL_screenInfo : public QNL_object {
public:
    static constexpr int NOT_SET = -2147483647; // 0x80000001
    static constexpr int FLAG_SHOW_IN_ARCS = 1;
    static constexpr int FLAG_SHOW_OUT_ARCS = 2;

    QNL_screenInfo() = default;
    QNL_screenInfo(const QNL_screenInfo& source);
    QNL_screenInfo& operator=(const QNL_screenInfo&) = delete;

    // Assign copies everything; Merge fills only what this one has not set.
    int Assign(const QNL_screenInfo& source);
    int Merge(const QNL_screenInfo& source);

    QNL_rectangle position;
    int color = NOT_SET;
    int selColor = NOT_SET;
    int font = NOT_SET;
    int fontColor = NOT_SET;
    int borderThickness = NOT_SET;
    int borderColor = NOT_SET;
    int flags = FLAG_SHOW_IN_ARCS | FLAG_SHOW_OUT_ARCS;
};

// (name, value) pairs; names are valid, unique identifiers.
class QNL_userProperties : public QNL_object {
public:
    QNL_userProperties();
    QNL_userProperties(const QNL_userProperties& source);
    QNL_userProperties& operator=(const QNL_userProperties&) = delete;

    int CleanUp(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    // A repeated name moves to the end with its new value.
    int AddProperty(const char* name, const char* value);
    int FindProperty(const char* name) const;
    int DeleteProperty(int index);
    int SetValue(int index, const char* value);
    int GetNumberOfProperties() const { return names.GetCount(); }
    const char* GetName(int index) const { return names.GetString(index); }
    const char* GetValue(int index) const { return values.GetString(index); }
    int Assign(const QNL_userProperties& source);

private:
    QNL_idArray names;
    QNL_stringArray values;
};

// Documents attached to a node or network: a title and a path each.
class QNL_documentation : public QNL_object {
public:
    QNL_documentation() = default;
    QNL_documentation(const QNL_documentation& source);
    QNL_documentation& operator=(const QNL_documentation&) = delete;

    int CleanUp(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    // The documents attached: a title and a path each.
    int AddDocument(const char* title, const char* path);
    int SetPath(int index, const char* path);
    int GetNumberOfDocuments() const { return titles.GetCount(); }
    const char* GetTitle(int index) const { return titles.GetString(index); }
    const char* GetPath(int index) const { return paths.GetString(index); }
    void Flush();
    int Assign(const QNL_documentation& source);

private:
    QNL_stringArray titles;
    QNL_stringArray paths;
};

// Everything that describes a node to people: header, screen data, properties, documents.
class QNL_nodeInfo : public QNL_object {
public:
    QNL_nodeInfo() = default;
    // Copies header, screen information, user properties and documentation. The header copy
    // has no owner and never consults any network; the new owner sets itself afterwards.
    QNL_nodeInfo(const QNL_nodeInfo& source);
    QNL_nodeInfo& operator=(const QNL_nodeInfo&) = delete;

    // Copies every part.
    int Assign(const QNL_nodeInfo& source);

    QNL_header header;
    QNL_screenInfo screen;
    QNL_userProperties properties;
    QNL_documentation documentation;
};
