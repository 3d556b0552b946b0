#pragma once

// Internal: not part of the public interface.

#include "numerics/utf8.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace quarn::detail {

// Why `path` cannot be read as a model file: empty when it names a regular file (links are
// followed), else a short reason. Directories, pipes and devices are refused before they are
// opened: a pipe would block the open and a device may never end.
std::string FileProblem(const char* path);
// The message of a model file that cannot be read: "OPEN FILE FAILED: '<path>' (<reason>)".
std::string OpenFailedMessage(const char* path);

// The lines of one input text, handed out one at a time. The whole text is held decoded
// (see DecodeUtf8OrLatin1, a leading byte-order mark dropped); LF, CRLF and a bare CR each
// end a line and each reach the reader as one '\n'. Lines have no length limit.
// The bytes of a regular file as they are: 0, -103 (see FileProblem) or -42; nothing logged.
int ReadFileBytes(const char* path, std::string& bytes);

class TextLines {
public:
    // Reads the whole file. -103 when it is no regular file or cannot be opened or read,
    // -42 when it does not fit in memory; nothing is logged here.
    int Load(const char* path);
    void LoadText(std::string_view bytes);
    void Close();

    // The next line with '\n' at its end when the input had a line end there (only the last
    // line can lack it). False at the end of the input; the line counter then stays.
    bool ReadLine(std::string& line);
    // Lines handed out since the last Load.
    int GetLineNumber() const { return lineNumber; }
    bool IsEmpty() const { return text.empty(); }
    // The characters after the last line handed out.
    std::size_t GetRemaining() const { return text.size() - position; }

private:
    std::string text;
    std::size_t position = 0;
    int lineNumber = 0;
};

} // namespace quarn::detail
