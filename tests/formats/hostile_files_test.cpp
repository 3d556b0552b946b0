// Small bad files must be refused with their code and a message that names what is wrong, or
// read to the sound result. What they cost in time and memory is measured by
// bench/hostile_files_bench (scripts/hostile-files.sh), not here.

#include "formats/format_test_support.h"
#include "model/submodel.h"
#include "support/hostile_files.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using format_test::AllMessages;
using format_test::TempFolder;

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
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }
    TempFolder folder{"hostile"};
};

TEST_F(HostileFiles, EachIsRefusedWithTheCodeItLogsAndANamedReason) {
    const char* const tooLarge = "Matrix too large: the table of node 'C' would hold more than";
    const struct {
        const char* file;
        int code;
        const char* message;
        int loggedCode = 0; // the code the message is logged with, when it is not `code`
    } cases[] = {
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
        // The same through the temporal parents of a plate node.
        {"temporal_parents28.xqnl", -103, tooLarge},
        {"temporal_parents27_short_table.xqnl", -103, "SetProbabilities failed"},
        // Cut right after a complete block: the node whose potential was lost is named.
        {"truncated.net", -2, "ERROR: Node (\"B\") : No potential defines it"},
        {"unknown_kind.net", -2, "ERROR: 'chance' : Unknown Node Type"},
        // UTF-16: no "<BIF" to be found among the bytes; the read ends where the input does.
        {"utf16.xml03", -111, "ERROR: [BIF] : Tag Not found", -2},
        // Noisy-MAX nodes of 400 states: the fourth parent is refused from the outcome
        // counts, without expanding the three-parent table of 2^27 cells first.
        {"noisy_400_states.erg", -42, "would hold 51200000000 cells, more than 268435456"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        QNL_errorHandler::Instance().Flush();
        QNL_network network;
        EXPECT_EQ(c.code, network.ReadFile(
                              (std::string(QUARN_TEST_DATA_DIR) + "/hostile/" + c.file).c_str()));
        EXPECT_EQ(c.loggedCode != 0 ? c.loggedCode : c.code, LoggedCode(c.message));
        const int child = network.FindNode("C");
        EXPECT_EQ(0, child >= 0 ? network.GetParents(child).GetCount() : 0);
    }
}

// The inputs the fuzzer found: Netica ones fail, QNL ones fail or read; a failure logs its code.
TEST_F(HostileFiles, FuzzerFindingsFailWithTheirCodeLogged) {
    for (const std::string folder : {"netica", "qnl"})
        for (const auto& entry :
             fs::directory_iterator(std::string(QUARN_TEST_DATA_DIR) + "/" + folder)) {
            QNL_errorHandler::Instance().Flush();
            QNL_network network;
            const int result = network.ReadFile(entry.path().c_str());
            EXPECT_TRUE(result < 0 || (result == 0 && folder == "qnl")) << entry.path();
            EXPECT_TRUE(result == 0 || !format_test::LoggedMessages(result).empty())
                << entry.path();
        }
}

// Reading from a path that is no regular file names it in the message (a pipe that nobody
// writes would block the open for good). A write that cannot finish (no folder, a folder in
// the way, a full disk) fails with a message and leaves the old file as it was, no temporary
// beside it, and files that happen to carry a temporary's name untouched.
TEST_F(HostileFiles, PathsThatAreNoRegularFileAndFailedWritesLeaveNothingBehind) {
    QNL_network network;
    ASSERT_EQ(0, network.ReadFile(
                     (std::string(QUARN_TEST_DATA_DIR) + "/networks/dsc/alarm.dsc").c_str()));
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 4096) GTEST_SKIP();
    const rlimit limited{4096, saved.rlim_max};
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (const std::string extension : {".net", ".dsc", ".xml03", ".xqnl"}) {
        SCOPED_TRACE(extension);
        const std::string name = extension.substr(1) + "/model" + extension;
        const fs::path dir = folder.File(extension.substr(1)), taken = dir / ("taken" + extension);
        fs::create_directories(taken / "inside");
        ASSERT_EQ(0, ::mkfifo((dir / "pipe").c_str(), 0600));
        fs::create_symlink(dir / "pipe", dir / ("pipe" + extension));
        for (const fs::path& path :
             {dir / ("absent" + extension), taken, dir / ("pipe" + extension)}) {
            QNL_errorHandler::Instance().Flush();
            QNL_network read;
            EXPECT_EQ(-103, read.ReadFile(path.c_str()));
            EXPECT_EQ(-103, LoggedCode(path.string())) << path;
        }
        QNL_errorHandler::Instance().Flush();
        const std::string target = folder.Put(name, "old contents");
        folder.Put(name + ".tmp", "foreign");
        folder.Put(name + ".tmp0", "foreign");
        for (const fs::path& path : {dir / "none" / ("model" + extension), taken})
            EXPECT_EQ(-103, network.WriteFile(path.c_str())) << path;
        EXPECT_EQ(2, QNL_errorHandler::Instance().GetNumberOfErrors()) << AllMessages();
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
        const int full = network.WriteFile(target.c_str());
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(-103, full);
        EXPECT_EQ(-103, LoggedCode(target)) << AllMessages();
        EXPECT_EQ("old contents", TempFolder::Get(target));
        EXPECT_EQ("foreignforeign",
                  TempFolder::Get(target + ".tmp") + TempFolder::Get(target + ".tmp0"));
        EXPECT_TRUE(fs::is_directory(taken / "inside"));
        EXPECT_EQ(6, std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }
    std::signal(SIGXFSZ, previousHandler);
}

// An identifier of ten million characters reads whole. Written with a tab per level, 16,000
// nested submodels made a gigabyte of indentation (the benchmark reads that many; a few
// thousand show the growth here).
TEST_F(HostileFiles, LongIdentifierAndDeeplyNestedSubmodelsReadAndWriteBackCompactly) {
    const int depth = 3000;
    const std::string text = hostile::NestedSubmodelsXml(depth), copy = folder.File("copy.xqnl");
    QNL_network network, back, longest;
    ASSERT_EQ(
        0, longest.ReadFile(folder.Put("long.xqnl", hostile::LongIdentifierXml(10000000)).c_str()));
    EXPECT_EQ(0, longest.FindNode(std::string(10000000, 'a').c_str()));
    ASSERT_EQ(0, network.ReadFile(folder.Put("nested.xqnl", text).c_str()));
    ASSERT_EQ(depth + 1, network.GetSubmodelHandler().GetNumberOfSubmodels());
    ASSERT_EQ(0, network.WriteFile(copy.c_str()));
    EXPECT_LT(fs::file_size(copy), 4 * text.size());
    ASSERT_EQ(0, back.ReadFile(copy.c_str()));
    ASSERT_GE(back.FindNode("A"), 0);
    EXPECT_EQ(back.GetSubmodelHandler().FindSubmodel(("Sub" + std::to_string(depth)).c_str()),
              back.GetNode(back.FindNode("A"))->GetSubmodel());
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
        const std::string path = folder.File("clash.xqnl");
        EXPECT_EQ(-2, network.WriteFile(path.c_str())) << withNetwork;
        EXPECT_EQ(-2, LoggedCode("'Sub1' names two submodels or a submodel and the network"));
        EXPECT_FALSE(fs::exists(path));
    }
}

} // namespace
