// Switching off the toolkit's optional services before it starts.
#include "toolkit/ToolkitEnvironment.h"

#include <unistd.h>

#include <QGuiApplication>
#include <cstdlib>
#include <string>

#include "system/Environment.h"

namespace digitmosaic {

namespace {

void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

// The toolkit looks in its runtime directory at start-up and creates one under TMPDIR when
// XDG_RUNTIME_DIR does not name a private directory. Point it at one that exists; failing that, at
// a TMPDIR where no directory can be made.
void ProvideRuntimeDirectory() {
    const std::string given = EnvironmentValue("XDG_RUNTIME_DIR");
    if (IsPrivateDirectory(given)) {
        return;
    }
    // A Wayland display named relative to the runtime directory keeps its full path.
    const std::string wayland = EnvironmentValue("WAYLAND_DISPLAY");
    if (!wayland.empty() && wayland.front() != '/') {
        if (given.empty()) {
            unsetenv("WAYLAND_DISPLAY");  // cannot be found anyway
        } else {
            Set("WAYLAND_DISPLAY", given + "/" + wayland);
        }
    }
    for (const std::string& candidate :
         {"/run/user/" + std::to_string(geteuid()), EnvironmentValue("HOME")}) {
        if (IsPrivateDirectory(candidate)) {
            Set("XDG_RUNTIME_DIR", candidate);
            return;
        }
    }
    unsetenv("XDG_RUNTIME_DIR");
    Set("TMPDIR", "/proc");
}

}  // namespace

void PrepareToolkitEnvironment(bool keepSessionBus) {
    if (!keepSessionBus || EnvironmentValue("DBUS_SESSION_BUS_ADDRESS").empty()) {
        Set("DBUS_SESSION_BUS_ADDRESS", "disabled:");  // no such transport: no bus, no daemon
    }
    unsetenv("AT_SPI_BUS_ADDRESS");
    Set("QT_IM_MODULE", "compose");
    Set("QT_XCB_GL_INTEGRATION", "none");
    unsetenv("QT_QPA_PLATFORMTHEME");
    // On Wayland the toolkit takes a window for hidden once the compositor has sent no frame
    // callback for a while (100 ms by default; never when this is 0), which is how the saver
    // learns that nobody can see it, an output powered off or another workspace shown.
    unsetenv("QT_WAYLAND_FRAME_CALLBACK_TIMEOUT");
    QGuiApplication::setDesktopSettingsAware(false);  // only the built-in theme
    ProvideRuntimeDirectory();
}

}  // namespace digitmosaic
