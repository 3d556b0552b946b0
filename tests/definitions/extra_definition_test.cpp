#include "definitions/extra_definition.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "support/network_builder.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using quarn_test::AddNode;
using quarn_test::IntsOf;
using quarn_test::ScopedRegistration;
using quarn_test::StringsOf;

// A utility-like definition: it claims outcomes, which the annotations must ignore.
class UtilityStandIn : public QNL_nodeDefinition {
public:
    using QNL_nodeDefinition::QNL_nodeDefinition;
    QNL_nodeDefinition* CreateCopy() const override { return new UtilityStandIn(*this); }
    int GetType() const override { return QNL_TYPE_TABLE; }
    const char* GetTypeName() const override { return "TABLE"; }
    int GetNumberOfOutcomes() const override { return 3; }
    int RemoveInvalidParents() override { return 0; }
};

// A definition without outcomes at all (as the equation classes answer).
class EquationStandIn : public QNL_nodeDefinition {
public:
    using QNL_nodeDefinition::QNL_nodeDefinition;
    QNL_nodeDefinition* CreateCopy() const override { return new EquationStandIn(*this); }
    int GetType() const override { return QNL_TYPE_EQUATION; }
    const char* GetTypeName() const override { return "EQUATION"; }
};

// A second discrete type with the test definition's outcomes, for changes of type that keep
// the outcome set.
class NoisyStandIn : public quarn_test::TestDefinition {
public:
    using TestDefinition::TestDefinition;
    QNL_nodeDefinition* CreateCopy() const override { return new NoisyStandIn(*this); }
    int GetType() const override { return QNL_TYPE_NOISY_MAX; }
    const char* GetTypeName() const override { return "NOISY_MAX"; }
};

std::string Text(const char* text) {
    return text != nullptr ? text : "<null>";
}

// Everything the annotations hold for one outcome, for comparisons against a plain model.
struct OutcomeRecord {
    int fault = 0;
    std::string description, fix, faultName, label, documentTitle;
    bool operator==(const OutcomeRecord& o) const {
        return fault == o.fault && description == o.description && fix == o.fix &&
               faultName == o.faultName && label == o.label && documentTitle == o.documentTitle;
    }
};

std::vector<OutcomeRecord> RecordsOf(const QNL_extraDefinition& extra) {
    std::vector<OutcomeRecord> records;
    for (int i = 0; i < extra.GetNumberOfOutcomes(); ++i) {
        OutcomeRecord r;
        r.fault = extra.IsFaultOutcome(i);
        r.description = Text(extra.GetOutcomeDescription(i));
        r.fix = Text(extra.GetOutcomeFix(i));
        r.faultName = Text(extra.GetFaultName(i));
        r.label = Text(extra.GetOutcomeLabels().GetString(i));
        const QNL_documentation* documents = extra.GetOutcomeDocumentation(i);
        r.documentTitle = documents != nullptr && documents->GetNumberOfDocuments() > 0
                              ? Text(documents->GetTitle(0))
                              : "";
        records.push_back(r);
    }
    return records;
}

// Fills outcome i with texts unique to the tag.
void Annotate(QNL_extraDefinition& extra, int i, const std::string& tag, OutcomeRecord& model) {
    model.fault = static_cast<int>(tag.size() % 2);
    model.description = "about " + tag;
    model.fix = "repair " + tag;
    model.faultName = "name " + tag;
    model.label = "L" + tag;
    model.documentTitle = "doc " + tag;
    ASSERT_EQ(extra.SetFaultOutcome(i, model.fault != 0), 0);
    ASSERT_EQ(extra.SetOutcomeDescription(i, model.description.c_str()), 0);
    ASSERT_EQ(extra.SetOutcomeFix(i, model.fix.c_str()), 0);
    ASSERT_EQ(extra.SetFaultName(i, model.faultName.c_str()), 0);
    ASSERT_EQ(extra.SetOutcomeLabel(i, model.label.c_str()), 0);
    ASSERT_EQ(extra.GetOutcomeDocumentation(i)->AddDocument(model.documentTitle.c_str(), "p"), 0);
}

// Sets every node-wide field to something other than its default.
void SetNodeFields(QNL_extraDefinition& extra) {
    extra.SetDiagnosisType(QNL_extraDefinition::OBSERVATION);
    extra.SetFlags(1, 1, 1);
    extra.SetDisplayMode(7);
    ASSERT_EQ(extra.SetQuestion("Is the light on?"), 0);
    ASSERT_EQ(extra.SetFaultNameFormat(QNL_extraDefinition::FAULT_NAME_NODESTATE), 0);
}

void ExpectSameAnnotations(const QNL_extraDefinition& a, const QNL_extraDefinition& b) {
    EXPECT_EQ(RecordsOf(a), RecordsOf(b));
    EXPECT_EQ(a.GetDefaultOutcome(), b.GetDefaultOutcome());
    EXPECT_EQ(a.GetDiagnosisType(), b.GetDiagnosisType());
    EXPECT_EQ(a.IsRanked(), b.IsRanked());
    EXPECT_EQ(a.IsMandatory(), b.IsMandatory());
    EXPECT_EQ(a.IsSetAsDefault(), b.IsSetAsDefault());
    EXPECT_EQ(a.GetDisplayMode(), b.GetDisplayMode());
    EXPECT_STREQ(a.GetQuestion(), b.GetQuestion());
    EXPECT_EQ(a.GetFaultNameFormat(), b.GetFaultNameFormat());
    EXPECT_EQ(a.GetOutcomeLabels().AllowsEmpty(), b.GetOutcomeLabels().AllowsEmpty());
    for (int i = 0; i < a.GetNumberOfOutcomes() && i < b.GetNumberOfOutcomes(); ++i) {
        const QNL_documentation* da = a.GetOutcomeDocumentation(i);
        const QNL_documentation* db = b.GetOutcomeDocumentation(i);
        ASSERT_EQ(da->GetNumberOfDocuments(), db->GetNumberOfDocuments());
        for (int k = 0; k < da->GetNumberOfDocuments(); ++k) {
            EXPECT_STREQ(da->GetTitle(k), db->GetTitle(k));
            EXPECT_STREQ(da->GetPath(k), db->GetPath(k));
        }
    }
}

class ExtraDefinition : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }

    QNL_extraDefinition& Extra(int node) { return *net.GetNode(node)->GetExtraDefinition(); }
    QNL_nodeDefinition& Definition(int node) { return *net.GetNode(node)->GetDefinition(); }

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
};

TEST_F(ExtraDefinition, NewNodeHasOneEmptyEntryPerOutcome) {
    const int a = AddNode(net, "a");
    const int b = AddNode(net, "b", 4);
    const QNL_extraDefinition& extra = Extra(a);
    EXPECT_TRUE(extra.IsValid());
    EXPECT_EQ(extra.GetNetwork(), &net);
    EXPECT_EQ(extra.GetHandle(), a);
    ASSERT_EQ(extra.GetNumberOfOutcomes(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(extra.IsFaultOutcome(i), 0);
        EXPECT_STREQ(extra.GetOutcomeDescription(i), "");
        EXPECT_STREQ(extra.GetOutcomeFix(i), "");
        EXPECT_STREQ(extra.GetFaultName(i), "");
        EXPECT_STREQ(extra.GetOutcomeLabels().GetString(i), "");
        ASSERT_NE(extra.GetOutcomeDocumentation(i), nullptr);
        EXPECT_EQ(extra.GetOutcomeDocumentation(i)->GetNumberOfDocuments(), 0);
    }
    EXPECT_EQ(extra.GetOutcomeDescriptions().GetCount(), 2);
    EXPECT_EQ(extra.GetFaultNames().GetCount(), 2);
    EXPECT_EQ(extra.GetOutcomeFixes().GetCount(), 2);
    EXPECT_TRUE(extra.GetOutcomeLabels().AllowsEmpty());
    EXPECT_EQ(extra.GetDefaultOutcome(), 0);
    EXPECT_EQ(extra.GetDiagnosisType(), QNL_extraDefinition::AUXILIARY);
    EXPECT_EQ(extra.IsRanked() | extra.IsMandatory() | extra.IsSetAsDefault(), 0);
    EXPECT_EQ(extra.GetDisplayMode(), 4);
    EXPECT_STREQ(extra.GetQuestion(), "");
    EXPECT_EQ(extra.GetFaultNameFormat(), QNL_extraDefinition::FAULT_NAME_INHERIT);
    EXPECT_EQ(Extra(b).GetNumberOfOutcomes(), 4);
    EXPECT_EQ(Extra(b).GetFaultOutcomes().GetCount(), 4);
}

TEST_F(ExtraDefinition, OutOfRangeAccessIsRefusedAndChangesNothing) {
    const int a = AddNode(net, "a");
    QNL_extraDefinition& extra = Extra(a);
    for (int bad : {-1, 2, 1000}) {
        EXPECT_EQ(extra.IsFaultOutcome(bad), -2);
        EXPECT_EQ(extra.SetFaultOutcome(bad, true), -2);
        EXPECT_EQ(extra.SetOutcomeDescription(bad, "x"), -2);
        EXPECT_EQ(extra.SetOutcomeFix(bad, "x"), -2);
        EXPECT_EQ(extra.SetFaultName(bad, "x"), -2);
        EXPECT_EQ(extra.SetOutcomeLabel(bad, "x"), -2);
        EXPECT_EQ(extra.GetOutcomeDescription(bad), nullptr);
        EXPECT_EQ(extra.GetOutcomeFix(bad), nullptr);
        EXPECT_EQ(extra.GetFaultName(bad), nullptr);
        EXPECT_EQ(extra.GetOutcomeDocumentation(bad), nullptr);
    }
    // The label array has spare room beyond the outcomes; none of it may be written.
    EXPECT_EQ(extra.GetOutcomeLabels().GetCount(), 2);
    EXPECT_EQ(extra.GetOutcomeDescriptions().GetCount(), 2);
    net.SetReadingMode(QNL_network::READING);
    EXPECT_EQ(extra.SetOutcomeLabel(2, "x"), -2);
    net.SetReadingMode(0);
    EXPECT_EQ(RecordsOf(extra), std::vector<OutcomeRecord>(2));

    EXPECT_EQ(extra.SetFaultOutcomes(IntsOf({1, 0, 1})), -2);
    EXPECT_EQ(extra.SetFaultOutcomes(IntsOf({1})), -2);
    EXPECT_EQ(extra.IsFaultOutcome(0), 0);
    EXPECT_EQ(extra.SetFaultOutcomes(IntsOf({0, 7})), 0);
    EXPECT_EQ(extra.IsFaultOutcome(0), 0);
    EXPECT_EQ(extra.IsFaultOutcome(1), 1);
    EXPECT_EQ(extra.GetFaultOutcomes()[1], 1);

    EXPECT_EQ(extra.SetDefaultOutcome(1), 0);
    EXPECT_EQ(extra.SetDefaultOutcome(2), -2);
    EXPECT_EQ(extra.SetDefaultOutcome(-1), -2);
    EXPECT_EQ(extra.GetDefaultOutcome(), 1);

    EXPECT_EQ(extra.SetFaultNameFormat(5), -2);
    EXPECT_EQ(extra.SetFaultNameFormat(-1), -2);
    EXPECT_EQ(extra.GetFaultNameFormat(), QNL_extraDefinition::FAULT_NAME_INHERIT);
    EXPECT_EQ(extra.SetFaultNameFormat(QNL_extraDefinition::FAULT_NAME_USER), 0);
    EXPECT_EQ(extra.GetFaultNameFormat(), 0);
}

TEST_F(ExtraDefinition, NullTextsAreStoredEmpty) {
    QNL_extraDefinition& extra = Extra(AddNode(net, "a"));
    ASSERT_EQ(extra.SetOutcomeDescription(0, "d"), 0);
    ASSERT_EQ(extra.SetOutcomeDescription(0, nullptr), 0);
    ASSERT_EQ(extra.SetOutcomeFix(1, nullptr), 0);
    ASSERT_EQ(extra.SetQuestion("q"), 0);
    ASSERT_EQ(extra.SetQuestion(nullptr), 0);
    EXPECT_STREQ(extra.GetOutcomeDescription(0), "");
    EXPECT_STREQ(extra.GetOutcomeFix(1), "");
    EXPECT_STREQ(extra.GetQuestion(), "");
}

TEST_F(ExtraDefinition, DefaultOutcomeFollowsInsertRemoveAndReorder) {
    const int a = AddNode(net, "a", 4);
    QNL_extraDefinition& extra = Extra(a);
    QNL_nodeDefinition& definition = Definition(a);
    ASSERT_EQ(extra.SetDefaultOutcome(2), 0);
    ASSERT_EQ(definition.InsertOutcome(1, "before"), 0);
    EXPECT_EQ(extra.GetDefaultOutcome(), 3);
    ASSERT_EQ(definition.InsertOutcome(4, "after"), 0);
    EXPECT_EQ(extra.GetDefaultOutcome(), 3);
    ASSERT_EQ(definition.RemoveOutcome(0), 0);
    EXPECT_EQ(extra.GetDefaultOutcome(), 2);
    // New outcome i is old outcome order[i]: the default moves to where its outcome went.
    ASSERT_EQ(definition.ReorderOutcomes(IntsOf({2, 0, 1, 3, 4})), 0);
    EXPECT_EQ(extra.GetDefaultOutcome(), 0);
    ASSERT_EQ(definition.RemoveOutcome(0), 0);
    EXPECT_EQ(extra.GetDefaultOutcome(), 0);
    ASSERT_EQ(extra.SetDefaultOutcome(3), 0);
    ASSERT_EQ(definition.RemoveOutcome(3), 0);
    EXPECT_EQ(extra.GetDefaultOutcome(), 0);
    EXPECT_EQ(extra.GetNumberOfOutcomes(), definition.GetNumberOfOutcomes());
}

// Random outcome edits through the definition, checked after each step against a plain
// vector that applies the same edits.
TEST_F(ExtraDefinition, AnnotationsFollowEveryOutcomeEditOfTheDefinition) {
    const int a = AddNode(net, "a", 3);
    const int child = AddNode(net, "child");
    ASSERT_EQ(net.AddArc(a, child), 0);
    QNL_extraDefinition& extra = Extra(a);
    QNL_nodeDefinition& definition = Definition(a);

    std::vector<OutcomeRecord> model(3);
    int tag = 0;
    for (int i = 0; i < 3; ++i)
        Annotate(extra, i, std::to_string(tag++), model[i]);
    int modelDefault = 1;
    ASSERT_EQ(extra.SetDefaultOutcome(modelDefault), 0);

    std::mt19937 random(20240611);
    for (int step = 0; step < 300; ++step) {
        const int n = static_cast<int>(model.size());
        const int kind = static_cast<int>(random() % 4);
        if (kind == 0 || (kind == 1 && n < 8)) {
            // Insertion, either appended or in the middle.
            const int index = kind == 0 ? static_cast<int>(random() % (n + 1)) : n;
            const std::string id = "o" + std::to_string(tag);
            ASSERT_EQ(kind == 0 ? definition.InsertOutcome(index, id.c_str())
                                : definition.AddOutcome(id.c_str()),
                      0);
            model.insert(model.begin() + index, OutcomeRecord());
            if (modelDefault >= index) ++modelDefault;
            ASSERT_EQ(RecordsOf(extra), model) << "after insert at " << index;
            Annotate(extra, index, std::to_string(tag++), model[index]);
        } else if (kind == 2 && n > 3) {
            const int index = static_cast<int>(random() % n);
            ASSERT_EQ(definition.RemoveOutcome(index), 0);
            model.erase(model.begin() + index);
            if (modelDefault == index)
                modelDefault = 0;
            else if (modelDefault > index)
                --modelDefault;
        } else {
            std::vector<int> order(static_cast<std::size_t>(n));
            std::iota(order.begin(), order.end(), 0);
            std::shuffle(order.begin(), order.end(), random);
            QNL_intArray orderArray;
            for (int from : order)
                orderArray.Add(from);
            ASSERT_EQ(definition.ReorderOutcomes(orderArray), 0);
            std::vector<OutcomeRecord> reordered;
            for (int from : order)
                reordered.push_back(model[static_cast<std::size_t>(from)]);
            model = reordered;
            modelDefault = static_cast<int>(std::find(order.begin(), order.end(), modelDefault) -
                                            order.begin());
        }
        ASSERT_EQ(RecordsOf(extra), model) << "step " << step;
        ASSERT_EQ(extra.GetDefaultOutcome(), modelDefault) << "step " << step;
        ASSERT_EQ(extra.GetNumberOfOutcomes(), definition.GetNumberOfOutcomes());
        ASSERT_EQ(extra.GetOutcomeLabels().GetCount(), extra.GetNumberOfOutcomes());
    }
}

TEST_F(ExtraDefinition, ChangeOutcomesKeepsTheAnnotationsOfKeptOutcomes) {
    const int a = AddNode(net, "a", 3);
    QNL_extraDefinition& extra = Extra(a);
    ASSERT_EQ(extra.SetOutcomeDescription(0, "first"), 0);
    ASSERT_EQ(extra.SetOutcomeDescription(2, "third"), 0);
    ASSERT_EQ(extra.SetOutcomeLabel(2, "Third"), 0);
    ASSERT_EQ(extra.SetFaultOutcome(2, true), 0);
    ASSERT_EQ(extra.SetDefaultOutcome(2), 0);
    // New outcomes: old 2, a new one, old 0; old 1 goes.
    ASSERT_EQ(Definition(a).ChangeOutcomes(StringsOf({"c", "x", "a"}), IntsOf({2, -1, 0})), 0);
    ASSERT_EQ(extra.GetNumberOfOutcomes(), 3);
    EXPECT_STREQ(extra.GetOutcomeDescription(0), "third");
    EXPECT_STREQ(extra.GetOutcomeDescription(1), "");
    EXPECT_STREQ(extra.GetOutcomeDescription(2), "first");
    EXPECT_STREQ(extra.GetOutcomeLabels().GetString(0), "Third");
    EXPECT_EQ(extra.IsFaultOutcome(0), 1);
    EXPECT_EQ(extra.IsFaultOutcome(2), 0);
    EXPECT_EQ(extra.GetDefaultOutcome(), 0);
}

TEST_F(ExtraDefinition, LabelsAreUniqueAcrossTheNetwork) {
    const int a = AddNode(net, "a");
    const int b = AddNode(net, "b", 3);
    ASSERT_EQ(Extra(a).SetOutcomeLabel(0, "L"), 0);
    // Setting the same label again on its own outcome is no conflict.
    EXPECT_EQ(Extra(a).SetOutcomeLabel(0, "L"), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(1, "L"), -2);
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(1), "");
    EXPECT_EQ(Extra(a).SetOutcomeLabel(1, "L"), -2);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(1, "2x"), -2);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(1, nullptr), -2);
    ASSERT_EQ(Extra(b).SetOutcomeLabel(1, "M"), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(1, "no way"), -2);
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(1), "M");
    // Empty labels repeat freely.
    EXPECT_EQ(Extra(b).SetOutcomeLabel(1, ""), 0);
    EXPECT_EQ(Extra(a).SetOutcomeLabel(1, ""), 0);

    // A file being read may carry anything; the checks resume afterwards.
    net.SetReadingMode(QNL_network::READING);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(2, "L"), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(0, "2x"), 0);
    net.SetReadingMode(0);
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(2), "L");
    EXPECT_EQ(Extra(b).SetOutcomeLabel(1, "L"), -2);

    // A deleted node frees its labels.
    ASSERT_EQ(net.DeleteNode(b), 0);
    ASSERT_EQ(net.DeleteNode(a), 0);
    const int c = AddNode(net, "c");
    EXPECT_EQ(Extra(c).SetOutcomeLabel(0, "L"), 0);
}

TEST_F(ExtraDefinition, RefusedLabelsAreNumberedPastEveryOutcomeOfTheNetwork) {
    const int a = AddNode(net, "a");
    const int b = AddNode(net, "b", 3);
    ASSERT_EQ(Extra(a).SetOutcomeLabel(0, "L"), 0);
    // Five outcomes in the network: numbering starts at 6.
    EXPECT_EQ(Extra(b).SetOutcomeLabels(StringsOf({"L", "M", ""})), -2);
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(0), "L6");
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(1), "M");
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(2), "");

    // Numbers already in use anywhere are skipped; a duplicate within the node counts too.
    ASSERT_EQ(Extra(a).SetOutcomeLabel(1, "M6"), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabels(StringsOf({"L6", "M", "M"})), -2);
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(0), "L6");
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(2), "M7");

    EXPECT_EQ(Extra(b).SetOutcomeLabels(StringsOf({"P", "Q"})), 0);
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(0), "P");
    EXPECT_STREQ(Extra(b).GetOutcomeLabels().GetString(2), "M7");

    // More labels than outcomes: nothing is set.
    EXPECT_EQ(Extra(a).SetOutcomeLabels(StringsOf({"X", "Y", "Z"})), -2);
    EXPECT_STREQ(Extra(a).GetOutcomeLabels().GetString(0), "L");

    // A text that is no identifier cannot be rescued by a number; the old label stays.
    EXPECT_EQ(Extra(a).SetOutcomeLabels(StringsOf({"9lives", "M6"})), -2);
    EXPECT_STREQ(Extra(a).GetOutcomeLabels().GetString(0), "L");
}

TEST_F(ExtraDefinition, LabelChecksSurviveNodesWhoseAnnotationsHaveNoEntries) {
    const int a = AddNode(net, "a", 3);
    const int b = AddNode(net, "b");
    ASSERT_EQ(Extra(a).SetOutcomeLabel(2, "Deep"), 0);
    UtilityStandIn utility(a, &net);
    ASSERT_EQ(Extra(a).ResizeToOutcomes(&utility), 0);
    ASSERT_EQ(Extra(a).GetNumberOfOutcomes(), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(0, "Deep"), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabels(StringsOf({"Deep", "Other"})), 0);

    // The next outcome change of the out-of-step node brings its annotations back in step.
    ASSERT_EQ(Definition(a).AddOutcome("more"), 0);
    EXPECT_EQ(Extra(a).GetNumberOfOutcomes(), 4);
    ASSERT_EQ(Definition(a).RemoveOutcome(0), 0);
    EXPECT_EQ(Extra(a).GetNumberOfOutcomes(), 3);
}

TEST_F(ExtraDefinition, ResizeEmptiesTheOutcomesAndKeepsNodeFields) {
    const int a = AddNode(net, "a", 3);
    QNL_extraDefinition& extra = Extra(a);
    std::vector<OutcomeRecord> model(3);
    for (int i = 0; i < 3; ++i)
        Annotate(extra, i, std::to_string(i), model[i]);
    SetNodeFields(extra);
    ASSERT_EQ(extra.SetDefaultOutcome(2), 0);

    ASSERT_EQ(extra.ResizeToOutcomes(), 0);
    EXPECT_EQ(RecordsOf(extra), std::vector<OutcomeRecord>(3));
    EXPECT_EQ(extra.GetDefaultOutcome(), 2);
    EXPECT_STREQ(extra.GetQuestion(), "Is the light on?");
    EXPECT_EQ(extra.GetDiagnosisType(), QNL_extraDefinition::OBSERVATION);
    EXPECT_EQ(extra.IsRanked(), 1);
    EXPECT_EQ(extra.GetFaultNameFormat(), QNL_extraDefinition::FAULT_NAME_NODESTATE);

    UtilityStandIn utility(a, &net);
    ASSERT_EQ(extra.ResizeToOutcomes(&utility), 0);
    EXPECT_EQ(extra.GetNumberOfOutcomes(), 0);
    EXPECT_EQ(extra.GetOutcomeLabels().GetCount(), 0);
    EXPECT_EQ(extra.GetOutcomeDocumentation(0), nullptr);
    EXPECT_EQ(extra.GetDefaultOutcome(), 0);
    EquationStandIn equation(a, &net);
    ASSERT_EQ(extra.ResizeToOutcomes(&equation), 0);
    EXPECT_EQ(extra.GetNumberOfOutcomes(), 0);
    EXPECT_EQ(QNL_extraDefinition::OutcomesOf(&equation), 0);
    EXPECT_EQ(QNL_extraDefinition::OutcomesOf(nullptr), 0);

    ASSERT_EQ(extra.ResizeToOutcomes(), 0);
    EXPECT_EQ(extra.GetNumberOfOutcomes(), 3);
    ASSERT_EQ(extra.CleanUp(), 0);
    EXPECT_EQ(extra.GetNumberOfOutcomes(), 0);
    EXPECT_EQ(extra.GetOutcomeDescriptions().GetCount(), 0);
    EXPECT_EQ(extra.GetOutcomeLabels().GetCount(), 0);
    EXPECT_TRUE(extra.IsValid());
}

TEST_F(ExtraDefinition, ChangingTypeResizesOnlyWhenTheOutcomeCountChanges) {
    ScopedRegistration table(QNL_TYPE_TABLE, [](int h, QNL_network* n) -> QNL_nodeDefinition* {
        return new UtilityStandIn(h, n);
    });
    ScopedRegistration noisy(QNL_TYPE_NOISY_MAX, [](int h, QNL_network* n) -> QNL_nodeDefinition* {
        return new NoisyStandIn(h, n);
    });
    const int a = AddNode(net, "a");
    QNL_node& node = *net.GetNode(a);
    ASSERT_EQ(Extra(a).SetOutcomeDescription(1, "kept"), 0);
    ASSERT_EQ(Extra(a).SetQuestion("why?"), 0);
    QNL_extraDefinition* before = node.GetExtraDefinition();

    ASSERT_EQ(node.SetType(QNL_TYPE_NOISY_MAX), 0);
    EXPECT_EQ(node.GetExtraDefinition(), before);
    EXPECT_STREQ(Extra(a).GetOutcomeDescription(1), "kept");

    ASSERT_EQ(node.SetType(QNL_TYPE_TABLE), 0);
    EXPECT_EQ(Extra(a).GetNumberOfOutcomes(), 0);
    EXPECT_STREQ(Extra(a).GetQuestion(), "why?");

    ASSERT_EQ(node.SetType(QNL_TYPE_CPT), 0);
    EXPECT_EQ(Extra(a).GetNumberOfOutcomes(), 2);
    EXPECT_STREQ(Extra(a).GetOutcomeDescription(1), "");
}

TEST_F(ExtraDefinition, NodeWithoutDefinitionGetsAnnotationsWithItsFirstDefinition) {
    QNL_node node(0, 0, &net);
    EXPECT_EQ(node.GetExtraDefinition(), nullptr);
    ASSERT_EQ(node.CreateDefinition(0), 0);
    EXPECT_EQ(node.GetExtraDefinition(), nullptr);
    ASSERT_EQ(node.CreateDefinition(QNL_TYPE_CPT), 0);
    ASSERT_NE(node.GetExtraDefinition(), nullptr);
    EXPECT_EQ(node.GetExtraDefinition()->GetNumberOfOutcomes(), 2);
    EXPECT_EQ(node.GetExtraDefinition()->GetHandle(), 0);
    // A later definition keeps the same annotations.
    QNL_extraDefinition* first = node.GetExtraDefinition();
    ASSERT_EQ(node.GetExtraDefinition()->SetQuestion("q"), 0);
    ASSERT_EQ(node.CreateDefinition(QNL_TYPE_CPT), 0);
    EXPECT_EQ(node.GetExtraDefinition(), first);
    EXPECT_STREQ(first->GetQuestion(), "q");
    EXPECT_EQ(node.CreateDefinition(9999), -2);
    EXPECT_EQ(node.GetExtraDefinition(), first);
    ASSERT_EQ(node.CleanUp(), 0);
    EXPECT_EQ(node.GetExtraDefinition(), nullptr);
}

TEST_F(ExtraDefinition, CopiesKeepEveryField) {
    const int a = AddNode(net, "a", 3);
    const int b = AddNode(net, "b");
    QNL_extraDefinition& extra = Extra(a);
    std::vector<OutcomeRecord> model(3);
    for (int i = 0; i < 3; ++i)
        Annotate(extra, i, std::to_string(i), model[i]);
    ASSERT_EQ(extra.GetOutcomeDocumentation(1)->AddDocument("second", "path2"), 0);
    SetNodeFields(extra);
    ASSERT_EQ(extra.SetDefaultOutcome(2), 0);

    QNL_extraDefinition direct(extra);
    EXPECT_TRUE(direct.IsValid());
    ExpectSameAnnotations(direct, extra);
    EXPECT_EQ(RecordsOf(direct), model);

    QNL_extraDefinition assigned(b, &net);
    ASSERT_EQ(assigned.Assign(extra), 0);
    ExpectSameAnnotations(assigned, extra);
    EXPECT_EQ(assigned.GetHandle(), a);
    EXPECT_EQ(assigned.Assign(assigned), 0);
    ExpectSameAnnotations(assigned, extra);

    // The copies own their documents: editing one leaves the other as it was.
    ASSERT_EQ(direct.GetOutcomeDocumentation(0)->AddDocument("extra", "x"), 0);
    ASSERT_EQ(direct.SetOutcomeDescription(0, "changed"), 0);
    EXPECT_EQ(extra.GetOutcomeDocumentation(0)->GetNumberOfDocuments(), 1);
    EXPECT_EQ(RecordsOf(extra), model);

    QNL_node nodeCopy(*net.GetNode(a));
    ASSERT_TRUE(nodeCopy.IsValid());
    ASSERT_NE(nodeCopy.GetExtraDefinition(), nullptr);
    EXPECT_NE(nodeCopy.GetExtraDefinition(), &extra);
    ExpectSameAnnotations(*nodeCopy.GetExtraDefinition(), extra);
}

TEST_F(ExtraDefinition, NetworkCopyKeepsAnnotationsBoundToTheCopy) {
    const int a = AddNode(net, "a", 3);
    const int b = AddNode(net, "b");
    std::vector<OutcomeRecord> model(3);
    for (int i = 0; i < 3; ++i)
        Annotate(Extra(a), i, std::to_string(i), model[i]);
    SetNodeFields(Extra(a));
    ASSERT_EQ(Extra(a).SetDefaultOutcome(1), 0);

    QNL_network copy(net);
    ASSERT_TRUE(copy.IsValid());
    QNL_extraDefinition& copied = *copy.GetNode(a)->GetExtraDefinition();
    ExpectSameAnnotations(copied, Extra(a));
    EXPECT_EQ(copied.GetNetwork(), &copy);
    EXPECT_EQ(copied.GetHandle(), a);
    EXPECT_EQ(copy.GetNode(b)->GetExtraDefinition()->GetNetwork(), &copy);

    // Label checks in the copy look at the copy's nodes.
    QNL_extraDefinition& copiedB = *copy.GetNode(b)->GetExtraDefinition();
    EXPECT_EQ(copiedB.SetOutcomeLabel(0, "L0"), -2);
    ASSERT_EQ(Extra(a).SetOutcomeLabel(0, "Renamed"), 0);
    EXPECT_EQ(copiedB.SetOutcomeLabel(0, "L0"), -2);
    EXPECT_EQ(copiedB.SetOutcomeLabel(0, "Renamed"), 0);

    // Outcome edits of the copy move the copy's annotations only.
    ASSERT_EQ(copy.GetNode(a)->GetDefinition()->RemoveOutcome(0), 0);
    EXPECT_EQ(copied.GetNumberOfOutcomes(), 2);
    EXPECT_EQ(Extra(a).GetNumberOfOutcomes(), 3);

    QNL_network into;
    ASSERT_EQ(into.Copy(net), 0);
    ExpectSameAnnotations(*into.GetNode(a)->GetExtraDefinition(), Extra(a));
    EXPECT_EQ(into.GetNode(a)->GetExtraDefinition()->GetNetwork(), &into);
}

} // namespace

namespace {

TEST(ExtraDefinitionOnProbabilityTable, AnnotationsFollowOutcomeEditsOfTheRealTable) {
    QNL_network net;
    const int a = net.AddNode(QNL_TYPE_CPT, "a");
    ASSERT_GE(a, 0);
    QNL_nodeDefinition& definition = *net.GetNode(a)->GetDefinition();
    QNL_extraDefinition& extra = *net.GetNode(a)->GetExtraDefinition();
    ASSERT_EQ(extra.GetNumberOfOutcomes(), definition.GetNumberOfOutcomes());
    ASSERT_EQ(extra.SetOutcomeDescription(0, "zero"), 0);
    ASSERT_EQ(extra.SetOutcomeDescription(1, "one"), 0);
    ASSERT_EQ(definition.InsertOutcome(1, "middle"), 0);
    ASSERT_EQ(definition.AddOutcome("last"), 0);
    ASSERT_EQ(extra.GetNumberOfOutcomes(), 4);
    EXPECT_STREQ(extra.GetOutcomeDescription(2), "one");
    ASSERT_EQ(definition.ReorderOutcomes(IntsOf({2, 1, 0, 3})), 0);
    EXPECT_STREQ(extra.GetOutcomeDescription(0), "one");
    EXPECT_STREQ(extra.GetOutcomeDescription(2), "zero");
    ASSERT_EQ(definition.RemoveOutcome(1), 0);
    ASSERT_EQ(extra.GetNumberOfOutcomes(), 3);
    EXPECT_STREQ(extra.GetOutcomeDescription(1), "zero");
}

} // namespace
