#include "definitions/node_value.h"
#include "definitions/noisy_adder.h"
#include "definitions/noisy_max.h"
#include "support/gate_reference.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

namespace {

using namespace quarn_test;

class NoisyMax : public NetworkFixture {
protected:
    QNL_noisyMAX* Gate(int node) { return dynamic_cast<QNL_noisyMAX*>(Def(node)); }
    QNL_Dmatrix Params(int node, std::vector<double> cells) {
        QNL_Dmatrix m(*Gate(node)->GetParameters());
        for (std::size_t i = 0; i < cells.size(); ++i)
            m.Subscript(static_cast<int>(i)) = cells[i];
        return m;
    }
    // A gate with parents of the given outcome counts and random parameters and strengths.
    int RandomGate(TestRandom& random, const std::vector<int>& parentOutcomes, int outcomes) {
        std::vector<int> parents;
        for (std::size_t i = 0; i < parentOutcomes.size(); ++i)
            parents.push_back(AddWithOutcomes(QNL_TYPE_CPT, ("P" + std::to_string(i)).c_str(),
                                              parentOutcomes[i]));
        const int y = AddWithOutcomes(QNL_TYPE_NOISY_MAX, "Y", outcomes);
        for (int p : parents)
            EXPECT_EQ(net.AddArc(p, y), 0);
        RandomizeNoisyMax(*Gate(y), random);
        return y;
    }
};

// One parent worked by hand; a matrix of another shape is refused and changes nothing;
// CheckParameters names the first broken rule.
TEST_F(NoisyMax, SmallGateExpandsAndChecksItsParameters) {
    const int x = Add(QNL_TYPE_CPT, "X");
    const int y = Add(QNL_TYPE_NOISY_MAX, "Y");
    ASSERT_EQ(net.AddArc(x, y), 0);
    ASSERT_EQ(Gate(y)->SetDefinition(Params(y, {0.8, 0.2, 0, 1, 0.1, 0.9})), 0);
    QNL_Dmatrix wrong;
    const int shape[2] = {2, 2};
    wrong.Setup(shape, 2);
    EXPECT_EQ(Gate(y)->SetDefinition(wrong), -2);
    EXPECT_EQ(Gate(y)->SetNumberOfOutcomes(1), -2);
    ExpectNear(Values(y), {0.82, 0.18, 0.1, 0.9}, 1e-12, "one parent");
    struct Case {
        std::vector<double> cells;
        int code;
        const char* message;
    } cases[] = {
        {{0.8, 0.2, 0, 1, 0.1, 0.9}, 0, "Ok"},
        {{1.1, -0.1, 0, 1, 0.1, 0.9}, -4, "Probability less than 0"},
        {{0.8, 0.2, 0, 0.9999999, 0.1, 0.9}, -4, "Constraints violeted"},
        {{0.8, 0.200006, 0, 1, 0.1, 0.9}, -4, "Probabilities don't sum up to 1"},
        {{}, -2, "Inappropirate Dmatrix size"},
    };
    char message[64];
    for (const Case& c : cases) {
        const QNL_Dmatrix m = c.cells.empty() ? QNL_Dmatrix() : Params(y, c.cells);
        EXPECT_EQ(Gate(y)->CheckParameters(m, message, sizeof message), c.code);
        EXPECT_STREQ(message, c.message);
    }
}

// The expanded table of both gates is a cache: after every kind of edit it must equal a plain
// expansion of the parameters as they are then. The adder's first parent is an adder too;
// its constraints still hold, but a removed own outcome leaves its columns short of 1.
TEST_F(NoisyMax, GateExpansionFollowsEveryEditOnRandomGates) {
    const std::vector<std::pair<const char*, std::function<void(int)>>> edits = {
        {"none", [](int) {}},
        {"insert parent outcome", [&](int) { Def(0)->InsertOutcome(1, "x"); }},
        {"append parent outcome", [&](int) { Def(0)->AddOutcome("last"); }},
        {"remove parent outcome",
         [&](int) { Def(0)->GetNumberOfOutcomes() > 2 && Def(0)->RemoveOutcome(1); }},
        {"reorder parent outcomes",
         [&](int) {
             QNL_intArray order = Reversed(Def(0)->GetNumberOfOutcomes());
             if (order.GetCount() > 2) std::swap(order[0], order[1]);
             Def(0)->ReorderOutcomes(order);
         }},
        {"reorder parents",
         [&](int y) { net.ReorderParents(y, Reversed(net.GetParents(y).GetCount())); }},
        {"remove parent", [&](int y) { net.RemoveArc(net.GetParents(y)[0], y); }},
        {"insert own outcome", [&](int y) { Def(y)->InsertOutcome(0, "top"); }},
        {"append own outcome", [&](int y) { Def(y)->AddOutcome("bottom"); }},
        {"reorder own outcomes",
         [&](int y) { Def(y)->ReorderOutcomes(Reversed(Def(y)->GetNumberOfOutcomes())); }},
        {"remove own distinguished outcome",
         [&](int y) {
             if (auto* a = dynamic_cast<QNL_noisyAdder*>(Def(y))) {
                 a->RemoveOutcome(a->GetDistinguishedState());
                 a->SetDistinguishedState(a->GetNumberOfOutcomes() - 1);
             }
         }},
    };
    TestRandom random(17);
    for (int round = 0; round < 20; ++round) {
        for (const auto& [name, edit] : edits) {
            const std::string label = std::string(name) + " round " + std::to_string(round);
            net.DeleteAllNodes();
            int y = -1;
            if (round % 2 == 0) {
                std::vector<int> parents;
                for (int i = 0, count = 1 + random.Below(4); i < count; ++i)
                    parents.push_back(2 + random.Below(3));
                y = RandomGate(random, parents, 2 + random.Below(3));
            } else {
                const int first = AddWithOutcomes(QNL_TYPE_NOISY_ADDER, "P0", 3 + random.Below(2));
                const int second = AddWithOutcomes(QNL_TYPE_CPT, "P1", 2 + random.Below(3));
                y = AddWithOutcomes(QNL_TYPE_NOISY_ADDER, "Y", 3 + random.Below(2));
                ASSERT_EQ(net.AddArc(first, y), 0);
                ASSERT_EQ(net.AddArc(second, y), 0);
                RandomizeNoisyAdder(*dynamic_cast<QNL_noisyAdder*>(Def(y)), random);
            }
            Values(y); // expanded once, so a stale cache would show
            edit(y);
            if (QNL_noisyMAX* gate = Gate(y)) {
                ExpectNear(Values(y), ReferenceNoisyMax(*gate), 1e-12, label);
                continue;
            }
            auto* adder = dynamic_cast<QNL_noisyAdder*>(Def(y));
            ExpectNear(Values(y), ReferenceNoisyAdder(*adder), 1e-12, label);
            char message[64];
            adder->CheckParameters(*adder->GetParameters(), message, sizeof message);
            EXPECT_STREQ(message, std::string(name).rfind("remove own", 0) == 0
                                      ? "Probabilities don't sum up to 1"
                                      : "Ok")
                << label;
        }
    }
}

// Reordering the outcomes of parent P0 (3 outcomes, slowest) moves whole slices; removing
// one other than the distinguished one keeps the others' slices.
TEST_F(NoisyMax, ParentOutcomeEditsKeepTheOtherColumns) {
    TestRandom random(5);
    const std::size_t slice = 2 * 3;
    auto part = [&](const std::vector<double>& v, std::size_t s) {
        return std::vector<double>(v.begin() + s * slice, v.begin() + (s + 1) * slice);
    };
    for (int round = 0; round < 10; ++round) {
        net.DeleteAllNodes();
        const int y = RandomGate(random, {3, 2}, 3);
        const std::vector<double> before = Values(y);
        const std::size_t order[] = {1, 2, 0};
        ASSERT_EQ(Def(0)->ReorderOutcomes(IntsOf({1, 2, 0})), 0);
        const std::vector<double> reordered = Values(y);
        for (std::size_t o = 0; o < 3; ++o)
            ExpectNear(part(reordered, o), part(before, order[o]), 1e-15, "reordered");
        const QNL_intArray& s = *Gate(y)->GetParentOutcomeStrengths(0);
        const bool distinguished = s[s.GetCount() - 1] == 1;
        ASSERT_EQ(Def(0)->RemoveOutcome(1), 0);
        const std::vector<double> removed = Values(y);
        if (!distinguished) {
            ExpectNear(part(removed, 0), part(reordered, 0), 1e-15, "removed first");
            ExpectNear(part(removed, 1), part(reordered, 2), 1e-15, "removed last");
        }
        EXPECT_EQ(Gate(y)->CheckParameters(*Gate(y)->GetParameters(), nullptr, 0), 0);
    }
}

// Evidence on a parent absorbed into a copy gives the table's slice; a marginalised parent
// the mixture of its slices; compound parameters round trip, and a zero leak is refused.
TEST_F(NoisyMax, AbsorbMarginaliseAndCompoundParametersMatchTheTable) {
    TestRandom random(9);
    const int y = RandomGate(random, {3, 2}, 3);
    ASSERT_EQ(Def(0)->SetDefinition(ArrayOf({0.2, 0.5, 0.3})), 0);
    const std::vector<double> table = Values(y);
    const QNL_Dmatrix parameters(*Gate(y)->GetParameters());
    QNL_doubleArray compound;
    ASSERT_EQ(Gate(y)->GetCompoundParameters(compound), 0);
    ASSERT_EQ(Gate(y)->SetCompoundParameters(compound), 0);
    ExpectNear(ValuesOf(Gate(y)), table, 1e-12, "compound round trip");
    for (int i = 0; i < parameters.GetSize(); ++i)
        EXPECT_NEAR(Gate(y)->GetParameters()->Subscript(i), parameters.Subscript(i), 1e-12);
    QNL_Dmatrix zeroLeak;
    ASSERT_EQ(Gate(y)->GetCompoundParameters(zeroLeak), 0);
    const int leak = (Gate(y)->GetNumberOfColumns() - 1) * 3;
    zeroLeak.Subscript(leak) = 1.0;
    zeroLeak.Subscript(leak + 1) = zeroLeak.Subscript(leak + 2) = 0.0;
    EXPECT_EQ(Gate(y)->SetCompoundParameters(zeroLeak), -2);

    QNL_noisyMAX copy(*Gate(y));
    ASSERT_EQ(net.GetNode(0)->GetValue()->SetEvidence(2), 0);
    ASSERT_EQ(copy.AbsorbParentEvidence(0), 0);
    ExpectNear(ValuesOf(&copy), std::vector<double>(table.begin() + 12, table.end()), 1e-12,
               "absorbed");
    net.GetNode(0)->GetValue()->ClearEvidence();
    ASSERT_EQ(Gate(y)->MarginalizeParent(0), 0);
    std::vector<double> summed(6, 0.0);
    for (std::size_t i = 0; i < table.size(); ++i)
        summed[i % 6] += std::vector<double>{0.2, 0.5, 0.3}[i / 6] * table[i];
    ExpectNear(Values(y), summed, 1e-12, "marginalised");
}

// A table expanded from noisy-MAX parameters in the natural strength order is fitted back to within
// 1e-3; any other table ends the fit too (capped), leaving ready parameters.
TEST_F(NoisyMax, ConversionFromATableFitsItsParameters) {
    TestRandom random(21);
    for (int round = 0; round < 6; ++round) {
        net.DeleteAllNodes();
        const int y =
            RandomGate(random, {2 + random.Below(2), 2 + random.Below(3)}, 2 + random.Below(3));
        // A conversion starts from the natural strength order, which the table must share.
        for (int b = 0; b < Gate(y)->GetNumberOfBlocks(); ++b) {
            std::vector<int> natural(Gate(y)->GetBlockSize(b));
            std::iota(natural.begin(), natural.end(), 0);
            ASSERT_EQ(Gate(y)->SetParentOutcomeStrengths(b, IntsOf(natural)), 0);
        }
        const std::vector<double> table = Values(y);
        ASSERT_EQ(net.GetNode(y)->SetType(QNL_TYPE_CPT), 0);
        ExpectNear(Values(y), table, 1e-12, "to CPT");
        ASSERT_EQ(net.GetNode(y)->SetType(QNL_TYPE_NOISY_MAX), 0);
        ExpectNear(Values(y), table, 1e-3, "fitted " + std::to_string(round));
        Gate(y)->CheckReadiness(1);
        EXPECT_TRUE(Gate(y)->IsReady());
    }
    // Tables that are no expansion at all convert to parameters that pass their own check.
    for (int round = 0; round < 200; ++round) {
        net.DeleteAllNodes();
        const int z = AddWithOutcomes(QNL_TYPE_CPT, "Z", 2 + random.Below(3));
        for (const char* id : {"P0", "P1"})
            ASSERT_EQ(net.AddArc(AddWithOutcomes(QNL_TYPE_CPT, id, 2 + random.Below(2)), z), 0);
        std::vector<double> cells(static_cast<std::size_t>(Def(z)->GetSize()));
        const int n = Def(z)->GetNumberOfOutcomes();
        for (std::size_t i = 0; i < cells.size(); i += static_cast<std::size_t>(n)) {
            double sum = 0.0;
            for (int k = 0; k < n; ++k)
                sum += cells[i + static_cast<std::size_t>(k)] = random.Uniform();
            for (int k = 0; k < n; ++k)
                cells[i + static_cast<std::size_t>(k)] /= sum;
        }
        ASSERT_EQ(Def(z)->SetDefinition(ArrayOf(cells)), 0);
        ASSERT_EQ(net.GetNode(z)->SetType(QNL_TYPE_NOISY_MAX), 0);
        Gate(z)->CheckReadiness(1);
        ASSERT_TRUE(Gate(z)->IsReady()) << "random table " << round;
    }
    net.DeleteAllNodes();
    Add(QNL_TYPE_CPT, "X");
    const int z = Add(QNL_TYPE_CPT, "Z");
    ASSERT_EQ(net.AddArc(0, z), 0);
    std::vector<double> cells;
    for (int i = 0; i < Def(z)->GetSize() / 2; ++i)
        cells.insert(cells.end(), {i % 2 ? 0.9 : 0.3, i % 2 ? 0.1 : 0.7});
    ASSERT_EQ(Def(z)->SetDefinition(ArrayOf(cells)), 0);
    ASSERT_EQ(net.GetNode(z)->SetType(QNL_TYPE_NOISY_MAX), 0);
    Gate(z)->CheckReadiness(1);
    EXPECT_TRUE(Gate(z)->IsReady());
}

} // namespace
