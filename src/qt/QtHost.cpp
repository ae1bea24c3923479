// The Qt host: the application, the pumps and their pacing, and the surfaces the saver paints on.
#include "qt/QtHost.h"

#include <xcb/xcb.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "geometry/PixelGrid.h"
#include "host/RandomUnit.h"
#include "qt/AboutWindow.h"
#include "qt/SaverWindow.h"
#include "qt/ToolkitEnvironment.h"
#include "qt/ToolkitMessages.h"
#include "system/Environment.h"
#include "system/Failure.h"
#include "system/Watchdog.h"
#include "x11/HostWindow.h"
#include "x11/XcbCanvas.h"
#include "x11/XcbReply.h"

namespace digitmosaic {

namespace {

// The toolkit's connection to the X server, or null when it does not run on X11.
xcb_connection_t* ToolkitXConnection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return nullptr;
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

std::vector<std::string> ArgumentsOf(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

// A run needs this many descriptors beside those open already: the display's connection, the event
// loop's wake-up descriptor, the copy of standard error, the shared-memory segments of the windows
// as they are made and resized (each passed as a descriptor for a moment), the watchdog, and room
// for the libraries. Short of one, the toolkit would wait for ever for a reply whose descriptor
// could not be received.
constexpr int kDescriptorsNeeded = 16;

// Whether `needed` descriptor numbers below the limit are free.
bool DescriptorsFree(int needed) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return true;
    }
    int free = 0;
    for (rlim_t fd = 0; fd < limit.rlim_cur && free < needed; ++fd) {
        free += fcntl(static_cast<int>(fd), F_GETFD) < 0 ? 1 : 0;
    }
    return free >= needed;
}

// Whether every screen of the X display paints in true colour, as the saver's windows are made.
bool ScreensInColor(xcb_connection_t* connection) {
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection)); roots.rem;
         xcb_screen_next(&roots)) {
        if (!XcbCanvas::TrueColorVisual(connection, roots.data->root_visual,
                                        roots.data->root_depth)) {
            return false;
        }
    }
    return true;
}

}  // namespace

QtHost::QtHost(int& argc, char** argv, Pacing pacing)
    : argc_(argc),
      argv_(argv),
      arguments_(ParseHostArguments(ArgumentsOf(argc, argv))),
      pacing_(pacing),
      random_(std::random_device{}()),
      hostWindowRequest_(HostWindowFrom(arguments_)),
      instanceLock_(InstanceScope(hostWindowRequest_)) {
    qInstallMessageHandler(QuietMessages);
}

QtHost::~QtHost() = default;

void QtHost::StartGui() {
    if (guiStarted_) {
        return;
    }
    guiStarted_ = true;
    if (!QCoreApplication::instance()) {
        if (const std::string why = MissingDisplay(); !why.empty()) {
            FailWithoutDisplay(why);
        }
        if (!DescriptorsFree(kDescriptorsNeeded)) {
            Fail("too few file descriptors free to run (" + std::to_string(kDescriptorsNeeded) +
                 " needed; see ulimit -n)");
        }
        // The about window keeps the session's bus, when there is one, for a screen reader; the
        // saver has nothing for one to read and keeps out of the bus entirely.
        PrepareToolkitEnvironment(arguments_.argument == "/c");
        SilenceToolkitOutput();
        app_ = std::make_unique<QApplication>(argc_, argv_);
        ReportUnplannedExits(ToolkitXConnection());
    }
    QApplication::setApplicationName(QStringLiteral("Digit Mosaic"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    wake_ = std::make_unique<QTimer>();
    wake_->setSingleShot(true);
    wake_->setTimerType(Qt::PreciseTimer);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

int QtHost::RunWhileWindowsOpen() {
    const int status =
        guiStarted_ && !QApplication::topLevelWidgets().empty() ? QApplication::exec() : 0;
    EndingOnPurpose();  // the last window closed
    return status;
}

float QtHost::RandomUnit() { return UnitFromBits(static_cast<std::uint32_t>(random_())); }

void QtHost::SeedRandom(float seed) { random_.seed(std::bit_cast<std::uint32_t>(seed)); }

float QtHost::SecondsSinceMidnight() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto fraction =
        std::chrono::duration<double>(now - std::chrono::floor<std::chrono::seconds>(now));
    return static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec +
                              fraction.count());
}

QtHost::Clock::duration QtHost::RefreshInterval(const QScreen* screen) {
    double hertz = screen ? screen->refreshRate() : 0.0;
    if (!(hertz >= 1.0 && hertz <= 1000.0)) {
        hertz = 60.0;
    }
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hertz));
}

void QtHost::PumpEvents() {
    WatchdogBeat();
    StartGui();
    if (pacing_ == Pacing::ToDisplay && saverShown_) {
        SleepWhileUnseen();
    }
    for (Surface* surface : surfaces_) {
        surface->Present();
    }
    if (pacing_ == Pacing::Unpaced) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    WaitForEvents(beat_.Next(Clock::now()));
}

bool QtHost::Seen() const {
    return std::any_of(surfaces_.begin(), surfaces_.end(),
                       [](const Surface* surface) { return surface->Visible(); });
}

void QtHost::SleepWhileUnseen() {
    if (Seen()) {
        return;
    }
    // Nothing is painted or presented, and input still reaches the handlers at once. Nothing
    // wakes the process but an event, and the watchdog rests meanwhile: every event beats it
    // before it is handled (see nativeEventFilter and SaverWindow::event), so a handler that
    // hangs is still caught.
    while (!Seen()) {
        WatchdogBeat();
        WatchdogRest();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    WatchdogBeat();
    beat_.Restart(Clock::now());
}

void QtHost::WaitForEvents(Clock::time_point deadline, const std::function<bool()>& done) {
    auto now = Clock::now();
    if (now >= deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);  // late: only what is pending
        return;
    }
    // Each pass delivers whatever has arrived, or sleeps until something does: an event, or
    // the timer at the deadline.
    while (now < deadline && !(done && done())) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        wake_->start(static_cast<int>(left.count()));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        now = Clock::now();
    }
}

void QtHost::EndProgram() {
    if (guiStarted_) {
        if (xcb_connection_t* connection = ToolkitXConnection()) {
            // The desktop comes back as soon as the server has the requests, not once the
            // process has been torn down.
            for (const ScreenWindow& shown : screenWindows_) {
                if (shown.window->handle()) {
                    xcb_unmap_window(connection, shown.window->winId());
                }
            }
            xcb_flush(connection);
        }
    }
    std::fflush(nullptr);
    std::_Exit(0);
}

std::string QtHost::ArgumentString() { return arguments_.argument; }

bool QtHost::AnotherInstanceRunning() {
    // Any other argument ends the program anyway, without touching the display.
    if (arguments_.argument != "/s" && arguments_.argument != "/c") {
        return false;
    }
    StartGui();
    return instanceLock_.AnotherInstanceRunning(ToolkitXConnection());
}

float QtHost::ScreenWidthTwips() {
    StartGui();
    const QScreen* screen = QGuiApplication::primaryScreen();
    return static_cast<float>(screen->geometry().width() *
                              TwipsPerPixel(screen->logicalDotsPerInchX()));
}

float QtHost::ScreenHeightTwips() {
    StartGui();
    const QScreen* screen = QGuiApplication::primaryScreen();
    return static_cast<float>(screen->geometry().height() *
                              TwipsPerPixel(screen->logicalDotsPerInchY()));
}

void QtHost::SetCursorPos(std::int32_t x, std::int32_t y) {
    // In a host's window (or the root) the pointer is the host's; Wayland lets no client move it.
    if (hostWindowRequest_.Embedded()) {
        return;
    }
    StartGui();
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return;
    }
    // In device pixels, as the program gives them: the screen's origin is the same in both, its
    // size scaled. (The toolkit's logical positions miss the last device pixel at ratio 2.)
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area(screen->geometry().topLeft(),
                     screen->geometry().size() * screen->devicePixelRatio());
    x = std::clamp(x, area.left(), area.right());
    y = std::clamp(y, area.top(), area.bottom());
    if (xcb_connection_t* connection = ToolkitXConnection()) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        xcb_warp_pointer(connection, XCB_NONE, root, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                         static_cast<std::int16_t>(y));
        xcb_flush(connection);
    } else {
        QCursor::setPos(screen, QPoint(x, y) / screen->devicePixelRatio());
    }
}

void QtHost::SystemBeep() {
    StartGui();
    QApplication::beep();
}

void QtHost::OpenWindow(SaverWindowEvents& window) {
    StartGui();
    if (watchdogSeconds_ > 0 && !StartWatchdog(watchdogSeconds_)) {
        Fail("cannot start the watchdog thread (out of memory or threads?)");
    }
    if (!saverEvents_) {
        OpenSaverSurfaces(window);
        window.Form_Load();
    }
    ShowWindow(window);
}

void QtHost::OpenSaverSurfaces(SaverWindowEvents& events) {
    saverEvents_ = &events;
    if (hostWindowRequest_.Embedded()) {
        const std::string source = hostWindowRequest_.Given() ? hostWindowRequest_.source : "-root";
        if (hostWindowRequest_.Given() && !hostWindowRequest_.id) {
            Fail(source + " is not a window id: \"" + Quoted(hostWindowRequest_.text) + "\"");
        }
        xcb_connection_t* connection = ToolkitXConnection();
        if (!connection) {
            Fail(source + " names an X window, but the display is not X11");
        }
        const std::uint32_t id =
            hostWindowRequest_.id ? *hostWindowRequest_.id : HostWindow::DesktopRoot(connection);
        hostWindow_ = std::make_unique<HostWindow>(events, connection, id, source);
        ListSurfaces();
    } else {
        if (xcb_connection_t* connection = ToolkitXConnection();
            connection && !ScreensInColor(connection)) {
            Fail(
                "the display cannot show colours (it has no true-colour visual of 15 bits or "
                "more)");
        }
        for (QScreen* screen : QGuiApplication::screens()) {
            AddScreen(screen);
        }
        QObject::connect(qGuiApp, &QGuiApplication::screenAdded, qGuiApp,
                         [this](QScreen* screen) { AddScreen(screen); });
        QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, qGuiApp,
                         [this](QScreen* screen) { RemoveScreen(screen); });
    }
}

void QtHost::AddScreen(QScreen* screen) {
    auto window = std::make_unique<SaverWindow>(*saverEvents_, screen);
    if (scale_.set) {
        window->SetLogicalScale(scale_.x1, scale_.y1, scale_.x2, scale_.y2);
    }
    SaverWindow* added = window.get();
    QObject::connect(screen, &QScreen::geometryChanged, added, [this, added] {
        if (saverShown_) {
            added->CoverScreen();
        }
    });
    screenWindows_.push_back({screen, std::move(window)});
    ListSurfaces();
    if (saverShown_) {
        added->CoverScreen();
        WatchVisibility(*added);
    }
}

void QtHost::WatchVisibility(const SaverWindow& window) {
    xcb_connection_t* connection = ToolkitXConnection();
    if (!connection || !window.handle()) {
        return;
    }
    // Added to what the toolkit selected there: the server then says when other windows cover
    // all of it, which the toolkit does not follow.
    const auto id = static_cast<xcb_window_t>(window.winId());
    if (const auto attributes = TakeReply(xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, id), nullptr))) {
        const std::uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
        xcb_change_window_attributes(connection, id, XCB_CW_EVENT_MASK, &mask);
    }
}

void QtHost::RemoveScreen(QScreen* screen) {
    std::erase_if(screenWindows_,
                  [screen](const ScreenWindow& shown) { return shown.screen == screen; });
    ListSurfaces();
}

void QtHost::ListSurfaces() {
    surfaces_.clear();
    for (const ScreenWindow& shown : screenWindows_) {
        surfaces_.push_back(shown.window.get());
    }
    if (hostWindow_) {
        surfaces_.push_back(hostWindow_.get());
    }
}

bool QtHost::nativeEventFilter(const QByteArray& type, void* message, qintptr* /*result*/) {
    if (type != "xcb_generic_event_t") {
        return false;
    }
    WatchdogBeat();  // ends a rest: the handling is watched
    const auto& event = *static_cast<const xcb_generic_event_t*>(message);
    if (hostWindow_ && hostWindow_->Handle(event)) {
        return true;
    }
    if ((event.response_type & 0x7F) == XCB_VISIBILITY_NOTIFY) {
        const auto& visibility = reinterpret_cast<const xcb_visibility_notify_event_t&>(event);
        for (const ScreenWindow& shown : screenWindows_) {
            if (shown.window->winId() == visibility.window) {
                shown.window->SetObscured(visibility.state == XCB_VISIBILITY_FULLY_OBSCURED);
            }
        }
        return false;
    }
    if ((event.response_type & 0x7F) != XCB_DESTROY_NOTIFY) {
        return false;
    }
    const auto gone = reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window;
    if (aboutWindow_ && aboutWindow_->windowHandle() && aboutWindow_->winId() == gone) {
        EndProgram();
    }
    for (const ScreenWindow& shown : screenWindows_) {
        if (shown.window->winId() == gone) {
            bool cancel = false;
            saverEvents_->Form_Unload(cancel);
            return true;
        }
    }
    return false;
}

void QtHost::OpenWindow(AboutWindowEvents& window) {
    StartGui();
    if (!aboutWindow_) {
        aboutWindow_ = std::make_unique<AboutWindow>(window);
    }
    aboutWindow_->show();
    // Returns once the window is on screen, so what follows (the beep) comes after it.
    const QWidget& shown = *aboutWindow_;
    WaitForEvents(Clock::now() + std::chrono::seconds(2),
                  [&shown] { return shown.windowHandle() && shown.windowHandle()->isExposed(); });
}

void QtHost::ShowWindow(SaverWindowEvents& /*window*/) {
    if (!saverEvents_ || saverShown_) {
        return;
    }
    saverShown_ = true;
    for (Surface* surface : surfaces_) {
        surface->Show();
    }
    for (const ScreenWindow& shown : screenWindows_) {
        WatchVisibility(*shown.window);
        if (shown.screen == QGuiApplication::primaryScreen()) {
            shown.window->requestActivate();  // keys go to the window under the parked pointer
        }
    }
    beat_.SetInterval(RefreshInterval(QGuiApplication::primaryScreen()));
}

void QtHost::UnloadWindow(SaverWindowEvents& /*window*/) {
    if (!saverEvents_ || unloadingSaver_) {
        return;
    }
    unloadingSaver_ = true;
    for (Surface* surface : surfaces_) {
        surface->Unload();  // raises the unload event
    }
    unloadingSaver_ = false;
}

void QtHost::UnloadWindow(AboutWindowEvents& /*window*/) {
    if (aboutWindow_) {
        aboutWindow_->close();
    }
}

void QtHost::SetLogicalScale(double x1, double y1, double x2, double y2) {
    scale_ = {x1, y1, x2, y2, true};
    for (Surface* surface : surfaces_) {
        surface->SetLogicalScale(x1, y1, x2, y2);
    }
}

void QtHost::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    for (Surface* surface : surfaces_) {
        surface->DrawBox(x, y, dx, dy, color);
    }
}

}  // namespace digitmosaic
