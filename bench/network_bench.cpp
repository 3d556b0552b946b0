// Building, editing and copying large networks: the work every file reader and every
// algorithm's private copy does before any inference starts.

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

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

// Bulk edits on chains of two-outcome nodes (Arg 0) and on random networks of two to four
// outcomes with up to three parents among the 40 nodes before each (Arg 1), at the node counts
// of Arg 1: each should grow with the network, about four times for four times the nodes.
void BuildLarge(QNL_network& net, int nodes, bool random) {
    if (random) {
        quarn_bench::BuildRandomDag(net, nodes, 4, 40);
        return;
    }
    for (int i = 0; i < nodes; ++i) {
        const int handle = net.AddNode(QNL_TYPE_CPT, ("n" + std::to_string(i)).c_str());
        if (i > 0) net.AddArc(handle - 1, handle);
    }
}

void BM_BuildLarge(benchmark::State& state) {
    for (auto _ : state) {
        QNL_network net;
        BuildLarge(net, static_cast<int>(state.range(1)), state.range(0) == 1);
        benchmark::DoNotOptimize(net.GetNumberOfNodes());
    }
}
BENCHMARK(BM_BuildLarge)
    ->ArgsProduct({{0, 1}, {5000, 20000, 80000}})
    ->Unit(benchmark::kMillisecond);

// Every other node takes a new identifier; the next iteration gives the old ones back.
void BM_RenameEveryOtherNode(benchmark::State& state) {
    QNL_network net;
    const int nodes = static_cast<int>(state.range(1));
    BuildLarge(net, nodes, state.range(0) == 1);
    bool renamed = false;
    for (auto _ : state) {
        const char* prefix = renamed ? "n" : "r";
        for (int h = 0; h < nodes; h += 2)
            net.GetNode(h)->SetId((prefix + std::to_string(h)).c_str());
        renamed = !renamed;
    }
}
BENCHMARK(BM_RenameEveryOtherNode)
    ->ArgsProduct({{0, 1}, {5000, 20000}})
    ->Unit(benchmark::kMillisecond);

// The network written once in the format of Arg 2 (0 ".qnl", 1 ".erg"), then read per
// iteration.
void BM_ReadLarge(benchmark::State& state) {
    const std::string path = "/tmp/quarn_network_bench_" + std::to_string(::getpid()) +
                             (state.range(2) == 0 ? ".qnl" : ".erg");
    {
        QNL_network source;
        BuildLarge(source, static_cast<int>(state.range(1)), state.range(0) == 1);
        if (source.WriteFile(path.c_str()) != 0) {
            state.SkipWithError("write failed");
            return;
        }
    }
    for (auto _ : state) {
        QNL_network copy;
        if (copy.ReadFile(path.c_str()) != 0) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(copy.GetNumberOfNodes());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_ReadLarge)
    ->ArgsProduct({{0, 1}, {5000, 20000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

} // namespace
