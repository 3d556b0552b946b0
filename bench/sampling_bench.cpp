// Samples per second of likelihood weighting (identifier 3) and adaptive importance sampling
// (identifier 7, its 25,000 learning samples included) on real networks with evidence on a
// tenth of the nodes. Networks whose file is missing or does not read are left out.

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

int Register() {
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
