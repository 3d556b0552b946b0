#include "formats/xml/xml_reader.h"

#include "model/error_handler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Flags = QNL_xmlElementHandler;

std::string WriteTempFile(const std::string& name, const std::string& content) {
    std::string path = ::testing::TempDir() + "quarn_xml_reader_" + name;
    std::ofstream out(path, std::ios::binary);
    out << content;
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
    bool throwInTitle = false;
    bool failInNote = false;

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
        if (throwInTitle) throw std::runtime_error("boom");
        events.push_back("title " + reader.GetText());
    }
    void NumberToken(QNL_xmlReader& reader) { tokens.push_back(reader.GetText()); }
    void NumbersEnd(QNL_xmlReader&) {
        events.push_back("numbers " + std::to_string(tokens.size()));
    }
    void NoteEnd(QNL_xmlReader& reader) {
        if (failInNote) {
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
    std::string ReadExpectingError(const std::string& name, const std::string& content) {
        path = WriteTempFile(name, content);
        EXPECT_FALSE(reader.Read(path));
        auto entries = LoggedEntries();
        EXPECT_EQ(entries.size(), 1u);
        if (entries.empty()) return "";
        EXPECT_EQ(entries[0].first, -103);
        const std::string& message = entries[0].second;
        const std::string middle = " while loading " + path + ": ";
        std::size_t at = message.find(middle);
        if (message.rfind("Error at ", 0) != 0 || at == std::string::npos) {
            ADD_FAILURE() << message;
            return message;
        }
        return message.substr(9, at - 9) + ": " + message.substr(at + middle.size());
    }
    static std::string At(int line, int column) {
        return std::to_string(line) + ", " + std::to_string(column) + ": ";
    }

    CatalogueReader reader;
    std::string path;
};

TEST_F(XmlReaderTest, CallbacksRunInDocumentOrderWithAttributesTextAndTokens) {
    path = WriteTempFile("order.xml", "<?xml version=\"1.0\"?>\n"
                                      "<library version=\"1.0\" name=\"City\">\n"
                                      "  <book id=\"b1\" year=\" 1999 \" price=\"+12.5\" "
                                      "available=\"true\">\n"
                                      "    <note>a\\nb\\tc\\\\d\\q\\</note>\n"
                                      "    <numbers> 1 2.5\n  -3 </numbers>\n"
                                      "    <title>First &amp; Last</title>\n"
                                      "  </book>\n"
                                      "  <book id=\"b2\"><title/></book>\n"
                                      "  <meta><key name=\"k\"/></meta>\n"
                                      "  <note>top</note>\n"
                                      "</library>\n");
    ASSERT_TRUE(reader.Read(path));
    std::vector<std::string> expected = {
        "start library City",
        "start book b1 1999 12.500000 yes enclosing text blank: yes",
        "note a\nb\tc\\dq\\",
        "numbers 3",
        "title First & Last",
        "end book",
        "start book b2 -1 0.250000 no enclosing text blank: yes",
        "title ",
        "end book",
        "key k",
        "note top",
        "end library"};
    EXPECT_EQ(reader.events, expected);
    EXPECT_EQ(reader.tokens, (std::vector<std::string>{"1", "2.5", "-3"}));
    EXPECT_TRUE(LoggedEntries().empty());
}

TEST_F(XmlReaderTest, SchemaViolationsStopTheReadWithPositionedMessages) {
    EXPECT_EQ(ReadExpectingError("root.xml", "<?xml version=\"1.0\"?>\n<foo/>"),
              At(2, 0) + "Unknown root element 'foo', expected 'library'");
    EXPECT_EQ(reader.events.size(), 0u);

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("twice.xml", "<library version=\"1\"><book id=\"a\">"
                                              "<title/><title/></book></library>"),
              At(1, 42) + "Multiple occurences of 'title' not allowed in 'book'");

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(
        ReadExpectingError("nochild.xml",
                           "<library version=\"1\">\n<book id=\"a\"><note/></book></library>"),
        At(2, 20) + "Required element 'title' not present in element 'book'");

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("nobook.xml", "<library version=\"1\"></library>"),
              At(1, 21) + "Required element 'book' not present in element 'library'");

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("noattr.xml", "<library name=\"x\"/>"),
              At(1, 0) + "Required attribute 'version' not found in element 'library'");

    // "meta" is strict for attributes and children, and "key" inherits that.
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("strictel.xml", "<library version=\"1\"><book id=\"a\"><title/>"
                                                 "</book><meta><x/></meta></library>"),
              At(1, 55) + "Unknown element 'x' in 'meta'");

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("strictat.xml", "<library version=\"1\"><book id=\"a\"><title/>"
                                                 "</book><meta><key name=\"k\" z=\"1\"/></meta>"
                                                 "</library>"),
              At(1, 55) + "Unknown attribute 'z' in element 'key'");
    EXPECT_EQ(reader.events.back(), "end book");
}

TEST_F(XmlReaderTest, RepeatableChildrenMayOccurInAnyOrder) {
    path = WriteTempFile("repeat.xml", "<library version=\"1\"><note>1</note><book id=\"a\">"
                                       "<note>2</note><title>t</title><note>3</note></book>"
                                       "<note>4</note><book id=\"b\"><title/></book></library>");
    ASSERT_TRUE(reader.Read(path));
    EXPECT_EQ(reader.events.size(), 12u);
    EXPECT_TRUE(LoggedEntries().empty());
}

TEST_F(XmlReaderTest, UnknownItemsUnderLenientElementsAreWarnedOnceAndSkipped) {
    path = WriteTempFile("unknown.xml", "<library version=\"1\" colour=\"red\">\n"
                                        "<book id=\"b\"><title>t</title><extra a=\"1\">"
                                        "<title>x</title><deeper><book/></deeper></extra>"
                                        "</book>\n</library>");
    ASSERT_TRUE(reader.Read(path));
    EXPECT_EQ(reader.events,
              (std::vector<std::string>{"start library ",
                                        "start book b -1 0.250000 no enclosing text blank: yes",
                                        "title t", "end book", "end library"}));
    auto entries = LoggedEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], std::make_pair(-100, "Warning: Ignored unknown attribute 'colour' in "
                                               "'library' at 1, 0 while loading " +
                                                   path));
    EXPECT_EQ(entries[1], std::make_pair(-100, "Warning: Ignored unknown element 'extra' at 2, "
                                               "29 while loading " +
                                                   path));
    EXPECT_EQ(entries[2], std::make_pair(-100, std::string("File contains unknown elements and/or "
                                                           "attributes. ") +
                                                   QNL_xmlReader::DownloadHint()));
}

TEST_F(XmlReaderTest, InheritedStrictnessComesFromTheEnclosingElementOrIsStrictAtTheRoot) {
    QNL_xmlReader plain;
    auto* top = plain.CreateElement(nullptr, "r", Flags::INHERIT);
    auto* lenient = plain.CreateElement(nullptr, "lenient", Flags::LENIENT);
    auto* inner = plain.CreateElement(nullptr, "inner", Flags::INHERIT);
    top->AddChild(lenient, Flags::MULTIPLE);
    lenient->AddChild(inner, 0);
    auto read = [&](const std::string& document) {
        QNL_errorHandler::Instance().Flush();
        path = WriteTempFile("inherit.xml", document);
        QNL_xmlErrorSink sink(path);
        bool ok = plain.ReadFile(path.c_str(), top, &sink);
        auto entries = LoggedEntries();
        return std::make_pair(ok, entries.empty() ? std::string() : entries[0].second);
    };
    auto result = read("<r><lenient><inner q=\"1\"><x/></inner></lenient></r>");
    EXPECT_TRUE(result.first);
    EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 2);
    EXPECT_EQ(QNL_errorHandler::Instance().GetCode(1), -100);

    result = read("<r><y/></r>");
    EXPECT_FALSE(result.first);
    EXPECT_NE(result.second.find("Unknown element 'y' in 'r'"), std::string::npos);
    result = read("<r q=\"1\"/>");
    EXPECT_FALSE(result.first);
    EXPECT_NE(result.second.find("Unknown attribute 'q' in element 'r'"), std::string::npos);
}

TEST_F(XmlReaderTest, TypedAttributesAcceptOnlyWholeNumbersAndExactBooleans) {
    struct Case {
        const char* attributes;
        const char* message;
    };
    const Case cases[] = {
        {"year=\"abc\"", "Integer value expected for attribute 'year'"},
        {"year=\"12abc\"", "Integer value expected for attribute 'year'"},
        {"year=\"99999999999\"", "Integer value expected for attribute 'year'"},
        {"year=\"1.5\"", "Integer value expected for attribute 'year'"},
        {"year=\"\"", "Integer value expected for attribute 'year'"},
        {"price=\"abc\"", "Floating point value expected for attribute 'price'"},
        {"price=\"1.5kg\"", "Floating point value expected for attribute 'price'"},
        {"price=\"1,5\"", "Floating point value expected for attribute 'price'"},
        {"price=\"1e999\"", "Floating point value expected for attribute 'price'"},
        {"available=\"True\"",
         "'true' or 'false' expected as value of boolean attribute 'available'"},
        {"available=\"1\"", "'true' or 'false' expected as value of boolean attribute 'available'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attributes);
        QNL_errorHandler::Instance().Flush();
        reader.events.clear();
        std::string document = std::string("<library version=\"1\"><book id=\"x\" ") +
                               c.attributes + "><title/></book></library>";
        EXPECT_EQ(ReadExpectingError("typed.xml", document), At(1, 21) + c.message);
        EXPECT_EQ(reader.events.size(), 1u); // the book's start gave up
    }

    QNL_errorHandler::Instance().Flush();
    reader.events.clear();
    path = WriteTempFile("typedok.xml", "<library version=\"1\"><book id=\"x\" year=\"-42\" "
                                        "price=\"-1.5e-3\" available=\"false\"><title/></book>"
                                        "</library>");
    ASSERT_TRUE(reader.Read(path));
    EXPECT_EQ(reader.events[1], "start book x -42 -0.001500 no enclosing text blank: yes");
}

TEST_F(XmlReaderTest, VersionMustNotExceedTheExpectedOne) {
    for (const char* version : {"1.0", "0.99", "0.9", "1"}) {
        SCOPED_TRACE(version);
        reader.events.clear();
        path = WriteTempFile("version.xml", std::string("<library version=\"") + version +
                                                "\"><book id=\"a\"><title/></book></library>");
        EXPECT_TRUE(reader.Read(path));
    }
    for (const char* version : {"1.01", "1.1", "abc", ""}) {
        SCOPED_TRACE(version);
        QNL_errorHandler::Instance().Flush();
        std::string message = ReadExpectingError("version.xml", std::string("<library version=\"") +
                                                                    version + "\"/>");
        EXPECT_EQ(message, At(1, 0) + "Invalid version number '" + version + "', expected 1.0\n" +
                               QNL_xmlReader::DownloadHint());
    }
}

TEST_F(XmlReaderTest, MalformedOrMissingFilesGiveExpatsMessageWithPosition) {
    EXPECT_EQ(ReadExpectingError("mismatch.xml", "<library version=\"1\">\n  <book id=\"a\">"
                                                 "<title></book></library>"),
              At(2, 24) + "mismatched tag");

    QNL_errorHandler::Instance().Flush();
    std::string truncated =
        ReadExpectingError("truncated.xml", "<library version=\"1\"><book id=\"a\"><tit");
    EXPECT_EQ(truncated, At(1, 34) + "unclosed token");

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("unclosed.xml", "<library version=\"1\"><book id=\"a\">"),
              At(1, 34) + "no element found");

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("empty.xml", ""), At(1, 0) + "no element found");

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("entity.xml", "<library version=\"1\">&nope;</library>"),
              At(1, 21) + "undefined entity");

    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("garbage.xml", std::string("\x01\x02\xff\xfe garbage", 13)),
              At(1, 0) + "not well-formed (invalid token)");

    QNL_errorHandler::Instance().Flush();
    path = ::testing::TempDir() + "quarn_xml_reader_does_not_exist.xml";
    EXPECT_FALSE(reader.Read(path));
    EXPECT_EQ(LoggedEntries(),
              (std::vector<std::pair<int, std::string>>{
                  {-103, "Error at 0, 0 while loading " + path + ": Can't open file " + path}}));

    // Without a sink nothing is logged, but the result still says it failed.
    QNL_errorHandler::Instance().Flush();
    EXPECT_FALSE(reader.ReadFile(path.c_str(), reader.root, nullptr));
    EXPECT_TRUE(LoggedEntries().empty());
}

TEST_F(XmlReaderTest, EntityExpansionBombIsRefusedInsteadOfExpanded) {
    std::string document = "<?xml version=\"1.0\"?>\n<!DOCTYPE library [\n"
                           "<!ENTITY a0 \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\">\n";
    for (int i = 1; i < 10; ++i) {
        std::string previous = "&a" + std::to_string(i - 1) + ";";
        document += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            document += previous;
        document += "\">\n";
    }
    document += "]>\n<library version=\"1\"><book id=\"a\"><title>&a9;</title></book></library>";
    path = WriteTempFile("bomb.xml", document);
    EXPECT_FALSE(reader.Read(path));
    auto entries = LoggedEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first, -103);
    EXPECT_NE(entries[0].second.find("amplification"), std::string::npos) << entries[0].second;
}

TEST_F(XmlReaderTest, ReferencesAndDeclaredEncodingsArriveAsUtf8) {
    path = WriteTempFile("latin1.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                                       "<library version=\"1\" name=\"caf\xE9\">"
                                       "<book id=\"a\"><title>&lt;&#233;&#x4E2D;&quot;&apos;&gt;"
                                       "</title></book></library>");
    ASSERT_TRUE(reader.Read(path));
    EXPECT_EQ(reader.events[0], "start library caf\xC3\xA9");
    EXPECT_EQ(reader.events[2], "title <\xC3\xA9\xE4\xB8\xAD\"'>");

    reader.events.clear();
    path = WriteTempFile("utf8.xml", "<library version=\"1\" name=\"\xE4\xB8\xAD\xF0\x9F\x98\x80\">"
                                     "<book id=\"a\"><title/></book></library>");
    ASSERT_TRUE(reader.Read(path));
    EXPECT_EQ(reader.events[0], "start library \xE4\xB8\xAD\xF0\x9F\x98\x80");

    // Latin-1 bytes in a document that does not declare them are not UTF-8.
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(ReadExpectingError("bad_utf8.xml", "<library version=\"1\" name=\"caf\xE9\"/>"),
              At(1, 30) + "not well-formed (invalid token)");
}

TEST_F(XmlReaderTest, TokensSplitAcrossChunksArriveWhole) {
    // Numbers of varying length so that the 4096-byte chunk edges fall inside numbers, on
    // blanks and on line ends as the padding in front moves the list.
    std::vector<std::string> expected;
    std::string list;
    for (int i = 0; i < 3000; ++i) {
        expected.push_back(std::to_string(i * 7919 % 100003) + "." + std::to_string(i % 97));
        list += expected.back();
        list += (i % 13 == 0) ? "\n\t" : " ";
    }
    for (int padding = 0; padding < 12; ++padding) {
        SCOPED_TRACE(padding);
        reader.tokens.clear();
        reader.events.clear();
        path =
            WriteTempFile("chunks.xml", "<library version=\"1\"><!--" + std::string(padding, 'p') +
                                            "--><book id=\"a\"><title/><numbers>" + list +
                                            "</numbers></book></library>");
        ASSERT_TRUE(reader.Read(path));
        EXPECT_EQ(reader.tokens, expected);
    }
}

TEST_F(XmlReaderTest, HugeValuesAndDeepNestingAreReadWithoutLimits) {
    std::string big(1024 * 1024 + 17, 'v');
    big[5000] = '&'; // split by an entity reference
    std::string escaped = big;
    escaped.replace(5000, 1, "&amp;");
    std::string deep;
    const int depth = 20000;
    for (int i = 0; i < depth; ++i)
        deep += "<d>";
    for (int i = 0; i < depth; ++i)
        deep += "</d>";
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

TEST_F(XmlReaderTest, FailureOrExceptionInCallbackStopsTheParse) {
    const std::string document = "<library version=\"1\"><book id=\"a\"><note/><title/></book>"
                                 "<book id=\"b\"><title/></book></library>";
    reader.failInNote = true;
    EXPECT_EQ(ReadExpectingError("fail.xml", document), At(1, 41) + "note refused");
    EXPECT_EQ(reader.events.size(), 2u); // nothing after the failure

    QNL_errorHandler::Instance().Flush();
    reader.events.clear();
    reader.failInNote = false;
    reader.throwInTitle = true;
    EXPECT_EQ(ReadExpectingError("throw.xml", document), At(1, 49) + "Unexpected error: boom");
    EXPECT_EQ(reader.events.back(), "note ");

    // The reader is usable again afterwards.
    QNL_errorHandler::Instance().Flush();
    reader.throwInTitle = false;
    path = WriteTempFile("again.xml", document);
    EXPECT_TRUE(reader.Read(path));
    EXPECT_FALSE(reader.HasFailed());
}

TEST(XmlNumberText, WholeTextMustBeOneNumber) {
    double d = -1;
    int n = -1;
    EXPECT_TRUE(quarn::detail::ParseXmlDouble(" 2.5e-3\n", d));
    EXPECT_EQ(d, 2.5e-3);
    EXPECT_TRUE(quarn::detail::ParseXmlDouble("-inf", d));
    EXPECT_TRUE(std::isinf(d) && d < 0);
    EXPECT_TRUE(quarn::detail::ParseXmlDouble("4.9406564584124654e-324", d));
    EXPECT_EQ(d, 4.9406564584124654e-324);
    for (const char* bad : {"", " ", "+", "+-1", "1 2", "0x10", "1,5", "--1", "1e"})
        EXPECT_FALSE(quarn::detail::ParseXmlDouble(bad, d)) << bad;
    EXPECT_TRUE(quarn::detail::ParseXmlInt("+2147483647", n));
    EXPECT_EQ(n, 2147483647);
    EXPECT_TRUE(quarn::detail::ParseXmlInt("-2147483648", n));
    EXPECT_EQ(n, -2147483647 - 1);
    for (const char* bad : {"2147483648", "1.0", "1e3", "", "12abc", "- 1"})
        EXPECT_FALSE(quarn::detail::ParseXmlInt(bad, n)) << bad;
}

} // namespace
