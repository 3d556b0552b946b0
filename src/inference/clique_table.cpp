#include "inference/clique_table.h"

#include <algorithm>
#include <new>

namespace quarn::detail {

bool CliqueTable::Resize(std::int64_t count) {
    if (count < 0) return false;
    if (count > capacity) {
        if (static_cast<std::uint64_t>(count) > SIZE_MAX / sizeof(double)) return false;
        double* fresh = new (std::nothrow) double[static_cast<std::size_t>(count)];
        if (!fresh) return false;
        cells.reset(fresh);
        capacity = count;
    }
    size = count;
    return true;
}

void CliqueTable::Free() {
    cells.reset();
    size = 0;
    capacity = 0;
}

void CliqueTable::Fill(double value) {
    std::fill(cells.get(), cells.get() + size, value);
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

// Calls run(largeOffset, length, smallOffset, smallStride) for every run of the innermost
// axis, large cells in linear order.
template <typename Run> inline void Walk(const Strides& strides, Run run) {
    if (strides.count == 0) {
        run(std::int64_t{0}, std::int64_t{1}, strides.start, std::int64_t{0});
        return;
    }
    const StrideAxis* axes = strides.axes;
    const std::int64_t length = axes[0].size;
    const std::int64_t step = axes[0].stride;
    std::int64_t counter[MAX_STRIDE_AXES] = {};
    std::int64_t large = 0;
    std::int64_t small = strides.start;
    for (;;) {
        run(large, length, small, step);
        large += length;
        int axis = 1;
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

} // namespace

void SetStrided(double* destination, const double* source, const Strides& strides) {
    Walk(strides, [&](std::int64_t at, std::int64_t n, std::int64_t from, std::int64_t step) {
        double* d = destination + at;
        const double* s = source + from;
        if (step == 1) {
            std::copy(s, s + n, d);
        } else {
            for (std::int64_t i = 0; i < n; ++i)
                d[i] = s[i * step];
        }
    });
}

void MultiplyStrided(double* destination, const double* source, const Strides& strides) {
    Walk(strides, [&](std::int64_t at, std::int64_t n, std::int64_t from, std::int64_t step) {
        double* d = destination + at;
        const double* s = source + from;
        if (step == 0) {
            const double factor = *s;
            for (std::int64_t i = 0; i < n; ++i)
                d[i] *= factor;
        } else {
            for (std::int64_t i = 0; i < n; ++i)
                d[i] *= s[i * step];
        }
    });
}

void DivideMultiplyStrided(double* destination, const double* old, const double* fresh,
                           const Strides& strides) {
    Walk(strides, [&](std::int64_t at, std::int64_t n, std::int64_t from, std::int64_t step) {
        double* d = destination + at;
        const double* o = old + from;
        const double* f = fresh + from;
        for (std::int64_t i = 0; i < n; ++i) {
            const double divisor = o[i * step];
            d[i] = divisor == 0.0 ? 0.0 : d[i] / divisor * f[i * step];
        }
    });
}

void AccumulateStrided(double* destination, const double* source, const Strides& strides) {
    Walk(strides, [&](std::int64_t at, std::int64_t n, std::int64_t to, std::int64_t step) {
        const double* s = source + at;
        double* d = destination + to;
        if (step == 0) {
            // Same additions in the same order as cell by cell, kept in a register.
            double sum = *d;
            for (std::int64_t i = 0; i < n; ++i)
                sum += s[i];
            *d = sum;
        } else {
            for (std::int64_t i = 0; i < n; ++i)
                d[i * step] += s[i];
        }
    });
}

void AccumulateScaled(double* destination, const double* source, double s, const Strides& strides) {
    const double factor = 1.0 / s;
    Walk(strides, [&](std::int64_t at, std::int64_t n, std::int64_t to, std::int64_t step) {
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

double SumTable(const double* cells, std::int64_t count) {
    double sum = 0.0;
    for (std::int64_t i = 0; i < count; ++i)
        sum += cells[i];
    return sum;
}

} // namespace quarn::detail

bool QNL_clique::HasMember(int record) const {
    return std::binary_search(members, members + memberCount, record);
}

QNL_clique& QNL_cliqueStore::Append() {
    cliques.emplace_back();
    return cliques.back();
}

void QNL_cliqueStore::LinkChildren() {
    const std::size_t count = cliques.size();
    childStart.assign(count + 1, 0);
    for (const QNL_clique& clique : cliques)
        if (clique.parent >= 0) ++childStart[static_cast<std::size_t>(clique.parent) + 1];
    for (std::size_t i = 0; i < count; ++i)
        childStart[i + 1] += childStart[i];
    children.assign(static_cast<std::size_t>(childStart[count]), 0);
    std::vector<int> next(childStart.begin(), childStart.end() - 1);
    for (std::size_t i = 0; i < count; ++i) {
        const int parent = cliques[i].parent;
        if (parent >= 0)
            children[static_cast<std::size_t>(next[static_cast<std::size_t>(parent)]++)] =
                static_cast<int>(i);
    }
}

void QNL_cliqueStore::Clear() {
    cliques.clear();
    cliques.shrink_to_fit();
    childStart.clear();
    children.clear();
}
