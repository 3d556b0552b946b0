#include "model/rectangle.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

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

TEST(Rectangle, CopiesAndMergesTakeNumbersOnlyFromValidSources) {
    QNL_rectangle target;
    ASSERT_EQ(target.Assign(Rect(1, 2, 3, 4)), 0);
    EXPECT_EQ(target.Assign(InvalidRectangle()), -567);
    EXPECT_EQ(target.Merge(InvalidRectangle()), -567);
    EXPECT_EQ(Of(target), (Box{1, 2, 3, 4}));
    EXPECT_EQ(Of(QNL_rectangle(InvalidRectangle())), (Box{0, 0, 0, 0}));
    QNL_rectangle sized = Rect(5, 6, 7, 0); // merge fills only a zero width or height
    ASSERT_EQ(sized.Merge(Rect(100, 100, 40, 30)), 0);
    EXPECT_EQ(Of(sized), (Box{5, 6, 7, 30}));

    QNL_rectangleArray array;
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(array.Add(Rect(i, -i, 10 * i, 20 * i)), 0);
    // Its own element, added while the table grows, keeps its numbers.
    ASSERT_EQ(array.Add(array.GetRectangle(3)), 0);
    ASSERT_EQ(array.Add(InvalidRectangle()), 0);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(Of(array.GetRectangle(i)), (Box{i, -i, 10 * i, 20 * i}));
    EXPECT_EQ(Of(array.GetRectangle(30)), (Box{3, -3, 30, 60}));
    for (int outside : {31, -1, 32, 40})
        EXPECT_EQ(Of(array.GetRectangle(outside)), (Box{0, 0, 0, 0})) << outside;

    auto source = std::make_unique<QNL_screenComments>();
    ASSERT_EQ(source->Add(Rect(10, 20, 100, 40), "Sensor block"), 0);
    ASSERT_EQ(source->Add(Rect(0, 0, 5, 5), nullptr), 0);
    const QNL_screenComments copy(*source);
    source.reset();
    ASSERT_EQ(copy.GetTexts().GetCount(), 2);
    EXPECT_STREQ(copy.GetTexts().GetString(0), "Sensor block");
    EXPECT_EQ(copy.GetTexts().GetString(1), nullptr);
    EXPECT_EQ(Of(copy.GetRectangles().GetRectangle(0)), (Box{10, 20, 100, 40}));
}

} // namespace
