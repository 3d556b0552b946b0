#include "definitions/mau.h"
#include "definitions/node_value.h"
#include "formats/format_test_support.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"
#include "support/random_diagram.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace format_test;

const QNL_mau& MauOf(const QNL_network& net, const char* id) {
    return static_cast<const QNL_mau&>(*net.GetNode(net.FindNode(id))->GetDefinition());
}

std::vector<std::string> Expressions(const QNL_mau& mau) {
    std::vector<std::string> texts;
    for (int i = 0; mau.GetExpressions() != nullptr && i < mau.GetExpressions()->GetSize(); ++i) {
        std::string text;
        QNL_exprNode::ToSignedText(mau.GetExpressions()->GetExpression(i), text);
        texts.push_back(text);
    }
    return texts;
}

// Weights under a decision parent and expressions per decision option come back as written,
// with the arcs the expressions name, and the diagram solves to the same utilities.
TEST(XmlMauElements, WeightsAndExpressionsRoundTrip) {
    QNL_network net;
    const quarn_test::OilWildcatter w = quarn_test::BuildOilWildcatter(net, false);
    const int bonus = net.AddNode(QNL_TYPE_TABLE, "Bonus");
    net.AddArc(w.oil, bonus);
    const int weighted = net.AddNode(QNL_TYPE_MAU, "Weighted");
    for (int p : {w.drill, w.profit, bonus})
        net.AddArc(p, weighted);
    QNL_doubleArray weights;
    for (double v : {0.5, 2.0, -1.0, 1.5})
        weights.Add(v);
    auto* mau = static_cast<QNL_mau*>(net.GetNode(weighted)->GetDefinition());
    ASSERT_EQ(mau->SetDefinition(weights), 0);
    const int formula = net.AddNode(QNL_TYPE_MAU, "Formula");
    for (int p : {w.drill, w.profit, bonus})
        net.AddArc(p, formula);
    QNL_stringArray texts;
    texts.Add("Profit*2-Bonus");
    texts.Add("Bonus");
    std::string error;
    ASSERT_EQ(
        static_cast<QNL_mau*>(net.GetNode(formula)->GetDefinition())->SetExpressions(texts, error),
        0)
        << error;

    const std::string path = TempPath("mau_round_trip.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    const std::string content = FileContent(path);
    EXPECT_NE(content.find("<mau id=\"Weighted\">"), std::string::npos) << content;
    EXPECT_NE(content.find("<maux id=\"Formula\">"), std::string::npos) << content;

    QNL_network back;
    ASSERT_EQ(back.ReadFile(path.c_str()), 0) << AllMessages();
    EXPECT_EQ(MauOf(back, "Weighted").GetWeights().GetItems(), mau->GetWeights().GetItems());
    EXPECT_EQ(Expressions(MauOf(back, "Formula")), Expressions(MauOf(net, "Formula")));
    EXPECT_EQ(MauOf(back, "Formula").GetUtilityParents().GetCount(), 2);

    ASSERT_EQ(net.UpdateBeliefs(), 0);
    ASSERT_EQ(back.UpdateBeliefs(), 0);
    for (const char* id : {"Drill", "Weighted", "Formula"}) {
        QNL_Dmatrix* a = net.GetNode(net.FindNode(id))->GetValue()->GetMatrix();
        QNL_Dmatrix* b = back.GetNode(back.FindNode(id))->GetValue()->GetMatrix();
        ASSERT_EQ(a->GetSize(), b->GetSize()) << id;
        for (int i = 0; i < a->GetSize(); ++i)
            EXPECT_EQ(a->Subscript(i), b->Subscript(i)) << id;
    }
}

} // namespace
