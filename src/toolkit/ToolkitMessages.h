// The toolkit's own messages, which never reach the user: they are kept only to name the cause of
// a fatal one in the program's one failure line. An exit the program did not ask for (the
// toolkit's, after the display went away) is reported in the same one line, saying whether the
// display's connection was in fact lost.
#pragma once

#include <QtGlobal>

struct xcb_connection_t;

class QMessageLogContext;
class QString;

namespace digitmosaic {

// The Qt message handler: prints nothing. A fatal message becomes FailWithoutDisplay with the first
// complaint the toolkit made, which names the cause ("could not connect to display :1", say); a
// thread the toolkit could not start ends the program with one line at once; the Wayland client's
// warning that its connection broke (it ends the process right after, past any exit hook) becomes
// the lost-display line.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text);

// Once the toolkit runs: an exit that the program did not announce with EndingOnPurpose means the
// toolkit gave up; it says why in one line and ends with status 1: the display's connection lost
// when the X connection given (if any) has in fact failed, else the toolkit's first complaint.
void ReportUnplannedExits(xcb_connection_t* display);
void EndingOnPurpose();

}  // namespace digitmosaic
