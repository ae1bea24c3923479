// The real binary in a private Xvfb, driven with xdotool and read back from screenshots of the
// root window.
#include <gtest/gtest.h>  // before Xlib, whose macros would clash with it

#include <signal.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"

namespace {

using namespace e2e;
constexpr int kWidth = 960, kHeight = 540;

// What changed between two screenshots: the cells painted in between.
struct Change {
    int count = 0, left = kWidth, top = kHeight, right = 0, bottom = 0;  // right, bottom excluded
    bool middle = false;
    std::set<std::uint32_t> colours;
};

Change Compare(const Image& before, const Image& after) {
    Change c;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (before.At(x, y) == after.At(x, y)) continue;
            ++c.count, c.colours.insert(after.At(x, y));
            c.left = std::min(c.left, x), c.right = std::max(c.right, x + 1);
            c.top = std::min(c.top, y), c.bottom = y + 1;
        }
    }
    c.middle = before.At(kWidth / 2, kHeight / 2) != after.At(kWidth / 2, kHeight / 2);
    return c;
}

// Raster pictures present a row of cells per refresh: whole screen rows, taller than one cell
// of the coarsest grid. A spiral fills whole screen rows only in its last ring, one cell high
// and with a side of the ring beside them.
bool IsRowBand(const Change& c) {
    return c.count == kWidth * (c.bottom - c.top) && c.bottom - c.top > kHeight / 40 + 1;
}

// Spiral pictures, past their first cells, grow as a ring round an unchanged middle, centred to
// within a cell and clear of the screen's edges.
bool IsRing(const Change& c) {
    return c.count && !c.middle && c.left > 0 && c.top > 0 && c.right < kWidth &&
           c.bottom < kHeight && c.left < kWidth / 2 && c.top < kHeight / 2 &&
           std::abs(c.left + c.right - kWidth) <= 2 * (kWidth / 48 + 1) &&
           std::abs(c.top + c.bottom - kHeight) <= 2 * (kHeight / 40 + 1);
}

// A digit picture shows its palette, at most ten colours. Base-2 averages mix two palette
// colours, so a stretch of them can show as few shades, but all on the line between the two.
bool AreDigitColours(const std::set<std::uint32_t>& colours) {
    const auto channels = [](std::uint32_t c) {
        return std::array{double(c >> 16), double(c >> 8 & 255), double(c & 255)};
    };
    const auto minus = [](auto a, auto b) {
        return std::array{a[0] - b[0], a[1] - b[1], a[2] - b[2]};
    };
    const auto length = [](auto v) { return std::hypot(v[0], v[1], v[2]); };
    if (colours.size() < 2 || colours.size() > 10) return colours.size() == 1;
    const auto a = channels(*colours.begin());
    auto axis = minus(a, a);
    for (auto c : colours)
        if (length(minus(channels(c), a)) > length(axis)) axis = minus(channels(c), a);
    for (auto c : colours) {
        const auto v = minus(channels(c), a);
        const std::array cross{v[1] * axis[2] - v[2] * axis[1], v[2] * axis[0] - v[0] * axis[2],
                               v[0] * axis[1] - v[1] * axis[0]};
        if (length(cross) > 3 * length(axis)) return true;
    }
    return colours.size() == 2;
}

// The saver's binary on an Xvfb of the test's own.
class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(xvfb_.Up()); }

    // The saver with the given arguments on this test's display (or on the one given).
    std::unique_ptr<Child> Run(std::vector<std::string> args, const std::string& display = "") {
        args.insert(args.begin(), SaverBinary());
        return std::make_unique<Child>(
            args,
            std::vector<std::string>{"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM",
                                     "DISPLAY=" + (display.empty() ? xvfb_.Name() : display)});
    }
    std::string Xdotool(const std::string& args) const { return xvfb_.Xdotool(args); }
    Image Screenshot() const { return xvfb_.Screenshot(); }
    // Starts the saver and waits until it paints cells in more than one colour.
    std::unique_ptr<Child> Saver(std::chrono::milliseconds within = 3s) {
        auto saver = Run({"/s"});
        for (const auto end = Clock::now() + within; Clock::now() < end;) {
            if (Screenshot().Colours(0, 0, kWidth, kHeight) > 1) return saver;
        }
        ADD_FAILURE() << "no cells within " << within.count() << " ms: " << saver->Errors();
        return saver;
    }

    XServer xvfb_{{"Xvfb", "-screen", "0", "960x540x24", "-dpi", "96", "-br", "-nolisten", "tcp"}};
};

TEST_F(EndToEnd, SaverParksThePointerCoversTheScreenAndPaintsWithinASecond) {
    auto saver = Saver(1s);
    EXPECT_EQ(Xdotool("getmouselocation --shell").substr(0, 14), "X=959\nY=539\nSC");
    const std::string window =
        Xdotool("search --pid " + std::to_string(saver->Pid()) + " --onlyvisible");
    const std::string geometry = Xdotool("getwindowgeometry --shell " + window);
    EXPECT_NE(geometry.find("X=0\nY=0\nWIDTH=960\nHEIGHT=540\n"), std::string::npos) << geometry;
}

TEST_F(EndToEnd, SaverEndsOnAKeyAClickOrAButtonAtOnce) {
    for (const char* action : {"key a", "click 1", "click 3"}) {
        auto saver = Saver();
        Xdotool(action);
        EXPECT_EQ(saver->Wait(1s), "exit 0") << action;
    }
}

TEST_F(EndToEnd, SaverEndsOnTheThirdMouseMoveNotTheFirstTwo) {
    auto saver = Saver();
    for (const char* point : {"100 100", "300 200"}) {
        Xdotool(std::string("mousemove ") + point);
        EXPECT_EQ(saver->Wait(300ms), "running") << "after the move to " << point;
    }
    Xdotool("mousemove 500 300");
    EXPECT_EQ(saver->Wait(1s), "exit 0");
}

TEST_F(EndToEnd, AboutWindowShowsItsNoticeAndOkEndsIt) {
    auto about = Run({"/c"});
    std::string window;
    for (auto end = Clock::now() + 5s; window.empty() && Clock::now() < end;)
        window = Xdotool("search --sync --onlyvisible --name '^Form2$'");
    ASSERT_FALSE(window.empty()) << about->Errors();
    window.pop_back();
    const std::string geometry = Xdotool("getwindowgeometry --shell " + window);
    EXPECT_NE(geometry.find("WIDTH=214\nHEIGHT=86"), std::string::npos) << geometry;
    Xdotool("mousemove --window " + window + " 20 20 click 1");  // on the notice: nothing
    EXPECT_EQ(about->Wait(300ms), "running");
    Xdotool("mousemove --window " + window + " 104 68 click 1");  // on "OK"
    EXPECT_EQ(about->Wait(2s), "exit 0");
}

TEST_F(EndToEnd, OtherArgumentsEndAtOnceWithoutTouchingTheDisplay) {
    // On a display where nothing listens, a program that opened a window would fail.
    const std::vector<std::vector<std::string>> arguments = {
        {"/S"}, {"/C"}, {"/s "}, {"/c:123"}, {"/p", "1234"}, {""}, {"--help"}, {}};
    for (const auto& args : arguments) {
        auto program = Run(args, ":9999");
        EXPECT_EQ(program->Wait(1s), "exit 0") << args.size();
        EXPECT_EQ(program->Errors(), "");
    }
}

TEST_F(EndToEnd, ASecondInstanceEndsAtOnceAndAKilledOneLeavesNothingBehind) {
    auto first = Saver();
    EXPECT_EQ(Run({"/s"})->Wait(1s), "exit 0");
    EXPECT_EQ(Run({"/c"})->Wait(1s), "exit 0");
    EXPECT_EQ(first->Wait(0ms), "running");
    kill(first->Pid(), SIGKILL);
    first->Wait(1s);
    auto next = Saver();
    EXPECT_EQ(next->Wait(300ms), "running");
}

TEST_F(EndToEnd, WithoutADisplayItSaysSoInOneLineAndEndsWithStatusOne) {
    for (const char* display : {"", ":9999"}) {
        Child program({SaverBinary(), "/s"}, {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM",
                                              std::string("DISPLAY=") + display});
        EXPECT_EQ(program.Wait(5s), "exit 1") << display;
        const std::string errors = program.Errors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_EQ(errors.rfind("digitmosaic: ", 0), 0U) << errors;
    }
}

// Each kind shows up in about half of the pictures, independently: ninety seconds is plenty.
TEST_F(EndToEnd, PicturesGrowAsRowsAndAsRingsInDigitAndAverageColours) {
    auto saver = Saver();
    std::set<std::string> seen;
    Image before = Screenshot();
    for (auto end = Clock::now() + 90s; seen.size() < 4 && Clock::now() < end;) {
        std::this_thread::sleep_for(120ms);
        Image after = Screenshot();
        const Change c = Compare(before, after);
        before = std::move(after);
        if (IsRowBand(c)) seen.insert("raster");
        if (IsRing(c)) seen.insert("spiral");
        if (c.colours.size() > 20) seen.insert("average");
        // Digits need a good stretch of the screen to tell them from base-2 averages.
        if (c.count >= kWidth * kHeight / 20 && AreDigitColours(c.colours)) seen.insert("digits");
    }
    EXPECT_EQ(seen.count("raster"), 1U) << "no picture grew row by row";
    EXPECT_EQ(seen.count("spiral"), 1U) << "no picture grew as a ring round the middle";
    EXPECT_EQ(seen.count("digits"), 1U) << "no picture in at most ten colours";
    EXPECT_EQ(seen.count("average"), 1U) << "no picture in more than twenty colours";
    EXPECT_EQ(saver->Wait(0ms), "running");
}

}  // namespace
