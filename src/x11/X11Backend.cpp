// The X11 backend: the connection, the saver's windows on the monitors, and the wait.
#include "x11/X11Backend.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "system/Failure.h"
#include "x11/Connection.h"
#include "x11/HostWindow.h"
#include "x11/Visuals.h"
#include "x11/XcbReply.h"

namespace digitmosaic {

namespace {

using Event = std::unique_ptr<xcb_generic_event_t, decltype(&std::free)>;

// The name of where the host's window was given ("--window-id", "XSCREENSAVER_WINDOW" or
// "-root"), for messages; one line and status 1 when what was given is not a window id.
std::string HostWindowSource(const HostWindowRequest& request) {
    if (!request.Given()) {
        return "-root";
    }
    if (!request.id) {
        Fail(request.source + " is not a window id: \"" + Quoted(request.text) + "\"");
    }
    return request.source;
}

}  // namespace

X11Backend::X11Backend(const StartUp& startUp)
    : hostWindowRequest_(startUp.arguments.argument == "/s" ? startUp.hostWindow
                                                            : HostWindowRequest{}),
      lock_(InstanceScope(hostWindowRequest_)) {}

X11Backend::~X11Backend() {
    surfaces_.clear();
    monitorWindows_.clear();
    hostWindow_.reset();
    if (connection_) {
        xcb_disconnect(connection_);
    }
}

void X11Backend::Connect() {
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
}

bool X11Backend::AnotherInstanceRunning() { return lock_.AnotherInstanceRunning(connection_); }

ScreenSize X11Backend::PrimaryScreen() { return {Primary().width, Primary().height, dotsPerInch_}; }

void X11Backend::ParkPointer(int x, int y) {
    // In a host's window (or the root) the pointer is the host's.
    if (hostWindowRequest_.Embedded()) {
        return;
    }
    const Monitor& primary = Primary();
    x = std::clamp(x, primary.x, primary.x + primary.width - 1);
    y = std::clamp(y, primary.y, primary.y + primary.height - 1);
    // Where it was, for a saver that ends for want of input (see EndWithoutInput).
    if (const auto was = TakeReply(xcb_query_pointer_reply(
            connection_, xcb_query_pointer(connection_, screen_->root), nullptr))) {
        pointerWas_ = {was->root_x, was->root_y};
    }
    xcb_warp_pointer(connection_, XCB_NONE, screen_->root, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                     static_cast<std::int16_t>(y));
    xcb_flush(connection_);
}

void X11Backend::Beep() {
    xcb_bell(connection_, 0);
    xcb_flush(connection_);
}

void X11Backend::OpenSurfaces(BackendEvents& events) {
    events_ = &events;
    if (hostWindowRequest_.Embedded()) {
        const std::string source = HostWindowSource(hostWindowRequest_);
        const std::uint32_t id = hostWindowRequest_.id
                                     ? *hostWindowRequest_.id
                                     : HostWindow::DesktopRoot(connection_, screen_->root);
        hostWindow_ = HostWindow::Open(events, connection_, id, source);
        ListSurfaces();
        return;
    }
    visual_ = TrueColorVisual(connection_, screen_->root_visual, screen_->root_depth);
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

void X11Backend::AddWindow(const Monitor& monitor) {
    auto window = std::make_unique<MonitorWindow>(*events_, connection_, *screen_, *visual_, atoms_,
                                                  monitor, dotsPerInch_);
    if (shown_) {
        window->Show();
    }
    monitorWindows_.push_back(std::move(window));
}

void X11Backend::FollowMonitors() {
    const std::uint32_t keyboard = monitorWindows_.front()->On().name;  // its window has the keys
    monitors_ = ListMonitors(connection_, *screen_);
    std::erase_if(monitorWindows_, [this](const auto& window) {
        return std::none_of(monitors_.begin(), monitors_.end(), [&window](const Monitor& monitor) {
            return monitor.name == window->On().name;
        });
    });
    std::vector<MonitorWindow*> added;
    for (const Monitor& monitor : monitors_) {
        const auto shown = std::find_if(
            monitorWindows_.begin(), monitorWindows_.end(),
            [&monitor](const auto& window) { return window->On().name == monitor.name; });
        if (shown == monitorWindows_.end()) {
            AddWindow(monitor);
            added.push_back(monitorWindows_.back().get());
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
    for (MonitorWindow* window : added) {
        events_->SurfaceAdded(*window);
    }
}

void X11Backend::ListSurfaces() {
    surfaces_.clear();
    for (const auto& window : monitorWindows_) {
        surfaces_.push_back(window.get());
    }
    if (hostWindow_) {
        surfaces_.push_back(hostWindow_.get());
    }
}

void X11Backend::Show() {
    shown_ = true;
    for (const auto& window : monitorWindows_) {
        window->Show();
    }
    if (hostWindow_) {
        hostWindow_->Show();
    }
    if (!monitorWindows_.empty()) {
        monitorWindows_.front()->TakeKeyboard();  // on the primary, under the parked pointer
    }
    xcb_flush(connection_);
}

Backend::Clock::duration X11Backend::Refresh() const {
    // One refresh of the primary monitor, 60 Hz where the server does not say.
    using std::chrono::microseconds;
    const auto refresh = Primary().refresh;
    if (refresh >= microseconds(1'000) && refresh <= microseconds(1'000'000)) {
        return std::chrono::duration_cast<Clock::duration>(refresh);
    }
    return microseconds(16'667);
}

bool X11Backend::Wait(std::optional<Clock::time_point> deadline) {
    // The saver's own windows take the keyboard and the pointer; without either, no input of the
    // user's could end it.
    if (!monitorWindows_.empty() &&
        !grabs_->Retry(monitorWindows_.front()->Id(), monitorWindows_.front()->Mapped(),
                       Clock::now())) {
        EndWithoutInput();
    }
    // Sending may read what the server sent meanwhile into xcb's queue, where poll would not see
    // it: that is handled first, without sleeping.
    xcb_flush(connection_);
    if (HandleEvents(false)) {
        return true;
    }
    int timeout = -1;
    if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        timeout = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
    } else if (events_) {
        events_->Sleeping();
    }
    pollfd display{xcb_get_file_descriptor(connection_), POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&display, 1, timeout)) < 0 && errno == EINTR) {
    }
    if (!deadline && events_) {
        events_->Awake();
    }
    return HandleEvents(ready != 0);
}

bool X11Backend::HandleEvents(bool arrived) {
    // The connection is read once, and only when the wait said something came.
    bool handled = false;
    for (Event event{
             arrived ? xcb_poll_for_event(connection_) : xcb_poll_for_queued_event(connection_),
             &std::free};
         event; event.reset(xcb_poll_for_queued_event(connection_))) {
        Handle(*event);
        handled = true;
    }
    if (xcb_connection_has_error(connection_)) {
        Fail(ConnectionFailure(connection_));
    }
    return handled;
}

void X11Backend::Handle(const xcb_generic_event_t& event) {
    if (MonitorsChanged(connection_, event)) {
        if (!monitorWindows_.empty()) {
            FollowMonitors();
        }
        return;
    }
    for (Surface* surface : surfaces_) {
        if (static_cast<XcbSurface*>(surface)->Handle(event)) {
            return;
        }
    }
}

void X11Backend::EndWithoutInput() {
    Hide();  // the desktop as it was, the pointer where it was
    xcb_warp_pointer(connection_, XCB_NONE, screen_->root, 0, 0, 0, 0, pointerWas_.first,
                     pointerWas_.second);
    // Waited for: the server may drop what a client sent just before it went.
    TakeReply(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    Fail("another program holds the keyboard and the pointer");
}

void X11Backend::Hide() {
    for (const auto& window : monitorWindows_) {
        xcb_unmap_window(connection_, window->Id());
    }
    xcb_flush(connection_);
}

}  // namespace digitmosaic
