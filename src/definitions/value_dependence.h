#pragma once

#include <vector>

class QNL_network;

// Which computed values a change can reach in equation and hybrid networks, beyond what the
// network's evidence-respecting walk finds. A sampled update estimates every value from one
// stream of draws weighted by every finding, so any change there alters every estimate; an
// exact equation solve computes a node from its ancestors and, for a member of a set of
// simultaneous equations, from the whole set. Internal: not part of the public interface.
namespace quarn::detail {

// Whether the network's update samples: it holds a hybrid node, an equation that draws from a
// distribution, or an equation node holding evidence.
bool UpdateSamples(const QNL_network& network);

// The node types that only equation and hybrid networks hold.
bool IsEquationOrHybridType(int type);

// Whether the network acts on changes of the kind (0: any change while it listens at all).
bool Listens(const QNL_network& network, int kind);

// When the update samples (or did before the change, as `sampledBefore` says), every value
// without user evidence loses its valid flag and the numbers the last update implied are
// dropped. True when that was done.
bool InvalidateSampledValues(QNL_network& network, bool sampledBefore);

// The nodes whose exact solve uses the value of `start`, start included: its descendants and,
// for every node reached, the other members of its set (named by it or naming it), whose
// descendants and sets follow in turn.
void CollectEquationDependents(const QNL_network& network, int start, std::vector<int>& out);

} // namespace quarn::detail
