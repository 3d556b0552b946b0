#include "formats/format_test_support.h"
#include "model/case_library.h"
#include "support/gate_reference.h"
#include "support/network_builder.h"
#include "support/random_diagram.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace format_test;

// The network written, read back into `back` to the same detail (solved when `solve`) and
// written again to the same bytes; the file's text.
std::string RoundTrip(QNL_network& net, QNL_network& back, bool solve = false) {
    const std::string first = TempPath("first.xqnl"), second = TempPath("second.xqnl");
    EXPECT_EQ(solve ? net.UpdateBeliefs() : 0, 0) << AllMessages();
    EXPECT_EQ(net.WriteFile(first.c_str()), 0) << AllMessages();
    EXPECT_EQ(back.ReadFile(first.c_str()), 0) << AllMessages();
    EXPECT_EQ(solve ? back.UpdateBeliefs() : 0, 0) << AllMessages();
    EXPECT_EQ(Describe(net) + DescribeDefinitions(net, solve),
              Describe(back) + DescribeDefinitions(back, solve));
    EXPECT_EQ(back.WriteFile(second.c_str()), 0);
    EXPECT_EQ(TempFolder::Get(first), TempFolder::Get(second));
    return TempFolder::Get(first);
}

const std::string PARENT = "<cpt id=\"A\"><state id=\"a0\"/><state id=\"a1\"/><state id=\"a2\"/>"
                           "<probabilities>0.2 0.3 0.5</probabilities></cpt>\n";

std::string Max(const std::string& inside) {
    return "<noisymax id=\"Y\"><state id=\"hi\"/><state id=\"lo\"/><parents>A</parents>" + inside +
           "</noisymax>\n";
}

std::string Adder(const std::string& function, const std::string& inside) {
    return "<noisyadder id=\"Z\"" + function +
           "><state id=\"s0\"/><state id=\"s1\"/><parents>A</parents>" + inside + "</noisyadder>\n";
}

// Strength groups are the stored orders themselves, also those that are not their own
// inverse; DeMorgan and CAST gates give their tables.
TEST(XmlElements, GatesReadAsWrittenAndRoundTrip) {
    QNL_network net, back;
    const std::string gates = R"(
<noisymax id="Y"><state id="hi"/><state id="lo"/><parents>A</parents><strengths>1 2 0</strengths>
<parameters>0.7 0.3 0.4 0.6 0 1 0.1 0.9</parameters></noisymax>
<noisyadder id="Z" function="singlefault"><state id="s0"/><state id="s1"/><parents>A</parents>
<dstates>0 1</dstates><weights>2 3</weights><parameters>0.4 0.6 1 0 0 1 1 0</parameters></noisyadder>
<demorgan id="D1"><priorbelief>0.25</priorbelief></demorgan>
<demorgan id="D2"><parents>D1</parents><types>barrier</types><weights>0.75</weights>
<priorbelief>0.125</priorbelief></demorgan>
<cast id="C1"><baseline>0.5</baseline></cast>
<cast id="C2"><parents>C1</parents><pweights>0.5</pweights><nweights>-0.25</nweights>
<baseline>0.375</baseline></cast>
)";
    ASSERT_EQ(ReadDocument(net, "gates.xqnl", Document(PARENT + gates)), 0) << AllMessages();
    EXPECT_EQ(DescribeDefinitions(net),
              "Y: strengths 1,2,0 parameters 0.7,0.3,0.4,0.6,0,1,0.1,0.9\n"
              "Z: function 1 states 0,1 weights 2,3\n");
    EXPECT_NE(Describe(net).find("D2[82](True False)|D1: 0.125 0.875 0.78125 0.21875; "),
              std::string::npos);
    RoundTrip(net, back);
}

// Every refusal stops the load with -103 and names its reason.
TEST(XmlElements, BadGateElementsAreRefusedWithTheirReason) {
    const std::string demorganP = "<demorgan id=\"P\"><priorbelief>0.5</priorbelief></demorgan>";
    const std::string castP = "<cast id=\"P\"><baseline>0.5</baseline></cast>";
    const struct {
        std::string nodes, message;
    } refusals[] = {
        {Max("<strengths>1 1 0</strengths>"), "SetParentOutcomeStrengths failed"},
        {Max("<strengths>1 2</strengths>"), "SetParentOutcomeStrengths failed"},
        {Max("<strengths>1 x 0</strengths>"), "Can't read list of integers, failed at element 2"},
        {Max("<parameters>0.5 0.5</parameters>"), "Invalid weights vector size 2, expected 8"},
        {Adder(" function=\"max\"", ""), "Invalid noisy adder function: 'max'"},
        {Adder("", "<dstates>1</dstates>"),
         "Size of distinguished state vector is invalid: 1, expected2"},
        {Adder("", "<dstates>2 0</dstates>"), "SetDistinguishedState call fails"},
        {Adder("", "<dstates>1 3</dstates>"), "SetParentDistinguishedState call fails"},
        {Adder("", "<weights>1 2 3</weights>"), "Invalid weights vector size 3, expected 2"},
        {Adder("", "<weights>-1 2</weights>"), "SetWeights failed"},
        {Adder("", "<weights>1 inf</weights>"), "SetWeights failed"},
        {Adder("", "<weights>nan 1</weights>"), "SetWeights failed"},
        {Adder("", "<parameters>1</parameters>"), "Invalid weights vector size 1, expected 8"},
        {"<cast id=\"C\"><baseline>x</baseline></cast>", "Can't read baseline"},
        {"<cast id=\"C\"><baseline>1.5</baseline></cast>", "SetBaseline failed"},
        {"<demorgan id=\"D\"><priorbelief>0.1 0.2</priorbelief></demorgan>",
         "Can't read prior belief"},
        {demorganP + "<demorgan id=\"D\"><parents>P</parents><types>foo</types><priorbelief>0.5"
                     "</priorbelief></demorgan>",
         "Invalid parent type 'foo' at element 1"},
        {demorganP + "<demorgan id=\"D\"><parents>P</parents><weights>2</weights><priorbelief>"
                     "0.5</priorbelief></demorgan>",
         "SetParentWeights failed"},
        {castP + "<cast id=\"C\"><parents>P</parents><nweights>-1 0</nweights><baseline>0.5"
                 "</baseline></cast>",
         "SetNegativeWeights failed"},
    };
    for (const auto& refusal : refusals) {
        QNL_network net;
        EXPECT_EQ(ReadDocument(net, "bad.xqnl", Document(PARENT + refusal.nodes)), -103);
        EXPECT_TRUE(Logged(refusal.message)) << refusal.nodes << ": " << AllMessages();
    }
}

// Random networks mixing gates and tables round trip; the formats of other tools carry the
// gates as their expanded tables.
TEST(XmlElements, RandomGateNetworksRoundTripAndExpandForOtherFormats) {
    for (int round = 0; round < 8; ++round) {
        QNL_network net, back;
        quarn_test::BuildRandomNetwork(net, quarn_test::RoundSpec(400, round));
        quarn_test::TestRandom random(40 + static_cast<std::uint64_t>(round));
        quarn_test::MixInGates(net, random, 0.5);
        SCOPED_TRACE(round);
        RoundTrip(net, back);
    }
    for (const char* extension : {".net", ".dsc"}) {
        QNL_network net, back;
        quarn_test::BuildRandomNetwork(net, quarn_test::RoundSpec(600, 3));
        quarn_test::TestRandom random(6);
        quarn_test::MixInGates(net, random, 0.7);
        const std::string path = TempPath(std::string("gates") + extension);
        ASSERT_EQ(net.WriteFile(path.c_str()), 0) << AllMessages();
        ASSERT_EQ(back.ReadFile(path.c_str()), 0) << AllMessages();
        EXPECT_TRUE(SameNetworks(net, back, Compared{false, false, false, false, false}));
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            quarn_test::ExpectNear(Values(back.GetNode(back.FindNode(net.GetNode(h)->GetId()))),
                                   Values(net.GetNode(h)), 1e-8, extension);
    }
}

QNL_equation* Eq(QNL_network& net, const char* id) {
    return static_cast<QNL_equation*>(net.GetNode(net.FindNode(id))->GetDefinition());
}

// Bounds, evidence and the solved means come back; the default range writes no attributes.
TEST(XmlElements, EquationNetworksRoundTrip) {
    QNL_network net, back;
    // Handles in topological order: the display block lists nodes by handle, a read file
    // creates them in the order of the node elements.
    const char* const equations[][2] = {{"x", "x = -2.5e-7 + Pi()"},
                                        {"y", "y = x^2 - Sin(x)/3 - (x < 1)"},
                                        {"z", "2*z = -(x + y)"}};
    for (const auto& [id, text] : equations) {
        ASSERT_GE(net.AddNode(QNL_TYPE_EQUATION, id), 0);
        ASSERT_EQ(Eq(net, id)->SetEquation(text, nullptr, nullptr), 0);
    }
    ASSERT_EQ(Eq(net, "y")->SetBounds(0.125, 1e10), 0);
    ASSERT_EQ(net.AddCase("c")->AddEvidenceValue(net.FindNode("y"), 0.1), 0);
    const std::string text = RoundTrip(net, back, true);
    for (const char* piece :
         {"<definition>x=-2.5e-07+Pi()</definition>",
          "<definition lower=\"0.125\" upper=\"1e+10\">", "<evidence node=\"y\" state=\"0.1\" />"})
        EXPECT_NE(text.find(piece), std::string::npos) << text;
}

// Weights under a decision parent and expressions per decision option come back, with the
// arcs the expressions name, and the diagram solves to the same utilities.
TEST(XmlElements, MultiAttributeUtilityNodesRoundTrip) {
    QNL_network net, back;
    quarn_test::BuildOilWildcatter(net, false);
    net.AddNode(QNL_TYPE_TABLE, "Bonus");
    const int weighted = net.AddNode(QNL_TYPE_MAU, "Weighted");
    const int formula = net.AddNode(QNL_TYPE_MAU, "Formula");
    AddArcs(net, "Oil>Bonus Drill>Weighted Profit>Weighted Bonus>Weighted Drill>Formula "
                 "Profit>Formula Bonus>Formula");
    SetValues(net, weighted, {0.5, 2.0, -1.0, 1.5});
    std::string error;
    ASSERT_EQ(static_cast<QNL_mau*>(net.GetNode(formula)->GetDefinition())
                  ->SetExpressions(quarn_test::StringsOf({"Profit*2-Bonus", "Bonus"}), error),
              0)
        << error;
    const std::string text = RoundTrip(net, back, true);
    EXPECT_NE(text.find("<mau id=\"Weighted\">"), std::string::npos) << text;
    EXPECT_NE(text.find("<maux id=\"Formula\">"), std::string::npos) << text;
}

} // namespace
