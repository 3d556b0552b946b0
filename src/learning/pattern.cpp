#include "learning/pattern.h"

#include "learning/dataset.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

int QNL_pattern::SetSize(int n) {
    if (n < 0) n = 0;
    // Held to the limit of the library's tables: a size of 65536 once asked for 16 GB.
    const std::int64_t cells = std::int64_t{n} * n;
    if (cells > QNL_network::MAX_TABLE_CELLS) {
        const std::string message = "Matrix too large: the pattern would hold " +
                                    std::to_string(cells) + " cells, more than " +
                                    std::to_string(QNL_network::MAX_TABLE_CELLS);
        return QNL_errorHandler::Instance().LogError(-42, message.c_str());
    }
    std::vector<int> resized(static_cast<std::size_t>(n) * n, NO_EDGE);
    const int kept = n < size ? n : size;
    for (int i = 0; i < kept; ++i)
        for (int j = 0; j < kept; ++j)
            resized[static_cast<std::size_t>(i) * n + j] = marks[Cell(i, j)];
    marks.swap(resized);
    size = n;
    return 0;
}

bool QNL_pattern::HasDirectedPath(int i, int j) const {
    if (i == j) return true;
    std::vector<char> visited(size, 0);
    std::vector<int> stack{i};
    visited[i] = 1;
    while (!stack.empty()) {
        const int from = stack.back();
        stack.pop_back();
        for (int k = 0; k < size; ++k) {
            if (visited[k] || GetEdge(from, k) != DIRECTED || GetEdge(k, from) == DIRECTED)
                continue;
            if (k == j) return true;
            visited[k] = 1;
            stack.push_back(k);
        }
    }
    return false;
}

bool QNL_pattern::HasCycle() const {
    // A cycle through a directed edge i -> j closes with a path back from j to i.
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j)
            if (i != j && GetEdge(i, j) == DIRECTED && GetEdge(j, i) != DIRECTED &&
                HasDirectedPath(j, i))
                return true;
    return false;
}

int QNL_pattern::FirstTwoWayPair(int& i, int& j) const {
    for (i = 0; i < size; ++i)
        for (j = i + 1; j < size; ++j) {
            if (GetEdge(i, j) == UNDIRECTED || GetEdge(j, i) == UNDIRECTED) return UNDIRECTED;
            if (GetEdge(i, j) == DIRECTED && GetEdge(j, i) == DIRECTED) return DIRECTED;
        }
    return NO_EDGE;
}

bool QNL_pattern::IsDAG() const {
    int i, j;
    return FirstTwoWayPair(i, j) == NO_EDGE && !HasCycle();
}

std::vector<int> QNL_pattern::FindCycle() const {
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j) {
            if (i == j || GetEdge(i, j) != DIRECTED || GetEdge(j, i) == DIRECTED) continue;
            // The way back from j to i, by the edges HasDirectedPath follows, each variable
            // remembering the one it was reached from.
            std::vector<int> from(static_cast<std::size_t>(size), -1);
            std::vector<int> stack{j};
            from[static_cast<std::size_t>(j)] = j;
            while (!stack.empty() && from[static_cast<std::size_t>(i)] < 0) {
                const int at = stack.back();
                stack.pop_back();
                for (int k = 0; k < size; ++k)
                    if (from[static_cast<std::size_t>(k)] < 0 && GetEdge(at, k) == DIRECTED &&
                        GetEdge(k, at) != DIRECTED) {
                        from[static_cast<std::size_t>(k)] = at;
                        stack.push_back(k);
                    }
            }
            if (from[static_cast<std::size_t>(i)] < 0) continue;
            std::vector<int> cycle{i};
            for (int k = i; k != j; k = from[static_cast<std::size_t>(k)])
                cycle.push_back(from[static_cast<std::size_t>(k)]);
            cycle.push_back(i);
            std::reverse(cycle.begin(), cycle.end());
            return cycle;
        }
    return {};
}

namespace {

// The variable's id made a valid identifier not yet used in the network.
std::string NodeIdFor(const std::string& raw, const QNL_network& network) {
    std::string base = raw;
    if (!IsValidId(base.c_str()) && SanitizeId(base) != 0) base = "x";
    std::string id = base;
    for (long long suffix = 2; network.IsIdUsed(id.c_str(), -1) == 1; ++suffix)
        id = base + std::to_string(suffix);
    return id;
}

int SetOutcomes(QNL_node* node, const std::vector<std::string>& names) {
    QNL_stringArray texts;
    for (const std::string& name : names)
        if (texts.Add(name.c_str()) != 0) return -42;
    // Texts taken unchecked, then each repaired (and made unique) by the identifier rule.
    QNL_idArray ids(false);
    int result = ids.QNL_stringArray::Assign(texts);
    if (result == 0) result = ids.MakeAllIdsValid();
    if (result != 0) return result;
    return node->GetDefinition()->SetNumberOfOutcomes(ids);
}

} // namespace

bool QNL_pattern::MakeNetwork(const QNL_dataset& data, QNL_network& network) const {
    const int n = data.getNumberOfVariables();
    // A variable by its index and, where the data set has it, its id.
    const auto variable = [&](int i) {
        return std::to_string(i) + (i < n ? " (" + data.getVariableId(i) + ")" : std::string());
    };
    int a = 0, b = 0;
    std::string why;
    if (const int mark = FirstTwoWayPair(a, b); mark == UNDIRECTED) {
        why =
            "the edge between variables " + variable(a) + " and " + variable(b) + " is undirected";
    } else if (mark == DIRECTED) {
        why = "variables " + variable(a) + " and " + variable(b) +
              " are marked as parents of each other";
    } else if (const std::vector<int> cycle = FindCycle(); !cycle.empty()) {
        why = "the directed edges form a cycle: " + variable(cycle.front());
        for (std::size_t k = 1; k < cycle.size(); ++k)
            why += " -> " + variable(cycle[k]);
    }
    if (!why.empty()) {
        QNL_errorHandler::Instance().LogError(
            -1, "pattern: " + why + "; only a directed acyclic pattern makes a network");
        return false;
    }
    if (n != size) {
        QNL_errorHandler::Instance().LogError(
            -1, "pattern: the pattern has " + std::to_string(size) +
                    " variables but the data set has " + std::to_string(n));
        return false;
    }
    int type = QNL_TYPE_EQUATION;
    for (int i = 0; i < n; ++i)
        if (data.isDiscrete(i)) type = QNL_TYPE_CPT;

    std::vector<int> handles;
    bool ok = true;
    try {
        for (int i = 0; i < n && ok; ++i) {
            const std::string& raw = data.getVariableId(i);
            const int node = network.AddNode(type, NodeIdFor(raw, network).c_str());
            if (node < 0) {
                ok = false;
                break;
            }
            handles.push_back(node);
            QNL_node* added = network.GetNode(node);
            ok = added->GetInfo()->header.SetName(raw.c_str()) == 0;
            const std::vector<std::string>& states = data.getStateNames(i);
            if (ok && states.size() >= 2) ok = SetOutcomes(added, states) == 0;
        }
        for (int i = 0; i < n && ok; ++i)
            for (int j = i + 1; j < n && ok; ++j) {
                if (GetEdge(i, j) == DIRECTED)
                    ok = network.AddArc(handles[i], handles[j]) == 0;
                else if (GetEdge(j, i) == DIRECTED)
                    ok = network.AddArc(handles[j], handles[i]) == 0;
            }
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        ok = false;
    }
    if (ok) return true;
    // Deleting a node takes its arcs along, so the network is as it was.
    for (const int node : handles)
        network.DeleteNode(node);
    return false;
}
