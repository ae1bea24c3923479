// Reading what the process environment says about the display and the host's window.
#include "system/Environment.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>

#include "system/Failure.h"

namespace digitmosaic {

std::optional<std::uint32_t> ParseWindowId(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    }
    // X resource ids have 29 bits; 0 is None.
    if (value == 0 || value >= (std::uint64_t{1} << 29)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

HostWindowRequest HostWindowFrom(const HostArguments& arguments) {
    HostWindowRequest request;
    request.root = arguments.root;
    if (arguments.windowId) {
        request.source = "--window-id";
        request.text = *arguments.windowId;
    } else if (const std::string variable = EnvironmentValue("XSCREENSAVER_WINDOW");
               !variable.empty()) {
        request.source = "XSCREENSAVER_WINDOW";
        request.text = variable;
    }
    if (request.Given()) {
        request.id = ParseWindowId(request.text);
    }
    return request;
}

std::string InstanceScope(const HostWindowRequest& hostWindow) {
    if (hostWindow.id) {
        return "window" + std::to_string(*hostWindow.id);
    }
    return hostWindow.root && !hostWindow.Given() ? "root" : "";
}

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
