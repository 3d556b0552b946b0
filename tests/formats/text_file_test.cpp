#include "format_test_support.h"
#include "formats/text_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;
using format_test::TempFolder;

class TextFile : public ::testing::Test {
protected:
    void SetUp() override { log().Flush(); }
    static QNL_errorHandler& log() { return QNL_errorHandler::Instance(); }
    TempFolder folder{"text_file"};
};

// Writes with the given margin through the calls in body and returns the file's text.
using Body = std::function<void(QNL_textFile&)>;

TEST_F(TextFile, LinesBreakAfterTheLastBlankBeforeTheMargin) {
    const std::string a15(15, 'x'), a18(18, 'a'), a19(19, 'a'), a20(20, 'x'), a30(30, 'a');
    const std::string longRaw = std::string(40, 'r') + " " + std::string(40, 's');
    const struct {
        int margin;
        Body body;
        std::string expected;
    } cases[] = {
        // clang-format off
        {20, [](QNL_textFile& f) { f.Write("aaaa bbbb cccc dddd eeee ffff"); }, "aaaa bbbb cccc dddd \neeee ffff"},
        // The continuation text ends every broken line, and the indentation starts the next.
        {20, [](QNL_textFile& f) { f.SetContinuationText("\\ "), f.Indent(), f.Indent(), f.WriteLine("aaaa bbbb cccc dddd eeee"); },
         "  aaaa bbbb cccc \\ \n  dddd eeee"},
        // A break never leaves a blank at the start of the next line: the scanner's
        // continuation would swallow it.
        {20, [&](QNL_textFile& f) { f.Write(a19 + "  bbbb"); }, a19 + "  \nbbbb"},
        {20, [&](QNL_textFile& f) { f.Write(a18 + "  bbbb"); }, a18 + "  \nbbbb"},
        // Without a blank, behind other text: the whole piece goes to the next line.
        {20, [&](QNL_textFile& f) { f.Write(a15), f.Write("0123456789"); }, a15 + "\n0123456789"},
        // Alone on its line: written unbroken up to its next blank.
        {20, [&](QNL_textFile& f) { f.Write(a30 + " bbb ccc"); }, a30 + " \nbbb ccc"},
        // Only blanks of the current call are break points.
        {20, [](QNL_textFile& f) { f.Write("aaaa bbbb "), f.Write("cccccccccccc"); }, "aaaa bbbb \ncccccccccccc"},
        // A piece that starts with a double quote may close a string: it is never moved alone.
        {20, [&](QNL_textFile& f) { f.Write(a20), f.Write("\""); }, a20 + "\""},
        // Indentation follows newlines; raw text is never broken.
        {70, [](QNL_textFile& f) { f.Indent(), f.WriteLine("net = \n"), f.Indent(), f.WriteLine("{\nA;\nB;\n"), f.Write("C"); },
         " net = \n  {\n  A;\n  B;\nC"},
        {20, [&](QNL_textFile& f) { f.Indent(), f.WriteRaw(longRaw + "\nnext\n"), f.Write("t"); }, longRaw + "\n next\nt"},
        // clang-format on
    };
    for (const auto& c : cases) {
        QNL_textFile file;
        const std::string path = folder.File("out.txt");
        ASSERT_EQ(file.SetRightMargin(c.margin), 0);
        ASSERT_EQ(file.Open(path.c_str(), QNL_textFile::WRITE_MODE), 0);
        c.body(file);
        ASSERT_EQ(file.Close(), 0);
        EXPECT_EQ(TempFolder::Get(path), c.expected);
    }
}

TEST_F(TextFile, IndentationAndMarginsStayWithinTheirLimits) {
    QNL_textFile file;
    EXPECT_EQ(file.Unindent(), -2);
    EXPECT_EQ(file.SetRightMargin(5000), 0);
    EXPECT_EQ(file.GetRightMargin(), 1019);
    EXPECT_EQ(file.SetIndentWidth(100), 0);
    int indented = 0;
    while (indented < 20 && file.Indent() == 0)
        ++indented;
    EXPECT_EQ(indented, 11);                 // 100 x 11 is already past 1019
    EXPECT_EQ(file.SetRightMargin(100), -2); // no column left beside a step of 100
    EXPECT_EQ(file.SetIndentWidth(-1) + file.SetIndentWidth(1019) + file.SetRightMargin(-1), -6);
    EXPECT_EQ(file.SetIndentWidth(0), 0);
    // A width of 0 cannot let the level grow without end.
    int refusedAt = -1;
    for (int i = 0; i < 5000 && refusedAt < 0; ++i)
        if (file.Indent() != 0) refusedAt = file.GetIndentLevel();
    EXPECT_EQ(refusedAt, 1019);
}

} // namespace
