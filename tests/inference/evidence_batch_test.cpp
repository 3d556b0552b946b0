// Clearing all findings at once and the table pool of the join-tree cache must leave exactly
// what finding-by-finding edits and freshly allocated trees leave: flags, messages, beliefs.

#include "inference/join_tree_cache.h"

#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "support/beliefs.h"
#include "support/random_network.h"
#include "support/real_networks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using quarn_test::Messages;
using quarn_test::State;
using quarn_test::ValueOf;

// The same network state reached twice: `batch` clears all findings at once, `single` one
// finding at a time; both then update. Partial updates (targets) leave some values valid, so
// the invalidation walks show.
void ExpectSameClearing(QNL_network& batch, QNL_network& single, const std::string& label) {
    Messages();
    std::vector<int> findings;
    for (int h = single.GetFirstNode(); h >= 0; h = single.GetNextNode(h))
        if (ValueOf(single, h).HasEvidence()) findings.push_back(h);
    for (int h : findings)
        ValueOf(single, h).ClearEvidence();
    const std::vector<std::string> singleMessages = Messages();
    EXPECT_EQ(batch.ClearAllEvidence(), 0);
    EXPECT_EQ(Messages(), singleMessages) << label;
    ASSERT_EQ(State(batch), State(single)) << label;
    EXPECT_EQ(batch.UpdateBeliefs(), single.UpdateBeliefs()) << label;
    EXPECT_EQ(State(batch), State(single)) << label;
}

std::vector<quarn_test::RandomNetworkSpec> Specs() {
    std::vector<quarn_test::RandomNetworkSpec> specs;
    for (int round = 0; round < 60; ++round) {
        quarn_test::RandomNetworkSpec spec = quarn_test::RoundSpec(700, round);
        spec.nodes += 4;
        if (round % 2 == 0) spec.deterministicShare = 0.5;
        specs.push_back(spec);
    }
    return specs;
}

} // namespace

// Random networks, half of them with deterministic columns so that findings imply others:
// clearing all at once equals clearing one by one, whatever was updated before.
TEST(EvidenceBatchTest, ClearingAllAtOnceEqualsOneByOne) {
    for (const quarn_test::RandomNetworkSpec& spec : Specs()) {
        QNL_network batch, single;
        quarn_test::BuildRandomNetwork(batch, spec);
        quarn_test::BuildRandomNetwork(single, spec);
        const std::string label = "seed " + std::to_string(spec.seed);
        for (QNL_network* network : {&batch, &single}) {
            quarn_test::ObserveJointDraw(*network, 0.5, spec.seed * 3);
            // Some values valid, some not: a target set, then a full update and more findings.
            network->SetTarget(network->GetFirstNode());
            network->UpdateBeliefs();
            network->ClearAllTargets();
            if (spec.seed % 3 == 0) {
                network->UpdateBeliefs();
                quarn_test::ObserveJointDraw(*network, 0.3, spec.seed * 5);
            }
        }
        ASSERT_EQ(State(batch), State(single)) << label;
        ExpectSameClearing(batch, single, label);
    }
}

// Real networks, the deterministic ones included: the one-at-a-time and all-at-once clearing
// agree; updates from pooled tables, with the pool on and off, equal updates of fresh trees.
TEST(EvidenceBatchTest, RealNetworksClearAndUpdateFromThePool) {
    const std::string folder = quarn_test::RealNetworks() + "/";
    int read = 0;
    for (const char* file :
         {"dsc/alarm.dsc", "net/hailfinder.net", "xmlbif/pigs.xml", "xmlbif/munin.xml"}) {
        const std::string path = folder + file;
        if (!std::ifstream(path).good()) continue;
        const int format = std::string(file).rfind(".xml") != std::string::npos ? 6 : 0;
        QNL_network batch, single;
        ASSERT_EQ(batch.ReadFile(path.c_str(), format), 0) << path;
        ASSERT_EQ(single.ReadFile(path.c_str(), format), 0) << path;
        ++read;
        for (QNL_network* network : {&batch, &single}) {
            quarn_test::ObserveJointDraw(*network, 0.15, 17);
            ASSERT_EQ(network->UpdateBeliefs(), 0) << path;
        }
        ExpectSameClearing(batch, single, path);

        // Pool on (batch) and off (single): rebuilt trees take pooled storage or fresh.
        quarn::detail::JoinTreeCache& pooled = batch.GetJoinTreeCache();
        single.GetJoinTreeCache().SetMemoryLimit(0);
        for (std::uint64_t draw = 1; draw <= 2; ++draw) {
            for (QNL_network* network : {&batch, &single}) {
                network->ClearAllEvidence();
                quarn_test::ObserveJointDraw(*network, 0.1, 40 + draw);
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
    EXPECT_EQ(read, quarn_test::HaveSharedNetworks() ? 4 : 1) << folder;
}
