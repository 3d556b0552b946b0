#include "equations/expr_parser.h"

#include "model/error_handler.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <limits>
#include <new>

namespace quarn::detail {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The value a decimal text stands for when it lies outside the range of double: infinity
// when its magnitude is large, 0.0 when it is small.
double OutOfRangeValue(const char* first, const char* last) {
    long long decimalExponent = 0;
    bool seenNonZero = false;
    bool afterPoint = false;
    const char* p = first;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            afterPoint = true;
        } else if (!seenNonZero) {
            if (*p != '0') {
                seenNonZero = true;
                if (!afterPoint) decimalExponent = 1;
            } else if (afterPoint) {
                --decimalExponent;
            }
        } else if (!afterPoint) {
            ++decimalExponent;
        }
    }
    if (!seenNonZero) return 0.0;
    if (p != last) {
        ++p;
        const bool negative = p != last && *p == '-';
        if (p != last && (*p == '-' || *p == '+')) ++p;
        long long exponent = 0;
        for (; p != last && IsDigit(*p); ++p)
            exponent = std::min(exponent * 10 + (*p - '0'), 1000000000LL);
        decimalExponent += negative ? -exponent : exponent;
    }
    return decimalExponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

} // namespace
} // namespace quarn::detail

using namespace quarn::detail;

void QNL_exprParser::Error(const std::string& message) {
    if (errorCount++ == 0) {
        errorMessage = message;
        errorPosition = position;
    }
}

bool QNL_exprParser::ReadNumber() {
    const char* first = text->data() + position;
    const char* last = text->data() + text->size();
    const auto result = std::from_chars(first, last, number, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument) return false;
    if (result.ec == std::errc::result_out_of_range) number = OutOfRangeValue(first, result.ptr);
    position += static_cast<std::size_t>(result.ptr - first);
    return true;
}

void QNL_exprParser::NextToken() {
    const std::string& s = *text;
    while (position < s.size() && IsSpace(s[position]))
        ++position;
    if (position >= s.size()) {
        token = END;
        return;
    }
    const char c = s[position];
    switch (c) {
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case '-':
    case '/':
    case '=':
    case '^':
        ++position;
        token = c;
        return;
    case '<':
    case '>':
        ++position;
        if (position < s.size() && s[position] == '=') {
            ++position;
            token = c == '<' ? LESS_EQUAL : GREATER_EQUAL;
        } else {
            token = c;
        }
        return;
    default:
        break;
    }
    if (IsDigit(c) || c == '.') {
        if (ReadNumber()) {
            token = NUMBER;
        } else {
            Error("Invalid token");
            token = END;
        }
        return;
    }
    if (IsLetter(c)) {
        const std::size_t start = position;
        while (position < s.size() &&
               (IsLetter(s[position]) || IsDigit(s[position]) || s[position] == '_'))
            ++position;
        identifier.assign(s, start, position - start);
        token = IDENTIFIER;
        return;
    }
    // Anything else, an embedded NUL included, is refused rather than ending the text.
    ++position;
    Error("Invalid token");
    token = END;
}

QNL_exprParser::Parsed QNL_exprParser::Combine(int kind, Parsed left, Parsed right) {
    if (Failed() || !left.node || !right.node) return {};
    Parsed result;
    result.depth = 1 + std::max(left.depth, right.depth);
    if (result.depth > MAX_TREE_DEPTH) {
        Error("Expression nested too deeply");
        return {};
    }
    result.node.reset(QNL_exprBinaryOperator::Create(kind, left.node.get(), right.node.get()));
    left.node.release();
    right.node.release();
    return result;
}

QNL_exprParser::Parsed QNL_exprParser::ParseEquation() {
    Parsed left = ParseComparison();
    while (!Failed() && token == '=') {
        NextToken();
        left = Combine(QNL_exprNode::EQUAL, std::move(left), ParseComparison());
    }
    return left;
}

QNL_exprParser::Parsed QNL_exprParser::ParseComparison() {
    Parsed left = ParseSum();
    while (!Failed()) {
        int kind;
        if (token == '<')
            kind = QNL_exprNode::LESS;
        else if (token == '>')
            kind = QNL_exprNode::GREATER;
        else if (token == LESS_EQUAL)
            kind = QNL_exprNode::LESS_EQUAL;
        else if (token == GREATER_EQUAL)
            kind = QNL_exprNode::GREATER_EQUAL;
        else
            break;
        NextToken();
        left = Combine(kind, std::move(left), ParseSum());
    }
    return left;
}

QNL_exprParser::Parsed QNL_exprParser::ParseSum() {
    Parsed left = ParseTerm();
    while (!Failed() && (token == '+' || token == '-')) {
        const int kind = token == '+' ? QNL_exprNode::ADD : QNL_exprNode::SUBTRACT;
        NextToken();
        left = Combine(kind, std::move(left), ParseTerm());
    }
    return left;
}

QNL_exprParser::Parsed QNL_exprParser::ParseTerm() {
    Parsed left = ParsePower();
    while (!Failed() && (token == '*' || token == '/')) {
        const int kind = token == '*' ? QNL_exprNode::MULTIPLY : QNL_exprNode::DIVIDE;
        NextToken();
        left = Combine(kind, std::move(left), ParsePower());
    }
    return left;
}

QNL_exprParser::Parsed QNL_exprParser::ParsePower() {
    Parsed left = ParseFactor();
    while (!Failed() && token == '^') {
        NextToken();
        left = Combine(QNL_exprNode::POWER, std::move(left), ParseFactor());
    }
    return left;
}

QNL_exprParser::Parsed QNL_exprParser::ParseFactor() {
    // Every level of recursion passes through here once, so this bounds the stack.
    struct NestingGuard {
        int& depth;
        explicit NestingGuard(int& d) : depth(++d) {}
        ~NestingGuard() { --depth; }
    } guard(nesting);
    if (nesting > MAX_NESTING) {
        Error("Expression nested too deeply");
        return {};
    }

    Parsed result;
    switch (token) {
    case NUMBER:
        result.node = std::make_unique<QNL_exprConstant>(number);
        NextToken();
        return result;
    case '(':
        NextToken();
        result = ParseEquation();
        if (Failed()) return {};
        if (token != ')') {
            Error("')' expected");
            return {};
        }
        NextToken();
        return result;
    case '-':
        NextToken();
        result = ParseFactor();
        if (result.node) result.node->FlipSign();
        return result;
    case IDENTIFIER: {
        const std::string name = identifier;
        NextToken();
        if (token == '(') return ParseCall(name);
        if (validator != nullptr) {
            std::string reason;
            if (!validator->IsValidVariable(name, reason)) {
                Error("Invalid variable '" + name + "': " + reason);
                return {};
            }
        }
        result.node = std::make_unique<QNL_exprVariable>(name);
        return result;
    }
    default:
        Error("Factor expected");
        return {};
    }
}

QNL_exprParser::Parsed QNL_exprParser::ParseCall(const std::string& name) {
    const QNL_functionRecord* function = FindFunction(name);
    if (function == nullptr) {
        Error("Unknown function: " + name);
        return {};
    }
    std::unique_ptr<QNL_exprFunctionCall> call(QNL_exprFunctionCall::Create(*function));
    int argumentDepth = 0;
    auto readArgument = [&](int index) {
        Parsed argument = ParseEquation();
        if (Failed()) return false;
        argumentDepth = std::max(argumentDepth, argument.depth);
        call->SetArgument(index, argument.node.release());
        return true;
    };

    NextToken();
    if (function->parameterCount >= 0) {
        for (int i = 0; i < function->parameterCount; ++i) {
            if (i > 0) {
                if (token == ')') {
                    Error("Too few parameters in function call");
                    return {};
                }
                if (token != ',') {
                    Error("Comma expected in a function call");
                    return {};
                }
                NextToken();
            }
            if (!readArgument(i)) return {};
        }
        if (token != ')') {
            Error("')' expected in a function call");
            return {};
        }
    } else {
        int count = 0;
        if (token != ')') {
            for (;;) {
                if (!readArgument(count++)) return {};
                if (token != ',') break;
                if (count == QNL_exprFunctionCall::MAX_ARGUMENTS) {
                    Error("Max parameter count for vararg function call exceeded");
                    return {};
                }
                NextToken();
            }
        }
        if (token != ')') {
            Error("')' expected in a function call");
            return {};
        }
        if (count < -function->parameterCount) {
            Error("Too few parameters in vararg function call");
            return {};
        }
    }
    NextToken();

    Parsed result;
    result.depth = 1 + argumentDepth;
    if (result.depth > MAX_TREE_DEPTH) {
        Error("Expression nested too deeply");
        return {};
    }
    result.node = std::move(call);
    return result;
}

bool QNL_exprParser::Parse(const std::string& input, QNL_variableValidator* variableValidator,
                           QNL_exprNode*& tree, std::string& message, int& errorOffset) {
    tree = nullptr;
    validator = variableValidator;
    text = &input;
    position = 0;
    errorCount = 0;
    errorMessage.clear();
    errorPosition = 0;
    token = END;
    nesting = 0;
    try {
        Parsed result;
        NextToken();
        if (token == END && !Failed()) {
            Error("Empty expression");
        } else if (!Failed()) {
            result = ParseEquation();
            if (!Failed() && token != END) Error("Invalid expression");
        }
        if (!Failed()) {
            tree = result.node.release();
            return true;
        }
    } catch (const std::bad_alloc&) {
        errorCount = 0;
        Error(ErrorName(QNL_OUT_OF_MEMORY));
        QNL_errorHandler::Instance().LogError(QNL_OUT_OF_MEMORY);
    }
    message = errorMessage;
    const std::size_t cut = std::min<std::size_t>(errorPosition, input.size());
    errorOffset = static_cast<int>(std::min<std::size_t>(cut, INT_MAX));
    return false;
}

QNL_exprNode* ParseExpression(const std::string& text, QNL_variableValidator* validator,
                              std::string* message, int* position) {
    std::string localMessage;
    int localPosition = 0;
    QNL_exprParser parser;
    QNL_exprNode* tree = nullptr;
    if (!parser.Parse(text, validator, tree, message ? *message : localMessage,
                      position ? *position : localPosition))
        return nullptr;
    return tree;
}
