#include "definitions/cpt.h"
#include "formats/format_test_support.h"
#include "formats/xml/xml_network_reader.h"
#include "model/case_library.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "numerics/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <vector>

namespace {

using namespace format_test;

struct BadDocument {
    std::string xml;
    std::string message; // the end of the one logged error, after its position
};

std::string Cpt(const std::string& id, const std::string& parents, const std::string& values) {
    return "<cpt id=\"" + id + "\"><state id=\"s1\"/><state id=\"s2\"/>" +
           (parents.empty() ? "" : "<parents>" + parents + "</parents>") + "<probabilities>" +
           values + "</probabilities></cpt>\n";
}

const std::string TWO = Cpt("A", "", "0.5 0.5");
const std::string UTILITY = "<utility id=\"U\"><utilities>1</utilities></utility>";
const std::string PLATE = "<cpt id=\"X\" dynamic=\"plate\"><state id=\"s1\"/><state id=\"s2\"/>"
                          "<probabilities>0.5 0.5</probabilities></cpt>\n";

std::string Dynamic(const std::string& kind, const std::string& id, const std::string& order,
                    const std::string& parents, const std::string& values) {
    const std::string list = kind == "cpt" ? "probabilities" : "resultingstates";
    return "<dynamic numslices=\"3\"><" + kind + " id=\"" + id + "\" order=\"" + order +
           "\"><parents>" + parents + "</parents><" + list + ">" + values + "</" + list + "></" +
           kind + "></dynamic>\n";
}

const std::string DECISION = "<decision id=\"D\"><state id=\"a\"/><state id=\"b\"/></decision>";

std::string Extension(const std::string& content, const std::string& rootAttributes = "") {
    return "<extensions><tavlo version=\"1.0\" name=\"n\"" + rootAttributes + ">" + content +
           "</tavlo></extensions>\n";
}

std::string DisplayNode(const std::string& id, const std::string& inside,
                        const std::string& color = "ffffff",
                        const std::string& position = "0 0 10 10",
                        const std::string& outline = "") {
    return "<node id=\"" + id + "\"><name>x</name><interior color=\"" + color +
           "\"/><outline color=\"000000\"" + outline +
           "/><font color=\"000000\" name=\"f\" size=\"8\"/><position>" + position + "</position>" +
           inside + "</node>";
}

const BadDocument BAD_DOCUMENTS[] = {
    // clang-format off
    {Document(Cpt("A", "B", "0.5 0.5 0.5 0.5") + Cpt("B", "", "0.5 0.5")),
     "Node parent not found: 'B'"},
    {Document(TWO + TWO), "Duplicated node identifier: 'A'"},
    {Document("<cpt id=\"A\"><state id=\"s1\"/><state id=\"s1\"/><probabilities>1 0"
     "</probabilities></cpt>"), "Duplicate state identifier: 's1'"},
    {Document("<cpt id=\"A\"><probabilities>1</probabilities></cpt>"),
     "Required element 'state' not present in element 'cpt'"},
    {Document("<cpt id=\"A\"><state id=\"s1\"/><state id=\"s2\"/></cpt>"),
     "Required element 'probabilities' not present in element 'cpt'"},
    {Document(TWO + Cpt("B", "A A", "0.5 0.5 0.5 0.5")), "Duplicate parent: 'A'"},
    {Document(Cpt("B", "B", "0.5 0.5")), "AddArc failed"},
    {Document(TWO + Cpt("B", "A", "0.5 0.5")), "SetProbabilities failed"},
    {Document(Cpt("A", "", "0.5 0.5 0.5")), "SetProbabilities failed"},
    {Document(Cpt("A", "", "0.5 0.5x")), "Can't read list of doubles, failed at element 2"},
    {Document("<cpt id=\"A\"><state id=\"s1\" default=\"true\"/>"
     "<state id=\"s2\" default=\"true\"/><probabilities>1 0</probabilities></cpt>"),
     "Duplicate default state attribute at state: 's2'"},
    {Document("<cpt id=\"A\" target=\"yes\"><state id=\"s1\"/><state id=\"s2\"/><probabilities>1 0"
     "</probabilities></cpt>"),
     "'true' or 'false' expected as value of boolean attribute 'target'"},
    {Document("<decision id=\"D\" diagtype=\"fault\"><state id=\"s1\"/></decision>"),
     "Unknown diagnosis node type: 'fault'"},
    {Document("<decision id=\"D\" dynamic=\"loop\"><state id=\"s1\"/></decision>"),
     "Unknown dynamic node type: 'loop'"},
    {Document(TWO + "<deterministic id=\"T\"><state id=\"t1\"/><state id=\"t2\"/><parents>A"
     "</parents><resultingstates>t1 t2 t1</resultingstates></deterministic>"),
     "Invalid number of resulting states: 3, expected 2"},
    {Document(TWO + "<deterministic id=\"T\"><state id=\"t1\"/><state id=\"t2\"/><parents>A"
     "</parents><resultingstates>t1 t3</resultingstates></deterministic>"),
     "Invalid resulting state: t3"},
    {Document(TWO + "<utility id=\"U\"><parents>A</parents><utilities>1</utilities></utility>"),
     "SetUtilities failed"},
    {Document("<cpt id=\"A\"><state id=\"1st\"/><state id=\"s2\"/><probabilities>1 0"
     "</probabilities></cpt>"), "SetNumberOfOutcomes failed"},
    {Document(TWO, "<algparams>"
     "<epis proplen=\"5\" numstates1=\"9\" numstates2=\"8\" numstates3=\"20\" eps1=\"0.006\" "
      "eps2=\"0.0001\" eps3=\"5e-05\" eps4=\"5e-05\"/></algparams>"), "Invalid EPIS parameters"},
    {Document(TWO, "<algparams><epis proplen=\"5\"/></algparams>"),
     "Required attribute 'numstates1' not found in element 'epis'"},
    {Document(TWO, "<observationcost><node id=\"Z\"><cost>1</cost></node></observationcost>"),
     "Invalid node identifier: 'Z'"},
    {Document(TWO, "<observationcost><node id=\"A\"><cost>1 2</cost></node></observationcost>"),
     "SetCosts failed"},
    {Document(TWO, "<observationcost><node id=\"A\"><cost>n/a na</cost></node></observationcost>"),
     "Can't read list of doubles, failed at element 2"},
    {Document(TWO, "<cases><case name=\"c\"/><case name=\"c\"/></cases>"),
     "Duplicate case name: 'c'"},
    {Document(TWO, "<cases><case name=\"c\"><evidence node=\"A\" state=\"s9\"/></case></cases>"),
     "Invalid outcome identifier: 's9'"},
    {Document(TWO, "<cases><case name=\"c\"><evidence node=\"Q\" state=\"s1\"/></case></cases>"),
     "Invalid node identifier: 'Q'"},
    {Document(TWO, "<cases><case name=\"c\"><evidence node=\"A\" state=\"s1\"/>"
     "<evidence node=\"A\" state=\"s2\"/></case></cases>"),
     "Evidence 's2' of node 'A' cannot be added."},
    {Document(TWO, "<cases><case name=\"c\"><target node=\"Q\"/></case></cases>"),
     "Invalid node identifier: 'Q'"},
    {Document(TWO, "<properties><property id=\"9x\">v</property></properties>"),
     "Can't add networkproperty: '9x'"},
    {Document("<decision id=\"D\"><state id=\"s1\"/><property id=\"a b\">v</property></decision>"),
     "Can't add node property: 'a b'"},
    {"<quarn version=\"1.1\" id=\"N\"><nodes/></quarn>",
     "Invalid version number '1.1', expected 1.0\n" + std::string(QNL_xmlReader::DownloadHint())},
    {"<quarn version=\"1.0\" id=\"my net\"><nodes/></quarn>",
     "Invalid network identifier: 'my net'"},
    {"<quarn version=\"1.0\" id=\"N\" numsamples=\"0\"/>", "Invalid number of samples: 0"},
    {"<network version=\"1.0\" id=\"N\"/>", "Unknown root element 'network', expected 'quarn'"},
    {Document(TWO).substr(0, 80), "unclosed token"},
    {"<quarn version=\"1.0\" id=\"N\"><nodes></quarn>", "mismatched tag"},
    {"", "no element found"},
    // Multi-attribute utility and equation nodes that cannot be set: refused, never half read.
    {Document(UTILITY + "<mau id=\"M\"><parents>U</parents><weights>1 2</weights></mau>"),
     "SetWeights failed"},
    {Document(DECISION + UTILITY +
              "<maux id=\"M\"><parents>D U</parents><expression>U</expression></maux>"),
     "Invalid number of expressions: 1, expected 2"},
    {Document(UTILITY + "<maux id=\"M\"><parents>U</parents><expression>U+</expression></maux>"),
     "Invalid expression: Factor expected"},
    {Document(UTILITY + "<maux id=\"M\"><parents>U</parents><expression>M</expression></maux>"),
     "SetExpressions failed: 'Invalid expression at index 0: self-references not allowed'"},
    {Document("<equation id=\"E\"><definition>E=Q</definition></equation>"),
     "SetEquation failed: 'Unknown node identifier: Q'"},
    {Document("<equation id=\"E\"><definition>E=(1</definition></equation>"),
     "Invalid expression: ')' expected"},
    // The dynamic part.
    {Document(TWO, "<dynamic numslices=\"-1\"/>"),
     "Invalid slice count: -1, non-negative integer expected"},
    {Document(TWO + PLATE, Dynamic("cpt", "A", "1", "X", "0.5 0.5 0.5 0.5")),
     "Node is not part of temporal plate: 'A'"},
    {Document(TWO, Dynamic("cpt", "Q", "1", "X", "1 0")), "Invalid node identifier: 'Q'"},
    {Document(PLATE, Dynamic("cpt", "X", "0", "X", "0.5 0.5 0.5 0.5")),
     "Invalid temporal order: 0, positive value expected"},
    {Document(PLATE, Dynamic("cpt", "X", "1", "", "0.5 0.5")), "No temporal parents specified"},
    {Document(TWO + PLATE, Dynamic("cpt", "X", "1", "A", "0.5 0.5 0.5 0.5")),
     "AddTemporalArc failed"},
    {Document(PLATE, Dynamic("deterministic", "X", "1", "X", "s1 s2")),
     "Invalid temporal defintion type"},
    {Document(PLATE, Dynamic("cpt", "X", "1", "X", "0.5 0.5")), "SetProbabilities failed"},
    {Document(PLATE + Cpt("N", "X", "0.5 0.5 0.5 0.5")), "AddArc failed"},
    {Document(PLATE, Extension("<plate leftwidth=\"1\" rightwidth=\"1\">0 0 1</plate>")),
     "Error while reading object position"},
    // The display and diagnosis extension.
    {Document(TWO, Extension(DisplayNode("X", ""))), "Node 'X' doesn't exist in QUARN network"},
    {Document(TWO, Extension(DisplayNode("A", "", "fff00"))),
     "Color specification 'rrggbb' expected"},
    {Document(TWO, Extension(DisplayNode("A", "", "fff0000"))),
     "Color specification 'rrggbb' expected"},
    {Document(TWO, Extension(DisplayNode("A", "", "ggffff"))),
     "Color specification 'rrggbb' expected"},
    {Document(TWO, Extension("", " faultnameformat=\"inherit\"")),
     "Inherited fault name format not allowed here"},
    {Document(TWO, Extension("", " faultnameformat=\"long\"")),
     "Invalid fault name format: 'long'"},
    {Document(TWO, Extension(DisplayNode("A", "", "ffffff", "1 2 3 4 5"))),
     "Exactly 4 integers expected"},
    {Document(TWO, Extension(DisplayNode("A", "", "ffffff", "1 2 3"))),
     "Error while reading object position"},
    {Document(TWO, Extension(DisplayNode("A", "", "ffffff", "1 2 3.5 4"))),
     "Can't read list of integers, failed at element 3"},
    {Document(TWO, Extension(DisplayNode("A", "", "ffffff", "0 0 1 1", " width=\"0\""))),
     "Invalid width attribute"},
    {Document(TWO, Extension(DisplayNode("A", "<state id=\"s7\"/>"))), "Invalid state id: 's7'"},
    {Document("<utility id=\"U\"><utilities>1</utilities></utility>", Extension(DisplayNode("U", ""
     "<state id=\"s1\"/>"))), "unexpected state info : 's1'"},
    {Document(TWO, Extension("<node id=\"A\"><name>x</name></node>")),
     "Required element 'interior' not present in element 'node'"},
    {Document(TWO, Extension("<submodel id=\"S\"><name>s</name><interior color=\"ffffff\"/>"
     "<outline color=\"000000\"/><font color=\"000000\" name=\"f\" size=\"8\"/><position>0 0 1 1"
     "</position></submodel><submodel id=\"S\"/>")), "Can't create submodel: 'S'"},
    {Document(TWO, "<extensions/>"),
     "Required element 'tavlo' not present in element 'extensions'"},
    {Document(TWO, Extension(DisplayNode("A", "", "ffffff", "-2147483648 0 2147483647 0"))),
     "Error while reading object position"},
    {"<quarn version=\"1.0\" id=\"N\" numsamples=\"1.5\"><nodes/></quarn>",
     "Integer value expected for attribute 'numsamples'"},
    {Document("<cpt id=\"A\"><state id=\"s1\"/><probabilities>1</probabilities>"
              "<probabilities>1</probabilities></cpt>"),
     "Multiple occurences of 'probabilities' not allowed in 'cpt'"},
    // clang-format on
};

// Each document is refused with exactly one error that gives its position and the reason.
TEST(XmlFormatMessages, BadFilesFailWithThePositionAndTheReason) {
    for (const BadDocument& bad : BAD_DOCUMENTS) {
        SCOPED_TRACE(bad.message);
        QNL_network net;
        EXPECT_EQ(ReadDocument(net, "bad.xqnl", bad.xml), -103);
        const std::vector<std::string> errors = LoggedMessages(-103);
        ASSERT_EQ(errors.size(), 1u) << AllMessages();
        const std::string& error = errors[0];
        EXPECT_TRUE(error.rfind("Error at ", 0) == 0 &&
                    error.find(" while loading ") != error.npos &&
                    error.size() >= bad.message.size() &&
                    error.substr(error.size() - bad.message.size()) == bad.message)
            << error;
    }
}

// Unknown items are warnings and the read goes on; an absent sample count means a thousand.
TEST(XmlFormatMessages, UnknownItemsAreWarningsAndDefaultsApply) {
    QNL_network net;
    net.SetNumberOfSamples(77);
    const std::string xml = Document("<cpt id=\"A\" colour=\"red\"><state id=\"s1\"/>"
                                     "<state id=\"s2\"/><gadget><inner/></gadget>"
                                     "<probabilities>0.25 0.75</probabilities></cpt>",
                                     "<future/>");
    ASSERT_EQ(ReadDocument(net, "unknown.xqnl", xml), 0);
    const std::vector<std::string> warnings = LoggedMessages(-100);
    const char* const starts[] = {"Warning: Ignored unknown attribute 'colour' in 'cpt' at 4, ",
                                  "Warning: Ignored unknown element 'gadget' at 4, ",
                                  "Warning: Ignored unknown element 'future'",
                                  "File contains unknown elements and/or attributes."};
    ASSERT_EQ(warnings.size(), 4u) << AllMessages();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(warnings[i].rfind(starts[i], 0), 0u) << warnings[i];
    EXPECT_EQ(net.GetNumberOfSamples(), 1000);
    EXPECT_EQ(Values(net.GetNode(net.FindNode("A"))), (std::vector<double>{0.25, 0.75}));
    EXPECT_FALSE(QNL_xmlNetworkReader::Read(TempPath("none.xqnl").c_str(), nullptr, 0));
}

} // namespace
