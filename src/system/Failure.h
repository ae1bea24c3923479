// What the program says when it cannot go on: one line on standard error, "digitmosaic: ...", and
// status 1, from any thread. Once the toolkit runs, whatever it or the libraries under it would
// print goes to /dev/null, and only the program's own line reaches the user.
#pragma once

#include <cstddef>
#include <string>

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

// Before the toolkit is loaded: keeps a copy of standard error for the program's own line and
// points descriptor 2 at /dev/null.
void SilenceToolkitOutput();
// Where the program's own line goes (standard error, or its copy once silenced); a module with
// its own copy of this code is told the executable's.
int ErrorDescriptor();
void UseErrorDescriptor(int descriptor);

}  // namespace digitmosaic
