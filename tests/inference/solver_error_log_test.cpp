#include "definitions/node_values.h"
#include "support/network_builder.h"
#include "support/random_diagram.h"
#include "support/real_networks.h"

#include <gtest/gtest.h>

#include <string>

using namespace quarn_test;

namespace {

// The entries left in the log, apart from the assumed temporal orders a solve reports on
// purpose.
std::string StrayEntries() {
    const QNL_errorHandler& log = QNL_errorHandler::Instance();
    std::string stray;
    for (int i = 0; i < log.GetNumberOfErrors(); ++i) {
        const std::string message = log.GetMessage(i);
        if (message.rfind("Temporal order assumed", 0) != 0)
            stray += std::to_string(log.GetCode(i)) + " " + message + "\n";
    }
    return stray;
}

// A decision whose first option makes the finding impossible: the solver tries that scenario
// and passes over it. The solve succeeds, so it must leave no entry behind; the refusal of
// the evidence is the solver's own business. The fisheries diagram has such scenarios too.
TEST(SolverErrorLogTest, SuccessfulSolveLeavesNoEntriesOfSkippedScenarios) {
    QNL_errorHandler::Instance().Flush();
    QNL_network net;
    const int d = AddDefined(net, QNL_TYPE_LIST, "D", {});
    const int x = AddDefined(net, QNL_TYPE_CPT, "X", {d}, {1.0, 0.0, 0.0, 1.0});
    const int e = AddDefined(net, QNL_TYPE_CPT, "E", {x}, {1.0, 0.0, 0.5, 0.5});
    AddDefined(net, QNL_TYPE_TABLE, "U", {x}, {-1.0, -2.0});
    ASSERT_EQ(net.GetNode(e)->GetValue()->SetEvidence(1), 0);
    QNL_errorHandler::Instance().LogError(-7, "before the solve");
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_EQ(StrayEntries(), "-7 before the solve\n");
    EXPECT_EQ(ValueCells(net, d), std::vector<double>({QNL_utilityValue::UNDEFINED_UTILITY, -2.0}));

    // Real diagrams; the repository holds the first two.
    for (const char* file :
         {"dne/CostOfTesting.dne", "xmlbif/oil_wildcatter_id.xml", "net/fisher_id.net"}) {
        const std::string path = quarn_test::RealNetworks() + "/" + file;
        if (!quarn_test::HaveSharedNetworks() && !std::filesystem::exists(path)) continue;
        QNL_network real;
        ASSERT_EQ(real.ReadFile(path.c_str(), path.back() == 'l' ? 6 : 0), 0) << path;
        QNL_errorHandler::Instance().Flush();
        ASSERT_EQ(real.UpdateBeliefs(), 0) << path;
        EXPECT_EQ(StrayEntries(), "") << path;
    }
    QNL_errorHandler::Instance().Flush();
}

} // namespace
