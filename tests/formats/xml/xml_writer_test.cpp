#include "formats/xml/xml_writer.h"

#include "definitions/extra_definition.h"
#include "formats/format_test_support.h"
#include "model/case_library.h"
#include "model/network.h"
#include "model/node.h"
#include "model/submodel.h"
#include "numerics/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace format_test;

// XML 1.0's production of the characters a document may hold.
bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

std::string Utf8(char32_t c) {
    std::string s;
    quarn::detail::AppendUtf8(s, c);
    return s;
}

TEST(XmlWriter, EveryCodePointIsJudgedAsXmlJudgesIt) {
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        const std::string text = "a" + Utf8(c) + "b";
        const auto bad = quarn::detail::CharacterXmlCannotHold(text);
        ASSERT_EQ(bad.has_value(), !IsXmlChar(c)) << std::hex << static_cast<unsigned>(c);
        if (bad) {
            ASSERT_EQ(*bad, c);
        }
    }
    // Bytes that are no UTF-8 (a stray Latin-1 byte, an encoded surrogate, a cut sequence)
    // stand for Latin-1 characters, which XML holds.
    for (const char* text : {"\xE9", "\xED\xA0\x80", "\xED\xBF\xBF", "\xEF\xBF", "\x80\x9F"})
        EXPECT_FALSE(quarn::detail::CharacterXmlCannotHold(text).has_value()) << text;
}

// One text field the XML writers carry: how to set it, how to read it, and how a refusal
// names it.
struct Field {
    const char* name;
    std::function<void(QNL_network&, const std::string&)> set;
    std::function<std::string(QNL_network&)> get;
};

QNL_node& NodeA(QNL_network& net) {
    return *net.GetNode(net.FindNode("A"));
}
QNL_extraDefinition& ExtraA(QNL_network& net) {
    return *NodeA(net).GetExtraDefinition();
}
QNL_submodel& Sub(QNL_network& net) {
    QNL_submodelHandler& handler = net.GetSubmodelHandler();
    return *handler.GetSubmodel(handler.FindSubmodel("Sub"));
}
QNL_submodel& Main(QNL_network& net) {
    return *net.GetSubmodelHandler().GetSubmodel(QNL_submodelHandler::MAIN_HANDLE);
}

std::vector<Field> Fields() {
    using N = QNL_network;
    using S = const std::string&;
    return {
        {"the name of the network", [](N& n, S t) { n.GetHeader()->SetName(t.c_str()); },
         [](N& n) { return Text(n.GetHeader()->GetName()); }},
        {"the comment of the network", [](N& n, S t) { n.GetHeader()->SetComment(t.c_str()); },
         [](N& n) { return Text(n.GetHeader()->GetComment()); }},
        {"user property 'P' of the network",
         [](N& n, S t) { n.GetUserProperties().AddProperty("P", t.c_str()); },
         [](N& n) {
             QNL_userProperties& p = n.GetUserProperties();
             return Text(p.GetValue(p.FindProperty("P")));
         }},
        {"the name of node 'A'", [](N& n, S t) { NodeA(n).GetInfo()->header.SetName(t.c_str()); },
         [](N& n) { return Text(NodeA(n).GetInfo()->header.GetName()); }},
        {"the comment of node 'A'",
         [](N& n, S t) { NodeA(n).GetInfo()->header.SetComment(t.c_str()); },
         [](N& n) { return Text(NodeA(n).GetInfo()->header.GetComment()); }},
        {"user property 'Q' of node 'A'",
         [](N& n, S t) { NodeA(n).GetInfo()->properties.AddProperty("Q", t.c_str()); },
         [](N& n) {
             QNL_userProperties& p = NodeA(n).GetInfo()->properties;
             return Text(p.GetValue(p.FindProperty("Q")));
         }},
        {"the title of document 0 of node 'A'",
         [](N& n, S t) { NodeA(n).GetInfo()->documentation.AddDocument(t.c_str(), "p"); },
         [](N& n) { return Text(NodeA(n).GetInfo()->documentation.GetTitle(0)); }},
        {"the path of document 0 of node 'A'",
         [](N& n, S t) { NodeA(n).GetInfo()->documentation.AddDocument("t", t.c_str()); },
         [](N& n) { return Text(NodeA(n).GetInfo()->documentation.GetPath(0)); }},
        {"the question of node 'A'", [](N& n, S t) { ExtraA(n).SetQuestion(t.c_str()); },
         [](N& n) { return Text(ExtraA(n).GetQuestion()); }},
        {"the label of outcome 'a1' of node 'A'",
         // Outside a file read a label must be an identifier; a read takes any text.
         [](N& n, S t) {
             n.SetReadingMode(1);
             ExtraA(n).SetOutcomeLabel(1, t.c_str());
             n.SetReadingMode(0);
         },
         [](N& n) { return Text(ExtraA(n).GetOutcomeLabels().GetString(1)); }},
        {"the fault name of outcome 'a1' of node 'A'",
         [](N& n, S t) { ExtraA(n).SetFaultName(1, t.c_str()); },
         [](N& n) { return Text(ExtraA(n).GetFaultName(1)); }},
        {"the fix of outcome 'a1' of node 'A'",
         [](N& n, S t) { ExtraA(n).SetOutcomeFix(1, t.c_str()); },
         [](N& n) { return Text(ExtraA(n).GetOutcomeFix(1)); }},
        {"the description of outcome 'a1' of node 'A'",
         [](N& n, S t) { ExtraA(n).SetOutcomeDescription(1, t.c_str()); },
         [](N& n) { return Text(ExtraA(n).GetOutcomeDescription(1)); }},
        {"the title of document 0 of outcome 'a1' of node 'A'",
         [](N& n, S t) { ExtraA(n).GetOutcomeDocumentation(1)->AddDocument(t.c_str(), "p"); },
         [](N& n) { return Text(ExtraA(n).GetOutcomeDocumentation(1)->GetTitle(0)); }},
        {"the path of document 0 of outcome 'a1' of node 'A'",
         [](N& n, S t) { ExtraA(n).GetOutcomeDocumentation(1)->AddDocument("t", t.c_str()); },
         [](N& n) { return Text(ExtraA(n).GetOutcomeDocumentation(1)->GetPath(0)); }},
        {"the name of submodel 'Sub'", [](N& n, S t) { Sub(n).header.SetName(t.c_str()); },
         [](N& n) { return Text(Sub(n).header.GetName()); }},
        {"the comment of submodel 'Sub'", [](N& n, S t) { Sub(n).header.SetComment(t.c_str()); },
         [](N& n) { return Text(Sub(n).header.GetComment()); }},
        {"the caption of text box 0 of submodel 'Sub'",
         [](N& n, S t) { Sub(n).comments.Add(QNL_rectangle(), t.c_str()); },
         [](N& n) { return Text(Sub(n).comments.GetTexts().GetString(0)); }},
        {"the caption of text box 0 of the network",
         [](N& n, S t) { Main(n).comments.Add(QNL_rectangle(), t.c_str()); },
         [](N& n) { return Text(Main(n).comments.GetTexts().GetString(0)); }},
        {"the name of case 0", [](N& n, S t) { n.GetCase(0)->SetName(t.c_str()); },
         [](N& n) { return Text(n.GetCase(0)->GetName()); }},
        {"the category of case 0", [](N& n, S t) { n.GetCase(0)->SetCategory(t.c_str()); },
         [](N& n) { return Text(n.GetCase(0)->GetCategory()); }},
        {"the description of case 0", [](N& n, S t) { n.GetCase(0)->SetDescription(t.c_str()); },
         [](N& n) { return Text(n.GetCase(0)->GetDescription()); }},
    };
}

// A -> B, A a diagnostic target in submodel Sub, and one case.
void BuildBase(QNL_network& net) {
    ASSERT_EQ(net.GetHeader()->SetId("Net"), 0);
    const int a = AddNode(net, QNL_TYPE_CPT, "A", {"a0", "a1"});
    const int b = AddNode(net, QNL_TYPE_CPT, "B", {"b0", "b1"});
    ASSERT_EQ(net.AddArc(a, b), 0);
    net.GetNode(a)->GetExtraDefinition()->SetDiagnosisType(QNL_extraDefinition::TARGET);
    const int sub =
        net.GetSubmodelHandler().CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "Sub");
    ASSERT_GE(sub, 0);
    ASSERT_EQ(net.GetNode(a)->SetSubmodel(sub), 0);
    ASSERT_NE(net.AddCase("c"), nullptr);
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(XmlWriter, TextsXmlCannotHoldAreRefusedBeforeAnyFileIsTouched) {
    TempFolder folder("xml_unwritable");
    const std::string old = "the old file\n";
    const struct {
        const char* bytes;
        const char* code;
    } characters[] = {{"\x01", "U+0001"},         {"\x07", "U+0007"},        {"\x0B", "U+000B"},
                      {"\x0C", "U+000C"},         {"\x1B", "U+001B"},        {"\x1F", "U+001F"},
                      {"\xEF\xBF\xBE", "U+FFFE"}, {"\xEF\xBF\xBF", "U+FFFF"}};
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (const Field& field : Fields()) {
        for (const auto& c : characters) {
            for (const char* extension : {"xqnl", "qqnl"}) {
                const std::string where =
                    std::string(field.name) + ", " + c.code + ", " + extension;
                const std::string target = folder.Put(std::string("net.") + extension, old);
                QNL_network net;
                BuildBase(net);
                field.set(net, std::string("x\xC3\xA9") + c.bytes + "y");
                log.Flush();
                EXPECT_EQ(net.WriteFile(target.c_str()), -2) << where;
                ASSERT_EQ(log.GetNumberOfErrors(), 1) << where << "\n" << AllMessages();
                EXPECT_EQ(Text(log.GetMessage(0)),
                          std::string("ERROR: This Network cannot be saved in XML format: ") +
                              field.name + " holds the character " + c.code +
                              ", which XML cannot hold")
                    << where;
                EXPECT_EQ(TempFolder::Get(target), old) << where;
                EXPECT_EQ(FilesIn(folder.File("")).size(), 1u) << where;
                std::filesystem::remove(target);
            }
        }
    }
    log.Flush();
}

TEST(XmlWriter, EveryTextXmlCanHoldIsWrittenAndReadsBack) {
    TempFolder folder("xml_writable");
    // Markup, a tab, UTF-8, a stray Latin-1 byte, a non-character XML allows, a backslash.
    const std::string text = "<x> & \"y\"\tz\xC3\xA9\xE9\xEF\xB7\x90\\n";
    const std::string decoded = "<x> & \"y\"\tz\xC3\xA9\xC3\xA9\xEF\xB7\x90\\n";
    for (const Field& field : Fields()) {
        QNL_network net;
        BuildBase(net);
        field.set(net, text);
        ASSERT_EQ(field.get(net), text) << field.name;
        const std::string path = folder.File("net.xqnl");
        ASSERT_EQ(net.WriteFile(path.c_str()), 0) << field.name << "\n" << AllMessages();
        QNL_network copy;
        ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << field.name << "\n" << AllMessages();
        EXPECT_EQ(field.get(copy), decoded) << field.name;
    }
}

// A text that reaches the stream itself with such a character spoils the document instead of
// losing the character: nothing is written.
TEST(XmlWriter, TheStreamNeverDropsACharacter) {
    TempFolder folder("xml_stream");
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (const bool attribute : {false, true}) {
        const std::string target = folder.Put("out.xml", "old");
        log.Flush();
        QNL_xmlWriter writer;
        ASSERT_TRUE(writer.Open(target.c_str()));
        writer.OpenElement("root");
        if (attribute) writer.AddAttribute("a", "b\x07");
        writer.WriteElement("x", attribute ? nullptr : "b\x07", true);
        writer.CloseElement("root");
        EXPECT_FALSE(writer.Close()) << attribute;
        EXPECT_EQ(TempFolder::Get(target), "old") << attribute;
        EXPECT_EQ(FilesIn(folder.File("")).size(), 1u) << attribute;
        ASSERT_EQ(log.GetNumberOfErrors(), 1) << AllMessages();
        EXPECT_EQ(Text(log.GetMessage(0)), "ERROR: This Network cannot be saved in XML format: a "
                                           "text holds the character U+0007, which XML cannot "
                                           "hold");
    }
    log.Flush();
}

} // namespace
