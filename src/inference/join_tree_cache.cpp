#include "inference/join_tree_cache.h"

#include "inference/relevance.h"

#include <algorithm>
#include <exception>

namespace quarn::detail {

namespace {

std::uint64_t Mix(std::uint64_t hash, std::uint64_t word) {
    hash ^= word + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
    return hash;
}

} // namespace

JoinTreeCache::~JoinTreeCache() {
    const TablePool::Scope scope(&pool);
    entries.clear();
}

void JoinTreeCache::Begin(std::uint64_t at, std::uint64_t newLimit) {
    if (at != version) {
        Clear();
        version = at;
    }
    limit = newLimit;
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
    for (const std::unique_ptr<Entry>& entry : entries) {
        if (entry->shape != shape || entry->tree->GetTotalWeight() > cap) continue;
        *entry->view = QNL_graphView(component);
        if (entry->tree->Refresh()) return entry.get();
    }
    return nullptr;
}

bool JoinTreeCache::Build(Entry& entry, QNL_relevanceComponent* component) {
    entry.tree.reset();
    entry.view = std::make_unique<QNL_graphView>(component);
    entry.tree = std::make_unique<QNL_clusteringJoinTree>(*entry.view);
    if (entry.tree->Build(limit)) {
        ++builds;
        return true;
    }
    failure = entry.tree->GetFailure();
    entry.tree->Free();
    return false;
}

void JoinTreeCache::Remove(const Entry* entry) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].get() != entry) continue;
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
}

bool JoinTreeCache::DropOthers(const Entry* keep) {
    bool any = pool.GetHeldCells() > 0;
    for (std::size_t i = entries.size(); i-- > 0;) {
        if (entries[i].get() == keep) continue;
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
        any = true;
    }
    pool.Release();
    return any;
}

void JoinTreeCache::Trim(const Entry* keep) {
    std::uint64_t cells = KeptCells();
    while (cells > budget) {
        const Entry* oldest = nullptr;
        for (const auto& entry : entries)
            if (entry.get() != keep && (oldest == nullptr || entry->lastUse < oldest->lastUse))
                oldest = entry.get();
        // Trees are kept only while they hold a modest amount of memory: a network whose
        // trees are huge pays their construction again rather than holding gigabytes
        // between updates.
        if (oldest == nullptr) oldest = keep;
        if (oldest == nullptr) return;
        cells -= oldest->tree->GetTotalWeight();
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
        } else {
            auto fresh = std::make_unique<Entry>();
            fresh->shape = shape;
            // Storage that a kept tree holds may be what a new one lacks.
            if (!Build(*fresh, component) && (failure != Failure::OUT_OF_MEMORY ||
                                              !DropOthers(nullptr) || !Build(*fresh, component)))
                return false;
            entries.push_back(std::move(fresh));
            entry = entries.back().get();
        }
        entry->lastUse = ++clock;
        QNL_clusteringJoinTree& tree = *entry->tree;
        if (tree.Propagate(mask)) {
            Trim(entry);
            return true;
        }
        failure = tree.GetFailure();
        if (failure == Failure::OUT_OF_MEMORY && DropOthers(entry) && tree.Propagate(mask)) {
            failure = Failure::NONE;
            Trim(entry);
            return true;
        }
    } catch (const std::exception&) {
        failure = Failure::OUT_OF_MEMORY;
    }
    if (entry != nullptr) Remove(entry);
    return false;
}

std::uint64_t JoinTreeCache::KeptCells() const {
    std::uint64_t cells = 0;
    for (const auto& entry : entries)
        cells += entry->tree->GetTotalWeight();
    return cells;
}

void JoinTreeCache::Clear() {
    const TablePool::Scope scope(&pool);
    entries.clear();
}

void JoinTreeCache::TakeTrees(JoinTreeCache& other, std::uint64_t at) {
    if (&other == this) return;
    Clear();
    version = at;
    entries.swap(other.entries);
    for (auto& entry : entries)
        entry->lastUse = 0;
}

QNL_clusteringJoinTree* JoinTreeCache::GetTree(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) return nullptr;
    return entries[static_cast<std::size_t>(index)]->tree.get();
}

} // namespace quarn::detail
