#include "support/gate_reference.h"

#include "definitions/noisy_adder.h"
#include "definitions/noisy_max.h"
#include "model/network.h"
#include "model/node.h"
#include "support/random_network.h"

#include <algorithm>
#include <numeric>

namespace quarn_test {
namespace {

// The next parent configuration, the last block fastest; false after the last one.
bool NextConfiguration(const QNL_ciDefinition& definition, std::vector<int>& x) {
    for (int b = definition.GetNumberOfBlocks() - 1; b >= 0; --b) {
        if (++x[b] < definition.GetBlockSize(b)) return true;
        x[b] = 0;
    }
    return false;
}

// Random positive parameters summing to 1 in column c.
void RandomColumn(QNL_Dmatrix& params, int c, TestRandom& random) {
    const int n = params.GetSizeOfDimension(1);
    double sum = 0.0;
    for (int k = 0; k < n; ++k)
        sum += params.Subscript(c * n + k) = 0.05 + random.Uniform();
    for (int k = 0; k < n; ++k)
        params.Subscript(c * n + k) /= sum;
}

} // namespace

std::vector<double> ReferenceNoisyMax(const QNL_noisyMAX& definition) {
    const QNL_Dmatrix& params = definition.GetParameters();
    const int n = params.GetSizeOfDimension(1);
    auto tail = [&](int column, int k) {
        double sum = 0.0;
        for (int j = k; j < n; ++j)
            sum += params.Subscript(column * n + j);
        return sum;
    };
    std::vector<int> x(definition.GetNumberOfBlocks(), 0);
    std::vector<double> table;
    do {
        std::vector<double> cumulative(n + 1, 0.0);
        for (int k = 0; k < n; ++k) {
            cumulative[k] = tail(definition.GetNumberOfColumns() - 1, k);
            for (std::size_t b = 0; b < x.size(); ++b)
                cumulative[k] *=
                    tail(definition.GetParentColumnOffset(b) +
                             definition.GetParentOutcomeStrengths(b)->FindPosition(x[b]),
                         k);
        }
        for (int k = 0; k < n; ++k)
            table.push_back(cumulative[k] - cumulative[k + 1]);
    } while (NextConfiguration(definition, x));
    return table;
}

void RandomizeNoisyMax(QNL_noisyMAX& definition, TestRandom& random) {
    QNL_Dmatrix params(*definition.GetParameters());
    for (int c = 0; c < params.GetSizeOfDimension(0); ++c)
        if (!definition.IsDistinguishedColumn(c)) RandomColumn(params, c, random);
    definition.SetDefinition(params);
    for (int b = 0; b < definition.GetNumberOfBlocks(); ++b) {
        std::vector<int> order(definition.GetBlockSize(b));
        std::iota(order.begin(), order.end(), 0);
        for (std::size_t i = order.size(); i > 1; --i)
            std::swap(order[i - 1], order[random.Below(static_cast<int>(i))]);
        QNL_intArray strengths;
        for (int v : order)
            strengths.Add(v);
        definition.SetParentOutcomeStrengths(b, strengths);
    }
}

std::vector<double> ReferenceNoisyAdder(const QNL_noisyAdder& definition) {
    const QNL_Dmatrix& params = definition.GetParameters();
    const int n = params.GetSizeOfDimension(1);
    const std::vector<double>& w = definition.GetWeights();
    const int leak = definition.GetNumberOfColumns() - 1;
    std::vector<int> x(definition.GetNumberOfBlocks(), 0);
    std::vector<double> table;
    do {
        // Active parents and their columns.
        std::vector<int> active, column;
        for (int b = 0, offset = 0; b < definition.GetNumberOfBlocks();
             offset += definition.GetBlockSize(b++)) {
            if (x[b] == definition.GetParentDistinguishedState(b)) continue;
            active.push_back(b);
            column.push_back(offset + x[b]);
        }
        for (int k = 0; k < n; ++k) {
            if (definition.GetFunction() == QNL_NOISYADDER_SINGLEFAULT) {
                table.push_back(params.Subscript((active.size() == 1 ? column[0] : leak) * n + k));
                continue;
            }
            double sum = params.Subscript(leak * n + k) * w.back(), total = w.back();
            for (std::size_t i = 0; i < active.size(); ++i) {
                sum += params.Subscript(column[i] * n + k) * w[active[i]];
                total += w[active[i]];
            }
            table.push_back(sum / total);
        }
    } while (NextConfiguration(definition, x));
    return table;
}

void RandomizeNoisyAdder(QNL_noisyAdder& definition, TestRandom& random) {
    definition.SetDistinguishedState(random.Below(definition.GetNumberOfOutcomes()));
    for (int b = 0; b < definition.GetNumberOfBlocks(); ++b)
        definition.SetParentDistinguishedState(b, random.Below(definition.GetBlockSize(b)));
    QNL_Dmatrix params(*definition.GetParameters());
    for (int c = 0; c < params.GetSizeOfDimension(0); ++c) {
        bool constrained = false;
        for (int b = 0, start = 0; b < definition.GetNumberOfBlocks();
             start += definition.GetBlockSize(b), ++b)
            constrained = constrained || c == start + definition.GetParentDistinguishedState(b);
        if (!constrained) RandomColumn(params, c, random);
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
