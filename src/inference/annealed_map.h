#pragma once

#include "inference/clique_table.h"
#include "model/parameter_blocks.h"
#include "numerics/random.h"

#include <cstdint>
#include <vector>

#include "model/network.h"

// Simulated annealing over the joint outcomes of chosen nodes (the MAP nodes) of a Bayesian
// network given evidence, with exact belief updating as the local oracle: each step redraws one
// MAP node from its distribution given the evidence and the other MAP nodes. Works on the
// network it is given, which it leaves with the MAP nodes entered as evidence: callers pass a
// copy, and the search needs no other. One seed gives one run. The probabilities it compares
// keep their power of two apart, so that a product of thousands of beliefs is still ordered
// and weighed as it is where a double holds it.
class QNL_annealedMAP {
public:
    QNL_annealedMAP() = default;

    // On 0: `assignment` holds the best outcome per MAP node (in the order of `mapNodes`),
    // `probability` its probability given the evidence, `probabilityOfEvidence` that of the
    // evidence. A probability below the smallest double is 0, with a message logged under -2
    // that gives its size (as QNL_network::CalcPropEvidence logs for the evidence). -2 with a
    // message for a MAP node that names no node, is a decision or utility node, is listed twice
    // or holds evidence, for an evidence node listed twice, for a MAP or evidence node below a
    // decision that holds no evidence (is not set), for evidence that names no outcome, and for
    // impossible evidence; else the code of a failing update. An influence diagram is searched
    // as the Bayesian network its set decisions make of it.
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
    // Join trees compiled by the last run.
    std::uint64_t GetCompilationCount() const { return compilationTotal; }
    // What withdrawing and entering the MAP nodes' outcomes between the steps of the last
    // run's passes cost: the nodes their evidence notifications walked, searched, propagated
    // from and collected.
    std::uint64_t GetEvidenceWork() const { return evidenceWorkTotal; }

private:
    using Scaled = quarn::detail::ScaledValue;

    int Check(QNL_network& network, const std::vector<int>& mapNodes,
              const std::vector<int>& evidenceNodes, const std::vector<int>& evidenceOutcomes);
    // Beliefs of `node` alone into `out`.
    int Beliefs(QNL_network& network, int node, std::vector<double>& out);
    int Search(QNL_network& network, const std::vector<int>& mapNodes);
    // Enters the outcome at a MAP node, or withdraws the node's finding for -1, unnoticed.
    int SetStepOutcome(QNL_network& network, int node, int outcome);
    Scaled ScaledHeatCapacity(const std::vector<Scaled>& history, double t) const;
    // P(best | evidence) as the product of each MAP node's belief in its outcome given the
    // evidence and the outcomes before it, the MAP nodes holding no evidence on entry.
    int ChainProbability(QNL_network& network, const std::vector<int>& mapNodes, Scaled& out);

    Scaled bestProbability;
    std::vector<int> best;
    std::vector<int> current;
    QNL_annealedMapTuning tuning;
    double energyScale = 1.0;
    std::vector<Scaled> history;
    Scaled maxHeatCapacity{0.0, 0};
    double temperatureAtMax = 0.0;
    QNL_random random;
    std::vector<double> beliefs;
    int passes = 0;
    std::vector<int> reheats;
    std::uint64_t updates = 0;
    std::uint64_t compilationTotal = 0;
    std::uint64_t evidenceWorkTotal = 0;
};
