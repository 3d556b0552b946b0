#include "definitions/node_value.h"
#include "model/dmatrix.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "support/network_builder.h"
#include "support/random_network.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

using quarn_test::IdsOf;

constexpr int kEveryType[] = {QNL_TYPE_EQUATION,     QNL_TYPE_TABLE,        QNL_TYPE_LIST,
                              QNL_TYPE_CPT,          QNL_TYPE_TRUTHTABLE,   QNL_TYPE_CAST,
                              QNL_TYPE_DEMORGAN,     QNL_TYPE_NOISY_MAX,    QNL_TYPE_NOISY_ADDER,
                              QNL_TYPE_MAU,          QNL_TYPE_EQUATION_SCC, QNL_TYPE_DCHILDHPARENT,
                              QNL_TYPE_DISTRIBUTION, QNL_TYPE_HEQUATION};

// Codes that name no definition: none, negatives, single type bits, neighbours of real codes
// and the extremes.
constexpr int kNoType[] = {0,  -1,  -2,  1,    2,    3,    5,       16,      19,     21,
                           64, 145, 147, 1024, 1027, 4097, 0x10000, INT_MAX, INT_MIN};

// What a refused change of type must leave as it was.
struct Snapshot {
    int type;
    const QNL_nodeDefinition* definition;
    const QNL_nodeValue* value;
    std::vector<std::string> outcomes;
    std::vector<int> parents, children;
    std::vector<double> cells;

    static Snapshot Of(QNL_network& net, int node) {
        QNL_node* n = net.GetNode(node);
        Snapshot s{n->GetType(), n->GetDefinition(), n->GetValue(), {}, {}, {}, {}};
        if (n->GetDefinition() != nullptr) {
            if (n->GetDefinition()->GetOutcomeIds() != nullptr)
                s.outcomes = IdsOf(n->GetDefinition());
            if (const QNL_Dmatrix* m = n->GetDefinition()->GetMatrix())
                s.cells.assign(m->GetItems().Items(),
                               m->GetItems().Items() + m->GetItems().GetCount());
        }
        for (int i = 0; i < net.GetParents(node).GetCount(); ++i)
            s.parents.push_back(net.GetParents(node)[i]);
        for (int i = 0; i < net.GetChildren(node).GetCount(); ++i)
            s.children.push_back(net.GetChildren(node)[i]);
        return s;
    }
    bool operator==(const Snapshot& o) const {
        return type == o.type && definition == o.definition && value == o.value &&
               outcomes == o.outcomes && parents == o.parents && children == o.children &&
               cells == o.cells;
    }
};

class NodeType : public quarn_test::NetworkFixture {
protected:
    // A -> B -> C, B with three outcomes and a table of its own.
    void SetUp() override {
        NetworkFixture::SetUp();
        a = Add(QNL_TYPE_CPT, "A");
        b = AddWithOutcomes(QNL_TYPE_CPT, "B", 3);
        c = Add(QNL_TYPE_CPT, "C");
        ASSERT_EQ(net.AddArc(a, b), 0);
        ASSERT_EQ(net.AddArc(b, c), 0);
        ASSERT_EQ(Def(b)->SetDefinition(quarn_test::ArrayOf({0.2, 0.3, 0.5, 0.6, 0.1, 0.3})), 0);
    }

    // A new chance node can be made a parent of the node and the arc taken back.
    void ExpectArcsStillWork(int node) {
        const int extra = Add(QNL_TYPE_CPT, "Extra");
        EXPECT_EQ(net.AddArc(extra, node), 0);
        EXPECT_EQ(net.RemoveArc(extra, node), 0);
        EXPECT_EQ(net.DeleteNode(extra), 0);
    }

    int a = -1, b = -1, c = -1;
};

// A code that names no definition is refused and the node keeps all it had; arcs into it
// work afterwards (they once met a node without a definition).
TEST_F(NodeType, CodesThatNameNoDefinitionAreRefusedAndChangeNothing) {
    const Snapshot before = Snapshot::Of(net, b);
    for (int code : kNoType) {
        SCOPED_TRACE(code);
        EXPECT_EQ(net.GetNode(b)->SetType(code), -2);
        EXPECT_TRUE(Snapshot::Of(net, b) == before);
        ExpectArcsStillWork(b);
    }
    EXPECT_EQ(Values(b), (std::vector<double>{0.2, 0.3, 0.5, 0.6, 0.1, 0.3}));
}

// A fresh P -> X -> Y of two-outcome probability tables, for changing the type of X.
struct Chain {
    QNL_network net;
    int p, x, y;
    Chain() {
        p = net.AddNode(QNL_TYPE_CPT, "P");
        x = net.AddNode(QNL_TYPE_CPT, "X");
        y = net.AddNode(QNL_TYPE_CPT, "Y");
        EXPECT_EQ(net.AddArc(p, x), 0);
        EXPECT_EQ(net.AddArc(x, y), 0);
    }
};

// A finding survives a change of type only as a value over the new outcomes: a discrete child of
// continuous parents has two where the table had three, and the value once kept three cells.
TEST_F(NodeType, FindingFollowsATypeThatChangesTheOutcomeCount) {
    struct Case {
        int type, finding;
        std::vector<double> value; // empty: the finding goes
    } cases[] = {{QNL_TYPE_DCHILDHPARENT, 1, {0, 1}},
                 {QNL_TYPE_DCHILDHPARENT, 2, {}},
                 {QNL_TYPE_NOISY_MAX, 2, {0, 0, 1}},
                 {QNL_TYPE_TRUTHTABLE, 1, {0, 1, 0}}};
    for (const Case& c : cases) {
        const std::string label = std::to_string(c.type) + " at " + std::to_string(c.finding);
        net.DeleteAllNodes();
        const int node = AddWithOutcomes(QNL_TYPE_CPT, "N", 3);
        ASSERT_EQ(net.GetNode(node)->GetValue()->SetEvidence(c.finding), 0) << label;
        ASSERT_EQ(net.GetNode(node)->SetType(c.type), 0) << label;
        QNL_nodeValue* value = net.GetNode(node)->GetValue();
        EXPECT_EQ(value->HasEvidence(), !c.value.empty()) << label;
        if (c.value.empty()) {
            EXPECT_FALSE(value->IsValueValid()) << label;
            continue;
        }
        EXPECT_EQ(value->GetEvidence(), c.finding) << label;
        QNL_Dmatrix* cells = nullptr;
        ASSERT_EQ(value->GetValue(&cells), 0) << label;
        EXPECT_EQ(std::vector<double>(cells->GetItems().Items(),
                                      cells->GetItems().Items() + cells->GetSize()),
                  c.value)
            << label;
    }
}

// Observation costs are indexed by cost parents' outcomes: a parent that loses its outcomes
// leaves, and the costs lose its dimension; one that keeps them stays. The dimension once stayed
// under a utility node, and the file written then did not read.
TEST_F(NodeType, CostParentThatLosesItsOutcomesLeaves) {
    const std::string path = quarn_test::TestFile("cost_parent.xqnl");
    for (int type : {QNL_TYPE_TABLE, QNL_TYPE_EQUATION, QNL_TYPE_MAU, QNL_TYPE_LIST}) {
        const std::string label = std::to_string(type);
        net.DeleteAllNodes();
        const int p = AddWithOutcomes(QNL_TYPE_CPT, "P", 3), q = Add(QNL_TYPE_CPT, "Q");
        const int c = Add(QNL_TYPE_CPT, "C");
        ASSERT_EQ(net.AddArc(p, c, 1) + net.AddArc(q, c, 1), 0) << label;
        ASSERT_EQ(net.GetNode(c)->GetCost()->SetCosts(quarn_test::ArrayOf({1, 2, 3, 4, 5, 6})), 0);
        ASSERT_EQ(net.GetNode(p)->SetType(type), 0) << label;
        const bool kept = type == QNL_TYPE_LIST;
        EXPECT_EQ(net.NumberOfParents(c, 1), kept ? 2 : 1) << label;
        const QNL_Dmatrix& costs = net.GetNode(c)->GetCost()->GetCosts();
        EXPECT_EQ(costs.GetSize(), kept ? 6 : 2) << label;
        EXPECT_EQ(costs.Subscript(0), 1) << label; // P's first outcome's slice is kept
        ASSERT_EQ(net.WriteFile(path.c_str()), 0) << label;
        QNL_network back;
        EXPECT_EQ(back.ReadFile(path.c_str()), 0) << label << ": " << quarn_test::LastMessage();
    }
}

// A node of every type cannot be left without its definition and value; arcs into it are
// still judged by its definition.
TEST(NodeTypes, NoNodeCanBeLeftForNothing) {
    for (int type : kEveryType) {
        SCOPED_TRACE(type);
        Chain chain;
        QNL_network& net = chain.net;
        const int x = net.AddNode(type, "Z");
        ASSERT_GE(x, 0);
        QNL_node* node = net.GetNode(x);
        ASSERT_NE(node->GetDefinition(), nullptr);
        ASSERT_NE(node->GetValue(), nullptr);
        EXPECT_EQ(node->GetValue()->GetType(), QNL_node::ValueTypeOf(type));
        net.AddArc(chain.p, x);
        const Snapshot taken = Snapshot::Of(net, x);
        for (int code : kNoType) {
            EXPECT_EQ(node->SetType(code), -2);
            EXPECT_EQ(node->CreateDefinition(0), -2);
            EXPECT_EQ(node->CreateValue(0), -2);
            EXPECT_EQ(node->CopyDefinition(nullptr), -2);
            EXPECT_EQ(node->CopyValue(nullptr), -2);
        }
        EXPECT_TRUE(Snapshot::Of(net, x) == taken);
        const int extra = net.AddNode(type, "Extra");
        if (net.AddArc(extra, x) == 0) {
            EXPECT_EQ(net.RemoveArc(extra, x), 0);
        }
        EXPECT_EQ(net.DeleteNode(extra), 0);
        EXPECT_TRUE(Snapshot::Of(net, x) == taken);
        QNL_errorHandler::Instance().Flush();
    }
}

// The keyword form does what the code form does, and knows no near miss; equation nodes are
// made by their code only.
TEST(NodeTypes, KeywordsMapExactlyTheTextFormatTypes) {
    const struct {
        const char* keyword;
        int type;
    } keywords[] = {{"TRUTHTABLE", QNL_TYPE_TRUTHTABLE},
                    {"NOISY_MAX", QNL_TYPE_NOISY_MAX},
                    {"EQUATION", -2},
                    {"EQUATION_SCC", -2},
                    {"cpt", -2},
                    {"CPT ", -2},
                    {"NOISY_OR", -2},
                    {"", -2},
                    {nullptr, -2}};
    for (const auto& k : keywords) {
        SCOPED_TRACE(k.keyword != nullptr ? k.keyword : "(null)");
        EXPECT_EQ(QNL_node::TypeFromKeyword(k.keyword), k.type);
        Chain byKeyword, byCode;
        QNL_node* node = byKeyword.net.GetNode(byKeyword.x);
        const Snapshot before = Snapshot::Of(byKeyword.net, byKeyword.x);
        const int result = node->SetType(k.keyword);
        if (k.type < 0) {
            EXPECT_EQ(result, -2);
            EXPECT_TRUE(Snapshot::Of(byKeyword.net, byKeyword.x) == before);
            continue;
        }
        EXPECT_EQ(result, byCode.net.GetNode(byCode.x)->SetType(k.type));
        EXPECT_EQ(node->GetType(), byCode.net.GetNode(byCode.x)->GetType());
        EXPECT_EQ(byKeyword.net.GetParents(byKeyword.x).GetCount(),
                  byCode.net.GetParents(byCode.x).GetCount());
    }
    // Among the codes taken, the probability table becomes a decision node by keyword.
    Chain chain;
    ASSERT_EQ(chain.net.GetNode(chain.x)->SetType("LIST"), 0);
    EXPECT_EQ(chain.net.GetNode(chain.x)->GetType(), QNL_TYPE_LIST);
}

// Random changes of type, good codes and bad mixed, each followed by an arc into the node, on
// small networks: after each step every node has a definition and a value of its type, and a
// refused code changed nothing. Updating and copying the network never meet a node without
// its parts.
TEST_F(NodeType, RandomChangesOfTypeNeverLeaveANodeWithoutItsParts) {
    quarn_test::TestRandom random(47);
    for (int round = 0; round < 12; ++round) {
        QNL_network local;
        const std::vector<int> nodes =
            quarn_test::BuildRandomNetwork(local, quarn_test::RoundSpec(4700, round));
        for (int step = 0; step < 40; ++step) {
            const int node =
                nodes[static_cast<std::size_t>(random.Below(static_cast<int>(nodes.size())))];
            const bool good = random.Below(2) == 0;
            const int code = good ? kEveryType[random.Below(std::size(kEveryType))]
                                  : kNoType[random.Below(std::size(kNoType))];
            const Snapshot before = Snapshot::Of(local, node);
            const int result = local.GetNode(node)->SetType(code);
            if (!good) {
                EXPECT_EQ(result, -2);
                EXPECT_TRUE(Snapshot::Of(local, node) == before);
            } else if (result != 0) { // a conversion the definitions refuse
                EXPECT_EQ(local.GetNode(node)->GetDefinition(), before.definition);
            } else {
                EXPECT_EQ(local.GetNode(node)->GetType(), code);
            }
            // Arcs into the node, where its definition takes them.
            const int from =
                nodes[static_cast<std::size_t>(random.Below(static_cast<int>(nodes.size())))];
            if (from != node && local.AddArc(from, node) == 0) {
                EXPECT_GE(local.GetParents(node).FindPosition(from), 0);
            }
            for (int h : nodes) {
                const QNL_node* n = local.GetNode(h);
                ASSERT_NE(n->GetDefinition(), nullptr) << round << " " << step;
                ASSERT_NE(n->GetValue(), nullptr) << round << " " << step;
                EXPECT_EQ(n->GetValue()->GetType(), QNL_node::ValueTypeOf(n->GetType()));
            }
        }
        local.UpdateBeliefs();
        QNL_network copy(local);
        for (int h : nodes)
            ASSERT_NE(copy.GetNode(h)->GetDefinition(), nullptr);
        QNL_errorHandler::Instance().Flush();
    }
}

} // namespace
