// Infinities and NaNs in tables, and in the numbers some formats write instead of a table
// (gate parameters, weights, costs): a format whose number text has no form for them refuses
// the network before touching the file (a file it wrote would not read back); the two XML
// formats keep them.

#include "definitions/logic_gates.h"
#include "format_test_support.h"
#include "model/node_cost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
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

// Node G of a small network, holding `bad` (when given) in one of the numbers that some
// format writes as they are rather than through the table they expand to.
struct Carrier {
    const char* name;
    std::function<void(QNL_network&, const double* bad)> build;
};

// A parameter of a noisy gate over a parent P: G's first outcome in the column of P's first.
void NoisyGate(QNL_network& net, int type, const double* bad) {
    const int p = AddNode(net, QNL_TYPE_CPT, "P", {"p0", "p1"});
    const int g = AddNode(net, type, "G", {"g0", "g1"});
    ASSERT_EQ(0, net.AddArc(p, g));
    auto* gate = static_cast<QNL_ciDefinition*>(net.GetNode(g)->GetDefinition());
    if (bad == nullptr) return;
    QNL_Dmatrix parameters(*gate->GetParameters());
    parameters.Subscript(0) = *bad;
    ASSERT_EQ(0, gate->SetDefinition(parameters));
    gate->CalculateCpt();
}

// A CAST or DeMorgan gate under a parent of its class; its setters take no such number, so
// it goes into the table they compute.
void TwoStateGate(QNL_network& net, int type, const double* bad) {
    const int p = net.AddNode(type, "P");
    const int g = net.AddNode(type, "G");
    ASSERT_EQ(0, net.AddArc(p, g));
    QNL_Dmatrix* table = nullptr;
    ASSERT_EQ(0, net.GetNode(g)->GetDefinition()->GetDefinition(&table));
    if (bad != nullptr) table->Subscript(1) = *bad;
}

const Carrier kCarriers[] = {
    {"noisy-MAX parameter",
     [](QNL_network& net, const double* bad) { NoisyGate(net, QNL_TYPE_NOISY_MAX, bad); }},
    {"noisy-adder parameter",
     [](QNL_network& net, const double* bad) { NoisyGate(net, QNL_TYPE_NOISY_ADDER, bad); }},
    {"noisy-adder weight",
     [](QNL_network& net, const double* bad) {
         NoisyGate(net, QNL_TYPE_NOISY_ADDER, nullptr);
         auto* adder = static_cast<QNL_noisyAdder*>(Node(net, "G")->GetDefinition());
         // Refused by the definition, so no writer ever meets one.
         if (bad != nullptr) {
             ASSERT_EQ(-2, adder->SetWeights({*bad, 1.0}));
         }
     }},
    {"CAST table",
     [](QNL_network& net, const double* bad) { TwoStateGate(net, QNL_TYPE_CAST, bad); }},
    {"DeMorgan table",
     [](QNL_network& net, const double* bad) { TwoStateGate(net, QNL_TYPE_DEMORGAN, bad); }},
    {"multi-attribute weight",
     [](QNL_network& net, const double* bad) {
         const int u = net.AddNode(QNL_TYPE_TABLE, "U");
         const int g = net.AddNode(QNL_TYPE_MAU, "G");
         ASSERT_EQ(0, net.AddArc(u, g));
         if (bad != nullptr) SetValues(net, g, {*bad});
     }},
    {"observation cost",
     [](QNL_network& net, const double* bad) {
         const int g = AddNode(net, QNL_TYPE_CPT, "G", {"g0", "g1"});
         QNL_doubleArray costs;
         ASSERT_EQ(0, costs.SetSize(1));
         costs[0] = bad != nullptr ? *bad : 2.5;
         ASSERT_EQ(0, net.GetNode(g)->GetCost()->SetCosts(costs));
     }},
};

// Each writer refuses a network holding such a number in what it writes, with its message
// naming G and no file made, or writes a file that reads back (a number "%.8f" has no text for
// would stop the reader at that token). A writer that does not carry the kind at all
// (refusing the finite twin too) has nothing to show here.
TEST(NonFiniteValues, WrittenParametersWeightsAndCostsAreCheckedAsTablesAre) {
    const std::map<std::string, std::string> refusals = {
        {"qnl", "ERROR: This Network cannot be saved in QNL format: node 'G' holds a number that "
                "is not finite"},
        {"dne", "ERROR: This Network cannot be saved in Netica format (node 'G')"},
        {"net", "ERROR: 'G' : Node table cannot be written"},
        {"dsc", "ERROR: 'G' : Node table cannot be written"},
        {"erg", "ERROR: This Network cannot be saved in Ergo format"},
    };
    TempFolder folder("nonfinite_parameters");
    int refused = 0, readBack = 0;
    for (const Carrier& carrier : kCarriers) {
        for (const char* extension : {"qnl", "dne", "net", "dsc", "erg", "xqnl", "xml03"}) {
            SCOPED_TRACE(std::string(carrier.name) + " " + extension);
            const std::string path = folder.File(std::string("model.") + extension);
            QNL_network finite;
            ASSERT_NO_FATAL_FAILURE(carrier.build(finite, nullptr));
            if (finite.WriteFile(path.c_str()) != 0) continue;
            std::filesystem::remove(path);
            for (const double bad : {std::nan(""), kInfinity, -kInfinity}) {
                SCOPED_TRACE(bad);
                QNL_errorHandler::Instance().Flush();
                QNL_network net;
                ASSERT_NO_FATAL_FAILURE(carrier.build(net, &bad));
                const int written = net.WriteFile(path.c_str());
                if (written != 0) {
                    ++refused;
                    EXPECT_EQ(-2, written);
                    const auto message = refusals.find(extension);
                    ASSERT_NE(message, refusals.end()) << AllMessages();
                    EXPECT_EQ(std::vector<std::string>{message->second}, LoggedMessages(-2))
                        << AllMessages();
                    EXPECT_TRUE(std::filesystem::is_empty(folder.File("")));
                    continue;
                }
                // Read back, every node comes back; a complaint may only be about G's numbers
                // themselves (a gate or table they leave invalid), never about the file's text.
                ++readBack;
                QNL_errorHandler::Instance().Flush();
                QNL_network copy;
                if (copy.ReadFile(path.c_str()) != 0) {
                    const std::string all = AllMessages();
                    for (std::size_t at = 0, end; at < all.size(); at = end + 1) {
                        end = all.find('\n', at);
                        const std::string line = all.substr(at, end - at);
                        EXPECT_TRUE(line.find("[G]") != std::string::npos ||
                                    line.find("(\"G\")") != std::string::npos)
                            << line;
                    }
                }
                EXPECT_EQ(net.GetNumberOfNodes(), copy.GetNumberOfNodes());
                std::filesystem::remove(path);
            }
        }
    }
    // Both ends are reached: some writers refuse, the XML formats keep the numbers.
    EXPECT_GT(refused, 0);
    EXPECT_GT(readBack, 0);
}

} // namespace
