#include "formats/xmlbif_format.h"

#include "definitions/logic_gates.h"
#include "format_test_support.h"
#include "formats/format.h"
#include "formats/xml/xml_reader.h"
#include "model/error_handler.h"
#include "support/gate_reference.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace format_test;

namespace {

class XmlbifFormatTest : public FormatTest {
protected:
    XmlbifFormatTest() : FormatTest("xmlbif", ".xml03") {}

    static std::string Shared(const std::string& file) {
        return RealNetworks() + "/xmlbif/" + file;
    }
    // A document around the given NETWORK content.
    static std::string Document(const std::string& content) {
        return "<?xml version=\"1.0\"?>\n<BIF VERSION=\"0.3\">\n<NETWORK>\n" + content +
               "</NETWORK>\n</BIF>\n";
    }
    static std::string Variable(const std::string& name, const std::string& type = "nature") {
        return "<VARIABLE TYPE=\"" + type + "\"><NAME>" + name +
               "</NAME><OUTCOME>s0</OUTCOME><OUTCOME>s1</OUTCOME></VARIABLE>\n";
    }
};

TEST_F(XmlbifFormatTest, RealAndForeignFilesKeepOrderLayoutAndNames) {
    // Repaired identifiers keep the original as names; the VARIABLE inside an unknown
    // extension element is skipped with it; no TYPE is a chance node.
    ASSERT_EQ(0, ReadText(Fixture("xmlbif/foreign_names.xml03"))) << AllMessages();
    EXPECT_EQ(Describe(network),
              "light_on'light-on'(true false): 0.6 0.4; light_on2'light_on'(x0 x1 x12)|light_on: "
              "0.1 0.2 0.7 0.25 0.25 0.5; Gr____e__cm_'Gr\xC3\xB6\xC3\x9F"
              "e <cm>'{note=\"quoted\" \\ back // slash;}(small_5 big)|light_on2 light_on: 0.01 "
              "0.99 0.02 0.98 0.03 0.97 0.04 0.96 0.05 0.95 0.06 0.94; ");
    EXPECT_STREQ(network.GetHeader()->GetName(), "Dog problem & friends");
    EXPECT_STREQ(network.GetHeader()->GetId(), "Dog_problem___friends");
    EXPECT_EQ(Properties(network.GetUserProperties()), "author=Someone;");
    EXPECT_EQ(Info("light_on").screen.position.x, 73);
    EXPECT_EQ(Info("light_on").screen.position.y, 165);
    // The network's identifier before the read and the file's NAME both give way.
    ASSERT_EQ(0, ReadText("<BIF VERSION=\"0.3\"><NETWORK><NAME>A</NAME>" + Variable("Unnamed") +
                          Variable("A") + "</NETWORK></BIF>"));
    EXPECT_EQ(Describe(network), "Unnamed(s0 s1): 0.5 0.5; A(s0 s1): 0.5 0.5; ");
    EXPECT_STREQ(network.GetHeader()->GetId(), "A2");
    EXPECT_STREQ(network.GetHeader()->GetName(), "A");
    // An influence diagram without NAME keeps the network's name; free-text properties
    // ("Drill") are neither names nor user properties.
    QNL_network oil;
    ASSERT_EQ(0, oil.ReadFile(Shared("oil_wildcatter_id.xml").c_str(), QNL_FORMAT_XMLBIF));
    EXPECT_STREQ(oil.GetHeader()->GetId(), "Unnamed");
    const std::string model = Describe(oil);
    for (const char* part :
         {"Drilling[D](", ")|TestResult Testing; ", "Reward[U]|", ": -70 0 50 0 200 0; "})
        EXPECT_NE(model.find(part), std::string::npos) << part << " in " << model;
}

// Malformed input: each case fails with its code and message, keeps what it could read and
// never crashes.
TEST_F(XmlbifFormatTest, DefectiveDocumentsFailWithCodeAndMessage) {
    const std::string pair = Variable("A") + Variable("B");
    const std::string ab = "A(s0 s1): 0.5 0.5; B(s0 s1)";
    ExpectReads({
        // clang-format off
        // The scanner's end of input, with the message logged under -2.
        {"<?xml version=\"1.0\"?>\n<NETWORK></NETWORK>\n", -111, "", {"ERROR: [BIF] : Tag Not found"}},
        {"just text, no markup", -111, "", {"ERROR: [BIF] : Tag Not found"}},
        {"<BIF VERSION=\"0.2\"><NETWORK>" + pair + "</NETWORK></BIF>", -2, "",
         {"ERROR: Incorrect BIF Version"}},
        {Document(pair).substr(0, 182), -127, "A(s0 s1): 0.5 0.5; ",
         {"ERROR: End of File : Expecting '</VARIABLE>'"}},
        {Document(Variable("A", "chanse") + Variable("B")), -2, "B(s0 s1): 0.5 0.5; ",
         {"ERROR: chanse : Unknown node type"}},
        // A short table leaves the node as it was, without the parents that go with the table.
        {Document(pair + "<DEFINITION><FOR>B</FOR><GIVEN>A</GIVEN><TABLE>0.5 0.5 0.5</TABLE>"
         "</DEFINITION>"), -2, ab + ": 0.5 0.5; ",
         {"ERROR: Node [B] was expecting 4 numbers but 3 were read"}},
        {Document(pair + "<DEFINITION><FOR>A</FOR><TABLE>0.5 0.5x</TABLE></DEFINITION>"), -127,
         ab + ": 0.5 0.5; ", {"ERROR: '0.5x' : Real Number expected"}},
        {Document(pair + "<DEFINITION><FOR>B</FOR><GIVEN>C</GIVEN></DEFINITION>"), -2,
         ab + ": 0.5 0.5; ", {"ERROR: C : Invalid parent"}},
        {Document(pair + "<DEFINITION><FOR>C</FOR></DEFINITION>"), -2, ab + ": 0.5 0.5; ",
         {"ERROR: C : Node not found"}},
        {Document(pair + "<DEFINITION><FOR>A</FOR><FOR>B</FOR></DEFINITION>"), -2,
         ab + ": 0.5 0.5; ", {"ERROR: B : Extra [FOR] entry. Ignored."}},
        {Document("<OUTCOME>x</OUTCOME>" + pair), -127, ab + ": 0.5 0.5; ",
         {"ERROR: 'OUTCOME' : Misplaced statement"}},
        {Document(pair + "<DEFINITION><FOR>B</FOR><GIVEN>A</GIVEN></DEFINITION>"
         "<DEFINITION><FOR>A</FOR><GIVEN>B</GIVEN></DEFINITION>"), -2,
         ab + "|A: 0.5 0.5 0.5 0.5; ", {"ERROR: Couldn't add arc from node [B] to node [A]"}},
        {Document(pair + Variable("A")), -32, ab + ": 0.5 0.5; ",
         {"ERROR: A : Duplicated node name"}},
        {Document("<VARIABLE TYPE=\"nature\"<NAME>A</NAME></VARIABLE>"), -127, "",
         {"ERROR: '<' : '>' expected"}},
        {"", -102, "", {}},
        // clang-format on
    });
    ASSERT_EQ(-111, ReadText("<NETWORK/>"));
    EXPECT_EQ(std::vector<std::string>{"(line 1) : ERROR: [BIF] : Tag Not found"},
              LoggedMessages(-2));
}

// A model with every kind the format carries and texts that need escaping: the file is well
// formed, holds the texts escaped, and reads back the same.
TEST_F(XmlbifFormatTest, WrittenModelIsWellFormedAndReadsBackEqual) {
    network.GetHeader()->SetId("Plant");
    network.GetHeader()->SetName("Plant <north> & \"south\"");
    network.GetUserProperties().AddProperty("owner", "a\tb\nc");
    const int weather = AddNode(network, QNL_TYPE_CPT, "Weather", {"sun", "rain", "snow"});
    const int test = AddNode(network, QNL_TYPE_LIST, "Test", {"yes", "no"});
    const int reading = AddNode(network, QNL_TYPE_CPT, "Reading", {"low", "high"});
    const int cost = network.AddNode(QNL_TYPE_TABLE, "Cost");
    for (const auto& [from, to] : {std::pair{weather, reading},
                                   {test, reading},
                                   {reading, cost},
                                   {test, cost},
                                   {weather, test}})
        ASSERT_EQ(network.AddArc(from, to), 0);
    SetValues(network, weather, {0.1 + 0.2, 1.0 / 3.0, 1.0 - (0.1 + 0.2) - 1.0 / 3.0});
    SetValues(network, reading, {1, 0, 0, 1, 0, 1, 1, 0, 1, 0, 0, 1});
    SetValues(network, cost, {-1e-9, 2.5, QNL_UNDEFINED_NUMBER, 123456789.123456789});
    SetValues(network, test, {7.25, -3});
    QNL_nodeInfo* info = network.GetNode(weather)->GetInfo();
    info->header.SetName("Wetter: Gr\xC3\xB6\xC3\x9F"
                         "e & <Regen>");
    info->screen.position.x = -40;
    info->screen.position.y = 1200;
    info->properties.AddProperty("unit", "mm </TABLE> \\n");
    network.GetNode(cost)->GetInfo()->header.SetName("");
    QNL_network back;
    ASSERT_NO_FATAL_FAILURE(ExpectWrittenAndReadBackTheSame(kEverything, back));
    EXPECT_STREQ(back.GetHeader()->GetId(), "Plant");
    EXPECT_STREQ(back.GetHeader()->GetName(), "Plant <north> & \"south\"");
    EXPECT_EQ(Properties(back.GetUserProperties()), "owner=a\tb\nc;");
    ASSERT_TRUE(IsWellFormed(folder.File("model.xml03"), "BIF"));
    const std::string text = TempFolder::Get(folder.File("model.xml03"));
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\"?>\n", 0), 0u);
    // Each property as written, escaped for XML.
    for (const char* property :
         {"name = Plant &lt;north&gt; &amp; \"south\"", "owner = a&#9;b&#10;c",
          "name = Wetter: Gr\xC3\xB6\xC3\x9F"
          "e &amp; &lt;Regen&gt;",
          "position = (-40, 1200)", "unit = mm &lt;/TABLE&gt; \\n", "name = <"})
        EXPECT_NE(text.find("<PROPERTY>" + std::string(property)), std::string::npos) << property;
    for (const char* type : {"nature", "decision", "utility"})
        EXPECT_NE(text.find(std::string("<VARIABLE TYPE=\"") + type + "\">"), std::string::npos);
    // Real files survive as well (the repository holds the diagram).
    for (const char* file : {"oil_wildcatter_id.xml", "asia.xml", "hailfinder.xml"}) {
        if (!HaveSharedNetworks() && !std::filesystem::exists(Shared(file))) continue;
        QNL_network original, copy;
        const std::string path = folder.File(std::string(file) + "03");
        ASSERT_EQ(original.ReadFile(Shared(file).c_str(), QNL_FORMAT_XMLBIF), 0) << file;
        ASSERT_EQ(original.WriteFile(path.c_str()), 0) << AllMessages();
        EXPECT_TRUE(IsWellFormed(path, "BIF")) << file;
        ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages();
        EXPECT_TRUE(SameNetworks(original, copy, kEverything)) << file;
        EXPECT_STREQ(original.GetHeader()->GetId(), copy.GetHeader()->GetId());
        EXPECT_EQ(Properties(original.GetUserProperties()), Properties(copy.GetUserProperties()));
    }
}

// A text no XML parser would take back (a control character, U+FFFE, U+FFFF) in any field the
// format writes refuses the network before a file is touched; the same text with a character
// XML holds writes.
TEST_F(XmlbifFormatTest, TextsXmlCannotHoldAreRefusedBeforeAnyFileIsWritten) {
    const int node = AddNode(network, QNL_TYPE_CPT, "A", {"a0", "a1"});
    const struct {
        const char* label;
        std::function<void(const std::string&)> set;
    } fields[] = {
        {"network name", [&](const std::string& t) { network.GetHeader()->SetName(t.c_str()); }},
        {"network property",
         [&](const std::string& t) { network.GetUserProperties().AddProperty("p", t.c_str()); }},
        {"node name",
         [&](const std::string& t) {
             network.GetNode(node)->GetInfo()->header.SetName(t.c_str());
         }},
        {"node property",
         [&](const std::string& t) {
             network.GetNode(node)->GetInfo()->properties.AddProperty("q", t.c_str());
         }},
    };
    const std::string path = folder.File("refused.xml03");
    for (const auto& field : fields) {
        for (const char* bad : {"\x07", "\x1B", "\xEF\xBF\xBE", "\xEF\xBF\xBF"}) {
            SCOPED_TRACE(std::string(field.label) + " holding " + bad);
            std::remove(path.c_str());
            field.set(std::string("x") + bad + "y");
            QNL_errorHandler::Instance().Flush();
            EXPECT_EQ(network.WriteFile(path.c_str(), QNL_FORMAT_XMLBIF), -2);
            EXPECT_FALSE(std::filesystem::exists(path));
        }
        // U+FFFD is a character like any other.
        field.set("x\xEF\xBF\xBDy");
        ASSERT_EQ(network.WriteFile(path.c_str(), QNL_FORMAT_XMLBIF), 0) << field.label;
        EXPECT_TRUE(IsWellFormed(path, "BIF")) << field.label;
    }
}

// Each gate goes out as the table it expands to: the node read back is a probability table
// equal to the gate's, and the network it sits in gives the same beliefs under evidence.
TEST_F(XmlbifFormatTest, GatesAreWrittenAsTheirExpandedTables) {
    using quarn_test::ArrayOf;
    using quarn_test::IntsOf;
    quarn_test::TestRandom random(47);
    const struct {
        int type;
        std::function<void(QNL_nodeDefinition*)> set;
    } gates[] = {
        {QNL_TYPE_NOISY_MAX,
         [&](QNL_nodeDefinition* d) {
             quarn_test::RandomizeNoisyMax(*dynamic_cast<QNL_noisyMAX*>(d), random);
         }},
        {QNL_TYPE_NOISY_ADDER,
         [&](QNL_nodeDefinition* d) {
             quarn_test::RandomizeNoisyAdder(*dynamic_cast<QNL_noisyAdder*>(d), random);
         }},
        {QNL_TYPE_CAST,
         [](QNL_nodeDefinition* d) {
             auto* cast = dynamic_cast<QNL_cast*>(d);
             ASSERT_EQ(0, cast->SetPositiveWeights(ArrayOf({0.7, -0.2})));
             ASSERT_EQ(0, cast->SetNegativeWeights(ArrayOf({-0.45, 0.3})));
             ASSERT_EQ(0, cast->SetBaseline(0.35));
         }},
        {QNL_TYPE_DEMORGAN,
         [](QNL_nodeDefinition* d) {
             auto* gate = dynamic_cast<QNL_demorgan*>(d);
             ASSERT_EQ(0,
                       gate->SetParentTypes(IntsOf({QNL_DEMORGAN_CAUSE, QNL_DEMORGAN_INHIBITOR})));
             ASSERT_EQ(0, gate->SetParentWeights(ArrayOf({0.8, 0.35})));
             ASSERT_EQ(0, gate->SetPriorBelief(0.15));
         }},
    };
    for (const auto& gate : gates) {
        SCOPED_TRACE(gate.type);
        // Noisy gates take table parents; CAST and DeMorgan only parents of their own kind.
        const bool twoState = gate.type == QNL_TYPE_CAST || gate.type == QNL_TYPE_DEMORGAN;
        QNL_network net;
        const int a =
            AddNode(net, twoState ? gate.type : QNL_TYPE_CPT, "A",
                    twoState ? std::vector<const char*>{} : std::vector{"a0", "a1", "a2"});
        const int b = AddNode(net, twoState ? gate.type : QNL_TYPE_CPT, "B", {});
        const int g =
            AddNode(net, gate.type, "G",
                    twoState ? std::vector<const char*>{} : std::vector{"g0", "g1", "g2"});
        AddArcs(net, "A>G B>G");
        if (!twoState) SetValues(net, a, {0.2, 0.5, 0.3});
        if (!twoState) SetValues(net, b, {0.6, 0.4});
        ASSERT_NO_FATAL_FAILURE(gate.set(net.GetNode(g)->GetDefinition()));

        const std::string path = folder.File("gates.xml");
        ASSERT_EQ(0, net.WriteFile(path.c_str(), QNL_FORMAT_XMLBIF)) << AllMessages();
        QNL_network back;
        ASSERT_EQ(0, back.ReadFile(path.c_str(), QNL_FORMAT_XMLBIF)) << AllMessages();
        EXPECT_TRUE(SameNetworks(net, back, Compared{false, false, false, false, false}));
        for (int h : {a, b, g}) {
            const QNL_node* read = Node(back, net.GetNode(h)->GetId());
            EXPECT_EQ(QNL_TYPE_CPT, read->GetType());
            quarn_test::ExpectNear(Values(read), Values(net.GetNode(h)), 1e-12,
                                   net.GetNode(h)->GetId());
        }
        // Beliefs before and after evidence on the gate.
        for (int evidence = 0; evidence < 2; ++evidence) {
            for (QNL_network* n : {&net, &back}) {
                if (evidence == 1) {
                    ASSERT_EQ(0, Node(*n, "G")->GetValue()->SetEvidence(1));
                }
                ASSERT_EQ(0, n->UpdateBeliefs()) << AllMessages();
            }
            for (const char* id : {"A", "B", "G"}) {
                const QNL_doubleArray& x = Node(net, id)->GetValue()->GetMatrix()->GetItems();
                const QNL_doubleArray& y = Node(back, id)->GetValue()->GetMatrix()->GetItems();
                quarn_test::ExpectNear(std::vector<double>(y.Items(), y.Items() + y.GetSize()),
                                       std::vector<double>(x.Items(), x.Items() + x.GetSize()),
                                       1e-12, id);
            }
        }
        EXPECT_NE(TempFolder::Get(path).find("<VARIABLE TYPE=\"nature\">\n  <NAME>G</NAME>"),
                  std::string::npos);
    }
}

} // namespace
