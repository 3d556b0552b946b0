#pragma once

#include "model/small_array.h"

namespace quarn::detail {
struct IntArrayStorage {
    static constexpr bool kNullWhenEmpty = false;
    // Allocation of the array's blocks.
    static int* Acquire(int n);
    static void Release(int* block, int size);
};
} // namespace quarn::detail

// The library's list of integers (node handles, orders, permutations, coordinates): up to
// 8 items live inline, so short lists never touch the heap. A plain value type.
class QNL_intArray : public quarn::detail::SmallArray<int, 8, quarn::detail::IntArrayStorage> {
public:
    using SmallArray::SmallArray;
};
