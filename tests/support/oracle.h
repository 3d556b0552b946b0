#pragma once

#include <string>
#include <vector>

class QNL_network;

namespace quarn_test {

// The exact answer for a small discrete network, found by visiting every joint configuration:
// the probability of the user evidence (value flag 1; propagated evidence is implied by it)
// and every node's posterior given it. Meant as the yardstick of the exact algorithms, so it
// stays as plain as possible; it refuses networks above kMaxConfigurations joint states.
struct Enumeration {
    static constexpr double kMaxConfigurations = 16777216.0;

    bool ok = false;
    std::string error;
    double probabilityOfEvidence = 0.0;
    // Indexed by node handle; empty for free slots. All zeros when the evidence is impossible.
    std::vector<std::vector<double>> posteriors;
    // The joint posterior of the nodes asked for, the first node slowest.
    std::vector<double> joint;

    const std::vector<double>& Posterior(int handle) const {
        return posteriors[static_cast<std::size_t>(handle)];
    }
};

Enumeration Enumerate(const QNL_network& network, const std::vector<int>& jointNodes = {});

} // namespace quarn_test
