#include "definitions/noisy_adder.h"
#include "model/network.h"
#include "model/node.h"
#include "support/gate_reference.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quarn_test::TestRandom;

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
    quarn_test::ExpectNear(Values(y), {0.1, 0.65, 0.25, 0, 1, 0}, 1e-12, "average");
    Adder(y)->SetFunction(QNL_NOISYADDER_SINGLEFAULT);
    quarn_test::ExpectNear(Values(y), {0.2, 0.3, 0.5, 0, 1, 0}, 1e-12, "single fault");
    const int z = Add(QNL_TYPE_CPT, "Z");
    ASSERT_EQ(net.AddArc(z, y), 0);
    // Both parents active (each at outcome 0): the leak.
    const std::vector<double> both = Values(y);
    quarn_test::ExpectNear(std::vector<double>(both.begin(), both.begin() + 3), {0, 1, 0}, 1e-12,
                           "two active");
    EXPECT_EQ(Adder(y)->SetDistinguishedState(3), -2);
    EXPECT_EQ(Adder(y)->AbsorbParentEvidence(x), -51);
    EXPECT_EQ(Adder(y)->MarginalizeParent(x), -51);
    Adder(y)->SetFunction(7);
    EXPECT_EQ(Adder(y)->CalculateCpt(), -2);
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
