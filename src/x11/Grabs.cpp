// Grabbing the keyboard and the pointer, tried again while another client holds them.
#include "x11/Grabs.h"

#include "x11/XcbReply.h"

namespace digitmosaic {

namespace {

constexpr auto kEvery = std::chrono::milliseconds(100);
constexpr auto kFor = std::chrono::milliseconds(2500);

}  // namespace

bool InputGrabs::Retry(xcb_window_t window, bool mapped, Clock::time_point now) {
    if (window != window_) {
        *this = InputGrabs(connection_);  // the grabs go with the window they were taken for
        window_ = window;
    }
    if (done_ || !mapped || now < next_) {
        return true;
    }
    if (next_ == Clock::time_point{}) {
        first_ = now;
    }
    next_ = now + kEvery;
    // Both asked before either answer is awaited. Every event goes to the window, which takes keys,
    // buttons and moves; the pointer may go anywhere.
    xcb_grab_keyboard_cookie_t keyboard{};
    xcb_grab_pointer_cookie_t pointer{};
    if (!keyboard_) {
        keyboard = xcb_grab_keyboard(connection_, 0, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                     XCB_GRAB_MODE_ASYNC);
    }
    if (!pointer_) {
        pointer = xcb_grab_pointer(connection_, 0, window,
                                   XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                       XCB_EVENT_MASK_POINTER_MOTION,
                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
                                   XCB_CURRENT_TIME);
    }
    if (!keyboard_) {
        const auto reply = TakeReply(xcb_grab_keyboard_reply(connection_, keyboard, nullptr));
        keyboard_ = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    }
    if (!pointer_) {
        const auto reply = TakeReply(xcb_grab_pointer_reply(connection_, pointer, nullptr));
        pointer_ = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    }
    done_ = (keyboard_ && pointer_) || now - first_ >= kFor;
    return !done_ || keyboard_ || pointer_;
}

}  // namespace digitmosaic
