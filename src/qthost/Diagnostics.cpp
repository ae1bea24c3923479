#include "qthost/Diagnostics.h"

#include <fcntl.h>
#include <unistd.h>

#include <QString>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace digitmosaic {

namespace {

int errorFd = STDERR_FILENO;         // where the program's own line goes
std::atomic<bool> onPurpose{false};  // the program itself is ending

void WriteLine(const std::string& what) {
    std::string line = "digitmosaic: " + what;
    if (const auto newline = line.find('\n'); newline != std::string::npos) {
        line.erase(newline);
    }
    line += '\n';
    std::fflush(nullptr);
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t written = write(errorFd, line.data() + done, line.size() - done);
        if (written <= 0) {
            break;
        }
        done += static_cast<std::size_t>(written);
    }
}

void OnExit() {
    if (!onPurpose) {
        WriteLine("lost the connection to the display");
        std::_Exit(1);
    }
}

}  // namespace

void Fail(const std::string& what) {
    WriteLine(what);
    std::_Exit(1);
}

void FailWithoutDisplay(const std::string& why) { Fail("cannot open a window: " + why); }

void QuietMessages(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text) {
    static QString cause;  // the first complaint: the later ones follow from it
    // The Wayland client ends the process straight after this warning, past any exit hook.
    if (!onPurpose && text.startsWith(QLatin1String("The Wayland connection"))) {
        Fail("lost the connection to the display");
    }
    if (type != QtFatalMsg) {
        if (cause.isEmpty()) {
            cause = text;
        }
        return;
    }
    FailWithoutDisplay((cause.isEmpty() ? text : cause).toStdString());
}

void SilenceToolkitOutput() {
    const int copy = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (copy >= 0 && null >= 0 && dup2(null, STDERR_FILENO) >= 0) {
        errorFd = copy;
    } else if (copy >= 0) {
        close(copy);  // no descriptors to spare: the toolkit may speak, the program still does
    }
    if (null >= 0) {
        close(null);
    }
}

void ReportUnplannedExits() { std::atexit(OnExit); }

void EndingOnPurpose() { onPurpose = true; }

}  // namespace digitmosaic
