#include "model/rectangle.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

QNL_rectangle Rect(int x, int y, int width, int height) {
    QNL_rectangle r;
    r.x = x;
    r.y = y;
    r.width = width;
    r.height = height;
    return r;
}

// A rectangle whose valid bit is clear, holding numbers that must not be copied.
struct InvalidRectangle : QNL_rectangle {
    InvalidRectangle() {
        x = y = width = height = 77;
        status &= ~STATUS_VALID;
    }
};

void ExpectRect(const QNL_rectangle& r, int x, int y, int width, int height) {
    EXPECT_EQ(r.x, x);
    EXPECT_EQ(r.y, y);
    EXPECT_EQ(r.width, width);
    EXPECT_EQ(r.height, height);
}

TEST(Rectangle, CopiesTakeNumbersOnlyFromValidSources) {
    const QNL_rectangle source = Rect(1, 2, 3, 4);
    QNL_rectangle target;
    ASSERT_EQ(target.Assign(source), 0);
    ExpectRect(target, 1, 2, 3, 4);

    const InvalidRectangle broken;
    EXPECT_EQ(target.Assign(broken), -567);
    ExpectRect(target, 1, 2, 3, 4);
    const QNL_rectangle copied(broken);
    ExpectRect(copied, 0, 0, 0, 0);
    EXPECT_TRUE(copied.IsValid());
}

TEST(Rectangle, MergeFillsOnlyZeroWidthAndHeight) {
    QNL_rectangle sized = Rect(5, 6, 7, 0);
    ASSERT_EQ(sized.Merge(Rect(100, 100, 40, 30)), 0);
    ExpectRect(sized, 5, 6, 7, 30);

    QNL_rectangle empty;
    ASSERT_EQ(empty.Merge(Rect(1, 1, 76, 36)), 0);
    ExpectRect(empty, 0, 0, 76, 36);

    QNL_rectangle untouched;
    EXPECT_EQ(untouched.Merge(InvalidRectangle()), -567);
    ExpectRect(untouched, 0, 0, 0, 0);
}

TEST(RectangleArray, OutsideTheTableGivesTheZeroDefault) {
    QNL_rectangleArray array;
    ExpectRect(array.GetRectangle(-1), 0, 0, 0, 0);
    ExpectRect(array.GetRectangle(0), 0, 0, 0, 0);
    ASSERT_EQ(array.Add(Rect(1, 2, 3, 4)), 0);
    ExpectRect(array.GetRectangle(0), 1, 2, 3, 4);
    // Inside the table but beyond the count: a rectangle as constructed.
    ExpectRect(array.GetRectangle(9), 0, 0, 0, 0);
    ExpectRect(array.GetRectangle(10), 0, 0, 0, 0);
    EXPECT_EQ(&array.GetRectangle(-1), &array.GetRectangle(10));
}

TEST(RectangleArray, ElementsSurviveGrowthAcrossTheStep) {
    QNL_rectangleArray array;
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(array.Add(Rect(i, -i, 10 * i, 20 * i)), 0);
        EXPECT_EQ(array.GetSize(), (i / 10 + 1) * 10);
    }
    EXPECT_EQ(array.GetCount(), 25);
    for (int i = 0; i < 25; ++i)
        ExpectRect(array.GetRectangle(i), i, -i, 10 * i, 20 * i);
}

TEST(RectangleArray, AddingItsOwnElementWhileGrowingCopiesTheRightNumbers) {
    QNL_rectangleArray array;
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(array.Add(Rect(i, i, i, i)), 0);
    ASSERT_EQ(array.Add(array.GetRectangle(3)), 0);
    ExpectRect(array.GetRectangle(10), 3, 3, 3, 3);
}

TEST(RectangleArray, InvalidSourceAddsAZeroRectangle) {
    QNL_rectangleArray array;
    ASSERT_EQ(array.Add(InvalidRectangle()), 0);
    EXPECT_EQ(array.GetCount(), 1);
    ExpectRect(array.GetRectangle(0), 0, 0, 0, 0);
}

TEST(ScreenComments, TextsAndRectanglesStayInStepAndCopiesOwnTheirTexts) {
    auto source = std::make_unique<QNL_screenComments>();
    ASSERT_EQ(source->Add(Rect(10, 20, 100, 40), "Sensor block"), 0);
    ASSERT_EQ(source->Add(Rect(0, 0, 5, 5), nullptr), 0);
    const QNL_screenComments copy(*source);
    source.reset();
    EXPECT_EQ(copy.GetCount(), 2);
    EXPECT_EQ(copy.GetTexts().GetCount(), 2);
    EXPECT_STREQ(copy.GetTexts().GetString(0), "Sensor block");
    EXPECT_EQ(copy.GetTexts().GetString(1), nullptr);
    ExpectRect(copy.GetRectangles().GetRectangle(0), 10, 20, 100, 40);
}

} // namespace
