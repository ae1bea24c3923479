// The logical units on device pixels, by tables and without a window: cells tile a surface
// exactly, boxes beyond it are clipped, pointer positions come back in twips then in logical
// units, changes merge into a few strips, and pending boxes fill exactly their pixels.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/PendingBoxes.h"

namespace digitmosaic {
namespace {

// Every grid the program draws, on surfaces of many sizes and ratios: the cells along the diagonal
// (then the bottom row) share their edges and cover the surface from edge to edge.
TEST(PixelGrid, CellsTileEverySurfaceExactly) {
    const int surfaces[][2] = {{1920, 1080}, {3840, 2160}, {1366, 768}, {641, 479},
                               {358, 299},   {480, 300},   {695, 390},  {1280, 1024}};
    for (const auto& [width, height] : surfaces) {
        for (int rows = 40, columns = 48; rows <= 299; rows += 37, columns = 6 * rows / 5) {
            SCOPED_TRACE(testing::Message() << columns << "x" << rows << " on " << width);
            PixelGrid grid;
            grid.Resize(width, height, 96, 96);
            grid.SetLogicalScale(0, 0, columns, rows);
            Strip last{0, 0, 0, 0};
            for (int col = 0; col < columns; ++col) {
                const auto box = grid.Box(float(col), float(std::min(col, rows - 1)), 1, 1);
                ASSERT_TRUE(box && box->left == last.right) << "column " << col;
                ASSERT_EQ(box->top, col < rows ? last.bottom : last.top) << "row " << col;
                last = *box;
            }
            EXPECT_EQ(std::pair(last.right, last.bottom), std::pair(width, height));
        }
    }
}

// Boxes beyond the surface are clipped and empty ones cover nothing. Pointer positions come back
// in twips until a scale is set (15 a pixel at 96 dots per inch, 7.5 at 192), then in logical
// units; each axis by its own size.
TEST(PixelGrid, BoxesAreClippedAndPointerPositionsComeBackInTwipsThenInLogicalUnits) {
    PixelGrid grid;
    grid.Resize(200, 50, 96, 192);
    EXPECT_EQ(std::pair(grid.LogicalX(100), grid.LogicalY(50)), std::pair(1500.F, 375.F));
    EXPECT_EQ(TwipsPerPixel(0), 15);
    grid.SetLogicalScale(0, 0, 20, 10);
    EXPECT_EQ(std::pair(grid.LogicalX(50), grid.LogicalY(30)), std::pair(5.F, 6.F));
    const float outside[][3] = {{-3, 2, 1}, {25, 2, 1}, {2, -40, 1}, {2, 1e9F, 1}, {2, 2, 0}};
    for (const auto& [x, y, dx] : outside)
        EXPECT_EQ(grid.Box(x, y, dx, 1), std::nullopt) << x << "," << y;
    EXPECT_EQ(grid.Box(-1, 9, 2, 5), (Strip{0, 45, 10, 50}));  // over the bottom-left corner
}

// A row of boxes, then boxes scattered (beyond the bounds at times) until past 32 strips they
// become their bounding box: nothing drawn is ever left out, merged or overflowing the list. All
// of a surface marked is one strip.
TEST(DirtyStrips, NeverLoseABox) {
    DirtyStrips dirty;
    std::mt19937 scatter(3);
    std::vector<Strip> drawn;
    for (int i = 0; i < 100; ++i) {
        const int x = i < 10 ? 10 * i : 20 * i % 990, y = i < 10 ? 20 : int(scatter() % 90);
        dirty.Mark(drawn.emplace_back(Strip{x, y, x + 10, y + 10}));
        ASSERT_LE(dirty.Strips().size(), 32U);
        for (const Strip& box : drawn)
            ASSERT_TRUE(std::any_of(dirty.Strips().begin(), dirty.Strips().end(),
                                    [&](const Strip& s) { return United(s, box) == s; }))
                << "box " << box.left << "," << box.top << " lost";
    }
    dirty.MarkAll(640, 480);
    EXPECT_EQ(dirty.Strips(), (std::vector<Strip>{{0, 0, 640, 480}}));
}

// Rows and scattered cells, filled into pixels with a stride wider than the surface: each pixel
// takes the colour of the last box over it, nothing outside changes, and the packed colour's
// channels land where a 32-bit image keeps them.
TEST(PendingBoxes, FillExactlyTheirPixelsInTheirColours) {
    constexpr int kWidth = 97, kHeight = 61, kStride = 104;
    PendingBoxes boxes;
    boxes.Grid().Resize(kWidth, kHeight, 96, 96);
    boxes.Grid().SetLogicalScale(0, 0, 48, 40);
    std::vector<Pixel> pixels(kStride * kHeight, 0xFF000000U), expected = pixels;
    std::mt19937 scatter(7);
    for (int i = 0; i < 300; ++i) {
        const int x = i < 48 ? i : int(scatter() % 52) - 2;
        const int y = i < 48 ? 3 : int(scatter() % 44) - 2;
        const PackedColor color = PackRgb(i % 256, (7 * i) % 256, 255 - i % 256);
        boxes.Draw(float(x), float(y), 1, 1, color);
        const auto box = boxes.Grid().Box(float(x), float(y), 1, 1);
        for (int py = box ? box->top : 0; box && py < box->bottom; ++py)
            std::fill_n(&expected[py * kStride + box->left], box->right - box->left,
                        PixelOf(color));
    }
    boxes.FillInto(pixels.data(), kStride, kWidth, kHeight);
    EXPECT_EQ(pixels, expected);
    EXPECT_EQ(PixelOf(PackRgb(0x12, 0x34, 0x56)), 0xFF123456U);
}

}  // namespace
}  // namespace digitmosaic
