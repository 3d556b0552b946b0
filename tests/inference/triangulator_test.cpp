#include "inference/triangulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using quarn::detail::ComponentGraph;
using Failure = QNL_triangulator::Failure;

namespace {

// A clique as the tests compare it, lists ascending.
struct Clique {
    int creator;
    std::uint64_t weight;
    std::vector<int> members;
    std::vector<int> separator;
    int parent;
    bool operator==(const Clique& o) const {
        return creator == o.creator && weight == o.weight && members == o.members &&
               separator == o.separator && parent == o.parent;
    }
};

std::ostream& operator<<(std::ostream& out, const Clique& c) {
    out << "{creator " << c.creator << " w " << c.weight << " members";
    for (int m : c.members)
        out << ' ' << m;
    out << " sep";
    for (int s : c.separator)
        out << ' ' << s;
    return out << " parent " << c.parent << '}';
}

std::vector<Clique> Cliques(const QNL_cliqueStore& store) {
    std::vector<Clique> out;
    for (int i = 0; i < store.GetCount(); ++i) {
        const QNL_clique& c = store[i];
        out.push_back({c.creator, c.weight, std::vector<int>(c.members, c.members + c.memberCount),
                       std::vector<int>(c.separator, c.separator + c.separatorCount), c.parent});
    }
    return out;
}

// The elimination exactly as first described: an adjacency matrix, complete sweeps over
// every record until one eliminates nothing, a full scan for the least weight and a scan of
// all later cliques for each parent. Slow and plain, the yardstick of the fast version.
struct Reference {
    bool ok = false;
    std::uint64_t total = 0;
    std::vector<Clique> cliques;
};

Reference Triangulate(const ComponentGraph& g, std::uint64_t limit) {
    const std::uint64_t cap = limit == 0 ? QNL_triangulator::DEFAULT_CAP : limit;
    const int n = g.GetCount();
    std::vector<std::vector<char>> adjacent(n, std::vector<char>(n, 0));
    std::vector<char> gone(n, 0);
    int left = n;
    auto link = [&](int a, int b) {
        if (a != b) adjacent[a][b] = adjacent[b][a] = 1;
    };
    for (int r = 0; r < n; ++r) {
        for (int i = 0; i < g.GetNumberOfParents(r); ++i) {
            link(r, g.GetParent(r, i));
            for (int j = i + 1; j < g.GetNumberOfParents(r); ++j)
                link(g.GetParent(r, i), g.GetParent(r, j));
        }
    }
    auto neighbours = [&](int v) {
        std::vector<int> out;
        for (int u = 0; u < n; ++u)
            if (!gone[u] && adjacent[v][u]) out.push_back(u);
        return out;
    };
    auto weight = [&](int v) -> std::uint64_t {
        std::uint64_t w = static_cast<std::uint64_t>(g.StateCount(v));
        for (int u : neighbours(v)) {
            w *= static_cast<std::uint64_t>(g.StateCount(u));
            if (w > QNL_triangulator::WEIGHT_LIMIT) return 0;
        }
        return w > QNL_triangulator::WEIGHT_LIMIT ? 0 : w;
    };
    auto simplicial = [&](int v) {
        const std::vector<int> list = neighbours(v);
        for (std::size_t i = 0; i < list.size(); ++i)
            for (std::size_t j = i + 1; j < list.size(); ++j)
                if (!adjacent[list[i]][list[j]]) return false;
        return true;
    };
    auto remove = [&](int v) {
        gone[v] = 1;
        --left;
    };
    Reference result;
    auto addClique = [&](int v, std::uint64_t w) {
        Clique c{v, w, {v}, {}, -1};
        const std::vector<int> former = neighbours(v);
        remove(v);
        int k = static_cast<int>(former.size()) - 1;
        for (auto it = former.rbegin(); it != former.rend(); ++it) {
            if (c.members.size() == 30) return false;
            c.members.push_back(*it);
            if (static_cast<int>(neighbours(*it).size()) == k) {
                remove(*it);
                --k;
            } else {
                c.separator.push_back(*it);
            }
        }
        result.total += w;
        std::sort(c.members.begin(), c.members.end());
        std::sort(c.separator.begin(), c.separator.end());
        result.cliques.push_back(c);
        return true;
    };
    while (left > 0) {
        bool any = true;
        while (any) {
            any = false;
            for (int v = 0; v < n; ++v) {
                if (gone[v] || !simplicial(v)) continue;
                const std::uint64_t w = weight(v);
                if (w == 0 || !addClique(v, w)) return result;
                any = true;
            }
        }
        if (left == 0) break;
        int best = -1;
        std::uint64_t bestWeight = 0;
        for (int v = 0; v < n; ++v) {
            const std::uint64_t w = gone[v] ? 0 : weight(v);
            if (w != 0 && (best < 0 || w < bestWeight)) {
                best = v;
                bestWeight = w;
            }
        }
        if (best < 0) return result;
        const std::vector<int> list = neighbours(best);
        for (std::size_t i = 0; i < list.size(); ++i)
            for (std::size_t j = i + 1; j < list.size(); ++j)
                link(list[i], list[j]);
        if (!addClique(best, bestWeight) || result.total > cap) return result;
    }
    if (result.total > cap) return result;
    for (std::size_t i = 0; i + 1 < result.cliques.size(); ++i) {
        Clique& c = result.cliques[i];
        for (std::size_t j = i + 1; j < result.cliques.size() && c.parent < 0; ++j) {
            const std::vector<int>& m = result.cliques[j].members;
            if (std::includes(m.begin(), m.end(), c.separator.begin(), c.separator.end()))
                c.parent = static_cast<int>(j);
        }
    }
    result.ok = true;
    return result;
}

// Builds a graph from parent lists; observed records count 1.
ComponentGraph Graph(const std::vector<int>& outcomes, const std::vector<std::vector<int>>& parents,
                     const std::vector<int>& observed = {}) {
    ComponentGraph g;
    for (std::size_t r = 0; r < outcomes.size(); ++r) {
        const int seen = r < observed.size() ? observed[r] : -1;
        g.AddRecord(outcomes[r], seen, parents[r]);
    }
    return g;
}

ComponentGraph Complete(int size, int outcomes, int observedBelow = 0) {
    std::vector<int> all(static_cast<std::size_t>(size), outcomes);
    std::vector<std::vector<int>> parents(static_cast<std::size_t>(size));
    for (int r = 0; r + 1 < size; ++r)
        parents.back().push_back(r);
    std::vector<int> observed(static_cast<std::size_t>(size), -1);
    for (int r = 0; r < observedBelow; ++r)
        observed[static_cast<std::size_t>(r)] = 0;
    return Graph(all, parents, observed);
}

ComponentGraph RandomGraph(std::mt19937& random, int records, int maxParents, int maxOutcomes = 4) {
    ComponentGraph g;
    for (int r = 0; r < records; ++r) {
        std::vector<int> parents;
        std::vector<int> candidates;
        for (int p = 0; p < r; ++p)
            candidates.push_back(p);
        std::shuffle(candidates.begin(), candidates.end(), random);
        const int wanted = std::min<int>(static_cast<int>(random() % (maxParents + 1)), r);
        parents.assign(candidates.begin(), candidates.begin() + wanted);
        const int outcomes = 2 + static_cast<int>(random() % (maxOutcomes - 1));
        const int observed = random() % 6 == 0 ? 0 : -1;
        g.AddRecord(outcomes, observed, parents);
    }
    return g;
}

} // namespace

// The bounds of a triangulation: thirty members, the cap on the total weight (default or
// given), the weight limit of one clique, and a total kept in 64 bits. Observed members count
// 1, so that only the member limit can refuse the complete graphs of 30 and 31.
TEST(TriangulatorTest, LimitsRefuseExactlyPastTheirBound) {
    const int big = 1 << 30;
    struct Case {
        const char* what;
        ComponentGraph graph;
        std::uint64_t limit;
        Failure failure;
        std::uint64_t total;
    };
    const std::uint64_t bit = 1;
    const Case cases[] = {
        {"thirty members", Complete(30, 2, 27), 0, Failure::NONE, 8},
        {"thirty-one members", Complete(31, 2, 28), 0, Failure::TOO_MANY_MEMBERS, 0},
        {"2^28 at the default cap", Complete(28, 2), 0, Failure::NONE, bit << 28},
        {"2^29 over the default cap", Complete(29, 2), 0, Failure::OVER_CAP, bit << 29},
        {"2^29 within 2^30", Complete(29, 2), bit << 30, Failure::NONE, bit << 29},
        {"8 over 7", Complete(3, 2), 7, Failure::OVER_CAP, 8},
        {"8 within 8", Complete(3, 2), 8, Failure::NONE, 8},
        // Two linked records of 40000 outcomes: 1.6e9 cells, above the weight limit.
        {"weight limit", Graph({40000, 40000}, {{}, {0}}), QNL_triangulator::EVIDENCE_CAP,
         Failure::NO_ELIGIBLE_NODE, 0},
        // 5 x 2^30 would wrap to 2^30 in 32 bits.
        {"five of 2^30", Graph({big, big, big, big, big}, {{}, {}, {}, {}, {}}),
         QNL_triangulator::EVIDENCE_CAP, Failure::OVER_CAP, 0},
        {"three of 2^30", Graph({big, big, big}, {{}, {}, {}}), QNL_triangulator::EVIDENCE_CAP,
         Failure::NONE, 3 * (bit << 30)},
    };
    for (const Case& c : cases) {
        QNL_cliqueStore store;
        QNL_triangulator triangulator(c.graph, store);
        EXPECT_EQ(triangulator.Run(c.limit), c.failure == Failure::NONE) << c.what;
        if (c.failure != Failure::NONE) {
            EXPECT_EQ(triangulator.GetFailure(), c.failure) << c.what;
        }
        if (c.total != 0) {
            EXPECT_EQ(triangulator.GetTotalWeight(), c.total) << c.what;
        }
    }
}

// Sparse graphs of up to 40 records, sometimes under a tight cap so that failures are compared
// too; dense ones whose fill-in encloses several records; and wide ones whose weights pass the
// weight limit and come back under it as neighbours go.
TEST(TriangulatorTest, MatchesThePlainEliminationOnRandomGraphs) {
    std::mt19937 random(20240611);
    int compared = 0, failures = 0, dense = 0;
    for (int round = 0; round < 520; ++round) {
        const int kind = round < 400 ? 0 : 1 + round % 2;
        const ComponentGraph g = kind == 0
                                     ? RandomGraph(random, 1 + static_cast<int>(random() % 40),
                                                   1 + static_cast<int>(random() % 4))
                                 : kind == 1 ? RandomGraph(random, 30, 3, 300)
                                             : RandomGraph(random, 25, 6);
        const std::uint64_t limit = kind != 0        ? QNL_triangulator::EVIDENCE_CAP
                                    : round % 4 == 0 ? 16 + random() % 400
                                                     : 0;
        const Reference expected = Triangulate(g, limit);
        QNL_cliqueStore store;
        QNL_triangulator triangulator(g, store);
        ASSERT_EQ(triangulator.Run(limit), expected.ok) << "round " << round;
        if (!expected.ok) {
            failures += kind == 0;
            continue;
        }
        (kind == 0 ? compared : dense) += 1;
        EXPECT_EQ(triangulator.GetTotalWeight(), expected.total) << "round " << round;
        ASSERT_EQ(Cliques(store), expected.cliques) << "round " << round;
    }
    EXPECT_GT(compared, 200);
    EXPECT_GT(failures, 10);
    EXPECT_GT(dense, 30);
}
