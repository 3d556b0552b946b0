#include "definitions/table.h"

#include "definitions/cpt.h"
#include "definitions/definition_support.h"
#include "definitions/node_values.h"
#include "model/network.h"

#include <algorithm>
#include <cmath>
#include <utility>

using namespace quarn::detail;

namespace {

constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;

// A table of one utility 0.0 grown by a dimension for each parent that owns one.
int Rebuild(const QNL_network* net, int node, ParentTable& fresh) {
    return fresh.Build(net, node, 1, [](QNL_Dmatrix& own) { own.FillWith(0.0); });
}

// The smallest defined utility, or the largest when `better` is greater-than.
template <typename Better> double Extreme(const QNL_Dmatrix& utilities, Better better) {
    double extreme = kUndefined;
    bool found = false;
    const double* cells = utilities.GetItems().Items();
    for (int i = 0; i < utilities.GetSize(); ++i) {
        if (cells[i] == kUndefined) continue;
        if (!found || better(cells[i], extreme)) extreme = cells[i];
        found = true;
    }
    return extreme;
}

// The table of a source whose cells are utilities laid out as ours: another utility table,
// or a probability table (whose own outcomes make it a different shape). The causal-
// independence definitions will hand over their expanded probability table here.
const QNL_Dmatrix* SourceTable(const QNL_nodeDefinition& source) {
    if (const auto* table = dynamic_cast<const QNL_table*>(&source)) return &table->GetTable();
    if (const auto* cpt = dynamic_cast<const QNL_cpt*>(&source)) return &cpt->GetTable();
    return nullptr;
}

} // namespace

QNL_table::QNL_table(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {
    AddParents();
    CheckConsistency(1);
    CheckReadiness(1);
}

QNL_table::QNL_table(const QNL_table& other) : QNL_nodeDefinition(other), cells(other.cells) {
    network = other.network;
    handle = other.handle;
    status = other.status;
}

QNL_nodeDefinition* QNL_table::CreateCopy() const {
    return CopyOrNull(*this);
}

int QNL_table::CleanUp(int deep) {
    if (deep) cells.CleanUp();
    return CheckConsistency(0);
}

int QNL_table::CheckConsistency(int) {
    const int last = LastDimension();
    const bool shaped = last < 0 || (cells.Matrix().GetSizeOfDimension(last) == 1 &&
                                     last == cells.Owners().GetCount());
    status = shaped ? (status | STATUS_VALID) : (status & ~STATUS_VALID);
    return 0;
}

int QNL_table::CheckReadiness(int) {
    status |= STATUS_READY;
    return 0;
}

int QNL_table::Notify(int kind) {
    return NotifyNetwork(network, handle, kind);
}

int QNL_table::AddParents() {
    return Guarded([&] {
        ParentTable fresh = cells.EmptyLike();
        if (int r = Rebuild(network, handle, fresh)) return r;
        cells = std::move(fresh);
        CheckConsistency(0);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Parents.

int QNL_table::Settle(int outcome) {
    if (outcome <= 0) return outcome;
    CheckConsistency(0);
    return 0;
}

// Reordering keeps the shape, so the definition is not checked again.
int QNL_table::ReorderParentOutcomes(int parent, const QNL_intArray& order) {
    const int outcome = cells.ReorderParentOutcomes(*this, parent, order);
    return outcome < 0 ? outcome : 0;
}

int QNL_table::RemoveInvalidParents() {
    return RemoveNonTableParents(network, handle);
}

// ---------------------------------------------------------------------------------------
// Conversion.

// The table is rebuilt for the source node's parents and takes the source's cells only when
// both have the same dimensions. A source without utilities of its own (an equation) leaves
// the zero table rather than an empty one, which later parent edits could not follow. A
// refused source leaves this table as it was.
int QNL_table::Assign(const QNL_nodeDefinition& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    bool dropParents = false;
    switch (source.GetType()) {
    case 0:
    case QNL_TYPE_EQUATION:
    case QNL_TYPE_EQUATION_SCC:
    case QNL_TYPE_TABLE:
    case QNL_TYPE_CPT:
    case QNL_TYPE_TRUTHTABLE:
    case QNL_TYPE_NOISY_MAX:
    case QNL_TYPE_NOISY_ADDER:
        break;
    case QNL_TYPE_LIST:
    case QNL_TYPE_MAU:
        dropParents = true;
        break;
    default:
        return -2;
    }
    return Guarded([&] {
        QNL_network* net = source.GetNetwork();
        const int node = source.GetHandle();
        if (dropParents && net != nullptr && net->IsValidNodeHandle(node))
            if (int r = net->RemoveAllParents(node)) return r;
        ParentTable fresh = cells.EmptyLike();
        if (int r = Rebuild(net, node, fresh)) return r;
        const QNL_Dmatrix* sourceCells = SourceTable(source);
        if (sourceCells != nullptr && SameDimensions(*sourceCells, fresh.Matrix()))
            if (int r = fresh.Matrix().Assign(*sourceCells)) return r;
        QNL_nodeDefinition::Assign(source);
        cells = std::move(fresh);
        CheckConsistency(1);
        CheckReadiness(1);
        Notify(QNL_network::CHANGE_SHAPE);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Utilities.

int QNL_table::SetUtilities(const QNL_doubleArray& values) {
    if (int result = cells.AssignValues(*this, values)) return result;
    CheckConsistency(1);
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}

double QNL_table::GetMinimumUtility() const {
    return Extreme(cells.Matrix(), [](double a, double b) { return a < b; });
}

double QNL_table::GetMaximumUtility() const {
    return Extreme(cells.Matrix(), [](double a, double b) { return a > b; });
}

// Non-finite bounds would turn every utility into NaN or infinity; they are refused with the
// table unchanged.
int QNL_table::RescaleUtilities(double refLow, double refHigh, double targetLow,
                                double targetHigh) {
    if (!IsValid()) return -567;
    if (!std::isfinite(refLow) || !std::isfinite(refHigh) || !std::isfinite(targetLow) ||
        !std::isfinite(targetHigh))
        return -2;
    double* values = cells.Matrix().GetItems().Items();
    const int total = cells.Matrix().GetSize();
    const double low = GetMinimumUtility();
    const double high = GetMaximumUtility();
    const bool defined =
        std::any_of(values, values + total, [](double u) { return u != kUndefined; });
    if (defined) {
        if (refLow == refHigh) {
            refLow = low;
            refHigh = high;
        }
        if (low < refLow) refLow = low;
        if (high > refHigh) refHigh = high;
    }
    if (refLow == refHigh || targetLow == targetHigh) {
        for (int i = 0; i < total; ++i)
            if (values[i] != kUndefined) values[i] = targetHigh;
        Notify(QNL_network::CHANGE_VALUES);
        return 0;
    }
    if (refLow == targetLow && refHigh == targetHigh) return 0;
    const double factor = (targetHigh - targetLow) / (refHigh - refLow);
    for (int i = 0; i < total; ++i)
        if (values[i] != kUndefined) values[i] = (values[i] - refLow) * factor + targetLow;
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}
