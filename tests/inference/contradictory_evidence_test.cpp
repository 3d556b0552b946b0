#include "inference/bayesian_algorithms.h"
#include "inference/sampling_core.h"

#include "definitions/node_value.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

namespace {

using namespace quarn_test;

// A hidden parent with two copies as children, found at different outcomes: no outcome of
// the parent meets both findings. Notifications are off while they are set, so nothing
// refuses the second one and only the update can tell. Whichever copy the deterministic
// pass starts from, no algorithm may settle the parent from that copy and call it a belief:
// the samplers fail as for evidence no sample meets, the exact ones leave it not valid.
TEST(ContradictoryEvidenceTest, FindingsOnTwoCopiesOfAHiddenParentAreImpossible) {
    const char noSamples[] = "No useful samples have been generated for some of nodes.";
    // The exact algorithms treat it as any impossible evidence: no failure, nothing valid.
    for (int id = QNL_ALG_BN_CLUSTERING; id <= QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED; ++id) {
        if (id == QNL_ALG_BN_POLYTREE) continue; // it spreads a conflict, tested beside the trees
        const bool sampler = id != QNL_ALG_BN_CLUSTERING && id < QNL_ALG_BN_ELIMINATION_JOIN_TREE;
        for (int first : {0, 1}) {
            SCOPED_TRACE("algorithm " + std::to_string(id) + " first " + std::to_string(first));
            QNL_errorHandler::Instance().Flush();
            QNL_network network;
            const int parent = AddBinaryNode(network, "P", {}, {0.3});
            const int a = AddBinaryNode(network, "A", {parent}, {1.0, 0.0});
            const int b = AddBinaryNode(network, "B", {parent}, {1.0, 0.0});
            network.SetNotificationControl(0);
            ASSERT_EQ(ValueOf(network, a).SetEvidence(first), 0);
            ASSERT_EQ(ValueOf(network, b).SetEvidence(1 - first), 0);
            network.SetDefaultBNAlgorithm(id);
            network.SetNumberOfSamples(200);
            QNL_samplingRandom().Seed(1);
            EXPECT_EQ(network.UpdateBeliefs(), sampler ? -5 : 0);
            EXPECT_FALSE(ValueOf(network, parent).IsValueValid());
            EXPECT_EQ(LastMessage(), sampler ? noSamples : "");
        }
    }
    QNL_errorHandler::Instance().Flush();
}

} // namespace
