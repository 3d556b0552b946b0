#pragma once

#include "support/network_builder.h"

// Reading a table definition cell by cell, named by coordinates, so that the tests of every
// table type (probability, truth, utility) compare cells independently of the table layout.
namespace quarn_test {

// The node's definition table keyed by each parent's outcome identifier and, for a node with
// outcomes, its own; expects the table to be shaped by the parents in order with the node's
// own outcomes last (a single cell for a node without outcomes).
Cells ReadCells(const QNL_network& network, int node);

// The key without the node's coordinate, or with it set to the outcome.
Key Without(Key key, const std::string& node);
Key With(Key key, const std::string& node, const std::string& outcome);

} // namespace quarn_test
