#pragma once

#include <cstdint>
#include <vector>

#include "inference/sampling_core.h"

// Internal: not part of the public interface.

namespace quarn::detail {

// Synchronous pi/lambda message passing over the records of one component, loops and all:
// in every iteration each record computes its new messages and beliefs from the messages of
// the previous iteration only. Messages live per arc (one pi and one lambda vector over the
// parent's outcomes) in two sets, current and next, which trade places after each iteration.
// Every array is sized once, before the first iteration.
class MessagePassing {
public:
    explicit MessagePassing(const SamplingComponent& records);

    // Runs the iterations. With `stopOnZeroBelief`, a belief summing to 0.0 ends the run with
    // -26; otherwise such a belief stays all zero. 0 on success.
    int Run(int iterations, bool stopOnZeroBelief);

    // The record's belief (normalised) and lambda vector of the last iteration; beliefs are
    // all zero and lambdas all one before the first.
    const double* Belief(const SamplingRecord& r) const { return &belief[r.accumulator]; }
    const double* Lambda(const SamplingRecord& r) const { return &lambda[r.accumulator]; }

private:
    // Computes one record's lambda, pi, belief and outgoing messages; false on a zero belief.
    bool Update(int record);

    const SamplingComponent& records;
    // Arc a = a child's firstParent + parent index; its messages start at arcOffset[a].
    std::vector<std::int64_t> arcOffset;
    // The arcs on which each record is the parent: childArcs[childStart[r] ..].
    std::vector<int> childStart;
    std::vector<int> childArcs;
    std::vector<double> piNow, piNext, lambdaNow, lambdaNext;
    // Per record at its accumulator offset.
    std::vector<double> lambda, pi, belief;
    // Scratch of one update: the parents' coordinates, pi of every parent configuration and
    // the lambda-weighted column sum of every configuration.
    std::vector<int> coordinates;
    std::vector<double> parentPi;
    std::vector<double> columnLambda;
};

} // namespace quarn::detail
