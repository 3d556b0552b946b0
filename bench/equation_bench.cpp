// The equation-network solver on a generated network of 100 equation nodes: each node past
// the first ten takes two or three earlier nodes, a nonlinear function of them and, in the
// sampled variant, a normal draw. One iteration is one UpdateBeliefs (10^4 samples when
// sampled, a single evaluation otherwise); a set of four simultaneous equations hangs below.

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

std::unique_ptr<QNL_network> BuildEquationNetwork(bool sampled) {
    auto net = std::make_unique<QNL_network>();
    const int n = 100;
    for (int i = 0; i < n; ++i)
        net->AddNode(QNL_TYPE_EQUATION, ("n" + std::to_string(i)).c_str());
    std::uint64_t seed = 5;
    for (int i = 0; i < n; ++i) {
        const std::string id = "n" + std::to_string(i);
        std::string text = id + " = " + std::to_string(i % 7) + ".5";
        if (i >= 10) {
            const int parents = 2 + static_cast<int>(quarn_bench::Next(seed) % 2);
            for (int k = 0; k < parents; ++k) {
                const std::string p = "n" + std::to_string(quarn_bench::Next(seed) % i);
                text += k % 2 == 0 ? " + 0.3*Sin(" + p + ")"
                                   : " - Sqrt(Sqr(" + p + "))/(1+Exp(" + p + "))";
            }
        }
        if (sampled) text += " + Normal(0, 0.1)";
        dynamic_cast<QNL_equation*>(net->GetNode(i)->GetDefinition())
            ->SetEquation(text, nullptr, nullptr);
    }
    const char* set[] = {"s0", "s1", "s2", "s3"};
    for (const char* id : set)
        net->AddNode(QNL_TYPE_EQUATION_SCC, id);
    for (int k = 0; k < 4; ++k) {
        const int h = net->FindNode(set[k]);
        QNL_stringArray members;
        for (int j = 0; j < 4; ++j)
            if (j != k) members.Add(set[j]);
        auto* scc = dynamic_cast<QNL_equationSCC*>(net->GetNode(h)->GetDefinition());
        scc->SetMembers(members);
        net->AddArc(net->FindNode("n99"), h);
        scc->SetEquation(std::string(set[k]) + " = n99 + 0.2*" + set[(k + 1) % 4] + " - 0.1*" +
                             set[(k + 2) % 4] + "^2",
                         nullptr, nullptr);
    }
    net->SetNumberOfSamples(10000);
    return net;
}

void BM_EquationSolve(benchmark::State& state) {
    const bool sampled = state.range(0) != 0;
    auto net = BuildEquationNetwork(sampled);
    QNL_randomUniform().Seed(1);
    for (auto _ : state) {
        if (net->UpdateBeliefs() != 0) {
            state.SkipWithError("update failed");
            break;
        }
    }
    state.counters["samples"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * (sampled ? 10000 : 1),
                           benchmark::Counter::kIsRate);
}

BENCHMARK(BM_EquationSolve)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
