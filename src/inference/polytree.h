#pragma once

class QNL_network;

// Exact beliefs of a singly connected network by message passing between neighbours: causal
// (pi) messages from parents to children and diagnostic (lambda) messages from children to
// parents, on the network itself without a reduction. Each tree of a forest is propagated in
// two sweeps over an explicit order (towards a root, then away from it), so long chains need
// no deep call stack. Messages and beliefs are normalised; a vector of zero sum (evidence that
// contradicts itself) becomes uniform, and the part of the tree it lies in (what stays
// connected when each observed node is cut from its children) has impossible evidence.
//
// 0 with every node's value written and marked valid (beliefs of unobserved nodes, the
// certainty of observed ones), but for the unobserved nodes of a part whose evidence is
// impossible, left not valid; -1 with "PolyTree algorithm can not be applied to this network,
// because it is not singly connected." when the network has an undirected cycle; -3 when a
// parent or child does not list the node back; -567 when a table does not match its node's
// parents; -42 when memory runs out. On failure no value is changed.
int RunPolytree(QNL_network& network);
