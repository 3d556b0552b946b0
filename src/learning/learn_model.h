#pragma once

#include "learning/engine_network.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QNL_dataset;
class QNL_network;

// A structure-learning model of the engine: it owns the working engine network, a registry of
// named options ("model_type" always, others as a front end registers them) and the class
// index, and learns by the algorithm "model_type" names: 0 greedy thick thinning, 1 naive
// Bayes, 2 naive Bayes with feature selection, 3 the class as the one parent of every other
// node, 4 the fixed structure 0 -> 2 <- 1.
class QNL_learnModel {
public:
    QNL_learnModel();

    // A new named option; -1 when the name is registered already (in any of the three maps).
    int AddIntOption(const std::string& name, int value, const std::string& description);
    int AddDoubleOption(const std::string& name, double value, const std::string& description);
    int AddStringOption(const std::string& name, const std::string& value,
                        const std::string& description);
    // The value of a registered option; -2 when absent.
    int GetIntOption(const std::string& name, int& out) const;
    // Replaces the value of a registered int option ("model_type" among them); -2 when absent.
    int SetIntOption(const std::string& name, int value);

    // Takes over the network to learn in.
    void SetNetwork(std::unique_ptr<QNL_learnNetwork> network);
    QNL_learnNetwork* GetNetwork() const { return network.get(); }
    // -2 for an index that names no node of the network.
    int SetClassIndex(int index);
    int GetClassIndex() const { return classIndex; }

    // Forced and forbidden arcs as (parent, child) node indices, tiers as (node, tier) pairs.
    // 0, or -1 with a message (prefixed by `who`) naming the first piece that does not fit.
    int SetBackgroundKnowledge(const std::vector<std::pair<int, int>>& forced,
                               const std::vector<std::pair<int, int>>& forbidden,
                               const std::vector<std::pair<int, int>>& tiers,
                               const std::string& who);

    // 0 or the failure code; -567 for a model type without an algorithm.
    int Learn();
    // The learned network written to a file, the format chosen by its extension.
    int SaveNetwork(const std::string& fileName);
    // P(class | the other nodes) for a record of state indices, one per node; empty when the
    // model has no class or no learned tables, or the record does not fit. Kept as the last
    // class posterior.
    const std::vector<double>& ClassPosterior(const std::vector<int>& record);

    // Evaluation against the records of the network. A test result holds the record's
    // posterior of the positive class state, its most probable class state, and the sum of
    // its posterior weighted by the class states' weights (1.0 each unless set).
    struct TestResult {
        double score;
        int predicted;
        double weighted;
    };
    int SetPositiveState(int state);
    int SetStateWeights(std::vector<double> weights);
    // Files a result directly into the positive or the negative collection.
    void AddTestResult(double score, bool positive, int predicted = -1, double weighted = 1.0);
    // Classifies a record of state indices (one per node) and files its result by whether
    // its class is the positive state; a record whose class is missing is filed nowhere.
    // -567 without a class, -2 for a record too short to hold the class, -1 when it cannot
    // be classified (logged).
    int TestRecord(const std::vector<int>& record);
    // TestRecord on every testing record of the network; the first non-zero result.
    int TestRecords();
    // k-fold cross-validation: the records dealt into k folds in turn, and for each fold the
    // model learned from the others and tested on it. -567 when the network's training and
    // testing masks disagree in size, -2 when k is below 2 or above the record count.
    int CrossValidate(int folds);
    // Learns from the training selection (all records when none) and tests on the testing
    // selection (the records not selected for training when none); 0/1 per record.
    int TrainAndTest(const std::vector<char>* training, const std::vector<char>* testing);
    const std::vector<TestResult>& GetPositiveResults() const { return positives; }
    const std::vector<TestResult>& GetNegativeResults() const { return negatives; }
    void ClearTestResults();

private:
    template <typename T> struct Option {
        T value;
        std::string description;
        bool set;
    };
    bool IsRegistered(const std::string& name) const;
    int LearnGreedyThickThinning();
    int LearnNaiveBayes();
    int LearnFeatureSelection();
    int LearnClassRooted();
    int LearnFixedThreeNodes();

    int classIndex = -1;
    std::map<std::string, Option<int>> ints;
    std::map<std::string, Option<double>> doubles;
    std::map<std::string, Option<std::string>> strings;
    std::vector<double> posterior;
    int positiveState = 0;
    std::vector<double> stateWeights;
    std::vector<TestResult> positives;
    std::vector<TestResult> negatives;
    std::unique_ptr<QNL_learnNetwork> network;
};

// Greedy thick thinning from a data set: the parameter block the host fills, and the run.
class QNL_greedyThickThinning {
public:
    int PriorsMethod = 0;
    int MaxParents = 5;
    double NetWeight = 1.0;
    std::vector<std::pair<int, int>> forcedArcs;
    std::vector<std::pair<int, int>> forbiddenArcs;
    std::vector<std::pair<int, int>> tiers;

    // 0, or -1 with a message beginning "gtt: "; `network` is replaced only on success.
    int Learn(const QNL_dataset& data, QNL_network& network) const;
};

// Naive Bayes from a data set: a class variable with every other variable as its child, or,
// with feature selection, only those children that improve the score.
class QNL_naiveBayes {
public:
    int PriorsMethod = 0;
    bool FeatureSelection = false;
    std::string ClassVariableId = "class";
    double NetWeight = 1.0;

    // 0, or -1 with a message beginning "nb: "; `network` is replaced only on success.
    int Learn(const QNL_dataset& data, QNL_network& network) const;
};
