// What the process environment tells the host: which display the saver runs on, and whether a
// screen-saver host (XScreenSaver, MATE) handed it a window to paint in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace digitmosaic {

// The host's window from XSCREENSAVER_WINDOW, in decimal or in hexadecimal with "0x".
struct HostWindowRequest {
    bool given = false;               // the variable is set and not empty
    std::optional<std::uint32_t> id;  // a valid window id, when given
    std::string text;                 // the variable as it stands, for messages
};

HostWindowRequest HostWindowFromEnvironment();
std::optional<std::uint32_t> ParseWindowId(const std::string& text);

// Names the place the saver runs in, for the instance lock: the display (":1" and ":1.0" are
// the same one), the Wayland display, and the host's window if there is one.
std::string InstanceScope(const HostWindowRequest& hostWindow);

}  // namespace digitmosaic
