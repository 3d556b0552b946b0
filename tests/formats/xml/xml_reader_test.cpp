#include "formats/xml/xml_reader.h"

#include "model/error_handler.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Flags = QNL_xmlElementHandler;

std::string WriteTempFile(const std::string& name, const std::string& content) {
    std::string path =
        ::testing::TempDir() + "quarn_xml_reader_" + std::to_string(::getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::vector<std::pair<int, std::string>> LoggedEntries() {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    std::vector<std::pair<int, std::string>> entries;
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        entries.emplace_back(log.GetCode(i), log.GetMessage(i));
    return entries;
}

// A small catalogue format: a lenient root with repeatable, required "book" children that
// carry typed attributes, a token list and escaped notes, and a strict "meta" part.
class CatalogueReader : public QNL_xmlReader {
public:
    std::vector<std::string> events;
    std::vector<std::string> tokens;

    CatalogueReader() {
        using Callbacks = quarn::detail::XmlMemberCallbacks<CatalogueReader>;
        auto make = [this](auto start, auto end, auto token) {
            return std::make_unique<Callbacks>(this, start, end, token);
        };
        using M = Callbacks::Member;
        root = CreateElement(
            make(&CatalogueReader::LibraryStart, &CatalogueReader::LibraryEnd, M(nullptr)),
            "library", Flags::LENIENT);
        root->AddAttribute("version", Flags::REQUIRED);
        root->AddAttribute("name", 0);
        auto* book =
            CreateElement(make(&CatalogueReader::BookStart, &CatalogueReader::BookEnd, M(nullptr)),
                          "book", Flags::INHERIT);
        book->AddAttribute("id", Flags::REQUIRED);
        book->AddAttribute("year", 0);
        book->AddAttribute("price", 0);
        book->AddAttribute("available", 0);
        auto* title = CreateElement(make(M(nullptr), &CatalogueReader::TitleEnd, M(nullptr)),
                                    "title", Flags::INHERIT);
        auto* numbers = CreateElement(
            make(M(nullptr), &CatalogueReader::NumbersEnd, &CatalogueReader::NumberToken),
            "numbers", Flags::INHERIT);
        auto* note = CreateElement(make(M(nullptr), &CatalogueReader::NoteEnd, M(nullptr)), "note",
                                   Flags::INHERIT);
        auto* meta = CreateElement(nullptr, "meta", Flags::STRICT);
        auto* key = CreateElement(make(&CatalogueReader::KeyStart, M(nullptr), M(nullptr)), "key",
                                  Flags::INHERIT);
        key->AddAttribute("name", Flags::REQUIRED);

        root->AddChild(book, Flags::REQUIRED | Flags::MULTIPLE);
        root->AddChild(meta, 0);
        root->AddChild(note, Flags::MULTIPLE); // one definition under two parents
        book->AddChild(title, Flags::REQUIRED);
        book->AddChild(numbers, 0);
        book->AddChild(note, Flags::MULTIPLE);
        meta->AddChild(key, Flags::MULTIPLE);
    }

    bool Read(const std::string& path) {
        QNL_xmlErrorSink sink(path);
        bool ok = ReadFile(path.c_str(), root, &sink);
        if (ok) sink.Finish();
        return ok;
    }

    QNL_xmlElementHandler* root;

private:
    void LibraryStart(QNL_xmlReader& reader) {
        std::string version, name;
        reader.GetStringAttribute("version", version);
        if (!reader.CheckVersion(version, "1.0")) return;
        reader.GetStringAttribute("name", name);
        events.push_back("start library " + name);
    }
    void LibraryEnd(QNL_xmlReader&) { events.push_back("end library"); }
    void BookStart(QNL_xmlReader& reader) {
        int year = 0;
        double price = 0;
        bool available = false;
        std::string id;
        reader.GetStringAttribute("id", id);
        if (!reader.GetIntAttribute("year", year, -1)) return;
        if (!reader.GetDoubleAttribute("price", price, 0.25)) return;
        if (!reader.GetBoolAttribute("available", available, false)) return;
        events.push_back(
            "start book " + id + " " + std::to_string(year) + " " + std::to_string(price) + " " +
            (available ? "yes" : "no") + " enclosing text blank: " +
            (reader.GetText().find_first_not_of(" \n") == std::string::npos ? "yes" : "no"));
    }
    void BookEnd(QNL_xmlReader&) { events.push_back("end book"); }
    void TitleEnd(QNL_xmlReader& reader) {
        if (reader.GetText() == "throw") throw std::runtime_error("boom");
        events.push_back("title " + reader.GetText());
    }
    void NumberToken(QNL_xmlReader& reader) { tokens.push_back(reader.GetText()); }
    void NumbersEnd(QNL_xmlReader&) {
        events.push_back("numbers " + std::to_string(tokens.size()));
    }
    void NoteEnd(QNL_xmlReader& reader) {
        if (reader.GetText() == "fail") {
            reader.Fail("note refused");
            return;
        }
        std::string text;
        reader.GetUnescapedText(text);
        events.push_back("note " + text);
    }
    void KeyStart(QNL_xmlReader& reader) {
        std::string name;
        reader.GetStringAttribute("name", name);
        events.push_back("key " + name);
    }
};

class XmlReaderTest : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }

    // Reads the document and returns its one logged error as "<line>, <column>: <message>"
    // after checking the frame of the message.
    std::string ReadExpectingError(const std::string& content) {
        QNL_errorHandler::Instance().Flush();
        path = WriteTempFile("error.xml", content);
        EXPECT_FALSE(reader.Read(path));
        auto entries = LoggedEntries();
        EXPECT_EQ(entries.size(), 1u);
        if (entries.empty()) return "";
        EXPECT_EQ(entries[0].first, -103);
        const std::string& message = entries[0].second;
        const std::string middle = " while loading " + path + ": ";
        const std::size_t at = message.find(middle);
        if (message.rfind("Error at ", 0) != 0 || at == std::string::npos) return message;
        return message.substr(9, at - 9) + ": " + message.substr(at + middle.size());
    }

    CatalogueReader reader;
    std::string path;
};

TEST_F(XmlReaderTest, CallbacksRunInDocumentOrderWithAttributesTextAndTokens) {
    // Repeatable children may come in any order; references and declared encodings arrive as
    // UTF-8; typed attributes take whole numbers and exact booleans.
    path = WriteTempFile("order.xml",
                         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                         "<library version=\"1.0\" name=\"caf\xE9\">\n<note>0</note>\n"
                         "  <book id=\"b1\" year=\" 1999 \" price=\"+12.5\" available=\"true\">\n"
                         "    <note>a\\nb\\tc\\\\d\\q\\</note>\n"
                         "    <numbers> 1 2.5\n  -3 </numbers>\n"
                         "    <title>First &amp; &lt;&#233;&#x4E2D;&quot;&apos;&gt;</title>\n"
                         "  </book>\n"
                         "  <book id=\"b2\" year=\"-42\" price=\"-1.5e-3\" available=\"false\">"
                         "<title/></book>\n"
                         "  <meta><key name=\"k\"/></meta>\n"
                         "  <note>top</note>\n"
                         "</library>\n");
    ASSERT_TRUE(reader.Read(path));
    EXPECT_EQ(reader.events,
              (std::vector<std::string>{
                  "start library caf\xC3\xA9", "note 0",
                  "start book b1 1999 12.500000 yes enclosing text blank: yes",
                  "note a\nb\tc\\dq\\", "numbers 3", "title First & <\xC3\xA9\xE4\xB8\xAD\"'>",
                  "end book", "start book b2 -42 -0.001500 no enclosing text blank: yes", "title ",
                  "end book", "key k", "note top", "end library"}));
    EXPECT_EQ(reader.tokens, (std::vector<std::string>{"1", "2.5", "-3"}));
    EXPECT_TRUE(LoggedEntries().empty());
    for (const char* version : {"1.0", "0.99", "0.9", "1"}) {
        path = WriteTempFile("version.xml", std::string("<library version=\"") + version +
                                                "\"><book id=\"a\"><title/></book></library>");
        EXPECT_TRUE(reader.Read(path)) << version;
    }
}

// Schema violations, bad typed attributes, versions beyond the expected one, expat's own
// complaints, and a callback that fails or throws: the read stops with one positioned message.
TEST_F(XmlReaderTest, EveryFailureStopsTheReadWithOnePositionedMessage) {
    const std::string lib = "<library version=\"1\">";
    const std::string book = "<book id=\"a\"><title/></book>";
    const std::string bad = "Integer value expected for attribute 'year'";
    const std::string real = "Floating point value expected for attribute 'price'";
    const std::string boolean =
        "'true' or 'false' expected as value of boolean attribute 'available'";
    const std::string version = "', expected 1.0\n" + std::string(QNL_xmlReader::DownloadHint());
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {lib + "<book id=\"a\"><title/><title/></book></library>", "1, 42: Multiple occurences of 'title' not allowed in 'book'"},
        {lib + "</library>", "1, 21: Required element 'book' not present in element 'library'"},
        {"<library name=\"x\"/>", "1, 0: Required attribute 'version' not found in element 'library'"},
        // "meta" is strict for attributes and children, and "key" inherits that.
        {lib + book + "<meta><x/></meta></library>", "1, 55: Unknown element 'x' in 'meta'"},
        {lib + book + "<meta><key name=\"k\" z=\"1\"/></meta></library>", "1, 55: Unknown attribute 'z' in element 'key'"},
        {lib + "<book id=\"x\" year=\"abc\"><title/></book></library>", "1, 21: " + bad},
        {lib + "<book id=\"x\" year=\"99999999999\"><title/></book></library>", "1, 21: " + bad},
        {lib + "<book id=\"x\" price=\"1,5\"><title/></book></library>", "1, 21: " + real},
        {lib + "<book id=\"x\" price=\"1e999\"><title/></book></library>", "1, 21: " + real},
        {lib + "<book id=\"x\" available=\"True\"><title/></book></library>", "1, 21: " + boolean},
        {"<library version=\"1.01\"/>", "1, 0: Invalid version number '1.01" + version},
        {"<library version=\"abc\"/>", "1, 0: Invalid version number 'abc" + version},
        {lib + "<book id=\"a\">", "1, 34: no element found"},
        {std::string("\x01\x02\xff\xfe garbage", 13), "1, 0: not well-formed (invalid token)"},
        // Latin-1 bytes in a document that does not declare them are not UTF-8.
        {"<library version=\"1\" name=\"caf\xE9\"/>", "1, 30: not well-formed (invalid token)"},
        {lib + "<book id=\"a\"><note>fail</note><title/></book></library>", "1, 44: note refused"},
        {lib + "<book id=\"a\"><title>throw</title></book></library>", "1, 46: Unexpected error: boom"},
    };
    // clang-format on
    for (const auto& [document, message] : cases) {
        reader.events.clear();
        EXPECT_EQ(ReadExpectingError(document), message) << document;
        // A typed attribute's failure ends the book's start, a failed note the read: nothing
        // runs after them.
        if (message.find("value") != std::string::npos ||
            message.find("refused") != std::string::npos) {
            EXPECT_EQ(reader.events.size(), message.find("value") != std::string::npos ? 1u : 2u);
        }
    }
    // The reader is usable again afterwards.
    path = WriteTempFile("again.xml", lib + book + "</library>");
    EXPECT_TRUE(reader.Read(path));
    EXPECT_FALSE(reader.HasFailed());
    // A missing file; without a sink nothing is logged, but the result still says it failed.
    QNL_errorHandler::Instance().Flush();
    path = ::testing::TempDir() + "quarn_xml_reader_does_not_exist.xml";
    EXPECT_FALSE(reader.Read(path));
    EXPECT_EQ(LoggedEntries(),
              (std::vector<std::pair<int, std::string>>{
                  {-103, "Error at 0, 0 while loading " + path + ": Can't open file " + path}}));
    QNL_errorHandler::Instance().Flush();
    EXPECT_FALSE(reader.ReadFile(path.c_str(), reader.root, nullptr));
    EXPECT_TRUE(LoggedEntries().empty());
}

// Inherited strictness comes from the enclosing element, or is strict at the root.
TEST_F(XmlReaderTest, StrictnessIsInheritedFromTheEnclosingElement) {
    QNL_xmlReader plain;
    auto* top = plain.CreateElement(nullptr, "r", Flags::INHERIT);
    auto* lenient = plain.CreateElement(nullptr, "lenient", Flags::LENIENT);
    top->AddChild(lenient, Flags::MULTIPLE);
    lenient->AddChild(plain.CreateElement(nullptr, "inner", Flags::INHERIT), 0);
    for (const auto& [document, ok] :
         {std::pair{"<r><lenient><inner q=\"1\"><x/></inner></lenient></r>", true},
          {"<r><y/></r>", false},
          {"<r q=\"1\"/>", false}}) {
        QNL_errorHandler::Instance().Flush();
        path = WriteTempFile("inherit.xml", document);
        QNL_xmlErrorSink sink(path);
        EXPECT_EQ(plain.ReadFile(path.c_str(), top, &sink), ok) << document;
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), ok ? 2 : 1) << document;
    }
}

TEST_F(XmlReaderTest, EntityExpansionBombIsRefusedInsteadOfExpanded) {
    std::string document = "<?xml version=\"1.0\"?>\n<!DOCTYPE library [\n"
                           "<!ENTITY a0 \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\">\n";
    for (int i = 1; i < 10; ++i) {
        document += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            document += "&a" + std::to_string(i - 1) + ";";
        document += "\">\n";
    }
    document += "]>\n<library version=\"1\"><book id=\"a\"><title>&a9;</title></book></library>";
    EXPECT_NE(ReadExpectingError(document).find("amplification"), std::string::npos);
}

TEST_F(XmlReaderTest, TokensSplitAcrossChunksArriveWholeAndValuesHaveNoLimits) {
    // Numbers of varying length so that the 4096-byte chunk edges fall inside numbers, on
    // blanks and on line ends as the padding in front moves the list.
    std::vector<std::string> expected;
    std::string list;
    for (int i = 0; i < 3000; ++i) {
        expected.push_back(std::to_string(i * 7919 % 100003) + "." + std::to_string(i % 97));
        list += expected.back() + (i % 13 == 0 ? "\n\t" : " ");
    }
    for (int padding = 0; padding < 12; ++padding) {
        reader.tokens.clear();
        path =
            WriteTempFile("chunks.xml", "<library version=\"1\"><!--" + std::string(padding, 'p') +
                                            "--><book id=\"a\"><title/><numbers>" + list +
                                            "</numbers></book></library>");
        ASSERT_TRUE(reader.Read(path));
        EXPECT_EQ(reader.tokens, expected) << padding;
    }
    // A value of a megabyte split by an entity reference, and 20 000 nested elements.
    std::string big(1024 * 1024 + 17, 'v');
    big[5000] = '&';
    std::string escaped = big;
    escaped.replace(5000, 1, "&amp;");
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep = "<d>" + deep + "</d>";
    reader.events.clear();
    reader.tokens.clear();
    path =
        WriteTempFile("huge.xml", "<library version=\"1\" name=\"" + escaped +
                                      "\"><book id=\"a\"><title>" + escaped + "</title><numbers>" +
                                      escaped + "</numbers>" + deep + "</book></library>");
    ASSERT_TRUE(reader.Read(path));
    EXPECT_EQ(reader.events[0], "start library " + big);
    EXPECT_EQ(reader.events[2], "title " + big);
    EXPECT_EQ(reader.tokens, std::vector<std::string>{big});
    EXPECT_EQ(LoggedEntries().size(), 2u); // one warning for the outer "d", then the summary
}

} // namespace
