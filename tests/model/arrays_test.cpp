#include "model/double_array.h"
#include "model/int_array.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using quarn_test::IntsOf;
using Ints = std::vector<int>;

Ints ItemsOf(const QNL_intArray& array) {
    return Ints(array.Items(), array.Items() + array.GetCount());
}

QNL_intArray Counting(int n) {
    QNL_intArray array;
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(array.Add(i), 0);
    return array;
}

// One walk through the list operations, across the step from inline storage to the heap.
TEST(IntArray, ListOperationsKeepTheItemsAcrossGrowth) {
    QNL_intArray array = Counting(8);
    const int* inlineStart = array.Items();
    ASSERT_EQ(array.Add(8), 0);
    EXPECT_NE(array.Items(), inlineStart);
    EXPECT_EQ(array.GetSize(), 16);
    EXPECT_EQ(ItemsOf(array), (Ints{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(array.Insert(10, 1), -2);
    ASSERT_EQ(array.Insert(1, 9), 0);
    EXPECT_EQ(array.AddExclusive(6), -2);
    EXPECT_EQ(array.DeleteByContent(6), 0);
    EXPECT_EQ(array.DeleteByContent(6), -2);
    // Slots beyond the count are not items: deleting there would make the count negative.
    EXPECT_EQ(array.Delete(9), -2);
    EXPECT_EQ(ItemsOf(array), (Ints{0, 9, 1, 2, 3, 4, 5, 7, 8}));
    for (const QNL_intArray& bad : {IntsOf({0, 0, 1}), IntsOf({0, 3, 1}), IntsOf({1, 0})})
        EXPECT_EQ(IntsOf({10, 20, 30}).Reorder(bad), -2);
    QNL_intArray three = IntsOf({10, 20, 30});
    ASSERT_EQ(three.Reorder(IntsOf({2, 0, 1})), 0);
    EXPECT_EQ(ItemsOf(three), (Ints{30, 10, 20}));
    // An order as long as the size (not the count) permutes the whole vector.
    QNL_intArray vector;
    vector.SetSize(3);
    vector[0] = 1, vector[1] = 2, vector[2] = 3;
    ASSERT_EQ(vector.Reorder(IntsOf({2, 1, 0})), 0);
    EXPECT_EQ(Ints(vector.Items(), vector.Items() + 3), (Ints{3, 2, 1}));
    // A new size empties the array; the same size keeps the elements.
    ASSERT_EQ(array.SetSize(16), 0);
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_EQ(array[8], 8);
    EXPECT_EQ(array.SetSize(-1), -2);
}

} // namespace
