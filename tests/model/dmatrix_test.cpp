#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/matrix_coordinates.h"

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

Ref Numbered(const std::vector<int>& dims) {
    double next = 0.0;
    return Build(dims, [&](const Coords&) { return next++; });
}

// Each trial takes one random table through every reshaping and reading operation and
// compares the result with the reference computed the slow way; refused calls leave it alone.
TEST_F(DmatrixRandomShapes, EveryOperationMatchesTheReference) {
    for (int trial = 0; trial < 60; ++trial) {
        const Ref ref = RandomRef();
        const int rank = static_cast<int>(ref.dims.size());
        const int dim = Draw(0, rank - 1);
        const int outcome = Draw(0, ref.dims[dim] - 1);
        std::vector<int> dropped = ref.dims; // the shape without dim
        dropped.erase(dropped.begin() + dim);
        QNL_Dmatrix m = FromRef(ref);

        QNL_intArray walk;
        ASSERT_EQ(m.CoordinatesFromIndex(0, walk), 0);
        for (int i = 0; i < m.GetSize(); ++i) {
            QNL_intArray c;
            ASSERT_EQ(m.CoordinatesFromIndex(i, c), 0);
            EXPECT_TRUE(c == walk) << "index " << i;
            EXPECT_EQ(m.IndexFromCoordinates(c), i);
            EXPECT_EQ(m.NextCoordinates(walk), i + 1 < m.GetSize() ? 0 : -2);
        }

        const int position = Draw(0, rank);
        const int size = Draw(1, 4);
        ASSERT_EQ(m.InsertDimension(position, size), 0);
        std::vector<int> dims = ref.dims;
        dims.insert(dims.begin() + position, size);
        ExpectSame(m, Build(dims, [&](const Coords& c) { return ref.At(Without(c, position)); }));

        m = FromRef(ref);
        EXPECT_EQ(m.RemoveDimension(dim, ref.dims[dim]), -2);
        EXPECT_EQ(m.RemoveDimension(rank, 0), -2);
        ExpectSame(m, ref);
        ASSERT_EQ(m.RemoveDimension(dim, outcome), 0);
        ExpectSame(m,
                   Build(dropped, [&](const Coords& c) { return ref.At(With(c, dim, outcome)); }));

        // Inserting an outcome in the middle shifts later outcomes up.
        m = FromRef(ref);
        const int at = Draw(0, ref.dims[dim]); // may be the new last outcome
        ASSERT_EQ(m.AddOutcome(dim), 0);
        ASSERT_EQ(m.ShiftDataUpwards(dim, at, 0.25), 0);
        dims = ref.dims;
        ++dims[dim];
        EXPECT_EQ(m.ShiftDataUpwards(dim, dims[dim], 0.0), -2);
        ExpectSame(m, Build(dims, [&](Coords c) {
                       if (c[dim] == at) return 0.25;
                       if (c[dim] > at) --c[dim];
                       return ref.At(c);
                   }));

        // Deleting one shifts later outcomes down and clears the last before it goes.
        m = FromRef(ref);
        if (ref.dims[dim] == 1) {
            EXPECT_EQ(m.RemoveLastOutcome(dim), -2);
        } else {
            ASSERT_EQ(m.ShiftDataDownwards(dim, outcome), 0);
            auto shifted = [&](Coords c) {
                if (c[dim] >= outcome) ++c[dim];
                return c[dim] == ref.dims[dim] ? 0.0 : ref.At(c);
            };
            ExpectSame(m, Build(ref.dims, shifted));
            ASSERT_EQ(m.RemoveLastOutcome(dim), 0);
            dims = ref.dims;
            --dims[dim];
            ExpectSame(m, Build(dims, shifted));
        }

        const std::vector<int> order = Permutation(rank);
        m = FromRef(ref);
        std::vector<int> repeated = order;
        repeated[0] = repeated[1];
        EXPECT_EQ(m.ReorderDimensions(Ints(repeated)), -2);
        EXPECT_EQ(m.ReorderDimensions(Ints(std::vector<int>(order.begin(), order.end() - 1))), -2);
        ExpectSame(m, ref);
        ASSERT_EQ(m.ReorderDimensions(Ints(order)), 0);
        for (int i = 0; i < rank; ++i)
            dims[i] = ref.dims[order[i]];
        dims.resize(static_cast<std::size_t>(rank));
        ExpectSame(m, Build(dims, [&](const Coords& c) {
                       Coords old(order.size());
                       for (int i = 0; i < rank; ++i)
                           old[order[i]] = c[i];
                       return ref.At(old);
                   }));

        const std::vector<int> outcomes = Permutation(ref.dims[dim]);
        m = FromRef(ref);
        EXPECT_EQ(m.ReorderOutcomes(rank, Ints(outcomes)), -2);
        EXPECT_EQ(m.ReorderOutcomes(dim, Ints(std::vector<int>(outcomes.size(), 0))),
                  outcomes.size() == 1 ? 0 : -2);
        std::vector<int> longer = outcomes;
        longer.push_back(static_cast<int>(outcomes.size()));
        EXPECT_EQ(m.ReorderOutcomes(dim, Ints(longer)), -2);
        ExpectSame(m, ref);
        ASSERT_EQ(m.ReorderOutcomes(dim, Ints(outcomes)), 0);
        ExpectSame(m, Build(ref.dims, [&](Coords c) {
                       c[dim] = outcomes[c[dim]];
                       return ref.At(c);
                   }));

        // Slices: one outcome of one dimension, then a random set of fixed dimensions.
        const QNL_Dmatrix source = FromRef(ref);
        QNL_Dmatrix slice;
        ASSERT_EQ(source.GetSlice(dim, outcome, slice), 0);
        ExpectSame(slice,
                   Build(dropped, [&](const Coords& c) { return ref.At(With(c, dim, outcome)); }));
        EXPECT_EQ(source.GetSlice(dim, -1, slice), -2);
        std::vector<int> fixed(static_cast<std::size_t>(rank));
        std::vector<int> freeDims;
        for (int d = 0; d < rank; ++d) {
            fixed[d] = Draw(0, 1) ? -1 : Draw(0, ref.dims[d] - 1);
            if (fixed[d] < 0) freeDims.push_back(ref.dims[d]);
        }
        const std::vector<int> shortFixed(fixed.begin(), fixed.end() - 1);
        ASSERT_EQ(source.GetSubmatrix(Ints(fixed), slice), 0);
        ExpectSame(slice, Build(freeDims, [&](const Coords& c) {
                       Coords full(fixed.size());
                       for (int d = 0, j = 0; d < rank; ++d)
                           full[d] = fixed[d] < 0 ? c[j++] : fixed[d];
                       return ref.At(full);
                   }));
        EXPECT_EQ(source.GetSubmatrix(Ints(shortFixed), slice), -2);

        // A slice filled with one value; spoiling a cell outside it changes nothing.
        auto inSlice = [&](const Coords& c) {
            for (int d = 0; d < rank; ++d)
                if (fixed[d] >= 0 && c[d] != fixed[d]) return false;
            return true;
        };
        const Ref filled =
            Build(ref.dims, [&](const Coords& c) { return inSlice(c) ? 4.5 : ref.At(c); });
        std::vector<int> inside, outside;
        ForEachCoords(ref.dims, [&](const Coords& c) {
            (inSlice(c) ? inside : outside).push_back(static_cast<int>(filled.Index(c)));
        });
        // A cursor with the fixed dimensions locked walks the slice in storage order.
        m = FromRef(filled);
        QNL_matrixCoordinates cursor(&m);
        for (int d = 0; d < rank; ++d)
            if (fixed[d] >= 0) {
                ASSERT_EQ(cursor.LockDimension(d), 0);
                cursor[d] = fixed[d];
            }
        ASSERT_EQ(cursor.ComputeIndex(), 0);
        std::vector<int> visited;
        do {
            visited.push_back(cursor.GetIndex());
            EXPECT_EQ(m.IndexFromCoordinates(cursor.GetCoordinates()), cursor.GetIndex());
            EXPECT_EQ(cursor.GetElement(), 4.5);
        } while (cursor.Next() == 0);
        EXPECT_EQ(visited, inside);
        ASSERT_EQ(cursor.UnlockAll(), 0);
        ASSERT_EQ(cursor.GoFirst(), 0);
        int cells = 1;
        while (cursor.Next() == 0)
            ++cells;
        EXPECT_EQ(cells, m.GetSize());
        EXPECT_EQ(m.IsSliceFilledWith(4.5, Ints(fixed)), 1);
        if (!outside.empty()) {
            m.Subscript(outside[Draw(0, static_cast<int>(outside.size()) - 1)]) = 4.5 + 1e-12;
            EXPECT_EQ(m.IsSliceFilledWith(4.5, Ints(fixed)), 1);
        }
        m.Subscript(inside[Draw(0, static_cast<int>(inside.size()) - 1)]) = 4.5 + 1e-12;
        EXPECT_EQ(m.IsSliceFilledWith(4.5, Ints(fixed)), 0);
        EXPECT_EQ(m.IsSliceFilledWith(4.5, Ints(shortFixed)), -2);
        const int d2 = Draw(0, rank - 1);
        const int o2 = d2 == dim ? outcome : Draw(0, ref.dims[d2] - 1);
        m = FromRef(Build(ref.dims, [&](const Coords& c) {
            return c[dim] == outcome && c[d2] == o2 ? -3.0 : 1.0;
        }));
        EXPECT_EQ(m.IsSliceFilledWith(-3.0, dim, outcome, d2, o2), 1);
        EXPECT_EQ(m.IsSliceFilledWith(1.0, dim, outcome, d2, o2), 0);
        EXPECT_EQ(m.IsSliceFilledWith(-3.0, dim, outcome, rank, 0), -2);
    }
}

TEST_F(DmatrixRandomShapes, WeightedSumOutMatchesReference) {
    for (int trial = 0; trial < 60; ++trial) {
        const Ref ref = RandomRef();
        const int rank = static_cast<int>(ref.dims.size());
        const int dim = Draw(0, rank - 1);
        std::vector<int> dims = ref.dims;
        dims.erase(dims.begin() + dim);

        // Plain weights on dim, then weights that follow dim and a random subset of the
        // other dimensions, in random order.
        QNL_doubleArray weights;
        ASSERT_EQ(weights.SetSize(ref.dims[dim]), 0);
        for (int k = 0; k < ref.dims[dim]; ++k)
            weights[k] = Draw(-4, 4) * 0.5;
        std::vector<int> map{dim};
        for (int d = 0; d < rank; ++d)
            if (d != dim && Draw(0, 1)) map.push_back(d);
        std::shuffle(map.begin(), map.end(), rng);
        std::vector<int> weightDims;
        for (int d : map)
            weightDims.push_back(ref.dims[d]);
        const Ref weightRef = Build(weightDims, [&](const Coords&) { return Draw(-4, 4) * 0.25; });
        auto expected = [&](bool mapped) {
            return Build(dims, [&](const Coords& c) {
                double sum = 0.0;
                for (int k = 0; k < ref.dims[dim]; ++k) {
                    const Coords full = With(c, dim, k);
                    Coords w;
                    for (int d : map)
                        w.push_back(full[d]);
                    sum += ref.At(full) * (mapped ? weightRef.At(w) : weights[k]);
                }
                return sum;
            });
        };

        const QNL_Dmatrix source = FromRef(ref);
        QNL_Dmatrix result;
        ASSERT_EQ(source.SumOutDimension(dim, weights, result), 0);
        ExpectSame(result, expected(false));
        ExpectSame(source, ref);
        QNL_Dmatrix m = FromRef(ref);
        QNL_doubleArray shortWeights;
        ASSERT_EQ(shortWeights.SetSize(ref.dims[dim] - 1), 0);
        EXPECT_EQ(m.SumOutDimension(dim, shortWeights), -2);
        EXPECT_EQ(m.SumOutDimension(rank, weights), -2);
        ASSERT_EQ(m.SumOutDimension(dim, weights), 0);
        ExpectSame(m, expected(false));

        m = FromRef(ref);
        const QNL_Dmatrix weightMatrix = FromRef(weightRef);
        std::vector<int> badMap = map;
        badMap[0] = rank;
        EXPECT_EQ(m.SumOutDimension(dim, weightMatrix, Ints(badMap)), -2);
        badMap.assign(map.begin(), map.end() - 1);
        EXPECT_EQ(m.SumOutDimension(dim, weightMatrix, Ints(badMap)), -2);
        for (int d = 0; d < rank; ++d) {
            const bool inMap = std::find(map.begin(), map.end(), d) != map.end();
            EXPECT_TRUE(inMap || m.SumOutDimension(d, weightMatrix, Ints(map)) == -2) << d;
        }
        ExpectSame(m, ref);
        ASSERT_EQ(m.SumOutDimension(dim, weightMatrix, Ints(map)), 0);
        ExpectSame(m, expected(true));
    }
}

// Addressing, refused shapes (bad, or past the table cap, where the size wraps in 64 bits),
// and long orders on small fixed matrices; every refusal leaves the matrix as it was.
TEST(Dmatrix, AddressingAndShapesAreCheckedAndRefusalsChangeNothing) {
    QNL_errorHandler::Instance().Flush();
    QNL_Dmatrix m = FromRef(Numbered({2, 3}));
    EXPECT_EQ(m.CheckedSubscript(Ints({1, 1})), &m.Subscript(4));
    for (const std::vector<int>& bad : {std::vector<int>{1}, {-1, 0}, {0, 3}, {2, 0}})
        EXPECT_EQ(m.CheckedSubscript(Ints(bad)), nullptr);
    EXPECT_EQ(m.IndexFromCoordinates(Ints({INT_MAX, INT_MAX})), -1);
    const std::vector<int> forty(40, 4); // 4^40 cells wraps to 0 in 64 bits
    const int refusals[] = {m.Setup(Ints({2, 0})),          m.Setup(nullptr, -1),
                            m.SetDimensionSize(2, 3),       m.SetDimensionSize(0, 0),
                            m.InsertDimension(3, 2),        m.InsertDimension(0, 0),
                            m.Setup(Ints(forty)),           m.Setup(Ints({65536, 32768})),
                            m.SetDimensionSize(0, INT_MAX), m.InsertDimension(1, INT_MAX),
                            m.AddDimension(400000000)};
    EXPECT_EQ(std::vector<int>(std::begin(refusals), std::end(refusals)),
              (std::vector<int>{-2, -2, -2, -2, -2, -2, -42, -42, -42, -42, -42}));
    ExpectSame(m, Numbered({2, 3}));
    EXPECT_EQ(
        QNL_errorHandler::Instance().GetCode(QNL_errorHandler::Instance().GetNumberOfErrors() - 1),
        -42);
    EXPECT_EQ(QNL_Dmatrix(Ints(forty)).GetNumberOfDimensions(), 0);
    EXPECT_EQ(QNL_Dmatrix(Ints({3, -1})).GetNumberOfDimensions(), 0);
    QNL_Dmatrix grown;
    ASSERT_EQ(grown.Setup(Ints({65536})), 0);
    EXPECT_EQ(grown.AddDimension(32768), -42); // exactly 2^31 cells
    EXPECT_EQ(grown.GetSize(), 65536);
    QNL_errorHandler::Instance().Flush();

    // Orders longer than any inline buffer are permutation-checked too.
    std::vector<int> reversed(70), repeated;
    for (int k = 0; k < 70; ++k)
        reversed[k] = 69 - k;
    repeated = reversed;
    repeated[0] = 0; // 0 twice, 69 missing
    QNL_Dmatrix wide = FromRef(Numbered({2, 70}));
    EXPECT_EQ(wide.ReorderOutcomes(1, Ints(repeated)), -2);
    ASSERT_EQ(wide.ReorderOutcomes(1, Ints(reversed)), 0);
    EXPECT_EQ(std::make_pair(wide.Subscript(0), wide.Subscript(70)), std::make_pair(69.0, 139.0));
    QNL_Dmatrix flat = FromRef(Numbered(std::vector<int>(70, 1)));
    EXPECT_EQ(flat.ReorderDimensions(Ints(repeated)), -2);
    EXPECT_EQ(flat.ReorderDimensions(Ints(reversed)), 0);
}

TEST(Dmatrix, CopiesArithmeticAndSlicesOfItself) {
    QNL_Dmatrix m = FromRef(Numbered({2, 2}));
    QNL_Dmatrix copy(m), assigned;
    ASSERT_EQ(assigned.Assign(m), 0);
    ASSERT_EQ(m.AddOutcome(0), 0); // a new outcome starts from zero cells
    ExpectSame(m, Ref{{3, 2}, {0, 1, 2, 3, 0, 0}});
    ExpectSame(copy, Numbered({2, 2}));
    ExpectSame(assigned, Numbered({2, 2}));
    QNL_Dmatrix v;
    ASSERT_EQ(v.InsertDimension(0, 2), 0); // on the empty matrix: just the shape
    v.Subscript(0) = 8.0;
    v.Subscript(1) = 9.0;
    ASSERT_EQ(v.InsertDimension(0, 2), 0);
    ExpectSame(v, Ref{{2, 2}, {8, 9, 8, 9}});

    QNL_Dmatrix n = FromRef(Ref{{3, 3}, {0, 0, 0, 2, 2, 4, 0.25, 0.75, 0}});
    ASSERT_EQ(n.Normalize(), 0); // an all-zero column becomes uniform
    ExpectSame(n, Ref{{3, 3}, {1.0 / 3, 1.0 / 3, 1.0 / 3, 0.25, 0.25, 0.5, 0.25, 0.75, 0}});
    QNL_Dmatrix c = FromRef(Ref{{2, 3}, {0.2, 9, 0.5, 0.1, 0.1, 9}});
    ASSERT_EQ(c.SetToComplement(1), 0);
    ASSERT_EQ(c.SetToComplement(5), 0);
    EXPECT_EQ(c.SetToComplement(6), -2);
    ExpectSame(c, Ref{{2, 3}, {0.2, 0.3, 0.5, 0.1, 0.1, 0.8}});
    QNL_Dmatrix a = FromRef(Numbered({2, 3})), sum = a, other = FromRef(Numbered({3, 2}));
    ASSERT_EQ(sum.SetToSum(a, a), 0);
    ASSERT_EQ(a.Scale(2.0), 0);
    ExpectSame(sum, ToRef(a));
    EXPECT_EQ(sum.SetToSum(a, other), -2);
    EXPECT_EQ(other.SetToSum(a, a), -2);

    QNL_Dmatrix s = FromRef(Numbered({2, 3})), result;
    ASSERT_EQ(s.GetSlice(0, 1, s), 0);
    ExpectSame(s, Ref{{3}, {3, 4, 5}});
    ASSERT_EQ(s.GetSlice(0, 2, result), 0);
    EXPECT_EQ(result.GetNumberOfDimensions(), 0);
    ASSERT_EQ(s.GetSubmatrix(Ints({-1}), result), 0);
    ExpectSame(result, Ref{{3}, {3, 4, 5}});
    EXPECT_EQ(s.GetSubmatrix(Ints({3}), result), -2);
    QNL_Dmatrix w = FromRef(Ref{{2}, {1, 1}});
    EXPECT_EQ(s.SumOutDimension(0, w, Ints({0})), -2); // three outcomes, two weights
    ASSERT_EQ(w.SumOutDimension(0, w, Ints({0})), 0);
    EXPECT_EQ(w.GetNumberOfDimensions(), 0);
}

// Bad coordinates send a cursor to the first cell; without cells it touches no memory
// outside the matrix, also when the matrix is reshaped under it.
TEST(MatrixCoordinates, BadCoordinatesAndMissingCellsAreHarmless) {
    QNL_Dmatrix m = FromRef(Numbered({2, 3}));
    QNL_matrixCoordinates it(&m);
    for (const std::vector<int>& bad : {std::vector<int>{1, -3}, {0, 3}}) {
        it[0] = bad[0];
        it[1] = bad[1];
        EXPECT_EQ(it.ComputeIndex(), -2);
        EXPECT_EQ((std::vector<int>{it.GetIndex(), it[0], it[1]}), (std::vector<int>{0, 0, 0}));
    }
    ASSERT_EQ(it.GoTo(4), 0);
    EXPECT_EQ((std::vector<int>{it[0], it[1]}), (std::vector<int>{1, 1}));
    EXPECT_EQ(it.GetElement(), 4.0);
    it.GoTo(6);
    EXPECT_EQ((std::vector<int>{it.GetIndex(), it[0], it[1]}), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(std::make_pair(it.LockDimension(2), it.LockDimension(-1)), std::make_pair(-2, -2));
    QNL_matrixCoordinates none;
    EXPECT_EQ(none.Next(), -2);
    none.GetElement() = 5.0; // lands in the cursor's spare cell
    EXPECT_EQ(none.GetElement(), 0.0);
    ASSERT_EQ(it.GoTo(5), 0);
    ASSERT_EQ(m.Setup(Ints({2})), 0);
    m.FillWith(1.0);
    EXPECT_EQ(it.GetElement(), 0.0);
}

} // namespace
