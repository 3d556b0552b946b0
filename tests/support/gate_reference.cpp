#include "support/gate_reference.h"

#include "definitions/noisy_adder.h"
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

std::vector<double> ReferenceNoisyAdder(const QNL_noisyAdder& definition) {
    const QNL_Dmatrix& params = definition.GetParameters();
    const int n = params.GetSizeOfDimension(1);
    const int blocks = definition.GetNumberOfBlocks();
    const std::vector<double>& w = definition.GetWeights();
    const int leak = definition.GetNumberOfColumns() - 1;
    std::vector<int> x(static_cast<std::size_t>(blocks), 0);
    std::vector<double> table;
    for (;;) {
        std::vector<int> active;
        for (int b = 0; b < blocks; ++b)
            if (x[static_cast<std::size_t>(b)] != definition.GetParentDistinguishedState(b))
                active.push_back(b);
        auto column = [&](int b) {
            int offset = 0;
            for (int c = 0; c < b; ++c)
                offset += definition.GetBlockSize(c);
            return offset + x[static_cast<std::size_t>(b)];
        };
        for (int k = 0; k < n; ++k) {
            if (definition.GetFunction() == QNL_NOISYADDER_SINGLEFAULT) {
                table.push_back(
                    params.Subscript((active.size() == 1 ? column(active[0]) : leak) * n + k));
                continue;
            }
            double sum = params.Subscript(leak * n + k) * w.back(), total = w.back();
            for (int b : active) {
                sum += params.Subscript(column(b) * n + k) * w[static_cast<std::size_t>(b)];
                total += w[static_cast<std::size_t>(b)];
            }
            table.push_back(sum / total);
        }
        int b = blocks - 1;
        for (; b >= 0; --b) {
            if (++x[static_cast<std::size_t>(b)] < definition.GetBlockSize(b)) break;
            x[static_cast<std::size_t>(b)] = 0;
        }
        if (b < 0) break;
    }
    return table;
}

void RandomizeNoisyAdder(QNL_noisyAdder& definition, TestRandom& random) {
    const int n = definition.GetNumberOfOutcomes();
    definition.SetDistinguishedState(random.Below(n));
    for (int b = 0; b < definition.GetNumberOfBlocks(); ++b)
        definition.SetParentDistinguishedState(b, random.Below(definition.GetBlockSize(b)));
    QNL_Dmatrix params(*definition.GetParameters());
    for (int c = 0; c < params.GetSizeOfDimension(0); ++c) {
        bool constrained = false;
        for (int b = 0, start = 0; b < definition.GetNumberOfBlocks();
             start += definition.GetBlockSize(b), ++b)
            constrained = constrained || c == start + definition.GetParentDistinguishedState(b);
        if (constrained) continue;
        double sum = 0.0;
        for (int k = 0; k < n; ++k)
            sum += params.Subscript(c * n + k) = 0.05 + random.Uniform();
        for (int k = 0; k < n; ++k)
            params.Subscript(c * n + k) /= sum;
    }
    definition.SetDefinition(params);
    std::vector<double> weights;
    for (std::size_t i = 0; i < definition.GetWeights().size(); ++i)
        weights.push_back(0.2 + random.Uniform());
    definition.SetWeights(weights);
    definition.SetFunction(random.Below(2));
}

std::vector<int> MixInGates(QNL_network& network, TestRandom& random, double share) {
    std::vector<int> changed;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        if (random.Uniform() >= share) continue;
        QNL_node* node = network.GetNode(h);
        const bool adder = random.Below(3) == 0;
        if (node->SetType(adder ? QNL_TYPE_NOISY_ADDER : QNL_TYPE_NOISY_MAX) != 0) continue;
        if (auto* gate = dynamic_cast<QNL_noisyMAX*>(node->GetDefinition()))
            RandomizeNoisyMax(*gate, random);
        else if (auto* sum = dynamic_cast<QNL_noisyAdder*>(node->GetDefinition()))
            RandomizeNoisyAdder(*sum, random);
        else
            continue;
        changed.push_back(h);
    }
    return changed;
}

} // namespace quarn_test
