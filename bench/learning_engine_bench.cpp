// The learning engine on data drawn from known networks: counting and scoring every family of
// alarm's true structure (10^5 records), greedy thick thinning on alarm (10^5 complete
// records), naive Bayes over 40 variables (10^5 records), one EM pass over 10^4 alarm records
// with a fifth of the cells missing, and one whole EM run on 20 variables and 10^4 incomplete
// records (the price of scoring one candidate move by EM). Alarm is replaced by a generated
// network of 37 nodes when the shared folder is absent.

#include "bench_networks.h"
#include "learning/learn_model.h"

#include <benchmark/benchmark.h>

#include <set>

namespace {

constexpr int kRecords = 100000;

// One forward sample of every node, by handle, in parents-first order.
void ForwardSample(QNL_network& net, const QNL_intArray& order, std::uint64_t& random,
                   std::vector<int>& sample) {
    for (int i = 0; i < order.GetCount(); ++i) {
        const int h = order[i];
        QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
        const QNL_Dmatrix* table = definition->GetMatrix();
        // The table's dimensions follow its own parent order, which need not be the arcs'.
        const QNL_intArray& parents = static_cast<QNL_cpt*>(definition)->GetDimensionParents();
        int start = 0;
        for (int k = 0; k < parents.GetCount(); ++k)
            start += sample[static_cast<std::size_t>(parents[k])] * table->GetMultiplier(k);
        const int outcomes = definition->GetNumberOfOutcomes();
        double u = quarn_bench::Uniform(random);
        int drawn = 0;
        while (drawn < outcomes - 1 && u >= table->Subscript(start + drawn))
            u -= table->Subscript(start + drawn++);
        sample[static_cast<std::size_t>(h)] = drawn;
    }
}

struct Workload {
    QNL_dataset data;
    std::vector<std::pair<int, int>> arcs; // (parent, child) variable indices
    const char* source = "alarm";
};

// Records drawn from `net`, each cell blanked with probability `missing`.
Workload SampleFrom(QNL_network& net, int records, double missing) {
    Workload w;
    std::vector<int> handles;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        handles.push_back(h);
    std::vector<std::vector<QNL_datasetCell>> columns(handles.size());
    const QNL_intArray order(net.GetOrderedNodes());
    std::vector<int> sample(static_cast<std::size_t>(net.GetTableSize()), 0);
    std::uint64_t random = 1;
    for (int r = 0; r < records; ++r) {
        ForwardSample(net, order, random, sample);
        for (std::size_t i = 0; i < handles.size(); ++i) {
            const bool blank = missing > 0.0 && quarn_bench::Uniform(random) < missing;
            columns[i].push_back(
                QNL_IntCell(blank ? -1 : sample[static_cast<std::size_t>(handles[i])]));
        }
    }
    for (std::size_t i = 0; i < handles.size(); ++i)
        w.data.addIntVariable(net.GetNode(handles[i])->GetId(), &columns[i], -1);
    // Arcs once every variable is there: a parent may come after its child.
    for (std::size_t i = 0; i < handles.size(); ++i) {
        const QNL_intArray& parents = net.GetParents(handles[i]);
        for (int k = 0; k < parents.GetCount(); ++k)
            w.arcs.emplace_back(w.data.findVariable(net.GetNode(parents[k])->GetId()),
                                static_cast<int>(i));
    }
    return w;
}

Workload AlarmSample(int records, double missing) {
    QNL_network net;
    const std::string path = quarn_bench::PathOf(quarn_bench::kRealNetworks[0]);
    const bool real = quarn_bench::Exists(path) && net.ReadFile(path.c_str()) == 0;
    if (!real) {
        net.DeleteAllNodes();
        quarn_bench::BuildRandomDag(net, 37, 4, 6);
    }
    Workload w = SampleFrom(net, records, missing);
    w.source = real ? "alarm" : "generated";
    return w;
}

const Workload& GetWorkload() {
    static const Workload workload = AlarmSample(kRecords, 0.0);
    return workload;
}

// Arcs missing from or added to the true skeleton, plus arcs of the true skeleton learned in
// the wrong direction.
int StructuralDistance(const Workload& w, QNL_network& learned) {
    std::set<std::pair<int, int>> truth(w.arcs.begin(), w.arcs.end());
    std::set<std::pair<int, int>> found;
    for (int h = learned.GetFirstNode(); h >= 0; h = learned.GetNextNode(h)) {
        const int child = w.data.findVariable(learned.GetNode(h)->GetId());
        const QNL_intArray& parents = learned.GetParents(h);
        for (int k = 0; k < parents.GetCount(); ++k)
            found.emplace(w.data.findVariable(learned.GetNode(parents[k])->GetId()), child);
    }
    int distance = 0;
    for (const auto& [p, c] : truth)
        if (!found.count({p, c})) ++distance; // missing or reversed
    for (const auto& [p, c] : found)
        if (!truth.count({p, c}) && !truth.count({c, p})) ++distance; // extra
    return distance;
}

void BM_CountAndScoreAlarm(benchmark::State& state) {
    const Workload& w = GetWorkload();
    for (auto _ : state) {
        state.PauseTiming();
        QNL_learnNetwork engine;
        engine.ImportDataset(w.data);
        for (const auto& [parent, child] : w.arcs)
            engine.AddArc(parent, child);
        engine.SetIntOption("CRITERION", static_cast<int>(state.range(0)));
        state.ResumeTiming();
        benchmark::DoNotOptimize(engine.ScoreNetwork());
    }
    state.SetLabel(w.source);
    state.counters["records"] = kRecords;
    state.counters["families"] = static_cast<double>(w.data.getNumberOfVariables());
}

// CRITERION 0 (Bayesian with prior counts), 3 (K2), 4 (penalized log-likelihood).
BENCHMARK(BM_CountAndScoreAlarm)->Arg(0)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

} // namespace

void BM_GreedyThickThinningAlarm(benchmark::State& state) {
    const Workload& w = GetWorkload();
    int distance = 0;
    int learnedArcs = 0;
    for (auto _ : state) {
        QNL_greedyThickThinning gtt;
        gtt.MaxParents = 5;
        QNL_network learned;
        if (gtt.Learn(w.data, learned) != 0) state.SkipWithError("learning failed");
        state.PauseTiming();
        distance = StructuralDistance(w, learned);
        learnedArcs = 0;
        for (int h = learned.GetFirstNode(); h >= 0; h = learned.GetNextNode(h))
            learnedArcs += learned.GetParents(h).GetCount();
        state.ResumeTiming();
    }
    state.SetLabel(w.source);
    state.counters["records"] = kRecords;
    state.counters["distance"] = distance;
    state.counters["true_arcs"] = static_cast<double>(w.arcs.size());
    state.counters["learned_arcs"] = learnedArcs;
}
BENCHMARK(BM_GreedyThickThinningAlarm)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_NaiveBayes40(benchmark::State& state) {
    static const Workload w = [] {
        QNL_network net;
        quarn_bench::BuildRandomDag(net, 40, 4, 6);
        return SampleFrom(net, kRecords, 0.0);
    }();
    for (auto _ : state) {
        QNL_naiveBayes nb;
        nb.ClassVariableId = w.data.getVariableId(0);
        QNL_network learned;
        if (nb.Learn(w.data, learned) != 0) state.SkipWithError("learning failed");
    }
    state.counters["records"] = kRecords;
    state.counters["variables"] = 40;
}
BENCHMARK(BM_NaiveBayes40)->Unit(benchmark::kMillisecond)->Iterations(3);

// One expectation and maximisation over the true structure; the run then stops at its cap.
void BM_EmPassAlarm(benchmark::State& state) {
    static const Workload w = AlarmSample(10000, 0.2);
    for (auto _ : state) {
        state.PauseTiming();
        QNL_learnNetwork engine;
        engine.ImportDataset(w.data);
        for (const auto& [parent, child] : w.arcs)
            engine.AddArc(parent, child);
        engine.SetIntOption("EM_MAX_ITERATIONS", 1);
        state.ResumeTiming();
        double score = 0.0;
        benchmark::DoNotOptimize(engine.RunEM(score));
    }
    QNL_errorHandler::Instance().Flush();
    state.SetLabel(w.source);
    state.counters["records"] = 10000;
}
BENCHMARK(BM_EmPassAlarm)->Unit(benchmark::kMillisecond)->Iterations(1);

// 20 variables of a generated network, 10^4 records, a fifth of the cells missing (or none).
const Workload& Twenty(bool incomplete) {
    static const Workload complete = [] {
        QNL_network net;
        quarn_bench::BuildRandomDag(net, 20, 3, 4);
        return SampleFrom(net, 10000, 0.0);
    }();
    static const Workload missing = [] {
        QNL_network net;
        quarn_bench::BuildRandomDag(net, 20, 3, 4);
        return SampleFrom(net, 10000, 0.2);
    }();
    return incomplete ? missing : complete;
}

// Greedy thick thinning on those data (argument: percent missing); on incomplete data the
// candidates are priced on expected counts, the EM run again after every accepted move.
void BM_GreedyThickThinning20(benchmark::State& state) {
    const Workload& w = Twenty(state.range(0) > 0);
    int distance = 0;
    for (auto _ : state) {
        QNL_greedyThickThinning gtt;
        QNL_network learned;
        if (gtt.Learn(w.data, learned) != 0) state.SkipWithError("learning failed");
        state.PauseTiming();
        distance = StructuralDistance(w, learned);
        state.ResumeTiming();
    }
    QNL_errorHandler::Instance().Flush();
    state.counters["distance"] = distance;
    state.counters["true_arcs"] = static_cast<double>(w.arcs.size());
}
BENCHMARK(BM_GreedyThickThinning20)->Arg(0)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(1);

// A whole EM run on 20 variables and 10^4 records with a fifth missing: what scoring one
// candidate move costs when every candidate is scored by its own EM run.
void BM_EmRun20(benchmark::State& state) {
    const Workload& w = Twenty(true);
    int iterations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QNL_learnNetwork engine;
        engine.ImportDataset(w.data);
        for (const auto& [parent, child] : w.arcs)
            engine.AddArc(parent, child);
        engine.SetLogFlag(true);
        state.ResumeTiming();
        double score = 0.0;
        benchmark::DoNotOptimize(engine.RunEM(score));
        state.PauseTiming();
        const std::string log = engine.GetLog();
        iterations = 0;
        for (std::size_t at = log.find("Performed"); at != std::string::npos;
             at = log.find("Performed", at + 1))
            ++iterations;
        state.ResumeTiming();
    }
    QNL_errorHandler::Instance().Flush();
    state.counters["passes"] = iterations;
    // The first candidate queue alone prices 20 x 19 moves.
    state.counters["first_queue_runs"] = 380;
}
BENCHMARK(BM_EmRun20)->Unit(benchmark::kMillisecond)->Iterations(1);
