// A recording fake of the host services for the program tests: scripted random values and
// environment, every action logged in order, the saver's boxes kept apart, and EndProgram
// unwinding out of the program code as an exception.
#pragma once

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/HostServices.h"

namespace digitmosaic::testing {

// Thrown by EndProgram: the program code stops where it asked to end.
struct ProgramEnded {};

// Thrown when the program draws more random values than the test scripted.
struct RandomScriptExhausted : std::logic_error {
    RandomScriptExhausted() : std::logic_error("RandomUnit called with no scripted value left") {}
};

// RandomUnit draws at the start of each picture: five parameters, then ten palette colours.
inline constexpr int kDrawsPerPicture = 15;

struct Box {
    float x, y, dx, dy;
    PackedColor color;
    bool operator==(const Box&) const = default;
};

class FakeHost final : public HostServices {
  public:
    // The script and the environment the program sees.
    std::deque<float> randoms;
    std::string argument;
    bool anotherInstance = false;
    float screenWidthTwips = 28800;  // 1920 x 1080 pixels at 96 dots per inch
    float screenHeightTwips = 16200;
    float secondsSinceMidnight = 0;
    // Runs inside every PumpEvents, after it is logged: a test delivers events or stops here.
    std::function<void()> onPump;

    // What the program did, in order: "SeedRandom(43210.25)", "RandomUnit",
    // "DrawBox(1,2,1,1,255)"...
    std::vector<std::string> calls;
    std::vector<Box> boxes;
    int argumentReads = 0;
    int pumps = 0;

    // The log without the entries starting with any of the prefixes.
    std::vector<std::string> CallsWithout(const std::vector<std::string>& prefixes) const;
    // For each PumpEvents, how many boxes were drawn since the one before.
    std::vector<int> BoxesPerPump() const;

    float RandomUnit() override;
    void SeedRandom(float seed) override;
    float SecondsSinceMidnight() override { return secondsSinceMidnight; }
    void PumpEvents() override;
    [[noreturn]] void EndProgram() override;
    std::string ArgumentString() override;
    bool AnotherInstanceRunning() override { return anotherInstance; }
    float ScreenWidthTwips() override { return screenWidthTwips; }
    float ScreenHeightTwips() override { return screenHeightTwips; }
    void SetCursorPos(std::int32_t x, std::int32_t y) override;
    void SystemBeep() override { calls.emplace_back("SystemBeep"); }
    void OpenWindow(SaverWindowEvents& window) override;
    void OpenWindow(AboutWindowEvents& window) override;
    void ShowWindow(SaverWindowEvents& window) override;
    void UnloadWindow(SaverWindowEvents& window) override;
    void UnloadWindow(AboutWindowEvents& window) override;
    void SetLogicalScale(double x1, double y1, double x2, double y2) override;
    void DrawBox(float x, float y, float dx, float dy, PackedColor color) override;

  private:
    SaverWindowEvents* loadedSaver_ = nullptr;
};

// "Name(a,b,...)" with each number in its shortest exact form, as the log writes calls.
std::string Call(const std::string& name, const std::vector<double>& args);

}  // namespace digitmosaic::testing
