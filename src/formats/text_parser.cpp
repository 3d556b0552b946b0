#include "formats/text_parser.h"

#include "definitions/ci_definition.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "numerics/number_text.h"

#include <cstring>
#include <new>

namespace {

bool IsNamedKind(int kind) {
    return kind == QNL_textScanner::IDENTIFIER || kind == QNL_textScanner::INTEGER ||
           kind == QNL_textScanner::REAL || kind == QNL_textScanner::PUNCTUATOR ||
           kind == QNL_textScanner::STRING;
}

const char* KindName(int kind) {
    switch (kind) {
    case QNL_textScanner::IDENTIFIER:
        return "Identifier";
    case QNL_textScanner::INTEGER:
        return "Integer";
    case QNL_textScanner::REAL:
        return "Real Number";
    case QNL_textScanner::PUNCTUATOR:
        return "Punctuator";
    case QNL_textScanner::STRING:
        return "String";
    default:
        return "";
    }
}

// What Expect names in its messages: the text in single quotes, else the kind's name.
std::string ExpectedThing(int kind, const char* text) {
    if (text != nullptr) return std::string("'") + text + "'";
    return KindName(kind);
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

int OutOfMemory() {
    return QNL_errorHandler::Instance().LogError(-42);
}

// The next token's text into out when it is of the kind; -127 when it is not.
int ReadTokenText(QNL_textParser& parser, int kind, std::string& out) {
    if (parser.PeekToken() != 0 || parser.GetTokenKind() != kind) return -127;
    try {
        out = parser.GetTokenText();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
    parser.ConsumeToken();
    return 0;
}

// name separator, then what `value` reads; -129 (no message) when the name is not next.
template <typename Value>
int ReadAfterName(QNL_textParser& parser, const char* name, const char* separator, Value value) {
    if (parser.ExpectQuiet(QNL_textParser::IDENTIFIER, name) != 0) return -129;
    const int result = parser.Expect(QNL_textParser::PUNCTUATOR, separator);
    return result != 0 ? result : value();
}

// "(" item { "," item } ")", "()" an empty list. `next` tells whether the next token can
// start an item; `item` reads one and appends it (0 or a code). After a comma an item must
// follow.
template <typename Next, typename Item>
int ReadCommaList(QNL_textParser& parser, Next next, Item item) {
    int result = parser.Expect(QNL_textParser::PUNCTUATOR, "(");
    if (result != 0) return result;
    if (!next()) return parser.Expect(QNL_textParser::PUNCTUATOR, ")");
    for (;;) {
        result = item();
        if (result != 0) return result;
        if (!parser.NextIsComma()) return parser.Expect(QNL_textParser::PUNCTUATOR, ")");
        parser.ConsumeToken();
    }
}

// Appends the token peeked last when `present` (the caller's check of its kind), else -127.
int AddTokenText(QNL_textParser& parser, QNL_stringArray& list, bool present) {
    if (!present) return -127;
    parser.ConsumeToken();
    const int result = list.Add(parser.GetTokenText().c_str());
    return result < 0 ? result : 0;
}

// "(" item ", " item ")": `item` writes the item at an index.
template <typename Item> int WriteCommaList(QNL_textFile& out, int count, Item item) {
    int result = out.Write("(");
    try {
        for (int i = 0; i < count && result == 0; ++i) {
            if (i > 0) result = out.Write(", ");
            if (result == 0) result = item(i);
        }
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
    return result != 0 ? result : out.Write(")");
}

// name " = " value ";\n", where `value` writes the value; nothing for a null name.
template <typename Value> int WriteAssignment(QNL_textFile& out, const char* name, Value value) {
    if (name == nullptr) return 0;
    int result = out.WriteLine(name);
    if (result == 0) result = out.Write(" = ");
    if (result == 0) result = value();
    return result != 0 ? result : out.Write(";\n");
}

} // namespace

QNL_textParser::QNL_textParser(QNL_network* network) : network(network) {
    status = STATUS_VALID | STATUS_READY;
}

QNL_textParser::~QNL_textParser() {
    outputFile.Discard();
}

// ---------------------------------------------------------------------------------------
// Reading frame

int QNL_textParser::StartScanner(int mode) {
    scanner.reset();
    firstReadError = 0;
    peekResult = 0;
    tokenKind = QNL_textScanner::UNKNOWN;
    tokenText.clear();
    scanner.reset(new (std::nothrow) QNL_textScanner(mode));
    if (scanner == nullptr) return OutOfMemory();
    return 0;
}

int QNL_textParser::StartReading(const char* path, int mode) {
    int result = StartScanner(mode);
    return result != 0 ? result : scanner->Open(path);
}

int QNL_textParser::StartReadingText(const std::string& text, int mode) {
    int result = StartScanner(mode);
    return result != 0 ? result : scanner->OpenText(text);
}

int QNL_textParser::FinishReading(int result) {
    scanner.reset();
    if (result == 0 && network != nullptr) ReportUnusableGates();
    return result != 0 ? result : firstReadError;
}

void QNL_textParser::ReportUnusableGates() {
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_node* node = network->GetNode(h);
        const auto* gate = dynamic_cast<const QNL_ciDefinition*>(node->GetDefinition());
        char reason[64];
        if (gate == nullptr ||
            gate->CheckParameters(gate->GetParameters(), reason, sizeof reason) == 0)
            continue;
        const char* id = node->GetId();
        NoteError(-567);
        QNL_errorHandler::Instance().LogError(
            -567,
            ("ERROR: Node [" + std::string(id != nullptr ? id : "") + "] is not valid: " + reason)
                .c_str());
    }
}

void QNL_textParser::NoteError(int code) {
    if (firstReadError == 0) firstReadError = code;
}

int QNL_textParser::GetLineNumber() const {
    return scanner != nullptr ? scanner->GetLineNumber() : 0;
}

std::size_t QNL_textParser::GetRemainingInput() const {
    return scanner != nullptr ? scanner->GetRemaining() : 0;
}

int QNL_textParser::ReportError(int code, const char* text) {
    return ReportErrorAt(GetLineNumber(), code, text);
}

int QNL_textParser::ReportErrorAt(int line, int code, const char* text) {
    if (code == 0) return 0;
    NoteError(code);
    std::string prefix = "(line " + std::to_string(line) + ") : ";
    return QNL_errorHandler::Instance().LogError(code, text, prefix.c_str());
}

// ---------------------------------------------------------------------------------------
// Tokens

int QNL_textParser::PeekToken() {
    if (scanner == nullptr) return peekResult = -2;
    QNL_textScanner::Token token;
    peekResult = scanner->PeekToken(token);
    try {
        if (peekResult == 0) {
            tokenKind = token.kind;
            tokenText = token.text;
        } else {
            tokenKind = QNL_textScanner::UNKNOWN;
            tokenText = peekResult == -126 ? token.text : std::string();
        }
    } catch (const std::bad_alloc&) {
        peekResult = OutOfMemory();
    }
    if (peekResult != 0 && peekResult != -111) NoteError(peekResult);
    return peekResult;
}

void QNL_textParser::ConsumeToken() {
    if (scanner != nullptr) scanner->Consume();
}

// A punctuator may also be matched by a token of another kind that spells the beginning of
// the text: the scanner gives "=" its own kind, yet formats expect it as a punctuator.
bool QNL_textParser::Matches(int kind, const char* text) const {
    if (tokenKind == kind) return text == nullptr || tokenText == text;
    if (kind != PUNCTUATOR || text == nullptr || tokenText.empty()) return false;
    return tokenText.size() <= std::strlen(text) &&
           std::strncmp(tokenText.c_str(), text, tokenText.size()) == 0;
}

int QNL_textParser::Expect(int kind, const char* text) {
    message.clear();
    if (scanner == nullptr) {
        NoteError(-127);
        return QNL_errorHandler::Instance().LogError(-127, "ERROR: Unable to parse file");
    }
    try {
        if (PeekToken() != 0) {
            message = IsNamedKind(kind)
                          ? "ERROR: End of File : Expecting " + ExpectedThing(kind, text)
                          : "ERROR: Unexpected End of File";
            return ReportError(-127, message.c_str());
        }
        if (Matches(kind, text)) {
            ConsumeToken();
            return 0;
        }
        message = "ERROR: '" + tokenText + "' : ";
        message += IsNamedKind(kind) ? ExpectedThing(kind, text) + " expected" : "Unexpected";
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
    return ReportError(-127, message.c_str());
}

int QNL_textParser::ExpectQuiet(int kind, const char* text) {
    if (scanner == nullptr) return -2;
    int result = PeekToken();
    if (result != 0) return result;
    if (!Matches(kind, text)) return -127;
    ConsumeToken();
    return 0;
}

int QNL_textParser::ReadInteger(int* out) {
    if (out == nullptr) return -2;
    if (PeekToken() != 0 || tokenKind != INTEGER) return -127;
    int result = TextToInteger(tokenText.c_str(), out);
    if (result != 0) return result;
    ConsumeToken();
    return 0;
}

int QNL_textParser::ReadReal(double* out) {
    if (out == nullptr) return -2;
    if (PeekToken() != 0 || (tokenKind != REAL && tokenKind != INTEGER)) return -127;
    int result = ParseNumber(tokenText.c_str(), out);
    if (result != 0) return result;
    ConsumeToken();
    return 0;
}

int QNL_textParser::ReadIdentifier(std::string& out) {
    return ReadTokenText(*this, IDENTIFIER, out);
}

int QNL_textParser::ReadString(std::string& out) {
    return ReadTokenText(*this, STRING, out);
}

bool QNL_textParser::Match(const char* text) const {
    if (text == nullptr) return false;
    return caseSensitive ? tokenText == text : EqualIgnoringCase(tokenText, text);
}

bool QNL_textParser::MatchAny(const char* const* list) const {
    if (list == nullptr) return false;
    for (; *list != nullptr; ++list)
        if (Match(*list)) return true;
    return false;
}

bool QNL_textParser::PeekMatch(const char* text) {
    return PeekToken() == 0 && Match(text);
}

bool QNL_textParser::PeekMatchAny(const char* const* list) {
    return PeekToken() == 0 && MatchAny(list);
}

bool QNL_textParser::NextIsIdentifier() {
    return PeekToken() == 0 && tokenKind == IDENTIFIER;
}

bool QNL_textParser::NextIsString() {
    return PeekToken() == 0 && tokenKind == STRING;
}

bool QNL_textParser::NextIsNumber() {
    return PeekToken() == 0 && (tokenKind == REAL || tokenKind == INTEGER);
}

bool QNL_textParser::NextIsInteger() {
    return PeekToken() == 0 && tokenKind == INTEGER;
}

bool QNL_textParser::NextIsComma() {
    return PeekToken() == 0 && tokenKind == PUNCTUATOR && tokenText == ",";
}

bool QNL_textParser::NextIsOpenParen() {
    return PeekToken() == 0 && tokenKind == PUNCTUATOR && tokenText == "(";
}

bool QNL_textParser::AtBlockEnd() {
    return PeekToken() != 0 || (tokenKind == PUNCTUATOR && tokenText == "}");
}

// ---------------------------------------------------------------------------------------
// Recovery

int QNL_textParser::SkipStatement() {
    long long depth = 0;
    for (;;) {
        int result = PeekToken();
        if (result != 0) {
            NoteError(result);
            return QNL_errorHandler::Instance().LogError(result);
        }
        if (tokenKind == PUNCTUATOR) {
            if (tokenText == "{") {
                ++depth;
            } else if (tokenText == "}") {
                if (depth == 0) return 0;
                --depth;
            } else if (depth == 0 && tokenText == ";") {
                return 0;
            }
        }
        ConsumeToken();
    }
}

int QNL_textParser::SkipBlock(int depth) {
    long long level = depth;
    for (;;) {
        int result = PeekToken();
        if (result != 0) {
            NoteError(result);
            return QNL_errorHandler::Instance().LogError(result);
        }
        if (tokenKind == PUNCTUATOR && tokenText == "{") {
            ++level;
        } else if (tokenKind == PUNCTUATOR && tokenText == "}") {
            if (level <= 0) return 0;
            if (--level == 0) {
                ConsumeToken();
                return 0;
            }
        }
        ConsumeToken();
    }
}

// ---------------------------------------------------------------------------------------
// Lists

int QNL_textParser::ReadIdentifierList(QNL_stringArray& list) {
    if (!list.IsValid()) return -567;
    return ReadCommaList(
        *this, [this] { return NextIsIdentifier(); },
        [this, &list] { return AddTokenText(*this, list, NextIsIdentifier()); });
}

int QNL_textParser::ReadStringList(QNL_stringArray& list) {
    if (!list.IsValid()) return -567;
    return ReadCommaList(
        *this, [this] { return NextIsString(); },
        [this, &list] { return AddTokenText(*this, list, NextIsString()); });
}

int QNL_textParser::ReadRealList(QNL_doubleArray& list) {
    return ReadCommaList(
        *this, [this] { return NextIsNumber(); },
        [this, &list] {
            double value = 0.0;
            const int result = ReadReal(&value);
            return result != 0 ? result : list.Add(value);
        });
}

int QNL_textParser::ReadIntegerList(QNL_intArray& list) {
    return ReadCommaList(
        *this, [this] { return NextIsInteger(); },
        [this, &list] {
            int value = 0;
            const int result = ReadInteger(&value);
            return result != 0 ? result : list.Add(value);
        });
}

int QNL_textParser::WriteIdentifierList(const QNL_stringArray& list, bool all) {
    return WriteCommaList(outputFile, all ? list.GetSize() : list.GetCount(), [&](int i) {
        const char* id = list.GetString(i);
        return outputFile.WriteRaw(id != nullptr ? id : "");
    });
}

int QNL_textParser::WriteStringList(const QNL_stringArray& list, bool all) {
    int n = all ? list.GetSize() : list.GetCount();
    int result = outputFile.Write("(");
    for (int i = 0; i < n && result == 0; ++i) {
        const char* item = list.GetString(i);
        if (i == 0) {
            result = WriteQuotedText(item != nullptr ? item : "", true);
            continue;
        }
        result = outputFile.WriteRaw(",");
        if (result != 0) break;
        if (outputFile.GetRightMargin() - outputFile.GetColumn() < 3) {
            result = outputFile.WriteRaw("\n\"");
        } else {
            result = outputFile.WriteRaw(" \"");
        }
        if (result == 0) result = WriteQuotedBody(item != nullptr ? item : "", true);
    }
    return result != 0 ? result : outputFile.Write(")");
}

int QNL_textParser::WriteRealList(const QNL_doubleArray& list, bool all) {
    return WriteCommaList(outputFile, all ? list.GetSize() : list.GetCount(),
                          [&](int i) { return outputFile.Write(FormatNumber(list[i])); });
}

int QNL_textParser::WriteIntegerList(const QNL_intArray& list, bool all) {
    return WriteCommaList(outputFile, all ? list.GetSize() : list.GetCount(),
                          [&](int i) { return outputFile.Write(std::to_string(list[i])); });
}

int QNL_textParser::WriteIdentifierListProperty(const char* name, const QNL_stringArray& list,
                                                bool all) {
    return WriteAssignment(outputFile, name, [&] { return WriteIdentifierList(list, all); });
}

int QNL_textParser::WriteStringListProperty(const char* name, const QNL_stringArray& list,
                                            bool all) {
    return WriteAssignment(outputFile, name, [&] { return WriteStringList(list, all); });
}

int QNL_textParser::WriteRealListProperty(const char* name, const QNL_doubleArray& list, bool all) {
    return WriteAssignment(outputFile, name, [&] { return WriteRealList(list, all); });
}

int QNL_textParser::WriteIntegerListProperty(const char* name, const QNL_intArray& list, bool all) {
    return WriteAssignment(outputFile, name, [&] { return WriteIntegerList(list, all); });
}

// ---------------------------------------------------------------------------------------
// Properties and blocks

int QNL_textParser::ReadProperty(const char* name, int kind) {
    if (name == nullptr) return -2;
    return ReadAfterName(*this, name, "=", [this, kind] { return Expect(kind); });
}

int QNL_textParser::ReadIntegerProperty(const char* name, int* out) {
    if (out == nullptr) return -2;
    int result = ReadProperty(name, INTEGER);
    return result != 0 ? result : TextToInteger(tokenText.c_str(), out);
}

int QNL_textParser::ReadBooleanProperty(const char* name, int* out) {
    if (out == nullptr) return -2;
    int result = ReadProperty(name, IDENTIFIER);
    if (result != 0) return result;
    if (Match("TRUE")) {
        *out = 1;
        return 0;
    }
    if (Match("FALSE")) {
        *out = 0;
        return 0;
    }
    try {
        message = "ERROR: (\"" + tokenText + "\") : Boolean Expected";
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
    return ReportError(-127, message.c_str());
}

int QNL_textParser::ReadColonProperty(const char* name, int kind) {
    if (name == nullptr) return -2;
    return ReadAfterName(*this, name, ":", [this, kind] { return Expect(kind); });
}

int QNL_textParser::ReadColonIntegerProperty(const char* name, int* out) {
    if (name == nullptr || out == nullptr) return -2;
    return ReadAfterName(*this, name, ":", [this, out] { return ReadInteger(out); });
}

int QNL_textParser::WriteProperty(const char* name, const char* value, bool quoted, bool escaped) {
    if (value == nullptr) return 0;
    return WriteAssignment(outputFile, name, [&] {
        if (quoted) return WriteQuotedText(value, escaped);
        return escaped ? WriteText(value, true) : outputFile.WriteRaw(value);
    });
}

int QNL_textParser::WriteIntegerProperty(const char* name, int value) {
    try {
        return WriteProperty(name, std::to_string(value).c_str(), false, false);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

int QNL_textParser::WriteBooleanProperty(const char* name, bool value) {
    return WriteProperty(name, value ? "TRUE" : "FALSE", false, false);
}

int QNL_textParser::WriteStringProperty(const char* name, const char* text) {
    return WriteProperty(name, text, true, true);
}

int QNL_textParser::ReadBlockEnd() {
    return Expect(PUNCTUATOR, "}");
}

int QNL_textParser::WriteBlockEnd() {
    outputFile.Unindent();
    int result = outputFile.WriteLine("};\n");
    outputFile.Unindent();
    return result;
}

int QNL_textParser::ReadNamedBlockStart(const char* name) {
    if (name == nullptr) return 0;
    return ReadAfterName(*this, name, "=", [this] { return Expect(PUNCTUATOR, "{"); });
}

int QNL_textParser::WriteNamedBlockStart(const char* name) {
    if (name == nullptr) return 0;
    int result = outputFile.WriteLine(name);
    if (result == 0) result = outputFile.Write(" = \n");
    outputFile.Indent();
    if (result == 0) result = outputFile.WriteLine("{\n");
    outputFile.Indent();
    return result;
}

int QNL_textParser::WriteBracedBlockStart(const char* name) {
    if (name == nullptr) return 0;
    int result = outputFile.WriteLine(name);
    if (result == 0) result = outputFile.Write(" {\n");
    outputFile.Indent();
    return result;
}

int QNL_textParser::BeginContinuation() {
    outputFile.SetContinuationText("\\ ");
    return 0;
}

int QNL_textParser::EndContinuation() {
    outputFile.SetContinuationText(nullptr);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Output file

int QNL_textParser::OpenFile(const char* path, int mode) {
    return outputFile.Open(path, mode);
}

int QNL_textParser::CloseFile() {
    return outputFile.Close();
}

void QNL_textParser::DiscardFile() {
    outputFile.Discard();
}

int QNL_textParser::WriteLine(const char* text) {
    return outputFile.WriteLine(text != nullptr ? text : "");
}

int QNL_textParser::WriteRaw(const char* text) {
    return outputFile.WriteRaw(text != nullptr ? text : "");
}

int QNL_textParser::WriteText(const char* text, bool escaped) {
    if (text == nullptr) text = "";
    if (!escaped) return outputFile.Write(text);
    int result;
    try {
        std::string body = Escape(text);
        BeginQuotedText();
        // Without a continuation a line end here would become part of a string.
        result = outputFile.GetContinuationText().empty() ? outputFile.WriteRaw(body)
                                                          : outputFile.Write(body);
    } catch (const std::bad_alloc&) {
        result = OutOfMemory();
    }
    EndQuotedText();
    return result;
}

int QNL_textParser::WriteQuotedText(const char* text, bool escaped) {
    int result = outputFile.Write("\"");
    return result != 0 ? result : WriteQuotedBody(text != nullptr ? text : "", escaped);
}

// The text and the closing quote, inside the continuation so that a break before the quote
// still ends with a continuation.
int QNL_textParser::WriteQuotedBody(const char* text, bool escaped) {
    int result;
    try {
        std::string body = escaped ? Escape(text) : std::string(text);
        body += '"';
        if (escaped) BeginQuotedText();
        result = escaped && !outputFile.GetContinuationText().empty() ? outputFile.Write(body)
                                                                      : outputFile.WriteRaw(body);
    } catch (const std::bad_alloc&) {
        result = OutOfMemory();
    }
    if (escaped) EndQuotedText();
    return result;
}

std::string QNL_textParser::Escape(const char* text) {
    std::string escaped;
    if (text == nullptr) return escaped;
    for (const char* p = text; *p != '\0'; ++p) {
        switch (*p) {
        case '\t':
            escaped += "\\t";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '"':
            escaped += "\\\"";
            break;
        case '\\':
            escaped += "\\\\";
            break;
        default:
            escaped += *p;
        }
    }
    return escaped;
}

// ---------------------------------------------------------------------------------------
// Refusal check

bool QNL_textParser::HasNoMauNodes() const {
    if (network == nullptr) return true;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_node* node = network->GetNode(h);
        if (node != nullptr && node->GetType() == QNL_TYPE_MAU) return false;
    }
    return true;
}
