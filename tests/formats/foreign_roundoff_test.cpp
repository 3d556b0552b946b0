#include "format_test_support.h"
#include "support/beliefs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace format_test;

namespace {

// Tools that store probabilities as 32-bit floats write a float's step below 0 in a column that
// sums to 0.99999988. Each file holds A (0.3 0.7) and B|A with the columns (@ 1) and
// (0.25 0.74999988): with @ that step it must update as the same file with @ = 0; with
// @ = -1e-3 the table is refused as before, by the reader or by the update.
TEST(ForeignRoundOff, FloatStepBelowZeroReadsAsZeroAndMoreIsRefused) {
    const std::string two = "(\"s0\" \"s1\")";
    const struct {
        const char* extension;
        std::string text;
        int refusedCode;
        const char* refusal;
    } cases[] = {
        {".net",
         "node A { states = " + two + "; }\nnode B { states = " + two + "; }\n" +
             "potential (A) { data = (0.3 0.7); }\n"
             "potential (B | A) { data = ((@ 1) (0.25 0.74999988)); }\n",
         0, "ERROR: Node [B] is not consistent"},
        {".dne",
         "bnet N {\nnode A {kind = NATURE; discrete = TRUE; states = (s0, s1); parents = ();"
         " probs = (0.3, 0.7);};\nnode B {kind = NATURE; discrete = TRUE; states = (s0, s1);"
         " parents = (A); probs = (@, 1, 0.25, 0.74999988);};\n};\n",
         0, "ERROR: Node [B] is not consistent"},
        {".dsc",
         "belief network \"t\"\nnode A { type : discrete [ 2 ] = { \"s0\", \"s1\" }; }\n"
         "node B { type : discrete [ 2 ] = { \"s0\", \"s1\" }; }\n"
         "probability ( A ) { 0.3, 0.7; }\nprobability ( B | A ) { @, 1, 0.25, 0.74999988; }\n",
         -2, "ERROR: Node (\"B\") : Probabilities do not sum to 1"},
        {".xml03",
         "<BIF VERSION=\"0.3\"><NETWORK><VARIABLE><NAME>A</NAME><OUTCOME>s0</OUTCOME><OUTCOME>s1"
         "</OUTCOME></VARIABLE><VARIABLE><NAME>B</NAME><OUTCOME>s0</OUTCOME><OUTCOME>s1</OUTCOME>"
         "</VARIABLE><DEFINITION><FOR>A</FOR><TABLE>0.3 0.7</TABLE></DEFINITION><DEFINITION>"
         "<FOR>B</FOR><GIVEN>A</GIVEN><TABLE>@ 1 0.25 0.74999988</TABLE></DEFINITION></NETWORK>"
         "</BIF>\n",
         0, "ERROR: Node [B] is not consistent"},
        {".erg",
         "2\n2 2\n0\n1 1\n/* Probabilities */\n2 0.3 0.7\n4 @ 1 0.25 0.74999988\n"
         "/* Names */ A B\n",
         -2, "ERROR: Couldn't set probabilities"},
        {".dxp",
         "diagnostic network \"t\"\nkb { }\nnodes\n{\nstandard A { type : discrete[2] = 3D { "
         "standard x "
         "{ NAME : \"s0\"; } standard y { NAME : \"s1\"; } }; }\nstandard B { type : "
         "discrete[2] = 3D { standard x { NAME : \"s0\"; } standard y { NAME : \"s1\"; } }; }\n}\n"
         "network\n{\nstandard A parent () { PROB : { () ; 0.3, 0.7 ; } }\nstandard B parent (A)"
         " { PROB : { (0) ; @, 1 ; (1) ; 0.25, 0.74999988 ; } }\n}\n",
         0, "ERROR: Node [B] is not consistent"},
    };
    TempFolder folder("roundoff");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        auto read = [&](const char* entry, QNL_network& net) {
            std::string text = c.text;
            text.replace(text.find('@'), 1, entry);
            QNL_errorHandler::Instance().Flush();
            const int code =
                net.ReadFile(folder.Put(std::string("in") + c.extension, text).c_str());
            if (code != 0) return code;
            QNL_node* b = net.GetNode(net.FindNode("B"));
            if (b == nullptr) return -1000;
            b->GetValue()->SetEvidence(1);
            return net.UpdateBeliefs();
        };
        QNL_network floats, zeros, refused;
        ASSERT_EQ(0, read("-1.1920929E-7", floats)) << AllMessages();
        ASSERT_EQ(0, read("0", zeros)) << AllMessages();
        const std::vector<double> expected = quarn_test::Beliefs(zeros, zeros.FindNode("A"));
        const std::vector<double> actual = quarn_test::Beliefs(floats, floats.FindNode("A"));
        ASSERT_EQ(expected.size(), actual.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_NEAR(expected[i], actual[i], 1e-12) << i;
        EXPECT_EQ(c.refusedCode != 0 ? c.refusedCode : -568, read("-1e-3", refused));
        EXPECT_TRUE(Logged(c.refusal)) << AllMessages();
    }
}

} // namespace
