// The work of building and renaming, counted in slots walked over, moved or told
// (GetSlotVisits) rather than timed: each operation must cost what it touches, so doing it for
// every node of a network grows with the network, not with its square.

#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using quarn_test::BuildLargeNetwork;

// The table's size follows its step exactly (the size a network reports), whatever its
// storage does, and handles are the slots in the order nodes came.
int ExpectedTableSize(int size, int growth, int nodes) {
    if (nodes <= size) return size;
    return size + (nodes - size + growth - 1) / growth * growth;
}

TEST(NetworkWork, TableGrowsByItsStepWhileItsStorageMovesEachSlotAFewTimes) {
    struct Case {
        int size, growth, nodes;
    };
    for (const Case& c : {Case{50, 50, 3000}, Case{1, 1, 2000}, Case{10, 7, 2500}}) {
        SCOPED_TRACE(std::to_string(c.size) + "/" + std::to_string(c.growth));
        QNL_network net;
        ASSERT_EQ(net.Init(c.size, c.growth), 0);
        const std::uint64_t before = net.GetSlotVisits();
        for (int i = 0; i < c.nodes; ++i) {
            ASSERT_EQ(net.AddNode(QNL_TYPE_CPT, ("n" + std::to_string(i)).c_str()), i);
            ASSERT_EQ(net.GetTableSize(), ExpectedTableSize(c.size, c.growth, i + 1)) << i;
        }
        // Doubling storage moves fewer than two slots per node; a copy of every slot per step
        // would move nodes * nodes / (2 * growth).
        EXPECT_LE(net.GetSlotVisits() - before, static_cast<std::uint64_t>(2 * c.nodes + c.size));
        for (int i = 0; i < c.nodes; i += 97)
            EXPECT_STREQ(net.GetNode(i)->GetId(), ("n" + std::to_string(i)).c_str());
        // A freed slot is taken again before the table grows.
        ASSERT_EQ(net.DeleteNode(c.nodes / 2), 0);
        EXPECT_EQ(net.AddNode(QNL_TYPE_CPT, "again"), c.nodes / 2);
    }
}

TEST(NetworkWork, ReservedStorageLetsTheTableTakeItsStepsWithoutMovingASlot) {
    QNL_network net;
    ASSERT_EQ(net.AddNode(QNL_TYPE_CPT, "first"), 0);
    ASSERT_EQ(net.ReserveSlots(999), 0);
    EXPECT_EQ(net.GetTableSize(), 50);
    const std::uint64_t reserved = net.GetSlotVisits();
    for (int i = 1; i < 1000; ++i)
        ASSERT_EQ(net.AddNode(QNL_TYPE_CPT, ("n" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(net.GetSlotVisits(), reserved);
    EXPECT_EQ(net.GetTableSize(), 1000);
    // Past the reserve the storage grows again, the table by its step.
    ASSERT_EQ(net.AddNode(QNL_TYPE_CPT, "past"), 1000);
    EXPECT_EQ(net.GetTableSize(), 1050);
}

// After deletions, a new node takes the slot whose index is the node count when that is
// free, else the first free slot (the oracle keeps the free slots in order). Refilling the
// freed half of a network costs each addition the slots it passes, not a scan from slot 0.
TEST(NetworkWork, FreedSlotsAreTakenInTheirOrderWithoutAScanFromTheFirstSlot) {
    for (bool lowerHalf : {true, false}) {
        SCOPED_TRACE(lowerHalf ? "lower half freed" : "random half freed");
        std::uint64_t work[2] = {0, 0};
        const int sizes[2] = {500, 2000};
        for (int s = 0; s < 2; ++s) {
            const int nodes = sizes[s];
            QNL_network net;
            for (int h = 0; h < nodes; ++h)
                ASSERT_EQ(net.AddNode(QNL_TYPE_CPT, ("n" + std::to_string(h)).c_str()), h);
            quarn_test::TestRandom random(static_cast<std::uint64_t>(s) + 3);
            std::set<int> free;
            for (int h = 0; h < nodes; ++h)
                if (lowerHalf ? h < nodes / 2 : random.Below(2) == 0) free.insert(h);
            for (int h : free)
                ASSERT_EQ(net.DeleteNode(h), 0);
            for (int i = 0; i < nodes; ++i) {
                const std::uint64_t before = net.GetSlotVisits();
                const int count = net.GetNumberOfNodes();
                const int size = net.GetTableSize();
                // A full table grows, and the new node takes the first new slot.
                const int expected = count == size            ? size
                                     : free.count(count) != 0 ? count
                                                              : *free.begin();
                ASSERT_EQ(net.AddNode(QNL_TYPE_CPT, ("m" + std::to_string(i)).c_str()), expected)
                    << i;
                work[s] += net.GetSlotVisits() - before;
                for (int h = size; h < net.GetTableSize(); ++h)
                    free.insert(h);
                free.erase(expected);
                // Now and then a slot is freed again (the deletion's own work not counted).
                if (i % 7 == 3) {
                    const int gone = random.Below(net.GetTableSize());
                    if (net.IsValidNodeHandle(gone)) {
                        ASSERT_EQ(net.DeleteNode(gone), 0);
                        free.insert(gone);
                    }
                }
            }
            EXPECT_LE(work[s], static_cast<std::uint64_t>(4 * nodes));
        }
        EXPECT_LE(work[1], 5 * work[0]);
    }
}

// The slots `build` walks over making networks of 1,000 and of 4,000 nodes: a few per node,
// and four times the nodes cost about four times the work.
void ExpectBuildingWalksNoTablePerNode(const std::function<void(QNL_network&, int)>& build) {
    std::uint64_t work[2] = {0, 0};
    const int sizes[2] = {1000, 4000};
    for (int s = 0; s < 2; ++s) {
        QNL_network net;
        const std::uint64_t before = net.GetSlotVisits();
        build(net, sizes[s]);
        work[s] = net.GetSlotVisits() - before;
        EXPECT_LE(work[s], static_cast<std::uint64_t>(4 * sizes[s])) << sizes[s];
    }
    EXPECT_LE(work[1], 5 * work[0]);
}

// Per node, building adds a node, gives it outcomes and arcs from nodes made before it: work
// that does not depend on how many nodes are there already.
TEST(NetworkWork, BuildingAChainOrARandomNetworkWalksNoTablePerNode) {
    for (bool random : {false, true}) {
        SCOPED_TRACE(random ? "random" : "chain");
        ExpectBuildingWalksNoTablePerNode(
            [&](QNL_network& net, int nodes) { BuildLargeNetwork(net, nodes, random); });
    }
}

// Renaming every node tells each node's children and nothing else in a network without
// equations; the identifiers are found under their new names only.
TEST(NetworkWork, RenamingEveryNodeTellsItsChildrenOnly) {
    for (bool random : {false, true}) {
        SCOPED_TRACE(random ? "random" : "chain");
        QNL_network net;
        const int nodes = 3000;
        BuildLargeNetwork(net, nodes, random);
        std::uint64_t children = 0;
        for (int h = 0; h < nodes; ++h)
            children += static_cast<std::uint64_t>(net.GetChildren(h).GetCount());
        const std::uint64_t before = net.GetSlotVisits();
        for (int h = 0; h < nodes; ++h)
            ASSERT_EQ(net.GetNode(h)->SetId(("r" + std::to_string(h)).c_str()), 0);
        EXPECT_EQ(net.GetSlotVisits() - before, children);
        for (int h = 0; h < nodes; h += 101) {
            EXPECT_EQ(net.FindNode(("r" + std::to_string(h)).c_str()), h);
            EXPECT_EQ(net.FindNode(("N" + std::to_string(h)).c_str()), -2);
        }
    }
}

// The same with each node's table given as it is made, the storage reserved first or not: a
// table edit asks which nodes are decisions or utilities, and the answer is kept while the
// table takes its steps.
TEST(NetworkWork, BuildingWithTablesGivenOnTheWayWalksNoTablePerNode) {
    for (bool reserved : {false, true}) {
        SCOPED_TRACE(reserved ? "reserved" : "growing");
        ExpectBuildingWalksNoTablePerNode([&](QNL_network& net, int nodes) {
            if (reserved) {
                EXPECT_EQ(net.ReserveSlots(nodes), 0);
            }
            for (int i = 0; i < nodes; ++i) {
                std::vector<int> parents;
                for (int back : {1, 3})
                    if (i >= back) parents.push_back(i - back);
                quarn_test::AddBinaryNode(
                    net, ("n" + std::to_string(i)).c_str(), parents,
                    std::vector<double>(std::size_t{1} << parents.size(), 0.3));
            }
        });
    }
}

// A hidden chain built with each observed child's finding entered on the way, every node given
// its outcome count: with findings held, an outcome count once looked among all nodes for
// values indexed by the node, which only a diagram's solve or an unrolling makes.
TEST(NetworkWork, BuildingWithFindingsOnTheWayWalksNoTablePerNode) {
    ExpectBuildingWalksNoTablePerNode([](QNL_network& net, int nodes) {
        int hidden = -1;
        for (int t = 0; 2 * t + 1 < nodes; ++t) {
            const std::vector<int> parents =
                hidden < 0 ? std::vector<int>{} : std::vector<int>{hidden};
            const int h = net.AddNode(QNL_TYPE_CPT, ("H" + std::to_string(t)).c_str());
            const int o = net.AddNode(QNL_TYPE_CPT, ("O" + std::to_string(t)).c_str());
            for (int node : {h, o})
                EXPECT_EQ(net.GetNode(node)->GetDefinition()->SetNumberOfOutcomes(2), 0);
            if (hidden >= 0) {
                EXPECT_EQ(net.AddArc(hidden, h), 0);
            }
            EXPECT_EQ(net.AddArc(h, o), 0);
            EXPECT_EQ(net.GetNode(o)->GetValue()->SetEvidence(t % 2), 0);
            hidden = h;
        }
    });
}

} // namespace
