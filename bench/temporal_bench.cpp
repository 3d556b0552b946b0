// Dynamic networks: unrolling a 20-node plate over 100 and 1,000 slices, a belief update with
// a fresh unrolling, and an update after only the evidence changed, which reuses the kept
// unrolling and its join trees.

#include "inference/temporal_unrolling.h"
#include "quarn.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int kPlate = 20;

// Two hidden chains of ten plate nodes: the head of each feeds itself in the next slice and,
// with order 2, the other head; the rest of each chain hangs below its head in the slice.
void Build(QNL_network& net, int slices) {
    int previous = -1;
    for (int i = 0; i < kPlate; ++i) {
        const int node = net.AddNode(QNL_TYPE_CPT, ("p" + std::to_string(i)).c_str());
        net.SetTemporalType(node, 3);
        if (i % 10 != 0) net.AddArc(previous, node);
        previous = node;
    }
    net.AddTemporalArc(0, 0, 1);
    net.AddTemporalArc(10, 10, 1);
    net.AddTemporalArc(0, 10, 2);
    net.SetNumberOfSlices(slices);
    net.SetSliceEvidence(9, slices - 1, 0);
}

void BM_Unroll(benchmark::State& state) {
    QNL_network net;
    Build(net, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QNL_network unrolled;
        quarn::detail::SliceCopies where;
        if (quarn::detail::UnrollTemporalNetwork(net, unrolled, where) != 0)
            state.SkipWithError("unrolling failed");
    }
    state.counters["nodes"] = static_cast<double>(kPlate * state.range(0));
}
BENCHMARK(BM_Unroll)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_FreshUpdate(benchmark::State& state) {
    QNL_network net;
    Build(net, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        net.GetTemporalNetwork().SetUnrolled(nullptr);
        if (net.UpdateBeliefs() != 0) state.SkipWithError("update failed");
    }
}
BENCHMARK(BM_FreshUpdate)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_EvidenceUpdate(benchmark::State& state) {
    const int slices = static_cast<int>(state.range(0));
    QNL_network net;
    Build(net, slices);
    net.UpdateBeliefs();
    int outcome = 0;
    for (auto _ : state) {
        outcome = 1 - outcome;
        net.SetSliceEvidence(9, slices - 1, outcome);
        if (net.UpdateBeliefs() != 0) state.SkipWithError("update failed");
    }
}
BENCHMARK(BM_EvidenceUpdate)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
