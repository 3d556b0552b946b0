#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/int_array.h"
#include "model/node_info.h"
#include "model/object.h"
#include "model/parameter_blocks.h"

class QNL_node;
class QNL_stringArray;
class QNL_submodelHandler;
class QNL_caseLibrary;
class QNL_case;
class QNL_textParser;
class QNL_valueOfInfo;
class QNL_temporalNetwork;

namespace quarn::detail {
class JoinTreeCache;
class ScaledValue;

// What the evidence notifications have done since the network was made: nodes met by the
// invalidation walks, nodes expanded while looking for evidence below a node, nodes processed
// while propagating implied evidence, findings propagated again by a derivation of all implied
// evidence, list entries read while collecting the observed nodes, and while listing the
// values a walk could take. Only counted, never acted on: it shows what an edit costs.
struct EvidenceWork {
    std::uint64_t walked = 0;
    std::uint64_t searched = 0;
    std::uint64_t propagated = 0;
    std::uint64_t rederived = 0;
    std::uint64_t collected = 0;
    std::uint64_t listed = 0;
};
} // namespace quarn::detail

// Who made a model and when, as the files give these texts.
struct QNL_creationRecord {
    std::string creator;
    std::string created;
    std::string modified;
};

// One slot of a network's node table: the node and its four relation lists. Ordinary arcs
// form arc layer 0, cost arcs layer 1.
class QNL_nodeEntry : public QNL_object {
public:
    QNL_nodeEntry() = default;
    QNL_nodeEntry(const QNL_nodeEntry&) = delete;
    QNL_nodeEntry& operator=(const QNL_nodeEntry&) = delete;
    ~QNL_nodeEntry() override;

    int CleanUp(int deep = 1) override;

    QNL_node* node = nullptr;
    QNL_intArray parents;
    QNL_intArray children;
    QNL_intArray costParents;
    QNL_intArray costChildren;
    int temporalType = 0;
    int flags = 0;
    int height = 0;
};

// The facade of a model: a table of node slots addressed by stable handles, the arcs between
// them, and beside the table the user properties, documentation, submodels, cases and the
// evaluation settings. Definitions and values report their changes here; the network keeps
// values, cases and submodels in step with them.
class QNL_network : public QNL_object {
public:
    // Slot flags.
    static constexpr int FLAG_TARGET = 1;
    static constexpr int FLAG_VISITED = 2;
    static constexpr int FLAG_ANCESTOR = 4;
    static constexpr int FLAG_DESCENDANT = 8;
    static constexpr int FLAG_ORDERED = 16;
    static constexpr int FLAG_ON_PATH = 32;
    static constexpr int FLAG_ISOLATED = 64;
    static constexpr int FLAG_REACHED_UP = 128;
    static constexpr int FLAG_REACHED_DOWN = 256;
    static constexpr int FLAG_CLEARING = 512;
    // Set, within an evidence batch, on the nodes whose finding it set or cleared and on the
    // nodes whose state it changed otherwise.
    static constexpr int FLAG_BATCH_START = 1024;
    static constexpr int FLAG_BATCH_CHANGED = 2048;

    // Notification control bits.
    static constexpr int NOTIFY_ON = 1;
    static constexpr int NOTIFY_PROPAGATE_EVIDENCE = 2;
    static constexpr int NOTIFY_RESERVED = 4;
    static constexpr int NOTIFY_AUTO_UPDATE = 8;
    // Notification mask bits (the kinds of change acted on).
    static constexpr int CHANGE_ARC_ADDED = 1;
    static constexpr int CHANGE_ARC_REMOVED = 2;
    static constexpr int CHANGE_EVIDENCE_SET = 4;
    static constexpr int CHANGE_EVIDENCE_CLEARED = 8;
    static constexpr int CHANGE_OUTCOMES = 64;
    static constexpr int CHANGE_VALUES = 128;
    static constexpr int CHANGE_SHAPE = 256;
    // Reading mode bits, set only while a file is read.
    static constexpr int READING = 1;
    static constexpr int READING_NO_CYCLE_TEST = 2;
    static constexpr int READING_DUPLICATE_IDS = 4;

    static constexpr int SUBMODEL_FLAG = 0x4000;
    // The most cells an arc may give a child's table: far below what memory could hold, so
    // that a small file naming many parents is refused before anything large is built.
    static constexpr std::int64_t MAX_TABLE_CELLS = std::int64_t{1} << 28;

    QNL_network();
    QNL_network(const QNL_network& source);
    QNL_network& operator=(const QNL_network&) = delete;
    ~QNL_network() override;

    // Allocation, emptying and the checks every model object has.
    int Init(int size = 50, int growth = 50);
    int CleanUp(int deep = 1) override;
    int CheckConsistency(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;
    int Copy(const QNL_network& source, bool skipTemporal = false);
    int CopyNodes(const QNL_network& source);

    // Slot table and handles.
    bool IsValidNodeHandle(int handle) const {
        return handle >= 0 && handle < tableSize && table[handle].node != nullptr;
    }
    QNL_node* GetNode(int handle) const {
        return IsValidNodeHandle(handle) ? table[handle].node : nullptr;
    }
    int GetFirstNode() const;
    int GetNextNode(int handle) const;
    int GetLastNode() const;
    int FindNode(const char* id) const;
    int IsIdUsed(const char* id, int except = -1) const;
    int GetAllNodes(QNL_intArray& out) const;
    int GetAllNodeIds(QNL_stringArray& out) const;
    int GetNumberOfNodes() const { return nodeCount; }
    int GetTableSize() const { return tableSize; }
    int GetNumberOfTargets() const { return targetCount; }
    int GetNumberOfSamples() const { return numberOfSamples; }
    // Storage for `count` more nodes at once, for callers that know how many they add. The
    // table still grows by its growth step as nodes come; only the storage is made ahead.
    int ReserveSlots(int count);
    // The slots walked over, moved or told since construction: by handle iteration, flag
    // sweeps, table growth and renames. Work counts for tests; nothing reads it otherwise.
    std::uint64_t GetSlotVisits() const { return slotVisits; }
    int SetNumberOfSamples(int samples);

    // Arcs, read side. An invalid handle gives an empty list.
    QNL_intArray& GetParents(int node, int layer = 0);
    QNL_intArray& GetChildren(int node, int layer = 0);
    const QNL_intArray& GetParents(int node, int layer = 0) const;
    const QNL_intArray& GetChildren(int node, int layer = 0) const;
    int NumberOfParents(int node, int layer = 0) const;
    int NumberOfChildren(int node, int layer = 0) const;
    int IsRelated(int node, int other) const;
    int GetDiscreteParents(int node, QNL_intArray& out, int layer = 0) const;

    // Targets and marks.
    int SetTarget(int node);
    int UnSetTarget(int node);
    int IsTarget(int node) const;
    int ClearAllTargets();
    void SetFlagOnAllNodes(int bits);
    void ClearFlagOnAllNodes(int bits);
    int GetNodeFlags(int node) const;
    void SetNodeFlags(int node, int bits);
    void ClearNodeFlags(int node, int bits);
    int GetTemporalType(int node) const;
    int GetHeight(int node) const;

    // Graph queries.
    QNL_intArray& GetOrderedNodes();
    int OrderNodes(QNL_intArray& nodes);
    int OrderNodesByCostArcs(QNL_intArray& nodes);
    int GetDecisionOrderedNodes(QNL_intArray& out);
    int OrderNodesByDecisions(QNL_intArray& nodes);
    int GetAncestors(int node, QNL_intArray& out);
    int GetDescendants(int node, QNL_intArray& out);
    int GetCostDescendants(int node, QNL_intArray& out);
    int IsPolytree();
    int ComputeHeights();
    int GetEvidenceNodes(QNL_intArray& out);
    int InvalidateValues();
    int ClearAllEvidence();

    // The header of the main submodel: the network's identifier, name and comment.
    QNL_header* GetHeader() const;
    QNL_userProperties& GetUserProperties() { return userProperties; }
    QNL_documentation& GetDocumentation() { return documentation; }
    QNL_submodelHandler& GetSubmodelHandler() const { return *submodels; }
    QNL_caseLibrary& GetCaseLibrary() const { return *cases; }

    // The stored cases of evidence (the case library).
    QNL_case* AddCase(const char* name);
    QNL_case* GetCase(int index) const;
    int GetNumberOfCases() const;
    void EnableCaseUpdates(bool enable);
    bool CaseUpdatesEnabled() const;

    // Structure editing.
    int AddNode(int definitionType, const char* id);
    int GenerateNodeId(std::string& out) const;
    // The same, trying numbers from `from` on when that is past the node count (the caller
    // knows those below to be taken) and leaving `from` at the number given: a caller that
    // makes many identifiers, and lowers `from` to the number of any automatic identifier it
    // frees (AutomaticIdNumber), tries each number about once.
    int GenerateNodeId(std::string& out, long long& from) const;
    // The number of an automatic identifier ("Node" and the number as GenerateNodeId writes
    // it), -1 for any other text.
    static long long AutomaticIdNumber(const char* id);
    int DeleteNode(int node);
    int DeleteAllNodes();
    int AddArc(int parent, int child, int layer = 0);
    int RemoveArc(int parent, int child, int layer = 0);
    int RemoveAllParents(int node);
    bool ChangeNodeId(int node, const char* oldId, const char* newId);
    int ReorderParents(int node, const QNL_intArray& order);
    int HasTestGroupCost(int node) const;

    // Said by a set of simultaneous equations that names the identifier as a member, so that
    // renaming the member reaches the set without a walk over the table.
    void NoteSetMember(const char* id, int set);

    // Notifications from definitions, values and nodes.
    int NotifyChange(int node, int kind);
    int NodeTypeChanged(int node, int previousType);
    int OutcomeInserted(int node, int index);
    int OutcomeRemoved(int node, int index);
    int OutcomesReordered(int node, const QNL_intArray& order);
    int NotifyEvidenceSet(int node);
    int NotifyEvidenceCleared(int node);
    // Around a finding replaced by another: a refused new finding changes nothing, so the
    // implied evidence held before the old finding was withdrawn is held again, and what its
    // return changes is invalidated. Pairs nest; only the outermost counts.
    void HoldImpliedEvidence();
    void ReleaseImpliedEvidence(bool restore);
    // With `childTables`, the edit also rewrote the tables of the node's children (an outcome
    // change): they are walked from even when the node is observed. Without `tablesEdited`, no
    // table changed since the last notice (a finding cleared, an arc about to go).
    int InvalidateFrom(int node, bool childTables = false, bool tablesEdited = true);
    int PropagateEvidence(int node);
    int ClearAllPropagatedEvidence();
    // Called by a value of the node whenever its flags change. Keeps the short lists of nodes
    // that may hold evidence (which the notifications read instead of every node), whose value
    // may be computed or valid (what an edit may have to invalidate), and tells whether the
    // implied evidence is still what the last derivation made.
    void NoteValueFlags(int node, unsigned before, unsigned after);
    // False only when no value without user evidence is valid or holds propagated evidence,
    // so an edit has nothing to invalidate (as while a network is read or built). Prunes the
    // list as it goes, which keeps the test cheap.
    bool HoldsComputedValues() const;
    // False only when no value an invalidation walk can reach is valid: none without evidence
    // at a node with arcs, and no decision's. The walk after an edit is then skipped.
    bool HoldsWalkableValues() const;
    const quarn::detail::EvidenceWork& GetEvidenceWork() const { return evidenceWork; }
    // Every node whose value holds a finding or implied evidence, and maybe others, in no
    // order: what a check of the evidence reads instead of every node.
    const std::vector<int>& ObservedCandidates() const { return observedCandidates; }
    // Findings set or cleared between these calls (nested pairs count as one) are followed by
    // one invalidation walk from all of them at the closing call, instead of one walk each;
    // the checks, codes, messages and implied evidence of every edit stay what they are when
    // it is made alone. Networks with decisions or utilities, and automatic updates, walk at
    // once as without a batch. The closing call returns 0.
    void BeginEvidenceBatch();
    int EndEvidenceBatch();
    // Findings set or cleared outside a batch are walked from as in a batch that closes when
    // anything may read or depend on the validity of values: a value's flags asked for (see
    // QNL_nodeValue::IsValueValid), an unobserved value made valid, an update or evaluation, a
    // copy, a structure or table edit, another notice setting. So a case entered finding by
    // finding costs one walk, not one per finding, and a value read between findings answers
    // as after a walk per finding. Findings walked from at once can take a value walks one by
    // one kept (a later finding opens a collider to an earlier one's walk), never the reverse.
    void SettleEvidenceWalk() {
        if (recordOpen && batchDepth == 0 && noticeDepth == 0) WalkFromBatch();
    }
    // Said by the influence-diagram solvers when they have written values: those hang on the
    // whole diagram, so the first notified edit after them takes every value but the findings'.
    void SetPolicyValuesWritten(bool written) { policyValuesWritten = written; }

    // Belief updating and the evaluation entry points. UpdateBeliefs picks the path from the
    // node types (the first node in slot order that is a decision or utility, continuous,
    // equation or plate node decides) and otherwise runs the Bayesian algorithm of the current
    // identifier; 0 or the path's code. CalcPropEvidence gives the probability of the user
    // evidence by clustering (falling back to the chain rule) or by the chain rule alone; the
    // targets, and with the chain rule the evidence, are as before on every exit.
    int UpdateBeliefs();
    int CallBNAlgorithm();
    bool CalcPropEvidence(double& result, bool chainRule = false);
    // The value of information the object asks for, computed on a copy of this network.
    int Update(QNL_valueOfInfo& voi);
    // The most probable joint outcomes of the MAP nodes given the evidence pairs, by annealing
    // on a copy of this network with its tuning: the outcomes in the order of the MAP nodes,
    // their probability given the evidence and the probability of the evidence. Seed 0 takes
    // a seed from the time and the clock. In an influence diagram, the decisions above the MAP
    // and evidence nodes must be set (be among the evidence pairs); -2 otherwise.
    int AnnealedMAP(const std::vector<std::pair<int, int>>& evidence,
                    const std::vector<int>& mapNodes, std::vector<int>& outcomes,
                    double& probability, double& probabilityOfEvidence, int seed);

    // Counts the changes a join tree kept between updates depends on: nodes, arcs, parent
    // order, node types, outcomes, table shapes and values. Each one also drops the kept trees.
    std::uint64_t GetStructureVersion() const { return structureVersion; }
    // A table was given values without checks; they are checked before the next update.
    void TablesEdited() {
        definitionsChecked = false;
        ++uncheckedTableEdits;
    }
    // The join trees of the last clustering update, kept for the next one; made on first use.
    quarn::detail::JoinTreeCache& GetJoinTreeCache();

    // Algorithm identifiers: Bayesian 0..12, influence diagram 0..1, hybrid 13..16. A value
    // out of range is ignored without a message; the setters return the value given.
    int SetDefaultBNAlgorithm(int id);
    int GetDefaultBNAlgorithm() const { return bayesianAlgorithm; }
    int SetDefaultIDAlgorithm(int id);
    int GetDefaultIDAlgorithm() const { return influenceDiagramAlgorithm; }
    int SetDefaultHBNAlgorithm(int id);
    int GetDefaultHBNAlgorithm() const { return hybridAlgorithm; }
    // Whether the relevance reduction splits noisy-MAX nodes observed at their lowest outcome
    // into one record per parent; off by default, and the user property
    // "QNL_NOISYMAXRELEVANCE" decides when present.
    bool GetNoisyMaxRelevance() const { return noisyMaxRelevance; }
    void SetNoisyMaxRelevance(bool on) { noisyMaxRelevance = on; }

    // Settings.
    int GetNotificationControl() const { return notificationControl; }
    void SetNotificationControl(int bits) {
        SettleEvidenceWalk();
        notificationControl = bits;
    }
    int GetNotificationMask() const { return notificationMask; }
    void SetNotificationMask(int bits) {
        SettleEvidenceWalk();
        notificationMask = bits;
    }
    int GetReadingMode() const { return readingMode; }
    void SetReadingMode(int bits) { readingMode = bits; }
    int GetNodeDisplayMode() const { return nodeDisplayMode; }
    void SetNodeDisplayMode(int mode) { nodeDisplayMode = mode; }

    // Kept for the file formats. The network's fault name format is one of the extra
    // definition's formats 0 to 3; "inherit" (4) belongs to nodes only and is refused (-2).
    QNL_creationRecord& GetCreation() { return creation; }
    const QNL_creationRecord& GetCreation() const { return creation; }
    int GetFaultNameFormat() const { return faultNameFormat; }
    int SetFaultNameFormat(int format);

    // Parameter blocks of the algorithms. A block that breaks one of its rules is refused
    // with -2 (no message) and the network's copy stays as it was.
    const QNL_episParams& GetEpisParams() const { return episParams; }
    int SetEpisParams(const QNL_episParams& params);
    const QNL_annealedMapTuning& GetAnnealedMapTuning() const { return annealedMapTuning; }
    int SetAnnealedMapTuning(const QNL_annealedMapTuning& tuning);

    // Model files. A format code of 0 takes the code of the file name's extension; flags
    // that are not 0 are handed to the format object.
    // The format object for the code, bound to this network; a code of 0 is replaced by the
    // extension's code. Null after logging -2 "Unknown File Format" (or -42).
    std::unique_ptr<QNL_textParser> CreateFormat(const char* fileName, int& code);
    // Empties the network, then reads the file with notifications masked off and the reading
    // mode set; mask and mode are restored on every exit. A failed read returns its code and
    // leaves what was read so far.
    int ReadFile(const char* fileName, int code = 0, int flags = 0);
    // KI files are read only: code 7, or code 0 with a ".dxp" name, is refused before any
    // file is touched.
    int WriteFile(const char* fileName, int code = 0, int flags = 0);
    // Removes nodes, submodels, cases, header, user properties and documentation; keeps the
    // slot table, the algorithm ids and the parameter blocks.
    int ClearForReading();

    // Dynamic networks. The temporal extension is made by the first operation that needs it;
    // temporal types are 0 normal, 1 anchor, 2 terminal, 3 plate.
    QNL_temporalNetwork& GetTemporalNetwork();
    QNL_temporalNetwork* FindTemporalNetwork() const { return temporal.get(); }
    int GetNumberOfSlices() const;
    int SetNumberOfSlices(int count);
    int SetTemporalType(int node, int type);
    int AddTemporalArc(int parent, int child, int order);
    int GetTemporalOrders(int node, QNL_intArray& out);
    int GetTemporalParents(int node, int order, QNL_intArray& out);
    // Evidence of a plate node in one slice: -2 for a node outside the plate or an outcome
    // out of range, -4 for a slice outside 0..slices-1. Slice 0 is the node's own evidence.
    // Get gives the outcome or -1.
    int SetSliceEvidence(int node, int slice, int outcome);
    int GetSliceEvidence(int node, int slice) const;
    int ClearSliceEvidence(int node, int slice);
    // Whether the parent's finding fixes its dimension of the child's table. A terminal node's
    // table takes a plate parent from the last slice, and a plate node's finding is that of
    // slice 0: implying through it would join two slices.
    bool FindingFeedsTable(int parent, int child) const {
        return table[child].temporalType != 2 || table[parent].temporalType != 3;
    }
    // Every value, observed or not (but those of user findings with `keepFindings`), loses its
    // valid flag: in a dynamic network a plate node's value holds every slice and any edit may
    // change what the unrolling gives; a solved diagram's findings keep their indicators.
    void InvalidateEveryValue(bool keepFindings = false);
    // Set on the private network that holds a dynamic network's temporal definitions: a
    // change one of them reports there is a change of the owner.
    void SetDefinitionsOwner(QNL_network* owner) { definitionsOwner = owner; }

private:
    struct GrowthResult;
    void IndexAdd(const char* id, int handle);
    void IndexRemove(const char* id, int handle);
    void IndexRename(const char* oldId, const char* newId, int handle);
    void RebuildIdIndex();
    int FindFreeSlot();
    void SlotFreed(int slot);
    void ForgetFreedSlots();
    int GrowTable();
    // Moves the slots into storage of `slots` entries; the table size stays.
    int Reallocate(long long slots);
    // Tells the definitions that name the node by identifier that it changes.
    void RenameInDefinitions(int node, const char* oldId, const char* newId);
    void ReleaseTable();
    int CopySlots(const QNL_network& source);
    void CopySettings(const QNL_network& source);
    bool CreatesCycle(int parent, int child);
    int DefinitionType(int node) const;
    int AddOrdinaryArc(int parent, int child);
    int AddCostArc(int parent, int child);
    int RemoveOrdinaryArc(int parent, int child, bool force);
    int RemoveCostArc(int parent, int child, bool force);
    int AfterStructureChange(int node, int kind);
    void RemapEvidence(int node, int removed, int inserted, const QNL_intArray* order);
    void MarkRelatives(int node, int flag, bool upward, bool costLayer);
    void NoteObserved(int node);
    void NoteComputed(int node);
    // Starts the questions of one walk: whether a node lies above a node holding user evidence
    // or, when given, above one of the nodes in `extra`. The answers are searched below the
    // nodes the walk asks about and kept for the rest of the walk.
    void BeginAncestorQueries(const std::vector<int>* extra = nullptr);
    bool IsEvidenceAncestor(int node);
    bool HasDecisionOrUtility();
    const std::vector<int>& SlotTypes();
    // A node took its type (added, or its type changed) or went: the slot types follow.
    void NodeTyped(int node);
    void NodeTypeGone(int node);
    int ClearEvidenceTogether();
    // The observed nodes in slot order (in no order without `sorted`); with realOnly, only
    // those holding user evidence.
    void CollectObserved(std::vector<int>& out, bool realOnly, bool sorted = true);
    // Derives all implied evidence afresh from the user evidence, recording what the
    // implications involved; with `inBatch`, as the open batch notes its changes. The
    // observed nodes must be listed in evidenceScratch.cleared.
    void DeriveImplied(bool inBatch);
    // Derives the implied evidence afresh; evidenceScratch.changed then holds each (node,
    // outcome) that went, came or moved.
    void RederiveImplied(bool inBatch);
    // Whether the implied evidence is still what a derivation from the findings now held
    // would give, after a finding was cleared at `node` (`cleared`) or, with `tablesEdited`,
    // after the one structure change since the last notice edited the tables of the node and
    // of its children.
    bool DerivationStands(int node, bool cleared, bool tablesEdited);
    // Whether the derivation is what one now would give, no change left to check.
    bool DerivationCurrent() const;
    // Whether a derivation might meet the tables of the node and of its children otherwise
    // than the last one did, given the evidence held now.
    bool TablesMeetDerivation(int node);
    // Whether a finding just entered at the node leaves the last derivation what one now
    // would give (it then implies nothing).
    bool FindingKeepsDerivation(int node);
    // A structure change that no derivation meets, or whose notice checks it at the node
    // `owed`: a current derivation stays current.
    void StructureChangedBesideDerivation(int owed);
    int InvalidateAround(int node, bool childTables, bool tablesEdited, bool cleared);
    // Whether a derivation would meet an implication (or a parent left with at most one
    // possible outcome) at the node's table, given the evidence held now.
    bool TableImplies(int node);
    template <typename Visit> bool ReadCertainOutcomes(int node, Visit visit, int observed = -1);
    template <typename Visit>
    bool ReadNarrowedParents(int node, int e, Visit visit, bool checkOwn = false);
    // Sets each implied finding again, as a derivation that gives the same ones does.
    void RenewImplied();
    // (node, outcome) of every implied finding, sorted, from the list of nodes that may hold
    // one.
    void CurrentImplied(std::vector<std::pair<int, int>>& out);
    // The walks after an edit at the node that changed the implied evidence of the nodes in
    // evidenceScratch.changed.
    void WalkAfterEdit(int node, bool childTables);
    void ResetObservedList();
    void Mark(int node, int bits);
    void ClearWalkMarks();
    bool Walk(int node, bool downward, int target = -1);
    bool WalkReaches(int from, int to);
    // Lists the nodes whose value a walk could take, unless there are more than `limit`.
    bool FewWalkableValues(std::vector<int>& out, std::size_t limit) const;
    static constexpr std::size_t kFewValidValues = 8;
    // While a batch's walk counts them, the values it can still take (-1: not counting).
    std::int64_t walkableLeft = -1;
    // Whether a finding's invalidation walk waits for the end of the open batch.
    bool DefersWalks();
    // What an open batch knows of a node whose state it changed: whether the node is
    // unobserved and since how many edit walks (walks per edit that did not run), since when
    // it holds user evidence (-1: it does not), and whether a walk per edit would have met it
    // unobserved (open), gone on to its children (down) or opened colliders above it (witness).
    struct BatchMark {
        int since = 0;
        int evidenceSince = -1;
        bool unobserved = true;
        bool open = false;
        bool down = false;
        bool witness = false;
    };
    // The node's mark, made when the batch first meets the node from `flags`, its flags when
    // the record opened (BatchTrack: as they are now, unchanged since).
    BatchMark& BatchTrack(int node);
    BatchMark& BatchTrackFrom(int node, unsigned flags);
    void BatchUnobserved(int node);
    void BatchObserved(int node, bool real);
    void NoteBatchStart(int node);
    void OpenBatchRecord();
    // The walk the open batch owes, from all its starts at once.
    void WalkFromBatch();
    // With `collected`, evidenceScratch.cleared already lists the observed nodes.
    void RepropagateAll(bool inBatch, bool collected = false);
    // With `collected`, from the nodes CollectObserved last listed in evidenceScratch.cleared
    // (which RepropagateAll can then take as collected).
    void ImpliedEvidence(std::vector<std::pair<int, int>>& out, bool collected = false);
    void ClearPropagated(bool inBatch, bool collected = false);
    void InvalidateDecisions();
    void DropPolicyValues();
    // The node may be the network's first decision or utility node.
    void DropValuesIfDiagramBegins(int node);
    // Values whose tables are indexed by the node's outcomes; the invalidation walk need not
    // reach them (an influence diagram indexes by nodes that are neither ancestors nor
    // descendants).
    void InvalidateIndexedBy(int node);
    int PropagateFrom(int node);
    // Whether every cell of the outcome's slice of the node's table, at the outcomes its
    // observed parents hold, is 0.
    bool OutcomeImpossible(int node, int outcome);
    // False only when the node's table has no cell of 0 and two outcomes or more: nothing is
    // then certain, impossible or narrowed by it, whatever the evidence (the propagation need
    // not read it). A table is read again only when asked after a change that may touch it.
    bool TableHasZeros(int node);
    // -26 (as ImpliedOutcomeConflict) naming the first observed child whose outcome the
    // node's evidence leaves impossible; 0 when there is none.
    int ChildConflict(int node);
    int ImpliedOutcomeConflict(int implied, int from);
    void OrderByParents(QNL_intArray& order, int layer, const QNL_intArray* only);
    int UpdatePath() const;
    int UpdateInfluenceDiagram();
    int UpdateHybrid();
    int UpdateEquations();
    bool PropEvidenceByClustering(double& result);
    // The same, however small: false when no tree can be had.
    bool PropEvidenceByClustering(quarn::detail::ScaledValue& result);
    bool PropEvidenceByChainRule(double& result);
    void StructureChanged();
    int NextOccupied(int from) const;
    // -42 with a message naming the child when the arc would grow its table past the cap.
    int CheckTableGrowth(int parent, int child) const;
    // Invalidation that must see an arc before it goes: what depended on the child's table.
    void InvalidateBeforeArcRemoval(int child);
    // After a notified change: in a network with a plate node every value goes (the walk
    // follows the template graph, not the slices).
    void InvalidateIfDynamic();
    void TemporalDefinitionChanged(int kind);
    // -568 naming the first node whose definition can't be evaluated.
    int CheckDefinitionsUsable();
    int Dispatch();

    QNL_userProperties userProperties;
    QNL_documentation documentation;
    QNL_submodelHandler* submodels = nullptr;
    // `capacity` entries are allocated; the first `tableSize` of them are the table, the rest
    // stay empty until growth takes them, so storage grows geometrically while the table
    // grows by its step.
    QNL_nodeEntry* table = nullptr;
    int tableSize = 0;
    int capacity = 0;
    // No slot below firstFreeFrom is free but those in freedBelow (a heap, least first; it may
    // still hold slots taken since).
    int firstFreeFrom = 0;
    std::vector<int> freedBelow;
    mutable std::uint64_t slotVisits = 0;
    int nodeCount = 0;
    int growth = 50;
    int targetCount = 0;
    int numberOfSamples = 1000;
    int bayesianAlgorithm = 0; // QNL_ALG_BN_CLUSTERING
    bool noisyMaxRelevance = false;
    int influenceDiagramAlgorithm = 0; // QNL_ALG_ID_COOPER
    int hybridAlgorithm = 14;          // QNL_ALG_HBN_LIKELIHOOD_WEIGHTING
    QNL_intArray orderedNodes;
    int notificationControl = NOTIFY_ON | NOTIFY_PROPAGATE_EVIDENCE | NOTIFY_RESERVED;
    int notificationMask = 463;
    int readingMode = 0;
    int nodeDisplayMode = 3;
    int furtherSetting = 5;
    unsigned char furtherFlag = 0;
    QNL_episParams episParams;
    QNL_creationRecord creation;
    int faultNameFormat = 0;
    QNL_annealedMapTuning annealedMapTuning;
    QNL_caseLibrary* cases = nullptr;
    // Set while a walk of the value invalidation met a utility node.
    bool metUtility = false;
    // Values of an influence-diagram solve may be valid (SetPolicyValuesWritten).
    bool policyValuesWritten = false;
    // Handles by identifier, so lookups and uniqueness checks don't scan the table. Several
    // handles share an identifier only while a file is read with duplicates accepted: one is
    // kept in the entry, the others beside it, so a plain entry allocates nothing of its own.
    struct IdHandles {
        int first;
        std::vector<int> more;
    };
    std::unordered_map<std::string, IdHandles> idIndex;
    // The sets of simultaneous equations that may name an identifier as a member (a superset:
    // a set that dropped the member, or a slot that changed hands, is checked when read).
    std::unordered_map<std::string, std::vector<int>> setsByMember;
    bool setsIndexed = true;
    // Scratch of the cycle test: a slot is marked when its entry equals the stamp.
    struct CycleScratch {
        std::vector<std::uint32_t> seen;
        std::vector<int> stack;
        std::uint32_t stamp = 0;
    } cycleScratch;
    // Nodes whose value may hold evidence or propagated evidence (a superset, pruned when
    // read), and a flag per slot saying whether it is listed.
    std::vector<int> observedCandidates;
    std::vector<char> isObservedCandidate;
    // The same for the values that may, without user evidence, be valid or hold propagated
    // evidence (NoteComputed).
    mutable std::vector<int> computedCandidates;
    mutable std::vector<char> isComputedCandidate;
    // The same for the values that may hold propagated evidence.
    std::vector<int> impliedCandidates;
    std::vector<char> isImpliedCandidate;
    // The same for the values an invalidation walk can take (HoldsWalkableValues), and those
    // of nodes without arcs, set aside as of structure version asideVersion.
    mutable std::vector<int> validCandidates;
    mutable std::vector<int> validAside;
    mutable std::vector<char> isValidCandidate;
    mutable std::uint64_t asideVersion = 0;
    // The implied evidence held aside while a finding is replaced, how deep such replacements
    // nest, and whether findings were in conflict then.
    std::vector<std::pair<int, int>> heldImplied;
    int holdDepth = 0;
    bool heldConflict = false;
    // Nodes that carry marks of the evidence walks, so the next walk clears only those;
    // marksEverywhere says marks may stand on any slot (after a bulk flag change).
    std::vector<int> walkTouched;
    bool marksEverywhere = true;
    // The answers of the current walk's ancestor questions by slot (0 not asked, 1 above
    // evidence, 2 not, 3 being searched), the slots answered, the extra nodes that count as
    // evidence, and the search's stack of (node, next child).
    std::vector<char> ancestorAnswer;
    std::vector<int> ancestorAnswered;
    std::vector<char> ancestorExtra;
    std::vector<int> ancestorExtraList;
    std::vector<std::pair<int, int>> ancestorStack;
    // The open evidence batch: its depth, whether its record is open (also with depth 0, while
    // findings made outside a batch wait for their walk), the nodes whose finding changed in
    // it, and those flagged FLAG_BATCH_CHANGED (the starts among them). A node is marked when
    // the batch first meets it, from its flags as they were when the record opened.
    int batchDepth = 0;
    bool recordOpen = false;
    // Evidence notices under way: the walk never settles inside one.
    int noticeDepth = 0;
    std::vector<int> batchStarts;
    std::vector<int> batchChanged;
    std::vector<BatchMark> batchMarks;
    // Scratch of WalkFromBatch.
    std::vector<int> batchWalkStarts, batchWitnesses;
    // The last derivation of implied evidence from all findings: whether the implied evidence
    // is still what it derived (no evidence changed since unless checked, the same structure
    // version and propagation setting), the nodes its implications involved, and whether one
    // conflicted. A finding whose loss or coming is to be told by the notice that follows it
    // (-1: none) keeps the derivation known until then, and so does an outcome edit at
    // `owed`, whose notice checks the node's table and its children's.
    struct Derivation {
        bool known = false;
        bool recording = false;
        bool conflict = false;
        int pendingLoss = -1;
        int pendingGain = -1;
        int owed = -1;
        std::uint64_t version = 0;
        int control = 0;
        std::vector<char> involved;
        std::vector<int> list;
        bool Involves(int node) const {
            return node >= 0 && static_cast<std::size_t>(node) < involved.size() &&
                   involved[static_cast<std::size_t>(node)] != 0;
        }
    } derivation;
    // Whether the last derivation of implied evidence from all findings (or a finding's own
    // propagation since) met a conflict. It then stopped early, so what it implied depends on
    // the order of the findings: clearing or changing one can move implied evidence to another
    // outcome, which a batch's one walk does not retrace.
    bool conflictHeld = false;
    // Scratch of the invalidation walk and of the propagation of implied evidence.
    std::vector<std::pair<int, bool>> walkStack;
    // Scratch of the evidence notifications, kept so that a finding changed over and over (a
    // solver's scenarios) allocates nothing: one list per function, none of which calls
    // another that uses the same list.
    struct EvidenceScratch {
        std::vector<int> cleared, repropagated, implied, flagged, walkable;
        std::vector<std::pair<int, int>> before, after, changed;
    } evidenceScratch;
    struct PropagationScratch {
        std::vector<std::pair<int, int>> work;
        QNL_intArray fixed;
        std::vector<int> parentDimension;
        std::vector<char> unfilled;
    } propagation;
    int batchMoments = 0;
    // TableHasZeros by slot, and when each was read: the sum of the structure version and the
    // unchecked table edits then, plus one (0: never read).
    std::vector<char> tableZeros;
    std::vector<std::uint64_t> zerosRead;
    std::uint64_t uncheckedTableEdits = 0;
    // Set while implied evidence given in a batch is to be noted as a batch change.
    bool recordImplied = false;
    // The type of every slot and how many are decisions or utilities, kept while nodes come,
    // go and change type; they hold for typesNodes nodes.
    bool typesKnown = false;
    int typesNodes = 0;
    int diagramNodes = 0;
    std::vector<int> slotTypes;
    // Whether a node is in the plate, as of structure version plateVersion.
    bool plateKnown = false;
    bool plateHeld = false;
    std::uint64_t plateVersion = 0;
    mutable quarn::detail::EvidenceWork evidenceWork;
    std::uint64_t structureVersion = 0;
    // Every definition passed its check, and none has changed since.
    bool definitionsChecked = false;
    // Never copied: a copy starts without trees.
    std::unique_ptr<quarn::detail::JoinTreeCache> joinTreeCache;
    std::unique_ptr<QNL_temporalNetwork> temporal;
    // Not owned; null except on the private network of a temporal extension.
    QNL_network* definitionsOwner = nullptr;
};

// Keeps an evidence batch open on the network for its own lifetime.
class QNL_evidenceBatch {
public:
    explicit QNL_evidenceBatch(QNL_network& network) : network(network) {
        network.BeginEvidenceBatch();
    }
    QNL_evidenceBatch(const QNL_evidenceBatch&) = delete;
    QNL_evidenceBatch& operator=(const QNL_evidenceBatch&) = delete;
    ~QNL_evidenceBatch() { network.EndEvidenceBatch(); }

private:
    QNL_network& network;
};
