#include "definitions/node_value.h"

#include <utility>

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

namespace quarn::detail {

bool ValueFlags::Computed(unsigned bits) {
    return (bits & (QNL_nodeValue::FLAG_VALID | QNL_nodeValue::FLAG_PROPAGATED)) != 0 &&
           (bits & QNL_nodeValue::FLAG_EVIDENCE) == 0;
}

void ValueFlags::Set(unsigned value) {
    const unsigned before = bits;
    bits = value;
    if (owner->network != nullptr && before != value)
        owner->network->NoteValueFlags(owner->handle, before, value);
}

} // namespace quarn::detail

QNL_nodeValue::QNL_nodeValue(QNL_network* owner, int node) : network(owner), handle(node) {
    status = STATUS_READY;
    status |= STATUS_VALID;
}

void QNL_nodeValue::SetNetwork(QNL_network* newNetwork, int newHandle) {
    network = newNetwork;
    handle = newHandle;
    if (network != nullptr && flags != 0u) network->NoteValueFlags(handle, 0u, flags);
}

void QNL_nodeValue::SetValidFlag(bool valid) {
    if (valid && network != nullptr && !IsObserved()) network->SettleEvidenceWalk();
    flags = valid ? (flags | FLAG_VALID) : (flags & ~FLAG_VALID);
}

// Only a valid flag can be taken by the waiting walk.
unsigned QNL_nodeValue::GetFlags() const {
    if (network != nullptr && (flags & FLAG_VALID)) network->SettleEvidenceWalk();
    return flags;
}

bool QNL_nodeValue::IsValueValid() const {
    if (network != nullptr && (flags & FLAG_VALID)) network->SettleEvidenceWalk();
    return (flags & FLAG_VALID) != 0;
}

int QNL_nodeValue::CleanUp(int deep) {
    if (deep) {
        indexingParents.CleanUp();
        flags = 0;
    }
    return CheckConsistency(0);
}

int QNL_nodeValue::RefuseInvalidSource() {
    return QNL_errorHandler::Instance().LogError(-567, "Node value copied from an invalid value");
}

// The indexing parents are copied aside first, so a failure leaves this value as it was.
int QNL_nodeValue::Assign(const QNL_nodeValue& other) {
    if (!other.IsValid()) return RefuseInvalidSource();
    if (&other == this) return 0;
    if (other.network != nullptr) other.network->SettleEvidenceWalk();
    QNL_intArray parents;
    if (parents.Assign(other.indexingParents) != 0)
        return QNL_errorHandler::Instance().LogError(-42, "Not enough memory for a node value");
    network = other.network;
    handle = other.handle;
    flags = other.flags;
    indexingParents.Swap(parents);
    CheckConsistency(1);
    CheckReadiness(1);
    return 0;
}

int QNL_nodeValue::GetSize() const {
    QNL_Dmatrix* matrix = const_cast<QNL_nodeValue*>(this)->GetMatrix();
    return matrix == nullptr ? -51 : matrix->GetSize();
}

int QNL_nodeValue::GetEvidence(double*) const {
    return -51;
}

int QNL_nodeValue::GetValue(QNL_Dmatrix**) {
    return -51;
}

QNL_Dmatrix* QNL_nodeValue::GetMatrix() {
    QNL_Dmatrix* matrix = nullptr;
    return GetValue(&matrix) == 0 ? matrix : nullptr;
}

int QNL_nodeValue::NodeOutcomeCount() const {
    return NodeOutcomeCount(network, handle);
}

int QNL_nodeValue::NodeOutcomeCount(const QNL_network* network, int handle) {
    if (network == nullptr) return 0;
    const QNL_node* node = network->GetNode(handle);
    if (node == nullptr || node->GetDefinition() == nullptr) return 0;
    const int count = node->GetDefinition()->GetNumberOfOutcomes();
    return count > 0 ? count : 0;
}

// A parent whose outcomes can index a table gets a dimension just before the node's own
// outcome dimension, whatever parents without a dimension were recorded before it.
int QNL_nodeValue::AddIndexingParent(int parent) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    if (network == nullptr || !network->IsValidNodeHandle(parent))
        return log.LogError(-2, "Indexing parent is not a node of the network");
    if (indexingParents.IsInList(parent)) return 0;
    const QNL_node* node = network->GetNode(parent);
    const QNL_nodeValue* parentValue = node->GetValue();
    if (parentValue != nullptr && parentValue->indexingParents.IsInList(handle)) return 0;

    int dimensionSize = 0;
    const QNL_nodeDefinition* definition = node->GetDefinition();
    if (definition != nullptr && QNL_IsTableParentType(definition->GetType()))
        dimensionSize = definition->GetNumberOfOutcomes();

    if (indexingParents.Add(parent) != 0)
        return log.LogError(-42, "Not enough memory for an indexing parent");
    QNL_Dmatrix* matrix = GetMatrix();
    if (matrix == nullptr || dimensionSize < 1) return 0;
    const int rank = matrix->GetNumberOfDimensions();
    const int result = matrix->InsertDimension(rank > 0 ? rank - 1 : 0, dimensionSize);
    if (result != 0) {
        indexingParents.Delete(indexingParents.GetCount() - 1);
        return result;
    }
    if (rank == 0) matrix->FillWith(0.0);
    return 0;
}
