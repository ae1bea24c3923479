// The saver core: the pumps and their pace, the sleep while unseen, input, and the windows' life.
#include "core/SaverCore.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/PixelGrid.h"
#include "host/RandomUnit.h"
#include "system/Failure.h"
#include "system/Watchdog.h"

namespace digitmosaic {

int ButtonCode(Button button) {
    switch (button) {
        case Button::Left:
            return 1;
        case Button::Right:
            return 2;
        case Button::Middle:
            return 4;
        default:
            return 0;
    }
}

int ButtonsCode(ButtonsHeld held) {
    return (held.left ? 1 : 0) | (held.right ? 2 : 0) | (held.middle ? 4 : 0);
}

int ShiftCode(Modifiers modifiers) {
    return (modifiers.shift ? 1 : 0) | (modifiers.control ? 2 : 0) | (modifiers.alt ? 4 : 0);
}

SaverCore::SaverCore(StartUp startUp, std::unique_ptr<Backend> backend, LoadAbout loadAbout,
                     Now now)
    : startUp_(std::move(startUp)),
      backend_(std::move(backend)),
      loadAbout_(std::move(loadAbout)),
      now_(now),
      random_(std::random_device{}()) {}

SaverCore::~SaverCore() = default;

Backend& SaverCore::Connected() {
    if (!connected_) {
        if (!backend_) {
            FailWithoutDisplay(startUp_.noDisplay);
        }
        backend_->Connect();
        connected_ = true;
    }
    return *backend_;
}

int SaverCore::RunWhileWindowsOpen() { return about_ ? about_->RunWhileOpen() : 0; }

float SaverCore::RandomUnit() { return UnitFromBits(static_cast<std::uint32_t>(random_())); }

void SaverCore::SeedRandom(float seed) { random_.seed(std::bit_cast<std::uint32_t>(seed)); }

float SaverCore::SecondsSinceMidnight() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto fraction =
        std::chrono::duration<double>(now - std::chrono::floor<std::chrono::seconds>(now));
    return static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec +
                              fraction.count());
}

std::string SaverCore::ArgumentString() { return startUp_.arguments.argument; }

bool SaverCore::AnotherInstanceRunning() {
    // Any other argument ends the program anyway, without touching the display.
    return startUp_.ShowsWindow() && Connected().AnotherInstanceRunning();
}

float SaverCore::ScreenWidthTwips() {
    const ScreenSize screen = Connected().PrimaryScreen();
    return static_cast<float>(screen.width * TwipsPerPixel(screen.dotsPerInch));
}

float SaverCore::ScreenHeightTwips() {
    const ScreenSize screen = Connected().PrimaryScreen();
    return static_cast<float>(screen.height * TwipsPerPixel(screen.dotsPerInch));
}

void SaverCore::SetCursorPos(std::int32_t x, std::int32_t y) { Connected().ParkPointer(x, y); }

void SaverCore::SystemBeep() {
    if (about_) {
        about_->Beep();
    } else {
        Connected().Beep();
    }
}

void SaverCore::OpenWindow(SaverWindowEvents& window) {
    Backend& backend = Connected();
    if (!saver_) {
        saver_ = &window;
        backend.OpenSurfaces(*this);
        window.Form_Load();
    }
    ShowWindow(window);
}

void SaverCore::ShowWindow(SaverWindowEvents& /*window*/) {
    if (!saver_ || shown_) {
        return;
    }
    shown_ = true;
    backend_->Show();
    beat_.SetInterval(backend_->Refresh());
}

void SaverCore::PumpEvents() {
    WatchdogBeat();
    Backend& backend = Connected();
    // What came while the row was painted is handled in the wait below, before the pump returns.
    if (shown_) {
        SleepWhileUnseen();
    }
    for (Surface* surface : backend.Surfaces()) {
        surface->Present();
    }
    WaitUntil(beat_.Next(now_()));
}

void SaverCore::WaitUntil(Clock::time_point deadline) {
    // A pump that is late still takes what has come, without waiting. One that the server asks
    // for the next picture returns then, on the server's pace rather than its own.
    const std::uint64_t framesAsked = backend_->FramesAsked();
    do {
        backend_->Wait(deadline);
    } while (now_() < deadline && backend_->FramesAsked() == framesAsked);
}

bool SaverCore::Seen() const {
    const auto& surfaces = backend_->Surfaces();
    return std::any_of(surfaces.begin(), surfaces.end(),
                       [](const Surface* surface) { return surface->Visible(); });
}

void SaverCore::SleepWhileUnseen() {
    if (Seen()) {
        return;
    }
    // Nothing is painted or presented, and input still reaches the handlers at once. Nothing
    // wakes the process but the server; the watchdog rests meanwhile, watching the connection,
    // and every report beats it before it is handled, so a handler that hangs is still caught.
    while (!Seen()) {
        backend_->Wait(std::nullopt);
        WatchdogBeat();
    }
    beat_.Restart(now_());
}

void SaverCore::EndProgram() {
    if (connected_) {
        // The desktop comes back as soon as the server has the request, not once the process
        // has been torn down.
        backend_->Hide();
    }
    std::fflush(nullptr);
    std::_Exit(0);
}

void SaverCore::UnloadWindow(SaverWindowEvents& /*window*/) {
    if (!saver_ || unloading_) {
        return;
    }
    unloading_ = true;
    bool cancel = false;
    saver_->Form_Unload(cancel);
    unloading_ = false;
}

void SaverCore::OpenWindow(AboutWindowEvents& window) {
    if (!about_) {
        about_ = loadAbout_();
    }
    about_->Open(window);
}

void SaverCore::UnloadWindow(AboutWindowEvents& /*window*/) {
    if (about_) {
        about_->Close();
    }
}

void SaverCore::SetLogicalScale(double x1, double y1, double x2, double y2) {
    scale_ = {x1, y1, x2, y2, true};
    for (Surface* surface : Connected().Surfaces()) {
        surface->SetLogicalScale(x1, y1, x2, y2);
    }
}

void SaverCore::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    for (Surface* surface : backend_->Surfaces()) {
        surface->DrawBox(x, y, dx, dy, color);
    }
}

void SaverCore::KeyPressed(int keyCode, Modifiers modifiers) {
    WatchdogBeat();
    saver_->Form_KeyDown(keyCode, ShiftCode(modifiers));
}

void SaverCore::ButtonPressed(const Surface& on, Button button, Modifiers modifiers, double x,
                              double y) {
    WatchdogBeat();
    if (button != Button::Wheel) {  // wheel steps are no clicks
        saver_->Form_MouseDown(ButtonCode(button), ShiftCode(modifiers), on.Grid().LogicalX(x),
                               on.Grid().LogicalY(y));
    }
}

void SaverCore::ButtonReleased(const Surface& /*on*/, Button button) {
    WatchdogBeat();
    if (button != Button::Wheel) {
        saver_->Form_Click();
    }
}

void SaverCore::PointerMoved(const Surface& on, ButtonsHeld held, Modifiers modifiers, double x,
                             double y) {
    WatchdogBeat();
    saver_->Form_MouseMove(ButtonsCode(held), ShiftCode(modifiers), on.Grid().LogicalX(x),
                           on.Grid().LogicalY(y));
}

void SaverCore::SurfaceAdded(Surface& added) {
    WatchdogBeat();
    if (scale_.set) {
        added.SetLogicalScale(scale_.x1, scale_.y1, scale_.x2, scale_.y2);
    }
}

void SaverCore::SurfaceClosed() {
    WatchdogBeat();
    if (saver_) {
        UnloadWindow(*saver_);
    }
}

void SaverCore::Sleeping() { WatchdogRest(backend_->EventDescriptor()); }

void SaverCore::Awake() { WatchdogBeat(); }

}  // namespace digitmosaic
