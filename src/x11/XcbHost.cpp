// The X11 host: the connection, the saver's windows on the monitors, and the paced wait.
#include "x11/XcbHost.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "core/PixelGrid.h"
#include "system/Failure.h"
#include "system/Watchdog.h"
#include "x11/Connection.h"
#include "x11/HostWindow.h"
#include "x11/XcbCanvas.h"
#include "x11/XcbReply.h"

namespace digitmosaic {

namespace {

// One refresh of the monitor (60 Hz where the server does not say).
Beat::Clock::duration RefreshOf(const Monitor& monitor) {
    using std::chrono::microseconds;
    if (monitor.refresh >= microseconds(1'000) && monitor.refresh <= microseconds(1'000'000)) {
        return std::chrono::duration_cast<Beat::Clock::duration>(monitor.refresh);
    }
    return microseconds(16'667);
}

using Event = std::unique_ptr<xcb_generic_event_t, decltype(&std::free)>;

}  // namespace

XcbHost::XcbHost(int argc, char** argv) : ProcessHost(argc, argv) {}

XcbHost::~XcbHost() {
    surfaces_.clear();
    monitorWindows_.clear();
    hostWindow_.reset();
    if (connection_) {
        xcb_disconnect(connection_);
    }
}

xcb_connection_t* XcbHost::Display() {
    if (connection_) {
        return connection_;
    }
    int screenNumber = 0;
    connection_ = ConnectToDisplay(&screenNumber);  // one line and status 1 when refused
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && screens.rem > 1; ++i) {
        xcb_screen_next(&screens);
    }
    screen_ = screens.data;
    dotsPerInch_ = LogicalDotsPerInch(connection_, *screen_);
    monitors_ = ListMonitors(connection_, *screen_);
    grabs_ = std::make_unique<InputGrabs>(connection_);
    return connection_;
}

bool XcbHost::AnotherInstanceRunning() {
    // Any other argument ends the program anyway, without touching the display.
    return arguments_.argument == "/s" && instanceLock_.AnotherInstanceRunning(Display());
}

float XcbHost::ScreenWidthTwips() {
    Display();
    return static_cast<float>(Primary().width * TwipsPerPixel(dotsPerInch_));
}

float XcbHost::ScreenHeightTwips() {
    Display();
    return static_cast<float>(Primary().height * TwipsPerPixel(dotsPerInch_));
}

void XcbHost::SetCursorPos(std::int32_t x, std::int32_t y) {
    // In a host's window (or the root) the pointer is the host's.
    if (hostWindowRequest_.Embedded()) {
        return;
    }
    Display();
    const Monitor& primary = Primary();
    x = std::clamp(x, primary.x, primary.x + primary.width - 1);
    y = std::clamp(y, primary.y, primary.y + primary.height - 1);
    // Where it was, for a saver that ends before anything is shown (see PumpEvents).
    if (const auto was = TakeReply(xcb_query_pointer_reply(
            connection_, xcb_query_pointer(connection_, screen_->root), nullptr))) {
        pointerWas_ = {was->root_x, was->root_y};
    }
    xcb_warp_pointer(connection_, XCB_NONE, screen_->root, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                     static_cast<std::int16_t>(y));
    xcb_flush(connection_);
}

void XcbHost::SystemBeep() {
    xcb_bell(Display(), 0);
    xcb_flush(connection_);
}

void XcbHost::OpenWindow(SaverWindowEvents& window) {
    Display();
    StartWatchdog();
    if (!saverEvents_) {
        OpenSurfaces(window);
        window.Form_Load();
    }
    ShowWindow(window);
}

void XcbHost::OpenSurfaces(SaverWindowEvents& events) {
    saverEvents_ = &events;
    if (hostWindowRequest_.Embedded()) {
        const std::string source = HostWindowSource();
        const std::uint32_t id = hostWindowRequest_.id
                                     ? *hostWindowRequest_.id
                                     : HostWindow::DesktopRoot(connection_, screen_->root);
        hostWindow_ = HostWindow::Open(events, connection_, id, source);
        ListSurfaces();
        return;
    }
    visual_ = XcbCanvas::TrueColorVisual(connection_, screen_->root_visual, screen_->root_depth);
    if (!visual_) {
        Fail("the display cannot show colours (it has no true-colour visual of 15 bits or more)");
    }
    atoms_ = WindowAtoms::Intern(connection_);
    WatchMonitors(connection_, *screen_);
    for (const Monitor& monitor : monitors_) {
        AddWindow(monitor);
    }
    ListSurfaces();
}

void XcbHost::AddWindow(const Monitor& monitor) {
    auto window = std::make_unique<MonitorWindow>(*saverEvents_, connection_, *screen_, *visual_,
                                                  atoms_, monitor, dotsPerInch_);
    if (scale_.set) {
        window->SetLogicalScale(scale_.x1, scale_.y1, scale_.x2, scale_.y2);
    }
    if (shown_) {
        window->Show();
    }
    monitorWindows_.push_back(std::move(window));
}

void XcbHost::FollowMonitors() {
    const std::uint32_t keyboard = monitorWindows_.front()->On().name;  // its window has the keys
    monitors_ = ListMonitors(connection_, *screen_);
    beat_.SetInterval(RefreshOf(Primary()));
    std::erase_if(monitorWindows_, [this](const auto& window) {
        return std::none_of(monitors_.begin(), monitors_.end(), [&window](const Monitor& monitor) {
            return monitor.name == window->On().name;
        });
    });
    for (const Monitor& monitor : monitors_) {
        const auto shown = std::find_if(
            monitorWindows_.begin(), monitorWindows_.end(),
            [&monitor](const auto& window) { return window->On().name == monitor.name; });
        if (shown == monitorWindows_.end()) {
            AddWindow(monitor);
        } else if (!(*shown)->On().SamePlace(monitor)) {
            (*shown)->Cover(monitor);
        }
    }
    std::stable_partition(monitorWindows_.begin(), monitorWindows_.end(),
                          [](const auto& window) { return window->On().primary; });
    if (shown_ && monitorWindows_.front()->On().name != keyboard) {
        monitorWindows_.front()->TakeKeyboard();  // the primary's window, or the one left
    }
    ListSurfaces();
}

void XcbHost::ListSurfaces() {
    surfaces_.clear();
    for (const auto& window : monitorWindows_) {
        surfaces_.push_back(window.get());
    }
    if (hostWindow_) {
        surfaces_.push_back(hostWindow_.get());
    }
}

void XcbHost::ShowWindow(SaverWindowEvents& /*window*/) {
    if (!saverEvents_ || shown_) {
        return;
    }
    shown_ = true;
    for (XcbSurface* surface : surfaces_) {
        surface->Show();
    }
    if (!monitorWindows_.empty()) {
        monitorWindows_.front()->TakeKeyboard();  // on the primary, under the parked pointer
    }
    xcb_flush(connection_);
    beat_.SetInterval(RefreshOf(Primary()));
}

void XcbHost::PumpEvents() {
    WatchdogBeat();
    Display();
    HandleEvents(false);
    // Input grabs (Grabs.h), for the saver's own windows only: without either, nothing ends it.
    if (!monitorWindows_.empty() &&
        !grabs_->Retry(monitorWindows_.front()->Id(), monitorWindows_.front()->Mapped(),
                       Clock::now())) {
        EndWithoutInput();
    }
    if (shown_) {
        SleepWhileUnseen();
    }
    for (XcbSurface* surface : surfaces_) {
        surface->Present();
    }
    WaitUntil(beat_.Next(Clock::now()));
}

bool XcbHost::HandleEvents(bool arrived) {
    // The connection is read once, and only when the wait said something came.
    bool handled = false;
    for (Event event{
             arrived ? xcb_poll_for_event(connection_) : xcb_poll_for_queued_event(connection_),
             &std::free};
         event; event.reset(xcb_poll_for_queued_event(connection_))) {
        WatchdogBeat();  // ends a rest: the handling is watched
        Handle(*event);
        handled = true;
    }
    if (xcb_connection_has_error(connection_)) {
        Fail(ConnectionFailure(connection_));
    }
    return handled;
}

void XcbHost::Handle(const xcb_generic_event_t& event) {
    if (MonitorsChanged(connection_, event)) {
        if (!monitorWindows_.empty()) {
            FollowMonitors();
        }
        return;
    }
    for (XcbSurface* surface : surfaces_) {
        if (surface->Handle(event)) {
            return;
        }
    }
}

void XcbHost::WaitUntil(Clock::time_point deadline) {
    // A pump that is late still takes what has come, without waiting.
    auto now = Clock::now();
    do {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        HandleEvents(Sleep(static_cast<int>(std::max<std::int64_t>(left.count(), 0))));
        now = Clock::now();
    } while (now < deadline);
}

bool XcbHost::Sleep(int milliseconds) {
    // Sending may read what the server sent meanwhile into xcb's queue, where poll would not see
    // it: that is handled first, and the caller looks again before sleeping.
    xcb_flush(connection_);
    if (HandleEvents(false)) {
        return false;
    }
    if (milliseconds < 0) {
        // Nothing wakes the process but an event, which beats the watchdog; one that waits
        // unread (the loop stopped) wakes the watchdog by itself.
        WatchdogRest(xcb_get_file_descriptor(connection_));
    }
    pollfd display{xcb_get_file_descriptor(connection_), POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&display, 1, milliseconds)) < 0 && errno == EINTR) {
    }
    return ready != 0;
}

bool XcbHost::Seen() const {
    return std::any_of(surfaces_.begin(), surfaces_.end(),
                       [](const XcbSurface* surface) { return surface->Visible(); });
}

void XcbHost::SleepWhileUnseen() {
    if (Seen()) {
        return;
    }
    // Nothing is painted or presented, and input still reaches the handlers at once. Nothing
    // wakes the process but an event, and the watchdog rests meanwhile: every event beats it
    // before it is handled, so a handler that hangs is still caught.
    while (!Seen()) {
        WatchdogBeat();
        HandleEvents(Sleep(-1));
    }
    WatchdogBeat();
    beat_.Restart(Clock::now());
}

void XcbHost::HideWindows() {
    if (connection_) {
        // The desktop comes back as soon as the server has the requests, not once the process
        // has been torn down.
        for (const auto& window : monitorWindows_) {
            xcb_unmap_window(connection_, window->Id());
        }
        xcb_flush(connection_);
    }
}

void XcbHost::EndWithoutInput() {
    HideWindows();  // the desktop as it was, the pointer where it was
    xcb_warp_pointer(connection_, XCB_NONE, screen_->root, 0, 0, 0, 0, pointerWas_.first,
                     pointerWas_.second);
    // Waited for: the server may drop what a client sent just before it went.
    TakeReply(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    Fail("another program holds the keyboard and the pointer");
}

void XcbHost::EndProgram() {
    HideWindows();
    std::fflush(nullptr);
    std::_Exit(0);
}

void XcbHost::UnloadWindow(SaverWindowEvents& /*window*/) {
    if (!saverEvents_ || unloading_) {
        return;
    }
    unloading_ = true;
    for (XcbSurface* surface : surfaces_) {
        surface->Unload();  // raises the unload event
    }
    unloading_ = false;
}

void XcbHost::OpenWindow(AboutWindowEvents& /*window*/) {
    Fail("the about window is shown through the toolkit, not on the bare display");
}

void XcbHost::UnloadWindow(AboutWindowEvents& /*window*/) {}

void XcbHost::SetLogicalScale(double x1, double y1, double x2, double y2) {
    scale_ = {x1, y1, x2, y2, true};
    for (XcbSurface* surface : surfaces_) {
        surface->SetLogicalScale(x1, y1, x2, y2);
    }
}

void XcbHost::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    for (XcbSurface* surface : surfaces_) {
        surface->DrawBox(x, y, dx, dy, color);
    }
}

}  // namespace digitmosaic
