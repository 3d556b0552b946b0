#include "definitions/table.h"
#include "support/network_builder.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace quarn_test;

class TypeConversion : public NetworkFixture {
protected:
    enum Source { ASCENDING, CONSTANT, MIXED, DECISION, MAU, CHANCE };

    // Utilities over a three-outcome chance parent; a multi-attribute utility node over a
    // two-choice decision and a utility node; a three-outcome decision or chance node between
    // two chance nodes.
    int Build(Source source) {
        if (source <= MIXED) {
            const std::vector<double> utilities[] = {{10, 20, 30}, {7, 7, 7}, {30, 5, 20}};
            const int p = AddWithOutcomes(QNL_TYPE_CPT, "p", 3), u = Add(QNL_TYPE_TABLE, "u");
            EXPECT_EQ(net.AddArc(p, u), 0);
            EXPECT_EQ(dynamic_cast<QNL_table*>(Def(u))->SetUtilities(ArrayOf(utilities[source])),
                      0);
            return u;
        }
        if (source == MAU) {
            const int d = Add(QNL_TYPE_LIST, "d"), u = Add(QNL_TYPE_TABLE, "u");
            const int m = Add(QNL_TYPE_MAU, "m");
            EXPECT_EQ(net.AddArc(d, m) + net.AddArc(u, m), 0);
            return m;
        }
        const int p = Add(QNL_TYPE_CPT, "p");
        const int c = AddWithOutcomes(source == DECISION ? QNL_TYPE_LIST : QNL_TYPE_CPT, "c", 3);
        EXPECT_EQ(net.AddArc(p, c) + net.AddArc(c, Add(QNL_TYPE_CPT, "k")), 0);
        return c;
    }
    std::vector<std::string> ParentIds(int node) {
        std::vector<std::string> ids;
        const QNL_intArray& parents = net.GetParents(node);
        for (int i = 0; i < parents.GetCount(); ++i)
            ids.push_back(net.GetNode(parents[i])->GetId());
        return ids;
    }
};

// Expected tables worked out by hand: a utility u becomes the column {p, 1 - p} with
// p = (u - min) / (max - min), a range of 0 counting as 1.
TEST_F(TypeConversion, ConvertedNodesHoldTheTablesTheirSourcesGive) {
    struct Case {
        Source source;
        int type;
        std::vector<std::string> ids;
        std::vector<double> values;
        std::vector<std::string> parents;
    };
    const double third = 1.0 / 3;
    const std::vector<std::string> states = {"State0", "State1"};
    const Case cases[] = {
        {ASCENDING, QNL_TYPE_CPT, states, {0, 1, 0.5, 0.5, 1, 0}, {"p"}},
        {CONSTANT, QNL_TYPE_CPT, states, {0, 1, 0, 1, 0, 1}, {"p"}},
        {MIXED, QNL_TYPE_TRUTHTABLE, states, {1, 0, 0, 1, 1, 0}, {"p"}},
        {DECISION, QNL_TYPE_CPT, {"Choice0", "Choice1", "Choice2"}, {third, third, third}, {}},
        {MAU, QNL_TYPE_CPT, states, {0.5, 0.5, 0.5, 0.5}, {"d"}},
        {CHANCE, QNL_TYPE_LIST, {"State0", "State1", "State2"}, {}, {}},
    };
    for (const Case& c : cases) {
        net.DeleteAllNodes();
        const int node = Build(c.source);
        ASSERT_EQ(net.GetNode(node)->SetType(c.type), 0) << c.source;
        EXPECT_EQ(Def(node)->GetType(), c.type) << c.source;
        EXPECT_EQ(IdsOf(Def(node)), c.ids) << c.source;
        EXPECT_EQ(ParentIds(node), c.parents) << c.source;
        // The child of a former decision keeps a table its parent's outcomes index.
        EXPECT_TRUE(c.source != DECISION || net.UpdateBeliefs() == 0);
        if (c.type != QNL_TYPE_LIST)
            ExpectNear(Values(node), c.values, 1e-12, std::to_string(c.source));
    }
}

// A conversion the target has no rule for is reported, and the node keeps its definition,
// value and arcs.
TEST_F(TypeConversion, RefusedConversionLeavesTheNodeAsItWas) {
    const int m = Build(MAU);
    QNL_nodeDefinition* definition = Def(m);
    QNL_nodeValue* value = net.GetNode(m)->GetValue();
    EXPECT_EQ(net.GetNode(m)->SetType(QNL_TYPE_LIST), -2);
    EXPECT_EQ(Def(m), definition);
    EXPECT_EQ(net.GetNode(m)->GetValue(), value);
    EXPECT_EQ(ParentIds(m), (std::vector<std::string>{"d", "u"}));
}

// An equation has no outcomes to hand on; every discrete type made from one starts with the two
// default outcomes, so the network still writes a file that reads back. Gates once took none.
TEST_F(TypeConversion, DiscreteNodesMadeFromEquationsHaveOutcomesThatReadBack) {
    const std::string path = quarn_test::TestFile("from_equation.xqnl");
    for (int source : {QNL_TYPE_EQUATION, QNL_TYPE_EQUATION_SCC}) {
        for (int type : {QNL_TYPE_CPT, QNL_TYPE_TRUTHTABLE, QNL_TYPE_LIST, QNL_TYPE_NOISY_MAX,
                         QNL_TYPE_NOISY_ADDER}) {
            const std::string label = std::to_string(source) + " -> " + std::to_string(type);
            net.DeleteAllNodes();
            const int node = Add(source, "e");
            ASSERT_EQ(net.GetNode(node)->SetType(type), 0) << label;
            const std::vector<std::string> ids = IdsOf(Def(node));
            EXPECT_GE(ids.size(), 2u) << label;
            ASSERT_EQ(net.WriteFile(path.c_str()), 0) << label;
            QNL_network back;
            ASSERT_EQ(back.ReadFile(path.c_str()), 0) << label << ": " << LastMessage();
            EXPECT_EQ(IdsOf(back.GetNode(back.FindNode("e"))->GetDefinition()), ids) << label;
        }
    }
}

// A parent that becomes a node without outcomes leaves every kind of discrete child, whose table
// then drops its dimension; one that stays discrete keeps its arc. Gates once kept the arc of a
// parent turned utility node, with a dimension for outcomes it no longer had.
TEST_F(TypeConversion, ChildrenDropAParentThatLostItsOutcomes) {
    for (int child :
         {QNL_TYPE_CPT, QNL_TYPE_TRUTHTABLE, QNL_TYPE_NOISY_MAX, QNL_TYPE_NOISY_ADDER}) {
        for (int type : {QNL_TYPE_TABLE, QNL_TYPE_EQUATION, QNL_TYPE_LIST, QNL_TYPE_NOISY_MAX}) {
            const std::string label = std::to_string(child) + " under " + std::to_string(type);
            net.DeleteAllNodes();
            const int p = AddWithOutcomes(QNL_TYPE_CPT, "p", 3), q = Add(QNL_TYPE_CPT, "q");
            const int c = Add(child, "c");
            ASSERT_EQ(net.AddArc(p, c) + net.AddArc(q, c), 0) << label;
            ASSERT_EQ(net.GetNode(p)->SetType(type), 0) << label;
            const bool kept = (type & QNL_TYPE_BIT_DISCRETE) != 0;
            const std::vector<std::string> parents =
                kept ? std::vector<std::string>{"p", "q"} : std::vector<std::string>{"q"};
            EXPECT_EQ(ParentIds(c), parents) << label;
            QNL_Dmatrix* table = nullptr;
            ASSERT_EQ(Def(c)->GetDefinition(&table), 0) << label;
            EXPECT_EQ(table->GetNumberOfDimensions(), kept ? 3 : 2) << label;
            EXPECT_EQ(table->GetSize(), (kept ? 6 : 2) * Def(c)->GetNumberOfOutcomes()) << label;
        }
    }
}

} // namespace
