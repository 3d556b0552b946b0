#include "definitions/node_value.h"
#include "inference/temporal_unrolling.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "model/temporal_network.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"
#include "support/temp_folder.h"
#include "support/temporal_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using quarn_test::ArrayOf;
using quarn_test::FillRandom;
using quarn_test::IntsOf;
using quarn_test::StringsOf;
using quarn_test::TestRandom;
using quarn_test::UnrollByHand;
using quarn_test::ValuesOf;

constexpr int kCpt = QNL_TYPE_CPT;

std::vector<std::string> ParentIds(const QNL_network& net, int node) {
    std::vector<std::string> out;
    const QNL_intArray& parents = net.GetParents(node);
    for (int i = 0; i < parents.GetCount(); ++i)
        out.push_back(net.GetNode(parents[i])->GetId());
    return out;
}

class TemporalTest : public quarn_test::NetworkFixture {
protected:
    int Plate(const char* id, int outcomes = 2) {
        const int h = AddWithOutcomes(kCpt, id, outcomes);
        EXPECT_EQ(net.SetTemporalType(h, 3), 0);
        return h;
    }
    int Unroll(QNL_network& out) {
        quarn::detail::SliceCopies where;
        return quarn::detail::UnrollTemporalNetwork(net, out, where);
    }
    QNL_temporalNetwork& Ext() { return net.GetTemporalNetwork(); }
};

TEST_F(TemporalTest, AnchorFeedsSliceZeroNormalFeedsEverySliceTerminalTheLast) {
    const int a = Add(kCpt, "A");
    const int n = Add(kCpt, "N");
    const int x = Plate("X");
    const int t = Add(kCpt, "T");
    ASSERT_EQ(net.SetTemporalType(a, 1), 0);
    ASSERT_EQ(net.SetTemporalType(t, 2), 0);
    ASSERT_EQ(net.AddArc(a, x), 0);
    ASSERT_EQ(net.AddArc(n, x), 0);
    ASSERT_EQ(net.AddArc(x, t), 0);
    ASSERT_EQ(net.SetNumberOfSlices(3), 0);
    QNL_network u;
    EXPECT_EQ(Unroll(u), -2) << "later slices would take a table over the anchor";
    EXPECT_NE(quarn_test::LastMessage().find("[X]"), std::string::npos);

    ASSERT_EQ(net.AddTemporalArc(x, x, 1), 0);
    EXPECT_EQ(Ext().GetTemporalDefinition(x, 1)->GetSize(), 8) << "N, X(t-1), X: not the anchor";
    ASSERT_EQ(Unroll(u), 0);

    // Turning the anchor into a normal node makes it join the temporal definition.
    ASSERT_EQ(net.SetTemporalType(a, 0), 0);
    EXPECT_EQ(Ext().GetTemporalDefinition(x, 1)->GetSize(), 16);
    ASSERT_EQ(net.SetTemporalType(a, 1), 0);
    EXPECT_EQ(Ext().GetTemporalDefinition(x, 1)->GetSize(), 8);
}

TEST_F(TemporalTest, CopyNamesClashingWithExistingIdsGetAutomaticOnes) {
    const int x = Plate("X");
    Add(kCpt, "X_1");
    ASSERT_EQ(net.SetNumberOfSlices(2), 0);
    ASSERT_EQ(net.SetTarget(x), 0);
    QNL_network u;
    quarn::detail::SliceCopies where;
    ASSERT_EQ(quarn::detail::UnrollTemporalNetwork(net, u, where), 0);
    const int copy = where.CopyOf(1, 0);
    EXPECT_STRNE(u.GetNode(copy)->GetId(), "X_1");
    EXPECT_EQ(u.IsTarget(copy), 1);
}

// A utility or equation node has no outcome identifiers for its temporal definition to take
// over; the arc once dereferenced the missing list.
TEST_F(TemporalTest, TemporalArcIntoANodeWithoutOutcomes) {
    const int x = Plate("X");
    const int e = Add(QNL_TYPE_EQUATION, "E");
    ASSERT_EQ(net.SetTemporalType(e, 3), 0);
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.SetTemporalType(u, 3), 0);
    const int f = Add(QNL_TYPE_EQUATION, "F");
    ASSERT_EQ(net.SetTemporalType(f, 3), 0);
    for (auto arc : {std::pair<int, int>{x, u}, {e, f}}) {
        ASSERT_EQ(net.AddTemporalArc(arc.first, arc.second, 1), 0) << arc.second;
        QNL_intArray orders;
        ASSERT_EQ(net.GetTemporalOrders(arc.second, orders), 0);
        ASSERT_EQ(orders.GetCount(), 1);
        EXPECT_EQ(orders[0], 1);
    }
}

// After an update a plate node's value has a row per slice; an outcome added to an observed one
// once left that value valid over the old outcomes.
TEST_F(TemporalTest, ObservedPlateNodeTakesAnAddedOutcome) {
    const int x = Plate("X");
    ASSERT_EQ(net.SetNumberOfSlices(3), 0);
    ASSERT_EQ(net.GetNode(x)->GetValue()->SetEvidence(1), 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    ASSERT_EQ(net.GetNode(x)->GetDefinition()->AddOutcome("Third"), 0);
    QNL_nodeValue* value = net.GetNode(x)->GetValue();
    QNL_Dmatrix* cells = nullptr;
    ASSERT_EQ(value->GetValue(&cells), 0);
    if (value->IsValueValid()) {
        EXPECT_EQ(cells->GetSizeOfDimension(cells->GetNumberOfDimensions() - 1), 3);
    }
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    ASSERT_EQ(value->GetValue(&cells), 0);
    ASSERT_EQ(cells->GetNumberOfDimensions(), 2);
    EXPECT_EQ(cells->GetSizeOfDimension(1), 3);
    EXPECT_EQ(value->GetEvidence(), 1);
}

// Gates turned tables: a gate whose temporal definition has parents is refused as one with
// ordinary parents is; a gate that is only a temporal parent converts, and the gate child lets the
// temporal arc go. Either way the network reads back as written.
TEST_F(TemporalTest, GateTypeChangesKeepTemporalDefinitionsReadable) {
    const std::string path = quarn_test::TestFile("temporal_gates.xqnl");
    for (bool self : {true, false}) {
        net.DeleteAllNodes();
        const int x = Add(QNL_TYPE_DEMORGAN, "X"), y = Add(QNL_TYPE_DEMORGAN, "Y");
        ASSERT_EQ(net.SetTemporalType(x, 3) + net.SetTemporalType(y, 3), 0);
        ASSERT_EQ(net.AddTemporalArc(x, self ? x : y, 1), 0) << self;
        EXPECT_EQ(net.GetNode(x)->SetType(kCpt), self ? -2 : 0) << self;
        EXPECT_EQ(net.GetNode(x)->GetType(), self ? QNL_TYPE_DEMORGAN : kCpt) << self;
        QNL_intArray parents;
        ASSERT_EQ(net.GetTemporalParents(self ? x : y, 1, parents), 0);
        EXPECT_EQ(parents.GetCount(), self ? 1 : 0) << self;
        ASSERT_EQ(net.WriteFile(path.c_str()), 0) << self;
        QNL_network back;
        EXPECT_EQ(back.ReadFile(path.c_str()), 0) << self << ": " << quarn_test::LastMessage();
    }
}

TEST_F(TemporalTest, TypeAndArcRulesRefuseWhatThePlateCannotHold) {
    const int x = Plate("X");
    const int y = Plate("Y");
    const int n = Add(kCpt, "N");
    const int t = Add(kCpt, "T");
    ASSERT_EQ(net.SetTemporalType(t, 2), 0);
    EXPECT_EQ(net.AddArc(x, n), -51) << "plate parent, child outside";
    EXPECT_EQ(net.AddArc(t, n), -51) << "terminal parent";
    EXPECT_EQ(net.AddArc(x, t), 0);
    EXPECT_EQ(net.SetTemporalType(t, 0), -2) << "a normal node under a plate node";
    EXPECT_EQ(net.SetTemporalType(n, 4), -4);
    EXPECT_EQ(net.SetTemporalType(99, 3), -2);
    ASSERT_EQ(net.AddArc(n, y), 0);
    EXPECT_EQ(net.SetTemporalType(n, 2), -2) << "a terminal over a plate node";
    ASSERT_EQ(net.AddTemporalArc(x, y, 1), 0);
    EXPECT_EQ(net.AddTemporalArc(x, y, 1), -2);
    EXPECT_EQ(net.AddTemporalArc(x, y, 0), -2);
    EXPECT_EQ(net.AddTemporalArc(n, y, 1), -2);
    EXPECT_EQ(net.SetTemporalType(x, 0), -2) << "a temporal parent";
    EXPECT_EQ(net.SetTemporalType(y, 0), -2) << "has a temporal definition";
    EXPECT_EQ(net.GetTemporalType(y), 3);
    QNL_intArray list;
    EXPECT_EQ(net.GetTemporalOrders(n, list), -2);
    EXPECT_EQ(net.GetTemporalParents(y, 0, list), -2);
    EXPECT_EQ(net.SetNumberOfSlices(0), -4);
}

TEST_F(TemporalTest, SliceEvidenceIsCheckedAndFollowsEdits) {
    const int x = Plate("X", 3);
    const int y = Plate("Y", 3);
    const int n = Add(kCpt, "N");
    ASSERT_EQ(net.SetNumberOfSlices(5), 0);
    EXPECT_EQ(net.SetSliceEvidence(n, 1, 0), -2);
    EXPECT_EQ(net.SetSliceEvidence(x, 1, 3), -2);
    EXPECT_EQ(net.SetSliceEvidence(x, 5, 0), -4);
    EXPECT_EQ(net.SetSliceEvidence(x, -1, 0), -4);
    ASSERT_EQ(net.SetSliceEvidence(x, 0, 2), 0);
    EXPECT_EQ(net.GetNode(x)->GetValue()->GetEvidence(), 2) << "slice 0 is the node's own";
    for (int s = 1; s < 5; ++s)
        ASSERT_EQ(net.SetSliceEvidence(x, s, s % 3), 0);
    ASSERT_EQ(net.SetSliceEvidence(y, 2, 1), 0);

    ASSERT_EQ(net.SetNumberOfSlices(3), 0);
    ASSERT_EQ(net.SetNumberOfSlices(5), 0);
    EXPECT_EQ(net.GetSliceEvidence(x, 3), -1);
    EXPECT_EQ(net.GetSliceEvidence(x, 4), -1);
    // Slices 1 and 2 hold outcomes 1 and 2.
    ASSERT_EQ(Def(x)->InsertOutcome(1, "new"), 0);
    EXPECT_EQ(net.GetSliceEvidence(x, 1), 2);
    EXPECT_EQ(net.GetSliceEvidence(x, 2), 3);
    ASSERT_EQ(Def(x)->RemoveOutcome(2), 0);
    EXPECT_EQ(net.GetSliceEvidence(x, 1), -1);
    EXPECT_EQ(net.GetSliceEvidence(x, 2), 2);
    ASSERT_EQ(Def(x)->ReorderOutcomes(IntsOf({2, 1, 0})), 0);
    EXPECT_EQ(net.GetSliceEvidence(x, 2), 0);

    ASSERT_EQ(net.DeleteNode(y), 0);
    const int reused = Plate("Z", 3);
    ASSERT_EQ(reused, y);
    EXPECT_EQ(net.GetSliceEvidence(reused, 2), -1) << "a reused handle inherits nothing";
    ASSERT_EQ(net.SetSliceEvidence(reused, 4, 1), 0);
    ASSERT_EQ(net.SetTemporalType(reused, 0), 0);
    ASSERT_EQ(net.SetTemporalType(reused, 3), 0);
    EXPECT_EQ(net.GetSliceEvidence(reused, 4), -1) << "left behind when the node left the plate";
    ASSERT_EQ(net.ClearAllEvidence(), 0);
    EXPECT_EQ(net.GetSliceEvidence(x, 2), -1);
}

TEST_F(TemporalTest, CopiesCarryTheExtensionUnlessToldNot) {
    const int x = Plate("X");
    ASSERT_EQ(net.AddTemporalArc(x, x, 1), 0);
    ASSERT_EQ(net.SetNumberOfSlices(4), 0);
    ASSERT_EQ(net.SetSliceEvidence(x, 3, 1), 0);
    Ext().GetTemporalDefinition(x, 1)->SetDefinition(ArrayOf({0.9, 0.1, 0.2, 0.8}));
    QNL_network copy(net);
    ASSERT_NE(copy.FindTemporalNetwork(), nullptr);
    EXPECT_EQ(copy.GetNumberOfSlices(), 4);
    EXPECT_EQ(copy.GetSliceEvidence(x, 3), 1);
    EXPECT_EQ(ValuesOf(copy.GetTemporalNetwork().GetTemporalDefinition(x, 1)),
              (std::vector<double>{0.9, 0.1, 0.2, 0.8}));
    ASSERT_EQ(copy.DeleteNode(x), 0);
    EXPECT_NE(Ext().GetTemporalDefinition(x, 1), nullptr) << "the source keeps its own";
    QNL_network nodes;
    ASSERT_EQ(nodes.CopyNodes(net), 0);
    EXPECT_EQ(nodes.GetSliceEvidence(x, 3), 1) << "the slots' temporal types keep their meaning";
    QNL_network plain;
    ASSERT_EQ(plain.Copy(net, true), 0);
    EXPECT_EQ(plain.GetNumberOfSlices(), 0);
    EXPECT_EQ(plain.GetTemporalType(x), 0);
    // The temporal definitions follow the node's type (shapes are the random unrolling's).
    ASSERT_EQ(net.GetNode(x)->SetType(QNL_TYPE_NOISY_MAX), 0);
    EXPECT_EQ(Ext().GetTemporalDefinition(x, 1)->GetType(), QNL_TYPE_NOISY_MAX);
}

// A random dynamic network: a plate of 2-4 nodes with ordinary arcs, temporal arcs of orders
// 1 and 2, a normal and an anchor root above the plate and a terminal below it; tables random.
struct RandomDynamic {
    std::vector<int> plate;
    int normal, anchor, terminal;
};

RandomDynamic BuildRandom(QNL_network& net, TestRandom& random) {
    RandomDynamic d;
    d.normal = net.AddNode(kCpt, "N");
    d.anchor = net.AddNode(kCpt, "A");
    net.SetTemporalType(d.anchor, 1);
    const int size = 2 + random.Below(3);
    for (int i = 0; i < size; ++i) {
        const int h = net.AddNode(kCpt, ("P" + std::to_string(i)).c_str());
        net.SetTemporalType(h, 3);
        d.plate.push_back(h);
    }
    d.terminal = net.AddNode(kCpt, "T");
    net.SetTemporalType(d.terminal, 2);
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < j; ++i)
            if (random.Below(2)) net.AddArc(d.plate[i], d.plate[j]);
        if (random.Below(2)) net.AddArc(d.normal, d.plate[j]);
        const bool anchored = random.Below(2);
        if (anchored) net.AddArc(d.anchor, d.plate[j]);
        for (int i = 0; i < size; ++i) {
            if ((anchored && i == j) || random.Below(3) == 0)
                net.AddTemporalArc(d.plate[i], d.plate[j], 1);
            if (random.Below(4) == 0) net.AddTemporalArc(d.plate[i], d.plate[j], 2);
        }
    }
    net.AddArc(d.plate.back(), d.terminal);
    net.AddArc(d.normal, d.terminal);
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        FillRandom(net.GetNode(h)->GetDefinition(), random);
        for (int k = 1; k <= 2; ++k)
            if (auto* def = net.GetTemporalNetwork().GetTemporalDefinition(h, k))
                FillRandom(def, random);
    }
    return d;
}

// Same identifiers, parents in order and tables.
::testing::AssertionResult SameUnrolling(const QNL_network& a, const QNL_network& b) {
    if (a.GetNumberOfNodes() != b.GetNumberOfNodes())
        return ::testing::AssertionFailure() << "node counts differ";
    for (int h = a.GetFirstNode(); h >= 0; h = a.GetNextNode(h)) {
        const char* id = a.GetNode(h)->GetId();
        const int g = b.FindNode(id);
        if (g < 0) return ::testing::AssertionFailure() << "no node " << id;
        if (ParentIds(a, h) != ParentIds(b, g))
            return ::testing::AssertionFailure() << id << ": parents differ";
        if (ValuesOf(a.GetNode(h)->GetDefinition()) != ValuesOf(b.GetNode(g)->GetDefinition()))
            return ::testing::AssertionFailure() << id << ": tables differ";
    }
    return ::testing::AssertionSuccess();
}

TEST(TemporalRandom, UnrollingFollowsEveryKindOfEdit) {
    int compared = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TestRandom random(900 + round);
        QNL_network net;
        RandomDynamic d = BuildRandom(net, random);
        for (int edit = 0; edit < 4; ++edit) {
            const int p =
                d.plate[static_cast<std::size_t>(random.Below(static_cast<int>(d.plate.size())))];
            QNL_nodeDefinition* def = net.GetNode(p)->GetDefinition();
            switch (random.Below(6)) {
            case 0:
                def->InsertOutcome(random.Below(def->GetNumberOfOutcomes() + 1), nullptr);
                break;
            case 1:
                def->RemoveOutcome(random.Below(def->GetNumberOfOutcomes()));
                break;
            case 2:
                net.RemoveArc(net.GetParents(p).GetCount() ? net.GetParents(p)[0] : d.normal, p);
                break;
            case 3:
                net.SetTemporalType(d.anchor, net.GetTemporalType(d.anchor) == 1 ? 0 : 1);
                break;
            case 4:
                net.AddTemporalArc(d.plate[0], p, 1 + random.Below(2));
                break;
            default:
                if (d.plate.size() > 1 && p != d.plate.back()) {
                    net.DeleteNode(p);
                    d.plate.erase(std::find(d.plate.begin(), d.plate.end(), p));
                }
            }
        }
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            for (int k = 1; k <= 2; ++k)
                if (auto* def = net.GetTemporalNetwork().GetTemporalDefinition(h, k))
                    FillRandom(def, random);
        const int slices = 1 + random.Below(4);
        ASSERT_EQ(net.SetNumberOfSlices(slices), 0);
        QNL_network hand, unrolled;
        std::map<std::pair<int, int>, int> at;
        UnrollByHand(net, slices, hand, at);
        quarn::detail::SliceCopies where;
        const int result = quarn::detail::UnrollTemporalNetwork(net, unrolled, where);
        if (result == -2) continue; // an anchor parent without temporal definitions
        ASSERT_EQ(result, 0);
        EXPECT_TRUE(SameUnrolling(hand, unrolled));
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

TEST(TemporalRandom, PosteriorsAndEvidenceMatchTheNetworkUnrolledByHand) {
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TestRandom random(700 + round);
        QNL_network net;
        const RandomDynamic d = BuildRandom(net, random);
        const int slices = 2 + random.Below(3);
        ASSERT_EQ(net.SetNumberOfSlices(slices), 0);
        QNL_network hand;
        std::map<std::pair<int, int>, int> at;
        UnrollByHand(net, slices, hand, at);
        // Evidence: the node's own (slice 0) and per slice, mirrored on the hand network.
        for (int e = 0; e < 3; ++e) {
            const int h =
                d.plate[static_cast<std::size_t>(random.Below(static_cast<int>(d.plate.size())))];
            const int t = random.Below(slices), o = random.Below(2);
            ASSERT_EQ(net.SetSliceEvidence(h, t, o), 0);
            QNL_nodeValue* mirror = hand.GetNode(at[{h, t}])->GetValue();
            if (mirror->HasEvidence()) mirror->ClearEvidence();
            ASSERT_EQ(mirror->SetEvidence(o), 0);
        }
        if (random.Below(2)) {
            net.GetNode(d.terminal)->GetValue()->SetEvidence(1);
            hand.GetNode(at[{d.terminal, 0}])->GetValue()->SetEvidence(1);
        }
        const quarn_test::Enumeration oracle = quarn_test::Enumerate(hand);
        ASSERT_TRUE(oracle.ok) << oracle.error;
        double p = -1.0;
        ASSERT_TRUE(net.CalcPropEvidence(p));
        EXPECT_NEAR(p, oracle.probabilityOfEvidence, 1e-9);
        if (oracle.probabilityOfEvidence == 0.0) continue;
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        for (int h : d.plate) {
            QNL_nodeValue* value = net.GetNode(h)->GetValue();
            ASSERT_TRUE(value->IsValueValid());
            const QNL_Dmatrix* m = value->GetMatrix();
            ASSERT_EQ(m->GetNumberOfDimensions(), 2);
            for (int t = 0; t < slices; ++t)
                for (int o = 0; o < 2; ++o)
                    EXPECT_NEAR(m->Subscript(t * 2 + o), oracle.Posterior(at[{h, t}])[o], 1e-9);
        }
        for (int h : {d.normal, d.anchor, d.terminal}) {
            QNL_nodeValue* value = net.GetNode(h)->GetValue();
            ASSERT_TRUE(value->IsValueValid());
            for (int o = 0; o < 2; ++o)
                EXPECT_NEAR(value->GetMatrix()->Subscript(o), oracle.Posterior(at[{h, 0}])[o],
                            1e-9);
        }
    }
}

TEST(TemporalLong, AThousandSlicesOfAChainUnrollAndUpdate) {
    QNL_network net;
    const int x = net.AddNode(kCpt, "X");
    ASSERT_EQ(net.SetTemporalType(x, 3), 0);
    ASSERT_EQ(net.AddTemporalArc(x, x, 1), 0);
    ASSERT_EQ(net.SetNumberOfSlices(1000), 0);
    net.GetTemporalNetwork().GetTemporalDefinition(x, 1)->SetDefinition(
        ArrayOf({0.9, 0.1, 0.1, 0.9}));
    ASSERT_EQ(net.SetSliceEvidence(x, 999, 1), 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    const QNL_Dmatrix* m = net.GetNode(x)->GetValue()->GetMatrix();
    ASSERT_EQ(m->GetSize(), 2000);
    EXPECT_DOUBLE_EQ(m->Subscript(1999), 1.0);
    EXPECT_NEAR(m->Subscript(1), 0.5, 1e-9) << "a thousand steps wash the evidence out";

    // A slice count no memory holds is refused before anything is built.
    ASSERT_EQ(net.SetNumberOfSlices(1 << 30), 0);
    EXPECT_EQ(net.UpdateBeliefs(), -42);
    EXPECT_FALSE(net.GetNode(x)->GetValue()->IsValueValid());
}

} // namespace

namespace {

std::uint64_t Serial(QNL_network& net) {
    const quarn::detail::UnrolledNetwork* kept = net.GetTemporalNetwork().GetUnrolled();
    return kept != nullptr ? kept->serial : 0;
}

std::vector<double> ValueOf(QNL_network& net, int node) {
    const QNL_Dmatrix* m = net.GetNode(node)->GetValue()->GetMatrix();
    return std::vector<double>(m->GetItems().Items(), m->GetItems().Items() + m->GetSize());
}

// The same update on a copy, which keeps no unrolling.
void ExpectSameAsFresh(QNL_network& net, const std::vector<int>& nodes) {
    QNL_network fresh(net);
    ASSERT_EQ(fresh.UpdateBeliefs(), 0);
    for (int h : nodes) {
        const std::vector<double> a = ValueOf(net, h), b = ValueOf(fresh, h);
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            EXPECT_NEAR(a[i], b[i], 1e-12);
    }
}

TEST(TemporalKept, EvidenceChangesReuseTheUnrollingOtherChangesDropIt) {
    TestRandom random(42);
    QNL_network net;
    const RandomDynamic d = BuildRandom(net, random);
    ASSERT_EQ(net.SetNumberOfSlices(4), 0);
    std::vector<int> nodes = d.plate;
    nodes.push_back(d.terminal);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    const std::uint64_t first = Serial(net);
    ASSERT_NE(first, 0u);

    // Evidence of slices and of nodes, set, changed and withdrawn.
    ASSERT_EQ(net.SetSliceEvidence(d.plate[0], 2, 1), 0);
    ASSERT_EQ(net.SetSliceEvidence(d.plate[1], 0, 0), 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    ExpectSameAsFresh(net, nodes);
    ASSERT_EQ(net.SetSliceEvidence(d.plate[0], 2, 0), 0);
    ASSERT_EQ(net.ClearSliceEvidence(d.plate[1], 0), 0);
    ASSERT_EQ(net.SetSliceEvidence(d.plate[1], 3, 1), 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    ExpectSameAsFresh(net, nodes);
    EXPECT_EQ(Serial(net), first);

    // A table written in place, a temporal table, the slice count and the structure.
    QNL_Dmatrix* cells = nullptr;
    ASSERT_EQ(net.GetNode(d.normal)->GetDefinition()->GetDefinition(&cells), 0);
    std::swap(cells->Subscript(0), cells->Subscript(1));
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    ExpectSameAsFresh(net, nodes);
    EXPECT_NE(Serial(net), first);
    for (auto edit : std::vector<std::function<void()>>{
             [&] {
                 FillRandom(net.GetTemporalNetwork().GetTemporalDefinition(d.plate[0], 1) != nullptr
                                ? net.GetTemporalNetwork().GetTemporalDefinition(d.plate[0], 1)
                                : net.GetNode(d.plate[0])->GetDefinition(),
                            random);
             },
             [&] { net.SetNumberOfSlices(3); },
             [&] { net.AddTemporalArc(d.plate.back(), d.plate[0], 2); }}) {
        const std::uint64_t before = Serial(net);
        edit();
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        ExpectSameAsFresh(net, nodes);
        EXPECT_NE(Serial(net), before);
    }
}

} // namespace
