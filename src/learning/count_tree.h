#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

// Record counts over discrete columns, built lazily: a count node holds the records that
// agree with one configuration of a sequence of variables, and below it a vary node per
// further variable splits those records by state. A sequence of variables is counted in one
// pass over the records the first time it is asked for; later queries over it, or over one of
// its prefixes, are lookups. Queries are answered whatever the order of their pairs (they are
// sorted by variable first). Columns are borrowed, not owned, and must outlive the tree. A
// record with a cell that is not a state index of its variable is left out of every count.
class QNL_adTree {
public:
    // One column of `records` cells per variable and its number of states. A variable with
    // no states logs "adtree: number of states is 0" under -1; no record matches it.
    QNL_adTree(std::vector<const int*> columns, std::vector<int> states, int records);

    int GetNumberOfVariables() const { return static_cast<int>(columns.size()); }
    // The records counted (those whose every cell is a state index of a variable with
    // states).
    int GetNumberOfRecords() const { return static_cast<int>(rows.size()); }
    int GetNumberOfStates(int variable) const { return states[variable]; }

    // The number of records with the given (variable, state) pairs; the record count for an
    // empty query and 0 for a variable or state out of range.
    int Count(std::vector<std::pair<int, int>> query);

    // Visits every cell (z, x, y) of the table of x and y given the variables `given` that
    // some record falls in, as visit(Nz, Nxz, Nyz, Nxyz, state of x, state of y); cells with
    // no record are not visited, and the cells of one configuration of `given` come together.
    // `given` must not hold x or y, nor a variable twice.
    template <typename Visit>
    void ForEachCell(const std::vector<int>& given, int x, int y, Visit visit);

private:
    struct CountNode {
        int count;       // also the length of its record list
        int firstVary;   // -1: none
        int firstRecord; // its records: pool[firstRecord .. firstRecord + count)
    };
    struct VaryNode {
        int variable;
        int next;      // the next vary node of the same count node, -1: none
        int firstSlot; // states[variable] slots, each a count node or -1
    };

    int FindVary(int node, int variable);
    int AddVary(int node, int variable);
    // Makes sure every level of the sequence is counted.
    void Build(const std::vector<int>& sequence);
    // Before a query: a tree grown past its bound starts again from the root, so a long run
    // of queries over many sequences keeps its memory bounded.
    void MakeRoom();

    std::vector<const int*> columns;
    std::vector<int> states;
    std::vector<int> rows; // the records counted
    std::vector<CountNode> nodes;
    std::vector<VaryNode> varies;
    std::vector<int> slots;
    std::vector<int> pool; // record lists of the count nodes, each a contiguous range
};

template <typename Visit>
void QNL_adTree::ForEachCell(const std::vector<int>& given, int x, int y, Visit visit) {
    MakeRoom();
    // Only (given, x, y) is split: N(y, z) is the sum of N(x, y, z) over x, which costs less
    // than splitting every record of z by y a second time.
    std::vector<int> sequence(given);
    sequence.push_back(x);
    sequence.push_back(y);
    Build(sequence);
    std::vector<int> nyz(static_cast<std::size_t>(states[y]));
    const std::size_t depth = given.size();
    // Depth-first over the configurations of `given` that occur; (node, level) pairs.
    std::vector<std::pair<int, std::size_t>> stack{{0, 0}};
    while (!stack.empty()) {
        const auto [node, level] = stack.back();
        stack.pop_back();
        if (level < depth) {
            const int vary = FindVary(node, given[level]);
            if (vary < 0) continue;
            const VaryNode& v = varies[vary];
            for (int s = 0; s < states[v.variable]; ++s) {
                const int child = slots[v.firstSlot + s];
                if (child >= 0) stack.emplace_back(child, level + 1);
            }
            continue;
        }
        const int varyX = FindVary(node, x);
        if (varyX < 0) continue;
        const int nz = nodes[node].count;
        std::fill(nyz.begin(), nyz.end(), 0);
        for (int pass = 0; pass < 2; ++pass) {
            for (int sx = 0; sx < states[x]; ++sx) {
                const int nodeX = slots[varies[varyX].firstSlot + sx];
                if (nodeX < 0) continue;
                const int varyXY = FindVary(nodeX, y);
                if (varyXY < 0) continue;
                for (int sy = 0; sy < states[y]; ++sy) {
                    const int cell = slots[varies[varyXY].firstSlot + sy];
                    if (cell < 0 || nodes[cell].count == 0) continue;
                    if (pass == 0)
                        nyz[static_cast<std::size_t>(sy)] += nodes[cell].count;
                    else
                        visit(nz, nodes[nodeX].count, nyz[static_cast<std::size_t>(sy)],
                              nodes[cell].count, sx, sy);
                }
            }
        }
    }
}
