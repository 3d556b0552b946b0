#include "formats/text_file.h"

#include "model/error_handler.h"

#include <cerrno>
#include <new>

namespace {

// Characters that the scanner's string continuation skips at the start of the next line;
// none of them may begin a line that follows a break, or it would be lost on reading.
bool IsBlankLike(char c) {
    return c == ' ' || c == '\t' || c == '\b';
}

constexpr int kTemporaryNameAttempts = 1000;

} // namespace

QNL_textFile::~QNL_textFile() {
    Discard();
    lines.Close();
}

int QNL_textFile::Open(const char* path, int mode) {
    if (IsOpen()) Close();
    if (mode != READ_MODE && mode != WRITE_MODE) return -103;
    column = 0;
    indentLevel = 0;
    lineHasText = false;
    if (path == nullptr || *path == '\0')
        return QNL_errorHandler::Instance().LogError(-103, "OPEN FILE FAILED");

    if (mode == READ_MODE) {
        int loaded = -42;
        try {
            loaded = lines.Load(path);
        } catch (const std::bad_alloc&) {
            lines.Close();
        }
        if (loaded == -103)
            return QNL_errorHandler::Instance().LogError(-103,
                                                         quarn::detail::OpenFailedMessage(path));
        if (loaded != 0) return QNL_errorHandler::Instance().LogError(loaded);
        if (lines.IsEmpty()) {
            lines.Close();
            return -102;
        }
        reading = true;
        result = 0;
        return 0;
    }

    try {
        targetPath = path;
        // A name of our own beside the target: "x" opens exclusively, so a file that
        // happens to carry the name is never overwritten.
        for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
            std::string candidate = targetPath + ".tmp";
            if (attempt > 0) candidate += std::to_string(attempt);
            errno = 0;
            std::FILE* created = std::fopen(candidate.c_str(), "wbx");
            if (created != nullptr) {
                stream = created;
                temporaryPath = std::move(candidate);
                result = 0;
                return 0;
            }
            if (errno != EEXIST) break;
        }
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
    return QNL_errorHandler::Instance().LogError(-103, "OPEN FILE FAILED");
}

int QNL_textFile::Close() {
    if (reading) {
        lines.Close();
        reading = false;
        result = -103;
        return 0;
    }
    if (stream == nullptr) return -103;
    bool written = result == 0;
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0) written = false;
    if (std::fclose(stream) != 0) written = false;
    stream = nullptr;
    if (written && std::rename(temporaryPath.c_str(), targetPath.c_str()) != 0) written = false;
    result = -103;
    if (!written) {
        RemoveTemporary();
        std::string message = "WRITE FILE FAILED: ";
        message += targetPath;
        return QNL_errorHandler::Instance().LogError(-103, message);
    }
    temporaryPath.clear();
    return 0;
}

void QNL_textFile::Discard() {
    if (stream == nullptr) return;
    std::fclose(stream);
    stream = nullptr;
    result = -103;
    RemoveTemporary();
}

void QNL_textFile::RemoveTemporary() {
    if (!temporaryPath.empty()) std::remove(temporaryPath.c_str());
    temporaryPath.clear();
}

int QNL_textFile::ReadLine(std::string& line) {
    if (!reading) return -103;
    try {
        if (!lines.ReadLine(line)) {
            line.clear();
            result = -102;
            return -102;
        }
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return 0;
}

// The first failed write is logged here, where the path is known: the writers give up on
// the code alone and discard the file.
int QNL_textFile::Emit(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() && result == 0)
        result = QNL_errorHandler::Instance().LogError(-103, "WRITE FILE FAILED: " + targetPath);
    return result;
}

// Breaks happen only inside the text of one call: after its last blank that is followed by
// a non-blank, or, when it has none, before the whole text if the line already holds
// something; otherwise the text runs past the margin up to its next blank. A text that
// begins with a double quote is never moved on its own: it may close a string, and a line
// end inside a string without a continuation would change the string.
int QNL_textFile::Write(std::string_view text) {
    if (stream == nullptr || result != 0) return -103;
    try {
        const std::string indentation(static_cast<std::size_t>(indentLevel) * indentWidth, ' ');
        std::string out;
        out.reserve(text.size() + 8);
        std::size_t lineStart = 0; // where this call's text on the current line begins
        bool priorText = lineHasText;
        bool indentPending = false;
        bool unbroken = false;
        auto breakLine = [&](std::size_t keep) {
            out.resize(keep);
            out += continuation;
            out += '\n';
            out += indentation;
            column = static_cast<int>(indentation.size());
            lineStart = out.size();
            priorText = false;
            unbroken = false;
        };
        std::size_t i = 0;
        while (i < text.size()) {
            const char c = text[i];
            if (c == '\n') {
                out += '\n';
                column = 0;
                lineStart = out.size();
                priorText = false;
                unbroken = false;
                indentPending = true;
                ++i;
                continue;
            }
            if (indentPending) {
                out += indentation;
                column = static_cast<int>(indentation.size());
                lineStart = out.size();
                indentPending = false;
            }
            if (column >= rightMargin && !unbroken) {
                std::size_t blank = std::string::npos;
                for (std::size_t k = out.size(); k > lineStart; --k) {
                    const char b = out[k - 1];
                    if (b == '\t') break;
                    const char next = k < out.size() ? out[k] : c;
                    if (b == ' ' && !IsBlankLike(next)) {
                        blank = k - 1;
                        break;
                    }
                }
                if (blank != std::string::npos) {
                    std::size_t tail = out.size() - (blank + 1);
                    breakLine(blank + 1);
                    i -= tail;
                    continue;
                }
                const char first = lineStart < out.size() ? out[lineStart] : c;
                if (priorText && !IsBlankLike(first) && first != '"') {
                    std::size_t tail = out.size() - lineStart;
                    breakLine(lineStart);
                    i -= tail;
                    continue;
                }
                unbroken = true;
            }
            out += c;
            ++column;
            ++i;
            if (c == ' ') unbroken = false;
        }
        lineHasText = priorText || out.size() > lineStart;
        return Emit(out);
    } catch (const std::bad_alloc&) {
        result = -103;
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_textFile::WriteLine(std::string_view text) {
    if (stream == nullptr || result != 0) return -103;
    const int width = indentLevel * indentWidth;
    try {
        if (width > 0 && Emit(std::string(static_cast<std::size_t>(width), ' ')) != 0)
            return result;
    } catch (const std::bad_alloc&) {
        result = -103;
        return QNL_errorHandler::Instance().LogError(-42);
    }
    column += width;
    return Write(text);
}

int QNL_textFile::WriteRaw(std::string_view text) {
    if (stream == nullptr || result != 0) return -103;
    try {
        const std::string indentation(static_cast<std::size_t>(indentLevel) * indentWidth, ' ');
        std::string out;
        out.reserve(text.size());
        bool indentPending = false;
        for (char c : text) {
            if (c == '\n') {
                out += '\n';
                column = 0;
                lineHasText = false;
                indentPending = true;
                continue;
            }
            if (indentPending) {
                out += indentation;
                column = static_cast<int>(indentation.size());
                indentPending = false;
            }
            out += c;
            ++column;
            lineHasText = true;
        }
        return Emit(out);
    } catch (const std::bad_alloc&) {
        result = -103;
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_textFile::Indent() {
    // The level is capped as well, so a width of 0 cannot let it grow without bound.
    if (indentWidth * indentLevel >= MAX_RIGHT_MARGIN || indentLevel >= MAX_RIGHT_MARGIN) return -2;
    ++indentLevel;
    return 0;
}

int QNL_textFile::Unindent() {
    if (indentLevel <= 0) return -2;
    --indentLevel;
    return 0;
}

int QNL_textFile::SetIndentWidth(int width) {
    if (width < 0 || width > rightMargin - 1) return -2;
    indentWidth = width;
    return 0;
}

int QNL_textFile::SetRightMargin(int margin) {
    if (margin < 0 || margin < indentWidth + 1) return -2;
    rightMargin = margin > MAX_RIGHT_MARGIN ? MAX_RIGHT_MARGIN : margin;
    return 0;
}

void QNL_textFile::SetContinuationText(const char* text) {
    try {
        continuation = text != nullptr ? text : "";
    } catch (const std::bad_alloc&) {
        continuation.clear();
    }
}
