#pragma once

#include "model/network.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace quarn_test {

// Adds an arc from each parent, in order, to the child, expecting each to be accepted.
inline void Arcs(QNL_network& network, std::initializer_list<int> parents, int child) {
    for (int parent : parents)
        ASSERT_EQ(network.AddArc(parent, child), 0) << parent << " -> " << child;
}

} // namespace quarn_test
