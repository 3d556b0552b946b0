#include "model/network.h"

#include "definitions/node_value.h"
#include "inference/join_tree_cache.h"
#include "model/case_library.h"
#include "model/error_handler.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "model/submodel.h"
#include "model/temporal_network.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

QNL_nodeEntry::~QNL_nodeEntry() { delete node; }

int QNL_nodeEntry::CleanUp(int deep) {
    if (deep) {
        parents.CleanUp();
        children.CleanUp();
        costParents.CleanUp();
        costChildren.CleanUp();
    }
    flags = 0;
    return QNL_object::CleanUp(deep);
}

namespace {

void SwapEntries(QNL_nodeEntry& a, QNL_nodeEntry& b) {
    std::swap(a.node, b.node);
    a.parents.Swap(b.parents);
    a.children.Swap(b.children);
    a.costParents.Swap(b.costParents);
    a.costChildren.Swap(b.costChildren);
    std::swap(a.temporalType, b.temporalType);
    std::swap(a.flags, b.flags);
    std::swap(a.height, b.height);
}

QNL_intArray& EmptyList() {
    // Handed out for invalid handles; flushed each time so a caller's additions don't stay.
    static QNL_intArray empty;
    empty.CleanUp();
    return empty;
}

} // namespace

QNL_network::QNL_network() {
    status = STATUS_READY;
    if (Init(50, 50) != 0) status &= ~STATUS_VALID;
}

QNL_network::QNL_network(const QNL_network& source) : QNL_object() {
    status = STATUS_READY;
    if (Init(50, 50) != 0 || Copy(source, false) != 0) status &= ~STATUS_VALID;
}

QNL_network::~QNL_network() {
    delete[] table;
    delete submodels;
    delete cases;
}

int QNL_network::Init(int size, int growthStep) {
    CleanUp(1);
    if (size <= 0) size = 50;
    growth = growthStep > 0 ? growthStep : 50;
    try {
        if (submodels == nullptr) submodels = new QNL_submodelHandler();
        if (cases == nullptr) cases = new QNL_caseLibrary(this);
        table = new QNL_nodeEntry[static_cast<std::size_t>(size)];
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
    tableSize = size;
    capacity = size;
    ResetObservedList();
    int result = submodels->Init(this);
    if (result != 0) return result;
    QNL_submodel* main = submodels->GetSubmodel(SUBMODEL_FLAG);
    if (main != nullptr) {
        main->header.SetId("Unnamed");
        main->header.SetName("Unnamed");
    }
    return CheckConsistency(0);
}

void QNL_network::ReleaseTable() {
    StructureChanged();
    delete[] table;
    table = nullptr;
    tableSize = 0;
    capacity = 0;
    ForgetFreedSlots();
    setsByMember.clear();
    setsIndexed = true;
    observedCandidates.clear();
    isObservedCandidate.clear();
    computedCandidates.clear();
    isComputedCandidate.clear();
    walkTouched.clear();
    marksEverywhere = true;
    nodeCount = 0;
    targetCount = 0;
}

int QNL_network::CleanUp(int deep) {
    SettleEvidenceWalk();
    if (deep) {
        for (int i = 0; i < tableSize; ++i) table[i].CleanUp(deep);
        userProperties.CleanUp(deep);
        documentation.CleanUp(deep);
        if (submodels != nullptr) submodels->CleanUp(deep);
        if (cases != nullptr) cases->Clear();
    }
    ReleaseTable();
    temporal.reset();
    idIndex.clear();
    growth = 50;
    numberOfSamples = 1000;
    nodeDisplayMode = 3;
    creation = QNL_creationRecord();
    faultNameFormat = 0;
    orderedNodes.CleanUp();
    return CheckConsistency(0);
}

// A node that fails its check is reported and kept: removing it would lose the user's data
// behind an error that names nothing.
int QNL_network::CheckConsistency(int deep) {
    bool valid = true;
    if (deep) {
        userProperties.CheckConsistency(deep);
        if (submodels != nullptr) submodels->CheckConsistency(deep);
    }
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        QNL_node* node = table[h].node;
        node->CheckConsistency(deep);
        if (!node->IsValid()) {
            const char* id = node->GetId();
            std::string message = "ERROR: Node [";
            message += id != nullptr ? id : "";
            message += "] is not valid";
            QNL_errorHandler::Instance().LogError(-567, message.c_str());
            valid = false;
        }
    }
    status = valid ? (status | STATUS_VALID) : (status & ~STATUS_VALID);
    return valid ? 0 : -567;
}

int QNL_network::CheckReadiness(int deep) {
    if (deep) {
        userProperties.CheckReadiness(deep);
        documentation.CheckReadiness(deep);
        if (submodels != nullptr) submodels->CheckReadiness(deep);
        if (!userProperties.IsReady() || !documentation.IsReady() ||
            (submodels != nullptr && !submodels->IsReady())) {
            status &= ~STATUS_READY;
            return 0;
        }
    }
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        QNL_node* node = table[h].node;
        node->CheckReadiness(deep);
        if (!node->IsReady()) {
            const char* id = node->GetId();
            std::string message = "ERROR: Node [";
            message += id != nullptr ? id : "";
            message += "] is not consistent. Inference may not be correct";
            status &= ~STATUS_READY;
            return QNL_errorHandler::Instance().LogError(-568, message.c_str());
        }
    }
    status |= STATUS_READY;
    return 0;
}

// ---------------------------------------------------------------------------------------
// Copies: the new slot table is built completely before anything of this network changes,
// so a copy that runs out of memory leaves the destination as it was.

int QNL_network::CopySlots(const QNL_network& source) {
    QNL_nodeEntry* copy = nullptr;
    try {
        copy = new QNL_nodeEntry[static_cast<std::size_t>(source.tableSize)];
        for (int i = 0; i < source.tableSize; ++i) {
            const QNL_nodeEntry& from = source.table[i];
            QNL_nodeEntry& to = copy[i];
            if (to.parents.Assign(from.parents) != 0 || to.children.Assign(from.children) != 0 ||
                to.costParents.Assign(from.costParents) != 0 ||
                to.costChildren.Assign(from.costChildren) != 0)
                throw std::bad_alloc();
            to.temporalType = from.temporalType;
            to.flags = from.flags & ~(FLAG_BATCH_START | FLAG_BATCH_CHANGED);
            to.height = from.height;
            if (from.node != nullptr) {
                to.node = new QNL_node(*from.node);
                if (!to.node->IsValid() && from.node->IsValid()) throw std::bad_alloc();
            }
        }
    } catch (const std::bad_alloc&) {
        delete[] copy;
        return QNL_errorHandler::Instance().LogError(-42);
    }
    ReleaseTable();
    table = copy;
    tableSize = source.tableSize;
    capacity = source.tableSize;
    // Rebinding an observed node notes it in the observed list, sized for the new table.
    observedCandidates.clear();
    isObservedCandidate.assign(static_cast<std::size_t>(tableSize), 0);
    computedCandidates.clear();
    isComputedCandidate.assign(static_cast<std::size_t>(tableSize), 0);
    for (int i = 0; i < tableSize; ++i)
        if (table[i].node != nullptr) table[i].node->Rebind(this, i);
    nodeCount = source.nodeCount;
    targetCount = source.targetCount;
    // The evidence came without its notices: it is derived from afresh when next needed.
    derivation.known = false;
    RebuildIdIndex();
    ResetObservedList();
    return 0;
}

void QNL_network::CopySettings(const QNL_network& source) {
    growth = source.growth;
    numberOfSamples = source.numberOfSamples;
    bayesianAlgorithm = source.bayesianAlgorithm;
    noisyMaxRelevance = source.noisyMaxRelevance;
    influenceDiagramAlgorithm = source.influenceDiagramAlgorithm;
    hybridAlgorithm = source.hybridAlgorithm;
    notificationControl = source.notificationControl;
    notificationMask = source.notificationMask;
    if (source.furtherSetting >= 1) furtherSetting = source.furtherSetting;
    if (source.annealedMapTuning.IsValid()) annealedMapTuning = source.annealedMapTuning;
    if (source.episParams.IsValid()) episParams = source.episParams;
    creation = source.creation;
    faultNameFormat = source.faultNameFormat;
}

int QNL_network::Copy(const QNL_network& source, bool skipTemporal) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    // The copy takes the values as they are read.
    const_cast<QNL_network&>(source).SettleEvidenceWalk();
    if (cases != nullptr) cases->EnableCaseUpdates(false);
    QNL_caseLibrary* newCases = nullptr;
    std::unique_ptr<QNL_temporalNetwork> newTemporal;
    try {
        if (!skipTemporal && source.temporal)
            newTemporal = std::make_unique<QNL_temporalNetwork>(*source.temporal, this);
        newCases = new QNL_caseLibrary(this, *source.cases);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
    int result = CopySlots(source);
    if (result != 0) {
        delete newCases;
        return result;
    }
    temporal = std::move(newTemporal);
    if (skipTemporal)
        for (int i = 0; i < tableSize; ++i) table[i].temporalType = 0;
    userProperties.Assign(source.userProperties);
    documentation.Assign(source.documentation);
    submodels->Assign(*source.submodels);
    submodels->SetNetwork(this);
    submodels->CheckConsistency(0);
    CopySettings(source);
    orderedNodes.Assign(source.orderedNodes);
    nodeDisplayMode = source.nodeDisplayMode;
    furtherFlag = source.furtherFlag;
    // The copied values of a solved diagram are as exposed to edits as the source's.
    policyValuesWritten = source.policyValuesWritten;
    delete cases;
    cases = newCases;
    CheckConsistency(0);
    return 0;
}

int QNL_network::CopyNodes(const QNL_network& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    const_cast<QNL_network&>(source).SettleEvidenceWalk();
    // The temporal types come with the slots; the extension that gives them meaning too.
    std::unique_ptr<QNL_temporalNetwork> newTemporal;
    try {
        if (source.temporal)
            newTemporal = std::make_unique<QNL_temporalNetwork>(*source.temporal, this);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
    int result = CopySlots(source);
    if (result != 0) return result;
    temporal = std::move(newTemporal);
    CopySettings(source);
    CheckConsistency(0);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Slot table and handles.

int QNL_network::GetFirstNode() const {
    return NextOccupied(0);
}

// A negative handle is no position to go on from: it ends the walk like the last node does.
int QNL_network::GetNextNode(int handle) const {
    if (handle < 0 || handle >= tableSize) return -2;
    return NextOccupied(handle + 1);
}

int QNL_network::NextOccupied(int from) const {
    for (int i = from; i < tableSize; ++i)
        if (table[i].node != nullptr) {
            slotVisits += static_cast<std::uint64_t>(i - from + 1);
            return i;
        }
    if (from < tableSize) slotVisits += static_cast<std::uint64_t>(tableSize - from);
    return -2;
}

int QNL_network::GetLastNode() const {
    for (int i = tableSize - 1; i >= 0; --i)
        if (table[i].node != nullptr) {
            slotVisits += static_cast<std::uint64_t>(tableSize - i);
            return i;
        }
    slotVisits += static_cast<std::uint64_t>(tableSize);
    return -2;
}

void QNL_network::IndexAdd(const char* id, int handle) {
    if (id == nullptr) return;
    const auto [at, added] = idIndex.try_emplace(id, IdHandles{handle, {}});
    if (!added) at->second.more.push_back(handle);
}

void QNL_network::IndexRemove(const char* id, int handle) {
    if (id == nullptr) return;
    auto found = idIndex.find(id);
    if (found == idIndex.end()) return;
    IdHandles& handles = found->second;
    if (handles.first == handle) {
        if (handles.more.empty()) {
            idIndex.erase(found);
            return;
        }
        handles.first = handles.more.back();
        handles.more.pop_back();
        return;
    }
    for (std::size_t i = 0; i < handles.more.size(); ++i)
        if (handles.more[i] == handle) {
            handles.more.erase(handles.more.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
}

// The entry of a node that alone bears its identifier moves to the new key, without taking
// the index apart and building it again.
void QNL_network::IndexRename(const char* oldId, const char* newId, int handle) {
    auto found = oldId != nullptr ? idIndex.find(oldId) : idIndex.end();
    if (newId != nullptr && found != idIndex.end() && found->second.first == handle &&
        found->second.more.empty() && idIndex.find(newId) == idIndex.end()) {
        std::string key(newId);
        auto entry = idIndex.extract(found);
        entry.key().swap(key);
        idIndex.insert(std::move(entry));
        return;
    }
    IndexRemove(oldId, handle);
    IndexAdd(newId, handle);
}

void QNL_network::RebuildIdIndex() {
    idIndex.clear();
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) IndexAdd(table[h].node->GetId(), h);
}

int QNL_network::FindNode(const char* id) const {
    if (id == nullptr) return -2;
    auto found = idIndex.find(id);
    if (found == idIndex.end()) return -2;
    int first = found->second.first;
    for (int h : found->second.more)
        if (h < first) first = h;
    return first;
}

int QNL_network::IsIdUsed(const char* id, int except) const {
    if (id == nullptr) return 0;
    auto found = idIndex.find(id);
    if (found != idIndex.end()) {
        if (found->second.first != except) return 1;
        for (int h : found->second.more)
            if (h != except) return 1;
    }
    return submodels != nullptr && submodels->IsSubmodelIdUsed(id) == 1 ? 1 : 0;
}

int QNL_network::GetAllNodes(QNL_intArray& out) const {
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h))
        if (out.Add(h) != 0) return -42;
    return 0;
}

int QNL_network::GetAllNodeIds(QNL_stringArray& out) const {
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        int result = out.Add(table[h].node->GetId());
        if (result != 0) return result;
    }
    return 0;
}

int QNL_network::SetFaultNameFormat(int format) {
    if (format < 0 || format > 3) return -2;
    faultNameFormat = format;
    return 0;
}

int QNL_network::SetNumberOfSamples(int samples) {
    if (samples < 1) return -2;
    numberOfSamples = samples;
    return 0;
}

// The first free slot is the lower of two: the first free one from firstFreeFrom on (which
// only moves up, so the slots it passes are passed once) and the least slot freed below it.
int QNL_network::FindFreeSlot() {
    if (nodeCount != tableSize) {
        if (nodeCount < tableSize && table[nodeCount].node == nullptr) return nodeCount;
        if (nodeCount == 0) ForgetFreedSlots();
        while (firstFreeFrom < tableSize && table[firstFreeFrom].node != nullptr) {
            ++firstFreeFrom;
            ++slotVisits;
        }
        // Slots taken since they were freed leave the heap as they come to its top.
        while (!freedBelow.empty() && table[freedBelow.front()].node != nullptr) {
            std::pop_heap(freedBelow.begin(), freedBelow.end(), std::greater<int>());
            freedBelow.pop_back();
            ++slotVisits;
        }
        const int freed = freedBelow.empty() ? tableSize : freedBelow.front();
        const int first = std::min(freed, firstFreeFrom);
        return first < tableSize ? first : -2;
    }
    const int oldSize = tableSize;
    const int result = GrowTable();
    return result != 0 ? result : oldSize;
}

// A slot freed below firstFreeFrom joins the heap; one at or above it is met by the scan. A
// heap grown past the table (slots freed and taken again by the node-count rule, over and
// over) is given up for a new scan.
void QNL_network::SlotFreed(int slot) {
    if (slot >= firstFreeFrom) return;
    if (freedBelow.size() >= static_cast<std::size_t>(tableSize)) {
        ForgetFreedSlots();
        return;
    }
    try {
        freedBelow.push_back(slot);
        std::push_heap(freedBelow.begin(), freedBelow.end(), std::greater<int>());
    } catch (const std::bad_alloc&) {
        ForgetFreedSlots();
    }
}

void QNL_network::ForgetFreedSlots() {
    freedBelow.clear();
    firstFreeFrom = 0;
}

namespace {
constexpr long long kMaxSlots = 0x7FFFFFFF / 2;
} // namespace

int QNL_network::ReserveSlots(int count) {
    const long long needed = static_cast<long long>(nodeCount) + count;
    if (count <= 0 || needed <= capacity) return 0;
    // The sizes the table passes through on its way there, so none of its steps moves a slot.
    const long long steps = (needed - tableSize + growth - 1) / growth;
    const long long slots = tableSize + steps * growth;
    if (slots > kMaxSlots) return QNL_errorHandler::Instance().LogError(-42);
    return Reallocate(slots);
}

// The table takes its next step of slots; the storage behind it doubles when the step does
// not fit, so adding n nodes moves fewer than 2n slots, whatever the step.
int QNL_network::GrowTable() {
    const long long newSize = static_cast<long long>(tableSize) + growth;
    if (newSize > kMaxSlots) return QNL_errorHandler::Instance().LogError(-42);
    if (newSize > capacity) {
        const long long doubled = std::min(2 * static_cast<long long>(capacity), kMaxSlots);
        if (int result = Reallocate(std::max(newSize, doubled))) return result;
    }
    try {
        isObservedCandidate.resize(static_cast<std::size_t>(newSize), 0);
        isComputedCandidate.resize(static_cast<std::size_t>(newSize), 0);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
    tableSize = static_cast<int>(newSize);
    return 0;
}

// Slots move into the new storage by swapping their contents, so every handle stays.
int QNL_network::Reallocate(long long slots) {
    QNL_nodeEntry* grown;
    try {
        grown = new QNL_nodeEntry[static_cast<std::size_t>(slots)];
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
    for (int i = 0; i < tableSize; ++i) SwapEntries(grown[i], table[i]);
    slotVisits += static_cast<std::uint64_t>(tableSize);
    delete[] table;
    table = grown;
    capacity = static_cast<int>(slots);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Arcs (read side), targets and marks.

QNL_intArray& QNL_network::GetParents(int node, int layer) {
    if (node < 0 || node >= tableSize) return EmptyList();
    return layer == 1 ? table[node].costParents : table[node].parents;
}

QNL_intArray& QNL_network::GetChildren(int node, int layer) {
    if (node < 0 || node >= tableSize) return EmptyList();
    return layer == 1 ? table[node].costChildren : table[node].children;
}

const QNL_intArray& QNL_network::GetParents(int node, int layer) const {
    return const_cast<QNL_network*>(this)->GetParents(node, layer);
}

const QNL_intArray& QNL_network::GetChildren(int node, int layer) const {
    return const_cast<QNL_network*>(this)->GetChildren(node, layer);
}

int QNL_network::NumberOfParents(int node, int layer) const {
    return IsValidNodeHandle(node) ? GetParents(node, layer).GetCount() : -2;
}

int QNL_network::NumberOfChildren(int node, int layer) const {
    return IsValidNodeHandle(node) ? GetChildren(node, layer).GetCount() : -2;
}

int QNL_network::IsRelated(int node, int other) const {
    if (!IsValidNodeHandle(node)) return 0;
    return table[node].parents.IsInList(other) || table[node].children.IsInList(other) ? 1 : 0;
}

int QNL_network::DefinitionType(int node) const {
    const QNL_node* n = GetNode(node);
    return n != nullptr ? n->GetType() : 0;
}

int QNL_network::GetDiscreteParents(int node, QNL_intArray& out, int layer) const {
    if (layer != 0 && layer != 1) return 0;
    out.Flush();
    if (!IsValidNodeHandle(node)) return -2;
    const QNL_intArray& parents = GetParents(node, layer);
    for (int i = 0; i < parents.GetCount(); ++i)
        if (DefinitionType(parents[i]) & QNL_TYPE_BIT_DISCRETE)
            if (out.Add(parents[i]) != 0) return -42;
    return 0;
}

int QNL_network::SetTarget(int node) {
    if (!IsValidNodeHandle(node) || (table[node].flags & FLAG_TARGET)) return -2;
    table[node].flags |= FLAG_TARGET;
    ++targetCount;
    return 0;
}

int QNL_network::UnSetTarget(int node) {
    if (!IsValidNodeHandle(node) || !(table[node].flags & FLAG_TARGET)) return -2;
    table[node].flags &= ~FLAG_TARGET;
    --targetCount;
    return 0;
}

int QNL_network::IsTarget(int node) const {
    if (!IsValidNodeHandle(node)) return -2;
    return (table[node].flags & FLAG_TARGET) ? 1 : 0;
}

int QNL_network::ClearAllTargets() {
    ClearFlagOnAllNodes(FLAG_TARGET);
    targetCount = 0;
    return 0;
}

void QNL_network::SetFlagOnAllNodes(int bits) {
    marksEverywhere = true;
    for (int i = 0; i < tableSize; ++i) table[i].flags |= bits;
    slotVisits += static_cast<std::uint64_t>(tableSize);
}

void QNL_network::ClearFlagOnAllNodes(int bits) {
    for (int i = 0; i < tableSize; ++i) table[i].flags &= ~bits;
    slotVisits += static_cast<std::uint64_t>(tableSize);
}

int QNL_network::GetNodeFlags(int node) const {
    return node >= 0 && node < tableSize ? table[node].flags : 0;
}

void QNL_network::SetNodeFlags(int node, int bits) {
    if (node >= 0 && node < tableSize) table[node].flags |= bits;
    marksEverywhere = true;
}

void QNL_network::ClearNodeFlags(int node, int bits) {
    if (node >= 0 && node < tableSize) table[node].flags &= ~bits;
}

int QNL_network::GetTemporalType(int node) const {
    return IsValidNodeHandle(node) ? table[node].temporalType : -2;
}

int QNL_network::GetHeight(int node) const {
    return IsValidNodeHandle(node) ? table[node].height : -2;
}

QNL_header* QNL_network::GetHeader() const {
    if (submodels == nullptr) return nullptr;
    QNL_submodel* main = submodels->GetSubmodel(SUBMODEL_FLAG);
    return main != nullptr ? &main->header : nullptr;
}

// ---------------------------------------------------------------------------------------
// Cases.

QNL_case* QNL_network::AddCase(const char* name) { return cases->AddCase(name); }
QNL_case* QNL_network::GetCase(int index) const { return cases->GetCase(index); }
int QNL_network::GetNumberOfCases() const { return cases->GetNumberOfCases(); }
void QNL_network::EnableCaseUpdates(bool enable) { cases->EnableCaseUpdates(enable); }
bool QNL_network::CaseUpdatesEnabled() const { return cases->CaseUpdatesEnabled(); }
