// Process entry: picks the host (the toolkit's module for a Qt window, the bare X11 one for the
// rest), builds the program's windows on it, and hands over to Main.
#include <dlfcn.h>
#include <unistd.h>

#include <exception>
#include <string>

#include "app/RunProgram.h"
#include "app/ToolkitModule.h"
#include "system/Crash.h"
#include "system/Environment.h"
#include "system/Failure.h"
#include "system/ProcessHost.h"
#include "system/Watchdog.h"
#include "x11/XcbHost.h"

// The module's path from the folder of the executable, set by the build.
#ifndef DIGITMOSAIC_TOOLKIT_MODULE
#error "DIGITMOSAIC_TOOLKIT_MODULE names the toolkit module's path from the executable's folder"
#endif

namespace {

// Whether a Qt window may be shown: the about window, or the saver where it does not paint on an
// X display itself. Any other argument ends the program at once.
bool NeedsToolkit(const digitmosaic::HostArguments& arguments) {
    using namespace digitmosaic;
    return arguments.argument == "/c" ||
           (arguments.argument == "/s" && !SaverPaintsOnX11(HostWindowFrom(arguments)));
}

// The folder of this executable, with its final slash; empty when the system does not say.
std::string ExecutableFolder() {
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        return {};
    }
    path.resize(static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

int RunOnToolkit(int argc, char** argv) {
    const std::string folder = ExecutableFolder();
    if (folder.empty()) {
        // Never a path from the working folder, where anyone's module could lie.
        digitmosaic::Fail("cannot find the toolkit's module: /proc/self/exe cannot be read");
    }
    const std::string module = folder + DIGITMOSAIC_TOOLKIT_MODULE;
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto* entry = handle ? reinterpret_cast<ToolkitMain>(dlsym(handle, kToolkitMain)) : nullptr;
    if (!entry) {
        const char* why = dlerror();
        digitmosaic::Fail("cannot load the toolkit's module: " + std::string(why ? why : module));
    }
    digitmosaic::KeepErrorStream();  // before the toolkit points descriptor 2 elsewhere
    const ToolkitServices services{digitmosaic::WatchdogBeat, digitmosaic::WatchdogRest,
                                   digitmosaic::ErrorDescriptor()};
    return entry(argc, argv, &services);
}

// The program once a crash is told in one line.
[[gnu::noinline]] int Run(int argc, char** argv) {
    using namespace digitmosaic;
    OpenStandardStreams();
    // An exception nothing caught (memory that could not be had, mostly) would abort.
    std::set_terminate([] { Fail("out of memory"); });
    const HostArguments arguments = ParseHostArguments(ArgumentsOf(argc, argv));
    if (arguments.argument == "/s" || arguments.argument == "/c") {
        // Both read the X authority file when they connect: one that never ends would hold them.
        if (const std::string why = UnusableAuthority(); !why.empty()) {
            FailWithoutDisplay(why);
        }
        // Watched from before the display is touched, so that a connection that never completes
        // ends too.
        if (!StartWatchdog(kWatchdogPatience)) {
            Fail("cannot start the watchdog thread (out of memory or threads?)");
        }
    }
    if (NeedsToolkit(arguments)) {
        return RunOnToolkit(argc, argv);
    }
    XcbHost host(argc, argv);
    return RunProgram(host);
}

}  // namespace

int main(int argc, char* argv[]) {
    // First, in a frame of its own that takes next to no stack: under a small stack limit little
    // is left by the time the process gets here.
    digitmosaic::ReportCrashesInOneLine();
    return Run(argc, argv);
}
