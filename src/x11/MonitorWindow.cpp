// The saver's window on one monitor: its making, its hints to a window manager, and its input.
#include "x11/MonitorWindow.h"

#include <unistd.h>

#include <array>
#include <string_view>

#include "x11/XcbReply.h"

namespace digitmosaic {

namespace {

xcb_atom_t Intern(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie) {
    const auto reply = TakeReply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

void SetProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                 xcb_atom_t type, std::uint8_t format, std::uint32_t count, const void* data) {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, format, count,
                        data);
}

void SetText(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
             xcb_atom_t type, std::string_view text) {
    SetProperty(connection, window, property, type, 8, static_cast<std::uint32_t>(text.size()),
                text.data());
}

// The server's buttons: 1 left, 2 middle, 3 right, 4 to 7 the wheel's steps, others side buttons.
Button ButtonOf(int detail) {
    switch (detail) {
        case 1:
            return Button::Left;
        case 2:
            return Button::Middle;
        case 3:
            return Button::Right;
        case 4:
        case 5:
        case 6:
        case 7:
            return Button::Wheel;
        default:
            return Button::Other;
    }
}

ButtonsHeld HeldIn(std::uint16_t state) {
    return {(state & XCB_BUTTON_MASK_1) != 0, (state & XCB_BUTTON_MASK_3) != 0,
            (state & XCB_BUTTON_MASK_2) != 0};
}

Modifiers ModifiersIn(std::uint16_t state) {
    return {(state & XCB_MOD_MASK_SHIFT) != 0, (state & XCB_MOD_MASK_CONTROL) != 0,
            (state & XCB_MOD_MASK_1) != 0};
}

// Whether a window manager runs that activates windows on request.
bool ManagerActivates(xcb_connection_t* connection, xcb_window_t root, const WindowAtoms& atoms) {
    const auto supported = TakeReply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, atoms.supported, XCB_ATOM_ATOM, 0, 4096),
        nullptr));
    if (!supported || supported->format != 32) {
        return false;
    }
    const auto* listed = static_cast<const xcb_atom_t*>(xcb_get_property_value(supported.get()));
    const int count = xcb_get_property_value_length(supported.get()) / 4;
    for (int i = 0; i < count; ++i) {
        if (listed[i] == atoms.activeWindow) {
            return true;
        }
    }
    return false;
}

// A black window over the monitor, unmapped, with the pointer hidden over it, that says when it
// is exposed, covered, mapped, moved or destroyed, and passes on keys, buttons and moves.
xcb_window_t CreateWindow(xcb_connection_t* connection, const xcb_screen_t& screen,
                          const Monitor& monitor) {
    const xcb_window_t window = xcb_generate_id(connection);
    // An empty cursor: the pointer is hidden over the window.
    const xcb_pixmap_t empty = xcb_generate_id(connection);
    xcb_create_pixmap(connection, 1, empty, screen.root, 1, 1);
    const xcb_cursor_t cursor = xcb_generate_id(connection);
    xcb_create_cursor(connection, cursor, empty, empty, 0, 0, 0, 0, 0, 0, 0, 0);
    xcb_free_pixmap(connection, empty);

    const std::uint32_t input = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS |
                                XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION;
    const std::uint32_t values[] = {screen.black_pixel,
                                    input | XCB_EVENT_MASK_EXPOSURE |
                                        XCB_EVENT_MASK_VISIBILITY_CHANGE |
                                        XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                                    cursor};
    xcb_create_window(
        connection, screen.root_depth, window, screen.root, static_cast<std::int16_t>(monitor.x),
        static_cast<std::int16_t>(monitor.y), static_cast<std::uint16_t>(monitor.width),
        static_cast<std::uint16_t>(monitor.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
        screen.root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK | XCB_CW_CURSOR, values);
    xcb_free_cursor(connection, cursor);
    return window;
}

}  // namespace

WindowAtoms WindowAtoms::Intern(xcb_connection_t* connection) {
    static constexpr std::array<std::string_view, 12> kNames = {"WM_PROTOCOLS",
                                                                "WM_DELETE_WINDOW",
                                                                "_NET_WM_STATE",
                                                                "_NET_WM_STATE_FULLSCREEN",
                                                                "_MOTIF_WM_HINTS",
                                                                "_NET_WM_NAME",
                                                                "UTF8_STRING",
                                                                "_NET_WM_WINDOW_TYPE",
                                                                "_NET_WM_WINDOW_TYPE_NORMAL",
                                                                "_NET_WM_PID",
                                                                "_NET_ACTIVE_WINDOW",
                                                                "_NET_SUPPORTED"};
    std::array<xcb_intern_atom_cookie_t, kNames.size()> cookies{};
    for (std::size_t i = 0; i < kNames.size(); ++i) {  // all asked before any answer is awaited
        cookies[i] = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(kNames[i].size()),
                                     kNames[i].data());
    }
    std::array<xcb_atom_t, kNames.size()> atoms{};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        atoms[i] = digitmosaic::Intern(connection, cookies[i]);
    }
    return {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4],  atoms[5],
            atoms[6], atoms[7], atoms[8], atoms[9], atoms[10], atoms[11]};
}

MonitorWindow::MonitorWindow(BackendEvents& events, xcb_connection_t* connection,
                             const xcb_screen_t& screen, const xcb_visualtype_t& visual,
                             const WindowAtoms& atoms, const Monitor& monitor, double dotsPerInch)
    : XcbSurface(events, connection, CreateWindow(connection, screen, monitor), screen.root_depth,
                 visual, dotsPerInch),
      atoms_(atoms),
      root_(screen.root),
      monitor_(monitor) {
    // What a window manager reads: no title bar or border, full screen, placed where asked,
    // closed by request, and named.
    SetText(connection, id_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
            std::string_view("digitmosaic\0Digit Mosaic\0", 25));
    SetText(connection, id_, atoms.name, atoms.utf8, "Digit Mosaic");
    SetText(connection, id_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "");
    SetProperty(connection, id_, atoms.protocols, XCB_ATOM_ATOM, 32, 1, &atoms.deleteWindow);
    SetProperty(connection, id_, atoms.state, XCB_ATOM_ATOM, 32, 1, &atoms.fullScreen);
    SetProperty(connection, id_, atoms.type, XCB_ATOM_ATOM, 32, 1, &atoms.normal);
    const std::uint32_t motif[5] = {2, 0, 0, 0, 0};  // decorations given: none
    SetProperty(connection, id_, atoms.motifHints, atoms.motifHints, 32, 5, motif);
    const std::uint32_t hints[9] = {1 | 2, 1, 1};  // input and initial state given: yes, normal
    SetProperty(connection, id_, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
    const auto pid = static_cast<std::uint32_t>(getpid());
    SetProperty(connection, id_, atoms.pid, XCB_ATOM_CARDINAL, 32, 1, &pid);
    Cover(monitor);
}

MonitorWindow::~MonitorWindow() { xcb_destroy_window(connection_, id_); }

void MonitorWindow::Cover(const Monitor& monitor) {
    monitor_ = monitor;
    // Position and size given by the user, kept as they are: placed where asked.
    std::uint32_t sizeHints[18] = {
        1 | 2, static_cast<std::uint32_t>(monitor.x), static_cast<std::uint32_t>(monitor.y),
        static_cast<std::uint32_t>(monitor.width), static_cast<std::uint32_t>(monitor.height)};
    sizeHints[0] |= 512;  // window gravity: static
    sizeHints[17] = XCB_GRAVITY_STATIC;
    SetProperty(connection_, id_, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18,
                sizeHints);
    const std::uint32_t geometry[] = {
        static_cast<std::uint32_t>(monitor.x), static_cast<std::uint32_t>(monitor.y),
        static_cast<std::uint32_t>(monitor.width), static_cast<std::uint32_t>(monitor.height)};
    xcb_configure_window(connection_, id_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         geometry);
    if (pending_.Grid().Width() != monitor.width || pending_.Grid().Height() != monitor.height) {
        Fit(monitor.width, monitor.height);
    }
}

void MonitorWindow::Show() {
    xcb_map_window(connection_, id_);
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection_, id_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
}

void MonitorWindow::TakeKeyboard() {
    if (mapped_) {
        Activate();
    } else {
        focusOnMap_ = true;
    }
}

void MonitorWindow::Activate() {
    // The focus is set on the window, mapped now, and a window manager is asked to make it the
    // active one too, so that it does not give the focus back to the window it had marked so.
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_POINTER_ROOT, id_, XCB_CURRENT_TIME);
    if (!ManagerActivates(connection_, root_, atoms_)) {
        return;
    }
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = id_;
    request.type = atoms_.activeWindow;
    request.data.data32[0] = 1;  // from an application
    xcb_send_event(connection_, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&request));
}

bool MonitorWindow::Handle(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7F) {
        case XCB_KEY_PRESS: {
            const auto& key = reinterpret_cast<const xcb_key_press_event_t&>(event);
            if (key.event != id_) {
                return false;
            }
            events_.KeyPressed(key.detail, ModifiersIn(key.state));
            return true;
        }
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE: {
            // Both events are laid out alike.
            const auto& button = reinterpret_cast<const xcb_button_press_event_t&>(event);
            if (button.event != id_) {
                return false;
            }
            if ((event.response_type & 0x7F) == XCB_BUTTON_PRESS) {
                events_.ButtonPressed(*this, ButtonOf(button.detail), ModifiersIn(button.state),
                                      button.event_x, button.event_y);
            } else {
                events_.ButtonReleased(*this, ButtonOf(button.detail));
            }
            return true;
        }
        case XCB_MOTION_NOTIFY: {
            const auto& motion = reinterpret_cast<const xcb_motion_notify_event_t&>(event);
            if (motion.event != id_) {
                return false;
            }
            events_.PointerMoved(*this, HeldIn(motion.state), ModifiersIn(motion.state),
                                 motion.event_x, motion.event_y);
            return true;
        }
        case XCB_CLIENT_MESSAGE: {
            const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
            if (message.window != id_) {
                return false;
            }
            if (message.type == atoms_.protocols && message.format == 32 &&
                message.data.data32[0] == atoms_.deleteWindow) {
                events_.SurfaceClosed();
            }
            return true;
        }
        case XCB_MAP_NOTIFY:
            if (focusOnMap_ &&
                reinterpret_cast<const xcb_map_notify_event_t&>(event).window == id_) {
                focusOnMap_ = false;
                mapped_ = true;
                Activate();
            }
            return XcbSurface::Handle(event);
        default:
            return XcbSurface::Handle(event);
    }
}

}  // namespace digitmosaic
