#include "inference/value_of_info.h"

#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "model/error_handler.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <new>
#include <string>
#include <vector>

namespace {

int Log(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, message);
}

bool IsDecisionType(const QNL_network& network, int node) {
    const QNL_node* n = network.GetNode(node);
    return n != nullptr && (n->GetType() & QNL_TYPE_BIT_DECISION) != 0;
}

// What an update that is not ready lacks, in the words of the caller's next step.
std::string MissingChoice(const QNL_valueOfInfo& voi) {
    const QNL_network* network = voi.GetNetwork();
    if (network == nullptr || !network->IsValidNodeHandle(voi.GetDecision()))
        return "Value of information: no decision is chosen; choose the decision first";
    if (!network->IsValidNodeHandle(voi.GetPointOfView()))
        return "Value of information: no point of view is chosen; choose one first";
    const QNL_intArray& nodes = voi.GetAllNodes();
    for (int i = 0; i < nodes.GetCount(); ++i)
        if (!network->IsValidNodeHandle(nodes[i]))
            return "Value of information: observed node " + std::to_string(nodes[i]) +
                   " no longer exists; remove it from the observed nodes";
    return "Value of information: the question is not ready";
}

// The test decision's expected utilities `values`, indexed by `from`, spread over the shape
// `dimensions` of the nodes `to` (then the test's options), where `from` is a subset of `to`:
// a node the source is not indexed by does not change it.
int Reindex(const QNL_Dmatrix& values, const QNL_intArray& from, const QNL_intArray& to,
            const QNL_intArray& dimensions, QNL_Dmatrix& out) {
    if (int r = out.Setup(dimensions)) return r;
    const int count = out.GetNumberOfDimensions();
    // The multiplier in the source of each dimension, 0 where the source has none.
    std::vector<int> step(static_cast<std::size_t>(count), 0);
    for (int d = 0; d < from.GetCount(); ++d)
        step[static_cast<std::size_t>(to.FindPosition(from[d]))] = values.GetMultiplier(d);
    step.back() = values.GetMultiplier(from.GetCount());
    std::vector<int> at(static_cast<std::size_t>(count), 0);
    for (int cell = 0; cell < out.GetSize(); ++cell) {
        int source = 0;
        for (int d = 0; d < count; ++d)
            source += at[static_cast<std::size_t>(d)] * step[static_cast<std::size_t>(d)];
        out.Subscript(cell) = values.Subscript(source);
        for (int d = count - 1; d >= 0 && ++at[static_cast<std::size_t>(d)] == dimensions[d]; --d)
            at[static_cast<std::size_t>(d)] = 0;
    }
    return 0;
}

bool IndexedBy(const QNL_Dmatrix& values, const QNL_intArray& indexing) {
    return values.GetNumberOfDimensions() == indexing.GetCount() + 1;
}

} // namespace

QNL_valueOfInfo::QNL_valueOfInfo(QNL_network* net) {
    status = STATUS_READY;
    if (net == nullptr || !net->IsValid()) return;
    network = net;
    QNL_intArray ordered;
    if (network->GetDecisionOrderedNodes(ordered) != 0) {
        network = nullptr;
        return;
    }
    int last = -1;
    for (int i = 0; i < ordered.GetCount(); ++i) {
        if (!IsDecisionType(*network, ordered[i])) continue;
        decisions.Add(ordered[i]);
        last = i;
    }
    // Without any decision the whole list stays.
    const int keep = last < 0 ? ordered.GetCount() : last + 1;
    for (int i = 0; i < keep; ++i)
        actions.Add(ordered[i]);
    status |= STATUS_VALID;
    CheckReadiness(0);
}

int QNL_valueOfInfo::CleanUp(int deep) {
    if (deep) {
        nodes.Flush();
        indexingNodes.Flush();
        values = QNL_Dmatrix();
    }
    decision = -1;
    pointOfView = -1;
    network = nullptr;
    return CheckConsistency(0);
}

int QNL_valueOfInfo::CheckConsistency(int) {
    if (network != nullptr)
        status |= STATUS_VALID;
    else
        status &= ~STATUS_VALID;
    return IsValid() ? 0 : -567;
}

bool QNL_valueOfInfo::IsOccupied(int node) const {
    return network != nullptr && network->IsValidNodeHandle(node);
}

int QNL_valueOfInfo::CheckReadiness(int) {
    bool ready = IsValid() && IsOccupied(decision) && IsOccupied(pointOfView);
    for (int i = 0; ready && i < nodes.GetCount(); ++i)
        ready = IsOccupied(nodes[i]);
    if (ready)
        status |= STATUS_READY;
    else
        status &= ~STATUS_READY;
    return ready ? 0 : -568;
}

int QNL_valueOfInfo::AddNode(int node) {
    if (!IsValid()) return -567;
    if (!IsOccupied(node) || nodes.IsInList(node)) return -2;
    if (nodes.Add(node) < 0) return -42;
    CheckReadiness(0);
    return 0;
}

int QNL_valueOfInfo::RemoveNode(int node) {
    if (!IsValid()) return -567;
    const int at = nodes.FindPosition(node);
    if (at < 0) return -2;
    nodes.Delete(at);
    CheckReadiness(0);
    return 0;
}

int QNL_valueOfInfo::SetDecision(int node) {
    if (!IsValid()) return -567;
    if (!IsOccupied(node) || !decisions.IsInList(node)) return -2;
    if (!IsOccupied(pointOfView)) pointOfView = node;
    if (actions.FindPosition(node) < actions.FindPosition(pointOfView)) return -2;
    decision = node;
    CheckReadiness(0);
    return 0;
}

int QNL_valueOfInfo::SetPointOfView(int node) {
    if (!IsValid()) return -567;
    if (!IsOccupied(node) || !actions.IsInList(node)) return -2;
    if (!IsOccupied(decision)) decision = node;
    if (actions.FindPosition(node) > actions.FindPosition(decision)) return -2;
    pointOfView = node;
    CheckReadiness(0);
    return 0;
}

void QNL_valueOfInfo::SetResult(const QNL_intArray& indexing, const QNL_Dmatrix& result) {
    indexingNodes = indexing;
    values = result;
}

// ---------------------------------------------------------------------------------------

int QNL_voiEngine::SolveTest(QNL_Dmatrix& out) {
    working.InvalidateValues();
    if (int r = working.UpdateBeliefs()) return r;
    QNL_nodeValue* value = working.GetNode(test)->GetValue();
    const QNL_Dmatrix* matrix = value != nullptr ? value->GetMatrix() : nullptr;
    if (matrix == nullptr || !value->IsValueValid())
        return Log(-2, "Value of information: the test decision was not evaluated");
    out = *matrix;
    return 0;
}

int QNL_voiEngine::Compute(QNL_valueOfInfo& voi) {
    if (voi.CheckConsistency(0) != 0) return -567;
    if (voi.CheckReadiness(0) != 0) return Log(-568, MissingChoice(voi));
    try {
        // The copy keeps every handle, empty slots included, so the indexing nodes of the
        // copy name the caller's nodes.
        if (int r = working.Copy(*voi.GetNetwork())) return r;
        working.SetNotificationControl(working.GetNotificationControl() &
                                       ~QNL_network::NOTIFY_AUTO_UPDATE);
        utility = -1;
        for (int h = working.GetFirstNode(); h >= 0 && utility < 0; h = working.GetNextNode(h))
            if (working.GetNode(h)->GetType() == QNL_TYPE_TABLE) utility = h;
        if (utility < 0)
            return Log(-2, "Value of information can't be computed without utility nodes");

        test = working.AddNode(QNL_TYPE_LIST, nullptr);
        if (test < 0) return test;
        const QNL_intArray& actions = voi.GetAllActions();
        const int at = actions.FindPosition(voi.GetPointOfView());
        if (at > 0)
            if (int r = working.AddArc(actions[at - 1], test)) return r;
        if (int r = working.AddArc(test, voi.GetPointOfView())) return r;
        if (int r = working.AddArc(test, utility)) return r;

        QNL_Dmatrix without, with;
        if (int r = SolveTest(without)) return r;
        const QNL_intArray withoutIndex = working.GetNode(test)->GetValue()->GetIndexingParents();
        const QNL_intArray& valued = voi.GetAllNodes();
        for (int i = 0; i < valued.GetCount(); ++i) {
            if (working.GetParents(voi.GetDecision()).IsInList(valued[i])) continue;
            if (int r = working.AddArc(valued[i], voi.GetDecision())) {
                const std::string message = std::string("Value of information: node ") +
                                            working.GetNode(valued[i])->GetId() +
                                            " can't be observed before decision " +
                                            working.GetNode(voi.GetDecision())->GetId();
                return Log(r, message);
            }
        }
        if (int r = SolveTest(with)) return r;
        // The information can make earlier observations relevant, so the solution with it
        // may be indexed by more nodes: the one without is brought to its index.
        const QNL_intArray& index = working.GetNode(test)->GetValue()->GetIndexingParents();
        bool same = IndexedBy(with, index) && IndexedBy(without, withoutIndex) &&
                    with.GetSizeOfDimension(index.GetCount()) ==
                        without.GetSizeOfDimension(withoutIndex.GetCount());
        for (int d = 0; same && d < withoutIndex.GetCount(); ++d) {
            const int at = index.FindPosition(withoutIndex[d]);
            same = at >= 0 && with.GetSizeOfDimension(at) == without.GetSizeOfDimension(d);
        }
        if (!same)
            return Log(-2, "Value of information: the solutions with and without information "
                           "differ in shape");
        QNL_Dmatrix base;
        if (int r = Reindex(without, withoutIndex, index, with.GetDimensions(), base)) return r;
        // A scenario impossible under the findings has no worth, and its information none.
        constexpr double undefined = QNL_utilityValue::UNDEFINED_UTILITY;
        for (int i = 0; i < with.GetSize(); ++i)
            with.Subscript(i) = with.Subscript(i) == undefined || base.Subscript(i) == undefined
                                    ? undefined
                                    : with.Subscript(i) - base.Subscript(i);
        const int last = with.GetNumberOfDimensions() - 1;
        if (last >= 0)
            if (int r = with.RemoveLastOutcome(last)) return r;
        voi.SetResult(index, with);
        return 0;
    } catch (const std::bad_alloc&) {
        return Log(-42, "Not enough memory to compute the value of information");
    }
}

int QNL_network::Update(QNL_valueOfInfo& voi) {
    QNL_voiEngine engine;
    return engine.Compute(voi);
}
