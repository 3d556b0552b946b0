#include "definitions/noisy_adder.h"
#include "model/network.h"
#include "model/node.h"
#include "support/gate_reference.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using quarn_test::TestRandom;

void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                const std::string& label) {
    ASSERT_EQ(actual.size(), expected.size()) << label;
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-12) << label << " cell " << i;
}

class NoisyAdder : public quarn_test::NetworkFixture {
protected:
    QNL_noisyAdder* Adder(int node) { return dynamic_cast<QNL_noisyAdder*>(Def(node)); }
    std::string Check(int node) {
        char message[64];
        Adder(node)->CheckParameters(*Adder(node)->GetParameters(), message, sizeof message);
        return message;
    }
};

TEST_F(NoisyAdder, SmallGatesExpandAsWorkedByHand) {
    const int y = Add(QNL_TYPE_NOISY_ADDER, "Y");
    EXPECT_EQ(quarn_test::IdsOf(Def(y)), (std::vector<std::string>{"State0", "State1", "State2"}));
    EXPECT_EQ(Adder(y)->GetDistinguishedState(), 1);
    EXPECT_EQ(Values(y), (std::vector<double>{0, 1, 0}));
    const int x = Add(QNL_TYPE_CPT, "X");
    ASSERT_EQ(net.AddArc(x, y), 0);
    QNL_Dmatrix params(*Adder(y)->GetParameters());
    const double active[3] = {0.2, 0.3, 0.5};
    for (int k = 0; k < 3; ++k)
        params.Subscript(k) = active[k];
    ASSERT_EQ(Adder(y)->SetDefinition(params), 0);
    ExpectNear(Values(y), {0.1, 0.65, 0.25, 0, 1, 0}, "average");
    Adder(y)->SetFunction(QNL_noisyAdder::FUNCTION_SINGLE_FAULT);
    ExpectNear(Values(y), {0.2, 0.3, 0.5, 0, 1, 0}, "single fault");
    const int z = Add(QNL_TYPE_CPT, "Z");
    ASSERT_EQ(net.AddArc(z, y), 0);
    // Both parents active (each at outcome 0): the leak.
    const std::vector<double> both = Values(y);
    ExpectNear(std::vector<double>(both.begin(), both.begin() + 3), {0, 1, 0}, "two active");
    EXPECT_EQ(Adder(y)->SetDistinguishedState(3), -2);
    EXPECT_EQ(Adder(y)->AbsorbParentEvidence(x), -51);
    EXPECT_EQ(Adder(y)->MarginalizeParent(x), -51);
    Adder(y)->SetFunction(7);
    EXPECT_EQ(Adder(y)->CalculateCpt(), -2);
}

// After every edit the table equals a plain expansion of the parameters, parents of every
// table type (noisy adders included) keep their columns aligned, and the distinguished
// columns stay whole.
TEST_F(NoisyAdder, ExpansionFollowsEveryEditOnRandomGates) {
    using Edit = std::function<void(QNL_network&, int)>;
    const std::vector<std::pair<const char*, Edit>> edits = {
        {"none", [](QNL_network&, int) {}},
        {"insert parent outcome",
         [](QNL_network& n, int) { n.GetNode(0)->GetDefinition()->InsertOutcome(0, "new"); }},
        {"remove parent outcome",
         [](QNL_network& n, int) { n.GetNode(0)->GetDefinition()->RemoveOutcome(1); }},
        {"reorder parent outcomes",
         [](QNL_network& n, int) {
             QNL_intArray order;
             for (int i = n.GetNode(0)->GetDefinition()->GetNumberOfOutcomes(); i-- > 0;)
                 order.Add(i);
             n.GetNode(0)->GetDefinition()->ReorderOutcomes(order);
         }},
        {"reorder parents",
         [](QNL_network& n, int y) {
             QNL_intArray order;
             for (int i = n.GetParents(y).GetCount(); i-- > 0;)
                 order.Add(i);
             n.ReorderParents(y, order);
         }},
        {"remove adder parent", [](QNL_network& n, int y) { n.RemoveArc(0, y); }},
        {"remove own distinguished outcome",
         [](QNL_network& n, int y) {
             auto* a = dynamic_cast<QNL_noisyAdder*>(n.GetNode(y)->GetDefinition());
             a->RemoveOutcome(a->GetDistinguishedState());
             a->SetDistinguishedState(a->GetNumberOfOutcomes() - 1);
         }},
        {"insert own outcome",
         [](QNL_network& n, int y) { n.GetNode(y)->GetDefinition()->InsertOutcome(0, "top"); }},
        {"reorder own outcomes",
         [](QNL_network& n, int y) {
             QNL_intArray order;
             for (int i = n.GetNode(y)->GetDefinition()->GetNumberOfOutcomes(); i-- > 0;)
                 order.Add(i);
             n.GetNode(y)->GetDefinition()->ReorderOutcomes(order);
         }},
    };
    TestRandom random(31);
    for (int round = 0; round < 10; ++round) {
        for (const auto& [name, edit] : edits) {
            net.DeleteAllNodes();
            // Parent 0 is itself a noisy adder.
            const int first = AddWithOutcomes(QNL_TYPE_NOISY_ADDER, "P0", 3 + random.Below(2));
            const int second = AddWithOutcomes(QNL_TYPE_CPT, "P1", 2 + random.Below(3));
            const int y = AddWithOutcomes(QNL_TYPE_NOISY_ADDER, "Y", 3 + random.Below(2));
            ASSERT_EQ(net.AddArc(first, y), 0);
            ASSERT_EQ(net.AddArc(second, y), 0);
            quarn_test::RandomizeNoisyAdder(*Adder(y), random);
            const std::string label = std::string(name) + " round " + std::to_string(round);
            Values(y);
            edit(net, y);
            ExpectNear(Values(y), quarn_test::ReferenceNoisyAdder(*Adder(y)), label);
            // A removed outcome leaves its columns short of 1; the constraints still hold.
            EXPECT_EQ(Check(y), std::string(name).rfind("remove own", 0) == 0
                                    ? "Probabilities don't sum up to 1"
                                    : "Ok")
                << label;
        }
    }
}

TEST_F(NoisyAdder, NewOutcomeCountMovesTheDistinguishedColumns) {
    const int x = AddWithOutcomes(QNL_TYPE_CPT, "X", 3);
    const int y = Add(QNL_TYPE_NOISY_ADDER, "Y");
    ASSERT_EQ(net.AddArc(x, y), 0);
    ASSERT_EQ(net.RemoveArc(x, y), 0);
    ASSERT_EQ(Def(y)->SetNumberOfOutcomes(5), 0);
    ASSERT_EQ(net.AddArc(x, y), 0);
    EXPECT_EQ(Adder(y)->GetDistinguishedState(), 4);
    EXPECT_EQ(Check(y), "Ok");
    ASSERT_EQ(net.RemoveArc(x, y), 0);
    ASSERT_EQ(Def(y)->SetNumberOfOutcomes(quarn_test::StringsOf({"a", "b", "c", "d"})), 0);
    EXPECT_EQ(Adder(y)->GetDistinguishedState(), 3);
    EXPECT_EQ(Check(y), "Ok");
    EXPECT_EQ(Values(y), (std::vector<double>{0, 0, 0, 1}));
}

} // namespace
