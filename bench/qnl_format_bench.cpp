// Saving and loading a large real network in the library's own text format: munin (1,041
// nodes) is read once from the shared data folder, then written as ".qnl" and read back per
// iteration. Without the shared folder nothing is registered.

#include "quarn.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const std::string kSource = std::string(QUARN_SHARED_DIR) + "/data/networks/xmlbif/munin.xml";
const std::string kTarget = "/tmp/quarn_qnl_bench_" + std::to_string(::getpid()) + ".qnl";

QNL_network& Munin() {
    static QNL_network network;
    static const int read = network.ReadFile(kSource.c_str(), QNL_FORMAT_XMLBIF);
    (void)read;
    return network;
}

void BM_SaveMuninAsQnl(benchmark::State& state) {
    QNL_network& network = Munin();
    for (auto _ : state)
        if (network.WriteFile(kTarget.c_str()) != 0) state.SkipWithError("write failed");
    state.counters["bytes"] = static_cast<double>(std::ifstream(kTarget, std::ios::ate).tellg());
}

void BM_LoadMuninFromQnl(benchmark::State& state) {
    if (Munin().WriteFile(kTarget.c_str()) != 0) {
        state.SkipWithError("write failed");
        return;
    }
    for (auto _ : state) {
        QNL_network copy;
        if (copy.ReadFile(kTarget.c_str()) != 0) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(copy.GetNumberOfNodes());
    }
    std::remove(kTarget.c_str());
}

const bool registered = [] {
    if (!std::ifstream(kSource).good() || Munin().GetNumberOfNodes() == 0) return false;
    benchmark::RegisterBenchmark("BM_SaveMuninAsQnl", BM_SaveMuninAsQnl)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_LoadMuninFromQnl", BM_LoadMuninFromQnl)
        ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
