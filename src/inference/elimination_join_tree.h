#pragma once

#include "inference/clique_table.h"
#include "inference/triangulator.h"

#include <cstdint>
#include <vector>

class QNL_Dmatrix;
class QNL_intArray;
class QNL_network;
class QNL_relevanceComponent;

// A second exact engine over one component of a reduced network. Its cliques come from a
// greedy elimination ordered by a heap (fewest fill-in edges, then least weight), its tree is
// a maximum spanning tree over clique intersections (larger intersection first, then smaller
// sum of table sizes), oriented breadth first from the smallest table. Each record's table
// goes to the smallest clique holding its family; evidence enters as slices that drop the
// observed records from every table; one collect and one distribute pass follow.
//
// The tree owns its cliques, separators and their tables, and keeps their storage across
// rebuilds. Records are the component's record positions 0..N-1 throughout. A child clique
// lists the records it shares with its parent last, in the separator's order, so the
// separator's cells are the child table's cells modulo the separator size.
//
// Learning keeps one built tree and, per case, copies it (Assign), enters that case's
// evidence, propagates and reads marginals (ComputeMarginal).
class QNL_eliminationJoinTree {
public:
    // The total table size of a tree built with a limit of 0.
    static constexpr std::uint64_t DEFAULT_CAP = 0x10000000;
    // The fill-in count of a record without neighbours: taken after every other.
    static constexpr std::int64_t NO_NEIGHBOURS = 0x7FFFFFFF;

    QNL_eliminationJoinTree() = default;
    QNL_eliminationJoinTree(const QNL_eliminationJoinTree&) = delete;
    QNL_eliminationJoinTree& operator=(const QNL_eliminationJoinTree&) = delete;
    ~QNL_eliminationJoinTree() = default;

    // BuildStructure then InitPotentials. 0; -42 (logged) when the cliques' tables together
    // would exceed the limit (0: DEFAULT_CAP; at most 2^31) or memory runs out; -567 when
    // the component is not sound (a table that does not match its family). A component of
    // one record gives no clique.
    int Build(const QNL_relevanceComponent& component, std::uint64_t limit = 0);
    // The cliques, their tree and the record-to-clique assignment; no table yet.
    int BuildStructure(const QNL_relevanceComponent& component, std::uint64_t limit = 0);
    // Every clique table set to 1.0 and multiplied by the tables of its records (the tables
    // of the component the structure was built from, which must still exist); separators
    // sized. Evidence entered before is forgotten. 0 or -42.
    int InitPotentials();
    // The same in wide cells (each with its power of two), for evidence whose products leave
    // the range of a double (quarn::detail::RangeWatch tells); EnterEvidence, Propagate,
    // WriteMarginals and ComputeMarginal then work on those until InitPotentials. 0 or -42.
    int InitWidePotentials();
    // Drops every record the component observes from every clique and separator, keeping the
    // slice at its outcome. Once per InitPotentials or Assign: the component must have the
    // records of the one the tree was built from. 0, -2 for an outcome out of range or a
    // component of another size, -42.
    int EnterEvidence(const QNL_relevanceComponent& component);
    // Collect from the last separator to the first, then distribute from the first.
    void Propagate();
    // Writes each unobserved record's normalised marginal, read from the structure with the
    // fewest cells that holds it (separators first), into its node's value and marks it
    // valid; a marginal of total 0 (impossible evidence) leaves the value as it was, not
    // valid. A record observed by the reduction alone gets the certainty of its outcome.
    void WriteMarginals(const QNL_relevanceComponent& component);

    // The joint marginal of `variables` (distinct record positions) into `result`, which the
    // caller has shaped with one dimension per variable, in the given order, of that
    // variable's outcome count. It is read from the separator, else the clique, with the
    // fewest members that holds all of them (separators first; among equals the first), and
    // normalised unless its total is 0 (then it stays all zeros). 0; -2 when no structure
    // holds them (an observed record is held by none), for a variable out of range or
    // repeated, or for a result of another shape.
    int ComputeMarginal(const QNL_intArray& variables, QNL_Dmatrix& result) const;
    // Makes this tree a copy of `other`: structure, tables, evidence entered, assignment.
    // 0 or -42 (this tree is then empty).
    int Assign(const QNL_eliminationJoinTree& other);
    // Frees every clique, separator and table.
    void Clear();

    // The tree as built: cliques in propagation order (roots before their subtrees), each
    // separator oriented from its parent-side clique to its child-side clique.
    int GetNumberOfCliques() const { return static_cast<int>(cliques.size()); }
    const std::vector<int>& GetCliqueMembers(int c) const { return At(cliques, c).members; }
    const quarn::detail::CliqueTable& GetCliqueTable(int c) const { return At(cliques, c).table; }
    int GetNumberOfSeparators() const { return static_cast<int>(separators.size()); }
    const std::vector<int>& GetSeparatorMembers(int s) const { return At(separators, s).members; }
    int GetSeparatorParent(int s) const { return At(separators, s).parent; }
    int GetSeparatorChild(int s) const { return At(separators, s).child; }
    // The clique that holds a record's table, -1 for none.
    int GetAssignedClique(int record) const { return assigned[static_cast<std::size_t>(record)]; }
    // The sum of the cliques' table sizes at construction.
    std::uint64_t GetTotalCells() const { return totalCells; }
    // What the last BuildStructure looked at: adjacency tests while eliminating, and pairs of
    // cliques weighed while linking them.
    std::uint64_t GetBuildWork() const { return buildWork; }

private:
    struct Structure {
        // Record positions; table dimensions in this order, the last fastest.
        std::vector<int> members;
        quarn::detail::CliqueTable table;
        // The table in wide cells, after InitWidePotentials.
        std::vector<quarn::detail::WideCell> wide;
        std::int64_t cells = 1;
        // The members and cells before evidence dropped any.
        std::vector<int> built;
        std::int64_t builtCells = 1;
    };
    struct Clique : Structure {
        std::vector<int> separators; // the link to the parent last
        int parentSeparator = -1;
        quarn::detail::MessageCount received;
    };
    struct Separator : Structure {
        int parent = -1; // B: the parent side
        int child = -1;  // A: its members are the child's last dimensions
        // The power of two the collect message was multiplied by to keep it in range.
        int shift = 0;
        // Into axisPool: walks of the child's and of the parent's table onto this one.
        int childAxes = 0, childAxisCount = 0, parentAxes = 0, parentAxisCount = 0;
    };

    template <typename T> static const T& At(const std::vector<T>& v, int i) {
        return v[static_cast<std::size_t>(i)];
    }
    std::vector<Structure*> AllStructures();
    void Reset();
    int Eliminate(std::uint64_t cap);
    void LinkCliques();
    void Orient();
    void ListHolders();
    bool AssignTables();
    int Refuse(std::uint64_t cap);
    // Memory ran out: the tree is emptied and -42 logged.
    int OutOfMemory();
    std::int64_t CellsOf(const std::vector<int>& members) const;
    // Stride of each member of `large` in a table over `small` (0 where absent).
    void StridesOnto(const std::vector<int>& large, const int* small, std::size_t count);
    // The table passes over cells of doubles or wide cells.
    template <typename Cell> int InitPotentials();
    template <typename Cell> int Slice(Structure& s);
    template <typename Cell> void Propagate();
    template <typename Cell> void WriteMarginals(const QNL_relevanceComponent& component);
    // A structure's cells of the kind in use.
    template <typename Cell> static Cell* TableCells(Structure& s);
    template <typename Cell> static const Cell* TableCells(const Structure& s);
    void PrepareWalks();
    // The structure with the fewest members (or cells) holding every variable.
    const Structure* FindHolder(const int* variables, int count, bool byCells) const;

    quarn::detail::ComponentGraph graph;
    std::vector<int> outcomes;
    std::vector<int> observed;
    std::vector<Clique> cliques;
    std::vector<Separator> separators;
    std::vector<int> assigned;
    std::uint64_t totalCells = 0;
    std::uint64_t buildWork = 0;
    // The cliques and separators that held each record at construction, by index.
    std::vector<int> cliqueStart, cliqueList, separatorStart, separatorList;

    // Working storage, kept so that propagation allocates nothing.
    std::vector<quarn::detail::StrideAxis> axisPool;
    std::vector<std::int64_t> sizes, strides, position;
    std::vector<quarn::detail::StrideAxis> axes;
    quarn::detail::CliqueTable scratch;
    std::vector<quarn::detail::WideCell> wideScratch, wideMarginal;
    // Whether the tables in use are the wide ones.
    bool wideCells = false;
    // Storage of the tables of earlier builds.
    std::vector<quarn::detail::CliqueTable> spare;
    std::vector<double> marginal;
};

// Identifier 10: an elimination join tree per component of the relevance reduction, a
// one-record component storing its record's table. 0; -42 (logged) when a component's tree
// exceeds the default cap or memory runs out; the reduction's code when it fails. Evidence
// that a node's own table rules out given its observed parents leaves every value invalid.
int RunEliminationJoinTree(QNL_network& network);
