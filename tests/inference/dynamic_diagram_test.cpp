#include "definitions/node_values.h"
#include "model/temporal_network.h"
#include "support/beliefs.h"
#include "support/decision_oracle.h"
#include "support/network_builder.h"
#include "support/random_diagram.h"
#include "support/temporal_oracle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

using namespace quarn_test;

namespace {

constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;

// A dynamic diagram: in the plate an observation C, a decision D seeing it and a utility U over
// both; C depends on the observation and the decision of the slice before. A terminal utility
// T reads the last C. Either C or D comes first in slot order: the plate is solved slice by
// slice whichever kind of node the update meets first.
struct Dynamic {
    int c, d, u, t;
};

Dynamic BuildDynamic(QNL_network& net, TestRandom& random, int slices, bool decisionFirst) {
    Dynamic g{};
    if (decisionFirst) g.d = AddDefined(net, QNL_TYPE_LIST, "D", {});
    g.c = AddDefined(net, QNL_TYPE_CPT, "C", {}, {}, 2 + random.Below(2));
    if (decisionFirst)
        EXPECT_EQ(net.AddArc(g.c, g.d), 0);
    else
        g.d = AddDefined(net, QNL_TYPE_LIST, "D", {g.c});
    auto utilities = [&](int h) {
        std::vector<double> values(net.GetNode(h)->GetDefinition()->GetSize());
        for (double& v : values)
            v = random.Below(41) - 20;
        EXPECT_EQ(net.GetNode(h)->GetDefinition()->SetDefinition(ArrayOf(values)), 0);
    };
    g.u = AddDefined(net, QNL_TYPE_TABLE, "U", {g.c, g.d}, {}, 0);
    g.t = AddDefined(net, QNL_TYPE_TABLE, "T", {g.c}, {}, 0);
    EXPECT_EQ(net.SetTemporalType(g.t, 2), 0);
    for (int h : {g.u, g.d, g.c})
        EXPECT_EQ(net.SetTemporalType(h, 3), 0);
    EXPECT_EQ(net.AddTemporalArc(g.c, g.c, 1), 0);
    EXPECT_EQ(net.AddTemporalArc(g.d, g.c, 1), 0);
    EXPECT_EQ(net.SetNumberOfSlices(slices), 0);
    FillRandom(net.GetNode(g.c)->GetDefinition(), random);
    FillRandom(net.GetTemporalNetwork().GetTemporalDefinition(g.c, 1), random);
    utilities(g.u);
    utilities(g.t);
    return g;
}

// Whether every cell the oracle defines along `table` (own outcome fastest) for own outcome o
// is `x`: the copy's numbers then depend on nothing but its own outcomes.
::testing::AssertionResult Constant(const std::vector<double>& table, int outcomes, int o,
                                    double x) {
    int defined = 0;
    for (std::size_t s = static_cast<std::size_t>(o); s < table.size();
         s += static_cast<std::size_t>(outcomes)) {
        if (std::isnan(table[s])) continue;
        ++defined;
        if (!(std::fabs(table[s] - x) <= 1e-9 * std::max(1.0, std::fabs(x))))
            return ::testing::AssertionFailure() << x << " where enumeration gives " << table[s];
    }
    if (defined == 0) return ::testing::AssertionFailure() << x << " where nothing is possible";
    return ::testing::AssertionSuccess();
}

// Findings for every slice before `known` (the observation and the decision) and for the
// observation of slice `known`: slice `known` is the one decided next, and its decision's row
// holds its expected utilities. Every row with numbers is what the hand unrolling gives; the
// others hold the undefined marker, as do values that depend on slices not yet observed.
TEST(DynamicDiagram, PlateDecisionsAndUtilitiesGetARowPerSlice) {
    int rowsCompared = 0;
    for (int round = 0; round < 32; ++round) {
        TestRandom random(4100 + round);
        const int slices = 2 + round % 3;
        const int known = round % (slices + 1);
        const bool decisionFirst = round >= 24;
        const std::string label = "round " + std::to_string(round) + ", known up to slice " +
                                  std::to_string(known) + (decisionFirst ? ", decision first" : "");
        QNL_network net;
        const Dynamic g = BuildDynamic(net, random, slices, decisionFirst);
        const int outcomes = net.GetNode(g.c)->GetDefinition()->GetNumberOfOutcomes();
        for (int s = 0; s <= known && s < slices; ++s) {
            ASSERT_EQ(net.SetSliceEvidence(g.c, s, random.Below(outcomes)), 0) << label;
            if (s < known) {
                ASSERT_EQ(net.SetSliceEvidence(g.d, s, random.Below(2)), 0) << label;
            }
        }
        ASSERT_EQ(net.UpdateBeliefs(), 0) << label;

        QNL_network hand;
        std::map<std::pair<int, int>, int> at;
        UnrollWithEvidence(net, hand, at);
        const DecisionOracle oracle = SolveByEnumeration(hand);
        ASSERT_TRUE(oracle.ok) << oracle.error;
        for (int h : {g.c, g.d, g.u}) {
            QNL_nodeValue& value = ValueOf(net, h);
            const std::string id = std::string(net.GetNode(h)->GetId()) + " " + label;
            ASSERT_TRUE(value.IsValueValid()) << id;
            ASSERT_EQ(value.GetIndexingParents().GetCount(), 0) << id;
            const int width = h == g.u ? 1 : h == g.d ? 2 : outcomes;
            ASSERT_EQ(value.GetMatrix()->GetSize(), slices * width) << id;
            for (int s = 0; s < slices; ++s) {
                const int copy = at.at({h, s});
                const bool observed = ValueOf(hand, copy).HasEvidence();
                std::vector<double> row(static_cast<std::size_t>(width));
                for (int o = 0; o < width; ++o)
                    row[static_cast<std::size_t>(o)] = value.GetMatrix()->Subscript(s * width + o);
                const bool defined = row[0] != kUndefined;
                const std::string cell = id + " slice " + std::to_string(s);
                if ((h == g.d && s == known) || (h == g.u && s < known)) {
                    EXPECT_TRUE(defined) << cell << ": everything it depends on is observed";
                }
                if (!defined || observed) continue;
                for (int o = 0; o < width; ++o) {
                    ASSERT_NE(row[static_cast<std::size_t>(o)], kUndefined) << cell;
                    const double x = row[static_cast<std::size_t>(o)];
                    if (h == g.d)
                        EXPECT_TRUE(Constant(oracle.decisionUtilities.at(copy), 2, o, x)) << cell;
                    else if (h == g.u)
                        EXPECT_TRUE(Constant(oracle.expected.at(copy), 1, 0, x)) << cell;
                    else
                        EXPECT_TRUE(Constant(Conditional(oracle, copy, {}), outcomes, o, x))
                            << cell;
                }
                ++rowsCompared;
            }
        }
        // The terminal utility reads the last slice: its expectation once all is decided.
        QNL_nodeValue& terminal = ValueOf(net, g.t);
        ASSERT_TRUE(terminal.IsValueValid()) << label;
        ASSERT_EQ(terminal.GetIndexingParents().GetCount(), 0) << label;
        const double x = terminal.GetMatrix()->Subscript(0);
        if (known == slices) {
            EXPECT_NE(x, kUndefined) << label;
        }
        if (x != kUndefined) {
            EXPECT_TRUE(Constant(oracle.expected.at(at.at({g.t, 0})), 1, 0, x)) << label;
        }
    }
    EXPECT_GT(rowsCompared, 40);
}

} // namespace
