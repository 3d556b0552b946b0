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

// A second discrete type with the test definition's outcomes.
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
    std::string description, fix, faultName, label, documents;
    bool operator==(const OutcomeRecord& o) const {
        return fault == o.fault && description == o.description && fix == o.fix &&
               faultName == o.faultName && label == o.label && documents == o.documents;
    }
};

std::vector<OutcomeRecord> RecordsOf(const QNL_extraDefinition& extra) {
    std::vector<OutcomeRecord> records;
    for (int i = 0; i < extra.GetNumberOfOutcomes(); ++i) {
        OutcomeRecord r{extra.IsFaultOutcome(i),
                        Text(extra.GetOutcomeDescription(i)),
                        Text(extra.GetOutcomeFix(i)),
                        Text(extra.GetFaultName(i)),
                        Text(extra.GetOutcomeLabels().GetString(i)),
                        ""};
        const QNL_documentation* documents = extra.GetOutcomeDocumentation(i);
        for (int k = 0; k < documents->GetNumberOfDocuments(); ++k)
            r.documents += Text(documents->GetTitle(k)) + "@" + Text(documents->GetPath(k)) + ";";
        records.push_back(r);
    }
    return records;
}

// Fills outcome i with texts unique to the tag.
void Annotate(QNL_extraDefinition& extra, int i, const std::string& tag, OutcomeRecord& model) {
    model = {static_cast<int>(tag.size() % 2),
             "about " + tag,
             "repair " + tag,
             "name " + tag,
             "L" + tag,
             "doc " + tag + "@p;"};
    ASSERT_EQ(extra.SetFaultOutcome(i, model.fault != 0), 0);
    ASSERT_EQ(extra.SetOutcomeDescription(i, model.description.c_str()), 0);
    ASSERT_EQ(extra.SetOutcomeFix(i, model.fix.c_str()), 0);
    ASSERT_EQ(extra.SetFaultName(i, model.faultName.c_str()), 0);
    ASSERT_EQ(extra.SetOutcomeLabel(i, model.label.c_str()), 0);
    ASSERT_EQ(extra.GetOutcomeDocumentation(i)->AddDocument(("doc " + tag).c_str(), "p"), 0);
}

// Annotates every outcome, tagged by its index.
void AnnotateAll(QNL_extraDefinition& extra) {
    OutcomeRecord model;
    for (int i = 0; i < extra.GetNumberOfOutcomes(); ++i)
        Annotate(extra, i, std::to_string(i), model);
}

// Node-wide fields, all set away from their defaults by SetNodeFields.
std::string NodeFields(const QNL_extraDefinition& e) {
    return std::to_string(e.GetDefaultOutcome()) + std::to_string(e.GetDiagnosisType()) +
           std::to_string(e.IsRanked()) + std::to_string(e.IsMandatory()) +
           std::to_string(e.IsSetAsDefault()) + std::to_string(e.GetDisplayMode()) +
           std::to_string(e.GetFaultNameFormat()) + Text(e.GetQuestion());
}

void SetNodeFields(QNL_extraDefinition& extra) {
    extra.SetDiagnosisType(QNL_extraDefinition::OBSERVATION);
    extra.SetFlags(1, 1, 1);
    extra.SetDisplayMode(7);
    ASSERT_EQ(extra.SetQuestion("Is the light on?"), 0);
    ASSERT_EQ(extra.SetFaultNameFormat(QNL_extraDefinition::FAULT_NAME_NODESTATE), 0);
    ASSERT_EQ(extra.SetDefaultOutcome(2), 0);
}

void ExpectSameAnnotations(const QNL_extraDefinition& a, const QNL_extraDefinition& b) {
    EXPECT_EQ(RecordsOf(a), RecordsOf(b));
    EXPECT_EQ(NodeFields(a), NodeFields(b));
}

class ExtraDefinition : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }

    QNL_extraDefinition& Extra(int node) { return *net.GetNode(node)->GetExtraDefinition(); }
    QNL_nodeDefinition& Definition(int node) { return *net.GetNode(node)->GetDefinition(); }
    std::string Label(int node, int i) { return Text(Extra(node).GetOutcomeLabels().GetString(i)); }

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
};

TEST_F(ExtraDefinition, OutOfRangeAccessIsRefusedAndChangesNothing) {
    QNL_extraDefinition& extra = Extra(AddNode(net, "a"));
    for (int bad : {-1, 2, 1000}) {
        EXPECT_EQ((std::vector<int>{extra.IsFaultOutcome(bad), extra.SetFaultOutcome(bad, true),
                                    extra.SetOutcomeDescription(bad, "x"),
                                    extra.SetOutcomeFix(bad, "x"), extra.SetFaultName(bad, "x"),
                                    extra.SetOutcomeLabel(bad, "x"), extra.SetDefaultOutcome(bad)}),
                  std::vector<int>(7, -2))
            << bad;
        EXPECT_TRUE(extra.GetOutcomeDescription(bad) == nullptr &&
                    extra.GetOutcomeFix(bad) == nullptr && extra.GetFaultName(bad) == nullptr &&
                    extra.GetOutcomeDocumentation(bad) == nullptr)
            << bad;
    }
    // The label array has spare room beyond the outcomes; none of it may be written.
    net.SetReadingMode(QNL_network::READING);
    EXPECT_EQ(extra.SetOutcomeLabel(2, "x"), -2);
    net.SetReadingMode(0);
    EXPECT_EQ((std::vector<int>{extra.SetFaultOutcomes(IntsOf({1, 0, 1})),
                                extra.SetFaultOutcomes(IntsOf({1})), extra.SetFaultNameFormat(5),
                                extra.SetFaultNameFormat(-1)}),
              std::vector<int>(4, -2));
    EXPECT_EQ(RecordsOf(extra), std::vector<OutcomeRecord>(2));
    EXPECT_EQ(extra.SetFaultOutcomes(IntsOf({0, 7})), 0); // any non-zero marks a fault
    EXPECT_EQ(extra.IsFaultOutcome(1), 1);
    // Null texts are stored empty.
    ASSERT_EQ(extra.SetOutcomeDescription(0, "d"), 0);
    ASSERT_EQ(extra.SetOutcomeDescription(0, nullptr), 0);
    ASSERT_EQ(extra.SetQuestion(nullptr), 0);
    EXPECT_EQ(Text(extra.GetOutcomeDescription(0)) + Text(extra.GetQuestion()), "");
}

// Random outcome edits through the definition, checked after each step against a plain
// vector that applies the same edits, the default outcome included.
TEST_F(ExtraDefinition, AnnotationsFollowEveryOutcomeEditOfTheDefinition) {
    const int a = AddNode(net, "a", 3), child = AddNode(net, "child");
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
            modelDefault = modelDefault == index ? 0 : modelDefault - (modelDefault > index);
        } else {
            std::vector<int> order(static_cast<std::size_t>(n));
            std::iota(order.begin(), order.end(), 0);
            std::shuffle(order.begin(), order.end(), random);
            ASSERT_EQ(definition.ReorderOutcomes(IntsOf(order)), 0);
            std::vector<OutcomeRecord> reordered;
            for (int from : order)
                reordered.push_back(model[static_cast<std::size_t>(from)]);
            model = reordered;
            modelDefault = static_cast<int>(std::find(order.begin(), order.end(), modelDefault) -
                                            order.begin());
        }
        ASSERT_EQ(RecordsOf(extra), model) << "step " << step;
        ASSERT_EQ(extra.GetDefaultOutcome(), modelDefault) << "step " << step;
        ASSERT_EQ(extra.GetOutcomeLabels().GetCount(), extra.GetNumberOfOutcomes());
    }
    // New outcomes: old 2, a new one, old 0; old 1 goes.
    ASSERT_EQ(extra.SetDefaultOutcome(2), 0);
    const std::vector<OutcomeRecord> before = RecordsOf(extra);
    const std::vector<std::string> ids = quarn_test::IdsOf(&definition);
    ASSERT_EQ(definition.ChangeOutcomes(StringsOf({ids[2], "fresh", ids[0]}), IntsOf({2, -1, 0})),
              0);
    EXPECT_EQ(RecordsOf(extra), (std::vector<OutcomeRecord>{before[2], {}, before[0]}));
    EXPECT_EQ(extra.GetDefaultOutcome(), 0);
}

TEST_F(ExtraDefinition, LabelsAreUniqueAcrossTheNetworkAndRefusedOnesAreNumbered) {
    const int a = AddNode(net, "a"), b = AddNode(net, "b", 3);
    ASSERT_EQ(Extra(a).SetOutcomeLabel(0, "L"), 0);
    EXPECT_EQ(Extra(a).SetOutcomeLabel(0, "L"), 0); // its own label again is no conflict
    for (const char* refused : {"L", "2x", "no way"})
        EXPECT_EQ(Extra(b).SetOutcomeLabel(1, refused), -2) << refused;
    EXPECT_EQ(Extra(b).SetOutcomeLabel(1, nullptr), -2);
    EXPECT_EQ(Extra(a).SetOutcomeLabel(1, "L"), -2);
    EXPECT_EQ(Label(b, 1), "");
    EXPECT_EQ(Extra(b).SetOutcomeLabel(1, ""), 0); // empty labels repeat freely
    EXPECT_EQ(Extra(a).SetOutcomeLabel(1, ""), 0);

    // Five outcomes in the network: numbering starts at 6, skips numbers in use anywhere, and
    // a duplicate within the node counts too.
    EXPECT_EQ(Extra(b).SetOutcomeLabels(StringsOf({"L", "M", ""})), -2);
    EXPECT_EQ(Label(b, 0) + Label(b, 1) + Label(b, 2), "L6M");
    ASSERT_EQ(Extra(a).SetOutcomeLabel(1, "M6"), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabels(StringsOf({"L6", "M", "M"})), -2);
    EXPECT_EQ(Label(b, 2), "M7");
    EXPECT_EQ(Extra(b).SetOutcomeLabels(StringsOf({"P", "Q"})), 0); // fewer: the rest stay
    EXPECT_EQ(Label(b, 0) + Label(b, 2), "PM7");
    // More labels than outcomes, or a text no number can rescue: nothing is set.
    EXPECT_EQ(Extra(a).SetOutcomeLabels(StringsOf({"X", "Y", "Z"})), -2);
    EXPECT_EQ(Extra(a).SetOutcomeLabels(StringsOf({"9lives", "M6"})), -2);
    EXPECT_EQ(Label(a, 0), "L");

    // A file being read may carry anything; the checks resume afterwards.
    net.SetReadingMode(QNL_network::READING);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(2, "L"), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(0, "2x"), 0);
    net.SetReadingMode(0);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(1, "L"), -2);
    // A deleted node frees its labels.
    ASSERT_EQ(net.DeleteNode(b), 0);
    ASSERT_EQ(net.DeleteNode(a), 0);
    EXPECT_EQ(Extra(AddNode(net, "c")).SetOutcomeLabel(0, "L"), 0);
}

TEST_F(ExtraDefinition, ResizeEmptiesTheOutcomesKeepsNodeFieldsAndLabelChecksSurviveIt) {
    const int a = AddNode(net, "a", 3), b = AddNode(net, "b");
    QNL_extraDefinition& extra = Extra(a);
    AnnotateAll(extra);
    SetNodeFields(extra);
    const std::string fields = NodeFields(extra);
    ASSERT_EQ(extra.ResizeToOutcomes(), 0);
    EXPECT_EQ(RecordsOf(extra), std::vector<OutcomeRecord>(3));
    EXPECT_EQ(NodeFields(extra), fields);

    // A definition without outcomes of its own leaves no entries, and the label checks of
    // other nodes step over them.
    ASSERT_EQ(extra.SetOutcomeLabel(2, "Deep"), 0);
    UtilityStandIn utility(a, &net);
    ASSERT_EQ(extra.ResizeToOutcomes(&utility), 0);
    EXPECT_EQ(RecordsOf(extra), std::vector<OutcomeRecord>{});
    EXPECT_EQ(extra.GetOutcomeLabels().GetCount() + extra.GetDefaultOutcome(), 0);
    EXPECT_EQ(extra.GetOutcomeDocumentation(0), nullptr);
    EXPECT_EQ(QNL_extraDefinition::OutcomesOf(nullptr), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabel(0, "Deep"), 0);
    EXPECT_EQ(Extra(b).SetOutcomeLabels(StringsOf({"Deep", "Other"})), 0);
    // The next outcome change of the out-of-step node brings its annotations back in step.
    ASSERT_EQ(Definition(a).AddOutcome("more"), 0);
    EXPECT_EQ(extra.GetNumberOfOutcomes(), 4);
    ASSERT_EQ(extra.CleanUp(), 0);
    EXPECT_EQ(extra.GetNumberOfOutcomes() + extra.GetOutcomeDescriptions().GetCount(), 0);
}

TEST_F(ExtraDefinition, TypeChangesResizeOnlyWhenTheOutcomeCountChanges) {
    quarn_test::ScopedRegistration table(
        QNL_TYPE_TABLE,
        [](int h, QNL_network* n) -> QNL_nodeDefinition* { return new UtilityStandIn(h, n); });
    quarn_test::ScopedRegistration noisy(
        QNL_TYPE_NOISY_MAX,
        [](int h, QNL_network* n) -> QNL_nodeDefinition* { return new NoisyStandIn(h, n); });
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

    // A node gets annotations with its first definition and keeps them through later ones.
    QNL_node bare(0, 0, &net);
    ASSERT_EQ(bare.CreateDefinition(0), 0);
    EXPECT_EQ(bare.GetExtraDefinition(), nullptr);
    ASSERT_EQ(bare.CreateDefinition(QNL_TYPE_CPT), 0);
    QNL_extraDefinition* first = bare.GetExtraDefinition();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetNumberOfOutcomes(), 2);
    ASSERT_EQ(bare.CreateDefinition(QNL_TYPE_CPT), 0);
    EXPECT_EQ(bare.CreateDefinition(9999), -2);
    EXPECT_EQ(bare.GetExtraDefinition(), first);
    ASSERT_EQ(bare.CleanUp(), 0);
    EXPECT_EQ(bare.GetExtraDefinition(), nullptr);
}

TEST_F(ExtraDefinition, CopiesKeepEveryFieldAndBelongToTheirOwnNetwork) {
    const int a = AddNode(net, "a", 3), b = AddNode(net, "b");
    QNL_extraDefinition& extra = Extra(a);
    AnnotateAll(extra);
    ASSERT_EQ(extra.GetOutcomeDocumentation(1)->AddDocument("second", "path2"), 0);
    SetNodeFields(extra);

    QNL_extraDefinition direct(extra);
    ExpectSameAnnotations(direct, extra);
    QNL_extraDefinition assigned(b, &net);
    ASSERT_EQ(assigned.Assign(extra), 0);
    ASSERT_EQ(assigned.Assign(assigned), 0);
    ExpectSameAnnotations(assigned, extra);
    EXPECT_EQ(assigned.GetHandle(), a);
    // The copies own their documents: editing one leaves the other as it was.
    const std::vector<OutcomeRecord> records = RecordsOf(extra);
    ASSERT_EQ(direct.GetOutcomeDocumentation(0)->AddDocument("extra", "x"), 0);
    ASSERT_EQ(direct.SetOutcomeDescription(0, "changed"), 0);
    EXPECT_EQ(RecordsOf(extra), records);
    QNL_node nodeCopy(*net.GetNode(a));
    EXPECT_NE(nodeCopy.GetExtraDefinition(), &extra);
    ExpectSameAnnotations(*nodeCopy.GetExtraDefinition(), extra);

    QNL_network copy(net);
    ASSERT_TRUE(copy.IsValid());
    QNL_extraDefinition& copied = *copy.GetNode(a)->GetExtraDefinition();
    ExpectSameAnnotations(copied, extra);
    EXPECT_EQ(copied.GetNetwork(), &copy);
    // Label checks and outcome edits in the copy concern the copy's nodes only.
    QNL_extraDefinition& copiedB = *copy.GetNode(b)->GetExtraDefinition();
    ASSERT_EQ(extra.SetOutcomeLabel(0, "Renamed"), 0);
    EXPECT_EQ(copiedB.SetOutcomeLabel(0, "L0"), -2);
    EXPECT_EQ(copiedB.SetOutcomeLabel(0, "Renamed"), 0);
    ASSERT_EQ(copy.GetNode(a)->GetDefinition()->RemoveOutcome(0), 0);
    EXPECT_EQ(copied.GetNumberOfOutcomes(), 2);
    EXPECT_EQ(extra.GetNumberOfOutcomes(), 3);
    QNL_network into;
    ASSERT_EQ(into.Copy(net), 0);
    ExpectSameAnnotations(*into.GetNode(a)->GetExtraDefinition(), extra);
    EXPECT_EQ(into.GetNode(a)->GetExtraDefinition()->GetNetwork(), &into);
}

} // namespace
