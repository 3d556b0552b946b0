// Learning from data: reading a delimited data file of 10^5 records and 40 columns (integer,
// named and float columns), and EM on records sampled from the alarm network with a fifth of
// the cells blanked, starting from random tables. EM reports the time per pass, the number of
// passes and the largest difference between a learned and a true table cell.

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using quarn_bench::Exists;
using quarn_bench::Next;
using quarn_bench::Uniform;

std::string DataFile(int records) {
    const std::string path = "/tmp/quarn_learning_bench_" + std::to_string(::getpid()) + "_" +
                             std::to_string(records) + ".txt";
    if (Exists(path)) return path;
    std::ofstream out(path);
    std::uint64_t seed = 5;
    for (int c = 0; c < 40; ++c)
        out << (c ? "," : "") << "column" << c;
    out << '\n';
    for (int r = 0; r < records; ++r) {
        for (int c = 0; c < 40; ++c) {
            if (c) out << ',';
            const std::uint64_t x = Next(seed) % 1000;
            if (x < 50)
                out << '*';
            else if (c % 3 == 0)
                out << "state" << x % 7;
            else if (c % 3 == 1)
                out << x % 5;
            else
                out << static_cast<double>(x) / 7.0;
        }
        out << '\n';
    }
    return path;
}

void BM_ReadDataFile(benchmark::State& state) {
    const std::string path = DataFile(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QNL_dataset data;
        if (!data.readFile(path)) state.SkipWithError("the data file does not read");
        benchmark::DoNotOptimize(data.getNumberOfRecords());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_ReadDataFile)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

struct PassCounter : QNL_emProgress {
    long long calls = 0;
    bool Continue() override { return ++calls > 0; }
};

void BM_EmAlarm(benchmark::State& state) {
    const std::string path = std::string(QUARN_SHARED_DIR) + "/data/networks/net/alarm.net";
    QNL_network truth;
    if (!Exists(path) || truth.ReadFile(path.c_str()) != 0) {
        state.SkipWithError("alarm.net is not available");
        return;
    }
    const int records = static_cast<int>(state.range(0));
    std::vector<int> nodes;
    QNL_dataset data;
    for (int h = truth.GetFirstNode(); h >= 0; h = truth.GetNextNode(h)) {
        data.addIntVariable(truth.GetNode(h)->GetId(), nullptr, -1);
        data.setNodeHandle(static_cast<int>(nodes.size()), h);
        nodes.push_back(h);
    }
    const QNL_intArray order(truth.GetOrderedNodes());
    std::uint64_t seed = 17;
    std::vector<int> sample(static_cast<std::size_t>(truth.GetTableSize()));
    std::vector<QNL_datasetCell> record(nodes.size());
    for (int r = 0; r < records; ++r) {
        for (int i = 0; i < order.GetCount(); ++i) {
            const int h = order[i];
            const QNL_Dmatrix* table = truth.GetNode(h)->GetDefinition()->GetMatrix();
            const QNL_intArray& parents = truth.GetParents(h);
            int cell = 0;
            for (int p = 0; p < parents.GetCount(); ++p)
                cell += sample[static_cast<std::size_t>(parents[p])] * table->GetMultiplier(p);
            const int outcomes = table->GetSizeOfDimension(parents.GetCount());
            double u = Uniform(seed);
            int chosen = 0;
            for (int k = 0; k < outcomes; ++k) {
                const double p = table->Subscript(cell + k);
                if (p > 0.0) chosen = k;
                if (u < p) break;
                u -= p;
            }
            sample[static_cast<std::size_t>(h)] = chosen;
        }
        for (std::size_t v = 0; v < nodes.size(); ++v)
            record[v] =
                QNL_IntCell(Uniform(seed) < 0.2 ? -1 : sample[static_cast<std::size_t>(nodes[v])]);
        data.addRecord(record);
    }
    double passes = 0.0, perPass = 0.0, largest = 0.0;
    for (auto _ : state) {
        QNL_network learned(truth);
        QNL_em em(3);
        PassCounter counter;
        const auto start = std::chrono::steady_clock::now();
        if (em.Learn(data, learned, QNL_emParams(), &counter) != 0) {
            state.SkipWithError("EM failed");
            return;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        passes = static_cast<double>(counter.calls) / records;
        perPass = seconds / std::max(passes, 1.0);
        largest = 0.0;
        for (int h : nodes) {
            const QNL_Dmatrix* want = truth.GetNode(h)->GetDefinition()->GetMatrix();
            const QNL_Dmatrix* got = learned.GetNode(h)->GetDefinition()->GetMatrix();
            for (int i = 0; i < want->GetSize(); ++i)
                largest = std::max(largest, std::fabs(want->Subscript(i) - got->Subscript(i)));
        }
    }
    state.counters["passes"] = passes;
    state.counters["seconds_per_pass"] = perPass;
    state.counters["largest_error"] = largest;
}
BENCHMARK(BM_EmAlarm)->Arg(10000)->Arg(100000)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
