#include "model/node_info.h"

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/submodel.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

QNL_errorHandler& Log() {
    return QNL_errorHandler::Instance();
}

using PropertyList = std::vector<std::pair<std::string, std::string>>;

PropertyList Pairs(const QNL_userProperties& p) {
    PropertyList out;
    for (int i = 0; i < p.GetNumberOfProperties(); ++i)
        out.emplace_back(p.GetName(i), p.GetValue(i) != nullptr ? p.GetValue(i) : "<null>");
    return out;
}

// Objects whose valid bit is clear, to check that copies refuse them.
template <class Info> struct Invalid : Info {
    void Break() { this->status &= ~QNL_object::STATUS_VALID; }
};

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
    EXPECT_EQ(Pairs(info.properties), (PropertyList{{"key", "value"}}));
    ASSERT_EQ(info.documentation.GetNumberOfDocuments(), 1);
    EXPECT_STREQ(info.documentation.GetTitle(0), "Spec sheet");
    EXPECT_STREQ(info.documentation.GetPath(0), "sheet.pdf");
}

TEST(Header, InvalidIdentifierIsLoggedAndKeepsTheOldOne) {
    Log().Flush();
    QNL_header header;
    ASSERT_EQ(header.SetId("good_1"), 0);
    for (const char* bad : {"2x", "", "_a", "a-b", "a b", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(header.SetId(bad), -1000) << (bad ? bad : "null");
        EXPECT_STREQ(header.GetId(), "good_1");
    }
    ASSERT_EQ(Log().GetNumberOfErrors(), 6);
    EXPECT_EQ(Log().GetCode(5), -1000);
    EXPECT_STREQ(Log().GetMessage(5), "Invalid identifier");
    Log().Flush();

    // The network's header takes any text; a node's name too, its own included.
    QNL_networkHeader network;
    EXPECT_EQ(network.SetId("2 not an id"), 0);
    EXPECT_STREQ(network.GetId(), "2 not an id");
    ASSERT_EQ(header.SetName("Alpha"), 0);
    ASSERT_EQ(header.SetName(header.GetName()), 0);
    EXPECT_STREQ(header.GetName(), "Alpha");
}

TEST(Header, AssignCopiesEveryTextAndAnEmptySourceClearsThem) {
    QNL_header source;
    source.SetId("src");
    source.SetName("Source name");
    source.SetComment("note");
    QNL_header target;
    target.SetId("old");
    ASSERT_EQ(target.Assign(source), 0);
    EXPECT_STREQ(target.GetId(), "src");
    EXPECT_STREQ(target.GetName(), "Source name");
    EXPECT_STREQ(target.GetComment(), "note");
    EXPECT_NE(target.GetId(), source.GetId());
    EXPECT_EQ(target.Assign(target), 0);
    EXPECT_STREQ(target.GetId(), "src");
    ASSERT_EQ(target.Assign(QNL_header()), 0);
    EXPECT_EQ(target.GetId(), nullptr);
    EXPECT_EQ(target.GetName(), nullptr);
    EXPECT_EQ(target.GetComment(), nullptr);

    QNL_networkHeader network, copy;
    network.SetId("N");
    network.SetName("M");
    network.SetComment("C");
    ASSERT_EQ(copy.Assign(network), 0);
    EXPECT_STREQ(copy.GetId(), "N");
    EXPECT_STREQ(copy.GetName(), "M");
    EXPECT_STREQ(copy.GetComment(), "C");
}

// A node's identifier is approved by its network.
TEST(OwnedHeader, IdentifiersAreApprovedByTheNetwork) {
    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
    const int a = quarn_test::AddNode(net, "a");
    const int b = quarn_test::AddNode(net, "b");
    ASSERT_GT(net.GetSubmodelHandler().CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "Group"),
              0);
    QNL_header& headerA = net.GetNode(a)->GetInfo()->header;
    QNL_header& headerB = net.GetNode(b)->GetInfo()->header;
    Log().Flush();
    // Another node's or a submodel's identifier is refused without a message.
    EXPECT_EQ(headerB.SetId("a"), -1000);
    EXPECT_EQ(net.GetNode(b)->SetId("a"), -1000);
    EXPECT_EQ(headerA.SetId("Group"), -1000);
    EXPECT_EQ(Log().GetNumberOfErrors(), 0);
    // An invalid text is logged before the network is asked.
    EXPECT_EQ(headerB.SetId("9lives"), -1000);
    EXPECT_STREQ(Log().GetMessage(0), "Invalid identifier");
    EXPECT_STREQ(net.GetNode(b)->GetId(), "b");

    // A free identifier is taken; the one given up is free for the other node.
    ASSERT_EQ(headerB.SetId("c"), 0);
    EXPECT_EQ(net.FindNode("c"), b);
    EXPECT_EQ(headerA.SetId("b"), 0);
    EXPECT_EQ(headerA.SetId("b"), 0);
    EXPECT_EQ(net.FindNode("b"), a);

    // Assigning a duplicate changes nothing.
    QNL_header source;
    source.SetId("b");
    source.SetName("new name");
    headerB.SetName("B name");
    EXPECT_EQ(headerB.Assign(source), -1000);
    EXPECT_STREQ(headerB.GetId(), "c");
    EXPECT_STREQ(headerB.GetName(), "B name");

    // A copy has no owner and never asks the source's network.
    QNL_header loose(headerA);
    EXPECT_EQ(loose.GetOwner(), nullptr);
    EXPECT_EQ(loose.SetId("c"), 0);
    EXPECT_EQ(net.FindNode("c"), b);
    const QNL_nodeInfo infoCopy(*net.GetNode(b)->GetInfo());
    EXPECT_EQ(infoCopy.header.GetOwner(), nullptr);
}

TEST(ScreenInfo, MergeFillsOnlyUnsetFieldsAndCopiesRefuseInvalidSources) {
    QNL_screenInfo own;
    own.color = 255;
    own.font = 0; // zero is a setting, not "unset"
    own.flags = 1;
    own.position.x = 5;
    own.position.width = 10;
    QNL_screenInfo defaults;
    defaults.color = 7, defaults.selColor = 8, defaults.font = 9, defaults.fontColor = 10;
    defaults.borderThickness = 11, defaults.borderColor = 12, defaults.flags = 0;
    defaults.position.x = 100, defaults.position.width = 76, defaults.position.height = 36;
    ASSERT_EQ(own.Merge(defaults), 0);
    const std::vector<int> merged = {
        own.color,       own.selColor, own.font,       own.fontColor,      own.borderThickness,
        own.borderColor, own.flags,    own.position.x, own.position.width, own.position.height};
    EXPECT_EQ(merged, (std::vector<int>{255, 8, 0, 10, 11, 12, 1, 5, 10, 36}));

    Invalid<QNL_screenInfo> broken;
    broken.color = 99;
    broken.Break();
    EXPECT_EQ(own.Assign(broken), -567);
    EXPECT_EQ(own.Merge(broken), -567);
    EXPECT_EQ(own.color, 255);
    EXPECT_EQ(QNL_screenInfo(broken).color, QNL_screenInfo::NOT_SET);
    ASSERT_EQ(own.Assign(defaults), 0);
    EXPECT_EQ(own.borderColor, 12);
    EXPECT_EQ(own.flags, 0);
}

TEST(UserProperties, EditsMatchASimpleListModel) {
    // The model: a list of pairs where adding removes the old pair and appends.
    std::mt19937 random(12345);
    const char* names[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"};
    QNL_userProperties p;
    PropertyList model;
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
        ASSERT_TRUE(model.empty() ||
                    p.FindProperty(model.back().first.c_str()) == int(model.size()) - 1);
    }
    EXPECT_EQ(p.CheckReadiness(1), 0);
}

TEST(UserProperties, BadNamesAndIndexesAreRefusedAndCopiesAreDeep) {
    QNL_userProperties p;
    p.AddProperty("ok", "v");
    for (const char* bad : {"1bad", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(p.AddProperty(bad, "v"), -2);
    EXPECT_EQ(p.FindProperty("OK"), -2);
    EXPECT_EQ(p.FindProperty(nullptr), -2);
    for (int index : {1, -1}) {
        EXPECT_EQ(p.DeleteProperty(index), -2);
        EXPECT_EQ(p.SetValue(index, "x"), -2);
    }
    ASSERT_EQ(p.SetValue(0, "w"), 0);
    ASSERT_EQ(p.AddProperty("none", nullptr), 0); // a value may be absent
    EXPECT_EQ(Pairs(p), (PropertyList{{"ok", "w"}, {"none", "<null>"}}));

    QNL_userProperties copy(p), assigned;
    assigned.AddProperty("old", "gone");
    ASSERT_EQ(assigned.Assign(p), 0);
    p.SetValue(0, "changed");
    p.DeleteProperty(1);
    EXPECT_EQ(Pairs(copy), (PropertyList{{"ok", "w"}, {"none", "<null>"}}));
    EXPECT_EQ(Pairs(assigned), Pairs(copy));
    EXPECT_EQ(copy.AddProperty("9", "v"), -2); // the copy keeps the rules

    Invalid<QNL_userProperties> broken;
    broken.AddProperty("x", "1");
    broken.Break();
    EXPECT_EQ(assigned.Assign(broken), -567);
    EXPECT_EQ(assigned.GetNumberOfProperties(), 2);
    EXPECT_EQ(QNL_userProperties(broken).GetNumberOfProperties(), 0);
}

TEST(Documentation, DocumentsKeepTitleAndPathTogether) {
    QNL_documentation d;
    ASSERT_EQ(d.AddDocument("Manual", "/doc/manual.pdf"), 0);
    ASSERT_EQ(d.AddDocument("Notes", nullptr), 0);
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
    EXPECT_EQ(d.GetTitle(0), nullptr);
    ASSERT_EQ(copy.GetNumberOfDocuments(), 2);
    EXPECT_STREQ(copy.GetPath(0), "/doc/manual.pdf");
}

TEST(NodeInfo, CopiesKeepTheDocumentationAndRefuseInvalidSources) {
    QNL_nodeInfo source;
    FillInfo(source);
    const QNL_nodeInfo copy(source);
    ExpectFilled(copy);
    QNL_nodeInfo assigned;
    assigned.documentation.AddDocument("stale", "stale");
    ASSERT_EQ(assigned.Assign(source), 0);
    ExpectFilled(assigned);
    source.documentation.Flush();
    EXPECT_EQ(copy.documentation.GetNumberOfDocuments(), 1);

    Invalid<QNL_nodeInfo> broken;
    broken.header.SetId("ghost");
    broken.documentation.AddDocument("t", "p");
    broken.Break();
    EXPECT_EQ(assigned.Assign(broken), -567);
    ExpectFilled(assigned);
    const QNL_nodeInfo fromBroken(broken);
    EXPECT_EQ(fromBroken.header.GetId(), nullptr);
    EXPECT_EQ(fromBroken.documentation.GetNumberOfDocuments(), 0);

    // A copied network keeps each node's documents and properties, owned by the new node.
    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
    const int node = quarn_test::AddNode(net, "n1");
    QNL_nodeInfo* info = net.GetNode(node)->GetInfo();
    info->header.SetName("Node one");
    info->screen.color = 42;
    info->properties.AddProperty("key", "value");
    info->documentation.AddDocument("Spec sheet", "sheet.pdf");
    const QNL_network copiedNet(net);
    ExpectFilled(*copiedNet.GetNode(node)->GetInfo());
    EXPECT_EQ(copiedNet.GetNode(node)->GetInfo()->header.GetOwner(), copiedNet.GetNode(node));
}

} // namespace
