#include "definitions/noisy_max.h"

#include "definitions/definition_support.h"
#include "definitions/node_value.h"
#include "model/network.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

using namespace quarn::detail;

namespace {

// The inverse of a permutation: inverse[order[j]] = j.
std::vector<int> Inverse(const QNL_intArray& order) {
    std::vector<int> inverse(static_cast<std::size_t>(order.GetCount()));
    for (int j = 0; j < order.GetCount(); ++j)
        inverse[static_cast<std::size_t>(order[j])] = j;
    return inverse;
}

// The shape of an expansion: per block its size, first column and, for each parent outcome,
// the block position of its column.
struct Layout {
    int n = 0;
    int leak = 0;
    std::vector<int> sizes, offsets;
    std::vector<std::vector<int>> positionOf;
    std::int64_t columns = 1;
};

// Walks the table's columns in storage order (first parent slowest), handing the body the
// parameter column of every parent at that column.
template <typename Body> void ForEachTableColumn(const Layout& layout, Body&& body) {
    const std::size_t blocks = layout.sizes.size();
    std::vector<int> x(blocks, 0);
    std::vector<int> active(blocks);
    for (std::int64_t col = 0; col < layout.columns; ++col) {
        for (std::size_t b = 0; b < blocks; ++b)
            active[b] = layout.offsets[b] + layout.positionOf[b][static_cast<std::size_t>(x[b])];
        body(col, x, active);
        for (std::size_t b = blocks; b-- > 0;) {
            if (++x[b] < layout.sizes[b]) break;
            x[b] = 0;
        }
    }
}

} // namespace

QNL_noisyMAX::QNL_noisyMAX(int handle, QNL_network* network) : QNL_ciDefinition(handle, network) {
    AddParents();
    CheckConsistency(1);
}

QNL_noisyMAX::QNL_noisyMAX(const QNL_noisyMAX& other)
    : QNL_ciDefinition(other), strengths(other.strengths) {}

QNL_nodeDefinition* QNL_noisyMAX::CreateCopy() const {
    return CopyOrNull(*this);
}

int QNL_noisyMAX::CleanUp(int deep) {
    if (deep) strengths.clear();
    return QNL_ciDefinition::CleanUp(deep);
}

bool QNL_noisyMAX::IsDistinguishedColumn(int c) const {
    int offset = 0;
    for (int size : blockSizes) {
        offset += size;
        if (c == offset - 1) return true;
        if (c < offset) return false;
    }
    return false;
}

void QNL_noisyMAX::ResetDistinguishedColumns() {
    const int n = ids.GetCount();
    if (n < 1 || GetNumberOfColumns() == 0) return;
    int offset = 0;
    for (int size : blockSizes) {
        offset += size;
        SetUnitColumn(offset - 1, n - 1);
    }
}

int QNL_noisyMAX::Finished() {
    return Finish();
}

// ---------------------------------------------------------------------------------------
// Checks.

int QNL_noisyMAX::GetParentColumnOffset(int parentIndex) const {
    if (parentIndex < 0 || parentIndex >= GetNumberOfBlocks()) return -2;
    return ColumnOffset(parentIndex);
}

const QNL_intArray* QNL_noisyMAX::GetParentOutcomeStrengths(int parentIndex) const {
    if (parentIndex < 0 || parentIndex >= GetNumberOfBlocks()) return nullptr;
    return &strengths[static_cast<std::size_t>(parentIndex)];
}

int QNL_noisyMAX::SetParentOutcomeStrengths(int parentIndex, const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (parentIndex < 0 || parentIndex >= GetNumberOfBlocks()) return -2;
    if (!IsPermutation(order, GetBlockSize(parentIndex))) return -2;
    if (strengths[static_cast<std::size_t>(parentIndex)].Assign(order) != 0) return -42;
    return Finished();
}

// The column given for parent outcome j moves to block position order[j], so position
// order[j] holds outcome j from then on.
int QNL_noisyMAX::ApplyParentStrengthOrder(int parentIndex, const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (parentIndex < 0 || parentIndex >= GetNumberOfBlocks()) return -2;
    const int m = GetBlockSize(parentIndex);
    if (!IsPermutation(order, m)) return -2;
    return Guarded([&] {
        const std::vector<int> inverse = Inverse(order);
        QNL_intArray from, held;
        for (int i = 0; i < m; ++i)
            if (from.Add(inverse[static_cast<std::size_t>(i)]) != 0 ||
                held.Add(inverse[static_cast<std::size_t>(i)]) != 0)
                return -42;
        const int offset = ColumnOffset(parentIndex);
        if (int r = ReorderColumns(offset, from)) return r;
        SetUnitColumn(offset + m - 1, ids.GetCount() - 1);
        strengths[static_cast<std::size_t>(parentIndex)] = std::move(held);
        return Finished();
    });
}

// ---------------------------------------------------------------------------------------
// Expansion.

int QNL_noisyMAX::CalculateCpt() {
    const int n = ids.GetCount();
    if (n < 1 || GetNumberOfColumns() != ColumnOffset(GetNumberOfBlocks()) + 1) return -2;
    return Guarded([&] {
        Layout layout;
        layout.n = n;
        std::vector<int> shape;
        for (int b = 0; b < GetNumberOfBlocks(); ++b) {
            const QNL_intArray& s = strengths[static_cast<std::size_t>(b)];
            layout.sizes.push_back(s.GetCount());
            layout.offsets.push_back(ColumnOffset(b));
            layout.positionOf.push_back(Inverse(s));
            layout.columns *= s.GetCount();
            shape.push_back(s.GetCount());
        }
        layout.leak = ColumnOffset(GetNumberOfBlocks());
        shape.push_back(n);
        QNL_Dmatrix fresh;
        if (int r = fresh.Setup(shape.data(), static_cast<int>(shape.size()))) return r;
        std::vector<double> cum = ParameterCells();
        for (int c = 0; c < GetNumberOfColumns(); ++c)
            ToCumulative(cum.data() + static_cast<std::size_t>(c) * n, n);
        const double* leak = cum.data() + static_cast<std::size_t>(layout.leak) * n;
        double* out = fresh.GetItems().Items();
        ForEachTableColumn(
            layout, [&](std::int64_t col, const std::vector<int>&, const std::vector<int>& active) {
                double* cell = out + col * n;
                for (int k = 0; k < n; ++k) {
                    double v = leak[k];
                    for (int c : active)
                        v *= cum[static_cast<std::size_t>(c) * n + k];
                    cell[k] = v;
                }
                ToPoint(cell, n);
            });
        cpt = std::move(fresh);
        flags |= FLAG_CPT_CURRENT;
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Parents.

int QNL_noisyMAX::AddParents() {
    return Guarded([&] {
        if (int r = PadOutcomeIds(ids, "State")) return r;
        const int n = ids.GetCount();
        blockParents.clear();
        blockSizes.clear();
        strengths.clear();
        cpt.CleanUp();
        if (int r = StoreParameters(1, std::vector<double>(static_cast<std::size_t>(n), 1.0 / n)))
            return r;
        return AddNetworkParents();
    });
}

int QNL_noisyMAX::AddParent(int parent) {
    int m = 0;
    if (int r = CheckParentAdd(parent, m)) return r;
    if (m < 1) return 0;
    return Guarded([&] {
        const int block = BlockPositionFor(parent);
        QNL_intArray order;
        for (int j = 0; j < m; ++j)
            if (order.Add(j) != 0) return -42;
        const int offset = ColumnOffset(block);
        if (int r = InsertColumns(offset, m)) return r;
        SetUnitColumn(offset + m - 1, ids.GetCount() - 1);
        params.Normalize();
        blockParents.insert(blockParents.begin() + block, parent);
        blockSizes.insert(blockSizes.begin() + block, m);
        strengths.insert(strengths.begin() + block, std::move(order));
        return Finished();
    });
}

void QNL_noisyMAX::EraseBlockData(int block) {
    strengths.erase(strengths.begin() + block);
}

int QNL_noisyMAX::FoldParentIntoLeak(int block, const std::vector<double>& weights) {
    return Guarded([&] {
        const int n = ids.GetCount();
        const int offset = ColumnOffset(block);
        const int leakColumn = GetNumberOfColumns() - 1;
        std::vector<double> leak(Column(leakColumn), Column(leakColumn) + n);
        ToCumulative(leak.data(), n);
        std::vector<double> mixed(static_cast<std::size_t>(n), 0.0);
        for (int j = 0; j < GetBlockSize(block); ++j) {
            std::vector<double> q(Column(offset + j), Column(offset + j) + n);
            ToCumulative(q.data(), n);
            for (int k = 0; k < n; ++k)
                mixed[static_cast<std::size_t>(k)] += weights[static_cast<std::size_t>(j)] * q[k];
        }
        for (int k = 0; k < n; ++k)
            leak[static_cast<std::size_t>(k)] *= mixed[static_cast<std::size_t>(k)];
        ToPoint(leak.data(), n);
        std::copy(leak.begin(), leak.end(), Column(leakColumn));
        return DropBlock(block);
    });
}

int QNL_noisyMAX::AbsorbParentEvidence(int parent) {
    if (int r = CheckParentEdit(parent)) return r;
    const QNL_nodeValue* value = network->GetNode(parent)->GetValue();
    if (value == nullptr || !value->IsObserved()) return -2;
    const int block = BlockOf(parent);
    if (block < 0) return 0;
    const QNL_intArray& s = strengths[static_cast<std::size_t>(block)];
    const int position = s.FindPosition(value->GetEvidence());
    if (position < 0) return -2;
    std::vector<double> weights(static_cast<std::size_t>(s.GetCount()), 0.0);
    weights[static_cast<std::size_t>(position)] = 1.0;
    return FoldParentIntoLeak(block, weights);
}

// The weights are the parent's own table, its distribution only when that is one column.
int QNL_noisyMAX::MarginalizeParent(int parent) {
    if (int r = CheckParentEdit(parent)) return r;
    const QNL_nodeValue* value = network->GetNode(parent)->GetValue();
    if (value != nullptr && value->IsObserved()) return -2;
    const int type = TypeAt(network, parent);
    if (type == QNL_TYPE_LIST) return 0;
    const int block = BlockOf(parent);
    if (block < 0) return 0;
    QNL_doubleArray prior;
    const QNL_intArray& s = strengths[static_cast<std::size_t>(block)];
    if (DefinitionAt(network, parent)->GetDefinition(prior) != 0 || prior.GetSize() != s.GetCount())
        return -2;
    std::vector<double> weights;
    for (int j = 0; j < s.GetCount(); ++j)
        weights.push_back(prior[s[j]]);
    return FoldParentIntoLeak(block, weights);
}

int QNL_noisyMAX::InsertParentOutcome(int parent, int index) {
    if (int r = CheckParentEdit(parent)) return r;
    const int block = BlockOf(parent);
    if (block < 0) return 0;
    QNL_intArray& s = strengths[static_cast<std::size_t>(block)];
    if (index < 0 || index > s.GetCount()) return -2;
    return Guarded([&] {
        QNL_intArray grown(s);
        for (int j = 0; j < grown.GetCount(); ++j)
            if (grown[j] >= index) ++grown[j];
        if (grown.Insert(index, index) != 0) return -42;
        const int offset = ColumnOffset(block);
        if (int r = InsertColumns(offset + index, 1)) return r;
        SetUnitColumn(offset + index, ids.GetCount() - 1);
        params.Normalize();
        s = std::move(grown);
        ++blockSizes[static_cast<std::size_t>(block)];
        return Finished();
    });
}

int QNL_noisyMAX::RemoveParentOutcome(int parent, int index) {
    if (int r = CheckParentEdit(parent)) return r;
    const int block = BlockOf(parent);
    if (block < 0) return 0;
    QNL_intArray& s = strengths[static_cast<std::size_t>(block)];
    if (s.GetCount() < 2 || index < 0 || index >= s.GetCount()) return -2;
    return Guarded([&] {
        const int position = s.FindPosition(index);
        const int offset = ColumnOffset(block);
        if (int r = RemoveColumns(offset + position, 1)) return r;
        s.Delete(position);
        for (int j = 0; j < s.GetCount(); ++j)
            if (s[j] > index) --s[j];
        const int m = --blockSizes[static_cast<std::size_t>(block)];
        SetUnitColumn(offset + m - 1, ids.GetCount() - 1);
        return Finished();
    });
}

// New outcome i of the parent is its old outcome order[i]: each column keeps its position
// and is relabelled with the new index of the outcome it stood for.
int QNL_noisyMAX::ReorderParentOutcomes(int parent, const QNL_intArray& order) {
    if (int r = CheckParentEdit(parent)) return r;
    const int block = BlockOf(parent);
    if (block < 0) return 0;
    QNL_intArray& s = strengths[static_cast<std::size_t>(block)];
    if (!IsPermutation(order, s.GetCount())) return -2;
    const std::vector<int> newIndex = Inverse(order);
    for (int j = 0; j < s.GetCount(); ++j)
        s[j] = newIndex[static_cast<std::size_t>(s[j])];
    return Finished();
}

int QNL_noisyMAX::ReorderParents(const QNL_intArray& order) {
    std::vector<QNL_intArray> orders;
    return ReorderBlocks(
        order,
        [&](const std::vector<int>& blocks) {
            for (int b : blocks)
                orders.push_back(strengths[static_cast<std::size_t>(b)]);
        },
        [&] { strengths = std::move(orders); });
}

// ---------------------------------------------------------------------------------------
// Own outcomes.

int QNL_noisyMAX::ReorderOutcomes(const QNL_intArray& order) {
    if (int r = ReorderParameterOutcomes(order)) return r;
    // The network derives implied evidence from the expanded table while the change
    // propagates: the parameters are complete by then.
    ResetDistinguishedColumns();
    Finished();
    return PropagateReorderOutcomes(order);
}

// ---------------------------------------------------------------------------------------
// Conversion.

int QNL_noisyMAX::Assign(const QNL_nodeDefinition& source) {
    return AssignFrom(source, false, [&](int type) {
        if (type == QNL_TYPE_NOISY_MAX) {
            const auto& other = static_cast<const QNL_noisyMAX&>(source);
            if (other.params.GetSize() == params.GetSize())
                std::copy_n(other.params.GetItems().Items(), params.GetSize(),
                            params.GetItems().Items());
            if (other.blockSizes == blockSizes) strengths = other.strengths;
            MarkStale();
        } else if (type != QNL_TYPE_TABLE && type != QNL_TYPE_LIST) {
            QNL_Dmatrix* table = const_cast<QNL_nodeDefinition&>(source).GetMatrix();
            GetCpt();
            if (table != nullptr && SameDimensions(*table, cpt)) {
                if (int r = cpt.Assign(*table)) return r;
                FitParametersToCpt();
            }
        }
        return 0;
    });
}

void QNL_noisyMAX::CopyTableTo(QNL_nodeDefinition& target) const {
    auto* other = dynamic_cast<QNL_noisyMAX*>(&target);
    if (other == nullptr || other == this) return;
    try {
        other->params = params;
        other->cpt = cpt;
        other->flags = flags;
        other->strengths = strengths;
        other->blockSizes = blockSizes;
    } catch (const std::bad_alloc&) {
        other->MarkStale();
    }
}

// ---------------------------------------------------------------------------------------
// Compound parameters.

int QNL_noisyMAX::GetCompoundParameters(QNL_Dmatrix& out) const {
    const int n = ids.GetCount();
    const int columns = GetNumberOfColumns();
    if (columns < 1) return -2;
    return Guarded([&] {
        QNL_Dmatrix work(params);
        double* cells = work.GetItems().Items();
        for (int c = 0; c < columns; ++c)
            ToCumulative(cells + static_cast<std::size_t>(c) * n, n);
        const double* leak = cells + static_cast<std::size_t>(columns - 1) * n;
        for (int c = 0; c + 1 < columns; ++c)
            if (!IsDistinguishedColumn(c))
                for (int k = 0; k < n; ++k)
                    cells[static_cast<std::size_t>(c) * n + k] *= leak[k];
        for (int c = 0; c < columns; ++c)
            ToPoint(cells + static_cast<std::size_t>(c) * n, n);
        out = std::move(work);
        return 0;
    });
}

int QNL_noisyMAX::GetCompoundParameters(QNL_doubleArray& out) const {
    QNL_Dmatrix compound;
    if (int r = GetCompoundParameters(compound)) return r;
    const int n = ids.GetCount();
    out.Flush();
    for (int c = 0; c < GetNumberOfColumns(); ++c)
        if (!IsDistinguishedColumn(c))
            for (int k = 0; k < n; ++k)
                if (out.Add(compound.Subscript(c * n + k)) != 0) return -42;
    return 0;
}

// A zero cumulative leak entry cannot be divided out: such parameters are refused.
int QNL_noisyMAX::SetCompoundParameters(const QNL_Dmatrix& compound) {
    if (!IsValid()) return -567;
    if (!SameDimensions(compound, params) || params.GetNumberOfDimensions() != 2) return -2;
    const int n = ids.GetCount();
    const int columns = GetNumberOfColumns();
    for (int c = 0; c < columns; ++c)
        if (IsDistinguishedColumn(c))
            for (int k = 0; k < n; ++k)
                if (compound.Subscript(c * n + k) != (k == n - 1 ? 1.0 : 0.0)) return -2;
    return Guarded([&] {
        QNL_Dmatrix work(compound);
        double* cells = work.GetItems().Items();
        for (int c = 0; c < columns; ++c)
            ToCumulative(cells + static_cast<std::size_t>(c) * n, n);
        const double* leak = cells + static_cast<std::size_t>(columns - 1) * n;
        for (int k = 0; k < n; ++k)
            if (!(leak[k] > 0.0)) return -2;
        for (int c = 0; c + 1 < columns; ++c)
            if (!IsDistinguishedColumn(c))
                for (int k = 0; k < n; ++k)
                    cells[static_cast<std::size_t>(c) * n + k] /= leak[k];
        for (int c = 0; c < columns; ++c)
            ToPoint(cells + static_cast<std::size_t>(c) * n, n);
        params = std::move(work);
        return Finished();
    });
}

int QNL_noisyMAX::SetCompoundParameters(const QNL_doubleArray& values) {
    if (!IsValid()) return -567;
    const int n = ids.GetCount();
    const int wanted = (GetNumberOfColumns() - GetNumberOfBlocks()) * n;
    if (!HoldsExactly(values, wanted)) return -2;
    QNL_Dmatrix compound;
    if (int r = GetCompoundParameters(compound)) return r;
    int next = 0;
    for (int c = 0; c < GetNumberOfColumns(); ++c)
        if (!IsDistinguishedColumn(c))
            for (int k = 0; k < n; ++k)
                compound.Subscript(c * n + k) = values[next++];
    return SetCompoundParameters(compound);
}
