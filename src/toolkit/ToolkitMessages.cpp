// The toolkit's messages kept quiet, and its unplanned exits told in one line.
#include "toolkit/ToolkitMessages.h"

#include <xcb/xcb.h>

#include <QString>
#include <atomic>
#include <cstdlib>

#include "system/Failure.h"

namespace digitmosaic {

namespace {

std::atomic<bool> onPurpose{false};  // the program itself is ending
xcb_connection_t* displayConnection = nullptr;
QString firstComplaint;  // the toolkit's first message: the later ones follow from it

void OnExit() {
    if (onPurpose) {
        return;
    }
    if (!displayConnection || xcb_connection_has_error(displayConnection)) {
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
    FailWithoutDisplay(
        Quoted((firstComplaint.isEmpty() ? text : firstComplaint).toStdString(), 120));
}

void ReportUnplannedExits(xcb_connection_t* display) {
    displayConnection = display;
    std::atexit(OnExit);
}

void EndingOnPurpose() { onPurpose = true; }

}  // namespace digitmosaic
