#pragma once

#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

// The expat parser, kept opaque so that users of this header need no expat headers.
struct XML_ParserStruct;

class QNL_xmlReader;

// What the reading framework calls on the concrete reader for one kind of element. Every
// operation may do nothing; Token is called only when HasTokenHandler is true.
class QNL_xmlCallbacks {
public:
    virtual ~QNL_xmlCallbacks() = default;
    // The element is open and its attributes passed the schema check; they are readable.
    virtual void Start(QNL_xmlReader& reader) { (void)reader; }
    // The element is complete; its text is readable.
    virtual void End(QNL_xmlReader& reader) { (void)reader; }
    // One whitespace-separated token of the element's text is the current text.
    virtual void Token(QNL_xmlReader& reader) { (void)reader; }
    virtual bool HasTokenHandler() const { return false; }
};

// The definition of one kind of element: its name, its callbacks (owned), the children and
// attributes it accepts and how strictly undeclared ones are treated. One definition may be
// the child of several parents and of itself; the children are not owned.
class QNL_xmlElementHandler {
public:
    // Flags of a child.
    static constexpr int REQUIRED = 1;
    static constexpr int MULTIPLE = 2;
    // Strictness: bit 0 makes an unknown attribute an error, bit 1 an unknown child element;
    // INHERIT takes the strictness of the enclosing element (STRICT at the root).
    static constexpr int LENIENT = 0;
    static constexpr int STRICT_ATTRIBUTES = 1;
    static constexpr int STRICT_ELEMENTS = 2;
    static constexpr int STRICT = 3;
    static constexpr int INHERIT = 4;

    struct Child {
        QNL_xmlElementHandler* definition;
        int flags;
    };
    struct Attribute {
        std::string name;
        int flags;
    };

    // Null callbacks are replaced by callbacks that do nothing.
    QNL_xmlElementHandler(std::unique_ptr<QNL_xmlCallbacks> callbacks, std::string name,
                          int strictness);
    virtual ~QNL_xmlElementHandler() = default;
    QNL_xmlElementHandler(const QNL_xmlElementHandler&) = delete;
    QNL_xmlElementHandler& operator=(const QNL_xmlElementHandler&) = delete;

    // Declares a child element or an attribute this element accepts.
    virtual void AddChild(QNL_xmlElementHandler* child, int flags);
    virtual void AddAttribute(const char* name, int flags);

    // The element's name, callbacks and declared children and attributes.
    const std::string& GetName() const { return name; }
    QNL_xmlCallbacks& GetCallbacks() const { return *callbacks; }
    const std::vector<Child>& GetChildren() const { return children; }
    const std::vector<Attribute>& GetAttributes() const { return attributes; }
    int GetStrictness() const { return strictness; }
    // The declared child of that name, or null.
    const Child* FindChild(std::string_view childName) const;

private:
    std::string name;
    std::unique_ptr<QNL_xmlCallbacks> callbacks;
    std::vector<Child> children;
    std::vector<Attribute> attributes;
    int strictness;
};

// Receives the problems of one read with their position and logs them in the process-wide
// error handler: errors with -103, warnings with -100.
class QNL_xmlErrorSink {
public:
    explicit QNL_xmlErrorSink(std::string fileName) : fileName(std::move(fileName)) {}
    virtual ~QNL_xmlErrorSink() = default;

    // Reports a problem met while reading, with its line and column.
    virtual void Error(const std::string& message, int line, int column);
    virtual void UnknownElement(const std::string& element, int line, int column);
    virtual void UnknownAttribute(const std::string& element, const std::string& attribute,
                                  int line, int column);
    // Called after a successful read: one summary warning when unknown items were met.
    void Finish();

    // The file being read, and whether unknown elements or attributes were met.
    const std::string& GetFileName() const { return fileName; }
    bool MetUnknownItems() const { return unknownItems; }

protected:
    std::string fileName;
    bool unknownItems = false;
};

// One open element during a parse. An ignored element has no definition.
struct QNL_xmlElementFrame {
    const QNL_xmlElementHandler* definition = nullptr;
    std::unordered_set<std::string> metChildren;
    std::string text;
    int strictness = 0;
    // A child element was met: white space between elements is layout, not text.
    bool hasChildren = false;
};

// The base of the XML readers: drives expat over a file, checks every element and attribute
// against the schema the concrete reader built (CreateElement, AddChild, AddAttribute) and
// calls its callbacks. Text reaches the callbacks as UTF-8 whatever the file's declared
// encoding. The first error stops the parse; unknown items under a lenient element are only
// warnings. The reader owns every definition it created; they live as long as the reader.
class QNL_xmlReader {
public:
    QNL_xmlReader() = default;
    virtual ~QNL_xmlReader();
    QNL_xmlReader(const QNL_xmlReader&) = delete;
    QNL_xmlReader& operator=(const QNL_xmlReader&) = delete;

    // True when the whole file was read without error. The sink may be null.
    bool ReadFile(const char* path, const QNL_xmlElementHandler* root, QNL_xmlErrorSink* sink);

    // Reports an error at the current position and stops the parse.
    void Fail(const std::string& message);
    bool HasFailed() const { return aborted; }
    // Expat's current line and column; 0, 0 outside a parse.
    void GetPosition(int& line, int& column) const;

    // The text of the innermost open element (during Start: of the enclosing element; during
    // Token: the token).
    const std::string& GetText() const;
    // The text with "\n" and "\t" turned into line feed and tab and any other backslashed
    // character into that character; a backslash at the very end stays.
    void GetUnescapedText(std::string& text) const;

    // Attributes are readable only during Start. An absent attribute gives the default and
    // true; a value that is not entirely a number (surrounding blanks allowed) or out of
    // range fails the parse with a fixed message and gives false.
    bool GetDoubleAttribute(const char* name, double& value, double defaultValue);
    bool GetIntAttribute(const char* name, int& value, int defaultValue);
    // Exactly "true" or "false".
    bool GetBoolAttribute(const char* name, bool& value, bool defaultValue);
    // The value as UTF-8; empty when absent.
    void GetStringAttribute(const char* name, std::string& value) const;
    // Null when absent.
    const char* FindAttribute(const char* name) const;

    // A file's version passes when its number is at most the expected one; otherwise (also
    // when it is not a number) the parse fails with the version message.
    bool CheckVersion(const std::string& fileVersion, const char* expectedVersion);
    // The sentence that points users to a newer release, shared by the version message and
    // the summary warning.
    static const char* DownloadHint();

    // A new definition owned by this reader.
    QNL_xmlElementHandler* CreateElement(std::unique_ptr<QNL_xmlCallbacks> callbacks,
                                         const char* name, int strictness);

private:
    // The expat handlers; each catches every exception and turns it into a failed parse.
    static void OnStart(void* user, const char* name, const char** attributes);
    static void OnEnd(void* user, const char* name);
    static void OnText(void* user, const char* text, int length);

    void StartElement(const char* name, const char** attributes);
    void EndElement();
    void CharacterData(const char* text, int length);
    void FailFromException(const std::exception* caught) noexcept;
    // Removes the handlers and stops expat; nothing is logged.
    void Stop() noexcept;

    XML_ParserStruct* parser = nullptr;
    const QNL_xmlElementHandler* root = nullptr;
    bool aborted = false;
    QNL_xmlErrorSink* sink = nullptr;
    const char** currentAttributes = nullptr;
    std::deque<QNL_xmlElementFrame> frames;
    std::vector<std::unique_ptr<QNL_xmlElementHandler>> definitions;
};

namespace quarn::detail {

// Callbacks that forward to member functions of a concrete reader; an absent member does
// nothing and the token handler exists exactly when the token member is given. The members
// receive the reader that runs the parse, which is the one to ask for attributes and text.
template <class Owner> class XmlMemberCallbacks : public QNL_xmlCallbacks {
public:
    using Member = void (Owner::*)(QNL_xmlReader&);

    XmlMemberCallbacks(Owner* owner, Member start, Member end = nullptr, Member token = nullptr)
        : owner(owner), start(start), end(end), token(token) {}

    void Start(QNL_xmlReader& reader) override {
        if (start != nullptr) (owner->*start)(reader);
    }
    void End(QNL_xmlReader& reader) override {
        if (end != nullptr) (owner->*end)(reader);
    }
    void Token(QNL_xmlReader& reader) override {
        if (token != nullptr) (owner->*token)(reader);
    }
    bool HasTokenHandler() const override { return token != nullptr; }

private:
    Owner* owner;
    Member start;
    Member end;
    Member token;
};

// Locale-independent conversions of a whole text (blanks around it allowed) as the readers
// need them for attributes and list tokens: false when the text is not entirely one number
// or is out of range. Doubles accept "inf" and "nan" so that every written double reads back.
bool ParseXmlDouble(std::string_view text, double& value);
bool ParseXmlInt(std::string_view text, int& value);

} // namespace quarn::detail
