#include "definitions/cpt.h"
#include "definitions/list.h"
#include "definitions/node_value.h"
#include "definitions/table.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kUndefined = 2 * DBL_MIN;

// The arrays from literals, the fixture, and utilities named by their coordinates (Key: parent
// identifier -> outcome identifier).
using namespace quarn_test;
using Foreign = ForeignDefinition;

std::vector<int> DimsOf(const QNL_table* table) {
    const QNL_intArray& dims = table->GetTable().GetDimensions();
    return std::vector<int>(dims.Items(), dims.Items() + dims.GetSize());
}

class TableDefinition : public quarn_test::NetworkFixture {
protected:
    int Add(int type, const char* id, std::vector<std::string> outcomes = {}) {
        const int handle = NetworkFixture::Add(type, id);
        if (!outcomes.empty()) {
            EXPECT_EQ(Def(handle)->SetNumberOfOutcomes(StringsOf(outcomes)), 0);
        }
        return handle;
    }
    QNL_table* Table(int node) { return dynamic_cast<QNL_table*>(Def(node)); }

    void Fill(int u, const std::vector<double>& values) {
        ASSERT_EQ(Table(u)->SetUtilities(ArrayOf(values)), 0);
    }
    // Distinct utilities 1, 2, 3 ... in storage order.
    void FillDistinct(int u) {
        std::vector<double> values(static_cast<std::size_t>(Def(u)->GetSize()));
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<double>(i + 1);
        Fill(u, values);
    }

    // Every utility by name, after checking that the table is shaped by the node's parents.
    Cells Read(int u) {
        Cells cells;
        const QNL_table* table = Table(u);
        const QNL_intArray& parents = net.GetParents(u);
        const std::vector<int> dims = DimsOf(table);
        EXPECT_EQ(dims.size(), static_cast<std::size_t>(parents.GetCount() + 1));
        if (dims.size() != static_cast<std::size_t>(parents.GetCount() + 1)) return cells;
        EXPECT_EQ(dims.back(), 1);
        for (int p = 0; p < parents.GetCount(); ++p)
            EXPECT_EQ(dims[p], Def(parents[p])->GetNumberOfOutcomes()) << "dimension " << p;
        EXPECT_TRUE(table->IsValid());
        QNL_intArray coordinates;
        for (int i = 0; i < table->GetSize(); ++i) {
            table->GetTable().CoordinatesFromIndex(i, coordinates);
            Key key;
            for (int p = 0; p < parents.GetCount(); ++p)
                key[net.GetNode(parents[p])->GetId()] =
                    Def(parents[p])->GetOutcomeIds()->GetString(coordinates[p]);
            cells[key] = table->GetTable().Subscript(i);
        }
        return cells;
    }
};

using Dims = std::vector<int>;

TEST_F(TableDefinition, NewUtilityHasOneUtilityPerParentCombination) {
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_NE(Table(u), nullptr);
    EXPECT_EQ(Def(u)->GetType(), 8);
    EXPECT_STREQ(Def(u)->GetTypeName(), "TABLE");
    EXPECT_EQ(DimsOf(Table(u)), (Dims{1}));
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{0.0}));
    EXPECT_TRUE(Def(u)->IsValid());
    EXPECT_TRUE(Def(u)->IsReady());
    EXPECT_EQ(Def(u)->GetNumberOfOutcomes(), -51);
    EXPECT_EQ(Def(u)->GetOutcomeIds(), nullptr);
    EXPECT_EQ(Def(u)->AddOutcome("x"), -51);
    EXPECT_EQ(Def(u)->SetNumberOfOutcomes(3), -51);

    const int a = Add(QNL_TYPE_CPT, "A");
    const int d = Add(QNL_TYPE_LIST, "D", {"x", "y", "z"});
    ASSERT_EQ(net.AddArc(a, u), 0);
    ASSERT_EQ(net.AddArc(d, u), 0);
    EXPECT_EQ(DimsOf(Table(u)), (Dims{2, 3, 1}));
    EXPECT_EQ(ValuesOf(Def(u)), std::vector<double>(6, 0.0));

    // A node created with its parents already in place gets the same shape.
    QNL_table rebuilt(u, &net);
    EXPECT_EQ(DimsOf(&rebuilt), (Dims{2, 3, 1}));
}

TEST_F(TableDefinition, NewParentOutcomeGetsZeroUtilities) {
    const int a = Add(QNL_TYPE_CPT, "A");
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    Fill(u, {3, 4});
    ASSERT_EQ(Def(a)->InsertOutcome(1, "mid"), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{3, 0, 4}));
    ASSERT_EQ(Def(a)->ReorderOutcomes(IntsOf({2, 0, 1})), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{4, 3, 0}));
    ASSERT_EQ(Def(a)->RemoveOutcome(0), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{3, 0}));
}

// Random edits of the parents, their outcomes and the arcs, each checked against the cells
// as they were: a cell whose coordinates still exist keeps its utility, a new combination
// has 0.0, a new parent repeats the old utilities, and a removed parent leaves the slice of
// its first outcome.
TEST_F(TableDefinition, CellsFollowRandomParentEditsLikeBruteForce) {
    const std::vector<int> candidates = {Add(QNL_TYPE_CPT, "A", {"a0", "a1", "a2"}),
                                         Add(QNL_TYPE_LIST, "D"), Add(QNL_TYPE_TRUTHTABLE, "T"),
                                         Add(QNL_TYPE_CPT, "B")};
    const int u = Add(QNL_TYPE_TABLE, "U");
    for (int p : {candidates[0], candidates[1]})
        ASSERT_EQ(net.AddArc(p, u), 0);
    FillDistinct(u);

    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    int fresh = 0;
    auto newId = [&] { return "n" + std::to_string(fresh++); };

    for (int step = 0; step < 400; ++step) {
        const int p = candidates[static_cast<std::size_t>(pick(4))];
        QNL_nodeDefinition* parent = Def(p);
        const int n = parent->GetNumberOfOutcomes();
        const std::string parentId = net.GetNode(p)->GetId();
        const bool isParent = net.GetParents(u).IsInList(p) != 0;
        const Cells before = Read(u);
        int kind = pick(8);
        // Parents that grew large shrink again, so the table stays small enough to enumerate.
        if ((kind == 0 || kind == 1) && n >= 6) kind = 2;
        std::string label;
        int result = 0;
        switch (kind) {
        case 0:
            label = "add outcome";
            result = parent->AddOutcome(newId().c_str());
            break;
        case 1:
            label = "insert outcome";
            result = parent->InsertOutcome(pick(n + 1), newId().c_str());
            break;
        case 2:
            label = "remove outcome";
            if (n < 3) continue;
            result = parent->RemoveOutcome(pick(n));
            break;
        case 3: {
            label = "reorder outcomes";
            std::vector<int> order(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i)
                order[static_cast<std::size_t>(i)] = i;
            std::shuffle(order.begin(), order.end(), rng);
            result = parent->ReorderOutcomes(IntsOf(order));
            break;
        }
        case 4: {
            label = "change outcomes";
            const std::vector<std::string> old = IdsOf(parent);
            std::vector<std::string> ids;
            std::vector<int> map;
            for (int i = 0; i < n; ++i)
                if (pick(3) != 0) {
                    ids.push_back(old[static_cast<std::size_t>(i)]);
                    map.push_back(i);
                }
            for (int k = pick(3); k > 0 || ids.size() < 2; --k) {
                ids.push_back(newId());
                map.push_back(-1);
            }
            std::vector<std::size_t> order(ids.size());
            for (std::size_t i = 0; i < order.size(); ++i)
                order[i] = i;
            std::shuffle(order.begin(), order.end(), rng);
            std::vector<std::string> shuffledIds;
            std::vector<int> shuffledMap;
            for (std::size_t i : order) {
                shuffledIds.push_back(ids[i]);
                shuffledMap.push_back(map[i]);
            }
            result = parent->ChangeOutcomes(StringsOf(shuffledIds), IntsOf(shuffledMap));
            break;
        }
        case 5:
            label = isParent ? "remove arc" : "add arc";
            result = isParent ? net.RemoveArc(p, u) : net.AddArc(p, u);
            break;
        case 6: {
            label = "reorder parents";
            const int count = net.GetParents(u).GetCount();
            std::vector<int> order(static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i)
                order[static_cast<std::size_t>(i)] = i;
            std::shuffle(order.begin(), order.end(), rng);
            result = net.ReorderParents(u, IntsOf(order));
            break;
        }
        default:
            label = "new utilities";
            FillDistinct(u);
            continue;
        }
        ASSERT_EQ(result, 0) << "step " << step << ": " << label << " on " << parentId;
        const Cells after = Read(u);
        ASSERT_FALSE(after.empty()) << "step " << step;
        if (kind == 5 && isParent) {
            // The removed parent's first outcome is the slice that stays.
            const std::string firstOutcome = IdsOf(parent)[0];
            ASSERT_EQ(after.size() * static_cast<std::size_t>(n), before.size());
            for (const auto& [key, value] : before)
                if (key.at(parentId) == firstOutcome) {
                    Key kept = key;
                    kept.erase(parentId);
                    ASSERT_EQ(after.at(kept), value) << "step " << step;
                }
            continue;
        }
        for (const auto& [key, value] : after) {
            Key old = key;
            if (kind == 5) old.erase(parentId);
            double expected = 0.0;
            const auto found = before.find(old);
            if (found != before.end()) expected = found->second;
            ASSERT_EQ(value, expected) << "step " << step << ": " << label << " on " << parentId;
        }
    }
}

TEST_F(TableDefinition, RefusesParentsWithoutOutcomes) {
    const int u = Add(QNL_TYPE_TABLE, "U");
    const int v = Add(QNL_TYPE_TABLE, "V");
    EXPECT_EQ(Def(u)->AddParent(v), -2);
    EXPECT_EQ(Def(u)->AddParent(1000), -2);
    EXPECT_EQ(Def(u)->AddParent(-1), -2);
    EXPECT_EQ(net.AddArc(v, u), -51);
    EXPECT_EQ(net.GetParents(u).GetCount(), 0);
    EXPECT_EQ(DimsOf(Table(u)), (Dims{1}));
    EXPECT_EQ(Def(u)->RemoveParent(1000), -2);
    EXPECT_EQ(Def(u)->InsertParentOutcome(1000, 0), -2);
}

TEST_F(TableDefinition, ParentThatChangesTypeKeepsOrLosesItsDimension) {
    const int a = Add(QNL_TYPE_CPT, "A");
    const int b = Add(QNL_TYPE_CPT, "B", {"b0", "b1", "b2"});
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    ASSERT_EQ(net.AddArc(b, u), 0);
    FillDistinct(u);
    const Cells before = Read(u);

    // A decision made from the chance node keeps its outcomes and so its dimension.
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_LIST), 0);
    EXPECT_EQ(Read(u), before);

    // A utility parent loses its arc, and the table keeps the slice of its first outcome.
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_TABLE), 0);
    EXPECT_EQ(net.GetParents(u).GetCount(), 1);
    EXPECT_EQ(DimsOf(Table(u)), (Dims{3, 1}));
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{1, 2, 3}));
    EXPECT_TRUE(Def(u)->IsValid());
}

TEST_F(TableDefinition, WrongShapeIsRefusedAndNeverApplied) {
    const int a = Add(QNL_TYPE_CPT, "A");
    const int b = Add(QNL_TYPE_CPT, "B", {"b0", "b1", "b2"});
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    ASSERT_EQ(net.AddArc(b, u), 0);
    FillDistinct(u);
    const std::vector<double> before = ValuesOf(Def(u));

    for (const Dims& shape : {Dims{3, 2, 1}, Dims{6}, Dims{2, 3}, Dims{2, 3, 1, 1}, Dims{}}) {
        QNL_Dmatrix matrix;
        if (!shape.empty()) {
            ASSERT_EQ(matrix.Setup(shape.data(), static_cast<int>(shape.size())), 0);
        }
        matrix.FillWith(9.0);
        EXPECT_EQ(Def(u)->SetDefinition(matrix), -2) << shape.size();
        EXPECT_EQ(ValuesOf(Def(u)), before);
        EXPECT_EQ(DimsOf(Table(u)), (Dims{2, 3, 1}));
    }
    const Dims right{2, 3, 1};
    QNL_Dmatrix matrix;
    ASSERT_EQ(matrix.Setup(right.data(), 3), 0);
    matrix.FillWith(9.0);
    EXPECT_EQ(Def(u)->SetDefinition(matrix), 0);
    EXPECT_EQ(ValuesOf(Def(u)), std::vector<double>(6, 9.0));

    EXPECT_EQ(Def(u)->SetDefinition(ArrayOf({1, 2, 3})), -2);
    EXPECT_EQ(Table(u)->SetUtilities(ArrayOf({1, 2, 3, 4, 5, 6, 7})), -2);
    EXPECT_EQ(ValuesOf(Def(u)), std::vector<double>(6, 9.0));
    EXPECT_EQ(Def(u)->SetDefinition(ArrayOf({1, 2, 3, 4, 5, 6})), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{1, 2, 3, 4, 5, 6}));

    QNL_Dmatrix* own = nullptr;
    ASSERT_EQ(Def(u)->GetDefinition(&own), 0);
    EXPECT_EQ(own, &Table(u)->GetTable());
}

TEST_F(TableDefinition, MinimumAndMaximumSkipUndefinedCells) {
    const int a = Add(QNL_TYPE_CPT, "A", {"a0", "a1", "a2", "a3"});
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    Fill(u, {kUndefined, -4, 12, kUndefined});
    EXPECT_EQ(Table(u)->GetMinimumUtility(), -4);
    EXPECT_EQ(Table(u)->GetMaximumUtility(), 12);
    Fill(u, {kUndefined, kUndefined, kUndefined, kUndefined});
    EXPECT_EQ(Table(u)->GetMinimumUtility(), kUndefined);
    EXPECT_EQ(Table(u)->GetMaximumUtility(), kUndefined);
    ASSERT_EQ(Def(u)->CleanUp(1), 0);
    EXPECT_EQ(Def(u)->GetSize(), 0);
    EXPECT_EQ(Table(u)->GetMinimumUtility(), kUndefined);
}

class Rescale : public TableDefinition {
protected:
    void SetUp() override {
        TableDefinition::SetUp();
        a = Add(QNL_TYPE_CPT, "A", {"a0", "a1", "a2", "a3"});
        u = Add(QNL_TYPE_TABLE, "U");
        ASSERT_EQ(net.AddArc(a, u), 0);
        Fill(u, {10, 20, 30, kUndefined});
    }
    int a = -1;
    int u = -1;
};

TEST_F(Rescale, ReferenceRangeIsTakenOrWidenedFromTheTable) {
    EXPECT_EQ(Table(u)->RescaleUtilities(0, 0, 0, 1), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{0, 0.5, 1, kUndefined}));
    Fill(u, {10, 20, 30, kUndefined});
    EXPECT_EQ(Table(u)->RescaleUtilities(15, 25, 0, 1), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{0, 0.5, 1, kUndefined}));
    Fill(u, {10, 20, 30, kUndefined});
    EXPECT_EQ(Table(u)->RescaleUtilities(10, 30, 10, 30), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{10, 20, 30, kUndefined}));
}

TEST_F(Rescale, DegenerateRangesGiveTheUpperTarget) {
    EXPECT_EQ(Table(u)->RescaleUtilities(0, 0, 5, 5), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{5, 5, 5, kUndefined}));
    Fill(u, {7, 7, kUndefined, 7});
    EXPECT_EQ(Table(u)->RescaleUtilities(0, 0, -1, 1), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{1, 1, kUndefined, 1}));
    Fill(u, {kUndefined, kUndefined, kUndefined, kUndefined});
    EXPECT_EQ(Table(u)->RescaleUtilities(0, 0, 0, 1), 0);
    EXPECT_EQ(Table(u)->RescaleUtilities(0, 10, 0, 1), 0);
    EXPECT_EQ(ValuesOf(Def(u)), std::vector<double>(4, kUndefined));
}

TEST_F(Rescale, NonFiniteBoundsAreRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Table(u)->RescaleUtilities(nan, 0, 0, 1), -2);
    EXPECT_EQ(Table(u)->RescaleUtilities(0, 0, 0, inf), -2);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{10, 20, 30, kUndefined}));
}

TEST_F(Rescale, MatchesTheLinearMapOnRandomTables) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> draw(-100, 100);
    for (int round = 0; round < 50; ++round) {
        std::vector<double> values = {draw(rng), draw(rng), draw(rng), draw(rng)};
        Fill(u, values);
        double lo = draw(rng), hi = draw(rng);
        const double tlo = draw(rng), thi = draw(rng);
        ASSERT_EQ(Table(u)->RescaleUtilities(lo, hi, tlo, thi), 0);
        if (lo == hi) {
            lo = *std::min_element(values.begin(), values.end());
            hi = *std::max_element(values.begin(), values.end());
        }
        lo = std::min(lo, *std::min_element(values.begin(), values.end()));
        hi = std::max(hi, *std::max_element(values.begin(), values.end()));
        const std::vector<double> got = ValuesOf(Def(u));
        for (std::size_t i = 0; i < values.size(); ++i)
            EXPECT_NEAR(got[i], tlo + (values[i] - lo) * (thi - tlo) / (hi - lo), 1e-9);
    }
}

TEST_F(TableDefinition, EvidenceParentLeavesItsObservedSlice) {
    const int a = Add(QNL_TYPE_CPT, "A", {"a0", "a1", "a2"});
    const int d = Add(QNL_TYPE_LIST, "D");
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    ASSERT_EQ(net.AddArc(d, u), 0);
    FillDistinct(u); // (a, d): 1 2 / 3 4 / 5 6
    EXPECT_EQ(Def(u)->AbsorbParentEvidence(a), -2);
    ASSERT_EQ(net.GetNode(a)->GetValue()->SetEvidence(2), 0);
    EXPECT_EQ(Def(u)->MarginalizeParent(a), -2);
    ASSERT_EQ(Def(u)->AbsorbParentEvidence(a), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{5, 6}));
    EXPECT_EQ(DimsOf(Table(u)), (Dims{2, 1}));
    // The arc stays until removed, and removing it changes the table no further.
    ASSERT_EQ(net.RemoveArc(a, u), 0);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{5, 6}));
}

TEST_F(TableDefinition, MarginalizingWeighsByThePrior) {
    const int a = Add(QNL_TYPE_CPT, "A");
    const int d = Add(QNL_TYPE_LIST, "D", {"x", "y", "z"});
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    ASSERT_EQ(net.AddArc(d, u), 0);
    ASSERT_EQ(dynamic_cast<QNL_cpt*>(Def(a))->SetProbabilities(ArrayOf({0.25, 0.75})), 0);
    Fill(u, {4, 8, 12, 0, 4, -8});
    EXPECT_EQ(Def(u)->MarginalizeParent(d), -2);
    ASSERT_EQ(Def(u)->MarginalizeParent(a), 0);
    const std::vector<double> got = ValuesOf(Def(u));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_DOUBLE_EQ(got[0], 0.25 * 4 + 0.75 * 0);
    EXPECT_DOUBLE_EQ(got[1], 0.25 * 8 + 0.75 * 4);
    EXPECT_DOUBLE_EQ(got[2], 0.25 * 12 + 0.75 * -8);
}

TEST_F(TableDefinition, ConvertsFromProbabilityUtilityAndDecisionDefinitions) {
    const int a = Add(QNL_TYPE_CPT, "A");
    const int d = Add(QNL_TYPE_LIST, "D", {"x", "y", "z"});
    const int x = Add(QNL_TYPE_CPT, "X");
    ASSERT_EQ(net.AddArc(a, x), 0);
    ASSERT_EQ(net.AddArc(d, x), 0);
    // A probability table keeps its parents; its cells are no utilities.
    ASSERT_EQ(net.GetNode(x)->SetType(QNL_TYPE_TABLE), 0);
    ASSERT_NE(Table(x), nullptr);
    EXPECT_EQ(net.GetParents(x).GetCount(), 2);
    EXPECT_EQ(DimsOf(Table(x)), (Dims{2, 3, 1}));
    EXPECT_EQ(ValuesOf(Def(x)), std::vector<double>(6, 0.0));

    // Another utility table of the same shape gives its cells.
    FillDistinct(x);
    QNL_table copy(x, &net);
    ASSERT_EQ(copy.Assign(*Def(x)), 0);
    EXPECT_EQ(ValuesOf(&copy), (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(copy.Assign(copy), 0);
    // A source without utilities of its own leaves a zero table, never an empty one.
    Foreign equation(x, &net, QNL_TYPE_EQUATION);
    ASSERT_EQ(copy.Assign(equation), 0);
    EXPECT_EQ(DimsOf(&copy), (Dims{2, 3, 1}));
    EXPECT_EQ(ValuesOf(&copy), std::vector<double>(6, 0.0));

    // A decision loses its informational arcs and gives a single utility.
    ASSERT_EQ(net.AddArc(a, d), 0);
    QNL_table converted(d, &net);
    ASSERT_EQ(converted.Assign(*Def(d)), 0);
    EXPECT_EQ(ValuesOf(&converted), (std::vector<double>{0.0}));
    EXPECT_EQ(net.GetParents(d).GetCount(), 0);
}

TEST_F(TableDefinition, RefusedConversionLeavesTheTableAsItWas) {
    const int a = Add(QNL_TYPE_CPT, "A");
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    Fill(u, {1, 2});
    for (int type : {QNL_TYPE_CAST, QNL_TYPE_DEMORGAN, QNL_TYPE_DISTRIBUTION, QNL_TYPE_HEQUATION,
                     QNL_TYPE_DCHILDHPARENT}) {
        Foreign source(a, &net, type);
        EXPECT_EQ(Def(u)->Assign(source), -2) << type;
        EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{1, 2})) << type;
        EXPECT_EQ(Def(u)->GetHandle(), u);
    }
    Foreign unbound(-1, nullptr, QNL_TYPE_TABLE);
    EXPECT_EQ(Def(u)->Assign(unbound), -567);
    EXPECT_EQ(ValuesOf(Def(u)), (std::vector<double>{1, 2}));
}

TEST_F(TableDefinition, CopiesAreFullAndFollowTheirOwnNetwork) {
    const int a = Add(QNL_TYPE_CPT, "A");
    const int d = Add(QNL_TYPE_LIST, "D");
    const int u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    ASSERT_EQ(net.AddArc(d, u), 0);
    FillDistinct(u);
    const Cells before = Read(u);

    QNL_nodeDefinition* copy = Def(u)->CreateCopy();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(ValuesOf(copy), ValuesOf(Def(u)));
    EXPECT_EQ(DimsOf(dynamic_cast<QNL_table*>(copy)), (Dims{2, 2, 1}));
    Fill(u, {0, 0, 0, 0});
    EXPECT_EQ(ValuesOf(copy), (std::vector<double>{1, 2, 3, 4}));
    delete copy;
    FillDistinct(u);

    QNL_network other(net);
    ASSERT_NE(dynamic_cast<QNL_table*>(other.GetNode(u)->GetDefinition()), nullptr);
    ASSERT_EQ(other.GetNode(d)->GetDefinition()->AddOutcome("later"), 0);
    EXPECT_EQ(other.GetNode(u)->GetDefinition()->GetSize(), 6);
    EXPECT_EQ(Read(u), before);
    EXPECT_EQ(Def(u)->GetSize(), 4);
}

} // namespace
