// The Qt host: the application, the pumps and their pacing, the saver's windows and the about
// window.
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
#include <cstdio>
#include <cstdlib>

#include "core/PixelGrid.h"
#include "qt/AboutWindow.h"
#include "qt/SaverWindow.h"
#include "qt/ToolkitEnvironment.h"
#include "qt/ToolkitMessages.h"
#include "system/Environment.h"
#include "system/Failure.h"
#include "system/Watchdog.h"

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
}  // namespace

QtHost::QtHost(int& argc, char** argv, Pacing pacing)
    : ProcessHost(argc, argv), argc_(argc), argv_(argv), pacing_(pacing) {
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
        xcb_connection_t* x11 = ToolkitXConnection();
        WatchdogRest(x11 ? xcb_get_file_descriptor(x11) : -1);
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
    // Wayland lets no client move the pointer.
    StartGui();
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return;
    }
    // In device pixels, as the program gives them: the screen's origin is the same in both, its
    // size scaled.
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area(screen->geometry().topLeft(),
                     screen->geometry().size() * screen->devicePixelRatio());
    x = std::clamp(x, area.left(), area.right());
    y = std::clamp(y, area.top(), area.bottom());
    QCursor::setPos(screen, QPoint(x, y) / screen->devicePixelRatio());
}

void QtHost::SystemBeep() {
    StartGui();
    QApplication::beep();
}

void QtHost::OpenWindow(SaverWindowEvents& window) {
    StartGui();
    StartWatchdog();
    if (!saverEvents_) {
        OpenSaverSurfaces(window);
        window.Form_Load();
    }
    ShowWindow(window);
}

void QtHost::OpenSaverSurfaces(SaverWindowEvents& events) {
    saverEvents_ = &events;
    // A host's window is an X window, painted by the X11 host whenever there is an X display.
    if (hostWindowRequest_.Embedded()) {
        Fail(HostWindowSource() + " names an X window, but the display is not X11");
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        AddScreen(screen);
    }
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, qGuiApp,
                     [this](QScreen* screen) { AddScreen(screen); });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, qGuiApp,
                     [this](QScreen* screen) { RemoveScreen(screen); });
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
}

bool QtHost::nativeEventFilter(const QByteArray& type, void* message, qintptr* /*result*/) {
    if (type != "xcb_generic_event_t") {
        return false;
    }
    WatchdogBeat();  // ends a rest: the handling is watched
    const auto& event = *static_cast<const xcb_generic_event_t*>(message);
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
