#include "learning/dataset.h"
#include "learning/learn_model.h"
#include "learning/learning_data.h"
#include "model/network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using quarn_test::AddBinaryNode;
using Arcs = std::set<std::pair<int, int>>;

// A class with three features, 60 records.
QNL_dataset ClassData() {
    QNL_network truth;
    const int c = AddBinaryNode(truth, "C", {}, {0.4});
    AddBinaryNode(truth, "A", {c}, {0.9, 0.2});
    AddBinaryNode(truth, "B", {c}, {0.7, 0.3});
    AddBinaryNode(truth, "D", {c}, {0.2, 0.6});
    return quarn_test::SampleDataSet(truth, learning_test::Handles(truth), 60, 0.0, 3);
}

std::unique_ptr<QNL_learnModel> Model(const QNL_dataset& data, int type, int classIndex) {
    auto engine = std::make_unique<QNL_learnNetwork>();
    EXPECT_TRUE(engine->ImportDataset(data));
    auto model = std::make_unique<QNL_learnModel>();
    model->SetNetwork(std::move(engine));
    model->SetIntOption("model_type", type);
    if (classIndex >= 0) model->SetClassIndex(classIndex);
    return model;
}

TEST(LearnModelEvaluation, FixedStructuresOfModelTypesThreeAndFour) {
    const QNL_dataset data = ClassData();
    const struct {
        int type, classIndex, result;
        Arcs arcs;
    } cases[] = {
        {3, 0, 0, {{0, 1}, {0, 2}, {0, 3}}},
        {3, 2, 0, {{2, 0}, {2, 1}, {2, 3}}},
        {3, -1, -1, {}},
        {4, -1, 0, {{0, 2}, {1, 2}}},
        {5, 0, -567, {}},
    };
    for (const auto& c : cases) {
        auto model = Model(data, c.type, c.classIndex);
        EXPECT_EQ(model->Learn(), c.result) << c.type;
        EXPECT_EQ(learning_test::ArcsOf(*model->GetNetwork()), c.arcs) << c.type;
        if (c.result == 0) {
            EXPECT_EQ(model->Learn(), 0) << "learned again, type " << c.type;
        }
    }
}

TEST(LearnModelEvaluation, RecordsAreFiledByTheirClass) {
    const QNL_dataset data = ClassData();
    auto unclassed = Model(data, 1, -1);
    EXPECT_EQ(unclassed->TestRecord({0, 0, 0, 0}), -567);
    auto model = Model(data, 1, 0);
    ASSERT_EQ(model->Learn(), 0);
    EXPECT_EQ(model->SetPositiveState(2), -2);
    ASSERT_EQ(model->SetPositiveState(1), 0);
    EXPECT_EQ(model->TestRecord({}), -2);
    const std::vector<int> records[] = {{1, 0, 1, 1}, {0, 1, 0, 0}, {0, 1, 1, 0}};
    for (const auto& record : records)
        ASSERT_EQ(model->TestRecord(record), 0);
    ASSERT_EQ(model->GetPositiveResults().size(), 1u);
    ASSERT_EQ(model->GetNegativeResults().size(), 2u);
    const std::vector<double> posterior = model->ClassPosterior(records[0]);
    const auto& filed = model->GetPositiveResults()[0];
    EXPECT_DOUBLE_EQ(filed.score, posterior[1]);
    EXPECT_EQ(filed.predicted, posterior[1] > posterior[0] ? 1 : 0);
    EXPECT_DOUBLE_EQ(filed.weighted, 1.0);
    model->SetStateWeights({2.0, 0.0});
    ASSERT_EQ(model->TestRecord(records[0]), 0);
    EXPECT_DOUBLE_EQ(model->GetPositiveResults()[1].weighted, 2.0 * posterior[0]);
}

TEST(LearnModelEvaluation, FoldsAndSelectionsTestEachRecordOnParametersLearnedWithoutIt) {
    const QNL_dataset data = ClassData();
    auto model = Model(data, 1, 0);
    for (const int folds : {0, 1, 61})
        EXPECT_EQ(model->CrossValidate(folds), -2) << folds;
    ASSERT_EQ(model->CrossValidate(6), 0);
    EXPECT_EQ(model->GetPositiveResults().size() + model->GetNegativeResults().size(), 60u);
    EXPECT_TRUE(model->GetNetwork()->GetTrainingMask().empty());

    // Trained on the first 40 records, tested on the other 20.
    model->ClearTestResults();
    std::vector<char> training(60, 0);
    std::fill(training.begin(), training.begin() + 40, 1);
    ASSERT_EQ(model->TrainAndTest(&training, nullptr), 0);
    EXPECT_EQ(model->GetPositiveResults().size() + model->GetNegativeResults().size(), 20u);
    const QNL_learnNode& klass = *model->GetNetwork()->GetNode(0);
    EXPECT_DOUBLE_EQ(klass.GetCounts().RowSum(0), 40.0);
    std::vector<char> wrong(7, 1);
    EXPECT_EQ(model->TrainAndTest(&wrong, nullptr), -2);
}

// A record without a class says nothing about the classifier, however it is tested.
TEST(LearnModelEvaluation, RecordsWithoutAClassAreFiledNowhere) {
    // Eight records, the class (column 0) of the seventh unknown; four of the positive state.
    const std::vector<int> klass = {1, 0, 1, 0, 1, 0, -1, 1};
    const QNL_dataset data = learning_test::IntColumns({klass, {1, 0, 1, 1, 0, 0, 1, 1}});
    const std::size_t positive = std::count(klass.begin(), klass.end(), 1);
    const std::size_t negative = std::count(klass.begin(), klass.end(), 0);
    const std::vector<char> all(klass.size(), 1);
    const struct {
        const char* name;
        std::function<int(QNL_learnModel&)> run;
        std::size_t positives, negatives;
    } runs[] = {
        {"2 folds", [](QNL_learnModel& m) { return m.CrossValidate(2); }, positive, negative},
        {"8 folds", [](QNL_learnModel& m) { return m.CrossValidate(8); }, positive, negative},
        {"selections", [&all](QNL_learnModel& m) { return m.TrainAndTest(&all, &all); }, positive,
         negative},
        // Values that name no state of the class count as missing.
        {"single records",
         [](QNL_learnModel& m) {
             if (const int code = m.Learn()) return code;
             for (const int value : {0, 1, QNL_learnNetwork::MISSING, 2, -1, 1})
                 if (const int code = m.TestRecord({value, 1})) return code;
             return 0;
         },
         2, 1},
    };
    for (const auto& c : runs) {
        auto model = Model(data, 1, 0);
        ASSERT_EQ(model->SetPositiveState(1), 0);
        ASSERT_EQ(c.run(*model), 0) << c.name;
        EXPECT_EQ(model->GetPositiveResults().size(), c.positives) << c.name;
        EXPECT_EQ(model->GetNegativeResults().size(), c.negatives) << c.name;
    }
}

} // namespace
