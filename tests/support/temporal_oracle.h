#pragma once

#include "support/random_network.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

class QNL_network;
class QNL_nodeDefinition;

// The yardstick of dynamic networks: the network unrolled node by node without the library's
// own unrolling, with the user evidence of every slice, then enumerated.
namespace quarn_test {

// Random columns; with `certainShare` > 0 that share of the columns puts all its mass on one
// outcome, so that findings imply outcomes through the table. Set unchecked and unnotified,
// or, with `notifying`, through the table's notifying setter (a table of probabilities).
void FillRandom(QNL_nodeDefinition* definition, TestRandom& random, double certainShare = 0.0,
                bool notifying = false);

// The unrolling written out node by node: "P_t" in slice t, parents in the order the tables
// use, tables taken from the definition of the largest order not above the slice (orders up to
// 2, found without the extension's own lookup). `at` maps (node, slice) to the copy; nodes
// outside the plate are (node, 0).
void UnrollByHand(QNL_network& net, int slices, QNL_network& out,
                  std::map<std::pair<int, int>, int>& at);

// The hand unrolling of the network as it stands, holding its user findings: the nodes' own
// (slice 0) and those of the later slices. Set without checks, so that impossible evidence
// shows as probability 0.
void UnrollWithEvidence(QNL_network& net, QNL_network& out, std::map<std::pair<int, int>, int>& at);

// Every value the network holds as valid is its posterior in the hand unrolling: a plate
// node's holds slices x outcomes; and every implied finding is certain there. Nothing is
// compared under evidence of probability 0; `compared` counts the values compared.
::testing::AssertionResult ValidValuesMatchUnrolling(QNL_network& net, int* compared = nullptr);

} // namespace quarn_test
