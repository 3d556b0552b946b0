// What an edit does to the values of a solved influence diagram.
//
// A solve's values hang on the whole diagram at once: which decision-related nodes are
// scenario nodes and so index the values, what each decision sees, the overall utility and
// the maximum taken at every later decision. An edit may change any of them through nodes the
// invalidation walk never reaches (an informational parent that becomes informative, a
// collider that a scenario node opens, a utility without parents deleted, a finding that makes
// a scenario possible again). So the first notified edit after a solve takes every value but
// those of the nodes holding findings; the walk then goes on as in any network. Solves are
// what set the mark again, and networks without decisions or utilities never get it.

#include "model/network.h"

#include "model/node_definition.h"

void QNL_network::DropPolicyValues() {
    if (!policyValuesWritten) return;
    policyValuesWritten = false;
    InvalidateEveryValue(true);
}

// A Bayesian network that takes its first decision or utility node is solved as a diagram
// from then on: what its belief update left is no value of the diagram's solve (the
// best-policy method, for one, writes a decision alone), and arcs into a decision start no
// walk that would reach it.
void QNL_network::DropValuesIfDiagramBegins(int node) {
    // Said whenever a node takes its type, new or changed.
    NodeTyped(node);
    constexpr int diagram = QNL_TYPE_BIT_DECISION | QNL_TYPE_BIT_UTILITY;
    if (!(notificationControl & NOTIFY_ON) || !(DefinitionType(node) & diagram)) return;
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h))
        if (h != node && (DefinitionType(h) & diagram)) return;
    InvalidateEveryValue(true);
}
