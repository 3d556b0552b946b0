#include "formats/xmlbif_format.h"

#include "definitions/cpt.h"
#include "definitions/list.h"
#include "definitions/table.h"
#include "formats/format.h"
#include "formats/number_text.h"
#include "formats/xml/xml_reader.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "quarn_xmlbif_" + name;
}

std::string WriteTemp(const std::string& name, const std::string& content) {
    const std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string FileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string AllMessages() {
    std::string all;
    QNL_errorHandler& errors = QNL_errorHandler::Instance();
    for (int i = 0; i < errors.GetNumberOfErrors(); ++i) {
        all += errors.GetMessage(i);
        all += '\n';
    }
    return all;
}

// Reads a written file with expat (through the library's XML reading framework) and keeps
// the PROPERTY texts as expat decodes them.
class ExpatCheck : public QNL_xmlReader {
public:
    std::vector<std::string> properties;

    ExpatCheck() {
        using Flags = QNL_xmlElementHandler;
        using Callbacks = quarn::detail::XmlMemberCallbacks<ExpatCheck>;
        root = CreateElement(nullptr, "BIF", Flags::LENIENT);
        auto* network = CreateElement(nullptr, "NETWORK", Flags::INHERIT);
        auto* variable = CreateElement(nullptr, "VARIABLE", Flags::INHERIT);
        auto* property =
            CreateElement(std::make_unique<Callbacks>(this, nullptr, &ExpatCheck::PropertyEnd),
                          "PROPERTY", Flags::INHERIT);
        root->AddAttribute("VERSION", 0);
        variable->AddAttribute("TYPE", 0);
        root->AddChild(network, Flags::MULTIPLE);
        network->AddChild(variable, Flags::MULTIPLE);
        network->AddChild(property, Flags::MULTIPLE);
        variable->AddChild(property, Flags::MULTIPLE);
    }

    // Empty when expat finds the document well formed, else the logged complaint.
    std::string Complaint(const std::string& path) {
        QNL_errorHandler::Instance().Flush();
        QNL_xmlErrorSink sink(path);
        const bool read = ReadFile(path.c_str(), root, &sink);
        std::string complaint;
        QNL_errorHandler& errors = QNL_errorHandler::Instance();
        for (int i = 0; !read && i < errors.GetNumberOfErrors(); ++i)
            if (errors.GetCode(i) == -103) complaint += errors.GetMessage(i);
        errors.Flush();
        return read ? "" : complaint + " ";
    }

private:
    void PropertyEnd(QNL_xmlReader& reader) { properties.push_back(reader.GetText()); }

    QNL_xmlElementHandler* root;
};

std::string ExpatComplaint(const std::string& path) {
    return ExpatCheck().Complaint(path);
}

int ReadXmlbif(QNL_network& net, const std::string& path) {
    return net.ReadFile(path.c_str(), QNL_FORMAT_XMLBIF);
}

int Find(const QNL_network& net, const char* id) {
    return net.FindNode(id);
}

std::vector<std::string> Outcomes(const QNL_network& net, int node) {
    std::vector<std::string> out;
    const QNL_idArray* ids = net.GetNode(node)->GetDefinition()->GetOutcomeIds();
    for (int i = 0; ids != nullptr && i < ids->GetCount(); ++i)
        out.push_back(ids->GetString(i));
    return out;
}

std::vector<std::string> ParentIds(const QNL_network& net, int node) {
    std::vector<std::string> out;
    const QNL_intArray& parents = net.GetParents(node);
    for (int i = 0; i < parents.GetCount(); ++i)
        out.push_back(net.GetNode(parents[i])->GetId());
    return out;
}

std::vector<double> Values(const QNL_network& net, int node) {
    QNL_doubleArray values;
    std::vector<double> out;
    if (net.GetNode(node)->GetDefinition()->GetDefinition(values) == 0)
        for (int i = 0; i < values.GetCount(); ++i)
            out.push_back(values[i]);
    return out;
}

std::string Name(const QNL_network& net, int node) {
    const char* name = net.GetNode(node)->GetInfo()->header.GetName();
    return name != nullptr ? name : "";
}

std::map<std::string, std::string> Properties(const QNL_userProperties& properties) {
    std::map<std::string, std::string> out;
    for (int i = 0; i < properties.GetNumberOfProperties(); ++i)
        out[properties.GetName(i)] = properties.GetValue(i);
    return out;
}

// Everything the format carries must be the same in both networks, tables bit for bit.
void ExpectSameModel(const QNL_network& a, const QNL_network& b) {
    ASSERT_EQ(a.GetNumberOfNodes(), b.GetNumberOfNodes());
    EXPECT_STREQ(a.GetHeader()->GetId(), b.GetHeader()->GetId());
    EXPECT_EQ(std::string(a.GetHeader()->GetName() ? a.GetHeader()->GetName() : ""),
              std::string(b.GetHeader()->GetName() ? b.GetHeader()->GetName() : ""));
    EXPECT_EQ(Properties(const_cast<QNL_network&>(a).GetUserProperties()),
              Properties(const_cast<QNL_network&>(b).GetUserProperties()));
    for (int h = a.GetFirstNode(); h >= 0; h = a.GetNextNode(h)) {
        const char* id = a.GetNode(h)->GetId();
        SCOPED_TRACE(id);
        const int other = b.FindNode(id);
        ASSERT_GE(other, 0);
        EXPECT_EQ(a.GetNode(h)->GetType(), b.GetNode(other)->GetType());
        EXPECT_EQ(Name(a, h), Name(b, other));
        EXPECT_EQ(Outcomes(a, h), Outcomes(b, other));
        EXPECT_EQ(ParentIds(a, h), ParentIds(b, other));
        const std::vector<double> va = Values(a, h);
        const std::vector<double> vb = Values(b, other);
        ASSERT_EQ(va.size(), vb.size());
        for (std::size_t i = 0; i < va.size(); ++i)
            EXPECT_EQ(0, std::memcmp(&va[i], &vb[i], sizeof(double))) << i;
        const QNL_nodeInfo* ia = a.GetNode(h)->GetInfo();
        const QNL_nodeInfo* ib = b.GetNode(other)->GetInfo();
        EXPECT_EQ(ia->screen.position.x, ib->screen.position.x);
        EXPECT_EQ(ia->screen.position.y, ib->screen.position.y);
        EXPECT_EQ(Properties(ia->properties), Properties(ib->properties));
    }
}

class XmlbifFormatTest : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }

    static std::string Shared(const std::string& relative) {
        return std::string(QUARN_SHARED_DIR) + "/" + relative;
    }
    static bool HaveShared() { return fs::is_directory(Shared("data/networks/xmlbif")); }

    // A document around the given NETWORK content.
    static std::string Document(const std::string& content) {
        return "<?xml version=\"1.0\"?>\n<BIF VERSION=\"0.3\">\n<NETWORK>\n" + content +
               "</NETWORK>\n</BIF>\n";
    }
    static std::string Variable(const std::string& name, int outcomes = 2,
                                const std::string& type = "nature") {
        std::string text = "<VARIABLE TYPE=\"" + type + "\"><NAME>" + name + "</NAME>";
        for (int i = 0; i < outcomes; ++i)
            text += "<OUTCOME>s" + std::to_string(i) + "</OUTCOME>";
        return text + "</VARIABLE>\n";
    }
};

// The counts INDEX.md gives for every XMLBIF file: nodes, arcs and node kinds.
struct IndexRow {
    std::string file;
    bool current;
    int nodes;
    int arcs;
    std::map<std::string, int> kinds;
};

std::vector<IndexRow> XmlbifIndexRows(const std::string& index) {
    std::vector<IndexRow> rows;
    std::ifstream in(index);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("| shared/data/networks/xmlbif/", 0) != 0) continue;
        std::vector<std::string> cells;
        std::stringstream split(line.substr(1));
        std::string cell;
        while (std::getline(split, cell, '|')) {
            const auto first = cell.find_first_not_of(' ');
            const auto last = cell.find_last_not_of(' ');
            cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
        }
        IndexRow row{cells[0].substr(std::strlen("shared/")),
                     cells[1] == "XMLBIF 0.3",
                     std::stoi(cells[2]),
                     std::stoi(cells[3]),
                     {}};
        std::stringstream kinds(cells[4]);
        std::string kind;
        while (std::getline(kinds, kind, ',')) {
            std::stringstream words(kind);
            int count = 0;
            std::string word;
            words >> count >> word;
            row.kinds[word] = count;
        }
        rows.push_back(row);
    }
    return rows;
}

TEST_F(XmlbifFormatTest, EveryRealFileReadsWithItsIndexCounts) {
    if (!HaveShared()) GTEST_SKIP() << "no shared model files";
    const std::vector<IndexRow> rows = XmlbifIndexRows(Shared("data/networks/INDEX.md"));
    ASSERT_EQ(rows.size(), 23u);
    for (const IndexRow& row : rows) {
        SCOPED_TRACE(row.file);
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        const int result = ReadXmlbif(net, Shared(row.file));
        if (!row.current) {
            // The older element set has no VERSION="0.3": refused, never half read.
            EXPECT_EQ(result, -2);
            EXPECT_NE(AllMessages().find("ERROR: Incorrect BIF Version"), std::string::npos);
            EXPECT_EQ(net.GetNumberOfNodes(), 0);
            continue;
        }
        ASSERT_EQ(result, 0) << AllMessages();
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0) << AllMessages();
        EXPECT_EQ(net.GetNumberOfNodes(), row.nodes);
        int arcs = 0;
        std::map<std::string, int> kinds;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
            arcs += net.NumberOfParents(h);
            const int type = net.GetNode(h)->GetType();
            ++kinds[type == QNL_TYPE_CPT    ? "chance"
                    : type == QNL_TYPE_LIST ? "decision"
                                            : "utility"];
            if (type == QNL_TYPE_CPT) {
                EXPECT_GE(Outcomes(net, h).size(), 2u);
                EXPECT_EQ(net.GetNode(h)->CheckReadiness(1), 0) << net.GetNode(h)->GetId();
            }
        }
        EXPECT_EQ(arcs, row.arcs);
        EXPECT_EQ(kinds, row.kinds);
    }
}

TEST_F(XmlbifFormatTest, RealFileKeepsOutcomeOrderParentOrderAndTableLayout) {
    if (!HaveShared()) GTEST_SKIP() << "no shared model files";
    QNL_network net;
    ASSERT_EQ(ReadXmlbif(net, Shared("data/networks/xmlbif/asia.xml")), 0) << AllMessages();
    EXPECT_STREQ(net.GetHeader()->GetId(), "Asia");
    const int dysp = Find(net, "dysp");
    ASSERT_GE(dysp, 0);
    EXPECT_EQ(Outcomes(net, dysp), (std::vector<std::string>{"yes", "no"}));
    EXPECT_EQ(ParentIds(net, dysp), (std::vector<std::string>{"bronc", "either"}));
    // The last GIVEN varies fastest, the node's own outcomes fastest of all.
    EXPECT_EQ(Values(net, dysp), (std::vector<double>{0.9, 0.1, 0.8, 0.2, 0.7, 0.3, 0.1, 0.9}));
}

TEST_F(XmlbifFormatTest, InfluenceDiagramGetsDecisionAndUtilityNodes) {
    if (!HaveShared()) GTEST_SKIP() << "no shared model files";
    QNL_network net;
    ASSERT_EQ(ReadXmlbif(net, Shared("data/networks/xmlbif/oil_wildcatter_id.xml")), 0)
        << AllMessages();
    // The file has no NAME: the network keeps the name it had.
    EXPECT_STREQ(net.GetHeader()->GetId(), "Unnamed");
    const int drilling = Find(net, "Drilling");
    const int reward = Find(net, "Reward");
    ASSERT_GE(drilling, 0);
    ASSERT_GE(reward, 0);
    EXPECT_EQ(net.GetNode(drilling)->GetType(), QNL_TYPE_LIST);
    EXPECT_EQ(ParentIds(net, drilling), (std::vector<std::string>{"TestResult", "Testing"}));
    EXPECT_EQ(net.GetNode(reward)->GetType(), QNL_TYPE_TABLE);
    EXPECT_EQ(Values(net, reward), (std::vector<double>{-70, 0, 50, 0, 200, 0}));
    // Free-text properties ("Drill") are neither names nor user properties.
    EXPECT_EQ(Name(net, drilling), "Drilling");
    EXPECT_EQ(net.GetNode(drilling)->GetInfo()->properties.GetNumberOfProperties(), 0);
}

TEST_F(XmlbifFormatTest, ForeignNamesAreRepairedAndKeptAsNames) {
    QNL_network net;
    ASSERT_EQ(ReadXmlbif(net, std::string(QUARN_TEST_DATA_DIR) + "/xmlbif/foreign_names.xml03"), 0)
        << AllMessages();
    EXPECT_STREQ(net.GetHeader()->GetName(), "Dog problem & friends");
    EXPECT_STREQ(net.GetHeader()->GetId(), "Dog_problem___friends");
    EXPECT_EQ(Properties(net.GetUserProperties()),
              (std::map<std::string, std::string>{{"author", "Someone"}}));
    // The VARIABLE inside the unknown extension element is skipped with it.
    ASSERT_EQ(net.GetNumberOfNodes(), 3);
    EXPECT_LT(Find(net, "ghost"), 0);

    const int light = Find(net, "light_on");
    const int numbered = Find(net, "light_on2");
    const int size = Find(net, "Gr____e__cm_");
    ASSERT_GE(light, 0);
    ASSERT_GE(numbered, 0);
    ASSERT_GE(size, 0);
    EXPECT_EQ(net.GetNode(light)->GetType(), QNL_TYPE_CPT); // no TYPE attribute
    EXPECT_EQ(Name(net, light), "light-on");
    EXPECT_EQ(Name(net, numbered), "light_on");
    EXPECT_EQ(Name(net, size), "Gr\xC3\xB6\xC3\x9F"
                               "e <cm>");
    EXPECT_EQ(Outcomes(net, numbered), (std::vector<std::string>{"x0", "x1", "x12"}));
    EXPECT_EQ(Outcomes(net, size), (std::vector<std::string>{"small_5", "big"}));
    EXPECT_EQ(net.GetNode(light)->GetInfo()->screen.position.x, 73);
    EXPECT_EQ(net.GetNode(light)->GetInfo()->screen.position.y, 165);
    EXPECT_EQ(Properties(net.GetNode(size)->GetInfo()->properties),
              (std::map<std::string, std::string>{{"note", "\"quoted\" \\ back // slash"}}));

    EXPECT_EQ(ParentIds(net, size), (std::vector<std::string>{"light_on2", "light_on"}));
    EXPECT_EQ(Values(net, numbered), (std::vector<double>{0.1, 0.2, 0.7, 0.25, 0.25, 0.5}));
    EXPECT_EQ(Values(net, size).size(), 12u);
    EXPECT_EQ(Values(net, size)[11], 0.94);
}

TEST_F(XmlbifFormatTest, VariablesKeepTheirIdsWhenTheNetworkSharesTheName) {
    // The network's identifier before the read and the file's NAME both give way.
    QNL_network net;
    ASSERT_EQ(
        ReadXmlbif(net, WriteTemp("shared.xml03", "<BIF VERSION=\"0.3\"><NETWORK><NAME>A</NAME>" +
                                                      Variable("Unnamed") + Variable("A") +
                                                      "</NETWORK></BIF>")),
        0)
        << AllMessages();
    EXPECT_GE(Find(net, "Unnamed"), 0);
    EXPECT_GE(Find(net, "A"), 0);
    EXPECT_STREQ(net.GetHeader()->GetId(), "A2");
    EXPECT_STREQ(net.GetHeader()->GetName(), "A");
}

// Malformed input: each case fails with its code and message, keeps what it could read and
// never crashes.
TEST_F(XmlbifFormatTest, DefectiveDocumentsFailWithCodeAndMessage) {
    const std::string pair = Variable("A") + Variable("B");
    struct Case {
        const char* label;
        std::string text;
        int code;
        const char* message;
        int nodes;
    };
    const Case cases[] = {
        {"no BIF", "<?xml version=\"1.0\"?>\n<NETWORK></NETWORK>\n", -2,
         "ERROR: [BIF] : Tag Not found", 0},
        {"old version", "<BIF VERSION=\"0.2\"><NETWORK>" + pair + "</NETWORK></BIF>", -2,
         "ERROR: Incorrect BIF Version", 0},
        {"truncated", Document(pair).substr(0, 182), -127,
         "ERROR: End of File : Expecting '</VARIABLE>'", 1},
        {"unknown type", Document(Variable("A", 2, "chanse") + Variable("B")), -2,
         "ERROR: chanse : Unknown node type", 1},
        {"short table",
         Document(pair + "<DEFINITION><FOR>B</FOR><GIVEN>A</GIVEN><TABLE>0.5 0.5 0.5</TABLE>"
                         "</DEFINITION>"),
         -2, "ERROR: Node [B] was expecting 4 numbers but 3 were read", 2},
        {"bad number",
         Document(pair + "<DEFINITION><FOR>A</FOR><TABLE>0.5 0.5x</TABLE></DEFINITION>"), -127,
         "ERROR: '0.5x' : Real Number expected", 2},
        {"unknown parent", Document(pair + "<DEFINITION><FOR>B</FOR><GIVEN>C</GIVEN></DEFINITION>"),
         -2, "ERROR: C : Invalid parent", 2},
        {"unknown node", Document(pair + "<DEFINITION><FOR>C</FOR></DEFINITION>"), -2,
         "ERROR: C : Node not found", 2},
        {"second FOR", Document(pair + "<DEFINITION><FOR>A</FOR><FOR>B</FOR></DEFINITION>"), -2,
         "ERROR: B : Extra [FOR] entry. Ignored.", 2},
        {"misplaced", Document("<OUTCOME>x</OUTCOME>" + pair), -127,
         "ERROR: 'OUTCOME' : Misplaced statement", 2},
        {"cycle",
         Document(pair + "<DEFINITION><FOR>B</FOR><GIVEN>A</GIVEN></DEFINITION>"
                         "<DEFINITION><FOR>A</FOR><GIVEN>B</GIVEN></DEFINITION>"),
         -2, "ERROR: Couldn't add arc from node [B] to node [A]", 2},
        {"duplicate", Document(pair + Variable("A")), -32, "ERROR: A : Duplicated node name", 2},
        {"unclosed tag", Document("<VARIABLE TYPE=\"nature\"<NAME>A</NAME></VARIABLE>"), -127,
         "ERROR: '<' : '>' expected", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        EXPECT_EQ(ReadXmlbif(net, WriteTemp("defective.xml03", c.text)), c.code);
        EXPECT_NE(AllMessages().find(c.message), std::string::npos) << AllMessages();
        EXPECT_EQ(net.GetNumberOfNodes(), c.nodes);
    }

    // The short table above left B as it was: uniform, and without the parent that goes
    // with the table.
    QNL_network net;
    ReadXmlbif(net, WriteTemp("short.xml03", cases[4].text));
    EXPECT_EQ(Values(net, Find(net, "B")), (std::vector<double>{0.5, 0.5}));
}

TEST_F(XmlbifFormatTest, TruncatedFileNeverReadsAsSuccess) {
    const std::string whole =
        FileContent(std::string(QUARN_TEST_DATA_DIR) + "/xmlbif/foreign_names.xml03");
    const std::size_t end = whole.find("</BIF>");
    ASSERT_NE(end, std::string::npos);
    for (std::size_t length = 1; length < end + 5; length += 7) {
        SCOPED_TRACE(length);
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        EXPECT_LT(ReadXmlbif(net, WriteTemp("cut.xml03", whole.substr(0, length))), 0);
        EXPECT_GT(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
    }
}

TEST_F(XmlbifFormatTest, EmptyMissingAndDeeplyNestedFilesEndCleanly) {
    QNL_network net;
    EXPECT_EQ(ReadXmlbif(net, WriteTemp("empty.xml03", "")), -102);
    EXPECT_EQ(ReadXmlbif(net, TempPath("missing.xml03")), -103);
    EXPECT_NE(AllMessages().find("OPEN FILE FAILED"), std::string::npos);

    // Unknown elements are skipped by counting depth, so nesting costs no stack.
    std::string opened;
    for (int i = 0; i < 30000; ++i)
        opened += "<x>";
    std::string closed;
    for (int i = 0; i < 30000; ++i)
        closed += "</x>";
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadXmlbif(net, WriteTemp("deep.xml03", Document(opened + closed + Variable("A")))),
              0)
        << AllMessages();
    EXPECT_EQ(net.GetNumberOfNodes(), 1);
    // The same nesting left open ends at the end of the input.
    EXPECT_EQ(ReadXmlbif(net, WriteTemp("open.xml03", Document(opened))), -127);
    EXPECT_NE(AllMessages().find("ERROR: End of File : Expecting '</x>'"), std::string::npos);
}

// A model with every kind the format carries and texts that need escaping.
class XmlbifRoundTripTest : public XmlbifFormatTest {
protected:
    void Build(QNL_network& net) {
        net.GetHeader()->SetId("Plant");
        net.GetHeader()->SetName("Plant <north> & \"south\"");
        net.GetUserProperties().AddProperty("owner", "a\tb\nc");
        const int weather = AddDiscrete(net, QNL_TYPE_CPT, "Weather", {"sun", "rain", "snow"});
        const int test = AddDiscrete(net, QNL_TYPE_LIST, "Test", {"yes", "no"});
        const int reading = AddDiscrete(net, QNL_TYPE_TRUTHTABLE, "Reading", {"low", "high"});
        const int cost = net.AddNode(QNL_TYPE_TABLE, "Cost");
        ASSERT_EQ(net.AddArc(weather, reading), 0);
        ASSERT_EQ(net.AddArc(test, reading), 0);
        ASSERT_EQ(net.AddArc(reading, cost), 0);
        ASSERT_EQ(net.AddArc(test, cost), 0);
        ASSERT_EQ(net.AddArc(weather, test), 0);
        SetValues(net, weather, {0.1 + 0.2, 1.0 / 3.0, 1.0 - (0.1 + 0.2) - 1.0 / 3.0});
        SetValues(net, reading, {1, 0, 0, 1, 0, 1, 1, 0, 1, 0, 0, 1});
        SetValues(net, cost, {-1e-9, 2.5, QNL_UNDEFINED_NUMBER, 123456789.123456789});
        SetValues(net, test, {7.25, -3});
        QNL_nodeInfo* info = net.GetNode(weather)->GetInfo();
        info->header.SetName("Wetter: Gr\xC3\xB6\xC3\x9F"
                             "e & <Regen>");
        info->screen.position.x = -40;
        info->screen.position.y = 1200;
        info->properties.AddProperty("unit", "mm </TABLE> \\n");
        net.GetNode(cost)->GetInfo()->header.SetName("");
    }

    static int AddDiscrete(QNL_network& net, int type, const char* id,
                           std::vector<const char*> outcomes) {
        const int node = net.AddNode(type, id);
        QNL_idArray ids;
        for (const char* o : outcomes)
            ids.Add(o);
        EXPECT_EQ(net.GetNode(node)->GetDefinition()->SetNumberOfOutcomes(ids), 0);
        return node;
    }

    static void SetValues(QNL_network& net, int node, std::vector<double> values) {
        QNL_doubleArray array;
        for (double v : values)
            array.Add(v);
        ASSERT_EQ(net.GetNode(node)->GetDefinition()->SetDefinition(array), 0) << node;
    }
};

TEST_F(XmlbifRoundTripTest, WrittenModelIsWellFormedAndReadsBackEqual) {
    QNL_network net;
    Build(net);
    const std::string path = TempPath("round.xml03");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0) << AllMessages();
    ExpatCheck expat;
    ASSERT_EQ(expat.Complaint(path), "");
    // What an XML parser makes of the escaped texts is what the model holds.
    EXPECT_EQ(
        expat.properties,
        (std::vector<std::string>{"name = Plant <north> & \"south\"", "owner = a\tb\nc",
                                  "name = Wetter: Gr\xC3\xB6\xC3\x9F"
                                  "e & <Regen>",
                                  "position = (-40, 1200)", "unit = mm </TABLE> \\n", "name = "}));

    const std::string text = FileContent(path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\"?>\n", 0), 0u);
    EXPECT_NE(text.find("<VARIABLE TYPE=\"nature\">"), std::string::npos);
    EXPECT_NE(text.find("<VARIABLE TYPE=\"decision\">"), std::string::npos);
    EXPECT_NE(text.find("<VARIABLE TYPE=\"utility\">"), std::string::npos);

    QNL_network back;
    ASSERT_EQ(back.ReadFile(path.c_str()), 0) << AllMessages();
    // A truth table travels as the probability table it is.
    const int reading = back.FindNode("Reading");
    ASSERT_GE(reading, 0);
    EXPECT_EQ(back.GetNode(reading)->GetType(), QNL_TYPE_CPT);
    back.GetNode(reading)->SetType(QNL_TYPE_TRUTHTABLE);
    ExpectSameModel(net, back);

    // Writing what was read gives the same file again.
    const std::string again = TempPath("again.xml03");
    ASSERT_EQ(back.WriteFile(again.c_str()), 0) << AllMessages();
    EXPECT_EQ(FileContent(again), text);
}

TEST_F(XmlbifRoundTripTest, RealFilesSurviveAWriteAndARead) {
    if (!HaveShared()) GTEST_SKIP() << "no shared model files";
    for (const char* file : {"asia.xml", "oil_wildcatter_id.xml", "hailfinder.xml"}) {
        SCOPED_TRACE(file);
        QNL_network original;
        ASSERT_EQ(ReadXmlbif(original, Shared(std::string("data/networks/xmlbif/") + file)), 0);
        const std::string path = TempPath(std::string(file) + "03");
        ASSERT_EQ(original.WriteFile(path.c_str()), 0) << AllMessages();
        EXPECT_EQ(ExpatComplaint(path), "");
        QNL_network back;
        ASSERT_EQ(back.ReadFile(path.c_str()), 0) << AllMessages();
        ExpectSameModel(original, back);
    }
}

// A gate definition the format has no words for.
class GateDefinition : public quarn_test::TestDefinition {
public:
    using TestDefinition::TestDefinition;
    QNL_nodeDefinition* CreateCopy() const override { return new GateDefinition(*this); }
    int GetType() const override { return QNL_TYPE_NOISY_MAX; }
    const char* GetTypeName() const override { return "NOISY_MAX"; }
};

QNL_nodeDefinition* CreateGate(int handle, QNL_network* network) {
    return new GateDefinition(handle, network);
}

TEST_F(XmlbifRoundTripTest, InexpressibleModelIsRefusedBeforeTheFileIsTouched) {
    const std::string path = WriteTemp("refused.xml03", "previous content");
    {
        QNL_network net;
        Build(net);
        net.GetNode(net.FindNode("Weather"))->GetInfo()->properties.AddProperty("position", "x");
        EXPECT_EQ(net.WriteFile(path.c_str()), -2);
        EXPECT_NE(AllMessages().find("ERROR: This Network cannot be saved in XMLBIF format"),
                  std::string::npos);
    }
    {
        const auto previous = quarn::detail::FindDefinitionClass(QNL_TYPE_NOISY_MAX);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_NOISY_MAX, CreateGate);
        QNL_network net;
        const int gate = net.AddNode(QNL_TYPE_NOISY_MAX, "Gate");
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_NOISY_MAX, previous);
        ASSERT_GE(gate, 0);
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(net.WriteFile(path.c_str(), QNL_FORMAT_XMLBIF), -2);
        EXPECT_NE(AllMessages().find("Node [Gate] : ERROR: Unsupported node type"),
                  std::string::npos)
            << AllMessages();
    }
    EXPECT_EQ(FileContent(path), "previous content");
}

} // namespace
