#include "model/rectangle.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Box = std::array<int, 4>;

QNL_rectangle Rect(int x, int y, int width, int height) {
    QNL_rectangle r;
    r.x = x, r.y = y, r.width = width, r.height = height;
    return r;
}

Box Of(const QNL_rectangle& r) {
    return {r.x, r.y, r.width, r.height};
}

// A rectangle whose valid bit is clear, holding numbers that must not be copied.
struct InvalidRectangle : QNL_rectangle {
    InvalidRectangle() {
        x = y = width = height = 77;
        status &= ~STATUS_VALID;
    }
};

// Merging and copying are shown with the screen information and submodel copies; what is
// left is the array: its own element added while the table grows, an invalid source copied
// as zeros, zeros outside the items.
TEST(RectangleArray, KeepsItsOwnElementWhileGrowingAndAnswersZeroOutside) {
    QNL_rectangleArray array;
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(array.Add(Rect(i, -i, 10 * i, 20 * i)), 0);
    ASSERT_EQ(array.Add(array.GetRectangle(3)), 0);
    ASSERT_EQ(array.Add(InvalidRectangle()), 0);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(Of(array.GetRectangle(i)), (Box{i, -i, 10 * i, 20 * i}));
    EXPECT_EQ(Of(array.GetRectangle(30)), (Box{3, -3, 30, 60}));
    for (int outside : {31, -1, 32, 40})
        EXPECT_EQ(Of(array.GetRectangle(outside)), (Box{0, 0, 0, 0})) << outside;
    QNL_rectangle target = Rect(1, 2, 3, 4);
    EXPECT_EQ(target.Assign(InvalidRectangle()), -567);
    EXPECT_EQ(Of(target), (Box{1, 2, 3, 4}));
}

} // namespace
