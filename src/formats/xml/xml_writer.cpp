#include "formats/xml/xml_writer.h"

#include "model/error_handler.h"
#include "numerics/number_text.h"
#include "numerics/utf8.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <new>

namespace quarn::detail {
namespace {

// How a text is escaped: attribute values keep tabs and line ends as character references
// (a parser would turn them into blanks); element text keeps tabs and line feeds as they
// are; control escaping writes them as backslash sequences. A carriage return is a character
// reference in all three.
constexpr int ESCAPE_ATTRIBUTE = 0;
constexpr int ESCAPE_TEXT = 1;
constexpr int ESCAPE_CONTROL = 2;

// Tries this many names for the temporary file before giving up.
constexpr int TEMPORARY_NAME_TRIES = 100;

const char* EntityFor(char c) {
    switch (c) {
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '&':
        return "&amp;";
    case '"':
        return "&quot;";
    case '\'':
        return "&apos;";
    default:
        return nullptr;
    }
}

bool HasHighBytes(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

std::string IntText(int value) {
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string CodePointText(char32_t cp) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
    return buffer;
}

} // namespace

int CheckXmlText(const char* text, const std::function<std::string()>& field) {
    return text != nullptr ? CheckXmlText(std::string_view(text), field) : 0;
}

int CheckXmlText(std::string_view text, const std::function<std::string()>& field) {
    const std::optional<char32_t> bad = CharacterXmlCannotHold(text);
    if (!bad) return 0;
    return QNL_errorHandler::Instance().LogError(
        -2, "ERROR: This Network cannot be saved in XML format: " + field() +
                " holds the character " + CodePointText(*bad) + ", which XML cannot hold");
}

} // namespace quarn::detail

namespace detail = quarn::detail;

QNL_xmlWriter::~QNL_xmlWriter() {
    Discard();
}

void QNL_xmlWriter::Discard() noexcept {
    if (file == nullptr) return;
    std::fclose(file);
    file = nullptr;
    std::remove(temporaryPath.c_str());
}

bool QNL_xmlWriter::Open(const char* path) {
    Discard();
    depth = 0;
    failed = false;
    unwritableText = false;
    pending.clear();
    if (path == nullptr || *path == '\0') {
        QNL_errorHandler::Instance().LogError(-103, "Can't create file ");
        return false;
    }
    try {
        targetPath = path;
        // "x" refuses an existing file, so a leftover or foreign file is never overwritten.
        for (int attempt = 0; attempt < detail::TEMPORARY_NAME_TRIES && file == nullptr;
             ++attempt) {
            temporaryPath = targetPath + ".tmp" + detail::IntText(attempt);
            file = std::fopen(temporaryPath.c_str(), "wbx");
        }
        if (file == nullptr) {
            QNL_errorHandler::Instance().LogError(-103, "Can't create file " + targetPath);
            return false;
        }
        Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    } catch (const std::bad_alloc&) {
        Discard();
        QNL_errorHandler::Instance().LogError(-42);
        return false;
    }
    return true;
}

bool QNL_xmlWriter::Close() {
    if (file == nullptr) return false;
    bool ok = !failed && std::fflush(file) == 0 && std::ferror(file) == 0;
    ok = std::fclose(file) == 0 && ok;
    file = nullptr;
    if (ok) ok = std::rename(temporaryPath.c_str(), targetPath.c_str()) == 0;
    if (!ok) {
        std::remove(temporaryPath.c_str());
        if (!unwritableText)
            QNL_errorHandler::Instance().LogError(-103, "Failed to write file " + targetPath);
    }
    pending.clear();
    return ok;
}

void QNL_xmlWriter::Put(std::string_view text) {
    if (file == nullptr || failed || text.empty()) return;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) failed = true;
}

void QNL_xmlWriter::PutEscaped(std::string_view text, int mode) {
    if (file == nullptr || failed) return;
    // Dropping the character would lose it without a word.
    if (detail::CheckXmlText(text, [] { return std::string("a text"); }) != 0) {
        failed = unwritableText = true;
        return;
    }
    // Texts reach the file as UTF-8: bytes that are not valid UTF-8 are taken as Latin-1.
    std::string decoded;
    if (detail::HasHighBytes(text)) {
        decoded = detail::DecodeUtf8OrLatin1(text);
        text = decoded;
    }
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (const char* entity = detail::EntityFor(c)) {
            out += entity;
            continue;
        }
        if (static_cast<unsigned char>(c) >= 0x20) {
            if (mode == detail::ESCAPE_CONTROL && c == '\\')
                out += "\\\\";
            else
                out += c;
            continue;
        }
        switch (c) {
        case '\t':
            out += mode == detail::ESCAPE_CONTROL     ? "\\t"
                   : mode == detail::ESCAPE_ATTRIBUTE ? "&#9;"
                                                      : "\t";
            break;
        case '\n':
            out += mode == detail::ESCAPE_CONTROL     ? "\\n"
                   : mode == detail::ESCAPE_ATTRIBUTE ? "&#10;"
                                                      : "\n";
            break;
        case '\r':
            // Always a reference: a parser turns a raw one into a line feed.
            out += "&#13;";
            break;
        default:
            break; // refused above
        }
    }
    Put(out);
}

// Deeper elements are indented no further: a tab per level on every line would make a deeply
// nested model (submodels within submodels) grow with the square of its depth.
void QNL_xmlWriter::WriteIndent() {
    const int tabs = std::min(depth, MAX_INDENT_DEPTH);
    if (tabs > 0) Put(std::string(static_cast<std::size_t>(tabs), '\t'));
}

void QNL_xmlWriter::StartTag(const char* name, TagEnd end) {
    WriteIndent();
    Put("<");
    Put(name);
    for (const auto& [attribute, value] : pending) {
        Put(" ");
        Put(attribute);
        Put("=\"");
        PutEscaped(value, detail::ESCAPE_ATTRIBUTE);
        Put("\"");
    }
    pending.clear();
    switch (end) {
    case TagEnd::Empty:
        Put(" />\n");
        break;
    case TagEnd::Children:
        Put(">\n");
        ++depth;
        break;
    case TagEnd::Text:
        Put(">");
        break;
    }
}

void QNL_xmlWriter::OpenElement(const char* name) {
    Guarded([&] { StartTag(name, TagEnd::Children); });
}

void QNL_xmlWriter::CloseElement(const char* name) {
    Guarded([&] {
        if (depth > 0) --depth;
        WriteIndent();
        Put("</");
        Put(name);
        Put(">\n");
    });
}

void QNL_xmlWriter::WriteElement(const char* name, const char* text, bool escapeControl) {
    Guarded([&] {
        if (text == nullptr) {
            StartTag(name, TagEnd::Empty);
            return;
        }
        StartTag(name, TagEnd::Text);
        PutEscaped(text, escapeControl ? detail::ESCAPE_CONTROL : detail::ESCAPE_TEXT);
        Put("</");
        Put(name);
        Put(">\n");
    });
}

void QNL_xmlWriter::AddAttribute(const char* name, double value) {
    Guarded([&] { pending.emplace_back(name, detail::ShortestNumberText(value)); });
}

void QNL_xmlWriter::AddAttribute(const char* name, bool value) {
    Guarded([&] { pending.emplace_back(name, value ? "true" : "false"); });
}

void QNL_xmlWriter::AddAttribute(const char* name, int value) {
    Guarded([&] { pending.emplace_back(name, detail::IntText(value)); });
}

void QNL_xmlWriter::AddAttribute(const char* name, const char* value) {
    Guarded([&] { pending.emplace_back(name, value != nullptr ? value : ""); });
}

void QNL_xmlWriter::AddAttribute(const char* name, const std::string& value) {
    Guarded([&] { pending.emplace_back(name, value); });
}

void QNL_xmlWriter::WriteDoubleList(const char* name, const double* values, int count,
                                    const char* marker, double markerValue) {
    Guarded([&] {
        StartTag(name, TagEnd::Text);
        for (int i = 0; values != nullptr && i < count; ++i) {
            if (i > 0) Put(" ");
            if (marker != nullptr && values[i] == markerValue)
                PutEscaped(marker, detail::ESCAPE_TEXT);
            else
                Put(detail::ShortestNumberText(values[i]));
        }
        Put("</");
        Put(name);
        Put(">\n");
    });
}

void QNL_xmlWriter::WriteTextList(const char* name, const char* const* texts, int count) {
    Guarded([&] {
        StartTag(name, TagEnd::Text);
        for (int i = 0; texts != nullptr && i < count; ++i) {
            if (i > 0) Put(" ");
            // Identifiers need no escaping, but nothing else may break the document.
            if (texts[i] != nullptr) PutEscaped(texts[i], detail::ESCAPE_TEXT);
        }
        Put("</");
        Put(name);
        Put(">\n");
    });
}

void QNL_xmlWriter::WriteTextList(const char* name, const std::vector<std::string>& texts) {
    Guarded([&] {
        StartTag(name, TagEnd::Text);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (i > 0) Put(" ");
            PutEscaped(texts[i], detail::ESCAPE_TEXT);
        }
        Put("</");
        Put(name);
        Put(">\n");
    });
}
