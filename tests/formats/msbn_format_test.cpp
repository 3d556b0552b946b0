#include "format_test_support.h"
#include "formats/format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The shared fixture, builders and network comparison.
using namespace format_test;

namespace {

class MsbnFormatTest : public FormatTest {
protected:
    MsbnFormatTest() : FormatTest("msbn", ".dsc") {}
};

const std::string kHeader = "belief network \"test\"\n"
                            "node A { type : discrete [ 2 ] = { \"a0\", \"a1\" }; }\n"
                            "node B { type : discrete [ 2 ] = { \"b0\", \"b1\" }; }\n"
                            "node C { type : discrete [ 3 ] = { \"c0\", \"c1\", \"c2\" }; }\n"
                            "probability ( A ) { 0.4, 0.6; }\n"
                            "probability ( B ) { 0.5, 0.5; }\n";
const std::string kAB = "A(a0 a1): 0.4 0.6; B(b0 b1): 0.5 0.5; ";

// Files as other tools write them, fixtures of faults, and hand-made faults: the code, what
// was read, and what was logged. A text starting with "@" names a fixture file.
TEST_F(MsbnFormatTest, FilesReadAsFarAsTheyAreSound) {
    const std::string rows = " {\n (0, 0) : 0.1, 0.2, 0.7;\n (1, 0) : 0.2, 0.3, 0.5;\n"
                             " (0, 1) : 0.3, 0.3, 0.4;\n (1, 1) : 1, 0, 0;\n}\n";
    // Rows are placed by their parent states, whatever order they come in.
    const std::string c = kAB + "C(c0 c1 c2)|A B: 0.1 0.2 0.7 0.3 0.3 0.4 0.2 0.3 0.5 1 0 0; ";
    const std::string uniformC = "C(c0 c1 c2)|A: ";
    auto table = [](const std::string& rows) {
        return kHeader + "probability ( C | A ) {\n" + rows +
               "}\nnode D { type : discrete [ 2 ] = { \"x\", \"y\" }; }\n";
    };
    const std::string withD = "; D(x y): 0.5 0.5; ";
    const std::string anyC = "C(c0 c1 c2)|A: 0.1 0.2 0.7 ";
    ExpectReads(
        {
            // clang-format off
        {"@umbrella.dsc", 0,
         "Weather'The \"weather\"'(sun rain): 0.7 0.3; Forecast(sunny cloudy rainy)|Weather: "
         "0.7 0.2 0.1 0.15 0.25 0.6; Umbrella[D](take leave)|Forecast; Comfort[U]|Umbrella "
         "Weather: 20 70 100 0; ", {}},
        // Parents separated by bars, commas or blanks are the same.
        {kHeader + "probability ( C | A, B )" + rows, 0, c, {}},
        {kHeader + "probability ( C A B )" + rows, 0, c, {}},
        // Without parent states the values fill the table from its start.
        {kHeader + "probability ( C | A ) { 0.1, 0.2, 0.7, 0.3, 0.3, 0.4; }\n", 0,
         kAB + uniformC + "0.1 0.2 0.7 0.3 0.3 0.4; ", {}},
        {kHeader + "utility ( C | A ) { (0) : -5; (1) : 12.5; }\n", 0, kAB + "C[U]|A: -5 12.5; ",
         {}},
        // State and node names are repaired into identifiers.
        {"belief network \"n\"\nnode 7 { name : \"seven\"; type : discrete [ 3 ] = "
         "{ \"0\", \"low risk\", \"Transp.\" }; }\nprobability ( 7 ) { 0.2, 0.3, 0.5; }\n", 0,
         "x7'seven'(x0 low_risk Transp_): 0.2 0.3 0.5; ", {}},
        // A header alone is an empty network (what the writer makes of one); a file without
        // its header fails instead of reading empty.
        {"belief network \"nothing\"\n", 0, "", {}},
        {"diagnostic network \"nothing\"\n", 0, "", {}},
        {"trouble network \"nothing\"\n", 0, "", {}},
        {"foo network \"x\"\nnode A { }\n", -127, "",
         {"(line 1) : ERROR: 'foo' : 'belief' expected"}},
        {"@ab_missing_network.dsc", -127, "", {"ERROR: 'node' : 'belief' expected"}},
        {"", -102, "", {}},
        {"\n\n// nothing but a comment\n", -127, "", {}},
        // Malformed tables: each is reported and the read fails; the statements around it
        // still read, rows stay where the file wrote them.
        {table("(0) : 0.1, 0.2, 0.7;\n(0) : 0.3, 0.3, 0.4;\n(1) : 0.3, 0.3, 0.4;\n"), -2, "...",
         {"ERROR: Node (\"C\") : Table entries given more than once"}},
        {table("(0) : 0.1, 0.2, 0.7;\n"), -2, kAB + anyC + "0.3333333333333333 "
         "0.3333333333333333 0.3333333333333333" + withD,
         {"ERROR: Node (\"C\") : Table entries missing"}},
        {table("(0) : 0.1, 0.2, 0.7;\n(1) : 0.3, 0.3;\n"), -2, "...",
         {"ERROR: Node (\"C\") : Table entries missing"}},
        {table("(0) : 0.1, 0.2, 0.7;\n(2) : 0.3, 0.3, 0.4;\n"), -2, "...",
         {"ERROR: Invalid coordinates"}},
        {table("(0) : 0.1, 0.2, 0.7;\n(-1) : 0.3, 0.3, 0.4;\n"), -2, "...",
         {"ERROR: Invalid coordinates"}},
        {table("(0, 0) : 0.1, 0.2, 0.7;\n(1) : 0.3, 0.3, 0.4;\n"), -2, "...",
         {"ERROR: Invalid coordinates"}},
        {table("(0) : 0.1, 0.2, 0.7;\n(1) : 0.3, 0.3, 0.4, 0.5;\n"), -2, "...",
         {"ERROR: Node (\"C\") : Values beyond the end of the table"}},
        {table("(0) : 0.1, 0.2, 0.6;\n(1) : 0.3, 0.3, 0.4;\n"), -2, "...",
         {"ERROR: Node (\"C\") : Probabilities do not sum to 1"}},
        {table("(0) : 0.1, x, 0.7;\n(1) : 0.3, 0.3, 0.4;\n"), -127, "...",
         {"ERROR: 'x' : Real Number expected"}},
        {table("D, 0.25;\n"), -127, "...", {"ERROR: 'D' : Real Number expected"}},
        // Malformed nodes: the rest of a node's block still counts.
        {"@ab_node_bad_num_values.dsc", -2, "...",
         {"ERROR: '3' : Size of list doesn't match number of outcomes. Using list size"}},
        {"@ab_duplicate_node_value.dsc", -2, "...", {"ERROR: '0' : State name given twice"}},
        {"belief network \"n\"\nnode A { type : continuous [ 2 ] = { \"a\", \"b\" }; }\n"
         "node B { type : discrete [ 2 ] = { 0, 1 }; position : (3, 4); }\n"
         "node C { colour : red; type : discrete [ '2' ] = { \"a\" }; }\n", -127, "...",
         {"ERROR: 'continuous' : 'discrete' expected", "ERROR: '0' : String expected",
         "ERROR: 'colour' : Unknown Node Statement", "ERROR: ''' : Expecting number of states"}},
        {kHeader + "probability ( X ) { 0.5, 0.5; }\nprobability ( C | A Y ) { 0.2, 0.3, 0.5; }\n"
         "table ( C ) { 1; }\nnode A { }\n", -2, kAB + uniformC + "...",
         {"ERROR: Node (\"X\") not found", "ERROR: Couldn't add arc from parent node (\"Y\")",
         "ERROR: 'table' : Unknown Object", "ERROR: Couldn't Create Node (\"A\")"}},
        {"@ab_cb.dsc", 0,
         "A(x0 x1): 0.7 0.3; B(x0 x1)|A C: 0.1 0.9 0.9 0.1 0.5 0.5 0.7 0.3; C(x0 x1): 0.2 0.8; ",
          {}},
        {"@ab_bad_cond_prob2.dsc", -2, "...", {}},
        {"@ab_bad_cond_prob5.dsc", -2, "...", {}},
        {"@ab_bad_prob1.dsc", -127, "...", {}},
            // clang-format on
        },
        "msbn");
}

TEST_F(MsbnFormatTest, FixturesKeepTheirDetails) {
    ASSERT_EQ(0, ReadText(Fixture("msbn/umbrella.dsc")));
    EXPECT_STREQ("Umbrella problem", network.GetHeader()->GetName());
    EXPECT_EQ(std::make_pair(100, 50),
              std::make_pair(Info("Weather").screen.position.x, Info("Weather").screen.position.y));
}

TEST_F(MsbnFormatTest, NetworkWrittenAndReadBackIsTheSame) {
    AwkwardModel model;
    ASSERT_NO_FATAL_FAILURE(BuildAwkwardModel(network, model));
    QNL_network copy;
    ASSERT_NO_FATAL_FAILURE(
        ExpectWrittenAndReadBackTheSame(Compared{true, true, true, false, true}, copy));
    EXPECT_STREQ("A \"quoted\" model", copy.GetHeader()->GetName());
}

TEST_F(MsbnFormatTest, WrittenFileHasTheMsbnLayout) {
    const int a = AddNode(network, QNL_TYPE_CPT, "A", {"yes", "no"});
    const int d = AddNode(network, QNL_TYPE_LIST, "D", {"x", "y"});
    const int u = AddNode(network, QNL_TYPE_TABLE, "U", {});
    ASSERT_EQ(0, network.AddArc(a, d));
    ASSERT_EQ(0, network.AddArc(a, u));
    ASSERT_EQ(0, network.AddArc(d, u));
    SetValues(network, a, {0.2, 0.8});
    SetValues(network, u, {1, 2, 3, 4});
    network.GetHeader()->SetName("");
    network.GetNode(a)->GetInfo()->screen.position.x = 10;
    network.GetNode(a)->GetInfo()->screen.position.y = 20;
    const std::string path = folder.File("layout.dsc");
    ASSERT_EQ(0, network.WriteFile(path.c_str(), QNL_FORMAT_MSBN));
    EXPECT_EQ("belief network \"_Unnamed_Network_\"\n"
              "\nnode A\n{\n    name : \"A\";\n    type : discrete[2] = \n    {\n"
              "        \"yes\",\n        \"no\"\n    };\n    position : (10, 20);\n}\n"
              "\nnode D\n{\n    name : \"D\";\n    type : discrete[2] = \n    {\n"
              "        \"x\",\n        \"y\"\n    };\n    position : (0, 0);\n"
              "    label : decision;\n}\n"
              "\nnode U\n{\n    name : \"U\";\n    position : (0, 0);\n    label : utility;\n}\n"
              "\nprobability (A)\n{\n    0.20000000, 0.80000000;\n}\n"
              "\ninformation (D | A);\n\n"
              "\nutility (U | A, D)\n{\n    (0, 0) : 1.00000000;\n    (0, 1) : 2.00000000;\n"
              "    (1, 0) : 3.00000000;\n    (1, 1) : 4.00000000;\n}\n",
              TempFolder::Get(path));
}

} // namespace
