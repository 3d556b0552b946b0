// Exact work on long networks, at n and 4n steps: a binary hidden chain with an observed child
// per step. The relevance decompositions (batched and not) with no target, and with the
// hidden nodes targeted, beside one clustering of the same network; and EM over records that
// observe every child, a few passes.

#include "quarn.h"

#include "bench_networks.h"
#include "inference/join_tree_cache.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct Chain {
    std::vector<int> hidden;
    std::vector<int> observed;
};

// Hidden nodes and their children interleaved, handles in creation order; the findings
// alternate with the step.
Chain BuildChain(QNL_network& net, int steps, bool findings) {
    Chain chain;
    const int control = net.GetNotificationControl();
    net.SetNotificationControl(0);
    for (int t = 0; t < steps; ++t) {
        chain.hidden.push_back(quarn_bench::AddNode(net, 2 * t, 2));
        chain.observed.push_back(quarn_bench::AddNode(net, 2 * t + 1, 2));
        if (t > 0) net.AddArc(chain.hidden[static_cast<std::size_t>(t - 1)], chain.hidden.back());
        net.AddArc(chain.hidden.back(), chain.observed.back());
    }
    std::vector<int> all = chain.hidden;
    all.insert(all.end(), chain.observed.begin(), chain.observed.end());
    quarn_bench::FillTables(net, all, 23);
    net.SetNotificationControl(control);
    if (findings) {
        const QNL_evidenceBatch batch(net);
        for (int t = 0; t < steps; ++t)
            net.GetNode(chain.observed[static_cast<std::size_t>(t)])
                ->GetValue()
                ->SetEvidence(t % 2);
    }
    return chain;
}

// Arguments: algorithm, steps, whether the hidden nodes are targets (none otherwise), and the
// limit of the unbatched attempts ("QNL_REL_DECOMP_THRESHOLD2"; 0: its default). Each update
// starts from nothing kept, as the first update after the findings does. Counters per update:
// clusterings of the network (each a relevance reduction), triangulations run, trees built.
void BM_ChainUpdate(benchmark::State& state) {
    QNL_network net;
    const Chain chain = BuildChain(net, static_cast<int>(state.range(1)), true);
    if (state.range(2) != 0)
        for (int h : chain.hidden)
            net.SetTarget(h);
    if (state.range(3) != 0)
        net.GetUserProperties().AddProperty("QNL_REL_DECOMP_THRESHOLD2",
                                            std::to_string(state.range(3)).c_str());
    net.SetDefaultBNAlgorithm(static_cast<int>(state.range(0)));
    quarn::detail::JoinTreeCache& cache = net.GetJoinTreeCache();
    const std::uint64_t builds = cache.GetBuildCount();
    const std::uint64_t reductions = cache.GetReduceCount();
    const std::uint64_t triangulations = cache.GetTriangulationCount();
    for (auto _ : state) {
        state.PauseTiming();
        cache.Clear();
        net.InvalidateValues();
        state.ResumeTiming();
        if (net.UpdateBeliefs() != 0) state.SkipWithError("update failed");
    }
    const double n = static_cast<double>(state.iterations());
    if (n == 0) return;
    state.counters["built"] = static_cast<double>(cache.GetBuildCount() - builds) / n;
    state.counters["clusterings"] = static_cast<double>(cache.GetReduceCount() - reductions) / n;
    state.counters["triangulations"] =
        static_cast<double>(cache.GetTriangulationCount() - triangulations) / n;
}
BENCHMARK(BM_ChainUpdate)
    ->ArgNames({"alg", "steps", "targeted", "limit"})
    ->Args({0, 2000, 0, 0})
    ->Args({0, 8000, 0, 0})
    ->Args({11, 2000, 0, 0})
    ->Args({11, 8000, 0, 0})
    ->Args({11, 2000, 1, 0})
    ->Args({11, 8000, 1, 0})
    ->Args({12, 2000, 0, 4096})
    ->Args({12, 8000, 0, 4096})
    ->Args({12, 2000, 1, 4096})
    ->Args({12, 8000, 1, 4096})
    ->Args({0, 11000, 0, 0})
    ->Args({0, 44000, 0, 0})
    ->Args({12, 11000, 0, 0})
    ->Args({12, 44000, 0, 0})
    ->Unit(benchmark::kMillisecond);

// Stops a run after a number of passes: Continue is asked once per record.
struct PassLimit : QNL_emProgress {
    long long calls = 0;
    long long stopAt = 0;
    bool Continue() override { return ++calls <= stopAt; }
};

// Arguments: steps, passes. Three records, each observing every child (the findings of the
// record number), the hidden nodes missing; tables learned from the chain's own.
void BM_EmLongRecords(benchmark::State& state) {
    const int steps = static_cast<int>(state.range(0));
    const int passes = static_cast<int>(state.range(1));
    const int records = 3;
    QNL_network truth;
    const Chain chain = BuildChain(truth, steps, false);
    QNL_dataset data;
    int column = 0;
    for (int h = truth.GetFirstNode(); h >= 0; h = truth.GetNextNode(h), ++column) {
        data.addIntVariable(truth.GetNode(h)->GetId(), nullptr, -1);
        data.setNodeHandle(column, h);
    }
    std::vector<QNL_datasetCell> cells(static_cast<std::size_t>(column));
    for (int r = 0; r < records; ++r) {
        column = 0;
        for (int h = truth.GetFirstNode(); h >= 0; h = truth.GetNextNode(h), ++column)
            cells[static_cast<std::size_t>(column)] =
                QNL_IntCell(h % 2 == 1 ? (h / 2 + r) % 2 : -1);
        data.addRecord(cells);
    }
    for (auto _ : state) {
        state.PauseTiming();
        QNL_network learned(truth);
        PassLimit limit;
        limit.stopAt = static_cast<long long>(passes) * records;
        state.ResumeTiming();
        QNL_em em(3, passes + 1);
        if (em.Learn(data, learned, QNL_emParams(), &limit) != 0) state.SkipWithError("EM failed");
        state.counters["passes"] = static_cast<double>(limit.calls - 1) / records;
    }
}
BENCHMARK(BM_EmLongRecords)
    ->ArgNames({"steps", "passes"})
    ->Args({1500, 3})
    ->Args({6000, 3})
    ->Args({2000, 5})
    ->Args({8000, 5})
    ->Unit(benchmark::kMillisecond);

} // namespace
