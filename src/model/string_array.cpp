#include "model/string_array.h"

#include <charconv>
#include <climits>
#include <new>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// ASCII only: the library keeps the default locale and identifiers must not depend on it.
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsIdChar(char c) {
    return IsLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

// ---------------------------------------------------------------------------------------
// QNL_array

QNL_array::QNL_array(int growthStep) {
    status = STATUS_READY;
    growth = growthStep > 0 ? growthStep : DEFAULT_GROWTH;
    size = 0;
    count = 0;
    status = STATUS_READY | STATUS_VALID;
}

int QNL_array::CleanUp(int deep) {
    size = 0;
    count = 0;
    growth = DEFAULT_GROWTH;
    status |= STATUS_VALID;
    return CheckConsistency(deep);
}

int QNL_array::ApplyTableRule(std::size_t tableLength) {
    const bool consistent =
        growth >= 1 && tableLength == static_cast<std::size_t>(size < 0 ? 0 : size) &&
        ((size == 0 && count == 0) || (size > 0 && count >= 0 && count <= size));
    if (consistent) {
        status |= STATUS_VALID;
        return 0;
    }
    status &= ~STATUS_VALID;
    return -567;
}

// ---------------------------------------------------------------------------------------
// QNL_stringArray

QNL_stringArray::QNL_stringArray() : QNL_array(DEFAULT_GROWTH) {}

QNL_stringArray::QNL_stringArray(int initialSize, int growthStep) : QNL_array(growthStep) {
    SetSize(initialSize);
    // A size change falls back to the default step; the caller asked for its own.
    growth = growthStep > 0 ? growthStep : DEFAULT_GROWTH;
    ApplyTableRule(table.size());
}

QNL_stringArray::QNL_stringArray(const QNL_stringArray& source) : QNL_array(DEFAULT_GROWTH) {
    if (Assign(source) == -42) throw std::bad_alloc();
}

QNL_stringArray& QNL_stringArray::operator=(const QNL_stringArray& source) {
    if (Assign(source) == -42) throw std::bad_alloc();
    return *this;
}

int QNL_stringArray::CopyText(const char* text, Entry& copy) {
    if (text == nullptr) {
        copy.reset();
        return 0;
    }
    try {
        copy = std::make_unique<std::string>(text);
    } catch (const std::exception&) {
        return -42;
    }
    return 0;
}

void QNL_stringArray::ReleaseTable() noexcept {
    std::vector<Entry>().swap(table);
    ++edits;
}

void QNL_stringArray::SwapContents(QNL_stringArray& other) noexcept {
    table.swap(other.table);
    std::swap(size, other.size);
    std::swap(count, other.count);
    std::swap(growth, other.growth);
    ++edits;
    ++other.edits;
}

int QNL_stringArray::CleanUp(int deep) {
    ReleaseTable();
    return QNL_array::CleanUp(deep);
}

int QNL_stringArray::CheckConsistency(int) {
    return ApplyTableRule(table.size());
}

int QNL_stringArray::Grow() {
    if (!IsValid()) return -567;
    const long long newSize = static_cast<long long>(size) + growth;
    if (newSize > INT_MAX) return -42;
    try {
        table.resize(static_cast<std::size_t>(newSize));
    } catch (const std::exception&) {
        return -42;
    }
    size = static_cast<int>(newSize);
    return 0;
}

const char* QNL_stringArray::GetString(int index) const {
    if (index < 0 || index >= size || static_cast<std::size_t>(index) >= table.size())
        return nullptr;
    const Entry& entry = table[static_cast<std::size_t>(index)];
    return entry ? entry->c_str() : nullptr;
}

int QNL_stringArray::SetString(int index, const char* text) {
    if (!IsValid()) return -567;
    if (index < 0 || index >= size) return -2;
    // Copy before freeing: the text may be this very entry.
    Entry copy;
    if (CopyText(text, copy) != 0) return -42;
    table[static_cast<std::size_t>(index)] = std::move(copy);
    ++edits;
    return 0;
}

int QNL_stringArray::Add(const char* text) {
    return Insert(count, text);
}

int QNL_stringArray::Insert(int index, const char* text) {
    if (!IsValid()) return -567;
    if (index < 0 || index > count) return -2;
    Entry copy;
    if (CopyText(text, copy) != 0) return -42;
    if (count == size) {
        const int result = Grow();
        if (result != 0) return result;
    }
    // The entry at count is overwritten (and freed) by the shift.
    auto first = table.begin() + index;
    std::move_backward(first, table.begin() + count, table.begin() + count + 1);
    *first = std::move(copy);
    ++count;
    ++edits;
    return 0;
}

int QNL_stringArray::Delete(int index) {
    // Only items in use can be deleted, so the count never goes negative.
    if (!IsValid() || index < 0 || index >= count) return -2;
    auto position = table.begin() + index;
    position->reset();
    std::move(position + 1, table.begin() + count, position);
    --count;
    ++edits;
    return 0;
}

int QNL_stringArray::FindPosition(const char* text) const {
    if (!IsValid() || text == nullptr) return -2;
    for (int i = 0; i < count; ++i) {
        const Entry& entry = table[static_cast<std::size_t>(i)];
        if (entry && *entry == text) return i;
    }
    return -2;
}

int QNL_stringArray::IsInList(const char* text) const {
    return FindPosition(text) >= 0 ? 1 : 0;
}

int QNL_stringArray::SetSize(int n) {
    if (n < 0) return -2;
    if (!IsValid()) CleanUp(1);
    count = 0;
    ++edits;
    if (n == size) return 0;
    CleanUp(1);
    if (n == 0) return 0;
    try {
        table.resize(static_cast<std::size_t>(n));
    } catch (const std::exception&) {
        ReleaseTable();
        return -42;
    }
    size = n;
    return 0;
}

void QNL_stringArray::Flush() {
    for (Entry& entry : table)
        entry.reset();
    count = 0;
    ++edits;
}

int QNL_stringArray::Assign(const QNL_stringArray& source) {
    if (!source.IsValid()) return -567;
    if (this == &source) return 0;
    // Built aside and swapped in, so a copy that runs out of memory changes nothing.
    QNL_stringArray copy;
    try {
        copy.table.resize(source.table.size());
    } catch (const std::exception&) {
        return -42;
    }
    for (std::size_t i = 0; i < source.table.size(); ++i) {
        const Entry& entry = source.table[i];
        if (CopyText(entry ? entry->c_str() : nullptr, copy.table[i]) != 0) return -42;
    }
    copy.size = source.size;
    copy.count = source.count;
    copy.growth = source.growth;
    SwapContents(copy);
    status |= STATUS_VALID;
    return 0;
}

int QNL_stringArray::Reorder(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    try {
        const int n = quarn::detail::ReorderLength(order, count, size);
        if (n < 0) return n;
        // A permutation: moving the owned texts is the same as copying and freeing them.
        std::vector<Entry> moved(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            moved[static_cast<std::size_t>(i)] =
                std::move(table[static_cast<std::size_t>(order[i])]);
        std::move(moved.begin(), moved.end(), table.begin());
        ++edits;
    } catch (const std::exception&) {
        return -42;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// QNL_idArray

QNL_idArray::QNL_idArray(bool allowEmptyText) : allowEmpty(allowEmptyText) {}

QNL_idArray::QNL_idArray(int initialSize, int growthStep, bool allowEmptyText)
    : QNL_stringArray(initialSize, growthStep), allowEmpty(allowEmptyText) {}

QNL_idArray::QNL_idArray(const QNL_idArray& source)
    : QNL_stringArray(), allowEmpty(source.allowEmpty) {
    if (Assign(source) == -42) throw std::bad_alloc();
}

QNL_idArray& QNL_idArray::operator=(const QNL_idArray& source) {
    if (Assign(source) == -42) throw std::bad_alloc();
    return *this;
}

int QNL_idArray::Assign(const QNL_idArray& source) {
    const int result = QNL_stringArray::Assign(source);
    if (result == 0) allowEmpty = source.allowEmpty;
    return result;
}

const QNL_idArray::Uses& QNL_idArray::Index() const {
    if (indexedAt == edits) return uses;
    uses.clear();
    uses.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const Entry& entry = table[static_cast<std::size_t>(i)];
        if (entry) ++uses[*entry];
    }
    indexedAt = edits;
    return uses;
}

bool QNL_idArray::IsAcceptableAt(const char* text, int index) const {
    if (text == nullptr) return false;
    if (*text == '\0') return allowEmpty;
    if (!IsValidId(text)) return false;
    if (Indexed()) {
        try {
            const Uses& taken = Index();
            const auto at = taken.find(text);
            if (at == taken.end()) return true;
            // Borne by one item only: acceptable when that is the item being replaced.
            if (at->second > 1 || index < 0 || index >= count) return false;
            const Entry& replaced = table[static_cast<std::size_t>(index)];
            return replaced && *replaced == text;
        } catch (const std::exception&) {
            // No memory for the index: the items are scanned instead.
        }
    }
    for (int i = 0; i < count; ++i) {
        if (i == index) continue;
        const Entry& entry = table[static_cast<std::size_t>(i)];
        if (entry && *entry == text) return false;
    }
    return true;
}

int QNL_idArray::CheckReadiness(int) {
    if (!IsValid()) {
        status &= ~STATUS_READY;
        return -567;
    }
    bool ready = true;
    try {
        std::unordered_map<std::string_view, int> uses;
        for (int i = 0; i < count; ++i) {
            const Entry& entry = table[static_cast<std::size_t>(i)];
            if (entry) ++uses[*entry];
        }
        for (int i = 0; i < count && ready; ++i) {
            const Entry& entry = table[static_cast<std::size_t>(i)];
            if (!entry)
                ready = false;
            else if (entry->empty())
                ready = allowEmpty;
            else
                ready = IsValidId(entry->c_str()) && uses[*entry] == 1;
        }
    } catch (const std::exception&) {
        ready = false;
    }
    if (ready) {
        status |= STATUS_READY;
        return 0;
    }
    status &= ~STATUS_READY;
    return -568;
}

int QNL_idArray::SetString(int index, const char* text) {
    if (!IsAcceptableAt(text, index)) return -2;
    // The old text leaves the index while it still exists; a failed replacement leaves the
    // index out of date, to be rebuilt.
    const bool current = indexedAt == edits && index >= 0 && index < count;
    if (current) {
        const Entry& old = table[static_cast<std::size_t>(index)];
        if (old) {
            const auto at = uses.find(*old);
            if (--at->second == 0) uses.erase(at);
        }
    }
    const int result = QNL_stringArray::SetString(index, text);
    if (!current) return result;
    indexedAt = ~std::uint64_t{0};
    if (result != 0) return result;
    try {
        const Entry& fresh = table[static_cast<std::size_t>(index)];
        if (fresh) ++uses[*fresh];
        indexedAt = edits;
    } catch (const std::exception&) {
        // Out of date: rebuilt when next needed.
    }
    return result;
}

int QNL_idArray::Add(const char* text) {
    return Insert(count, text);
}

int QNL_idArray::Insert(int index, const char* text) {
    if (!IsAcceptable(text)) return -2;
    const bool current = indexedAt == edits;
    const int result = QNL_stringArray::Insert(index, text);
    if (result == 0 && current) {
        try {
            ++uses[*table[static_cast<std::size_t>(index)]];
            indexedAt = edits;
        } catch (const std::exception&) {
            // Out of date: rebuilt when next needed.
        }
    }
    return result;
}

int QNL_idArray::AddEmpty() {
    return QNL_stringArray::Insert(count, "");
}

int QNL_idArray::MakeValidId(const char* base, int number, std::string& out) const {
    try {
        out = (base != nullptr && *base != '\0') ? base : "x";
        quarn::detail::RepairId(out);
        if (number < 0 && IsAcceptable(out.c_str())) return 0;

        // The repaired text with any decimal suffix is a valid identifier, so only the
        // items can refuse it; at most count suffixes are taken.
        const Uses& taken = Index();
        const std::size_t stem = out.size();
        // A negative suffix carries a '-' and is never acceptable: counting up through them
        // would only lead to 0.
        long long suffix = number < 0 ? 0 : number;
        for (;;) {
            char digits[24];
            const auto written = std::to_chars(digits, digits + sizeof digits, suffix);
            out.resize(stem);
            out.append(digits, written.ptr);
            if (taken.find(out) == taken.end()) return 0;
            ++suffix;
        }
    } catch (const std::exception&) {
        return -42;
    }
}

int QNL_idArray::AddDefault(const char* base, int number) {
    std::string id;
    const int result = MakeValidId(base, number, id);
    return result != 0 ? result : Add(id.c_str());
}

int QNL_idArray::InsertDefault(const char* base, int number, int index) {
    std::string id;
    const int result = MakeValidId(base, number, id);
    return result != 0 ? result : Insert(index, id.c_str());
}

int QNL_idArray::MakeAllIdsValid() {
    if (!IsValid()) return -567;
    // Rebuilt in a fresh array (as this one would be after its clean-up) and swapped in
    // only when every item found a place, so a failure leaves the old items as they were.
    QNL_idArray rebuilt(allowEmpty);
    try {
        std::string repaired;
        std::string numbered;
        for (int i = 0; i < count; ++i) {
            const Entry& entry = table[static_cast<std::size_t>(i)];
            const char* text = entry ? entry->c_str() : nullptr;
            if (rebuilt.Add(text) == 0) continue;
            repaired = text != nullptr ? text : "";
            quarn::detail::RepairId(repaired);
            if (rebuilt.Add(repaired.c_str()) == 0) continue;
            int result = rebuilt.MakeValidId(repaired.c_str(), 2, numbered);
            if (result == 0) result = rebuilt.Add(numbered.c_str());
            if (result != 0) return result;
        }
    } catch (const std::exception&) {
        return -42;
    }
    SwapContents(rebuilt);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Identifier rule

int IsValidId(const char* text) {
    if (text == nullptr || !IsLetter(text[0])) return 0;
    for (const char* c = text + 1; *c != '\0'; ++c)
        if (!IsIdChar(*c)) return 0;
    return 1;
}

int SanitizeId(char* text) {
    if (text == nullptr || *text == '\0') return -2;
    if (!IsLetter(text[0])) text[0] = 'x';
    for (char* c = text + 1; *c != '\0'; ++c)
        if (!IsIdChar(*c)) *c = '_';
    return 0;
}

int SanitizeId(std::string& text) {
    if (text.empty()) return -2;
    if (!IsLetter(text[0])) text[0] = 'x';
    for (std::size_t i = 1; i < text.size(); ++i)
        if (!IsIdChar(text[i])) text[i] = '_';
    return 0;
}

namespace quarn::detail {

void RepairId(std::string& text) {
    if (text.empty()) return;
    if (!IsLetter(text[0])) text.insert(text.begin(), 'x');
    // The character that was first is now checked like the others, so "-a" becomes "x_a".
    for (std::size_t i = 1; i < text.size(); ++i)
        if (!IsIdChar(text[i])) text[i] = '_';
}

} // namespace quarn::detail
