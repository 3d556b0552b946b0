// Infinities and NaNs in tables: a format whose number text has no form for them refuses the
// network before touching the file (a file it wrote would not read back); the two XML formats
// keep them.

#include "format_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace format_test;

const double kInfinity = std::numeric_limits<double>::infinity();

// A chance node over three states and, unless only chance nodes fit the format, a utility node
// under it; `bad` goes into the utility table, or into the chance table when there is none.
void BuildWith(QNL_network& net, double bad, bool chanceOnly) {
    const int c = AddNode(net, QNL_TYPE_CPT, "C", {"lo", "mid", "hi"});
    if (chanceOnly) {
        SetValues(net, c, {0.2, bad, 0.8});
        return;
    }
    const int u = net.AddNode(QNL_TYPE_TABLE, "U");
    ASSERT_EQ(0, net.AddArc(c, u));
    SetValues(net, u, {1.0, bad, -2.5});
}

TEST(NonFiniteValues, TextFormatsRefuseBeforeTouchingTheFileXmlFormatsKeepThem) {
    struct Case {
        const char* extension;
        bool chanceOnly;
        const char* message; // empty: written and read back
    };
    const Case cases[] = {
        {"qnl", false,
         "ERROR: This Network cannot be saved in QNL format: node 'U' holds a number that is "
         "not finite"},
        {"dne", false, "ERROR: This Network cannot be saved in Netica format (node 'U')"},
        {"net", false, "ERROR: 'U' : Node table cannot be written"},
        {"dsc", false, "ERROR: 'U' : Node table cannot be written"},
        {"erg", true, "ERROR: This Network cannot be saved in Ergo format"},
        {"xqnl", false, ""},
        {"xml03", false, ""},
    };
    for (const Case& c : cases) {
        for (const double bad : {kInfinity, -kInfinity, std::nan("")}) {
            SCOPED_TRACE(std::string(c.extension) + " " + std::to_string(bad));
            QNL_errorHandler::Instance().Flush();
            QNL_network net;
            ASSERT_NO_FATAL_FAILURE(BuildWith(net, bad, c.chanceOnly));
            const std::string path = WriteText(std::string("nonfinite.") + c.extension, "old");
            const int written = net.WriteFile(path.c_str());
            if (*c.message != '\0') {
                EXPECT_EQ(-2, written);
                EXPECT_EQ(std::vector<std::string>{c.message}, LoggedMessages(-2)) << AllMessages();
                EXPECT_EQ("old", TempFolder::Get(path));
                continue;
            }
            ASSERT_EQ(0, written) << AllMessages();
            QNL_network copy;
            ASSERT_EQ(0, copy.ReadFile(path.c_str())) << AllMessages();
            const std::vector<double> values = Values(Node(copy, "U"));
            ASSERT_EQ(3u, values.size());
            if (std::isnan(bad)) {
                EXPECT_TRUE(std::isnan(values[1]));
            } else {
                EXPECT_EQ(bad, values[1]);
            }
        }
    }
}

} // namespace
