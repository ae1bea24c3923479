#include "qthost/QtHost.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
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
#include "qthost/SaverWindow.h"

namespace digitmosaic {

namespace {

std::string JoinArguments(int argc, char** argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            joined += ' ';
        }
        joined += argv[i];
    }
    return joined;
}

}  // namespace

QtHost::QtHost(int& argc, char** argv, Pacing pacing)
    : argc_(argc),
      argv_(argv),
      arguments_(JoinArguments(argc, argv)),
      pacing_(pacing),
      random_(std::random_device{}()),
      hostWindow_(HostWindowFromEnvironment()),
      instanceLock_("digitmosaic", InstanceScope(hostWindow_)) {
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
        PrepareToolkitEnvironment();
        SilenceToolkitOutput();
        app_ = std::make_unique<QApplication>(argc_, argv_);
        ReportUnplannedExits();
    }
    QApplication::setApplicationName(QStringLiteral("Digit Mosaic"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    wake_ = std::make_unique<QTimer>();
    wake_->setSingleShot(true);
    wake_->setTimerType(Qt::PreciseTimer);
    if (instanceLock_.ListeningSocket() >= 0) {
        lockNotifier_ = std::make_unique<QSocketNotifier>(instanceLock_.ListeningSocket(),
                                                          QSocketNotifier::Read);
        QObject::connect(lockNotifier_.get(), &QSocketNotifier::activated,
                         [this] { instanceLock_.AcceptPending(); });
    }
}

int QtHost::RunWhileWindowsOpen() {
    if (!guiStarted_ || QApplication::topLevelWidgets().empty()) {
        return 0;
    }
    return QApplication::exec();
}

const QImage* QtHost::SaverCanvas() const {
    return saverWindow_ ? &saverWindow_->Canvas() : nullptr;
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
    StartGui();
    if (saverWindow_) {
        saverWindow_->Present();
    }
    if (pacing_ == Pacing::Unpaced) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        WaitForEvents(lastPump_ + refreshInterval_);
    }
    lastPump_ = Clock::now();
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
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
            xcb_flush(x11->connection());
        }
    }
    std::fflush(nullptr);
    std::_Exit(0);
}

std::string QtHost::ArgumentString() { return arguments_; }

bool QtHost::AnotherInstanceRunning() { return instanceLock_.AnotherInstanceRunning(); }

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
    StartGui();
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen->virtualGeometry();
    QCursor::setPos(screen, std::clamp(x, desktop.left(), desktop.right()),
                    std::clamp(y, desktop.top(), desktop.bottom()));
}

void QtHost::SystemBeep() {
    StartGui();
    QApplication::beep();
}

void QtHost::OpenWindow(SaverWindowEvents& window) {
    StartGui();
    if (!saverWindow_) {
        saverWindow_ = std::make_unique<SaverWindow>(window);
        window.Form_Load();
    }
    ShowWindow(window);
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
    if (saverWindow_) {
        saverWindow_->ShowOverScreen();
        refreshInterval_ = RefreshInterval(saverWindow_->screen());
    }
}

void QtHost::UnloadWindow(SaverWindowEvents& /*window*/) {
    if (!saverWindow_ || unloadingSaver_) {
        return;
    }
    unloadingSaver_ = true;
    saverWindow_->close();  // raises the unload event
    unloadingSaver_ = false;
}

void QtHost::UnloadWindow(AboutWindowEvents& /*window*/) {
    if (aboutWindow_) {
        aboutWindow_->close();
    }
}

void QtHost::SetLogicalScale(double x1, double y1, double x2, double y2) {
    if (saverWindow_) {
        saverWindow_->SetLogicalScale(x1, y1, x2, y2);
    }
}

void QtHost::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    if (saverWindow_) {
        saverWindow_->DrawBox(x, y, dx, dy, color);
    }
}

}  // namespace digitmosaic
