// The saver on an X display, with no toolkit: one connection to the server, the instance lock as a
// selection on it, the saver's windows on every monitor (or a screen-saver host's own window),
// following the monitors as they change, and one wait on the connection.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/Backend.h"
#include "core/StartUp.h"
#include "x11/Grabs.h"
#include "x11/MonitorWindow.h"
#include "x11/Monitors.h"
#include "x11/SelectionLock.h"

namespace digitmosaic {

class HostWindow;

class X11Backend final : public Backend {
  public:
    explicit X11Backend(const StartUp& startUp);
    ~X11Backend() override;
    X11Backend(const X11Backend&) = delete;
    X11Backend& operator=(const X11Backend&) = delete;

    void Connect() override;
    bool AnotherInstanceRunning() override;
    ScreenSize PrimaryScreen() override;
    void ParkPointer(int x, int y) override;
    void Beep() override;
    void OpenSurfaces(BackendEvents& events) override;
    void Show() override;
    const std::vector<Surface*>& Surfaces() const override { return surfaces_; }
    Clock::duration Refresh() const override;
    bool Wait(std::optional<Clock::time_point> deadline) override;
    int EventDescriptor() const override { return xcb_get_file_descriptor(connection_); }
    void Hide() override;

  private:
    const Monitor& Primary() const { return monitors_.front(); }
    // Follows the monitors after the server said they changed: windows move, come and go.
    void FollowMonitors();
    void AddWindow(const Monitor& monitor);
    void ListSurfaces();
    // Delivers the events already read and, when something arrived, what the connection holds;
    // ends the process when the connection is lost. True when there was an event.
    bool HandleEvents(bool arrived);
    void Handle(const xcb_generic_event_t& event);
    // Another client holds both grabs: the desktop as it was, one line and status 1.
    [[noreturn]] void EndWithoutInput();

    const HostWindowRequest hostWindowRequest_;
    SelectionLock lock_;
    xcb_connection_t* connection_ = nullptr;
    const xcb_screen_t* screen_ = nullptr;
    double dotsPerInch_ = 96;
    std::vector<Monitor>
        monitors_;  // as last listed, the primary first; never empty once connected
    WindowAtoms atoms_{};
    const xcb_visualtype_t* visual_ = nullptr;  // of the saver's own windows
    BackendEvents* events_ = nullptr;           // once the surfaces are open
    std::vector<std::unique_ptr<MonitorWindow>> monitorWindows_;
    std::unique_ptr<HostWindow> hostWindow_;
    std::vector<Surface*> surfaces_;     // every window above: what the picture is painted on
    std::unique_ptr<InputGrabs> grabs_;  // for the primary monitor's window
    std::pair<std::int16_t, std::int16_t> pointerWas_{};  // before it was parked
    bool shown_ = false;
};

}  // namespace digitmosaic
