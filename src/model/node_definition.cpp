#include "model/node_definition.h"

#include "definitions/extra_definition.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/string_array.h"

#include <string>
#include <vector>

QNL_nodeDefinition::QNL_nodeDefinition(int handle, QNL_network* network)
    : network(network), handle(handle) {
    status = STATUS_READY;
    if (network != nullptr && network->IsValidNodeHandle(handle)) status |= STATUS_VALID;
}

QNL_nodeDefinition::QNL_nodeDefinition(const QNL_nodeDefinition& other) : QNL_object() {
    status = STATUS_READY;
    if (&other != this && other.IsValid()) {
        network = other.network;
        handle = other.handle;
        if (network != nullptr && network->IsValidNodeHandle(handle)) status |= STATUS_VALID;
    }
}

int QNL_nodeDefinition::CheckConsistency(int) {
    if (network != nullptr && network->IsValidNodeHandle(handle))
        status |= STATUS_VALID;
    else
        status &= ~STATUS_VALID;
    return 0;
}

void QNL_nodeDefinition::SetNetwork(QNL_network* newNetwork, int newHandle) {
    network = newNetwork;
    handle = newHandle;
}

int QNL_nodeDefinition::HandleMessage(int code) {
    if (code == CHANGE_MESSAGE && network != nullptr) network->NotifyChange(handle, code);
    return 0;
}

int QNL_nodeDefinition::Assign(const QNL_nodeDefinition& other) {
    if (!other.IsValid()) return -567;
    if (&other == this) return 0;
    network = other.network;
    handle = other.handle;
    return 0;
}

void QNL_nodeDefinition::ResizeAnnotations() {
    QNL_node* node = network != nullptr ? network->GetNode(handle) : nullptr;
    if (node != nullptr && node->GetDefinition() == this && node->GetExtraDefinition() != nullptr)
        node->GetExtraDefinition()->ResizeToOutcomes(this);
}

QNL_Dmatrix* QNL_nodeDefinition::GetMatrix() {
    QNL_Dmatrix* matrix = nullptr;
    return GetDefinition(&matrix) == 0 ? matrix : nullptr;
}

namespace {

// The checks that make ChangeOutcomes all-or-nothing for every well-behaved class: the map
// names each old outcome at most once and the new identifiers form a valid outcome set.
int CheckOutcomeChange(const QNL_stringArray& ids, const QNL_intArray& map, int oldCount) {
    if (map.GetCount() != ids.GetCount() || ids.GetCount() < 1) return -2;
    std::vector<char> used(static_cast<std::size_t>(oldCount), 0);
    for (int i = 0; i < map.GetCount(); ++i) {
        const int old = map[i];
        if (old < -1 || old >= oldCount) return -2;
        if (old >= 0) {
            if (used[static_cast<std::size_t>(old)]) return -2;
            used[static_cast<std::size_t>(old)] = 1;
        }
    }
    QNL_idArray check;
    for (int i = 0; i < ids.GetCount(); ++i)
        if (check.Add(ids.GetString(i)) != 0) return -2;
    return 0;
}

} // namespace

int QNL_nodeDefinition::ChangeOutcomes(const QNL_stringArray& ids, const QNL_intArray& mapIn) {
    const int n = GetNumberOfOutcomes();
    if (n == -51) return -51;
    if (n < 0) return n;
    int result = CheckOutcomeChange(ids, mapIn, n);
    if (result != 0) return result;

    QNL_intArray map(mapIn);
    int kept = 0;
    for (int i = 0; i < map.GetCount(); ++i)
        if (map[i] >= 0) ++kept;

    // Temporary outcomes keep the definition at two outcomes or more while the old ones go.
    const int temporaries = kept < 2 ? 2 - kept : 0;
    std::string temporaryId = "tmpStateUI0";
    for (int t = 0; t < temporaries; ++t) {
        if ((result = AddOutcome(temporaryId.c_str())) != 0) return result;
        temporaryId += '0';
    }
    for (int j = n - 1; j >= 0; --j) {
        if (map.IsInList(j)) continue;
        if ((result = RemoveOutcome(j)) != 0) return result;
        for (int i = 0; i < map.GetCount(); ++i)
            if (map[i] > j) --map[i];
    }
    const int keptCount = GetNumberOfOutcomes() - temporaries;
    int added = 0;
    for (int i = 0; i < map.GetCount(); ++i) {
        if (map[i] != -1) continue;
        if ((result = AddOutcome(ids.GetString(i))) != 0) return result;
        map[i] = keptCount + added++;
    }
    for (int t = 0; t < temporaries; ++t)
        if ((result = RemoveOutcome(map.GetCount() - added)) != 0) return result;

    bool identity = true;
    for (int i = 0; i < map.GetCount(); ++i) identity = identity && map[i] == i;
    if (!identity && (result = ReorderOutcomes(map)) != 0) return result;
    return SetOutcomeIds(ids);
}

namespace {

// Children over both arc layers are checked before any is changed, so a propagation does not
// stop halfway on a child that cannot take part.
int CheckChildrenCanFollow(QNL_network& network, int handle) {
    const QNL_intArray& children = network.GetChildren(handle, 0);
    for (int i = 0; i < children.GetCount(); ++i) {
        QNL_node* child = network.GetNode(children[i]);
        if (child == nullptr || child->GetDefinition() == nullptr) return -2;
    }
    const QNL_intArray& costChildren = network.GetChildren(handle, 1);
    for (int i = 0; i < costChildren.GetCount(); ++i) {
        QNL_node* child = network.GetNode(costChildren[i]);
        if (child == nullptr || child->GetCost() == nullptr) return -2;
    }
    return 0;
}

// The node's diagnostic annotations follow an outcome change. Annotations already out of step
// with the outcomes (their index or order does not fit) are rebuilt for the definition's
// outcomes instead of stopping the propagation halfway.
template <typename Edit>
int FollowInAnnotations(QNL_network& network, int handle, const QNL_nodeDefinition& definition,
                        Edit edit) {
    QNL_extraDefinition* extra = network.GetNode(handle)->GetExtraDefinition();
    if (extra == nullptr) return 0;
    const int result = edit(*extra);
    return result == -2 ? extra->ResizeToOutcomes(&definition) : result;
}

} // namespace

int QNL_nodeDefinition::PropagateInsertOutcome(int index) {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    int result = CheckChildrenCanFollow(*network, handle);
    if (result != 0) return result;
    if ((result = network->OutcomeInserted(handle, index)) != 0) return result;
    const QNL_intArray children(network->GetChildren(handle, 0));
    for (int i = 0; i < children.GetCount(); ++i)
        if ((result = network->GetNode(children[i])->GetDefinition()->InsertParentOutcome(
                 handle, index)) != 0)
            return result;
    const QNL_intArray costChildren(network->GetChildren(handle, 1));
    for (int i = 0; i < costChildren.GetCount(); ++i)
        if ((result = network->GetNode(costChildren[i])->GetCost()->InsertParentOutcome(
                 handle, index)) != 0)
            return result;
    result = FollowInAnnotations(*network, handle, *this, [index](QNL_extraDefinition& e) {
        return e.InsertOutcome(index);
    });
    if (result != 0) return result;
    CheckConsistency(1);
    return network->NotifyChange(handle, QNL_network::CHANGE_OUTCOMES);
}

int QNL_nodeDefinition::PropagateRemoveOutcome(int index, QNL_stringArray& ids) {
    int result = ids.Delete(index);
    if (result != 0) return result;
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    if ((result = CheckChildrenCanFollow(*network, handle)) != 0) return result;
    if ((result = network->OutcomeRemoved(handle, index)) != 0) return result;
    const QNL_intArray children(network->GetChildren(handle, 0));
    for (int i = 0; i < children.GetCount(); ++i)
        if ((result = network->GetNode(children[i])->GetDefinition()->RemoveParentOutcome(
                 handle, index)) != 0)
            return result;
    const QNL_intArray costChildren(network->GetChildren(handle, 1));
    for (int i = 0; i < costChildren.GetCount(); ++i)
        if ((result = network->GetNode(costChildren[i])->GetCost()->RemoveParentOutcome(
                 handle, index)) != 0)
            return result;
    result = FollowInAnnotations(*network, handle, *this, [index](QNL_extraDefinition& e) {
        return e.RemoveOutcome(index);
    });
    if (result != 0) return result;
    CheckConsistency(1);
    return network->NotifyChange(handle, QNL_network::CHANGE_OUTCOMES);
}

int QNL_nodeDefinition::PropagateReorderOutcomes(const QNL_intArray& order) {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    int result = CheckChildrenCanFollow(*network, handle);
    if (result != 0) return result;
    result = FollowInAnnotations(*network, handle, *this, [&order](QNL_extraDefinition& e) {
        return e.ReorderOutcomes(order);
    });
    if (result != 0) return result;
    const QNL_intArray children(network->GetChildren(handle, 0));
    for (int i = 0; i < children.GetCount(); ++i)
        if ((result = network->GetNode(children[i])->GetDefinition()->ReorderParentOutcomes(
                 handle, order)) != 0)
            return result;
    const QNL_intArray costChildren(network->GetChildren(handle, 1));
    for (int i = 0; i < costChildren.GetCount(); ++i)
        if ((result = network->GetNode(costChildren[i])->GetCost()->ReorderParentOutcomes(
                 handle, order)) != 0)
            return result;
    return network->OutcomesReordered(handle, order);
}
