#pragma once

#include "model/double_array.h"
#include "model/int_array.h"

#include <array>
#include <cstdint>
#include <vector>

namespace quarn::detail {

// The strided walker behind every whole-table operation: it visits each cell of a shape, last
// axis fastest, while keeping for each of N tables the offset of that cell in the table.
// Axes of size 1 are dropped and neighbouring axes that are contiguous in every table are
// merged, so the body sees the longest possible runs and the per-cell work is a flat loop.
template <int N> class TableWalker {
public:
    using Offsets = std::array<std::int64_t, N>;

    // Adds the next, faster varying axis (size >= 1); step[t] is how far table t moves along it (0
    // for a table that does not vary with the axis). False when the axis does not fit, which cannot
    // happen for shapes whose cell count fits in 64 bits.
    bool AddAxis(std::int64_t size, const Offsets& step) {
        if (size == 1) return true;
        if (axes > 0) {
            bool contiguous = true;
            for (int t = 0; t < N; ++t)
                contiguous = contiguous && steps[axes - 1][t] == step[t] * size;
            if (contiguous) {
                sizes[axes - 1] *= size;
                steps[axes - 1] = step;
                return true;
            }
        }
        if (axes == kMaxAxes) return false;
        sizes[axes] = size;
        steps[axes] = step;
        ++axes;
        return true;
    }

    // Calls body(offsets, length, steps) for every run of cells along the fastest axis; a
    // body returning false stops the walk, and then so does this (false).
    template <typename Body> bool ForEachRun(Offsets at, Body&& body) const {
        if (axes == 0) return body(at.data(), std::int64_t{1}, Offsets{}.data());
        const int last = axes - 1;
        std::int64_t counter[kMaxAxes];
        for (int axis = 0; axis < axes; ++axis)
            counter[axis] = 0;
        for (;;) {
            if (!body(at.data(), sizes[last], steps[last].data())) return false;
            int axis = last - 1;
            for (; axis >= 0; --axis) {
                if (++counter[axis] < sizes[axis]) {
                    for (int t = 0; t < N; ++t)
                        at[t] += steps[axis][t];
                    break;
                }
                counter[axis] = 0;
                for (int t = 0; t < N; ++t)
                    at[t] -= steps[axis][t] * (sizes[axis] - 1);
            }
            if (axis < 0) return true;
        }
    }

private:
    static constexpr int kMaxAxes = 64;
    // Only the first `axes` entries are ever read: small slices are walked often, and
    // clearing all the rest would cost more than walking them.
    int axes = 0;
    std::int64_t sizes[kMaxAxes];
    Offsets steps[kMaxAxes];
};

} // namespace quarn::detail

// The multi-dimensional table of doubles behind every probability, utility, belief, clique
// and cost table. Row-major: the last dimension varies fastest, so a "column" (one
// distribution) is a consecutive run. Invariants: dimensions and multipliers have one entry
// per dimension (size == count), every dimension is at least 1, the value count is their
// product and never exceeds what a QNL_doubleArray can hold; the empty matrix has no
// dimensions and no values. A failed operation leaves the matrix as it was.
class QNL_Dmatrix {
public:
    // Largest number of cells a matrix may have: the value array's size is a signed int.
    static constexpr std::int64_t MAX_CELLS = 0x7FFFFFFF;

    QNL_Dmatrix() = default;
    // Empty when any size is below 1 or the shape cannot be had.
    explicit QNL_Dmatrix(const QNL_intArray& sizes);
    QNL_Dmatrix(const QNL_Dmatrix&) = default; // deep; throws bad_alloc like the arrays
    QNL_Dmatrix(QNL_Dmatrix&&) noexcept = default;
    QNL_Dmatrix& operator=(const QNL_Dmatrix&) = default;
    QNL_Dmatrix& operator=(QNL_Dmatrix&&) noexcept = default;
    ~QNL_Dmatrix() = default;

    // Deep copy; -42 with this matrix unchanged when storage cannot be had.
    int Assign(const QNL_Dmatrix& source);

    // --- shape ---
    // The count of sizes is the number of dimensions; values are left uninitialised.
    int Setup(const QNL_intArray& sizes);
    int Setup(const int* sizes, int count);
    void CleanUp();

    // Shape of the matrix: dimension sizes and the strides that index it.
    int GetNumberOfDimensions() const { return dimensions.GetSize(); }
    int GetSizeOfDimension(int dim) const { return dimensions[dim]; }
    int GetMultiplier(int dim) const { return multipliers[dim]; }
    const QNL_intArray& GetDimensions() const { return dimensions; }
    // Number of values (the product of the dimension sizes; 0 for the empty matrix).
    int GetSize() const { return values.GetSize(); }
    // The values in storage order. Callers may change their contents, never their size.
    QNL_doubleArray& GetItems() { return values; }
    const QNL_doubleArray& GetItems() const { return values; }

    // Reshaping: the size of a dimension, a new dimension, a dropped one.
    int SetDimensionSize(int dim, int size);
    int InsertDimension(int position, int size);
    int AddDimension(int size) { return InsertDimension(GetNumberOfDimensions(), size); }
    int RemoveDimension(int dim, int outcome);
    int RemoveDimension(int dim) { return RemoveDimension(dim, 0); }
    int AddOutcome(int dim);
    int RemoveLastOutcome(int dim);
    int ShiftDataUpwards(int dim, int outcome, double fill);
    int ShiftDataDownwards(int dim, int outcome);
    int ReorderDimensions(const QNL_intArray& order);
    int ReorderOutcomes(int dim, const QNL_intArray& order);

    // --- access ---
    // Unchecked: the coordinates must fit the matrix.
    double& Subscript(const QNL_intArray& coordinates) {
        return values[IndexFromCoordinates(coordinates)];
    }
    double GetValue(const QNL_intArray& coordinates) const {
        return values[IndexFromCoordinates(coordinates)];
    }
    double& Subscript(int index) { return values[index]; }
    double Subscript(int index) const { return values[index]; }

    // Sum of coordinate x multiplier. Coordinates are not range-checked, but an array shorter
    // than the number of dimensions, or a sum outside the int range, gives -1.
    int IndexFromCoordinates(const QNL_intArray& coordinates) const;
    int IndexFromCoordinates(const int* const* coordinates) const;
    int CoordinatesFromIndex(int index, QNL_intArray& coordinates) const;
    // Odometer step, last dimension fastest; -2 after the last combination.
    int NextCoordinates(QNL_intArray& coordinates) const;
    // The cell, or null when the coordinates do not fit the matrix.
    double* CheckedSubscript(const QNL_intArray& coordinates);
    const double* CheckedSubscript(const QNL_intArray& coordinates) const;

    // --- whole-table arithmetic ---
    int FillWith(double value);
    int Scale(double factor);
    int SetToSum(const QNL_Dmatrix& a, const QNL_Dmatrix& b);
    int Normalize();
    int SetToComplement(int index);

    // --- slices and marginals ---
    int GetSlice(int dim, int outcome, QNL_Dmatrix& result) const;
    // fixed: one entry per dimension; a non-negative entry fixes the dimension and drops it.
    int GetSubmatrix(const QNL_intArray& fixed, QNL_Dmatrix& result) const;
    // 1 when every cell of the slice equals value exactly, else 0; -2 for a bad slice.
    int IsSliceFilledWith(double value, const QNL_intArray& fixed) const;
    int IsSliceFilledWith(double value, int dim1, int outcome1, int dim2, int outcome2) const;
    // The slices of every outcome of dimension dim at once (fixed[dim] is ignored), in one
    // pass: unfilled[k] becomes 1 when a cell of outcome k's slice differs from value. Stops
    // once `enough` outcomes differ, the others left at 0. The number found, or -2.
    int FindUnfilledOutcomes(double value, const QNL_intArray& fixed, int dim, int enough,
                             std::vector<char>& unfilled) const;
    int SumOutDimension(int dim, const QNL_doubleArray& weights);
    int SumOutDimension(int dim, const QNL_doubleArray& weights, QNL_Dmatrix& result) const;
    // map[j]: the dimension of this matrix that dimension j of weightMatrix follows.
    int SumOutDimension(int dim, const QNL_Dmatrix& weightMatrix, const QNL_intArray& map);

private:
    // Builders fill a fresh matrix's dimensions, then FinishShape gives it multipliers and
    // value storage; the result is moved into place only when everything succeeded.
    int SetRank(int rank);
    int FinishShape();
    bool SameShape(const QNL_Dmatrix& other) const;
    bool IsDimension(int dim) const { return dim >= 0 && dim < GetNumberOfDimensions(); }
    // Cells of one block of dimension dim are consecutive: outer blocks of size(dim) slices
    // of inner cells each.
    std::int64_t Inner(int dim) const { return multipliers[dim]; }
    std::int64_t Outer(int dim) const {
        return values.GetSize() / (std::int64_t{multipliers[dim]} * dimensions[dim]);
    }
    // Upwards opens the outcome's slice and fills it; downwards closes it and fills the last.
    int ShiftData(int dim, int outcome, bool upwards, double fill);
    int BuildSlice(int dim, int outcome, QNL_Dmatrix& result) const;
    int BuildWeightedSum(int dim, const QNL_doubleArray& weights, QNL_Dmatrix& result) const;
    template <typename IsFree>
    int SliceIsFilled(double value, std::int64_t base, IsFree isFree) const;

    QNL_intArray dimensions;
    QNL_intArray multipliers;
    QNL_doubleArray values;
};
