// Evidence notifications: value invalidation by a reachability walk that respects evidence,
// and propagation of evidence through deterministic relations.

#include "model/network.h"

#include "definitions/node_value.h"
#include "definitions/value_dependence.h"
#include "model/error_handler.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

QNL_nodeValue* ValueOf(const QNL_network& network, int handle) {
    QNL_node* node = network.GetNode(handle);
    return node != nullptr ? node->GetValue() : nullptr;
}

bool IsObserved(const QNL_network& network, int handle) {
    const QNL_nodeValue* value = ValueOf(network, handle);
    return value != nullptr && value->IsObserved();
}

bool HasRealEvidence(const QNL_network& network, int handle) {
    const QNL_nodeValue* value = ValueOf(network, handle);
    return value != nullptr && value->HasEvidence();
}

// The definition type by slot, 0 for a free slot or a handle out of range.
int TypeOf(const std::vector<int>& types, int handle) {
    return handle >= 0 && static_cast<std::size_t>(handle) < types.size()
               ? types[static_cast<std::size_t>(handle)]
               : 0;
}

const char* OutcomeId(const QNL_network& network, int handle, int outcome) {
    const QNL_nodeDefinition* definition = network.GetNode(handle)->GetDefinition();
    const QNL_idArray* ids = definition != nullptr ? definition->GetOutcomeIds() : nullptr;
    const char* id = ids != nullptr ? ids->GetString(outcome) : nullptr;
    return id != nullptr ? id : "";
}

const char* NodeId(const QNL_network& network, int handle) {
    const char* id = network.GetNode(handle)->GetId();
    return id != nullptr ? id : "";
}

// Coordinates that select, in the node's definition matrix, the cells consistent with the
// outcomes its observed parents hold: one entry per table dimension, -1 for "any", the
// node's own dimension last (left at -1). Null when the definition has no matrix.
QNL_Dmatrix* EvidenceSlice(QNL_network& network, const std::vector<int>& types, int node,
                           QNL_intArray& fixed, std::vector<int>* parentDimension) {
    QNL_nodeDefinition* definition = network.GetNode(node)->GetDefinition();
    QNL_Dmatrix* matrix = definition != nullptr ? definition->GetMatrix() : nullptr;
    if (matrix == nullptr || matrix->GetNumberOfDimensions() < 1) return nullptr;
    const QNL_intArray& parents = network.GetParents(node);
    if (fixed.SetSize(matrix->GetNumberOfDimensions()) != 0) return nullptr;
    fixed.FillWith(-1);
    if (parentDimension != nullptr) parentDimension->assign(parents.GetCount(), -1);
    const int type = TypeOf(types, node);
    int dim = 0;
    for (int i = 0; i < parents.GetCount(); ++i) {
        if (!QNL_IsTableParentOf(type, TypeOf(types, parents[i]))) continue;
        if (dim >= matrix->GetNumberOfDimensions() - 1) return nullptr;
        if (parentDimension != nullptr) (*parentDimension)[i] = dim;
        const QNL_nodeValue* value = ValueOf(network, parents[i]);
        if (value != nullptr && value->IsObserved() &&
            network.FindingFeedsTable(parents[i], node)) {
            const int outcome = value->GetEvidence();
            if (outcome >= 0 && outcome < matrix->GetSizeOfDimension(dim)) fixed[dim] = outcome;
        }
        ++dim;
    }
    return dim == matrix->GetNumberOfDimensions() - 1 ? matrix : nullptr;
}

// The first and the last cell of a slice (every free dimension at 0, at its last outcome) with
// the dimension `varied` at k: most slices that hold neither certain nor impossible outcomes
// show it at their ends, without a walk over them.
class SliceEnds {
public:
    SliceEnds(const QNL_Dmatrix& matrix, const QNL_intArray& fixed, int varied)
        : cells(matrix.GetItems().Items()), stride(matrix.GetMultiplier(varied)) {
        for (int d = 0; d < fixed.GetSize(); ++d) {
            if (d == varied) continue;
            const std::int64_t step = matrix.GetMultiplier(d);
            if (fixed[d] >= 0) {
                first += std::int64_t{fixed[d]} * step;
                last += std::int64_t{fixed[d]} * step;
            } else {
                last += std::int64_t{matrix.GetSizeOfDimension(d) - 1} * step;
            }
        }
    }
    double First(int k) const { return cells[first + k * stride]; }
    double Last(int k) const { return cells[last + k * stride]; }

private:
    const double* cells;
    std::int64_t stride;
    std::int64_t first = 0, last = 0;
};

// Whether two outcomes of the dimension are possible in the slice, as its ends show.
bool TwoPossible(const QNL_Dmatrix& matrix, const QNL_intArray& fixed, int dim) {
    if (matrix.GetSize() == 0 || matrix.GetSizeOfDimension(dim) < 2) return false;
    const SliceEnds ends(matrix, fixed, dim);
    int possible = 0;
    for (int k = 0; k < matrix.GetSizeOfDimension(dim) && possible < 2; ++k)
        if (ends.First(k) != 0.0 || ends.Last(k) != 0.0) ++possible;
    return possible == 2;
}

// The samplers hold the parents of an equation node of a hybrid network to what keeps the node
// within its range, unless the node is observed: its range is evidence about them.
bool RangeActsAsEvidence(const std::vector<int>& types, int node, const QNL_nodeValue* value) {
    return TypeOf(types, node) == QNL_TYPE_HEQUATION && value != nullptr && !value->HasEvidence();
}

// The (node, outcome) pairs in one of two sorted lists of implied findings and not the other:
// what went, came or moved.
void Differences(const std::vector<std::pair<int, int>>& a,
                 const std::vector<std::pair<int, int>>& b, std::vector<std::pair<int, int>>& out) {
    out.clear();
    std::set_symmetric_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
}

// Lengthens a list of slot types made for a smaller table with free slots (type 0); false
// when the table is smaller than the list.
bool FitToTable(std::vector<int>& types, int tableSize) {
    const std::size_t size = static_cast<std::size_t>(tableSize);
    if (types.size() > size) return false;
    types.resize(size, 0);
    return true;
}

// Counts an evidence notice under way for its lifetime.
class NoticeScope {
public:
    explicit NoticeScope(int& depth) : depth(depth) { ++depth; }
    NoticeScope(const NoticeScope&) = delete;
    NoticeScope& operator=(const NoticeScope&) = delete;
    ~NoticeScope() { --depth; }

private:
    int& depth;
};

// Adds the node to the list unless `listed` says it is there; `listed` grows with the table.
void ListOnce(std::vector<int>& list, std::vector<char>& listed, int node, int tableSize) {
    if (listed.size() < static_cast<std::size_t>(tableSize))
        listed.resize(static_cast<std::size_t>(tableSize), 0);
    if (listed[static_cast<std::size_t>(node)]) return;
    listed[static_cast<std::size_t>(node)] = 1;
    list.push_back(node);
}

} // namespace

void QNL_network::NoteValueFlags(int node, unsigned before, unsigned after) {
    constexpr unsigned observed = QNL_nodeValue::FLAG_EVIDENCE | QNL_nodeValue::FLAG_PROPAGATED;
    constexpr unsigned valid = QNL_nodeValue::FLAG_VALID;
    if ((after & observed) && !(before & observed)) NoteObserved(node);
    if ((after & QNL_nodeValue::FLAG_PROPAGATED) && !(before & QNL_nodeValue::FLAG_PROPAGATED) &&
        node >= 0 && node < tableSize)
        ListOnce(impliedCandidates, isImpliedCandidate, node, tableSize);
    if (quarn::detail::ValueFlags::Computed(after) && !quarn::detail::ValueFlags::Computed(before))
        NoteComputed(node);
    // Listed when it becomes valid, or valid and unobserved; what is not walkable leaves the
    // list when it is read.
    if ((after & valid) && (!(before & valid) || ((before & observed) && !(after & observed))) &&
        node >= 0 && node < tableSize)
        ListOnce(validCandidates, isValidCandidate, node, tableSize);
    if (recordOpen && ((before ^ after) & observed) && node >= 0 && node < tableSize)
        BatchTrackFrom(node, before);
    // Evidence that comes, goes or moves outside a derivation (restored quietly, taken over,
    // copied) leaves the implied evidence no longer what the last derivation made; a finding
    // cleared is judged by the notice that follows it.
    if (derivation.recording || !((before ^ after) & observed)) return;
    const bool findingGone = (before & QNL_nodeValue::FLAG_EVIDENCE) &&
                             !(after & QNL_nodeValue::FLAG_PROPAGATED) &&
                             !(after & QNL_nodeValue::FLAG_EVIDENCE);
    const bool findingCame = !(before & observed) && (after & QNL_nodeValue::FLAG_EVIDENCE);
    const bool unsettled = derivation.pendingLoss >= 0 || derivation.pendingGain >= 0;
    if (findingGone && derivation.known && !unsettled)
        derivation.pendingLoss = node;
    else if (findingCame && derivation.known && !unsettled)
        derivation.pendingGain = node;
    else
        derivation.known = false;
}

void QNL_network::NoteObserved(int node) {
    if (node >= 0 && node < tableSize)
        ListOnce(observedCandidates, isObservedCandidate, node, tableSize);
}

void QNL_network::NoteComputed(int node) {
    if (node >= 0 && node < tableSize)
        ListOnce(computedCandidates, isComputedCandidate, node, tableSize);
}

bool QNL_network::HoldsComputedValues() const {
    // Entries whose value lost what made them listed leave from the back; a value that
    // regains it is listed again.
    while (!computedCandidates.empty()) {
        const int node = computedCandidates.back();
        const QNL_nodeValue* value = ValueOf(*this, node);
        if (value != nullptr && quarn::detail::ValueFlags::Computed(value->GetHeldFlags()))
            return true;
        computedCandidates.pop_back();
        if (node >= 0 && node < tableSize) isComputedCandidate[static_cast<std::size_t>(node)] = 0;
    }
    return false;
}

// A node without arcs is reached by no walk (only a start, which the walks' callers handle
// themselves): its valid value is set aside until the structure changes, unless it is a
// decision's, which every walk that meets a utility takes.
bool QNL_network::HoldsWalkableValues() const {
    if (asideVersion != structureVersion) {
        validCandidates.insert(validCandidates.end(), validAside.begin(), validAside.end());
        validAside.clear();
        asideVersion = structureVersion;
    }
    while (!validCandidates.empty()) {
        const int node = validCandidates.back();
        const QNL_nodeValue* value = ValueOf(*this, node);
        const bool decision = (DefinitionType(node) & QNL_TYPE_BIT_DECISION) != 0;
        if (value != nullptr && value->HoldsValidFlag() && (!value->IsObserved() || decision)) {
            if (decision || table[node].parents.GetCount() != 0 ||
                table[node].children.GetCount() != 0)
                return true;
            validCandidates.pop_back();
            validAside.push_back(node);
            continue;
        }
        validCandidates.pop_back();
        if (static_cast<std::size_t>(node) < isValidCandidate.size())
            isValidCandidate[static_cast<std::size_t>(node)] = 0;
    }
    return false;
}

bool QNL_network::FewWalkableValues(std::vector<int>& out, std::size_t limit) const {
    out.clear();
    if (!HoldsWalkableValues()) return true;
    for (std::size_t i = validCandidates.size(); i-- > 0;) {
        ++evidenceWork.listed;
        const int node = validCandidates[i];
        const QNL_nodeValue* value = ValueOf(*this, node);
        const bool decision = (DefinitionType(node) & QNL_TYPE_BIT_DECISION) != 0;
        const bool walkable =
            value != nullptr && value->HoldsValidFlag() && (!value->IsObserved() || decision);
        const bool isolated = walkable && !decision && table[node].parents.GetCount() == 0 &&
                              table[node].children.GetCount() == 0;
        if (walkable && !isolated) {
            out.push_back(node);
            if (out.size() > limit) return false;
            continue;
        }
        validCandidates[i] = validCandidates.back();
        validCandidates.pop_back();
        if (isolated)
            validAside.push_back(node);
        else if (static_cast<std::size_t>(node) < isValidCandidate.size())
            isValidCandidate[static_cast<std::size_t>(node)] = 0;
    }
    return true;
}

void QNL_network::ResetObservedList() {
    observedCandidates.clear();
    isObservedCandidate.assign(static_cast<std::size_t>(tableSize), 0);
    computedCandidates.clear();
    isComputedCandidate.assign(static_cast<std::size_t>(tableSize), 0);
    impliedCandidates.clear();
    isImpliedCandidate.assign(static_cast<std::size_t>(tableSize), 0);
    validCandidates.clear();
    validAside.clear();
    isValidCandidate.assign(static_cast<std::size_t>(tableSize), 0);
    typesKnown = false;
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        const QNL_nodeValue* value = ValueOf(*this, h);
        if (value != nullptr) NoteValueFlags(h, 0u, value->GetHeldFlags());
    }
}

void QNL_network::CollectObserved(std::vector<int>& out, bool realOnly, bool sorted) {
    evidenceWork.collected += observedCandidates.size();
    std::size_t kept = 0;
    for (int node : observedCandidates) {
        if (IsObserved(*this, node))
            observedCandidates[kept++] = node;
        else if (node >= 0 && node < tableSize)
            isObservedCandidate[static_cast<std::size_t>(node)] = 0;
    }
    observedCandidates.resize(kept);
    if (sorted && !std::is_sorted(observedCandidates.begin(), observedCandidates.end()))
        std::sort(observedCandidates.begin(), observedCandidates.end());
    out.clear();
    for (int node : observedCandidates)
        if (!realOnly || HasRealEvidence(*this, node)) out.push_back(node);
}

void QNL_network::Mark(int node, int bits) {
    table[node].flags |= bits;
    if (walkTouched.size() >= static_cast<std::size_t>(tableSize))
        marksEverywhere = true;
    else
        walkTouched.push_back(node);
}

// Only the slots an earlier walk marked are cleared, so an edit costs what its walk reaches
// rather than the size of the network.
void QNL_network::ClearWalkMarks() {
    constexpr int bits = FLAG_VISITED | FLAG_ANCESTOR | FLAG_REACHED_UP | FLAG_REACHED_DOWN;
    if (marksEverywhere) {
        ClearFlagOnAllNodes(bits);
        marksEverywhere = false;
    } else {
        for (int node : walkTouched)
            if (node < tableSize) table[node].flags &= ~bits;
    }
    walkTouched.clear();
}

int QNL_network::ClearAllPropagatedEvidence() {
    ClearPropagated(false);
    return 0;
}

void QNL_network::ClearPropagated(bool inBatch, bool collected) {
    std::vector<int>& observed = evidenceScratch.cleared;
    if (!collected) CollectObserved(observed, false);
    for (int h : observed) {
        QNL_nodeValue* value = table[h].node->GetValue();
        if (value == nullptr || !value->HasPropagatedEvidence()) continue;
        value->ClearPropagatedEvidence();
        if (inBatch) BatchUnobserved(h);
    }
}

// A walk asks only about the nodes it meets, and most of those have evidence a step or two
// below: searching down from them costs what the walk touches, where marking the ancestors of
// every finding would cost the network after each finding that goes.
void QNL_network::BeginAncestorQueries(const std::vector<int>* extra) {
    for (int n : ancestorAnswered)
        if (static_cast<std::size_t>(n) < ancestorAnswer.size())
            ancestorAnswer[static_cast<std::size_t>(n)] = 0;
    ancestorAnswered.clear();
    for (int n : ancestorExtraList)
        if (static_cast<std::size_t>(n) < ancestorExtra.size())
            ancestorExtra[static_cast<std::size_t>(n)] = 0;
    ancestorExtraList.clear();
    const std::size_t size = static_cast<std::size_t>(tableSize);
    if (ancestorAnswer.size() != size) ancestorAnswer.assign(size, 0);
    if (ancestorExtra.size() != size) ancestorExtra.assign(size, 0);
    if (extra == nullptr) return;
    for (int n : *extra) {
        if (n < 0 || n >= tableSize || ancestorExtra[static_cast<std::size_t>(n)]) continue;
        ancestorExtra[static_cast<std::size_t>(n)] = 1;
        ancestorExtraList.push_back(n);
    }
}

// Depth first below the node, each node expanded once per walk: a node lies above evidence
// when one of its children holds user evidence (or is an extra node) or lies above evidence.
// Every node on the stack lies above the node found, so all of them are answered at once.
bool QNL_network::IsEvidenceAncestor(int node) {
    if (node < 0 || node >= tableSize || table[node].node == nullptr ||
        static_cast<std::size_t>(node) >= ancestorAnswer.size())
        return false;
    const auto answer = [&](int n) -> char& { return ancestorAnswer[static_cast<std::size_t>(n)]; };
    if (answer(node) == 1 || answer(node) == 2) return answer(node) == 1;
    const std::vector<int>& types = SlotTypes();
    std::vector<std::pair<int, int>>& stack = ancestorStack;
    stack.assign(1, {node, 0});
    answer(node) = 3;
    ancestorAnswered.push_back(node);
    ++evidenceWork.searched;
    while (!stack.empty()) {
        auto& [n, next] = stack.back();
        const QNL_intArray& children = table[n].children;
        if (next >= children.GetCount()) {
            answer(n) = 2;
            stack.pop_back();
            continue;
        }
        const int c = children[next++];
        if (c < 0 || c >= tableSize || table[c].node == nullptr) continue;
        const bool found = answer(c) == 1 || ancestorExtra[static_cast<std::size_t>(c)] ||
                           HasRealEvidence(*this, c) ||
                           RangeActsAsEvidence(types, c, table[c].node->GetValue());
        if (found) {
            for (const auto& entry : stack)
                answer(entry.first) = 1;
            stack.clear();
            return true;
        }
        if (answer(c) != 0) continue;
        answer(c) = 3;
        ancestorAnswered.push_back(c);
        ++evidenceWork.searched;
        stack.emplace_back(c, 0);
    }
    return false;
}

bool QNL_network::HasDecisionOrUtility() {
    SlotTypes();
    return diagramNodes > 0;
}

// Node types change only when nodes come, go or change type (NodeTyped, NodeTypeGone keep
// the list), and the evidence passes ask for them once per parent and child of every node they
// reach. A list that no longer fits the node count is made again; one the table has grown past
// is lengthened, since the table grows by free slots.
const std::vector<int>& QNL_network::SlotTypes() {
    if (typesKnown && typesNodes == nodeCount &&
        (slotTypes.size() == static_cast<std::size_t>(tableSize) ||
         FitToTable(slotTypes, tableSize)))
        return slotTypes;
    slotTypes.assign(static_cast<std::size_t>(tableSize), 0);
    diagramNodes = 0;
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        const int type = DefinitionType(h);
        slotTypes[static_cast<std::size_t>(h)] = type;
        if (type & (QNL_TYPE_BIT_DECISION | QNL_TYPE_BIT_UTILITY)) ++diagramNodes;
    }
    typesNodes = nodeCount;
    typesKnown = true;
    return slotTypes;
}

// A slot without a type (0) was free: the node is new and the count has grown by one. Any other
// count means nodes came or went unseen, and the list is made again when next asked for.
void QNL_network::NodeTyped(int node) {
    if (!typesKnown) return;
    if (node < 0 || node >= tableSize || !FitToTable(slotTypes, tableSize)) {
        typesKnown = false;
        return;
    }
    int& slot = slotTypes[static_cast<std::size_t>(node)];
    if (typesNodes + (slot == 0 ? 1 : 0) != nodeCount) {
        typesKnown = false;
        return;
    }
    constexpr int diagram = QNL_TYPE_BIT_DECISION | QNL_TYPE_BIT_UTILITY;
    const int type = DefinitionType(node);
    diagramNodes += ((type & diagram) ? 1 : 0) - ((slot & diagram) ? 1 : 0);
    slot = type;
    typesNodes = nodeCount;
}

// Told after the node's slot was freed and the count lowered.
void QNL_network::NodeTypeGone(int node) {
    if (!typesKnown) return;
    if (node < 0 || node >= tableSize || !FitToTable(slotTypes, tableSize) ||
        typesNodes != nodeCount + 1) {
        typesKnown = false;
        return;
    }
    int& slot = slotTypes[static_cast<std::size_t>(node)];
    if (slot & (QNL_TYPE_BIT_DECISION | QNL_TYPE_BIT_UTILITY)) --diagramNodes;
    slot = 0;
    typesNodes = nodeCount;
}

// Clearing every finding one by one re-derives, after each, the evidence the others imply and
// walks the invalidation from the cleared node: the cost grows with the square of the number
// of findings. Without decisions and utilities the outcome is known in advance: nothing stays
// observed, and the union of those walks is what one walk from all cleared nodes reaches once
// no evidence blocks it (a walk blocked at a finding goes on when that finding is cleared in
// turn, and with fewer findings a walk only reaches what an unblocked one does). So the values
// are cleared quietly and walked from once. Findings in conflict change none of that: what
// they implied depends on the order of the derivation, but it all goes, and the walk starts at
// every node that held it; with nothing left observed, nothing is in conflict after. The
// one-by-one path stays for automatic updates (one update per cleared finding) and for
// influence diagrams.
int QNL_network::ClearEvidenceTogether() {
    std::vector<int> observed;
    // Cleared together, the findings go in any order.
    CollectObserved(observed, true, false);
    const bool notified =
        (notificationControl & NOTIFY_ON) && (notificationMask & CHANGE_EVIDENCE_CLEARED);
    if (!notified || (notificationControl & NOTIFY_AUTO_UPDATE) || observed.size() < 2 ||
        HasDecisionOrUtility()) {
        std::sort(observed.begin(), observed.end());
        for (int h : observed) {
            QNL_nodeValue* value = table[h].node->GetValue();
            if (value != nullptr && value->HasEvidence()) value->ClearEvidence();
        }
        return 0;
    }
    BeginEvidenceBatch();
    const int control = notificationControl;
    notificationControl = control & ~NOTIFY_ON;
    std::size_t cleared = 0;
    bool sampled = false;
    for (int h : observed) {
        QNL_nodeValue* value = table[h].node->GetValue();
        if (value == nullptr || !value->HasEvidence()) continue;
        const int type = value->GetType();
        sampled = sampled || type == QNL_VALUE_EQUATION || type == QNL_VALUE_CONTINUOUS;
        value->ClearEvidence();
        observed[cleared++] = h;
    }
    observed.resize(cleared);
    notificationControl = control;
    // As a finding cleared alone from an equation or continuous node does: a sampled update
    // draws every node under the findings, so every estimate goes.
    if (sampled) quarn::detail::InvalidateSampledValues(*this, true);
    // As the last of the one-by-one clears: every finding counted above its colliders while
    // the others were cleared, and every cleared node ends unobserved. Implied evidence goes
    // with the findings that implied it, and one of those clears walks from each node that
    // loses it, as from a finding cleared.
    std::vector<int>& implied = evidenceScratch.cleared;
    CollectObserved(implied, false, false);
    for (int h : implied) {
        BatchMark& mark = BatchTrack(h);
        mark.down = true;
        NoteBatchStart(h);
    }
    for (int h : observed) {
        BatchMark& mark = BatchTrack(h);
        mark.witness = mark.down = true;
        BatchUnobserved(h);
        NoteBatchStart(h);
    }
    ClearPropagated(true, true);
    conflictHeld = false;
    ++batchMoments;
    return EndEvidenceBatch();
}

// A batch opened while findings made outside one wait for their walk takes them over.
void QNL_network::BeginEvidenceBatch() {
    if (batchDepth++ == 0 && !recordOpen) OpenBatchRecord();
}

int QNL_network::EndEvidenceBatch() {
    if (batchDepth == 0) return 0;
    if (--batchDepth == 0) WalkFromBatch();
    return 0;
}

// What the walks per edit would depend on is recorded from here. A node is marked when the
// batch first meets it (its evidence changes, or an edit tracks it), from its flags as they
// were now: until then any other node is known to be as it was, so opening costs nothing.
void QNL_network::OpenBatchRecord() {
    batchMoments = 0;
    recordOpen = true;
}

bool QNL_network::DefersWalks() {
    const bool wait = (notificationControl & NOTIFY_ON) &&
                      !(notificationControl & NOTIFY_AUTO_UPDATE) && !HasDecisionOrUtility() &&
                      !conflictHeld;
    if (!recordOpen) {
        // Outside a batch the findings wait for one walk until a value or the network is
        // asked (SettleEvidenceWalk).
        if (wait) OpenBatchRecord();
        return wait;
    }
    if (wait) return true;
    // The batch can no longer wait: what it owes is walked before this edit walks alone.
    // Findings in conflict are edited alone too: what they imply depends on the order of
    // the derivation, and the one walk at the close does not retrace it.
    WalkFromBatch();
    return false;
}

QNL_network::BatchMark& QNL_network::BatchTrack(int node) {
    const QNL_nodeValue* value = ValueOf(*this, node);
    return BatchTrackFrom(node, value != nullptr ? value->GetHeldFlags() : 0u);
}

QNL_network::BatchMark& QNL_network::BatchTrackFrom(int node, unsigned flags) {
    if (batchMarks.size() < static_cast<std::size_t>(tableSize))
        batchMarks.resize(static_cast<std::size_t>(tableSize));
    BatchMark& mark = batchMarks[static_cast<std::size_t>(node)];
    if (!(table[node].flags & FLAG_BATCH_CHANGED)) {
        table[node].flags |= FLAG_BATCH_CHANGED;
        batchChanged.push_back(node);
        mark = BatchMark{};
        if (flags & (QNL_nodeValue::FLAG_EVIDENCE | QNL_nodeValue::FLAG_PROPAGATED)) {
            mark.unobserved = false;
            mark.evidenceSince = (flags & QNL_nodeValue::FLAG_EVIDENCE) ? 0 : -1;
        }
    }
    return mark;
}

void QNL_network::BatchUnobserved(int node) {
    BatchMark& mark = BatchTrack(node);
    if (mark.unobserved) return;
    mark.unobserved = true;
    mark.since = batchMoments;
    mark.evidenceSince = -1;
}

// A node unobserved when an edit's walk would have run lets the one walk pass through it.
void QNL_network::BatchObserved(int node, bool real) {
    BatchMark& mark = BatchTrack(node);
    if (mark.unobserved && batchMoments > mark.since) mark.open = true;
    mark.unobserved = false;
    if (real && mark.evidenceSince < 0) mark.evidenceSince = batchMoments;
}

void QNL_network::NoteBatchStart(int node) {
    BatchTrack(node);
    if (table[node].flags & FLAG_BATCH_START) return;
    table[node].flags |= FLAG_BATCH_START;
    batchStarts.push_back(node);
}

// One walk from every node whose finding the batch set or cleared, in place of one walk per
// edit. A node that some edit's walk met unobserved lets this walk pass as it did then
// (implied evidence, for one, is given after the finding's own walk); colliders open above
// every finding held when some edit's walk ran; a start sends the walk to its children when
// one of its edits did. So this walk reaches what the walks per edit reached, and observed
// nodes keep their values valid, as the edits that observed them left them.
void QNL_network::WalkFromBatch() {
    recordOpen = false;
    if (!batchStarts.empty()) {
        std::vector<int>& starts = batchWalkStarts;
        starts.swap(batchStarts);
        batchStarts.clear();
        starts.erase(std::remove_if(starts.begin(), starts.end(),
                                    [&](int h) { return !IsValidNodeHandle(h); }),
                     starts.end());
        std::sort(starts.begin(), starts.end());
        std::vector<int>& witnesses = batchWitnesses;
        witnesses.clear();
        for (int h : starts)
            if (batchMarks[static_cast<std::size_t>(h)].witness) witnesses.push_back(h);
        metUtility = false;
        // The batch's walk starts from many nodes and often takes every valid value long before
        // it has met all it would: the values it can take are counted, and it stops when none
        // is left (whatever it would meet after changes nothing). They are listed only while
        // they are few beside the starts: a batch of few findings walks as they would alone,
        // whatever the network holds valid elsewhere.
        std::vector<int>& listed = evidenceScratch.walkable;
        const bool counted = FewWalkableValues(listed, 8 * starts.size() + 8);
        if (!counted) listed.clear();
        walkableLeft = counted ? static_cast<std::int64_t>(listed.size()) : -1;
        if (walkableLeft != 0) {
            ClearWalkMarks();
            BeginAncestorQueries(&witnesses);
        }
        // Where most nodes were observed, a value is mostly next to a start: the first node of
        // a walk from that start, which takes it (but a decision's, reached from above) whatever
        // the walk meets after. Taken first, they let the walk end early.
        for (int v : listed) {
            QNL_nodeValue* value = table[v].node->GetValue();
            if (walkableLeft <= 0) break;
            if (value->IsObserved() || !value->HoldsValidFlag() ||
                (DefinitionType(v) & QNL_TYPE_BIT_DECISION))
                continue;
            bool next = false;
            const QNL_intArray& parents = table[v].parents;
            for (int i = 0; i < parents.GetCount() && !next; ++i)
                next = (table[parents[i]].flags & FLAG_BATCH_START) &&
                       batchMarks[static_cast<std::size_t>(parents[i])].down;
            const QNL_intArray& children = table[v].children;
            for (int i = 0; i < children.GetCount() && !next; ++i)
                next = (table[children[i]].flags & FLAG_BATCH_START) != 0;
            if (!next) continue;
            value->SetValidFlag(false);
            --walkableLeft;
        }
        // Starts are not marked beforehand: a walk per edit passed through the starts of the
        // other edits as it found them.
        for (int h : starts) {
            QNL_nodeEntry& entry = table[h];
            QNL_nodeValue* value = entry.node->GetValue();
            if (value != nullptr && !value->IsObserved()) {
                const bool walkable = value->HoldsValidFlag() && (entry.parents.GetCount() > 0 ||
                                                                  entry.children.GetCount() > 0);
                value->SetValidFlag(false);
                if (walkable && walkableLeft > 0) --walkableLeft;
            }
            if (walkableLeft == 0) continue;
            if (batchMarks[static_cast<std::size_t>(h)].down)
                for (int i = 0; i < entry.children.GetCount(); ++i)
                    Walk(entry.children[i], true);
            for (int i = 0; i < entry.parents.GetCount(); ++i)
                Walk(entry.parents[i], false);
        }
        walkableLeft = -1;
        if (metUtility) InvalidateDecisions();
        InvalidateIfDynamic();
    }
    for (int h : batchChanged)
        if (h < tableSize) table[h].flags &= ~(FLAG_BATCH_START | FLAG_BATCH_CHANGED);
    batchChanged.clear();
    batchStarts.clear();
    if (batchDepth > 0) OpenBatchRecord();
}

void QNL_network::InvalidateDecisions() {
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        if (!(DefinitionType(h) & QNL_TYPE_BIT_DECISION)) continue;
        QNL_nodeValue* value = table[h].node->GetValue();
        if (value != nullptr) value->SetValidFlag(false);
    }
}

void QNL_network::InvalidateIndexedBy(int node) {
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        QNL_nodeValue* value = table[h].node->GetValue();
        if (value != nullptr && value->GetIndexingParents().IsInList(node))
            value->SetValidFlag(false);
    }
}

// The invalidation walk from one start, with an explicit stack of (node, reached downward).
// Which nodes it reaches does not depend on the order in which it meets them. With a target,
// the walk only asks whether it reaches the target, and changes no value.
bool QNL_network::Walk(int start, bool startDownward, int target) {
    // Kept between walks: a batch's walk starts once per relative of every start.
    std::vector<std::pair<int, bool>>& stack = walkStack;
    stack.assign(1, {start, startDownward});
    // Decisions and utilities are told apart by type here, and nodes whose range acts as
    // evidence.
    const std::vector<int>& types = SlotTypes();
    // A node met again after its visit adds nothing, unless it was reached downward and is now
    // reached upward: such meetings are not stacked at all. Flags only gain the visit and only
    // lose the downward mark, so what is skipped here would have done nothing when popped.
    auto pushAll = [&](const QNL_intArray& nodes, bool downward) {
        for (int i = nodes.GetCount() - 1; i >= 0; --i) {
            const int n = nodes[i];
            if (n >= 0 && n < tableSize) {
                const int flags = table[n].flags;
                if ((flags & FLAG_VISITED) && (downward || !(flags & FLAG_REACHED_DOWN))) continue;
            }
            stack.emplace_back(n, downward);
        }
    };
    // A value taken while they are counted: the walk ends when the last is.
    auto take = [&](QNL_nodeValue* value) {
        if (!value->HoldsValidFlag()) return false;
        value->SetValidFlag(false);
        return walkableLeft > 0 && --walkableLeft == 0;
    };
    if (walkableLeft == 0) return false;
    while (!stack.empty()) {
        const auto [n, downward] = stack.back();
        stack.pop_back();
        if (n < 0 || n >= tableSize || table[n].node == nullptr) continue;
        if (n == target) return true;
        QNL_nodeEntry& entry = table[n];
        QNL_nodeValue* value = entry.node->GetValue();
        const bool open =
            (entry.flags & FLAG_BATCH_CHANGED) && batchMarks[static_cast<std::size_t>(n)].open;
        const bool evidence = !open && value != nullptr && value->HasEvidence();
        const bool propagated = !open && value != nullptr && value->HasPropagatedEvidence();
        ++evidenceWork.walked;
        const int type = TypeOf(types, n);
        if (type & QNL_TYPE_BIT_DECISION) {
            if (!downward && !evidence && !propagated && value != nullptr && target < 0 &&
                take(value))
                return false;
            continue;
        }
        if (propagated && !evidence && !IsEvidenceAncestor(n)) continue;
        if (!evidence && !propagated && !(entry.flags & FLAG_CLEARING)) {
            if (!(entry.flags & FLAG_VISITED)) {
                Mark(n, FLAG_VISITED | (downward ? FLAG_REACHED_DOWN : FLAG_REACHED_UP));
                if (target < 0) {
                    if (type & QNL_TYPE_BIT_UTILITY) metUtility = true;
                    if (value != nullptr && (!open || !value->IsObserved()) && take(value))
                        return false;
                }
                if (!downward || IsEvidenceAncestor(n) || RangeActsAsEvidence(types, n, value))
                    pushAll(entry.parents, false);
                pushAll(entry.children, true);
            } else if (!downward && (entry.flags & FLAG_REACHED_DOWN)) {
                entry.flags &= ~FLAG_REACHED_DOWN;
                pushAll(entry.parents, false);
            }
            continue;
        }
        if (downward && !(entry.flags & FLAG_VISITED)) {
            Mark(n, FLAG_VISITED);
            pushAll(entry.parents, false);
        }
    }
    return false;
}

// Whether the walk from `from` (its children downward, its parents upward, as after an edit
// there) reaches `to`. The trails such a walk follows are those of the walk from `to` read
// backwards: at each node, whether a trail passes depends only on the node and on whether both
// of its arcs point into it, not on the way the trail is read.
bool QNL_network::WalkReaches(int from, int to) {
    ClearWalkMarks();
    Mark(from, FLAG_VISITED);
    const QNL_intArray& children = table[from].children;
    const QNL_intArray& parents = table[from].parents;
    for (int i = 0; i < children.GetCount(); ++i)
        if (Walk(children[i], true, to)) return true;
    for (int i = 0; i < parents.GetCount(); ++i)
        if (Walk(parents[i], false, to)) return true;
    return false;
}

int QNL_network::NotifyEvidenceSet(int node) {
    const bool announced = derivation.pendingGain == node;
    derivation.pendingGain = -1;
    if (!announced || !(notificationControl & NOTIFY_ON) ||
        !(notificationMask & CHANGE_EVIDENCE_SET) || !IsValidNodeHandle(node))
        derivation.known = false;
    if (!(notificationControl & NOTIFY_ON) || !(notificationMask & CHANGE_EVIDENCE_SET)) return 0;
    if (!IsValidNodeHandle(node)) return -2;
    const NoticeScope notice(noticeDepth);
    // Entering findings as a network is built would otherwise derive the implied evidence
    // from all of them at the next edit of its structure, again and again.
    if (derivation.known && !FindingKeepsDerivation(node)) derivation.known = false;
    QNL_nodeValue* value = table[node].node->GetValue();
    const int outcome = value != nullptr ? value->GetEvidence() : -2;
    const bool defer = DefersWalks();
    if (defer) BatchObserved(node, true);
    if (outcome >= 0) {
        if (OutcomeImpossible(node, outcome)) {
            derivation.known = false;
            std::string message = "Outcome [";
            message += OutcomeId(*this, node, outcome);
            message += "] of node [";
            message += NodeId(*this, node);
            message += "] is impossible";
            return QNL_errorHandler::Instance().LogError(-2, message.c_str());
        }
        // The finding may also rule out what is observed below it: found here unless the
        // propagation that follows looks at its children anyway.
        if (!(notificationControl & NOTIFY_PROPAGATE_EVIDENCE))
            if (int r = ChildConflict(node)) {
                derivation.known = false;
                return r;
            }
    }
    DropPolicyValues();
    if (defer) {
        NoteBatchStart(node);
        BatchMark& mark = batchMarks[static_cast<std::size_t>(node)];
        mark.witness = mark.down = true;
        ++batchMoments;
        if (!(notificationControl & NOTIFY_PROPAGATE_EVIDENCE)) return 0;
        ClearWalkMarks();
        recordImplied = true;
        const int result = PropagateEvidence(node);
        recordImplied = false;
        if (result != 0) derivation.known = false;
        return result;
    }
    metUtility = false;
    if (HoldsWalkableValues()) {
        BeginAncestorQueries();
        // The walk from the finding takes the valid values it reaches. When few are valid, the
        // walks from them, which stay near them, tell which of them it would reach.
        std::vector<int>& few = evidenceScratch.walkable;
        if (!HasDecisionOrUtility() && FewWalkableValues(few, kFewValidValues)) {
            for (int v : few)
                if (WalkReaches(v, node)) table[v].node->GetValue()->SetValidFlag(false);
        } else {
            ClearWalkMarks();
            Mark(node, FLAG_VISITED);
            const QNL_intArray& children = table[node].children;
            const QNL_intArray& parents = table[node].parents;
            for (int i = 0; i < children.GetCount(); ++i)
                Walk(children[i], true);
            for (int i = 0; i < parents.GetCount(); ++i)
                Walk(parents[i], false);
        }
    }
    int result = 0;
    if (notificationControl & NOTIFY_PROPAGATE_EVIDENCE) {
        ClearWalkMarks();
        result = PropagateEvidence(node);
    }
    if (result != 0) derivation.known = false;
    if (metUtility) InvalidateDecisions();
    InvalidateIfDynamic();
    // Evidence refused here is withdrawn by the value at once: nothing to update for.
    if (result == 0 && (notificationControl & NOTIFY_AUTO_UPDATE)) UpdateBeliefs();
    return result;
}

int QNL_network::NotifyEvidenceCleared(int node) {
    if (!(notificationControl & NOTIFY_ON) || !(notificationMask & CHANGE_EVIDENCE_CLEARED)) {
        derivation.known = false;
        return 0;
    }
    if (!IsValidNodeHandle(node)) return -2;
    const NoticeScope notice(noticeDepth);
    DropPolicyValues();
    if (DefersWalks()) {
        BatchMark& mark = BatchTrack(node);
        if (mark.evidenceSince >= 0 && batchMoments > mark.evidenceSince) mark.witness = true;
        BatchUnobserved(node);
        NoteBatchStart(node);
        // Implied evidence is derived afresh after every clear. When no implication the last
        // derivation met involved this node (as the node implying, implied, or observed in the
        // table slice that implied), and none conflicted, the derivation without it meets the
        // same ones: slices only grow when a finding goes. So it is not made again.
        if (!DerivationStands(node, true, false)) {
            // As the clear made alone does: every node whose implied evidence went, came or
            // moved is walked from, also when it is implied again by the end of the batch.
            RederiveImplied(true);
            for (const auto& c : evidenceScratch.changed) {
                if (!IsValidNodeHandle(c.first)) continue;
                BatchTrack(c.first).down = true;
                NoteBatchStart(c.first);
            }
        }
        // Alone, the clear walks to the children also when the node falls back on implied
        // evidence: of the same outcome, or of another after findings came to conflict.
        batchMarks[static_cast<std::size_t>(node)].down = true;
        ++batchMoments;
        return 0;
    }
    table[node].flags |= FLAG_CLEARING;
    int result = InvalidateAround(node, false, false, true);
    table[node].flags &= ~FLAG_CLEARING;
    if (notificationControl & NOTIFY_AUTO_UPDATE) UpdateBeliefs();
    return result;
}

// The edit at the node may also change what the findings imply elsewhere (a deterministic
// table gone, reordered or rewritten): values conditioned on implied evidence that went, came or
// moved are found by walking from every node whose implied evidence changed. Those nodes let
// the walks pass both as observed and as unobserved, so what they reach does not depend on
// whether the old or the new evidence is seen.
int QNL_network::InvalidateFrom(int node, bool childTables, bool tablesEdited) {
    return InvalidateAround(node, childTables, tablesEdited, false);
}

int QNL_network::InvalidateAround(int node, bool childTables, bool tablesEdited, bool cleared) {
    if (!(notificationControl & NOTIFY_ON) || !IsValidNodeHandle(node)) {
        derivation.known = false;
        return (notificationControl & NOTIFY_ON) ? -2 : 0;
    }
    DropPolicyValues();
    if (!batchStarts.empty() || (recordOpen && batchDepth == 0)) WalkFromBatch();
    std::vector<std::pair<int, int>>& changed = evidenceScratch.changed;
    changed.clear();
    if (DerivationStands(node, cleared, tablesEdited)) {
        // A derivation now would find the implied evidence there is; it would set each again.
        conflictHeld = false;
        RenewImplied();
    } else {
        RederiveImplied(false);
        changed.erase(std::remove_if(changed.begin(), changed.end(),
                                     [&](const std::pair<int, int>& c) {
                                         return !IsValidNodeHandle(c.first);
                                     }),
                      changed.end());
    }
    WalkAfterEdit(node, childTables);
    return 0;
}

// A node below 0 is no start: only the changed nodes are walked from.
void QNL_network::WalkAfterEdit(int node, bool childTables) {
    const std::vector<std::pair<int, int>>& changed = evidenceScratch.changed;
    metUtility = false;
    // With no value a walk could take, the walk is not made: only the nodes it would start
    // from lose their values.
    if (!HoldsWalkableValues()) {
        for (const auto& c : changed) {
            QNL_nodeValue* value = table[c.first].node->GetValue();
            if (value != nullptr && !value->IsObserved()) value->SetValidFlag(false);
        }
        QNL_nodeValue* value = node >= 0 ? table[node].node->GetValue() : nullptr;
        if (value != nullptr && !value->IsObserved()) value->SetValidFlag(false);
        InvalidateIfDynamic();
        return;
    }
    std::vector<int>& flagged = evidenceScratch.flagged;
    flagged.clear();
    for (const auto& c : changed) {
        if (table[c.first].flags & FLAG_CLEARING) continue;
        table[c.first].flags |= FLAG_CLEARING;
        flagged.push_back(c.first);
    }
    ClearWalkMarks();
    BeginAncestorQueries();
    for (const auto& c : changed) {
        QNL_nodeEntry& entry = table[c.first];
        QNL_nodeValue* value = entry.node->GetValue();
        if (value != nullptr && !value->IsObserved()) value->SetValidFlag(false);
        const QNL_intArray& children = entry.children;
        const QNL_intArray& parents = entry.parents;
        for (int i = 0; i < children.GetCount(); ++i)
            Walk(children[i], true);
        for (int i = 0; i < parents.GetCount(); ++i)
            Walk(parents[i], false);
    }
    if (node >= 0) {
        QNL_nodeEntry& entry = table[node];
        Mark(node, FLAG_VISITED);
        QNL_nodeValue* value = entry.node->GetValue();
        const bool observed = value != nullptr && value->IsObserved();
        const QNL_intArray& children = entry.children;
        const QNL_intArray& parents = entry.parents;
        if (!observed) {
            if (value != nullptr) value->SetValidFlag(false);
            if (entry.node->GetType() & QNL_TYPE_BIT_UTILITY) metUtility = true;
        }
        if (!observed || childTables)
            for (int i = 0; i < children.GetCount(); ++i)
                Walk(children[i], true);
        const bool decision = (entry.node->GetType() & QNL_TYPE_BIT_DECISION) != 0;
        if (!decision &&
            ((value != nullptr && value->HasEvidence()) || IsEvidenceAncestor(node) ||
             RangeActsAsEvidence(SlotTypes(), node, value) || (entry.flags & FLAG_CLEARING)))
            for (int i = 0; i < parents.GetCount(); ++i)
                Walk(parents[i], false);
    }
    for (int h : flagged)
        table[h].flags &= ~FLAG_CLEARING;
    if (metUtility) InvalidateDecisions();
    InvalidateIfDynamic();
}

void QNL_network::CurrentImplied(std::vector<std::pair<int, int>>& out) {
    out.clear();
    std::size_t kept = 0;
    for (int node : impliedCandidates) {
        const QNL_nodeValue* value = ValueOf(*this, node);
        if (value != nullptr && value->HasPropagatedEvidence()) {
            impliedCandidates[kept++] = node;
            if (!value->HasEvidence()) out.emplace_back(node, value->GetEvidence());
        } else if (static_cast<std::size_t>(node) < isImpliedCandidate.size()) {
            isImpliedCandidate[static_cast<std::size_t>(node)] = 0;
        }
    }
    impliedCandidates.resize(kept);
    std::sort(out.begin(), out.end());
}

void QNL_network::HoldImpliedEvidence() {
    if (holdDepth++ > 0) return;
    CurrentImplied(heldImplied);
    heldConflict = conflictHeld;
}

void QNL_network::ReleaseImpliedEvidence(bool restore) {
    if (holdDepth == 0 || --holdDepth > 0) return;
    if (!restore || !(notificationControl & NOTIFY_ON)) return;
    std::vector<std::pair<int, int>>& now = evidenceScratch.after;
    CurrentImplied(now);
    std::vector<std::pair<int, int>>& changed = evidenceScratch.changed;
    Differences(heldImplied, now, changed);
    conflictHeld = heldConflict;
    if (changed.empty()) return;
    for (const auto& [h, outcome] : now)
        if (!std::binary_search(heldImplied.begin(), heldImplied.end(), std::make_pair(h, outcome)))
            table[h].node->GetValue()->ClearPropagatedEvidence();
    for (const auto& [h, outcome] : heldImplied) {
        QNL_nodeValue* value = ValueOf(*this, h);
        if (value != nullptr && !value->IsObserved()) value->SetPropagatedEvidence(outcome);
    }
    changed.erase(
        std::remove_if(changed.begin(), changed.end(),
                       [&](const std::pair<int, int>& c) { return !IsValidNodeHandle(c.first); }),
        changed.end());
    DropPolicyValues();
    WalkAfterEdit(-1, false);
    if (notificationControl & NOTIFY_AUTO_UPDATE) UpdateBeliefs();
}

// (node, outcome) of every implied finding, sorted.
void QNL_network::ImpliedEvidence(std::vector<std::pair<int, int>>& out, bool collected) {
    std::vector<int>& observed = collected ? evidenceScratch.cleared : evidenceScratch.implied;
    if (!collected) CollectObserved(observed, false);
    out.clear();
    for (int h : observed) {
        const QNL_nodeValue* value = table[h].node->GetValue();
        if (value->HasPropagatedEvidence() && !value->HasEvidence())
            out.emplace_back(h, value->GetEvidence());
    }
}

// Implied evidence derived afresh from the user evidence, as after any finding is cleared;
// with `inBatch`, what it implies is noted as changed by the open batch.
void QNL_network::RepropagateAll(bool inBatch, bool collected) {
    ClearPropagated(inBatch, collected);
    ClearWalkMarks();
    conflictHeld = false;
    if (!(notificationControl & NOTIFY_PROPAGATE_EVIDENCE)) return;
    // What stays observed once the implied evidence is gone: the user findings among the
    // nodes just listed, in the same order.
    std::vector<int>& observed = evidenceScratch.repropagated;
    observed.clear();
    for (int h : evidenceScratch.cleared)
        if (HasRealEvidence(*this, h)) observed.push_back(h);
    evidenceWork.rederived += observed.size();
    recordImplied = inBatch;
    for (int h : observed)
        PropagateEvidence(h);
    recordImplied = false;
}

void QNL_network::RederiveImplied(bool inBatch) {
    std::vector<std::pair<int, int>>& before = evidenceScratch.before;
    CollectObserved(evidenceScratch.cleared, false);
    ImpliedEvidence(before, true);
    DeriveImplied(inBatch);
    std::vector<std::pair<int, int>>& after = evidenceScratch.after;
    ImpliedEvidence(after);
    Differences(before, after, evidenceScratch.changed);
}

void QNL_network::DeriveImplied(bool inBatch) {
    for (int h : derivation.list)
        if (static_cast<std::size_t>(h) < derivation.involved.size())
            derivation.involved[static_cast<std::size_t>(h)] = 0;
    derivation.list.clear();
    derivation.involved.resize(static_cast<std::size_t>(tableSize), 0);
    derivation.conflict = false;
    derivation.recording = true;
    RepropagateAll(inBatch, true);
    derivation.recording = false;
    derivation.known = true;
    derivation.pendingLoss = -1;
    derivation.pendingGain = -1;
    derivation.owed = -1;
    derivation.version = structureVersion;
    derivation.control = notificationControl & NOTIFY_PROPAGATE_EVIDENCE;
}

// A derivation propagates from every finding in slot order, each node that receives implied
// evidence in turn, and reads each table at most once per node it propagates from: what it
// implies can depend on that order, so the known result stands only where the derivation
// would meet exactly the implications it met. A finding that none of them involved (as the
// node implying, implied, or observed in the table slice that implied) is not met when it
// goes: slices only widen when a finding goes. A table that none involved and that implies
// nothing given all the evidence held now (the narrowest slices the derivation reads it in)
// is not met either, whatever it held before. Without propagation nothing is ever implied.
// Each structure change is judged as it is told of (or, when nothing can meet it, as it
// happens), so the derivation stands through any number of them.
bool QNL_network::DerivationStands(int node, bool cleared, bool tablesEdited) {
    const int propagating = notificationControl & NOTIFY_PROPAGATE_EVIDENCE;
    if (!derivation.known || derivation.conflict || derivation.control != propagating ||
        derivation.pendingGain >= 0)
        return false;
    if (!propagating) {
        derivation.pendingLoss = -1;
        derivation.owed = -1;
        derivation.version = structureVersion;
        return true;
    }
    if (cleared) {
        if (derivation.pendingLoss != node || derivation.version != structureVersion ||
            derivation.owed >= 0 || derivation.Involves(node))
            return false;
        derivation.pendingLoss = -1;
        return true;
    }
    if (derivation.pendingLoss >= 0) return false;
    const bool owed = derivation.owed >= 0;
    if (owed && (derivation.owed != node || !tablesEdited)) return false;
    if (derivation.version == structureVersion && !owed) return true;
    // The one change since is the edit now told of, at the node's table and, for an outcome
    // change or a new arc, at its children's.
    if (!tablesEdited || derivation.version + 1 != structureVersion) return false;
    if (TablesMeetDerivation(node)) return false;
    derivation.version = structureVersion;
    derivation.owed = -1;
    return true;
}

bool QNL_network::DerivationCurrent() const {
    return derivation.known && derivation.version == structureVersion && derivation.owed < 0 &&
           derivation.pendingLoss < 0 && derivation.pendingGain < 0;
}

bool QNL_network::TablesMeetDerivation(int node) {
    if (derivation.Involves(node) || TableImplies(node)) return true;
    const QNL_intArray& children = table[node].children;
    for (int i = 0; i < children.GetCount(); ++i)
        if (derivation.Involves(children[i]) || TableImplies(children[i])) return true;
    return false;
}

// A finding narrows the slices of the node's table and of its children's only, which its own
// propagation reads too: where those imply nothing given all the evidence held now, and no
// implication of the derivation met them, a derivation with the finding meets what the last
// one met, and the finding's propagation adds nothing.
bool QNL_network::FindingKeepsDerivation(int node) {
    const int propagating = notificationControl & NOTIFY_PROPAGATE_EVIDENCE;
    if (!DerivationCurrent() || derivation.conflict || derivation.control != propagating)
        return false;
    return !propagating || !TablesMeetDerivation(node);
}

void QNL_network::StructureChangedBesideDerivation(int owed) {
    const bool current = DerivationCurrent();
    StructureChanged();
    if (!current) return;
    derivation.version = structureVersion;
    derivation.owed = owed;
}

// The outcome certain at the node given its observed parents, if any, visited as (outcome, 0);
// a false from the visit gives false. Certain means every other outcome's cells are 0: a cell
// of 1 is not enough, since a row such as (1 - 1e-17, 1e-17) is held as (1, 1e-17). With
// `observed`, the node's own outcome, which every cell of its slice rules out is visited as
// (observed, -1) instead.
template <typename Visit>
bool QNL_network::ReadCertainOutcomes(int node, Visit visit, int observed) {
    QNL_intArray& fixed = propagation.fixed;
    std::vector<char>& unfilled = propagation.unfilled;
    QNL_Dmatrix* matrix = EvidenceSlice(*this, SlotTypes(), node, fixed, nullptr);
    if (matrix == nullptr) return true;
    const int own = fixed.GetSize() - 1;
    if (observed >= 0 && observed < matrix->GetSizeOfDimension(own)) {
        fixed[own] = observed;
        if (matrix->IsSliceFilledWith(0.0, fixed) == 1) return visit(observed, -1);
    }
    if (TwoPossible(*matrix, fixed, own) ||
        matrix->FindUnfilledOutcomes(0.0, fixed, own, 2, unfilled) != 1)
        return true;
    const int certain =
        static_cast<int>(std::find(unfilled.begin(), unfilled.end(), char{1}) - unfilled.begin());
    return visit(certain, 0);
}

// The parents that the node's observed outcome `e` leaves with at most one possible outcome:
// each is visited as (parent, outcomes found), propagation.unfilled marking the one found, and
// a false from the visit stops the reading (false then). With `checkOwn`, an outcome `e` that
// every cell of the slice rules out is visited as (-1, -1) first.
template <typename Visit>
bool QNL_network::ReadNarrowedParents(int node, int e, Visit visit, bool checkOwn) {
    const std::vector<int>& types = SlotTypes();
    QNL_intArray& fixed = propagation.fixed;
    std::vector<int>& parentDimension = propagation.parentDimension;
    QNL_Dmatrix* matrix = EvidenceSlice(*this, types, node, fixed, &parentDimension);
    if (matrix == nullptr) return true;
    const int own = fixed.GetSize() - 1;
    if (e >= matrix->GetSizeOfDimension(own)) return true;
    fixed[own] = e;
    if (checkOwn && matrix->IsSliceFilledWith(0.0, fixed) == 1) return visit(-1, -1);
    const QNL_intArray& parents = table[node].parents;
    for (int i = 0; i < parents.GetCount(); ++i) {
        const int p = parents[i];
        const int dim = parentDimension[static_cast<std::size_t>(i)];
        if (dim < 0 || (TypeOf(types, p) & (QNL_TYPE_BIT_UTILITY | QNL_TYPE_BIT_DECISION)) ||
            !FindingFeedsTable(p, node))
            continue;
        if (TwoPossible(*matrix, fixed, dim)) continue;
        const int found = matrix->FindUnfilledOutcomes(0.0, fixed, dim, 2, propagation.unfilled);
        if ((found == 0 || found == 1) && !visit(p, found)) return false;
    }
    return true;
}

// What PropagateFrom meets at the node's table: an outcome certain given the observed parents
// (read from each observed parent that feeds the table), or, the node observed, a parent left
// with at most one possible outcome.
bool QNL_network::TableImplies(int node) {
    if (!IsValidNodeHandle(node)) return false;
    const int type = TypeOf(SlotTypes(), node);
    const QNL_intArray& parents = table[node].parents;
    bool fed = false;
    for (int i = 0; i < parents.GetCount() && !fed; ++i) {
        const QNL_nodeValue* value = ValueOf(*this, parents[i]);
        fed = value != nullptr && value->GetEvidence() >= 0 && FindingFeedsTable(parents[i], node);
    }
    const auto met = [](int, int) { return false; };
    if (fed && !(type & (QNL_TYPE_BIT_UTILITY | QNL_TYPE_BIT_DECISION)) &&
        !ReadCertainOutcomes(node, met))
        return true;
    const QNL_nodeValue* value = ValueOf(*this, node);
    const int e = value != nullptr ? value->GetEvidence() : -1;
    // A derivation that meets an impossible outcome there stops at the conflict.
    return e >= 0 && !(type & QNL_TYPE_BIT_DECISION) &&
           !ReadNarrowedParents(node, e, met, !(type & QNL_TYPE_BIT_UTILITY));
}

// Every implied node is among those the derivation involved. Set again from cleared, as the
// derivation sets it: its value then holds the finding's indicator and is valid.
void QNL_network::RenewImplied() {
    derivation.recording = true;
    for (int h : derivation.list) {
        QNL_nodeValue* value = ValueOf(*this, h);
        if (value == nullptr || !value->HasPropagatedEvidence() || value->HasEvidence()) continue;
        const int outcome = value->GetEvidence();
        value->ClearPropagatedEvidence();
        value->SetPropagatedEvidence(outcome);
    }
    derivation.recording = false;
}

bool QNL_network::TableHasZeros(int node) {
    const std::size_t at = static_cast<std::size_t>(node);
    if (zerosRead.size() <= at) {
        zerosRead.resize(static_cast<std::size_t>(tableSize), 0);
        tableZeros.resize(static_cast<std::size_t>(tableSize), 0);
    }
    // Read again after any change a table may have had: only the tables asked about are.
    const std::uint64_t now = structureVersion + uncheckedTableEdits + 1;
    if (zerosRead[at] != now) {
        zerosRead[at] = now;
        QNL_nodeDefinition* definition = table[node].node->GetDefinition();
        const QNL_Dmatrix* matrix = definition != nullptr ? definition->GetMatrix() : nullptr;
        bool zeros = matrix == nullptr || matrix->GetNumberOfDimensions() < 1 ||
                     matrix->GetSizeOfDimension(matrix->GetNumberOfDimensions() - 1) < 2;
        const double* cells = matrix != nullptr ? matrix->GetItems().Items() : nullptr;
        for (int i = 0; !zeros && i < matrix->GetSize(); ++i)
            zeros = cells[i] == 0.0;
        tableZeros[at] = zeros ? 1 : 0;
    }
    return tableZeros[at] != 0;
}

bool QNL_network::OutcomeImpossible(int node, int outcome) {
    if (!TableHasZeros(node)) return false;
    QNL_intArray& fixed = propagation.fixed;
    QNL_Dmatrix* matrix = EvidenceSlice(*this, SlotTypes(), node, fixed, nullptr);
    if (matrix == nullptr || outcome < 0) return false;
    const int own = fixed.GetSize() - 1;
    if (outcome >= matrix->GetSizeOfDimension(own)) return false;
    fixed[own] = outcome;
    return matrix->IsSliceFilledWith(0.0, fixed) == 1;
}

int QNL_network::ChildConflict(int node) {
    const std::vector<int>& types = SlotTypes();
    const QNL_intArray& children = table[node].children;
    for (int i = 0; i < children.GetCount(); ++i) {
        const int c = children[i];
        if ((TypeOf(types, c) & (QNL_TYPE_BIT_UTILITY | QNL_TYPE_BIT_DECISION)) ||
            !FindingFeedsTable(node, c))
            continue;
        const QNL_nodeValue* value = ValueOf(*this, c);
        if (value != nullptr && value->IsObserved() && OutcomeImpossible(c, value->GetEvidence()))
            return ImpliedOutcomeConflict(c, node);
    }
    return 0;
}

int QNL_network::ImpliedOutcomeConflict(int implied, int from) {
    if (derivation.recording) derivation.conflict = true;
    conflictHeld = true;
    std::string message = "ERROR: conficting evidence between nodes [";
    message += NodeId(*this, implied);
    message += "] and [";
    message += NodeId(*this, from);
    message += "]";
    return QNL_errorHandler::Instance().LogError(-26, message.c_str());
}

int QNL_network::PropagateEvidence(int node) {
    if (!IsObserved(*this, node)) return -2;
    return PropagateFrom(node);
}

// Evidence implied with certainty by observed outcomes becomes propagated evidence, and the
// nodes that receive it propagate in turn (an explicit work list, marked with flag 2).
int QNL_network::PropagateFrom(int start) {
    // Scratch kept between calls: every finding of a batch propagates on its own. Each node
    // to propagate from comes with the node that implied it.
    std::vector<std::pair<int, int>>& work = propagation.work;
    work.assign(1, {start, -1});
    Mark(start, FLAG_VISITED);
    const std::vector<int>& types = SlotTypes();
    std::vector<char>& unfilled = propagation.unfilled;

    // Gives the node the implied outcome, or reports a conflict with its own evidence.
    // A node and its parents: the nodes an implication met at the node's table involves.
    auto involve = [&](int node) {
        if (!derivation.recording) return;
        auto add = [&](int h) {
            if (h < 0 || static_cast<std::size_t>(h) >= derivation.involved.size() ||
                derivation.involved[static_cast<std::size_t>(h)])
                return;
            derivation.involved[static_cast<std::size_t>(h)] = 1;
            derivation.list.push_back(h);
        };
        add(node);
        const QNL_intArray& parents = table[node].parents;
        for (int i = 0; i < parents.GetCount(); ++i)
            add(parents[i]);
    };
    // Implied evidence is evidence: an outcome the node's own table rules out given its
    // observed parents conflicts as a finding does, and so does one that rules out an observed
    // child's outcome; both are found when the node is taken from the work list.
    auto imply = [&](int target, int outcome, int from) -> int {
        QNL_nodeValue* value = ValueOf(*this, target);
        if (value == nullptr) return 0;
        if (value->IsObserved()) {
            return value->GetEvidence() == outcome ? 0 : ImpliedOutcomeConflict(target, from);
        }
        int result = value->SetPropagatedEvidence(outcome);
        if (result != 0) return result;
        if (recordImplied) BatchObserved(target, false);
        if (!(table[target].flags & FLAG_VISITED)) {
            Mark(target, FLAG_VISITED);
            work.emplace_back(target, from);
        }
        return 0;
    };

    while (!work.empty()) {
        // Named apart, not bound as a pair: the lambdas below capture them.
        const int n = work.back().first;
        const int impliedBy = work.back().second;
        work.pop_back();
        ++evidenceWork.propagated;
        QNL_nodeValue* nValue = ValueOf(*this, n);
        const int e = nValue != nullptr ? nValue->GetEvidence() : -1;
        if (e < 0) continue;

        int failed = 0;
        const QNL_intArray& children = table[n].children;
        for (int i = 0; i < children.GetCount() && failed == 0; ++i) {
            const int c = children[i];
            const int type = TypeOf(types, c);
            if ((type & (QNL_TYPE_BIT_UTILITY | QNL_TYPE_BIT_DECISION)) ||
                !FindingFeedsTable(n, c) || !TableHasZeros(c))
                continue;
            // The child's outcome certain given its observed parents, or its observed outcome
            // ruled out (visited as (outcome, -1)).
            const QNL_nodeValue* childValue = ValueOf(*this, c);
            const int observed =
                childValue != nullptr && childValue->IsObserved() ? childValue->GetEvidence() : -1;
            ReadCertainOutcomes(
                c,
                [&](int k, int ruledOut) {
                    involve(c);
                    failed = ruledOut < 0 ? ImpliedOutcomeConflict(c, n) : imply(c, k, n);
                    return failed == 0;
                },
                observed);
        }
        if (failed != 0) return failed;

        if ((TypeOf(types, n) & QNL_TYPE_BIT_DECISION) || !TableHasZeros(n)) continue;
        // A parent left with one outcome under which the observed one is possible; an implied
        // outcome its own table rules out (a finding's is checked as it is entered).
        ReadNarrowedParents(
            n, e,
            [&](int p, int found) {
                involve(n);
                if (p < 0) {
                    failed = ImpliedOutcomeConflict(n, impliedBy);
                    return false;
                }
                // With fewer findings a parent left with no possible outcome could have one.
                if (found != 1) return true;
                const int possible = static_cast<int>(
                    std::find(unfilled.begin(), unfilled.end(), char{1}) - unfilled.begin());
                failed = imply(p, possible, n);
                return failed == 0;
            },
            impliedBy >= 0);
        if (failed != 0) return failed;
    }
    return 0;
}
