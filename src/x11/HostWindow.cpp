// Painting in a host's window: checking it, following its size, repainting what it lost.
#include "x11/HostWindow.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "system/Failure.h"
#include "x11/Visuals.h"
#include "x11/XcbReply.h"

namespace digitmosaic {

namespace {

[[noreturn]] void Refuse(const std::string& source, std::uint32_t id, const char* why) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(id));
    Fail(source + " " + hex + " " + why);
}

}  // namespace

std::uint32_t HostWindow::DesktopRoot(xcb_connection_t* connection, xcb_window_t root) {
    static constexpr char kVirtualRoot[] = "__SWM_VROOT";
    const auto atom = TakeReply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, sizeof kVirtualRoot - 1, kVirtualRoot),
        nullptr));
    const auto tree =
        TakeReply(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE || !tree) {
        return root;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const auto property = TakeReply(xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, children[i], atom->atom, XCB_ATOM_WINDOW, 0, 1),
            nullptr));
        if (property && property->format == 32 &&
            xcb_get_property_value_length(property.get()) == 4) {
            return *static_cast<const xcb_window_t*>(xcb_get_property_value(property.get()));
        }
    }
    return root;
}

std::unique_ptr<HostWindow> HostWindow::Open(BackendEvents& events, xcb_connection_t* connection,
                                             std::uint32_t id, const std::string& source) {
    // Structure news (size, mapping, destruction), exposures and visibility; no input of any kind.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_EXPOSURE |
                               XCB_EVENT_MASK_VISIBILITY_CHANGE;
    const auto selected =
        xcb_change_window_attributes_checked(connection, id, XCB_CW_EVENT_MASK, &mask);
    const auto attributes = TakeReply(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, id), nullptr));
    // Asked after selecting, so a window destroyed in between is not missed.
    const auto geometry =
        TakeReply(xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr));
    if (xcb_generic_error_t* error = xcb_request_check(connection, selected)) {
        std::free(error);
        Refuse(source, id, "names no window");
    }
    if (!attributes || !geometry) {
        Refuse(source, id, "names no window");
    }
    const xcb_visualtype_t* visual =
        TrueColorVisual(connection, attributes->visual, geometry->depth);
    if (attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT || !visual) {
        Refuse(source, id, "is not a colour window");
    }
    std::unique_ptr<HostWindow> window(
        new HostWindow(events, connection, id, geometry->depth, *visual, 96));
    window->mapped_ = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    window->Fit(geometry->width, geometry->height);
    return window;
}

}  // namespace digitmosaic
