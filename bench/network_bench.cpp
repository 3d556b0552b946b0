// Building, editing and copying large networks: the work every file reader and every
// algorithm's private copy does before any inference starts.

#include "quarn.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A layered network: each node after the first layer takes up to three parents from the
// layer above, so tables stay small while the graph is wide and deep.
void Build(QNL_network& net, int nodes) {
    const int layer = 50;
    for (int i = 0; i < nodes; ++i) {
        const int handle = net.AddNode(QNL_TYPE_CPT, ("n" + std::to_string(i)).c_str());
        if (handle < 0) return;
        if (i < layer) continue;
        const int previousLayer = (i / layer - 1) * layer;
        for (int k = 0; k < 3; ++k)
            net.AddArc(previousLayer + (i * 7 + k * 13) % layer, i);
    }
}

void BM_BuildNetwork(benchmark::State& state) {
    for (auto _ : state) {
        QNL_network net;
        Build(net, static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(net.GetNumberOfNodes());
    }
}
BENCHMARK(BM_BuildNetwork)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_CopyNetwork(benchmark::State& state) {
    QNL_network source;
    Build(source, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QNL_network copy(source);
        benchmark::DoNotOptimize(copy.GetNumberOfNodes());
    }
}
BENCHMARK(BM_CopyNetwork)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_EditNetwork(benchmark::State& state) {
    QNL_network net;
    const int nodes = static_cast<int>(state.range(0));
    Build(net, nodes);
    for (auto _ : state) {
        // Grow every tenth node by one outcome and take it back: children's tables follow.
        for (int h = 0; h < nodes; h += 10) {
            QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
            definition->AddOutcome("extra");
            definition->RemoveOutcome(definition->GetNumberOfOutcomes() - 1);
        }
    }
}
BENCHMARK(BM_EditNetwork)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

// Outcomes added one by one, as a host adds the values of an identifier-like column: to a
// root (Arg 0), to a node with a child, whose table follows each addition (Arg 1), and to a
// noisy-MAX node with a child (Arg 2).
void BM_AddOutcomes(benchmark::State& state) {
    const int count = 50000;
    for (auto _ : state) {
        QNL_network net;
        const int node = net.AddNode(state.range(0) == 2 ? QNL_TYPE_NOISY_MAX : QNL_TYPE_CPT, "A");
        if (state.range(0) > 0) net.AddArc(node, net.AddNode(QNL_TYPE_CPT, "B"));
        QNL_nodeDefinition* definition = net.GetNode(node)->GetDefinition();
        for (int i = definition->GetNumberOfOutcomes(); i < count; ++i)
            definition->AddOutcome(("v" + std::to_string(i)).c_str());
        benchmark::DoNotOptimize(definition->GetNumberOfOutcomes());
    }
}
BENCHMARK(BM_AddOutcomes)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_OrderAndEvidence(benchmark::State& state) {
    QNL_network net;
    const int nodes = static_cast<int>(state.range(0));
    Build(net, nodes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(net.GetOrderedNodes().GetCount());
        for (int h = nodes - 1; h >= nodes - 20; --h)
            net.GetNode(h)->GetValue()->SetEvidence(0);
        net.ClearAllEvidence();
    }
}
BENCHMARK(BM_OrderAndEvidence)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace
