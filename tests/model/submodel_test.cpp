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

std::vector<int> Items(const QNL_intArray& array) {
    return std::vector<int>(array.Items(), array.Items() + array.GetCount());
}

std::vector<int> Ordered(const QNL_submodelHandler& handler) {
    QNL_intArray out;
    out.Add(999); // emptied first
    EXPECT_EQ(handler.GetOrderedSubmodels(out), 0);
    return Items(out);
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
    std::vector<int> NodesOf(int handle) {
        QNL_intArray out;
        EXPECT_GE(Handler().GetNodesOfSubmodel(handle, out), 0);
        return Items(out);
    }

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
};

// ---------------------------------------------------------------------------------------
// The main submodel

TEST(SubmodelHandler, NewHandlerHoldsOnlyTheMainSubmodel) {
    QNL_submodelHandler handler;
    EXPECT_FALSE(handler.IsValid()); // no network yet
    EXPECT_EQ(handler.GetNumberOfSubmodels(), 1);
    EXPECT_EQ(handler.GetNumberOfSlots(), 1);
    EXPECT_EQ(IdOf(handler, MAIN), "Sub0");
    EXPECT_STREQ(handler.GetSubmodel(MAIN)->header.GetName(), "Sub0");
    EXPECT_EQ(handler.GetParent(MAIN), -8888);
    EXPECT_EQ(handler.GetSubmodel(0x4001), nullptr);

    // Without a network, the handler refuses to work on its tree.
    EXPECT_EQ(handler.CreateSubmodel(MAIN, "x"), -567);
    EXPECT_EQ(handler.DeleteSubmodel(MAIN), -567);
    EXPECT_EQ(handler.FindSubmodel("Sub0"), -567);
    EXPECT_EQ(handler.GetFirstSubmodel(), -2);

    QNL_network net;
    ASSERT_EQ(handler.Init(&net), 0);
    EXPECT_TRUE(handler.IsValid());
    EXPECT_EQ(handler.FindSubmodel("Sub0"), MAIN);
    EXPECT_EQ(handler.GetFirstSubmodel(), MAIN);
    EXPECT_EQ(handler.GetNextSubmodel(MAIN), -2);
}

TEST(SubmodelHandler, MainSubmodelAndDefaultsTakeTheStandardLook) {
    QNL_network net;
    QNL_submodelHandler handler;
    ASSERT_EQ(handler.Init(&net), 0);
    const QNL_submodel& main = *handler.GetSubmodel(MAIN);
    EXPECT_EQ(main.screen.position.width, 76);
    EXPECT_EQ(main.screen.position.height, 36);
    EXPECT_EQ(main.screen.color, 16250597);
    EXPECT_EQ(main.screen.selColor, 0xBBBBBB);
    EXPECT_EQ(main.screen.font, 1);
    EXPECT_EQ(main.screen.fontColor, 0);
    EXPECT_EQ(main.screen.borderThickness, 3);
    EXPECT_EQ(main.screen.borderColor, 0xBB0000);
    EXPECT_EQ(main.screen.flags, 3);
    EXPECT_EQ(main.windowBackground, 0xFFFFFF);

    const QNL_screenInfo& sub = handler.GetDefaultSubmodelScreenInfo();
    EXPECT_EQ(sub.borderThickness, 3);
    EXPECT_EQ(sub.color, 16250597);
    const QNL_screenInfo& node = handler.GetDefaultNodeScreenInfo();
    EXPECT_EQ(node.borderThickness, 1);
    EXPECT_EQ(node.position.width, 76);
    EXPECT_EQ(node.position.height, 36);
    EXPECT_EQ(node.borderColor, 0xBB0000);
    EXPECT_EQ(node.flags, 3);
}

TEST_F(Submodels, NetworkRenamesTheMainSubmodelAndNodesTakeTheDefaults) {
    EXPECT_EQ(IdOf(Handler(), MAIN), "Unnamed");
    EXPECT_EQ(Handler().GetParent(MAIN), -8888);
    EXPECT_EQ(Handler().DeleteSubmodel(MAIN), -2);
    EXPECT_EQ(Handler().GetNumberOfSubmodels(), 1);

    const int node = quarn_test::AddNode(net, "n");
    ASSERT_GE(node, 0);
    const QNL_screenInfo& screen = net.GetNode(node)->GetInfo()->screen;
    EXPECT_EQ(screen.position.width, 76);
    EXPECT_EQ(screen.borderThickness, 1);
    EXPECT_EQ(screen.color, 16250597);
    EXPECT_EQ(net.GetNode(node)->GetSubmodel(), MAIN);
}

// ---------------------------------------------------------------------------------------
// Creating

TEST_F(Submodels, CreatedSubmodelsAreNamedBySlotAndLookLikeTheDefault) {
    Handler().GetDefaultSubmodelScreenInfo().color = 1234;
    const int first = Create(MAIN);
    ASSERT_EQ(first, 0x4001);
    EXPECT_EQ(IdOf(Handler(), first), "Sub1");
    EXPECT_STREQ(Handler().GetSubmodel(first)->header.GetName(), "Sub1");
    EXPECT_EQ(Handler().GetSubmodel(first)->screen.color, 1234);
    EXPECT_EQ(Handler().GetSubmodel(first)->screen.borderThickness, 3);
    EXPECT_EQ(Handler().GetParent(first), MAIN);

    const int named = Create(first, "Engine");
    ASSERT_EQ(named, 0x4002);
    EXPECT_STREQ(Handler().GetSubmodel(named)->header.GetName(), "Engine");
    EXPECT_EQ(Handler().GetParent(named), first);
    // A handle without the flag names the same slot.
    EXPECT_EQ(Handler().GetParent(2), first);

    // An automatic name skips names already taken.
    ASSERT_EQ(Create(MAIN, "Sub3"), 0x4003);
    const int automatic = Create(MAIN);
    ASSERT_EQ(automatic, 0x4004);
    EXPECT_EQ(IdOf(Handler(), automatic), "Sub4");
    EXPECT_EQ(Handler().MakeSubmodelId(3), "Sub5");
    EXPECT_EQ(Handler().GetNumberOfSubmodels(), 5);
}

TEST_F(Submodels, BadParentOrUsedIdentifierCreatesNothing) {
    const int sub = Create(MAIN, "Box");
    ASSERT_GT(sub, 0);
    EXPECT_EQ(Create(MAIN, "Box"), -2);
    EXPECT_EQ(Create(MAIN, "Unnamed"), -2);
    EXPECT_EQ(Create(0x4005, "x"), -2); // free slot inside the table
    EXPECT_EQ(Create(0x4000 + 500, "x"), -2);
    EXPECT_EQ(Create(-1, "x"), -2);
    EXPECT_EQ(Handler().GetNumberOfSubmodels(), 2);
    EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
}

TEST_F(Submodels, InvalidIdentifierCreatesNothing) {
    EXPECT_EQ(Create(MAIN, "2x"), -1000);
    ASSERT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 1);
    EXPECT_STREQ(QNL_errorHandler::Instance().GetMessage(0), "Invalid identifier");
    EXPECT_EQ(Create(MAIN, ""), -1000);
    EXPECT_EQ(Handler().GetNumberOfSubmodels(), 1);
    EXPECT_EQ(Handler().GetSubmodel(0x4001), nullptr);
    EXPECT_EQ(Handler().GetNextSubmodel(MAIN), -2);
    // No slot was kept for it: the next submodel takes slot 1.
    EXPECT_EQ(Create(MAIN, "ok"), 0x4001);
}

TEST_F(Submodels, FreedSlotIsReusedBeforeTheTableGrows) {
    for (int i = 1; i <= 3; ++i)
        ASSERT_EQ(Create(MAIN), 0x4000 + i);
    const int slotsBefore = Handler().GetNumberOfSlots();
    ASSERT_EQ(Handler().DeleteSubmodel(0x4001), 0);
    EXPECT_EQ(Handler().GetSubmodel(0x4001), nullptr);
    EXPECT_EQ(Handler().GetParent(0x4001), -2);
    const int reused = Create(MAIN);
    EXPECT_EQ(reused, 0x4001);
    EXPECT_EQ(IdOf(Handler(), reused), "Sub1");
    EXPECT_EQ(Handler().GetNumberOfSlots(), slotsBefore);
}

TEST_F(Submodels, TableGrowsByTenAndHandlesStay) {
    EXPECT_EQ(Handler().GetNumberOfSlots(), 1);
    ASSERT_EQ(Create(MAIN, "first"), 0x4001);
    EXPECT_EQ(Handler().GetNumberOfSlots(), 11);
    for (int i = 2; i <= 10; ++i)
        ASSERT_EQ(Create(MAIN), 0x4000 + i);
    EXPECT_EQ(Handler().GetNumberOfSlots(), 11);
    ASSERT_EQ(Create(0x4001), 0x400B);
    EXPECT_EQ(Handler().GetNumberOfSlots(), 21);
    EXPECT_EQ(Handler().FindSubmodel("first"), 0x4001);
    EXPECT_EQ(Handler().GetParent(0x400B), 0x4001);
}

// ---------------------------------------------------------------------------------------
// Walking and finding

TEST_F(Submodels, IterationSkipsFreeSlots) {
    for (int i = 0; i < 4; ++i)
        Create(MAIN);
    Handler().DeleteSubmodel(0x4002);
    std::vector<int> seen;
    for (int h = Handler().GetFirstSubmodel(); h >= 0; h = Handler().GetNextSubmodel(h))
        seen.push_back(h);
    EXPECT_EQ(seen, (std::vector<int>{0x4000, 0x4001, 0x4003, 0x4004}));
    EXPECT_EQ(Handler().GetNextSubmodel(0x4002), -2);
    EXPECT_EQ(Handler().GetNextSubmodel(0x4004), -2);
    EXPECT_EQ(Handler().GetNumberOfSubmodels(), 4);
}

TEST_F(Submodels, FindingIsExactAndNullFindsNothing) {
    Create(MAIN, "Pump");
    EXPECT_EQ(Handler().FindSubmodel("Pump"), 0x4001);
    EXPECT_EQ(Handler().FindSubmodel("pump"), -2);
    EXPECT_EQ(Handler().FindSubmodel(nullptr), -2);
    EXPECT_EQ(Handler().IsSubmodelIdUsed("Pump"), 1);
    EXPECT_EQ(Handler().IsSubmodelIdUsed("Pum"), 0);
    EXPECT_EQ(Handler().IsSubmodelIdUsed(nullptr), 0);
    // The network sees submodel identifiers as taken for nodes.
    EXPECT_EQ(net.IsIdUsed("Pump"), 1);
    EXPECT_EQ(net.AddNode(QNL_TYPE_CPT, "Pump"), -2);
}

TEST_F(Submodels, BreadthFirstOrderListsEachLevelBeforeTheNext) {
    const int s1 = Create(MAIN);
    const int s2 = Create(MAIN);
    const int s3 = Create(s1);
    ASSERT_EQ(s3, 0x4003);
    EXPECT_EQ(Ordered(Handler()), (std::vector<int>{0x4000, 0x4001, 0x4002, 0x4003}));
    (void)s2;

    // A deep child in an early slot still comes after a later shallow one.
    const int s4 = Create(s3);
    ASSERT_EQ(Handler().DeleteSubmodel(s1), 0); // s3 moves under the main submodel
    const int s1again = Create(s4);             // slot 1, depth 3
    ASSERT_EQ(s1again, 0x4001);
    EXPECT_EQ(Ordered(Handler()), (std::vector<int>{0x4000, 0x4002, 0x4003, 0x4004, 0x4001}));

    QNL_intArray children;
    children.Add(77);
    EXPECT_EQ(Handler().GetChildSubmodels(MAIN, children), 2);
    EXPECT_EQ(Items(children), (std::vector<int>{77, 0x4002, 0x4003}));
    EXPECT_EQ(Handler().GetChildSubmodels(0x4005, children), -2);
}

// ---------------------------------------------------------------------------------------
// Deleting and moving

TEST_F(Submodels, DeletingMovesChildSubmodelsAndNodesUp) {
    const int outer = Create(MAIN, "Outer");
    const int middle = Create(outer, "Middle");
    const int inner = Create(middle, "Inner");
    const int side = Create(MAIN, "Side");
    const int a = quarn_test::AddNode(net, "a");
    const int b = quarn_test::AddNode(net, "b");
    const int c = quarn_test::AddNode(net, "c");
    const int d = quarn_test::AddNode(net, "d");
    ASSERT_EQ(net.GetNode(a)->SetSubmodel(middle), 0);
    ASSERT_EQ(net.GetNode(b)->SetSubmodel(inner), 0);
    ASSERT_EQ(net.GetNode(c)->SetSubmodel(middle), 0);
    ASSERT_EQ(net.GetNode(d)->SetSubmodel(side), 0);
    EXPECT_EQ(NodesOf(middle), (std::vector<int>{a, c}));

    ASSERT_EQ(Handler().DeleteSubmodel(middle), 0);
    EXPECT_EQ(Handler().GetSubmodel(middle), nullptr);
    EXPECT_EQ(Handler().GetParent(inner), outer);
    EXPECT_EQ(NodesOf(outer), (std::vector<int>{a, c}));
    EXPECT_EQ(NodesOf(inner), (std::vector<int>{b}));
    EXPECT_EQ(NodesOf(side), (std::vector<int>{d}));
    EXPECT_EQ(NodesOf(MAIN), (std::vector<int>{}));
    QNL_intArray unused;
    EXPECT_EQ(Handler().GetNodesOfSubmodel(middle, unused), -2);

    ASSERT_EQ(Handler().DeleteSubmodel(outer), 0);
    EXPECT_EQ(Handler().GetParent(inner), MAIN);
    EXPECT_EQ(NodesOf(MAIN), (std::vector<int>{a, c}));
    EXPECT_EQ(Handler().DeleteSubmodel(outer), -2);
    EXPECT_EQ(Handler().DeleteSubmodel(0x4000 + 99), -2);
    EXPECT_EQ(Handler().GetNumberOfSubmodels(), 3);
}

TEST_F(Submodels, MovingUnderItsOwnSubtreeIsRefused) {
    const int s1 = Create(MAIN);
    const int s2 = Create(s1);
    const int s3 = Create(s2);
    const int other = Create(MAIN);
    EXPECT_EQ(Handler().SetSubmodel(MAIN, s1), -2);
    EXPECT_EQ(Handler().SetSubmodel(s1, s1), -2);
    EXPECT_EQ(Handler().SetSubmodel(s1, s3), -2);
    EXPECT_EQ(Handler().SetSubmodel(s1, s2), -2);
    EXPECT_EQ(Handler().SetSubmodel(s1, 0x4009), -2);
    EXPECT_EQ(Handler().SetSubmodel(0x4009, MAIN), -2);
    EXPECT_EQ(Handler().GetParent(s1), MAIN);

    ASSERT_EQ(Handler().SetSubmodel(s2, other), 0);
    EXPECT_EQ(Handler().GetParent(s2), other);
    EXPECT_EQ(Handler().IsDescendantOf(s3, other), 1);
    EXPECT_EQ(Handler().IsDescendantOf(s3, s1), 0);
    // Now s1 may go under what used to be its own subtree.
    EXPECT_EQ(Handler().SetSubmodel(s1, s3), 0);
    EXPECT_EQ(Handler().IsDescendantOf(s1, other), 1);
    EXPECT_EQ(Handler().IsDescendantOf(s1, MAIN), 1);
    EXPECT_EQ(Handler().IsDescendantOf(MAIN, s1), 0);
    EXPECT_EQ(Handler().IsDescendantOf(s1, s1), 0);
    EXPECT_EQ(Handler().IsDescendantOf(s1, 0x4009), -2);
}

// Random edits against a plain parent map, checked through every query of the tree.
TEST_F(Submodels, RandomEditsMatchAParentMapModel) {
    std::mt19937 random(2024);
    std::map<int, int> parent; // slot -> parent slot
    parent[0] = -1;
    auto lowestFree = [&] {
        int slot = 0;
        while (parent.count(slot) != 0)
            ++slot;
        return slot;
    };
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
            const int expected = lowestFree();
            ASSERT_EQ(Create(under + 0x4000), expected + 0x4000) << step;
            parent[expected] = under;
        } else if (action == 1) {
            const int victim = pick();
            const int result = Handler().DeleteSubmodel(victim + 0x4000);
            if (victim == 0) {
                ASSERT_EQ(result, -2);
                continue;
            }
            ASSERT_EQ(result, 0);
            for (auto& entry : parent)
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

        std::vector<int> expectedOrder;
        std::deque<int> queue{0};
        while (!queue.empty()) {
            const int slot = queue.front();
            queue.pop_front();
            expectedOrder.push_back(slot + 0x4000);
            for (const auto& entry : parent)
                if (entry.second == slot) queue.push_back(entry.first);
        }
        ASSERT_EQ(Ordered(Handler()), expectedOrder) << step;
    }
}

TEST_F(Submodels, ResetKeepsOnlyAFreshMainSubmodelAndGathersTheNodes) {
    const int s1 = Create(MAIN);
    Create(s1);
    const int node = quarn_test::AddNode(net, "n");
    ASSERT_EQ(net.GetNode(node)->SetSubmodel(s1), 0);
    ASSERT_EQ(Handler().Reset(), 0);
    EXPECT_TRUE(Handler().IsValid());
    EXPECT_EQ(Handler().GetNumberOfSubmodels(), 1);
    EXPECT_EQ(IdOf(Handler(), MAIN), "Sub0");
    EXPECT_EQ(net.GetNode(node)->GetSubmodel(), MAIN);
    EXPECT_EQ(Create(MAIN), 0x4001);
    EXPECT_EQ(NodesOf(0x4001), (std::vector<int>{}));
}

// ---------------------------------------------------------------------------------------
// Copies

TEST_F(Submodels, AssignMakesADeepCopyOfTheTreeAndItsDefaults) {
    const int s1 = Create(MAIN, "Left");
    const int s2 = Create(MAIN, "Right");
    const int s3 = Create(s1, "Deep");
    Handler().DeleteSubmodel(s2); // a free slot inside the copy
    QNL_submodel& left = *Handler().GetSubmodel(s1);
    left.header.SetComment("left box");
    left.windowPosition.width = 640;
    left.windowBackground = 0x123456;
    QNL_rectangle where;
    where.x = 3;
    ASSERT_EQ(left.comments.Add(where, "remember"), 0);
    Handler().GetDefaultNodeScreenInfo().color = 11;
    Handler().GetDefaultSubmodelScreenInfo().color = 22;

    QNL_network other;
    QNL_submodelHandler& copy = other.GetSubmodelHandler();
    ASSERT_EQ(copy.Assign(Handler()), 0);
    EXPECT_FALSE(copy.IsValid()); // until its network sets itself
    copy.SetNetwork(&other);
    ASSERT_TRUE(copy.IsValid());

    EXPECT_EQ(copy.GetNumberOfSubmodels(), 3);
    EXPECT_EQ(copy.GetNumberOfSlots(), Handler().GetNumberOfSlots());
    EXPECT_EQ(copy.GetSubmodel(s2), nullptr);
    EXPECT_EQ(copy.GetParent(s3), s1);
    EXPECT_EQ(IdOf(copy, MAIN), "Unnamed");
    const QNL_submodel& copiedLeft = *copy.GetSubmodel(s1);
    EXPECT_NE(&copiedLeft, &left);
    EXPECT_STREQ(copiedLeft.header.GetComment(), "left box");
    EXPECT_EQ(copiedLeft.windowPosition.width, 640);
    EXPECT_EQ(copiedLeft.windowBackground, 0x123456);
    ASSERT_EQ(copiedLeft.comments.GetCount(), 1);
    EXPECT_STREQ(copiedLeft.comments.GetTexts().GetString(0), "remember");
    EXPECT_EQ(copiedLeft.comments.GetRectangles().GetRectangle(0).x, 3);
    EXPECT_EQ(copy.GetDefaultNodeScreenInfo().color, 11);
    EXPECT_EQ(copy.GetDefaultSubmodelScreenInfo().color, 22);

    // Edits on either side stay on that side.
    left.header.SetName("renamed");
    ASSERT_EQ(Handler().DeleteSubmodel(s3), 0);
    EXPECT_STREQ(copiedLeft.header.GetName(), "Left");
    EXPECT_EQ(IdOf(copy, s3), "Deep");
    EXPECT_EQ(copy.CreateSubmodel(MAIN, nullptr), s2);

    EXPECT_EQ(copy.Assign(copy), 0);
    EXPECT_EQ(copy.GetNumberOfSubmodels(), 4);
    QNL_submodelHandler detached;
    EXPECT_EQ(copy.Assign(detached), -567);
    EXPECT_EQ(copy.GetNumberOfSubmodels(), 4);
}

TEST_F(Submodels, CopiedNetworkKeepsTreeAndNodePlacement) {
    const int s1 = Create(MAIN, "Box");
    const int node = quarn_test::AddNode(net, "inside");
    ASSERT_EQ(net.GetNode(node)->SetSubmodel(s1), 0);
    const QNL_network copy(net);
    ASSERT_TRUE(copy.IsValid());
    QNL_submodelHandler& handler = copy.GetSubmodelHandler();
    EXPECT_TRUE(handler.IsValid());
    EXPECT_EQ(handler.FindSubmodel("Box"), s1);
    QNL_intArray nodes;
    EXPECT_EQ(handler.GetNodesOfSubmodel(s1, nodes), 1);
    EXPECT_EQ(Items(nodes), (std::vector<int>{node}));
    EXPECT_NE(handler.GetSubmodel(s1), Handler().GetSubmodel(s1));
}

TEST(Submodel, AssignReplacesTheScreenComments) {
    QNL_submodel source;
    source.header.SetId("S");
    QNL_rectangle where;
    where.width = 20;
    source.comments.Add(where, "hello");

    QNL_submodel target;
    target.comments.Add(where, "old");
    target.comments.Add(where, "older");
    ASSERT_EQ(target.Assign(source), 0);
    EXPECT_STREQ(target.header.GetId(), "S");
    ASSERT_EQ(target.comments.GetCount(), 1);
    EXPECT_STREQ(target.comments.GetTexts().GetString(0), "hello");
    EXPECT_EQ(target.comments.GetRectangles().GetRectangle(0).width, 20);
}

} // namespace
