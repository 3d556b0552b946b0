#include "model/error_handler.h"

#include <new>

const char* ErrorName(int code) {
    switch (code) {
    case -2:
        return "OUT OF RANGE";
    case -32:
        return "DUPLICATED IDENTIFIER";
    case -42:
        return "OUT OF MEMORY";
    case -51:
        return "WRONG NODE TYPE";
    case -103:
        return "FILE I/O FAILED";
    case -111:
        return "NO MORE TOKENS";
    case -126:
        return "LEXICAL ERROR. CHARACTER UNKNOWN";
    case -128:
        return "UNEXPECTED END OF FILE";
    case -1000:
        return "INVALID IDENTIFIER";
    case 0:
    case -1:
    case -3:
    case -4:
    case -5:
    case -17:
    case -18:
    case -19:
    case -20:
    case -22:
    case -24:
    case -28:
    case -30:
    case -34:
    case -36:
    case -38:
    case -40:
    case -44:
    case -46:
    case -50:
    case -100:
    case -101:
    case -102:
    case -127:
    case -567:
    case -568:
        return "NO ERROR";
    default:
        return "UNKNOWN ERROR CODE";
    }
}

QNL_errorHandler& QNL_errorHandler::Instance() {
    static QNL_errorHandler handler;
    return handler;
}

namespace {
// Builds the handler while the library loads, before any caller can log.
QNL_errorHandler& loadTimeHandler = QNL_errorHandler::Instance();
} // namespace

int QNL_errorHandler::LogError(int code, const char* message, const char* prefix) {
    if (code == 0) return 0;
    if (message == nullptr) message = ErrorName(code);
    // Logging must never fail towards its caller: when even the text cannot be stored the
    // code is still returned, and kept when possible.
    try {
        std::string text;
        if (prefix != nullptr) text = prefix;
        text += message;
        if (text.size() > MAX_MESSAGE_LENGTH) text.resize(MAX_MESSAGE_LENGTH);
        codes.push_back(code);
        try {
            messages.push_back(std::move(text));
        } catch (const std::bad_alloc&) {
            codes.pop_back();
        }
    } catch (const std::bad_alloc&) {
    }
    return code;
}

const char* QNL_errorHandler::GetMessage(int index) const {
    if (index < 0 || index >= GetNumberOfErrors()) return nullptr;
    return messages[static_cast<std::size_t>(index)].c_str();
}

int QNL_errorHandler::GetCode(int index) const {
    if (index < 0 || index >= GetNumberOfErrors()) return 0;
    return codes[static_cast<std::size_t>(index)];
}

void QNL_errorHandler::Flush() {
    codes.clear();
    messages.clear();
}

void QNL_errorHandler::TruncateTo(int count) {
    if (count < 0 || count >= GetNumberOfErrors()) return;
    codes.resize(static_cast<std::size_t>(count));
    messages.resize(static_cast<std::size_t>(count));
}
