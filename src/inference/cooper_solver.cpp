#include "inference/cooper_solver.h"

#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "definitions/table.h"
#include "inference/bayesian_algorithms.h"
#include "inference/influence_diagram.h"
#include "inference/join_tree_cache.h"
#include "model/error_handler.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

using quarn::detail::IsDecisionNode;
using quarn::detail::IsUtilityNode;
using quarn::detail::OutcomesOf;
using quarn::detail::SetUniformTable;
using quarn::detail::ValueOf;

namespace {

constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;

int Log(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, message);
}

bool IsChanceValue(const QNL_nodeValue* value) {
    return value != nullptr && value->GetType() == QNL_VALUE_BELIEF_VECTOR;
}

} // namespace

int QNL_cooperSolver::CleanUp(int deep) {
    if (deep) {
        utilityNodes.clear();
        related.clear();
        scenario.clear();
        outcome.clear();
        addedArcs.clear();
        scenarioPosition.clear();
        indexing.clear();
        perScenario.clear();
        once.clear();
        findingBelow.clear();
        choosers.clear();
        possibleOptions.clear();
        evaluated.clear();
        working.CleanUp(1);
    }
    target = -1;
    addedTarget = false;
    bound = nullptr;
    return 0;
}

int QNL_cooperSolver::Update() {
    ++updateCount;
    return working.CallBNAlgorithm();
}

int QNL_cooperSolver::Solve(QNL_network& network) {
    CleanUp(1);
    bound = &network;
    updateCount = 0;
    const std::uint64_t builtBefore = working.GetJoinTreeCache().GetBuildCount();
    utilitiesPresent = true;
    const int result = quarn::detail::RunWithoutAutoUpdate(
        network, [this] { return Run(); },
        [&](int r) {
            network.InvalidateValues();
            Log(r, "Error when running Cooper's algorithm");
        });
    compilationCount = working.GetJoinTreeCache().GetBuildCount() - builtBefore;
    CleanUp(1);
    return result;
}

int QNL_cooperSolver::Run() {
    QNL_network& net = *bound;
    const QNL_intArray order(net.GetOrderedNodes());
    for (int i = 0; i < order.GetCount(); ++i)
        if (IsUtilityNode(net, order[i])) utilityNodes.push_back(order[i]);
    if (utilityNodes.empty()) {
        Log(-2, "Utilities not specified. Policies cannot be evaluated");
        utilitiesPresent = false;
    }

    const int mask = net.GetNotificationMask();
    net.SetNotificationMask(0);
    int result = quarn::detail::CollectDecisionRelated(net, related);
    if (result == 0) result = quarn::detail::AssumeTemporalOrder(net, related, addedArcs);
    if (result == 0) result = working.Copy(net);
    net.SetNotificationMask(mask);
    if (result != 0) return result;
    // The copy's evidence notifications serve as the dependence test of the indexing, so they
    // must not take the values a solve of the caller's network left.
    working.SetPolicyValuesWritten(false);
    working.SetNotificationControl(working.GetNotificationControl() &
                                   ~QNL_network::NOTIFY_AUTO_UPDATE);
    // Every belief of the copy is wanted, whatever the caller's targets.
    working.ClearAllTargets();
    const int algorithm = working.GetDefaultBNAlgorithm();
    exactUpdates = algorithm == QNL_ALG_BN_CLUSTERING || algorithm == QNL_ALG_BN_POLYTREE ||
                   algorithm == QNL_ALG_BN_ELIMINATION_JOIN_TREE ||
                   algorithm == QNL_ALG_BN_RELEVANCE_DECOMPOSITION ||
                   algorithm == QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED;

    if (utilitiesPresent && (result = FindTarget()) != 0) return result;
    if ((result = MakeDecisionsChance()) != 0) return result;
    if ((result = ComputeIndexing()) != 0) return result;
    if ((result = ShapeValues()) != 0) return result;
    if ((result = ConvertWorkingCopy()) != 0) return result;

    quarn::detail::ListenForEvidence(working);
    outcome.assign(scenario.size(), 0);
    if ((result = MakeScenarioRecord()) != 0) return result;
    if ((result = Enumerate(0)) != 0) return result;
    if ((result = FinalUpdate()) != 0) return result;
    if ((result = CombineUtilities()) != 0) return result;
    if (utilitiesPresent && (result = BackwardInduction()) != 0) return result;
    MarkValid();
    return 0;
}

// In the working copy a decision is a chance node taking every option alike, whatever its
// parents: the arcs into it say what it sees, not what it depends on, so they go. The
// dependence walks of the indexing then pass it as they pass any chance node, and a
// distribution that depends on an earlier node only through findings below a later, open
// decision is indexed by that node. A MAU node takes only decisions and utilities as parents,
// so its arcs from the decisions go too: which decisions choose each MAU node's weights,
// directly or through the MAU nodes above it, is noted first.
int QNL_cooperSolver::MakeDecisionsChance() {
    working.SetNotificationMask(0);
    const QNL_intArray order(working.GetOrderedNodes());
    choosers.assign(static_cast<std::size_t>(working.GetTableSize()), {});
    for (int i = 0; i < order.GetCount(); ++i) {
        const int h = order[i];
        if (working.GetNode(h)->GetType() != QNL_TYPE_MAU) continue;
        std::vector<int>& chosenBy = choosers[static_cast<std::size_t>(h)];
        const QNL_intArray& parents = working.GetParents(h);
        for (int p = 0; p < parents.GetCount(); ++p) {
            const int type = working.GetNode(parents[p])->GetType();
            if (type == QNL_TYPE_LIST) chosenBy.push_back(parents[p]);
            if (type != QNL_TYPE_MAU) continue;
            const std::vector<int>& above = choosers[static_cast<std::size_t>(parents[p])];
            chosenBy.insert(chosenBy.end(), above.begin(), above.end());
        }
    }
    for (int i = 0; i < order.GetCount(); ++i) {
        const int h = order[i];
        if (working.GetNode(h)->GetType() != QNL_TYPE_LIST) continue;
        const QNL_intArray parents(working.GetParents(h));
        for (int p = 0; p < parents.GetCount(); ++p)
            if (int r = working.RemoveArc(parents[p], h)) return r;
        if (int r = working.GetNode(h)->SetType(QNL_TYPE_CPT)) return r;
        if (int r = SetUniformTable(working, h)) return r;
    }
    return 0;
}

bool QNL_cooperSolver::Chooses(int decision, int mau) const {
    const std::vector<int>& chosenBy = choosers[static_cast<std::size_t>(mau)];
    return std::find(chosenBy.begin(), chosenBy.end(), decision) != chosenBy.end();
}

// The one utility node the solve aims at: the only terminal utility node, or a MAU node of
// the working copy over all of them.
int QNL_cooperSolver::FindTarget() {
    std::vector<int> terminal;
    for (int u : utilityNodes)
        if (working.NumberOfChildren(u) == 0) terminal.push_back(u);
    if (terminal.size() == 1) {
        target = terminal[0];
        return 0;
    }
    working.SetNotificationMask(0);
    std::string id;
    working.GenerateNodeId(id);
    const int added = working.AddNode(QNL_TYPE_MAU, id.c_str());
    if (added < 0) return added;
    target = added;
    addedTarget = true;
    for (int u : terminal)
        if (int r = working.AddArc(u, added)) return r;
    return 0;
}

// The nodes whose values lose validity when the node's evidence (outcome 0) is withdrawn;
// the evidence is then entered again without invalidating anything.
int QNL_cooperSolver::DependentsOf(int node, std::vector<char>& out) {
    for (int h = working.GetFirstNode(); h >= 0; h = working.GetNextNode(h))
        if (QNL_nodeValue* v = ValueOf(working, h)) v->SetValidFlag(true);
    QNL_nodeValue* value = ValueOf(working, node);
    value->ClearEvidence();
    out.assign(static_cast<std::size_t>(working.GetTableSize()), 0);
    for (int h = working.GetFirstNode(); h >= 0; h = working.GetNextNode(h)) {
        const QNL_nodeValue* v = ValueOf(working, h);
        if (h != node && v != nullptr && !v->IsValueValid()) out[static_cast<std::size_t>(h)] = 1;
    }
    working.SetNotificationMask(QNL_network::CHANGE_EVIDENCE_CLEARED);
    const int result = value->SetEvidence(0);
    working.SetNotificationMask(QNL_network::CHANGE_EVIDENCE_SET |
                                QNL_network::CHANGE_EVIDENCE_CLEARED);
    return result;
}

// The scenario nodes are the decision-related nodes the target depends on while every
// decision-related node is observed, and the decisions with a finding below them: which of
// their options are possible can decide what later decisions may choose. The other values
// are indexed by the scenario nodes they depend on while exactly the scenario nodes are
// observed, as they are when the values are computed; a MAU node depends on the decisions
// that choose its weights besides. A chance scenario node's own distribution is indexed by the
// earlier scenario nodes it depends on, a decision's expected utilities by every one.
int QNL_cooperSolver::ComputeIndexing() {
    FindDecisionsAboveFindings();
    working.SetNotificationMask(0);
    for (int x : related)
        if (int r = ValueOf(working, x)->SetEvidence(0)) return r;
    working.SetNotificationControl(
        working.GetNotificationControl() &
        ~(QNL_network::NOTIFY_PROPAGATE_EVIDENCE | QNL_network::NOTIFY_AUTO_UPDATE));
    working.ClearAllPropagatedEvidence();
    working.SetNotificationMask(QNL_network::CHANGE_EVIDENCE_SET |
                                QNL_network::CHANGE_EVIDENCE_CLEARED);
    const std::size_t slots = static_cast<std::size_t>(working.GetTableSize());
    std::vector<char> dependents;
    if (target >= 0) {
        for (int x : related) {
            if (int r = DependentsOf(x, dependents)) return r;
            if (dependents[static_cast<std::size_t>(target)] || Chooses(x, target) ||
                findingBelow[static_cast<std::size_t>(x)])
                scenario.push_back(x);
        }
    }
    if (int r = CloseScenario()) return r;
    scenarioPosition.assign(slots, -1);
    for (std::size_t k = 0; k < scenario.size(); ++k)
        scenarioPosition[static_cast<std::size_t>(scenario[k])] = static_cast<int>(k);

    std::vector<char> observe(slots, 0);
    for (int y : scenario)
        observe[static_cast<std::size_t>(y)] = 1;
    if (int r = ObserveOnly(observe)) return r;
    indexing.assign(slots, {});
    for (int y : scenario) {
        if (int r = DependentsOf(y, dependents)) return r;
        for (std::size_t h = 0; h < slots; ++h)
            if ((dependents[h] || Chooses(y, static_cast<int>(h))) && scenarioPosition[h] < 0)
                indexing[h].push_back(y);
    }
    // A chance scenario node's own distribution is computed with the scenario nodes before
    // it observed and the later ones not, and is indexed by the earlier ones it depends on
    // then. A decision's expected utilities are indexed by every earlier scenario node.
    for (std::size_t k = 0; k < scenario.size(); ++k) {
        const int x = scenario[k];
        std::vector<int>& own = indexing[static_cast<std::size_t>(x)];
        own.clear();
        if (IsDecisionNode(*bound, x)) {
            own.assign(scenario.begin(), scenario.begin() + static_cast<std::ptrdiff_t>(k));
            continue;
        }
        std::fill(observe.begin(), observe.end(), 0);
        for (std::size_t j = 0; j < k; ++j)
            observe[static_cast<std::size_t>(scenario[j])] = 1;
        if (int r = ObserveOnly(observe)) return r;
        for (std::size_t j = 0; j < k; ++j) {
            if (int r = DependentsOf(scenario[j], dependents)) return r;
            if (dependents[static_cast<std::size_t>(x)]) own.push_back(scenario[j]);
        }
    }
    working.SetNotificationMask(0);
    // The last chance node's own indexing was found with itself unobserved.
    for (int y : scenario)
        if (ValueOf(working, y)->HasEvidence()) ValueOf(working, y)->ClearEvidence();
    working.InvalidateValues();
    return 0;
}

// Exactly the marked decision-related nodes of the working copy hold evidence (outcome 0),
// entered and withdrawn without invalidating anything.
int QNL_cooperSolver::ObserveOnly(const std::vector<char>& observe) {
    working.SetNotificationMask(0);
    int result = 0;
    for (int x : related) {
        QNL_nodeValue* value = ValueOf(working, x);
        const bool wanted = observe[static_cast<std::size_t>(x)] != 0;
        if (wanted && !value->HasEvidence()) result = value->SetEvidence(0);
        if (!wanted && value->HasEvidence()) value->ClearEvidence();
        if (result != 0) break;
    }
    working.SetNotificationMask(QNL_network::CHANGE_EVIDENCE_SET |
                                QNL_network::CHANGE_EVIDENCE_CLEARED);
    return result;
}

// The target's dependence is judged with every decision-related node observed, later ones
// included, so a node whose influence reaches the utilities only through later chance
// scenario nodes looks irrelevant: a decision that moves the distribution of a chance node
// observed before the next decision would drop out, and its options would all get the same
// worth. Likewise a node that decides which options of a later decision with a finding below
// it are possible. Such a node joins the scenario list when some chance scenario node, or
// such a decision, depends on it given the scenario nodes before that one, until no more
// join.
int QNL_cooperSolver::CloseScenario() {
    const std::size_t slots = static_cast<std::size_t>(working.GetTableSize());
    std::vector<char> inScenario(slots, 0), observe(slots, 0), dependents;
    for (int x : scenario)
        inScenario[static_cast<std::size_t>(x)] = 1;
    for (bool changed = !scenario.empty(); changed;) {
        changed = false;
        for (std::size_t p = 0; p < related.size(); ++p) {
            const int chance = related[p];
            if (!inScenario[static_cast<std::size_t>(chance)] ||
                (IsDecisionNode(*bound, chance) && !findingBelow[static_cast<std::size_t>(chance)]))
                continue;
            for (std::size_t q = 0; q < p; ++q) {
                const int candidate = related[q];
                if (inScenario[static_cast<std::size_t>(candidate)]) continue;
                std::fill(observe.begin(), observe.end(), 0);
                for (std::size_t i = 0; i < p; ++i)
                    if (inScenario[static_cast<std::size_t>(related[i])])
                        observe[static_cast<std::size_t>(related[i])] = 1;
                observe[static_cast<std::size_t>(candidate)] = 1;
                if (int r = ObserveOnly(observe)) return r;
                if (int r = DependentsOf(candidate, dependents)) return r;
                if (dependents[static_cast<std::size_t>(chance)]) {
                    inScenario[static_cast<std::size_t>(candidate)] = 1;
                    changed = true;
                }
            }
        }
    }
    scenario.clear();
    for (int x : related)
        if (inScenario[static_cast<std::size_t>(x)]) scenario.push_back(x);
    return 0;
}

// Every value of the caller's network without evidence starts afresh, indexed as found and
// filled with the undefined marker. Decisions are shaped by the backward induction.
int QNL_cooperSolver::ShapeValues() {
    QNL_network& net = *bound;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        QNL_nodeValue* value = ValueOf(net, h);
        if (value == nullptr || value->IsObserved() || value->GetMatrix() == nullptr) continue;
        const std::vector<int>& parents = indexing[static_cast<std::size_t>(h)];
        std::int64_t cells = OutcomesOf(net, h);
        for (int p : parents)
            cells *= OutcomesOf(net, p);
        if (cells > quarn::detail::kMaxSolverCells)
            return Log(-42, std::string("The value table of node [") + net.GetNode(h)->GetId() +
                                "] would be too large");
        if (int r = value->InitFromDefinition()) return r;
        if (IsDecisionNode(net, h)) continue;
        for (int p : parents)
            if (int r = value->AddIndexingParent(p)) return r;
        value->GetMatrix()->FillWith(kUndefined);
        if (working.GetNode(h) == nullptr || !working.GetNode(h)->GetValue()) continue;
        if (scenarioPosition[static_cast<std::size_t>(h)] >= 0) continue;
        (parents.empty() ? once : perScenario).push_back(h);
    }
    return 0;
}

int QNL_cooperSolver::ConvertWorkingCopy() {
    working.SetNotificationMask(0);
    const QNL_intArray order(working.GetOrderedNodes());
    for (int i = 0; i < order.GetCount(); ++i)
        if (working.GetNode(order[i])->GetType() == QNL_TYPE_MAU)
            if (int r = working.DeleteNode(order[i])) return r;
    for (int i = 0; i < order.GetCount(); ++i) {
        QNL_node* node = working.GetNode(order[i]);
        if (node == nullptr) continue;
        const int type = node->GetType();
        if (type == QNL_TYPE_LIST || type == QNL_TYPE_TABLE)
            if (int r = node->SetType(QNL_TYPE_CPT)) return r;
    }
    return 0;
}

// Writes the working copy's result for the node into the caller's value at the coordinates
// its indexing parents hold now: a belief vector whole, a utility as its first outcome.
int QNL_cooperSolver::StoreOne(int h) {
    QNL_nodeValue* from = ValueOf(working, h);
    QNL_nodeValue* to = ValueOf(*bound, h);
    if (from == nullptr || to == nullptr || !from->IsValueValid()) return 0;
    const QNL_Dmatrix* beliefs = from->GetMatrix();
    QNL_Dmatrix* cells = to->GetMatrix();
    if (beliefs == nullptr || cells == nullptr) return 0;
    const std::vector<int>& parents = indexing[static_cast<std::size_t>(h)];
    std::int64_t at = 0;
    for (std::size_t d = 0; d < parents.size(); ++d)
        at += std::int64_t{outcome[static_cast<std::size_t>(
                  scenarioPosition[static_cast<std::size_t>(parents[d])])]} *
              cells->GetMultiplier(static_cast<int>(d));
    const int count = IsChanceValue(to) ? OutcomesOf(*bound, h) : 1;
    if (beliefs->GetSize() < count || at + count > cells->GetSize()) return 0;
    for (int o = 0; o < count; ++o)
        cells->Subscript(static_cast<int>(at + o)) = beliefs->Subscript(o);
    return 1;
}

void QNL_cooperSolver::StoreResults(const std::vector<int>& nodes) {
    for (int h : nodes)
        StoreOne(h);
}

void QNL_cooperSolver::ListFailedScenario(std::size_t depth) {
    Log(-5, "The following scenario could not be evaluated:");
    for (std::size_t k = 0; k < depth; ++k) {
        const QNL_node* node = bound->GetNode(scenario[k]);
        const QNL_idArray* ids = node->GetDefinition()->GetOutcomeIds();
        const char* id = ids != nullptr ? ids->GetString(outcome[k]) : nullptr;
        Log(-5, std::string(node->GetId()) + " = " + (id != nullptr ? id : ""));
    }
}

// Which outcomes of the level's node are worth trying, from one update with the scenario
// nodes before it entered: an outcome of probability zero given them is impossible, and so is
// every one when the update finds that evidence impossible already. A finding below a
// decision can rule out some of its options, which entering the option need not show (the
// evidence may lie outside what the update looks at), and an impossible chance outcome need
// not show either where a table's zero meets the findings only further up: entered, either
// would be given what the scenario would be worth were it possible. The same update gives a
// chance node its own distribution given the earlier scenario nodes. A decision with nothing
// seen below it (its table in the working copy takes every option alike) needs no update. A
// sampler without useful samples says nothing either way, and a chance outcome a sampler
// estimates at zero is still tried: its weight in the expectation is that estimate.
int QNL_cooperSolver::WeighOutcomes(std::size_t level) {
    std::vector<char>& possible = possibleOptions[level];
    const int x = scenario[level];
    std::fill(possible.begin(), possible.end(), 1);
    const bool decision = IsDecisionNode(*bound, x);
    if (decision && !findingBelow[static_cast<std::size_t>(x)]) return 0;
    const int result = Update();
    if (result == -5) return 0;
    if (result != 0) return result;
    QNL_nodeValue* weighed = ValueOf(working, x);
    const QNL_Dmatrix* weights = weighed->GetMatrix();
    const bool valid = weighed->IsValueValid() && weights != nullptr &&
                       weights->GetSize() == static_cast<int>(possible.size());
    if (valid && !decision) StoreOne(x);
    if (valid && !decision && !exactUpdates) return 0;
    for (std::size_t o = 0; o < possible.size(); ++o)
        possible[o] = valid && weights->Subscript(static_cast<int>(o)) > 0.0;
    return 0;
}

// The decisions with a finding among their descendants in the working copy, in one pass from
// the last node in topological order up.
void QNL_cooperSolver::FindDecisionsAboveFindings() {
    findingBelow.assign(static_cast<std::size_t>(working.GetTableSize()), 0);
    std::vector<char> below(findingBelow.size(), 0);
    const QNL_intArray order(working.GetOrderedNodes());
    for (int i = order.GetCount(); i-- > 0;) {
        const int h = order[i];
        const QNL_intArray& children = working.GetChildren(h);
        bool found = false;
        for (int c = 0; c < children.GetCount() && !found; ++c) {
            const QNL_nodeValue* child = ValueOf(working, children[c]);
            found = below[static_cast<std::size_t>(children[c])] ||
                    (child != nullptr && child->IsObserved());
        }
        below[static_cast<std::size_t>(h)] = found;
        if (found && IsDecisionNode(*bound, h)) findingBelow[static_cast<std::size_t>(h)] = 1;
    }
}

// Values indexed by some of the scenario nodes share a cell among scenarios, so a cell being
// defined does not tell whether the scenario was possible: the scenarios evaluated are kept.
int QNL_cooperSolver::MakeScenarioRecord() {
    std::int64_t cells = 1;
    for (int y : scenario) {
        cells *= OutcomesOf(working, y);
        if (cells > quarn::detail::kMaxSolverCells)
            return Log(-42, "Not enough memory to solve the influence diagram");
    }
    evaluated.assign(static_cast<std::size_t>(cells), 0);
    possibleOptions.resize(scenario.size());
    for (std::size_t k = 0; k < scenario.size(); ++k)
        possibleOptions[k].assign(static_cast<std::size_t>(OutcomesOf(working, scenario[k])), 1);
    return 0;
}

// Scenario by scenario, the first scenario node varying slowest. A scenario the algorithm
// reports without useful samples (-5) is listed and passed over; its cells stay undefined.
int QNL_cooperSolver::Enumerate(std::size_t level) {
    if (level == scenario.size()) {
        const int result = Update();
        if (result == -5) {
            ListFailedScenario(scenario.size());
            return scenario.empty() ? -5 : 0;
        }
        if (result != 0) return result;
        // An update that finds the evidence impossible leaves the utilities not valid, and
        // what it computed elsewhere is no result of this scenario.
        for (int u : utilityNodes) {
            const QNL_nodeValue* utility = ValueOf(working, u);
            if (utility != nullptr && !utility->IsValueValid()) return 0;
        }
        StoreResults(perScenario);
        std::size_t at = 0;
        for (std::size_t k = 0; k < scenario.size(); ++k)
            at = at * static_cast<std::size_t>(OutcomesOf(working, scenario[k])) +
                 static_cast<std::size_t>(outcome[k]);
        evaluated[at] = 1;
        return 0;
    }
    const int x = scenario[level];
    QNL_nodeValue* value = ValueOf(working, x);
    const int count = OutcomesOf(working, x);
    std::vector<char>& possible = possibleOptions[level];
    if (int r = WeighOutcomes(level)) return r;
    for (int o = 0; o < count; ++o) {
        if (!possible[static_cast<std::size_t>(o)]) continue;
        // The previous outcome goes first: a refused finding keeps the one it would replace,
        // and that one would then stand in for an outcome never evaluated.
        if (value->HasEvidence()) value->ClearEvidence();
        // An outcome ruled out by the evidence already entered is passed over, and so is
        // what the refusal logged: the solve may still succeed.
        const int logged = QNL_errorHandler::Instance().GetNumberOfErrors();
        if (value->SetEvidence(o) != 0) {
            QNL_errorHandler::Instance().TruncateTo(logged);
            continue;
        }
        outcome[level] = o;
        if (int r = Enumerate(level + 1)) return r;
    }
    // Every level leaves without its finding, so the outcomes of an earlier node are weighed
    // on the earlier nodes alone.
    if (value->HasEvidence()) value->ClearEvidence();
    return 0;
}

// The values that depend on no scenario node, computed once with no scenario evidence.
int QNL_cooperSolver::FinalUpdate() {
    // Without scenario nodes the one update has run already.
    if (scenario.empty()) {
        StoreResults(once);
        return 0;
    }
    for (int y : scenario) {
        QNL_nodeValue* value = ValueOf(working, y);
        if (value->HasEvidence()) value->ClearEvidence();
    }
    if (once.empty()) return 0;
    const int result = Update();
    if (result == -5) return 0;
    if (result != 0) return result;
    StoreResults(once);
    return 0;
}

// Utilities back from [0, 1] to their tables' ranges; MAU values from their parents.
int QNL_cooperSolver::CombineUtilities() {
    QNL_network& net = *bound;
    for (int u : utilityNodes) {
        QNL_nodeValue* value = ValueOf(net, u);
        if (net.GetNode(u)->GetType() == QNL_TYPE_TABLE) {
            const auto* table = static_cast<const QNL_table*>(net.GetNode(u)->GetDefinition());
            auto* utility = dynamic_cast<QNL_utilityValue*>(value);
            if (utility == nullptr || table->GetSize() == 0) continue;
            utility->Rescale(0.0, 1.0, table->GetMinimumUtility(), table->GetMaximumUtility());
        } else if (auto* mau = dynamic_cast<QNL_mauValue*>(value)) {
            if (int r = mau->ComputeFromParents()) return r;
            UndefineCellsOfNoScenario(*mau);
        }
    }
    return 0;
}

// A MAU cell combines its parents' cells, each of which another scenario may have filled, so
// a cell that no evaluated scenario reaches goes back to the marker.
void QNL_cooperSolver::UndefineCellsOfNoScenario(QNL_nodeValue& value) {
    QNL_Dmatrix* cells = value.GetMatrix();
    if (cells == nullptr) return;
    const QNL_intArray& parents = value.GetIndexingParents();
    std::vector<std::int64_t> stride(scenario.size(), 0);
    for (int d = 0; d < parents.GetCount(); ++d) {
        const int k = scenarioPosition[static_cast<std::size_t>(parents[d])];
        if (k < 0) return;
        stride[static_cast<std::size_t>(k)] = cells->GetMultiplier(d);
    }
    std::vector<char> reached(static_cast<std::size_t>(cells->GetSize()), 0);
    std::vector<int> assignment(scenario.size(), 0), sizes;
    for (int y : scenario)
        sizes.push_back(OutcomesOf(working, y));
    std::int64_t at = 0;
    for (std::size_t s = 0; s < evaluated.size(); ++s) {
        if (evaluated[s]) reached[static_cast<std::size_t>(at)] = 1;
        // The next assignment, the last scenario node fastest.
        for (std::size_t k = scenario.size(); k-- > 0;) {
            at += stride[k];
            if (++assignment[k] < sizes[k]) break;
            at -= stride[k] * assignment[k];
            assignment[k] = 0;
        }
    }
    for (std::size_t i = 0; i < reached.size(); ++i)
        if (!reached[i]) cells->Subscript(static_cast<int>(i)) = kUndefined;
}

namespace {

// The cell of a value for one assignment of the scenario list.
double CellAt(const QNL_network& network, int h, const std::vector<int>& position,
              const std::vector<int>& assignment) {
    QNL_nodeValue* value = ValueOf(network, h);
    const QNL_Dmatrix* cells = value->GetMatrix();
    const QNL_intArray& parents = value->GetIndexingParents();
    std::int64_t at = 0;
    for (int d = 0; d < parents.GetCount(); ++d)
        at += std::int64_t{assignment[static_cast<std::size_t>(
                  position[static_cast<std::size_t>(parents[d])])]} *
              cells->GetMultiplier(d);
    return cells->Subscript(static_cast<int>(at));
}

} // namespace

// From the overall expected utility over every scenario node, the scenario nodes are taken
// out from the last: a decision by the maximum over its options, a chance node by its
// probabilities given the earlier scenario nodes. Scenarios not evaluated (impossible or
// failed) take part in neither; a cell with nothing defined to combine stays undefined.
int QNL_cooperSolver::BackwardInduction() {
    QNL_network& net = *bound;
    std::size_t cells = 1;
    for (int y : scenario)
        cells *= static_cast<std::size_t>(OutcomesOf(net, y));
    std::vector<int> terminal;
    for (int u : utilityNodes)
        if (net.NumberOfChildren(u) == 0) terminal.push_back(u);

    std::vector<double> table(cells, kUndefined);
    std::vector<int> assignment(scenario.size(), 0);
    for (std::size_t s = 0; s < cells; ++s) {
        std::size_t rest = s;
        for (std::size_t k = scenario.size(); k-- > 0;) {
            const std::size_t n = static_cast<std::size_t>(OutcomesOf(net, scenario[k]));
            assignment[k] = static_cast<int>(rest % n);
            rest /= n;
        }
        double sum = 0.0;
        bool defined = evaluated[s] != 0;
        for (int u : terminal) {
            const double v = CellAt(net, u, scenarioPosition, assignment);
            if (v == kUndefined) defined = false;
            sum += v;
        }
        if (defined) table[s] = sum;
    }

    std::vector<std::vector<double>> levels(scenario.size() + 1);
    levels[scenario.size()] = table;
    for (std::size_t k = scenario.size(); k-- > 0;) {
        const int x = scenario[k];
        const std::size_t n = static_cast<std::size_t>(OutcomesOf(net, x));
        const std::vector<double>& current = levels[k + 1];
        std::vector<double> next(current.size() / n, kUndefined);
        const bool decision = IsDecisionNode(net, x);
        // The chance node's distribution given each prefix, read where its own indexing
        // parents (a part of the prefix) point.
        std::vector<std::int64_t> base;
        const QNL_Dmatrix* own = nullptr;
        if (!decision) {
            own = ValueOf(net, x)->GetMatrix();
            const QNL_intArray& parents = ValueOf(net, x)->GetIndexingParents();
            if (own == nullptr || own->GetNumberOfDimensions() != parents.GetCount() + 1)
                return Log(-2, "Scenario node's distribution does not match the scenarios");
            base.assign(next.size(), 0);
            std::vector<int> prefix(k, 0);
            for (std::size_t j = 0; j < next.size(); ++j) {
                std::size_t rest = j;
                for (std::size_t i = k; i-- > 0;) {
                    const std::size_t size = static_cast<std::size_t>(OutcomesOf(net, scenario[i]));
                    prefix[i] = static_cast<int>(rest % size);
                    rest /= size;
                }
                for (int d = 0; d < parents.GetCount(); ++d)
                    base[j] += std::int64_t{prefix[static_cast<std::size_t>(
                                   scenarioPosition[static_cast<std::size_t>(parents[d])])]} *
                               own->GetMultiplier(d);
            }
        }
        for (std::size_t j = 0; j < next.size(); ++j) {
            double best = 0.0;
            bool found = false;
            for (std::size_t o = 0; o < n; ++o) {
                const double v = current[j * n + o];
                if (v == kUndefined) continue;
                if (decision) {
                    if (!found || v > best) best = v;
                    found = true;
                } else {
                    const double w =
                        own->Subscript(static_cast<int>(base[j]) + static_cast<int>(o));
                    if (w == kUndefined || !(w > 0.0)) continue;
                    best += w * v;
                    found = true;
                }
            }
            if (found) next[j] = best;
        }
        levels[k] = std::move(next);
    }

    // Each decision gets the table of its level: the expected utility of its options given
    // the earlier scenario nodes. A decision that is not a scenario node changes nothing, so
    // each of its options is worth the table without it.
    std::size_t before = 0;
    for (int h : related) {
        const int k = scenarioPosition[static_cast<std::size_t>(h)];
        if (!IsDecisionNode(net, h)) {
            if (k >= 0) ++before;
            continue;
        }
        QNL_nodeValue* value = ValueOf(net, h);
        for (std::size_t p = 0; p < before; ++p)
            if (int r = value->AddIndexingParent(scenario[p])) return r;
        QNL_Dmatrix* cellsOut = value->GetMatrix();
        const std::size_t n = static_cast<std::size_t>(OutcomesOf(net, h));
        const std::vector<double>& source = k >= 0 ? levels[before + 1] : levels[before];
        if (static_cast<std::size_t>(cellsOut->GetSize()) !=
            (k >= 0 ? source.size() : source.size() * n))
            return Log(-2, "Decision value does not match the scenarios");
        for (std::size_t i = 0; i < static_cast<std::size_t>(cellsOut->GetSize()); ++i)
            cellsOut->Subscript(static_cast<int>(i)) = k >= 0 ? source[i] : source[i / n];
        if (k >= 0) ++before;
    }
    return 0;
}

void QNL_cooperSolver::MarkValid() {
    QNL_network& net = *bound;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        QNL_nodeValue* value = ValueOf(net, h);
        if (value == nullptr) continue;
        bool valid;
        if (IsDecisionNode(net, h) && !value->IsObserved())
            valid = utilitiesPresent;
        else if (IsUtilityNode(net, h))
            valid = true;
        else if (!indexing[static_cast<std::size_t>(h)].empty() ||
                 scenarioPosition[static_cast<std::size_t>(h)] >= 0)
            valid = true;
        else {
            const QNL_nodeValue* computed = ValueOf(working, h);
            valid = computed != nullptr && computed->IsValueValid();
        }
        value->SetValidFlag(valid);
    }
    net.SetPolicyValuesWritten(true);
}
