#include "learning/dataset.h"

#include "support/network_builder.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace quarn_test;

namespace {

std::string WriteTemp(const std::string& text) {
    static int count = 0;
    const std::string path = quarn_test::TestFile("data_" + std::to_string(count++) + ".txt");
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Reads the text; "" on success, the message otherwise.
std::string Read(QNL_dataset& data, const std::string& text,
                 const QNL_missingValueSpec* spec = nullptr) {
    const std::string path = WriteTemp(text);
    std::string error;
    const bool ok = data.readFile(path, spec, &error);
    std::remove(path.c_str());
    EXPECT_EQ(ok, error.empty());
    return error;
}

std::vector<int> Ints(const QNL_dataset& data, int v) {
    std::vector<int> out;
    for (int r = 0; r < data.getNumberOfRecords(); ++r)
        out.push_back(data.getCell(v, r).i);
    return out;
}

TEST(DataSetReader, RefusesMalformedFilesWithTheirMessages) {
    const struct {
        std::string text, message;
    } cases[] = {
        {"", "Can't read first line of file"},
        {"a,b,\n1,2\n", "Trailing separator found in header line"},
        {"\n1\n", "Trailing separator found in header line"},
        {"a,,b\n", "Column name 2 is empty"},
        {"a,b,a\n", "Duplicated column name: a"},
        {"a,b\n1,2\n1,2,\n", "Line 3: expected 2 columns of data but found 3"},
        {"a,b\n1,2\n\n3,4\n", "Line 3: expected 2 columns of data but found 1"},
        {"a b\n1\n", "Line 2: expected 2 columns of data but found 1"},
        {std::string(128, 'x') + "\n1\n", ""},
        {"a b\n1 2 \n", ""},
        // Lines of 100,000 characters.
        {std::string(100000, 'x') + "\n",
         "First line has more than 128 characters and no separators were found"},
        {"a,b\n" + std::string(99999, ',') + "\n",
         "Line 2: expected 2 columns of data but found 100000"},
        {"a\n" + std::string(100000, 'x') + "\n" + std::string(100000, 'x'), ""},
    };
    for (const auto& c : cases) {
        QNL_dataset data;
        EXPECT_EQ(Read(data, c.text), c.message) << c.text.substr(0, 40);
    }
}

TEST(DataSetReader, HostileOrMissingFilesEndWithTheirMessages) {
    const struct {
        const char* file;
        std::string message;
        int records;
    } fixtures[] = {
        {"truncated.txt", "Line 3: expected 3 columns of data but found 2", 0},
        {"ragged.txt", "Line 3: expected 2 columns of data but found 1", 0},
        {"binary.dat", "First line has more than 128 characters and no separators were found", 0},
        {"nul_bytes.txt", "", 2},
    };
    for (const auto& f : fixtures) {
        QNL_dataset data;
        std::string error;
        data.readFile(std::string(QUARN_TEST_DATA_DIR) + "/datasets/" + f.file, nullptr, &error);
        EXPECT_EQ(error, f.message) << f.file;
        if (error.empty()) {
            EXPECT_EQ(data.getNumberOfRecords(), f.records) << f.file;
        }
    }
    QNL_errorHandler::Instance().Flush();
    QNL_dataset data;
    EXPECT_FALSE(data.readFile("/nonexistent/quarn.txt"));
    ASSERT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 1);
    EXPECT_EQ(QNL_errorHandler::Instance().GetCode(0), -100);
    EXPECT_STREQ(QNL_errorHandler::Instance().GetMessage(0),
                 "Can't open data file: /nonexistent/quarn.txt");
    QNL_errorHandler::Instance().Flush();
}

TEST(DataSetReader, SeparatorIsTheFirstOfTabCommaSemicolonSpace) {
    const struct {
        std::string header;
        std::vector<std::string> ids;
    } cases[] = {
        {"a,b;c", {"a", "b;c"}}, {"a;b c", {"a", "b c"}}, {"a b\tc", {"a b", "c"}},
        {"a  ,b", {"a  ", "b"}}, {"a, b", {"a", "b"}},
    };
    for (const auto& c : cases) {
        QNL_dataset data;
        ASSERT_EQ(Read(data, c.header + "\n"), "") << c.header;
        std::vector<std::string> ids;
        for (int v = 0; v < data.getNumberOfVariables(); ++v)
            ids.push_back(data.getVariableId(v));
        EXPECT_EQ(ids, c.ids) << c.header;
    }
}

TEST(DataSetReader, ColumnsTurnFromIntegerToFloatToNamed) {
    QNL_dataset data;
    // LF, CRLF and bare CR line ends in one file; "12 " is the number 12.
    ASSERT_EQ(Read(data, "i,f,n,s,m,t\r\n1,1,1,b,*,10\r2,2.5,x,a,2,2\n3,*,*,b,x,x\n12 ,*,2,*,*,*"),
              "");
    ASSERT_EQ(data.getNumberOfRecords(), 4);
    EXPECT_TRUE(data.isDiscrete(0));
    EXPECT_EQ(Ints(data, 0), (std::vector<int>{1, 2, 3, 12}));
    EXPECT_TRUE(data.getStateNames(0).empty());

    EXPECT_FALSE(data.isDiscrete(1));
    EXPECT_EQ(data.getCell(1, 0).f, 1.0f);
    EXPECT_EQ(data.getCell(1, 1).f, 2.5f);
    EXPECT_TRUE(data.isMissing(1, 2));

    EXPECT_EQ(data.getStateNames(2), (std::vector<std::string>{"1", "2", "x"}));
    EXPECT_EQ(Ints(data, 2), (std::vector<int>{0, 2, -1, 1}));
    EXPECT_EQ(data.getStateNames(3), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Ints(data, 3), (std::vector<int>{1, 0, 1, -1}));
    // A missing cell stays missing when the column turns into a named one.
    EXPECT_EQ(Ints(data, 4), (std::vector<int>{-1, 0, 1, -1}));
    // Numbers that became names sort as text.
    EXPECT_EQ(data.getStateNames(5), (std::vector<std::string>{"10", "2", "x"}));
    EXPECT_EQ(Ints(data, 5), (std::vector<int>{0, 1, 2, -1}));
}

TEST(DataSetReader, CallersTokenAndMissingValuesAreUsed) {
    QNL_missingValueSpec spec;
    spec.token = "NA";
    spec.intMissing = -7;
    spec.floatMissing = -0.5f;
    QNL_dataset data;
    ASSERT_EQ(Read(data, "a,b,c\nNA,1.5,NA\n*,NA,x\n", &spec), "");
    EXPECT_EQ(data.getStateNames(0), (std::vector<std::string>{"*"}));
    EXPECT_EQ(Ints(data, 0), (std::vector<int>{-1, 0}));
    EXPECT_EQ(data.getCell(1, 1).f, -0.5f);
    EXPECT_EQ(Ints(data, 2), (std::vector<int>{-1, 0}));
}

TEST(DataSet, VariablesAndRecordsKeepColumnsEqual) {
    QNL_dataset data;
    ASSERT_TRUE(data.addIntVariable("a", nullptr, -1));
    EXPECT_FALSE(data.addFloatVariable("a", nullptr, 0.0f));
    ASSERT_TRUE(data.addRecord({QNL_IntCell(3)}));
    EXPECT_FALSE(data.addRecord({}));
    EXPECT_EQ(data.getNumberOfRecords(), 1);
    // Earlier records did not observe a variable added later.
    ASSERT_TRUE(data.addFloatVariable("b", nullptr, -2.0f));
    EXPECT_EQ(data.getCell(1, 0).f, -2.0f);
    const std::vector<QNL_datasetCell> two{QNL_IntCell(1), QNL_IntCell(2)};
    EXPECT_FALSE(data.addIntVariable("c", &two, -1));
    QNL_dataset fresh;
    ASSERT_TRUE(fresh.addIntVariable("c", &two, -1));
    EXPECT_EQ(fresh.getNumberOfRecords(), 2);
    EXPECT_EQ(data.findVariable("b"), 1);
    EXPECT_EQ(data.findVariable("z"), -1);
}

class DataSetMatch : public NetworkFixture {
protected:
    void SetUp() override {
        NetworkFixture::SetUp();
        const int a = Add(QNL_TYPE_CPT, "A");
        ASSERT_EQ(Def(a)->SetNumberOfOutcomes(StringsOf({"yes", "no"})), 0);
        Add(QNL_TYPE_CPT, "B");
        ASSERT_EQ(Read(data, "A,B\nno,7\nyes,8\n*,9\n"), "");
    }
    QNL_dataset data;
};

TEST_F(DataSetMatch, MapsStateNamesToOutcomesOnceAndAgainFromTheStates) {
    std::string error;
    ASSERT_TRUE(data.matchNetwork(net, error)) << error;
    EXPECT_EQ(Ints(data, 0), (std::vector<int>{1, 0, -1}));
    EXPECT_EQ(Ints(data, 1), (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(data.getNodeHandle(0), net.FindNode("A"));
    ASSERT_TRUE(data.matchNetwork(net, error));
    EXPECT_EQ(Ints(data, 0), (std::vector<int>{1, 0, -1}));
    // After reordering the node's outcomes a new match follows the new order.
    ASSERT_EQ(Def(net.FindNode("A"))->SetNumberOfOutcomes(StringsOf({"no", "yes"})), 0);
    ASSERT_TRUE(data.matchNetwork(net, error));
    EXPECT_EQ(Ints(data, 0), (std::vector<int>{0, 1, -1}));
}

TEST_F(DataSetMatch, FailedMatchChangesNothing) {
    const struct {
        std::vector<std::string> names;
        int cell;
        std::string message;
    } cases[] = {
        {{"no", "maybe"},
         0,
         "Dataset column 'A' contains value 'maybe' which doesn't map to any node outcome"},
        {{"no", "yes"},
         5,
         "Dataset column 'A' holds 5 in record 2, which is not one of its states"},
    };
    for (const auto& c : cases) {
        QNL_dataset copy = data;
        ASSERT_TRUE(copy.setStateNames(0, c.names));
        copy.setCell(0, 2, QNL_IntCell(c.cell));
        const std::vector<int> before = Ints(copy, 0);
        std::string error;
        EXPECT_FALSE(copy.matchNetwork(net, error));
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(Ints(copy, 0), before);
        EXPECT_EQ(copy.getNodeHandle(0), -1);
    }
    ASSERT_TRUE(data.addIntVariable("C", nullptr, -1));
    std::string error;
    EXPECT_FALSE(data.matchNetwork(net, error));
    EXPECT_EQ(error, "Dataset column 'C' doesn't match the network");
    EXPECT_EQ(data.getNodeHandle(0), -1);
}

} // namespace
