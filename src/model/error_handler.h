#pragma once

#include <string>
#include <vector>

// Error codes with a name of their own; the other declared codes are named "NO ERROR".
enum QNL_errorCode {
    QNL_OK = 0,
    QNL_OUT_OF_RANGE = -2,
    QNL_DUPLICATED_IDENTIFIER = -32,
    QNL_OUT_OF_MEMORY = -42,
    QNL_WRONG_NODE_TYPE = -51,
    QNL_FILE_IO_FAILED = -103,
    QNL_NO_MORE_TOKENS = -111,
    QNL_LEXICAL_ERROR = -126,
    QNL_UNEXPECTED_EOF = -128,
    QNL_NOT_VALID = -567,
    QNL_NOT_READY = -568,
    QNL_INVALID_IDENTIFIER = -1000,
};

// The short upper-case name of an error code, used when a code is logged without a message.
const char* ErrorName(int code);

// The process-wide log of (code, message) pairs. Every failing operation logs here and
// returns the code it logged; only the Java binding empties the log. The one instance is
// constructed when the library is loaded.
class QNL_errorHandler {
public:
    // Longest joined prefix and message kept; longer texts are cut at this length.
    static constexpr std::size_t MAX_MESSAGE_LENGTH = 2043;

    // The one log of the process.
    static QNL_errorHandler& Instance();

    // Logs (code, prefix + message) and returns the code; code 0 logs nothing. A null
    // message is replaced by ErrorName(code).
    int LogError(int code, const char* message = nullptr, const char* prefix = nullptr);
    int LogError(int code, const std::string& message) { return LogError(code, message.c_str()); }

    // The logged entries in logging order; Flush empties the log.
    const char* GetMessage(int index) const;
    int GetCode(int index) const;
    int GetNumberOfErrors() const { return static_cast<int>(codes.size()); }
    void Flush();
    // Drops the entries logged after the first `count`: what an attempt logged that its
    // caller passed over. A count at or beyond the number of entries changes nothing.
    void TruncateTo(int count);

    QNL_errorHandler(const QNL_errorHandler&) = delete;
    QNL_errorHandler& operator=(const QNL_errorHandler&) = delete;

private:
    QNL_errorHandler() = default;

    std::vector<int> codes;
    std::vector<std::string> messages;
};
