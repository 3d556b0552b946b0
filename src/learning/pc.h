#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class QNL_adTree;
class QNL_dataset;
class QNL_pattern;

// The parameters of a PC run and its background knowledge. Variables are data-set column
// indices; a variable listed in no tier is in tier 0.
struct QNL_pcParams {
    int MaxAdjacency = 8;  // largest conditioning set
    int MaxSearchTime = 0; // seconds of adjacency search, 0 for no limit
    double Significance = 0.05;
    std::vector<int> excluded;                      // never used in a conditioning set
    std::vector<std::pair<int, int>> forcedArcs;    // (parent, child)
    std::vector<std::pair<int, int>> forbiddenArcs; // (parent, child)
    std::vector<std::pair<int, int>> tiers;         // (variable, tier)
};

// Pearson correlations of every pair of columns, all read as floats, and the partial
// correlations derived from them. Partial correlations are remembered, since the search asks
// for the same ones from both ends of a pair and for every subset sharing a prefix.
class QNL_correlationMatrix {
public:
    explicit QNL_correlationMatrix(const QNL_dataset& data);

    int GetNumberOfRecords() const { return records; }
    double Get(int i, int j) const { return r[static_cast<std::size_t>(i) * n + j]; }
    // The correlation of i and j given the variables of z, removing the last of them first.
    double PartialCorrelation(int i, int j, const std::vector<int>& z);

private:
    double Partial(int i, int j, const std::vector<int>& z, std::size_t length);

    int n;
    int records;
    std::vector<double> r;
    std::unordered_map<std::string, double> memo;
};

// Structure learning by the PC algorithm: from the complete undirected graph, every edge
// whose ends are independent given some set of neighbours is removed (G-test on discrete
// data, Fisher's z on continuous data); then edges are oriented by background knowledge,
// v-structures and propagation. The object is the parameter block; a run keeps no state.
class QNL_pc {
public:
    // Called during the run; false cancels it.
    using Progress = std::function<bool()>;

    QNL_pcParams params;

    // 0, -1 for unsuitable data or background knowledge (with a "pc: " message; knowledge that
    // contradicts itself is refused as the learning engine refuses it), -2 when cancelled (the
    // pattern keeps what the run reached).
    int Learn(const QNL_dataset& data, QNL_pattern& pattern, const Progress& progress = {}) const;

    // p-values of the independence of x and y given z.
    static double TestIndependenceDiscrete(QNL_adTree& counts, int x, int y,
                                           const std::vector<int>& z);
    static double TestIndependenceContinuous(QNL_correlationMatrix& correlations, int x, int y,
                                             const std::vector<int>& z);
};
