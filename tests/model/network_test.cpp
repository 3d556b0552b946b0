#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/matrix_coordinates.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "support/network_builder.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quarn_test::AddNode;
using quarn_test::IntsOf;
using quarn_test::SetTable;

std::vector<int> ItemsOf(const QNL_intArray& array) {
    return std::vector<int>(array.Items(), array.Items() + array.GetCount());
}

std::vector<int> Shape(const QNL_Dmatrix& m) {
    std::vector<int> sizes;
    for (int d = 0; d < m.GetNumberOfDimensions(); ++d)
        sizes.push_back(m.GetSizeOfDimension(d));
    return sizes;
}

class Network : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }

    int Arc(const char* parent, const char* child, int layer = 0) {
        return net.AddArc(net.FindNode(parent), net.FindNode(child), layer);
    }
    int Node(const char* id) { return net.FindNode(id); }
    QNL_Dmatrix* TableOf(const char* id) {
        return net.GetNode(Node(id))->GetDefinition()->GetMatrix();
    }

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
};

TEST_F(Network, GrowingTheTableKeepsEveryHandle) {
    EXPECT_EQ(net.GetFirstNode(), -2);
    for (int i = 0; i < 51; ++i)
        ASSERT_EQ(AddNode(net, ("n" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(net.GetTableSize(), 100);
    for (int i = 0; i < 51; ++i) {
        EXPECT_EQ(net.FindNode(("n" + std::to_string(i)).c_str()), i);
        EXPECT_EQ(net.GetNode(i)->GetHandle(), i);
    }
    EXPECT_EQ(net.GetNextNode(50), -2);
    EXPECT_EQ(net.GetNextNode(-5), -2);
    EXPECT_EQ(net.GetLastNode(), 50);
}

TEST_F(Network, DeletedSlotIsReusedByNextNode) {
    for (int i = 0; i < 10; ++i)
        AddNode(net, ("n" + std::to_string(i)).c_str());
    ASSERT_EQ(net.DeleteNode(3), 0);
    EXPECT_EQ(net.GetNode(3), nullptr);
    EXPECT_EQ(net.DeleteNode(3), -2);
    EXPECT_EQ(net.GetNextNode(2), 4);
    EXPECT_EQ(AddNode(net, "again"), 3);
    EXPECT_EQ(net.GetNumberOfNodes(), 10);
}

TEST_F(Network, IdentifiersAreUniqueValidAndCaseSensitive) {
    EXPECT_EQ(net.AddNode(QNL_TYPE_CPT, nullptr), 0);
    EXPECT_STREQ(net.GetNode(0)->GetId(), "Node0");
    AddNode(net, "Node1");
    AddNode(net, "Node2");
    net.DeleteNode(0);
    std::string automatic;
    net.GenerateNodeId(automatic);
    EXPECT_EQ(automatic, "Node3"); // starts at the count (2), Node2 is taken
    // Taken identifiers, the network's own one, unknown types and classes not built here.
    const std::pair<int, const char*> refused[] = {{QNL_TYPE_CPT, "Node1"},
                                                   {QNL_TYPE_CPT, "Unnamed"},
                                                   {12345, "x"},
                                                   {QNL_TYPE_DISTRIBUTION, "x"}};
    for (const auto& [type, id] : refused)
        EXPECT_EQ(net.AddNode(type, id), -2) << id;
    EXPECT_EQ(net.GetNumberOfNodes(), 2);
    const int repaired = net.AddNode(QNL_TYPE_CPT, "9lives");
    ASSERT_GE(repaired, 0);
    EXPECT_STREQ(net.GetNode(repaired)->GetId(), "Node3");
    EXPECT_EQ(net.FindNode("node1"), -2);
    // Renaming a node goes through its header's approval, checked with the node information.
}

TEST_F(Network, ArcsRefuseSelfLoopsRelatedNodesAndCycles) {
    for (const char* id : {"a", "b", "c"})
        AddNode(net, id);
    EXPECT_EQ(Arc("a", "a"), -2);
    EXPECT_EQ(Arc("a", "b"), 0);
    EXPECT_EQ(Arc("b", "a"), -2);
    EXPECT_EQ(Arc("a", "b"), -2);
    EXPECT_EQ(Arc("b", "c"), 0);
    EXPECT_EQ(Arc("c", "a"), -2);
    EXPECT_EQ(net.AddArc(0, 99), -2);
    net.SetReadingMode(QNL_network::READING | QNL_network::READING_NO_CYCLE_TEST);
    EXPECT_EQ(Arc("c", "a"), 0);
    EXPECT_EQ(Arc("b", "a"), -2); // related nodes are refused even while reading
    net.SetReadingMode(0);
    // The ordering walks still end on the cyclic graph.
    EXPECT_EQ(net.GetOrderedNodes().GetCount(), 3);
}

TEST_F(Network, ArcsShapeTheChildsTableAndFollowOutcomeChanges) {
    AddNode(net, "a", 3);
    AddNode(net, "b", 2);
    AddNode(net, "c", 2);
    ASSERT_EQ(Arc("a", "c"), 0);
    ASSERT_EQ(Arc("b", "c"), 0);
    EXPECT_EQ(Shape(*TableOf("c")), (std::vector<int>{3, 2, 2}));
    QNL_nodeDefinition* a = net.GetNode(Node("a"))->GetDefinition();
    ASSERT_EQ(a->AddOutcome("extra"), 0);
    EXPECT_EQ(Shape(*TableOf("c")), (std::vector<int>{4, 2, 2}));
    ASSERT_EQ(a->RemoveOutcome(0), 0);

    QNL_intArray order = IntsOf({1, 0});
    ASSERT_EQ(net.ReorderParents(Node("c"), order), 0);
    EXPECT_EQ(ItemsOf(net.GetParents(Node("c"))), (std::vector<int>{Node("b"), Node("a")}));
    EXPECT_EQ(Shape(*TableOf("c")), (std::vector<int>{2, 3, 2}));
    order[1] = 1;
    EXPECT_EQ(net.ReorderParents(Node("c"), order), -2);
    EXPECT_EQ(ItemsOf(net.GetParents(Node("c"))), (std::vector<int>{Node("b"), Node("a")}));
    ASSERT_EQ(net.RemoveArc(Node("b"), Node("c")), 0);
    EXPECT_EQ(Shape(*TableOf("c")), (std::vector<int>{3, 2}));
    EXPECT_EQ(net.RemoveArc(Node("b"), Node("c")), -2);
}

TEST_F(Network, OrdersPutParentsFirstAndSlotOrderBetweenUnrelatedNodes) {
    for (const char* id : {"n0", "n1", "n2"})
        AddNode(net, id);
    EXPECT_EQ(ItemsOf(net.GetOrderedNodes()), (std::vector<int>{0, 1, 2}));
    Arc("n2", "n0");
    EXPECT_EQ(ItemsOf(net.GetOrderedNodes()), (std::vector<int>{2, 0, 1}));
    QNL_intArray some = IntsOf({0, 2});
    net.OrderNodes(some);
    EXPECT_EQ(ItemsOf(some), (std::vector<int>{2, 0}));
}

TEST_F(Network, GraphQueriesOnADiamondAndAChain) {
    for (const char* id : {"a", "b", "c", "d", "e"})
        AddNode(net, id);
    Arc("a", "b");
    Arc("b", "c");
    EXPECT_EQ(net.IsPolytree(), 1);
    EXPECT_EQ(net.ComputeHeights(), 2);
    EXPECT_EQ(net.GetHeight(Node("a")), 2);
    Arc("a", "d");
    Arc("d", "c");
    EXPECT_EQ(net.IsPolytree(), 0);
    QNL_intArray out;
    net.GetAncestors(Node("c"), out);
    EXPECT_EQ(ItemsOf(out), (std::vector<int>{Node("a"), Node("b"), Node("d")}));
    net.GetDescendants(Node("a"), out);
    EXPECT_EQ(ItemsOf(out), (std::vector<int>{Node("b"), Node("c"), Node("d")}));
    EXPECT_EQ(net.GetAncestors(77, out), -2);
    EXPECT_EQ(net.IsRelated(Node("a"), Node("b")), 1);
    EXPECT_EQ(net.IsRelated(Node("a"), Node("c")), 0);
    QNL_network empty;
    EXPECT_EQ(empty.IsPolytree(), 1);
    EXPECT_EQ(empty.ComputeHeights(), 0);
}

TEST_F(Network, DeletingANodeLeavesNoTraceInListsOrTargets) {
    for (const char* id : {"a", "b", "c", "d"})
        AddNode(net, id);
    Arc("a", "b");
    Arc("b", "c");
    Arc("d", "b", 1);
    Arc("b", "c", 1);
    net.SetTarget(Node("b"));
    net.SetTarget(Node("c"));
    EXPECT_EQ(net.SetTarget(Node("c")), -2);
    EXPECT_EQ(net.GetNumberOfTargets(), 2);
    const int b = Node("b");
    ASSERT_EQ(net.DeleteNode(b), 0);
    EXPECT_EQ(net.GetNumberOfTargets(), 1);
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        for (int layer : {0, 1}) {
            EXPECT_FALSE(net.GetParents(h, layer).IsInList(b));
            EXPECT_FALSE(net.GetChildren(h, layer).IsInList(b));
        }
    EXPECT_EQ(TableOf("c")->GetNumberOfDimensions(), 1);
    EXPECT_EQ(net.GetNode(Node("c"))->GetCost()->GetCosts().GetNumberOfDimensions(), 1);
    EXPECT_EQ(net.GetParents(b).GetCount(), 0);
    EXPECT_EQ(net.DeleteAllNodes(), 0);
    EXPECT_EQ(net.GetNumberOfNodes(), 0);
    EXPECT_EQ(net.GetNumberOfTargets(), 0);
}

TEST_F(Network, CostArcsShapeTheCostTableAndCleanUpTestGroups) {
    AddNode(net, "test", 3);
    AddNode(net, "fault", 2);
    AddNode(net, "other", 2);
    ASSERT_EQ(Arc("test", "fault", 1), 0);
    ASSERT_EQ(Arc("test", "other", 1), 0);
    EXPECT_EQ(Shape(net.GetNode(Node("fault"))->GetCost()->GetCosts()), (std::vector<int>{3, 1}));
    net.GetNode(Node("test"))->GetDefinition()->AddOutcome("more");
    EXPECT_EQ(Shape(net.GetNode(Node("fault"))->GetCost()->GetCosts()), (std::vector<int>{4, 1}));

    QNL_userProperties& props = net.GetNode(Node("test"))->GetInfo()->properties;
    props.AddProperty("DIAG_TESTGROUPCOST", "tRuE");
    EXPECT_EQ(net.HasTestGroupCost(Node("test")), 1);
    EXPECT_EQ(net.RemoveArc(Node("test"), Node("fault"), 1), 0);
    EXPECT_EQ(net.HasTestGroupCost(Node("test")), 1); // another cost child remains
    EXPECT_EQ(net.RemoveArc(Node("test"), Node("fault"), 1), -2);
    EXPECT_EQ(net.RemoveArc(Node("test"), Node("other"), 1), 0);
    EXPECT_EQ(net.HasTestGroupCost(Node("test")), 0);
    EXPECT_EQ(props.FindProperty("DIAG_TESTGROUPCOST"), -2);
}

TEST_F(Network, ReadinessNamesTheFirstNodeThatIsNotReady) {
    AddNode(net, "fine");
    AddNode(net, "broken");
    net.CheckReadiness(1);
    EXPECT_TRUE(net.IsReady());
    SetTable(net, Node("broken"), {0.5, 0.4});
    EXPECT_EQ(net.CheckReadiness(1), -568);
    EXPECT_FALSE(net.IsReady());
    EXPECT_STREQ(QNL_errorHandler::Instance().GetMessage(0),
                 "ERROR: Node [broken] is not consistent. Inference may not be correct");
    // A node that fails its check is reported, never removed.
    EXPECT_EQ(net.GetNumberOfNodes(), 2);
}

TEST_F(Network, CopiesAreEqualAndIndependent) {
    AddNode(net, "a", 3);
    AddNode(net, "b", 2);
    AddNode(net, "c", 2);
    Arc("a", "b");
    Arc("a", "c", 1);
    SetTable(net, Node("b"), {0.1, 0.9, 0.2, 0.8, 0.3, 0.7});
    net.SetTarget(Node("b"));
    net.GetUserProperties().AddProperty("key", "value");
    net.GetNode(Node("a"))->GetInfo()->documentation.AddDocument("manual", "a.pdf");

    QNL_network copy(net);
    ASSERT_TRUE(copy.IsValid());
    EXPECT_EQ(copy.GetNumberOfNodes(), 3);
    EXPECT_EQ(copy.GetNumberOfTargets(), 1);
    EXPECT_EQ(copy.IsTarget(copy.FindNode("b")), 1);
    EXPECT_EQ(ItemsOf(copy.GetParents(copy.FindNode("b"))), (std::vector<int>{Node("a")}));
    EXPECT_EQ(copy.GetChildren(copy.FindNode("a"), 1).GetCount(), 1);
    EXPECT_EQ(copy.GetUserProperties().FindProperty("key"), 0);
    EXPECT_EQ(copy.GetNode(copy.FindNode("a"))->GetInfo()->documentation.GetNumberOfDocuments(), 1);
    QNL_Dmatrix* copied = copy.GetNode(copy.FindNode("b"))->GetDefinition()->GetMatrix();
    ASSERT_NE(copied, nullptr);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(copied->Subscript(i), TableOf("b")->Subscript(i));
    EXPECT_EQ(copy.GetNode(0)->GetNetwork(), &copy);
    EXPECT_EQ(copy.GetNode(0)->GetDefinition()->GetNetwork(), &copy);

    // Editing the copy leaves the source alone.
    copy.GetNode(copy.FindNode("a"))->GetDefinition()->AddOutcome("more");
    EXPECT_EQ(TableOf("b")->GetSizeOfDimension(0), 3);
    EXPECT_EQ(copied->GetSizeOfDimension(0), 4);

    QNL_network working;
    ASSERT_EQ(working.CopyNodes(net), 0);
    EXPECT_EQ(working.GetNumberOfNodes(), 3);
    EXPECT_EQ(working.GetUserProperties().GetNumberOfProperties(), 0);
}

class NetworkEvidence : public Network {
protected:
    // a -> b -> c, and d -> b; e stands apart.
    void SetUp() override {
        Network::SetUp();
        for (const char* id : {"a", "b", "c", "d", "e"})
            AddNode(net, id);
        Arc("a", "b");
        Arc("d", "b");
        Arc("b", "c");
        MarkAllValid();
    }
    QNL_nodeValue* Value(const char* id) { return net.GetNode(Node(id))->GetValue(); }
    void MarkAllValid() {
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            net.GetNode(h)->GetValue()->SetValidFlag(true);
    }
    std::string Invalid() {
        std::string ids;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            if (!net.GetNode(h)->GetValue()->IsValueValid()) ids += net.GetNode(h)->GetId();
        return ids;
    }
};

TEST_F(NetworkEvidence, EvidenceOnALeafInvalidatesWhatItCanReach) {
    ASSERT_EQ(Value("c")->SetEvidence(0), 0);
    EXPECT_EQ(Invalid(), "abd"); // c itself holds evidence; e is unconnected
    MarkAllValid();
    ASSERT_EQ(Value("c")->ClearEvidence(), 0);
    EXPECT_EQ(Invalid(), "abcd");
}

TEST_F(NetworkEvidence, EvidenceOnARootDoesNotReachItsSpouse) {
    ASSERT_EQ(Value("a")->SetEvidence(1), 0);
    // d is a parent of b: without evidence at or below b, a and d are independent.
    EXPECT_EQ(Invalid(), "bc");
}

TEST_F(NetworkEvidence, EvidenceBelowACollectorLinksItsParents) {
    ASSERT_EQ(Value("c")->SetEvidence(1), 0);
    MarkAllValid();
    ASSERT_EQ(Value("a")->SetEvidence(0), 0);
    EXPECT_EQ(Invalid(), "bd");
}

TEST_F(NetworkEvidence, NothingHappensWithNotificationsOff) {
    net.SetNotificationControl(0);
    ASSERT_EQ(Value("c")->SetEvidence(0), 0);
    EXPECT_EQ(Invalid(), "");
}

TEST_F(NetworkEvidence, StructureAndTableChangesInvalidateDescendants) {
    ASSERT_EQ(net.NotifyChange(Node("b"), QNL_network::CHANGE_VALUES), 0);
    EXPECT_EQ(Invalid(), "bc");
    MarkAllValid();
    net.SetNotificationMask(0);
    net.NotifyChange(Node("a"), QNL_network::CHANGE_VALUES);
    EXPECT_EQ(Invalid(), "");
    net.SetNotificationMask(463);
    ASSERT_EQ(Arc("e", "c"), 0);
    EXPECT_EQ(Invalid(), "c");
}

// b is the logical AND of a and d: outcome 1 only when both are 1.
TEST_F(NetworkEvidence, DeterministicChildAndParentsImplyEachOther) {
    SetTable(net, Node("b"), {1, 0, 1, 0, 1, 0, 0, 1});
    ASSERT_EQ(Value("b")->SetEvidence(1), 0);
    EXPECT_EQ(Value("a")->GetEvidence(), 1);
    EXPECT_EQ(Value("d")->GetEvidence(), 1);
    ASSERT_EQ(Value("b")->SetEvidence(0), 0); // a and d each keep two possible outcomes
    EXPECT_FALSE(Value("a")->IsObserved());
    EXPECT_FALSE(Value("d")->IsObserved());
    ASSERT_EQ(Value("b")->ClearEvidence(), 0);

    ASSERT_EQ(Value("a")->SetEvidence(1), 0);
    EXPECT_FALSE(Value("b")->IsObserved());
    ASSERT_EQ(Value("d")->SetEvidence(1), 0);
    ASSERT_TRUE(Value("b")->HasPropagatedEvidence());
    EXPECT_EQ(Value("b")->GetEvidence(), 1);
    EXPECT_EQ(Value("c")->SetPropagatedEvidence(0), 0); // c is not implied: allowed
    Value("c")->ClearPropagatedEvidence();

    // Evidence b = 0 implies d = 0 while a = 1 is observed: d = 1 is refused.
    ASSERT_EQ(Value("d")->ClearEvidence(), 0);
    EXPECT_FALSE(Value("b")->IsObserved());
    ASSERT_EQ(Value("b")->SetEvidence(0), 0);
    EXPECT_EQ(Value("d")->GetEvidence(), 0);
    EXPECT_TRUE(Value("d")->HasPropagatedEvidence());
    EXPECT_EQ(Value("d")->SetEvidence(1), -2);

    // With b = 0 and a = 1 set in the other order, propagation finds the conflict.
    ASSERT_EQ(Value("a")->ClearEvidence(), 0);
    ASSERT_EQ(Value("b")->ClearEvidence(), 0);
    ASSERT_EQ(Value("b")->SetEvidence(0), 0);
    ASSERT_EQ(Value("a")->SetEvidence(1), 0);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(Value("d")->SetEvidence(1), -26);
    EXPECT_FALSE(Value("d")->HasEvidence());
    const std::string message = QNL_errorHandler::Instance().GetMessage(0);
    EXPECT_TRUE(message == "ERROR: conficting evidence between nodes [b] and [d]" ||
                message == "ERROR: conficting evidence between nodes [d] and [b]")
        << message;
}

TEST_F(NetworkEvidence, EvidenceFollowsItsOutcomeWhenTheOutcomeSetChanges) {
    QNL_nodeDefinition* c = net.GetNode(Node("c"))->GetDefinition();
    ASSERT_EQ(c->AddOutcome("third"), 0);
    SetTable(net, Node("c"), {0.2, 0.3, 0.5, 0.2, 0.3, 0.5});
    ASSERT_EQ(Value("c")->SetEvidence(2), 0);
    ASSERT_EQ(c->InsertOutcome(0, "first"), 0);
    EXPECT_EQ(Value("c")->GetEvidence(), 3);
    ASSERT_EQ(c->RemoveOutcome(1), 0);
    EXPECT_EQ(Value("c")->GetEvidence(), 2);
    const QNL_intArray order = IntsOf({2, 0, 1});
    ASSERT_EQ(c->ReorderOutcomes(order), 0);
    EXPECT_EQ(Value("c")->GetEvidence(), 0);
    ASSERT_EQ(c->RemoveOutcome(0), 0);
    EXPECT_FALSE(Value("c")->IsObserved());
}

TEST_F(Network, CoordinatesLinkedToADefinitionWalkItsWholeTable) {
    AddNode(net, "a", 3);
    AddNode(net, "b", 2);
    Arc("a", "b");
    QNL_matrixCoordinates walk;
    ASSERT_EQ(walk.LinkToDefinition(net.GetNode(Node("b"))->GetDefinition()), 0);
    int cells = 1;
    while (walk.Next() == 0)
        ++cells;
    EXPECT_EQ(cells, 6);
    EXPECT_EQ(walk.GetMatrix(), TableOf("b"));
    EXPECT_EQ(walk.LinkToDefinition(nullptr), -2);
}

// Real definition classes (no test registration): probability tables, decisions, utilities.
class NetworkWithDecisions : public ::testing::Test {
protected:
    int Add(int type, const char* id) {
        const int handle = net.AddNode(type, id);
        EXPECT_GE(handle, 0) << id;
        return handle;
    }
    QNL_network net;
};

TEST_F(NetworkWithDecisions, DecisionOrderPutsEachDecisionAfterItsParents) {
    const int chance = Add(QNL_TYPE_CPT, "chance");   // 0
    const int test = Add(QNL_TYPE_CPT, "test");       // 1
    const int second = Add(QNL_TYPE_LIST, "second");  // 2
    const int first = Add(QNL_TYPE_LIST, "first");    // 3
    const int utility = Add(QNL_TYPE_TABLE, "value"); // 4
    ASSERT_EQ(net.AddArc(first, second), 0);
    ASSERT_EQ(net.AddArc(test, second), 0);
    ASSERT_EQ(net.AddArc(chance, test), 0);
    ASSERT_EQ(net.AddArc(second, utility), 0);
    ASSERT_EQ(net.AddArc(chance, utility), 0);
    // Topological: chance, test, first, second, value.
    QNL_intArray order;
    ASSERT_EQ(net.GetDecisionOrderedNodes(order), 0);
    EXPECT_EQ(ItemsOf(order), (std::vector<int>{first, test, second, chance, utility}));
    QNL_intArray some = IntsOf({utility, chance, first});
    net.OrderNodesByDecisions(some);
    EXPECT_EQ(ItemsOf(some), (std::vector<int>{first, chance, utility}));
}

TEST_F(NetworkWithDecisions, FailedTypeChangeKeepsTheOldDefinition) {
    const int node = Add(QNL_TYPE_CPT, "x");
    QNL_nodeDefinition* before = net.GetNode(node)->GetDefinition();
    EXPECT_EQ(net.GetNode(node)->SetType(QNL_TYPE_DISTRIBUTION), -2);
    EXPECT_EQ(net.GetNode(node)->SetType("DISTRIBUTION"), -2);
    EXPECT_EQ(net.GetNode(node)->GetDefinition(), before);
    EXPECT_EQ(net.GetNode(node)->SetType(QNL_TYPE_CPT), 0);
    EXPECT_EQ(net.GetNode(node)->GetDefinition(), before);
    ASSERT_EQ(net.GetNode(node)->SetType("LIST"), 0);
    EXPECT_EQ(net.GetNode(node)->GetType(), QNL_TYPE_LIST);
}

TEST_F(NetworkWithDecisions, UtilityParentsGiveNoCostDimension) {
    const int utility = Add(QNL_TYPE_TABLE, "u");
    const int observed = Add(QNL_TYPE_CPT, "o");
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.AddArc(utility, observed, 1), -2);
    EXPECT_STREQ(QNL_errorHandler::Instance().GetMessage(0), "Arc cannot be added");
    EXPECT_EQ(net.GetChildren(utility, 1).GetCount(), 0);
    QNL_errorHandler::Instance().Flush();
}

} // namespace
