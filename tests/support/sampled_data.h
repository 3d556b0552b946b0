#pragma once

#include "learning/dataset.h"
#include "model/network.h"

#include <cstdint>
#include <vector>

namespace quarn_test {

// Records drawn from the network by forward sampling with a fixed seed: one integer column per
// listed node, named by its identifier and tied to it, each cell blanked (-1) with probability
// `missing`. The samples before blanking go to `complete` when given (indexed by handle).
QNL_dataset SampleDataSet(QNL_network& network, const std::vector<int>& nodes, int records,
                          double missing, std::uint64_t seed,
                          std::vector<std::vector<int>>* complete = nullptr);

} // namespace quarn_test
