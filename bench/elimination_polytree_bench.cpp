// The second exact engine set beside the first on the real networks: building the trees of
// every component of the reduction without evidence (clustering: triangulation and table
// assignment; elimination: heap elimination, spanning tree, assignment) and one propagation
// over the built trees (tables filled from the conditional tables, collect, distribute). And
// the polytree propagation on a long chain and on a large random polytree. Then algorithm 10
// on a naive Bayes of many features.

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using quarn_bench::Exists;
using quarn_bench::FormatOf;
using quarn_bench::NetworkFile;
using quarn_bench::PathOf;

// A network read and reduced, with its components of more than one record.
struct Reduced {
    QNL_network net;
    QNL_componentList components;
    std::vector<QNL_relevanceComponent*> parts;
    std::vector<std::unique_ptr<QNL_graphView>> views;
};

std::unique_ptr<Reduced> Load(const std::string& path) {
    auto r = std::make_unique<Reduced>();
    if (r->net.ReadFile(path.c_str(), FormatOf(path)) != 0) return nullptr;
    if (QNL_relevance::Reduce(r->net, true, true, r->components) != 0) return nullptr;
    for (int i = 0; i < r->components.GetCount(); ++i)
        if (r->components[i]->GetNumberOfRecords() > 1) {
            r->parts.push_back(r->components[i]);
            r->views.push_back(std::make_unique<QNL_graphView>(r->components[i]));
        }
    return r;
}

void BM_Build(benchmark::State& state, std::string path, int algorithm) {
    auto r = Load(path);
    if (!r) {
        state.SkipWithError("not read");
        return;
    }
    for (auto _ : state) {
        for (std::size_t i = 0; i < r->parts.size(); ++i) {
            if (algorithm == QNL_ALG_BN_CLUSTERING) {
                QNL_clusteringJoinTree tree(*r->views[i]);
                if (!tree.Build(0)) state.SkipWithError("not built");
            } else {
                QNL_eliminationJoinTree tree;
                if (tree.BuildStructure(*r->parts[i]) != 0) state.SkipWithError("not built");
            }
        }
    }
}

void BM_Propagate(benchmark::State& state, std::string path, int algorithm) {
    auto r = Load(path);
    if (!r) {
        state.SkipWithError("not read");
        return;
    }
    std::vector<std::unique_ptr<QNL_clusteringJoinTree>> clustering;
    std::vector<std::unique_ptr<QNL_eliminationJoinTree>> elimination;
    double cells = 0.0;
    for (std::size_t i = 0; i < r->parts.size(); ++i) {
        if (algorithm == QNL_ALG_BN_CLUSTERING) {
            clustering.push_back(std::make_unique<QNL_clusteringJoinTree>(*r->views[i]));
            if (!clustering.back()->Build(0)) state.SkipWithError("not built");
            cells += static_cast<double>(clustering.back()->GetTotalWeight());
        } else {
            elimination.push_back(std::make_unique<QNL_eliminationJoinTree>());
            if (elimination.back()->BuildStructure(*r->parts[i]) != 0)
                state.SkipWithError("not built");
            cells += static_cast<double>(elimination.back()->GetTotalCells());
        }
    }
    for (auto _ : state) {
        for (auto& tree : clustering) {
            tree->PropagateAll();
            tree->Collect();
            tree->Distribute();
        }
        for (auto& tree : elimination) {
            tree->InitPotentials();
            tree->Propagate();
        }
    }
    state.counters["cells"] = cells;
}

void BM_PolytreeChain(benchmark::State& state) {
    QNL_network net;
    net.Init(100000, 1000);
    net.SetNotificationControl(0);
    std::vector<int> h;
    for (int i = 0; i < 100000; ++i) {
        h.push_back(quarn_bench::AddNode(net, i, 2));
        if (i > 0) net.AddArc(h[static_cast<std::size_t>(i - 1)], h.back());
    }
    quarn_bench::FillTables(net, h, 3);
    net.GetNode(h.back())->GetValue()->SetEvidence(1);
    for (auto _ : state)
        if (RunPolytree(net) != 0) state.SkipWithError("failed");
}
BENCHMARK(BM_PolytreeChain)->Unit(benchmark::kMillisecond);

// Each node joins an earlier one, as its parent or as its child, with two to four outcomes.
void BM_PolytreeRandom(benchmark::State& state) {
    QNL_network net;
    net.Init(10000, 1000);
    net.SetNotificationControl(0);
    std::uint64_t seed = 9;
    std::vector<int> h;
    for (int i = 0; i < 10000; ++i) {
        h.push_back(
            quarn_bench::AddNode(net, i, 2 + static_cast<int>(quarn_bench::Next(seed) % 3)));
        if (i == 0) continue;
        const int other =
            h[static_cast<std::size_t>(quarn_bench::Next(seed) % static_cast<std::uint64_t>(i))];
        if (quarn_bench::Next(seed) % 2 == 0 || net.NumberOfParents(other) >= 3)
            net.AddArc(other, h.back());
        else
            net.AddArc(h.back(), other);
    }
    quarn_bench::FillTables(net, h, 4);
    for (int i = 0; i < 10000; i += 100)
        net.GetNode(h[static_cast<std::size_t>(i)])->GetValue()->SetEvidence(0);
    for (auto _ : state)
        if (RunPolytree(net) != 0) state.SkipWithError("failed");
}
BENCHMARK(BM_PolytreeRandom)->Unit(benchmark::kMillisecond);

// A naive Bayes of F binary features below a three-outcome class, every feature observed:
// one update after a finding changed, the usual step of a case entered finding by finding,
// under algorithm 10 and, for scale, algorithm 0. The class node has F neighbours, so its
// elimination order and the links of its cliques are what such a network costs.
void BM_NaiveBayesUpdate(benchmark::State& state) {
    const int features = static_cast<int>(state.range(0));
    const int algorithm = static_cast<int>(state.range(1));
    QNL_network net;
    net.Init(features + 1, 1000);
    const int control = net.GetNotificationControl();
    net.SetNotificationControl(0);
    const int root = quarn_bench::AddNode(net, 0, 3);
    std::vector<int> h{root};
    for (int i = 1; i <= features; ++i) {
        h.push_back(quarn_bench::AddNode(net, i, 2));
        net.AddArc(root, h.back());
    }
    quarn_bench::FillTables(net, h, 6);
    for (int i = 1; i <= features; ++i)
        net.GetNode(h[static_cast<std::size_t>(i)])->GetValue()->SetEvidence(i % 2);
    net.SetNotificationControl(control);
    net.SetDefaultBNAlgorithm(algorithm);
    // The first update is not the step timed.
    if (net.UpdateBeliefs() != 0) state.SkipWithError("failed");
    int flip = 0;
    for (auto _ : state) {
        QNL_nodeValue* value = net.GetNode(h[1])->GetValue();
        value->ClearEvidence();
        value->SetEvidence(flip ^= 1);
        if (net.UpdateBeliefs() != 0) state.SkipWithError("failed");
    }
    state.counters["features"] = features;
}
BENCHMARK(BM_NaiveBayesUpdate)
    ->ArgsProduct({{250, 1000, 4000}, {QNL_ALG_BN_ELIMINATION_JOIN_TREE, QNL_ALG_BN_CLUSTERING}})
    ->Unit(benchmark::kMillisecond);

const bool kRegistered = [] {
    for (const NetworkFile& file : quarn_bench::kRealNetworks) {
        const std::string path = PathOf(file);
        if (!Exists(path)) continue;
        for (int id : {QNL_ALG_BN_CLUSTERING, QNL_ALG_BN_ELIMINATION_JOIN_TREE}) {
            const std::string suffix = "/" + std::string(file.name) + "/id" + std::to_string(id);
            auto* build =
                benchmark::RegisterBenchmark(("Build" + suffix).c_str(), BM_Build, path, id);
            auto* propagate = benchmark::RegisterBenchmark(("Propagate" + suffix).c_str(),
                                                           BM_Propagate, path, id);
            for (auto* b : {build, propagate}) {
                b->Unit(benchmark::kMicrosecond);
                if (file.large) b->Iterations(3);
            }
        }
    }
    return true;
}();

} // namespace
