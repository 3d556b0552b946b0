#include "inference/message_passing.h"

#include <algorithm>
#include <utility>

namespace quarn::detail {

MessagePassing::MessagePassing(const SamplingComponent& sampling) : records(sampling) {
    const int n = records.Size();
    int arcs = 0;
    for (int r = 0; r < n; ++r)
        arcs += records[r].parentCount;
    arcOffset.resize(static_cast<std::size_t>(arcs));
    std::vector<int> childCount(static_cast<std::size_t>(n) + 1, 0);
    std::int64_t cells = 0;
    for (int r = 0; r < n; ++r) {
        const SamplingRecord& x = records[r];
        for (int j = 0; j < x.parentCount; ++j) {
            const int parent = records.Parent(x, j);
            arcOffset[static_cast<std::size_t>(x.firstParent + j)] = cells;
            cells += records[parent].outcomes;
            ++childCount[static_cast<std::size_t>(parent) + 1];
        }
    }
    childStart.assign(static_cast<std::size_t>(n) + 1, 0);
    for (int r = 0; r < n; ++r)
        childStart[static_cast<std::size_t>(r) + 1] =
            childStart[static_cast<std::size_t>(r)] + childCount[static_cast<std::size_t>(r) + 1];
    childArcs.resize(static_cast<std::size_t>(arcs));
    std::vector<int> filled(childStart.begin(), childStart.end() - 1);
    for (int r = 0; r < n; ++r) {
        const SamplingRecord& x = records[r];
        for (int j = 0; j < x.parentCount; ++j)
            childArcs[static_cast<std::size_t>(
                filled[static_cast<std::size_t>(records.Parent(x, j))]++)] = x.firstParent + j;
    }
    for (std::vector<double>* set : {&piNow, &piNext, &lambdaNow, &lambdaNext})
        set->assign(static_cast<std::size_t>(cells), 1.0);
    const auto outcomes = static_cast<std::size_t>(records.AccumulatorSize());
    lambda.assign(outcomes, 1.0);
    pi.assign(outcomes, 0.0);
    belief.assign(outcomes, 0.0);
    coordinates.resize(static_cast<std::size_t>(records.LargestParentCount()));
    parentPi.resize(static_cast<std::size_t>(records.LargestConfigurationCount()));
    columnLambda.resize(static_cast<std::size_t>(records.LargestConfigurationCount()));
}

int MessagePassing::Run(int iterations, bool stopOnZeroBelief) {
    for (int it = 0; it < iterations; ++it) {
        for (int r = 0; r < records.Size(); ++r)
            if (!Update(r) && stopOnZeroBelief) return -26;
        std::swap(piNow, piNext);
        std::swap(lambdaNow, lambdaNext);
        std::fill(piNext.begin(), piNext.end(), 1.0);
        std::fill(lambdaNext.begin(), lambdaNext.end(), 1.0);
    }
    return 0;
}

bool MessagePassing::Update(int record) {
    const SamplingRecord& x = records[record];
    const int n = x.outcomes;
    const int m = x.parentCount;
    const std::size_t first =
        static_cast<std::size_t>(childStart[static_cast<std::size_t>(record)]);
    const std::size_t last =
        static_cast<std::size_t>(childStart[static_cast<std::size_t>(record) + 1]);

    // What this record received in the previous iteration, as distributions.
    for (int j = 0; j < m; ++j) {
        const int outcomes = records[records.Parent(x, j)].outcomes;
        NormalizeColumns(&piNow[static_cast<std::size_t>(
                             arcOffset[static_cast<std::size_t>(x.firstParent + j)])],
                         outcomes, outcomes);
    }
    for (std::size_t c = first; c < last; ++c)
        NormalizeColumns(
            &lambdaNow[static_cast<std::size_t>(arcOffset[static_cast<std::size_t>(childArcs[c])])],
            n, n);

    double* lam = &lambda[static_cast<std::size_t>(x.accumulator)];
    double* p = &pi[static_cast<std::size_t>(x.accumulator)];
    double* bel = &belief[static_cast<std::size_t>(x.accumulator)];
    for (int k = 0; k < n; ++k) {
        if (x.observed >= 0) {
            lam[k] = k == x.observed ? 1.0 : 0.0;
            continue;
        }
        lam[k] = 1.0;
        for (std::size_t c = first; c < last; ++c)
            lam[k] *= lambdaNow[static_cast<std::size_t>(
                arcOffset[static_cast<std::size_t>(childArcs[c])] + k)];
    }

    // pi of every parent configuration, the first parent slowest as in the table.
    const std::int64_t configurations = x.tableSize / n;
    int* coordinate = coordinates.data();
    for (int j = 0; j < m; ++j)
        coordinate[j] = 0;
    for (std::int64_t c = 0; c < configurations; ++c) {
        double product = 1.0;
        for (int j = 0; j < m; ++j)
            product *= piNow[static_cast<std::size_t>(
                arcOffset[static_cast<std::size_t>(x.firstParent + j)] + coordinate[j])];
        parentPi[static_cast<std::size_t>(c)] = product;
        for (int j = m - 1; j >= 0; --j) {
            if (++coordinate[j] < records[records.Parent(x, j)].outcomes) break;
            coordinate[j] = 0;
        }
    }
    for (int k = 0; k < n; ++k)
        p[k] = 0.0;
    for (std::int64_t c = 0; c < configurations; ++c) {
        const double* column = x.cells + c * n;
        const double weight = parentPi[static_cast<std::size_t>(c)];
        double lambdaSum = 0.0;
        for (int k = 0; k < n; ++k) {
            p[k] += column[k] * weight;
            lambdaSum += lam[k] * column[k];
        }
        columnLambda[static_cast<std::size_t>(c)] = lambdaSum;
    }
    double sum = 0.0;
    for (int k = 0; k < n; ++k)
        sum += bel[k] = lam[k] * p[k];
    const bool useful = sum != 0.0;
    for (int k = 0; k < n; ++k)
        bel[k] = useful ? bel[k] / sum : 0.0;

    // Lambda messages to the parents without evidence; pi_U(u) = 0 contributes nothing.
    for (int j = 0; j < m; ++j) {
        const SamplingRecord& parent = records[records.Parent(x, j)];
        if (parent.observed >= 0) continue;
        double* out = &lambdaNext[static_cast<std::size_t>(
            arcOffset[static_cast<std::size_t>(x.firstParent + j)])];
        for (int u = 0; u < parent.outcomes; ++u)
            out[u] = 0.0;
    }
    for (int j = 0; j < m; ++j)
        coordinate[j] = 0;
    for (std::int64_t c = 0; m > 0 && c < configurations; ++c) {
        const double share =
            columnLambda[static_cast<std::size_t>(c)] * parentPi[static_cast<std::size_t>(c)];
        for (int j = 0; j < m; ++j) {
            if (records[records.Parent(x, j)].observed >= 0) continue;
            const std::size_t at = static_cast<std::size_t>(
                arcOffset[static_cast<std::size_t>(x.firstParent + j)] + coordinate[j]);
            if (piNow[at] != 0.0) lambdaNext[at] += share / piNow[at];
        }
        for (int j = m - 1; j >= 0; --j) {
            if (++coordinate[j] < records[records.Parent(x, j)].outcomes) break;
            coordinate[j] = 0;
        }
    }

    // Pi messages to the children: everything but what the child itself sent.
    for (std::size_t c = first; c < last; ++c) {
        const std::size_t at =
            static_cast<std::size_t>(arcOffset[static_cast<std::size_t>(childArcs[c])]);
        for (int k = 0; k < n; ++k) {
            const double received = lambdaNow[at + static_cast<std::size_t>(k)];
            piNext[at + static_cast<std::size_t>(k)] =
                received == 0.0 ? 0.0 : p[k] * lam[k] / received;
        }
    }
    return useful;
}

} // namespace quarn::detail
