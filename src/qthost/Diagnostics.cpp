#include "qthost/Diagnostics.h"

#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QString>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace digitmosaic {

namespace {

int errorFd = STDERR_FILENO;         // where the program's own line goes
std::atomic<bool> onPurpose{false};  // the program itself is ending
xcb_connection_t* displayConnection = nullptr;
QString firstComplaint;  // the toolkit's first message: the later ones follow from it

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
    if (onPurpose) {
        return;
    }
    if (!displayConnection || xcb_connection_has_error(displayConnection)) {
        WriteLine("lost the connection to the display");
    } else {
        WriteLine("the toolkit gave up: " + (firstComplaint.isEmpty()
                                                 ? std::string("no reason given")
                                                 : Quoted(firstComplaint.toStdString(), 120)));
    }
    std::_Exit(1);
}

}  // namespace

void Fail(const std::string& what) {
    WriteLine(what);
    std::_Exit(1);
}

void FailWithoutDisplay(const std::string& why) { Fail("cannot open a window: " + why); }

void FailFromAnyThread(const char* what) {
    char line[256] = "digitmosaic: ";
    std::size_t length = 13;
    for (; *what && length < sizeof line - 1; ++what) {
        line[length++] = *what;
    }
    line[length++] = '\n';
    [[maybe_unused]] const ssize_t written = write(errorFd, line, length);
    _exit(1);
}

std::string Quoted(const std::string& value, std::size_t shown) {
    if (value.size() <= shown) {
        return value;
    }
    std::size_t cut = shown;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) {
        --cut;  // not inside a UTF-8 character
    }
    return value.substr(0, cut) + "\u2026";
}

void OpenStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0) {
            // The lowest free number is this one.
            const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                close(null);
            }
        }
    }
}

void QuietMessages(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text) {
    QString& cause = firstComplaint;
    // The Wayland client ends the process straight after this warning, past any exit hook.
    if (!onPurpose && text.startsWith(QLatin1String("The Wayland connection"))) {
        Fail("lost the connection to the display");
    }
    // The toolkit goes on without the thread (its display reader, say) and would wait for it or
    // never see input: better to stop now.
    if (text.startsWith(QLatin1String("QThread::start: Thread creation error"))) {
        Fail("out of memory: the toolkit could not start a thread");
    }
    if (type != QtFatalMsg) {
        if (cause.isEmpty()) {
            cause = text;
        }
        return;
    }
    FailWithoutDisplay(Quoted((cause.isEmpty() ? text : cause).toStdString(), 120));
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

void ReportUnplannedExits(xcb_connection_t* display) {
    displayConnection = display;
    std::atexit(OnExit);
    // An exception nothing caught (memory that could not be had, mostly) would abort.
    std::set_terminate([] { Fail("out of memory"); });
}

void EndingOnPurpose() { onPurpose = true; }

}  // namespace digitmosaic
