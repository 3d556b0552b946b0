// Annealed MAP over 10 nodes of alarm and of hailfinder with evidence on every tenth of the
// other nodes (at an outcome of a forward sample, so it is possible). Counters: the belief
// updates of one search and the join trees they compiled. Networks whose file is missing or
// does not read are left out.

#include "quarn.h"

#include "inference/annealed_map.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

struct Problem {
    QNL_network net;
    std::vector<int> map, evidenceNodes, evidenceOutcomes;
};

// MAP nodes every fifth node from the first; evidence every tenth from the third, at
// outcome 0 unless that makes the evidence impossible.
void Choose(Problem& p) {
    std::vector<int> all;
    for (int h = p.net.GetFirstNode(); h >= 0; h = p.net.GetNextNode(h))
        all.push_back(h);
    for (std::size_t i = 0; i < all.size() && p.map.size() < 10; i += 5)
        p.map.push_back(all[i]);
    for (std::size_t i = 3; i < all.size(); i += 10) {
        QNL_nodeValue* value = p.net.GetNode(all[i])->GetValue();
        value->SetEvidence(0);
        double pe = 0.0;
        if (!p.net.CalcPropEvidence(pe) || !(pe > 0.0)) {
            value->ClearEvidence();
            continue;
        }
        p.evidenceNodes.push_back(all[i]);
        p.evidenceOutcomes.push_back(0);
    }
    p.net.ClearAllEvidence();
}

void Search(benchmark::State& state, Problem* p) {
    QNL_annealedMAP search;
    for (auto _ : state) {
        QNL_network copy(p->net);
        std::vector<int> assignment(p->map.size(), 0);
        double probability = 0.0, pe = 0.0;
        if (search.Run(copy, p->map, assignment, p->evidenceNodes, p->evidenceOutcomes, probability,
                       pe, 11, p->net.GetAnnealedMapTuning()) != 0) {
            state.SkipWithError("search failed");
            return;
        }
    }
    state.counters["updates"] = static_cast<double>(search.GetUpdateCount());
    state.counters["compilations"] = static_cast<double>(search.GetCompilationCount());
    state.counters["passes"] = static_cast<double>(search.GetPassCount());
}

int Register() {
    for (const char* name : {"alarm", "hailfinder"}) {
        const std::string path =
            std::string(QUARN_SHARED_DIR) + "/data/networks/net/" + name + ".net";
        if (!std::ifstream(path).good()) continue;
        auto* p = new Problem();
        if (p->net.ReadFile(path.c_str(), 0) != 0) {
            delete p;
            continue;
        }
        Choose(*p);
        benchmark::RegisterBenchmark((std::string("AnnealedMAP/") + name).c_str(), Search, p)
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}

const int registered = Register();

} // namespace
