#pragma once

// Internal: not part of the public interface.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace quarn::detail {

// Owns items kept for reuse, finds them by a 64-bit digest and orders them by last use, in two
// lists: items on trial and items kept for good. Neither adding (once the storage has grown to
// the largest count held), using, finding nor removing an item allocates. An item carries the
// fields the set maintains: `digest` (set before it is added), `trial`, `older`, `newer` and
// `slot`.
template <typename Item> class KeptSet {
public:
    KeptSet() = default;
    KeptSet(const KeptSet&) = delete;
    KeptSet& operator=(const KeptSet&) = delete;

    std::size_t Size() const { return items.size(); }
    std::size_t Count(bool trial) const { return lists[trial].count; }
    // The least recently used of a list; null when it is empty.
    Item* Oldest(bool trial) const { return lists[trial].oldest; }

    // Takes the item over as the most recently used of its list (its `trial` field). Throws
    // bad_alloc, with the set unchanged, when storage cannot be had.
    void Add(std::unique_ptr<Item> item) {
        if ((items.size() + 1) * 2 > table.size()) Rehash(table.empty() ? 16 : table.size() * 2);
        if (items.size() == items.capacity()) items.reserve(table.size() / 2);
        Item* added = item.release();
        added->slot = items.size();
        items.emplace_back(added);
        Place(added);
        Link(added);
    }
    // Gives the item back to the caller.
    std::unique_ptr<Item> Remove(Item* item) {
        Unlink(item);
        Unplace(item);
        std::unique_ptr<Item> removed = std::move(items[item->slot]);
        if (item->slot + 1 < items.size()) {
            items[item->slot] = std::move(items.back());
            items[item->slot]->slot = item->slot;
        }
        items.pop_back();
        return removed;
    }
    // The item becomes the most recently used of the list of items kept for good.
    void Use(Item* item) {
        Unlink(item);
        item->trial = false;
        Link(item);
    }
    // The first item of the digest that `accept` takes; null when none does.
    template <typename Accept> Item* Find(std::uint64_t digest, Accept&& accept) const {
        if (table.empty()) return nullptr;
        for (std::size_t at = Home(digest); table[at] != nullptr;
             at = (at + 1) & (table.size() - 1))
            if (table[at]->digest == digest && accept(table[at])) return table[at];
        return nullptr;
    }
    // Gives every item to `take`, by value, leaving the set empty.
    template <typename Take> void Drain(Take&& take) {
        std::fill(table.begin(), table.end(), nullptr);
        lists[0] = lists[1] = List();
        for (std::unique_ptr<Item>& item : items) {
            item->older = item->newer = nullptr;
            take(std::move(item));
        }
        items.clear();
    }
    void Swap(KeptSet& other) {
        items.swap(other.items);
        table.swap(other.table);
        std::swap(lists, other.lists);
    }

private:
    struct List {
        Item* oldest = nullptr;
        Item* newest = nullptr;
        std::size_t count = 0;
    };

    std::size_t Home(std::uint64_t digest) const {
        return static_cast<std::size_t>((digest * 0x9e3779b97f4a7c15ULL) >> 32) &
               (table.size() - 1);
    }
    void Link(Item* item) {
        List& list = lists[item->trial];
        item->older = list.newest;
        item->newer = nullptr;
        (list.newest != nullptr ? list.newest->newer : list.oldest) = item;
        list.newest = item;
        ++list.count;
    }
    void Unlink(Item* item) {
        List& list = lists[item->trial];
        (item->older != nullptr ? item->older->newer : list.oldest) = item->newer;
        (item->newer != nullptr ? item->newer->older : list.newest) = item->older;
        item->older = item->newer = nullptr;
        --list.count;
    }
    // Open addressing with linear probing; at most half the slots are taken.
    void Place(Item* item) {
        std::size_t at = Home(item->digest);
        while (table[at] != nullptr)
            at = (at + 1) & (table.size() - 1);
        table[at] = item;
    }
    // Later items of the probe run move back into the freed slot unless it lies before
    // their home, so that no run has a gap.
    void Unplace(const Item* item) {
        const std::size_t mask = table.size() - 1;
        std::size_t hole = Home(item->digest);
        while (table[hole] != item)
            hole = (hole + 1) & mask;
        for (std::size_t at = (hole + 1) & mask; table[at] != nullptr; at = (at + 1) & mask) {
            const std::size_t home = Home(table[at]->digest);
            if (((at - home) & mask) >= ((at - hole) & mask)) {
                table[hole] = table[at];
                hole = at;
            }
        }
        table[hole] = nullptr;
    }
    void Rehash(std::size_t size) {
        std::vector<Item*> grown(size, nullptr);
        table.swap(grown);
        for (const auto& item : items)
            Place(item.get());
    }

    std::vector<std::unique_ptr<Item>> items;
    std::vector<Item*> table;
    // Items kept for good, then items on trial.
    List lists[2];
};

} // namespace quarn::detail
