#include "inference/join_tree_cache.h"

#include "inference/relevance.h"

#include <exception>

namespace quarn::detail {

JoinTreeCache::~JoinTreeCache() {
    entries.clear();
}

void JoinTreeCache::Begin(std::uint64_t at, const QNL_componentList& components,
                          std::uint64_t newLimit) {
    const TablePool::Scope scope(&pool);
    if (at != version) {
        Clear();
        version = at;
    }
    limit = newLimit;
    const std::uint64_t cap = limit == 0 ? QNL_triangulator::DEFAULT_CAP : limit;
    const std::size_t count = static_cast<std::size_t>(components.GetCount());
    if (entries.size() > count) entries.resize(count);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::unique_ptr<Entry>& entry = entries[i];
        if (!entry) continue;
        QNL_relevanceComponent* component = components[static_cast<int>(i)];
        // The triangulation's weights only grow, so a tree whose total fits the cap would be
        // built again under it, the same way.
        bool serves = component != nullptr && component->GetNumberOfRecords() > 1 &&
                      entry->tree->GetTotalWeight() <= cap;
        if (serves) {
            *entry->view = QNL_graphView(component);
            serves = entry->tree->Refresh();
        }
        if (!serves) entry.reset();
    }
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

bool JoinTreeCache::DropOthers(int index) {
    bool any = pool.GetHeldCells() > 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (static_cast<int>(i) == index || !entries[i]) continue;
        entries[i].reset();
        any = true;
    }
    pool.Release();
    return any;
}

bool JoinTreeCache::Update(int index, QNL_relevanceComponent* component, unsigned char* mask) {
    failure = Failure::NONE;
    if (index < 0 || component == nullptr) return false;
    const TablePool::Scope scope(&pool);
    const std::size_t at = static_cast<std::size_t>(index);
    try {
        if (at >= entries.size()) entries.resize(at + 1);
        if (entries[at]) {
            ++reuses;
        } else {
            auto fresh = std::make_unique<Entry>();
            // Storage that a kept tree holds may be what a new one lacks.
            if (!Build(*fresh, component) && (failure != Failure::OUT_OF_MEMORY ||
                                              !DropOthers(index) || !Build(*fresh, component)))
                return false;
            entries[at] = std::move(fresh);
        }
        QNL_clusteringJoinTree& tree = *entries[at]->tree;
        if (tree.Propagate(mask)) {
            // Trees are kept only while they hold a modest amount of memory: a network whose
            // trees are huge pays their construction again rather than holding gigabytes
            // between updates.
            if (KeptCells() > kMaxKeptCells) entries[at].reset();
            return true;
        }
        failure = tree.GetFailure();
        if (failure == Failure::OUT_OF_MEMORY && DropOthers(index) && tree.Propagate(mask)) {
            failure = Failure::NONE;
            return true;
        }
    } catch (const std::exception&) {
        failure = Failure::OUT_OF_MEMORY;
    }
    if (at < entries.size()) entries[at].reset();
    return false;
}

std::uint64_t JoinTreeCache::KeptCells() const {
    std::uint64_t cells = 0;
    for (const auto& entry : entries)
        if (entry && entry->tree) cells += entry->tree->GetTotalWeight();
    return cells;
}

void JoinTreeCache::Clear() {
    const TablePool::Scope scope(&pool);
    entries.clear();
}

QNL_clusteringJoinTree* JoinTreeCache::GetTree(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size() ||
        !entries[static_cast<std::size_t>(index)])
        return nullptr;
    return entries[static_cast<std::size_t>(index)]->tree.get();
}

} // namespace quarn::detail
