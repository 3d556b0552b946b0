#include "inference/clique_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

using quarn::detail::MAX_STRIDE_AXES;
using quarn::detail::StrideAxis;
using quarn::detail::Strides;

namespace {

// A large table of random shape and a smaller one reached through a random subset (and
// order) of its dimensions, possibly sliced at a fixed offset.
struct Layout {
    std::vector<std::int64_t> sizes;        // large table, slowest first
    std::vector<std::int64_t> smallStrides; // 0 where the small table does not vary
    std::int64_t start = 0;
    std::int64_t largeCells = 1;
    std::int64_t smallCells = 1;
};

Layout RandomLayout(std::mt19937& random) {
    Layout layout;
    const int axes = static_cast<int>(random() % 5);
    std::vector<int> kept;
    for (int a = 0; a < axes; ++a) {
        // Innermost runs of every short length, and a few long ones.
        const std::int64_t size = random() % 6 == 0 ? 9 + random() % 20 : 1 + random() % 8;
        layout.sizes.push_back(size);
        layout.smallStrides.push_back(0);
        layout.largeCells *= size;
        if (random() % 3 != 0) kept.push_back(a);
    }
    // The small table's own order: the kept dimensions shuffled, plus a sliced one in front.
    std::shuffle(kept.begin(), kept.end(), random);
    std::int64_t stride = 1;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        layout.smallStrides[static_cast<std::size_t>(*it)] = stride;
        stride *= layout.sizes[static_cast<std::size_t>(*it)];
    }
    const std::int64_t slices = 1 + random() % 3;
    layout.start = static_cast<std::int64_t>(random() % slices) * stride;
    layout.smallCells = stride * slices;
    return layout;
}

// The small table's cell for each large cell, in the large table's linear order.
std::vector<std::int64_t> SmallOffsets(const Layout& layout) {
    std::vector<std::int64_t> offsets;
    const std::size_t axes = layout.sizes.size();
    std::vector<std::int64_t> digit(axes, 0);
    for (std::int64_t cell = 0; cell < layout.largeCells; ++cell) {
        std::int64_t at = layout.start;
        for (std::size_t a = 0; a < axes; ++a)
            at += digit[a] * layout.smallStrides[a];
        offsets.push_back(at);
        for (std::size_t a = axes; a-- > 0;) {
            if (++digit[a] < layout.sizes[a]) break;
            digit[a] = 0;
        }
    }
    return offsets;
}

std::vector<double> RandomCells(std::mt19937& random, std::int64_t count, bool zeros) {
    std::uniform_real_distribution<double> value(0.0, 1.0);
    std::vector<double> cells(static_cast<std::size_t>(count));
    for (double& cell : cells)
        cell = zeros && random() % 4 == 0 ? 0.0 : value(random);
    return cells;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

} // namespace

// Every kernel against the same operations done cell by cell in the large table's order:
// the results must agree to the bit, whatever the run lengths and strides of the walk.
TEST(CliqueTableKernelTest, StridedKernelsMatchCellByCellArithmeticBitForBit) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 3000; ++trial) {
        const Layout layout = RandomLayout(random);
        StrideAxis axes[MAX_STRIDE_AXES];
        const int count =
            quarn::detail::BuildStrideAxes(layout.sizes.data(), layout.smallStrides.data(),
                                           static_cast<int>(layout.sizes.size()), axes);
        const Strides strides{axes, count, layout.start};
        const std::vector<std::int64_t> at = SmallOffsets(layout);
        const std::size_t cells = at.size();
        const std::vector<double> large = RandomCells(random, layout.largeCells, false);
        const std::vector<double> small = RandomCells(random, layout.smallCells, false);
        const std::vector<double> old = RandomCells(random, layout.smallCells, true);
        SCOPED_TRACE(trial);

        std::vector<double> expected(cells);
        std::vector<double> got(cells);
        for (std::size_t i = 0; i < cells; ++i)
            expected[i] = small[static_cast<std::size_t>(at[i])];
        quarn::detail::SetStrided(got.data(), small.data(), strides);
        EXPECT_TRUE(SameBits(expected, got)) << "set";

        expected = large;
        got = large;
        for (std::size_t i = 0; i < cells; ++i)
            expected[i] *= small[static_cast<std::size_t>(at[i])];
        quarn::detail::MultiplyStrided(got.data(), small.data(), strides);
        EXPECT_TRUE(SameBits(expected, got)) << "multiply";

        expected = large;
        got = large;
        for (std::size_t i = 0; i < cells; ++i) {
            const std::size_t s = static_cast<std::size_t>(at[i]);
            expected[i] = old[s] == 0.0 ? 0.0 : expected[i] / old[s] * small[s];
        }
        quarn::detail::DivideMultiplyStrided(got.data(), old.data(), small.data(), strides);
        EXPECT_TRUE(SameBits(expected, got)) << "divide and multiply";

        // The marginal's sums run in the large table's cell order.
        expected.assign(small.size(), 0.0);
        got = small;
        for (std::size_t i = 0; i < cells; ++i)
            expected[static_cast<std::size_t>(at[i])] += large[i];
        quarn::detail::MarginalizeInto(got.data(), layout.smallCells, large.data(), strides);
        EXPECT_TRUE(SameBits(expected, got)) << "marginal";

        expected = old;
        got = old;
        for (std::size_t i = 0; i < cells; ++i)
            expected[static_cast<std::size_t>(at[i])] += large[i];
        quarn::detail::AccumulateStrided(got.data(), large.data(), strides);
        EXPECT_TRUE(SameBits(expected, got)) << "accumulate";
    }
}

// The same walks over wide cells, on tables whose cells are all 2^-600 times those above:
// every product and quotient then leaves the range of a double, and the watch says so, while
// the wide cells hold the very digits the doubles give on the unscaled tables (scaling by a
// power of two is exact, so no rounding differs).
TEST(CliqueTableKernelTest, WideCellsKeepTheDigitsDoublesLoseBelowTheirRange) {
    using quarn::detail::WideCell;
    std::mt19937 random(17);
    auto wide = [](const std::vector<double>& cells) {
        std::vector<WideCell> out;
        for (double cell : cells)
            out.emplace_back(cell, -600);
        return out;
    };
    auto expectShifted = [](const std::vector<WideCell>& got, const std::vector<double>& expected,
                            int shift, const char* what) {
        std::vector<double> back;
        for (const WideCell& cell : got)
            back.push_back(cell.Shifted(shift));
        EXPECT_TRUE(SameBits(expected, back)) << what;
    };
    for (int trial = 0; trial < 1000; ++trial) {
        const Layout layout = RandomLayout(random);
        StrideAxis axes[MAX_STRIDE_AXES];
        const Strides strides{
            axes,
            quarn::detail::BuildStrideAxes(layout.sizes.data(), layout.smallStrides.data(),
                                           static_cast<int>(layout.sizes.size()), axes),
            layout.start};
        const std::vector<double> large = RandomCells(random, layout.largeCells, false);
        const std::vector<double> small = RandomCells(random, layout.smallCells, true);
        const std::vector<double> old = RandomCells(random, layout.smallCells, true);
        SCOPED_TRACE(trial);

        std::vector<double> expected = large;
        quarn::detail::MultiplyStrided(expected.data(), small.data(), strides);
        std::vector<WideCell> got = wide(large);
        quarn::detail::MultiplyStrided(got.data(), wide(small).data(), strides);
        expectShifted(got, expected, 1200, "multiply");
        // The doubles themselves: in range on the plain tables, not on the scaled ones.
        std::vector<double> tiny = large, tinySmall = old;
        for (double& cell : tiny)
            cell = std::ldexp(cell, -600);
        for (double& cell : tinySmall)
            cell = std::ldexp(cell, -600);
        std::vector<double> plain = large;
        {
            const quarn::detail::RangeWatch watch;
            quarn::detail::MultiplyStrided(plain.data(), small.data(), strides);
            EXPECT_FALSE(watch.Left());
            quarn::detail::MultiplyStrided(tiny.data(), tinySmall.data(), strides);
            bool anyProduct = false;
            for (std::int64_t at : SmallOffsets(layout))
                anyProduct = anyProduct || old[static_cast<std::size_t>(at)] > 0.0;
            EXPECT_EQ(watch.Left(), anyProduct);
        }

        expected = large;
        quarn::detail::DivideMultiplyStrided(expected.data(), old.data(), small.data(), strides);
        got = wide(large);
        quarn::detail::DivideMultiplyStrided(got.data(), wide(old).data(), wide(small).data(),
                                             strides);
        expectShifted(got, expected, 600, "divide and multiply");

        expected = small;
        quarn::detail::MarginalizeInto(expected.data(), layout.smallCells, large.data(), strides);
        got = wide(small);
        quarn::detail::MarginalizeInto(got.data(), layout.smallCells, wide(large).data(), strides);
        expectShifted(got, expected, 600, "marginal");
    }
}

TEST(CliqueTableTest, StorageThatCannotBeHadIsRefused) {
    quarn::detail::CliqueTable table;
    ASSERT_TRUE(table.Resize(8));
    table.Fill(0.5);
    EXPECT_FALSE(table.Resize(std::int64_t{1} << 62));
    EXPECT_EQ(table.Size(), 8);
    EXPECT_EQ(table.Cells()[7], 0.5);
    EXPECT_FALSE(table.Resize(-1));
}

// Products of thousands of factors against the same product in long double, whose exponent
// reaches far below a double's: while the plain double product is a normal number the scaled
// one is that very double; beyond, its logarithm holds, and it reads as 0 (underflowing)
// exactly when the product is below half the smallest subnormal.
TEST(ScaledValueTest, ProductsKeepTheirDigitsBelowTheRangeOfADouble) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> factor(0.02, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(trial);
        quarn::detail::ScaledValue scaled;
        double plain = 1.0;
        long double log2 = 0.0L;
        const int length = 1 + static_cast<int>(random() % 3000);
        for (int i = 0; i < length; ++i) {
            const double f = trial % 10 == 0 && i == length / 2 ? 0x1p-600 : factor(random);
            scaled.Multiply(f);
            plain *= f;
            log2 += std::log2(static_cast<long double>(f));
            if (plain >= 0x1p-1000) {
                ASSERT_EQ(scaled.Value(), plain) << "factor " << i;
            }
        }
        EXPECT_NEAR(scaled.Log10(), static_cast<double>(log2 * 0.30102999566398119521L), 1e-9);
        if (log2 < -1076.0L || log2 > -1074.0L) {
            EXPECT_EQ(scaled.Underflows(), log2 < -1075.0L);
        }
        if (log2 > -1022.0L) {
            EXPECT_NEAR(scaled.Value(), static_cast<double>(std::exp2(log2)),
                        1e-12 * static_cast<double>(std::exp2(log2)));
        }
    }
    EXPECT_FALSE(quarn::detail::ScaledValue(0.0, 0).Underflows());
    EXPECT_EQ(quarn::detail::ScaledValue(0.75, -1100).Value(), 0.0);
    EXPECT_EQ(quarn::detail::ScaledValue(0.75, -1060).Value(), std::ldexp(0.75, -1060));
}

// A message shifted back into range keeps every cell's digits (it is its cells times a power of
// two) and has a mean of about 1; one whose mean lies well within the band is left alone, and
// so is a table of zeros.
TEST(ScaledValueTest, ShiftingAMessageChangesNoDigitOfItsCells) {
    std::mt19937 random(13);
    const struct {
        int power;
        bool shifted;
    } cases[] = {{-1060, true}, {-700, true}, {-200, true}, {-20, false},
                 {0, false},    {20, false},  {200, true},  {900, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.power);
        for (bool zeros : {false, true}) {
            const std::int64_t count = zeros ? 3 : 1 + static_cast<std::int64_t>(random() % 40);
            std::vector<double> cells = RandomCells(random, count, false);
            for (double& cell : cells)
                cell = zeros ? 0.0 : std::ldexp(0.25 + cell, c.power);
            const std::vector<double> before = cells;
            double mean = -1.0;
            const int shift = quarn::detail::ShiftMessage(cells.data(), count, mean);
            EXPECT_EQ(shift != 0, c.shifted && !zeros);
            std::vector<double> expected = before;
            for (double& cell : expected)
                cell = std::ldexp(cell, shift);
            EXPECT_TRUE(SameBits(expected, cells));
            if (shift == 0) continue;
            const double after =
                std::accumulate(cells.begin(), cells.end(), 0.0) / static_cast<double>(count);
            EXPECT_GE(after, 0.99);
            EXPECT_LT(after, 2.01);
        }
    }
}
