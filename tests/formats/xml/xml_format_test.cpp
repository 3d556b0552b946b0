#include "formats/xml/xml_format.h"

#include "definitions/cpt.h"
#include "definitions/extra_definition.h"
#include "definitions/table.h"
#include "definitions/truth_table.h"
#include "formats/format.h"
#include "formats/format_test_support.h"
#include "formats/xml/xml_network_test_support.h"
#include "model/case_library.h"
#include "model/node_cost.h"
#include "model/submodel.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>

namespace {

using namespace xml_test;
using format_test::AddNode;
using format_test::Describe;

QNL_stringArray Ids(std::initializer_list<const char*> ids) {
    QNL_stringArray out;
    for (const char* id : ids)
        out.Add(id);
    return out;
}

QNL_doubleArray Doubles(std::initializer_list<double> values) {
    QNL_doubleArray out;
    out.SetSize(static_cast<int>(values.size()));
    int i = 0;
    for (double v : values)
        out[i++] = v;
    return out;
}

std::uint64_t Bits(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

QNL_rectangle Rectangle(int x, int y, int width, int height) {
    QNL_rectangle r;
    r.x = x;
    r.y = y;
    r.width = width;
    r.height = height;
    return r;
}

QNL_node* Node(QNL_network& net, const char* id) {
    return net.GetNode(net.FindNode(id));
}

// A network with every part the format carries, with texts and numbers chosen to break
// careless escaping and rounding.
void BuildFullNetwork(QNL_network& net) {
    QNL_header* header = net.GetHeader();
    ASSERT_EQ(header->SetId("Diag_Net"), 0);
    header->SetName("Diagnosis <net> & \"friends\"");
    header->SetComment("first line\r\nsecond\tline with C:\\new path");
    net.SetNumberOfSamples(2345);
    net.GetUserProperties().AddProperty("Author", "A <b> & 'c'\ttab\nnewline \\n literal");
    net.GetUserProperties().AddProperty("Empty", "");
    QNL_episParams epis;
    epis.eps1 = 0.1 + 0.2;
    epis.numstates3 = 30;
    ASSERT_EQ(net.SetEpisParams(epis), 0);
    ASSERT_EQ(net.SetFaultNameFormat(QNL_extraDefinition::FAULT_NAME_NODESTATE), 0);

    const int a = AddNode(net, QNL_TYPE_CPT, "A", {"a1", "a2", "a3"});
    const int b = AddNode(net, QNL_TYPE_CPT, "B", {"yes", "no"});
    const int t = AddNode(net, QNL_TYPE_TRUTHTABLE, "T", {"t1", "t2", "t3"});
    const int d = AddNode(net, QNL_TYPE_LIST, "D", {"d1", "d2"});
    const int u = net.AddNode(QNL_TYPE_TABLE, "U");
    for (const auto& [from, to] : {std::pair{a, b}, {a, t}, {b, t}, {b, d}, {d, u}, {t, u}})
        ASSERT_EQ(net.AddArc(from, to), 0);

    auto* cptA = static_cast<QNL_cpt*>(net.GetNode(a)->GetDefinition());
    ASSERT_EQ(cptA->SetProbabilities(Doubles({1.0 / 3, 1.0 / 3, 1.0 - 2.0 / 3})), 0);
    auto* cptB = static_cast<QNL_cpt*>(net.GetNode(b)->GetDefinition());
    ASSERT_EQ(cptB->SetProbabilities(
                  Doubles({0.1 + 0.2, 1 - (0.1 + 0.2), 1e-17, 1 - 1e-17, 2.0 / 7, 5.0 / 7})),
              0);
    auto* truth = static_cast<QNL_truthTable*>(net.GetNode(t)->GetDefinition());
    ASSERT_EQ(truth->SetResultingStates(Ids({"t1", "t2", "t3", "t3", "t2", "t1"})), 0);
    auto* table = static_cast<QNL_table*>(net.GetNode(u)->GetDefinition());
    ASSERT_EQ(
        table->SetUtilities(Doubles({-1.5, 1e300, QNL_UNDEFINED_NUMBER, 0.0, -0.0, 4.9e-324})), 0);

    ASSERT_EQ(net.SetTarget(b), 0);
    QNL_extraDefinition* extraA = net.GetNode(a)->GetExtraDefinition();
    extraA->SetDiagnosisType(QNL_extraDefinition::TARGET);
    extraA->SetFaultOutcome(1, true);
    extraA->SetFaultOutcome(2, true);
    extraA->SetOutcomeLabel(2, "A_dead");
    extraA->SetDefaultOutcome(2);
    extraA->SetFlags(1, 1, 1);
    extraA->SetFaultName(1, "Weak & low");
    extraA->SetOutcomeFix(1, "Charge\nthen test");
    extraA->SetOutcomeDescription(1, "Below \"12\" V");
    extraA->GetOutcomeDocumentation(1)->AddDocument("Manual", "docs/a b.pdf");
    extraA->SetFaultName(2, "Dead");
    extraA->SetQuestion("Is it old?");
    extraA->SetFaultNameFormat(QNL_extraDefinition::FAULT_NAME_STATE);
    QNL_extraDefinition* extraB = net.GetNode(b)->GetExtraDefinition();
    extraB->SetDiagnosisType(QNL_extraDefinition::OBSERVATION);
    extraB->SetOutcomeDescription(0, "only a description");
    net.GetNode(t)->GetExtraDefinition()->SetFaultNameFormat(QNL_extraDefinition::FAULT_NAME_USER);

    QNL_nodeInfo* infoA = net.GetNode(a)->GetInfo();
    infoA->properties.AddProperty("Reliability", "high & <tested>");
    infoA->documentation.AddDocument("Shop", "http://example.org/?a=1&b=2");
    infoA->header.SetName("Battery \\ state");
    infoA->header.SetComment("Line 1\nLine 2");
    infoA->screen.color = 0x0000FF;
    infoA->screen.borderColor = 0x123456;
    infoA->screen.borderThickness = 2;
    infoA->screen.fontColor = 0xABCDEF;
    infoA->screen.position = Rectangle(-6, 15, 11, 31);
    net.GetNode(u)->GetInfo()->screen.position.x = 300;

    ASSERT_EQ(net.AddArc(a, b, 1), 0);
    ASSERT_EQ(net.GetNode(b)->GetCost()->SetCosts(Doubles({QNL_NOT_AVAILABLE_NUMBER, 2.5, 0.1})),
              0);
    ASSERT_EQ(net.GetNode(t)->GetCost()->SetCosts(Doubles({1.0 / 3})), 0);

    QNL_case* first = net.AddCase("Morning run");
    ASSERT_NE(first, nullptr);
    first->SetCategory("field & lab");
    first->SetDescription("Cold\nstart");
    first->SetCreated(1200000000);
    first->SetModified(-5);
    ASSERT_EQ(first->AddEvidence(a, 2), 0);
    ASSERT_EQ(first->AddEvidence(b, 0), 0);
    ASSERT_EQ(first->AddTemporalEvidence(b, 1, 3), 0);
    ASSERT_EQ(first->AddTemporalEvidence(t, 2, 0), 0);
    ASSERT_EQ(first->AddTarget(u), 0);
    ASSERT_EQ(first->AddTarget(a), 0);
    ASSERT_NE(net.AddCase("Empty"), nullptr);

    QNL_submodelHandler& submodels = net.GetSubmodelHandler();
    const int s1 = submodels.CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "Electrics");
    const int s2 = submodels.CreateSubmodel(s1, "Inner");
    ASSERT_GE(s2, 0);
    QNL_submodel* sub1 = submodels.GetSubmodel(s1);
    sub1->header.SetName("Electrical system");
    sub1->header.SetComment("Battery and lights");
    sub1->screen.color = 0x00FFFF;
    sub1->screen.borderThickness = 3;
    sub1->screen.position = Rectangle(60, 40, 100, 40);
    sub1->windowPosition = Rectangle(151, 102, 300, 200);
    ASSERT_EQ(sub1->comments.Add(Rectangle(20, 5, 40, 10), "Check\\first\nthen second"), 0);
    QNL_submodel* main = submodels.GetSubmodel(QNL_submodelHandler::MAIN_HANDLE);
    ASSERT_EQ(main->comments.Add(Rectangle(250, 5, 40, 10), "Main"), 0);
    ASSERT_EQ(net.GetNode(a)->SetSubmodel(s1), 0);
    ASSERT_EQ(net.GetNode(b)->SetSubmodel(s2), 0);
}

// What the full network's file must hold, one piece for each part of the model (the read back
// must then reproduce it).
// clang-format off
const char* const SNIPPETS[] = {
    R"(<quarn version="1.0" id="Diag_Net" numsamples="2345">)",
    R"(<property id="Author">A &lt;b&gt; &amp; &apos;c&apos;\ttab\nnewline \\n literal</property>)",
    R"(<property id="Empty"></property>)", R"(numstates3="30" eps1="0.30000000000000004")",
    R"(<cpt id="A" diagtype="target" ranked="true" mandatory="true">)",
    R"(<state id="a3" label="A_dead" default="true" fault="true" />)",
    R"(0.33333333333333337</probabilities>)",
    R"(<property id="Reliability">high &amp; &lt;tested&gt;</property>)",
    R"(<cpt id="B" target="true" diagtype="observation">)",
    R"(>0.30000000000000004 0.7 1e-17 1 0.2857142857142857 0.7142857142857143<)",
    R"(<resultingstates>t1 t2 t3 t3 t2 t1</resultingstates>)",
    R"(<utilities>-1.5 1e+300 4.450147717014403e-308 0 -0 5e-324</utilities>)",
    R"(<cost>n/a 2.5 0.1</cost>)", R"(<cost>0.3333333333333333</cost>)",
    R"(<case name="Morning run" category="field &amp; lab" created="1200000000" modified="-5">)",
    R"(<description>Cold\nstart</description>)", R"(<evidence node="A" state="a3" />)",
    R"(<evidence node="B" slice="3" state="no" />)", R"(<evidence node="T" slice="0" state="t3" />)",
    R"(<target node="U" />)", R"(<case name="Empty">)",
    R"(name="Diagnosis &lt;net&gt; &amp; &quot;friends&quot;" faultnameformat="nodestate">)",
    R"(<comment>first line\nsecond\tline with C:\\new path</comment>)",
    R"(<submodel id="Electrics">)", R"(<name>Electrical system</name>)", R"(<interior color="ffff00" />)",
    R"(<outline color="0000bb" width="3" />)", R"(<position>10 20 110 60</position>)",
    R"(<comment>Battery and lights</comment>)", R"(<window>1 2 301 202</window>)",
    R"(<submodel id="Inner">)", R"(<comment>only a description</comment>)",
    R"(<node id="A" faultnameformat="state">)", R"(<name>Battery \\ state</name>)",
    R"(<outline color="563412" width="2" />)", R"(<font color="efcdab")",
    R"(<position>-11 0 0 31</position>)", R"(<comment>Line 1\nLine 2</comment>)",
    R"(<state id="a2" faultname="Weak &amp; low">)", R"(<fix>Charge\nthen test</fix>)",
    R"(<comment>Below &quot;12&quot; V</comment>)", R"(<link title="Manual" path="docs/a b.pdf" />)",
    R"(<state id="a3" faultname="Dead" />)", R"(<question>Is it old?</question>)",
    R"(<link title="Shop" path="http://example.org/?a=1&amp;b=2" />)",
    R"(<caption>Check\\first\nthen second</caption>)", R"(<position>0 0 40 10</position>)",
    R"(<caption>Main</caption>)", R"(<position>230 0 270 10</position>)",
    R"(<node id="T" faultnameformat="user">)", R"(<position>262 -18 338 18</position>)"};
// clang-format on

class XmlFormat : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
};

// Every part written must read back: the file the copy writes is the very file it was read
// from, and each part shows in it. Tables and costs come back bit for bit.
TEST_F(XmlFormat, FullNetworkSurvivesWriteAndRead) {
    QNL_network original;
    ASSERT_NO_FATAL_FAILURE(BuildFullNetwork(original));
    const std::string path = TempPath("full.xqnl");
    ASSERT_EQ(original.WriteFile(path.c_str()), 0) << AllMessages();
    EXPECT_TRUE(IsWellFormed(path));
    QNL_network copy;
    ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages();
    EXPECT_TRUE(LoggedMessages(-103).empty());
    EXPECT_TRUE(LoggedMessages(-100).empty()) << AllMessages();
    EXPECT_TRUE(format_test::SameNetworks(original, copy, format_test::kEverything));
    const std::string again = TempPath("full_again.qqnl");
    ASSERT_EQ(copy.WriteFile(again.c_str()), 0);
    const std::string text = FileContent(path);
    EXPECT_EQ(text, FileContent(again));
    for (const char* part : SNIPPETS)
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    for (const char* id : {"B", "T"}) {
        const QNL_doubleArray& x = Node(original, id)->GetCost()->GetCosts().GetItems();
        const QNL_doubleArray& y = Node(copy, id)->GetCost()->GetCosts().GetItems();
        ASSERT_EQ(x.GetSize(), y.GetSize());
        for (int i = 0; i < x.GetSize(); ++i)
            EXPECT_EQ(Bits(x[i]), Bits(y[i])) << id << " cost " << i;
    }
}

TEST_F(XmlFormat, HandWrittenFileReadsIntoTheModelAndSurvivesWriteAndRead) {
    QNL_network net;
    ASSERT_EQ(net.ReadFile((std::string(QUARN_TEST_DATA_DIR) + "/xqnl/full.xqnl").c_str()), 0)
        << AllMessages();
    EXPECT_EQ(Describe(net),
              "Battery'Battery state'{Reliability=high & \"tested\";}(ok weak dead): 0.9 0.07 "
              "0.03; Lights(on off)|Battery: 0.99 0.01 0.6 0.4 0 1; Starts[T](yes no)|Battery: 1 "
              "0 0 1 0 1; Action[D](wait call)|Lights; Cost[U]|Action Starts: 0 -10 -50 -60; ");
    EXPECT_STREQ(net.GetHeader()->GetId(), "Car_Start");
    EXPECT_STREQ(net.GetHeader()->GetName(), "Car start");
    EXPECT_STREQ(net.GetHeader()->GetComment(), "Diagnosis of a car\nthat won't start");
    EXPECT_EQ(net.GetNumberOfSamples(), 5000);
    EXPECT_EQ(net.GetEpisParams().eps3, 6e-05);
    EXPECT_EQ(net.GetFaultNameFormat(), QNL_extraDefinition::FAULT_NAME_NODESTATE);
    EXPECT_STREQ(net.GetUserProperties().GetValue(0), "J. Doe\tQA\nsecond line");

    QNL_node* battery = Node(net, "Battery");
    const QNL_extraDefinition* extra = battery->GetExtraDefinition();
    EXPECT_EQ(extra->GetDiagnosisType(), QNL_extraDefinition::TARGET);
    EXPECT_TRUE(extra->IsRanked() && !extra->IsMandatory() && extra->IsSetAsDefault());
    EXPECT_EQ(extra->GetDefaultOutcome(), 2);
    EXPECT_EQ(extra->IsFaultOutcome(0) * 10 + extra->IsFaultOutcome(1), 1);
    EXPECT_STREQ(extra->GetOutcomeLabels().GetString(1), "BatteryWeak");
    EXPECT_STREQ(extra->GetFaultName(1), "Weak battery");
    EXPECT_STREQ(extra->GetOutcomeFix(1), "Charge it");
    EXPECT_STREQ(extra->GetOutcomeDescription(1), "Voltage below 12");
    EXPECT_STREQ(extra->GetOutcomeDocumentation(1)->GetPath(0), "docs/battery.pdf");
    EXPECT_STREQ(extra->GetQuestion(), "Is the battery old?");
    EXPECT_EQ(extra->GetFaultNameFormat(), QNL_extraDefinition::FAULT_NAME_STATE);
    EXPECT_STREQ(battery->GetInfo()->documentation.GetPath(0), "http://example.org/shop?a=1&b=2");
    const QNL_screenInfo& screen = battery->GetInfo()->screen;
    // "ff0000" is red, kept as 0x00BBGGRR; of "-11 0 0 30" the centre is rounded down.
    EXPECT_EQ(screen.color, 0x0000FF);
    EXPECT_EQ(screen.fontColor, 0x332211);
    EXPECT_EQ(screen.position.x, -6);
    EXPECT_EQ(screen.position.height, 30);
    QNL_node* lights = Node(net, "Lights");
    EXPECT_EQ(net.IsTarget(net.FindNode("Lights")), 1);
    EXPECT_TRUE(lights->GetExtraDefinition()->IsMandatory());
    const QNL_doubleArray& costs = lights->GetCost()->GetCosts().GetItems();
    ASSERT_EQ(costs.GetSize(), 3);
    EXPECT_EQ(Bits(costs[0]), Bits(QNL_NOT_AVAILABLE_NUMBER));
    EXPECT_EQ(net.GetParents(net.FindNode("Lights"), 1).GetCount(), 1);

    ASSERT_EQ(net.GetNumberOfCases(), 2);
    const QNL_case* morning = net.GetCase(0);
    EXPECT_STREQ(morning->GetDescription(), "Cold\nstart");
    EXPECT_EQ(morning->GetModified(), 1200000500);
    QNL_case::SlicePairs slices;
    int node = -1;
    morning->GetTemporalEvidence(1, node, slices);
    EXPECT_EQ(slices, (QNL_case::SlicePairs{{2, 1}}));
    EXPECT_EQ(morning->GetTarget(0), net.FindNode("Battery"));

    QNL_submodelHandler& submodels = net.GetSubmodelHandler();
    const int electrics = submodels.FindSubmodel("Electrics");
    ASSERT_GE(electrics, 0);
    EXPECT_EQ(battery->GetSubmodel() & ~QNL_submodelHandler::FLAG,
              electrics & ~QNL_submodelHandler::FLAG);
    const QNL_submodel* sub = submodels.GetSubmodel(electrics);
    EXPECT_EQ(sub->screen.borderThickness, 3);
    EXPECT_EQ(sub->screen.position.x, 60);
    EXPECT_EQ(sub->windowPosition.width, 300);
    EXPECT_STREQ(sub->comments.GetTexts().GetString(0), "Check first");
    EXPECT_EQ(submodels.GetSubmodel(QNL_submodelHandler::MAIN_HANDLE)->comments.GetCount(), 1);

    // Written and read again, the same file comes back; elements kept by no part of the model
    // are not written back.
    const std::string path = TempPath("from_fixture.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    QNL_network second;
    ASSERT_EQ(second.ReadFile(path.c_str()), 0) << AllMessages();
    const std::string again = TempPath("from_fixture_again.xqnl");
    ASSERT_EQ(second.WriteFile(again.c_str()), 0);
    EXPECT_EQ(FileContent(path), FileContent(again));
    EXPECT_EQ(FileContent(path).find("arcformat"), std::string::npos);
    EXPECT_EQ(Describe(net), Describe(second));
}

TEST_F(XmlFormat, ExtremeNumbersComeBackBitForBitInTheirShortestText) {
    const double values[] = {0.1,
                             1.0 / 3,
                             DBL_MAX,
                             -DBL_MAX,
                             DBL_MIN,
                             DBL_TRUE_MIN,
                             -0.0,
                             QNL_UNDEFINED_NUMBER,
                             QNL_NOT_AVAILABLE_NUMBER,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             123456789012345678.0,
                             1e-9,
                             0.30000000000000004};
    const int count = static_cast<int>(std::size(values));
    QNL_network net;
    const int parent = net.AddNode(QNL_TYPE_LIST, "P");
    QNL_stringArray choices;
    for (int i = 0; i < count; ++i)
        choices.Add(("c" + std::to_string(i)).c_str());
    ASSERT_EQ(net.GetNode(parent)->GetDefinition()->SetNumberOfOutcomes(choices), 0);
    const int u = net.AddNode(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(parent, u), 0);
    QNL_doubleArray utilities;
    utilities.SetSize(count);
    for (int i = 0; i < count; ++i)
        utilities[i] = values[i];
    ASSERT_EQ(static_cast<QNL_table*>(net.GetNode(u)->GetDefinition())->SetUtilities(utilities), 0);
    ASSERT_EQ(net.GetNode(u)->GetCost()->SetCosts(Doubles({DBL_TRUE_MIN})), 0);
    const std::string path = TempPath("numbers.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    QNL_network copy;
    ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages();
    const std::vector<double> back = format_test::Values(Node(copy, "U"));
    ASSERT_EQ(back.size(), std::size(values));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(Bits(back[i]), Bits(values[i])) << i;
    EXPECT_EQ(Bits(Node(copy, "U")->GetCost()->GetCosts().GetItems()[0]), Bits(DBL_TRUE_MIN));
    EXPECT_NE(FileContent(path).find(">0.1 0.3333333333333333 "), std::string::npos);
}

TEST_F(XmlFormat, DefaultsAreLeftOut) {
    QNL_network net;
    const int a = AddNode(net, QNL_TYPE_CPT, "A", {"s1", "s2"});
    net.GetNode(a)->GetExtraDefinition()->SetOutcomeLabel(1, "Second");
    const std::string path = TempPath("defaults.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    const std::string text = FileContent(path);
    for (const char* absent :
         {"algparams", "properties", "observationcost", "cases", "<parents", "dynamic",
          "target=", "diagtype", "ranked", "mandatory", "default=", "fault=", "width="})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
    for (const char* present :
         {"<state id=\"s1\" />", "<state id=\"s2\" label=\"Second\" />", "numsamples=\"1000\""})
        EXPECT_NE(text.find(present), std::string::npos) << present;
    // One changed sampler parameter brings all eight; a case made at time 0 has no
    // "created"; an outline width of 2 is written.
    QNL_episParams epis;
    epis.eps1 = 0.5;
    ASSERT_EQ(net.SetEpisParams(epis), 0);
    ASSERT_NE(net.AddCase("c"), nullptr);
    net.GetNode(a)->GetInfo()->screen.borderThickness = 2;
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    const std::string changed = FileContent(path);
    for (const char* present :
         {"proplen=\"5\"", "numstates1=\"5\"", "numstates2=\"8\"", "numstates3=\"20\"",
          "eps1=\"0.5\"", "eps2=", "eps3=", "eps4=", "<case name=\"c\">", "width=\"2\""})
        EXPECT_NE(changed.find(present), std::string::npos) << present;
}

TEST_F(XmlFormat, NetworkWithUncarriedNodeIsRefusedBeforeTheFileIsTouched) {
    format_test::ScopedStubType<QNL_TYPE_MAU> mau;
    QNL_network net;
    ASSERT_GE(net.AddNode(QNL_TYPE_MAU, "E"), 0);
    const std::string path = WriteText("refused.xqnl", "old content");
    EXPECT_EQ(net.WriteFile(path.c_str()), -2);
    EXPECT_EQ(LoggedMessages(-2),
              std::vector<std::string>{"ERROR: This Network cannot be saved in XML format"});
    EXPECT_EQ(FileContent(path), "old content");
}

TEST_F(XmlFormat, ExtensionNamesTheFormatAndTheFlagWordLeavesTheDisplayPartOut) {
    QNL_network original;
    int code = 0;
    std::unique_ptr<QNL_textParser> format = original.CreateFormat("model.QQNL", code);
    EXPECT_EQ(code, QNL_FORMAT_XML);
    ASSERT_NE(dynamic_cast<QNL_xmlFormat*>(format.get()), nullptr);

    ASSERT_NO_FATAL_FAILURE(BuildFullNetwork(original));
    const std::string path = TempPath("no_extension.xqnl");
    ASSERT_EQ(original.WriteFile(path.c_str(), 0, -1), 0);
    EXPECT_EQ(FileContent(path).find("extensions"), std::string::npos);
    // Read without the extension, the display block of a full file is skipped with warnings.
    const std::string full = TempPath("with_extension.xqnl");
    ASSERT_EQ(original.WriteFile(full.c_str()), 0);
    QNL_network copy;
    ASSERT_EQ(copy.ReadFile(full.c_str(), 0, -1), 0);
    EXPECT_FALSE(LoggedMessages(-100).empty());
    EXPECT_EQ(copy.GetSubmodelHandler().GetNumberOfSubmodels(), 1);
    EXPECT_EQ(Node(copy, "A")->GetExtraDefinition()->GetFaultName(1), std::string());
}

} // namespace
