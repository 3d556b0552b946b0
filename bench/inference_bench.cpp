// Belief updating end to end through QNL_network::UpdateBeliefs: the reduction, the
// triangulation, the tables and one full propagation on networks without evidence, and one
// update after evidence on a tenth of the nodes. Random banded DAGs and binary grids.

#include "quarn.h"

#include "inference/bayesian_algorithms.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

std::uint64_t Next(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Uniform(std::uint64_t& state) {
    return static_cast<double>(Next(state) >> 11) * 0x1.0p-53;
}

int AddNode(QNL_network& net, int index, int outcomes) {
    const int handle = net.AddNode(QNL_TYPE_CPT, ("n" + std::to_string(index)).c_str());
    net.GetNode(handle)->GetDefinition()->SetNumberOfOutcomes(outcomes);
    return handle;
}

// Tables without zero cells, so any evidence is possible.
void FillTables(QNL_network& net, const std::vector<int>& handles, std::uint64_t seed) {
    for (int handle : handles) {
        QNL_nodeDefinition* definition = net.GetNode(handle)->GetDefinition();
        const int outcomes = definition->GetNumberOfOutcomes();
        QNL_doubleArray values;
        values.SetSize(definition->GetMatrix()->GetSize());
        for (int start = 0; start < values.GetSize(); start += outcomes) {
            double sum = 0.0;
            for (int k = 0; k < outcomes; ++k)
                sum += values[start + k] = 0.05 + Uniform(seed);
            for (int k = 0; k < outcomes; ++k)
                values[start + k] /= sum;
        }
        definition->SetDefinition(values);
    }
}

std::vector<int> BuildGrid(QNL_network& net, int side) {
    std::vector<int> h;
    for (int i = 0; i < side * side; ++i)
        h.push_back(AddNode(net, i, 2));
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            const int cell = h[static_cast<std::size_t>(r * side + c)];
            if (r > 0) net.AddArc(h[static_cast<std::size_t>((r - 1) * side + c)], cell);
            if (c > 0) net.AddArc(h[static_cast<std::size_t>(r * side + c - 1)], cell);
        }
    FillTables(net, h, 11);
    return h;
}

// Two to four outcomes, up to three parents among the 15 nodes before each (parents drawn
// from all earlier nodes give a treewidth no exact method handles at these sizes).
std::vector<int> BuildRandomDag(QNL_network& net, int nodes) {
    std::uint64_t seed = 5;
    std::vector<int> h;
    for (int i = 0; i < nodes; ++i)
        h.push_back(AddNode(net, i, 2 + static_cast<int>(Next(seed) % 3)));
    for (int i = 1; i < nodes; ++i) {
        const int parents = static_cast<int>(Next(seed) % 4);
        const int span = i < 15 ? i : 15;
        for (int k = 0; k < parents; ++k) {
            const int parent =
                i - 1 - static_cast<int>(Next(seed) % static_cast<std::uint64_t>(span));
            net.AddArc(h[static_cast<std::size_t>(parent)], h[static_cast<std::size_t>(i)]);
        }
    }
    FillTables(net, h, 17);
    return h;
}

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
    handles = c.grid ? BuildGrid(*net, c.size) : BuildRandomDag(*net, c.size);
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
