// Small bad files must be refused with their code and a message that names what is wrong, or
// read to the sound result. What they cost in time and memory is measured by
// bench/hostile_files_bench (scripts/hostile-files.sh), not here.

#include "formats/format_test_support.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/submodel.h"
#include "support/hostile_files.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <iterator>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using format_test::AllMessages;

std::string Fixture(const std::string& name) {
    return std::string(QUARN_TEST_DATA_DIR) + "/hostile/" + name;
}

// The code logged with the first message that holds `fragment`; 0 when none does.
int LoggedCode(const std::string& fragment) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (std::string(log.GetMessage(i)).find(fragment) != std::string::npos)
            return log.GetCode(i);
    return 0;
}

class HostileFiles : public ::testing::Test {
protected:
    void SetUp() override {
        QNL_errorHandler::Instance().Flush();
        folder = fs::path(::testing::TempDir()) /
                 ("quarn_hostile_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                  "_" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        fs::remove_all(folder);
        QNL_errorHandler::Instance().Flush();
    }
    std::string Put(const std::string& name, const std::string& text) const {
        const std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path folder;
};

TEST_F(HostileFiles, EachIsRefusedWithTheCodeItLogsAndANamedReason) {
    const char* const tooLarge = "Matrix too large: the table of node 'C' would hold more than";
    struct Case {
        const char* file;
        int code;
        const char* message;
    } const cases[] = {
        // A table that doubles with every arc is refused before its first arc.
        {"parents28.net", -42, tooLarge},
        {"parents28.dsc", -42, tooLarge},
        {"parents28.xml03", -42, tooLarge},
        {"parents28.xqnl", -103, tooLarge},
        // Within the limit, but two numbers for a table of 2^28 cells: refused before the
        // arcs would allocate it.
        {"parents27_short_table.net", -2, "2 values given, the table holds 268435456"},
        {"parents27_short_table.dsc", -2, "ERROR: Node (\"C\") : Table entries missing"},
        {"parents27_bad_data.net", -127, "ERROR: '#' : Unexpected"},
        {"parents27_short_table.xml03", -2, "expecting 268435456 numbers but 2 were read"},
        {"parents27_short_table.xqnl", -103, "SetProbabilities failed"},
        // Cut right after a complete block: the node whose potential was lost is named.
        {"truncated.net", -2, "ERROR: Node (\"B\") : No potential defines it"},
        {"unknown_kind.net", -2, "ERROR: 'chance' : Unknown Node Type"},
        // UTF-16: no "<BIF" to be found among the bytes.
        {"utf16.xml03", -2, "ERROR: [BIF] : Tag Not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        QNL_errorHandler::Instance().Flush();
        QNL_network network;
        EXPECT_EQ(c.code, network.ReadFile(Fixture(c.file).c_str()));
        EXPECT_EQ(c.code, LoggedCode(c.message));
        const int child = network.FindNode("C");
        if (child >= 0) {
            EXPECT_EQ(0, network.GetParents(child).GetCount());
        }
    }
}

// Reading from a path that is no regular file names it in the message (a pipe that nobody
// writes would block the open for good). A write that cannot finish (no folder, a folder in
// the way, a full disk) fails with a message and leaves the old file as it was, no temporary
// beside it, and files that happen to carry a temporary's name untouched.
TEST_F(HostileFiles, PathsThatAreNoRegularFileAndFailedWritesLeaveNothingBehind) {
    QNL_network network;
    ASSERT_EQ(0, network.ReadFile((std::string(QUARN_TEST_DATA_DIR) + "/msbn/alarm.dsc").c_str()));
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 4096) GTEST_SKIP();
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (const std::string extension : {".net", ".dsc", ".xml03", ".xqnl"}) {
        SCOPED_TRACE(extension);
        ASSERT_EQ(0, ::mkfifo((folder / "pipe").c_str(), 0600));
        const fs::path taken = folder / ("taken" + extension), pipe = folder / ("pipe" + extension);
        fs::create_directories(taken / "inside");
        fs::create_symlink(folder / "pipe", pipe);
        for (const fs::path& path : {folder / ("absent" + extension), taken, pipe}) {
            QNL_errorHandler::Instance().Flush();
            QNL_network read;
            EXPECT_EQ(-103, read.ReadFile(path.c_str()));
            EXPECT_EQ(-103, LoggedCode(path.string())) << path;
        }
        QNL_errorHandler::Instance().Flush();
        const std::string target = Put("model" + extension, "old contents");
        Put("model" + extension + ".tmp", "foreign");
        Put("model" + extension + ".tmp0", "foreign");
        for (const fs::path& path : {folder / "none" / ("model" + extension), taken})
            EXPECT_EQ(-103, network.WriteFile(path.c_str())) << path;
        EXPECT_EQ(2, QNL_errorHandler::Instance().GetNumberOfErrors()) << AllMessages();
        rlimit limited = saved;
        limited.rlim_cur = 4096;
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
        const int full = network.WriteFile(target.c_str());
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(-103, full);
        EXPECT_EQ(-103, LoggedCode(target)) << AllMessages();
        EXPECT_EQ("old contents", Get(target));
        EXPECT_EQ("foreignforeign", Get(target + ".tmp") + Get(target + ".tmp0"));
        EXPECT_TRUE(fs::is_directory(taken / "inside"));
        EXPECT_EQ(6, std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    std::signal(SIGXFSZ, previousHandler);
}

TEST_F(HostileFiles, IdentifierOfTenMillionCharactersReadsWhole) {
    const std::string path = Put("long.xqnl", hostile::LongIdentifierXml(10000000));
    QNL_network network;
    ASSERT_EQ(0, network.ReadFile(path.c_str()));
    EXPECT_EQ(0, network.FindNode(std::string(10000000, 'a').c_str()));
}

// Written with a tab per level, 16,000 nested submodels made a gigabyte of indentation (the
// benchmark reads that many; a few thousand show the growth here).
TEST_F(HostileFiles, DeeplyNestedSubmodelsReadAndWriteBackCompactly) {
    const int depth = 3000;
    const std::string text = hostile::NestedSubmodelsXml(depth);
    QNL_network network;
    ASSERT_EQ(0, network.ReadFile(Put("nested.xqnl", text).c_str()));
    ASSERT_EQ(depth + 1, network.GetSubmodelHandler().GetNumberOfSubmodels());
    const std::string copy = (folder / "copy.xqnl").string();
    ASSERT_EQ(0, network.WriteFile(copy.c_str()));
    EXPECT_LT(fs::file_size(copy), 4 * text.size());
    QNL_network back;
    ASSERT_EQ(0, back.ReadFile(copy.c_str()));
    const int a = back.FindNode("A");
    ASSERT_GE(a, 0);
    EXPECT_EQ(back.GetSubmodelHandler().FindSubmodel(("Sub" + std::to_string(depth)).c_str()),
              back.GetNode(a)->GetSubmodel());
}

// A submodel is found by its identifier when read back; the network's is its main submodel's.
TEST_F(HostileFiles, SubmodelIdentifierUsedTwiceIsRefusedBeforeTheFileIsWritten) {
    for (const bool withNetwork : {true, false}) {
        QNL_network network;
        QNL_submodelHandler& submodels = network.GetSubmodelHandler();
        ASSERT_GE(submodels.CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "Sub1"), 0);
        const int second = submodels.CreateSubmodel(QNL_submodelHandler::MAIN_HANDLE, "Sub2");
        ASSERT_GE(second, 0);
        ASSERT_EQ(0, (withNetwork ? *network.GetHeader() : submodels.GetSubmodel(second)->header)
                         .SetId("Sub1"));
        const std::string path = (folder / "clash.xqnl").string();
        EXPECT_EQ(-2, network.WriteFile(path.c_str())) << withNetwork;
        EXPECT_EQ(-2, LoggedCode("'Sub1' names two submodels or a submodel and the network"));
        EXPECT_FALSE(fs::exists(path));
    }
}

} // namespace
