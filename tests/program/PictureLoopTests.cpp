// The picture loop and the painter: how the six random draws become a picture's parameters,
// the grid width for every height, and the order of palette, scale, boxes and event pumps.
#include <gtest/gtest.h>

#include <cstdint>

#include "FakeHost.h"
#include "picture/PictureLoop.h"

namespace digitmosaic::testing {
namespace {

using Calls = std::vector<std::string>;

// Runs the loop until its first PumpEvents and returns the state as it was there.
PictureState LoopUntilFirstPump(FakeHost& host, PictureState& state) {
    PictureState atPump;
    host.onPump = [&] {
        atPump = state;
        host.EndProgram();
    };
    state.Running = true;
    EXPECT_THROW(PictureLoop(state, host), ProgramEnded);
    return atPump;
}

struct Draws {
    const char* name;
    float unit;  // every draw of the picture
    int base, height, width;
    bool average, spiral;
    std::int32_t nextAtPump;  // after the first row
    int digitCountAtPump;
    PackedColor palette;
    Box firstBox;
};

void PrintTo(const Draws& d, std::ostream* out) { *out << d.name; }

class PictureDraws : public ::testing::TestWithParam<Draws> {};

TEST_P(PictureDraws, BecomeThePictureParameters) {
    const Draws& d = GetParam();
    FakeHost host;
    host.randoms.assign(kDrawsPerPicture, d.unit);
    PictureState state;
    state.DigitCount = 3;  // leftovers of an earlier picture must not carry over
    state.Digits = {7, 7, 7};
    const PictureState s = LoopUntilFirstPump(host, state);

    EXPECT_EQ(s.NumberBase, d.base);
    EXPECT_EQ(s.GridHeight, d.height);
    EXPECT_EQ(s.GridWidth, d.width);
    EXPECT_EQ(s.AverageMode, d.average);
    EXPECT_EQ(s.SpiralMode, d.spiral);
    EXPECT_EQ(s.NextNumber, d.nextAtPump);
    EXPECT_EQ(s.DigitCount, d.digitCountAtPump);
    for (PackedColor color : s.Palette) {
        EXPECT_EQ(color, d.palette);
    }
    Calls expected(kDrawsPerPicture, "RandomUnit");
    expected.push_back(Call("SetLogicalScale", {0, 0, double(d.width), double(d.height)}));
    expected.push_back("PumpEvents");
    expected.push_back("EndProgram");
    EXPECT_EQ(host.CallsWithout({"DrawBox"}), expected);
    ASSERT_EQ(host.boxes.size(), std::size_t(d.width));
    EXPECT_EQ(host.boxes[0], d.firstBox);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(PictureLoop, PictureDraws, ::testing::Values(
    // name, draw; base, height, width, average, spiral; at the first pump NextNumber and
    // DigitCount; palette colour, first box.
    // All draws 0: base 2, 48 x 40, both switches on, numbers from 1, one per cell.
    Draws{"AllZero", 0.0F, 2, 40, 48, true, true, 1 + 48, 5, 0, {20, 20, 1, 1, 0}},
    // The largest float below 0.5 still turns both switches on.
    Draws{"BelowHalf", 0.49999997F, 6, 169, 202, true, true, 10000 + 202, 5, 8388607,
          {84, 84, 1, 1, 8388607}},
    // 0.5: switches off; 34 six-digit numbers in base 6 fill the first row of 204.
    Draws{"Half", 0.5F, 6, 170, 204, false, false, 10001 + 34, 0, 8388608,
          {0, 0, 1, 1, 8388608}},
    // The largest float below 1: every range at its top; 358 digits of 5-digit numbers.
    Draws{"BelowOne", 0.99999994F, 10, 299, 358, false, false, 20000 + 72, 2, 16777215,
          {0, 0, 1, 1, 16777215}}));
// clang-format on

TEST(PictureLoop, GridWidthIsSixFifthsOfEveryHeight) {
    for (int height = 40; height <= 299; ++height) {
        FakeHost host;
        const float heightDraw = (static_cast<float>(height - 40) + 0.5F) / 260;
        host.randoms = {0.99F, heightDraw, 0.9F, 0.9F, 0.99F};
        host.randoms.insert(host.randoms.end(), 10, 0.0F);
        PictureState state;
        const PictureState s = LoopUntilFirstPump(host, state);
        const int width = 6 * height / 5;
        EXPECT_EQ(s.GridHeight, height);
        EXPECT_EQ(s.GridWidth, width) << "height " << height;
        EXPECT_EQ(host.boxes.size(), std::size_t(width)) << "height " << height;
    }
}

TEST(PictureLoop, DrawsNothingWhileNotRunning) {
    FakeHost host;
    PictureState state;
    PictureLoop(state, host);
    EXPECT_TRUE(host.calls.empty());
}

TEST(PictureLoop, PaintsPictureAfterPictureWithFreshDraws) {
    FakeHost host;
    host.randoms.assign(kDrawsPerPicture, 0.0F);                       // 48 x 40, spiral, average
    host.randoms.insert(host.randoms.end(), kDrawsPerPicture, 0.75F);  // 282 x 235, raster, digits
    PictureState state;
    PictureState atPump;
    host.onPump = [&] {
        if (host.pumps == 41) {  // the second picture's first row
            atPump = state;
            host.EndProgram();
        }
    };
    state.Running = true;
    EXPECT_THROW(PictureLoop(state, host), ProgramEnded);

    Calls expected(kDrawsPerPicture, "RandomUnit");
    expected.push_back("SetLogicalScale(0,0,48,40)");
    expected.insert(expected.end(), kDrawsPerPicture, "RandomUnit");
    expected.insert(expected.end(), {"SetLogicalScale(0,0,282,235)", "EndProgram"});
    EXPECT_EQ(host.CallsWithout({"DrawBox", "PumpEvents"}), expected);
    EXPECT_EQ(host.boxes.size(), 48U * 40 + 282);
    EXPECT_EQ(atPump.NumberBase, 8);
    EXPECT_FALSE(atPump.AverageMode);
    EXPECT_FALSE(atPump.SpiralMode);
    // 282 digits of 15001, 15002, ... (five octal digits each): none left over from the
    // average picture before, whose last number still had digits waiting.
    EXPECT_EQ(atPump.NextNumber, 15001 + 57);
    EXPECT_EQ(atPump.DigitCount, 3);
}

struct Grid {
    int width, height;
};

// Fills a small raster picture; returns the host with the palette i / 16 -> i * 2^20.
FakeHost PaintRaster(Grid grid, std::int32_t firstNumber, int stopAtPump = 0) {
    FakeHost host;
    for (int i = 0; i < 10; ++i) {
        host.randoms.push_back(static_cast<float>(i) / 16);
    }
    PictureState state;
    state.Running = true;
    state.NumberBase = 10;
    state.GridWidth = grid.width;
    state.GridHeight = static_cast<std::int16_t>(grid.height);
    state.NextNumber = firstNumber;
    host.onPump = [&] { state.Running = host.pumps != stopAtPump; };
    DrawPicture(state, host);
    host.onPump = nullptr;  // it refers to this frame
    return host;
}

TEST(DrawPicture, RasterPaintsRowsLeftToRightInDigitColours) {
    const FakeHost host = PaintRaster({4, 3}, 1);
    const std::string digits = "123456789101";  // 1, 2, ... 9, 10, 1(1)
    std::vector<Box> expectedBoxes;
    Calls expected(10, "RandomUnit");
    expected.push_back("SetLogicalScale(0,0,4,3)");
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 4; ++col) {
            const PackedColor color = (digits[std::size_t(row * 4 + col)] - '0') << 20;
            expectedBoxes.push_back({float(col), float(row), 1, 1, color});
            expected.push_back(Call("DrawBox", {double(col), double(row), 1, 1, double(color)}));
        }
        expected.push_back("PumpEvents");
    }
    EXPECT_EQ(host.calls, expected);
    EXPECT_EQ(host.boxes, expectedBoxes);
}

TEST(DrawPicture, PumpsEventsOnceAfterEveryRow) {
    for (const Grid grid : {Grid{48, 40}, Grid{7, 2}, Grid{1, 5}, Grid{358, 299}}) {
        const FakeHost host = PaintRaster(grid, 20000);
        EXPECT_EQ(host.boxes.size(), std::size_t(grid.width * grid.height));
        EXPECT_EQ(host.BoxesPerPump(), std::vector<int>(std::size_t(grid.height), grid.width));
    }
}

TEST(DrawPicture, StopsAfterTheRowInWhichRunningWasCleared) {
    const FakeHost host = PaintRaster({4, 3}, 1, 2);
    EXPECT_EQ(host.boxes.size(), 8U);
    EXPECT_EQ(host.BoxesPerPump(), (std::vector<int>{4, 4}));
    EXPECT_EQ(host.calls.back(), "PumpEvents");
}

}  // namespace
}  // namespace digitmosaic::testing
