// Infinities and NaNs in tables, and in the numbers some formats write instead of a table
// (gate parameters, weights, costs): a format whose number text has no form for them refuses
// the network before touching the file (a file it wrote would not read back); the two XML
// formats keep them where their reader takes them back.

#include "definitions/logic_gates.h"
#include "format_test_support.h"
#include "model/case_library.h"
#include "model/node_cost.h"
#include "model/temporal_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
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
        {"erg", true,
         "ERROR: This Network cannot be saved in Ergo format: node 'C' holds a number that is "
         "not finite"},
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
// format writes as they are rather than through the table they expand to; `probe` gives that
// number back from a network, none when the network holds no such number there (a gate a
// format wrote as its table, costs a format leaves out).
struct Carrier {
    const char* name;
    std::function<void(QNL_network&, const double* bad)> build;
    std::function<std::optional<double>(QNL_network&)> probe;
    // The definition refuses such a number, so no writer meets one: the row pins the refusal.
    bool refused = false;
};

// The definition of G when it is of that type.
template <class Definition> Definition* DefinitionOf(QNL_network& net, int type) {
    QNL_node* node = Node(net, "G");
    if (node == nullptr || node->GetType() != type) return nullptr;
    return static_cast<Definition*>(node->GetDefinition());
}

// A value of G's definition (its table, or a gate's expanded one) when G is of that type.
std::optional<double> ValueOf(QNL_network& net, int type, std::size_t index) {
    if (DefinitionOf<QNL_nodeDefinition>(net, type) == nullptr) return std::nullopt;
    const std::vector<double> values = Values(Node(net, "G"));
    if (index >= values.size()) return std::nullopt;
    return values[index];
}

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

std::optional<double> GateParameter(QNL_network& net, int type) {
    const auto* gate = DefinitionOf<QNL_ciDefinition>(net, type);
    if (gate == nullptr) return std::nullopt;
    return gate->GetParameters().GetItems()[0];
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

// A plate node whose definition of order 1 (its own previous slice as parent) holds `bad`:
// only the dynamic part of the XML format carries it.
void TemporalTable(QNL_network& net, const double* bad) {
    const int g = AddNode(net, QNL_TYPE_CPT, "G", {"g0", "g1"});
    ASSERT_EQ(0, net.SetTemporalType(g, QNL_temporalNetwork::PLATE));
    ASSERT_EQ(0, net.AddTemporalArc(g, g, 1));
    ASSERT_EQ(0, net.SetNumberOfSlices(3));
    QNL_doubleArray values;
    for (double v : {0.5, 0.5, 0.25, 0.75})
        values.Add(v);
    if (bad != nullptr) values[0] = *bad;
    ASSERT_EQ(0, net.GetTemporalNetwork().GetTemporalDefinition(g, 1)->SetDefinition(values));
}

std::optional<double> TemporalValue(QNL_network& net) {
    const int g = net.FindNode("G");
    if (g < 0 || net.GetTemporalType(g) != QNL_temporalNetwork::PLATE) return std::nullopt;
    const QNL_nodeDefinition* definition = net.GetTemporalNetwork().GetTemporalDefinition(g, 1);
    QNL_doubleArray values;
    if (definition == nullptr || definition->GetDefinition(values) != 0) return std::nullopt;
    return values[0];
}

const Carrier kCarriers[] = {
    {"noisy-MAX parameter",
     [](QNL_network& net, const double* bad) { NoisyGate(net, QNL_TYPE_NOISY_MAX, bad); },
     [](QNL_network& net) { return GateParameter(net, QNL_TYPE_NOISY_MAX); }},
    {"noisy-adder parameter",
     [](QNL_network& net, const double* bad) { NoisyGate(net, QNL_TYPE_NOISY_ADDER, bad); },
     [](QNL_network& net) { return GateParameter(net, QNL_TYPE_NOISY_ADDER); }},
    {"noisy-adder weight",
     [](QNL_network& net, const double* bad) {
         NoisyGate(net, QNL_TYPE_NOISY_ADDER, nullptr);
         auto* adder = static_cast<QNL_noisyAdder*>(Node(net, "G")->GetDefinition());
         // Refused by the definition, so no writer ever meets one.
         if (bad != nullptr) {
             ASSERT_EQ(-2, adder->SetWeights({*bad, 1.0}));
         }
     },
     [](QNL_network& net) -> std::optional<double> {
         const auto* adder = DefinitionOf<QNL_noisyAdder>(net, QNL_TYPE_NOISY_ADDER);
         if (adder == nullptr) return std::nullopt;
         return adder->GetWeights()[0];
     },
     true},
    {"CAST table",
     [](QNL_network& net, const double* bad) { TwoStateGate(net, QNL_TYPE_CAST, bad); },
     [](QNL_network& net) { return ValueOf(net, QNL_TYPE_CAST, 1); }},
    {"DeMorgan table",
     [](QNL_network& net, const double* bad) { TwoStateGate(net, QNL_TYPE_DEMORGAN, bad); },
     [](QNL_network& net) { return ValueOf(net, QNL_TYPE_DEMORGAN, 1); }},
    {"multi-attribute weight",
     [](QNL_network& net, const double* bad) {
         const int u = net.AddNode(QNL_TYPE_TABLE, "U");
         const int g = net.AddNode(QNL_TYPE_MAU, "G");
         ASSERT_EQ(0, net.AddArc(u, g));
         if (bad != nullptr) SetValues(net, g, {*bad});
     },
     [](QNL_network& net) { return ValueOf(net, QNL_TYPE_MAU, 0); }},
    {"observation cost",
     [](QNL_network& net, const double* bad) {
         const int g = AddNode(net, QNL_TYPE_CPT, "G", {"g0", "g1"});
         QNL_doubleArray costs;
         ASSERT_EQ(0, costs.SetSize(1));
         costs[0] = 2.5;
         ASSERT_EQ(0, net.GetNode(g)->GetCost()->SetCosts(costs));
         // Refused by the cost table, so no writer ever meets one.
         if (bad != nullptr) {
             costs[0] = *bad;
             ASSERT_EQ(-2, net.GetNode(g)->GetCost()->SetCosts(costs));
             EXPECT_EQ(std::vector<std::string>{"Cost 0 of node 'G' is not a finite number"},
                       LoggedMessages(-2));
         }
     },
     [](QNL_network& net) -> std::optional<double> {
         const QNL_nodeCost* cost = Node(net, "G")->GetCost();
         if (cost == nullptr || cost->GetCosts().GetSize() < 1) return std::nullopt;
         return cost->GetCosts().GetItems()[0];
     },
     true},
    {"probability table",
     [](QNL_network& net, const double* bad) {
         const int g = AddNode(net, QNL_TYPE_CPT, "G", {"g0", "g1"});
         if (bad != nullptr) SetValues(net, g, {0.5, *bad});
     },
     [](QNL_network& net) { return ValueOf(net, QNL_TYPE_CPT, 1); }},
    {"utility table",
     [](QNL_network& net, const double* bad) {
         const int p = AddNode(net, QNL_TYPE_CPT, "P", {"p0", "p1"});
         const int g = net.AddNode(QNL_TYPE_TABLE, "G");
         ASSERT_EQ(0, net.AddArc(p, g));
         if (bad != nullptr) SetValues(net, g, {*bad, 3.0});
     },
     [](QNL_network& net) { return ValueOf(net, QNL_TYPE_TABLE, 0); }},
    {"temporal table", TemporalTable, TemporalValue},
    {"case evidence value",
     [](QNL_network& net, const double* bad) {
         const int g = net.AddNode(QNL_TYPE_EQUATION, "G");
         ASSERT_EQ(0, net.AddCase("c")->AddEvidenceValue(g, bad != nullptr ? *bad : 0.25));
     },
     [](QNL_network& net) -> std::optional<double> {
         int node = -1;
         double value = 0.0;
         if (net.GetNumberOfCases() < 1 || net.GetCase(0)->GetEvidenceValue(0, node, value) != 0)
             return std::nullopt;
         return value;
     }},
};

bool SameNumber(double a, double b) {
    return std::isnan(a) ? std::isnan(b) : Bits(a) == Bits(b);
}

bool SameValues(const std::vector<double>& a, const std::vector<double>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameNumber);
}

// Each writer of every format refuses a network holding such a number in what it writes, with
// one message naming G, no file made and the file it was to replace left as it was; or it
// writes a file that reads back without a complaint to the same network: the number in its
// place (where the format keeps numbers of that kind, as the finite twin shows), or else the
// table G was written as. Whatever the file holds reads back exactly: the copy writes the
// same file again. A writer that does not carry the kind at all (refusing the finite twin
// too, as the KI writer refuses every network) has nothing to show here.
TEST(NonFiniteValues, WrittenParametersWeightsAndCostsAreCheckedAsTablesAre) {
    const std::map<std::string, std::string> refusals = {
        {"qnl", "ERROR: This Network cannot be saved in QNL format: node 'G' holds a number that "
                "is not finite"},
        {"dne", "ERROR: This Network cannot be saved in Netica format (node 'G')"},
        {"net", "ERROR: 'G' : Node table cannot be written"},
        {"dsc", "ERROR: 'G' : Node table cannot be written"},
        {"erg", "ERROR: This Network cannot be saved in Ergo format: node 'G' holds a number that "
                "is not finite"},
        {"xqnl", "ERROR: This Network cannot be saved in XML format: node 'G' holds a number "
                 "that is not finite"},
    };
    TempFolder folder("nonfinite_parameters");
    int refused = 0, readBack = 0;
    for (const Carrier& carrier : kCarriers) {
        for (const char* extension : {"qnl", "dne", "net", "dsc", "erg", "xqnl", "xml03", "dxp"}) {
            SCOPED_TRACE(std::string(carrier.name) + " " + extension);
            const std::string path = folder.File(std::string("model.") + extension);
            const std::string again = folder.File(std::string("again.") + extension);
            QNL_network finite, finiteCopy;
            ASSERT_NO_FATAL_FAILURE(carrier.build(finite, nullptr));
            if (finite.WriteFile(path.c_str()) != 0) continue;
            ASSERT_EQ(0, finiteCopy.ReadFile(path.c_str())) << AllMessages();
            const bool kept = carrier.probe(finiteCopy) == carrier.probe(finite);
            std::filesystem::remove(path);
            // One network holding `bad`, written over an old file.
            auto check = [&](double bad) {
                std::filesystem::remove(again);
                folder.Put(std::string("model.") + extension, "old");
                QNL_errorHandler::Instance().Flush();
                QNL_network net;
                ASSERT_NO_FATAL_FAILURE(carrier.build(net, &bad));
                ASSERT_TRUE(carrier.probe(net).has_value());
                if (carrier.refused) {
                    EXPECT_TRUE(std::isfinite(*carrier.probe(net)));
                    return;
                }
                ASSERT_TRUE(SameNumber(bad, *carrier.probe(net)));
                const int written = net.WriteFile(path.c_str());
                if (written != 0) {
                    ++refused;
                    EXPECT_EQ(-2, written);
                    const auto message = refusals.find(extension);
                    ASSERT_NE(message, refusals.end()) << AllMessages();
                    EXPECT_EQ(std::vector<std::string>{message->second}, LoggedMessages(-2));
                    EXPECT_EQ(1, QNL_errorHandler::Instance().GetNumberOfErrors()) << AllMessages();
                    EXPECT_EQ("old", TempFolder::Get(path));
                    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(folder.File("")),
                                               std::filesystem::directory_iterator()));
                    return;
                }
                ++readBack;
                QNL_network copy;
                ASSERT_EQ(0, copy.ReadFile(path.c_str())) << AllMessages();
                ASSERT_EQ(0, copy.WriteFile(again.c_str())) << AllMessages();
                EXPECT_EQ(TempFolder::Get(path), TempFolder::Get(again));
                EXPECT_EQ(net.GetNumberOfNodes(), copy.GetNumberOfNodes());
                if (kept) {
                    const std::optional<double> number = carrier.probe(copy);
                    ASSERT_TRUE(number.has_value());
                    EXPECT_TRUE(SameNumber(bad, *number)) << *number;
                } else {
                    EXPECT_TRUE(SameValues(Values(Node(net, "G")), Values(Node(copy, "G"))))
                        << Describe(net) << "\n"
                        << Describe(copy);
                }
            };
            for (const double bad : {std::nan(""), kInfinity, -kInfinity}) {
                SCOPED_TRACE(bad);
                check(bad);
            }
            std::filesystem::remove(path);
            std::filesystem::remove(again);
        }
    }
    // Both ends are reached: some writers refuse, the XML formats keep some numbers.
    EXPECT_GT(refused, 0);
    EXPECT_GT(readBack, 0);
}

} // namespace
