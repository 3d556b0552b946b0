#include "model/int_array.h"

#include <cstdlib>

namespace quarn::detail {

int* IntArrayStorage::Acquire(int n) {
    return static_cast<int*>(std::malloc(static_cast<std::size_t>(n) * sizeof(int)));
}

void IntArrayStorage::Release(int* block, int) { std::free(block); }

} // namespace quarn::detail
