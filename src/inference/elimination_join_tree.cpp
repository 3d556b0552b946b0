#include "inference/elimination_join_tree.h"

#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "inference/clustering_join_tree.h"
#include "inference/graph_view.h"
#include "inference/join_tree_cache.h"
#include "inference/relevance.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <new>
#include <numeric>
#include <string>
#include <type_traits>

using quarn::detail::StrideAxis;
using quarn::detail::Strides;
using quarn::detail::WideCell;

namespace {

constexpr std::uint64_t kLargestCap = std::uint64_t{1} << 31;

std::uint64_t SaturatingProduct(std::uint64_t a, std::uint64_t b) {
    if (b != 0 && a > std::numeric_limits<std::uint64_t>::max() / b)
        return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

// The elimination graph: neighbour lists, with the position of every neighbour in the other's
// list kept in a hashed map so that adjacency is one lookup and removal constant time. Once
// Start has counted them, each record's fill-in count (pairs of its neighbours that are not
// adjacent) and weight (the product of its own and its neighbours' outcome counts) follow
// every fill edge and every removal, so an elimination costs what it touches instead of the
// square of each neighbour's degree.
class EliminationGraph {
public:
    explicit EliminationGraph(const std::vector<int>& outcomes)
        : outcomes(outcomes), neighbours(outcomes.size()) {
        positions.Reserve(16);
    }
    bool Adjacent(int a, int b) const {
        ++lookups;
        return positions.Find(a, b) >= 0;
    }
    // Adjacency tests made so far.
    std::uint64_t GetLookups() const { return lookups; }
    // An edge of the moral graph, before Start.
    void Link(int a, int b) {
        if (a == b || Adjacent(a, b)) return;
        Append(a, b);
        Append(b, a);
    }
    const std::vector<int>& List(int v) const { return neighbours[static_cast<std::size_t>(v)]; }
    // Counts the fill-in and weight of every record: each edge adds one to the count of
    // adjacent pairs of every common neighbour of its ends.
    void Start() {
        const std::size_t n = neighbours.size();
        missing.assign(n, 0);
        weights.assign(n, Product());
        for (std::size_t v = 0; v < n; ++v) {
            const std::int64_t d = static_cast<std::int64_t>(neighbours[v].size());
            missing[v] += d * (d - 1) / 2;
            Recount(static_cast<int>(v));
            for (int u : neighbours[v])
                if (static_cast<std::size_t>(u) > v)
                    ForCommon(static_cast<int>(v), u, [this](int x) { --Missing(x); });
        }
    }
    // Pairs of v's neighbours that are not adjacent.
    std::int64_t FillIn(int v) const {
        if (List(v).empty()) return QNL_eliminationJoinTree::NO_NEIGHBOURS;
        return missing[static_cast<std::size_t>(v)];
    }
    std::uint64_t Weight(int v) const {
        const Product& w = weights[static_cast<std::size_t>(v)];
        return w.zeros > 0 ? 0 : w.saturated ? std::numeric_limits<std::uint64_t>::max() : w.value;
    }
    // A fill edge between two records that are not adjacent: the pair becomes adjacent in
    // every common neighbour, and each end gains the other.
    void Fill(int a, int b) {
        std::int64_t common = 0;
        ForCommon(a, b, [&](int x) {
            --Missing(x);
            ++common;
        });
        Missing(a) += static_cast<std::int64_t>(List(a).size()) - common;
        Missing(b) += static_cast<std::int64_t>(List(b).size()) - common;
        Append(a, b);
        Append(b, a);
        Multiply(a, b);
        Multiply(b, a);
    }
    // Takes v out; its neighbours must be pairwise adjacent (as after its fill edges), so each
    // loses exactly the pairs that joined v to its neighbours outside v's neighbourhood.
    void Remove(int v) {
        const std::int64_t degree = static_cast<std::int64_t>(List(v).size());
        for (int u : List(v)) {
            std::vector<int>& list = neighbours[static_cast<std::size_t>(u)];
            Missing(u) -= static_cast<std::int64_t>(list.size()) - degree;
            Divide(u, v);
            const int at = positions.Find(u, v);
            const int last = list.back();
            list[static_cast<std::size_t>(at)] = last;
            list.pop_back();
            if (last != v) positions.Set(u, last, at);
            positions.Erase(u, v);
            positions.Erase(v, u);
        }
        neighbours[static_cast<std::size_t>(v)].clear();
    }

private:
    // The saturating product of outcome counts: exact below 2^64, with its base-2 logarithm
    // beside it so that a saturated one knows when a division could bring it back.
    struct Product {
        std::uint64_t value = 1;
        bool saturated = false;
        int zeros = 0;
        double log2 = 0.0;
    };
    void Append(int a, int b) {
        std::vector<int>& list = neighbours[static_cast<std::size_t>(a)];
        positions.Set(a, b, static_cast<int>(list.size()));
        list.push_back(b);
    }
    std::int64_t& Missing(int v) { return missing[static_cast<std::size_t>(v)]; }
    // Calls visit(x) for every common neighbour of a and b, walking the shorter list.
    template <typename Visit> void ForCommon(int a, int b, Visit visit) const {
        if (List(a).size() > List(b).size()) std::swap(a, b);
        for (int x : List(a))
            if (x != b && Adjacent(x, b)) visit(x);
    }
    static void Times(Product& w, int factor) {
        if (factor == 0) {
            ++w.zeros;
            return;
        }
        w.log2 += std::log2(static_cast<double>(factor));
        if (w.saturated) return;
        if (w.value >
            std::numeric_limits<std::uint64_t>::max() / static_cast<std::uint64_t>(factor))
            w.saturated = true;
        else
            w.value *= static_cast<std::uint64_t>(factor);
    }
    int Outcomes(int v) const { return outcomes[static_cast<std::size_t>(v)]; }
    void Recount(int v) {
        Product& w = weights[static_cast<std::size_t>(v)];
        w = Product();
        Times(w, Outcomes(v));
        for (int u : List(v))
            Times(w, Outcomes(u));
    }
    void Multiply(int v, int by) { Times(weights[static_cast<std::size_t>(v)], Outcomes(by)); }
    // Before `by` leaves v's list. Above 2^64.5 a saturated product stays saturated whatever
    // the rounding of its logarithm; below, it is counted again from the list.
    void Divide(int v, int by) {
        Product& w = weights[static_cast<std::size_t>(v)];
        const int factor = Outcomes(by);
        if (factor == 0) {
            --w.zeros;
            return;
        }
        w.log2 -= std::log2(static_cast<double>(factor));
        if (!w.saturated) {
            w.value /= static_cast<std::uint64_t>(factor);
        } else if (w.log2 <= 64.5) {
            w = Product();
            Times(w, Outcomes(v));
            for (int u : List(v))
                if (u != by) Times(w, Outcomes(u));
        }
    }

    const std::vector<int>& outcomes;
    std::vector<std::vector<int>> neighbours;
    quarn::detail::AdjacencyMap positions;
    std::vector<std::int64_t> missing;
    std::vector<Product> weights;
    mutable std::uint64_t lookups = 0;
};

// A binary min-heap of candidates keyed by (fill-in, weight); entries move only on a strict
// improvement, so ties stay where the heap put them.
class CandidateHeap {
public:
    CandidateHeap(const std::vector<std::int64_t>& fill, const std::vector<std::uint64_t>& weight)
        : fill(fill), weight(weight), position(fill.size(), -1) {}
    void Push(int v) {
        heap.push_back(v);
        Up(heap.size() - 1);
    }
    int Pop() {
        const int top = heap.front();
        position[static_cast<std::size_t>(top)] = -1;
        const int last = heap.back();
        heap.pop_back();
        if (!heap.empty()) {
            Place(0, last);
            Down(0);
        }
        return top;
    }
    void Restore(int v) {
        const int at = position[static_cast<std::size_t>(v)];
        if (at < 0) return;
        Up(static_cast<std::size_t>(at));
        Down(static_cast<std::size_t>(position[static_cast<std::size_t>(v)]));
    }

private:
    bool Less(int a, int b) const {
        const std::size_t x = static_cast<std::size_t>(a), y = static_cast<std::size_t>(b);
        return fill[x] != fill[y] ? fill[x] < fill[y] : weight[x] < weight[y];
    }
    void Place(std::size_t at, int v) {
        heap[at] = v;
        position[static_cast<std::size_t>(v)] = static_cast<int>(at);
    }
    void Up(std::size_t at) {
        const int v = heap[at];
        while (at > 0 && Less(v, heap[(at - 1) / 2])) {
            Place(at, heap[(at - 1) / 2]);
            at = (at - 1) / 2;
        }
        Place(at, v);
    }
    void Down(std::size_t at) {
        const int v = heap[at];
        for (;;) {
            std::size_t child = 2 * at + 1;
            if (child >= heap.size()) break;
            if (child + 1 < heap.size() && Less(heap[child + 1], heap[child])) ++child;
            if (!Less(heap[child], v)) break;
            Place(at, heap[child]);
            at = child;
        }
        Place(at, v);
    }
    const std::vector<std::int64_t>& fill;
    const std::vector<std::uint64_t>& weight;
    std::vector<int> position;
    std::vector<int> heap;
};

struct Candidate {
    int a, b;
    int shared;
    std::int64_t cellSum;
};

int Root(std::vector<int>& parent, int x) {
    while (parent[static_cast<std::size_t>(x)] != x)
        x = parent[static_cast<std::size_t>(x)] =
            parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(x)])];
    return x;
}

} // namespace

std::int64_t QNL_eliminationJoinTree::CellsOf(const std::vector<int>& members) const {
    std::uint64_t cells = 1;
    for (int r : members)
        cells = SaturatingProduct(
            cells, static_cast<std::uint64_t>(outcomes[static_cast<std::size_t>(r)]));
    return cells > kLargestCap ? static_cast<std::int64_t>(kLargestCap) + 1
                               : static_cast<std::int64_t>(cells);
}

int QNL_eliminationJoinTree::OutOfMemory() {
    Clear();
    return QNL_errorHandler::Instance().LogError(-42, "Elimination join tree: out of memory");
}

int QNL_eliminationJoinTree::Refuse(std::uint64_t cap) {
    Clear();
    return QNL_errorHandler::Instance().LogError(
        -42, "Elimination join tree: the clique tables would need more than " +
                 std::to_string(cap) + " cells");
}

void QNL_eliminationJoinTree::Clear() {
    Reset();
    spare.clear();
    spare.shrink_to_fit();
}

// The tables' storage goes to the spares, for the next build to take up.
void QNL_eliminationJoinTree::Reset() {
    for (Structure* s : AllStructures())
        if (s->table.Capacity() > 0) spare.push_back(std::move(s->table));
    wideCells = false;
    cliques.clear();
    separators.clear();
    assigned.clear();
    observed.clear();
    outcomes.clear();
    cliqueStart.clear();
    cliqueList.clear();
    separatorStart.clear();
    separatorList.clear();
    totalCells = 0;
    buildWork = 0;
}

std::vector<QNL_eliminationJoinTree::Structure*> QNL_eliminationJoinTree::AllStructures() {
    std::vector<Structure*> all;
    all.reserve(cliques.size() + separators.size());
    for (Clique& c : cliques)
        all.push_back(&c);
    for (Separator& s : separators)
        all.push_back(&s);
    return all;
}

int QNL_eliminationJoinTree::Build(const QNL_relevanceComponent& component, std::uint64_t limit) {
    if (int r = BuildStructure(component, limit)) return r;
    return InitPotentials();
}

int QNL_eliminationJoinTree::BuildStructure(const QNL_relevanceComponent& component,
                                            std::uint64_t limit) {
    Reset();
    try {
        const QNL_graphView view(const_cast<QNL_relevanceComponent*>(&component));
        if (!graph.Read(view) || !QNL_clusteringJoinTree::TablesFit(graph))
            return QNL_errorHandler::Instance().LogError(
                -567, "Elimination join tree: a table does not match its node's family");
        outcomes = graph.outcomes;
        observed.assign(outcomes.size(), -1);
        assigned.assign(outcomes.size(), -1);
        const std::uint64_t cap = limit == 0 ? DEFAULT_CAP : std::min(limit, kLargestCap);
        if (int r = Eliminate(cap)) return r;
        LinkCliques();
        Orient();
        ListHolders();
        for (Structure* s : AllStructures()) {
            s->built = s->members;
            s->builtCells = s->cells;
        }
        if (!AssignTables()) {
            Clear();
            return QNL_errorHandler::Instance().LogError(
                -567, "Elimination join tree: no clique holds a record's family");
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

// N - 1 eliminations: the candidate on top of the heap leaves the graph after its neighbours
// have been made pairwise adjacent; only its former neighbours get fresh keys, so keys two
// steps away may be stale, as the heap order has always had them. A cluster that no earlier
// clique contains becomes a clique.
int QNL_eliminationJoinTree::Eliminate(std::uint64_t cap) {
    const int n = static_cast<int>(outcomes.size());
    if (n <= 1) return 0;
    EliminationGraph g(outcomes);
    for (int r = 0; r < n; ++r) {
        const int parents = graph.GetNumberOfParents(r);
        for (int i = 0; i < parents; ++i)
            g.Link(r, graph.GetParent(r, i));
        for (int p = 0; p < parents; ++p)
            for (int q = p + 1; q < parents; ++q)
                g.Link(graph.GetParent(r, p), graph.GetParent(r, q));
    }
    g.Start();
    // The heap's keys: a record's counts as they were when it last had a new neighbourhood.
    std::vector<std::int64_t> fill(static_cast<std::size_t>(n));
    std::vector<std::uint64_t> weight(static_cast<std::size_t>(n));
    auto key = [&](int v) {
        fill[static_cast<std::size_t>(v)] = g.FillIn(v);
        weight[static_cast<std::size_t>(v)] = g.Weight(v);
    };
    CandidateHeap heap(fill, weight);
    for (int v = 0; v < n; ++v) {
        key(v);
        heap.Push(v);
    }
    std::vector<std::vector<int>> cliquesOf(static_cast<std::size_t>(n));
    std::vector<int> mark(static_cast<std::size_t>(n), -1);
    std::vector<int> cluster;
    auto addClique = [&](std::vector<int>& members) {
        std::sort(members.begin(), members.end());
        Clique clique;
        clique.members = members;
        clique.cells = CellsOf(members);
        totalCells += static_cast<std::uint64_t>(clique.cells);
        for (int r : members)
            cliquesOf[static_cast<std::size_t>(r)].push_back(static_cast<int>(cliques.size()));
        cliques.push_back(std::move(clique));
        return totalCells <= cap;
    };
    for (int step = 0; step + 1 < n; ++step) {
        const int v = heap.Pop();
        cluster.assign(1, v);
        const std::vector<int>& list = g.List(v);
        cluster.insert(cluster.end(), list.begin(), list.end());
        const std::int64_t f = fill[static_cast<std::size_t>(v)];
        if (f != 0 && f != NO_NEIGHBOURS)
            for (std::size_t i = 1; i < cluster.size(); ++i)
                for (std::size_t j = i + 1; j < cluster.size(); ++j)
                    if (!g.Adjacent(cluster[i], cluster[j])) g.Fill(cluster[i], cluster[j]);
        g.Remove(v);
        for (std::size_t i = 1; i < cluster.size(); ++i) {
            key(cluster[i]);
            heap.Restore(cluster[i]);
        }
        // A clique holding the whole cluster holds v, so only v's cliques are candidates.
        for (int r : cluster)
            mark[static_cast<std::size_t>(r)] = step;
        bool contained = false;
        for (int c : cliquesOf[static_cast<std::size_t>(v)]) {
            std::size_t held = 0;
            for (int r : cliques[static_cast<std::size_t>(c)].members)
                held += mark[static_cast<std::size_t>(r)] == step;
            if (held == cluster.size()) {
                contained = true;
                break;
            }
        }
        if (!contained && !addClique(cluster)) return Refuse(cap);
    }
    // Only a component that is not connected leaves its last record outside every clique.
    const int last = heap.Pop();
    if (cliquesOf[static_cast<std::size_t>(last)].empty()) {
        cluster.assign(1, last);
        if (!addClique(cluster)) return Refuse(cap);
    }
    buildWork += g.GetLookups();
    return 0;
}

// A maximum spanning forest over the clique intersections, by Kruskal's rule: pairs by shared
// records (most first), then by the sum of their tables, then by clique indices.
//
// A record that many cliques hold (the class node of a naive Bayes) would make every pair of
// them a candidate. Among the pairs that share only such a record r, only those with the
// smallest clique holding r (table size, then index) can enter the forest: any other pair
// (a, b) closes a triangle with that clique m, whose pairs (a, m) and (m, b) come first in
// the rule's order and join a and b already. So the pairs are taken through the records held
// by few cliques, and around the smallest clique for the others; the forest is the one all
// pairs give. Only where two records held by many cliques are held together by two of them
// could a pair share nothing else, and then every pair is taken.
void QNL_eliminationJoinTree::LinkCliques() {
    constexpr std::size_t kFew = 64;
    const int count = static_cast<int>(cliques.size());
    const std::size_t records = outcomes.size();
    std::vector<std::vector<int>> cliquesOf(records);
    for (int c = 0; c < count; ++c)
        for (int r : cliques[static_cast<std::size_t>(c)].members)
            cliquesOf[static_cast<std::size_t>(r)].push_back(c);
    auto many = [&](int r) { return cliquesOf[static_cast<std::size_t>(r)].size() > kFew; };
    bool everyPair = false;
    {
        std::vector<std::uint64_t> together;
        for (const Clique& clique : cliques) {
            const std::vector<int>& m = clique.members;
            for (std::size_t i = 0; i < m.size(); ++i)
                for (std::size_t j = i + 1; j < m.size() && many(m[i]); ++j)
                    if (many(m[j]))
                        together.push_back(
                            static_cast<std::uint64_t>(static_cast<std::uint32_t>(m[i])) << 32 |
                            static_cast<std::uint32_t>(m[j]));
        }
        std::sort(together.begin(), together.end());
        everyPair = std::adjacent_find(together.begin(), together.end()) != together.end();
    }
    auto sharedCount = [&](int a, int b) {
        const std::vector<int>& x = cliques[static_cast<std::size_t>(a)].members;
        const std::vector<int>& y = cliques[static_cast<std::size_t>(b)].members;
        int n = 0;
        for (std::size_t i = 0, j = 0; i < x.size() && j < y.size();) {
            if (x[i] < y[j])
                ++i;
            else if (y[j] < x[i])
                ++j;
            else
                ++n, ++i, ++j;
        }
        return n;
    };
    auto cellSum = [&](int a, int b) {
        return cliques[static_cast<std::size_t>(a)].cells +
               cliques[static_cast<std::size_t>(b)].cells;
    };
    std::vector<int> shared(static_cast<std::size_t>(count), 0);
    std::vector<int> touched;
    std::vector<Candidate> candidates;
    for (int a = 0; a < count; ++a) {
        bool skipped = false;
        for (int r : cliques[static_cast<std::size_t>(a)].members) {
            if (!everyPair && many(r)) {
                skipped = true;
                continue;
            }
            const std::vector<int>& holders = cliquesOf[static_cast<std::size_t>(r)];
            buildWork += holders.size();
            for (int b : holders)
                if (b > a && shared[static_cast<std::size_t>(b)]++ == 0) touched.push_back(b);
        }
        for (int b : touched) {
            const int n = skipped ? sharedCount(a, b) : shared[static_cast<std::size_t>(b)];
            candidates.push_back(Candidate{a, b, n, cellSum(a, b)});
            shared[static_cast<std::size_t>(b)] = 0;
        }
        touched.clear();
    }
    if (!everyPair) {
        for (std::size_t r = 0; r < records; ++r) {
            if (!many(static_cast<int>(r))) continue;
            const std::vector<int>& holders = cliquesOf[r];
            buildWork += holders.size();
            const int m = *std::min_element(holders.begin(), holders.end(), [&](int x, int y) {
                const std::int64_t cx = cliques[static_cast<std::size_t>(x)].cells;
                const std::int64_t cy = cliques[static_cast<std::size_t>(y)].cells;
                return cx != cy ? cx < cy : x < y;
            });
            for (int b : holders)
                if (b != m)
                    candidates.push_back(Candidate{std::min(m, b), std::max(m, b),
                                                   sharedCount(m, b), cellSum(m, b)});
        }
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& x, const Candidate& y) {
        if (x.shared != y.shared) return x.shared > y.shared;
        if (x.cellSum != y.cellSum) return x.cellSum < y.cellSum;
        return x.a != y.a ? x.a < y.a : x.b < y.b;
    });
    // A pair found both ways is one candidate.
    candidates.erase(std::unique(candidates.begin(), candidates.end(),
                                 [](const Candidate& x, const Candidate& y) {
                                     return x.a == y.a && x.b == y.b;
                                 }),
                     candidates.end());
    std::vector<int> tree(static_cast<std::size_t>(count));
    std::iota(tree.begin(), tree.end(), 0);
    for (const Candidate& candidate : candidates) {
        const int x = Root(tree, candidate.a), y = Root(tree, candidate.b);
        if (x == y) continue;
        tree[static_cast<std::size_t>(x)] = y;
        Separator separator;
        const std::vector<int>& a = cliques[static_cast<std::size_t>(candidate.a)].members;
        const std::vector<int>& b = cliques[static_cast<std::size_t>(candidate.b)].members;
        std::set_intersection(a.begin(), a.end(), b.begin(), b.end(),
                              std::back_inserter(separator.members));
        separator.cells = CellsOf(separator.members);
        separator.parent = candidate.a;
        separator.child = candidate.b;
        const int index = static_cast<int>(separators.size());
        cliques[static_cast<std::size_t>(candidate.a)].separators.push_back(index);
        cliques[static_cast<std::size_t>(candidate.b)].separators.push_back(index);
        separators.push_back(std::move(separator));
    }
}

// Cliques without a separator first; then each tree breadth first from its smallest clique,
// every separator pointing away from the root. Cliques and separators are renumbered in that
// order, and a child clique moves the records it shares with its parent to its end.
void QNL_eliminationJoinTree::Orient() {
    const int count = static_cast<int>(cliques.size());
    std::vector<int> cliqueOrder, separatorOrder;
    cliqueOrder.reserve(static_cast<std::size_t>(count));
    std::vector<char> placed(static_cast<std::size_t>(count), 0);
    for (int c = 0; c < count; ++c)
        if (cliques[static_cast<std::size_t>(c)].separators.empty()) {
            cliqueOrder.push_back(c);
            placed[static_cast<std::size_t>(c)] = 1;
        }
    std::vector<char> oriented(separators.size(), 0);
    while (static_cast<int>(cliqueOrder.size()) < count) {
        int root = -1;
        for (int c = 0; c < count; ++c)
            if (!placed[static_cast<std::size_t>(c)] &&
                (root < 0 || cliques[static_cast<std::size_t>(c)].cells <
                                 cliques[static_cast<std::size_t>(root)].cells))
                root = c;
        std::size_t queue = cliqueOrder.size();
        cliqueOrder.push_back(root);
        placed[static_cast<std::size_t>(root)] = 1;
        for (; queue < cliqueOrder.size(); ++queue) {
            const int c = cliqueOrder[queue];
            for (int s : cliques[static_cast<std::size_t>(c)].separators) {
                if (oriented[static_cast<std::size_t>(s)]) continue;
                oriented[static_cast<std::size_t>(s)] = 1;
                Separator& separator = separators[static_cast<std::size_t>(s)];
                const int child = separator.parent == c ? separator.child : separator.parent;
                separator.parent = c;
                separator.child = child;
                separatorOrder.push_back(s);
                cliqueOrder.push_back(child);
                placed[static_cast<std::size_t>(child)] = 1;
                cliques[static_cast<std::size_t>(child)].parentSeparator = s;
            }
        }
    }
    std::vector<int> newClique(static_cast<std::size_t>(count)), newSeparator(separators.size());
    for (int i = 0; i < count; ++i)
        newClique[static_cast<std::size_t>(cliqueOrder[static_cast<std::size_t>(i)])] = i;
    for (std::size_t i = 0; i < separatorOrder.size(); ++i)
        newSeparator[static_cast<std::size_t>(separatorOrder[i])] = static_cast<int>(i);
    std::vector<Clique> ordered(static_cast<std::size_t>(count));
    for (int c = 0; c < count; ++c) {
        Clique& clique = ordered[static_cast<std::size_t>(newClique[static_cast<std::size_t>(c)])];
        clique = std::move(cliques[static_cast<std::size_t>(c)]);
        for (int& s : clique.separators)
            s = newSeparator[static_cast<std::size_t>(s)];
        if (clique.parentSeparator >= 0) {
            clique.parentSeparator = newSeparator[static_cast<std::size_t>(clique.parentSeparator)];
            std::stable_partition(clique.separators.begin(), clique.separators.end(),
                                  [&](int s) { return s != clique.parentSeparator; });
        }
    }
    cliques.swap(ordered);
    std::vector<Separator> renumbered(separators.size());
    for (std::size_t s = 0; s < separators.size(); ++s) {
        Separator& separator = renumbered[static_cast<std::size_t>(newSeparator[s])];
        separator = std::move(separators[s]);
        separator.parent = newClique[static_cast<std::size_t>(separator.parent)];
        separator.child = newClique[static_cast<std::size_t>(separator.child)];
    }
    separators.swap(renumbered);
    for (Clique& clique : cliques) {
        if (clique.parentSeparator < 0) continue;
        const std::vector<int>& shared =
            separators[static_cast<std::size_t>(clique.parentSeparator)].members;
        std::vector<int>& members = clique.members;
        std::size_t free = members.size();
        for (std::size_t k = shared.size(); k-- > 0;) {
            --free;
            const auto at = std::find(members.begin(), members.end(), shared[k]);
            std::iter_swap(at, members.begin() + static_cast<std::ptrdiff_t>(free));
        }
    }
}

void QNL_eliminationJoinTree::ListHolders() {
    const std::size_t records = outcomes.size();
    auto list = [records](const auto& structures, std::vector<int>& start, std::vector<int>& out) {
        start.assign(records + 1, 0);
        for (const auto& s : structures)
            for (int r : s.members)
                ++start[static_cast<std::size_t>(r) + 1];
        for (std::size_t r = 0; r < records; ++r)
            start[r + 1] += start[r];
        out.assign(static_cast<std::size_t>(start[records]), 0);
        std::vector<int> fill(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < structures.size(); ++i)
            for (int r : structures[i].members)
                out[static_cast<std::size_t>(fill[static_cast<std::size_t>(r)]++)] =
                    static_cast<int>(i);
    };
    list(cliques, cliqueStart, cliqueList);
    list(separators, separatorStart, separatorList);
}

// Cliques by ascending table size (stable); each takes, in member order, every record whose
// family it holds and that has no clique yet.
bool QNL_eliminationJoinTree::AssignTables() {
    const int count = static_cast<int>(cliques.size());
    if (count == 0) return true;
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return cliques[static_cast<std::size_t>(a)].cells <
               cliques[static_cast<std::size_t>(b)].cells;
    });
    std::vector<int> mark(outcomes.size(), -1);
    for (int c : order) {
        const std::vector<int>& members = cliques[static_cast<std::size_t>(c)].members;
        for (int r : members)
            mark[static_cast<std::size_t>(r)] = c;
        for (int r : members) {
            if (assigned[static_cast<std::size_t>(r)] >= 0) continue;
            bool family = true;
            for (int p = 0; p < graph.GetNumberOfParents(r) && family; ++p)
                family = mark[static_cast<std::size_t>(graph.GetParent(r, p))] == c;
            if (family) assigned[static_cast<std::size_t>(r)] = c;
        }
    }
    for (std::size_t r = 0; r < outcomes.size(); ++r)
        if (assigned[r] < 0 && graph.tables[r] != nullptr) return false;
    return true;
}

template <> double* QNL_eliminationJoinTree::TableCells<double>(Structure& s) {
    return s.table.Cells();
}
template <> const double* QNL_eliminationJoinTree::TableCells<double>(const Structure& s) {
    return s.table.Cells();
}
template <> WideCell* QNL_eliminationJoinTree::TableCells<WideCell>(Structure& s) {
    return s.wide.data();
}
template <> const WideCell* QNL_eliminationJoinTree::TableCells<WideCell>(const Structure& s) {
    return s.wide.data();
}

int QNL_eliminationJoinTree::InitPotentials() {
    return InitPotentials<double>();
}

int QNL_eliminationJoinTree::InitWidePotentials() {
    return InitPotentials<WideCell>();
}

template <typename Cell> int QNL_eliminationJoinTree::InitPotentials() {
    try {
        wideCells = std::is_same_v<Cell, WideCell>;
        std::fill(observed.begin(), observed.end(), -1);
        for (Structure* s : AllStructures()) {
            s->members = s->built;
            s->cells = s->builtCells;
            if (std::is_same_v<Cell, double> && !s->wide.empty())
                std::vector<WideCell>().swap(s->wide);
        }
        if constexpr (std::is_same_v<Cell, double>) {
            // Each table without room takes the smallest spare that has it.
            std::sort(spare.begin(), spare.end(),
                      [](const auto& a, const auto& b) { return a.Capacity() < b.Capacity(); });
            for (Structure* s : AllStructures()) {
                if (s->table.Capacity() >= s->cells) continue;
                const auto fit = std::lower_bound(
                    spare.begin(), spare.end(), s->cells,
                    [](const auto& table, std::int64_t cells) { return table.Capacity() < cells; });
                if (fit == spare.end()) continue;
                std::swap(s->table, *fit);
                if (fit->Capacity() == 0) spare.erase(fit);
            }
            for (Clique& clique : cliques) {
                if (!clique.table.Resize(clique.cells)) throw std::bad_alloc();
                clique.table.Fill(1.0);
            }
            for (Separator& separator : separators)
                if (!separator.table.Resize(separator.cells)) throw std::bad_alloc();
        } else {
            for (Clique& clique : cliques)
                clique.wide.assign(static_cast<std::size_t>(clique.cells), WideCell(1.0));
            for (Separator& separator : separators)
                separator.wide.resize(static_cast<std::size_t>(separator.cells));
        }
        position.assign(outcomes.size(), -1);
        for (std::size_t r = 0; r < outcomes.size(); ++r) {
            const QNL_Dmatrix* table = graph.tables[r];
            if (assigned[r] < 0 || table == nullptr) continue;
            Clique& clique = cliques[static_cast<std::size_t>(assigned[r])];
            const std::size_t m = clique.members.size();
            sizes.resize(m);
            strides.assign(m, 0);
            axes.resize(m);
            for (std::size_t i = 0; i < m; ++i) {
                position[static_cast<std::size_t>(clique.members[i])] = static_cast<int>(i);
                sizes[i] = outcomes[static_cast<std::size_t>(clique.members[i])];
            }
            const int parents = graph.GetNumberOfParents(static_cast<int>(r));
            for (int d = 0; d <= parents; ++d) {
                const int record =
                    d < parents ? graph.GetParent(static_cast<int>(r), d) : static_cast<int>(r);
                strides[static_cast<std::size_t>(position[static_cast<std::size_t>(record)])] +=
                    table->GetMultiplier(d);
            }
            const Strides read{axes.data(),
                               quarn::detail::BuildStrideAxes(sizes.data(), strides.data(),
                                                              static_cast<int>(m), axes.data()),
                               0};
            quarn::detail::MultiplyStrided(TableCells<Cell>(clique), table->GetItems().Items(),
                                           read);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

// Keeps the slice of the table at every observed member's outcome; the observed members
// leave the member list.
template <typename Cell> int QNL_eliminationJoinTree::Slice(Structure& s) {
    const std::size_t m = s.members.size();
    bool any = false;
    for (int r : s.members)
        any = any || observed[static_cast<std::size_t>(r)] >= 0;
    if (!any) return 0;
    sizes.clear();
    strides.clear();
    std::int64_t stride = 1, start = 0;
    std::vector<int> kept;
    kept.reserve(m);
    // Strides of the old layout, from the fastest member backwards.
    std::vector<std::int64_t> old(m);
    for (std::size_t i = m; i-- > 0;) {
        old[i] = stride;
        stride *= outcomes[static_cast<std::size_t>(s.members[i])];
    }
    for (std::size_t i = 0; i < m; ++i) {
        const int r = s.members[i];
        const int seen = observed[static_cast<std::size_t>(r)];
        if (seen >= 0) {
            start += seen * old[i];
        } else {
            kept.push_back(r);
            sizes.push_back(outcomes[static_cast<std::size_t>(r)]);
            strides.push_back(old[i]);
        }
    }
    const std::int64_t cells = CellsOf(kept);
    axes.resize(std::max<std::size_t>(kept.size(), 1));
    const Strides read{axes.data(),
                       quarn::detail::BuildStrideAxes(sizes.data(), strides.data(),
                                                      static_cast<int>(kept.size()), axes.data()),
                       start};
    if constexpr (std::is_same_v<Cell, double>) {
        if (!scratch.Resize(cells)) return -42;
        quarn::detail::SetStrided(scratch.Cells(), s.table.Cells(), read);
        std::swap(scratch, s.table);
    } else {
        wideScratch.resize(static_cast<std::size_t>(cells));
        quarn::detail::SetStrided(wideScratch.data(), s.wide.data(), read);
        s.wide.swap(wideScratch);
    }
    s.members.swap(kept);
    s.cells = cells;
    return 0;
}

int QNL_eliminationJoinTree::EnterEvidence(const QNL_relevanceComponent& component) {
    if (component.GetNumberOfRecords() != static_cast<int>(outcomes.size())) return -2;
    for (std::size_t r = 0; r < outcomes.size(); ++r) {
        const int seen = component.GetRecord(static_cast<int>(r))->GetObservedOutcome();
        if (seen >= outcomes[r]) return -2;
        if (seen >= 0 && observed[r] >= 0 && observed[r] != seen) return -2;
    }
    try {
        for (std::size_t r = 0; r < outcomes.size(); ++r) {
            const int seen = component.GetRecord(static_cast<int>(r))->GetObservedOutcome();
            if (seen >= 0) observed[r] = seen;
        }
        for (Clique& clique : cliques)
            if (int r = wideCells ? Slice<WideCell>(clique) : Slice<double>(clique)) return r;
        for (Separator& separator : separators)
            if (int r = wideCells ? Slice<WideCell>(separator) : Slice<double>(separator)) return r;
        return 0;
    } catch (const std::bad_alloc&) {
        return -42;
    }
}

void QNL_eliminationJoinTree::StridesOnto(const std::vector<int>& large, const int* small,
                                          std::size_t count) {
    sizes.resize(large.size());
    strides.assign(large.size(), 0);
    std::int64_t stride = 1;
    for (std::size_t k = count; k-- > 0;) {
        position[static_cast<std::size_t>(small[k])] = stride;
        stride *= outcomes[static_cast<std::size_t>(small[k])];
    }
    for (std::size_t i = 0; i < large.size(); ++i) {
        sizes[i] = outcomes[static_cast<std::size_t>(large[i])];
        if (std::find(small, small + count, large[i]) != small + count)
            strides[i] = position[static_cast<std::size_t>(large[i])];
    }
}

void QNL_eliminationJoinTree::PrepareWalks() {
    axisPool.clear();
    position.assign(outcomes.size(), 0);
    auto add = [this](const std::vector<int>& large, const std::vector<int>& small, int& first,
                      int& count) {
        StridesOnto(large, small.data(), small.size());
        first = static_cast<int>(axisPool.size());
        axisPool.resize(axisPool.size() + std::max<std::size_t>(large.size(), 1));
        count = quarn::detail::BuildStrideAxes(
            sizes.data(), strides.data(), static_cast<int>(large.size()), axisPool.data() + first);
        axisPool.resize(static_cast<std::size_t>(first + count));
    };
    for (Separator& s : separators) {
        add(cliques[static_cast<std::size_t>(s.child)].members, s.members, s.childAxes,
            s.childAxisCount);
        add(cliques[static_cast<std::size_t>(s.parent)].members, s.members, s.parentAxes,
            s.parentAxisCount);
    }
    std::int64_t largest = 1;
    for (const Separator& s : separators)
        largest = std::max(largest, s.cells);
    marginal.resize(static_cast<std::size_t>(largest));
}

// Every separator carries its message, a scalar one included: a part of the tree whose
// evidence is impossible then zeroes the whole tree instead of leaving the rest believable.
// Messages and potentials are kept in range by powers of two (see ShiftMessage); only the
// normalised marginals are read, so the powers themselves are not kept.
void QNL_eliminationJoinTree::Propagate() {
    if (wideCells)
        Propagate<WideCell>();
    else
        Propagate<double>();
}

template <typename Cell> void QNL_eliminationJoinTree::Propagate() {
    PrepareWalks();
    for (Clique& clique : cliques)
        clique.received = quarn::detail::MessageCount();
    for (std::size_t i = separators.size(); i-- > 0;) {
        Separator& s = separators[i];
        Clique& a = cliques[static_cast<std::size_t>(s.child)];
        Clique& b = cliques[static_cast<std::size_t>(s.parent)];
        const Strides fromChild{axisPool.data() + s.childAxes, s.childAxisCount, 0};
        const Strides fromParent{axisPool.data() + s.parentAxes, s.parentAxisCount, 0};
        quarn::detail::MarginalizeInto(TableCells<Cell>(s), s.cells, TableCells<Cell>(a),
                                       fromChild);
        double mean = 0.0;
        s.shift = quarn::detail::ShiftMessage(TableCells<Cell>(s), s.cells, mean);
        quarn::detail::MultiplyStrided(TableCells<Cell>(b), TableCells<Cell>(s), fromParent);
        quarn::detail::NoteMessage(b.received, mean, TableCells<Cell>(b), b.cells);
    }
    Cell* ratio;
    if constexpr (std::is_same_v<Cell, double>) {
        ratio = marginal.data();
    } else {
        wideMarginal.resize(marginal.size());
        ratio = wideMarginal.data();
    }
    for (Separator& s : separators) {
        Clique& a = cliques[static_cast<std::size_t>(s.child)];
        const Clique& b = cliques[static_cast<std::size_t>(s.parent)];
        const Strides fromChild{axisPool.data() + s.childAxes, s.childAxisCount, 0};
        const Strides fromParent{axisPool.data() + s.parentAxes, s.parentAxisCount, 0};
        quarn::detail::MarginalizeInto(ratio, s.cells, TableCells<Cell>(b), fromParent);
        quarn::detail::ShiftFreshMessage(ratio, s.cells, s.shift, b.parentSeparator < 0);
        Cell* stored = TableCells<Cell>(s);
        for (std::int64_t j = 0; j < s.cells; ++j) {
            if (quarn::detail::IsPositive(stored[j])) {
                const Cell fresh = ratio[j];
                ratio[j] = fresh / stored[j];
                stored[j] = fresh;
            } else {
                stored[j] = Cell(0.0);
                ratio[j] = Cell(0.0);
            }
        }
        quarn::detail::MultiplyStrided(TableCells<Cell>(a), ratio, fromChild);
    }
}

const QNL_eliminationJoinTree::Structure*
QNL_eliminationJoinTree::FindHolder(const int* variables, int count, bool byCells) const {
    const std::size_t first = static_cast<std::size_t>(variables[0]);
    const Structure* best = nullptr;
    std::int64_t bestSize = std::numeric_limits<std::int64_t>::max();
    auto consider = [&](const Structure& s) {
        const std::int64_t size = byCells ? s.cells : static_cast<std::int64_t>(s.members.size());
        if (size >= bestSize) return;
        for (int i = 0; i < count; ++i)
            if (std::find(s.members.begin(), s.members.end(), variables[i]) == s.members.end())
                return;
        best = &s;
        bestSize = size;
    };
    for (int k = separatorStart[first]; k < separatorStart[first + 1]; ++k)
        consider(separators[static_cast<std::size_t>(separatorList[static_cast<std::size_t>(k)])]);
    for (int k = cliqueStart[first]; k < cliqueStart[first + 1]; ++k)
        consider(cliques[static_cast<std::size_t>(cliqueList[static_cast<std::size_t>(k)])]);
    return best;
}

void QNL_eliminationJoinTree::WriteMarginals(const QNL_relevanceComponent& component) {
    if (wideCells)
        WriteMarginals<WideCell>(component);
    else
        WriteMarginals<double>(component);
}

template <typename Cell>
void QNL_eliminationJoinTree::WriteMarginals(const QNL_relevanceComponent& component) {
    const QNL_graphView view(const_cast<QNL_relevanceComponent*>(&component));
    position.assign(outcomes.size(), 0);
    for (int r = 0; r < static_cast<int>(outcomes.size()); ++r) {
        const int n = outcomes[static_cast<std::size_t>(r)];
        marginal.assign(static_cast<std::size_t>(n), 0.0);
        const int seen = observed[static_cast<std::size_t>(r)];
        if (seen >= 0) {
            const QNL_relevanceNode* record = component.GetRecord(r);
            const QNL_nodeValue* value =
                record->GetNode() != nullptr ? record->GetNode()->GetValue() : nullptr;
            if (value == nullptr || value->IsObserved()) continue;
            marginal[static_cast<std::size_t>(seen)] = 1.0;
        } else {
            const Structure* holder = FindHolder(&r, 1, true);
            if (holder == nullptr) continue;
            StridesOnto(holder->members, &r, 1);
            axes.resize(std::max<std::size_t>(holder->members.size(), 1));
            const Strides onto{axes.data(),
                               quarn::detail::BuildStrideAxes(
                                   sizes.data(), strides.data(),
                                   static_cast<int>(holder->members.size()), axes.data()),
                               0};
            if constexpr (std::is_same_v<Cell, double>) {
                quarn::detail::MarginalizeInto(marginal.data(), n, holder->table.Cells(), onto);
            } else {
                wideMarginal.resize(static_cast<std::size_t>(n));
                quarn::detail::MarginalizeInto(wideMarginal.data(), n, holder->wide.data(), onto);
                quarn::detail::ToDoubles(wideMarginal.data(), n, marginal.data());
            }
        }
        // A total of 0 (impossible evidence) is refused there and leaves the value invalid.
        view.WriteBeliefs(r, marginal.data(), n);
    }
}

int QNL_eliminationJoinTree::ComputeMarginal(const QNL_intArray& variables,
                                             QNL_Dmatrix& result) const {
    const int count = variables.GetCount();
    if (count < 1 || result.GetNumberOfDimensions() != count || cliqueStart.empty()) return -2;
    for (int i = 0; i < count; ++i) {
        const int v = variables[i];
        if (v < 0 || v >= static_cast<int>(outcomes.size()) ||
            result.GetSizeOfDimension(i) != outcomes[static_cast<std::size_t>(v)])
            return -2;
        for (int j = 0; j < i; ++j)
            if (variables[j] == v) return -2;
    }
    const Structure* holder = FindHolder(variables.Items(), count, false);
    if (holder == nullptr) return -2;
    const std::size_t m = holder->members.size();
    std::vector<std::int64_t> size(m), stride(m, 0);
    std::vector<StrideAxis> walk(std::max<std::size_t>(m, 1));
    for (std::size_t i = 0; i < m; ++i) {
        size[i] = outcomes[static_cast<std::size_t>(holder->members[i])];
        for (int k = 0; k < count; ++k)
            if (variables[k] == holder->members[i]) stride[i] = result.GetMultiplier(k);
    }
    const Strides onto{walk.data(),
                       quarn::detail::BuildStrideAxes(size.data(), stride.data(),
                                                      static_cast<int>(m), walk.data()),
                       0};
    double* cells = result.GetItems().Items();
    if (wideCells) {
        std::vector<WideCell> wide(static_cast<std::size_t>(result.GetSize()));
        quarn::detail::MarginalizeInto(wide.data(), result.GetSize(), holder->wide.data(), onto);
        quarn::detail::ToDoubles(wide.data(), result.GetSize(), cells);
    } else {
        quarn::detail::MarginalizeInto(cells, result.GetSize(), holder->table.Cells(), onto);
    }
    const double total = quarn::detail::SumTable(cells, result.GetSize());
    if (total > 0.0) result.Scale(1.0 / total);
    return 0;
}

int QNL_eliminationJoinTree::Assign(const QNL_eliminationJoinTree& other) {
    if (&other == this) return 0;
    try {
        // Clique tables do not copy: their cells go into storage of the source table's size.
        auto copyStructure = [](Structure& to, const Structure& from) {
            to.members = from.members;
            to.cells = from.cells;
            to.built = from.built;
            to.builtCells = from.builtCells;
            if (!to.table.Resize(from.table.Size())) throw std::bad_alloc();
            std::copy(from.table.Cells(), from.table.Cells() + from.table.Size(), to.table.Cells());
            to.wide = from.wide;
        };
        wideCells = other.wideCells;
        graph = other.graph;
        outcomes = other.outcomes;
        observed = other.observed;
        assigned = other.assigned;
        totalCells = other.totalCells;
        cliqueStart = other.cliqueStart;
        cliqueList = other.cliqueList;
        separatorStart = other.separatorStart;
        separatorList = other.separatorList;
        cliques.resize(other.cliques.size());
        for (std::size_t c = 0; c < cliques.size(); ++c) {
            copyStructure(cliques[c], other.cliques[c]);
            cliques[c].separators = other.cliques[c].separators;
            cliques[c].parentSeparator = other.cliques[c].parentSeparator;
        }
        separators.resize(other.separators.size());
        for (std::size_t s = 0; s < separators.size(); ++s) {
            copyStructure(separators[s], other.separators[s]);
            separators[s].parent = other.separators[s].parent;
            separators[s].child = other.separators[s].child;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

int RunEliminationJoinTree(QNL_network& network) {
    try {
        // The reduction is the one clustering keeps: after a finding changed it is derived
        // again from the kept one rather than made anew.
        quarn::detail::JoinTreeCache& cache = network.GetJoinTreeCache();
        cache.Begin(network.GetStructureVersion(), 0);
        QNL_componentList fresh;
        bool kept = false;
        int code = 0;
        QNL_componentList* list = cache.Reduce(network, fresh, kept, code);
        if (list == nullptr) {
            // Findings the deterministic pass finds contradictory are impossible evidence; the
            // reduction has already left every value without evidence invalid.
            return code == QNL_relevance::IMPOSSIBLE_EVIDENCE ? 0 : code;
        }
        QNL_componentList& components = *list;
        QNL_eliminationJoinTree tree;
        for (int i = 0; i < components.GetCount(); ++i) {
            const QNL_relevanceComponent& component = *components[i];
            if (component.GetNumberOfRecords() == 1) {
                component.GetRecord(0)->StoreMarginal();
            } else {
                bool left = false;
                {
                    const quarn::detail::RangeWatch watch;
                    if (int r = tree.Build(component)) return r;
                    if (int r = tree.EnterEvidence(component))
                        return QNL_errorHandler::Instance().LogError(r);
                    tree.Propagate();
                    left = watch.Left();
                }
                if (left) {
                    // A product left the range of a double: the same again in wide cells, or,
                    // where their storage cannot be had, the doubles' answer again on the
                    // structure already built.
                    QNL_errorHandler& log = QNL_errorHandler::Instance();
                    const int logged = log.GetNumberOfErrors();
                    if (tree.InitWidePotentials() != 0 || tree.EnterEvidence(component) != 0) {
                        log.TruncateTo(logged);
                        if (int r = tree.InitPotentials()) return r;
                        if (int r = tree.EnterEvidence(component)) return log.LogError(r);
                    }
                    tree.Propagate();
                }
                tree.WriteMarginals(component);
            }
            if (!kept) components.Destroy(i);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42, "Elimination join tree: out of memory");
    }
}
