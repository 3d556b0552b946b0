#pragma once

#include "formats/text_lines.h"
#include "model/object.h"

#include <cstdio>
#include <string>
#include <string_view>

// The line writer of the text formats (and a plain line reader). Writing keeps an
// indentation, breaks lines that pass the right margin after a blank and ends each broken
// line with the continuation text. A written file is built under a temporary name beside
// the target and replaces the target only when Close finds every byte written and flushed;
// a write that fails or is abandoned leaves the target as it was.
class QNL_textFile : public QNL_object {
public:
    static constexpr int READ_MODE = -100;
    static constexpr int WRITE_MODE = -101;
    static constexpr int DEFAULT_RIGHT_MARGIN = 70;
    static constexpr int MAX_RIGHT_MARGIN = 1019;
    static constexpr int DEFAULT_INDENT_WIDTH = 1;

    QNL_textFile() = default;
    QNL_textFile(const QNL_textFile&) = delete;
    QNL_textFile& operator=(const QNL_textFile&) = delete;
    // An unfinished write is discarded: the target stays as it was.
    ~QNL_textFile() override;

    // READ_MODE loads the file (-102 when it is empty); WRITE_MODE creates the temporary
    // file beside the target. -103 for any other mode (not logged) and, with "OPEN FILE
    // FAILED" logged, when the file cannot be read or the temporary file cannot be made.
    // A file still open is closed first (a pending write is committed). The column and the
    // indentation level start at 0.
    int Open(const char* path, int mode);
    // Ends reading, or commits a write: flush, close and rename the temporary file over the
    // target. 0, or -103 (logged with the target's path) when anything of the write failed;
    // the temporary file is then removed and the target is untouched. -103 when not open.
    int Close();
    // Ends a write without touching the target; the temporary file is removed.
    void Discard();

    // Whether the file is open, and in which direction.
    bool IsOpen() const { return reading || stream != nullptr; }
    bool IsWriting() const { return stream != nullptr; }
    // 0 after success, -103 when closed or after a failed write, -102 at the end of input.
    int GetResult() const { return result; }
    // Lines read since Open.
    int GetLineNumber() const { return lines.GetLineNumber(); }
    // The temporary file of the write in progress (empty when not writing).
    const std::string& GetTemporaryPath() const { return temporaryPath; }

    // The next line without its line end: 0, or -102 at the end of the input; -103 when not
    // open for reading.
    int ReadLine(std::string& line);

    // The wrapping writer. Every write returns 0 or -103 (not open, or an earlier failure).
    int Write(std::string_view text);
    // The indentation first, then the text as Write does.
    int WriteLine(std::string_view text);
    // The text as it is, never broken; after each newline followed by more text the
    // indentation is written.
    int WriteRaw(std::string_view text);

    // Level + 1; -2 when width x level is already MAX_RIGHT_MARGIN or more.
    int Indent();
    // Level - 1; -2 at level 0.
    int Unindent();
    int SetIndentWidth(int width);
    // Margins above MAX_RIGHT_MARGIN become MAX_RIGHT_MARGIN; -2 for a negative margin or
    // one that leaves no column beside an indentation step.
    int SetRightMargin(int margin);
    // Written at the end of every line the wrapping writer breaks; null empties it.
    void SetContinuationText(const char* text);

    // Layout of written text: indentation, right margin and the current column.
    int GetIndentLevel() const { return indentLevel; }
    int GetIndentWidth() const { return indentWidth; }
    int GetRightMargin() const { return rightMargin; }
    int GetColumn() const { return column; }
    const std::string& GetContinuationText() const { return continuation; }

private:
    int Emit(const std::string& text);
    void RemoveTemporary();

    std::FILE* stream = nullptr;
    bool reading = false;
    int result = -103;
    quarn::detail::TextLines lines;
    std::string targetPath;
    std::string temporaryPath;

    int rightMargin = DEFAULT_RIGHT_MARGIN;
    int column = 0;
    int indentLevel = 0;
    int indentWidth = DEFAULT_INDENT_WIDTH;
    // The current line holds something besides its leading indentation.
    bool lineHasText = false;
    std::string continuation;
};
