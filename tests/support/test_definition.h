#pragma once

#include "model/dmatrix.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "support/network_builder.h"

#include <initializer_list>

namespace quarn_test {

// A small discrete table definition for tests of the network model: outcomes with
// identifiers and a table with one dimension per parent (parent order) and the node's own
// outcomes last. New cells are uniform.
class TestDefinition : public QNL_nodeDefinition {
public:
    TestDefinition(int handle, QNL_network* network);
    TestDefinition(const TestDefinition& other);

    QNL_nodeDefinition* CreateCopy() const override { return new TestDefinition(*this); }
    int GetType() const override { return QNL_TYPE_CPT; }
    const char* GetTypeName() const override { return "CPT"; }

    int AddParent(int parent) override;
    int RemoveParent(int parent) override;
    int InsertParentOutcome(int parent, int index) override;
    int RemoveParentOutcome(int parent, int index) override;
    int ReorderParentOutcomes(int parent, const QNL_intArray& order) override;
    int ReorderParents(const QNL_intArray& order) override;
    int Assign(const QNL_nodeDefinition& other) override;
    // Ready when every column of the table sums to 1.
    int CheckReadiness(int deep = 1) override;

    int AddOutcome(const char* id) override { return InsertOutcome(outcomes.GetCount(), id); }
    int InsertOutcome(int index, const char* id) override;
    int RemoveOutcome(int index) override;
    int GetNumberOfOutcomes() const override { return outcomes.GetCount(); }
    int SetOutcomeIds(const QNL_stringArray& ids) override;
    const QNL_idArray* GetOutcomeIds() const override { return &outcomes; }
    int SetNumberOfOutcomes(int count) override;
    int ReorderOutcomes(const QNL_intArray& order) override;
    int GetDefinition(QNL_Dmatrix** out) override {
        *out = &table;
        return 0;
    }
    int SetDefinition(const QNL_doubleArray& values) override;

private:
    int ParentPosition(int parent) const;
    void MakeUniform();

    QNL_idArray outcomes;
    QNL_Dmatrix table;
};

// Registers TestDefinition under the CPT code while it lives.
class ScopedTestDefinitions : public ScopedRegistration {
public:
    ScopedTestDefinitions();
};

// Adds a node of the test definition with the given number of outcomes; the handle.
int AddNode(QNL_network& network, const char* id, int outcomes = 2);
// Fills the node's definition table (parents first, own outcomes last and fastest).
void SetTable(QNL_network& network, int node, std::initializer_list<double> values);

} // namespace quarn_test
