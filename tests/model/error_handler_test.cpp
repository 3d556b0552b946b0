#include "model/error_handler.h"
#include "model/object.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ErrorHandler : public ::testing::Test {
protected:
    void SetUp() override { log().Flush(); }
    void TearDown() override { log().Flush(); }
    static QNL_errorHandler& log() { return QNL_errorHandler::Instance(); }
};

TEST_F(ErrorHandler, CodeZeroIsNeverLogged) {
    EXPECT_EQ(log().LogError(0, "nothing happened"), 0);
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
}

TEST_F(ErrorHandler, MissingMessageTakesTheCodesName) {
    EXPECT_EQ(log().LogError(-2), -2);
    EXPECT_EQ(log().LogError(-567), -567);
    EXPECT_EQ(log().LogError(-7), -7);
    EXPECT_EQ(log().LogError(5), 5);
    EXPECT_EQ(log().LogError(-1000, nullptr, "node x: "), -1000);
    ASSERT_EQ(log().GetNumberOfErrors(), 5);
    EXPECT_STREQ(log().GetMessage(0), "OUT OF RANGE");
    EXPECT_STREQ(log().GetMessage(1), "NO ERROR");
    EXPECT_STREQ(log().GetMessage(2), "UNKNOWN ERROR CODE");
    EXPECT_STREQ(log().GetMessage(3), "UNKNOWN ERROR CODE");
    EXPECT_STREQ(log().GetMessage(4), "node x: INVALID IDENTIFIER");
    EXPECT_EQ(log().GetCode(3), 5);
}

TEST_F(ErrorHandler, NamesCoverEveryNamedCode) {
    EXPECT_STREQ(ErrorName(-32), "DUPLICATED IDENTIFIER");
    EXPECT_STREQ(ErrorName(-42), "OUT OF MEMORY");
    EXPECT_STREQ(ErrorName(-51), "WRONG NODE TYPE");
    EXPECT_STREQ(ErrorName(-103), "FILE I/O FAILED");
    EXPECT_STREQ(ErrorName(-111), "NO MORE TOKENS");
    EXPECT_STREQ(ErrorName(-126), "LEXICAL ERROR. CHARACTER UNKNOWN");
    EXPECT_STREQ(ErrorName(-128), "UNEXPECTED END OF FILE");
    for (int code : {0, -1, -3, -4, -5, -17, -19, -24, -30, -50, -100, -127, -568})
        EXPECT_STREQ(ErrorName(code), "NO ERROR") << code;
    EXPECT_STREQ(ErrorName(-26), "UNKNOWN ERROR CODE");
}

TEST_F(ErrorHandler, PrefixIsJoinedWithoutSeparatorAndIndicesAreChecked) {
    log().LogError(-2, "b", "a:");
    log().LogError(-2, "plain", nullptr);
    EXPECT_STREQ(log().GetMessage(0), "a:b");
    EXPECT_STREQ(log().GetMessage(1), "plain");
    EXPECT_EQ(log().GetMessage(2), nullptr);
    EXPECT_EQ(log().GetMessage(-1), nullptr);
    log().Flush();
    EXPECT_EQ(log().GetNumberOfErrors(), 0);
    EXPECT_EQ(log().GetMessage(0), nullptr);
}

TEST_F(ErrorHandler, OverlongTextIsCutNotOverflowed) {
    const std::string prefix(1500, 'p');
    const std::string message(1500, 'm');
    EXPECT_EQ(log().LogError(-103, message.c_str(), prefix.c_str()), -103);
    const std::string stored = log().GetMessage(0);
    ASSERT_EQ(stored.size(), QNL_errorHandler::MAX_MESSAGE_LENGTH);
    EXPECT_EQ(stored.substr(0, 1500), prefix);
    EXPECT_EQ(stored.back(), 'm');
}

TEST(Object, RootOperationsSetTheirStatusBits) {
    QNL_object object;
    EXPECT_EQ(object.GetStatus(), 3);
    EXPECT_TRUE(object.IsValid());
    EXPECT_TRUE(object.IsReady());
}

} // namespace
