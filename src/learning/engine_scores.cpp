// Counts, prior counts, family scores and MAP estimates of the engine's nodes, and the
// network score built from them.

#include "learning/engine_network.h"
#include "learning/statistics.h"
#include "model/error_handler.h"
#include "model/network.h"

#include <algorithm>
#include <cmath>
#include <new>

using namespace QNL_learnOption;

namespace {

constexpr double kNoScore = QNL_learnNetwork::NO_SCORE;

enum ScoreKind { BAYESIAN = 0, K2 = 3, PENALIZED = 4 };

int LogFailure(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, "learning: " + message);
}

} // namespace

// ---- tables ----

int QNL_learnTable::Shape(const std::vector<int>& sizes) {
    std::int64_t cells = 1;
    for (const int size : sizes) {
        if (size < 1) return -1;
        cells *= size;
        if (cells > QNL_network::MAX_TABLE_CELLS) return -42;
    }
    QNL_Dmatrix fresh;
    try {
        if (fresh.Setup(sizes.data(), static_cast<int>(sizes.size())) != 0) return -42;
        rowSums.assign(static_cast<std::size_t>(cells / sizes.back()), 0.0);
    } catch (const std::bad_alloc&) {
        return -42;
    }
    matrix = std::move(fresh);
    states = sizes.back();
    rows = static_cast<int>(cells / states);
    Fill(0.0);
    return 0;
}

void QNL_learnTable::Fill(double value) {
    if (matrix.GetSize() > 0) matrix.FillWith(value);
    std::fill(rowSums.begin(), rowSums.end(), static_cast<double>(states) * value);
}

void QNL_learnTable::RecomputeRowSums() {
    for (int j = 0; j < rows; ++j) {
        const double* row = Row(j);
        double sum = 0.0;
        for (int k = 0; k < states; ++k)
            sum += row[k];
        rowSums[static_cast<std::size_t>(j)] = sum;
    }
}

// ---- the node ----

QNL_learnNode::QNL_learnNode(QNL_learnNetwork& owner, std::string nodeName)
    : network(&owner), name(std::move(nodeName)) {
    // Inside the class the bare names are the node's own parameter indices, not the option
    // indices; a block too small to hold an option leaves the member's default.
    owner.GetIntOption(QNL_learnOption::DISCRETE_METHOD, discreteMethod);
    owner.GetIntOption(QNL_learnOption::NUM_DISC_LEVELS, discLevels);
    owner.GetDoubleOption(QNL_learnOption::EQUIV_SAMPLE_SIZE, equivalentSampleSize);
}

int QNL_learnNode::GetIntParam(int which, int& out) const {
    if (which == DISCRETE_METHOD)
        out = discreteMethod;
    else if (which == NUM_DISC_LEVELS)
        out = discLevels;
    else
        return -1;
    return 0;
}

int QNL_learnNode::GetDoubleParam(int which, double& out) const {
    if (which != EQUIV_SAMPLE_SIZE) return -1;
    out = equivalentSampleSize;
    return 0;
}

int QNL_learnNode::SetDoubleParam(int which, double value) {
    // A negative sample size would make negative prior counts.
    if (which != EQUIV_SAMPLE_SIZE || !(value >= 0.0)) return -1;
    equivalentSampleSize = value;
    ScoresChanged();
    network->InvalidateCaches();
    return 0;
}

bool QNL_learnNode::HasParent(int node) const {
    return std::find(parents.begin(), parents.end(), node) != parents.end();
}

void QNL_learnNode::SetDiscreteData(std::vector<std::string> stateNames,
                                    QNL_dataColumn<int> column) {
    states = std::move(stateNames);
    discrete = std::move(column);
    flags |= HAS_DISCRETE;
    // Children's tables have a dimension of this node's states.
    for (const int child : children)
        network->nodes[static_cast<std::size_t>(child)]->ParentsChanged();
    ParentsChanged();
    network->InvalidateCaches();
}

void QNL_learnNode::SetContinuousData(QNL_dataColumn<double> column) {
    continuous = std::move(column);
    flags |= HAS_CONTINUOUS;
    ScoresChanged();
    network->InvalidateCaches();
}

bool QNL_learnNode::IsScoredAsDiscrete() const {
    const bool preferContinuous = network->options.GetBool(PREFER_CONT_DATA);
    const bool hasDiscrete = (flags & HAS_DISCRETE) != 0;
    const bool hasContinuous = (flags & HAS_CONTINUOUS) != 0;
    if (preferContinuous) return !hasContinuous && hasDiscrete;
    return hasDiscrete || !hasContinuous;
}

void QNL_learnNode::NodeAdded() {
    for (auto* row : {&forced, &forbidden, &earlier, &later})
        row->push_back(0);
    structurePriorValid = false;
}

void QNL_learnNode::NodeRemoved(int removed) {
    for (auto* row : {&forced, &forbidden, &earlier, &later})
        row->erase(row->begin() + removed);
    for (auto* list : {&parents, &children})
        for (int& k : *list)
            if (k > removed) --k;
    structurePriorValid = false;
}

void QNL_learnNode::ParentsChanged() {
    shapeValid = false;
    countsValid = false;
    probabilitiesValid = false;
    ScoresChanged();
}

int QNL_learnNode::ShapeTables() {
    if (shapeValid) return 0;
    std::vector<int> sizes;
    for (const int p : parents) {
        const QNL_learnNode& parent = *network->nodes[static_cast<std::size_t>(p)];
        if (parent.states.empty())
            return LogFailure(-1, "node " + name + " has the parent " + parent.name +
                                      " without discrete states");
        sizes.push_back(parent.GetNumberOfStates());
    }
    if (states.empty()) return LogFailure(-1, "node " + name + " has no discrete states");
    sizes.push_back(GetNumberOfStates());
    int code = counts.Shape(sizes);
    if (code == 0) code = priors.Shape(sizes);
    if (code == 0) code = probabilities.Shape(sizes);
    if (code == -42) {
        std::int64_t cells = 1;
        for (const int size : sizes)
            cells *= size;
        return LogFailure(-42, "the table of node " + name + " would have " +
                                   std::to_string(cells) + " cells, more than the engine makes");
    }
    if (code != 0) return LogFailure(code, "node " + name + " has a state count below 1");
    shapeValid = true;
    return 0;
}

int QNL_learnNode::Counts() {
    if (countsValid) return 0;
    if (const int code = ShapeTables()) return code;
    const int records = discrete.Size();
    // Members in table order: the parents, then the node itself, fastest.
    std::vector<const int*> columns;
    std::vector<unsigned> sizes;
    std::vector<std::int64_t> strides(parents.size() + 1);
    for (const int p : parents) {
        const QNL_learnNode& parent = *network->nodes[static_cast<std::size_t>(p)];
        if (parent.discrete.Size() != records)
            return LogFailure(-1, "the data of node " + parent.name + " and node " + name +
                                      " differ in length");
        columns.push_back(parent.discrete.Data());
        sizes.push_back(static_cast<unsigned>(parent.GetNumberOfStates()));
    }
    columns.push_back(discrete.Data());
    sizes.push_back(static_cast<unsigned>(GetNumberOfStates()));
    std::int64_t stride = 1;
    for (std::size_t m = columns.size(); m-- > 0;) {
        strides[m] = stride;
        stride *= sizes[m];
    }
    counts.Fill(0.0);
    double* cells = counts.Cells();
    const std::size_t members = columns.size();
    const bool exclusions = discrete.HasExclusions();
    for (int r = 0; r < records; ++r) {
        if (exclusions && discrete.IsExcluded(r)) continue;
        std::int64_t at = 0;
        std::size_t m = 0;
        for (; m < members; ++m) {
            // A missing value (negative) fails the unsigned test too.
            const auto v = static_cast<unsigned>(columns[m][r]);
            if (v >= sizes[m]) break;
            at += v * strides[m];
        }
        if (m == members) cells[at] += 1.0;
    }
    counts.RecomputeRowSums();
    countsValid = true;
    return 0;
}

int QNL_learnNode::PriorCounts() {
    if (priorsValid) return 0;
    if (const int code = ShapeTables()) return code;
    const int method = network->options.GetInt(PARAM_PRIORS_METHOD);
    const double q = priors.Rows();
    const double r = priors.States();
    if (method == 1)
        equivalentSampleSize = network->options.GetDouble(QNL_learnOption::EQUIV_SAMPLE_SIZE);
    // A negative or unbounded sample size makes prior counts that no table can come from:
    // negative or not-a-number probabilities.
    const bool weighted = method >= 0 && method <= 5 && method != 2;
    if (weighted && !(equivalentSampleSize >= 0.0 && std::isfinite(equivalentSampleSize)))
        return LogFailure(-1, "node " + name + " has the equivalent sample size " +
                                  std::to_string(equivalentSampleSize) +
                                  ", which is not a finite number of at least 0");
    int code = 0;
    switch (method) {
    case 0:
        priors.Fill(equivalentSampleSize / (r * q));
        break;
    case 1:
        code = PriorCountsFromNetwork(true, equivalentSampleSize);
        break;
    case 2:
        priors.Fill(1.0);
        break;
    case 3:
        priors.Fill(equivalentSampleSize / r);
        break;
    case 4:
        code = PriorCountsFromNetwork(true, equivalentSampleSize);
        break;
    case 5:
        code = PriorCountsFromNetwork(false, equivalentSampleSize);
        break;
    default:
        // The method number itself would read as success when positive and as another
        // failure (even a cancel) when negative.
        return LogFailure(-1, "unknown PARAM_PRIORS_METHOD " + std::to_string(method));
    }
    if (code != 0) return code;
    priors.RecomputeRowSums();
    priorsValid = true;
    return 0;
}

double QNL_learnNode::ScoreWith(int kind) {
    if (scoreValid && scoreKind == kind) return score;
    if (!IsScoredAsDiscrete() || Counts() != 0) return kNoScore;
    if (kind == BAYESIAN && PriorCounts() != 0) return kNoScore;
    const int q = counts.Rows();
    const int r = counts.States();
    double sum = 0.0;
    if (kind == BAYESIAN) {
        for (int j = 0; j < q; ++j) {
            const double* n = counts.Row(j);
            const double* alpha = priors.Row(j);
            for (int k = 0; k < r; ++k)
                if (alpha[k] + n[k] != 0.0)
                    sum += QNL_statistics::LogGamma(alpha[k] + n[k]) -
                           QNL_statistics::LogGamma(alpha[k]);
            const double nj = counts.RowSum(j);
            const double aj = priors.RowSum(j);
            if (nj + aj != 0.0)
                sum += QNL_statistics::LogGamma(aj) - QNL_statistics::LogGamma(aj + nj);
        }
    } else if (kind == K2) {
        const double lnGammaR = QNL_statistics::LogGamma(r);
        for (int j = 0; j < q; ++j) {
            const double* n = counts.Row(j);
            sum += lnGammaR - QNL_statistics::LogGamma(counts.RowSum(j) + r);
            for (int k = 0; k < r; ++k)
                sum += QNL_statistics::LogGamma(n[k] + 1.0);
        }
    } else {
        for (int j = 0; j < q; ++j) {
            const double nj = std::trunc(counts.RowSum(j));
            if (nj == 0.0) continue;
            const double* n = counts.Row(j);
            for (int k = 0; k < r; ++k) {
                const double nk = std::trunc(n[k]);
                if (nk != 0.0) sum += nk * (std::log(nk) - std::log(nj));
            }
        }
        // With more nodes than records the difference would turn the penalty into a bonus.
        const double records = network->GetNumberOfRecords();
        const double active = network->GetNumberOfActiveNodes();
        const double logRatio =
            records > 0 && active > 0 ? std::max(0.0, std::log(records) - std::log(active)) : 0.0;
        sum -= 0.5 * (r - 1.0) * q * logRatio;
    }
    if (std::isnan(sum)) {
        // Zero prior counts where records are: the Dirichlet prior has no density there.
        LogFailure(-1, "node " + name + " has prior counts of 0 where records are");
        return kNoScore;
    }
    score = sum;
    scoreKind = kind;
    scoreValid = true;
    return sum;
}

double QNL_learnNode::BayesianScore() {
    return ScoreWith(BAYESIAN);
}

double QNL_learnNode::K2Score() {
    return ScoreWith(K2);
}

double QNL_learnNode::PenalizedLogLikelihood() {
    return ScoreWith(PENALIZED);
}

double QNL_learnNode::FamilyScore(int criterion) {
    switch (criterion) {
    case 0:
        return BayesianScore();
    case 2:
        return IsScoredAsDiscrete() ? -1.0 : kNoScore;
    case 3:
        return K2Score();
    case 4:
        return PenalizedLogLikelihood();
    default:
        return kNoScore;
    }
}

double QNL_learnNode::StructureLogPrior() {
    if (!network->HasArcProbabilities()) return 0.0;
    if (structurePriorValid) return structurePrior;
    double sum = 0.0;
    for (int k = 0; k < network->GetNumberOfNodes(); ++k)
        if (k != index) sum += std::log(1.0 - network->GetArcProbability(index, k));
    for (const int c : children) {
        const double p = network->GetArcProbability(index, c);
        sum += std::log(p) - std::log(1.0 - p);
    }
    structurePrior = sum;
    structurePriorValid = true;
    return sum;
}

int QNL_learnNode::EstimateParameters() {
    if (!IsScoredAsDiscrete()) return 0; // a continuous node has no table
    if (const int code = Counts()) return code;
    if (const int code = PriorCounts()) return code;
    const double minimum = network->options.GetInt(MIN_RECORDS_PER_CONFIGURATION);
    const int r = probabilities.States();
    for (int j = 0; j < probabilities.Rows(); ++j) {
        const bool ignored = counts.RowSum(j) < minimum;
        const double* n = counts.Row(j);
        const double* alpha = priors.Row(j);
        const double total = priors.RowSum(j) + (ignored ? 0.0 : counts.RowSum(j));
        double* cell = probabilities.Row(j);
        for (int k = 0; k < r; ++k)
            // Without prior counts and records the column has nothing to go on: uniform.
            cell[k] = total > 0.0 ? (alpha[k] + (ignored ? 0.0 : n[k])) / total : 1.0 / r;
    }
    probabilities.RecomputeRowSums();
    probabilitiesValid = true;
    return 0;
}

int QNL_learnNode::RandomizeParameters() {
    if (!IsScoredAsDiscrete()) return 0;
    if (const int code = ShapeTables()) return code;
    const int r = probabilities.States();
    for (int j = 0; j < probabilities.Rows(); ++j) {
        double* cell = probabilities.Row(j);
        double sum = 0.0;
        for (int k = 0; k < r; ++k)
            sum += cell[k] = QNL_statistics::UniformRandom(network->RandomSeed());
        for (int k = 0; k < r; ++k)
            cell[k] /= sum;
    }
    probabilities.RecomputeRowSums();
    probabilitiesValid = true;
    return 0;
}

// ---- the network's scores ----

int QNL_learnNetwork::GetNumberOfRecords() const {
    if (nodes.empty()) return 0;
    const QNL_learnNode& first = *nodes.front();
    return first.discrete.Size() > 0 ? first.discrete.Size() : first.continuous.Size();
}

int QNL_learnNetwork::SetArcProbabilities(const std::vector<double>& table) {
    const std::size_t n = nodes.size();
    if (!table.empty() && table.size() != n * n) return -2;
    for (const double p : table)
        if (!(p > 0.0 && p < 1.0)) return -2;
    arcProbabilities = table;
    for (auto& node : nodes)
        node->structurePriorValid = false;
    InvalidateCaches();
    return 0;
}

double QNL_learnNetwork::GetArcProbability(int parent, int child) const {
    if (!IsNode(parent) || !IsNode(child) || arcProbabilities.empty()) return 0.0;
    return arcProbabilities[static_cast<std::size_t>(parent) * nodes.size() +
                            static_cast<std::size_t>(child)];
}

namespace {

// The listed nodes, or every active one; false for an index that names no node.
bool Members(QNL_learnNetwork& net, const std::vector<int>* list, std::vector<int>& out) {
    out.clear();
    if (list != nullptr) {
        for (const int i : *list)
            if (net.GetNode(i) == nullptr) return false;
        out = *list;
        return true;
    }
    for (int i = -1; net.NextNode(i) == 0;)
        out.push_back(i);
    return true;
}

} // namespace

double QNL_learnNetwork::Score(const std::vector<int>* list) {
    if (list == nullptr && structurePriorValid) return structurePrior;
    std::vector<int> members;
    if (!Members(*this, list, members)) return kNoScore;
    double sum = 0.0;
    for (const int i : members)
        sum += nodes[static_cast<std::size_t>(i)]->StructureLogPrior();
    if (list == nullptr) {
        structurePrior = sum;
        structurePriorValid = true;
    }
    return sum;
}

double QNL_learnNetwork::ScoreNetwork(const std::vector<int>* list, bool useIncompleteMethod) {
    if (list == nullptr && networkScoreValid) return networkScore;
    std::vector<int> members;
    if (!Members(*this, list, members)) {
        LogFailure(-2, "a node to score is out of range");
        return kNoScore;
    }
    const int criterion = options.GetInt(CRITERION);
    double sum = 0.0;
    for (const int i : members) {
        const double family = nodes[static_cast<std::size_t>(i)]->FamilyScore(criterion);
        // One family without a score leaves the network without one.
        if (family == kNoScore) return kNoScore;
        sum += family;
    }
    if (useIncompleteMethod && dataIncomplete) {
        const int method = options.GetInt(INCOMPLETE_DATA_METHOD);
        if (method == 0) return -1.0;
        if (method == 1) {
            double whole = 0.0;
            if (RunEM(whole) != 0) return kNoScore;
            sum = list != nullptr ? ExpectedCountScore(list) : whole;
            if (sum == kNoScore) return kNoScore;
        }
    }
    sum += Score(list);
    if (list == nullptr) {
        networkScore = sum;
        networkScoreValid = true;
    }
    return sum;
}

int QNL_learnNetwork::RandomizeParameters(const std::vector<int>* list) {
    std::vector<int> members;
    if (!Members(*this, list, members)) return -2;
    for (const int i : members)
        if (const int code = nodes[static_cast<std::size_t>(i)]->RandomizeParameters()) return code;
    return 0;
}
