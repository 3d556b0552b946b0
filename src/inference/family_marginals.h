#pragma once
// Internal: not part of the public interface.

#include "inference/clustering_join_tree.h"
#include "inference/graph_view.h"

#include <cstdint>
#include <utility>
#include <vector>

class QNL_relevanceComponent;

// The posterior joints of families of one component of a relevance reduction, read from a
// join tree built and propagated once: what EM takes its expected counts from, so that
// learning needs nothing of the tree's cliques or table kernels.
namespace quarn::detail {

class FamilyMarginals {
public:
    explicit FamilyMarginals(QNL_relevanceComponent* component) : view(component), tree(view) {}
    FamilyMarginals(const FamilyMarginals&) = delete;
    FamilyMarginals& operator=(const FamilyMarginals&) = delete;

    // Builds and propagates the tree; false when inference cannot be performed.
    bool Propagate();
    // The probability of the component's evidence (1 for a tree without cliques), kept apart
    // from its power of two so that a long record's probability does not fall to 0.
    ScaledValue EvidenceProbability() const;
    // The outcome the reduction fixed for a record, or -1.
    int GetObservedOutcome(int record) const { return view.GetObservedOutcome(record); }
    // Adds weight times the posterior joint of the members (record, step in the counts; in
    // ascending record order) into the counts, from the first clique that holds them all.
    // False when none does, or that clique holds no probability. It looks only at the cliques
    // holding one of the members, so the tables of a long component cost what they hold.
    bool AddJoint(const std::vector<std::pair<int, int>>& members, double weight,
                  double* counts) const;

    // Cliques whose members AddJoint compared with a family, since the tree was propagated.
    std::uint64_t GetCliquesCompared() const { return compared; }

private:
    // The clique first in sorted order that holds every member, nullptr when none does.
    const QNL_clique* FirstHolder(const std::vector<std::pair<int, int>>& members) const;

    QNL_graphView view;
    QNL_clusteringJoinTree tree;
    bool propagated = false;
    mutable std::uint64_t compared = 0;
};

} // namespace quarn::detail
