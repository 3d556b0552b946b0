#include "learning/pc.h"

#include "learning/count_tree.h"
#include "learning/dataset.h"
#include "learning/directed_paths.h"
#include "learning/pattern.h"
#include "learning/statistics.h"
#include "model/error_handler.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <new>

namespace {

constexpr std::size_t kMaxMemo = std::size_t{1} << 20;

int Refuse(const std::string& message) {
    return QNL_errorHandler::Instance().LogError(-1, message);
}

float FloatCell(const QNL_dataset& data, int v, int r) {
    const QNL_datasetCell cell = data.getCell(v, r);
    return data.isDiscrete(v) ? static_cast<float>(cell.i) : cell.f;
}

bool IsMissing(const QNL_dataset& data, int v, int r) {
    return data.isMissing(v, r) || (!data.isDiscrete(v) && std::isnan(data.getCell(v, r).f));
}

bool SameCells(const QNL_dataset& data, int v, int a, int b) {
    if (data.isDiscrete(v)) return data.getCell(v, a).i == data.getCell(v, b).i;
    const float x = data.getCell(v, a).f, y = data.getCell(v, b).f;
    return x == y || (std::isnan(x) && std::isnan(y));
}

// The data-set checks, in the order their messages take precedence.
int CheckData(const QNL_dataset& data) {
    const int n = data.getNumberOfVariables();
    const int records = data.getNumberOfRecords();
    if (records < 3) return Refuse("pc: too few data points");
    if (n < 2) return Refuse("pc: too few variables");
    for (int v = 1; v < n; ++v)
        if (data.isDiscrete(v) != data.isDiscrete(0))
            return Refuse("pc: a mix of continuous and discrete variables is not allowed");
    for (int v = 0; v < n; ++v) {
        int r = 1;
        while (r < records && SameCells(data, v, r, 0))
            ++r;
        if (r == records) return Refuse("pc: deterministic variable not allowed");
    }
    for (int v = 0; v < n; ++v)
        for (int r = 0; r < records; ++r)
            if (IsMissing(data, v, r)) return Refuse("pc: missing values not allowed\n");
    // An infinity turns every correlation with its column into a NaN, which the tests would
    // read as dependence; it is refused in the learning engine's words.
    for (int v = 0; v < n; ++v) {
        if (data.isDiscrete(v)) continue;
        for (int r = 0; r < records; ++r) {
            const float x = data.getCell(v, r).f;
            if (std::isinf(x))
                return Refuse("pc: variable " + data.getVariableId(v) + " holds " +
                              (x > 0 ? "inf" : "-inf") + " in record " + std::to_string(r) +
                              ", which is no value to learn from");
        }
    }
    return 0;
}

std::string PairText(const std::pair<int, int>& p) {
    return "(" + std::to_string(p.first) + ", " + std::to_string(p.second) + ")";
}

int CheckKnowledge(const QNL_pcParams& params, int n) {
    auto inside = [n](int v) { return v >= 0 && v < n; };
    for (const int v : params.excluded)
        if (!inside(v))
            return Refuse("pc: excluded variable " + std::to_string(v) +
                          " is not a variable of the data set");
    const std::pair<const std::vector<std::pair<int, int>>*, const char*> lists[] = {
        {&params.forcedArcs, "forced"}, {&params.forbiddenArcs, "forbidden"}};
    for (const auto& [list, kind] : lists)
        for (const auto& arc : *list)
            if (!inside(arc.first) || !inside(arc.second) || arc.first == arc.second)
                return Refuse(std::string("pc: ") + kind + " arc " + PairText(arc) +
                              " does not join two variables of the data set");
    for (const auto& tier : params.tiers)
        if (!inside(tier.first))
            return Refuse("pc: tier entry " + PairText(tier) +
                          " does not name a variable of the data set");
    // Knowledge that contradicts itself is refused as the learning engine refuses it, in its
    // order: each forced arc against the forced arcs before it, then the forbidden arcs.
    std::vector<std::vector<int>> forcedChildren(static_cast<std::size_t>(n));
    const auto isForced = [&](int parent, int child) {
        const auto& list = forcedChildren[static_cast<std::size_t>(parent)];
        return std::find(list.begin(), list.end(), child) != list.end();
    };
    for (const auto& arc : params.forcedArcs) {
        if (isForced(arc.first, arc.second)) continue;
        if (quarn::detail::HasArcPath(forcedChildren.size(), arc.second, arc.first,
                                      [&](int v) -> const std::vector<int>& {
                                          return forcedChildren[static_cast<std::size_t>(v)];
                                      }))
            return Refuse("pc: forced arc " + PairText(arc) +
                          " contradicts the other background knowledge");
        forcedChildren[static_cast<std::size_t>(arc.first)].push_back(arc.second);
    }
    for (const auto& arc : params.forbiddenArcs)
        if (isForced(arc.first, arc.second))
            return Refuse("pc: forbidden arc " + PairText(arc) + " is forced as well");
    return 0;
}

// Discrete columns as state indices: a column with state names keeps its cells when they
// all index a name; any other column (raw integers) is counted over its distinct values in
// ascending order.
void StateColumns(const QNL_dataset& data, std::vector<std::vector<int>>& columns,
                  std::vector<int>& states) {
    const int n = data.getNumberOfVariables();
    const int records = data.getNumberOfRecords();
    columns.assign(n, std::vector<int>(records));
    states.assign(n, 0);
    for (int v = 0; v < n; ++v) {
        const QNL_datasetCell* cells = data.getColumn(v);
        const int named = static_cast<int>(data.getStateNames(v).size());
        bool indexed = named > 0;
        for (int r = 0; r < records && indexed; ++r)
            indexed = cells[r].i >= 0 && cells[r].i < named;
        if (indexed) {
            for (int r = 0; r < records; ++r)
                columns[v][r] = cells[r].i;
            states[v] = named;
            continue;
        }
        std::vector<int> values(records);
        for (int r = 0; r < records; ++r)
            values[r] = cells[r].i;
        std::sort(values.begin(), values.end());
        values.erase(std::unique(values.begin(), values.end()), values.end());
        for (int r = 0; r < records; ++r)
            columns[v][r] = static_cast<int>(
                std::lower_bound(values.begin(), values.end(), cells[r].i) - values.begin());
        states[v] = static_cast<int>(values.size());
    }
}

// The adjacency search and the orientation of one run.
class Run {
public:
    Run(const QNL_pcParams& params, QNL_pattern& pattern, const QNL_pc::Progress& progress, int n)
        : params(params), pattern(pattern), progress(progress), n(n),
          separating(static_cast<std::size_t>(n) * n), separated(separating.size(), 0),
          forced(separating.size(), 0), excluded(n, 0), tier(n, 0) {
        for (const auto& [parent, child] : params.forcedArcs)
            forced[Cell(parent, child)] = 1;
        for (const int v : params.excluded)
            excluded[v] = 1;
        for (const auto& [variable, t] : params.tiers)
            tier[variable] = t;
    }

    QNL_adTree* counts = nullptr;
    QNL_correlationMatrix* correlations = nullptr;

    int Search();
    int Orient();

private:
    bool Cancelled() const { return progress && !progress(); }
    bool Adjacent(int a, int b) const { return pattern.GetEdge(a, b) || pattern.GetEdge(b, a); }
    std::size_t Cell(int a, int b) const { return static_cast<std::size_t>(a) * n + b; }
    std::vector<int>& Separating(int a, int b) { return separating[Cell(a, b)]; }
    // A pair whose edge a test removed, as opposed to one kept apart by a forbidden arc.
    bool Separated(int a, int b) const { return separated[Cell(a, b)] != 0; }
    // A pair joined by a forced arc, either way: its marks stay as they were forced.
    bool Forced(int a, int b) const { return forced[Cell(a, b)] || forced[Cell(b, a)]; }
    double Test(int x, int y, const std::vector<int>& z) const {
        if (counts != nullptr) return QNL_pc::TestIndependenceDiscrete(*counts, x, y, z);
        return QNL_pc::TestIndependenceContinuous(*correlations, x, y, z);
    }
    // True when x and y are independent given some d neighbours of x or of y; the set with
    // the larger p-value is their separating set.
    bool TestAdjacentPair(int x, int y, int d);
    // The largest p-value that reaches the significance among the subsets of d candidates,
    // 0 when none does; `best` gets its subset.
    double SearchSeparatingSet(int x, int y, const std::vector<int>& candidates, int d,
                               std::vector<int>& best) const;
    void Orient(int from, int to) {
        pattern.SetEdge(from, to, QNL_pattern::DIRECTED);
        pattern.SetEdge(to, from, QNL_pattern::NO_EDGE);
    }

    const QNL_pcParams& params;
    QNL_pattern& pattern;
    const QNL_pc::Progress& progress;
    const int n;
    std::vector<std::vector<int>> separating;
    std::vector<char> separated;
    std::vector<char> forced;
    std::vector<char> excluded;
    std::vector<int> tier;
};

double Run::SearchSeparatingSet(int x, int y, const std::vector<int>& candidates, int d,
                                std::vector<int>& best) const {
    const int m = static_cast<int>(candidates.size());
    if (m < d) return 0.0;
    double bestP = 0.0;
    // Positions of the subset, advanced to the next combination in lexicographic order.
    std::vector<int> position(d);
    for (int i = 0; i < d; ++i)
        position[i] = i;
    std::vector<int> z(d);
    while (true) {
        for (int i = 0; i < d; ++i)
            z[i] = candidates[position[i]];
        const double p = Test(x, y, z);
        if (p >= params.Significance && p > bestP) {
            bestP = p;
            best = z;
        }
        int i = d - 1;
        while (i >= 0 && position[i] == m - d + i)
            --i;
        if (i < 0) break;
        ++position[i];
        for (int k = i + 1; k < d; ++k)
            position[k] = position[k - 1] + 1;
    }
    return bestP;
}

bool Run::TestAdjacentPair(int x, int y, int d) {
    std::vector<int> candidates, setX, setY;
    double pX = 0.0, pY = 0.0;
    for (const int end : {x, y}) {
        candidates.clear();
        for (int v = 0; v < n; ++v)
            if (v != x && v != y && pattern.GetEdge(end, v) == QNL_pattern::UNDIRECTED &&
                !excluded[v])
                candidates.push_back(v);
        const double p = SearchSeparatingSet(x, y, candidates, d, end == x ? setX : setY);
        if (end == x)
            pX = p;
        else
            pY = p;
    }
    if (pX == 0.0 && pY == 0.0) return false;
    Separating(x, y) = pX >= pY ? setX : setY;
    Separating(y, x) = Separating(x, y);
    separated[Cell(x, y)] = separated[Cell(y, x)] = 1;
    return true;
}

int Run::Search() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto limit = std::chrono::seconds(params.MaxSearchTime);
    for (int d = 0; d <= n - 2 && d <= params.MaxAdjacency; ++d) {
        for (int x = 0; x < n; ++x)
            for (int y = x + 1; y < n; ++y) {
                if (!Adjacent(x, y)) continue;
                if (TestAdjacentPair(x, y, d)) {
                    pattern.SetEdge(x, y, QNL_pattern::NO_EDGE);
                    pattern.SetEdge(y, x, QNL_pattern::NO_EDGE);
                }
                if (params.MaxSearchTime > 0 && Clock::now() - start > limit) return 0;
                if (Cancelled()) return -2;
            }
    }
    return 0;
}

int Run::Orient() {
    for (const auto& [parent, child] : params.forcedArcs)
        Orient(parent, child);
    // Forbidding the reverse of a forced arc leaves the forced arc.
    for (const auto& [parent, child] : params.forbiddenArcs) {
        if (forced[Cell(child, parent)]) continue;
        pattern.SetEdge(parent, child, QNL_pattern::NO_EDGE);
        pattern.SetEdge(child, parent, QNL_pattern::NO_EDGE);
    }
    // An undirected edge between tiers points from the earlier tier to the later one.
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            if (i != j && tier[i] < tier[j] && pattern.GetEdge(i, j) == QNL_pattern::UNDIRECTED &&
                pattern.GetEdge(j, i) == QNL_pattern::UNDIRECTED)
                Orient(i, j);

    // V-structures a -> b <- c where a test separated a and c without b. A pair kept apart
    // by a forbidden arc alone was never found independent and so says nothing.
    for (int b = 0; b < n; ++b) {
        if (Cancelled()) return -2;
        for (int a = 0; a < n; ++a) {
            if (a == b || !Adjacent(a, b)) continue;
            for (int c = a + 1; c < n; ++c) {
                if (c == b || !Adjacent(c, b) || Adjacent(a, c) || !Separated(a, c)) continue;
                const std::vector<int>& set = Separating(a, c);
                if (std::find(set.begin(), set.end(), b) != set.end()) continue;
                for (const int end : {a, c}) {
                    if (Forced(end, b)) continue;
                    pattern.SetEdge(end, b, QNL_pattern::DIRECTED);
                    if (pattern.GetEdge(b, end) == QNL_pattern::UNDIRECTED)
                        pattern.SetEdge(b, end, QNL_pattern::NO_EDGE);
                }
            }
        }
    }

    // Edges on a directed cycle lose their direction. Only edges: a pair joined by a path
    // alone stays apart.
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            if (i != j && Adjacent(i, j) && !Forced(i, j) && pattern.HasDirectedPath(i, j) &&
                pattern.HasDirectedPath(j, i)) {
                pattern.SetEdge(i, j, QNL_pattern::UNDIRECTED);
                pattern.SetEdge(j, i, QNL_pattern::UNDIRECTED);
            }

    // Propagation; every change directs an undirected edge, so the passes end. Forced arcs
    // are never undirected, so it leaves them alone; like the v-structures, the first rule
    // reads only pairs a test separated.
    for (bool changed = true; changed;) {
        if (Cancelled()) return -2;
        changed = false;
        for (int c = 0; c < n; ++c)
            for (int a = 0; a < n; ++a)
                for (int b = a + 1; b < n; ++b) {
                    if (a == c || b == c || Adjacent(a, b) || !Separated(a, b)) continue;
                    if (pattern.GetEdge(a, c) == QNL_pattern::DIRECTED &&
                        pattern.GetEdge(b, c) == QNL_pattern::UNDIRECTED &&
                        !pattern.HasDirectedPath(b, c)) {
                        Orient(c, b);
                        changed = true;
                    } else if (pattern.GetEdge(b, c) == QNL_pattern::DIRECTED &&
                               pattern.GetEdge(a, c) == QNL_pattern::UNDIRECTED &&
                               !pattern.HasDirectedPath(a, c)) {
                        Orient(c, a);
                        changed = true;
                    }
                }
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) {
                if (pattern.GetEdge(i, j) != QNL_pattern::UNDIRECTED) continue;
                const bool forward = pattern.HasDirectedPath(i, j);
                const bool backward = pattern.HasDirectedPath(j, i);
                if (forward == backward) continue;
                if (forward)
                    Orient(i, j);
                else
                    Orient(j, i);
                changed = true;
            }
    }
    return 0;
}

} // namespace

QNL_correlationMatrix::QNL_correlationMatrix(const QNL_dataset& data)
    : n(data.getNumberOfVariables()), records(data.getNumberOfRecords()),
      r(static_cast<std::size_t>(n) * n, 0.0) {
    // One pass with running means; s holds the co-moment sums.
    std::vector<double> mean(n, 0.0), delta(n), s(static_cast<std::size_t>(n) * n, 0.0);
    for (int k = 1; k <= records; ++k) {
        const double weight = (k - 1.0) / k;
        for (int i = 0; i < n; ++i)
            delta[i] = FloatCell(data, i, k - 1) - mean[i];
        for (int i = 0; i < n; ++i) {
            double* row = &s[static_cast<std::size_t>(i) * n];
            const double di = delta[i] * weight;
            for (int j = i; j < n; ++j)
                row[j] += di * delta[j];
        }
        for (int i = 0; i < n; ++i)
            mean[i] += delta[i] / k;
    }
    const double count = records;
    for (int i = 0; i < n; ++i) {
        r[static_cast<std::size_t>(i) * n + i] = 1.0;
        for (int j = i + 1; j < n; ++j) {
            const double sii = s[static_cast<std::size_t>(i) * n + i];
            const double sjj = s[static_cast<std::size_t>(j) * n + j];
            const double sij = s[static_cast<std::size_t>(i) * n + j];
            const double value = (sij / count) / (std::sqrt(sii / count) * std::sqrt(sjj / count));
            r[static_cast<std::size_t>(i) * n + j] = value;
            r[static_cast<std::size_t>(j) * n + i] = value;
        }
    }
}

double QNL_correlationMatrix::PartialCorrelation(int i, int j, const std::vector<int>& z) {
    if (memo.size() > kMaxMemo) memo.clear();
    return Partial(i, j, z, z.size());
}

double QNL_correlationMatrix::Partial(int i, int j, const std::vector<int>& z, std::size_t length) {
    if (length == 0) return Get(i, j);
    if (i > j) std::swap(i, j);
    std::string key(reinterpret_cast<const char*>(&i), sizeof i);
    key.append(reinterpret_cast<const char*>(&j), sizeof j);
    key.append(reinterpret_cast<const char*>(z.data()), length * sizeof(int));
    const auto found = memo.find(key);
    if (found != memo.end()) return found->second;
    const int k = z[length - 1];
    const double rij = Partial(i, j, z, length - 1);
    const double rik = Partial(i, k, z, length - 1);
    const double rjk = Partial(j, k, z, length - 1);
    const double value =
        (rij - rik * rjk) / (std::sqrt(1.0 - rjk * rjk) * std::sqrt(1.0 - rik * rik));
    memo.emplace(std::move(key), value);
    return value;
}

double QNL_pc::TestIndependenceDiscrete(QNL_adTree& counts, int x, int y,
                                        const std::vector<int>& z) {
    // Degrees of freedom per configuration of z over the states of x and of y that occur in
    // it: a state that never occurs there takes its row or column of freedom along. Counting
    // every empty cell instead would take a diagonal table, dependence at its strongest, for
    // a table without freedom.
    const int rx = counts.GetNumberOfStates(x), ry = counts.GetNumberOfStates(y);
    std::vector<char> seenX(static_cast<std::size_t>(rx)), seenY(static_cast<std::size_t>(ry));
    double g = 0.0, df = 0.0;
    int left = 0, statesX = 0, statesY = 0;
    // The cells of one configuration of z come together and add up to its count.
    counts.ForEachCell(z, x, y, [&](int nz, int nxz, int nyz, int nxyz, int sx, int sy) {
        g += nxyz * (std::log(static_cast<double>(nxyz)) -
                     (std::log(static_cast<double>(nyz)) + std::log(static_cast<double>(nxz)) -
                      std::log(static_cast<double>(nz))));
        if (left == 0) {
            left = nz;
            statesX = statesY = 0;
            std::fill(seenX.begin(), seenX.end(), 0);
            std::fill(seenY.begin(), seenY.end(), 0);
        }
        char& sawX = seenX[static_cast<std::size_t>(sx)];
        char& sawY = seenY[static_cast<std::size_t>(sy)];
        statesX += sawX == 0;
        statesY += sawY == 0;
        sawX = sawY = 1;
        left -= nxyz;
        if (left == 0) df += (statesX - 1.0) * (statesY - 1.0);
    });
    // A table without a degree of freedom carries no evidence against independence.
    if (df < 1.0) return 1.0;
    // G is never negative; rounding can leave it just below 0 for a table that is
    // independence itself, where the tail would refuse it as a bad argument.
    if (g < 0.0) g = 0.0;
    return QNL_statistics::UpperIncompleteGamma(static_cast<float>(df / 2.0),
                                                static_cast<float>(g));
}

double QNL_pc::TestIndependenceContinuous(QNL_correlationMatrix& correlations, int x, int y,
                                          const std::vector<int>& z) {
    // Too few records for the set, or a perfect correlation: dependent, never a NaN that
    // would keep or drop the edge by accident.
    const double dof = correlations.GetNumberOfRecords() - static_cast<double>(z.size()) - 3.0;
    const double r = correlations.PartialCorrelation(x, y, z);
    if (!(dof > 0.0) || !(std::fabs(r) < 1.0)) return 0.0;
    const double fisher = 0.5 * std::sqrt(dof) * std::log((1.0 + r) / (1.0 - r));
    return 2.0 - 2.0 * QNL_statistics::NormalCdf(std::fabs(fisher));
}

int QNL_pc::Learn(const QNL_dataset& data, QNL_pattern& pattern, const Progress& progress) const {
    try {
        int result = CheckData(data);
        if (result == 0) result = CheckKnowledge(params, data.getNumberOfVariables());
        if (result != 0) return result;
        if (progress && !progress()) return -2;
        const int n = data.getNumberOfVariables();
        if ((result = pattern.SetSize(n)) != 0) return result;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                pattern.SetEdge(i, j, i == j ? QNL_pattern::NO_EDGE : QNL_pattern::UNDIRECTED);
        if (progress && !progress()) return -2;

        Run run(params, pattern, progress, n);
        std::vector<std::vector<int>> columns;
        std::vector<int> states;
        std::unique_ptr<QNL_adTree> counts;
        std::unique_ptr<QNL_correlationMatrix> correlations;
        if (data.isDiscrete(0)) {
            StateColumns(data, columns, states);
            std::vector<const int*> cells;
            for (const auto& column : columns)
                cells.push_back(column.data());
            counts = std::make_unique<QNL_adTree>(cells, states, data.getNumberOfRecords());
            run.counts = counts.get();
        } else {
            correlations = std::make_unique<QNL_correlationMatrix>(data);
            run.correlations = correlations.get();
        }
        result = run.Search();
        if (result == 0) result = run.Orient();
        return result;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}
