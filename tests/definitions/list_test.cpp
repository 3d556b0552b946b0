#include "definitions/list.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/string_array.h"
#include "support/arcs.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quarn_test::Arcs;
using quarn_test::ArrayOf;
using quarn_test::IdsOf;
using quarn_test::IntsOf;
using quarn_test::StringsOf;
using quarn_test::ValuesOf;
using Foreign = quarn_test::ForeignDefinition;

class ListDefinition : public quarn_test::NetworkFixture {};

using Ids = std::vector<std::string>;

TEST_F(ListDefinition, ChoicesAreRepairedMadeUniqueAndNeverFewerThanTwo) {
    const int d = Add(QNL_TYPE_LIST, "D");
    QNL_Dmatrix* matrix = nullptr;
    EXPECT_EQ(Def(d)->GetDefinition(&matrix), -51); // a list has no table
    EXPECT_EQ(Def(d)->ReorderParents(QNL_intArray()), -51);
    EXPECT_EQ(Def(d)->SetNumberOfOutcomes(4), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"Choice0", "Choice1", "Choice2", "Choice3"}));
    EXPECT_EQ(Def(d)->SetNumberOfOutcomes(0), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"Choice0", "Choice1"}));
    ASSERT_EQ(Def(d)->CleanUp(1), 0);
    ASSERT_EQ(Def(d)->AddParents(), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"Choice0", "Choice1"}));
    EXPECT_EQ(Def(d)->SetNumberOfOutcomes(StringsOf({"go", "go", "2stay"})), 0);
    const Ids ids = IdsOf(Def(d));
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids[0], "go");
    EXPECT_TRUE(ids[1] != "go" && IsValidId(ids[1].c_str()) && IsValidId(ids[2].c_str()));
    EXPECT_TRUE(Def(d)->IsReady());
    EXPECT_EQ(Def(d)->SetNumberOfOutcomes(StringsOf({"only"})), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"only", "Choice1"}));

    // A refused identifier becomes "Choice" with the count, counted up past taken ones.
    ASSERT_EQ(Def(d)->RenameOutcome(1, "Choice2"), 0);
    EXPECT_EQ(Def(d)->AddOutcome("not an id"), 0);
    EXPECT_EQ(Def(d)->InsertOutcome(0, "only"), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"Choice4", "only", "Choice2", "Choice3"}));
}

// Out-of-range edits are refused by the random edit check of the tables; these are the
// list's own refusals.
TEST_F(ListDefinition, RefusedEditsChangeNothing) {
    const int d = Add(QNL_TYPE_LIST, "D");
    // Entries the identifier array holds beyond its items are not choices.
    for (int result : {Def(d)->RenameOutcome(2, "x"), Def(d)->RenameOutcome(5, "x"),
                       Def(d)->RenameOutcome(0, "Choice1")})
        EXPECT_EQ(result, -2);
    const int c = Add(QNL_TYPE_CPT, "C");
    for (int cost : {0, 1}) { // a cost child indexes its cost table by the decision too
        ASSERT_EQ(net.AddArc(d, c, cost), 0);
        EXPECT_EQ(Def(d)->SetNumberOfOutcomes(3), -19);
        EXPECT_EQ(Def(d)->SetNumberOfOutcomes(StringsOf({"a", "b", "c"})), -19);
        EXPECT_EQ(Def(d)->SetResultingStates(StringsOf({"a", "b", "c"})), -19);
        ASSERT_EQ(net.RemoveArc(d, c, cost), 0);
    }
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"Choice0", "Choice1"}));
}

TEST_F(ListDefinition, ChoiceValuesFollowTheirChoices) {
    const int d = Add(QNL_TYPE_LIST, "D");
    ASSERT_EQ(Def(d)->SetNumberOfOutcomes(StringsOf({"a", "b", "c"})), 0);
    EXPECT_TRUE(ValuesOf(Def(d)).empty());
    EXPECT_EQ(Def(d)->SetDefinition(ArrayOf({1, 2})), -2);
    ASSERT_EQ(Def(d)->SetDefinition(ArrayOf({1, 2, 3})), 0);

    ASSERT_EQ(Def(d)->InsertOutcome(1, "n"), 0); // a n b c
    EXPECT_EQ(ValuesOf(Def(d)), (std::vector<double>{1, 0, 2, 3}));
    ASSERT_EQ(Def(d)->RemoveOutcome(0), 0); // n b c
    EXPECT_EQ(ValuesOf(Def(d)), (std::vector<double>{0, 2, 3}));
    ASSERT_EQ(Def(d)->ReorderOutcomes(IntsOf({2, 0, 1})), 0); // c n b
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"c", "n", "b"}));
    EXPECT_EQ(ValuesOf(Def(d)), (std::vector<double>{3, 0, 2}));
    ASSERT_EQ(Def(d)->ChangeOutcomes(StringsOf({"b", "c"}), IntsOf({2, 0})), 0);
    EXPECT_EQ(ValuesOf(Def(d)), (std::vector<double>{2, 3}));
    // Same count: the resulting states rename in place and keep the values.
    ASSERT_EQ(Def(d)->SetResultingStates(StringsOf({"left", "right"})), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"left", "right"}));
    EXPECT_EQ(ValuesOf(Def(d)), (std::vector<double>{2, 3}));
    // Another count replaces the choice set, which starts without values.
    ASSERT_EQ(Def(d)->SetResultingStates(StringsOf({"x", "y", "z"})), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"x", "y", "z"}));
    EXPECT_TRUE(ValuesOf(Def(d)).empty());
}

TEST_F(ListDefinition, InformationalParentsLeaveTheListUnchanged) {
    const int a = Add(QNL_TYPE_CPT, "A"), b = Add(QNL_TYPE_CPT, "B"), u = Add(QNL_TYPE_TABLE, "U");
    const int d = Add(QNL_TYPE_LIST, "D"), c = Add(QNL_TYPE_CPT, "C");
    ASSERT_EQ(net.AddArc(d, c), 0);
    ASSERT_EQ(Def(d)->SetDefinition(ArrayOf({1, 2})), 0);
    Arcs(net, {a, b}, d);
    EXPECT_EQ(Def(a)->AddOutcome("more"), 0);
    EXPECT_EQ(Def(a)->ReorderOutcomes(IntsOf({2, 1, 0})), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"Choice0", "Choice1"}));
    EXPECT_EQ(ValuesOf(Def(d)), (std::vector<double>{1, 2}));

    // A utility parent is refused, by the definition and so by the network.
    EXPECT_EQ(Def(d)->AddParent(u), -2);
    EXPECT_EQ(Def(d)->AddParent(99), -2);
    EXPECT_EQ(net.AddArc(u, d), -51);
    // A parent that becomes a utility loses its arc.
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_TABLE), 0);
    ASSERT_EQ(net.GetParents(d).GetCount(), 1);
    EXPECT_EQ(net.GetParents(d)[0], b);
}

TEST_F(ListDefinition, ConvertsFromProbabilityUtilityAndDecisionDefinitions) {
    const int a = Add(QNL_TYPE_CPT, "A"), x = Add(QNL_TYPE_CPT, "X"), c = Add(QNL_TYPE_CPT, "C");
    ASSERT_EQ(Def(x)->SetNumberOfOutcomes(StringsOf({"lo", "mid", "hi"})), 0);
    ASSERT_EQ(net.AddArc(a, x), 0);
    ASSERT_EQ(net.AddArc(x, c), 0);
    // A probability table gives its outcome names, and its arcs in are removed.
    ASSERT_EQ(net.GetNode(x)->SetType(QNL_TYPE_LIST), 0);
    EXPECT_EQ(IdsOf(Def(x)), (Ids{"lo", "mid", "hi"}));
    EXPECT_EQ(net.GetParents(x).GetCount(), 0);
    EXPECT_EQ(Def(c)->GetSize(), 6);
    EXPECT_TRUE(Def(x)->IsValid() && Def(x)->IsReady());

    // A utility gives the default choices and keeps its chance parents as information.
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    ASSERT_EQ(net.GetNode(u)->SetType(QNL_TYPE_LIST), 0);
    EXPECT_EQ(IdsOf(Def(u)), (Ids{"Choice0", "Choice1"}));
    EXPECT_EQ(net.GetParents(u).GetCount(), 1);

    // A decision gives its choices and values.
    ASSERT_EQ(Def(x)->SetDefinition(ArrayOf({1, 2, 3})), 0);
    QNL_list list(x, &net);
    ASSERT_EQ(list.Assign(*Def(x)), 0);
    EXPECT_EQ(IdsOf(&list), (Ids{"lo", "mid", "hi"}));
    EXPECT_EQ(ValuesOf(&list), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(list.Assign(list), 0);
    // A source without choices of its own leaves the defaults, never an empty list.
    Foreign equation(x, &net, QNL_TYPE_EQUATION);
    ASSERT_EQ(list.Assign(equation), 0);
    EXPECT_EQ(IdsOf(&list), (Ids{"Choice0", "Choice1"}));
    EXPECT_TRUE(ValuesOf(&list).empty());
}

} // namespace
