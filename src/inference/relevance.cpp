#include "inference/relevance.h"

#include "inference/bayesian_algorithms.h"
#include "inference/clique_table.h"
#include "inference/graph_view.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "definitions/logic_gates.h"
#include "definitions/node_value.h"
#include "definitions/noisy_max.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

namespace quarn::detail {

QNL_relevanceNode** RecordPointerStorage::Acquire(int n) {
    return static_cast<QNL_relevanceNode**>(
        std::malloc(static_cast<std::size_t>(n) * sizeof(QNL_relevanceNode*)));
}

void RecordPointerStorage::Release(QNL_relevanceNode** block, int) {
    std::free(block);
}

struct RecordBlock {
    std::unique_ptr<QNL_relevanceNode[]> records;
    // Records in use, and records allocated.
    std::size_t size = 0;
    std::size_t capacity = 0;
};

// A record of the deterministic walk: its children, then its parents, from `pending`.
struct DeterministicFrame {
    QNL_relevanceNode* record;
    bool parentsPhase;
    std::size_t begin;
    std::size_t next;
    std::size_t end;
};

struct ReductionScratch {
    // The block of the last reduction: the next one takes it over once nothing else holds it.
    std::shared_ptr<RecordBlock> block;
    std::vector<QNL_relevanceNode*> records;
    std::vector<std::int32_t> recordOfHandle;
    std::vector<QNL_relevanceNode*> stack;
    std::vector<DeterministicFrame> frames;
    std::vector<QNL_relevanceNode*> pending;
    std::vector<const QNL_relevanceNode*> derived;
    std::vector<QNL_relevanceNode*> fixedParents;
    std::vector<int> shape;
    std::vector<int> position;
    std::vector<int> sizes;
    // Room for a table derived from the record's own table, swapped with it.
    QNL_Dmatrix table;
    std::vector<std::unique_ptr<QNL_relevanceComponent>> parts;
    // Components of earlier reductions, emptied.
    std::vector<std::unique_ptr<QNL_relevanceComponent>> spareComponents;
};

// Everything is noted by node handle, and each table and value is looked up again when the
// reduction is derived anew: a kept reduction then serves a copy of the network it was made
// on as well, as long as the structure is the same.
struct ReductionLog {
    // A test of the deterministic pass that found nothing: the slices of node `owner`'s table
    // at node `observed`'s outcome on `dim`, for each of `count` outcomes on `own` (a child's
    // table), or for each outcome of a parent on `dim` at the outcome on `own` (the observed
    // record's own table).
    struct Check {
        int owner, observed;
        int dim, own, count;
        bool child;
    };
    // A table derived from the evidence: the slice of the input at the observed parents'
    // outcomes (`parents` by dimension, null where free), or the input with dimension `dim`
    // summed out weighted by the root's table. The input is the record's node's definition
    // matrix, or an earlier step's result (`from`); so are the weights (`weightsFrom`).
    struct Step {
        QNL_relevanceNode* record;
        bool absorb;
        int dim = -1;
        std::vector<QNL_relevanceNode*> parents;
        int from = -1;
        int root = -1;
        int weightsFrom = -1;
        std::vector<int> shape;
        // The result goes into the record's own table when the record stays and no later
        // step changes it, else here.
        QNL_Dmatrix kept;
        QNL_Dmatrix* result = nullptr;
    };

    bool keepable = true;
    QNL_network* network = nullptr;
    std::shared_ptr<RecordBlock> block;
    ReductionScratch scratch;
    // Steps of earlier reductions, taken again with their storage.
    std::vector<Step> spareSteps;
    std::vector<QNL_relevanceNode*> observed;
    std::vector<Check> checks;
    std::vector<Step> steps;
    // Per record of the block: its last step, -1 for none.
    std::vector<int> lastStep;
    // Lone observed records: only their certainty is written.
    std::vector<QNL_relevanceNode*> lone;
    // The records of the components.
    std::vector<QNL_relevanceNode*> live;
    // Working storage of the replay.
    std::vector<double> certainty;
    std::vector<int> position;

    int StepOf(const QNL_relevanceNode* record) const {
        return lastStep[static_cast<std::size_t>(record - block->records.get())];
    }
    void SetStepOf(const QNL_relevanceNode* record, int step) {
        lastStep[static_cast<std::size_t>(record - block->records.get())] = step;
    }
    // Tables other than the definition's were derived by something no step replays.
    void NoteFirstTable(const QNL_relevanceNode& record) {
        if (record.GetTableKind() != QNL_graphView::TABLE_DEFINITION || record.GetNodeHandle() < 0)
            keepable = false;
    }
    void NoteCheck(const QNL_relevanceNode& owner, const QNL_relevanceNode& observedRecord, int dim,
                   int own, int count, bool child) {
        NoteFirstTable(owner);
        checks.push_back(
            {owner.GetNodeHandle(), observedRecord.GetNodeHandle(), dim, own, count, child});
    }
    void NoteStep(QNL_relevanceNode* record, bool absorb, int dim,
                  const std::vector<QNL_relevanceNode*>* fixedParents,
                  const QNL_relevanceNode* root, const QNL_Dmatrix& result) {
        Step step;
        if (!spareSteps.empty()) {
            step = std::move(spareSteps.back());
            spareSteps.pop_back();
        }
        step.record = record;
        step.absorb = absorb;
        step.dim = dim;
        if (fixedParents != nullptr)
            step.parents.assign(fixedParents->begin(), fixedParents->end());
        else
            step.parents.clear();
        step.from = StepOf(record);
        step.root = -1;
        step.weightsFrom = -1;
        step.shape.clear();
        step.result = nullptr;
        if (step.from < 0) NoteFirstTable(*record);
        if (root != nullptr) {
            step.root = root->GetNodeHandle();
            step.weightsFrom = StepOf(root);
            if (step.weightsFrom < 0) NoteFirstTable(*root);
        }
        for (int d = 0; d < result.GetNumberOfDimensions(); ++d)
            step.shape.push_back(result.GetSizeOfDimension(d));
        steps.push_back(std::move(step));
        SetStepOf(record, static_cast<int>(steps.size()) - 1);
    }
    QNL_node* Node(int handle) const { return network->GetNode(handle); }
    // The node's definition matrix as a reduction takes it; null when there is none.
    QNL_Dmatrix* Table(int handle) const {
        QNL_node* node = Node(handle);
        QNL_nodeDefinition* definition = node != nullptr ? node->GetDefinition() : nullptr;
        QNL_Dmatrix* matrix = definition != nullptr ? definition->GetMatrix() : nullptr;
        return matrix != nullptr && matrix->GetSize() > 0 ? matrix : nullptr;
    }
    int Finish();
    int Replay();
    // Forgets the reduction, keeping the storage of its lists, steps and components.
    void Reset(QNL_componentList& components);
    // Bytes held on the heap by the log, its scratch, its records and the components.
    std::uint64_t Bytes(const QNL_componentList& components) const;
};

int WriteNodeBeliefs(QNL_node* node, const double* cells, int count) {
    if (node == nullptr || cells == nullptr || count < 1) return -2;
    QNL_nodeValue* value = node->GetValue();
    QNL_Dmatrix* matrix = value != nullptr ? value->GetMatrix() : nullptr;
    if (matrix == nullptr) return -51;
    double sum = 0.0;
    for (int i = 0; i < count; ++i)
        sum += cells[i];
    // Zero mass (impossible evidence) or a broken number never reaches a value.
    if (!(sum > 0.0) || !std::isfinite(sum)) return -2;
    // A value that already holds a vector of this length is overwritten in place, so repeated
    // updates write beliefs without allocating.
    if (matrix->GetNumberOfDimensions() != 1 || matrix->GetSize() != count) {
        QNL_Dmatrix fresh;
        if (int r = fresh.Setup(&count, 1)) return r;
        *matrix = std::move(fresh);
    }
    for (int i = 0; i < count; ++i)
        matrix->Subscript(i) = cells[i] / sum;
    value->SetValidFlag(true);
    return 0;
}

} // namespace quarn::detail

namespace {

using quarn::detail::RecordBlock;

constexpr unsigned kMarker = QNL_nodeValue::FLAG_MARKER;

// Types whose matrix is the node's conditional probability table over all its parents.
bool HasProbabilityTable(int type) {
    return type == QNL_TYPE_CPT || type == QNL_TYPE_TRUTHTABLE || type == QNL_TYPE_NOISY_MAX ||
           type == QNL_TYPE_NOISY_ADDER;
}

bool IsGateType(int type) {
    return type == QNL_TYPE_CAST || type == QNL_TYPE_DEMORGAN || type == QNL_TYPE_NOISY_MAX;
}

std::string NodeName(const QNL_node* node) {
    const char* id = node != nullptr ? node->GetId() : nullptr;
    return id != nullptr ? id : "";
}

// The table that stands for a gate node cut from its parents by the marker flag: (p, 1 - p)
// with p the DeMorgan prior belief or the CAST baseline, and a noisy-MAX node's leak column.
int GateTwoCellTable(const QNL_node& node, QNL_Dmatrix& out) {
    const QNL_nodeDefinition* definition = node.GetDefinition();
    std::vector<double> cells;
    if (const auto* demorgan = dynamic_cast<const QNL_demorgan*>(definition)) {
        cells = {demorgan->GetPriorBelief(), 1.0 - demorgan->GetPriorBelief()};
    } else if (const auto* cast = dynamic_cast<const QNL_cast*>(definition)) {
        cells = {cast->GetBaseline(), 1.0 - cast->GetBaseline()};
    } else if (const auto* gate = dynamic_cast<const QNL_noisyMAX*>(definition)) {
        const QNL_Dmatrix& params = gate->GetParameters();
        const int n = gate->GetNumberOfOutcomes();
        const int leak = gate->GetNumberOfColumns() - 1;
        if (leak >= 0 && n > 0)
            cells.assign(params.GetItems().Items() + static_cast<std::size_t>(leak) * n,
                         params.GetItems().Items() + static_cast<std::size_t>(leak + 1) * n);
    }
    if (cells.empty())
        return QNL_errorHandler::Instance().LogError(
            -51, "Relevance: the two-cell table of gate node [" + NodeName(&node) +
                     "] is not available");
    const int size = static_cast<int>(cells.size());
    if (int r = out.Setup(&size, 1)) return r;
    std::copy(cells.begin(), cells.end(), out.GetItems().Items());
    return 0;
}

bool TableFits(const QNL_Dmatrix& table, const QNL_relevanceNode& record) {
    const int parents = record.GetNumberOfParents();
    if (table.GetNumberOfDimensions() != parents + 1) return false;
    for (int i = 0; i < parents; ++i)
        if (table.GetSizeOfDimension(i) != record.GetParent(i)->GetNumberOfOutcomes()) return false;
    return table.GetSizeOfDimension(parents) == record.GetNumberOfOutcomes();
}

void CopySlice(const QNL_Dmatrix& in, const std::vector<QNL_relevanceNode*>& fixed,
               QNL_Dmatrix& out, std::vector<int>& at);
void WeightedSum(const QNL_Dmatrix& in, int dim, const QNL_Dmatrix& weights, QNL_Dmatrix& out);

// Gives the table the shape, keeping its storage when it has the shape already; the cells
// are then left as they were, to be overwritten.
int ShapeTable(QNL_Dmatrix& table, const std::vector<int>& shape) {
    bool same = table.GetNumberOfDimensions() == static_cast<int>(shape.size());
    for (std::size_t d = 0; same && d < shape.size(); ++d)
        same = table.GetSizeOfDimension(static_cast<int>(d)) == shape[d];
    return same ? 0 : table.Setup(shape.data(), static_cast<int>(shape.size()));
}

double ZeroShare(const QNL_Dmatrix* table) {
    if (table == nullptr || table->GetSize() == 0) return 0.0;
    const QNL_doubleArray& cells = table->GetItems();
    int zeros = 0;
    for (int i = 0; i < cells.GetSize(); ++i)
        if (cells[i] == 0.0) ++zeros;
    return static_cast<double>(zeros) / cells.GetSize();
}

} // namespace

// ---------------------------------------------------------------- records

const QNL_Dmatrix* QNL_relevanceNode::GetTable() const {
    if (tableKind == 1) return &ownTable;
    if (tableKind == 2) return sharedTable;
    return nullptr;
}

void QNL_relevanceNode::TakeTable(QNL_Dmatrix&& fresh) {
    ownTable = std::move(fresh);
    sharedTable = nullptr;
    tableKind = 1;
}

void QNL_relevanceNode::UseOwnTable() {
    sharedTable = nullptr;
    tableKind = 1;
}

void QNL_relevanceNode::Release() {
    sharedTable = nullptr;
    tableKind = 0;
    parents.Flush();
    children.Flush();
    component = nullptr;
    position = -1;
}

void QNL_relevanceNode::Reset() {
    Release();
    node = nullptr;
    handle = -1;
    observed = -1;
    mark = MARK_NONE;
    outcomes = 0;
    target = false;
}

int QNL_relevanceNode::SetObservedOutcome(int outcome) {
    if (outcome < 0 || outcome >= outcomes) return -2;
    if (node != nullptr) {
        try {
            // Short vectors on the stack: a reduction writes one per lone observed record.
            constexpr int kShort = 64;
            double shortCells[kShort];
            std::vector<double> longCells;
            double* certainty = shortCells;
            if (outcomes > kShort) {
                longCells.resize(static_cast<std::size_t>(outcomes));
                certainty = longCells.data();
            }
            std::fill(certainty, certainty + outcomes, 0.0);
            certainty[outcome] = 1.0;
            if (int r = quarn::detail::WriteNodeBeliefs(node, certainty, outcomes)) return r;
        } catch (const std::bad_alloc&) {
            return -42;
        }
    }
    observed = outcome;
    return 0;
}

int QNL_relevanceNode::StoreMarginal() const {
    const QNL_Dmatrix* table = GetTable();
    if (table == nullptr || table->GetSize() != outcomes) return -2;
    return quarn::detail::WriteNodeBeliefs(node, table->GetItems().Items(), outcomes);
}

// ---------------------------------------------------------------- components

QNL_relevanceComponent::~QNL_relevanceComponent() {
    for (QNL_relevanceNode* record : records)
        record->Release();
}

void QNL_relevanceComponent::Reset() {
    for (QNL_relevanceNode* record : records)
        record->Release();
    records.clear();
    block.reset();
    network = nullptr;
    evidenceCount = 0;
    inHandleOrder = true;
}

int QNL_relevanceComponent::FindNode(int handle) const {
    if (handle < 0) return -1;
    if (inHandleOrder) {
        auto at = std::lower_bound(
            records.begin(), records.end(), handle,
            [](const QNL_relevanceNode* r, int h) { return r->GetNodeHandle() < h; });
        if (at != records.end() && (*at)->GetNodeHandle() == handle)
            return static_cast<int>(at - records.begin());
        return -1;
    }
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i]->GetNodeHandle() == handle) return static_cast<int>(i);
    return -1;
}

void QNL_relevanceComponent::ClearEvidence() {
    for (QNL_relevanceNode* record : records)
        record->observed = -1;
    evidenceCount = 0;
}

int QNL_relevanceComponent::ListTopologically() {
    try {
        const std::vector<QNL_relevanceNode*> start(records);
        return ListAfterAncestors(start);
    } catch (const std::bad_alloc&) {
        return -42;
    }
}

int QNL_relevanceComponent::ListForSampling() {
    try {
        std::vector<QNL_relevanceNode*> order(records);
        const int n = static_cast<int>(order.size());
        // Observed records by (share of zero cells, original position): a stable sort.
        std::vector<std::pair<double, int>> observed;
        for (int i = 0; i < n; ++i)
            if (order[static_cast<std::size_t>(i)]->observed >= 0)
                observed.emplace_back(ZeroShare(order[static_cast<std::size_t>(i)]->GetTable()), i);
        std::stable_sort(observed.begin(), observed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        // Taking a record into the front moves the record that stood there into its place.
        std::vector<int> at(static_cast<std::size_t>(n)), holder(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            at[static_cast<std::size_t>(i)] = holder[static_cast<std::size_t>(i)] = i;
        for (std::size_t front = 0; front < observed.size(); ++front) {
            const int taken = observed[front].second;
            const int from = at[static_cast<std::size_t>(taken)];
            const int displaced = holder[front];
            std::swap(order[front], order[static_cast<std::size_t>(from)]);
            at[static_cast<std::size_t>(taken)] = static_cast<int>(front);
            at[static_cast<std::size_t>(displaced)] = from;
            holder[front] = taken;
            holder[static_cast<std::size_t>(from)] = displaced;
        }
        return ListAfterAncestors(order);
    } catch (const std::bad_alloc&) {
        return -42;
    }
}

// Depth first over parents in parent order, without recursion: a record is listed once all
// its parents are.
int QNL_relevanceComponent::ListAfterAncestors(const std::vector<QNL_relevanceNode*>& start) {
    constexpr int kOnStack = -1;
    std::vector<QNL_relevanceNode*> listed;
    listed.reserve(records.size());
    std::vector<std::pair<QNL_relevanceNode*, int>> stack;
    for (QNL_relevanceNode* record : records)
        record->mark = QNL_relevanceNode::MARK_NONE;
    for (QNL_relevanceNode* first : start) {
        if (first->mark != QNL_relevanceNode::MARK_NONE) continue;
        first->mark = kOnStack;
        stack.emplace_back(first, 0);
        while (!stack.empty()) {
            auto& [record, next] = stack.back();
            if (next < record->parents.GetCount()) {
                QNL_relevanceNode* parent = record->parents[next++];
                if (parent->mark == QNL_relevanceNode::MARK_NONE && parent->component == this) {
                    parent->mark = kOnStack;
                    stack.emplace_back(parent, 0);
                }
                continue;
            }
            record->mark = QNL_relevanceNode::MARK_LISTED;
            listed.push_back(record);
            stack.pop_back();
        }
    }
    records.swap(listed);
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i]->position = static_cast<int>(i);
    inHandleOrder = false;
    return 0;
}

// ---------------------------------------------------------------- component list

void QNL_componentList::Destroy(int index) {
    delete Release(index);
}

QNL_relevanceComponent* QNL_componentList::Release(int index) {
    if (index < 0 || index >= GetCount()) return nullptr;
    QNL_relevanceComponent* component = items[static_cast<std::size_t>(index)];
    items[static_cast<std::size_t>(index)] = nullptr;
    return component;
}

void QNL_componentList::Clear() {
    for (QNL_relevanceComponent* component : items)
        delete component;
    items.clear();
}

// ---------------------------------------------------------------- working graph

QNL_relevance::QNL_relevance(QNL_network& net, bool usePropagatedEvidence,
                             quarn::detail::ReductionScratch* work)
    : network(net), scratch(work), usePropagated(usePropagatedEvidence),
      records(work != nullptr ? work->records : ownRecords),
      recordOfHandle(work != nullptr ? work->recordOfHandle : ownRecordOfHandle) {
    records.clear();
    recordOfHandle.clear();
    try {
        status = Build();
    } catch (const std::bad_alloc&) {
        status = -42;
    }
}

QNL_relevance::~QNL_relevance() {
    for (QNL_relevanceNode* record : records)
        if (record->component == nullptr) record->Release();
}

QNL_relevanceNode* QNL_relevance::FindRecord(int handle) const {
    if (handle < 0 || static_cast<std::size_t>(handle) >= recordOfHandle.size()) return nullptr;
    const std::int32_t at = recordOfHandle[static_cast<std::size_t>(handle)];
    return at < 0 ? nullptr : &block->records[static_cast<std::size_t>(at)];
}

int QNL_relevance::Build() {
    allTargets = network.GetNumberOfTargets() == 0;
    QNL_userProperties& properties = network.GetUserProperties();
    noisyMax = network.GetNoisyMaxRelevance();
    const int property = properties.FindProperty("QNL_NOISYMAXRELEVANCE");
    if (property >= 0) noisyMax = quarn::detail::LeadingInteger(properties.GetValue(property)) != 0;

    const int count = network.GetNumberOfNodes();
    if (count == 0) {
        block = std::make_shared<RecordBlock>();
        return 0;
    }
    // Room for one extra record per parent of every observed noisy-MAX node.
    std::size_t extras = 0;
    for (int h = network.GetFirstNode(); noisyMax && h >= 0; h = network.GetNextNode(h)) {
        const QNL_node* node = network.GetNode(h);
        if (node->GetType() == QNL_TYPE_NOISY_MAX && node->GetValue() != nullptr &&
            node->GetValue()->IsObserved())
            extras += static_cast<std::size_t>(network.GetParents(h).GetCount());
    }
    const std::size_t size = static_cast<std::size_t>(count) + extras;
    // The last reduction's block, when nothing holds it any more and it is large enough.
    if (scratch != nullptr && scratch->block != nullptr && scratch->block.use_count() == 1 &&
        scratch->block->capacity >= size) {
        block = scratch->block;
        block->size = size;
        for (std::size_t i = 0; i < size; ++i)
            block->records[i].Reset();
    } else {
        block = std::make_shared<RecordBlock>();
        block->records.reset(new QNL_relevanceNode[size]);
        block->size = block->capacity = size;
        if (scratch != nullptr) scratch->block = block;
    }
    recordOfHandle.assign(static_cast<std::size_t>(network.GetLastNode() + 1), -1);
    records.reserve(static_cast<std::size_t>(count));
    int index = 0;
    for (int h = network.GetFirstNode(); h >= 0 && index < count; h = network.GetNextNode(h)) {
        QNL_relevanceNode& record = block->records[static_cast<std::size_t>(index)];
        if (int r = MakeRecord(record, h)) return r;
        recordOfHandle[static_cast<std::size_t>(h)] = index++;
        records.push_back(&record);
    }
    if (int r = LinkRecords()) return r;
    if (noisyMax) return DecomposeNoisyMax(index);
    return 0;
}

// P(Y lowest | parents) of a noisy-MAX node is the product of the leak's and each parent's
// active column at the lowest outcome, so each parent can stand alone under an observed extra
// record holding its parameter columns. The node keeps its observed parents and one
// unobserved parent, with the leak folded into its table: then every factor is counted once
// and stays inside a component, so the probability of evidence comes out whole, not only
// the posteriors. Nodes with fewer than two unobserved parents gain nothing and stay whole.
int QNL_relevance::DecomposeNoisyMax(int next) {
    const std::size_t original = records.size();
    for (std::size_t r = 0; r < original; ++r) {
        QNL_relevanceNode& y = *records[r];
        const auto* gate = dynamic_cast<const QNL_noisyMAX*>(y.node->GetDefinition());
        const int n = y.outcomes;
        const int parentCount = y.parents.GetCount();
        if (gate == nullptr || n < 2 || y.observed != n - 1 || parentCount < 2 ||
            gate->GetNumberOfBlocks() != parentCount || y.tableKind != 2)
            continue;
        bool aligned = true;
        int unobserved = 0;
        for (int i = 0; i < parentCount; ++i) {
            aligned = aligned && gate->GetBlockParent(i) == y.parents[i]->handle &&
                      gate->GetBlockSize(i) == y.parents[i]->outcomes;
            if (y.parents[i]->observed < 0) ++unobserved;
        }
        if (!aligned || unobserved < 2) continue;

        const QNL_Dmatrix& params = gate->GetParameters();
        const double* cells = params.GetItems().Items();
        // Block position of every parent outcome.
        std::vector<std::vector<int>> positionOf(static_cast<std::size_t>(parentCount));
        for (int i = 0; i < parentCount; ++i) {
            const QNL_intArray& s = *gate->GetParentOutcomeStrengths(i);
            positionOf[static_cast<std::size_t>(i)].resize(static_cast<std::size_t>(s.GetCount()));
            for (int j = 0; j < s.GetCount(); ++j)
                positionOf[static_cast<std::size_t>(i)][static_cast<std::size_t>(s[j])] = j;
        }
        auto column = [&](int i, int x) {
            const int c = gate->GetParentColumnOffset(i) +
                          positionOf[static_cast<std::size_t>(i)][static_cast<std::size_t>(x)];
            return cells + static_cast<std::size_t>(c) * n;
        };

        std::vector<int> kept;
        bool keptUnobserved = false;
        for (int i = 0; i < parentCount; ++i) {
            QNL_relevanceNode* parent = y.parents[i];
            if (parent->observed >= 0 || !keptUnobserved) {
                keptUnobserved = keptUnobserved || parent->observed < 0;
                kept.push_back(i);
                continue;
            }
            QNL_relevanceNode& extra = block->records[static_cast<std::size_t>(next++)];
            extra.outcomes = n;
            extra.observed = n - 1;
            QNL_Dmatrix table;
            const int shape[2] = {parent->outcomes, n};
            if (int e = table.Setup(shape, 2)) return e;
            for (int x = 0; x < parent->outcomes; ++x)
                std::copy_n(column(i, x), n,
                            table.GetItems().Items() + static_cast<std::size_t>(x) * n);
            extra.TakeTable(std::move(table));
            if (extra.parents.Add(parent) != 0) return -42;
            const int at = parent->children.FindPosition(&y);
            if (at >= 0) parent->children[at] = &extra;
            records.push_back(&extra);
        }

        // The node's own table over the kept parents: the leak times their active columns,
        // in cumulative form.
        std::vector<int> shape;
        std::int64_t columns = 1;
        for (int i : kept) {
            shape.push_back(y.parents[i]->outcomes);
            columns *= y.parents[i]->outcomes;
        }
        shape.push_back(n);
        QNL_Dmatrix table;
        if (int e = table.Setup(shape.data(), static_cast<int>(shape.size()))) return e;
        const double* leak = cells + static_cast<std::size_t>(gate->GetNumberOfColumns() - 1) * n;
        std::vector<int> x(kept.size(), 0);
        std::vector<double> cumulative(static_cast<std::size_t>(n));
        auto tail = [n](const double* p, int k) {
            double sum = 0.0;
            for (int j = k; j < n; ++j)
                sum += p[j];
            return sum;
        };
        for (std::int64_t col = 0; col < columns; ++col) {
            for (int k = 0; k < n; ++k) {
                double v = tail(leak, k);
                for (std::size_t a = 0; a < kept.size(); ++a)
                    v *= tail(column(kept[a], x[a]), k);
                cumulative[static_cast<std::size_t>(k)] = v;
            }
            double* out = table.GetItems().Items() + col * n;
            for (int k = 0; k < n; ++k)
                out[k] = std::max(
                    0.0, cumulative[static_cast<std::size_t>(k)] -
                             (k + 1 < n ? cumulative[static_cast<std::size_t>(k + 1)] : 0.0));
            for (std::size_t a = kept.size(); a-- > 0;) {
                if (++x[a] < y.parents[kept[a]]->outcomes) break;
                x[a] = 0;
            }
        }
        for (std::size_t a = 0; a < kept.size(); ++a)
            y.parents[static_cast<int>(a)] = y.parents[kept[a]];
        y.parents.SetCount(static_cast<int>(kept.size()));
        y.TakeTable(std::move(table));
    }
    return 0;
}

int QNL_relevance::MakeRecord(QNL_relevanceNode& record, int handle) {
    QNL_node* node = network.GetNode(handle);
    QNL_nodeDefinition* definition = node->GetDefinition();
    const QNL_nodeValue* value = node->GetValue();
    record.node = node;
    record.handle = handle;
    record.outcomes = definition != nullptr ? std::max(definition->GetNumberOfOutcomes(), 0) : 0;
    record.target = allTargets || network.IsTarget(handle) == 1;

    const unsigned flags = value != nullptr ? value->GetFlags() : 0u;
    if (value != nullptr && value->IsObserved()) ++evidenceCount;
    const bool observed = (flags & QNL_nodeValue::FLAG_EVIDENCE) ||
                          (usePropagated && (flags & QNL_nodeValue::FLAG_PROPAGATED));
    if (observed) {
        const int outcome = value->GetEvidence();
        if (outcome >= 0 && outcome < record.outcomes) record.observed = outcome;
    }

    const int type = definition != nullptr ? definition->GetType() : 0;
    if (flags & kMarker) {
        if (IsGateType(type)) {
            QNL_Dmatrix twoCells;
            if (int r = GateTwoCellTable(*node, twoCells)) return r;
            record.TakeTable(std::move(twoCells));
            return 0;
        }
        // A table that keeps its parents' dimensions cannot stand for a node without
        // parents, so other types with the marker are refused rather than misread.
        return QNL_errorHandler::Instance().LogError(
            -51, "Relevance: node [" + NodeName(node) +
                     "] is marked to be cut from its parents but has no table for that");
    }
    QNL_Dmatrix* matrix = definition != nullptr ? definition->GetMatrix() : nullptr;
    if (matrix != nullptr && matrix->GetSize() > 0) {
        record.sharedTable = matrix;
        record.tableKind = 2;
    }
    return 0;
}

int QNL_relevance::LinkRecords() {
    auto marked = [](const QNL_relevanceNode* r) {
        const QNL_nodeValue* value = r->node->GetValue();
        return value != nullptr && (value->GetFlags() & kMarker) != 0;
    };
    for (QNL_relevanceNode* record : records) {
        if (!marked(record)) {
            const QNL_intArray& parents = network.GetParents(record->handle);
            for (int i = 0; i < parents.GetCount(); ++i) {
                QNL_relevanceNode* parent = FindRecord(parents[i]);
                if (parent != nullptr && record->parents.Add(parent) != 0) return -42;
            }
        }
        const QNL_intArray& children = network.GetChildren(record->handle);
        for (int i = 0; i < children.GetCount(); ++i) {
            QNL_relevanceNode* child = FindRecord(children[i]);
            if (child != nullptr && !marked(child) && record->children.Add(child) != 0) return -42;
        }
    }
    for (QNL_relevanceNode* record : records) {
        const QNL_Dmatrix* table = record->GetTable();
        if (table != nullptr && TableFits(*table, *record)) continue;
        if (!HasProbabilityTable(record->node->GetType())) {
            // Nodes of other kinds (decisions, utilities, continuous nodes) only take part in
            // the structure.
            record->sharedTable = nullptr;
            record->tableKind = 0;
            continue;
        }
        return QNL_errorHandler::Instance().LogError(
            -567, "Relevance: the table of node [" + NodeName(record->node) +
                      "] does not fit its parents and outcomes");
    }
    return 0;
}

// An unobserved non-target record without children cannot influence a target: it goes, and
// its parents are looked at again. Explicit stack, parents in parent order.
void QNL_relevance::MarkBarren() {
    auto barren = [](const QNL_relevanceNode* r) {
        return r->mark != QNL_relevanceNode::MARK_BARREN && r->observed < 0 && !r->target &&
               r->children.GetCount() == 0;
    };
    std::vector<QNL_relevanceNode*> ownStack;
    std::vector<QNL_relevanceNode*>& stack = scratch != nullptr ? scratch->stack : ownStack;
    stack.clear();
    for (QNL_relevanceNode* start : records) {
        if (!barren(start)) continue;
        stack.push_back(start);
        while (!stack.empty()) {
            QNL_relevanceNode* record = stack.back();
            stack.pop_back();
            if (!barren(record)) continue;
            record->mark = QNL_relevanceNode::MARK_BARREN;
            for (int i = record->parents.GetCount() - 1; i >= 0; --i) {
                QNL_relevanceNode* parent = record->parents[i];
                parent->children.DeleteByContent(record);
                stack.push_back(parent);
            }
            record->parents.Flush();
        }
    }
}

void QNL_relevance::RemoveMarked(int mark) {
    std::size_t kept = 0;
    for (QNL_relevanceNode* record : records) {
        if (record->mark == mark)
            record->Release();
        else
            records[kept++] = record;
    }
    records.resize(kept);
}

// A child all of whose columns put certainty on one outcome when the observed parent takes
// its outcome is observed at that outcome and no longer needs its parents.
int QNL_relevance::ObserveChild(QNL_relevanceNode& child, int outcome) {
    QNL_Dmatrix certain;
    const int size = child.outcomes;
    if (int r = certain.Setup(&size, 1)) return r;
    certain.FillWith(0.0);
    certain.Subscript(outcome) = 1.0;
    if (int r = child.SetObservedOutcome(outcome)) return r;
    child.TakeTable(std::move(certain));
    for (int i = 0; i < child.parents.GetCount(); ++i)
        child.parents[i]->children.DeleteByContent(&child);
    child.parents.Flush();
    return 0;
}

// A parent with only one outcome that leaves the observation possible is observed at it;
// the observed record keeps the slice of its table at that outcome.
int QNL_relevance::ObserveParent(QNL_relevanceNode& record, QNL_relevanceNode& parent,
                                 int outcome) {
    const int dim = record.parents.FindPosition(&parent);
    QNL_Dmatrix slice;
    if (int r = record.GetTable()->GetSlice(dim, outcome, slice)) return r;
    if (int r = parent.SetObservedOutcome(outcome)) return r;
    record.TakeTable(std::move(slice));
    record.parents.Delete(dim);
    parent.children.DeleteByContent(&record);
    return 0;
}

// Walks from every observed record, first over its children and then over its parents,
// continuing at once from each record that becomes observed. The lists are walked as they
// were when the walk reached them; what changed since is caught by the checks.
int QNL_relevance::PropagateDeterministic() {
    using Frame = quarn::detail::DeterministicFrame;
    std::vector<Frame> ownFrames;
    std::vector<QNL_relevanceNode*> ownPending;
    std::vector<const QNL_relevanceNode*> ownDerived;
    std::vector<Frame>& frames = scratch != nullptr ? scratch->frames : ownFrames;
    std::vector<QNL_relevanceNode*>& pending = scratch != nullptr ? scratch->pending : ownPending;
    // The records an observation was derived for or from. The walk passes over neighbours
    // that are already observed, so a finding that contradicts a derived outcome is found
    // only by the check at the end; without it the derived outcome would silence the finding.
    std::vector<const QNL_relevanceNode*>& derived =
        scratch != nullptr ? scratch->derived : ownDerived;
    frames.clear();
    pending.clear();
    derived.clear();
    auto enter = [&](QNL_relevanceNode* record) {
        record->mark = QNL_relevanceNode::MARK_DETERMINISTIC;
        const std::size_t begin = pending.size();
        for (int i = 0; i < record->children.GetCount(); ++i)
            pending.push_back(record->children[i]);
        frames.push_back({record, false, begin, begin, pending.size()});
    };
    auto open = [](const QNL_relevanceNode* r) {
        return r->observed < 0 && r->mark != QNL_relevanceNode::MARK_BARREN;
    };

    for (QNL_relevanceNode* start : records) {
        if (start->mark != QNL_relevanceNode::MARK_NONE || start->observed < 0) continue;
        enter(start);
        while (!frames.empty()) {
            Frame& frame = frames.back();
            QNL_relevanceNode* record = frame.record;
            if (frame.next == frame.end) {
                pending.resize(frame.begin);
                if (frame.parentsPhase) {
                    frames.pop_back();
                    continue;
                }
                for (int i = 0; i < record->parents.GetCount(); ++i)
                    pending.push_back(record->parents[i]);
                frame.parentsPhase = true;
                frame.next = frame.begin;
                frame.end = pending.size();
                continue;
            }
            QNL_relevanceNode* other = pending[frame.next++];
            const int o = record->observed;
            if (!open(other)) continue;
            if (!frame.parentsPhase) {
                const QNL_Dmatrix* table = other->GetTable();
                const int dim = other->parents.FindPosition(record);
                if (table == nullptr || dim < 0) continue;
                const int own = table->GetNumberOfDimensions() - 1;
                if (log != nullptr)
                    log->NoteCheck(*other, *record, dim, own, other->outcomes, true);
                // Certain only where every other outcome's cells are 0: a row such as
                // (1 - 1e-17, 1e-17) is held as (1, 1e-17).
                int certain = -1, possible = 0;
                for (int k = 0; k < other->outcomes && possible < 2; ++k) {
                    if (table->IsSliceFilledWith(0.0, dim, o, own, k) == 0) {
                        certain = k;
                        ++possible;
                    }
                }
                if (possible != 1) continue;
                if (log != nullptr) log->keepable = false;
                if (int r = ObserveChild(*other, certain)) return r;
                derived.push_back(other);
                enter(other);
            } else {
                const QNL_Dmatrix* table = record->GetTable();
                const int dim = record->parents.FindPosition(other);
                if (table == nullptr || dim < 0) continue;
                const int own = table->GetNumberOfDimensions() - 1;
                if (log != nullptr)
                    log->NoteCheck(*record, *record, dim, own, other->outcomes, false);
                int possible = -1, count = 0;
                for (int j = 0; j < other->outcomes && count < 2; ++j) {
                    if (table->IsSliceFilledWith(0.0, dim, j, own, o) == 0) {
                        possible = j;
                        ++count;
                    }
                }
                if (count != 1) continue;
                if (log != nullptr) log->keepable = false;
                if (int r = ObserveParent(*record, *other, possible)) return r;
                derived.push_back(record);
                derived.push_back(other);
                enter(other);
            }
        }
    }
    if (derived.empty()) return 0;
    auto isDerived = [&](const QNL_relevanceNode* r) {
        return std::find(derived.begin(), derived.end(), r) != derived.end();
    };
    QNL_intArray fixed;
    for (const QNL_relevanceNode* record : records) {
        const QNL_Dmatrix* table = record->GetTable();
        const int parentCount = record->parents.GetCount();
        if (record->observed < 0 || table == nullptr) continue;
        // A derived outcome is checked against the record's own table too, parents or not.
        bool involved = isDerived(record);
        for (int i = 0; i < parentCount && !involved; ++i)
            involved = record->parents[i]->observed >= 0 && isDerived(record->parents[i]);
        if (!involved) continue;
        if (fixed.SetSize(parentCount + 1) != 0) return -42;
        for (int i = 0; i < parentCount; ++i)
            fixed[i] = record->parents[i]->observed;
        fixed[parentCount] = record->observed;
        if (table->IsSliceFilledWith(0.0, fixed) == 1) return IMPOSSIBLE_EVIDENCE;
    }
    return 0;
}

// Every child keeps only the slice of its table at its observed parents' outcomes, taken in
// one pass per child. Children without a table keep their observed parents.
int QNL_relevance::AbsorbEvidence() {
    QNL_intArray fixed;
    for (QNL_relevanceNode* child : records) {
        const QNL_Dmatrix* table = child->GetTable();
        const int parentCount = child->parents.GetCount();
        if (table == nullptr || parentCount == 0) continue;
        bool any = false;
        for (int i = 0; i < parentCount && !any; ++i)
            any = child->parents[i]->observed >= 0;
        if (!any) continue;
        if (scratch != nullptr) {
            // The slice copied into storage kept from the last reduction, cell for cell as
            // GetSubmatrix takes it.
            std::vector<QNL_relevanceNode*>& observedParents = scratch->fixedParents;
            std::vector<int>& shape = scratch->shape;
            observedParents.assign(static_cast<std::size_t>(parentCount) + 1, nullptr);
            shape.clear();
            for (int i = 0; i < parentCount; ++i) {
                if (child->parents[i]->observed >= 0)
                    observedParents[static_cast<std::size_t>(i)] = child->parents[i];
                else
                    shape.push_back(table->GetSizeOfDimension(i));
            }
            shape.push_back(table->GetSizeOfDimension(parentCount));
            QNL_Dmatrix& slice = table == &child->ownTable ? scratch->table : child->ownTable;
            if (int r = ShapeTable(slice, shape)) return r;
            CopySlice(*table, observedParents, slice, scratch->position);
            if (log != nullptr) log->NoteStep(child, true, -1, &observedParents, nullptr, slice);
            if (&slice != &child->ownTable) std::swap(slice, child->ownTable);
            child->UseOwnTable();
        } else {
            if (fixed.SetSize(parentCount + 1) != 0) return -42;
            for (int i = 0; i < parentCount; ++i)
                fixed[i] = child->parents[i]->observed;
            fixed[parentCount] = -1;
            QNL_Dmatrix slice;
            if (int r = table->GetSubmatrix(fixed, slice)) return r;
            child->TakeTable(std::move(slice));
        }
        int kept = 0;
        for (int i = 0; i < parentCount; ++i)
            if (child->parents[i]->observed < 0) child->parents[kept++] = child->parents[i];
        child->parents.SetCount(kept);
    }
    for (QNL_relevanceNode* record : records) {
        if (record->observed < 0) continue;
        int kept = 0;
        for (int i = 0; i < record->children.GetCount(); ++i)
            if (record->children[i]->GetTable() == nullptr)
                record->children[kept++] = record->children[i];
        record->children.SetCount(kept);
    }
    return 0;
}

// An unobserved non-target root with one child only matters through that child: it is
// summed into the child's table, weighted by its own, and the child is looked at next. A sum
// whose products leave the range of a double would lose what the trees keep with wide cells:
// such a root stays.
int QNL_relevance::CutRoots() {
    quarn::detail::RangeWatch watch;
    for (QNL_relevanceNode* start : records) {
        QNL_relevanceNode* root = start;
        while (root->mark != QNL_relevanceNode::MARK_ROOT_CUT && root->observed < 0 &&
               !root->target && root->parents.GetCount() == 0 && root->children.GetCount() == 1) {
            QNL_relevanceNode* child = root->children[0];
            const QNL_Dmatrix* weights = root->GetTable();
            const QNL_Dmatrix* table = child->GetTable();
            const int dim = child->parents.FindPosition(root);
            if (weights == nullptr || table == nullptr || dim < 0 ||
                weights->GetNumberOfDimensions() != 1)
                break;
            if (scratch != nullptr) {
                // The same sum into storage kept from the last reduction.
                std::vector<int>& shape = scratch->shape;
                shape.clear();
                for (int d = 0; d < table->GetNumberOfDimensions(); ++d)
                    if (d != dim) shape.push_back(table->GetSizeOfDimension(d));
                QNL_Dmatrix& summed = table == &child->ownTable ? scratch->table : child->ownTable;
                if (int r = ShapeTable(summed, shape)) return r;
                WeightedSum(*table, dim, *weights, summed);
                if (watch.Left()) {
                    watch.Restart();
                    break;
                }
                if (log != nullptr) log->NoteStep(child, false, dim, nullptr, root, summed);
                if (&summed != &child->ownTable) std::swap(summed, child->ownTable);
                child->UseOwnTable();
            } else {
                QNL_Dmatrix summed;
                if (int r = table->SumOutDimension(dim, weights->GetItems(), summed)) return r;
                if (watch.Left()) {
                    watch.Restart();
                    break;
                }
                child->TakeTable(std::move(summed));
            }
            child->parents.Delete(dim);
            root->children.Flush();
            root->mark = QNL_relevanceNode::MARK_ROOT_CUT;
            root = child;
        }
    }
    RemoveMarked(QNL_relevanceNode::MARK_ROOT_CUT);
    return 0;
}

// Labels the records connected to each target, drops the rest and hands out one component
// per label; a lone observed record only leaves the certainty of its outcome behind.
int QNL_relevance::Split(QNL_componentList& out) {
    for (QNL_relevanceNode* record : records)
        record->mark = QNL_relevanceNode::MARK_NONE;
    int labels = 0;
    std::vector<QNL_relevanceNode*> ownStack;
    std::vector<QNL_relevanceNode*>& stack = scratch != nullptr ? scratch->stack : ownStack;
    stack.clear();
    for (QNL_relevanceNode* start : records) {
        if (!start->target || start->mark != QNL_relevanceNode::MARK_NONE) continue;
        start->mark = ++labels;
        stack.push_back(start);
        while (!stack.empty()) {
            QNL_relevanceNode* record = stack.back();
            stack.pop_back();
            for (int i = 0; i < record->parents.GetCount(); ++i) {
                QNL_relevanceNode* other = record->parents[i];
                if (other->mark == QNL_relevanceNode::MARK_NONE) {
                    other->mark = labels;
                    stack.push_back(other);
                }
            }
            for (int i = 0; i < record->children.GetCount(); ++i) {
                QNL_relevanceNode* other = record->children[i];
                if (other->mark == QNL_relevanceNode::MARK_NONE) {
                    other->mark = labels;
                    stack.push_back(other);
                }
            }
        }
    }
    RemoveMarked(QNL_relevanceNode::MARK_NONE);

    std::vector<std::unique_ptr<QNL_relevanceComponent>> ownParts;
    std::vector<int> ownSizes;
    std::vector<std::unique_ptr<QNL_relevanceComponent>>& parts =
        scratch != nullptr ? scratch->parts : ownParts;
    std::vector<int>& sizes = scratch != nullptr ? scratch->sizes : ownSizes;
    // Each list allocated once, at its size. A lone observed record needs no component, only
    // its certainty: with most nodes observed nearly every label is one, and a component each
    // made the split cost their square.
    std::vector<QNL_relevanceNode*>& loneOf = stack;
    loneOf.assign(static_cast<std::size_t>(labels), nullptr);
    sizes.assign(static_cast<std::size_t>(labels), 0);
    for (QNL_relevanceNode* record : records) {
        const std::size_t label = static_cast<std::size_t>(record->mark - 1);
        if (++sizes[label] == 1) loneOf[label] = record;
    }
    parts.clear();
    parts.resize(static_cast<std::size_t>(labels));
    for (std::size_t label = 0; label < parts.size(); ++label) {
        if (sizes[label] == 1 && loneOf[label]->observed >= 0) continue;
        loneOf[label] = nullptr;
        std::unique_ptr<QNL_relevanceComponent>& part = parts[label];
        const std::size_t size = static_cast<std::size_t>(sizes[label]);
        if (scratch != nullptr && !scratch->spareComponents.empty()) {
            // The emptied component whose list fits most closely, else the last one.
            auto& spare = scratch->spareComponents;
            std::size_t best = spare.size() - 1;
            for (std::size_t i = 0; i < spare.size(); ++i) {
                const std::size_t room = spare[i]->records.capacity();
                if (room >= size && (spare[best]->records.capacity() < size ||
                                     room < spare[best]->records.capacity()))
                    best = i;
            }
            part = std::move(spare[best]);
            spare.erase(spare.begin() + static_cast<std::ptrdiff_t>(best));
        }
        if (part == nullptr) part.reset(new QNL_relevanceComponent());
        part->network = &network;
        part->block = block;
        part->records.reserve(size);
    }
    for (QNL_relevanceNode* record : records) {
        const std::size_t label = static_cast<std::size_t>(record->mark - 1);
        if (loneOf[label] == nullptr) parts[label]->records.push_back(record);
    }
    out.items.reserve(parts.size());
    for (std::size_t label = 0; label < parts.size(); ++label) {
        if (QNL_relevanceNode* lone = loneOf[label]) {
            const int r = lone->SetObservedOutcome(lone->observed);
            lone->Release();
            if (r != 0) return r;
            if (log != nullptr) log->lone.push_back(lone);
            continue;
        }
        std::unique_ptr<QNL_relevanceComponent>& part = parts[label];
        for (std::size_t i = 0; i < part->records.size(); ++i) {
            QNL_relevanceNode* record = part->records[i];
            // Extra records stand for no node and break the handle order.
            if (record->handle < 0) part->inHandleOrder = false;
            record->component = part.get();
            record->position = static_cast<int>(i);
            if (record->observed >= 0) ++part->evidenceCount;
        }
        out.items.push_back(part.release());
    }
    parts.clear();
    records.clear();
    return 0;
}

int QNL_relevance::Reduce(QNL_network& network, bool cutRoots, bool usePropagatedEvidence,
                          QNL_componentList& out) {
    return Reduce(network, cutRoots, usePropagatedEvidence, out, nullptr);
}

int QNL_relevance::Reduce(QNL_network& network, bool cutRoots, bool usePropagatedEvidence,
                          QNL_componentList& out, quarn::detail::ReductionLog* log) {
    out.Clear();
    try {
        QNL_relevance graph(network, usePropagatedEvidence,
                            log != nullptr ? &log->scratch : nullptr);
        if (graph.status != 0) return graph.status;
        if (log != nullptr) {
            graph.log = log;
            log->network = &network;
            log->block = graph.block;
            log->lastStep.assign(graph.block->size, -1);
            for (QNL_relevanceNode* record : graph.records)
                if (record->observed >= 0) log->observed.push_back(record);
        }
        graph.MarkBarren();
        if (usePropagatedEvidence) {
            const int r = graph.PropagateDeterministic();
            // The walk has written certainties of derived outcomes that now mean nothing.
            if (r == IMPOSSIBLE_EVIDENCE) network.InvalidateValues();
            if (r != 0) return r;
        }
        graph.MarkBarren();
        graph.RemoveMarked(QNL_relevanceNode::MARK_BARREN);
        if (int r = graph.AbsorbEvidence()) return r;
        if (cutRoots) {
            if (int r = graph.CutRoots()) return r;
        }
        if (int r = graph.Split(out)) {
            out.Clear();
            return r;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        out.Clear();
        return -42;
    }
}

// ---------------------------------------------------------------- kept reductions

namespace {

// The slice QNL_Dmatrix::GetSubmatrix takes, into a table of its shape: a copy, so equal
// cell for cell.
void CopySlice(const QNL_Dmatrix& in, const std::vector<QNL_relevanceNode*>& fixed,
               QNL_Dmatrix& out, std::vector<int>& at) {
    const int rank = in.GetNumberOfDimensions();
    std::int64_t offset = 0;
    at.assign(static_cast<std::size_t>(rank), 0);
    for (int d = 0; d < rank; ++d)
        if (fixed[static_cast<std::size_t>(d)] != nullptr)
            offset += std::int64_t{fixed[static_cast<std::size_t>(d)]->GetObservedOutcome()} *
                      in.GetMultiplier(d);
    const double* source = in.GetItems().Items();
    double* target = out.GetItems().Items();
    const std::int64_t cells = out.GetSize();
    // The last dimension (the record's own) is always free and the fastest.
    const int last = rank - 1;
    const int run = in.GetSizeOfDimension(last);
    const std::int64_t step = in.GetMultiplier(last);
    for (std::int64_t written = 0; written < cells; written += run) {
        std::int64_t from = offset;
        for (int d = 0; d < last; ++d)
            from += std::int64_t{at[static_cast<std::size_t>(d)]} * in.GetMultiplier(d);
        for (int k = 0; k < run; ++k)
            target[written + k] = source[from + k * step];
        for (int d = last - 1; d >= 0; --d) {
            if (fixed[static_cast<std::size_t>(d)] != nullptr) continue;
            if (++at[static_cast<std::size_t>(d)] < in.GetSizeOfDimension(d)) break;
            at[static_cast<std::size_t>(d)] = 0;
        }
    }
}

// QNL_Dmatrix::SumOutDimension's weighted sum, the same operations in the same order, into a
// table of the result's shape.
void WeightedSum(const QNL_Dmatrix& in, int dim, const QNL_Dmatrix& weights, QNL_Dmatrix& out) {
    const int n = in.GetSizeOfDimension(dim);
    const std::int64_t inner = in.GetMultiplier(dim);
    const std::int64_t block = inner * n;
    const std::int64_t outer = static_cast<std::int64_t>(in.GetSize()) / block;
    const double* source = in.GetItems().Items();
    const double* w = weights.GetItems().Items();
    double* target = out.GetItems().Items();
    std::fill(target, target + out.GetSize(), 0.0);
    for (std::int64_t o = 0; o < outer; ++o) {
        double* row = target + o * inner;
        for (int k = 0; k < n; ++k) {
            const double weight = w[k];
            const double* column = source + o * block + k * inner;
            for (std::int64_t i = 0; i < inner; ++i)
                row[i] += weight * column[i];
        }
    }
}

} // namespace

namespace quarn::detail {

int ReductionLog::Finish() {
    for (std::size_t r = 0; r < block->size; ++r) {
        QNL_relevanceNode& record = block->records[r];
        if (record.GetComponent() == nullptr) continue;
        if (record.GetNodeHandle() < 0) return -2;
        live.push_back(&record);
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
        Step& step = steps[i];
        if (StepOf(step.record) == static_cast<int>(i) && step.record->GetComponent() != nullptr) {
            step.result = &step.record->ownTable;
            continue;
        }
        if (int r = ShapeTable(step.kept, step.shape)) return r;
        step.result = &step.kept;
    }
    certainty.reserve(16);
    return 0;
}

void ReductionLog::Reset(QNL_componentList& components) {
    for (QNL_relevanceComponent*& component : components.items) {
        if (component == nullptr) continue;
        std::unique_ptr<QNL_relevanceComponent> part(component);
        component = nullptr;
        part->Reset();
        scratch.spareComponents.push_back(std::move(part));
    }
    components.items.clear();
    keepable = true;
    network = nullptr;
    block.reset();
    observed.clear();
    checks.clear();
    // Last step first, so that each step takes the storage of the step at its place.
    for (std::size_t i = steps.size(); i-- > 0;)
        spareSteps.push_back(std::move(steps[i]));
    steps.clear();
    lastStep.clear();
    lone.clear();
    live.clear();
}

int ReductionLog::Replay() {
    // The records take the nodes and definition matrices the network holds now.
    for (QNL_relevanceNode* record : live) {
        record->node = Node(record->handle);
        if (record->node == nullptr) return 0;
        if (record->tableKind != QNL_graphView::TABLE_DEFINITION) continue;
        record->sharedTable = Table(record->handle);
        if (record->sharedTable == nullptr) return 0;
    }
    // A slice whose first cell differs from the value is not filled with it: most tests end
    // there, without a walk over the slice.
    auto filled = [](const QNL_Dmatrix& table, double value, int dim, int at, int own, int k) {
        const std::int64_t first = std::int64_t{at} * table.GetMultiplier(dim) +
                                   std::int64_t{k} * table.GetMultiplier(own);
        if (at >= 0 && at < table.GetSizeOfDimension(dim) && k >= 0 &&
            k < table.GetSizeOfDimension(own) && table.GetItems()[static_cast<int>(first)] != value)
            return 0;
        return table.IsSliceFilledWith(value, dim, at, own, k);
    };
    for (const Check& check : checks) {
        const QNL_Dmatrix* table = Table(check.owner);
        const QNL_node* node = Node(check.observed);
        if (table == nullptr || node == nullptr) return 0;
        const int o = node->GetValue()->GetEvidence();
        int count = 0;
        for (int j = 0; j < check.count && count < 2; ++j) {
            const bool possible = check.child
                                      ? filled(*table, 0.0, check.dim, o, check.own, j) == 0
                                      : filled(*table, 0.0, check.dim, j, check.own, o) == 0;
            if (possible) ++count;
        }
        if (count == 1) return 0;
    }
    for (QNL_relevanceNode* record : observed) {
        const QNL_node* node = Node(record->handle);
        if (node == nullptr) return 0;
        record->observed = node->GetValue()->GetEvidence();
    }
    // A sum that leaves the range of a double now is one a fresh reduction would not make.
    const RangeWatch watch;
    for (Step& step : steps) {
        const QNL_Dmatrix* input =
            step.from < 0 ? Table(step.record->handle) : steps[step.from].result;
        if (input == nullptr) return 0;
        if (step.absorb) {
            CopySlice(*input, step.parents, *step.result, position);
            continue;
        }
        const QNL_Dmatrix* weights =
            step.weightsFrom < 0 ? Table(step.root) : steps[step.weightsFrom].result;
        if (weights == nullptr) return 0;
        WeightedSum(*input, step.dim, *weights, *step.result);
    }
    if (watch.Left()) return 0;
    for (QNL_relevanceNode* record : lone) {
        const int n = record->GetNumberOfOutcomes();
        certainty.assign(static_cast<std::size_t>(n), 0.0);
        certainty[static_cast<std::size_t>(record->observed)] = 1.0;
        if (int r = WriteNodeBeliefs(Node(record->handle), certainty.data(), n)) return r;
    }
    return 1;
}

} // namespace quarn::detail

QNL_keptReduction::QNL_keptReduction() = default;

QNL_keptReduction::~QNL_keptReduction() {
    // The components release their records' tables before the log's results go.
    components.Clear();
}

bool QNL_keptReduction::ReadKey(const QNL_network& network, std::vector<unsigned char>& key) {
    bool noisyMax = network.GetNoisyMaxRelevance();
    QNL_userProperties& properties = const_cast<QNL_network&>(network).GetUserProperties();
    const int property = properties.FindProperty("QNL_NOISYMAXRELEVANCE");
    if (property >= 0) noisyMax = quarn::detail::LeadingInteger(properties.GetValue(property)) != 0;
    const bool allTargets = network.GetNumberOfTargets() == 0;
    const int last = network.GetLastNode();
    key.assign(last >= 0 ? static_cast<std::size_t>(last) + 2 : 1, 0);
    key[0] = static_cast<unsigned char>((noisyMax ? 1 : 0) | (allTargets ? 2 : 0));
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_node* node = network.GetNode(h);
        const QNL_nodeValue* value = node->GetValue();
        const QNL_nodeDefinition* definition = node->GetDefinition();
        const unsigned flags = value != nullptr ? value->GetFlags() : 0u;
        if (flags & kMarker) return false;
        bool observed = false;
        if (flags & (QNL_nodeValue::FLAG_EVIDENCE | QNL_nodeValue::FLAG_PROPAGATED)) {
            if (noisyMax && node->GetType() == QNL_TYPE_NOISY_MAX) return false;
            const int outcome = value->GetEvidence();
            observed = outcome >= 0 && definition != nullptr &&
                       outcome < definition->GetNumberOfOutcomes();
        }
        const bool target = allTargets || network.IsTarget(h) == 1;
        key[static_cast<std::size_t>(h) + 1] =
            static_cast<unsigned char>(1 | (observed ? 2 : 0) | (target ? 4 : 0));
    }
    return true;
}

int QNL_keptReduction::Make(QNL_network& network) {
    try {
        if (log == nullptr)
            log = std::make_unique<quarn::detail::ReductionLog>();
        else
            log->Reset(components);
        if (int r = QNL_relevance::Reduce(network, true, true, components, log.get())) {
            log.reset();
            return r;
        }
        if (log->keepable && log->Finish() != 0) log->keepable = false;
    } catch (const std::bad_alloc&) {
        components.Clear();
        log.reset();
        return -42;
    }
    return 0;
}

void QNL_keptReduction::Reset() {
    if (log == nullptr) {
        components.Clear();
        return;
    }
    try {
        log->Reset(components);
    } catch (const std::bad_alloc&) {
        components.Clear();
        log.reset();
    }
}

bool QNL_keptReduction::IsKeepable() const {
    return log != nullptr && log->keepable;
}

int QNL_keptReduction::Replay(QNL_network& network) {
    if (!IsKeepable() || log->network != &network) return 0;
    return log->Replay();
}

// A thirty-second more for the allocator's rounding of each block.
std::uint64_t QNL_keptReduction::GetSize() const {
    if (log == nullptr) return 0;
    const std::uint64_t bytes =
        sizeof(QNL_keptReduction) + sizeof(quarn::detail::ReductionLog) + log->Bytes(components);
    return bytes + bytes / 32;
}

namespace quarn::detail {

namespace {

// An allocation of `bytes`, with the allocator's own header.
std::uint64_t Allocation(std::uint64_t bytes) {
    return bytes > 0 ? bytes + 16 : 0;
}

template <typename T> std::uint64_t HeldBy(const std::vector<T>& list) {
    return Allocation(list.capacity() * sizeof(T));
}

// A small array's room beyond what it holds inline.
template <typename T, int Inline, typename Storage>
std::uint64_t HeapOf(const SmallArray<T, Inline, Storage>& list) {
    return list.GetSize() > Inline
               ? Allocation(static_cast<std::uint64_t>(list.GetSize()) * sizeof(T))
               : 0;
}

// Its cells, dimensions and multipliers.
std::uint64_t HeldBy(const QNL_Dmatrix& table) {
    return HeapOf(table.GetItems()) + 2 * HeapOf(table.GetDimensions());
}

} // namespace

// What a kept reduction holds, counted against the cache's bound: every list at its capacity,
// every record of the blocks with what its lists and own table hold on the heap.
std::uint64_t ReductionLog::Bytes(const QNL_componentList& components) const {
    std::uint64_t bytes = HeldBy(spareSteps) + HeldBy(observed) + HeldBy(checks) + HeldBy(steps) +
                          HeldBy(lastStep) + HeldBy(lone) + HeldBy(live) + HeldBy(certainty) +
                          HeldBy(position);
    for (const std::vector<Step>* list : {&steps, &spareSteps})
        for (const Step& step : *list)
            bytes += HeldBy(step.parents) + HeldBy(step.shape) + HeldBy(step.kept);
    const ReductionScratch& s = scratch;
    bytes += HeldBy(s.records) + HeldBy(s.recordOfHandle) + HeldBy(s.stack) + HeldBy(s.frames) +
             HeldBy(s.pending) + HeldBy(s.derived) + HeldBy(s.fixedParents) + HeldBy(s.shape) +
             HeldBy(s.position) + HeldBy(s.sizes) + HeldBy(s.table) + HeldBy(s.parts) +
             HeldBy(s.spareComponents);
    const RecordBlock* blocks[] = {block.get(), s.block != block ? s.block.get() : nullptr};
    for (const RecordBlock* b : blocks) {
        if (b == nullptr) continue;
        bytes +=
            Allocation(sizeof(RecordBlock)) + Allocation(b->capacity * sizeof(QNL_relevanceNode));
        for (std::size_t r = 0; r < b->capacity; ++r) {
            const QNL_relevanceNode& record = b->records[r];
            bytes += HeapOf(record.parents) + HeapOf(record.children) + HeldBy(record.ownTable);
        }
    }
    const auto componentBytes = [](const QNL_relevanceComponent* component) {
        return component == nullptr
                   ? 0
                   : Allocation(sizeof(QNL_relevanceComponent)) + HeldBy(component->records);
    };
    for (int i = 0; i < components.GetCount(); ++i)
        bytes += componentBytes(components[i]);
    bytes += HeldBy(components.items);
    for (const auto* list : {&s.parts, &s.spareComponents})
        for (const auto& component : *list)
            bytes += componentBytes(component.get());
    return bytes;
}

} // namespace quarn::detail
