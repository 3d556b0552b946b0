#include "equations/expr_parser.h"

#include "expr_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using quarn_test::Parse;
using quarn_test::Text;
using quarn_test::Tree;

namespace {

struct Failure {
    std::string message;
    int position;
};

Failure ParseFailure(const std::string& text, QNL_variableValidator* validator = nullptr) {
    Failure failure{"<parsed>", -1};
    Tree tree(ParseExpression(text, validator, &failure.message, &failure.position));
    EXPECT_FALSE(tree) << text;
    return failure;
}

double Value(const std::string& text) {
    Tree tree = Parse(text);
    return tree ? EvaluateSigned(tree.get()) : std::nan("");
}

std::string ArgumentList(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? "," : "") + std::to_string(i);
    return text;
}

TEST(ExprParser, ReportsFirstErrorWithMessageAndPosition) {
    struct Case {
        std::string text;
        std::string message;
        int position;
    };
    // clang-format off
    const Case cases[] = {
        {"", "Empty expression", 0}, {"   ", "Empty expression", 3}, {"$", "Invalid token", 1},
        {"x + $", "Invalid token", 5}, {"_a", "Invalid token", 1}, {".", "Invalid token", 0},
        {"x y", "Invalid expression", 3}, {"1 2", "Invalid expression", 3},
        {"(x", "')' expected", 2}, {"*x", "Factor expected", 1}, {"x+", "Factor expected", 2},
        {"foo(1)", "Unknown function: foo", 4},
        {"Normal(0)", "Too few parameters in function call", 9},
        {"Normal(0 1)", "Comma expected in a function call", 10},
        {"Normal(0,1,2)", "')' expected in a function call", 11},
        {"Pi(1)", "')' expected in a function call", 4},
        {"Sum(1)", "Too few parameters in vararg function call", 6},
        {"Sum()", "Too few parameters in vararg function call", 5},
        {"Switch(1,2)", "Too few parameters in vararg function call", 11},
        {"Sum(1,2", "')' expected in a function call", 7},
        {std::string("x\0y", 3), "Invalid token", 2},
    };
    // clang-format on
    for (const Case& c : cases) {
        const Failure failure = ParseFailure(c.text);
        EXPECT_EQ(failure.message, c.message) << "'" << c.text << "'";
        EXPECT_EQ(failure.position, c.position) << "'" << c.text << "'";
    }
}

TEST(ExprParser, VarargCallsAcceptUpToThirtyArguments) {
    Tree thirty = Parse("Sum(" + ArgumentList(30) + ")");
    ASSERT_TRUE(thirty);
    EXPECT_EQ(EvaluateSigned(thirty.get()), 435.0);
    EXPECT_EQ(ParseFailure("Sum(" + ArgumentList(31) + ")").message,
              "Max parameter count for vararg function call exceeded");
    EXPECT_EQ(Value("Sum(1,2)"), 3.0);
}

TEST(ExprParser, PrecedenceAssociativityAndNumbers) {
    // Unary minus belongs to the factor, operators are left-associative, sums bind tighter
    // than comparisons and comparisons tighter than "=".
    // clang-format off
    const std::pair<const char*, double> cases[] = {
        {"-2^2", 4}, {"2^3^2", 64}, {"2+3*4", 14}, {"2*3^2", 18}, {"10-4-3", 3}, {"24/4/2", 3},
        {"3>2>1", 0}, {"1<2<3", 1}, {"2=2=2", 0}, {"1+2<=3", 1}, {"1<2=1", 1}, {"2>=3", 0},
        {"--3", 3}, {"2*-3", -6}, {"1e-3", 1e-3}, {".5", 0.5}, {"2.", 2}, {"0.1", 0.1},
        {"1e-999", 0}, {"Pi()", 3.141592653589793},
        {"0.00000000000000000000000000000000000000000000001e-300", 0},
    };
    // clang-format on
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Value(text), expected) << text;
    EXPECT_TRUE(std::isinf(Value("1e999")));
    // Hexadecimal is not a number of the language: "0x1" is 0 followed by an identifier.
    EXPECT_EQ(ParseFailure("0x1").message, "Invalid expression");
}

class RefusingValidator : public QNL_variableValidator {
public:
    bool IsValidVariable(const std::string& name, std::string& message) override {
        if (name != "bad") return true;
        message = "not a node";
        return false;
    }
};

TEST(ExprParser, ValidatorRefusalBecomesInvalidVariable) {
    RefusingValidator validator;
    Tree ok(ParseExpression("good + 1", &validator));
    EXPECT_TRUE(ok);
    const Failure failure = ParseFailure("good + bad * 2", &validator);
    EXPECT_EQ(failure.message, "Invalid variable 'bad': not a node");
    // Function names are not variables and never reach the validator.
    Tree call(ParseExpression("Sqrt(good)", &validator));
    EXPECT_TRUE(call);
}

// Deep parentheses, signs, calls and long sums are refused; moderate nesting is fine.
TEST(ExprParser, DeepNestingIsRefusedWithAnError) {
    std::string calls, longSum = "1", fine = "x";
    for (int i = 0; i < 20000; ++i) {
        longSum += "+1";
        if (i < 5000) calls += "Sin(";
        if (i < 100) fine = "(" + fine + "+1)";
    }
    for (const std::string& text :
         {std::string(100000, '(') + "x", std::string(100000, '-') + "x", calls, longSum})
        EXPECT_EQ(ParseFailure(text).message, "Expression nested too deeply") << text.substr(0, 9);
    EXPECT_EQ(Value(fine), 100.0); // x is undefined: a value next to zero
}

TEST(ExprParser, ParserObjectCanBeReusedAfterAFailure) {
    QNL_exprParser parser;
    QNL_exprNode* tree = nullptr;
    std::string message;
    int position = 0;
    EXPECT_FALSE(parser.Parse("Normal(", nullptr, tree, message, position));
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(message, "Factor expected");
    EXPECT_EQ(position, 7);
    ASSERT_TRUE(parser.Parse("If(a>1, 2, 3)", nullptr, tree, message, position));
    Tree owned(tree);
    QNL_exprNode::SetVariableValue(tree, "a", 5.0);
    EXPECT_EQ(EvaluateSigned(tree), 2.0);
}

} // namespace
