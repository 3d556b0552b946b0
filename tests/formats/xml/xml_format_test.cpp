#include "formats/xml/xml_format.h"

#include "definitions/extra_definition.h"
#include "definitions/table.h"
#include "definitions/truth_table.h"
#include "formats/format.h"
#include "formats/format_test_support.h"
#include "model/case_library.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/submodel.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace format_test;

QNL_rectangle Rectangle(int x, int y, int width, int height) {
    QNL_rectangle r;
    r.x = x, r.y = y, r.width = width, r.height = height;
    return r;
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

    SetValues(net, a, {1.0 / 3, 1.0 / 3, 1.0 - 2.0 / 3});
    SetValues(net, b, {0.1 + 0.2, 1 - (0.1 + 0.2), 1e-17, 1 - 1e-17, 2.0 / 7, 5.0 / 7});
    auto* truth = static_cast<QNL_truthTable*>(net.GetNode(t)->GetDefinition());
    ASSERT_EQ(
        truth->SetResultingStates(quarn_test::StringsOf({"t1", "t2", "t3", "t3", "t2", "t1"})), 0);
    SetValues(net, u, {-1.5, 1e300, QNL_UNDEFINED_NUMBER, 0.0, -0.0, 4.9e-324});

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
    ASSERT_EQ(net.GetNode(b)->GetCost()->SetCosts(
                  quarn_test::ArrayOf({QNL_NOT_AVAILABLE_NUMBER, 2.5, 0.1})),
              0);
    ASSERT_EQ(net.GetNode(t)->GetCost()->SetCosts(quarn_test::ArrayOf({1.0 / 3})), 0);

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

// What the full network's file must hold, one piece for each part of the model the network
// comparison leaves out (a writer that drops a part writes the same file twice).
// clang-format off
const char* const SNIPPETS[] = {
    R"(<quarn version="1.0" id="Diag_Net" numsamples="2345">)",
    R"(<property id="Author">A &lt;b&gt; &amp; &apos;c&apos;\ttab\nnewline \\n literal</property>)",
    R"(<property id="Empty"></property>)", R"(numstates3="30" eps1="0.30000000000000004")",
    R"(<cpt id="A" diagtype="target" ranked="true" mandatory="true">)",
    R"(<state id="a3" label="A_dead" default="true" fault="true" />)",
    R"(<cpt id="B" target="true" diagtype="observation">)",
    R"(<utilities>-1.5 1e+300 4.450147717014403e-308 0 -0 5e-324</utilities>)",
    R"(<cost>n/a 2.5 0.1</cost>)", R"(<cost>0.3333333333333333</cost>)",
    R"(<case name="Morning run" category="field &amp; lab" created="1200000000" modified="-5">)",
    R"(<description>Cold\nstart</description>)", R"(<evidence node="A" state="a3" />)",
    R"(<evidence node="B" slice="3" state="no" />)",
    R"(<evidence node="T" slice="0" state="t3" />)", R"(<target node="U" />)",
    R"(<case name="Empty">)",
    R"(name="Diagnosis &lt;net&gt; &amp; &quot;friends&quot;" faultnameformat="nodestate">)",
    R"(<comment>first line&#13;\nsecond\tline with C:\\new path</comment>)",
    R"(<submodel id="Electrics">)", R"(<name>Electrical system</name>)",
    R"(<interior color="ffff00" />)", R"(<outline color="0000bb" width="3" />)",
    R"(<position>10 20 110 60</position>)", R"(<comment>Battery and lights</comment>)",
    R"(<window>1 2 301 202</window>)", R"(<submodel id="Inner">)",
    R"(<node id="A" faultnameformat="state">)", R"(<position>-11 0 0 31</position>)",
    R"(<comment>Line 1\nLine 2</comment>)", R"(<state id="a2" faultname="Weak &amp; low">)",
    R"(<fix>Charge\nthen test</fix>)", R"(<comment>Below &quot;12&quot; V</comment>)",
    R"(<question>Is it old?</question>)",
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
// from (so tables and costs come back bit for bit in their shortest texts), and each part
// shows in it.
TEST_F(XmlFormat, FullNetworkSurvivesWriteAndRead) {
    QNL_network original;
    ASSERT_NO_FATAL_FAILURE(BuildFullNetwork(original));
    const std::string path = TempPath("full.xqnl");
    ASSERT_EQ(original.WriteFile(path.c_str()), 0) << AllMessages();
    QNL_network copy;
    ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages();
    EXPECT_TRUE(LoggedMessages(-103).empty());
    EXPECT_TRUE(LoggedMessages(-100).empty()) << AllMessages();
    EXPECT_TRUE(format_test::SameNetworks(original, copy, format_test::kEverything));
    const std::string again = TempPath("full_again.qqnl");
    ASSERT_EQ(copy.WriteFile(again.c_str()), 0);
    const std::string text = TempFolder::Get(path);
    EXPECT_EQ(text, TempFolder::Get(again));
    for (const char* part : SNIPPETS)
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    // The flag word leaves the display part out of a write, and skips it with warnings in a read.
    const std::string bare = TempPath("no_extension.xqnl");
    ASSERT_EQ(original.WriteFile(bare.c_str(), 0, -1), 0);
    EXPECT_EQ(TempFolder::Get(bare).find("extensions"), std::string::npos);
    QNL_network partial;
    QNL_errorHandler::Instance().Flush();
    ASSERT_EQ(partial.ReadFile(path.c_str(), 0, -1), 0);
    EXPECT_FALSE(LoggedMessages(-100).empty());
    EXPECT_EQ(partial.GetSubmodelHandler().GetNumberOfSubmodels(), 1);
    EXPECT_EQ(Node(partial, "A")->GetExtraDefinition()->GetFaultName(1), std::string());
}

// Header, diagnosis texts, display data, costs, cases and submodels of a hand-written file,
// each compared whole.
TEST_F(XmlFormat, HandWrittenFileReadsIntoTheModelAndSurvivesWriteAndRead) {
    QNL_network net;
    ASSERT_EQ(net.ReadFile((std::string(QUARN_TEST_DATA_DIR) + "/xqnl/full.xqnl").c_str()), 0)
        << AllMessages();
    EXPECT_EQ(Describe(net),
              "Battery'Battery state'{Reliability=high & \"tested\";}(ok weak dead): 0.9 0.07 "
              "0.03; Lights(on off)|Battery: 0.99 0.01 0.6 0.4 0 1; Starts[T](yes no)|Battery: 1 "
              "0 0 1 0 1; Action[D](wait call)|Lights; Cost[U]|Action Starts: 0 -10 -50 -60; ");
    // The texts and flags are pinned by the pieces of the full network's file; what is left
    // are the conversions only a reader makes.
    const QNL_node* battery = Node(net, "Battery");
    const QNL_screenInfo& screen = battery->GetInfo()->screen;
    const QNL_node* lights = Node(net, "Lights");
    ASSERT_EQ(net.GetNumberOfCases(), 2);
    const QNL_case* morning = net.GetCase(0);
    QNL_case::SlicePairs slices;
    int node = -1;
    morning->GetTemporalEvidence(1, node, slices);
    QNL_submodelHandler& submodels = net.GetSubmodelHandler();
    const int electrics = submodels.FindSubmodel("Electrics");
    ASSERT_GE(electrics, 0);
    const QNL_submodel* sub = submodels.GetSubmodel(electrics);
    std::ostringstream seen;
    seen << Text(net.GetHeader()->GetComment()) << "|" << net.GetEpisParams().eps3
         << "\n"
         // "ff0000" is red, kept as 0x00BBGGRR; of "-11 0 0 30" the centre is rounded down.
         << std::hex << screen.color << " " << screen.fontColor << std::dec << " "
         << screen.position.x << " " << screen.position.height << "|"
         << net.IsTarget(net.FindNode("Lights")) << " "
         << lights->GetCost()->GetCosts().GetItems().GetSize() << " "
         << (Bits(lights->GetCost()->GetCosts().GetItems()[0]) == Bits(QNL_NOT_AVAILABLE_NUMBER))
         << " " << net.GetParents(net.FindNode("Lights"), 1).GetCount() << "\n"
         << morning->GetModified() << "|" << slices.size() << " " << slices[0].first << " "
         << slices[0].second << "|" << (morning->GetTarget(0) == net.FindNode("Battery")) << "\n"
         << ((battery->GetSubmodel() ^ electrics) & ~QNL_submodelHandler::FLAG) << " "
         << sub->screen.position.x << " " << sub->windowPosition.width << " "
         << submodels.GetSubmodel(QNL_submodelHandler::MAIN_HANDLE)->comments.GetCount();
    EXPECT_EQ(seen.str(), "Diagnosis of a car\nthat won't start|6e-05\nff 332211 -6 30|1 3 1 1\n"
                          "1200000500|1 2 1|1\n0 60 300 1");

    // Written and read again, the same file comes back; elements kept by no part of the model
    // are not written back.
    const std::string path = TempPath("from_fixture.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    QNL_network second;
    ASSERT_EQ(second.ReadFile(path.c_str()), 0) << AllMessages();
    const std::string again = TempPath("from_fixture_again.xqnl");
    ASSERT_EQ(second.WriteFile(again.c_str()), 0);
    EXPECT_EQ(TempFolder::Get(path), TempFolder::Get(again));
    EXPECT_EQ(TempFolder::Get(path).find("arcformat"), std::string::npos);
    EXPECT_EQ(Describe(net), Describe(second));
}

// The whole file of a small network: tab layout, attributes in order, defaults left out, only
// the outcomes with diagnosis texts in the display part.
// Changing one sampler parameter brings all eight; a case made at time 0 has no "created"; an
// outline width other than 1 is written.
TEST_F(XmlFormat, SmallNetworkIsWrittenExactlyAndDefaultsAreLeftOut) {
    QNL_network net;
    const int a = AddNode(net, QNL_TYPE_CPT, "A", {"s1", "s2", "s3", "s4"});
    QNL_extraDefinition* extra = net.GetNode(a)->GetExtraDefinition();
    extra->SetOutcomeLabel(1, "Second");
    extra->SetFaultName(1, "only a name");
    extra->SetOutcomeDescription(2, "described");
    extra->GetOutcomeDocumentation(3)->AddDocument("t", "p");
    const std::string path = TempPath("defaults.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    EXPECT_EQ(TempFolder::Get(path),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<quarn version=\"1.0\" id=\"Unnamed\" numsamples=\"1000\">\n"
              "\t<nodes>\n\t\t<cpt id=\"A\">\n\t\t\t<state id=\"s1\" />\n"
              "\t\t\t<state id=\"s2\" label=\"Second\" />\n\t\t\t<state id=\"s3\" />\n"
              "\t\t\t<state id=\"s4\" />\n"
              "\t\t\t<probabilities>0.25 0.25 0.25 0.25</probabilities>\n\t\t</cpt>\n"
              "\t</nodes>\n\t<extensions>\n"
              "\t\t<tavlo version=\"1.0\" app=\"QUARN Jun 23 2008\" name=\"Unnamed\" "
              "faultnameformat=\"user\">\n\t\t\t<node id=\"A\">\n"
              "\t\t\t\t<name>A</name>\n\t\t\t\t<interior color=\"e5f6f7\" />\n"
              "\t\t\t\t<outline color=\"0000bb\" />\n"
              "\t\t\t\t<font color=\"000000\" name=\"MS Sans Serif\" size=\"8\" />\n"
              "\t\t\t\t<position>-38 -18 38 18</position>\n"
              "\t\t\t\t<state id=\"s2\" faultname=\"only a name\" />\n"
              "\t\t\t\t<state id=\"s3\">\n\t\t\t\t\t<comment>described</comment>\n"
              "\t\t\t\t</state>\n\t\t\t\t<state id=\"s4\">\n"
              "\t\t\t\t\t<link title=\"t\" path=\"p\" />\n\t\t\t\t</state>\n"
              "\t\t\t</node>\n\t\t</tavlo>\n\t</extensions>\n</quarn>\n");
    QNL_episParams epis;
    epis.eps1 = 0.5;
    ASSERT_EQ(net.SetEpisParams(epis), 0);
    ASSERT_NE(net.AddCase("c"), nullptr);
    net.GetNode(a)->GetInfo()->screen.borderThickness = 2;
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    const std::string changed = TempFolder::Get(path);
    for (const char* present :
         {"proplen=\"5\"", "numstates1=\"5\"", "numstates2=\"8\"", "numstates3=\"20\"",
          "eps1=\"0.5\"", "eps2=", "eps3=", "eps4=", "<case name=\"c\">", "width=\"2\""})
        EXPECT_NE(changed.find(present), std::string::npos) << present;
}

// Texts with every character that needs care and XML can hold (markup, tab, line ends,
// backslash, UTF-8, a stray Latin-1 byte, a non-character XML allows, a CDATA end) as an
// attribute (the network's name) and as escaped text (a property); and random doubles, which
// come back bit for bit in their shortest text, a list long enough that the reader's chunk
// edges fall inside numbers. Characters XML cannot hold are refused (TextsXmlCannotHold...).
TEST_F(XmlFormat, NastyTextsAndEveryDoubleSurviveWriteAndRead) {
    const std::string nasty = "a&b<c>d\"e'f\tg\nh\ri\\jkl\xC3\xA9m\xE9n\xEF\xB7\x90o]]>p";
    const std::string kept = "a&b<c>d\"e'f\tg\nh\ri\\jkl\xC3\xA9m\xC3\xA9n\xEF\xB7\x90o]]>p";
    std::vector<double> values = {DBL_MAX,
                                  -DBL_MAX,
                                  DBL_MIN,
                                  QNL_ILLEGAL_NUMBER,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity()};
    std::mt19937_64 generator(20240611);
    while (values.size() < 2000) {
        const std::uint64_t bits = generator();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isnan(value)) values.push_back(value);
    }
    QNL_network net;
    net.GetHeader()->SetName(nasty.c_str());
    net.GetUserProperties().AddProperty("Note", nasty.c_str());
    const int d = net.AddNode(QNL_TYPE_LIST, "D");
    QNL_stringArray choices;
    for (std::size_t i = 0; i < values.size(); ++i)
        choices.Add(("c" + std::to_string(i)).c_str());
    ASSERT_EQ(net.GetNode(d)->GetDefinition()->SetNumberOfOutcomes(choices), 0);
    const int u = net.AddNode(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(net.AddArc(d, u), 0);
    QNL_doubleArray utilities;
    for (double v : values)
        utilities.Add(v);
    ASSERT_EQ(static_cast<QNL_table*>(net.GetNode(u)->GetDefinition())->SetUtilities(utilities), 0);
    const std::string path = TempPath("nasty.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    QNL_network copy;
    ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages();
    EXPECT_EQ(kept, Text(copy.GetHeader()->GetName()));
    EXPECT_EQ(kept, Text(copy.GetUserProperties().GetValue(0)));
    const std::vector<double> back = Values(Node(copy, "U"));
    ASSERT_EQ(back.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(Bits(back[i]), Bits(values[i])) << i;
    const std::string text = TempFolder::Get(path);
    const std::size_t from = text.find("<utilities>") + 11;
    std::istringstream list(text.substr(from, text.find("</utilities>") - from));
    for (std::string token; list >> token;)
        ASSERT_LE(token.size(), 24u) << token;
}

// Carriage returns, alone, before a line feed and at either end, in every free text the two
// extensions carry, whether it is written as an attribute, as plain element text or with
// control escaping.
TEST_F(XmlFormat, CarriageReturnsInEveryTextSurviveWriteAndRead) {
    using Setter = std::function<void(QNL_network&, const char*)>;
    using Getter = std::function<std::string(QNL_network&)>;
    const auto extra = [](QNL_network& net) { return Node(net, "A")->GetExtraDefinition(); };
    const auto info = [](QNL_network& net) { return Node(net, "A")->GetInfo(); };
    const auto sub = [](QNL_network& net) {
        QNL_submodelHandler& handler = net.GetSubmodelHandler();
        return handler.GetSubmodel(handler.GetNextSubmodel(QNL_submodelHandler::MAIN_HANDLE));
    };
    const std::vector<std::tuple<const char*, Setter, Getter>> fields = {
        {"network name", [](QNL_network& n, const char* t) { n.GetHeader()->SetName(t); },
         [](QNL_network& n) { return Text(n.GetHeader()->GetName()); }},
        {"network comment", [](QNL_network& n, const char* t) { n.GetHeader()->SetComment(t); },
         [](QNL_network& n) { return Text(n.GetHeader()->GetComment()); }},
        {"network property",
         [](QNL_network& n, const char* t) { n.GetUserProperties().AddProperty("P", t); },
         [](QNL_network& n) { return Text(n.GetUserProperties().GetValue(0)); }},
        {"node name", [&](QNL_network& n, const char* t) { info(n)->header.SetName(t); },
         [&](QNL_network& n) { return Text(info(n)->header.GetName()); }},
        {"node comment", [&](QNL_network& n, const char* t) { info(n)->header.SetComment(t); },
         [&](QNL_network& n) { return Text(info(n)->header.GetComment()); }},
        {"node property",
         [&](QNL_network& n, const char* t) { info(n)->properties.AddProperty("Q", t); },
         [&](QNL_network& n) { return Text(info(n)->properties.GetValue(0)); }},
        {"document title and path",
         [&](QNL_network& n, const char* t) { info(n)->documentation.AddDocument(t, t); },
         [&](QNL_network& n) {
             return Text(info(n)->documentation.GetTitle(0)) + "|" +
                    Text(info(n)->documentation.GetPath(0));
         }},
        {"question", [&](QNL_network& n, const char* t) { extra(n)->SetQuestion(t); },
         [&](QNL_network& n) { return Text(extra(n)->GetQuestion()); }},
        {"fault name", [&](QNL_network& n, const char* t) { extra(n)->SetFaultName(1, t); },
         [&](QNL_network& n) { return Text(extra(n)->GetFaultName(1)); }},
        {"fix", [&](QNL_network& n, const char* t) { extra(n)->SetOutcomeFix(1, t); },
         [&](QNL_network& n) { return Text(extra(n)->GetOutcomeFix(1)); }},
        {"outcome description",
         [&](QNL_network& n, const char* t) { extra(n)->SetOutcomeDescription(0, t); },
         [&](QNL_network& n) { return Text(extra(n)->GetOutcomeDescription(0)); }},
        {"case name, category and description",
         [](QNL_network& n, const char* t) {
             QNL_case* c = n.AddCase(t);
             c->SetCategory(t);
             c->SetDescription(t);
         },
         [](QNL_network& n) {
             const QNL_case* c = n.GetCase(0);
             return c == nullptr ? std::string("no case")
                                 : Text(c->GetName()) + "|" + Text(c->GetCategory()) + "|" +
                                       Text(c->GetDescription());
         }},
        {"submodel name and comment",
         [&](QNL_network& n, const char* t) {
             sub(n)->header.SetName(t);
             sub(n)->header.SetComment(t);
         },
         [&](QNL_network& n) {
             return Text(sub(n)->header.GetName()) + "|" + Text(sub(n)->header.GetComment());
         }},
        {"text box caption",
         [&](QNL_network& n, const char* t) { sub(n)->comments.Add(Rectangle(9, 9, 9, 9), t); },
         [&](QNL_network& n) { return Text(sub(n)->comments.GetTexts().GetString(0)); }},
    };
    const char* const texts[] = {"a\rb", "a\r\nb", "\r", "a\r", "\rb", "\r\n\r\n", "a\n\rb\\r\t"};
    for (const char* extension : {".xqnl", ".qqnl"}) {
        for (const auto& [label, set, get] : fields) {
            for (const char* text : texts) {
                SCOPED_TRACE(std::string(label) + " " + extension + " " +
                             ::testing::PrintToString(text));
                QNL_network net;
                const int a = AddNode(net, QNL_TYPE_CPT, "A", {"ok", "broken"});
                const int s =
                    net.GetSubmodelHandler().CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "S");
                ASSERT_GE(s, 0);
                ASSERT_EQ(net.GetNode(a)->SetSubmodel(s), 0);
                set(net, text);
                const std::string written = get(net);
                const std::string path = TempPath(std::string("returns") + extension);
                ASSERT_EQ(net.WriteFile(path.c_str()), 0) << AllMessages();
                QNL_network copy;
                ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages();
                EXPECT_EQ(written, get(copy));
            }
        }
    }
    // A parser takes a raw carriage return, alone or before a line feed, as a line feed; the
    // reference alone keeps it.
    QNL_network net;
    ASSERT_EQ(ReadDocument(net, "raw_returns.xqnl",
                           "<?xml version=\"1.0\"?>\r\n<quarn version=\"1.0\" id=\"N\"><properties>"
                           "<property id=\"P\">a\rb\r\nc&#13;d&#13;&#10;e</property>"
                           "</properties><nodes/></quarn>\r\n"),
              0)
        << AllMessages();
    EXPECT_EQ("a\nb\nc\rd\r\ne", Text(net.GetUserProperties().GetValue(0)));
}

// Boxes at the ends of the int range are written as corners the reader takes back, and a box of
// ordinary size comes back as it was.
TEST_F(XmlFormat, ExtremeBoxesAreWrittenAsCornersThatReadBack) {
    const QNL_rectangle boxes[] = {Rectangle(4, 2, INT_MIN, 3), Rectangle(INT_MAX, 0, 10, 10),
                                   Rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX),
                                   Rectangle(0, 0, INT_MIN, INT_MIN), Rectangle(-6, 15, 11, 31)};
    for (const QNL_rectangle& box : boxes) {
        const std::string label = std::to_string(box.x) + " " + std::to_string(box.width);
        QNL_network net;
        const int a = net.AddNode(QNL_TYPE_CPT, "A");
        net.GetNode(a)->GetInfo()->screen.position = box;
        const std::string path = TempPath("box.xqnl");
        ASSERT_EQ(net.WriteFile(path.c_str()), 0) << label;
        QNL_network copy;
        ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << label << ": " << AllMessages();
        const QNL_rectangle& back = Node(copy, "A")->GetInfo()->screen.position;
        EXPECT_GE(back.width, 0) << label;
        if (&box == &boxes[4]) {
            EXPECT_TRUE(back.x == box.x && back.y == box.y && back.width == box.width &&
                        back.height == box.height);
        }
    }
}

// Display data of another writer: colours as "rrggbb", the box by its corners, a global
// identifier as the outcome's label; what no part of the model keeps is not written back.
TEST_F(XmlFormat, DisplayDataIsReadAndWrittenBackAsGiven) {
    const std::string xml = Document(
        "<decision id=\"A\"><state id=\"s1\"/><state id=\"s2\"/></decision>\n",
        "<extensions><tavlo version=\"1.0\" name=\"Shown\"><node id=\"A\" "
        "faultnameformat=\"inherit\"><name>n</name><interior color=\"ff0000\"/><outline "
        "color=\"00ff00\"/><font color=\"0000ff\" name=\"f\" size=\"8\"/><position>10 20 110 "
        "60</position><state id=\"s2\" globalid=\"G2\"/></node><qualcolors left=\"1\" "
        "center=\"2\" right=\"3\"/></tavlo></extensions>\n");
    QNL_network net;
    ASSERT_EQ(ReadDocument(net, "display.xqnl", xml), 0) << AllMessages();
    EXPECT_TRUE(LoggedMessages(-100).empty()) << AllMessages();
    const QNL_node* a = Node(net, "A");
    EXPECT_EQ(a->GetExtraDefinition()->GetFaultNameFormat(),
              QNL_extraDefinition::FAULT_NAME_INHERIT);
    const QNL_screenInfo& screen = a->GetInfo()->screen;
    EXPECT_TRUE(screen.color == 0x0000FF && screen.fontColor == 0xFF0000);
    EXPECT_TRUE(screen.position.x == 60 && screen.position.width == 100);
    EXPECT_STREQ(a->GetExtraDefinition()->GetOutcomeLabels().GetString(1), "G2");
    const std::string path = TempPath("display_back.xqnl");
    ASSERT_EQ(net.WriteFile(path.c_str()), 0);
    const std::string text = TempFolder::Get(path);
    EXPECT_NE(text.find("<position>10 20 110 60</position>"), std::string::npos);
    for (const char* part : {"faultnameformat=\"inherit\"", "qualcolors"})
        EXPECT_EQ(text.find(part), std::string::npos) << part;
}

// Files of equation nodes that outgrow the slot table many times over, a chain and a random
// DAG whose nodes are the mean of their parents plus a quarter of their index, read into
// consecutive handles with the file's parents in the file's order, and solve to what the
// test computes from the same numbers.
TEST_F(XmlFormat, LargeEquationFilesReadWholeAndSolveToTheirValues) {
    const int n = 700;
    for (const bool dag : {false, true}) {
        SCOPED_TRACE(dag ? "random DAG" : "chain");
        std::mt19937 random(7);
        std::vector<std::vector<int>> parents(n);
        std::vector<double> expected(n);
        std::string nodes;
        for (int i = 0; i < n; ++i) {
            std::vector<int>& own = parents[static_cast<std::size_t>(i)];
            for (int k = dag ? static_cast<int>(random() % 4) : 1; i > 0 && k > 0; --k) {
                const int p = dag ? static_cast<int>(random() % static_cast<unsigned>(i)) : i - 1;
                if (std::find(own.begin(), own.end(), p) == own.end()) own.push_back(p);
            }
            const std::string id = "x" + std::to_string(i);
            std::string list, sum;
            double total = 0.0;
            for (int p : own) {
                list += (list.empty() ? "" : " ") + ("x" + std::to_string(p));
                sum += (sum.empty() ? "" : " + ") + ("x" + std::to_string(p));
                total += expected[static_cast<std::size_t>(p)];
            }
            const double share = 0.25 * i;
            expected[static_cast<std::size_t>(i)] =
                own.empty() ? share : total / static_cast<double>(own.size()) + share;
            nodes += "<equation id=\"" + id + "\">" +
                     (own.empty() ? "" : "<parents>" + list + "</parents>") + "<definition>" + id +
                     " = " +
                     (own.empty() ? "" : "(" + sum + ") / " + std::to_string(own.size()) + " + ") +
                     std::to_string(share) + "</definition></equation>\n";
        }
        QNL_network net;
        ASSERT_EQ(ReadDocument(net, "equations.xqnl", Document(nodes)), 0) << AllMessages();
        ASSERT_EQ(net.GetNumberOfNodes(), n);
        EXPECT_GE(net.GetTableSize(), n);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(net.FindNode(("x" + std::to_string(i)).c_str()), i);
            const QNL_intArray& read = net.GetParents(i);
            EXPECT_EQ(std::vector<int>(read.Items(), read.Items() + read.GetCount()),
                      parents[static_cast<std::size_t>(i)])
                << i;
            EXPECT_FALSE(net.GetNode(i)->GetValue()->IsValueValid()) << i;
        }
        ASSERT_EQ(net.UpdateBeliefs(), 0) << AllMessages();
        for (int i = 0; i < n; ++i) {
            const auto* value = dynamic_cast<QNL_equationValue*>(net.GetNode(i)->GetValue());
            ASSERT_NE(value, nullptr);
            EXPECT_DOUBLE_EQ(value->GetMean(), expected[static_cast<std::size_t>(i)]) << i;
        }
    }
}

} // namespace
