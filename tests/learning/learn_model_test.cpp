#include "definitions/node_value.h"
#include "learning/dataset.h"
#include "learning/em.h"
#include "learning/learn_model.h"
#include "learning/learning_data.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace learning_test;
using quarn_test::AddBinaryNode;
using quarn_test::StringsOf;

// Ten records: "class" 6 yes and 4 no, and three features.
QNL_dataset TenRecords() {
    QNL_dataset data = IntColumns({{0, 1, 0, 1, 1, 0, 0, 1, 1, 0},
                                   {1, 1, 1, 1, 1, 1, 0, 0, 0, 0},
                                   {0, 1, 2, 0, 1, 2, 0, 1, 2, 0},
                                   {1, 1, 0, 0, 1, 1, 0, 0, 1, 1}},
                                  {"f1", "class", "f2", "f3"});
    data.setStateNames(0, {"lo", "hi"});
    data.setStateNames(1, {"no", "yes"});
    data.setStateNames(2, {"a", "b", "c"});
    data.setStateNames(3, {"x", "y"});
    return data;
}

double Probability(QNL_network& net, const char* node, const char* outcome) {
    const int h = net.FindNode(node);
    QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
    const int k = definition->GetOutcomeIds()->FindPosition(outcome);
    return definition->GetMatrix()->Subscript(k);
}

TEST(NaiveBayes, ClassParentOfEveryFeatureWithPriorCountsOfOne) {
    QNL_dataset data = TenRecords();
    QNL_naiveBayes nb;
    QNL_network out;
    ASSERT_EQ(nb.Learn(data, out), 0);
    EXPECT_EQ(ArcCount(out), 3);
    for (const char* feature : {"f1", "f2", "f3"}) {
        const QNL_intArray& parents = out.GetParents(out.FindNode(feature));
        ASSERT_EQ(parents.GetCount(), 1) << feature;
        EXPECT_EQ(parents[0], out.FindNode("class")) << feature;
    }
    EXPECT_EQ(Probability(out, "class", "yes"), 7.0 / 12.0);
    EXPECT_EQ(Probability(out, "class", "no"), 5.0 / 12.0);
    // The learned network takes the same data back, its outcomes being the data's names.
    std::string error;
    EXPECT_TRUE(data.matchNetwork(out, error)) << error;

    // Matched to a network whose outcomes run the other way, the cells hold outcome indices;
    // the learned tables still follow the names.
    QNL_network reversed;
    for (const auto& [id, names] :
         std::vector<std::pair<const char*, std::vector<std::string>>>{{"f1", {"lo", "hi"}},
                                                                       {"class", {"yes", "no"}},
                                                                       {"f2", {"a", "b", "c"}},
                                                                       {"f3", {"x", "y"}}})
        ASSERT_EQ(reversed.GetNode(reversed.AddNode(QNL_TYPE_CPT, id))
                      ->GetDefinition()
                      ->SetNumberOfOutcomes(StringsOf(names)),
                  0);
    ASSERT_TRUE(data.matchNetwork(reversed, error)) << error;
    QNL_network again;
    ASSERT_EQ(nb.Learn(data, again), 0);
    EXPECT_EQ(Probability(again, "class", "yes"), 7.0 / 12.0);
    // The net weight is the sample size of the priors of method 1: 4 / 2 for each class state.
    nb.PriorsMethod = 1;
    nb.NetWeight = 4.0;
    ASSERT_EQ(nb.Learn(TenRecords(), again), 0);
    EXPECT_DOUBLE_EQ(Probability(again, "class", "yes"), 8.0 / 14.0);
}

TEST(NaiveBayes, FeatureSelectionKeepsTheInformativeFeatures) {
    QNL_network truth;
    const int c = AddBinaryNode(truth, "class", {}, {0.4});
    AddBinaryNode(truth, "good1", {c}, {0.9, 0.2});
    AddBinaryNode(truth, "noise", {}, {0.5});
    AddBinaryNode(truth, "good2", {c}, {0.15, 0.8});
    const QNL_dataset data = quarn_test::SampleDataSet(truth, Handles(truth), 3000, 0.0, 4);
    QNL_naiveBayes nb;
    nb.FeatureSelection = true;
    QNL_network out;
    ASSERT_EQ(nb.Learn(data, out), 0);
    EXPECT_EQ(ArcCount(out), 2);
    EXPECT_EQ(out.GetParents(out.FindNode("noise")).GetCount(), 0);
    for (const char* feature : {"good1", "good2"})
        EXPECT_EQ(out.GetParents(out.FindNode(feature)).GetCount(), 1) << feature;
}

TEST(GreedyThickThinning, BackgroundKnowledgeAndParentLimit) {
    QNL_network truth;
    const int a = AddBinaryNode(truth, "A", {}, {0.3});
    const int b = AddBinaryNode(truth, "B", {a}, {0.9, 0.15});
    AddBinaryNode(truth, "C", {b}, {0.8, 0.2});
    std::vector<int> handles{0, 1, 2};
    const QNL_dataset data = quarn_test::SampleDataSet(truth, handles, 2000, 0.0, 8);
    struct Case {
        const char* what;
        int maxParents;
        std::vector<std::pair<int, int>> forced, forbidden;
        int arcs;
    };
    const Case cases[] = {
        {"chain", 5, {}, {}, 2},
        {"no parents", 0, {}, {}, 0},
        {"forced C->A, A-B forbidden", 5, {{2, 0}}, {{0, 1}, {1, 0}}, 2},
    };
    for (const Case& c : cases) {
        QNL_greedyThickThinning gtt;
        gtt.MaxParents = c.maxParents;
        gtt.forcedArcs = c.forced;
        gtt.forbiddenArcs = c.forbidden;
        QNL_network out;
        ASSERT_EQ(gtt.Learn(data, out), 0) << c.what;
        EXPECT_EQ(ArcCount(out), c.arcs) << c.what;
        for (const auto& [p, child] : c.forced)
            EXPECT_EQ(out.GetParents(child).FindPosition(p) >= 0, true) << c.what;
        for (const auto& [p, child] : c.forbidden)
            EXPECT_LT(out.GetParents(child).FindPosition(p), 0) << c.what;
    }
}

// A model whose state names are no identifiers, read from a .net file: records sampled from
// it under the file's texts match it and learn with EM as records under the reader's
// identifiers do, and the learners name their outcomes as the reader did.
TEST(LearnFrontEnds, StateTextsAreRepairedAsTheFileReaderRepairsThem) {
    const std::string path = quarn_test::TestFile("repaired_states.net");
    std::ofstream(path) << "node class { states = (\"<5\" \"a/b\" \"ok\"); }\n"
                           "node B { states = (\"3-5 days\" \"later\"); }\n"
                           "potential (class) { data = (0.2 0.5 0.3); }\n"
                           "potential (B | class) { data = ((0.9 0.1) (0.3 0.7) (0.5 0.5)); }\n";
    QNL_network model, fromTexts, fromIds;
    for (QNL_network* net : {&model, &fromTexts, &fromIds})
        ASSERT_EQ(net->ReadFile(path.c_str()), 0);
    auto ids = [](QNL_network& net, const char* node) {
        return OutcomesOf(net, net.FindNode(node));
    };
    const std::vector<std::vector<std::string>> repaired{{"x_5", "a_b", "ok"},
                                                         {"x3_5_days", "later"}};
    ASSERT_EQ(repaired,
              (std::vector<std::vector<std::string>>{ids(model, "class"), ids(model, "B")}));
    QNL_dataset texts = quarn_test::SampleDataSet(
        model, {model.FindNode("class"), model.FindNode("B")}, 500, 0.2, 11);
    QNL_dataset identifiers = texts;
    ASSERT_TRUE(texts.setStateNames(0, {"<5", "a/b", "ok"}));
    ASSERT_TRUE(texts.setStateNames(1, {"3-5 days", "later"}));
    for (int v = 0; v < 2; ++v)
        ASSERT_TRUE(identifiers.setStateNames(v, repaired[static_cast<std::size_t>(v)]));
    const QNL_dataset unmatched = texts;
    std::string error;
    QNL_dataset twins = texts;
    ASSERT_TRUE(twins.setStateNames(0, {"<5", "x_5", "ok"}));
    EXPECT_FALSE(twins.matchNetwork(fromTexts, error));
    EXPECT_EQ(error, "Dataset column 'class' contains values '<5' and 'x_5' which map to the "
                     "same node outcome");
    ASSERT_TRUE(texts.matchNetwork(fromTexts, error)) << error;
    ASSERT_TRUE(identifiers.matchNetwork(fromIds, error)) << error;
    const QNL_emParams params{0, false};
    ASSERT_EQ(QNL_em().Learn(texts, fromTexts, params), 0);
    ASSERT_EQ(QNL_em().Learn(identifiers, fromIds, params), 0);
    auto values = [](QNL_network& net, const char* node) {
        return quarn_test::ValuesOf(net.GetNode(net.FindNode(node))->GetDefinition());
    };
    for (const char* node : {"class", "B"}) {
        EXPECT_EQ(values(fromTexts, node), values(fromIds, node)) << node;
        EXPECT_NE(values(fromTexts, node), values(model, node)) << node;
    }
    QNL_network byGtt, byNb;
    ASSERT_EQ(QNL_greedyThickThinning().Learn(unmatched, byGtt), 0);
    ASSERT_EQ(QNL_naiveBayes().Learn(unmatched, byNb), 0);
    for (QNL_network* net : {&byGtt, &byNb}) {
        EXPECT_EQ(ids(*net, "class"), repaired[0]);
        EXPECT_EQ(ids(*net, "B"), repaired[1]);
    }
}

// A record with every cell missing says nothing: arcs and tables are those learned without
// it (it once sent the search through expected counts, which found three times the arcs).
TEST(GreedyThickThinning, RecordWithEveryCellMissingChangesNothing) {
    QNL_network truth;
    quarn_test::RandomNetworkSpec spec;
    spec.seed = 11;
    spec.nodes = 25;
    spec.maxParents = 2;
    const std::vector<int> handles = quarn_test::BuildRandomNetwork(truth, spec);
    QNL_dataset data = quarn_test::SampleDataSet(truth, handles, 300, 0.0, 4);
    QNL_network plain, padded;
    ASSERT_EQ(QNL_greedyThickThinning().Learn(data, plain), 0);
    ASSERT_TRUE(data.addRecord(std::vector<QNL_datasetCell>(handles.size(), QNL_IntCell(-1))));
    ASSERT_EQ(QNL_greedyThickThinning().Learn(data, padded), 0);
    ASSERT_GT(ArcCount(plain), 0);
    for (int h = plain.GetFirstNode(); h >= 0; h = plain.GetNextNode(h)) {
        const int other = padded.FindNode(plain.GetNode(h)->GetId());
        ASSERT_GE(other, 0);
        EXPECT_TRUE(plain.GetParents(h) == padded.GetParents(other)) << h;
        QNL_doubleArray mine, theirs;
        plain.GetNode(h)->GetDefinition()->GetDefinition(mine);
        padded.GetNode(other)->GetDefinition()->GetDefinition(theirs);
        EXPECT_TRUE(mine == theirs) << plain.GetNode(h)->GetId();
    }
}

TEST(LearnFrontEnds, FailuresSayWhyAndLeaveTheOutputAlone) {
    QNL_dataset empty;
    empty.addIntVariable("A", nullptr, -1);
    QNL_dataset continuous = TenRecords();
    continuous.addFloatVariable("temp", nullptr, -1.0f);
    const QNL_dataset ten = TenRecords();
    QNL_greedyThickThinning outside;
    outside.forcedArcs = {{0, 7}};
    QNL_greedyThickThinning contradiction;
    contradiction.forcedArcs = {{0, 1}};
    contradiction.forbiddenArcs = {{0, 1}};
    QNL_greedyThickThinning badTier;
    badTier.tiers = {{-1, 0}};
    QNL_naiveBayes unknown;
    unknown.ClassVariableId = "label";
    const QNL_greedyThickThinning plain;
    struct Case {
        std::function<int(QNL_network&)> run;
        const char* message;
    };
    const Case cases[] = {
        {[&](QNL_network& n) { return plain.Learn(QNL_dataset(), n); },
         "gtt: the data set has no variables"},
        {[&](QNL_network& n) { return plain.Learn(empty, n); }, "gtt: the data set has no records"},
        {[&](QNL_network& n) { return QNL_naiveBayes().Learn(continuous, n); },
         "nb: column temp is continuous; only discrete columns can be learned"},
        {[&](QNL_network& n) { return unknown.Learn(ten, n); }, "nb: unknown class variable label"},
        {[&](QNL_network& n) { return outside.Learn(ten, n); },
         "gtt: forced arc (0, 7) does not join two variables of the data set"},
        {[&](QNL_network& n) { return contradiction.Learn(ten, n); },
         "gtt: forbidden arc (0, 1) is forced as well"},
        {[&](QNL_network& n) { return badTier.Learn(ten, n); },
         "gtt: tier entry (-1, 0) does not name a variable of the data set"},
    };
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (const Case& c : cases) {
        log.Flush();
        QNL_network out;
        const int kept = out.AddNode(QNL_TYPE_CPT, "Kept");
        EXPECT_EQ(c.run(out), -1) << c.message;
        ASSERT_EQ(log.GetNumberOfErrors(), 1) << c.message;
        EXPECT_STREQ(log.GetMessage(0), c.message);
        EXPECT_EQ(out.FindNode("Kept"), kept) << c.message;
    }
    log.Flush();
}

TEST(LearnModel, RegistryDispatchPosteriorAndSave) {
    QNL_learnModel model;
    int value = -1;
    EXPECT_EQ(model.AddIntOption("model_type", 3, ""), -1);
    EXPECT_EQ(model.AddDoubleOption("MAX_NUM_PA_GS", 1.0, ""), 0);
    EXPECT_EQ(model.AddIntOption("MAX_NUM_PA_GS", 2, ""), -1);
    EXPECT_EQ(model.GetIntOption("absent", value), -2);
    EXPECT_EQ(model.SetIntOption("absent", 1), -2);

    auto engine = std::make_unique<QNL_learnNetwork>();
    ASSERT_TRUE(engine->ImportDataset(TenRecords()));
    model.SetNetwork(std::move(engine));
    EXPECT_EQ(model.SetClassIndex(4), -2);
    ASSERT_EQ(model.SetClassIndex(1), 0);
    ASSERT_EQ(model.SetIntOption("model_type", 7), 0);
    EXPECT_EQ(model.Learn(), -567);
    ASSERT_EQ(model.SetIntOption("model_type", 1), 0);
    ASSERT_EQ(model.Learn(), 0);

    // The posterior of the class is the one inference gives in the copied network.
    QNL_network copy;
    ASSERT_EQ(model.GetNetwork()->CopyToNetwork(copy), 0);
    const std::vector<int> record{1, 0, 2, 0};
    const std::vector<double> posterior = model.ClassPosterior(record);
    ASSERT_EQ(posterior.size(), 2u);
    for (const auto& [id, state] :
         std::vector<std::pair<const char*, int>>{{"f1", 1}, {"f2", 2}, {"f3", 0}})
        ASSERT_EQ(copy.GetNode(copy.FindNode(id))->GetValue()->SetEvidence(state), 0);
    ASSERT_EQ(copy.UpdateBeliefs(), 0);
    const QNL_Dmatrix* beliefs = copy.GetNode(copy.FindNode("class"))->GetValue()->GetMatrix();
    for (int k = 0; k < 2; ++k)
        EXPECT_NEAR(posterior[static_cast<std::size_t>(k)], beliefs->Subscript(k), 1e-12);
    EXPECT_TRUE(model.ClassPosterior({1, 0}).empty());

    const std::string path = quarn_test::TestFile("learned_model.xqnl");
    ASSERT_EQ(model.SaveNetwork(path), 0);
    QNL_network read;
    ASSERT_EQ(read.ReadFile(path.c_str()), 0);
    EXPECT_EQ(read.GetNumberOfNodes(), 4);
    EXPECT_EQ(ArcCount(read), 3);
    std::remove(path.c_str());
}

} // namespace
