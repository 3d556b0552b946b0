// The XML reading framework, through the own XML format where a document can reach it, and
// directly for what no format document shows: white space between elements is layout, not
// text (kept, it grew with the nesting depth in every open element at once), and strictness is
// inherited from the enclosing element, strict at the root.

#include "formats/format_test_support.h"
#include "formats/xml/xml_reader.h"
#include "model/network.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace format_test;
using Flags = QNL_xmlElementHandler;

// "r" holds any number of "c" and a lenient "lenient" with an "inner"; r and c record their
// text when they end.
class LayoutReader : public QNL_xmlReader {
public:
    std::string outer, inner;

    LayoutReader() {
        using Callbacks = quarn::detail::XmlMemberCallbacks<LayoutReader>;
        root = CreateElement(std::make_unique<Callbacks>(this, nullptr, &LayoutReader::OuterEnd),
                             "r", Flags::INHERIT);
        root->AddChild(
            CreateElement(std::make_unique<Callbacks>(this, nullptr, &LayoutReader::InnerEnd), "c",
                          Flags::INHERIT),
            Flags::MULTIPLE);
        auto* lenient = CreateElement(nullptr, "lenient", Flags::LENIENT);
        root->AddChild(lenient, Flags::MULTIPLE);
        lenient->AddChild(CreateElement(nullptr, "inner", Flags::INHERIT), 0);
    }
    bool Read(const std::string& path) {
        QNL_xmlErrorSink sink(path);
        return ReadFile(path.c_str(), root, &sink);
    }

private:
    void OuterEnd(QNL_xmlReader& reader) { outer = reader.GetText(); }
    void InnerEnd(QNL_xmlReader& reader) { inner = reader.GetText(); }
    QNL_xmlElementHandler* root;
};

TEST(XmlReader, WhiteSpaceBetweenElementsIsNotTextAndStrictnessIsInherited) {
    const struct {
        const char* document;
        bool read;
        const char* outer;
        const char* inner;
        int messages;
    } cases[] = {
        // clang-format off
        {"<r>\n\t<c>  x y </c>\n\t<c/>\n</r>", true, "", "", 0},
        {"<r>\n\t<c>  x y </c>\n</r>", true, "", "  x y ", 0},
        {"<r>  only text\n</r>", true, "  only text\n", "", 0},
        {"<r> \n </r>", true, " \n ", "", 0},
        {"<r>a <c/> b</r>", true, "a  b", "", 0}, // mixed content keeps its words
        {"<r><lenient><inner q=\"1\"><x/></inner></lenient></r>", true, "", "", 2},
        {"<r><y/></r>", false, "", "", 1},
        {"<r q=\"1\"/>", false, "", "", 1},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        QNL_errorHandler::Instance().Flush();
        LayoutReader reader;
        EXPECT_EQ(c.read, reader.Read(WriteText("layout.xml", c.document)));
        EXPECT_EQ(c.outer, reader.outer);
        EXPECT_EQ(c.inner, reader.inner);
        EXPECT_EQ(c.messages, QNL_errorHandler::Instance().GetNumberOfErrors()) << AllMessages();
    }
}

// Declared encodings, references and entities arrive as UTF-8; a value of a megabyte split by
// a reference arrives whole; an entity bomb is refused instead of expanded.
TEST(XmlReader, TextsArriveAsUtf8WholeAndWithoutEntityBombs) {
    auto document = [](const std::string& prolog, const std::string& doctype,
                       const std::string& property) {
        return prolog + doctype + "<quarn version=\"1.0\" id=\"Net\"><nodes/><properties>" +
               "<property id=\"p\">" + property + "</property></properties></quarn>";
    };
    std::string big(1024 * 1024 + 17, 'v'), escaped = big;
    big[5000] = '&';
    escaped.replace(5000, 1, "&amp;");
    std::string bomb = "<!DOCTYPE quarn [<!ENTITY a0 \"" + std::string(40, 'x') + "\">";
    for (int i = 1; i < 10; ++i) {
        bomb += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            bomb += "&a" + std::to_string(i - 1) + ";";
        bomb += "\">";
    }
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";
    const struct {
        std::string xml;
        int code;
        std::string property; // or the end of the one error
    } cases[] = {
        {document(latin1, "", "caf\xE9 &amp; &lt;&#233;&#x4E2D;&quot;&apos;&gt;"), 0,
         "caf\xC3\xA9 & <\xC3\xA9\xE4\xB8\xAD\"'>"},
        {document("", "", escaped), 0, big},
        // Latin-1 bytes in a document that does not declare them are not UTF-8.
        {document("", "", "caf\xE9"), -103, "not well-formed (invalid token)"},
        {document("", bomb + "]>", "&a9;"), -103, "amplification"},
    };
    for (const auto& c : cases) {
        QNL_network net;
        EXPECT_EQ(c.code, ReadDocument(net, "texts.xqnl", c.xml)) << AllMessages();
        if (c.code == 0) {
            EXPECT_TRUE(Text(net.GetUserProperties().GetValue(0)) == c.property);
        } else {
            const auto errors = LoggedMessages(-103);
            ASSERT_EQ(1u, errors.size());
            EXPECT_NE(std::string::npos, errors[0].find(c.property)) << errors[0];
        }
    }
}

} // namespace
