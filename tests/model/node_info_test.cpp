#include "model/node_info.h"

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/rectangle.h"
#include "model/submodel.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

QNL_errorHandler& Log() {
    return QNL_errorHandler::Instance();
}

using Texts = std::vector<std::string>;
using PropertyList = std::vector<std::pair<std::string, std::string>>;

std::string Or(const char* text) {
    return text != nullptr ? text : "<null>";
}

PropertyList Pairs(const QNL_userProperties& p) {
    PropertyList out;
    for (int i = 0; i < p.GetNumberOfProperties(); ++i)
        out.emplace_back(p.GetName(i), Or(p.GetValue(i)));
    return out;
}

// One line per part of a node's information, to compare whole copies at once.
Texts Describe(const QNL_nodeInfo& info) {
    Texts out = {Or(info.header.GetId()), Or(info.header.GetName()), Or(info.header.GetComment()),
                 std::to_string(info.screen.color)};
    for (const auto& [name, value] : Pairs(info.properties))
        out.push_back(name + "=" + value);
    for (int i = 0; i < info.documentation.GetNumberOfDocuments(); ++i)
        out.push_back(Or(info.documentation.GetTitle(i)) + ":" + Or(info.documentation.GetPath(i)));
    return out;
}

// Objects whose valid bit is clear, to check that copies refuse them.
template <class Info> struct Invalid : Info {
    void Break() { this->status &= ~QNL_object::STATUS_VALID; }
};

void Fill(QNL_nodeInfo& info) {
    info.header.SetName("Node one");
    info.header.SetComment("note");
    info.screen.color = 42;
    info.properties.AddProperty("key", "value");
    info.documentation.AddDocument("Spec sheet", "sheet.pdf");
    info.documentation.AddDocument("Notes", nullptr);
    info.documentation.SetPath(1, "notes.txt");
}

const Texts kFilled = {
    "n1", "Node one", "note", "42", "key=value", "Spec sheet:sheet.pdf", "Notes:notes.txt"};

// A loose header takes only identifiers; a node's identifier is approved by its network,
// which refuses another node's or a submodel's identifier without a message.
TEST(Header, IdentifiersAreCheckedAndApprovedByTheNetwork) {
    Log().Flush();
    QNL_header header;
    ASSERT_EQ(header.SetId("good_1"), 0);
    for (const char* bad : {"2x", "", "_a", "a-b", "a b", static_cast<const char*>(nullptr)})
        EXPECT_EQ(header.SetId(bad), -1000) << Or(bad);
    EXPECT_STREQ(header.GetId(), "good_1");
    ASSERT_EQ(Log().GetNumberOfErrors(), 6);
    EXPECT_STREQ(Log().GetMessage(5), "Invalid identifier");
    QNL_networkHeader network; // the network's header takes any text
    EXPECT_EQ(network.SetId("2 not an id"), 0);
    EXPECT_STREQ(network.GetId(), "2 not an id");

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
    const int a = quarn_test::AddNode(net, "a");
    const int b = quarn_test::AddNode(net, "b");
    ASSERT_GT(net.GetSubmodelHandler().CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "Group"),
              0);
    QNL_header& headerA = net.GetNode(a)->GetInfo()->header;
    QNL_header& headerB = net.GetNode(b)->GetInfo()->header;
    Log().Flush();
    EXPECT_EQ(headerB.SetId("a"), -1000);
    EXPECT_EQ(net.GetNode(b)->SetId("a"), -1000);
    EXPECT_EQ(headerA.SetId("Group"), -1000);
    EXPECT_EQ(Log().GetNumberOfErrors(), 0);
    EXPECT_EQ(headerB.SetId("9lives"), -1000); // logged before the network is asked
    EXPECT_STREQ(Log().GetMessage(0), "Invalid identifier");
    // A free identifier is taken; the one given up is free for the other node.
    ASSERT_EQ(headerB.SetId("c"), 0);
    EXPECT_EQ(headerA.SetId("b"), 0);
    EXPECT_EQ(headerA.SetId("b"), 0);
    EXPECT_EQ(std::make_pair(net.FindNode("b"), net.FindNode("c")), std::make_pair(a, b));
    // Assigning a duplicate changes nothing.
    QNL_header source;
    source.SetId("b");
    source.SetName("new name");
    headerB.SetName("B name");
    EXPECT_EQ(headerB.Assign(source), -1000);
    EXPECT_EQ((Texts{headerB.GetId(), headerB.GetName()}), (Texts{"c", "B name"}));
    // A copy has no owner and never asks the source's network.
    QNL_header loose(headerA);
    EXPECT_EQ(loose.SetId("c"), 0);
    EXPECT_EQ(net.FindNode("c"), b);
    EXPECT_EQ(QNL_nodeInfo(*net.GetNode(b)->GetInfo()).header.GetOwner(), nullptr);
    Log().Flush();
}

// Every way of copying node information keeps all of it; an invalid source is refused; an
// empty source clears the texts.
TEST(NodeInfo, CopiesKeepEveryPartAndRefuseInvalidSources) {
    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
    const int node = quarn_test::AddNode(net, "n1");
    Fill(*net.GetNode(node)->GetInfo());
    const QNL_network copiedNet(net);
    QNL_nodeInfo assigned;
    assigned.documentation.AddDocument("stale", "stale");
    assigned.properties.AddProperty("old", "gone");
    ASSERT_EQ(assigned.Assign(*net.GetNode(node)->GetInfo()), 0);
    ASSERT_EQ(assigned.Assign(assigned), 0);
    ASSERT_EQ(net.DeleteNode(node), 0);
    EXPECT_EQ(Describe(*copiedNet.GetNode(node)->GetInfo()), kFilled);
    EXPECT_EQ(copiedNet.GetNode(node)->GetInfo()->header.GetOwner(), copiedNet.GetNode(node));
    EXPECT_EQ(Describe(assigned), kFilled);

    Invalid<QNL_nodeInfo> broken;
    broken.header.SetId("ghost");
    broken.documentation.AddDocument("t", "p");
    broken.Break();
    EXPECT_EQ(assigned.Assign(broken), -567);
    EXPECT_EQ(Describe(assigned), kFilled);
    EXPECT_EQ(Describe(QNL_nodeInfo(broken)),
              (Texts{"<null>", "<null>", "<null>", std::to_string(QNL_screenInfo::NOT_SET)}));
}

TEST(ScreenInfo, MergeFillsOnlyUnsetFields) {
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
}

// Random edits against a list where adding removes the old pair and appends; then the
// refusals, which leave the list as it was.
TEST(UserProperties, EditsMatchASimpleListModelAndBadRequestsAreRefused) {
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
    QNL_userProperties q;
    q.AddProperty("ok", "v");
    for (const char* bad : {"1bad", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(q.AddProperty(bad, "v"), -2) << Or(bad);
    EXPECT_EQ(q.FindProperty("OK"), -2);
    EXPECT_EQ(q.FindProperty(nullptr), -2);
    for (int index : {1, -1})
        EXPECT_EQ(std::make_pair(q.DeleteProperty(index), q.SetValue(index, "x")),
                  std::make_pair(-2, -2));
    ASSERT_EQ(q.SetValue(0, "w"), 0);
    ASSERT_EQ(q.AddProperty("none", nullptr), 0); // a value may be absent
    EXPECT_EQ(Pairs(q), (PropertyList{{"ok", "w"}, {"none", "<null>"}}));
    EXPECT_EQ(QNL_userProperties(q).AddProperty("9", "v"), -2); // the copy keeps the rules
}

using Box = std::array<int, 4>;

QNL_rectangle Rect(int x, int y, int width, int height) {
    QNL_rectangle r;
    r.x = x, r.y = y, r.width = width, r.height = height;
    return r;
}

Box Of(const QNL_rectangle& r) {
    return {r.x, r.y, r.width, r.height};
}

// A rectangle whose valid bit is clear, holding numbers that must not be copied.
struct InvalidRectangle : QNL_rectangle {
    InvalidRectangle() {
        x = y = width = height = 77;
        status &= ~STATUS_VALID;
    }
};

// Merging and copying are shown with the screen information and submodel copies; what is
// left is the array: its own element added while the table grows, an invalid source copied
// as zeros, zeros outside the items.
TEST(RectangleArray, KeepsItsOwnElementWhileGrowingAndAnswersZeroOutside) {
    QNL_rectangleArray array;
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(array.Add(Rect(i, -i, 10 * i, 20 * i)), 0);
    ASSERT_EQ(array.Add(array.GetRectangle(3)), 0);
    ASSERT_EQ(array.Add(InvalidRectangle()), 0);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(Of(array.GetRectangle(i)), (Box{i, -i, 10 * i, 20 * i}));
    EXPECT_EQ(Of(array.GetRectangle(30)), (Box{3, -3, 30, 60}));
    for (int outside : {31, -1, 32, 40})
        EXPECT_EQ(Of(array.GetRectangle(outside)), (Box{0, 0, 0, 0})) << outside;
    QNL_rectangle target = Rect(1, 2, 3, 4);
    EXPECT_EQ(target.Assign(InvalidRectangle()), -567);
    EXPECT_EQ(Of(target), (Box{1, 2, 3, 4}));
}

} // namespace
