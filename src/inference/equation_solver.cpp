#include "inference/equation_solver.h"

#include "definitions/equation.h"
#include "definitions/equation_scc.h"
#include "definitions/evaluation_context.h"
#include "definitions/hybrid_definition.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <new>
#include <numeric>
#include <queue>
#include <utility>

namespace quarn::detail {
namespace {

constexpr const char* kSetFailed = "Faile in computing SCC.";
constexpr const char* kHybrid = "Unable to handle hybrid networks with equation solver.";

class CollectVariables : public QNL_exprVisitor {
public:
    void Visit(QNL_exprVariable& variable) override { found.push_back(&variable); }
    std::vector<QNL_exprVariable*> found;
};

const QNL_equation* EquationAt(const QNL_network& network, int handle) {
    const QNL_node* node = network.GetNode(handle);
    return node != nullptr ? dynamic_cast<const QNL_equation*>(node->GetDefinition()) : nullptr;
}

std::string IdOf(const QNL_network& network, int handle) {
    const QNL_node* node = network.GetNode(handle);
    return node != nullptr && node->GetId() != nullptr ? node->GetId() : "";
}

// The signed value of a tree and the summed magnitude of the terms it would expand into:
// sums and differences add their operands' terms, a product multiplies them, a power raises
// its base's terms to the exponent, and a quotient or a negative power scales its value by
// the base's or divisor's terms to first order. Any other node is one term. This is the scale
// of what rounding can leave of a sum that should vanish; expanding powers keeps a double
// root, where the base itself vanishes, measured against the terms of its square.
double TermMagnitude(const QNL_exprNode* node, double& value) {
    const int kind = node->GetKind();
    if (kind < QNL_exprNode::ADD || kind > QNL_exprNode::POWER) {
        value = EvaluateSigned(node);
        return std::fabs(value);
    }
    const auto* op = static_cast<const QNL_exprBinaryOperator*>(node);
    double left = 0.0, right = 0.0;
    const double leftTerms = TermMagnitude(op->GetLeft(), left);
    const double rightTerms = TermMagnitude(op->GetRight(), right);
    value = op->Apply(left, right) * node->GetSign();
    switch (kind) {
    case QNL_exprNode::MULTIPLY:
        return leftTerms * rightTerms;
    case QNL_exprNode::DIVIDE:
        return (leftTerms + std::fabs(value) * rightTerms) / std::fabs(right);
    case QNL_exprNode::POWER:
        return right >= 0.0 ? std::pow(leftTerms, right)
                            : std::fabs(value) * std::pow(leftTerms / std::fabs(left), -right);
    default:
        return leftTerms + rightTerms;
    }
}

int Find(std::vector<int>& parent, int x) {
    while (parent[x] != x)
        x = parent[x] = parent[parent[x]];
    return x;
}

} // namespace
} // namespace quarn::detail

namespace detail = quarn::detail;

QNL_equationSolver::QNL_equationSolver(QNL_network* network)
    : network(network), numberOfSamples(network != nullptr ? network->GetNumberOfSamples() : 0) {}

int QNL_equationSolver::Fail(const std::string& message) {
    return QNL_errorHandler::Instance().LogError(-2, message.c_str());
}

int QNL_equationSolver::Solve() {
    if (network == nullptr) return Fail("No network to solve");
    try {
        bool random = false;
        int result = BuildPlan(random);
        if (result != 0) return result;
        return RunPlan(random);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

// The nodes are checked in handle order; then each set of simultaneous equations (the
// members that name each other, taken together) becomes one step, and the steps are put in
// an order where every parent outside a step is solved before it. Among the steps that are
// ready the one holding the earliest node of the network's topological order goes first,
// so a network without sets is evaluated in exactly that order.
int QNL_equationSolver::BuildPlan(bool& random) {
    const int size = network->GetLastNode() + 1;
    random = false;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const int type = network->GetNode(h)->GetType();
        const QNL_equation* equation = detail::EquationAt(*network, h);
        if ((type != QNL_TYPE_EQUATION && type != QNL_TYPE_EQUATION_SCC) || equation == nullptr)
            return Fail(detail::kHybrid);
        if (!equation->GetEquation().IsRandom()) continue;
        if (type == QNL_TYPE_EQUATION_SCC)
            return Fail("Unable to sovle a network contains strongly-coupled components with "
                        "distribution definitions.");
        random = true;
    }

    std::vector<int> group(static_cast<std::size_t>(std::max(size, 0)));
    std::iota(group.begin(), group.end(), 0);
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const auto* scc =
            dynamic_cast<const QNL_equationSCC*>(network->GetNode(h)->GetDefinition());
        if (scc == nullptr) continue;
        for (const std::string& id : scc->GetMembers()) {
            const int member = network->FindNode(id.c_str());
            if (member < 0 || network->GetNode(member)->GetType() != QNL_TYPE_EQUATION_SCC) {
                Fail("Node " + detail::IdOf(*network, h) + " names " + id +
                     " as a member of its set, which is no node with a set of equations");
                return Fail(detail::kSetFailed);
            }
            group[detail::Find(group, h)] = detail::Find(group, member);
        }
    }
    for (int h = 0; h < size; ++h)
        group[h] = detail::Find(group, h);

    std::vector<std::vector<int>> order;
    int result = GroupOrder(group, order);
    if (result != 0) return result;
    plan.clear();
    plan.resize(order.size());
    for (std::size_t s = 0; s < order.size(); ++s) {
        Step& step = plan[s];
        step.members = std::move(order[s]);
        step.simultaneous = network->GetNode(step.members[0])->GetType() == QNL_TYPE_EQUATION_SCC;
        step.equations.resize(step.members.size());
        for (std::size_t k = 0; k < step.members.size(); ++k)
            if ((result = Compile(step.members[k], step, step.equations[k])) != 0) return result;
    }
    return 0;
}

int QNL_equationSolver::GroupOrder(const std::vector<int>& group,
                                   std::vector<std::vector<int>>& order) {
    const std::size_t size = group.size();
    const QNL_intArray& ordered = network->GetOrderedNodes();
    std::vector<int> position(size, -1);
    for (int i = 0; i < ordered.GetCount(); ++i)
        position[static_cast<std::size_t>(ordered[i])] = i;
    // Members of each group in topological order: the first one places the group.
    std::vector<std::vector<int>> members(size);
    for (int i = 0; i < ordered.GetCount(); ++i)
        members[static_cast<std::size_t>(group[ordered[i]])].push_back(ordered[i]);
    std::vector<int> waiting(size, 0);
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_intArray& parents = network->GetParents(h);
        for (int i = 0; i < parents.GetCount(); ++i)
            if (group[parents[i]] != group[h]) ++waiting[group[h]];
    }
    using Entry = std::pair<int, int>; // (position of the first member, group)
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> ready;
    std::size_t groups = 0;
    for (std::size_t g = 0; g < size; ++g) {
        if (members[g].empty()) continue;
        ++groups;
        if (waiting[g] == 0) ready.emplace(position[members[g][0]], static_cast<int>(g));
    }
    while (!ready.empty()) {
        const int g = ready.top().second;
        ready.pop();
        // The solution's last bits depend on the order of the equations, which must not move
        // with arcs elsewhere or with a new identifier: those leave the set's values valid.
        std::vector<int> step = members[g];
        std::sort(step.begin(), step.end());
        for (int h : step) {
            const QNL_intArray& children = network->GetChildren(h);
            for (int i = 0; i < children.GetCount(); ++i) {
                const int c = group[children[i]];
                if (c != g && --waiting[c] == 0) ready.emplace(position[members[c][0]], c);
            }
        }
        order.push_back(std::move(step));
    }
    if (order.size() == groups) return 0;
    Fail("A set of simultaneous equations depends on its own results through other nodes");
    return Fail(detail::kSetFailed);
}

// A node's equation is used as "id = expression" when it is written so; otherwise it is
// solved for the node first. Every variable must be a parent or, in a set, a member.
int QNL_equationSolver::Compile(int handle, const Step& step, Compiled& out) {
    const QNL_equation* definition = detail::EquationAt(*network, handle);
    const std::string id = detail::IdOf(*network, handle);
    QNL_parsedEquation equation(definition->GetEquation());
    if (step.simultaneous) {
        out.value.reset(equation.GetRight()->Clone());
        out.other.reset(equation.GetLeft()->Clone());
    } else {
        const QNL_exprNode* left = equation.GetLeft();
        const bool plain = left->GetKind() == QNL_exprNode::VARIABLE && left->GetSign() > 0 &&
                           static_cast<const QNL_exprVariable*>(left)->GetName() == id &&
                           QNL_exprNode::CountVariable(equation.GetRight(), id) == 0;
        if (!plain && equation.SolveFor(id) != 0)
            return Fail("The equation of node " + id + " can't be solved for " + id);
        out.value.reset(equation.GetRight()->Clone());
    }
    detail::CollectVariables collect;
    out.value->Accept(collect);
    if (out.other != nullptr) out.other->Accept(collect);
    const QNL_intArray& parents = network->GetParents(handle);
    for (QNL_exprVariable* variable : collect.found) {
        const int h = network->FindNode(variable->GetName().c_str());
        const auto member = std::find(step.members.begin(), step.members.end(), h);
        if (step.simultaneous && member != step.members.end()) {
            out.bindings.push_back({variable, h, static_cast<int>(member - step.members.begin())});
            continue;
        }
        if (h < 0 || !parents.IsInList(h))
            return Fail("The equation of node " + id + " names " + variable->GetName() +
                        ", whose value is not known when " + id + " is computed");
        out.bindings.push_back({variable, h, -1});
    }
    return 0;
}

void QNL_equationSolver::BindKnown(Compiled& equation, const std::vector<double>& values) {
    for (const Binding& binding : equation.bindings)
        if (binding.member < 0)
            binding.variable->SetValue(values[static_cast<std::size_t>(binding.handle)]);
}

void QNL_equationSolver::BindMembers(const Compiled& equation, const std::vector<double>& x) {
    for (const Binding& binding : equation.bindings)
        if (binding.member >= 0)
            binding.variable->SetValue(x[static_cast<std::size_t>(binding.member)]);
}

int QNL_equationSolver::RunPlan(bool sampling) {
    values.assign(static_cast<std::size_t>(std::max(network->GetLastNode() + 1, 0)), 0.0);
    auto valueAt = [this](int h) {
        return static_cast<QNL_equationValue*>(network->GetNode(h)->GetValue());
    };
    for (const Step& step : plan)
        for (int h : step.members)
            if (dynamic_cast<QNL_equationValue*>(network->GetNode(h)->GetValue()) == nullptr)
                return Fail("Node " + detail::IdOf(*network, h) + " holds no equation value");
    if (sampling)
        for (const Step& step : plan)
            for (int h : step.members)
                valueAt(h)->ClearSamples();

    const int rounds = sampling ? numberOfSamples : 1;
    std::vector<double> x;
    for (int round = 0; round < rounds; ++round) {
        for (Step& step : plan) {
            if (!step.simultaneous) {
                Compiled& equation = step.equations[0];
                BindKnown(equation, values);
                const int h = step.members[0];
                const double result = EvaluateSigned(equation.value.get());
                if (sampling && result == QNL_exprVariable::UNDEFINED_VALUE)
                    return Fail("The equation of node " + detail::IdOf(*network, h) +
                                " gave no number");
                values[static_cast<std::size_t>(h)] = result;
                continue;
            }
            for (Compiled& equation : step.equations)
                BindKnown(equation, values);
            const int result = SolveSet(step, x);
            if (result != 0) return result;
            for (std::size_t k = 0; k < step.members.size(); ++k)
                values[static_cast<std::size_t>(step.members[k])] = x[k];
        }
        for (const Step& step : plan) {
            for (int h : step.members) {
                QNL_equationValue* value = valueAt(h);
                const double result = values[static_cast<std::size_t>(h)];
                if (sampling) {
                    if (int added = value->AddSample(result)) return added;
                } else {
                    value->SetMean(result);
                    value->SetStandardDeviation(0.0);
                    value->SetValidFlag(true);
                }
            }
        }
    }
    if (sampling)
        for (const Step& step : plan)
            for (int h : step.members)
                valueAt(h)->ComputeStatistics();
    return 0;
}

bool QNL_equationSolver::Residuals(const Step& step, const std::vector<double>& x,
                                   std::vector<double>& f) {
    for (std::size_t k = 0; k < step.equations.size(); ++k) {
        const Compiled& equation = step.equations[k];
        BindMembers(equation, x);
        f[k] = EvaluateSigned(equation.value.get()) - EvaluateSigned(equation.other.get());
        if (!std::isfinite(f[k])) return false;
    }
    return true;
}

// Newton's method from the origin with a forward-difference Jacobian. It stops on a step
// small beside the values, or on steps that stopped shrinking where the equations already
// hold: then the residuals are rounding noise and the steps only wander in it. The point it
// stops at must satisfy the equations; a residual that is not a finite number, a singular
// Jacobian or the iteration cap fail the set.
int QNL_equationSolver::SolveSet(const Step& step, std::vector<double>& x) {
    // The floor lets a set whose values are all zero stop; it lies far below any value's
    // scale, so small values are solved as precisely as large ones.
    constexpr double kRelativeStep = 1e-12, kStepFloor = 1e-300;
    const int n = static_cast<int>(step.members.size());
    const std::size_t un = static_cast<std::size_t>(n);
    x.assign(un, 0.0);
    std::vector<double> f(un), shifted(un), jacobian(un * un), b(un), y(un);
    double previous = HUGE_VAL;
    int worst = 0;
    for (int iteration = 0; iteration < iterationCap; ++iteration) {
        if (!Residuals(step, x, f)) return Fail(detail::kSetFailed);
        for (int j = 0; j < n; ++j) {
            const double old = x[j];
            x[j] = old + stepFactor * std::max(std::fabs(old), 1.0);
            const double d = x[j] - old;
            const bool finite = Residuals(step, x, shifted);
            x[j] = old;
            if (!finite) return Fail(detail::kSetFailed);
            for (int k = 0; k < n; ++k)
                jacobian[static_cast<std::size_t>(k) * un + j] = (shifted[k] - f[k]) * (1.0 / d);
        }
        for (int k = 0; k < n; ++k) {
            double sum = 0.0;
            for (int j = 0; j < n; ++j)
                sum += jacobian[static_cast<std::size_t>(k) * un + j] * x[j];
            b[k] = sum - f[k];
        }
        if (SolveLinear(jacobian, b, y, n) != 0) return Fail(detail::kSetFailed);
        double change = 0.0;
        double size = 0.0;
        for (int j = 0; j < n; ++j) {
            change += std::fabs(x[j] - y[j]);
            size += std::fabs(y[j]);
        }
        if (!std::isfinite(change)) return Fail(detail::kSetFailed);
        if (change >= previous && HoldsAt(step, x, worst)) return 0;
        previous = change;
        x.swap(y);
        if (change <= kRelativeStep * size + kStepFloor) {
            if (HoldsAt(step, x, worst)) return 0;
            Fail("The set of simultaneous equations of node " +
                 detail::IdOf(*network, step.members[0]) + " settled where the equation of node " +
                 detail::IdOf(*network, step.members[worst]) + " does not hold");
            return Fail(detail::kSetFailed);
        }
    }
    Fail("The set of simultaneous equations of node " + detail::IdOf(*network, step.members[0]) +
         " found no root in " + std::to_string(iterationCap) + " steps");
    return Fail(detail::kSetFailed);
}

// Each residual is judged against the terms of its equation: at a root, rounding leaves a
// residual far below their summed magnitude, while a point that is no root leaves one of
// their order.
bool QNL_equationSolver::HoldsAt(const Step& step, const std::vector<double>& x, int& worst) {
    constexpr double kTolerance = 1e-10;
    double worstShare = 0.0;
    bool holds = true;
    for (std::size_t k = 0; k < step.equations.size(); ++k) {
        const Compiled& equation = step.equations[k];
        BindMembers(equation, x);
        double value = 0.0, other = 0.0;
        const double terms = detail::TermMagnitude(equation.value.get(), value) +
                             detail::TermMagnitude(equation.other.get(), other);
        const double residual = std::fabs(value - other);
        const double share = residual == 0.0 ? 0.0 : residual / terms;
        if (!(share <= kTolerance)) holds = false;
        if (!(share <= worstShare)) {
            worstShare = share;
            worst = static_cast<int>(k);
        }
    }
    return holds;
}

// Gaussian elimination with partial pivoting on a row-major n x n matrix; -2 when the
// matrix is singular.
int QNL_equationSolver::SolveLinear(std::vector<double>& a, std::vector<double>& b,
                                    std::vector<double>& y, int n) {
    const std::size_t un = static_cast<std::size_t>(n);
    auto at = [&](int r, int c) -> double& { return a[static_cast<std::size_t>(r) * un + c]; };
    for (int k = 0; k < n; ++k) {
        int pivot = k;
        for (int i = k + 1; i < n; ++i)
            if (std::fabs(at(i, k)) > std::fabs(at(pivot, k))) pivot = i;
        if (!(std::fabs(at(pivot, k)) > 0.0) || !std::isfinite(at(pivot, k))) return -2;
        if (pivot != k) {
            for (int j = 0; j < n; ++j)
                std::swap(at(k, j), at(pivot, j));
            std::swap(b[k], b[pivot]);
        }
        const double inverse = 1.0 / at(k, k);
        for (int i = k + 1; i < n; ++i) {
            const double factor = at(i, k) * inverse;
            for (int j = k + 1; j < n; ++j)
                at(i, j) -= factor * at(k, j);
            b[i] -= factor * b[k];
        }
    }
    for (int i = n - 1; i >= 0; --i) {
        double sum = b[i];
        for (int j = i + 1; j < n; ++j)
            sum -= at(i, j) * y[j];
        y[i] = sum / at(i, i);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// The evidence path

std::string QNL_equationSolver::GenerateAuxiliaryId(int& counter, const QNL_network& source,
                                                    const QNL_network& copy) {
    std::string id;
    do {
        ++counter;
        id.clear();
        for (unsigned digits = static_cast<unsigned>(counter); digits != 0; digits >>= 4)
            id += static_cast<char>('a' + (digits & 15u));
    } while (source.IsIdUsed(id.c_str()) || copy.IsIdUsed(id.c_str()));
    return id;
}

int QNL_equationSolver::AddDistributionNode(QNL_network& copy, const std::string& id,
                                            const std::string& call, double lower, double upper) {
    const int h = copy.AddNode(QNL_TYPE_DISTRIBUTION, id.c_str());
    if (h < 0) return h;
    auto* definition = static_cast<QNL_continuousDefinition*>(copy.GetNode(h)->GetDefinition());
    if (int r = definition->SetExpression(0, call)) return r;
    definition->SetLowerBound(lower);
    definition->SetUpperBound(upper);
    return h;
}

// The node's equation as "id = right side", solved for the node when it is not written so.
int QNL_equationSolver::ConvertNode(int handle, QNL_network& copy, std::vector<int>& map,
                                    int& counter) {
    const QNL_equation* definition = detail::EquationAt(*network, handle);
    const std::string id = detail::IdOf(*network, handle);
    QNL_parsedEquation equation(definition->GetEquation());
    const QNL_exprNode* left = equation.GetLeft();
    const bool plain = left->GetKind() == QNL_exprNode::VARIABLE && left->GetSign() > 0 &&
                       static_cast<const QNL_exprVariable*>(left)->GetName() == id &&
                       QNL_exprNode::CountVariable(equation.GetRight(), id) == 0;
    if (!plain && equation.SolveFor(id) != 0)
        return Fail("The equation of node " + id + " can't be solved for " + id);
    QNL_exprNode* right = equation.GetRight()->Clone();
    std::unique_ptr<QNL_exprNode> owner(right);
    int h = -1;
    if (right->GetKind() == QNL_exprNode::DISTRIBUTION_CALL && right->GetSign() > 0) {
        std::string text;
        QNL_exprNode::ToSignedText(right, text);
        h = AddDistributionNode(copy, id, text, definition->GetLowerBound(),
                                definition->GetUpperBound());
    } else {
        h = ConvertEquationNode(handle, right, copy, map, counter);
        owner.release();
        owner.reset(right);
    }
    if (h < 0) return Fail("Node " + id + " could not be converted into a hybrid node");
    map[static_cast<std::size_t>(handle)] = h;
    const QNL_intArray& parents = network->GetParents(handle);
    for (int i = 0; i < parents.GetCount(); ++i)
        if (int r = copy.AddArc(map[static_cast<std::size_t>(parents[i])], h)) return r;
    return 0;
}

// Every distribution call of the right side moves into an auxiliary DISTRIBUTION node, whose
// variable takes the call's place; what stays is a deterministic HEQUATION node, with the
// equation also solved for each of its variables. An auxiliary node's range is ten standard
// deviations around its mean, so that a call far from the origin is not cut off.
int QNL_equationSolver::ConvertEquationNode(int handle, QNL_exprNode*& right, QNL_network& copy,
                                            std::vector<int>& map, int& counter) {
    const std::string id = detail::IdOf(*network, handle);
    std::vector<QNL_exprNode**> places;
    right->CollectDistributionCalls(&right, places);
    std::vector<int> auxiliaries;
    for (QNL_exprNode** place : places) {
        const std::string aux = GenerateAuxiliaryId(counter, *network, copy);
        QNL_exprNode* call = *place;
        std::string text;
        call->ToText(text);
        detail::CollectVariables named;
        call->Accept(named);
        double lower = -10.0, upper = 10.0;
        QNL_namedExpressions probe;
        double mean = 0.0, variance = 0.0;
        if (named.found.empty() && probe.SetMainExpression(text) == 0 &&
            probe.GetMoments(mean, variance) == 0 && std::isfinite(mean) &&
            std::isfinite(variance) && variance >= 0.0) {
            const double reach = variance > 0.0 ? 10.0 * std::sqrt(variance) : 10.0;
            lower = mean - reach;
            upper = mean + reach;
        }
        const int h = AddDistributionNode(copy, aux, text, lower, upper);
        if (h < 0) return h;
        for (QNL_exprVariable* variable : named.found) {
            const int p = network->FindNode(variable->GetName().c_str());
            if (p < 0 || map[static_cast<std::size_t>(p)] < 0) return -2;
            if (copy.GetParents(h).IsInList(map[static_cast<std::size_t>(p)])) continue;
            if (copy.AddArc(map[static_cast<std::size_t>(p)], h) != 0) return -2;
        }
        *place = new QNL_exprVariable(aux, call->GetSign());
        delete call;
        auxiliaries.push_back(h);
    }
    const int h = copy.AddNode(QNL_TYPE_HEQUATION, id.c_str());
    if (h < 0) return h;
    for (int aux : auxiliaries)
        if (copy.AddArc(aux, h) != 0) return -2;
    const QNL_equation* source = detail::EquationAt(*network, handle);
    auto* definition = static_cast<QNL_continuousDefinition*>(copy.GetNode(h)->GetDefinition());
    std::string text;
    QNL_exprNode::ToSignedText(right, text);
    if (definition->SetExpression(0, text) != 0) return -2;
    definition->SetLowerBound(source->GetLowerBound());
    definition->SetUpperBound(source->GetUpperBound());
    auto* holder = static_cast<QNL_namedExpressions*>(definition->GetDistribution(0));
    QNL_parsedEquation whole;
    if (whole.SetEquation(id + "=" + text, nullptr, nullptr) != 0) return -2;
    std::vector<std::string> variables;
    whole.GetVariables(variables);
    for (const std::string& variable : variables) {
        if (variable == id) continue;
        QNL_parsedEquation solved(whole);
        if (solved.SolveFor(variable) != 0) continue;
        std::string expression;
        QNL_exprNode::ToSignedText(solved.GetRight(), expression);
        if (holder->SetExpression(variable, expression) != 0) return -2;
    }
    return h;
}

int QNL_equationSolver::RunHybridAlgorithm() {
    if (network == nullptr) return Fail("No network to solve");
    try {
        for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
            const int type = network->GetNode(h)->GetType();
            if ((type != QNL_TYPE_EQUATION && type != QNL_TYPE_EQUATION_SCC) ||
                detail::EquationAt(*network, h) == nullptr)
                return Fail(detail::kHybrid);
        }
        QNL_network copy;
        // The copy samples as many values as the network asks for.
        copy.SetNumberOfSamples(network->GetNumberOfSamples());
        std::vector<int> map(static_cast<std::size_t>(std::max(0, network->GetLastNode() + 1)), -1);
        int counter = 0;
        const QNL_intArray& ordered = network->GetOrderedNodes();
        for (int i = 0; i < ordered.GetCount(); ++i)
            if (int r = ConvertNode(ordered[i], copy, map, counter)) {
                network->InvalidateValues();
                return QNL_errorHandler::Instance().LogError(r, "HBN algorithm failed.");
            }
        for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
            const QNL_nodeValue* value = network->GetNode(h)->GetValue();
            double x = 0.0;
            if (value == nullptr || !value->HasEvidence() || value->GetEvidence(&x) != 0) continue;
            if (int r = copy.GetNode(map[static_cast<std::size_t>(h)])->GetValue()->SetEvidence(x))
                return r;
        }
        copy.SetDefaultHBNAlgorithm(network->GetDefaultHBNAlgorithm());
        const int result = copy.UpdateBeliefs();
        if (result != 0) {
            network->InvalidateValues();
            return QNL_errorHandler::Instance().LogError(result, "HBN algorithm failed.");
        }
        for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
            auto* target = dynamic_cast<QNL_equationValue*>(network->GetNode(h)->GetValue());
            const auto* from = dynamic_cast<const QNL_continuousValue*>(
                copy.GetNode(map[static_cast<std::size_t>(h)])->GetValue());
            if (target == nullptr || from == nullptr || target->HasEvidence()) continue;
            double x = 0.0;
            int r = 0;
            if (from->HasPropagatedEvidence() && from->GetEvidence(&x) == 0)
                r = target->SetPropagatedEvidence(x);
            else
                r = target->SetWeightedSamples(from->GetSamples());
            if (r != 0) return r;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

// A failed update may have written some values and not others, or none: whatever it left
// marked valid is what it was meant to recompute.
int RunEquationSolver(QNL_network& network) {
    QNL_equationSolver solver(&network);
    bool evidence = false;
    for (int h = network.GetFirstNode(); h >= 0 && !evidence; h = network.GetNextNode(h)) {
        const QNL_nodeValue* value = network.GetNode(h)->GetValue();
        evidence = value != nullptr && value->HasEvidence();
    }
    const int result = evidence ? solver.RunHybridAlgorithm() : solver.Solve();
    if (result != 0) network.InvalidateValues();
    return result;
}
