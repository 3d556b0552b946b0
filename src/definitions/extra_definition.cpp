#include "definitions/extra_definition.h"

#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <new>
#include <utility>

QNL_extraDefinition::QNL_extraDefinition(int handle, QNL_network* network,
                                         const QNL_nodeDefinition* definition)
    : network(network), handle(handle), entries(std::make_unique<Entries>()) {
    status = STATUS_READY;
    if (ResizeToOutcomes(definition) == -42) throw std::bad_alloc();
    status |= STATUS_VALID;
}

QNL_extraDefinition::QNL_extraDefinition(const QNL_extraDefinition& source)
    : QNL_object(), entries(std::make_unique<Entries>()) {
    status = STATUS_READY;
    const int result = Assign(source);
    if (result == -42) throw std::bad_alloc();
    if (result == 0) status |= STATUS_VALID;
}

QNL_extraDefinition::~QNL_extraDefinition() = default;

int QNL_extraDefinition::CleanUp(int deep) {
    entries->faultFlags.CleanUp();
    entries->descriptions.CleanUp(deep);
    entries->labels.CleanUp(deep);
    entries->faultNames.CleanUp(deep);
    entries->fixes.CleanUp(deep);
    documents.clear();
    defaultOutcome = 0;
    return CheckConsistency(deep);
}

int QNL_extraDefinition::Assign(const QNL_extraDefinition& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    std::unique_ptr<Entries> copiedEntries;
    Documents copiedDocuments;
    std::string copiedQuestion;
    try {
        copiedEntries = std::make_unique<Entries>(*source.entries);
        copiedDocuments.reserve(source.documents.size());
        for (const auto& document : source.documents) {
            auto copy = std::make_unique<QNL_documentation>();
            const int result = copy->Assign(*document);
            if (result != 0) return result;
            copiedDocuments.push_back(std::move(copy));
        }
        copiedQuestion = source.question;
    } catch (const std::bad_alloc&) {
        return -42;
    }
    network = source.network;
    handle = source.handle;
    entries.swap(copiedEntries);
    documents.swap(copiedDocuments);
    question.swap(copiedQuestion);
    defaultOutcome = source.defaultOutcome;
    diagnosisType = source.diagnosisType;
    ranked = source.ranked;
    mandatory = source.mandatory;
    setAsDefault = source.setAsDefault;
    displayMode = source.displayMode;
    faultNameFormat = source.faultNameFormat;
    return 0;
}

void QNL_extraDefinition::SetNetwork(QNL_network* newNetwork, int newHandle) {
    network = newNetwork;
    handle = newHandle;
}

int QNL_extraDefinition::GetNumberOfOutcomes() const {
    return entries->faultFlags.GetCount();
}

int QNL_extraDefinition::OutcomesOf(const QNL_nodeDefinition* definition) {
    if (definition == nullptr) return 0;
    const int type = definition->GetType();
    if (type == QNL_TYPE_TABLE || type == QNL_TYPE_MAU) return 0;
    // Equation and continuous definitions answer -51: they have no outcomes either.
    const int n = definition->GetNumberOfOutcomes();
    return n > 0 ? n : 0;
}

const QNL_nodeDefinition* QNL_extraDefinition::OwnDefinition() const {
    if (network == nullptr) return nullptr;
    const QNL_node* node = network->GetNode(handle);
    return node != nullptr ? node->GetDefinition() : nullptr;
}

// ---------------------------------------------------------------------------------------
// Per-outcome access

int QNL_extraDefinition::IsFaultOutcome(int index) const {
    if (!InRange(index)) return -2;
    return entries->faultFlags[index] != 0 ? 1 : 0;
}

int QNL_extraDefinition::SetFaultOutcome(int index, bool fault) {
    if (!InRange(index)) return -2;
    entries->faultFlags[index] = fault ? 1 : 0;
    return 0;
}

int QNL_extraDefinition::SetFaultOutcomes(const QNL_intArray& flags) {
    if (flags.GetCount() != GetNumberOfOutcomes()) return -2;
    for (int i = 0; i < flags.GetCount(); ++i)
        entries->faultFlags[i] = flags[i] != 0 ? 1 : 0;
    return 0;
}

const QNL_intArray& QNL_extraDefinition::GetFaultOutcomes() const {
    return entries->faultFlags;
}

const char* QNL_extraDefinition::GetOutcomeDescription(int index) const {
    return InRange(index) ? entries->descriptions.GetString(index) : nullptr;
}

const char* QNL_extraDefinition::GetOutcomeFix(int index) const {
    return InRange(index) ? entries->fixes.GetString(index) : nullptr;
}

const char* QNL_extraDefinition::GetFaultName(int index) const {
    return InRange(index) ? entries->faultNames.GetString(index) : nullptr;
}

int QNL_extraDefinition::SetOutcomeDescription(int index, const char* text) {
    if (!InRange(index)) return -2;
    return entries->descriptions.SetString(index, text != nullptr ? text : "");
}

int QNL_extraDefinition::SetOutcomeFix(int index, const char* text) {
    if (!InRange(index)) return -2;
    return entries->fixes.SetString(index, text != nullptr ? text : "");
}

int QNL_extraDefinition::SetFaultName(int index, const char* text) {
    if (!InRange(index)) return -2;
    return entries->faultNames.SetString(index, text != nullptr ? text : "");
}

const QNL_stringArray& QNL_extraDefinition::GetOutcomeDescriptions() const {
    return entries->descriptions;
}

const QNL_idArray& QNL_extraDefinition::GetOutcomeLabels() const {
    return entries->labels;
}

const QNL_stringArray& QNL_extraDefinition::GetFaultNames() const {
    return entries->faultNames;
}

const QNL_stringArray& QNL_extraDefinition::GetOutcomeFixes() const {
    return entries->fixes;
}

QNL_documentation* QNL_extraDefinition::GetOutcomeDocumentation(int index) {
    return InRange(index) ? documents[static_cast<std::size_t>(index)].get() : nullptr;
}

const QNL_documentation* QNL_extraDefinition::GetOutcomeDocumentation(int index) const {
    return InRange(index) ? documents[static_cast<std::size_t>(index)].get() : nullptr;
}

int QNL_extraDefinition::SetDefaultOutcome(int index) {
    if (!InRange(index)) return -2;
    defaultOutcome = index;
    return 0;
}

void QNL_extraDefinition::SetFlags(unsigned char newRanked, unsigned char newMandatory,
                                   unsigned char newSetAsDefault) {
    ranked = newRanked;
    mandatory = newMandatory;
    setAsDefault = newSetAsDefault;
}

int QNL_extraDefinition::SetQuestion(const char* text) {
    try {
        question = text != nullptr ? text : "";
    } catch (const std::bad_alloc&) {
        return -42;
    }
    return 0;
}

int QNL_extraDefinition::SetFaultNameFormat(int format) {
    if (format < FAULT_NAME_USER || format > FAULT_NAME_INHERIT) return -2;
    faultNameFormat = format;
    return 0;
}

// ---------------------------------------------------------------------------------------
// Labels

long long QNL_extraDefinition::OutcomesInNetwork() const {
    if (network == nullptr) return GetNumberOfOutcomes();
    long long total = 0;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h))
        total += OutcomesOf(network->GetNode(h)->GetDefinition());
    return total;
}

bool QNL_extraDefinition::LabelUsedByOtherNode(const char* label) const {
    if (network == nullptr) return false;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        if (h == handle) continue;
        const QNL_extraDefinition* other = network->GetNode(h)->GetExtraDefinition();
        if (other != nullptr && other != this && other->GetOutcomeLabels().IsInList(label))
            return true;
    }
    return false;
}

bool QNL_extraDefinition::LabelUsedByAnyNode(const std::string& label) const {
    if (entries->labels.IsInList(label.c_str())) return true;
    return LabelUsedByOtherNode(label.c_str());
}

int QNL_extraDefinition::SetOutcomeLabel(int index, const char* label) {
    if (!InRange(index)) return -2;
    if (network != nullptr && network->GetReadingMode() != 0)
        return entries->labels.QNL_stringArray::SetString(index, label != nullptr ? label : "");
    if (label != nullptr && *label != '\0' && LabelUsedByOtherNode(label)) return -2;
    return entries->labels.SetString(index, label);
}

// The outcomes of the whole network are counted only when a label has to be replaced: labels
// change no outcome count, so the total is the one the call began with, and a file read
// (which stores every label unchecked) never walks the network per node.
int QNL_extraDefinition::SetOutcomeLabels(const QNL_stringArray& labels) {
    if (labels.GetCount() > GetNumberOfOutcomes()) return -2;
    long long outcomesInNetwork = -1;
    int result = 0;
    for (int i = 0; i < labels.GetCount(); ++i) {
        const char* text = labels.GetString(i);
        if (text == nullptr) text = "";
        if (SetOutcomeLabel(i, text) == 0) continue;
        result = -2;
        if (outcomesInNetwork < 0) outcomesInNetwork = OutcomesInNetwork();
        // The candidates in use are finitely many, so the search ends.
        try {
            std::string candidate;
            for (long long number = outcomesInNetwork + 1;; ++number) {
                candidate = text + std::to_string(number);
                if (!LabelUsedByAnyNode(candidate)) break;
            }
            // A text that is no identifier stays refused, with or without the number.
            SetOutcomeLabel(i, candidate.c_str());
        } catch (const std::bad_alloc&) {
            return -42;
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------
// Outcome changes

int QNL_extraDefinition::MakeEmptyEntries(int n, std::unique_ptr<Entries>& out,
                                          Documents& documentsOut) {
    try {
        auto made = std::make_unique<Entries>();
        Documents madeDocuments;
        madeDocuments.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            if (made->faultFlags.Add(0) != 0 || made->descriptions.Add("") != 0 ||
                made->labels.Add("") != 0 || made->faultNames.Add("") != 0 ||
                made->fixes.Add("") != 0)
                return -42;
            madeDocuments.push_back(std::make_unique<QNL_documentation>());
        }
        out = std::move(made);
        documentsOut = std::move(madeDocuments);
    } catch (const std::bad_alloc&) {
        return -42;
    }
    return 0;
}

int QNL_extraDefinition::ResizeToOutcomes(const QNL_nodeDefinition* definition) {
    const int n = OutcomesOf(definition != nullptr ? definition : OwnDefinition());
    std::unique_ptr<Entries> made;
    Documents madeDocuments;
    const int result = MakeEmptyEntries(n, made, madeDocuments);
    if (result != 0) return result;
    entries.swap(made);
    documents.swap(madeDocuments);
    // Left beyond the outcomes it would name no outcome at all.
    if (defaultOutcome >= n) defaultOutcome = 0;
    return 0;
}

int QNL_extraDefinition::InsertOutcome(int index) {
    if (!IsValid()) return -567;
    if (index < 0 || index > GetNumberOfOutcomes()) return -2;
    std::unique_ptr<QNL_documentation> document;
    try {
        document = std::make_unique<QNL_documentation>();
        // Doubled when full: an exact reserve would move every document on each insertion.
        if (documents.size() == documents.capacity()) documents.reserve(2 * documents.size() + 1);
    } catch (const std::bad_alloc&) {
        return -42;
    }
    // Inserted in place, and taken out again when a later list runs out of memory (deleting
    // an item never fails): copying every list per outcome made n outcomes cost n^2.
    Entries& e = *entries;
    QNL_stringArray* texts[] = {&e.descriptions, &e.labels, &e.faultNames, &e.fixes};
    if (int result = e.faultFlags.Insert(index, 0)) return result;
    for (int inserted = 0; inserted < 4; ++inserted) {
        if (int result = texts[inserted]->QNL_stringArray::Insert(index, "")) {
            while (inserted-- > 0)
                texts[inserted]->Delete(index);
            e.faultFlags.Delete(index);
            return result;
        }
    }
    // Capacity was reserved above: this insertion cannot fail.
    documents.insert(documents.begin() + index, std::move(document));
    if (defaultOutcome >= index && GetNumberOfOutcomes() > 1) ++defaultOutcome;
    return CheckConsistency(0);
}

int QNL_extraDefinition::RemoveOutcome(int index) {
    if (!IsValid()) return -567;
    if (!InRange(index)) return -2;
    // Deleting an item in range never fails, so the members stay in step.
    entries->faultFlags.Delete(index);
    entries->descriptions.Delete(index);
    entries->labels.Delete(index);
    entries->faultNames.Delete(index);
    entries->fixes.Delete(index);
    documents.erase(documents.begin() + index);
    if (defaultOutcome == index)
        defaultOutcome = 0;
    else if (defaultOutcome > index)
        --defaultOutcome;
    return CheckConsistency(0);
}

int QNL_extraDefinition::ReorderOutcomes(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    const int n = GetNumberOfOutcomes();
    if (order.GetCount() != n) return -2;
    std::unique_ptr<Entries> next;
    Documents reordered;
    try {
        std::vector<char> seen(static_cast<std::size_t>(n), 0);
        for (int i = 0; i < n; ++i) {
            const int from = order[i];
            if (from < 0 || from >= n || seen[static_cast<std::size_t>(from)]) return -2;
            seen[static_cast<std::size_t>(from)] = 1;
        }
        next = std::make_unique<Entries>(*entries);
        reordered.resize(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        return -42;
    }
    int result = next->faultFlags.Reorder(order);
    if (result == 0) result = next->descriptions.Reorder(order);
    if (result == 0) result = next->labels.Reorder(order);
    if (result == 0) result = next->faultNames.Reorder(order);
    if (result == 0) result = next->fixes.Reorder(order);
    if (result != 0) return result;
    for (int i = 0; i < n; ++i)
        reordered[static_cast<std::size_t>(i)] = std::move(documents[order[i]]);
    documents.swap(reordered);
    entries.swap(next);
    const int position = order.FindPosition(defaultOutcome);
    defaultOutcome = position >= 0 ? position : 0;
    return 0;
}
