// Updates with many findings on the small real networks, as an EM pass makes them: before each
// update every finding is cleared and four fifths of the nodes, drawn afresh, are observed at
// the outcomes of a new joint draw, so nearly every update meets a set of observed nodes that
// no update before it had. Each iteration runs 3,000 such updates (`ManyFindings/<net>`, the
// time) and, in the same process just before, 3,000 updates with at most one finding (a
// random node, or none), whose few observed sets the kept trees all serve (counter `one_ms`);
// `x_one` is the first over the second. Entering the findings is timed apart (`entry_ms`,
// `one_entry_ms`); `x_one_entered` is the ratio with it counted, as a caller pays it. Times
// are the thread's CPU time. Networks whose file is missing are not registered.
//
// Findings entered one by one, as the Java binding enters them (no batch): on real networks,
// rounds of clearing every finding and entering four fifths of the nodes at a joint draw's
// outcomes, then updating (`EnterFindings/<net>`, the time is the entry; counters `entry_ms`
// and `update_ms` per round, `x_update` the first over the second). On chains of two-outcome
// nodes and on random networks of as many (each node one or two parents among the eight
// before it): a finding on every other node entered one by one
// (`EveryOtherFinding/<shape>/<nodes>`), and the upper half of the nodes deleted while those
// findings stand (`DeleteWithFindings/<shape>/<nodes>`), each after an update; the time is
// the operation alone. A hidden chain built step by step with its findings entered on the way
// (`BuildWithFindings/<steps>`: each step a hidden node given the one before, an observed child
// of it, both given their outcome count, arcs and table, and the child's finding); the time is
// the whole build. A case entered finding by finding on a network updated or not, at a
// tenth and four fifths of the nodes, beside the update that follows
// (`EnterCase/<net>/<share>/<updated|not_updated>`).

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using quarn_bench::FormatOf;
using quarn_bench::NetworkFile;
using quarn_bench::PathOf;

const char* const kNetworks[] = {"alarm", "hailfinder", "win95pts"};
constexpr int kUpdates = 3000;

using Findings = std::vector<std::pair<int, int>>;

// `updates` sets of findings: each observes `share` of the nodes, drawn afresh, at the outcomes
// of a joint draw of its own (so the evidence is possible).
std::vector<Findings> Draw(QNL_network& net, int updates, double share, std::uint64_t seed) {
    QNL_intArray all;
    net.GetAllNodes(all);
    std::vector<int> nodes(all.Items(), all.Items() + all.GetCount());
    const std::size_t count = static_cast<std::size_t>(static_cast<double>(nodes.size()) * share);
    std::vector<Findings> sets(static_cast<std::size_t>(updates));
    for (Findings& set : sets) {
        const std::vector<int> outcome = quarn_bench::ForwardSample(net, quarn_bench::Next(seed));
        for (std::size_t i = nodes.size(); i > 1; --i)
            std::swap(nodes[i - 1], nodes[static_cast<std::size_t>(quarn_bench::Next(seed) % i)]);
        for (std::size_t i = 0; i < count; ++i)
            set.emplace_back(nodes[i], outcome[static_cast<std::size_t>(nodes[i])]);
    }
    return sets;
}

// At most one finding: a random node at a random draw's outcome, or none (one update in ten).
std::vector<Findings> DrawOne(QNL_network& net, int updates, std::uint64_t seed) {
    std::vector<Findings> sets = Draw(net, updates, 1.0, seed);
    for (std::size_t i = 0; i < sets.size(); ++i) {
        if (i % 10 == 0) {
            sets[i].clear();
            continue;
        }
        sets[i].resize(1);
    }
    return sets;
}

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// The seconds of one update per set, and of entering the findings before each; false when an
// update fails.
struct Seconds {
    double update = 0.0;
    double entry = 0.0;
};

// Every finding cleared, `set` entered (inside one evidence batch, or one finding at a time
// as the Java binding enters them), then an update; false when the update fails.
bool EnterAndUpdate(QNL_network& net, const Findings& set, bool batch, Seconds& seconds) {
    const double start = ThreadSeconds();
    if (batch) net.BeginEvidenceBatch();
    net.ClearAllEvidence();
    for (const auto& [handle, outcome] : set) {
        QNL_nodeValue* value = net.GetNode(handle)->GetValue();
        if (!value->IsObserved()) value->SetEvidence(outcome);
    }
    if (batch) net.EndEvidenceBatch();
    const double entered = ThreadSeconds();
    if (net.UpdateBeliefs() != 0) return false;
    seconds.entry += entered - start;
    seconds.update += ThreadSeconds() - entered;
    return true;
}

bool Run(QNL_network& net, const std::vector<Findings>& sets, Seconds& seconds) {
    for (const Findings& set : sets)
        if (!EnterAndUpdate(net, set, true, seconds)) return false;
    return true;
}

void BM_ManyFindings(benchmark::State& state, std::string path) {
    auto net = std::make_unique<QNL_network>();
    if (net->ReadFile(path.c_str(), FormatOf(path)) != 0) return state.SkipWithError("read");
    const std::vector<Findings> one = DrawOne(*net, kUpdates, 73);
    Seconds warm;
    if (!Run(*net, one, warm)) return state.SkipWithError("update failed");
    Seconds oneTotal, manyTotal;
    std::uint64_t seed = 71;
    std::size_t observed = 0;
    for (auto _ : state) {
        // Sets of their own for every iteration: the last iteration's are kept.
        const std::vector<Findings> many = Draw(*net, kUpdates, 0.8, seed++);
        observed = many.front().size();
        Seconds oneSeconds, manySeconds;
        if (!Run(*net, one, oneSeconds) || !Run(*net, many, manySeconds))
            return state.SkipWithError("update failed");
        oneTotal.update += oneSeconds.update;
        oneTotal.entry += oneSeconds.entry;
        manyTotal.update += manySeconds.update;
        manyTotal.entry += manySeconds.entry;
        state.SetIterationTime(manySeconds.update);
    }
    const double n = static_cast<double>(state.iterations());
    if (n == 0) return;
    state.counters["one_ms"] = oneTotal.update / n * 1e3;
    state.counters["x_one"] = oneTotal.update > 0.0 ? manyTotal.update / oneTotal.update : 0.0;
    // The same with entering the findings counted.
    state.counters["entry_ms"] = manyTotal.entry / n * 1e3;
    state.counters["one_entry_ms"] = oneTotal.entry / n * 1e3;
    const double oneAll = oneTotal.update + oneTotal.entry;
    state.counters["x_one_entered"] =
        oneAll > 0.0 ? (manyTotal.update + manyTotal.entry) / oneAll : 0.0;
    state.counters["observed"] = static_cast<double>(observed);
}

void BM_EnterFindings(benchmark::State& state, std::string path) {
    auto net = std::make_unique<QNL_network>();
    if (net->ReadFile(path.c_str(), FormatOf(path)) != 0) return state.SkipWithError("read");
    constexpr int kRounds = 200;
    std::uint64_t seed = 29;
    Seconds total;
    std::size_t observed = 0;
    for (auto _ : state) {
        const std::vector<Findings> sets = Draw(*net, kRounds, 0.8, seed++);
        observed = sets.front().size();
        Seconds seconds;
        for (const Findings& set : sets)
            if (!EnterAndUpdate(*net, set, false, seconds))
                return state.SkipWithError("update failed");
        total.entry += seconds.entry;
        total.update += seconds.update;
        state.SetIterationTime(seconds.entry);
    }
    const double rounds = static_cast<double>(state.iterations()) * kRounds;
    if (rounds == 0) return;
    state.counters["entry_ms"] = total.entry / rounds * 1e3;
    state.counters["update_ms"] = total.update / rounds * 1e3;
    state.counters["x_update"] = total.update > 0.0 ? total.entry / total.update : 0.0;
    state.counters["observed"] = static_cast<double>(observed);
}

// A case entered finding by finding (no batch, as the Java binding enters them) on a network
// whose values are up to date (priors shown: after the findings of the round before are
// cleared, an untimed update) or not (cleared only), at `share` of the nodes drawn afresh each
// round at the outcomes of a forward draw; then the update. The time is the entry; counters
// per round `entry_ms`, `update_ms`, `x_update` the first over the second, and `walked`, the
// nodes the invalidation walks met per finding.
void BM_EnterCase(benchmark::State& state, std::string path, double share, bool updated) {
    auto net = std::make_unique<QNL_network>();
    if (net->ReadFile(path.c_str(), FormatOf(path)) != 0) return state.SkipWithError("read");
    constexpr int kRounds = 40;
    std::uint64_t seed = 37;
    Seconds total;
    std::size_t observed = 0;
    std::uint64_t walked = 0, entered = 0;
    int refused = 0, done = 0;
    for (auto _ : state) {
        const std::vector<Findings> sets = Draw(*net, kRounds, share, seed++);
        observed = sets.front().size();
        Seconds seconds;
        for (const Findings& set : sets) {
            net->ClearAllEvidence();
            if (updated && net->UpdateBeliefs() != 0) return state.SkipWithError("update failed");
            const std::uint64_t before = net->GetEvidenceWork().walked;
            const double start = ThreadSeconds();
            for (const auto& [handle, outcome] : set) {
                QNL_nodeValue* value = net->GetNode(handle)->GetValue();
                if (!value->IsObserved()) value->SetEvidence(outcome);
            }
            const double end = ThreadSeconds();
            const std::uint64_t walkedNow = net->GetEvidenceWork().walked;
            // Some draws at a tenth of link's nodes leave a tree past the size limits: those
            // rounds are counted apart.
            if (net->UpdateBeliefs() != 0) {
                QNL_errorHandler::Instance().Flush();
                ++refused;
                continue;
            }
            walked += walkedNow - before;
            entered += set.size();
            ++done;
            seconds.entry += end - start;
            seconds.update += ThreadSeconds() - end;
        }
        total.entry += seconds.entry;
        total.update += seconds.update;
        state.SetIterationTime(seconds.entry);
    }
    const double rounds = static_cast<double>(done);
    if (rounds == 0) return;
    state.counters["entry_ms"] = total.entry / rounds * 1e3;
    state.counters["update_ms"] = total.update / rounds * 1e3;
    state.counters["x_update"] = total.update > 0.0 ? total.entry / total.update : 0.0;
    state.counters["observed"] = static_cast<double>(observed);
    state.counters["refused"] = refused;
    state.counters["walked"] =
        entered > 0 ? static_cast<double>(walked) / static_cast<double>(entered) : 0.0;
}

// A chain of two-outcome nodes, or each node with one or two parents among the eight before
// it; tables without zero cells. The handles in creation order.
std::vector<int> BuildShape(QNL_network& net, int nodes, bool chain) {
    std::uint64_t seed = 43;
    net.ReserveSlots(nodes);
    std::vector<int> h;
    for (int i = 0; i < nodes; ++i) {
        h.push_back(quarn_bench::AddNode(net, i, 2));
        const int parents = i == 0  ? 0
                            : chain ? 1
                                    : 1 + static_cast<int>(quarn_bench::Next(seed) % 2);
        for (int k = 0; k < parents; ++k) {
            const int span = chain ? 1 : (i < 8 ? i : 8);
            const int parent =
                i - 1 -
                static_cast<int>(quarn_bench::Next(seed) % static_cast<std::uint64_t>(span));
            net.AddArc(h[static_cast<std::size_t>(parent)], h[static_cast<std::size_t>(i)]);
        }
    }
    quarn_bench::FillTables(net, h, 47);
    return h;
}

// A finding on every other node at outcome 0 or 1 alternately.
void EnterEveryOther(QNL_network& net, const std::vector<int>& h) {
    for (std::size_t i = 0; i < h.size(); i += 2)
        net.GetNode(h[i])->GetValue()->SetEvidence(static_cast<int>(i / 2 % 2));
}

void BM_EveryOtherFinding(benchmark::State& state, bool chain) {
    const int nodes = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto net = std::make_unique<QNL_network>();
        const std::vector<int> h = BuildShape(*net, nodes, chain);
        if (net->UpdateBeliefs() != 0) return state.SkipWithError("update failed");
        state.ResumeTiming();
        EnterEveryOther(*net, h);
        state.PauseTiming();
        // The network goes outside the timing.
        net.reset();
        state.ResumeTiming();
    }
}

void BM_DeleteWithFindings(benchmark::State& state, bool chain) {
    const int nodes = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto net = std::make_unique<QNL_network>();
        const std::vector<int> h = BuildShape(*net, nodes, chain);
        EnterEveryOther(*net, h);
        if (net->UpdateBeliefs() != 0) return state.SkipWithError("update failed");
        state.ResumeTiming();
        for (int i = nodes - 1; i >= nodes / 2; --i)
            net->DeleteNode(h[static_cast<std::size_t>(i)]);
        state.PauseTiming();
        net.reset();
        state.ResumeTiming();
    }
}

QNL_doubleArray Cells(std::initializer_list<double> cells) {
    QNL_doubleArray values;
    values.SetSize(static_cast<int>(cells.size()));
    int i = 0;
    for (double cell : cells)
        values[i++] = cell;
    return values;
}

void BM_BuildWithFindings(benchmark::State& state) {
    const int steps = static_cast<int>(state.range(0));
    const QNL_doubleArray first = Cells({0.5, 0.5}), along = Cells({0.9, 0.1, 0.2, 0.8}),
                          emission = Cells({0.7, 0.3, 0.2, 0.8});
    for (auto _ : state) {
        auto net = std::make_unique<QNL_network>();
        int hidden = -1;
        for (int t = 0; t < steps; ++t) {
            const int h = quarn_bench::AddNode(*net, 2 * t, 2);
            if (hidden >= 0) net->AddArc(hidden, h);
            net->GetNode(h)->GetDefinition()->SetDefinition(hidden >= 0 ? along : first);
            hidden = h;
            const int o = quarn_bench::AddNode(*net, 2 * t + 1, 2);
            net->AddArc(h, o);
            net->GetNode(o)->GetDefinition()->SetDefinition(emission);
            net->GetNode(o)->GetValue()->SetEvidence(t % 2);
        }
        state.PauseTiming();
        net.reset();
        state.ResumeTiming();
    }
}

const bool kRegistered = [] {
    for (const char* name : kNetworks)
        for (const NetworkFile& file : quarn_bench::kRealNetworks) {
            if (name != std::string(file.name) || !quarn_bench::Exists(PathOf(file))) continue;
            benchmark::RegisterBenchmark(("ManyFindings/" + std::string(name)).c_str(),
                                         BM_ManyFindings, PathOf(file))
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                ->Iterations(3);
        }
    for (const char* name : {"alarm", "hailfinder", "win95pts", "andes", "pigs", "munin", "link"})
        for (const NetworkFile& file : quarn_bench::kRealNetworks) {
            if (name != std::string(file.name) || !quarn_bench::Exists(PathOf(file))) continue;
            benchmark::RegisterBenchmark(("EnterFindings/" + std::string(name)).c_str(),
                                         BM_EnterFindings, PathOf(file))
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                ->Iterations(3);
        }
    for (const char* name : {"alarm", "andes", "pigs", "munin", "link"})
        for (const NetworkFile& file : quarn_bench::kRealNetworks) {
            if (name != std::string(file.name) || !quarn_bench::Exists(PathOf(file))) continue;
            for (const double share : {0.1, 0.8})
                for (const bool updated : {true, false})
                    benchmark::RegisterBenchmark(("EnterCase/" + std::string(name) +
                                                  (share < 0.5 ? "/10%" : "/80%") +
                                                  (updated ? "/updated" : "/not_updated"))
                                                     .c_str(),
                                                 BM_EnterCase, PathOf(file), share, updated)
                        ->UseManualTime()
                        ->Unit(benchmark::kMillisecond)
                        ->Iterations(2);
        }
    benchmark::RegisterBenchmark("BuildWithFindings", BM_BuildWithFindings)
        ->Arg(2000)
        ->Arg(8000)
        ->Unit(benchmark::kMillisecond);
    for (const bool chain : {true, false}) {
        const std::string shape = chain ? "chain" : "random";
        benchmark::RegisterBenchmark(("EveryOtherFinding/" + shape).c_str(), BM_EveryOtherFinding,
                                     chain)
            ->Arg(5000)
            ->Arg(20000)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("DeleteWithFindings/" + shape).c_str(), BM_DeleteWithFindings,
                                     chain)
            ->Arg(5000)
            ->Arg(20000)
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace
