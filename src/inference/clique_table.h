#pragma once

#include <cfenv>
#include <cmath>
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

// Long products of probabilities (a chain of thousands of findings) fall below the smallest
// double although every ratio between them is ordinary. The join trees keep each table's mean
// cell near 1 by multiplying the table with a power of two, which changes no digit of any
// cell, and carry those powers apart: a table whose mean leaves [SCALE_LOW, SCALE_HIGH] is
// brought back to about 1, so tables of ordinary networks are never touched.
constexpr double SCALE_LOW = 0x1p-64;
constexpr double SCALE_HIGH = 0x1p64;

// The power of two that brings a table of this mean back to about 1: 0 while the mean lies
// within the band, and for a mean of 0 (evidence impossible there) or one not finite.
inline int RescaleShift(double mean) {
    if (mean >= SCALE_LOW && mean <= SCALE_HIGH) return 0;
    if (!(mean > 0.0) || mean > 0x1.fffffffffffffp1023) return 0;
    return -std::ilogb(mean);
}

// cells *= 2^shift: exact while the cells stay normal numbers.
void ScaleByPowerOfTwo(double* cells, std::int64_t count, std::int64_t shift);

// The mean of the cells, for deciding on a shift only: summed in eight lanes, which the
// compiler keeps in vector registers.
inline double RoughMean(const double* cells, std::int64_t count) {
    double total = 0.0;
    std::int64_t i = 0;
    if (count >= 8) {
        double a = 0.0, b = 0.0, c = 0.0, d = 0.0, e = 0.0, f = 0.0, g = 0.0, h = 0.0;
        for (; i + 8 <= count; i += 8) {
            a += cells[i];
            b += cells[i + 1];
            c += cells[i + 2];
            d += cells[i + 3];
            e += cells[i + 4];
            f += cells[i + 5];
            g += cells[i + 6];
            h += cells[i + 7];
        }
        total = ((a + b) + (c + d)) + ((e + f) + (g + h));
    }
    for (; i < count; ++i)
        total += cells[i];
    return count > 1 ? total / static_cast<double>(count) : total;
}

// Brings a message just marginalised into `cells` back to a mean of about 1 when its mean
// leaves the band; the shift. `mean` receives the mean the message goes on with.
inline int ShiftMessage(double* cells, std::int64_t count, double& mean) {
    mean = RoughMean(cells, count);
    const int shift = RescaleShift(mean);
    if (shift == 0) return 0;
    ScaleByPowerOfTwo(cells, count, shift);
    mean = 1.0;
    return shift;
}

// The shift of a fresh message on its way down: the one the message up took, so that the
// child's total becomes the parent's. Every clique's total is then the root's, so only a
// message from the root may need a shift of its own, when the root is out of the band.
inline int ShiftFreshMessage(double* cells, std::int64_t count, int upShift, bool fromRoot) {
    const int shift = upShift + (fromRoot ? RescaleShift(RoughMean(cells, count)) : 0);
    if (shift != 0) ScaleByPowerOfTwo(cells, count, shift);
    return shift;
}

// The messages a potential has taken since it was last looked at, and the product of their
// means.
struct MessageCount {
    int messages = 0;
    double product = 1.0;
};

// Notes a message of `mean` multiplied into a potential. A clique with thousands of observed
// children would fall below the range of a double between two looks at it, so the potential
// is looked at after every few messages, or once their means together have moved it out of
// the band, and brought back; the shift given to it.
inline int NoteMessage(MessageCount& count, double mean, double* cells, std::int64_t size) {
    constexpr int messagesBetweenLooks = 8;
    count.product *= mean;
    if (++count.messages < messagesBetweenLooks && count.product >= SCALE_LOW &&
        count.product <= SCALE_HIGH)
        return 0;
    count = MessageCount();
    const int back = RescaleShift(RoughMean(cells, size));
    if (back != 0) ScaleByPowerOfTwo(cells, size, back);
    return back;
}

// A non-negative number as mantissa x 2^exponent, for products whose value leaves the range of
// a double. Products stay as a plain double would give them while in range.
class ScaledValue {
public:
    ScaledValue() = default;
    ScaledValue(double mantissa, std::int64_t exponent) : mantissa(mantissa), exponent(exponent) {
        Normalise();
    }
    explicit ScaledValue(double value) : ScaledValue(value, 0) {}
    void Multiply(double factor) { Multiply(ScaledValue(factor, 0)); }
    void Multiply(const ScaledValue& other) {
        mantissa *= other.mantissa;
        exponent += other.exponent;
        Normalise();
    }
    void Add(const ScaledValue& other);
    // Not for a divisor of 0.
    void Divide(const ScaledValue& other) {
        mantissa /= other.mantissa;
        exponent -= other.exponent;
        Normalise();
    }
    bool IsZero() const { return mantissa == 0.0; }
    // The value times 2^shift as a double (0 below the smallest subnormal).
    double Shifted(std::int64_t shift) const {
        return ScaledValue(mantissa, exponent + shift).Value();
    }
    // The power of two of the value's leading digit; meaningless for 0.
    std::int64_t Magnitude() const { return exponent + std::ilogb(mantissa); }

    // As a cell of a table whose products leave the range of a double (see RangeWatch).
    ScaledValue& operator*=(double factor) {
        Multiply(factor);
        return *this;
    }
    ScaledValue& operator*=(const ScaledValue& other) {
        Multiply(other);
        return *this;
    }
    ScaledValue& operator+=(const ScaledValue& other) {
        Add(other);
        return *this;
    }
    friend ScaledValue operator*(ScaledValue a, double b) { return a *= b; }
    friend ScaledValue operator*(ScaledValue a, const ScaledValue& b) { return a *= b; }
    friend ScaledValue operator+(ScaledValue a, const ScaledValue& b) { return a += b; }
    friend ScaledValue operator/(ScaledValue a, const ScaledValue& b) {
        a.Divide(b);
        return a;
    }
    // The nearest double; 0 below the smallest subnormal.
    double Value() const;
    // Not 0, but too small for a double to hold.
    bool Underflows() const { return mantissa > 0.0 && Value() == 0.0; }
    // log10 of the value (-infinity for 0).
    double Log10() const;
    // The natural logarithm (-infinity for 0); within the range of a double, exactly the
    // logarithm of the plain product.
    double Log() const;
    double GetMantissa() const { return mantissa; }
    std::int64_t GetExponent() const { return exponent; }

private:
    // Kept within 2^+-500, so that the product of two is a normal number.
    void Normalise() {
        if (mantissa != 0.0 && !(mantissa >= 0x1p-500 && mantissa <= 0x1p500) &&
            std::isfinite(mantissa)) {
            int e = 0;
            mantissa = std::frexp(mantissa, &e);
            exponent += e;
        }
    }

    double mantissa = 1.0;
    std::int64_t exponent = 0;
};

// Whether the arithmetic done while it lives left the range of a double: a result below the
// smallest normal number (digits lost, or all of them) or above the largest. The processor's
// sticky status flags tell, so the table loops pay nothing for the watch; flags the caller had
// raised are raised again when it ends. Tables of extreme entries (products of findings of
// 1e-300 each) are then worked again with WideCell cells, which cannot leave the range.
class RangeWatch {
public:
    RangeWatch() : had(std::fetestexcept(kFlags)) { std::feclearexcept(kFlags); }
    RangeWatch(const RangeWatch&) = delete;
    RangeWatch& operator=(const RangeWatch&) = delete;
    ~RangeWatch() {
        if (had != 0) std::feraiseexcept(had);
    }
    bool Left() const { return kFlags != 0 && std::fetestexcept(kFlags) != 0; }
    // Watches afresh from here: clearing the flags costs many times what testing them does, so
    // a pass of many steps keeps one watch, tests it after each step and restarts it only
    // after a step that left the range.
    void Restart() { std::feclearexcept(kFlags); }

private:
#if defined(FE_UNDERFLOW) && defined(FE_OVERFLOW)
    static constexpr int kFlags = FE_UNDERFLOW | FE_OVERFLOW;
#else
    static constexpr int kFlags = 0;
#endif
    int had;
};

// A table cell that carries its own power of two: each cell keeps its digits whatever the
// ratio between cells, at about four times the cost of a double.
using WideCell = ScaledValue;

inline bool IsZero(double x) {
    return x == 0.0;
}
inline bool IsZero(const WideCell& x) {
    return x.IsZero();
}
inline bool IsPositive(double x) {
    return x > 0.0;
}
inline bool IsPositive(const WideCell& x) {
    return !x.IsZero();
}

// The walks above over wide cells: the destination wide, the source a table of doubles (a
// conditional table) or of wide cells.
void SetStrided(WideCell* destination, const double* source, const Strides& strides);
void SetStrided(WideCell* destination, const WideCell* source, const Strides& strides);
void MultiplyStrided(WideCell* destination, const double* source, const Strides& strides);
void MultiplyStrided(WideCell* destination, const WideCell* source, const Strides& strides);
void DivideMultiplyStrided(WideCell* destination, const WideCell* old, const WideCell* fresh,
                           const Strides& strides);
void AccumulateStrided(WideCell* destination, const WideCell* source, const Strides& strides);
void MarginalizeInto(WideCell* destination, std::int64_t destinationCells, const WideCell* source,
                     const Strides& strides);
WideCell SumTable(const WideCell* cells, std::int64_t count);
// Wide cells need no shifts: the scaling steps above do nothing for them.
inline int ShiftMessage(WideCell*, std::int64_t, double& mean) {
    mean = 1.0;
    return 0;
}
inline int ShiftFreshMessage(WideCell*, std::int64_t, int, bool) {
    return 0;
}
inline int NoteMessage(MessageCount&, double, WideCell*, std::int64_t) {
    return 0;
}
// Doubles in the ratios of the cells, the largest brought near 1 (cells below it by more than
// a double can tell become 0); false when every cell is 0.
bool ToDoubles(const WideCell* cells, std::int64_t count, double* out);

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
    // The potential's cells times 2^scale are its values; the separator's cells were
    // multiplied by 2^separatorShift on their way up.
    std::int64_t scale = 0;
    int separatorShift = 0;
    quarn::detail::MessageCount received;
    // The potential and the separator in wide cells, while a propagation whose products left
    // the range of a double is worked again; empty otherwise.
    std::vector<quarn::detail::WideCell> widePotential;
    std::vector<quarn::detail::WideCell> wideSeparator;

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
