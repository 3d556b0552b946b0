// PC structure learning on data sampled from alarm (37 variables, 46 arcs) and insurance (27
// variables, 52 arcs): 10^3 to 10^5 records, MaxAdjacency 8, significance 0.05. Counters: the
// skeleton's distance to the true network (`missing` true edges plus `extra` learned ones),
// its precision and recall, the learned edges left undirected and the pairs marked directed
// both ways (conflicting v-structures). The data are sampled once per run, outside the timing.

#include "quarn.h"

#include "bench_networks.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Sampled {
    std::unique_ptr<QNL_network> net;
    std::vector<int> nodes; // variable i is node nodes[i]
    QNL_dataset data;
};

// Forward sampling in topological order from the nodes' probability tables (parents
// slowest, the node's own outcome fastest).
bool Sample(Sampled& s, const char* name, int records) {
    const std::string path = std::string(QUARN_SHARED_DIR) + "/data/networks/net/" + name;
    s.net = std::make_unique<QNL_network>();
    if (!quarn_bench::Exists(path) || s.net->ReadFile(path.c_str(), 0, 0) != 0) return false;
    const QNL_intArray order(s.net->GetOrderedNodes());
    s.nodes.assign(order.Items(), order.Items() + order.GetCount());
    std::map<int, int> variableOf;
    for (std::size_t i = 0; i < s.nodes.size(); ++i)
        variableOf[s.nodes[i]] = static_cast<int>(i);
    const std::size_t n = s.nodes.size();
    std::vector<std::vector<QNL_datasetCell>> cells(n, std::vector<QNL_datasetCell>(records));
    std::vector<int> value(n);
    std::uint64_t seed = 2024;
    for (int r = 0; r < records; ++r) {
        for (std::size_t v = 0; v < n; ++v) {
            QNL_nodeDefinition* definition = s.net->GetNode(s.nodes[v])->GetDefinition();
            const QNL_Dmatrix* table = definition->GetMatrix();
            const QNL_intArray& parents = s.net->GetParents(s.nodes[v]);
            const int outcomes = definition->GetNumberOfOutcomes();
            int offset = 0;
            for (int p = 0; p < parents.GetCount(); ++p)
                offset = offset * table->GetSizeOfDimension(p) + value[variableOf[parents[p]]];
            offset *= outcomes;
            double u = quarn_bench::Uniform(seed);
            int k = 0;
            while (k < outcomes - 1 && (u -= table->Subscript(offset + k)) >= 0.0)
                ++k;
            value[v] = k;
            cells[v][r] = QNL_IntCell(k);
        }
    }
    for (std::size_t v = 0; v < n; ++v) {
        const QNL_nodeDefinition* definition = s.net->GetNode(s.nodes[v])->GetDefinition();
        std::vector<std::string> names;
        for (int k = 0; k < definition->GetNumberOfOutcomes(); ++k)
            names.push_back(definition->GetOutcomeIds()->GetString(k));
        s.data.addIntVariable(s.net->GetNode(s.nodes[v])->GetId(), &cells[v], -1);
        s.data.setStateNames(static_cast<int>(v), names);
    }
    return true;
}

void BM_Pc(benchmark::State& state, const char* name) {
    Sampled s;
    if (!Sample(s, name, static_cast<int>(state.range(0)))) {
        state.SkipWithError("the network file is missing or does not read");
        return;
    }
    QNL_pc pc;
    QNL_pattern pattern;
    for (auto _ : state)
        if (pc.Learn(s.data, pattern) != 0) state.SkipWithError("PC failed");
    const int n = static_cast<int>(s.nodes.size());
    int arcs = 0, missing = 0, extra = 0, undirected = 0, twoWay = 0;
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b) {
            const bool learned = pattern.GetEdge(a, b) || pattern.GetEdge(b, a);
            const QNL_intArray& pa = s.net->GetParents(s.nodes[a]);
            const QNL_intArray& pb = s.net->GetParents(s.nodes[b]);
            const bool truth = pa.IsInList(s.nodes[b]) || pb.IsInList(s.nodes[a]);
            arcs += truth;
            missing += truth && !learned;
            extra += learned && !truth;
            undirected += pattern.GetEdge(a, b) == QNL_pattern::UNDIRECTED;
            twoWay += pattern.GetEdge(a, b) == QNL_pattern::DIRECTED &&
                      pattern.GetEdge(b, a) == QNL_pattern::DIRECTED;
        }
    const double found = arcs - missing;
    state.counters["missing"] = missing;
    state.counters["extra"] = extra;
    state.counters["precision"] = found / (found + extra);
    state.counters["recall"] = found / arcs;
    state.counters["undirected"] = undirected;
    state.counters["twoWay"] = twoWay;
}

BENCHMARK_CAPTURE(BM_Pc, alarm, "alarm.net")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Pc, insurance, "insurance.net")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
