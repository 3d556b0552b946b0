#pragma once

// Small helpers shared by the table-based definition classes (probability, truth, decision
// and utility tables). Internal: not part of the public interface.

#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <new>
#include <vector>

namespace quarn::detail {

inline QNL_nodeDefinition* DefinitionAt(const QNL_network* net, int node) {
    if (net == nullptr) return nullptr;
    const QNL_node* n = net->GetNode(node);
    return n != nullptr ? n->GetDefinition() : nullptr;
}

inline int TypeAt(const QNL_network* net, int node) {
    const QNL_nodeDefinition* definition = DefinitionAt(net, node);
    return definition != nullptr ? definition->GetType() : 0;
}

// The outcome count of a parent that may own a dimension; -2 for a missing node or a parent
// type that gets none.
inline int TableParentOutcomes(const QNL_network* net, int parent, int& outcomes) {
    const QNL_nodeDefinition* definition = DefinitionAt(net, parent);
    if (definition == nullptr || !QNL_IsTableParentType(definition->GetType())) return -2;
    outcomes = definition->GetNumberOfOutcomes();
    return 0;
}

// Children over either arc layer index their tables by this node's outcomes; a change of
// the outcome count would leave their dimensions behind.
inline bool HasDependents(const QNL_network* net, int node) {
    return net != nullptr && net->IsValidNodeHandle(node) &&
           (net->NumberOfChildren(node, 0) > 0 || net->NumberOfChildren(node, 1) > 0);
}

// Runs an edit whose copies throw on allocation failure; the failure becomes -42 and the
// edit's own members are only replaced after its last allocation.
template <typename Body> int Guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

// Callers fill value arrays either by Add (count) or by SetSize and index (size); both are
// taken when they give exactly the number wanted.
inline bool HoldsExactly(const QNL_doubleArray& values, int wanted) {
    return values.GetCount() == wanted || values.GetSize() == wanted;
}

inline bool SameDimensions(const QNL_Dmatrix& a, const QNL_Dmatrix& b) {
    if (a.GetNumberOfDimensions() != b.GetNumberOfDimensions()) return false;
    for (int d = 0; d < a.GetNumberOfDimensions(); ++d)
        if (a.GetSizeOfDimension(d) != b.GetSizeOfDimension(d)) return false;
    return true;
}

// Whether every column of a table whose last dimension holds the node's outcomes is a
// distribution: no cell below 0 (NaN fails too) and a sum within a probability table's
// round-off. Tables a caller writes in place are held to this before anything is computed.
bool ColumnsAreDistributions(const QNL_Dmatrix& table);

// A copy for CreateCopy, which answers null rather than throwing when memory runs out.
template <typename Definition> QNL_nodeDefinition* CopyOrNull(const Definition& definition) {
    try {
        return new Definition(definition);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// A definition that is not (yet) at a node of a network has nobody to tell.
inline int NotifyNetwork(QNL_network* net, int node, int kind) {
    if (net == nullptr || !net->IsValidNodeHandle(node)) return 0;
    return net->NotifyChange(node, kind);
}

// Resets a flag however the scope is left.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag(flag), saved(flag) { flag = true; }
    ~FlagScope() { flag = saved; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag;
    bool saved;
};

// The way back after a failed rewiring: the node's parents become the old ones again, in
// their old order. `order` is the caller's scratch (room reserved ahead means no allocation).
void RestoreParents(QNL_network* net, int node, const QNL_intArray& oldParents,
                    QNL_intArray& order);

// Removes the arcs from the parents that give no table a dimension, gates included, since no
// table definition's AddParent would take them either.
int RemoveNonTableParents(QNL_network* net, int node);

// The shared outcome change keeps two outcomes through temporaries, but a probability table
// or a decision list must end with two as well: a request for fewer is refused before the
// first step, not at the last.
inline int ChangeOutcomesKeepingTwo(QNL_nodeDefinition& definition, const QNL_stringArray& ids,
                                    const QNL_intArray& map) {
    if (!definition.IsValid()) return -567;
    if (ids.GetCount() < 2) return -2;
    return definition.QNL_nodeDefinition::ChangeOutcomes(ids, map);
}

// Outcome identifiers, shared by the probability table ("State0", ...) and the decision list
// ("Choice0", ...); prefix names the defaults.

// Default identifiers are added until there are two, the least a node with outcomes has.
int PadOutcomeIds(QNL_idArray& ids, const char* prefix);
// count default identifiers, numbered from 0.
int DefaultOutcomeIds(QNL_idArray& ids, const char* prefix, int count);
// An identifier the array refuses (empty, malformed, taken) is replaced by a default one.
int InsertOutcomeId(QNL_idArray& ids, int index, const char* id, const char* prefix);
// The first ids.GetCount() texts replace the identifiers, each refused one repaired; -2 for
// fewer texts. ids changes only when all are taken. Throws bad_alloc: run it guarded.
int RenameOutcomeIds(QNL_idArray& ids, const QNL_stringArray& texts);
// The texts as identifiers, repaired where needed; usable is false when they cannot all be
// made valid. Throws bad_alloc: run it guarded.
int ReadOutcomeIds(const QNL_stringArray& texts, QNL_idArray& fresh, bool& usable);

inline bool IsPermutation(const QNL_intArray& order, int n) {
    if (order.GetCount() != n) return false;
    std::vector<char> seen(static_cast<std::size_t>(n), 0);
    for (int i = 0; i < n; ++i) {
        const int from = order[i];
        if (from < 0 || from >= n || seen[static_cast<std::size_t>(from)]) return false;
        seen[static_cast<std::size_t>(from)] = 1;
    }
    return true;
}

} // namespace quarn::detail
