#include "diagnosis/diag_engine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "definitions/extra_definition.h"
#include "definitions/node_value.h"
#include "diagnosis/diag_network.h"
#include "inference/join_tree_cache.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/node.h"
#include "model/node_cost.h"

namespace {

constexpr double kNotAvailable = 4 * DBL_MIN;
constexpr double kExcluded = 5 * DBL_MIN;

QNL_nodeValue* ValueOf(const QNL_network& network, int node) {
    QNL_node* n = network.GetNode(node);
    return n ? n->GetValue() : nullptr;
}

int OutcomesOf(const QNL_network& network, int node) {
    QNL_node* n = network.GetNode(node);
    const QNL_extraDefinition* extra = n ? n->GetExtraDefinition() : nullptr;
    return extra ? extra->GetNumberOfOutcomes() : 0;
}

// An observed node reads as certain of its outcome whatever its matrix holds.
double Belief(const QNL_network& network, int node, int outcome) {
    QNL_nodeValue* value = ValueOf(network, node);
    if (!value) return 0.0;
    if (value->IsObserved()) {
        int evidence = value->GetEvidence();
        if (evidence >= 0) return evidence == outcome ? 1.0 : 0.0;
    }
    QNL_Dmatrix* matrix = value->GetMatrix();
    return matrix && outcome < matrix->GetSize() ? matrix->Subscript(outcome) : 0.0;
}

double Log2(double x) {
    return std::log10(x) / std::log10(2.0);
}

double PlogP(double p) {
    return p > 0.0 && p < 1.0 ? -p * Log2(p) : 0.0;
}

int ModeOf(int flags) {
    if (flags & 8) return 0;
    if (flags & 16) return 1;
    if (flags & 32) return 2;
    return 0;
}

// Advances x over sizes, last position fastest; false after the last configuration.
bool Advance(std::vector<int>& x, const std::vector<int>& sizes) {
    for (std::size_t i = x.size(); i-- > 0;) {
        if (++x[i] < sizes[i]) return true;
        x[i] = 0;
    }
    return false;
}

} // namespace

QNL_diagEngine::QNL_diagEngine(QNL_diagNetwork* diagOwner) : owner(diagOwner) {
    status = 2;
}

double QNL_diagEngine::BinaryEntropy(double p) {
    if (p <= 0.0 || p >= 1.0) return 0.0;
    return -p * Log2(p) - (1.0 - p) * Log2(1.0 - p);
}

// The copies are made afresh, but the join trees and reductions made for the last ones go on
// serving while the source's structure is unchanged: a repeated ranking compiles nothing.
int QNL_diagEngine::CopyNetwork() {
    QNL_network* source = owner->GetNetwork();
    if (!source) return -2;
    const bool unchanged = source == copiedFrom && source->GetStructureVersion() == copiedVersion;
    copiedFrom = nullptr;
    for (QNL_network* net : {&second, &first}) {
        quarn::detail::JoinTreeCache kept;
        if (unchanged) kept.TakeKept(net->GetJoinTreeCache(), 0);
        net->SetNotificationControl(net->GetNotificationControl() & ~QNL_network::NOTIFY_ON);
        if (int r = net->CopyNodes(*source)) return r;
        net->SetNotificationControl(net->GetNotificationControl() & ~QNL_network::NOTIFY_ON);
        net->GetJoinTreeCache().TakeKept(kept, net->GetStructureVersion());
    }
    copiedFrom = source;
    copiedVersion = source->GetStructureVersion();
    return 0;
}

int QNL_diagEngine::CopyEvidence(const QNL_network& source, QNL_network& destination) {
    destination.ClearAllEvidence();
    for (int h = source.GetFirstNode(); h >= 0; h = source.GetNextNode(h)) {
        if (!QNL_diagNetwork::HoldsEvidence(source, h)) continue;
        QNL_nodeValue* value = ValueOf(destination, h);
        if (!value) return -2;
        if (value->IsObserved()) continue; // propagated from an earlier copy
        if (int r = value->SetEvidence(ValueOf(source, h)->GetEvidence())) return r;
    }
    return 0;
}

int QNL_diagEngine::SetTargets(QNL_network& network, const std::vector<int>& nodes) {
    for (int node : nodes) {
        if (node < 0 || network.IsTarget(node) == 1) continue;
        if (int r = network.SetTarget(node)) return r;
    }
    return 0;
}

int QNL_diagEngine::PursuedNodes(std::vector<int>& out) const {
    out.clear();
    const QNL_intArray& pursued = owner->GetPursuedFaults();
    for (int i = 0; i < pursued.GetCount(); ++i)
        out.push_back(owner->GetFaults()[static_cast<std::size_t>(pursued[i])].node);
    return 0;
}

int QNL_diagEngine::Fail(int code) {
    owner->GetResults().clear();
    return code;
}

int QNL_diagEngine::PrepareTests(std::vector<int>& tests) {
    if (const int missing = owner->FirstMissingMandatory(); missing >= 0) {
        const char* id = owner->GetNetwork()->GetNode(missing)->GetId();
        return QNL_errorHandler::Instance().LogError(
            -2, std::string("Observation '") + (id != nullptr ? id : "") +
                    "' is mandatory and has no evidence; instantiate it before ranking tests");
    }
    if (int r = owner->CollectFaultsAndTests()) return r;
    owner->GetResults().clear();
    if (int r = CopyNetwork()) return r;
    QNL_network& source = *owner->GetNetwork();
    if (int r = CopyEvidence(source, second)) return r;
    if (int r = CopyEvidence(source, first)) return r;
    const QNL_intArray& list = owner->GetUnperformedTests();
    tests.assign(list.Items(), list.Items() + list.GetCount());
    for (int& t : tests) {
        QNL_nodeCost* cost = second.GetNode(t)->GetCost();
        if (!cost || cost->GetCosts().GetSize() == 0) continue;
        const QNL_intArray& parents = second.GetParents(t, 1);
        QNL_intArray fixed;
        for (int i = 0; i < parents.GetCount(); ++i) {
            QNL_nodeValue* value = ValueOf(second, parents[i]);
            fixed.Add(value && value->IsObserved() ? value->GetEvidence() : -1);
        }
        fixed.Add(0);
        if (cost->GetCosts().IsSliceFilledWith(kNotAvailable, fixed) == 1) t = -1;
    }
    first.ClearAllTargets();
    second.ClearAllTargets();
    return 0;
}

int QNL_diagEngine::GetTestCost(int test, QNL_network& network, double& cost) {
    cost = 0.0;
    QNL_node* node = network.GetNode(test);
    QNL_nodeCost* nodeCost = node ? node->GetCost() : nullptr;
    if (!nodeCost || nodeCost->GetCosts().GetSize() == 0) return 0;
    const QNL_Dmatrix& matrix = nodeCost->GetCosts();
    const QNL_intArray& parents = network.GetParents(test, 1);
    const int n = parents.GetCount();
    std::vector<int> fixed(static_cast<std::size_t>(n), -1);
    std::vector<int> freeParents;
    for (int i = 0; i < n; ++i) {
        QNL_nodeValue* value = ValueOf(network, parents[i]);
        if (value && value->IsObserved() && value->GetEvidence() >= 0) {
            fixed[static_cast<std::size_t>(i)] = value->GetEvidence();
        } else {
            freeParents.push_back(i);
        }
    }
    // A value may still read valid after evidence elsewhere was cleared, so update anyway.
    if (!freeParents.empty()) {
        for (int i : freeParents)
            if (network.IsTarget(parents[i]) != 1)
                if (int r = network.SetTarget(parents[i])) return r;
        if (int r = network.UpdateBeliefs()) return r;
    }
    // Every configuration of the free parents, weighted by the product of their beliefs.
    std::vector<int> sizes(static_cast<std::size_t>(n), 1);
    for (int i : freeParents)
        sizes[static_cast<std::size_t>(i)] = matrix.GetSizeOfDimension(i);
    std::vector<int> x(fixed);
    for (int i : freeParents)
        x[static_cast<std::size_t>(i)] = 0;
    std::vector<int> walk(freeParents.size(), 0), walkSizes;
    for (int i : freeParents)
        walkSizes.push_back(sizes[static_cast<std::size_t>(i)]);
    QNL_intArray coordinates;
    coordinates.SetSize(n + 1);
    coordinates.SetCount(n + 1);
    double sum = 0.0, weights = 0.0;
    do {
        double w = 1.0;
        for (std::size_t j = 0; j < freeParents.size(); ++j) {
            x[static_cast<std::size_t>(freeParents[j])] = walk[j];
            w *= Belief(network, parents[freeParents[j]], walk[j]);
        }
        for (int i = 0; i < n; ++i)
            coordinates[i] = x[static_cast<std::size_t>(i)];
        coordinates[n] = 0;
        const double* cell = matrix.CheckedSubscript(coordinates);
        if (!cell) return -2;
        if (*cell == kNotAvailable || w == 0.0) continue;
        sum += w * *cell;
        weights += w;
    } while (Advance(walk, walkSizes));
    cost = weights > 0.0 ? sum / weights : 0.0;
    return 0;
}

void QNL_diagEngine::AddTestResult(int test, double strength, double cost) {
    if (strength >= -1e-6 && strength < 0.0) strength = 0.0;
    if (cost < 0.0) cost = 0.0;
    double score = strength;
    if (cost > 0.0) score = strength - owner->GetAlpha() * cost;
    owner->GetResults().push_back({test, strength, cost, score});
}

void QNL_diagEngine::AddExcludedTestResult(int test) {
    const double s = test == -1 ? kNotAvailable : kExcluded;
    owner->GetResults().push_back({test, s, s, s});
}

int QNL_diagEngine::AddRelativeGainResult(int test, double before, double after) {
    double cost = 0.0;
    if (int r = GetTestCost(test, first, cost)) return r;
    AddTestResult(test, before != 0.0 ? (before - after) / before : 0.0, cost);
    return 0;
}

int QNL_diagEngine::PrepareGroupCosts() {
    QNL_network& source = *owner->GetNetwork();
    QNL_intArray groups;
    for (int h = source.GetFirstNode(); h >= 0; h = source.GetNextNode(h))
        if (source.HasTestGroupCost(h) == 1 && source.NumberOfChildren(h, 1) > 0) groups.Add(h);
    if (groups.GetCount() == 0) return 0;
    second.OrderNodesByCostArcs(groups);
    for (int i = 0; i < groups.GetCount(); ++i) {
        const int g = groups[i];
        QNL_nodeValue* value = ValueOf(second, g);
        if (!value->IsObserved())
            if (int r = value->SetEvidence(1)) return r;
        QNL_intArray descendants;
        second.GetCostDescendants(g, descendants);
        bool performed = false;
        for (int j = 0; j < descendants.GetCount() && !performed; ++j)
            performed = QNL_diagNetwork::DiagnosisType(second, descendants[j]) ==
                            QNL_diagNetwork::OBSERVATION &&
                        QNL_diagNetwork::HoldsEvidence(second, descendants[j]);
        if (performed) continue;
        double cost = 0.0;
        if (int r = GetTestCost(g, second, cost)) return r;
        const QNL_intArray& children = second.GetChildren(g, 1);
        for (int j = 0; j < children.GetCount(); ++j) {
            QNL_nodeCost* childCost = second.GetNode(children[j])->GetCost();
            if (!childCost) continue;
            QNL_doubleArray& cells = childCost->GetCosts().GetItems();
            for (int k = 0; k < cells.GetSize(); ++k)
                if (cells[k] != kNotAvailable) cells[k] += cost;
        }
    }
    return 0;
}

template <class Measure>
int QNL_diagEngine::Expectation(int test, bool recopy, Measure measure, double& expected) {
    expected = 0.0;
    const int outcomes = OutcomesOf(first, test);
    QNL_nodeValue* value = ValueOf(second, test);
    if (!value) return -2;
    for (int s = 0; s < outcomes; ++s) {
        // An outcome that cannot occur adds nothing, and as evidence it could not be updated.
        const double p = Belief(first, test, s);
        if (p <= 0.0) continue;
        if (recopy)
            if (int r = CopyEvidence(*owner->GetNetwork(), second)) return r;
        if (int r = value->SetEvidence(s)) return r;
        if (int r = second.UpdateBeliefs()) return r;
        double m = 0.0;
        if (int r = measure(s, m)) return r;
        expected += p * m;
        if (int r = value->ClearEvidence()) return r;
    }
    return 0;
}

int QNL_diagEngine::RankTestsSingleFault() {
    if (owner->GetPursuedFault() < 0) return 0;
    std::vector<int> tests;
    if (int r = PrepareTests(tests)) return r;
    // The pursued fault may have gone with its node when the lists were rebuilt.
    const int f = owner->GetPursuedFault();
    if (f < 0) return -2;
    const QNL_faultRecord fault = owner->GetFaults()[static_cast<std::size_t>(f)];
    if (owner->GetDSep()) {
        QNL_intArray descendants;
        owner->GetNetwork()->GetDescendants(fault.node, descendants);
        for (int& t : tests)
            if (t >= 0 && !descendants.IsInList(t)) t = -2;
    }
    if (int r = PrepareGroupCosts()) return Fail(r);
    std::vector<int> targets(tests);
    targets.push_back(fault.node);
    if (int r = SetTargets(first, targets)) return Fail(r);
    if (int r = first.UpdateBeliefs()) return Fail(r);
    if (int r = SetTargets(second, {fault.node})) return Fail(r);
    const double h0 = BinaryEntropy(Belief(first, fault.node, fault.outcome));
    for (int t : tests) {
        if (t < 0) {
            AddExcludedTestResult(t);
            continue;
        }
        double hs = 0.0;
        int r = Expectation(
            t, false,
            [&](int, double& m) {
                m = BinaryEntropy(Belief(second, fault.node, fault.outcome));
                return 0;
            },
            hs);
        if (r) return Fail(r);
        double cost = 0.0;
        if ((r = GetTestCost(t, second, cost))) return Fail(r);
        AddTestResult(t, h0 != 0.0 ? std::fabs(h0 - hs) / h0 : 0.0, cost);
    }
    return 0;
}

int QNL_diagEngine::PrepareMultipleFaults(std::vector<int>& tests) {
    if (int r = PrepareTests(tests)) return r;
    std::vector<int> pursued;
    PursuedNodes(pursued);
    if (pursued.empty()) return -2;
    if (int r = SetTargets(first, pursued)) return r;
    if (int r = SetTargets(first, tests)) return r;
    if (int r = first.UpdateBeliefs()) return r;
    if (int r = SetTargets(second, pursued)) return r;
    if (owner->GetDSep()) {
        QNL_network& source = *owner->GetNetwork();
        std::vector<char> mask(static_cast<std::size_t>(std::max(source.GetLastNode() + 1, 0)), 0);
        QNL_intArray descendants;
        for (int node : pursued) {
            descendants.SetCount(0);
            source.GetDescendants(node, descendants);
            for (int i = 0; i < descendants.GetCount(); ++i)
                mask[static_cast<std::size_t>(descendants[i])] = 1;
        }
        for (int& t : tests)
            if (t >= 0 && !mask[static_cast<std::size_t>(t)]) t = -2;
    }
    return 0;
}

// The integer quotient makes c = 1 for every count of pursued faults that reaches here; it
// is kept because stored rankings were made with it.
double QNL_diagEngine::Marginals(QNL_network& network, int flags) const {
    const QNL_intArray& pursued = owner->GetPursuedFaults();
    const int n = pursued.GetCount();
    double sum = 0.0;
    if (flags & 64) {
        for (int i = 0; i < n; ++i) {
            const QNL_faultRecord& f = owner->GetFaults()[static_cast<std::size_t>(pursued[i])];
            const double d = Belief(network, f.node, f.outcome) - 0.5;
            sum += d * d;
        }
        return 4.0 / n * sum - 1.0;
    }
    const double c = 1.0 - static_cast<double>(1 / n);
    for (int i = 0; i < n; ++i) {
        const QNL_faultRecord& f = owner->GetFaults()[static_cast<std::size_t>(pursued[i])];
        const double p = Belief(network, f.node, f.outcome);
        double d = p - c;
        if (p > c) d *= n - 1;
        sum += d * d;
    }
    return sum / (n * c * c) - 1.0;
}

int QNL_diagEngine::RankTestsByMarginals(int flags) {
    if (owner->GetPursuedFaults().GetCount() == 0) return 0;
    std::vector<int> tests;
    if (int r = PrepareMultipleFaults(tests)) return r;
    if (owner->GetPursuedFaults().GetCount() < 2) return -2; // the measure needs two
    const double m0 = Marginals(first, flags);
    for (int t : tests) {
        if (t < 0) {
            AddExcludedTestResult(t);
            continue;
        }
        double mt = 0.0;
        int r = Expectation(
            t, false,
            [&](int, double& m) {
                m = Marginals(second, flags);
                return 0;
            },
            mt);
        if (r || (r = AddRelativeGainResult(t, m0, mt))) return Fail(r);
    }
    return 0;
}

std::vector<QNL_diagEngine::FaultGroup> QNL_diagEngine::GroupPursued(bool ascending) const {
    std::vector<FaultGroup> groups;
    const QNL_intArray& pursued = owner->GetPursuedFaults();
    for (int i = 0; i < pursued.GetCount(); ++i) {
        const QNL_faultRecord& f = owner->GetFaults()[static_cast<std::size_t>(pursued[i])];
        auto it = groups.begin();
        while (it != groups.end() && it->node != f.node)
            ++it;
        if (it == groups.end()) {
            FaultGroup g{f.node, OutcomesOf(*owner->GetNetwork(), f.node), {}};
            auto at = groups.end();
            if (ascending) {
                at = groups.begin();
                while (at != groups.end() && at->outcomes <= g.outcomes)
                    ++at;
            }
            it = groups.insert(at, g);
        }
        it->pursued.push_back(f.outcome);
    }
    return groups;
}

bool QNL_diagEngine::Matches(const std::vector<FaultGroup>& groups, const std::vector<int>& x,
                             int mode) {
    int count = 0;
    for (std::size_t k = 0; k < groups.size(); ++k)
        for (int o : groups[k].pursued)
            if (o == x[k]) ++count;
    if (mode == 1) return count == 1;
    if (mode == 2) return count == static_cast<int>(groups.size());
    return count >= 1;
}

double QNL_diagEngine::ProductEntropy(QNL_network& network, const std::vector<FaultGroup>& groups,
                                      int mode) const {
    std::vector<int> x(groups.size(), 0), sizes;
    for (const FaultGroup& g : groups)
        sizes.push_back(g.outcomes);
    double e = 0.0, total = 0.0;
    do {
        if (!Matches(groups, x, mode)) continue;
        double p = 1.0;
        for (std::size_t k = 0; k < groups.size(); ++k)
            p *= Belief(network, groups[k].node, x[k]);
        e += PlogP(p);
        total += p;
    } while (Advance(x, sizes));
    return e + PlogP(1.0 - total);
}

int QNL_diagEngine::RankTestsByProductEntropy(int flags) {
    std::vector<int> tests;
    if (int r = PrepareMultipleFaults(tests)) return r;
    const std::vector<FaultGroup> groups = GroupPursued(false);
    const int mode = ModeOf(flags);
    const double e0 = ProductEntropy(first, groups, mode);
    for (int t : tests) {
        if (t < 0) {
            AddExcludedTestResult(t);
            continue;
        }
        double et = 0.0;
        int r = Expectation(
            t, true,
            [&](int, double& m) {
                m = ProductEntropy(second, groups, mode);
                return 0;
            },
            et);
        if (r || (r = AddRelativeGainResult(t, e0, et))) return Fail(r);
    }
    return 0;
}

// The chain rule: N_(m-1) .. N_1 are given outcomes one at a time in the second network,
// each weighed by its belief under the outcomes given so far; N_m's beliefs close each row.
int QNL_diagEngine::FillJoint(const std::vector<FaultGroup>& groups, const std::vector<int>& order,
                              std::size_t level, std::vector<int>& x, double weight,
                              std::vector<double>& table) {
    const std::size_t m = groups.size();
    if (level == order.size()) {
        std::size_t base = 0;
        for (std::size_t k = 0; k + 1 < m; ++k)
            base = base * static_cast<std::size_t>(groups[k].outcomes) +
                   static_cast<std::size_t>(x[k]);
        const FaultGroup& last = groups[m - 1];
        for (int j = 0; j < last.outcomes; ++j)
            table[base * static_cast<std::size_t>(last.outcomes) + static_cast<std::size_t>(j)] =
                weight * Belief(second, last.node, j);
        return 0;
    }
    const FaultGroup& g = groups[static_cast<std::size_t>(order[level])];
    QNL_nodeValue* value = ValueOf(second, g.node);
    const bool observed = value->IsObserved();
    std::vector<double> beliefs(static_cast<std::size_t>(g.outcomes));
    for (int k = 0; k < g.outcomes; ++k)
        beliefs[static_cast<std::size_t>(k)] = Belief(second, g.node, k);
    for (int k = 0; k < g.outcomes; ++k) {
        x[static_cast<std::size_t>(order[level])] = k;
        const double p = beliefs[static_cast<std::size_t>(k)];
        if (p <= 0.0) continue; // the table was zeroed: these cells stay 0
        if (!observed) {
            if (int r = value->SetEvidence(k)) return r;
            if (int r = second.UpdateBeliefs()) return r;
        }
        if (int r = FillJoint(groups, order, level + 1, x, weight * p, table)) return r;
        if (!observed) {
            if (int r = value->ClearEvidence()) return r;
        }
    }
    return 0;
}

int QNL_diagEngine::JointTable(const std::vector<FaultGroup>& groups, std::vector<double>& table) {
    std::size_t cells = 1;
    for (const FaultGroup& g : groups)
        cells *= static_cast<std::size_t>(g.outcomes);
    table.assign(cells, 0.0);
    std::vector<int> order;
    for (std::size_t k = groups.size() - 1; k-- > 0;)
        order.push_back(static_cast<int>(k));
    std::vector<int> x(groups.size(), 0);
    return FillJoint(groups, order, 0, x, 1.0, table);
}

int QNL_diagEngine::RankTestsByJointEntropy(int flags) {
    std::vector<int> tests;
    if (int r = PrepareMultipleFaults(tests)) return r;
    if (int r = second.UpdateBeliefs()) return Fail(r);
    const std::vector<FaultGroup> groups = GroupPursued(true);
    const int mode = ModeOf(flags);
    std::vector<double> joint;
    if (int r = JointTable(groups, joint)) return Fail(r);
    std::vector<std::size_t> cells;
    std::vector<int> x(groups.size(), 0), sizes;
    for (const FaultGroup& g : groups)
        sizes.push_back(g.outcomes);
    std::size_t index = 0;
    do {
        if (Matches(groups, x, mode)) cells.push_back(index);
        ++index;
    } while (Advance(x, sizes));
    auto entropy = [&](const std::vector<double>& table) {
        double g = 0.0, total = 0.0;
        for (std::size_t c : cells) {
            g += PlogP(table[c]);
            total += table[c];
        }
        return g + PlogP(1.0 - total);
    };
    const double g0 = entropy(joint);
    for (int t : tests) {
        if (t < 0) {
            AddExcludedTestResult(t);
            continue;
        }
        double gt = 0.0;
        int r = Expectation(
            t, true,
            [&](int, double& m) {
                if (int code = JointTable(groups, joint)) return code;
                m = entropy(joint);
                return 0;
            },
            gt);
        if (r || (r = AddRelativeGainResult(t, g0, gt))) return Fail(r);
    }
    return 0;
}
