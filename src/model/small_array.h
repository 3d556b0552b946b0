#pragma once

// Internal: not part of the public interface.

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

namespace quarn::detail {

// How many entries a reorder by `order` covers: the items in use when the order is as long
// as the count, else every element when it is as long as the size. -2 when it is neither or
// when the order is not a permutation of 0..n-1.
template <typename Order>
int ReorderLength(const Order& order, int count, int size) {
    const int m = order.GetCount();
    if (m != count && m != size) return -2;
    const int n = m == count ? count : size;
    std::vector<char> seen(static_cast<std::size_t>(n), 0);
    for (int i = 0; i < n; ++i) {
        const int from = order[i];
        if (from < 0 || from >= n || seen[static_cast<std::size_t>(from)]) return -2;
        seen[static_cast<std::size_t>(from)] = 1;
    }
    return n;
}

// The storage and list logic shared by the library's integer and double arrays: a small
// inline buffer for short arrays, heap blocks above it. Storage decides where heap blocks
// come from and go to, and whether an empty array points at its inline buffer or at null.
//
// "size" is the capacity the array holds, "count" the items in use; vector-style callers
// SetSize(n) and index 0..n-1 with count left at 0.
template <typename T, int Inline, typename Storage>
class SmallArray {
public:
    SmallArray() : data(EmptyPointer()) {}
    SmallArray(const SmallArray& other) : data(EmptyPointer()) {
        if (Assign(other) != 0) throw std::bad_alloc();
    }
    SmallArray(SmallArray&& other) noexcept : data(EmptyPointer()) { Swap(other); }
    SmallArray& operator=(const SmallArray& other) {
        if (this != &other && Assign(other) != 0) throw std::bad_alloc();
        return *this;
    }
    SmallArray& operator=(SmallArray&& other) noexcept {
        if (this != &other) {
            CleanUp();
            Swap(other);
        }
        return *this;
    }
    ~SmallArray() { ReleaseHeap(); }

    int Assign(const SmallArray& source) {
        if (this == &source) return 0;
        int result = SetSize(source.size);
        if (result != 0) return result;
        std::copy(source.data, source.data + source.size, data);
        count = source.count;
        return 0;
    }

    bool operator==(const SmallArray& other) const {
        return size == other.size && count == other.count &&
               std::equal(data, data + size, other.data);
    }
    bool operator!=(const SmallArray& other) const { return !(*this == other); }

    T& operator[](int index) { return data[index]; }
    const T& operator[](int index) const { return data[index]; }
    T& Subscript(int index) { return data[index]; }
    const T& Subscript(int index) const { return data[index]; }

    T& LastElement() { return data[size - 1]; }
    T& LastItem() { return data[count - 1]; }

    int GetSize() const { return size; }
    int GetCount() const { return count; }
    T* Items() { return data; }
    const T* Items() const { return data; }

    // Declares the first n elements in use; used by callers that fill a vector by index.
    int SetCount(int n) {
        if (n < 0 || n > size) return -2;
        count = n;
        return 0;
    }

    int Add(T value) {
        if (count == size && Grow() != 0) return -42;
        data[count++] = value;
        return 0;
    }

    int Insert(int index, T value) {
        if (index < 0 || index > count) return -2;
        if (count == size && Grow() != 0) return -42;
        std::copy_backward(data + index, data + count, data + count + 1);
        data[index] = value;
        ++count;
        return 0;
    }

    // Only items in use can be deleted: an index at or beyond count is refused, so the
    // count never goes negative.
    int Delete(int index) {
        if (index < 0 || index >= count) return -2;
        std::copy(data + index + 1, data + count, data + index);
        --count;
        return 0;
    }

    int FindPosition(T value) const {
        for (int i = 0; i < count; ++i)
            if (data[i] == value) return i;
        return -2;
    }
    int IsInList(T value) const { return FindPosition(value) >= 0 ? 1 : 0; }
    int AddExclusive(T value) { return IsInList(value) ? -2 : Add(value); }
    int DeleteByContent(T value) {
        int position = FindPosition(value);
        return position < 0 ? -2 : Delete(position);
    }

    // Contents are not kept across a change of size; count becomes 0 in every case.
    int SetSize(int n) {
        if (n < 0) return -2;
        count = 0;
        if (n == size) return 0;
        ReleaseHeap();
        data = EmptyPointer();
        size = 0;
        if (n == 0) return 0;
        if (n <= Inline) {
            data = inlineBuffer;
        } else {
            T* block = Storage::Acquire(n);
            if (block == nullptr) return -42;
            data = block;
        }
        size = n;
        return 0;
    }

    int SetSizeAtLeast(int n) {
        if (n < 0) return -2;
        count = 0;
        return n <= size ? 0 : SetSize(n);
    }

    void CleanUp() {
        ReleaseHeap();
        data = EmptyPointer();
        size = 0;
        count = 0;
    }
    void Flush() { count = 0; }

    int FillWith(T value) {
        std::fill(data, data + size, value);
        return size;
    }

    int CopyPrefix(const SmallArray& source) {
        std::copy(source.data, source.data + std::min(size, source.size), data);
        return 0;
    }

    // New element i := old element order[i]. The order covers the items in use when its
    // count equals the count, else all elements when it equals the size.
    template <typename Order>
    int Reorder(const Order& order) {
        try {
            const int n = ReorderLength(order, count, size);
            if (n < 0) return n;
            std::vector<T> moved(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) moved[static_cast<std::size_t>(i)] = data[order[i]];
            std::copy(moved.begin(), moved.end(), data);
        } catch (const std::bad_alloc&) {
            return -42;
        }
        return 0;
    }

    // Exchanges contents without allocating: heap blocks change hands, inline contents are
    // copied into the receiving array's own inline buffer.
    void Swap(SmallArray& other) noexcept {
        if (this == &other) return;
        const bool mineOnHeap = OnHeap();
        const bool theirsOnHeap = other.OnHeap();
        if (mineOnHeap && theirsOnHeap) {
            std::swap(data, other.data);
        } else if (mineOnHeap) {
            T* block = data;
            std::copy(other.inlineBuffer, other.inlineBuffer + other.size, inlineBuffer);
            data = other.size == 0 ? EmptyPointer() : inlineBuffer;
            other.data = block;
        } else if (theirsOnHeap) {
            other.Swap(*this);
            return;
        } else {
            T buffer[Inline];
            std::copy(inlineBuffer, inlineBuffer + size, buffer);
            std::copy(other.inlineBuffer, other.inlineBuffer + other.size, inlineBuffer);
            std::copy(buffer, buffer + size, other.inlineBuffer);
            data = other.size == 0 ? EmptyPointer() : inlineBuffer;
            other.data = size == 0 ? other.EmptyPointer() : other.inlineBuffer;
        }
        std::swap(size, other.size);
        std::swap(count, other.count);
    }

protected:
    bool OnHeap() const { return data != nullptr && data != inlineBuffer; }

    T* EmptyPointer() { return Storage::kNullWhenEmpty ? nullptr : inlineBuffer; }

    void ReleaseHeap() {
        if (OnHeap()) Storage::Release(data, size);
    }

    // Twice the old size, or the inline capacity for an empty array; the array is unchanged
    // when no storage can be had.
    int Grow() {
        const long long wanted = size == 0 ? Inline : 2LL * size;
        if (wanted > 0x7FFFFFFF) return -42;
        const int newSize = static_cast<int>(wanted);
        T* target = inlineBuffer;
        if (newSize > Inline) {
            target = Storage::Acquire(newSize);
            if (target == nullptr) return -42;
        }
        if (target != data) std::copy(data, data + count, target);
        ReleaseHeap();
        data = target;
        size = newSize;
        return 0;
    }

    T inlineBuffer[Inline] = {};
    T* data;
    int size = 0;
    int count = 0;
};

} // namespace quarn::detail
