#include "definitions/noisy_adder.h"
#include "formats/format_test_support.h"
#include "inference/temporal_unrolling.h"
#include "model/case_library.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/temporal_network.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace format_test;

// Every temporal kind in one plate, with an anchor, a normal node, a terminal, orders 1 and 2,
// a non-default plate display and a case holding evidence in two slices.
void BuildDynamic(QNL_network& net) {
    const int a = AddNode(net, QNL_TYPE_CPT, "A", {"a1", "a2"});
    const int n = AddNode(net, QNL_TYPE_CPT, "N", {"n1", "n2"});
    const int x = AddNode(net, QNL_TYPE_CPT, "X", {"x1", "x2", "x3"});
    const int d = AddNode(net, QNL_TYPE_TRUTHTABLE, "D", {"d1", "d2"});
    const int m = AddNode(net, QNL_TYPE_NOISY_MAX, "M", {"m1", "m2"});
    const int ad = AddNode(net, QNL_TYPE_NOISY_ADDER, "AD", {"p", "q"});
    const int g = AddNode(net, QNL_TYPE_DEMORGAN, "G", {});
    const int t = AddNode(net, QNL_TYPE_CPT, "T", {"t1", "t2"});
    ASSERT_EQ(net.SetTemporalType(a, 1), 0);
    for (int h : {x, d, m, ad, g})
        ASSERT_EQ(net.SetTemporalType(h, 3), 0);
    ASSERT_EQ(net.SetTemporalType(t, 2), 0);
    AddArcs(net, "A>X N>X X>D X>T");
    for (auto [parent, child, order] : {std::tuple{x, x, 1},
                                        {x, x, 2},
                                        {x, d, 1},
                                        {d, m, 1},
                                        {m, m, 1},
                                        {x, ad, 1},
                                        {g, g, 1},
                                        {g, g, 2}})
        ASSERT_EQ(net.AddTemporalArc(parent, child, order), 0);
    QNL_temporalNetwork& ext = net.GetTemporalNetwork();
    std::vector<double> values(
        static_cast<std::size_t>(ext.GetTemporalDefinition(x, 2)->GetSize()));
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = (i % 3 == 0) ? 0.5 : 0.25;
    QNL_doubleArray array;
    for (double v : values)
        array.Add(v);
    ASSERT_EQ(ext.GetTemporalDefinition(x, 2)->SetDefinition(array), 0);
    static_cast<QNL_noisyAdder*>(ext.GetTemporalDefinition(ad, 1))->SetFunction(1);
    ASSERT_EQ(net.SetNumberOfSlices(4), 0);
    QNL_rectangle plate;
    plate.x = 200;
    plate.y = 100;
    plate.width = 300;
    plate.height = 120;
    ASSERT_EQ(ext.SetPlateDisplay(plate, 30, 40), 0);
    QNL_case* c = net.AddCase("c1");
    ASSERT_EQ(c->AddEvidence(n, 1), 0);
    ASSERT_EQ(c->AddTemporalEvidence(x, 2, 1), 0);
    ASSERT_EQ(c->AddTemporalEvidence(x, 0, 3), 0);
}

// The temporal part in one text: slices, plate, types, and per plate node and order the
// parents and the definition's kind and values.
std::string DescribeTemporal(QNL_network& net) {
    QNL_temporalNetwork& ext = net.GetTemporalNetwork();
    QNL_rectangle plate;
    int left = 0, right = 0;
    ext.GetPlateDisplay(plate, left, right);
    std::string out = std::to_string(net.GetNumberOfSlices()) + " plate " +
                      std::to_string(plate.x) + "," + std::to_string(plate.y) + "," +
                      std::to_string(plate.width) + "," + std::to_string(plate.height) + " " +
                      std::to_string(left) + "," + std::to_string(right) + "\n";
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        out += std::string(net.GetNode(h)->GetId()) + ":" + std::to_string(net.GetTemporalType(h));
        QNL_intArray orders, parents;
        if (net.GetTemporalType(h) == 3) net.GetTemporalOrders(h, orders);
        for (int k = 0; k < orders.GetCount(); ++k) {
            net.GetTemporalParents(h, orders[k], parents);
            out += " [" + std::to_string(orders[k]) + ":";
            for (int p = 0; p < parents.GetCount(); ++p)
                out += std::string(" ") + net.GetNode(parents[p])->GetId();
            QNL_nodeDefinition* def = ext.GetTemporalDefinition(h, orders[k]);
            QNL_doubleArray values;
            def->GetDefinition(values);
            out += " " + std::string(def->GetTypeName()) + " " + Joined(values, values.GetCount()) +
                   "]";
        }
        out += "\n";
    }
    return out;
}

TEST(XmlDynamic, EveryTemporalKindRoundTripsToAnEqualModelAndTheSameBytes) {
    TempFolder folder("xml_dynamic");
    QNL_network net;
    BuildDynamic(net);
    const std::string first = folder.File("first.xqnl"), second = folder.File("second.xqnl");
    ASSERT_EQ(net.WriteFile(first.c_str()), 0) << AllMessages();
    QNL_network back;
    ASSERT_EQ(back.ReadFile(first.c_str()), 0) << AllMessages();
    EXPECT_TRUE(SameNetworks(net, back, kEverything));
    EXPECT_EQ(DescribeTemporal(back), DescribeTemporal(net));
    int node = -1;
    QNL_case::SlicePairs slices;
    ASSERT_EQ(back.GetCase(0)->GetTemporalEvidence(1, node, slices), 0);
    EXPECT_EQ(slices, (QNL_case::SlicePairs{{1, 2}, {3, 0}}));
    ASSERT_EQ(back.WriteFile(second.c_str()), 0);
    EXPECT_EQ(TempFolder::Get(second), TempFolder::Get(first));
    EXPECT_TRUE(IsWellFormed(first));
    // A stored dynamic model is rewritten byte for byte.
    const std::string fixture = std::string(QUARN_TEST_DATA_DIR) + "/xqnl/dynamic.xqnl";
    QNL_network stored;
    ASSERT_EQ(stored.ReadFile(fixture.c_str()), 0) << AllMessages();
    EXPECT_EQ(stored.GetNumberOfSlices(), 5);
    ASSERT_EQ(stored.WriteFile(second.c_str()), 0);
    EXPECT_EQ(TempFolder::Get(second), TempFolder::Get(fixture));

    // The model read back updates to the same slices x outcomes.
    for (QNL_network* model : {&net, &back}) {
        ASSERT_EQ(model->SetSliceEvidence(model->FindNode("X"), 2, 1), 0);
        ASSERT_EQ(model->UpdateBeliefs(), 0) << AllMessages();
    }
    for (const char* id : {"X", "D", "M", "AD", "T"}) {
        const QNL_Dmatrix* a = net.GetNode(net.FindNode(id))->GetValue()->GetMatrix();
        const QNL_Dmatrix* b = back.GetNode(back.FindNode(id))->GetValue()->GetMatrix();
        EXPECT_EQ(Joined(a->GetItems(), a->GetSize()), Joined(b->GetItems(), b->GetSize())) << id;
    }
}

// Every copy of a gate keeps its kind and the table of the definition its slice takes.
TEST(XmlDynamic, UnrolledCopiesOfEveryKindTakeTheirSlicesTable) {
    QNL_network net;
    BuildDynamic(net);
    QNL_network unrolled;
    quarn::detail::SliceCopies where;
    ASSERT_EQ(quarn::detail::UnrollTemporalNetwork(net, unrolled, where), 0) << AllMessages();
    QNL_temporalNetwork& ext = net.GetTemporalNetwork();
    for (std::size_t i = 0; i < where.plate.size(); ++i) {
        const int node = where.plate[i];
        for (int t = 1; t < where.slices; ++t) {
            const int order = ext.DefinitionOrderFor(node, t);
            QNL_nodeDefinition* source = order > 0 ? ext.GetTemporalDefinition(node, order)
                                                   : net.GetNode(node)->GetDefinition();
            QNL_nodeDefinition* copy = unrolled.GetNode(where.CopyOf(t, i))->GetDefinition();
            SCOPED_TRACE(std::string(net.GetNode(node)->GetId()) + " slice " + std::to_string(t));
            EXPECT_EQ(copy->GetType(), source->GetType());
            const QNL_Dmatrix* a = source->GetMatrix();
            const QNL_Dmatrix* b = copy->GetMatrix();
            ASSERT_TRUE(a != nullptr && b != nullptr);
            EXPECT_EQ(Joined(a->GetItems(), a->GetSize()), Joined(b->GetItems(), b->GetSize()));
        }
    }
}

// The dynamic part is written once some node has a temporal type; formats without one, and
// temporal definitions of kinds without an element, are refused rather than dropped.
TEST(XmlDynamic, DynamicPartIsWrittenWhenSomeNodeHasATemporalTypeOrRefused) {
    TempFolder folder("xml_dynamic_presence");
    QNL_network net;
    const int a = AddNode(net, QNL_TYPE_CPT, "A", {"a1", "a2"});
    ASSERT_EQ(net.SetNumberOfSlices(5), 0);
    const std::string path = folder.File("net.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    EXPECT_EQ(TempFolder::Get(path).find("<dynamic"), std::string::npos);
    ASSERT_EQ(net.SetTemporalType(a, 1), 0);
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    EXPECT_NE(TempFolder::Get(path).find("<dynamic numslices=\"5\""), std::string::npos);
    QNL_network back;
    ASSERT_EQ(back.ReadFile(path.c_str()), 0);
    EXPECT_EQ(back.GetTemporalType(0), 1);
    EXPECT_EQ(back.GetNumberOfSlices(), 5);
    for (const char* name : {"net.net", "net.dsc", "net.xml03", "net.dne", "net.erg"}) {
        EXPECT_EQ(net.WriteFile(folder.File(name).c_str()), -2) << name;
        EXPECT_FALSE(std::filesystem::exists(folder.File(name))) << name;
    }
    const int d = AddNode(net, QNL_TYPE_LIST, "D", {"d1", "d2"});
    ASSERT_EQ(net.SetTemporalType(d, 3), 0);
    ASSERT_EQ(net.AddTemporalArc(d, d, 1), 0);
    const std::string refused = folder.File("refused.xqnl");
    EXPECT_EQ(net.WriteFile(refused.c_str()), -2);
    EXPECT_FALSE(std::filesystem::exists(refused));
}

} // namespace
