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

// Arrays whose consistency can be broken from outside, as a stray write would.
template <class Array> struct Breakable : Array {
    void Break() {
        this->growth = 0;
        this->CheckConsistency();
    }
};

// Deterministic text of odd bytes (every value 1..255), for the long-identifier cases.
std::string OddText(std::size_t length, std::uint32_t seed) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        seed = seed * 214013u + 2531011u;
        text.push_back(static_cast<char>(1 + (seed >> 16) % 255));
    }
    return text;
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiIdChar(char c) {
    return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

// ---------------------------------------------------------------------------------------
// The identifier rule

TEST(IdentifierRule, ValidSanitizedAndRepairedTexts) {
    for (const char* good : {"a_1", "Z", "State12"})
        EXPECT_EQ(IsValidId(good), 1) << good;
    // Letters beyond ASCII do not count.
    for (const char* bad : {"_a", "1a", "a-b", "a b", "caf\xc3\xa9", ""})
        EXPECT_EQ(IsValidId(bad), 0) << bad;
    EXPECT_EQ(IsValidId(nullptr), 0);

    // Sanitizing replaces in place; repairing puts an x in front instead of replacing, and
    // must check the character that was first, or the result is no identifier.
    struct Case {
        const char* text;
        const char* sanitized;
        const char* repaired;
    } cases[] = {{"1b-c", "xb_c", "x1b_c"}, {"-a", "xa", "x_a"}, {"ok_1", "ok_1", "ok_1"}};
    for (const Case& c : cases) {
        std::string sanitized = c.text, repaired = c.text;
        std::vector<char> inPlace(sanitized.begin(), sanitized.end() + 1);
        EXPECT_EQ(SanitizeId(inPlace.data()), 0);
        EXPECT_STREQ(inPlace.data(), c.sanitized);
        EXPECT_EQ(SanitizeId(sanitized), 0);
        quarn::detail::RepairId(repaired);
        EXPECT_EQ(sanitized, c.sanitized);
        EXPECT_EQ(repaired, c.repaired);
    }
    char empty[] = "";
    EXPECT_EQ(SanitizeId(empty), -2);
    EXPECT_EQ(SanitizeId(static_cast<char*>(nullptr)), -2);
    std::string nothing;
    quarn::detail::RepairId(nothing);
    EXPECT_EQ(nothing, "");
}

TEST(IdentifierRule, LongOddTextsAreRepairedByteForByte) {
    for (std::uint32_t seed : {1u, 7u, 12345u}) {
        const std::string original = OddText(10000, seed);
        std::string sanitized = original;
        ASSERT_EQ(SanitizeId(sanitized), 0);
        ASSERT_EQ(sanitized.size(), original.size());
        EXPECT_EQ(IsValidId(sanitized.c_str()), 1);

        std::string repaired = original;
        quarn::detail::RepairId(repaired);
        const bool letterFirst = IsAsciiLetter(original[0]);
        const std::size_t shift = letterFirst ? 0 : 1;
        ASSERT_EQ(repaired.size(), original.size() + shift);
        EXPECT_EQ(IsValidId(repaired.c_str()), 1);
        for (std::size_t i = 0; i < original.size(); ++i) {
            const char expected = IsAsciiIdChar(original[i]) ? original[i] : '_';
            if (i == 0 && letterFirst) continue;
            ASSERT_EQ(repaired[i + shift], expected) << "at " << i;
            ASSERT_TRUE(i == 0 || sanitized[i] == expected) << "at " << i;
        }
    }
}

// ---------------------------------------------------------------------------------------
// MakeValidId

// A number appends its suffix even when the bare base would be free; a negative number
// prefers the bare base, then counts from zero, never up through two billion negative
// suffixes; a suffix beyond the int range does not wrap.
TEST(MakeValidId, FirstFreeSuffixForEachKindOfBaseAndNumber) {
    struct Case {
        std::initializer_list<const char*> taken;
        const char* base;
        int number;
        const char* expected;
    } cases[] = {
        // clang-format off
        {{"State0"}, "State", 0, "State1"}, {{"State0", "State1", "State3"}, "State", 0, "State2"},
        {{"State0", "State1", "State3"}, "State", 3, "State4"}, {{}, "Choice", 7, "Choice7"},
        {{}, "State", -1, "State"}, {{"State", "State0"}, "State", -3, "State1"},
        {{"State", "State0"}, "State", INT_MIN, "State1"}, {{}, nullptr, -1, "x"},
        {{}, "", 3, "x3"}, {{}, "1b-c", -1, "x1b_c"},
        {{"a2147483647"}, "a", INT_MAX, "a2147483648"},
    };
    // clang-format on
    for (const Case& c : cases) {
        QNL_idArray ids;
        for (const char* id : c.taken)
            ASSERT_EQ(ids.Add(id), 0);
        std::string out;
        ASSERT_EQ(ids.MakeValidId(c.base, c.number, out), 0);
        EXPECT_EQ(out, c.expected) << (c.base ? c.base : "null") << " " << c.number;
    }
    // Entries beyond the count are not items.
    QNL_idArray beyond;
    ASSERT_EQ(beyond.SetSize(4), 0);
    ASSERT_EQ(beyond.SetString(2, "State0"), 0);
    std::string out;
    ASSERT_EQ(beyond.MakeValidId("State", 0, out), 0);
    EXPECT_EQ(out, "State0");
}

TEST(MakeValidId, LongOddBaseGetsRepairedAndNumbered) {
    const std::string base = "9" + OddText(9999, 3);
    QNL_idArray ids;
    std::string first, second;
    ASSERT_EQ(ids.MakeValidId(base.c_str(), 0, first), 0);
    ASSERT_EQ(first.size(), 10002u); // 'x' in front, suffix "0"
    EXPECT_EQ(IsValidId(first.c_str()), 1);
    ASSERT_EQ(ids.Add(first.c_str()), 0);
    ASSERT_EQ(ids.MakeValidId(base.c_str(), 0, second), 0);
    EXPECT_EQ(second.substr(0, 10001), first.substr(0, 10001));
    EXPECT_EQ(second.back(), '1');
}

TEST(MakeValidId, GivesTheFirstFreeSuffixAgainstBruteForce) {
    std::uint32_t seed = 99;
    for (int round = 0; round < 20; ++round) {
        QNL_idArray ids;
        std::set<int> taken;
        for (int k = 0; k < 60; ++k) {
            seed = seed * 214013u + 2531011u;
            if ((seed >> 16) % 3 == 0) continue;
            taken.insert(k);
            ASSERT_EQ(ids.Add(("s" + std::to_string(k)).c_str()), 0);
        }
        for (int start = 0; start < 62; start += 5) {
            int expected = start;
            while (taken.count(expected))
                ++expected;
            std::string out;
            ASSERT_EQ(ids.MakeValidId("s", start, out), 0);
            EXPECT_EQ(out, "s" + std::to_string(expected)) << "from " << start;
        }
    }
}

TEST(MakeValidId, AddAndInsertDefaultPlaceTheMadeIdentifier) {
    QNL_idArray ids;
    ASSERT_EQ(ids.AddDefault("State", 0), 0);
    ASSERT_EQ(ids.AddDefault("State", 0), 0);
    ASSERT_EQ(ids.InsertDefault("State", 0, 0), 0);
    EXPECT_EQ(Items(ids), (Texts{"State2", "State0", "State1"}));
    EXPECT_EQ(ids.InsertDefault("State", 0, 5), -2);
    // A base taken from the array itself is copied before the array changes.
    ASSERT_EQ(ids.AddDefault(ids.GetString(0), 0), 0);
    EXPECT_STREQ(ids.GetString(3), "State20");
}

// ---------------------------------------------------------------------------------------
// MakeAllIdsValid

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
        const int size = ids.GetSize();
        ASSERT_EQ(ids.MakeAllIdsValid(), 0);
        EXPECT_EQ(Items(ids), c.expected);
        EXPECT_EQ(ids.CheckReadiness(), 0);
        EXPECT_EQ(ids.GetSize(), size);
        EXPECT_EQ(ids.GetGrowth(), 10);
    }
    const std::string odd = OddText(10000, 5);
    QNL_idArray ids = RawIds({odd.c_str(), odd.c_str()});
    ASSERT_EQ(ids.MakeAllIdsValid(), 0);
    EXPECT_EQ(std::string(ids.GetString(1)), std::string(ids.GetString(0)) + "2");
    EXPECT_EQ(ids.CheckReadiness(), 0);

    Breakable<QNL_idArray> broken;
    ASSERT_EQ(broken.Add("a"), 0);
    broken.Break();
    EXPECT_EQ(broken.MakeAllIdsValid(), -567);
    EXPECT_EQ(Items(broken), (Texts{"a"}));
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
            seed = seed * 214013u + 2531011u;
            for (int k = static_cast<int>((seed >> 16) % 4); k > 0; --k) {
                seed = seed * 214013u + 2531011u;
                text.push_back(alphabet[(seed >> 16) % 6]);
            }
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

// ---------------------------------------------------------------------------------------
// Acceptability in the identifier array

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
    EXPECT_FALSE(ids.IsReady());

    QNL_idArray assigned = RawIds({"a", "b", "a"});
    EXPECT_EQ(assigned.CheckReadiness(), -568);
    ASSERT_EQ(assigned.Delete(2), 0);
    EXPECT_EQ(assigned.CheckReadiness(), 0);
}

TEST(IdArray, AllowEmptyAcceptsRepeatedEmptyTextsAndTravelsWithCopies) {
    QNL_idArray source(true);
    EXPECT_EQ(source.Add(""), 0);
    EXPECT_EQ(source.Add(""), 0);
    EXPECT_EQ(source.Add("a"), 0);
    EXPECT_EQ(source.CheckReadiness(), 0);
    QNL_idArray target;
    ASSERT_EQ(target.Assign(source), 0);
    EXPECT_TRUE(target.AllowsEmpty());
    EXPECT_EQ(target.Add(""), 0);
    const QNL_idArray copy(source);
    EXPECT_TRUE(copy.AllowsEmpty());
    EXPECT_EQ(Items(copy), (Texts{"", "", "a"}));
}

// ---------------------------------------------------------------------------------------
// The string array

TEST(StringArray, EntriesBeyondCountAreReachableButNotItems) {
    QNL_stringArray array(4, 10);
    EXPECT_EQ(array.GetString(4), nullptr);
    EXPECT_EQ(array.GetString(-1), nullptr);
    EXPECT_EQ(array.SetString(3, "late"), 0);
    EXPECT_STREQ(array.GetString(3), "late");
    EXPECT_EQ(array.SetString(4, "x"), -2);
    EXPECT_EQ(array.FindPosition("late"), -2);
    for (int index : {0, 2, -1})
        EXPECT_EQ(array.Delete(index), -2);
    EXPECT_EQ(array.GetCount(), 0);
    // Inserting at the count shifts over (and frees) what sat beyond it.
    for (const char* text : {"a", "b", "c"})
        ASSERT_EQ(array.Add(text), 0);
    EXPECT_EQ(array.Delete(3), -2);
    ASSERT_EQ(array.Insert(0, "z"), 0);
    EXPECT_EQ(Items(array), (Texts{"z", "a", "b", "c"}));
    EXPECT_EQ(array.GetSize(), 4);
}

TEST(StringArray, InsertAndDeleteShiftItemsAndEmptyTheVacatedEntry) {
    QNL_stringArray array = Strings({"a", "b"});
    EXPECT_EQ(array.Insert(3, "x"), -2);
    EXPECT_EQ(array.Insert(-1, "x"), -2);
    ASSERT_EQ(array.Insert(2, "c"), 0);
    ASSERT_EQ(array.Insert(1, nullptr), 0);
    EXPECT_EQ(Items(array), (Texts{"a", kNull, "b", "c"}));
    ASSERT_EQ(array.Delete(0), 0);
    EXPECT_EQ(Items(array), (Texts{kNull, "b", "c"}));
    EXPECT_EQ(array.GetString(3), nullptr);
    // Finding sees only items and skips nulls.
    EXPECT_EQ(array.FindPosition("c"), 2);
    EXPECT_EQ(array.FindPosition(nullptr), -2);
    EXPECT_EQ(array.IsInList(""), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(array.Delete(0), 0);
    EXPECT_EQ(array.GetString(0), nullptr);
}

TEST(StringArray, GrowsByTheStepAndResizingKeepsTextsOnlyForTheSameSize) {
    QNL_stringArray stepThree(0, 3);
    std::vector<int> sizes;
    for (int i = 0; i < 7; ++i) {
        ASSERT_EQ(stepThree.Add(std::to_string(i).c_str()), 0);
        sizes.push_back(stepThree.GetSize());
    }
    EXPECT_EQ(sizes, (std::vector<int>{3, 3, 3, 6, 6, 6, 9}));
    EXPECT_EQ(Items(stepThree), (Texts{"0", "1", "2", "3", "4", "5", "6"}));
    // A starting size must not cost the caller its growth step.
    QNL_stringArray sized(5, 3);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(sized.Add("t"), 0);
    EXPECT_EQ(sized.GetSize(), 8);
    EXPECT_EQ(QNL_stringArray(2, 0).GetGrowth(), 10);

    ASSERT_EQ(stepThree.SetSize(9), 0);
    EXPECT_EQ(stepThree.GetCount(), 0);
    EXPECT_STREQ(stepThree.GetString(0), "0");
    EXPECT_EQ(stepThree.GetGrowth(), 3);
    ASSERT_EQ(stepThree.SetSize(6), 0);
    EXPECT_EQ(stepThree.GetString(0), nullptr);
    EXPECT_EQ(stepThree.GetGrowth(), 10);
    EXPECT_EQ(stepThree.SetSize(-1), -2);
    EXPECT_EQ(stepThree.GetSize(), 6);

    // Flush frees the texts but keeps the table.
    QNL_stringArray flushed = Strings({"a", "b"});
    ASSERT_EQ(flushed.SetString(5, "beyond"), 0);
    flushed.Flush();
    EXPECT_EQ(flushed.GetSize(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(flushed.GetString(i), nullptr);
}

TEST(StringArray, ReorderPermutesItemsOrTheWholeTableAndRefusesOthers) {
    QNL_stringArray array = Strings({"a", "b", "c"});
    ASSERT_EQ(array.Reorder(quarn_test::IntsOf({1, 2, 0})), 0); // new item i is old item order[i]
    EXPECT_EQ(Items(array), (Texts{"b", "c", "a"}));
    for (const QNL_intArray& bad :
         {quarn_test::IntsOf({0, 0, 2}), quarn_test::IntsOf({0, 3, 1}), quarn_test::IntsOf({0})})
        EXPECT_EQ(array.Reorder(bad), -2);
    EXPECT_EQ(Items(array), (Texts{"b", "c", "a"}));
    EXPECT_EQ(QNL_stringArray().Reorder(QNL_intArray()), 0);

    // An order with as many entries as the size reorders the whole table.
    QNL_stringArray table(3, 10);
    ASSERT_EQ(table.Add("a"), 0);
    ASSERT_EQ(table.SetString(2, "c"), 0);
    ASSERT_EQ(table.Reorder(quarn_test::IntsOf({2, 0, 1})), 0);
    EXPECT_STREQ(table.GetString(0), "c");
    EXPECT_STREQ(table.GetString(1), "a");
    EXPECT_EQ(table.GetString(2), nullptr);
    EXPECT_EQ(table.GetCount(), 1);
}

TEST(StringArray, CopiesAreDeep) {
    auto source = std::make_unique<QNL_stringArray>(0, 3);
    ASSERT_EQ(source->Add("a"), 0);
    ASSERT_EQ(source->Add(nullptr), 0);
    ASSERT_EQ(source->SetString(2, "beyond"), 0);

    QNL_stringArray copied(*source);
    QNL_stringArray assigned = Strings({"old", "texts", "here"});
    ASSERT_EQ(assigned.Assign(*source), 0);
    QNL_stringArray byOperator;
    byOperator = *source;
    EXPECT_NE(copied.GetString(0), source->GetString(0));
    ASSERT_EQ(source->SetString(0, "changed"), 0);
    source.reset(); // texts of the copies must survive their source

    for (const QNL_stringArray* copy : {&copied, &assigned, &byOperator}) {
        EXPECT_EQ(Items(*copy), (Texts{"a", kNull}));
        EXPECT_STREQ(copy->GetString(2), "beyond");
        EXPECT_EQ(copy->GetSize(), 3);
        EXPECT_EQ(copy->GetGrowth(), 3);
    }
    EXPECT_EQ(assigned.Assign(assigned), 0);
    EXPECT_EQ(Items(assigned), (Texts{"a", kNull}));
}

TEST(StringArray, TextsTakenFromTheArrayItselfAreCopiedBeforeAnyChange) {
    QNL_stringArray array(0, 2);
    ASSERT_EQ(array.Add("first"), 0);
    ASSERT_EQ(array.Add("second"), 0);
    ASSERT_EQ(array.SetString(0, array.GetString(0)), 0);
    EXPECT_STREQ(array.GetString(0), "first");
    ASSERT_EQ(array.Insert(0, array.GetString(1)), 0); // grows while holding the text
    EXPECT_EQ(Items(array), (Texts{"second", "first", "second"}));
}

TEST(StringArray, InvalidArrayRefusesEditsUntilResized) {
    Breakable<QNL_stringArray> array;
    ASSERT_EQ(array.Add("a"), 0);
    array.Break();
    ASSERT_FALSE(array.IsValid());
    EXPECT_EQ(array.SetString(0, "b"), -567);
    EXPECT_EQ(array.Insert(0, "b"), -567);
    EXPECT_EQ(array.Add("b"), -567);
    EXPECT_EQ(array.Delete(0), -2);
    EXPECT_EQ(array.FindPosition("a"), -2);
    EXPECT_EQ(array.Reorder(QNL_intArray()), -567);

    QNL_stringArray target = Strings({"kept"});
    EXPECT_EQ(target.Assign(array), -567);
    EXPECT_EQ(Items(target), (Texts{"kept"}));
    const QNL_stringArray copy(array);
    EXPECT_EQ(copy.GetCount(), 0);
    EXPECT_TRUE(copy.IsValid());

    ASSERT_EQ(array.SetSize(3), 0);
    EXPECT_TRUE(array.IsValid());
    EXPECT_EQ(array.Add("b"), 0);
}

} // namespace
