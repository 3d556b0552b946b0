#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace quarn_test;

// Every value an edit left marked valid holds what enumeration of the edited network gives.
// Under evidence of probability 0 nothing has a posterior to compare with.
void ExpectValidValuesCurrent(const QNL_network& net, const std::string& label) {
    const Enumeration truth = Enumerate(net);
    ASSERT_TRUE(truth.ok) << label << ": " << truth.error;
    for (int h = net.GetFirstNode(); h >= 0 && truth.probabilityOfEvidence > 0;
         h = net.GetNextNode(h)) {
        if (!ValueOf(net, h).IsValueValid()) continue;
        ExpectNear(Beliefs(net, h), truth.Posterior(h), 1e-9, label + " node " + std::to_string(h));
    }
}

enum Edit { REMOVE_ARC, DELETE_NODE, REORDER, TABLE, TYPE };

// Edits node h: removes a random arc into it, deletes it, reverses its outcomes, reverses its
// table (each column turns into another one reversed, so truth tables stay 0/1), or toggles
// it between a probability and a truth table, on odd draws by way of a decision, which
// drops its parents.
int Apply(QNL_network& net, int h, int edit, TestRandom& random) {
    QNL_node* node = net.GetNode(h);
    const QNL_intArray& parents = net.GetParents(h);
    std::vector<double> values = ValuesOf(node->GetDefinition());
    switch (edit) {
    case REMOVE_ARC:
        return parents.GetCount() == 0
                   ? 0
                   : net.RemoveArc(parents[random.Below(parents.GetCount())], h);
    case DELETE_NODE:
        return net.DeleteNode(h);
    case REORDER:
        return node->GetDefinition()->ReorderOutcomes(
            Reversed(node->GetDefinition()->GetNumberOfOutcomes()));
    case TABLE:
        std::reverse(values.begin(), values.end());
        return static_cast<QNL_cpt*>(node->GetDefinition())->SetProbabilities(ArrayOf(values));
    default: {
        const int type = node->GetType() == QNL_TYPE_CPT ? QNL_TYPE_TRUTHTABLE : QNL_TYPE_CPT;
        const int viaDecision = random.Below(2) == 1 ? node->SetType(QNL_TYPE_LIST) : 0;
        return viaDecision != 0 ? viaDecision : node->SetType(type);
    }
    }
}

TEST(EditInvalidation, EditsAtObservedOrReorderedNodesLeaveNoStaleValidValue) {
    struct Case {
        int observed; // position in the chain A -> B -> C, -1 for none
        Edit edit;
        int at;
    };
    const Case cases[] = {{1, REMOVE_ARC, 1},  {2, REMOVE_ARC, 2}, {1, DELETE_NODE, 1},
                          {2, DELETE_NODE, 2}, {-1, REORDER, 0},   {2, REORDER, 1}};
    for (const Case& c : cases) {
        const std::string label = "edit " + std::to_string(c.edit) + " at " + std::to_string(c.at);
        QNL_network net;
        const int a = AddBinaryNode(net, "A", {}, {0.3});
        const int b = AddBinaryNode(net, "B", {a}, {0.9, 0.2});
        const int chain[] = {a, b, AddBinaryNode(net, "C", {b}, {0.7, 0.1})};
        if (c.observed >= 0) {
            ASSERT_EQ(ValueOf(net, chain[c.observed]).SetEvidence(0), 0) << label;
        }
        ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
        TestRandom random(1);
        ASSERT_EQ(Apply(net, chain[c.at], c.edit, random), 0) << label;
        ExpectValidValuesCurrent(net, label);
    }
}

TEST(EditInvalidation, ValuesLeftValidByRandomEditsAreCurrent) {
    for (int round = 0; round < 16 && !HasFailure(); ++round) {
        RandomNetworkSpec spec = RoundSpec(1400, round);
        spec.nodes = 3 + round % 6;
        spec.maxOutcomes = 3;
        QNL_network net;
        BuildRandomNetwork(net, spec);
        SetPossibleEvidence(net, spec.seed, 1 + round % 3);
        TestRandom random(spec.seed);
        for (int step = 0; step < 24 && net.GetNumberOfNodes() > 1 && !HasFailure(); ++step) {
            net.UpdateBeliefs();
            QNL_intArray nodes;
            net.GetAllNodes(nodes);
            const int h = nodes[random.Below(nodes.GetCount())];
            const int edit = random.Below(5);
            const std::string label = "round " + std::to_string(round) + " step " +
                                      std::to_string(step) + " edit " + std::to_string(edit);
            ASSERT_EQ(Apply(net, h, edit, random), 0) << label;
            ExpectValidValuesCurrent(net, label);
        }
    }
}

} // namespace
