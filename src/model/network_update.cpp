// Belief updating: the choice of the inference path from the node types, the Bayesian
// algorithm of the current identifier, and the probability of the evidence.

#include "model/network.h"

#include "definitions/node_value.h"
#include "inference/adaptive_importance.h"
#include "inference/bayesian_algorithms.h"
#include "inference/clique_table.h"
#include "inference/cooper_solver.h"
#include "inference/elimination_join_tree.h"
#include "inference/equation_solver.h"
#include "inference/hybrid_inference.h"
#include "inference/influence_diagram.h"
#include "inference/join_tree_cache.h"
#include "inference/polytree.h"
#include "inference/shachter_solver.h"
#include "inference/stochastic_samplers.h"
#include "inference/temporal_unrolling.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

enum UpdatePathKind {
    PATH_BAYESIAN,
    PATH_INFLUENCE_DIAGRAM,
    PATH_HYBRID,
    PATH_EQUATION,
    PATH_TEMPORAL,
};

bool IsHybridType(int type) {
    return type == QNL_TYPE_DCHILDHPARENT || type == QNL_TYPE_DISTRIBUTION ||
           type == QNL_TYPE_HEQUATION;
}

bool IsEquationType(int type) {
    return type == QNL_TYPE_EQUATION || type == QNL_TYPE_EQUATION_SCC;
}

} // namespace

int QNL_network::SetDefaultBNAlgorithm(int id) {
    if (id >= QNL_ALG_BN_CLUSTERING && id <= QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED)
        bayesianAlgorithm = id;
    return id;
}

int QNL_network::SetDefaultIDAlgorithm(int id) {
    if (id >= QNL_ALG_ID_COOPER && id <= QNL_ALG_ID_SHACHTER) influenceDiagramAlgorithm = id;
    return id;
}

int QNL_network::SetDefaultHBNAlgorithm(int id) {
    if (id >= QNL_ALG_HBN_PROPAGATED_IMPORTANCE && id <= QNL_ALG_HBN_LOGIC_SAMPLING)
        hybridAlgorithm = id;
    return id;
}

// A plate comes first: unrolled, its slices make the network that the other paths then solve,
// whatever kind of node comes first in slot order (a decision met before the plate would
// otherwise have the diagram solved as one slice). Without one, the first node in slot order
// that passes one of the tests decides, the tests tried in this order for each node.
int QNL_network::UpdatePath() const {
    int path = PATH_BAYESIAN;
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        if (table[h].temporalType == 3) return PATH_TEMPORAL;
        if (path != PATH_BAYESIAN) continue;
        const int type = table[h].node->GetType();
        if (type & (QNL_TYPE_BIT_DECISION | QNL_TYPE_BIT_UTILITY))
            path = PATH_INFLUENCE_DIAGRAM;
        else if (IsHybridType(type))
            path = PATH_HYBRID;
        else if (IsEquationType(type))
            path = PATH_EQUATION;
        // Without a temporal extension no node can be in a plate.
        if (path != PATH_BAYESIAN && temporal == nullptr) return path;
    }
    return path;
}

quarn::detail::JoinTreeCache& QNL_network::GetJoinTreeCache() {
    if (!joinTreeCache) joinTreeCache = std::make_unique<quarn::detail::JoinTreeCache>();
    return *joinTreeCache;
}

void QNL_network::StructureChanged() {
    ++structureVersion;
    definitionsChecked = false;
    if (joinTreeCache) joinTreeCache->Clear();
}

int QNL_network::UpdateBeliefs() {
    // An update never sets off another one through the automatic-update bit, whatever the
    // algorithm edits while it runs.
    const int automatic = notificationControl & NOTIFY_AUTO_UPDATE;
    notificationControl &= ~NOTIFY_AUTO_UPDATE;
    // An update inside an evidence batch first makes the walk the batch owes, so that it
    // leaves no beliefs that the batch's end would mark stale again.
    if (batchDepth > 0 || recordOpen) WalkFromBatch();
    int result = CheckDefinitionsUsable();
    if (result == 0) result = Dispatch();
    notificationControl = (notificationControl & ~NOTIFY_AUTO_UPDATE) | automatic;
    return result;
}

int QNL_network::Dispatch() {
    switch (nodeCount == 0 ? PATH_BAYESIAN : UpdatePath()) {
    case PATH_INFLUENCE_DIAGRAM:
        return UpdateInfluenceDiagram();
    case PATH_HYBRID:
        return UpdateHybrid();
    case PATH_EQUATION:
        return UpdateEquations();
    case PATH_TEMPORAL:
        return quarn::detail::UpdateTemporalNetwork(*this);
    default:
        // Values a diagram's solve indexed, left in a network edited into a Bayesian network,
        // take the shape of beliefs again (the update writes cells, not the indexing).
        for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
            const QNL_nodeValue* value = table[h].node->GetValue();
            if (value == nullptr || value->GetIndexingParents().GetCount() == 0) continue;
            if (int r = quarn::detail::ResetInfluenceDiagramValues(*this)) return r;
            break;
        }
        return CallBNAlgorithm();
    }
}

// A file may be read with a table that failed its check, and tables can be set unchecked. No
// evaluation (update, algorithm, probability of evidence) is run on such a table: its numbers
// (negative, not a number, columns that don't sum to 1) would come out as beliefs. The check runs
// again only after a change a definition reported or an unchecked edit; cells written in place
// through the exposed matrix are checked with the next such change.
int QNL_network::CheckDefinitionsUsable() {
    if (definitionsChecked) return 0;
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        QNL_nodeDefinition* definition = table[h].node->GetDefinition();
        if (definition == nullptr) continue;
        definition->CheckReadiness(0);
        if (definition->IsValid() && definition->IsReady()) continue;
        InvalidateValues();
        const char* id = table[h].node->GetId();
        const std::string message = "ERROR: Node [" + std::string(id != nullptr ? id : "") +
                                    "] is not consistent. Inference may not be correct";
        return QNL_errorHandler::Instance().LogError(-568, message.c_str());
    }
    definitionsChecked = true;
    return 0;
}

int QNL_network::UpdateInfluenceDiagram() {
    if (int r = quarn::detail::ResetInfluenceDiagramValues(*this)) return r;
    switch (influenceDiagramAlgorithm) {
    case QNL_ALG_ID_COOPER: {
        QNL_cooperSolver solver;
        return solver.Solve(*this);
    }
    case QNL_ALG_ID_SHACHTER: {
        QNL_shachterSolver solver;
        return solver.Solve(*this);
    }
    default:
        return QNL_errorHandler::Instance().LogError(-2, "Unknown influence diagram algorithm");
    }
}

int QNL_network::UpdateEquations() {
    ClearAllPropagatedEvidence();
    return RunEquationSolver(*this);
}

int QNL_network::UpdateHybrid() {
    return RunHybridInference(*this, hybridAlgorithm);
}

int QNL_network::CallBNAlgorithm() {
    SettleEvidenceWalk();
    if (int r = CheckDefinitionsUsable()) return r;
    // Every exact algorithm meets evidence of probability 0 here when a node's own table rules
    // it out given its observed parents: the relevance reduction would drop such a node, zero
    // and all, as a node whose parents are all observed. Nothing is valid under it.
    switch (bayesianAlgorithm) {
    case QNL_ALG_BN_CLUSTERING:
    case QNL_ALG_BN_POLYTREE:
    case QNL_ALG_BN_ELIMINATION_JOIN_TREE:
    case QNL_ALG_BN_RELEVANCE_DECOMPOSITION:
    case QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED:
        // The polytree's refusal of a network that is not one comes first.
        if (quarn::detail::HasLocallyImpossibleEvidence(*this) &&
            (bayesianAlgorithm != QNL_ALG_BN_POLYTREE || IsPolytree() == 1))
            return InvalidateValues();
        break;
    default:
        break;
    }
    bool solved;
    switch (bayesianAlgorithm) {
    case QNL_ALG_BN_CLUSTERING:
        solved = RunDefaultAlgorithm(*this);
        break;
    case QNL_ALG_BN_RELEVANCE_DECOMPOSITION:
        solved = RunRelevanceDecomposition(*this);
        break;
    case QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED:
        solved = RunRelevanceDecompositionUnbatched(*this);
        break;
    case QNL_ALG_BN_POLYTREE:
        return RunPolytree(*this);
    case QNL_ALG_BN_ELIMINATION_JOIN_TREE:
        return RunEliminationJoinTree(*this);
    case QNL_ALG_BN_LOGIC_SAMPLING:
        return RunLogicSampling(*this);
    case QNL_ALG_BN_LIKELIHOOD_WEIGHTING:
    case QNL_ALG_BN_LIKELIHOOD_WEIGHTING_ALIAS:
        return RunLikelihoodWeighting(*this);
    case QNL_ALG_BN_IMPORTANCE_SAMPLING:
        return RunImportanceSampling(*this);
    case QNL_ALG_BN_BACKWARD_SAMPLING:
        return RunBackwardSampling(*this);
    case QNL_ALG_BN_ADAPTIVE_IMPORTANCE:
        return RunAdaptiveImportance(*this);
    case QNL_ALG_BN_PROPAGATED_IMPORTANCE:
        return RunPropagatedImportance(*this);
    case QNL_ALG_BN_MESSAGE_PASSING:
        return RunMessagePassing(*this);
    default:
        return QNL_errorHandler::Instance().LogError(-2, "Unknown Bayesian network algorithm");
    }
    if (solved) return 0;
    return QNL_errorHandler::Instance().LogError(
        -42, "Exact inference failed: a join tree exceeds its size limits or memory ran out");
}

bool QNL_network::CalcPropEvidence(double& result, bool chainRule) {
    SettleEvidenceWalk();
    // The clustering method evaluates the tables without an update: the same refusal as
    // updating, before anything is computed.
    if (CheckDefinitionsUsable() != 0) return false;
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h))
        if (table[h].temporalType == 3)
            return quarn::detail::ProbEvidenceOfTemporalNetwork(*this, result, chainRule);
    std::vector<int> targets;
    try {
        targets.reserve(static_cast<std::size_t>(targetCount));
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        return false;
    }
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h))
        if (table[h].flags & FLAG_TARGET) targets.push_back(h);

    bool ok = false;
    if (!chainRule && UpdatePath() == PATH_BAYESIAN) ok = PropEvidenceByClustering(result);
    if (!ok) ok = PropEvidenceByChainRule(result);

    ClearAllTargets();
    for (int h : targets)
        SetTarget(h);
    return ok;
}

bool QNL_network::PropEvidenceByClustering(double& result) {
    quarn::detail::ScaledValue p;
    if (!PropEvidenceByClustering(p)) return false;
    result = quarn::detail::ProbabilityOfEvidenceValue(p);
    return true;
}

bool QNL_network::PropEvidenceByClustering(quarn::detail::ScaledValue& result) {
    ClearAllTargets();
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        const QNL_nodeValue* value = table[h].node->GetValue();
        if (value == nullptr || !value->IsObserved()) continue;
        const QNL_intArray& parents = table[h].parents;
        for (int i = 0; i < parents.GetCount(); ++i)
            if (!(table[parents[i]].flags & FLAG_TARGET)) SetTarget(parents[i]);
    }
    return ProbEvidenceByClustering(*this, result);
}

// P(e1, ..., en) as the product of P(ei | e1, ..., ei-1), the evidence taken back and set
// again node by node in topological order. Whatever happens on the way, every withdrawn
// evidence is set again before the method returns (quietly where the normal path did not
// reach it, then propagated once), and the notification settings are as they were.
bool QNL_network::PropEvidenceByChainRule(double& result) {
    const int control = notificationControl;
    const int mask = notificationMask;
    std::vector<std::pair<int, int>> saved;
    std::vector<int> order;
    try {
        const QNL_intArray& ordered = GetOrderedNodes();
        order.assign(ordered.Items(), ordered.Items() + ordered.GetCount());
        saved.reserve(order.size());
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        return false;
    }

    notificationControl = control & ~(NOTIFY_ON | NOTIFY_AUTO_UPDATE);
    for (int h : order) {
        QNL_nodeValue* value = table[h].node->GetValue();
        if (value == nullptr || !value->IsObserved()) continue;
        if (value->HasEvidence()) {
            saved.emplace_back(h, value->GetEvidence());
            value->ClearEvidence();
        }
        if (value->HasPropagatedEvidence()) value->ClearPropagatedEvidence();
        value->SetValidFlag(false);
    }
    ClearAllTargets();
    notificationControl = control & ~NOTIFY_AUTO_UPDATE;

    // Thousands of findings take the product below the smallest double long before the end.
    quarn::detail::ScaledValue p;
    bool ok = true;
    std::size_t next = 0;
    for (; next < saved.size(); ++next) {
        const auto [h, e] = saved[next];
        QNL_nodeValue* value = table[h].node->GetValue();
        if (value->HasPropagatedEvidence()) {
            // Implied by the evidence before it: a factor of 1, or of 0 when another outcome
            // is implied. It becomes user evidence again either way.
            if (value->GetEvidence() != e) {
                p = quarn::detail::ScaledValue(0.0, 0);
                break;
            }
            if (value->SetEvidence(e) != 0) {
                ok = false;
                break;
            }
            continue;
        }
        SetTarget(h);
        InvalidateValues();
        const int updated = UpdateBeliefs();
        ClearAllTargets();
        double posterior = -1.0;
        QNL_Dmatrix* beliefs = value->GetMatrix();
        if (updated == 0 && value->IsValueValid() && beliefs != nullptr && e < beliefs->GetSize())
            posterior = beliefs->Subscript(e);
        if (!(posterior >= 0.0)) {
            ok = false;
            break;
        }
        if (posterior == 0.0 && UpdatePath() == PATH_BAYESIAN) {
            // Impossible, or below the smallest double given the findings before it: a
            // finding entry refuses is the former; otherwise the evidence so far says which,
            // and its probability is the product up to here however small it is.
            const int logged = QNL_errorHandler::Instance().GetNumberOfErrors();
            if (value->SetEvidence(e) != 0) {
                QNL_errorHandler::Instance().TruncateTo(logged);
                p = quarn::detail::ScaledValue(0.0, 0);
                break;
            }
            if (!PropEvidenceByClustering(p)) {
                ok = false;
                break;
            }
            ClearAllTargets();
            if (p.GetMantissa() == 0.0) break;
            continue;
        }
        p.Multiply(posterior);
        if (posterior == 0.0) break;
        if (value->SetEvidence(e) != 0) {
            ok = false;
            break;
        }
    }

    notificationControl = control & ~(NOTIFY_ON | NOTIFY_AUTO_UPDATE);
    int firstQuiet = -1;
    for (std::size_t k = next; k < saved.size(); ++k) {
        const auto [h, e] = saved[k];
        QNL_nodeValue* value = table[h].node->GetValue();
        if (value->HasEvidence()) continue;
        if (value->HasPropagatedEvidence()) value->ClearPropagatedEvidence();
        value->SetEvidence(e);
        if (firstQuiet < 0) firstQuiet = h;
    }
    notificationControl = control;
    notificationMask = mask;
    if (firstQuiet >= 0) InvalidateFrom(firstQuiet, false, false);
    InvalidateValues();
    ClearAllTargets();
    result = ok ? quarn::detail::ProbabilityOfEvidenceValue(p) : -1.0;
    return ok;
}
