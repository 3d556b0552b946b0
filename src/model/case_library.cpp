#include "model/case_library.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

namespace quarn::detail {
namespace {

constexpr int kPlate = 3;

bool IsEquationType(int type) {
    return type == QNL_TYPE_EQUATION || type == QNL_TYPE_EQUATION_SCC;
}

int LogOutOfMemory() {
    return QNL_errorHandler::Instance().LogError(-42, "Out of memory while storing a case");
}

// Runs an edit that may allocate; a container that cannot grow becomes -42.
template <typename Edit> int Guarded(Edit edit) {
    try {
        return edit();
    } catch (const std::bad_alloc&) {
        return LogOutOfMemory();
    } catch (const std::length_error&) {
        return LogOutOfMemory();
    }
}

} // namespace
} // namespace quarn::detail

using quarn::detail::Guarded;

// ---------------------------------------------------------------------------------------
// QNL_case

QNL_case::QNL_case(QNL_network* network, QNL_caseLibrary* library)
    : network(network), library(library) {}

QNL_case::QNL_case(QNL_network* network, QNL_caseLibrary* library, const QNL_case& source)
    : network(network), library(library), name(source.name), description(source.description),
      category(source.category), created(source.created), modified(source.modified),
      targets(source.targets), evidence(source.evidence) {}

int QNL_case::SetName(const char* text) {
    if (text == nullptr || *text == '\0')
        return QNL_errorHandler::Instance().LogError(-30, "Case name cannot be empty");
    return Guarded([&] {
        std::string candidate(text);
        if (library != nullptr && library->IsNameUsed(candidate, this))
            return QNL_errorHandler::Instance().LogError(-32, "Duplicate case name: " + candidate);
        name.swap(candidate);
        return 0;
    });
}

int QNL_case::SetDescription(const char* text) {
    return Guarded([&] {
        description.assign(text != nullptr ? text : "");
        return 0;
    });
}

int QNL_case::SetCategory(const char* text) {
    return Guarded([&] {
        category.assign(text != nullptr ? text : "");
        return 0;
    });
}

bool QNL_case::IsValidNode(int node) const {
    return network != nullptr && network->IsValidNodeHandle(node);
}

int QNL_case::NumberOfOutcomes(int node) const {
    if (!IsValidNode(node)) return 0;
    const QNL_node* item = network->GetNode(node);
    if (item == nullptr || item->GetDefinition() == nullptr) return 0;
    const int count = item->GetDefinition()->GetNumberOfOutcomes();
    return count > 0 ? count : 0;
}

bool QNL_case::IsValidOutcome(int node, int outcome) const {
    return outcome >= 0 && outcome < NumberOfOutcomes(node);
}

int QNL_case::AddTarget(int node) {
    if (!IsValidNode(node))
        return QNL_errorHandler::Instance().LogError(-2, "Invalid node handle for a case target");
    if (IsTarget(node)) return 0;
    return Guarded([&] {
        targets.push_back(node);
        return 0;
    });
}

int QNL_case::GetTarget(int index) const {
    if (index < 0 || index >= GetNumberOfTargets())
        return QNL_errorHandler::Instance().LogError(-2, "Case target index out of range");
    return targets[static_cast<std::size_t>(index)];
}

bool QNL_case::IsTarget(int node) const {
    return std::find(targets.begin(), targets.end(), node) != targets.end();
}

int QNL_case::AddEntry(int node) {
    if (!IsValidNode(node))
        return QNL_errorHandler::Instance().LogError(-2, "Invalid node handle for case evidence");
    if (FindEvidence(node) >= 0)
        return QNL_errorHandler::Instance().LogError(-32,
                                                     "The node already has evidence in this case");
    return Guarded([&] {
        QNL_caseEvidence entry;
        entry.node = node;
        evidence.push_back(std::move(entry));
        return 0;
    });
}

// A refused outcome takes the new entry away again: left behind it would read as value
// evidence of 0.0.
int QNL_case::AddEvidence(int node, int outcome) {
    int result = AddEntry(node);
    if (result != 0) return result;
    if (!IsValidOutcome(node, outcome)) {
        evidence.pop_back();
        return QNL_errorHandler::Instance().LogError(-2, "Invalid outcome for case evidence");
    }
    evidence.back().outcome = outcome;
    return 0;
}

int QNL_case::AddEvidenceValue(int node, double value) {
    int result = AddEntry(node);
    if (result != 0) return result;
    evidence.back().value = value;
    return 0;
}

int QNL_case::AddTemporalEvidence(int node, int outcome, int slice) {
    if (!IsValidNode(node))
        return QNL_errorHandler::Instance().LogError(-2, "Invalid node handle for case evidence");
    if (slice < 0)
        return QNL_errorHandler::Instance().LogError(-4, "Negative time slice in case evidence");
    if (!IsValidOutcome(node, outcome))
        return QNL_errorHandler::Instance().LogError(-2, "Invalid outcome for case evidence");
    const int index = FindEvidence(node);
    if (index >= 0) {
        SlicePairs& pairs = evidence[static_cast<std::size_t>(index)].slices;
        for (const auto& pair : pairs)
            if (pair.first == slice)
                return QNL_errorHandler::Instance().LogError(
                    -32, "The time slice already has evidence in this case");
        return Guarded([&] {
            pairs.emplace_back(slice, outcome);
            return 0;
        });
    }
    return Guarded([&] {
        QNL_caseEvidence entry;
        entry.node = node;
        entry.slices.emplace_back(slice, outcome);
        evidence.push_back(std::move(entry));
        return 0;
    });
}

int QNL_case::FindEvidence(int node) const {
    for (std::size_t i = 0; i < evidence.size(); ++i)
        if (evidence[i].node == node) return static_cast<int>(i);
    return -4;
}

int QNL_case::GetEvidenceNode(int index) const {
    if (index < 0 || index >= GetNumberOfEvidence())
        return QNL_errorHandler::Instance().LogError(-2, "Case evidence index out of range");
    return evidence[static_cast<std::size_t>(index)].node;
}

int QNL_case::GetEvidence(int index, int& node, int& outcome) const {
    if (index < 0 || index >= GetNumberOfEvidence())
        return QNL_errorHandler::Instance().LogError(-2, "Case evidence index out of range");
    const QNL_caseEvidence& entry = evidence[static_cast<std::size_t>(index)];
    node = entry.node;
    outcome = entry.outcome;
    return 0;
}

int QNL_case::GetEvidenceValue(int index, int& node, double& value) const {
    if (index < 0 || index >= GetNumberOfEvidence())
        return QNL_errorHandler::Instance().LogError(-2, "Case evidence index out of range");
    const QNL_caseEvidence& entry = evidence[static_cast<std::size_t>(index)];
    node = entry.node;
    value = entry.value;
    return 0;
}

int QNL_case::GetTemporalEvidence(int index, int& node, SlicePairs& pairs) const {
    if (index < 0 || index >= GetNumberOfEvidence())
        return QNL_errorHandler::Instance().LogError(-2, "Case evidence index out of range");
    const QNL_caseEvidence& entry = evidence[static_cast<std::size_t>(index)];
    return Guarded([&] {
        pairs = entry.slices;
        node = entry.node;
        return 0;
    });
}

// The outcome hooks act on what an entry holds (its plain outcome and its slice pairs)
// rather than on the node's temporal type: an entry made while updates were off, or plain
// evidence stored for a node in the plate, is then kept right instead of left stale.

void QNL_case::OutcomeInserted(int node, int index) {
    const int at = FindEvidence(node);
    if (at < 0 || index < 0) return;
    QNL_caseEvidence& entry = evidence[static_cast<std::size_t>(at)];
    if (entry.outcome >= index) ++entry.outcome;
    for (auto& pair : entry.slices)
        if (pair.second >= index) ++pair.second;
}

void QNL_case::OutcomeRemoved(int node, int index) {
    const int at = FindEvidence(node);
    if (at < 0 || index < 0) return;
    QNL_caseEvidence& entry = evidence[static_cast<std::size_t>(at)];
    if (entry.outcome == index) {
        RemoveEntry(at);
        return;
    }
    if (entry.outcome > index) --entry.outcome;
    for (std::size_t k = entry.slices.size(); k-- > 0;) {
        int& outcome = entry.slices[k].second;
        if (outcome == index)
            entry.slices.erase(entry.slices.begin() + static_cast<std::ptrdiff_t>(k));
        else if (outcome > index)
            --outcome;
    }
}

// An outcome the order does not list has no position to move to: a plain entry holding it
// is removed, a slice pair holding it is dropped.
void QNL_case::OutcomesReordered(int node, const QNL_intArray& order) {
    const int at = FindEvidence(node);
    if (at < 0) return;
    QNL_caseEvidence& entry = evidence[static_cast<std::size_t>(at)];
    if (entry.outcome >= 0) {
        const int position = order.FindPosition(entry.outcome);
        if (position < 0) {
            RemoveEntry(at);
            return;
        }
        entry.outcome = position;
    }
    auto& pairs = entry.slices;
    for (auto& pair : pairs)
        pair.second = order.FindPosition(pair.second);
    pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                               [](const std::pair<int, int>& pair) { return pair.second < 0; }),
                pairs.end());
}

// Deleting a node also takes it off the targets: its slot may be reused by an unrelated
// node, which must not become a target of old cases.
void QNL_case::NodeDeleted(int node) {
    const int at = FindEvidence(node);
    if (at >= 0) RemoveEntry(at);
    targets.erase(std::remove(targets.begin(), targets.end(), node), targets.end());
}

void QNL_case::NodeTypeChanged(int node, int oldType) {
    const int at = FindEvidence(node);
    if (at < 0 || !IsValidNode(node)) return;
    const bool wasEquation = quarn::detail::IsEquationType(oldType);
    const bool isEquation = quarn::detail::IsEquationType(network->GetNode(node)->GetType());
    if (wasEquation && isEquation) return;
    if (wasEquation != isEquation) {
        RemoveEntry(at);
        return;
    }
    // The new definition may have fewer outcomes than the stored evidence assumes.
    const int outcomes = NumberOfOutcomes(node);
    const QNL_caseEvidence& entry = evidence[static_cast<std::size_t>(at)];
    bool outOfRange = outcomes < 2 || entry.outcome >= outcomes;
    for (const auto& pair : entry.slices)
        if (pair.second >= outcomes) outOfRange = true;
    if (outOfRange) RemoveEntry(at);
}

void QNL_case::TemporalTypeChanged(int node, int oldTemporalType) {
    const int at = FindEvidence(node);
    if (at < 0 || !IsValidNode(node)) return;
    const int newTemporalType = network->GetTemporalType(node);
    const bool wasInPlate = oldTemporalType == quarn::detail::kPlate;
    const bool isInPlate = newTemporalType == quarn::detail::kPlate;
    if (wasInPlate == isInPlate) return;
    QNL_caseEvidence& entry = evidence[static_cast<std::size_t>(at)];
    if (isInPlate) {
        // Only plain evidence has an outcome to carry into slice 0; value evidence has none.
        if (entry.outcome < 0) return;
        Guarded([&] {
            entry.slices.assign(1, std::make_pair(0, entry.outcome));
            entry.outcome = -1;
            return 0;
        });
        return;
    }
    // Leaving the plate: the slice-0 observation becomes plain evidence. An entry without
    // pairs holds no temporal evidence and is kept as it is.
    if (entry.slices.empty()) return;
    for (const auto& pair : entry.slices) {
        if (pair.first == 0) {
            entry.outcome = pair.second;
            entry.slices.clear();
            return;
        }
    }
    RemoveEntry(at);
}

// ---------------------------------------------------------------------------------------
// QNL_caseLibrary

QNL_caseLibrary::QNL_caseLibrary(QNL_network* network) : network(network) {}

QNL_caseLibrary::QNL_caseLibrary(QNL_network* network, const QNL_caseLibrary& source)
    : network(network), updates(source.updates) {
    cases.reserve(source.cases.size());
    for (const auto& item : source.cases)
        cases.push_back(std::make_unique<QNL_case>(network, this, *item));
}

QNL_case* QNL_caseLibrary::AddCase(const char* name) {
    try {
        auto item = std::make_unique<QNL_case>(network, this);
        if (item->SetName(name) != 0) return nullptr;
        cases.push_back(std::move(item));
        return cases.back().get();
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    quarn::detail::LogOutOfMemory();
    return nullptr;
}

QNL_case* QNL_caseLibrary::GetCase(int index) const {
    if (index < 0 || index >= GetNumberOfCases()) return nullptr;
    return cases[static_cast<std::size_t>(index)].get();
}

bool QNL_caseLibrary::IsNameUsed(const std::string& name, const QNL_case* except) const {
    for (const auto& item : cases)
        if (item.get() != except && name == item->GetName()) return true;
    return false;
}

void QNL_caseLibrary::NodeTypeChanged(int node, int oldType) {
    if (!updates) return;
    for (auto& item : cases)
        item->NodeTypeChanged(node, oldType);
}

void QNL_caseLibrary::TemporalTypeChanged(int node, int oldTemporalType) {
    if (!updates) return;
    for (auto& item : cases)
        item->TemporalTypeChanged(node, oldTemporalType);
}

void QNL_caseLibrary::NodeDeleted(int node) {
    if (!updates) return;
    for (auto& item : cases)
        item->NodeDeleted(node);
}

void QNL_caseLibrary::OutcomeInserted(int node, int index) {
    if (!updates) return;
    for (auto& item : cases)
        item->OutcomeInserted(node, index);
}

void QNL_caseLibrary::OutcomeRemoved(int node, int index) {
    if (!updates) return;
    for (auto& item : cases)
        item->OutcomeRemoved(node, index);
}

void QNL_caseLibrary::OutcomesReordered(int node, const QNL_intArray& order) {
    if (!updates) return;
    for (auto& item : cases)
        item->OutcomesReordered(node, order);
}
