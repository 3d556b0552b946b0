#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model/dmatrix.h"
#include "model/small_array.h"

class QNL_network;
class QNL_node;
class QNL_relevance;
class QNL_relevanceComponent;
class QNL_relevanceNode;

namespace quarn::detail {

struct RecordPointerStorage {
    static constexpr bool kNullWhenEmpty = false;
    // Blocks of record pointers for the relevance arrays.
    static QNL_relevanceNode** Acquire(int n);
    static void Release(QNL_relevanceNode** block, int size);
};

// Parent and child lists of the working records: short lists stay inline.
template <int Inline>
using RecordList = SmallArray<QNL_relevanceNode*, Inline, RecordPointerStorage>;

// All records of one reduction live in one block; every component holds a reference, so the
// block goes with the last component.
struct RecordBlock;

// How a reduction derived its tables from the evidence values, noted while it ran.
struct ReductionLog;

// Working lists of a reduction, kept by a kept reduction across its remakes.
struct ReductionScratch;

// Writes beliefs, normalised, into the node's value as one dimension of `count` outcomes and
// marks the value valid. A sum that is not positive and finite writes nothing (-2).
int WriteNodeBeliefs(QNL_node* node, const double* cells, int count);

} // namespace quarn::detail

// One variable of the working graph of a reduction: the node it stands for, its remaining
// parents and children, its observation and the table that represents it now (the node
// definition's own matrix until the reduction has to change it, then a private copy). The
// table has one dimension per remaining parent, in parent order, and the record's outcomes
// last; records without a table (nodes of other kinds) take part in the graph only.
class QNL_relevanceNode {
public:
    // Marks, used in turn by the passes of the reduction and as component labels.
    static constexpr int MARK_NONE = 0;
    static constexpr int MARK_DETERMINISTIC = 2;
    static constexpr int MARK_ROOT_CUT = 10;
    static constexpr int MARK_LISTED = 16;
    static constexpr int MARK_BARREN = 20;

    QNL_relevanceNode() = default;
    QNL_relevanceNode(const QNL_relevanceNode&) = delete;
    QNL_relevanceNode& operator=(const QNL_relevanceNode&) = delete;

    // The node the record stands for.
    QNL_node* GetNode() const { return node; }
    // The node's handle; -1 for an extra record without a node.
    int GetNodeHandle() const { return handle; }
    int GetNumberOfOutcomes() const { return outcomes; }
    int GetObservedOutcome() const { return observed; }
    // Records the outcome and writes its certainty (1.0 at it, 0.0 elsewhere) into the
    // node's value, marked valid; -2 for an outcome out of range.
    int SetObservedOutcome(int outcome);
    // Writes the record's table, normalised, into the node's value and marks it valid.
    int StoreMarginal() const;

    // Which table the record contributes, and the table itself.
    int GetTableKind() const { return tableKind; }
    const QNL_Dmatrix* GetTable() const;

    // The record's parents and children inside its component.
    int GetNumberOfParents() const { return parents.GetCount(); }
    QNL_relevanceNode* GetParent(int index) const { return parents[index]; }
    int GetNumberOfChildren() const { return children.GetCount(); }
    QNL_relevanceNode* GetChild(int index) const { return children[index]; }

    // Marks of the relevance walk, and the component the record ended up in.
    int GetMark() const { return mark; }
    bool IsTarget() const { return target; }
    QNL_relevanceComponent* GetComponent() const { return component; }
    // Position in the owning component's record list.
    int GetPosition() const { return position; }

private:
    friend class QNL_relevance;
    friend class QNL_relevanceComponent;
    friend struct quarn::detail::ReductionLog;

    // The table becomes a private copy, taken over from `fresh` (no failure after this).
    void TakeTable(QNL_Dmatrix&& fresh);
    // The record's own table becomes its table; the caller has just written it.
    void UseOwnTable();
    // Leaves the graph; the storage of its lists and own table stays for its next use.
    void Release();
    // As a new record, but for the storage of its lists and its own table.
    void Reset();

    QNL_node* node = nullptr;
    int handle = -1;
    quarn::detail::RecordList<8> parents;
    quarn::detail::RecordList<16> children;
    int observed = -1;
    int mark = MARK_NONE;
    int tableKind = 0;
    int outcomes = 0;
    bool target = false;
    QNL_Dmatrix ownTable;
    const QNL_Dmatrix* sharedTable = nullptr;
    QNL_relevanceComponent* component = nullptr;
    int position = -1;
};

// An independent part of a reduced network: records that are connected to each other and
// to at least one target, and to nothing else. It shares its record block with the other
// components of the same reduction.
class QNL_relevanceComponent {
public:
    QNL_relevanceComponent(const QNL_relevanceComponent&) = delete;
    QNL_relevanceComponent& operator=(const QNL_relevanceComponent&) = delete;
    ~QNL_relevanceComponent();

    // The records of the component.
    int GetNumberOfRecords() const { return static_cast<int>(records.size()); }
    QNL_relevanceNode* GetRecord(int position) const {
        return records[static_cast<std::size_t>(position)];
    }
    int GetEvidenceCount() const { return evidenceCount; }
    QNL_network* GetNetwork() const { return network; }

    // Position of the record of the node with the given handle, -1 when absent.
    int FindNode(int handle) const;
    // Every record becomes unobserved; node values are left alone.
    void ClearEvidence();

    // Reorders the records so that every record follows its parents: for each record in
    // list order, its unlisted ancestors depth first in parent order, then the record.
    int ListTopologically();
    // The order of forward sampling: observed records first, by ascending share of zero
    // cells in their tables, then the topological listing of that order.
    int ListForSampling();

private:
    friend class QNL_relevance;
    friend struct quarn::detail::ReductionLog;
    QNL_relevanceComponent() = default;
    // Releases the records and forgets the block, keeping the list's storage.
    void Reset();

    int ListAfterAncestors(const std::vector<QNL_relevanceNode*>& start);

    QNL_network* network = nullptr;
    std::shared_ptr<quarn::detail::RecordBlock> block;
    std::vector<QNL_relevanceNode*> records;
    int evidenceCount = 0;
    // Records stay in node-handle order until a listing reorders them.
    bool inHandleOrder = true;
};

// The components of one reduction, owned here: destroying the list destroys what it holds.
class QNL_componentList {
public:
    QNL_componentList() = default;
    QNL_componentList(const QNL_componentList&) = delete;
    QNL_componentList& operator=(const QNL_componentList&) = delete;
    ~QNL_componentList() { Clear(); }

    // The components in the order they were found.
    int GetCount() const { return static_cast<int>(items.size()); }
    QNL_relevanceComponent* operator[](int index) const {
        return items[static_cast<std::size_t>(index)];
    }
    // Destroys one component as soon as it has been handled; its slot stays, empty.
    void Destroy(int index);
    // Hands one component to the caller, who then destroys it; its slot stays, empty.
    QNL_relevanceComponent* Release(int index);
    void Clear();
    void Swap(QNL_componentList& other) { items.swap(other.items); }

private:
    friend class QNL_relevance;
    friend struct quarn::detail::ReductionLog;
    std::vector<QNL_relevanceComponent*> items;
};

// The working graph of a reduction. Reduce builds it over the whole network, removes what
// cannot influence the targets, absorbs the observations into the children's tables and
// splits the rest into independent components for the inference algorithms.
class QNL_relevance {
public:
    // Reduces the network into `out` (cleared first): 0, or -42 when memory runs out, -51
    // for a node whose value carries the marker flag but whose type has no two-cell table,
    // -567 for a probability table that does not fit the node's parents, IMPOSSIBLE_EVIDENCE
    // (nothing logged, every value without evidence invalidated) when an outcome the
    // deterministic propagation derives contradicts a finding. A network without
    // nodes gives an empty list. Node values change only for the certainties written by the
    // deterministic propagation and by dropped one-record components.
    static constexpr int IMPOSSIBLE_EVIDENCE = -5;
    static int Reduce(QNL_network& network, bool cutRoots, bool usePropagatedEvidence,
                      QNL_componentList& out);

    // Builds the working graph; GetStatus tells whether that succeeded.
    QNL_relevance(QNL_network& network, bool usePropagatedEvidence)
        : QNL_relevance(network, usePropagatedEvidence, nullptr) {}
    QNL_relevance(const QNL_relevance&) = delete;
    QNL_relevance& operator=(const QNL_relevance&) = delete;
    ~QNL_relevance();

    // The outcome of the decomposition and the records it kept.
    int GetStatus() const { return status; }
    int GetEvidenceCount() const { return evidenceCount; }
    int GetNumberOfRecords() const { return static_cast<int>(records.size()); }
    QNL_relevanceNode* GetRecord(int index) const {
        return records[static_cast<std::size_t>(index)];
    }
    // The record of a node handle, null when the handle has none.
    QNL_relevanceNode* FindRecord(int handle) const;
    bool IsNoisyMaxDecompositionOn() const { return noisyMax; }

private:
    // Working lists, the record block and the components come from `scratch` when set.
    QNL_relevance(QNL_network& network, bool usePropagatedEvidence,
                  quarn::detail::ReductionScratch* scratch);
    int Build();
    int MakeRecord(QNL_relevanceNode& record, int handle);
    int LinkRecords();
    // Splits noisy-MAX nodes observed at their lowest outcome; extra records are taken from
    // the block from position `next` on.
    int DecomposeNoisyMax(int next);
    void MarkBarren();
    void RemoveMarked(int mark);
    int PropagateDeterministic();
    int ObserveChild(QNL_relevanceNode& child, int outcome);
    int ObserveParent(QNL_relevanceNode& observed, QNL_relevanceNode& parent, int outcome);
    int AbsorbEvidence();
    int CutRoots();
    int Split(QNL_componentList& out);
    static int Reduce(QNL_network& network, bool cutRoots, bool usePropagatedEvidence,
                      QNL_componentList& out, quarn::detail::ReductionLog* log);

    friend class QNL_keptReduction;

    QNL_network& network;
    quarn::detail::ReductionScratch* scratch;
    std::vector<QNL_relevanceNode*> ownRecords;
    std::vector<std::int32_t> ownRecordOfHandle;
    // Notes how each table is derived, when set.
    quarn::detail::ReductionLog* log = nullptr;
    bool usePropagated;
    bool noisyMax = false;
    bool allTargets = false;
    int status = 0;
    int evidenceCount = 0;
    std::shared_ptr<quarn::detail::RecordBlock> block;
    // The live records in working-graph order (the scratch's list, when there is one).
    std::vector<QNL_relevanceNode*>& records;
    // Handle -> record position in the block, -1 for free slots; 32-bit entries.
    std::vector<std::int32_t>& recordOfHandle;
};

// A reduction kept for the updates after it that change only evidence values. Which records
// there are, how they link and which are observed depends on the structure, the targets and
// the observed set (the key), and on what the deterministic pass finds; the tables and the
// certainties it writes depend on the observed outcomes too. A kept reduction notes how each
// table was derived and derives it again from the new outcomes with the same arithmetic, so
// its components read exactly as those of a new reduction, without building anything. Only
// a reduction whose deterministic pass found nothing is kept, and it serves only while the
// pass would find nothing at the new outcomes either. Nodes, values and tables are looked up
// by handle each time, so it serves the network's nodes rebuilt with the same structure too.
class QNL_keptReduction {
public:
    QNL_keptReduction();
    QNL_keptReduction(const QNL_keptReduction&) = delete;
    QNL_keptReduction& operator=(const QNL_keptReduction&) = delete;
    ~QNL_keptReduction();

    // What the reduction depends on besides evidence values and table cells, one byte per
    // node slot; false for a state whose reductions are never kept (noisy-MAX decomposition
    // of an observed node, nodes cut from their parents by the marker flag).
    static bool ReadKey(const QNL_network& network, std::vector<unsigned char>& key);
    // Reduces the network as QNL_relevance::Reduce(network, true, true, ...) does, noting how.
    int Make(QNL_network& network);
    // Whether the reduction can serve again: its deterministic pass found nothing.
    bool IsKeepable() const;
    // Derives the components again from the current evidence of the network it was made on:
    // 1, 0 when the deterministic pass would now find something or the network is another
    // (it must be reduced afresh; the kept reduction stays as it was meant), or the error
    // code a new reduction would give.
    int Replay(QNL_network& network);
    // Drops the components and what was noted, keeping their storage for the next Make.
    void Reset();
    QNL_componentList& GetComponents() { return components; }
    // Bytes held, this object's included: every list at its capacity, with the allocator's
    // overhead.
    std::uint64_t GetSize() const;

private:
    QNL_componentList components;
    std::unique_ptr<quarn::detail::ReductionLog> log;
};
