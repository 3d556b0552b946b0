#pragma once

#include <cstdint>
#include <vector>

class QNL_network;

namespace quarn_test {

// A small deterministic generator for test data, the same stream on every platform.
class TestRandom {
public:
    explicit TestRandom(std::uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t Next();
    // Uniform in [0, 1).
    double Uniform();
    // Uniform in 0..n-1 (n >= 1).
    int Below(int n);

private:
    std::uint64_t state;
};

struct RandomNetworkSpec {
    std::uint64_t seed = 1;
    int nodes = 8;
    int maxParents = 3;
    int maxOutcomes = 4;
    // Share of probability columns that put all their mass on one outcome.
    double deterministicShare = 0.0;
};

// The usual mix for round `round` of a randomised test: seed base + round, 2 to 12 nodes, up to
// one to four parents, deterministic columns on every third round.
RandomNetworkSpec RoundSpec(std::uint64_t base, int round);

// The rounds 0 .. count-1 of a random test, then the named ones (rounds of longer runs that
// once failed). QUARN_RANDOM_EDIT_ROUNDS=n raises the count to n, for long sessions.
std::vector<int> RoundsUpTo(int count, std::vector<int> named = {});

// Adds nodes "N0", "N1", ... with random outcome counts, arcs only from earlier to later
// nodes (at most maxParents each) and random tables to an empty network; the handles in
// creation order. Uses the network's CPT node type.
std::vector<int> BuildRandomNetwork(QNL_network& network, const RandomNetworkSpec& spec);
// Networks of thousands of nodes for the tests that count the work of bulk edits: a chain
// "N0" -> "N1" -> ... of two-outcome nodes, or with `random` the network BuildRandomNetwork
// makes of that many nodes (up to three parents, two to four outcomes). Handles 0, 1, ... in
// creation order.
void BuildLargeNetwork(QNL_network& network, int nodes, bool random);
// Thins the network to a forest: an arc whose ends are already connected goes, so nodes of
// several parents stay and trees of every shape appear.
void ThinToForest(QNL_network& network);

// One forward sample of every node (by handle; -1 for free slots), drawn in parents-first
// order. Outcomes of probability 0 are never drawn.
std::vector<int> ForwardSample(QNL_network& network, TestRandom& random);
// Findings on about `share` of the unobserved nodes at the outcomes of one joint draw, set one
// by one.
void ObserveJointDraw(QNL_network& network, double share, std::uint64_t seed);

// Puts user evidence on `count` distinct random nodes, at their outcomes in one forward
// sample, so the evidence has positive probability. The observed handles.
std::vector<int> SetPossibleEvidence(QNL_network& network, std::uint64_t seed, int count);

// Puts user evidence of probability 0: a node at an outcome of probability 0 in one of its
// columns, and the node's parents at that column's configuration. Notifications are off
// while it is set, so the network neither checks nor propagates it. False, with no evidence
// set, when no table has a zero cell.
bool SetImpossibleEvidence(QNL_network& network, std::uint64_t seed);

// Adds a two-outcome node (outcome 0 is "true") with the given parents, in order, and
// P(true | parents) for each parent configuration, the first parent slowest and "true"
// first. The handle.
int AddBinaryNode(QNL_network& network, const char* id, const std::vector<int>& parents,
                  const std::vector<double>& pTrue);

// Reference networks with known posteriors (outcome 0 is "true" everywhere).
struct Sprinkler {
    int cloudy, sprinkler, rain, wetGrass;
};
Sprinkler BuildSprinkler(QNL_network& network);

struct Asia {
    int visit, smoking, tuberculosis, cancer, bronchitis, either, xray, dyspnoea;
};
Asia BuildAsia(QNL_network& network);

struct Alarm {
    int burglary, earthquake, alarm, johnCalls, maryCalls;
};
Alarm BuildAlarm(QNL_network& network);

} // namespace quarn_test
