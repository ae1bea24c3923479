// The two cell-colour sources: the digit stream of consecutive numbers and the average
// colour of one number's digits.
#include <gtest/gtest.h>

#include "FakeHost.h"
#include "picture/DigitColors.h"
#include "picture/PictureLoop.h"

namespace digitmosaic::testing {
namespace {

PictureState StateAt(int base, std::int32_t nextNumber) {
    PictureState state;
    state.NumberBase = static_cast<std::int16_t>(base);
    state.NextNumber = nextNumber;
    return state;
}

struct Stream {
    int base;
    std::int32_t start;
    std::string digits;  // the concatenated numbers, most significant digit first
    std::int32_t nextAfter;
    int waitingAfter;
};

void PrintTo(const Stream& s, std::ostream* out) { *out << "base" << s.base << "_from" << s.start; }

class DigitStream : public ::testing::TestWithParam<Stream> {};

TEST_P(DigitStream, GivesThePaletteColourOfEachDigitInTurn) {
    const Stream& s = GetParam();
    PictureState state = StateAt(s.base, s.start);
    for (int i = 0; i < 10; ++i) {
        state.Palette[std::size_t(i)] = 1000 + i;
    }
    for (std::size_t i = 0; i < s.digits.size(); ++i) {
        EXPECT_EQ(NextDigitColor(state), 1000 + (s.digits[i] - '0')) << "digit " << i;
    }
    EXPECT_EQ(state.NextNumber, s.nextAfter);
    EXPECT_EQ(state.DigitCount, s.waitingAfter);
}

INSTANTIATE_TEST_SUITE_P(
    NextDigitColor, DigitStream,
    ::testing::Values(Stream{10, 98, "98991", 101, 2},
                      Stream{2, 1,
                             "1"
                             "10"
                             "11"
                             "100"
                             "101"
                             "110"
                             "111"
                             "1000",
                             9, 0},
                      Stream{7, 6,
                             "6"
                             "10"
                             "11"
                             "12",
                             10, 0},
                      Stream{10, 20000, "2000020001200", 20003, 2},
                      // The largest number a picture reaches, 17 binary digits.
                      Stream{2, 127041,
                             "11111000001000001"
                             "1",
                             127043, 16}));

struct Average {
    int base;
    std::int32_t number;
    std::vector<std::pair<int, PackedColor>> palette;  // the rest stay 0
    PackedColor expected;
};

void PrintTo(const Average& a, std::ostream* out) {
    *out << "base" << a.base << "_number" << a.number;
}

class AverageColour : public ::testing::TestWithParam<Average> {};

TEST_P(AverageColour, IsTheMeanOfTheDigitColoursRoundedDown) {
    const Average& a = GetParam();
    PictureState state = StateAt(a.base, a.number);
    for (const auto& [digit, color] : a.palette) {
        state.Palette[std::size_t(digit)] = color;
    }
    EXPECT_EQ(AverageDigitColor(state), a.expected);
    EXPECT_EQ(state.NextNumber, a.number + 1);  // exactly one number per call
}

INSTANTIATE_TEST_SUITE_P(
    AverageDigitColor, AverageColour,
    ::testing::Values(
        Average{10, 7, {{7, 0x123456}}, 0x123456},                      // one digit
        Average{10, 12, {{1, 255}, {2, 65280}}, PackRgb(127, 127, 0)},  // red + green
        Average{10, 100, {{1, 255}, {0, 0}}, PackRgb(85, 0, 0)},        // 255 div 3
        Average{10, 13, {{1, PackRgb(0, 0, 255)}, {3, PackRgb(10, 20, 200)}}, PackRgb(5, 10, 227)},
        Average{10, 77, {{7, PackRgb(255, 255, 255)}}, PackRgb(255, 255, 255)},  // twice counts
        Average{2, 5, {{1, PackRgb(30, 60, 91)}}, PackRgb(20, 40, 60)},          // 101: 2 of 3
        Average{8, 15001, {{3, 0xFFFFFF}, {5, 0x010101}}, PackRgb(102, 102, 102)}));

TEST(AverageDigitColor, DiscardsDigitsStillWaitingAndUsesConsecutiveNumbers) {
    PictureState state = StateAt(10, 98);
    state.Palette = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    EXPECT_EQ(NextDigitColor(state), 90);         // 9 of 98; the 8 waits
    EXPECT_EQ(AverageDigitColor(state), 90);      // 99, not the waiting 8
    EXPECT_EQ(AverageDigitColor(state), 10 / 3);  // 100
    EXPECT_EQ(AverageDigitColor(state), 20 / 3);  // 101
    EXPECT_EQ(state.NextNumber, 102);
}

TEST(DrawPicture, AveragePictureTakesOneNumberPerCell) {
    FakeHost host;
    for (int i = 0; i < 10; ++i) {
        host.randoms.push_back(static_cast<float>(i) / 16);  // palette: digit i is blue 16 i
    }
    PictureState state = StateAt(10, 95);
    state.Running = true;
    state.AverageMode = true;
    state.GridWidth = 6;
    state.GridHeight = 5;
    DrawPicture(state, host);
    EXPECT_EQ(state.NextNumber, 95 + 30);
    ASSERT_EQ(host.boxes.size(), 30U);
    EXPECT_EQ(host.boxes.front(), (Box{0, 0, 1, 1, PackRgb(0, 0, (144 + 80) / 2)}));     // 95
    EXPECT_EQ(host.boxes[5], (Box{5, 0, 1, 1, PackRgb(0, 0, (16 + 0 + 0) / 3)}));        // 100
    EXPECT_EQ(host.boxes.back(), (Box{5, 4, 1, 1, PackRgb(0, 0, (16 + 32 + 64) / 3)}));  // 124
}

}  // namespace
}  // namespace digitmosaic::testing
