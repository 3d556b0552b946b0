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
// dropped. True when that was done, or when no value held anything to drop.
bool InvalidateSampledValues(QNL_network& network, bool sampledBefore);

// The nodes whose exact solve uses the value of `start`, start included: its descendants and,
// for every node reached, the other members of its set (named by it or naming it), whose
// descendants and sets follow in turn.
void CollectEquationDependents(const QNL_network& network, int start, std::vector<int>& out);

// Every set of simultaneous equations that names the node lets it go, as when it is deleted.
void LeaveSets(QNL_network& network, int node);

// What a node's change of type reaches in equation and hybrid networks, found while its old
// definition is in place: a set of equations solves as one, so a node that joins or leaves one
// (or feeds one) changes the solution of every set its value reaches, including the partners
// its old definition named; and a sampled update draws for every node.
class TypeChangeReach {
public:
    TypeChangeReach(const QNL_network* network, int node, int oldType, int newType);
    // Once the new definition is in place: clears the valid flag of every value found (of
    // every value when the update samples, before the change or after it, or when there was
    // no room to search), the user's findings aside.
    void Invalidate(QNL_network& network) const;

private:
    std::vector<int> reached;
    bool equations = false;
    bool sampledBefore = false;
    bool complete = true;
};

} // namespace quarn::detail
