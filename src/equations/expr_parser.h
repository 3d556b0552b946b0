#pragma once

#include "equations/expr_node.h"

#include <cstddef>
#include <memory>
#include <string>

// Decides whether a name may stand as a variable in a parsed text; the message explains a
// refusal and is appended to the parser's "Invalid variable" error.
class QNL_variableValidator {
public:
    virtual ~QNL_variableValidator() = default;
    // True when the name may stand as a variable; otherwise says why in the message.
    virtual bool IsValidVariable(const std::string& name, std::string& message) = 0;
};

// Tokenizer and recursive-descent parser of the equation language. One object serves one
// parse at a time; only the first error is reported, with the offset at which it was found.
// Nesting (parentheses, unary minus, call arguments) and the depth of the built tree are
// bounded, so that no input can exhaust the stack here or in the tree's recursive walks.
class QNL_exprParser {
public:
    static constexpr int MAX_NESTING = 200;
    static constexpr int MAX_TREE_DEPTH = 1000;

    // On success tree receives a new tree owned by the caller; on failure tree is null and
    // message and position describe the first error.
    bool Parse(const std::string& text, QNL_variableValidator* validator, QNL_exprNode*& tree,
               std::string& message, int& position);

private:
    enum Token { END = 0, IDENTIFIER = 1, NUMBER = 2, LESS_EQUAL = 123, GREATER_EQUAL = 125 };

    struct Parsed {
        std::unique_ptr<QNL_exprNode> node;
        int depth = 0;
    };

    void NextToken();
    bool ReadNumber();
    void Error(const std::string& text);
    bool Failed() const { return errorCount > 0; }
    Parsed Combine(int kind, Parsed left, Parsed right);

    Parsed ParseEquation();
    Parsed ParseComparison();
    Parsed ParseSum();
    Parsed ParseTerm();
    Parsed ParsePower();
    Parsed ParseFactor();
    Parsed ParseCall(const std::string& name);

    QNL_variableValidator* validator = nullptr;
    const std::string* text = nullptr;
    std::size_t position = 0;
    int errorCount = 0;
    std::string errorMessage;
    std::size_t errorPosition = 0;
    int token = END;
    double number = 0.0;
    std::string identifier;
    int nesting = 0;
};

// The tree of a text of the equation language, owned by the caller, or null with the first
// error's message and position in the optional out arguments.
QNL_exprNode* ParseExpression(const std::string& text, QNL_variableValidator* validator = nullptr,
                              std::string* message = nullptr, int* position = nullptr);
