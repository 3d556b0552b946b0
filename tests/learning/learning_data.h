#pragma once

// Data sets and structure summaries shared by the learning tests.

#include "learning/dataset.h"
#include "learning/engine_network.h"
#include "model/network.h"
#include "model/node.h"
#include "support/network_builder.h"
#include "support/random_network.h"
#include "support/sampled_data.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace learning_test {

inline std::vector<int> Handles(QNL_network& net) {
    std::vector<int> handles;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        handles.push_back(h);
    return handles;
}

inline std::vector<std::string> OutcomesOf(QNL_network& net, int handle) {
    return quarn_test::IdsOf(net.GetNode(handle)->GetDefinition());
}

// Records of every node with the outcome identifiers as state names, so the data match the
// network again; a share of the cells after the first column blanked.
inline QNL_dataset NamedSample(QNL_network& net, int records, double missing, std::uint64_t seed) {
    const std::vector<int> handles = Handles(net);
    QNL_dataset data = quarn_test::SampleDataSet(net, handles, records, 0.0, seed);
    quarn_test::TestRandom random(seed + 7);
    for (int v = 1; v < data.getNumberOfVariables(); ++v)
        for (int r = 0; r < records; ++r)
            if (random.Uniform() < missing) data.setCell(v, r, QNL_IntCell(-1));
    for (std::size_t v = 0; v < handles.size(); ++v)
        data.setStateNames(static_cast<int>(v), OutcomesOf(net, handles[v]));
    return data;
}

// Integer columns named by `ids` or else "V0", "V1", ...; -1 marks a missing cell.
inline QNL_dataset IntColumns(const std::vector<std::vector<int>>& columns,
                              const std::vector<std::string>& ids = {}) {
    QNL_dataset data;
    for (std::size_t v = 0; v < columns.size(); ++v) {
        std::vector<QNL_datasetCell> cells;
        for (const int value : columns[v])
            cells.push_back(QNL_IntCell(value));
        data.addIntVariable(v < ids.size() ? ids[v] : "V" + std::to_string(v), &cells, -1);
    }
    return data;
}

// The arcs of an engine network as (parent, child), or as unordered pairs.
template <class Net> std::set<std::pair<int, int>> ArcsOf(const Net& net, bool directed = true) {
    std::set<std::pair<int, int>> arcs;
    for (int i = 0; i < net.GetNumberOfNodes(); ++i)
        for (const int p : net.GetNode(i)->GetParents())
            arcs.insert(directed ? std::make_pair(p, i)
                                 : std::make_pair(std::min(p, i), std::max(p, i)));
    return arcs;
}

// Eight binary nodes in handle order, each with up to two earlier parents (chance 0.3 each) that
// move it a long way the same direction; returns the true arcs.
inline std::set<std::pair<int, int>> StrongRandomNetwork(QNL_network& truth, std::uint64_t seed) {
    quarn_test::TestRandom random(seed);
    std::set<std::pair<int, int>> arcs;
    for (int i = 0; i < 8; ++i) {
        std::vector<int> parents;
        for (int p = 0; p < i && parents.size() < 2; ++p)
            if (random.Uniform() < 0.3) parents.push_back(p);
        const bool up = random.Uniform() < 0.5;
        const std::size_t k = parents.size();
        std::vector<double> pFirst;
        for (std::size_t j = 0; j < (std::size_t{1} << k); ++j) {
            const double p =
                0.1 + 0.8 * (k == 0 ? 0.3 : __builtin_popcountll(j) / static_cast<double>(k));
            pFirst.push_back(up ? p : 1.0 - p);
        }
        for (const int p : parents)
            arcs.insert({p, i});
        quarn_test::AddBinaryNode(truth, ("N" + std::to_string(i)).c_str(), parents, pFirst);
    }
    return arcs;
}

// The largest score gain of any single removal, addition (acyclic, the child kept within
// `maxParents`) or, with `reversals`, acyclic reversal, each priced on the families it changes:
// above zero when the search stopped short of a local optimum.
inline double BestSingleArcGain(QNL_learnNetwork& net, int maxParents, bool reversals = false) {
    double best = -1e300;
    auto price = [&](const std::vector<int>& family, auto move, auto undo) {
        const double before = net.ScoreNetwork(&family);
        if (move() != 1) return;
        best = std::max(best, net.ScoreNetwork(&family) - before);
        undo();
    };
    for (int x = 0; x < net.GetNumberOfNodes(); ++x)
        for (int y = 0; y < net.GetNumberOfNodes(); ++y) {
            if (y == x) continue;
            if (net.GetNode(x)->HasParent(y)) {
                price(
                    {x}, [&] { return net.RemoveArc(y, x); }, [&] { net.AddArc(y, x); });
                if (reversals)
                    price(
                        {x, y}, [&] { return net.ReverseArcIfAcyclic(y, x); },
                        [&] { net.ReverseArc(x, y); });
            } else if (static_cast<int>(net.GetNode(x)->GetParents().size()) < maxParents) {
                price(
                    {x}, [&] { return net.AddArcIfAcyclic(y, x); }, [&] { net.RemoveArc(y, x); });
            }
        }
    return best;
}

// The cells of an engine node's data column.
template <class T> std::vector<T> CellsOf(const QNL_dataColumn<T>& column) {
    std::vector<T> cells;
    for (int r = 0; r < column.Size(); ++r)
        cells.push_back(column[r]);
    return cells;
}

inline int ArcCount(QNL_network& net) {
    int arcs = 0;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        arcs += net.GetParents(h).GetCount();
    return arcs;
}

} // namespace learning_test
