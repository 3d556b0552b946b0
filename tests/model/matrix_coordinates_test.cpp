#include "model/matrix_coordinates.h"

#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

QNL_Dmatrix Numbered(const std::vector<int>& dims) {
    QNL_Dmatrix m;
    EXPECT_EQ(m.Setup(quarn_test::IntsOf(dims)), 0);
    for (int i = 0; i < m.GetSize(); ++i)
        m.Subscript(i) = 100.0 + i;
    return m;
}

// Locked dimensions stay at the outcome the caller chose; the rest run as an odometer in
// storage order, and writes through the cursor land in the matrix.
TEST(MatrixCoordinates, WalksTheCellsOfTheUnlockedDimensionsInStorageOrder) {
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
            if (trial % 3 != 0 && draw(0, 2) == 0) {
                held[d] = draw(0, dims[d] - 1);
                ASSERT_EQ(it.LockDimension(d), 0);
                it[d] = held[d];
            }
        ASSERT_EQ(it.ComputeIndex(), 0);
        std::vector<int> expected, visited;
        QNL_intArray c;
        for (int i = 0; i < m.GetSize(); ++i) {
            ASSERT_EQ(m.CoordinatesFromIndex(i, c), 0);
            bool inSlice = true;
            for (int d = 0; d < rank; ++d)
                inSlice = inSlice && (held[d] < 0 || c[d] == held[d]);
            if (inSlice) expected.push_back(i);
        }
        do {
            visited.push_back(it.GetIndex());
            EXPECT_EQ(m.IndexFromCoordinates(it.GetCoordinates()), it.GetIndex());
            EXPECT_EQ(it.GetElement(), 100.0 + it.GetIndex());
            it.GetElement() = -it.GetIndex();
        } while (it.Next() == 0);
        EXPECT_EQ(visited, expected);
        EXPECT_EQ(it.Next(), -2);
        EXPECT_EQ(m.Subscript(expected.back()), -expected.back());
        // Unlocked and back at the start, the walk covers the whole table.
        ASSERT_EQ(it.UnlockAll(), 0);
        ASSERT_EQ(it.GoFirst(), 0);
        int cells = 1;
        while (it.Next() == 0)
            ++cells;
        EXPECT_EQ(cells, m.GetSize());
    }
}

// Bad coordinates send the cursor to the first cell; without cells it touches no memory
// outside the matrix, also when the matrix is reshaped under it.
TEST(MatrixCoordinates, BadCoordinatesAndMissingCellsAreHarmless) {
    QNL_Dmatrix m = Numbered({2, 3});
    QNL_matrixCoordinates it(&m);
    for (const std::vector<int>& bad : {std::vector<int>{1, -3}, {0, 3}}) {
        it[0] = bad[0];
        it[1] = bad[1];
        EXPECT_EQ(it.ComputeIndex(), -2);
        EXPECT_EQ((std::vector<int>{it.GetIndex(), it[0], it[1]}), (std::vector<int>{0, 0, 0}));
    }
    ASSERT_EQ(it.GoTo(4), 0);
    EXPECT_EQ((std::vector<int>{it[0], it[1]}), (std::vector<int>{1, 1}));
    EXPECT_EQ(it.GetElement(), 104.0);
    it.GoTo(6);
    EXPECT_EQ((std::vector<int>{it.GetIndex(), it[0], it[1]}), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(it.LockDimension(2), -2);
    EXPECT_EQ(it.LockDimension(-1), -2);

    QNL_matrixCoordinates none;
    EXPECT_EQ(none.Next(), -2);
    none.GetElement() = 5.0; // lands in the cursor's spare cell
    EXPECT_EQ(none.GetElement(), 0.0);
    QNL_Dmatrix big = Numbered({4, 4});
    QNL_matrixCoordinates late(&big);
    ASSERT_EQ(late.GoTo(15), 0);
    ASSERT_EQ(big.Setup(quarn_test::IntsOf({2})), 0);
    big.FillWith(1.0);
    EXPECT_EQ(late.GetElement(), 0.0);
}

} // namespace
