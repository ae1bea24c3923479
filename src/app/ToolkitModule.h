// Where the toolkit's module is and what it offers: the Qt libraries are loaded only by the
// processes that show a Qt window, so that the saver on an X display starts without them.
#pragma once

#include "system/Watchdog.h"

// What the executable hands to the module, which links its own copy of the process's matters: the
// executable's watchdog, running since the start, and the descriptor of the program's own line.
struct ToolkitServices {
    digitmosaic::WatchdogBeatCall beat;
    digitmosaic::WatchdogRestCall rest;
    int errorDescriptor;
};

// The module's entry: runs the program on the Qt host and returns the exit status.
extern "C" int digitmosaic_toolkit_main(int argc, char** argv, const ToolkitServices* services);
using ToolkitMain = decltype(&digitmosaic_toolkit_main);
inline constexpr char kToolkitMain[] = "digitmosaic_toolkit_main";
