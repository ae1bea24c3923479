// The saver core: everything the program asks of the desktop, realised once over a backend that
// supplies only what differs between display servers. It owns the surfaces' logical scale, the
// pacing beat, what counts as seen and the sleep while nothing is, the watchdog's beats and rests,
// input in the handlers' units, the unload guard, and the about window through its toolkit.
#pragma once

#include <functional>
#include <memory>
#include <random>

#include "core/AboutToolkit.h"
#include "core/Backend.h"
#include "core/Beat.h"
#include "core/StartUp.h"
#include "host/HostServices.h"

namespace digitmosaic {

class SaverCore final : public HostServices, private BackendEvents {
  public:
    using Clock = Backend::Clock;
    using LoadAbout = std::function<std::unique_ptr<AboutToolkit>()>;
    using Now = Clock::time_point (*)();

    // The backend is connected on first need; the about window's toolkit is loaded on first use.
    // The pumps' pace is kept by `now`.
    SaverCore(StartUp startUp, std::unique_ptr<Backend> backend, LoadAbout loadAbout,
              Now now = &Clock::now);
    ~SaverCore() override;
    SaverCore(const SaverCore&) = delete;
    SaverCore& operator=(const SaverCore&) = delete;

    // After Main returned: runs while the about window is open; the exit status.
    int RunWhileWindowsOpen();

    float RandomUnit() override;
    void SeedRandom(float seed) override;
    float SecondsSinceMidnight() override;
    void PumpEvents() override;
    [[noreturn]] void EndProgram() override;
    std::string ArgumentString() override;
    bool AnotherInstanceRunning() override;
    float ScreenWidthTwips() override;
    float ScreenHeightTwips() override;
    void SetCursorPos(std::int32_t x, std::int32_t y) override;
    void SystemBeep() override;
    void OpenWindow(SaverWindowEvents& window) override;
    void OpenWindow(AboutWindowEvents& window) override;
    void ShowWindow(SaverWindowEvents& window) override;
    void UnloadWindow(SaverWindowEvents& window) override;
    void UnloadWindow(AboutWindowEvents& window) override;
    void SetLogicalScale(double x1, double y1, double x2, double y2) override;
    void DrawBox(float x, float y, float dx, float dy, PackedColor color) override;

  private:
    // The backend, connected.
    Backend& Connected();
    // Whether anyone can see any surface; while nobody can, pumps sleep without painting.
    bool Seen() const;
    void SleepWhileUnseen();
    // Handles what comes until the deadline, sleeping in between.
    void WaitUntil(Clock::time_point deadline);

    void KeyPressed(int keyCode, Modifiers modifiers) override;
    void ButtonPressed(const Surface& on, Button button, Modifiers modifiers, double x,
                       double y) override;
    void ButtonReleased(const Surface& on, Button button) override;
    void PointerMoved(const Surface& on, ButtonsHeld held, Modifiers modifiers, double x,
                      double y) override;
    void SurfaceAdded(Surface& added) override;
    void SurfaceClosed() override;
    void Sleeping() override;
    void Awake() override;

    StartUp startUp_;
    std::unique_ptr<Backend> backend_;
    LoadAbout loadAbout_;
    Now now_;
    std::unique_ptr<AboutToolkit> about_;
    bool connected_ = false;
    std::mt19937 random_;
    SaverWindowEvents* saver_ = nullptr;  // once the saver window is opened
    struct Scale {
        double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        bool set = false;
    } scale_;  // the latest logical scale, for surfaces that come mid-picture
    bool shown_ = false;
    bool unloading_ = false;
    Beat beat_;
};

// The desktop's classic codes for the handlers: left 1, right 2, middle 4 (any other button 0);
// shift 1, control 2, alt 4.
int ButtonCode(Button button);
int ButtonsCode(ButtonsHeld held);
int ShiftCode(Modifiers modifiers);

}  // namespace digitmosaic
