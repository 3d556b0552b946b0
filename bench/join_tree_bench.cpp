// Exact inference on networks too large to enumerate: building the clustering join tree
// (triangulation, linking, family assignment), one propagation over it (potentials, collect,
// distribute), the whole update with beliefs, and the triangulation alone on large graphs.

#include "quarn.h"

#include "bench_networks.h"
#include "inference/clustering_join_tree.h"
#include "inference/graph_view.h"
#include "inference/join_tree_cache.h"
#include "inference/relevance.h"
#include "inference/triangulator.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <malloc.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using quarn_bench::BuildGrid;
using quarn_bench::Next;

// A reduced network with its largest component, kept for the benchmark loop.
struct Prepared {
    QNL_network net;
    QNL_componentList components;
    QNL_relevanceComponent* largest = nullptr;
};

std::unique_ptr<Prepared> Prepare(int kind) {
    auto p = std::make_unique<Prepared>();
    const int control = p->net.GetNotificationControl();
    p->net.SetNotificationControl(0);
    if (kind == 0)
        BuildGrid(p->net, 14, 14);
    else if (kind == 1)
        quarn_bench::BuildRandomDag(p->net, 1000, 3, 20); // binary to ternary
    else if (kind == 2)
        BuildGrid(p->net, 8, 125);
    else
        BuildGrid(p->net, 20, 20);
    p->net.SetNotificationControl(control);
    QNL_relevance::Reduce(p->net, true, true, p->components);
    for (int i = 0; i < p->components.GetCount(); ++i)
        if (p->largest == nullptr ||
            p->components[i]->GetNumberOfRecords() > p->largest->GetNumberOfRecords())
            p->largest = p->components[i];
    return p;
}

const char* KindName(int kind) {
    static const char* const names[] = {"grid14x14", "dag1000", "grid8x125", "grid20x20"};
    return names[kind];
}

void Count(benchmark::State& state, const QNL_clusteringJoinTree& tree) {
    state.counters["cliques"] = tree.GetNumberOfCliques();
    state.counters["cells"] = static_cast<double>(tree.GetTotalWeight());
}

void BM_BuildTree(benchmark::State& state) {
    auto p = Prepare(static_cast<int>(state.range(0)));
    state.SetLabel(KindName(static_cast<int>(state.range(0))));
    QNL_graphView view(p->largest);
    QNL_clusteringJoinTree tree(view);
    for (auto _ : state) {
        if (!tree.Build(0)) state.SkipWithError("tree not built");
        benchmark::DoNotOptimize(tree.GetNumberOfCliques());
    }
    Count(state, tree);
}
BENCHMARK(BM_BuildTree)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// A 20 x 20 binary grid is beyond the elimination heuristic: some weight passes 2^30 and no
// record can be eliminated. How quickly that failure is found.
void BM_RefuseGrid20(benchmark::State& state) {
    auto p = Prepare(3);
    QNL_graphView view(p->largest);
    QNL_clusteringJoinTree tree(view);
    for (auto _ : state) {
        if (tree.Build(QNL_triangulator::EVIDENCE_CAP)) state.SkipWithError("unexpectedly built");
    }
    state.counters["failure"] = static_cast<double>(tree.GetFailure());
}
BENCHMARK(BM_RefuseGrid20)->Unit(benchmark::kMillisecond);

void BM_Propagate(benchmark::State& state) {
    auto p = Prepare(static_cast<int>(state.range(0)));
    state.SetLabel(KindName(static_cast<int>(state.range(0))));
    QNL_graphView view(p->largest);
    QNL_clusteringJoinTree tree(view);
    if (!tree.Build(0) || !tree.PropagateAll()) {
        state.SkipWithError("tree not built");
        return;
    }
    for (auto _ : state) {
        tree.PropagateAll();
        tree.Collect();
        tree.Distribute();
    }
    Count(state, tree);
}
BENCHMARK(BM_Propagate)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_Update(benchmark::State& state) {
    auto p = Prepare(static_cast<int>(state.range(0)));
    state.SetLabel(KindName(static_cast<int>(state.range(0))));
    QNL_graphView view(p->largest);
    for (auto _ : state) {
        QNL_clusteringJoinTree tree(view);
        if (!tree.Update(nullptr, 0)) state.SkipWithError("update failed");
    }
}
BENCHMARK(BM_Update)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_ProbabilityOfEvidence(benchmark::State& state) {
    auto p = Prepare(static_cast<int>(state.range(0)));
    state.SetLabel(KindName(static_cast<int>(state.range(0))));
    QNL_graphView view(p->largest);
    for (auto _ : state) {
        QNL_clusteringJoinTree tree(view);
        if (tree.ProbabilityOfEvidence() < 0.0) state.SkipWithError("no tree");
    }
}
BENCHMARK(BM_ProbabilityOfEvidence)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The triangulation alone on graphs of tens of thousands of records: a long banded DAG
// whose cliques stay small however many records there are.
void BM_Triangulate(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    quarn::detail::ComponentGraph graph;
    std::uint64_t seed = 3;
    for (int r = 0; r < records; ++r) {
        std::vector<int> parents;
        const int count = r == 0 ? 0 : static_cast<int>(Next(seed) % 4);
        for (int k = 0; k < count; ++k) {
            const int span = r < 8 ? r : 8;
            const int parent =
                r - 1 - static_cast<int>(Next(seed) % static_cast<std::uint64_t>(span));
            if (std::find(parents.begin(), parents.end(), parent) == parents.end())
                parents.push_back(parent);
        }
        graph.AddRecord(2, Next(seed) % 10 == 0 ? 0 : -1, parents);
    }
    std::uint64_t total = 0;
    int cliques = 0;
    for (auto _ : state) {
        QNL_cliqueStore store;
        QNL_triangulator triangulator(graph, store);
        if (!triangulator.Run(QNL_triangulator::EVIDENCE_CAP)) state.SkipWithError("failed");
        total = triangulator.GetTotalWeight();
        cliques = store.GetCount();
    }
    state.counters["cliques"] = cliques;
    state.counters["cells"] = static_cast<double>(total);
}
BENCHMARK(BM_Triangulate)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Random findings on 80% of munin's nodes, a new set every round, in one network: the cache
// keeps a tree per shape met again. Arguments: rounds, and the cache's budget in MiB (0: the
// default). Counters: the process's heap in use after a quarter of the rounds and at the end
// (mallinfo2), the trees kept, and what the cache counts at the end against its bounds (trees
// and those kept for building in; reductions) and holds in its pool.
void BM_CacheUnderRandomFindings(benchmark::State& state) {
    std::string path;
    for (const quarn_bench::NetworkFile& file : quarn_bench::kRealNetworks)
        if (std::string(file.name) == "munin") path = quarn_bench::PathOf(file);
    QNL_network net;
    if (!quarn_bench::Exists(path) || net.ReadFile(path.c_str(), quarn_bench::FormatOf(path)) != 0)
        return state.SkipWithError("munin is not available");
    QNL_intArray all;
    net.GetAllNodes(all);
    const int rounds = static_cast<int>(state.range(0));
    quarn::detail::JoinTreeCache& cache = net.GetJoinTreeCache();
    if (state.range(1) > 0) cache.SetBudget(static_cast<std::uint64_t>(state.range(1)) << 20);
    const auto heapInUse = [] {
        const struct mallinfo2 info = mallinfo2();
        return static_cast<double>(info.uordblks + info.hblkhd) / (1 << 20);
    };
    for (auto _ : state) {
        std::uint64_t seed = 41;
        for (int round = 0; round < rounds; ++round) {
            const std::vector<int> outcome = quarn_bench::ForwardSample(net, Next(seed));
            {
                QNL_evidenceBatch batch(net);
                net.ClearAllEvidence();
                for (int i = 0; i < all.GetCount(); ++i) {
                    QNL_nodeValue* value = net.GetNode(all[i])->GetValue();
                    if (Next(seed) % 5 != 0 && !value->IsObserved())
                        value->SetEvidence(outcome[static_cast<std::size_t>(all[i])]);
                }
            }
            if (net.UpdateBeliefs() != 0) return state.SkipWithError("update failed");
            if (round + 1 == rounds / 4) state.counters["heap_MB_quarter"] = heapInUse();
        }
    }
    const double mib = 1 << 20;
    state.counters["heap_MB_end"] = heapInUse();
    state.counters["trees_kept"] = cache.GetKeptCount();
    state.counters["kept_MB"] = static_cast<double>(cache.GetKeptBytes()) / mib;
    state.counters["reductions_MB"] = static_cast<double>(cache.GetReductionBytes()) / mib;
    state.counters["pooled_MB"] = static_cast<double>(cache.GetHeldCells()) * 8 / mib;
}
BENCHMARK(BM_CacheUnderRandomFindings)
    ->ArgNames({"rounds", "budget_MiB"})
    ->Args({2500, 0})
    ->Args({10000, 0})
    ->Args({2500, 16})
    ->Args({10000, 16})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace
