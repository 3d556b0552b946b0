#pragma once

#include "model/dmatrix.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QNL_learnNetwork;
class QNL_learnHandleMap;
class QNL_network;
class QNL_nodeDefinition;

// The values of one variable over the records of the engine's data. Copies share one body
// (copy on write) and each keeps its own set of excluded records, which every loop over the
// column skips.
template <typename T> class QNL_dataColumn {
public:
    QNL_dataColumn() = default;
    explicit QNL_dataColumn(std::vector<T> values)
        : body(std::make_shared<std::vector<T>>(std::move(values))) {}

    int Size() const { return body ? static_cast<int>(body->size()) : 0; }
    bool Empty() const { return Size() == 0; }
    // Unchecked: r must lie in 0..Size()-1.
    T operator[](int r) const { return (*body)[static_cast<std::size_t>(r)]; }
    const T* Data() const { return body ? body->data() : nullptr; }
    // Writes into a body of its own first when the body is shared. -2 for a bad record.
    int Set(int r, T value) {
        if (r < 0 || r >= Size()) return -2;
        if (body.use_count() > 1) body = std::make_shared<std::vector<T>>(*body);
        (*body)[static_cast<std::size_t>(r)] = value;
        return 0;
    }
    bool SharesBodyWith(const QNL_dataColumn& other) const { return body == other.body; }

    bool HasExclusions() const { return excludedCount > 0; }
    bool IsExcluded(int r) const {
        return excludedCount > 0 && excluded[static_cast<std::size_t>(r)];
    }
    // -2 for a bad record.
    int SetExcluded(int r, bool exclude) {
        if (r < 0 || r >= Size()) return -2;
        excluded.resize(static_cast<std::size_t>(Size()), false);
        const auto at = static_cast<std::size_t>(r);
        if (excluded[at] != exclude) excludedCount += exclude ? 1 : -1;
        excluded[at] = exclude;
        return 0;
    }

private:
    std::shared_ptr<std::vector<T>> body;
    std::vector<bool> excluded;
    int excludedCount = 0;
};

// A table over a family: one row per configuration of the parents' states (first parent
// slowest), the node's own states last and fastest, and the sum of every row.
class QNL_learnTable {
public:
    // 0; -1 when a size is below 1; -42 when the cells would pass the largest table the
    // engine makes. The table is left as it was on failure; values start at 0.
    int Shape(const std::vector<int>& sizes);
    bool IsShaped() const { return matrix.GetSize() > 0; }
    int Rows() const { return rows; }
    int States() const { return states; }
    double* Row(int j) { return &matrix.GetItems()[j * states]; }
    const double* Row(int j) const { return &matrix.GetItems()[j * states]; }
    double RowSum(int j) const { return rowSums[static_cast<std::size_t>(j)]; }
    double* Cells() { return &matrix.GetItems()[0]; }
    const QNL_Dmatrix& Matrix() const { return matrix; }
    void Fill(double value);
    void RecomputeRowSums();

private:
    QNL_Dmatrix matrix;
    std::vector<double> rowSums;
    int rows = 0;
    int states = 0;
};

// A variable of the engine's network with everything the scores need: its states and data
// columns, its parents and children (indices into the network's node vector), its background
// knowledge over the other nodes, and its count, prior-count and probability tables with the
// family score cached until a parent changes.
class QNL_learnNode {
public:
    static constexpr int HAS_DISCRETE = 16;
    static constexpr int HAS_CONTINUOUS = 32;

    // Per-node parameters, taken from the network's options when the node is made.
    enum IntParam { DISCRETE_METHOD, NUM_DISC_LEVELS };
    enum DoubleParam { EQUIV_SAMPLE_SIZE };

    QNL_learnNode(QNL_learnNetwork& network, std::string name);

    const std::string& GetName() const { return name; }
    int GetIndex() const { return index; }
    bool IsActive() const { return active; }
    int GetFlags() const { return flags; }
    // -1 for a bad index.
    int GetIntParam(int which, int& out) const;
    int GetDoubleParam(int which, double& out) const;
    int SetDoubleParam(int which, double value);
    int SetIntParam(int which, int value);

    const std::vector<int>& GetParents() const { return parents; }
    const std::vector<int>& GetChildren() const { return children; }
    bool HasParent(int node) const;

    // Discrete data: state names and a column of state indices (MISSING where unobserved).
    const std::vector<std::string>& GetStates() const { return states; }
    int GetNumberOfStates() const { return static_cast<int>(states.size()); }
    const QNL_dataColumn<int>& GetDiscreteData() const { return discrete; }
    const QNL_dataColumn<double>& GetContinuousData() const { return continuous; }
    void SetDiscreteData(std::vector<std::string> stateNames, QNL_dataColumn<int> column);
    void SetContinuousData(QNL_dataColumn<double> column);
    // Whether the node is scored as discrete under the network's PREFER_CONT_DATA.
    bool IsScoredAsDiscrete() const;

    // Background knowledge about another node k as this node's parent or tier neighbour.
    bool IsForcedParent(int k) const { return Row(forced, k); }
    bool IsForbiddenParent(int k) const { return Row(forbidden, k); }
    // k lies in an earlier / a later tier than this node.
    bool IsInEarlierTier(int k) const { return Row(earlier, k); }
    bool IsInLaterTier(int k) const { return Row(later, k); }
    // Whether k may not become a parent: a forbidden arc, or k in a later tier.
    bool RefusesParent(int k) const { return IsForbiddenParent(k) || IsInLaterTier(k); }

    // Cuts the continuous data into intervals by DISCRETE_METHOD (0 equal frequency, 1 equal
    // width, 2 merging) and NUM_DISC_LEVELS, which become the node's states and discrete data.
    // A NaN is a missing value, and a record left without a state marks the network's data
    // incomplete. -2 when the node has discrete data of this method and level count already or
    // no continuous values, -1 when the method fails or a value is an infinity (logged, the
    // node as it was), else 0.
    int Discretize();
    bool NeedsDiscretization() const;
    // L + 1 ascending bounds of the L intervals, and their means.
    const std::vector<double>& GetIntervalBounds() const { return bounds; }
    const std::vector<double>& GetIntervalMeans() const { return means; }
    // "<low>_TO_<high>", each bound in six significant digits with "p" before a positive one,
    // "." written "_" and "-" written "m".
    static std::string MakeIntervalStateName(double low, double high);

    // Fills the count table; 0, or the code of the table that could not be made.
    int Counts();
    // Fills the prior-count table by PARAM_PRIORS_METHOD; 0 or a failure code (an unknown
    // method number is returned as it is).
    int PriorCounts();
    // Family scores, NO_SCORE when the node has none or its tables cannot be made.
    double BayesianScore();
    double K2Score();
    double PenalizedLogLikelihood();
    // The node's term of the structure log-prior (0 without arc probabilities).
    double StructureLogPrior();
    // The family score CRITERION names (NO_SCORE for none).
    double FamilyScore(int criterion);
    // MAP probabilities from counts and prior counts.
    int EstimateParameters();
    int RandomizeParameters();
    // Copies the probability table to (direction 1) or from (direction 0) the node's
    // counterpart of the map's network. A continuous node has no table and is passed over.
    int CopyParametersTo(const QNL_learnHandleMap& map, int direction);

    const QNL_learnTable& GetCounts() const { return counts; }
    const QNL_learnTable& GetPriorCounts() const { return priors; }
    const QNL_learnTable& GetProbabilities() const { return probabilities; }
    bool HasProbabilities() const { return probabilitiesValid; }

private:
    friend class QNL_learnNetwork;

    static bool Row(const std::vector<char>& row, int k) {
        return k >= 0 && static_cast<std::size_t>(k) < row.size() &&
               row[static_cast<std::size_t>(k)] != 0;
    }
    void NodeAdded();
    void NodeRemoved(int removed);
    void ParentsChanged();
    void ChildrenChanged() { structurePriorValid = false; }
    void ScoresChanged() {
        scoreValid = false;
        priorsValid = false;
    }
    // Shapes the three tables for the current parents; 0 or the failure code (logged).
    int ShapeTables();
    int ScoreFailed(int code);
    double ScoreWith(int kind);
    int PriorCountsFromNetwork(bool joint, double ess);
    // -1 (logged, naming the record) when a continuous value is an infinity, else 0.
    int RefuseInfinity() const;
    int ComputeIntervals(std::vector<int>& column);
    std::vector<std::string> MakeIntervalStates() const;
    // The offset in the counterpart's table of every cell of this node's tables; -1 when the
    // node, a parent or a state has no counterpart, -2 when the counterpart's table differs.
    int CounterpartCells(const QNL_learnHandleMap& map, std::vector<std::int64_t>& offsets,
                         QNL_nodeDefinition*& definition) const;

    QNL_learnNetwork* network;
    std::string name;
    int index = -1;
    bool active = true;
    int flags = 0;
    int discreteMethod = 0;
    int discLevels = 3;
    double equivalentSampleSize = 10.0;

    std::vector<int> parents;
    std::vector<int> children;
    std::vector<char> forced;
    std::vector<char> forbidden;
    std::vector<char> earlier;
    std::vector<char> later;

    std::vector<std::string> states;
    std::vector<double> bounds;
    std::vector<double> means;
    // The method and level count of a discrete column made by discretization (-1: none).
    int madeMethod = -1;
    int madeLevels = -1;
    QNL_dataColumn<int> discrete;
    QNL_dataColumn<double> continuous;

    QNL_learnTable counts;
    QNL_learnTable priors;
    QNL_learnTable probabilities;
    bool shapeValid = false;
    bool countsValid = false;
    bool priorsValid = false;
    bool probabilitiesValid = false;
    bool scoreValid = false;
    int scoreKind = -1;
    double score = 0.0;
    bool structurePriorValid = false;
    double structurePrior = 0.0;
};
