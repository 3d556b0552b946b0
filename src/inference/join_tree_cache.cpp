#include "inference/join_tree_cache.h"

#include "inference/relevance.h"
#include "model/network.h"

#include <algorithm>
#include <exception>
#include <new>

namespace quarn::detail {

namespace {

std::uint64_t Mix(std::uint64_t hash, std::uint64_t word) {
    hash ^= word + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
    return hash;
}

// The least recently used of a list but `keep`; null when there is none.
template <typename Item> Item* OldestBut(const KeptSet<Item>& set, bool trial, const Item* keep) {
    Item* oldest = set.Oldest(trial);
    return oldest != nullptr && oldest == keep ? oldest->newer : oldest;
}

} // namespace

JoinTreeCache::~JoinTreeCache() {
    // Nothing is recycled on the way out.
    reductions.Drain([](std::unique_ptr<KeptReduction>) {});
    Clear();
}

void JoinTreeCache::Begin(std::uint64_t at, std::uint64_t newLimit) {
    if (at != version) {
        Clear();
        version = at;
    }
    limit = newLimit;
    lastUpdate.clear();
}

// What a tree is built from, as the view reads it: a collision only costs the full
// comparison Refresh makes anyway.
std::uint64_t JoinTreeCache::ShapeOf(const QNL_relevanceComponent& component) {
    const int count = component.GetNumberOfRecords();
    std::uint64_t hash = static_cast<std::uint64_t>(count);
    for (int r = 0; r < count; ++r) {
        const QNL_relevanceNode* record = component.GetRecord(r);
        const int parents = record->GetNumberOfParents();
        hash = Mix(hash, static_cast<std::uint64_t>(record->GetNumberOfOutcomes()) << 3 |
                             (record->GetObservedOutcome() >= 0 ? 1u : 0u) |
                             (record->GetTable() != nullptr ? 2u : 0u));
        hash = Mix(hash, static_cast<std::uint64_t>(parents));
        for (int i = 0; i < parents; ++i) {
            const QNL_relevanceNode* parent = record->GetParent(i);
            hash = Mix(hash, parent->GetComponent() == &component
                                 ? static_cast<std::uint64_t>(parent->GetPosition())
                                 : ~std::uint64_t(0));
        }
    }
    return hash;
}

// The triangulation's weights only grow, so a tree whose total fits the cap would be built
// again under it, the same way; one over it would not be built at all.
JoinTreeCache::Entry* JoinTreeCache::Find(QNL_relevanceComponent* component, std::uint64_t shape) {
    const std::uint64_t cap = limit == 0 ? QNL_triangulator::DEFAULT_CAP : limit;
    return entries.Find(shape, [&](Entry* entry) {
        if (entry->tree->GetTotalWeight() > cap) return false;
        *entry->view = QNL_graphView(component);
        return entry->tree->Refresh();
    });
}

bool JoinTreeCache::Build(Entry& entry, QNL_relevanceComponent* component) {
    if (entry.tree == nullptr) {
        entry.view = std::make_unique<QNL_graphView>(component);
        entry.tree = std::make_unique<QNL_clusteringJoinTree>(*entry.view);
    } else {
        *entry.view = QNL_graphView(component);
    }
    ++triangulations;
    if (entry.tree->Build(limit)) {
        ++builds;
        return true;
    }
    failure = entry.tree->GetFailure();
    entry.tree->Free();
    return false;
}

void JoinTreeCache::Remove(Entry* entry) {
    lastUpdate.erase(std::remove(lastUpdate.begin(), lastUpdate.end(), entry), lastUpdate.end());
    keptBytes -= entry->bytes;
    Recycle(entries.Remove(entry));
}

namespace {

// Recycled trees at most.
constexpr std::size_t kSpareTrees = 4;

// The parts of a tree other than its tables are not in sight from here: its graph twice (as
// read and as read again), the triangulation's working lists (neighbours, fill, weights), its
// walk descriptors and child links, and the cliques themselves, with room for one per record.
// They are bounded from what is in sight, per tree, record, parent, clique and square of a
// clique's member count, by constants measured on the trees that random findings make of the
// real networks (alarm to link and munin: 1,600 trees of 3 to 1,000 records), which hold at
// most 0.9 of the bound, allocator overhead included.
constexpr std::uint64_t kTreeBytes = 2048 + sizeof(QNL_graphView) + sizeof(QNL_clusteringJoinTree);
constexpr std::uint64_t kRecordBytes = 64;
constexpr std::uint64_t kParentBytes = 8;
constexpr std::uint64_t kCliqueBytes = 256;
constexpr std::uint64_t kFillBytes = 32;

} // namespace

// The tables at their capacity, those of the cliques beyond the tree's count included (left
// from a larger tree built in the same storage, they keep theirs); the cliques and the room
// the tree keeps for the old cells of its largest separator, at the most they have held since
// the storage was last freed; the rest bounded as above, at the most its lists have held, since
// they keep their room when the tree is built again.
void JoinTreeCache::Measure(Entry& entry) {
    keptBytes -= entry.bytes;
    entry.bytes = ReadStorage(entry);
    keptBytes += entry.bytes;
}

std::uint64_t JoinTreeCache::ReadStorage(Entry& entry) {
    const QNL_clusteringJoinTree& tree = *entry.tree;
    const ComponentGraph& graph = tree.GetGraph();
    const QNL_cliqueStore& store = tree.GetStore();
    const auto count = static_cast<std::size_t>(store.GetCount());
    if (entry.slotCells.size() < count) entry.slotCells.resize(count);
    std::uint64_t largestSeparator = 0, fill = 0;
    for (std::size_t c = 0; c < count; ++c) {
        const QNL_clique& clique = store[static_cast<int>(c)];
        const auto separator = static_cast<std::uint64_t>(clique.separatorTable.Capacity());
        entry.slotCells[c] = static_cast<std::uint64_t>(clique.potential.Capacity()) + separator;
        largestSeparator = std::max(largestSeparator, separator);
        const auto members = static_cast<std::uint64_t>(clique.memberCount);
        fill += members * members;
    }
    const auto records = static_cast<std::uint64_t>(graph.GetCount());
    entry.listBytes = std::max(
        entry.listBytes, kTreeBytes + kRecordBytes * records + kParentBytes * graph.parents.size() +
                             kCliqueBytes * static_cast<std::uint64_t>(count) + kFillBytes * fill);
    entry.cliqueRoom = std::max(entry.cliqueRoom, records);
    entry.separatorRoom = std::max(entry.separatorRoom, largestSeparator);
    return Held(entry);
}

std::uint64_t JoinTreeCache::Held(const Entry& entry) {
    std::uint64_t cells = entry.separatorRoom;
    for (std::uint64_t slot : entry.slotCells)
        cells += slot;
    return sizeof(Entry) + entry.listBytes + entry.cliqueRoom * sizeof(QNL_clique) +
           entry.slotCells.capacity() * sizeof(std::uint64_t) + cells * sizeof(double);
}

namespace {
// Recycled trees keep their cliques and tables while their total weight is at most this
// (256 KiB of cells); larger ones are freed whole.
constexpr std::uint64_t kSpareCells = std::uint64_t(1) << 15;
// Room for cliques beyond a recycled tree's own that is not worth keeping (32 KiB).
constexpr std::uint64_t kSpareWaste = std::uint64_t(1) << 15;
} // namespace

// A tree kept for building in keeps its lists and, while small, its cliques with their tables,
// so that building in it again allocates nothing. Cliques with room for far more records than
// it has came from a larger tree built in the same storage: past a few, they go, lest every
// small tree built after it hold that room while kept.
void JoinTreeCache::Recycle(std::unique_ptr<Entry> entry) {
    if (entry == nullptr || entry->tree == nullptr) return;
    const auto records = static_cast<std::uint64_t>(entry->tree->GetGraph().GetCount());
    const bool roomy = entry->cliqueRoom > 2 * records &&
                       (entry->cliqueRoom - records) * sizeof(QNL_clique) > kSpareWaste;
    if (entry->tree->GetTotalWeight() > kSpareCells || roomy) {
        entry->tree->Free();
        entry->cliqueRoom = 0;
        entry->separatorRoom = 0;
        entry->slotCells.clear();
        entry->bytes = Held(*entry);
    } else {
        entry->bytes = ReadStorage(*entry);
    }
    if (spare.size() >= kSpareTrees ||
        keptBytes + spareBytes + refusedBytes + entry->bytes > budget)
        return;
    entry->digest = 0;
    entry->trial = false;
    try {
        spare.push_back(std::move(entry));
        spareBytes += spare.back()->bytes;
    } catch (const std::exception&) {
    }
}

// The spare with the least room for cliques that still fits the records, else the roomiest:
// a small tree built in a large one's storage would hold all of it while kept.
std::unique_ptr<JoinTreeCache::Entry> JoinTreeCache::TakeSpare(int records) {
    if (spare.empty()) return std::make_unique<Entry>();
    const auto wanted = static_cast<std::uint64_t>(records);
    std::size_t at = 0;
    for (std::size_t i = 1; i < spare.size(); ++i) {
        const std::uint64_t room = spare[i]->cliqueRoom, best = spare[at]->cliqueRoom;
        if (best < wanted ? room > best : room >= wanted && room < best) at = i;
    }
    std::unique_ptr<Entry> entry = std::move(spare[at]);
    spare.erase(spare.begin() + static_cast<std::ptrdiff_t>(at));
    spareBytes -= entry->bytes;
    entry->bytes = 0;
    return entry;
}

bool JoinTreeCache::DropOthers(const Entry* keep) {
    bool any = pool.GetHeldCells() > 0 || !spare.empty();
    for (bool trial : {true, false})
        while (Entry* other = OldestBut(entries, trial, keep)) {
            Remove(other);
            any = true;
        }
    spare.clear();
    spareBytes = 0;
    pool.Release();
    return any;
}

void JoinTreeCache::Trim(const Entry* keep) {
    while (entries.Count(true) > TRIALS)
        Remove(OldestBut(entries, true, keep));
    // Trees are kept only while they hold a modest amount of memory: a network whose trees
    // are huge pays their construction again rather than holding gigabytes between updates.
    const auto over = [this] { return keptBytes + spareBytes + refusedBytes > budget; };
    while (over() && !spare.empty()) {
        spareBytes -= spare.back()->bytes;
        spare.pop_back();
    }
    while (over()) {
        Entry* oldest = OldestBut(entries, true, keep);
        if (oldest == nullptr) oldest = OldestBut(entries, false, keep);
        if (oldest == nullptr) oldest = const_cast<Entry*>(keep);
        if (oldest == nullptr) return;
        Remove(oldest);
        if (oldest == keep) return;
    }
}

bool JoinTreeCache::Update(QNL_relevanceComponent* component, unsigned char* mask) {
    failure = Failure::NONE;
    if (component == nullptr) return false;
    const TablePool::Scope scope(&pool);
    Entry* entry = nullptr;
    try {
        const std::uint64_t shape = ShapeOf(*component);
        entry = Find(component, shape);
        if (entry != nullptr) {
            ++reuses;
            // Used again: it stays.
            entries.Use(entry);
        } else {
            if (IsRefused(component, shape)) return false;
            std::unique_ptr<Entry> fresh = TakeSpare(component->GetNumberOfRecords());
            fresh->digest = shape;
            // Storage that a kept tree holds may be what a new one lacks.
            if (!Build(*fresh, component) && (failure != Failure::OUT_OF_MEMORY ||
                                              !DropOthers(nullptr) || !Build(*fresh, component))) {
                NoteRefused(*fresh, shape);
                return false;
            }
            fresh->trial = !seenShapes.Note(shape);
            Entry* built = fresh.get();
            entries.Add(std::move(fresh));
            entry = built;
        }
        if (std::find(lastUpdate.begin(), lastUpdate.end(), entry) == lastUpdate.end())
            lastUpdate.push_back(entry);
        QNL_clusteringJoinTree& tree = *entry->tree;
        if (tree.Propagate(mask)) {
            Measure(*entry);
            Trim(entry);
            return true;
        }
        failure = tree.GetFailure();
        if (failure == Failure::OUT_OF_MEMORY && DropOthers(entry) && tree.Propagate(mask)) {
            failure = Failure::NONE;
            Measure(*entry);
            Trim(entry);
            return true;
        }
    } catch (const std::exception&) {
        failure = Failure::OUT_OF_MEMORY;
    }
    if (entry != nullptr) Remove(entry);
    return false;
}

namespace {

std::uint64_t GraphBytes(const ComponentGraph& graph) {
    return graph.outcomes.capacity() * sizeof(int) + graph.observed.capacity() * sizeof(int) +
           graph.parentStart.capacity() * sizeof(int) + graph.parents.capacity() * sizeof(int) +
           graph.tables.capacity() * sizeof(const QNL_Dmatrix*);
}

} // namespace

bool JoinTreeCache::IsRefused(QNL_relevanceComponent* component, std::uint64_t shape) {
    const std::uint64_t cap = limit == 0 ? QNL_triangulator::DEFAULT_CAP : limit;
    if (!refused.held || refused.shape != shape || cap > refused.cap) return false;
    const bool read = reading.Read(QNL_graphView(component));
    refusedBytes = GraphBytes(refused.graph) + GraphBytes(reading);
    if (!read) return false;
    const ComponentGraph& was = refused.graph;
    if (reading.outcomes != was.outcomes || reading.parentStart != was.parentStart ||
        reading.parents != was.parents)
        return false;
    for (std::size_t r = 0; r < was.outcomes.size(); ++r)
        if ((reading.observed[r] >= 0) != (was.observed[r] >= 0) ||
            (reading.tables[r] == nullptr) != (was.tables[r] == nullptr))
            return false;
    failure = refused.why;
    return true;
}

void JoinTreeCache::NoteRefused(const Entry& entry, std::uint64_t shape) {
    refused.held = false;
    if (failure == Failure::OUT_OF_MEMORY || failure == Failure::BAD_COMPONENT) return;
    if (keptBytes + spareBytes + GraphBytes(entry.tree->GetGraph()) + GraphBytes(reading) >
        budget) {
        refused.graph = ComponentGraph();
        refusedBytes = GraphBytes(reading);
        return;
    }
    refused.graph = entry.tree->GetGraph();
    refusedBytes = GraphBytes(refused.graph) + GraphBytes(reading);
    refused.shape = shape;
    refused.cap = limit == 0 ? QNL_triangulator::DEFAULT_CAP : limit;
    refused.why = failure;
    refused.held = true;
}

void JoinTreeCache::Clear() {
    const TablePool::Scope scope(&pool);
    lastUpdate.clear();
    keptBytes = 0;
    reductionBytes = 0;
    refused.held = false;
    refused.graph = ComponentGraph();
    reading = ComponentGraph();
    refusedBytes = 0;
    entries.Drain([this](std::unique_ptr<Entry> entry) { Recycle(std::move(entry)); });
    reductions.Drain(
        [this](std::unique_ptr<KeptReduction> entry) { RecycleReduction(std::move(entry)); });
}

namespace {
// Recycled reductions: two serve updates that alternate between two observed sets.
constexpr std::size_t kSpareReductions = 4;
} // namespace

void JoinTreeCache::RecycleReduction(std::unique_ptr<KeptReduction> entry) {
    if (entry == nullptr || entry->reduction == nullptr ||
        spareReductions.size() >= kSpareReductions)
        return;
    entry->reduction->Reset();
    entry->bytes = entry->reduction->GetSize();
    if (entry->bytes > REDUCTION_BYTES / 16 ||
        reductionBytes + spareReductionBytes + entry->bytes > REDUCTION_BYTES)
        return;
    entry->trial = false;
    try {
        spareReductions.push_back(std::move(entry));
        spareReductionBytes += spareReductions.back()->bytes;
    } catch (const std::exception&) {
    }
}

std::unique_ptr<JoinTreeCache::KeptReduction>
JoinTreeCache::TakeSpareReduction(std::uint64_t hash) {
    if (spareReductions.empty()) {
        auto entry = std::make_unique<KeptReduction>();
        entry->reduction = std::make_unique<QNL_keptReduction>();
        return entry;
    }
    // One made for the same key has the shape of what is made now: its storage fits.
    std::size_t at = spareReductions.size() - 1;
    for (std::size_t i = 0; i < spareReductions.size(); ++i)
        if (spareReductions[i]->digest == hash && spareReductions[i]->key == key) at = i;
    std::unique_ptr<KeptReduction> entry = std::move(spareReductions[at]);
    spareReductions.erase(spareReductions.begin() + static_cast<std::ptrdiff_t>(at));
    spareReductionBytes -= entry->bytes;
    entry->bytes = 0;
    return entry;
}

QNL_componentList* JoinTreeCache::Reduce(QNL_network& network, QNL_componentList& fresh, bool& kept,
                                         int& code) {
    kept = false;
    code = 0;
    ++reduceCalls;
    std::uint64_t hash = 0;
    if (budget > 0 && QNL_keptReduction::ReadKey(network, key)) {
        for (unsigned char byte : key)
            hash = Mix(hash, byte);
        const auto sameKey = [&](const KeptReduction* entry) { return entry->key == key; };
        // The kept reduction of the key serves unless the deterministic pass finds something
        // at the new outcomes (Replay gives 0).
        if (KeptReduction* entry = reductions.Find(hash, sameKey)) {
            const int r = entry->reduction->Replay(network);
            if (r < 0) {
                code = r;
                return nullptr;
            }
            if (r > 0) {
                ++reductionReuses;
                // Used again: it stays.
                reductions.Use(entry);
                kept = true;
                return &entry->reduction->GetComponents();
            }
        }
        std::unique_ptr<KeptReduction> entry = TakeSpareReduction(hash);
        QNL_keptReduction& made = *entry->reduction;
        if ((code = made.Make(network)) != 0) {
            RecycleReduction(std::move(entry));
            return nullptr;
        }
        if (!made.IsKeepable()) {
            fresh.Swap(made.GetComponents());
            RecycleReduction(std::move(entry));
            return &fresh;
        }
        // A reduction of the same key that no longer serves makes room for this one.
        while (KeptReduction* old = reductions.Find(hash, sameKey))
            RemoveReduction(old);
        entry->key = key;
        entry->digest = hash;
        entry->bytes = made.GetSize();
        entry->trial = !seenKeys.Note(hash);
        const KeptReduction* newest = entry.get();
        reductions.Add(std::move(entry));
        reductionBytes += newest->bytes;
        ++reductionsKept;
        TrimReductions(newest);
        kept = true;
        return &made.GetComponents();
    }
    if ((code = QNL_relevance::Reduce(network, true, true, fresh)) != 0) return nullptr;
    return &fresh;
}

void JoinTreeCache::RemoveReduction(KeptReduction* entry) {
    reductionBytes -= entry->bytes;
    RecycleReduction(reductions.Remove(entry));
}

// The newest reduction stays, whatever its size: it is the one being used. Reductions on
// trial go first.
void JoinTreeCache::TrimReductions(const KeptReduction* newest) {
    while (reductions.Count(true) > TRIALS)
        RemoveReduction(OldestBut(reductions, true, newest));
    while (reductionBytes + spareReductionBytes > REDUCTION_BYTES && !spareReductions.empty()) {
        spareReductionBytes -= spareReductions.back()->bytes;
        spareReductions.pop_back();
    }
    while (reductionBytes > REDUCTION_BYTES) {
        KeptReduction* oldest = OldestBut(reductions, true, newest);
        if (oldest == nullptr) oldest = OldestBut(reductions, false, newest);
        if (oldest == nullptr) return;
        RemoveReduction(oldest);
    }
}

void JoinTreeCache::TakeKept(JoinTreeCache& other, std::uint64_t at) {
    if (&other == this) return;
    Clear();
    version = at;
    entries.Swap(other.entries);
    std::swap(keptBytes, other.keptBytes);
    reductions.Swap(other.reductions);
    std::swap(reductionBytes, other.reductionBytes);
    seenShapes.Swap(other.seenShapes);
    seenKeys.Swap(other.seenKeys);
    other.lastUpdate.clear();
}

bool JoinTreeCache::SeenFilter::Note(std::uint64_t digest) {
    if (slots == nullptr) {
        slots.reset(new (std::nothrow) std::uint64_t[std::size_t(1) << kBits]());
        if (slots == nullptr) return false;
    }
    std::uint64_t& slot = slots[(digest * 0x9e3779b97f4a7c15ULL) >> (64 - kBits)];
    const bool seen = slot == digest;
    slot = digest;
    return seen;
}

QNL_clusteringJoinTree* JoinTreeCache::GetTree(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= lastUpdate.size()) return nullptr;
    return lastUpdate[static_cast<std::size_t>(index)]->tree.get();
}

} // namespace quarn::detail
