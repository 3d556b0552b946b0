#include "model/error_handler.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Callers print these names for codes logged without a message; a prefix is joined without
// a separator; an overlong text is cut, not overflowed.
TEST(ErrorHandler, MessagesNamesPrefixesAndLength) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    log.Flush();
    // clang-format off
    const std::pair<int, const char*> names[] = {
        {-2, "OUT OF RANGE"},                       {-32, "DUPLICATED IDENTIFIER"},
        {-42, "OUT OF MEMORY"},                     {-51, "WRONG NODE TYPE"},
        {-103, "FILE I/O FAILED"},                  {-111, "NO MORE TOKENS"},
        {-126, "LEXICAL ERROR. CHARACTER UNKNOWN"}, {-128, "UNEXPECTED END OF FILE"},
        {-1000, "INVALID IDENTIFIER"},              {-26, "UNKNOWN ERROR CODE"},
        {-7, "UNKNOWN ERROR CODE"},                 {5, "UNKNOWN ERROR CODE"},
    };
    // clang-format on
    for (const auto& [code, name] : names) {
        EXPECT_STREQ(ErrorName(code), name) << code;
        EXPECT_EQ(log.LogError(code), code);
        EXPECT_STREQ(log.GetMessage(log.GetNumberOfErrors() - 1), name) << code;
    }
    for (int code : {-1, -3, -4, -5, -17, -19, -24, -30, -50, -100, -127, -567, -568})
        EXPECT_STREQ(ErrorName(code), "NO ERROR") << code;
    EXPECT_EQ(log.LogError(0, "nothing happened"), 0);
    EXPECT_EQ(log.GetNumberOfErrors(), 12) << "code zero is never logged";
    log.Flush();
    log.LogError(-2, "b", "a:");
    log.LogError(-1000, nullptr, "node x: ");
    EXPECT_STREQ(log.GetMessage(0), "a:b");
    EXPECT_STREQ(log.GetMessage(1), "node x: INVALID IDENTIFIER");
    EXPECT_EQ(log.GetCode(1), -1000);
    EXPECT_EQ(log.GetMessage(2), nullptr);
    EXPECT_EQ(log.GetMessage(-1), nullptr);
    log.Flush();
    const std::string prefix(1500, 'p'), message(1500, 'm');
    EXPECT_EQ(log.LogError(-103, message.c_str(), prefix.c_str()), -103);
    const std::string stored = log.GetMessage(0);
    ASSERT_EQ(stored.size(), QNL_errorHandler::MAX_MESSAGE_LENGTH);
    EXPECT_EQ(stored.substr(0, 1500), prefix);
    EXPECT_EQ(stored.back(), 'm');
    log.Flush();
}

} // namespace
