#include "definitions/evaluation_context.h"
#include "equations/expr_node.h"
#include "equations/expr_parser.h"
#include "equations/function_table.h"
#include "numerics/random.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Tree = std::unique_ptr<QNL_exprNode>;

Tree Parse(const std::string& text) {
    std::string message;
    int position = -1;
    Tree tree(ParseExpression(text, nullptr, &message, &position));
    EXPECT_TRUE(tree) << "'" << text << "': " << message << " at " << position;
    return tree;
}

// The value of a parsed text; NaN when it does not parse.
double Value(const std::string& text) {
    Tree tree = Parse(text);
    return tree ? EvaluateSigned(tree.get()) : std::nan("");
}

std::string Text(const QNL_exprNode* node) {
    std::string out;
    QNL_exprNode::ToSignedText(node, out);
    return out;
}

// Same kinds, signs, names, values and functions all the way down.
bool SameTree(const QNL_exprNode* a, const QNL_exprNode* b) {
    if (a == nullptr || b == nullptr) return a == b;
    if (a->GetKind() != b->GetKind() || a->GetSign() != b->GetSign()) return false;
    switch (a->GetKind()) {
    case QNL_exprNode::VARIABLE:
        return static_cast<const QNL_exprVariable*>(a)->GetName() ==
               static_cast<const QNL_exprVariable*>(b)->GetName();
    case QNL_exprNode::CONSTANT:
        return static_cast<const QNL_exprConstant*>(a)->GetValue() ==
               static_cast<const QNL_exprConstant*>(b)->GetValue();
    case QNL_exprNode::FUNCTION_CALL:
    case QNL_exprNode::DISTRIBUTION_CALL: {
        const auto* ca = static_cast<const QNL_exprFunctionCall*>(a);
        const auto* cb = static_cast<const QNL_exprFunctionCall*>(b);
        if (&ca->GetFunction() != &cb->GetFunction()) return false;
        for (int i = 0; i < QNL_exprFunctionCall::MAX_ARGUMENTS; ++i)
            if (!SameTree(ca->GetArgument(i), cb->GetArgument(i))) return false;
        return true;
    }
    default: {
        const auto* oa = static_cast<const QNL_exprBinaryOperator*>(a);
        const auto* ob = static_cast<const QNL_exprBinaryOperator*>(b);
        return SameTree(oa->GetLeft(), ob->GetLeft()) && SameTree(oa->GetRight(), ob->GetRight());
    }
    }
}

// Random trees over the variables a, b, c. Constants are positive with a random sign, as the
// parser and the simplifier make them. withCalls adds deterministic calls; withComparisons
// adds the comparison and "=" operators.
class RandomTrees {
public:
    explicit RandomTrees(unsigned seed) : engine(seed) {}

    Tree Make(int depth, bool withCalls, bool withComparisons) {
        return Tree(MakeNode(depth, withCalls, withComparisons));
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(engine); }

    QNL_exprNode* MakeNode(int depth, bool withCalls, bool withComparisons) {
        QNL_exprNode* node;
        const int choice = depth <= 0 ? Pick(2) : 2 + Pick(withCalls ? 3 : 2);
        if (choice == 0) {
            const char* names[] = {"a", "b", "c"};
            node = new QNL_exprVariable(names[Pick(3)]);
        } else if (choice == 1) {
            const double values[] = {0.5, 1.25, 2, 3, 7.125, 0.1};
            node = new QNL_exprConstant(values[Pick(6)]);
        } else if (choice <= 3) {
            const int kinds = withComparisons ? 10 : 5;
            node = QNL_exprBinaryOperator::Create(
                QNL_exprNode::ADD + Pick(kinds),
                MakeNode(depth - 1 - Pick(2), withCalls, withComparisons),
                MakeNode(depth - 1 - Pick(2), withCalls, withComparisons));
        } else {
            const char* names[] = {"Sin", "Exp", "Sum", "If", "Sqr"};
            const QNL_functionRecord* f = FindFunction(names[Pick(5)]);
            auto* call = QNL_exprFunctionCall::Create(*f);
            const int count = f->parameterCount >= 0 ? f->parameterCount : 2 + Pick(3);
            for (int i = 0; i < count; ++i)
                call->SetArgument(i, MakeNode(depth - 1, withCalls, withComparisons));
            node = call;
        }
        if (Pick(4) == 0) node->FlipSign();
        return node;
    }

    std::mt19937 engine;
};

void Bind(QNL_exprNode* tree, double a, double b, double c) {
    QNL_exprNode::SetVariableValue(tree, "a", a);
    QNL_exprNode::SetVariableValue(tree, "b", b);
    QNL_exprNode::SetVariableValue(tree, "c", c);
}

Tree SimplifiedCopy(const Tree& tree) {
    QNL_exprNode* raw = tree->Clone();
    QNL_exprNode::SimplifyTree(raw);
    return Tree(raw);
}

std::string Simplified(const std::string& text) {
    return Text(SimplifiedCopy(Parse(text)).get());
}

TEST(ExprNode, PrintsWithMinimalParentheses) {
    const std::pair<const char*, const char*> cases[] = {
        {"a-(b-c)", "a-(b-c)"},   {"a/(b*c)", "a/(b*c)"},     {"a^(b^c)", "a^(b^c)"},
        {"(a-b)-c", "a-b-c"},     {"(a*b)+c", "a*b+c"},       {"a*(b+c)", "a*(b+c)"},
        {"(a+b)*c", "(a+b)*c"},   {"-(a+b)*c", "-(a+b)*c"},   {"a<(b<c)", "a<(b<c)"},
        {"(a = b) = c", "a=b=c"}, {"-a^2", "-a^2"},           {"-(a^2)", "-(a^2)"},
        {"a - -b", "a--b"},       {"a+(b+c)", "a+(b+c)"},     {"sum( a , 2.5 )", "Sum(a,2.5)"},
        {"a < b + 1", "a<b+1"},   {"(a < b) + 1", "(a<b)+1"}, {"a^-b", "a^-b"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(Text(Parse(input).get()), expected);
}

// Hand-written texts, random trees and numbers in their shortest form print back to the
// same tree or value.
TEST(ExprNode, PrintedTextParsesBackToTheSameTree) {
    const char* texts[] = {
        "X = 2*Y + Normal(0, 1)",
        "If(A > 3, 1, 0)",
        "a-(b-c)*-d/(e^f^g)",
        "-(-a+b)^-(c)",
        "Switch(k, 1, 2, 3) <= Sum(a, b, -c)",
        "Log(x, 2) >= -Exp(-y)",
        "Triangular(0,1,2)*2-x",
        "a=b<c+d*e^f",
        "((a))",
        "1e-7 + 2.5e+30 - .25",
    };
    for (const char* text : texts) {
        Tree tree = Parse(text);
        Tree back = Parse(Text(tree.get()));
        EXPECT_TRUE(SameTree(tree.get(), back.get())) << text << " -> " << Text(tree.get());
    }
    RandomTrees random(7);
    for (int i = 0; i < 300; ++i) {
        Tree tree = random.Make(5, true, true);
        const std::string text = Text(tree.get());
        Tree back = Parse(text);
        ASSERT_TRUE(SameTree(tree.get(), back.get())) << text << " -> " << Text(back.get());
    }
    for (double value : {0.5, 0.1, 0.123456789, 1.0 / 3.0, 1e-300, 6.02214076e23,
                         12345678901234567.0, 4.450147717014403e-308}) {
        std::string text;
        QNL_exprConstant(value).ToText(text);
        EXPECT_EQ(EvaluateSigned(Parse(text).get()), value) << text;
        EXPECT_TRUE(value != 0.5 || text == "0.5");
    }
}

// Clones are deep and keep signs; the visitors set, rename and count variables by exact
// name; the outermost distribution calls are collected for replacement.
TEST(ExprNode, ClonesVisitorsAndDistributionCalls) {
    Tree tree = Parse("-(x + Sin(-X))*Normal(x, 2) + Sum(x, y)");
    Tree copy(tree->Clone());
    EXPECT_EQ(QNL_exprNode::CountVariable(tree.get(), "x"), 3);
    EXPECT_EQ(QNL_exprNode::CountVariable(tree.get(), "X"), 1);
    EXPECT_EQ(EvaluateSigned(Parse("u").get()), QNL_exprVariable::UNDEFINED_VALUE);
    Tree sum = Parse("x + x*X + Sum(x, y)");
    QNL_exprNode::SetVariableValue(sum.get(), "x", 2.0);
    QNL_exprNode::SetVariableValue(sum.get(), "X", 10.0);
    QNL_exprNode::SetVariableValue(sum.get(), "y", 1.0);
    EXPECT_EQ(EvaluateSigned(sum.get()), 2.0 + 20.0 + 3.0);
    QNL_exprNode::RenameVariable(tree.get(), "x", "w");
    EXPECT_EQ(Text(copy.get()), "-(x+Sin(-X))*Normal(x,2)+Sum(x,y)");
    EXPECT_EQ(Text(tree.get()), "-(w+Sin(-X))*Normal(w,2)+Sum(w,y)");
    EXPECT_EQ(QNL_exprNode::CountVariable(tree.get(), "x"), 0);

    for (const auto& [text, expected] : std::vector<std::pair<const char*, const char*>>{
             {"Normal(Normal(0,1),1) + x*Uniform(0, Beta(2,2)) - Sin(y)", "u0+x*u1-Sin(y)"},
             {"Normal(Normal(0,1),1) + x", "u0+x"}}) {
        QNL_exprNode* raw = Parse(text).release();
        std::vector<QNL_exprNode**> places;
        raw->CollectDistributionCalls(&raw, places);
        int index = 0;
        for (QNL_exprNode** place : places) {
            const int sign = (*place)->GetSign();
            delete *place;
            *place = new QNL_exprVariable("u" + std::to_string(index++), sign);
        }
        EXPECT_EQ(Text(Tree(raw).get()), expected);
    }
}

TEST(ExprNode, SimplifiesTheDocumentedCases) {
    // clang-format off
    const char* cases[] = {
        "x*0 => 0",             "x*-1 => -x",           "x/x => 1",
        "-x/x => -1",           "2+3 => 5",             "2-5 => -3",
        "0+x => x",             "x-0 => x",             "0-x => -x",
        "x+-2 => x-2",          "x--2 => x+2",          "(x+1)+2 => x+3",
        "(x+1)-3 => x-2",       "(x-1)-3 => x-4",       "3+x => x+3",
        "3*x => x*3",           "x/4 => x*0.25",        "x^0 => 1",
        "-(x^0) => -1",         "x/0 => x/0",           "x*(y+z) => x*y+x*z",
        "(a-b)/c => a/c-b/c",   "Sin(2*3)+0 => Sin(6)", "1<2 => 1",
        "-(2^2) => -4",
    };
    // clang-format on
    for (const std::string text : cases) {
        const std::size_t arrow = text.find(" => ");
        EXPECT_EQ(Simplified(text.substr(0, arrow)), text.substr(arrow + 4)) << text;
    }
}

TEST(ExprNode, SimplifyPreservesValuesAtRandomPoints) {
    RandomTrees random(11);
    std::mt19937 engine(5);
    std::uniform_real_distribution<double> point(0.5, 2.0);
    int compared = 0;
    for (int i = 0; i < 300; ++i) {
        Tree original = random.Make(4, true, false);
        Tree owned = SimplifiedCopy(original);
        QNL_exprNode* simplified = owned.get();
        for (int p = 0; p < 5; ++p) {
            const double a = point(engine), b = point(engine), c = point(engine);
            Bind(original.get(), a, b, c);
            Bind(simplified, a, b, c);
            const double expected = EvaluateSigned(original.get());
            if (!std::isfinite(expected) || std::fabs(expected) > 1e12) continue;
            const double actual = EvaluateSigned(simplified);
            ASSERT_NEAR(actual, expected, 1e-7 * (1.0 + std::fabs(expected)))
                << Text(original.get()) << " => " << Text(simplified);
            ++compared;
        }
    }
    EXPECT_GT(compared, 1000);
}

TEST(ExprNode, SimplifyTerminatesOnProductsOfManySums) {
    std::string text = "(a+b)";
    for (int i = 0; i < 25; ++i)
        text += "*(a-" + std::to_string(i % 3 + 1) + "+b)";
    Tree original = Parse(text);
    Tree owned = SimplifiedCopy(original);
    QNL_exprNode* simplified = owned.get();
    Bind(original.get(), 1.5, 0.25, 0.0);
    Bind(simplified, 1.5, 0.25, 0.0);
    const double expected = EvaluateSigned(original.get());
    EXPECT_NEAR(EvaluateSigned(simplified), expected, 1e-9 * std::fabs(expected));
    EXPECT_LT(Text(simplified).size(), 400000u);
}

// Solves lhs = rhs for a variable the way the equation object does: everything moves to the
// variable's side, then one level at a time is undone.
Tree Solve(const std::string& equation, const std::string& name) {
    Tree tree = Parse(equation);
    auto* root = static_cast<QNL_exprBinaryOperator*>(tree.get());
    QNL_exprNode* varSide = new QNL_exprSubtract(root->ReleaseLeft(), root->ReleaseRight());
    QNL_exprNode* otherSide = new QNL_exprConstant(0.0);
    for (int step = 0; step < 50; ++step) {
        if (varSide->GetKind() == QNL_exprNode::VARIABLE) break;
        if (!varSide->Isolate(name, varSide, otherSide)) break;
    }
    EXPECT_EQ(varSide->GetKind(), QNL_exprNode::VARIABLE) << equation;
    if (varSide->GetSign() < 0) otherSide->FlipSign();
    delete varSide;
    QNL_exprNode::SimplifyTree(otherSide);
    return Tree(otherSide);
}

double Residual(const std::string& equation, double x, double y, double z) {
    Tree tree = Parse(equation);
    QNL_exprNode::SetVariableValue(tree.get(), "X", x);
    QNL_exprNode::SetVariableValue(tree.get(), "Y", y);
    QNL_exprNode::SetVariableValue(tree.get(), "Z", z);
    auto* root = static_cast<QNL_exprBinaryOperator*>(tree.get());
    return EvaluateSigned(root->GetLeft()) - EvaluateSigned(root->GetRight());
}

TEST(ExprNode, IsolatedVariableSatisfiesTheEquation) {
    // For "X = f(Y, Z)" X is taken from f at the given Y; the other forms take any X.
    struct Case {
        const char* equation;
        double y;
    };
    const Case cases[] = {
        {"X = 2*Y + 1", 1.7},      {"X = (Y - 3)/4", 0.4},
        {"X = 5 - Y", 2.5},        {"X = 3/Y", 1.5},
        {"X = Y^3", 1.3},          {"X = 2^Y", 0.8},
        {"X = Sin(Y)", 0.3},       {"X = Cos(Y)", 0.9},
        {"X = Tan(Y)", 0.6},       {"X = Exp(-Y)", 1.2},
        {"X = Ln(Y)", 2.2},        {"X = Sqr(Y)", 1.9},
        {"X = Sqrt(Y) + 1", 4.0},  {"X = Pow10(Y)", 0.7},
        {"X = Log10(Y)", 30.0},    {"X = Asin(Y)", 0.2},
        {"X = Acos(Y)", 0.2},      {"X = Atan(Y)", 3.0},
        {"X = Log(Y, 2)", 8.0},    {"X = Log(8, Y)", 3.0},
        {"X = -(2*Y)", 0.75},      {"X = -(Y + 1)*3 - Z", 2.0},
        {"X = Sin(-(Y/2))", 0.5},  {"X = If(Z, 2, 3)*Y", 4.0},
        {"X = -Sqrt(Y)", 2.0},     {"X = Z/(1 - Y)", 0.25},
        {"-X = Y/Z", 0.0},         {"X + Y = Z*2", 0.0},
        {"2*X = -((Y^2)^Z)", 0.0},
    };
    const double z = 1.5;
    for (const Case& c : cases) {
        const std::string equation = c.equation;
        double x = 0.7;
        if (equation.rfind("X = ", 0) == 0) {
            Tree right = Parse(equation.substr(4));
            QNL_exprNode::SetVariableValue(right.get(), "Y", c.y);
            QNL_exprNode::SetVariableValue(right.get(), "Z", z);
            x = EvaluateSigned(right.get());
        }
        if (equation.rfind("2*X", 0) == 0) x = -3.0;
        Tree solution = Solve(equation, "Y");
        EXPECT_EQ(QNL_exprNode::CountVariable(solution.get(), "Y"), 0) << equation;
        QNL_exprNode::SetVariableValue(solution.get(), "X", x);
        QNL_exprNode::SetVariableValue(solution.get(), "Z", z);
        const double y = EvaluateSigned(solution.get());
        EXPECT_NEAR(Residual(equation, x, y, z), 0.0, 1e-9 * (1.0 + std::fabs(x)))
            << equation << " => Y=" << Text(solution.get()) << " = " << y;
    }
}

TEST(ExprNode, IsolateRefusesWhatItCannotInvert) {
    const char* texts[] = {"Y*Y", "Y<2", "Normal(Y,1)", "Sum(Y,1)", "If(Y,1,2)", "Y = 1", "3"};
    for (const char* text : texts) {
        QNL_exprNode* varSide = Parse(text).release();
        QNL_exprNode* otherSide = new QNL_exprVariable("X");
        QNL_exprNode* before = varSide;
        EXPECT_FALSE(varSide->Isolate("Y", varSide, otherSide)) << text;
        EXPECT_EQ(varSide, before);
        EXPECT_EQ(Text(otherSide), "X");
        delete varSide;
        delete otherSide;
    }
}

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

QNL_argumentBlock Block(std::initializer_list<double> values) {
    QNL_argumentBlock block;
    for (double v : values)
        block.values[block.count++] = v;
    return block;
}

const QNL_functionRecord& Function(const char* name) {
    const QNL_functionRecord* f = FindFunction(name);
    EXPECT_NE(f, nullptr) << name;
    return *f;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST(FunctionTable, EveryNameIsFoundInAnyLetterCase) {
    for (const QNL_functionRecord& f : QNL_functionTable) {
        std::string upper = f.name;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(std::make_pair(FindFunction(Lower(f.name)), FindFunction(upper)),
                  std::make_pair(&f, &f));
        EXPECT_EQ(f.density != nullptr, f.moments != nullptr) << f.name;
    }
    for (const char* unknown : {"Sinh", "", "Lo"})
        EXPECT_EQ(FindFunction(unknown), nullptr) << unknown;
}

TEST(FunctionTable, DeterministicFunctionsGiveKnownValues) {
    // clang-format off
    const std::pair<const char*, double> cases[] = {
        {"If(0, 1, 2)", 2},           {"If(-0.5, 1, 2)", 1},        {"If(0/0, 1, 2)", 1},
        {"Switch(0, 10, 20)", 10},    {"Switch(2.9, 10, 20)", 20},  {"Switch(7, 10, 20)", 20},
        {"Switch(1.99, 10, 20)", 10}, {"Switch(-3, 10, 20)", 10},   {"Switch(2, 5, 6, 7)", 6},
        {"Log(8, 2)", 3},             {"Sum(1, 2, 3)", 6},          {"Sqr(-3)", 9},
        {"Sqrt(16)", 4},              {"Pow10(3)", 1000},           {"Log10(0.01)", -2},
        {"Ln(1)", 0},                 {"Exp(0)", 1},                {"Sin(0)", 0},
        {"Cos(0)", 1},                {"Tan(0)", 0},                {"Asin(1)", M_PI / 2},
        {"Acos(-1)", M_PI},           {"Atan(1)", M_PI / 4},        {"Pi()", 3.141592653589793},
    };
    // clang-format on
    for (const auto& [text, expected] : cases)
        EXPECT_NEAR(Value(text), expected, 1e-12) << text;
    EXPECT_EQ(Value("Switch(0/0, 10, 20)"), 10);
    EXPECT_EQ(Value("Switch(1e300, 10, 20)"), 20);
}

double Density(const char* name, double x, std::initializer_list<double> args) {
    return Function(name).density(x, Block(args));
}

// Normal reads its second argument as a standard deviation; Binomial gives its probability
// mass; Beta, Exponential, Lognormal, Weibull and Triangular are scaled to 1 at the mode and
// are 0 off the support; Triangular reads (min, mode, max), like its draw.
TEST(FunctionTable, DensitiesOfEveryDistribution) {
    const double k = 1.5, lambda = 2.0;
    const struct {
        const char* name;
        double x;
        std::initializer_list<double> args;
        double expected;
    } cases[] = {
        // clang-format off
        {"Uniform", 2.5, {2, 6}, 0.25}, {"Uniform", 6, {2, 6}, 0.25}, {"Uniform", 7, {2, 6}, 0},
        {"Bernoulli", 0.5, {0.3}, 0}, {"Bernoulli", 1, {0.3}, 0.3}, {"Bernoulli", 0, {0.3}, 0.7},
        {"Normal", 0, {0, 1}, 0.3989422804014327},
        {"Normal", 3, {1, 2}, 0.3989422804014327 / 2 * std::exp(-0.5)},
        {"Binomial", 2, {5, 0.3}, 10 * 0.09 * 0.343}, {"Binomial", 2.5, {5, 0.3}, 0},
        {"Binomial", 0, {3, 0}, 1}, {"Beta", 1.0 / 3.0, {2, 3}, 1}, {"Beta", 1.5, {2, 3}, 0},
        {"Beta", 0.4, {1, 1}, 1}, {"Exponential", 0, {2}, 1}, {"Exponential", -1, {2}, 0},
        {"Lognormal", std::exp(0.5 - 0.25), {0.5, 0.5}, 1}, {"Lognormal", 0, {0.5, 0.5}, 0},
        {"Weibull", lambda * std::pow((k - 1) / k, 1 / k), {lambda, k}, 1},
        {"Weibull", 0, {2, 1}, 1}, {"Triangular", 1, {0, 1, 4}, 1},
        {"Triangular", 0.5, {0, 1, 4}, 0.5}, {"Triangular", 3, {0, 1, 4}, 1.0 / 3.0},
        {"Triangular", 5, {0, 1, 4}, 0}, {"Triangular", 0, {0, 0, 4}, 1},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_NEAR(Density(c.name, c.x, c.args), c.expected, 1e-9) << c.name << " at " << c.x;
    EXPECT_LT(Density("Beta", 0.8, {2, 3}), 1.0);
    EXPECT_TRUE(std::isfinite(Density("Beta", 0.4, {0.5, 0.5})));
    double total = 0;
    for (int n = 0; n <= 5; ++n)
        total += Density("Binomial", n, {5, 0.3});
    EXPECT_NEAR(total, 1.0, 1e-12);
    for (double x : {0.01, 0.5, 3.0}) {
        const double d = Density("Weibull", x, {2, 0.7});
        EXPECT_TRUE(std::isfinite(d) && d > 0) << x;
    }
}

TEST(FunctionTable, SampleMomentsMatchTheMomentsEntries) {
    struct Case {
        const char* name;
        std::initializer_list<double> args;
        double lo, hi; // support of the draws
    };
    // clang-format off
    const Case cases[] = {
        {"Bernoulli", {0.3}, 0, 1},             {"Beta", {2, 3}, 0, 1},
        {"Beta", {1.5, 0.5}, 0, 1},             {"Beta", {0.5, 0.5}, 0, 1},
        {"Beta", {1, 1}, 0, 1},                 {"Binomial", {10, 0.4}, 0, 10},
        {"Exponential", {2}, 0, INFINITY},      {"Lognormal", {0.2, 0.4}, 0, INFINITY},
        {"Normal", {3, 2}, -9, 15},             {"Triangular", {0, 1, 4}, 0, 4},
        {"Uniform", {-1, 3}, -1, 3},            {"Weibull", {2, 1.5}, 0, INFINITY},
        {"Weibull", {1, 0.8}, 0, INFINITY},
    };
    // clang-format on
    const int n = 20000;
    QNL_randomUniform().Seed(12345);
    for (const Case& c : cases) {
        const QNL_functionRecord& f = Function(c.name);
        const QNL_argumentBlock args = Block(c.args);
        double mean = 0, variance = 0;
        f.moments(mean, variance, args);
        const std::string label = std::string(c.name) + " " + std::to_string(args.values[0]);
        double sum = 0, sumSquares = 0;
        for (int i = 0; i < n; ++i) {
            const double x = f.evaluate(args);
            ASSERT_TRUE(std::isfinite(x) && x >= c.lo && x <= c.hi) << label << ": " << x;
            sum += x;
            sumSquares += x * x;
        }
        EXPECT_NEAR(sum / n, mean, 5 * std::sqrt(variance / n)) << label;
        EXPECT_NEAR(sumSquares / n - sum * sum / n / n, variance, 0.1 * variance) << label;
    }
}

// A fractional trial count is rounded up by the draw; the mass, the moments and the draws must
// all describe that one distribution (message passing reads the moments, the samplers weigh by
// the mass), and so must a success probability outside [0, 1], which the draw clamps.
TEST(FunctionTable, BinomialMomentsAreThoseOfItsMassAndItsDrawsForAnyTrialCount) {
    const QNL_functionRecord& f = Function("Binomial");
    const int draws = 4000;
    QNL_randomUniform().Seed(4242);
    for (const double n : {7.5, 8.0, 0.2, 3.0, 2.999, 10.01, 0.0, -1.5}) {
        for (const double p : {0.0, 0.1, 0.37, 0.5, 0.9, -0.2, 1.3}) {
            const std::string label =
                "Binomial(" + std::to_string(n) + ", " + std::to_string(p) + ")";
            const QNL_argumentBlock args = Block({n, p});
            double mass = 0, m1 = 0, m2 = 0;
            for (int k = 0; k <= 14; ++k) {
                const double pk = f.normalisedDensity(k, args);
                ASSERT_TRUE(pk >= 0.0 && pk <= 1.0) << label << " at " << k;
                mass += pk;
                m1 += k * pk;
                m2 += double(k) * k * pk;
            }
            EXPECT_NEAR(mass, 1.0, 1e-12) << label;
            const double massVariance = m2 - m1 * m1;
            double m4 = 0;
            for (int k = 0; k <= 14; ++k)
                m4 += std::pow(k - m1, 4) * f.normalisedDensity(k, args);

            double mean = -1, variance = -1;
            f.moments(mean, variance, args);
            EXPECT_NEAR(mean, m1, 1e-12) << label;
            EXPECT_NEAR(variance, massVariance, 1e-12) << label;

            double sum = 0, sumSquares = 0;
            for (int i = 0; i < draws; ++i) {
                const double x = f.evaluate(args);
                sum += x;
                sumSquares += x * x;
            }
            const double drawMean = sum / draws;
            const double drawVariance = sumSquares / draws - drawMean * drawMean;
            EXPECT_NEAR(drawMean, m1, 5 * std::sqrt(massVariance / draws) + 1e-12) << label;
            EXPECT_NEAR(drawVariance, massVariance,
                        5 * std::sqrt((m4 - massVariance * massVariance) / draws) +
                            5 * massVariance / draws + 1e-12)
                << label;
        }
    }
}

TEST(FunctionTable, DrawsRepeatWithTheSeedAndStayFinite) {
    const QNL_functionRecord& exponential = Function("Exponential");
    const QNL_argumentBlock rate = Block({1.0});
    QNL_randomUniform().Seed(99);
    std::vector<double> first;
    for (int i = 0; i < 50; ++i)
        first.push_back(Value("Normal(0, 1) + Uniform(0, 1)"));
    QNL_randomUniform().Seed(99);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(Value("Normal(0, 1) + Uniform(0, 1)"), first[i]);

    // One draw in 32768 is 0.0; its logarithm must not reach the result.
    QNL_randomUniform().Seed(1);
    for (int i = 0; i < 200000; ++i)
        ASSERT_TRUE(std::isfinite(exponential.evaluate(rate)));

    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(Value("Binomial(0, 0.5)"), 0.0);
        EXPECT_EQ(Value("Binomial(3, 0)"), 0.0);
        EXPECT_EQ(Value("Binomial(-2, 1)"), 0.0);
        EXPECT_EQ(Value("Binomial(2.5, 1)"), 3.0); // ceil(n) trials
    }
    const double huge = Value("Binomial(1e12, 0.5)");
    EXPECT_GE(huge, 0.5e12 - 1e7);
    EXPECT_LE(huge, 0.5e12 + 1e7);
}

// A trial of chance 1 succeeds and one of chance 0 fails on every draw, the uniform's ends
// included: 1.0 comes once in 32768 draws, and 300,000 draws of Bernoulli(1) drew 0 eleven
// times. Beta's fallback for shapes so small that both Gamma draws underflow is such a trial.
TEST(FunctionTable, TrialsOfChanceOneAlwaysSucceedAndOfChanceZeroNever) {
    const struct {
        const char* name;
        std::initializer_list<double> args;
        double expected;
    } cases[] = {
        {"Bernoulli", {1}, 1},     {"Bernoulli", {0}, 0},        {"Bernoulli", {1.5}, 1},
        {"Bernoulli", {-1}, 0},    {"Binomial", {5, 1}, 5},      {"Binomial", {5, 0}, 0},
        {"Binomial", {2.5, 1}, 3}, {"Beta", {1e-30, 1e-300}, 1},
    };
    for (const auto& c : cases) {
        const QNL_functionRecord& f = Function(c.name);
        const QNL_argumentBlock args = Block(c.args);
        QNL_randomUniform().Seed(2024);
        int wrong = 0;
        for (int i = 0; i < 300000; ++i)
            wrong += f.evaluate(args) != c.expected ? 1 : 0;
        EXPECT_EQ(wrong, 0) << c.name << "(" << args.values[0] << ", " << args.values[1] << ")";
    }
}

// Chances strictly between 0 and 1 keep their draws where the generator's number decides them:
// a trial succeeds when the next uniform is below the chance, replayed here from a second
// generator on the same seed. Where that number's cell of width 2^-15 holds the chance, it
// succeeds when the number followed by the next 64 bits of the generator's second stream,
// compared exactly, is below the chance; and the trials after it replay on as before (a chance
// of 0.5 lies in no cell).
TEST(FunctionTable, TrialsOfOtherChancesSucceedWhenTheNextUniformIsBelowTheChance) {
    for (const double p : {1e-9, 0.3, 0.5, 0.999999}) {
        QNL_randomUniform().Seed(77);
        QNL_random replay(77);
        int refined = 0;
        auto trial = [p, &replay, &refined] {
            const std::uint32_t first = replay.NextBits();
            if (!(first * 0x1p-15 < p && p < (first + 1) * 0x1p-15))
                return first / 32767.0 < p ? 1.0 : 0.0;
            ++refined;
            // p · 2^79 is exact; U · 2^79 is the 79-bit integer of the number and the word.
            const double scaled = std::ldexp(p, 79);
            const auto whole = static_cast<unsigned __int128>(scaled);
            const auto bits = static_cast<unsigned __int128>(first) << 64 | replay.NextFineBits();
            return whole > bits || (whole == bits && scaled > static_cast<double>(whole)) ? 1.0
                                                                                          : 0.0;
        };
        for (int replayed = 0; replayed < 40000; ++replayed) {
            ASSERT_EQ(Function("Bernoulli").evaluate(Block({p})), trial()) << p;
            double successes = 0;
            for (int k = 0; k < 3; ++k)
                successes += trial();
            ASSERT_EQ(Function("Binomial").evaluate(Block({3, p})), successes) << p;
        }
        EXPECT_EQ(refined > 0, p != 0.5) << p;
    }
}

// Chances far below 2^-15 are drawn with their frequency: on one number of 15 bits every chance
// from 1e-7 up to 3e-5 had the frequency 2^-15 (Bernoulli(1e-5) 3.05e-5, Binomial(1000, 1e-5) a
// mean of 0.0305), and so had an outcome of the holder of a node with discrete outcomes over
// continuous parents. Sums of the draws within five standard errors of their closed forms.
TEST(FunctionTable, ChancesBelowTwoToTheMinusFifteenAreDrawnWithTheirFrequency) {
    const struct {
        const char* name;
        std::initializer_list<double> args;
        int draws;
        double mean, variance; // of one draw
    } cases[] = {
        {"Bernoulli", {1e-5}, 2000000, 1e-5, 1e-5 * (1 - 1e-5)},
        {"Bernoulli", {1e-7}, 2000000, 1e-7, 1e-7},
        {"Binomial", {1000, 1e-5}, 20000, 0.01, 0.01 * (1 - 1e-5)},
        {"Binomial", {1000, 0.001}, 20000, 1.0, 0.999},
    };
    QNL_randomUniform().Seed(4242);
    for (const auto& c : cases) {
        const QNL_argumentBlock args = Block(c.args);
        double sum = 0.0;
        for (int i = 0; i < c.draws; ++i)
            sum += Function(c.name).evaluate(args);
        EXPECT_NEAR(sum, c.draws * c.mean, 5.0 * std::sqrt(c.draws * c.variance) + 2.0)
            << c.name << "(" << args.values[0] << ", " << args.values[1] << ")";
    }
    QNL_outcomeExpressions holder({"rare", "even", "rest"});
    ASSERT_EQ(holder.SetExpression("rare", "1e-5"), 0);
    ASSERT_EQ(holder.SetExpression("even", "0.5"), 0);
    ASSERT_EQ(holder.SetExpression("rest", "0.5 - 1e-5"), 0);
    const int draws = 2000000;
    int rare = 0;
    for (int i = 0; i < draws; ++i) {
        int outcome = -1;
        ASSERT_EQ(holder.DrawOutcome(&outcome), 0);
        rare += outcome == 0 ? 1 : 0;
    }
    EXPECT_NEAR(rare, draws * 1e-5, 5.0 * std::sqrt(draws * 1e-5) + 2.0);
}

// The recurrence gives draws from 0 to 1 inclusive, both ends included.
TEST(Random, RecurrenceMatchesTheDocumentedGeneratorAndReseedingRepeatsIt) {
    EXPECT_NE(QNL_random(0).GetState(), 0u) << "seed zero takes a clock seed";
    QNL_random generator(77);
    generator.Seed(1);
    EXPECT_DOUBLE_EQ(generator.Next(), 41.0 / 32767.0);
    EXPECT_EQ(generator.GetState(), 2745024u);
    std::uint32_t state = 2745024u;
    for (int i = 0; i < 1000; ++i) {
        state = state * 214013u + 2531011u;
        ASSERT_DOUBLE_EQ(generator.Next(), ((state >> 16) & 0x7FFF) / 32767.0);
    }
}

// Over every value the generator gives, the share of trials that succeed is the chance, as
// near as 32768 equally likely values allow: all of them at a chance of 1 or more (annealed
// MAP's moves of chance 1 among them), none at 0 or less, and at a chance p between, the values
// below it, ceil(32767 p) of them.
TEST(Random, TrialsSucceedOnTheShareOfGeneratorValuesGivenByTheirChance) {
    for (const double p : {0.0, -0.5, 1e-9, 0.25, 0.5, 0.9999, 1.0, 2.0}) {
        int successes = 0;
        for (int i = 0; i <= 32767; ++i)
            successes += TrialSucceeds(i / 32767.0, p) ? 1 : 0;
        const double expected = p >= 1 ? 32768 : p <= 0 ? 0 : std::ceil(32767 * p);
        EXPECT_EQ(successes, expected) << p;
    }
}

TEST(SpecialFunctions, GammaAndBetaMatchKnownValues) {
    // clang-format off
    const std::pair<double, double> cases[] = {
        {LogGamma(1.0), 0.0},                       {LogGamma(2.0), 0.0},
        {LogGamma(5.0), std::log(24.0)},            {LogGamma(0.5), std::log(std::sqrt(M_PI))},
        {LogGamma(123.4), std::lgamma(123.4)},      {Beta(1.0, 1.0), 1.0},
        {Beta(2.0, 3.0), 1.0 / 12.0},               {BetaDensity(0.5, 2.0, 2.0), 1.5},
        {BetaDensity(0.2, 1.0, 1.0), 1.0},          {Pi(), M_PI},
        {Exp(1.0), std::exp(1.0)},
    };
    // clang-format on
    for (const auto& [actual, expected] : cases)
        EXPECT_NEAR(actual, expected, 1e-9 * (1 + std::fabs(expected)));
}

} // namespace
