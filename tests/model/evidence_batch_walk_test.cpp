// Findings set and cleared inside an evidence batch, walked for once at its end, and all
// findings cleared at once must leave exactly what the same edits leave one at a time: codes,
// messages, implied evidence, value validity and cells, beliefs and the probability of the
// evidence. Updates from the join-tree cache's table pool must equal updates of fresh trees.

#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "inference/join_tree_cache.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/random_network.h"
#include "support/real_networks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quarn_test::Messages;
using quarn_test::ObserveJointDraw;
using quarn_test::State;
using quarn_test::ValueOf;

// One edit: a finding set (outcome >= 0), cleared (outcome -1), or all cleared (node -1).
struct Edit {
    int node;
    int outcome;
};

// CHANGE clears findings and then sets them again (some at impossible or conflicting
// outcomes); MIXED clears held findings and sets others in one pass, so clears fall between
// sets that imply or conflict.
enum class Script { SET, CLEAR_SOME, REPLACE, CLEAR_ALL_THEN_SET, CHANGE, MIXED };

// Edits on about `share` of the nodes. Set outcomes come mostly from one joint draw, the
// rest at random, so that impossible outcomes and conflicts with implied evidence occur.
std::vector<Edit> MakeEdits(QNL_network& network, Script script, double share, std::uint64_t seed) {
    quarn_test::TestRandom random(seed);
    const std::vector<int> sample = quarn_test::ForwardSample(network, random);
    std::vector<Edit> edits, later;
    if (script == Script::CLEAR_ALL_THEN_SET) edits.push_back({-1, 0});
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        if (random.Uniform() >= share) continue;
        const bool held = ValueOf(network, h).HasEvidence();
        const int outcomes = network.GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
        const int outcome = random.Uniform() < 0.8 ? sample[h] : random.Below(outcomes);
        if (script == Script::CLEAR_SOME || (script == Script::MIXED && held)) {
            if (held) edits.push_back({h, -1});
        } else if (script == Script::CHANGE) {
            if (!held) continue;
            edits.push_back({h, -1});
            later.push_back({h, outcome});
        } else if (script != Script::REPLACE || held || random.Uniform() >= 0.5) {
            edits.push_back({h, outcome});
        }
    }
    edits.insert(edits.end(), later.begin(), later.end());
    return edits;
}

// With `walkEach`, the walk each edit owes is made before the next edit, as when a value is
// read between edits: the yardstick of edits walked one by one.
std::vector<int> Apply(QNL_network& network, const std::vector<Edit>& edits, bool walkEach) {
    std::vector<int> codes;
    for (const Edit& edit : edits) {
        QNL_nodeValue* value = edit.node < 0 ? nullptr : &ValueOf(network, edit.node);
        codes.push_back(value == nullptr   ? network.ClearAllEvidence()
                        : edit.outcome < 0 ? value->ClearEvidence()
                                           : value->SetEvidence(edit.outcome));
        if (walkEach) network.SettleEvidenceWalk();
    }
    return codes;
}

// The two networks, equal so far, update and must stay equal.
void ExpectSameUpdate(QNL_network& batch, QNL_network& single, const std::string& at) {
    EXPECT_EQ(batch.UpdateBeliefs(), single.UpdateBeliefs()) << at;
    ASSERT_EQ(State(batch), State(single)) << at;
    double batchEvidence = -1.0, singleEvidence = -1.0;
    EXPECT_EQ(batch.CalcPropEvidence(batchEvidence), single.CalcPropEvidence(singleEvidence));
    EXPECT_EQ(batchEvidence, singleEvidence) << at;
    Messages();
}

// Some findings, and some values valid while others are not (an update for one target).
void Prepare(QNL_network& network, double share, std::uint64_t seed) {
    ObserveJointDraw(network, share, seed);
    network.SetTarget(network.GetFirstNode());
    network.UpdateBeliefs();
    network.ClearAllTargets();
}

// Makes the table of an observed node with parents deterministic, each column certain of a
// random outcome, through the notifying setter: findings then often conflict (logged, both
// kept), and the findings a later batch clears or changes imply evidence of their own.
int MakeObservedTableDeterministic(QNL_network& network, std::uint64_t seed) {
    quarn_test::TestRandom random(seed);
    std::vector<int> candidates;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        if (ValueOf(network, h).HasEvidence() && network.GetParents(h).GetCount() > 0)
            candidates.push_back(h);
    if (candidates.empty()) return 0;
    const int h = candidates[static_cast<std::size_t>(
        random.Below(static_cast<int>(candidates.size())))];
    auto* table = dynamic_cast<QNL_cpt*>(network.GetNode(h)->GetDefinition());
    if (table == nullptr) return 0;
    const int outcomes = table->GetNumberOfOutcomes();
    QNL_doubleArray cells;
    for (int column = 0; column < table->GetSize() / outcomes; ++column) {
        const int certain = random.Below(outcomes);
        for (int k = 0; k < outcomes; ++k)
            cells.Add(k == certain ? 1.0 : 0.0);
    }
    return table->SetProbabilities(cells);
}

// Small enough to enumerate on every script.
bool Enumerable(const QNL_network& network) {
    double configurations = 1.0;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        configurations *= network.GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
    return configurations <= 4096.0;
}

// How far the batch must agree with the edits made one by one.
enum class Agreement {
    EXACT,
    // The same evidence everywhere, and each value the batch leaves valid valid in `single`
    // with the same cells. The batch may invalidate a value more: a node implied in the batch
    // after an earlier edit's walk met it unobserved lets the batch's one walk pass it in either
    // direction, and deterministic tables make that common.
    BATCH_INVALIDATES_MORE,
    // The same evidence everywhere, and the same cells where both are valid. Cleared one by
    // one, findings of probability 0 that propagation has not caught can imply evidence on the
    // way that clearing them together never does, and the walks from it invalidate more.
    EITHER_INVALIDATES_MORE
};

void ExpectAgree(QNL_network& batch, QNL_network& single, Agreement agreement,
                 const std::string& at) {
    const std::vector<std::string> b = State(batch), s = State(single);
    if (agreement == Agreement::EXACT) {
        ASSERT_EQ(b, s) << at;
        return;
    }
    ASSERT_EQ(b.size(), s.size()) << at;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (b[i] == s[i]) continue;
        const bool batchLess = s[i].rfind(b[i] + " valid", 0) == 0;
        const bool singleLess = b[i].rfind(s[i] + " valid", 0) == 0;
        EXPECT_TRUE(batchLess || (agreement == Agreement::EITHER_INVALIDATES_MORE && singleLess))
            << at << " node " << i;
    }
}

// Runs every script on `batch` inside a batch and on `single` edit by edit; then, after more
// findings, clears all findings of `batch` at once and those of `single` one by one. The two
// start equal and must stay so.
// With `conflicts`, every script follows a table edit that may bring findings into conflict,
// and the valid values the batch leaves are checked against enumeration too.
void ExpectSameEdits(QNL_network& batch, QNL_network& single, std::uint64_t seed, double share,
                     const std::string& label, bool conflicts = false) {
    const Agreement agreement = conflicts ? Agreement::BATCH_INVALIDATES_MORE : Agreement::EXACT;
    for (Script script : {Script::SET, Script::REPLACE, Script::CLEAR_SOME, Script::CHANGE,
                          Script::MIXED, Script::CLEAR_ALL_THEN_SET}) {
        const std::string at = label + " script " + std::to_string(static_cast<int>(script));
        if (conflicts) {
            Messages();
            const int singleCode = MakeObservedTableDeterministic(single, seed);
            const std::vector<std::string> singleMessages = Messages();
            EXPECT_EQ(MakeObservedTableDeterministic(batch, seed), singleCode) << at;
            EXPECT_EQ(Messages(), singleMessages) << at;
            ExpectAgree(batch, single, Agreement::BATCH_INVALIDATES_MORE, at);
        }
        const std::vector<Edit> edits = MakeEdits(single, script, share, seed++);
        Messages();
        const std::vector<int> singleCodes = Apply(single, edits, true);
        const std::vector<std::string> singleMessages = Messages();
        std::vector<int> batchCodes;
        {
            QNL_evidenceBatch open(batch);
            batchCodes = Apply(batch, edits, false);
        }
        EXPECT_EQ(batchCodes, singleCodes) << at;
        EXPECT_EQ(Messages(), singleMessages) << at;
        ExpectAgree(batch, single, agreement, at);
        if (conflicts && Enumerable(batch)) quarn_test::ExpectValidValuesCurrent(batch, at);
        if (script != Script::REPLACE) // else the next script starts from stale values
            ExpectSameUpdate(batch, single, at);
    }
    for (QNL_network* network : {&batch, &single})
        Prepare(*network, share, seed);
    const std::string at = label + " clearing all";
    ExpectAgree(batch, single, agreement, at);
    std::vector<Edit> findings;
    for (int h = single.GetFirstNode(); h >= 0; h = single.GetNextNode(h))
        if (ValueOf(single, h).HasEvidence()) findings.push_back({h, -1});
    Messages();
    Apply(single, findings, true);
    const std::vector<std::string> singleMessages = Messages();
    EXPECT_EQ(batch.ClearAllEvidence(), 0);
    // Findings of probability 0 that propagation has not caught can conflict in the implied
    // evidence of some subset left on the way when cleared one by one, and log that; cleared
    // together they pass through no subset.
    const std::vector<std::string> batchMessages = Messages();
    if (!conflicts) {
        EXPECT_EQ(batchMessages, singleMessages) << at;
    }
    ExpectAgree(batch, single,
                conflicts ? Agreement::EITHER_INVALIDATES_MORE : Agreement::EXACT, at);
    if (conflicts && Enumerable(batch)) quarn_test::ExpectValidValuesCurrent(batch, at);
    ExpectSameUpdate(batch, single, at);
}

} // namespace

// Random networks, half with deterministic columns so that findings imply others and some
// edits are refused; implied evidence propagated or not.
// Rounds from 120 on make tables deterministic between the batches, so that findings come to
// conflict (smaller networks, checked against enumeration as well).
TEST(EvidenceBatchWalkTest, RandomNetworksEqualEditByEdit) {
    for (const int round : quarn_test::RoundsUpTo(200)) {
        const bool conflicts = round >= 120;
        quarn_test::RandomNetworkSpec spec = quarn_test::RoundSpec(900, round);
        spec.nodes += conflicts ? 2 : 10;
        if (round % 2 == 0) spec.deterministicShare = 0.5;
        QNL_network batch, single;
        quarn_test::BuildRandomNetwork(batch, spec);
        quarn_test::BuildRandomNetwork(single, spec);
        for (QNL_network* network : {&batch, &single}) {
            if (round % 4 == 1)
                network->SetNotificationControl(network->GetNotificationControl() &
                                                ~QNL_network::NOTIFY_PROPAGATE_EVIDENCE);
            Prepare(*network, 0.3, spec.seed * 7);
        }
        const std::string label = "seed " + std::to_string(spec.seed);
        ASSERT_EQ(State(batch), State(single)) << label;
        ExpectSameEdits(batch, single, spec.seed * 11, 0.4, label, conflicts);
    }
}

// One real network (the random networks above catch the same faults, faster); then updates
// from pooled tables (`batch`) and from fresh storage (`single`, pool off) of rebuilt trees.
TEST(EvidenceBatchWalkTest, RealNetworkEqualEditByEditAndUpdateFromThePool) {
    const std::string path = quarn_test::RealNetworks() + "/dsc/alarm.dsc";
    QNL_network batch, single;
    ASSERT_EQ(batch.ReadFile(path.c_str(), 0), 0) << path;
    ASSERT_EQ(single.ReadFile(path.c_str(), 0), 0) << path;
    for (QNL_network* network : {&batch, &single})
        Prepare(*network, 0.1, 23);
    ExpectSameEdits(batch, single, 29, 0.15, path);

    quarn::detail::JoinTreeCache& pooled = batch.GetJoinTreeCache();
    single.GetJoinTreeCache().SetMemoryLimit(0);
    for (std::uint64_t draw = 1; draw <= 2; ++draw) {
        for (QNL_network* network : {&batch, &single}) {
            network->ClearAllEvidence();
            ObserveJointDraw(*network, 0.1, 40 + draw);
            network->GetJoinTreeCache().Clear();
            network->InvalidateValues();
            ASSERT_EQ(network->UpdateBeliefs(), 0) << path;
        }
        EXPECT_EQ(State(batch), State(single)) << path << " draw " << draw;
        EXPECT_EQ(single.GetJoinTreeCache().GetHeldCells(), 0u);
    }
    // The pool holds no more than its limit, and gives everything back when asked.
    pooled.Clear();
    const std::uint64_t held = pooled.GetHeldCells();
    EXPECT_GT(held, 0u) << path;
    pooled.SetMemoryLimit(held / 2);
    EXPECT_LE(pooled.GetHeldCells(), held / 2) << path;
    pooled.ReleaseMemory();
    EXPECT_EQ(pooled.GetHeldCells(), 0u) << path;
}

// A table edit brings two findings into conflict (both are kept); clearing one of them in a
// batch leaves it holding the other outcome implied by the first, and what is conditioned on
// it must not stay valid with the old outcome, as it does not when the clear is made alone.
TEST(EvidenceBatchWalkTest, ClearAfterAConflictLeavesNoStaleValue) {
    for (const bool batched : {false, true}) {
        QNL_network net;
        const int a = quarn_test::AddBinaryNode(net, "A", {}, {0.5});
        const int c = quarn_test::AddBinaryNode(net, "C", {a}, {0.5, 0.5});
        const int b = quarn_test::AddBinaryNode(net, "B", {a}, {0.9, 0.2});
        ASSERT_EQ(ValueOf(net, c).SetEvidence(1), 0);
        ASSERT_EQ(ValueOf(net, a).SetEvidence(0), 0);
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        Messages();
        QNL_doubleArray identity;
        for (double p : {1.0, 0.0, 0.0, 1.0})
            identity.Add(p);
        ASSERT_EQ(static_cast<QNL_cpt*>(net.GetNode(c)->GetDefinition())->SetProbabilities(identity),
                  0);
        const std::vector<std::string> conflicts = Messages();
        ASSERT_FALSE(conflicts.empty());
        for (const std::string& message : conflicts)
            EXPECT_EQ(message.rfind("-26 ERROR: conficting evidence between nodes", 0), 0u);
        EXPECT_TRUE(ValueOf(net, a).HasEvidence());
        if (batched) {
            QNL_evidenceBatch open(net);
            ASSERT_EQ(ValueOf(net, a).ClearEvidence(), 0);
        } else {
            ASSERT_EQ(ValueOf(net, a).ClearEvidence(), 0);
        }
        ASSERT_EQ(ValueOf(net, a).GetEvidence(), 1);
        if (ValueOf(net, b).IsValueValid()) {
            EXPECT_NEAR(ValueOf(net, b).GetMatrix()->Subscript(0), 0.2, 1e-12) << batched;
        }
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        EXPECT_NEAR(ValueOf(net, b).GetMatrix()->Subscript(0), 0.2, 1e-12) << batched;
    }
}

// Findings in conflict (a table edit made A = 0 and C = 1 impossible together, both kept) and
// evidence A implies through a deterministic table (G) all go when every finding is cleared at
// once, alone or in a batch that sets a finding after: no value stays valid from the findings
// gone, and what the findings set after condition on is what enumeration gives.
TEST(EvidenceBatchWalkTest, ClearAllAfterAConflictLeavesNoStaleValue) {
    for (const bool thenSet : {false, true}) {
        SCOPED_TRACE(thenSet);
        QNL_network net;
        const int a = quarn_test::AddBinaryNode(net, "A", {}, {0.5});
        const int c = quarn_test::AddBinaryNode(net, "C", {a}, {0.5, 0.5});
        const int g = quarn_test::AddBinaryNode(net, "G", {a}, {1.0, 0.0});
        const int b = quarn_test::AddBinaryNode(net, "B", {g}, {0.9, 0.2});
        const int d = quarn_test::AddBinaryNode(net, "D", {}, {0.3});
        const int e = quarn_test::AddBinaryNode(net, "E", {d}, {0.6, 0.1});
        for (const auto& [node, outcome] : {std::pair{c, 1}, {a, 0}, {e, 0}})
            ASSERT_EQ(ValueOf(net, node).SetEvidence(outcome), 0);
        ASSERT_EQ(ValueOf(net, g).GetEvidence(), 0);
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        Messages();
        QNL_doubleArray identity;
        for (double p : {1.0, 0.0, 0.0, 1.0})
            identity.Add(p);
        ASSERT_EQ(
            static_cast<QNL_cpt*>(net.GetNode(c)->GetDefinition())->SetProbabilities(identity), 0);
        ASSERT_FALSE(Messages().empty());
        if (thenSet) {
            QNL_evidenceBatch open(net);
            ASSERT_EQ(net.ClearAllEvidence(), 0);
            ASSERT_EQ(ValueOf(net, b).SetEvidence(1), 0);
        } else {
            ASSERT_EQ(net.ClearAllEvidence(), 0);
        }
        for (int h : {a, c, g, d, e})
            EXPECT_FALSE(ValueOf(net, h).IsObserved()) << h;
        quarn_test::ExpectValidValuesCurrent(net, "cleared");
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        quarn_test::ExpectOracle(net, "updated");
        EXPECT_TRUE(Messages().empty());
    }
}
