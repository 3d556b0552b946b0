// Reading and building equation networks of 2,000 and 8,000 nodes: a chain (x_i = x_{i-1} + 1)
// and a random DAG (each node the sum of one to three earlier ones, plus 1). The ".xqnl" files
// are written as text by this program, not by the library's writer, once per shape and size;
// one iteration reads one into a fresh network (`BM_ReadEquationFile`) or builds the same
// network through AddNode and SetEquation after reserving its slots (`BM_BuildEquationNetwork`;
// without the reservation the table grows by its fixed step, copying every slot each time).
// Reading or building 8,000 nodes should take about four times as long as 2,000. A discrete
// chain of CPT nodes read the same way (`BM_ReadCptChainFile`) gives the scale.

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The parents of each node, by index: the one before it, or one to three distinct earlier
// nodes drawn from a fixed stream.
std::vector<std::vector<int>> Parents(int nodes, bool dag) {
    std::vector<std::vector<int>> parents(static_cast<std::size_t>(nodes));
    std::uint64_t seed = 11;
    for (int i = 1; i < nodes; ++i) {
        std::vector<int>& own = parents[static_cast<std::size_t>(i)];
        if (!dag) {
            own.push_back(i - 1);
            continue;
        }
        const int wanted = 1 + static_cast<int>(quarn_bench::Next(seed) % 3);
        for (int k = 0; k < wanted; ++k) {
            const int p = static_cast<int>(quarn_bench::Next(seed) % static_cast<unsigned>(i));
            if (std::find(own.begin(), own.end(), p) == own.end()) own.push_back(p);
        }
    }
    return parents;
}

std::string Id(int i) {
    return "x" + std::to_string(i);
}

std::string EquationText(int i, const std::vector<int>& parents) {
    std::string text = Id(i) + " = ";
    for (int p : parents)
        text += Id(p) + " + ";
    return text + "1";
}

// The file of the shape and size, written on first use and removed at exit.
const std::string& EquationFile(int nodes, bool dag) {
    struct Files {
        std::map<std::pair<int, bool>, std::string> paths;
        ~Files() {
            for (const auto& entry : paths)
                std::remove(entry.second.c_str());
        }
    };
    static Files files;
    std::string& path = files.paths[{nodes, dag}];
    if (!path.empty()) return path;
    path = "/tmp/quarn_equation_read_bench_" + std::to_string(::getpid()) + "_" +
           std::to_string(nodes) + (dag ? "_dag" : "_chain") + ".xqnl";
    const auto parents = Parents(nodes, dag);
    std::ofstream out(path);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<quarn version=\"1.0\" id=\"Equations\" numsamples=\"1000\">\n<nodes>\n";
    for (int i = 0; i < nodes; ++i) {
        const std::vector<int>& own = parents[static_cast<std::size_t>(i)];
        out << "<equation id=\"" << Id(i) << "\">\n";
        if (!own.empty()) {
            out << "<parents>";
            for (std::size_t k = 0; k < own.size(); ++k)
                out << (k > 0 ? " " : "") << Id(own[k]);
            out << "</parents>\n";
        }
        out << "<definition>" << EquationText(i, own) << "</definition>\n</equation>\n";
    }
    out << "</nodes>\n</quarn>\n";
    return path;
}

void BM_ReadEquationFile(benchmark::State& state) {
    const int nodes = static_cast<int>(state.range(0));
    const std::string& path = EquationFile(nodes, state.range(1) != 0);
    for (auto _ : state) {
        QNL_network network;
        if (network.ReadFile(path.c_str()) != 0 || network.GetNumberOfNodes() != nodes) {
            state.SkipWithError("read failed");
            break;
        }
    }
    state.counters["nodes"] = nodes;
}

void BM_BuildEquationNetwork(benchmark::State& state) {
    const int nodes = static_cast<int>(state.range(0));
    const auto parents = Parents(nodes, state.range(1) != 0);
    for (auto _ : state) {
        QNL_network network;
        network.ReserveSlots(nodes);
        for (int i = 0; i < nodes; ++i) {
            const int h = network.AddNode(QNL_TYPE_EQUATION, Id(i).c_str());
            auto* equation = dynamic_cast<QNL_equation*>(network.GetNode(h)->GetDefinition());
            if (equation == nullptr ||
                equation->SetEquation(EquationText(i, parents[static_cast<std::size_t>(i)]),
                                      nullptr, nullptr) != 0) {
                state.SkipWithError("build failed");
                return;
            }
        }
    }
    state.counters["nodes"] = nodes;
}

void BM_ReadCptChainFile(benchmark::State& state) {
    const int nodes = static_cast<int>(state.range(0));
    const std::string path = "/tmp/quarn_equation_read_bench_" + std::to_string(::getpid()) +
                             "_cpt_" + std::to_string(nodes) + ".xqnl";
    {
        QNL_network chain;
        for (int i = 0; i < nodes; ++i) {
            const int h = chain.AddNode(QNL_TYPE_CPT, Id(i).c_str());
            if (i > 0) chain.AddArc(h - 1, h);
        }
        if (chain.WriteFile(path.c_str()) != 0) {
            state.SkipWithError("write failed");
            return;
        }
    }
    for (auto _ : state) {
        QNL_network network;
        if (network.ReadFile(path.c_str()) != 0) {
            state.SkipWithError("read failed");
            break;
        }
    }
    std::remove(path.c_str());
    state.counters["nodes"] = nodes;
}

// Arguments: nodes, and 1 for the random DAG.
BENCHMARK(BM_ReadEquationFile)
    ->Args({2000, 0})
    ->Args({8000, 0})
    ->Args({2000, 1})
    ->Args({8000, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildEquationNetwork)
    ->Args({2000, 0})
    ->Args({8000, 0})
    ->Args({2000, 1})
    ->Args({8000, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCptChainFile)->Arg(2000)->Arg(8000)->Unit(benchmark::kMillisecond);

} // namespace
