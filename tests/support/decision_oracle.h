#pragma once

#include <map>
#include <string>
#include <vector>

class QNL_network;

namespace quarn_test {

// The expected utilities of a small influence diagram found by brute force, as the yardstick
// of the solvers. Every joint configuration of the chance and decision nodes is visited
// (decisions free, chance nodes weighted by their tables, user evidence filtering); the
// overall utility of a configuration is the sum of the terminal utility nodes, a MAU node
// combining its utility parents with the weights its decision parents select. The decision
// sequence lists, for each decision in topological order, its parents not listed before and
// then the decision (nodes with user evidence left out); backward induction over it takes
// the maximum over a decision and the expectation over a chance node, so every decision sees
// every earlier decision and its parents. Cells of impossible prefixes are NaN.
struct DecisionOracle {
    static constexpr double kMaxConfigurations = 4194304.0;

    bool ok = false;
    std::string error;
    // The sequence (handles) and each entry's number of outcomes.
    std::vector<int> sequence;
    std::vector<int> sizes;
    // Per decision handle: its expected utilities over the prefix of the sequence that ends
    // with it, first entry slowest.
    std::map<int, std::vector<double>> decisionUtilities;
    // Per utility or MAU handle, and for the overall utility: the expectation given each
    // assignment of the whole sequence, first entry slowest.
    std::map<int, std::vector<double>> expected;
    std::vector<double> overall;
    // The joint weight of each assignment of the sequence with the evidence, every option of a
    // decision weighing 1.
    std::vector<double> mass;
    // Per chance node without evidence: the joint weight of each assignment of the sequence
    // and each of its outcomes (last, fastest), as mass. Left empty for diagrams whose tables
    // of that kind would pass kMaxBeliefCells together.
    static constexpr double kMaxBeliefCells = 4194304.0;
    std::map<int, std::vector<double>> beliefMass;
};

// The network must be acyclic and hold only discrete chance nodes with tables, decisions,
// utility tables and MAU nodes. Non-const only to order its nodes.
DecisionOracle SolveByEnumeration(QNL_network& network);

// The distribution of a node of the sequence given some other nodes of it, with the evidence
// and the decisions not given taking each option alike: a table over `given` and then the
// node (first slowest), NaN where the given outcomes are impossible.
std::vector<double> Conditional(const DecisionOracle& oracle, int node,
                                const std::vector<int>& given);

} // namespace quarn_test
