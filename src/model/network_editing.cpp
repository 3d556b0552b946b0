// Structure editing: nodes, arcs, identifiers and the change notifications that follow.

#include "model/network.h"

#include "definitions/equation_scc.h"
#include "definitions/node_value.h"
#include "definitions/value_dependence.h"
#include "model/case_library.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "model/temporal_network.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

int QNL_network::GenerateNodeId(std::string& out) const {
    long long from = 0;
    return GenerateNodeId(out, from);
}

int QNL_network::GenerateNodeId(std::string& out, long long& from) const {
    for (long long number = std::max<long long>(nodeCount, from);; ++number) {
        ++slotVisits;
        out = "Node" + std::to_string(number);
        if (!IsIdUsed(out.c_str(), -1)) {
            from = number;
            return 0;
        }
    }
}

long long QNL_network::AutomaticIdNumber(const char* id) {
    if (id == nullptr || std::strncmp(id, "Node", 4) != 0) return -1;
    const char* digits = id + 4;
    const std::size_t length = std::strlen(digits);
    // As std::to_string writes a number: no sign, no leading zero, and short enough to fit.
    if (length == 0 || length > 18 || (digits[0] == '0' && length > 1)) return -1;
    long long number = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (digits[i] < '0' || digits[i] > '9') return -1;
        number = number * 10 + (digits[i] - '0');
    }
    return number;
}

// The type is checked before a slot is taken, and a node whose definition or value cannot
// be made is removed again: the table never holds a half-built node.
int QNL_network::AddNode(int definitionType, const char* id) {
    if (quarn::detail::FindDefinitionClass(definitionType) == nullptr ||
        QNL_node::ValueTypeOf(definitionType) < 0)
        return -2;
    SettleEvidenceWalk();
    std::string automatic;
    if (id == nullptr) {
        GenerateNodeId(automatic);
        id = automatic.c_str();
    } else if (!(readingMode & READING_DUPLICATE_IDS) && IsIdUsed(id, -1)) {
        return -2;
    }
    const int slot = FindFreeSlot();
    if (slot < 0) return slot;

    QNL_node* node;
    try {
        node = new QNL_node(0, slot, this);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
    QNL_nodeEntry& entry = table[slot];
    entry.node = node;
    entry.temporalType = 0;
    entry.flags = 0;
    auto abandon = [&](int code) {
        IndexRemove(node->GetId(), slot);
        entry.node = nullptr;
        delete node;
        entry.CleanUp(1);
        return code;
    };
    std::string chosen = id;
    if (node->SetId(id) != 0) {
        // The caller's text is not a valid identifier: the node takes an automatic one.
        GenerateNodeId(chosen);
        if (node->SetId(chosen.c_str()) != 0) return abandon(-2);
    }
    node->GetInfo()->header.SetName(chosen.c_str());
    int result = node->CreateDefinition(definitionType);
    if (result == 0) result = node->CreateValue(definitionType);
    if (result != 0) return abandon(QNL_errorHandler::Instance().LogError(result));
    ++nodeCount;
    // Without arcs or findings the node is in no slice a derivation reads.
    StructureChangedBesideDerivation(-1);
    if (notificationControl & NOTIFY_ON) DropPolicyValues();
    DropValuesIfDiagramBegins(slot);
    node->MergeScreenInfo();
    node->CheckConsistency(1);
    // A sampled update draws for every node, so a new node changes every estimate.
    if (quarn::detail::IsEquationOrHybridType(definitionType) &&
        quarn::detail::Listens(*this, CHANGE_ARC_ADDED))
        quarn::detail::InvalidateSampledValues(*this, false);
    return slot;
}

int QNL_network::DeleteNode(int node) {
    if (!IsValidNodeHandle(node)) return -2;
    SettleEvidenceWalk();
    if (notificationControl & NOTIFY_ON) DropPolicyValues();
    if (quarn::detail::IsEquationOrHybridType(table[node].node->GetType())) {
        // A set of simultaneous equations names its members without arcs: the others let go
        // of a deleted member as an equation lets go of a deleted parent.
        quarn::detail::LeaveSets(*this, node);
        // A sampled update draws for every node, so one node less changes every estimate.
        if (quarn::detail::Listens(*this, CHANGE_ARC_REMOVED))
            quarn::detail::InvalidateSampledValues(*this, false);
    }
    QNL_nodeEntry& entry = table[node];
    // A deleted node's arcs go even when a definition would refuse to drop the parent.
    while (entry.children.GetCount() > 0)
        RemoveOrdinaryArc(node, entry.children[0], true);
    while (entry.parents.GetCount() > 0)
        RemoveOrdinaryArc(entry.parents[0], node, true);
    while (entry.costChildren.GetCount() > 0)
        RemoveCostArc(node, entry.costChildren[0], true);
    while (entry.costParents.GetCount() > 0)
        RemoveCostArc(entry.costParents[0], node, true);
    if (entry.flags & FLAG_TARGET) --targetCount;
    // A value indexed by the node would otherwise be read through whatever node takes its
    // handle next. Only a diagram's solve indexes values, and they stay valid only while its
    // policy values do.
    if (policyValuesWritten || HasDecisionOrUtility()) InvalidateIndexedBy(node);
    IndexRemove(entry.node->GetId(), node);
    delete entry.node;
    entry.node = nullptr;
    SlotFreed(node);
    entry.CleanUp(1);
    entry.temporalType = 0;
    --nodeCount;
    NodeTypeGone(node);
    // Its arcs are gone: what the findings imply does not depend on it.
    StructureChangedBesideDerivation(-1);
    if (cases != nullptr) cases->NodeDeleted(node);
    if (temporal) temporal->NodeDeleted(node);
    return 0;
}

int QNL_network::DeleteAllNodes() {
    QNL_intArray handles;
    GetAllNodes(handles);
    int first = 0;
    for (int i = handles.GetCount() - 1; i >= 0; --i) {
        int result = DeleteNode(handles[i]);
        if (result != 0 && first == 0) first = result;
    }
    return first;
}

// The walk findings wait for follows the arcs they were made under (as every edit below).
int QNL_network::AddArc(int parent, int child, int layer) {
    SettleEvidenceWalk();
    return layer == 1 ? AddCostArc(parent, child) : AddOrdinaryArc(parent, child);
}

int QNL_network::RemoveArc(int parent, int child, int layer) {
    SettleEvidenceWalk();
    return layer == 1 ? RemoveCostArc(parent, child, false)
                      : RemoveOrdinaryArc(parent, child, false);
}

int QNL_network::AddOrdinaryArc(int parent, int child) {
    if (!IsValidNodeHandle(parent) || !IsValidNodeHandle(child) || parent == child) return -2;
    if (IsRelated(parent, child)) return -2;
    if (!(readingMode & READING_NO_CYCLE_TEST) && CreatesCycle(parent, child)) return -2;
    const int childTemporal = table[child].temporalType;
    const int parentTemporal = table[parent].temporalType;
    if (childTemporal != 2 && (parentTemporal == 2 || (parentTemporal == 3 && childTemporal != 3)))
        return -51;
    if (int result = CheckTableGrowth(parent, child)) return result;
    QNL_nodeEntry& from = table[parent];
    QNL_nodeEntry& to = table[child];
    if (from.children.Add(child) != 0) return QNL_errorHandler::Instance().LogError(-42);
    if (to.parents.Add(parent) != 0) {
        from.children.Delete(from.children.GetCount() - 1);
        return QNL_errorHandler::Instance().LogError(-42);
    }
    if (to.node->GetDefinition()->AddParent(parent) != 0) {
        from.children.Delete(from.children.GetCount() - 1);
        to.parents.Delete(to.parents.GetCount() - 1);
        return QNL_errorHandler::Instance().LogError(-51, "Arc rejected by child node");
    }
    if (temporal) temporal->ArcAdded(parent, child);
    return AfterStructureChange(child, CHANGE_ARC_ADDED);
}

// A parent that indexes tables multiplies the child's table by its outcome count; the product
// is taken in 64 bits before anything grows. Decision lists keep no table over their parents.
int QNL_network::CheckTableGrowth(int parent, int child) const {
    const QNL_nodeDefinition* from = table[parent].node->GetDefinition();
    const QNL_nodeDefinition* to = table[child].node->GetDefinition();
    if (from == nullptr || to == nullptr || !QNL_IsTableParentType(from->GetType()) ||
        (to->GetType() & QNL_TYPE_BIT_DECISION))
        return 0;
    const std::int64_t cells =
        std::int64_t{to->GetSize()} * std::max(1, from->GetNumberOfOutcomes());
    if (cells <= MAX_TABLE_CELLS) return 0;
    const char* id = table[child].node->GetId();
    const std::string message = "Matrix too large: the table of node [" +
                                std::string(id != nullptr ? id : "") + "] would hold " +
                                std::to_string(cells) + " cells, more than " +
                                std::to_string(MAX_TABLE_CELLS);
    return QNL_errorHandler::Instance().LogError(-42, message.c_str());
}

// A second identical cost arc is refused: the cost table would take the parent's dimension
// twice, and removing the arc once would leave the lists and the table out of step.
int QNL_network::AddCostArc(int parent, int child) {
    if (!IsValidNodeHandle(parent) || !IsValidNodeHandle(child) || parent == child) return -2;
    QNL_nodeEntry& from = table[parent];
    QNL_nodeEntry& to = table[child];
    if (to.costParents.IsInList(parent)) return -2;
    if (from.costChildren.Add(child) != 0) return QNL_errorHandler::Instance().LogError(-42);
    if (to.costParents.Add(parent) != 0) {
        from.costChildren.Delete(from.costChildren.GetCount() - 1);
        return QNL_errorHandler::Instance().LogError(-42);
    }
    if (to.node->GetCost()->AddParent(parent) != 0) {
        from.costChildren.Delete(from.costChildren.GetCount() - 1);
        to.costParents.Delete(to.costParents.GetCount() - 1);
        return QNL_errorHandler::Instance().LogError(-2, "Arc cannot be added");
    }
    return AfterStructureChange(child, CHANGE_ARC_ADDED);
}

int QNL_network::RemoveOrdinaryArc(int parent, int child, bool force) {
    if (!IsValidNodeHandle(parent) || !IsValidNodeHandle(child) || parent == child) return -2;
    if (!table[parent].children.IsInList(child)) return -2;
    InvalidateBeforeArcRemoval(child);
    QNL_nodeDefinition* definition = table[child].node->GetDefinition();
    int result = definition != nullptr ? definition->RemoveParent(parent) : 0;
    if (result != 0 && result != -51 && !force) return result;
    table[parent].children.DeleteByContent(child);
    table[child].parents.DeleteByContent(parent);
    if (temporal) temporal->ArcRemoved(parent, child);
    return AfterStructureChange(child, CHANGE_ARC_REMOVED);
}

// A cost arc that does not exist is refused like a missing ordinary arc, rather than
// reported as removed.
int QNL_network::RemoveCostArc(int parent, int child, bool force) {
    if (!IsValidNodeHandle(parent) || !IsValidNodeHandle(child) || parent == child) return -2;
    if (!table[parent].costChildren.IsInList(child)) return -2;
    QNL_nodeCost* cost = table[child].node->GetCost();
    int result = cost != nullptr ? cost->RemoveParent(parent) : 0;
    if (result != 0 && !force) return result;
    table[parent].costChildren.DeleteByContent(child);
    if (table[parent].costChildren.GetCount() == 0 && HasTestGroupCost(parent)) {
        QNL_userProperties& properties = table[parent].node->GetInfo()->properties;
        properties.DeleteProperty(properties.FindProperty("DIAG_TESTGROUPCOST"));
    }
    table[child].costParents.DeleteByContent(parent);
    return AfterStructureChange(child, CHANGE_ARC_REMOVED);
}

int QNL_network::RemoveAllParents(int node) {
    if (!IsValidNodeHandle(node)) return -2;
    while (table[node].parents.GetCount() > 0) {
        int result = RemoveArc(table[node].parents[0], node, 0);
        if (result != 0) return result;
    }
    return 0;
}

bool QNL_network::ChangeNodeId(int node, const char* oldId, const char* newId) {
    if (newId == nullptr) return false;
    if (oldId != nullptr && std::strcmp(oldId, newId) == 0) return true;
    if (!(readingMode & READING_DUPLICATE_IDS) && IsIdUsed(newId, node)) return false;
    if (!IsValidNodeHandle(node)) return true;
    IndexRename(oldId, newId, node);
    RenameInDefinitions(node, oldId, newId);
    return true;
}

// An identifier is named by the children's definitions, by the node's own equation, and by
// the sets of simultaneous equations that take the node as a member without an arc: those,
// and only those, follow the new identifier.
void QNL_network::RenameInDefinitions(int node, const char* oldId, const char* newId) {
    const QNL_intArray& children = table[node].children;
    auto tell = [&](int h) {
        ++slotVisits;
        QNL_nodeDefinition* definition = table[h].node->GetDefinition();
        if (definition != nullptr) definition->ParentIdChanged(node, oldId, newId);
    };
    for (int i = 0; i < children.GetCount(); ++i)
        if (IsValidNodeHandle(children[i])) tell(children[i]);
    if (oldId == nullptr) return;
    const int own = DefinitionType(node);
    if (own == QNL_TYPE_EQUATION || own == QNL_TYPE_EQUATION_SCC) tell(node);
    std::vector<int> sets;
    if (setsIndexed) {
        // Every set that names the old identifier lets go of it here; those that still hold
        // the member note the new one as they rename it.
        const auto found = setsByMember.find(oldId);
        if (found == setsByMember.end()) return;
        sets.swap(found->second);
        setsByMember.erase(found);
        std::sort(sets.begin(), sets.end());
    } else {
        for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h))
            if (DefinitionType(h) == QNL_TYPE_EQUATION_SCC) sets.push_back(h);
    }
    const std::string old(oldId);
    for (int h : sets) {
        const auto* set = h != node && IsValidNodeHandle(h) && !children.IsInList(h)
                              ? dynamic_cast<const QNL_equationSCC*>(table[h].node->GetDefinition())
                              : nullptr;
        if (set != nullptr && set->GetMembers().count(old) != 0)
            tell(h);
        else
            ++slotVisits;
    }
}

void QNL_network::NoteSetMember(const char* id, int set) {
    if (id == nullptr) return;
    try {
        std::vector<int>& sets = setsByMember[id];
        if (std::find(sets.begin(), sets.end(), set) == sets.end()) sets.push_back(set);
    } catch (const std::bad_alloc&) {
        // Without the note a rename looks for the sets among all nodes, as it can't trust
        // the index any more.
        setsIndexed = false;
    }
}

// The parent list and the definition's dimensions move together, or neither moves.
int QNL_network::ReorderParents(int node, const QNL_intArray& order) {
    if (!IsValidNodeHandle(node)) return -2;
    SettleEvidenceWalk();
    QNL_intArray& parents = table[node].parents;
    if (order.GetCount() != parents.GetCount()) return -2;
    const QNL_intArray previous(parents);
    int result = parents.Reorder(order);
    if (result != 0) return result;
    result = table[node].node->GetDefinition()->ReorderParents(order);
    // -51: the definition has no table over its parents (a decision list), nothing to move.
    if (result != 0 && result != -51) {
        parents.Assign(previous);
        return result;
    }
    StructureChanged();
    if (notificationControl & NOTIFY_ON) DropPolicyValues();
    return 0;
}

int QNL_network::HasTestGroupCost(int node) const {
    const QNL_node* n = GetNode(node);
    if (n == nullptr || n->GetInfo() == nullptr) return 0;
    const QNL_userProperties& properties = n->GetInfo()->properties;
    const int index = properties.FindProperty("DIAG_TESTGROUPCOST");
    if (index < 0) return 0;
    const char* value = properties.GetValue(index);
    if (value == nullptr) return 0;
    static const char kTrue[] = "true";
    for (int i = 0; i < 5; ++i)
        if (std::tolower(static_cast<unsigned char>(value[i])) != kTrue[i]) return 0;
    return 1;
}

// ---------------------------------------------------------------------------------------
// Notifications.

// The child's table changes with the arc. What depended on the old table is found while the
// arc still stands (through it, evidence below the child reached the parent's side); what
// depends on the new one, by the walk after the removal.
void QNL_network::InvalidateBeforeArcRemoval(int child) {
    if ((notificationControl & NOTIFY_ON) && (notificationMask & CHANGE_ARC_REMOVED))
        InvalidateFrom(child, false, false);
}

// With the automatic-update bit, a change that was acted on is followed by a belief update
// whose result is not the notification's.
int QNL_network::AfterStructureChange(int node, int kind) {
    StructureChanged();
    if (!(notificationControl & NOTIFY_ON) || !(notificationMask & kind)) return 0;
    const int result = InvalidateFrom(node);
    if (notificationControl & NOTIFY_AUTO_UPDATE) UpdateBeliefs();
    return result;
}

// Every change a definition reports may change what the kept join trees were built from.
int QNL_network::NotifyChange(int node, int kind) {
    SettleEvidenceWalk();
    StructureChanged();
    if (definitionsOwner != nullptr) definitionsOwner->TemporalDefinitionChanged(kind);
    // A new outcome set keeps the finding on an outcome that still exists, as any outcome
    // change does (set again over the new outcomes), and drops one past the new count.
    const QNL_node* changed = GetNode(node);
    const bool wasObserved =
        changed != nullptr && changed->GetValue() != nullptr && changed->GetValue()->IsObserved();
    if (kind == CHANGE_SHAPE) RemapEvidence(node, -1, -1, nullptr);
    if (kind == CHANGE_SHAPE && temporal) temporal->OutcomesReplaced(node);
    if (!(notificationControl & NOTIFY_ON) || (notificationMask & kind) != kind) return 0;
    int result = 0;
    // The outcome change may have taken the node's finding (RemapEvidence, quietly): what was
    // conditioned on it is found as when a finding is cleared. An outcome change in place
    // rewrote the children's tables too, which for noisy-MAX children changes columns of
    // outcomes that stay.
    const bool clears = kind == CHANGE_OUTCOMES || (kind == CHANGE_SHAPE && wasObserved);
    const int clearing = clears && IsValidNodeHandle(node) ? FLAG_CLEARING : 0;
    if (clearing) table[node].flags |= clearing;
    if (kind == CHANGE_OUTCOMES || kind == CHANGE_VALUES || kind == CHANGE_SHAPE)
        result = InvalidateFrom(node, clearing != 0 && kind == CHANGE_OUTCOMES);
    // Only a valid value can lose its flag, and every valid value is observed or computed: a
    // network still being built has neither, and its nodes' outcome counts walk nothing. Only
    // a diagram's solve and a dynamic network's unrolling index values: a network built with
    // findings on the way has none to look for among all its nodes.
    if ((kind == CHANGE_OUTCOMES || kind == CHANGE_SHAPE) &&
        (!observedCandidates.empty() || HoldsComputedValues()) &&
        (policyValuesWritten || temporal || HasDecisionOrUtility()))
        InvalidateIndexedBy(node);
    if (clearing) table[node].flags &= ~clearing;
    if (notificationControl & NOTIFY_AUTO_UPDATE) UpdateBeliefs();
    return result;
}

// The new definition and value are in place only now, so the values that depend on the node
// are invalidated from here rather than by the conversion's own notice.
int QNL_network::NodeTypeChanged(int node, int previousType) {
    SettleEvidenceWalk();
    StructureChanged();
    // The solver takes only nodes with a set of equations as members: the sets let go of one
    // that no longer has one, as of a deleted member.
    if (previousType == QNL_TYPE_EQUATION_SCC && IsValidNodeHandle(node) &&
        table[node].node->GetType() != QNL_TYPE_EQUATION_SCC)
        quarn::detail::LeaveSets(*this, node);
    DropValuesIfDiagramBegins(node);
    if (cases != nullptr) cases->NodeTypeChanged(node, previousType);
    if (temporal) temporal->NodeTypeChanged(node);
    return NotifyChange(node, CHANGE_SHAPE);
}

// The outcome edits below end with a notice of the change at the node, which checks what a
// derivation reads of the node's table and its children's, both edited in between.
//
// The node's own evidence follows a change of its outcome set: it moves with its outcome,
// or goes when its outcome was removed or lies past a new outcome count. This happens
// quietly; the change notification that ends every outcome change invalidates and propagates
// again.
void QNL_network::RemapEvidence(int node, int removed, int inserted, const QNL_intArray* order) {
    QNL_node* n = GetNode(node);
    QNL_nodeValue* value = n != nullptr ? n->GetValue() : nullptr;
    if (value == nullptr || n->GetDefinition() == nullptr || !value->IsObserved() ||
        value->GetEvidence() < 0)
        return;
    const int count = n->GetDefinition()->GetNumberOfOutcomes();
    const int old = value->GetEvidence();
    int moved = old;
    if (removed >= 0) moved = old == removed ? -1 : (old > removed ? old - 1 : old);
    if (inserted >= 0 && old >= inserted) moved = old + 1;
    if (order != nullptr) moved = order->FindPosition(old);
    if (moved >= count) moved = -1;
    // Evidence that keeps its index is set again all the same when its value still spans the
    // old outcome set (a plate node's value after an update has a row per slice).
    const QNL_Dmatrix* held = value->GetMatrix();
    const int last = held != nullptr ? held->GetNumberOfDimensions() - 1 : -1;
    if (moved == old && (last < 0 || held->GetSizeOfDimension(last) == count))
        return;
    const bool user = value->HasEvidence();
    const int control = notificationControl;
    notificationControl &= ~NOTIFY_ON;
    if (user)
        value->ClearEvidence();
    else
        value->ClearPropagatedEvidence();
    if (moved >= 0 && user) {
        value->InitFromDefinition();
        value->SetEvidence(moved);
    }
    notificationControl = control;
}

int QNL_network::OutcomeInserted(int node, int index) {
    SettleEvidenceWalk();
    StructureChangedBesideDerivation(node);
    RemapEvidence(node, -1, index, nullptr);
    if (cases != nullptr) cases->OutcomeInserted(node, index);
    if (temporal) temporal->OutcomeInserted(node, index);
    return 0;
}

int QNL_network::OutcomeRemoved(int node, int index) {
    SettleEvidenceWalk();
    StructureChangedBesideDerivation(node);
    RemapEvidence(node, index, -1, nullptr);
    if (cases != nullptr) cases->OutcomeRemoved(node, index);
    if (temporal) temporal->OutcomeRemoved(node, index);
    return 0;
}

int QNL_network::OutcomesReordered(int node, const QNL_intArray& order) {
    SettleEvidenceWalk();
    StructureChangedBesideDerivation(node);
    RemapEvidence(node, -1, -1, &order);
    if (cases != nullptr) cases->OutcomesReordered(node, order);
    if (temporal) temporal->OutcomesReordered(node, order);
    // The node's own beliefs, and whatever is indexed by its outcomes, are in the old order.
    return NotifyChange(node, CHANGE_OUTCOMES);
}
