#include "definitions/mau.h"

#include "definitions/definition_support.h"
#include "equations/expr_parser.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

using quarn::detail::DefinitionAt;
using quarn::detail::FlagScope;
using quarn::detail::Guarded;
using quarn::detail::HoldsExactly;
using quarn::detail::IsPermutation;
using quarn::detail::RestoreParents;
using quarn::detail::SameDimensions;
using quarn::detail::TypeAt;

namespace {

bool IsUtilityType(int type) {
    return type == QNL_TYPE_TABLE || type == QNL_TYPE_MAU;
}

std::string NodeId(const QNL_network* net, int node) {
    const QNL_node* n = net != nullptr ? net->GetNode(node) : nullptr;
    return n != nullptr && n->GetId() != nullptr ? std::string(n->GetId()) : std::string();
}

// How many of the recorded parents come before position `listed` of the parent list: the
// place a new parent takes among the parents of its kind.
int CountBefore(const QNL_intArray& records, const QNL_intArray& parents, int listed) {
    int count = 0;
    for (int i = 0; i < listed && i < parents.GetCount(); ++i)
        if (records.IsInList(parents[i])) ++count;
    return count;
}

// The variable names of a tree, each once, in the order the tree names them.
class NameCollector : public QNL_exprVisitor {
public:
    void Visit(QNL_exprVariable& variable) override {
        if (seen.insert(variable.GetName()).second) names.push_back(variable.GetName());
    }
    std::vector<std::string> names;
    std::set<std::string> seen;
};

std::vector<std::string> NamesOf(const QNL_exprNode* tree) {
    NameCollector collector;
    if (tree != nullptr) const_cast<QNL_exprNode*>(tree)->Accept(collector);
    return collector.names;
}

void AddNamesOf(const QNL_expressionMatrix& matrix, std::set<std::string>& names) {
    for (int i = 0; i < matrix.GetSize(); ++i)
        for (std::string& name : NamesOf(matrix.GetExpression(i)))
            names.insert(std::move(name));
}

bool CallsDistribution(const QNL_exprNode* tree) {
    QNL_exprNode* root = const_cast<QNL_exprNode*>(tree);
    std::vector<QNL_exprNode**> places;
    root->CollectDistributionCalls(&root, places);
    return !places.empty();
}

// A new utility parent is named by every expression, so that the pruning after a later
// removal keeps its arc: a constant 0 (what a removal leaves when nothing else was named)
// becomes the identifier, any other expression e becomes e + identifier.
void AddIdentifier(QNL_expressionMatrix& matrix, int cell, const std::string& name) {
    QNL_exprNode* root = matrix.GetExpression(cell);
    auto variable = std::make_unique<QNL_exprVariable>(name);
    if (root == nullptr || (root->GetKind() == QNL_exprNode::CONSTANT &&
                            static_cast<const QNL_exprConstant*>(root)->GetValue() == 0.0)) {
        matrix.SetExpression(cell, variable.release());
        return;
    }
    std::unique_ptr<QNL_exprNode> before(root->Clone());
    auto sum = std::make_unique<QNL_exprAdd>(nullptr, nullptr);
    sum->SetLeft(before.release());
    sum->SetRight(variable.release());
    matrix.SetExpression(cell, sum.release());
}

// The left-nested sum of the identifiers in the order given; the constant 0 for none.
QNL_exprNode* SumOf(const std::vector<std::string>& names) {
    std::unique_ptr<QNL_exprNode> sum;
    for (const std::string& name : names) {
        auto variable = std::make_unique<QNL_exprVariable>(name);
        if (sum == nullptr) {
            sum = std::move(variable);
            continue;
        }
        auto add = std::make_unique<QNL_exprAdd>(nullptr, nullptr);
        add->SetLeft(sum.release());
        add->SetRight(variable.release());
        sum = std::move(add);
    }
    if (sum == nullptr) sum = std::make_unique<QNL_exprConstant>(0.0);
    return sum.release();
}

// An expression that names a removed parent becomes the sum of the other identifiers it
// names, in ascending order.
void DropIdentifier(QNL_expressionMatrix& matrix, int cell, const std::string& name) {
    std::vector<std::string> names = NamesOf(matrix.GetExpression(cell));
    const auto named = std::find(names.begin(), names.end(), name);
    if (named == names.end()) return;
    names.erase(named);
    std::sort(names.begin(), names.end());
    matrix.SetExpression(cell, SumOf(names));
}

// Which identifiers an expression of the node may name: utility and MAU nodes other than the
// node itself and its descendants (naming those would make the utility depend on itself).
class IdentifierResolver {
public:
    IdentifierResolver(QNL_network* net, int node) : network(net) {
        if (net == nullptr || !net->IsValidNodeHandle(node)) {
            network = nullptr;
            return;
        }
        own = NodeId(net, node);
        QNL_intArray descendants;
        net->GetDescendants(node, descendants);
        for (int h = net->GetFirstNode(); h >= 0; h = net->GetNextNode(h))
            if (h != node && !descendants.IsInList(h) && IsUtilityType(TypeAt(net, h)))
                accepted.insert(NodeId(net, h));
    }

    bool Check(const std::string& name, std::string& message) const {
        if (accepted.count(name) > 0) return true;
        if (network != nullptr && name == own)
            message = "self-references not allowed";
        else if (network != nullptr && network->FindNode(name.c_str()) >= 0)
            message = "only non-descendant utility/ALU/MAU nodes are allowed";
        else
            message = "unknown identifier";
        return false;
    }

private:
    QNL_network* network;
    std::string own;
    std::set<std::string> accepted;
};

// The expressions' shape: one dimension per decision parent, or one cell without them.
QNL_intArray ExpressionShape(const QNL_intArray& decisionSizes) {
    QNL_intArray shape(decisionSizes);
    if (shape.GetCount() == 0 && shape.Add(1) != 0) throw std::bad_alloc();
    return shape;
}

bool SameShape(const QNL_intArray& dims, const QNL_intArray& wanted) {
    if (dims.GetCount() != wanted.GetCount()) return false;
    for (int i = 0; i < dims.GetCount(); ++i)
        if (dims[i] != wanted[i]) return false;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Expression matrix.

QNL_expressionMatrix::QNL_expressionMatrix(const QNL_expressionMatrix& other)
    : dimensions(other.dimensions), multipliers(other.multipliers) {
    cells.resize(other.cells.size());
    for (std::size_t i = 0; i < cells.size(); ++i)
        if (other.cells[i] != nullptr) cells[i].reset(other.cells[i]->Clone());
}

QNL_expressionMatrix& QNL_expressionMatrix::operator=(const QNL_expressionMatrix& other) {
    if (this != &other) {
        QNL_expressionMatrix copy(other);
        *this = std::move(copy);
    }
    return *this;
}

int QNL_expressionMatrix::Setup(const QNL_intArray& sizes) {
    std::int64_t total = 1;
    for (int d = 0; d < sizes.GetCount(); ++d) {
        if (sizes[d] < 1) return -2;
        total *= sizes[d];
        if (total > QNL_Dmatrix::MAX_CELLS) return -42;
    }
    try {
        QNL_intArray dims;
        QNL_intArray steps;
        if (dims.Assign(sizes) != 0 || steps.SetSize(sizes.GetCount()) != 0) return -42;
        steps.SetCount(sizes.GetCount());
        std::int64_t step = 1;
        for (int d = sizes.GetCount() - 1; d >= 0; --d) {
            steps[d] = static_cast<int>(step);
            step *= sizes[d];
        }
        std::vector<std::unique_ptr<QNL_exprNode>> fresh(
            sizes.GetCount() == 0 ? 0 : static_cast<std::size_t>(total));
        cells = std::move(fresh);
        dimensions = std::move(dims);
        multipliers = std::move(steps);
    } catch (const std::bad_alloc&) {
        return -42;
    }
    return 0;
}

void QNL_expressionMatrix::CleanUp() {
    cells.clear();
    dimensions.CleanUp();
    multipliers.CleanUp();
}

const QNL_exprNode* QNL_expressionMatrix::GetExpression(int index) const {
    if (index < 0 || index >= GetSize()) return nullptr;
    return cells[static_cast<std::size_t>(index)].get();
}

QNL_exprNode* QNL_expressionMatrix::GetExpression(int index) {
    if (index < 0 || index >= GetSize()) return nullptr;
    return cells[static_cast<std::size_t>(index)].get();
}

int QNL_expressionMatrix::SetExpression(int index, QNL_exprNode* node) {
    if (index < 0 || index >= GetSize()) return -2;
    cells[static_cast<std::size_t>(index)].reset(node);
    return 0;
}

int QNL_expressionMatrix::Reshape(const std::function<int(QNL_Dmatrix&)>& operation) {
    try {
        QNL_Dmatrix indices;
        if (dimensions.GetCount() > 0) {
            if (int r = indices.Setup(dimensions)) return r;
            for (int i = 0; i < indices.GetSize(); ++i)
                indices.Subscript(i) = i;
        }
        if (int r = operation(indices)) return r;

        const int size = indices.GetSize();
        const double limit = static_cast<double>(cells.size());
        std::vector<int> from(static_cast<std::size_t>(size), -1);
        std::vector<char> taken(cells.size(), 0);
        std::vector<std::unique_ptr<QNL_exprNode>> fresh(static_cast<std::size_t>(size));
        // Copies first: the only step here that can fail, done while nothing has moved.
        for (int i = 0; i < size; ++i) {
            const double v = indices.Subscript(i);
            if (!(v >= 0.0 && v < limit) || v != std::floor(v)) continue;
            const auto k = static_cast<std::size_t>(v);
            if (cells[k] == nullptr) continue;
            from[static_cast<std::size_t>(i)] = static_cast<int>(k);
            if (taken[k])
                fresh[static_cast<std::size_t>(i)].reset(cells[k]->Clone());
            else
                taken[k] = 1;
        }
        QNL_intArray dims;
        QNL_intArray steps;
        for (int d = 0; d < indices.GetNumberOfDimensions(); ++d)
            if (dims.Add(indices.GetSizeOfDimension(d)) != 0 ||
                steps.Add(indices.GetMultiplier(d)) != 0)
                return -42;
        for (int i = 0; i < size; ++i) {
            const int k = from[static_cast<std::size_t>(i)];
            if (k >= 0 && fresh[static_cast<std::size_t>(i)] == nullptr)
                fresh[static_cast<std::size_t>(i)] = std::move(cells[static_cast<std::size_t>(k)]);
        }
        cells = std::move(fresh);
        dimensions = std::move(dims);
        multipliers = std::move(steps);
    } catch (const std::bad_alloc&) {
        return -42;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Construction and checks.

QNL_mau::QNL_mau(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {
    AddParents();
    CheckConsistency(1);
    CheckReadiness(1);
}

QNL_mau::QNL_mau(const QNL_mau& other)
    : QNL_nodeDefinition(other), weights(other.weights), expressions(other.CopyExpressions()),
      decisionParents(other.decisionParents), decisionSizes(other.decisionSizes),
      utilityParents(other.utilityParents) {
    network = other.network;
    handle = other.handle;
    status = other.status;
}

QNL_nodeDefinition* QNL_mau::CreateCopy() const {
    try {
        return new QNL_mau(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::unique_ptr<QNL_expressionMatrix> QNL_mau::CopyExpressions() const {
    if (expressions == nullptr) return nullptr;
    return std::make_unique<QNL_expressionMatrix>(*expressions);
}

int QNL_mau::CleanUp(int deep) {
    if (deep) {
        weights.CleanUp();
        expressions.reset();
        decisionParents.CleanUp();
        decisionSizes.CleanUp();
        utilityParents.CleanUp();
    }
    return CheckConsistency(0);
}

int QNL_mau::CheckConsistency(int) {
    const int decisions = decisionParents.GetCount();
    bool shaped = decisionSizes.GetCount() == decisions;
    if (utilityParents.GetCount() == 0) {
        shaped = shaped && weights.GetNumberOfDimensions() == 0;
    } else {
        shaped = shaped && weights.GetNumberOfDimensions() == decisions + 1 &&
                 weights.GetSizeOfDimension(decisions) == utilityParents.GetCount();
        for (int d = 0; shaped && d < decisions; ++d)
            shaped = weights.GetSizeOfDimension(d) == decisionSizes[d];
    }
    if (shaped && expressions != nullptr) {
        const QNL_intArray& dims = expressions->GetDimensions();
        shaped = decisions == 0 ? (dims.GetCount() == 1 && dims[0] == 1)
                                : SameShape(dims, decisionSizes);
    }
    status = shaped ? (status | STATUS_VALID) : (status & ~STATUS_VALID);
    return 0;
}

int QNL_mau::CheckReadiness(int) {
    status |= STATUS_READY;
    return 0;
}

int QNL_mau::Notify(int kind) {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    return network->NotifyChange(handle, kind);
}

int QNL_mau::FreshWeights(const QNL_intArray& sizes, int utilityCount, QNL_Dmatrix& out) {
    if (utilityCount < 1) {
        out.CleanUp();
        return 0;
    }
    QNL_intArray shape(sizes);
    if (shape.Add(utilityCount) != 0) return -42;
    if (int r = out.Setup(shape)) return r;
    out.FillWith(1.0);
    return 0;
}

QNL_exprNode* QNL_mau::DefaultExpression() const {
    std::vector<std::string> names;
    for (int i = 0; i < utilityParents.GetCount(); ++i)
        names.push_back(NodeId(network, utilityParents[i]));
    return SumOf(names);
}

void QNL_mau::Commit(QNL_Dmatrix& newWeights, std::unique_ptr<QNL_expressionMatrix>& newExpressions,
                     QNL_intArray& newDecisions, QNL_intArray& newSizes,
                     QNL_intArray& newUtilities) {
    weights = std::move(newWeights);
    expressions = std::move(newExpressions);
    decisionParents = std::move(newDecisions);
    decisionSizes = std::move(newSizes);
    utilityParents = std::move(newUtilities);
    CheckConsistency(0);
}

template <typename Edit> int QNL_mau::EditCopy(Edit&& edit) {
    return Guarded([&] {
        Draft next{weights, CopyExpressions(), decisionParents, decisionSizes, utilityParents};
        if (int r = edit(next)) return r;
        Commit(next.weights, next.expressions, next.decisions, next.sizes, next.utilities);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Parents.

int QNL_mau::AddParent(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent) || parent == handle) return -2;
    const QNL_intArray& parents = network->GetParents(handle);
    const int listed = parents.FindPosition(parent);
    if (listed < 0) return -2;
    if (decisionParents.IsInList(parent) || utilityParents.IsInList(parent)) return -2;
    const int type = TypeAt(network, parent);
    if (type != QNL_TYPE_LIST && !IsUtilityType(type)) return -2;
    return EditCopy([&](Draft& next) {
        if (type == QNL_TYPE_LIST) {
            const int choices = DefinitionAt(network, parent)->GetNumberOfOutcomes();
            if (choices < 1) return -2;
            const int d = CountBefore(decisionParents, parents, listed);
            if (utilityParents.GetCount() > 0)
                if (int r = next.weights.InsertDimension(d, choices)) return r;
            if (next.expressions != nullptr) {
                // The single cell of a node without decisions becomes the first dimension.
                const bool first = decisionParents.GetCount() == 0;
                int r = next.expressions->Reshape([&](QNL_Dmatrix& m) {
                    if (!first) return m.InsertDimension(d, choices);
                    const int result = m.InsertDimension(0, choices);
                    return result != 0 ? result : m.RemoveDimension(1, 0);
                });
                if (r != 0) return r;
            }
            if (next.decisions.Insert(d, parent) != 0 || next.sizes.Insert(d, choices) != 0)
                throw std::bad_alloc();
        } else {
            const int u = CountBefore(utilityParents, parents, listed);
            if (utilityParents.GetCount() == 0) {
                if (int r = FreshWeights(decisionSizes, 1, next.weights)) return r;
            } else {
                const int last = next.weights.GetNumberOfDimensions() - 1;
                if (int r = next.weights.AddOutcome(last)) return r;
                next.weights.ShiftDataUpwards(last, u, 1.0);
            }
            if (next.utilities.Insert(u, parent) != 0) throw std::bad_alloc();
            if (next.expressions != nullptr) {
                const std::string id = NodeId(network, parent);
                for (int i = 0; i < next.expressions->GetSize(); ++i)
                    AddIdentifier(*next.expressions, i, id);
            }
        }
        return 0;
    });
}

int QNL_mau::RemoveParent(int parent) {
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const int d = decisionParents.FindPosition(parent);
    const int u = utilityParents.FindPosition(parent);
    CheckConsistency(0);
    if (!IsValid()) return ForgetParent(d, u);
    if (d < 0 && u < 0) {
        PruneUtilityParents(parent);
        return 0;
    }
    const int result = EditCopy([&](Draft& next) {
        if (d >= 0) {
            if (utilityParents.GetCount() > 0)
                if (int r = next.weights.RemoveDimension(d, 0)) return r;
            if (next.expressions != nullptr) {
                const bool last = decisionParents.GetCount() == 1;
                int r = next.expressions->Reshape([&](QNL_Dmatrix& m) {
                    if (!last) return m.RemoveDimension(d, 0);
                    const double kept = m.Subscript(0);
                    const int one = 1;
                    if (int s = m.Setup(&one, 1)) return s;
                    m.Subscript(0) = kept;
                    return 0;
                });
                if (r != 0) return r;
            }
            next.decisions.Delete(d);
            next.sizes.Delete(d);
        } else {
            if (utilityParents.GetCount() == 1) {
                next.weights.CleanUp();
            } else {
                const int lastDim = next.weights.GetNumberOfDimensions() - 1;
                next.weights.ShiftDataDownwards(lastDim, u);
                if (int r = next.weights.RemoveLastOutcome(lastDim)) return r;
            }
            if (next.expressions != nullptr) {
                const std::string id = NodeId(network, parent);
                for (int i = 0; i < next.expressions->GetSize(); ++i)
                    DropIdentifier(*next.expressions, i, id);
            }
            next.utilities.Delete(u);
        }
        return 0;
    });
    if (result == 0) PruneUtilityParents(parent);
    return result;
}

// The network removes arcs (deleting a node, for one) by asking until the definition lets
// go, so even a definition whose weights were reshaped from outside drops the parent: the
// weights start afresh and expressions that no longer fit are dropped.
int QNL_mau::ForgetParent(int d, int u) {
    return Guarded([&] {
        QNL_intArray newDecisions(decisionParents);
        QNL_intArray newSizes(decisionSizes);
        QNL_intArray newUtilities(utilityParents);
        if (d >= 0 && d < newSizes.GetCount()) newSizes.Delete(d);
        if (d >= 0) newDecisions.Delete(d);
        if (u >= 0) newUtilities.Delete(u);
        QNL_Dmatrix newWeights;
        if (newSizes.GetCount() != newDecisions.GetCount()) {
            newSizes.Flush();
            for (int i = 0; i < newDecisions.GetCount(); ++i) {
                const QNL_nodeDefinition* list = DefinitionAt(network, newDecisions[i]);
                const int choices = list != nullptr ? list->GetNumberOfOutcomes() : 1;
                if (newSizes.Add(choices > 0 ? choices : 1) != 0) throw std::bad_alloc();
            }
        }
        if (int r = FreshWeights(newSizes, newUtilities.GetCount(), newWeights)) return r;
        std::unique_ptr<QNL_expressionMatrix> newExpressions;
        if (expressions != nullptr &&
            SameShape(expressions->GetDimensions(), ExpressionShape(newSizes)))
            newExpressions = std::move(expressions);
        Commit(newWeights, newExpressions, newDecisions, newSizes, newUtilities);
        return 0;
    });
}

// Best effort: a parent whose arc cannot be removed keeps it, which costs nothing but an
// unused variable binding.
void QNL_mau::PruneUtilityParents(int skip) {
    if (expressions == nullptr || pruning || network == nullptr ||
        !network->IsValidNodeHandle(handle))
        return;
    try {
        std::set<std::string> used;
        AddNamesOf(*expressions, used);
        const QNL_intArray parents(network->GetParents(handle));
        QNL_intArray unused;
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int p = parents[i];
            if (p == skip || decisionParents.IsInList(p) || TypeAt(network, p) == QNL_TYPE_LIST)
                continue;
            if (used.count(NodeId(network, p)) == 0 && unused.Add(p) != 0) return;
        }
        FlagScope scope(pruning);
        for (int i = 0; i < unused.GetCount(); ++i)
            network->RemoveArc(unused[i], handle, 0);
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_mau::InsertParentOutcome(int parent, int index) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const int d = decisionParents.FindPosition(parent);
    if (d < 0) return 0;
    const int size = decisionSizes[d];
    if (index < 0 || index > size) return -2;
    return EditCopy([&](Draft& next) {
        if (utilityParents.GetCount() > 0) {
            if (int r = next.weights.AddOutcome(d)) return r;
            next.weights.ShiftDataUpwards(d, index, 1.0);
        }
        if (next.expressions != nullptr) {
            int r = next.expressions->Reshape([&](QNL_Dmatrix& m) {
                const int result = m.AddOutcome(d);
                return result != 0 ? result : m.ShiftDataUpwards(d, index, -1.0);
            });
            if (r != 0) return r;
            for (int i = 0; i < next.expressions->GetSize(); ++i)
                if (next.expressions->GetExpression(i) == nullptr)
                    next.expressions->SetExpression(i, DefaultExpression());
        }
        next.sizes[d] = size + 1;
        return 0;
    });
}

int QNL_mau::RemoveParentOutcome(int parent, int index) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const int d = decisionParents.FindPosition(parent);
    if (d < 0) return 0;
    const int size = decisionSizes[d];
    if (index < 0 || index >= size || size < 2) return -2;
    const int result = EditCopy([&](Draft& next) {
        auto drop = [&](QNL_Dmatrix& m) {
            m.ShiftDataDownwards(d, index);
            return m.RemoveLastOutcome(d);
        };
        if (utilityParents.GetCount() > 0)
            if (int r = drop(next.weights)) return r;
        if (next.expressions != nullptr)
            if (int r = next.expressions->Reshape(drop)) return r;
        next.sizes[d] = size - 1;
        return 0;
    });
    if (result == 0) PruneUtilityParents(-1);
    return result;
}

int QNL_mau::ReorderParentOutcomes(int parent, const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    const int d = decisionParents.FindPosition(parent);
    if (d < 0) return 0;
    if (!IsPermutation(order, decisionSizes[d])) return -2;
    return EditCopy([&](Draft& next) {
        if (utilityParents.GetCount() > 0)
            if (int r = next.weights.ReorderOutcomes(d, order)) return r;
        if (next.expressions != nullptr)
            if (int r = next.expressions->Reshape(
                    [&](QNL_Dmatrix& m) { return m.ReorderOutcomes(d, order); }))
                return r;
        return 0;
    });
}

// The network has already put its parent list in the new order; the decision dimensions and
// the utility weights follow that list, each still bound to its own parent.
int QNL_mau::ReorderParents(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return -2;
    const QNL_intArray& parents = network->GetParents(handle);
    if (!IsPermutation(order, parents.GetCount())) return -2;
    return Guarded([&] {
        QNL_intArray newDecisions;
        QNL_intArray newSizes;
        QNL_intArray newUtilities;
        QNL_intArray dimensionOrder;
        QNL_intArray utilityOrder;
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int d = decisionParents.FindPosition(parents[i]);
            const int u = utilityParents.FindPosition(parents[i]);
            if (d >= 0 && (newDecisions.Add(parents[i]) != 0 ||
                           newSizes.Add(decisionSizes[d]) != 0 || dimensionOrder.Add(d) != 0))
                throw std::bad_alloc();
            if (u >= 0 && (newUtilities.Add(parents[i]) != 0 || utilityOrder.Add(u) != 0))
                throw std::bad_alloc();
        }
        if (newDecisions.GetCount() != decisionParents.GetCount() ||
            newUtilities.GetCount() != utilityParents.GetCount())
            return -2;
        QNL_Dmatrix newWeights(weights);
        auto newExpressions = CopyExpressions();
        if (utilityParents.GetCount() > 0) {
            QNL_intArray withLast(dimensionOrder);
            if (withLast.Add(decisionParents.GetCount()) != 0) throw std::bad_alloc();
            if (int r = newWeights.ReorderDimensions(withLast)) return r;
            if (int r = newWeights.ReorderOutcomes(decisionParents.GetCount(), utilityOrder))
                return r;
        }
        if (newExpressions != nullptr && decisionParents.GetCount() > 1)
            if (int r = newExpressions->Reshape(
                    [&](QNL_Dmatrix& m) { return m.ReorderDimensions(dimensionOrder); }))
                return r;
        Commit(newWeights, newExpressions, newDecisions, newSizes, newUtilities);
        return 0;
    });
}

void QNL_mau::ParentIdChanged(int, const char* oldId, const char* newId) {
    if (expressions == nullptr || oldId == nullptr || newId == nullptr) return;
    try {
        auto renamed = CopyExpressions();
        for (int i = 0; i < renamed->GetSize(); ++i)
            QNL_exprNode::RenameVariable(renamed->GetExpression(i), oldId, newId);
        expressions = std::move(renamed);
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42, "Expressions could not follow a renamed node");
    }
}

int QNL_mau::AddParents() {
    const int result = Guarded([&] {
        weights.CleanUp();
        expressions.reset();
        decisionParents.Flush();
        decisionSizes.Flush();
        utilityParents.Flush();
        CheckConsistency(0);
        if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
        const QNL_intArray parents(network->GetParents(handle));
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int r = AddParent(parents[i]);
            if (r != 0) QNL_errorHandler::Instance().LogError(r, "Parent could not be added");
        }
        return 0;
    });
    return result;
}

int QNL_mau::RemoveInvalidParents() {
    if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
    return Guarded([&] {
        const QNL_intArray parents(network->GetParents(handle));
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int type = TypeAt(network, parents[i]);
            if (type != QNL_TYPE_LIST && !IsUtilityType(type))
                network->RemoveArc(parents[i], handle, 0);
        }
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Conversion.

// A refused source leaves this definition as it was. The weights and expressions of a MAU
// source are taken only when they fit the rebuilt shape.
int QNL_mau::Assign(const QNL_nodeDefinition& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    enum { NOTHING, REBUILD, DROP_ARCS, TAKE_MAU } mode;
    switch (source.GetType()) {
    case 0:
    case QNL_TYPE_EQUATION:
    case QNL_TYPE_EQUATION_SCC:
        mode = NOTHING;
        break;
    case QNL_TYPE_TABLE:
    case QNL_TYPE_CPT:
    case QNL_TYPE_TRUTHTABLE:
    case QNL_TYPE_NOISY_MAX:
    case QNL_TYPE_NOISY_ADDER:
        mode = REBUILD;
        break;
    case QNL_TYPE_LIST:
        mode = DROP_ARCS;
        break;
    case QNL_TYPE_MAU:
        mode = TAKE_MAU;
        break;
    default:
        return -2;
    }
    return Guarded([&] {
        const auto* mau = dynamic_cast<const QNL_mau*>(&source);
        QNL_Dmatrix sourceWeights;
        std::unique_ptr<QNL_expressionMatrix> sourceExpressions;
        if (mode == TAKE_MAU && mau != nullptr) {
            sourceWeights = mau->weights;
            sourceExpressions = mau->CopyExpressions();
        }
        QNL_nodeDefinition::Assign(source);
        CleanUp(1);
        if (mode == DROP_ARCS && network != nullptr && network->IsValidNodeHandle(handle))
            if (int r = network->RemoveAllParents(handle)) return r;
        if (mode != NOTHING) AddParents();
        if (mode == TAKE_MAU && mau != nullptr) {
            if (SameDimensions(sourceWeights, weights)) weights = std::move(sourceWeights);
            if (sourceExpressions != nullptr &&
                SameShape(sourceExpressions->GetDimensions(), ExpressionShape(decisionSizes)))
                expressions = std::move(sourceExpressions);
        }
        CheckConsistency(1);
        CheckReadiness(1);
        Notify(QNL_network::CHANGE_SHAPE);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Weights.

int QNL_mau::GetDefinition(QNL_doubleArray& out) const {
    if (out.Assign(weights.GetItems()) != 0) return QNL_errorHandler::Instance().LogError(-42);
    out.SetCount(out.GetSize());
    return 0;
}

int QNL_mau::GetDefinition(QNL_Dmatrix** out) {
    if (out == nullptr) return -2;
    *out = &weights;
    return 0;
}

int QNL_mau::SetDefinition(const QNL_Dmatrix& matrix) {
    if (!IsValid()) return -567;
    if (!SameDimensions(matrix, weights)) return -2;
    return weights.Assign(matrix);
}

int QNL_mau::SetDefinition(const QNL_doubleArray& values) {
    if (!IsValid()) return -567;
    const int total = weights.GetSize();
    if (!HoldsExactly(values, total)) return -2;
    std::copy(values.Items(), values.Items() + total, weights.GetItems().Items());
    return 0;
}

// ---------------------------------------------------------------------------------------
// Expressions.

int QNL_mau::InitExpressionMatrix(QNL_expressionMatrix& out) const {
    try {
        return out.Setup(ExpressionShape(decisionSizes));
    } catch (const std::bad_alloc&) {
        return -42;
    }
}

int QNL_mau::SetExpressions(const QNL_expressionMatrix* matrix, std::string& error) {
    if (!IsValid()) return -567;
    if (matrix == nullptr) {
        if (expressions == nullptr) return 0;
        expressions.reset();
        CheckConsistency(0);
        return Notify(QNL_network::CHANGE_VALUES);
    }
    return Guarded([&] {
        if (!SameShape(matrix->GetDimensions(), ExpressionShape(decisionSizes))) {
            error = "Wrong matrix dimensions";
            return -2;
        }
        const IdentifierResolver resolver(network, handle);
        for (int i = 0; i < matrix->GetSize(); ++i) {
            const QNL_exprNode* tree = matrix->GetExpression(i);
            std::string message;
            if (tree == nullptr) {
                message = "Empty expression";
            } else {
                for (const std::string& name : NamesOf(tree))
                    if (!resolver.Check(name, message)) break;
                if (message.empty() && CallsDistribution(tree))
                    message = "Distributions not allowed";
            }
            if (!message.empty()) {
                error = "Invalid expression at index " + std::to_string(i) + ": " + message;
                return -2;
            }
        }
        return ApplyExpressions(*matrix, error);
    });
}

// The arcs from utility parents are replaced by arcs from the named nodes, taken in ascending
// order of their identifiers; when an arc cannot be changed, the parents, weights and
// expressions that were there before are put back.
int QNL_mau::ApplyExpressions(const QNL_expressionMatrix& checked, std::string& error) {
    auto copy = std::make_unique<QNL_expressionMatrix>(checked);
    if (network == nullptr || !network->IsValidNodeHandle(handle)) {
        expressions = std::move(copy);
        CheckConsistency(0);
        return 0;
    }
    std::set<std::string> names;
    AddNamesOf(checked, names);
    QNL_intArray named;
    for (const std::string& name : names)
        if (named.Add(network->FindNode(name.c_str())) != 0) throw std::bad_alloc();

    const QNL_intArray oldParents(network->GetParents(handle));
    QNL_Dmatrix oldWeights(weights);
    QNL_intArray oldDecisions(decisionParents);
    QNL_intArray oldSizes(decisionSizes);
    QNL_intArray oldUtilities(utilityParents);
    // Room for the order that puts the old parents back, so the way back needs no memory.
    QNL_intArray order;
    if (order.SetSizeAtLeast(oldParents.GetCount()) != 0) throw std::bad_alloc();
    std::unique_ptr<QNL_expressionMatrix> oldExpressions = std::move(expressions);

    int result = 0;
    int failed = -1;
    for (int i = 0; i < oldParents.GetCount() && result == 0; ++i)
        if (TypeAt(network, oldParents[i]) != QNL_TYPE_LIST) {
            result = network->RemoveArc(oldParents[i], handle, 0);
            if (result != 0) failed = oldParents[i];
        }
    for (int i = 0; i < named.GetCount() && result == 0; ++i) {
        result = network->AddArc(named[i], handle, 0);
        if (result != 0) failed = named[i];
    }
    if (result == 0) {
        expressions = std::move(copy);
        CheckConsistency(0);
        Notify(QNL_network::CHANGE_VALUES);
        return 0;
    }

    error = "Arc from " + NodeId(network, failed) + " could not be changed";
    {
        FlagScope scope(pruning);
        RestoreParents(network, handle, oldParents, order);
    }
    Commit(oldWeights, oldExpressions, oldDecisions, oldSizes, oldUtilities);
    return result;
}

int QNL_mau::SetExpressions(const QNL_stringArray& texts, std::string& error) {
    if (!IsValid()) return -567;
    return Guarded([&] {
        QNL_expressionMatrix matrix;
        if (int r = InitExpressionMatrix(matrix)) return r;
        if (texts.GetCount() != matrix.GetSize()) {
            error = "Wrong matrix dimensions";
            return -2;
        }
        for (int i = 0; i < matrix.GetSize(); ++i) {
            const char* text = texts.GetString(i);
            std::string message;
            int position = 0;
            QNL_exprNode* tree =
                ParseExpression(text != nullptr ? text : "", nullptr, &message, &position);
            if (tree == nullptr) {
                error = "Invalid expression at index " + std::to_string(i) + ": " + message +
                        " at position " + std::to_string(position);
                return -2;
            }
            matrix.SetExpression(i, tree);
        }
        return SetExpressions(&matrix, error);
    });
}
