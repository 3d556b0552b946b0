// White space between elements is layout: it is not kept as the text of the enclosing
// element (kept, it grew with the nesting depth in every open element at once), while the
// text of an element without children stays as written.

#include "formats/xml/xml_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

namespace {

using Flags = QNL_xmlElementHandler;

// "r" may hold any number of "c"; both record their text when they end.
class LayoutReader : public QNL_xmlReader {
public:
    std::string outer;
    std::string inner;

    LayoutReader() {
        using Callbacks = quarn::detail::XmlMemberCallbacks<LayoutReader>;
        root = CreateElement(std::make_unique<Callbacks>(this, nullptr, &LayoutReader::OuterEnd),
                             "r", Flags::STRICT);
        auto* child =
            CreateElement(std::make_unique<Callbacks>(this, nullptr, &LayoutReader::InnerEnd), "c",
                          Flags::INHERIT);
        root->AddChild(child, Flags::MULTIPLE);
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

TEST(XmlLayout, WhiteSpaceBetweenElementsIsNotText) {
    struct Case {
        const char* document;
        const char* outer;
        const char* inner;
    } const cases[] = {
        {"<r>\n\t<c>  x y </c>\n\t<c/>\n</r>", "", ""},
        {"<r>\n\t<c>  x y </c>\n</r>", "", "  x y "},
        {"<r>  only text\n</r>", "  only text\n", ""},
        {"<r> \n </r>", " \n ", ""},
        // Mixed content keeps its words.
        {"<r>a <c/> b</r>", "a  b", ""},
    };
    const std::string path = ::testing::TempDir() + "quarn_xml_layout.xml";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        std::ofstream(path, std::ios::binary) << c.document;
        LayoutReader reader;
        ASSERT_TRUE(reader.Read(path));
        EXPECT_EQ(c.outer, reader.outer);
        EXPECT_EQ(c.inner, reader.inner);
    }
    std::remove(path.c_str());
}

} // namespace
