// Samples per second of likelihood weighting (identifier 3) and adaptive importance sampling
// (identifier 7, its 25,000 learning samples included) on real networks with evidence on a
// tenth of the nodes. Networks whose file is missing or does not read are left out.
//
// BM_ChainSampling: a hidden chain of binary steps, each with an observed child, sampled
// 1,000 times by backward sampling (identifier 6) and likelihood weighting (3) at 300 and
// 1,200 steps: a run should cost about four times as much at four times the steps.

#include "quarn.h"

#include "bench_networks.h"
#include "inference/bayesian_algorithms.h"
#include "inference/sampling_core.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

struct NetworkFile {
    const char* name;
    const char* path; // below the networks folder
};

const NetworkFile kNetworks[] = {
    {"alarm", "net/alarm.net"},
    {"hailfinder", "net/hailfinder.net"},
};

const int kSamples = 20000;

// A tenth of the nodes, drawn with a fixed seed, each observed at its most probable outcome
// given the evidence before it: the evidence is always possible.
bool SetEvidence(QNL_network& net) {
    QNL_intArray all;
    net.GetAllNodes(all);
    std::vector<int> nodes(all.Items(), all.Items() + all.GetCount());
    std::uint64_t seed = 31;
    for (std::size_t i = nodes.size(); i > 1; --i)
        std::swap(nodes[i - 1], nodes[static_cast<std::size_t>(quarn_bench::Next(seed) % i)]);
    nodes.resize(nodes.size() / 10);
    net.SetDefaultBNAlgorithm(QNL_ALG_BN_CLUSTERING);
    for (int h : nodes) {
        QNL_nodeValue* value = net.GetNode(h)->GetValue();
        if (value->IsObserved()) continue;
        if (net.UpdateBeliefs() != 0) return false;
        const QNL_Dmatrix* beliefs = value->GetMatrix();
        int best = 0;
        for (int k = 1; k < beliefs->GetSize(); ++k)
            if (beliefs->Subscript(k) > beliefs->Subscript(best)) best = k;
        if (value->SetEvidence(best) != 0) return false;
    }
    return true;
}

void BM_Sampling(benchmark::State& state, const NetworkFile& file, int id) {
    const std::string path = std::string(QUARN_SHARED_DIR) + "/data/networks/" + file.path;
    auto net = std::make_unique<QNL_network>();
    if (!std::ifstream(path).good() || net->ReadFile(path.c_str(), 0, 0) != 0 ||
        !SetEvidence(*net)) {
        state.SkipWithError("network not available");
        return;
    }
    net->SetDefaultBNAlgorithm(id);
    net->SetNumberOfSamples(kSamples);
    for (auto _ : state) {
        if (net->UpdateBeliefs() != 0) state.SkipWithError("update failed");
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSamples, benchmark::Counter::kIsRate);
}

// A chain H0 -> H1 -> ... of `steps` binary nodes, each with an observed child whose finding
// alternates between the outcomes.
void BuildObservedChain(QNL_network& net, int steps) {
    int previous = -1;
    for (int i = 0; i < steps; ++i) {
        const std::string index = std::to_string(i);
        const int hidden = net.AddNode(QNL_TYPE_CPT, ("H" + index).c_str());
        QNL_doubleArray table;
        if (previous < 0) {
            table.SetSize(2);
            table[0] = 0.5;
            table[1] = 0.5;
        } else {
            net.AddArc(previous, hidden);
            table.SetSize(4);
            table[0] = 0.9;
            table[1] = 0.1;
            table[2] = 0.2;
            table[3] = 0.8;
        }
        net.GetNode(hidden)->GetDefinition()->SetDefinition(table);
        const int child = net.AddNode(QNL_TYPE_CPT, ("E" + index).c_str());
        net.AddArc(hidden, child);
        QNL_doubleArray likelihood;
        likelihood.SetSize(4);
        likelihood[0] = 0.7;
        likelihood[1] = 0.3;
        likelihood[2] = 0.4;
        likelihood[3] = 0.6;
        net.GetNode(child)->GetDefinition()->SetDefinition(likelihood);
        net.GetNode(child)->GetValue()->SetEvidence(i % 2);
        previous = hidden;
    }
}

// So long a chain leaves its weight on a few samples, and the run may refuse (-5) for that
// once every sample is drawn: its cost is what is measured.
void BM_ChainSampling(benchmark::State& state, int id) {
    QNL_network net;
    BuildObservedChain(net, static_cast<int>(state.range(0)));
    net.SetDefaultBNAlgorithm(id);
    net.SetNumberOfSamples(1000);
    QNL_samplingRandom().Seed(1);
    for (auto _ : state) {
        const int result = net.UpdateBeliefs();
        if (result != 0 && result != -5) state.SkipWithError("update failed");
    }
}

int Register() {
    for (int id : {QNL_ALG_BN_BACKWARD_SAMPLING, QNL_ALG_BN_LIKELIHOOD_WEIGHTING})
        benchmark::RegisterBenchmark(("BM_ChainSampling/id" + std::to_string(id)).c_str(),
                                     [id](benchmark::State& state) { BM_ChainSampling(state, id); })
            ->Arg(300)
            ->Arg(1200)
            ->Unit(benchmark::kMillisecond);
    for (const NetworkFile& file : kNetworks)
        for (int id : {QNL_ALG_BN_LIKELIHOOD_WEIGHTING, QNL_ALG_BN_ADAPTIVE_IMPORTANCE})
            benchmark::RegisterBenchmark(
                ("BM_Sampling/" + std::string(file.name) + "/id" + std::to_string(id)).c_str(),
                [&file, id](benchmark::State& state) { BM_Sampling(state, file, id); })
                ->Unit(benchmark::kMillisecond);
    return 0;
}

const int registered = Register();

} // namespace
