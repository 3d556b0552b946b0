#include "inference/bayesian_algorithms.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "definitions/node_value.h"
#include "inference/clique_table.h"
#include "inference/clustering_join_tree.h"
#include "inference/graph_view.h"
#include "inference/join_tree_cache.h"
#include "inference/relevance.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"

namespace quarn::detail {

int LeadingInteger(const char* text) {
    if (text == nullptr) return 0;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX) {
            value = static_cast<long long>(INT_MAX) + 1;
            break;
        }
    }
    if (negative) return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

namespace {

// The property's value as an integer; `absent` when the network has no such property.
int IntegerProperty(const QNL_network& network, const char* key, int absent) {
    const QNL_userProperties& properties = const_cast<QNL_network&>(network).GetUserProperties();
    const int index = properties.FindProperty(key);
    if (index < 0) return absent;
    return LeadingInteger(properties.GetValue(index));
}

} // namespace

DecompositionSettings ReadDecompositionSettings(const QNL_network& network) {
    DecompositionSettings settings;
    const int batch = IntegerProperty(network, "QNL_REL_DECOMP_THRESHOLD", 32);
    settings.batchSize = batch < 1 ? 32 : batch;
    const int second = IntegerProperty(network, "QNL_REL_DECOMP_THRESHOLD2", 0);
    const int third = IntegerProperty(network, "QNL_REL_DECOMP_THRESHOLD3", 0);
    settings.unbatchedLimit = second > 0 ? static_cast<std::uint64_t>(second) : 65536;
    settings.firstLimit = third > 0 ? static_cast<std::uint64_t>(third) : 0;
    settings.splitLimit = third > 0 ? static_cast<std::uint64_t>(third) : settings.unbatchedLimit;
    return settings;
}

double ValueOrLoggedSize(const ScaledValue& probability, const char* what) {
    if (!probability.Underflows()) return probability.Value();
    double power = std::floor(probability.Log10());
    double mantissa = std::pow(10.0, probability.Log10() - power);
    char size[64];
    std::snprintf(size, sizeof size, "%.3g", mantissa);
    // Three digits of 9.9996 read "10".
    if (std::strcmp(size, "10") == 0) {
        mantissa = 1.0;
        power += 1.0;
    }
    std::snprintf(size, sizeof size, "%.3ge%.0f", mantissa, power);
    QNL_errorHandler::Instance().LogError(-2, std::string(what) + " underflowed: " + size +
                                                  " is below the smallest double, 0 returned");
    return 0.0;
}

double ProbabilityOfEvidenceValue(const ScaledValue& probability) {
    return ValueOrLoggedSize(probability, "Probability of evidence");
}

const char* BayesianAlgorithmName(int id) {
    static const char* const kNames[] = {
        "QNL_ALG_BN_CLUSTERING",
        "QNL_ALG_BN_LOGIC_SAMPLING",
        "QNL_ALG_BN_POLYTREE",
        "QNL_ALG_BN_LIKELIHOOD_WEIGHTING",
        "QNL_ALG_BN_IMPORTANCE_SAMPLING",
        "QNL_ALG_BN_LIKELIHOOD_WEIGHTING_ALIAS",
        "QNL_ALG_BN_BACKWARD_SAMPLING",
        "QNL_ALG_BN_ADAPTIVE_IMPORTANCE",
        "QNL_ALG_BN_PROPAGATED_IMPORTANCE",
        "QNL_ALG_BN_MESSAGE_PASSING",
        "QNL_ALG_BN_ELIMINATION_JOIN_TREE",
        "QNL_ALG_BN_RELEVANCE_DECOMPOSITION",
        "QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED",
    };
    if (id < 0 || id >= static_cast<int>(sizeof kNames / sizeof kNames[0])) return nullptr;
    return kNames[id];
}

} // namespace quarn::detail

namespace {

// Pending-mask bytes: beliefs still to compute, the value not valid or valid from before the
// run.
constexpr unsigned char kPending = 1;
constexpr unsigned char kPendingValid = 2;

QNL_nodeValue* ValueOf(const QNL_network& network, int handle) {
    QNL_node* node = network.GetNode(handle);
    return node != nullptr ? node->GetValue() : nullptr;
}

// The entry of the node's table at its parents' outcomes (as `parentOutcome` gives them, in
// parent order, for the parents that give the table a dimension) and its own `outcome`. False
// when the table does not fit the parents or an outcome is missing or out of range.
template <typename ParentOutcome>
bool TableEntry(const QNL_network& network, int handle, int outcome, ParentOutcome&& parentOutcome,
                double& entry) {
    QNL_node* node = network.GetNode(handle);
    QNL_nodeDefinition* definition = node != nullptr ? node->GetDefinition() : nullptr;
    const QNL_Dmatrix* table = definition != nullptr ? definition->GetMatrix() : nullptr;
    if (table == nullptr || table->GetNumberOfDimensions() < 1) return false;
    const QNL_intArray& parents = network.GetParents(handle);
    const int own = table->GetNumberOfDimensions() - 1;
    long long cell = 0;
    int dim = 0;
    for (int i = 0; i < parents.GetCount(); ++i) {
        const QNL_node* parent = network.GetNode(parents[i]);
        if (parent == nullptr || !QNL_IsTableParentOf(node->GetType(), parent->GetType())) continue;
        if (dim >= own) return false;
        const int k = parentOutcome(parents[i]);
        if (k < 0 || k >= table->GetSizeOfDimension(dim)) return false;
        cell += static_cast<long long>(k) * table->GetMultiplier(dim);
        ++dim;
    }
    if (dim != own || outcome < 0 || outcome >= table->GetSizeOfDimension(own)) return false;
    cell += static_cast<long long>(outcome) * table->GetMultiplier(own);
    if (cell >= table->GetSize()) return false;
    entry = table->Subscript(static_cast<int>(cell));
    return true;
}

int ObservedOutcome(const QNL_network& network, int handle) {
    const QNL_nodeValue* value = ValueOf(network, handle);
    return value != nullptr && value->IsObserved() ? value->GetEvidence() : -1;
}

} // namespace

// The joint probability of such evidence is 0. The reduction would drop the node as a lone
// observed record and lose the zero factor, so it is caught before. Only observed nodes can
// hold it, each at one cell: the check costs what the evidence holds, not the network.
bool quarn::detail::HasLocallyImpossibleEvidence(const QNL_network& network) {
    for (int h : network.ObservedCandidates()) {
        const QNL_nodeValue* value = ValueOf(network, h);
        if (value == nullptr || !value->IsObserved() ||
            (value->GetFlags() & QNL_nodeValue::FLAG_MARKER))
            continue;
        const int type = network.GetNode(h)->GetType();
        if (!QNL_IsTableParentType(type) && type != QNL_TYPE_CAST && type != QNL_TYPE_DEMORGAN)
            continue;
        double entry = 0.0;
        const bool known = TableEntry(
            network, h, value->GetEvidence(),
            [&](int parent) { return ObservedOutcome(network, parent); }, entry);
        if (known && entry == 0.0) return true;
    }
    return false;
}

namespace {

// Puts the targets of a decomposition back on every exit: exactly the saved ones, or none
// when the network had none.
class TargetRestorer {
public:
    TargetRestorer(QNL_network& network, const std::vector<unsigned char>& saved)
        : network(network), saved(saved) {}
    TargetRestorer(const TargetRestorer&) = delete;
    TargetRestorer& operator=(const TargetRestorer&) = delete;
    ~TargetRestorer() {
        network.ClearAllTargets();
        for (std::size_t h = 0; h < saved.size(); ++h)
            if (saved[h] != 0 && network.IsValidNodeHandle(static_cast<int>(h)))
                network.SetTarget(static_cast<int>(h));
    }

private:
    QNL_network& network;
    const std::vector<unsigned char>& saved;
};

// The pending nodes, children before parents: the parents-first order walked from its end.
std::vector<int> PendingChildrenFirst(QNL_network& network,
                                      const std::vector<unsigned char>& mask) {
    const QNL_intArray order(network.GetOrderedNodes());
    std::vector<int> pending;
    pending.reserve(static_cast<std::size_t>(order.GetCount()));
    for (int i = order.GetCount() - 1; i >= 0; --i) {
        const int h = order[i];
        if (h >= 0 && static_cast<std::size_t>(h) < mask.size() &&
            mask[static_cast<std::size_t>(h)])
            pending.push_back(h);
    }
    return pending;
}

} // namespace

bool RunClustering(QNL_network& network, unsigned char* mask, std::uint64_t limit) {
    try {
        // Kept reductions and trees serve again where only evidence values changed. A
        // reduction that fails has logged why; the caller reports the failed update.
        quarn::detail::JoinTreeCache& cache = network.GetJoinTreeCache();
        cache.Begin(network.GetStructureVersion(), limit);
        QNL_componentList fresh;
        bool kept = false;
        int code = 0;
        QNL_componentList* list = cache.Reduce(network, fresh, kept, code);
        // Evidence the deterministic pass finds contradictory is impossible evidence as above:
        // the reduction has left every value without evidence not valid.
        if (list == nullptr) return code == QNL_relevance::IMPOSSIBLE_EVIDENCE;
        QNL_componentList& components = *list;
        for (int i = 0; i < components.GetCount(); ++i) {
            QNL_relevanceComponent* component = components[i];
            if (component->GetNumberOfRecords() == 1) {
                const QNL_relevanceNode* record = component->GetRecord(0);
                record->StoreMarginal();
                if (mask != nullptr && record->GetNodeHandle() >= 0)
                    mask[record->GetNodeHandle()] = 0;
            } else if (!cache.Update(component, mask)) {
                return false;
            }
            if (!kept) components.Destroy(i);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool RunDefaultAlgorithm(QNL_network& network) {
    if (RunClustering(network, nullptr, 0)) return true;
    if (network.GetNumberOfTargets() == 1 ||
        network.GetUserProperties().FindProperty("QNL_REL_DECOMP_DISABLE_FALLBACK") >= 0)
        return false;
    return RunRelevanceDecomposition(network);
}

// A finding's value is its certainty, valid, and no tree writes an observed node: pending, it
// would stay so, and each batch or single node it made up would cost a reduction and a tree
// over everything its finding bears on. A node whose value is valid already is marked apart
// (kPendingValid), so that only a value that becomes valid during the run tells it settled.
void PrepareNodeMask(QNL_network& network, std::vector<unsigned char>& mask,
                     std::vector<unsigned char>& saved) {
    const int last = network.GetLastNode();
    const bool targets = network.GetNumberOfTargets() > 0;
    const std::size_t size = last >= 0 ? static_cast<std::size_t>(last) + 1 : 0;
    mask.assign(size, 0);
    saved.clear();
    if (targets) saved.assign(size, 0);
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const bool target = network.IsTarget(h) == 1;
        if (targets) saved[static_cast<std::size_t>(h)] = target ? 1 : 0;
        if (targets && !target) continue;
        const QNL_nodeValue* value = ValueOf(network, h);
        const bool valid = value != nullptr && value->IsValueValid();
        if (valid && value->IsObserved()) continue;
        mask[static_cast<std::size_t>(h)] = valid ? kPendingValid : kPending;
    }
    if (targets) network.ClearAllTargets();
}

namespace {

// Whether the node's beliefs are still to compute. A value that became valid during the run
// without a tree writing it was settled by a reduction (what the deterministic pass derives,
// lone observed nodes dropped with their certainty): the node is settled here.
bool StillPending(const QNL_network& network, unsigned char* mask, int h) {
    unsigned char& byte = mask[h];
    if (byte != kPending) return byte != 0;
    const QNL_nodeValue* value = ValueOf(network, h);
    if (value == nullptr || !value->IsValueValid()) return true;
    byte = 0;
    return false;
}

} // namespace

bool SolveTargetBatch(QNL_network& network, unsigned char* mask, const int* batch, int count,
                      std::uint64_t firstLimit, std::uint64_t splitLimit) {
    if (count < 1) return true;
    for (int i = 0; i < count; ++i)
        network.SetTarget(batch[i]);
    const bool ok = RunClustering(network, mask, count == 1 ? 0 : firstLimit);
    for (int i = 0; i < count; ++i)
        network.UnSetTarget(batch[i]);
    if (ok) return true;
    if (count == 1) return false;
    const int half = count / 2;
    return SolveTargetRange(network, mask, batch + half, count - half, splitLimit) &&
           SolveTargetRange(network, mask, batch, half, splitLimit);
}

// Halving recurses at most log2(count) levels deep, whatever the shape of the graph.
bool SolveTargetRange(QNL_network& network, unsigned char* mask, const int* list, int count,
                      std::uint64_t limit) {
    if (count < 1) return true;
    if (count == 1) limit = 0;
    int set = 0;
    for (int i = 0; i < count; ++i)
        if ((mask == nullptr || StillPending(network, mask, list[i])) &&
            network.SetTarget(list[i]) == 0)
            ++set;
    if (set == 0) return true;
    const bool ok = RunClustering(network, mask, limit);
    network.ClearAllTargets();
    if (ok || count < 2) return ok;
    const int half = count / 2;
    return SolveTargetRange(network, mask, list + half, count - half, limit) &&
           SolveTargetRange(network, mask, list, half, limit);
}

bool RunRelevanceDecomposition(QNL_network& network) {
    const quarn::detail::DecompositionSettings settings =
        quarn::detail::ReadDecompositionSettings(network);
    std::vector<unsigned char> saved;
    try {
        std::vector<unsigned char> mask;
        const TargetRestorer restorer(network, saved);
        PrepareNodeMask(network, mask, saved);
        const std::vector<int> walk = PendingChildrenFirst(network, mask);
        std::vector<int> batch;
        batch.reserve(std::min(walk.size(), static_cast<std::size_t>(settings.batchSize)));
        for (int h : walk) {
            if (!StillPending(network, mask.data(), h)) continue;
            batch.push_back(h);
            if (static_cast<int>(batch.size()) < settings.batchSize) continue;
            if (!SolveTargetBatch(network, mask.data(), batch.data(),
                                  static_cast<int>(batch.size()), settings.firstLimit,
                                  settings.splitLimit))
                return false;
            batch.clear();
        }
        return batch.empty() ||
               SolveTargetBatch(network, mask.data(), batch.data(), static_cast<int>(batch.size()),
                                settings.firstLimit, settings.splitLimit);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool RunRelevanceDecompositionUnbatched(QNL_network& network) {
    const std::uint64_t limit = quarn::detail::ReadDecompositionSettings(network).unbatchedLimit;
    std::vector<unsigned char> saved;
    try {
        std::vector<unsigned char> mask;
        const TargetRestorer restorer(network, saved);
        PrepareNodeMask(network, mask, saved);
        const std::vector<int> list = PendingChildrenFirst(network, mask);
        return SolveTargetRange(network, mask.data(), list.data(), static_cast<int>(list.size()),
                                limit);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

double ProbEvidenceByClustering(QNL_network& network) {
    quarn::detail::ScaledValue p;
    if (!ProbEvidenceByClustering(network, p)) return -1.0;
    return quarn::detail::ProbabilityOfEvidenceValue(p);
}

bool ProbEvidenceByClustering(QNL_network& network, quarn::detail::ScaledValue& result) {
    try {
        const int last = network.GetLastNode();
        std::vector<unsigned char> unheld(last >= 0 ? static_cast<std::size_t>(last) + 1 : 0, 0);
        bool observed = false;
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
            const QNL_nodeValue* value = ValueOf(network, h);
            if (value == nullptr || !value->HasEvidence()) continue;
            unheld[static_cast<std::size_t>(h)] = 1;
            observed = true;
        }
        // Nothing observed, nothing to weigh: no tree over the whole network is needed.
        if (!observed) {
            result = quarn::detail::ScaledValue(1.0, 0);
            return true;
        }

        QNL_componentList components;
        if (QNL_relevance::Reduce(network, true, false, components) != 0) return false;

        quarn::detail::ScaledValue p;
        for (int i = 0; i < components.GetCount(); ++i) {
            QNL_relevanceComponent* component = components[i];
            for (int r = 0; r < component->GetNumberOfRecords(); ++r) {
                const int h = component->GetRecord(r)->GetNodeHandle();
                if (h >= 0) unheld[static_cast<std::size_t>(h)] = 0;
            }
            if (component->GetNumberOfRecords() == 1) {
                component->GetRecord(0)->StoreMarginal();
            } else {
                const QNL_graphView view(component);
                QNL_clusteringJoinTree tree(view);
                quarn::detail::ScaledValue part;
                if (!tree.ProbabilityOfEvidence(part) || !(part.GetMantissa() >= 0.0)) return false;
                p.Multiply(part);
            }
            components.Destroy(i);
        }

        // Observed nodes that no component holds: every parent was observed and absorbed, so
        // the node contributes its own table entry. A parent that only holds propagated
        // evidence was summed into the node; its entry at the implied outcome counts too.
        // A parent without any evidence leaves the entry undefined: the method gives up.
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
            if (unheld[static_cast<std::size_t>(h)] == 0) continue;
            const int e = ValueOf(network, h)->GetEvidence();
            double entry = 0.0;
            if (!TableEntry(
                    network, h, e, [&](int parent) { return ObservedOutcome(network, parent); },
                    entry))
                return false;
            p.Multiply(entry);
            const QNL_intArray& parents = network.GetParents(h);
            for (int i = 0; i < parents.GetCount(); ++i) {
                const QNL_nodeValue* value = ValueOf(network, parents[i]);
                if (value == nullptr || value->HasEvidence() || !value->HasPropagatedEvidence())
                    continue;
                double implied = 0.0;
                if (!TableEntry(
                        network, parents[i], value->GetEvidence(),
                        [&](int grandparent) { return ObservedOutcome(network, grandparent); },
                        implied))
                    return false;
                p.Multiply(implied);
            }
        }
        result = p;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
