#include "format_test_support.h"
#include "formats/text_file.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
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
    static std::string LastMessage() {
        const int n = log().GetNumberOfErrors();
        return n == 0 ? std::string() : log().GetMessage(n - 1);
    }
    // The files in the test folder, so that leftovers of a write show up.
    int FilesInFolder() const {
        int n = 0;
        for (auto it = fs::directory_iterator(folder.File("")); it != fs::directory_iterator();
             ++it)
            ++n;
        return n;
    }

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

// The target is replaced at Close only; an abandoned or discarded write leaves it and no
// temporary, and a file that happens to carry the temporary name is not touched.
TEST_F(TextFile, WriteReplacesTheTargetOnlyAtClose) {
    const std::string target = folder.Put("model.qnl", "old contents");
    folder.Put("model.qnl.tmp", "someone else's");
    for (bool discard : {false, true}) {
        QNL_textFile abandoned;
        ASSERT_EQ(abandoned.Open(target.c_str(), QNL_textFile::WRITE_MODE), 0);
        abandoned.Write("half of a model");
        if (discard) abandoned.Discard();
    }
    EXPECT_EQ(TempFolder::Get(target), "old contents");
    EXPECT_EQ(FilesInFolder(), 2);
    QNL_textFile file;
    ASSERT_EQ(file.Open(target.c_str(), QNL_textFile::WRITE_MODE), 0);
    EXPECT_EQ(file.Write("new contents\n"), 0);
    EXPECT_EQ(TempFolder::Get(target), "old contents");
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(TempFolder::Get(target) + TempFolder::Get(target + ".tmp"),
              "new contents\nsomeone else's");
    EXPECT_EQ(FilesInFolder(), 2);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(file.Write("x"), -103);
}

TEST_F(TextFile, FailedWritesKeepTheOldFileAndLeaveNoTemporary) {
    QNL_textFile file;
    const std::string missing = folder.File("missing/model.qnl");
    EXPECT_EQ(file.Open(missing.c_str(), QNL_textFile::WRITE_MODE), -103);
    EXPECT_EQ(LastMessage(), "OPEN FILE FAILED");
    EXPECT_EQ(FilesInFolder(), 0);

    // The target is a folder: the rename fails.
    const std::string taken = folder.File("taken");
    fs::create_directories(taken + "/inside");
    ASSERT_EQ(file.Open(taken.c_str(), QNL_textFile::WRITE_MODE), 0);
    file.Write("contents");
    EXPECT_EQ(file.Close(), -103);
    EXPECT_EQ(LastMessage(), "WRITE FILE FAILED: " + taken);
    EXPECT_TRUE(fs::is_directory(taken + "/inside"));
    EXPECT_EQ(FilesInFolder(), 1);

    // A file-size limit makes the writes of this process fail the way a full disk does.
    const std::string target = folder.Put("model.qnl", "old contents");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 4096) GTEST_SKIP();
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    const int opened = file.Open(target.c_str(), QNL_textFile::WRITE_MODE);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string line = std::string(100, 'x') + "\n";
    for (int i = 0, written = 0; i < 1000 && written == 0; ++i)
        written = file.WriteRaw(line);
    const int closed = file.Close();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(closed, -103);
    EXPECT_EQ(LastMessage(), "WRITE FILE FAILED: " + target);
    EXPECT_EQ(TempFolder::Get(target), "old contents");
    EXPECT_EQ(FilesInFolder(), 2);
}

} // namespace
