// Exact inference on the real networks of the shared data folder: reading each file, the
// first update without evidence (reduction, triangulation, tables, one propagation, all
// posteriors), one update after evidence on a tenth of the nodes, an update that changes only
// the evidence values (the kept join trees serve again), and one propagation alone over the
// kept trees. Each propagation is set against a streaming pass over as many doubles as the
// trees' tables hold, measured in the same run. Networks whose file is missing or does not
// read are left out; without the shared folder nothing is registered.

#include "quarn.h"

#include "bench_networks.h"
#include "inference/join_tree_cache.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using quarn_bench::Exists;
using quarn_bench::FormatOf;
using quarn_bench::NetworkFile;
using quarn_bench::PathOf;

// The same network in the other formats, for the reading benchmark only.
const NetworkFile kOtherFormats[] = {
    {"alarm.xml", "xmlbif/alarm.xml", false},
    {"alarm.dsc", "dsc/alarm.dsc", false},
};

using quarn_bench::ForwardSample;
using quarn_bench::Next;
using quarn_bench::Uniform;

// `share` of the nodes (at least one), drawn with a fixed seed; the draws of a larger share
// start with those of a smaller one.
std::vector<int> EvidenceNodes(QNL_network& net, double share = 0.1) {
    QNL_intArray all;
    net.GetAllNodes(all);
    std::vector<int> nodes(all.Items(), all.Items() + all.GetCount());
    std::uint64_t seed = 31;
    for (std::size_t i = nodes.size(); i > 1; --i)
        std::swap(nodes[i - 1], nodes[static_cast<std::size_t>(Next(seed) % i)]);
    nodes.resize(std::max<std::size_t>(1, static_cast<std::size_t>(nodes.size() * share)));
    return nodes;
}

void SetEvidence(QNL_network& net, const std::vector<int>& nodes, const std::vector<int>& outcome) {
    QNL_evidenceBatch batch(net);
    net.ClearAllEvidence();
    for (int h : nodes) {
        QNL_nodeValue* value = net.GetNode(h)->GetValue();
        // Implied already by evidence set before it (a deterministic relation).
        if (value->IsObserved()) continue;
        value->SetEvidence(outcome[static_cast<std::size_t>(h)]);
    }
}

// Every second finding cleared, then set again at the other outcome set's value, in one batch.
void ChangeHalf(QNL_network& net, const std::vector<int>& nodes, const std::vector<int>& outcome) {
    QNL_evidenceBatch batch(net);
    for (std::size_t i = 0; i < nodes.size(); i += 2) {
        QNL_nodeValue* value = net.GetNode(nodes[i])->GetValue();
        if (value->HasEvidence()) value->ClearEvidence();
    }
    for (std::size_t i = 0; i < nodes.size(); i += 2) {
        QNL_nodeValue* value = net.GetNode(nodes[i])->GetValue();
        if (value->IsObserved()) continue;
        value->SetEvidence(outcome[static_cast<std::size_t>(nodes[i])]);
    }
}

// The cells of the kept trees' clique tables, and the largest of them.
struct TreeSize {
    std::int64_t cells = 0;
    std::int64_t largest = 0;
    int cliques = 0;
};

TreeSize SizeOf(QNL_network& net) {
    TreeSize size;
    quarn::detail::JoinTreeCache& cache = net.GetJoinTreeCache();
    for (int i = 0; i < cache.GetCount(); ++i) {
        const QNL_clusteringJoinTree* tree = cache.GetTree(i);
        if (tree == nullptr) continue;
        size.cliques += tree->GetNumberOfCliques();
        for (int c = 0; c < tree->GetNumberOfCliques(); ++c) {
            const std::int64_t cells = tree->GetClique(c).potential.Size();
            size.cells += cells;
            size.largest = std::max(size.largest, cells);
        }
    }
    return size;
}

// Seconds of one multiply-add pass over `cells` doubles, the best of several.
double StreamingFloor(std::int64_t cells) {
    std::vector<double> buffer(static_cast<std::size_t>(std::max<std::int64_t>(cells, 1)), 1.0);
    double best = 1e30;
    const int passes = cells > 10000000 ? 5 : 30;
    for (int pass = 0; pass < passes; ++pass) {
        const auto start = std::chrono::steady_clock::now();
        double* d = buffer.data();
        const std::size_t n = buffer.size();
        for (std::size_t i = 0; i < n; ++i)
            d[i] = d[i] * 0.5 + 1.0;
        benchmark::DoNotOptimize(d);
        benchmark::ClobberMemory();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

void Report(benchmark::State& state, const TreeSize& size, double secondsPerIteration) {
    const double floor = StreamingFloor(size.cells);
    state.counters["cells"] = static_cast<double>(size.cells);
    state.counters["largest"] = static_cast<double>(size.largest);
    state.counters["cliques"] = size.cliques;
    state.counters["floor_us"] = floor * 1e6;
    state.counters["x_floor"] = floor > 0.0 ? secondsPerIteration / floor : 0.0;
}

std::unique_ptr<QNL_network> Read(const std::string& path) {
    auto net = std::make_unique<QNL_network>();
    if (net->ReadFile(path.c_str(), FormatOf(path)) != 0) return nullptr;
    return net;
}

using Clock = std::chrono::steady_clock;

void BM_Read(benchmark::State& state, std::string path) {
    QNL_network net;
    const int format = FormatOf(path);
    for (auto _ : state) {
        if (net.ReadFile(path.c_str(), format) != 0) state.SkipWithError("read failed");
    }
    state.counters["nodes"] = net.GetNumberOfNodes();
}

// Building and propagating the trees: the kept trees are dropped before each update. One
// untimed update first, as in a process that updates the network again and again: the
// storage of the dropped trees then waits in the cache's pool (counter `pooled`, in cells).
void BM_FirstUpdate(benchmark::State& state, std::string path) {
    auto net = Read(path);
    if (!net) return state.SkipWithError("read failed");
    if (net->UpdateBeliefs() != 0) return state.SkipWithError("update failed");
    const auto start = Clock::now();
    for (auto _ : state) {
        net->GetJoinTreeCache().Clear();
        if (net->UpdateBeliefs() != 0) state.SkipWithError("update failed");
    }
    const std::chrono::duration<double> took = Clock::now() - start;
    state.counters["pooled"] = static_cast<double>(net->GetJoinTreeCache().GetHeldCells());
    if (state.iterations() > 0) Report(state, SizeOf(*net), took.count() / state.iterations());
}

// A fresh update after evidence on a tenth of the nodes.
void BM_EvidenceUpdate(benchmark::State& state, std::string path) {
    auto net = Read(path);
    if (!net) return state.SkipWithError("read failed");
    const std::vector<int> nodes = EvidenceNodes(*net);
    SetEvidence(*net, nodes, ForwardSample(*net, 101));
    const auto start = Clock::now();
    for (auto _ : state) {
        net->GetJoinTreeCache().Clear();
        if (net->UpdateBeliefs() != 0) state.SkipWithError("update failed");
    }
    const std::chrono::duration<double> took = Clock::now() - start;
    state.counters["observed"] = static_cast<double>(nodes.size());
    if (state.iterations() > 0) Report(state, SizeOf(*net), took.count() / state.iterations());
}

// The findings of one benchmark: the observed nodes and two outcome sets for them, the
// second differing from the first wherever that keeps the kept trees serving.
struct Findings {
    std::vector<int> nodes;
    std::vector<int> first;
    std::vector<int> second;
    int changed = 0;
};

// Deterministic relations can make what the evidence implies depend on its outcomes, and so
// the reduction: each observed node in turn takes the first other outcome that keeps the trees
// (no new one built) and the evidence possible (every belief written). Without `keepTrees`
// the outcomes of a second joint draw serve. Leaves the first findings set and updated.
bool PrepareFindings(QNL_network& net, double share, bool keepTrees, Findings& findings) {
    findings.nodes = EvidenceNodes(net, share);
    findings.first = ForwardSample(net, 101);
    findings.second = keepTrees ? findings.first : ForwardSample(net, 202);
    SetEvidence(net, findings.nodes, findings.first);
    if (net.UpdateBeliefs() != 0) return false;
    if (!keepTrees) return true;
    for (int h : findings.nodes) {
        const std::size_t at = static_cast<std::size_t>(h);
        const int outcomes = net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
        for (int k = 0; k < outcomes; ++k) {
            if (k == findings.first[at]) continue;
            std::vector<int> candidate = findings.second;
            candidate[at] = k;
            const std::uint64_t before = net.GetJoinTreeCache().GetBuildCount();
            SetEvidence(net, findings.nodes, candidate);
            net.InvalidateValues();
            bool kept =
                net.UpdateBeliefs() == 0 && net.GetJoinTreeCache().GetBuildCount() == before;
            for (int n = net.GetFirstNode(); n >= 0 && kept; n = net.GetNextNode(n))
                kept = net.GetNode(n)->GetValue()->IsValueValid();
            SetEvidence(net, findings.nodes, findings.first);
            if (net.UpdateBeliefs() != 0) return false;
            if (!kept) continue;
            findings.second = std::move(candidate);
            ++findings.changed;
            break;
        }
    }
    return true;
}

// What one iteration of the findings benchmarks times.
enum class Timed { ENTRY, UPDATE, BOTH, HALF };

// The findings alternate between the two outcome sets. ENTRY times clearing the old findings
// and setting the new ones (no update between: what entry costs does not depend on which
// values are valid), UPDATE the cached update after them, BOTH the two together, as a user
// pays them; HALF changes every second finding alone, in one batch.
void BM_Findings(benchmark::State& state, std::string path, double share, Timed timed) {
    auto net = Read(path);
    if (!net) return state.SkipWithError("read failed");
    Findings findings;
    const bool entryOnly = timed == Timed::ENTRY || timed == Timed::HALF;
    if (!PrepareFindings(*net, share, !entryOnly, findings))
        return state.SkipWithError("update failed");
    const quarn::detail::JoinTreeCache& cache = net->GetJoinTreeCache();
    const std::uint64_t reuses = cache.GetReuseCount();
    const std::uint64_t builds = cache.GetBuildCount();
    double seconds = 0.0;
    bool odd = false;
    for (auto _ : state) {
        odd = !odd;
        const std::vector<int>& outcomes = odd ? findings.second : findings.first;
        if (timed == Timed::UPDATE) {
            state.PauseTiming();
            SetEvidence(*net, findings.nodes, outcomes);
            state.ResumeTiming();
        }
        const auto start = Clock::now();
        if (timed == Timed::HALF)
            ChangeHalf(*net, findings.nodes, outcomes);
        else if (timed != Timed::UPDATE)
            SetEvidence(*net, findings.nodes, outcomes);
        if (!entryOnly && net->UpdateBeliefs() != 0) state.SkipWithError("update failed");
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    state.counters["observed"] = static_cast<double>(findings.nodes.size());
    if (entryOnly) return;
    state.counters["changed"] = findings.changed;
    state.counters["reused"] = static_cast<double>(cache.GetReuseCount() - reuses);
    state.counters["built"] = static_cast<double>(cache.GetBuildCount() - builds);
    if (state.iterations() > 0) Report(state, SizeOf(*net), seconds / state.iterations());
}

// One propagation alone (tables filled from the conditional tables, collect, distribute) over
// the kept trees of the update without evidence. Trees too large to keep are let go after the
// update: nothing is left to measure, and the benchmark says so.
void BM_Propagate(benchmark::State& state, std::string path) {
    auto net = Read(path);
    if (!net) return state.SkipWithError("read failed");
    if (net->UpdateBeliefs() != 0) return state.SkipWithError("update failed");
    if (SizeOf(*net).cells == 0)
        return state.SkipWithError("no kept tree: the trees of this network are not kept");
    quarn::detail::JoinTreeCache& cache = net->GetJoinTreeCache();
    const auto start = Clock::now();
    for (auto _ : state) {
        for (int i = 0; i < cache.GetCount(); ++i) {
            QNL_clusteringJoinTree* tree = cache.GetTree(i);
            if (tree == nullptr) continue;
            if (!tree->PropagateAll()) state.SkipWithError("no storage");
            tree->Collect();
            tree->Distribute();
        }
    }
    const std::chrono::duration<double> took = Clock::now() - start;
    if (state.iterations() > 0) Report(state, SizeOf(*net), took.count() / state.iterations());
}

// A file that is present but does not read, or a network that cannot be updated, shows as
// an error line.
void Register(const NetworkFile& file) {
    const std::string path = PathOf(file);
    if (!Exists(path)) return;
    const std::string name = file.name;
    // Entering findings alone is cheap beside an update: it runs as often as the library
    // decides, also on the large networks, so that the load of the machine averages out.
    auto unit = [&](benchmark::internal::Benchmark* b, bool cheap = false) {
        b->Unit(benchmark::kMicrosecond);
        if (file.large && !cheap) b->Iterations(3);
    };
    unit(benchmark::RegisterBenchmark(("Read/" + name).c_str(), BM_Read, path));
    unit(benchmark::RegisterBenchmark(("FirstUpdate/" + name).c_str(), BM_FirstUpdate, path));
    unit(benchmark::RegisterBenchmark(("Propagate/" + name).c_str(), BM_Propagate, path));
    unit(benchmark::RegisterBenchmark(("EvidenceUpdate/" + name).c_str(), BM_EvidenceUpdate, path));
    // One finding, 10%, 20% (entry only, to show its growth) and 30% of the nodes.
    const struct {
        const char* label;
        double share;
    } shares[] = {{"1", 0.0}, {"10%", 0.1}, {"20%", 0.2}, {"30%", 0.3}};
    for (const auto& s : shares) {
        const std::string suffix = "/" + name + "/" + s.label;
        unit(benchmark::RegisterBenchmark(("Enter" + suffix).c_str(), BM_Findings, path, s.share,
                                          Timed::ENTRY),
             true);
        if (s.share > 0.0)
            unit(benchmark::RegisterBenchmark(("Change" + suffix).c_str(), BM_Findings, path,
                                              s.share, Timed::HALF),
                 true);
        if (s.share == 0.2) continue;
        unit(benchmark::RegisterBenchmark(("CachedUpdate" + suffix).c_str(), BM_Findings, path,
                                          s.share, Timed::UPDATE));
        unit(benchmark::RegisterBenchmark(("EnterUpdate" + suffix).c_str(), BM_Findings, path,
                                          s.share, Timed::BOTH));
    }
}

const bool kRegistered = [] {
    for (const NetworkFile& file : quarn_bench::kRealNetworks)
        Register(file);
    for (const NetworkFile& file : kOtherFormats) {
        const std::string path = PathOf(file);
        if (Exists(path))
            benchmark::RegisterBenchmark(("Read/" + std::string(file.name)).c_str(), BM_Read, path)
                ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

} // namespace
