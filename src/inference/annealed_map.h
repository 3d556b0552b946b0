#pragma once

#include "model/parameter_blocks.h"
#include "numerics/random.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "model/network.h"

// Simulated annealing over the joint outcomes of chosen nodes (the MAP nodes) of a Bayesian
// network given evidence, with exact belief updating as the local oracle: each step redraws one
// MAP node from its distribution given the evidence and the other MAP nodes. Works on the
// network it is given, which it leaves with the MAP nodes entered as evidence: callers pass a
// copy. One seed gives one run.
class QNL_annealedMAP {
public:
    QNL_annealedMAP() = default;

    // On 0: `assignment` holds the best outcome per MAP node (in the order of `mapNodes`),
    // `probability` its probability given the evidence, `probabilityOfEvidence` that of the
    // evidence. -2 with a message for a MAP node that names no node, is a decision or utility
    // node, is listed twice or holds evidence, for an evidence node listed twice, for a MAP or
    // evidence node below a decision that holds no evidence (is not set), for evidence that
    // names no outcome, and for evidence of probability 0; else the code of a failing update.
    // An influence diagram is searched as the Bayesian network its set decisions make of it.
    int Run(QNL_network& network, const std::vector<int>& mapNodes, std::vector<int>& assignment,
            const std::vector<int>& evidenceNodes, const std::vector<int>& evidenceOutcomes,
            double& probability, double& probabilityOfEvidence, int seed,
            const QNL_annealedMapTuning& tuning);

    // The heat capacity of a pass's history of probabilities at temperature t.
    double HeatCapacity(const std::vector<double>& history, double t) const;

    // Of the last run: the passes made, the passes after which it reheated (counted from 1),
    // and the belief updates.
    int GetPassCount() const { return passes; }
    const std::vector<int>& GetReheatPasses() const { return reheats; }
    std::uint64_t GetUpdateCount() const { return updates; }
    // Join trees compiled by the last run, over all its working networks.
    std::uint64_t GetCompilationCount() const { return compilationTotal; }
    // What entering and withdrawing outcomes cost the last run's views (the working networks
    // of its steps): the nodes their evidence notifications walked, searched, propagated from
    // and collected.
    std::uint64_t GetEvidenceWork() const { return evidenceWorkTotal; }

private:
    int Check(QNL_network& network, const std::vector<int>& mapNodes,
              const std::vector<int>& evidenceNodes, const std::vector<int>& evidenceOutcomes);
    // Beliefs of `node` alone into `out`.
    int Beliefs(QNL_network& network, int node, std::vector<double>& out);
    int Search(QNL_network& network, const std::vector<int>& mapNodes);
    int ViewBeliefs(QNL_network& network, const std::vector<int>& mapNodes, std::size_t i);
    std::uint64_t CountCompilations() const;
    std::uint64_t CountEvidenceWork() const;

    // A copy of the network where one MAP node is the target and the others hold the
    // outcomes `entered`.
    struct View {
        std::unique_ptr<QNL_network> network;
        std::vector<int> entered;
    };

    double bestProbability = 1.0;
    std::vector<int> best;
    std::vector<int> current;
    QNL_annealedMapTuning tuning;
    double energyScale = 1.0;
    std::vector<double> history;
    double maxHeatCapacity = 0.0;
    double temperatureAtMax = 0.0;
    QNL_random random;
    std::vector<double> beliefs;
    int passes = 0;
    std::vector<int> reheats;
    std::uint64_t updates = 0;
    std::uint64_t compilationTotal = 0;
    std::uint64_t evidenceWorkTotal = 0;
    std::vector<View> views;
};
