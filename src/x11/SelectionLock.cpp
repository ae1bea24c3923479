// The instance lock on an X display: a selection on the server.
#include "x11/SelectionLock.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "x11/XcbReply.h"

namespace digitmosaic {

namespace {

// A short, fixed-length digest of the scope (FNV-1a), so that the name stays short however long
// the variables it comes from.
std::string Digest(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

}  // namespace

SelectionLock::SelectionLock(const std::string& scope) {
    selection_ = "_DIGITMOSAIC_U";
    selection_ += std::to_string(getuid());
    if (!scope.empty()) {
        selection_ += '_';
        selection_ += Digest(scope);
    }
}

bool SelectionLock::AnotherInstanceRunning(xcb_connection_t* display) {
    if (held_) {
        return false;
    }
    const auto atom = TakeReply(xcb_intern_atom_reply(
        display,
        xcb_intern_atom(display, 0, static_cast<std::uint16_t>(selection_.size()),
                        selection_.data()),
        nullptr));
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(display)).data;
    if (!atom || !screen) {
        return false;  // no lock to be had: run
    }
    const xcb_window_t window = xcb_generate_id(display);
    const std::uint32_t values[] = {1};  // override-redirect: no manager cares for it
    xcb_create_window(display, 0, window, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      values);
    // Asking for the owner and taking the selection are one step for the server: no other
    // client runs in between.
    xcb_grab_server(display);
    const auto before = TakeReply(xcb_get_selection_owner_reply(
        display, xcb_get_selection_owner(display, atom->atom), nullptr));
    if (before && before->owner == XCB_NONE) {
        xcb_set_selection_owner(display, window, atom->atom, XCB_CURRENT_TIME);
    }
    xcb_ungrab_server(display);
    const auto after = TakeReply(xcb_get_selection_owner_reply(
        display, xcb_get_selection_owner(display, atom->atom), nullptr));
    if (after && after->owner == window) {
        held_ = true;
        return false;
    }
    xcb_destroy_window(display, window);
    xcb_flush(display);
    return after && after->owner != XCB_NONE;
}

}  // namespace digitmosaic
