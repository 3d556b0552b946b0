#include "formats/text_scanner.h"

#include "model/error_handler.h"

#include <new>

namespace {

using Table = QNL_textScanner::Table;

// Character classes: the columns of the tables.
enum : int {
    LETTER = 0,
    DIGIT = 1,
    UNDERSCORE = 2,
    SLASH_MARK = 3,
    EQUAL = 4,
    STAR = 5,
    HASH = 6,
    DOT = 7,
    SIGN_MARK = 8, // + and -
    QUOTE = 9,
    PUNCT = 10, // ! $ ^ & ( ) [ ] { } ; : ' < > ? ` ~ \ @
    BLANK = 11, // blank, tab, newline and the end of the line
    OTHER = 12, // control characters and bytes 127 to 255
    PERCENT = 13,
    COMMA = 14,
    BAR = 15,
    EXP = 16, // e and E
};

// Actions, short so that the tables stay aligned.
constexpr std::uint8_t S = QNL_textScanner::SKIP;
constexpr std::uint8_t Q = QNL_textScanner::STRING_START;
constexpr std::uint8_t L = QNL_textScanner::LINE_COMMENT;
constexpr std::uint8_t B = QNL_textScanner::BLOCK_COMMENT;
constexpr std::uint8_t N = QNL_textScanner::NESTED_COMMENT;
constexpr std::uint8_t E = QNL_textScanner::UNKNOWN_CHARACTER;
constexpr std::uint8_t A = QNL_textScanner::ACCEPT;

// States, named after what has been read.
constexpr std::uint8_t ID = 1;   // identifier
constexpr std::uint8_t INT = 2;  // digits
constexpr std::uint8_t REA = 3;  // digits with a point and digits after it
constexpr std::uint8_t SLA = 4;  // "/"
constexpr std::uint8_t EQ = 5;   // "="
constexpr std::uint8_t EQ2 = 6;  // "=="
constexpr std::uint8_t PNT = 7;  // "." with no digit after it yet
constexpr std::uint8_t PUN = 8;  // a punctuator
constexpr std::uint8_t SGN = 9;  // "+" or "-"
constexpr std::uint8_t IE = 10;  // integer, "e"
constexpr std::uint8_t RE = 11;  // real, "e"
constexpr std::uint8_t IES = 12; // integer, "e" and sign
constexpr std::uint8_t RES = 13; // real, "e" and sign
constexpr std::uint8_t IED = 14; // integer, exponent digits
constexpr std::uint8_t RED = 15; // real, exponent digits

// Own text, Netica, KI and XMLBIF. Modes 3 to 5 are this table with a few cells changed.
// clang-format off
constexpr Table kMode1 = {{
   //let  dig  _    /    =    *    #    .    sign "    pun  blnk oth  %    ,    |    eE
    {ID,  INT, PUN, SLA, EQ,  PUN, PUN, PNT, SGN, Q,   PUN, S,   E,   PUN, PUN, PUN, ID}, // 0
    {ID,  ID,  ID,  A,   A,   A,   A,   A,   A,   A,   A,   A,   E,   A,   A,   A,   ID}, // 1 ID
    {A,   INT, A,   A,   A,   A,   A,   PNT, A,   A,   A,   A,   A,   A,   A,   A,   IE}, // 2 INT
    {A,   REA, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   RE}, // 3 REA
    {A,   A,   A,   L,   A,   B,   N,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 4 SLA
    {A,   A,   A,   A,   EQ2, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 5 EQ
    {A,   A,   A,   A,   E,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 6 EQ2
    {A,   REA, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 7 PNT
    {A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 8 PUN
    {A,   INT, A,   A,   A,   A,   A,   REA, A,   A,   A,   A,   A,   A,   A,   A,   A}, // 9 SGN
    {A,   IED, A,   A,   A,   A,   A,   A,   IES, A,   A,   A,   A,   A,   A,   A,   A}, // 10 IE
    {A,   RED, A,   A,   A,   A,   A,   A,   RES, A,   A,   A,   A,   A,   A,   A,   A}, // 11 RE
    {A,   IED, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 12 IES
    {A,   RED, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 13 RES
    {A,   IED, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 14 IED
    {A,   RED, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 15 RED
}};
// clang-format on

// Ergo: nearly every non-blank character continues an identifier; no comments, no strings.
// clang-format off
constexpr Table kMode2 = {{
   //let  dig  _    /    =    *    #    .    sign "    pun  blnk oth  %    ,    |    eE
    {ID,  INT, ID,  PUN, ID,  PUN, ID,  ID,  SGN, ID,  ID,  S,   E,   ID,  ID,  ID,  ID}, // 0
    {ID,  ID,  ID,  ID,  ID,  ID,  ID,  ID,  ID,  ID,  ID,  A,   E,   ID,  ID,  ID,  ID}, // 1 ID
    {ID,  INT, ID,  ID,  ID,  ID,  ID,  PNT, ID,  ID,  ID,  A,   A,   ID,  ID,  ID,  IE}, // 2 INT
    {ID,  REA, ID,  ID,  ID,  ID,  ID,  ID,  ID,  ID,  ID,  A,   A,   ID,  ID,  ID,  RE}, // 3 REA
    {ID,  ID,  ID,  A,   ID,  A,   ID,  ID,  ID,  ID,  ID,  A,   A,   ID,  ID,  ID,  A}, // 4 SLA
    {A,   A,   A,   A,   EQ2, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 5 EQ
    {A,   A,   A,   A,   E,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 6 EQ2
    {ID,  REA, ID,  A,   ID,  A,   ID,  ID,  ID,  ID,  ID,  A,   A,   ID,  ID,  ID,  A}, // 7 PNT
    {ID,  ID,  ID,  A,   ID,  A,   ID,  ID,  ID,  ID,  ID,  A,   A,   ID,  ID,  ID,  A}, // 8 PUN
    {ID,  INT, ID,  A,   ID,  A,   ID,  REA, ID,  ID,  ID,  A,   A,   ID,  ID,  ID,  A}, // 9 SGN
    {A,   IED, A,   A,   A,   A,   A,   A,   IES, A,   A,   A,   A,   A,   A,   A,   A}, // 10 IE
    {A,   RED, A,   A,   A,   A,   A,   A,   RES, A,   A,   A,   A,   A,   A,   A,   A}, // 11 RE
    {A,   IED, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 12 IES
    {A,   RED, A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 13 RES
    {A,   IE,  A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 14 IED
    {A,   RE,  A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A,   A}, // 15 RED
}};
// clang-format on

struct CellChange {
    int mode;
    int state;
    int characterClass;
    std::uint8_t value;
};

// clang-format off
constexpr CellChange kChangesFromMode1[] = {
    {3, 0,   PERCENT,   L},   // Hugin: "%" opens a line comment
    {3, IED, DIGIT,     IE},  // Hugin and MSBN: exponent digits alternate between two
    {3, RED, DIGIT,     RE},  // states, so a sign may follow an even number of them
    {4, IED, DIGIT,     IE},  // inside the same token
    {4, RED, DIGIT,     RE},
    {4, 0,   COMMA,     S},   // MSBN: commas and bars separate like blanks
    {4, 0,   BAR,       S},
    {5, 0,   SIGN_MARK, PUN}, // a sign is always a punctuator: numbers are unsigned
};
// clang-format on

struct Tables {
    Table byMode[QNL_textScanner::MODE_COUNT];
    Tables() {
        byMode[0] = kMode1;
        byMode[1] = kMode2;
        byMode[2] = byMode[3] = byMode[4] = kMode1;
        for (const CellChange& change : kChangesFromMode1) {
            byMode[change.mode - 1][change.state][change.characterClass] = change.value;
        }
    }
};

const Tables& AllTables() {
    static const Tables tables;
    return tables;
}

struct Classes {
    std::uint8_t of[256] = {};
    constexpr Classes() {
        for (int c = 0; c < 256; ++c)
            of[c] = OTHER;
        for (int c = 'a'; c <= 'z'; ++c)
            of[c] = LETTER;
        for (int c = 'A'; c <= 'Z'; ++c)
            of[c] = LETTER;
        for (int c = '0'; c <= '9'; ++c)
            of[c] = DIGIT;
        for (const char* p = "!$^&()[]{};:'<>?`~\\@"; *p != '\0'; ++p)
            of[static_cast<unsigned char>(*p)] = PUNCT;
        of[static_cast<unsigned char>('e')] = of[static_cast<unsigned char>('E')] = EXP;
        of[static_cast<unsigned char>('"')] = QUOTE;
        of[static_cast<unsigned char>('#')] = HASH;
        of[static_cast<unsigned char>('%')] = PERCENT;
        of[static_cast<unsigned char>('*')] = STAR;
        of[static_cast<unsigned char>('+')] = of[static_cast<unsigned char>('-')] = SIGN_MARK;
        of[static_cast<unsigned char>(',')] = COMMA;
        of[static_cast<unsigned char>('.')] = DOT;
        of[static_cast<unsigned char>('/')] = SLASH_MARK;
        of[static_cast<unsigned char>('=')] = EQUAL;
        of[static_cast<unsigned char>('_')] = UNDERSCORE;
        of[static_cast<unsigned char>('|')] = BAR;
        of[static_cast<unsigned char>(' ')] = of[static_cast<unsigned char>('\t')] = BLANK;
        of[static_cast<unsigned char>('\n')] = of[0] = BLANK;
    }
};

// Built at compile time: the scanner reads it for every character.
constexpr Classes kClasses;

// The kind of a token accepted in a state: every exponent state belongs to its number.
int KindOfState(int state) {
    switch (state) {
    case INT:
    case IE:
    case IES:
    case IED:
        return QNL_textScanner::INTEGER;
    case REA:
    case RE:
    case RES:
    case RED:
        return QNL_textScanner::REAL;
    default:
        return state;
    }
}

int LogEndOfFile(const char* message) {
    return QNL_errorHandler::Instance().LogError(-128, message);
}

} // namespace

const QNL_textScanner::Table& QNL_textScanner::TransitionTable(int mode) {
    if (mode < 1 || mode > MODE_COUNT) mode = 1;
    return AllTables().byMode[mode - 1];
}

int QNL_textScanner::CharacterClass(unsigned char c) {
    return kClasses.of[c];
}

QNL_textScanner::QNL_textScanner(int mode) : mode(mode) {
    if (mode >= 1 && mode <= MODE_COUNT) {
        table = &TransitionTable(mode);
    } else {
        status &= ~STATUS_VALID;
    }
}

int QNL_textScanner::Open(const char* path) {
    if (table == nullptr) return -2;
    int loaded = lines.Load(path);
    if (loaded == -103) {
        Reset(loaded);
        return QNL_errorHandler::Instance().LogError(-103, quarn::detail::OpenFailedMessage(path));
    }
    return Start(loaded);
}

int QNL_textScanner::OpenText(const std::string& text) {
    if (table == nullptr) return -2;
    try {
        lines.LoadText(text);
    } catch (const std::bad_alloc&) {
        return Start(-42);
    }
    return Start(0);
}

int QNL_textScanner::Start(int loaded) {
    try {
        if (loaded == 0) return Reset(0);
    } catch (const std::bad_alloc&) {
        loaded = -42;
    }
    lines.Close();
    Reset(loaded);
    return QNL_errorHandler::Instance().LogError(loaded);
}

// Forgets the tokens and the line of any earlier input and, after a successful load, reads
// the first line: -102 when there is none.
int QNL_textScanner::Reset(int openStatus) {
    line.clear();
    tokenStart = scanPosition = 0;
    pending = false;
    oldest = kept = 0;
    current = -1;
    if (openStatus != 0) return openStatus;
    return NextLine() ? 0 : -102;
}

bool QNL_textScanner::NextLine() {
    tokenStart = scanPosition = 0;
    return lines.ReadLine(line);
}

int QNL_textScanner::PeekToken(Token& token) {
    if (table == nullptr) return -2;
    try {
        if (pending || (current >= 0 && current != kept - 1)) {
            token = LookBack(current);
            return 0;
        }
        return Scan(token);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

// The token's text is the stretch of the line from tokenStart to scanPosition: it is taken
// once, when the token is accepted.
int QNL_textScanner::Scan(Token& token) {
    const Table& cells = *table;
    const std::uint8_t* classOf = kClasses.of;
    int state = 0;
    scanPosition = tokenStart;
    for (;;) {
        if (state == 0 && scanPosition >= line.size()) {
            if (!NextLine()) return -111;
            continue;
        }
        // The end of the line reads as a blank, which every table accepts or skips.
        unsigned char c =
            scanPosition < line.size() ? static_cast<unsigned char>(line[scanPosition]) : 0;
        std::uint8_t action = cells[state][classOf[c]];
        if (action >= 1 && action < STATE_COUNT) {
            // Stay in this loop while the token goes on inside the line, the common case.
            state = action;
            std::size_t position = scanPosition + 1;
            while (position < line.size()) {
                std::uint8_t next =
                    cells[state][classOf[static_cast<unsigned char>(line[position])]];
                if (next < 1 || next >= STATE_COUNT) break;
                state = next;
                ++position;
            }
            scanPosition = position;
            continue;
        }
        switch (action) {
        case SKIP:
            state = 0;
            tokenStart = ++scanPosition;
            break;
        case ACCEPT:
            token = Record(KindOfState(state),
                           std::string_view(line).substr(tokenStart, scanPosition - tokenStart));
            return 0;
        case STRING_START: {
            ++scanPosition;
            int result = ScanString(stringText);
            if (result != 0) return result;
            token = Record(STRING, stringText);
            return 0;
        }
        case LINE_COMMENT:
            if (!NextLine()) return -111;
            state = 0;
            break;
        case BLOCK_COMMENT:
        case NESTED_COMMENT: {
            int result = action == BLOCK_COMMENT ? SkipBlockComment(scanPosition)
                                                 : SkipNestedComment(scanPosition);
            if (result != 0) return result;
            state = 0;
            break;
        }
        default: {
            // Nothing is consumed: peeking again meets the same character.
            token.kind = UNKNOWN;
            token.text.assign(line, tokenStart, scanPosition - tokenStart);
            token.text += static_cast<char>(c);
            scanPosition = tokenStart;
            std::string message =
                "ERROR: Line " + std::to_string(GetLineNumber()) + " : UNKNOWN CHARACTER";
            return QNL_errorHandler::Instance().LogError(-126, message);
        }
        }
    }
}

// From just after the opening quote up to and including the closing one. A line end inside
// the string is dropped; a backslash starts an escape or a continuation, which skips blanks,
// tabs and backspaces up to the next other character, also across line ends.
int QNL_textScanner::ScanString(std::string& text) {
    text.clear();
    bool continuation = false;
    for (;;) {
        if (scanPosition >= line.size() || line[scanPosition] == '\n') {
            if (!NextLine())
                return LogEndOfFile("ERROR: UNEXPECTED END OF FILE. UNTERMINATED STRING");
            continue;
        }
        char c = line[scanPosition];
        if (continuation) {
            if (c == ' ' || c == '\t' || c == '\b') {
                ++scanPosition;
                continue;
            }
            continuation = false;
        }
        if (c == '"') {
            ++scanPosition;
            return 0;
        }
        if (c != '\\') {
            // The plain characters up to the next quote, backslash or line end, at once.
            std::size_t end = scanPosition + 1;
            while (end < line.size() && line[end] != '"' && line[end] != '\\' && line[end] != '\n')
                ++end;
            text.append(line, scanPosition, end - scanPosition);
            scanPosition = end;
            continue;
        }
        std::size_t next = scanPosition + 1;
        if (next >= line.size() || line[next] == '\n') {
            continuation = true;
            scanPosition = next;
            continue;
        }
        char escaped = line[next];
        scanPosition = next + 1;
        switch (escaped) {
        case '"':
        case '\\':
            text += escaped;
            break;
        case 'b':
            text += '\b';
            break;
        case 'n':
            text += '\n';
            break;
        case 'r':
            text += '\r';
            break;
        case 't':
            text += '\t';
            break;
        case '|':
            continuation = false;
            break;
        case ' ':
        case '\t':
        case '\b':
        case '\r':
            continuation = true;
            break;
        default:
            text += '\\';
            text += escaped;
            break;
        }
    }
}

// The search starts at the "*" of the opener, so "/*/" is a whole comment.
int QNL_textScanner::SkipBlockComment(std::size_t from) {
    for (;;) {
        std::size_t end = line.find("*/", from);
        if (end != std::string::npos) {
            tokenStart = scanPosition = end + 2;
            return 0;
        }
        if (!NextLine()) return LogEndOfFile("ERROR: UNEXPECTED END OF FILE. UNMATCHED '/*'");
        from = 0;
    }
}

// Counts "/#" and "#/" from the "#" of the opener; after each marker the search goes on
// from the marker's second character, so "/#/" is a whole comment.
int QNL_textScanner::SkipNestedComment(std::size_t from) {
    std::size_t depth = 1;
    for (;;) {
        for (std::size_t i = from; i + 1 < line.size(); ++i) {
            if (line[i] == '#' && line[i + 1] == '/') {
                if (--depth == 0) {
                    tokenStart = scanPosition = i + 2;
                    return 0;
                }
            } else if (line[i] == '/' && line[i + 1] == '#') {
                ++depth;
            }
        }
        if (!NextLine()) return LogEndOfFile("ERROR: UNEXPECTED END OF FILE. UNMATCHED '/#'");
        from = 0;
    }
}

// The text is copied before the ring moves on, so that a failed copy loses no token.
QNL_textScanner::Token& QNL_textScanner::Record(int kind, std::string_view text) {
    Token& slot = LookBack(kept == LOOK_BACK ? 0 : kept);
    slot.text.assign(text);
    slot.kind = kind;
    if (kept == LOOK_BACK) {
        oldest = (oldest + 1) % LOOK_BACK;
    } else {
        ++kept;
    }
    current = kept - 1;
    pending = true;
    return slot;
}

void QNL_textScanner::Consume() {
    if (current < 0 || current == kept - 1) {
        pending = false;
        tokenStart = scanPosition;
    } else {
        ++current;
        pending = true;
    }
}

int QNL_textScanner::StepBack() {
    if (current <= 0) return -2;
    --current;
    return 0;
}
