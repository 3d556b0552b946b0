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

#include <memory>
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

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
    int a = -1;
    int b = -1;
};

// ---- names and the library ----------------------------------------------------------------

TEST_F(CaseLibrary, NamesMustBeNonEmptyAndUnique) {
    QNL_case* first = net.AddCase("first");
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->GetName(), "first");
    EXPECT_EQ(net.AddCase("first"), nullptr);
    EXPECT_EQ(net.AddCase(""), nullptr);
    EXPECT_EQ(net.AddCase(nullptr), nullptr);
    EXPECT_EQ(net.GetNumberOfCases(), 1);

    QNL_case* second = net.AddCase("second");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->SetName(""), -30);
    EXPECT_EQ(second->SetName("first"), -32);
    EXPECT_STREQ(second->GetName(), "second");
    EXPECT_EQ(second->SetName("second"), 0) << "keeping its own name is no clash";
    EXPECT_EQ(second->SetName("First"), 0) << "names are compared exactly";
    EXPECT_EQ(log().GetCode(0), -32);
}

TEST_F(CaseLibrary, CasesAreKeptInInsertionOrderAndClearEmptiesThem) {
    QNL_case* x = net.AddCase("x");
    QNL_case* y = net.AddCase("y");
    EXPECT_EQ(net.GetCase(0), x);
    EXPECT_EQ(net.GetCase(1), y);
    EXPECT_EQ(net.GetCase(2), nullptr);
    EXPECT_EQ(net.GetCase(-1), nullptr);
    library().Clear();
    EXPECT_EQ(net.GetNumberOfCases(), 0);
    EXPECT_NE(net.AddCase("x"), nullptr) << "a cleared name is free again";
}

// ---- targets and entries ------------------------------------------------------------------

TEST_F(CaseLibrary, TargetsRefuseBadHandlesAndDuplicates) {
    QNL_case* c = net.AddCase("c");
    EXPECT_EQ(c->AddTarget(-1), -2);
    EXPECT_EQ(c->AddTarget(net.GetTableSize()), -2);
    EXPECT_EQ(c->AddTarget(7), -2) << "free slot";
    EXPECT_EQ(c->AddTarget(b), 0);
    EXPECT_EQ(c->AddTarget(b), 0);
    EXPECT_EQ(c->AddTarget(a), 0);
    ASSERT_EQ(c->GetNumberOfTargets(), 2);
    EXPECT_EQ(c->GetTarget(0), b);
    EXPECT_EQ(c->GetTarget(1), a);
    EXPECT_EQ(c->GetTarget(2), -2);
    EXPECT_EQ(c->GetTarget(-1), -2);
    EXPECT_TRUE(c->IsTarget(a));
    EXPECT_FALSE(c->IsTarget(7));
}

TEST_F(CaseLibrary, EntriesRefuseBadHandlesOutcomesAndSecondEntries) {
    QNL_case* c = net.AddCase("c");
    EXPECT_EQ(c->AddEvidence(-3, 0), -2);
    EXPECT_EQ(c->AddEvidence(9, 0), -2);
    EXPECT_EQ(c->AddEvidenceValue(net.GetTableSize() + 4, 1.0), -2);
    EXPECT_EQ(c->AddEvidence(a, 3), -2);
    EXPECT_EQ(c->AddEvidence(a, -1), -2);
    EXPECT_EQ(c->GetNumberOfEvidence(), 0) << "a refused outcome leaves no value-like entry";
    EXPECT_EQ(c->AddEvidence(a, 2), 0);
    EXPECT_EQ(c->AddEvidence(a, 1), -32);
    EXPECT_EQ(c->AddEvidenceValue(a, 1.0), -32);
    EXPECT_EQ(c->AddEvidenceValue(b, 2.5), 0);
    EXPECT_EQ(c->FindEvidence(a), 0);
    EXPECT_EQ(c->FindEvidence(b), 1);
    EXPECT_EQ(c->FindEvidence(5), -4);

    int node = -1, outcome = -1;
    double value = -1.0;
    EXPECT_EQ(c->GetEvidence(0, node, outcome), 0);
    EXPECT_EQ(node, a);
    EXPECT_EQ(outcome, 2);
    EXPECT_EQ(c->GetEvidenceValue(1, node, value), 0);
    EXPECT_EQ(node, b);
    EXPECT_DOUBLE_EQ(value, 2.5);
    EXPECT_EQ(c->GetEvidence(1, node, outcome), 0);
    EXPECT_EQ(outcome, -1);
    EXPECT_EQ(c->GetEvidenceNode(1), b);

    Pairs pairs;
    for (int bad : {-1, 2}) {
        EXPECT_EQ(c->GetEvidenceNode(bad), -2);
        EXPECT_EQ(c->GetEvidence(bad, node, outcome), -2);
        EXPECT_EQ(c->GetEvidenceValue(bad, node, value), -2);
        EXPECT_EQ(c->GetTemporalEvidence(bad, node, pairs), -2);
    }
}

TEST_F(CaseLibrary, TemporalEvidenceCodes) {
    QNL_case* c = net.AddCase("c");
    EXPECT_EQ(c->AddTemporalEvidence(11, 0, 0), -2);
    EXPECT_EQ(c->AddTemporalEvidence(a, 0, -1), -4);
    EXPECT_EQ(c->AddTemporalEvidence(a, 3, 0), -2);
    EXPECT_EQ(c->GetNumberOfEvidence(), 0) << "refused first pairs leave no empty entry";

    EXPECT_EQ(c->AddTemporalEvidence(a, 1, 2), 0);
    EXPECT_EQ(c->AddTemporalEvidence(a, 0, 0), 0);
    EXPECT_EQ(c->AddTemporalEvidence(a, 2, 2), -32);
    EXPECT_EQ(c->AddTemporalEvidence(a, 5, 1), -2);
    EXPECT_EQ(c->AddTemporalEvidence(a, 0, -7), -4);
    EXPECT_EQ(OutcomeOf(*c, a), -1);
    EXPECT_EQ(PairsOf(*c, a), (Pairs{{2, 1}, {0, 0}}));
    EXPECT_EQ(c->GetNumberOfEvidence(), 1);
}

// ---- outcome hooks, driven through the definitions ----------------------------------------

TEST_F(CaseLibrary, RemovingAnOutcomeDropsOrShiftsEveryCase) {
    ASSERT_EQ(def(b).GetNumberOfOutcomes(), 4);
    QNL_case* zero = net.AddCase("zero");
    QNL_case* one = net.AddCase("one");
    QNL_case* two = net.AddCase("two");
    QNL_case* value = net.AddCase("value");
    ASSERT_EQ(zero->AddEvidence(b, 0), 0);
    ASSERT_EQ(one->AddEvidence(b, 1), 0);
    ASSERT_EQ(two->AddEvidence(b, 2), 0);
    ASSERT_EQ(value->AddEvidenceValue(b, 7.5), 0);
    ASSERT_EQ(one->AddEvidence(a, 1), 0);

    ASSERT_EQ(def(b).RemoveOutcome(1), 0);
    EXPECT_EQ(OutcomeOf(*zero, b), 0);
    EXPECT_EQ(one->FindEvidence(b), -4);
    EXPECT_EQ(OutcomeOf(*one, a), 1) << "other nodes are untouched";
    EXPECT_EQ(OutcomeOf(*two, b), 1);
    int node = -1;
    double stored = 0.0;
    ASSERT_EQ(value->GetEvidenceValue(0, node, stored), 0);
    EXPECT_DOUBLE_EQ(stored, 7.5);
    EXPECT_EQ(OutcomeOf(*value, b), -1);
}

TEST_F(CaseLibrary, InsertingAnOutcomeShiftsStoredOutcomesAtOrAbove) {
    QNL_case* c = net.AddCase("c");
    QNL_case* d = net.AddCase("d");
    ASSERT_EQ(c->AddEvidence(a, 0), 0);
    ASSERT_EQ(d->AddEvidence(a, 2), 0);
    ASSERT_EQ(d->AddTemporalEvidence(b, 3, 0), 0);
    ASSERT_EQ(d->AddTemporalEvidence(b, 1, 1), 0);

    ASSERT_EQ(def(a).InsertOutcome(0, "first"), 0);
    EXPECT_EQ(OutcomeOf(*c, a), 1);
    EXPECT_EQ(OutcomeOf(*d, a), 3);
    ASSERT_EQ(def(a).InsertOutcome(2, "middle"), 0);
    EXPECT_EQ(OutcomeOf(*c, a), 1);
    EXPECT_EQ(OutcomeOf(*d, a), 4);

    ASSERT_EQ(def(b).InsertOutcome(2, "inserted"), 0);
    EXPECT_EQ(PairsOf(*d, b), (Pairs{{0, 4}, {1, 1}}));
}

TEST_F(CaseLibrary, RemovingAnOutcomeFromSlicePairs) {
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddTemporalEvidence(b, 1, 0), 0);
    ASSERT_EQ(c->AddTemporalEvidence(b, 3, 1), 0);
    ASSERT_EQ(c->AddTemporalEvidence(b, 1, 2), 0);
    ASSERT_EQ(c->AddTemporalEvidence(b, 0, 3), 0);
    ASSERT_EQ(def(b).RemoveOutcome(1), 0);
    EXPECT_EQ(PairsOf(*c, b), (Pairs{{1, 2}, {3, 0}}));
    ASSERT_EQ(def(b).RemoveOutcome(0), 0);
    EXPECT_EQ(PairsOf(*c, b), (Pairs{{1, 1}})) << "the entry itself stays";
}

TEST_F(CaseLibrary, ReorderingMapsEachStoredOutcomeToItsNewPosition) {
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddEvidence(b, 3), 0);
    ASSERT_EQ(c->AddTemporalEvidence(a, 0, 0), 0);
    ASSERT_EQ(c->AddTemporalEvidence(a, 2, 1), 0);
    QNL_intArray order;
    for (int k : {3, 0, 1, 2})
        order.Add(k);
    ASSERT_EQ(def(b).ReorderOutcomes(order), 0);
    EXPECT_EQ(OutcomeOf(*c, b), 0);

    QNL_intArray reverse;
    for (int k : {2, 1, 0})
        reverse.Add(k);
    ASSERT_EQ(def(a).ReorderOutcomes(reverse), 0);
    EXPECT_EQ(PairsOf(*c, a), (Pairs{{0, 2}, {1, 0}}));
}

TEST_F(CaseLibrary, OrderWithoutTheStoredOutcomeDropsItInsteadOfStoringGarbage) {
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddEvidence(b, 3), 0);
    ASSERT_EQ(c->AddTemporalEvidence(a, 1, 0), 0);
    ASSERT_EQ(c->AddTemporalEvidence(a, 2, 1), 0);
    QNL_intArray partial;
    for (int k : {1, 0})
        partial.Add(k);
    library().OutcomesReordered(b, partial);
    library().OutcomesReordered(a, partial);
    EXPECT_EQ(c->FindEvidence(b), -4);
    EXPECT_EQ(PairsOf(*c, a), (Pairs{{0, 0}}));
}

TEST_F(CaseLibrary, HooksIgnoreNegativeIndicesAndOtherNodes) {
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddEvidenceValue(a, 1.5), 0);
    ASSERT_EQ(c->AddEvidence(b, 2), 0);
    library().OutcomeInserted(a, -1);
    library().OutcomeRemoved(a, -1);
    library().OutcomeInserted(b, -1);
    library().OutcomeRemoved(b, -3);
    library().OutcomeRemoved(40, 2);
    library().NodeDeleted(-1);
    library().NodeTypeChanged(40, QNL_TYPE_EQUATION);
    library().TemporalTypeChanged(40, 3);
    EXPECT_EQ(OutcomeOf(*c, a), -1) << "value evidence never becomes an outcome";
    EXPECT_EQ(OutcomeOf(*c, b), 2);
    EXPECT_EQ(c->GetNumberOfEvidence(), 2);
}

// Whatever sequence of edits the definition goes through, a stored outcome keeps naming the
// same outcome identifier, and it disappears exactly when that outcome is removed.
TEST_F(CaseLibrary, StoredOutcomesFollowTheirIdentifiersThroughRandomEdits) {
    std::mt19937 random(12345);
    const int cases = 6;
    std::vector<std::string> expected(cases);
    for (int k = 0; k < cases; ++k) {
        QNL_case* c = net.AddCase(("c" + std::to_string(k)).c_str());
        ASSERT_EQ(c->AddEvidence(b, k % 4), 0);
        expected[k] = def(b).GetOutcomeIds()->GetString(k % 4);
    }
    int fresh = 0;
    for (int step = 0; step < 200; ++step) {
        const int n = def(b).GetNumberOfOutcomes();
        const int action = static_cast<int>(random() % 3);
        if (action == 0 || n <= 3) {
            const int at = static_cast<int>(random() % static_cast<unsigned>(n + 1));
            ASSERT_EQ(def(b).InsertOutcome(at, ("n" + std::to_string(fresh++)).c_str()), 0);
        } else if (action == 1) {
            const int at = static_cast<int>(random() % static_cast<unsigned>(n));
            std::string gone = def(b).GetOutcomeIds()->GetString(at);
            ASSERT_EQ(def(b).RemoveOutcome(at), 0);
            for (auto& id : expected)
                if (id == gone) id.clear();
        } else {
            std::vector<int> permutation(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i)
                permutation[static_cast<std::size_t>(i)] = i;
            std::shuffle(permutation.begin(), permutation.end(), random);
            QNL_intArray order;
            for (int k : permutation)
                order.Add(k);
            ASSERT_EQ(def(b).ReorderOutcomes(order), 0);
        }
        for (int k = 0; k < cases; ++k) {
            const int outcome = OutcomeOf(*net.GetCase(k), b);
            if (expected[k].empty()) {
                ASSERT_EQ(outcome, -4) << "step " << step;
            } else {
                ASSERT_GE(outcome, 0) << "step " << step;
                ASSERT_LT(outcome, def(b).GetNumberOfOutcomes());
                ASSERT_EQ(expected[k], def(b).GetOutcomeIds()->GetString(outcome))
                    << "step " << step;
            }
        }
    }
}

// ---- node deletion, type and temporal type ------------------------------------------------

TEST_F(CaseLibrary, DeletedNodeLeavesNeitherEntryNorTarget) {
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddEvidence(a, 1), 0);
    ASSERT_EQ(c->AddEvidence(b, 2), 0);
    ASSERT_EQ(c->AddTarget(a), 0);
    ASSERT_EQ(c->AddTarget(b), 0);
    ASSERT_EQ(net.DeleteNode(a), 0);
    EXPECT_EQ(c->FindEvidence(a), -4);
    EXPECT_FALSE(c->IsTarget(a));
    EXPECT_EQ(c->GetNumberOfTargets(), 1);
    EXPECT_EQ(OutcomeOf(*c, b), 2);

    const int reused = AddNode(net, "newcomer", 3);
    ASSERT_EQ(reused, a) << "the slot is reused";
    EXPECT_FALSE(c->IsTarget(reused));
    EXPECT_EQ(c->FindEvidence(reused), -4);
}

TEST_F(CaseLibrary, TypeChangesAcrossTheEquationBoundaryRemoveEvidence) {
    ScopedRegistration equation(QNL_TYPE_EQUATION, TypeOnlyDefinition<4, -51>::Create);
    ScopedRegistration scc(QNL_TYPE_EQUATION_SCC, TypeOnlyDefinition<1028, -51>::Create);
    const int e = net.AddNode(QNL_TYPE_EQUATION, "e");
    ASSERT_GE(e, 0);
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddEvidence(a, 2), 0);
    ASSERT_EQ(c->AddEvidenceValue(e, 0.25), 0);

    ASSERT_EQ(net.GetNode(e)->SetType(QNL_TYPE_EQUATION_SCC), 0);
    EXPECT_EQ(c->FindEvidence(e), 1) << "equation to equation keeps the value";
    ASSERT_EQ(net.GetNode(e)->SetType(QNL_TYPE_CPT), 0);
    EXPECT_EQ(c->FindEvidence(e), -4);

    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_EQUATION), 0);
    EXPECT_EQ(c->FindEvidence(a), -4);
}

TEST_F(CaseLibrary, TypeChangesBetweenDiscreteTypesKeepOnlyOutcomesThatStillExist) {
    ScopedRegistration gate(QNL_TYPE_DEMORGAN, TypeOnlyDefinition<82, 2>::Create);
    ScopedRegistration continuous(QNL_TYPE_DISTRIBUTION, TypeOnlyDefinition<4098, -51>::Create);
    const int g = AddNode(net, "g", 3);
    QNL_case* low = net.AddCase("low");
    QNL_case* high = net.AddCase("high");
    ASSERT_EQ(low->AddEvidence(a, 1), 0);
    ASSERT_EQ(high->AddEvidence(a, 2), 0);
    ASSERT_EQ(low->AddTemporalEvidence(g, 1, 0), 0);
    ASSERT_EQ(high->AddTemporalEvidence(g, 2, 0), 0);

    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_DEMORGAN), 0);
    ASSERT_EQ(net.GetNode(g)->SetType(QNL_TYPE_DEMORGAN), 0);
    EXPECT_EQ(OutcomeOf(*low, a), 1);
    EXPECT_EQ(high->FindEvidence(a), -4) << "outcome 2 of a two-outcome gate";
    EXPECT_EQ(PairsOf(*low, g), (Pairs{{0, 1}}));
    EXPECT_EQ(high->FindEvidence(g), -4);

    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_DISTRIBUTION), 0);
    EXPECT_EQ(low->FindEvidence(a), -4) << "fewer than two outcomes";
}

TEST_F(CaseLibrary, LeavingThePlateFoldsSliceZeroIntoPlainEvidence) {
    QNL_case* kept = net.AddCase("kept");
    QNL_case* lost = net.AddCase("lost");
    QNL_case* value = net.AddCase("value");
    ASSERT_EQ(kept->AddTemporalEvidence(b, 1, 3), 0);
    ASSERT_EQ(kept->AddTemporalEvidence(b, 2, 0), 0);
    ASSERT_EQ(lost->AddTemporalEvidence(b, 1, 1), 0);
    ASSERT_EQ(value->AddEvidenceValue(b, 3.0), 0);
    ASSERT_EQ(net.GetTemporalType(b), 0);

    library().TemporalTypeChanged(b, 3);
    EXPECT_EQ(OutcomeOf(*kept, b), 2);
    EXPECT_TRUE(PairsOf(*kept, b).empty());
    EXPECT_EQ(lost->FindEvidence(b), -4);
    EXPECT_EQ(value->FindEvidence(b), 0) << "nothing temporal to fold";

    library().TemporalTypeChanged(b, 1);
    EXPECT_EQ(OutcomeOf(*kept, b), 2) << "moves outside the plate change nothing";
}

// ---- the update switch and copies ---------------------------------------------------------

TEST_F(CaseLibrary, DisabledUpdatesLeaveCasesUntouched) {
    ScopedRegistration equation(QNL_TYPE_EQUATION, TypeOnlyDefinition<4, -51>::Create);
    QNL_case* c = net.AddCase("c");
    ASSERT_EQ(c->AddEvidence(a, 2), 0);
    ASSERT_EQ(c->AddEvidence(b, 1), 0);
    ASSERT_EQ(c->AddTarget(b), 0);
    net.EnableCaseUpdates(false);
    EXPECT_FALSE(net.CaseUpdatesEnabled());

    ASSERT_EQ(def(a).InsertOutcome(0, "first"), 0);
    ASSERT_EQ(def(b).RemoveOutcome(1), 0);
    QNL_intArray order;
    for (int k : {2, 1, 0})
        order.Add(k);
    library().OutcomesReordered(b, order);
    library().TemporalTypeChanged(b, 3);
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_EQUATION), 0);
    ASSERT_EQ(net.DeleteNode(b), 0);
    EXPECT_EQ(OutcomeOf(*c, a), 2);
    EXPECT_EQ(OutcomeOf(*c, b), 1);
    EXPECT_TRUE(c->IsTarget(b));

    net.EnableCaseUpdates(true);
    EXPECT_TRUE(net.CaseUpdatesEnabled());
    library().NodeDeleted(b);
    EXPECT_EQ(c->FindEvidence(b), -4);
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
    ASSERT_EQ(copy->GetNumberOfCases(), 1);
    QNL_case* twin = copy->GetCase(0);
    ASSERT_NE(twin, c);
    EXPECT_EQ(twin->GetNetwork(), copy.get());
    EXPECT_FALSE(copy->CaseUpdatesEnabled()) << "the switch is copied";
    EXPECT_STREQ(twin->GetName(), "c");
    EXPECT_STREQ(twin->GetDescription(), "about");
    EXPECT_STREQ(twin->GetCategory(), "cat");
    EXPECT_EQ(twin->GetCreated(), 11);
    EXPECT_EQ(twin->GetModified(), 12);
    EXPECT_EQ(OutcomeOf(*twin, a), 2);
    EXPECT_EQ(PairsOf(*twin, b), (Pairs{{4, 3}}));
    EXPECT_TRUE(twin->IsTarget(b));

    // The copy's names clash only within the copy, and edits stay on their side.
    EXPECT_EQ(twin->SetName("renamed"), 0);
    EXPECT_NE(net.AddCase("renamed"), nullptr);
    QNL_case* added = copy->AddCase("c");
    EXPECT_NE(added, nullptr);
    EXPECT_EQ(copy->GetCase(1), added);
    copy->EnableCaseUpdates(true);
    ASSERT_EQ(copy->DeleteNode(a), 0);
    EXPECT_EQ(twin->FindEvidence(a), -4);
    EXPECT_EQ(OutcomeOf(*c, a), 2);
    ASSERT_EQ(c->AddEvidence(AddNode(net, "extra", 2), 1), 0);
    EXPECT_EQ(twin->GetNumberOfEvidence(), 1);

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
