#include "support/test_definition.h"

#include "model/network.h"
#include "model/node.h"

#include <gtest/gtest.h>

#include <string>

namespace quarn_test {

TestDefinition::TestDefinition(int handle, QNL_network* network)
    : QNL_nodeDefinition(handle, network) {
    outcomes.AddDefault("State", 0);
    outcomes.AddDefault("State", 1);
    MakeUniform();
}

TestDefinition::TestDefinition(const TestDefinition& other)
    : QNL_nodeDefinition(other), outcomes(other.outcomes), table(other.table) {}

int TestDefinition::ParentPosition(int parent) const {
    return network->GetParents(handle).FindPosition(parent);
}

void TestDefinition::MakeUniform() {
    QNL_intArray sizes;
    if (network != nullptr && network->IsValidNodeHandle(handle)) {
        const QNL_intArray& parents = network->GetParents(handle);
        for (int i = 0; i < parents.GetCount(); ++i) {
            QNL_nodeDefinition* d = network->GetNode(parents[i])->GetDefinition();
            if (d != nullptr && QNL_IsTableParentType(d->GetType()))
                sizes.Add(d->GetNumberOfOutcomes());
        }
    }
    sizes.Add(outcomes.GetCount());
    table.Setup(sizes);
    table.FillWith(1.0 / outcomes.GetCount());
}

int TestDefinition::AddParent(int parent) {
    int position = ParentPosition(parent);
    if (position < 0) return -2;
    int n = network->GetNode(parent)->GetDefinition()->GetNumberOfOutcomes();
    return table.InsertDimension(position, n);
}

int TestDefinition::RemoveParent(int parent) {
    int position = ParentPosition(parent);
    return position < 0 ? -2 : table.RemoveDimension(position, 0);
}

int TestDefinition::InsertParentOutcome(int parent, int index) {
    int position = ParentPosition(parent);
    if (position < 0) return -2;
    int result = table.AddOutcome(position);
    return result != 0 ? result
                       : table.ShiftDataUpwards(position, index, 1.0 / outcomes.GetCount());
}

int TestDefinition::RemoveParentOutcome(int parent, int index) {
    int position = ParentPosition(parent);
    if (position < 0) return -2;
    if (int result = table.ShiftDataDownwards(position, index)) return result;
    return table.RemoveLastOutcome(position);
}

int TestDefinition::ReorderParentOutcomes(int parent, const QNL_intArray& order) {
    int position = ParentPosition(parent);
    return position < 0 ? -2 : table.ReorderOutcomes(position, order);
}

int TestDefinition::ReorderParents(const QNL_intArray& order) {
    QNL_intArray dims(order);
    dims.Add(order.GetCount());
    return table.ReorderDimensions(dims);
}

int TestDefinition::Assign(const QNL_nodeDefinition& other) {
    int result = QNL_nodeDefinition::Assign(other);
    if (result != 0 || &other == this) return result;
    if (auto* source = dynamic_cast<const TestDefinition*>(&other)) {
        outcomes.Assign(source->outcomes);
        table.Assign(source->table);
    }
    return 0;
}

int TestDefinition::CheckReadiness(int) {
    const int n = outcomes.GetCount();
    bool ready = n > 0;
    for (int start = 0; ready && start + n <= table.GetSize(); start += n) {
        double sum = 0;
        for (int k = 0; k < n; ++k)
            sum += table.Subscript(start + k);
        ready = sum >= 0.99999 && sum <= 1.00001;
    }
    status = ready ? (status | STATUS_READY) : (status & ~STATUS_READY);
    return 0;
}

int TestDefinition::InsertOutcome(int index, const char* id) {
    if (index < 0 || index > outcomes.GetCount()) return -2;
    if (int result = outcomes.Insert(index, id)) return result;
    const int last = table.GetNumberOfDimensions() - 1;
    table.AddOutcome(last);
    table.ShiftDataUpwards(last, index, 0.0);
    return PropagateInsertOutcome(index);
}

int TestDefinition::RemoveOutcome(int index) {
    if (index < 0 || index >= outcomes.GetCount() || outcomes.GetCount() <= 2) return -2;
    const int last = table.GetNumberOfDimensions() - 1;
    table.ShiftDataDownwards(last, index);
    table.RemoveLastOutcome(last);
    return PropagateRemoveOutcome(index, outcomes);
}

int TestDefinition::SetOutcomeIds(const QNL_stringArray& ids) {
    if (ids.GetCount() != outcomes.GetCount()) return -2;
    QNL_idArray replacement;
    for (int i = 0; i < ids.GetCount(); ++i)
        if (replacement.Add(ids.GetString(i)) != 0) return -2;
    outcomes.Assign(replacement);
    return 0;
}

int TestDefinition::SetNumberOfOutcomes(int count) {
    if (count < 2) return -2;
    while (outcomes.GetCount() < count) {
        std::string id;
        outcomes.MakeValidId("State", outcomes.GetCount(), id);
        if (int result = AddOutcome(id.c_str())) return result;
    }
    while (outcomes.GetCount() > count)
        if (int result = RemoveOutcome(outcomes.GetCount() - 1)) return result;
    return 0;
}

int TestDefinition::ReorderOutcomes(const QNL_intArray& order) {
    if (int result = outcomes.Reorder(order)) return result;
    table.ReorderOutcomes(table.GetNumberOfDimensions() - 1, order);
    return PropagateReorderOutcomes(order);
}

int TestDefinition::SetDefinition(const QNL_doubleArray& values) {
    if (values.GetSize() != table.GetSize()) return -2;
    for (int i = 0; i < values.GetSize(); ++i)
        table.Subscript(i) = values[i];
    return 0;
}

ScopedTestDefinitions::ScopedTestDefinitions()
    : ScopedRegistration(QNL_TYPE_CPT, [](int handle, QNL_network* network) {
          return static_cast<QNL_nodeDefinition*>(new TestDefinition(handle, network));
      }) {}

int AddNode(QNL_network& network, const char* id, int outcomes) {
    int handle = network.AddNode(QNL_TYPE_CPT, id);
    EXPECT_GE(handle, 0) << "AddNode " << id;
    if (handle >= 0 && outcomes != 2) {
        EXPECT_EQ(network.GetNode(handle)->GetDefinition()->SetNumberOfOutcomes(outcomes), 0);
    }
    return handle;
}

void SetTable(QNL_network& network, int node, std::initializer_list<double> values) {
    ASSERT_EQ(network.GetNode(node)->GetDefinition()->SetDefinition(ArrayOf(values)), 0);
}

} // namespace quarn_test
