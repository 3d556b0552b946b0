#include "definitions/extra_definition.h"
#include "definitions/noisy_max.h"
#include "format_test_support.h"
#include "formats/format.h"
#include "model/node_cost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace format_test;

namespace {

class KiFormatTest : public FormatTest {
protected:
    KiFormatTest() : FormatTest("ki", ".dxp") {}

    const QNL_node& Node(const char* id) const {
        const int h = network.FindNode(id);
        EXPECT_GE(h, 0) << id;
        return *network.GetNode(h);
    }
};

// A knowledge base with the nodes and the network entries given.
std::string Base(const std::string& nodes, const std::string& entries) {
    return "diagnostic network \"t\"\nkb { NOTES : \"n\"; }\nnodes\n{\n" + nodes +
           "}\nnetwork\n{\n" + entries + "}\n";
}

// A node of two states a0 and a1 (b0 and b1 ... by its first letter), with further statements.
std::string TwoStates(const std::string& id, const std::string& more = "",
                      const std::string& kind = "standard", const std::string& first = "standard") {
    const std::string s(1, static_cast<char>(std::tolower(id[0])));
    return kind + " " + id + " { type : discrete[2] = 3D { " + first + " x { NAME : \"" + s +
           "0\"; } standard y { NAME : \"" + s + "1\"; } }; " + more + " }\n";
}

std::vector<double> Parameters(const QNL_node& node) {
    const auto* noisy = dynamic_cast<const QNL_noisyMAX*>(node.GetDefinition());
    if (noisy == nullptr) return {};
    const QNL_doubleArray& cells = noisy->GetParameters().GetItems();
    return std::vector<double>(cells.Items(), cells.Items() + cells.GetSize());
}

TEST_F(KiFormatTest, KnowledgeBaseReadsEveryField) {
    ASSERT_EQ(0, ReadText(Fixture("ki/car.dxp"))) << AllMessages();
    const QNL_header& net = *network.GetHeader();
    EXPECT_EQ("Car start|Why a car does not start",
              Text(net.GetName()) + "|" + Text(net.GetComment()));

    const QNL_node& battery = Node("Battery");
    const QNL_nodeInfo& info = *battery.GetInfo();
    EXPECT_EQ("Battery state|The battery|KI_SHORTNAME=Batt;KI_LONGNAME=Car battery;",
              Text(info.header.GetName()) + "|" + Text(info.header.GetComment()) + "|" +
                  Properties(info.properties));
    EXPECT_EQ((std::vector<int>{100, 40, 80, 30}),
              (std::vector<int>{info.screen.position.x, info.screen.position.y,
                                info.screen.position.width, info.screen.position.height}));
    const QNL_extraDefinition& extra = *battery.GetExtraDefinition();
    EXPECT_EQ("Is the battery charged?", Text(extra.GetQuestion()));
    EXPECT_EQ("1 0|BD |Replace the battery |Battery dead ",
              std::to_string(extra.IsFaultOutcome(0)) + " " +
                  std::to_string(extra.IsFaultOutcome(1)) + "|" +
                  Text(extra.GetOutcomeLabels().GetString(0)) + " " +
                  Text(extra.GetOutcomeLabels().GetString(1)) + "|" + Text(extra.GetOutcomeFix(0)) +
                  " " + Text(extra.GetOutcomeFix(1)) + "|" + Text(extra.GetFaultName(0)) + " " +
                  Text(extra.GetFaultName(1)));
    EXPECT_EQ(QNL_extraDefinition::FAULT_NAME_NODESTATE, extra.GetFaultNameFormat());
    EXPECT_EQ(QNL_extraDefinition::FAULT_NAME_STATE,
              Node("Fuel").GetExtraDefinition()->GetFaultNameFormat());
    // A label on a state that is no fault has no effect.
    EXPECT_EQ("", Text(Node("Fuel").GetExtraDefinition()->GetOutcomeLabels().GetString(1)));

    // Diagnosis type, ranked, mandatory: faults without flags make a target, OBSERVABLE an
    // observation, MANDATORY a mandatory one that is not ranked, neither an auxiliary node.
    auto diagnosis = [this](const char* id) {
        const QNL_extraDefinition& e = *Node(id).GetExtraDefinition();
        return std::to_string(e.GetDiagnosisType()) + std::to_string(e.IsRanked()) +
               std::to_string(e.IsMandatory());
    };
    EXPECT_EQ(
        (std::vector<std::string>{"000", "000", "110", "101", "210"}),
        (std::vector<std::string>{diagnosis("Battery"), diagnosis("Fuel"), diagnosis("Lights"),
                                  diagnosis("Stalls"), diagnosis("Fuel_gauge")}));
    EXPECT_EQ(1, Node("Lights").GetExtraDefinition()->GetDefaultOutcome());
    EXPECT_EQ(2.5, Node("Lights").GetCost()->GetCosts().GetItems()[0]);

    // Values rounded to five decimals; CLASSTYPE turns a node into noisy-MAX in place.
    const std::string described =
        "Battery'Battery state'{KI_SHORTNAME=Batt;KI_LONGNAME=Car battery;}(dead ok): 0.1 0.9; "
        "Fuel(empty full): 0.05 0.95; Lights(on off)|"
        "Battery: 0 1 0.12346 0.87654; Stalls[146]'Engine stalls'(yes no)|Battery Fuel: ";
    EXPECT_EQ(described, Describe(network).substr(0, described.size()));
    // Noisy parameters as worked out by hand: the node's states reversed, each parent's absent
    // state at the distinguished place with the unit column.
    EXPECT_EQ((std::vector<double>{0.9, 0.1, 0, 1, 0.95, 0.05, 0, 1, 0.02, 0.98}),
              Parameters(Node("Stalls")));
    const QNL_node& gauge = Node("Fuel_gauge");
    EXPECT_EQ("Fuel gauge", Text(gauge.GetInfo()->header.GetName()));
    EXPECT_EQ((std::vector<std::string>{"full", "half_full", "empty"}),
              Strings(gauge.GetDefinition()->GetOutcomeIds()));
    EXPECT_EQ((std::vector<double>{0.5, 0.3, 0.2, 0, 0, 1, 0.1, 0.2, 0.7}), Parameters(gauge));
    const QNL_intArray& strengths =
        *dynamic_cast<const QNL_noisyMAX*>(gauge.GetDefinition())->GetParentOutcomeStrengths(0);
    EXPECT_EQ((std::vector<int>{1, 0}), (std::vector<int>{strengths[0], strengths[1]}));

    // Ready for diagnosis (its diagnostic data in the own XML format is tested there).
    EXPECT_EQ(0, network.UpdateBeliefs()) << AllMessages();
}

// Faults of every part: the code and what was logged.
TEST_F(KiFormatTest, FaultsAreReportedAndTheRestIsRead) {
    const std::string a = TwoStates("A"), b = TwoStates("B");
    const std::string prob = "standard A parent () { PROB : { () ; 0.5, 0.5 ; } }\n";
    const std::string ci = TwoStates("C", "", "ci");
    const std::string rows = "(0, 0) ; 0.2, 0.8 ; (0, 1) ; 1, 0 ;";
    auto function = [](const std::string& rows, const std::string& absent) {
        return "ci C parent (A) { FUNCTION : max ; 0.9, 0.1 ; " + rows +
               " x ; predAbsentStates : { predIndex : 0 ; predAbsentStates : { " + absent +
               " } ; } ; }\n";
    };
    ExpectReads({
        // clang-format off
        {"", -102, "...", {}},
        {"net { }", -127, "...", {"(line 1) : ERROR: 'net' : 'diagnostic' expected"}},
        {"diagnostic network \"my net\"\nkb { }\nnodes { }\nnetwork { }\n", 0, "...", {}},
        {Base(TwoStates("A", "TYPE : x; APPNAME : \"&node\"; ABBREVIATION : \"a\"; Position : 1; COLOUR : red;"), prob), -127, "...",
         {"ERROR: 'TYPE' : Unknown Node Field", "ERROR: 'APPNAME' : Unknown Node Field",
          "ERROR: 'ABBREVIATION' : Unknown Node Field",
          "ERROR: 'Position' : Unknown Node Field", "ERROR: 'COLOUR' : Unknown Node Statement"}},
        {Base("standard A { type : discrete[2] = 3D { standard x { NAME : \"a0\"; COLOUR : \"red\"; }"
              " standard y { } standard z { } }; }\n", prob), -127, "...",
         {"ERROR: 'COLOUR' : Unknown State Field", "ERROR: Node (\"A\") : More states than declared"}},
        {Base("standard A { type : discrete[1] = 3D { standard x { } }; }\n", ""), -2, "...",
         {"Wrong number of outcomes"}},
        {Base(TwoStates("A", "", "standard", "fault") + "standard B { type : discrete[2] = 3D { fault x"
              " { ABBREVIATION : \"L\"; } fault y { ABBREVIATION : \"L\"; } }; }\n", ""), -127, "...",
         {"ERROR: 'L' : Fault label is not unique."}},
        {Base(a, "standard A parent () { PROB : { () ; 0.5, 0.3, 0.2 ; () ; 0.4, 0.6 ; } }\n"), -2, "...",
         {"(line 9) : ERROR: Wrong number of Probabilities"}},
        {Base(a, "standard A parent () { PROB : { () ; 0.5, 0.5 ; () ; 0.4, 0.6 ; } }\n"), -2, "...",
         {"ERROR: Node (\"A\") : Probabilities beyond the end of the table"}},
        {Base(a + b, "standard B parent (A) { PROB : { (0) ; 0.5, 0.5 ; } }\n"), -2, "...",
         {"ERROR: Node (\"B\") : Probabilities missing"}},
        {Base(a + ci, prob + function("(3, 0) ; 0.2, 0.8 ; () ; 0.2, 0.8 ; " + rows, "1")), -2, "...",
         {"ERROR: Node (\"C\") : Row for no parent"}},
        {Base(a + ci, prob + function(rows + "(0, 0) ; 0.3, 0.7 ;", "1")), -2, "...",
         {"ERROR: Node (\"C\") : More rows than parent states"}},
        {Base(a + ci, prob + function("(0, 0) ; 0.2, 0.8 ;", "1")), -2, "...",
         {"ERROR: Node (\"C\") : Probabilities missing"}},
        {Base(a + ci, prob + function(rows, "2")), -2, "...",
         {"ERROR: Node (\"C\") : Absent state 2 out of range"}},
        {Base(a + ci, prob + function(rows, "1")), 0, "...", {}},
        {Base(a, "standard A parent () { LEAK : 0.1 ; FOO : { 1 } PROB : { () ; 0.5, 0.5 ; } }\n"
              "standard Z parent () { }\nstandard A parent (Y) { }\n"), -127, "...",
         {"ERROR: 'LEAK' : Unknown Node Definition Field",
          "ERROR: 'FOO' : Unknown Node Definition Statement", "ERROR: Couldn't Find Node (\"Z\")",
          "ERROR: Couldn't add arc from node [Y] to node [A]"}},
        {Base(TwoStates("A", "cost : 1e999;"), prob), -127, "...",
         {"ERROR: 'cost' : Cost is not a finite number"}},
        {Base(a + "standard A { }\nfoo B { }\n" + b, "standard B parent () { }\n"), -2, "...",
         {"ERROR: Couldn't Create Node (\"A\")", "ERROR: 'foo' : 'standard' expected"}},
        {Base(a, prob).substr(0, 60), -127, "...", {}},
        {Base(a, "standard A parent () { PROB : { () ; 0.5, 0.5 ; } "), -127, "...",
         {"ERROR: End of File : Expecting '}'"}},
        // clang-format on
    });
    // The rest of a faulty file is still read; a name that is no identifier leaves the
    // network's identifier as it was.
    QNL_network net;
    ReadText("diagnostic network \"my net\"\nkb { }\nnodes {\n" +
                 TwoStates("A", "OBSERVABLE : TRUE; TYPE : x;", "standard", "fault") +
                 "}\nnetwork { }\n",
             net);
    EXPECT_EQ("Unnamed|my net",
              Text(net.GetHeader()->GetId()) + "|" + Text(net.GetHeader()->GetName()));
    const QNL_extraDefinition& extra = *net.GetNode(net.FindNode("A"))->GetExtraDefinition();
    EXPECT_EQ(QNL_extraDefinition::OBSERVATION, extra.GetDiagnosisType());
    EXPECT_EQ(1, extra.IsFaultOutcome(0));
}

// Every prefix of the fixture fails with a code, and garbled bytes never bring the reader down
// (the sanitizer build watches).
TEST_F(KiFormatTest, CutAndGarbledKnowledgeBasesNeverCrash) {
    const std::string text = Fixture("ki/car.dxp");
    const std::size_t end = text.find_last_of('}');
    for (std::size_t cut = 0; cut < end; cut += 5) {
        QNL_network net;
        const int result = ReadText(text.substr(0, cut), net);
        EXPECT_LT(result, 0) << cut;
        EXPECT_FALSE(AllMessages().empty()) << cut;
    }
    ExpectGarbledReadsExplained(text, 7, "{};\"9");
}

} // namespace
