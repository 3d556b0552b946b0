#include "model/string_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kNull = "<null>";

// The items in use, with null entries shown as kNull.
std::vector<std::string> Items(const QNL_stringArray& array) {
    std::vector<std::string> items;
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
struct BreakableStrings : QNL_stringArray {
    void Break() {
        growth = 0;
        CheckConsistency();
    }
};
struct BreakableIds : QNL_idArray {
    void Break() {
        growth = 0;
        CheckConsistency();
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

TEST(IdentifierRule, ValidIdIsLetterThenLettersDigitsOrUnderscores) {
    EXPECT_EQ(IsValidId("a_1"), 1);
    EXPECT_EQ(IsValidId("Z"), 1);
    EXPECT_EQ(IsValidId("State12"), 1);
    EXPECT_EQ(IsValidId("_a"), 0);
    EXPECT_EQ(IsValidId("1a"), 0);
    EXPECT_EQ(IsValidId("a-b"), 0);
    EXPECT_EQ(IsValidId("a b"), 0);
    EXPECT_EQ(IsValidId("caf\xc3\xa9"), 0); // letters beyond ASCII do not count
    EXPECT_EQ(IsValidId(""), 0);
    EXPECT_EQ(IsValidId(nullptr), 0);
}

TEST(IdentifierRule, SanitizeReplacesInPlaceAndRefusesEmptyText) {
    char text[] = "1b-c";
    EXPECT_EQ(SanitizeId(text), 0);
    EXPECT_STREQ(text, "xb_c");
    char empty[] = "";
    EXPECT_EQ(SanitizeId(empty), -2);
    EXPECT_EQ(SanitizeId(static_cast<char*>(nullptr)), -2);
    std::string good = "ok_1";
    EXPECT_EQ(SanitizeId(good), 0);
    EXPECT_EQ(good, "ok_1");
}

TEST(IdentifierRule, RepairPutsXInFrontInsteadOfReplacing) {
    std::string text = "1b-c";
    quarn::detail::RepairId(text);
    EXPECT_EQ(text, "x1b_c");
    // The character that was first must itself be checked, or the result is no identifier.
    text = "-a";
    quarn::detail::RepairId(text);
    EXPECT_EQ(text, "x_a");
    text.clear();
    quarn::detail::RepairId(text);
    EXPECT_EQ(text, "");
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
            if (i > 0) {
                ASSERT_EQ(sanitized[i], expected) << "at " << i;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// MakeValidId

TEST(MakeValidId, SkipsSuffixesTakenByItems) {
    QNL_idArray ids;
    ASSERT_EQ(ids.Add("State0"), 0);
    std::string out;
    ASSERT_EQ(ids.MakeValidId("State", 0, out), 0);
    EXPECT_EQ(out, "State1");
    ASSERT_EQ(ids.Add("State1"), 0);
    ASSERT_EQ(ids.Add("State3"), 0);
    ASSERT_EQ(ids.MakeValidId("State", 0, out), 0);
    EXPECT_EQ(out, "State2");
    ASSERT_EQ(ids.MakeValidId("State", 3, out), 0);
    EXPECT_EQ(out, "State4");
    // A number appends its suffix even when the bare base would be free.
    ASSERT_EQ(ids.MakeValidId("Choice", 7, out), 0);
    EXPECT_EQ(out, "Choice7");
}

TEST(MakeValidId, NegativeNumberPrefersBareBaseThenCountsFromZero) {
    QNL_idArray ids;
    std::string out;
    ASSERT_EQ(ids.MakeValidId("State", -1, out), 0);
    EXPECT_EQ(out, "State");
    ASSERT_EQ(ids.Add("State"), 0);
    ASSERT_EQ(ids.Add("State0"), 0);
    ASSERT_EQ(ids.MakeValidId("State", -3, out), 0);
    EXPECT_EQ(out, "State1");
    // Counting up through two billion negative suffixes must not be needed.
    ASSERT_EQ(ids.MakeValidId("State", INT_MIN, out), 0);
    EXPECT_EQ(out, "State1");
}

TEST(MakeValidId, RepairsBaseAndStandsInXForNoBase) {
    QNL_idArray ids;
    std::string out;
    ASSERT_EQ(ids.MakeValidId(nullptr, -1, out), 0);
    EXPECT_EQ(out, "x");
    ASSERT_EQ(ids.MakeValidId("", 3, out), 0);
    EXPECT_EQ(out, "x3");
    ASSERT_EQ(ids.MakeValidId("1b-c", -1, out), 0);
    EXPECT_EQ(out, "x1b_c");
}

TEST(MakeValidId, SuffixBeyondIntRangeDoesNotWrap) {
    QNL_idArray ids;
    ASSERT_EQ(ids.Add("a2147483647"), 0);
    std::string out;
    ASSERT_EQ(ids.MakeValidId("a", INT_MAX, out), 0);
    EXPECT_EQ(out, "a2147483648");
}

TEST(MakeValidId, IgnoresEntriesBeyondTheCount) {
    QNL_idArray ids;
    ASSERT_EQ(ids.SetSize(4), 0);
    ASSERT_EQ(ids.SetString(2, "State0"), 0);
    std::string out;
    ASSERT_EQ(ids.MakeValidId("State", 0, out), 0);
    EXPECT_EQ(out, "State0");
}

TEST(MakeValidId, LongOddBaseGetsRepairedAndNumbered) {
    const std::string base = "9" + OddText(9999, 3);
    QNL_idArray ids;
    std::string first;
    ASSERT_EQ(ids.MakeValidId(base.c_str(), 0, first), 0);
    ASSERT_EQ(first.size(), 10002u); // 'x' in front, suffix "0"
    EXPECT_EQ(IsValidId(first.c_str()), 1);
    ASSERT_EQ(ids.Add(first.c_str()), 0);
    std::string second;
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
            if ((seed >> 16) % 3 != 0) {
                taken.insert(k);
                ASSERT_EQ(ids.Add(("s" + std::to_string(k)).c_str()), 0);
            }
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
    EXPECT_EQ(Items(ids), (std::vector<std::string>{"State2", "State0", "State1"}));
    EXPECT_EQ(ids.InsertDefault("State", 0, 5), -2);
}

// ---------------------------------------------------------------------------------------
// MakeAllIdsValid

TEST(MakeAllIdsValid, DuplicatesAreNumberedFromTwo) {
    QNL_idArray ids = RawIds({"a", "a", "a"});
    ASSERT_EQ(ids.MakeAllIdsValid(), 0);
    EXPECT_EQ(Items(ids), (std::vector<std::string>{"a", "a2", "a3"}));
    EXPECT_EQ(ids.CheckReadiness(), 0);
}

TEST(MakeAllIdsValid, RepairsInvalidTextsBeforeNumberingThem) {
    QNL_idArray ids = RawIds({"1b-c", "1b-c", "a", "", "ok", "a2", "a", nullptr});
    ASSERT_EQ(ids.MakeAllIdsValid(), 0);
    EXPECT_EQ(Items(ids),
              (std::vector<std::string>{"x1b_c", "x1b_c2", "a", "x2", "ok", "a2", "a3", "x3"}));
    EXPECT_EQ(ids.GetSize(), 10);
    EXPECT_EQ(ids.GetGrowth(), 10);
}

TEST(MakeAllIdsValid, KeepsRepeatedEmptyTextsWhenAllowed) {
    QNL_idArray ids = RawIds({"", "b", ""}, true);
    ASSERT_EQ(ids.MakeAllIdsValid(), 0);
    EXPECT_EQ(Items(ids), (std::vector<std::string>{"", "b", ""}));
    EXPECT_EQ(ids.CheckReadiness(), 0);
}

TEST(MakeAllIdsValid, LongDuplicatesBecomeDistinct) {
    const std::string odd = OddText(10000, 5);
    QNL_idArray ids = RawIds({odd.c_str(), odd.c_str()});
    ASSERT_EQ(ids.MakeAllIdsValid(), 0);
    ASSERT_EQ(ids.GetCount(), 2);
    const std::string first = ids.GetString(0);
    const std::string second = ids.GetString(1);
    EXPECT_EQ(second, first + "2");
    EXPECT_EQ(ids.CheckReadiness(), 0);
}

// Random texts from a small alphabet, so duplicates, bad first characters and empty texts
// all occur; checked item by item against what the rule demands.
TEST(MakeAllIdsValid, AlwaysEndsReadyAndKeepsWhatWasAlreadyFine) {
    std::uint32_t seed = 2024;
    const char alphabet[] = "ab1-_ ";
    for (int round = 0; round < 30; ++round) {
        std::vector<std::string> texts;
        QNL_stringArray raw;
        for (int i = 0; i < 40; ++i) {
            std::string text;
            seed = seed * 214013u + 2531011u;
            const int length = static_cast<int>((seed >> 16) % 4);
            for (int k = 0; k < length; ++k) {
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
            if (IsValidId(original.c_str()) && result != original) {
                EXPECT_TRUE(earlier.count(original)) << original << " renamed without cause";
            }
        }
    }
}

TEST(MakeAllIdsValid, RefusesInvalidArrayAndLeavesItAlone) {
    BreakableIds ids;
    ASSERT_EQ(ids.Add("a"), 0);
    ids.Break();
    EXPECT_EQ(ids.MakeAllIdsValid(), -567);
    EXPECT_EQ(Items(ids), (std::vector<std::string>{"a"}));
}

// ---------------------------------------------------------------------------------------
// Acceptability in the identifier array

TEST(IdArray, AllowEmptyAcceptsRepeatedEmptyTexts) {
    QNL_idArray withEmpty(true);
    EXPECT_EQ(withEmpty.Add(""), 0);
    EXPECT_EQ(withEmpty.Add(""), 0);
    EXPECT_EQ(withEmpty.Add("a"), 0);
    EXPECT_EQ(withEmpty.CheckReadiness(), 0);
    EXPECT_TRUE(withEmpty.IsReady());

    QNL_idArray without;
    EXPECT_EQ(without.Add(""), -2);
    EXPECT_EQ(without.AddEmpty(), 0); // the one way in, for callers that fill it in later
    EXPECT_EQ(without.GetCount(), 1);
    EXPECT_EQ(without.CheckReadiness(), -568);
    EXPECT_FALSE(without.IsReady());
}

TEST(IdArray, RefusesDuplicatesInvalidTextsAndNull) {
    QNL_idArray ids;
    ASSERT_EQ(ids.Add("a"), 0);
    EXPECT_EQ(ids.Add("a"), -2);
    EXPECT_EQ(ids.Insert(0, "a"), -2);
    EXPECT_EQ(ids.Add("1a"), -2);
    EXPECT_EQ(ids.Add(nullptr), -2);
    EXPECT_EQ(ids.Add("A"), 0); // case matters
    EXPECT_EQ(Items(ids), (std::vector<std::string>{"a", "A"}));
}

TEST(IdArray, SetStringComparesWithEveryItemButTheReplacedOne) {
    QNL_idArray ids;
    ASSERT_EQ(ids.Add("a"), 0);
    ASSERT_EQ(ids.Add("b"), 0);
    EXPECT_EQ(ids.SetString(0, "a"), 0);
    EXPECT_EQ(ids.SetString(0, "b"), -2);
    EXPECT_EQ(ids.SetString(1, "c"), 0);
    EXPECT_EQ(ids.SetString(1, "c d"), -2);
    EXPECT_EQ(Items(ids), (std::vector<std::string>{"a", "c"}));
}

TEST(IdArray, ReadinessFindsDuplicatesBroughtInByAssign) {
    QNL_idArray ids = RawIds({"a", "b", "a"});
    EXPECT_EQ(ids.CheckReadiness(), -568);
    ASSERT_EQ(ids.Delete(2), 0);
    EXPECT_EQ(ids.CheckReadiness(), 0);
}

TEST(IdArray, AssignAndCopyCarryTheAllowEmptyFlag) {
    QNL_idArray source(true);
    ASSERT_EQ(source.Add(""), 0);
    QNL_idArray target;
    ASSERT_EQ(target.Assign(source), 0);
    EXPECT_TRUE(target.AllowsEmpty());
    EXPECT_EQ(target.Add(""), 0);
    const QNL_idArray copy(source);
    EXPECT_TRUE(copy.AllowsEmpty());
    EXPECT_EQ(Items(copy), (std::vector<std::string>{""}));
}

// ---------------------------------------------------------------------------------------
// The string array

TEST(StringArray, EntriesBeyondCountAreReachableButNotItems) {
    QNL_stringArray array(4, 10);
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_EQ(array.GetString(4), nullptr);
    EXPECT_EQ(array.GetString(-1), nullptr);
    EXPECT_EQ(array.SetString(3, "late"), 0);
    EXPECT_STREQ(array.GetString(3), "late");
    EXPECT_EQ(array.SetString(4, "x"), -2);
    EXPECT_EQ(array.FindPosition("late"), -2);
    // Inserting at the count shifts over (and frees) what sat beyond it.
    ASSERT_EQ(array.Add("a"), 0);
    ASSERT_EQ(array.Add("b"), 0);
    ASSERT_EQ(array.Add("c"), 0);
    ASSERT_EQ(array.Insert(0, "z"), 0);
    EXPECT_EQ(Items(array), (std::vector<std::string>{"z", "a", "b", "c"}));
    EXPECT_EQ(array.GetSize(), 4);
}

TEST(StringArray, DeleteBeyondCountIsRefused) {
    QNL_stringArray array(5, 10);
    EXPECT_EQ(array.Delete(2), -2);
    EXPECT_EQ(array.Delete(0), -2);
    EXPECT_EQ(array.GetCount(), 0);
    ASSERT_EQ(array.Add("a"), 0);
    ASSERT_EQ(array.Add("b"), 0);
    EXPECT_EQ(array.Delete(2), -2);
    EXPECT_EQ(array.Delete(-1), -2);
    EXPECT_EQ(array.GetCount(), 2);
}

TEST(StringArray, DeleteShiftsItemsDownAndEmptiesTheVacatedEntry) {
    QNL_stringArray array = Strings({"a", "b", "c"});
    ASSERT_EQ(array.Delete(0), 0);
    EXPECT_EQ(Items(array), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(array.GetString(2), nullptr);
    ASSERT_EQ(array.Delete(1), 0);
    ASSERT_EQ(array.Delete(0), 0);
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_EQ(array.GetString(0), nullptr);
}

TEST(StringArray, GrowsByTheStepNotByDoubling) {
    QNL_stringArray stepThree(0, 3);
    std::vector<int> sizes;
    for (int i = 0; i < 7; ++i) {
        ASSERT_EQ(stepThree.Add(std::to_string(i).c_str()), 0);
        sizes.push_back(stepThree.GetSize());
    }
    EXPECT_EQ(sizes, (std::vector<int>{3, 3, 3, 6, 6, 6, 9}));
    for (int i = 0; i < 7; ++i)
        EXPECT_STREQ(stepThree.GetString(i), std::to_string(i).c_str());

    QNL_stringArray byDefault;
    for (int i = 0; i < 11; ++i)
        ASSERT_EQ(byDefault.Add("t"), 0);
    EXPECT_EQ(byDefault.GetSize(), 20);

    // A starting size must not cost the caller its growth step.
    QNL_stringArray sized(5, 3);
    EXPECT_EQ(sized.GetGrowth(), 3);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(sized.Add("t"), 0);
    EXPECT_EQ(sized.GetSize(), 8);
    EXPECT_EQ(QNL_stringArray(2, 0).GetGrowth(), 10);
}

TEST(StringArray, SetSizeKeepsTextsOnlyForTheSameSize) {
    QNL_stringArray array(0, 4);
    ASSERT_EQ(array.Add("a"), 0);
    ASSERT_EQ(array.SetSize(4), 0);
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_STREQ(array.GetString(0), "a");
    EXPECT_EQ(array.GetGrowth(), 4);
    ASSERT_EQ(array.SetSize(6), 0);
    EXPECT_EQ(array.GetString(0), nullptr);
    EXPECT_EQ(array.GetSize(), 6);
    EXPECT_EQ(array.GetGrowth(), 10);
    EXPECT_EQ(array.SetSize(-1), -2);
    EXPECT_EQ(array.GetSize(), 6);
    ASSERT_EQ(array.SetSize(0), 0);
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_TRUE(array.IsValid());
}

TEST(StringArray, FlushFreesTextsButKeepsTheTable) {
    QNL_stringArray array = Strings({"a", "b"});
    ASSERT_EQ(array.SetString(5, "beyond"), 0);
    array.Flush();
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_EQ(array.GetSize(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(array.GetString(i), nullptr);
    EXPECT_EQ(array.Add("c"), 0);
}

TEST(StringArray, FindPositionSeesOnlyItemsAndSkipsNulls) {
    QNL_stringArray array = Strings({nullptr, "a", "B", "a"});
    EXPECT_EQ(array.FindPosition("a"), 1);
    EXPECT_EQ(array.FindPosition("b"), -2);
    EXPECT_EQ(array.FindPosition(nullptr), -2);
    EXPECT_EQ(array.IsInList("B"), 1);
    EXPECT_EQ(array.IsInList(""), 0);
    EXPECT_EQ(QNL_stringArray().FindPosition("a"), -2);
    EXPECT_EQ(QNL_stringArray().IsInList("a"), 0);
}

TEST(StringArray, InsertChecksTheIndexAgainstTheCount) {
    QNL_stringArray array = Strings({"a", "b"});
    EXPECT_EQ(array.Insert(3, "x"), -2);
    EXPECT_EQ(array.Insert(-1, "x"), -2);
    ASSERT_EQ(array.Insert(2, "c"), 0);
    ASSERT_EQ(array.Insert(1, nullptr), 0);
    EXPECT_EQ(Items(array), (std::vector<std::string>{"a", kNull, "b", "c"}));
}

TEST(StringArray, ReorderMatchesEveryPermutation) {
    std::vector<int> order = {0, 1, 2, 3};
    const std::vector<std::string> texts = {"w", "x", "y", "z"};
    do {
        QNL_stringArray array = Strings({"w", "x", "y", "z"});
        QNL_intArray permutation;
        for (int index : order)
            permutation.Add(index);
        ASSERT_EQ(array.Reorder(permutation), 0);
        std::vector<std::string> expected;
        for (int index : order)
            expected.push_back(texts[static_cast<std::size_t>(index)]);
        EXPECT_EQ(Items(array), expected);
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST(StringArray, ReorderRefusesBadOrdersAndLeavesTheArrayAlone) {
    QNL_stringArray array = Strings({"a", "b", "c"});
    QNL_intArray repeated;
    for (int index : {0, 0, 2})
        repeated.Add(index);
    EXPECT_EQ(array.Reorder(repeated), -2);
    QNL_intArray outside;
    for (int index : {0, 3, 1})
        outside.Add(index);
    EXPECT_EQ(array.Reorder(outside), -2);
    QNL_intArray tooShort;
    tooShort.Add(0);
    EXPECT_EQ(array.Reorder(tooShort), -2);
    EXPECT_EQ(Items(array), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(QNL_stringArray().Reorder(QNL_intArray()), 0);
}

TEST(StringArray, ReorderOverTheWholeTableWhenTheOrderHasSizeEntries) {
    QNL_stringArray array(3, 10);
    ASSERT_EQ(array.Add("a"), 0);
    ASSERT_EQ(array.SetString(2, "c"), 0);
    QNL_intArray order;
    for (int index : {2, 0, 1})
        order.Add(index);
    ASSERT_EQ(array.Reorder(order), 0);
    EXPECT_STREQ(array.GetString(0), "c");
    EXPECT_STREQ(array.GetString(1), "a");
    EXPECT_EQ(array.GetString(2), nullptr);
    EXPECT_EQ(array.GetCount(), 1);
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
        EXPECT_EQ(Items(*copy), (std::vector<std::string>{"a", kNull}));
        EXPECT_STREQ(copy->GetString(2), "beyond");
        EXPECT_EQ(copy->GetSize(), 3);
        EXPECT_EQ(copy->GetGrowth(), 3);
    }
    EXPECT_EQ(assigned.Assign(assigned), 0);
    EXPECT_EQ(Items(assigned), (std::vector<std::string>{"a", kNull}));
}

TEST(StringArray, TextsTakenFromTheArrayItselfAreCopiedBeforeAnyChange) {
    QNL_stringArray array(0, 2);
    ASSERT_EQ(array.Add("first"), 0);
    ASSERT_EQ(array.Add("second"), 0);
    ASSERT_EQ(array.SetString(0, array.GetString(0)), 0);
    EXPECT_STREQ(array.GetString(0), "first");
    ASSERT_EQ(array.Insert(0, array.GetString(1)), 0); // grows while holding the text
    EXPECT_EQ(Items(array), (std::vector<std::string>{"second", "first", "second"}));

    QNL_idArray ids;
    ASSERT_EQ(ids.Add("State0"), 0);
    ASSERT_EQ(ids.AddDefault(ids.GetString(0), 0), 0);
    EXPECT_STREQ(ids.GetString(1), "State00");
}

TEST(StringArray, InvalidArrayRefusesEditsUntilResized) {
    BreakableStrings array;
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
    EXPECT_EQ(Items(target), (std::vector<std::string>{"kept"}));
    const QNL_stringArray copy(array);
    EXPECT_EQ(copy.GetCount(), 0);
    EXPECT_TRUE(copy.IsValid());

    ASSERT_EQ(array.SetSize(3), 0);
    EXPECT_TRUE(array.IsValid());
    EXPECT_EQ(array.Add("b"), 0);
}

} // namespace
