#include "inference/kept_set.h"

#include "support/random_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using quarn::detail::KeptSet;

struct Item {
    int id = 0;
    std::uint64_t digest = 0;
    bool trial = false;
    Item* older = nullptr;
    Item* newer = nullptr;
    std::size_t slot = 0;
};

// What the set must hold: the ids of each list, least recently used first, and each id's
// digest.
struct Model {
    std::deque<int> lists[2];
    std::vector<std::uint64_t> digest;

    void Drop(int id) {
        for (auto& list : lists)
            list.erase(std::remove(list.begin(), list.end(), id), list.end());
    }
    bool Holds(int id) const {
        for (const auto& list : lists)
            if (std::find(list.begin(), list.end(), id) != list.end()) return true;
        return false;
    }
};

// Both lists walked from their oldest, and every held item found by its digest, as the model
// says.
void ExpectSame(const KeptSet<Item>& set, const Model& model, const std::string& label) {
    std::size_t held = 0;
    for (bool trial : {false, true}) {
        std::vector<int> walked;
        for (const Item* item = set.Oldest(trial); item != nullptr; item = item->newer)
            walked.push_back(item->id);
        const std::deque<int>& list = model.lists[trial];
        EXPECT_EQ(walked, std::vector<int>(list.begin(), list.end())) << label;
        EXPECT_EQ(set.Count(trial), list.size()) << label;
        held += list.size();
    }
    EXPECT_EQ(set.Size(), held) << label;
    for (int id = 0; id < static_cast<int>(model.digest.size()); ++id) {
        const Item* found = set.Find(model.digest[static_cast<std::size_t>(id)],
                                     [&](const Item* item) { return item->id == id; });
        EXPECT_EQ(found != nullptr, model.Holds(id)) << label << " id " << id;
    }
}

} // namespace

// Random adds, uses, removals, drains and swaps, with digests drawn from a few values so that
// probe runs collide, wrap around the table and close up after removals: the lists keep the
// order of last use and every held item is found, none that left is.
TEST(KeptSetTest, RandomEditsKeepOrderAndLookupsOfAModel) {
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
        quarn_test::TestRandom random(seed);
        KeptSet<Item> set, other;
        Model model;
        const int digests = 1 + static_cast<int>(seed % 7) * 5;
        for (int step = 0; step < 600; ++step) {
            const std::string label =
                "seed " + std::to_string(seed) + " step " + std::to_string(step);
            const double pick = random.Uniform();
            std::vector<int> held;
            for (const auto& list : model.lists)
                held.insert(held.end(), list.begin(), list.end());
            auto itemOf = [&](int id) {
                return set.Find(model.digest[static_cast<std::size_t>(id)],
                                [&](const Item* item) { return item->id == id; });
            };
            if (held.empty() || pick < 0.45) {
                auto item = std::make_unique<Item>();
                item->id = static_cast<int>(model.digest.size());
                item->digest = static_cast<std::uint64_t>(random.Below(digests)) * 0x100000001ULL;
                item->trial = random.Uniform() < 0.5;
                model.digest.push_back(item->digest);
                model.lists[item->trial].push_back(item->id);
                set.Add(std::move(item));
            } else if (pick < 0.7) {
                const int id =
                    held[static_cast<std::size_t>(random.Below(static_cast<int>(held.size())))];
                Item* item = itemOf(id);
                ASSERT_NE(item, nullptr) << label;
                set.Use(item);
                model.Drop(id);
                model.lists[false].push_back(id);
            } else if (pick < 0.97) {
                const int id =
                    held[static_cast<std::size_t>(random.Below(static_cast<int>(held.size())))];
                Item* item = itemOf(id);
                ASSERT_NE(item, nullptr) << label;
                const std::unique_ptr<Item> removed = set.Remove(item);
                EXPECT_EQ(removed.get(), item) << label;
                model.Drop(id);
            } else if (pick < 0.985) {
                std::vector<int> drained;
                set.Drain([&](std::unique_ptr<Item> item) { drained.push_back(item->id); });
                std::sort(drained.begin(), drained.end());
                std::sort(held.begin(), held.end());
                EXPECT_EQ(drained, held) << label;
                model.lists[0].clear();
                model.lists[1].clear();
            } else {
                // Twice, so the items come back to this set.
                set.Swap(other);
                EXPECT_EQ(set.Size(), 0u) << label;
                set.Swap(other);
            }
            ExpectSame(set, model, label);
        }
    }
}
