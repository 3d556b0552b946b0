#include "inference/polytree.h"

#include "definitions/node_value.h"
#include "inference/clique_table.h"
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
#include <type_traits>
#include <vector>

namespace {

using quarn::detail::WideCell;

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

// The records and links of the network's trees and the order of their walks: what the passes
// share, whatever numbers they carry.
class Forest {
public:
    explicit Forest(QNL_network& network) : network(network) {}
    // 0; -3 or -567 (logged) when the arcs or the tables do not fit.
    int Build();

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
    // Cells of the vectors per record and of the messages per link.
    std::size_t cells = 0, messageCells = 0;
    // The preorder of each tree, the trees one after another in the order of their first
    // records: a record and the link to its upstream neighbour (-1 where a tree starts).
    std::vector<std::pair<int, int>> order;
    // Per record, a record standing for its part: the records that stay connected when each
    // observed record is cut from its children. No message that one part's evidence decides
    // reaches another part's beliefs, so impossible evidence takes the meaning from the
    // beliefs of its own part only.
    std::vector<int> partOf;

private:
    void Walk(int start, std::vector<char>& visited, std::vector<std::pair<int, int>>& stack);
    void FindParts();
};

// The messages of a forest in numbers of one kind: double, or WideCell where products of
// the doubles left their range.
template <typename Number> class Polytree {
public:
    explicit Polytree(const Forest& forest);
    void Propagate();
    int WriteBeliefs();

private:
    // One tree: the entries [first, end) of the forest's order.
    void PropagateTree(std::size_t first, std::size_t end);
    void ComputeLambda(const Record& x);
    void ComputePi(const Record& x);
    void ComputeBelief(const Record& x);
    // Products of the parents' pi messages per parent configuration, in table order, leaving
    // out the parent at `skip` (-1 for none).
    void ParentWeights(const Record& x, int skip);
    void SendLambda(const Record& x, const Link& link);
    void SendPi(const Record& x, const Link& link);
    void MarkImpossible(int record) {
        impossible[static_cast<std::size_t>(forest.partOf[static_cast<std::size_t>(record)])] = 1;
    }

    const Forest& forest;
    const std::vector<Record>& records;
    const std::vector<Link>& links;
    const std::vector<int>& parentLinks;
    const std::vector<int>& childLinks;
    std::vector<Number> pi, lambda, belief;       // per record
    std::vector<Number> piMessage, lambdaMessage; // per link
    std::vector<Number> weights, next, support;
    std::vector<double> written;
    // By part: a vector of zero sum met there, which only evidence the part cannot hold gives.
    std::vector<char> impossible;
};

constexpr double kRescaleBelow = 0x1p-512;

// False, and every entry 1/n, when the entries sum to 0.
template <typename Number> bool Normalise(Number* v, int n) {
    Number sum(0.0);
    for (int i = 0; i < n; ++i)
        sum += v[i];
    if (quarn::detail::IsPositive(sum)) {
        for (int i = 0; i < n; ++i)
            v[i] = v[i] / sum;
        return true;
    }
    for (int i = 0; i < n; ++i)
        v[i] = Number(1.0 / n);
    return false;
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

int Forest::Build() {
    const QNL_intArray ordered(network.GetOrderedNodes());
    const int count = ordered.GetCount();
    // The last handle is negative when the network has no nodes.
    std::vector<int> recordOf(static_cast<std::size_t>(std::max(network.GetLastNode() + 1, 0)), -1);
    records.resize(static_cast<std::size_t>(count));
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
    std::vector<char> visited(records.size(), 0);
    std::vector<std::pair<int, int>> stack;
    for (std::size_t r = 0; r < records.size(); ++r)
        if (!visited[r]) Walk(static_cast<int>(r), visited, stack);
    FindParts();
    return 0;
}

void Forest::FindParts() {
    partOf.resize(records.size());
    for (std::size_t r = 0; r < records.size(); ++r)
        partOf[r] = static_cast<int>(r);
    auto find = [&](int r) {
        while (partOf[static_cast<std::size_t>(r)] != r)
            r = partOf[static_cast<std::size_t>(r)] =
                partOf[static_cast<std::size_t>(partOf[static_cast<std::size_t>(r)])];
        return r;
    };
    for (const Link& link : links)
        if (records[static_cast<std::size_t>(link.parent)].observed < 0)
            partOf[static_cast<std::size_t>(find(link.child))] = find(link.parent);
    for (std::size_t r = 0; r < records.size(); ++r)
        partOf[r] = find(static_cast<int>(r));
}

template <typename Number> void Polytree<Number>::ComputeLambda(const Record& x) {
    Number* l = &lambda[x.at];
    if (x.observed >= 0) {
        std::fill(l, l + x.outcomes, Number(0.0));
        l[x.observed] = Number(1.0);
        return;
    }
    std::fill(l, l + x.outcomes, Number(1.0));
    for (int c = 0; c < x.childCount; ++c) {
        const Link& link =
            links[static_cast<std::size_t>(childLinks[static_cast<std::size_t>(x.firstChild + c)])];
        const Number* m = &lambdaMessage[link.at];
        if constexpr (std::is_same_v<Number, double>) {
            double top = 0.0;
            for (int i = 0; i < x.outcomes; ++i) {
                l[i] *= m[i];
                top = std::max(top, l[i]);
            }
            // The product over thousands of observed children would fall below the smallest
            // double and leave every outcome at 0. Only ratios of lambda are ever read, so a
            // power of two brings it back, exactly, once it nears the bottom of the range.
            if (top > 0.0 && top < kRescaleBelow) {
                int exponent = 0;
                std::frexp(top, &exponent);
                for (int i = 0; i < x.outcomes; ++i)
                    l[i] = std::ldexp(l[i], -exponent);
            }
        } else {
            for (int i = 0; i < x.outcomes; ++i)
                l[i] *= m[i];
        }
    }
}

template <typename Number> void Polytree<Number>::ParentWeights(const Record& x, int skip) {
    weights.assign(1, Number(1.0));
    for (int p = 0; p < x.parentCount; ++p) {
        const int n = forest.ParentOutcomes(x, p);
        const Number* m = &piMessage[forest.ParentLink(x, p).at];
        next.resize(weights.size() * static_cast<std::size_t>(n));
        std::size_t k = 0;
        for (Number w : weights)
            for (int u = 0; u < n; ++u)
                next[k++] = p == skip ? w : w * m[u];
        weights.swap(next);
    }
}

template <typename Number> void Polytree<Number>::ComputePi(const Record& x) {
    Number* p = &pi[x.at];
    if (x.observed >= 0) {
        std::fill(p, p + x.outcomes, Number(0.0));
        p[x.observed] = Number(1.0);
        return;
    }
    ParentWeights(x, -1);
    std::fill(p, p + x.outcomes, Number(0.0));
    const double* t = x.table;
    for (Number w : weights) {
        for (int i = 0; i < x.outcomes; ++i)
            p[i] += w * t[i];
        t += x.outcomes;
    }
}

template <typename Number> void Polytree<Number>::ComputeBelief(const Record& x) {
    Number* b = &belief[x.at];
    for (int i = 0; i < x.outcomes; ++i)
        b[i] = lambda[x.at + static_cast<std::size_t>(i)] * pi[x.at + static_cast<std::size_t>(i)];
    if (!Normalise(b, x.outcomes)) MarkImpossible(static_cast<int>(&x - records.data()));
}

// lambda_X->U(u) = sum over x of lambda(x) times the sum, over the other parents'
// configurations, of P(x | u, others) times their pi messages.
template <typename Number> void Polytree<Number>::SendLambda(const Record& x, const Link& link) {
    ParentWeights(x, link.parentIndex);
    const Number* l = &lambda[x.at];
    support.resize(weights.size());
    const double* t = x.table;
    for (std::size_t c = 0; c < weights.size(); ++c, t += x.outcomes) {
        Number s(0.0);
        for (int i = 0; i < x.outcomes; ++i)
            s += l[i] * t[i];
        support[c] = s * weights[c];
    }
    // Configurations run with the parents after this one fastest.
    const int n = records[static_cast<std::size_t>(link.parent)].outcomes;
    std::size_t inner = 1;
    for (int p = link.parentIndex + 1; p < x.parentCount; ++p)
        inner *= static_cast<std::size_t>(forest.ParentOutcomes(x, p));
    Number* m = &lambdaMessage[link.at];
    std::fill(m, m + n, Number(0.0));
    for (std::size_t c = 0; c < support.size();)
        for (int u = 0; u < n; ++u)
            for (std::size_t k = 0; k < inner; ++k)
                m[u] += support[c++];
    if (!Normalise(m, n)) MarkImpossible(link.child);
}

// pi_X->C(x) = belief(x) / lambda_C->X(x); 0 where that lambda is 0.
template <typename Number> void Polytree<Number>::SendPi(const Record& x, const Link& link) {
    Number* m = &piMessage[link.at];
    const Number* l = &lambdaMessage[link.at];
    const Number* b = &belief[x.at];
    for (int i = 0; i < x.outcomes; ++i)
        m[i] = !quarn::detail::IsZero(l[i]) ? b[i] / l[i] : Number(0.0);
    // From an observed record, 0 where the child's part cannot hold its finding.
    if (!Normalise(m, x.outcomes)) MarkImpossible(link.child);
}

// Depth first from the start record: each record with the link it was reached by.
void Forest::Walk(int start, std::vector<char>& visited, std::vector<std::pair<int, int>>& stack) {
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
}

template <typename Number>
Polytree<Number>::Polytree(const Forest& forest)
    : forest(forest), records(forest.records), links(forest.links), parentLinks(forest.parentLinks),
      childLinks(forest.childLinks), pi(forest.cells, Number(0.0)),
      lambda(forest.cells, Number(1.0)), belief(forest.cells, Number(0.0)),
      piMessage(forest.messageCells, Number(1.0)), lambdaMessage(forest.messageCells, Number(1.0)),
      impossible(forest.records.size(), 0) {}

// Towards the start record, every record sends the message its upstream neighbour needs from
// everything beyond it; then away from it, every record sends to the rest of its neighbours
// once it has heard from all of them.
template <typename Number>
void Polytree<Number>::PropagateTree(std::size_t first, std::size_t end) {
    const std::vector<std::pair<int, int>>& order = forest.order;
    for (std::size_t i = end; i-- > first + 1;) {
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
    for (std::size_t i = first; i < end; ++i) {
        const auto [r, up] = order[i];
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

template <typename Number> void Polytree<Number>::Propagate() {
    const std::vector<std::pair<int, int>>& order = forest.order;
    for (std::size_t first = 0; first < order.size();) {
        std::size_t end = first + 1;
        while (end < order.size() && order[end].second >= 0)
            ++end;
        PropagateTree(first, end);
        first = end;
    }
}

template <typename Number> int Polytree<Number>::WriteBeliefs() {
    for (const Record& x : records) {
        QNL_node* node = forest.network.GetNode(x.handle);
        const std::size_t part =
            static_cast<std::size_t>(forest.partOf[static_cast<std::size_t>(&x - records.data())]);
        if (x.observed < 0 && impossible[part]) {
            // No posterior exists there: the uniform vector it was left with is no belief.
            if (node->GetValue() != nullptr) node->GetValue()->SetValidFlag(false);
            continue;
        }
        const double* cells;
        if constexpr (std::is_same_v<Number, double>) {
            cells = &belief[x.at];
        } else {
            written.resize(static_cast<std::size_t>(x.outcomes));
            quarn::detail::ToDoubles(&belief[x.at], x.outcomes, written.data());
            cells = written.data();
        }
        if (int r = quarn::detail::WriteNodeBeliefs(node, cells, x.outcomes)) return r;
    }
    return 0;
}

} // namespace

int RunPolytree(QNL_network& network) {
    if (network.IsPolytree() != 1)
        return QNL_errorHandler::Instance().LogError(
            -1, "PolyTree algorithm can not be applied to this network, because it is not "
                "singly connected.");
    try {
        Forest forest(network);
        if (int r = forest.Build()) return r;
        Polytree<double> tree(forest);
        {
            const quarn::detail::RangeWatch watch;
            tree.Propagate();
            if (!watch.Left()) return tree.WriteBeliefs();
        }
        // A product left the range of a double: the messages again in wide numbers, or, where
        // their storage cannot be had, the doubles' beliefs.
        try {
            Polytree<WideCell> wide(forest);
            wide.Propagate();
            return wide.WriteBeliefs();
        } catch (const std::bad_alloc&) {
            return tree.WriteBeliefs();
        }
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42, "PolyTree: out of memory");
    }
}
