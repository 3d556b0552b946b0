#pragma once

#include <vector>

class QNL_noisyMAX;
class QNL_noisyAdder;
class QNL_network;

namespace quarn_test {

class TestRandom;

// The expanded table of a noisy-MAX definition, computed the plain way from its parameters
// and strength orders: for every parent configuration (first parent slowest, each in its own
// outcome order) and outcome k, P(Y <= k-th lowest) is the product of the leak's and the
// active columns' tail sums.
std::vector<double> ReferenceNoisyMax(const QNL_noisyMAX& definition);

// Random parameters that respect the distinguished columns, and random strength orders.
void RandomizeNoisyMax(QNL_noisyMAX& definition, TestRandom& random);

// The noisy adder's table the plain way: per parent configuration the weighted average of
// the leak and the active parents' columns, or the single-fault choice.
std::vector<double> ReferenceNoisyAdder(const QNL_noisyAdder& definition);

// Random parameters, weights and distinguished outcomes that respect the constraints.
void RandomizeNoisyAdder(QNL_noisyAdder& definition, TestRandom& random);

// Turns some CPT nodes of a random network into noisy-MAX nodes and noisy adders with random
// parameters; the handles changed.
std::vector<int> MixInGates(QNL_network& network, TestRandom& random, double share);

} // namespace quarn_test
