#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/oracle.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace quarn_test;

// Every value an edit left marked valid holds what enumeration of the edited network gives.
// Under evidence of probability 0 nothing has a posterior to compare with.
void ExpectValidValuesCurrent(const QNL_network& net, const std::string& label) {
    const Enumeration truth = Enumerate(net);
    ASSERT_TRUE(truth.ok) << label << ": " << truth.error;
    if (truth.probabilityOfEvidence == 0.0) return;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        if (!ValueOf(net, h).IsValueValid()) continue;
        const std::vector<double> got = Beliefs(net, h);
        const std::vector<double>& want = truth.Posterior(h);
        ASSERT_EQ(got.size(), want.size()) << label << " node " << h;
        for (std::size_t k = 0; k < want.size(); ++k)
            EXPECT_NEAR(got[k], want[k], 1e-9) << label << " node " << h << " outcome " << k;
    }
}

QNL_nodeDefinition* Def(QNL_network& net, int h) {
    return net.GetNode(h)->GetDefinition();
}

int Reverse(QNL_network& net, int h) {
    std::vector<int> order(static_cast<std::size_t>(Def(net, h)->GetNumberOfOutcomes()));
    std::iota(order.rbegin(), order.rend(), 0);
    QNL_intArray permutation;
    for (int k : order)
        permutation.Add(k);
    return Def(net, h)->ReorderOutcomes(permutation);
}

TEST(EditInvalidation, EditsAtObservedOrReorderedNodesLeaveNoStaleValidValue) {
    enum Edit { REMOVE_ARC, DELETE_NODE, REORDER };
    struct Case {
        const char* name;
        int observed; // position in the chain A -> B -> C, -1 for none
        Edit edit;
        int at; // the node edited; the arc removed is the one into it
    };
    const Case cases[] = {
        {"arc into an observed child removed", 1, REMOVE_ARC, 1},
        {"arc into an observed grandchild removed", 2, REMOVE_ARC, 2},
        {"observed child deleted", 1, DELETE_NODE, 1},
        {"observed grandchild deleted", 2, DELETE_NODE, 2},
        {"outcomes of a root reordered", -1, REORDER, 0},
        {"outcomes of a middle node reordered", 2, REORDER, 1},
    };
    for (const Case& c : cases) {
        QNL_network net;
        const int a = AddBinaryNode(net, "A", {}, {0.3});
        const int b = AddBinaryNode(net, "B", {a}, {0.9, 0.2});
        const int chain[] = {a, b, AddBinaryNode(net, "C", {b}, {0.7, 0.1})};
        if (c.observed >= 0) {
            ASSERT_EQ(ValueOf(net, chain[c.observed]).SetEvidence(0), 0) << c.name;
        }
        ASSERT_EQ(net.UpdateBeliefs(), 0) << c.name;
        const int at = chain[c.at];
        const int result = c.edit == REMOVE_ARC    ? net.RemoveArc(chain[c.at - 1], at)
                           : c.edit == DELETE_NODE ? net.DeleteNode(at)
                                                   : Reverse(net, at);
        ASSERT_EQ(result, 0) << c.name;
        ExpectValidValuesCurrent(net, c.name);
    }
}

// Random edits of random networks with evidence; after each, the values still marked valid
// must be those of a fresh update.
TEST(EditInvalidation, ValuesLeftValidByRandomEditsAreCurrent) {
    for (int round = 0; round < 16; ++round) {
        RandomNetworkSpec spec = RoundSpec(1400, round);
        spec.nodes = 3 + round % 6;
        spec.maxOutcomes = 3;
        QNL_network net;
        std::vector<int> nodes = BuildRandomNetwork(net, spec);
        SetPossibleEvidence(net, spec.seed, 1 + round % 3);
        TestRandom random(spec.seed);
        for (int step = 0; step < 24 && nodes.size() > 1; ++step) {
            net.UpdateBeliefs();
            const int h = nodes[static_cast<std::size_t>(random.Below(int(nodes.size())))];
            const QNL_intArray& parents = net.GetParents(h);
            const int kind = random.Below(6);
            switch (kind) {
            case 0:
                if (parents.GetCount() > 0) {
                    ASSERT_EQ(net.RemoveArc(parents[random.Below(parents.GetCount())], h), 0);
                }
                break;
            case 1:
                ASSERT_EQ(net.DeleteNode(h), 0);
                nodes.erase(std::find(nodes.begin(), nodes.end(), h));
                break;
            case 2:
                ASSERT_EQ(Reverse(net, h), 0);
                break;
            case 3: // arcs from lower to higher handles keep the graph acyclic
                net.AddArc(std::min(h, nodes[0]), std::max(h, nodes[0]));
                break;
            case 4: {
                const bool truth = Def(net, h)->GetType() == QNL_TYPE_TRUTHTABLE;
                const int outcomes = Def(net, h)->GetNumberOfOutcomes();
                QNL_doubleArray values;
                values.SetSize(Def(net, h)->GetSize());
                for (int i = 0; i < values.GetSize(); ++i)
                    values[i] = truth ? (i % outcomes == 0 ? 1.0 : 0.0) : 1.0 / outcomes;
                values[0] = truth ? values[0] : 0.5 / outcomes;
                values[1] += truth ? 0.0 : 0.5 / outcomes;
                ASSERT_EQ(dynamic_cast<QNL_cpt*>(Def(net, h))->SetProbabilities(values), 0);
                break;
            }
            default: { // through a decision, which drops the parents, and back
                const int type = Def(net, h)->GetType();
                const bool viaList = random.Below(2) == 0;
                if (viaList) {
                    ASSERT_EQ(net.GetNode(h)->SetType(QNL_TYPE_LIST), 0);
                }
                ASSERT_EQ(net.GetNode(h)->SetType(type == QNL_TYPE_CPT && !viaList
                                                      ? QNL_TYPE_TRUTHTABLE
                                                      : QNL_TYPE_CPT),
                          0);
            }
            }
            ExpectValidValuesCurrent(net, "round " + std::to_string(round) + " step " +
                                              std::to_string(step) + " edit " +
                                              std::to_string(kind) + " at " + std::to_string(h));
            if (HasFailure()) return;
        }
    }
}

} // namespace
