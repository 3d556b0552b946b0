#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "definitions/table.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"
#include "support/arcs.h"
#include "support/network_builder.h"
#include "support/table_cells.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr double kUndefined = 2 * DBL_MIN;

using namespace quarn_test;
using Dims = std::vector<int>;
using Foreign = ForeignDefinition;

Dims DimsOf(QNL_nodeDefinition* definition) {
    const QNL_intArray& dims = definition->GetMatrix()->GetDimensions();
    return Dims(dims.Items(), dims.Items() + dims.GetSize());
}

// The tests of the table shared by the probability and utility tables, and of the utility
// table itself.
class TableDefinition : public NetworkFixture {
protected:
    int Add(int type, const char* id, std::vector<std::string> outcomes = {}) {
        const int handle = NetworkFixture::Add(type, id);
        if (!outcomes.empty()) {
            EXPECT_EQ(Def(handle)->SetNumberOfOutcomes(StringsOf(outcomes)), 0);
        }
        return handle;
    }
    QNL_table* Table(int node) { return dynamic_cast<QNL_table*>(Def(node)); }
    void Fill(int node, const std::vector<double>& values) {
        ASSERT_EQ(Def(node)->SetDefinition(ArrayOf(values)), 0);
    }
    // Distinct cells in storage order. A probability table gets distinct columns that sum to
    // 1 exactly (dyadic fractions), so that normalising them changes no bit.
    void FillDistinct(int node) {
        std::vector<double> values(static_cast<std::size_t>(Def(node)->GetSize()));
        const int n = Def(node)->GetType() == QNL_TYPE_TABLE ? 1 : Def(node)->GetNumberOfOutcomes();
        for (std::size_t start = 0; start < values.size(); start += n) {
            double rest = 1.0;
            for (int k = 0; k + 1 < n; ++k)
                rest -= values[start + k] = static_cast<double>(start + k + 1) / 65536.0;
            values[start + n - 1] = n == 1 ? static_cast<double>(start + 1) : rest;
        }
        Fill(node, values);
    }
};

TEST_F(TableDefinition, UtilityTableHasOneCellPerParentCombinationAndNoOutcomes) {
    const int u = Add(QNL_TYPE_TABLE, "U");
    EXPECT_EQ(DimsOf(Def(u)), (Dims{1}));
    EXPECT_EQ(Values(u), (std::vector<double>{0.0}));
    EXPECT_EQ(Def(u)->GetOutcomeIds(), nullptr);
    for (int result :
         {Def(u)->GetNumberOfOutcomes(), Def(u)->AddOutcome("x"), Def(u)->SetNumberOfOutcomes(3)})
        EXPECT_EQ(result, -51);
    const int a = Add(QNL_TYPE_CPT, "A"), d = Add(QNL_TYPE_LIST, "D", {"x", "y", "z"});
    Arcs(net, {a, d}, u);
    EXPECT_EQ(DimsOf(Def(u)), (Dims{2, 3, 1}));
    QNL_table rebuilt(u, &net); // created with its parents in place: the same shape
    EXPECT_EQ(DimsOf(&rebuilt), (Dims{2, 3, 1}));

    // Parents without outcomes, and utilities of another count or shape, are refused.
    const int v = Add(QNL_TYPE_TABLE, "V");
    EXPECT_EQ(net.AddArc(v, u), -51);
    QNL_Dmatrix transposed(IntsOf({3, 2, 1}));
    for (int result :
         {Def(u)->AddParent(v), Def(u)->AddParent(1000), Def(u)->AddParent(-1),
          Def(u)->RemoveParent(1000), Def(u)->InsertParentOutcome(1000, 0),
          Table(u)->SetUtilities(ArrayOf({1, 2, 3, 4, 5, 6, 7})),
          Def(u)->SetDefinition(ArrayOf({1, 2, 3})), Def(u)->SetDefinition(transposed)})
        EXPECT_EQ(result, -2);
    EXPECT_EQ(DimsOf(Def(u)), (Dims{2, 3, 1}));
    EXPECT_EQ(Values(u), std::vector<double>(6, 0.0));
}

// Random edits of the parents, their outcomes and the arcs of a utility table and of a
// probability table (and of the probability table's own outcomes), each checked against the
// cells as they were: a cell whose coordinates still exist keeps its value, a new parent
// combination gets the fresh value (0 for utilities, a uniform column for probabilities), a
// new own outcome gets 0, a new parent repeats the old cells, and a removed parent leaves the
// slice of its first outcome. Refused edits change nothing, and a probability table is ready
// exactly when its columns sum to 1.
TEST_F(TableDefinition, CellsFollowRandomParentEditsLikeBruteForce) {
    const std::vector<int> parents = {Add(QNL_TYPE_CPT, "A", {"a0", "a1", "a2"}),
                                      Add(QNL_TYPE_LIST, "D"), Add(QNL_TYPE_TRUTHTABLE, "T"),
                                      Add(QNL_TYPE_CPT, "B")};
    for (int type : {QNL_TYPE_TABLE, QNL_TYPE_CPT}) {
        SCOPED_TRACE(type == QNL_TYPE_TABLE ? "utility table" : "probability table");
        const bool cpt = type == QNL_TYPE_CPT;
        const int u = Add(type, cpt ? "P" : "U", {});
        if (cpt) {
            ASSERT_EQ(Def(u)->SetNumberOfOutcomes(3), 0);
        }
        std::vector<int> candidates = parents;
        if (cpt) candidates.push_back(u);
        const double margin = cpt ? 1e-15 : 0.0;
        Arcs(net, {candidates[0], candidates[1]}, u);
        FillDistinct(u);

        std::mt19937 rng(12345);
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        int made = 0;
        auto newId = [&] { return "n" + std::to_string(made++); };
        auto shuffled = [&](int n) {
            std::vector<int> order(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i)
                order[static_cast<std::size_t>(i)] = i;
            std::shuffle(order.begin(), order.end(), rng);
            return order;
        };
        for (int step = 0; step < 300; ++step) {
            const int p = candidates[static_cast<std::size_t>(pick(int(candidates.size())))];
            QNL_nodeDefinition* parent = Def(p);
            const int n = parent->GetNumberOfOutcomes();
            const std::string parentId = net.GetNode(p)->GetId();
            const bool isParent = net.GetParents(u).IsInList(p) != 0;
            const Cells before = ReadCells(net, u);
            std::set<std::string> ownBefore;
            for (const auto& cell : before)
                if (cpt) ownBefore.insert(cell.first.at("P"));
            int kind = pick(9);
            // Parents that grew large shrink again, so the table stays small enough.
            if ((kind == 0 || kind == 1) && n >= 6) kind = 2;
            if ((kind == 5 || kind == 6) && p == u) kind = 7;
            int result = 0;
            switch (kind) {
            case 0:
                result = parent->AddOutcome(newId().c_str());
                break;
            case 1:
                result = parent->InsertOutcome(pick(n + 1), newId().c_str());
                break;
            case 2:
                if (n < 3) continue;
                result = parent->RemoveOutcome(pick(n));
                break;
            case 3:
                result = parent->ReorderOutcomes(IntsOf(shuffled(n)));
                break;
            case 4: { // some outcomes kept, some new, in a random order
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
                std::vector<std::string> shuffledIds;
                std::vector<int> shuffledMap;
                for (int i : shuffled(static_cast<int>(ids.size()))) {
                    shuffledIds.push_back(ids[static_cast<std::size_t>(i)]);
                    shuffledMap.push_back(map[static_cast<std::size_t>(i)]);
                }
                result = parent->ChangeOutcomes(StringsOf(shuffledIds), IntsOf(shuffledMap));
                break;
            }
            case 5:
                result = isParent ? net.RemoveArc(p, u) : net.AddArc(p, u);
                break;
            case 6:
                result = net.ReorderParents(u, IntsOf(shuffled(net.GetParents(u).GetCount())));
                break;
            case 7: { // refused: nothing may change
                const std::vector<std::string> ids = IdsOf(parent);
                std::vector<int> repeated = shuffled(n);
                repeated[0] = repeated[1];
                const int refusals[] = {
                    parent->InsertOutcome(n + 1, "far"),
                    parent->InsertOutcome(-1, "far"),
                    parent->RemoveOutcome(n),
                    parent->RemoveOutcome(-1),
                    n == 2 ? parent->RemoveOutcome(0) : -2, // two outcomes are the least
                    parent->ReorderOutcomes(IntsOf(repeated)),
                    parent->ReorderOutcomes(IntsOf(shuffled(n - 1))),
                    parent->ChangeOutcomes(StringsOf({"only"}), IntsOf({-1})),
                    parent->ChangeOutcomes(StringsOf({"a", "b"}), IntsOf({0, 0})),
                    parent->ChangeOutcomes(StringsOf({"a", "a"}), IntsOf({0, 1}))};
                for (int refused : refusals)
                    ASSERT_EQ(refused, -2) << "step " << step << " on " << parentId;
                ASSERT_EQ(IdsOf(parent), ids) << "step " << step;
                ASSERT_EQ(ReadCells(net, u), before) << "step " << step;
                continue;
            }
            default:
                FillDistinct(u);
                continue;
            }
            ASSERT_EQ(result, 0) << "step " << step << " kind " << kind << " on " << parentId;
            const Cells after = ReadCells(net, u);
            ASSERT_FALSE(after.empty()) << "step " << step;
            if (kind == 5 && isParent) {
                const std::string firstOutcome = IdsOf(parent)[0];
                ASSERT_EQ(after.size() * static_cast<std::size_t>(n), before.size());
                for (const auto& [key, value] : before)
                    if (key.at(parentId) == firstOutcome) {
                        ASSERT_EQ(after.at(Without(key, parentId)), value) << "step " << step;
                    }
                continue;
            }
            const double uniform = cpt ? 1.0 / Def(u)->GetNumberOfOutcomes() : 0.0;
            Cells sums;
            for (const auto& [key, value] : after) {
                const auto found = before.find(kind == 5 ? Without(key, parentId) : key);
                const double fresh = !cpt || ownBefore.count(key.at("P")) ? uniform : 0.0;
                ASSERT_NEAR(value, found != before.end() ? found->second : fresh, margin)
                    << "step " << step << " kind " << kind << " on " << parentId;
                if (cpt) sums[Without(key, "P")] += value;
            }
            if (!cpt) continue;
            bool ready = true;
            for (const auto& column : sums)
                ready = ready && std::abs(column.second - 1.0) < 1e-6;
            Def(u)->CheckReadiness(1);
            ASSERT_EQ(Def(u)->IsReady(), ready) << "step " << step << " kind " << kind;
            // Parent edits normalise the columns: start them from normalised ones again.
            if (!ready) FillDistinct(u);
        }
        for (int p : parents)
            if (net.GetParents(u).IsInList(p)) {
                ASSERT_EQ(net.RemoveArc(p, u), 0);
            }
    }
}

// Evidence and marginalisation of a parent, shared by the probability and utility tables.
TEST_F(TableDefinition, ObservedParentLeavesItsSliceAndARootParentIsSummedByItsPrior) {
    const int a = Add(QNL_TYPE_CPT, "A", {"a0", "a1", "a2"}), b = Add(QNL_TYPE_CPT, "B");
    const int d = Add(QNL_TYPE_LIST, "D");
    ASSERT_EQ(dynamic_cast<QNL_cpt*>(Def(a))->SetProbabilities(ArrayOf({0.2, 0.3, 0.5})), 0);
    for (int type : {QNL_TYPE_TABLE, QNL_TYPE_CPT}) {
        SCOPED_TRACE(type);
        const int c = Add(type, type == QNL_TYPE_TABLE ? "U" : "C");
        Arcs(net, {a, b, d}, c);
        FillDistinct(c);
        const Cells before = ReadCells(net, c);
        EXPECT_EQ(Def(c)->MarginalizeParent(d), -2); // a decision has no prior
        ASSERT_EQ(Def(c)->MarginalizeParent(a), 0);
        ASSERT_EQ(net.RemoveArc(a, c), 0);
        for (const auto& [key, value] : ReadCells(net, c)) {
            double sum = 0.0;
            for (const char* outcome : {"a0", "a1", "a2"})
                sum += Values(a)[static_cast<std::size_t>(outcome[1] - '0')] *
                       before.at(With(key, "A", outcome));
            EXPECT_NEAR(value, sum, 1e-12);
        }
        // A parent with parents of its own has no prior; an observed one is refused, and its
        // evidence is absorbed instead.
        ASSERT_EQ(net.AddArc(a, b), 0);
        const std::vector<double> kept = Values(c);
        EXPECT_EQ(Def(c)->MarginalizeParent(b), -2);
        ASSERT_EQ(net.RemoveArc(a, b), 0);
        EXPECT_EQ(Def(c)->AbsorbParentEvidence(b), -2); // no evidence yet
        ASSERT_EQ(net.GetNode(b)->GetValue()->SetEvidence(1), 0);
        EXPECT_EQ(Def(c)->MarginalizeParent(b), -2);
        EXPECT_EQ(Values(c), kept);
        const Cells observed = ReadCells(net, c);
        ASSERT_EQ(Def(c)->AbsorbParentEvidence(b), 0);
        EXPECT_EQ(DimsOf(Def(c)).size(), 2u);
        // The arc can go afterwards without taking another dimension with it.
        ASSERT_EQ(net.RemoveArc(b, c), 0);
        for (const auto& [key, value] : ReadCells(net, c))
            EXPECT_EQ(value, observed.at(With(key, "B", "State1")));
        ASSERT_EQ(net.GetNode(b)->GetValue()->ClearEvidence(), 0);
    }
}

TEST_F(TableDefinition, ParentThatChangesTypeKeepsOrLosesItsDimension) {
    const int a = Add(QNL_TYPE_CPT, "A"), b = Add(QNL_TYPE_CPT, "B", {"b0", "b1", "b2"});
    const int u = Add(QNL_TYPE_TABLE, "U");
    Arcs(net, {a, b}, u);
    FillDistinct(u);
    const Cells before = ReadCells(net, u);
    // A decision made from the chance node keeps its outcomes and so its dimension.
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_LIST), 0);
    EXPECT_EQ(ReadCells(net, u), before);
    // A utility parent loses its arc, and the table keeps the slice of its first outcome.
    ASSERT_EQ(net.GetNode(a)->SetType(QNL_TYPE_TABLE), 0);
    EXPECT_EQ(net.GetParents(u).GetCount(), 1);
    EXPECT_EQ(DimsOf(Def(u)), (Dims{3, 1}));
    EXPECT_EQ(Values(u), (std::vector<double>{1, 2, 3}));
}

// The table and a utility value rescale by separate code; both take the same cases.
TEST_F(TableDefinition, ExtremesAndRescalingSkipUndefinedCells) {
    const int a = Add(QNL_TYPE_CPT, "A", {"a0", "a1", "a2", "a3"}), u = Add(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(a, u), 0);
    Fill(u, {kUndefined, -4, 12, kUndefined});
    EXPECT_EQ(Table(u)->GetMinimumUtility(), -4);
    EXPECT_EQ(Table(u)->GetMaximumUtility(), 12);
    QNL_utilityValue value(&net, u);
    ASSERT_EQ(value.SetValue(*Def(u)->GetMatrix()), 0);
    EXPECT_EQ(std::make_pair(value.GetMinimum(), value.GetMaximum()), std::make_pair(-4.0, 12.0));
    // Rescales by both: the cells of the table, and the result codes must agree.
    auto rescaled = [&](const std::vector<double>& cells, double low, double high, double tlo,
                        double thi, int& result) {
        Fill(u, cells);
        QNL_Dmatrix m(IntsOf({4, 1}));
        for (int i = 0; i < 4; ++i)
            m.Subscript(i) = cells[static_cast<std::size_t>(i)];
        EXPECT_EQ(value.SetValue(m), 0);
        result = Table(u)->RescaleUtilities(low, high, tlo, thi);
        EXPECT_EQ(value.Rescale(low, high, tlo, thi), result);
        const QNL_Dmatrix* out = value.GetMatrix();
        EXPECT_EQ(std::vector<double>(out->GetItems().Items(), out->GetItems().Items() + 4),
                  Values(u));
        return Values(u);
    };

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> given = {10, 20, 30, kUndefined};
    struct Case {
        std::vector<double> cells;
        double low, high, targetLow, targetHigh;
        int result;
        std::vector<double> expected;
    };
    const Case cases[] = {
        // The reference range is taken from the table when empty, and widened to it.
        {given, 0, 0, 0, 1, 0, {0, 0.5, 1, kUndefined}},
        {given, 15, 25, 0, 1, 0, {0, 0.5, 1, kUndefined}},
        {{8, 16, 24, kUndefined}, 0, 32, 0, 4, 0, {1, 2, 3, kUndefined}},
        {given, 0, 0, 1, 0, 0, {1, 0.5, 0, kUndefined}}, // a mirror
        // Degenerate ranges give the upper target.
        {given, 0, 0, 5, 5, 0, {5, 5, 5, kUndefined}},
        {{7, 7, kUndefined, 7}, 0, 0, -1, 1, 0, {1, 1, kUndefined, 1}},
        {std::vector<double>(4, kUndefined), 0, 10, 0, 1, 0, std::vector<double>(4, kUndefined)},
        // Non-finite bounds are refused.
        {given, nan, 0, 0, 1, -2, given},
        {given, 0, 0, 0, inf, -2, given},
    };
    for (const Case& c : cases) {
        int result = 1;
        EXPECT_EQ(rescaled(c.cells, c.low, c.high, c.targetLow, c.targetHigh, result), c.expected)
            << c.low << " " << c.high << " " << c.targetHigh;
        EXPECT_EQ(result, c.result);
    }
    ASSERT_EQ(Table(u)->SetUtilities(ArrayOf(std::vector<double>(4, kUndefined))), 0);
    EXPECT_EQ(Table(u)->GetMinimumUtility(), kUndefined);
    EXPECT_EQ(Table(u)->GetMaximumUtility(), kUndefined);

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> draw(-100, 100);
    for (int round = 0; round < 50; ++round) {
        const std::vector<double> values = {draw(rng), draw(rng), draw(rng), draw(rng)};
        double lo = draw(rng), hi = draw(rng);
        const double tlo = draw(rng), thi = draw(rng);
        int result = 1;
        const std::vector<double> out = rescaled(values, lo, hi, tlo, thi, result);
        ASSERT_EQ(result, 0);
        lo = std::min(lo, *std::min_element(values.begin(), values.end()));
        hi = std::max(hi, *std::max_element(values.begin(), values.end()));
        for (std::size_t i = 0; i < values.size(); ++i)
            EXPECT_NEAR(out[i], tlo + (values[i] - lo) * (thi - tlo) / (hi - lo), 1e-9);
    }
    ASSERT_EQ(Def(u)->CleanUp(1), 0);
    EXPECT_EQ(Def(u)->GetSize(), 0);
    EXPECT_EQ(Table(u)->GetMinimumUtility(), kUndefined);
}

TEST_F(TableDefinition, UtilityConvertsFromProbabilityUtilityAndDecisionDefinitions) {
    const int a = Add(QNL_TYPE_CPT, "A"), d = Add(QNL_TYPE_LIST, "D", {"x", "y", "z"});
    const int x = Add(QNL_TYPE_CPT, "X");
    Arcs(net, {a, d}, x);
    // A probability table keeps its parents; its cells are no utilities.
    ASSERT_EQ(net.GetNode(x)->SetType(QNL_TYPE_TABLE), 0);
    EXPECT_EQ(DimsOf(Def(x)), (Dims{2, 3, 1}));
    EXPECT_EQ(Values(x), std::vector<double>(6, 0.0));
    // A source without utilities of its own leaves a zero table, never an empty one.
    FillDistinct(x);
    QNL_table copy(x, &net);
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

// Every table type: a copy, by CreateCopy, Assign or a copied network, holds the same
// outcomes and cells and changes independently of its source; a source of another type
// without a conversion (-2) or not valid (-567) changes nothing.
TEST_F(TableDefinition, CopiesAreFullAndIndependentAndRefusedSourcesChangeNothing) {
    const int a = Add(QNL_TYPE_CPT, "A", {"a0", "a1", "a2"}), c = Add(QNL_TYPE_CPT, "C");
    Arcs(net, {a}, c);
    for (int type : {QNL_TYPE_CPT, QNL_TYPE_TRUTHTABLE, QNL_TYPE_TABLE, QNL_TYPE_LIST}) {
        SCOPED_TRACE(type);
        const int node = Add(type, ("N" + std::to_string(type)).c_str());
        if (type != QNL_TYPE_LIST) Arcs(net, {a}, node);
        if (type == QNL_TYPE_TRUTHTABLE) {
            ASSERT_EQ(Def(node)->SetResultingStates(IntsOf({1, 0, 1})), 0);
        } else if (type == QNL_TYPE_LIST) {
            Fill(node, {1, 2});
        } else {
            FillDistinct(node);
        }
        const std::vector<double> values = Values(node);
        const std::vector<std::string> ids =
            type == QNL_TYPE_TABLE ? std::vector<std::string>{} : IdsOf(Def(node));
        std::unique_ptr<QNL_nodeDefinition> copy(Def(node)->CreateCopy()),
            assigned(Def(node)->CreateCopy());
        EXPECT_EQ(copy->GetType() * 1000 + copy->GetHandle(), type * 1000 + node);
        EXPECT_EQ(assigned->Assign(*Def(node)), 0);
        EXPECT_EQ(assigned->Assign(*assigned), 0);
        EXPECT_EQ(ValuesOf(assigned.get()), values);
        if (type != QNL_TYPE_TABLE) {
            ASSERT_EQ(Def(node)->RenameOutcome(0, "other"), 0);
            EXPECT_EQ(IdsOf(copy.get()), ids);
        }
        Fill(node, std::vector<double>(values.size(), 0.0));
        EXPECT_EQ(ValuesOf(copy.get()), values);
        Fill(node, values);
        {
            QNL_network other(net);
            QNL_nodeDefinition* copied = other.GetNode(node)->GetDefinition();
            EXPECT_EQ(copied->GetNetwork(), &other);
            EXPECT_EQ(ValuesOf(copied), values);
            ASSERT_EQ(other.GetNode(a)->GetDefinition()->AddOutcome("later"), 0);
            if (type != QNL_TYPE_LIST) {
                EXPECT_EQ(copied->GetSize(), Def(node)->GetSize() / 3 * 4);
            }
            EXPECT_EQ(Values(node), values);
        }
        std::vector<int> foreigns = {QNL_TYPE_CAST, QNL_TYPE_DEMORGAN, QNL_TYPE_DISTRIBUTION,
                                     QNL_TYPE_HEQUATION, QNL_TYPE_DCHILDHPARENT};
        if (type == QNL_TYPE_CPT) foreigns.push_back(QNL_TYPE_TABLE);
        if (type == QNL_TYPE_LIST) foreigns.push_back(QNL_TYPE_MAU);
        for (int foreign : foreigns)
            EXPECT_EQ(Def(node)->Assign(Foreign(c, &net, foreign)), -2) << foreign;
        EXPECT_EQ(Def(node)->Assign(Foreign(-1, nullptr, type)), -567);
        EXPECT_EQ(Values(node), values);
        EXPECT_EQ(Def(node)->GetHandle(), node);
    }
}

} // namespace
