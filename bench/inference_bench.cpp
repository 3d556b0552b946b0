// Belief updating end to end through QNL_network::UpdateBeliefs: the reduction, the
// triangulation, the tables and one full propagation on networks without evidence, and one
// update after evidence on a tenth of the nodes. Random banded DAGs and binary grids.

#include "quarn.h"

#include "bench_networks.h"
#include "inference/bayesian_algorithms.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using quarn_bench::Next;

struct Case {
    const char* name;
    bool grid;
    int size;
};

const Case kCases[] = {
    {"dag200", false, 200}, {"dag1000", false, 1000}, {"dag5000", false, 5000},
    {"grid8x8", true, 8},   {"grid12x12", true, 12},  {"grid16x16", true, 16},
};

std::unique_ptr<QNL_network> Build(const Case& c, std::vector<int>& handles) {
    auto net = std::make_unique<QNL_network>();
    // Two to four outcomes, parents among the 15 nodes before each.
    handles = c.grid ? quarn_bench::BuildGrid(*net, c.size, c.size)
                     : quarn_bench::BuildRandomDag(*net, c.size, 4, 15);
    return net;
}

void BM_UpdateWithoutEvidence(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    state.SetLabel(c.name);
    std::vector<int> handles;
    auto net = Build(c, handles);
    for (auto _ : state) {
        if (net->UpdateBeliefs() != 0) state.SkipWithError("update failed");
    }
    state.counters["nodes"] = static_cast<double>(handles.size());
}
BENCHMARK(BM_UpdateWithoutEvidence)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

void BM_UpdateAfterEvidence(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    state.SetLabel(c.name);
    std::vector<int> handles;
    auto net = Build(c, handles);
    std::uint64_t seed = 23;
    for (std::size_t i = 0; i < handles.size() / 10; ++i) {
        const int h = handles[static_cast<std::size_t>(Next(seed) % handles.size())];
        QNL_nodeValue* value = net->GetNode(h)->GetValue();
        if (value->IsObserved()) continue;
        const int outcomes = net->GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
        value->SetEvidence(static_cast<int>(Next(seed) % static_cast<std::uint64_t>(outcomes)));
    }
    for (auto _ : state) {
        if (net->UpdateBeliefs() != 0) state.SkipWithError("update failed");
    }
    state.counters["nodes"] = static_cast<double>(handles.size());
}
BENCHMARK(BM_UpdateAfterEvidence)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

} // namespace
