#include "definitions/node_value.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The copy's table is larger than the destination's was, and an observed node lies beyond
// the destination's old size.
TEST(NetworkCopy, CopyingObservedNodesIntoASmallerNetworkKeepsTheirEvidence) {
    QNL_network source;
    for (int i = 0; i < 120; ++i)
        ASSERT_GE(source.AddNode(QNL_TYPE_CPT, ("N" + std::to_string(i)).c_str()), 0);
    const int last = source.FindNode("N119");
    ASSERT_EQ(source.GetNode(last)->GetValue()->SetEvidence(1), 0);
    QNL_network destination;
    ASSERT_EQ(destination.CopyNodes(source), 0);
    ASSERT_EQ(destination.CopyNodes(source), 0);
    EXPECT_EQ(destination.GetNode(last)->GetValue()->GetEvidence(), 1);
    EXPECT_EQ(destination.ClearAllEvidence(), 0);
    EXPECT_FALSE(destination.GetNode(last)->GetValue()->IsObserved());
}

} // namespace
