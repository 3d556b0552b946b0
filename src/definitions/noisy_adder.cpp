#include "definitions/noisy_adder.h"

#include "definitions/definition_support.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

using namespace quarn::detail;

QNL_noisyAdder::QNL_noisyAdder(int handle, QNL_network* network)
    : QNL_ciDefinition(handle, network) {
    AddParents();
    CheckConsistency(1);
}

QNL_noisyAdder::QNL_noisyAdder(const QNL_noisyAdder& other)
    : QNL_ciDefinition(other), distinguished(other.distinguished),
      parentDistinguished(other.parentDistinguished), weights(other.weights),
      function(other.function) {}

QNL_nodeDefinition* QNL_noisyAdder::CreateCopy() const {
    return CopyOrNull(*this);
}

bool QNL_noisyAdder::IsDistinguishedColumn(int c) const {
    int offset = 0;
    for (std::size_t b = 0; b < blockSizes.size(); ++b) {
        if (c < offset + blockSizes[b]) return c == offset + parentDistinguished[b];
        offset += blockSizes[b];
    }
    return false;
}

// Written whole rather than moved, so a column whose 1.0 left with a removed outcome is
// whole again and nothing is written outside the column.
void QNL_noisyAdder::ResetDistinguishedColumns() {
    if (GetNumberOfColumns() == 0) return;
    for (int b = 0; b < GetNumberOfBlocks(); ++b)
        SetUnitColumn(ColumnOffset(b) + parentDistinguished[static_cast<std::size_t>(b)],
                      distinguished);
}

// ---------------------------------------------------------------------------------------
// Settings.

void QNL_noisyAdder::SetFunction(int code) {
    function = code;
    MarkStale();
}

int QNL_noisyAdder::SetDistinguishedState(int state) {
    if (state < 0 || state >= ids.GetCount()) return -2;
    if (state == distinguished) return 0;
    distinguished = state;
    ResetDistinguishedColumns();
    return Finish();
}

int QNL_noisyAdder::GetParentDistinguishedState(int parentIndex) const {
    if (parentIndex < 0 || parentIndex >= GetNumberOfBlocks()) return -2;
    return parentDistinguished[static_cast<std::size_t>(parentIndex)];
}

int QNL_noisyAdder::SetParentDistinguishedState(int parentIndex, int outcome) {
    if (parentIndex < 0 || parentIndex >= GetNumberOfBlocks()) return -2;
    if (outcome < 0 || outcome >= GetBlockSize(parentIndex)) return -2;
    int& current = parentDistinguished[static_cast<std::size_t>(parentIndex)];
    if (current == outcome) return 0;
    current = outcome;
    SetUnitColumn(ColumnOffset(parentIndex) + outcome, distinguished);
    return Finish();
}

// A negative weight could make a column negative and one that is not finite a column of NaN,
// so neither is taken; weights of 0 are, and a column whose weights are all 0 is the leak's.
int QNL_noisyAdder::SetWeights(const std::vector<double>& values) {
    const char* why = nullptr;
    if (values.size() != weights.size())
        why = "one weight per parent and one for the leak expected";
    else if (!std::all_of(values.begin(), values.end(),
                          [](double w) { return w >= 0.0 && std::isfinite(w); }))
        why = "a weight must be finite and not negative";
    if (why != nullptr) {
        const QNL_node* node = network != nullptr ? network->GetNode(handle) : nullptr;
        return QNL_errorHandler::Instance().LogError(
            -2, "ERROR: Node [" + std::string(node != nullptr ? node->GetId() : "") + "] : " + why);
    }
    weights = values; // the same size: no allocation
    return Finish();
}

// ---------------------------------------------------------------------------------------
// Expansion.

int QNL_noisyAdder::CheckReadiness(int deep) {
    QNL_ciDefinition::CheckReadiness(deep);
    if (IsCptCurrent() && !ColumnsAreDistributions(cpt)) status &= ~STATUS_READY;
    return 0;
}

// Weights far from 1 are brought near it by a power of two, which leaves their ratios exact,
// so that the sums neither overflow nor lose digits; those of exponent within +-500 are used
// as they are.
namespace {
bool IsModerateWeight(double w) {
    const int exponent = std::ilogb(w);
    return w != 0.0 && exponent >= -500 && exponent <= 500;
}
} // namespace

int QNL_noisyAdder::CalculateCpt() {
    const int n = ids.GetCount();
    const int blocks = GetNumberOfBlocks();
    if (function != QNL_NOISYADDER_AVERAGE && function != QNL_NOISYADDER_SINGLEFAULT) return -2;
    if (n < 1 || GetNumberOfColumns() != ColumnOffset(blocks) + 1 ||
        weights.size() != static_cast<std::size_t>(blocks) + 1)
        return -2;
    return Guarded([&] {
        std::vector<int> shape(blockSizes);
        shape.push_back(n);
        QNL_Dmatrix fresh;
        if (int r = fresh.Setup(shape.data(), static_cast<int>(shape.size()))) return r;
        const double* leak = Column(GetNumberOfColumns() - 1);
        const double leakWeight = weights.back();
        // A column's largest weight lies between the leak's and the largest of all: when both
        // are moderate, no column is rescaled or weighs nothing, and none looks for its own.
        const bool scaleColumns =
            !IsModerateWeight(leakWeight) ||
            !IsModerateWeight(*std::max_element(weights.begin(), weights.end()));
        std::vector<const double*> firstColumn;
        for (int b = 0; b < blocks; ++b)
            firstColumn.push_back(Column(ColumnOffset(b)));
        std::vector<int> x(static_cast<std::size_t>(blocks), 0);
        std::vector<std::size_t> active(static_cast<std::size_t>(blocks), 0);
        auto parentColumn = [&](std::size_t b) {
            return firstColumn[b] + static_cast<std::size_t>(x[b]) * n;
        };
        auto average = [&](double* cell, std::size_t count) {
            double largest = leakWeight;
            int exponent = 0;
            if (scaleColumns) {
                for (std::size_t i = 0; i < count; ++i)
                    largest = std::max(largest, weights[active[i]]);
                exponent = std::ilogb(largest);
                if (exponent >= -500 && exponent <= 500) exponent = 0;
            }
            if (count == 0 || largest == 0.0) {
                // Nothing to average: no active parent, or every weight of the column 0.
                std::copy_n(leak, n, cell);
                return;
            }
            auto weight = [&](double w) { return exponent != 0 ? std::ldexp(w, -exponent) : w; };
            double total = weight(leakWeight);
            for (int k = 0; k < n; ++k)
                cell[k] = leak[k] * total;
            for (std::size_t i = 0; i < count; ++i) {
                const double* p = parentColumn(active[i]);
                const double w = weight(weights[active[i]]);
                for (int k = 0; k < n; ++k)
                    cell[k] += p[k] * w;
                total += w;
            }
            for (int k = 0; k < n; ++k)
                cell[k] /= total;
        };
        double* out = fresh.GetItems().Items();
        const std::int64_t columns = fresh.GetSize() / n;
        for (std::int64_t col = 0; col < columns; ++col) {
            double* cell = out + col * n;
            // The active parents in parent order, gathered without a branch per parent: which
            // parents are active changes from column to column in no pattern a branch
            // predictor follows.
            std::size_t count = 0;
            for (std::size_t b = 0; b < active.size(); ++b) {
                active[count] = b;
                count += x[b] != parentDistinguished[b] ? 1 : 0;
            }
            if (function == QNL_NOISYADDER_SINGLEFAULT)
                std::copy_n(count == 1 ? parentColumn(active[0]) : leak, n, cell);
            else
                average(cell, count);
            for (int b = blocks; b-- > 0;) {
                if (++x[static_cast<std::size_t>(b)] < blockSizes[static_cast<std::size_t>(b)])
                    break;
                x[static_cast<std::size_t>(b)] = 0;
            }
        }
        cpt = std::move(fresh);
        flags |= FLAG_CPT_CURRENT;
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Parents.

int QNL_noisyAdder::AddParents() {
    return Guarded([&] {
        function = QNL_NOISYADDER_AVERAGE;
        // A definition without outcomes starts with three, the middle one distinguished.
        const int wanted = ids.GetCount() == 0 ? 3 : 2;
        while (ids.GetCount() < wanted)
            if (int r = ids.AddDefault("State", ids.GetCount())) return r;
        const int n = ids.GetCount();
        blockParents.clear();
        blockSizes.clear();
        parentDistinguished.clear();
        weights.assign(1, 1.0);
        distinguished = std::min(1, n - 1);
        cpt.CleanUp();
        std::vector<double> leak(static_cast<std::size_t>(n), 0.0);
        leak[static_cast<std::size_t>(distinguished)] = 1.0;
        if (int r = StoreParameters(1, leak)) return r;
        return AddNetworkParents();
    });
}

int QNL_noisyAdder::AddParent(int parent) {
    int m = 0;
    if (int r = CheckParentAdd(parent, m)) return r;
    if (m < 1) return 0;
    return Guarded([&] {
        const int block = BlockPositionFor(parent);
        const int offset = ColumnOffset(block);
        if (int r = InsertColumns(offset, m)) return r;
        SetUnitColumn(offset + m - 1, distinguished);
        params.Normalize();
        blockParents.insert(blockParents.begin() + block, parent);
        blockSizes.insert(blockSizes.begin() + block, m);
        parentDistinguished.insert(parentDistinguished.begin() + block, m - 1);
        weights.insert(weights.begin() + block, 1.0);
        return Finish();
    });
}

void QNL_noisyAdder::EraseBlockData(int block) {
    parentDistinguished.erase(parentDistinguished.begin() + block);
    weights.erase(weights.begin() + block);
}

int QNL_noisyAdder::InsertParentOutcome(int parent, int index) {
    if (int r = CheckParentEdit(parent)) return r;
    const int block = BlockOf(parent);
    if (block < 0) return 0;
    if (index < 0 || index > GetBlockSize(block)) return -2;
    return Guarded([&] {
        const int column = ColumnOffset(block) + index;
        if (int r = InsertColumns(column, 1)) return r;
        SetUnitColumn(column, distinguished);
        ++blockSizes[static_cast<std::size_t>(block)];
        int& own = parentDistinguished[static_cast<std::size_t>(block)];
        if (index <= own) ++own;
        return Finish();
    });
}

int QNL_noisyAdder::RemoveParentOutcome(int parent, int index) {
    if (int r = CheckParentEdit(parent)) return r;
    const int block = BlockOf(parent);
    if (block < 0) return 0;
    const int m = GetBlockSize(block);
    if (m < 2 || index < 0 || index >= m) return -2;
    return Guarded([&] {
        const int offset = ColumnOffset(block);
        if (int r = RemoveColumns(offset + index, 1)) return r;
        --blockSizes[static_cast<std::size_t>(block)];
        int& own = parentDistinguished[static_cast<std::size_t>(block)];
        if (index < own) {
            --own;
        } else if (index == own) {
            own = 0;
            SetUnitColumn(offset, distinguished);
        }
        return Finish();
    });
}

int QNL_noisyAdder::ReorderParentOutcomes(int parent, const QNL_intArray& order) {
    if (int r = CheckParentEdit(parent)) return r;
    const int block = BlockOf(parent);
    if (block < 0) return 0;
    if (!IsPermutation(order, GetBlockSize(block))) return -2;
    if (int r = ReorderColumns(ColumnOffset(block), order)) return r;
    int& own = parentDistinguished[static_cast<std::size_t>(block)];
    own = order.FindPosition(own);
    return Finish();
}

int QNL_noisyAdder::ReorderParents(const QNL_intArray& order) {
    std::vector<int> own;
    std::vector<double> newWeights;
    return ReorderBlocks(
        order,
        [&](const std::vector<int>& blocks) {
            for (int b : blocks) {
                own.push_back(parentDistinguished[static_cast<std::size_t>(b)]);
                newWeights.push_back(weights[static_cast<std::size_t>(b)]);
            }
            newWeights.push_back(weights.back());
        },
        [&] {
            parentDistinguished = std::move(own);
            weights = std::move(newWeights);
        });
}

// ---------------------------------------------------------------------------------------
// Own outcomes.

// The distinguished state keeps its outcome; when that outcome goes, the first one takes its
// place, its unit columns written whole.
void QNL_noisyAdder::AfterOutcomeInserted(int index) {
    if (distinguished >= index) ++distinguished;
}

void QNL_noisyAdder::AfterOutcomeRemoved(int index) {
    if (distinguished > index) {
        --distinguished;
    } else if (distinguished == index) {
        distinguished = 0;
        ResetDistinguishedColumns();
    }
}

// A new outcome set makes its last outcome distinguished, in the parents' columns and the
// leak alike.
void QNL_noisyAdder::AfterOutcomeCountChange() {
    distinguished = ids.GetCount() - 1;
    ResetDistinguishedColumns();
    SetUnitColumn(GetNumberOfColumns() - 1, distinguished);
}

int QNL_noisyAdder::ReorderOutcomes(const QNL_intArray& order) {
    if (int r = ReorderParameterOutcomes(order)) return r;
    distinguished = order.FindPosition(distinguished);
    Finish();
    return PropagateReorderOutcomes(order);
}

// ---------------------------------------------------------------------------------------
// Conversion.

int QNL_noisyAdder::Assign(const QNL_nodeDefinition& source) {
    return AssignFrom(source, true, [&](int type) {
        if (type == QNL_TYPE_NOISY_ADDER) {
            const auto& other = static_cast<const QNL_noisyAdder&>(source);
            if (other.params.GetSize() == params.GetSize() && other.blockSizes == blockSizes) {
                std::copy_n(other.params.GetItems().Items(), params.GetSize(),
                            params.GetItems().Items());
                distinguished = other.distinguished;
                parentDistinguished = other.parentDistinguished;
                weights = other.weights;
                function = other.function;
            }
            MarkStale();
        }
        return 0;
    });
}

void QNL_noisyAdder::CopyTableTo(QNL_nodeDefinition& target) const {
    auto* other = dynamic_cast<QNL_noisyAdder*>(&target);
    if (other == nullptr || other == this) return;
    try {
        other->params = params;
        other->cpt = cpt;
        other->flags = flags;
        other->blockSizes = blockSizes;
        other->function = function;
        other->distinguished = distinguished;
        other->weights = weights;
        other->parentDistinguished = parentDistinguished;
    } catch (const std::bad_alloc&) {
        other->MarkStale();
    }
}
