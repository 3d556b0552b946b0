#pragma once

#include "model/network.h"

#include <cstdint>
#include <utility>
#include <vector>

class QNL_nodeValue;

// Evaluates an influence diagram by Bayesian-network inference on a working copy: utility
// tables become two-outcome chance nodes whose first outcome carries the rescaled utility,
// every combination of the scenario nodes (the decision-related nodes the overall utility
// depends on) is entered as evidence, and the results are written into the caller's values,
// indexed by the scenario nodes they depend on. With utilities, each decision's value then
// holds the expected utility of its options given the earlier scenario nodes, later decisions
// taken at their best. Owns the working copy for the duration of a solve.
class QNL_cooperSolver {
public:
    QNL_cooperSolver() = default;
    QNL_cooperSolver(const QNL_cooperSolver&) = delete;
    QNL_cooperSolver& operator=(const QNL_cooperSolver&) = delete;

    // 0, or the code of the first failing scenario update (values then not valid). The
    // automatic-update bit and the notification mask of the network are restored on every
    // exit; the network changes only in its values and the arcs of assumed temporal order.
    int Solve(QNL_network& network);
    int CleanUp(int deep = 1);

    // Of the last solve: the Bayesian updates of the working copy, and the join trees they
    // built (the others served again from the copy's kept trees).
    std::uint64_t GetUpdateCount() const { return updateCount; }
    std::uint64_t GetCompilationCount() const { return compilationCount; }
    // The copy the solves run on, made afresh by each; its join tree cache and that cache's
    // budget outlive the solves.
    QNL_network& GetWorkingNetwork() { return working; }

private:
    int Update();
    int Run();
    int MakeDecisionsChance();
    bool Chooses(int decision, int mau) const;
    int FindTarget();
    int ComputeIndexing();
    int DependentsOf(int node, std::vector<char>& out);
    int ObserveOnly(const std::vector<char>& observe);
    int CloseScenario();
    int ShapeValues();
    int ConvertWorkingCopy();
    void FindDecisionsAboveFindings();
    int WeighOutcomes(std::size_t level);
    int MakeScenarioRecord();
    int Enumerate(std::size_t level);
    void StoreResults(const std::vector<int>& nodes);
    int StoreOne(int node);
    int FinalUpdate();
    int CombineUtilities();
    void UndefineCellsOfNoScenario(QNL_nodeValue& value);
    int BackwardInduction();
    void MarkValid();
    void ListFailedScenario(std::size_t depth);

    QNL_network working;
    QNL_network* bound = nullptr;
    std::vector<int> utilityNodes;
    std::vector<int> related;
    std::vector<int> scenario;
    std::vector<int> outcome;
    std::vector<std::pair<int, int>> addedArcs;
    // Per handle: position in the scenario list or -1.
    std::vector<int> scenarioPosition;
    // Per handle: the scenario nodes that index its value.
    std::vector<std::vector<int>> indexing;
    // Per handle of a MAU node of the working copy: the decisions that choose its weights.
    std::vector<std::vector<int>> choosers;
    // Nodes written at every scenario, and nodes written once at the end.
    std::vector<int> perScenario;
    std::vector<int> once;
    // Per handle: a decision with a finding below it. Per scenario level: the outcomes worth
    // trying at the current scenario.
    std::vector<char> findingBelow;
    std::vector<std::vector<char>> possibleOptions;
    // Per assignment of the scenario list (the first node slowest): evaluated.
    std::vector<char> evaluated;
    int target = -1;
    bool addedTarget = false;
    bool utilitiesPresent = true;
    // Whether the copy's algorithm is exact, so that a belief of zero is an impossibility.
    bool exactUpdates = true;
    std::uint64_t updateCount = 0;
    std::uint64_t compilationCount = 0;
};
