#include "formats/format.h"
#include "model/case_library.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/submodel.h"
#include "support/temp_folder.h"
#include "support/test_definition.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

using quarn_test::AddNode;

// What the mock format objects saw; reset by the fixture.
struct MockRecord {
    int created = 0, destroyed = 0, reads = 0, writes = 0, lastCode = 0, flags = 0;
    int setFlagsCalls = 0, maskDuringRead = -1, modeDuringRead = -1, maskAtDestruction = -1;
    std::string path;
    // Answers and behaviour on demand.
    bool duplicates = false, skipCycleCheck = false;
    int readResult = 0, writeResult = 0;
    std::function<void(QNL_network&)> duringRead;
};

MockRecord& Record() {
    static MockRecord record;
    return record;
}

class MockFormat : public QNL_textParser {
public:
    MockFormat(QNL_network* network, int code) : QNL_textParser(network) {
        ++Record().created;
        Record().lastCode = code;
    }
    ~MockFormat() override {
        ++Record().destroyed;
        Record().maskAtDestruction = GetNetwork()->GetNotificationMask();
    }

    int Read(const char* path) override {
        MockRecord& record = Record();
        ++record.reads;
        record.path = path;
        record.maskDuringRead = GetNetwork()->GetNotificationMask();
        record.modeDuringRead = GetNetwork()->GetReadingMode();
        if (record.duringRead) record.duringRead(*GetNetwork());
        return record.readResult;
    }
    // Really creates the file, so a refused write can be told by its absence.
    int Write(const char* path) override {
        ++Record().writes;
        Record().path = path;
        std::ofstream(path) << "written\n";
        return Record().writeResult;
    }
    bool AllowsDuplicateIds() override { return Record().duplicates; }
    bool SkipsCycleCheck() override { return Record().skipCycleCheck; }
    void SetFlags(int flags) override {
        ++Record().setFlagsCalls;
        Record().flags = flags;
    }
};

template <int Code> QNL_textParser* CreateMock(QNL_network* network) {
    return new MockFormat(network, Code);
}

constexpr quarn::detail::FormatCreator MOCKS[] = {
    nullptr,       CreateMock<1>, CreateMock<2>, CreateMock<3>, CreateMock<4>,
    CreateMock<5>, CreateMock<6>, CreateMock<7>, CreateMock<8>,
};

bool FileExists(const std::string& path) {
    return std::ifstream(path).good();
}

bool Logged(int code, const std::string& message) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (log.GetCode(i) == code && message == log.GetMessage(i)) return true;
    return false;
}

class NetworkFiles : public ::testing::Test {
protected:
    void SetUp() override {
        QNL_errorHandler::Instance().Flush();
        Record() = MockRecord();
        for (int code = 1; code <= 8; ++code)
            previous[code] = quarn::detail::RegisterFormat(code, MOCKS[code]);
    }
    void TearDown() override {
        for (int code = 1; code <= 8; ++code)
            quarn::detail::RegisterFormat(code, previous[code]);
        Record() = MockRecord();
        QNL_errorHandler::Instance().Flush();
        for (const std::string& path : written)
            std::remove(path.c_str());
    }

    std::string TempPath(const std::string& name) {
        std::string path = quarn_test::TestFile("network_files_" + name);
        std::remove(path.c_str());
        written.push_back(path);
        return path;
    }

    quarn_test::ScopedTestDefinitions definitions;
    QNL_network net;
    quarn::detail::FormatCreator previous[9] = {};
    std::vector<std::string> written;
};

// What a read may not inherit from the model it replaces.
std::vector<std::string> Take(QNL_network& network) {
    const char* comment = network.GetHeader()->GetComment();
    const char* id = network.GetHeader()->GetId();
    const char* name = network.GetHeader()->GetName();
    std::string counts;
    for (int n : {network.GetNumberOfNodes(), network.GetNumberOfTargets(),
                  network.GetUserProperties().GetNumberOfProperties(),
                  network.GetDocumentation().GetNumberOfDocuments(), network.GetNumberOfCases(),
                  network.GetNumberOfSamples(), network.GetSubmodelHandler().GetNumberOfSubmodels(),
                  network.GetFirstNode(), network.GetFaultNameFormat()})
        counts += std::to_string(n) + " ";
    return {counts, network.GetCreation().creator, id ? id : "", name ? name : "",
            comment ? comment : ""};
}

TEST(FileFormatFromExtension, MapsTheLastExtensionIgnoringCase) {
    struct Case {
        const char* name;
        int code;
    } cases[] = {
        {"model.erg", 1},      {"model.dne", 2},   {"model.dsc", 3},    {"model.qnl", 4},
        {"model.net", 5},      {"model.xml03", 6}, {"model.dxp", 7},    {"model.xqnl", 8},
        {"model.qqnl", 8},     {"MODEL.XQNL", 8},  {"m.QqNl", 8},       {"a.b.net", 5},
        {"dir.v2/m.Dne", 2},   {".qnl", 4},        {"model", -2},       {"model.", -2},
        {"model.qnl.bak", -2}, {"model.xml", -2},  {"model.xqnlx", -2}, {"model.qn", -2},
        {"dir.qnl/model", -2}, {"", -2},
    };
    QNL_errorHandler::Instance().Flush();
    for (const Case& c : cases)
        EXPECT_EQ(FileFormatFromExtension(c.name), c.code) << c.name;
    EXPECT_EQ(FileFormatFromExtension(nullptr), -2);
    EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
}

// An unknown format (by extension, by code, or a code whose class is not registered) is
// refused before the network is touched; code zero takes the extension's code.
TEST_F(NetworkFiles, UnknownFormatIsRefusedBeforeTheNetworkIsTouched) {
    AddNode(net, "keep");
    for (int given : {0, 5}) {
        int code = given;
        ASSERT_NE(net.CreateFormat("a.b.DNE", code), nullptr);
        EXPECT_EQ(std::make_pair(code, Record().lastCode), std::make_pair(given ? given : 2, code));
    }
    int code = 0;
    EXPECT_EQ(net.CreateFormat("model", code), nullptr);
    EXPECT_EQ(code, -2);
    EXPECT_TRUE(Logged(-2, "Unknown File Format"));
    const std::pair<const char*, int> reads[] = {
        {"model", 0}, {"model.txt", 0}, {"model.qnl", 9}, {"model.qnl", -1}, {nullptr, 0}};
    for (const auto& [path, format] : reads)
        EXPECT_EQ(net.ReadFile(path, format), -2) << (path ? path : "null") << " " << format;
    EXPECT_EQ(net.WriteFile(TempPath("unknown.txt").c_str(), 0), -2);
    EXPECT_EQ(net.WriteFile(TempPath("unknown.qnl").c_str(), 9), -2);
    quarn::detail::RegisterFormat(3, nullptr);
    QNL_errorHandler::Instance().Flush();
    EXPECT_EQ(net.ReadFile("model.dsc", 0), -2);
    EXPECT_TRUE(Logged(-2, "Unknown File Format"));
    EXPECT_FALSE(FileExists(written[0]) || FileExists(written[1]));
    EXPECT_EQ(Record().created, 2);
    EXPECT_EQ(Record().destroyed, 2);
    EXPECT_EQ(net.FindNode("keep"), 0);
}

// Whatever the read's outcome, the mask is zero during it and restored after, after the
// format is gone; a failed read keeps what was read; an exception becomes out of memory.
TEST_F(NetworkFiles, ReadMasksNotificationsAndRestoresMaskAndModeWhateverTheOutcome) {
    net.SetNotificationMask(463);
    const std::function<void(QNL_network&)> reads[] = {
        nullptr, [](QNL_network& network) { AddNode(network, "partial"); },
        [](QNL_network&) { throw std::bad_alloc(); }};
    const int results[] = {0, -127, -42};
    for (int i = 0; i < 3; ++i) {
        Record().readResult = i == 0 ? 0 : -127;
        Record().duringRead = reads[i];
        EXPECT_EQ(net.ReadFile("model.qnl", 0), results[i]);
        EXPECT_EQ(Record().maskDuringRead, 0);
        EXPECT_EQ(Record().modeDuringRead, QNL_network::READING);
        EXPECT_TRUE(i == 2 || Record().maskAtDestruction == 0) << "format gone before mask";
        EXPECT_EQ(std::make_pair(net.GetNotificationMask(), net.GetReadingMode()),
                  std::make_pair(463, 0));
        EXPECT_EQ(Record().destroyed, i + 1);
        EXPECT_EQ(net.FindNode("partial"), i == 1 ? 0 : -2);
    }
    EXPECT_EQ(Record().path, "model.qnl");
    // The format's answers set the reading mode; flags reach it only when non-zero.
    Record() = MockRecord();
    Record().skipCycleCheck = true;
    ASSERT_EQ(net.ReadFile("model.net", 0), 0);
    EXPECT_EQ(Record().modeDuringRead, QNL_network::READING | QNL_network::READING_NO_CYCLE_TEST);
    EXPECT_EQ(Record().setFlagsCalls, 0);
    Record().duplicates = true;
    Record().duringRead = [](QNL_network& network) {
        EXPECT_GE(network.AddNode(QNL_TYPE_CPT, "twice"), 0);
        EXPECT_GE(network.AddNode(QNL_TYPE_CPT, "twice"), 0);
    };
    ASSERT_EQ(net.ReadFile("model.xqnl", 0, 6), 0);
    EXPECT_EQ(std::make_pair(Record().modeDuringRead, Record().flags), std::make_pair(7, 6));
    EXPECT_LT(net.AddNode(QNL_TYPE_CPT, "twice"), 0) << "refused again outside a read";
    ASSERT_EQ(net.WriteFile(TempPath("flags.xqnl").c_str(), 0, 3), 0);
    EXPECT_EQ(std::make_pair(Record().setFlagsCalls, Record().flags), std::make_pair(2, 3));
}

TEST_F(NetworkFiles, ReadingStartsFromAnEmptyModelButKeepsTheSettings) {
    const int a = AddNode(net, "a");
    const int b = AddNode(net, "b");
    ASSERT_EQ(net.AddArc(a, b), 0);
    ASSERT_EQ(net.SetTarget(b), 0);
    for (int i = 0; i < 60; ++i)
        AddNode(net, ("n" + std::to_string(i)).c_str());
    const int tableSize = net.GetTableSize();
    net.GetHeader()->SetId("Previous");
    net.GetHeader()->SetName("Previous model");
    net.GetHeader()->SetComment("old comment");
    net.GetUserProperties().AddProperty("key", "value");
    net.GetDocumentation().AddDocument("manual", "manual.pdf");
    ASSERT_NE(net.AddCase("old case"), nullptr);
    ASSERT_GE(net.GetSubmodelHandler().CreateSubmodel(QNL_network::SUBMODEL_FLAG, "Box"), 0);
    net.SetNumberOfSamples(300);
    net.GetCreation().creator = "someone";
    ASSERT_EQ(net.SetFaultNameFormat(2), 0);
    QNL_episParams params;
    params.proplen = 9;
    ASSERT_EQ(net.SetEpisParams(params), 0);

    QNL_network fresh;
    const std::vector<std::string> expected = Take(fresh);
    std::vector<std::string> seen = Take(net);
    ASSERT_NE(seen, expected);
    Record().duringRead = [&seen](QNL_network& network) {
        seen = Take(network);
        AddNode(network, "fresh");
    };
    ASSERT_EQ(net.ReadFile("model.qnl", 0), 0);
    EXPECT_EQ(seen, expected);

    // The slot table and the parameter blocks stay; the read starts in slot 0 again.
    EXPECT_EQ(net.GetTableSize(), tableSize);
    EXPECT_EQ(net.FindNode("fresh"), 0);
    EXPECT_EQ(net.GetParents(0).GetCount(), 0);
    EXPECT_FALSE(net.IsTarget(0));
    EXPECT_EQ(net.GetEpisParams(), params);
}

TEST_F(NetworkFiles, SuccessfulReadReportsANodeThatIsNotReadyButSucceeds) {
    Record().duringRead = [](QNL_network& network) {
        quarn_test::SetTable(network, AddNode(network, "unfinished"), {0.2, 0.2});
    };
    EXPECT_EQ(net.ReadFile("model.qnl", 0), 0);
    EXPECT_TRUE(Logged(-568, "ERROR: Node [unfinished] is not consistent. Inference may not be "
                             "correct"));
    EXPECT_FALSE(net.IsReady());
}

// Writing returns the format's result and leaves the network alone; KI is read-only, and a
// refused write touches no file.
TEST_F(NetworkFiles, WritesReturnTheFormatsResultAndKiIsReadOnly) {
    AddNode(net, "kept");
    const std::string path = TempPath("model.net");
    ASSERT_EQ(net.WriteFile(path.c_str(), 0), 0);
    EXPECT_EQ(std::make_pair(Record().lastCode, Record().path), std::make_pair(5, path));
    Record().writeResult = -103;
    EXPECT_EQ(net.WriteFile(path.c_str(), 2), -103);
    EXPECT_EQ(Record().lastCode, 2);
    EXPECT_EQ((std::vector<int>{Record().writes, Record().reads, Record().destroyed}),
              (std::vector<int>{2, 0, 2}));
    EXPECT_EQ(net.FindNode("kept"), 0);
    EXPECT_EQ(net.GetNotificationMask(), 463);

    QNL_errorHandler::Instance().Flush();
    Record().writeResult = 0;
    const std::string explicitCode = TempPath("explicit.qnl"), byExtension = TempPath("m.DXP");
    EXPECT_EQ(net.WriteFile(explicitCode.c_str(), 7), -2);
    EXPECT_EQ(net.WriteFile(byExtension.c_str(), 0), -2);
    EXPECT_TRUE(Logged(-2, "Writing to KI file format not supported."));
    EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 2);
    EXPECT_EQ(Record().created, 2);
    EXPECT_FALSE(FileExists(explicitCode) || FileExists(byExtension));
    // Reading KI is allowed, and an explicit other code writes a ".dxp" name in that format.
    EXPECT_EQ(net.ReadFile("model.dxp", 0), 0);
    EXPECT_EQ(Record().lastCode, 7);
    const std::string otherFormat = TempPath("other.dxp");
    EXPECT_EQ(net.WriteFile(otherFormat.c_str(), 4), 0);
    EXPECT_EQ(Record().lastCode, 4);
    EXPECT_TRUE(FileExists(otherFormat));
}

} // namespace
