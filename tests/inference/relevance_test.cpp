#include "inference/bayesian_algorithms.h"
#include "inference/clustering_join_tree.h"
#include "inference/graph_view.h"
#include "inference/join_tree_cache.h"
#include "inference/relevance.h"

#include "support/arcs.h"
#include "support/beliefs.h"
#include "support/gate_reference.h"
#include "support/hidden_chain.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"
#include "support/test_definition.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "definitions/logic_gates.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "definitions/noisy_max.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <gtest/gtest.h>

namespace {

using quarn_test::Arcs;

using quarn_test::AddNode;
using quarn_test::SetTable;

// The shape every reader of a component relies on: tables over the parents in order with
// the record last, links in both directions and inside the component, a target in it. With
// targets given, a record without children is a target or observed: barren ones are gone.
void ExpectWellFormed(QNL_relevanceComponent* component, bool targeted) {
    const QNL_graphView view(component);
    bool hasTarget = false;
    for (int r = 0; r < view.GetNumberOfRecords(); ++r) {
        const QNL_relevanceNode* record = component->GetRecord(r);
        hasTarget = hasTarget || record->IsTarget();
        EXPECT_EQ(record->GetPosition(), r);
        const QNL_Dmatrix* table = view.GetTable(r);
        ASSERT_NE(table, nullptr);
        const int parents = view.GetNumberOfParents(r);
        ASSERT_EQ(table->GetNumberOfDimensions(), parents + 1);
        EXPECT_EQ(table->GetSizeOfDimension(parents), view.GetNumberOfOutcomes(r));
        for (int i = 0; i < parents; ++i) {
            const int parent = view.GetParent(r, i);
            ASSERT_GE(parent, 0);
            EXPECT_EQ(table->GetSizeOfDimension(i), view.GetNumberOfOutcomes(parent));
            bool linked = false;
            for (int k = 0; k < view.GetNumberOfChildren(parent); ++k)
                linked = linked || view.GetChild(parent, k) == r;
            EXPECT_TRUE(linked) << "record " << r << " missing from its parent's children";
        }
        for (int k = 0; k < view.GetNumberOfChildren(r); ++k)
            EXPECT_GE(view.GetChild(r, k), 0);
        if (view.GetObservedOutcome(r) >= 0) {
            EXPECT_EQ(view.GetNumberOfChildren(r), 0);
        } else if (targeted && view.GetNumberOfChildren(r) == 0) {
            EXPECT_TRUE(record->IsTarget()) << "barren record " << r;
        }
    }
    EXPECT_TRUE(hasTarget);
}

class Relevance : public ::testing::Test {
protected:
    // X -> Y -> Z with P(X) = (0.3, 0.7).
    void BuildChain() {
        x = AddNode(net, "X");
        y = AddNode(net, "Y");
        z = AddNode(net, "Z");
        ASSERT_EQ(net.AddArc(x, y), 0);
        ASSERT_EQ(net.AddArc(y, z), 0);
        SetTable(net, x, {0.3, 0.7});
        SetTable(net, y, {0.9, 0.1, 0.2, 0.8});
        SetTable(net, z, {0.6, 0.4, 0.25, 0.75});
    }
    void Observe(int node, int outcome) {
        ASSERT_EQ(net.GetNode(node)->GetValue()->SetEvidence(outcome), 0);
    }
    int Reduce(bool cut, bool propagated) {
        return QNL_relevance::Reduce(net, cut, propagated, list);
    }
    std::vector<int> Handles(int component) {
        std::vector<int> out;
        for (int r = 0; r < list[component]->GetNumberOfRecords(); ++r)
            out.push_back(list[component]->GetRecord(r)->GetNodeHandle());
        return out;
    }

    QNL_network net;
    QNL_componentList list;
    int x = -1, y = -1, z = -1;
};

// A table that does not fit its parents is refused, with nothing listed.
TEST_F(Relevance, MisfitTableIsRefused) {
    ASSERT_EQ(Reduce(true, true), 0);
    EXPECT_EQ(list.GetCount(), 0); // an empty network
    BuildChain();
    ASSERT_EQ(net.GetNode(y)->GetDefinition()->GetMatrix()->InsertDimension(0, 3), 0);
    EXPECT_EQ(Reduce(true, true), -567);
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(Relevance, SamplingOrderTakesObservedRecordsByZeroShareThenAncestors) {
    const int u = AddNode(net, "U"), v = AddNode(net, "V"), t = AddNode(net, "T");
    const int o1 = AddNode(net, "O1"), o2 = AddNode(net, "O2");
    Arcs(net, {u, v}, t);
    ASSERT_EQ(net.AddArc(u, o1), 0);
    ASSERT_EQ(net.AddArc(v, o2), 0);
    SetTable(net, o1, {0.5, 0.5, 0.0, 1.0}); // a quarter of the cells are 0
    SetTable(net, o2, {0.5, 0.5, 0.2, 0.8});
    Observe(o1, 1);
    Observe(o2, 1);
    ASSERT_EQ(Reduce(false, false), 0);
    ASSERT_EQ(list.GetCount(), 1);
    ASSERT_EQ(Handles(0), (std::vector<int>{u, v, t, o1, o2}));
    // O2 goes to the front (U moves to its place), then O1 (V moves to its place): the
    // array is O2 O1 T V U, and each record follows its unlisted ancestors.
    ASSERT_EQ(list[0]->ListForSampling(), 0);
    EXPECT_EQ(Handles(0), (std::vector<int>{v, o2, u, o1, t}));
}

// A root whose sum into its child would leave the range of a double stays; the roots after it
// in the same pass are summed into their children as ever. Both ways of reducing: afresh, and
// in the storage a kept reduction holds.
TEST_F(Relevance, RootsAfterOneKeptForItsRangeAreStillCut) {
    const int r1 = AddNode(net, "R1"), a = AddNode(net, "A");
    const int r2 = AddNode(net, "R2"), b = AddNode(net, "B");
    ASSERT_EQ(net.AddArc(r1, a), 0);
    ASSERT_EQ(net.AddArc(r2, b), 0);
    // P(A = 0) = 1e-200 * 1e-200, below the smallest double.
    SetTable(net, r1, {1e-200, 1.0});
    SetTable(net, a, {1e-200, 1.0, 0.0, 1.0});
    SetTable(net, r2, {0.3, 0.7});
    SetTable(net, b, {0.9, 0.1, 0.2, 0.8});
    ASSERT_EQ(net.SetTarget(a), 0);
    ASSERT_EQ(net.SetTarget(b), 0);
    for (bool kept : {false, true}) {
        SCOPED_TRACE(kept ? "kept" : "afresh");
        QNL_componentList fresh;
        QNL_componentList* components = &list;
        if (kept) {
            quarn::detail::JoinTreeCache& cache = net.GetJoinTreeCache();
            cache.Clear();
            cache.Begin(net.GetStructureVersion(), 0);
            bool held = false;
            int code = 0;
            components = cache.Reduce(net, fresh, held, code);
            ASSERT_NE(components, nullptr) << code;
        } else {
            ASSERT_EQ(Reduce(true, true), 0);
        }
        std::vector<std::vector<int>> handles;
        for (int c = 0; c < components->GetCount(); ++c) {
            std::vector<int>& h = handles.emplace_back();
            for (int r = 0; r < (*components)[c]->GetNumberOfRecords(); ++r)
                h.push_back((*components)[c]->GetRecord(r)->GetNodeHandle());
            std::sort(h.begin(), h.end());
        }
        std::sort(handles.begin(), handles.end());
        EXPECT_EQ(handles, (std::vector<std::vector<int>>{{r1, a}, {b}}));
    }
}

// Runs the body on a thread with a small stack: recursion over a long chain would not fit.
void RunOnSmallStack(const std::function<void()>& body) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body)),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST_F(Relevance, LongChainsNeedNoDeepStack) {
    // Copies all the way down, created last-first so handle order runs against the arcs.
    constexpr int kLength = 6000;
    std::vector<int> chain(kLength);
    for (int i = kLength - 1; i >= 0; --i)
        chain[static_cast<std::size_t>(i)] = AddNode(net, ("C" + std::to_string(i)).c_str());
    for (std::size_t i = 1; i < chain.size(); ++i) {
        Arcs(net, {chain[i - 1]}, chain[i]);
        SetTable(net, chain[i], {1.0, 0.0, 0.0, 1.0});
    }
    net.SetNotificationControl(net.GetNotificationControl() &
                               ~QNL_network::NOTIFY_PROPAGATE_EVIDENCE);
    const int first = chain.front(), last = chain.back();
    int barren = 1, listed = 1, propagated = 1;
    RunOnSmallStack([&] {
        QNL_componentList local;
        // Everything below the target is barren.
        net.SetTarget(first);
        barren = QNL_relevance::Reduce(net, true, true, local);
        if (barren == 0 && (local.GetCount() != 1 || local[0]->GetNumberOfRecords() != 1))
            barren = 1;
        net.ClearAllTargets();
        // Everything in one component in reverse order, listed parents first.
        listed = QNL_relevance::Reduce(net, false, true, local);
        if (listed == 0) listed = local[0]->ListTopologically();
        if (listed == 0 && local[0]->GetRecord(0)->GetNodeHandle() != first) listed = 1;
        // Evidence at the top implies every copy.
        net.GetNode(first)->GetValue()->SetEvidence(1);
        net.SetTarget(last);
        propagated = QNL_relevance::Reduce(net, true, true, local);
        if (propagated == 0 && local.GetCount() != 0) propagated = 1;
    });
    EXPECT_EQ((std::vector<int>{barren, listed, propagated}), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(quarn_test::Beliefs(net, last), (std::vector<double>{0.0, 1.0}));
}

// The reduction must not change any answer: on random networks with random evidence and
// targets, every target's posterior from its component (by brute force) equals the exact one.
TEST_F(Relevance, ComponentsGiveTheExactPosteriorOfEveryTarget) {
    int deterministic = 0, cut = 0;
    for (std::uint64_t seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        QNL_network random;
        quarn_test::RandomNetworkSpec spec;
        spec.seed = seed;
        spec.nodes = 2 + static_cast<int>(seed % 9);
        spec.maxParents = 1 + static_cast<int>(seed % 3);
        spec.maxOutcomes = seed % 5 == 0 ? 4 : 3;
        spec.deterministicShare = seed % 3 == 0 ? 0.0 : (seed % 3 == 1 ? 0.3 : 0.7);
        const std::vector<int> nodes = quarn_test::BuildRandomNetwork(random, spec);
        // Now and then the network's own propagation is off, leaving the reduction to find
        // what the evidence implies.
        if (seed % 8 >= 4)
            random.SetNotificationControl(random.GetNotificationControl() &
                                          ~QNL_network::NOTIFY_PROPAGATE_EVIDENCE);
        quarn_test::SetPossibleEvidence(random, seed * 7919, static_cast<int>(seed % 5));
        quarn_test::TestRandom pick(seed * 31);
        std::vector<int> targets;
        for (int k = 0; k < static_cast<int>(seed % 3); ++k) {
            targets.push_back(nodes[static_cast<std::size_t>(pick.Below(spec.nodes))]);
            random.SetTarget(targets.back());
        }
        const std::vector<int> wanted = quarn_test::Unobserved(random, targets);
        if (!targets.empty() && wanted.empty()) continue;
        int recordsKept[2] = {0, 0};
        for (int mode = 0; mode < 4; ++mode) {
            const bool cutRoots = (mode & 1) != 0, usePropagated = (mode & 2) != 0;
            const std::string label =
                "cut " + std::to_string(cutRoots) + " propagated " + std::to_string(usePropagated);
            for (int h : nodes)
                random.GetNode(h)->GetValue()->SetValidFlag(false);
            QNL_componentList components;
            ASSERT_EQ(QNL_relevance::Reduce(random, cutRoots, usePropagated, components), 0);
            // A certainty written for a node without evidence was found by the reduction.
            for (int h : nodes)
                deterministic += random.GetNode(h)->GetValue()->IsValueValid() &&
                                 !random.GetNode(h)->GetValue()->IsObserved();
            for (int i = 0; i < components.GetCount(); ++i) {
                ExpectWellFormed(components[i], !targets.empty());
                recordsKept[cutRoots ? 1 : 0] += components[i]->GetNumberOfRecords();
                if (components[i]->GetNumberOfRecords() == 1) {
                    ASSERT_EQ(components[i]->GetRecord(0)->StoreMarginal(), 0);
                    continue;
                }
                QNL_graphView view(components[i]);
                ASSERT_TRUE(QNL_clusteringJoinTree(view).Update(nullptr, 0)) << label;
            }
            quarn_test::ExpectOracle(random, label, wanted);
        }
        cut += recordsKept[1] < recordsKept[0];
        if (HasFailure()) return;
    }
    // The run went through every kind of reduction.
    EXPECT_GT(deterministic, 20);
    EXPECT_GT(cut, 20);
}

using namespace quarn_test;

int ExtraRecords(QNL_network& net) {
    QNL_componentList list;
    EXPECT_EQ(QNL_relevance::Reduce(net, true, true, list), 0);
    int extras = 0;
    for (int c = 0; c < list.GetCount(); ++c)
        for (int r = 0; r < list[c]->GetNumberOfRecords(); ++r)
            if (list[c]->GetRecord(r)->GetNodeHandle() < 0) ++extras;
    return extras;
}

// Random networks where half the nodes are gates (noisy-MAX and noisy adders), noisy-MAX nodes
// observed at their lowest outcome, others at sampled outcomes: posteriors and the probability of
// evidence equal enumeration, with the decomposition off and on.
TEST(GateRelevance, DecompositionKeepsPosteriorsAndProbabilityOfEvidence) {
    int decomposed = 0;
    for (int round = 0; round < 40; ++round) {
        QNL_network net;
        RandomNetworkSpec spec = RoundSpec(700, round);
        spec.maxOutcomes = 3;
        BuildRandomNetwork(net, spec);
        TestRandom random(900 + round);
        const std::vector<int> gates = MixInGates(net, random, 0.6);
        SetPossibleEvidence(net, 50 + round, round % 3);
        for (int h : gates) {
            QNL_node* node = net.GetNode(h);
            if (node->GetType() != QNL_TYPE_NOISY_MAX || node->GetValue()->IsObserved() ||
                net.GetParents(h).GetCount() < 2 || random.Uniform() < 0.3)
                continue;
            ASSERT_EQ(
                node->GetValue()->SetEvidence(node->GetDefinition()->GetNumberOfOutcomes() - 1), 0);
        }
        const Enumeration truth = Enumerate(net);
        ASSERT_TRUE(truth.ok) << truth.error;
        for (const bool on : {false, true}) {
            const std::string label = "round " + std::to_string(round) + (on ? " on" : " off");
            net.SetNoisyMaxRelevance(on);
            if (on) decomposed += ExtraRecords(net);
            ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
            ExpectOracle(net, label);
            double p = -1.0;
            ASSERT_TRUE(net.CalcPropEvidence(p)) << label;
            EXPECT_NEAR(p, truth.probabilityOfEvidence,
                        1e-9 * std::max(1e-3, truth.probabilityOfEvidence))
                << label;
        }
    }
    EXPECT_GT(decomposed, 10);
}

// The network's setting switches the decomposition, a user property overrides it either way;
// Y keeps one unobserved parent, the other two stand under extra records.
TEST(GateRelevance, UserPropertyOverridesTheNetworkSetting) {
    const struct {
        bool setting;
        const char* property;
        int extras;
    } cases[] = {{false, nullptr, 0},
                 {true, nullptr, 2},
                 {true, "0", 0},
                 {false, "1", 2},
                 {false, "12abc", 2}};
    for (const auto& c : cases) {
        QNL_network net;
        const int y = net.AddNode(QNL_TYPE_NOISY_MAX, "Y");
        for (const char* id : {"A", "B", "C"})
            ASSERT_EQ(net.AddArc(net.AddNode(QNL_TYPE_CPT, id), y), 0);
        ASSERT_EQ(net.GetNode(y)->GetValue()->SetEvidence(1), 0);
        net.SetNoisyMaxRelevance(c.setting);
        if (c.property != nullptr)
            net.GetUserProperties().AddProperty("QNL_NOISYMAXRELEVANCE", c.property);
        EXPECT_EQ(ExtraRecords(net), c.extras) << (c.property ? c.property : "none");
    }
}

// A value carrying the marker, as whatever sets it would leave it, cuts its node from the
// parents: a gate then stands for its prior belief, baseline or leak; a probability table is
// refused once, with nothing listed.
class MarkedBelief : public QNL_beliefVector {
public:
    using QNL_beliefVector::QNL_beliefVector;
    QNL_nodeValue* CreateCopy() const override {
        auto* copy = new MarkedBelief(network, handle);
        copy->flags = FLAG_MARKER;
        return copy;
    }
};

TEST(GateRelevance, MarkedNodesStandForTheirOwnNumberOrAreRefused) {
    const struct {
        int parentType, type, code;
    } cases[] = {{QNL_TYPE_CPT, QNL_TYPE_NOISY_MAX, 0},
                 {QNL_TYPE_DEMORGAN, QNL_TYPE_DEMORGAN, 0},
                 {QNL_TYPE_CAST, QNL_TYPE_CAST, 0},
                 {QNL_TYPE_CPT, QNL_TYPE_CPT, -51},
                 {QNL_TYPE_CPT, QNL_TYPE_NOISY_ADDER, -51}};
    for (const auto& c : cases) {
        QNL_network net;
        const int y = net.AddNode(c.type, "Y");
        ASSERT_EQ(net.AddArc(net.AddNode(c.parentType, "X"), y), 0);
        QNL_nodeDefinition* definition = net.GetNode(y)->GetDefinition();
        double first = 0.0;
        if (auto* d = dynamic_cast<QNL_demorgan*>(definition))
            first = d->SetPriorBelief(0.3) == 0 ? 0.3 : -1.0;
        else if (auto* k = dynamic_cast<QNL_cast*>(definition))
            first = k->SetBaseline(0.7) == 0 ? 0.7 : -1.0;
        else if (auto* g = dynamic_cast<QNL_noisyMAX*>(definition))
            first = g->GetParameters()->Subscript(g->GetNumberOfColumns() * 2 - 2);
        const MarkedBelief marked(&net, y);
        ASSERT_EQ(net.GetNode(y)->CopyValue(&marked), 0);
        QNL_componentList list;
        QNL_errorHandler::Instance().Flush();
        const int result = QNL_relevance::Reduce(net, false, true, list);
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), c.code != 0) << c.type;
        QNL_errorHandler::Instance().Flush();
        ASSERT_EQ(result, c.code) << c.type;
        EXPECT_TRUE(c.code == 0 || list.GetCount() == 0) << c.type;
        for (int i = 0; i < list.GetCount(); ++i)
            for (int r = 0; r < list[i]->GetNumberOfRecords(); ++r) {
                const QNL_relevanceNode* record = list[i]->GetRecord(r);
                if (record->GetNodeHandle() != y) continue;
                EXPECT_EQ(record->GetNumberOfParents(), 0);
                ASSERT_EQ(record->GetTable()->GetSize(), 2);
                EXPECT_DOUBLE_EQ(record->GetTable()->Subscript(0), first) << c.type;
            }
    }
}

// A hidden chain with a finding per step, every belief checked against the forward-backward
// recursion and every finding's value against its certainty; the targets must come back.
class ChainDecomposition : public ::testing::Test {
protected:
    void Build(int steps) {
        spec = quarn_test::AlternatingChains(1, steps);
        chain = quarn_test::BuildChains(net, spec);
        truth = quarn_test::ForwardBackward(spec);
    }
    // Runs the algorithm from values made invalid; the clusterings it asked for and the
    // triangulations they ran.
    std::pair<std::uint64_t, std::uint64_t> Run(int algorithm) {
        quarn::detail::JoinTreeCache& cache = net.GetJoinTreeCache();
        cache.Clear();
        const std::uint64_t reductions = cache.GetReduceCount();
        const std::uint64_t triangulations = cache.GetTriangulationCount();
        const std::vector<int> targets = quarn_test::Targets(net);
        net.SetDefaultBNAlgorithm(algorithm);
        net.InvalidateValues();
        EXPECT_EQ(net.UpdateBeliefs(), 0);
        EXPECT_EQ(quarn_test::Targets(net), targets);
        for (int t = 0; t < spec.steps; ++t) {
            const std::size_t at = static_cast<std::size_t>(t);
            const std::vector<double> got = quarn_test::Beliefs(net, chain.hidden[0][at]);
            const std::vector<double>& want = truth.hidden[0][at];
            EXPECT_TRUE(ValueOf(net, chain.hidden[0][at]).IsValueValid()) << "step " << t;
            bool near = got.size() == want.size();
            for (std::size_t k = 0; near && k < want.size(); ++k)
                near = std::fabs(got[k] - want[k]) <= 1e-9;
            EXPECT_TRUE(near) << "step " << t;
            std::vector<double> certain(2, 0.0);
            certain[static_cast<std::size_t>(spec.finding(0, t))] = 1.0;
            EXPECT_EQ(quarn_test::Beliefs(net, chain.observed[0][at]), certain) << "step " << t;
        }
        return {cache.GetReduceCount() - reductions,
                cache.GetTriangulationCount() - triangulations};
    }

    QNL_network net;
    quarn_test::ChainSpec spec;
    quarn_test::ChainHandles chain;
    quarn_test::ChainPosterior truth;
};

// No tree writes a finding, so a finding left pending made a clustering of the whole chain
// per batch (batched) or per node (unbatched); and a chain over the attempts' limit, which
// every half of the target list needs whole, was triangulated again at every halving.
// Whatever the targets, one tree is built: one clustering when it fits, else one attempt per
// halving (the same chain refused at once), then the single node under the default cap.
TEST_F(ChainDecomposition, FindingsStayOutOfTheWorkAndARefusedChainIsNotTriedAgain) {
    constexpr int kSteps = 150; // 150 hidden nodes pending: eight halvings down to one
    Build(kSteps);
    enum Targets { NONE, HIDDEN, ALL };
    const struct {
        const char* label;
        int algorithm;
        Targets targets;
        const char* key;
        const char* limit;
        std::uint64_t reductions;
    } cases[] = {
        {"batched, no target", QNL_ALG_BN_RELEVANCE_DECOMPOSITION, NONE, nullptr, nullptr, 1},
        {"batched, every node", QNL_ALG_BN_RELEVANCE_DECOMPOSITION, ALL, nullptr, nullptr, 1},
        {"batched, hidden nodes", QNL_ALG_BN_RELEVANCE_DECOMPOSITION, HIDDEN, nullptr, nullptr, 1},
        // A batch of 32 over the limit: five halvings to a single node.
        {"batched over the limit", QNL_ALG_BN_RELEVANCE_DECOMPOSITION, NONE,
         "QNL_REL_DECOMP_THRESHOLD3", "64", 6},
        {"unbatched, no target", QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED, NONE, nullptr,
         nullptr, 1},
        {"unbatched over the limit", QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED, NONE,
         "QNL_REL_DECOMP_THRESHOLD2", "64", 9},
        {"unbatched over the limit, every node", QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED, ALL,
         "QNL_REL_DECOMP_THRESHOLD2", "64", 9},
        {"unbatched over the limit, hidden nodes", QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED,
         HIDDEN, "QNL_REL_DECOMP_THRESHOLD2", "64", 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        QNL_userProperties& properties = net.GetUserProperties();
        for (const char* key : {"QNL_REL_DECOMP_THRESHOLD2", "QNL_REL_DECOMP_THRESHOLD3"})
            if (properties.FindProperty(key) >= 0)
                properties.DeleteProperty(properties.FindProperty(key));
        if (c.key != nullptr) {
            ASSERT_GE(properties.AddProperty(c.key, c.limit), 0);
        }
        net.ClearAllTargets();
        for (int t = 0; t < kSteps && c.targets != NONE; ++t) {
            net.SetTarget(chain.hidden[0][static_cast<std::size_t>(t)]);
            if (c.targets == ALL) net.SetTarget(chain.observed[0][static_cast<std::size_t>(t)]);
        }
        const auto [reductions, triangulations] = Run(c.algorithm);
        EXPECT_EQ(reductions, c.reductions);
        EXPECT_EQ(triangulations, c.reductions == 1 ? 1u : 2u);
        if (HasFailure()) return;
    }
}

// With the network's own propagation off, the reduction finds what a finding's copy holds and
// writes its certainty; the copy, a lone record then, is dropped. Written by an attempt that
// failed under the limit, it is settled: left pending, each part of the list holding a copy
// would be solved again after the chain is.
TEST_F(ChainDecomposition, NodesTheReductionSettlesAreNotSolvedAgain) {
    net.SetNotificationControl(net.GetNotificationControl() &
                               ~QNL_network::NOTIFY_PROPAGATE_EVIDENCE);
    Build(100);
    std::vector<int> copies;
    for (int t = 0; t < spec.steps; ++t) {
        copies.push_back(AddNode(net, ("C" + std::to_string(t)).c_str()));
        ASSERT_EQ(net.AddArc(chain.observed[0][static_cast<std::size_t>(t)], copies.back()), 0);
        SetTable(net, copies.back(), {1.0, 0.0, 0.0, 1.0});
        ASSERT_FALSE(ValueOf(net, copies.back()).IsObserved());
    }
    ASSERT_GE(net.GetUserProperties().AddProperty("QNL_REL_DECOMP_THRESHOLD2", "64"), 0);
    const auto [reductions, triangulations] = Run(QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED);
    // 200 nodes pending: eight halvings down to one node.
    EXPECT_LE(reductions, 9u);
    EXPECT_EQ(triangulations, 2u);
    for (int t = 0; t < spec.steps; ++t) {
        std::vector<double> certain(2, 0.0);
        certain[static_cast<std::size_t>(spec.finding(0, t))] = 1.0;
        EXPECT_EQ(quarn_test::Beliefs(net, copies[static_cast<std::size_t>(t)]), certain);
    }
}
} // namespace
