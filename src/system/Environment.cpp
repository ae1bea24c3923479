// Reading what the process environment says about the display and the host's window.
#include "system/Environment.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>

#include "system/Failure.h"

namespace digitmosaic {

std::string UnusableAuthority() {
    const std::string path = EnvironmentValue("XAUTHORITY");
    struct stat status {};
    if (path.empty() || stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode)) {
        return {};
    }
    return "XAUTHORITY is not a regular file: \"" + Quoted(path) + "\"";
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsPrivateDirectory(const std::string& path) {
    struct stat status {};
    return !path.empty() && path.front() == '/' && lstat(path.c_str(), &status) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & 07777) == 0700;
}

// Where the Wayland display's socket is, or empty.
static std::string WaylandSocketPath() {
    const std::string name = EnvironmentValue("WAYLAND_DISPLAY");
    if (name.empty() || name.front() == '/') {
        return name;
    }
    const std::string runtime = EnvironmentValue("XDG_RUNTIME_DIR");
    return runtime.empty() ? std::string{} : runtime + "/" + name;
}

bool WaylandReachable() {
    const std::string path = WaylandSocketPath();
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool accepted = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address),
                                                sizeof address) == 0;
    if (probe >= 0) {
        close(probe);
    }
    return accepted;
}

std::string MissingDisplay() {
    const std::string wayland = EnvironmentValue("WAYLAND_DISPLAY");
    if (wayland.empty()) {
        return "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    }
    if (WaylandSocketPath().empty()) {
        return "WAYLAND_DISPLAY is set, but XDG_RUNTIME_DIR is not";
    }
    return "no Wayland display accepts at \"" + Quoted(WaylandSocketPath()) + "\"";
}

}  // namespace digitmosaic
