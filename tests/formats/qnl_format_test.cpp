#include "definitions/extra_definition.h"
#include "definitions/logic_gates.h"
#include "definitions/noisy_max.h"
#include "formats/format_test_support.h"
#include "model/node_cost.h"
#include "model/submodel.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace format_test;

QNL_node* Node(QNL_network& net, const char* id) {
    return net.GetNode(net.FindNode(id));
}

std::vector<double> Table(QNL_network& net, const char* id) {
    return Values(Node(net, id));
}

// A network holding every kind the format has statements for, with display, diagnosis and
// cost data at every level, texts that must be escaped and wrapped, and numbers that eight
// decimals would lose.
void BuildEveryKind(QNL_network& net) {
    QNL_submodelHandler& submodels = net.GetSubmodelHandler();
    const int outer = submodels.CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "Outer");
    const int inner = submodels.CreateSubmodel(outer, "Inner");
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

    const int a = AddNode(net, QNL_TYPE_CPT, "A", {"low", "mid", "high"});
    const int b = AddNode(net, QNL_TYPE_CPT, "B", {"yes", "no"});
    const int t = AddNode(net, QNL_TYPE_TRUTHTABLE, "T", {"on", "off"});
    const int d = AddNode(net, QNL_TYPE_LIST, "D", {"go", "stay"});
    const int u = AddNode(net, QNL_TYPE_TABLE, "U", {});
    const int v = AddNode(net, QNL_TYPE_TABLE, "V", {});
    const int m = net.AddNode(QNL_TYPE_MAU, "M");
    const int c1 = net.AddNode(QNL_TYPE_CAST, "C1");
    const int c2 = net.AddNode(QNL_TYPE_CAST, "C2");
    const int n = AddNode(net, QNL_TYPE_NOISY_MAX, "N", {"severe", "mild", "none"});
    for (const auto& [from, to] : {std::pair{a, b},
                                   {a, t},
                                   {b, t},
                                   {a, d},
                                   {d, u},
                                   {b, u},
                                   {t, v},
                                   {u, m},
                                   {v, m},
                                   {d, m},
                                   {c1, c2},
                                   {a, n},
                                   {b, n}})
        ASSERT_EQ(0, net.AddArc(from, to)) << from << " " << to;
    SetValues(net, a, {1.0 / 3, 1.0 / 3, 1.0 / 3});
    SetValues(net, b, {0.1, 0.9, 1e-9, 1 - 1e-9, 0.123456789012345, 0.876543210987655});
    SetValues(net, t, {0, 1, 1, 0, 1, 0, 0, 1, 0, 1, 1, 0});
    SetValues(net, u, {10, -2.5, 3.14159265358979, QNL_UNDEFINED_NUMBER});
    SetValues(net, v, {1, 2});
    SetValues(net, m, {0.25, 0.75, 0.5, 0.5});
    auto* cast = static_cast<QNL_cast*>(Node(net, "C2")->GetDefinition());
    QNL_doubleArray weights;
    weights.Add(0.4);
    ASSERT_EQ(0, cast->SetPositiveWeights(weights));
    weights[0] = -0.7;
    ASSERT_EQ(0, cast->SetNegativeWeights(weights));
    ASSERT_EQ(0, cast->SetBaseline(0.1 + 0.2));
    auto* noisy = static_cast<QNL_noisyMAX*>(Node(net, "N")->GetDefinition());
    QNL_intArray order;
    for (int i : {2, 0, 1})
        order.Add(i);
    ASSERT_EQ(0, noisy->SetParentOutcomeStrengths(0, order));
    order.Flush();
    for (int i : {1, 0})
        order.Add(i);
    ASSERT_EQ(0, noisy->SetParentOutcomeStrengths(1, order));
    SetValues(net, n,
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
    net.SetTarget(b);

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

    ASSERT_EQ(0, net.AddArc(a, d, 1));
    ASSERT_EQ(0, net.AddArc(b, d, 1));
    QNL_doubleArray costs;
    costs.SetSize(6);
    for (int i = 0; i < 6; ++i)
        costs[i] = i == 4 ? QNL_NOT_AVAILABLE_NUMBER : 1.5 * i;
    ASSERT_EQ(0, Node(net, "D")->GetCost()->SetCosts(costs));
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

TEST_F(QnlFormat, EveryKindReadsBackEqualAndWritesTheSameBytes) {
    BuildEveryKind(network);
    QNL_network copy;
    ExpectWrittenAndReadBackTheSame(kEverything, copy);
    EXPECT_EQ(0, QNL_errorHandler::Instance().GetNumberOfErrors()) << AllMessages();
    const std::string text = TempFolder::Get(folder.File("model.qnl"));
    EXPECT_NE(text.find("\\ \n"), std::string::npos) << "the long name is not wrapped";
    EXPECT_NE(text.find("0.0E-4"), std::string::npos);
    EXPECT_NE(text.find("0.0E-2"), std::string::npos);

    auto* noisy = static_cast<QNL_noisyMAX*>(Node(copy, "N")->GetDefinition());
    EXPECT_EQ(2, (*noisy->GetParentOutcomeStrengths(0))[0]);
    EXPECT_EQ(0.1 + 0.2, static_cast<QNL_cast*>(Node(copy, "C2")->GetDefinition())->GetBaseline());
    EXPECT_EQ(Table(network, "M"), Table(copy, "M"));
    EXPECT_EQ(AsXml(network, "original.xqnl"), AsXml(copy, "copy.xqnl"));
}

// The noisy-OR form gives compound parameters as they are; the noisy-AND form turns the
// node's outcomes and every parent's strengths round. Tables computed by hand.
TEST_F(QnlFormat, NoisyOrAndNoisyAndReadIntoTheirTables) {
    const std::string parents = R"(
node A { TYPE = CPT; PARENTS = (); DEFINITION = { NAMESTATES = (a1, a2);
    PROBABILITIES = (0.5, 0.5); }; };
node B { TYPE = CPT; PARENTS = (); DEFINITION = { NAMESTATES = (b1, b2);
    PROBABILITIES = (0.5, 0.5); }; };
)";
    const double both = 0.2 * 0.3 / 0.9;
    const double and_ = 0.1 * 0.2 / 0.95;
    struct Case {
        const char* type;
        const char* probabilities;
        std::vector<const char*> outcomes;
        std::vector<double> table;
    } cases[] = {
        {"NOISY_OR",
         "0.8, 0.2, 0.7, 0.3, 0.1, 0.9",
         {"y", "n"},
         {1 - both, both, 0.8, 0.2, 0.7, 0.3, 0.1, 0.9}},
        {"NOISY_AND",
         "0.1, 0.9, 0.2, 0.8, 0.95, 0.05",
         {"n", "y"},
         {0.05, 0.95, 0.8, 0.2, 0.9, 0.1, 1 - and_, and_}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        QNL_network net;
        ASSERT_EQ(0, ReadText(std::string("net Noisy {") + parents + "node Y { TYPE = " + c.type +
                                  "; PARENTS = (A, B); DEFINITION = { NAMESTATES = (y, n); "
                                  "PROBABILITIES = (" +
                                  c.probabilities + "); }; }; };",
                              net))
            << AllMessages();
        EXPECT_EQ(QNL_TYPE_NOISY_MAX, Node(net, "Y")->GetType());
        EXPECT_EQ(Strings(Node(net, "Y")->GetDefinition()->GetOutcomeIds()),
                  std::vector<std::string>(c.outcomes.begin(), c.outcomes.end()));
        const std::vector<double> table = Table(net, "Y");
        ASSERT_EQ(c.table.size(), table.size());
        for (std::size_t i = 0; i < table.size(); ++i)
            EXPECT_NEAR(c.table[i], table[i], 1e-12) << i;
    }
}

// Each bad statement is reported with its line and skipped; the rest of the node still
// applies, and the read ends with the code of the first problem.
TEST_F(QnlFormat, BadStatementsAreReportedAndSkipped) {
    const std::string a = "node A { TYPE = CPT; DEFINITION = { NAMESTATES = (a1, a2); "
                          "PROBABILITIES = (0.25, 0.75); }; };\n";
    struct Case {
        std::string text;
        int code;
        std::vector<std::string> messages;
        std::string check; // a node's table after the read, as "id: values"
    } cases[] = {
        {"node B { TYPE = CPT; FOO = { X = 1; }; PARENTS = (A);\n DEFINITION = { NAMESTATES = "
         "(b1, b2); PROBABILITIES = (1, 0, 0, 1); }; };",
         -127,
         {"(line 3) : ERROR: 'FOO' : Unknown Node Statement"},
         "B: 1 0 0 1"},
        {"node B { TYPE = CPT; SCREEN = { SHOWINARCS = yes; COLOR = 7; }; };",
         -127,
         {"ERROR: (\"yes\") : Boolean Expected"},
         ""},
        {"SCREENCOMMENT = { (1, 2, 3), \"x\" };",
         -2,
         {"ERROR: Wrong Number Of Screen Coordinates"},
         ""},
        {"node B { TYPE = CPT; PARENTS = (Z, A); DEFINITION = { NAMESTATES = (b1, b2); "
         "PROBABILITIES = (1, 0, 0, 1); }; };",
         -2,
         {"ERROR: Couldn't add arc from node [Z] to node [B]"},
         "B: 1 0 0 1"},
        {"node B { TYPE = CPT; PARENTS = (A); DEFINITION = { NAMESTATES = (b1, b2);\n"
         "PROBABILITIES = (1, 0, 0); }; };",
         -2,
         {"(line 4) : ERROR: PROBABILITIES of node (\"B\") holds 3 values where 4 are expected"},
         "B: 0.5 0.5 0.5 0.5"},
        {"node B { TYPE = CPT; DEFINITION = { NAMESTATES = (b1, b2); PROBABILITIES = (1, 0, 0, "
         "1); }; PARENTS = (A); };",
         0,
         {},
         "B: 1 0 0 1"},
        {"node B { TYPE = NOISY_MAX; PARENTS = (A); DEFINITION = { NAMESTATES = (b1, b2); "
         "STRENGTHS = (0, 0); }; };",
         -127,
         {"ERROR: NoisyMAX strengths are inconsistent for parent 0"},
         ""},
        {"node B { TYPE = NOISY_AND; PARENTS = (A); DEFINITION = { NAMESTATES = (b1, b2); "
         "PROBABILITIES = (0.5, 0.5, 0.5); }; };",
         -2,
         {"holds 3 values where 4 are expected"},
         ""},
        {"node B { TYPE = CPT; DEFINITION = { NAMESTATES = (b1, b2); }; EXTRA_DEFINITION = { "
         "DOCUMENTATION = { \"x\" = \"1\"; }; DOCUMENTATION = { \"y\" = \"2\"; }; DOCUMENTATION = "
         "{ \"z\" = \"3\"; }; STATECOMMENTS = (\"one\"); QUESTION = \"still read\"; }; };",
         -2,
         {"More outcome DOCUMENTATION blocks than outcomes", "Wrong number of state comments"},
         ""},
        {"node B { TYPE = CPT; PARENTS = (A,); }; NUMSAMPLES = 99999999999;",
         -127,
         {"ERROR: ')' : Unexpected", "ERROR: ';' : Unexpected"},
         ""},
        {"node B { TYPE = GIBBERISH; }; node C { TYPE = CPT; }; node C { TYPE = CPT; };",
         -2,
         {"ERROR: Couldn't Create Node (\"C\")"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QNL_network net;
        EXPECT_EQ(c.code, ReadText("net Bad {\n" + a + c.text + "\n};", net));
        for (const std::string& message : c.messages)
            EXPECT_TRUE(Logged(message)) << AllMessages();
        if (c.messages.empty()) {
            EXPECT_EQ(0, QNL_errorHandler::Instance().GetNumberOfErrors()) << AllMessages();
        }
        if (!c.check.empty()) {
            const std::string id = c.check.substr(0, c.check.find(':'));
            std::string values;
            for (double x : Table(net, id.c_str()))
                values += " " + quarn::detail::ShortestNumberText(x);
            EXPECT_EQ(c.check, id + ":" + values);
        }
    }
    QNL_network net;
    ReadText("net Bad {\n" + a +
                 "node B { TYPE = CPT; FOO = 1; TARGET = TRUE; EXTRA_DEFINITION = { QUESTION = "
                 "\"q\"; }; };\n};",
             net);
    EXPECT_EQ(1, net.IsTarget(net.FindNode("B")));
    EXPECT_STREQ("q", Node(net, "B")->GetExtraDefinition()->GetQuestion());
    // Parents whose table would pass the model's limit are refused together, before any arc.
    std::string wide = "(s0";
    for (int i = 1; i < 1000; ++i)
        wide += ", s" + std::to_string(i);
    wide += ")";
    std::string text = "net Wide {\n";
    for (const char* id : {"P", "Q", "R"})
        text += std::string("node ") + id + " { DEFINITION = { NAMESTATES = " + wide + "; }; };\n";
    EXPECT_EQ(-42, ReadText(text + "node C { PARENTS = (P, Q, R); };\n};", net));
    EXPECT_TRUE(Logged("Matrix too large: the table of node 'C'")) << AllMessages();
    EXPECT_EQ(0, net.NumberOfParents(net.FindNode("C")));
    // Noisy-AND parameters the definition refuses (no leak at all) leave the node as it was.
    EXPECT_NE(0, ReadText("net Bad {\n" + a +
                              "node B { TYPE = NOISY_AND; PARENTS = (A); DEFINITION = { "
                              "NAMESTATES = (b1, b2); PROBABILITIES = (0.5, 0.5, 0, 1); }; };\n};",
                          net));
    EXPECT_EQ(Strings(Node(net, "B")->GetDefinition()->GetOutcomeIds()),
              (std::vector<std::string>{"b1", "b2"}));
    EXPECT_EQ(0, (*static_cast<QNL_noisyMAX*>(Node(net, "B")->GetDefinition())
                       ->GetParentOutcomeStrengths(0))[0]);
}

TEST_F(QnlFormat, FramesThatAreNotANetworkFail) {
    EXPECT_EQ(-127, ReadText("bnet X { };"));
    EXPECT_TRUE(Logged("ERROR: 'bnet' : 'net' expected")) << AllMessages();
    EXPECT_EQ(-102, ReadText(""));
    // Cut inside the network: what was read stays.
    EXPECT_EQ(-111, ReadText("net X { node A { TYPE = CPT; DEFINITION = { NAMESTATES = (a, b); "
                             "}; }; node B { TYPE"));
    EXPECT_GE(network.FindNode("A"), 0);
    EXPECT_EQ(-128, ReadText("net X { HEADER = { NAME = \"open"));
}

// What the format has no statements for is refused before any file is touched.
TEST_F(QnlFormat, WriterRefusesWhatItCannotCarry) {
    for (int type : {QNL_TYPE_EQUATION, QNL_TYPE_NOISY_ADDER, QNL_TYPE_DEMORGAN}) {
        QNL_network net;
        AddNode(net, QNL_TYPE_CPT, "A", {"a", "b"});
        ASSERT_GE(net.AddNode(type, "Odd"), 0);
        const std::string path = folder.Put("old.qnl", "old contents");
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(-2, net.WriteFile(path.c_str()));
        EXPECT_TRUE(Logged("ERROR: This Network cannot be saved in QNL format: node 'Odd'"))
            << AllMessages();
        EXPECT_EQ("old contents", TempFolder::Get(path));
    }
}

// Files cut short or with bytes changed, and the inputs the fuzzer found, come back with a
// logged code or as a consistent network.
TEST_F(QnlFormat, TruncatedAndGarbledFilesNeverCrash) {
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(QUARN_TEST_DATA_DIR) + "/qnl")) {
        QNL_network net;
        QNL_errorHandler::Instance().Flush();
        const int result = net.ReadFile(entry.path().c_str());
        SCOPED_TRACE(entry.path().string());
        QNL_errorHandler& log = QNL_errorHandler::Instance();
        bool logged = result == 0;
        for (int i = 0; i < log.GetNumberOfErrors(); ++i)
            logged = logged || log.GetCode(i) == result;
        EXPECT_TRUE(logged) << result;
    }
    BuildEveryKind(network);
    const std::string path = folder.File("whole.qnl");
    ASSERT_EQ(0, network.WriteFile(path.c_str()));
    const std::string whole = TempFolder::Get(path);
    std::mt19937 random(28);
    for (std::size_t cut = 1; cut < whole.size(); cut += 1 + random() % 97) {
        QNL_network net;
        EXPECT_NE(0, ReadText(whole.substr(0, cut), net)) << cut;
    }
    const std::string noise = "{};,=\"()\\/#*x9.-";
    for (int round = 0; round < 60; ++round) {
        std::string text = whole;
        for (int k = 0; k < 4; ++k)
            text[random() % text.size()] = noise[random() % noise.size()];
        QNL_network net;
        if (ReadText(text, net) == 0) {
            EXPECT_EQ(0, net.CheckConsistency(1)) << text;
        }
    }
}

} // namespace
