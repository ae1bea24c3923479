// The command line as the program sees it, once the arguments that screen-saver hosts append after
// "/s" are taken: a window to paint in (XScreenSaver's settings preview passes "--window-id ID",
// others XSCREENSAVER_WINDOW) and the classic hacks' "-root". No toolkit type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace digitmosaic {

struct HostArguments {
    std::string argument;                 // what ArgumentString gives
    std::optional<std::string> windowId;  // the text after --window-id or -window-id
    bool root = false;                    // -root or --root
};

// The arguments without the program's name. After exactly "/s", each of "--window-id ID" (or
// "-window-id ID") and "-root" (or "--root") may follow once, in any order; then the argument is
// "/s" alone. Anything else leaves every argument joined by blanks, and nothing taken.
inline HostArguments ParseHostArguments(const std::vector<std::string>& args) {
    HostArguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        parsed.argument += (i ? " " : "") + args[i];
    }
    if (args.empty() || args.front() != "/s") {
        return parsed;
    }
    HostArguments taken{"/s", std::nullopt, false};
    for (std::size_t i = 1; i < args.size(); ++i) {
        if ((args[i] == "--window-id" || args[i] == "-window-id") && !taken.windowId &&
            i + 1 < args.size()) {
            taken.windowId = args[++i];
        } else if ((args[i] == "-root" || args[i] == "--root") && !taken.root) {
            taken.root = true;
        } else {
            return parsed;
        }
    }
    return taken;
}

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

}  // namespace digitmosaic
