#pragma once

#include <cstdio>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarn::detail {

// 0 for a null text or one XML can hold; otherwise -2, logged with a message naming the
// character and `field()` (e.g. "the name of node 'A'"), made only then.
int CheckXmlText(const char* text, const std::function<std::string()>& field);
int CheckXmlText(std::string_view text, const std::function<std::string()>& field);

} // namespace quarn::detail

// The output stream of the XML writers: writes a UTF-8 document element by element with tab
// indentation, collects the attributes of the next start tag and escapes every text so that
// the output is well formed whatever the texts hold; a text with a character XML cannot hold
// spoils the document rather than losing it (the network writers refuse such texts before
// they open a file). Callers open and close elements in matching pairs. The document goes to
// a temporary file beside the target, which replaces the target only when Close finds that
// everything was written and flushed; until then, and after any failure, the old file stays
// as it was.
class QNL_xmlWriter {
public:
    // Elements nested deeper than this are indented like those at this depth.
    static constexpr int MAX_INDENT_DEPTH = 16;

    QNL_xmlWriter() = default;
    // An unfinished document (Open without a successful Close) is discarded.
    virtual ~QNL_xmlWriter();
    QNL_xmlWriter(const QNL_xmlWriter&) = delete;
    QNL_xmlWriter& operator=(const QNL_xmlWriter&) = delete;

    // Starts a document at depth 0 with the XML declaration. False (and -103 logged) when
    // the temporary file cannot be created.
    bool Open(const char* path);
    // False when nothing is open or when any write, the flush or the replacement of the
    // target failed (then -103 is logged and the target is untouched), or a text held a
    // character XML cannot hold (-2, logged when it was met).
    bool Close();

    // A start tag with the pending attributes, then a line break; nesting grows by one.
    void OpenElement(const char* name);
    void CloseElement(const char* name);
    // A null text gives an empty element "<name ... />". With control escaping a tab, a line
    // feed and a backslash become "\t", "\n" and "\\"; a carriage return is "&#13;" always.
    void WriteElement(const char* name, const char* text, bool escapeControl = false);

    // Pending attributes for the next start tag, written in the order added. Doubles are
    // written in the shortest text that reads back to the same value.
    void AddAttribute(const char* name, double value);
    void AddAttribute(const char* name, bool value);
    void AddAttribute(const char* name, int value);
    void AddAttribute(const char* name, const char* value);
    void AddAttribute(const char* name, const std::string& value);

    // "<name>v1 v2 ...</name>"; with a marker text, a value equal to the marker value is
    // written as the marker text.
    void WriteDoubleList(const char* name, const double* values, int count,
                         const char* marker = nullptr, double markerValue = 0.0);
    void WriteTextList(const char* name, const char* const* texts, int count);
    void WriteTextList(const char* name, const std::vector<std::string>& texts);
    void WriteIndent();

private:
    enum class TagEnd { Empty, Children, Text };

    void StartTag(const char* name, TagEnd end);
    void Put(std::string_view text);
    void PutEscaped(std::string_view text, int mode);
    // Running out of memory while writing spoils the document: Close then fails.
    template <class Action> void Guarded(Action&& action) noexcept {
        try {
            action();
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    }
    // Closes and deletes the temporary file.
    void Discard() noexcept;

    std::FILE* file = nullptr;
    std::vector<std::pair<std::string, std::string>> pending;
    int depth = 0;
    bool failed = false;
    bool unwritableText = false;
    std::string targetPath;
    std::string temporaryPath;
};
