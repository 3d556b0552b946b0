#pragma once

class QNL_network;

namespace quarn_test {

// Networks of thousands of nodes for the tests that count the work of bulk edits: a chain of
// two-outcome nodes, or a random network whose nodes take two to four outcomes, up to three
// parents among the 40 nodes made before them and random tables. Nodes "n0", "n1", ... in
// slot order, added to an empty network node by node as a caller builds one.
void BuildLargeNetwork(QNL_network& network, int nodes, bool random);

} // namespace quarn_test
