#pragma once

#include "model/network.h"

#include <cstdint>
#include <utility>
#include <vector>

// Finds the best option of the first undecided decision of an influence diagram on a working
// copy: MAU nodes are folded into the utility tables, all utility tables are merged into one
// whose rescaled utility becomes the probability of a two-outcome chance node, decisions
// become chance nodes with uniform tables, and with the merged node's first outcome observed
// each decision, from the last to the first, is fixed per configuration of its parents to
// its option of highest belief, divided by the option's probability given the other evidence
// where findings below the decision make those unequal. Only the first decision's value is
// written: 1.0 at its best option, 0.0 elsewhere.
class QNL_shachterSolver {
public:
    QNL_shachterSolver() = default;
    QNL_shachterSolver(const QNL_shachterSolver&) = delete;
    QNL_shachterSolver& operator=(const QNL_shachterSolver&) = delete;

    // 0 or an error code; the notification settings of the network are restored on every
    // exit, and it changes only in its values and the arcs of assumed temporal order.
    int Solve(QNL_network& network);
    int CleanUp(int deep = 1);

    // Of the last solve: the Bayesian updates of the working copy, and the join trees they
    // built (the others served again from the copy's kept trees).
    std::uint64_t GetUpdateCount() const { return updateCount; }
    std::uint64_t GetCompilationCount() const { return compilationCount; }
    // The copy the solves run on, made afresh by each; its join tree cache and that cache's
    // budget outlive the solves.
    QNL_network& GetWorkingNetwork() { return working; }

    // More cells than this in the merged utility table are refused.
    static constexpr long long MAX_MERGED_CELLS = 8192;

private:
    int Run();
    int FoldMauNodes();
    int MergeUtilities();
    int ConvertWorkingCopy();
    int ConvertUtility(int node);
    int FixDecision(int decision, bool fix, int& best);
    void FindDecisionsAboveFindings();
    int Choose(int decision, bool weighed, int& choice);

    QNL_network working;
    QNL_network* bound = nullptr;
    std::vector<int> utilityNodes;
    std::vector<int> decisions;
    std::vector<int> related;
    std::vector<std::pair<int, int>> addedArcs;
    // Each decision's parents in the caller's network, before the conversion drops them.
    std::vector<std::vector<int>> decisionParents;
    // Per entry of the decision list: a finding lies below the decision.
    std::vector<char> findingBelow;
    int merged = -1;
    std::uint64_t updateCount = 0;
    std::uint64_t compilationCount = 0;
};
