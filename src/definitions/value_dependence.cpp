#include "definitions/value_dependence.h"

#include "definitions/equation.h"
#include "definitions/equation_scc.h"
#include "definitions/node_value.h"
#include "model/network.h"
#include "model/node.h"

#include <cstddef>
#include <new>

namespace quarn::detail {
namespace {

const QNL_equationSCC* AsSet(const QNL_network& network, int h) {
    const QNL_nodeDefinition* definition = network.GetNode(h)->GetDefinition();
    if (definition == nullptr || definition->GetType() != QNL_TYPE_EQUATION_SCC) return nullptr;
    return dynamic_cast<const QNL_equationSCC*>(definition);
}

// For each slot, the sets of equations that name it as a member.
void NameIndex(const QNL_network& network, std::vector<std::vector<int>>& namedBy) {
    namedBy.assign(static_cast<std::size_t>(network.GetLastNode() + 1), {});
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const auto* set = AsSet(network, h);
        if (set == nullptr) continue;
        for (const std::string& id : set->GetMembers()) {
            const int member = network.FindNode(id.c_str());
            if (member >= 0 && member != h) namedBy[static_cast<std::size_t>(member)].push_back(h);
        }
    }
}

} // namespace

bool IsEquationOrHybridType(int type) {
    return type == QNL_TYPE_EQUATION || type == QNL_TYPE_EQUATION_SCC ||
           type == QNL_TYPE_DISTRIBUTION || type == QNL_TYPE_HEQUATION ||
           type == QNL_TYPE_DCHILDHPARENT;
}

bool UpdateSamples(const QNL_network& network) {
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_node* node = network.GetNode(h);
        const QNL_nodeDefinition* definition = node->GetDefinition();
        const int type = definition != nullptr ? definition->GetType() : 0;
        if (!IsEquationOrHybridType(type)) continue;
        const auto* equation = dynamic_cast<const QNL_equation*>(definition);
        if (equation == nullptr) return true;
        const QNL_nodeValue* value = node->GetValue();
        if ((value != nullptr && value->HasEvidence()) || equation->GetEquation().IsRandom())
            return true;
    }
    return false;
}

bool Listens(const QNL_network& network, int kind) {
    return (network.GetNotificationControl() & QNL_network::NOTIFY_ON) &&
           (network.GetNotificationMask() & kind) == kind;
}

bool InvalidateSampledValues(QNL_network& network, bool sampledBefore) {
    // With nothing computed, whether the update samples does not matter: a network being read
    // or built pays nothing per edit.
    if (!network.HoldsComputedValues()) return true;
    if (!sampledBefore && !UpdateSamples(network)) return false;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        QNL_nodeValue* value = network.GetNode(h)->GetValue();
        if (value == nullptr || value->HasEvidence()) continue;
        const int type = value->GetType();
        if ((type == QNL_VALUE_EQUATION || type == QNL_VALUE_CONTINUOUS) &&
            value->HasPropagatedEvidence())
            value->ClearPropagatedEvidence();
        if (!value->IsObserved()) value->SetValidFlag(false);
    }
    return true;
}

void CollectEquationDependents(const QNL_network& network, int start, std::vector<int>& out) {
    out.clear();
    const int size = network.GetLastNode() + 1;
    if (!network.IsValidNodeHandle(start) || size <= 0) return;
    std::vector<char> reached(static_cast<std::size_t>(size), 0);
    auto reach = [&](int h) {
        if (h < 0 || h >= size || reached[static_cast<std::size_t>(h)]) return;
        reached[static_cast<std::size_t>(h)] = 1;
        out.push_back(h);
    };
    // A set names only nodes that have a set themselves (the sets let go of a member that
    // leaves the type or the network), so the partners are looked up only once the walk meets
    // such a node: which sets name a node takes one pass over the network.
    std::vector<std::vector<int>> namedBy;
    reach(start);
    for (std::size_t next = 0; next < out.size(); ++next) {
        const int n = out[next];
        const QNL_intArray& children = network.GetChildren(n);
        for (int i = 0; i < children.GetCount(); ++i)
            reach(children[i]);
        const auto* set = AsSet(network, n);
        if (set == nullptr) continue;
        if (namedBy.empty()) NameIndex(network, namedBy);
        for (const std::string& id : set->GetMembers())
            reach(network.FindNode(id.c_str()));
        for (int namer : namedBy[static_cast<std::size_t>(n)])
            reach(namer);
    }
}

void LeaveSets(QNL_network& network, int node) {
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        if (auto* set = dynamic_cast<QNL_equationSCC*>(network.GetNode(h)->GetDefinition()))
            set->MemberLeaves(node);
}

TypeChangeReach::TypeChangeReach(const QNL_network* network, int node, int oldType, int newType) {
    if (network == nullptr || !network->IsValidNodeHandle(node) ||
        !(IsEquationOrHybridType(oldType) || IsEquationOrHybridType(newType)) ||
        !Listens(*network, QNL_network::CHANGE_SHAPE))
        return;
    // Nothing computed stays so: the type change can't make a value valid.
    if (!network->HoldsComputedValues()) return;
    equations = true;
    sampledBefore = UpdateSamples(*network);
    if (sampledBefore || (oldType != QNL_TYPE_EQUATION_SCC && newType != QNL_TYPE_EQUATION_SCC))
        return;
    try {
        CollectEquationDependents(*network, node, reached);
    } catch (const std::bad_alloc&) {
        complete = false;
    }
}

void TypeChangeReach::Invalidate(QNL_network& network) const {
    if (!equations || InvalidateSampledValues(network, sampledBefore)) return;
    if (!complete) {
        network.InvalidateValues();
        return;
    }
    for (int h : reached) {
        QNL_nodeValue* value =
            network.IsValidNodeHandle(h) ? network.GetNode(h)->GetValue() : nullptr;
        if (value != nullptr && !value->IsObserved()) value->SetValidFlag(false);
    }
}

} // namespace quarn::detail
