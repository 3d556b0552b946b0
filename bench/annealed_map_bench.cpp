// Annealed MAP over 10 nodes of alarm and of hailfinder with evidence on every tenth of the
// other nodes (at an outcome of a forward sample, so it is possible). Counters: the belief
// updates of one search and the join trees they compiled. Networks whose file is missing or
// does not read are left out.
//
// `AnnealedMAPBand/<n>`: a band network of 2n binary nodes (each node's parents the two before
// it) with the n even nodes as MAP nodes and a finding on the last node, default tuning. The
// time is one search; `search_us` its CPU time per belief update, everything counted (the
// greedy start, whose updates compile a tree each, and the trees of the steps). `step_us` is a
// step made alone, for each MAP node, in a copy of the network where the other MAP nodes hold
// outcomes (the changed outcomes entered again, the update), `update_us` the update in it,
// `x_update` the first over the second.
//
// `AnnealedMAPMemory/<n>`: the same band with n MAP nodes, one search per iteration; `peak_MB`
// is the most heap the search held at once beyond what was live when it began (the program
// counts the usable size of every block its own allocator entry points hand out and take
// back), `compilations` and `updates` those of the search.

#include "quarn.h"

#include "inference/annealed_map.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <malloc.h>
#include <string>
#include <vector>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {
std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};

void* Counted(void* p) {
    if (p == nullptr) return p;
    const auto size = static_cast<std::int64_t>(malloc_usable_size(p));
    const std::int64_t now = liveBytes.fetch_add(size) + size;
    std::int64_t peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void Uncount(void* p) {
    if (p != nullptr) liveBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
}
} // namespace

// Every allocation of the process, the library's included, comes through these. A sanitizer
// brings its own allocator: there nothing is counted.
#ifndef __SANITIZE_ADDRESS__
extern "C" {
void* malloc(std::size_t n) {
    return Counted(__libc_malloc(n));
}
void* calloc(std::size_t n, std::size_t size) {
    return Counted(__libc_calloc(n, size));
}
void* realloc(void* p, std::size_t n) {
    Uncount(p);
    void* q = __libc_realloc(p, n);
    // A failed reallocation leaves the old block in place.
    return Counted(q != nullptr || n == 0 ? q : p);
}
void free(void* p) {
    Uncount(p);
    __libc_free(p);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    void* p = Counted(__libc_memalign(alignment, n));
    if (p == nullptr) return 12; // ENOMEM
    *out = p;
    return 0;
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    return Counted(__libc_memalign(alignment, n));
}
}
#endif

namespace {

struct Problem {
    QNL_network net;
    std::vector<int> map, evidenceNodes, evidenceOutcomes;
};

// MAP nodes every fifth node from the first; evidence every tenth from the third, at
// outcome 0 unless that makes the evidence impossible.
void Choose(Problem& p) {
    std::vector<int> all;
    for (int h = p.net.GetFirstNode(); h >= 0; h = p.net.GetNextNode(h))
        all.push_back(h);
    for (std::size_t i = 0; i < all.size() && p.map.size() < 10; i += 5)
        p.map.push_back(all[i]);
    for (std::size_t i = 3; i < all.size(); i += 10) {
        QNL_nodeValue* value = p.net.GetNode(all[i])->GetValue();
        value->SetEvidence(0);
        double pe = 0.0;
        if (!p.net.CalcPropEvidence(pe) || !(pe > 0.0)) {
            value->ClearEvidence();
            continue;
        }
        p.evidenceNodes.push_back(all[i]);
        p.evidenceOutcomes.push_back(0);
    }
    p.net.ClearAllEvidence();
}

void Search(benchmark::State& state, Problem* p) {
    QNL_annealedMAP search;
    for (auto _ : state) {
        QNL_network copy(p->net);
        std::vector<int> assignment(p->map.size(), 0);
        double probability = 0.0, pe = 0.0;
        if (search.Run(copy, p->map, assignment, p->evidenceNodes, p->evidenceOutcomes, probability,
                       pe, 11, p->net.GetAnnealedMapTuning()) != 0) {
            state.SkipWithError("search failed");
            return;
        }
    }
    state.counters["updates"] = static_cast<double>(search.GetUpdateCount());
    state.counters["compilations"] = static_cast<double>(search.GetCompilationCount());
    state.counters["passes"] = static_cast<double>(search.GetPassCount());
}

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

struct Band {
    QNL_network net;
    std::vector<int> map, evidenceNodes, evidenceOutcomes;
};

void BuildBand(Band& band, int n) {
    std::vector<int> h;
    for (int i = 0; i < 2 * n; ++i)
        h.push_back(quarn_bench::AddNode(band.net, i, 2));
    for (int i = 1; i < 2 * n; ++i) {
        band.net.AddArc(h[static_cast<std::size_t>(i - 1)], h[static_cast<std::size_t>(i)]);
        if (i >= 2)
            band.net.AddArc(h[static_cast<std::size_t>(i - 2)], h[static_cast<std::size_t>(i)]);
    }
    quarn_bench::FillTables(band.net, h, 3);
    for (int i = 0; i < 2 * n; i += 2)
        band.map.push_back(h[static_cast<std::size_t>(i)]);
    band.evidenceNodes.push_back(h.back());
    band.evidenceOutcomes.push_back(0);
}

// A search step in each view alone, as the search makes it: the MAP outcomes that changed
// since the view's last step withdrawn and entered again (two here, with the view's notices
// off, after a pass over every MAP node), the view's node made the only target, then the
// update. Seconds per step with everything counted (`step`) and of the update alone
// (`update`), over every view; the first update of a view, which compiles its tree, is left
// out of both.
struct StepSeconds {
    double step = 0.0, update = 0.0;
};

StepSeconds ViewStepSeconds(const Band& band, int stepsPerView) {
    StepSeconds out;
    const std::size_t n = band.map.size();
    for (std::size_t i = 0; i < n; ++i) {
        QNL_network view(band.net);
        view.GetNode(band.evidenceNodes[0])->GetValue()->SetEvidence(band.evidenceOutcomes[0]);
        std::vector<int> entered(n, 0), current(n, 0);
        for (std::size_t j = 0; j < n; ++j)
            if (j != i) view.GetNode(band.map[j])->GetValue()->SetEvidence(0);
        for (int k = -1; k < stepsPerView; ++k) {
            current[(i + 1) % n] = (k + 2) % 2;
            current[(i + 2) % n] = (k + 2) % 2;
            const double start = ThreadSeconds();
            const int control = view.GetNotificationControl();
            view.SetNotificationControl(control & ~QNL_network::NOTIFY_ON);
            for (std::size_t j = 0; j < n; ++j) {
                if (j == i || entered[j] == current[j]) continue;
                QNL_nodeValue* value = view.GetNode(band.map[j])->GetValue();
                value->ClearEvidence();
                value->SetEvidence(current[j]);
                entered[j] = current[j];
            }
            view.SetNotificationControl(control);
            view.ClearAllTargets();
            view.SetTarget(band.map[i]);
            const double entry = ThreadSeconds();
            view.InvalidateValues();
            view.UpdateBeliefs();
            const double end = ThreadSeconds();
            if (k < 0) continue;
            out.step += end - start;
            out.update += end - entry;
        }
    }
    const double steps = static_cast<double>(n) * stepsPerView;
    out.step /= steps;
    out.update /= steps;
    return out;
}

void SearchBand(benchmark::State& state) {
    Band band;
    BuildBand(band, static_cast<int>(state.range(0)));
    QNL_annealedMAP search;
    double searchSeconds = 0.0;
    std::uint64_t updates = 0;
    for (auto _ : state) {
        QNL_network copy(band.net);
        std::vector<int> assignment(band.map.size(), 0);
        double probability = 0.0, pe = 0.0;
        const double start = ThreadSeconds();
        if (search.Run(copy, band.map, assignment, band.evidenceNodes, band.evidenceOutcomes,
                       probability, pe, 11, band.net.GetAnnealedMapTuning()) != 0) {
            state.SkipWithError("search failed");
            return;
        }
        searchSeconds += ThreadSeconds() - start;
        updates += search.GetUpdateCount();
    }
    const StepSeconds alone = ViewStepSeconds(band, 5);
    state.counters["search_us"] =
        updates > 0 ? searchSeconds / static_cast<double>(updates) * 1e6 : 0.0;
    state.counters["step_us"] = alone.step * 1e6;
    state.counters["update_us"] = alone.update * 1e6;
    state.counters["x_update"] = alone.update > 0.0 ? alone.step / alone.update : 0.0;
    state.counters["passes"] = static_cast<double>(search.GetPassCount());
}

void SearchMemory(benchmark::State& state) {
    Band band;
    BuildBand(band, static_cast<int>(state.range(0)));
    QNL_annealedMAP search;
    double peak = 0.0;
    for (auto _ : state) {
        QNL_network copy(band.net);
        std::vector<int> assignment(band.map.size(), 0);
        double probability = 0.0, pe = 0.0;
        const std::int64_t start = liveBytes.load();
        peakBytes.store(start);
        if (search.Run(copy, band.map, assignment, band.evidenceNodes, band.evidenceOutcomes,
                       probability, pe, 11, band.net.GetAnnealedMapTuning()) != 0) {
            state.SkipWithError("search failed");
            return;
        }
        peak = std::max(peak, static_cast<double>(peakBytes.load() - start));
    }
    state.counters["peak_MB"] = peak / (1 << 20);
    state.counters["compilations"] = static_cast<double>(search.GetCompilationCount());
    state.counters["updates"] = static_cast<double>(search.GetUpdateCount());
    state.counters["passes"] = static_cast<double>(search.GetPassCount());
}

int Register() {
    benchmark::RegisterBenchmark("AnnealedMAPMemory", SearchMemory)
        ->Arg(100)
        ->Arg(400)
        ->Arg(1000)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("AnnealedMAPBand", SearchBand)
        ->Arg(40)
        ->Arg(80)
        ->Arg(160)
        ->Unit(benchmark::kMillisecond);
    for (const char* name : {"alarm", "hailfinder"}) {
        const std::string path =
            std::string(QUARN_SHARED_DIR) + "/data/networks/net/" + name + ".net";
        if (!std::ifstream(path).good()) continue;
        auto* p = new Problem();
        if (p->net.ReadFile(path.c_str(), 0) != 0) {
            delete p;
            continue;
        }
        Choose(*p);
        benchmark::RegisterBenchmark((std::string("AnnealedMAP/") + name).c_str(), Search, p)
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}

const int registered = Register();

} // namespace
