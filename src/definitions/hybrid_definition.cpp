#include "definitions/hybrid_definition.h"

#include "definitions/definition_support.h"
#include "definitions/value_dependence.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <new>

using quarn::detail::Guarded;

// ---------------------------------------------------------------------------------------
// Distribution table

QNL_evaluationContext* QNL_distributionTable::GetHolder(int index) const {
    if (index < 0 || index >= GetSize()) return nullptr;
    return holders[static_cast<std::size_t>(index)].get();
}

int QNL_distributionTable::SetHolder(int index, QNL_evaluationContext* holder) {
    if (index < 0 || index >= GetSize()) return -2;
    holders[static_cast<std::size_t>(index)].reset(holder);
    return 0;
}

int QNL_distributionTable::GetIndex(const int* const* states) const {
    int index = 0;
    const int parents = GetNumberOfParentDimensions();
    for (int d = 0; d < parents; ++d)
        index += *states[d] * multipliers[d];
    return index;
}

int QNL_distributionTable::GetIndex(const std::vector<int>& states) const {
    int index = 0;
    const int parents = GetNumberOfParentDimensions();
    for (int d = 0; d < parents && d < static_cast<int>(states.size()); ++d)
        index += states[static_cast<std::size_t>(d)] * multipliers[d];
    return index;
}

void QNL_distributionTable::ComputeMultipliers() {
    const int rank = dimensions.GetCount();
    multipliers.Flush();
    for (int d = 0; d < rank; ++d)
        multipliers.Add(1);
    for (int d = rank - 2; d >= 0; --d)
        multipliers[d] = multipliers[d + 1] * dimensions[d + 1];
}

int QNL_distributionTable::Reset(QNL_evaluationContext* holder) {
    return Guarded([&] {
        std::vector<std::unique_ptr<QNL_evaluationContext>> fresh;
        fresh.emplace_back(holder);
        QNL_intArray sizes;
        if (sizes.Add(1) != 0) throw std::bad_alloc();
        holders = std::move(fresh);
        dimensions = std::move(sizes);
        ComputeMultipliers();
        return 0;
    });
}

int QNL_distributionTable::Assign(const QNL_distributionTable& other) {
    if (&other == this) return 0;
    return Guarded([&] {
        std::vector<std::unique_ptr<QNL_evaluationContext>> fresh(other.holders.size());
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            if (other.holders[i] == nullptr) continue;
            fresh[i].reset(other.holders[i]->Clone());
            if (fresh[i] == nullptr) throw std::bad_alloc();
        }
        QNL_intArray sizes(other.dimensions);
        holders = std::move(fresh);
        dimensions = std::move(sizes);
        ComputeMultipliers();
        return 0;
    });
}

// The shape edit runs on a matrix whose cells hold the holder indices; the holders are then
// rebuilt from the cells, every clone made before anything is replaced.
template <typename Edit> int QNL_distributionTable::Restructure(Edit edit) {
    return Guarded([&] {
        const int rank = dimensions.GetCount();
        std::vector<int> sizes(static_cast<std::size_t>(rank));
        for (int d = 0; d < rank; ++d)
            sizes[static_cast<std::size_t>(d)] = dimensions[d];
        QNL_Dmatrix cells;
        if (int r = cells.Setup(sizes.data(), rank)) return r;
        for (int i = 0; i < cells.GetSize(); ++i)
            cells.Subscript(i) = i;
        if (int r = edit(cells)) return r;

        const int n = cells.GetSize();
        std::vector<std::unique_ptr<QNL_evaluationContext>> fresh(static_cast<std::size_t>(n));
        std::vector<int> moved(static_cast<std::size_t>(n), -1);
        std::vector<char> taken(holders.size(), 0);
        for (int c = 0; c < n; ++c) {
            const int from = static_cast<int>(cells.Subscript(c));
            if (from < 0 || from >= GetSize()) return -2;
            const std::size_t f = static_cast<std::size_t>(from);
            if (!taken[f]) {
                taken[f] = 1;
                moved[static_cast<std::size_t>(c)] = from;
            } else if (holders[f] != nullptr) {
                fresh[static_cast<std::size_t>(c)].reset(holders[f]->Clone());
                if (fresh[static_cast<std::size_t>(c)] == nullptr) throw std::bad_alloc();
            }
        }
        QNL_intArray shape;
        for (int d = 0; d < cells.GetNumberOfDimensions(); ++d)
            if (shape.Add(cells.GetSizeOfDimension(d)) != 0) throw std::bad_alloc();
        for (int c = 0; c < n; ++c)
            if (moved[static_cast<std::size_t>(c)] >= 0)
                fresh[static_cast<std::size_t>(c)] = std::move(
                    holders[static_cast<std::size_t>(moved[static_cast<std::size_t>(c)])]);
        holders = std::move(fresh);
        dimensions = std::move(shape);
        ComputeMultipliers();
        return 0;
    });
}

int QNL_distributionTable::InsertDimension(int position, int size) {
    if (position < 0 || position > GetNumberOfParentDimensions() || size < 1) return -2;
    return Restructure([&](QNL_Dmatrix& m) { return m.InsertDimension(position, size); });
}

int QNL_distributionTable::RemoveDimension(int dim) {
    if (dim < 0 || dim >= GetNumberOfParentDimensions()) return -2;
    return Restructure([&](QNL_Dmatrix& m) { return m.RemoveDimension(dim, 0); });
}

int QNL_distributionTable::InsertState(int dim, int index) {
    if (dim < 0 || dim >= GetNumberOfParentDimensions()) return -2;
    if (index < 0 || index > dimensions[dim]) return -2;
    return Restructure([&](QNL_Dmatrix& m) {
        if (int r = m.AddOutcome(dim)) return r;
        return m.ShiftDataUpwards(dim, index, 0.0);
    });
}

int QNL_distributionTable::RemoveState(int dim, int index) {
    if (dim < 0 || dim >= GetNumberOfParentDimensions()) return -2;
    if (index < 0 || index >= dimensions[dim] || dimensions[dim] < 2) return -2;
    return Restructure([&](QNL_Dmatrix& m) {
        if (int r = m.ShiftDataDownwards(dim, index)) return r;
        return m.RemoveLastOutcome(dim);
    });
}

int QNL_distributionTable::ReorderStates(int dim, const QNL_intArray& order) {
    if (dim < 0 || dim >= GetNumberOfParentDimensions()) return -2;
    if (!quarn::detail::IsPermutation(order, dimensions[dim])) return -2;
    return Restructure([&](QNL_Dmatrix& m) { return m.ReorderOutcomes(dim, order); });
}

int QNL_distributionTable::ReorderDimensions(const QNL_intArray& order) {
    const int rank = dimensions.GetCount();
    if (!quarn::detail::IsPermutation(order, rank) || order[rank - 1] != rank - 1) return -2;
    return Restructure([&](QNL_Dmatrix& m) { return m.ReorderDimensions(order); });
}

// ---------------------------------------------------------------------------------------
// Hybrid definition

bool QNL_hybridDefinition::IsHybridType(int type) {
    return type == QNL_TYPE_DCHILDHPARENT || type == QNL_TYPE_DISTRIBUTION ||
           type == QNL_TYPE_HEQUATION;
}

QNL_hybridDefinition::QNL_hybridDefinition(int handle, QNL_network* network)
    : QNL_nodeDefinition(handle, network) {}

QNL_hybridDefinition::QNL_hybridDefinition(const QNL_hybridDefinition& other)
    : QNL_nodeDefinition(other) {}

void QNL_hybridDefinition::Notify(int kind) {
    InvalidateEstimates(kind);
    quarn::detail::NotifyNetwork(network, handle, kind);
}

// A hybrid network is always updated by sampling, and every estimate depends on the draws
// and weights of every node.
void QNL_hybridDefinition::InvalidateEstimates(int kind) {
    if (network != nullptr && network->IsValidNodeHandle(handle) &&
        quarn::detail::Listens(*network, kind))
        quarn::detail::InvalidateSampledValues(*network, true);
}

QNL_evaluationContext* QNL_hybridDefinition::GetDistribution(const int* const* states) const {
    return table.GetHolder(table.GetIndex(states));
}

int QNL_hybridDefinition::SetDistribution(int index, QNL_evaluationContext* holder) {
    if (holder == nullptr || !AcceptsHolder(*holder)) return -2;
    if (int r = table.SetHolder(index, holder)) return r;
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}

int QNL_hybridDefinition::AddParents() {
    const int result = Guarded([&] {
        owners.Flush();
        return table.Reset(NewHolder());
    });
    if (result != 0 || network == nullptr || !network->IsValidNodeHandle(handle)) return result;
    QNL_intArray discrete;
    if (int r = network->GetDiscreteParents(handle, discrete)) return r;
    for (int i = 0; i < discrete.GetCount(); ++i)
        if (int r = AddParent(discrete[i]))
            QNL_errorHandler::Instance().LogError(r, "Parent could not be added");
    return 0;
}

int QNL_hybridDefinition::AddParent(int parent) {
    const int result = AddTableParent(parent);
    if (result == 0) InvalidateEstimates(QNL_network::CHANGE_ARC_ADDED);
    return result;
}

int QNL_hybridDefinition::AddTableParent(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent) || parent == handle) return -2;
    const int type = quarn::detail::TypeAt(network, parent);
    if (type == QNL_TYPE_DISTRIBUTION || type == QNL_TYPE_HEQUATION) return 0;
    if (type != QNL_TYPE_DCHILDHPARENT || owners.IsInList(parent)) return -2;
    const int outcomes = quarn::detail::DefinitionAt(network, parent)->GetNumberOfOutcomes();
    if (outcomes < 1) return -2;
    // The dimension goes among the other discrete parents in the node's parent order.
    const QNL_intArray& parents = network->GetParents(handle);
    int position = 0;
    for (int i = 0; i < parents.GetCount() && parents[i] != parent; ++i)
        if (owners.IsInList(parents[i])) ++position;
    return Guarded([&] {
        QNL_intArray grown(owners);
        if (grown.Insert(position, parent) != 0) throw std::bad_alloc();
        if (int r = table.InsertDimension(position, outcomes)) return r;
        owners = std::move(grown);
        CheckConsistency(0);
        return 0;
    });
}

int QNL_hybridDefinition::RemoveParent(int parent) {
    const int result = RemoveTableParent(parent);
    if (result == 0) InvalidateEstimates(QNL_network::CHANGE_ARC_REMOVED);
    return result;
}

int QNL_hybridDefinition::RemoveTableParent(int parent) {
    if (!IsValid()) return -567;
    const int dim = DimensionOf(parent);
    if (dim >= 0) {
        return Guarded([&] {
            QNL_intArray shrunk(owners);
            shrunk.Delete(dim);
            if (int r = table.RemoveDimension(dim)) return r;
            owners = std::move(shrunk);
            return 0;
        });
    }
    // A parent without a dimension has nothing to drop, whatever its type: refusing would keep
    // the arc of a node that became hybrid under a discrete parent, and an outcome change of
    // that parent would then stop at this node before reaching its other children.
    return network != nullptr && network->IsValidNodeHandle(parent) ? 0 : -2;
}

int QNL_hybridDefinition::InsertParentOutcome(int parent, int index) {
    if (!IsValid()) return -567;
    const int dim = DimensionOf(parent);
    return dim < 0 ? -2 : table.InsertState(dim, index);
}

int QNL_hybridDefinition::RemoveParentOutcome(int parent, int index) {
    if (!IsValid()) return -567;
    const int dim = DimensionOf(parent);
    return dim < 0 ? -2 : table.RemoveState(dim, index);
}

int QNL_hybridDefinition::ReorderParentOutcomes(int parent, const QNL_intArray& order) {
    if (!IsValid()) return -567;
    const int dim = DimensionOf(parent);
    return dim < 0 ? -2 : table.ReorderStates(dim, order);
}

// The parent list is already in its new order; the dimensions follow it.
int QNL_hybridDefinition::ReorderParents(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return -2;
    const QNL_intArray& parents = network->GetParents(handle);
    if (!quarn::detail::IsPermutation(order, parents.GetCount())) return -2;
    return Guarded([&] {
        QNL_intArray reordered, dims;
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int dim = DimensionOf(parents[i]);
            if (dim < 0) continue;
            if (reordered.Add(parents[i]) != 0 || dims.Add(dim) != 0) throw std::bad_alloc();
        }
        if (dims.Add(owners.GetCount()) != 0) throw std::bad_alloc();
        if (int r = table.ReorderDimensions(dims)) return r;
        owners = std::move(reordered);
        return 0;
    });
}

int QNL_hybridDefinition::RemoveInvalidParents() {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    int status = 0;
    // A copy: every removal shortens the network's own list.
    const QNL_intArray parents(network->GetParents(handle));
    for (int i = 0; i < parents.GetCount(); ++i) {
        const int parent = parents[i];
        const int type = quarn::detail::TypeAt(network, parent);
        int r = 0;
        if (!IsHybridType(type))
            r = network->RemoveArc(parent, handle, 0);
        else if (type != QNL_TYPE_DCHILDHPARENT && DimensionOf(parent) >= 0)
            r = RemoveParent(parent);
        else if (type == QNL_TYPE_DCHILDHPARENT && DimensionOf(parent) < 0)
            r = AddParent(parent);
        if (status == 0) status = r;
    }
    return status;
}

void QNL_hybridDefinition::ParentIdChanged(int, const char* oldId, const char* newId) {
    if (oldId == nullptr || newId == nullptr) return;
    for (int i = 0; i < table.GetSize(); ++i)
        if (QNL_evaluationContext* holder = table.GetHolder(i))
            holder->RenameVariable(oldId, newId);
}

int QNL_hybridDefinition::Assign(const QNL_nodeDefinition& other) {
    if (!other.IsValid()) return -567;
    if (&other == this) return 0;
    // From a definition of another kind only the node is taken, so that a node can change
    // its type into a hybrid one and start from the default holders; the two continuous
    // kinds share their holders and bounds.
    const bool continuous =
        (other.GetType() & QNL_TYPE_BIT_CONTINUOUS) && (GetType() & QNL_TYPE_BIT_CONTINUOUS);
    if (other.GetType() != GetType() && !continuous) {
        network = other.GetNetwork();
        handle = other.GetHandle();
        CheckConsistency(1);
        return 0;
    }
    const auto& source = static_cast<const QNL_hybridDefinition&>(other);
    const int result = Guarded([&] {
        QNL_intArray copiedOwners(source.owners);
        if (int r = table.Assign(source.table)) return r;
        owners = std::move(copiedOwners);
        AssignOwn(source);
        return 0;
    });
    if (result != 0) return result;
    network = source.network;
    handle = source.handle;
    CheckConsistency(1);
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_SHAPE);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Continuous definitions

QNL_continuousDefinition::QNL_continuousDefinition(int handle, QNL_network* network)
    : QNL_hybridDefinition(handle, network) {}

QNL_continuousDefinition::QNL_continuousDefinition(const QNL_continuousDefinition& other)
    : QNL_hybridDefinition(other) {
    if (other.IsValid()) {
        table.Assign(other.table);
        owners = other.owners;
        lower = other.lower;
        upper = other.upper;
    }
}

QNL_evaluationContext* QNL_continuousDefinition::NewHolder() const {
    return new QNL_namedExpressions();
}

// Expressions of the user, or the call the equation-network solver hands over.
bool QNL_continuousDefinition::AcceptsHolder(const QNL_evaluationContext& holder) const {
    return dynamic_cast<const QNL_namedExpressions*>(&holder) != nullptr ||
           dynamic_cast<const QNL_equationContext*>(&holder) != nullptr;
}

void QNL_continuousDefinition::AssignOwn(const QNL_hybridDefinition& other) {
    const auto& source = static_cast<const QNL_continuousDefinition&>(other);
    lower = source.lower;
    upper = source.upper;
}

void QNL_continuousDefinition::SetLowerBound(double value) {
    if (value == lower) return;
    lower = value;
    Notify(QNL_network::CHANGE_VALUES);
}

void QNL_continuousDefinition::SetUpperBound(double value) {
    if (value == upper) return;
    upper = value;
    Notify(QNL_network::CHANGE_VALUES);
}

int QNL_continuousDefinition::SetExpression(int index, const std::string& text,
                                            std::string* message) {
    auto* holder = dynamic_cast<QNL_namedExpressions*>(table.GetHolder(index));
    if (holder == nullptr) return -2;
    // The hybrid algorithms draw only from a distribution at the root; noise inside a sum
    // belongs in a node of its own. Refused here, with the node as it was, since every
    // update would refuse it.
    QNL_namedExpressions probe;
    if (int r = probe.SetMainExpression(text, message)) return r;
    if (probe.DrawsBelowRoot()) {
        const QNL_node* node = network != nullptr ? network->GetNode(handle) : nullptr;
        const std::string why = "its expression draws from a distribution below its root";
        if (message != nullptr) *message = why;
        return QNL_errorHandler::Instance().LogError(
            -2, "ERROR: Node [" + std::string(node != nullptr ? node->GetId() : "") + "] : " + why);
    }
    if (int r = holder->SetMainExpression(text, message)) return r;
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}

QNL_distribution::QNL_distribution(int handle, QNL_network* network)
    : QNL_continuousDefinition(handle, network) {
    AddParents();
}

QNL_nodeDefinition* QNL_distribution::CreateCopy() const {
    return quarn::detail::CopyOrNull(*this);
}

QNL_hequation::QNL_hequation(int handle, QNL_network* network)
    : QNL_continuousDefinition(handle, network) {
    AddParents();
}

QNL_nodeDefinition* QNL_hequation::CreateCopy() const {
    return quarn::detail::CopyOrNull(*this);
}

// ---------------------------------------------------------------------------------------
// Discrete child of continuous parents

QNL_dchildHparent::QNL_dchildHparent(int handle, QNL_network* network)
    : QNL_hybridDefinition(handle, network) {
    ids.Add("state0");
    ids.Add("state1");
    AddParents();
}

QNL_dchildHparent::QNL_dchildHparent(const QNL_dchildHparent& other) : QNL_hybridDefinition(other) {
    if (other.IsValid()) {
        table.Assign(other.table);
        owners = other.owners;
        outcomeCount = other.outcomeCount;
        ids = other.ids;
    }
}

QNL_nodeDefinition* QNL_dchildHparent::CreateCopy() const {
    return quarn::detail::CopyOrNull(*this);
}

int QNL_dchildHparent::CheckConsistency(int deep) {
    QNL_nodeDefinition::CheckConsistency(deep);
    if (!ids.IsValid() || ids.GetCount() != outcomeCount) status &= ~STATUS_VALID;
    return 0;
}

int QNL_dchildHparent::CheckReadiness(int deep) {
    ids.CheckReadiness(deep);
    if (ids.IsReady())
        status |= STATUS_READY;
    else
        status &= ~STATUS_READY;
    return 0;
}

std::vector<std::string> QNL_dchildHparent::IdList() const {
    std::vector<std::string> out;
    for (int i = 0; i < ids.GetCount(); ++i) {
        const char* id = ids.GetString(i);
        out.emplace_back(id != nullptr ? id : "");
    }
    return out;
}

QNL_evaluationContext* QNL_dchildHparent::NewHolder() const {
    return new QNL_outcomeExpressions(IdList());
}

bool QNL_dchildHparent::AcceptsHolder(const QNL_evaluationContext& holder) const {
    const auto* outcomes = dynamic_cast<const QNL_outcomeExpressions*>(&holder);
    return outcomes != nullptr && outcomes->GetNumberOfOutcomes() == outcomeCount;
}

void QNL_dchildHparent::AssignOwn(const QNL_hybridDefinition& other) {
    const auto& source = static_cast<const QNL_dchildHparent&>(other);
    outcomeCount = source.outcomeCount;
    ids = source.ids;
}

template <typename Edit> void QNL_dchildHparent::ForEachHolder(Edit edit) {
    for (int i = 0; i < table.GetSize(); ++i)
        if (auto* holder = dynamic_cast<QNL_outcomeExpressions*>(table.GetHolder(i))) edit(*holder);
}

int QNL_dchildHparent::AddOutcome(const char* id) {
    if (!IsValid()) return -567;
    return InsertOutcome(outcomeCount, id);
}

int QNL_dchildHparent::InsertOutcome(int index, const char* id) {
    if (!IsValid()) return -567;
    if (index < 0 || index > outcomeCount) return -2;
    const int result = Guarded([&] {
        if (int r = quarn::detail::InsertOutcomeId(ids, index, id, "State")) return r;
        const std::string inserted = ids.GetString(index);
        ForEachHolder([&](QNL_outcomeExpressions& h) { h.InsertOutcome(index, inserted); });
        return 0;
    });
    if (result != 0) return result;
    ++outcomeCount;
    CheckConsistency(0);
    return PropagateInsertOutcome(index);
}

int QNL_dchildHparent::RemoveOutcome(int index) {
    if (!IsValid()) return -567;
    if (outcomeCount < 3 || index < 0 || index >= outcomeCount) return -2;
    ForEachHolder([&](QNL_outcomeExpressions& h) { h.RemoveOutcome(index); });
    --outcomeCount;
    const int result = PropagateRemoveOutcome(index, ids);
    CheckConsistency(0);
    return result;
}

int QNL_dchildHparent::RenameOutcome(int index, const char* id) {
    if (!IsValid()) return -567;
    if (index < 0 || index >= outcomeCount) return -2;
    if (int r = ids.SetString(index, id)) return r;
    ForEachHolder([&](QNL_outcomeExpressions& h) { h.RenameOutcome(index, id); });
    return 0;
}

int QNL_dchildHparent::SetOutcomeIds(const QNL_stringArray& newIds) {
    if (!IsValid() || !newIds.IsValid()) return -567;
    return Guarded([&] {
        if (int r = quarn::detail::RenameOutcomeIds(ids, newIds)) return r;
        const std::vector<std::string> list = IdList();
        ForEachHolder([&](QNL_outcomeExpressions& h) {
            for (int i = 0; i < h.GetNumberOfOutcomes() && i < static_cast<int>(list.size()); ++i)
                h.RenameOutcome(i, list[static_cast<std::size_t>(i)]);
        });
        CheckConsistency(0);
        return 0;
    });
}

// Every holder restarts with the new outcomes: the old per-outcome expressions have no
// meaning for another outcome list.
int QNL_dchildHparent::Reshape(QNL_idArray& fresh) {
    const int result = Guarded([&] {
        QNL_idArray saved(ids);
        ids = fresh;
        const std::vector<std::string> list = IdList();
        ids = saved;
        std::vector<std::unique_ptr<QNL_evaluationContext>> holders;
        for (int i = 0; i < table.GetSize(); ++i)
            holders.emplace_back(new QNL_outcomeExpressions(list));
        for (int i = 0; i < table.GetSize(); ++i)
            table.SetHolder(i, holders[static_cast<std::size_t>(i)].release());
        ids = fresh;
        outcomeCount = ids.GetCount();
        return 0;
    });
    if (result != 0) return result;
    CheckConsistency(0);
    ResizeAnnotations();
    Notify(QNL_network::CHANGE_SHAPE);
    return 0;
}

int QNL_dchildHparent::SetNumberOfOutcomes(int count) {
    if (quarn::detail::HasDependents(network, handle)) return -19;
    if (count < 1) return -2;
    return Guarded([&] {
        QNL_idArray fresh(false);
        if (int r = quarn::detail::DefaultOutcomeIds(fresh, "State", count)) return r;
        return Reshape(fresh);
    });
}

int QNL_dchildHparent::SetNumberOfOutcomes(const QNL_stringArray& newIds) {
    if (quarn::detail::HasDependents(network, handle)) return -19;
    if (!newIds.IsValid()) return -567;
    if (newIds.GetCount() < 1) return -2;
    return Guarded([&] {
        QNL_idArray fresh(false);
        bool usable = false;
        if (int r = quarn::detail::ReadOutcomeIds(newIds, fresh, usable)) return r;
        return usable ? Reshape(fresh) : SetNumberOfOutcomes(newIds.GetCount());
    });
}

int QNL_dchildHparent::ReorderOutcomes(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (!quarn::detail::IsPermutation(order, outcomeCount)) return -2;
    const int result = Guarded([&] {
        QNL_idArray reordered(ids);
        if (int r = reordered.Reorder(order)) return r;
        std::vector<int> list;
        for (int i = 0; i < order.GetCount(); ++i)
            list.push_back(order[i]);
        ForEachHolder([&](QNL_outcomeExpressions& h) { h.ReorderOutcomes(list); });
        ids = std::move(reordered);
        return 0;
    });
    if (result != 0) return result;
    return PropagateReorderOutcomes(order);
}

int QNL_dchildHparent::SetExpression(int index, const std::string& outcomeId,
                                     const std::string& text) {
    auto* holder = dynamic_cast<QNL_outcomeExpressions*>(table.GetHolder(index));
    if (holder == nullptr) return -2;
    if (int r = holder->SetExpression(outcomeId, text)) return r;
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}
