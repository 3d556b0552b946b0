#include "definitions/logic_gates.h"
#include "definitions/node_value.h"
#include "format_test_support.h"
#include "formats/format.h"
#include "model/dmatrix.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/oracle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using namespace format_test;

namespace {

class NeticaFormatTest : public FormatTest {
protected:
    NeticaFormatTest() : FormatTest("netica", ".dne") {}
};

std::string NeticaFile(const std::string& name) {
    return RealNetworks() + "/dne/" + name;
}

std::map<std::string, IndexEntry> NeticaIndex() {
    std::map<std::string, IndexEntry> files;
    for (const auto& [path, entry] : ReadIndex(RealNetworks() + "/INDEX.md"))
        if (path.rfind("dne/", 0) == 0) files[path.substr(4)] = entry;
    return files;
}

// Every real file: the counts of the index less the constants, tables that are
// distributions, and the same network after a write and a read.
TEST_F(NeticaFormatTest, RealFilesReadWithTheirCountsAndSurviveAWrite) {
    const auto index = NeticaIndex();
    EXPECT_EQ(index.size(), HaveSharedNetworks() ? 24u : 3u);
    for (const auto& [name, entry] : index) {
        SCOPED_TRACE(name);
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        const int result = net.ReadFile(NeticaFile(name).c_str());
        const int constants = entry.kinds.count("constant") ? entry.kinds.at("constant") : 0;
        if (name == "SpeakingTask.dne") {
            // Its three parents are defined elsewhere: each arc and the table are refused.
            EXPECT_EQ(result, -2);
            EXPECT_EQ(LoggedMessages(-2).size(), 4u) << AllMessages();
            EXPECT_TRUE(Logged("Couldn't add arc from node [X_Listening_1]"));
            EXPECT_EQ(CountArcs(net), 0);
        } else {
            EXPECT_EQ(result, 0) << AllMessages();
            EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0) << AllMessages();
            EXPECT_EQ(CountArcs(net), entry.arcs);
        }
        EXPECT_EQ(net.GetNumberOfNodes(), entry.nodes - constants);
        // The view's name ("visual V1") is no name of the network.
        EXPECT_STRNE(net.GetHeader()->GetId(), "V1");
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
            if (net.GetNode(h)->GetType() != QNL_TYPE_CPT) continue;
            const std::vector<double> values = Values(net.GetNode(h));
            const int n = net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
            for (std::size_t start = 0; start < values.size(); start += n) {
                double sum = 0;
                for (int k = 0; k < n; ++k)
                    sum += values[start + k];
                EXPECT_NEAR(sum, 1.0, 1e-12) << net.GetNode(h)->GetId();
            }
        }
        std::map<std::string, int> expected = entry.kinds;
        expected.erase("constant");
        EXPECT_EQ(KindCounts(net), expected);
        const std::string copyPath = folder.File("copy.dne");
        EXPECT_EQ(net.WriteFile(copyPath.c_str()), 0) << AllMessages();
        QNL_network copy;
        EXPECT_EQ(copy.ReadFile(copyPath.c_str()), 0) << AllMessages();
        EXPECT_TRUE(SameNetworks(net, copy, kEverything));
    }
}

// The chest clinic under its Netica names and parent orders is asia: same posteriors.
TEST_F(NeticaFormatTest, ChestClinicHasThePosteriorsOfAsia) {
    if (!HaveSharedNetworks()) GTEST_SKIP() << NoSharedNetworks();
    QNL_network asia;
    ASSERT_EQ(network.ReadFile(NeticaFile("ChestClinic.dne").c_str()), 0) << AllMessages();
    ASSERT_EQ(asia.ReadFile((RealNetworks() + "/net/asia.net").c_str()), 0);
    const std::map<std::string, std::string> same = {
        {"VisitAsia", "asia"},   {"Tuberculosis", "tub"}, {"Smoking", "smoke"},
        {"Cancer", "lung"},      {"TbOrCa", "either"},    {"XRay", "xray"},
        {"Bronchitis", "bronc"}, {"Dyspnea", "dysp"}};
    // Outcome 0 is "yes" in both; evidence on the x-ray and a smoker.
    for (const auto& [net, xray, smoker] :
         {std::tuple{&network, "XRay", "Smoking"}, {&asia, "xray", "smoke"}}) {
        ASSERT_EQ(net->GetNode(net->FindNode(xray))->GetValue()->SetEvidence(0), 0);
        ASSERT_EQ(net->GetNode(net->FindNode(smoker))->GetValue()->SetEvidence(0), 0);
        ASSERT_EQ(net->UpdateBeliefs(), 0);
    }
    for (const auto& [ours, theirs] : same)
        quarn_test::ExpectNear(quarn_test::Beliefs(network, network.FindNode(ours.c_str())),
                               quarn_test::Beliefs(asia, asia.FindNode(theirs.c_str())), 1e-9,
                               ours);
}

// Every kind of node the format expresses comes back as written; gates come back as the
// table they compute.
TEST_F(NeticaFormatTest, NodesOfEveryKindSurviveAWriteAndARead) {
    AwkwardModel nodes;
    BuildAwkwardModel(network, nodes);
    const int t = AddNode(network, QNL_TYPE_TRUTHTABLE, "T", {"on", "off", "idle"});
    ASSERT_EQ(network.AddArc(nodes.a, t), 0);
    ASSERT_EQ(network.AddArc(nodes.d, t), 0);
    QNL_stringArray resulting;
    for (const char* s : {"on", "off", "idle", "idle", "on", "off"})
        resulting.Add(s);
    ASSERT_EQ(network.GetNode(t)->GetDefinition()->SetResultingStates(resulting), 0);
    network.GetNode(nodes.a)->GetInfo()->properties.AddProperty("note", "say \"hi\"\\");
    const int m = AddNode(network, QNL_TYPE_NOISY_MAX, "M", {"hi", "lo"});
    ASSERT_EQ(network.AddArc(nodes.b, m), 0);
    QNL_network copy;
    const std::string path = folder.File("model.dne");
    ASSERT_EQ(network.WriteFile(path.c_str()), 0) << AllMessages();
    const std::string text = TempFolder::Get(path);
    EXPECT_EQ(text.rfind("// ~->[DNET-1]->~\n\nbnet ", 0), 0u) << text;
    ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages() << text;
    Compared all = kEverything;
    all.types = false;
    EXPECT_TRUE(SameNetworks(network, copy, all)) << text;
    EXPECT_EQ(copy.GetNode(copy.FindNode("M"))->GetType(), QNL_TYPE_CPT);
    EXPECT_EQ(copy.GetNode(copy.FindNode("T"))->GetType(), QNL_TYPE_TRUTHTABLE);
    const std::string again = folder.File("again.dne");
    ASSERT_EQ(copy.WriteFile(again.c_str()), 0);
    EXPECT_EQ(TempFolder::Get(again), text);
}

// CAST and DeMorgan gates under gates of their own class go out as the tables they compute,
// a dimension for each parent: read back as probability tables they give the posteriors that
// enumerating the gates gives, with and without findings.
TEST_F(NeticaFormatTest, CastAndDeMorganGatesWithGateParentsKeepTheirPosteriors) {
    using quarn_test::ArrayOf;
    using quarn_test::IntsOf;
    auto cast = [](QNL_network& net, const char* id, std::vector<double> positive,
                   std::vector<double> negative, double baseline) {
        auto* gate = static_cast<QNL_cast*>(Node(net, id)->GetDefinition());
        if (!positive.empty()) {
            ASSERT_EQ(0, gate->SetPositiveWeights(ArrayOf(positive)));
        }
        if (!negative.empty()) {
            ASSERT_EQ(0, gate->SetNegativeWeights(ArrayOf(negative)));
        }
        ASSERT_EQ(0, gate->SetBaseline(baseline));
    };
    auto demorgan = [](QNL_network& net, const char* id, std::vector<int> types,
                       std::vector<double> weights, double prior) {
        auto* gate = static_cast<QNL_demorgan*>(Node(net, id)->GetDefinition());
        if (!types.empty()) {
            ASSERT_EQ(0, gate->SetParentTypes(IntsOf(types)));
        }
        if (!weights.empty()) {
            ASSERT_EQ(0, gate->SetParentWeights(ArrayOf(weights)));
        }
        ASSERT_EQ(0, gate->SetPriorBelief(prior));
    };
    const struct {
        int type;
        const char* arcs;
        std::function<void(QNL_network&)> set;
    } cases[] = {
        {QNL_TYPE_CAST, "A>B",
         [&](QNL_network& n) {
             cast(n, "A", {}, {}, 0.7);
             cast(n, "B", {0.6}, {-0.3}, 0.4);
         }},
        {QNL_TYPE_CAST, "A>C B>C C>D",
         [&](QNL_network& n) {
             cast(n, "A", {}, {}, 0.3);
             cast(n, "B", {}, {}, 0.6);
             cast(n, "C", {0.5, -0.4}, {-0.2, 0.3}, 0.5);
             cast(n, "D", {0.8}, {-0.9}, 0.2);
         }},
        {QNL_TYPE_DEMORGAN, "A>C B>C",
         [&](QNL_network& n) {
             demorgan(n, "A", {}, {}, 0.6);
             demorgan(n, "B", {}, {}, 0.35);
             demorgan(n, "C", {QNL_DEMORGAN_CAUSE, QNL_DEMORGAN_INHIBITOR}, {0.7, 0.4}, 0.2);
         }},
        {QNL_TYPE_DEMORGAN, "A>B B>C A>C",
         [&](QNL_network& n) {
             demorgan(n, "A", {}, {}, 0.45);
             demorgan(n, "B", {QNL_DEMORGAN_REQUIREMENT}, {0.5}, 0.9);
             demorgan(n, "C", {QNL_DEMORGAN_BARRIER, QNL_DEMORGAN_CAUSE}, {0.3, 0.6}, 0.1);
         }},
    };
    // Findings as "node=outcome", outcome 0 being "True".
    const char* const findings[] = {"", "B=0", "A=1", "A=0 B=1"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arcs);
        QNL_network gates;
        std::istringstream arcs(c.arcs);
        for (std::string arc; arcs >> arc;)
            for (const char id : {arc[0], arc[2]})
                if (gates.FindNode(std::string(1, id).c_str()) < 0) {
                    ASSERT_GE(gates.AddNode(c.type, std::string(1, id).c_str()), 0);
                }
        ASSERT_NO_FATAL_FAILURE(AddArcs(gates, c.arcs));
        ASSERT_NO_FATAL_FAILURE(c.set(gates));
        const std::string path = folder.File("gates.dne");
        ASSERT_EQ(0, gates.WriteFile(path.c_str())) << AllMessages();
        for (const char* finding : findings) {
            SCOPED_TRACE(finding);
            QNL_network back;
            ASSERT_EQ(0, back.ReadFile(path.c_str())) << AllMessages();
            ASSERT_EQ(0, gates.ClearAllEvidence());
            std::istringstream items(finding);
            for (std::string item; items >> item;)
                for (QNL_network* net : {&gates, &back})
                    ASSERT_EQ(0, Node(*net, item.substr(0, 1).c_str())
                                     ->GetValue()
                                     ->SetEvidence(std::stoi(item.substr(2))));
            ASSERT_EQ(0, back.UpdateBeliefs()) << AllMessages();
            const quarn_test::Enumeration exact = quarn_test::Enumerate(gates);
            ASSERT_TRUE(exact.ok) << exact.error;
            for (int h = gates.GetFirstNode(); h >= 0; h = gates.GetNextNode(h)) {
                const char* id = gates.GetNode(h)->GetId();
                EXPECT_EQ(QNL_TYPE_CPT, Node(back, id)->GetType());
                if (Node(back, id)->GetValue()->HasEvidence()) continue;
                quarn_test::ExpectNear(quarn_test::Beliefs(back, back.FindNode(id)),
                                       exact.Posterior(h), 1e-9, id);
            }
        }
    }
}

// Texts as the tool writes them, and faults in them: the code, what was read, what was
// logged.
TEST_F(NeticaFormatTest, FilesReadAsFarAsTheyAreSound) {
    const std::string ab = "node A {kind = NATURE; discrete = TRUE; states = (a, b); parents = ();"
                           " probs = (0.25, 0.75);};\n";
    ExpectReads({
        // clang-format off
        // A flat table with row comments, a nested one, line ends of every kind, "#" in a
        // skipped value, vocabulary of the tool passed over quietly.
        {"// ~->[DNET-1]->~\r\n\r\nbnet N {\r\nAutoCompile = TRUE; whenchanged = 1424616754999;\r\n"
         "visual V1 { NodeSet Node {BuiltIn = 1; Color = 0x00E1E1E1;}; PrinterSetting A {margins = (1, 2);}; "
         "windowposn = (1, 2, 3, 4);};\r\n" + ab +
         "node B {kind = NATURE; discrete = TRUE; chance = CHANCE; states = (x, y);\r"
         " parents = (A); probs = // x y\r (0.1, 0.9, // a\r 0.3, 0.7); evidence = #0; EqnDirty = TRUE;\r"
         " ExperBase = 1; statetitles = (\"X\", \"Y\"); CommentShowing = TRUE;};\n"
         "node C {kind = NATURE; states = (p, q); parents = (B, A);"
         " probs = (((1, 0), (0, 1)), ((0.5, 0.5), (2, 2)));};\n"
         "ElimOrder = (A, B, C);\n};\n", 0,
         "A(a b): 0.25 0.75; B(x y)|A: 0.1 0.9 0.3 0.7; C(p q)|B A: 1 0 0 1 0.5 0.5 0.5 0.5; ", {}},
        // Parents named before they are defined; a decision with a policy; a utility; a
        // constant dropped; a continuous chance node with one outcome per interval.
        {"bnet N {\nnode U {kind = UTILITY; discrete = FALSE; chance = DETERMIN; parents = (D, A);"
         " functable = ((1, 2), (3, -4.5));};\n"
         "node D {kind = DECISION; discrete = TRUE; chance = DETERMIN; states = (go, stop);"
         " parents = (); functable = (stop);};\n" + ab +
         "node K {kind = CONSTANT; discrete = FALSE; value = 3; evidence = #0;};\n"
         "node R {kind = NATURE; discrete = FALSE; chance = CHANCE; levels = (0, 1.5, 3);"
         " parents = (); probs = (0.2, 0.8);};\n};\n", 0,
         "U[U]|D A: 1 2 3 -4.5; D[D](go stop); A(a b): 0.25 0.75; R(x0_to_1_5 x1_5_to_3): 0.2 0.8; ", {}},
        // A deterministic node: its function table names an outcome per configuration.
        {"bnet N {\n" + ab + "node T {kind = NATURE; discrete = TRUE; chance = DETERMIN;"
         " states = (x, y); parents = (A); functable = (y, x);};\n};\n", 0,
         "A(a b): 0.25 0.75; T[T](x y)|A: 0 1 1 0; ", {}},
        // A table of the wrong length is refused whole; the node keeps its uniform one.
        {"bnet N {\n" + ab + "node B {kind = NATURE; states = (x, y); parents = (A);"
         " probs = (0.1, 0.9, 0.3);};\n};\n", -2,
         "A(a b): 0.25 0.75; B(x y)|A: 0.5 0.5 0.5 0.5; ",
         {"ERROR: Node (\"B\") : 3 values given, the table holds 4"}},
        // Messages of the statements, each skipped, the rest applied.
        {"bnet N {\nvisual V1 {windowposn = (1, 2, 3); frob = 1;};\nparam P {units = cm; zap = 2;};\n"
         "mystery = 1;\nnode A {kind = ASSUME; chance = MAYBE; states = (a, b); parents = ();"
         " probs = (0.25, 0.75); wobble = 2; visual V1 {center = (1); size = (2); spin = 1;"
         " link 1 {path = ((1, 2)); twist = 3;};};};\nnode B {kind = ODD; states = (a, b);};\n};\n", -2,
         "A(a b): 0.25 0.75; B(a b): 0.5 0.5; ",
         {"ERROR: Wrong Window Position", "ERROR: 'frob' : Unknown Visual Net Statement",
          "ERROR: 'zap' : Unknown Param Statement", "ERROR: 'mystery' : Unknown Net Statement",
          "ERROR: nodes of type ASSUME not supported (yet)", "ERROR: 'MAYBE' : Unknown Node Type",
          "ERROR: 'wobble' : Unknown Node Statement", "ERROR: Wrong Center Coordinates",
          "ERROR: Wrong Size Values", "ERROR: 'spin' : Unknown Visual Node Statement",
          "ERROR: 'twist' : Unknown Visual Link Statement", "ERROR: 'ODD' : Unknown Node Kind"}},
        // A file cut inside a node keeps the nodes before it and fails.
        {"bnet N {\n" + ab + "node B {kind = NATURE; states = (x, y);", -111, "A(a b): 0.25 0.75; ", {}},
        // Not a Netica network at all.
        {"net { }\n", -127, "", {}},
        {"", -102, "", {"ERROR: The file is empty"}},
        // clang-format on
    });
}

// Every real file cut short or garbled fails with a code and never crashes.
TEST_F(NeticaFormatTest, TruncatedAndGarbledFilesFail) {
    for (const auto& [name, entry] : NeticaIndex()) {
        const std::string text = TempFolder::Get(NeticaFile(name));
        const std::size_t body = text.find("bnet");
        for (int k = 1; k <= 8; ++k) {
            const std::size_t cut = body + (text.size() - body) * k / 9;
            QNL_network net;
            EXPECT_LT(ReadText(text.substr(0, cut), net), 0) << name << " cut at " << cut;
            std::string garbled = text;
            garbled[cut] = "{}(;\"=)"[k % 7];
            QNL_network other;
            ReadText(garbled, other);
        }
    }
}

} // namespace
