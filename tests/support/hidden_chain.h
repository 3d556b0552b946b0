#pragma once

#include <functional>
#include <vector>

class QNL_network;

// Long sequences of hidden nodes, each with an observed child: a hidden Markov model written
// as a Bayesian network, several such chains coupled step by step, and the same as a dynamic
// network. Their yardstick is the forward-backward recursion over the joint hidden state,
// normalised at every step, which holds any number of steps.
namespace quarn_test {

struct ChainSpec {
    // Hidden chains; a node of a lower row has the node above it in the same step as parent.
    int rows = 1;
    int states = 2;
    int steps = 0;
    // Tables, the node's own outcome fastest: the first row's first node; a first-row node
    // given its predecessor; a lower row's first node given the node above; a lower row's node
    // given the node above, then its predecessor.
    std::vector<double> first, along, down, both;
    // Each hidden node's observed child given it: states x findings.
    std::vector<double> emission;
    // The outcome found for the child of row r at step t.
    std::function<int(int row, int step)> finding;
};

// The chain: P(same state) 0.9, P(o = 1 | h) 0.3 and 0.8, findings alternating; with
// more rows, each lower row leans towards the one above.
ChainSpec AlternatingChains(int rows, int steps);

// Handles by row and step (a dynamic network's plate nodes have one step).
struct ChainHandles {
    std::vector<std::vector<int>> hidden;
    std::vector<std::vector<int>> observed;
};

// The chains as a plain network with every finding set.
ChainHandles BuildChains(QNL_network& network, const ChainSpec& spec);
// The chains as a dynamic network of `spec.steps` slices whose plate holds one hidden and one
// observed node per row, with every finding set.
ChainHandles BuildDynamicChains(QNL_network& network, const ChainSpec& spec);

// The posterior of every row's hidden node at every step, [row][step][outcome], and log2 of
// the probability of all the findings.
struct ChainPosterior {
    std::vector<std::vector<std::vector<double>>> hidden;
    long double log2Evidence = 0.0L;
    // The probability of the findings as the nearest double (0 below the smallest).
    double Evidence() const;
};
ChainPosterior ForwardBackward(const ChainSpec& spec);

} // namespace quarn_test
