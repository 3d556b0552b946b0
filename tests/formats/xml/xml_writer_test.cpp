#include "formats/xml/xml_writer.h"

#include "formats/format_test_support.h"
#include "formats/number_text.h"
#include "formats/xml/xml_reader.h"
#include "model/error_handler.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace format_test;
using Flags = QNL_xmlElementHandler;

// Reads back what the writer produced: "item" elements with an attribute "v" and a text,
// and "list" elements whose tokens are collected. Anything else is skipped with a warning,
// so a read succeeds exactly when expat finds the document well formed.
class ItemReader : public QNL_xmlReader {
public:
    struct Item {
        std::string attribute;
        std::string text;
        std::string unescaped;
    };
    std::vector<Item> items;
    std::vector<std::string> tokens;

    ItemReader() {
        using Callbacks = quarn::detail::XmlMemberCallbacks<ItemReader>;
        root = CreateElement(nullptr, "doc", Flags::LENIENT);
        auto* item = CreateElement(
            std::make_unique<Callbacks>(this, &ItemReader::ItemStart, &ItemReader::ItemEnd), "item",
            Flags::INHERIT);
        item->AddAttribute("v", 0);
        auto* list = CreateElement(
            std::make_unique<Callbacks>(this, nullptr, nullptr, &ItemReader::ListToken), "list",
            Flags::INHERIT);
        root->AddChild(item, Flags::MULTIPLE);
        root->AddChild(list, Flags::MULTIPLE);
    }

    bool Read(const std::string& path) {
        QNL_xmlErrorSink sink(path);
        return ReadFile(path.c_str(), root, &sink);
    }

private:
    void ItemStart(QNL_xmlReader& reader) {
        items.emplace_back();
        reader.GetStringAttribute("v", items.back().attribute);
    }
    void ItemEnd(QNL_xmlReader& reader) {
        items.back().text = reader.GetText();
        reader.GetUnescapedText(items.back().unescaped);
    }
    void ListToken(QNL_xmlReader& reader) { tokens.push_back(reader.GetText()); }

    QNL_xmlElementHandler* root;
};

class XmlWriterTest : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }
};

TEST_F(XmlWriterTest, LayoutIndentsWithTabsAndWritesAttributesInOrder) {
    const std::string path = TempPath("layout.xml");
    QNL_xmlWriter writer;
    ASSERT_TRUE(writer.Open(path.c_str()));
    writer.AddAttribute("version", "1.0");
    writer.AddAttribute("n", -3);
    writer.AddAttribute("flag", true);
    writer.AddAttribute("x", 0.1);
    writer.AddAttribute("off", false);
    writer.OpenElement("doc");
    writer.WriteElement("empty", nullptr);
    writer.OpenElement("inner");
    writer.AddAttribute("a", std::string("q\"uote"));
    writer.WriteElement("text", "hello");
    writer.WriteElement("blank", "");
    writer.CloseElement("inner");
    const double values[] = {0.5, QNL_NOT_AVAILABLE_NUMBER, 2, 1e-9};
    writer.WriteDoubleList("list", values, 4, "n/a", QNL_NOT_AVAILABLE_NUMBER);
    writer.WriteTextList("ids", std::vector<std::string>{"a", "b", "c"});
    const char* ids[] = {"x", "y"};
    writer.WriteTextList("two", ids, 2);
    writer.CloseElement("doc");
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(FileContent(path), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<doc version=\"1.0\" n=\"-3\" flag=\"true\" x=\"0.1\" "
                                 "off=\"false\">\n"
                                 "\t<empty />\n"
                                 "\t<inner>\n"
                                 "\t\t<text a=\"q&quot;uote\">hello</text>\n"
                                 "\t\t<blank></blank>\n"
                                 "\t</inner>\n"
                                 "\t<list>0.5 n/a 2 1e-09</list>\n"
                                 "\t<ids>a b c</ids>\n"
                                 "\t<two>x y</two>\n"
                                 "</doc>\n");
    EXPECT_FALSE(writer.Close()); // already closed
    EXPECT_TRUE(QNL_errorHandler::Instance().GetNumberOfErrors() == 0);
}

TEST_F(XmlWriterTest, EveryTextSurvivesAsWellFormedXml) {
    // Markup characters, tab, line feed, carriage return, backslash, characters XML 1.0
    // cannot hold, UTF-8, a stray Latin-1 byte, a non-character and a CDATA end.
    const std::string nasty = "a&b<c>d\"e'f\tg\nh\ri\\j\x01k\x1Fl\xC3\xA9m\xE9n\xEF\xBF\xBEo]]>p";
    const std::string kept = "a&b<c>d\"e'f\tg\nh\ri\\jkl\xC3\xA9m\xC3\xA9no]]>p";
    const std::string path = TempPath("escape.xml");
    QNL_xmlWriter writer;
    ASSERT_TRUE(writer.Open(path.c_str()));
    writer.OpenElement("doc");
    writer.AddAttribute("v", nasty);
    writer.WriteElement("item", nasty.c_str());
    writer.AddAttribute("v", "");
    writer.WriteElement("item", nasty.c_str(), true);
    const char* texts[] = {"<id>", "&"};
    writer.WriteTextList("list", texts, 2);
    writer.CloseElement("doc");
    ASSERT_TRUE(writer.Close());

    const std::string raw = FileContent(path);
    for (const char* entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&#9;", "&#10;",
                               "&#13;", "g\\nh", "f\\tg", "i\\\\j"})
        EXPECT_NE(raw.find(entity), std::string::npos) << entity;

    ItemReader reader;
    ASSERT_TRUE(reader.Read(path)) << QNL_errorHandler::Instance().GetMessage(0);
    ASSERT_EQ(reader.items.size(), 2u);
    EXPECT_EQ(reader.items[0].attribute, kept);
    EXPECT_EQ(reader.items[0].text, kept);
    // Control escaping drops the carriage return and comes back through unescaping.
    std::string withoutReturn = kept;
    withoutReturn.erase(withoutReturn.find('\r'), 1);
    EXPECT_EQ(reader.items[1].unescaped, withoutReturn);
    EXPECT_EQ(reader.tokens, (std::vector<std::string>{"<id>", "&"}));
}

// Every double but NaN (which comes back as a NaN) reads back bit for bit, in lists and
// attributes, never longer than the shortest round-trip text.
TEST_F(XmlWriterTest, DoublesReadBackBitForBit) {
    std::vector<double> values = {0.1,
                                  -0.0,
                                  0.0,
                                  1.0 / 3.0,
                                  DBL_MAX,
                                  -DBL_MAX,
                                  DBL_MIN,
                                  QNL_UNDEFINED_NUMBER,
                                  QNL_ILLEGAL_NUMBER,
                                  std::numeric_limits<double>::denorm_min(),
                                  1e-9,
                                  123456789012345678.0,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity()};
    std::mt19937_64 generator(20240611);
    while (values.size() < 2000) {
        const std::uint64_t bits = generator();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isnan(value)) values.push_back(value);
    }
    const std::string path = TempPath("numbers.xml");
    QNL_xmlWriter writer;
    ASSERT_TRUE(writer.Open(path.c_str()));
    writer.OpenElement("doc");
    writer.WriteDoubleList("list", values.data(), static_cast<int>(values.size()));
    for (std::size_t i = 0; i < 50; ++i) {
        writer.AddAttribute("v", values[i]);
        writer.WriteElement("item", nullptr);
    }
    const double notANumber[] = {std::nan("")};
    writer.WriteDoubleList("list", notANumber, 1);
    writer.CloseElement("doc");
    ASSERT_TRUE(writer.Close());
    ItemReader reader;
    ASSERT_TRUE(reader.Read(path));
    ASSERT_EQ(reader.tokens.size(), values.size() + 1);
    ASSERT_EQ(reader.items.size(), 50u);
    EXPECT_EQ(reader.tokens[0], "0.1");
    for (std::size_t i = 0; i <= values.size(); ++i) {
        const std::string& text =
            i < 50 && i % 2 == 1 ? reader.items[i].attribute : reader.tokens[i];
        double back = 0;
        ASSERT_TRUE(quarn::detail::ParseXmlDouble(text, back)) << text;
        if (i == values.size()) {
            EXPECT_TRUE(std::isnan(back));
        } else {
            EXPECT_EQ(Bits(back), Bits(values[i])) << text;
            EXPECT_LE(text.size(), 24u);
        }
    }
}

} // namespace
