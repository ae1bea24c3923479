// The toolkit's messages kept quiet, and its unplanned exits told in one line.
#include "toolkit/ToolkitMessages.h"

#include <sys/resource.h>
#include <xcb/xcb.h>

#include <QString>
#include <atomic>
#include <cstdlib>

#include "system/Failure.h"
#include "x11/Connection.h"

namespace digitmosaic {

namespace {

std::atomic<bool> onPurpose{false};  // the program itself is ending
xcb_connection_t* displayConnection = nullptr;
QString firstComplaint;  // the toolkit's first message: the later ones follow from it

void OnExit() {
    if (onPurpose) {
        return;
    }
    // The connection library closes the connection when it cannot get memory for a reply: the
    // display is fine then, and the toolkit ends as if it had gone.
    const int error = displayConnection ? xcb_connection_has_error(displayConnection) : 0;
    if (error == XCB_CONN_CLOSED_MEM_INSUFFICIENT) {
        Fail("out of memory");
    }
    if (!displayConnection || error != 0) {
        Fail("lost the connection to the display");
    }
    Fail("the toolkit gave up: " + (firstComplaint.isEmpty()
                                        ? std::string("no reason given")
                                        : Quoted(firstComplaint.toStdString(), 120)));
}

}  // namespace

void QuietMessages(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text) {
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
        if (firstComplaint.isEmpty()) {
            firstComplaint = text;
        }
        return;
    }
    const QString& cause = firstComplaint.isEmpty() ? text : firstComplaint;
    if (cause.startsWith(QLatin1String("could not connect to display"))) {
        // The toolkit does not say why: a server that refused, or memory that the connection
        // library could not get. Connecting once more says it, in the program's own line.
        int screen = 0;
        xcb_disconnect(ConnectToDisplay(&screen));
        // It connects now: the toolkit's attempt failed on its own side, which under a limit on
        // the address space is memory that could not be had.
        if (rlimit limit{}; getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
            Fail("out of memory: the toolkit could not connect to the display");
        }
    }
    FailWithoutDisplay(Quoted(cause.toStdString(), 120));
}

void ReportUnplannedExits(xcb_connection_t* display) {
    displayConnection = display;
    std::atexit(OnExit);
}

void EndingOnPurpose() { onPurpose = true; }

}  // namespace digitmosaic
