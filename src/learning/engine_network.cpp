#include "learning/engine_network.h"

#include "learning/directed_paths.h"
#include "model/error_handler.h"

#include <algorithm>
#include <new>

using namespace QNL_learnOption;

// ---- progress ----

bool QNL_learnProgress::Report(const std::string& message) {
    if (callback && !callback(done, message)) cancelled = true;
    return !cancelled;
}

int QNL_learnProgress::BeginStep(int level, double weight, const std::string& message) {
    if (cancelled) return CANCELLED;
    if (level != GetLevel()) return -2;
    const double scale = steps.empty() ? 1.0 : steps.back().scale;
    steps.push_back({done, scale * weight});
    return Report(message) ? 0 : CANCELLED;
}

int QNL_learnProgress::EndStep(int level) {
    if (cancelled) return CANCELLED;
    if (level < 0 || level != GetLevel()) return -2;
    done = steps.back().start + steps.back().scale;
    steps.pop_back();
    return Report(std::string()) ? 0 : CANCELLED;
}

// ---- construction and options ----

QNL_learnNetwork::QNL_learnNetwork() = default;
QNL_learnNetwork::~QNL_learnNetwork() = default;

void QNL_learnNetwork::Reset() {
    RemoveAllNodes();
    options.SetDefaults();
    networkScore = -1.0;
    networkScoreValid = false;
    structurePriorValid = false;
    dataIncomplete = false;
    continuousData = false;
    arcProbabilities.clear();
    trainingMask.clear();
    testingMask.clear();
    designated = -1;
    queue.clear();
    enabled.clear();
    proposals.clear();
    families.clear();
    familyScores.clear();
    operators = 0;
    minimumGain = 0.0;
    maxParents = 2147483647;
}

namespace {

template <typename Set>
int SetByKey(const std::string& key, QNL_learnOptions::Type wanted, Set set) {
    QNL_learnOptions::Type type;
    const int index = QNL_learnOptions::IndexOf(key, &type);
    // A key of another type would write an unrelated option of the same index.
    if (index < 0 || type != wanted) return -2;
    return set(index);
}

} // namespace

int QNL_learnNetwork::SetBoolOption(const std::string& key, bool value) {
    const int result = SetByKey(key, QNL_learnOptions::BOOL,
                                [&](int index) { return options.SetBool(index, value); });
    if (result == 0) InvalidateAllScores();
    return result;
}

int QNL_learnNetwork::SetIntOption(const std::string& key, int value) {
    const int result = SetByKey(key, QNL_learnOptions::INT,
                                [&](int index) { return options.SetInt(index, value); });
    if (result == 0) InvalidateAllScores();
    return result;
}

int QNL_learnNetwork::SetStringOption(const std::string& key, const std::string& text) {
    return SetByKey(key, QNL_learnOptions::STRING,
                    [&](int index) { return options.SetString(index, text); });
}

void QNL_learnNetwork::SetOptions(const QNL_learnOptions& value) {
    options = value;
    InvalidateAllScores();
}

namespace {

bool InRange(const QNL_learnOptions& options, QNL_learnOptions::Type type, int index) {
    return index >= 0 && index < options.GetNumberOf(type);
}

} // namespace

int QNL_learnNetwork::GetBoolOption(int index, bool& out) const {
    if (!InRange(options, QNL_learnOptions::BOOL, index)) return -1;
    out = options.GetBool(index);
    return 0;
}

int QNL_learnNetwork::GetIntOption(int index, int& out) const {
    if (!InRange(options, QNL_learnOptions::INT, index)) return -1;
    out = options.GetInt(index);
    return 0;
}

int QNL_learnNetwork::GetDoubleOption(int index, double& out) const {
    if (!InRange(options, QNL_learnOptions::DOUBLE, index)) return -1;
    out = options.GetDouble(index);
    return 0;
}

int QNL_learnNetwork::GetStringOption(int index, std::string& out) const {
    if (!InRange(options, QNL_learnOptions::STRING, index)) return -1;
    out = options.GetString(index);
    return 0;
}

// ---- nodes ----

QNL_learnNode* QNL_learnNetwork::GetNode(int index) const {
    return IsNode(index) ? nodes[static_cast<std::size_t>(index)].get() : nullptr;
}

int QNL_learnNetwork::NextNode(int& index) {
    for (int i = index < -1 ? 0 : index + 1; i < GetNumberOfNodes(); ++i) {
        const QNL_learnNode& node = *nodes[static_cast<std::size_t>(i)];
        if (node.active) {
            index = i;
            return 0;
        }
        if (logFlag) log << "Found a deactivated node: " << node.name << ".\n";
    }
    index = GetNumberOfNodes();
    return -2;
}

int QNL_learnNetwork::FindNode(const std::string& name) const {
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i]->name == name) return static_cast<int>(i);
    return -1;
}

int QNL_learnNetwork::AppendNode(std::unique_ptr<QNL_learnNode> node) {
    try {
        nodes.reserve(nodes.size() + 1);
        for (auto& other : nodes)
            other->NodeAdded();
        node->index = GetNumberOfNodes();
        for (std::size_t i = 0; i <= nodes.size(); ++i)
            node->NodeAdded();
        nodes.push_back(std::move(node));
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        return -1;
    }
    ++activeCount;
    InvalidateAllScores();
    // The node's index, which the active count less 1 is not while a node is deactivated.
    return GetNumberOfNodes() - 1;
}

int QNL_learnNetwork::CreateNode(const std::string& name) {
    try {
        return AppendNode(std::make_unique<QNL_learnNode>(*this, name));
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        return -1;
    }
}

int QNL_learnNetwork::RemoveNode(int index) {
    if (!IsNode(index)) return -2;
    QNL_learnNode& node = *nodes[static_cast<std::size_t>(index)];
    // Its arcs go first, so no other node keeps an index to it.
    for (const int parent : std::vector<int>(node.parents))
        nodes[static_cast<std::size_t>(parent)]->children.erase(
            std::find(nodes[static_cast<std::size_t>(parent)]->children.begin(),
                      nodes[static_cast<std::size_t>(parent)]->children.end(), index));
    for (const int child : std::vector<int>(node.children)) {
        auto& list = nodes[static_cast<std::size_t>(child)]->parents;
        list.erase(std::find(list.begin(), list.end(), index));
        nodes[static_cast<std::size_t>(child)]->ParentsChanged();
    }
    if (node.active) --activeCount;
    if (designated == index)
        designated = -1;
    else if (designated > index)
        --designated;
    nodes.erase(nodes.begin() + index);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        nodes[i]->index = static_cast<int>(i);
        nodes[i]->NodeRemoved(index);
    }
    arcProbabilities.clear();
    RebuildPriorMap();
    InvalidateAllScores();
    return 0;
}

void QNL_learnNetwork::RemoveAllNodes() {
    while (!nodes.empty())
        RemoveNode(GetNumberOfNodes() - 1);
}

int QNL_learnNetwork::DeactivateNode(int index) {
    if (!IsNode(index)) return -2;
    QNL_learnNode& node = *nodes[static_cast<std::size_t>(index)];
    if (!node.active) return 0;
    // Forced arcs of the node go too: an inactive node takes part in nothing.
    while (!node.parents.empty()) {
        QNL_learnNode& parent = *nodes[static_cast<std::size_t>(node.parents.back())];
        parent.children.erase(std::find(parent.children.begin(), parent.children.end(), index));
        parent.ChildrenChanged();
        node.parents.pop_back();
    }
    while (!node.children.empty()) {
        QNL_learnNode& child = *nodes[static_cast<std::size_t>(node.children.back())];
        child.parents.erase(std::find(child.parents.begin(), child.parents.end(), index));
        child.ParentsChanged();
        node.children.pop_back();
    }
    node.ParentsChanged();
    node.ChildrenChanged();
    node.active = false;
    --activeCount;
    InvalidateAllScores();
    return 0;
}

int QNL_learnNetwork::ActivateNode(int index) {
    if (!IsNode(index)) return -2;
    QNL_learnNode& node = *nodes[static_cast<std::size_t>(index)];
    if (node.active) return 0;
    node.active = true;
    ++activeCount;
    InvalidateAllScores();
    return 0;
}

int QNL_learnNetwork::SetDesignatedNode(int index) {
    if (index != -1 && !IsNode(index)) return -2;
    designated = index;
    return 0;
}

void QNL_learnNetwork::InvalidateCaches() {
    networkScoreValid = false;
    structurePriorValid = false;
}

void QNL_learnNetwork::InvalidateAllScores() {
    InvalidateCaches();
    for (auto& node : nodes)
        node->ScoresChanged();
}

// ---- arcs ----

int QNL_learnNetwork::AddArc(int from, int to) {
    if (!IsNode(from) || !IsNode(to)) return -1;
    if (from == to) return 0;
    QNL_learnNode& child = *nodes[static_cast<std::size_t>(to)];
    QNL_learnNode& parent = *nodes[static_cast<std::size_t>(from)];
    if (child.RefusesParent(from) || !child.active || !parent.active) return 0;
    if (child.HasParent(from)) return 1;
    try {
        child.parents.reserve(child.parents.size() + 1);
        parent.children.reserve(parent.children.size() + 1);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    child.parents.push_back(from);
    parent.children.push_back(to);
    child.ParentsChanged();
    parent.ChildrenChanged();
    InvalidateCaches();
    return 1;
}

bool QNL_learnNetwork::HasDirectedPath(int from, int to) const {
    if (!IsNode(from) || !IsNode(to)) return false;
    return quarn::detail::HasArcPath(nodes.size(), from, to,
                                     [this](int v) -> const std::vector<int>& {
                                         return nodes[static_cast<std::size_t>(v)]->children;
                                     });
}

int QNL_learnNetwork::AddArcIfAcyclic(int from, int to) {
    if (!IsNode(from) || !IsNode(to)) return -1;
    if (from != to && HasDirectedPath(to, from)) return 0;
    return AddArc(from, to);
}

int QNL_learnNetwork::RemoveArc(int from, int to) {
    if (!IsNode(from) || !IsNode(to)) return -1;
    if (from == to) return 0;
    QNL_learnNode& child = *nodes[static_cast<std::size_t>(to)];
    QNL_learnNode& parent = *nodes[static_cast<std::size_t>(from)];
    if (child.IsForcedParent(from)) return 0;
    const auto at = std::find(parent.children.begin(), parent.children.end(), to);
    if (at == parent.children.end()) return 0;
    const auto back = std::find(child.parents.begin(), child.parents.end(), from);
    if (back == child.parents.end()) return -1;
    parent.children.erase(at);
    child.parents.erase(back);
    child.ParentsChanged();
    parent.ChildrenChanged();
    InvalidateCaches();
    return 1;
}

int QNL_learnNetwork::ReverseArc(int from, int to) {
    if (!IsNode(from) || !IsNode(to)) return -1;
    if (from == to) return 0;
    const int removed = RemoveArc(from, to);
    if (removed != 1) return removed < 0 ? removed : 0;
    if (AddArc(to, from) == 1) return 1;
    AddArc(from, to);
    return 0;
}

int QNL_learnNetwork::ReverseArcIfAcyclic(int from, int to) {
    if (!IsNode(from) || !IsNode(to)) return -1;
    if (from == to) return 0;
    const int removed = RemoveArc(from, to);
    if (removed != 1) return removed < 0 ? removed : 0;
    if (AddArcIfAcyclic(to, from) == 1) return 1;
    AddArc(from, to);
    return 0;
}

// ---- background knowledge ----

namespace {

void Mark(std::vector<char>& row, int k, char value) {
    row[static_cast<std::size_t>(k)] = value;
}

} // namespace

bool QNL_learnNetwork::HasForcedPath(int from, int to) const {
    std::vector<char> seen(nodes.size(), 0);
    std::vector<int> stack{from};
    while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        if (at == to) return true;
        for (std::size_t k = 0; k < nodes.size(); ++k)
            if (!seen[k] && nodes[k]->IsForcedParent(at)) {
                seen[k] = 1;
                stack.push_back(static_cast<int>(k));
            }
    }
    return false;
}

int QNL_learnNetwork::SetForcedArc(int parent, int child) {
    if (!IsNode(parent) || !IsNode(child) || parent == child) return -1;
    QNL_learnNode& node = *nodes[static_cast<std::size_t>(child)];
    if (node.IsForcedParent(parent) || node.RefusesParent(parent)) return -1;
    // Forced arcs that close a cycle would leave no acyclic network to learn.
    if (HasForcedPath(child, parent)) return -1;
    Mark(node.forced, parent, 1);
    return 0;
}

int QNL_learnNetwork::SetForbiddenArc(int parent, int child) {
    if (!IsNode(parent) || !IsNode(child) || parent == child) return -1;
    QNL_learnNode& node = *nodes[static_cast<std::size_t>(child)];
    // A forced arc cannot be forbidden as well.
    if (node.IsForbiddenParent(parent) || node.IsForcedParent(parent)) return -1;
    Mark(node.forbidden, parent, 1);
    return 0;
}

int QNL_learnNetwork::ClearForbiddenArc(int parent, int child) {
    if (!IsNode(parent) || !IsNode(child)) return -1;
    Mark(nodes[static_cast<std::size_t>(child)]->forbidden, parent, 0);
    return 0;
}

int QNL_learnNetwork::SetTierOrder(int earlierNode, int laterNode) {
    if (!IsNode(earlierNode) || !IsNode(laterNode) || earlierNode == laterNode) return -1;
    QNL_learnNode& first = *nodes[static_cast<std::size_t>(earlierNode)];
    QNL_learnNode& second = *nodes[static_cast<std::size_t>(laterNode)];
    if (first.IsInEarlierTier(laterNode) || first.IsForcedParent(laterNode)) return -1;
    Mark(second.earlier, earlierNode, 1);
    Mark(first.later, laterNode, 1);
    return 0;
}

void QNL_learnNetwork::CloseTiers() {
    // Warshall's closure of "is in a later tier than".
    const std::size_t n = nodes.size();
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t i = 0; i < n; ++i) {
            if (!nodes[i]->later[k]) continue;
            const std::vector<char>& beyond = nodes[k]->later;
            for (std::size_t j = 0; j < n; ++j)
                if (beyond[j] && !nodes[i]->later[j]) {
                    nodes[i]->later[j] = 1;
                    nodes[j]->earlier[i] = 1;
                }
        }
}

int QNL_learnNetwork::OrderTiers(const std::vector<std::vector<int>>& tiers) {
    for (std::size_t t = 1; t < tiers.size(); ++t)
        for (const int i : tiers[t - 1])
            for (const int j : tiers[t])
                if (SetTierOrder(i, j) != 0) return -1;
    CloseTiers();
    for (const auto& node : nodes)
        for (std::size_t k = 0; k < nodes.size(); ++k)
            if (node->later[k] && node->earlier[k]) return -1; // a node in two tiers
    return 0;
}

int QNL_learnNetwork::SetTierOrderFromTiers(const std::vector<std::vector<int>>& tiers) {
    return WithKnowledgeKept([&] { return OrderTiers(tiers); });
}

int QNL_learnNetwork::SetTiers(const std::vector<std::vector<int>>& tiers) {
    return WithKnowledgeKept([&] {
        if (OrderTiers(tiers) != 0) return -1;
        for (const auto& tier : tiers)
            for (const int i : tier)
                for (const int j : tier) {
                    if (i == j) continue;
                    // A one-tier list orders nothing, so a missing node is first met here.
                    if (!IsNode(i) || !IsNode(j)) return -1;
                    if (!nodes[static_cast<std::size_t>(j)]->IsForbiddenParent(i) &&
                        SetForbiddenArc(i, j) != 0)
                        return -1;
                }
        CloseTiers();
        return 0;
    });
}

int QNL_learnNetwork::WithKnowledgeKept(const std::function<int()>& change) {
    std::vector<std::vector<char>> saved;
    for (const auto& node : nodes)
        for (const auto* row : {&node->forced, &node->forbidden, &node->earlier, &node->later})
            saved.push_back(*row);
    const int result = change();
    if (result == 0) return 0;
    std::size_t at = 0;
    for (const auto& node : nodes)
        for (auto* row : {&node->forced, &node->forbidden, &node->earlier, &node->later})
            *row = std::move(saved[at++]);
    return result;
}

int QNL_learnNetwork::ApplyBackgroundKnowledge() {
    struct Done {
        int from, to;
        bool added;
    };
    std::vector<Done> done;
    // Every node, not the first active-count ones: a deactivated node may sit anywhere.
    const int n = GetNumberOfNodes();
    auto undo = [&] {
        for (auto d = done.rbegin(); d != done.rend(); ++d) {
            if (d->added) {
                // A forced arc is taken out past its own refusal.
                QNL_learnNode& child = *nodes[static_cast<std::size_t>(d->to)];
                const char mark = child.forced[static_cast<std::size_t>(d->from)];
                Mark(child.forced, d->from, 0);
                RemoveArc(d->from, d->to);
                Mark(child.forced, d->from, mark);
            } else {
                QNL_learnNode& child = *nodes[static_cast<std::size_t>(d->to)];
                const char mark = child.forbidden[static_cast<std::size_t>(d->from)];
                Mark(child.forbidden, d->from, 0);
                AddArc(d->from, d->to);
                Mark(child.forbidden, d->from, mark);
            }
        }
        return -1;
    };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            QNL_learnNode& child = *nodes[static_cast<std::size_t>(j)];
            if (!child.active || !nodes[static_cast<std::size_t>(i)]->active) continue;
            if (child.IsForcedParent(i)) {
                const bool had = child.HasParent(i);
                // Forced arcs are acyclic among themselves, but not with the arcs already
                // drawn; a cycle would leave no network to score or copy.
                if (!had && HasDirectedPath(j, i)) return undo();
                const int result = AddArc(i, j);
                if (result < 0) return undo();
                if (result == 1 && !had) done.push_back({i, j, true});
            }
            if (child.IsForbiddenParent(i)) {
                const int result = RemoveArc(i, j);
                if (result < 0) return undo();
                if (result == 1) done.push_back({i, j, false});
            }
        }
    return 0;
}
