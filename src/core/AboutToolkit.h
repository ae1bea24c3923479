// The about window's toolkit, behind an interface with no toolkit type: the saver core asks it to
// show and close the window, to beep, and to run until the window goes. It lives in a module of
// its own that only "/c" loads, so that the saver never maps the toolkit's libraries.
#pragma once

#include "host/HostServices.h"

namespace digitmosaic {

class AboutToolkit {
  public:
    virtual ~AboutToolkit() = default;

    // Shows the window (made on first use) and returns once it is on screen.
    virtual void Open(AboutWindowEvents& events) = 0;
    virtual void Close() = 0;
    virtual void Beep() = 0;
    // Runs the toolkit's event loop while the window is open; the exit status.
    virtual int RunWhileOpen() = 0;
};

// What the executable lends the module, which links its own copy of the process's matters: the
// descriptor of the program's failure line, and the executable's watchdog, running since the start.
struct ToolkitLink {
    int errorDescriptor;
    void (*beat)();
    void (*rest)(int descriptor);
};

}  // namespace digitmosaic

// The module's one export: the toolkit started, or a failure line and status 1.
extern "C" digitmosaic::AboutToolkit* digitmosaic_about_toolkit(
    int& argc, char** argv, const digitmosaic::ToolkitLink& link);
using AboutToolkitEntry = decltype(&digitmosaic_about_toolkit);
inline constexpr char kAboutToolkitEntry[] = "digitmosaic_about_toolkit";
