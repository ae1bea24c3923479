// What the process environment says about the displays: which one can be reached, why none can,
// and whether the X authority file can be read. It only reads.
#pragma once

#include <string>

namespace digitmosaic {

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
