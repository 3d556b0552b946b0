#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/arcs.h"
#include "support/network_builder.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quarn_test::AddNode;
using quarn_test::Arcs;
using quarn_test::LastMessage;
using quarn_test::SetTable;
using Doubles = std::vector<double>;
using Dims = std::vector<int>;

constexpr unsigned kEvidence = QNL_nodeValue::FLAG_EVIDENCE;
constexpr unsigned kValid = QNL_nodeValue::FLAG_VALID;
constexpr unsigned kPropagated = QNL_nodeValue::FLAG_PROPAGATED;
constexpr unsigned kObserved = kEvidence | kPropagated;

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

// Reaches the protected flags and status, which no public operation sets directly.
template <typename Value> class Probe : public Value {
public:
    using Value::Value;
    void MarkInvalid() { this->status &= ~QNL_object::STATUS_VALID; }
};

Doubles Items(QNL_nodeValue* value) {
    QNL_Dmatrix* m = value->GetMatrix();
    return m == nullptr ? Doubles{}
                        : Doubles(m->GetItems().Items(), m->GetItems().Items() + m->GetSize());
}

Dims DimsOf(QNL_nodeValue* value) {
    const QNL_intArray& d = value->GetMatrix()->GetDimensions();
    return Dims(d.Items(), d.Items() + d.GetSize());
}

// A value in one line: flags, evidence, cells, dimensions and indexing parents.
std::string Describe(QNL_nodeValue* value) {
    std::ostringstream out;
    out << value->GetFlags() << ' ' << value->GetEvidence() << " [";
    const Doubles items = Items(value);
    for (std::size_t i = 0; i < items.size(); ++i)
        out << (i ? " " : "") << items[i];
    out << "]";
    if (value->GetMatrix() != nullptr)
        for (int d : DimsOf(value))
            out << ' ' << d;
    out << " /";
    for (int i = 0; i < value->GetIndexingParents().GetCount(); ++i)
        out << ' ' << value->GetIndexingParents()[i];
    return out.str();
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

    quarn_test::ScopedTestDefinitions definitions;
    quarn_test::ScopedRegistration decisions{QNL_TYPE_LIST, TypedDefinition<QNL_TYPE_LIST>::Create};
    quarn_test::ScopedRegistration gates{QNL_TYPE_DEMORGAN,
                                         TypedDefinition<QNL_TYPE_DEMORGAN>::Create};
    QNL_network net;
};

// --- the evidence state machine -------------------------------------------------------

// One step per row: the result, the flags and evidence afterwards. A valid ancestor is
// invalidated exactly when user evidence changes: refusals and propagated evidence set
// directly tell no one.
TEST_F(NodeValue, EvidenceStepsAndWhomTheyTell) {
    const int a = Add("a"), b = Add("b", 3);
    ASSERT_EQ(net.AddArc(a, b), 0);
    QNL_nodeValue* v = ValueOf(b);
    EXPECT_EQ(DimsOf(v), (Dims{3}));
    enum Op { SET, CLEAR, PROPAGATE, UNPROPAGATE };
    struct Step {
        Op op;
        int outcome, result;
        unsigned flags;
        int evidence;
    };
    const unsigned E = kEvidence | kValid, P = kPropagated | kValid;
    const Step steps[] = {
        {CLEAR, 0, -2, 0, -2},       {SET, 0, 0, E, 0},         {SET, 2, 0, E, 2},
        {SET, -1, -2, E, 2},         {SET, 3, -2, E, 2},        {SET, 1000, -2, E, 2},
        {PROPAGATE, 0, -2, E, 2},    {CLEAR, 0, 0, 0, -2},      {CLEAR, 0, -2, 0, -2},
        {UNPROPAGATE, 0, -2, 0, -2}, {PROPAGATE, 3, -2, 0, -2}, {PROPAGATE, 2, 0, P, 2},
        {PROPAGATE, 1, -2, P, 2},    {CLEAR, 0, -2, P, 2},      {SET, 0, -2, P, 2},
        {UNPROPAGATE, 0, 0, 0, -2},  {PROPAGATE, 1, 0, P, 1},   {SET, 1, 0, E, 1}};
    for (const Step& step : steps) {
        MarkValid(a);
        const unsigned before = v->GetFlags();
        const int result = step.op == SET         ? v->SetEvidence(step.outcome)
                           : step.op == CLEAR     ? v->ClearEvidence()
                           : step.op == PROPAGATE ? v->SetPropagatedEvidence(step.outcome)
                                                  : v->ClearPropagatedEvidence();
        const std::string label = std::to_string(step.op) + " " + std::to_string(step.outcome);
        EXPECT_EQ(result, step.result) << label;
        EXPECT_EQ(v->GetFlags(), step.flags) << label;
        EXPECT_EQ(v->GetEvidence(), step.evidence) << label;
        const bool told = result == 0 && (step.op == SET || step.op == CLEAR) &&
                          ((before | step.flags) & kEvidence) != 0;
        EXPECT_EQ(IsValid(a), !told) << label;
        if (step.evidence >= 0 && step.flags != 0) {
            Doubles cells(3, 0.0);
            cells[static_cast<std::size_t>(step.evidence)] = 1.0;
            EXPECT_EQ(Items(v), cells) << label;
        }
    }
    ASSERT_EQ(v->SetEvidence(7), -2);
    EXPECT_EQ(LastMessage(), "Evidence outcome out of range");
}

// With only one kind of notification acted on, an ancestor's value is invalidated exactly
// when that notification reaches the network.
TEST_F(NodeValue, SameOutcomeAgainIsClearedAndSetWithBothNotifications) {
    const int a = Add("a"), b = Add("b");
    ASSERT_EQ(net.AddArc(a, b), 0);
    ASSERT_EQ(ValueOf(b)->SetEvidence(1), 0);
    for (int mask :
         {0, int(QNL_network::CHANGE_EVIDENCE_CLEARED), int(QNL_network::CHANGE_EVIDENCE_SET)}) {
        net.SetNotificationMask(mask);
        MarkValid(a);
        EXPECT_EQ(ValueOf(b)->SetEvidence(1), 0);
        EXPECT_EQ(ValueOf(b)->GetEvidence(), 1);
        EXPECT_EQ(IsValid(a), mask == 0) << "mask " << mask;
    }
}

// After the old evidence is cleared the network implies it again from other evidence; the
// new outcome is then refused and the old evidence is set back as user evidence, with the
// network's propagated evidence restored behind it.
TEST_F(NodeValue, RefusedReplacementRestoresEvidenceAndItsPropagation) {
    const int a = Add("a"), c = Add("c"), d = Add("d");
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(c, d), 0);
    SetTable(net, c, {1, 0, 0.5, 0.5});
    SetTable(net, d, {1, 0, 0, 1}); // d copies c
    ASSERT_EQ(ValueOf(c)->SetEvidence(0), 0);
    ASSERT_EQ(ValueOf(a)->SetEvidence(0), 0);
    ASSERT_EQ(ValueOf(d)->GetFlags() & kPropagated, kPropagated);
    EXPECT_EQ(ValueOf(c)->SetEvidence(1), -2);
    EXPECT_EQ(ValueOf(c)->GetEvidence(), 0);
    EXPECT_EQ(ValueOf(c)->GetFlags() & kObserved, kEvidence);
    EXPECT_EQ(ValueOf(d)->GetFlags() & kObserved, kPropagated);
    EXPECT_EQ(ValueOf(d)->GetEvidence(), 0);
    EXPECT_EQ(ValueOf(a)->GetEvidence(), 0);

    // Without propagation the definition itself refuses, and the old evidence is set back.
    net.SetNotificationControl(QNL_network::NOTIFY_ON);
    EXPECT_EQ(ValueOf(c)->SetEvidence(1), -2);
    EXPECT_EQ(ValueOf(c)->GetEvidence(), 0);
    EXPECT_EQ(ValueOf(c)->GetFlags() & kObserved, kEvidence);
    EXPECT_EQ(Items(ValueOf(c)), (Doubles{1, 0}));
}

TEST_F(NodeValue, DecisionEvidenceKeepsTheUtilities) {
    const int u = Add("u");
    const int d = net.AddNode(QNL_TYPE_LIST, "d");
    ASSERT_EQ(net.AddArc(u, d), 0);
    QNL_nodeValue* v = ValueOf(d);
    ASSERT_EQ(v->GetType(), QNL_VALUE_DECISION);
    ASSERT_EQ(v->SetValue(Vector({3.5, 7.25})), 0);
    MarkValid(u);
    EXPECT_EQ(v->SetEvidence(1), 0);
    EXPECT_EQ(Items(v), (Doubles{3.5, 7.25}));
    EXPECT_FALSE(IsValid(u));
    EXPECT_EQ(v->SetValueToOutcome(2), -2);
    EXPECT_EQ(v->SetValueToOutcome(0), 0);
    EXPECT_EQ(v->GetEvidence(), 0);
}

// --- copies and assignments -----------------------------------------------------------

TEST_F(NodeValue, CopiesAndAssignmentsKeepEverythingAndNeverNotify) {
    const int a = Add("a"), b = Add("b", 3), x = Add("x", 3);
    Arcs(net, {a}, b);
    Arcs(net, {a}, x);
    ASSERT_EQ(ValueOf(b)->SetEvidence(2), 0);
    QNL_beliefVector target(&net, x); // not the node's own value: the network can't judge it
    net.SetNotificationControl(0);
    ASSERT_EQ(target.SetEvidence(0), 0);
    net.SetNotificationControl(QNL_network::NOTIFY_ON | QNL_network::NOTIFY_PROPAGATE_EVIDENCE);
    MarkValid(a);
    std::unique_ptr<QNL_nodeValue> copy(ValueOf(b)->CreateCopy());
    EXPECT_EQ(Describe(copy.get()), Describe(ValueOf(b)));
    // The target's own evidence goes without a cleared notification, b's arrives without a
    // set notification; the target is bound to b's node like the source.
    EXPECT_EQ(target.Assign(*ValueOf(b)), 0);
    EXPECT_EQ(target.Assign(target), 0);
    EXPECT_EQ(Describe(&target), Describe(ValueOf(b)));
    EXPECT_TRUE(IsValid(a));
    // An indexed matrix and its parents come along.
    ASSERT_EQ(ValueOf(x)->AddIndexingParent(a), 0);
    ValueOf(x)->GetMatrix()->Subscript(4) = 0.5;
    std::unique_ptr<QNL_nodeValue> indexed(ValueOf(x)->CreateCopy());
    EXPECT_EQ(Describe(indexed.get()), Describe(ValueOf(x)));
    EXPECT_EQ(DimsOf(indexed.get()), (Dims{2, 3}));

    Probe<QNL_beliefVector> invalid(&net, a);
    invalid.MarkInvalid();
    QNL_equationValue equation(&net, a);
    EXPECT_EQ(
        (std::vector<int>{target.Assign(invalid), target.Clone(invalid), equation.Assign(invalid)}),
        std::vector<int>(3, -567));
}

// --- the value matrix -----------------------------------------------------------------

TEST_F(NodeValue, IndexingParentsAddOneDimensionEachAndOutcomesDropThem) {
    const int a = Add("a"), b = Add("b", 3), gone = Add("gone");
    ASSERT_EQ(net.DeleteNode(gone), 0);
    QNL_nodeValue* v = ValueOf(b);
    for (int bad : {-1, gone, net.GetTableSize(), net.GetTableSize() + 7})
        EXPECT_EQ(v->AddIndexingParent(bad), -2) << bad;
    ASSERT_EQ(v->SetValue(Vector({0.25, 0.5, 0.25})), 0);
    EXPECT_EQ(v->AddIndexingParent(a), 0);
    EXPECT_EQ(v->AddIndexingParent(a), 0);
    EXPECT_EQ(Describe(v), "0 -2 [0.25 0.5 0.25 0.25 0.5 0.25] 2 3 / " + std::to_string(a));
    // a's value may not be indexed by b in turn.
    EXPECT_EQ(ValueOf(a)->AddIndexingParent(b), 0);
    EXPECT_EQ(DimsOf(ValueOf(a)), (Dims{2}));
    // An outcome rebuilds a plain vector.
    EXPECT_EQ(v->SetValueToOutcome(3), -2);
    EXPECT_EQ(v->SetValueToOutcome(1), 0);
    EXPECT_EQ(Describe(v), std::to_string(kValid) + " -2 [0 1 0] 3 /");
}

TEST_F(NodeValue, UnsupportedOperationsAreRefusedWithoutCrashing) {
    const int a = Add("a");
    QNL_utilityValue utility(&net, a);
    QNL_beliefVector belief(&net, a), loose(nullptr, -1); // the second at no network
    QNL_equationValue equation(&net, a);
    QNL_mauValue mau(&net, a);
    QNL_Dmatrix* out = nullptr;
    double x = 0;
    EXPECT_EQ((std::vector<int>{utility.SetEvidence(0), utility.GetEvidence(),
                                utility.SetValueToOutcome(0), mau.ClearEvidence(),
                                belief.SetEvidence(1.5), belief.GetEvidence(&x),
                                equation.GetValue(&out), equation.GetSize()}),
              std::vector<int>(8, -51));
    EXPECT_EQ((std::vector<int>{utility.GetValue(nullptr), loose.SetEvidence(0),
                                loose.SetPropagatedEvidence(0), loose.AddIndexingParent(0)}),
              std::vector<int>(4, -2));
    EXPECT_EQ(equation.GetMatrix(), nullptr);
    EXPECT_EQ(loose.GetSize(), 0);
    EXPECT_EQ(loose.InitFromDefinition(), 0);
}

// --- equation and continuous values ---------------------------------------------------

TEST_F(NodeValue, EquationStatisticsMatchATwoPassComputation) {
    QNL_equationValue v(&net, 4);
    EXPECT_EQ(v.ComputeStatistics(), 0);
    EXPECT_FALSE(v.IsValueValid()); // no samples
    // Samples not kept still count, and a copy carries the running sums.
    v.SetKeepSamples(0);
    Doubles xs;
    for (int i = 0; i < 50; ++i) {
        xs.push_back(std::sin(i * 1.3) * 10 + i * 0.1);
        ASSERT_EQ(v.AddSample(xs.back()), 0);
    }
    std::unique_ptr<QNL_nodeValue> copy(v.CreateCopy());
    auto* other = dynamic_cast<QNL_equationValue*>(copy.get());
    ASSERT_NE(other, nullptr);
    for (QNL_equationValue* value : {&v, other}) {
        EXPECT_EQ(value->ComputeStatistics(), 0);
        double mean = 0, squares = 0;
        for (double x : xs)
            mean += x / xs.size();
        for (double x : xs)
            squares += (x - mean) * (x - mean);
        EXPECT_EQ(value->GetSampleCount(), static_cast<int>(xs.size()));
        EXPECT_TRUE(value->GetSamples().empty() && value->IsValueValid());
        EXPECT_NEAR(value->GetMean(), mean, 1e-12);
        EXPECT_NEAR(value->GetStandardDeviation(), std::sqrt(squares / xs.size()), 1e-9);
        xs.push_back(7.0);
        other->AddSample(7.0);
    }
    EXPECT_EQ(v.ClearSamples(), 0);
    EXPECT_FALSE(v.IsValueValid());
    EXPECT_EQ(v.SetWeightedSamples({{1.0, 1.0}, {4.0, 3.0}}), 0);
    EXPECT_DOUBLE_EQ(v.GetMean(), 13.0 / 4.0);
    EXPECT_EQ(v.SetWeightedSamples({{2.0, 0.0}, {6.0, 0.0}}), 0); // all zero: equal weights
    EXPECT_DOUBLE_EQ(v.GetMean(), 4.0);
    EXPECT_EQ(v.SetWeightedSamples({{2.0, 1.0}, {6.0, -1.0}}), -2);
    EXPECT_DOUBLE_EQ(v.GetMean(), 4.0);
}

TEST_F(NodeValue, ContinuousPropagatedEvidenceNeverPassesForTheUsers) {
    QNL_equationValue v(&net, 0);
    double x = 0;
    EXPECT_EQ(v.SetEvidence(std::numeric_limits<double>::quiet_NaN()), -2);
    EXPECT_EQ(v.SetEvidence(2.5), 0);
    EXPECT_EQ((std::vector<int>{v.SetPropagatedEvidence(9.0), v.ClearPropagatedEvidence()}),
              (std::vector<int>{-2, -2}));
    EXPECT_EQ(v.GetEvidence(&x), 0);
    EXPECT_EQ(x, 2.5);
    EXPECT_EQ(v.ClearEvidence(), 0);
    EXPECT_EQ(v.ClearEvidence(), -2);
    EXPECT_EQ(v.SetPropagatedEvidence(1.0), 0);
    EXPECT_EQ(v.GetFlags(), kPropagated | kValid);
    EXPECT_EQ(v.SetEvidence(3.0), 0); // user evidence takes over
    EXPECT_EQ(v.GetFlags(), kEvidence | kValid);

    QNL_continuousValue c(&net, 5);
    EXPECT_EQ(c.SetEvidence(1.5), 0);
    EXPECT_EQ(c.SetPropagatedEvidence(2.5), 0);
    EXPECT_EQ(c.GetFlags(), kPropagated);
    c.SetEvidenceMarker(1);
    EXPECT_EQ(c.ClearPropagatedEvidence(), 0);
    EXPECT_EQ(c.GetFlags(), 0u);
    EXPECT_EQ(c.GetEvidenceMarker(), 0);
    // A copy keeps every field.
    c.SetEvidence(-2.0);
    c.SetEvidenceMarker(7);
    c.SetStateWord(3);
    c.GetSamples().push_back({0.5, 2.0});
    c.GetMixture().components.push_back({1.0, 2.0, 3.0});
    std::unique_ptr<QNL_nodeValue> copy(c.CreateCopy());
    auto* cc = dynamic_cast<QNL_continuousValue*>(copy.get());
    ASSERT_NE(cc, nullptr);
    cc->GetEvidence(&x);
    ASSERT_EQ(cc->GetSamples().size() + cc->GetMixture().components.size(), 2u);
    EXPECT_EQ((Doubles{x, double(cc->GetEvidenceMarker()), double(cc->GetStateWord()),
                       cc->GetSamples()[0].weight, cc->GetMixture().components[0].variance}),
              (Doubles{-2.0, 7, 3, 2.0, 3.0}));
    EXPECT_EQ(c.ClearEvidence(), 0);
    EXPECT_EQ(c.GetEvidenceMarker(), 0);
    EXPECT_FALSE(c.IsObserved());
}

} // namespace
