#pragma once

#include "inference/clique_table.h"
#include "inference/triangulator.h"

#include <cstdint>
#include <vector>

class QNL_graphView;

// Exact beliefs, or the probability of the evidence, for one component of a reduced network.
// It triangulates the component into cliques, gives each record's table to the first clique
// (in order of weight, then member count) that holds its family, enters the evidence as
// slices, runs one collect and one distribute pass and reads each wanted record's marginal
// from the first clique that holds it. A tree lives for one call and owns its cliques.
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
    // The probability of the evidence entered in the component; -1.0 when the tree cannot be
    // built or its tables cannot be allocated.
    double ProbabilityOfEvidence();

    // The steps of Update, one by one. Build triangulates and assigns the tables; false on
    // failure. PropagateAll sizes the tables and multiplies the assigned tables in, false when
    // storage cannot be had. Collect and Distribute pass the messages.
    bool Build(std::uint64_t limit);
    bool PropagateAll();
    void Collect();
    void Distribute();
    // Drops the cliques and their tables.
    void Free();

    Failure GetFailure() const { return failure; }
    int GetNumberOfCliques() const { return static_cast<int>(sorted.size()); }
    // Cliques in sorted order (weight, then member count; creation order among equals).
    const QNL_clique& GetClique(int position) const {
        return store[sorted[static_cast<std::size_t>(position)]];
    }
    // Creation index of a clique in sorted position; the root is the last created.
    int GetCreationIndex(int position) const { return sorted[static_cast<std::size_t>(position)]; }
    const QNL_cliqueStore& GetStore() const { return store; }
    int GetRoot() const { return root; }
    std::uint64_t GetTotalWeight() const { return totalWeight; }
    const quarn::detail::ComponentGraph& GetGraph() const { return graph; }

private:
    bool Organise();
    void RemoveObserved(int* list, int& count) const;
    std::int64_t CellCount(const int* list, int count) const;
    // Axes of a walk over a clique's potential reading a table over the sorted subset list.
    int SubsetAxes(const QNL_clique& large, const int* subset, int subsetCount,
                   quarn::detail::StrideAxis* out) const;
    // Sizes the potential after dropping observed members and multiplies the assigned
    // tables in (all ones without one).
    bool BuildPotential(QNL_clique& clique);
    bool SizeSeparator(QNL_clique& clique);
    void PassUp(QNL_clique& child, QNL_clique& parent, const quarn::detail::Strides& toSeparator,
                const quarn::detail::Strides& parentToSeparator);
    void PassDown(QNL_clique& child, const QNL_clique& parent);
    void WriteBeliefs(unsigned char* mask);
    bool Fail(Failure why) {
        failure = why;
        return false;
    }

    const QNL_graphView& view;
    quarn::detail::ComponentGraph graph;
    QNL_cliqueStore store;
    std::vector<int> sorted;
    int root = -1;
    std::uint64_t totalWeight = 0;
    Failure failure = Failure::NONE;
    // Axes of the clique-to-separator and parent-to-separator walks of every clique.
    std::vector<quarn::detail::StrideAxis> axisPool;
    // The separator's cells before a distribute message replaces them.
    quarn::detail::CliqueTable oldSeparator;
};
