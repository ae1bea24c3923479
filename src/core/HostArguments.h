// The command line as the program sees it, once the host has taken the arguments that screen-saver
// hosts append after "/s": a window to paint in (XScreenSaver's settings preview passes
// "--window-id ID") and the classic hacks' "-root". No toolkit type.
#pragma once

#include <cstddef>
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

}  // namespace digitmosaic
