// The about window's toolkit module: Qt started for the about window alone, and the module's one
// export, which the executable looks up when "/c" first shows the window.
#include "core/AboutToolkit.h"

#include <xcb/xcb.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QGuiApplication>
#include <QWindow>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <memory>

#include "system/Failure.h"
#include "system/Watchdog.h"
#include "toolkit/AboutWindow.h"
#include "toolkit/ToolkitEnvironment.h"
#include "toolkit/ToolkitMessages.h"

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

// The toolkit needs this many descriptors beside those open already: the display's connection,
// the event loop's wake-up descriptor, shared memory passed for a moment, and room for the
// libraries. Short of one, it would wait for ever for a reply whose descriptor could not be
// received.
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

class QtAboutToolkit final : public AboutToolkit, private QAbstractNativeEventFilter {
  public:
    QtAboutToolkit(int& argc, char** argv) {
        if (!DescriptorsFree(kDescriptorsNeeded)) {
            Fail("too few file descriptors free to run (" + std::to_string(kDescriptorsNeeded) +
                 " needed; see ulimit -n)");
        }
        // The about window keeps the session's bus, when there is one, for a screen reader.
        PrepareToolkitEnvironment(true);
        qInstallMessageHandler(QuietMessages);
        app_ = std::make_unique<QApplication>(argc, argv);
        ReportUnplannedExits(ToolkitXConnection());
        QApplication::setApplicationName(QStringLiteral("Digit Mosaic"));
        QApplication::setApplicationVersion(QStringLiteral("1.00"));
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    void Open(AboutWindowEvents& events) override {
        if (!window_) {
            window_ = std::make_unique<AboutWindow>(events);
        }
        window_->show();
        // Returns once the window is on screen, so what follows (the beep) comes after it.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!(window_->windowHandle() && window_->windowHandle()->isExposed()) &&
               std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            50);
        }
    }

    void Close() override {
        if (window_) {
            window_->close();
        }
    }

    void Beep() override { QApplication::beep(); }

    int RunWhileOpen() override {
        const int status = !QApplication::topLevelWidgets().empty() ? QApplication::exec() : 0;
        EndingOnPurpose();  // the last window closed
        return status;
    }

  private:
    // Ends the process when another client destroys the window.
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* /*result*/) override {
        if (type != "xcb_generic_event_t") {
            return false;
        }
        const auto& event = *static_cast<const xcb_generic_event_t*>(message);
        if ((event.response_type & 0x7F) == XCB_DESTROY_NOTIFY && window_ &&
            window_->windowHandle() &&
            reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window == window_->winId()) {
            EndingOnPurpose();
            std::_Exit(0);
        }
        return false;
    }

    std::unique_ptr<QApplication> app_;
    std::unique_ptr<AboutWindow> window_;
};

}  // namespace

}  // namespace digitmosaic

extern "C" __attribute__((visibility("default"))) digitmosaic::AboutToolkit*
digitmosaic_about_toolkit(int& argc, char** argv, const digitmosaic::ToolkitLink& link) {
    // The executable's line and watchdog, not this module's copies.
    digitmosaic::SetErrorDescriptor(link.errorDescriptor);
    digitmosaic::UseWatchdogOf(link.beat, link.rest);
    std::set_terminate([] { digitmosaic::Fail("out of memory"); });
    return new digitmosaic::QtAboutToolkit(argc, argv);
}
