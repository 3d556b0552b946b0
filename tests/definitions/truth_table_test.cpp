#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "definitions/truth_table.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

using quarn_test::ArrayOf;
using quarn_test::IntsOf;
using quarn_test::StringsOf;

std::vector<std::string> Texts(const QNL_stringArray& array) {
    std::vector<std::string> texts;
    for (int i = 0; i < array.GetCount(); ++i)
        texts.push_back(array.GetString(i));
    return texts;
}

class TruthTable : public quarn_test::NetworkFixture {
protected:
    int Add(const char* id, int outcomes = 2, int type = QNL_TYPE_TRUTHTABLE) {
        return AddWithOutcomes(type, id, outcomes);
    }
    QNL_truthTable* Truth(int node) { return dynamic_cast<QNL_truthTable*>(Def(node)); }
    std::vector<std::string> States(int node) {
        QNL_stringArray out;
        EXPECT_EQ(Truth(node)->GetResultingStates(out), 0);
        return Texts(out);
    }
    // Writes the values unchecked and repairs them, as a conversion would.
    std::vector<double> Repaired(int node, std::initializer_list<double> values) {
        EXPECT_EQ(Truth(node)->SetDefinition(ArrayOf(values)), 0);
        EXPECT_EQ(Truth(node)->RepairColumns(), 0);
        return Values(node);
    }
};

TEST_F(TruthTable, NewTableResolvesEveryColumnToTheFirstOutcome) {
    const int p = Add("p", 3, QNL_TYPE_CPT), t = Add("t");
    EXPECT_EQ(Values(t), (std::vector<double>{1, 0}));
    ASSERT_EQ(net.AddArc(p, t), 0);
    EXPECT_EQ(Values(t), (std::vector<double>{1, 0, 1, 0, 1, 0}));
    EXPECT_TRUE(Truth(t)->IsReady());
    // A rebuild gives the same columns, not uniform ones.
    const int u = Add("u", 3);
    EXPECT_EQ(Values(u), (std::vector<double>{1, 0, 0}));
    EXPECT_TRUE(Truth(u)->IsReady());
}

TEST_F(TruthTable, ReadinessDemandsZerosAndOnesAndRepairKeepsTheLargestTiesGoingLater) {
    const int t = Add("t");
    // Zeros and ones summing to 2, or nearly 0 and 1, are not ready.
    for (const auto& [values, ready] : std::vector<std::pair<std::vector<double>, bool>>{
             {{0.5, 0.5}, false}, {{0, 1}, true}, {{1, 1}, false}, {{0.999999, 0.000001}, false}}) {
        ASSERT_EQ(Truth(t)->SetProbabilities(ArrayOf(values)), 0);
        EXPECT_EQ(Truth(t)->IsReady(), ready) << values[0] << " " << values[1];
    }
    EXPECT_EQ(Repaired(t, {0, 0}), (std::vector<double>{0, 1}));
    ASSERT_EQ(Truth(t)->SetNumberOfOutcomes(3), 0);
    EXPECT_EQ(Repaired(t, {0.2, 0.5, 0.5}), (std::vector<double>{0, 0, 1}));
    EXPECT_EQ(Repaired(t, {0.7, 0.2, 0.1}), (std::vector<double>{1, 0, 0}));
    EXPECT_EQ(Repaired(t, {0.0, 0.0, 0.0}), (std::vector<double>{0, 0, 1}));
    EXPECT_EQ(Repaired(t, {-1.0, -0.5, -2.0}), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(Repaired(t, {0.1, 0.9, 0.3}), (std::vector<double>{0, 1, 0}));
}

TEST_F(TruthTable, NewParentOutcomeColumnsAreRepairedNotUniform) {
    const int p = Add("p", 2, QNL_TYPE_CPT), t = Add("t", 3);
    ASSERT_EQ(net.AddArc(p, t), 0);
    ASSERT_EQ(Truth(t)->SetResultingStates(IntsOf({1, 2})), 0);
    ASSERT_EQ(net.GetNode(p)->GetDefinition()->InsertOutcome(1, "mid"), 0);
    // The opened column is all zero and resolves to the last outcome; the others stay.
    EXPECT_EQ(Values(t), (std::vector<double>{0, 1, 0, 0, 0, 1, 0, 0, 1}));
    EXPECT_EQ(States(t), (std::vector<std::string>{"State1", "State2", "State2"}));
    EXPECT_TRUE(Truth(t)->IsValid());
}

TEST_F(TruthTable, ResultingStatesByIndex) {
    const int p = Add("p", 2, QNL_TYPE_CPT), t = Add("t");
    ASSERT_EQ(net.AddArc(p, t), 0);
    ASSERT_EQ(Truth(t)->SetResultingStates(IntsOf({1, 0})), 0);
    EXPECT_EQ(Values(t), (std::vector<double>{0, 1, 1, 0}));
    EXPECT_EQ(States(t), (std::vector<std::string>{"State1", "State0"}));
    EXPECT_TRUE(Truth(t)->IsReady());

    const int raw[] = {0, 0};
    EXPECT_EQ((std::vector<int>{Truth(t)->SetResultingStates(IntsOf({0, 2})),
                                Truth(t)->SetResultingStates(IntsOf({-1, 0})),
                                Truth(t)->SetResultingStates(IntsOf({0})),
                                Truth(t)->SetResultingStates(IntsOf({0, 0, 0})),
                                Truth(t)->SetResultingStates(raw, 1),
                                Truth(t)->SetResultingStates(nullptr, 2)}),
              (std::vector<int>{-2, -2, -4, -4, -4, -2}));
    EXPECT_EQ(Values(t), (std::vector<double>{0, 1, 1, 0}));
    ASSERT_EQ(Truth(t)->SetResultingStates(raw, 2), 0);
    EXPECT_EQ(States(t), (std::vector<std::string>{"State0", "State0"}));

    // An array sized rather than filled gives its entries by size.
    QNL_intArray sized;
    sized.SetSize(2);
    sized[0] = 1;
    sized[1] = 1;
    ASSERT_EQ(Truth(t)->SetResultingStates(sized), 0);
    EXPECT_EQ(States(t), (std::vector<std::string>{"State1", "State1"}));

    // Unrepaired values: a column without a one resolves to the first outcome, one with two
    // ones to the first of them; a given array is appended to.
    ASSERT_EQ(Truth(t)->SetNumberOfOutcomes(3), 0);
    ASSERT_EQ(Truth(t)->SetDefinition(ArrayOf({0.5, 0.5, 0, 0, 1, 1})), 0);
    QNL_stringArray appended = StringsOf({"kept"});
    ASSERT_EQ(Truth(t)->GetResultingStates(appended), 0);
    EXPECT_EQ(Texts(appended), (std::vector<std::string>{"kept", "State0", "State1"}));
}

TEST_F(TruthTable, ResultingStatesByIdentifierRefuseUnknownOutcomes) {
    const int p = Add("p", 3, QNL_TYPE_CPT), t = Add("t");
    ASSERT_EQ(net.AddArc(p, t), 0);
    ASSERT_EQ(Truth(t)->SetOutcomeIds(StringsOf({"yes", "no"})), 0);
    ASSERT_EQ(Truth(t)->SetResultingStates(StringsOf({"no", "yes", "no"})), 0);
    EXPECT_EQ(States(t), (std::vector<std::string>{"no", "yes", "no"}));

    net.GetNode(t)->GetValue()->SetValidFlag(true);
    EXPECT_EQ(Truth(t)->SetResultingStates(StringsOf({"no", "maybe", "no"})), -2);
    QNL_stringArray withNull = StringsOf({"no", "yes"});
    withNull.Add(nullptr);
    EXPECT_EQ(Truth(t)->SetResultingStates(withNull), -2);
    EXPECT_EQ(Truth(t)->SetResultingStates(StringsOf({"no", "yes"})), -4);
    EXPECT_EQ(States(t), (std::vector<std::string>{"no", "yes", "no"}));
    EXPECT_TRUE(net.GetNode(t)->GetValue()->IsValueValid()); // nothing changed, nothing told

    ASSERT_EQ(Truth(t)->SetResultingStates(StringsOf({"yes", "yes", "yes"})), 0);
    EXPECT_FALSE(net.GetNode(t)->GetValue()->IsValueValid());
}

TEST_F(TruthTable, ConversionsRepairTheColumns) {
    const int p = Add("p", 2, QNL_TYPE_CPT), c = Add("c", 2, QNL_TYPE_CPT);
    ASSERT_EQ(net.AddArc(p, c), 0);
    ASSERT_EQ(dynamic_cast<QNL_cpt*>(net.GetNode(c)->GetDefinition())
                  ->SetProbabilities(ArrayOf({0.3, 0.7, 0.6, 0.4})),
              0);
    ASSERT_EQ(net.GetNode(c)->SetType(QNL_TYPE_TRUTHTABLE), 0);
    ASSERT_NE(Truth(c), nullptr);
    EXPECT_EQ(Values(c), (std::vector<double>{0, 1, 1, 0}));
    EXPECT_TRUE(Truth(c)->IsReady());
    EXPECT_EQ(net.NumberOfParents(c), 1);

    // Back to a probability table: the values stay as they are.
    ASSERT_EQ(net.GetNode(c)->SetType(QNL_TYPE_CPT), 0);
    EXPECT_EQ(Values(c), (std::vector<double>{0, 1, 1, 0}));

    QNL_truthTable loose(c, &net);
    QNL_cpt source(c, &net);
    ASSERT_EQ(source.SetProbabilities(ArrayOf({0.5, 0.5, 0.9, 0.1})), 0);
    ASSERT_EQ(loose.Clone(source), 0);
    EXPECT_EQ(quarn_test::ValuesOf(&loose), (std::vector<double>{0, 1, 1, 0}));
}

} // namespace
