// Findings set and cleared inside an evidence batch, walked for once at its end, and all
// findings cleared at once must leave exactly what the same edits leave one at a time: codes,
// messages, implied evidence, value validity and cells, beliefs and the probability of the
// evidence. Updates from the join-tree cache's table pool must equal updates of fresh trees.

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

std::vector<int> Apply(QNL_network& network, const std::vector<Edit>& edits) {
    std::vector<int> codes;
    for (const Edit& edit : edits) {
        QNL_nodeValue* value = edit.node < 0 ? nullptr : &ValueOf(network, edit.node);
        codes.push_back(value == nullptr   ? network.ClearAllEvidence()
                        : edit.outcome < 0 ? value->ClearEvidence()
                                           : value->SetEvidence(edit.outcome));
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

// Runs every script on `batch` inside a batch and on `single` edit by edit; then, after more
// findings, clears all findings of `batch` at once and those of `single` one by one. The two
// start equal and must stay so.
void ExpectSameEdits(QNL_network& batch, QNL_network& single, std::uint64_t seed, double share,
                     const std::string& label) {
    for (Script script : {Script::SET, Script::REPLACE, Script::CLEAR_SOME, Script::CHANGE,
                          Script::MIXED, Script::CLEAR_ALL_THEN_SET}) {
        const std::string at = label + " script " + std::to_string(static_cast<int>(script));
        const std::vector<Edit> edits = MakeEdits(single, script, share, seed++);
        Messages();
        const std::vector<int> singleCodes = Apply(single, edits);
        const std::vector<std::string> singleMessages = Messages();
        std::vector<int> batchCodes;
        {
            QNL_evidenceBatch open(batch);
            batchCodes = Apply(batch, edits);
        }
        EXPECT_EQ(batchCodes, singleCodes) << at;
        EXPECT_EQ(Messages(), singleMessages) << at;
        ASSERT_EQ(State(batch), State(single)) << at;
        if (script != Script::REPLACE) // else the next script starts from stale values
            ExpectSameUpdate(batch, single, at);
    }
    for (QNL_network* network : {&batch, &single})
        Prepare(*network, share, seed);
    const std::string at = label + " clearing all";
    ASSERT_EQ(State(batch), State(single)) << at;
    std::vector<Edit> findings;
    for (int h = single.GetFirstNode(); h >= 0; h = single.GetNextNode(h))
        if (ValueOf(single, h).HasEvidence()) findings.push_back({h, -1});
    Messages();
    Apply(single, findings);
    const std::vector<std::string> singleMessages = Messages();
    EXPECT_EQ(batch.ClearAllEvidence(), 0);
    EXPECT_EQ(Messages(), singleMessages) << at;
    ASSERT_EQ(State(batch), State(single)) << at;
    ExpectSameUpdate(batch, single, at);
}

} // namespace

// Random networks, half with deterministic columns so that findings imply others and some
// edits are refused; implied evidence propagated or not.
TEST(EvidenceBatchWalkTest, RandomNetworksEqualEditByEdit) {
    for (int round = 0; round < 120; ++round) {
        quarn_test::RandomNetworkSpec spec = quarn_test::RoundSpec(900, round);
        spec.nodes += 10;
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
        ExpectSameEdits(batch, single, spec.seed * 11, 0.4, label);
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
