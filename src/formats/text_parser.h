#pragma once

#include "formats/text_file.h"
#include "formats/text_scanner.h"
#include "model/object.h"

#include <memory>
#include <string>

class QNL_network;
class QNL_stringArray;
class QNL_intArray;
class QNL_doubleArray;

// The base of every file format. A format object serves one read or one write of one
// network (not owned). Reading goes through a scanner created by StartReading and owned
// until FinishReading; writing goes through the embedded output file, which replaces the
// target only when the whole file was written. The base carries the token primitives,
// statement recovery, the list and property readers and writers, and parse messages with
// line numbers; every parse error it reports is remembered so that a read that met one
// ends with its code instead of 0.
class QNL_textParser : public QNL_object {
public:
    // Token kinds and their names in messages are the scanner's.
    static constexpr int IDENTIFIER = QNL_textScanner::IDENTIFIER;
    static constexpr int INTEGER = QNL_textScanner::INTEGER;
    static constexpr int REAL = QNL_textScanner::REAL;
    static constexpr int PUNCTUATOR = QNL_textScanner::PUNCTUATOR;
    static constexpr int STRING = QNL_textScanner::STRING;

    explicit QNL_textParser(QNL_network* network);
    QNL_textParser(const QNL_textParser&) = delete;
    QNL_textParser& operator=(const QNL_textParser&) = delete;
    // Deletes the scanner; an output file still open is discarded, never committed.
    ~QNL_textParser() override;

    // Every format ends Read with FinishReading and Write with CloseFile (or DiscardFile).
    virtual int Read(const char* path) = 0;
    virtual int Write(const char* path) = 0;
    virtual bool AllowsDuplicateIds() { return false; }
    virtual bool SkipsCycleCheck() { return false; }
    virtual void SetFlags(int) {}

    // Consumes tokens up to the end of the current statement: a ";" at brace depth 0, which
    // is left for the caller, or a "}" at depth 0, which closes the enclosing block and is
    // left too. 0, or the scanner's code (logged without text) at the end of the input. It
    // makes no progress at such a "}": loops that call it must stop at AtBlockEnd.
    virtual int SkipStatement();
    virtual int SkipUnknownStatement() { return SkipStatement(); }

    // "(" item { "," item } ")"; "()" is an empty list. Items are appended with the list's
    // Add, whose failure is returned. -567 for a list object that is not valid.
    virtual int ReadIdentifierList(QNL_stringArray& list);
    virtual int ReadStringList(QNL_stringArray& list);
    virtual int ReadRealList(QNL_doubleArray& list);
    virtual int ReadIntegerList(QNL_intArray& list);

    // "all" writes the array's size entries, otherwise its count.
    virtual int WriteIdentifierListProperty(const char* name, const QNL_stringArray& list,
                                            bool all);
    virtual int WriteIdentifierList(const QNL_stringArray& list, bool all);
    virtual int WriteStringListProperty(const char* name, const QNL_stringArray& list, bool all);
    virtual int WriteStringList(const QNL_stringArray& list, bool all);
    virtual int WriteRealListProperty(const char* name, const QNL_doubleArray& list, bool all);
    virtual int WriteRealList(const QNL_doubleArray& list, bool all);
    virtual int WriteIntegerListProperty(const char* name, const QNL_intArray& list, bool all);
    virtual int WriteIntegerList(const QNL_intArray& list, bool all);

    // name "=" token of the kind; the token's text stays available as GetTokenText. -2 for a
    // null name, -129 (no message) when the name is not next.
    virtual int ReadProperty(const char* name, int kind);
    virtual int ReadIntegerProperty(const char* name, int* out);
    // "TRUE" gives 1, "FALSE" 0 (compared with Match); reads through ReadProperty.
    virtual int ReadBooleanProperty(const char* name, int* out);
    // name " = " value ";\n"; nothing for a null name or value.
    virtual int WriteProperty(const char* name, const char* value, bool quoted, bool escaped);
    virtual int WriteIntegerProperty(const char* name, int value);
    virtual int WriteBooleanProperty(const char* name, bool value);
    virtual int WriteStringProperty(const char* name, const char* text);

    // Block frames of the format; the base reads and writes braces.
    virtual int ReadBlockStart(const char*) { return 0; }
    virtual int ReadBlockEnd();
    virtual int WriteBlockStart(const char*) { return 0; }
    // Unindent, "};\n", unindent again.
    virtual int WriteBlockEnd();
    // True when peeking fails (end of input or a scanner error) or the next token is "}".
    virtual bool AtBlockEnd();
    // Code 0 logs nothing; otherwise logs the text behind "(line N) : " and returns the code.
    virtual int ReportError(int code, const char* text);
    // The same for a statement met earlier, on the line given.
    int ReportErrorAt(int line, int code, const char* text);
    virtual int BeginQuotedText() { return 0; }
    virtual int EndQuotedText() { return 0; }

    // Reading primitives. Each returns 0 or a negative code.
    int Expect(int kind, const char* text = nullptr);
    int ExpectQuiet(int kind, const char* text = nullptr);
    int ReadInteger(int* out);
    int ReadReal(double* out);
    int ReadIdentifier(std::string& out);
    int ReadString(std::string& out);
    // Compare with the last token's text (letter case ignored when not case-sensitive).
    bool Match(const char* text) const;
    bool MatchAny(const char* const* list) const;
    // These peek first and are false when peeking fails; GetPeekResult then holds the code
    // (-111 at the end of the input).
    bool PeekMatch(const char* text);
    bool PeekMatchAny(const char* const* list);
    bool NextIsIdentifier();
    bool NextIsString();
    bool NextIsNumber();
    bool NextIsInteger();
    bool NextIsComma();
    bool NextIsOpenParen();
    // Skips the next braced group (depth 0) or the rest of the group already open (depth
    // 1): the "}" that brings the depth from 1 to 0 is consumed and ends the skip. A "}" met
    // at depth 0 belongs to the enclosing block: the skip stops before it. 0, or the
    // scanner's code (logged without text) at the end of the input.
    int SkipBlock(int depth);
    // name ":" token of the kind (the colon-separated property form of some formats), with
    // the results of ReadProperty.
    int ReadColonProperty(const char* name, int kind);
    int ReadColonIntegerProperty(const char* name, int* out);

    // The next token into GetTokenKind / GetTokenText without consuming it: 0 or the
    // scanner's code (-2 without a scanner).
    int PeekToken();
    void ConsumeToken();
    int GetTokenKind() const { return tokenKind; }
    const std::string& GetTokenText() const { return tokenText; }
    int GetPeekResult() const { return peekResult; }
    int GetLineNumber() const;
    // The characters of the input not yet read; 0 without a scanner.
    std::size_t GetRemainingInput() const;
    // The text of the last parse message built by Expect or ReadBooleanProperty.
    const std::string& GetMessage() const { return message; }
    void SetCaseSensitive(bool sensitive) { caseSensitive = sensitive; }
    bool IsCaseSensitive() const { return caseSensitive; }

    // The first non-zero code reported, met while skipping, or met by the scanner (other
    // than the end of the input) since StartReading; 0 when none.
    int GetFirstReadError() const { return firstReadError; }

    // True when no node of the network has a multi-attribute utility definition.
    bool HasNoMauNodes() const;

    // Tab, newline, carriage return, double quote and backslash become "\t", "\n", "\r",
    // "\"" and "\\"; everything else is copied.
    static std::string Escape(const char* text);

    // The output file. Modes are QNL_textFile::READ_MODE and WRITE_MODE; the write
    // replaces the target at CloseFile, only when everything was written.
    int OpenFile(const char* path, int mode);
    int CloseFile();
    void DiscardFile();
    QNL_textFile& GetOutputFile() { return outputFile; }

    // Writing primitives on the output file.
    int WriteLine(const char* text);
    // Escaped: the escaped text between BeginQuotedText and EndQuotedText, broken only when
    // the format gives a continuation text. Not escaped: the wrapping writer.
    int WriteText(const char* text, bool escaped = false);
    int WriteRaw(const char* text);
    // A double-quoted string: the quotes, and the text escaped or as it is; never broken
    // inside except with the continuation text, so it always reads back as written.
    int WriteQuotedText(const char* text, bool escaped = true);
    int Indent() { return outputFile.Indent(); }
    int Unindent() { return outputFile.Unindent(); }
    int SetIndentWidth(int width) { return outputFile.SetIndentWidth(width); }
    int SetRightMargin(int margin) { return outputFile.SetRightMargin(margin); }
    void SetContinuationText(const char* text) { outputFile.SetContinuationText(text); }

    // The network read into or written from.
    QNL_network* GetNetwork() const { return network; }

protected:
    // Creates the scanner in the format's mode and opens the file: 0, -42, or the scanner's
    // code. Forgets the errors of an earlier read.
    int StartReading(const char* path, int mode);
    // The same on text in memory.
    int StartReadingText(const std::string& text, int mode);
    // Deletes the scanner; the result, or when it is 0 the first error met while reading.
    // A read that went through has its gates checked first: a gate whose parameters, as the
    // file gave them, make no probability table stays as read and is reported as a node that
    // fails its check is (-567, the node named), so the read ends with that code instead of
    // leaving the failure to the first update.
    int FinishReading(int result);

    // The variants some formats choose for their overrides.
    // Block start A: name "=" "{" (-129 without message when the name is not next; a null
    // name reads nothing).
    int ReadNamedBlockStart(const char* name);
    // Block start A: the name, " = ", newline, "{" one level deeper, contents two deeper.
    int WriteNamedBlockStart(const char* name);
    // Block start B: the name, " {", newline, contents one level deeper.
    int WriteBracedBlockStart(const char* name);
    // Continuation "\ " while a quoted text is written.
    int BeginContinuation();
    int EndContinuation();

    QNL_textFile outputFile;
    QNL_network* network;
    std::unique_ptr<QNL_textScanner> scanner;

private:
    int StartScanner(int mode);
    bool Matches(int kind, const char* text) const;
    void NoteError(int code);
    void ReportUnusableGates();
    int WriteQuotedBody(const char* text, bool escaped);

    int tokenKind = QNL_textScanner::UNKNOWN;
    std::string tokenText;
    std::string message;
    bool caseSensitive = true;
    int peekResult = 0;
    int firstReadError = 0;
};
