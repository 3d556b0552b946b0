#include "model/node_cost.h"

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <cmath>
#include <string>

QNL_nodeCost::QNL_nodeCost(int handle, QNL_network* network) : network(network), handle(handle) {
    AddParents();
}

QNL_nodeCost::QNL_nodeCost(const QNL_nodeCost& other) : QNL_object() {
    if (Assign(other) != 0) status &= ~STATUS_VALID;
}

int QNL_nodeCost::CleanUp(int deep) {
    if (deep) costs.CleanUp();
    return CheckConsistency(deep);
}

int QNL_nodeCost::Assign(const QNL_nodeCost& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    QNL_Dmatrix copy;
    if (copy.Assign(source.costs) != 0) return -42;
    CleanUp(1);
    costs = std::move(copy);
    network = source.network;
    handle = source.handle;
    return 0;
}

int QNL_nodeCost::HandleMessage(int code) {
    if (code == QNL_nodeDefinition::CHANGE_MESSAGE && network != nullptr)
        network->NotifyChange(handle, code);
    return 0;
}

int QNL_nodeCost::ParentType(int parent) const {
    const QNL_node* node = network != nullptr ? network->GetNode(parent) : nullptr;
    return node != nullptr ? node->GetType() : 0;
}

// Dimensions exist only for cost parents of table types, so a parent's dimension is counted
// among those: a cost parent whose type changed since cannot shift the others' positions.
int QNL_nodeCost::ParentPosition(int parent) const {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return -2;
    const QNL_intArray& parents = network->GetParents(handle, 1);
    int position = 0;
    for (int i = 0; i < parents.GetCount(); ++i) {
        if (parents[i] == parent) return position;
        if (QNL_IsTableParentType(ParentType(parents[i]))) ++position;
    }
    return -2;
}

int QNL_nodeCost::AddParents() {
    int one = 1;
    costs.Setup(&one, 1);
    costs.FillWith(0.0);
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    const QNL_intArray parents(network->GetParents(handle, 1));
    for (int i = 0; i < parents.GetCount(); ++i) {
        int result = AddParent(parents[i]);
        if (result != 0)
            QNL_errorHandler::Instance().LogError(result, "Parent could not be added");
    }
    return 0;
}

int QNL_nodeCost::AddParent(int parent) {
    if (!IsValid()) return -567;
    const int type = ParentType(parent);
    if (!QNL_IsTableParentType(type)) return -2;
    const int position = ParentPosition(parent);
    if (position < 0) return position;
    const int outcomes = network->GetNode(parent)->GetDefinition()->GetNumberOfOutcomes();
    if (outcomes < 1) return 0;
    int result = costs.InsertDimension(position, outcomes);
    CheckConsistency(1);
    return result;
}

int QNL_nodeCost::RemoveParent(int parent) {
    if (!IsValid()) return -567;
    const int type = ParentType(parent);
    if (type == QNL_TYPE_TABLE) return -2;
    if (QNL_IsTableParentType(type)) {
        const int position = ParentPosition(parent);
        if (position < 0) return position;
        int result = costs.RemoveDimension(position, 0);
        if (result != 0) return result;
    }
    CheckConsistency(1);
    return 0;
}

// The dimension an outcome change of the parent applies to: -2 for a utility parent, -1
// for a parent without a dimension (nothing to do), else its position.
int QNL_nodeCost::OutcomeDimension(int parent) const {
    const int type = ParentType(parent);
    if (type == QNL_TYPE_TABLE) return -2;
    if (!QNL_IsTableParentType(type)) return -1;
    const int position = ParentPosition(parent);
    return position < 0 ? -2 : position;
}

int QNL_nodeCost::InsertParentOutcome(int parent, int index) {
    if (!IsValid()) return -567;
    const int position = OutcomeDimension(parent);
    if (position < 0) return position == -1 ? 0 : position;
    int result = costs.AddOutcome(position);
    if (result == 0) result = costs.ShiftDataUpwards(position, index, 0.0);
    CheckConsistency(1);
    return result;
}

int QNL_nodeCost::RemoveParentOutcome(int parent, int index) {
    if (!IsValid()) return -567;
    const int position = OutcomeDimension(parent);
    if (position < 0) return position == -1 ? 0 : position;
    int result = costs.ShiftDataDownwards(position, index);
    if (result == 0) result = costs.RemoveLastOutcome(position);
    CheckConsistency(1);
    return result;
}

int QNL_nodeCost::ReorderParentOutcomes(int parent, const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (!QNL_IsTableParentType(ParentType(parent))) return 0;
    const int position = ParentPosition(parent);
    if (position < 0) return position;
    int result = costs.ReorderOutcomes(position, order);
    CheckConsistency(1);
    return result;
}

int QNL_nodeCost::SetCosts(const QNL_doubleArray& values) {
    if (!IsValid()) return -567;
    if (values.GetSize() != costs.GetSize()) return -2;
    // Costs are summed and compared when tests are ranked, and the text formats have no text
    // for an infinity or a NaN.
    for (int i = 0; i < values.GetSize(); ++i) {
        if (std::isfinite(values[i])) continue;
        const QNL_node* node = network != nullptr ? network->GetNode(handle) : nullptr;
        const char* id = node != nullptr && node->GetId() != nullptr ? node->GetId() : "";
        return QNL_errorHandler::Instance().LogError(
            -2, "Cost " + std::to_string(i) + " of node '" + id + "' is not a finite number");
    }
    for (int i = 0; i < values.GetSize(); ++i) costs.Subscript(i) = values[i];
    CheckConsistency(1);
    CheckReadiness(1);
    return 0;
}
