#include "formats/format_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace format_test;

class XmlDisplaySize : public FormatTest {
protected:
    XmlDisplaySize() : FormatTest("xml_display_size", ".xqnl") {}
};

// A node's screen rectangle, odd, even, zero or negative in either direction, comes back
// from the file exactly as it was stored.
TEST_F(XmlDisplaySize, EveryNodeSizeSurvivesAWriteAndARead) {
    const struct {
        int x, y, width, height;
    } rectangles[] = {
        {60, 40, 100, 40}, {7, -3, 5, 3}, {60, 40, -100, -40}, {7, -3, -5, 3},
        {-11, 9, 4, -7},   {0, 0, 0, 0},  {-1, -1, -1, -1},
    };
    int count = 0;
    for (const auto& r : rectangles) {
        const int node = network.AddNode(QNL_TYPE_CPT, ("N" + std::to_string(count++)).c_str());
        ASSERT_GE(node, 0);
        QNL_rectangle& position = network.GetNode(node)->GetInfo()->screen.position;
        position.x = r.x;
        position.y = r.y;
        position.width = r.width;
        position.height = r.height;
    }
    const std::string path = folder.File("sizes.xqnl");
    ASSERT_EQ(network.WriteFile(path.c_str()), 0);
    QNL_network copy;
    ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages();
    count = 0;
    for (const auto& r : rectangles) {
        const std::string id = "N" + std::to_string(count++);
        const QNL_node* node = copy.GetNode(copy.FindNode(id.c_str()));
        ASSERT_NE(node, nullptr);
        const QNL_rectangle& back = node->GetInfo()->screen.position;
        EXPECT_TRUE(back.x == r.x && back.y == r.y && back.width == r.width &&
                    back.height == r.height)
            << id << ": " << back.x << " " << back.y << " " << back.width << " " << back.height;
    }
}

} // namespace
