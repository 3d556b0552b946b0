// Fitting noisy-MAX parameters to a given probability table by coordinate moves.

#include "definitions/definition_support.h"
#include "definitions/noisy_max.h"
#include "model/error_handler.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace quarn::detail;

namespace {

// The fit's view of the table: for every table column, the parameter column of each parent
// at that column, and the target cells.
struct FitTable {
    int n = 0;
    int blocks = 0;
    std::int64_t columns = 0;
    std::vector<int> active; // columns x blocks
    std::vector<double> target;
};

// Squared distance between the point form of a cumulative column and the target column.
double ColumnDistance(const double* cumulative, const double* target, int n) {
    double d = 0.0;
    for (int k = 0; k < n; ++k) {
        double p = cumulative[k] - (k + 1 < n ? cumulative[k + 1] : 0.0);
        if (p < 0.0) p = 0.0;
        d += (p - target[k]) * (p - target[k]);
    }
    return d;
}

} // namespace

// The parameters start from the target itself: with every other parent at its distinguished
// outcome a table column is the leak combined with one parameter column, which is divided
// out in cumulative form, so a table that is itself a noisy-MAX expansion is met at once. Then
// single entries move by +-h, the best move of a pass is applied, h halves when none helps.
// A move is scored on the table columns it can change only, each from the product of the
// other columns kept for the pass. The passes are capped.
int QNL_noisyMAX::FitParametersToCpt() {
    if (!IsValid()) return -567;
    const int n = ids.GetCount();
    const int blocks = GetNumberOfBlocks();
    std::int64_t expected = n;
    for (int b = 0; b < blocks; ++b)
        expected *= GetBlockSize(b);
    if (n < 2 || cpt.GetSize() != expected) return -2;
    return Guarded([&] {
        FitTable table;
        table.n = n;
        table.blocks = blocks;
        table.columns = expected / n;
        table.target.assign(cpt.GetItems().Items(), cpt.GetItems().Items() + expected);
        const int leakColumn = ColumnOffset(blocks);
        const int columns = leakColumn + 1;

        // Parameter column of every parent at every table column (coordinates are parent
        // outcomes, first parent slowest).
        std::vector<std::vector<int>> positionOf(static_cast<std::size_t>(blocks));
        for (int b = 0; b < blocks; ++b) {
            const QNL_intArray& s = strengths[static_cast<std::size_t>(b)];
            positionOf[static_cast<std::size_t>(b)].resize(static_cast<std::size_t>(s.GetCount()));
            for (int j = 0; j < s.GetCount(); ++j)
                positionOf[static_cast<std::size_t>(b)][static_cast<std::size_t>(s[j])] = j;
        }
        table.active.resize(static_cast<std::size_t>(table.columns * blocks));
        std::vector<int> x(static_cast<std::size_t>(blocks), 0);
        for (std::int64_t col = 0; col < table.columns; ++col) {
            for (int b = 0; b < blocks; ++b)
                table.active[static_cast<std::size_t>(col * blocks + b)] =
                    ColumnOffset(b) +
                    positionOf[static_cast<std::size_t>(b)]
                              [static_cast<std::size_t>(x[static_cast<std::size_t>(b)])];
            for (int b = blocks; b-- > 0;) {
                if (++x[static_cast<std::size_t>(b)] < GetBlockSize(b)) break;
                x[static_cast<std::size_t>(b)] = 0;
            }
        }
        // Table column at the given parent outcomes.
        auto columnAt = [&](const std::vector<int>& outcomes) {
            std::int64_t col = 0;
            for (int b = 0; b < blocks; ++b)
                col = col * GetBlockSize(b) + outcomes[static_cast<std::size_t>(b)];
            return col;
        };
        std::vector<int> distinguished(static_cast<std::size_t>(blocks));
        for (int b = 0; b < blocks; ++b)
            distinguished[static_cast<std::size_t>(b)] =
                strengths[static_cast<std::size_t>(b)][GetBlockSize(b) - 1];

        // Starting point.
        std::vector<double> point(static_cast<std::size_t>(columns) * n, 0.0);
        auto pointColumn = [&](int c) { return point.data() + static_cast<std::size_t>(c) * n; };
        std::vector<double> leakCum(table.target.begin() + columnAt(distinguished) * n,
                                    table.target.begin() + columnAt(distinguished) * n + n);
        std::copy(leakCum.begin(), leakCum.end(), pointColumn(leakColumn));
        ToCumulative(leakCum.data(), n);
        for (int b = 0; b < blocks; ++b) {
            const int offset = ColumnOffset(b);
            for (int j = 0; j < GetBlockSize(b); ++j) {
                double* column = pointColumn(offset + j);
                if (j == GetBlockSize(b) - 1) {
                    column[n - 1] = 1.0;
                    continue;
                }
                std::vector<int> at(distinguished);
                at[static_cast<std::size_t>(b)] = strengths[static_cast<std::size_t>(b)][j];
                std::vector<double> q(table.target.begin() + columnAt(at) * n,
                                      table.target.begin() + columnAt(at) * n + n);
                ToCumulative(q.data(), n);
                for (int k = n - 1; k >= 0; --k) {
                    double v =
                        leakCum[static_cast<std::size_t>(k)] > 0.0
                            ? q[static_cast<std::size_t>(k)] / leakCum[static_cast<std::size_t>(k)]
                            : q[static_cast<std::size_t>(k)];
                    v = std::min(1.0,
                                 std::max(v, k + 1 < n ? q[static_cast<std::size_t>(k + 1)] : 0.0));
                    q[static_cast<std::size_t>(k)] = k == 0 ? 1.0 : v;
                }
                for (int k = 0; k < n; ++k)
                    column[k] = q[static_cast<std::size_t>(k)] -
                                (k + 1 < n ? q[static_cast<std::size_t>(k + 1)] : 0.0);
            }
        }

        std::vector<double> cum(point);
        for (int c = 0; c < columns; ++c)
            ToCumulative(cum.data() + static_cast<std::size_t>(c) * n, n);
        auto cumColumn = [&](int c) { return cum.data() + static_cast<std::size_t>(c) * n; };

        // Table columns each parameter column acts on (every one for the leak).
        std::vector<std::vector<std::int64_t>> affected(static_cast<std::size_t>(columns));
        for (std::int64_t col = 0; col < table.columns; ++col) {
            affected[static_cast<std::size_t>(leakColumn)].push_back(col);
            for (int b = 0; b < blocks; ++b)
                affected[static_cast<std::size_t>(
                             table.active[static_cast<std::size_t>(col * blocks + b)])]
                    .push_back(col);
        }

        auto tableDistance = [&]() {
            double d = 0.0;
            std::vector<double> c(static_cast<std::size_t>(n));
            for (std::int64_t col = 0; col < table.columns; ++col) {
                for (int k = 0; k < n; ++k) {
                    double v = cumColumn(leakColumn)[k];
                    for (int b = 0; b < blocks; ++b)
                        v *= cumColumn(table.active[static_cast<std::size_t>(col * blocks + b)])[k];
                    c[static_cast<std::size_t>(k)] = v;
                }
                d += ColumnDistance(c.data(), table.target.data() + col * n, n);
            }
            return d;
        };

        double h = 1.0 / n;
        double distance = tableDistance();
        std::vector<double> rest, trial(static_cast<std::size_t>(n)),
            trialCum(static_cast<std::size_t>(n)), scratch(static_cast<std::size_t>(n));
        int passes = 0;
        bool capped = false;
        while (h > FIT_MIN_STEP && distance > 0.0) {
            if (++passes > FIT_MAX_PASSES) {
                capped = true;
                break;
            }
            double best = distance;
            int bestColumn = -1;
            std::vector<double> bestValues;
            for (int c = 0; c < columns; ++c) {
                if (IsDistinguishedColumn(c)) continue;
                const auto& cols = affected[static_cast<std::size_t>(c)];
                // Product of the other columns at every affected table column.
                rest.assign(cols.size() * n, 1.0);
                double before = 0.0;
                for (std::size_t a = 0; a < cols.size(); ++a) {
                    const std::int64_t col = cols[a];
                    double* r = rest.data() + a * n;
                    for (int k = 0; k < n; ++k) {
                        double v = c == leakColumn ? 1.0 : cumColumn(leakColumn)[k];
                        for (int b = 0; b < blocks; ++b) {
                            const int other =
                                table.active[static_cast<std::size_t>(col * blocks + b)];
                            if (other != c) v *= cumColumn(other)[k];
                        }
                        r[k] = v;
                        scratch[static_cast<std::size_t>(k)] = v * cumColumn(c)[k];
                    }
                    before += ColumnDistance(scratch.data(), table.target.data() + col * n, n);
                }
                const double* current = pointColumn(c);
                for (int e = 0; e < n; ++e) {
                    for (int sign = 1; sign >= -1; sign -= 2) {
                        const double delta = sign * h;
                        const double old = current[e];
                        if (old + delta > 1.0 || old + delta < 0.0) continue;
                        for (int k = 0; k < n; ++k) {
                            if (k == e)
                                trial[static_cast<std::size_t>(k)] = old + delta;
                            else if (old == 1.0)
                                trial[static_cast<std::size_t>(k)] = current[k] - delta / (n - 1);
                            else
                                trial[static_cast<std::size_t>(k)] =
                                    current[k] - current[k] * delta / (1.0 - old);
                        }
                        trialCum = trial;
                        ToCumulative(trialCum.data(), n);
                        double after = 0.0;
                        for (std::size_t a = 0; a < cols.size(); ++a) {
                            const double* r = rest.data() + a * n;
                            for (int k = 0; k < n; ++k)
                                scratch[static_cast<std::size_t>(k)] =
                                    r[k] * trialCum[static_cast<std::size_t>(k)];
                            after += ColumnDistance(scratch.data(),
                                                    table.target.data() + cols[a] * n, n);
                        }
                        const double total = distance - before + after;
                        if (total < best) {
                            best = total;
                            bestColumn = c;
                            bestValues = trial;
                        }
                    }
                }
            }
            if (bestColumn < 0) {
                h /= 2.0;
                continue;
            }
            std::copy(bestValues.begin(), bestValues.end(), pointColumn(bestColumn));
            std::copy(bestValues.begin(), bestValues.end(), cumColumn(bestColumn));
            ToCumulative(cumColumn(bestColumn), n);
            distance = best;
        }
        // The moves can leave a column's sum off 1 and cells a rounding below 0: what is stored
        // is clamped and renormalised, so that it passes the parameters' own check.
        for (int c = 0; c < columns; ++c) {
            double* column = pointColumn(c);
            double sum = 0.0;
            for (int k = 0; k < n; ++k)
                sum += column[k] = std::max(0.0, column[k]);
            for (int k = 0; k < n; ++k)
                column[k] = sum > 0.0 ? column[k] / sum : (k == n - 1 ? 1.0 : 0.0);
        }
        if (int r = StoreParameters(columns, point)) return r;
        ResetDistinguishedColumns();
        MarkStale();
        if (capped)
            return QNL_errorHandler::Instance().LogError(
                -4, "Noisy-MAX parameter fitting stopped after " + std::to_string(FIT_MAX_PASSES) +
                        " passes");
        return 0;
    });
}
