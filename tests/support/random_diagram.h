#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QNL_network;

namespace quarn_test {

// A small random influence diagram for the solvers' checks: chance nodes "C0", ..., decisions
// "D0", ... interleaved with them (informational arcs from earlier nodes), utility tables
// "U0", ... over chance nodes and decisions with utilities in [-100, 100], on some seeds a
// MAU node "M0" over two utility nodes (and a decision) with weights of either sign, tables
// with zero cells (impossible scenarios), and on some seeds evidence on a chance node that
// no decision influences, at an outcome of positive probability.
struct RandomDiagram {
    std::vector<int> chance, decisions, utilities;
    int mau = -1, outerMau = -1;
    int evidence = -1;
    // The chance nodes some decision influences that hold evidence.
    std::vector<int> evidenceBelow;
};

// Beyond the default mix (which these defaults keep seed for seed): evidence on chance nodes
// that decisions influence, at outcomes a forward sample with random options reached, so some
// choice of the decisions makes the evidence possible; and probability tables without zeros.
// With mau, every diagram has two to four utility tables and the MAU node "M0" over the first
// two, and on some seeds "M1" over M0 and the third (a decision choosing the weights of
// either on some seeds).
struct DiagramOptions {
    bool evidenceBelowDecisions = false;
    bool zeros = true;
    bool mau = false;
};

RandomDiagram BuildRandomDiagram(QNL_network& network, std::uint64_t seed,
                                 const DiagramOptions& options = {});

// Relabels outcomes: outcome o of node h becomes to[h][o] (an empty list keeps the node's
// outcomes) in its own table, its children's tables, the MAU weights its options choose and
// its evidence. The diagram is the same one, its options and outcomes listed in another order.
void PermuteOutcomes(QNL_network& network, const std::vector<std::vector<int>>& to);
// A random order of the outcomes of every chance node and decision of the network.
std::vector<std::vector<int>> RandomOutcomeOrders(QNL_network& network, std::uint64_t seed);

class TestRandom;
// `size` cells of distributions over `outcomes`, one column after another, about
// `zeroShare` of the cells zero.
std::vector<double> RandomColumns(TestRandom& random, int size, int outcomes,
                                  double zeroShare = 0.2);

// A node of the type over the parents, its numbers (probabilities, utilities or weights) set
// unless empty; the handle.
int AddDefined(QNL_network& network, int type, const char* id, const std::vector<int>& parents,
               const std::vector<double>& numbers = {}, int outcomes = 2);
// The cells of the node's value; whether the error log holds the message.
std::vector<double> ValueCells(QNL_network& network, int h);
bool Logged(const std::string& message);

// The oil wildcatter: Oil (dry 0.5, wet 0.3, soaking 0.2), the decision Drill (drill,
// nodrill) and the utility Profit over (Oil, Drill): -70, 50, 200 when drilling, 0 when not.
// With informed, the arc Oil -> Drill as well.
struct OilWildcatter {
    int oil, drill, profit;
};
OilWildcatter BuildOilWildcatter(QNL_network& network, bool informed);

} // namespace quarn_test
