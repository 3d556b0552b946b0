#include "formats/xml/xml_reader.h"

#include "formats/text_lines.h"
#include "model/error_handler.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

namespace quarn::detail {
namespace {

// Expat scans an unfinished token again with every piece it is given, so pieces of a fixed
// size make a long token cost time quadratic in its length. Each piece is as large as
// everything read before it (up to a bound on the buffer), which keeps the rescanning linear.
constexpr std::size_t FIRST_CHUNK_SIZE = std::size_t{1} << 16;
constexpr std::size_t MAX_CHUNK_SIZE = std::size_t{1} << 26;

// The white space of XML; expat has already turned other line ends into these.
bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsBlank(std::string_view text) {
    for (char c : text)
        if (!IsXmlSpace(c)) return false;
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// from_chars rejects a leading '+', which strtod and the files of other tools accept.
std::string_view SkipPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '+' && text[1] != '-')
        text.remove_prefix(1);
    return text;
}

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

int ClampToInt(XML_Size value) {
    return value > static_cast<XML_Size>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

} // namespace

bool ParseXmlDouble(std::string_view text, double& value) {
    text = SkipPlus(Trim(text));
    if (text.empty()) return false;
    double parsed = 0.0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    value = parsed;
    return true;
}

bool ParseXmlInt(std::string_view text, int& value) {
    text = SkipPlus(Trim(text));
    if (text.empty()) return false;
    int parsed = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    value = parsed;
    return true;
}

} // namespace quarn::detail

using quarn::detail::Quoted;

// ---- element definitions ----

QNL_xmlElementHandler::QNL_xmlElementHandler(std::unique_ptr<QNL_xmlCallbacks> callbacks,
                                             std::string name, int strictness)
    : name(std::move(name)), callbacks(std::move(callbacks)), strictness(strictness) {
    if (this->callbacks == nullptr) this->callbacks = std::make_unique<QNL_xmlCallbacks>();
}

void QNL_xmlElementHandler::AddChild(QNL_xmlElementHandler* child, int flags) {
    if (child != nullptr) children.push_back({child, flags});
}

void QNL_xmlElementHandler::AddAttribute(const char* attributeName, int flags) {
    if (attributeName != nullptr) attributes.push_back({attributeName, flags});
}

const QNL_xmlElementHandler::Child*
QNL_xmlElementHandler::FindChild(std::string_view childName) const {
    for (const Child& child : children)
        if (child.definition->GetName() == childName) return &child;
    return nullptr;
}

// ---- error sink ----

void QNL_xmlErrorSink::Error(const std::string& message, int line, int column) {
    QNL_errorHandler::Instance().LogError(-103, "Error at " + std::to_string(line) + ", " +
                                                    std::to_string(column) + " while loading " +
                                                    fileName + ": " + message);
}

void QNL_xmlErrorSink::UnknownElement(const std::string& element, int line, int column) {
    unknownItems = true;
    QNL_errorHandler::Instance().LogError(
        -100, "Warning: Ignored unknown element " + Quoted(element) + " at " +
                  std::to_string(line) + ", " + std::to_string(column) + " while loading " +
                  fileName);
}

void QNL_xmlErrorSink::UnknownAttribute(const std::string& element, const std::string& attribute,
                                        int line, int column) {
    unknownItems = true;
    QNL_errorHandler::Instance().LogError(
        -100, "Warning: Ignored unknown attribute " + Quoted(attribute) + " in " + Quoted(element) +
                  " at " + std::to_string(line) + ", " + std::to_string(column) +
                  " while loading " + fileName);
}

void QNL_xmlErrorSink::Finish() {
    if (!unknownItems) return;
    QNL_errorHandler::Instance().LogError(
        -100, std::string("File contains unknown elements and/or attributes. ") +
                  QNL_xmlReader::DownloadHint());
}

// ---- reader ----

QNL_xmlReader::~QNL_xmlReader() {
    if (parser != nullptr) XML_ParserFree(parser);
}

const char* QNL_xmlReader::DownloadHint() {
    return "Please get the most recent version of QUARN and of its modelling environment.\n"
           "https://quarn.example.org/download/";
}

QNL_xmlElementHandler* QNL_xmlReader::CreateElement(std::unique_ptr<QNL_xmlCallbacks> callbacks,
                                                    const char* name, int strictness) {
    definitions.push_back(std::make_unique<QNL_xmlElementHandler>(
        std::move(callbacks), name != nullptr ? name : "", strictness));
    return definitions.back().get();
}

bool QNL_xmlReader::ReadFile(const char* path, const QNL_xmlElementHandler* rootDefinition,
                             QNL_xmlErrorSink* errorSink) {
    root = rootDefinition;
    sink = errorSink;
    aborted = false;
    currentAttributes = nullptr;
    frames.clear();

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    bool result = false;
    try {
        const std::string problem = quarn::detail::FileProblem(path);
        std::unique_ptr<std::FILE, FileCloser> file(problem.empty() ? std::fopen(path, "rb")
                                                                    : nullptr);
        if (file == nullptr) {
            if (sink != nullptr)
                sink->Error(std::string("Can't open file ") + (path != nullptr ? path : "") +
                                (problem.empty() || problem == "no such file"
                                     ? std::string()
                                     : " (" + problem + ")"),
                            0, 0);
            return false;
        }
        if (parser != nullptr) XML_ParserFree(parser);
        parser = XML_ParserCreate(nullptr);
        if (parser == nullptr) {
            QNL_errorHandler::Instance().LogError(-42);
            return false;
        }
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, &QNL_xmlReader::OnStart, &QNL_xmlReader::OnEnd);
        XML_SetCharacterDataHandler(parser, &QNL_xmlReader::OnText);

        std::size_t chunk = quarn::detail::FIRST_CHUNK_SIZE;
        std::size_t total = 0;
        for (;;) {
            // Expat's own buffer takes the piece, so nothing is copied twice.
            void* buffer = XML_GetBuffer(parser, static_cast<int>(chunk));
            if (buffer == nullptr) {
                Fail("Out of memory");
                break;
            }
            const std::size_t count = std::fread(buffer, 1, chunk, file.get());
            if (count < chunk && std::ferror(file.get())) {
                Fail(std::string("Can't read file ") + path);
                break;
            }
            const bool last = count < chunk;
            if (XML_ParseBuffer(parser, static_cast<int>(count), last) == XML_STATUS_ERROR) {
                // A stop of our own was reported where it happened.
                if (!aborted && sink != nullptr) {
                    int line = 0, column = 0;
                    GetPosition(line, column);
                    const XML_LChar* text = XML_ErrorString(XML_GetErrorCode(parser));
                    sink->Error(text != nullptr ? text : "XML error", line, column);
                }
                break;
            }
            if (aborted) break;
            if (last) {
                result = true;
                break;
            }
            total += count;
            chunk = std::min(std::max(chunk, total), quarn::detail::MAX_CHUNK_SIZE);
        }
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        result = false;
    } catch (const std::exception& e) {
        QNL_errorHandler::Instance().LogError(-103, e.what());
        result = false;
    }
    frames.clear();
    currentAttributes = nullptr;
    if (parser != nullptr) {
        XML_ParserFree(parser);
        parser = nullptr;
    }
    return result;
}

void QNL_xmlReader::Stop() noexcept {
    if (parser != nullptr) {
        XML_SetElementHandler(parser, nullptr, nullptr);
        XML_SetCharacterDataHandler(parser, nullptr);
        XML_StopParser(parser, XML_FALSE);
    }
    aborted = true;
}

void QNL_xmlReader::Fail(const std::string& message) {
    int line = 0, column = 0;
    GetPosition(line, column);
    Stop();
    if (sink != nullptr) sink->Error(message, line, column);
}

void QNL_xmlReader::FailFromException(const std::exception* caught) noexcept {
    try {
        if (dynamic_cast<const std::bad_alloc*>(caught) != nullptr)
            Fail("Out of memory");
        else
            Fail(std::string("Unexpected error: ") +
                 (caught != nullptr ? caught->what() : "unknown exception"));
    } catch (...) {
        Stop();
    }
}

void QNL_xmlReader::GetPosition(int& line, int& column) const {
    if (parser == nullptr) {
        line = column = 0;
        return;
    }
    line = quarn::detail::ClampToInt(XML_GetCurrentLineNumber(parser));
    column = quarn::detail::ClampToInt(XML_GetCurrentColumnNumber(parser));
}

const std::string& QNL_xmlReader::GetText() const {
    static const std::string empty;
    return frames.empty() ? empty : frames.back().text;
}

void QNL_xmlReader::GetUnescapedText(std::string& text) const {
    const std::string& raw = GetText();
    text.clear();
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\\' && i + 1 < raw.size()) {
            c = raw[++i];
            if (c == 'n')
                c = '\n';
            else if (c == 't')
                c = '\t';
        }
        text.push_back(c);
    }
}

const char* QNL_xmlReader::FindAttribute(const char* name) const {
    if (currentAttributes == nullptr || name == nullptr) return nullptr;
    for (const char** a = currentAttributes; a[0] != nullptr; a += 2)
        if (std::strcmp(a[0], name) == 0) return a[1];
    return nullptr;
}

bool QNL_xmlReader::GetDoubleAttribute(const char* name, double& value, double defaultValue) {
    value = defaultValue;
    const char* text = FindAttribute(name);
    if (text == nullptr) return true;
    if (quarn::detail::ParseXmlDouble(text, value)) return true;
    Fail(std::string("Floating point value expected for attribute ") + Quoted(name));
    return false;
}

bool QNL_xmlReader::GetIntAttribute(const char* name, int& value, int defaultValue) {
    value = defaultValue;
    const char* text = FindAttribute(name);
    if (text == nullptr) return true;
    if (quarn::detail::ParseXmlInt(text, value)) return true;
    Fail(std::string("Integer value expected for attribute ") + Quoted(name));
    return false;
}

bool QNL_xmlReader::GetBoolAttribute(const char* name, bool& value, bool defaultValue) {
    value = defaultValue;
    const char* text = FindAttribute(name);
    if (text == nullptr) return true;
    if (std::strcmp(text, "true") == 0) {
        value = true;
        return true;
    }
    if (std::strcmp(text, "false") == 0) {
        value = false;
        return true;
    }
    Fail(std::string("'true' or 'false' expected as value of boolean attribute ") + Quoted(name));
    return false;
}

void QNL_xmlReader::GetStringAttribute(const char* name, std::string& value) const {
    const char* text = FindAttribute(name);
    value.assign(text != nullptr ? text : "");
}

bool QNL_xmlReader::CheckVersion(const std::string& fileVersion, const char* expectedVersion) {
    double found = 0.0, expected = 0.0;
    if (expectedVersion != nullptr && quarn::detail::ParseXmlDouble(fileVersion, found) &&
        quarn::detail::ParseXmlDouble(expectedVersion, expected) && found <= expected)
        return true;
    Fail("Invalid version number " + Quoted(fileVersion) + ", expected " +
         (expectedVersion != nullptr ? expectedVersion : "") + "\n" + DownloadHint());
    return false;
}

// ---- expat events ----

void QNL_xmlReader::OnStart(void* user, const char* name, const char** attributes) {
    auto* reader = static_cast<QNL_xmlReader*>(user);
    try {
        reader->StartElement(name, attributes);
    } catch (const std::exception& e) {
        reader->currentAttributes = nullptr;
        reader->FailFromException(&e);
    } catch (...) {
        reader->currentAttributes = nullptr;
        reader->FailFromException(nullptr);
    }
}

void QNL_xmlReader::OnEnd(void* user, const char* /*name*/) {
    auto* reader = static_cast<QNL_xmlReader*>(user);
    try {
        reader->EndElement();
    } catch (const std::exception& e) {
        reader->FailFromException(&e);
    } catch (...) {
        reader->FailFromException(nullptr);
    }
}

void QNL_xmlReader::OnText(void* user, const char* text, int length) {
    auto* reader = static_cast<QNL_xmlReader*>(user);
    try {
        reader->CharacterData(text, length);
    } catch (const std::exception& e) {
        reader->FailFromException(&e);
    } catch (...) {
        reader->FailFromException(nullptr);
    }
}

void QNL_xmlReader::StartElement(const char* name, const char** attributes) {
    if (aborted) return;
    const QNL_xmlElementHandler* definition = nullptr;
    if (frames.empty()) {
        if (root == nullptr || root->GetName() != name) {
            Fail("Unknown root element " + Quoted(name) + ", expected " +
                 Quoted(root != nullptr ? root->GetName() : std::string()));
            return;
        }
        definition = root;
    } else if (QNL_xmlElementFrame& top = frames.back(); top.definition != nullptr) {
        const QNL_xmlElementHandler::Child* child = top.definition->FindChild(name);
        if (child != nullptr) {
            bool first = top.metChildren.insert(name).second;
            if (!first && (child->flags & QNL_xmlElementHandler::MULTIPLE) == 0) {
                Fail("Multiple occurences of " + Quoted(name) + " not allowed in " +
                     Quoted(top.definition->GetName()));
                return;
            }
            definition = child->definition;
        } else if ((top.strictness & QNL_xmlElementHandler::STRICT_ELEMENTS) != 0) {
            Fail("Unknown element " + Quoted(name) + " in " + Quoted(top.definition->GetName()));
            return;
        } else if (sink != nullptr) {
            int line = 0, column = 0;
            GetPosition(line, column);
            sink->UnknownElement(name, line, column);
        }
    }
    // Everything inside an unknown element is skipped without further warnings.

    // The white space before a child is layout. Kept, it would grow with the nesting depth in
    // every open element at once.
    if (!frames.empty()) {
        QNL_xmlElementFrame& parent = frames.back();
        parent.hasChildren = true;
        if (quarn::detail::IsBlank(parent.text)) parent.text.clear();
    }

    int strictness = 0;
    if (definition != nullptr) {
        strictness = definition->GetStrictness();
        if (strictness == QNL_xmlElementHandler::INHERIT)
            strictness = frames.empty() ? QNL_xmlElementHandler::STRICT : frames.back().strictness;

        currentAttributes = attributes;
        for (const auto& declared : definition->GetAttributes()) {
            if ((declared.flags & QNL_xmlElementHandler::REQUIRED) != 0 &&
                FindAttribute(declared.name.c_str()) == nullptr) {
                currentAttributes = nullptr;
                Fail("Required attribute " + Quoted(declared.name) + " not found in element " +
                     Quoted(name));
                return;
            }
        }
        for (const char** a = attributes; a[0] != nullptr; a += 2) {
            bool known = false;
            for (const auto& declared : definition->GetAttributes())
                if (declared.name == a[0]) {
                    known = true;
                    break;
                }
            if (known) continue;
            if ((strictness & QNL_xmlElementHandler::STRICT_ATTRIBUTES) != 0) {
                currentAttributes = nullptr;
                Fail("Unknown attribute " + Quoted(a[0]) + " in element " + Quoted(name));
                return;
            }
            if (sink != nullptr) {
                int line = 0, column = 0;
                GetPosition(line, column);
                sink->UnknownAttribute(name, a[0], line, column);
            }
        }
        // The attribute array belongs to expat and lives only during this event.
        definition->GetCallbacks().Start(*this);
        currentAttributes = nullptr;
        if (aborted) return;
    }
    frames.emplace_back();
    frames.back().definition = definition;
    frames.back().strictness = strictness;
}

void QNL_xmlReader::CharacterData(const char* text, int length) {
    if (aborted || frames.empty() || length <= 0) return;
    QNL_xmlElementFrame& frame = frames.back();
    if (frame.definition == nullptr) return; // nobody reads the text of an ignored element
    QNL_xmlCallbacks& callbacks = frame.definition->GetCallbacks();
    if (!callbacks.HasTokenHandler()) {
        const std::string_view piece(text, static_cast<std::size_t>(length));
        if (frame.hasChildren && frame.text.empty() && quarn::detail::IsBlank(piece)) return;
        frame.text.append(piece);
        return;
    }
    // Expat may split the text anywhere, so a token that reaches the end of this piece
    // stays in the buffer until white space or the end of the element completes it.
    int i = 0;
    while (i < length && !aborted) {
        if (quarn::detail::IsXmlSpace(text[i])) {
            if (!frame.text.empty()) {
                callbacks.Token(*this);
                frame.text.clear();
            }
            ++i;
            continue;
        }
        int end = i;
        while (end < length && !quarn::detail::IsXmlSpace(text[end]))
            ++end;
        frame.text.append(text + i, static_cast<std::size_t>(end - i));
        i = end;
    }
}

void QNL_xmlReader::EndElement() {
    if (aborted || frames.empty()) return;
    QNL_xmlElementFrame& frame = frames.back();
    if (const QNL_xmlElementHandler* definition = frame.definition; definition != nullptr) {
        QNL_xmlCallbacks& callbacks = definition->GetCallbacks();
        if (callbacks.HasTokenHandler() && !frame.text.empty()) {
            callbacks.Token(*this);
            frame.text.clear();
        }
        if (!aborted) callbacks.End(*this);
        if (aborted) return;
        for (const auto& child : definition->GetChildren()) {
            if ((child.flags & QNL_xmlElementHandler::REQUIRED) != 0 &&
                frame.metChildren.count(child.definition->GetName()) == 0) {
                Fail("Required element " + Quoted(child.definition->GetName()) +
                     " not present in element " + Quoted(definition->GetName()));
                return;
            }
        }
    }
    frames.pop_back();
}
