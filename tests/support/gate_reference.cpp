#include "support/gate_reference.h"

#include "definitions/noisy_max.h"
#include "model/network.h"
#include "model/node.h"
#include "support/random_network.h"

#include <algorithm>
#include <numeric>

namespace quarn_test {

std::vector<double> ReferenceNoisyMax(const QNL_noisyMAX& definition) {
    const QNL_Dmatrix& params = definition.GetParameters();
    const int n = params.GetSizeOfDimension(1);
    const int blocks = definition.GetNumberOfBlocks();
    auto tail = [&](int column, int k) {
        double sum = 0.0;
        for (int j = k; j < n; ++j)
            sum += params.Subscript(column * n + j);
        return sum;
    };
    std::vector<int> x(static_cast<std::size_t>(blocks), 0);
    std::vector<double> table;
    for (;;) {
        std::vector<double> cumulative(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) {
            double v = tail(definition.GetNumberOfColumns() - 1, k);
            for (int b = 0; b < blocks; ++b) {
                const QNL_intArray& s = *definition.GetParentOutcomeStrengths(b);
                const int position = s.FindPosition(x[static_cast<std::size_t>(b)]);
                v *= tail(definition.GetParentColumnOffset(b) + position, k);
            }
            cumulative[static_cast<std::size_t>(k)] = v;
        }
        for (int k = 0; k < n; ++k)
            table.push_back(cumulative[static_cast<std::size_t>(k)] -
                            (k + 1 < n ? cumulative[static_cast<std::size_t>(k + 1)] : 0.0));
        int b = blocks - 1;
        for (; b >= 0; --b) {
            if (++x[static_cast<std::size_t>(b)] < definition.GetBlockSize(b)) break;
            x[static_cast<std::size_t>(b)] = 0;
        }
        if (b < 0) break;
    }
    return table;
}

void RandomizeNoisyMax(QNL_noisyMAX& definition, TestRandom& random) {
    QNL_Dmatrix params(*definition.GetParameters());
    const int n = params.GetSizeOfDimension(1);
    for (int c = 0; c < params.GetSizeOfDimension(0); ++c) {
        if (definition.IsDistinguishedColumn(c)) continue;
        double sum = 0.0;
        for (int k = 0; k < n; ++k)
            sum += params.Subscript(c * n + k) = 0.05 + random.Uniform();
        for (int k = 0; k < n; ++k)
            params.Subscript(c * n + k) /= sum;
    }
    definition.SetDefinition(params);
    for (int b = 0; b < definition.GetNumberOfBlocks(); ++b) {
        std::vector<int> order(static_cast<std::size_t>(definition.GetBlockSize(b)));
        std::iota(order.begin(), order.end(), 0);
        for (std::size_t i = order.size(); i > 1; --i)
            std::swap(order[i - 1],
                      order[static_cast<std::size_t>(random.Below(static_cast<int>(i)))]);
        QNL_intArray strengths;
        for (int v : order)
            strengths.Add(v);
        definition.SetParentOutcomeStrengths(b, strengths);
    }
}

std::vector<int> MixInNoisyMax(QNL_network& network, TestRandom& random, double share) {
    std::vector<int> changed;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        if (random.Uniform() >= share) continue;
        QNL_node* node = network.GetNode(h);
        if (node->SetType(QNL_TYPE_NOISY_MAX) != 0) continue;
        auto* gate = dynamic_cast<QNL_noisyMAX*>(node->GetDefinition());
        if (gate == nullptr) continue;
        RandomizeNoisyMax(*gate, random);
        changed.push_back(h);
    }
    return changed;
}

} // namespace quarn_test
