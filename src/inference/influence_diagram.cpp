#include "inference/influence_diagram.h"

#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <new>
#include <string>
#include <utility>

namespace quarn::detail {

NotificationGuard::NotificationGuard(QNL_network& network)
    : network(network), control(network.GetNotificationControl()),
      mask(network.GetNotificationMask()) {}

NotificationGuard::~NotificationGuard() {
    network.SetNotificationControl(control);
    network.SetNotificationMask(mask);
}

QNL_nodeValue* ValueOf(const QNL_network& network, int h) {
    QNL_node* node = network.GetNode(h);
    return node != nullptr ? node->GetValue() : nullptr;
}

int OutcomesOf(const QNL_network& network, int h) {
    const QNL_nodeDefinition* definition = network.GetNode(h)->GetDefinition();
    const int count = definition != nullptr ? definition->GetNumberOfOutcomes() : -1;
    return count < 1 ? 1 : count;
}

int SetUniformTable(QNL_network& network, int h) {
    auto* cpt = static_cast<QNL_cpt*>(network.GetNode(h)->GetDefinition());
    const int size = cpt->GetSize();
    const int outcomes = OutcomesOf(network, h);
    QNL_doubleArray uniform;
    for (int c = 0; c < size; ++c)
        uniform.Add(1.0 / outcomes);
    return cpt->SetProbabilities(uniform);
}

int RunWithoutAutoUpdate(QNL_network& network, const std::function<int()>& run,
                         const std::function<void(int)>& onFailure) {
    NotificationGuard guard(network);
    network.SetNotificationControl(network.GetNotificationControl() &
                                   ~QNL_network::NOTIFY_AUTO_UPDATE);
    int result;
    try {
        result = run();
    } catch (const std::bad_alloc&) {
        result = QNL_errorHandler::Instance().LogError(
            -42, std::string("Not enough memory to solve the influence diagram"));
    }
    if (result != 0 && onFailure) onFailure(result);
    return result;
}

void ListenForEvidence(QNL_network& working) {
    working.SetNotificationControl(working.GetNotificationControl() | QNL_network::NOTIFY_ON |
                                   QNL_network::NOTIFY_PROPAGATE_EVIDENCE |
                                   QNL_network::NOTIFY_RESERVED);
    working.SetNotificationMask(QNL_network::CHANGE_EVIDENCE_SET |
                                QNL_network::CHANGE_EVIDENCE_CLEARED);
    working.InvalidateValues();
}

bool IsDecisionNode(const QNL_network& network, int node) {
    const QNL_node* n = network.GetNode(node);
    return n != nullptr && (n->GetType() & QNL_TYPE_BIT_DECISION) != 0;
}

bool IsUtilityNode(const QNL_network& network, int node) {
    const QNL_node* n = network.GetNode(node);
    return n != nullptr && (n->GetType() & QNL_TYPE_BIT_UTILITY) != 0;
}

// A fresh value loses its flags, so the evidence is put back with the notifications masked:
// nothing about the evidence changed.
int ResetValue(QNL_network& network, int h) {
    QNL_nodeValue* value = ValueOf(network, h);
    if (value == nullptr) return 0;
    const int mask = network.GetNotificationMask();
    network.SetNotificationMask(0);
    const bool evidence = value->HasEvidence();
    const bool propagated = value->HasPropagatedEvidence();
    const int outcome = value->IsObserved() ? value->GetEvidence() : -1;
    int result = value->InitFromDefinition();
    if (result == 0 && evidence) result = value->SetEvidence(outcome);
    if (result == 0 && propagated) result = value->SetPropagatedEvidence(outcome);
    network.SetNotificationMask(mask);
    return result;
}

int ResetInfluenceDiagramValues(QNL_network& network) {
    int result = 0;
    for (int h = network.GetFirstNode(); h >= 0 && result == 0; h = network.GetNextNode(h)) {
        QNL_node* node = network.GetNode(h);
        QNL_nodeValue* value = node->GetValue();
        if (value == nullptr) continue;
        const int count =
            node->GetDefinition() != nullptr ? node->GetDefinition()->GetNumberOfOutcomes() : -1;
        const int size = count < 0 ? 1 : count;
        QNL_Dmatrix* matrix = value->GetMatrix();
        const bool plain =
            matrix != nullptr && matrix->GetNumberOfDimensions() == 1 && matrix->GetSize() == size;
        if (value->GetIndexingParents().GetCount() > 0 || (matrix != nullptr && !plain))
            result = ResetValue(network, h);
        value->SetValidFlag(false);
    }
    return result;
}

int CollectDecisionRelated(QNL_network& network, std::vector<int>& out) {
    out.clear();
    QNL_intArray ordered;
    if (int r = network.GetDecisionOrderedNodes(ordered)) return r;
    for (int i = 0; i < ordered.GetCount(); ++i) {
        const int h = ordered[i];
        const QNL_nodeValue* value = network.GetNode(h)->GetValue();
        if (value != nullptr && value->IsObserved()) continue;
        bool related = IsDecisionNode(network, h);
        const QNL_intArray& children = network.GetChildren(h);
        for (int c = 0; c < children.GetCount() && !related; ++c)
            related = IsDecisionNode(network, children[c]);
        if (related) out.push_back(h);
    }
    return 0;
}

int AssumeTemporalOrder(QNL_network& network, const std::vector<int>& related,
                        std::vector<std::pair<int, int>>& added) {
    std::size_t d = related.size();
    for (std::size_t i = 0; i < related.size(); ++i) {
        if (!IsDecisionNode(network, related[i])) continue;
        if (d < related.size()) {
            bool relatedToSome = false;
            for (std::size_t k = d + 1; k <= i && !relatedToSome; ++k)
                relatedToSome = network.IsRelated(related[d], related[k]) != 0;
            if (!relatedToSome) {
                const int first = related[d], second = related[i];
                if (int r = network.AddArc(first, second)) return r;
                added.emplace_back(first, second);
                const std::string message = std::string("Temporal order assumed: node [") +
                                            network.GetNode(first)->GetId() + "] before node [" +
                                            network.GetNode(second)->GetId() + "]";
                QNL_errorHandler::Instance().LogError(-2, message);
            }
        }
        d = i;
    }
    return 0;
}

} // namespace quarn::detail
