#pragma once

// Internal: not part of the public interface.

#include "formats/utf8.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace quarn::detail {

// The lines of one input text, handed out one at a time. The whole text is held decoded
// (see DecodeUtf8OrLatin1, a leading byte-order mark dropped); LF, CRLF and a bare CR each
// end a line and each reach the reader as one '\n'. Lines have no length limit.
class TextLines {
public:
    // Reads the whole file. -103 when it cannot be opened or read, -42 when it does not fit
    // in memory; nothing is logged here.
    int Load(const char* path);
    void LoadText(std::string_view bytes);
    void Close();

    // The next line with '\n' at its end when the input had a line end there (only the last
    // line can lack it). False at the end of the input; the line counter then stays.
    bool ReadLine(std::string& line);
    // Lines handed out since the last Load.
    int GetLineNumber() const { return lineNumber; }
    bool IsEmpty() const { return text.empty(); }

private:
    std::string text;
    std::size_t position = 0;
    int lineNumber = 0;
};

} // namespace quarn::detail
