// Graph queries of the network. Every walk keeps its own explicit stack: networks unrolled
// over many time slices are deep enough to overflow the call stack of a recursive walk.

#include "model/network.h"

#include "definitions/node_value.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/temporal_network.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

// Depth-first over parents (cost parents for layer 1), appending a node after all its
// parents: parents precede children, and slot order decides among unrelated nodes. A node
// already on the walk's path is not entered again, so a cyclic graph read without the cycle
// test still ends.
void QNL_network::OrderByParents(QNL_intArray& order, int layer, const QNL_intArray* only) {
    order.Flush();
    std::vector<char> state(static_cast<std::size_t>(tableSize), 0); // 1 on path, 2 done
    std::vector<std::pair<int, int>> stack;
    for (int start = GetFirstNode(); start >= 0; start = GetNextNode(start)) {
        if (state[static_cast<std::size_t>(start)] != 0) continue;
        stack.emplace_back(start, 0);
        state[static_cast<std::size_t>(start)] = 1;
        while (!stack.empty()) {
            auto& [node, next] = stack.back();
            const QNL_intArray& parents = GetParents(node, layer);
            if (next < parents.GetCount()) {
                const int parent = parents[next++];
                if (IsValidNodeHandle(parent) && state[static_cast<std::size_t>(parent)] == 0) {
                    state[static_cast<std::size_t>(parent)] = 1;
                    stack.emplace_back(parent, 0);
                }
                continue;
            }
            state[static_cast<std::size_t>(node)] = 2;
            table[node].flags |= FLAG_ORDERED;
            if (only == nullptr || only->IsInList(node)) order.Add(node);
            stack.pop_back();
        }
    }
}

QNL_intArray& QNL_network::GetOrderedNodes() {
    ClearFlagOnAllNodes(FLAG_ORDERED);
    OrderByParents(orderedNodes, 0, nullptr);
    return orderedNodes;
}

int QNL_network::OrderNodes(QNL_intArray& nodes) {
    QNL_intArray ordered;
    ClearFlagOnAllNodes(FLAG_ORDERED);
    OrderByParents(ordered, 0, &nodes);
    return nodes.Assign(ordered);
}

int QNL_network::OrderNodesByCostArcs(QNL_intArray& nodes) {
    QNL_intArray ordered;
    ClearFlagOnAllNodes(FLAG_ORDERED);
    OrderByParents(ordered, 1, &nodes);
    return nodes.Assign(ordered);
}

int QNL_network::GetDecisionOrderedNodes(QNL_intArray& out) {
    const QNL_intArray topological(GetOrderedNodes());
    out.Flush();
    std::vector<char> listed(static_cast<std::size_t>(tableSize), 0);
    auto append = [&](int node) {
        if (listed[static_cast<std::size_t>(node)]) return;
        listed[static_cast<std::size_t>(node)] = 1;
        out.Add(node);
    };
    for (int i = 0; i < topological.GetCount(); ++i) {
        const int decision = topological[i];
        if (!(DefinitionType(decision) & QNL_TYPE_BIT_DECISION)) continue;
        for (int j = 0; j < topological.GetCount(); ++j)
            if (table[decision].parents.IsInList(topological[j])) append(topological[j]);
        append(decision);
    }
    for (int i = 0; i < topological.GetCount(); ++i) append(topological[i]);
    return 0;
}

int QNL_network::OrderNodesByDecisions(QNL_intArray& nodes) {
    QNL_intArray all;
    GetDecisionOrderedNodes(all);
    QNL_intArray ordered;
    for (int i = 0; i < all.GetCount(); ++i)
        if (nodes.IsInList(all[i])) ordered.Add(all[i]);
    return nodes.Assign(ordered);
}

// Marks every node reachable from the node over the chosen relation (parents, or children
// and optionally cost children) with the given flag; the node itself is not marked.
void QNL_network::MarkRelatives(int node, int flag, bool upward, bool costLayer) {
    std::vector<int> stack{node};
    while (!stack.empty()) {
        const int current = stack.back();
        stack.pop_back();
        const QNL_intArray& next = upward ? table[current].parents
                                          : (costLayer ? table[current].costChildren
                                                       : table[current].children);
        for (int i = 0; i < next.GetCount(); ++i) {
            const int relative = next[i];
            if (relative == node || !IsValidNodeHandle(relative) ||
                (table[relative].flags & flag))
                continue;
            Mark(relative, flag);
            stack.push_back(relative);
        }
    }
}

namespace {
int CollectMarked(const QNL_network& network, int flag, QNL_intArray& out) {
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        if ((network.GetNodeFlags(h) & flag) && out.Add(h) != 0) return -42;
    return 0;
}
} // namespace

int QNL_network::GetAncestors(int node, QNL_intArray& out) {
    if (!IsValidNodeHandle(node)) return -2;
    out.Flush();
    ClearFlagOnAllNodes(FLAG_ANCESTOR);
    MarkRelatives(node, FLAG_ANCESTOR, true, false);
    return CollectMarked(*this, FLAG_ANCESTOR, out);
}

int QNL_network::GetDescendants(int node, QNL_intArray& out) {
    if (!IsValidNodeHandle(node)) return -2;
    out.Flush();
    ClearFlagOnAllNodes(FLAG_DESCENDANT);
    MarkRelatives(node, FLAG_DESCENDANT, false, false);
    return CollectMarked(*this, FLAG_DESCENDANT, out);
}

int QNL_network::GetCostDescendants(int node, QNL_intArray& out) {
    if (!IsValidNodeHandle(node)) return -2;
    out.Flush();
    ClearFlagOnAllNodes(FLAG_DESCENDANT);
    MarkRelatives(node, FLAG_DESCENDANT, false, true);
    return CollectMarked(*this, FLAG_DESCENDANT, out);
}

int QNL_network::IsPolytree() {
    ClearFlagOnAllNodes(FLAG_VISITED);
    std::vector<std::pair<int, int>> stack; // (node, the neighbour it was reached from)
    for (int start = GetFirstNode(); start >= 0; start = GetNextNode(start)) {
        if (table[start].flags & FLAG_VISITED) continue;
        Mark(start, FLAG_VISITED);
        stack.emplace_back(start, -1);
        while (!stack.empty()) {
            const auto [node, from] = stack.back();
            stack.pop_back();
            for (const QNL_intArray* neighbours : {&table[node].parents, &table[node].children}) {
                for (int i = 0; i < neighbours->GetCount(); ++i) {
                    const int next = (*neighbours)[i];
                    if (next == from) continue;
                    if (table[next].flags & FLAG_VISITED) return 0;
                    Mark(next, FLAG_VISITED);
                    stack.emplace_back(next, node);
                }
            }
        }
    }
    return 1;
}

int QNL_network::ComputeHeights() {
    const QNL_intArray& order = GetOrderedNodes();
    int highest = 0;
    for (int i = order.GetCount() - 1; i >= 0; --i) {
        QNL_nodeEntry& entry = table[order[i]];
        int height = 0;
        for (int c = 0; c < entry.children.GetCount(); ++c)
            height = std::max(height, table[entry.children[c]].height + 1);
        entry.height = height;
        highest = std::max(highest, height);
    }
    return highest;
}

// Whether a directed path leads from the child back to the parent, so that an arc
// parent -> child would close a cycle. Each node is entered once: linear in the graph.
// The marks are stamps kept between tests, so a test costs the descendants it walks and not
// the table.
bool QNL_network::CreatesCycle(int parent, int child) {
    // A node added after its parents has no children yet: nothing to walk or to allocate.
    if (child != parent && table[child].children.GetCount() == 0) return false;
    CycleScratch& scratch = cycleScratch;
    if (scratch.seen.size() < static_cast<std::size_t>(tableSize))
        scratch.seen.resize(static_cast<std::size_t>(tableSize), 0);
    if (++scratch.stamp == 0) {
        std::fill(scratch.seen.begin(), scratch.seen.end(), 0);
        scratch.stamp = 1;
    }
    const std::uint32_t stamp = scratch.stamp;
    std::vector<int>& stack = scratch.stack;
    stack.assign(1, child);
    scratch.seen[static_cast<std::size_t>(child)] = stamp;
    while (!stack.empty()) {
        const int node = stack.back();
        stack.pop_back();
        ++slotVisits;
        if (node == parent) return true;
        const QNL_intArray& children = table[node].children;
        for (int i = 0; i < children.GetCount(); ++i) {
            const int next = children[i];
            if (next >= 0 && next < tableSize &&
                scratch.seen[static_cast<std::size_t>(next)] != stamp) {
                scratch.seen[static_cast<std::size_t>(next)] = stamp;
                stack.push_back(next);
            }
        }
    }
    return false;
}

int QNL_network::GetEvidenceNodes(QNL_intArray& out) {
    std::vector<int> observed;
    CollectObserved(observed, false);
    for (int h : observed)
        if (out.Add(h) != 0) return -42;
    return 0;
}

int QNL_network::InvalidateValues() {
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        QNL_nodeValue* value = table[h].node->GetValue();
        if (value != nullptr && !value->IsObserved()) value->SetValidFlag(false);
    }
    return 0;
}

void QNL_network::InvalidateEveryValue(bool keepFindings) {
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        QNL_nodeValue* value = table[h].node->GetValue();
        if (value != nullptr && !(keepFindings && value->HasEvidence())) value->SetValidFlag(false);
    }
}

int QNL_network::ClearAllEvidence() {
    if (temporal) temporal->ClearAllSliceEvidence();
    return ClearEvidenceTogether();
}
