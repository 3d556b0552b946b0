// Test ranking on a generated diagnostic network: 30 binary fault nodes in a ring of 150
// auxiliary nodes (each below two neighbouring faults) and 60 ranked tests (each below two
// auxiliary nodes), one of them observed. Each method ranks the 59 unperformed tests; the
// counters are the tests ranked and the join trees the two working networks built: in the
// first ranking, and on average in the rankings repeated with nothing changed.

#include "quarn.h"

#include "inference/join_tree_cache.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

int AddBinary(QNL_network& net, const std::string& id, const std::vector<int>& parents,
              double bias) {
    const int h = net.AddNode(QNL_TYPE_CPT, id.c_str());
    net.GetNode(h)->GetDefinition()->SetNumberOfOutcomes(2);
    for (int p : parents)
        net.AddArc(p, h);
    const int columns = 1 << parents.size();
    QNL_doubleArray table;
    table.SetSize(2 * columns);
    for (int c = 0; c < columns; ++c) {
        const double p = 0.05 + 0.9 * ((c * 37 + static_cast<int>(bias * 100)) % 17) / 16.0;
        table[2 * c] = p;
        table[2 * c + 1] = 1.0 - p;
    }
    net.GetNode(h)->GetDefinition()->SetDefinition(table);
    return h;
}

void Build(QNL_network& net) {
    std::vector<int> faults, aux;
    for (int i = 0; i < 30; ++i) {
        faults.push_back(AddBinary(net, "F" + std::to_string(i), {}, 0.05 + 0.01 * i));
        QNL_extraDefinition* extra = net.GetNode(faults.back())->GetExtraDefinition();
        extra->SetDiagnosisType(QNL_diagNetwork::TARGET);
        extra->SetFaultOutcome(0, true);
    }
    for (int i = 0; i < 150; ++i)
        aux.push_back(
            AddBinary(net, "A" + std::to_string(i), {faults[i % 30], faults[(i + 1) % 30]}, i));
    for (int j = 0; j < 60; ++j) {
        const int t = AddBinary(net, "T" + std::to_string(j),
                                {aux[(2 * j) % 150], aux[(2 * j + 77) % 150]}, j);
        QNL_extraDefinition* extra = net.GetNode(t)->GetExtraDefinition();
        extra->SetDiagnosisType(QNL_diagNetwork::OBSERVATION);
        extra->SetFlags(1, 0, 0);
    }
    net.GetNode(net.FindNode("T0"))->GetValue()->SetEvidence(0);
}

void BM_RankTests(benchmark::State& state) {
    const int flags = static_cast<int>(state.range(0));
    QNL_network net;
    Build(net);
    QNL_diagNetwork diag;
    diag.SetNetwork(&net);
    diag.CollectFaultsAndTests();
    diag.UpdateFaultBeliefs();
    if (flags == 0)
        diag.SetPursuedFault(diag.FindMostLikelyFault());
    else
        diag.SetPursuedFaults([] {
            QNL_intArray a;
            a.Add(0);
            a.Add(1);
            a.Add(2);
            return a;
        }());
    auto built = [&diag] {
        return diag.GetEngine()->GetFirstNetwork().GetJoinTreeCache().GetBuildCount() +
               diag.GetEngine()->GetSecondNetwork().GetJoinTreeCache().GetBuildCount();
    };
    std::uint64_t first = 0, builds = 0, rankings = 0;
    for (auto _ : state) {
        const std::uint64_t before = built();
        if (diag.ComputeTestStrengths(flags) != 0) {
            state.SkipWithError("ranking failed");
            break;
        }
        if (rankings++ == 0)
            first = built() - before;
        else
            builds += built() - before;
    }
    state.counters["tests"] = static_cast<double>(diag.GetResults().size());
    state.counters["first_compilations"] = static_cast<double>(first);
    state.counters["compilations"] =
        rankings > 1 ? static_cast<double>(builds) / static_cast<double>(rankings - 1) : 0.0;
}

} // namespace

// 0 single fault; 1 marginals; 2 product entropy; 4 joint entropy (three pursued faults).
BENCHMARK(BM_RankTests)->Arg(0)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
