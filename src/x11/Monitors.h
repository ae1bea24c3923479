// What the X server says of its monitors: where each one lies on the screen, which is the primary,
// how often it refreshes, and the desktop's logical dots per inch (Xft.dpi, for twips).
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace digitmosaic {

struct Monitor {
    std::uint32_t name = 0;  // the server's atom for it ("DP-1"), 0 for the whole screen
    int x = 0, y = 0, width = 0, height = 0;
    bool primary = false;
    std::chrono::nanoseconds refresh{};  // one refresh; zero where the server does not say

    bool SamePlace(const Monitor& other) const {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
};

// The active monitors of the screen whose root is given, the primary one first; the whole screen as
// one monitor where the server lists none (no RandR 1.5). Never empty.
std::vector<Monitor> ListMonitors(xcb_connection_t* connection, const xcb_screen_t& screen);

// One refresh of a mode of the pixel clock (in Hz) and the total pixels across and lines down;
// zero where any is zero.
std::chrono::nanoseconds RefreshOfMode(std::uint32_t dotClock, std::uint16_t htotal,
                                       std::uint16_t vtotal);

// Asks the server to say when monitors come, go or change (as RandR notifications).
void WatchMonitors(xcb_connection_t* connection, const xcb_screen_t& screen);
// Whether the event is such a notification.
bool MonitorsChanged(xcb_connection_t* connection, const xcb_generic_event_t& event);

// The desktop's Xft.dpi resource where it is set, else 96.
double LogicalDotsPerInch(xcb_connection_t* connection, const xcb_screen_t& screen);

}  // namespace digitmosaic
