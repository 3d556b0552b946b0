#pragma once

#include "model/small_array.h"

namespace quarn::detail {
struct DoubleArrayStorage {
    static constexpr bool kNullWhenEmpty = true;
    // Allocation and release of the array's blocks.
    static double* Acquire(int n);
    static void Release(double* block, int size);
};
} // namespace quarn::detail

// The library's table of numbers (probabilities, utilities, weights, the values of a
// QNL_Dmatrix): up to 4 inline, larger blocks from the heap or, while one long computation
// runs, from a process-wide pool of released blocks. An empty array holds a null pointer.
class QNL_doubleArray
    : public quarn::detail::SmallArray<double, 4, quarn::detail::DoubleArrayStorage> {
public:
    using SmallArray::SmallArray;

    // Makes room for n items without changing the count.
    int Reserve(int n) { return SetSizeAtLeast(n); }
    // Grows the size to n keeping every value (the new ones uninitialised) and the count; a
    // heap block is resized where the allocator can, so growing one value at a time does not
    // copy the whole array each time. -42 with the array unchanged when no storage can be had.
    int Extend(int n);

    // The pool keeps released blocks for reuse by later arrays; it exists from CreatePool to
    // DestroyPool around one computation. A second CreatePool is ignored.
    static void CreatePool(int slots);
    static void DestroyPool();
    static bool HasPool();
};
