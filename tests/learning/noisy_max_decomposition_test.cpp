#include "learning/noisy_max_decomposition.h"

#include "definitions/noisy_max.h"
#include "learning/em.h"
#include "support/gate_reference.h"
#include "support/network_builder.h"
#include "support/random_network.h"
#include "support/sampled_data.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

using namespace quarn_test;
using quarn::detail::NoisyMaxDecomposition;

std::vector<double> Cells(const QNL_Dmatrix& m) {
    return std::vector<double>(m.GetItems().Items(), m.GetItems().Items() + m.GetSize());
}

std::vector<int> ParentsOf(QNL_network& net, int h) {
    const QNL_intArray& p = net.GetParents(h);
    return std::vector<int>(p.Items(), p.Items() + p.GetCount());
}

std::string Property(QNL_network& net, int h, const char* name) {
    const QNL_userProperties& p = net.GetNode(h)->GetInfo()->properties;
    const int at = p.FindProperty(name);
    return at < 0 ? "<none>" : p.GetValue(at);
}

class Decomposition : public NetworkFixture {
protected:
    QNL_noisyMAX* Gate(int node) { return dynamic_cast<QNL_noisyMAX*>(Def(node)); }
    std::vector<std::vector<int>> Strengths(int node) {
        std::vector<std::vector<int>> out;
        for (int i = 0; i < net.NumberOfParents(node); ++i) {
            const QNL_intArray* s = Gate(node)->GetParentOutcomeStrengths(i);
            out.emplace_back(s->Items(), s->Items() + s->GetCount());
        }
        return out;
    }
    // A gate "X" over parents "P0", ... with the given outcome counts and random parameters
    // and strength orders.
    int RandomGate(TestRandom& random, const std::vector<int>& parentOutcomes, int outcomes) {
        std::vector<int> parents;
        for (std::size_t i = 0; i < parentOutcomes.size(); ++i)
            parents.push_back(AddWithOutcomes(QNL_TYPE_CPT, ("P" + std::to_string(i)).c_str(),
                                              parentOutcomes[i]));
        const int x = AddWithOutcomes(QNL_TYPE_NOISY_MAX, "X", outcomes);
        for (int p : parents)
            EXPECT_EQ(net.AddArc(p, x), 0);
        RandomizeNoisyMax(*Gate(x), random);
        return x;
    }
    int CountWithPrefix(const char* prefix) {
        int count = 0;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            count += std::strncmp(net.GetNode(h)->GetId(), prefix, std::strlen(prefix)) == 0;
        return count;
    }
};

TEST_F(Decomposition, BothFormsBuildTheirNodesMarksAndSmallestIndexTables) {
    const struct {
        int parents;
        bool ladder;
        int ladders, xParents;
    } cases[] = {{1, false, 0, 2}, {1, true, 0, 2}, {4, false, 0, 5}, {4, true, 3, 2}};
    for (const auto& c : cases) {
        net.DeleteAllNodes();
        TestRandom random(3);
        const int x =
            RandomGate(random, std::vector<int>(static_cast<std::size_t>(c.parents), 2), 3);
        if (c.ladder) net.GetNode(x)->GetInfo()->properties.AddProperty("QNL_MAXDECOMP", "LADDER");
        const std::string label = std::to_string(c.parents) + (c.ladder ? " ladder" : "");
        const QNL_intArray* strengths = Gate(x)->GetParentOutcomeStrengths(0);
        const std::string distinguished = std::to_string((*strengths)[1]);
        NoisyMaxDecomposition decomposition(net);
        ASSERT_EQ(decomposition.Decompose(x), 0) << label;
        EXPECT_EQ(net.GetNode(x)->GetType(), QNL_TYPE_CPT) << label;
        EXPECT_EQ(CountWithPrefix("INHIBITOR_X_P"), c.parents) << label;
        EXPECT_EQ(CountWithPrefix("LADDER_X_P"), c.ladders) << label;
        EXPECT_EQ(net.NumberOfParents(x), c.xParents) << label;
        const int leakParent = net.FindNode("LEAK_PARENT_X");
        const int leakChild = net.FindNode("LEAK_CHILD_X");
        EXPECT_EQ(Values(leakParent), (std::vector<double>{1.0, 0.0})) << label;
        EXPECT_EQ(Property(net, leakParent, "QNL_NOLEARN"), "ALL");
        EXPECT_EQ(Property(net, leakChild, "QNL_NOLEARN"), "1");
        EXPECT_EQ(Property(net, leakChild, "QNL_FAKE_LEAK"), "TRUE");
        EXPECT_EQ(Property(net, x, "QNL_NOLEARN"), "ALL");
        EXPECT_EQ(Property(net, x, c.ladder ? "QNL_DECOMPTYPE" : "QNL_ORIGINAL_NOISYMAX"),
                  c.ladder ? "ORIGMAX" : "TRUE");
        const int inhibitor = net.FindNode("INHIBITOR_X_P0");
        EXPECT_EQ(Property(net, inhibitor, "QNL_DECOMPTYPE"), c.ladder ? "INHIBITOR" : "<none>");
        EXPECT_EQ(Property(net, inhibitor, "QNL_NOLEARN"), distinguished);
        // The node takes the smallest of its parents' outcome indices.
        const QNL_Dmatrix* table = Def(x)->GetMatrix();
        const std::vector<double> cells = Cells(*table);
        const int parents = table->GetNumberOfDimensions() - 1;
        for (int cell = 0; cell < table->GetSize(); ++cell) {
            int smallest = 2, rest = cell / 3;
            for (int d = parents - 1; d >= 0; --d) {
                smallest = std::min(smallest, rest % 3);
                rest /= 3;
            }
            ASSERT_EQ(cells[static_cast<std::size_t>(cell)], cell % 3 == smallest ? 1.0 : 0.0)
                << label << " cell " << cell;
        }
    }
}

TEST_F(Decomposition, RecompositionRestoresParametersParentsAndPropertiesAlsoThroughAFile) {
    const std::string path = quarn_test::TestFile("decomposed.xqnl");
    for (int round = 0; round < 8; ++round) {
        net.DeleteAllNodes();
        TestRandom random(100 + static_cast<std::uint64_t>(round));
        const int x = RandomGate(random, {3, 2, 4}, 3);
        if (round == 0) {
            QNL_intArray order = IntsOf({1, 0, 2});
            ASSERT_EQ(Gate(x)->SetParentOutcomeStrengths(0, order), 0);
        }
        if (round % 2 == 1)
            net.GetNode(x)->GetInfo()->properties.AddProperty("QNL_MAXDECOMP", "LADDER");
        // A name the decomposition wants is taken already.
        const int taken = Add(QNL_TYPE_CPT, "INHIBITOR_X_P1");
        const std::vector<double> params = Cells(*Gate(x)->GetParameters());
        const std::vector<int> parents = ParentsOf(net, x);
        const int nodes = net.GetNumberOfNodes();
        const std::vector<std::vector<int>> strengths = Strengths(x);
        {
            NoisyMaxDecomposition decomposition(net);
            ASSERT_EQ(decomposition.DecomposeAll(), 0);
            EXPECT_GE(net.FindNode("INHIBITOR_X_P1_1"), 0);
            // Each inhibitor's column for a parent outcome is that outcome's parameter column.
            const auto* parts = decomposition.Find(x);
            ASSERT_NE(parts, nullptr);
            for (int i = 0; i < 3; ++i) {
                const std::vector<double> table =
                    Values(parts->inhibitors[static_cast<std::size_t>(i)]);
                int first = 0;
                for (int k = 0; k < i; ++k)
                    first += static_cast<int>(strengths[static_cast<std::size_t>(k)].size());
                const auto& s = strengths[static_cast<std::size_t>(i)];
                for (std::size_t j = 0; j < s.size(); ++j)
                    for (int k = 0; k < 3; ++k)
                        ASSERT_EQ(table[static_cast<std::size_t>(s[j] * 3 + k)],
                                  params[(first + j) * 3 + static_cast<std::size_t>(k)])
                            << "round " << round << " parent " << i;
            }
        }
        ASSERT_EQ(net.GetNode(x)->GetType(), QNL_TYPE_NOISY_MAX) << round;
        EXPECT_EQ(Cells(*Gate(x)->GetParameters()), params) << round;
        EXPECT_EQ(ParentsOf(net, x), parents) << round;
        EXPECT_EQ(net.GetNumberOfNodes(), nodes) << round;
        EXPECT_EQ(net.FindNode("INHIBITOR_X_P1"), taken);
        EXPECT_EQ(Strengths(x), strengths) << round;
        EXPECT_EQ(Property(net, x, "QNL_NOLEARN"), "<none>");
        EXPECT_EQ(Property(net, x, "QNL_ORIGINAL_NOISYMAX"), "<none>");
        EXPECT_EQ(Property(net, x, "QNL_MAXDECOMP"), round % 2 == 1 ? "LADDER" : "<none>");
        net.DeleteNode(taken);

        // The stand-alone pair finds the parts again from the marks alone, so a decomposed
        // network can be stored and recomposed later; strength orders may come back with the
        // distinguished outcome swapped to the end, which leaves the gate's table unchanged.
        const std::vector<double> cpt = Cells(Gate(x)->GetCpt());
        EXPECT_FALSE(RecomposeNoisyMax(net, x)) << "no marks yet";
        ASSERT_TRUE(DecomposeNoisyMax(net, x)) << round;
        ASSERT_EQ(net.WriteFile(path.c_str()), 0) << LastMessage();
        QNL_network copy;
        ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << LastMessage();
        const int y = copy.FindNode("X");
        if (round == 3) {
            // A missing mark is refused and leaves the decomposed node alone.
            QNL_userProperties& marks =
                copy.GetNode(copy.FindNode("LEAK_CHILD_X"))->GetInfo()->properties;
            marks.DeleteProperty(marks.FindProperty("QNL_DECOMPTYPE"));
            EXPECT_FALSE(RecomposeNoisyMax(copy, y));
            EXPECT_EQ(copy.GetNode(y)->GetType(), QNL_TYPE_CPT);
            continue;
        }
        ASSERT_TRUE(RecomposeNoisyMax(copy, y)) << round << " " << LastMessage();
        ASSERT_EQ(copy.GetNode(y)->GetType(), QNL_TYPE_NOISY_MAX);
        EXPECT_EQ(copy.GetNumberOfNodes(), 4) << round;
        const QNL_intArray& copied = copy.GetParents(y);
        ASSERT_EQ(copied.GetCount(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_STREQ(copy.GetNode(copied[i])->GetId(), ("P" + std::to_string(i)).c_str());
        auto* gate = static_cast<QNL_noisyMAX*>(copy.GetNode(y)->GetDefinition());
        char message[256];
        EXPECT_EQ(gate->CheckParameters(*gate->GetParameters(), message, 256), 0) << message;
        ExpectNear(Cells(gate->GetCpt()), cpt, 1e-12, "recomposed table");
        const QNL_userProperties& left = copy.GetNode(y)->GetInfo()->properties;
        EXPECT_LT(left.FindProperty("QNL_NOLEARN"), 0);
        EXPECT_LT(left.FindProperty(round % 2 ? "QNL_DECOMPTYPE" : "QNL_ORIGINAL_NOISYMAX"), 0);
    }
    std::remove(path.c_str());
}

// 700 outcomes over two parents: the node's table in the inhibitor form would be too large,
// so the decomposition fails part way and must take back everything it did.
TEST_F(Decomposition, FailedDecompositionLeavesTheNetworkAsItWas) {
    TestRandom random(9);
    const int x = RandomGate(random, {2, 2}, 700);
    const std::vector<double> params = Cells(*Gate(x)->GetParameters());
    const std::vector<int> parents = ParentsOf(net, x);
    const int nodes = net.GetNumberOfNodes();
    {
        NoisyMaxDecomposition decomposition(net);
        EXPECT_EQ(decomposition.DecomposeAll(), -42);
    }
    ASSERT_EQ(net.GetNode(x)->GetType(), QNL_TYPE_NOISY_MAX);
    EXPECT_EQ(Cells(*Gate(x)->GetParameters()), params);
    EXPECT_EQ(ParentsOf(net, x), parents);
    EXPECT_EQ(net.GetNumberOfNodes(), nodes);
    EXPECT_EQ(net.GetNode(x)->GetInfo()->properties.GetNumberOfProperties(), 0);
}

TEST_F(Decomposition, EmLearnsANoisyOrAndLeavesItANoisyMaxNode) {
    for (const char* form : {"INHIBITOR", "LADDER"}) {
        net.DeleteAllNodes();
        const int p1 = AddBinaryNode(net, "P1", {}, {0.5});
        const int p2 = AddBinaryNode(net, "P2", {}, {0.4});
        const int x = Add(QNL_TYPE_NOISY_MAX, "X");
        ASSERT_EQ(net.AddArc(p1, x), 0);
        ASSERT_EQ(net.AddArc(p2, x), 0);
        QNL_Dmatrix truth(*Gate(x)->GetParameters());
        const std::vector<double> cells{0.8, 0.2, 0, 1, 0.6, 0.4, 0, 1, 0.1, 0.9};
        for (std::size_t i = 0; i < cells.size(); ++i)
            truth.Subscript(static_cast<int>(i)) = cells[i];
        ASSERT_EQ(Gate(x)->SetDefinition(truth), 0);
        if (std::strcmp(form, "LADDER") == 0)
            net.GetNode(x)->GetInfo()->properties.AddProperty("QNL_MAXDECOMP", "LADDER");
        const QNL_dataset data = SampleDataSet(net, {p1, p2, x}, 20000, 0.0, 21);
        QNL_em em(5);
        ASSERT_EQ(em.Learn(data, net, QNL_emParams()), 0) << LastMessage();
        ASSERT_EQ(net.GetNode(x)->GetType(), QNL_TYPE_NOISY_MAX);
        EXPECT_EQ(ParentsOf(net, x), (std::vector<int>{p1, p2}));
        EXPECT_EQ(net.GetNumberOfNodes(), 3);
        ExpectNear(Cells(*Gate(x)->GetParameters()), cells, 0.03, form);
        EXPECT_EQ(Property(net, x, "QNL_NOLEARN"), "<none>");
        EXPECT_EQ(Property(net, x, "QNL_DECOMPTYPE"), "<none>");
    }
}

} // namespace
