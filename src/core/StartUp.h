// The command line and the environment, read once at start into one value: what the program is
// asked to do, the host's window it is to paint in, and the display server it paints on.
#pragma once

#include <string>

#include "core/HostArguments.h"
#include "system/Environment.h"

namespace digitmosaic {

enum class DisplayServer { None, X11, Wayland };

struct StartUp {
    HostArguments arguments;       // with the hosts' additions after "/s" taken
    HostWindowRequest hostWindow;  // from the arguments or XSCREENSAVER_WINDOW
    DisplayServer server = DisplayServer::None;
    std::string noDisplay;  // why there is none, when server is None

    // Whether the program shows a window at all: "/s" and "/c" do, anything else ends at once.
    bool ShowsWindow() const { return arguments.argument == "/s" || arguments.argument == "/c"; }
};

// A host's window is an X window, painted on X11. Otherwise a Wayland display that can be reached
// (WAYLAND_DISPLAY names a socket that accepts) wins, whatever the session type says; then DISPLAY.
StartUp ReadStartUp(int argc, char** argv);

}  // namespace digitmosaic
