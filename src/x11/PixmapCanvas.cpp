// Painting through the X server: a pixmap, rectangles filled by colour, strips copied.
#include "x11/PixmapCanvas.h"

#include <algorithm>

#include "x11/Visuals.h"

namespace digitmosaic {

PixmapCanvas::PixmapCanvas(xcb_connection_t* connection, xcb_window_t window, std::uint8_t depth,
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

PixmapCanvas::~PixmapCanvas() {
    if (pixmap_ != 0) {
        xcb_free_pixmap(connection_, pixmap_);
    }
    xcb_free_gc(connection_, gc_);
}

void PixmapCanvas::FillRectangles(std::uint32_t pixel,
                                  const std::vector<xcb_rectangle_t>& rectangles) {
    xcb_change_gc(connection_, gc_, XCB_GC_FOREGROUND, &pixel);
    xcb_poly_fill_rectangle(connection_, pixmap_, gc_,
                            static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
}

bool PixmapCanvas::Resize(int width, int height) {
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

void PixmapCanvas::Fill(const PendingBoxes& boxes) {
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

void PixmapCanvas::SendBatches() {
    for (std::size_t batch = 0; batch < used_; ++batch) {
        FillRectangles(shifts_.ServerPixelOf(batches_[batch].pixel), batches_[batch].rectangles);
    }
    used_ = 0;
}

void PixmapCanvas::Show(const std::vector<Strip>& strips) {
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
