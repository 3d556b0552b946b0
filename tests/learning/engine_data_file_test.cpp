#include "learning/engine_data_file.h"
#include "learning/engine_network.h"
#include "learning/learning_data.h"
#include "model/error_handler.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kFixtures = std::string(QUARN_TEST_DATA_DIR) + "/engine/";

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh folder per test, so side files of one test never meet another.
std::string Folder() {
    return quarn_test::TestFolder();
}

// What the nodes of a network hold, to compare two reads.
struct Snapshot {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> states;
    std::vector<std::vector<int>> discrete;
    std::vector<std::vector<double>> continuous;
    bool incomplete = false;
    bool operator==(const Snapshot& o) const {
        return names == o.names && states == o.states && discrete == o.discrete &&
               continuous == o.continuous && incomplete == o.incomplete;
    }
};

Snapshot Take(const QNL_learnNetwork& net) {
    Snapshot s;
    s.incomplete = net.IsDataIncomplete();
    for (int i = 0; i < net.GetNumberOfNodes(); ++i) {
        const QNL_learnNode& node = *net.GetNode(i);
        s.names.push_back(node.GetName());
        s.states.push_back(node.GetStates());
        s.discrete.push_back(learning_test::CellsOf(node.GetDiscreteData()));
        s.continuous.push_back(learning_test::CellsOf(node.GetContinuousData()));
    }
    return s;
}

int ReadFile(QNL_learnNetwork& net, const std::string& path) {
    QNL_errorHandler::Instance().Flush();
    return net.ReadData(path);
}

// The columns of `data` read without a side file, or through the side file beside it.
Snapshot ReadDirect(const std::string& data, bool names = true) {
    QNL_learnNetwork net;
    net.SetBoolOption("NODE_NAMES_PRESENT", names);
    net.SetBoolOption("DISABLE_PREPROCESS_FILE", true);
    net.SetStringOption("DATA_FILENAME", data);
    EXPECT_EQ(net.ReadDataFile(), 0) << data;
    return Take(net);
}

Snapshot ReadThrough(const std::string& data, bool names = true) {
    QNL_learnNetwork net;
    net.SetBoolOption("NODE_NAMES_PRESENT", names);
    net.SetBoolOption("USE_PREPROCESS_FILE", true);
    net.SetStringOption("PREPROCESS_FILENAME", data + ".vmq");
    net.SetStringOption("DATA_FILENAME", data);
    EXPECT_EQ(net.ReadDataFile(), 0) << data;
    return Take(net);
}

TEST(EngineDataFile, NumberRuleTakesWholeTokensOnly) {
    const struct {
        const char* token;
        bool number;
        double value;
    } cases[] = {
        {"1.5e-3", true, 1.5e-3}, {"-2", true, -2.0},      {"+.5", true, 0.5},
        {"0", true, 0.0},         {"0.0", true, 0.0},      {"5.", true, 5.0},
        {"1D2", true, 100.0},     {"-1e+2", true, -100.0}, {"e5", false, 0},
        {"abc", false, 0},        {"1a", false, 0},        {"1.2.3", false, 0},
        {"1e", false, 0},         {"+", false, 0},         {".", false, 0},
        {"1e5x", false, 0},       {"inf", false, 0},       {"1e999", false, 0},
        {"", false, 0},           {"nan", false, 0},       {"-inf", false, 0},
    };
    for (const auto& c : cases) {
        const std::string token = c.token;
        double value = -7.0;
        EXPECT_EQ(QNL_learnDataFile::ParseNumber(token.data(), token.data() + token.size(), value),
                  c.number)
            << token;
        if (c.number) {
            EXPECT_DOUBLE_EQ(value, c.value) << token;
        }
    }
}

TEST(EngineDataFile, InferredColumnsNamesAndLabels) {
    const std::string folder = Folder();
    // No header: names by position. "1a" and "1b" stay two labels; a numeric column with
    // more values than MAX_NUM_DISC_STATES is continuous unless a label turns up late.
    std::string text;
    for (int r = 0; r < 12; ++r)
        text += std::to_string(r) + " 1" + (r % 2 ? "a" : "b") + " " + std::to_string(r) + "\n";
    text += "* * late\n";
    WriteText(folder + "data.txt", text);
    QNL_learnNetwork net;
    net.SetBoolOption("NODE_NAMES_PRESENT", false);
    ASSERT_EQ(ReadFile(net, folder + "data.txt"), 0);
    const Snapshot s = Take(net);
    EXPECT_EQ(s.names, (std::vector<std::string>{"Column_0", "Column_1", "Column_2"}));
    EXPECT_TRUE(s.states[0].empty());
    EXPECT_EQ(s.continuous[0].size(), 13u);
    EXPECT_EQ(s.states[1], (std::vector<std::string>{"1b", "1a"}));
    EXPECT_EQ(s.states[2].size(), 13u);
    EXPECT_EQ(s.discrete[2][12], 12);
    EXPECT_EQ(s.discrete[1][12], QNL_learnNetwork::MISSING);
}

TEST(EngineDataFile, SideFileMatchesFixtureAndReadsBackTheSameColumns) {
    const std::string folder = Folder();
    const std::string data = folder + "small.txt";
    fs::copy_file(kFixtures + "small.txt", data);
    QNL_learnNetwork direct;
    direct.SetBoolOption("TYPES_SPECIFIED", true);
    ASSERT_EQ(ReadFile(direct, data), 0);
    const Snapshot s = Take(direct);
    EXPECT_EQ(s.names, (std::vector<std::string>{"age", "colour", "weight", "flag"}));
    EXPECT_EQ(s.states[1], (std::vector<std::string>{"red", "blue", "green"}));
    EXPECT_EQ(s.discrete[3], (std::vector<int>{0, 1, 0, 0}));
    const double missing = QNL_learnNetwork::MISSING_CONTINUOUS;
    EXPECT_EQ(s.continuous[2], (std::vector<double>{1.5, missing, 2, -0.25}));
    EXPECT_TRUE(s.incomplete && direct.HasContinuousData());
    std::string name;
    direct.GetStringOption(QNL_learnOption::PREPROCESS_FILENAME, name);
    EXPECT_EQ(name, data + ".vmq");
    std::string expected = ReadText(kFixtures + "small.txt.vmq");
    const std::string line = "<filename>        small.txt\n";
    expected.replace(expected.find(line), line.size(), "<filename>        " + data + "\n");
    EXPECT_EQ(ReadText(data + ".vmq"), expected);

    QNL_learnNetwork through;
    through.SetBoolOption("USE_PREPROCESS_FILE", true);
    through.SetStringOption("PREPROCESS_FILENAME", data + ".vmq");
    QNL_learnDataFile file(through);
    EXPECT_TRUE(file.UsedPreprocessFile());
    ASSERT_EQ(file.Read(0), 0);
    EXPECT_EQ(Take(through), Take(direct));
    // Loaded columns go to the nodes again without the file.
    fs::remove(data);
    through.RemoveAllNodes();
    ASSERT_EQ(file.Read(1), 0);
    EXPECT_EQ(Take(through), Take(direct));
}

TEST(EngineDataFile, SideFileIsACache) {
    const std::string folder = Folder();
    const std::string data = folder + "data.txt";
    WriteText(data, "a b\nx 1\ny 2\n");
    QNL_learnNetwork net;
    // A side file that cannot be written does not fail the read.
    net.SetStringOption("PREPROCESS_SUFFIX", "none/side");
    ASSERT_EQ(ReadFile(net, data), 0);
    EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
    EXPECT_FALSE(fs::exists(data + ".none/side"));
    // Disabled: nothing written.
    QNL_learnNetwork disabled;
    disabled.SetBoolOption("DISABLE_PREPROCESS_FILE", true);
    ASSERT_EQ(ReadFile(disabled, data), 0);
    EXPECT_FALSE(fs::exists(data + ".vmq"));
    // A side file older than its data file, or a broken one, leaves the data to be scanned,
    // even when the new values fit the old side file.
    QNL_learnNetwork first;
    ASSERT_EQ(ReadFile(first, data), 0);
    const std::string stale = ReadText(data + ".vmq");
    WriteText(data, "a b\ny 2\nx 1\n");
    const Snapshot scanned = ReadDirect(data);
    for (const std::string& side : {stale, std::string("<num_records> x\n")}) {
        WriteText(data + ".vmq", side);
        fs::last_write_time(data, fs::last_write_time(data + ".vmq") + std::chrono::seconds(1));
        EXPECT_EQ(ReadThrough(data), scanned);
    }
    EXPECT_EQ(scanned.states[0], (std::vector<std::string>{"y", "x"}));
    // A stale side file of a file with names does not make the rescan look for names.
    WriteText(data, "p 1\nq 2\n");
    WriteText(data + ".vmq", stale);
    const Snapshot unnamed = ReadThrough(data, false);
    EXPECT_EQ(unnamed, ReadDirect(data, false));
    EXPECT_EQ(unnamed.discrete[0].size(), 2u);
}

TEST(EngineDataFile, FuzzFindingsReadAlikeThroughAStaleSideFile) {
    const std::string folder = Folder();
    for (const auto& [name, names] : {std::pair<std::string, bool>{"fuzz_form_feed_name.txt", true},
                                      {"fuzz_long_labels.txt", false},
                                      {"fuzz_stale_side.txt", false}}) {
        const std::string data = folder + name;
        fs::copy_file(kFixtures + name, data);
        // The side file of another data file, naming this one.
        std::string side = ReadText(kFixtures + "small.txt.vmq");
        side.replace(side.find("small.txt\n"), 9, data);
        WriteText(data + ".vmq", side);
        EXPECT_EQ(ReadThrough(data, names), ReadDirect(data, names)) << name;
    }
}

TEST(EngineDataFile, MissingOnlyColumn) {
    const std::string folder = Folder();
    WriteText(folder + "d.txt", "m c\n* 1\n* 2\n");
    QNL_learnNetwork net;
    ASSERT_EQ(ReadFile(net, folder + "d.txt"), 0);
    EXPECT_NE(ReadText(folder + "d.txt.vmq")
                  .find("<var_name>                   m\n<missing-data>               yes\n"
                        "<type>                       discrete-categorical\n"
                        "<num_states>                 0\n"),
              std::string::npos);
    EXPECT_EQ(net.GetNode(0)->GetStates(),
              (std::vector<std::string>{"_unobserved", "_unobserved_1"}));
}

TEST(EngineDataFile, HostileDataFilesFailWithAMessage) {
    const std::string folder = Folder();
    const struct {
        const char* text;
        bool types;
        const char* comment;
    } cases[] = {
        {"a b\n1 2\n3\n", false, "*"},                  // ragged
        {"a b\ncontinuous discrete\nx y\n", true, "*"}, // label in a continuous column
        {"a b\nnumeric discrete\n1 2\n", true, "*"},    // unknown type word
        {"a b\ncontinuous\n1 2\n", true, "*"},          // too few types
        {"", false, "*"},                               // nothing at all
        {"* only a comment\n", false, "*"},             // no names
        {"a\n1\n", false, ""},                          // empty comment character
        {"a b\n\x01\xff 2\n", false, "*"},              // binary
    };
    for (const auto& c : cases) {
        WriteText(folder + "bad.txt", c.text);
        QNL_learnNetwork net;
        net.SetBoolOption("TYPES_SPECIFIED", c.types);
        net.SetStringOption("COMMENT_CHARACTER", c.comment);
        const int result = ReadFile(net, folder + "bad.txt");
        if (std::string(c.text).find('\x01') != std::string::npos) {
            EXPECT_EQ(result, 0); // bytes are labels like any other
            continue;
        }
        EXPECT_EQ(result, -1) << c.text;
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 1) << c.text;
    }
    // Every node keeps rows over all nodes: too many columns are refused before any is made.
    std::string wide;
    for (int c = 0; c < 4097; ++c)
        wide += "1 ";
    WriteText(folder + "wide.txt", wide + "\n");
    QNL_learnNetwork net;
    net.SetBoolOption("NODE_NAMES_PRESENT", false);
    EXPECT_EQ(ReadFile(net, folder + "wide.txt"), -1);
    EXPECT_EQ(net.GetNumberOfNodes(), 0);
    EXPECT_EQ(ReadFile(net, folder + "absent.txt"), -1);
}

TEST(EngineDataFile, HostileSideFilesAreRefused) {
    const std::string folder = Folder();
    const std::string good = ReadText(kFixtures + "small.txt.vmq");
    const std::string cases[] = {
        "",
        "<num_variables> 1\n<filename> d\n<column-info>\n<var_name> a\n<missing-data> no\n"
        "<type> discrete-categorical\n<num_states> 2000000000\n<state-names> x\n",
        "<num_variables> 99999999999\n<filename> d\n<column-info>\n",
        "<num_variables> 1\n<filename> d\n<column-info>\n<var_name> a\n<missing-data> no\n"
        "<type> continuous\n<num_states> 2\n",
        "<num_variables> 1\n<filename> d\n<column-info>\n<var_name> a\n<missing-data> no\n"
        "<type> continuous\n<range> 1 x\n",
        "<unknown> 1\n",
        "<comments>\n no file name follows",
        "<num_records> -3\n",
        good.substr(0, good.size() / 2),
    };
    for (const std::string& text : cases) {
        WriteText(folder + "side.vmq", text);
        QNL_learnNetwork net;
        QNL_learnDataFile file(net);
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(file.ReadPreprocessFile(folder + "side.vmq"), -1) << text;
        EXPECT_EQ(file.GetDataFileName(), "-") << text;
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 1) << text;
    }
}

} // namespace
