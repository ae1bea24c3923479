// Monitors from RandR, and the desktop's dots per inch from its resources.
#include "x11/Monitors.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "x11/XcbReply.h"

namespace digitmosaic {

namespace {

// The refresh of the mode that the output's CRTC shows, from the screen's resources.
std::chrono::nanoseconds RefreshOf(xcb_connection_t* connection,
                                   const xcb_randr_get_screen_resources_current_reply_t& resources,
                                   xcb_randr_output_t output) {
    const auto info = TakeReply(xcb_randr_get_output_info_reply(
        connection, xcb_randr_get_output_info(connection, output, resources.config_timestamp),
        nullptr));
    if (!info || info->crtc == XCB_NONE) {
        return {};
    }
    const auto crtc = TakeReply(xcb_randr_get_crtc_info_reply(
        connection, xcb_randr_get_crtc_info(connection, info->crtc, resources.config_timestamp),
        nullptr));
    if (!crtc) {
        return {};
    }
    const xcb_randr_mode_info_t* modes = xcb_randr_get_screen_resources_current_modes(&resources);
    const int count = xcb_randr_get_screen_resources_current_modes_length(&resources);
    for (int i = 0; i < count; ++i) {
        const xcb_randr_mode_info_t& mode = modes[i];
        if (mode.id == crtc->mode) {
            return RefreshOfMode(mode.dot_clock, mode.htotal, mode.vtotal);
        }
    }
    return {};
}

bool HasRandr15(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection, &xcb_randr_id);
    if (!extension || !extension->present) {
        return false;
    }
    const auto version = TakeReply(xcb_randr_query_version_reply(
        connection, xcb_randr_query_version(connection, 1, 5), nullptr));
    return version && (version->major_version > 1 || version->minor_version >= 5);
}

}  // namespace

std::chrono::nanoseconds RefreshOfMode(std::uint32_t dotClock, std::uint16_t htotal,
                                       std::uint16_t vtotal) {
    if (dotClock == 0 || htotal == 0 || vtotal == 0) {
        return {};
    }
    const double hertz = static_cast<double>(dotClock) / (static_cast<double>(htotal) * vtotal);
    return std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 / hertz));
}

std::vector<Monitor> ListMonitors(xcb_connection_t* connection, const xcb_screen_t& screen) {
    std::vector<Monitor> monitors;
    if (HasRandr15(connection)) {
        const auto listed = TakeReply(xcb_randr_get_monitors_reply(
            connection, xcb_randr_get_monitors(connection, screen.root, 1), nullptr));
        const auto resources = TakeReply(xcb_randr_get_screen_resources_current_reply(
            connection, xcb_randr_get_screen_resources_current(connection, screen.root), nullptr));
        for (auto it = listed ? xcb_randr_get_monitors_monitors_iterator(listed.get())
                              : xcb_randr_monitor_info_iterator_t{};
             listed && it.rem; xcb_randr_monitor_info_next(&it)) {
            const xcb_randr_monitor_info_t& info = *it.data;
            if (info.width == 0 || info.height == 0) {
                continue;
            }
            Monitor monitor{info.name, info.x, info.y, info.width, info.height, info.primary != 0};
            if (resources && xcb_randr_monitor_info_outputs_length(it.data) > 0) {
                monitor.refresh =
                    RefreshOf(connection, *resources, *xcb_randr_monitor_info_outputs(it.data));
            }
            monitors.push_back(monitor);
        }
    }
    if (monitors.empty()) {
        monitors.push_back({0, 0, 0, screen.width_in_pixels, screen.height_in_pixels, true});
    }
    std::stable_partition(monitors.begin(), monitors.end(),
                          [](const Monitor& monitor) { return monitor.primary; });
    return monitors;
}

void WatchMonitors(xcb_connection_t* connection, const xcb_screen_t& screen) {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection, &xcb_randr_id);
    if (extension && extension->present) {
        xcb_randr_select_input(connection, screen.root,
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }
}

bool MonitorsChanged(xcb_connection_t* connection, const xcb_generic_event_t& event) {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection, &xcb_randr_id);
    if (!extension || !extension->present) {
        return false;
    }
    const int type = event.response_type & 0x7F;
    return type == extension->first_event + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
           type == extension->first_event + XCB_RANDR_NOTIFY;
}

double LogicalDotsPerInch(xcb_connection_t* connection, const xcb_screen_t& screen) {
    const auto property = TakeReply(xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, screen.root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0,
                         1 << 16),
        nullptr));
    if (!property) {
        return 96;
    }
    const std::string_view resources(
        static_cast<const char*>(xcb_get_property_value(property.get())),
        static_cast<std::size_t>(xcb_get_property_value_length(property.get())));
    constexpr std::string_view kName = "Xft.dpi:";
    for (std::size_t at = 0; at < resources.size();) {
        std::size_t end = resources.find('\n', at);
        end = end == std::string_view::npos ? resources.size() : end;
        const std::string_view line = resources.substr(at, end - at);
        if (line.starts_with(kName)) {
            const std::string value(line.substr(kName.size()));
            const double dpi = std::strtod(value.c_str(), nullptr);
            return dpi > 0 && dpi < 10000 ? dpi : 96;
        }
        at = end + 1;
    }
    return 96;
}

}  // namespace digitmosaic
