// A crash told in one line: the fault signals caught on a stack of their own, so that a stack that
// overflowed is reported too, with one line on the program's error stream and status 1, never a
// core dump or a silent death.
#pragma once

namespace digitmosaic {

// Installs the handlers for SIGSEGV, SIGBUS, SIGABRT, SIGFPE and SIGILL, for the whole process;
// the handler's stack is the calling thread's (the main one). Not in sanitizer builds, whose own
// reports say more. Threads started later get a stack of at least 1 MiB, whatever the stack limit.
void ReportCrashesInOneLine();

}  // namespace digitmosaic
