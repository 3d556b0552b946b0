#include "definitions/node_value.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "support/network_builder.h"
#include "support/random_network.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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

// One walk through the node table: growth keeps handles, a deleted slot is reused first,
// identifiers are unique, valid and case-sensitive.
TEST_F(Network, HandlesSurviveGrowthAndIdentifiersAreUniqueAndValid) {
    EXPECT_EQ(net.GetFirstNode(), -2);
    for (int i = 0; i < 51; ++i)
        ASSERT_EQ(AddNode(net, ("n" + std::to_string(i)).c_str()), i);
    for (int i = 0; i < 51; ++i)
        ASSERT_EQ(net.GetNode(net.FindNode(("n" + std::to_string(i)).c_str()))->GetHandle(), i);
    EXPECT_EQ(std::make_pair(net.GetNextNode(50), net.GetLastNode()), std::make_pair(-2, 50));
    ASSERT_EQ(net.DeleteNode(3), 0);
    EXPECT_EQ(net.GetNode(3), nullptr);
    EXPECT_EQ(net.DeleteNode(3), -2);
    EXPECT_EQ(net.GetNextNode(2), 4);
    EXPECT_EQ(AddNode(net, "again"), 3);
    ASSERT_EQ(net.DeleteAllNodes(), 0);

    EXPECT_EQ(net.AddNode(QNL_TYPE_CPT, nullptr), 0);
    EXPECT_STREQ(net.GetNode(0)->GetId(), "Node0");
    AddNode(net, "Node1");
    AddNode(net, "Node2");
    net.DeleteNode(0);
    std::string automatic;
    net.GenerateNodeId(automatic);
    EXPECT_EQ(automatic, "Node3"); // starts at the count (2), Node2 is taken
    // Taken identifiers, the network's own one and unknown types.
    const std::pair<int, const char*> refused[] = {
        {QNL_TYPE_CPT, "Node1"}, {QNL_TYPE_CPT, "Unnamed"}, {12345, "x"}};
    for (const auto& [type, id] : refused)
        EXPECT_EQ(net.AddNode(type, id), -2) << id;
    EXPECT_EQ(net.GetNumberOfNodes(), 2);
    const int repaired = net.AddNode(QNL_TYPE_CPT, "9lives");
    ASSERT_GE(repaired, 0);
    EXPECT_STREQ(net.GetNode(repaired)->GetId(), "Node3");
    EXPECT_EQ(net.FindNode("node1"), -2);
}

// Arcs refuse loops, related nodes and cycles (only the cycle check is skipped while
// reading); they shape the child's table; orders put parents first and keep slot order
// between unrelated nodes. Parent order changes are the definitions' to show.
TEST_F(Network, ArcsShapeTablesAndOrders) {
    AddNode(net, "a", 3);
    AddNode(net, "b", 2);
    AddNode(net, "c", 2);
    EXPECT_EQ(ItemsOf(net.GetOrderedNodes()), (std::vector<int>{0, 1, 2}));
    const std::pair<const char*, const char*> refused[] = {{"a", "a"}, {"c", "a"}};
    ASSERT_EQ(Arc("a", "c"), 0);
    ASSERT_EQ(Arc("b", "c"), 0);
    EXPECT_EQ(ItemsOf(net.GetOrderedNodes()), (std::vector<int>{0, 1, 2}));
    for (const auto& [from, to] : refused)
        EXPECT_EQ(Arc(from, to), -2) << from << to;
    EXPECT_EQ(Arc("a", "c"), -2);
    EXPECT_EQ(net.AddArc(0, 99), -2);
    EXPECT_EQ(Shape(*TableOf("c")), (std::vector<int>{3, 2, 2}));
    QNL_nodeDefinition* a = net.GetNode(Node("a"))->GetDefinition();
    ASSERT_EQ(a->AddOutcome("extra"), 0);
    EXPECT_EQ(Shape(*TableOf("c")), (std::vector<int>{4, 2, 2}));
    ASSERT_EQ(a->RemoveOutcome(0), 0);
    ASSERT_EQ(net.RemoveArc(Node("b"), Node("c")), 0);
    EXPECT_EQ(Shape(*TableOf("c")), (std::vector<int>{3, 2}));
    EXPECT_EQ(net.RemoveArc(Node("b"), Node("c")), -2);
    ASSERT_EQ(Arc("c", "b"), 0);
    EXPECT_EQ(Arc("b", "a"), -2); // a cycle
    QNL_intArray some = IntsOf({1, 2});
    net.OrderNodes(some);
    EXPECT_EQ(ItemsOf(some), (std::vector<int>{2, 1}));
    net.SetReadingMode(QNL_network::READING | QNL_network::READING_NO_CYCLE_TEST);
    EXPECT_EQ(Arc("b", "a"), 0);
    EXPECT_EQ(Arc("a", "b"), -2); // related nodes are refused even while reading
    net.SetReadingMode(0);
    EXPECT_EQ(net.GetOrderedNodes().GetCount(), 3); // the walk still ends on a cycle
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
    EXPECT_EQ(std::make_pair(net.IsRelated(0, 1), net.IsRelated(0, 2)), std::make_pair(1, 0));
    QNL_network empty;
    EXPECT_EQ(std::make_pair(empty.IsPolytree(), empty.ComputeHeights()), std::make_pair(1, 0));
}

// A deleted node leaves no trace in lists, targets or tables; cost arcs shape the cost table
// and the last one removed drops the test group cost property.
TEST_F(Network, DeletingNodesAndCostArcsLeaveNoTrace) {
    for (const char* id : {"a", "b", "c", "d"})
        AddNode(net, id, 3);
    Arc("a", "b");
    Arc("b", "c");
    Arc("d", "b", 1);
    Arc("b", "c", 1);
    Arc("b", "a", 1);
    EXPECT_EQ(net.AddArc(Node("b"), Node("c"), 1), -2); // the same cost arc twice
    EXPECT_EQ(Shape(net.GetNode(Node("c"))->GetCost()->GetCosts()), (std::vector<int>{3, 1}));
    net.GetNode(Node("b"))->GetDefinition()->AddOutcome("more");
    EXPECT_EQ(Shape(net.GetNode(Node("c"))->GetCost()->GetCosts()), (std::vector<int>{4, 1}));
    QNL_userProperties& props = net.GetNode(Node("b"))->GetInfo()->properties;
    props.AddProperty("DIAG_TESTGROUPCOST", "tRuE");
    EXPECT_EQ(net.HasTestGroupCost(Node("b")), 1);
    EXPECT_EQ(net.RemoveArc(Node("b"), Node("a"), 1), 0);
    EXPECT_EQ(net.HasTestGroupCost(Node("b")), 1); // another cost child remains
    EXPECT_EQ(net.RemoveArc(Node("b"), Node("a"), 1), -2);
    EXPECT_EQ(net.RemoveArc(Node("b"), Node("c"), 1), 0);
    EXPECT_EQ(props.FindProperty("DIAG_TESTGROUPCOST"), -2);
    Arc("b", "c", 1);
    net.SetTarget(Node("b"));
    net.SetTarget(Node("c"));
    EXPECT_EQ(net.SetTarget(Node("c")), -2);
    const int b = Node("b");
    ASSERT_EQ(net.DeleteNode(b), 0);
    EXPECT_EQ(net.GetNumberOfTargets(), 1);
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        for (int layer : {0, 1}) {
            EXPECT_FALSE(net.GetParents(h, layer).IsInList(b));
            EXPECT_FALSE(net.GetChildren(h, layer).IsInList(b));
        }
    EXPECT_EQ(Shape(*TableOf("c")), (std::vector<int>{3}));
    EXPECT_EQ(Shape(net.GetNode(Node("c"))->GetCost()->GetCosts()), (std::vector<int>{1}));
    EXPECT_EQ(net.DeleteAllNodes(), 0);
    EXPECT_EQ(net.GetNumberOfNodes() + net.GetNumberOfTargets(), 0);

    // A node that fails its check is reported by name, never removed.
    AddNode(net, "fine");
    SetTable(net, AddNode(net, "broken"), {0.5, 0.4});
    EXPECT_EQ(net.CheckReadiness(1), -568);
    EXPECT_FALSE(net.IsReady());
    EXPECT_STREQ(QNL_errorHandler::Instance().GetMessage(0),
                 "ERROR: Node [broken] is not consistent. Inference may not be correct");
    EXPECT_EQ(net.GetNumberOfNodes(), 2);
}

// While a file is read with duplicates accepted, several nodes may bear one identifier. After
// every random addition, rename and deletion, lookups agree with a scan of the nodes: the
// lowest slot bearing the identifier, and whether a node other than the one excepted does.
TEST_F(Network, IdentifierLookupsAgreeWithAScanWhileDuplicatesAreAccepted) {
    const char* pool[] = {"a", "b", "c", "d"};
    quarn_test::TestRandom random(11);
    net.SetReadingMode(QNL_network::READING | QNL_network::READING_DUPLICATE_IDS);
    for (int step = 0; step < 400; ++step) {
        const char* id = pool[random.Below(4)];
        QNL_intArray all;
        net.GetAllNodes(all);
        const int action = all.GetCount() < 3 ? 0 : random.Below(3);
        const int some = all.GetCount() > 0 ? all[random.Below(all.GetCount())] : -1;
        if (action == 0) {
            ASSERT_GE(net.AddNode(QNL_TYPE_CPT, id), 0);
        } else if (action == 1) {
            ASSERT_EQ(net.GetNode(some)->SetId(id), 0);
        } else {
            ASSERT_EQ(net.DeleteNode(some), 0);
        }
        for (const char* name : pool) {
            int lowest = -2;
            std::vector<int> bearers;
            for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
                if (std::string(net.GetNode(h)->GetId()) == name) {
                    if (lowest < 0) lowest = h;
                    bearers.push_back(h);
                }
            ASSERT_EQ(net.FindNode(name), lowest) << "step " << step << ", " << name;
            for (int except : {-1, lowest, some}) {
                const bool other =
                    bearers.size() > 1 || (bearers.size() == 1 && bearers[0] != except);
                ASSERT_EQ(net.IsIdUsed(name, except), other ? 1 : 0)
                    << "step " << step << ", " << name << " except " << except;
            }
        }
    }
    net.SetReadingMode(0);
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
    QNL_network copy(net), working;
    ASSERT_TRUE(copy.IsValid());
    auto table = [](QNL_network& n) {
        const QNL_Dmatrix* m = n.GetNode(n.FindNode("b"))->GetDefinition()->GetMatrix();
        std::vector<double> cells;
        for (int i = 0; i < m->GetSize(); ++i)
            cells.push_back(m->Subscript(i));
        return cells;
    };
    auto describe = [&](QNL_network& n) {
        return std::vector<int>{n.GetNumberOfNodes(),
                                n.GetNumberOfTargets(),
                                n.IsTarget(n.FindNode("b")),
                                n.GetParents(n.FindNode("b"))[0],
                                n.GetChildren(n.FindNode("a"), 1).GetCount(),
                                n.GetUserProperties().FindProperty("key"),
                                n.GetNode(0)->GetInfo()->documentation.GetNumberOfDocuments()};
    };
    EXPECT_EQ(describe(copy), describe(net));
    EXPECT_EQ(table(copy), table(net));
    EXPECT_EQ(copy.GetNode(0)->GetNetwork(), &copy);
    EXPECT_EQ(copy.GetNode(0)->GetDefinition()->GetNetwork(), &copy);
    copy.GetNode(copy.FindNode("a"))->GetDefinition()->AddOutcome("more");
    EXPECT_EQ(table(net).size(), 6u) << "editing the copy leaves the source alone";
    EXPECT_EQ(table(copy).size(), 8u);
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
    }
    QNL_nodeValue* Value(const char* id) { return net.GetNode(Node(id))->GetValue(); }
    void MarkAllValid() {
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            net.GetNode(h)->GetValue()->SetValidFlag(true);
    }
    // "c=0" sets evidence, "c-" clears it, "b!" notifies a table change, "e>c" adds an arc,
    // "off" turns notifications off, "mask" masks every change.
    int Do(const std::string& step) {
        const std::string id = step.substr(0, 1);
        if (step == "off") return net.SetNotificationControl(0), 0;
        if (step == "mask") return net.SetNotificationMask(0), 0;
        if (step[1] == '=') return Value(id.c_str())->SetEvidence(step[2] - '0');
        if (step[1] == '-') return Value(id.c_str())->ClearEvidence();
        if (step[1] == '!') return net.NotifyChange(Node(id.c_str()), QNL_network::CHANGE_VALUES);
        return Arc(id.c_str(), step.substr(2).c_str());
    }
    // The evidence held: "a=1" set by the user, "a~1" implied by other evidence.
    std::string State() {
        std::string out;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
            const QNL_nodeValue* v = net.GetNode(h)->GetValue();
            if (!v->HasEvidence() && !v->HasPropagatedEvidence()) continue;
            out += std::string(out.empty() ? "" : " ") + net.GetNode(h)->GetId() +
                   (v->HasPropagatedEvidence() ? "~" : "=") + std::to_string(v->GetEvidence());
        }
        return out;
    }
    std::string Invalid() {
        std::string ids;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            if (!net.GetNode(h)->GetValue()->IsValueValid()) ids += net.GetNode(h)->GetId();
        return ids;
    }
};

// Steps on a fresh copy of the fixture's network; only what the last step invalidates
// counts.
TEST_F(NetworkEvidence, EvidenceAndChangesInvalidateWhatTheyCanReach) {
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"c=0"}, "abd"}, // c holds evidence itself; e is unconnected
        {{"c=0", "c-"}, "abcd"},
        {{"a=1"}, "bc"},        // without evidence at or below b, a and d are
                                // independent
        {{"c=1", "a=0"}, "bd"}, // evidence below the collector links its parents
        {{"off", "c=0"}, ""},
        {{"b!"}, "bc"},
        {{"mask", "a!"}, ""},
        {{"e>c"}, "c"},
    };
    const QNL_network fresh(net);
    const int control = net.GetNotificationControl(), mask = net.GetNotificationMask();
    for (const auto& [steps, expected] : rows) {
        ASSERT_EQ(net.Copy(fresh), 0);
        net.SetNotificationControl(control);
        net.SetNotificationMask(mask);
        for (const std::string& step : steps) {
            MarkAllValid();
            ASSERT_EQ(Do(step), 0) << step;
        }
        EXPECT_EQ(Invalid(), expected) << steps.back();
    }
}

// b is the logical AND of a and d: outcome 1 only when both are 1. Steps in order, each with
// its result and the evidence held after it.
TEST_F(NetworkEvidence, DeterministicChildAndParentsImplyEachOther) {
    SetTable(net, Node("b"), {1, 0, 1, 0, 1, 0, 0, 1});
    const std::tuple<const char*, int, const char*> rows[] = {
        {"b=1", 0, "a~1 b=1 d~1"},
        {"b=0", 0, "b=0"}, // a and d each keep two possible outcomes
        {"b-", 0, ""},
        {"a=1", 0, "a=1"},
        {"d=1", 0, "a=1 b~1 d=1"},
        {"d-", 0, "a=1"},
        {"b=0", 0, "a=1 b=0 d~0"},
        {"d=1", -2, "a=1 b=0 d~0"}, // refused: d = 0 is implied
        {"a-", 0, "b=0"},
        {"a=1", 0, "a=1 b=0"}, // in this order nothing is implied
    };
    for (const auto& [step, code, state] : rows) {
        EXPECT_EQ(Do(step), code) << step;
        EXPECT_EQ(State(), state) << step;
    }
    EXPECT_EQ(Value("c")->SetPropagatedEvidence(0), 0); // c is not implied: allowed
    Value("c")->ClearPropagatedEvidence();
    // Propagation finds the conflict of d = 1 with b = 0 and a = 1.
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(Do("d=1"), -26);
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
    // Inserted at the observed outcome's own index: the evidence moves along with it.
    ASSERT_EQ(c->InsertOutcome(2, "first"), 0);
    EXPECT_EQ(Value("c")->GetEvidence(), 3);
    ASSERT_EQ(c->RemoveOutcome(1), 0);
    EXPECT_EQ(Value("c")->GetEvidence(), 2);
    const QNL_intArray order = IntsOf({2, 0, 1});
    ASSERT_EQ(c->ReorderOutcomes(order), 0);
    EXPECT_EQ(Value("c")->GetEvidence(), 0);
    ASSERT_EQ(c->RemoveOutcome(0), 0);
    EXPECT_FALSE(Value("c")->IsObserved());
}

// Real definition classes (no test registration): the decision order puts each decision
// after its parents; a failed type change keeps the old definition; a utility node takes no
// cost arc.
TEST(NetworkWithDecisions, DecisionOrderTypeChangesAndUtilityArcs) {
    QNL_network net;
    const int chance = net.AddNode(QNL_TYPE_CPT, "chance");
    const int test = net.AddNode(QNL_TYPE_CPT, "test");
    const int second = net.AddNode(QNL_TYPE_LIST, "second");
    const int first = net.AddNode(QNL_TYPE_LIST, "first");
    const int utility = net.AddNode(QNL_TYPE_TABLE, "value");
    ASSERT_EQ(utility, 4);
    for (const auto& [from, to] : {std::pair<int, int>{first, second},
                                   {test, second},
                                   {chance, test},
                                   {second, utility},
                                   {chance, utility}})
        ASSERT_EQ(net.AddArc(from, to), 0);
    QNL_intArray order;
    ASSERT_EQ(net.GetDecisionOrderedNodes(order), 0);
    EXPECT_EQ(ItemsOf(order), (std::vector<int>{first, test, second, chance, utility}));
    QNL_intArray some = IntsOf({utility, chance, first});
    net.OrderNodesByDecisions(some);
    EXPECT_EQ(ItemsOf(some), (std::vector<int>{first, chance, utility}));

    QNL_node* node = net.GetNode(chance);
    QNL_nodeDefinition* before = node->GetDefinition();
    EXPECT_EQ(node->SetType(12345), -2);
    EXPECT_EQ(node->SetType("NO_SUCH_TYPE"), -2);
    EXPECT_EQ(node->SetType(QNL_TYPE_CPT), 0);
    EXPECT_EQ(node->GetDefinition(), before);
    ASSERT_EQ(node->SetType("LIST"), 0);
    EXPECT_EQ(node->GetType(), QNL_TYPE_LIST);

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.AddArc(utility, test, 1), -2);
    EXPECT_STREQ(QNL_errorHandler::Instance().GetMessage(0), "Arc cannot be added");
    EXPECT_EQ(net.GetChildren(utility, 1).GetCount(), 0);
    QNL_errorHandler::Instance().Flush();
}

} // namespace
