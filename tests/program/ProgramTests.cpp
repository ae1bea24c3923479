// The program code (picture loop, painter, colours, spiral) on a fake host; its start-up and
// input the end-to-end tests drive.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "QuietHost.h"
#include "picture/DigitColors.h"
#include "picture/PictureLoop.h"
#include "picture/Spiral.h"
#include "saver/form1.h"

namespace digitmosaic {
namespace {

struct ProgramEnded {};
using Box = std::array<double, 5>;  // x, y, dx, dy, colour

// The random draws of one picture by name, in the order the loop takes them, then its ten palette
// colours.
struct Draws {
    float base = 0, height = 0, average = 0, spiral = 0, first = 0, palette = 0;
};
constexpr float kBelowHalf = 0.49999997F;  // the largest single below one half
constexpr float kBelowOne = 0.99999994F;   // the largest random unit

// The picture loop on a host that logs its scales and its pumps, each with the boxes drawn so far;
// it plays back the scripted draws and ends the program when they run out.
struct Program final : QuietHost {
    std::vector<float> randoms;
    std::ostringstream log;
    std::vector<Box> boxes;
    PictureState state{.Running = true};

    float RandomUnit() override {
        if (randoms.empty()) throw ProgramEnded{};
        const float next = randoms.front();
        return randoms.erase(randoms.begin()), next;
    }
    void SeedRandom(float) override {}
    float SecondsSinceMidnight() override { return 4321.25F; }
    void PumpEvents() override { log << "Pump@" << boxes.size() << ' '; }
    [[noreturn]] void EndProgram() override { throw ProgramEnded{}; }
    float ScreenWidthTwips() override { return 28800; }  // 1920 x 1080 pixels at 96 dpi
    float ScreenHeightTwips() override { return 16200; }
    void SetLogicalScale(double x1, double y1, double x2, double y2) override {
        log << "SetLogicalScale(" << x1 << ',' << y1 << ',' << x2 << ',' << y2 << ") ";
    }
    void DrawBox(float x, float y, float dx, float dy, PackedColor color) override {
        boxes.push_back({x, y, dx, dy, double(color)});
    }

    void Script(std::initializer_list<Draws> pictures) {
        for (const Draws& d : pictures) {
            randoms.insert(randoms.end(), {d.base, d.height, d.average, d.spiral, d.first});
            randoms.insert(randoms.end(), 10, d.palette);
        }
    }
    // Runs the picture loop until the draws run out; returns its scales and pumps.
    std::string Loop() {
        try {
            PictureLoop(state, *this);
        } catch (const ProgramEnded&) {
        }
        return log.str();
    }
};

// The log of a picture painted up to the given row: its scale, then a pump after every row.
std::string Painted(int width, int height, int rows) {
    std::ostringstream log;
    log << "SetLogicalScale(0,0," << width << ',' << height << ") ";
    for (int row = 1; row <= rows; ++row) log << "Pump@" << row * width << ' ';
    return log.str();
}

// One picture each, at the bottom and the top of every range, and each switch probed from both
// sides of one half. Digits left waiting by an earlier picture do not carry over: 1920 numbers,
// one per cell, or 107042 digits of five-digit ones.
TEST(PictureLoop, DrawsEachRangeFromItsBottomToItsTop) {
    Program low, high, atHalf, belowHalf;
    low.Script({Draws{}});
    high.Script({Draws{kBelowOne, kBelowOne, kBelowOne, kBelowOne, kBelowOne, kBelowOne}});
    low.state.DigitCount = high.state.DigitCount = 3;
    const auto parameters = [](const PictureState& s) {
        return std::tuple(s.NumberBase, s.GridHeight, s.GridWidth, s.AverageMode, s.SpiralMode,
                          s.NextNumber, s.Palette[9]);
    };
    EXPECT_EQ(low.Loop(), Painted(48, 40, 40));
    EXPECT_EQ(high.Loop(), Painted(358, 299, 299));
    EXPECT_EQ(parameters(low.state), std::tuple(2, 40, 48, true, true, 1 + 1920, 0));
    EXPECT_EQ(parameters(high.state), std::tuple(10, 299, 358, false, false, 41409, 16777215));
    EXPECT_EQ(high.boxes.at(360), (Box{2, 1, 1, 1, 16777215}));  // row by row
    atHalf.Script({{.average = 0.5F, .spiral = kBelowHalf}});
    belowHalf.Script({{.average = kBelowHalf, .spiral = 0.5F}});
    atHalf.Loop(), belowHalf.Loop();
    EXPECT_EQ(std::pair(atHalf.state.AverageMode, atHalf.state.SpiralMode), std::pair(false, true));
    EXPECT_EQ(std::pair(belowHalf.state.AverageMode, belowHalf.state.SpiralMode),
              std::pair(true, false));
}

// Digits of consecutive numbers, most significant first; the mean of one number's digit colours
// rounded down (an average picture's cells take one number each: see the low picture above).
TEST(DigitColors, FollowTheDigitsOfConsecutiveNumbers) {
    for (const auto& [base, start, digits, next, waiting] :
         std::vector<std::tuple<int, int, std::string, int, int>>{
             {10, 98, "98991", 101, 2}, {2, 1, "110111001011101111000", 9, 0}}) {
        PictureState s{.NumberBase = std::int16_t(base), .NextNumber = start};
        s.Palette = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
        for (const char digit : digits) EXPECT_EQ(NextDigitColor(s), 10 + digit - '0') << base;
        EXPECT_EQ(std::tuple(s.NextNumber, s.DigitCount), std::tuple(next, waiting));
    }
    for (const auto& [number, mean] : std::vector<std::pair<int, PackedColor>>{
             {7, 0x123456}, {12, PackRgb(127, 127, 0)}, {100, PackRgb(85, 0, 0)}}) {
        PictureState s{.NumberBase = 10, .NextNumber = number};
        s.Palette = {0, 255, 65280, 0, 0, 0, 0, 0x123456};
        EXPECT_EQ(std::pair(AverageDigitColor(s), s.NextNumber), std::pair(mean, number + 1));
    }
}

// The walk on a 5 x 3 grid; then for every height the loop draws, a spiral picture is 6 H / 5
// wide, pumps after every row of boxes, steps between neighbours and covers its grid once.
TEST(Spiral, WalksOutwardsAndCoversEveryGridOfTheProgramOnce) {
    PictureState s{.GridHeight = 3, .GridWidth = 5};
    std::string cells;
    for (StartSpiral(s); cells.size() < 60; StepSpiral(s))
        cells += std::to_string(s.CellX) + ',' + std::to_string(s.CellY) + ' ';
    EXPECT_EQ(cells, "1,1 2,1 3,1 3,0 2,0 1,0 0,0 0,1 0,2 1,2 2,2 3,2 4,2 4,1 4,0 ");
    for (int height = 40; height <= 299; ++height) {
        const int width = 6 * height / 5;
        Program p;
        p.Script({{.height = (height - 39.5F) / 260, .average = .9F, .spiral = .1F}});
        ASSERT_EQ(p.Loop(), Painted(width, height, height));
        std::set<std::pair<double, double>> inside;
        for (Box last = p.boxes.at(0); const Box& b : p.boxes) {
            ASSERT_LE(std::abs(b[0] - last[0]) + std::abs(b[1] - last[1]), 1) << height;
            last = b;
            if (b[0] >= 0 && b[0] < width && b[1] >= 0 && b[1] < height) inside.emplace(b[0], b[1]);
        }
        ASSERT_EQ(inside.size(), std::size_t(width * height)) << height;
    }
}

}  // namespace
}  // namespace digitmosaic
