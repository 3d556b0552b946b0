#include "model/dmatrix.h"
#include "model/error_handler.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

namespace {

using Coords = std::vector<int>;

// A plain reference table: cells addressed by coordinate vectors, computed the slow way.
struct Ref {
    std::vector<int> dims;
    std::vector<double> cells;

    std::size_t Index(const Coords& c) const {
        std::size_t index = 0;
        for (std::size_t d = 0; d < dims.size(); ++d)
            index = index * dims[d] + c[d];
        return index;
    }
    double At(const Coords& c) const { return cells[Index(c)]; }
};

// Every coordinate combination of dims in storage order (last fastest); none for no dims.
void ForEachCoords(const std::vector<int>& dims, const std::function<void(const Coords&)>& f) {
    if (dims.empty()) return;
    Coords c(dims.size(), 0);
    for (;;) {
        f(c);
        int d = static_cast<int>(dims.size()) - 1;
        while (d >= 0 && ++c[d] == dims[d])
            c[d--] = 0;
        if (d < 0) return;
    }
}

Ref Build(const std::vector<int>& dims, const std::function<double(const Coords&)>& cell) {
    Ref ref{dims, {}};
    ForEachCoords(dims, [&](const Coords& c) { ref.cells.push_back(cell(c)); });
    return ref;
}

// Sized exactly to the values: the matrix checks coordinate arrays by their size.
QNL_intArray Ints(const std::vector<int>& values) {
    QNL_intArray array;
    const int n = static_cast<int>(values.size());
    EXPECT_EQ(array.SetSize(n), 0);
    array.SetCount(n);
    for (int i = 0; i < n; ++i)
        array[i] = values[static_cast<std::size_t>(i)];
    return array;
}

QNL_Dmatrix FromRef(const Ref& ref) {
    QNL_Dmatrix m;
    EXPECT_EQ(m.Setup(Ints(ref.dims)), 0);
    for (std::size_t i = 0; i < ref.cells.size(); ++i)
        m.Subscript(static_cast<int>(i)) = ref.cells[i];
    return m;
}

Ref ToRef(const QNL_Dmatrix& m) {
    Ref ref;
    for (int d = 0; d < m.GetNumberOfDimensions(); ++d)
        ref.dims.push_back(m.GetSizeOfDimension(d));
    for (int i = 0; i < m.GetSize(); ++i)
        ref.cells.push_back(m.Subscript(i));
    return ref;
}

void ExpectSame(const QNL_Dmatrix& m, const Ref& expected) {
    const Ref actual = ToRef(m);
    ASSERT_EQ(actual.dims, expected.dims);
    ASSERT_EQ(actual.cells.size(), expected.cells.size());
    for (std::size_t i = 0; i < actual.cells.size(); ++i)
        EXPECT_DOUBLE_EQ(actual.cells[i], expected.cells[i]) << "cell " << i;
    // Multipliers follow the shape: the last is 1, each the product of the later sizes.
    int step = 1;
    for (int d = m.GetNumberOfDimensions() - 1; d >= 0; --d) {
        EXPECT_EQ(m.GetMultiplier(d), step);
        step *= m.GetSizeOfDimension(d);
    }
}

Coords Without(Coords c, int dim) {
    c.erase(c.begin() + dim);
    return c;
}

Coords With(Coords c, int dim, int value) {
    c.insert(c.begin() + dim, value);
    return c;
}

// Random shapes of 3 or 4 dimensions of sizes 1 to 4, cells with distinct-looking values.
class DmatrixRandomShapes : public ::testing::Test {
protected:
    std::mt19937 rng{20240611u};

    int Draw(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    Ref RandomRef() {
        std::vector<int> dims(static_cast<std::size_t>(Draw(3, 4)));
        for (int& size : dims)
            size = Draw(1, 4);
        std::uniform_real_distribution<double> cell(-10.0, 10.0);
        return Build(dims, [&](const Coords&) { return cell(rng); });
    }

    std::vector<int> Permutation(int n) {
        std::vector<int> order(static_cast<std::size_t>(n));
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), rng);
        return order;
    }
};

constexpr int kTrials = 60;

// ---------------------------------------------------------------------------------------

TEST(Dmatrix, LaysOutCellsRowMajorWithLastDimensionFastest) {
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({2, 3})), 0);
    EXPECT_EQ(m.GetSize(), 6);
    EXPECT_EQ(m.IndexFromCoordinates(Ints({1, 2})), 5);
    int a = 1, b = 2;
    const int* pointers[] = {&a, &b};
    EXPECT_EQ(m.IndexFromCoordinates(pointers), 5);

    QNL_intArray c = Ints({0, 2});
    ASSERT_EQ(m.NextCoordinates(c), 0);
    EXPECT_EQ(c[0], 1);
    EXPECT_EQ(c[1], 0);
    c = Ints({1, 2});
    EXPECT_EQ(m.NextCoordinates(c), -2);
    EXPECT_EQ(c[0], 1);
    EXPECT_EQ(c[1], 2);

    QNL_intArray out;
    ASSERT_EQ(m.CoordinatesFromIndex(4, out), 0);
    EXPECT_EQ(out.GetCount(), 2);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(m.CoordinatesFromIndex(6, out), -2);
    EXPECT_EQ(m.CoordinatesFromIndex(-1, out), -2);
}

TEST_F(DmatrixRandomShapes, IndexCoordinatesAndOdometerAgree) {
    for (int trial = 0; trial < kTrials; ++trial) {
        QNL_Dmatrix m = FromRef(RandomRef());
        QNL_intArray walk;
        ASSERT_EQ(m.CoordinatesFromIndex(0, walk), 0);
        for (int i = 0; i < m.GetSize(); ++i) {
            QNL_intArray c;
            ASSERT_EQ(m.CoordinatesFromIndex(i, c), 0);
            EXPECT_TRUE(c == walk) << "index " << i;
            EXPECT_EQ(m.IndexFromCoordinates(c), i);
            EXPECT_EQ(m.NextCoordinates(walk), i + 1 < m.GetSize() ? 0 : -2);
        }
    }
}

TEST(Dmatrix, CheckedSubscriptIsNullWhenCoordinatesDoNotFit) {
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({2, 3})), 0);
    m.FillWith(0.0);
    double* cell = m.CheckedSubscript(Ints({1, 1}));
    ASSERT_NE(cell, nullptr);
    *cell = 7.0;
    EXPECT_EQ(m.Subscript(4), 7.0);
    EXPECT_EQ(m.CheckedSubscript(Ints({1})), nullptr);
    EXPECT_EQ(m.CheckedSubscript(Ints({-1, 0})), nullptr);
    EXPECT_EQ(m.CheckedSubscript(Ints({0, 3})), nullptr);
    EXPECT_EQ(m.CheckedSubscript(Ints({2, 0})), nullptr);
    EXPECT_EQ(QNL_Dmatrix().CheckedSubscript(Ints({0})), nullptr);
    EXPECT_EQ(m.IndexFromCoordinates(Ints({1})), -1);
    EXPECT_EQ(m.IndexFromCoordinates(Ints({INT_MAX, INT_MAX})), -1);
}

TEST(Dmatrix, SetupRefusesBadSizesAndKeepsTheMatrix) {
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({2, 2})), 0);
    m.FillWith(3.0);
    const Ref before = ToRef(m);
    EXPECT_EQ(m.Setup(Ints({2, 0})), -2);
    EXPECT_EQ(m.Setup(nullptr, -1), -2);
    EXPECT_EQ(m.SetDimensionSize(2, 3), -2);
    EXPECT_EQ(m.SetDimensionSize(0, 0), -2);
    ExpectSame(m, before);
    ASSERT_EQ(m.Setup(nullptr, 0), 0);
    EXPECT_EQ(m.GetNumberOfDimensions(), 0);
    EXPECT_EQ(m.GetSize(), 0);
    EXPECT_EQ(QNL_Dmatrix(Ints({3, -1})).GetNumberOfDimensions(), 0);
}

TEST(Dmatrix, HugeShapesAreRefusedWithTheMatrixUnchanged) {
    QNL_errorHandler::Instance().Flush();
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({2, 3})), 0);
    for (int i = 0; i < 6; ++i)
        m.Subscript(i) = i + 0.5;
    const Ref before = ToRef(m);

    const std::vector<int> forty(40, 4); // 4^40 cells wraps to 0 in 64 bits
    EXPECT_EQ(m.Setup(Ints(forty)), -42);
    ExpectSame(m, before);
    EXPECT_EQ(m.Setup(Ints({65536, 32768})), -42); // exactly 2^31 cells
    ExpectSame(m, before);
    EXPECT_EQ(m.SetDimensionSize(0, INT_MAX), -42);
    ExpectSame(m, before);
    EXPECT_EQ(m.InsertDimension(1, INT_MAX), -42);
    ExpectSame(m, before);
    EXPECT_EQ(m.AddDimension(400000000), -42);
    ExpectSame(m, before);
    ASSERT_GT(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
    EXPECT_EQ(QNL_errorHandler::Instance().GetCode(0), -42);

    EXPECT_EQ(QNL_Dmatrix(Ints(forty)).GetNumberOfDimensions(), 0);

    // Growing one dimension at a time stops at the first shape past the limit.
    QNL_Dmatrix grown;
    ASSERT_EQ(grown.Setup(Ints({65536})), 0);
    EXPECT_EQ(grown.AddDimension(32768), -42);
    EXPECT_EQ(grown.GetNumberOfDimensions(), 1);
    EXPECT_EQ(grown.GetSize(), 65536);
    QNL_errorHandler::Instance().Flush();
}

TEST(Dmatrix, CopiesAreDeep) {
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({3, 4, 5})), 0);
    for (int i = 0; i < m.GetSize(); ++i)
        m.Subscript(i) = i;
    QNL_Dmatrix copy(m);
    QNL_Dmatrix assigned;
    ASSERT_EQ(assigned.Assign(m), 0);
    m.FillWith(-1.0);
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(copy.Subscript(i), i);
        EXPECT_EQ(assigned.Subscript(i), i);
    }
    EXPECT_EQ(assigned.GetMultiplier(0), 20);
}

// ---------------------------------------------------------------------------------------
// Reshaping

TEST(Dmatrix, AddOutcomeAppendsZeroCellsAndInsertDimensionReplicates) {
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({2, 2})), 0);
    for (int i = 0; i < 4; ++i)
        m.Subscript(i) = 1.0 + i;
    ASSERT_EQ(m.AddOutcome(0), 0);
    ExpectSame(m, Ref{{3, 2}, {1, 2, 3, 4, 0, 0}});

    QNL_Dmatrix v;
    ASSERT_EQ(v.InsertDimension(0, 2), 0); // on the empty matrix: just the shape
    EXPECT_EQ(v.GetSize(), 2);
    v.Subscript(0) = 8.0;
    v.Subscript(1) = 9.0;
    ASSERT_EQ(v.InsertDimension(0, 2), 0);
    ExpectSame(v, Ref{{2, 2}, {8, 9, 8, 9}});
    EXPECT_EQ(v.InsertDimension(3, 2), -2);
    EXPECT_EQ(v.InsertDimension(0, 0), -2);
}

TEST_F(DmatrixRandomShapes, InsertDimensionMatchesReference) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int position = Draw(0, static_cast<int>(ref.dims.size()));
        const int size = Draw(1, 4);
        QNL_Dmatrix m = FromRef(ref);
        ASSERT_EQ(m.InsertDimension(position, size), 0);
        std::vector<int> dims = ref.dims;
        dims.insert(dims.begin() + position, size);
        ExpectSame(m, Build(dims, [&](const Coords& c) { return ref.At(Without(c, position)); }));
    }
}

TEST_F(DmatrixRandomShapes, RemoveDimensionKeepsTheChosenSlice) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int dim = Draw(0, static_cast<int>(ref.dims.size()) - 1);
        const int outcome = Draw(0, ref.dims[dim] - 1);
        QNL_Dmatrix m = FromRef(ref);
        EXPECT_EQ(m.RemoveDimension(dim, ref.dims[dim]), -2);
        EXPECT_EQ(m.RemoveDimension(static_cast<int>(ref.dims.size()), 0), -2);
        ExpectSame(m, ref);
        ASSERT_EQ(m.RemoveDimension(dim, outcome), 0);
        std::vector<int> dims = ref.dims;
        dims.erase(dims.begin() + dim);
        ExpectSame(m, Build(dims, [&](const Coords& c) { return ref.At(With(c, dim, outcome)); }));
    }
    QNL_Dmatrix single;
    ASSERT_EQ(single.Setup(Ints({3})), 0);
    single.FillWith(1.0);
    ASSERT_EQ(single.RemoveDimension(0), 0);
    EXPECT_EQ(single.GetNumberOfDimensions(), 0);
    EXPECT_EQ(single.GetSize(), 0);
}

TEST_F(DmatrixRandomShapes, InsertingAnOutcomeInTheMiddleShiftsLaterOutcomesUp) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int dim = Draw(0, static_cast<int>(ref.dims.size()) - 1);
        const int at = Draw(0, ref.dims[dim]); // may be the new last outcome
        QNL_Dmatrix m = FromRef(ref);
        ASSERT_EQ(m.AddOutcome(dim), 0);
        ASSERT_EQ(m.ShiftDataUpwards(dim, at, 0.25), 0);
        std::vector<int> dims = ref.dims;
        ++dims[dim];
        ExpectSame(m, Build(dims, [&](Coords c) {
                       if (c[dim] == at) return 0.25;
                       if (c[dim] > at) --c[dim];
                       return ref.At(c);
                   }));
        EXPECT_EQ(m.ShiftDataUpwards(dim, dims[dim], 0.0), -2);
    }
}

TEST_F(DmatrixRandomShapes, DeletingAnOutcomeInTheMiddleShiftsLaterOutcomesDown) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int dim = Draw(0, static_cast<int>(ref.dims.size()) - 1);
        QNL_Dmatrix m = FromRef(ref);
        if (ref.dims[dim] == 1) {
            EXPECT_EQ(m.RemoveLastOutcome(dim), -2);
            ExpectSame(m, ref);
            continue;
        }
        const int at = Draw(0, ref.dims[dim] - 1);
        ASSERT_EQ(m.ShiftDataDownwards(dim, at), 0);
        // Before the last outcome goes, it has been cleared to 0.0.
        std::vector<int> dims = ref.dims;
        ExpectSame(m, Build(dims, [&](Coords c) {
                       if (c[dim] == dims[dim] - 1) return 0.0;
                       if (c[dim] >= at) ++c[dim];
                       return ref.At(c);
                   }));
        ASSERT_EQ(m.RemoveLastOutcome(dim), 0);
        --dims[dim];
        ExpectSame(m, Build(dims, [&](Coords c) {
                       if (c[dim] >= at) ++c[dim];
                       return ref.At(c);
                   }));
    }
}

TEST_F(DmatrixRandomShapes, ReorderDimensionsMovesCellsWithTheirCoordinates) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int rank = static_cast<int>(ref.dims.size());
        const std::vector<int> order = Permutation(rank);
        QNL_Dmatrix m = FromRef(ref);
        std::vector<int> repeated = order;
        repeated[0] = repeated[1];
        EXPECT_EQ(m.ReorderDimensions(Ints(repeated)), -2);
        EXPECT_EQ(m.ReorderDimensions(Ints(std::vector<int>(order.begin(), order.end() - 1))), -2);
        ExpectSame(m, ref);
        ASSERT_EQ(m.ReorderDimensions(Ints(order)), 0);
        std::vector<int> dims(order.size());
        for (int i = 0; i < rank; ++i)
            dims[i] = ref.dims[order[i]];
        ExpectSame(m, Build(dims, [&](const Coords& c) {
                       Coords old(order.size());
                       for (int i = 0; i < rank; ++i)
                           old[order[i]] = c[i];
                       return ref.At(old);
                   }));
    }
}

TEST_F(DmatrixRandomShapes, ReorderOutcomesPermutesOneDimension) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int rank = static_cast<int>(ref.dims.size());
        const int dim = Draw(0, rank - 1);
        const std::vector<int> order = Permutation(ref.dims[dim]);
        QNL_Dmatrix m = FromRef(ref);
        EXPECT_EQ(m.ReorderOutcomes(rank, Ints(order)), -2);
        EXPECT_EQ(m.ReorderOutcomes(dim, Ints(std::vector<int>(order.size(), 0))),
                  order.size() == 1 ? 0 : -2);
        std::vector<int> longer = order;
        longer.push_back(static_cast<int>(order.size()));
        EXPECT_EQ(m.ReorderOutcomes(dim, Ints(longer)), -2);
        ExpectSame(m, ref);
        ASSERT_EQ(m.ReorderOutcomes(dim, Ints(order)), 0);
        ExpectSame(m, Build(ref.dims, [&](Coords c) {
                       c[dim] = order[c[dim]];
                       return ref.At(c);
                   }));
    }
}

TEST(Dmatrix, LongOrdersArePermutationCheckedToo) {
    std::vector<int> reversed(70);
    for (int k = 0; k < 70; ++k)
        reversed[k] = 69 - k;
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({2, 70})), 0);
    for (int i = 0; i < m.GetSize(); ++i)
        m.Subscript(i) = i;
    std::vector<int> repeated = reversed;
    repeated[0] = 0; // 0 twice, 69 missing
    EXPECT_EQ(m.ReorderOutcomes(1, Ints(repeated)), -2);
    ASSERT_EQ(m.ReorderOutcomes(1, Ints(reversed)), 0);
    EXPECT_EQ(m.Subscript(0), 69.0);
    EXPECT_EQ(m.Subscript(70), 139.0);

    // Seventy dimensions of one outcome each: one cell, any order.
    QNL_Dmatrix flat;
    ASSERT_EQ(flat.Setup(Ints(std::vector<int>(70, 1))), 0);
    flat.Subscript(0) = 2.5;
    EXPECT_EQ(flat.ReorderDimensions(Ints(repeated)), -2);
    ASSERT_EQ(flat.ReorderDimensions(Ints(reversed)), 0);
    EXPECT_EQ(flat.GetNumberOfDimensions(), 70);
    EXPECT_EQ(flat.Subscript(0), 2.5);
}

// ---------------------------------------------------------------------------------------
// Arithmetic

TEST(Dmatrix, NormalizeTreatsEachColumnOnItsOwn) {
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({3, 3})), 0);
    const double cells[] = {0, 0, 0, 2, 2, 4, 0.25, 0.75, 0};
    for (int i = 0; i < 9; ++i)
        m.Subscript(i) = cells[i];
    ASSERT_EQ(m.Normalize(), 0);
    ExpectSame(m, Ref{{3, 3}, {1.0 / 3, 1.0 / 3, 1.0 / 3, 0.25, 0.25, 0.5, 0.25, 0.75, 0}});

    QNL_Dmatrix pair;
    ASSERT_EQ(pair.Setup(Ints({2})), 0);
    pair.FillWith(2.0);
    ASSERT_EQ(pair.Normalize(), 0);
    ExpectSame(pair, Ref{{2}, {0.5, 0.5}});
    QNL_Dmatrix empty;
    EXPECT_EQ(empty.Normalize(), 0);
}

TEST(Dmatrix, SetToComplementUsesTheRestOfTheColumn) {
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({2, 3})), 0);
    const double cells[] = {0.2, 9, 0.5, 0.1, 0.1, 9};
    for (int i = 0; i < 6; ++i)
        m.Subscript(i) = cells[i];
    ASSERT_EQ(m.SetToComplement(1), 0);
    ASSERT_EQ(m.SetToComplement(5), 0);
    EXPECT_DOUBLE_EQ(m.Subscript(1), 0.3);
    EXPECT_DOUBLE_EQ(m.Subscript(5), 0.8);
    EXPECT_EQ(m.SetToComplement(6), -2);
}

TEST(Dmatrix, SetToSumNeedsMatchingShapes) {
    QNL_Dmatrix a, b, sum, other;
    ASSERT_EQ(a.Setup(Ints({2, 3})), 0);
    ASSERT_EQ(b.Setup(Ints({2, 3})), 0);
    ASSERT_EQ(sum.Setup(Ints({2, 3})), 0);
    ASSERT_EQ(other.Setup(Ints({3, 2})), 0);
    for (int i = 0; i < 6; ++i) {
        a.Subscript(i) = i;
        b.Subscript(i) = 10 * i;
    }
    ASSERT_EQ(sum.SetToSum(a, b), 0);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sum.Subscript(i), 11 * i);
    EXPECT_EQ(sum.SetToSum(a, other), -2);
    EXPECT_EQ(other.SetToSum(a, b), -2);
    ASSERT_EQ(a.Scale(2.0), 0);
    EXPECT_EQ(a.Subscript(5), 10.0);
}

// ---------------------------------------------------------------------------------------
// Slices and marginals

TEST_F(DmatrixRandomShapes, GetSliceAndGetSubmatrixMatchReference) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int rank = static_cast<int>(ref.dims.size());
        const QNL_Dmatrix m = FromRef(ref);

        const int dim = Draw(0, rank - 1);
        const int outcome = Draw(0, ref.dims[dim] - 1);
        QNL_Dmatrix slice;
        ASSERT_EQ(m.GetSlice(dim, outcome, slice), 0);
        std::vector<int> dims = ref.dims;
        dims.erase(dims.begin() + dim);
        ExpectSame(slice,
                   Build(dims, [&](const Coords& c) { return ref.At(With(c, dim, outcome)); }));
        EXPECT_EQ(m.GetSlice(dim, -1, slice), -2);

        std::vector<int> fixed(static_cast<std::size_t>(rank));
        std::vector<int> freeDims;
        for (int d = 0; d < rank; ++d) {
            fixed[d] = Draw(0, 1) ? -1 : Draw(0, ref.dims[d] - 1);
            if (fixed[d] < 0) freeDims.push_back(ref.dims[d]);
        }
        QNL_Dmatrix sub;
        ASSERT_EQ(m.GetSubmatrix(Ints(fixed), sub), 0);
        ExpectSame(sub, Build(freeDims, [&](const Coords& c) {
                       Coords full(fixed.size());
                       for (int d = 0, j = 0; d < rank; ++d)
                           full[d] = fixed[d] < 0 ? c[j++] : fixed[d];
                       return ref.At(full);
                   }));
        EXPECT_EQ(m.GetSubmatrix(Ints(std::vector<int>(fixed.begin(), fixed.end() - 1)), sub), -2);
    }
}

TEST(Dmatrix, SliceOfItselfAndOfTheOnlyDimension) {
    QNL_Dmatrix m;
    ASSERT_EQ(m.Setup(Ints({2, 3})), 0);
    for (int i = 0; i < 6; ++i)
        m.Subscript(i) = i;
    ASSERT_EQ(m.GetSlice(0, 1, m), 0);
    ExpectSame(m, Ref{{3}, {3, 4, 5}});
    QNL_Dmatrix result;
    ASSERT_EQ(m.GetSlice(0, 2, result), 0);
    EXPECT_EQ(result.GetNumberOfDimensions(), 0);
    ASSERT_EQ(m.GetSubmatrix(Ints({1}), result), 0);
    EXPECT_EQ(result.GetSize(), 0);
    ASSERT_EQ(m.GetSubmatrix(Ints({-1}), result), 0);
    ExpectSame(result, Ref{{3}, {3, 4, 5}});
    EXPECT_EQ(m.GetSubmatrix(Ints({3}), result), -2);
}

TEST_F(DmatrixRandomShapes, IsSliceFilledWithLooksOnlyAtTheSlice) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int rank = static_cast<int>(ref.dims.size());
        std::vector<int> fixed(static_cast<std::size_t>(rank));
        for (int d = 0; d < rank; ++d)
            fixed[d] = Draw(0, 1) ? -1 : Draw(0, ref.dims[d] - 1);
        auto inSlice = [&](const Coords& c) {
            for (int d = 0; d < rank; ++d)
                if (fixed[d] >= 0 && c[d] != fixed[d]) return false;
            return true;
        };
        Ref filled = Build(ref.dims, [&](const Coords& c) { return inSlice(c) ? 4.5 : ref.At(c); });
        QNL_Dmatrix m = FromRef(filled);
        EXPECT_EQ(m.IsSliceFilledWith(4.5, Ints(fixed)), 1);

        // Spoiling one cell outside the slice changes nothing; one inside does.
        std::vector<std::size_t> inside, outside;
        ForEachCoords(ref.dims, [&](const Coords& c) {
            (inSlice(c) ? inside : outside).push_back(filled.Index(c));
        });
        if (!outside.empty()) {
            m.Subscript(static_cast<int>(outside[Draw(0, static_cast<int>(outside.size()) - 1)])) =
                4.5 + 1e-12;
            EXPECT_EQ(m.IsSliceFilledWith(4.5, Ints(fixed)), 1);
        }
        m.Subscript(static_cast<int>(inside[Draw(0, static_cast<int>(inside.size()) - 1)])) =
            4.5 + 1e-12;
        EXPECT_EQ(m.IsSliceFilledWith(4.5, Ints(fixed)), 0);
        EXPECT_EQ(m.IsSliceFilledWith(4.5, Ints(std::vector<int>(fixed.begin(), fixed.end() - 1))),
                  -2);

        // The two-pair form against the same reference.
        const int d1 = Draw(0, rank - 1), d2 = Draw(0, rank - 1);
        const int o1 = Draw(0, ref.dims[d1] - 1);
        const int o2 = d1 == d2 ? o1 : Draw(0, ref.dims[d2] - 1);
        const QNL_Dmatrix plain = FromRef(ref);
        int expected = 1;
        const double first = plain.GetValue(Ints([&] {
            Coords c(static_cast<std::size_t>(rank), 0);
            c[d1] = o1;
            c[d2] = o2;
            return c;
        }()));
        ForEachCoords(ref.dims, [&](const Coords& c) {
            if (c[d1] == o1 && c[d2] == o2 && ref.At(c) != first) expected = 0;
        });
        EXPECT_EQ(plain.IsSliceFilledWith(first, d1, o1, d2, o2), expected);
        QNL_Dmatrix constant = FromRef(Build(
            ref.dims, [&](const Coords& c) { return c[d1] == o1 && c[d2] == o2 ? -3.0 : 1.0; }));
        EXPECT_EQ(constant.IsSliceFilledWith(-3.0, d1, o1, d2, o2), 1);
        EXPECT_EQ(constant.IsSliceFilledWith(-3.0, d1, o1, rank, 0), -2);
    }
}

TEST_F(DmatrixRandomShapes, WeightedSumOutMatchesReference) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int rank = static_cast<int>(ref.dims.size());
        const int dim = Draw(0, rank - 1);
        QNL_doubleArray weights;
        ASSERT_EQ(weights.SetSize(ref.dims[dim]), 0);
        for (int k = 0; k < ref.dims[dim]; ++k)
            weights[k] = Draw(-4, 4) * 0.5;
        std::vector<int> dims = ref.dims;
        dims.erase(dims.begin() + dim);
        const Ref expected = Build(dims, [&](const Coords& c) {
            double sum = 0.0;
            for (int k = 0; k < ref.dims[dim]; ++k)
                sum += weights[k] * ref.At(With(c, dim, k));
            return sum;
        });

        const QNL_Dmatrix source = FromRef(ref);
        QNL_Dmatrix result;
        ASSERT_EQ(source.SumOutDimension(dim, weights, result), 0);
        ExpectSame(result, expected);
        ExpectSame(source, ref);

        QNL_Dmatrix m = FromRef(ref);
        QNL_doubleArray shortWeights;
        ASSERT_EQ(shortWeights.SetSize(ref.dims[dim] - 1), 0);
        shortWeights.FillWith(1.0);
        EXPECT_EQ(m.SumOutDimension(dim, shortWeights), -2);
        EXPECT_EQ(m.SumOutDimension(rank, weights), -2);
        ExpectSame(m, ref);
        ASSERT_EQ(m.SumOutDimension(dim, weights), 0);
        ExpectSame(m, expected);
    }
    QNL_Dmatrix single;
    ASSERT_EQ(single.Setup(Ints({2})), 0);
    QNL_doubleArray two;
    ASSERT_EQ(two.SetSize(2), 0);
    ASSERT_EQ(single.SumOutDimension(0, two), 0);
    EXPECT_EQ(single.GetNumberOfDimensions(), 0);
    EXPECT_EQ(single.GetSize(), 0);
}

TEST_F(DmatrixRandomShapes, MappedSumOutMatchesReference) {
    for (int trial = 0; trial < kTrials; ++trial) {
        const Ref ref = RandomRef();
        const int rank = static_cast<int>(ref.dims.size());
        const int dim = Draw(0, rank - 1);
        // The weights follow dim and a random subset of the other dimensions, in random order.
        std::vector<int> map{dim};
        for (int d = 0; d < rank; ++d)
            if (d != dim && Draw(0, 1)) map.push_back(d);
        std::shuffle(map.begin(), map.end(), rng);
        std::vector<int> weightDims;
        for (int d : map)
            weightDims.push_back(ref.dims[d]);
        const Ref weightRef = Build(weightDims, [&](const Coords&) { return Draw(-4, 4) * 0.25; });

        std::vector<int> dims = ref.dims;
        dims.erase(dims.begin() + dim);
        const Ref expected = Build(dims, [&](const Coords& c) {
            double sum = 0.0;
            for (int k = 0; k < ref.dims[dim]; ++k) {
                const Coords full = With(c, dim, k);
                Coords w;
                for (int d : map)
                    w.push_back(full[d]);
                sum += ref.At(full) * weightRef.At(w);
            }
            return sum;
        });

        QNL_Dmatrix m = FromRef(ref);
        const QNL_Dmatrix weights = FromRef(weightRef);
        std::vector<int> shortMap(map.begin(), map.end() - 1);
        EXPECT_EQ(m.SumOutDimension(dim, weights, Ints(shortMap)), -2);
        std::vector<int> badMap = map;
        badMap[0] = rank;
        EXPECT_EQ(m.SumOutDimension(dim, weights, Ints(badMap)), -2);
        if (map.size() < static_cast<std::size_t>(rank)) {
            for (int d = 0; d < rank; ++d) {
                if (std::find(map.begin(), map.end(), d) == map.end()) {
                    EXPECT_EQ(m.SumOutDimension(d, weights, Ints(map)), -2);
                }
            }
        }
        ExpectSame(m, ref);
        ASSERT_EQ(m.SumOutDimension(dim, weights, Ints(map)), 0);
        ExpectSame(m, expected);
    }
}

TEST(Dmatrix, MappedSumOutRefusesWeightsOfAnotherSize) {
    QNL_Dmatrix m, w;
    ASSERT_EQ(m.Setup(Ints({2, 3})), 0);
    ASSERT_EQ(w.Setup(Ints({2})), 0);
    m.FillWith(1.0);
    w.FillWith(1.0);
    EXPECT_EQ(m.SumOutDimension(1, w, Ints({1})), -2); // dimension 1 has 3 outcomes
    EXPECT_EQ(m.GetSize(), 6);
    ASSERT_EQ(m.SumOutDimension(0, w, Ints({0})), 0);
    ExpectSame(m, Ref{{3}, {2, 2, 2}});
    ASSERT_EQ(w.SumOutDimension(0, w, Ints({0})), 0); // weighting by itself
    EXPECT_EQ(w.GetNumberOfDimensions(), 0);
}

} // namespace
