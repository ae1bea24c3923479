// The program's entry: one argument decides what it does.
#include "startup/Main.h"

#include <cmath>
#include <limits>

namespace digitmosaic {

namespace {

// Rounds to the nearest 32-bit integer, ties to even, saturating at the type's limits.
std::int32_t ToInt32(float value) {
    constexpr double kLow = std::numeric_limits<std::int32_t>::min();
    constexpr double kHigh = std::numeric_limits<std::int32_t>::max();
    if (!(value > kLow)) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value >= kHigh) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(std::nearbyint(static_cast<double>(value)));
}

}  // namespace

void Main(HostServices& host, form1& saver, about& aboutBox) {
    if (host.AnotherInstanceRunning()) {
        host.EndProgram();
    }
    const std::string argument = host.ArgumentString();
    if (argument == "/c") {
        host.OpenWindow(aboutBox);
        host.SystemBeep();
        return;
    }
    if (argument != "/s") {
        host.EndProgram();
    }
    // The screen's size in twips, taken as pixels: the pointer is clamped into the
    // bottom-right corner, out of the picture's way.
    host.SetCursorPos(ToInt32(host.ScreenWidthTwips()), ToInt32(host.ScreenHeightTwips()));
    host.OpenWindow(saver);
}

}  // namespace digitmosaic
