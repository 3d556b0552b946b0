#include "definitions/noisy_adder.h"
#include "model/network.h"
#include "model/node.h"
#include "support/gate_reference.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using quarn_test::TestRandom;

class NoisyAdder : public quarn_test::NetworkFixture {
protected:
    QNL_noisyAdder* Adder(int node) { return dynamic_cast<QNL_noisyAdder*>(Def(node)); }
    // A parent X of the three-outcome gate, whose active column is (0.2, 0.3, 0.5).
    int AddActiveParent(int y) {
        const int x = Add(QNL_TYPE_CPT, "X");
        EXPECT_EQ(net.AddArc(x, y), 0);
        QNL_Dmatrix params(*Adder(y)->GetParameters());
        const double active[3] = {0.2, 0.3, 0.5};
        for (int k = 0; k < 3; ++k)
            params.Subscript(k) = active[k];
        EXPECT_EQ(Adder(y)->SetDefinition(params), 0);
        return x;
    }
    // A gate Y alone in the network under `parents` parents P0, P1, ... of 2 to
    // 1 + parentOutcomes outcomes each, with random parameters.
    int RandomGate(TestRandom& random, int parents, int outcomes, int parentOutcomes) {
        net.DeleteAllNodes();
        const int y = AddWithOutcomes(QNL_TYPE_NOISY_ADDER, "Y", outcomes);
        for (int i = 0; i < parents; ++i) {
            const std::string id = "P" + std::to_string(i);
            const int p =
                AddWithOutcomes(QNL_TYPE_CPT, id.c_str(), 2 + random.Below(parentOutcomes));
            EXPECT_EQ(net.AddArc(p, y), 0);
        }
        quarn_test::RandomizeNoisyAdder(*Adder(y), random);
        return y;
    }
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
    const int x = AddActiveParent(y);
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

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInfinity = std::numeric_limits<double>::infinity();

// The table computed apart from the definition: configurations by index, the last parent
// fastest; the average with every weight divided by the largest of its column (so extreme
// weights neither overflow nor vanish), NaN where the column's weights are all 0.
std::vector<double> WeightedAverage(const QNL_noisyAdder& adder) {
    const QNL_Dmatrix& params = adder.GetParameters();
    const int n = adder.GetNumberOfOutcomes(), blocks = adder.GetNumberOfBlocks();
    const std::vector<double>& w = adder.GetWeights();
    const int leak = adder.GetNumberOfColumns() - 1;
    int configurations = 1;
    for (int b = 0; b < blocks; ++b)
        configurations *= adder.GetBlockSize(b);
    std::vector<double> table;
    for (int c = 0; c < configurations; ++c) {
        std::vector<int> columns{leak};
        std::vector<double> weights{w.back()};
        for (int b = blocks - 1, rest = c, offset = adder.GetNumberOfColumns() - 1; b >= 0; --b) {
            offset -= adder.GetBlockSize(b);
            const int x = rest % adder.GetBlockSize(b);
            rest /= adder.GetBlockSize(b);
            if (x == adder.GetParentDistinguishedState(b)) continue;
            columns.push_back(offset + x);
            weights.push_back(w[static_cast<std::size_t>(b)]);
        }
        for (int k = 0; k < n; ++k) {
            if (adder.GetFunction() == QNL_NOISYADDER_SINGLEFAULT) {
                table.push_back(
                    params.Subscript((columns.size() == 2 ? columns[1] : leak) * n + k));
                continue;
            }
            const double largest = *std::max_element(weights.begin(), weights.end());
            double sum = 0, total = 0;
            for (std::size_t i = 0; i < columns.size(); ++i) {
                sum += params.Subscript(columns[i] * n + k) * (weights[i] / largest);
                total += weights[i] / largest;
            }
            table.push_back(largest > 0 ? sum / total : kNaN);
        }
    }
    return table;
}

// Zero half the time, else ordinary or extreme: near the largest double, tiny, subnormal.
double RandomWeight(TestRandom& random) {
    const double scales[] = {0, 0, 0, 0, 0, DBL_MAX / 2, 1e-300, 1e-315, 0.1, 3};
    return scales[random.Below(10)] * (1 + random.Uniform());
}

// Random gates under random weights, zeros included: every column is a distribution; where
// some weight of a column is positive it is the weighted average, elsewhere (no active parent,
// or every weight 0) the leak column itself.
TEST_F(NoisyAdder, EveryColumnIsADistributionAndTheWeightedAverageWhereItIsDefined) {
    TestRandom random(56);
    int undefined = 0, defined = 0;
    for (int round = 0; round < 300; ++round) {
        const int parents = 1 + random.Below(4);
        const int outcomes = 2 + random.Below(4);
        const int y = RandomGate(random, parents, outcomes, 3);
        QNL_noisyAdder& adder = *Adder(y);
        std::vector<double> weights;
        for (int i = 0; i <= parents; ++i)
            weights.push_back(RandomWeight(random));
        ASSERT_EQ(adder.SetWeights(weights), 0);

        const std::vector<double> table = Values(y), expected = WeightedAverage(adder);
        const int n = adder.GetNumberOfOutcomes();
        const double* leak = adder.GetParameters()->GetItems().Items() +
                             static_cast<std::size_t>(adder.GetNumberOfColumns() - 1) * n;
        ASSERT_EQ(table.size(), expected.size());
        for (std::size_t c = 0; c < table.size(); c += n) {
            const std::string label =
                "round " + std::to_string(round) + " column " + std::to_string(c / n);
            double sum = 0;
            for (int k = 0; k < n; ++k) {
                ASSERT_TRUE(table[c + k] >= 0.0 && table[c + k] <= 1.0) << label;
                sum += table[c + k];
            }
            EXPECT_NEAR(sum, 1.0, 1e-12) << label;
            if (std::isnan(expected[c])) {
                ++undefined;
                EXPECT_TRUE(std::equal(leak, leak + n, table.begin() + c)) << label;
                continue;
            }
            ++defined;
            for (int k = 0; k < n; ++k)
                EXPECT_NEAR(table[c + k], expected[c + k], 1e-12) << label << " outcome " << k;
        }
    }
    EXPECT_GT(undefined, 100);
    EXPECT_GT(defined, 1000);
}

// A parent's weight has no say in the columns where that parent is at its distinguished
// outcome: whether it is ordinary, extreme or 0, which decides whether the table's weights are
// rescaled at all, those columns keep the same bits. Other weights and the leak's are drawn
// ordinary or extreme, zeros included.
TEST_F(NoisyAdder, ColumnsWithAParentInactiveKeepTheirBitsWhateverItsWeight) {
    TestRandom random(71);
    const double parentWeights[] = {0.75, DBL_MAX / 3, 1e-310, 0, 3e-160};
    int compared = 0;
    for (int round = 0; round < 200; ++round) {
        const int parents = 2 + random.Below(4);
        const int outcomes = 2 + random.Below(3);
        const int y = RandomGate(random, parents, outcomes, 2);
        QNL_noisyAdder& adder = *Adder(y);
        std::vector<double> weights;
        for (int i = 0; i <= parents; ++i)
            weights.push_back(random.Below(2) == 0 ? 0.5 + random.Uniform() : RandomWeight(random));
        const int j = random.Below(parents);
        int stride = adder.GetNumberOfOutcomes();
        for (int b = parents - 1; b > j; --b)
            stride *= adder.GetBlockSize(b);
        std::vector<double> first;
        for (double w : parentWeights) {
            weights[static_cast<std::size_t>(j)] = w;
            ASSERT_EQ(adder.SetWeights(weights), 0);
            const std::vector<double> table = Values(y);
            if (first.empty()) first = table;
            for (std::size_t cell = 0; cell < table.size(); ++cell) {
                const int x = static_cast<int>(cell) / stride % adder.GetBlockSize(j);
                if (x != adder.GetParentDistinguishedState(j)) continue;
                ++compared;
                ASSERT_EQ(std::memcmp(&table[cell], &first[cell], sizeof(double)), 0)
                    << "round " << round << " cell " << cell << " weight " << w;
            }
        }
    }
    EXPECT_GT(compared, 5000);
}

// One parent, the leak's weight 0: with the parent at its distinguished outcome nothing is
// active and the column is the leak's; otherwise the parent's column alone.
TEST_F(NoisyAdder, ColumnWithoutActiveParentIsTheLeakWhateverTheWeights) {
    const int y = Add(QNL_TYPE_NOISY_ADDER, "Y");
    AddActiveParent(y);
    const struct {
        std::vector<double> weights, table;
    } cases[] = {
        {{1, 0}, {0.2, 0.3, 0.5, 0, 1, 0}},
        {{0, 0}, {0, 1, 0, 0, 1, 0}},
        {{0, 2}, {0, 1, 0, 0, 1, 0}},
        {{3, 1}, {0.15, 0.475, 0.375, 0, 1, 0}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Adder(y)->SetWeights(c.weights), 0);
        quarn_test::ExpectNear(Values(y), c.table, 1e-15,
                               std::to_string(c.weights[0]) + " " + std::to_string(c.weights[1]));
        EXPECT_TRUE(Adder(y)->CheckReadiness() == 0 && Def(y)->IsReady());
    }
}

// A weight below 0 could make a column negative and one that is not finite a column of NaN:
// refused with a message, the weights and the table as they were.
TEST_F(NoisyAdder, SetWeightsRefusesNegativeOrNonFiniteWeightsAndKeepsTheOldOnes) {
    const int y = Add(QNL_TYPE_NOISY_ADDER, "Y");
    ASSERT_EQ(net.AddArc(Add(QNL_TYPE_CPT, "X"), y), 0);
    QNL_noisyAdder& adder = *Adder(y);
    TestRandom random(5);
    quarn_test::RandomizeNoisyAdder(adder, random);
    const std::vector<double> weights = adder.GetWeights(), table = Values(y);
    const std::vector<double> refused[] = {
        {-1, 1}, {1, -1e-300}, {kNaN, 1}, {1, kInfinity}, {-kInfinity, 0}, {1}, {1, 1, 1},
    };
    for (const std::vector<double>& bad : refused) {
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(adder.SetWeights(bad), -2) << bad.size();
        const QNL_errorHandler& log = QNL_errorHandler::Instance();
        ASSERT_EQ(log.GetNumberOfErrors(), 1);
        EXPECT_EQ(std::string(log.GetMessage(0)).rfind("ERROR: Node [Y] : ", 0), 0u);
        EXPECT_EQ(adder.GetWeights(), weights);
        EXPECT_EQ(Values(y), table);
    }
    EXPECT_EQ(adder.SetWeights({-0.0, 0.0}), 0);
}

} // namespace
