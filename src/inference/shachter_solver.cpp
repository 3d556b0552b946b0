#include "inference/shachter_solver.h"

#include "definitions/cpt.h"
#include "definitions/mau.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "definitions/table.h"
#include "inference/influence_diagram.h"
#include "inference/join_tree_cache.h"
#include "model/error_handler.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <cstdint>
#include <new>
#include <string>

using quarn::detail::IsDecisionNode;
using quarn::detail::IsUtilityNode;
using quarn::detail::OutcomesOf;
using quarn::detail::SetUniformTable;
using quarn::detail::ValueOf;

namespace {

constexpr const char* kNotApplicable = "Can't solve this network using best policy algorithm";

int Log(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, message);
}

// A MAU node folds into its utility parents only when it is a weighted sum whose weights
// no decision changes.
bool FoldsLinearly(const QNL_mau& mau) {
    if (mau.GetExpressions() != nullptr) return false;
    const QNL_Dmatrix& weights = mau.GetWeights();
    const int count = mau.GetUtilityParents().GetCount();
    for (int i = count; i < weights.GetSize(); ++i)
        if (weights.Subscript(i) != weights.Subscript(i % count)) return false;
    return true;
}

} // namespace

int QNL_shachterSolver::CleanUp(int deep) {
    if (deep) {
        working.CleanUp(1);
        decisions.clear();
        utilityNodes.clear();
        related.clear();
        addedArcs.clear();
        decisionParents.clear();
        findingBelow.clear();
    }
    merged = -1;
    bound = nullptr;
    return 0;
}

int QNL_shachterSolver::Solve(QNL_network& network) {
    CleanUp(1);
    bound = &network;
    updateCount = 0;
    const std::uint64_t builtBefore = working.GetJoinTreeCache().GetBuildCount();
    const int result = quarn::detail::RunWithoutAutoUpdate(network, [this] { return Run(); });
    compilationCount = working.GetJoinTreeCache().GetBuildCount() - builtBefore;
    CleanUp(1);
    return result;
}

int QNL_shachterSolver::Run() {
    QNL_network& net = *bound;
    QNL_intArray ordered;
    if (int r = net.GetDecisionOrderedNodes(ordered)) return r;
    std::vector<int> open;
    for (int i = 0; i < ordered.GetCount(); ++i)
        if (IsDecisionNode(net, ordered[i]) && !ValueOf(net, ordered[i])->IsObserved())
            open.push_back(ordered[i]);
    auto seesUnobserved = [&](int decision, bool decisionsToo) {
        const QNL_intArray& parents = net.GetParents(decision);
        for (int p = 0; p < parents.GetCount(); ++p)
            if ((decisionsToo || !IsDecisionNode(net, parents[p])) &&
                !ValueOf(net, parents[p])->IsObserved())
                return true;
        return false;
    };
    if (!open.empty() && seesUnobserved(open[0], true)) return Log(-2, kNotApplicable);
    // A finding below a later decision makes the weights of what is seen before it depend on
    // the option it will take; its fixed table does not weigh them as the expected utilities
    // do (every option alike), so such a diagram is solved only when nothing unobserved is
    // seen up to that decision.
    QNL_intArray below;
    for (std::size_t k = open.size(); k-- > 1;) {
        below.Flush();
        if (int r = net.GetDescendants(open[k], below)) return r;
        bool finding = false;
        for (int i = 0; i < below.GetCount() && !finding; ++i)
            finding = ValueOf(net, below[i])->IsObserved();
        if (!finding) continue;
        for (std::size_t i = 1; i <= k; ++i)
            if (seesUnobserved(open[i], false)) return Log(-2, kNotApplicable);
        break;
    }
    const QNL_intArray order(net.GetOrderedNodes());
    for (int i = 0; i < order.GetCount(); ++i) {
        const QNL_node* node = net.GetNode(order[i]);
        if (node->GetType() != QNL_TYPE_MAU) continue;
        if (!FoldsLinearly(static_cast<const QNL_mau&>(*node->GetDefinition())))
            return Log(-2, kNotApplicable);
    }

    net.SetNotificationMask(0);
    net.InvalidateValues();
    int result = quarn::detail::CollectDecisionRelated(net, related);
    if (result == 0) result = quarn::detail::AssumeTemporalOrder(net, related, addedArcs);
    for (int h : related)
        if (IsDecisionNode(net, h)) decisions.push_back(h);
    if (result == 0) result = working.Copy(net);
    if (result != 0) return result;
    working.ClearAllTargets();
    working.SetNotificationMask(0);
    for (int i = 0; i < working.GetOrderedNodes().GetCount(); ++i) {
        const int h = working.GetOrderedNodes()[i];
        if (IsUtilityNode(working, h)) utilityNodes.push_back(h);
    }
    if ((result = FoldMauNodes()) != 0) return result;
    if ((result = MergeUtilities()) != 0) return result;
    working.SetNotificationControl(working.GetNotificationControl() &
                                   ~QNL_network::NOTIFY_AUTO_UPDATE);
    if ((result = ConvertWorkingCopy()) != 0) return result;
    quarn::detail::ListenForEvidence(working);

    int best = 0;
    FindDecisionsAboveFindings();
    if (decisions.empty()) result = Log(-2, "No decision to solve");
    for (std::size_t k = decisions.size(); result == 0 && k-- > 0;)
        result = FixDecision(static_cast<int>(k), k > 0, best);
    if (result != 0) {
        net.InvalidateValues();
        return Log(result, "Error when running Shachter's algorithm");
    }
    QNL_nodeValue* value = ValueOf(net, decisions[0]);
    QNL_Dmatrix* cells = value->GetMatrix();
    cells->FillWith(0.0);
    cells->Subscript(best) = 1.0;
    value->SetValidFlag(true);
    net.SetPolicyValuesWritten(true);
    return 0;
}

// Each utility table is scaled by the total weight with which it enters the overall utility:
// the sum over its paths through MAU nodes of the products of their weights. A table that
// feeds two MAU nodes thus counts with the sum of their weights.
int QNL_shachterSolver::FoldMauNodes() {
    std::vector<double> total(static_cast<std::size_t>(working.GetTableSize()), 0.0);
    for (std::size_t i = utilityNodes.size(); i-- > 0;) {
        const int h = utilityNodes[i];
        const QNL_intArray& children = working.GetChildren(h);
        if (children.GetCount() == 0) total[static_cast<std::size_t>(h)] = 1.0;
        for (int c = 0; c < children.GetCount(); ++c) {
            const QNL_node* child = working.GetNode(children[c]);
            if (child->GetType() != QNL_TYPE_MAU) continue;
            const auto& mau = static_cast<const QNL_mau&>(*child->GetDefinition());
            const int k = mau.GetUtilityParents().FindPosition(h);
            if (k < 0 || k >= mau.GetWeights().GetSize()) continue;
            total[static_cast<std::size_t>(h)] +=
                mau.GetWeights().Subscript(k) * total[static_cast<std::size_t>(children[c])];
        }
    }
    std::vector<int> tables;
    for (int h : utilityNodes) {
        QNL_node* node = working.GetNode(h);
        if (node->GetType() == QNL_TYPE_MAU) {
            if (int r = working.DeleteNode(h)) return r;
            continue;
        }
        QNL_Dmatrix* table = node->GetDefinition()->GetMatrix();
        for (int i = 0; i < table->GetSize(); ++i)
            if (table->Subscript(i) != QNL_utilityValue::UNDEFINED_UTILITY)
                table->Subscript(i) *= total[static_cast<std::size_t>(h)];
        tables.push_back(h);
    }
    utilityNodes = tables;
    return 0;
}

// One utility table over the parents of all of them, holding their sum. The limit counts the
// cells of the merged table, not its parents.
int QNL_shachterSolver::MergeUtilities() {
    std::vector<int> parents;
    long long cells = 1;
    for (int u : utilityNodes) {
        const QNL_intArray& p = working.GetParents(u);
        for (int i = 0; i < p.GetCount(); ++i) {
            bool listed = false;
            for (int q : parents)
                listed = listed || q == p[i];
            if (listed) continue;
            parents.push_back(p[i]);
            cells *= OutcomesOf(working, p[i]);
            if (cells > MAX_MERGED_CELLS)
                return Log(-2, "Cannot solve this network using SHACHTER's algorithm. Error "
                               "while merging utility nodes (too many parents)");
        }
    }
    std::string id;
    working.GenerateNodeId(id);
    merged = working.AddNode(QNL_TYPE_TABLE, id.c_str());
    if (merged < 0) return merged;
    for (int p : parents)
        if (int r = working.AddArc(p, merged)) return r;
    QNL_Dmatrix* sum = working.GetNode(merged)->GetDefinition()->GetMatrix();
    std::vector<int> at(parents.size(), 0);
    for (int cell = 0; cell < sum->GetSize(); ++cell) {
        int rest = cell;
        for (std::size_t k = parents.size(); k-- > 0;) {
            const int n = OutcomesOf(working, parents[k]);
            at[k] = rest % n;
            rest /= n;
        }
        double total = 0.0;
        for (int u : utilityNodes) {
            const QNL_intArray& p = working.GetParents(u);
            const QNL_Dmatrix* table = working.GetNode(u)->GetDefinition()->GetMatrix();
            std::int64_t index = 0;
            for (int i = 0; i < p.GetCount(); ++i) {
                std::size_t k = 0;
                while (parents[k] != p[i])
                    ++k;
                index += std::int64_t{at[k]} * table->GetMultiplier(i);
            }
            total += table->Subscript(static_cast<int>(index));
        }
        sum->Subscript(cell) = total;
    }
    for (int u : utilityNodes)
        if (int r = working.DeleteNode(u)) return r;
    return 0;
}

// The utilities rescaled from their own range to [0, 1] (a constant table to 1) become the
// probabilities of the first of two outcomes.
int QNL_shachterSolver::ConvertUtility(int h) {
    QNL_node* node = working.GetNode(h);
    auto* table = static_cast<QNL_table*>(node->GetDefinition());
    if (int r = table->RescaleUtilities(0.0, 0.0, 0.0, 1.0)) return r;
    const QNL_Dmatrix rescaled(table->GetTable());
    if (int r = node->SetType(QNL_TYPE_CPT)) return r;
    QNL_doubleArray values;
    for (int i = 0; i < rescaled.GetSize(); ++i) {
        const double u = rescaled.Subscript(i);
        values.Add(u);
        values.Add(1.0 - u);
    }
    return static_cast<QNL_cpt*>(node->GetDefinition())->SetProbabilities(values);
}

int QNL_shachterSolver::ConvertWorkingCopy() {
    const QNL_intArray order(working.GetOrderedNodes());
    for (int d : decisions) {
        const QNL_intArray& p = working.GetParents(d);
        decisionParents.emplace_back(p.Items(), p.Items() + p.GetCount());
    }
    for (int i = 0; i < order.GetCount(); ++i) {
        const int h = order[i];
        QNL_node* node = working.GetNode(h);
        const int type = node->GetType();
        if (type != QNL_TYPE_LIST && type != QNL_TYPE_TABLE) continue;
        if (type == QNL_TYPE_TABLE) {
            if (int r = ConvertUtility(h)) return r;
            continue;
        }
        if (int r = node->SetType(QNL_TYPE_CPT)) return r;
        std::size_t k = 0;
        while (k < decisions.size() && decisions[k] != h)
            ++k;
        if (k < decisions.size())
            for (int p : decisionParents[k])
                if (int r = working.AddArc(p, h)) return r;
        if (int r = SetUniformTable(working, h)) return r;
    }
    return 0;
}

// The decisions with a finding among their descendants in the working copy.
void QNL_shachterSolver::FindDecisionsAboveFindings() {
    findingBelow.assign(decisions.size(), 0);
    QNL_intArray below;
    for (std::size_t k = 0; k < decisions.size(); ++k) {
        below.Flush();
        working.GetDescendants(decisions[k], below);
        for (int i = 0; i < below.GetCount() && !findingBelow[k]; ++i)
            findingBelow[k] = ValueOf(working, below[i])->HasEvidence();
    }
}

// The option of highest expected utility given the findings and the evidence entered: for a
// later decision (fix) once per configuration of its unobserved parents, its table then fixed
// to those options; for the first decision, whose parents are all observed, once.
int QNL_shachterSolver::FixDecision(int index, bool fix, int& best) {
    const int d = decisions[static_cast<std::size_t>(index)];
    const std::vector<int>& parents = decisionParents[static_cast<std::size_t>(index)];
    QNL_Dmatrix* table = working.GetNode(d)->GetDefinition()->GetMatrix();
    const int outcomes = OutcomesOf(working, d);
    const int columns = table->GetSize() / outcomes;
    std::vector<double> fixed(static_cast<std::size_t>(table->GetSize()), 0.0);
    for (int column = 0; column < (fix ? columns : 1); ++column) {
        int rest = column;
        std::vector<int> entered;
        bool possible = true;
        for (std::size_t k = parents.size(); fix && k-- > 0;) {
            const int n = OutcomesOf(working, parents[k]);
            const int o = rest % n;
            rest /= n;
            QNL_nodeValue* value = ValueOf(working, parents[k]);
            if (value->IsObserved()) {
                possible = possible && value->GetEvidence() == o;
                continue;
            }
            if (value->SetEvidence(o) != 0)
                possible = false;
            else
                entered.push_back(parents[k]);
        }
        int choice = 0;
        const int result =
            possible ? Choose(d, findingBelow[static_cast<std::size_t>(index)] != 0, choice) : 0;
        for (int h : entered)
            ValueOf(working, h)->ClearEvidence();
        if (result != 0) return result;
        fixed[static_cast<std::size_t>(column * outcomes + choice)] = 1.0;
        best = choice;
    }
    if (!fix) return 0;
    QNL_doubleArray values;
    for (double v : fixed)
        values.Add(v);
    return static_cast<QNL_cpt*>(working.GetNode(d)->GetDefinition())->SetProbabilities(values);
}

// With the merged utility's first outcome observed, the belief in an option is its rescaled
// expected utility times its probability given the rest of the evidence. That probability is
// the same for every option unless a finding lies below the decision; then it is taken from an
// update without the merged utility's finding and divided out, and an option it rules out is
// never picked. Where the merged utility's first outcome is impossible, every possible option
// is worth the least utility and the first is taken; the first of equal options wins.
int QNL_shachterSolver::Choose(int d, bool weighed, int& choice) {
    const int outcomes = OutcomesOf(working, d);
    std::vector<double> weight(static_cast<std::size_t>(outcomes), 1.0);
    QNL_nodeValue* decision = ValueOf(working, d);
    if (weighed) {
        ++updateCount;
        if (int r = working.CallBNAlgorithm()) return r;
        // The configuration is impossible: the option taken there changes nothing.
        if (!decision->IsValueValid()) return 0;
        for (int o = 0; o < outcomes; ++o)
            weight[static_cast<std::size_t>(o)] = decision->GetMatrix()->Subscript(o);
    }
    QNL_nodeValue* utility = ValueOf(working, merged);
    const int logged = QNL_errorHandler::Instance().GetNumberOfErrors();
    bool even = utility->SetEvidence(0) != 0;
    std::vector<double> belief(static_cast<std::size_t>(outcomes), 0.0);
    if (even) {
        QNL_errorHandler::Instance().TruncateTo(logged);
    } else {
        ++updateCount;
        const int result = working.CallBNAlgorithm();
        even = result != 0 || !decision->IsValueValid();
        for (int o = 0; !even && o < outcomes; ++o)
            belief[static_cast<std::size_t>(o)] = decision->GetMatrix()->Subscript(o);
        utility->ClearEvidence();
        if (result != 0) return result;
    }
    int picked = -1;
    for (int o = 0; o < outcomes; ++o) {
        const std::size_t at = static_cast<std::size_t>(o);
        if (!(weight[at] > 0.0)) continue;
        const std::size_t now = static_cast<std::size_t>(picked);
        if (picked < 0 || (!even && (weighed ? belief[at] / weight[at] > belief[now] / weight[now]
                                             : belief[at] > belief[now])))
            picked = o;
    }
    choice = picked < 0 ? 0 : picked;
    return 0;
}
