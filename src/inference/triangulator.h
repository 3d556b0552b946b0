#pragma once

#include "inference/clique_table.h"

#include <cstdint>
#include <vector>

class QNL_Dmatrix;
class QNL_graphView;

namespace quarn::detail {

// The records of one component as the triangulator and the join tree read them once from
// the graph view: outcome counts, observations, parents (record indices) and tables.
struct ComponentGraph {
    std::vector<int> outcomes;
    // Observed outcome, -1 when unobserved.
    std::vector<int> observed;
    // Parents of record r: parents[parentStart[r] .. parentStart[r + 1]).
    std::vector<int> parentStart{0};
    std::vector<int> parents;
    // Null for a record without a table (it takes part in the graph only).
    std::vector<const QNL_Dmatrix*> tables;

    // The number of records.
    int GetCount() const { return static_cast<int>(outcomes.size()); }
    // What a record contributes to a clique's size: 1 once observed.
    int StateCount(int record) const {
        return observed[static_cast<std::size_t>(record)] >= 0
                   ? 1
                   : outcomes[static_cast<std::size_t>(record)];
    }
    int GetNumberOfParents(int record) const {
        return parentStart[static_cast<std::size_t>(record) + 1] -
               parentStart[static_cast<std::size_t>(record)];
    }
    int GetParent(int record, int index) const {
        return parents[static_cast<std::size_t>(parentStart[static_cast<std::size_t>(record)] +
                                                index)];
    }
    // Appends a record whose parents are earlier or later record indices.
    void AddRecord(int outcomeCount, int observedOutcome, const std::vector<int>& parentList,
                   const QNL_Dmatrix* table = nullptr);
    // False for a view that does not describe a sound component: a record without outcomes,
    // an observation out of range, a parent outside the component or the record itself.
    bool Read(const QNL_graphView& view);
};

// An indexed binary min-heap of nodes keyed by (weight, index), so the lowest index wins
// a tie of weights.
class WeightHeap {
public:
    // A heap of records keyed by their elimination cost.
    void Reset(int nodes);
    bool Empty() const { return heap.empty(); }
    int Top() const { return heap.front(); }
    std::uint64_t TopKey() const { return keys[static_cast<std::size_t>(heap.front())]; }
    // Inserts, moves or (weight 0) removes the node.
    void Set(int node, std::uint32_t weight);
    void Remove(int node);

private:
    void Up(std::size_t at);
    void Down(std::size_t at);
    void Place(std::size_t at, int node);

    std::vector<int> heap;
    std::vector<int> position;
    std::vector<std::uint64_t> keys;
};

// Undirected adjacency with the position of each neighbour in the other's neighbour list,
// so that an edge can be tested and removed in constant time. Open addressing with linear
// probing; deletion shifts the following entries back instead of leaving tombstones.
class AdjacencyMap {
public:
    // Edge positions of the adjacency lists, for quick adjacency tests.
    void Reserve(std::size_t entries);
    // The position of b in a's neighbour list, -1 when a and b are not adjacent.
    int Find(int a, int b) const;
    void Set(int a, int b, int position);
    void Erase(int a, int b);

private:
    static std::uint64_t Key(int a, int b) {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
               static_cast<std::uint32_t>(b);
    }
    std::size_t Slot(std::uint64_t key) const;
    void Grow();

    static constexpr std::uint64_t EMPTY = ~std::uint64_t{0};
    std::vector<std::uint64_t> keys;
    std::vector<int> values;
    // The table before a growth, kept for the next one.
    std::vector<std::uint64_t> oldKeys;
    std::vector<int> oldValues;
    std::size_t used = 0;
    std::size_t mask = 0;
};

} // namespace quarn::detail

// Turns one component's moral graph into the cliques of a join tree: simplicial nodes are
// eliminated first (sweeps in index order), otherwise the node of least weight (lowest index
// on ties) after fill-in; each elimination records one clique and takes along the neighbours
// it encloses. Cliques are limited to 30 members and their total weight to a cap; on success
// every clique but the last is linked to the first later clique holding its separator.
// The cliques go into the store (emptied first), which the caller owns and frees, also after
// a failure.
class QNL_triangulator {
public:
    static constexpr int MAX_MEMBERS = QNL_clique::MAX_MEMBERS;
    // Cap used when the limit is 0.
    static constexpr std::uint64_t DEFAULT_CAP = 0x10000000;
    // Cap of the probability of evidence.
    static constexpr std::uint64_t EVIDENCE_CAP = 0xFFFFFFFF;
    // A node weight above this is 0: too large, never chosen.
    static constexpr std::uint64_t WEIGHT_LIMIT = 0x40000000;

    enum class Failure {
        NONE,
        TOO_MANY_MEMBERS, // a clique would have a 31st member
        NO_ELIGIBLE_NODE, // every remaining weight is 0
        OVER_CAP,         // the total weight went above the cap
        BAD_COMPONENT,    // the view describes no sound component
        NO_PARENT,        // a separator held by no later clique (cannot happen for a chordal fill)
        OUT_OF_MEMORY,    // a table or list of the join tree could not be had
    };

    QNL_triangulator(const QNL_graphView& view, QNL_cliqueStore& store);
    // Keeps a reference to the graph, so a temporary one is refused.
    QNL_triangulator(const quarn::detail::ComponentGraph& graph, QNL_cliqueStore& store);
    QNL_triangulator(const quarn::detail::ComponentGraph&& graph, QNL_cliqueStore& store) = delete;
    QNL_triangulator(const QNL_triangulator&) = delete;
    QNL_triangulator& operator=(const QNL_triangulator&) = delete;

    // The cap is the limit, or DEFAULT_CAP for 0. False on failure (see GetFailure); may
    // throw bad_alloc.
    bool Run(std::uint64_t limit);
    // The weight of a node in the current graph: its state count times its neighbours', 0
    // when that exceeds WEIGHT_LIMIT.
    std::uint32_t NodeWeight(int node) const;

    // Why the triangulation stopped, the total clique weight and the weight allowed.
    Failure GetFailure() const { return failure; }
    std::uint64_t GetTotalWeight() const { return totalWeight; }
    std::uint64_t GetCap() const { return cap; }
    // Records in the order in which their elimination created a clique.
    const std::vector<int>& GetEliminationOrder() const { return eliminationOrder; }

private:
    void BuildGraph();
    void Link(int a, int b);
    void RemoveNode(int v);
    bool IsAdjacent(int a, int b) const;
    // The position of b in a's neighbour list, -1 when not adjacent.
    int Position(int a, int b) const;
    void Index(int v);
    bool IsSimplicial(int v) const;
    // v gained or lost neighbour `by`: its weight grows or shrinks by by's state count.
    void MultiplyWeight(int v, int by);
    void DivideWeight(int v, int by);
    void RecomputeWeight(int v);
    void MarkStale(int v);
    void RefreshHeap();
    // A node whose neighbourhood changed may have become simplicial.
    void Touch(int v);
    bool SimplicialPass();
    bool EliminateAll();
    void FillIn(int v);
    bool AddClique(int v, std::uint32_t weight);
    bool LinkCliques();
    bool Fail(Failure why) {
        failure = why;
        return false;
    }

    const quarn::detail::ComponentGraph* graph;
    quarn::detail::ComponentGraph ownGraph;
    const QNL_graphView* view = nullptr;
    QNL_cliqueStore& store;

    std::uint64_t totalWeight = 0;
    std::uint64_t cap = DEFAULT_CAP;
    int count = 0;
    int eliminated = 0;
    Failure failure = Failure::NONE;

    // Neighbour lists longer than this get their positions kept in the adjacency map;
    // shorter ones are scanned, which beats a hashed lookup while they fit a cache line or two.
    static constexpr std::size_t INDEX_DEGREE = 16;
    std::vector<std::vector<int>> neighbours;
    std::vector<char> indexed;
    quarn::detail::AdjacencyMap adjacency;
    std::vector<int> stateCount;
    std::vector<double> logState;
    // Exact weight while at most WEIGHT_LIMIT, else 0; the sum of log2 of the factors tells
    // when a weight lost to the limit may have come back below it.
    std::vector<std::uint32_t> weight;
    std::vector<double> logWeight;
    std::vector<char> isEliminated;
    // Weights change far more often than the least one is asked for: changed records wait
    // in the stale list and enter the heap just before it is read.
    quarn::detail::WeightHeap leastWeight;
    std::vector<int> stale;
    std::vector<char> isStale;
    std::vector<int> eliminationOrder;

    // The simplicial sweeps as a worklist: candidates above the cursor are checked in the
    // current sweep (smallest first), the others in the next one.
    std::vector<int> current; // a min-heap of indices
    std::vector<int> next;
    std::vector<char> inCurrent;
    std::vector<char> inNext;
    int cursor = -1;
    std::vector<int> scratch;
    // The cliques holding each record, while the cliques are linked.
    std::vector<int> holderStart;
    std::vector<int> holderList;
    std::vector<int> holderFill;
};
