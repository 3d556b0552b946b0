#include "model/case_library.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "support/network_builder.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using quarn_test::AddNode;
using quarn_test::ScopedRegistration;
using Pairs = QNL_case::SlicePairs;

// A definition that only has a type and a fixed number of outcomes, enough to move a node
// between definition families.
template <int Type, int Outcomes> class TypeOnlyDefinition : public QNL_nodeDefinition {
public:
    using QNL_nodeDefinition::QNL_nodeDefinition;
    QNL_nodeDefinition* CreateCopy() const override { return new TypeOnlyDefinition(*this); }
    int GetType() const override { return Type; }
    const char* GetTypeName() const override { return "TYPE_ONLY"; }
    int GetNumberOfOutcomes() const override { return Outcomes; }
    static QNL_nodeDefinition* Create(int handle, QNL_network* network) {
        return new TypeOnlyDefinition(handle, network);
    }
};

class CaseLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        log().Flush();
        a = AddNode(net, "a", 3);
        b = AddNode(net, "b", 4);
    }
    void TearDown() override { log().Flush(); }

    static QNL_errorHandler& log() { return QNL_errorHandler::Instance(); }
    QNL_caseLibrary& library() { return net.GetCaseLibrary(); }
    QNL_nodeDefinition& def(int node) { return *net.GetNode(node)->GetDefinition(); }

    static int OutcomeOf(const QNL_case& c, int node) {
        int index = c.FindEvidence(node);
        if (index < 0) return index;
        int n = -1, outcome = -9;
        EXPECT_EQ(c.GetEvidence(index, n, outcome), 0);
        return outcome;
    }
    static Pairs PairsOf(const QNL_case& c, int node) {
        Pairs pairs;
        int n = -1;
        int index = c.FindEvidence(node);
        if (index >= 0) {
            EXPECT_EQ(c.GetTemporalEvidence(index, n, pairs), 0);
        }
        return pairs;
    }

    // Evidence entries in order ("node=outcome", "node~value", "node@slice:outcome,..."), then
    // "T" and the targets.
    static std::string Describe(const QNL_case& c) {
        std::string out;
        for (int i = 0; i < c.GetNumberOfEvidence(); ++i) {
            int node = -1, outcome = -1;
            double value = 0.0;
            Pairs pairs;
            EXPECT_EQ(c.GetEvidence(i, node, outcome), 0);
            EXPECT_EQ(c.GetTemporalEvidence(i, node, pairs), 0);
            EXPECT_EQ(c.GetEvidenceValue(i, node, value), 0);
            out += std::to_string(node);
            if (outcome >= 0)
                out += "=" + std::to_string(outcome);
            else if (pairs.empty())
                out += "~" + std::to_string(value).substr(0, 4);
            else
                out += "@";
            for (const auto& [slice, o] : pairs)
                out += std::to_string(slice) + ":" + std::to_string(o) + ",";
            out += " ";
        }
        out += "T";
        for (int i = 0; i < c.GetNumberOfTargets(); ++i)
            out += std::to_string(c.GetTarget(i));
        return out;
    }

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
    int a = -1;
    int b = -1;
};

// Names are non-empty and unique, compared exactly; cases keep their order.
TEST_F(CaseLibrary, NamesTargetsAndEntriesRefuseWhatCannotBeStored) {
    QNL_case* first = net.AddCase("first");
    ASSERT_NE(first, nullptr);
    for (const char* bad : {"first", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(net.AddCase(bad), nullptr);
    QNL_case* c = net.AddCase("second");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->SetName(""), -30);
    EXPECT_EQ(c->SetName("first"), -32);
    EXPECT_EQ(log().GetCode(0), -32);
    EXPECT_EQ(c->SetName("second"), 0) << "keeping its own name is no clash";
    EXPECT_EQ(c->SetName("First"), 0);
    EXPECT_EQ(std::make_pair(net.GetCase(1), net.GetCase(2)),
              std::make_pair(c, (QNL_case*)nullptr));
    EXPECT_EQ(net.GetCase(-1), nullptr);

    for (int bad : {-1, net.GetTableSize(), 7}) // 7 is a free slot
        EXPECT_EQ(c->AddTarget(bad), -2) << bad;
    EXPECT_EQ(c->AddTarget(b), 0);
    EXPECT_EQ(c->AddTarget(b), 0);
    EXPECT_EQ(c->AddTarget(a), 0);
    EXPECT_EQ(std::make_pair(c->GetTarget(2), c->GetTarget(-1)), std::make_pair(-2, -2));
    const std::pair<int, int> badEvidence[] = {{-3, 0}, {9, 0}, {a, 3}, {a, -1}};
    for (const auto& [node, outcome] : badEvidence)
        EXPECT_EQ(c->AddEvidence(node, outcome), -2) << node << " " << outcome;
    EXPECT_EQ(c->AddEvidenceValue(net.GetTableSize() + 4, 1.0), -2);
    const int temporal[][4] = {{11, 0, 0, -2}, {a, 0, -1, -4}, {a, 3, 0, -2}};
    for (const auto& t : temporal)
        EXPECT_EQ(c->AddTemporalEvidence(t[0], t[1], t[2]), t[3]);
    EXPECT_EQ(Describe(*c), "T10") << "refusals leave no empty or value-like entry";
    EXPECT_EQ(c->AddEvidence(a, 2), 0);
    EXPECT_EQ(c->AddEvidence(a, 1), -32);
    EXPECT_EQ(c->AddEvidenceValue(a, 1.0), -32);
    EXPECT_EQ(c->AddEvidenceValue(b, 2.5), 0);
    EXPECT_EQ(std::make_pair(c->FindEvidence(b), c->FindEvidence(5)), std::make_pair(1, -4));
    int node = -1, outcome = -1;
    EXPECT_EQ(std::make_pair(c->GetEvidenceNode(2), c->GetEvidence(-1, node, outcome)),
              std::make_pair(-2, -2));
    QNL_case* t = net.AddCase("t");
    EXPECT_EQ(t->AddTemporalEvidence(a, 1, 2), 0);
    EXPECT_EQ(t->AddTemporalEvidence(a, 0, 0), 0);
    EXPECT_EQ(t->AddTemporalEvidence(a, 2, 2), -32);
    EXPECT_EQ(t->AddTemporalEvidence(a, 5, 1), -2);
    EXPECT_EQ(t->AddTemporalEvidence(a, 0, -7), -4);
    EXPECT_EQ(Describe(*c) + " " + Describe(*t), "0=2 1~2.50 T10 0@2:1,0:0, T");
    library().Clear();
    EXPECT_NE(net.AddCase("first"), nullptr) << "a cleared name is free again";
}

// Whatever sequence of edits the definition goes through, a stored outcome (plain or in a
// slice pair) keeps naming the same outcome identifier, and disappears exactly when that
// outcome is removed; a value entry and the entries of other nodes stay as they were.
TEST_F(CaseLibrary, StoredOutcomesFollowTheirIdentifiersThroughRandomEdits) {
    std::mt19937 random(12345);
    const int cases = 6;
    auto id = [&](int outcome) { return std::string(def(b).GetOutcomeIds()->GetString(outcome)); };
    std::vector<std::string> expected(cases);
    for (int k = 0; k < cases; ++k) {
        QNL_case* c = net.AddCase(("c" + std::to_string(k)).c_str());
        ASSERT_EQ(c->AddEvidence(b, k % 4), 0);
        ASSERT_EQ(c->AddEvidence(a, k % 3), 0);
        expected[k] = id(k % 4);
    }
    QNL_case* temporal = net.AddCase("temporal");
    std::vector<std::pair<int, std::string>> slices; // slice -> outcome identifier
    for (int slice : {3, 0, 2, 1, 4}) {
        ASSERT_EQ(temporal->AddTemporalEvidence(b, (slice + 1) % 4, slice), 0);
        slices.emplace_back(slice, id((slice + 1) % 4));
    }
    QNL_case* value = net.AddCase("value");
    ASSERT_EQ(value->AddEvidenceValue(b, 7.5), 0);
    int fresh = 0;
    for (int step = 0; step < 200; ++step) {
        const int n = def(b).GetNumberOfOutcomes();
        const int action = static_cast<int>(random() % 3);
        if (action == 0 || n <= 3) {
            const int at = static_cast<int>(random() % static_cast<unsigned>(n + 1));
            ASSERT_EQ(def(b).InsertOutcome(at, ("n" + std::to_string(fresh++)).c_str()), 0);
        } else if (action == 1) {
            const int at = static_cast<int>(random() % static_cast<unsigned>(n));
            const std::string gone = id(at);
            ASSERT_EQ(def(b).RemoveOutcome(at), 0);
            for (auto& expectedId : expected)
                if (expectedId == gone) expectedId.clear();
            for (auto& slice : slices)
                if (slice.second == gone) slice.second.clear();
        } else {
            std::vector<int> permutation(static_cast<std::size_t>(n));
            std::iota(permutation.begin(), permutation.end(), 0);
            std::shuffle(permutation.begin(), permutation.end(), random);
            ASSERT_EQ(def(b).ReorderOutcomes(quarn_test::IntsOf(permutation)), 0);
        }
        for (int k = 0; k < cases; ++k) {
            const int outcome = OutcomeOf(*net.GetCase(k), b);
            ASSERT_EQ(expected[k].empty() ? -4 : 0, std::min(outcome, 0)) << "step " << step;
            ASSERT_TRUE(expected[k].empty() || expected[k] == id(outcome)) << "step " << step;
            ASSERT_EQ(OutcomeOf(*net.GetCase(k), a), k % 3);
        }
        Pairs pairs;
        for (const auto& slice : slices)
            if (!slice.second.empty())
                pairs.emplace_back(slice.first,
                                   def(b).GetOutcomeIds()->FindPosition(slice.second.c_str()));
        ASSERT_EQ(PairsOf(*temporal, b), pairs) << "step " << step;
        int node = -1;
        double stored = 0.0;
        ASSERT_EQ(value->GetEvidenceValue(0, node, stored), 0);
        ASSERT_EQ(stored, 7.5);
    }
}

// Hooks: an order without the stored outcome drops it; negative indices and other nodes
// are ignored; a deleted node leaves neither entry nor target, even when its slot is reused.
TEST_F(CaseLibrary, HooksDropWhatNoLongerExistsAndIgnoreTheRest) {
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddEvidence(b, 3), 0);
    ASSERT_EQ(c->AddTemporalEvidence(a, 1, 0), 0);
    ASSERT_EQ(c->AddTemporalEvidence(a, 2, 1), 0);
    const QNL_intArray partial = quarn_test::IntsOf({1, 0});
    library().OutcomesReordered(b, partial);
    library().OutcomesReordered(a, partial);
    EXPECT_EQ(Describe(*c), "0@0:0, T");
    QNL_case* d = net.AddCase("d");
    ASSERT_EQ(d->AddEvidenceValue(a, 1.5), 0);
    ASSERT_EQ(d->AddEvidence(b, 2), 0);
    ASSERT_EQ(d->AddTarget(a), 0);
    ASSERT_EQ(d->AddTarget(b), 0);
    library().OutcomeInserted(a, -1);
    library().OutcomeRemoved(a, -1);
    library().OutcomeInserted(b, -1);
    library().OutcomeRemoved(b, -3);
    library().OutcomeRemoved(40, 2);
    library().NodeDeleted(-1);
    library().NodeTypeChanged(40, QNL_TYPE_EQUATION);
    library().TemporalTypeChanged(40, 3);
    EXPECT_EQ(Describe(*d), "0~1.50 1=2 T01");
    ASSERT_EQ(net.DeleteNode(a), 0);
    ASSERT_EQ(AddNode(net, "newcomer", 3), a) << "the slot is reused";
    EXPECT_EQ(Describe(*d), "1=2 T1");
    EXPECT_EQ(Describe(*c), "T");
}

TEST_F(CaseLibrary, TypeChangesKeepOnlyEvidenceTheNewTypeCanHold) {
    ScopedRegistration equation(QNL_TYPE_EQUATION, TypeOnlyDefinition<4, -51>::Create);
    ScopedRegistration scc(QNL_TYPE_EQUATION_SCC, TypeOnlyDefinition<1028, -51>::Create);
    ScopedRegistration gate(QNL_TYPE_DEMORGAN, TypeOnlyDefinition<82, 2>::Create);
    ScopedRegistration continuous(QNL_TYPE_DISTRIBUTION, TypeOnlyDefinition<4098, -51>::Create);
    const int e = net.AddNode(QNL_TYPE_EQUATION, "e");
    const int g = AddNode(net, "g", 3);
    const int h = AddNode(net, "h", 3);
    QNL_case* low = net.AddCase("low");
    QNL_case* high = net.AddCase("high");
    ASSERT_EQ(low->AddEvidenceValue(e, 0.25), 0);
    ASSERT_EQ(low->AddEvidence(a, 1), 0);
    ASSERT_EQ(high->AddEvidence(a, 2), 0);
    ASSERT_EQ(low->AddTemporalEvidence(g, 1, 0), 0);
    ASSERT_EQ(high->AddTemporalEvidence(g, 2, 0), 0);
    ASSERT_EQ(high->AddEvidence(h, 1), 0);
    ASSERT_EQ(net.GetNode(e)->SetType(QNL_TYPE_EQUATION_SCC), 0);
    EXPECT_EQ(low->FindEvidence(e), 0) << "equation to equation keeps the value";
    ASSERT_EQ(net.GetNode(e)->SetType(QNL_TYPE_CPT), 0);
    ASSERT_EQ(net.GetNode(h)->SetType(QNL_TYPE_EQUATION), 0);
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_DEMORGAN), 0);
    ASSERT_EQ(net.GetNode(g)->SetType(QNL_TYPE_DEMORGAN), 0);
    // Outcome 2 does not exist on a two-outcome gate.
    EXPECT_EQ(Describe(*low) + " " + Describe(*high), "0=1 3@0:1, T T");
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_DISTRIBUTION), 0);
    EXPECT_EQ(low->FindEvidence(a), -4) << "fewer than two outcomes";
}

// Leaving the plate folds slice zero into plain evidence; moves outside it change nothing.
TEST_F(CaseLibrary, LeavingThePlateFoldsSliceZeroIntoPlainEvidence) {
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddTemporalEvidence(b, 1, 3), 0);
    ASSERT_EQ(c->AddTemporalEvidence(b, 2, 0), 0);
    QNL_case* lost = net.AddCase("lost");
    ASSERT_EQ(lost->AddTemporalEvidence(b, 1, 1), 0);
    ASSERT_EQ(lost->AddEvidenceValue(a, 3.0), 0);
    library().TemporalTypeChanged(b, 3);
    library().TemporalTypeChanged(a, 3);
    EXPECT_EQ(Describe(*c) + " " + Describe(*lost), "1=2 T 0~3.00 T");
    library().TemporalTypeChanged(b, 1);
    EXPECT_EQ(Describe(*c), "1=2 T");
}

TEST_F(CaseLibrary, DisabledUpdatesLeaveCasesUntouched) {
    ScopedRegistration equation(QNL_TYPE_EQUATION, TypeOnlyDefinition<4, -51>::Create);
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddEvidence(a, 2), 0);
    ASSERT_EQ(c->AddEvidence(b, 1), 0);
    ASSERT_EQ(c->AddTarget(b), 0);
    net.EnableCaseUpdates(false);
    ASSERT_EQ(def(a).InsertOutcome(0, "first"), 0);
    ASSERT_EQ(def(b).RemoveOutcome(1), 0);
    library().OutcomesReordered(b, quarn_test::IntsOf({2, 1, 0}));
    library().TemporalTypeChanged(b, 3);
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_EQUATION), 0);
    ASSERT_EQ(net.DeleteNode(b), 0);
    EXPECT_EQ(Describe(*c), "0=2 1=1 T1");
    net.EnableCaseUpdates(true);
    library().NodeDeleted(b);
    EXPECT_EQ(Describe(*c), "0=2 T");
}

TEST_F(CaseLibrary, CopiesAreDeepAndIndependent) {
    QNL_case* c = net.AddCase("c");
    c->SetDescription("about");
    c->SetCategory("cat");
    c->SetCreated(11);
    c->SetModified(12);
    ASSERT_EQ(c->AddEvidence(a, 2), 0);
    ASSERT_EQ(c->AddTemporalEvidence(b, 3, 4), 0);
    ASSERT_EQ(c->AddTarget(b), 0);
    net.EnableCaseUpdates(false);
    auto copy = std::make_unique<QNL_network>();
    ASSERT_EQ(copy->Copy(net), 0);
    QNL_case* twin = copy->GetCase(0);
    ASSERT_NE(twin, c);
    EXPECT_EQ(twin->GetNetwork(), copy.get());
    EXPECT_FALSE(copy->CaseUpdatesEnabled()) << "the switch is copied";
    EXPECT_EQ((std::vector<std::string>{
                  twin->GetDescription(), twin->GetCategory(),
                  std::to_string(twin->GetCreated() * 100 + twin->GetModified()), Describe(*twin)}),
              (std::vector<std::string>{"about", "cat", "1112", "0=2 1@4:3, T1"}));
    // The copy's names clash only within the copy, and edits stay on their side.
    EXPECT_EQ(twin->SetName("renamed"), 0);
    EXPECT_NE(net.AddCase("renamed"), nullptr);
    EXPECT_NE(copy->AddCase("c"), nullptr);
    copy->EnableCaseUpdates(true);
    ASSERT_EQ(copy->DeleteNode(a), 0);
    EXPECT_EQ(Describe(*twin), "1@4:3, T1");
    EXPECT_EQ(Describe(*c), "0=2 1@4:3, T1");
    // Each library frees only its own cases.
    QNL_caseLibrary standalone(&net, copy->GetCaseLibrary());
    copy.reset();
    ASSERT_EQ(standalone.GetNumberOfCases(), 2);
    EXPECT_STREQ(standalone.GetCase(0)->GetName(), "renamed");
    EXPECT_EQ(standalone.GetCase(0)->GetNetwork(), &net);
    EXPECT_EQ(standalone.AddCase("c"), nullptr);
    EXPECT_STREQ(c->GetName(), "c");
}

} // namespace
