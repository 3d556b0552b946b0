#pragma once

#include "model/int_array.h"
#include "model/object.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The common base of the object-valued arrays: "size" entries are allocated, the first
// "count" of them are in use, and a full table grows by the growth step (never doubles).
class QNL_array : public QNL_object {
public:
    static constexpr int DEFAULT_GROWTH = 10;

    explicit QNL_array(int growthStep = DEFAULT_GROWTH);

    // Back to empty with the default growth step, then the derived class's consistency check.
    int CleanUp(int deep = 1) override;

    // Allocated size, number of items and the growth step.
    int GetSize() const { return size; }
    int GetCount() const { return count; }
    int GetGrowth() const { return growth; }

protected:
    // The rule every table-holding array follows: an empty array has no table, a non-empty
    // one holds exactly size entries with 0 <= count <= size; the growth step is positive.
    // Sets or clears the valid bit; returns 0 or -567.
    int ApplyTableRule(std::size_t tableLength);

    int size = 0;
    int count = 0;
    int growth = DEFAULT_GROWTH;
};

// Owned copies of texts; any entry may be null. Entries between count and size are reachable
// through GetString/SetString but are not items: list operations see only the first count.
// Text pointers handed out by GetString stay valid until that entry is replaced or freed.
class QNL_stringArray : public QNL_array {
public:
    QNL_stringArray();
    // A negative size leaves the array empty.
    QNL_stringArray(int initialSize, int growthStep);
    // An invalid source gives an empty array; running out of memory throws std::bad_alloc.
    QNL_stringArray(const QNL_stringArray& source);
    // Assign as an operator: an invalid source leaves this array as it was; running out of
    // memory throws std::bad_alloc (and also leaves it as it was).
    QNL_stringArray& operator=(const QNL_stringArray& source);
    ~QNL_stringArray() override = default;

    int CleanUp(int deep = 1) override;
    int CheckConsistency(int deep = 1) override;

    // Replaces, appends or inserts a copy of the text: 0, or a negative code.
    virtual int SetString(int index, const char* text);
    virtual int Add(const char* text);
    virtual int Insert(int index, const char* text);

    // Null for an index outside 0..size-1 or for a null entry.
    const char* GetString(int index) const;
    int Delete(int index);
    int FindPosition(const char* text) const;
    int IsInList(const char* text) const;
    int SetSize(int n);
    void Flush();
    int Assign(const QNL_stringArray& source);
    // New entry i := old entry order[i]; the order covers the count items when its count
    // equals the count, else all entries when it equals the size.
    int Reorder(const QNL_intArray& order);

protected:
    using Entry = std::unique_ptr<std::string>;

    // Copies text (null stays null); 0 or -42.
    static int CopyText(const char* text, Entry& copy);
    int Grow();
    void SwapContents(QNL_stringArray& other) noexcept;
    void ReleaseTable() noexcept;

    std::vector<Entry> table;
    // Counts every change of the items, so a derived index can tell it is out of date.
    std::uint64_t edits = 0;
};

// A string array whose items are valid identifiers, unique among the items in use; the
// empty text is also accepted (and may repeat) when allow-empty is set.
class QNL_idArray : public QNL_stringArray {
public:
    explicit QNL_idArray(bool allowEmpty = false);
    QNL_idArray(int initialSize, int growthStep, bool allowEmpty);
    QNL_idArray(const QNL_idArray& source);
    QNL_idArray& operator=(const QNL_idArray& source);
    ~QNL_idArray() override = default;

    // Not valid: -567; an item that is not acceptable beside the others: -568, ready bit clear.
    int CheckReadiness(int deep = 1) override;

    // -2 unless the text is acceptable, else as in the string array.
    int SetString(int index, const char* text) override;
    int Add(const char* text) override;
    int Insert(int index, const char* text) override;

    // Appends an empty text whatever the allow-empty flag says.
    int AddEmpty();

    // True when the text may join the array (a valid identifier, not yet there).
    bool IsAcceptable(const char* text) const { return IsAcceptableAt(text, -1); }
    // As IsAcceptable, but the item at index is not compared (the one being replaced).
    bool IsAcceptableAt(const char* text, int index) const;

    // The first acceptable identifier made of the repaired base (or "x") and a decimal
    // suffix counted up from number; a negative number means: the repaired base alone when
    // acceptable, else suffixes from 0. Returns 0, or -42 when out of memory.
    int MakeValidId(const char* base, int number, std::string& out) const;
    int AddDefault(const char* base, int number);
    int InsertDefault(const char* base, int number, int index);
    // Re-adds every item: as it is, else repaired, else repaired with a suffix from 2.
    // Leaves the array unchanged on failure.
    int MakeAllIdsValid();

    // From an identifier array the allow-empty flag comes along; from a plain string array
    // only the texts, unchecked (MakeAllIdsValid or CheckReadiness sort them out).
    int Assign(const QNL_idArray& source);
    using QNL_stringArray::Assign;
    bool AllowsEmpty() const { return allowEmpty; }

private:
    using Uses = std::unordered_map<std::string_view, int>;

    // The number of items bearing each text, kept up to date by Insert and SetString and
    // rebuilt after any other change; checking an identifier against it costs the same
    // whatever the count. Views point into the owned texts, which never move.
    const Uses& Index() const;
    // Small arrays are scanned: building the index would cost more than it saves.
    bool Indexed() const { return count > kScanLimit; }
    static constexpr int kScanLimit = 16;

    bool allowEmpty = false;
    mutable Uses uses;
    mutable std::uint64_t indexedAt = ~std::uint64_t{0};
};

// 1 when text is a letter followed by letters, digits or '_' (ASCII only), else 0.
int IsValidId(const char* text);
// In place: a first character that is not a letter becomes 'x', every later character that
// is not a letter, digit or '_' becomes '_'. -2 for null or empty text, else 0.
int SanitizeId(char* text);
int SanitizeId(std::string& text);

namespace quarn::detail {
// The identifier repair of the identifier array: like SanitizeId, but a first character
// that is not a letter gets an 'x' put in front instead of being replaced, so no character
// of the text is lost. An empty text stays empty.
void RepairId(std::string& text);
} // namespace quarn::detail
