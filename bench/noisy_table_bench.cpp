// Rebuilding the expanded table of a causal-independence node after one of its settings
// changed: a 3-outcome child of 12 binary parents (4,096 columns), as noisy-MAX (Arg 0,
// parameters set again) and as noisy-adder with the average function (Arg 1, weights set
// again). One iteration is the setting and the rebuild it makes stale.

#include "quarn.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

constexpr int kParents = 12;

QNL_ciDefinition* BuildChild(QNL_network& net, int type) {
    const int child = net.AddNode(type, "child");
    auto* definition = static_cast<QNL_ciDefinition*>(net.GetNode(child)->GetDefinition());
    definition->SetNumberOfOutcomes(3);
    for (int i = 0; i < kParents; ++i)
        net.AddArc(net.AddNode(QNL_TYPE_CPT, ("p" + std::to_string(i)).c_str()), child);
    // Every column that is not a distinguished one gets a distribution of its own.
    QNL_Dmatrix parameters = *definition->GetParameters();
    double* cells = parameters.GetItems().Items();
    for (int c = 0; c < definition->GetNumberOfColumns(); ++c) {
        if (definition->IsDistinguishedColumn(c)) continue;
        const double a = 0.1 + 0.05 * (c % 7), b = 0.2 + 0.03 * (c % 5);
        cells[3 * c] = a;
        cells[3 * c + 1] = b;
        cells[3 * c + 2] = 1.0 - a - b;
    }
    definition->SetDefinition(parameters);
    return definition;
}

void BM_NoisyTableRebuild(benchmark::State& state) {
    const bool adder = state.range(0) == 1;
    QNL_network net;
    QNL_ciDefinition* definition =
        BuildChild(net, adder ? QNL_TYPE_NOISY_ADDER : QNL_TYPE_NOISY_MAX);
    const QNL_Dmatrix parameters = *definition->GetParameters();
    std::vector<double> weights;
    for (int i = 0; i <= kParents; ++i)
        weights.push_back(0.5 + 0.25 * (i % 4));
    for (auto _ : state) {
        if (adder)
            static_cast<QNL_noisyAdder*>(definition)->SetWeights(weights);
        else
            definition->SetDefinition(parameters);
        benchmark::DoNotOptimize(definition->GetCpt().GetItems().Items()[0]);
    }
    state.counters["columns"] = static_cast<double>(definition->GetCpt().GetSize() / 3);
}
BENCHMARK(BM_NoisyTableRebuild)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
