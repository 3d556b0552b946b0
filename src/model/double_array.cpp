#include "model/double_array.h"

#include <algorithm>
#include <cstdlib>

namespace {

struct PoolEntry {
    int size;
    double* block;
};

// Released blocks are appended at "used" and never compacted; "first" skips the leading
// entries already taken, so a scan starts where blocks may still be.
struct BlockPool {
    int slots = 0;
    int first = 0;
    int used = 0;
    PoolEntry* entries = nullptr;
};

BlockPool pool;

double* HeapBlock(int n) {
    return static_cast<double*>(std::malloc(static_cast<std::size_t>(n) * sizeof(double)));
}

} // namespace

namespace quarn::detail {

double* DoubleArrayStorage::Acquire(int n) {
    if (pool.entries == nullptr) return HeapBlock(n);
    constexpr int kLargestReusable = 0xFFFFFFF;
    int best = -1;
    for (int i = pool.first; i < pool.used; ++i) {
        const PoolEntry& entry = pool.entries[i];
        if (entry.block == nullptr) continue;
        if (entry.size == n) {
            best = i;
            break;
        }
        if (entry.size > n && entry.size < kLargestReusable &&
            (best < 0 || entry.size < pool.entries[best].size))
            best = i;
    }
    if (best < 0) return HeapBlock(n);
    double* block = pool.entries[best].block;
    pool.entries[best].block = nullptr;
    if (best == pool.first) ++pool.first;
    return block;
}

void DoubleArrayStorage::Release(double* block, int size) {
    if (pool.entries != nullptr && pool.used < pool.slots) {
        pool.entries[pool.used++] = PoolEntry{size, block};
        return;
    }
    std::free(block);
}

} // namespace quarn::detail

int QNL_doubleArray::Extend(int n) {
    if (n <= size) return n < 0 ? -2 : 0;
    if (n <= 4 || !OnHeap()) {
        double* block = n <= 4 ? inlineBuffer : quarn::detail::DoubleArrayStorage::Acquire(n);
        if (block == nullptr) return -42;
        if (block != data) std::copy(data, data + size, block);
        ReleaseHeap();
        data = block;
    } else {
        // Pool blocks come from the heap too, so any heap block may be resized.
        void* block = std::realloc(data, static_cast<std::size_t>(n) * sizeof(double));
        if (block == nullptr) return -42;
        data = static_cast<double*>(block);
    }
    size = n;
    return 0;
}

void QNL_doubleArray::CreatePool(int slots) {
    if (slots <= 0 || pool.entries != nullptr) return;
    auto* entries =
        static_cast<PoolEntry*>(std::calloc(static_cast<std::size_t>(slots), sizeof(PoolEntry)));
    if (entries == nullptr) return; // without a pool every block simply uses the heap
    pool = BlockPool{slots, 0, 0, entries};
}

void QNL_doubleArray::DestroyPool() {
    if (pool.entries == nullptr) return;
    for (int i = 0; i < pool.used; ++i)
        std::free(pool.entries[i].block);
    std::free(pool.entries);
    pool = BlockPool{};
}

bool QNL_doubleArray::HasPool() {
    return pool.entries != nullptr;
}
