// Updates with many findings on the small real networks, as an EM pass makes them: before each
// update every finding is cleared and four fifths of the nodes, drawn afresh, are observed at
// the outcomes of a new joint draw, so nearly every update meets a set of observed nodes that
// no update before it had. Each iteration runs 3,000 such updates (`ManyFindings/<net>`, the
// time) and, in the same process just before, 3,000 updates with at most one finding (a
// random node, or none), whose few observed sets the kept trees all serve (counter `one_ms`);
// `x_one` is the first over the second. Entering the findings is timed apart (`entry_ms`,
// `one_entry_ms`); `x_one_entered` is the ratio with it counted, as a caller pays it. Times
// are the thread's CPU time. Networks whose file is missing are not registered.

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
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

bool Run(QNL_network& net, const std::vector<Findings>& sets, Seconds& seconds) {
    for (const Findings& set : sets) {
        const double start = ThreadSeconds();
        {
            QNL_evidenceBatch batch(net);
            net.ClearAllEvidence();
            for (const auto& [handle, outcome] : set) {
                QNL_nodeValue* value = net.GetNode(handle)->GetValue();
                if (!value->IsObserved()) value->SetEvidence(outcome);
            }
        }
        const double entered = ThreadSeconds();
        if (net.UpdateBeliefs() != 0) return false;
        seconds.entry += entered - start;
        seconds.update += ThreadSeconds() - entered;
    }
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
    return true;
}();

} // namespace
