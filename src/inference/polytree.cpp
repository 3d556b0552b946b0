#include "inference/polytree.h"

#include "definitions/node_value.h"
#include "inference/relevance.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

namespace {

// A link parent -> child carries both messages over the parent's outcomes: pi towards the
// child, lambda towards the parent.
struct Link {
    int parent;
    int child;
    int parentIndex; // position of the parent in the child's parent list
    std::size_t at;  // offset of both messages
};

struct Record {
    int handle;
    int outcomes;
    int observed;                 // -1 when unobserved
    const QNL_Dmatrix* matrix;    // the definition's table
    const double* table;          // its cells: parents slowest in parent order, own last
    std::size_t at;               // offset of lambda, pi and belief
    int firstParent, parentCount; // into parentLinks
    int firstChild, childCount;   // into childLinks
};

class Polytree {
public:
    explicit Polytree(QNL_network& network) : network(network) {}
    int Run();

private:
    int Build();
    void PropagateTree(int start);
    void ComputeLambda(const Record& x);
    void ComputePi(const Record& x);
    void ComputeBelief(const Record& x);
    // Products of the parents' pi messages per parent configuration, in table order, leaving
    // out the parent at `skip` (-1 for none).
    void ParentWeights(const Record& x, int skip);
    void SendLambda(const Record& x, const Link& link);
    void SendPi(const Record& x, const Link& link);
    const Link& ParentLink(const Record& x, int p) const {
        return links[static_cast<std::size_t>(
            parentLinks[static_cast<std::size_t>(x.firstParent + p)])];
    }
    int ParentOutcomes(const Record& x, int p) const {
        return records[static_cast<std::size_t>(ParentLink(x, p).parent)].outcomes;
    }

    QNL_network& network;
    std::vector<Record> records;
    std::vector<Link> links;
    std::vector<int> parentLinks, childLinks;
    std::vector<double> pi, lambda, belief;       // per record
    std::vector<double> piMessage, lambdaMessage; // per link
    std::vector<double> weights, next, support;
    std::vector<char> visited;
    // The preorder of one tree: record and the link to its upstream neighbour.
    std::vector<std::pair<int, int>> order, stack;
};

constexpr double kRescaleBelow = 0x1p-512;

void Normalise(double* v, int n) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += v[i];
    if (sum > 0.0) {
        for (int i = 0; i < n; ++i)
            v[i] /= sum;
    } else {
        for (int i = 0; i < n; ++i)
            v[i] = 1.0 / n;
    }
}

bool Lists(const QNL_intArray& list, int handle) {
    for (int i = 0; i < list.GetCount(); ++i)
        if (list[i] == handle) return true;
    return false;
}

std::string IdOf(QNL_network& network, int handle) {
    const QNL_node* node = network.GetNode(handle);
    const char* id = node != nullptr ? node->GetId() : nullptr;
    return id != nullptr ? id : "";
}

int Polytree::Build() {
    const QNL_intArray ordered(network.GetOrderedNodes());
    const int count = ordered.GetCount();
    // The last handle is negative when the network has no nodes.
    std::vector<int> recordOf(static_cast<std::size_t>(std::max(network.GetLastNode() + 1, 0)), -1);
    records.resize(static_cast<std::size_t>(count));
    std::size_t cells = 0;
    for (int i = 0; i < count; ++i) {
        const int h = ordered[i];
        recordOf[static_cast<std::size_t>(h)] = i;
        QNL_node* node = network.GetNode(h);
        QNL_nodeDefinition* definition = node->GetDefinition();
        const QNL_nodeValue* value = node->GetValue();
        Record& r = records[static_cast<std::size_t>(i)];
        r.handle = h;
        r.outcomes = definition != nullptr ? definition->GetNumberOfOutcomes() : 0;
        r.observed = value != nullptr && (value->GetFlags() & (QNL_nodeValue::FLAG_EVIDENCE |
                                                               QNL_nodeValue::FLAG_PROPAGATED))
                         ? value->GetEvidence()
                         : -1;
        const QNL_Dmatrix* table = definition != nullptr ? definition->GetMatrix() : nullptr;
        r.matrix = table;
        r.table = table != nullptr ? table->GetItems().Items() : nullptr;
        r.at = cells;
        cells += static_cast<std::size_t>(std::max(r.outcomes, 0));
    }
    // Every arc must be listed on both sides, and every table must span its node's family.
    std::size_t fromChildren = 0;
    for (const Record& r : records) {
        const QNL_intArray& parents = network.GetParents(r.handle);
        const QNL_intArray& children = network.GetChildren(r.handle);
        fromChildren += static_cast<std::size_t>(children.GetCount());
        for (int c = 0; c < children.GetCount(); ++c)
            if (!Lists(network.GetParents(children[c]), r.handle))
                return QNL_errorHandler::Instance().LogError(
                    -3, "PolyTree: node [" + IdOf(network, children[c]) +
                            "] does not list its parent [" + IdOf(network, r.handle) + "]");
        const QNL_Dmatrix* table = r.matrix;
        bool fits = r.outcomes >= 1 && table != nullptr && r.observed < r.outcomes &&
                    table->GetNumberOfDimensions() == parents.GetCount() + 1 &&
                    table->GetSizeOfDimension(parents.GetCount()) == r.outcomes;
        for (int p = 0; fits && p < parents.GetCount(); ++p) {
            const int parent = network.IsValidNodeHandle(parents[p])
                                   ? recordOf[static_cast<std::size_t>(parents[p])]
                                   : -1;
            fits = parent >= 0 && table->GetSizeOfDimension(p) ==
                                      records[static_cast<std::size_t>(parent)].outcomes;
        }
        if (!fits)
            return QNL_errorHandler::Instance().LogError(-567, "PolyTree: the table of node [" +
                                                                   IdOf(network, r.handle) +
                                                                   "] does not match its parents");
    }
    std::size_t messageCells = 0;
    for (int i = 0; i < count; ++i) {
        Record& r = records[static_cast<std::size_t>(i)];
        const QNL_intArray& parents = network.GetParents(r.handle);
        r.firstParent = static_cast<int>(parentLinks.size());
        r.parentCount = parents.GetCount();
        for (int p = 0; p < parents.GetCount(); ++p) {
            const int parent = recordOf[static_cast<std::size_t>(parents[p])];
            parentLinks.push_back(static_cast<int>(links.size()));
            links.push_back(Link{parent, i, p, messageCells});
            messageCells +=
                static_cast<std::size_t>(records[static_cast<std::size_t>(parent)].outcomes);
        }
    }
    if (links.size() != fromChildren)
        return QNL_errorHandler::Instance().LogError(-3,
                                                     "PolyTree: a parent does not list its child");
    // Child links in each parent's child order.
    for (Record& r : records) {
        const QNL_intArray& children = network.GetChildren(r.handle);
        r.firstChild = static_cast<int>(childLinks.size());
        r.childCount = children.GetCount();
        const int self = static_cast<int>(&r - records.data());
        for (int c = 0; c < children.GetCount(); ++c) {
            const Record& child =
                records[static_cast<std::size_t>(recordOf[static_cast<std::size_t>(children[c])])];
            int link = -1;
            for (int p = 0; p < child.parentCount && link < 0; ++p) {
                const int l = parentLinks[static_cast<std::size_t>(child.firstParent + p)];
                if (links[static_cast<std::size_t>(l)].parent == self) link = l;
            }
            childLinks.push_back(link);
        }
    }
    pi.assign(cells, 0.0);
    lambda.assign(cells, 1.0);
    belief.assign(cells, 0.0);
    piMessage.assign(messageCells, 1.0);
    lambdaMessage.assign(messageCells, 1.0);
    visited.assign(records.size(), 0);
    return 0;
}

void Polytree::ComputeLambda(const Record& x) {
    double* l = &lambda[x.at];
    if (x.observed >= 0) {
        std::fill(l, l + x.outcomes, 0.0);
        l[x.observed] = 1.0;
        return;
    }
    std::fill(l, l + x.outcomes, 1.0);
    for (int c = 0; c < x.childCount; ++c) {
        const Link& link =
            links[static_cast<std::size_t>(childLinks[static_cast<std::size_t>(x.firstChild + c)])];
        const double* m = &lambdaMessage[link.at];
        double top = 0.0;
        for (int i = 0; i < x.outcomes; ++i) {
            l[i] *= m[i];
            top = std::max(top, l[i]);
        }
        // The product over thousands of observed children would fall below the smallest
        // double and leave every outcome at 0. Only ratios of lambda are ever read, so a power
        // of two brings it back, exactly, once it nears the bottom of the range.
        if (top > 0.0 && top < kRescaleBelow) {
            int exponent = 0;
            std::frexp(top, &exponent);
            for (int i = 0; i < x.outcomes; ++i)
                l[i] = std::ldexp(l[i], -exponent);
        }
    }
}

void Polytree::ParentWeights(const Record& x, int skip) {
    weights.assign(1, 1.0);
    for (int p = 0; p < x.parentCount; ++p) {
        const int n = ParentOutcomes(x, p);
        const double* m = &piMessage[ParentLink(x, p).at];
        next.resize(weights.size() * static_cast<std::size_t>(n));
        std::size_t k = 0;
        for (double w : weights)
            for (int u = 0; u < n; ++u)
                next[k++] = p == skip ? w : w * m[u];
        weights.swap(next);
    }
}

void Polytree::ComputePi(const Record& x) {
    double* p = &pi[x.at];
    if (x.observed >= 0) {
        std::fill(p, p + x.outcomes, 0.0);
        p[x.observed] = 1.0;
        return;
    }
    ParentWeights(x, -1);
    std::fill(p, p + x.outcomes, 0.0);
    const double* t = x.table;
    for (double w : weights) {
        for (int i = 0; i < x.outcomes; ++i)
            p[i] += w * t[i];
        t += x.outcomes;
    }
}

void Polytree::ComputeBelief(const Record& x) {
    double* b = &belief[x.at];
    for (int i = 0; i < x.outcomes; ++i)
        b[i] = lambda[x.at + static_cast<std::size_t>(i)] * pi[x.at + static_cast<std::size_t>(i)];
    Normalise(b, x.outcomes);
}

// lambda_X->U(u) = sum over x of lambda(x) times the sum, over the other parents'
// configurations, of P(x | u, others) times their pi messages.
void Polytree::SendLambda(const Record& x, const Link& link) {
    ParentWeights(x, link.parentIndex);
    const double* l = &lambda[x.at];
    support.resize(weights.size());
    const double* t = x.table;
    for (std::size_t c = 0; c < weights.size(); ++c, t += x.outcomes) {
        double s = 0.0;
        for (int i = 0; i < x.outcomes; ++i)
            s += l[i] * t[i];
        support[c] = s * weights[c];
    }
    // Configurations run with the parents after this one fastest.
    const int n = records[static_cast<std::size_t>(link.parent)].outcomes;
    std::size_t inner = 1;
    for (int p = link.parentIndex + 1; p < x.parentCount; ++p)
        inner *= static_cast<std::size_t>(ParentOutcomes(x, p));
    double* m = &lambdaMessage[link.at];
    std::fill(m, m + n, 0.0);
    for (std::size_t c = 0; c < support.size();)
        for (int u = 0; u < n; ++u)
            for (std::size_t k = 0; k < inner; ++k)
                m[u] += support[c++];
    Normalise(m, n);
}

// pi_X->C(x) = belief(x) / lambda_C->X(x); 0 where that lambda is 0.
void Polytree::SendPi(const Record& x, const Link& link) {
    double* m = &piMessage[link.at];
    const double* l = &lambdaMessage[link.at];
    const double* b = &belief[x.at];
    for (int i = 0; i < x.outcomes; ++i)
        m[i] = l[i] != 0.0 ? b[i] / l[i] : 0.0;
    Normalise(m, x.outcomes);
}

// Towards the start record, every record sends the message its upstream neighbour needs from
// everything beyond it; then away from it, every record sends to the rest of its neighbours
// once it has heard from all of them.
void Polytree::PropagateTree(int start) {
    order.clear();
    stack.clear();
    stack.emplace_back(start, -1);
    visited[static_cast<std::size_t>(start)] = 1;
    while (!stack.empty()) {
        const auto [r, up] = stack.back();
        stack.pop_back();
        order.emplace_back(r, up);
        const Record& x = records[static_cast<std::size_t>(r)];
        for (int k = 0; k < x.parentCount + x.childCount; ++k) {
            const int l =
                k < x.parentCount
                    ? parentLinks[static_cast<std::size_t>(x.firstParent + k)]
                    : childLinks[static_cast<std::size_t>(x.firstChild + k - x.parentCount)];
            const Link& link = links[static_cast<std::size_t>(l)];
            const int other = link.parent == r ? link.child : link.parent;
            if (visited[static_cast<std::size_t>(other)]) continue;
            visited[static_cast<std::size_t>(other)] = 1;
            stack.emplace_back(other, l);
        }
    }
    for (std::size_t i = order.size(); i-- > 1;) {
        const auto [r, up] = order[i];
        const Record& x = records[static_cast<std::size_t>(r)];
        const Link& link = links[static_cast<std::size_t>(up)];
        ComputeLambda(x);
        if (link.child == r) {
            SendLambda(x, link);
        } else {
            ComputePi(x);
            ComputeBelief(x);
            SendPi(x, link);
        }
    }
    for (const auto& [r, up] : order) {
        const Record& x = records[static_cast<std::size_t>(r)];
        ComputeLambda(x);
        ComputePi(x);
        ComputeBelief(x);
        for (int p = 0; p < x.parentCount; ++p) {
            const int l = parentLinks[static_cast<std::size_t>(x.firstParent + p)];
            if (l != up) SendLambda(x, links[static_cast<std::size_t>(l)]);
        }
        for (int c = 0; c < x.childCount; ++c) {
            const int l = childLinks[static_cast<std::size_t>(x.firstChild + c)];
            if (l != up) SendPi(x, links[static_cast<std::size_t>(l)]);
        }
    }
}

int Polytree::Run() {
    if (network.IsPolytree() != 1)
        return QNL_errorHandler::Instance().LogError(
            -1, "PolyTree algorithm can not be applied to this network, because it is not "
                "singly connected.");
    if (int r = Build()) return r;
    for (std::size_t r = 0; r < records.size(); ++r)
        if (!visited[r]) PropagateTree(static_cast<int>(r));
    for (const Record& x : records) {
        QNL_node* node = network.GetNode(x.handle);
        if (int r = quarn::detail::WriteNodeBeliefs(node, &belief[x.at], x.outcomes)) return r;
    }
    return 0;
}

} // namespace

int RunPolytree(QNL_network& network) {
    try {
        Polytree tree(network);
        return tree.Run();
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42, "PolyTree: out of memory");
    }
}
