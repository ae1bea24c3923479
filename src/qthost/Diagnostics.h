// What the program says when it cannot go on: one line on standard error, "digitmosaic: ...", and
// status 1. The toolkit's own messages never reach the user: they are kept only to name the cause
// of a fatal one, and once the toolkit runs, whatever it or the libraries under it would print goes
// to /dev/null. An exit the program did not ask for (the toolkit's, after the display went away)
// is reported in the same one line, saying whether the display's connection was in fact lost.
#pragma once

#include <QtGlobal>
#include <string>

struct xcb_connection_t;

class QMessageLogContext;
class QString;

namespace digitmosaic {

// Prints "digitmosaic: <what>" on the program's standard error and ends with status 1 at once.
[[noreturn]] void Fail(const std::string& what);
[[noreturn]] void FailWithoutDisplay(const std::string& why);
// The same from a thread other than the main one, which may hold any lock: no allocation, no stdio.
[[noreturn]] void FailFromAnyThread(const char* what);

// A value quoted in a message: its first characters (40 unless told), and an ellipsis when there
// were more.
std::string Quoted(const std::string& value, std::size_t shown = 40);

// At start: descriptors 0, 1 and 2 that are closed are opened on /dev/null, so that nothing the
// process opens later (the display's socket, say) takes their place and receives what is written
// to the standard streams.
void OpenStandardStreams();

// The Qt message handler: prints nothing. A fatal message becomes FailWithoutDisplay with the first
// complaint the toolkit made, which names the cause ("could not connect to display :1", say); a
// thread the toolkit could not start ends the program with one line at once; the
// Wayland client's warning that its connection broke (it ends the process right after, past any
// exit hook) becomes the lost-display line.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text);

// Before the toolkit starts: keeps a copy of standard error for the program's own line and points
// descriptor 2 at /dev/null.
void SilenceToolkitOutput();

// Once the toolkit runs: an exit that the program did not announce with EndingOnPurpose means the
// toolkit gave up; it says why in one line and ends with status 1: the display's connection lost
// when the X connection given (if any) has in fact failed, else the toolkit's first complaint.
void ReportUnplannedExits(xcb_connection_t* display);
void EndingOnPurpose();

}  // namespace digitmosaic
