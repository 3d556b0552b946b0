#pragma once

// Internal: not part of the public interface.

#include "inference/clustering_join_tree.h"
#include "inference/graph_view.h"
#include "inference/kept_set.h"
#include "inference/relevance.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class QNL_network;

namespace quarn::detail {

// Clustering join trees of a network's recent updates, with their cliques and table storage,
// so that an update that changes only evidence values costs no triangulation and no table
// allocation. A tree is a function of its component's shape alone (records, outcomes,
// parents, which records are observed, which hold a table), so trees are kept by that shape:
// the updates of a solve or a test ranking, which return to a few observed sets, each find
// theirs again. A kept tree serves only a component that reads exactly as the one it was
// built from but for observed outcomes and table cells, which are read afresh, and only when
// its total weight fits the new limit: its beliefs are then those of a new tree, bit for bit.
// The kept trees share a budget of bytes that counts everything they hold (tables, cliques,
// lists) and the trees kept for building in; the least recently used go first. The reductions
// are kept too, under a bound of their own that counts everything they hold, by what they
// depend on besides evidence values, and derived again from the new values (see
// QNL_keptReduction). Both go at once on a change of the structure version.
// A tree or reduction of a shape or key not met before is kept on trial, among a few: updates
// that each observe a new set of nodes (an EM pass) then build theirs in the storage of the
// last trials instead of piling up new ones. It stays once an update uses it again, or when
// its shape or key was met before.
class JoinTreeCache {
public:
    using Failure = QNL_triangulator::Failure;

    // Bytes that kept trees may hold together (256 MiB).
    static constexpr std::uint64_t DEFAULT_BUDGET = std::uint64_t(1) << 28;
    // Bytes that kept reductions may hold together (64 MiB); the one in use stays whatever its
    // size.
    static constexpr std::uint64_t REDUCTION_BYTES = std::uint64_t(1) << 26;
    // Trees, and reductions, kept on trial at most.
    static constexpr std::size_t TRIALS = 32;

    JoinTreeCache() = default;
    JoinTreeCache(const JoinTreeCache&) = delete;
    JoinTreeCache& operator=(const JoinTreeCache&) = delete;
    ~JoinTreeCache();

    // Starts an update of the network at `version`, trees limited by `limit` (0: the default
    // cap). Kept trees and reductions of another version are dropped.
    void Begin(std::uint64_t version, std::uint64_t limit);
    // The components of the network's relevance reduction (cutting roots, with propagated
    // evidence): a kept reduction's brought to the current evidence, or a new one's, kept when
    // it may serve again. Those in `fresh` belong to the caller; `kept` tells when the list is
    // the cache's instead, whose components must stay. Null, with the reduction's code in
    // `code`, when the reduction fails.
    QNL_componentList* Reduce(QNL_network& network, QNL_componentList& fresh, bool& kept,
                              int& code);
    // Propagates a component (of more than one record) with a kept tree of its shape or a new
    // one, writes the beliefs as QNL_clusteringJoinTree::Update does and keeps the tree. False
    // when no tree can be built under the limit or its storage cannot be had, even after
    // every other kept tree has been let go.
    bool Update(QNL_relevanceComponent* component, unsigned char* mask);
    // Drops every tree and kept reduction; the trees' table storage stays in the pool for the
    // next update, and the shapes and keys met stay known.
    void Clear();
    // Takes over the kept trees and reductions of `other` as those of structure version `at`.
    // For the same network rebuilt from a source whose structure did not change: the trees
    // are still matched to components shape by shape, and the reductions to the network's
    // state and nodes by handle, so what fits nothing any more only waits for its turn to go.
    void TakeKept(JoinTreeCache& other, std::uint64_t at);
    // Frees the table storage that dropped trees left in the pool or hold for reuse.
    void ReleaseMemory() {
        spare.clear();
        pool.Release();
    }
    // At most `cells` clique-table cells are held for reuse (TablePool::DEFAULT_LIMIT unless
    // set); the rest is freed at once.
    void SetMemoryLimit(std::uint64_t cells) { pool.SetLimit(cells); }
    std::uint64_t GetHeldCells() const { return pool.GetHeldCells(); }
    // The bytes kept trees may hold together; trees beyond it go, least recently used first.
    // A budget of 0 keeps neither trees nor reductions: every update is a fresh one.
    void SetBudget(std::uint64_t bytes) { budget = bytes; }
    std::uint64_t GetBudget() const { return budget; }
    // What the kept trees, the trees kept for building in and the last refused component hold,
    // as counted against the budget; and what the kept reductions hold.
    std::uint64_t GetKeptBytes() const { return keptBytes + spareBytes + refusedBytes; }
    std::uint64_t GetReductionBytes() const { return reductionBytes + spareReductionBytes; }

    // The trees that served the last update, in the order of its components, while kept.
    int GetCount() const { return static_cast<int>(lastUpdate.size()); }
    QNL_clusteringJoinTree* GetTree(int index) const;
    // Every kept tree, of whatever update, those on trial included.
    int GetKeptCount() const { return static_cast<int>(entries.Size()); }
    // Updates served by a kept tree, and trees built, since the cache was made.
    std::uint64_t GetReuseCount() const { return reuses; }
    std::uint64_t GetBuildCount() const { return builds; }
    // Triangulations run, a tree made of them or not, and reductions asked for (one per
    // clustering of the network), since the cache was made.
    std::uint64_t GetTriangulationCount() const { return triangulations; }
    std::uint64_t GetReduceCount() const { return reduceCalls; }
    // Reductions derived again from a kept one, and reductions kept, since the cache was made.
    std::uint64_t GetReductionReuseCount() const { return reductionReuses; }
    std::uint64_t GetReductionKeptCount() const { return reductionsKept; }
    int GetReductionCount() const { return static_cast<int>(reductions.Size()); }
    Failure GetFailure() const { return failure; }

private:
    // KeptSet reads `digest` and `trial` and keeps the fields after them.
    struct Entry {
        // On the heap: the tree keeps a reference to its view, which is pointed at each new
        // reduction's component.
        std::unique_ptr<QNL_graphView> view;
        std::unique_ptr<QNL_clusteringJoinTree> tree;
        // The bytes counted for the tree in keptBytes (or spareBytes); what its lists have held
        // at most since they were made (they keep their room when built again); the records
        // its cliques have had room for, and the cells of its largest separator, at most since
        // its storage was last freed.
        std::uint64_t bytes = 0;
        std::uint64_t listBytes = 0;
        std::uint64_t cliqueRoom = 0;
        std::uint64_t separatorRoom = 0;
        // The cells each clique of the storage holds, by creation index: those beyond the
        // tree's count are left from a larger tree and keep their tables.
        std::vector<std::uint64_t> slotCells;
        // The component's shape.
        std::uint64_t digest = 0;
        bool trial = false;
        Entry* older = nullptr;
        Entry* newer = nullptr;
        std::size_t slot = 0;
    };

    struct KeptReduction {
        std::vector<unsigned char> key;
        std::unique_ptr<QNL_keptReduction> reduction;
        // Its size when it was kept: derived again, it keeps its shapes.
        std::uint64_t bytes = 0;
        // The key's.
        std::uint64_t digest = 0;
        bool trial = false;
        KeptReduction* older = nullptr;
        KeptReduction* newer = nullptr;
        std::size_t slot = 0;
    };

    // Digests met before, one slot each: a digest whose slot another took since counts as not
    // met, so the filter holds a fixed 2 KiB however many digests pass.
    class SeenFilter {
    public:
        // Whether the digest was met before; it is noted either way.
        bool Note(std::uint64_t digest);
        void Swap(SeenFilter& other) { slots.swap(other.slots); }

    private:
        static constexpr int kBits = 8;
        std::unique_ptr<std::uint64_t[]> slots;
    };

    void RemoveReduction(KeptReduction* entry);
    void TrimReductions(const KeptReduction* newest);
    // A kept reduction let go: emptied and kept with its storage for the next one made.
    void RecycleReduction(std::unique_ptr<KeptReduction> entry);
    // A reduction to make in: a recycled one, the one of the same key first, or a new one.
    std::unique_ptr<KeptReduction> TakeSpareReduction(std::uint64_t hash);
    static std::uint64_t ShapeOf(const QNL_relevanceComponent& component);
    Entry* Find(QNL_relevanceComponent* component, std::uint64_t shape);
    bool Build(Entry& entry, QNL_relevanceComponent* component);
    void Remove(Entry* entry);
    // What the tree holds, counted afresh (its tables may have grown), in keptBytes.
    void Measure(Entry& entry);
    // Reads what the tree's storage holds now into the entry; what it holds in all.
    static std::uint64_t ReadStorage(Entry& entry);
    static std::uint64_t Held(const Entry& entry);
    // Lets go of the least recently used trials beyond TRIALS, then, while the kept bytes
    // exceed the budget, of the trees kept for building in, of the least recently used trees
    // but `keep`, trials first, and of `keep` itself when it alone does.
    void Trim(const Entry* keep);
    // Lets go of every kept tree but `keep` and of the pool's storage; whether there was any.
    bool DropOthers(const Entry* keep);
    // A tree let go: kept for the next build, within the budget, with its lists and (while
    // small) its cliques and tables.
    void Recycle(std::unique_ptr<Entry> entry);
    // A tree to build in for a component of `records` records: a recycled one, or a new one.
    std::unique_ptr<Entry> TakeSpare(int records);

    // Declared first, so that it outlives the trees.
    TablePool pool;
    std::uint64_t version = 0;
    std::uint64_t limit = 0;
    std::uint64_t budget = DEFAULT_BUDGET;
    KeptSet<Entry> entries;
    std::uint64_t keptBytes = 0;
    std::uint64_t spareBytes = 0;
    std::uint64_t refusedBytes = 0;
    // The last component no tree could be had for under the cap it was tried with (for any
    // reason but memory): one that reads the same fails again under that cap or a lower one,
    // since the cap only stops the triangulation, never steers it. The decomposition's halving
    // meets it again at every step when each part of the target set needs all of it.
    struct Refused {
        ComponentGraph graph;
        std::uint64_t shape = 0;
        std::uint64_t cap = 0;
        Failure why = Failure::NONE;
        bool held = false;
    };
    // Whether the component is the refused one and the cap no higher; `reading` is scratch.
    bool IsRefused(QNL_relevanceComponent* component, std::uint64_t shape);
    void NoteRefused(const Entry& entry, std::uint64_t shape);
    Refused refused;
    ComponentGraph reading;
    // Trees let go, built again in place: their working arrays and table storage (small trees
    // only) save a fresh update the allocations of a new tree.
    std::vector<std::unique_ptr<Entry>> spare;
    std::vector<const Entry*> lastUpdate;
    KeptSet<KeptReduction> reductions;
    std::uint64_t reductionBytes = 0;
    std::uint64_t spareReductionBytes = 0;
    SeenFilter seenShapes;
    SeenFilter seenKeys;
    // Reductions let go, made again in place: their record blocks, lists, derived tables and
    // components save a fresh update the allocations of a new reduction.
    std::vector<std::unique_ptr<KeptReduction>> spareReductions;
    std::vector<unsigned char> key;
    std::uint64_t reductionReuses = 0;
    std::uint64_t reductionsKept = 0;
    std::uint64_t reuses = 0;
    std::uint64_t builds = 0;
    std::uint64_t triangulations = 0;
    std::uint64_t reduceCalls = 0;
    Failure failure = Failure::NONE;
};

} // namespace quarn::detail
