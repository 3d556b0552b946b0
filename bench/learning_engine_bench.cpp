// Counting and scoring every family of alarm's true structure in the learning engine, over
// 10^5 records drawn from alarm (a generated network of 37 nodes when the shared folder is
// absent). One iteration: a fresh engine network takes the data and the arcs (not timed),
// then ScoreNetwork counts every family in one scan of its columns and scores it.

#include "bench_networks.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kRecords = 100000;

// One forward sample of every node, by handle, in parents-first order.
void ForwardSample(QNL_network& net, const QNL_intArray& order, std::uint64_t& random,
                   std::vector<int>& sample) {
    for (int i = 0; i < order.GetCount(); ++i) {
        const int h = order[i];
        QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
        const QNL_Dmatrix* table = definition->GetMatrix();
        const QNL_intArray& parents = net.GetParents(h);
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

const Workload& GetWorkload() {
    static const Workload workload = [] {
        Workload w;
        QNL_network net;
        const std::string path = quarn_bench::PathOf(quarn_bench::kRealNetworks[0]);
        if (!quarn_bench::Exists(path) || net.ReadFile(path.c_str()) != 0) {
            net.DeleteAllNodes();
            quarn_bench::BuildRandomDag(net, 37, 4, 6);
            w.source = "generated";
        }
        std::vector<int> handles;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            handles.push_back(h);
        std::vector<std::vector<QNL_datasetCell>> columns(handles.size());
        const QNL_intArray order(net.GetOrderedNodes());
        std::vector<int> sample(static_cast<std::size_t>(net.GetTableSize()), 0);
        std::uint64_t random = 1;
        for (int r = 0; r < kRecords; ++r) {
            ForwardSample(net, order, random, sample);
            for (std::size_t i = 0; i < handles.size(); ++i)
                columns[i].push_back(QNL_IntCell(sample[static_cast<std::size_t>(handles[i])]));
        }
        for (std::size_t i = 0; i < handles.size(); ++i) {
            w.data.addIntVariable(net.GetNode(handles[i])->GetId(), &columns[i], -1);
            const QNL_intArray& parents = net.GetParents(handles[i]);
            for (int k = 0; k < parents.GetCount(); ++k)
                w.arcs.emplace_back(w.data.findVariable(net.GetNode(parents[k])->GetId()),
                                    static_cast<int>(i));
        }
        return w;
    }();
    return workload;
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
