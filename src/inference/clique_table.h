#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace quarn::detail {

// Storage of dropped clique tables kept for the next tree of the same owner, so that a
// rebuilt tree takes back memory whose pages are already mapped instead of paying the kernel
// for fresh ones. Tables go back to the pool that is active on the thread when they are let
// go (see Scope); without one they are freed. The pool holds at most its limit in cells and
// frees the rest.
class TablePool {
public:
    // 2^28 cells (2 GiB of doubles): the tables of the largest trees updated in one piece.
    static constexpr std::uint64_t DEFAULT_LIMIT = std::uint64_t(1) << 28;

    TablePool() = default;
    TablePool(const TablePool&) = delete;
    TablePool& operator=(const TablePool&) = delete;
    ~TablePool() { Release(); }

    // Storage of at least `cells` cells, its capacity in `capacity`; null when the pool has
    // none of that size.
    double* Take(std::int64_t cells, std::int64_t& capacity);
    // Keeps the storage if it fits under the limit, frees it otherwise.
    void Give(double* cells, std::int64_t capacity);
    // Frees everything held.
    void Release();
    // Frees what the new limit leaves no room for.
    void SetLimit(std::uint64_t cells);
    std::uint64_t GetLimit() const { return limit; }
    std::uint64_t GetHeldCells() const { return held; }

    // Makes a pool the active one of this thread for the scope's life (null: none).
    class Scope {
    public:
        explicit Scope(TablePool* pool) : previous(active) { active = pool; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        ~Scope() { active = previous; }

    private:
        TablePool* previous;
    };
    static TablePool* Active() { return active; }

private:
    void Trim();

    static thread_local TablePool* active;
    // Held storage by capacity, smallest first. A tree of a hundred thousand cliques gives
    // back as many tables: a sorted vector made that quadratic.
    std::multimap<std::int64_t, double*> free;
    std::uint64_t held = 0;
    std::uint64_t limit = DEFAULT_LIMIT;
};

// The cells of one clique or separator table: contiguous doubles, last dimension fastest, the
// dimensions being the owner's member list. Storage only grows; resizing keeps nothing and
// leaves the cells unset, so the first pass that writes them is the only one. Storage comes
// from and goes back to the active pool when there is one; large tables are populated at once.
class CliqueTable {
public:
    CliqueTable() = default;
    CliqueTable(const CliqueTable&) = delete;
    CliqueTable& operator=(const CliqueTable&) = delete;
    CliqueTable(CliqueTable&& other) noexcept { *this = std::move(other); }
    CliqueTable& operator=(CliqueTable&& other) noexcept;
    ~CliqueTable() { Free(); }

    // False, with the table unchanged, when the storage cannot be had.
    bool Resize(std::int64_t cells);
    void Free();
    void Fill(double value);

    // The cells, their count and the room allocated for them.
    double* Cells() { return cells; }
    const double* Cells() const { return cells; }
    std::int64_t Size() const { return size; }
    std::int64_t Capacity() const { return capacity; }

private:
    double* cells = nullptr;
    std::int64_t size = 0;
    std::int64_t capacity = 0;
};

// One merged axis of a walk: how many steps it takes, and how far the pointer into the
// smaller table moves per step.
struct StrideAxis {
    std::int64_t size;
    std::int64_t stride;
};

// Where a linear walk over a large table meets a smaller (or differently ordered) table:
// the axes innermost first, and the offset in the smaller table of the large table's first
// cell. Axes of size 1 are dropped and neighbouring axes that stay contiguous in the smaller
// table are merged, so most walks are a few long runs. No axes means a one-cell walk.
struct Strides {
    const StrideAxis* axes = nullptr;
    int count = 0;
    std::int64_t start = 0;
};

// Room for the axes of any clique table.
constexpr int MAX_STRIDE_AXES = 31;

// Fills out (room for `axes` entries) from the large table's dimension sizes, slowest
// first, and the smaller table's stride along each of them (0 where it does not vary);
// returns the number of merged axes.
int BuildStrideAxes(const std::int64_t* sizes, const std::int64_t* smallStrides, int axes,
                    StrideAxis* out);

// The large table is walked linearly over its `cells` cells; the other one through strides.
// destination = source
void SetStrided(double* destination, const double* source, const Strides& strides);
// destination *= source
void MultiplyStrided(double* destination, const double* source, const Strides& strides);
// destination = destination / old * fresh, 0.0 wherever old is 0.0; old and fresh share
// one layout.
void DivideMultiplyStrided(double* destination, const double* old, const double* fresh,
                           const Strides& strides);
// destination += source, the source being the large table.
void AccumulateStrided(double* destination, const double* source, const Strides& strides);
// destination += source / s.
void AccumulateScaled(double* destination, const double* source, double s, const Strides& strides);
// destination (of destinationCells cells) = 0, then AccumulateStrided.
void MarginalizeInto(double* destination, std::int64_t destinationCells, const double* source,
                     const Strides& strides);
double SumTable(const double* cells, std::int64_t count);

} // namespace quarn::detail

// One clique of a clustering join tree. Member and separator lists hold record indices in
// ascending order once the triangulation has linked the cliques; the assigned list names
// the records whose conditional tables are multiplied into the potential. The potential's
// dimensions are the member list, the separator table's the separator list.
class QNL_clique {
public:
    static constexpr int MAX_MEMBERS = 30;

    int memberCount = 0;
    int members[MAX_MEMBERS] = {};
    // The members shared with cliques created later.
    int separatorCount = 0;
    int separator[MAX_MEMBERS] = {};
    // The record whose elimination created the clique.
    int creator = -1;
    // Product of the members' state counts at creation (observed members count 1).
    std::uint32_t weight = 0;
    // Creation index of the parent clique, -1 for the root.
    int parent = -1;
    int assignedCount = 0;
    int assigned[MAX_MEMBERS] = {};

    quarn::detail::CliqueTable potential;
    quarn::detail::CliqueTable separatorTable;
    // Into the descriptor pool of the tree: clique potential onto the separator, and the
    // parent's potential onto the separator.
    int toSeparatorFirst = 0;
    int toSeparatorCount = 0;
    int parentToSeparatorFirst = 0;
    int parentToSeparatorCount = 0;
    // Whether the potential holds its tables (lazily built by the probability of evidence).
    bool built = false;

    bool HasMember(int record) const;
};

// The cliques of one join tree in creation order, with the parent-to-child links the
// triangulation found (children in creation order).
class QNL_cliqueStore {
public:
    QNL_cliqueStore() = default;
    QNL_cliqueStore(const QNL_cliqueStore&) = delete;
    QNL_cliqueStore& operator=(const QNL_cliqueStore&) = delete;
    ~QNL_cliqueStore() = default;

    // The cliques in creation order.
    int GetCount() const { return count; }
    QNL_clique& operator[](int index) { return cliques[static_cast<std::size_t>(index)]; }
    const QNL_clique& operator[](int index) const {
        return cliques[static_cast<std::size_t>(index)];
    }
    // A new clique at the end of the creation order, with no members and no table cells (a
    // clique left by Reset keeps its tables' storage); throws bad_alloc like the containers.
    QNL_clique& Append();
    void Reserve(int cliqueCount) {
        if (cliques.size() < static_cast<std::size_t>(cliqueCount))
            cliques.reserve(static_cast<std::size_t>(cliqueCount));
    }

    // The children of a clique in the join tree.
    int GetNumberOfChildren(int clique) const {
        return childStart[static_cast<std::size_t>(clique) + 1] -
               childStart[static_cast<std::size_t>(clique)];
    }
    int GetChild(int clique, int index) const {
        return children[static_cast<std::size_t>(childStart[static_cast<std::size_t>(clique)] +
                                                 index)];
    }
    // Rebuilds the child lists from the parent links.
    void LinkChildren();
    // Drops every clique with its tables.
    void Clear();
    // Empties the store but keeps the cliques' lists and table storage for the next ones, so
    // that a tree built again in the same store allocates nothing it had before.
    void Reset() { count = 0; }

private:
    // Cliques past `count` wait for reuse.
    std::vector<QNL_clique> cliques;
    int count = 0;
    std::vector<int> childStart;
    std::vector<int> children;
    std::vector<int> nextChild;
};
