#pragma once

// Internal: not part of the public interface.
//
// The one walk along arcs that the learning code asks of its graphs: whether a directed path
// leads from one node to another, over whatever holds each node's children.

#include <cstddef>
#include <vector>

namespace quarn::detail {

// Whether a directed path leads from `from` to `to` among `size` nodes; `childrenOf(node)`
// gives a range of the node's children. Each node is entered once, on an explicit stack.
template <class ChildrenOf>
bool HasArcPath(std::size_t size, int from, int to, const ChildrenOf& childrenOf) {
    std::vector<char> seen(size, 0);
    std::vector<int> stack{from};
    seen[static_cast<std::size_t>(from)] = 1;
    while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        if (at == to) return true;
        for (const int child : childrenOf(at))
            if (!seen[static_cast<std::size_t>(child)]) {
                seen[static_cast<std::size_t>(child)] = 1;
                stack.push_back(child);
            }
    }
    return false;
}

} // namespace quarn::detail
