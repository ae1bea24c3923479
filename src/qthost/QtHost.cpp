#include "qthost/QtHost.h"

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

#include "host/RandomUnit.h"
#include "qthost/AboutWindow.h"
#include "qthost/Diagnostics.h"
#include "qthost/Environment.h"
#include "qthost/ForeignWindow.h"
#include "qthost/SaverWindow.h"
#include "qthost/Watchdog.h"
#include "qthost/XcbCanvas.h"

namespace digitmosaic {

namespace {

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
bool ScreensInColour(xcb_connection_t* connection) {
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection)); roots.rem;
         xcb_screen_next(&roots)) {
        if (!XcbCanvas::TrueColourVisual(connection, roots.data->root_visual,
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
      hostWindow_(HostWindowFrom(arguments_)),
      instanceLock_(InstanceScope(hostWindow_)) {
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
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        const std::string sessionBus = bus && arguments_.argument == "/c" ? bus : "";
        PrepareToolkitEnvironment();
        if (!sessionBus.empty()) {
            setenv("DBUS_SESSION_BUS_ADDRESS", sessionBus.c_str(), 1);
        }
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

std::vector<QImage> QtHost::SaverPictures() {
    std::vector<QImage> pictures;
    for (const ScreenWindow& shown : screenWindows_) {
        pictures.push_back(shown.window->Picture());
    }
    return pictures;
}

std::vector<SaverWindow*> QtHost::SaverWindows() const {
    std::vector<SaverWindow*> windows;
    for (const ScreenWindow& shown : screenWindows_) {
        windows.push_back(shown.window.get());
    }
    return windows;
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
    for (const ScreenWindow& shown : screenWindows_) {
        shown.window->Present();
    }
    if (foreignWindow_) {
        foreignWindow_->Present();
    }
    if (pacing_ == Pacing::Unpaced) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // Pumps keep a steady beat of one a refresh: a pump that returns a little late does not push
    // back the ones after it. One that falls a whole refresh behind starts the beat afresh.
    const auto now = Clock::now();
    if (now - nextPump_ > refreshInterval_) {
        nextPump_ = now;
    }
    nextPump_ += refreshInterval_;
    WaitForEvents(nextPump_);
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
    return static_cast<float>(screen->geometry().width() * 1440.0 / screen->logicalDotsPerInchX());
}

float QtHost::ScreenHeightTwips() {
    StartGui();
    const QScreen* screen = QGuiApplication::primaryScreen();
    return static_cast<float>(screen->geometry().height() * 1440.0 / screen->logicalDotsPerInchY());
}

void QtHost::SetCursorPos(std::int32_t x, std::int32_t y) {
    // In a host's window (or the root) the pointer is the host's; Wayland lets no client move it.
    if (hostWindow_.Embedded()) {
        return;
    }
    StartGui();
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen->geometry();
    QCursor::setPos(screen, std::clamp(x, area.left(), area.right()),
                    std::clamp(y, area.top(), area.bottom()));
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
    if (hostWindow_.Embedded()) {
        const std::string source = hostWindow_.Given() ? hostWindow_.source : "-root";
        if (hostWindow_.Given() && !hostWindow_.id) {
            Fail(source + " is not a window id: \"" + Quoted(hostWindow_.text) + "\"");
        }
        xcb_connection_t* connection = ToolkitXConnection();
        if (!connection) {
            Fail(source + " names an X window, but the display is not X11");
        }
        const std::uint32_t id =
            hostWindow_.id ? *hostWindow_.id : ForeignWindow::DesktopRoot(connection);
        foreignWindow_ = std::make_unique<ForeignWindow>(events, connection, id, source);
    } else {
        if (xcb_connection_t* connection = ToolkitXConnection();
            connection && !ScreensInColour(connection)) {
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
    if (saverShown_) {
        added->CoverScreen();
    }
}

void QtHost::RemoveScreen(QScreen* screen) {
    std::erase_if(screenWindows_,
                  [screen](const ScreenWindow& shown) { return shown.screen == screen; });
}

bool QtHost::nativeEventFilter(const QByteArray& type, void* message, qintptr* /*result*/) {
    if (type != "xcb_generic_event_t") {
        return false;
    }
    const auto& event = *static_cast<const xcb_generic_event_t*>(message);
    if (foreignWindow_ && foreignWindow_->Handle(event)) {
        return true;
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
    for (const ScreenWindow& shown : screenWindows_) {
        shown.window->CoverScreen();
        if (shown.screen == QGuiApplication::primaryScreen()) {
            shown.window->requestActivate();  // keys go to the window under the parked pointer
        }
    }
    if (foreignWindow_) {
        foreignWindow_->Present();
    }
    refreshInterval_ = RefreshInterval(QGuiApplication::primaryScreen());
}

void QtHost::UnloadWindow(SaverWindowEvents& /*window*/) {
    if (!saverEvents_ || unloadingSaver_) {
        return;
    }
    unloadingSaver_ = true;
    if (foreignWindow_) {
        foreignWindow_->Unload();
    }
    for (const ScreenWindow& shown : screenWindows_) {
        shown.window->close();  // raises the unload event
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
    for (const ScreenWindow& shown : screenWindows_) {
        shown.window->SetLogicalScale(x1, y1, x2, y2);
    }
    if (foreignWindow_) {
        foreignWindow_->SetLogicalScale(x1, y1, x2, y2);
    }
}

void QtHost::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    for (const ScreenWindow& shown : screenWindows_) {
        shown.window->DrawBox(x, y, dx, dy, color);
    }
    if (foreignWindow_) {
        foreignWindow_->DrawBox(x, y, dx, dy, color);
    }
}

}  // namespace digitmosaic
