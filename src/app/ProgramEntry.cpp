// Process entry: reads the start-up value, starts the watchdog, picks the backend for the display
// server, builds the program's windows on the saver core, and hands over to Main.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "core/SaverCore.h"
#include "core/StartUp.h"
#include "picture/PictureState.h"
#include "saver/form1.h"
#include "startup/Main.h"
#include "startup/about.h"
#include "system/Crash.h"
#include "system/Failure.h"
#include "system/Watchdog.h"
#include "wayland/WaylandBackend.h"
#include "x11/X11Backend.h"

// The module's path from the folder of the executable, set by the build.
#ifndef DIGITMOSAIC_TOOLKIT_MODULE
#error "DIGITMOSAIC_TOOLKIT_MODULE names the toolkit module's path from the executable's folder"
#endif

namespace {

using namespace digitmosaic;

std::unique_ptr<Backend> BackendFor(const StartUp& startUp) {
    switch (startUp.server) {
        case DisplayServer::X11:
            return std::make_unique<X11Backend>(startUp);
        case DisplayServer::Wayland:
            return std::make_unique<WaylandBackend>();
        case DisplayServer::None:
            break;
    }
    return nullptr;
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

// The about window's toolkit, from its module beside the executable, on the display server the
// saver would paint on.
std::unique_ptr<AboutToolkit> LoadAboutToolkit(int& argc, char** argv, DisplayServer server) {
    const std::string folder = ExecutableFolder();
    if (folder.empty()) {
        // Never a path from the working folder, where anyone's module could lie.
        Fail("cannot find the toolkit's module: /proc/self/exe cannot be read");
    }
    const std::string module = folder + DIGITMOSAIC_TOOLKIT_MODULE;
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto* entry =
        handle ? reinterpret_cast<AboutToolkitEntry>(dlsym(handle, kAboutToolkitEntry)) : nullptr;
    if (!entry) {
        const char* why = dlerror();
        Fail("cannot load the toolkit's module: " + std::string(why ? why : module));
    }
    setenv("QT_QPA_PLATFORM", server == DisplayServer::Wayland ? "wayland" : "xcb", 0);
    // Whatever the toolkit or the libraries under it would print goes to /dev/null; the
    // program's own line still reaches the user.
    SilenceToolkitOutput();
    return std::unique_ptr<AboutToolkit>(
        entry(argc, argv, ToolkitLink{ErrorDescriptor(), &WatchdogBeat, &WatchdogRest}));
}

// The program once a crash is told in one line.
[[gnu::noinline]] int Run(int argc, char** argv) {
    OpenStandardStreams();
    // An exception nothing caught (memory that could not be had, mostly) would abort.
    std::set_terminate([] { Fail("out of memory"); });
    const StartUp startUp = ReadStartUp(argc, argv);
    // Watched from before the display is touched, so that a connection that never completes ends
    // too.
    if (startUp.ShowsWindow() && !StartWatchdog(kWatchdogPatience)) {
        Fail("cannot start the watchdog thread (out of memory or threads?)");
    }
    SaverCore core(startUp, BackendFor(startUp), [&argc, argv, &startUp] {
        return LoadAboutToolkit(argc, argv, startUp.server);
    });
    PictureState state;
    form1 saver(core, state);
    about aboutBox(core);
    Main(core, saver, aboutBox);
    return core.RunWhileWindowsOpen();
}

}  // namespace

int main(int argc, char* argv[]) {
    // First, in a frame of its own that takes next to no stack: under a small stack limit little
    // is left by the time the process gets here.
    digitmosaic::ReportCrashesInOneLine();
    return Run(argc, argv);
}
