// Gates whose parameters come from a file: parameters that make no probability table are
// reported when the file is read, naming the node, and the node stays as read.

#include "definitions/ci_definition.h"
#include "formats/format_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace format_test;

// The own text format: a parent A of three outcomes and a gate Q over it.
std::string TextGate(const std::string& type, const std::string& probabilities) {
    return "net N {\nnode A { TYPE = CPT; DEFINITION = { NAMESTATES = (a0, a1, a2); "
           "PROBABILITIES = (0.2, 0.3, 0.5); }; };\nnode Q { TYPE = " +
           type + "; PARENTS = (A); DEFINITION = { NAMESTATES = (q0, q1); PROBABILITIES = (" +
           probabilities + "); }; };\n};\n";
}

// The own XML format: the same parent and a gate element Q.
std::string XmlGate(const std::string& element, const std::string& inside) {
    return Document("<cpt id=\"A\"><state id=\"a0\"/><state id=\"a1\"/><state id=\"a2\"/>"
                    "<probabilities>0.2 0.3 0.5</probabilities></cpt>\n<" +
                    element + " id=\"Q\"><state id=\"q0\"/><state id=\"q1\"/><parents>A</parents>" +
                    inside + "</" + element + ">\n");
}

// A knowledge base: a parent A of two states and a noisy-MAX node Q with the given row for
// A's second state (A's first is absent).
std::string KiGate(const std::string& row) {
    return "diagnostic network \"t\"\nkb { NOTES : \"n\"; }\nnodes\n{\n"
           "standard A { type : discrete[2] = 3D { standard x { NAME : \"a0\"; } standard y { "
           "NAME : \"a1\"; } }; }\n"
           "ci Q { type : discrete[2] = 3D { standard x { NAME : \"q0\"; } standard y { NAME : "
           "\"q1\"; } }; }\n}\nnetwork\n{\nstandard A parent () { PROB : { () ; 0.4, 0.6 ; } }\n"
           "ci Q parent (A)\n{\nFUNCTION : noisy max ;\n0.9, 0.1 ;\n(0, 0) ; 1, 0 ;\n(0, 1) ; " +
           row +
           " ;\nAUTOCALC ;\npredAbsentStates : { predIndex : 0 ; predAbsentStates : { 0 } ; } "
           ";\n}\n}\n";
}

// Each file read into a fresh network: a sound gate reads with 0 and updates; one whose
// parameters make no table fails with -567 and the node named, keeps the node with the
// parameters as the file gave them, and an update still refuses it.
TEST(GateReading, UnusableGateParametersAreReportedByEveryReader) {
    TempFolder folder("gates");
    const struct {
        const char* name;
        std::string sound, unusable, reason;
    } cases[] = {
        // A noisy-AND whose compound columns divide out of range of the leak.
        {"and.qnl", TextGate("NOISY_AND", "0.1, 0.9, 0.4, 0.6, 0.95, 0.05"),
         TextGate("NOISY_AND", "0.9, 0.1, 0.4, 0.6, 0.05, 0.95"),
         "Probabilities don't sum up to 1"},
        {"or.qnl", TextGate("NOISY_OR", "0.1, 0.9, 0.4, 0.6, 0.05, 0.95"),
         TextGate("NOISY_OR", "0.9, 0.1, 0.4, 0.6, 0.95, 0.05"), "Probabilities don't sum up to 1"},
        {"max.qnl", TextGate("NOISY_MAX", "0.1, 0.9, 0.4, 0.6, 0, 1, 0.05, 0.95"),
         TextGate("NOISY_MAX", "0.1, 0.9, 0.4, 0.7, 0, 1, 0.05, 0.95"),
         "Probabilities don't sum up to 1"},
        {"max.xqnl", XmlGate("noisymax", "<parameters>0.1 0.9 0.4 0.6 0 1 0.05 0.95</parameters>"),
         XmlGate("noisymax", "<parameters>0.1 0.9 0.4 0.6 0.5 0.5 0.05 0.95</parameters>"),
         "Constraints violeted"},
        {"adder.xqnl",
         XmlGate("noisyadder", "<parameters>0.1 0.9 0.4 0.6 0 1 0.05 0.95</parameters>"),
         XmlGate("noisyadder", "<parameters>0.1 0.9 -0.4 1.4 0 1 0.05 0.95</parameters>"),
         "Probability less than 0"},
        {"max.dxp", KiGate("0.3, 0.7"), KiGate("0.3, 0.3"), "Probabilities don't sum up to 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File(c.name);
        {
            QNL_errorHandler::Instance().Flush();
            QNL_network net;
            folder.Put(c.name, c.sound);
            ASSERT_EQ(0, net.ReadFile(path.c_str())) << AllMessages();
            EXPECT_EQ(0, net.UpdateBeliefs()) << AllMessages();
        }
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        folder.Put(c.name, c.unusable);
        EXPECT_EQ(-567, net.ReadFile(path.c_str())) << AllMessages();
        EXPECT_EQ(std::vector<std::string>{"ERROR: Node [Q] is not valid: " + c.reason},
                  LoggedMessages(-567));
        ASSERT_GE(net.FindNode("Q"), 0);
        const auto* gate = dynamic_cast<const QNL_ciDefinition*>(Node(net, "Q")->GetDefinition());
        ASSERT_NE(nullptr, gate);
        EXPECT_EQ(std::vector<std::string>{"A"}, ParentIds(net, net.FindNode("Q")));
        EXPECT_EQ(-568, net.UpdateBeliefs());
    }
}

} // namespace
