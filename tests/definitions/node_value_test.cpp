#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using quarn_test::AddNode;
using quarn_test::SetTable;

constexpr unsigned kEvidence = QNL_nodeValue::FLAG_EVIDENCE;
constexpr unsigned kValid = QNL_nodeValue::FLAG_VALID;
constexpr unsigned kPropagated = QNL_nodeValue::FLAG_PROPAGATED;
constexpr unsigned kMarker = QNL_nodeValue::FLAG_MARKER;
constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;

// The test table definition under another type code, for decision nodes and for parents
// that index a table without a dimension of their own.
template <int Type> class TypedDefinition : public quarn_test::TestDefinition {
public:
    using TestDefinition::TestDefinition;
    QNL_nodeDefinition* CreateCopy() const override { return new TypedDefinition(*this); }
    int GetType() const override { return Type; }
    static QNL_nodeDefinition* Create(int handle, QNL_network* network) {
        return new TypedDefinition(handle, network);
    }
};

class ScopedType {
public:
    ScopedType(int type, quarn::detail::DefinitionCreator creator)
        : type(type), previous(quarn::detail::FindDefinitionClass(type)) {
        quarn::detail::RegisterDefinitionClass(type, creator);
    }
    ~ScopedType() { quarn::detail::RegisterDefinitionClass(type, previous); }

private:
    int type;
    quarn::detail::DefinitionCreator previous;
};

// Reaches the protected flags and status, which no public operation sets directly.
template <typename Value> class Probe : public Value {
public:
    using Value::Value;
    void ForceFlags(unsigned bits) { this->flags = bits; }
    void MarkInvalid() { this->status &= ~QNL_object::STATUS_VALID; }
};

std::vector<double> Items(QNL_nodeValue* value) {
    QNL_Dmatrix* m = value->GetMatrix();
    if (m == nullptr) return {};
    return std::vector<double>(m->GetItems().Items(), m->GetItems().Items() + m->GetSize());
}

std::vector<int> Dimensions(QNL_nodeValue* value) {
    const QNL_intArray& d = value->GetMatrix()->GetDimensions();
    return std::vector<int>(d.Items(), d.Items() + d.GetSize());
}

QNL_Dmatrix Vector(std::initializer_list<double> values) {
    QNL_Dmatrix m;
    const int n = static_cast<int>(values.size());
    m.Setup(&n, 1);
    int i = 0;
    for (double v : values)
        m.Subscript(i++) = v;
    return m;
}

class NodeValue : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }

    QNL_nodeValue* ValueOf(int node) { return net.GetNode(node)->GetValue(); }
    // A node whose value is sized to its outcomes (a value follows an outcome change of its
    // definition only when it is initialised again).
    int Add(const char* id, int outcomes = 2) {
        const int node = AddNode(net, id, outcomes);
        if (outcomes == 3) SetTable(net, node, {0.25, 0.5, 0.25}); // added outcomes start at 0
        EXPECT_EQ(ValueOf(node)->InitFromDefinition(), 0);
        return node;
    }
    // Marks a node's value as computed, so that an invalidation by the network shows.
    void MarkValid(int node) { ValueOf(node)->SetValidFlag(true); }
    bool IsValid(int node) { return ValueOf(node)->IsValueValid(); }
    std::string LastMessage() {
        QNL_errorHandler& log = QNL_errorHandler::Instance();
        const int n = log.GetNumberOfErrors();
        return n > 0 ? log.GetMessage(n - 1) : "";
    }

    quarn_test::ScopedTestDefinitions definitions;
    ScopedType decisions{QNL_TYPE_LIST, TypedDefinition<QNL_TYPE_LIST>::Create};
    ScopedType gates{QNL_TYPE_DEMORGAN, TypedDefinition<QNL_TYPE_DEMORGAN>::Create};
    QNL_network net;
};

// --- the evidence state machine -------------------------------------------------------

TEST_F(NodeValue, NewBeliefVectorIsValidAndSizedToItsOutcomes) {
    const int a = AddNode(net, "a");
    QNL_nodeValue* v = ValueOf(a);
    EXPECT_EQ(Dimensions(v), (std::vector<int>{2}));
    ASSERT_EQ(net.GetNode(a)->GetDefinition()->SetNumberOfOutcomes(3), 0);
    v->SetValidFlag(true);
    EXPECT_EQ(v->InitFromDefinition(), 0);
    EXPECT_EQ(v->GetType(), QNL_VALUE_BELIEF_VECTOR);
    EXPECT_TRUE(v->IsValid());
    EXPECT_EQ(v->GetFlags(), 0u);
    EXPECT_EQ(Dimensions(v), (std::vector<int>{3}));
    EXPECT_EQ(Items(v), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(v->GetEvidence(), -2);
    EXPECT_EQ(v->GetSize(), 3);
}

TEST_F(NodeValue, UserEvidenceReplacesUserEvidence) {
    const int a = Add("a", 3);
    QNL_nodeValue* v = ValueOf(a);
    EXPECT_EQ(v->SetEvidence(0), 0);
    EXPECT_EQ(v->SetEvidence(2), 0);
    EXPECT_EQ(v->GetEvidence(), 2);
    EXPECT_EQ(v->GetFlags(), kEvidence | kValid);
    EXPECT_EQ(Items(v), (std::vector<double>{0, 0, 1}));
    EXPECT_EQ(v->ClearEvidence(), 0);
    EXPECT_EQ(v->GetEvidence(), -2);
    EXPECT_FALSE(v->IsValueValid());
    EXPECT_EQ(v->ClearEvidence(), -2);
}

// With only one kind of notification acted on, an ancestor's value is invalidated exactly
// when that notification reaches the network.
TEST_F(NodeValue, SameOutcomeAgainIsClearedAndSetWithBothNotifications) {
    const int a = Add("a");
    const int b = Add("b");
    ASSERT_EQ(net.AddArc(a, b), 0);
    ASSERT_EQ(ValueOf(b)->SetEvidence(1), 0);
    const int masks[] = {0, QNL_network::CHANGE_EVIDENCE_CLEARED, QNL_network::CHANGE_EVIDENCE_SET};
    for (int mask : masks) {
        net.SetNotificationMask(mask);
        MarkValid(a);
        EXPECT_EQ(ValueOf(b)->SetEvidence(1), 0);
        EXPECT_EQ(ValueOf(b)->GetEvidence(), 1);
        EXPECT_EQ(IsValid(a), mask == 0) << "mask " << mask;
    }
}

TEST_F(NodeValue, PropagatedEvidenceOfAnotherOutcomeIsNotOverridden) {
    const int a = Add("a");
    const int c = Add("c");
    ASSERT_EQ(net.AddArc(a, c), 0);
    SetTable(net, c, {0, 1, 1, 0}); // c is the negation of a
    ASSERT_EQ(ValueOf(a)->SetEvidence(0), 0);
    QNL_nodeValue* v = ValueOf(c);
    ASSERT_EQ(v->GetFlags() & (kEvidence | kPropagated), kPropagated);
    EXPECT_EQ(v->GetEvidence(), 1);

    EXPECT_EQ(v->SetEvidence(0), -2);
    EXPECT_EQ(v->GetFlags() & (kEvidence | kPropagated), kPropagated);
    EXPECT_EQ(v->GetEvidence(), 1);
    EXPECT_EQ(ValueOf(a)->GetEvidence(), 0);

    EXPECT_EQ(v->SetEvidence(1), 0);
    EXPECT_EQ(v->GetFlags() & (kEvidence | kPropagated), kEvidence);
    EXPECT_EQ(v->GetEvidence(), 1);
    EXPECT_EQ(v->SetPropagatedEvidence(0), -2); // nothing may replace user evidence
    EXPECT_EQ(v->GetEvidence(), 1);
}

TEST_F(NodeValue, PropagatedEvidenceNeedsAnUnobservedValueAndNeverNotifies) {
    const int a = Add("a");
    const int b = Add("b", 3);
    ASSERT_EQ(net.AddArc(a, b), 0);
    MarkValid(a);
    QNL_nodeValue* v = ValueOf(b);
    EXPECT_EQ(v->InvalidateValue(), -2);
    EXPECT_EQ(v->ClearPropagatedEvidence(), -2);
    EXPECT_EQ(v->SetPropagatedEvidence(3), -2);
    EXPECT_EQ(v->SetPropagatedEvidence(2), 0);
    EXPECT_EQ(v->GetFlags(), kPropagated | kValid);
    EXPECT_EQ(Items(v), (std::vector<double>{0, 0, 1}));
    EXPECT_EQ(v->SetPropagatedEvidence(1), -2);
    EXPECT_EQ(v->ClearEvidence(), -2); // propagated evidence is not the user's to clear
    EXPECT_EQ(v->ClearPropagatedEvidence(), 0);
    EXPECT_EQ(v->GetFlags(), 0u);
    EXPECT_TRUE(IsValid(a));
}

TEST_F(NodeValue, OutOfRangeEvidenceChangesNothingAndTellsNoOne) {
    const int a = Add("a");
    const int b = Add("b", 3);
    ASSERT_EQ(net.AddArc(a, b), 0);
    ASSERT_EQ(ValueOf(b)->SetEvidence(1), 0);
    MarkValid(a);
    for (int outcome : {-1, 3, 1000}) {
        EXPECT_EQ(ValueOf(b)->SetEvidence(outcome), -2);
        EXPECT_EQ(ValueOf(b)->GetEvidence(), 1);
        EXPECT_TRUE(ValueOf(b)->HasEvidence());
    }
    EXPECT_TRUE(IsValid(a));
    EXPECT_EQ(LastMessage(), "Evidence outcome out of range");
}

TEST_F(NodeValue, ImpossibleEvidenceIsRefusedAndTheOldEvidenceStays) {
    net.SetNotificationControl(QNL_network::NOTIFY_ON); // no evidence propagation
    const int a = Add("a");
    const int c = Add("c");
    ASSERT_EQ(net.AddArc(a, c), 0);
    SetTable(net, c, {1, 0, 0.5, 0.5}); // a = State0 rules out c = State1
    ASSERT_EQ(ValueOf(c)->SetEvidence(0), 0);
    ASSERT_EQ(ValueOf(a)->SetEvidence(0), 0);

    EXPECT_EQ(ValueOf(c)->SetEvidence(1), -2);
    EXPECT_EQ(ValueOf(c)->GetEvidence(), 0);
    EXPECT_EQ(ValueOf(c)->GetFlags() & (kEvidence | kPropagated), kEvidence);
    EXPECT_EQ(Items(ValueOf(c)), (std::vector<double>{1, 0}));
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    ASSERT_EQ(log.GetNumberOfErrors(), 1);
    EXPECT_STREQ(log.GetMessage(0), "Outcome [State1] of node [c] is impossible");

    // Without earlier evidence the refused evidence simply is not there.
    ASSERT_EQ(ValueOf(c)->ClearEvidence(), 0);
    EXPECT_EQ(ValueOf(c)->SetEvidence(1), -2);
    EXPECT_FALSE(ValueOf(c)->IsObserved());
    EXPECT_EQ(ValueOf(c)->GetEvidence(), -2);
}

// After the old evidence is cleared the network implies it again from other evidence; the
// new outcome is then refused and the old evidence is set back as user evidence, with the
// network's propagated evidence restored behind it.
TEST_F(NodeValue, RefusedReplacementRestoresEvidenceAndItsPropagation) {
    const int a = Add("a");
    const int c = Add("c");
    const int d = Add("d");
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(c, d), 0);
    SetTable(net, c, {1, 0, 0.5, 0.5});
    SetTable(net, d, {1, 0, 0, 1}); // d copies c
    ASSERT_EQ(ValueOf(c)->SetEvidence(0), 0);
    ASSERT_EQ(ValueOf(a)->SetEvidence(0), 0);
    ASSERT_EQ(ValueOf(d)->GetFlags() & kPropagated, kPropagated);

    EXPECT_EQ(ValueOf(c)->SetEvidence(1), -2);
    EXPECT_EQ(ValueOf(c)->GetEvidence(), 0);
    EXPECT_EQ(ValueOf(c)->GetFlags() & (kEvidence | kPropagated), kEvidence);
    EXPECT_EQ(ValueOf(d)->GetFlags() & (kEvidence | kPropagated), kPropagated);
    EXPECT_EQ(ValueOf(d)->GetEvidence(), 0);
    EXPECT_EQ(ValueOf(a)->GetEvidence(), 0);
}

TEST_F(NodeValue, ClearEvidenceResetsTheMarkerOnlyInBeliefVectors) {
    const int a = Add("a");
    Probe<QNL_beliefVector> belief(&net, a);
    Probe<QNL_decisionValue> decision(&net, a);
    net.SetNotificationControl(0);
    for (auto* v : std::initializer_list<QNL_nodeValue*>{&belief, &decision}) {
        ASSERT_EQ(v->SetEvidence(1), 0);
    }
    belief.ForceFlags(belief.GetFlags() | kMarker);
    decision.ForceFlags(decision.GetFlags() | kMarker);
    EXPECT_EQ(belief.ClearEvidence(), 0);
    EXPECT_EQ(decision.ClearEvidence(), 0);
    EXPECT_EQ(belief.GetFlags(), 0u);
    EXPECT_EQ(decision.GetFlags(), kMarker);
}

TEST_F(NodeValue, DecisionEvidenceRecordsTheChoiceAndNotifies) {
    const int u = Add("u");
    const int d = net.AddNode(QNL_TYPE_LIST, "d");
    ASSERT_GE(d, 0);
    ASSERT_EQ(net.AddArc(u, d), 0);
    QNL_nodeValue* v = ValueOf(d);
    ASSERT_EQ(v->GetType(), QNL_VALUE_DECISION);
    ASSERT_EQ(v->SetValue(Vector({3.5, 7.25})), 0);
    MarkValid(u);
    EXPECT_EQ(v->SetEvidence(1), 0);
    EXPECT_EQ(v->GetEvidence(), 1);
    EXPECT_EQ(Items(v), (std::vector<double>{3.5, 7.25})); // the utilities stay
    EXPECT_FALSE(IsValid(u));
    EXPECT_EQ(v->SetValueToOutcome(2), -2);
    EXPECT_EQ(v->SetValueToOutcome(0), 0);
    EXPECT_EQ(v->GetEvidence(), 0);
}

// --- copies and assignments -----------------------------------------------------------

TEST_F(NodeValue, CopiesAndAssignmentsNeverNotify) {
    const int a = Add("a");
    const int b = Add("b", 3);
    const int x = Add("x", 3);
    ASSERT_EQ(net.AddArc(a, b), 0);
    ASSERT_EQ(net.AddArc(a, x), 0);
    ASSERT_EQ(ValueOf(b)->SetEvidence(2), 0);
    QNL_beliefVector target(&net, x); // not the node's own value: the network can't judge it
    net.SetNotificationControl(0);
    ASSERT_EQ(target.SetEvidence(0), 0);
    net.SetNotificationControl(QNL_network::NOTIFY_ON | QNL_network::NOTIFY_PROPAGATE_EVIDENCE);
    MarkValid(a);

    std::unique_ptr<QNL_nodeValue> copy(ValueOf(b)->CreateCopy());
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->IsValid());
    EXPECT_EQ(copy->GetNetwork(), &net);
    EXPECT_EQ(copy->GetHandle(), b);
    EXPECT_EQ(copy->GetFlags(), ValueOf(b)->GetFlags());
    EXPECT_EQ(copy->GetEvidence(), 2);
    EXPECT_EQ(Items(copy.get()), Items(ValueOf(b)));

    // The target's own evidence goes without a cleared notification, b's arrives without a
    // set notification; the target is bound to b's node like the source.
    EXPECT_EQ(target.Assign(*ValueOf(b)), 0);
    EXPECT_EQ(target.GetEvidence(), 2);
    EXPECT_EQ(target.GetHandle(), b);
    EXPECT_EQ(target.Assign(target), 0);
    EXPECT_EQ(target.GetEvidence(), 2);
    EXPECT_TRUE(IsValid(a));
}

TEST_F(NodeValue, SameTypeCopyKeepsIndexedMatrixAndParents) {
    const int a = Add("a");
    const int b = Add("b", 3);
    ASSERT_EQ(ValueOf(b)->AddIndexingParent(a), 0);
    QNL_Dmatrix* m = ValueOf(b)->GetMatrix();
    for (int i = 0; i < m->GetSize(); ++i)
        m->Subscript(i) = i * 0.5;
    ValueOf(b)->SetValidFlag(true);
    std::unique_ptr<QNL_nodeValue> copy(ValueOf(b)->CreateCopy());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Dimensions(copy.get()), (std::vector<int>{2, 3}));
    EXPECT_EQ(Items(copy.get()), Items(ValueOf(b)));
    ASSERT_EQ(copy->GetIndexingParents().GetCount(), 1);
    EXPECT_EQ(copy->GetIndexingParents()[0], a);
    EXPECT_EQ(copy->GetFlags(), kValid);
}

TEST_F(NodeValue, AssignBetweenTypesCarriesOnlyWhatTheTargetCanHold) {
    const int a = Add("a", 3);
    net.SetNotificationControl(0);
    QNL_beliefVector belief(&net, a);
    QNL_decisionValue decision(&net, a);
    QNL_utilityValue utility(&net, a);
    QNL_equationValue equation(&net, a);
    QNL_continuousValue continuous(&net, a);

    ASSERT_EQ(belief.SetEvidence(2), 0);
    EXPECT_EQ(decision.Assign(belief), 0);
    EXPECT_EQ(decision.GetEvidence(), 2);
    EXPECT_EQ(decision.GetFlags(), kEvidence | kValid);
    EXPECT_EQ(Dimensions(&decision), (std::vector<int>{3}));

    ASSERT_EQ(decision.ClearEvidence(), 0);
    ASSERT_EQ(decision.SetPropagatedEvidence(1), 0);
    QNL_beliefVector target(&net, a);
    EXPECT_EQ(target.Assign(decision), 0);
    EXPECT_EQ(target.GetFlags(), kPropagated | kValid); // stays propagated, not the user's
    EXPECT_EQ(Items(&target), (std::vector<double>{0, 1, 0}));

    ASSERT_EQ(utility.AddIndexingParent(a), 0);
    EXPECT_EQ(target.Assign(utility), 0);
    EXPECT_EQ(target.GetFlags(), 0u);
    EXPECT_EQ(target.GetIndexingParents().GetCount(), 0);
    EXPECT_EQ(Items(&target), (std::vector<double>{0, 0, 0}));

    EXPECT_EQ(utility.Assign(belief), 0);
    EXPECT_EQ(Dimensions(&utility), (std::vector<int>{1}));
    EXPECT_EQ(utility.GetFlags(), 0u);

    EXPECT_EQ(equation.Assign(belief), 0);
    EXPECT_EQ(equation.GetFlags(), 0u);
    EXPECT_EQ(equation.GetHandle(), a);
    ASSERT_EQ(equation.SetEvidence(4.0), 0);
    EXPECT_EQ(continuous.Assign(equation), 0);
    EXPECT_EQ(continuous.GetFlags(), 0u);
}

TEST_F(NodeValue, InvalidSourceIsRefused) {
    const int a = Add("a");
    Probe<QNL_beliefVector> source(&net, a);
    source.MarkInvalid();
    QNL_beliefVector target(&net, a);
    EXPECT_EQ(target.Assign(source), -567);
    EXPECT_EQ(target.Clone(source), -567);
    QNL_equationValue equation(&net, a);
    EXPECT_EQ(equation.Assign(source), -567);
    QNL_beliefVector copy(source);
    EXPECT_FALSE(copy.IsValid());
}

// --- the value matrix -----------------------------------------------------------------

TEST_F(NodeValue, SetValueToOutcomeRebuildsAnIndexedMatrix) {
    const int a = Add("a");
    const int b = Add("b", 3);
    QNL_nodeValue* v = ValueOf(b);
    ASSERT_EQ(v->AddIndexingParent(a), 0);
    ASSERT_EQ(Dimensions(v), (std::vector<int>{2, 3}));
    EXPECT_EQ(v->SetValueToOutcome(1), 0);
    EXPECT_EQ(Dimensions(v), (std::vector<int>{3}));
    EXPECT_EQ(Items(v), (std::vector<double>{0, 1, 0}));
    EXPECT_EQ(v->GetIndexingParents().GetCount(), 0);
    EXPECT_TRUE(v->IsValueValid());
    EXPECT_EQ(v->SetValueToOutcome(3), -2);
}

TEST_F(NodeValue, AddIndexingParentChecksHandlesAndAddsOneDimension) {
    const int a = Add("a");
    const int b = Add("b", 3);
    const int gone = Add("gone");
    ASSERT_EQ(net.DeleteNode(gone), 0);
    QNL_nodeValue* v = ValueOf(b);
    for (int bad : {-1, gone, net.GetTableSize(), net.GetTableSize() + 7})
        EXPECT_EQ(v->AddIndexingParent(bad), -2) << bad;
    EXPECT_EQ(v->GetIndexingParents().GetCount(), 0);

    ASSERT_EQ(Items(v).size(), 3u);
    QNL_Dmatrix* m = v->GetMatrix();
    m->Subscript(0) = 0.25;
    m->Subscript(1) = 0.5;
    m->Subscript(2) = 0.25;
    EXPECT_EQ(v->AddIndexingParent(a), 0);
    EXPECT_EQ(v->AddIndexingParent(a), 0);
    EXPECT_EQ(v->GetIndexingParents().GetCount(), 1);
    EXPECT_EQ(Dimensions(v), (std::vector<int>{2, 3}));
    EXPECT_EQ(Items(v), (std::vector<double>{0.25, 0.5, 0.25, 0.25, 0.5, 0.25}));

    // a's value may not be indexed by b in turn.
    EXPECT_EQ(ValueOf(a)->AddIndexingParent(b), 0);
    EXPECT_EQ(ValueOf(a)->GetIndexingParents().GetCount(), 0);
    EXPECT_EQ(Dimensions(ValueOf(a)), (std::vector<int>{2}));
}

TEST_F(NodeValue, ParentWithoutOutcomeTableIsRecordedWithoutADimension) {
    const int gate = net.AddNode(QNL_TYPE_DEMORGAN, "gate");
    ASSERT_GE(gate, 0);
    const int decision = net.AddNode(QNL_TYPE_LIST, "decision");
    const int c = Add("c", 3);
    QNL_nodeValue* v = ValueOf(c);
    EXPECT_EQ(v->AddIndexingParent(gate), 0);
    EXPECT_EQ(Dimensions(v), (std::vector<int>{3}));
    EXPECT_EQ(v->AddIndexingParent(decision), 0);
    // The new dimension goes before the node's own outcomes whatever was recorded before.
    EXPECT_EQ(Dimensions(v), (std::vector<int>{2, 3}));
    EXPECT_EQ(v->GetIndexingParents().GetCount(), 2);

    QNL_utilityValue utility(&net, c);
    EXPECT_EQ(utility.AddIndexingParent(decision), 0);
    EXPECT_EQ(Dimensions(&utility), (std::vector<int>{2, 1}));

    QNL_equationValue equation(&net, c);
    EXPECT_EQ(equation.AddIndexingParent(decision), -51);
    QNL_continuousValue continuous(&net, c);
    EXPECT_EQ(continuous.AddIndexingParent(decision), 0);
    EXPECT_EQ(continuous.GetIndexingParents().GetCount(), 1);
    EXPECT_EQ(continuous.GetSize(), -51);
}

TEST_F(NodeValue, MatrixAccessAndUnsupportedOperations) {
    const int a = Add("a");
    QNL_utilityValue utility(&net, a);
    EXPECT_EQ(Dimensions(&utility), (std::vector<int>{1}));
    EXPECT_EQ(utility.SetValue(Vector({1, 2, 3})), 0);
    EXPECT_EQ(utility.GetSize(), 3);
    EXPECT_EQ(utility.GetFlags(), 0u);
    EXPECT_EQ(utility.GetValue(nullptr), -2);
    EXPECT_EQ(utility.SetEvidence(0), -51);
    EXPECT_EQ(utility.GetEvidence(), -51);
    EXPECT_EQ(utility.SetValueToOutcome(0), -51);
    EXPECT_EQ(utility.InitFromDefinition(), 0);
    EXPECT_EQ(Items(&utility), (std::vector<double>{0}));

    QNL_mauValue mau(&net, a);
    EXPECT_EQ(mau.GetType(), QNL_VALUE_MAU);
    EXPECT_EQ(mau.ClearEvidence(), -51);

    const int b = Add("b");
    QNL_beliefVector belief(&net, b);
    double x = 0;
    EXPECT_EQ(belief.SetEvidence(1.5), -51);
    EXPECT_EQ(belief.GetEvidence(&x), -51);
    QNL_equationValue equation(&net, a);
    QNL_Dmatrix* out = nullptr;
    EXPECT_EQ(equation.GetValue(&out), -51);
    EXPECT_EQ(equation.GetMatrix(), nullptr);
    EXPECT_EQ(equation.GetSize(), -51);

    ASSERT_EQ(belief.AddIndexingParent(a), 0);
    EXPECT_EQ(belief.CleanUp(1), 0);
    EXPECT_EQ(belief.GetSize(), 0);
    EXPECT_EQ(belief.GetIndexingParents().GetCount(), 0);
}

TEST_F(NodeValue, ValueWithoutNetworkRefusesEvidenceWithoutCrashing) {
    QNL_beliefVector v(nullptr, -1);
    EXPECT_EQ(v.GetSize(), 0);
    EXPECT_EQ(v.SetEvidence(0), -2);
    EXPECT_EQ(v.SetPropagatedEvidence(0), -2);
    EXPECT_EQ(v.AddIndexingParent(0), -2);
    EXPECT_EQ(v.InitFromDefinition(), 0);
}

// --- equation values ------------------------------------------------------------------

TEST_F(NodeValue, EquationStatisticsMatchDirectComputation) {
    QNL_equationValue v(&net, 0);
    EXPECT_EQ(v.ComputeStatistics(), 0);
    EXPECT_FALSE(v.IsValueValid());
    for (double x : {1.0, 2.0, 3.0})
        ASSERT_EQ(v.AddSample(x), 0);
    EXPECT_EQ(v.ComputeStatistics(), 0);
    EXPECT_DOUBLE_EQ(v.GetMean(), 2.0);
    EXPECT_NEAR(v.GetStandardDeviation(), std::sqrt(2.0 / 3.0), 1e-12);
    EXPECT_TRUE(v.IsValueValid());
    EXPECT_EQ(v.ComputeStatistics(), 0); // a second call changes nothing
    EXPECT_DOUBLE_EQ(v.GetMean(), 2.0);
    EXPECT_EQ(v.GetSamples().size(), 3u);

    EXPECT_EQ(v.ClearSamples(), 0);
    EXPECT_FALSE(v.IsValueValid());
    EXPECT_EQ(v.GetSampleCount(), 0);
    ASSERT_EQ(v.AddSample(-7.5), 0);
    v.ComputeStatistics();
    EXPECT_DOUBLE_EQ(v.GetMean(), -7.5);
    EXPECT_EQ(v.GetStandardDeviation(), 0.0);

    // Samples not kept still count; compare with a two-pass computation.
    v.ClearSamples();
    v.SetKeepSamples(0);
    std::vector<double> xs;
    for (int i = 0; i < 50; ++i)
        xs.push_back(std::sin(i * 1.3) * 10 + i * 0.1);
    for (double x : xs)
        v.AddSample(x);
    v.ComputeStatistics();
    double mean = 0, squares = 0;
    for (double x : xs)
        mean += x;
    mean /= xs.size();
    for (double x : xs)
        squares += (x - mean) * (x - mean);
    EXPECT_TRUE(v.GetSamples().empty());
    EXPECT_EQ(v.GetSampleCount(), 50);
    EXPECT_NEAR(v.GetMean(), mean, 1e-12);
    EXPECT_NEAR(v.GetStandardDeviation(), std::sqrt(squares / xs.size()), 1e-9);
}

TEST_F(NodeValue, WeightedSamplesGiveTheWeightedMean) {
    QNL_equationValue v(&net, 0);
    EXPECT_EQ(v.SetWeightedSamples({{1.0, 1.0}, {4.0, 3.0}}), 0);
    EXPECT_DOUBLE_EQ(v.GetMean(), 13.0 / 4.0);
    EXPECT_EQ(v.GetStandardDeviation(), -1.0);
    EXPECT_TRUE(v.IsValueValid());

    EXPECT_EQ(v.SetWeightedSamples({{2.0, 0.0}, {6.0, 0.0}}), 0);
    EXPECT_DOUBLE_EQ(v.GetMean(), 4.0);
    EXPECT_EQ(v.GetSamples()[1].weight, 1.0);

    EXPECT_EQ(v.SetWeightedSamples({{2.0, 1.0}, {6.0, -1.0}}), -2);
    EXPECT_DOUBLE_EQ(v.GetMean(), 4.0);
    EXPECT_EQ(v.GetSamples().size(), 2u);

    EXPECT_EQ(v.SetWeightedSamples({}), 0);
    EXPECT_EQ(v.GetMean(), 0.0);
    EXPECT_FALSE(v.IsValueValid());
}

TEST_F(NodeValue, EquationPropagatedEvidenceNeverPassesForTheUsers) {
    QNL_equationValue v(&net, 0);
    double x = 0;
    EXPECT_EQ(v.ClearEvidence(), -2);
    EXPECT_EQ(v.SetEvidence(std::numeric_limits<double>::quiet_NaN()), -2);
    EXPECT_EQ(v.SetEvidence(2.5), 0);
    EXPECT_EQ(v.GetFlags(), kEvidence | kValid);
    EXPECT_EQ(v.SetPropagatedEvidence(9.0), -2);
    EXPECT_EQ(v.GetEvidence(&x), 0);
    EXPECT_EQ(x, 2.5);
    EXPECT_EQ(v.ClearPropagatedEvidence(), -2);
    EXPECT_TRUE(v.HasEvidence());
    EXPECT_EQ(v.ClearEvidence(), 0);
    EXPECT_EQ(v.GetFlags(), 0u);

    EXPECT_EQ(v.SetPropagatedEvidence(9.0), 0);
    EXPECT_EQ(v.GetFlags(), kPropagated | kValid);
    EXPECT_EQ(v.ClearPropagatedEvidence(), 0);
    EXPECT_EQ(v.GetFlags(), 0u);
    EXPECT_EQ(v.SetPropagatedEvidence(1.0), 0);
    EXPECT_EQ(v.SetEvidence(3.0), 0); // user evidence takes over
    EXPECT_EQ(v.GetFlags(), kEvidence | kValid);
}

TEST_F(NodeValue, EquationAndContinuousCopiesKeepEveryField) {
    QNL_equationValue equation(&net, 4);
    equation.SetEvidence(1.25);
    equation.SetKeepSamples(1);
    equation.AddSample(3.0);
    equation.AddSample(5.0);
    equation.ComputeStatistics();
    std::unique_ptr<QNL_nodeValue> e(equation.CreateCopy());
    auto* ec = dynamic_cast<QNL_equationValue*>(e.get());
    ASSERT_NE(ec, nullptr);
    double x = 0;
    ec->GetEvidence(&x);
    EXPECT_EQ(x, 1.25);
    EXPECT_EQ(ec->GetFlags(), equation.GetFlags());
    EXPECT_EQ(ec->GetHandle(), 4);
    EXPECT_EQ(ec->GetSampleCount(), 2);
    EXPECT_EQ(ec->GetSamples().size(), 2u);
    EXPECT_DOUBLE_EQ(ec->GetMean(), 4.0);
    EXPECT_DOUBLE_EQ(ec->GetStandardDeviation(), 1.0);
    ec->AddSample(7.0);
    ec->ComputeStatistics();
    EXPECT_DOUBLE_EQ(ec->GetMean(), 5.0); // the running sums came along

    QNL_continuousValue continuous(&net, 5);
    continuous.SetEvidence(-2.0);
    continuous.SetStateWord(3);
    continuous.SetEvidenceMarker(7);
    continuous.GetSamples().push_back({0.5, 2.0});
    continuous.GetMixture().count = 3;
    continuous.GetMixture().components.push_back({1.0, 2.0, 3.0});
    std::unique_ptr<QNL_nodeValue> c(continuous.CreateCopy());
    auto* cc = dynamic_cast<QNL_continuousValue*>(c.get());
    ASSERT_NE(cc, nullptr);
    cc->GetEvidence(&x);
    EXPECT_EQ(x, -2.0);
    EXPECT_EQ(cc->GetFlags(), kEvidence);
    EXPECT_EQ(cc->GetStateWord(), 3);
    EXPECT_EQ(cc->GetEvidenceMarker(), 7);
    ASSERT_EQ(cc->GetSamples().size(), 1u);
    EXPECT_EQ(cc->GetSamples()[0].weight, 2.0);
    EXPECT_EQ(cc->GetMixture().count, 3);
    ASSERT_EQ(cc->GetMixture().components.size(), 1u);
    EXPECT_EQ(cc->GetMixture().components[0].variance, 3.0);
}

TEST_F(NodeValue, ContinuousEvidenceFlagsAndMarker) {
    QNL_continuousValue v(&net, 0);
    double x = 0;
    EXPECT_EQ(v.SetEvidence(1.5), 0);
    EXPECT_EQ(v.GetFlags(), kEvidence);
    EXPECT_EQ(v.SetPropagatedEvidence(2.5), 0);
    EXPECT_EQ(v.GetFlags(), kPropagated);
    v.GetEvidence(&x);
    EXPECT_EQ(x, 2.5);
    v.SetEvidenceMarker(1);
    EXPECT_EQ(v.ClearPropagatedEvidence(), 0);
    EXPECT_EQ(v.GetFlags(), 0u);
    EXPECT_EQ(v.GetEvidenceMarker(), 0);
    v.SetEvidence(4.0);
    v.SetEvidenceMarker(1);
    EXPECT_EQ(v.ClearEvidence(), 0);
    EXPECT_EQ(v.GetEvidenceMarker(), 0);
    EXPECT_FALSE(v.IsObserved());
}

// --- utility rescaling ----------------------------------------------------------------

TEST_F(NodeValue, UtilityRescaleMapsLinearlyAndKeepsUndefinedEntries) {
    QNL_utilityValue v(&net, 0);
    auto rescaled = [&](std::initializer_list<double> values, double low, double high,
                        double newLow, double newHigh) {
        v.SetValue(Vector(values));
        EXPECT_EQ(v.Rescale(low, high, newLow, newHigh), 0);
        return Items(&v);
    };
    EXPECT_EQ(rescaled({10, 20, 30}, 0, 0, 0, 1), (std::vector<double>{0, 0.5, 1}));
    EXPECT_EQ(rescaled({10, 20, 30}, 15, 25, 0, 1), (std::vector<double>{0, 0.5, 1}));
    EXPECT_EQ(rescaled({8, 16, 24}, 0, 32, 0, 4), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(rescaled({10, 20, 30}, 0, 0, 5, 5), (std::vector<double>{5, 5, 5}));
    EXPECT_EQ(rescaled({7, 7, 7}, 0, 0, -1, 1), (std::vector<double>{1, 1, 1}));
    EXPECT_EQ(rescaled({10, 20, 30}, 0, 0, 1, 0), (std::vector<double>{1, 0.5, 0}));
    EXPECT_EQ(rescaled({10, 20, 30}, 10, 30, 10, 30), (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(rescaled({kUndefined, 20, 30}, 0, 0, 0, 1), (std::vector<double>{kUndefined, 0, 1}));
    EXPECT_EQ(rescaled({kUndefined, 4, 4}, 0, 0, 0, 1), (std::vector<double>{kUndefined, 1, 1}));
    EXPECT_EQ(rescaled({kUndefined, kUndefined}, 0, 0, 0, 1),
              (std::vector<double>{kUndefined, kUndefined}));

    v.SetValue(Vector({kUndefined, -3, 8}));
    EXPECT_EQ(v.GetMinimum(), -3);
    EXPECT_EQ(v.GetMaximum(), 8);
    EXPECT_EQ(v.Rescale(0, std::numeric_limits<double>::infinity(), 0, 1), -2);
    EXPECT_EQ(v.Rescale(0, 1, std::nan(""), 1), -2);
    EXPECT_EQ(Items(&v), (std::vector<double>{kUndefined, -3, 8}));
}

} // namespace
