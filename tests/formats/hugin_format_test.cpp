#include "formats/hugin_format.h"

#include "format_test_support.h"
#include "formats/format.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"
#include "model/submodel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// The shared fixture, builders and network comparison.
using namespace format_test;

namespace {

class HuginFormatTest : public format_test::FormatTest {
protected:
    HuginFormatTest() : FormatTest("hugin", ".net") {}
};

const char* const kInfluenceDiagram = R"(net
{
    node_size = (80 40);
    HR_Grid_X = "10";
}

node Weather
{
    label = "The weather";
    position = (100 50);
    states = ("sun" "rain");
    diagnosistype = "AUXILIARY";
}

decision Umbrella
{
    label = "Umbrella";
    position = (200 150);
    states = ("take" "leave");
}

utility Comfort
{
    position = (300 100);
}

potential (Weather) { data = ( 0.7 0.3 ); }

potential (Umbrella | Weather) {}

potential (Comfort | Umbrella Weather)
{
    data = (( 20    % take  sun
              70 )  % take  rain
            ( 100 0 ));
}
)";

TEST_F(HuginFormatTest, ReadsChanceDecisionAndUtilityNodes) {
    ASSERT_EQ(0, ReadText(kInfluenceDiagram));
    ASSERT_EQ(3, network.GetNumberOfNodes());
    EXPECT_EQ(QNL_TYPE_CPT, network.GetNode(Node("Weather"))->GetType());
    EXPECT_EQ(QNL_TYPE_LIST, network.GetNode(Node("Umbrella"))->GetType());
    EXPECT_EQ(QNL_TYPE_TABLE, network.GetNode(Node("Comfort"))->GetType());

    EXPECT_STREQ("The weather", Info("Weather").header.GetName());
    EXPECT_STREQ("Comfort", Info("Comfort").header.GetName()); // no label: the identifier
    ASSERT_EQ(1, Info("Weather").properties.GetNumberOfProperties());
    EXPECT_STREQ("diagnosistype", Info("Weather").properties.GetName(0));
    EXPECT_STREQ("AUXILIARY", Info("Weather").properties.GetValue(0));

    EXPECT_EQ((std::vector<std::string>{"sun", "rain"}), Outcomes("Weather"));
    EXPECT_EQ((std::vector<double>{0.7, 0.3}), Table("Weather"));
    ASSERT_EQ(1, network.NumberOfParents(Node("Umbrella")));
    EXPECT_EQ(Node("Weather"), network.GetParents(Node("Umbrella"))[0]);
    // Utilities are not probabilities: they arrive as written, parents in the file's order.
    EXPECT_EQ(Node("Umbrella"), network.GetParents(Node("Comfort"))[0]);
    EXPECT_EQ((std::vector<double>{20, 70, 100, 0}), Table("Comfort"));

    const QNL_rectangle& size = network.GetSubmodelHandler().GetDefaultNodeScreenInfo().position;
    EXPECT_EQ(80, size.width);
    EXPECT_EQ(40, size.height);
}

TEST_F(HuginFormatTest, VerticalAxisIsMirroredWithinTheOccupiedRange) {
    ASSERT_EQ(0, ReadText(kInfluenceDiagram));
    // File heights 50, 150 and 100 span 50..150; the mirror keeps that span.
    EXPECT_EQ(100, Info("Weather").screen.position.x);
    EXPECT_EQ(150, Info("Weather").screen.position.y);
    EXPECT_EQ(50, Info("Umbrella").screen.position.y);
    EXPECT_EQ(100, Info("Comfort").screen.position.y);
}

TEST_F(HuginFormatTest, WindowsAndOldMacLineEndsReadAlike) {
    std::string crlf;
    std::string cr;
    for (char c : std::string(kInfluenceDiagram)) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        cr += c == '\n' ? '\r' : c;
    }
    QNL_network fromCrlf;
    QNL_network fromCr;
    ASSERT_EQ(0, ReadText(kInfluenceDiagram));
    ASSERT_EQ(0, ReadText(crlf, fromCrlf));
    ASSERT_EQ(0, ReadText(cr, fromCr));
    Compared all{true, true, true, true, true};
    EXPECT_TRUE(SameNetworks(network, fromCrlf, all));
    EXPECT_TRUE(SameNetworks(network, fromCr, all));
}

TEST_F(HuginFormatTest, UnquotedStatesKeepTheirWholeNames) {
    // As some writers leave them: a point, a leading underscore, a "%" that is no comment.
    ASSERT_EQ(0, ReadText("node A {\n"
                          "   states = (Transp. _7.5 _7.5_ 0_5___1_% 12 );  label = \"after\";\n"
                          "}\n"
                          "potential (A) { data = (1 1 1 1 1); }\n"));
    EXPECT_EQ((std::vector<std::string>{"Transp_", "x_7_5", "x_7_5_", "x0_5___1__", "x12"}),
              Outcomes("A"));
    EXPECT_STREQ("after", Info("A").header.GetName());
    EXPECT_EQ((std::vector<double>(5, 0.2)), Table("A"));
}

TEST_F(HuginFormatTest, NumericNodeNamesAreRepairedAndKeptAsNames) {
    ASSERT_EQ(0, ReadText("net { }\n"
                          "node 0 { label = \"\"; states = (\"a\" \"b\"); }\n"
                          "node 1 { label = \"\"; states = (\"a\" \"b\"); }\n"
                          "potential (0) { data = (0.5 0.5); }\n"
                          "potential (1 | 0) { data = ((0.1 0.9) (0.2 0.8)); }\n"));
    ASSERT_GE(Node("x0"), 0);
    ASSERT_GE(Node("x1"), 0);
    EXPECT_STREQ("0", Info("x0").header.GetName());
    EXPECT_STREQ("1", Info("x1").header.GetName());
    ASSERT_EQ(1, network.NumberOfParents(Node("x1")));
    EXPECT_EQ(Node("x0"), network.GetParents(Node("x1"))[0]);
    EXPECT_EQ((std::vector<double>{0.1, 0.9, 0.2, 0.8}), Table("x1"));
}

TEST_F(HuginFormatTest, RepairedNameThatClashesTakesASuffix) {
    ASSERT_EQ(0, ReadText("node x1 { states = (\"a\" \"b\"); }\n"
                          "node 1 { states = (\"a\" \"b\"); }\n"
                          "potential (x1) { data = (0.5 0.5); }\n"
                          "potential (1 | x1) { data = ((0.3 0.7) (0.4 0.6)); }\n"));
    ASSERT_GE(Node("x12"), 0);
    EXPECT_STREQ("1", Info("x12").header.GetName());
    EXPECT_EQ(Node("x1"), network.GetParents(Node("x12"))[0]);
}

TEST_F(HuginFormatTest, FileWithoutNetBlockReads) {
    ASSERT_EQ(0, ReadText("node A { states = (\"a\" \"b\"); }\n"
                          "potential (A) { data = (0.25 0.75); }\n"));
    EXPECT_EQ((std::vector<double>{0.25, 0.75}), Table("A"));
}

TEST_F(HuginFormatTest, ProbabilityColumnsAreNormalised) {
    ASSERT_EQ(0, ReadText("node A { states = (\"a\" \"b\"); }\n"
                          "node B { states = (\"x\" \"y\" \"z\"); }\n"
                          "potential (A) { data = (0.5 0.5); }\n"
                          "potential (B | A) { data = ((2 1 1) (0 0 0)); }\n"));
    EXPECT_EQ((std::vector<double>{0.5, 0.25, 0.25, 1.0 / 3, 1.0 / 3, 1.0 / 3}), Table("B"));
}

TEST_F(HuginFormatTest, ColumnsThatSumToOneUpToRoundingKeepEveryDigit) {
    // 0.1 + 0.2 + 0.7 is not exactly 1 in binary; dividing by it would move the last digits.
    ASSERT_EQ(0, ReadText("node A { states = (\"a\" \"b\" \"c\"); }\n"
                          "potential (A) { data = (0.1 0.2 0.7); }\n"));
    EXPECT_EQ((std::vector<double>{0.1, 0.2, 0.7}), Table("A"));
}

TEST_F(HuginFormatTest, TableOfTheWrongLengthIsRefusedWhole) {
    EXPECT_EQ(-2, ReadText("node A { states = (\"a\" \"b\"); }\n"
                           "node B { states = (\"a\" \"b\"); }\n"
                           "potential (A) { data = (0.5 0.5); }\n"
                           "potential (B | A) { data = ((0.1 0.9) (0.2)); }\n"));
    EXPECT_TRUE(Logged("ERROR: Node (\"B\") : 3 values given, the table holds 4"));
    // The parents go with the table: a few numbers under many parents allocate nothing.
    EXPECT_EQ(0, network.GetParents(Node("B")).GetCount());
    EXPECT_EQ((std::vector<double>{0.5, 0.5}), Table("B"));
}

TEST_F(HuginFormatTest, SingleStateNodeGetsAnImpossibleSecondOutcome) {
    ASSERT_EQ(0, ReadText("node S { states = (\"only\"); }\n"
                          "node C { states = (\"a\" \"b\"); }\n"
                          "potential (S) { data = (1.0); }\n"
                          "potential (C | S) { data = ((0.3 0.7)); }\n"));
    ASSERT_EQ(2, Definition("S")->GetNumberOfOutcomes());
    EXPECT_EQ("only", Outcomes("S")[0]);
    EXPECT_EQ((std::vector<double>{1.0, 0.0}), Table("S"));
    EXPECT_EQ((std::vector<double>{0.3, 0.7, 0.3, 0.7}), Table("C"));
}

TEST_F(HuginFormatTest, ContinuousNodeIsReportedAndReadAsDiscrete) {
    EXPECT_EQ(-127, ReadText("continuous node X { states = (\"a\" \"b\"); }\n"
                             "node Y { states = (\"a\" \"b\"); }\n"));
    EXPECT_TRUE(Logged("ERROR: : Continuous nodes not supported (yet)"));
    EXPECT_EQ(QNL_TYPE_CPT, network.GetNode(Node("X"))->GetType());
    EXPECT_GE(Node("Y"), 0);
}

TEST_F(HuginFormatTest, FaultsInsidePotentialsAreReportedAndTheRestIsRead) {
    const int result = ReadText("node A { states = (\"a\" \"b\"); }\n"
                                "node B { states = (\"a\" \"b\"); }\n"
                                "node C { states = (\"a\" \"b\"); }\n"
                                "potential (A B) { data = (0.5 0.5); }\n"
                                "potential (Q) { data = (0.5 0.5); }\n"
                                "potential (B | Nobody A) { data = ((0.1 0.9) (0.2 0.8)); }\n"
                                "potential (C) { data = (0.4 0.6); samples = (1); }\n");
    EXPECT_NE(0, result);
    EXPECT_TRUE(Logged("ERROR: Undirected arcs not (yet) supported"));
    EXPECT_TRUE(Logged("ERROR: Node (\"Q\") not found"));
    EXPECT_TRUE(Logged("ERROR: Couldn't add arc from parent node (\"Nobody\")"));
    EXPECT_TRUE(Logged("ERROR: 'samples' : Unknown potential statement"));
    EXPECT_EQ(Node("A"), network.GetParents(Node("B"))[0]);
    EXPECT_EQ((std::vector<double>{0.1, 0.9, 0.2, 0.8}), Table("B"));
    EXPECT_EQ((std::vector<double>{0.4, 0.6}), Table("C"));
}

TEST_F(HuginFormatTest, UnknownNodeKindAndTopLevelWordsAreReported) {
    EXPECT_NE(0, ReadText("discrete chance A { states = (\"a\" \"b\"); }\n"
                          "class B { }\n"
                          "node C { states = (\"a\" \"b\"); }\n"));
    EXPECT_TRUE(Logged("ERROR: 'chance' : Unknown Node Type"));
    EXPECT_TRUE(Logged("ERROR: 'class' : Unknown Node Type"));
    EXPECT_EQ(1, network.GetNumberOfNodes());
    EXPECT_GE(Node("C"), 0);
}

TEST_F(HuginFormatTest, DuplicateNodeIsReported) {
    EXPECT_NE(0, ReadText("node A { states = (\"a\" \"b\"); }\n"
                          "node A { states = (\"x\" \"y\" \"z\"); }\n"));
    EXPECT_TRUE(Logged("ERROR: Couldn't Create Node (\"A\")"));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Outcomes("A"));
}

TEST_F(HuginFormatTest, BadStatementsAreReportedAndSkippedToTheirSemicolon) {
    EXPECT_EQ(-127, ReadText("node A { position = (1 2) label = \"x\"; states = (\"a\" \"b\"); "
                             "note = 12; }\n"));
    EXPECT_TRUE(Logged("ERROR: 'label' : ';' expected"));
    EXPECT_TRUE(Logged("ERROR: '12' : String expected"));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Outcomes("A"));
    EXPECT_EQ(0, Info("A").properties.GetNumberOfProperties());
}

TEST_F(HuginFormatTest, ShortPositionAndNodeSizeAreReported) {
    EXPECT_EQ(-2, ReadText("net { node_size = (10); }\n"
                           "node A { position = (5); states = (\"a\" \"b\"); }\n"));
    EXPECT_TRUE(Logged("ERROR: Wrong node size"));
    EXPECT_TRUE(Logged("ERROR: Wrong position coordinates"));
}

TEST_F(HuginFormatTest, FilesThatEndEarlyOrCannotBeReadFail) {
    EXPECT_EQ(-102, ReadText(""));
    EXPECT_NE(0, ReadText("net { }\nnode A { states = (\"a\" \"b\");"));
    EXPECT_NE(0, ReadText("node A { label = \"never closed; }\n"));
    EXPECT_TRUE(Logged("UNTERMINATED STRING"));
    EXPECT_NE(0, ReadText("   \n  % only a comment\n"));

    QNL_errorHandler::Instance().Flush();
    QNL_huginFormat format(&network);
    EXPECT_EQ(-103, format.Read(folder.File("absent.net").c_str()));
    EXPECT_TRUE(Logged("OPEN FILE FAILED"));
}

// ---------------------------------------------------------------------------------------
// Writing

// A small influence diagram with the awkward parts: digits that "%.8f" would lose, a name
// with quotes and a backslash, negative and positive heights, a string attribute.
void BuildModel(QNL_network& net) {
    format_test::AwkwardModel model;
    ASSERT_NO_FATAL_FAILURE(format_test::BuildAwkwardModel(net, model));
    const auto [a, d, b, u] = model;
    net.GetNode(a)->GetInfo()->header.SetName("Level \"A\" \\ with quotes");
    net.GetNode(b)->GetInfo()->properties.AddProperty("diagnosistype", "AUXILIARY");
    net.GetNode(b)->GetInfo()->properties.AddProperty("HR_Desc", "tab\there");
    const int ys[] = {-40, 300, 75, 120};
    const int nodes[] = {a, d, b, u};
    for (int i = 0; i < 4; ++i) {
        net.GetNode(nodes[i])->GetInfo()->screen.position.x = 10 * i + 5;
        net.GetNode(nodes[i])->GetInfo()->screen.position.y = ys[i];
    }
    net.GetSubmodelHandler().GetDefaultNodeScreenInfo().position.width = 90;
    net.GetSubmodelHandler().GetDefaultNodeScreenInfo().position.height = 44;
}

TEST_F(HuginFormatTest, NetworkWrittenAndReadBackIsTheSame) {
    BuildModel(network);
    QNL_network copy;
    ASSERT_NO_FATAL_FAILURE(
        ExpectWrittenAndReadBackTheSame(Compared{true, true, true, true, true}, copy));
    const QNL_rectangle& size = copy.GetSubmodelHandler().GetDefaultNodeScreenInfo().position;
    EXPECT_EQ(90, size.width);
    EXPECT_EQ(44, size.height);
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
              format_test::TempFolder::Get(path));
}

TEST_F(HuginFormatTest, TruthTableIsWrittenAsAProbabilityTable) {
    ExpectTruthTableWrittenAsProbabilityTable();
}

TEST_F(HuginFormatTest, MultiAttributeUtilityIsRefusedBeforeTheFileIsTouched) {
    ExpectMultiAttributeUtilityRefused("ERROR: This Network cannot be saved in Hugin format");
}

TEST_F(HuginFormatTest, NodeTypeWithoutAHuginKindIsRefusedBeforeTheFileIsTouched) {
    ExpectEquationNodeRefused("ERROR: 'E' : Node type not supported by Hugin");
}

// ---------------------------------------------------------------------------------------
// Real files

class HuginRealFilesTest : public HuginFormatTest {
protected:
    void SetUp() override {
        HuginFormatTest::SetUp();
        folderPath = format_test::SharedNetworks() + "/net";
        if (!std::filesystem::is_directory(folderPath)) GTEST_SKIP() << "no " << folderPath;
        index = format_test::ReadIndex(format_test::SharedNetworks() + "/INDEX.md");
        for (const auto& entry : std::filesystem::directory_iterator(folderPath))
            if (entry.path().extension() == ".net") files.push_back(entry.path().filename());
        std::sort(files.begin(), files.end());
    }

    std::string folderPath;
    std::map<std::string, format_test::IndexEntry> index;
    std::vector<std::string> files;
};

TEST_F(HuginRealFilesTest, EveryFileReadsWithTheCountsOfTheIndex) {
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        ASSERT_EQ(0, net.ReadFile((folderPath + "/" + file).c_str()));
        auto entry = index.find("net/" + file);
        ASSERT_NE(index.end(), entry);
        EXPECT_EQ(entry->second.nodes, net.GetNumberOfNodes());
        EXPECT_EQ(entry->second.arcs, format_test::CountArcs(net));
        std::map<std::string, int> kinds;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
            const int type = net.GetNode(h)->GetType();
            ++kinds[type == QNL_TYPE_LIST    ? "decision"
                    : type == QNL_TYPE_TABLE ? "utility"
                                             : "chance"];
            EXPECT_TRUE(net.GetNode(h)->IsValid());
            EXPECT_TRUE(net.GetNode(h)->GetDefinition()->IsReady()) << net.GetNode(h)->GetId();
        }
        EXPECT_EQ(entry->second.kinds, kinds);
    }
}

TEST_F(HuginRealFilesTest, EveryFileSurvivesAWriteAndARead) {
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        // The few multi-megabyte tables add time, not cases.
        if (std::filesystem::file_size(folderPath + "/" + file) > 1000000) continue;
        ASSERT_NO_FATAL_FAILURE(format_test::ExpectSurvivesAWriteAndARead(
            folderPath + "/" + file, folder.File("copy.net"),
            Compared{true, true, true, true, true}));
    }
}

TEST_F(HuginRealFilesTest, UnquotedStatesReadAsTheirQuotedTwins) {
    // aGrUM leaves states unquoted; the bnlearn files of the same networks quote them.
    const std::pair<const char*, const char*> twins[] = {{"alarm_noheader", "alarm_agrum"},
                                                         {"asia", "asia_agrum"},
                                                         {"hailfinder", "hailfinder_agrum"},
                                                         {"insurance", "insurance_agrum"}};
    for (const auto& twin : twins) {
        SCOPED_TRACE(twin.second);
        QNL_network quoted;
        QNL_network bare;
        ASSERT_EQ(0, quoted.ReadFile((folderPath + "/" + twin.first + ".net").c_str()));
        ASSERT_EQ(0, bare.ReadFile((folderPath + "/" + twin.second + ".net").c_str()));
        EXPECT_TRUE(SameNetworks(quoted, bare, Compared{false}));
    }
}

} // namespace
