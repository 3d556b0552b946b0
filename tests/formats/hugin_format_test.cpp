#include "format_test_support.h"
#include "formats/format.h"
#include "model/submodel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The shared fixture, builders and network comparison.
using namespace format_test;

namespace {

class HuginFormatTest : public FormatTest {
protected:
    HuginFormatTest() : FormatTest("hugin", ".net") {}
};

TEST_F(HuginFormatTest, InfluenceDiagramReadsAlikeWhateverItsLineEnds) {
    std::string crlf = "\xEF\xBB\xBF", cr; // a byte order mark is no text
    for (char c : std::string(kHuginInfluenceDiagram)) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        cr += c == '\n' ? '\r' : c;
    }
    QNL_network fromCrlf, fromCr;
    ASSERT_EQ(0, ReadText(crlf, fromCrlf));
    ASSERT_EQ(0, ReadText(cr, fromCr));
    ASSERT_EQ(0, ReadText(kHuginInfluenceDiagram));
    // Utilities are not probabilities: they arrive as written, parents in the file's order.
    EXPECT_EQ(Describe(network),
              "Weather'The weather'{diagnosistype=AUXILIARY;}(sun rain): 0.7 0.3; Forecast(sunny "
              "cloudy rainy)|Weather: 0.7 0.2 0.1 0.15 0.25 0.6; Umbrella[D](take leave)|Forecast; "
              "Comfort[U]|Umbrella Weather: 20 70 100 0; ");
    EXPECT_TRUE(SameNetworks(network, fromCrlf, kEverything));
    EXPECT_TRUE(SameNetworks(network, fromCr, kEverything));
    // File heights 50, 150 and 100 span 50..150; the mirror keeps that span.
    const QNL_rectangle& size = network.GetSubmodelHandler().GetDefaultNodeScreenInfo().position;
    EXPECT_EQ(
        (std::vector<int>{100, 150, 50, 100, 80, 40}),
        (std::vector<int>{Info("Weather").screen.position.x, Info("Weather").screen.position.y,
                          Info("Umbrella").screen.position.y, Info("Comfort").screen.position.y,
                          size.width, size.height}));
}

// Files as other tools write them, and faults in them: the code, what was read, and what was
// logged.
TEST_F(HuginFormatTest, FilesReadAsFarAsTheyAreSound) {
    const std::string ab = "node A { states = (\"a\" \"b\"); }\n";
    const std::string abc = ab + "node B { states = (\"a\" \"b\"); }\n"
                                 "node C { states = (\"a\" \"b\"); }\n";
    ExpectReads({
        // clang-format off
        // Unquoted states as some writers leave them: a point, a leading underscore, a "%"
        // that is no comment.
        {"node A {\n   states = (Transp. _7.5 _7.5_ 0_5___1_% 12 );  label = \"after\";\n}\n"
         "potential (A) { data = (1 1 1 1 1); }\n", 0,
         "A'after'(Transp_ x_7_5 x_7_5_ x0_5___1__ x12): 0.2 0.2 0.2 0.2 0.2; ", {}},
        // Numeric node names are repaired and kept as names; a repaired name that clashes
        // takes a suffix.
        {"net { }\nnode 0 { label = \"\"; states = (\"a\" \"b\"); }\n"
         "node 1 { label = \"\"; states = (\"a\" \"b\"); }\n"
         "potential (0) { data = (0.5 0.5); }\n"
         "potential (1 | 0) { data = ((0.1 0.9) (0.2 0.8)); }\n", 0,
         "x0'0'(a b): 0.5 0.5; x1'1'(a b)|x0: 0.1 0.9 0.2 0.8; ", {}},
        {"node x1 { states = (\"a\" \"b\"); }\nnode 1 { states = (\"a\" \"b\"); }\n"
         "potential (x1) { data = (0.5 0.5); }\npotential (1 | x1) { data = ((0.3 0.7) (0.4 0.6)); "
         "}\n", 0, "x1(a b): 0.5 0.5; x12'1'(a b)|x1: 0.3 0.7 0.4 0.6; ", {}},
        // No net block; columns are normalised unless they sum to 1 up to rounding, which
        // would move the last digits.
        {ab + "node B { states = (\"x\" \"y\" \"z\"); }\npotential (A) { data = (0.1 0.9); }\n"
         "potential (B | A) { data = ((2 1 1) (0 0 0)); }\n", 0,
         "A(a b): 0.1 0.9; B(x y z)|A: 0.5 0.25 0.25 0.3333333333333333 0.3333333333333333 "
         "0.3333333333333333; ", {}},
        {"node A { states = (\"a\" \"b\" \"c\"); }\npotential (A) { data = (0.1 0.2 0.7); }\n", 0,
         "A(a b c): 0.1 0.2 0.7; ", {}},
        // A single state gets an impossible second outcome.
        {"node S { states = (\"only\"); }\nnode C { states = (\"a\" \"b\"); }\n"
         "potential (S) { data = (1.0); }\npotential (C | S) { data = ((0.3 0.7)); }\n", 0,
         "S(only State1): 1 0; C(a b)|S: 0.3 0.7 0.3 0.7; ", {}},
        // A table of the wrong length is refused whole, and the parents that go with it.
        {ab + "node B { states = (\"a\" \"b\"); }\npotential (A) { data = (0.5 0.5); }\n"
         "potential (B | A) { data = ((0.1 0.9) (0.2)); }\n", -2,
         "A(a b): 0.5 0.5; B(a b): 0.5 0.5; ",
         {"ERROR: Node (\"B\") : 3 values given, the table holds 4"}},
        {"continuous node X { states = (\"a\" \"b\"); }\nnode Y { states = (\"a\" \"b\"); }\n",
         -127, "X(a b): 0.5 0.5; Y(a b): 0.5 0.5; ",
         {"ERROR: : Continuous nodes not supported (yet)"}},
        // Faults inside potentials are reported and the rest is read.
        {abc + "potential (A B) { data = (0.5 0.5); }\npotential (Q) { data = (0.5 0.5); }\n"
         "potential (B | Nobody A) { data = ((0.1 0.9) (0.2 0.8)); }\n"
         "potential (C) { data = (0.4 0.6); samples = (1); }\n", -127,
         "A(a b): 0.5 0.5; B(a b)|A: 0.1 0.9 0.2 0.8; C(a b): 0.4 0.6; ",
         {"ERROR: Undirected arcs not (yet) supported", "ERROR: Node (\"Q\") not found",
         "ERROR: Couldn't add arc from parent node (\"Nobody\")",
         "ERROR: 'samples' : Unknown potential statement"}},
        {"discrete chance A { states = (\"a\" \"b\"); }\nclass B { }\n"
         "node C { states = (\"a\" \"b\"); }\n", -2, "C(a b): 0.5 0.5; ",
         {"ERROR: 'chance' : Unknown Node Type", "ERROR: 'class' : Unknown Node Type"}},
        {ab + "node A { states = (\"x\" \"y\" \"z\"); }\n", -2, "A(a b): 0.5 0.5; ",
         {"ERROR: Couldn't Create Node (\"A\")"}},
        // Bad statements are reported and skipped to their semicolon.
        {"node A { position = (1 2) label = \"x\"; states = (\"a\" \"b\"); note = 12; }\n", -127,
         "A(a b): 0.5 0.5; ", {"ERROR: 'label' : ';' expected", "ERROR: '12' : String expected"}},
        {"net { node_size = (10); }\nnode A { position = (5); states = (\"a\" \"b\"); }\n", -2,
         "A(a b): 0.5 0.5; ", {"ERROR: Wrong node size", "ERROR: Wrong position coordinates"}},
        // Files that end early.
        {"", -102, "", {}},
        {"net { }\n" + ab.substr(0, ab.size() - 3), -127, "A(a b): 0.5 0.5; ", {}},
        {"node A { label = \"never closed; }\n", -128, "A(State0 State1): 0.5 0.5; ",
         {"UNTERMINATED STRING"}},
        {"   \n  % only a comment\n", -127, "", {}},
        // clang-format on
    });
}

// The awkward model with string attributes of other tools and a node size.
TEST_F(HuginFormatTest, NetworkWrittenAndReadBackIsTheSame) {
    AwkwardModel model;
    ASSERT_NO_FATAL_FAILURE(BuildAwkwardModel(network, model));
    network.GetNode(model.b)->GetInfo()->properties.AddProperty("diagnosistype", "AUXILIARY");
    network.GetNode(model.b)->GetInfo()->properties.AddProperty("HR_Desc", "tab\there");
    QNL_rectangle& size = network.GetSubmodelHandler().GetDefaultNodeScreenInfo().position;
    size.width = 90;
    size.height = 44;
    QNL_network copy;
    ASSERT_NO_FATAL_FAILURE(ExpectWrittenAndReadBackTheSame(kEverything, copy));
    const QNL_rectangle& back = copy.GetSubmodelHandler().GetDefaultNodeScreenInfo().position;
    EXPECT_EQ(std::make_pair(90, 44), std::make_pair(back.width, back.height));
}

TEST_F(HuginFormatTest, WrittenFileHasTheHuginLayout) {
    const int a = AddNode(network, QNL_TYPE_CPT, "A", {"yes", "no"});
    const int b = AddNode(network, QNL_TYPE_CPT, "B", {"on", "off"});
    const int d = AddNode(network, QNL_TYPE_LIST, "D", {"x", "y"});
    ASSERT_EQ(0, network.AddArc(a, b));
    ASSERT_EQ(0, network.AddArc(d, b));
    SetValues(network, a, {0.2, 0.8});
    SetValues(network, b, {0.1, 0.9, 0.3, 0.7, 0.5, 0.5, 1, 0});
    network.GetNode(a)->GetInfo()->screen.position.y = 30;
    const std::string path = folder.File("layout.net");
    ASSERT_EQ(0, network.WriteFile(path.c_str(), QNL_FORMAT_HUGIN));
    EXPECT_EQ("net \n{\n    node_size = (76 36);\n}\n"
              "\nnode A\n{\n    label = \"A\";\n    position = (0 0);\n"
              "    states = (\"yes\"  \"no\");\n}\n"
              "\ndecision D\n{\n    label = \"D\";\n    position = (0 30);\n"
              "    states = (\"x\"  \"y\");\n}\n"
              "\nnode B\n{\n    label = \"B\";\n    position = (0 30);\n"
              "    states = (\"on\"  \"off\");\n}\n"
              "\npotential (A |)\n{\n    data = (0.20000000 0.80000000);\n}\n"
              "\npotential (D |)\n{\n}\n"
              "\npotential (B | A D)\n{\n    data = (((0.10000000 0.90000000)\n"
              "    (0.30000000 0.70000000))\n"
              "    ((0.50000000 0.50000000)\n"
              "    (1.00000000 0.00000000)));\n}\n",
              TempFolder::Get(path));
}

// The net block carries attributes of the tools that wrote a file: they are kept as user
// properties of the network, read without a message (which would be reported with the next
// failure), and written back.
TEST_F(HuginFormatTest, NetAttributesOfOtherToolsBecomeNetworkPropertiesWithoutAMessage) {
    const std::string expected = "name=Munin;tree=(A,B);UnBBayes_Color_Probabilistic_Description="
                                 "-256;software=x 1.0;";
    ASSERT_EQ(0, ReadText(Fixture("hostile/net_attributes.net")));
    EXPECT_EQ("", AllMessages());
    EXPECT_EQ(expected, Properties(network.GetUserProperties()));
    EXPECT_EQ(80, network.GetSubmodelHandler().GetDefaultNodeScreenInfo().position.width);
    QNL_network back;
    ASSERT_NO_FATAL_FAILURE(ExpectWrittenAndReadBackTheSame(kEverything, back));
    EXPECT_EQ(expected, Properties(back.GetUserProperties()));
    if (!HaveSharedNetworks()) GTEST_SKIP() << NoSharedNetworks();
    const std::string root = RealNetworks() + "/net/";
    // Each file with one of the properties it must keep.
    const std::pair<const char*, const char*> files[] = {
        {"asia_unbbayes.net", "name=Chest-clinic;"},
        {"asia_unbbayes.net", "UnBBayes_Color_Probabilistic_Description=-256;"},
        {"asia_agrum.net", "name=Asia;"},
        {"child_agrum.net", "software=aGrUM 1.9.0;"}};
    for (const auto& [file, properties] : files) {
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        ASSERT_EQ(0, net.ReadFile((root + file).c_str()));
        EXPECT_EQ("", AllMessages());
        EXPECT_NE(std::string::npos, Properties(net.GetUserProperties()).find(properties)) << file;
    }
}

} // namespace
