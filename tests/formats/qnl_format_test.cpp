#include "definitions/extra_definition.h"
#include "definitions/logic_gates.h"
#include "formats/format_test_support.h"
#include "model/node_cost.h"
#include "model/submodel.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace format_test;
using quarn_test::ArrayOf;

// A network holding every kind the format has statements for, with display, diagnosis and
// cost data at every level, texts that must be escaped and wrapped, and numbers that eight
// decimals would lose.
void BuildEveryKind(QNL_network& net) {
    QNL_submodelHandler& submodels = net.GetSubmodelHandler();
    const int inner = submodels.CreateSubmodel(
        submodels.CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "Outer"), "Inner");
    ASSERT_GE(inner, 0);
    submodels.GetSubmodel(inner)->header.SetComment("inner \"box\"");
    submodels.GetSubmodel(inner)->windowBackground = 0x123456;
    QNL_rectangle box;
    box.x = 5, box.y = 6, box.width = 70, box.height = 80;
    submodels.GetSubmodel(inner)->comments.Add(box, "a note\nwith two lines");
    submodels.GetSubmodel(QNL_submodelHandler::MAIN_HANDLE)->comments.Add(box, "main note");
    net.GetHeader()->SetName("Every kind");
    net.GetCreation().creator = "a test";
    net.GetUserProperties().AddProperty("Owner", "the tests");
    net.GetDocumentation().AddDocument("Manual", "C:\\docs\\manual.pdf");
    net.SetNumberOfSamples(4321);

    AddNode(net, QNL_TYPE_CPT, "A", {"low", "mid", "high"});
    AddNode(net, QNL_TYPE_CPT, "B", {"yes", "no"});
    AddNode(net, QNL_TYPE_TRUTHTABLE, "T", {"on", "off"});
    AddNode(net, QNL_TYPE_LIST, "D", {"go", "stay"});
    for (const char* id : {"U", "V"})
        net.AddNode(QNL_TYPE_TABLE, id);
    net.AddNode(QNL_TYPE_MAU, "M");
    for (const char* id : {"C1", "C2"})
        net.AddNode(QNL_TYPE_CAST, id);
    AddNode(net, QNL_TYPE_NOISY_MAX, "N", {"severe", "mild", "none"});
    AddArcs(net, "A>B A>T B>T A>D D>U B>U T>V U>M V>M D>M C1>C2 A>N B>N");
    SetValues(net, net.FindNode("A"), {1.0 / 3, 1.0 / 3, 1.0 / 3});
    SetValues(net, net.FindNode("B"),
              {0.1, 0.9, 1e-9, 1 - 1e-9, 0.123456789012345, 0.876543210987655});
    SetValues(net, net.FindNode("T"), {0, 1, 1, 0, 1, 0, 0, 1, 0, 1, 1, 0});
    SetValues(net, net.FindNode("U"), {10, -2.5, 3.14159265358979, QNL_UNDEFINED_NUMBER});
    SetValues(net, net.FindNode("V"), {1, 2});
    SetValues(net, net.FindNode("M"), {0.25, 0.75, 0.5, 0.5});
    auto* cast = static_cast<QNL_cast*>(Node(net, "C2")->GetDefinition());
    ASSERT_EQ(0, cast->SetPositiveWeights(ArrayOf({0.4})));
    ASSERT_EQ(0, cast->SetNegativeWeights(ArrayOf({-0.7})));
    ASSERT_EQ(0, cast->SetBaseline(0.1 + 0.2));
    auto* noisy = static_cast<QNL_noisyMAX*>(Node(net, "N")->GetDefinition());
    ASSERT_EQ(0, noisy->SetParentOutcomeStrengths(0, quarn_test::IntsOf({2, 0, 1})));
    ASSERT_EQ(0, noisy->SetParentOutcomeStrengths(1, quarn_test::IntsOf({1, 0})));
    SetValues(net, net.FindNode("N"),
              {0.5, 0.3, 0.2, 0.1, 0.2, 0.7, 0, 0, 1, 0.3, 0.3, 0.4, 0, 0, 1, 0.01, 0.02, 0.97});

    QNL_nodeInfo* info = Node(net, "B")->GetInfo();
    info->header.SetName(
        "A name long enough to pass the right margin, with \"quotes\", a back\\slash and a tab\t");
    info->header.SetComment("comment");
    info->screen.position.x = 120, info->screen.position.y = -40;
    info->screen.color = 0xFFCC00;
    info->screen.flags = QNL_screenInfo::FLAG_SHOW_OUT_ARCS;
    info->properties.AddProperty("Note", "kept");
    info->documentation.AddDocument("Sheet", "b.txt");
    Node(net, "B")->SetSubmodel("Inner");
    Node(net, "A")->SetSubmodel("Outer");
    net.SetTarget(net.FindNode("B"));

    QNL_extraDefinition* extra = Node(net, "B")->GetExtraDefinition();
    extra->SetDiagnosisType(QNL_extraDefinition::TARGET);
    extra->SetFlags(1, 0, 1);
    extra->SetFaultOutcome(0, true);
    extra->SetFaultName(0, "Broken");
    extra->SetOutcomeDescription(1, "works");
    extra->SetOutcomeFix(0, "replace it");
    extra->SetDefaultOutcome(1);
    extra->SetQuestion("Is it broken?");
    extra->GetOutcomeDocumentation(1)->AddDocument("How", "how.html");

    for (const char* from : {"A", "B"})
        ASSERT_EQ(0, net.AddArc(net.FindNode(from), net.FindNode("D"), 1));
    ASSERT_EQ(0, Node(net, "D")->GetCost()->SetCosts(
                     ArrayOf({0, 1.5, 3, 4.5, QNL_NOT_AVAILABLE_NUMBER, 7.5})));
}

class QnlFormat : public FormatTest {
protected:
    QnlFormat() : FormatTest("qnl", ".qnl") {}

    // The network as the own XML format writes it, without its multi-attribute utility node
    // (which that format does not carry).
    std::string AsXml(const QNL_network& source, const char* name) {
        QNL_network copy(source);
        copy.DeleteNode(copy.FindNode("M"));
        const std::string path = folder.File(name);
        EXPECT_EQ(0, copy.WriteFile(path.c_str())) << AllMessages();
        return TempFolder::Get(path);
    }
};

TEST_F(QnlFormat, EveryKindRoundTripsAndDamagedCopiesNeverCrash) {
    BuildEveryKind(network);
    QNL_network copy;
    ExpectWrittenAndReadBackTheSame(kEverything, copy);
    EXPECT_EQ(0, QNL_errorHandler::Instance().GetNumberOfErrors()) << AllMessages();
    const std::string text = TempFolder::Get(folder.File("model.qnl"));
    for (const char* piece : {"\\ \n", "0.0E-4", "0.0E-2"}) // a wrapped name, short numbers
        EXPECT_NE(text.find(piece), std::string::npos) << piece;
    EXPECT_EQ(DescribeDefinitions(network), DescribeDefinitions(copy));
    EXPECT_EQ(AsXml(network, "original.xqnl"), AsXml(copy, "copy.xqnl"));
    // The file cut short anywhere fails; with bytes changed it fails or reads consistently.
    std::mt19937 random(28);
    for (std::size_t cut = 1; cut < text.size(); cut += 1 + random() % 97) {
        QNL_network net;
        EXPECT_NE(0, ReadText(text.substr(0, cut), net)) << cut;
    }
    const std::string noise = "{};,=\"()\\/#*x9.-";
    for (int round = 0; round < 60; ++round) {
        std::string garbled = text;
        for (int k = 0; k < 4; ++k)
            garbled[random() % garbled.size()] = noise[random() % noise.size()];
        QNL_network net;
        if (ReadText(garbled, net) == 0) {
            EXPECT_EQ(0, net.CheckConsistency(1)) << garbled;
        }
    }
}

// The noisy-OR form gives compound parameters as they are; the noisy-AND form turns the
// node's outcomes and every parent's strengths round. Tables computed by hand.
TEST_F(QnlFormat, NoisyOrAndNoisyAndReadIntoTheirTables) {
    const double both = 0.2 * 0.3 / 0.9, and_ = 0.1 * 0.2 / 0.95;
    const std::string ab = "net Noisy {\nnode A { DEFINITION = { NAMESTATES = (a1, a2); }; };\n"
                           "node B { DEFINITION = { NAMESTATES = (b1, b2); }; };\n";
    const struct {
        const char* type;
        const char* probabilities;
        const char* node;
        std::vector<double> table;
    } cases[] = {
        {"NOISY_OR",
         "0.8, 0.2, 0.7, 0.3, 0.1, 0.9",
         "Y[146](y n)|A B",
         {1 - both, both, 0.8, 0.2, 0.7, 0.3, 0.1, 0.9}},
        {"NOISY_AND",
         "0.1, 0.9, 0.2, 0.8, 0.95, 0.05",
         "Y[146](n y)|A B",
         {0.05, 0.95, 0.8, 0.2, 0.9, 0.1, 1 - and_, and_}},
    };
    for (const auto& c : cases) {
        QNL_network net;
        ASSERT_EQ(0, ReadText(ab + "node Y { TYPE = " + c.type +
                                  "; PARENTS = (A, B); DEFINITION = "
                                  "{ NAMESTATES = (y, n); PROBABILITIES = (" +
                                  c.probabilities + "); }; }; };",
                              net))
            << AllMessages();
        EXPECT_NE(Describe(net).find(c.node), std::string::npos) << Describe(net);
        quarn_test::ExpectNear(Values(Node(net, "Y")), c.table, 1e-12, c.type);
    }
}

// Each bad statement is reported with its line and skipped; the rest of the node still
// applies, and the read ends with the code of the first problem. Frames that are no network
// fail; what was read before a cut stays.
TEST_F(QnlFormat, BadStatementsAreReportedAndSkipped) {
    auto bad = [](const std::string& text) {
        return "net Bad {\nnode A { DEFINITION = { NAMESTATES = (a1, a2); PROBABILITIES = (0.25, "
               "0.75); }; };\n" +
               text + "\n};";
    };
    std::string wide = "(s0", threeWide;
    for (int i = 1; i < 1000; ++i)
        wide += ", s" + std::to_string(i);
    for (const char* id : {"P", "Q", "R"})
        threeWide +=
            std::string("node ") + id + " { DEFINITION = { NAMESTATES = " + wide + "); }; };\n";
    const std::string b = "PARENTS = (A); DEFINITION = { NAMESTATES = (b1, b2); ";
    // Messages one a line; the node as Describe() and DescribeDefinitions() give it.
    const struct {
        int code;
        const char* messages;
        const char* node;
        std::string text;
    } cases[] = {
        {-127, "(line 3) : ERROR: 'FOO' : Unknown Node Statement", "B(b1 b2)|A: 1 0 0 1; ",
         bad("node B { FOO = { X = 1; }; PARENTS = (A);\n DEFINITION = { NAMESTATES = (b1, b2); "
             "PROBABILITIES = (1, 0, 0, 1); }; };")},
        {-127, "ERROR: (\"yes\") : Boolean Expected", "",
         bad("node B { SCREEN = { SHOWINARCS = yes; COLOR = 7; }; };")},
        {-2, "ERROR: Wrong Number Of Screen Coordinates", "",
         bad("SCREENCOMMENT = { (1, 2, 3), \"x\" };")},
        {-2, "ERROR: Couldn't add arc from node [Z] to node [B]", "B(b1 b2)|A: 1 0 0 1; ",
         bad("node B { PARENTS = (Z, A); DEFINITION = { NAMESTATES = (b1, b2); PROBABILITIES = "
             "(1, 0, 0, 1); }; };")},
        {-2, "(line 4) : ERROR: PROBABILITIES of node (\"B\") holds 3 values where 4 are expected",
         "B(b1 b2)|A: 0.5 0.5 0.5 0.5; ",
         bad("node B { " + b + "\nPROBABILITIES = (1, 0, 0); }; };")},
        {0, "", "B(b1 b2)|A: 1 0 0 1; ",
         bad("node B { DEFINITION = { NAMESTATES = (b1, b2); PROBABILITIES = (1, 0, 0, 1); }; "
             "PARENTS = (A); };")},
        {-127, "ERROR: NoisyMAX strengths are inconsistent for parent 0", "",
         bad("node B { TYPE = NOISY_MAX; " + b + "STRENGTHS = (0, 0); }; };")},
        {-2, "holds 3 values where 4 are expected", "",
         bad("node B { TYPE = NOISY_AND; " + b + "PROBABILITIES = (0.5, 0.5, 0.5); }; };")},
        // Parameters the definition refuses (no leak at all) leave the node as it was.
        {-2, "", "B: strengths 0,1 parameters",
         bad("node B { TYPE = NOISY_AND; " + b + "PROBABILITIES = (0.5, 0.5, 0, 1); }; };")},
        {-2, "More outcome DOCUMENTATION blocks than outcomes\nWrong number of state comments", "",
         bad("node B { DEFINITION = { NAMESTATES = (b1, b2); }; EXTRA_DEFINITION = { "
             "DOCUMENTATION = { \"x\" = \"1\"; }; DOCUMENTATION = { \"y\" = \"2\"; }; "
             "DOCUMENTATION = { \"z\" = \"3\"; }; STATECOMMENTS = (\"one\"); QUESTION = \"still "
             "read\"; }; };")},
        {-127, "ERROR: ')' : Unexpected\nERROR: ';' : Unexpected", "",
         bad("node B { PARENTS = (A,); }; NUMSAMPLES = 99999999999;")},
        {-2, "ERROR: Couldn't Create Node (\"C\")", "",
         bad("node B { TYPE = GIBBERISH; }; node C { TYPE = CPT; }; node C { TYPE = CPT; };")},
        // Parents whose table would pass the model's limit are refused together, before any arc.
        {-42, "Matrix too large: the table of node 'C'",
         "C(State0 State1): ", bad(threeWide + "node C { PARENTS = (P, Q, R); };")},
        {-127, "ERROR: 'bnet' : 'net' expected", "", "bnet X { };"},
        {-102, "", "", ""},
        {-111, "", "A(a b): 0.5 0.5; ",
         "net X { node A { DEFINITION = { NAMESTATES = (a, b); }; }; node B { TYPE"},
        {-128, "", "", "net X { HEADER = { NAME = \"open"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QNL_network net;
        EXPECT_EQ(c.code, ReadText(c.text, net));
        std::istringstream messages(c.messages);
        for (std::string message; std::getline(messages, message);)
            EXPECT_TRUE(Logged(message)) << AllMessages();
        if (c.code == 0) {
            EXPECT_EQ("", AllMessages());
        }
        EXPECT_NE((Describe(net) + DescribeDefinitions(net)).find(c.node), std::string::npos)
            << Describe(net) + DescribeDefinitions(net);
    }
    QNL_network net;
    ReadText(bad("node B { FOO = 1; TARGET = TRUE; EXTRA_DEFINITION = { QUESTION = \"q\"; }; };"),
             net);
    EXPECT_EQ(1, net.IsTarget(net.FindNode("B")));
    EXPECT_STREQ("q", Node(net, "B")->GetExtraDefinition()->GetQuestion());
}

} // namespace
