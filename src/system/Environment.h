// What the process environment tells the host: which display the saver runs on, and whether a
// screen-saver host (XScreenSaver, MATE) handed it a window to paint in. It only reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/HostArguments.h"

namespace digitmosaic {

// The host's window: named by "--window-id" after "/s" or, failing that, by XSCREENSAVER_WINDOW,
// in decimal or in hexadecimal with "0x"; with "-root" and no window named, the root window.
struct HostWindowRequest {
    std::string source;               // "--window-id" or "XSCREENSAVER_WINDOW", for messages
    std::string text;                 // the id as given, for messages
    std::optional<std::uint32_t> id;  // a valid window id, when given
    bool root = false;

    bool Given() const { return !source.empty(); }
    // In a window that is not the saver's: no pointer move, no input.
    bool Embedded() const { return Given() || root; }
};

HostWindowRequest HostWindowFrom(const HostArguments& arguments);
std::optional<std::uint32_t> ParseWindowId(const std::string& text);

// Names the place the saver runs in on its display, for the instance lock: the host's window or
// the root if there is one, else empty. The display itself is not named: the lock lives on it, so
// that ":1", "unix:1", "localhost:1" and ":1.0" are one server, one lock.
std::string InstanceScope(const HostWindowRequest& hostWindow);

// Why the X authority file cannot be read, or empty: XAUTHORITY naming something that is not a
// regular file (a device, a pipe, a folder), where the connection library would read for ever.
std::string UnusableAuthority();

// Why no display can be reached, where neither DISPLAY is set nor a Wayland display accepts.
std::string MissingDisplay();

// Whether WAYLAND_DISPLAY names a socket (absolute, or in XDG_RUNTIME_DIR) that accepts a
// connection.
bool WaylandReachable();

// The variable's value, empty when it is not set.
std::string EnvironmentValue(const char* name);

// A directory of this user's alone (mode 0700, not a link).
bool IsPrivateDirectory(const std::string& path);

}  // namespace digitmosaic
