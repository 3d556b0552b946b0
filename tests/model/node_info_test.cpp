#include "model/node_info.h"

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/submodel.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

QNL_errorHandler& Log() {
    return QNL_errorHandler::Instance();
}

// Objects whose valid bit is clear, to check that copies refuse them.
struct InvalidScreenInfo : QNL_screenInfo {
    InvalidScreenInfo() {
        color = 99;
        status &= ~STATUS_VALID;
    }
};
struct InvalidNodeInfo : QNL_nodeInfo {
    InvalidNodeInfo() {
        header.SetId("ghost");
        documentation.AddDocument("t", "p");
        status &= ~STATUS_VALID;
    }
};
struct InvalidProperties : QNL_userProperties {
    InvalidProperties() {
        AddProperty("x", "1");
        status &= ~STATUS_VALID;
    }
};

std::vector<std::pair<std::string, std::string>> Pairs(const QNL_userProperties& p) {
    std::vector<std::pair<std::string, std::string>> out;
    for (int i = 0; i < p.GetNumberOfProperties(); ++i)
        out.emplace_back(p.GetName(i), p.GetValue(i) != nullptr ? p.GetValue(i) : "<null>");
    return out;
}

// ---------------------------------------------------------------------------------------
// Free-standing headers

TEST(Header, InvalidIdentifierIsLoggedAndKeepsTheOldOne) {
    Log().Flush();
    QNL_header header;
    ASSERT_EQ(header.SetId("good_1"), 0);
    for (const char* bad : {"2x", "", "_a", "a-b", "a b"}) {
        EXPECT_EQ(header.SetId(bad), -1000) << bad;
        EXPECT_STREQ(header.GetId(), "good_1");
    }
    EXPECT_EQ(header.SetId(nullptr), -1000);
    ASSERT_EQ(Log().GetNumberOfErrors(), 6);
    EXPECT_EQ(Log().GetCode(0), -1000);
    EXPECT_STREQ(Log().GetMessage(0), "Invalid identifier");
    Log().Flush();
}

TEST(Header, StoresOwnCopiesAndClearsWithNull) {
    QNL_header header;
    char buffer[] = "Alpha";
    ASSERT_EQ(header.SetId(buffer), 0);
    ASSERT_EQ(header.SetName(buffer), 0);
    ASSERT_EQ(header.SetComment("a comment"), 0);
    buffer[0] = 'Z';
    EXPECT_STREQ(header.GetId(), "Alpha");
    EXPECT_STREQ(header.GetName(), "Alpha");
    EXPECT_NE(header.GetId(), header.GetName());

    // A name may be any text, the node's own name included.
    ASSERT_EQ(header.SetName(header.GetName()), 0);
    EXPECT_STREQ(header.GetName(), "Alpha");
    EXPECT_EQ(header.SetName(nullptr), 0);
    EXPECT_EQ(header.GetName(), nullptr);
    EXPECT_EQ(header.SetComment("2 x, anything"), 0);
    EXPECT_STREQ(header.GetComment(), "2 x, anything");

    EXPECT_EQ(header.CleanUp(1), 0);
    EXPECT_EQ(header.GetId(), nullptr);
    EXPECT_EQ(header.GetComment(), nullptr);
}

TEST(Header, AssignCopiesAllTextsAndRefusesBadSources) {
    QNL_header source;
    source.SetId("src");
    source.SetName("Source name");
    source.SetComment("note");
    QNL_header target;
    target.SetId("old");
    target.SetComment("old note");
    ASSERT_EQ(target.Assign(source), 0);
    EXPECT_STREQ(target.GetId(), "src");
    EXPECT_STREQ(target.GetName(), "Source name");
    EXPECT_STREQ(target.GetComment(), "note");
    EXPECT_NE(target.GetId(), source.GetId());

    EXPECT_EQ(target.Assign(target), 0);
    EXPECT_STREQ(target.GetId(), "src");

    // A source without texts clears them all.
    QNL_header empty;
    ASSERT_EQ(target.Assign(empty), 0);
    EXPECT_EQ(target.GetId(), nullptr);
    EXPECT_EQ(target.GetName(), nullptr);
}

TEST(NetworkHeader, StoresTextsWithoutValidation) {
    QNL_networkHeader header;
    EXPECT_EQ(header.SetId("2 not an id"), 0);
    EXPECT_STREQ(header.GetId(), "2 not an id");
    header.SetName("N");
    header.SetComment("C");
    QNL_networkHeader copy;
    ASSERT_EQ(copy.Assign(header), 0);
    EXPECT_STREQ(copy.GetId(), "2 not an id");
    EXPECT_STREQ(copy.GetName(), "N");
    EXPECT_STREQ(copy.GetComment(), "C");
    EXPECT_EQ(copy.SetId(nullptr), 0);
    EXPECT_EQ(copy.GetId(), nullptr);
    EXPECT_STREQ(header.GetId(), "2 not an id");
}

// ---------------------------------------------------------------------------------------
// Headers of nodes: identifiers approved by the network

class OwnedHeader : public ::testing::Test {
protected:
    void SetUp() override {
        a = quarn_test::AddNode(net, "a");
        b = quarn_test::AddNode(net, "b");
        ASSERT_GE(a, 0);
        ASSERT_GE(b, 0);
        Log().Flush();
    }
    void TearDown() override { Log().Flush(); }

    QNL_header& HeaderOf(int node) { return net.GetNode(node)->GetInfo()->header; }

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
    int a = -1;
    int b = -1;
};

TEST_F(OwnedHeader, AnotherNodesIdentifierIsRefusedWithoutMessage) {
    EXPECT_EQ(HeaderOf(b).SetId("a"), -1000);
    EXPECT_EQ(net.GetNode(b)->SetId("a"), -1000);
    EXPECT_EQ(Log().GetNumberOfErrors(), 0);
    EXPECT_STREQ(net.GetNode(b)->GetId(), "b");
    EXPECT_EQ(net.FindNode("a"), a);
    EXPECT_EQ(net.FindNode("b"), b);
}

TEST_F(OwnedHeader, InvalidTextIsLoggedBeforeTheNetworkIsAsked) {
    EXPECT_EQ(HeaderOf(b).SetId("9lives"), -1000);
    ASSERT_EQ(Log().GetNumberOfErrors(), 1);
    EXPECT_STREQ(Log().GetMessage(0), "Invalid identifier");
    EXPECT_STREQ(net.GetNode(b)->GetId(), "b");
}

TEST_F(OwnedHeader, FreeIdentifierIsTakenAndFoundByTheNetwork) {
    ASSERT_EQ(HeaderOf(b).SetId("c"), 0);
    EXPECT_EQ(net.FindNode("c"), b);
    EXPECT_EQ(net.FindNode("b"), -2);
    // The identifier it gave up is free for the other node now.
    EXPECT_EQ(HeaderOf(a).SetId("b"), 0);
    EXPECT_EQ(net.FindNode("b"), a);
    // Setting a node's own identifier again is no conflict.
    EXPECT_EQ(HeaderOf(a).SetId("b"), 0);
    EXPECT_EQ(Log().GetNumberOfErrors(), 0);
}

TEST_F(OwnedHeader, SubmodelIdentifierIsRefused) {
    const int sub =
        net.GetSubmodelHandler().CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "Group");
    ASSERT_GT(sub, 0);
    EXPECT_EQ(HeaderOf(a).SetId("Group"), -1000);
    EXPECT_STREQ(net.GetNode(a)->GetId(), "a");
}

TEST_F(OwnedHeader, AssignOfADuplicateChangesNothing) {
    QNL_header source;
    source.SetId("a");
    source.SetName("new name");
    source.SetComment("new comment");
    HeaderOf(b).SetName("B name");
    EXPECT_EQ(HeaderOf(b).Assign(source), -1000);
    EXPECT_STREQ(HeaderOf(b).GetId(), "b");
    EXPECT_STREQ(HeaderOf(b).GetName(), "B name");
    EXPECT_EQ(HeaderOf(b).GetComment(), nullptr);
}

TEST_F(OwnedHeader, CopyHasNoOwnerAndNeverAsksTheSourceNetwork) {
    const QNL_header copy(HeaderOf(a));
    EXPECT_EQ(copy.GetOwner(), nullptr);
    EXPECT_STREQ(copy.GetId(), "a");
    EXPECT_NE(copy.GetId(), HeaderOf(a).GetId());

    // Free-standing, the copy may take an identifier the source's network uses.
    QNL_header loose(HeaderOf(a));
    EXPECT_EQ(loose.SetId("b"), 0);
    EXPECT_STREQ(net.GetNode(a)->GetId(), "a");
    EXPECT_EQ(net.FindNode("b"), b);

    const QNL_nodeInfo infoCopy(*net.GetNode(b)->GetInfo());
    EXPECT_EQ(infoCopy.header.GetOwner(), nullptr);
    EXPECT_STREQ(infoCopy.header.GetId(), "b");
    EXPECT_EQ(Log().GetNumberOfErrors(), 0);
}

// ---------------------------------------------------------------------------------------
// Screen information

TEST(ScreenInfo, MergeFillsOnlyUnsetFields) {
    QNL_screenInfo own;
    own.color = 255;
    own.font = 0; // zero is a setting, not "unset"
    own.flags = 1;
    own.position.x = 5;
    own.position.width = 10;

    QNL_screenInfo defaults;
    defaults.color = 7;
    defaults.selColor = 8;
    defaults.font = 9;
    defaults.fontColor = 10;
    defaults.borderThickness = 11;
    defaults.borderColor = 12;
    defaults.flags = 0;
    defaults.position.x = 100;
    defaults.position.width = 76;
    defaults.position.height = 36;

    ASSERT_EQ(own.Merge(defaults), 0);
    EXPECT_EQ(own.color, 255);
    EXPECT_EQ(own.selColor, 8);
    EXPECT_EQ(own.font, 0);
    EXPECT_EQ(own.fontColor, 10);
    EXPECT_EQ(own.borderThickness, 11);
    EXPECT_EQ(own.borderColor, 12);
    EXPECT_EQ(own.flags, 1);
    EXPECT_EQ(own.position.x, 5);
    EXPECT_EQ(own.position.width, 10);
    EXPECT_EQ(own.position.height, 36);

    QNL_screenInfo unset;
    QNL_screenInfo colour;
    colour.color = 255;
    ASSERT_EQ(unset.Merge(colour), 0);
    EXPECT_EQ(unset.color, 255);
}

TEST(ScreenInfo, CopiesRefuseInvalidSources) {
    const InvalidScreenInfo broken;
    QNL_screenInfo target;
    target.color = 1;
    EXPECT_EQ(target.Assign(broken), -567);
    EXPECT_EQ(target.Merge(broken), -567);
    EXPECT_EQ(target.color, 1);
    const QNL_screenInfo copy(broken);
    EXPECT_EQ(copy.color, QNL_screenInfo::NOT_SET);

    QNL_screenInfo source;
    source.color = 3;
    source.borderColor = 4;
    source.flags = 0;
    source.position.y = 9;
    ASSERT_EQ(target.Assign(source), 0);
    EXPECT_EQ(target.color, 3);
    EXPECT_EQ(target.borderColor, 4);
    EXPECT_EQ(target.flags, 0);
    EXPECT_EQ(target.position.y, 9);
}

// ---------------------------------------------------------------------------------------
// User properties

TEST(UserProperties, RepeatedNameMovesToTheEndWithItsNewValue) {
    QNL_userProperties p;
    ASSERT_EQ(p.AddProperty("a", "1"), 0);
    ASSERT_EQ(p.AddProperty("b", "2"), 0);
    ASSERT_EQ(p.AddProperty("a", "3"), 0);
    using P = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(Pairs(p), (P{{"b", "2"}, {"a", "3"}}));
    EXPECT_EQ(p.FindProperty("a"), 1);
    EXPECT_EQ(p.FindProperty("b"), 0);
}

TEST(UserProperties, EditsMatchASimpleListModel) {
    // The model: a list of pairs where adding removes the old pair and appends.
    std::mt19937 random(12345);
    const char* names[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"};
    QNL_userProperties p;
    std::vector<std::pair<std::string, std::string>> model;
    for (int step = 0; step < 400; ++step) {
        const std::string name = names[random() % 11];
        const std::string value = std::to_string(step);
        if (random() % 4 == 0 && !model.empty()) {
            const int index = static_cast<int>(random() % model.size());
            ASSERT_EQ(p.DeleteProperty(index), 0);
            model.erase(model.begin() + index);
        } else {
            ASSERT_EQ(p.AddProperty(name.c_str(), value.c_str()), 0);
            for (auto it = model.begin(); it != model.end(); ++it)
                if (it->first == name) {
                    model.erase(it);
                    break;
                }
            model.emplace_back(name, value);
        }
        ASSERT_EQ(Pairs(p), model) << "step " << step;
    }
    EXPECT_EQ(p.CheckReadiness(1), 0);
}

TEST(UserProperties, BadNamesAndIndexesAreRefused) {
    QNL_userProperties p;
    p.AddProperty("ok", "v");
    EXPECT_EQ(p.AddProperty("1bad", "v"), -2);
    EXPECT_EQ(p.AddProperty("", "v"), -2);
    EXPECT_EQ(p.AddProperty(nullptr, "v"), -2);
    EXPECT_EQ(p.GetNumberOfProperties(), 1);
    EXPECT_EQ(p.FindProperty("OK"), -2);
    EXPECT_EQ(p.FindProperty(nullptr), -2);
    EXPECT_EQ(p.DeleteProperty(1), -2);
    EXPECT_EQ(p.DeleteProperty(-1), -2);
    EXPECT_EQ(p.SetValue(1, "x"), -2);
    ASSERT_EQ(p.SetValue(0, "w"), 0);
    EXPECT_STREQ(p.GetValue(0), "w");
    // A value may be absent.
    ASSERT_EQ(p.AddProperty("none", nullptr), 0);
    EXPECT_EQ(p.GetValue(1), nullptr);
    EXPECT_EQ(p.CheckReadiness(1), 0);
}

TEST(UserProperties, CopiesAreDeepAndRefuseInvalidSources) {
    QNL_userProperties p;
    p.AddProperty("x", "1");
    p.AddProperty("y", "2");
    QNL_userProperties copy(p);
    QNL_userProperties assigned;
    assigned.AddProperty("old", "gone");
    ASSERT_EQ(assigned.Assign(p), 0);
    p.SetValue(0, "changed");
    p.DeleteProperty(1);
    using P = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(Pairs(copy), (P{{"x", "1"}, {"y", "2"}}));
    EXPECT_EQ(Pairs(assigned), (P{{"x", "1"}, {"y", "2"}}));
    // The copy keeps refusing duplicates and bad names like the original.
    EXPECT_EQ(copy.AddProperty("9", "v"), -2);

    const InvalidProperties broken;
    EXPECT_EQ(assigned.Assign(broken), -567);
    EXPECT_EQ(assigned.GetNumberOfProperties(), 2);
    const QNL_userProperties fromBroken(broken);
    EXPECT_EQ(fromBroken.GetNumberOfProperties(), 0);
}

// ---------------------------------------------------------------------------------------
// Documentation

TEST(Documentation, DocumentsKeepTitleAndPathTogether) {
    QNL_documentation d;
    ASSERT_EQ(d.AddDocument("Manual", "/doc/manual.pdf"), 0);
    ASSERT_EQ(d.AddDocument("Notes", nullptr), 0);
    EXPECT_EQ(d.GetNumberOfDocuments(), 2);
    ASSERT_EQ(d.SetPath(1, "notes.txt"), 0);
    EXPECT_EQ(d.SetPath(2, "x"), -2);
    EXPECT_EQ(d.SetPath(-1, "x"), -2);
    EXPECT_STREQ(d.GetTitle(1), "Notes");
    EXPECT_STREQ(d.GetPath(1), "notes.txt");
    EXPECT_EQ(d.CheckReadiness(1), 0);

    QNL_documentation copy;
    ASSERT_EQ(copy.Assign(d), 0);
    EXPECT_EQ(copy.Assign(copy), 0);
    d.Flush();
    EXPECT_EQ(d.GetNumberOfDocuments(), 0);
    EXPECT_EQ(d.GetTitle(0), nullptr);
    ASSERT_EQ(copy.GetNumberOfDocuments(), 2);
    EXPECT_STREQ(copy.GetTitle(0), "Manual");
    EXPECT_STREQ(copy.GetPath(0), "/doc/manual.pdf");
}

// ---------------------------------------------------------------------------------------
// Node information

QNL_nodeInfo& FillInfo(QNL_nodeInfo& info) {
    info.header.SetId("n1");
    info.header.SetName("Node one");
    info.screen.color = 42;
    info.properties.AddProperty("key", "value");
    info.documentation.AddDocument("Spec sheet", "sheet.pdf");
    return info;
}

void ExpectFilled(const QNL_nodeInfo& info) {
    EXPECT_STREQ(info.header.GetId(), "n1");
    EXPECT_STREQ(info.header.GetName(), "Node one");
    EXPECT_EQ(info.screen.color, 42);
    EXPECT_EQ(info.properties.FindProperty("key"), 0);
    ASSERT_EQ(info.documentation.GetNumberOfDocuments(), 1);
    EXPECT_STREQ(info.documentation.GetTitle(0), "Spec sheet");
    EXPECT_STREQ(info.documentation.GetPath(0), "sheet.pdf");
}

TEST(NodeInfo, CopiesKeepTheDocumentation) {
    QNL_nodeInfo source;
    FillInfo(source);
    const QNL_nodeInfo copy(source);
    EXPECT_TRUE(copy.IsValid());
    ExpectFilled(copy);

    QNL_nodeInfo assigned;
    assigned.documentation.AddDocument("stale", "stale");
    ASSERT_EQ(assigned.Assign(source), 0);
    ExpectFilled(assigned);

    source.documentation.Flush();
    EXPECT_EQ(copy.documentation.GetNumberOfDocuments(), 1);
}

TEST(NodeInfo, InvalidSourceGivesNothing) {
    const InvalidNodeInfo broken;
    QNL_nodeInfo target;
    FillInfo(target);
    EXPECT_EQ(target.Assign(broken), -567);
    ExpectFilled(target);
    const QNL_nodeInfo copy(broken);
    EXPECT_EQ(copy.header.GetId(), nullptr);
    EXPECT_EQ(copy.documentation.GetNumberOfDocuments(), 0);
}

TEST(NodeInfo, CopiedNetworkKeepsNodeDocumentsAndProperties) {
    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
    const int node = quarn_test::AddNode(net, "documented");
    ASSERT_GE(node, 0);
    QNL_nodeInfo* info = net.GetNode(node)->GetInfo();
    ASSERT_EQ(info->documentation.AddDocument("Datasheet", "ds.pdf"), 0);
    ASSERT_EQ(info->properties.AddProperty("unit", "kg"), 0);

    const QNL_network copy(net);
    ASSERT_TRUE(copy.IsValid());
    QNL_node* copied = copy.GetNode(node);
    ASSERT_NE(copied, nullptr);
    const QNL_nodeInfo* copiedInfo = copied->GetInfo();
    ASSERT_NE(copiedInfo, nullptr);
    EXPECT_EQ(copiedInfo->header.GetOwner(), copied);
    ASSERT_EQ(copiedInfo->documentation.GetNumberOfDocuments(), 1);
    EXPECT_STREQ(copiedInfo->documentation.GetTitle(0), "Datasheet");
    EXPECT_STREQ(copiedInfo->documentation.GetPath(0), "ds.pdf");
    EXPECT_STREQ(copiedInfo->properties.GetValue(0), "kg");
}

} // namespace
