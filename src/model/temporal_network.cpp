// The temporal extension of a network and the network's temporal operations.

#include "model/temporal_network.h"

#include "definitions/node_value.h"
#include "inference/temporal_unrolling.h"
#include "model/case_library.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <algorithm>
#include <new>
#include <string>

namespace {

QNL_nodeDefinition* DefinitionOf(const QNL_network& network, int node) {
    QNL_node* n = network.GetNode(node);
    return n != nullptr ? n->GetDefinition() : nullptr;
}

// The private network is edited only by this extension; nothing there needs invalidating.
void Quiet(QNL_network& network) {
    network.SetNotificationControl(0);
    network.EnableCaseUpdates(false);
}

} // namespace

QNL_temporalNetwork::QNL_temporalNetwork(QNL_network* owner)
    : owner(owner), definitions(std::make_unique<QNL_network>()) {
    plate.x = 320;
    plate.y = 170;
    plate.width = 600;
    plate.height = 300;
    Quiet(*definitions);
    definitions->SetDefinitionsOwner(owner);
}

QNL_temporalNetwork::QNL_temporalNetwork(const QNL_temporalNetwork& source, QNL_network* owner)
    : owner(owner), definitions(std::make_unique<QNL_network>(*source.definitions)),
      temporal(source.temporal), copies(source.copies), copyOwners(source.copyOwners),
      sliceEvidence(source.sliceEvidence), slices(source.slices), plate(source.plate),
      plateLeftWidth(source.plateLeftWidth), plateRightWidth(source.plateRightWidth) {
    if (!definitions->IsValid()) throw std::bad_alloc();
    Quiet(*definitions);
    definitions->SetDefinitionsOwner(owner);
}

// The owner may be half gone by now.
QNL_temporalNetwork::~QNL_temporalNetwork() {
    definitions->SetDefinitionsOwner(nullptr);
}

void QNL_temporalNetwork::SetUnrolled(std::unique_ptr<quarn::detail::UnrolledNetwork> kept) {
    unrolled = std::move(kept);
}

std::uint64_t QNL_temporalNetwork::GetDefinitionsVersion() const {
    return definitions->GetStructureVersion();
}

int QNL_temporalNetwork::SetNumberOfSlices(int count) {
    if (count < 1) return QNL_errorHandler::Instance().LogError(-4, "Invalid number of slices");
    slices = count;
    for (auto it = sliceEvidence.begin(); it != sliceEvidence.end();)
        it = it->first.second >= count ? sliceEvidence.erase(it) : std::next(it);
    owner->InvalidateEveryValue();
    return 0;
}

// ---------------------------------------------------------------------------------------
// Temporal arcs and definitions.

int QNL_temporalNetwork::MakeLike(int node) {
    QNL_nodeDefinition* source = DefinitionOf(*owner, node);
    if (source == nullptr) return -2;
    const int made = definitions->AddNode(source->GetType(), nullptr);
    if (made < 0) return made;
    QNL_nodeDefinition* definition = DefinitionOf(*definitions, made);
    const QNL_idArray* ids = source->GetOutcomeIds();
    const QNL_idArray* fresh = definition->GetOutcomeIds();
    // Nodes without outcomes (utilities, equations) have nothing to carry over.
    if (ids == nullptr) return made;
    bool same = fresh != nullptr && fresh->GetCount() == ids->GetCount();
    for (int i = 0; same && i < ids->GetCount(); ++i)
        same = std::string(fresh->GetString(i)) == ids->GetString(i);
    if (!same) {
        if (int r = definition->SetNumberOfOutcomes(*ids)) {
            definitions->DeleteNode(made);
            return r;
        }
    }
    return made;
}

int QNL_temporalNetwork::CopyFor(int node, int order) {
    const auto found = copies.find({node, order});
    if (found != copies.end()) return found->second;
    const int made = MakeLike(node);
    if (made < 0) return made;
    copies[{node, order}] = made;
    copyOwners[made] = {node, order};
    return made;
}

int QNL_temporalNetwork::Sync(const Key& key) {
    const auto at = temporal.find(key);
    if (at == temporal.end()) return 0;
    const int node = key.first;
    const int privateNode = at->second.privateNode;
    std::vector<int> wanted;
    const QNL_intArray& parents = owner->GetParents(node);
    for (int i = 0; i < parents.GetCount(); ++i) {
        const int type = owner->GetTemporalType(parents[i]);
        if (type != NORMAL && type != PLATE) continue;
        const int copy = CopyFor(parents[i], 0);
        if (copy < 0) return copy;
        wanted.push_back(copy);
    }
    for (auto it = temporal.lower_bound({node, 1});
         it != temporal.end() && it->first.first == node && it->first.second <= key.second; ++it) {
        for (int parent : it->second.parents) {
            const int copy = CopyFor(parent, it->first.second);
            if (copy < 0) return copy;
            wanted.push_back(copy);
        }
    }
    const QNL_intArray current(definitions->GetParents(privateNode));
    for (int i = 0; i < current.GetCount(); ++i)
        if (std::find(wanted.begin(), wanted.end(), current[i]) == wanted.end())
            definitions->RemoveArc(current[i], privateNode);
    for (int copy : wanted)
        if (!definitions->GetParents(privateNode).IsInList(copy))
            if (int r = definitions->AddArc(copy, privateNode)) return r;
    const QNL_intArray& now = definitions->GetParents(privateNode);
    QNL_intArray order;
    bool same = true;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        order.Add(now.FindPosition(wanted[i]));
        same = same && now[static_cast<int>(i)] == wanted[i];
    }
    return same ? 0 : definitions->ReorderParents(privateNode, order);
}

int QNL_temporalNetwork::SyncAll(int node) {
    int first = 0;
    for (const auto& entry : temporal) {
        if (node >= 0 && entry.first.first != node) continue;
        const int r = Sync(entry.first);
        if (r != 0 && first == 0) first = r;
    }
    Prune();
    return first;
}

void QNL_temporalNetwork::DropPrivate(int privateNode) {
    definitions->DeleteNode(privateNode);
    const auto owned = copyOwners.find(privateNode);
    if (owned == copyOwners.end()) return;
    copies.erase(owned->second);
    copyOwners.erase(owned);
}

void QNL_temporalNetwork::Prune() {
    for (auto it = temporal.begin(); it != temporal.end();) {
        if (!it->second.parents.empty()) {
            ++it;
            continue;
        }
        DropPrivate(it->second.privateNode);
        it = temporal.erase(it);
    }
    for (auto it = copyOwners.begin(); it != copyOwners.end();) {
        const int privateNode = (it++)->first;
        if (definitions->NumberOfChildren(privateNode) == 0) DropPrivate(privateNode);
    }
}

int QNL_temporalNetwork::AddTemporalArc(int parent, int child, int order) {
    Key key{child, order};
    auto at = temporal.find(key);
    if (at == temporal.end()) {
        const int made = MakeLike(child);
        if (made < 0) return made;
        Definition fresh;
        fresh.privateNode = made;
        at = temporal.emplace(key, std::move(fresh)).first;
    }
    at->second.parents.push_back(parent);
    // Definitions of this order and above condition on the new parent.
    int result = 0;
    for (auto it = temporal.lower_bound(key); it != temporal.end() && it->first.first == child;
         ++it)
        if ((result = Sync(it->first)) != 0) break;
    if (result != 0) {
        at->second.parents.pop_back();
        SyncAll(child);
        return result;
    }
    owner->InvalidateEveryValue();
    return 0;
}

bool QNL_temporalNetwork::HasTemporalArc(int parent, int child, int order) const {
    const auto at = temporal.find({child, order});
    return at != temporal.end() && std::find(at->second.parents.begin(), at->second.parents.end(),
                                             parent) != at->second.parents.end();
}

bool QNL_temporalNetwork::TakesPartInTemporalArcs(int node) const {
    for (const auto& entry : temporal) {
        if (entry.first.first == node) return true;
        const auto& parents = entry.second.parents;
        if (std::find(parents.begin(), parents.end(), node) != parents.end()) return true;
    }
    return false;
}

int QNL_temporalNetwork::GetTemporalOrders(int node, QNL_intArray& out) const {
    out.CleanUp();
    for (auto it = temporal.lower_bound({node, 1}); it != temporal.end() && it->first.first == node;
         ++it)
        if (out.Add(it->first.second) != 0) return QNL_errorHandler::Instance().LogError(-42);
    return 0;
}

int QNL_temporalNetwork::GetTemporalParents(int node, int order, QNL_intArray& out) const {
    out.CleanUp();
    const auto at = temporal.find({node, order});
    if (at == temporal.end()) return 0;
    for (int parent : at->second.parents)
        if (out.Add(parent) != 0) return QNL_errorHandler::Instance().LogError(-42);
    return 0;
}

QNL_nodeDefinition* QNL_temporalNetwork::GetTemporalDefinition(int node, int order) const {
    const auto at = temporal.find({node, order});
    return at != temporal.end() ? DefinitionOf(*definitions, at->second.privateNode) : nullptr;
}

int QNL_temporalNetwork::DefinitionOrderFor(int node, int slice) const {
    int best = 0;
    for (auto it = temporal.lower_bound({node, 1});
         it != temporal.end() && it->first.first == node && it->first.second <= slice; ++it)
        best = it->first.second;
    return best;
}

// ---------------------------------------------------------------------------------------
// Evidence per slice.

int QNL_temporalNetwork::GetSliceEvidence(int node, int slice) const {
    const auto at = sliceEvidence.find({node, slice});
    return at != sliceEvidence.end() ? at->second : -1;
}

int QNL_temporalNetwork::SetSliceEvidence(int node, int slice, int outcome) {
    sliceEvidence[{node, slice}] = outcome;
    owner->InvalidateEveryValue();
    return 0;
}

int QNL_temporalNetwork::ClearSliceEvidence(int node, int slice) {
    if (sliceEvidence.erase({node, slice}) != 0) owner->InvalidateEveryValue();
    return 0;
}

int QNL_temporalNetwork::SetPlateDisplay(const QNL_rectangle& rectangle, int leftWidth,
                                         int rightWidth) {
    if (!rectangle.IsValid())
        return QNL_errorHandler::Instance().LogError(-567, "Invalid plate rectangle");
    plate = rectangle;
    plateLeftWidth = leftWidth;
    plateRightWidth = rightWidth;
    return 0;
}

void QNL_temporalNetwork::GetPlateDisplay(QNL_rectangle& rectangle, int& leftWidth,
                                          int& rightWidth) const {
    rectangle = plate;
    leftWidth = plateLeftWidth;
    rightWidth = plateRightWidth;
}

// ---------------------------------------------------------------------------------------
// Hooks.

std::vector<int> QNL_temporalNetwork::PrivateNodesOf(int node) const {
    std::vector<int> out;
    for (auto it = temporal.lower_bound({node, 0}); it != temporal.end() && it->first.first == node;
         ++it)
        out.push_back(it->second.privateNode);
    for (auto it = copies.lower_bound({node, 0}); it != copies.end() && it->first.first == node;
         ++it)
        out.push_back(it->second);
    return out;
}

void QNL_temporalNetwork::ClearAllSliceEvidence() {
    if (sliceEvidence.empty()) return;
    sliceEvidence.clear();
    owner->InvalidateEveryValue();
}

void QNL_temporalNetwork::ClearSliceEvidenceOf(int node) {
    for (auto it = sliceEvidence.lower_bound({node, 0});
         it != sliceEvidence.end() && it->first.first == node;)
        it = sliceEvidence.erase(it);
}

void QNL_temporalNetwork::NodeDeleted(int node) {
    // The node's temporal arcs go without the notices of arc removal.
    if (TakesPartInTemporalArcs(node)) owner->InvalidateEveryValue();
    ClearSliceEvidenceOf(node);
    for (auto it = temporal.begin(); it != temporal.end();) {
        auto& parents = it->second.parents;
        parents.erase(std::remove(parents.begin(), parents.end(), node), parents.end());
        if (it->first.first != node) {
            ++it;
            continue;
        }
        DropPrivate(it->second.privateNode);
        it = temporal.erase(it);
    }
    for (int privateNode : PrivateNodesOf(node))
        DropPrivate(privateNode);
    SyncAll();
}

void QNL_temporalNetwork::NodeTypeChanged(int node) {
    QNL_nodeDefinition* source = DefinitionOf(*owner, node);
    if (source == nullptr) return;
    for (int privateNode : PrivateNodesOf(node))
        definitions->GetNode(privateNode)->SetType(source->GetType());
    OutcomesReplaced(node);
    // A temporal child whose definition cannot take the node's new type as a parent lets it
    // go, as an ordinary child does (a DeMorgan gate under a node that became a table).
    for (auto& entry : temporal) {
        std::vector<int>& parents = entry.second.parents;
        if (std::find(parents.begin(), parents.end(), node) == parents.end()) continue;
        if (Sync(entry.first) == 0) continue;
        parents.erase(std::remove(parents.begin(), parents.end(), node), parents.end());
    }
    SyncAll();
}

void QNL_temporalNetwork::OutcomeInserted(int node, int index) {
    for (auto it = sliceEvidence.lower_bound({node, 0});
         it != sliceEvidence.end() && it->first.first == node; ++it)
        if (it->second >= index) ++it->second;
    QNL_nodeDefinition* source = DefinitionOf(*owner, node);
    const QNL_idArray* ids = source != nullptr ? source->GetOutcomeIds() : nullptr;
    const char* id = ids != nullptr ? ids->GetString(index) : nullptr;
    for (int privateNode : PrivateNodesOf(node)) {
        QNL_nodeDefinition* copy = DefinitionOf(*definitions, privateNode);
        if (index >= copy->GetNumberOfOutcomes())
            copy->AddOutcome(id);
        else
            copy->InsertOutcome(index, id);
    }
    OutcomesReplaced(node);
}

void QNL_temporalNetwork::OutcomeRemoved(int node, int index) {
    for (auto it = sliceEvidence.lower_bound({node, 0});
         it != sliceEvidence.end() && it->first.first == node;) {
        if (it->second == index) {
            it = sliceEvidence.erase(it);
            continue;
        }
        if (it->second > index) --it->second;
        ++it;
    }
    for (int privateNode : PrivateNodesOf(node))
        DefinitionOf(*definitions, privateNode)->RemoveOutcome(index);
    OutcomesReplaced(node);
}

void QNL_temporalNetwork::OutcomesReordered(int node, const QNL_intArray& order) {
    for (auto it = sliceEvidence.lower_bound({node, 0});
         it != sliceEvidence.end() && it->first.first == node; ++it)
        it->second = order.FindPosition(it->second);
    for (int privateNode : PrivateNodesOf(node))
        DefinitionOf(*definitions, privateNode)->ReorderOutcomes(order);
    OutcomesReplaced(node);
}

// Private copies follow the node's outcome count and identifiers: outcomes are added or
// removed at the end (which their children follow), then the identifiers are copied.
void QNL_temporalNetwork::OutcomesReplaced(int node) {
    QNL_nodeDefinition* source = DefinitionOf(*owner, node);
    const QNL_idArray* ids = source != nullptr ? source->GetOutcomeIds() : nullptr;
    if (ids == nullptr) return;
    const int count = ids->GetCount();
    for (auto it = sliceEvidence.lower_bound({node, 0});
         it != sliceEvidence.end() && it->first.first == node;)
        it = it->second < 0 || it->second >= count ? sliceEvidence.erase(it) : std::next(it);
    for (int privateNode : PrivateNodesOf(node)) {
        QNL_nodeDefinition* copy = DefinitionOf(*definitions, privateNode);
        while (copy->GetNumberOfOutcomes() < count)
            if (copy->AddOutcome(nullptr) != 0) break;
        while (copy->GetNumberOfOutcomes() > count && copy->GetNumberOfOutcomes() > 1)
            if (copy->RemoveOutcome(copy->GetNumberOfOutcomes() - 1) != 0) break;
        const QNL_idArray* now = copy->GetOutcomeIds();
        bool same = now != nullptr && now->GetCount() == count;
        for (int i = 0; same && i < count; ++i)
            same = std::string(now->GetString(i)) == ids->GetString(i);
        if (!same) copy->SetOutcomeIds(*ids);
    }
}

void QNL_temporalNetwork::ArcAdded(int, int child) {
    SyncAll(child);
}

void QNL_temporalNetwork::ArcRemoved(int, int child) {
    SyncAll(child);
}

void QNL_temporalNetwork::TemporalTypeChanged(int node) {
    const QNL_intArray children(owner->GetChildren(node));
    for (int i = 0; i < children.GetCount(); ++i)
        SyncAll(children[i]);
}

// ---------------------------------------------------------------------------------------
// The network's temporal operations.

QNL_temporalNetwork& QNL_network::GetTemporalNetwork() {
    if (!temporal) temporal = std::make_unique<QNL_temporalNetwork>(this);
    return *temporal;
}

int QNL_network::GetNumberOfSlices() const {
    return temporal ? temporal->GetNumberOfSlices() : 0;
}

int QNL_network::SetNumberOfSlices(int count) {
    SettleEvidenceWalk();
    try {
        return GetTemporalNetwork().SetNumberOfSlices(count);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_network::SetTemporalType(int node, int type) {
    if (!IsValidNodeHandle(node)) return -2;
    SettleEvidenceWalk();
    const int old = table[node].temporalType;
    if (type == old) return 0;
    QNL_temporalNetwork* extension;
    try {
        extension = &GetTemporalNetwork();
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
    if (old == QNL_temporalNetwork::PLATE && extension->TakesPartInTemporalArcs(node)) return -2;
    auto any = [this](const QNL_intArray& list, auto test) {
        for (int i = 0; i < list.GetCount(); ++i)
            if (test(table[list[i]].temporalType)) return true;
        return false;
    };
    const QNL_intArray& parents = table[node].parents;
    const QNL_intArray& children = table[node].children;
    auto isPlateOrTerminal = [](int t) { return t == 3 || t == 2; };
    switch (type) {
    case QNL_temporalNetwork::NORMAL:
    case QNL_temporalNetwork::ANCHOR:
        if (any(parents, isPlateOrTerminal)) return -2;
        break;
    case QNL_temporalNetwork::TERMINAL:
        if (any(children, [](int t) { return t != 2; })) return -2;
        break;
    case QNL_temporalNetwork::PLATE:
        if (any(parents, [](int t) { return t == 2; }) ||
            any(children, [](int t) { return t == 0 || t == 1; }))
            return -2;
        break;
    default:
        return -4;
    }
    table[node].temporalType = type;
    StructureChanged();
    // Which slice's finding feeds which table changed with the type: what the findings imply
    // is derived again.
    derivation.known = false;
    if (notificationControl & NOTIFY_ON) RepropagateAll(false);
    // An observed plate node's value holds every slice; it would be left valid in its old
    // shape, and so would a value the derivation just gave implied evidence.
    InvalidateEveryValue();
    // Evidence of later slices belongs to plate nodes only; it would come back stale.
    if (old == QNL_temporalNetwork::PLATE) extension->ClearSliceEvidenceOf(node);
    if (old == QNL_temporalNetwork::ANCHOR || type == QNL_temporalNetwork::ANCHOR)
        extension->TemporalTypeChanged(node);
    if (cases != nullptr) cases->TemporalTypeChanged(node, old);
    return 0;
}

int QNL_network::AddTemporalArc(int parent, int child, int order) {
    SettleEvidenceWalk();
    if (order < 1 || !IsValidNodeHandle(parent) || !IsValidNodeHandle(child) ||
        table[parent].temporalType != 3 || table[child].temporalType != 3)
        return -2;
    try {
        QNL_temporalNetwork& extension = GetTemporalNetwork();
        if (extension.HasTemporalArc(parent, child, order)) return -2;
        const int result = extension.AddTemporalArc(parent, child, order);
        StructureChanged();
        return result;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_network::GetTemporalOrders(int node, QNL_intArray& out) {
    if (!IsValidNodeHandle(node) || table[node].temporalType != 3) return -2;
    try {
        return GetTemporalNetwork().GetTemporalOrders(node, out);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_network::GetTemporalParents(int node, int order, QNL_intArray& out) {
    if (order < 1 || !IsValidNodeHandle(node) || table[node].temporalType != 3) return -2;
    try {
        return GetTemporalNetwork().GetTemporalParents(node, order, out);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

namespace {

int CheckSliceEntry(const QNL_network& network, int node, int slice, int outcome,
                    bool withOutcome) {
    if (network.GetTemporalType(node) != 3) return -2;
    if (withOutcome) {
        const int outcomes = DefinitionOf(network, node)->GetNumberOfOutcomes();
        if (outcome < 0 || outcome >= outcomes) return -2;
    }
    if (slice < 0 || slice >= network.GetNumberOfSlices()) return -4;
    return 0;
}

} // namespace

// Slice 0 is the node itself: its evidence is the node's own.
int QNL_network::SetSliceEvidence(int node, int slice, int outcome) {
    if (int r = CheckSliceEntry(*this, node, slice, outcome, true)) return r;
    if (slice == 0) return table[node].node->GetValue()->SetEvidence(outcome);
    try {
        return GetTemporalNetwork().SetSliceEvidence(node, slice, outcome);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_network::GetSliceEvidence(int node, int slice) const {
    if (int r = CheckSliceEntry(*this, node, slice, 0, false)) return r;
    if (slice > 0) return temporal ? temporal->GetSliceEvidence(node, slice) : -1;
    const QNL_nodeValue* value = table[node].node->GetValue();
    return value->HasEvidence() ? value->GetEvidence() : -1;
}

int QNL_network::ClearSliceEvidence(int node, int slice) {
    if (int r = CheckSliceEntry(*this, node, slice, 0, false)) return r;
    if (slice > 0) return temporal ? temporal->ClearSliceEvidence(node, slice) : 0;
    QNL_nodeValue* value = table[node].node->GetValue();
    return value->HasEvidence() ? value->ClearEvidence() : 0;
}
