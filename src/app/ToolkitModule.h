// Where the toolkit's module is and what it offers: the Qt libraries are loaded only by the
// processes that show a Qt window, so that the saver on an X display starts without them.
#pragma once

// The module's entry: runs the program on the Qt host and returns the exit status.
extern "C" int digitmosaic_toolkit_main(int argc, char** argv);
using ToolkitMain = decltype(&digitmosaic_toolkit_main);
inline constexpr char kToolkitMain[] = "digitmosaic_toolkit_main";
