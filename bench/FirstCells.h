// What the probes read off the screen: whether a saver's first cells show yet, on the top row or
// the middle row of the root window (a raster picture starts at the top, a spiral in the middle).
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <optional>

namespace digitmosaic::bench {

// True when the row shows anything but black; nothing when the screen cannot be read.
inline std::optional<bool> RowHasColour(Display* display, int y) {
    const int width = DisplayWidth(display, DefaultScreen(display));
    XImage* row =
        XGetImage(display, DefaultRootWindow(display), 0, y, width, 1, AllPlanes, ZPixmap);
    if (row == nullptr) {
        return std::nullopt;
    }
    bool coloured = false;
    for (int x = 0; x < width && !coloured; ++x) {
        coloured = (XGetPixel(row, x, 0) & 0xFFFFFF) != 0;
    }
    XDestroyImage(row);
    return coloured;
}

// Nothing when the screen cannot be read.
inline std::optional<bool> FirstCellsShown(Display* display) {
    const auto top = RowHasColour(display, 0);
    const auto middle = RowHasColour(display, DisplayHeight(display, DefaultScreen(display)) / 2);
    if (!top || !middle) {
        return std::nullopt;
    }
    return *top || *middle;
}

}  // namespace digitmosaic::bench
