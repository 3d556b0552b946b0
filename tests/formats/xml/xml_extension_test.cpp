#include "definitions/extra_definition.h"
#include "formats/format_test_support.h"
#include "formats/xml/xml_extension_reader.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/submodel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace format_test;

const std::string NODE_A = "<decision id=\"A\"><state id=\"s1\"/><state id=\"s2\"/></decision>\n";

std::string Tavlo(const std::string& content, const std::string& attributes = "") {
    return "<extensions><tavlo version=\"1.0\" name=\"Shown\"" + attributes + ">" + content +
           "</tavlo></extensions>\n";
}

std::string Box(const std::string& element, const std::string& id, const std::string& position,
                const std::string& extra = "", const std::string& attributes = "") {
    return "<" + element + " id=\"" + id + "\"" + attributes +
           "><name>n</name><interior color=\"ff0000\"/><outline color=\"00ff00\"/>"
           "<font color=\"0000ff\" name=\"f\" size=\"8\"/><position>" +
           position + "</position>" + extra + "</" + element + ">";
}

class XmlExtension : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }

    // Writes the network and reads the file into the second network.
    void SaveAndLoad(QNL_network& from, QNL_network& into, const std::string& name) {
        const std::string path = TempPath(name);
        ASSERT_EQ(from.WriteFile(path.c_str()), 0) << AllMessages();
        ASSERT_TRUE(IsWellFormed(path));
        written = FileContent(path);
        ASSERT_EQ(into.ReadFile(path.c_str()), 0) << AllMessages();
    }

    std::string written;
};

TEST_F(XmlExtension, DisplayDataIsReadAndWrittenBackAsGiven) {
    const std::string xml = Document(
        NODE_A, Tavlo(Box("node", "A", "10 20 110 60", "<state id=\"s2\" globalid=\"G2\"/>",
                          " faultnameformat=\"inherit\"") +
                      "<arcformat parent=\"A\" child=\"A\" width=\"1\" color=\"000000\"/>"
                      "<qualcolors left=\"1\" center=\"2\" right=\"3\"/>"));
    QNL_network net;
    ASSERT_EQ(ReadDocument(net, "display.xqnl", xml), 0) << AllMessages();
    EXPECT_TRUE(LoggedMessages(-100).empty()) << AllMessages();
    EXPECT_STREQ(net.GetHeader()->GetName(), "Shown");
    EXPECT_EQ(net.GetFaultNameFormat(), QNL_extraDefinition::FAULT_NAME_USER);
    const QNL_node* a = net.GetNode(net.FindNode("A"));
    EXPECT_EQ(a->GetExtraDefinition()->GetFaultNameFormat(),
              QNL_extraDefinition::FAULT_NAME_INHERIT);
    const QNL_screenInfo& screen = a->GetInfo()->screen;
    EXPECT_TRUE(screen.color == 0x0000FF && screen.borderColor == 0x00FF00 &&
                screen.fontColor == 0xFF0000 && screen.borderThickness == 1);
    EXPECT_TRUE(screen.position.x == 60 && screen.position.width == 100);
    EXPECT_STREQ(a->GetExtraDefinition()->GetOutcomeLabels().GetString(1), "G2");

    const std::string path = TempPath("display_back.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    const std::string text = FileContent(path);
    for (const char* part : {"<position>10 20 110 60</position>", "<interior color=\"ff0000\" />",
                             "<outline color=\"00ff00\" />"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    for (const char* part : {"faultnameformat=\"inherit\"", "arcformat", "qualcolors"})
        EXPECT_EQ(text.find(part), std::string::npos) << part;
}

// The fault name format belongs to the network: copied with it, reset by a clean-up.
TEST_F(XmlExtension, NetworkKeepsItsFaultNameFormatAndCreationRecord) {
    QNL_network net;
    EXPECT_EQ(net.SetFaultNameFormat(QNL_extraDefinition::FAULT_NAME_INHERIT), -2);
    ASSERT_EQ(net.SetFaultNameFormat(QNL_extraDefinition::FAULT_NAME_STATE), 0);
    net.GetCreation().creator = "me";
    QNL_network copy(net);
    EXPECT_EQ(copy.GetFaultNameFormat() * 100 + copy.GetCreation().creator.size(),
              QNL_extraDefinition::FAULT_NAME_STATE * 100 + 2);
    net.CleanUp(1);
    EXPECT_EQ(net.GetFaultNameFormat(), QNL_extraDefinition::FAULT_NAME_USER);
    EXPECT_TRUE(net.GetCreation().creator.empty());
}

} // namespace
