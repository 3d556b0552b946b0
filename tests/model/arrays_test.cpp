#include "model/double_array.h"
#include "model/int_array.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using quarn_test::IntsOf;

// The items in use; equality of whole arrays also compares the unused storage.
std::vector<int> ItemsOf(const QNL_intArray& array) {
    return std::vector<int>(array.Items(), array.Items() + array.GetCount());
}

TEST(IntArray, GrowsInlineToEightThenToHeapOfSixteen) {
    QNL_intArray array;
    ASSERT_EQ(array.Add(0), 0);
    const int* inlineStart = array.Items();
    for (int i = 1; i < 8; ++i)
        ASSERT_EQ(array.Add(i * 10), 0);
    EXPECT_EQ(array.GetSize(), 8);
    EXPECT_EQ(array.Items(), inlineStart);
    ASSERT_EQ(array.Add(80), 0);
    EXPECT_EQ(array.GetSize(), 16);
    EXPECT_NE(array.Items(), inlineStart);
    EXPECT_EQ(ItemsOf(array), (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80}));

    // A new size empties the array; the same size keeps the elements.
    ASSERT_EQ(array.SetSize(16), 0);
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_EQ(array[8], 80);
    EXPECT_EQ(array.SetSize(-1), -2);
    EXPECT_EQ(array.SetSizeAtLeast(5), 0);
    EXPECT_EQ(array.GetSize(), 16);
}

TEST(IntArray, ListOperationsWorkOnItemsInUseOnly) {
    QNL_intArray array;
    EXPECT_EQ(array.FindPosition(0), -2);
    array = IntsOf({5, 6, 7});
    EXPECT_EQ(array.Insert(4, 1), -2);
    ASSERT_EQ(array.Insert(1, 9), 0);
    EXPECT_EQ(ItemsOf(array), (std::vector<int>{5, 9, 6, 7}));
    EXPECT_EQ(array.AddExclusive(6), -2);
    EXPECT_EQ(array.DeleteByContent(6), 0);
    EXPECT_EQ(array.DeleteByContent(6), -2);
    EXPECT_EQ(ItemsOf(array), (std::vector<int>{5, 9, 7}));
    // Slots beyond the count exist in storage but are not items: deleting there is refused
    // so the count can never go negative.
    EXPECT_EQ(array.Delete(3), -2);
    EXPECT_EQ(array.Delete(7), -2);
    array.Flush();
    EXPECT_EQ(array.Delete(0), -2);
    EXPECT_EQ(array.GetCount(), 0);
}

TEST(IntArray, ReorderAcceptsOnlyPermutations) {
    QNL_intArray array = IntsOf({10, 20, 30});
    for (const QNL_intArray& bad : {IntsOf({0, 0, 1}), IntsOf({0, 3, 1}), IntsOf({1, 0})})
        EXPECT_EQ(array.Reorder(bad), -2);
    EXPECT_EQ(array, IntsOf({10, 20, 30}));
    ASSERT_EQ(array.Reorder(IntsOf({2, 0, 1})), 0);
    EXPECT_EQ(array, IntsOf({30, 10, 20}));
    // An order as long as the size (not the count) permutes the whole vector.
    QNL_intArray vector;
    vector.SetSize(3);
    vector[0] = 1, vector[1] = 2, vector[2] = 3;
    ASSERT_EQ(vector.Reorder(IntsOf({2, 1, 0})), 0);
    EXPECT_EQ(vector[0], 3);
    EXPECT_EQ(vector[2], 1);
    EXPECT_EQ(QNL_intArray().Reorder(QNL_intArray()), 0);
}

TEST(IntArray, CopiesAreDeepAndSwapMovesEveryStorageKind) {
    auto make = [](int n, int base) {
        QNL_intArray array;
        for (int i = 0; i < n; ++i)
            array.Add(base + i);
        return array;
    };
    for (int n : {0, 2, 20})
        for (int m : {0, 1, 30}) { // empty, inline and heap on either side
            QNL_intArray a = make(n, 100), b = make(m, 200);
            const QNL_intArray copy(a);
            a.Swap(b);
            EXPECT_EQ(ItemsOf(a), ItemsOf(make(m, 200))) << n << " " << m;
            EXPECT_EQ(ItemsOf(b), ItemsOf(copy)) << n << " " << m;
        }
    QNL_intArray big = make(20, 0);
    QNL_intArray copy(big);
    copy[0] = 99;
    EXPECT_EQ(big[0], 0);
}

TEST(IntArray, VectorOperationsCoverTheWholeSize) {
    QNL_intArray a, b;
    a.SetSize(4);
    EXPECT_EQ(a.FillWith(3), 4);
    b.SetSize(2);
    b.FillWith(9);
    a.CopyPrefix(b);
    EXPECT_EQ(std::vector<int>(a.Items(), a.Items() + 4), (std::vector<int>{9, 9, 3, 3}));
    EXPECT_EQ(a.LastElement(), 3);
    EXPECT_EQ(a.GetCount(), 0);
}

class DoubleArrayPool : public ::testing::Test {
protected:
    void TearDown() override { QNL_doubleArray::DestroyPool(); }
};

TEST(DoubleArray, EmptyHoldsNullAndGrowsThroughInlineToHeap) {
    QNL_doubleArray array;
    EXPECT_EQ(array.Items(), nullptr);
    array.Add(1.5);
    EXPECT_EQ(array.GetSize(), 4);
    QNL_doubleArray three;
    three.SetSize(3);
    three.Add(1), three.Add(2), three.Add(3), three.Add(4);
    EXPECT_EQ(three.GetSize(), 6);
    EXPECT_DOUBLE_EQ(three[3], 4);
    QNL_intArray order = IntsOf({3, 2, 1, 0});
    ASSERT_EQ(three.Reorder(order), 0);
    EXPECT_DOUBLE_EQ(three[0], 4);
    three.Swap(array);
    EXPECT_EQ(three.GetCount(), 1);
    EXPECT_EQ(array.GetCount(), 4);
    array.CleanUp();
    EXPECT_EQ(array.Items(), nullptr);
    EXPECT_EQ(array.SetSize(0), 0);
    EXPECT_EQ(array.Items(), nullptr);
}

TEST_F(DoubleArrayPool, LargerReleasedBlockServesSmallerRequest) {
    QNL_doubleArray::CreatePool(8);
    QNL_doubleArray::CreatePool(8); // a second creation is ignored and leaks nothing
    double* block;
    {
        QNL_doubleArray big;
        big.SetSize(20);
        block = big.Items();
    }
    QNL_doubleArray exact, smaller;
    smaller.SetSize(12);
    EXPECT_EQ(smaller.Items(), block);
    EXPECT_EQ(smaller.GetSize(), 12);
    smaller.FillWith(0.25); // the whole recorded size must be writable
    exact.SetSize(12);
    EXPECT_NE(exact.Items(), block);
}

TEST_F(DoubleArrayPool, ExactSizeIsPreferredAndFullPoolFallsBackToHeap) {
    QNL_doubleArray::CreatePool(2);
    double* block10;
    double* block30;
    {
        QNL_doubleArray c, a, b; // destroyed b, a, c: c finds both slots taken
        a.SetSize(30);
        b.SetSize(10);
        c.SetSize(50);
        block30 = a.Items();
        block10 = b.Items();
    }
    QNL_doubleArray wantsTen, wantsEight;
    wantsTen.SetSize(10);
    EXPECT_EQ(wantsTen.Items(), block10);
    wantsEight.SetSize(8);
    EXPECT_EQ(wantsEight.Items(), block30);
}

} // namespace
