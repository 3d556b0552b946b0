// Hybrid inference by likelihood weighting (algorithm 14) on a generated network of 50
// nodes: 40 continuous nodes, each a normal around a linear combination of up to three
// earlier ones, and 10 discrete children of continuous parents whose outcome weights are
// logistic in a parent. Five continuous nodes and two discrete ones hold evidence. One
// iteration is one UpdateBeliefs of 10^4 weighted samples (no draw weighs 0 here, so every
// draw is kept); the counter `draws` is per second.
//
// Propagated importance sampling (algorithm 13) runs on the same kind of network cut to 30
// nodes (24 continuous, 6 discrete; three continuous and two discrete observed): one
// iteration is the message passing (4 iterations of 250-point messages) and 10^3 samples
// drawn from the proposals it leaves. Message passing (algorithm 15) runs on the same
// network: each message sent once the messages it is drawn from are settled (and again as
// they change around the network's loops), then 10^3 weighted draws per node for the
// beliefs. The same on a hidden chain of 15, 60 and 240 steps with an observed child per
// step (`BM_HybridMessagePassingChain/<steps>`).

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>

namespace {

std::unique_ptr<QNL_network> BuildHybridNetwork(int continuous = 40, int discrete = 10,
                                                int algorithm = 14, int samples = 10000) {
    auto net = std::make_unique<QNL_network>();
    std::uint64_t seed = 11;
    for (int i = 0; i < continuous; ++i) {
        const std::string id = "x" + std::to_string(i);
        const int h = net->AddNode(QNL_TYPE_DISTRIBUTION, id.c_str());
        auto* def = dynamic_cast<QNL_continuousDefinition*>(net->GetNode(h)->GetDefinition());
        def->SetLowerBound(-1000.0);
        def->SetUpperBound(1000.0);
        std::string mean = "0";
        const int parents = i == 0 ? 0 : 1 + static_cast<int>(quarn_bench::Next(seed) % 3);
        for (int k = 0; k < parents; ++k) {
            const int p = static_cast<int>(quarn_bench::Next(seed) % static_cast<std::uint64_t>(i));
            if (net->AddArc(p, h) != 0) continue;
            mean += " + 0.4*x" + std::to_string(p);
        }
        def->SetExpression(0, "Normal(" + mean + ", 1)");
    }
    for (int i = 0; i < discrete; ++i) {
        const int h = net->AddNode(QNL_TYPE_DCHILDHPARENT, ("d" + std::to_string(i)).c_str());
        const int p = static_cast<int>(quarn_bench::Next(seed) % continuous);
        net->AddArc(p, h);
        auto* def = dynamic_cast<QNL_dchildHparent*>(net->GetNode(h)->GetDefinition());
        const std::string x = "x" + std::to_string(p);
        def->SetExpression(0, "state0", "1/(1+Exp(-" + x + "))");
        def->SetExpression(0, "state1", "1/(1+Exp(" + x + "))");
    }
    const int observed = continuous / 8;
    for (int i = 0; i < observed; ++i)
        net->GetNode(net->FindNode(("x" + std::to_string(continuous - observed + i)).c_str()))
            ->GetValue()
            ->SetEvidence(0.5);
    net->GetNode(net->FindNode("d0"))->GetValue()->SetEvidence(0);
    net->GetNode(net->FindNode("d1"))->GetValue()->SetEvidence(1);
    net->SetDefaultHBNAlgorithm(algorithm);
    net->SetNumberOfSamples(samples);
    return net;
}

// Every generator the hybrid algorithms draw from is seeded, so that a process's runs, and
// their counts of instructions, repeat: the mixture fits of the messages take as many passes
// as their draws ask for. Each run of a process takes the next seed, so that repetitions
// average over seeds.
void Update(benchmark::State& state, QNL_network& net) {
    static unsigned run = 0;
    ++run;
    for (QNL_random* random : {&QNL_randomUniform(), &QNL_randomMixtures(),
                               &QNL_randomSamplingNodes(), &QNL_randomSamplingDistributions()})
        random->Seed(run);
    for (auto _ : state) {
        if (net.UpdateBeliefs() != 0) {
            state.SkipWithError("update failed");
            break;
        }
    }
}

void BM_HybridLikelihoodWeighting(benchmark::State& state) {
    auto net = BuildHybridNetwork();
    Update(state, *net);
    state.counters["draws"] = benchmark::Counter(static_cast<double>(state.iterations()) * 10000,
                                                 benchmark::Counter::kIsRate);
}

BENCHMARK(BM_HybridLikelihoodWeighting)->Unit(benchmark::kMillisecond);

void BM_HybridPropagatedImportance(benchmark::State& state) {
    auto net = BuildHybridNetwork(24, 6, 13, 1000);
    Update(state, *net);
}

BENCHMARK(BM_HybridPropagatedImportance)->Unit(benchmark::kMillisecond);

void BM_HybridMessagePassing(benchmark::State& state) {
    auto net = BuildHybridNetwork(24, 6, 15, 1000);
    Update(state, *net);
}

BENCHMARK(BM_HybridMessagePassing)->Unit(benchmark::kMillisecond);

// A hidden linear-Gaussian chain of n steps, H_i ~ Normal(0.8 H_(i-1), 0.6), with an observed
// child E_i ~ Normal(H_i, 0.5) per step; message passing (algorithm 15) with 10^3 draws per
// node for its beliefs. Its cost should grow with n, the messages it sends.
std::unique_ptr<QNL_network> BuildHybridChain(int steps) {
    auto net = std::make_unique<QNL_network>();
    int previous = -1;
    for (int i = 0; i < steps; ++i) {
        const std::string h = "H" + std::to_string(i);
        const int hidden = net->AddNode(QNL_TYPE_DISTRIBUTION, h.c_str());
        auto* def = dynamic_cast<QNL_continuousDefinition*>(net->GetNode(hidden)->GetDefinition());
        def->SetLowerBound(-30.0);
        def->SetUpperBound(30.0);
        if (previous >= 0) net->AddArc(previous, hidden);
        def->SetExpression(0, previous >= 0 ? "Normal(0.8*H" + std::to_string(i - 1) + ", 0.6)"
                                            : std::string("Normal(0, 1)"));
        const int child = net->AddNode(QNL_TYPE_DISTRIBUTION, ("E" + std::to_string(i)).c_str());
        auto* cdef = dynamic_cast<QNL_continuousDefinition*>(net->GetNode(child)->GetDefinition());
        cdef->SetLowerBound(-30.0);
        cdef->SetUpperBound(30.0);
        net->AddArc(hidden, child);
        cdef->SetExpression(0, "Normal(" + h + ", 0.5)");
        net->GetNode(child)->GetValue()->SetEvidence(std::sin(0.7 * i));
        previous = hidden;
    }
    net->SetDefaultHBNAlgorithm(15);
    net->SetNumberOfSamples(1000);
    return net;
}

void BM_HybridMessagePassingChain(benchmark::State& state) {
    auto net = BuildHybridChain(static_cast<int>(state.range(0)));
    Update(state, *net);
}

BENCHMARK(BM_HybridMessagePassingChain)->Arg(15)->Arg(60)->Arg(240)->Unit(benchmark::kMillisecond);

} // namespace
