// What the program says when it cannot go on: one line on standard error, "digitmosaic: ...", and
// status 1. The toolkit's own messages never reach the user: they are kept only to name the cause
// of a fatal one, and once the toolkit runs, whatever it or the libraries under it would print goes
// to /dev/null. An exit the program did not ask for (the toolkit's, after the display went away)
// is reported in the same one line.
#pragma once

#include <QtGlobal>
#include <string>

class QMessageLogContext;
class QString;

namespace digitmosaic {

// Prints "digitmosaic: <what>" on the program's standard error and ends with status 1 at once.
[[noreturn]] void Fail(const std::string& what);
[[noreturn]] void FailWithoutDisplay(const std::string& why);

// The Qt message handler: prints nothing. A fatal message becomes FailWithoutDisplay with the first
// complaint the toolkit made, which names the cause ("could not connect to display :1", say); the
// Wayland client's warning that its connection broke (it ends the process right after, past any
// exit hook) becomes the lost-display line.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text);

// Before the toolkit starts: keeps a copy of standard error for the program's own line and points
// descriptor 2 at /dev/null.
void SilenceToolkitOutput();

// Once the toolkit runs: an exit that the program did not announce with EndingOnPurpose means the
// toolkit gave up on a broken display; it says so and ends with status 1.
void ReportUnplannedExits();
void EndingOnPurpose();

}  // namespace digitmosaic
