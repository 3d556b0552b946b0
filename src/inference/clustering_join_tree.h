#pragma once

#include "inference/clique_table.h"
#include "inference/triangulator.h"

#include <cstdint>
#include <utility>
#include <vector>

class QNL_graphView;

// Exact beliefs, or the probability of the evidence, for one component of a reduced network.
// It triangulates the component into cliques, gives each record's table to the first clique
// (in order of weight, then member count) that holds its family, enters the evidence as
// slices, runs one collect and one distribute pass and reads each wanted record's marginal
// from the first clique that holds it. A tree owns its cliques; Update builds, propagates and
// frees in one call, while Build followed by Propagate, Refresh and Propagate again keeps the
// cliques and their storage for updates that change only evidence values.
class QNL_clusteringJoinTree {
public:
    using Failure = QNL_triangulator::Failure;

    // Keeps a reference to the view, so a temporary one is refused.
    explicit QNL_clusteringJoinTree(const QNL_graphView& view);
    explicit QNL_clusteringJoinTree(const QNL_graphView&& view) = delete;
    QNL_clusteringJoinTree(const QNL_clusteringJoinTree&) = delete;
    QNL_clusteringJoinTree& operator=(const QNL_clusteringJoinTree&) = delete;
    ~QNL_clusteringJoinTree() = default;

    // Writes the beliefs of every reported record and of every record whose node's byte is
    // set in the mask (indexed by node handle; null for none), clearing those bytes. A limit
    // of 0 is the default cap. False when the tree cannot be built within the limits or its
    // tables cannot be allocated (see GetFailure); beliefs are then untouched.
    bool Update(unsigned char* mask, std::uint64_t limit);
    // One propagation over the built tree, the beliefs written as Update writes them; the
    // cliques and their storage stay. False when storage cannot be had.
    bool Propagate(unsigned char* mask);
    // Reads the view again, for a component that may differ from the one the tree was built
    // for only in observed outcomes and table cells: true, with those taken over, when records,
    // outcomes, parents, the observed records and the tables' presence and shapes are all as
    // before, so the cliques serve again; false, with the tree unchanged, otherwise.
    bool Refresh();
    // The probability of the evidence entered in the component; -1.0 when the tree cannot be
    // built or its tables cannot be allocated, 0 when it is below the smallest double.
    double ProbabilityOfEvidence();
    // The same, kept apart from its power of two; false when the tree cannot be had.
    bool ProbabilityOfEvidence(quarn::detail::ScaledValue& result);

    // The steps of Update, one by one. Build triangulates and assigns the tables; false on
    // failure. PropagateAll sizes the tables and multiplies the assigned tables in, false when
    // storage cannot be had. Collect and Distribute pass the messages.
    bool Build(std::uint64_t limit);
    bool PropagateAll();
    void Collect();
    void Distribute();
    // Drops the cliques and their tables.
    void Free();

    // Why the last build failed, and the cliques it made.
    Failure GetFailure() const { return failure; }
    int GetNumberOfCliques() const { return static_cast<int>(sorted.size()); }
    // Cliques in sorted order (weight, then member count; creation order among equals). After
    // a propagation each potential's cells times 2^scale sum to the probability of the
    // evidence.
    const QNL_clique& GetClique(int position) const {
        return store[sorted[static_cast<std::size_t>(position)]];
    }
    // Creation index of a clique in sorted position; the root is the last created.
    int GetCreationIndex(int position) const { return sorted[static_cast<std::size_t>(position)]; }
    // The cliques that held a record when the tree was built, by creation index in sorted
    // order; an observed record has left them since.
    int GetNumberOfHolders(int record) const {
        return holderStart[static_cast<std::size_t>(record) + 1] -
               holderStart[static_cast<std::size_t>(record)];
    }
    int GetHolder(int record, int i) const {
        const int at = holderStart[static_cast<std::size_t>(record)] + i;
        return holderList[static_cast<std::size_t>(at)];
    }
    const QNL_cliqueStore& GetStore() const { return store; }
    int GetRoot() const { return root; }
    std::uint64_t GetTotalWeight() const { return totalWeight; }
    const quarn::detail::ComponentGraph& GetGraph() const { return graph; }
    // Whether each record's table matches its family.
    static bool TablesFit(const quarn::detail::ComponentGraph& records);

private:
    bool Organise();
    void RemoveObserved(int* list, int& count) const;
    std::int64_t CellCount(const int* list, int count) const;
    // Axes of a walk over a clique's potential reading a table over the sorted subset list.
    int SubsetAxes(const QNL_clique& large, const int* subset, int subsetCount,
                   quarn::detail::StrideAxis* out) const;
    // The steps below work on the cliques' tables of doubles (Cell double) or, where the
    // products of a propagation left the range of a double, on their wide cells.
    template <typename Cell> bool PropagateAll();
    template <typename Cell> void Collect();
    template <typename Cell> void Distribute();
    // Sizes the potential after dropping observed members and multiplies the assigned
    // tables in (all ones without one).
    template <typename Cell> bool BuildPotential(QNL_clique& clique);
    template <typename Cell> bool SizeSeparator(QNL_clique& clique);
    template <typename Cell>
    void PassUp(QNL_clique& child, QNL_clique& parent, const quarn::detail::Strides& toSeparator,
                const quarn::detail::Strides& parentToSeparator);
    template <typename Cell> void PassDown(QNL_clique& child, const QNL_clique& parent);
    template <typename Cell> void WriteBeliefs(unsigned char* mask);
    template <typename Cell> bool CollectEvidence(quarn::detail::ScaledValue& result);
    // Drops the wide cells of every clique.
    void FreeWide();
    bool Fail(Failure why) {
        failure = why;
        return false;
    }

    const QNL_graphView& view;
    quarn::detail::ComponentGraph graph;
    // The view as Refresh reads it again, before it replaces the graph.
    quarn::detail::ComponentGraph reread;
    QNL_cliqueStore store;
    // Kept with its working arrays, so that building again allocates nothing it had before.
    QNL_triangulator triangulator{graph, store};
    std::vector<int> sorted;
    int root = -1;
    std::uint64_t totalWeight = 0;
    Failure failure = Failure::NONE;
    // Axes of the clique-to-separator and parent-to-separator walks of every clique.
    std::vector<quarn::detail::StrideAxis> axisPool;
    // The separator's cells before a distribute message replaces them.
    quarn::detail::CliqueTable oldSeparator;
    std::vector<quarn::detail::WideCell> wideOldSeparator;
    std::vector<quarn::detail::WideCell> wideMarginal;
    // Working lists of the passes, kept so that a propagation allocates nothing.
    std::vector<std::pair<int, int>> collectStack;
    std::vector<int> distributeStack;
    std::vector<char> handled;
    std::vector<double> marginal;
    // The cliques holding each record, in sorted order, from the last build: where each table
    // is assigned, and where families are looked for (GetHolder).
    std::vector<int> holderStart;
    std::vector<int> holderList;
    std::vector<int> holderFill;
};
