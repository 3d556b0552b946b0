// Fresh evidence updates on the small real networks: the findings alternate between two sets
// of observed nodes, and the kept reductions and trees are dropped before each update, so every
// update makes its reduction, triangulation and join tree anew (what an update after the set
// of observed nodes changed costs). Counter `allocations`: calls of the C allocator (malloc,
// calloc, realloc, aligned allocations; operator new goes through malloc) per timed update,
// counted by this program's own allocator entry points. Networks whose file is missing are
// not registered.

#include "quarn.h"

#include "bench_networks.h"
#include "inference/join_tree_cache.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {
std::atomic<std::uint64_t> allocations{0};
} // namespace

// Every allocation of the process, the library's included, comes through these. A sanitizer
// brings its own allocator: there nothing is counted.
#ifndef __SANITIZE_ADDRESS__
extern "C" {
void* malloc(std::size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    void* p = __libc_memalign(alignment, n);
    if (p == nullptr) return 12; // ENOMEM
    *out = p;
    return 0;
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, n);
}
}
#endif

namespace {

using quarn_bench::FormatOf;
using quarn_bench::NetworkFile;
using quarn_bench::PathOf;

const char* const kNetworks[] = {"alarm", "hailfinder", "win95pts"};

// Findings on `count` nodes drawn from a fixed stream, each at an outcome that one forward
// draw of the network gives (so the evidence is possible).
std::vector<std::pair<int, int>> DrawFindings(QNL_network& net, std::uint64_t seed, int count) {
    const std::vector<int> outcome = quarn_bench::ForwardSample(net, 101);
    QNL_intArray all;
    net.GetAllNodes(all);
    std::vector<std::pair<int, int>> findings;
    for (int k = 0; k < count; ++k) {
        const int h = all[static_cast<int>(quarn_bench::Next(seed) %
                                           static_cast<std::uint64_t>(all.GetCount()))];
        findings.emplace_back(h, outcome[static_cast<std::size_t>(h)]);
    }
    return findings;
}

void Enter(QNL_network& net, const std::vector<std::pair<int, int>>& findings) {
    QNL_evidenceBatch batch(net);
    net.ClearAllEvidence();
    for (const auto& f : findings) {
        QNL_nodeValue* value = net.GetNode(f.first)->GetValue();
        if (!value->IsObserved()) value->SetEvidence(f.second);
    }
}

void BM_FreshUpdate(benchmark::State& state, std::string path) {
    auto net = std::make_unique<QNL_network>();
    if (net->ReadFile(path.c_str(), FormatOf(path)) != 0) return state.SkipWithError("read");
    const int count = std::max(1, net->GetNumberOfNodes() / 10);
    const std::vector<std::pair<int, int>> sets[2] = {DrawFindings(*net, 31, count),
                                                      DrawFindings(*net, 47, count)};
    quarn::detail::JoinTreeCache& cache = net->GetJoinTreeCache();
    // Both sets a few times, so that whatever the cache keeps for reuse is there: what it
    // recycles grows to fit both over the first rounds.
    for (int round = 0; round < 4; ++round)
        for (const auto& set : sets) {
            Enter(*net, set);
            cache.Clear();
            if (net->UpdateBeliefs() != 0) return state.SkipWithError("update failed");
        }
    std::uint64_t counted = 0;
    std::uint64_t builds = cache.GetBuildCount();
    bool odd = false;
    for (auto _ : state) {
        odd = !odd;
        Enter(*net, sets[odd ? 1 : 0]);
        cache.Clear();
        const std::uint64_t before = allocations.load();
        const auto start = std::chrono::steady_clock::now();
        if (net->UpdateBeliefs() != 0) state.SkipWithError("update failed");
        const auto stop = std::chrono::steady_clock::now();
        counted += allocations.load() - before;
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
    const double n = static_cast<double>(state.iterations());
    if (n == 0) return;
    state.counters["allocations"] = static_cast<double>(counted) / n;
    state.counters["built"] = static_cast<double>(cache.GetBuildCount() - builds) / n;
    state.counters["observed"] = count;
}

const bool kRegistered = [] {
    for (const char* name : kNetworks)
        for (const NetworkFile& file : quarn_bench::kRealNetworks) {
            if (name != std::string(file.name) || !quarn_bench::Exists(PathOf(file))) continue;
            benchmark::RegisterBenchmark(("FreshUpdate/" + std::string(name)).c_str(),
                                         BM_FreshUpdate, PathOf(file))
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond);
        }
    return true;
}();

} // namespace
