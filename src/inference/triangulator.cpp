#include "inference/triangulator.h"

#include "inference/graph_view.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace quarn::detail {

void ComponentGraph::AddRecord(int outcomeCount, int observedOutcome,
                               const std::vector<int>& parentList, const QNL_Dmatrix* table) {
    outcomes.push_back(outcomeCount);
    observed.push_back(observedOutcome);
    parents.insert(parents.end(), parentList.begin(), parentList.end());
    parentStart.push_back(static_cast<int>(parents.size()));
    tables.push_back(table);
}

bool ComponentGraph::Read(const QNL_graphView& view) {
    const int count = view.GetNumberOfRecords();
    outcomes.clear();
    observed.clear();
    parentStart.assign(1, 0);
    parents.clear();
    tables.clear();
    if (count < 0) return false;
    outcomes.reserve(static_cast<std::size_t>(count));
    observed.reserve(static_cast<std::size_t>(count));
    parentStart.reserve(static_cast<std::size_t>(count) + 1);
    tables.reserve(static_cast<std::size_t>(count));
    for (int r = 0; r < count; ++r) {
        const int states = view.GetNumberOfOutcomes(r);
        int seen = view.GetObservedOutcome(r);
        if (states < 1 || seen >= states) return false;
        if (seen < 0) seen = -1;
        const int parentCount = view.GetNumberOfParents(r);
        for (int i = 0; i < parentCount; ++i) {
            const int parent = view.GetParent(r, i);
            if (parent < 0 || parent >= count || parent == r) return false;
            parents.push_back(parent);
        }
        outcomes.push_back(states);
        observed.push_back(seen);
        parentStart.push_back(static_cast<int>(parents.size()));
        tables.push_back(view.GetTable(r));
    }
    return true;
}

void WeightHeap::Reset(int nodes) {
    heap.clear();
    heap.reserve(static_cast<std::size_t>(nodes));
    position.assign(static_cast<std::size_t>(nodes), -1);
    keys.assign(static_cast<std::size_t>(nodes), 0);
}

void WeightHeap::Set(int node, std::uint32_t weight) {
    if (weight == 0) {
        Remove(node);
        return;
    }
    const std::size_t n = static_cast<std::size_t>(node);
    const std::uint64_t key =
        (static_cast<std::uint64_t>(weight) << 32) | static_cast<std::uint32_t>(node);
    if (position[n] < 0) {
        keys[n] = key;
        heap.push_back(node);
        position[n] = static_cast<int>(heap.size() - 1);
        Up(heap.size() - 1);
        return;
    }
    const std::uint64_t old = keys[n];
    keys[n] = key;
    if (key < old)
        Up(static_cast<std::size_t>(position[n]));
    else if (key > old)
        Down(static_cast<std::size_t>(position[n]));
}

void WeightHeap::Remove(int node) {
    const int at = position[static_cast<std::size_t>(node)];
    if (at < 0) return;
    position[static_cast<std::size_t>(node)] = -1;
    const int last = heap.back();
    heap.pop_back();
    if (last == node) return;
    Place(static_cast<std::size_t>(at), last);
    Up(static_cast<std::size_t>(at));
    Down(static_cast<std::size_t>(position[static_cast<std::size_t>(last)]));
}

void WeightHeap::Place(std::size_t at, int node) {
    heap[at] = node;
    position[static_cast<std::size_t>(node)] = static_cast<int>(at);
}

void WeightHeap::Up(std::size_t at) {
    const int node = heap[at];
    const std::uint64_t key = keys[static_cast<std::size_t>(node)];
    while (at > 0) {
        const std::size_t up = (at - 1) / 2;
        if (keys[static_cast<std::size_t>(heap[up])] <= key) break;
        Place(at, heap[up]);
        at = up;
    }
    Place(at, node);
}

void WeightHeap::Down(std::size_t at) {
    const int node = heap[at];
    const std::uint64_t key = keys[static_cast<std::size_t>(node)];
    const std::size_t size = heap.size();
    for (;;) {
        std::size_t child = 2 * at + 1;
        if (child >= size) break;
        if (child + 1 < size && keys[static_cast<std::size_t>(heap[child + 1])] <
                                    keys[static_cast<std::size_t>(heap[child])])
            ++child;
        if (keys[static_cast<std::size_t>(heap[child])] >= key) break;
        Place(at, heap[child]);
        at = child;
    }
    Place(at, node);
}

namespace {
std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}
} // namespace

void AdjacencyMap::Reserve(std::size_t entries) {
    // A table grown by an earlier graph keeps its size: the same entries land in other slots,
    // and the map allocates nothing on a graph of the same size again.
    std::size_t capacity = keys.size() < 16 ? 16 : keys.size();
    while (capacity < entries * 2)
        capacity *= 2;
    keys.assign(capacity, EMPTY);
    values.assign(capacity, 0);
    used = 0;
    mask = capacity - 1;
}

std::size_t AdjacencyMap::Slot(std::uint64_t key) const {
    return static_cast<std::size_t>(Mix(key)) & mask;
}

int AdjacencyMap::Find(int a, int b) const {
    const std::uint64_t key = Key(a, b);
    for (std::size_t i = Slot(key);; i = (i + 1) & mask) {
        if (keys[i] == key) return values[i];
        if (keys[i] == EMPTY) return -1;
    }
}

void AdjacencyMap::Set(int a, int b, int position) {
    if ((used + 1) * 2 > keys.size()) Grow();
    const std::uint64_t key = Key(a, b);
    std::size_t i = Slot(key);
    for (; keys[i] != EMPTY; i = (i + 1) & mask) {
        if (keys[i] == key) {
            values[i] = position;
            return;
        }
    }
    keys[i] = key;
    values[i] = position;
    ++used;
}

void AdjacencyMap::Erase(int a, int b) {
    const std::uint64_t key = Key(a, b);
    std::size_t i = Slot(key);
    for (; keys[i] != key; i = (i + 1) & mask)
        if (keys[i] == EMPTY) return;
    // Shift back every later entry of the run whose home slot lies at or before the hole.
    for (std::size_t j = (i + 1) & mask; keys[j] != EMPTY; j = (j + 1) & mask) {
        const std::size_t home = Slot(keys[j]);
        const bool movable = i <= j ? (home <= i || home > j) : (home <= i && home > j);
        if (movable) {
            keys[i] = keys[j];
            values[i] = values[j];
            i = j;
        }
    }
    keys[i] = EMPTY;
    --used;
}

void AdjacencyMap::Grow() {
    oldKeys.swap(keys);
    oldValues.swap(values);
    const std::size_t capacity = oldKeys.empty() ? 16 : oldKeys.size() * 2;
    keys.assign(capacity, EMPTY);
    values.assign(capacity, 0);
    mask = capacity - 1;
    for (std::size_t k = 0; k < oldKeys.size(); ++k) {
        if (oldKeys[k] == EMPTY) continue;
        std::size_t i = Slot(oldKeys[k]);
        while (keys[i] != EMPTY)
            i = (i + 1) & mask;
        keys[i] = oldKeys[k];
        values[i] = oldValues[k];
    }
}

} // namespace quarn::detail

using quarn::detail::ComponentGraph;

QNL_triangulator::QNL_triangulator(const QNL_graphView& view, QNL_cliqueStore& store)
    : graph(&ownGraph), view(&view), store(store) {}

QNL_triangulator::QNL_triangulator(const ComponentGraph& graph, QNL_cliqueStore& store)
    : graph(&graph), store(store) {}

bool QNL_triangulator::Run(std::uint64_t limit) {
    failure = Failure::NONE;
    totalWeight = 0;
    eliminated = 0;
    eliminationOrder.clear();
    store.Reset();
    cap = limit == 0 ? DEFAULT_CAP : limit;
    if (view && !ownGraph.Read(*view)) return Fail(Failure::BAD_COMPONENT);
    BuildGraph();
    // Every clique eliminates at least one record.
    store.Reserve(count);
    if (!EliminateAll()) return false;
    return LinkCliques();
}

std::uint32_t QNL_triangulator::NodeWeight(int node) const {
    return weight[static_cast<std::size_t>(node)];
}

void QNL_triangulator::BuildGraph() {
    count = graph->GetCount();
    const std::size_t n = static_cast<std::size_t>(count);
    // Lists of an earlier graph keep their room.
    if (neighbours.size() < n) neighbours.resize(n);
    for (std::size_t r = 0; r < n; ++r)
        neighbours[r].clear();
    indexed.assign(n, 0);
    stateCount.resize(n);
    logState.resize(n);
    weight.resize(n);
    logWeight.resize(n);
    isEliminated.assign(n, 0);
    inCurrent.assign(n, 0);
    inNext.assign(n, 0);
    current.clear();
    next.clear();
    cursor = -1;
    leastWeight.Reset(count);
    stale.clear();
    isStale.assign(n, 0);

    adjacency.Reserve(16);

    for (int r = 0; r < count; ++r) {
        const int states = graph->StateCount(r);
        stateCount[static_cast<std::size_t>(r)] = states;
        weight[static_cast<std::size_t>(r)] = static_cast<std::uint64_t>(states) > WEIGHT_LIMIT
                                                  ? 0
                                                  : static_cast<std::uint32_t>(states);
        logState[static_cast<std::size_t>(r)] = std::log2(static_cast<double>(states));
        logWeight[static_cast<std::size_t>(r)] = logState[static_cast<std::size_t>(r)];
    }
    for (int r = 0; r < count; ++r) {
        const int parentCount = graph->GetNumberOfParents(r);
        for (int i = 0; i < parentCount; ++i) {
            const int parent = graph->GetParent(r, i);
            if (parent != r && !IsAdjacent(r, parent)) Link(r, parent);
        }
        // Parents are married in the order a fill would link them.
        for (int p = parentCount - 2; p >= 0; --p) {
            for (int q = p + 1; q < parentCount; ++q) {
                const int a = graph->GetParent(r, p);
                const int b = graph->GetParent(r, q);
                if (a != b && !IsAdjacent(a, b)) Link(a, b);
            }
        }
    }
    for (int r = 0; r < count; ++r)
        leastWeight.Set(r, weight[static_cast<std::size_t>(r)]);
    for (int v : stale)
        isStale[static_cast<std::size_t>(v)] = 0;
    stale.clear();
}

void QNL_triangulator::MarkStale(int v) {
    if (isStale[static_cast<std::size_t>(v)]) return;
    isStale[static_cast<std::size_t>(v)] = 1;
    stale.push_back(v);
}

void QNL_triangulator::RefreshHeap() {
    for (int v : stale) {
        isStale[static_cast<std::size_t>(v)] = 0;
        if (isEliminated[static_cast<std::size_t>(v)])
            leastWeight.Remove(v);
        else
            leastWeight.Set(v, weight[static_cast<std::size_t>(v)]);
    }
    stale.clear();
}

int QNL_triangulator::Position(int a, int b) const {
    if (indexed[static_cast<std::size_t>(a)]) return adjacency.Find(a, b);
    const std::vector<int>& list = neighbours[static_cast<std::size_t>(a)];
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] == b) return static_cast<int>(i);
    return -1;
}

bool QNL_triangulator::IsAdjacent(int a, int b) const {
    // Look from the side with the shorter list: a short scan or one hashed lookup.
    if (neighbours[static_cast<std::size_t>(b)].size() <
        neighbours[static_cast<std::size_t>(a)].size())
        return Position(b, a) >= 0;
    return Position(a, b) >= 0;
}

void QNL_triangulator::Index(int v) {
    indexed[static_cast<std::size_t>(v)] = 1;
    const std::vector<int>& list = neighbours[static_cast<std::size_t>(v)];
    for (std::size_t i = 0; i < list.size(); ++i)
        adjacency.Set(v, list[i], static_cast<int>(i));
}

void QNL_triangulator::Link(int a, int b) {
    for (int k = 0; k < 2; ++k) {
        const int from = k == 0 ? a : b;
        const int to = k == 0 ? b : a;
        std::vector<int>& list = neighbours[static_cast<std::size_t>(from)];
        list.push_back(to);
        if (indexed[static_cast<std::size_t>(from)])
            adjacency.Set(from, to, static_cast<int>(list.size() - 1));
        else if (list.size() > INDEX_DEGREE)
            Index(from);
    }
    MultiplyWeight(a, b);
    MultiplyWeight(b, a);
}

void QNL_triangulator::MultiplyWeight(int v, int by) {
    const std::size_t at = static_cast<std::size_t>(v);
    const int factor = stateCount[static_cast<std::size_t>(by)];
    logWeight[at] += logState[static_cast<std::size_t>(by)];
    if (weight[at] == 0) return;
    const std::uint64_t product =
        static_cast<std::uint64_t>(weight[at]) * static_cast<std::uint64_t>(factor);
    weight[at] = product > WEIGHT_LIMIT ? 0 : static_cast<std::uint32_t>(product);
    MarkStale(v);
}

void QNL_triangulator::DivideWeight(int v, int by) {
    const std::size_t at = static_cast<std::size_t>(v);
    const int factor = stateCount[static_cast<std::size_t>(by)];
    logWeight[at] -= logState[static_cast<std::size_t>(by)];
    if (weight[at] != 0) {
        weight[at] /= static_cast<std::uint32_t>(factor);
    } else if (logWeight[at] < 30.5) {
        // Possibly back under the limit: the log sum is only a filter, the product decides.
        RecomputeWeight(v);
    }
    MarkStale(v);
}

void QNL_triangulator::RecomputeWeight(int v) {
    const std::size_t at = static_cast<std::size_t>(v);
    std::uint64_t product = static_cast<std::uint64_t>(stateCount[at]);
    double log = logState[at];
    bool over = product > WEIGHT_LIMIT;
    for (int u : neighbours[at]) {
        const int states = stateCount[static_cast<std::size_t>(u)];
        log += logState[static_cast<std::size_t>(u)];
        if (!over) {
            product *= static_cast<std::uint64_t>(states);
            over = product > WEIGHT_LIMIT;
        }
    }
    weight[at] = over ? 0 : static_cast<std::uint32_t>(product);
    logWeight[at] = log;
}

void QNL_triangulator::RemoveNode(int v) {
    const std::size_t at = static_cast<std::size_t>(v);
    for (int u : neighbours[at]) {
        std::vector<int>& list = neighbours[static_cast<std::size_t>(u)];
        const int position = Position(u, v);
        const int last = list.back();
        list[static_cast<std::size_t>(position)] = last;
        list.pop_back();
        if (indexed[static_cast<std::size_t>(u)]) {
            if (last != v) adjacency.Set(u, last, position);
            adjacency.Erase(u, v);
        }
        if (indexed[at]) adjacency.Erase(v, u);
        DivideWeight(u, v);
        Touch(u);
    }
    neighbours[at].clear();
    isEliminated[at] = 1;
    ++eliminated;
    MarkStale(v);
}

bool QNL_triangulator::IsSimplicial(int v) const {
    const std::vector<int>& list = neighbours[static_cast<std::size_t>(v)];
    const std::size_t degree = list.size();
    if (degree < 2) return true;
    // Every neighbour must reach all the others: a cheap count test first.
    for (int u : list)
        if (neighbours[static_cast<std::size_t>(u)].size() + 1 < degree) return false;
    for (std::size_t i = degree - 1; i > 0; --i)
        for (std::size_t j = 0; j < i; ++j)
            if (!IsAdjacent(list[i], list[j])) return false;
    return true;
}

void QNL_triangulator::Touch(int v) {
    const std::size_t at = static_cast<std::size_t>(v);
    if (isEliminated[at]) return;
    if (v > cursor) {
        if (inCurrent[at]) return;
        inCurrent[at] = 1;
        current.push_back(v);
        std::push_heap(current.begin(), current.end(), std::greater<int>());
    } else if (!inNext[at]) {
        inNext[at] = 1;
        next.push_back(v);
    }
}

// Reproduces sweeps over all records in index order, repeated until a sweep eliminates
// nothing. Only a record whose neighbourhood changed since it was last found not
// simplicial can have become simplicial, so only those are looked at: in the running sweep
// when they lie above the cursor, in the next sweep otherwise.
bool QNL_triangulator::SimplicialPass() {
    for (;;) {
        bool any = false;
        while (!current.empty()) {
            std::pop_heap(current.begin(), current.end(), std::greater<int>());
            const int v = current.back();
            current.pop_back();
            inCurrent[static_cast<std::size_t>(v)] = 0;
            if (isEliminated[static_cast<std::size_t>(v)]) continue;
            cursor = v;
            if (!IsSimplicial(v)) continue;
            const std::uint32_t w = NodeWeight(v);
            if (w == 0) return Fail(Failure::NO_ELIGIBLE_NODE);
            if (!AddClique(v, w)) return false;
            any = true;
        }
        cursor = -1;
        if (!any) return true;
        for (int v : next) {
            inNext[static_cast<std::size_t>(v)] = 0;
            if (!isEliminated[static_cast<std::size_t>(v)] &&
                !inCurrent[static_cast<std::size_t>(v)]) {
                inCurrent[static_cast<std::size_t>(v)] = 1;
                current.push_back(v);
            }
        }
        next.clear();
        std::make_heap(current.begin(), current.end(), std::greater<int>());
    }
}

bool QNL_triangulator::EliminateAll() {
    // The first sweep looks at every record.
    current.resize(static_cast<std::size_t>(count));
    for (int r = 0; r < count; ++r) {
        current[static_cast<std::size_t>(r)] = r;
        inCurrent[static_cast<std::size_t>(r)] = 1;
    }
    for (;;) {
        if (eliminated == count) return true;
        if (!SimplicialPass()) return false;
        if (eliminated == count) return true;
        RefreshHeap();
        if (leastWeight.Empty()) return Fail(Failure::NO_ELIGIBLE_NODE);
        const int v = leastWeight.Top();
        const std::uint32_t w = NodeWeight(v);
        FillIn(v);
        if (!AddClique(v, w)) return false;
    }
}

void QNL_triangulator::FillIn(int v) {
    const std::vector<int>& list = neighbours[static_cast<std::size_t>(v)];
    const int degree = static_cast<int>(list.size());
    for (int p = degree - 2; p >= 0; --p) {
        for (int q = p + 1; q < degree; ++q) {
            const int a = list[static_cast<std::size_t>(p)];
            const int b = list[static_cast<std::size_t>(q)];
            if (IsAdjacent(a, b)) continue;
            Link(a, b);
            // The new edge lies in the neighbourhood of every common neighbour.
            const std::vector<int>& listA = neighbours[static_cast<std::size_t>(a)];
            const std::vector<int>& listB = neighbours[static_cast<std::size_t>(b)];
            const bool aSmaller = listA.size() <= listB.size();
            const std::vector<int>& shorter = aSmaller ? listA : listB;
            const int other = aSmaller ? b : a;
            for (int c : shorter)
                if (c != other && IsAdjacent(c, other)) Touch(c);
        }
    }
}

bool QNL_triangulator::AddClique(int v, std::uint32_t w) {
    eliminationOrder.push_back(v);
    QNL_clique& clique = store.Append();
    clique.creator = v;
    clique.weight = w;
    clique.members[0] = v;
    clique.memberCount = 1;
    scratch = neighbours[static_cast<std::size_t>(v)];
    RemoveNode(v);
    // A former neighbour left with no neighbour outside the clique is enclosed by it.
    int k = static_cast<int>(scratch.size()) - 1;
    bool tooMany = false;
    for (std::size_t i = scratch.size(); i-- > 0;) {
        const int u = scratch[i];
        if (clique.memberCount == MAX_MEMBERS) {
            tooMany = true;
            break;
        }
        clique.members[clique.memberCount++] = u;
        if (static_cast<int>(neighbours[static_cast<std::size_t>(u)].size()) == k) {
            RemoveNode(u);
            --k;
        } else {
            clique.separator[clique.separatorCount++] = u;
        }
    }
    totalWeight += w;
    if (tooMany) return Fail(Failure::TOO_MANY_MEMBERS);
    if (totalWeight > cap) return Fail(Failure::OVER_CAP);
    return true;
}

bool QNL_triangulator::LinkCliques() {
    const int cliqueCount = store.GetCount();
    for (int c = 0; c < cliqueCount; ++c) {
        QNL_clique& clique = store[c];
        std::sort(clique.members, clique.members + clique.memberCount);
        std::sort(clique.separator, clique.separator + clique.separatorCount);
    }
    // The cliques holding each record, in creation order.
    std::vector<int>& start = holderStart;
    start.assign(static_cast<std::size_t>(count) + 1, 0);
    for (int c = 0; c < cliqueCount; ++c)
        for (int m = 0; m < store[c].memberCount; ++m)
            ++start[static_cast<std::size_t>(store[c].members[m]) + 1];
    for (int r = 0; r < count; ++r)
        start[static_cast<std::size_t>(r) + 1] += start[static_cast<std::size_t>(r)];
    std::vector<int>& holders = holderList;
    holders.assign(static_cast<std::size_t>(start[static_cast<std::size_t>(count)]), 0);
    std::vector<int>& fill = holderFill;
    fill.assign(start.begin(), start.end() - 1);
    for (int c = 0; c < cliqueCount; ++c)
        for (int m = 0; m < store[c].memberCount; ++m)
            holders[static_cast<std::size_t>(
                fill[static_cast<std::size_t>(store[c].members[m])]++)] = c;

    for (int i = 0; i + 1 < cliqueCount; ++i) {
        QNL_clique& clique = store[i];
        if (clique.separatorCount == 0) {
            clique.parent = i + 1;
            continue;
        }
        // Search the holders of the rarest separator member.
        int rarest = clique.separator[0];
        for (int s = 1; s < clique.separatorCount; ++s) {
            const int r = clique.separator[s];
            if (start[static_cast<std::size_t>(r) + 1] - start[static_cast<std::size_t>(r)] <
                start[static_cast<std::size_t>(rarest) + 1] -
                    start[static_cast<std::size_t>(rarest)])
                rarest = r;
        }
        auto first = holders.begin() + start[static_cast<std::size_t>(rarest)];
        auto last = holders.begin() + start[static_cast<std::size_t>(rarest) + 1];
        for (auto it = std::upper_bound(first, last, i); it != last; ++it) {
            const QNL_clique& candidate = store[*it];
            if (std::includes(candidate.members, candidate.members + candidate.memberCount,
                              clique.separator, clique.separator + clique.separatorCount)) {
                clique.parent = *it;
                break;
            }
        }
        if (clique.parent < 0) return Fail(Failure::NO_PARENT);
    }
    store.LinkChildren();
    return true;
}
