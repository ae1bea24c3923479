// The spiral walker on its own and inside the painter: the order of its cells, full and exact
// coverage of every grid the program draws, and its quiet run during raster pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>

#include "FakeHost.h"
#include "picture/PictureLoop.h"
#include "picture/Spiral.h"

namespace digitmosaic::testing {
namespace {

using Cell = std::pair<int, int>;  // (column, row)

PictureState Grid(int width, int height) {
    PictureState state;
    state.GridWidth = width;
    state.GridHeight = static_cast<std::int16_t>(height);
    return state;
}

// The first `count` cells of the walk, the start cell first.
std::vector<Cell> Walk(int width, int height, int count) {
    PictureState state = Grid(width, height);
    StartSpiral(state);
    std::vector<Cell> cells;
    for (int i = 0; i < count; ++i) {
        cells.emplace_back(state.CellX, state.CellY);
        StepSpiral(state);
    }
    return cells;
}

// Every cell on the straight runs between consecutive corners, the first corner included.
std::vector<Cell> Runs(const std::vector<Cell>& corners) {
    std::vector<Cell> cells{corners.front()};
    for (std::size_t i = 1; i < corners.size(); ++i) {
        Cell at = corners[i - 1];
        const Cell to = corners[i];
        while (at != to) {
            at.first += (to.first > at.first) - (to.first < at.first);
            at.second += (to.second > at.second) - (to.second < at.second);
            cells.push_back(at);
        }
    }
    return cells;
}

TEST(Spiral, FiveByThreeWalk) {
    const std::vector<Cell> expected{{1, 1}, {2, 1}, {3, 1}, {3, 0}, {2, 0}, {1, 0}, {0, 0}, {0, 1},
                                     {0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 2}, {4, 1}, {4, 0}};
    EXPECT_EQ(Walk(5, 3, 15), expected);
}

TEST(Spiral, SmallestPictureOpensRightUpLeftDownRight) {
    const std::vector<Cell> expected =
        Runs({{20, 20}, {28, 20}, {28, 19}, {19, 19}, {19, 21}, {29, 21}, {29, 18}});
    EXPECT_EQ(Walk(48, 40, int(expected.size())), expected);
}

TEST(Spiral, CoversEveryGridOfTheProgramExactlyOnce) {
    for (int height = 40; height <= 299; ++height) {
        const int width = 6 * height / 5;
        const std::vector<Cell> cells = Walk(width, height, width * height);
        std::vector<int> visits(std::size_t(width * height), 0);
        for (const auto& [x, y] : cells) {
            ASSERT_TRUE(x >= 0 && x < width && y >= 0 && y < height)
                << width << " x " << height << " left the grid at (" << x << ", " << y << ")";
            ++visits[std::size_t(y * width + x)];
        }
        ASSERT_EQ(std::ranges::count(visits, 1), width * height) << width << " x " << height;
        // It ends in a corner: bottom-left for an even height, top-right for an odd one.
        const Cell lastCorner = height % 2 == 0 ? Cell{0, height - 1} : Cell{width - 1, 0};
        EXPECT_EQ(cells.back(), lastCorner) << width << " x " << height;
    }
}

// Paints a spiral picture through the host and checks its boxes against the walk.
void CheckSpiralPicture(int width, int height, bool average) {
    FakeHost host;
    host.randoms.assign(10, 0.5F);
    PictureState state = Grid(width, height);
    state.Running = true;
    state.SpiralMode = true;
    state.AverageMode = average;
    state.NumberBase = 3;
    state.NextNumber = 1;
    DrawPicture(state, host);

    const std::vector<Cell> walk = Walk(width, height, width * height);
    ASSERT_EQ(host.boxes.size(), walk.size());
    std::set<Cell> painted;
    for (std::size_t i = 0; i < walk.size(); ++i) {
        const Box& box = host.boxes[i];
        EXPECT_EQ(Cell(int(box.x), int(box.y)), walk[i]) << "box " << i;
        EXPECT_EQ(box.dx, 1);
        EXPECT_EQ(box.dy, 1);
        painted.emplace(int(box.x), int(box.y));
    }
    EXPECT_EQ(painted.size(), std::size_t(width * height));
    EXPECT_EQ(host.BoxesPerPump(), std::vector<int>(std::size_t(height), width));
}

TEST(DrawPicture, SpiralPicturePaintsTheWalkFromItsStartCell) {
    CheckSpiralPicture(5, 3, false);
    CheckSpiralPicture(48, 40, false);
    CheckSpiralPicture(48, 40, true);
    CheckSpiralPicture(358, 299, false);
}

// In a raster picture the walker still steps after every cell, from the raster position
// the painter put it on.
TEST(DrawPicture, RasterPictureStillStepsTheWalker) {
    for (const auto& [width, height] : {Cell{48, 40}, Cell{5, 3}, Cell{61, 51}}) {
        FakeHost host;
        host.randoms.assign(10, 0.25F);
        PictureState state = Grid(width, height);
        state.Running = true;
        state.NumberBase = 10;
        state.NextNumber = 1;
        DrawPicture(state, host);

        PictureState walker = Grid(width, height);
        StartSpiral(walker);
        for (int row = 0; row < height; ++row) {
            for (int col = 0; col < width; ++col) {
                walker.CellX = col;
                walker.CellY = row;
                StepSpiral(walker);
            }
        }
        const auto walkerOf = [](const PictureState& s) {
            return std::vector<int>{s.CellX,      s.CellY,       s.SpiralTop,    s.SpiralBottom,
                                    s.SpiralLeft, s.SpiralRight, s.SpiralHeading};
        };
        EXPECT_EQ(walkerOf(state), walkerOf(walker)) << width << " x " << height;
    }
}

}  // namespace
}  // namespace digitmosaic::testing
