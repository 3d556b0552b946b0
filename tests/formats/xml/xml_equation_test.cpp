#include "definitions/equation.h"
#include "definitions/equation_scc.h"
#include "definitions/node_values.h"
#include "formats/format_test_support.h"
#include "model/case_library.h"
#include "model/node.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace format_test;

QNL_equation* Eq(QNL_network& net, const char* id) {
    return dynamic_cast<QNL_equation*>(net.GetNode(net.FindNode(id))->GetDefinition());
}

std::string Text(QNL_network& net, const char* id) {
    std::string text;
    Eq(net, id)->GetEquation().GetText(text);
    return text;
}

double Mean(QNL_network& net, const char* id) {
    return dynamic_cast<QNL_equationValue*>(net.GetNode(net.FindNode(id))->GetValue())->GetMean();
}

class XmlEquations : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }
};

TEST_F(XmlEquations, NetworksRoundTripToTheSameModelAndBytes) {
    QNL_network original;
    // Handles in topological order: the display block lists nodes by handle, a read file
    // creates them in the order of the node elements.
    for (const char* id : {"x", "y", "z"})
        ASSERT_GE(original.AddNode(QNL_TYPE_EQUATION, id), 0);
    ASSERT_EQ(Eq(original, "x")->SetEquation("x = -2.5e-7 + Pi()", nullptr, nullptr), 0);
    ASSERT_EQ(Eq(original, "y")->SetEquation("y = x^2 - Sin(x)/3 - (x < 1)", nullptr, nullptr), 0);
    ASSERT_EQ(Eq(original, "z")->SetEquation("2*z = -(x + y)", nullptr, nullptr), 0);
    ASSERT_EQ(Eq(original, "y")->SetBounds(0.125, 1e10), 0);
    QNL_case* evidence = original.AddCase("c");
    ASSERT_NE(evidence, nullptr);
    ASSERT_EQ(evidence->AddEvidenceValue(original.FindNode("y"), 0.1), 0);
    ASSERT_EQ(original.UpdateBeliefs(), 0) << AllMessages();

    const std::string first = TempPath("equations1.xqnl");
    const std::string second = TempPath("equations2.xqnl");
    ASSERT_EQ(original.WriteFile(first.c_str()), 0) << AllMessages();
    QNL_network copy;
    ASSERT_EQ(copy.ReadFile(first.c_str()), 0) << AllMessages();
    for (const char* id : {"x", "y", "z"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(Text(copy, id), Text(original, id));
        EXPECT_EQ(Eq(copy, id)->GetLowerBound(), Eq(original, id)->GetLowerBound());
        EXPECT_EQ(Eq(copy, id)->GetUpperBound(), Eq(original, id)->GetUpperBound());
        EXPECT_EQ(copy.NumberOfParents(copy.FindNode(id)),
                  original.NumberOfParents(original.FindNode(id)));
    }
    int node = -1;
    double value = 0.0;
    ASSERT_EQ(copy.GetCase(0)->GetEvidenceValue(0, node, value), 0);
    EXPECT_EQ(node, copy.FindNode("y"));
    EXPECT_EQ(value, 0.1);
    ASSERT_EQ(copy.UpdateBeliefs(), 0) << AllMessages();
    for (const char* id : {"x", "y", "z"})
        EXPECT_EQ(Mean(copy, id), Mean(original, id)) << id;

    ASSERT_EQ(copy.WriteFile(second.c_str()), 0);
    EXPECT_EQ(FileContent(second), FileContent(first));
    // The default range writes no attributes and reads back as -1 and 1.
    const std::string text = FileContent(first);
    EXPECT_NE(text.find("<definition>x=-2.5e-07+Pi()</definition>"), std::string::npos) << text;
    EXPECT_NE(text.find("<definition lower=\"0.125\" upper=\"1e+10\">"), std::string::npos) << text;
}

TEST_F(XmlEquations, SetOfEquationsIsRefusedBeforeTheFileIsTouched) {
    QNL_network net;
    ASSERT_GE(net.AddNode(QNL_TYPE_EQUATION, "e"), 0);
    ASSERT_GE(net.AddNode(QNL_TYPE_EQUATION_SCC, "s"), 0);
    const std::string path = WriteText("scc.xqnl", "old content");
    EXPECT_EQ(net.WriteFile(path.c_str()), -2);
    EXPECT_EQ(LoggedMessages(-2),
              std::vector<std::string>{"ERROR: This Network cannot be saved in XML format: node "
                                       "'s' is of type EQUATION_SCC, which the format does not "
                                       "carry"});
    EXPECT_EQ(FileContent(path), "old content");
}

} // namespace
