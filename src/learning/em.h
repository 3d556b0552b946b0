#pragma once

#include "numerics/random.h"

#include <string>
#include <vector>

class QNL_dataset;
class QNL_network;

// What an EM run is told: the weight of the starting tables as a prior (in records), and
// whether to start from random tables instead (only without a prior).
struct QNL_emParams {
    int EqSampleSize = 0;
    bool RandomizeParameters = true;
};

// Asked before every record of a pass; false cancels the run.
class QNL_emProgress {
public:
    virtual ~QNL_emProgress() = default;
    virtual bool Continue() = 0;
};

// Learns the probability tables of a network from a data set by expectation-maximisation:
// cells that are missing, and nodes without a column, are hidden, and their expected counts
// come from exact inference. Noisy-MAX nodes are learned through their decomposition into
// table nodes. A run leaves the network as it found it but for the learned tables: targets,
// case updates and notification settings restored, no evidence; a failed run restores the
// tables too. The random start draws from the object's own generator.
class QNL_em {
public:
    // Passes after which a run that still gains likelihood is given up.
    static constexpr int MAX_PASSES = 10000;

    // Seed 0 takes a seed from the clock.
    explicit QNL_em(unsigned seed = 0, int maxPasses = MAX_PASSES)
        : random(seed), maxPasses(maxPasses) {}

    // 0 on success or when cancelled; -1 for a temporal network, a bad cell or failed
    // inference, -30 for a variable without node, -4 for a continuous variable.
    int Learn(const QNL_dataset& data, QNL_network& network, const QNL_emParams& params,
              QNL_emProgress* progress = nullptr);

    // Random tables for one node (a probability table or noisy-MAX parameters), leaving what
    // its "QNL_NOLEARN" property freezes.
    int RandomizeParameters(int node, QNL_network& network);

private:
    QNL_random random;
    int maxPasses;
};

namespace quarn::detail {

// The frozen columns that a "QNL_NOLEARN" value names: every number in its first 1024
// characters; `all` for the value "ALL".
void ParseNoLearn(const char* value, bool& all, std::vector<int>& columns);

} // namespace quarn::detail

// Rewrites a noisy-MAX node for learning, in the form its "QNL_MAXDECOMP" property selects;
// false when the node is not a noisy-MAX node or the rewriting failed (nothing changes).
bool DecomposeNoisyMax(QNL_network& network, int node);
// Puts a node rewritten by DecomposeNoisyMax back, found from the marks the rewriting left
// (which survive writing the network to a file and reading it back); false when they are
// missing or the restoring failed.
bool RecomposeNoisyMax(QNL_network& network, int node);
