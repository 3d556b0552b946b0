#include "inference/hybrid_inference.h"

#include "definitions/equation.h"
#include "definitions/hybrid_definition.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "inference/bayesian_algorithms.h"
#include "inference/sampling_core.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "numerics/number_text.h"
#include "numerics/random.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <new>
#include <queue>

namespace {

constexpr const char* kNoSamples = "No useful samples have been generated for some of nodes.";

// The generators share one recurrence and are often seeded alike (at load from one reading of
// the clock, in tests from one number): two in one state hand out the same numbers in step,
// so the proposal's draw of one node and the definition's draw of another were one number,
// and a child independent of the evidence took the weights of its parent's proposal (0.168
// for 0.2). Each run of the messages moves the generators of the messages and the mixtures
// to states of their own, a fixed function of their states, so that seeded runs repeat; the
// reseeding starts their second streams apart too.
void SeparateStreams() {
    const std::uint32_t definitions = QNL_randomUniform().GetState();
    std::uint32_t salt = 0x9E3779B9u;
    for (QNL_random* random :
         {&QNL_randomMixtures(), &QNL_randomSamplingNodes(), &QNL_randomSamplingDistributions()}) {
        std::uint32_t state = random->GetState() ^ salt;
        // Seed 0 would read the clock.
        if (state == definitions || state == 0) state = ~state;
        random->Seed(state);
        salt = salt * 2654435761u + 0x7F4A7C15u;
    }
}

std::string IdAt(const QNL_network& network, int handle) {
    const QNL_node* node = network.GetNode(handle);
    return node != nullptr && node->GetId() != nullptr ? node->GetId() : "";
}

} // namespace

QNL_hybridInference::QNL_hybridInference(QNL_network& network)
    : network(network), samples(network.GetNumberOfSamples()) {}

QNL_samplingNode* QNL_hybridInference::GetNode(int handle) const {
    if (handle < 0 || handle >= static_cast<int>(nodes.size())) return nullptr;
    return nodes[static_cast<std::size_t>(handle)].get();
}

int QNL_hybridInference::TypeOf(int handle) const {
    const QNL_node* node = network.GetNode(handle);
    return node != nullptr ? node->GetType() : 0;
}

int QNL_hybridInference::Refuse(int handle, const std::string& why) {
    return QNL_errorHandler::Instance().LogError(-2, "ERROR: Node [" + IdAt(network, handle) +
                                                         "] : " + why);
}

int QNL_hybridInference::Build() {
    try {
        if (int r = CreateNodes()) return r;
        if (int r = Link()) return r;
        if (!evidence.empty()) FixDetermined();
        MarkAncestors();
        MarkFixedNeighbours();
        solved.assign(nodes.size(), 0);
        for (int e : evidence)
            if (PrepareEnforcement(e) != 0) flags |= FLAG_UNENFORCEABLE;
        Propagate();
        DropSettledChains();
        if (BuildOrder() != 0) flags |= FLAG_UNENFORCEABLE;
        for (auto& node : nodes)
            if (node != nullptr && node->Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT) &&
                node->ResolveEnforcingExpressions(
                    nodes[static_cast<std::size_t>(node->GetEnforcingParent())]->GetId()) != 0)
                flags |= FLAG_UNENFORCEABLE;
        if (int r = CheckConfigurations()) return r;
        return CheckFixed();
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

// Arrays by handle are sized to the last handle + 1; deleted slots stay empty.
int QNL_hybridInference::CreateNodes() {
    nodes.clear();
    nodes.resize(static_cast<std::size_t>(std::max(0, network.GetLastNode() + 1)));
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        QNL_node* node = network.GetNode(h);
        const int type = node->GetType();
        if (!QNL_hybridDefinition::IsHybridType(type))
            return Refuse(h, std::string("hybrid inference handles DISTRIBUTION, HEQUATION and "
                                         "DCHILDHPARENT nodes only, not ") +
                                 node->GetDefinition()->GetTypeName());
        const QNL_nodeValue* value = node->GetValue();
        const bool observed = value != nullptr && value->IsObserved();
        const std::string id = IdAt(network, h);
        if (type == QNL_TYPE_DCHILDHPARENT) {
            const int outcomes = node->GetDefinition()->GetNumberOfOutcomes();
            const int state = observed ? value->GetEvidence() : -1;
            if (observed && (state < 0 || state >= outcomes))
                return Refuse(h, "its evidence is not one of its outcomes");
            nodes[static_cast<std::size_t>(h)] =
                std::make_unique<QNL_discreteSamplingNode>(h, id, outcomes, state);
        } else {
            const auto* definition =
                static_cast<const QNL_continuousDefinition*>(node->GetDefinition());
            const double lower = definition->GetLowerBound();
            const double upper = definition->GetUpperBound();
            if (!std::isfinite(lower) || !std::isfinite(upper) || !(lower < upper))
                return Refuse(h, "its bounds are not finite numbers in increasing order");
            double x = 0.0;
            if (observed) value->GetEvidence(&x);
            auto sampling =
                std::make_unique<QNL_continuousSamplingNode>(h, id, lower, upper, observed, x);
            if (observed && !sampling->Inside(x)) {
                QNL_errorHandler::Instance().LogError(
                    -2, "ERROR: Node [" + id + "] : its evidence lies outside its bounds");
                return -5;
            }
            nodes[static_cast<std::size_t>(h)] = std::move(sampling);
        }
        if (observed) evidence.push_back(h);
    }
    return 0;
}

int QNL_hybridInference::Link() {
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        QNL_samplingNode& node = *nodes[static_cast<std::size_t>(h)];
        std::vector<int> continuous;
        const QNL_intArray& parents = network.GetParents(h);
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int p = parents[i];
            if (TypeOf(p) == QNL_TYPE_DCHILDHPARENT) {
                node.parents.push_back(p);
                node.parentOutcomes.push_back(
                    network.GetNode(p)->GetDefinition()->GetNumberOfOutcomes());
                node.parentStates.push_back(nodes[static_cast<std::size_t>(p)]->StatePointer());
            } else {
                continuous.push_back(p);
            }
        }
        node.discreteParents = static_cast<int>(node.parents.size());
        for (int p : continuous) {
            node.parents.push_back(p);
            node.parentValues.push_back(nodes[static_cast<std::size_t>(p)]->ValuePointer());
            node.continuousParentIds.push_back(IdAt(network, p));
        }
        std::vector<int> continuousChildren;
        const QNL_intArray& children = network.GetChildren(h);
        for (int i = 0; i < children.GetCount(); ++i) {
            const int c = children[i];
            if (TypeOf(c) == QNL_TYPE_DCHILDHPARENT) {
                node.children.push_back(c);
                node.childOutcomes.push_back(
                    network.GetNode(c)->GetDefinition()->GetNumberOfOutcomes());
            } else {
                continuousChildren.push_back(c);
            }
        }
        node.discreteChildren = static_cast<int>(node.children.size());
        node.children.insert(node.children.end(), continuousChildren.begin(),
                             continuousChildren.end());

        const auto* definition =
            static_cast<const QNL_hybridDefinition*>(network.GetNode(h)->GetDefinition());
        const QNL_intArray& dimensions = definition->GetDimensionParents();
        bool inStep = dimensions.GetCount() == node.discreteParents;
        for (int d = 0; inStep && d < node.discreteParents; ++d)
            inStep = dimensions[d] == node.parents[static_cast<std::size_t>(d)];
        if (!inStep) return Refuse(h, "its table does not follow its discrete parents");
        const int taken = node.TakeHolders(*definition);
        if (taken == -42) return QNL_errorHandler::Instance().LogError(-42);
        if (taken != 0) return Refuse(h, "a configuration of its parents has no distribution");
        if (int r = CheckHolders(node, TypeOf(h))) return r;
    }
    return 0;
}

// Every variable must be a continuous parent, bound before each evaluation; a variable
// bound to nothing would evaluate as a number that means nothing.
int QNL_hybridInference::CheckHolders(QNL_samplingNode& node, int type) {
    std::vector<std::string> names;
    for (auto& holder : node.Holders()) {
        holder->GetVariables(names);
        // The expressions solved for the parents name the node itself; its main one may not.
        const auto* named = dynamic_cast<const QNL_namedExpressions*>(holder.get());
        if (named != nullptr && QNL_exprNode::CountVariable(named->GetMainTree(), node.GetId()) > 0)
            return Refuse(node.GetHandle(), "its expression names the node itself");
        for (const std::string& name : names)
            if (name != node.GetId() &&
                std::find(node.continuousParentIds.begin(), node.continuousParentIds.end(), name) ==
                    node.continuousParentIds.end())
                return Refuse(node.GetHandle(), "its expression names '" + name +
                                                    "', which is not a continuous parent");
        if (holder->DrawsBelowRoot())
            return Refuse(node.GetHandle(),
                          "its expression draws from a distribution below its root");
        const bool outcomes = dynamic_cast<QNL_outcomeExpressions*>(holder.get()) != nullptr;
        if (outcomes != (type == QNL_TYPE_DCHILDHPARENT))
            return Refuse(node.GetHandle(), "its distribution holder is not of its kind");
    }
    return 0;
}

// A node whose value is determined, a constant or an equation of fixed nodes, is fixed before
// the evidence chooses the parents it is enforced through: enforced through such a node, the
// evidence could be met only by the one value its equation gives, which no solved value
// reproduces, and every draw would weigh 0. A value outside the node's bounds is left to the
// propagation from the evidence, whose check names it.
void QNL_hybridInference::FixDetermined() {
    std::vector<int> stack(evidence.rbegin(), evidence.rend());
    for (auto& node : nodes)
        if (node != nullptr && node->parents.empty() && FixEquation(node->GetHandle(), true))
            stack.push_back(node->GetHandle());
    while (!stack.empty()) {
        const int n = stack.back();
        stack.pop_back();
        for (int c : nodes[static_cast<std::size_t>(n)]->children)
            if (FixEquation(c, true)) stack.push_back(c);
    }
}

// Fixes an equation node whose parents are all fixed at the value its equation gives them.
bool QNL_hybridInference::FixEquation(int handle, bool withinBounds) {
    QNL_samplingNode& node = *nodes[static_cast<std::size_t>(handle)];
    if (!node.AnyEquation() || node.Has(QNL_samplingNode::FIXED) ||
        !std::all_of(node.parents.begin(), node.parents.end(), [&](int p) { return IsFixed(p); }))
        return false;
    QNL_evaluationContext* holder = node.Holder();
    double x = 0.0;
    if (!holder->HasExpressions() || holder->Evaluate(&x) != 0 || !std::isfinite(x)) return false;
    if (withinBounds && !static_cast<QNL_continuousSamplingNode&>(node).Inside(x)) return false;
    node.SetValue(x);
    node.Fix();
    return true;
}

void QNL_hybridInference::MarkAncestors() {
    std::vector<char> seen(nodes.size(), 0);
    std::vector<int> stack;
    for (int e : evidence) {
        std::fill(seen.begin(), seen.end(), 0);
        stack.assign(nodes[static_cast<std::size_t>(e)]->parents.begin(),
                     nodes[static_cast<std::size_t>(e)]->parents.end());
        while (!stack.empty()) {
            const int n = stack.back();
            stack.pop_back();
            QNL_samplingNode& node = *nodes[static_cast<std::size_t>(n)];
            if (node.Has(QNL_samplingNode::ANCESTOR_OF_EVIDENCE) ||
                seen[static_cast<std::size_t>(n)])
                continue;
            seen[static_cast<std::size_t>(n)] = 1;
            if (!node.Has(QNL_samplingNode::FIXED))
                node.SetFlag(QNL_samplingNode::ANCESTOR_OF_EVIDENCE);
            stack.insert(stack.end(), node.parents.begin(), node.parents.end());
        }
    }
}

void QNL_hybridInference::MarkFixedNeighbours() {
    for (auto& node : nodes) {
        if (node == nullptr) continue;
        auto allFixed = [&](const std::vector<int>& list) {
            return !list.empty() &&
                   std::all_of(list.begin(), list.end(), [&](int h) { return IsFixed(h); });
        };
        if (allFixed(node->children)) node->SetFlag(QNL_samplingNode::ALL_CHILDREN_FIXED);
        if (allFixed(node->parents)) node->SetFlag(QNL_samplingNode::ALL_PARENTS_FIXED);
    }
}

// The equation of an equation node solved for each continuous parent, in every holder,
// stored under the parent's identifier. A parent the equation can't be solved for gets
// nothing and is never chosen to enforce the node.
int QNL_hybridInference::SolveForParents(QNL_samplingNode& node) {
    const std::size_t h = static_cast<std::size_t>(node.GetHandle());
    if (solved[h]) return 0;
    solved[h] = 1;
    for (auto& holder : node.Holders()) {
        auto* named = dynamic_cast<QNL_namedExpressions*>(holder.get());
        if (named == nullptr || !named->HasExpressions()) continue;
        for (int i = static_cast<int>(node.continuousParentIds.size()) - 1; i >= 0; --i) {
            const std::string& parent = node.continuousParentIds[static_cast<std::size_t>(i)];
            if (named->GetExpression(parent) != nullptr) continue;
            QNL_parsedEquation equation;
            std::string message;
            if (equation.SetEquation(node.GetId() + "=" + named->GetText(), nullptr, &message) != 0)
                continue;
            if (equation.SolveFor(parent) != 0) continue;
            std::string text;
            QNL_exprNode::ToSignedText(equation.GetRight(), text);
            if (int r = named->SetExpression(parent, text)) return r;
        }
    }
    node.Rebind();
    return 0;
}

bool QNL_hybridInference::NamesOpenParent(const QNL_samplingNode& node,
                                          const QNL_evaluationContext& holder) const {
    const auto* named = dynamic_cast<const QNL_namedExpressions*>(&holder);
    if (named == nullptr) return false;
    for (std::size_t i = static_cast<std::size_t>(node.discreteParents); i < node.parents.size();
         ++i)
        if (!IsFixed(node.parents[i]) &&
            QNL_exprNode::CountVariable(
                named->GetMainTree(),
                node.continuousParentIds[i - static_cast<std::size_t>(node.discreteParents)]) > 0)
            return true;
    return false;
}

// Chooses, from the evidence node down, the parent through which each equation node of the
// chain is enforced: the last continuous parent that is neither fixed nor set by another
// chain and whose solved expression exists in every holder that is an equation. -2 when
// every parent is fixed.
int QNL_hybridInference::PrepareEnforcement(int handle) {
    int current = handle;
    for (int guard = 0; guard < static_cast<int>(nodes.size()); ++guard) {
        QNL_samplingNode& node = *nodes[static_cast<std::size_t>(current)];
        if (!node.AnyEquation()) return 0;
        if (int r = SolveForParents(node)) return r;
        if (node.parents.empty()) return 0;
        // Evidence on a node whose parents are all fixed has nothing to enforce: it is checked
        // against the value its equation gives them before anything is drawn, and weighed by
        // that equation. A node the chain reached further down that has no open parent can't
        // take the value the chain solves for it.
        if (std::all_of(node.parents.begin(), node.parents.end(),
                        [&](int p) { return IsFixed(p); }))
            return current == handle ? 0 : -2;
        int chosen = -1, slot = -1;
        for (int i = static_cast<int>(node.parents.size()) - 1;
             i >= node.discreteParents && chosen < 0; --i) {
            const int p = node.parents[static_cast<std::size_t>(i)];
            const QNL_samplingNode& parent = *nodes[static_cast<std::size_t>(p)];
            if (parent.Has(QNL_samplingNode::FIXED) ||
                parent.Has(QNL_samplingNode::SET_THROUGH_CHILD))
                continue;
            // A configuration defined by a distribution weighs the evidence by its density,
            // with the parent drawn, and one whose equation does not name the parent by the
            // value it gives; every equation that names it must be solvable for it, and one
            // at least must.
            bool everywhere = true, somewhere = false;
            for (auto& holder : node.Holders()) {
                if (!holder->HasExpressions()) continue;
                auto* named = dynamic_cast<QNL_namedExpressions*>(holder.get());
                if (named == nullptr) {
                    everywhere = false;
                } else if (named->GetExpression(parent.GetId()) != nullptr) {
                    somewhere = true;
                } else if (QNL_exprNode::CountVariable(named->GetMainTree(), parent.GetId()) > 0) {
                    everywhere = false;
                }
            }
            if (everywhere && somewhere) {
                chosen = p;
                slot = i - node.discreteParents;
            }
        }
        // No parent to solve for: the evidence is weighed as it stands.
        if (chosen < 0) return 0;
        node.SetFlag(QNL_samplingNode::ENFORCED_THROUGH_PARENT);
        node.SetEnforcingParent(chosen, slot);
        nodes[static_cast<std::size_t>(chosen)]->SetFlag(QNL_samplingNode::SET_THROUGH_CHILD);
        current = chosen;
    }
    return 0;
}

// Fixes what the fixed nodes determine: the one unfixed continuous parent of an equation
// node whose other parents are fixed, and equation children whose parents are all fixed.
void QNL_hybridInference::Propagate() {
    std::vector<int> stack(evidence.rbegin(), evidence.rend());
    while (!stack.empty()) {
        const int n = stack.back();
        stack.pop_back();
        QNL_samplingNode& node = *nodes[static_cast<std::size_t>(n)];
        if (node.AnyEquation()) {
            int open = -1, count = 0;
            for (int p : node.parents)
                if (!IsFixed(p)) {
                    ++count;
                    if (open < 0 && nodes[static_cast<std::size_t>(p)]->IsContinuous()) open = p;
                }
            if (open >= 0 && count == 1 && SolveForParents(node) == 0) {
                QNL_evaluationContext* holder = node.Holder();
                if (holder->HasExpressions()) {
                    double own = 0.0, x = 0.0;
                    node.GetValue(own);
                    node.SetOwnVariable(holder, own);
                    if (holder->EvaluateNamed(IdAt(network, open), &x) == 0 && std::isfinite(x)) {
                        QNL_samplingNode& parent = *nodes[static_cast<std::size_t>(open)];
                        parent.SetValue(x);
                        parent.Fix();
                        stack.push_back(open);
                    }
                }
            }
        }
        for (int c : node.children)
            if (FixEquation(c, false)) stack.push_back(c);
    }
}

// A chain whose next node became fixed has nothing left to enforce: the fixed node is
// weighed by its own equation instead.
void QNL_hybridInference::DropSettledChains() {
    for (auto& node : nodes) {
        if (node == nullptr) continue;
        if (node->Has(QNL_samplingNode::FIXED))
            node->ClearFlag(QNL_samplingNode::SET_THROUGH_CHILD);
        if (!node->Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT)) continue;
        const int p = node->GetEnforcingParent();
        if (IsFixed(p)) {
            node->ClearFlag(QNL_samplingNode::ENFORCED_THROUGH_PARENT);
            node->SetEnforcingParent(-2, -1);
        }
    }
}

// Parents before children; a chain runs at its evidence node, so the other children of the
// nodes it sets come after that node. A cycle through such an ordering leaves the chain
// unable to hand its values to those children: the evidence can't be enforced.
int QNL_hybridInference::BuildOrder() {
    const std::size_t size = nodes.size();
    std::vector<std::vector<int>> after(size);
    std::vector<int> waiting(size, 0);
    auto edge = [&](int from, int to) {
        after[static_cast<std::size_t>(from)].push_back(to);
        ++waiting[static_cast<std::size_t>(to)];
    };
    int present = 0;
    for (std::size_t h = 0; h < size; ++h) {
        if (nodes[h] == nullptr) continue;
        ++present;
        for (int c : nodes[h]->children)
            edge(static_cast<int>(h), c);
    }
    for (std::size_t e = 0; e < size; ++e) {
        if (nodes[e] == nullptr || !nodes[e]->Has(QNL_samplingNode::FIXED) ||
            !nodes[e]->Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT))
            continue;
        int link = static_cast<int>(e);
        for (int guard = 0; guard < present; ++guard) {
            const QNL_samplingNode& from = *nodes[static_cast<std::size_t>(link)];
            if (!from.Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT)) break;
            const int set = from.GetEnforcingParent();
            for (int c : nodes[static_cast<std::size_t>(set)]->children)
                if (c != link) edge(static_cast<int>(e), c);
            link = set;
        }
    }
    std::priority_queue<int, std::vector<int>, std::greater<int>> ready;
    for (std::size_t h = 0; h < size; ++h)
        if (nodes[h] != nullptr && waiting[h] == 0) ready.push(static_cast<int>(h));
    order.clear();
    while (!ready.empty()) {
        const int h = ready.top();
        ready.pop();
        order.push_back(h);
        for (int next : after[static_cast<std::size_t>(h)])
            if (--waiting[static_cast<std::size_t>(next)] == 0) ready.push(next);
    }
    return static_cast<int>(order.size()) == present ? 0 : -2;
}

// A fixed node defined by an equation in some configuration its fixed discrete parents leave
// possible. An equation of fixed parents that gives the fixed value makes the evidence an
// event of some probability, against a density in every configuration where the node could
// take other values: only such configurations weigh anything, and nothing is solved. An
// equation of an open continuous parent is weighed through the chain that solves for it; in
// a node that mixes equations and distributions and has no chain, it could weigh its evidence
// only as impossible, and the node is refused.
int QNL_hybridInference::CheckConfigurations() {
    std::vector<int> states;
    for (auto& node : nodes) {
        if (node == nullptr || !node->Has(QNL_samplingNode::FIXED) || !node->AnyEquation() ||
            !node->IsContinuous())
            continue;
        states.assign(static_cast<std::size_t>(node->discreteParents), -1);
        for (int d = 0; d < node->discreteParents; ++d) {
            const int p = node->parents[static_cast<std::size_t>(d)];
            if (IsFixed(p))
                nodes[static_cast<std::size_t>(p)]->GetEvidenceState(
                    states[static_cast<std::size_t>(d)]);
        }
        double fixed = 0.0;
        node->GetValue(fixed);
        bool atValue = false, solving = false;
        for (std::size_t i = 0; i < node->NumberOfHolders(); ++i) {
            QNL_evaluationContext* holder = node->HolderAllowedBy(i, states);
            if (holder == nullptr || !holder->HasExpressions()) continue;
            if (NamesOpenParent(*node, *holder)) {
                solving = true;
                continue;
            }
            double given = 0.0;
            atValue = atValue || (holder->Evaluate(&given) == 0 &&
                                  QNL_continuousSamplingNode::Matches(given, fixed));
        }
        if (atValue) {
            node->SetFlag(QNL_samplingNode::AT_AN_EQUATIONS_VALUE);
            for (QNL_samplingNode* link = node.get();
                 link->Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT);) {
                QNL_samplingNode* parent =
                    nodes[static_cast<std::size_t>(link->GetEnforcingParent())].get();
                link->ClearFlag(QNL_samplingNode::ENFORCED_THROUGH_PARENT);
                link->SetEnforcingParent(-2, -1);
                parent->ClearFlag(QNL_samplingNode::SET_THROUGH_CHILD);
                link = parent;
            }
        } else if (solving && !node->IsEquation() &&
                   !node->Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT)) {
            QNL_errorHandler::Instance().LogError(
                -2, "ERROR: Node [" + node->GetId() +
                        "] : its evidence can be carried through none of its parents in a "
                        "configuration its equation defines");
            return -5;
        }
    }
    return 0;
}

// What the evidence fixes must be possible before anything is drawn: a value it fixes
// through an equation lies within its node's bounds, and a fixed value whose parents are all
// fixed has a weight. Otherwise every draw would weigh 0, found out only at the cap.
int QNL_hybridInference::CheckFixed() {
    for (auto& node : nodes) {
        if (node == nullptr || !node->Has(QNL_samplingNode::FIXED)) continue;
        const int h = node->GetHandle();
        std::string why;
        double x = 0.0;
        if (node->IsContinuous() && node->GetValue(x) == 0 &&
            !static_cast<QNL_continuousSamplingNode&>(*node).Inside(x))
            why = "the value the evidence fixes it at lies outside its bounds";
        else if (!node->Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT) &&
                 std::all_of(node->parents.begin(), node->parents.end(),
                             [&](int p) { return IsFixed(p); }) &&
                 !(node->FixedWeight() > 0.0))
            why = WhyImpossible(*node);
        else
            continue;
        QNL_errorHandler::Instance().LogError(-2,
                                              "ERROR: Node [" + IdAt(network, h) + "] : " + why);
        return -5;
    }
    return 0;
}

// Why a fixed value has no weight given its fixed parents: for an equation, the value they
// give it, so that the user sees how far the evidence is from it.
std::string QNL_hybridInference::WhyImpossible(QNL_samplingNode& node) {
    QNL_evaluationContext* holder = node.Holder();
    double fixed = 0.0, given = 0.0;
    if (!node.IsContinuous() || !holder->HasExpressions() || holder->Evaluate(&given) != 0 ||
        node.GetValue(fixed) != 0)
        return "the value the evidence fixes is impossible given its parents";
    const bool observed = std::find(evidence.begin(), evidence.end(), node.GetHandle()) !=
                          evidence.end();
    using quarn::detail::ShortestNumberText;
    return (observed ? "its evidence " + ShortestNumberText(fixed)
                     : "the value " + ShortestNumberText(fixed) + " the evidence fixes it at") +
           " is not the value " + ShortestNumberText(given) +
           (node.parents.empty() ? " its equation gives" : " its parents give");
}

double QNL_hybridInference::Enforce(QNL_samplingNode* node, double weight,
                                    QNL_hybridMessages* proposal) {
    for (std::size_t guard = 0; guard < nodes.size(); ++guard) {
        QNL_samplingNode* parent =
            nodes[static_cast<std::size_t>(node->GetEnforcingParent())].get();
        double own = 0.0, x = 0.0;
        node->GetValue(own);
        if (!node->Holder()->HasExpressions()) return DrawBelow(node, weight, proposal);
        if (!node->EvaluateEnforcing(own, x)) return 0.0;
        parent->SetValue(x);
        // The evidence fixes the node's value, not the parent's: the density of the solved
        // parent is divided by how fast the equation moves with it.
        const double slope = node->Slope(node->GetEnforcingSlot(), x);
        if (!(slope > 0.0) || !std::isfinite(slope)) return 0.0;
        weight /= slope;
        auto* continuous = static_cast<QNL_continuousSamplingNode*>(parent);
        if (!continuous->Inside(x)) return 0.0;
        if (!parent->Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT))
            return weight * continuous->WeightOf(parent->Holder(), x);
        node = parent;
    }
    return 0.0;
}

// Where the configuration of the node the chain has reached defines it by a distribution,
// the evidence (or the value the chain solved for it) is weighed by that distribution's
// density, and the nodes further down the chain are drawn as any unfixed node is, the
// deepest first: nothing is solved for them.
double QNL_hybridInference::DrawBelow(QNL_samplingNode* node, double weight,
                                      QNL_hybridMessages* proposal) {
    chain.clear();
    for (const QNL_samplingNode* link = node;
         link->Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT) && chain.size() < nodes.size();) {
        chain.push_back(link->GetEnforcingParent());
        link = nodes[static_cast<std::size_t>(chain.back())].get();
    }
    for (auto h = chain.rbegin(); h != chain.rend() && weight > 0.0; ++h)
        weight *= proposal != nullptr ? proposal->DrawWeighted(*h)
                                      : nodes[static_cast<std::size_t>(*h)]->DrawWeighted();
    if (!(weight > 0.0)) return 0.0;
    double own = 0.0;
    node->GetValue(own);
    return weight * static_cast<QNL_continuousSamplingNode*>(node)->WeightOf(node->Holder(), own);
}

// One configuration: drawn from the definitions, evidence ignored, or weighed, every unfixed
// node drawn from its definition or from the proposal the messages built; its weight.
double QNL_hybridInference::Draw(bool weighted, QNL_hybridMessages* proposal) {
    double w = 1.0;
    for (int h : order) {
        QNL_samplingNode* node = nodes[static_cast<std::size_t>(h)].get();
        if (!weighted) {
            w *= node->DrawFromDefinition();
        } else {
            const int f = node->GetFlags();
            if (f & QNL_samplingNode::FIXED)
                w = (f & QNL_samplingNode::ENFORCED_THROUGH_PARENT) ? Enforce(node, w, proposal)
                                                                    : w * node->FixedWeight();
            else if (!(f & QNL_samplingNode::SET_THROUGH_CHILD))
                w *= proposal != nullptr ? proposal->DrawWeighted(h) : node->DrawWeighted();
        }
        if (w == 0.0) break;
    }
    return w;
}

long long QNL_hybridInference::DrawsBeforeRefusal() const {
    return std::max<long long>(samples, DRAWS_BEFORE_REFUSAL);
}

// Whether weighted draws from the definitions find a configuration of any weight within the
// draws a sampling run makes before it gives up.
bool QNL_hybridInference::AnyWeight() {
    for (draws = 0; draws < DrawsBeforeRefusal();) {
        ++draws;
        const double w = Draw(true, nullptr);
        if (w > 0.0 && std::isfinite(w)) return true;
    }
    return false;
}

int QNL_hybridInference::Sample(bool weighted) {
    if (flags & FLAG_UNENFORCEABLE) return -2;
    if (samples < 1) return -2;
    for (int h : order) {
        QNL_samplingNode& node = *nodes[static_cast<std::size_t>(h)];
        if (node.Has(QNL_samplingNode::FIXED)) continue;
        node.ResetStatistics();
        if (node.IsContinuous()) static_cast<QNL_continuousSamplingNode&>(node).Reserve(samples);
    }
    const long long cap = static_cast<long long>(DRAW_CAP_FACTOR) * samples;
    const long long probe = DrawsBeforeRefusal();
    int accepted = 0;
    // Wide enough for the squares of any finite weight.
    long double sum = 0.0L, squares = 0.0L;
    draws = 0;
    while (accepted < samples) {
        if (draws >= cap || (accepted == 0 && draws >= probe)) return -2;
        ++draws;
        const double w = Draw(weighted, weighted ? messages.get() : nullptr);
        if (!(w > 0.0) || !std::isfinite(w)) continue;
        ++accepted;
        sum += w;
        squares += static_cast<long double>(w) * w;
        for (int h : order) {
            QNL_samplingNode* node = nodes[static_cast<std::size_t>(h)].get();
            if (!node->Has(QNL_samplingNode::FIXED)) node->AddSample(w);
        }
    }
    if (weighted) {
        const double effective = static_cast<double>(sum * sum / squares);
        if (quarn::detail::TooFewEffectiveSamples(effective, samples))
            return quarn::detail::LogTooFewEffectiveSamples(-2, effective, samples);
    }
    for (int h : order) {
        QNL_samplingNode& node = *nodes[static_cast<std::size_t>(h)];
        if (!node.Has(QNL_samplingNode::FIXED)) node.FinishStatistics();
    }
    for (int h : order)
        nodes[static_cast<std::size_t>(h)]->WriteResult(*network.GetNode(h));
    return 0;
}

int QNL_hybridInference::LikelihoodWeighting() {
    try {
        return Sample(true);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_hybridInference::LogicSampling() {
    try {
        return Sample(false);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

// A fixed equation node that no parent enforces says nothing about its open discrete
// parents: no expression gives a value to weigh their outcomes by.
int QNL_hybridInference::StartMessages(bool sampling) {
    if (flags & FLAG_UNENFORCEABLE) return -2;
    SeparateStreams();
    messages = std::make_unique<QNL_hybridMessages>(nodes, order, sampling, sampling);
    const int stuck = messages->Unreachable();
    if (stuck >= 0)
        return Refuse(stuck, "its evidence is enforced through no parent, so it can't be passed "
                             "to its discrete parents");
    messages->Run();
    return 0;
}

int QNL_hybridInference::PropagatedImportance() {
    try {
        if (flags & FLAG_UNENFORCEABLE) return -2;
        if (evidence.empty()) return Sample(false);
        flags |= FLAG_PROPAGATING | FLAG_REDUCED;
        int result = StartMessages(true);
        if (result == 0) result = Sample(true);
        flags &= ~(FLAG_PROPAGATING | FLAG_REDUCED);
        return result;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

// Whether some evidence is left for the draws to decide: a fixed node enforced through a
// parent, or one with a parent that is not fixed.
bool QNL_hybridInference::EvidenceOpen() const {
    for (const auto& node : nodes) {
        if (node == nullptr || !node->Has(QNL_samplingNode::FIXED)) continue;
        if (node->Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT)) return true;
        for (int p : node->parents)
            if (!IsFixed(p)) return true;
    }
    return false;
}

// Messages of 250 points can prove evidence neither possible nor impossible: what building
// left open is confirmed by the weighted draws likelihood weighting would make, so that the
// messages refuse exactly what it finds no weight for. A weightless message from an observed
// child names the node.
int QNL_hybridInference::MessagePassing() {
    try {
        if (int r = StartMessages(false)) return r;
        if (EvidenceOpen() && !AnyWeight()) {
            const int weightless = messages->WeightlessEvidence();
            if (weightless >= 0)
                return Refuse(weightless,
                              "its evidence gives no weight to any value of its parents");
            return QNL_errorHandler::Instance().LogError(
                -2, "ERROR: no weighted draw gives the evidence any weight");
        }
        for (int h : order)
            messages->WriteBeliefs(h, *network.GetNode(h), samples);
        const int narrow = messages->TooNarrow();
        if (narrow >= 0)
            return Refuse(narrow, "its density is too narrow about its parents' values for the "
                                  "messages to carry its evidence");
        for (int h : order) {
            const QNL_nodeValue* value = network.GetNode(h)->GetValue();
            if (value != nullptr && !value->IsValueValid())
                return Refuse(h, "the messages leave it without any weighted value");
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

namespace {

// The body the four entries share: each names the algorithm it runs.
int RunHybridAlgorithm(QNL_network& network, int algorithm) {
    auto& log = QNL_errorHandler::Instance();
    // Propagated evidence is what the last run derived; this run derives it afresh. Nor do
    // the samples of the last run outlive it: a value this run fixes, leaves without weight
    // or fails to reach keeps none.
    network.ClearAllPropagatedEvidence();
    network.InvalidateValues();
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        if (auto* value = dynamic_cast<QNL_continuousValue*>(network.GetNode(h)->GetValue()))
            value->GetSamples().clear();
    QNL_hybridInference inference(network);
    const int built = inference.Build();
    if (built == -5) return log.LogError(-5, kNoSamples);
    if (built != 0) return built;
    int result = 0;
    switch (algorithm) {
    case QNL_ALG_HBN_PROPAGATED_IMPORTANCE:
        result = inference.PropagatedImportance();
        break;
    case QNL_ALG_HBN_LIKELIHOOD_WEIGHTING:
        result = inference.LikelihoodWeighting();
        break;
    case QNL_ALG_HBN_MESSAGE_PASSING:
        result = inference.MessagePassing();
        break;
    default:
        result = inference.LogicSampling();
        break;
    }
    if (result == 0) return 0;
    // A run may have written some values before it failed.
    network.ClearAllPropagatedEvidence();
    network.InvalidateValues();
    if (result == -42) return result;
    return log.LogError(-5, kNoSamples);
}

} // namespace

int RunHbnPropagatedImportance(QNL_network& network) {
    return RunHybridAlgorithm(network, QNL_ALG_HBN_PROPAGATED_IMPORTANCE);
}

int RunHbnLikelihoodWeighting(QNL_network& network) {
    return RunHybridAlgorithm(network, QNL_ALG_HBN_LIKELIHOOD_WEIGHTING);
}

int RunHbnMessagePassing(QNL_network& network) {
    return RunHybridAlgorithm(network, QNL_ALG_HBN_MESSAGE_PASSING);
}

int RunHbnLogicSampling(QNL_network& network) {
    return RunHybridAlgorithm(network, QNL_ALG_HBN_LOGIC_SAMPLING);
}

int RunHybridInference(QNL_network& network, int algorithm) {
    switch (algorithm) {
    case QNL_ALG_HBN_PROPAGATED_IMPORTANCE:
        return RunHbnPropagatedImportance(network);
    case QNL_ALG_HBN_LIKELIHOOD_WEIGHTING:
        return RunHbnLikelihoodWeighting(network);
    case QNL_ALG_HBN_MESSAGE_PASSING:
        return RunHbnMessagePassing(network);
    case QNL_ALG_HBN_LOGIC_SAMPLING:
        return RunHbnLogicSampling(network);
    default:
        return QNL_errorHandler::Instance().LogError(-2, "Unknown hybrid algorithm");
    }
}
