#include "model/matrix_coordinates.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

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

QNL_Dmatrix Numbered(const std::vector<int>& dims) {
    QNL_Dmatrix m;
    EXPECT_EQ(m.Setup(Ints(dims)), 0);
    for (int i = 0; i < m.GetSize(); ++i)
        m.Subscript(i) = 100.0 + i;
    return m;
}

TEST(MatrixCoordinates, WalksEveryCellInStorageOrderAndWritesLandInTheMatrix) {
    QNL_Dmatrix m = Numbered({2, 3, 2});
    QNL_matrixCoordinates it(&m);
    int expected = 0;
    do {
        EXPECT_EQ(it.GetIndex(), expected++);
        EXPECT_EQ(m.IndexFromCoordinates(it.GetCoordinates()), it.GetIndex());
        EXPECT_EQ(it.GetElement(), 100.0 + it.GetIndex());
        it.GetElement() = -it.GetIndex();
    } while (it.Next() == 0);
    EXPECT_EQ(expected, 12);
    EXPECT_EQ(it.Next(), -2);
    EXPECT_EQ(it.GetIndex(), 11);
    EXPECT_EQ(m.Subscript(7), -7.0);
}

// Locked dimensions stay at the outcome the caller chose; the rest run as an odometer.
TEST(MatrixCoordinates, LockedDimensionsHoldTheirOutcome) {
    std::mt19937 rng(77u);
    auto draw = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<int> dims(static_cast<std::size_t>(draw(3, 4)));
        for (int& size : dims)
            size = draw(1, 4);
        const int rank = static_cast<int>(dims.size());
        QNL_Dmatrix m = Numbered(dims);
        QNL_matrixCoordinates it(&m);
        std::vector<int> held(dims.size(), -1);
        for (int d = 0; d < rank; ++d)
            if (draw(0, 2) == 0) {
                held[d] = draw(0, dims[d] - 1);
                ASSERT_EQ(it.LockDimension(d), 0);
                it[d] = held[d];
            }
        ASSERT_EQ(it.ComputeIndex(), 0);

        std::vector<int> expected;
        QNL_intArray c;
        for (int i = 0; i < m.GetSize(); ++i) {
            ASSERT_EQ(m.CoordinatesFromIndex(i, c), 0);
            bool inSlice = true;
            for (int d = 0; d < rank; ++d)
                inSlice = inSlice && (held[d] < 0 || c[d] == held[d]);
            if (inSlice) expected.push_back(i);
        }
        std::vector<int> visited;
        do {
            visited.push_back(it.GetIndex());
            EXPECT_EQ(it.GetElement(), 100.0 + it.GetIndex());
        } while (it.Next() == 0);
        EXPECT_EQ(visited, expected);

        // Unlocked and back at the start, the walk covers the whole table.
        ASSERT_EQ(it.UnlockAll(), 0);
        ASSERT_EQ(it.GoFirst(), 0);
        int cells = 1;
        while (it.Next() == 0)
            ++cells;
        EXPECT_EQ(cells, m.GetSize());
    }
}

TEST(MatrixCoordinates, BadCoordinatesSendTheCursorToTheFirstCell) {
    QNL_Dmatrix m = Numbered({2, 3});
    QNL_matrixCoordinates it(&m);
    it[0] = 1;
    it[1] = -3;
    EXPECT_EQ(it.ComputeIndex(), -2);
    EXPECT_EQ(it.GetIndex(), 0);
    EXPECT_EQ(it[0], 0);
    EXPECT_EQ(it[1], 0);
    // A coordinate past its dimension would address another cell or none at all.
    it[0] = 0;
    it[1] = 3; // one past the last outcome
    EXPECT_EQ(it.ComputeIndex(), -2);
    EXPECT_EQ(it.GetIndex(), 0);
    EXPECT_EQ(it[1], 0);

    ASSERT_EQ(it.GoTo(4), 0);
    EXPECT_EQ(it[0], 1);
    EXPECT_EQ(it[1], 1);
    EXPECT_EQ(it.GetElement(), 104.0);
    it.GoTo(6);
    EXPECT_EQ(it.GetIndex(), 0);
    EXPECT_EQ(it[0], 0);
    EXPECT_EQ(it[1], 0);
    EXPECT_EQ(it.LockDimension(2), -2);
    EXPECT_EQ(it.LockDimension(-1), -2);
}

TEST(MatrixCoordinates, CursorWithoutCellsNeverTouchesMemoryOutsideTheMatrix) {
    QNL_matrixCoordinates none;
    EXPECT_EQ(none.Next(), -2);
    EXPECT_EQ(none.GetElement(), 0.0);
    none.GetElement() = 5.0; // lands in the cursor's spare cell
    EXPECT_EQ(none.GetElement(), 0.0);

    QNL_Dmatrix m = Numbered({4, 4});
    QNL_matrixCoordinates it(&m);
    ASSERT_EQ(it.GoTo(15), 0);
    ASSERT_EQ(m.Setup(Ints({2})), 0); // reshaped under the cursor
    m.FillWith(1.0);
    EXPECT_EQ(it.GetElement(), 0.0);
    EXPECT_EQ(m.Subscript(0), 1.0);
}

} // namespace
