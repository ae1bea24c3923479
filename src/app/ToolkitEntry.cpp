// The toolkit's module: the program on the Qt host (the about window, and the saver on Wayland),
// loaded by the process entry only when it needs the toolkit.
#include <exception>

#include "app/RunProgram.h"
#include "app/ToolkitModule.h"
#include "qt/QtHost.h"
#include "system/Failure.h"
#include "system/Watchdog.h"

extern "C" __attribute__((visibility("default"))) int digitmosaic_toolkit_main(
    int argc, char** argv, const ToolkitServices* services) {
    // The executable's line and watchdog, not this module's copies.
    digitmosaic::SetErrorDescriptor(services->errorDescriptor);
    digitmosaic::UseWatchdogOf(services->beat, services->rest);
    // The module has its own failure line, which goes where the toolkit cannot silence it.
    std::set_terminate([] { digitmosaic::Fail("out of memory"); });
    digitmosaic::QtHost host(argc, argv);
    return digitmosaic::RunProgram(host);
}
