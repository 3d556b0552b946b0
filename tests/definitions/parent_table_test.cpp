#include "definitions/definition_support.h"
#include "definitions/parent_table.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

using quarn::detail::ParentTable;
using quarn_test::IntsOf;

namespace {

// A definition at no node of any network: never valid.
class Detached : public QNL_nodeDefinition {
public:
    Detached() : QNL_nodeDefinition(-1, nullptr) {}
    QNL_nodeDefinition* CreateCopy() const override { return new Detached(*this); }
    int GetType() const override { return QNL_TYPE_CPT; }
    const char* GetTypeName() const override { return "DETACHED"; }
};

std::vector<int> Ints(const QNL_intArray& array) {
    return std::vector<int>(array.Items(), array.Items() + array.GetCount());
}

std::vector<int> Dims(const ParentTable& cells) {
    const QNL_intArray& dims = cells.Matrix().GetDimensions();
    return std::vector<int>(dims.Items(), dims.Items() + dims.GetSize());
}

std::vector<double> Values(const ParentTable& cells) {
    const QNL_doubleArray& items = cells.Matrix().GetItems();
    return std::vector<double>(items.Items(), items.Items() + items.GetSize());
}

// Distinct cells 1, 2, 3 ... in storage order, so any misplaced cell shows.
void FillDistinct(QNL_Dmatrix& matrix) {
    for (int i = 0; i < matrix.GetSize(); ++i)
        matrix.Subscript(i) = i + 1;
}

class ParentTableTest : public ::testing::Test {
protected:
    void SetUp() override { QNL_errorHandler::Instance().Flush(); }

    int Chance(const char* id, int outcomes) {
        const int node = net.AddNode(QNL_TYPE_CPT, id);
        EXPECT_GE(node, 0);
        EXPECT_EQ(Def(node).SetNumberOfOutcomes(outcomes), 0);
        return node;
    }
    // A chance node with the given parents, and a table built for it apart from its own.
    int Child(const char* id, std::initializer_list<int> parents, ParentTable& cells) {
        const int node = Chance(id, 2);
        for (int p : parents)
            EXPECT_EQ(net.AddArc(p, node), 0);
        EXPECT_EQ(cells.Build(&net, node, 2, FillDistinct), 0);
        return node;
    }
    QNL_nodeDefinition& Def(int node) { return *net.GetNode(node)->GetDefinition(); }

    QNL_network net;
};

TEST_F(ParentTableTest, BuildGivesEachParentADimensionInParentOrderAndRepeatsTheFill) {
    const int a = Chance("A", 2);
    const int b = Chance("B", 3);
    ParentTable cells(false);
    const int c = Child("C", {b, a}, cells);
    EXPECT_EQ(Dims(cells), (std::vector<int>{3, 2, 2}));
    EXPECT_EQ(Ints(cells.Owners()), (std::vector<int>{b, a}));
    // The own dimension was filled before the parents' were added: every column repeats it.
    for (int i = 0; i < cells.Matrix().GetSize(); ++i)
        EXPECT_EQ(cells.Matrix().Subscript(i), i % 2 + 1);

    ParentTable alone(false);
    ASSERT_EQ(alone.Build(&net, 1000, 3, FillDistinct), 0);
    EXPECT_EQ(Dims(alone), (std::vector<int>{3}));
    EXPECT_EQ(alone.Owners().GetCount(), 0);
    EXPECT_EQ(Def(c).GetNumberOfOutcomes(), 2);
}

TEST_F(ParentTableTest, EditsTellChangeFromNothingToDoFromRefusal) {
    const int a = Chance("A", 2);
    const int b = Chance("B", 3);
    ParentTable cells(false);
    const int c = Child("C", {a, b}, cells);

    EXPECT_EQ(cells.OpenParentOutcome(Def(c), b, 1), 1);
    EXPECT_EQ(Dims(cells), (std::vector<int>{2, 4, 2}));
    EXPECT_EQ(cells.RemoveParentOutcome(Def(c), b, 1), 1);
    EXPECT_EQ(cells.RemoveParent(Def(c), a), 1);
    EXPECT_EQ(Ints(cells.Owners()), (std::vector<int>{b}));
    // The arc is still there, but the dimension has gone: nothing left to change.
    EXPECT_EQ(cells.RemoveParent(Def(c), a), 0);
    EXPECT_EQ(cells.OpenParentOutcome(Def(c), a, 0), 0);
    EXPECT_EQ(cells.AddParent(Def(c), a), 1);
    EXPECT_EQ(Ints(cells.Owners()), (std::vector<int>{a, b}));
    EXPECT_EQ(cells.AddParent(Def(c), a), -2);

    Detached detached;
    EXPECT_EQ(cells.RemoveParent(detached, a), -567);
    EXPECT_EQ(cells.ReorderParents(detached, IntsOf({1, 0})), -567);
    EXPECT_EQ(cells.AssignValues(detached, QNL_doubleArray()), -567);
    EXPECT_EQ(cells.RemoveParent(Def(c), 1000), -2);
    EXPECT_EQ(cells.Expose(nullptr), -2);
}

TEST_F(ParentTableTest, RefusedEditsLeaveCellsAndRecordAsTheyWere) {
    const int a = Chance("A", 2);
    const int b = Chance("B", 3);
    ParentTable cells(false);
    const int c = Child("C", {a, b}, cells);
    const std::vector<double> before = Values(cells);

    EXPECT_EQ(cells.OpenParentOutcome(Def(c), b, 4), -2);
    EXPECT_EQ(cells.RemoveParentOutcome(Def(c), b, 3), -2);
    EXPECT_EQ(cells.RemoveParentOutcome(Def(c), a, -1), -2);
    EXPECT_EQ(cells.ReorderParentOutcomes(Def(c), b, IntsOf({0, 0, 1})), -2);
    EXPECT_EQ(cells.ReorderParents(Def(c), IntsOf({0, 0})), -2);
    QNL_doubleArray shortValues;
    shortValues.SetSize(3);
    EXPECT_EQ(cells.AssignValues(Def(c), shortValues), -2);
    QNL_Dmatrix otherShape(IntsOf({3, 2, 2}));
    EXPECT_EQ(cells.AssignMatrix(Def(c), otherShape), -2);

    EXPECT_EQ(Values(cells), before);
    EXPECT_EQ(Dims(cells), (std::vector<int>{2, 3, 2}));
    EXPECT_EQ(Ints(cells.Owners()), (std::vector<int>{a, b}));
}

// A table copied to another node finds its dimensions' owners among that node's parents. Only
// a table that checks the owners' sizes refuses owners with other outcome counts.
TEST_F(ParentTableTest, RecordIsTakenAgainFromTheParentsOfAnotherNode) {
    const int a = Chance("A", 2);
    const int b = Chance("B", 3);
    ParentTable unchecked(false);
    const int c = Child("C", {a, b}, unchecked);
    ParentTable checked(true);
    ASSERT_EQ(checked.Build(&net, c, 2, FillDistinct), 0);

    const int e = Chance("E", 2);
    const int f = Chance("F", 3);
    ParentTable spare(false);
    const int same = Child("Same", {e, f}, spare);
    ParentTable moved = unchecked;
    EXPECT_EQ(moved.RemoveParent(Def(same), f), 1);
    EXPECT_EQ(Ints(moved.Owners()), (std::vector<int>{e}));
    EXPECT_EQ(Dims(moved), (std::vector<int>{2, 2}));

    const int g = Chance("G", 4);
    const int other = Child("Other", {e, g}, spare);
    ParentTable loose = unchecked;
    EXPECT_EQ(loose.RemoveParent(Def(other), g), 1);
    EXPECT_EQ(Dims(loose), (std::vector<int>{2, 2}));
    ParentTable strict = checked;
    EXPECT_EQ(strict.RemoveParent(Def(other), g), 0);
    EXPECT_EQ(Ints(strict.Owners()), (std::vector<int>{a, b}));
    EXPECT_EQ(Dims(strict), (std::vector<int>{2, 3, 2}));
    // A copy keeps the rule it was made with; a rebuild starts from the same rule.
    ParentTable rebuilt = strict.EmptyLike();
    ASSERT_EQ(rebuilt.Build(&net, c, 2, FillDistinct), 0);
    EXPECT_EQ(rebuilt.RemoveParent(Def(other), g), 0);
}

} // namespace
