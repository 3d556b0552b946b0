#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "definitions/truth_table.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using quarn_test::ArrayOf;
using quarn_test::Cells;
using quarn_test::IdsOf;
using quarn_test::IntsOf;
using quarn_test::Key;
using quarn_test::StringsOf;

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

QNL_nodeDefinition* CreateGate(int handle, QNL_network* network) {
    return new Gate(handle, network);
}

class Cpt : public quarn_test::NetworkFixture {
protected:
    int Add(const char* id, int outcomes = 2, int type = QNL_TYPE_CPT) {
        return AddWithOutcomes(type, id, outcomes);
    }
    QNL_cpt* Table(int node) { return dynamic_cast<QNL_cpt*>(Def(node)); }

    // Distinct random columns, each summing to 1.
    void FillDistinct(int node, unsigned seed) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> draw(0.05, 1.0);
        QNL_cpt* cpt = Table(node);
        const int n = cpt->GetNumberOfOutcomes();
        QNL_doubleArray values;
        values.SetSize(cpt->GetSize());
        for (int start = 0; start < cpt->GetSize(); start += n) {
            double sum = 0.0;
            for (int k = 0; k < n; ++k)
                sum += values[start + k] = draw(random);
            for (int k = 0; k < n; ++k)
                values[start + k] /= sum;
        }
        ASSERT_EQ(cpt->SetProbabilities(values), 0);
    }

    // Reads the table cell by cell through strides computed here from the parents' outcome
    // counts (parents in parent order, own outcomes last and fastest), so a table of any
    // other layout fails the comparison.
    Cells Read(int node) {
        Cells cells;
        const QNL_Dmatrix* m = Def(node)->GetMatrix();
        const QNL_intArray& parents = net.GetParents(node);
        std::vector<int> owners(parents.Items(), parents.Items() + parents.GetCount());
        owners.push_back(node);
        EXPECT_EQ(m->GetNumberOfDimensions(), static_cast<int>(owners.size()));
        if (m->GetNumberOfDimensions() != static_cast<int>(owners.size())) return cells;
        std::vector<int> sizes;
        long long total = 1;
        for (int owner : owners) {
            sizes.push_back(Def(owner)->GetNumberOfOutcomes());
            total *= sizes.back();
        }
        EXPECT_EQ(m->GetSize(), total);
        for (std::size_t d = 0; d < sizes.size(); ++d)
            EXPECT_EQ(m->GetSizeOfDimension(static_cast<int>(d)), sizes[d]);
        for (long long i = 0; i < total; ++i) {
            Key key;
            long long rest = i;
            for (int d = static_cast<int>(owners.size()) - 1; d >= 0; --d) {
                const int coordinate = static_cast<int>(rest % sizes[d]);
                rest /= sizes[d];
                key[net.GetNode(owners[d])->GetId()] =
                    Def(owners[d])->GetOutcomeIds()->GetString(coordinate);
            }
            cells[key] = m->Subscript(static_cast<int>(i));
        }
        return cells;
    }

    // Every cell of the table must equal expected(key) within a rounding margin.
    void ExpectCells(int node, const std::function<double(const Key&)>& expected) {
        for (const auto& [key, value] : Read(node)) {
            std::string name;
            for (const auto& [n, o] : key)
                name += n + "=" + o + " ";
            EXPECT_NEAR(value, expected(key), 1e-12) << name;
        }
    }

    static Key Without(Key key, const std::string& node) {
        key.erase(node);
        return key;
    }
    static Key With(Key key, const std::string& node, const std::string& outcome) {
        key[node] = outcome;
        return key;
    }
};

// ---------------------------------------------------------------------------------------
// Creation and outcome identifiers.

TEST_F(Cpt, NewNodeHasTwoDefaultOutcomesAndAUniformPrior) {
    const int a = Add("a");
    ASSERT_NE(Table(a), nullptr);
    EXPECT_EQ(Def(a)->GetType(), 18);
    EXPECT_STREQ(Def(a)->GetTypeName(), "CPT");
    EXPECT_EQ(IdsOf(Def(a)), (std::vector<std::string>{"State0", "State1"}));
    EXPECT_EQ(Values(a), (std::vector<double>{0.5, 0.5}));
    EXPECT_TRUE(Def(a)->IsValid());
    EXPECT_TRUE(Def(a)->IsReady());
    EXPECT_EQ(Def(a)->GetSize(), 2);
}

TEST_F(Cpt, DefaultIdentifiersAreMadeUnique) {
    const int a = Add("a");
    // A single given identifier is padded to two outcomes with a default that is not taken.
    ASSERT_EQ(Def(a)->SetNumberOfOutcomes(StringsOf({"State1"})), 0);
    EXPECT_EQ(IdsOf(Def(a)), (std::vector<std::string>{"State1", "State2"}));
    // A refused identifier becomes "State" + outcome count, or the next free suffix.
    ASSERT_EQ(Def(a)->RenameOutcome(0, "State3"), 0);
    EXPECT_EQ(Def(a)->AddOutcome("1bad"), 0);
    EXPECT_EQ(Def(a)->InsertOutcome(0, nullptr), 0);
    EXPECT_EQ(IdsOf(Def(a)), (std::vector<std::string>{"State5", "State3", "State2", "State4"}));
    EXPECT_TRUE(Def(a)->IsValid());
}

TEST_F(Cpt, OutcomeIdentifiersAreCheckedAndRepaired) {
    const int a = Add("a", 3);
    EXPECT_EQ(Def(a)->RenameOutcome(1, "State0"), -2);
    EXPECT_EQ(Def(a)->RenameOutcome(3, "x"), -2);
    EXPECT_EQ(Def(a)->RenameOutcome(-1, "x"), -2);
    EXPECT_EQ(Def(a)->RenameOutcome(2, "high"), 0);
    EXPECT_EQ(Def(a)->SetOutcomeIds(StringsOf({"p", "q"})), -2);
    EXPECT_EQ(IdsOf(Def(a)), (std::vector<std::string>{"State0", "State1", "high"}));
    ASSERT_EQ(Def(a)->SetOutcomeIds(StringsOf({"p", "p", "1q", "extra"})), 0);
    EXPECT_EQ(IdsOf(Def(a)), (std::vector<std::string>{"p", "p0", "x1q"}));
    EXPECT_TRUE(Def(a)->IsValid());
}

TEST_F(Cpt, SetNumberOfOutcomesRebuildsUniformAndRefusesWhenOthersDependOnIt) {
    const int a = Add("a");
    const int b = Add("b");
    const int c = Add("c");
    ASSERT_EQ(Def(a)->SetNumberOfOutcomes(3), 0);
    EXPECT_EQ(IdsOf(Def(a)), (std::vector<std::string>{"State0", "State1", "State2"}));
    for (double v : Values(a))
        EXPECT_DOUBLE_EQ(v, 1.0 / 3);
    EXPECT_EQ(Def(a)->SetNumberOfOutcomes(0), -2);
    ASSERT_EQ(Def(a)->SetNumberOfOutcomes(1), 0); // a table keeps two outcomes
    EXPECT_EQ(Def(a)->GetNumberOfOutcomes(), 2);
    ASSERT_EQ(Def(a)->SetNumberOfOutcomes(StringsOf({"lo", "lo", "2hi"})), 0);
    EXPECT_EQ(IdsOf(Def(a)), (std::vector<std::string>{"lo", "lo2", "x2hi"}));

    ASSERT_EQ(net.AddArc(a, b), 0);
    FillDistinct(a, 1);
    const std::vector<double> before = Values(a);
    EXPECT_EQ(Def(a)->SetNumberOfOutcomes(4), -19);
    EXPECT_EQ(Def(a)->SetNumberOfOutcomes(StringsOf({"x", "y"})), -19);
    EXPECT_EQ(Values(a), before);
    EXPECT_EQ(Def(a)->GetNumberOfOutcomes(), 3);
    // A cost child indexes its costs by this node's outcomes as well.
    ASSERT_EQ(net.AddArc(c, a, 1), 0);
    EXPECT_EQ(Def(c)->SetNumberOfOutcomes(3), -19);
    EXPECT_EQ(Def(c)->GetNumberOfOutcomes(), 2);
}

// ---------------------------------------------------------------------------------------
// Tables following structure and outcome edits.

TEST_F(Cpt, AddingAParentReplicatesTheColumn) {
    const int p = Add("p", 3);
    const int c = Add("c");
    ASSERT_EQ(Table(c)->SetProbabilities(ArrayOf({0.2, 0.8})), 0);
    ASSERT_EQ(net.AddArc(p, c), 0);
    EXPECT_EQ(Values(c), (std::vector<double>{0.2, 0.8, 0.2, 0.8, 0.2, 0.8}));
    // A node created under existing parents is uniform in every column.
    const int d = Add("d");
    ASSERT_EQ(net.AddArc(p, d), 0);
    ASSERT_EQ(net.AddArc(c, d), 0);
    for (double v : Values(d))
        EXPECT_EQ(v, 0.5);
    EXPECT_EQ(Table(d)->GetNumberOfColumns(), 6);
    QNL_cpt fresh(d, &net);
    EXPECT_EQ(fresh.GetSize(), 12);
    EXPECT_EQ(fresh.GetTable().GetSizeOfDimension(0), 3);
    EXPECT_EQ(fresh.GetTable().GetSizeOfDimension(1), 2);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(fresh.GetTable().Subscript(i), 0.5);
}

TEST_F(Cpt, TableFollowsArcAndParentOrderEdits) {
    const int a = Add("a", 3);
    const int b = Add("b");
    const int d = Add("d", 3);
    const int c = Add("c", 3);
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(b, c), 0);
    FillDistinct(c, 7);

    Cells before = Read(c);
    ASSERT_EQ(net.ReorderParents(c, IntsOf({1, 0})), 0);
    ExpectCells(c, [&](const Key& k) { return before.at(k); });

    before = Read(c);
    ASSERT_EQ(net.AddArc(d, c), 0); // every old column copied for each outcome of d
    ExpectCells(c, [&](const Key& k) { return before.at(Without(k, "d")); });

    before = Read(c);
    ASSERT_EQ(net.ReorderParents(c, IntsOf({2, 0, 1})), 0); // d, b, a
    ExpectCells(c, [&](const Key& k) { return before.at(k); });

    before = Read(c);
    ASSERT_EQ(net.RemoveArc(b, c), 0); // the slice of b's first outcome stays
    ExpectCells(c, [&](const Key& k) { return before.at(With(k, "b", "State0")); });
    EXPECT_EQ(Table(c)->GetDimensionParents().GetCount(), 2);
}

TEST_F(Cpt, TableFollowsParentOutcomeEdits) {
    const int a = Add("a", 3);
    const int b = Add("b");
    const int c = Add("c", 3);
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(b, c), 0);
    FillDistinct(c, 11);

    Cells before = Read(c);
    ASSERT_EQ(Def(a)->InsertOutcome(1, "mid"), 0);
    ExpectCells(c, [&](const Key& k) {
        return k.at("a") == "mid" ? 1.0 / 3 : before.at(k); // new columns are uniform
    });

    before = Read(c);
    ASSERT_EQ(Def(a)->RemoveOutcome(0), 0);
    ExpectCells(c, [&](const Key& k) { return before.at(k); });

    before = Read(c);
    ASSERT_EQ(Def(a)->ReorderOutcomes(IntsOf({2, 0, 1})), 0);
    ExpectCells(c, [&](const Key& k) { return before.at(k); });

    before = Read(c);
    ASSERT_EQ(Def(b)->AddOutcome("late"), 0);
    ExpectCells(c, [&](const Key& k) { return k.at("b") == "late" ? 1.0 / 3 : before.at(k); });
    EXPECT_TRUE(Def(c)->IsValid());
}

TEST_F(Cpt, TableFollowsOwnOutcomeEditsAndLeavesColumnsUnnormalised) {
    const int a = Add("a", 3);
    const int c = Add("c", 3);
    const int child = Add("child");
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(c, child), 0);
    FillDistinct(c, 3);
    FillDistinct(child, 4);

    Cells before = Read(c);
    Cells childBefore = Read(child);
    ASSERT_EQ(Def(c)->InsertOutcome(1, "new"), 0);
    ExpectCells(c, [&](const Key& k) { return k.at("c") == "new" ? 0.0 : before.at(k); });
    ExpectCells(child, [&](const Key& k) { return k.at("c") == "new" ? 0.5 : childBefore.at(k); });
    Def(c)->CheckReadiness(1);
    EXPECT_TRUE(Def(c)->IsReady()); // the new outcome holds 0.0 in every column

    before = Read(c);
    childBefore = Read(child);
    ASSERT_EQ(Def(c)->RemoveOutcome(0), 0);
    ExpectCells(c, [&](const Key& k) { return before.at(k); });
    ExpectCells(child, [&](const Key& k) { return childBefore.at(k); });
    Def(c)->CheckReadiness(1);
    EXPECT_FALSE(Def(c)->IsReady()); // the removed probability is not given back

    before = Read(c);
    ASSERT_EQ(Def(c)->ReorderOutcomes(IntsOf({2, 0, 1})), 0);
    ExpectCells(c, [&](const Key& k) { return before.at(k); });
    EXPECT_EQ(IdsOf(Def(c)), (std::vector<std::string>{"State2", "new", "State1"}));

    const std::vector<double> kept = Values(c);
    EXPECT_EQ(Def(c)->InsertOutcome(4, "far"), -2);
    EXPECT_EQ(Def(c)->InsertOutcome(-1, "far"), -2);
    EXPECT_EQ(Def(c)->RemoveOutcome(3), -2);
    EXPECT_EQ(Def(c)->ReorderOutcomes(IntsOf({0, 0, 1})), -2);
    EXPECT_EQ(Def(c)->ReorderOutcomes(IntsOf({1, 0})), -2);
    EXPECT_EQ(Values(c), kept);
    EXPECT_EQ(IdsOf(Def(c)), (std::vector<std::string>{"State2", "new", "State1"}));

    ASSERT_EQ(Def(c)->RemoveOutcome(0), 0);
    EXPECT_EQ(Def(c)->RemoveOutcome(0), -2); // two outcomes are the least
    EXPECT_EQ(Def(c)->GetNumberOfOutcomes(), 2);
}

TEST_F(Cpt, ChangeOutcomesThroughTheBaseKeepsEveryCellWithItsOutcome) {
    const int a = Add("a", 3);
    const int c = Add("c", 3);
    const int child = Add("child");
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(c, child), 0);
    ASSERT_EQ(Def(c)->SetOutcomeIds(StringsOf({"x", "y", "z"})), 0);
    FillDistinct(c, 5);
    FillDistinct(child, 6);

    // y is renamed w, x is dropped, n is new, z comes first.
    const Cells before = Read(c);
    const Cells childBefore = Read(child);
    ASSERT_EQ(Def(c)->ChangeOutcomes(StringsOf({"z", "w", "n"}), IntsOf({2, 1, -1})), 0);
    EXPECT_EQ(IdsOf(Def(c)), (std::vector<std::string>{"z", "w", "n"}));
    const std::map<std::string, std::string> old{{"z", "z"}, {"w", "y"}};
    ExpectCells(c, [&](const Key& k) {
        return k.at("c") == "n" ? 0.0 : before.at(With(k, "c", old.at(k.at("c"))));
    });
    ExpectCells(child, [&](const Key& k) {
        return k.at("c") == "n" ? 0.5 : childBefore.at(With(k, "c", old.at(k.at("c"))));
    });

    // A pure permutation, and a parent's outcome change seen from the child.
    const Cells swapped = Read(c);
    ASSERT_EQ(Def(a)->ChangeOutcomes(StringsOf({"State2", "State0", "State1"}), IntsOf({2, 0, 1})),
              0);
    ExpectCells(c, [&](const Key& k) { return swapped.at(k); });
}

TEST_F(Cpt, RefusedChangeOutcomesLeavesTheDefinitionAsItWas) {
    const int c = Add("c");
    const int child = Add("child");
    ASSERT_EQ(net.AddArc(c, child), 0);
    FillDistinct(c, 8);
    FillDistinct(child, 9);
    const std::vector<double> values = Values(c);
    const std::vector<double> childValues = Values(child);
    EXPECT_EQ(Def(c)->ChangeOutcomes(StringsOf({"only"}), IntsOf({-1})), -2);
    EXPECT_EQ(Def(c)->ChangeOutcomes(StringsOf({"a", "b"}), IntsOf({0, 0})), -2);
    EXPECT_EQ(Def(c)->ChangeOutcomes(StringsOf({"a", "a"}), IntsOf({0, 1})), -2);
    EXPECT_EQ(IdsOf(Def(c)), (std::vector<std::string>{"State0", "State1"}));
    EXPECT_EQ(Values(c), values);
    EXPECT_EQ(Values(child), childValues);
}

// ---------------------------------------------------------------------------------------
// Evidence and marginalisation of parents.

TEST_F(Cpt, AbsorbingParentEvidenceKeepsTheObservedSlice) {
    const int a = Add("a", 3);
    const int b = Add("b");
    const int c = Add("c");
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(b, c), 0);
    FillDistinct(c, 12);
    const Cells before = Read(c);
    EXPECT_EQ(Def(c)->AbsorbParentEvidence(a), -2); // no evidence yet
    ASSERT_EQ(net.GetNode(a)->GetValue()->SetEvidence(2), 0);
    ASSERT_EQ(Def(c)->AbsorbParentEvidence(a), 0);
    const QNL_Dmatrix* m = Def(c)->GetMatrix();
    ASSERT_EQ(m->GetNumberOfDimensions(), 2);
    for (int j = 0; j < 2; ++j)
        for (int k = 0; k < 2; ++k) {
            Key key{{"a", "State2"},
                    {"b", "State" + std::to_string(j)},
                    {"c", "State" + std::to_string(k)}};
            EXPECT_EQ(m->Subscript(j * 2 + k), before.at(key));
        }
    // The arc can go afterwards without taking another dimension with it.
    ASSERT_EQ(net.RemoveArc(a, c), 0);
    EXPECT_EQ(Def(c)->GetMatrix()->GetNumberOfDimensions(), 2);
    ExpectCells(c, [&](const Key& k) { return before.at(With(k, "a", "State2")); });
}

TEST_F(Cpt, MarginalizingARootParentWeightsByItsPrior) {
    const int a = Add("a", 3);
    const int b = Add("b");
    const int c = Add("c");
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(b, c), 0);
    ASSERT_EQ(Table(a)->SetProbabilities(ArrayOf({0.2, 0.3, 0.5})), 0);
    FillDistinct(c, 13);
    const Cells before = Read(c);
    ASSERT_EQ(Def(c)->MarginalizeParent(a), 0);
    ASSERT_EQ(net.RemoveArc(a, c), 0);
    const double prior[] = {0.2, 0.3, 0.5};
    ExpectCells(c, [&](const Key& k) {
        double sum = 0.0;
        for (int i = 0; i < 3; ++i)
            sum += prior[i] * before.at(With(k, "a", "State" + std::to_string(i)));
        return sum;
    });

    // A parent with parents of its own has no prior to weight by; an observed one is refused.
    const int d = Add("d");
    ASSERT_EQ(net.AddArc(d, b), 0);
    const std::vector<double> kept = Values(c);
    EXPECT_EQ(Def(c)->MarginalizeParent(b), -2);
    ASSERT_EQ(net.RemoveArc(d, b), 0);
    ASSERT_EQ(net.GetNode(b)->GetValue()->SetEvidence(0), 0);
    EXPECT_EQ(Def(c)->MarginalizeParent(b), -2);
    EXPECT_EQ(Values(c), kept);
}

// ---------------------------------------------------------------------------------------
// Setting values.

TEST_F(Cpt, SetProbabilitiesTakesExactlyTheTableSize) {
    const int a = Add("a", 3);
    const int c = Add("c");
    ASSERT_EQ(net.AddArc(a, c), 0);
    const std::vector<double> uniform = Values(c);
    EXPECT_EQ(Table(c)->SetProbabilities(ArrayOf({0.5, 0.5, 0.5, 0.5, 0.5})), -2);
    EXPECT_EQ(Table(c)->SetProbabilities(ArrayOf({0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5})), -2);
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
    EXPECT_TRUE(Def(c)->IsReady());
}

TEST_F(Cpt, SetDefinitionRefusesAnotherShape) {
    const int a = Add("a", 3);
    const int c = Add("c");
    ASSERT_EQ(net.AddArc(a, c), 0);
    FillDistinct(c, 14);
    const std::vector<double> kept = Values(c);

    QNL_intArray transposed = IntsOf({2, 3});
    QNL_Dmatrix wrong(transposed); // the same number of values, another shape
    wrong.FillWith(0.5);
    EXPECT_EQ(Def(c)->SetDefinition(wrong), -2);
    QNL_intArray flat = IntsOf({6});
    QNL_Dmatrix flatMatrix(flat);
    flatMatrix.FillWith(0.5);
    EXPECT_EQ(Def(c)->SetDefinition(flatMatrix), -2);
    EXPECT_EQ(Def(c)->SetDefinition(ArrayOf({0.5, 0.5})), -2);
    EXPECT_EQ(Values(c), kept);

    QNL_intArray shape = IntsOf({3, 2});
    QNL_Dmatrix right(shape);
    for (int i = 0; i < 6; ++i)
        right.Subscript(i) = i % 2 == 0 ? 0.25 : 0.75;
    ASSERT_EQ(Def(c)->SetDefinition(right), 0);
    EXPECT_EQ(Values(c), (std::vector<double>{0.25, 0.75, 0.25, 0.75, 0.25, 0.75}));
    ASSERT_EQ(Def(c)->SetDefinition(ArrayOf({1, 0, 0, 1, 1, 0})), 0);
    EXPECT_EQ(Values(c), (std::vector<double>{1, 0, 0, 1, 1, 0}));
}

TEST_F(Cpt, ReadinessBoundsAreInclusiveAndNegativesFail) {
    const int a = Add("a");
    QNL_cpt* cpt = Table(a);
    struct Case {
        double first, second;
        bool ready;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {0.999995, 0.0, true},
        {1.000005, 0.0, true},
        {0.4999951, 0.5, true},
        {0.5000049, 0.5, true},
        {0.9999949, 0.0, false},
        {1.0000051, 0.0, false},
        {-0.0000001, 1.0000001, false},
        {1.0, -0.0, true},
        {nan, 1.0, false},
        {0.0, 0.0, false},
    };
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

// ---------------------------------------------------------------------------------------
// Copies, conversions and clean-up.

TEST_F(Cpt, CopiesAreFullAndIndependent) {
    const int a = Add("a", 3);
    const int c = Add("c");
    ASSERT_EQ(net.AddArc(a, c), 0);
    FillDistinct(c, 15);
    QNL_nodeDefinition* copy = Def(c)->CreateCopy();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetType(), QNL_TYPE_CPT);
    EXPECT_EQ(copy->GetNetwork(), &net);
    EXPECT_EQ(copy->GetHandle(), c);
    EXPECT_EQ(IdsOf(copy), IdsOf(Def(c)));
    QNL_doubleArray copied;
    ASSERT_EQ(copy->GetDefinition(copied), 0);
    EXPECT_EQ(std::vector<double>(copied.Items(), copied.Items() + copied.GetSize()), Values(c));
    ASSERT_EQ(copy->RenameOutcome(0, "other"), 0);
    copy->GetMatrix()->Subscript(0) = 0.0;
    EXPECT_EQ(IdsOf(Def(c))[0], "State0");
    EXPECT_NE(Values(c)[0], 0.0);
    delete copy;

    // A copied network keeps the tables and can go on editing them.
    QNL_network other(net);
    ASSERT_TRUE(other.IsValid());
    const std::vector<double> original = Values(c);
    QNL_doubleArray values;
    ASSERT_EQ(other.GetNode(c)->GetDefinition()->GetDefinition(values), 0);
    EXPECT_EQ(std::vector<double>(values.Items(), values.Items() + values.GetSize()), original);
    ASSERT_EQ(other.RemoveArc(a, c), 0);
    EXPECT_EQ(other.GetNode(c)->GetDefinition()->GetSize(), 2);
    EXPECT_EQ(Def(c)->GetSize(), 6);
}

TEST_F(Cpt, AssignConvertsBetweenTablesAndRefusesUnknownSources) {
    const int a = Add("a", 3);
    const int b = Add("b");
    const int c = Add("c");
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(b, c), 0);
    FillDistinct(c, 16);
    const std::vector<double> values = Values(c);

    QNL_cpt target(-1, nullptr);
    ASSERT_EQ(target.Assign(*Def(c)), 0);
    EXPECT_EQ(target.GetHandle(), c);
    EXPECT_EQ(target.GetNetwork(), &net);
    QNL_doubleArray copied;
    ASSERT_EQ(target.GetDefinition(copied), 0);
    EXPECT_EQ(std::vector<double>(copied.Items(), copied.Items() + copied.GetSize()), values);
    EXPECT_EQ(target.Assign(target), 0);

    QNL_truthTable truth(c, &net);
    ASSERT_EQ(target.Assign(truth), 0);
    ASSERT_EQ(target.GetDefinition(copied), 0);
    ASSERT_EQ(copied.GetSize(), 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(copied[i], i % 2 == 0 ? 1.0 : 0.0);

    // A source that is not valid, or of a type without a conversion, changes nothing.
    QNL_cpt invalid(-1, nullptr);
    invalid.CleanUp(0);
    ASSERT_FALSE(invalid.IsValid());
    EXPECT_EQ(Def(c)->Assign(invalid), -567);
    quarn_test::ForeignDefinition foreign(c, &net, QNL_TYPE_TABLE);
    ASSERT_TRUE(foreign.IsValid());
    EXPECT_EQ(Def(c)->Assign(foreign), -2);
    EXPECT_EQ(Values(c), values);
    EXPECT_EQ(Def(c)->GetNumberOfOutcomes(), 2);

    // A parent turned into a truth table still indexes the child's table.
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_TRUTHTABLE), 0);
    EXPECT_EQ(net.NumberOfParents(c), 2);
    EXPECT_EQ(Values(c), values);
    EXPECT_TRUE(Def(c)->IsValid());
}

TEST_F(Cpt, ParentTurnedIntoAGateLosesItsArcAndItsOwnDimension) {
    quarn_test::ScopedRegistration gate(QNL_TYPE_DEMORGAN, CreateGate);
    const int a = Add("a");
    const int b = Add("b", 3);
    const int c = Add("c", 3);
    ASSERT_EQ(net.AddArc(a, c), 0);
    ASSERT_EQ(net.AddArc(b, c), 0);
    FillDistinct(c, 17);
    const Cells before = Read(c);
    // A gate is refused as a new parent.
    const int g = net.AddNode(QNL_TYPE_DEMORGAN, "g");
    ASSERT_GE(g, 0);
    EXPECT_EQ(net.AddArc(g, c), -51);

    // b's dimension is recorded as b's, so the arc's removal after the type change takes
    // b's dimension and not a's, although b no longer looks like a parent with one.
    ASSERT_EQ(net.GetNode(b)->SetType(QNL_TYPE_DEMORGAN), 0);
    EXPECT_EQ(net.NumberOfParents(c), 1);
    ExpectCells(c, [&](const Key& k) { return before.at(With(k, "b", "State0")); });
    EXPECT_TRUE(Def(c)->IsValid());
}

TEST_F(Cpt, CleanUpEmptiesAndConsistencyFollowsTheIdentifiers) {
    const int a = Add("a");
    QNL_cpt copy(*Table(a));
    EXPECT_TRUE(copy.IsValid());
    copy.CleanUp(0);
    EXPECT_FALSE(copy.IsValid()); // identifiers left, count gone
    EXPECT_EQ(copy.AddOutcome("x"), -567);
    EXPECT_EQ(copy.SetProbabilities(ArrayOf({0.5, 0.5})), -567);
    copy.CleanUp(1);
    EXPECT_TRUE(copy.IsValid());
    EXPECT_EQ(copy.GetNumberOfOutcomes(), 0);
    EXPECT_EQ(copy.GetSize(), 0);
    copy.CheckReadiness(1);
    EXPECT_TRUE(copy.IsReady()); // an empty table is ready
    ASSERT_EQ(copy.AddParents(), 0);
    EXPECT_EQ(IdsOf(&copy), (std::vector<std::string>{"State0", "State1"}));
    EXPECT_EQ(copy.GetSize(), 2);
}

} // namespace
