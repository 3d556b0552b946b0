// The learning model with its option registry and the greedy thick-thinning and naive Bayes
// front ends that build it from a data set.

#include "learning/learn_model.h"

#include "learning/dataset.h"
#include "model/error_handler.h"
#include "model/network.h"

#include <algorithm>

namespace {

int Fail(const std::string& who, const std::string& message) {
    QNL_errorHandler::Instance().LogError(-1, who + ": " + message);
    return -1;
}

// The engine network of the data with the host's priors; null after a failure (logged).
std::unique_ptr<QNL_learnNetwork> Prepare(const QNL_dataset& data, int priorsMethod,
                                          double netWeight, const std::string& who) {
    if (data.getNumberOfVariables() == 0) {
        Fail(who, "the data set has no variables");
        return nullptr;
    }
    if (data.getNumberOfRecords() == 0) {
        Fail(who, "the data set has no records");
        return nullptr;
    }
    // Continuous columns would be scored as nothing; the engine learns discrete tables only.
    for (int v = 0; v < data.getNumberOfVariables(); ++v)
        if (!data.isDiscrete(v)) {
            Fail(who, "column " + data.getVariableId(v) +
                          " is continuous; only discrete columns can be learned");
            return nullptr;
        }
    if (priorsMethod == 1 && !(netWeight >= 0.0)) {
        Fail(who, "the network weight " + std::to_string(netWeight) + " is negative");
        return nullptr;
    }
    auto network = std::make_unique<QNL_learnNetwork>();
    if (!network->ImportDataset(data)) {
        Fail(who, "the data set cannot be imported");
        return nullptr;
    }
    if (priorsMethod == 0) {
        network->SetIntOption("PARAM_PRIORS_METHOD", 2);
    } else if (priorsMethod == 1) {
        network->SetIntOption("PARAM_PRIORS_METHOD", 0);
        for (int i = -1; network->NextNode(i) == 0;)
            network->GetNode(i)->SetDoubleParam(QNL_learnNode::EQUIV_SAMPLE_SIZE, netWeight);
    }
    return network;
}

// Learns with the model and replaces `out` by the result only when everything succeeded.
int Finish(QNL_learnModel& model, QNL_network& out, const std::string& who) {
    if (const int code = model.Learn())
        return Fail(who, "learning failed with code " + std::to_string(code));
    QNL_network learned;
    if (const int code = model.GetNetwork()->CopyToNetwork(learned))
        return Fail(who, "the learned network cannot be built (code " + std::to_string(code) + ")");
    if (const int code = out.Copy(learned))
        return Fail(who,
                    "the learned network cannot be copied (code " + std::to_string(code) + ")");
    return 0;
}

} // namespace

// ---- the model ----

QNL_learnModel::QNL_learnModel() {
    AddIntOption("model_type", 0, "e.g., naive network or thick-thin");
}

bool QNL_learnModel::IsRegistered(const std::string& name) const {
    return ints.count(name) != 0 || doubles.count(name) != 0 || strings.count(name) != 0;
}

int QNL_learnModel::AddIntOption(const std::string& name, int value,
                                 const std::string& description) {
    if (IsRegistered(name)) return -1;
    ints.emplace(name, Option<int>{value, description, false});
    return 0;
}

int QNL_learnModel::AddDoubleOption(const std::string& name, double value,
                                    const std::string& description) {
    if (IsRegistered(name)) return -1;
    doubles.emplace(name, Option<double>{value, description, false});
    return 0;
}

int QNL_learnModel::AddStringOption(const std::string& name, const std::string& value,
                                    const std::string& description) {
    if (IsRegistered(name)) return -1;
    strings.emplace(name, Option<std::string>{value, description, false});
    return 0;
}

int QNL_learnModel::GetIntOption(const std::string& name, int& out) const {
    const auto at = ints.find(name);
    if (at == ints.end()) return -2;
    out = at->second.value;
    return 0;
}

int QNL_learnModel::SetIntOption(const std::string& name, int value) {
    const auto at = ints.find(name);
    if (at == ints.end()) return -2;
    at->second.value = value;
    at->second.set = true;
    return 0;
}

void QNL_learnModel::SetNetwork(std::unique_ptr<QNL_learnNetwork> value) {
    network = std::move(value);
    classIndex = -1;
}

int QNL_learnModel::SetClassIndex(int index) {
    if (network == nullptr || network->GetNode(index) == nullptr) return -2;
    classIndex = index;
    return 0;
}

int QNL_learnModel::SetBackgroundKnowledge(const std::vector<std::pair<int, int>>& forced,
                                           const std::vector<std::pair<int, int>>& forbidden,
                                           const std::vector<std::pair<int, int>>& tiers,
                                           const std::string& who) {
    if (network == nullptr) return Fail(who, "there is no network for the background knowledge");
    const int n = network->GetNumberOfNodes();
    auto arc = [](const std::pair<int, int>& a) {
        return "(" + std::to_string(a.first) + ", " + std::to_string(a.second) + ")";
    };
    auto joins = [n](const std::pair<int, int>& a) {
        return a.first >= 0 && a.first < n && a.second >= 0 && a.second < n && a.first != a.second;
    };
    for (const auto& a : forced) {
        if (!joins(a))
            return Fail(who,
                        "forced arc " + arc(a) + " does not join two variables of the data set");
        if (!network->GetNode(a.second)->IsForcedParent(a.first) &&
            network->SetForcedArc(a.first, a.second) != 0)
            return Fail(who,
                        "forced arc " + arc(a) + " contradicts the other background knowledge");
    }
    for (const auto& a : forbidden) {
        if (!joins(a))
            return Fail(who,
                        "forbidden arc " + arc(a) + " does not join two variables of the data set");
        if (!network->GetNode(a.second)->IsForbiddenParent(a.first) &&
            network->SetForbiddenArc(a.first, a.second) != 0)
            return Fail(who, "forbidden arc " + arc(a) + " is forced as well");
    }
    // Tiers by ascending tier value, every tier before each later one.
    std::map<int, std::vector<int>> byTier;
    for (const auto& [variable, tier] : tiers) {
        if (variable < 0 || variable >= n)
            return Fail(who, "tier entry (" + std::to_string(variable) + ", " +
                                 std::to_string(tier) +
                                 ") does not name a variable of the data set");
        byTier[tier].push_back(variable);
    }
    std::vector<std::vector<int>> ordered;
    for (auto& entry : byTier)
        ordered.push_back(std::move(entry.second));
    if (network->SetTierOrderFromTiers(ordered) != 0)
        return Fail(who, "the tiers contradict the forced arcs or place a variable in two tiers");
    return 0;
}

int QNL_learnModel::Learn() {
    if (network == nullptr) return -567;
    int type = -1;
    GetIntOption("model_type", type);
    // The models that search refuse a cyclic start before they set any knowledge of their own.
    if ((type == 0 || type == 2 || type == 3) && network->CheckAcyclic() != 0) return -1;
    switch (type) {
    case 0:
        return LearnGreedyThickThinning();
    case 1:
        return LearnNaiveBayes();
    case 2:
        return LearnFeatureSelection();
    case 3:
        return LearnClassRooted();
    case 4:
        return LearnFixedThreeNodes();
    default:
        return -567;
    }
}

int QNL_learnModel::LearnGreedyThickThinning() {
    int maxParents = -1;
    GetIntOption("MAX_NUM_PA_GS", maxParents);
    if (const int code = network->SetMaxParents(maxParents)) return code;
    if (const int code = network->SearchStructure(-1)) return code;
    return network->LearnParameters();
}

int QNL_learnModel::LearnNaiveBayes() {
    if (network->GetNode(classIndex) == nullptr) return -1;
    for (int i = -1; network->NextNode(i) == 0;)
        if (i != classIndex && network->AddArc(classIndex, i) < 0) return -1;
    return network->LearnParameters();
}

int QNL_learnModel::LearnFeatureSelection() {
    if (network->GetNode(classIndex) == nullptr) return -1;
    std::vector<int> features;
    for (int i = -1; network->NextNode(i) == 0;)
        if (i != classIndex) features.push_back(i);
    if (network->SetTiers({{classIndex}, features}) != 0) return -1;
    // Under these tiers the only arcs are from the class; the search keeps those that gain.
    if (const int code = network->SetMaxParents(-1)) return code;
    if (const int code = network->SearchStructure(-1)) return code;
    return network->LearnParameters();
}

int QNL_learnModel::SaveNetwork(const std::string& fileName) {
    if (network == nullptr) return -567;
    QNL_network target;
    if (const int code = network->CopyToNetwork(target)) return code;
    return target.WriteFile(fileName.c_str(), 0, 0);
}

const std::vector<double>& QNL_learnModel::ClassPosterior(const std::vector<int>& record) {
    posterior.clear();
    const QNL_learnNode* klass = network != nullptr ? network->GetNode(classIndex) : nullptr;
    if (klass == nullptr || static_cast<int>(record.size()) < network->GetNumberOfNodes())
        return posterior;
    std::vector<int> states(record);
    for (int i = -1; network->NextNode(i) == 0;) {
        const QNL_learnNode& node = *network->GetNode(i);
        if (!node.HasProbabilities() ||
            (i != classIndex && (states[static_cast<std::size_t>(i)] < 0 ||
                                 states[static_cast<std::size_t>(i)] >= node.GetNumberOfStates())))
            return posterior;
    }
    double total = 0.0;
    for (int k = 0; k < klass->GetNumberOfStates(); ++k) {
        states[static_cast<std::size_t>(classIndex)] = k;
        double joint = 1.0;
        for (int i = -1; network->NextNode(i) == 0;) {
            const QNL_learnNode& node = *network->GetNode(i);
            int row = 0;
            for (const int p : node.GetParents())
                row = row * network->GetNode(p)->GetNumberOfStates() +
                      states[static_cast<std::size_t>(p)];
            joint *= node.GetProbabilities().Row(row)[states[static_cast<std::size_t>(i)]];
        }
        posterior.push_back(joint);
        total += joint;
    }
    for (double& p : posterior)
        p = total > 0.0 ? p / total : 1.0 / static_cast<double>(posterior.size());
    return posterior;
}

// ---- the front ends ----

int QNL_greedyThickThinning::Learn(const QNL_dataset& data, QNL_network& out) const {
    std::unique_ptr<QNL_learnNetwork> engine = Prepare(data, PriorsMethod, NetWeight, "gtt");
    if (engine == nullptr) return -1;
    QNL_learnModel model;
    model.SetNetwork(std::move(engine));
    model.AddIntOption("MAX_NUM_PA_GS", MaxParents, "maximum number of parents");
    model.SetIntOption("model_type", 0);
    if (model.SetBackgroundKnowledge(forcedArcs, forbiddenArcs, tiers, "gtt") != 0) return -1;
    return Finish(model, out, "gtt");
}

int QNL_naiveBayes::Learn(const QNL_dataset& data, QNL_network& out) const {
    std::unique_ptr<QNL_learnNetwork> engine = Prepare(data, PriorsMethod, NetWeight, "nb");
    if (engine == nullptr) return -1;
    const int classIndex = engine->FindNode(ClassVariableId);
    if (classIndex < 0) return Fail("nb", "unknown class variable " + ClassVariableId);
    QNL_learnModel model;
    model.SetNetwork(std::move(engine));
    model.SetIntOption("model_type", FeatureSelection ? 2 : 1);
    if (model.SetClassIndex(classIndex) != 0) return -1;
    return Finish(model, out, "nb");
}
