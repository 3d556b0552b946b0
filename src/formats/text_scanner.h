#pragma once

#include "formats/text_lines.h"
#include "model/object.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Turns a text file into tokens for the keyword-based formats. The lexical rules of each
// format are one transition table (states by character class) selected by the mode; the
// scanner owns the decoded input, the current line and the last five tokens, which the
// reader can step back over. Tokens, lines and strings have no length limit.
class QNL_textScanner : public QNL_object {
public:
    // Token kinds.
    static constexpr int IDENTIFIER = 1;
    static constexpr int INTEGER = 2;
    static constexpr int REAL = 3;
    static constexpr int SLASH = 4;         // a lone "/"
    static constexpr int EQUALS = 5;        // a lone "="
    static constexpr int DOUBLE_EQUALS = 6; // "=="
    static constexpr int POINT = 7;         // a "." not followed by a digit, also after digits
    static constexpr int PUNCTUATOR = 8;
    static constexpr int SIGN = 9; // a lone "+" or "-"
    static constexpr int STRING = 70;
    static constexpr int UNKNOWN = 90;

    // Modes: 1 own text, Netica, KI and XMLBIF; 2 Ergo; 3 Hugin ("%" comments); 4 MSBN
    // ("," and "|" separate like blanks); 5 unsigned numbers.
    static constexpr int MODE_COUNT = 5;
    static constexpr int STATE_COUNT = 16;
    static constexpr int CLASS_COUNT = 17;

    struct Token {
        int kind = UNKNOWN;
        std::string text; // a string's content without its quotes and escapes
    };

    // A mode outside 1 to 5 leaves the scanner invalid: Open and PeekToken then give -2.
    explicit QNL_textScanner(int mode);

    // Reads the file (closing any earlier input) and its first line. 0; -102 for an empty
    // file; -103 with "OPEN FILE FAILED" logged when it cannot be read.
    int Open(const char* path);
    // The same for text already in memory, as if it were the content of a file.
    int OpenText(const std::string& text);

    // The next token without consuming it: 0, or -111 at the end of the input, -126 for an
    // unknown character (token kind 90), -128 for a comment or string cut off by the end of
    // the input. After an error the scanner stays where it was.
    int PeekToken(Token& token);
    // Moves past the pending token; after StepBack, forward again through the look-back.
    void Consume();
    // Makes the token before the current one of the look-back current again; -2 when there
    // is none. Only the last five tokens are kept.
    int StepBack();

    // The number of lines read so far: the line the scanner is on.
    int GetLineNumber() const { return lines.GetLineNumber(); }
    // The characters of the input from the scanning position on (the pending token included).
    std::size_t GetRemaining() const {
        return lines.GetRemaining() + line.size() - std::min(tokenStart, line.size());
    }
    int GetMode() const { return mode; }

    // The transition table of a mode (1 to 5): next state 1 to 15, or one of the actions
    // below. Exposed so that tests can check cells against the lexical rules.
    static constexpr std::uint8_t SKIP = 0;
    static constexpr std::uint8_t STRING_START = 70;
    static constexpr std::uint8_t LINE_COMMENT = 75;
    static constexpr std::uint8_t BLOCK_COMMENT = 80;
    static constexpr std::uint8_t NESTED_COMMENT = 85;
    static constexpr std::uint8_t UNKNOWN_CHARACTER = 90;
    static constexpr std::uint8_t ACCEPT = 95;
    using Table = std::array<std::array<std::uint8_t, CLASS_COUNT>, STATE_COUNT>;
    static const Table& TransitionTable(int mode);
    static int CharacterClass(unsigned char c);

private:
    int Start(int loaded);
    int Reset(int openStatus);
    bool NextLine();
    int Scan(Token& token);
    int ScanString(std::string& text);
    int SkipBlockComment(std::size_t from);
    int SkipNestedComment(std::size_t from);
    Token& Record(int kind, std::string_view text);
    Token& LookBack(int index) { return ring[(oldest + index) % LOOK_BACK]; }

    int mode;
    const Table* table = nullptr;
    quarn::detail::TextLines lines;
    std::string line; // the current line; the position at its size is its end
    std::size_t tokenStart = 0;
    std::size_t scanPosition = 0;
    bool pending = false;
    // The look-back: a ring of five tokens whose strings keep their storage from token to
    // token, so that recording one allocates nothing once the ring has warmed up.
    static constexpr int LOOK_BACK = 5;
    std::array<Token, LOOK_BACK> ring;
    int oldest = 0;         // the ring slot of the oldest token kept
    int kept = 0;           // tokens kept, at most five
    int current = -1;       // 0 for the oldest kept, -1 when none
    std::string stringText; // a string token being read
};
