#pragma once

// Internal: not part of the public interface.

#include "inference/clustering_join_tree.h"
#include "inference/graph_view.h"

#include <cstdint>
#include <memory>
#include <vector>

class QNL_componentList;
class QNL_relevanceComponent;

namespace quarn::detail {

// The clustering join trees of a network's last update, one per component of its reduction,
// with their cliques and table storage, so that an update that changes only evidence values
// costs no triangulation and no table allocation. A kept tree serves again only when the new
// reduction's component reads exactly as the one it was built from but for observed outcomes
// and table cells, which are read afresh, and when its total weight fits the new limit: its
// beliefs are then those of a new tree, bit for bit. Trees of another structure version go.
class JoinTreeCache {
public:
    using Failure = QNL_triangulator::Failure;

    JoinTreeCache() = default;
    JoinTreeCache(const JoinTreeCache&) = delete;
    JoinTreeCache& operator=(const JoinTreeCache&) = delete;
    ~JoinTreeCache();

    // Starts an update over the reduction of the network at `version`, trees limited by
    // `limit` (0: the default cap). Kept trees that do not serve their component any more are
    // dropped here, before a new one takes memory.
    void Begin(std::uint64_t version, const QNL_componentList& components, std::uint64_t limit);
    // Propagates component `index` (of more than one record) with the kept tree or a new one,
    // writes the beliefs as QNL_clusteringJoinTree::Update does and keeps the tree. False when
    // no tree can be built under the limit or its storage cannot be had, even after every
    // other kept tree has been let go.
    bool Update(int index, QNL_relevanceComponent* component, unsigned char* mask);
    // Drops every tree; their table storage stays in the pool for the next update.
    void Clear();
    // Frees the table storage that dropped trees left in the pool.
    void ReleaseMemory() { pool.Release(); }
    // At most `cells` clique-table cells are held for reuse (TablePool::DEFAULT_LIMIT unless
    // set); the rest is freed at once.
    void SetMemoryLimit(std::uint64_t cells) { pool.SetLimit(cells); }
    std::uint64_t GetHeldCells() const { return pool.GetHeldCells(); }

    int GetCount() const { return static_cast<int>(entries.size()); }
    // The kept tree of component `index`, null when there is none.
    QNL_clusteringJoinTree* GetTree(int index) const;
    // Updates served by a kept tree, and trees built, since the cache was made.
    std::uint64_t GetReuseCount() const { return reuses; }
    std::uint64_t GetBuildCount() const { return builds; }
    Failure GetFailure() const { return failure; }

private:
    struct Entry {
        // On the heap: the tree keeps a reference to its view, which is pointed at each new
        // reduction's component.
        std::unique_ptr<QNL_graphView> view;
        std::unique_ptr<QNL_clusteringJoinTree> tree;
    };

    // Clique cells that kept trees may hold together (2^25 cells: 256 MiB of potentials).
    static constexpr std::uint64_t kMaxKeptCells = std::uint64_t(1) << 25;

    bool Build(Entry& entry, QNL_relevanceComponent* component);
    std::uint64_t KeptCells() const;
    // Lets go of every kept tree but `index`'s and of the pool's storage; whether there was
    // any.
    bool DropOthers(int index);

    // Declared first, so that it outlives the trees.
    TablePool pool;
    std::uint64_t version = 0;
    std::uint64_t limit = 0;
    std::vector<std::unique_ptr<Entry>> entries;
    std::uint64_t reuses = 0;
    std::uint64_t builds = 0;
    Failure failure = Failure::NONE;
};

} // namespace quarn::detail
