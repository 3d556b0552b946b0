#include "inference/clique_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <new>
#include <type_traits>
#include <utility>

#include <sys/mman.h>

namespace quarn::detail {

namespace {

// A table of this size or more is a mapping of its own, whose pages the kernel hands out on
// first touch. Asking for all of them at once spares a fault per page; asking for huge pages
// does not pay here: a fresh process's first build then waits for the host to back memory the
// machine never touched (link: 1.8-3.7 s against 1.4-1.6 s, see bench/README.md).
constexpr std::size_t kMapped = std::size_t(2) << 20;
constexpr std::size_t kPage = 4096;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulate = MADV_POPULATE_WRITE;
#else
constexpr int kPopulate = 23; // older headers; the kernel refuses it where unknown
#endif

double* Allocate(std::int64_t cells) {
    if (cells <= 0) cells = 1;
    if (static_cast<std::uint64_t>(cells) > SIZE_MAX / sizeof(double)) return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(cells) * sizeof(double);
    if (bytes < kMapped) return static_cast<double*>(std::malloc(bytes));
    void* memory = nullptr;
    if (posix_memalign(&memory, kPage, bytes) != 0) return nullptr;
    // Where the kernel refuses, the pages come on first touch as usual.
    madvise(memory, bytes, kPopulate);
    return static_cast<double*>(memory);
}

} // namespace

thread_local TablePool* TablePool::active = nullptr;

double* TablePool::Take(std::int64_t cells, std::int64_t& capacity) {
    const auto at = free.lower_bound(cells);
    // Far larger storage would sit mostly unused under a small table.
    if (at == free.end() || at->first > 2 * cells + 4096) return nullptr;
    double* taken = at->second;
    capacity = at->first;
    held -= static_cast<std::uint64_t>(capacity);
    free.erase(at);
    return taken;
}

void TablePool::Give(double* cells, std::int64_t capacity) {
    if (cells == nullptr) return;
    if (capacity <= 0 || held + static_cast<std::uint64_t>(capacity) > limit) {
        std::free(cells);
        return;
    }
    try {
        free.emplace(capacity, cells);
    } catch (const std::exception&) {
        std::free(cells);
        return;
    }
    held += static_cast<std::uint64_t>(capacity);
}

void TablePool::Release() {
    for (const auto& entry : free)
        std::free(entry.second);
    free.clear();
    held = 0;
}

void TablePool::SetLimit(std::uint64_t cells) {
    limit = cells;
    Trim();
}

// The largest go first: they are the ones a limit is about.
void TablePool::Trim() {
    while (held > limit && !free.empty()) {
        const auto largest = std::prev(free.end());
        held -= static_cast<std::uint64_t>(largest->first);
        std::free(largest->second);
        free.erase(largest);
    }
}

CliqueTable& CliqueTable::operator=(CliqueTable&& other) noexcept {
    if (this == &other) return *this;
    Free();
    cells = std::exchange(other.cells, nullptr);
    size = std::exchange(other.size, 0);
    capacity = std::exchange(other.capacity, 0);
    return *this;
}

bool CliqueTable::Resize(std::int64_t count) {
    if (count < 0) return false;
    if (count > capacity) {
        TablePool* pool = TablePool::Active();
        std::int64_t had = 0;
        double* fresh = pool != nullptr ? pool->Take(count, had) : nullptr;
        if (fresh == nullptr) {
            fresh = Allocate(count);
            had = count;
        }
        if (fresh == nullptr) return false;
        Free();
        cells = fresh;
        capacity = had;
    }
    size = count;
    return true;
}

void CliqueTable::Free() {
    if (cells != nullptr) {
        if (TablePool* pool = TablePool::Active())
            pool->Give(cells, capacity);
        else
            std::free(cells);
    }
    cells = nullptr;
    size = 0;
    capacity = 0;
}

void CliqueTable::Fill(double value) {
    std::fill(cells, cells + size, value);
}

int BuildStrideAxes(const std::int64_t* sizes, const std::int64_t* smallStrides, int axes,
                    StrideAxis* out) {
    int count = 0;
    for (int axis = axes - 1; axis >= 0; --axis) {
        if (sizes[axis] == 1) continue;
        if (count > 0) {
            StrideAxis& inner = out[count - 1];
            if (smallStrides[axis] == inner.stride * inner.size) {
                inner.size *= sizes[axis];
                continue;
            }
        }
        out[count++] = StrideAxis{sizes[axis], smallStrides[axis]};
    }
    return count;
}

namespace {

template <std::int64_t N> using Fixed = std::integral_constant<std::int64_t, N>;

// Calls run(largeOffset, smallOffset) for every run of the innermost axis, large cells in
// linear order. The second axis is stepped in a plain loop: on tables with short innermost
// runs it carries nearly every step, and the odometer is only consulted at its wrap.
template <typename Run> inline void WalkRuns(const Strides& strides, Run run) {
    const StrideAxis* axes = strides.axes;
    const std::int64_t length = axes[0].size;
    if (strides.count == 1) {
        run(std::int64_t{0}, strides.start);
        return;
    }
    const std::int64_t outerSize = axes[1].size;
    const std::int64_t outerStride = axes[1].stride;
    std::int64_t counter[MAX_STRIDE_AXES] = {};
    std::int64_t large = 0;
    std::int64_t small = strides.start;
    for (;;) {
        for (std::int64_t j = 0; j < outerSize; ++j) {
            run(large, small);
            large += length;
            small += outerStride;
        }
        small -= outerStride * outerSize;
        int axis = 2;
        for (; axis < strides.count; ++axis) {
            if (++counter[axis] < axes[axis].size) {
                small += axes[axis].stride;
                break;
            }
            counter[axis] = 0;
            small -= axes[axis].stride * (axes[axis].size - 1);
        }
        if (axis == strides.count) return;
    }
}

template <typename Run, typename Length>
inline void WalkStep(const Strides& strides, Run run, Length length) {
    const std::int64_t step = strides.axes[0].stride;
    if (step == 0)
        WalkRuns(strides,
                 [&](std::int64_t at, std::int64_t from) { run(at, length, from, Fixed<0>{}); });
    else if (step == 1)
        WalkRuns(strides,
                 [&](std::int64_t at, std::int64_t from) { run(at, length, from, Fixed<1>{}); });
    else
        WalkRuns(strides, [&](std::int64_t at, std::int64_t from) { run(at, length, from, step); });
}

// Calls run(largeOffset, length, smallOffset, smallStride) for every run of the innermost
// axis, large cells in linear order. Short runs and the common strides come as compile-time
// constants so that each run is a few straight-line cells rather than a loop.
template <typename Run> inline void Walk(const Strides& strides, Run run) {
    if (strides.count == 0) {
        run(std::int64_t{0}, Fixed<1>{}, strides.start, Fixed<0>{});
        return;
    }
    switch (strides.axes[0].size) {
    case 2:
        return WalkStep(strides, run, Fixed<2>{});
    case 3:
        return WalkStep(strides, run, Fixed<3>{});
    case 4:
        return WalkStep(strides, run, Fixed<4>{});
    case 5:
        return WalkStep(strides, run, Fixed<5>{});
    case 6:
        return WalkStep(strides, run, Fixed<6>{});
    case 7:
        return WalkStep(strides, run, Fixed<7>{});
    case 8:
        return WalkStep(strides, run, Fixed<8>{});
    default:
        return WalkStep(strides, run, strides.axes[0].size);
    }
}

// The walks, over cells of doubles or of wide cells: the same operations in the same order.
template <typename D, typename S>
void SetCells(D* destination, const S* source, const Strides& strides) {
    Walk(strides, [&](std::int64_t at, auto length, std::int64_t from, auto step) {
        const std::int64_t n = length;
        D* d = destination + at;
        const S* s = source + from;
        for (std::int64_t i = 0; i < n; ++i)
            d[i] = D(s[i * step]);
    });
}

template <typename D, typename S>
void MultiplyCells(D* destination, const S* source, const Strides& strides) {
    Walk(strides, [&](std::int64_t at, auto length, std::int64_t from, auto step) {
        const std::int64_t n = length;
        D* d = destination + at;
        const S* s = source + from;
        if constexpr (std::is_same_v<decltype(step), Fixed<0>>) {
            const S factor = *s;
            for (std::int64_t i = 0; i < n; ++i)
                d[i] *= factor;
        } else {
            for (std::int64_t i = 0; i < n; ++i)
                d[i] *= s[i * step];
        }
    });
}

template <typename D>
void DivideMultiplyCells(D* destination, const D* old, const D* fresh, const Strides& strides) {
    Walk(strides, [&](std::int64_t at, auto length, std::int64_t from, auto step) {
        const std::int64_t n = length;
        D* d = destination + at;
        const D* o = old + from;
        const D* f = fresh + from;
        if constexpr (std::is_same_v<decltype(step), Fixed<0>>) {
            const D divisor = *o;
            const D factor = *f;
            if (IsZero(divisor)) {
                for (std::int64_t i = 0; i < n; ++i)
                    d[i] = D(0.0);
            } else {
                for (std::int64_t i = 0; i < n; ++i)
                    d[i] = d[i] / divisor * factor;
            }
            return;
        }
        for (std::int64_t i = 0; i < n; ++i) {
            const D divisor = o[i * step];
            d[i] = IsZero(divisor) ? D(0.0) : d[i] / divisor * f[i * step];
        }
    });
}

template <typename D>
void AccumulateCells(D* destination, const D* source, const Strides& strides) {
    Walk(strides, [&](std::int64_t at, auto length, std::int64_t to, auto step) {
        const std::int64_t n = length;
        const D* s = source + at;
        D* d = destination + to;
        if constexpr (std::is_same_v<decltype(step), Fixed<0>>) {
            // Same additions in the same order as cell by cell, kept in a register.
            D sum = *d;
            for (std::int64_t i = 0; i < n; ++i)
                sum += s[i];
            *d = sum;
        } else {
            for (std::int64_t i = 0; i < n; ++i)
                d[i * step] += s[i];
        }
    });
}

} // namespace

void SetStrided(double* destination, const double* source, const Strides& strides) {
    SetCells(destination, source, strides);
}

void MultiplyStrided(double* destination, const double* source, const Strides& strides) {
    MultiplyCells(destination, source, strides);
}

void DivideMultiplyStrided(double* destination, const double* old, const double* fresh,
                           const Strides& strides) {
    DivideMultiplyCells(destination, old, fresh, strides);
}

void AccumulateStrided(double* destination, const double* source, const Strides& strides) {
    AccumulateCells(destination, source, strides);
}

void AccumulateScaled(double* destination, const double* source, double s, const Strides& strides) {
    const double factor = 1.0 / s;
    Walk(strides, [&](std::int64_t at, auto length, std::int64_t to, auto step) {
        const std::int64_t n = length;
        const double* from = source + at;
        double* d = destination + to;
        for (std::int64_t i = 0; i < n; ++i)
            d[i * step] += from[i] * factor;
    });
}

void MarginalizeInto(double* destination, std::int64_t destinationCells, const double* source,
                     const Strides& strides) {
    std::fill(destination, destination + destinationCells, 0.0);
    AccumulateStrided(destination, source, strides);
}

void SetStrided(WideCell* destination, const double* source, const Strides& strides) {
    SetCells(destination, source, strides);
}

void SetStrided(WideCell* destination, const WideCell* source, const Strides& strides) {
    SetCells(destination, source, strides);
}

void MultiplyStrided(WideCell* destination, const double* source, const Strides& strides) {
    MultiplyCells(destination, source, strides);
}

void MultiplyStrided(WideCell* destination, const WideCell* source, const Strides& strides) {
    MultiplyCells(destination, source, strides);
}

void DivideMultiplyStrided(WideCell* destination, const WideCell* old, const WideCell* fresh,
                           const Strides& strides) {
    DivideMultiplyCells(destination, old, fresh, strides);
}

void AccumulateStrided(WideCell* destination, const WideCell* source, const Strides& strides) {
    AccumulateCells(destination, source, strides);
}

void MarginalizeInto(WideCell* destination, std::int64_t destinationCells, const WideCell* source,
                     const Strides& strides) {
    std::fill(destination, destination + destinationCells, WideCell(0.0));
    AccumulateStrided(destination, source, strides);
}

WideCell SumTable(const WideCell* cells, std::int64_t count) {
    WideCell sum(0.0);
    for (std::int64_t i = 0; i < count; ++i)
        sum += cells[i];
    return sum;
}

bool ToDoubles(const WideCell* cells, std::int64_t count, double* out) {
    std::int64_t top = 0;
    bool any = false;
    for (std::int64_t i = 0; i < count; ++i) {
        if (cells[i].IsZero()) continue;
        top = any ? std::max(top, cells[i].Magnitude()) : cells[i].Magnitude();
        any = true;
    }
    for (std::int64_t i = 0; i < count; ++i)
        out[i] = cells[i].Shifted(-top);
    return any;
}

double SumTable(const double* cells, std::int64_t count) {
    double sum = 0.0;
    for (std::int64_t i = 0; i < count; ++i)
        sum += cells[i];
    return sum;
}

void ScaleByPowerOfTwo(double* cells, std::int64_t count, std::int64_t shift) {
    // In steps that a double can hold; a step beyond +-1000 only follows a total that was
    // already subnormal or near the top of the range.
    while (shift != 0) {
        const std::int64_t step =
            std::max<std::int64_t>(-1000, std::min<std::int64_t>(1000, shift));
        const double factor = std::ldexp(1.0, static_cast<int>(step));
        for (std::int64_t i = 0; i < count; ++i)
            cells[i] *= factor;
        shift -= step;
    }
}

void ScaledValue::Add(const ScaledValue& other) {
    if (other.mantissa == 0.0) return;
    if (mantissa == 0.0) {
        *this = other;
        return;
    }
    // The smaller power is brought to the larger; beyond 2,200 powers of two apart the smaller
    // cannot change a digit of the sum.
    const std::int64_t gap = other.exponent - exponent;
    if (gap > 0) {
        mantissa =
            other.mantissa + (gap > 2200 ? 0.0 : std::ldexp(mantissa, static_cast<int>(-gap)));
        exponent = other.exponent;
    } else if (gap < 0) {
        mantissa += gap < -2200 ? 0.0 : std::ldexp(other.mantissa, static_cast<int>(gap));
    } else {
        mantissa += other.mantissa;
    }
    Normalise();
}

double ScaledValue::Value() const {
    // Beyond these the result is 0 or infinite whatever the mantissa.
    const std::int64_t e = std::max<std::int64_t>(-4000, std::min<std::int64_t>(4000, exponent));
    return std::ldexp(mantissa, static_cast<int>(e));
}

double ScaledValue::Log10() const {
    if (mantissa == 0.0) return -HUGE_VAL;
    return std::log10(mantissa) + static_cast<double>(exponent) * 0.30102999566398119521;
}

double ScaledValue::Log() const {
    if (mantissa == 0.0) return -HUGE_VAL;
    const double log = std::log(mantissa);
    return exponent == 0 ? log : log + static_cast<double>(exponent) * 0.69314718055994530942;
}

} // namespace quarn::detail

bool QNL_clique::HasMember(int record) const {
    return std::binary_search(members, members + memberCount, record);
}

QNL_clique& QNL_cliqueStore::Append() {
    if (static_cast<std::size_t>(count) == cliques.size()) {
        cliques.emplace_back();
        return cliques[static_cast<std::size_t>(count++)];
    }
    QNL_clique& clique = cliques[static_cast<std::size_t>(count++)];
    // What a new clique starts with; the lists are read only up to their counts, and the
    // tables keep their storage.
    clique.memberCount = 0;
    clique.separatorCount = 0;
    clique.creator = -1;
    clique.weight = 0;
    clique.parent = -1;
    clique.assignedCount = 0;
    clique.toSeparatorFirst = 0;
    clique.toSeparatorCount = 0;
    clique.parentToSeparatorFirst = 0;
    clique.parentToSeparatorCount = 0;
    clique.built = false;
    clique.scale = 0;
    clique.separatorShift = 0;
    clique.received = quarn::detail::MessageCount();
    clique.potential.Resize(0);
    clique.separatorTable.Resize(0);
    clique.widePotential.clear();
    clique.wideSeparator.clear();
    return clique;
}

void QNL_cliqueStore::LinkChildren() {
    const std::size_t used = static_cast<std::size_t>(count);
    childStart.assign(used + 1, 0);
    for (std::size_t i = 0; i < used; ++i)
        if (cliques[i].parent >= 0) ++childStart[static_cast<std::size_t>(cliques[i].parent) + 1];
    for (std::size_t i = 0; i < used; ++i)
        childStart[i + 1] += childStart[i];
    children.assign(static_cast<std::size_t>(childStart[used]), 0);
    std::vector<int>& next = nextChild;
    next.assign(childStart.begin(), childStart.end() - 1);
    for (std::size_t i = 0; i < used; ++i) {
        const int parent = cliques[i].parent;
        if (parent >= 0)
            children[static_cast<std::size_t>(next[static_cast<std::size_t>(parent)]++)] =
                static_cast<int>(i);
    }
}

void QNL_cliqueStore::Clear() {
    count = 0;
    cliques.clear();
    cliques.shrink_to_fit();
    childStart.clear();
    children.clear();
}
