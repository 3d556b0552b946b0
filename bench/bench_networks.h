#pragma once

// The networks the benchmarks share: the real networks of the shared data folder, and
// synthetic ones from a fixed random stream, binary grids and banded random DAGs of CPT nodes
// whose tables have no zero cells, so any evidence is possible.

#include "quarn.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace quarn_bench {

struct NetworkFile {
    const char* name;
    const char* path; // below the networks folder
    // Join trees of millions of cells: a few iterations are enough.
    bool large;
};

inline const NetworkFile kRealNetworks[] = {
    {"alarm", "net/alarm.net", false},         {"hailfinder", "net/hailfinder.net", false},
    {"win95pts", "net/win95pts.net", false},   {"insurance", "net/insurance.net", false},
    {"water", "net/water.net", false},         {"mildew", "xmlbif/mildew.xml", true},
    {"barley", "net/barley.net", true},        {"hepar2", "net/hepar2.net", false},
    {"andes", "xmlbif/andes.xml", false},      {"pigs", "xmlbif/pigs.xml", false},
    {"link", "xmlbif/link.xml", true},         {"munin", "xmlbif/munin.xml", true},
    {"diabetes", "xmlbif/diabetes.xml", true},
};

inline std::string PathOf(const NetworkFile& file) {
    return std::string(QUARN_SHARED_DIR) + "/data/networks/" + file.path;
}

// XMLBIF files end in ".xml", which names no format of its own.
inline int FormatOf(const std::string& path) {
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".xml") == 0 ? QNL_FORMAT_XMLBIF : 0;
}

inline bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

inline std::uint64_t Next(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in [0, 1).
inline double Uniform(std::uint64_t& state) {
    return static_cast<double>(Next(state) >> 11) * 0x1.0p-53;
}

// One joint draw of every node, parents first, from the nodes' own tables: evidence taken
// from it is possible.
inline std::vector<int> ForwardSample(QNL_network& net, std::uint64_t seed) {
    std::vector<int> outcome(static_cast<std::size_t>(net.GetTableSize()), 0);
    const QNL_intArray order(net.GetOrderedNodes());
    for (int i = 0; i < order.GetCount(); ++i) {
        const int h = order[i];
        const QNL_Dmatrix* table = net.GetNode(h)->GetDefinition()->GetMatrix();
        const QNL_intArray& parents = net.GetParents(h);
        const int own = table->GetNumberOfDimensions() - 1;
        long long cell = 0;
        for (int p = 0; p < parents.GetCount(); ++p)
            cell += static_cast<long long>(outcome[static_cast<std::size_t>(parents[p])]) *
                    table->GetMultiplier(p);
        const int outcomes = table->GetSizeOfDimension(own);
        double u = Uniform(seed);
        int chosen = -1;
        for (int k = 0; k < outcomes; ++k) {
            const double p =
                table->Subscript(static_cast<int>(cell + k * table->GetMultiplier(own)));
            if (p > 0.0) chosen = k;
            if (u < p) break;
            u -= p;
        }
        outcome[static_cast<std::size_t>(h)] = chosen < 0 ? 0 : chosen;
    }
    return outcome;
}

inline int AddNode(QNL_network& net, int index, int outcomes) {
    const int handle = net.AddNode(QNL_TYPE_CPT, ("n" + std::to_string(index)).c_str());
    net.GetNode(handle)->GetDefinition()->SetNumberOfOutcomes(outcomes);
    return handle;
}

inline void FillTables(QNL_network& net, const std::vector<int>& handles, std::uint64_t seed) {
    for (int handle : handles) {
        QNL_nodeDefinition* definition = net.GetNode(handle)->GetDefinition();
        const int outcomes = definition->GetNumberOfOutcomes();
        QNL_doubleArray values;
        values.SetSize(definition->GetMatrix()->GetSize());
        for (int start = 0; start < values.GetSize(); start += outcomes) {
            double sum = 0.0;
            for (int k = 0; k < outcomes; ++k)
                sum += values[start + k] = 0.05 + Uniform(seed);
            for (int k = 0; k < outcomes; ++k)
                values[start + k] /= sum;
        }
        definition->SetDefinition(values);
    }
}

// A rows x columns binary grid, each cell's parents above and to the left; the handles row by
// row.
inline std::vector<int> BuildGrid(QNL_network& net, int rows, int columns) {
    std::vector<int> h;
    for (int i = 0; i < rows * columns; ++i)
        h.push_back(AddNode(net, i, 2));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int cell = h[static_cast<std::size_t>(r * columns + c)];
            if (r > 0) net.AddArc(h[static_cast<std::size_t>((r - 1) * columns + c)], cell);
            if (c > 0) net.AddArc(h[static_cast<std::size_t>(r * columns + c - 1)], cell);
        }
    FillTables(net, h, 11);
    return h;
}

// Two to maxOutcomes outcomes, up to three parents each, drawn from the `window` nodes before
// it (parents drawn from all earlier nodes give a treewidth no exact method handles at these
// sizes). The handles in creation order.
inline std::vector<int> BuildRandomDag(QNL_network& net, int nodes, int maxOutcomes, int window) {
    std::uint64_t seed = 5;
    std::vector<int> h;
    for (int i = 0; i < nodes; ++i)
        h.push_back(AddNode(
            net, i,
            2 + static_cast<int>(Next(seed) % static_cast<std::uint64_t>(maxOutcomes - 1))));
    for (int i = 1; i < nodes; ++i) {
        const int parents = static_cast<int>(Next(seed) % 4);
        const int span = i < window ? i : window;
        for (int k = 0; k < parents; ++k) {
            const int parent =
                i - 1 - static_cast<int>(Next(seed) % static_cast<std::uint64_t>(span));
            net.AddArc(h[static_cast<std::size_t>(parent)], h[static_cast<std::size_t>(i)]);
        }
    }
    FillTables(net, h, 17);
    return h;
}

} // namespace quarn_bench
