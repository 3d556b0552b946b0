// Clearing every finding of munin at once with 30% of its nodes observed, while findings are in
// conflict (`ClearAll/munin/30%/conflict`: one observed node's table made deterministic, each
// column certain of a fixed random outcome, so that what the findings imply meets another
// finding) and while none is (`/none`), beside one belief update with the same findings
// (`Update/munin/30%`: values invalidated, the kept trees serving). Entering the findings again
// before each clear, and the table edit that brings them into conflict, are not timed. Without
// munin in the shared data folder each case reports that it was skipped.

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using quarn_bench::NetworkFile;

const NetworkFile kMunin = {"munin", "xmlbif/munin.xml", true};
constexpr double kShare = 0.3;

// The network with findings on kShare of its nodes from one joint draw (possible evidence).
struct Observed {
    std::unique_ptr<QNL_network> net;
    std::vector<int> nodes;
    std::vector<int> outcome;
    // The table made deterministic, and its cells before and after.
    QNL_cpt* table = nullptr;
    QNL_doubleArray old, deterministic;
};

// Entered on a network without findings.
void Enter(Observed& o) {
    QNL_evidenceBatch batch(*o.net);
    for (int h : o.nodes) {
        QNL_nodeValue* value = o.net->GetNode(h)->GetValue();
        if (!value->IsObserved()) value->SetEvidence(o.outcome[static_cast<std::size_t>(h)]);
    }
}

// How many conflicts the log holds, which is emptied.
int ConflictsLogged() {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    int conflicts = 0;
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (log.GetCode(i) == -26) ++conflicts;
    log.Flush();
    return conflicts;
}

// One observed node with parents after another (in a fixed random order) takes a deterministic
// table until one brings findings into conflict; the tables that did not are put back. Entered
// again, the findings would not conflict: the finding whose propagation meets another is
// refused. So the conflict comes from the table, set after the findings.
bool MakeConflict(Observed& o) {
    std::vector<int> candidates;
    for (int h : o.nodes)
        if (o.net->GetParents(h).GetCount() > 0) candidates.push_back(h);
    std::uint64_t seed = 57;
    for (std::size_t i = candidates.size(); i > 1; --i)
        std::swap(candidates[i - 1],
                  candidates[static_cast<std::size_t>(quarn_bench::Next(seed) % i)]);
    ConflictsLogged();
    for (int h : candidates) {
        auto* table = dynamic_cast<QNL_cpt*>(o.net->GetNode(h)->GetDefinition());
        if (table == nullptr) continue;
        const int outcomes = table->GetNumberOfOutcomes();
        const QNL_Dmatrix& matrix = *table->GetMatrix();
        QNL_doubleArray old, cells;
        for (int i = 0; i < matrix.GetSize(); ++i)
            old.Add(matrix.Subscript(i));
        for (int column = 0; column < table->GetSize() / outcomes; ++column) {
            const int certain = static_cast<int>(quarn_bench::Next(seed) % outcomes);
            for (int k = 0; k < outcomes; ++k)
                cells.Add(k == certain ? 1.0 : 0.0);
        }
        if (table->SetProbabilities(cells) != 0) return false;
        if (ConflictsLogged() > 0) {
            o.table = table;
            o.old = old;
            o.deterministic = cells;
            return true;
        }
        table->SetProbabilities(old);
    }
    return false;
}

// The findings entered again, brought into conflict when `conflict` says so: true when they
// are.
bool EnterAgain(Observed& o, bool conflict) {
    if (o.table != nullptr) o.table->SetProbabilities(o.old);
    Enter(o);
    if (conflict) o.table->SetProbabilities(o.deterministic);
    return ConflictsLogged() > 0;
}

bool Prepare(Observed& o, bool conflict, std::string& error) {
    const std::string path = quarn_bench::PathOf(kMunin);
    if (!quarn_bench::Exists(path)) {
        error = "skipped: " + path + " is absent";
        return false;
    }
    o.net = std::make_unique<QNL_network>();
    if (o.net->ReadFile(path.c_str(), quarn_bench::FormatOf(path)) != 0) {
        error = "read failed";
        return false;
    }
    QNL_intArray all;
    o.net->GetAllNodes(all);
    o.nodes.assign(all.Items(), all.Items() + all.GetCount());
    std::uint64_t seed = 31;
    for (std::size_t i = o.nodes.size(); i > 1; --i)
        std::swap(o.nodes[i - 1], o.nodes[static_cast<std::size_t>(quarn_bench::Next(seed) % i)]);
    o.nodes.resize(static_cast<std::size_t>(static_cast<double>(o.nodes.size()) * kShare));
    o.outcome = quarn_bench::ForwardSample(*o.net, 101);
    Enter(o);
    if (conflict && !MakeConflict(o)) {
        error = "no table brought findings into conflict";
        return false;
    }
    return true;
}

void BM_ClearAll(benchmark::State& state, bool conflict) {
    Observed o;
    std::string error;
    if (!Prepare(o, conflict, error)) return state.SkipWithError(error.c_str());
    int held = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (EnterAgain(o, conflict)) ++held;
        state.ResumeTiming();
        o.net->ClearAllEvidence();
    }
    ConflictsLogged();
    state.counters["observed"] = static_cast<double>(o.nodes.size());
    // Iterations whose findings were in conflict when cleared.
    state.counters["in_conflict"] = held;
}

// Out of line, so that instruction counts (callgrind, by caller) tell this first update, which
// builds the trees, from the timed ones.
[[gnu::noinline]] bool FirstUpdate(QNL_network& net) {
    return net.UpdateBeliefs() == 0;
}

void BM_Update(benchmark::State& state) {
    Observed o;
    std::string error;
    if (!Prepare(o, false, error)) return state.SkipWithError(error.c_str());
    if (!FirstUpdate(*o.net)) return state.SkipWithError("update failed");
    for (auto _ : state) {
        state.PauseTiming();
        o.net->InvalidateValues();
        state.ResumeTiming();
        if (o.net->UpdateBeliefs() != 0) state.SkipWithError("update failed");
    }
    state.counters["observed"] = static_cast<double>(o.nodes.size());
}

const bool kRegistered = [] {
    const std::string suffix = "/munin/30%";
    benchmark::RegisterBenchmark(("ClearAll" + suffix + "/conflict").c_str(), BM_ClearAll, true)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("ClearAll" + suffix + "/none").c_str(), BM_ClearAll, false)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("Update" + suffix).c_str(), BM_Update)
        ->Unit(benchmark::kMicrosecond);
    return true;
}();

} // namespace
