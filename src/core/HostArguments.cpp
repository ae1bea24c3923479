// The host's window from the arguments and XSCREENSAVER_WINDOW, and the instance lock's scope.
#include "core/HostArguments.h"

#include "system/Environment.h"

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

}  // namespace digitmosaic
