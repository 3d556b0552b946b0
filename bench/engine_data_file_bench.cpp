// Reading a learning-engine data file of 10^5 records and 40 columns (30 discrete columns of
// labels, 10 continuous ones, 1% missing): the first read scans the columns, writes the
// preprocess side file and loads the records; the second read loads them through the side
// file without the scan. Before timing, the two reads are checked to give the same columns.

#include "learning/engine_data_file.h"
#include "learning/engine_network.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr int kRecords = 100000;
constexpr int kDiscrete = 30;
constexpr int kContinuous = 10;

const std::string& DataFile() {
    static const std::string path = [] {
        const std::string file = "/tmp/quarn_engine_data_bench.txt";
        std::ofstream out(file, std::ios::binary);
        for (int c = 0; c < kDiscrete + kContinuous; ++c)
            out << (c < kDiscrete ? "d" : "x") << c
                << (c + 1 < kDiscrete + kContinuous ? "," : "\n");
        std::uint64_t random = 88172645463325252ULL;
        const auto next = [&random] {
            random ^= random << 13;
            random ^= random >> 7;
            random ^= random << 17;
            return random;
        };
        char number[32];
        for (int r = 0; r < kRecords; ++r)
            for (int c = 0; c < kDiscrete + kContinuous; ++c) {
                const std::uint64_t u = next();
                if (u % 100 == 0)
                    out << '*';
                else if (c < kDiscrete)
                    out << "level" << (u >> 8) % static_cast<std::uint64_t>(2 + c % 5);
                else {
                    std::snprintf(number, sizeof number, "%.6g",
                                  static_cast<double>((u >> 11) % 1000000) / 1000.0 - 400.0);
                    out << number;
                }
                out << (c + 1 < kDiscrete + kContinuous ? "," : "\n");
            }
        return file;
    }();
    return path;
}

bool SameColumns(const QNL_learnNetwork& a, const QNL_learnNetwork& b) {
    if (a.GetNumberOfNodes() != b.GetNumberOfNodes()) return false;
    for (int i = 0; i < a.GetNumberOfNodes(); ++i) {
        const QNL_learnNode& x = *a.GetNode(i);
        const QNL_learnNode& y = *b.GetNode(i);
        if (x.GetStates() != y.GetStates() ||
            x.GetDiscreteData().Size() != y.GetDiscreteData().Size() ||
            x.GetContinuousData().Size() != y.GetContinuousData().Size())
            return false;
        for (int r = 0; r < x.GetDiscreteData().Size(); ++r)
            if (x.GetDiscreteData()[r] != y.GetDiscreteData()[r]) return false;
        for (int r = 0; r < x.GetContinuousData().Size(); ++r)
            if (x.GetContinuousData()[r] != y.GetContinuousData()[r]) return false;
    }
    return true;
}

void Prepare(QNL_learnNetwork& net, bool throughSideFile) {
    net.SetStringOption("DATA_FILENAME", DataFile());
    if (!throughSideFile) return;
    net.SetBoolOption("USE_PREPROCESS_FILE", true);
    net.SetStringOption("PREPROCESS_FILENAME", DataFile() + ".vmq");
}

void BM_ReadEngineDataFile(benchmark::State& state) {
    const bool through = state.range(0) != 0;
    {
        QNL_learnNetwork direct;
        QNL_learnNetwork second;
        Prepare(direct, false);
        Prepare(second, true);
        if (direct.ReadDataFile() != 0 || second.ReadDataFile() != 0 ||
            direct.GetNumberOfNodes() != kDiscrete + kContinuous || !SameColumns(direct, second)) {
            state.SkipWithError("the two reads differ");
            return;
        }
    }
    for (auto _ : state) {
        QNL_learnNetwork net;
        Prepare(net, through);
        benchmark::DoNotOptimize(net.ReadDataFile());
    }
    state.SetLabel(through ? "through the side file" : "scan and side file");
    state.counters["records"] = kRecords;
    state.counters["columns"] = kDiscrete + kContinuous;
}

BENCHMARK(BM_ReadEngineDataFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
