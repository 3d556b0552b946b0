#pragma once

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

// What the definition tests share to build a network node by node and read it back: arrays
// from literals, outcome identifiers and tables as plain vectors, a definition of any type
// code, and a fixture that owns the network.
namespace quarn_test {

// A cell named by the outcome identifiers of its coordinates: node identifier -> outcome
// identifier. Naming cells this way makes expectations independent of the table layout.
using Key = std::map<std::string, std::string>;
using Cells = std::map<Key, double>;

QNL_doubleArray ArrayOf(const std::vector<double>& values);
QNL_stringArray StringsOf(const std::vector<std::string>& texts);
QNL_intArray IntsOf(const std::vector<int>& values);
// The last message in the error log, "" when it is empty.
std::string LastMessage();
// The order n-1, ..., 0.
QNL_intArray Reversed(int n);
// Element-wise within the tolerance, failures naming the label and cell.
void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                double tolerance, const std::string& label);
std::vector<std::string> IdsOf(const QNL_nodeDefinition* definition);
// The definition's values; expects the definition to give them.
std::vector<double> ValuesOf(const QNL_nodeDefinition* definition);

// A valid definition of any type code with nothing of its own: a source that a definition
// has no conversion from.
class ForeignDefinition : public QNL_nodeDefinition {
public:
    ForeignDefinition(int handle, QNL_network* network, int type)
        : QNL_nodeDefinition(handle, network), type(type) {}
    QNL_nodeDefinition* CreateCopy() const override { return new ForeignDefinition(*this); }
    int GetType() const override { return type; }
    const char* GetTypeName() const override { return "FOREIGN"; }

private:
    int type;
};

// Registers a creator under a type code while it lives.
class ScopedRegistration {
public:
    ScopedRegistration(int type, quarn::detail::DefinitionCreator creator);
    ~ScopedRegistration();
    ScopedRegistration(const ScopedRegistration&) = delete;
    ScopedRegistration& operator=(const ScopedRegistration&) = delete;

private:
    int type;
    quarn::detail::DefinitionCreator previous;
};

// A test that owns one network; the error log is empty when it starts and when it ends.
class NetworkFixture : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }
    void TearDown() override { QNL_errorHandler::Instance().Flush(); }

    // Adds a node of the type, expecting it to be created; the handle.
    int Add(int type, const char* id);
    // The same, and a count other than 2 becomes the node's number of outcomes.
    int AddWithOutcomes(int type, const char* id, int outcomes);
    QNL_nodeDefinition* Def(int node) { return net.GetNode(node)->GetDefinition(); }
    std::vector<double> Values(int node) { return ValuesOf(Def(node)); }

    QNL_network net;
};

} // namespace quarn_test
