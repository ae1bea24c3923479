// The logical units on device pixels, by tables and without a window: cells tile a surface
// exactly, boxes beyond it are clipped, pointer positions come back in twips then in logical
// units, changes merge into a few strips, and pending boxes fill exactly their pixels.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "geometry/PendingBoxes.h"

namespace digitmosaic {
namespace {

// Every cell of every grid the program draws, on surfaces of many sizes and ratios: the cells
// share their edges (no gap, no overlap), cover the surface from edge to edge, and no cell is
// more than a pixel wider or taller than another.
TEST(PixelGrid, CellsTileEverySurfaceExactly) {
    const int surfaces[][2] = {{1920, 1080}, {3840, 2160}, {1366, 768}, {641, 479},
                               {358, 299},   {480, 300},   {695, 390},  {1280, 1024}};
    for (const auto& [width, height] : surfaces) {
        for (int rows = 40; rows <= 299; rows += 37) {
            const int columns = 6 * rows / 5;
            SCOPED_TRACE(testing::Message()
                         << columns << "x" << rows << " on " << width << "x" << height);
            PixelGrid grid;
            grid.Resize(width, height, 96, 96);
            grid.SetLogicalScale(0, 0, columns, rows);
            int lastRight = 0, lastBottom = 0;
            for (int col = 0; col < columns; ++col) {
                const auto box = grid.Box(float(col), 0, 1, 1);
                ASSERT_TRUE(box || width < columns) << "column " << col;
                if (!box) continue;
                ASSERT_EQ(box->left, lastRight) << "column " << col;
                ASSERT_LE(box->right - box->left, width / columns + 1);
                ASSERT_GE(box->right - box->left, width / columns);
                lastRight = box->right;
            }
            for (int row = 0; row < rows; ++row) {
                const auto box = grid.Box(0, float(row), 1, 1);
                ASSERT_TRUE(box || height < rows) << "row " << row;
                if (!box) continue;
                ASSERT_EQ(box->top, lastBottom) << "row " << row;
                ASSERT_LE(box->bottom - box->top, height / rows + 1);
                ASSERT_GE(box->bottom - box->top, height / rows);
                lastBottom = box->bottom;
            }
            EXPECT_EQ(lastRight, width);
            EXPECT_EQ(lastBottom, height);
        }
    }
}

TEST(PixelGrid, BoxesAreClippedToTheSurfaceAndEmptyOnesCoverNothing) {
    PixelGrid grid;
    grid.Resize(200, 100, 96, 96);
    grid.SetLogicalScale(0, 0, 20, 10);
    EXPECT_EQ(grid.Box(-3, 2, 1, 1), std::nullopt);
    EXPECT_EQ(grid.Box(25, 2, 1, 1), std::nullopt);
    EXPECT_EQ(grid.Box(2, -40, 1, 1), std::nullopt);
    EXPECT_EQ(grid.Box(2, 1e9F, 1, 1), std::nullopt);
    EXPECT_EQ(grid.Box(2, 2, 0, 1), std::nullopt);
    EXPECT_EQ(grid.Box(-1, 9, 2, 5), (Strip{0, 90, 10, 100}));   // over the bottom-left corner
    EXPECT_EQ(grid.Box(3, 4, -1, -2), (Strip{20, 20, 30, 40}));  // drawn backwards
    // A scale that does not start at 0, and one that runs upwards.
    grid.SetLogicalScale(10, 5, 30, 15);
    EXPECT_EQ(grid.Box(10, 5, 1, 1), (Strip{0, 0, 10, 10}));
    grid.SetLogicalScale(0, 10, 20, 0);
    EXPECT_EQ(grid.Box(0, 10, 1, -1), (Strip{0, 0, 10, 10}));
}

// Twips until a scale is set (15 a pixel at 96 dots per inch, 7.5 at 192), then logical units;
// each axis by its own size.
TEST(PixelGrid, PointerPositionsComeBackInTwipsThenInLogicalUnits) {
    PixelGrid grid;
    grid.Resize(400, 300, 96, 192);
    EXPECT_FLOAT_EQ(grid.LogicalX(200), 3000);
    EXPECT_FLOAT_EQ(grid.LogicalY(100), 750);
    grid.SetLogicalScale(0, 0, 48, 40);
    EXPECT_FLOAT_EQ(grid.LogicalX(100), 12);
    EXPECT_FLOAT_EQ(grid.LogicalY(225), 30);
    EXPECT_EQ(TwipsPerPixel(96), 15);
    EXPECT_EQ(TwipsPerPixel(0), 15);
}

// A row merges into one strip, a column into one, a spiral's ring into its four sides; past
// 32 strips they become their bounding box. Nothing drawn is ever left out.
TEST(DirtyStrips, MergeRowsAndColumnsAndNeverLoseABox) {
    DirtyStrips dirty;
    for (int x = 0; x < 100; x += 10) dirty.Mark({x, 20, x + 10, 30});
    EXPECT_EQ(dirty.Strips(), (std::vector<Strip>{{0, 20, 100, 30}}));
    dirty.Clear();
    for (int y = 0; y < 50; y += 5) dirty.Mark({40, y, 45, y + 5});
    EXPECT_EQ(dirty.Strips(), (std::vector<Strip>{{40, 0, 45, 50}}));
    dirty.Clear();
    std::mt19937 scatter(3);
    std::vector<Strip> drawn;
    for (int i = 0; i < 100; ++i) {
        const int x = int(scatter() % 90), y = int(scatter() % 90);
        drawn.push_back({x, y, x + 10, y + 10});
        dirty.Mark(drawn.back());
        ASSERT_LE(dirty.Strips().size(), 32U);
        for (const Strip& box : drawn) {
            bool covered = false;
            for (const Strip& strip : dirty.Strips()) {
                covered = covered || United(strip, box) == strip;
            }
            ASSERT_TRUE(covered) << "box " << box.left << "," << box.top << " lost";
        }
    }
    dirty.MarkAll(640, 480);
    EXPECT_EQ(dirty.Strips(), (std::vector<Strip>{{0, 0, 640, 480}}));
}

// Rows, ring sides and scattered cells, filled into pixels with a stride wider than the
// surface: each pixel takes the colour of the last box over it, nothing outside changes, and
// the packed colour's channels land where a 32-bit image keeps them.
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
        if (const auto box = boxes.Grid().Box(float(x), float(y), 1, 1)) {
            for (int py = box->top; py < box->bottom; ++py) {
                for (int px = box->left; px < box->right; ++px) {
                    expected[py * kStride + px] = PixelOf(color);
                }
            }
        }
    }
    boxes.FillInto(pixels.data(), kStride, kWidth, kHeight);
    EXPECT_EQ(pixels, expected);
    EXPECT_EQ(PixelOf(PackRgb(0x12, 0x34, 0x56)), 0xFF123456U);
}

}  // namespace
}  // namespace digitmosaic
