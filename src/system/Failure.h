// What the program says when it cannot go on: one line on standard error, "digitmosaic: ...", and
// status 1, from any thread and from a signal handler. The line never waits: on a pipe nobody reads
// it is given up after a tenth of a second, and the process ends regardless. Once the toolkit runs,
// whatever it or the libraries under it would print goes to /dev/null, and only the program's own
// line reaches the user.
#pragma once

#include <cstddef>
#include <string>

namespace digitmosaic {

// Prints "digitmosaic: <what>" on the program's standard error and ends with status 1 at once.
// The line ends at the first newline and is cut after 240 bytes, with an ellipsis.
[[noreturn]] void Fail(const std::string& what);
[[noreturn]] void FailWithoutDisplay(const std::string& why);
// The same from a thread other than the main one, which may hold any lock, or from a signal
// handler: no allocation, no stdio.
[[noreturn]] void FailFromAnyThread(const char* what);

// Writes the text on the program's error stream without blocking, async-signal-safe.
void WriteErrorLine(const char* text, std::size_t length);

// A value quoted in a message: its first characters (40 unless told), and an ellipsis when there
// were more.
std::string Quoted(const std::string& value, std::size_t shown = 40);

// At start: descriptors 0, 1 and 2 that are closed are opened on /dev/null, so that nothing the
// process opens later (the display's socket, say) takes their place and receives what is written
// to the standard streams.
void OpenStandardStreams();

// The descriptor the program's own line goes to: standard error, or the copy kept of it. The
// toolkit's module has its own copy of this code and is handed the executable's descriptor.
int ErrorDescriptor();
void SetErrorDescriptor(int fd);
// Keeps a copy of standard error for the program's own line (once; not when no descriptor is free).
void KeepErrorStream();
// Before the toolkit starts: keeps the copy and points descriptor 2 at /dev/null.
void SilenceToolkitOutput();

}  // namespace digitmosaic
