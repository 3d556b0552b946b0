#include "model/string_array.h"

#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;
using quarn_test::IntsOf;
const char* const kNull = "<null>";

// The items in use, with null entries shown as kNull.
Texts Items(const QNL_stringArray& array) {
    Texts items;
    for (int i = 0; i < array.GetCount(); ++i) {
        const char* text = array.GetString(i);
        items.push_back(text != nullptr ? text : kNull);
    }
    return items;
}

QNL_stringArray Strings(std::initializer_list<const char*> texts) {
    QNL_stringArray array;
    for (const char* text : texts)
        EXPECT_EQ(array.Add(text), 0);
    return array;
}

// An identifier array holding arbitrary texts, as a reader gets it before repair.
QNL_idArray RawIds(std::initializer_list<const char*> texts, bool allowEmpty = false) {
    QNL_idArray ids(allowEmpty);
    EXPECT_EQ(ids.Assign(Strings(texts)), 0);
    return ids;
}

// A small deterministic generator: the next draw in 0..n-1.
int Draw(std::uint32_t& seed, int n) {
    seed = seed * 214013u + 2531011u;
    return static_cast<int>((seed >> 16) % static_cast<std::uint32_t>(n));
}

TEST(IdentifierRule, ValidSanitizedAndRepairedTexts) {
    for (const char* good : {"a_1", "Z", "State12"})
        EXPECT_EQ(IsValidId(good), 1) << good;
    for (const char* bad : {"_a", "1a", "a-b", "a b", "caf\xc3\xa9", "", (const char*)nullptr})
        EXPECT_EQ(IsValidId(bad), 0) << (bad ? bad : "null");
    // Sanitizing replaces in place; repairing puts an x in front of a bad first character.
    const Texts cases[] = {
        {"1b-c\xe9", "xb_c_", "x1b_c_"}, {"-a", "xa", "x_a"}, {"ok_1", "ok_1", "ok_1"}};
    for (const Texts& c : cases) {
        std::string sanitized = c[0], repaired = c[0];
        std::vector<char> inPlace(sanitized.begin(), sanitized.end() + 1);
        EXPECT_EQ(SanitizeId(inPlace.data()), 0);
        EXPECT_EQ(SanitizeId(sanitized), 0);
        quarn::detail::RepairId(repaired);
        EXPECT_EQ((Texts{c[0], inPlace.data(), sanitized, repaired}),
                  (Texts{c[0], c[1], c[1], c[2]}));
    }
    char empty[] = "";
    EXPECT_EQ(SanitizeId(empty), -2);
    EXPECT_EQ(SanitizeId(static_cast<char*>(nullptr)), -2);
}

// A number appends its suffix even when the bare base would be free; a negative number
// prefers the bare base, then counts from zero; a suffix beyond the int range does not wrap.
TEST(MakeValidId, FirstFreeSuffixForEachKindOfBaseAndNumber) {
    struct Case {
        std::initializer_list<const char*> taken;
        const char* base;
        int number;
        const char* expected;
    } cases[] = {
        {{"State0"}, "State", 0, "State1"},
        {{"State0", "State1", "State3"}, "State", 0, "State2"},
        {{"State0", "State1", "State3"}, "State", 3, "State4"},
        {{}, "Choice", 7, "Choice7"},
        {{}, "State", -1, "State"},
        {{"State", "State0"}, "State", -3, "State1"},
        {{"State", "State0"}, "State", INT_MIN, "State1"},
        {{}, nullptr, -1, "x"},
        {{}, "", 3, "x3"},
        {{}, "1b-c", -1, "x1b_c"},
        {{"a2147483647"}, "a", INT_MAX, "a2147483648"},
    };
    for (const Case& c : cases) {
        QNL_idArray ids;
        for (const char* id : c.taken)
            ASSERT_EQ(ids.Add(id), 0);
        std::string out;
        ASSERT_EQ(ids.MakeValidId(c.base, c.number, out), 0);
        EXPECT_EQ(out, c.expected) << (c.base ? c.base : "null") << " " << c.number;
    }
    // Add and insert place the made identifier; a base taken from the array is copied first.
    QNL_idArray ids;
    ASSERT_EQ(ids.AddDefault("State", 0), 0);
    ASSERT_EQ(ids.AddDefault("State", 0), 0);
    ASSERT_EQ(ids.InsertDefault("State", 0, 0), 0);
    EXPECT_EQ(ids.InsertDefault("State", 0, 5), -2);
    ASSERT_EQ(ids.AddDefault(ids.GetString(0), 0), 0);
    EXPECT_EQ(Items(ids), (Texts{"State2", "State0", "State1", "State20"}));
}

TEST(MakeAllIdsValid, RepairsThenNumbersDuplicatesFromTwo) {
    struct Case {
        std::initializer_list<const char*> raw;
        bool allowEmpty;
        Texts expected;
    } cases[] = {
        {{"a", "a", "a"}, false, {"a", "a2", "a3"}},
        {{"1b-c", "1b-c", "a", "", "ok", "a2", "a", nullptr},
         false,
         {"x1b_c", "x1b_c2", "a", "x2", "ok", "a2", "a3", "x3"}},
        {{"", "b", ""}, true, {"", "b", ""}},
    };
    for (const Case& c : cases) {
        QNL_idArray ids = RawIds(c.raw, c.allowEmpty);
        ASSERT_EQ(ids.MakeAllIdsValid(), 0);
        EXPECT_EQ(Items(ids), c.expected);
        EXPECT_EQ(ids.CheckReadiness(), 0);
    }
}

// Random texts from a small alphabet, so duplicates, bad first characters and empty texts
// all occur; checked item by item against what the rule demands.
TEST(MakeAllIdsValid, AlwaysEndsReadyAndKeepsWhatWasAlreadyFine) {
    std::uint32_t seed = 2024;
    const char alphabet[] = "ab1-_ ";
    for (int round = 0; round < 30; ++round) {
        Texts texts;
        QNL_stringArray raw;
        for (int i = 0; i < 40; ++i) {
            std::string text;
            for (int k = Draw(seed, 4); k > 0; --k)
                text.push_back(alphabet[Draw(seed, 6)]);
            texts.push_back(text);
            ASSERT_EQ(raw.Add(text.c_str()), 0);
        }
        QNL_idArray ids;
        ASSERT_EQ(ids.Assign(raw), 0);
        ASSERT_EQ(ids.MakeAllIdsValid(), 0);
        ASSERT_EQ(ids.GetCount(), 40);
        EXPECT_EQ(ids.CheckReadiness(), 0);
        std::set<std::string> earlier;
        for (int i = 0; i < 40; ++i) {
            const std::string result = ids.GetString(i);
            EXPECT_EQ(IsValidId(result.c_str()), 1) << result;
            EXPECT_TRUE(earlier.insert(result).second) << "duplicate " << result;
            const std::string& original = texts[static_cast<std::size_t>(i)];
            EXPECT_TRUE(!IsValidId(original.c_str()) || result == original ||
                        earlier.count(original))
                << original << " renamed without cause";
        }
    }
}

TEST(IdArray, RefusesDuplicatesInvalidTextsAndNull) {
    QNL_idArray ids;
    ASSERT_EQ(ids.Add("a"), 0);
    for (const char* bad : {"a", "1a", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(ids.Add(bad), -2) << (bad ? bad : "null");
    EXPECT_EQ(ids.Insert(0, "a"), -2);
    EXPECT_EQ(ids.Add("A"), 0); // case matters
    ASSERT_EQ(ids.Add("b"), 0);
    // SetString compares with every item but the replaced one.
    EXPECT_EQ(ids.SetString(0, "a"), 0);
    EXPECT_EQ(ids.SetString(0, "b"), -2);
    EXPECT_EQ(ids.SetString(2, "c"), 0);
    EXPECT_EQ(ids.SetString(2, "c d"), -2);
    EXPECT_EQ(Items(ids), (Texts{"a", "A", "c"}));
    EXPECT_EQ(ids.AddEmpty(), 0); // the one way in, for callers that fill it in later
    EXPECT_EQ(ids.CheckReadiness(), -568);
    QNL_idArray assigned = RawIds({"a", "b", "a"});
    EXPECT_EQ(assigned.CheckReadiness(), -568);
    ASSERT_EQ(assigned.Delete(2), 0);
    EXPECT_EQ(assigned.CheckReadiness(), 0);
    // Repeated empty texts where allowed; the permission travels with copies.
    QNL_idArray source(true);
    for (const char* text : {"", "", "a"})
        EXPECT_EQ(source.Add(text), 0);
    QNL_idArray target;
    ASSERT_EQ(target.Assign(source), 0);
    EXPECT_EQ(target.Add(""), 0);
    EXPECT_EQ(Items(QNL_idArray(source)), (Texts{"", "", "a"}));
    EXPECT_TRUE(QNL_idArray(source).AllowsEmpty());
}

// Past a few items the identifier check looks texts up in an index; after any sequence of
// edits it must answer as a scan of the items does.
TEST(IdArray, LookUpAgreesWithAScanAfterRandomEdits) {
    std::uint32_t seed = 7;
    auto draw = [&seed](int n) { return Draw(seed, n); };
    QNL_idArray ids;
    for (int step = 0; step < 3000; ++step) {
        const std::string text = "t" + std::to_string(draw(60));
        const int n = ids.GetCount(), at = draw(n + 1);
        switch (draw(6)) {
        case 0: // may hold repeats afterwards, as a reader's array does before repair
            if (n > 0) {
                ASSERT_EQ(ids.QNL_stringArray::SetString(draw(n), text.c_str()), 0);
            }
            break;
        case 1:
            if (n > 0) ids.Delete(draw(n));
            break;
        case 2:
            ASSERT_EQ(ids.Reorder(quarn_test::Reversed(n)), 0);
            break;
        case 3:
            ids.SetString(at < n ? at : -1, text.c_str());
            break;
        default:
            ids.Insert(at, text.c_str());
        }
        const Texts items = Items(ids);
        const int replaced = draw(ids.GetCount() + 1);
        int others = 0;
        for (int i = 0; i < ids.GetCount(); ++i)
            others += i != replaced && items[static_cast<std::size_t>(i)] == text;
        ASSERT_EQ(ids.IsAcceptableAt(text.c_str(), replaced), others == 0) << step;
    }
}

// Texts taken from the array itself are copied before it changes or grows.
TEST(StringArray, TextsOfTheArrayItselfAreCopiedBeforeItChanges) {
    QNL_stringArray self(0, 2);
    ASSERT_EQ(self.Add("first"), 0);
    ASSERT_EQ(self.Add("second"), 0);
    ASSERT_EQ(self.SetString(0, self.GetString(0)), 0);
    ASSERT_EQ(self.Insert(0, self.GetString(1)), 0);
    EXPECT_EQ(Items(self), (Texts{"second", "first", "second"}));
    EXPECT_EQ(self.Delete(3), -2) << "entries beyond the count are no items";
    ASSERT_EQ(self.Reorder(IntsOf({2, 0, 1})), 0);
    EXPECT_EQ(Items(self), (Texts{"second", "second", "first"}));
    EXPECT_EQ(self.Reorder(IntsOf({0, 0, 1})), -2);
}

// Copy, assignment and operator share one copy; its texts, past the count too, outlive the
// source.
TEST(StringArray, CopiesAreDeep) {
    auto source = std::make_unique<QNL_stringArray>(0, 3);
    ASSERT_EQ(source->Add("a"), 0);
    ASSERT_EQ(source->Add(nullptr), 0);
    ASSERT_EQ(source->SetString(2, "beyond"), 0);
    QNL_stringArray copied(*source);
    source.reset();
    EXPECT_EQ(Items(copied), (Texts{"a", kNull}));
    EXPECT_STREQ(copied.GetString(2), "beyond");
}

} // namespace
