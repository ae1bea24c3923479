// What the probes share: a failure is one line and status 2, and the program being measured is
// stopped on the way out; and whether a saver's first cells show yet, on the top row or the
// middle row of the root window (a raster picture starts at the top, a spiral in the middle).
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace digitmosaic::bench {

inline const char* probeName = "digitmosaic_probe";  // for the failure line
inline pid_t measured = -1;  // the running program, stopped if a measurement fails

[[noreturn]] inline void Fail(const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", probeName, why.c_str());
    if (measured > 0) {
        kill(measured, SIGKILL);
        waitpid(measured, nullptr, 0);
    }
    std::exit(2);
}

// True when the row shows anything but black.
inline bool RowHasColour(Display* display, int y) {
    const int width = DisplayWidth(display, DefaultScreen(display));
    XImage* row =
        XGetImage(display, DefaultRootWindow(display), 0, y, width, 1, AllPlanes, ZPixmap);
    if (row == nullptr) {
        Fail("cannot read the screen");
    }
    bool coloured = false;
    for (int x = 0; x < width && !coloured; ++x) {
        coloured = (XGetPixel(row, x, 0) & 0xFFFFFF) != 0;
    }
    XDestroyImage(row);
    return coloured;
}

inline bool FirstCellsShown(Display* display) {
    return RowHasColour(display, 0) ||
           RowHasColour(display, DisplayHeight(display, DefaultScreen(display)) / 2);
}

}  // namespace digitmosaic::bench
