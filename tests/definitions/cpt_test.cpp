#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "definitions/truth_table.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"
#include "support/arcs.h"
#include "support/network_builder.h"
#include "support/table_cells.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace quarn_test;
using Ids = std::vector<std::string>;

// A two-outcome gate: a discrete type that gives no dimension to a child's table.
class Gate : public QNL_nodeDefinition {
public:
    Gate(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {
        ids.Add("True");
        ids.Add("False");
    }
    QNL_nodeDefinition* CreateCopy() const override { return new Gate(*this); }
    int GetType() const override { return QNL_TYPE_DEMORGAN; }
    const char* GetTypeName() const override { return "DEMORGAN"; }
    int GetNumberOfOutcomes() const override { return ids.GetCount(); }
    const QNL_idArray* GetOutcomeIds() const override { return &ids; }
    int Assign(const QNL_nodeDefinition&) override { return 0; }

private:
    QNL_idArray ids;
};

class Cpt : public NetworkFixture {
protected:
    int Add(const char* id, int outcomes = 2) {
        return AddWithOutcomes(QNL_TYPE_CPT, id, outcomes);
    }
    QNL_cpt* Table(int node) { return dynamic_cast<QNL_cpt*>(Def(node)); }

    // Distinct random columns, each summing to 1.
    void FillDistinct(int node, unsigned seed) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> draw(0.05, 1.0);
        const int n = Def(node)->GetNumberOfOutcomes();
        QNL_doubleArray values;
        values.SetSize(Def(node)->GetSize());
        for (int start = 0; start < values.GetSize(); start += n) {
            double sum = 0.0;
            for (int k = 0; k < n; ++k)
                sum += values[start + k] = draw(random);
            for (int k = 0; k < n; ++k)
                values[start + k] /= sum;
        }
        ASSERT_EQ(Table(node)->SetProbabilities(values), 0);
    }
};

TEST_F(Cpt, NewTablesAreUniformAndIdentifiersAreRepaired) {
    const int a = Add("a", 3), d = Add("d");
    ASSERT_EQ(net.AddArc(a, d), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"State0", "State1"}));
    EXPECT_EQ(Values(d), std::vector<double>(6, 0.5));
    EXPECT_TRUE(Def(d)->IsReady());
    QNL_cpt fresh(d, &net); // created under its parents
    EXPECT_EQ(fresh.GetSize(), 6);
    EXPECT_EQ(fresh.GetTable().GetSizeOfDimension(0), 3);
    EXPECT_EQ(Table(d)->GetNumberOfColumns(), 3);

    // A refused identifier becomes "State" + outcome count, or the next free suffix; a single
    // given identifier is padded to two outcomes.
    ASSERT_EQ(Def(d)->SetNumberOfOutcomes(StringsOf({"State1"})), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"State1", "State2"}));
    ASSERT_EQ(Def(d)->RenameOutcome(0, "State3"), 0);
    EXPECT_EQ(Def(d)->AddOutcome("1bad"), 0);
    EXPECT_EQ(Def(d)->InsertOutcome(0, nullptr), 0);
    EXPECT_EQ(IdsOf(Def(d)), (Ids{"State5", "State3", "State2", "State4"}));
    ASSERT_EQ(Def(a)->SetOutcomeIds(StringsOf({"p", "p", "1q", "extra"})), 0);
    EXPECT_EQ(IdsOf(Def(a)), (Ids{"p", "p0", "x1q"}));
    for (int bad : {3, -1})
        EXPECT_EQ(Def(a)->RenameOutcome(bad, "x"), -2);
    EXPECT_EQ(Def(a)->RenameOutcome(1, "p"), -2);
    EXPECT_EQ(Def(a)->SetOutcomeIds(StringsOf({"p", "q"})), -2);
    EXPECT_EQ(IdsOf(Def(a)), (Ids{"p", "p0", "x1q"}));
    EXPECT_TRUE(Def(a)->IsValid());
}

TEST_F(Cpt, SetNumberOfOutcomesRebuildsUniformAndRefusesWhenOthersDependOnIt) {
    const int a = Add("a"), b = Add("b"), c = Add("c");
    ASSERT_EQ(Def(a)->SetNumberOfOutcomes(3), 0);
    for (double v : Values(a))
        EXPECT_DOUBLE_EQ(v, 1.0 / 3);
    // A table keeps two outcomes: a smaller count is refused and leaves the table as it was.
    for (int tooFew : {0, 1})
        EXPECT_EQ(Def(a)->SetNumberOfOutcomes(tooFew), -2);
    EXPECT_EQ(Def(a)->GetNumberOfOutcomes(), 3);

    ASSERT_EQ(net.AddArc(a, b), 0);
    FillDistinct(a, 1);
    const std::vector<double> before = Values(a);
    EXPECT_EQ(Def(a)->SetNumberOfOutcomes(4), -19);
    EXPECT_EQ(Def(a)->SetNumberOfOutcomes(StringsOf({"x", "y"})), -19);
    EXPECT_EQ(Values(a), before);
    // A cost child indexes its costs by this node's outcomes as well.
    ASSERT_EQ(net.AddArc(c, a, 1), 0);
    EXPECT_EQ(Def(c)->SetNumberOfOutcomes(3), -19);
    EXPECT_EQ(Def(c)->GetNumberOfOutcomes(), 2);
}

TEST_F(Cpt, SetValuesTakesExactlyTheTableShapeAndTellsTheNetwork) {
    const int a = Add("a", 3), c = Add("c");
    ASSERT_EQ(net.AddArc(a, c), 0);
    const std::vector<double> uniform = Values(c);
    // Too few or too many values, or the same number in another shape.
    QNL_Dmatrix flat(IntsOf({6})), transposed(IntsOf({2, 3}));
    for (int result : {Table(c)->SetProbabilities(ArrayOf(std::vector<double>(5, 0.5))),
                       Table(c)->SetProbabilities(ArrayOf(std::vector<double>(7, 0.5))),
                       Def(c)->SetDefinition(ArrayOf({0.5, 0.5})), Def(c)->SetDefinition(flat),
                       Def(c)->SetDefinition(transposed)})
        EXPECT_EQ(result, -2);
    EXPECT_EQ(Values(c), uniform);

    // An array filled by Add has room to spare; its count is what counts.
    QNL_doubleArray added;
    for (double v : {0.1, 0.9, 0.2, 0.8, 0.3, 0.7})
        added.Add(v);
    ASSERT_GT(added.GetSize(), 6);
    net.GetNode(c)->GetValue()->SetValidFlag(true);
    ASSERT_EQ(Table(c)->SetProbabilities(added), 0);
    EXPECT_EQ(Values(c), (std::vector<double>{0.1, 0.9, 0.2, 0.8, 0.3, 0.7}));
    EXPECT_FALSE(net.GetNode(c)->GetValue()->IsValueValid()); // the network was told

    QNL_Dmatrix right(IntsOf({3, 2}));
    for (int i = 0; i < 6; ++i)
        right.Subscript(i) = i % 2 == 0 ? 0.25 : 0.75;
    ASSERT_EQ(Def(c)->SetDefinition(right), 0);
    EXPECT_EQ(Values(c), (std::vector<double>{0.25, 0.75, 0.25, 0.75, 0.25, 0.75}));
}

TEST_F(Cpt, ReadinessBoundsAreInclusiveAndNegativesFail) {
    const int a = Add("a");
    QNL_cpt* cpt = Table(a);
    struct Case {
        double first, second;
        bool ready;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {{0.999995, 0.0, true},
                          {1.000005, 0.0, true},
                          {0.4999951, 0.5, true},
                          {0.5000049, 0.5, true},
                          {0.9999949, 0.0, false},
                          {1.0000051, 0.0, false},
                          {-0.0000001, 1.0000001, false},
                          {1.0, -0.0, true},
                          {nan, 1.0, false},
                          {0.0, 0.0, false}};
    for (const Case& c : cases) {
        ASSERT_EQ(cpt->SetProbabilities(ArrayOf({c.first, c.second})), 0);
        EXPECT_EQ(cpt->IsReady(), c.ready) << c.first << " " << c.second;
    }
    // Every column is checked, not only the first.
    const int b = Add("b");
    ASSERT_EQ(net.AddArc(b, a), 0);
    ASSERT_EQ(cpt->SetProbabilities(ArrayOf({0.5, 0.5, 0.6, 0.5})), 0);
    EXPECT_FALSE(cpt->IsReady());
    ASSERT_EQ(cpt->SetProbabilities(ArrayOf({0.5, 0.5, 0.6, 0.4})), 0);
    EXPECT_TRUE(cpt->IsReady());
}

TEST_F(Cpt, TruthTablesConvertAndStillIndexTheChild) {
    const int a = Add("a", 3), b = Add("b"), c = Add("c");
    Arcs(net, {a, b}, c);
    FillDistinct(c, 16);
    const std::vector<double> values = Values(c);
    QNL_cpt target(-1, nullptr);
    QNL_truthTable truth(c, &net);
    ASSERT_EQ(target.Assign(truth), 0);
    EXPECT_EQ(target.GetHandle(), c);
    EXPECT_EQ(ValuesOf(&target), (std::vector<double>{1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
    // A parent turned into a truth table still indexes the child's table.
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_TRUTHTABLE), 0);
    EXPECT_EQ(net.NumberOfParents(c), 2);
    EXPECT_EQ(Values(c), values);
}

TEST_F(Cpt, ParentTurnedIntoAGateLosesItsArcAndItsOwnDimension) {
    ScopedRegistration gate(QNL_TYPE_DEMORGAN, [](int handle, QNL_network* network) {
        return static_cast<QNL_nodeDefinition*>(new Gate(handle, network));
    });
    const int a = Add("a"), b = Add("b", 3), c = Add("c", 3);
    Arcs(net, {a, b}, c);
    FillDistinct(c, 17);
    const Cells before = ReadCells(net, c);
    const int g = net.AddNode(QNL_TYPE_DEMORGAN, "g");
    ASSERT_GE(g, 0);
    EXPECT_EQ(net.AddArc(g, c), -51); // a gate is refused as a new parent

    // b's dimension is recorded as b's, so the arc's removal after the type change takes
    // b's dimension and not a's, although b no longer looks like a parent with one.
    ASSERT_EQ(net.GetNode(b)->SetType(QNL_TYPE_DEMORGAN), 0);
    EXPECT_EQ(net.NumberOfParents(c), 1);
    for (const auto& [key, value] : ReadCells(net, c))
        EXPECT_EQ(value, before.at(With(key, "b", "State0")));
    EXPECT_TRUE(Def(c)->IsValid());
}

} // namespace
