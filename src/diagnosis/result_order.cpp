#include "diagnosis/result_order.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <tuple>

namespace quarn::detail {

namespace {

int ScoreClass(double x) {
    if (std::isnan(x)) return 3;
    if (x == 4 * DBL_MIN) return 2;
    if (x == 5 * DBL_MIN) return 1;
    return 0;
}

} // namespace

void SortObservations(std::vector<ObservationRecord>& records) {
    std::stable_sort(records.begin(), records.end(),
                     [](const ObservationRecord& a, const ObservationRecord& b) {
                         const int ca = ScoreClass(a.score), cb = ScoreClass(b.score);
                         if (ca != cb) return ca < cb;
                         return ca == 0 && a.score > b.score;
                     });
}

void SortFaults(std::vector<FaultRecordOut>& records) {
    auto key = [](const FaultRecordOut& r) {
        const bool nan = std::isnan(r.probability);
        const double p = nan ? 0.0 : r.probability == 5 * DBL_MIN ? -1.0 : r.probability;
        return std::make_tuple(nan, -p, !r.pursued, r.node, r.outcome);
    };
    std::stable_sort(
        records.begin(), records.end(),
        [&](const FaultRecordOut& a, const FaultRecordOut& b) { return key(a) < key(b); });
}

} // namespace quarn::detail
