// Reading the start-up value: the arguments once, the environment once.
#include "core/StartUp.h"

#include <vector>

namespace digitmosaic {

StartUp ReadStartUp(int argc, char** argv) {
    StartUp startUp;
    startUp.arguments = ParseHostArguments(std::vector<std::string>(argv + 1, argv + argc));
    startUp.hostWindow = HostWindowFrom(startUp.arguments);
    if (!startUp.ShowsWindow()) {
        return startUp;  // any other argument ends the program without touching a display
    }
    const bool x11 = !EnvironmentValue("DISPLAY").empty();
    if (startUp.hostWindow.Embedded() && startUp.arguments.argument == "/s") {
        if (x11) {
            startUp.server = DisplayServer::X11;
        } else {
            startUp.noDisplay = "a host's window is an X window, but DISPLAY is not set";
        }
    } else if (WaylandReachable()) {
        startUp.server = DisplayServer::Wayland;
    } else if (x11) {
        startUp.server = DisplayServer::X11;
    } else {
        startUp.noDisplay = MissingDisplay();
    }
    return startUp;
}

}  // namespace digitmosaic
