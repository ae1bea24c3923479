// A rectangle of device pixels, the unit in which boxes are filled and changes are shown.
#pragma once

#include <algorithm>

namespace digitmosaic {

// Right and bottom exclusive.
struct Strip {
    int left;
    int top;
    int right;
    int bottom;

    bool operator==(const Strip&) const = default;
};

inline Strip United(const Strip& a, const Strip& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

inline Strip ClippedTo(const Strip& strip, int width, int height) {
    return {std::max(strip.left, 0), std::max(strip.top, 0), std::min(strip.right, width),
            std::min(strip.bottom, height)};
}

}  // namespace digitmosaic
