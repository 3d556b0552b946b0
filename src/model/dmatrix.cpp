#include "model/dmatrix.h"

#include "model/error_handler.h"

#include <algorithm>
#include <climits>
#include <new>
#include <utility>
#include <vector>

namespace {

using quarn::detail::TableWalker;

constexpr const char* kBadDimension = "Matrix dimension out of range";
constexpr const char* kBadOutcome = "Matrix outcome out of range";
constexpr const char* kBadSize = "Matrix dimension size must be at least 1";
constexpr const char* kTooLarge = "Matrix too large: more than 2147483647 cells";
constexpr const char* kNoMemory = "Not enough memory for the matrix";

int Refuse(int code, const char* why) {
    return QNL_errorHandler::Instance().LogError(code, why);
}

// 0 when the first n items of order name every index 0..n-1 once. Short orders are checked
// with a bit mask so that reordering small tables touches no heap.
int CheckPermutation(const QNL_intArray& order, int n) {
    if (n <= 64) {
        std::uint64_t seen = 0;
        for (int i = 0; i < n; ++i) {
            const int from = order[i];
            if (from < 0 || from >= n || (seen >> from & 1u) != 0) return -2;
            seen |= std::uint64_t{1} << from;
        }
        return 0;
    }
    try {
        std::vector<char> seen(static_cast<std::size_t>(n), 0);
        for (int i = 0; i < n; ++i) {
            const int from = order[i];
            if (from < 0 || from >= n || seen[static_cast<std::size_t>(from)]) return -2;
            seen[static_cast<std::size_t>(from)] = 1;
        }
    } catch (const std::bad_alloc&) {
        return -42;
    }
    return 0;
}

} // namespace

QNL_Dmatrix::QNL_Dmatrix(const QNL_intArray& sizes) {
    for (int d = 0; d < sizes.GetCount(); ++d)
        if (sizes[d] < 1) return;
    Setup(sizes);
}

int QNL_Dmatrix::Assign(const QNL_Dmatrix& source) {
    if (this == &source) return 0;
    QNL_Dmatrix fresh;
    if (fresh.dimensions.Assign(source.dimensions) != 0 ||
        fresh.multipliers.Assign(source.multipliers) != 0 ||
        fresh.values.Assign(source.values) != 0)
        return Refuse(-42, kNoMemory);
    *this = std::move(fresh);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Shape

int QNL_Dmatrix::SetRank(int rank) {
    if (dimensions.SetSize(rank) != 0) return Refuse(-42, kNoMemory);
    dimensions.SetCount(rank);
    return 0;
}

// The product is formed in 64 bits and checked at every step, so no shape can wrap round
// to a small table that later code would index past.
int QNL_Dmatrix::FinishShape() {
    const int rank = dimensions.GetSize();
    std::int64_t total = rank > 0 ? 1 : 0;
    for (int d = 0; d < rank; ++d) {
        total *= dimensions[d];
        if (total > MAX_CELLS) return Refuse(-42, kTooLarge);
    }
    if (multipliers.SetSize(rank) != 0) return Refuse(-42, kNoMemory);
    multipliers.SetCount(rank);
    std::int64_t step = 1;
    for (int d = rank - 1; d >= 0; --d) {
        multipliers[d] = static_cast<int>(step);
        step *= dimensions[d];
    }
    if (values.SetSize(static_cast<int>(total)) != 0) return Refuse(-42, kNoMemory);
    return 0;
}

int QNL_Dmatrix::Setup(const QNL_intArray& sizes) {
    return Setup(sizes.Items(), sizes.GetCount());
}

int QNL_Dmatrix::Setup(const int* sizes, int count) {
    if (count < 0 || (count > 0 && sizes == nullptr))
        return Refuse(-2, "Matrix dimension count out of range");
    for (int d = 0; d < count; ++d)
        if (sizes[d] < 1) return Refuse(-2, kBadSize);
    QNL_Dmatrix fresh;
    if (count > 0) {
        if (int r = fresh.SetRank(count)) return r;
        std::copy(sizes, sizes + count, fresh.dimensions.Items());
        if (int r = fresh.FinishShape()) return r;
    }
    *this = std::move(fresh);
    return 0;
}

void QNL_Dmatrix::CleanUp() {
    dimensions.CleanUp();
    multipliers.CleanUp();
    values.CleanUp();
}

bool QNL_Dmatrix::SameShape(const QNL_Dmatrix& other) const {
    if (other.GetNumberOfDimensions() != GetNumberOfDimensions() ||
        other.values.GetSize() != values.GetSize())
        return false;
    for (int d = 0; d < GetNumberOfDimensions(); ++d)
        if (other.dimensions[d] != dimensions[d]) return false;
    return true;
}

int QNL_Dmatrix::SetDimensionSize(int dim, int size) {
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    if (size < 1) return Refuse(-2, kBadSize);
    if (dimensions[dim] == size) return 0;
    QNL_Dmatrix fresh;
    if (fresh.dimensions.Assign(dimensions) != 0) return Refuse(-42, kNoMemory);
    fresh.dimensions[dim] = size;
    if (int r = fresh.FinishShape()) return r;
    *this = std::move(fresh);
    return 0;
}

int QNL_Dmatrix::InsertDimension(int position, int size) {
    const int rank = GetNumberOfDimensions();
    if (position < 0 || position > rank) return Refuse(-2, kBadDimension);
    if (size < 1) return Refuse(-2, kBadSize);
    if (rank == 0) return Setup(&size, 1);
    QNL_Dmatrix fresh;
    if (int r = fresh.SetRank(rank + 1)) return r;
    for (int d = 0; d < rank; ++d)
        fresh.dimensions[d < position ? d : d + 1] = dimensions[d];
    fresh.dimensions[position] = size;
    if (int r = fresh.FinishShape()) return r;

    // Every old (outer, inner) run is written size times, once per new outcome.
    const std::int64_t inner =
        position < rank ? std::int64_t{multipliers[position]} * dimensions[position] : 1;
    const std::int64_t outer = values.GetSize() / inner;
    const double* source = values.Items();
    double* target = fresh.values.Items();
    for (std::int64_t o = 0; o < outer; ++o)
        for (int k = 0; k < size; ++k)
            std::copy(source + o * inner, source + (o + 1) * inner,
                      target + (o * size + k) * inner);
    *this = std::move(fresh);
    return 0;
}

int QNL_Dmatrix::BuildSlice(int dim, int outcome, QNL_Dmatrix& fresh) const {
    const int rank = GetNumberOfDimensions();
    if (rank == 1) return 0; // the only dimension goes: nothing is left
    if (int r = fresh.SetRank(rank - 1)) return r;
    for (int d = 0; d < rank; ++d)
        if (d != dim) fresh.dimensions[d < dim ? d : d - 1] = dimensions[d];
    if (int r = fresh.FinishShape()) return r;
    const std::int64_t inner = Inner(dim);
    const std::int64_t block = inner * dimensions[dim];
    const std::int64_t outer = Outer(dim);
    const double* source = values.Items() + outcome * inner;
    double* target = fresh.values.Items();
    for (std::int64_t o = 0; o < outer; ++o)
        std::copy(source + o * block, source + o * block + inner, target + o * inner);
    return 0;
}

int QNL_Dmatrix::RemoveDimension(int dim, int outcome) {
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    if (outcome < 0 || outcome >= dimensions[dim]) return Refuse(-2, kBadOutcome);
    QNL_Dmatrix fresh;
    if (int r = BuildSlice(dim, outcome, fresh)) return r;
    *this = std::move(fresh);
    return 0;
}

int QNL_Dmatrix::AddOutcome(int dim) {
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    if (dimensions[dim] == INT_MAX) return Refuse(-42, kTooLarge);
    // When nothing lies outside the dimension its new slice goes after every value: the
    // values grow in place, so adding outcomes one by one stays linear in their count.
    if (Outer(dim) == 1) {
        const std::int64_t old = values.GetSize(), total = old + Inner(dim);
        if (total > MAX_CELLS) return Refuse(-42, kTooLarge);
        if (values.Extend(static_cast<int>(total)) != 0) return Refuse(-42, kNoMemory);
        std::fill(values.Items() + old, values.Items() + total, 0.0);
        ++dimensions[dim];
        for (int d = dim - 1; d >= 0; --d)
            multipliers[d] = multipliers[d + 1] * dimensions[d + 1];
        return 0;
    }
    QNL_Dmatrix fresh;
    if (fresh.dimensions.Assign(dimensions) != 0) return Refuse(-42, kNoMemory);
    ++fresh.dimensions[dim];
    if (int r = fresh.FinishShape()) return r;
    const std::int64_t inner = Inner(dim);
    const std::int64_t block = inner * dimensions[dim];
    const std::int64_t outer = Outer(dim);
    const double* source = values.Items();
    double* target = fresh.values.Items();
    for (std::int64_t o = 0; o < outer; ++o) {
        double* out = target + o * (block + inner);
        std::copy(source + o * block, source + (o + 1) * block, out);
        std::fill(out + block, out + block + inner, 0.0);
    }
    *this = std::move(fresh);
    return 0;
}

int QNL_Dmatrix::RemoveLastOutcome(int dim) {
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    if (dimensions[dim] == 1) return Refuse(-2, "Matrix dimension has only one outcome");
    QNL_Dmatrix fresh;
    if (fresh.dimensions.Assign(dimensions) != 0) return Refuse(-42, kNoMemory);
    --fresh.dimensions[dim];
    if (int r = fresh.FinishShape()) return r;
    const std::int64_t inner = Inner(dim);
    const std::int64_t block = inner * dimensions[dim];
    const std::int64_t kept = block - inner;
    const std::int64_t outer = Outer(dim);
    const double* source = values.Items();
    double* target = fresh.values.Items();
    for (std::int64_t o = 0; o < outer; ++o)
        std::copy(source + o * block, source + o * block + kept, target + o * kept);
    *this = std::move(fresh);
    return 0;
}

int QNL_Dmatrix::ShiftDataUpwards(int dim, int outcome, double fill) {
    return ShiftData(dim, outcome, true, fill);
}

int QNL_Dmatrix::ShiftDataDownwards(int dim, int outcome) {
    return ShiftData(dim, outcome, false, 0.0);
}

int QNL_Dmatrix::ShiftData(int dim, int outcome, bool upwards, double fill) {
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    const int n = dimensions[dim];
    if (outcome < 0 || outcome >= n) return Refuse(-2, kBadOutcome);
    const std::int64_t inner = Inner(dim);
    const std::int64_t block = inner * n;
    const std::int64_t outer = Outer(dim);
    for (std::int64_t o = 0; o < outer; ++o) {
        double* base = values.Items() + o * block;
        if (upwards) {
            std::copy_backward(base + outcome * inner, base + (n - 1) * inner, base + n * inner);
            std::fill(base + outcome * inner, base + (outcome + 1) * inner, fill);
        } else {
            std::copy(base + (outcome + 1) * inner, base + n * inner, base + outcome * inner);
            std::fill(base + (n - 1) * inner, base + n * inner, fill);
        }
    }
    return 0;
}

int QNL_Dmatrix::ReorderDimensions(const QNL_intArray& order) {
    const int rank = GetNumberOfDimensions();
    if (order.GetCount() != rank) return Refuse(-2, "Dimension order is not a permutation");
    if (int r = CheckPermutation(order, rank))
        return Refuse(r, r == -2 ? "Dimension order is not a permutation" : kNoMemory);
    bool identity = true;
    for (int i = 0; i < rank; ++i)
        identity = identity && order[i] == i;
    if (identity) return 0;

    QNL_Dmatrix fresh;
    if (int r = fresh.SetRank(rank)) return r;
    for (int i = 0; i < rank; ++i)
        fresh.dimensions[i] = dimensions[order[i]];
    if (int r = fresh.FinishShape()) return r;
    // Walk the new table in storage order, reading the old one through permuted strides.
    TableWalker<2> walker;
    for (int i = 0; i < rank; ++i)
        walker.AddAxis(fresh.dimensions[i], {fresh.multipliers[i], multipliers[order[i]]});
    double* target = fresh.values.Items();
    const double* source = values.Items();
    walker.ForEachRun({0, 0},
                      [&](const std::int64_t* at, std::int64_t length, const std::int64_t* step) {
                          double* out = target + at[0];
                          const double* in = source + at[1];
                          for (std::int64_t i = 0; i < length; ++i)
                              out[i * step[0]] = in[i * step[1]];
                          return true;
                      });
    *this = std::move(fresh);
    return 0;
}

int QNL_Dmatrix::ReorderOutcomes(int dim, const QNL_intArray& order) {
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    const int n = dimensions[dim];
    if (order.GetCount() != n) return Refuse(-2, "Outcome order is not a permutation");
    if (int r = CheckPermutation(order, n))
        return Refuse(r, r == -2 ? "Outcome order is not a permutation" : kNoMemory);
    QNL_Dmatrix fresh;
    if (fresh.dimensions.Assign(dimensions) != 0) return Refuse(-42, kNoMemory);
    if (int r = fresh.FinishShape()) return r;
    const std::int64_t inner = Inner(dim);
    const std::int64_t block = inner * n;
    const std::int64_t outer = Outer(dim);
    const double* source = values.Items();
    double* target = fresh.values.Items();
    for (std::int64_t o = 0; o < outer; ++o)
        for (int k = 0; k < n; ++k) {
            const double* from = source + o * block + order[k] * inner;
            std::copy(from, from + inner, target + o * block + k * inner);
        }
    *this = std::move(fresh);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Access

int QNL_Dmatrix::IndexFromCoordinates(const QNL_intArray& coordinates) const {
    const int rank = GetNumberOfDimensions();
    if (coordinates.GetSize() < rank) return -1;
    std::int64_t index = 0;
    for (int d = 0; d < rank; ++d)
        index += std::int64_t{coordinates[d]} * multipliers[d];
    return index < INT_MIN || index > INT_MAX ? -1 : static_cast<int>(index);
}

int QNL_Dmatrix::IndexFromCoordinates(const int* const* coordinates) const {
    const int rank = GetNumberOfDimensions();
    if (rank > 0 && coordinates == nullptr) return -1;
    std::int64_t index = 0;
    for (int d = 0; d < rank; ++d)
        index += std::int64_t{*coordinates[d]} * multipliers[d];
    return index < INT_MIN || index > INT_MAX ? -1 : static_cast<int>(index);
}

int QNL_Dmatrix::CoordinatesFromIndex(int index, QNL_intArray& coordinates) const {
    if (index < 0 || index >= values.GetSize()) return Refuse(-2, "Matrix index out of range");
    const int rank = GetNumberOfDimensions();
    if (coordinates.GetSize() < rank && coordinates.SetSize(rank) != 0)
        return Refuse(-42, kNoMemory);
    coordinates.SetCount(rank);
    for (int d = 0; d < rank; ++d) {
        coordinates[d] = index / multipliers[d];
        index %= multipliers[d];
    }
    return 0;
}

int QNL_Dmatrix::NextCoordinates(QNL_intArray& coordinates) const {
    const int rank = GetNumberOfDimensions();
    if (coordinates.GetSize() < rank) return -2;
    int d = rank - 1;
    while (d >= 0 && coordinates[d] >= dimensions[d] - 1)
        --d;
    if (d < 0) return -2;
    ++coordinates[d];
    for (int later = d + 1; later < rank; ++later)
        coordinates[later] = 0;
    return 0;
}

const double* QNL_Dmatrix::CheckedSubscript(const QNL_intArray& coordinates) const {
    const int rank = GetNumberOfDimensions();
    if (rank == 0 || coordinates.GetSize() < rank) return nullptr;
    std::int64_t index = 0;
    for (int d = 0; d < rank; ++d) {
        const int c = coordinates[d];
        if (c < 0 || c >= dimensions[d]) return nullptr;
        index += std::int64_t{c} * multipliers[d];
    }
    return values.Items() + index;
}

double* QNL_Dmatrix::CheckedSubscript(const QNL_intArray& coordinates) {
    return const_cast<double*>(std::as_const(*this).CheckedSubscript(coordinates));
}

// ---------------------------------------------------------------------------------------
// Whole-table arithmetic

int QNL_Dmatrix::FillWith(double value) {
    values.FillWith(value);
    return 0;
}

int QNL_Dmatrix::Scale(double factor) {
    double* cell = values.Items();
    const int n = values.GetSize();
    for (int i = 0; i < n; ++i)
        cell[i] *= factor;
    return 0;
}

int QNL_Dmatrix::SetToSum(const QNL_Dmatrix& a, const QNL_Dmatrix& b) {
    if (!SameShape(a) || !SameShape(b)) return Refuse(-2, "Matrices of different shapes");
    double* out = values.Items();
    const double* x = a.values.Items();
    const double* y = b.values.Items();
    const int n = values.GetSize();
    for (int i = 0; i < n; ++i)
        out[i] = x[i] + y[i];
    return 0;
}

// Columns summing to exactly 1 are left bit for bit as they are; a zero column becomes
// uniform; any other is divided (not multiplied by the reciprocal) by its sum.
int QNL_Dmatrix::Normalize() {
    const int total = values.GetSize();
    if (total == 0) return 0;
    const int n = dimensions[GetNumberOfDimensions() - 1];
    double* column = values.Items();
    for (int start = 0; start < total; start += n, column += n) {
        double sum = 0.0;
        for (int i = 0; i < n; ++i)
            sum += column[i];
        if (sum == 1.0) continue;
        if (sum == 0.0) {
            std::fill(column, column + n, 1.0 / n);
        } else {
            for (int i = 0; i < n; ++i)
                column[i] /= sum;
        }
    }
    return 0;
}

int QNL_Dmatrix::SetToComplement(int index) {
    if (index < 0 || index >= values.GetSize()) return Refuse(-2, "Matrix index out of range");
    const int n = dimensions[GetNumberOfDimensions() - 1];
    const int start = index - index % n;
    double others = 0.0;
    for (int i = start; i < start + n; ++i)
        if (i != index) others += values[i];
    values[index] = 1.0 - others;
    return 0;
}

// ---------------------------------------------------------------------------------------
// Slices and marginals

int QNL_Dmatrix::GetSlice(int dim, int outcome, QNL_Dmatrix& result) const {
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    if (outcome < 0 || outcome >= dimensions[dim]) return Refuse(-2, kBadOutcome);
    QNL_Dmatrix fresh;
    if (int r = BuildSlice(dim, outcome, fresh)) return r;
    result = std::move(fresh);
    return 0;
}

int QNL_Dmatrix::GetSubmatrix(const QNL_intArray& fixed, QNL_Dmatrix& result) const {
    const int rank = GetNumberOfDimensions();
    if (fixed.GetSize() < rank) return Refuse(-2, "Too few coordinates for the matrix");
    int freeCount = 0;
    std::int64_t base = 0;
    for (int d = 0; d < rank; ++d) {
        if (fixed[d] < 0) {
            ++freeCount;
        } else {
            if (fixed[d] >= dimensions[d]) return Refuse(-2, kBadOutcome);
            base += std::int64_t{fixed[d]} * multipliers[d];
        }
    }
    QNL_Dmatrix fresh;
    if (freeCount > 0) {
        if (int r = fresh.SetRank(freeCount)) return r;
        for (int d = 0, j = 0; d < rank; ++d)
            if (fixed[d] < 0) fresh.dimensions[j++] = dimensions[d];
        if (int r = fresh.FinishShape()) return r;
        TableWalker<2> walker;
        for (int d = 0, j = 0; d < rank; ++d)
            if (fixed[d] < 0)
                walker.AddAxis(dimensions[d], {fresh.multipliers[j++], multipliers[d]});
        double* target = fresh.values.Items();
        const double* source = values.Items();
        walker.ForEachRun(
            {0, base}, [&](const std::int64_t* at, std::int64_t length, const std::int64_t* step) {
                double* out = target + at[0];
                const double* in = source + at[1];
                for (std::int64_t i = 0; i < length; ++i)
                    out[i * step[0]] = in[i * step[1]];
                return true;
            });
    }
    result = std::move(fresh);
    return 0;
}

template <typename IsFree>
int QNL_Dmatrix::SliceIsFilled(double value, std::int64_t base, IsFree isFree) const {
    if (values.GetSize() == 0) return 1;
    TableWalker<1> walker;
    for (int d = 0; d < GetNumberOfDimensions(); ++d)
        if (isFree(d)) walker.AddAxis(dimensions[d], {multipliers[d]});
    const double* cells = values.Items();
    const bool filled = walker.ForEachRun(
        {base}, [&](const std::int64_t* at, std::int64_t length, const std::int64_t* step) {
            const double* in = cells + at[0];
            for (std::int64_t i = 0; i < length; ++i)
                if (!(in[i * step[0]] == value)) return false;
            return true;
        });
    return filled ? 1 : 0;
}

int QNL_Dmatrix::IsSliceFilledWith(double value, const QNL_intArray& fixed) const {
    const int rank = GetNumberOfDimensions();
    if (fixed.GetSize() < rank) return Refuse(-2, "Too few coordinates for the matrix");
    std::int64_t base = 0;
    for (int d = 0; d < rank; ++d) {
        if (fixed[d] < 0) continue;
        if (fixed[d] >= dimensions[d]) return Refuse(-2, kBadOutcome);
        base += std::int64_t{fixed[d]} * multipliers[d];
    }
    return SliceIsFilled(value, base, [&](int d) { return fixed[d] < 0; });
}

int QNL_Dmatrix::FindUnfilledOutcomes(double value, const QNL_intArray& fixed, int dim, int enough,
                                      std::vector<char>& unfilled) const {
    const int rank = GetNumberOfDimensions();
    if (fixed.GetSize() < rank) return Refuse(-2, "Too few coordinates for the matrix");
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    std::int64_t base = 0;
    TableWalker<1> walker;
    for (int d = 0; d < rank; ++d) {
        if (d == dim) continue;
        if (fixed[d] < 0) {
            walker.AddAxis(dimensions[d], {multipliers[d]});
            continue;
        }
        if (fixed[d] >= dimensions[d]) return Refuse(-2, kBadOutcome);
        base += std::int64_t{fixed[d]} * multipliers[d];
    }
    const int outcomes = dimensions[dim];
    unfilled.assign(static_cast<std::size_t>(outcomes), 0);
    if (values.GetSize() == 0) return 0;
    const double* cells = values.Items();
    const std::int64_t stride = multipliers[dim];
    int found = 0;
    walker.ForEachRun(
        {base}, [&](const std::int64_t* at, std::int64_t length, const std::int64_t* step) {
            for (std::int64_t i = 0; i < length; ++i) {
                const double* cell = cells + at[0] + i * step[0];
                for (int k = 0; k < outcomes; ++k) {
                    if (unfilled[static_cast<std::size_t>(k)] || cell[k * stride] == value)
                        continue;
                    unfilled[static_cast<std::size_t>(k)] = 1;
                    if (++found >= enough) return false;
                }
            }
            return true;
        });
    return found;
}

int QNL_Dmatrix::IsSliceFilledWith(double value, int dim1, int outcome1, int dim2,
                                   int outcome2) const {
    if (!IsDimension(dim1) || !IsDimension(dim2)) return Refuse(-2, kBadDimension);
    if (outcome1 < 0 || outcome1 >= dimensions[dim1] || outcome2 < 0 ||
        outcome2 >= dimensions[dim2] || (dim1 == dim2 && outcome1 != outcome2))
        return Refuse(-2, kBadOutcome);
    std::int64_t base = std::int64_t{outcome1} * multipliers[dim1];
    if (dim2 != dim1) base += std::int64_t{outcome2} * multipliers[dim2];
    return SliceIsFilled(value, base, [&](int d) { return d != dim1 && d != dim2; });
}

int QNL_Dmatrix::BuildWeightedSum(int dim, const QNL_doubleArray& weights,
                                  QNL_Dmatrix& fresh) const {
    const int rank = GetNumberOfDimensions();
    if (rank == 1) return 0; // the only dimension goes: nothing is left
    if (int r = fresh.SetRank(rank - 1)) return r;
    for (int d = 0; d < rank; ++d)
        if (d != dim) fresh.dimensions[d < dim ? d : d - 1] = dimensions[d];
    if (int r = fresh.FinishShape()) return r;
    fresh.values.FillWith(0.0);
    const int n = dimensions[dim];
    const std::int64_t inner = Inner(dim);
    const std::int64_t block = inner * n;
    const std::int64_t outer = Outer(dim);
    const double* source = values.Items();
    for (std::int64_t o = 0; o < outer; ++o) {
        double* out = fresh.values.Items() + o * inner;
        for (int k = 0; k < n; ++k) {
            const double w = weights[k];
            const double* in = source + o * block + k * inner;
            for (std::int64_t i = 0; i < inner; ++i)
                out[i] += w * in[i];
        }
    }
    return 0;
}

int QNL_Dmatrix::SumOutDimension(int dim, const QNL_doubleArray& weights) {
    QNL_Dmatrix fresh;
    if (int r = SumOutDimension(dim, weights, fresh)) return r;
    *this = std::move(fresh);
    return 0;
}

int QNL_Dmatrix::SumOutDimension(int dim, const QNL_doubleArray& weights,
                                 QNL_Dmatrix& result) const {
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    if (weights.GetSize() < dimensions[dim])
        return Refuse(-2, "Fewer weights than outcomes of the summed dimension");
    QNL_Dmatrix fresh;
    if (int r = BuildWeightedSum(dim, weights, fresh)) return r;
    result = std::move(fresh);
    return 0;
}

int QNL_Dmatrix::SumOutDimension(int dim, const QNL_Dmatrix& weightMatrix,
                                 const QNL_intArray& map) {
    const int rank = GetNumberOfDimensions();
    if (!IsDimension(dim)) return Refuse(-2, kBadDimension);
    const int weightRank = weightMatrix.GetNumberOfDimensions();
    if (map.GetCount() != weightRank)
        return Refuse(-2, "Dimension map does not match the weight matrix");
    bool mapsDim = false;
    for (int j = 0; j < weightRank; ++j) {
        if (map[j] < 0 || map[j] >= rank || weightMatrix.dimensions[j] != dimensions[map[j]])
            return Refuse(-2, "Dimension map does not match the weight matrix");
        mapsDim = mapsDim || map[j] == dim;
    }
    if (!mapsDim) return Refuse(-2, "Summed dimension is not among the weight dimensions");

    QNL_Dmatrix fresh;
    if (rank > 1) {
        if (int r = fresh.SetRank(rank - 1)) return r;
        for (int d = 0; d < rank; ++d)
            if (d != dim) fresh.dimensions[d < dim ? d : d - 1] = dimensions[d];
        if (int r = fresh.FinishShape()) return r;
        fresh.values.FillWith(0.0);
        // One walk over this table; the result does not move along dim, and the weights
        // move along every dimension they are mapped onto.
        TableWalker<3> walker;
        for (int d = 0; d < rank; ++d) {
            std::int64_t weightStep = 0;
            for (int j = 0; j < weightRank; ++j)
                if (map[j] == d) weightStep += weightMatrix.multipliers[j];
            const std::int64_t resultStep = d == dim ? 0 : fresh.multipliers[d < dim ? d : d - 1];
            walker.AddAxis(dimensions[d], {resultStep, multipliers[d], weightStep});
        }
        double* target = fresh.values.Items();
        const double* source = values.Items();
        const double* weights = weightMatrix.values.Items();
        walker.ForEachRun(
            {0, 0, 0}, [&](const std::int64_t* at, std::int64_t length, const std::int64_t* step) {
                double* out = target + at[0];
                const double* in = source + at[1];
                const double* w = weights + at[2];
                for (std::int64_t i = 0; i < length; ++i)
                    out[i * step[0]] += in[i * step[1]] * w[i * step[2]];
                return true;
            });
    }
    *this = std::move(fresh);
    return 0;
}
