#include "qthost/ForeignWindow.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "qthost/Diagnostics.h"

namespace digitmosaic {

namespace {

[[noreturn]] void Refuse(std::uint32_t id, const char* why) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(id));
    Fail(std::string("XSCREENSAVER_WINDOW ") + hex + " " + why);
}

template <typename Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
Owned<Reply> Take(Reply* reply) {
    return Owned<Reply>(reply, &std::free);
}

// True when the window's pixels are 32 bits of 0x00RRGGBB in the client's byte order: then
// the canvas's lines go to the server as they are.
bool TakesCanvasPixels(xcb_connection_t* connection, xcb_visualid_t visual, std::uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        return false;
    }
    bool thirtyTwoBits = false;
    for (auto format = xcb_setup_pixmap_formats_iterator(setup); format.rem;
         xcb_format_next(&format)) {
        thirtyTwoBits |= format.data->depth == depth && format.data->bits_per_pixel == 32;
    }
    for (auto screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen)) {
        for (auto d = xcb_screen_allowed_depths_iterator(screen.data); d.rem; xcb_depth_next(&d)) {
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id == visual) {
                    return thirtyTwoBits && v.data->red_mask == 0xFF0000U &&
                           v.data->green_mask == 0xFF00U && v.data->blue_mask == 0xFFU;
                }
            }
        }
    }
    return false;
}

}  // namespace

ForeignWindow::ForeignWindow(SaverWindowEvents& events, xcb_connection_t* connection,
                             std::uint32_t id)
    : events_(events), connection_(connection), id_(id) {
    // Structure news (size, destruction) and exposures; no input of any kind.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_EXPOSURE;
    const auto selected =
        xcb_change_window_attributes_checked(connection, id, XCB_CW_EVENT_MASK, &mask);
    const auto attributes = Take(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, id), nullptr));
    // Asked after selecting, so a window destroyed in between is not missed.
    const auto geometry =
        Take(xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr));
    if (xcb_generic_error_t* error = xcb_request_check(connection, selected)) {
        std::free(error);
        Refuse(id, "names no window");
    }
    if (!attributes || !geometry) {
        Refuse(id, "names no window");
    }
    if (attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT ||
        !TakesCanvasPixels(connection, attributes->visual, geometry->depth)) {
        Refuse(id, "is not a 24-bit colour window");
    }
    depth_ = geometry->depth;
    gc_ = xcb_generate_id(connection);
    xcb_create_gc(connection, gc_, id, 0, nullptr);
    // Requests are limited in size: leave room for the header of a PutImage.
    mostBytes_ = std::size_t{xcb_get_maximum_request_length(connection)} * 4 - 64;
    Fit(geometry->width, geometry->height);
}

ForeignWindow::~ForeignWindow() {
    if (gc_ != 0) {
        xcb_free_gc(connection_, gc_);
    }
}

void ForeignWindow::Fit(int width, int height) {
    if (canvas_.width() == width && canvas_.height() == height) {
        return;
    }
    pending_.FillInto(canvas_);  // what was drawn for the old size goes in first
    canvas_ = Refitted(canvas_, width, height);
    pending_.Grid().Resize(width, height, 96, 96);
    pending_.Clear();
    pending_.MarkAll();
}

void ForeignWindow::SetLogicalScale(double x1, double y1, double x2, double y2) {
    pending_.Grid().SetLogicalScale(x1, y1, x2, y2);
}

void ForeignWindow::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    pending_.Draw(x, y, dx, dy, color);
}

void ForeignWindow::Present() {
    pending_.FillInto(canvas_);
    for (const Strip& strip : pending_.Strips()) {
        const Strip shown = ClippedTo(strip, canvas_.width(), canvas_.height());
        if (shown.left < shown.right && shown.top < shown.bottom) {
            Put(shown);
        }
    }
    pending_.Clear();
    xcb_flush(connection_);
}

void ForeignWindow::Put(const Strip& strip) {
    const int width = strip.right - strip.left;
    const std::size_t lineBytes = std::size_t(width) * 4;
    const int linesPerRequest = std::max(1, static_cast<int>(mostBytes_ / lineBytes));
    for (int top = strip.top; top < strip.bottom; top += linesPerRequest) {
        const int lines = std::min(linesPerRequest, strip.bottom - top);
        rows_.resize(std::size_t(width) * std::size_t(lines));
        for (int line = 0; line < lines; ++line) {
            const auto* source =
                reinterpret_cast<const std::uint32_t*>(canvas_.constScanLine(top + line));
            std::memcpy(rows_.data() + std::size_t(line) * std::size_t(width), source + strip.left,
                        lineBytes);
        }
        xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, id_, gc_, std::uint16_t(width),
                      std::uint16_t(lines), std::int16_t(strip.left), std::int16_t(top), 0, depth_,
                      std::uint32_t(rows_.size() * 4),
                      reinterpret_cast<const std::uint8_t*>(rows_.data()));
    }
}

bool ForeignWindow::Handle(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7F) {
        case XCB_CONFIGURE_NOTIFY: {
            const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
            if (configure.window != id_) {
                return false;
            }
            Fit(configure.width, configure.height);
            return true;
        }
        case XCB_EXPOSE: {
            const auto& expose = reinterpret_cast<const xcb_expose_event_t&>(event);
            if (expose.window != id_) {
                return false;
            }
            pending_.Mark(
                Strip{expose.x, expose.y, expose.x + expose.width, expose.y + expose.height});
            return true;
        }
        case XCB_DESTROY_NOTIFY: {
            const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
            if (destroyed.window != id_) {
                return false;
            }
            bool cancel = false;
            events_.Form_Unload(cancel);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace digitmosaic
