// The keyboard and the pointer taken for the saver's own full-screen window, so that what the user
// types or clicks to end it never reaches the program behind, as screen savers do. Another client
// may hold them (an open menu, a game): the grabs are tried again for a short while.
#pragma once

#include <xcb/xcb.h>

#include <chrono>

namespace digitmosaic {

class InputGrabs {
  public:
    using Clock = std::chrono::steady_clock;

    explicit InputGrabs(xcb_connection_t* connection) : connection_(connection) {}

    // Called on every pump with the window that takes the input (the primary monitor's) and
    // whether it is mapped: from its mapping on, every tenth of a second, asks for what is not held
    // yet (one round trip), for at most 2.5 seconds; a new window starts afresh. The pointer grab
    // shows the window's own cursor, the empty one. False once the time is up with neither held:
    // then no input of the user's could end the saver.
    bool Retry(xcb_window_t window, bool mapped, Clock::time_point now);

  private:
    xcb_connection_t* connection_;
    xcb_window_t window_ = XCB_NONE;
    bool keyboard_ = false, pointer_ = false, done_ = false;
    Clock::time_point first_, next_;  // the first try for this window, and the next
};

}  // namespace digitmosaic
