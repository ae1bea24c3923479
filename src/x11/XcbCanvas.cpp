// Painting through the X server: a pixmap, rectangles filled by colour, strips copied.
#include "x11/XcbCanvas.h"

#include <algorithm>

namespace digitmosaic {

namespace {

const xcb_visualtype_t* FindVisual(xcb_connection_t* connection, xcb_visualid_t visual) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    for (auto screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen)) {
        for (auto d = xcb_screen_allowed_depths_iterator(screen.data); d.rem; xcb_depth_next(&d)) {
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id == visual) {
                    return v.data;
                }
            }
        }
    }
    return nullptr;
}

}  // namespace

const xcb_visualtype_t* XcbCanvas::TrueColorVisual(xcb_connection_t* connection,
                                                   xcb_visualid_t visual, std::uint8_t depth) {
    const xcb_visualtype_t* type = FindVisual(connection, visual);
    const bool usable = type && type->_class == XCB_VISUAL_CLASS_TRUE_COLOR && depth >= 15 &&
                        type->red_mask && type->green_mask && type->blue_mask;
    return usable ? type : nullptr;
}

XcbCanvas::XcbCanvas(xcb_connection_t* connection, xcb_window_t window, std::uint8_t depth,
                     const xcb_visualtype_t& visual)
    : connection_(connection),
      window_(window),
      depth_(depth),
      shifts_({visual.red_mask, visual.green_mask, visual.blue_mask}) {
    gc_ = xcb_generate_id(connection);
    // No GraphicsExpose or NoExpose events for the copies: the pixmap is always whole.
    const std::uint32_t values[] = {0, 0};
    xcb_create_gc(connection, gc_, window, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, values);
}

XcbCanvas::~XcbCanvas() {
    if (pixmap_ != 0) {
        xcb_free_pixmap(connection_, pixmap_);
    }
    xcb_free_gc(connection_, gc_);
}

void XcbCanvas::FillRectangles(std::uint32_t pixel,
                               const std::vector<xcb_rectangle_t>& rectangles) {
    xcb_change_gc(connection_, gc_, XCB_GC_FOREGROUND, &pixel);
    xcb_poly_fill_rectangle(connection_, pixmap_, gc_,
                            static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
}

bool XcbCanvas::Resize(int width, int height) {
    if (width == width_ && height == height_) {
        return true;
    }
    const std::uint32_t pixmap = xcb_generate_id(connection_);
    xcb_create_pixmap(connection_, depth_, pixmap, window_, static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height));
    const std::uint32_t old = pixmap_;
    pixmap_ = pixmap;
    FillRectangles(0,
                   {{0, 0, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)}});
    if (old != 0) {
        xcb_copy_area(connection_, old, pixmap_, gc_, 0, 0, 0, 0,
                      static_cast<std::uint16_t>(std::min(width, width_)),
                      static_cast<std::uint16_t>(std::min(height, height_)));
        xcb_free_pixmap(connection_, old);
    }
    width_ = width;
    height_ = height;
    return true;
}

void XcbCanvas::Fill(const PendingBoxes& boxes) {
    if (pixmap_ == 0) {
        return;
    }
    constexpr std::size_t kMostBatches = 16;
    for (const PendingBoxes::Fill& fill : boxes.Fills()) {
        std::size_t batch = 0;
        while (batch < used_ && batches_[batch].pixel != fill.pixel) {
            ++batch;
        }
        if (batch == used_) {
            if (used_ == kMostBatches) {
                SendBatches();
                batch = 0;
            }
            if (batch == batches_.size()) {
                batches_.emplace_back();
            }
            batches_[batch].pixel = fill.pixel;
            batches_[batch].rectangles.clear();
            used_ = batch + 1;
        }
        const Strip& s = fill.strip;
        batches_[batch].rectangles.push_back({static_cast<std::int16_t>(s.left),
                                              static_cast<std::int16_t>(s.top),
                                              static_cast<std::uint16_t>(s.right - s.left),
                                              static_cast<std::uint16_t>(s.bottom - s.top)});
    }
    SendBatches();
}

void XcbCanvas::SendBatches() {
    for (std::size_t batch = 0; batch < used_; ++batch) {
        FillRectangles(shifts_.ServerPixelOf(batches_[batch].pixel), batches_[batch].rectangles);
    }
    used_ = 0;
}

void XcbCanvas::Show(const std::vector<Strip>& strips) {
    if (pixmap_ == 0) {
        return;
    }
    for (const Strip& strip : strips) {
        const Strip s = ClippedTo(strip, width_, height_);
        if (s.left < s.right && s.top < s.bottom) {
            xcb_copy_area(connection_, pixmap_, window_, gc_, static_cast<std::int16_t>(s.left),
                          static_cast<std::int16_t>(s.top), static_cast<std::int16_t>(s.left),
                          static_cast<std::int16_t>(s.top),
                          static_cast<std::uint16_t>(s.right - s.left),
                          static_cast<std::uint16_t>(s.bottom - s.top));
        }
    }
    xcb_flush(connection_);
}

}  // namespace digitmosaic
