#include "inference/clustering_join_tree.h"

#include "inference/graph_view.h"
#include "model/dmatrix.h"

#include <algorithm>
#include <exception>
#include <new>
#include <type_traits>
#include <vector>

using quarn::detail::MAX_STRIDE_AXES;
using quarn::detail::StrideAxis;
using quarn::detail::Strides;
using quarn::detail::WideCell;

namespace {

// Where a clique keeps its potential and separator in cells of each kind.
template <typename Cell> struct Cells;

template <> struct Cells<double> {
    static double* Potential(QNL_clique& c) { return c.potential.Cells(); }
    static const double* Potential(const QNL_clique& c) { return c.potential.Cells(); }
    static std::int64_t PotentialSize(const QNL_clique& c) { return c.potential.Size(); }
    static bool SizePotential(QNL_clique& c, std::int64_t n) { return c.potential.Resize(n); }
    static double* Separator(QNL_clique& c) { return c.separatorTable.Cells(); }
    static std::int64_t SeparatorSize(const QNL_clique& c) { return c.separatorTable.Size(); }
    static bool SizeSeparator(QNL_clique& c, std::int64_t n) { return c.separatorTable.Resize(n); }
    static void Free(QNL_clique& c) {
        c.potential.Free();
        c.separatorTable.Free();
    }
};

// Vectors throw bad_alloc where the tables of doubles answer false; the callers catch it.
template <> struct Cells<WideCell> {
    static WideCell* Potential(QNL_clique& c) { return c.widePotential.data(); }
    static const WideCell* Potential(const QNL_clique& c) { return c.widePotential.data(); }
    static std::int64_t PotentialSize(const QNL_clique& c) {
        return static_cast<std::int64_t>(c.widePotential.size());
    }
    static bool SizePotential(QNL_clique& c, std::int64_t n) {
        c.widePotential.resize(static_cast<std::size_t>(n));
        return true;
    }
    static WideCell* Separator(QNL_clique& c) { return c.wideSeparator.data(); }
    static std::int64_t SeparatorSize(const QNL_clique& c) {
        return static_cast<std::int64_t>(c.wideSeparator.size());
    }
    static bool SizeSeparator(QNL_clique& c, std::int64_t n) {
        c.wideSeparator.resize(static_cast<std::size_t>(n));
        return true;
    }
    static void Free(QNL_clique& c) {
        std::vector<WideCell>().swap(c.widePotential);
        std::vector<WideCell>().swap(c.wideSeparator);
    }
};

} // namespace

QNL_clusteringJoinTree::QNL_clusteringJoinTree(const QNL_graphView& view) : view(view) {}

void QNL_clusteringJoinTree::Free() {
    store.Clear();
    sorted.clear();
    axisPool.clear();
    oldSeparator.Free();
    root = -1;
}

bool QNL_clusteringJoinTree::Update(unsigned char* mask, std::uint64_t limit) {
    bool ok = false;
    try {
        ok = Build(limit) && Propagate(mask);
    } catch (const std::exception&) {
        ok = Fail(Failure::OUT_OF_MEMORY);
    }
    Free();
    return ok;
}

bool QNL_clusteringJoinTree::Propagate(unsigned char* mask) {
    try {
        {
            const quarn::detail::RangeWatch watch;
            if (!PropagateAll()) return false;
            Collect();
            Distribute();
            if (!watch.Left()) {
                WriteBeliefs<double>(mask);
                return true;
            }
        }
        // Some product left the range of a double: a cell lost may be the one the other
        // findings favour. The same passes again in wide cells; where their storage cannot be
        // had, the beliefs of the doubles are what there is.
        try {
            PropagateAll<WideCell>();
            Collect<WideCell>();
            Distribute<WideCell>();
            WriteBeliefs<WideCell>(mask);
        } catch (const std::bad_alloc&) {
            FreeWide();
            WriteBeliefs<double>(mask);
        }
        FreeWide();
        return true;
    } catch (const std::exception&) {
        return Fail(Failure::OUT_OF_MEMORY);
    }
}

void QNL_clusteringJoinTree::FreeWide() {
    for (int c = 0; c < store.GetCount(); ++c)
        Cells<WideCell>::Free(store[c]);
    std::vector<WideCell>().swap(wideOldSeparator);
}

bool QNL_clusteringJoinTree::Refresh() {
    if (root < 0) return false;
    try {
        if (!reread.Read(view)) return false;
    } catch (const std::exception&) {
        return false;
    }
    const int records = graph.GetCount();
    if (reread.outcomes != graph.outcomes || reread.parentStart != graph.parentStart ||
        reread.parents != graph.parents)
        return false;
    for (int r = 0; r < records; ++r) {
        const std::size_t at = static_cast<std::size_t>(r);
        if ((reread.observed[at] >= 0) != (graph.observed[at] >= 0) ||
            (reread.tables[at] == nullptr) != (graph.tables[at] == nullptr))
            return false;
    }
    if (!TablesFit(reread)) return false;
    std::swap(graph, reread);
    return true;
}

bool QNL_clusteringJoinTree::TablesFit(const quarn::detail::ComponentGraph& records) {
    for (int r = 0; r < records.GetCount(); ++r) {
        const QNL_Dmatrix* table = records.tables[static_cast<std::size_t>(r)];
        if (table == nullptr) continue;
        const int parents = records.GetNumberOfParents(r);
        if (table->GetNumberOfDimensions() != parents + 1) return false;
        std::int64_t cells = 1;
        for (int d = 0; d <= parents; ++d) {
            const int record = d < parents ? records.GetParent(r, d) : r;
            if (table->GetSizeOfDimension(d) != records.outcomes[static_cast<std::size_t>(record)])
                return false;
            cells *= table->GetSizeOfDimension(d);
        }
        if (cells != table->GetSize()) return false;
    }
    return true;
}

bool QNL_clusteringJoinTree::Build(std::uint64_t limit) {
    // The cliques of an earlier build keep their lists and storage for the new ones.
    store.Reset();
    sorted.clear();
    axisPool.clear();
    root = -1;
    failure = Failure::NONE;
    totalWeight = 0;
    if (!graph.Read(view)) return Fail(Failure::BAD_COMPONENT);
    const bool ok = triangulator.Run(limit);
    totalWeight = triangulator.GetTotalWeight();
    if (!ok) return Fail(triangulator.GetFailure());
    return Organise();
}

bool QNL_clusteringJoinTree::Organise() {
    const int cliqueCount = store.GetCount();
    const int records = graph.GetCount();
    root = cliqueCount - 1;
    sorted.resize(static_cast<std::size_t>(cliqueCount));
    for (int c = 0; c < cliqueCount; ++c)
        sorted[static_cast<std::size_t>(c)] = c;
    // Creation order breaks ties, as a stable sort would, without its buffer.
    std::sort(sorted.begin(), sorted.end(), [this](int a, int b) {
        const QNL_clique& x = store[a];
        const QNL_clique& y = store[b];
        if (x.weight != y.weight) return x.weight < y.weight;
        if (x.memberCount != y.memberCount) return x.memberCount < y.memberCount;
        return a < b;
    });

    // Each record's table must match its family before any cell is read through it.
    if (!TablesFit(graph)) return Fail(Failure::BAD_COMPONENT);

    // The cliques holding each record, in sorted order: a family goes to the first of them
    // that holds the parents too.
    std::vector<int>& start = holderStart;
    start.assign(static_cast<std::size_t>(records) + 1, 0);
    for (int c = 0; c < cliqueCount; ++c)
        for (int m = 0; m < store[c].memberCount; ++m)
            ++start[static_cast<std::size_t>(store[c].members[m]) + 1];
    for (int r = 0; r < records; ++r)
        start[static_cast<std::size_t>(r) + 1] += start[static_cast<std::size_t>(r)];
    std::vector<int>& holders = holderList;
    holders.assign(static_cast<std::size_t>(start[static_cast<std::size_t>(records)]), 0);
    std::vector<int>& fill = holderFill;
    fill.assign(start.begin(), start.end() - 1);
    for (int position = 0; position < cliqueCount; ++position) {
        const QNL_clique& clique = store[sorted[static_cast<std::size_t>(position)]];
        for (int m = 0; m < clique.memberCount; ++m)
            holders[static_cast<std::size_t>(fill[static_cast<std::size_t>(clique.members[m])]++)] =
                sorted[static_cast<std::size_t>(position)];
    }
    for (int r = 0; r < records; ++r) {
        if (graph.tables[static_cast<std::size_t>(r)] == nullptr) continue;
        const int parents = graph.GetNumberOfParents(r);
        bool assigned = false;
        for (int h = start[static_cast<std::size_t>(r)]; h < start[static_cast<std::size_t>(r) + 1];
             ++h) {
            QNL_clique& clique = store[holders[static_cast<std::size_t>(h)]];
            bool holdsFamily = true;
            for (int p = 0; p < parents && holdsFamily; ++p)
                holdsFamily = clique.HasMember(graph.GetParent(r, p));
            if (holdsFamily) {
                clique.assigned[clique.assignedCount++] = r;
                assigned = true;
                break;
            }
        }
        if (!assigned) return Fail(Failure::BAD_COMPONENT);
    }
    return true;
}

void QNL_clusteringJoinTree::RemoveObserved(int* list, int& count) const {
    int kept = 0;
    for (int i = 0; i < count; ++i)
        if (graph.observed[static_cast<std::size_t>(list[i])] < 0) list[kept++] = list[i];
    count = kept;
}

std::int64_t QNL_clusteringJoinTree::CellCount(const int* list, int count) const {
    std::int64_t cells = 1;
    for (int i = 0; i < count; ++i)
        cells *= graph.outcomes[static_cast<std::size_t>(list[i])];
    return cells;
}

int QNL_clusteringJoinTree::SubsetAxes(const QNL_clique& large, const int* subset, int subsetCount,
                                       StrideAxis* out) const {
    std::int64_t sizes[QNL_clique::MAX_MEMBERS];
    std::int64_t strides[QNL_clique::MAX_MEMBERS];
    // Both lists ascend; walk the subset from its fastest member.
    std::int64_t stride = 1;
    int s = subsetCount - 1;
    for (int m = large.memberCount - 1; m >= 0; --m) {
        const int record = large.members[m];
        sizes[m] = graph.outcomes[static_cast<std::size_t>(record)];
        strides[m] = 0;
        if (s >= 0 && subset[s] == record) {
            strides[m] = stride;
            stride *= graph.outcomes[static_cast<std::size_t>(record)];
            --s;
        }
    }
    return quarn::detail::BuildStrideAxes(sizes, strides, large.memberCount, out);
}

template <typename Cell> bool QNL_clusteringJoinTree::BuildPotential(QNL_clique& clique) {
    RemoveObserved(clique.members, clique.memberCount);
    if (!Cells<Cell>::SizePotential(clique, CellCount(clique.members, clique.memberCount)))
        return Fail(Failure::OUT_OF_MEMORY);
    clique.built = true;
    clique.scale = 0;
    clique.separatorShift = 0;
    clique.received = quarn::detail::MessageCount();
    Cell* cells = Cells<Cell>::Potential(clique);
    if (clique.assignedCount == 0) {
        std::fill(cells, cells + Cells<Cell>::PotentialSize(clique), Cell(1.0));
        return true;
    }
    std::int64_t sizes[QNL_clique::MAX_MEMBERS];
    std::int64_t strides[QNL_clique::MAX_MEMBERS];
    StrideAxis axes[MAX_STRIDE_AXES];
    for (int a = 0; a < clique.assignedCount; ++a) {
        const int r = clique.assigned[a];
        const QNL_Dmatrix& table = *graph.tables[static_cast<std::size_t>(r)];
        for (int m = 0; m < clique.memberCount; ++m) {
            sizes[m] = graph.outcomes[static_cast<std::size_t>(clique.members[m])];
            strides[m] = 0;
        }
        // An observed record's dimension is read at its outcome: the evidence slice.
        std::int64_t start = 0;
        const int parents = graph.GetNumberOfParents(r);
        for (int d = 0; d <= parents; ++d) {
            const int record = d < parents ? graph.GetParent(r, d) : r;
            const int seen = graph.observed[static_cast<std::size_t>(record)];
            if (seen >= 0) {
                start += static_cast<std::int64_t>(seen) * table.GetMultiplier(d);
                continue;
            }
            const int* at =
                std::lower_bound(clique.members, clique.members + clique.memberCount, record);
            strides[at - clique.members] += table.GetMultiplier(d);
        }
        const Strides read{
            axes, quarn::detail::BuildStrideAxes(sizes, strides, clique.memberCount, axes), start};
        const double* source = table.GetItems().Items();
        if (a == 0)
            quarn::detail::SetStrided(cells, source, read);
        else
            quarn::detail::MultiplyStrided(cells, source, read);
    }
    return true;
}

template <typename Cell> bool QNL_clusteringJoinTree::SizeSeparator(QNL_clique& clique) {
    RemoveObserved(clique.separator, clique.separatorCount);
    if (!Cells<Cell>::SizeSeparator(clique, CellCount(clique.separator, clique.separatorCount)))
        return Fail(Failure::OUT_OF_MEMORY);
    return true;
}

bool QNL_clusteringJoinTree::PropagateAll() {
    return PropagateAll<double>();
}

template <typename Cell> bool QNL_clusteringJoinTree::PropagateAll() {
    axisPool.clear();
    std::int64_t largestSeparator = 1;
    for (int c : sorted) {
        QNL_clique& clique = store[c];
        if (clique.parent >= 0) {
            if (!SizeSeparator<Cell>(clique)) return false;
            largestSeparator = std::max(largestSeparator, Cells<Cell>::SeparatorSize(clique));
        }
        if (!BuildPotential<Cell>(clique)) return false;
    }
    // Every edge carries a message, a scalar one where no separator member is left, so the
    // mass of the whole tree reaches the root.
    StrideAxis axes[MAX_STRIDE_AXES];
    for (int c : sorted) {
        QNL_clique& clique = store[c];
        if (clique.parent < 0) continue;
        int n = SubsetAxes(clique, clique.separator, clique.separatorCount, axes);
        clique.toSeparatorFirst = static_cast<int>(axisPool.size());
        clique.toSeparatorCount = n;
        axisPool.insert(axisPool.end(), axes, axes + n);
        n = SubsetAxes(store[clique.parent], clique.separator, clique.separatorCount, axes);
        clique.parentToSeparatorFirst = static_cast<int>(axisPool.size());
        clique.parentToSeparatorCount = n;
        axisPool.insert(axisPool.end(), axes, axes + n);
    }
    if constexpr (std::is_same_v<Cell, double>) {
        if (!oldSeparator.Resize(largestSeparator)) return Fail(Failure::OUT_OF_MEMORY);
    } else {
        wideOldSeparator.resize(static_cast<std::size_t>(largestSeparator));
    }
    return true;
}

template <typename Cell>
void QNL_clusteringJoinTree::PassUp(QNL_clique& child, QNL_clique& parent,
                                    const Strides& toSeparator, const Strides& parentToSeparator) {
    Cell* separator = Cells<Cell>::Separator(child);
    const std::int64_t cells = Cells<Cell>::SeparatorSize(child);
    quarn::detail::MarginalizeInto(separator, cells, Cells<Cell>::Potential(child), toSeparator);
    double mean = 0.0;
    const int shift = quarn::detail::ShiftMessage(separator, cells, mean);
    child.separatorShift = shift;
    quarn::detail::MultiplyStrided(Cells<Cell>::Potential(parent), separator, parentToSeparator);
    parent.scale += child.scale - shift;
    parent.scale -= quarn::detail::NoteMessage(
        parent.received, mean, Cells<Cell>::Potential(parent), Cells<Cell>::PotentialSize(parent));
}

template <typename Cell>
void QNL_clusteringJoinTree::PassDown(QNL_clique& child, const QNL_clique& parent) {
    const Strides toSeparator{axisPool.data() + child.toSeparatorFirst, child.toSeparatorCount, 0};
    const Strides parentToSeparator{axisPool.data() + child.parentToSeparatorFirst,
                                    child.parentToSeparatorCount, 0};
    Cell* separator = Cells<Cell>::Separator(child);
    const std::int64_t cells = Cells<Cell>::SeparatorSize(child);
    Cell* old;
    if constexpr (std::is_same_v<Cell, double>)
        old = oldSeparator.Cells();
    else
        old = wideOldSeparator.data();
    std::copy(separator, separator + cells, old);
    quarn::detail::MarginalizeInto(separator, cells, Cells<Cell>::Potential(parent),
                                   parentToSeparator);
    const int shift =
        quarn::detail::ShiftFreshMessage(separator, cells, child.separatorShift, parent.parent < 0);
    quarn::detail::DivideMultiplyStrided(Cells<Cell>::Potential(child), old, separator,
                                         toSeparator);
    child.scale = parent.scale + child.separatorShift - shift;
}

// Depth first from the root, children in creation order, each child's message passed once
// everything below it has been collected; an explicit stack keeps deep trees off the call
// stack.
void QNL_clusteringJoinTree::Collect() {
    Collect<double>();
}

void QNL_clusteringJoinTree::Distribute() {
    Distribute<double>();
}

template <typename Cell> void QNL_clusteringJoinTree::Collect() {
    if (root < 0) return;
    std::vector<std::pair<int, int>>& stack = collectStack;
    stack.clear();
    stack.emplace_back(root, 0);
    while (!stack.empty()) {
        const int clique = stack.back().first;
        const int next = stack.back().second;
        if (next < store.GetNumberOfChildren(clique)) {
            ++stack.back().second;
            stack.emplace_back(store.GetChild(clique, next), 0);
            continue;
        }
        stack.pop_back();
        QNL_clique& child = store[clique];
        if (child.parent < 0) continue;
        const Strides toSeparator{axisPool.data() + child.toSeparatorFirst, child.toSeparatorCount,
                                  0};
        const Strides parentToSeparator{axisPool.data() + child.parentToSeparatorFirst,
                                        child.parentToSeparatorCount, 0};
        PassUp<Cell>(child, store[child.parent], toSeparator, parentToSeparator);
    }
}

// From the root down, each child receiving its message before its own subtree, children in
// creation order.
template <typename Cell> void QNL_clusteringJoinTree::Distribute() {
    if (root < 0) return;
    std::vector<int>& stack = distributeStack;
    stack.clear();
    for (int i = store.GetNumberOfChildren(root); i-- > 0;)
        stack.push_back(store.GetChild(root, i));
    while (!stack.empty()) {
        const int clique = stack.back();
        stack.pop_back();
        QNL_clique& child = store[clique];
        PassDown<Cell>(child, store[child.parent]);
        for (int i = store.GetNumberOfChildren(clique); i-- > 0;)
            stack.push_back(store.GetChild(clique, i));
    }
}

template <typename Cell> void QNL_clusteringJoinTree::WriteBeliefs(unsigned char* mask) {
    const int records = graph.GetCount();
    handled.assign(static_cast<std::size_t>(records), 0);
    int left = records;
    StrideAxis axes[MAX_STRIDE_AXES];
    for (int c : sorted) {
        const QNL_clique& clique = store[c];
        for (int m = 0; m < clique.memberCount && left > 0; ++m) {
            const int r = clique.members[m];
            if (handled[static_cast<std::size_t>(r)]) continue;
            handled[static_cast<std::size_t>(r)] = 1;
            --left;
            bool wanted = view.IsReported(r);
            const int handle = view.GetNodeHandle(r);
            if (mask != nullptr && handle >= 0 && mask[handle] != 0) {
                mask[handle] = 0;
                wanted = true;
            }
            if (!wanted) continue;
            const int outcomes = graph.outcomes[static_cast<std::size_t>(r)];
            marginal.resize(static_cast<std::size_t>(outcomes));
            const Strides onto{axes, SubsetAxes(clique, &r, 1, axes), 0};
            if constexpr (std::is_same_v<Cell, double>) {
                quarn::detail::MarginalizeInto(marginal.data(), outcomes, clique.potential.Cells(),
                                               onto);
            } else {
                wideMarginal.resize(static_cast<std::size_t>(outcomes));
                quarn::detail::MarginalizeInto(wideMarginal.data(), outcomes,
                                               clique.widePotential.data(), onto);
                quarn::detail::ToDoubles(wideMarginal.data(), outcomes, marginal.data());
            }
            const double sum = quarn::detail::SumTable(marginal.data(), outcomes);
            // Evidence impossible in this part of the tree: nothing to normalise.
            if (sum == 0.0) continue;
            for (double& cell : marginal)
                cell /= sum;
            view.WriteBeliefs(r, marginal.data(), outcomes);
        }
        if (left == 0) break;
    }
}

double QNL_clusteringJoinTree::ProbabilityOfEvidence() {
    quarn::detail::ScaledValue result;
    return ProbabilityOfEvidence(result) ? result.Value() : -1.0;
}

bool QNL_clusteringJoinTree::ProbabilityOfEvidence(quarn::detail::ScaledValue& result) {
    bool ok = false;
    try {
        if (Build(QNL_triangulator::EVIDENCE_CAP)) {
            bool left = false;
            {
                const quarn::detail::RangeWatch watch;
                ok = CollectEvidence<double>(result);
                left = ok && watch.Left();
            }
            if (left) {
                // As in Propagate: the sum again in wide cells, or the doubles' where the
                // storage cannot be had.
                quarn::detail::ScaledValue wide;
                for (int c = 0; c < store.GetCount(); ++c)
                    store[c].built = false;
                try {
                    if (CollectEvidence<WideCell>(wide)) result = wide;
                } catch (const std::bad_alloc&) {
                }
                FreeWide();
            }
        }
    } catch (const std::exception&) {
        failure = Failure::OUT_OF_MEMORY;
        ok = false;
    }
    Free();
    return ok;
}

// Children from the last to the first; a child's tables go as soon as its message has reached
// the parent, so only the cliques on the way down hold potentials.
template <typename Cell>
bool QNL_clusteringJoinTree::CollectEvidence(quarn::detail::ScaledValue& result) {
    result = quarn::detail::ScaledValue();
    std::vector<std::pair<int, int>> stack;
    if (root >= 0) stack.emplace_back(root, store.GetNumberOfChildren(root) - 1);
    StrideAxis childAxes[MAX_STRIDE_AXES];
    StrideAxis parentAxes[MAX_STRIDE_AXES];
    while (!stack.empty()) {
        const int clique = stack.back().first;
        const int next = stack.back().second;
        if (next >= 0) {
            --stack.back().second;
            const int child = store.GetChild(clique, next);
            stack.emplace_back(child, store.GetNumberOfChildren(child) - 1);
            continue;
        }
        stack.pop_back();
        QNL_clique& child = store[clique];
        if (child.parent < 0) continue;
        QNL_clique& parent = store[child.parent];
        if (!(parent.built || BuildPotential<Cell>(parent)) ||
            !(child.built || BuildPotential<Cell>(child)) || !SizeSeparator<Cell>(child))
            return false;
        const Strides toSeparator{
            childAxes, SubsetAxes(child, child.separator, child.separatorCount, childAxes), 0};
        const Strides parentToSeparator{
            parentAxes, SubsetAxes(parent, child.separator, child.separatorCount, parentAxes), 0};
        PassUp<Cell>(child, parent, toSeparator, parentToSeparator);
        Cells<Cell>::Free(child);
    }
    if (root < 0) return true;
    QNL_clique& top = store[root];
    if (!top.built && !BuildPotential<Cell>(top)) return false;
    const auto sum =
        quarn::detail::SumTable(Cells<Cell>::Potential(top), Cells<Cell>::PotentialSize(top));
    if constexpr (std::is_same_v<Cell, double>)
        result = quarn::detail::ScaledValue(sum, top.scale);
    else
        result = sum;
    return true;
}
