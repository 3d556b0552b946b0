#include "definitions/equation.h"

#include "definitions/definition_support.h"
#include "definitions/node_value.h"
#include "definitions/value_dependence.h"
#include "equations/expr_parser.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <unordered_set>
#include <utility>

namespace quarn::detail {
namespace {

class CollectNames : public QNL_exprVisitor {
public:
    explicit CollectNames(std::vector<std::string>& out) : out(out) {}
    void Visit(QNL_exprVariable& variable) override {
        if (std::find(out.begin(), out.end(), variable.GetName()) == out.end())
            out.push_back(variable.GetName());
    }

private:
    std::vector<std::string>& out;
};

// Replaces every variable of the name below (and at) slot by the constant 0 with its sign.
void ZeroVariable(QNL_exprNode*& slot, const std::string& name) {
    if (slot == nullptr) return;
    if (slot->GetKind() == QNL_exprNode::VARIABLE) {
        if (static_cast<QNL_exprVariable*>(slot)->GetName() != name) return;
        QNL_exprNode* zero = new QNL_exprConstant(0.0, slot->GetSign());
        delete slot;
        slot = zero;
        return;
    }
    if (slot->IsOperator()) {
        auto* op = static_cast<QNL_exprBinaryOperator*>(slot);
        QNL_exprNode* left = op->ReleaseLeft();
        QNL_exprNode* right = op->ReleaseRight();
        ZeroVariable(left, name);
        ZeroVariable(right, name);
        op->SetLeft(left);
        op->SetRight(right);
        return;
    }
    const int kind = slot->GetKind();
    if (kind != QNL_exprNode::FUNCTION_CALL && kind != QNL_exprNode::DISTRIBUTION_CALL) return;
    auto* call = static_cast<QNL_exprFunctionCall*>(slot);
    for (int i = 0; i < QNL_exprFunctionCall::MAX_ARGUMENTS; ++i) {
        if (call->GetArgument(i) == nullptr) continue;
        QNL_exprNode* argument = call->ReleaseArgument(i);
        ZeroVariable(argument, name);
        call->SetArgument(i, argument);
    }
}

bool IsEquationType(int type) {
    return type == QNL_TYPE_EQUATION || type == QNL_TYPE_EQUATION_SCC;
}

// The node's descendants by a walk down from it, which visits nothing else: a node read or
// built after its parents has none, and the equation's check then costs nothing.
std::unordered_set<int> DescendantsOf(const QNL_network& network, int node) {
    std::unordered_set<int> found;
    std::vector<int> stack{node};
    while (!stack.empty()) {
        const QNL_intArray& children = network.GetChildren(stack.back());
        stack.pop_back();
        for (int i = 0; i < children.GetCount(); ++i)
            if (children[i] != node && found.insert(children[i]).second)
                stack.push_back(children[i]);
    }
    return found;
}

} // namespace
} // namespace quarn::detail

namespace detail = quarn::detail;

// ---------------------------------------------------------------------------------------
// Parsed equation.

QNL_parsedEquation::QNL_parsedEquation(const QNL_parsedEquation& other) {
    std::unique_ptr<QNL_exprNode> l(other.left != nullptr ? other.left->Clone() : nullptr);
    std::unique_ptr<QNL_exprNode> r(other.right != nullptr ? other.right->Clone() : nullptr);
    left = l.release();
    right = r.release();
    random = other.random;
}

QNL_parsedEquation& QNL_parsedEquation::operator=(const QNL_parsedEquation& other) {
    if (this != &other) {
        QNL_parsedEquation copy(other);
        *this = std::move(copy);
    }
    return *this;
}

QNL_parsedEquation::QNL_parsedEquation(QNL_parsedEquation&& other) noexcept
    : left(other.left), right(other.right), random(other.random) {
    other.left = other.right = nullptr;
    other.random = false;
}

QNL_parsedEquation& QNL_parsedEquation::operator=(QNL_parsedEquation&& other) noexcept {
    if (this != &other) {
        std::swap(left, other.left);
        std::swap(right, other.right);
        std::swap(random, other.random);
    }
    return *this;
}

QNL_parsedEquation::~QNL_parsedEquation() {
    delete left;
    delete right;
}

int QNL_parsedEquation::SetEquation(const std::string& text, QNL_variableValidator* validator,
                                    std::string* message) {
    std::string parserMessage;
    QNL_exprNode* tree = ParseExpression(text, validator, &parserMessage);
    if (tree == nullptr) {
        if (message != nullptr) *message = parserMessage;
        return -2;
    }
    if (tree->GetKind() != QNL_exprNode::EQUAL) {
        delete tree;
        if (message != nullptr) *message = "Toplevel '=' sign missing in equation";
        return -3;
    }
    auto* root = static_cast<QNL_exprBinaryOperator*>(tree);
    SetSides(root->ReleaseLeft(), root->ReleaseRight());
    delete root;
    return 0;
}

void QNL_parsedEquation::SetSides(QNL_exprNode* newLeft, QNL_exprNode* newRight) {
    delete left;
    delete right;
    left = newLeft;
    right = newRight;
    random = FindsDistributionCall();
}

void QNL_parsedEquation::GetText(std::string& out) const {
    out.clear();
    QNL_exprNode::ToSignedText(left, out);
    out += '=';
    QNL_exprNode::ToSignedText(right, out);
}

void QNL_parsedEquation::GetVariables(std::vector<std::string>& out) const {
    out.clear();
    detail::CollectNames collect(out);
    if (left != nullptr) left->Accept(collect);
    if (right != nullptr) right->Accept(collect);
}

void QNL_parsedEquation::SetVariableValue(const std::string& name, double value) {
    QNL_exprNode::SetVariableValue(left, name, value);
    QNL_exprNode::SetVariableValue(right, name, value);
}

void QNL_parsedEquation::RenameVariable(const std::string& oldName, const std::string& newName) {
    QNL_exprNode::RenameVariable(left, oldName, newName);
    QNL_exprNode::RenameVariable(right, oldName, newName);
}

void QNL_parsedEquation::AddTerm(const std::string& name) {
    auto variable = std::make_unique<QNL_exprVariable>(name);
    if (right == nullptr || (right->GetKind() == QNL_exprNode::CONSTANT &&
                             static_cast<QNL_exprConstant*>(right)->GetValue() == 0.0)) {
        delete right;
        right = variable.release();
        return;
    }
    right = new QNL_exprAdd(right, variable.release());
}

int QNL_parsedEquation::SolveFor(const std::string& name) {
    if (left == nullptr || right == nullptr) return -2;
    QNL_parsedEquation work(*this);
    std::unique_ptr<QNL_exprNode> zero(new QNL_exprConstant(0.0));
    work.left = new QNL_exprSubtract(work.left, work.right);
    work.right = zero.release();
    // Each step removes one level of the variable's side, so the tree's depth bounds the
    // loop; the count only guards against a rewrite that would not shrink it.
    for (int step = 0; step < QNL_exprParser::MAX_TREE_DEPTH * 4; ++step) {
        if (work.left->GetKind() == QNL_exprNode::VARIABLE) {
            if (static_cast<QNL_exprVariable*>(work.left)->GetName() != name) return -2;
            if (work.left->GetSign() < 0) {
                work.left->SetSign(1);
                work.right = new QNL_exprSubtract(new QNL_exprConstant(0.0), work.right);
            }
            QNL_exprNode::SimplifyTree(work.right);
            if (QNL_exprNode::CountVariable(work.right, name) > 0) return -2;
            work.random = work.FindsDistributionCall();
            *this = std::move(work);
            return 0;
        }
        if (!work.left->Isolate(name, work.left, work.right)) return -2;
    }
    return -2;
}

bool QNL_parsedEquation::FindsDistributionCall() const {
    std::vector<QNL_exprNode**> places;
    QNL_exprNode* l = left;
    QNL_exprNode* r = right;
    if (l != nullptr) l->CollectDistributionCalls(&l, places);
    if (r != nullptr) r->CollectDistributionCalls(&r, places);
    return !places.empty();
}

// ---------------------------------------------------------------------------------------
// Equation definition.

QNL_equation::QNL_equation(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {
    equation.SetSides(new QNL_exprVariable(OwnId()), new QNL_exprConstant(0.0));
}

QNL_equation::QNL_equation(const QNL_equation& other)
    : QNL_nodeDefinition(other), equation(other.equation), lower(other.lower), upper(other.upper) {}

QNL_nodeDefinition* QNL_equation::CreateCopy() const {
    return detail::CopyOrNull(*this);
}

std::string QNL_equation::OwnId() const {
    const QNL_node* node = network != nullptr ? network->GetNode(handle) : nullptr;
    const char* id = node != nullptr ? node->GetId() : nullptr;
    return id != nullptr ? id : "";
}

int QNL_equation::Refuse(const std::string& message, std::string* error) {
    if (error != nullptr) *error = message;
    return QNL_errorHandler::Instance().LogError(-2, message.c_str());
}

int QNL_equation::AddParent(int parent) {
    if (!detail::IsEquationType(detail::TypeAt(network, parent)))
        return Refuse("Only QNL_equation or QNL_equationSCC can be the parents.", nullptr);
    if (rewiring) return 0;
    const QNL_node* node = network->GetNode(parent);
    return detail::Guarded([&] {
        QNL_parsedEquation edited(equation);
        edited.AddTerm(node->GetId());
        equation = std::move(edited);
        InvalidateDependents();
        return 0;
    });
}

void QNL_equation::SubstituteZero(int parent) {
    const QNL_node* node = network != nullptr ? network->GetNode(parent) : nullptr;
    if (node == nullptr || node->GetId() == nullptr) return;
    std::unique_ptr<QNL_exprNode> leftCopy(equation.GetLeft()->Clone());
    QNL_exprNode* right = equation.GetRight()->Clone();
    QNL_exprNode* left = leftCopy.release();
    detail::ZeroVariable(left, node->GetId());
    detail::ZeroVariable(right, node->GetId());
    equation.SetSides(left, right);
}

int QNL_equation::RemoveParent(int parent) {
    if (rewiring) return 0;
    return detail::Guarded([&] {
        SubstituteZero(parent);
        InvalidateDependents();
        return 0;
    });
}

void QNL_equation::ParentIdChanged(int, const char* oldId, const char* newId) {
    if (oldId == nullptr || newId == nullptr) return;
    equation.RenameVariable(oldId, newId);
}

int QNL_equation::Assign(const QNL_nodeDefinition& other) {
    const auto* source = dynamic_cast<const QNL_equation*>(&other);
    if (source == nullptr || source->GetType() != GetType())
        return QNL_nodeDefinition::Assign(other);
    if (!other.IsValid()) return -567;
    if (&other == this) return 0;
    return detail::Guarded([&] {
        QNL_parsedEquation copy(source->equation);
        const int result = QNL_nodeDefinition::Assign(other);
        if (result != 0) return result;
        equation = std::move(copy);
        lower = source->lower;
        upper = source->upper;
        return 0;
    });
}

int QNL_equation::RemoveInvalidParents() {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    const QNL_intArray parents(network->GetParents(handle));
    for (int i = 0; i < parents.GetCount(); ++i)
        if (!detail::IsEquationType(detail::TypeAt(network, parents[i])))
            network->RemoveArc(parents[i], handle, 0);
    // An equation node names each of its parents: a parent kept through a type change that
    // the equation does not name yet becomes a term.
    if (GetType() != QNL_TYPE_EQUATION) return 0;
    return detail::Guarded([&] {
        std::vector<std::string> names;
        equation.GetVariables(names);
        QNL_parsedEquation edited(equation);
        const QNL_intArray& kept = network->GetParents(handle);
        for (int i = 0; i < kept.GetCount(); ++i) {
            const char* id = network->GetNode(kept[i])->GetId();
            if (std::find(names.begin(), names.end(), id) == names.end()) edited.AddTerm(id);
        }
        equation = std::move(edited);
        return 0;
    });
}

int QNL_equation::SetBounds(double newLower, double newUpper) {
    if (!std::isfinite(newLower) || !std::isfinite(newUpper) || newLower > newUpper) return -2;
    if (newLower == lower && newUpper == upper) return 0;
    lower = newLower;
    upper = newUpper;
    InvalidateDependents();
    return 0;
}

int QNL_equation::ParseChecked(const std::string& text, QNL_variableValidator* validator,
                               QNL_parsedEquation& scratch, std::string& message) const {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        message = "Equation cannot be empty.";
        return -2;
    }
    return scratch.SetEquation(text, validator, &message) == 0 ? 0 : -2;
}

void QNL_equation::InvalidateDependents(bool wasRandom) {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return;
    try {
        if (!detail::InvalidateSampledValues(*network, wasRandom)) {
            std::vector<int> nodes;
            detail::CollectEquationDependents(*network, handle, nodes);
            for (int h : nodes) {
                QNL_nodeValue* value = network->GetNode(h)->GetValue();
                if (value != nullptr && !value->IsObserved()) value->SetValidFlag(false);
            }
        }
    } catch (const std::bad_alloc&) {
        // Without room to find the dependents, none is left valid.
        network->InvalidateValues();
    }
    detail::NotifyNetwork(network, handle, QNL_network::CHANGE_VALUES);
}

int QNL_equation::SetEquation(const std::string& text, QNL_variableValidator* validator,
                              std::string* error) {
    if (!IsValid()) return -567;
    return detail::Guarded([&] {
        QNL_parsedEquation scratch;
        std::string message;
        if (ParseChecked(text, validator, scratch, message) != 0) return Refuse(message, error);
        if (network == nullptr || !network->IsValidNodeHandle(handle)) {
            equation = std::move(scratch);
            return 0;
        }
        std::vector<std::string> names;
        scratch.GetVariables(names);
        const std::unordered_set<int> descendants = detail::DescendantsOf(*network, handle);
        std::vector<int> named;
        for (const std::string& name : names) {
            const int h = network->FindNode(name.c_str());
            if (h < 0) return Refuse("Unknown node identifier: " + name, error);
            if (h == handle) continue;
            if (descendants.count(h) != 0)
                return Refuse("Node " + name +
                                  " can't be used in equation for current node, because it "
                                  "would result in a cycle.",
                              error);
            if (!detail::IsEquationType(detail::TypeAt(network, h)))
                return Refuse("Only QNL_equation or QNL_equationSCC can be the parents.", error);
            named.push_back(h);
        }
        if (Rewire(named, message) != 0) return Refuse(message, error);
        const bool wasRandom = equation.IsRandom();
        equation = std::move(scratch);
        InvalidateDependents(wasRandom);
        return 0;
    });
}

// Parents the text still names keep their arcs (and their order); the others go and the
// new ones follow in the order the text names them. A refused arc puts the old ones back.
int QNL_equation::Rewire(const std::vector<int>& named, std::string& message) {
    detail::FlagScope scope(rewiring);
    const QNL_intArray oldParents(network->GetParents(handle));
    int failed = -1;
    int result = 0;
    for (int i = 0; i < oldParents.GetCount() && result == 0; ++i)
        if (std::find(named.begin(), named.end(), oldParents[i]) == named.end())
            if ((result = network->RemoveArc(oldParents[i], handle, 0)) != 0)
                failed = oldParents[i];
    for (std::size_t i = 0; i < named.size() && result == 0; ++i)
        if (!network->GetParents(handle).IsInList(named[i]))
            if ((result = network->AddArc(named[i], handle, 0)) != 0) failed = named[i];
    if (result == 0) return 0;

    QNL_intArray order;
    detail::RestoreParents(network, handle, oldParents, order);
    const QNL_node* node = network->GetNode(failed);
    message = std::string("Arc from ") + (node != nullptr ? node->GetId() : "?") +
              " could not be changed";
    return result;
}
