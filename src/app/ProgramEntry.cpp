// Process entry: picks the host (the toolkit's module for a Qt window, the bare X11 one for the
// rest), builds the program's windows on it, and hands over to Main.
#include <dlfcn.h>
#include <unistd.h>

#include <exception>
#include <string>

#include "app/RunProgram.h"
#include "app/ToolkitModule.h"
#include "system/Environment.h"
#include "system/Failure.h"
#include "system/ProcessHost.h"
#include "x11/XcbHost.h"

// The module's path from the folder of the executable, set by the build.
#ifndef DIGITMOSAIC_TOOLKIT_MODULE
#error "DIGITMOSAIC_TOOLKIT_MODULE names the toolkit module's path from the executable's folder"
#endif

namespace {

// Whether a Qt window may be shown: the about window, or the saver where it does not paint on an
// X display itself. Any other argument ends the program at once.
bool NeedsToolkit(int argc, char** argv) {
    using namespace digitmosaic;
    const HostArguments arguments = ParseHostArguments(ArgumentsOf(argc, argv));
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
    return entry(argc, argv);
}

}  // namespace

int main(int argc, char* argv[]) {
    digitmosaic::OpenStandardStreams();
    // An exception nothing caught (memory that could not be had, mostly) would abort.
    std::set_terminate([] { digitmosaic::Fail("out of memory"); });
    if (NeedsToolkit(argc, argv)) {
        return RunOnToolkit(argc, argv);
    }
    digitmosaic::XcbHost host(argc, argv);
    return digitmosaic::RunProgram(host);
}
