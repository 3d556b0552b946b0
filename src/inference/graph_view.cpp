#include "inference/graph_view.h"

#include "inference/relevance.h"
#include "model/network.h"

namespace {

const QNL_relevanceNode* RecordAt(const QNL_relevanceComponent* component, int record) {
    if (component == nullptr || record < 0 || record >= component->GetNumberOfRecords())
        return nullptr;
    return component->GetRecord(record);
}

int PositionIn(const QNL_relevanceComponent* component, const QNL_relevanceNode* other) {
    if (other == nullptr || other->GetComponent() != component) return QNL_graphView::OUTSIDE;
    return other->GetPosition();
}

} // namespace

int QNL_graphView::GetNumberOfRecords() const {
    return component != nullptr ? component->GetNumberOfRecords() : 0;
}

int QNL_graphView::GetNumberOfOutcomes(int record) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    return r != nullptr ? r->GetNumberOfOutcomes() : 0;
}

int QNL_graphView::GetObservedOutcome(int record) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    return r != nullptr ? r->GetObservedOutcome() : -1;
}

int QNL_graphView::GetTableKind(int record) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    return r != nullptr ? r->GetTableKind() : TABLE_NONE;
}

const QNL_Dmatrix* QNL_graphView::GetTable(int record) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    return r != nullptr ? r->GetTable() : nullptr;
}

int QNL_graphView::GetNumberOfParents(int record) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    return r != nullptr ? r->GetNumberOfParents() : 0;
}

int QNL_graphView::GetParent(int record, int index) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    if (r == nullptr || index < 0 || index >= r->GetNumberOfParents()) return OUTSIDE;
    return PositionIn(component, r->GetParent(index));
}

int QNL_graphView::GetNumberOfChildren(int record) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    return r != nullptr ? r->GetNumberOfChildren() : 0;
}

int QNL_graphView::GetChild(int record, int index) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    if (r == nullptr || index < 0 || index >= r->GetNumberOfChildren()) return OUTSIDE;
    return PositionIn(component, r->GetChild(index));
}

int QNL_graphView::GetNodeHandle(int record) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    return r != nullptr ? r->GetNodeHandle() : -1;
}

bool QNL_graphView::IsReported(int record) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    if (r == nullptr || r->GetNodeHandle() < 0) return false;
    const QNL_network* network = component->GetNetwork();
    return network->GetNumberOfTargets() == 0 || network->IsTarget(r->GetNodeHandle()) == 1;
}

QNL_network* QNL_graphView::GetNetwork() const {
    return component != nullptr ? component->GetNetwork() : nullptr;
}

int QNL_graphView::WriteBeliefs(int record, const double* beliefs, int count) const {
    const QNL_relevanceNode* r = RecordAt(component, record);
    if (r == nullptr || r->GetNode() == nullptr || count != r->GetNumberOfOutcomes()) return -2;
    return quarn::detail::WriteNodeBeliefs(r->GetNode(), beliefs, count);
}
