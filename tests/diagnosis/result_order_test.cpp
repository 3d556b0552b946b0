#include "diagnosis/result_order.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

using namespace quarn::detail;

namespace {

constexpr double kNA = 4 * DBL_MIN;
constexpr double kExcluded = 5 * DBL_MIN;

TEST(ResultOrder, ObservationsPutRealScoresFirstThenSentinelsThenNaN) {
    std::vector<ObservationRecord> r;
    const std::vector<double> scores{NAN, kNA, 0.2, kExcluded, -0.5, 0.2, NAN, 0.7, kNA};
    for (std::size_t i = 0; i < scores.size(); ++i)
        r.push_back({static_cast<int>(i), 0.0, 0.0, scores[i]});
    SortObservations(r);
    std::vector<int> order;
    for (const ObservationRecord& o : r)
        order.push_back(o.node);
    // Equal records keep their list order.
    EXPECT_EQ(order, (std::vector<int>{7, 2, 5, 4, 3, 1, 8, 0, 6}));
}

TEST(ResultOrder, FaultsByProbabilityThenPursuedThenNodeAndOutcome) {
    std::vector<FaultRecordOut> r{
        {0, 5, 1, 0.3, false},      {1, 5, 0, 0.3, false}, {2, 4, 2, 0.3, true},
        {3, 6, 0, kExcluded, true}, {4, 1, 0, 0.0, false}, {5, 2, 0, NAN, false},
        {6, 3, 0, 0.3, false},      {7, 9, 0, 0.9, false},
    };
    SortFaults(r);
    std::vector<int> order;
    for (const FaultRecordOut& f : r)
        order.push_back(f.index);
    EXPECT_EQ(order, (std::vector<int>{7, 2, 6, 1, 0, 4, 3, 5}));
}

} // namespace
