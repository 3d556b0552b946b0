#include "model/double_array.h"
#include "model/int_array.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

QNL_intArray Ints(std::initializer_list<int> values) {
    QNL_intArray array;
    for (int v : values) array.Add(v);
    return array;
}

// The items in use; equality of whole arrays also compares the unused storage.
std::vector<int> ItemsOf(const QNL_intArray& array) {
    return std::vector<int>(array.Items(), array.Items() + array.GetCount());
}

TEST(IntArray, GrowsInlineToEightThenToHeapOfSixteen) {
    QNL_intArray array;
    const int* inlineStart = nullptr;
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(array.Add(i * 10), 0);
        if (i == 0) inlineStart = array.Items();
    }
    EXPECT_EQ(array.GetSize(), 8);
    EXPECT_EQ(array.Items(), inlineStart);
    ASSERT_EQ(array.Add(80), 0);
    EXPECT_EQ(array.GetSize(), 16);
    EXPECT_NE(array.Items(), inlineStart);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(array[i], i * 10);
    EXPECT_EQ(array.LastItem(), 80);
}

TEST(IntArray, SetSizeToCurrentSizeKeepsElementsAndClearsCount) {
    QNL_intArray array = Ints({1, 2, 3});
    const int size = array.GetSize();
    ASSERT_EQ(array.SetSize(size), 0);
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_EQ(array[0], 1);
    EXPECT_EQ(array[2], 3);
    EXPECT_EQ(array.SetSize(-1), -2);
    ASSERT_EQ(array.SetSize(20), 0);
    EXPECT_EQ(array.GetSize(), 20);
    EXPECT_EQ(array.SetSizeAtLeast(5), 0);
    EXPECT_EQ(array.GetSize(), 20);
}

TEST(IntArray, ListOperationsWorkOnItemsInUseOnly) {
    QNL_intArray array;
    EXPECT_EQ(array.FindPosition(0), -2);
    EXPECT_EQ(array.IsInList(0), 0);
    array = Ints({5, 6, 7});
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
    QNL_intArray array = Ints({10, 20, 30});
    EXPECT_EQ(array.Reorder(Ints({0, 0, 1})), -2);
    EXPECT_EQ(array.Reorder(Ints({0, 3, 1})), -2);
    EXPECT_EQ(array.Reorder(Ints({1, 0})), -2);
    EXPECT_EQ(array, Ints({10, 20, 30}));
    ASSERT_EQ(array.Reorder(Ints({2, 0, 1})), 0);
    EXPECT_EQ(array, Ints({30, 10, 20}));
    // An order as long as the size (not the count) permutes the whole vector.
    QNL_intArray vector;
    vector.SetSize(3);
    vector[0] = 1, vector[1] = 2, vector[2] = 3;
    ASSERT_EQ(vector.Reorder(Ints({2, 1, 0})), 0);
    EXPECT_EQ(vector[0], 3);
    EXPECT_EQ(vector[2], 1);
    QNL_intArray empty;
    EXPECT_EQ(empty.Reorder(QNL_intArray()), 0);
}

TEST(IntArray, CopiesAreDeepAndSwapMovesEveryStorageKind) {
    QNL_intArray big;
    for (int i = 0; i < 20; ++i) big.Add(i);
    QNL_intArray copy(big);
    copy[0] = 99;
    EXPECT_EQ(big[0], 0);

    QNL_intArray small = Ints({7, 8});
    const int* bigBlock = big.Items();
    small.Swap(big); // heap <-> inline
    EXPECT_EQ(small.Items(), bigBlock);
    EXPECT_EQ(small.GetCount(), 20);
    EXPECT_EQ(big, Ints({7, 8}));
    big.Swap(small); // inline <-> heap
    EXPECT_EQ(big.GetCount(), 20);
    EXPECT_EQ(big[19], 19);

    QNL_intArray a = Ints({1}), b = Ints({2, 3});
    a.Swap(b); // inline <-> inline
    EXPECT_EQ(a, Ints({2, 3}));
    EXPECT_EQ(b, Ints({1}));

    QNL_intArray other;
    for (int i = 0; i < 30; ++i) other.Add(-i);
    other.Swap(copy); // heap <-> heap
    EXPECT_EQ(other[0], 99);
    EXPECT_EQ(copy[29], -29);
}

TEST(IntArray, VectorOperationsCoverTheWholeSize) {
    QNL_intArray a;
    a.SetSize(4);
    EXPECT_EQ(a.FillWith(3), 4);
    QNL_intArray b;
    b.SetSize(2);
    b.FillWith(9);
    a.CopyPrefix(b);
    EXPECT_EQ(a[0], 9);
    EXPECT_EQ(a[1], 9);
    EXPECT_EQ(a[2], 3);
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
    QNL_doubleArray two;
    two.SetSize(2);
    two.Add(1), two.Add(2);
    two.Add(3);
    EXPECT_EQ(two.GetSize(), 4);
    QNL_doubleArray three;
    three.SetSize(3);
    three.Add(1), three.Add(2), three.Add(3);
    three.Add(4);
    EXPECT_EQ(three.GetSize(), 6);
    EXPECT_DOUBLE_EQ(three[3], 4);
    three.CleanUp();
    EXPECT_EQ(three.Items(), nullptr);
    EXPECT_EQ(three.SetSize(0), 0);
    EXPECT_EQ(three.Items(), nullptr);
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
    QNL_doubleArray wantsTen;
    wantsTen.SetSize(10);
    EXPECT_EQ(wantsTen.Items(), block10);
    QNL_doubleArray wantsEight;
    wantsEight.SetSize(8);
    EXPECT_EQ(wantsEight.Items(), block30);
}

TEST(DoubleArray, ReorderAndSwapBehaveLikeTheIntegerArray) {
    QNL_doubleArray values;
    for (double v : {0.1, 0.2, 0.3, 0.4, 0.5}) values.Add(v);
    QNL_intArray order;
    for (int i : {4, 3, 2, 1, 0}) order.Add(i);
    ASSERT_EQ(values.Reorder(order), 0);
    EXPECT_DOUBLE_EQ(values[0], 0.5);
    QNL_doubleArray empty;
    values.Swap(empty);
    EXPECT_EQ(values.Items(), nullptr);
    EXPECT_EQ(values.GetSize(), 0);
    EXPECT_EQ(empty.GetCount(), 5);
}

} // namespace
