// The saver's host on an X display, with no toolkit: one connection to the server, the saver's
// windows on every monitor (or a screen-saver host's own window), and a loop of its own that
// presents a row, then sleeps in one wait on the connection until the next refresh or until the
// server has something to say. The about window and the saver on Wayland run on Qt instead.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/Beat.h"
#include "system/ProcessHost.h"
#include "x11/Grabs.h"
#include "x11/MonitorWindow.h"
#include "x11/Monitors.h"

namespace digitmosaic {

class HostWindow;

class XcbHost final : public ProcessHost {
  public:
    XcbHost(int argc, char** argv);
    ~XcbHost() override;
    XcbHost(const XcbHost&) = delete;
    XcbHost& operator=(const XcbHost&) = delete;

    // The saver never returns to the entry; anything else has ended already.
    int RunWhileWindowsOpen() { return 0; }

    void PumpEvents() override;
    [[noreturn]] void EndProgram() override;
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
    using Clock = Beat::Clock;

    // Connects on first need; without a display, one line and status 1.
    xcb_connection_t* Display();
    const Monitor& Primary() const { return monitors_.front(); }
    // A window on every monitor, or the host's window.
    void OpenSurfaces(SaverWindowEvents& events);
    // Follows the monitors after the server said they changed: windows move, come and go.
    void FollowMonitors();
    void AddWindow(const Monitor& monitor);
    void ListSurfaces();
    // Delivers the events already read and, when something arrived, what the connection holds;
    // ends the process when the connection is lost. True when there was an event.
    bool HandleEvents(bool arrived);
    void Handle(const xcb_generic_event_t& event);
    // Handles events as they come until the deadline, sleeping in between.
    void WaitUntil(Clock::time_point deadline);
    // Sleeps on the connection until something arrives (true) or the time is up; a negative
    // wait has no end.
    bool Sleep(int milliseconds);
    bool Seen() const;
    void SleepWhileUnseen();
    // Unmaps the saver's own windows, at once.
    void HideWindows();
    // Another client holds both grabs: the desktop as it was, one line and status 1.
    [[noreturn]] void EndWithoutInput();

    xcb_connection_t* connection_ = nullptr;
    const xcb_screen_t* screen_ = nullptr;
    double dotsPerInch_ = 96;
    std::vector<Monitor>
        monitors_;  // as last listed, the primary first; never empty once connected
    WindowAtoms atoms_{};
    const xcb_visualtype_t* visual_ = nullptr;  // of the saver's own windows
    SaverWindowEvents* saverEvents_ = nullptr;  // once the saver window is opened
    std::vector<std::unique_ptr<MonitorWindow>> monitorWindows_;
    std::unique_ptr<HostWindow> hostWindow_;
    std::vector<XcbSurface*> surfaces_;  // every window above: what the picture is painted on
    struct Scale {
        double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        bool set = false;
    } scale_;  // the latest logical scale, for windows opened mid-picture
    bool shown_ = false;
    bool unloading_ = false;
    Beat beat_;
    std::unique_ptr<InputGrabs> grabs_;                   // for the primary monitor's window
    std::pair<std::int16_t, std::int16_t> pointerWas_{};  // before it was parked
};

}  // namespace digitmosaic
