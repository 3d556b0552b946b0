#pragma once

#include <vector>

// The orders in which a diagnosis step is shown: tests by score, faults by probability. Both
// are total, so NaN and equal records keep a fixed order (their list position).
// Internal: not part of the public interface.
namespace quarn::detail {

struct ObservationRecord {
    int node = -1;
    double strength = 0.0;
    double cost = 0.0;
    double score = 0.0;
};

struct FaultRecordOut {
    int index = -1;
    int node = -1;
    int outcome = -1;
    double probability = 0.0;
    bool pursued = false;
};

// Real scores first, largest first; then the excluded (5 x DBL_MIN), the unavailable
// (4 x DBL_MIN) and NaN.
void SortObservations(std::vector<ObservationRecord>& records);
// Largest probability first (not updated, 5 x DBL_MIN, counts as -1; NaN last); then pursued
// first; then node and outcome.
void SortFaults(std::vector<FaultRecordOut>& records);

} // namespace quarn::detail
