#include "model/submodel.h"

#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int MAIN = QNL_submodelHandler::MAIN_HANDLE;
using Handles = std::vector<int>;

Handles Items(const QNL_intArray& array) {
    return Handles(array.Items(), array.Items() + array.GetCount());
}

std::string IdOf(const QNL_submodelHandler& handler, int handle) {
    const QNL_submodel* submodel = handler.GetSubmodel(handle);
    return submodel != nullptr && submodel->header.GetId() != nullptr ? submodel->header.GetId()
                                                                      : "<none>";
}

class Submodels : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }

    QNL_submodelHandler& Handler() { return net.GetSubmodelHandler(); }
    int Create(int parent, const char* id = nullptr) {
        return Handler().CreateSubmodel(parent, id);
    }
    Handles NodesOf(int handle) {
        QNL_intArray out;
        EXPECT_GE(Handler().GetNodesOfSubmodel(handle, out), 0);
        return Items(out);
    }
    Handles Ordered() {
        QNL_intArray out;
        out.Add(999); // emptied first
        EXPECT_EQ(Handler().GetOrderedSubmodels(out), 0);
        return Items(out);
    }
    int AddNodeIn(const char* id, int submodel) {
        const int node = quarn_test::AddNode(net, id);
        EXPECT_EQ(net.GetNode(node)->SetSubmodel(submodel), 0);
        return node;
    }

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
};

// Created submodels are named by slot (skipping taken names) and take the default look;
// a bad parent or identifier creates nothing and keeps no slot; walking and finding skip
// free slots and match names exactly; submodel identifiers are taken for nodes too.
TEST_F(Submodels, CreatingWalkingAndFinding) {
    EXPECT_EQ(IdOf(Handler(), MAIN), "Unnamed");
    EXPECT_EQ(Handler().DeleteSubmodel(MAIN), -2);
    Handler().GetDefaultSubmodelScreenInfo().color = 1234;
    Handler().GetDefaultNodeScreenInfo().color = 4321;
    const int first = Create(MAIN);
    ASSERT_EQ(first, 0x4001);
    EXPECT_EQ(IdOf(Handler(), first) + Handler().GetSubmodel(first)->header.GetName(), "Sub1Sub1");
    EXPECT_EQ(Handler().GetSubmodel(first)->screen.color, 1234);
    EXPECT_EQ(net.GetNode(AddNodeIn("n", MAIN))->GetInfo()->screen.color, 4321);
    ASSERT_EQ(Create(first, "Engine"), 0x4002);
    EXPECT_EQ(Handler().GetParent(2), first) << "a handle without the flag names the same slot";
    ASSERT_EQ(Create(MAIN, "Sub3"), 0x4003);
    EXPECT_EQ(IdOf(Handler(), Create(MAIN)), "Sub4");
    EXPECT_EQ(Handler().MakeSubmodelId(3), "Sub5");
    for (const auto& [parent, id] : std::vector<std::pair<int, const char*>>{
             {MAIN, "Engine"}, {MAIN, "Unnamed"}, {0x4009, "x"}, {0x4000 + 500, "x"}, {-1, "x"}})
        EXPECT_EQ(Create(parent, id), -2) << id;
    EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
    EXPECT_EQ(Create(MAIN, "2x"), -1000);
    EXPECT_STREQ(QNL_errorHandler::Instance().GetMessage(0), "Invalid identifier");
    EXPECT_EQ(Create(MAIN, ""), -1000);
    ASSERT_EQ(Handler().DeleteSubmodel(0x4002), 0);
    Handles seen;
    for (int h = Handler().GetFirstSubmodel(); h >= 0; h = Handler().GetNextSubmodel(h))
        seen.push_back(h);
    EXPECT_EQ(seen, (Handles{0x4000, 0x4001, 0x4003, 0x4004}));
    EXPECT_EQ(Handler().GetNextSubmodel(0x4002), -2);
    QNL_intArray children;
    children.Add(77);
    EXPECT_EQ(Handler().GetChildSubmodels(MAIN, children), 3);
    EXPECT_EQ(Items(children), (Handles{77, 0x4001, 0x4003, 0x4004}));
    EXPECT_EQ(Handler().GetChildSubmodels(0x4002, children), -2);
    EXPECT_EQ(Handler().GetNodesOfSubmodel(0x4002, children), -2);
    ASSERT_EQ(Create(MAIN, "Pump"), 0x4002);
    EXPECT_EQ(Handler().FindSubmodel("pump"), -2);
    EXPECT_EQ(Handler().FindSubmodel(nullptr), -2);
    EXPECT_EQ(Handler().IsSubmodelIdUsed("Pum"), 0);
    EXPECT_EQ(net.AddNode(QNL_TYPE_CPT, "Pump"), -2);
    EXPECT_EQ(Handler().SetSubmodel(0x4009, MAIN), -2);
    EXPECT_EQ(Handler().SetSubmodel(0x4001, 0x4009), -2);
    EXPECT_EQ(Handler().IsDescendantOf(0x4001, 0x4009), -2);
    QNL_submodelHandler loose; // without a network the tree is refused
    EXPECT_EQ(loose.CreateSubmodel(MAIN, "x"), -567);
    EXPECT_EQ(loose.FindSubmodel("Sub0"), -567);
}

// Random edits against a plain parent map, checked through every query of the tree; each new
// submodel gets a node, which a deleted submodel hands up to its parent. A reset gathers every
// node in a fresh main submodel.
TEST_F(Submodels, RandomEditsMatchAParentMapModel) {
    std::mt19937 random(2024);
    std::map<int, int> parent; // slot -> parent slot
    std::map<int, int> home;   // node -> slot
    parent[0] = -1;
    auto ancestor = [&](int slot, int candidate) {
        for (int p = parent.at(slot); p >= 0; p = parent.at(p))
            if (p == candidate) return true;
        return false;
    };
    auto pick = [&] {
        auto it = parent.begin();
        std::advance(it, static_cast<long>(random() % parent.size()));
        return it->first;
    };
    for (int step = 0; step < 600; ++step) {
        const int action = static_cast<int>(random() % 3);
        if (action == 0 || parent.size() < 3) {
            const int under = pick();
            int expected = 0; // the lowest free slot is reused first
            while (parent.count(expected) != 0)
                ++expected;
            ASSERT_EQ(Create(under + 0x4000), expected + 0x4000) << step;
            parent[expected] = under;
            home[AddNodeIn(("n" + std::to_string(step)).c_str(), expected + 0x4000)] = expected;
        } else if (action == 1) {
            const int victim = pick();
            ASSERT_EQ(Handler().DeleteSubmodel(victim + 0x4000), victim == 0 ? -2 : 0);
            if (victim == 0) continue;
            for (std::map<int, int>* up : {&parent, &home})
                for (auto& entry : *up)
                    if (entry.second == victim) entry.second = parent[victim];
            parent.erase(victim);
        } else {
            const int moved = pick();
            const int under = pick();
            const bool allowed = moved != 0 && moved != under && !ancestor(under, moved);
            ASSERT_EQ(Handler().SetSubmodel(moved + 0x4000, under + 0x4000), allowed ? 0 : -2);
            if (allowed) parent[moved] = under;
        }

        ASSERT_EQ(Handler().GetNumberOfSubmodels(), static_cast<int>(parent.size()));
        for (const auto& entry : parent) {
            const int expectedParent = entry.second < 0 ? -8888 : entry.second + 0x4000;
            ASSERT_EQ(Handler().GetParent(entry.first + 0x4000), expectedParent);
        }
        const int a = pick();
        const int b = pick();
        ASSERT_EQ(Handler().IsDescendantOf(a + 0x4000, b + 0x4000), ancestor(a, b) ? 1 : 0);
        Handles inside;
        for (const auto& [node, slot] : home)
            if (slot == a) inside.push_back(node);
        ASSERT_EQ(NodesOf(a + 0x4000), inside) << step;

        Handles expectedOrder; // breadth first
        std::deque<int> queue{0};
        while (!queue.empty()) {
            const int slot = queue.front();
            queue.pop_front();
            expectedOrder.push_back(slot + 0x4000);
            for (const auto& entry : parent)
                if (entry.second == slot) queue.push_back(entry.first);
        }
        ASSERT_EQ(Ordered(), expectedOrder) << step;
    }
    ASSERT_EQ(Handler().Reset(), 0);
    EXPECT_EQ(Handler().GetNumberOfSubmodels(), 1);
    EXPECT_EQ(IdOf(Handler(), MAIN), "Sub0");
    EXPECT_EQ(NodesOf(MAIN).size(), home.size());
}

// A copied network's tree is deep: free slots, parents, node placement, texts, window,
// screen comments and the default looks; edits on either side stay on that side.
TEST_F(Submodels, CopiesAreDeepAndKeepTreeDefaultsAndNodePlacement) {
    const int s1 = Create(MAIN, "Left");
    const int s2 = Create(MAIN, "Right");
    const int s3 = Create(s1, "Deep");
    Handler().DeleteSubmodel(s2); // a free slot inside the copy
    QNL_submodel& left = *Handler().GetSubmodel(s1);
    left.header.SetComment("left box");
    left.windowPosition.width = 640;
    QNL_rectangle where;
    where.x = 3;
    ASSERT_EQ(left.comments.Add(where, "remember"), 0);
    Handler().GetDefaultNodeScreenInfo().color = 11;
    Handler().GetDefaultSubmodelScreenInfo().color = 22;
    const int node = AddNodeIn("inside", s3);
    const QNL_network copy(net);
    QNL_submodelHandler& copied = copy.GetSubmodelHandler();
    ASSERT_TRUE(copied.IsValid());
    const QNL_submodel& twin = *copied.GetSubmodel(s1);
    ASSERT_NE(&twin, &left);
    auto describe = [&](QNL_submodelHandler& h, const QNL_submodel& sub) {
        return std::vector<std::string>{
            std::to_string(h.GetNumberOfSlots()),
            std::to_string(h.GetSubmodel(s2) == nullptr),
            std::to_string(h.GetParent(s3)),
            sub.header.GetName(),
            sub.header.GetComment(),
            std::to_string(sub.windowPosition.width),
            sub.comments.GetTexts().GetString(0),
            std::to_string(sub.comments.GetRectangles().GetRectangle(0).x),
            std::to_string(h.GetDefaultNodeScreenInfo().color),
            std::to_string(h.GetDefaultSubmodelScreenInfo().color)};
    };
    EXPECT_EQ(describe(copied, twin), describe(Handler(), left));
    QNL_intArray nodes;
    EXPECT_EQ(copied.GetNodesOfSubmodel(s3, nodes), 1);
    EXPECT_EQ(Items(nodes), (Handles{node}));
    left.header.SetName("renamed");
    ASSERT_EQ(Handler().DeleteSubmodel(s3), 0);
    EXPECT_STREQ(twin.header.GetName(), "Left");
    EXPECT_EQ(IdOf(copied, s3), "Deep");
    EXPECT_EQ(copied.CreateSubmodel(MAIN, nullptr), s2);

    QNL_network other;
    ASSERT_EQ(other.GetSubmodelHandler().Assign(copied), 0);
    EXPECT_FALSE(other.GetSubmodelHandler().IsValid()); // until its network sets itself
    QNL_submodelHandler detached;
    EXPECT_EQ(copied.Assign(detached), -567);
    EXPECT_EQ(copied.Assign(copied), 0);
    EXPECT_EQ(copied.GetNumberOfSubmodels(), 4);
    // A single submodel's copy replaces its screen comments.
    QNL_submodel target;
    target.comments.Add(where, "old");
    target.comments.Add(where, "older");
    ASSERT_EQ(target.Assign(twin), 0);
    ASSERT_EQ(target.comments.GetCount(), 1);
    EXPECT_STREQ(target.comments.GetTexts().GetString(0), "remember");
}

} // namespace
