// Influence diagrams solved by Cooper's method (expected utilities of every decision) and
// by the best-policy method: the real diagrams of the shared data folder and a generated
// one of four stages, each a three-outcome observation before a three-option decision
// (6,561 scenarios), the same with a finding below every decision, and a chain of four
// decisions each seeing the one before, with a finding below each. Counters: the Bayesian
// updates of one solve and the join trees they built. Diagrams whose file is missing or does
// not read are left out.

#include "quarn.h"

#include "inference/influence_diagram.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

namespace {

struct DiagramFile {
    const char* name;
    const char* path; // below the networks folder
    int format;
};

const DiagramFile kDiagrams[] = {
    {"mildew_id", "net/mildew_id.net", 0},
    {"fisher_id", "net/fisher_id.net", 0},
    {"regular_id", "net/regular_id.net", 0},
    {"requirements_id", "net/requirements_id.net", 0},
    {"oil_wildcatter_id", "xmlbif/oil_wildcatter_id.xml", QNL_FORMAT_XMLBIF},
};

// Stage i: observation Ci (3 outcomes, depending on the previous observation and decision),
// decision Di seeing Ci, utility Ui over (Ci, Di).
void BuildStages(QNL_network& net, int stages) {
    int previousChance = -1, previousDecision = -1;
    for (int i = 0; i < stages; ++i) {
        const int c = net.AddNode(QNL_TYPE_CPT, ("C" + std::to_string(i)).c_str());
        net.GetNode(c)->GetDefinition()->SetNumberOfOutcomes(3);
        if (previousChance >= 0) net.AddArc(previousChance, c);
        if (previousDecision >= 0) net.AddArc(previousDecision, c);
        QNL_doubleArray p;
        const int columns = net.GetNode(c)->GetDefinition()->GetMatrix()->GetSize() / 3;
        for (int k = 0; k < columns; ++k) {
            const double a = 0.2 + 0.1 * (k % 5), b = 0.3;
            p.Add(a);
            p.Add(b);
            p.Add(1.0 - a - b);
        }
        static_cast<QNL_cpt*>(net.GetNode(c)->GetDefinition())->SetProbabilities(p);
        const int d = net.AddNode(QNL_TYPE_LIST, ("D" + std::to_string(i)).c_str());
        net.GetNode(d)->GetDefinition()->SetNumberOfOutcomes(3);
        net.AddArc(c, d);
        const int u = net.AddNode(QNL_TYPE_TABLE, ("U" + std::to_string(i)).c_str());
        net.AddArc(c, u);
        net.AddArc(d, u);
        QNL_doubleArray utilities;
        for (int k = 0; k < 9; ++k)
            utilities.Add(static_cast<double>((k * 37 + i * 11) % 23) - 7.0);
        static_cast<QNL_table*>(net.GetNode(u)->GetDefinition())->SetUtilities(utilities);
        previousChance = c;
        previousDecision = d;
    }
}

// A finding below every decision: stage i of `BuildStages` gains a two-outcome finding Fi
// over (Ci, Di), seen at 0. With `seen` false the decisions see no observation, only the
// decision before them (the best-policy method takes such diagrams).
void BuildFindingsBelow(QNL_network& net, int stages, bool seen) {
    BuildStages(net, stages);
    for (int i = 0; i < stages; ++i) {
        const int c = net.FindNode(("C" + std::to_string(i)).c_str());
        const int d = net.FindNode(("D" + std::to_string(i)).c_str());
        if (!seen) net.RemoveArc(c, d);
        if (!seen && i > 0) net.AddArc(net.FindNode(("D" + std::to_string(i - 1)).c_str()), d);
        const int f = net.AddNode(QNL_TYPE_CPT, ("F" + std::to_string(i)).c_str());
        net.AddArc(c, f);
        net.AddArc(d, f);
        QNL_doubleArray p;
        for (int k = 0; k < 9; ++k) {
            const double a = 0.15 + 0.08 * ((k * 5 + i) % 9);
            p.Add(a);
            p.Add(1.0 - a);
        }
        static_cast<QNL_cpt*>(net.GetNode(f)->GetDefinition())->SetProbabilities(p);
        net.GetNode(f)->GetValue()->SetEvidence(0);
    }
}

void SolveCooper(benchmark::State& state, QNL_network* net) {
    QNL_cooperSolver solver;
    for (auto _ : state) {
        quarn::detail::ResetInfluenceDiagramValues(*net);
        if (solver.Solve(*net) != 0) {
            state.SkipWithError("solve failed");
            return;
        }
    }
    state.counters["updates"] = static_cast<double>(solver.GetUpdateCount());
    state.counters["compilations"] = static_cast<double>(solver.GetCompilationCount());
}

void SolveBestPolicy(benchmark::State& state, QNL_network* net) {
    QNL_shachterSolver solver;
    for (auto _ : state) {
        quarn::detail::ResetInfluenceDiagramValues(*net);
        if (solver.Solve(*net) != 0) {
            state.SkipWithError("not applicable or failed");
            return;
        }
    }
    state.counters["updates"] = static_cast<double>(solver.GetUpdateCount());
    state.counters["compilations"] = static_cast<double>(solver.GetCompilationCount());
}

int Register() {
    for (const DiagramFile& file : kDiagrams) {
        const std::string path = std::string(QUARN_SHARED_DIR) + "/data/networks/" + file.path;
        if (!std::ifstream(path).good()) continue;
        auto* net = new QNL_network();
        if (net->ReadFile(path.c_str(), file.format) != 0) {
            delete net;
            continue;
        }
        benchmark::RegisterBenchmark((std::string("Cooper/") + file.name).c_str(), SolveCooper, net)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BestPolicy/") + file.name).c_str(),
                                     SolveBestPolicy, net)
            ->Unit(benchmark::kMillisecond);
    }
    auto* stages = new QNL_network();
    BuildStages(*stages, 4);
    benchmark::RegisterBenchmark("Cooper/stages4", SolveCooper, stages)
        ->Unit(benchmark::kMillisecond);
    auto* findings = new QNL_network();
    BuildFindingsBelow(*findings, 4, true);
    benchmark::RegisterBenchmark("Cooper/stages4_findings", SolveCooper, findings)
        ->Unit(benchmark::kMillisecond);
    auto* chain = new QNL_network();
    BuildFindingsBelow(*chain, 4, false);
    benchmark::RegisterBenchmark("Cooper/chain4_findings", SolveCooper, chain)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BestPolicy/chain4_findings", SolveBestPolicy, chain)
        ->Unit(benchmark::kMillisecond);
    return 0;
}

const int registered = Register();

} // namespace
