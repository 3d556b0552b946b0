#include "definitions/evaluation_context.h"

#include "equations/expr_parser.h"
#include "numerics/random.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

class VariableCollector : public QNL_exprVisitor {
public:
    void Visit(QNL_exprVariable& variable) override { found.push_back(&variable); }
    std::vector<QNL_exprVariable*> found;
};

void CollectVariables(const std::vector<QNL_exprNode*>& trees,
                      std::vector<QNL_exprVariable*>& out) {
    VariableCollector collector;
    for (QNL_exprNode* tree : trees)
        if (tree != nullptr) tree->Accept(collector);
    out = std::move(collector.found);
}

// The call at the root of a tree, when the root is a distribution call.
const QNL_exprFunctionCall* RootCall(const QNL_exprNode* tree) {
    if (tree == nullptr || tree->GetKind() != QNL_exprNode::DISTRIBUTION_CALL) return nullptr;
    return static_cast<const QNL_exprFunctionCall*>(tree);
}

int CallMoments(const QNL_exprNode* tree, double& mean, double& variance) {
    const QNL_exprFunctionCall* call = RootCall(tree);
    if (call == nullptr) return QNL_evaluationContext::NOT_SUPPORTED;
    if (!call->Moments(mean, variance)) return -2;
    mean *= tree->GetSign();
    return 0;
}

// The density proper, not the relative one: the hybrid samplers weigh by it while a
// parent-dependent argument changes the distribution's scale from sample to sample.
double CallDensity(const QNL_exprNode* tree, double x) {
    const QNL_exprFunctionCall* call = RootCall(tree);
    if (call == nullptr) return QNL_evaluationContext::NOT_SUPPORTED;
    const double density = call->NormalisedDensity(tree->GetSign() * x);
    return std::isfinite(density) && density > 0.0 ? density : 0.0;
}

// The same within [lower, upper], the range mirrored with the call's sign.
double CallDensityWithin(const QNL_exprNode* tree, double x, double lower, double upper) {
    const QNL_exprFunctionCall* call = RootCall(tree);
    if (call == nullptr) return QNL_evaluationContext::NOT_SUPPORTED;
    const double sign = tree->GetSign();
    const double density = sign > 0 ? call->NormalisedDensityWithin(x, lower, upper)
                                    : call->NormalisedDensityWithin(-x, -upper, -lower);
    return std::isfinite(density) && density > 0.0 ? density : 0.0;
}

std::unique_ptr<QNL_exprNode> Parse(const std::string& text, std::string* message) {
    std::string error;
    QNL_exprNode* tree = ParseExpression(text, nullptr, &error);
    if (tree == nullptr && message != nullptr) *message = error;
    return std::unique_ptr<QNL_exprNode>(tree);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Base

void QNL_evaluationContext::BindSlots(const std::vector<std::string>& names) {
    std::vector<QNL_exprNode*> trees;
    CollectTrees(trees);
    std::vector<QNL_exprVariable*> variables;
    CollectVariables(trees, variables);
    slots.assign(names.size(), {});
    for (QNL_exprVariable* v : variables)
        for (std::size_t i = 0; i < names.size(); ++i)
            if (v->GetName() == names[i]) slots[i].push_back(v);
}

void QNL_evaluationContext::GetVariables(std::vector<std::string>& out) {
    out.clear();
    std::vector<QNL_exprNode*> trees;
    CollectTrees(trees);
    std::vector<QNL_exprVariable*> variables;
    CollectVariables(trees, variables);
    for (QNL_exprVariable* v : variables)
        if (std::find(out.begin(), out.end(), v->GetName()) == out.end())
            out.push_back(v->GetName());
}

bool QNL_evaluationContext::DrawsBelowRoot() {
    std::vector<QNL_exprNode*> trees;
    CollectTrees(trees);
    for (QNL_exprNode* tree : trees) {
        if (tree == nullptr) continue;
        std::vector<QNL_exprNode**> places;
        QNL_exprNode* slot = tree;
        tree->CollectDistributionCalls(&slot, places);
        for (QNL_exprNode** place : places)
            if (place != &slot) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Named expressions

QNL_namedExpressions::QNL_namedExpressions() : text("0"), main(new QNL_exprConstant(0.0)) {}

QNL_evaluationContext* QNL_namedExpressions::Clone() const {
    try {
        auto copy = std::make_unique<QNL_namedExpressions>();
        copy->evaluated = evaluated;
        copy->lastValue = lastValue;
        copy->text = text;
        copy->main.reset(main != nullptr ? main->Clone() : nullptr);
        for (const auto& [name, tree] : named)
            copy->named[name].reset(tree != nullptr ? tree->Clone() : nullptr);
        return copy.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int QNL_namedExpressions::SetVariableValue(const std::string& name, double value) {
    QNL_exprNode::SetVariableValue(main.get(), name, value);
    for (auto& entry : named)
        QNL_exprNode::SetVariableValue(entry.second.get(), name, value);
    evaluated = 0;
    return 0;
}

int QNL_namedExpressions::Evaluate(double* out) {
    if (out == nullptr || main == nullptr) return -2;
    lastValue = EvaluateSigned(main.get());
    evaluated = 1;
    *out = lastValue;
    return 0;
}

int QNL_namedExpressions::EvaluateNamed(const std::string& name, double* out) {
    const auto found = named.find(name);
    if (out == nullptr || found == named.end() || found->second == nullptr) return -2;
    *out = EvaluateSigned(found->second.get());
    return 0;
}

int QNL_namedExpressions::GetMoments(double& mean, double& variance) {
    if (IsDistribution()) return CallMoments(main.get(), mean, variance);
    if (int r = Evaluate(&mean)) return r;
    variance = 0.0;
    return 0;
}

int QNL_namedExpressions::DrawValue(double* out) {
    return Evaluate(out);
}

int QNL_namedExpressions::DrawWithin(double lower, double upper, double* out) {
    const QNL_exprFunctionCall* call = RootCall(main.get());
    if (out == nullptr || call == nullptr || call->GetFunction().drawWithin == nullptr)
        return NOT_SUPPORTED;
    arguments.count = call->GetArgumentCount();
    for (int i = 0; i < arguments.count; ++i)
        arguments.values[i] = EvaluateSigned(call->GetArgument(i));
    // The call draws X; the node's value is sign * X, whose range mirrors into X's.
    const double sign = main->GetSign();
    double drawn = 0.0;
    const int result = call->GetFunction().drawWithin(sign > 0 ? lower : -upper,
                                                      sign > 0 ? upper : -lower, arguments, drawn);
    if (result > 0) return NOT_SUPPORTED;
    if (result < 0) return -2;
    *out = sign * drawn;
    return 0;
}

double QNL_namedExpressions::GetDensity(double x) {
    return IsDistribution() ? CallDensity(main.get(), x) : NOT_SUPPORTED;
}

double QNL_namedExpressions::GetDensityWithin(double x, double lower, double upper) {
    return IsDistribution() ? CallDensityWithin(main.get(), x, lower, upper) : NOT_SUPPORTED;
}

void QNL_namedExpressions::RenameVariable(const std::string& oldName, const std::string& newName) {
    if (QNL_exprNode::CountVariable(main.get(), oldName) > 0) {
        QNL_exprNode::RenameVariable(main.get(), oldName, newName);
        // The text is rewritten from its own parse, not from the simplified tree, so that it
        // keeps the user's form.
        std::unique_ptr<QNL_exprNode> written(ParseExpression(text));
        if (written != nullptr) {
            QNL_exprNode::RenameVariable(written.get(), oldName, newName);
            std::string fresh;
            QNL_exprNode::ToSignedText(written.get(), fresh);
            text = std::move(fresh);
        }
    }
    for (auto& entry : named)
        QNL_exprNode::RenameVariable(entry.second.get(), oldName, newName);
    const auto found = named.find(oldName);
    if (found != named.end() && named.find(newName) == named.end()) {
        std::unique_ptr<QNL_exprNode> tree = std::move(found->second);
        named.erase(found);
        named[newName] = std::move(tree);
    }
}

int QNL_namedExpressions::SetMainExpression(const std::string& newText, std::string* message) {
    try {
        std::unique_ptr<QNL_exprNode> tree = Parse(newText, message);
        if (tree == nullptr) return -2;
        QNL_exprNode* raw = tree.release();
        QNL_exprNode::SimplifyTree(raw);
        std::string copy = newText;
        main.reset(raw);
        text = std::move(copy);
        evaluated = 0;
        DropSlots();
        return 0;
    } catch (const std::bad_alloc&) {
        return -42;
    }
}

int QNL_namedExpressions::SetExpression(const std::string& name, const std::string& expression) {
    try {
        std::unique_ptr<QNL_exprNode> tree = Parse(expression, nullptr);
        if (tree == nullptr) return -2;
        named[name] = std::move(tree);
        DropSlots();
        return 0;
    } catch (const std::bad_alloc&) {
        return -42;
    }
}

const QNL_exprNode* QNL_namedExpressions::GetExpression(const std::string& name) const {
    const auto found = named.find(name);
    return found != named.end() ? found->second.get() : nullptr;
}

bool QNL_namedExpressions::IsDistribution() const {
    return RootCall(main.get()) != nullptr;
}

void QNL_namedExpressions::CollectTrees(std::vector<QNL_exprNode*>& out) {
    out.push_back(main.get());
    for (auto& entry : named)
        out.push_back(entry.second.get());
}

// ---------------------------------------------------------------------------------------
// Outcome expressions

QNL_outcomeExpressions::QNL_outcomeExpressions(const std::vector<std::string>& outcomeIds) {
    entries.reserve(outcomeIds.size());
    for (const std::string& id : outcomeIds)
        entries.push_back({id, std::unique_ptr<QNL_exprNode>(new QNL_exprConstant(0.0))});
    scratch.resize(entries.size());
}

QNL_evaluationContext* QNL_outcomeExpressions::Clone() const {
    try {
        auto copy = std::make_unique<QNL_outcomeExpressions>(std::vector<std::string>());
        for (const Entry& e : entries)
            copy->entries.push_back({e.id, std::unique_ptr<QNL_exprNode>(
                                               e.tree != nullptr ? e.tree->Clone() : nullptr)});
        copy->scratch.resize(entries.size());
        return copy.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int QNL_outcomeExpressions::SetVariableValue(const std::string& name, double value) {
    for (Entry& e : entries)
        QNL_exprNode::SetVariableValue(e.tree.get(), name, value);
    return 0;
}

int QNL_outcomeExpressions::EvaluateNamed(const std::string& name, double* out) {
    for (const Entry& e : entries)
        if (e.id == name && e.tree != nullptr && out != nullptr) {
            *out = EvaluateSigned(e.tree.get());
            return 0;
        }
    return -2;
}

void QNL_outcomeExpressions::Probabilities() {
    scratch.resize(entries.size());
    double total = 0.0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const double v = entries[i].tree != nullptr ? EvaluateSigned(entries[i].tree.get()) : 0.0;
        scratch[i] = std::isfinite(v) && v > 0.0 ? v : 0.0;
        total += scratch[i];
    }
    if (entries.empty()) return;
    if (total > 0.0 && std::isfinite(total)) {
        for (double& p : scratch)
            p /= total;
    } else {
        for (double& p : scratch)
            p = 1.0 / static_cast<double>(entries.size());
    }
}

int QNL_outcomeExpressions::DrawOutcome(int* out) {
    if (out == nullptr || entries.empty()) return -2;
    Probabilities();
    const int n = GetNumberOfOutcomes();
    const int drawn = quarn::detail::FirstAboveRunningSum(scratch.data(), n, QNL_randomUniform());
    *out = drawn >= 0 ? drawn : n - 1;
    return 0;
}

double QNL_outcomeExpressions::GetProbability(int outcome) {
    if (outcome < 0 || outcome >= GetNumberOfOutcomes()) return 0.0;
    Probabilities();
    return scratch[static_cast<std::size_t>(outcome)];
}

void QNL_outcomeExpressions::RenameVariable(const std::string& oldName,
                                            const std::string& newName) {
    for (Entry& e : entries)
        QNL_exprNode::RenameVariable(e.tree.get(), oldName, newName);
}

int QNL_outcomeExpressions::SetExpression(const std::string& outcomeId,
                                          const std::string& expression) {
    for (Entry& e : entries) {
        if (e.id != outcomeId) continue;
        try {
            std::unique_ptr<QNL_exprNode> tree = Parse(expression, nullptr);
            if (tree == nullptr) return -2;
            e.tree = std::move(tree);
            DropSlots();
            return 0;
        } catch (const std::bad_alloc&) {
            return -42;
        }
    }
    return -2;
}

std::string QNL_outcomeExpressions::GetExpressionText(int outcome) const {
    std::string out;
    if (outcome >= 0 && outcome < GetNumberOfOutcomes() &&
        entries[static_cast<std::size_t>(outcome)].tree != nullptr)
        QNL_exprNode::ToSignedText(entries[static_cast<std::size_t>(outcome)].tree.get(), out);
    return out;
}

int QNL_outcomeExpressions::InsertOutcome(int index, const std::string& id) {
    if (index < 0 || index > GetNumberOfOutcomes()) return -2;
    entries.insert(entries.begin() + index,
                   Entry{id, std::unique_ptr<QNL_exprNode>(new QNL_exprConstant(0.0))});
    scratch.resize(entries.size());
    DropSlots();
    return 0;
}

int QNL_outcomeExpressions::RemoveOutcome(int index) {
    if (index < 0 || index >= GetNumberOfOutcomes()) return -2;
    entries.erase(entries.begin() + index);
    scratch.resize(entries.size());
    DropSlots();
    return 0;
}

int QNL_outcomeExpressions::ReorderOutcomes(const std::vector<int>& order) {
    const int n = GetNumberOfOutcomes();
    if (static_cast<int>(order.size()) != n) return -2;
    std::vector<char> seen(entries.size(), 0);
    for (int from : order) {
        if (from < 0 || from >= n || seen[static_cast<std::size_t>(from)]) return -2;
        seen[static_cast<std::size_t>(from)] = 1;
    }
    std::vector<Entry> reordered;
    reordered.reserve(entries.size());
    for (int from : order)
        reordered.push_back(std::move(entries[static_cast<std::size_t>(from)]));
    entries = std::move(reordered);
    return 0;
}

int QNL_outcomeExpressions::RenameOutcome(int index, const std::string& id) {
    if (index < 0 || index >= GetNumberOfOutcomes()) return -2;
    entries[static_cast<std::size_t>(index)].id = id;
    return 0;
}

void QNL_outcomeExpressions::CollectTrees(std::vector<QNL_exprNode*>& out) {
    for (Entry& e : entries)
        out.push_back(e.tree.get());
}

// ---------------------------------------------------------------------------------------
// Equation-network holder

QNL_equationContext::QNL_equationContext(const QNL_exprNode& source) : tree(source.Clone()) {}

QNL_evaluationContext* QNL_equationContext::Clone() const {
    try {
        auto copy = std::make_unique<QNL_equationContext>(*tree);
        copy->mixture = mixture;
        return copy.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int QNL_equationContext::SetVariableValue(const std::string& name, double value) {
    QNL_exprNode::SetVariableValue(tree.get(), name, value);
    return 0;
}

int QNL_equationContext::GetMoments(double& mean, double& variance) {
    return CallMoments(tree.get(), mean, variance);
}

int QNL_equationContext::DrawValue(double* out) {
    if (out == nullptr) return -2;
    *out = EvaluateSigned(tree.get());
    return 0;
}

double QNL_equationContext::GetDensity(double x) {
    return CallDensity(tree.get(), x);
}

void QNL_equationContext::CollectTrees(std::vector<QNL_exprNode*>& out) {
    out.push_back(tree.get());
}
