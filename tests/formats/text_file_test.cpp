#include "formats/text_file.h"
#include "model/error_handler.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class TextFile : public ::testing::Test {
protected:
    void SetUp() override {
        log().Flush();
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::path(::testing::TempDir()) / (std::string("quarn_text_file_") + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        log().Flush();
        fs::remove_all(dir);
    }
    static QNL_errorHandler& log() { return QNL_errorHandler::Instance(); }
    static std::string LastMessage() {
        int n = log().GetNumberOfErrors();
        return n == 0 ? std::string() : log().GetMessage(n - 1);
    }
    std::string PathOf(const std::string& name) const { return (dir / name).string(); }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // The files in the test folder, so that leftovers of a write show up.
    int FilesInFolder() const {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(dir)) {
            (void)entry;
            ++n;
        }
        return n;
    }
    // Writes with the given margin through the calls in body and returns the file's text.
    template <typename Body> std::string Written(int margin, Body body) {
        QNL_textFile file;
        std::string path = PathOf("out.txt");
        EXPECT_EQ(file.SetRightMargin(margin), 0);
        EXPECT_EQ(file.Open(path.c_str(), QNL_textFile::WRITE_MODE), 0);
        body(file);
        EXPECT_EQ(file.Close(), 0);
        return Slurp(path);
    }

    fs::path dir;
};

TEST_F(TextFile, LinesBreakAfterTheLastBlankBeforeTheMargin) {
    EXPECT_EQ(Written(20, [](QNL_textFile& f) { f.Write("aaaa bbbb cccc dddd eeee ffff"); }),
              "aaaa bbbb cccc dddd \neeee ffff");
    // The continuation text ends every broken line, and the indentation starts the next.
    EXPECT_EQ(Written(20,
                      [](QNL_textFile& f) {
                          f.SetContinuationText("\\ ");
                          f.Indent();
                          f.Indent();
                          f.WriteLine("aaaa bbbb cccc dddd eeee");
                      }),
              "  aaaa bbbb cccc \\ \n  dddd eeee");
    // A break never leaves a blank at the start of the next line: the scanner's
    // continuation would swallow it.
    EXPECT_EQ(Written(20, [](QNL_textFile& f) { f.Write(std::string(19, 'a') + "  bbbb"); }),
              std::string(19, 'a') + "  \nbbbb");
    EXPECT_EQ(Written(20, [](QNL_textFile& f) { f.Write(std::string(18, 'a') + "  bbbb"); }),
              std::string(18, 'a') + "  \nbbbb");
}

TEST_F(TextFile, TextWithoutBlankMovesToANewLineOrRunsPastTheMargin) {
    // Behind other text: the whole piece goes to the next line.
    EXPECT_EQ(Written(20,
                      [](QNL_textFile& f) {
                          f.Write(std::string(15, 'x'));
                          f.Write("0123456789");
                      }),
              std::string(15, 'x') + "\n0123456789");
    // Alone on its line: written unbroken up to its next blank.
    EXPECT_EQ(Written(20, [](QNL_textFile& f) { f.Write(std::string(30, 'a') + " bbb ccc"); }),
              std::string(30, 'a') + " \nbbb ccc");
    // Only blanks of the current call are break points.
    EXPECT_EQ(Written(20,
                      [](QNL_textFile& f) {
                          f.Write("aaaa bbbb ");
                          f.Write("cccccccccccc");
                      }),
              "aaaa bbbb \ncccccccccccc");
    // A piece that starts with a double quote may close a string: it is never moved alone.
    EXPECT_EQ(Written(20,
                      [](QNL_textFile& f) {
                          f.Write(std::string(20, 'x'));
                          f.Write("\"");
                      }),
              std::string(20, 'x') + "\"");
}

TEST_F(TextFile, IndentationFollowsNewlinesAndRawTextIsNeverBroken) {
    EXPECT_EQ(Written(70,
                      [](QNL_textFile& f) {
                          f.Indent();
                          f.WriteLine("net = \n");
                          f.Indent();
                          f.WriteLine("{\nA;\nB;\n");
                          f.Write("C");
                      }),
              " net = \n  {\n  A;\n  B;\nC");
    std::string longRaw = std::string(40, 'r') + " " + std::string(40, 's');
    EXPECT_EQ(Written(20,
                      [&](QNL_textFile& f) {
                          f.Indent();
                          f.WriteRaw(longRaw + "\nnext\n");
                          f.Write("t");
                      }),
              longRaw + "\n next\nt");
}

TEST_F(TextFile, IndentationAndMarginsStayWithinTheirLimits) {
    QNL_textFile file;
    EXPECT_EQ(file.GetRightMargin(), 70);
    EXPECT_EQ(file.GetIndentWidth(), 1);
    EXPECT_EQ(file.Unindent(), -2);
    EXPECT_EQ(file.SetRightMargin(5000), 0);
    EXPECT_EQ(file.GetRightMargin(), 1019);
    EXPECT_EQ(file.SetIndentWidth(100), 0);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(file.Indent(), 0) << i;
    EXPECT_EQ(file.Indent(), -2); // 100 x 11 is already past 1019
    EXPECT_EQ(file.GetIndentLevel(), 11);
    EXPECT_EQ(file.SetRightMargin(100), -2); // no column left beside a step of 100
    EXPECT_EQ(file.SetRightMargin(-1), -2);
    EXPECT_EQ(file.SetIndentWidth(-1), -2);
    EXPECT_EQ(file.SetIndentWidth(1019), -2);
    EXPECT_EQ(file.SetIndentWidth(0), 0);
    // A width of 0 cannot let the level grow without end.
    int refusedAt = -1;
    for (int i = 0; i < 5000 && refusedAt < 0; ++i)
        if (file.Indent() != 0) refusedAt = file.GetIndentLevel();
    EXPECT_EQ(refusedAt, 1019);
}

TEST_F(TextFile, WriteReplacesTheTargetOnlyAtClose) {
    std::string target = PathOf("model.qnl");
    Put(target, "old contents");
    QNL_textFile file;
    ASSERT_EQ(file.Open(target.c_str(), QNL_textFile::WRITE_MODE), 0);
    EXPECT_EQ(fs::path(file.GetTemporaryPath()).parent_path(), dir);
    EXPECT_EQ(file.Write("new contents\n"), 0);
    EXPECT_EQ(Slurp(target), "old contents");
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(Slurp(target), "new contents\n");
    EXPECT_EQ(FilesInFolder(), 1);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    // After closing every write is refused.
    EXPECT_EQ(file.Write("x"), -103);
    EXPECT_EQ(file.WriteRaw("x"), -103);
    EXPECT_EQ(file.WriteLine("x"), -103);
    EXPECT_EQ(file.Close(), -103);
}

TEST_F(TextFile, AbandonedWriteLeavesTheOldFileAndNoTemporary) {
    std::string target = PathOf("model.qnl");
    Put(target, "old contents");
    {
        QNL_textFile file;
        ASSERT_EQ(file.Open(target.c_str(), QNL_textFile::WRITE_MODE), 0);
        file.Write("half of a model");
    }
    EXPECT_EQ(Slurp(target), "old contents");
    QNL_textFile file;
    ASSERT_EQ(file.Open(target.c_str(), QNL_textFile::WRITE_MODE), 0);
    file.Write("half of a model");
    file.Discard();
    EXPECT_EQ(Slurp(target), "old contents");
    EXPECT_EQ(FilesInFolder(), 1);
    // A file that happens to carry the temporary name is not touched either.
    Put(target + ".tmp", "someone else's");
    ASSERT_EQ(file.Open(target.c_str(), QNL_textFile::WRITE_MODE), 0);
    EXPECT_NE(file.GetTemporaryPath(), target + ".tmp");
    file.Write("new");
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(Slurp(target), "new");
    EXPECT_EQ(Slurp(target + ".tmp"), "someone else's");
}

TEST_F(TextFile, TargetInAMissingFolderFailsBeforeAnythingIsWritten) {
    QNL_textFile file;
    std::string target = PathOf("missing/model.qnl");
    EXPECT_EQ(file.Open(target.c_str(), QNL_textFile::WRITE_MODE), -103);
    EXPECT_EQ(LastMessage(), "OPEN FILE FAILED");
    EXPECT_EQ(file.Write("x"), -103);
    EXPECT_EQ(FilesInFolder(), 0);
    EXPECT_EQ(file.Open(nullptr, QNL_textFile::WRITE_MODE), -103);
    EXPECT_EQ(file.Open(target.c_str(), 7), -103);
}

TEST_F(TextFile, FailedRenameKeepsTheTargetAndRemovesTheTemporary) {
    std::string target = PathOf("taken");
    fs::create_directories(dir / "taken" / "inside");
    QNL_textFile file;
    ASSERT_EQ(file.Open(target.c_str(), QNL_textFile::WRITE_MODE), 0);
    file.Write("contents");
    EXPECT_EQ(file.Close(), -103);
    EXPECT_EQ(LastMessage(), "WRITE FILE FAILED: " + target);
    EXPECT_TRUE(fs::is_directory(dir / "taken" / "inside"));
    EXPECT_EQ(FilesInFolder(), 1);
}

TEST_F(TextFile, WriteErrorKeepsTheOldFile) {
    std::string target = PathOf("model.qnl");
    Put(target, "old contents");
    // A file-size limit makes the writes of this process fail the way a full disk does.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 4096) GTEST_SKIP();
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    QNL_textFile file;
    int opened = file.Open(target.c_str(), QNL_textFile::WRITE_MODE);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string line(100, 'x');
    line += '\n';
    int lastWrite = 0;
    for (int i = 0; i < 1000 && lastWrite == 0; ++i)
        lastWrite = file.WriteRaw(line);
    int closed = file.Close();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(opened, 0);
    EXPECT_EQ(closed, -103);
    EXPECT_EQ(LastMessage(), "WRITE FILE FAILED: " + target);
    EXPECT_EQ(Slurp(target), "old contents");
    EXPECT_EQ(FilesInFolder(), 1);
}

TEST_F(TextFile, ReadModeHandsOutLines) {
    std::string path = PathOf("lines.txt");
    Put(path, "first\r\nsecond\rthird");
    QNL_textFile file;
    ASSERT_EQ(file.Open(path.c_str(), QNL_textFile::READ_MODE), 0);
    std::string line;
    std::string all;
    while (file.ReadLine(line) == 0)
        all += line + "|";
    EXPECT_EQ(all, "first|second|third|");
    EXPECT_EQ(file.GetLineNumber(), 3);
    EXPECT_EQ(file.GetResult(), -102);
    EXPECT_EQ(file.Write("x"), -103);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(file.ReadLine(line), -103);

    Put(PathOf("empty.txt"), "");
    EXPECT_EQ(file.Open(PathOf("empty.txt").c_str(), QNL_textFile::READ_MODE), -102);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(file.Open(PathOf("none.txt").c_str(), QNL_textFile::READ_MODE), -103);
    EXPECT_EQ(LastMessage(), "OPEN FILE FAILED: '" + PathOf("none.txt") + "' (no such file)");
}

} // namespace
