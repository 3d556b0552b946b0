#include "learning/em.h"

#include "definitions/node_value.h"
#include "inference/family_marginals.h"
#include "inference/relevance.h"
#include "learning/dataset.h"
#include "learning/learning_data.h"
#include "support/hidden_chain.h"
#include "support/network_builder.h"
#include "support/random_network.h"
#include "support/sampled_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

using namespace quarn_test;

std::vector<double> Table(QNL_network& net, int h) {
    return ValuesOf(net.GetNode(h)->GetDefinition());
}

std::map<int, std::vector<double>> Tables(QNL_network& net) {
    std::map<int, std::vector<double>> out;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        out[h] = Table(net, h);
    return out;
}

void SetProperty(QNL_network& net, int h, const char* name, const char* value) {
    ASSERT_EQ(net.GetNode(h)->GetInfo()->properties.AddProperty(name, value), 0);
}

// EM by enumerating every joint state of the network, with the run's stopping rule and
// maximisation: the reference for the expected counts of the join-tree path.
std::map<int, std::vector<double>> ReferenceEm(QNL_network& net, const QNL_dataset& data) {
    const std::vector<int> nodes = learning_test::Handles(net);
    std::map<int, std::vector<double>> tables = Tables(net);
    const std::map<int, std::vector<double>> start = tables;
    auto outcomes = [&](int h) { return net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes(); };
    auto offset = [&](int h, const std::vector<int>& state) {
        const QNL_Dmatrix* m = net.GetNode(h)->GetDefinition()->GetMatrix();
        const QNL_intArray& parents = net.GetParents(h);
        int at = state[static_cast<std::size_t>(h)];
        for (int i = 0; i < parents.GetCount(); ++i)
            at += state[static_cast<std::size_t>(parents[i])] * m->GetMultiplier(i);
        return at;
    };
    double previous = 0.0;
    for (int pass = 0; pass < 1000; ++pass) {
        std::map<int, std::vector<double>> counts;
        for (auto& [h, t] : tables)
            counts[h].assign(t.size(), 0.0);
        double current = 0.0;
        for (int r = 0; r < data.getNumberOfRecords(); ++r) {
            std::vector<int> state(static_cast<std::size_t>(net.GetTableSize()), 0);
            std::vector<std::pair<std::vector<int>, double>> joint;
            double pe = 0.0;
            for (bool more = true; more;) {
                bool consistent = true;
                for (int v = 0; v < data.getNumberOfVariables(); ++v) {
                    const int cell = data.getCell(v, r).i;
                    if (cell >= 0 && state[static_cast<std::size_t>(data.getNodeHandle(v))] != cell)
                        consistent = false;
                }
                if (consistent) {
                    double p = 1.0;
                    for (int h : nodes)
                        p *= tables[h][static_cast<std::size_t>(offset(h, state))];
                    joint.emplace_back(state, p);
                    pe += p;
                }
                more = false;
                for (std::size_t i = 0; i < nodes.size() && !more; ++i) {
                    int& s = state[static_cast<std::size_t>(nodes[i])];
                    more = ++s < outcomes(nodes[i]);
                    if (!more) s = 0;
                }
            }
            current += std::log(pe);
            for (const auto& [s, p] : joint)
                for (int h : nodes)
                    counts[h][static_cast<std::size_t>(offset(h, s))] += p / pe;
        }
        for (auto& [h, t] : tables) {
            const auto n = static_cast<std::size_t>(outcomes(h));
            for (std::size_t c = 0; c * n < t.size(); ++c) {
                double sum = 0.0;
                for (std::size_t k = 0; k < n; ++k)
                    sum += counts[h][c * n + k];
                for (std::size_t k = 0; k < n; ++k)
                    t[c * n + k] = sum != 0.0 ? counts[h][c * n + k] / sum : start.at(h)[c * n + k];
            }
        }
        const bool converged = pass > 0 && (current <= previous || previous / current < 1.0001);
        previous = current;
        if (converged) break;
    }
    return tables;
}

// Counts a pass's records and can cancel at a chosen call.
struct CountingProgress : QNL_emProgress {
    int calls = 0;
    int cancelAt = -1;
    bool Continue() override { return calls++ != cancelAt; }
};

class Em : public NetworkFixture {
protected:
    // A -> B with P(a0) = 0.3, P(b0|a0) = 0.9, P(b0|a1) = 0.2.
    void BuildTwoNode() {
        a = AddBinaryNode(net, "A", {}, {0.3});
        b = AddBinaryNode(net, "B", {a}, {0.9, 0.2});
    }
    QNL_dataset Records(const std::vector<std::pair<int, int>>& rows) {
        QNL_dataset data;
        data.addIntVariable("A", nullptr, -1);
        data.addIntVariable("B", nullptr, -1);
        data.setNodeHandle(0, a);
        data.setNodeHandle(1, b);
        for (auto [x, y] : rows)
            data.addRecord({QNL_IntCell(x), QNL_IntCell(y)});
        return data;
    }
    int a = -1, b = -1;
    QNL_em em{7};
};

TEST_F(Em, CompleteDataGivesNormalisedCountsWithinThreePasses) {
    BuildTwoNode();
    const QNL_dataset data = Records({{0, 0}, {0, 0}, {0, 1}, {1, 1}});
    QNL_emParams params;
    params.RandomizeParameters = false;
    CountingProgress progress;
    ASSERT_EQ(em.Learn(data, net, params, &progress), 0);
    ExpectNear(Table(net, a), {0.75, 0.25}, 1e-12, "A");
    ExpectNear(Table(net, b), {2.0 / 3, 1.0 / 3, 0.0, 1.0}, 1e-12, "B");
    EXPECT_LE(progress.calls, 3 * 4);

    // A parent configuration that never occurs keeps its start column.
    const std::vector<double> start = Table(net, b);
    ASSERT_EQ(em.Learn(Records({{0, 0}, {0, 1}, {0, 1}}), net, params), 0);
    ExpectNear(Table(net, b), {1.0 / 3, 2.0 / 3, start[2], start[3]}, 0.0, "unseen a1");

    // From a random start the same counts come out.
    params.RandomizeParameters = true;
    ASSERT_EQ(em.Learn(data, net, params), 0);
    ExpectNear(Table(net, b), {2.0 / 3, 1.0 / 3, 0.0, 1.0}, 1e-12, "B random start");
}

TEST_F(Em, ExpectedCountsMatchEnumerationWithMissingAndHiddenValues) {
    for (int round = 0; round < 8; ++round) {
        QNL_network network;
        RandomNetworkSpec spec;
        spec.seed = 40 + static_cast<std::uint64_t>(round);
        spec.nodes = 5;
        spec.maxParents = 1 + round % 3;
        spec.maxOutcomes = 3;
        // Deterministic columns make the network imply observations of its own.
        spec.deterministicShare = round >= 3 ? 0.4 : 0.0;
        const std::vector<int> nodes = BuildRandomNetwork(network, spec);
        // The last node is hidden on rounds 1, 3 and 5.
        std::vector<int> columns(nodes.begin(), nodes.end() - (round % 2));
        const QNL_dataset data = SampleDataSet(network, columns, 150, 0.3, spec.seed);
        const auto expected = ReferenceEm(network, data);
        QNL_emParams params;
        params.RandomizeParameters = false;
        ASSERT_EQ(em.Learn(data, network, params), 0) << "round " << round << LastMessage();
        for (const auto& [h, table] : expected)
            ExpectNear(Table(network, h), table, 1e-9,
                       "round " + std::to_string(round) + " node " + std::to_string(h));
        for (int h : nodes)
            EXPECT_FALSE(network.GetNode(h)->GetValue()->IsObserved());
    }
}

TEST_F(Em, FrozenTablesColumnsAndThePrior) {
    BuildTwoNode();
    const QNL_dataset data = Records({{0, 0}, {0, 1}, {0, 1}, {-1, 0}, {0, -1}});
    SetProperty(net, a, "QNL_NOLEARN", "ALL");
    const std::vector<double> frozenA = Table(net, a);
    ASSERT_EQ(em.Learn(data, net, QNL_emParams()), 0);
    EXPECT_EQ(Table(net, a), frozenA);

    // Columns 0 and 2 of a three-column table keep their start values, with or without the
    // random start.
    net.DeleteAllNodes();
    a = AddWithOutcomes(QNL_TYPE_CPT, "P", 3);
    b = AddBinaryNode(net, "C", {a}, {0.5, 0.5, 0.5});
    SetProperty(net, b, "QNL_NOLEARN", "0;2");
    std::vector<std::pair<int, int>> rows;
    for (int i = 0; i < 30; ++i)
        rows.emplace_back(i % 3, i % 2);
    const QNL_dataset cells = Records(rows);
    for (bool randomise : {false, true}) {
        const std::vector<double> before = Table(net, b);
        QNL_emParams params;
        params.RandomizeParameters = randomise;
        ASSERT_EQ(em.Learn(cells, net, params), 0);
        const std::vector<double> after = Table(net, b);
        EXPECT_EQ(after[0], before[0]);
        EXPECT_EQ(after[4], before[4]);
        EXPECT_EQ(after[5], before[5]);
        EXPECT_NEAR(after[2], 0.5, 1e-12);
    }

    // With a prior of 10 records: normalise(10 x start + counts).
    net.DeleteAllNodes();
    BuildTwoNode();
    QNL_emParams params;
    params.EqSampleSize = 10;
    ASSERT_EQ(em.Learn(Records({{0, 0}, {0, 0}, {0, 1}, {1, 1}}), net, params), 0);
    ExpectNear(Table(net, a), {(3 + 3.0) / 14, (7 + 1.0) / 14}, 1e-12, "A with prior");
    ExpectNear(Table(net, b), {(9 + 2.0) / 13, (1 + 1.0) / 13, (2 + 0.0) / 11, (8 + 1.0) / 11},
               1e-12, "B with prior");
}

TEST_F(Em, CancelledRunKeepsTheLastCompletedPass) {
    BuildTwoNode();
    const QNL_dataset data = Records({{0, 0}, {-1, 1}, {0, 1}, {1, -1}});
    const auto before = Tables(net);
    CountingProgress progress;
    progress.cancelAt = 0;
    ASSERT_EQ(em.Learn(data, net, QNL_emParams(), &progress), 0);
    EXPECT_EQ(Tables(net), before);

    // Cancelled in the second pass: the first pass's tables stay.
    progress = CountingProgress();
    progress.cancelAt = 5;
    QNL_emParams params;
    params.RandomizeParameters = false;
    ASSERT_EQ(em.Learn(data, net, params, &progress), 0);
    EXPECT_NE(Tables(net), before);
    EXPECT_NEAR(Table(net, b)[0] + Table(net, b)[1], 1.0, 1e-12);
}

TEST_F(Em, RefusalsLeaveTheNetworkAsItWas) {
    BuildTwoNode();
    const int c = AddBinaryNode(net, "C", {b}, {1.0, 1.0});
    SetProperty(net, c, "QNL_NOLEARN", "ALL");
    ASSERT_EQ(net.SetTarget(b), 0);
    QNL_dataset noHandle = Records({{0, 0}});
    noHandle.setNodeHandle(1, -1);
    QNL_dataset continuous = Records({{0, 0}});
    continuous.addFloatVariable("F", nullptr, 0.0f);
    continuous.setNodeHandle(2, c);
    QNL_dataset badCell = Records({{0, 0}, {0, 2}});
    // C is certain at its first outcome: a record observing the second cannot happen.
    QNL_dataset impossible = Records({{0, 0}, {0, 1}});
    impossible.addIntVariable("C", nullptr, -1);
    impossible.setNodeHandle(2, c);
    impossible.setCell(2, 1, QNL_IntCell(1));
    const struct {
        const QNL_dataset* data;
        int code;
        std::string message;
    } cases[] = {
        {&noHandle, -30, ""},
        {&continuous, -4, ""},
        {&badCell, -1, "em: column 'B' holds 2 in record 1, which is not an outcome of its node"},
        {&impossible, -1, "em: not all nodes are updated (deterministic relationships?)"},
    };
    const auto before = Tables(net);
    net.SetNotificationMask(net.GetNotificationMask() | 1);
    const int mask = net.GetNotificationMask();
    net.EnableCaseUpdates(true);
    for (const auto& k : cases) {
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(em.Learn(*k.data, net, QNL_emParams()), k.code) << k.message;
        EXPECT_EQ(LastMessage(), k.message);
        EXPECT_EQ(Tables(net), before) << k.message;
        EXPECT_TRUE(net.IsTarget(b));
        EXPECT_EQ(net.GetNumberOfTargets(), 1);
        EXPECT_EQ(net.GetNotificationMask(), mask);
        EXPECT_TRUE(net.CaseUpdatesEnabled());
        EXPECT_FALSE(net.GetNode(c)->GetValue()->IsObserved());
    }
}

TEST_F(Em, PassLimitFailsAndEmptyOrUnobservedDataChangeNothing) {
    BuildTwoNode();
    const auto before = Tables(net);
    EXPECT_EQ(QNL_em(7, 1).Learn(Records({{0, 0}, {1, 1}}), net, QNL_emParams()), -1);
    EXPECT_EQ(LastMessage(), "em: no convergence within the pass limit");
    EXPECT_EQ(Tables(net), before);
    QNL_emParams params;
    params.RandomizeParameters = false;
    ASSERT_EQ(em.Learn(Records({}), net, params), 0);
    EXPECT_EQ(Tables(net), before);
    ASSERT_EQ(em.Learn(Records({{-1, -1}, {-1, -1}}), net, params), 0);
    ExpectNear(Table(net, b), before.at(b), 1e-12, "all missing");
}

} // namespace

TEST_F(Em, DecisionsKeepTheirParents) {
    // Inference over a network with unordered decisions draws an arc between them; EM learns
    // tables and leaves the structure as it was, without utilities (a failed run) and with.
    BuildTwoNode();
    const int first = net.AddNode(QNL_TYPE_LIST, "D1");
    const int second = net.AddNode(QNL_TYPE_LIST, "D2");
    ASSERT_GE(second, 0);
    ASSERT_EQ(net.AddArc(a, first), 0);
    for (const bool withUtility : {false, true}) {
        if (withUtility) {
            ASSERT_GE(net.AddNode(QNL_TYPE_TABLE, "U"), 0);
        }
        QNL_dataset data = Records({{0, 0}, {1, 1}, {0, 1}, {-1, 0}});
        ASSERT_TRUE(data.addIntVariable("D2", nullptr, -1));
        data.setNodeHandle(2, second);
        for (int r = 0; r < data.getNumberOfRecords(); ++r)
            data.setCell(2, r, QNL_IntCell((r + 1) % 2));
        em.Learn(data, net, QNL_emParams());
        EXPECT_EQ(net.GetParents(first).GetCount(), 1) << withUtility;
        EXPECT_EQ(net.GetParents(second).GetCount(), 0) << withUtility;
        EXPECT_FALSE(net.IsRelated(first, second)) << withUtility;
    }
    QNL_errorHandler::Instance().Flush();
}

namespace {

// Cancels the run at the first record of its second pass: the tables then hold one
// maximisation from where they started.
struct OnePass : QNL_emProgress {
    int calls = 0;
    bool Continue() override { return calls++ == 0; }
};

} // namespace

// A record of thousands of findings has a probability below the smallest double; its
// expected counts are still those of exact inference. With one record, one pass from the true
// tables leaves the first hidden node's table at its posterior, which forward-backward gives.
TEST(EmLongRecords, ARecordWhoseProbabilityUnderflowsIsLearnedFrom) {
    for (int steps : {300, 1500}) {
        SCOPED_TRACE(steps);
        QNL_network net;
        const quarn_test::ChainSpec spec = quarn_test::AlternatingChains(1, steps);
        const quarn_test::ChainHandles h = quarn_test::BuildChains(net, spec);
        ASSERT_EQ(net.ClearAllEvidence(), 0);
        QNL_dataset data;
        std::vector<QNL_datasetCell> record;
        for (int t = 0; t < steps; ++t) {
            const int observed = h.observed[0][static_cast<std::size_t>(t)];
            ASSERT_TRUE(data.addIntVariable(net.GetNode(observed)->GetId(), nullptr, -1));
            ASSERT_TRUE(data.setNodeHandle(t, observed));
            record.push_back(QNL_IntCell(spec.finding(0, t)));
        }
        ASSERT_TRUE(data.addRecord(record));
        const quarn_test::ChainPosterior oracle = quarn_test::ForwardBackward(spec);
        EXPECT_EQ(steps > 1000, oracle.Evidence() == 0.0) << "the case no longer underflows";

        QNL_emParams params;
        params.RandomizeParameters = false;
        OnePass progress;
        QNL_em em(7);
        ASSERT_EQ(em.Learn(data, net, params, &progress), 0);
        const std::vector<double> first = Table(net, h.hidden[0][0]);
        ASSERT_EQ(first.size(), 2u);
        EXPECT_NEAR(first[0], oracle.hidden[0][0][0], 1e-9);
        EXPECT_NEAR(first[1], oracle.hidden[0][0][1], 1e-9);
    }
}

namespace {

// P(h[t-1] = i, h[t] = j | every finding) of a one-row chain by forward-backward, each step
// normalised: [t][2 i + j] for t >= 1.
std::vector<std::vector<double>> PairPosteriors(const quarn_test::ChainSpec& spec) {
    const std::size_t n = static_cast<std::size_t>(spec.steps);
    const std::size_t findings = spec.emission.size() / 2;
    auto emit = [&](std::size_t h, std::size_t t) {
        return spec.emission[h * findings +
                             static_cast<std::size_t>(spec.finding(0, static_cast<int>(t)))];
    };
    auto normalised = [](double a, double b) {
        return std::vector<double>{a / (a + b), b / (a + b)};
    };
    const std::vector<double>& A = spec.along;
    std::vector<std::vector<double>> f(n), g(n, {1.0, 1.0}), pairs(n);
    f[0] = normalised(spec.first[0] * emit(0, 0), spec.first[1] * emit(1, 0));
    for (std::size_t t = 1; t < n; ++t)
        f[t] = normalised((f[t - 1][0] * A[0] + f[t - 1][1] * A[2]) * emit(0, t),
                          (f[t - 1][0] * A[1] + f[t - 1][1] * A[3]) * emit(1, t));
    for (std::size_t t = n - 1; t-- > 0;)
        g[t] =
            normalised(A[0] * emit(0, t + 1) * g[t + 1][0] + A[1] * emit(1, t + 1) * g[t + 1][1],
                       A[2] * emit(0, t + 1) * g[t + 1][0] + A[3] * emit(1, t + 1) * g[t + 1][1]);
    for (std::size_t t = 1; t < n; ++t) {
        double sum = 0.0;
        for (std::size_t k = 0; k < 4; ++k)
            sum += pairs[t].emplace_back(f[t - 1][k / 2] * A[k] * emit(k % 2, t) * g[t][k % 2]);
        for (double& x : pairs[t])
            x /= sum;
    }
    return pairs;
}

} // namespace

// The expected counts of a long record: each hidden node's family joint, which
// forward-backward gives pair by pair. Each was looked for from the first clique of the tree
// on, so a record cost the square of its length; it is found among the few cliques that hold
// the family's rarest member.
TEST(EmLongRecords, FamilyJointsAreReadFromTheCliquesHoldingThemAlone) {
    constexpr int kSteps = 400;
    QNL_network net;
    const quarn_test::ChainSpec spec = quarn_test::AlternatingChains(1, kSteps);
    const quarn_test::ChainHandles h = quarn_test::BuildChains(net, spec);
    const std::vector<std::vector<double>> pairs = PairPosteriors(spec);
    QNL_componentList components;
    ASSERT_EQ(QNL_relevance::Reduce(net, true, false, components), 0);
    ASSERT_EQ(components.GetCount(), 1);
    QNL_relevanceComponent* component = components[0];
    quarn::detail::FamilyMarginals marginals(component);
    ASSERT_TRUE(marginals.Propagate());
    for (int t = 1; t < kSteps; ++t) {
        const int parent = component->FindNode(h.hidden[0][static_cast<std::size_t>(t) - 1]);
        const int self = component->FindNode(h.hidden[0][static_cast<std::size_t>(t)]);
        ASSERT_TRUE(parent >= 0 && self > parent) << t;
        // The parent's outcome steps by 2 in the table, the node's own by 1.
        std::vector<double> counts(4, 0.0);
        ASSERT_TRUE(marginals.AddJoint({{parent, 2}, {self, 1}}, 3.0, counts.data())) << t;
        for (std::size_t k = 0; k < 4; ++k)
            ASSERT_NEAR(counts[k], 3.0 * pairs[static_cast<std::size_t>(t)][k], 1e-9) << t;
    }
    // A chain's record is in at most three cliques.
    EXPECT_LE(marginals.GetCliquesCompared(), 3u * (kSteps - 1));
}
