#pragma once

#include <vector>

class QNL_dataset;
class QNL_network;

// The graph that structure learning produces over the variables of a data set: n x n edge
// marks, 0 for no edge, 1 for an undirected edge (set both ways) and 2 for a directed edge
// i -> j (set on (i, j) only). The host reads and edits it mark by mark, tests it for cycles
// and turns a directed acyclic pattern into a network.
class QNL_pattern {
public:
    static constexpr int NO_EDGE = 0;
    static constexpr int UNDIRECTED = 1;
    static constexpr int DIRECTED = 2;

    int GetSize() const { return size; }
    // Marks inside the new size stay; new cells are 0. A negative size counts as 0. 0, or -42
    // (logged, the pattern as it was) when n x n marks exceed the limit of a table.
    int SetSize(int n);
    // No range checks: callers validate the indices.
    int GetEdge(int i, int j) const { return marks[Cell(i, j)]; }
    void SetEdge(int i, int j, int mark) { marks[Cell(i, j)] = mark; }

    // A path of directed edges from i to j (a pair marked 2 both ways is not followed); true
    // for i == j.
    bool HasDirectedPath(int i, int j) const;
    bool HasCycle() const;
    // No undirected edge, no pair marked 2 both ways, no cycle.
    bool IsDAG() const;

    // Adds a node per data-set variable and an arc per directed edge to the network. Node
    // types: CPT when some variable is discrete, else equation nodes. Identifiers are the
    // variable ids repaired by the identifier rule and made unique in the network; names are
    // the ids as they stand; a variable with two or more state names gives its node those
    // outcomes. False, with the network as it was, when the pattern is not a DAG (the first
    // two-way pair or the cycle logged), does not have one variable per data-set column, or a
    // node or arc is refused.
    bool MakeNetwork(const QNL_dataset& data, QNL_network& network) const;

private:
    int Cell(int i, int j) const { return i * size + j; }
    // The first pair i < j marked undirected (UNDIRECTED) or directed both ways (DIRECTED), in
    // row-major order; NO_EDGE when there is none.
    int FirstTwoWayPair(int& i, int& j) const;
    // The variables of the first cycle HasCycle finds, the first one repeated at the end;
    // empty when there is no cycle.
    std::vector<int> FindCycle() const;

    int size = 0;
    std::vector<int> marks; // row-major, size * size
};
