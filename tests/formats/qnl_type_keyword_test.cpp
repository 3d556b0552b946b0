#include "formats/format_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace format_test;

class QnlTypeKeyword : public FormatTest {
protected:
    QnlTypeKeyword() : FormatTest("qnl_type", ".qnl") {}
};

// A TYPE the node's type change does not accept is reported on its line as that refusal
// (no text of its own) and the node stays a probability table; the equation keywords are
// among them, as the writer has no statements for equation nodes either. The rest of the
// file still reads.
TEST_F(QnlTypeKeyword, EquationKeywordsAreRefusedLikeAnyUnknownType) {
    for (const char* keyword : {"EQUATION", "EQUATION_SCC", "equation", "GIBBERISH"}) {
        SCOPED_TRACE(keyword);
        QNL_network net;
        const std::string text =
            std::string("net Eq {\nnode E {\n TYPE = ") + keyword +
            ";\n DEFINITION = { NAMESTATES = (e1, e2); PROBABILITIES = (0.25, 0.75); }; };\n"
            "node F { TYPE = TRUTHTABLE; PARENTS = (E); };\n};";
        EXPECT_EQ(-2, ReadText(text, net));
        EXPECT_EQ("-2 (line 3) : OUT OF RANGE\n", AllMessages());
        EXPECT_EQ(0u, Describe(net).find("E(e1 e2): 0.25 0.75; F[T](State0 State1)|E: "))
            << Describe(net);
    }
}

// Every type the writer has statements for still reads by its keyword.
TEST_F(QnlTypeKeyword, WritableTypesStillReadByTheirKeywords) {
    for (const auto& [keyword, type] : {std::pair{"CPT", QNL_TYPE_CPT},
                                        {"TRUTHTABLE", QNL_TYPE_TRUTHTABLE},
                                        {"LIST", QNL_TYPE_LIST},
                                        {"TABLE", QNL_TYPE_TABLE},
                                        {"MAU", QNL_TYPE_MAU},
                                        {"CAST", QNL_TYPE_CAST},
                                        {"NOISY_MAX", QNL_TYPE_NOISY_MAX}}) {
        SCOPED_TRACE(keyword);
        QNL_network net;
        EXPECT_EQ(0, ReadText(std::string("net T { node N { TYPE = ") + keyword + "; }; };", net))
            << AllMessages();
        EXPECT_EQ(Node(net, "N")->GetType(), type);
    }
}

} // namespace
