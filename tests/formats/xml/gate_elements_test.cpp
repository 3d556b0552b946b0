#include "definitions/logic_gates.h"
#include "definitions/noisy_adder.h"
#include "definitions/noisy_max.h"
#include "formats/format_test_support.h"
#include "model/network.h"
#include "model/node.h"
#include "support/gate_reference.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace format_test;

const std::string PARENT = "<cpt id=\"A\"><state id=\"a0\"/><state id=\"a1\"/><state id=\"a2\"/>"
                           "<probabilities>0.2 0.3 0.5</probabilities></cpt>\n";

std::string NoisyMax(const std::string& inside) {
    return "<noisymax id=\"Y\"><state id=\"hi\"/><state id=\"lo\"/><parents>A</parents>" + inside +
           "</noisymax>\n";
}

QNL_noisyMAX* GateOf(QNL_network& net, const char* id) {
    return dynamic_cast<QNL_noisyMAX*>(net.GetNode(net.FindNode(id))->GetDefinition());
}

// Strength groups are the stored orders themselves: what is written comes back unchanged,
// also for orders that are not their own inverse; a group that is no permutation stops the
// load before it reaches the definition.
TEST(XmlGateElements, NoisyMaxListsAreReadAsWritten) {
    QNL_network net;
    const std::string params = "<parameters>0.7 0.3 0.4 0.6 0 1 0.1 0.9</parameters>";
    ASSERT_EQ(ReadDocument(net, "gate_strengths.xqnl",
                           Document(PARENT + NoisyMax("<strengths>1 2 0</strengths>" + params))),
              0)
        << AllMessages();
    QNL_noisyMAX* gate = GateOf(net, "Y");
    ASSERT_NE(gate, nullptr);
    const QNL_intArray& order = *gate->GetParentOutcomeStrengths(0);
    EXPECT_EQ(std::vector<int>(order.Items(), order.Items() + order.GetCount()),
              (std::vector<int>{1, 2, 0}));
    EXPECT_DOUBLE_EQ(gate->GetParameters()->Subscript(1), 0.3);

    struct Bad {
        std::string inside;
        std::string message;
    } bad[] = {
        {"<strengths>1 1 0</strengths>", "SetParentOutcomeStrengths failed"},
        {"<strengths>1 2 7</strengths>", "SetParentOutcomeStrengths failed"},
        {"<strengths>1 2</strengths>", "SetParentOutcomeStrengths failed"},
        {"<strengths>1 2 0 3</strengths>", "SetParentOutcomeStrengths failed"},
        {"<strengths>1 x 0</strengths>", "Can't read list of integers, failed at element 2"},
        {"<parameters>0.5 0.5</parameters>", "Invalid weights vector size 2, expected 8"},
    };
    for (const Bad& b : bad) {
        QNL_network other;
        EXPECT_EQ(ReadDocument(other, "gate_bad.xqnl", Document(PARENT + NoisyMax(b.inside))),
                  -103);
        const std::string error = AllMessages();
        EXPECT_NE(error.find(b.message), std::string::npos) << b.inside << ": " << error;
    }
}

// A noisy adder's attribute and lists, and their refusals.
TEST(XmlGateElements, NoisyAdderListsAndTheirRefusals) {
    auto adder = [](const std::string& function, const std::string& inside) {
        return "<noisyadder id=\"Y\"" + function +
               "><state id=\"s0\"/><state id=\"s1\"/><parents>A</parents>" + inside +
               "</noisyadder>\n";
    };
    QNL_network net;
    ASSERT_EQ(
        ReadDocument(net, "adder.xqnl",
                     Document(PARENT + adder(" function=\"singlefault\"",
                                             "<dstates>0 1</dstates><weights>2 3</weights>"
                                             "<parameters>0.4 0.6 0 1 1 0 1 0</parameters>"))),
        0)
        << AllMessages();
    const auto* read =
        dynamic_cast<const QNL_noisyAdder*>(net.GetNode(net.FindNode("Y"))->GetDefinition());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->GetFunction(), QNL_noisyAdder::FUNCTION_SINGLE_FAULT);
    EXPECT_EQ(read->GetDistinguishedState(), 0);
    EXPECT_EQ(read->GetParentDistinguishedState(0), 1);
    EXPECT_EQ(read->GetWeights(), (std::vector<double>{2, 3}));

    struct Bad {
        std::string function, inside, message;
    } bad[] = {
        {" function=\"max\"", "", "Invalid noisy adder function: 'max'"},
        {"", "<dstates>1</dstates>", "Size of distinguished state vector is invalid: 1, expected2"},
        {"", "<dstates>2 0</dstates>", "SetDistinguishedState call fails"},
        {"", "<dstates>1 3</dstates>", "SetParentDistinguishedState call fails"},
        {"", "<weights>1 2 3</weights>", "Invalid weights vector size 3, expected 2"},
        {"", "<parameters>1</parameters>", "Invalid weights vector size 1, expected 8"},
    };
    for (const Bad& b : bad) {
        QNL_network other;
        EXPECT_EQ(
            ReadDocument(other, "adder_bad.xqnl", Document(PARENT + adder(b.function, b.inside))),
            -103);
        const std::string error = AllMessages();
        EXPECT_NE(error.find(b.message), std::string::npos) << b.inside << ": " << error;
    }
}

const std::string LOGIC_GATES =
    "<demorgan id=\"D1\"><priorbelief>0.25</priorbelief></demorgan>\n"
    "<demorgan id=\"D2\"><parents>D1</parents><types>barrier</types><weights>0.75</weights>"
    "<priorbelief>0.125</priorbelief></demorgan>\n"
    "<cast id=\"C1\"><baseline>0.5</baseline></cast>\n"
    "<cast id=\"C2\"><parents>C1</parents><pweights>0.5</pweights><nweights>-0.25</nweights>"
    "<baseline>0.375</baseline></cast>\n";

// DeMorgan and CAST gates read, write back the same bytes, and are refused by the formats of
// other tools before any file exists.
TEST(XmlGateElements, LogicGatesRoundTripAndStayOutOfForeignFormats) {
    QNL_network net;
    ASSERT_EQ(ReadDocument(net, "logic.xqnl", Document(LOGIC_GATES)), 0) << AllMessages();
    const auto* d2 =
        dynamic_cast<const QNL_demorgan*>(net.GetNode(net.FindNode("D2"))->GetDefinition());
    ASSERT_NE(d2, nullptr);
    EXPECT_EQ(d2->GetParentType(0), QNL_demorgan::BARRIER);
    EXPECT_EQ(quarn_test::ValuesOf(d2), (std::vector<double>{0.125, 0.875, 0.78125, 0.21875}));
    const std::string first = TempPath("logic_first.xqnl");
    const std::string second = TempPath("logic_second.xqnl");
    ASSERT_EQ(net.WriteFile(first.c_str(), 0, 0), 0);
    QNL_network back;
    ASSERT_EQ(back.ReadFile(first.c_str()), 0) << AllMessages();
    EXPECT_TRUE(format_test::SameNetworks(net, back));
    ASSERT_EQ(back.WriteFile(second.c_str(), 0, 0), 0);
    EXPECT_EQ(FileContent(first), FileContent(second));
    for (const char* extension : {"net", "dsc"}) {
        const std::string path = TempPath(std::string("logic.") + extension);
        std::remove(path.c_str());
        EXPECT_EQ(net.WriteFile(path.c_str(), 0, 0), -2) << extension;
        EXPECT_FALSE(std::ifstream(path).good()) << extension;
    }
    QNL_errorHandler::Instance().Flush();

    struct Bad {
        std::string xml, message;
    } bad[] = {
        {"<cast id=\"C\"><baseline>x</baseline></cast>", "Can't read baseline"},
        {"<cast id=\"C\"><baseline>1.5</baseline></cast>", "SetBaseline failed"},
        {"<demorgan id=\"D\"><priorbelief>0.1 0.2</priorbelief></demorgan>",
         "Can't read prior belief"},
        {"<demorgan id=\"P\"><priorbelief>0.5</priorbelief></demorgan><demorgan id=\"D\">"
         "<parents>P</parents><types>foo</types><priorbelief>0.5</priorbelief></demorgan>",
         "Invalid parent type 'foo' at element 1"},
        {"<demorgan id=\"P\"><priorbelief>0.5</priorbelief></demorgan><demorgan id=\"D\">"
         "<parents>P</parents><weights>2</weights><priorbelief>0.5</priorbelief></demorgan>",
         "SetParentWeights failed"},
        {"<cast id=\"P\"><baseline>0.5</baseline></cast><cast id=\"C\"><parents>P</parents>"
         "<nweights>-1 0</nweights><baseline>0.5</baseline></cast>",
         "SetNegativeWeights failed"},
    };
    for (const Bad& b : bad) {
        QNL_network other;
        EXPECT_EQ(ReadDocument(other, "logic_bad.xqnl", Document(b.xml)), -103);
        const std::string error = AllMessages();
        EXPECT_NE(error.find(b.message), std::string::npos) << b.xml << ": " << error;
    }
    std::remove(first.c_str());
    std::remove(second.c_str());
}

// Random networks mixing gates and tables go through a file and back to an equal model, and
// writing that model again gives the same bytes.
TEST(XmlGateElements, RandomGateNetworksRoundTripToTheSameBytes) {
    for (int round = 0; round < 8; ++round) {
        QNL_network net;
        quarn_test::BuildRandomNetwork(net, quarn_test::RoundSpec(400, round));
        quarn_test::TestRandom random(40 + static_cast<std::uint64_t>(round));
        quarn_test::MixInGates(net, random, 0.5);
        const std::string first = TempPath("gates_first.xqnl");
        const std::string second = TempPath("gates_second.xqnl");
        ASSERT_EQ(net.WriteFile(first.c_str(), 0, 0), 0) << AllMessages();
        QNL_network back;
        ASSERT_EQ(back.ReadFile(first.c_str()), 0) << AllMessages();
        EXPECT_TRUE(format_test::SameNetworks(net, back)) << "round " << round;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
            const auto* gate = dynamic_cast<const QNL_noisyMAX*>(net.GetNode(h)->GetDefinition());
            if (gate == nullptr) continue;
            const auto* read = GateOf(back, net.GetNode(h)->GetId());
            ASSERT_NE(read, nullptr);
            for (int b = 0; b < gate->GetNumberOfBlocks(); ++b)
                EXPECT_EQ(*gate->GetParentOutcomeStrengths(b), *read->GetParentOutcomeStrengths(b));
        }
        ASSERT_EQ(back.WriteFile(second.c_str(), 0, 0), 0);
        EXPECT_EQ(FileContent(first), FileContent(second)) << "round " << round;
        std::remove(first.c_str());
        std::remove(second.c_str());
    }
}

// The formats of other tools carry gates as their expanded tables.
TEST(XmlGateElements, ForeignFormatsWriteGatesAsExpandedTables) {
    for (const char* extension : {"net", "dsc"}) {
        QNL_network net;
        quarn_test::BuildRandomNetwork(net, quarn_test::RoundSpec(600, 3));
        quarn_test::TestRandom random(6);
        quarn_test::MixInGates(net, random, 0.7);
        const std::string path = TempPath(std::string("gates.") + extension);
        ASSERT_EQ(net.WriteFile(path.c_str(), 0, 0), 0) << AllMessages();
        QNL_network back;
        ASSERT_EQ(back.ReadFile(path.c_str()), 0) << AllMessages();
        format_test::Compared what;
        what.types = false;
        what.tables = false;
        EXPECT_TRUE(format_test::SameNetworks(net, back, what)) << extension;
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
            const std::vector<double> expected =
                quarn_test::ValuesOf(net.GetNode(h)->GetDefinition());
            const std::vector<double> read = quarn_test::ValuesOf(
                back.GetNode(back.FindNode(net.GetNode(h)->GetId()))->GetDefinition());
            ASSERT_EQ(read.size(), expected.size());
            for (std::size_t i = 0; i < read.size(); ++i)
                EXPECT_NEAR(read[i], expected[i], 1e-8) << extension << " node " << h;
        }
        std::remove(path.c_str());
    }
}

} // namespace
