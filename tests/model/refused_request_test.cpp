#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace quarn_test;

bool Logged(const std::string& text) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (std::string(log.GetMessage(i)).find(text) != std::string::npos) return true;
    return false;
}

using RefusedRequest = NetworkFixture;

TEST_F(RefusedRequest, NavigationFromANegativeHandleEnds) {
    const int a = Add(QNL_TYPE_CPT, "a");
    const int b = Add(QNL_TYPE_CPT, "b");
    const std::pair<int, int> steps[] = {{-1, -2}, {-7, -2}, {a, b}, {b, -2}};
    for (const auto& [from, next] : steps)
        EXPECT_EQ(net.GetNextNode(from), next) << "after " << from;
    EXPECT_EQ(net.GetFirstNode(), a);
}

// 128 outcomes over a parent of 16384 give 2^21 cells; a second parent may multiply that by
// 128 at most.
TEST_F(RefusedRequest, ArcThatWouldGrowTheChildTablePastTheCapIsRefusedFirst) {
    const int child = AddWithOutcomes(QNL_TYPE_CPT, "child", 128);
    const int wide = AddWithOutcomes(QNL_TYPE_CPT, "wide", 16384);
    const int over = AddWithOutcomes(QNL_TYPE_CPT, "over", 129);
    ASSERT_EQ(net.AddArc(wide, child), 0);
    EXPECT_EQ(net.AddArc(over, child), -42);
    EXPECT_TRUE(Logged("[child]"));
    EXPECT_EQ(net.NumberOfParents(child, 0), 1);
    EXPECT_EQ(net.NumberOfChildren(over, 0), 0);
    EXPECT_EQ(Def(child)->GetSize(), 1 << 21);
}

// A table that fails the readiness check (as read from a file, or edited in place) is never
// evaluated: the update names the node and leaves no belief standing.
TEST_F(RefusedRequest, UpdateOverATableThatIsNotConsistentFailsAndLeavesNothingValid) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::vector<double>> columns = {
        {-0.5, 1.5}, {nan, 1.0}, {inf, 0.0}, {0.5, 0.4}};
    for (const std::vector<double>& column : columns) {
        net.DeleteAllNodes();
        QNL_errorHandler::Instance().Flush();
        const int a = AddBinaryNode(net, "A", {}, {0.3});
        const int b = AddBinaryNode(net, "B", {a}, {0.9, 0.2});
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        ASSERT_EQ(Def(b)->SetDefinition(ArrayOf({column[0], column[1], 0.2, 0.8})), 0);
        EXPECT_EQ(net.UpdateBeliefs(), -568) << column[0];
        EXPECT_TRUE(Logged("Node [B] is not consistent")) << column[0];
        EXPECT_FALSE(ValueOf(net, a).IsValueValid()) << column[0];
        EXPECT_FALSE(ValueOf(net, b).IsValueValid()) << column[0];
    }
}

} // namespace
