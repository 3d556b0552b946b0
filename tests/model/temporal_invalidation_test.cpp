#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/temporal_network.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"
#include "support/temporal_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using quarn_test::ArrayOf;
using quarn_test::FillRandom;
using quarn_test::RoundsUpTo;
using quarn_test::TestRandom;
using quarn_test::ValidValuesMatchUnrolling;

constexpr int kCpt = QNL_TYPE_CPT;

QNL_nodeValue* Value(QNL_network& net, int node) {
    return net.GetNode(node)->GetValue();
}

// Whether the network's findings have positive probability in the hand unrolling.
bool PossibleEvidence(QNL_network& net) {
    QNL_network hand;
    std::map<std::pair<int, int>, int> at;
    quarn_test::UnrollWithEvidence(net, hand, at);
    const quarn_test::Enumeration truth = quarn_test::Enumerate(hand);
    return truth.ok && truth.probabilityOfEvidence > 0.0;
}

// (kind, outcome) of every node's evidence: 1 a finding, 4 implied, 0 none.
std::vector<std::pair<unsigned, int>> EvidenceOf(QNL_network& net) {
    std::vector<std::pair<unsigned, int>> out;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_nodeValue* value = Value(net, h);
        out.emplace_back(value->GetFlags() &
                             (QNL_nodeValue::FLAG_EVIDENCE | QNL_nodeValue::FLAG_PROPAGATED),
                         value->IsObserved() ? value->GetEvidence() : -1);
    }
    return out;
}

QNL_cpt* Cpt(QNL_network& net, int node) {
    return static_cast<QNL_cpt*>(net.GetNode(node)->GetDefinition());
}

// The probability, in the hand unrolling, of the network's findings and one more.
double ProbabilityWith(QNL_network& net, int node, int slice, int outcome) {
    QNL_network hand;
    std::map<std::pair<int, int>, int> at;
    quarn_test::UnrollWithEvidence(net, hand, at);
    QNL_nodeValue* value = hand.GetNode(at.at({node, slice}))->GetValue();
    if (value->HasEvidence()) value->ClearEvidence();
    value->SetEvidence(outcome);
    const quarn_test::Enumeration truth = quarn_test::Enumerate(hand);
    EXPECT_TRUE(truth.ok) << truth.error;
    return truth.probabilityOfEvidence;
}

// N (3 outcomes) and P (plate, a temporal arc to itself) feed the terminal T through P's copy
// in the last slice. T = 0 exactly when N = 1 where P = 0, and is even where P = 1.
class SliceEvidenceTest : public quarn_test::NetworkFixture {
protected:
    void SetUp() override {
        NetworkFixture::SetUp();
        n = AddWithOutcomes(kCpt, "N", 3);
        p = Add(kCpt, "P");
        t = Add(kCpt, "T");
        ASSERT_EQ(net.SetTemporalType(p, 3) + net.SetTemporalType(t, 2), 0);
        ASSERT_EQ(net.AddTemporalArc(p, p, 1), 0);
        ASSERT_EQ(net.AddArc(p, t) + net.AddArc(n, t), 0);
        ASSERT_EQ(net.SetNumberOfSlices(3), 0);
        ASSERT_EQ(Def(n)->SetDefinition(ArrayOf({0.25, 0.5, 0.25})), 0);
        ASSERT_EQ(Def(p)->SetDefinition(ArrayOf({0.6, 0.4})), 0);
        ASSERT_EQ(net.GetTemporalNetwork().GetTemporalDefinition(p, 1)->SetDefinition(
                      ArrayOf({0.7, 0.3, 0.2, 0.8})),
                  0);
        ASSERT_EQ(Def(t)->SetDefinition(ArrayOf({0, 1, 1, 0, 0, 1, .5, .5, .5, .5, .5, .5})), 0);
    }
    int n = -1, p = -1, t = -1;
};

// Findings that the unrolled network allows, in the order given: none is refused, none
// implies an outcome through T's table from P's slice-0 finding, and the update gives the
// unrolled posteriors.
TEST_F(SliceEvidenceTest, FindingsOfOneSliceImplyNothingThroughATableFedByAnother) {
    struct Finding {
        const char* node;
        int outcome;
    };
    const std::vector<std::vector<Finding>> cases = {
        {{"P", 0}, {"T", 0}},           // N was implied at 1
        {{"P", 0}, {"T", 0}, {"N", 0}}, // and N = 0 then refused as a conflict
        {{"P", 0}, {"N", 0}, {"T", 0}}, // T = 0 refused as impossible
        {{"N", 0}, {"T", 0}, {"P", 0}}, // P implied at 1, then P = 0 refused
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE("case " + std::to_string(c));
        ASSERT_EQ(net.ClearAllEvidence(), 0);
        for (const Finding& f : cases[c]) {
            const int h = net.FindNode(f.node);
            ASSERT_GT(ProbabilityWith(net, h, 0, f.outcome), 0.0) << f.node;
            EXPECT_EQ(Value(net, h)->SetEvidence(f.outcome), 0) << f.node;
        }
        for (int h : {n, p, t})
            EXPECT_FALSE(Value(net, h)->HasPropagatedEvidence()) << h;
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        int compared = 0;
        EXPECT_TRUE(ValidValuesMatchUnrolling(net, &compared));
        EXPECT_EQ(compared, 3);
    }
}

// What the findings that feed a table imply is still implied: N's finding fixes T whatever
// P's copy in the last slice holds.
TEST_F(SliceEvidenceTest, FindingsOfTheFeedingSliceStillImply) {
    ASSERT_EQ(Def(t)->SetDefinition(ArrayOf({0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1})), 0);
    ASSERT_EQ(Value(net, n)->SetEvidence(0), 0);
    EXPECT_TRUE(Value(net, t)->HasPropagatedEvidence());
    EXPECT_EQ(Value(net, t)->GetEvidence(), 1);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_TRUE(ValidValuesMatchUnrolling(net));
}

// T in the plate reads P's own slice, so P's and N's findings imply T there; as a terminal it
// reads P's last slice, and what was implied goes.
TEST_F(SliceEvidenceTest, ATemporalTypeChangeDerivesImpliedEvidenceAgain) {
    ASSERT_EQ(net.SetTemporalType(t, 3), 0);
    ASSERT_EQ(Value(net, p)->SetEvidence(0), 0);
    ASSERT_EQ(Value(net, n)->SetEvidence(0), 0);
    ASSERT_TRUE(Value(net, t)->HasPropagatedEvidence());
    ASSERT_EQ(net.SetTemporalType(t, 2), 0);
    EXPECT_FALSE(Value(net, t)->IsObserved());
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_TRUE(ValidValuesMatchUnrolling(net));
}

// Edits after an update whose effect a walk over the plate's template graph does not see.
TEST(TemporalInvalidation, EditsLeaveNoStaleValueValid) {
    struct Case {
        const char* name;
        std::function<void(QNL_network&)> setup, edit;
    };
    // N normal; P, Q plate; T terminal; handles 0..3.
    const int n = 0, p = 1, q = 2, t = 3;
    auto temporalDefinition = [](QNL_network& net, int node) {
        return net.GetTemporalNetwork().GetTemporalDefinition(node, 1);
    };
    const std::vector<Case> cases = {
        {"temporal parent's table", [&](QNL_network& net) { net.AddTemporalArc(p, q, 1); },
         [&](QNL_network& net) {
             Cpt(net, p)->SetProbabilities(ArrayOf({0.05, 0.95}));
         }},
        {"temporal table", [&](QNL_network& net) { net.AddTemporalArc(p, q, 1); },
         [&](QNL_network& net) {
             static_cast<QNL_cpt*>(temporalDefinition(net, q))
                 ->SetProbabilities(ArrayOf({1, 0, 0.1, 0.9}));
         }},
        {"slice evidence on an observed node",
         [&](QNL_network& net) {
             net.AddTemporalArc(p, p, 1);
             Value(net, p)->SetEvidence(0);
         },
         [&](QNL_network& net) { net.SetSliceEvidence(p, 2, 1); }},
        {"slice count",
         [&](QNL_network& net) {
             net.AddTemporalArc(p, p, 1);
             Value(net, p)->SetEvidence(0);
         },
         [&](QNL_network& net) { net.SetNumberOfSlices(2); }},
        {"clearing slice evidence only",
         [&](QNL_network& net) {
             net.AddTemporalArc(p, p, 1);
             net.SetSliceEvidence(p, 1, 0);
         },
         [&](QNL_network& net) { net.ClearAllEvidence(); }},
        {"arc made relevant by a temporal arc",
         [&](QNL_network& net) {
             net.AddTemporalArc(p, q, 1);
             net.SetSliceEvidence(q, 1, 0);
         },
         [&](QNL_network& net) { net.AddArc(n, p); }},
        {"table of a plate node observed in slice 0",
         [&](QNL_network& net) {
             net.AddArc(p, t);
             Value(net, p)->SetEvidence(0);
         },
         [&](QNL_network& net) {
             Cpt(net, p)->SetProbabilities(ArrayOf({0.05, 0.95}));
         }},
        {"observed node leaving the plate",
         [&](QNL_network& net) { Value(net, p)->SetEvidence(1); },
         [&](QNL_network& net) { net.SetTemporalType(p, 0); }},
        {"deleting a node of temporal arcs only",
         [&](QNL_network& net) { net.AddTemporalArc(p, q, 1); },
         [&](QNL_network& net) { net.DeleteNode(p); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QNL_network net;
        TestRandom random(7);
        for (const char* id : {"N", "P", "Q", "T"})
            net.AddNode(kCpt, id);
        ASSERT_EQ(net.SetTemporalType(p, 3) + net.SetTemporalType(q, 3), 0);
        ASSERT_EQ(net.SetTemporalType(t, 2), 0);
        ASSERT_EQ(net.SetNumberOfSlices(3), 0);
        c.setup(net);
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
            FillRandom(net.GetNode(h)->GetDefinition(), random);
            if (net.GetTemporalType(h) == 3 && temporalDefinition(net, h) != nullptr)
                FillRandom(temporalDefinition(net, h), random);
        }
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        int compared = 0;
        ASSERT_TRUE(ValidValuesMatchUnrolling(net, &compared));
        ASSERT_EQ(compared, 4);
        c.edit(net);
        EXPECT_TRUE(ValidValuesMatchUnrolling(net));
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        EXPECT_TRUE(ValidValuesMatchUnrolling(net, &compared));
        EXPECT_EQ(compared, net.GetNumberOfNodes());
    }
}

// Random edits of small dynamic networks (tables with certain columns, so that findings imply
// outcomes), each followed by the comparison of every value held valid with the network
// unrolled by hand and enumerated; a refused finding must be one the unrolling rules out.
TEST(TemporalInvalidation, RandomEditsKeepValidValuesCurrent) {
    int compared = 0, updates = 0;
    for (const int round : RoundsUpTo(40)) {
        SCOPED_TRACE("round " + std::to_string(round));
        TestRandom random(5100 + round);
        QNL_network net;
        std::vector<int> nodes;
        for (const char* id : {"N", "P0", "P1", "T"})
            nodes.push_back(net.AddNode(kCpt, id));
        ASSERT_EQ(net.GetNode(nodes[0])->GetDefinition()->AddOutcome("Third"), 0);
        net.SetTemporalType(nodes[1], 3);
        net.SetTemporalType(nodes[2], 3);
        net.SetTemporalType(nodes[3], 2);
        net.AddArc(nodes[0], nodes[1]);
        net.AddArc(nodes[2], nodes[3]);
        net.AddArc(nodes[0], nodes[3]);
        net.AddTemporalArc(nodes[1], nodes[2], 1);
        net.SetNumberOfSlices(1 + random.Below(3));
        auto any = [&] {
            return nodes[static_cast<std::size_t>(random.Below(static_cast<int>(nodes.size())))];
        };
        auto plate = [&] {
            std::vector<int> out;
            for (int h : nodes)
                if (net.GetTemporalType(h) == 3) out.push_back(h);
            return out;
        };
        auto fillAll = [&] {
            for (int h : nodes)
                for (int k = 0; k <= 2; ++k) {
                    QNL_nodeDefinition* def =
                        k == 0 ? net.GetNode(h)->GetDefinition()
                               : net.GetTemporalNetwork().GetTemporalDefinition(h, k);
                    if (def != nullptr) FillRandom(def, random, 0.7);
                }
        };
        fillAll();
        for (int step = 0; step < 20; ++step) {
            const int h = any(), g = any();
            const std::vector<int> inPlate = plate();
            std::string edit;
            switch (random.Below(13)) {
            case 0: {
                const int order = random.Below(3);
                QNL_nodeDefinition* def =
                    order == 0 ? net.GetNode(h)->GetDefinition()
                               : net.GetTemporalNetwork().GetTemporalDefinition(h, order);
                if (def != nullptr) FillRandom(def, random, 0.7, true);
                edit = "table";
                break;
            }
            case 1:
                net.AddArc(h, g);
                edit = "arc added";
                break;
            case 2:
                if (net.GetParents(h).GetCount() > 0) net.RemoveArc(net.GetParents(h)[0], h);
                edit = "arc removed";
                break;
            case 3:
                if (net.AddTemporalArc(h, g, 1 + random.Below(2)) != 0) break;
                for (int k = 1; k <= 2; ++k)
                    if (auto* def = net.GetTemporalNetwork().GetTemporalDefinition(g, k))
                        FillRandom(def, random, 0.7, true);
                edit = "temporal arc";
                break;
            case 4:
                net.SetTemporalType(h, std::vector<int>{0, 2, 3}[random.Below(3)]);
                edit = "temporal type";
                break;
            case 5: {
                if (inPlate.empty()) break;
                const int x = inPlate[static_cast<std::size_t>(
                    random.Below(static_cast<int>(inPlate.size())))];
                const int slice = random.Below(net.GetNumberOfSlices());
                const int outcome = random.Below(2);
                if (random.Below(3) == 0) {
                    net.ClearSliceEvidence(x, slice);
                } else if (net.SetSliceEvidence(x, slice, outcome) != 0) {
                    EXPECT_EQ(ProbabilityWith(net, x, slice, outcome), 0.0) << "slice evidence";
                }
                edit = "slice evidence";
                break;
            }
            case 6:
            case 11:
            case 12: {
                // Most findings go to a terminal node or its parents, where slices meet.
                int x = h;
                for (int y : nodes) {
                    if (net.GetTemporalType(y) != 2 || random.Below(4) == 0) continue;
                    const QNL_intArray& parents = net.GetParents(y);
                    const int pick = random.Below(parents.GetCount() + 1);
                    x = pick < parents.GetCount() ? parents[pick] : y;
                }
                QNL_nodeValue* value = Value(net, x);
                const int outcome =
                    random.Below(net.GetNode(x)->GetDefinition()->GetNumberOfOutcomes());
                const bool replacing = value->HasEvidence();
                const std::vector<std::pair<unsigned, int>> before = EvidenceOf(net);
                if (value->HasEvidence() && random.Below(3) == 0) {
                    value->ClearEvidence();
                } else if (value->SetEvidence(outcome) != 0) {
                    EXPECT_EQ(ProbabilityWith(net, x, 0, outcome), 0.0) << "evidence refused";
                    // A refused finding changes no evidence: a replaced one stays, and so does
                    // every implied one.
                    if (replacing) {
                        EXPECT_EQ(EvidenceOf(net), before) << "refused replacement";
                    }
                }
                edit = "evidence";
                break;
            }
            case 8:
                net.SetNumberOfSlices(1 + random.Below(3));
                edit = "slice count";
                break;
            case 9:
                if (nodes.size() > 2 && random.Below(2)) {
                    net.DeleteNode(h);
                    nodes.erase(std::find(nodes.begin(), nodes.end(), h));
                } else if (nodes.size() < 4) {
                    nodes.push_back(net.AddNode(kCpt, nullptr));
                    net.SetTemporalType(nodes.back(), 3);
                    FillRandom(net.GetNode(nodes.back())->GetDefinition(), random, 0.7, true);
                }
                edit = "node deleted or added";
                break;
            default:
                net.ClearAllEvidence();
                edit = "all evidence cleared";
            }
            int count = 0;
            ASSERT_TRUE(ValidValuesMatchUnrolling(net, &count))
                << "after step " << step << ": " << edit;
            compared += count;
            // Most edits start from values an update made valid.
            if (random.Below(3) == 0) continue;
            if (net.UpdateBeliefs() == 0) {
                ++updates;
                for (int x : PossibleEvidence(net) ? nodes : std::vector<int>{})
                    EXPECT_TRUE(Value(net, x)->IsObserved() || Value(net, x)->IsValueValid())
                        << "unobserved node " << x << " left without a value by step " << step
                        << ": " << edit;
            }
            ASSERT_TRUE(ValidValuesMatchUnrolling(net, &count))
                << "after the update of step " << step << ": " << edit;
            compared += count;
        }
    }
    EXPECT_GT(updates, 30);
    EXPECT_GT(compared, 200);
}

} // namespace
