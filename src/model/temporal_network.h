#pragma once

#include "model/rectangle.h"

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class QNL_network;
class QNL_nodeDefinition;
class QNL_intArray;

namespace quarn::detail {
struct UnrolledNetwork;
} // namespace quarn::detail

// What a network needs beyond its node table to be dynamic: the number of time slices, the
// temporal arcs with the tables that go with them, evidence per slice and the plate's
// display. Each temporal definition of a plate node and order lives on a node of a private
// network whose parents are private copies of the owner's ordinary parents (of type normal or
// plate) followed by its temporal parents of orders 1, 2, ..., order; the network's hooks keep
// those copies in step with the nodes they stand for. Owned by its network.
class QNL_temporalNetwork {
public:
    static constexpr int NORMAL = 0;
    static constexpr int ANCHOR = 1;
    static constexpr int TERMINAL = 2;
    static constexpr int PLATE = 3;

    explicit QNL_temporalNetwork(QNL_network* owner);
    // A copy for another network whose node handles are those of the source's owner.
    QNL_temporalNetwork(const QNL_temporalNetwork& source, QNL_network* owner);
    QNL_temporalNetwork(const QNL_temporalNetwork&) = delete;
    QNL_temporalNetwork& operator=(const QNL_temporalNetwork&) = delete;
    ~QNL_temporalNetwork();

    int GetNumberOfSlices() const { return slices; }
    // -4 below 1; drops the per-slice evidence of the slices that go.
    int SetNumberOfSlices(int count);

    // Temporal arcs and definitions; the checks on the arguments are the network's.
    int AddTemporalArc(int parent, int child, int order);
    int GetTemporalOrders(int node, QNL_intArray& out) const;
    int GetTemporalParents(int node, int order, QNL_intArray& out) const;
    bool HasTemporalArc(int parent, int child, int order) const;
    // Whether the node has temporal definitions, or is a temporal parent of a plate node.
    bool TakesPartInTemporalArcs(int node) const;
    // The definition of the node for its temporal parents of that order; null when absent.
    QNL_nodeDefinition* GetTemporalDefinition(int node, int order) const;
    // The highest order not above the slice for which the node has a definition; 0 for none.
    int DefinitionOrderFor(int node, int slice) const;

    // Evidence per (node, slice), slices 1 and up; -1 when the slice holds none.
    int GetSliceEvidence(int node, int slice) const;
    int SetSliceEvidence(int node, int slice, int outcome);
    int ClearSliceEvidence(int node, int slice);
    // Invalidates the owner's values when there was any.
    void ClearAllSliceEvidence();
    void ClearSliceEvidenceOf(int node);
    const std::map<std::pair<int, int>, int>& GetAllSliceEvidence() const { return sliceEvidence; }

    // -567 for a rectangle that is not valid.
    int SetPlateDisplay(const QNL_rectangle& rectangle, int leftWidth, int rightWidth);
    void GetPlateDisplay(QNL_rectangle& rectangle, int& leftWidth, int& rightWidth) const;

    // The unrolling kept for the next update (not copied with the extension), and the count
    // of changes to the temporal definitions it depends on.
    quarn::detail::UnrolledNetwork* GetUnrolled() const { return unrolled.get(); }
    void SetUnrolled(std::unique_ptr<quarn::detail::UnrolledNetwork> kept);
    std::uint64_t GetDefinitionsVersion() const;

    // Hooks the network calls after the change was made.
    void NodeDeleted(int node);
    void NodeTypeChanged(int node);
    void OutcomeInserted(int node, int index);
    void OutcomeRemoved(int node, int index);
    void OutcomesReordered(int node, const QNL_intArray& order);
    // The whole outcome set was replaced.
    void OutcomesReplaced(int node);
    void ArcAdded(int parent, int child);
    void ArcRemoved(int parent, int child);
    // A node's temporal type changed (anchors leave or join its children's definitions).
    void TemporalTypeChanged(int node);

private:
    struct Definition {
        int privateNode = -1;
        // The temporal parents of exactly this order, in the order they were added.
        std::vector<int> parents;
    };
    using Key = std::pair<int, int>;

    // The private copy of a network node standing for it as a parent of one order (0 for
    // ordinary parents); made on demand; -42 or another code on failure.
    int CopyFor(int node, int order);
    // A private node of the owner node's type and outcomes; its handle or a code.
    int MakeLike(int node);
    // Brings the parents of one definition to the list they should be, in that order.
    int Sync(const Key& key);
    // Syncs every definition of the node (all nodes when node < 0), then drops definitions
    // left without temporal parents and copies that serve no definition.
    int SyncAll(int node = -1);
    void Prune();
    void DropPrivate(int privateNode);
    // The private nodes standing for the network node: its definitions and copies.
    std::vector<int> PrivateNodesOf(int node) const;

    QNL_network* owner;
    std::unique_ptr<QNL_network> definitions;
    std::map<Key, Definition> temporal;
    std::map<Key, int> copies;
    std::map<int, Key> copyOwners;
    std::map<Key, int> sliceEvidence;
    int slices = 10;
    QNL_rectangle plate;
    int plateLeftWidth = 120;
    int plateRightWidth = 120;
    std::unique_ptr<quarn::detail::UnrolledNetwork> unrolled;
};
