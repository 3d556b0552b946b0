// The learning model's fixed structures (the class as every node's one parent, and the
// three-node model) and its evaluation: class posteriors of records filed by class,
// training and testing record masks, and k-fold cross-validation.

#include "learning/learn_model.h"

#include "model/error_handler.h"

#include <algorithm>

namespace {

int LogFailure(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, "learning: " + message);
}

} // namespace

// ---- record masks of the engine network ----

int QNL_learnNetwork::SetRecordMasks(const std::vector<char>& training,
                                     const std::vector<char>& testing) {
    const auto records = static_cast<std::size_t>(GetNumberOfRecords());
    if ((!training.empty() && training.size() != records) ||
        (!testing.empty() && testing.size() != records))
        return LogFailure(-2, "a record mask does not have one entry per record");
    trainingMask = training;
    testingMask = testing;
    for (auto& node : nodes) {
        for (int r = 0; r < node->discrete.Size(); ++r)
            node->discrete.SetExcluded(r,
                                       !training.empty() && !training[static_cast<std::size_t>(r)]);
        for (int r = 0; r < node->continuous.Size(); ++r)
            node->continuous.SetExcluded(r, !training.empty() &&
                                                !training[static_cast<std::size_t>(r)]);
        // Counts, scores and parameters were made from other records.
        node->ParentsChanged();
    }
    InvalidateCaches();
    return 0;
}

// ---- fixed structures ----

int QNL_learnModel::LearnClassRooted() {
    if (network->GetNode(classIndex) == nullptr) return -1;
    std::vector<int> others;
    for (int i = -1; network->NextNode(i) == 0;)
        if (i != classIndex) others.push_back(i);
    // Marks that hold already (a model learned again) refuse to be set twice; that is fine.
    for (const int i : others)
        network->SetForbiddenArc(classIndex, i);
    network->SetTiers({{classIndex}, others});
    if (const int code = network->SetMaxParents(1)) return code;
    for (const int i : others) {
        network->ClearForbiddenArc(classIndex, i);
        if (network->AddArc(classIndex, i) < 0) return -1;
    }
    return network->LearnParameters();
}

int QNL_learnModel::LearnFixedThreeNodes() {
    if (network->AddArc(0, 2) < 0 || network->AddArc(1, 2) < 0)
        return LogFailure(-1, "the three-node model needs three nodes");
    return network->LearnParameters();
}

// ---- evaluation ----

int QNL_learnModel::SetPositiveState(int state) {
    const QNL_learnNode* klass = network != nullptr ? network->GetNode(classIndex) : nullptr;
    if (state < 0 || (klass != nullptr && state >= klass->GetNumberOfStates())) return -2;
    positiveState = state;
    return 0;
}

int QNL_learnModel::SetStateWeights(std::vector<double> weights) {
    stateWeights = std::move(weights);
    return 0;
}

void QNL_learnModel::AddTestResult(double score, bool positive, int predicted, double weighted) {
    (positive ? positives : negatives).push_back({score, predicted, weighted});
}

void QNL_learnModel::ClearTestResults() {
    positives.clear();
    negatives.clear();
}

int QNL_learnModel::TestRecord(const std::vector<int>& record) {
    if (network == nullptr || network->GetNode(classIndex) == nullptr) return -567;
    if (record.size() <= static_cast<std::size_t>(classIndex)) return -2;
    // A record without a class (missing, or no state of the class) says nothing about the
    // classifier and is filed nowhere.
    const int actual = record[static_cast<std::size_t>(classIndex)];
    if (actual < 0 || actual >= network->GetNode(classIndex)->GetNumberOfStates()) return 0;
    const std::vector<double>& p = ClassPosterior(record);
    if (p.empty())
        return LogFailure(-1, "a record without the learned tables or a state of every "
                              "feature cannot be classified");
    const int predicted = static_cast<int>(std::max_element(p.begin(), p.end()) - p.begin());
    double weighted = 0.0;
    for (std::size_t k = 0; k < p.size(); ++k)
        weighted += (k < stateWeights.size() ? stateWeights[k] : 1.0) * p[k];
    const double score = static_cast<std::size_t>(positiveState) < p.size()
                             ? p[static_cast<std::size_t>(positiveState)]
                             : 0.0;
    AddTestResult(score, actual == positiveState, predicted, weighted);
    return 0;
}

int QNL_learnModel::TestRecords() {
    if (network == nullptr) return -567;
    const int records = network->GetNumberOfRecords();
    const std::vector<char>& testing = network->GetTestingMask();
    std::vector<int> record(static_cast<std::size_t>(network->GetNumberOfNodes()));
    for (int r = 0; r < records; ++r) {
        if (!testing.empty() && !testing[static_cast<std::size_t>(r)]) continue;
        for (int i = 0; i < network->GetNumberOfNodes(); ++i) {
            const QNL_dataColumn<int>& column = network->GetNode(i)->GetDiscreteData();
            record[static_cast<std::size_t>(i)] =
                r < column.Size() ? column[r] : QNL_learnNetwork::MISSING;
        }
        if (const int code = TestRecord(record)) return code;
    }
    return 0;
}

int QNL_learnModel::CrossValidate(int folds) {
    if (network == nullptr) return -567;
    const auto records = static_cast<std::size_t>(network->GetNumberOfRecords());
    const std::size_t trainingSize =
        network->GetTrainingMask().empty() ? records : network->GetTrainingMask().size();
    const std::size_t testingSize =
        network->GetTestingMask().empty() ? records : network->GetTestingMask().size();
    if (trainingSize != testingSize)
        return LogFailure(-567, "the training and testing records of the network disagree");
    // One fold would train on nothing.
    if (folds < 2 || static_cast<std::size_t>(folds) > records)
        return LogFailure(-2, std::to_string(folds) + " folds for " + std::to_string(records) +
                                  " records");
    std::vector<char> training(records);
    std::vector<char> testing(records);
    int result = 0;
    for (int fold = 0; fold < folds && result == 0; ++fold) {
        for (std::size_t r = 0; r < records; ++r) {
            testing[r] = static_cast<int>(r % static_cast<std::size_t>(folds)) == fold;
            training[r] = !testing[r];
        }
        result = network->SetRecordMasks(training, testing);
        if (result == 0) result = Learn();
        if (result == 0) result = TestRecords();
    }
    network->SetRecordMasks({}, {});
    return result;
}

int QNL_learnModel::TrainAndTest(const std::vector<char>* training,
                                 const std::vector<char>* testing) {
    if (network == nullptr) return -567;
    const auto records = static_cast<std::size_t>(network->GetNumberOfRecords());
    std::vector<char> train = training != nullptr ? *training : std::vector<char>(records, 1);
    std::vector<char> test;
    if (testing != nullptr) {
        test = *testing;
    } else if (train.size() == records) {
        test.resize(records);
        for (std::size_t r = 0; r < records; ++r)
            test[r] = !train[r];
    }
    if (const int code = network->SetRecordMasks(train, test)) return code;
    if (const int code = Learn()) return code;
    return TestRecords();
}
